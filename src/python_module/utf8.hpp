#pragma once

#include <cstddef>
#include <string_view>

namespace python_module {

// True when the bytes are well-formed UTF-8: no overlong forms, no
// surrogates, nothing above U+10FFFF, no cut sequence.
bool is_valid_utf8(std::string_view bytes) noexcept;

// The well-formed sequence (in the sense above) that starts at the byte
// data[i], 0x80 or above, of `size` bytes: its length, with its code point
// in `code_point`; 0 when it is not well-formed.
std::size_t utf8_sequence(const unsigned char* data, std::size_t size, std::size_t i, char32_t& code_point) noexcept;

}  // namespace python_module
