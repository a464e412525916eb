#include "convert_engine/converters/white_space.hpp"

#include <cstddef>

namespace convert_engine::converters {
namespace {

// Byte length of the White_Space character that starts at text[at], or 0.
std::size_t white_space_at(std::string_view text, std::size_t at) noexcept {
    const std::size_t left = text.size() - at;
    const auto b0 = static_cast<unsigned char>(text[at]);
    if ((b0 >= 0x09 && b0 <= 0x0D) || b0 == 0x20) return 1;
    if (left < 2) return 0;
    const auto b1 = static_cast<unsigned char>(text[at + 1]);
    if (b0 == 0xC2) return (b1 == 0x85 || b1 == 0xA0) ? 2 : 0;
    if (left < 3) return 0;
    const auto b2 = static_cast<unsigned char>(text[at + 2]);
    switch (b0) {
        case 0xE1: return (b1 == 0x9A && b2 == 0x80) ? 3 : 0;  // U+1680
        case 0xE2:
            if (b1 == 0x80) {
                // U+2000..U+200A, U+2028, U+2029, U+202F
                const bool hit = (b2 >= 0x80 && b2 <= 0x8A) || b2 == 0xA8 || b2 == 0xA9 || b2 == 0xAF;
                return hit ? 3 : 0;
            }
            return (b1 == 0x81 && b2 == 0x9F) ? 3 : 0;  // U+205F
        case 0xE3: return (b1 == 0x80 && b2 == 0x80) ? 3 : 0;  // U+3000
        default: return 0;
    }
}

// Byte length of the White_Space character that ends just before text[end],
// or 0. Lead bytes are never continuation bytes, so a match at end - 2 or
// end - 3 is a whole character of valid UTF-8.
std::size_t white_space_before(std::string_view text, std::size_t end) noexcept {
    const auto last = static_cast<unsigned char>(text[end - 1]);
    if (last < 0x80) return ((last >= 0x09 && last <= 0x0D) || last == 0x20) ? 1 : 0;
    for (std::size_t len = 2; len <= 3 && len <= end; ++len) {
        const std::size_t start = end - len;
        if (white_space_at(text.substr(0, end), start) == len) return len;
    }
    return 0;
}

}  // namespace

std::string_view trim_white_space(std::string_view text) noexcept {
    std::size_t begin = 0;
    while (begin < text.size()) {
        const std::size_t len = white_space_at(text, begin);
        if (len == 0) break;
        begin += len;
    }
    std::size_t end = text.size();
    while (end > begin) {
        const std::size_t len = white_space_before(text, end);
        if (len == 0 || end - len < begin) break;
        end -= len;
    }
    return text.substr(begin, end - begin);
}

void trim_white_space_in_place(Text& text) {
    const std::string_view kept = trim_white_space(text);
    const auto begin = static_cast<std::size_t>(kept.data() - text.data());
    text.resize(begin + kept.size());
    text.erase(0, begin);
}

}  // namespace convert_engine::converters
