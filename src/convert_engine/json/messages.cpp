#include "convert_engine/json/messages.hpp"

#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>

namespace convert_engine::json {

namespace {

// The reader's messages, one per kind, "{}" standing for a detail.
//
// These texts are fixed. Callers match on them word for word, and on the
// line and column after them, so none may be reworded, re-cased or
// corrected, even where one reads oddly ("lone leading surrogate" for a
// trailing one, the name of a type no caller sees): a change here breaks
// every caller that tells failures apart by their text.
constexpr std::array<std::string_view, 26> kTexts = {
    "EOF while parsing a value",
    "EOF while parsing a string",
    "EOF while parsing an object",
    "EOF while parsing a list",
    "expected value",
    "expected ident",
    "expected `,` or `}`",
    "expected `,` or `]`",
    "expected `:`",
    "key must be a string",
    "trailing comma",
    "trailing characters",
    "recursion limit exceeded",
    "control character (\\u0000-\\u001F) found while parsing a string",
    "invalid escape",
    "lone leading surrogate in hex escape",
    "unexpected end of hex escape",
    "invalid number",
    "number out of range",
    "data did not match any variant of untagged enum {}",
    "missing field `{}`",
    "duplicate field `{}`",
    "invalid type: {}, expected {}",
    "invalid value: {}, expected {}",
    "invalid length {}, expected {}",
    "unknown variant `{}`, expected one of {}",
};
static_assert(kTexts.size() == static_cast<std::size_t>(ErrorKind::UnknownVariant) + 1);

// The number of "{}" in a pattern.
constexpr std::size_t holes(std::string_view pattern) noexcept {
    std::size_t count = 0;
    for (std::size_t at = pattern.find("{}"); at != std::string_view::npos; at = pattern.find("{}", at + 2)) ++count;
    return count;
}
static_assert([] {
    for (const std::string_view pattern : kTexts)
        if (holes(pattern) > Message::kMaxDetails) return false;
    return true;
}());

Message with_details(ErrorKind kind, std::string_view first, std::string_view second = {}) {
    return {kind, {std::string(first), std::string(second)}};
}

// The wording of record types, "{}" standing for each detail. Fixed as the
// texts above are: callers read them inside those texts.
enum class Wording : std::uint8_t { Struct, TaggedEnum, StructElements, VariantElements, Elements };
constexpr std::array<std::string_view, 5> kWordings = {
    "struct {}",
    "internally tagged enum {}",
    "struct {} with {}",
    "struct variant {}::{} with {}",
    "{} in sequence",
};
static_assert(kWordings.size() == static_cast<std::size_t>(Wording::Elements) + 1);

// `pattern` with each "{}" replaced by the next detail.
template <class Details>
std::string fill(std::string_view pattern, const Details& details) {
    std::string out;
    std::size_t size = pattern.size();
    for (const auto& detail : details) size += std::string_view(detail).size();
    out.reserve(size);
    std::size_t from = 0;
    for (const auto& detail : details) {
        const std::size_t at = pattern.find("{}", from);
        if (at == std::string_view::npos) break;
        out.append(pattern, from, at - from);
        out.append(detail);
        from = at + 2;
    }
    out.append(pattern, from);
    return out;
}

std::string worded(Wording wording, std::initializer_list<std::string_view> details) {
    return fill(kWordings[static_cast<std::size_t>(wording)], details);
}

std::string element_count(std::size_t elements) {
    return elements == 1 ? std::string("1 element") : std::to_string(elements) + " elements";
}

}  // namespace

std::string_view message_pattern(ErrorKind kind) noexcept { return kTexts[static_cast<std::size_t>(kind)]; }

std::string Message::text() const { return fill(message_pattern(kind), details); }

Message missing_field(std::string_view key) { return with_details(ErrorKind::MissingField, key); }

Message duplicate_field(std::string_view key) { return with_details(ErrorKind::DuplicateField, key); }

Message invalid_type(std::string_view unexpected, std::string_view expected) {
    return with_details(ErrorKind::InvalidType, unexpected, expected);
}

Message invalid_value(std::string_view unexpected, std::string_view expected) {
    return with_details(ErrorKind::InvalidValue, unexpected, expected);
}

Message invalid_length(std::size_t length, std::string_view expected) {
    return with_details(ErrorKind::InvalidLength, std::to_string(length), expected);
}

Message unknown_variant(std::string_view name, std::string_view names) {
    return with_details(ErrorKind::UnknownVariant, name, names);
}

Message no_variant_matched(std::string_view enum_name) { return with_details(ErrorKind::NoVariantMatched, enum_name); }

std::string expected_struct(std::string_view name) { return worded(Wording::Struct, {name}); }

std::string expected_tagged_enum(std::string_view name) { return worded(Wording::TaggedEnum, {name}); }

std::string expected_struct_elements(std::string_view name, std::size_t elements) {
    return worded(Wording::StructElements, {name, element_count(elements)});
}

std::string expected_variant_elements(std::string_view enum_name, std::string_view variant, std::size_t elements) {
    return worded(Wording::VariantElements, {enum_name, variant, element_count(elements)});
}

std::string expected_elements(std::size_t elements) { return worded(Wording::Elements, {element_count(elements)}); }

}  // namespace convert_engine::json
