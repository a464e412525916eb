#include "convert_engine/error/convert_error.hpp"

namespace convert_engine::error {

ConvertError ConvertError::json_parse(json::JsonError error) {
    return ConvertError(Kind::JsonParse, std::move(error));
}
ConvertError ConvertError::invalid_structure(std::string text) {
    return ConvertError(Kind::InvalidStructure, std::move(text));
}
ConvertError ConvertError::unknown_cell_type(std::string text) {
    return ConvertError(Kind::UnknownCellType, std::move(text));
}
ConvertError ConvertError::missing_field(std::string text) {
    return ConvertError(Kind::MissingField, std::move(text));
}
ConvertError ConvertError::template_render(std::string text) {
    return ConvertError(Kind::TemplateRender, std::move(text));
}
ConvertError ConvertError::unsupported_format(std::uint32_t major, std::uint32_t minor) {
    return ConvertError(Kind::UnsupportedFormat, Version{major, minor});
}

std::string ConvertError::display() const {
    switch (kind_) {
        case Kind::JsonParse:
            return "failed to parse notebook JSON: " + std::get<json::JsonError>(payload_).display();
        case Kind::InvalidStructure:
            return "invalid notebook structure: " + std::get<std::string>(payload_);
        case Kind::UnknownCellType:
            return "unknown cell type: " + std::get<std::string>(payload_);
        case Kind::MissingField:
            return "missing required field: " + std::get<std::string>(payload_);
        case Kind::TemplateRender:
            return "template rendering error: " + std::get<std::string>(payload_);
        case Kind::UnsupportedFormat: {
            const auto& v = std::get<Version>(payload_);
            return "unsupported notebook format: nbformat " + std::to_string(v.major) + "." +
                   std::to_string(v.minor);
        }
    }
    return {};
}

}  // namespace convert_engine::error
