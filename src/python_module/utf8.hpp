#pragma once

#include <string_view>

namespace python_module {

// True when the bytes are well-formed UTF-8: no overlong forms, no
// surrogates, nothing above U+10FFFF, no cut sequence.
bool is_valid_utf8(std::string_view bytes) noexcept;

}  // namespace python_module
