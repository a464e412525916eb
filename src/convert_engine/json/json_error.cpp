#include "convert_engine/json/json_error.hpp"

namespace convert_engine::notebook {

std::string JsonError::display() const {
    if (!placed()) return message;
    std::string out = message;
    out += " at line ";
    out += std::to_string(line);
    out += " column ";
    out += std::to_string(column);
    return out;
}

}  // namespace convert_engine::notebook
