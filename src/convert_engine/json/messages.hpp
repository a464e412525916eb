#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace convert_engine::notebook {

// Every kind of failure the reader reports. The texts of these kinds live
// in one table (messages.cpp); the reader names a kind, never a text.
enum class ErrorKind : std::uint8_t {
    // Fixed texts.
    EofWhileParsingValue,
    EofWhileParsingString,
    EofWhileParsingObject,
    EofWhileParsingList,
    ExpectedValue,
    ExpectedIdent,
    ExpectedCommaOrBrace,
    ExpectedCommaOrBracket,
    ExpectedColon,
    KeyMustBeString,
    TrailingComma,
    TrailingCharacters,
    RecursionLimitExceeded,
    ControlCharacterInString,
    InvalidEscape,
    LoneLeadingSurrogate,
    UnexpectedEndOfHexEscape,
    InvalidNumber,
    NumberOutOfRange,
    SourceMismatch,
    // Texts with details filled in, in order.
    MissingField,    // key
    DuplicateField,  // key
    InvalidType,     // unexpected, expected
    InvalidValue,    // unexpected, expected
    InvalidLength,   // length, expected
    UnknownVariant,  // name, the accepted names
};

// A failure as made: its kind, and the text that kind gives it.
struct Message {
    ErrorKind kind;
    std::string text;
};

// The text of a kind without details.
std::string_view message_text(ErrorKind kind) noexcept;

// A kind without details, with its text.
Message fixed_message(ErrorKind kind);
// A kind with its details.
Message missing_field(std::string_view key);
Message duplicate_field(std::string_view key);
Message invalid_type(std::string_view unexpected, std::string_view expected);
Message invalid_value(std::string_view unexpected, std::string_view expected);
Message invalid_length(std::size_t length, std::string_view expected);
// "unknown variant `<name>`, expected one of <names>".
Message unknown_variant(std::string_view name, std::string_view names);

}  // namespace convert_engine::notebook
