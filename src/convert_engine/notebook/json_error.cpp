#include "convert_engine/notebook/json_error.hpp"

#include "convert_engine/notebook/model.hpp"

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

const char* cell_type_name(CellType type) noexcept {
    switch (type) {
        case CellType::Code: return "code";
        case CellType::Markdown: return "markdown";
        case CellType::Raw: return "raw";
    }
    return "code";
}

}  // namespace convert_engine::notebook
