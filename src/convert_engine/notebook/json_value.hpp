#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <variant>
#include <vector>

namespace convert_engine::notebook {

struct JsonValue;

// Objects are kept in ascending byte order of their keys: std::string compares
// through char_traits<char>, which orders bytes as unsigned.
using JsonArray = std::vector<JsonValue>;
using JsonObject = std::map<std::string, JsonValue, std::less<>>;

// A generic JSON value. Numbers keep the kind they were read as: unsigned
// integer, negative integer, or finite double. Copying is a deep copy.
struct JsonValue {
    using Storage = std::variant<std::nullptr_t, bool, std::uint64_t, std::int64_t, double,
                                 std::string, JsonArray, JsonObject>;
    Storage value;

    JsonValue() : value(nullptr) {}
    JsonValue(std::nullptr_t) : value(nullptr) {}
    JsonValue(bool b) : value(b) {}
    JsonValue(std::uint64_t u) : value(u) {}
    JsonValue(std::int64_t i) : value(i) {}
    JsonValue(double d) : value(d) {}
    JsonValue(std::string s) : value(std::move(s)) {}
    JsonValue(const char* s) : value(std::string(s)) {}
    JsonValue(JsonArray a) : value(std::move(a)) {}
    JsonValue(JsonObject o) : value(std::move(o)) {}

    bool is_null() const noexcept { return std::holds_alternative<std::nullptr_t>(value); }
    bool is_string() const noexcept { return std::holds_alternative<std::string>(value); }
    bool is_u64() const noexcept { return std::holds_alternative<std::uint64_t>(value); }
    const std::string* as_string() const noexcept { return std::get_if<std::string>(&value); }

    friend bool operator==(const JsonValue&, const JsonValue&) = default;
};

}  // namespace convert_engine::notebook
