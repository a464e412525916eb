#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "convert_engine/json/json_value.hpp"

namespace convert_engine::json {

// How a value of the wrong kind is named in an "invalid type" or
// "invalid value" message: "null", "boolean `true`", "integer `7`",
// "floating point `1.5`", "string \"...\"", "sequence", "map".
std::string unexpected_bool(bool value);
std::string unexpected_unsigned(std::uint64_t value);
std::string unexpected_signed(std::int64_t value);
std::string unexpected_float(double value);
std::string unexpected_string(std::string_view text);
std::string unexpected_value(const JsonValue& value);

// Appends text between double quotes, escaping the quote, the backslash,
// tab, carriage return, line feed and NUL with a backslash, and every other
// character that is not printable, or that extends a grapheme, as \u{hex}.
void append_quoted(std::string& out, std::string_view text);

}  // namespace convert_engine::json
