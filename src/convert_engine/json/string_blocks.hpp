#pragma once

#include <cstddef>
#include <cstring>

#include "convert_engine/text_scan.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace convert_engine::notebook::detail {

// The reader's view of a string's bytes, 16 at a time: which of them end a
// plain run (a double quote, a backslash or a control byte below 0x20).
struct StringBlock {
    static constexpr std::size_t kSize = 16;

    // Copies the 16 bytes at `src` to `dest` whole and returns the mask of
    // the special ones, bit k for byte k; `backslashes` gets the mask of the
    // backslashes alone. Both need 16 readable or writable bytes.
    static unsigned copy(const char* src, char* dest, unsigned& backslashes) noexcept {
#if defined(__SSE2__)
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dest), v);
        return json_string_special_mask(v, backslashes);
#else
        std::memcpy(dest, src, kSize);
        unsigned mask = 0;
        backslashes = 0;
        for (std::size_t k = 0; k < kSize; ++k) {
            const auto c = static_cast<unsigned char>(src[k]);
            if (c == '"' || c == '\\' || c < 0x20) mask |= 1U << k;
            if (c == '\\') backslashes |= 1U << k;
        }
        return mask;
#endif
    }
};

}  // namespace convert_engine::notebook::detail
