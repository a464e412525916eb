#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace convert_engine::json {

// Every kind of failure the reader reports. The texts of these kinds live
// in one table (messages.cpp); the reader names a kind and its details,
// never a text: the text is made only when the failure is shown.
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
    // Texts with details filled in, in order.
    NoVariantMatched,  // the name of the untagged enum
    MissingField,    // key
    DuplicateField,  // key
    InvalidType,     // unexpected, expected
    InvalidValue,    // unexpected, expected
    InvalidLength,   // length, expected
    UnknownVariant,  // name, the accepted names
};

// A failure as made: its kind and the details its text needs, in order.
struct Message {
    static constexpr std::size_t kMaxDetails = 2;

    ErrorKind kind;
    std::array<std::string, kMaxDetails> details{};

    // The text of the kind, its details filled in.
    std::string text() const;
};

// The text of a kind, "{}" standing for each detail.
std::string_view message_pattern(ErrorKind kind) noexcept;

// A kind with its details.
Message missing_field(std::string_view key);
Message duplicate_field(std::string_view key);
Message invalid_type(std::string_view unexpected, std::string_view expected);
Message invalid_value(std::string_view unexpected, std::string_view expected);
Message invalid_length(std::size_t length, std::string_view expected);
// "unknown variant `<name>`, expected one of <names>".
Message unknown_variant(std::string_view name, std::string_view names);
// "data did not match any variant of untagged enum <name>".
Message no_variant_matched(std::string_view enum_name);

// How record types are worded in the `expected` detail of invalid_type and
// invalid_length: a struct and a tagged enum by name, a record's array form
// by its number of elements ("1 element", "N elements").

// "struct <name>".
std::string expected_struct(std::string_view name);
// "internally tagged enum <name>".
std::string expected_tagged_enum(std::string_view name);
// "struct <name> with N elements".
std::string expected_struct_elements(std::string_view name, std::size_t elements);
// "struct variant <enum_name>::<variant> with N elements".
std::string expected_variant_elements(std::string_view enum_name, std::string_view variant, std::size_t elements);
// "N elements in sequence".
std::string expected_elements(std::size_t elements);

}  // namespace convert_engine::json
