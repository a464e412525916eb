#include "python_module/utf8.hpp"

#include <cstdint>
#include <cstring>

namespace python_module {

namespace {

constexpr std::uint64_t high_bits = 0x8080808080808080ULL;

bool in_range(unsigned char byte, unsigned char low, unsigned char high) noexcept {
    return byte >= low && byte <= high;
}

}  // namespace

std::size_t utf8_sequence(const unsigned char* data, std::size_t size, std::size_t i, char32_t& code_point) noexcept {
    const unsigned char lead = data[i];
    // Second-byte ranges exclude overlongs (E0, F0), surrogates (ED) and
    // values above U+10FFFF (F4).
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    char32_t value = 0;
    if (in_range(lead, 0xC2, 0xDF)) {
        length = 2;
        value = lead & 0x1FU;
    } else if (lead == 0xE0) {
        length = 3;
        low = 0xA0;
    } else if (lead == 0xED) {
        length = 3;
        high = 0x9F;
        value = lead & 0x0FU;
    } else if (in_range(lead, 0xE1, 0xEF)) {
        length = 3;
        value = lead & 0x0FU;
    } else if (lead == 0xF0) {
        length = 4;
        low = 0x90;
    } else if (lead == 0xF4) {
        length = 4;
        high = 0x8F;
        value = lead & 0x07U;
    } else if (in_range(lead, 0xF1, 0xF3)) {
        length = 4;
        value = lead & 0x07U;
    } else {
        return 0;
    }
    if (size - i < length || !in_range(data[i + 1], low, high)) {
        return 0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        if (k > 1 && !in_range(data[i + k], 0x80, 0xBF)) {
            return 0;
        }
        value = (value << 6) | (data[i + k] & 0x3FU);
    }
    code_point = value;
    return length;
}

bool is_valid_utf8(std::string_view bytes) noexcept {
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t size = bytes.size();
    std::size_t i = 0;
    while (i < size) {
        // Runs of ASCII, eight bytes at a time.
        while (i + 8 <= size) {
            std::uint64_t word;
            std::memcpy(&word, data + i, sizeof word);
            if ((word & high_bits) != 0) {
                break;
            }
            i += 8;
        }
        if (i >= size) {
            break;
        }
        if (data[i] < 0x80) {
            ++i;
            continue;
        }
        char32_t unused = 0;
        const std::size_t length = utf8_sequence(data, size, i, unused);
        if (length == 0) {
            return false;
        }
        i += length;
    }
    return true;
}

}  // namespace python_module
