#include "convert_engine/json/json_error.hpp"

namespace convert_engine::json {

std::string JsonError::display() const {
    std::string out = message();
    if (!placed()) return out;
    out += " at line ";
    out += std::to_string(line);
    out += " column ";
    out += std::to_string(column);
    return out;
}

}  // namespace convert_engine::json
