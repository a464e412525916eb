#pragma once

#include <cstdint>
#include <string>
#include <variant>

#include "convert_engine/json/json_error.hpp"

namespace convert_engine::error {

// The conversions' error. Only TemplateRender is ever built; the other kinds
// exist with their display texts.
class ConvertError {
public:
    enum class Kind : std::uint8_t {
        JsonParse,
        InvalidStructure,
        UnknownCellType,
        MissingField,
        TemplateRender,
        UnsupportedFormat,
    };

    static ConvertError json_parse(json::JsonError error);
    static ConvertError invalid_structure(std::string text);
    static ConvertError unknown_cell_type(std::string text);
    static ConvertError missing_field(std::string text);
    static ConvertError template_render(std::string text);
    static ConvertError unsupported_format(std::uint32_t major, std::uint32_t minor);

    Kind kind() const noexcept { return kind_; }
    std::string display() const;

private:
    struct Version {
        std::uint32_t major;
        std::uint32_t minor;
    };
    ConvertError(Kind kind, std::variant<json::JsonError, std::string, Version> payload)
        : kind_(kind), payload_(std::move(payload)) {}

    Kind kind_;
    std::variant<json::JsonError, std::string, Version> payload_;
};

}  // namespace convert_engine::error
