#include "convert_engine/json/messages.hpp"

#include <array>
#include <initializer_list>
#include <utility>

namespace convert_engine::notebook {

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
    "data did not match any variant of untagged enum CellSourceJson",
    "missing field `{}`",
    "duplicate field `{}`",
    "invalid type: {}, expected {}",
    "invalid value: {}, expected {}",
    "invalid length {}, expected {}",
    "unknown variant `{}`, expected one of {}",
};
static_assert(kTexts.size() == static_cast<std::size_t>(ErrorKind::UnknownVariant) + 1);

// The kind with its text, each "{}" of the text replaced by the next detail.
Message filled(ErrorKind kind, std::initializer_list<std::string_view> details) {
    const std::string_view text = message_text(kind);
    std::string out;
    std::size_t size = text.size();
    for (const std::string_view detail : details) size += detail.size();
    out.reserve(size);
    std::size_t from = 0;
    for (const std::string_view detail : details) {
        const std::size_t at = text.find("{}", from);
        out.append(text, from, at - from);
        out.append(detail);
        from = at + 2;
    }
    out.append(text, from);
    return {kind, std::move(out)};
}

}  // namespace

std::string_view message_text(ErrorKind kind) noexcept { return kTexts[static_cast<std::size_t>(kind)]; }

Message fixed_message(ErrorKind kind) { return {kind, std::string(message_text(kind))}; }

Message missing_field(std::string_view key) { return filled(ErrorKind::MissingField, {key}); }

Message duplicate_field(std::string_view key) { return filled(ErrorKind::DuplicateField, {key}); }

Message invalid_type(std::string_view unexpected, std::string_view expected) {
    return filled(ErrorKind::InvalidType, {unexpected, expected});
}

Message invalid_value(std::string_view unexpected, std::string_view expected) {
    return filled(ErrorKind::InvalidValue, {unexpected, expected});
}

Message invalid_length(std::size_t length, std::string_view expected) {
    return filled(ErrorKind::InvalidLength, {std::to_string(length), expected});
}

Message unknown_variant(std::string_view name, std::string_view names) {
    return filled(ErrorKind::UnknownVariant, {name, names});
}

}  // namespace convert_engine::notebook
