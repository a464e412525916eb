#pragma once

#include <string>
#include <string_view>

#include "convert_engine/text.hpp"

namespace convert_engine::converters {

// The span of `text` without the Unicode White_Space characters at either
// end (U+0009..U+000D, U+0020, U+0085, U+00A0, U+1680, U+2000..U+200A,
// U+2028, U+2029, U+202F, U+205F, U+3000). White space inside stays.
std::string_view trim_white_space(std::string_view text) noexcept;

// The same trimming done in place on an owned text.
void trim_white_space_in_place(Text& text);

}  // namespace convert_engine::converters
