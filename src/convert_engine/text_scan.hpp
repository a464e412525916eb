#pragma once

#include <cstddef>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace convert_engine {

// Fast scans for the next byte that needs attention in a run of text, 16
// bytes at a time where SSE2 is available. Each returns the offset of the
// first such byte at or after `i`, or `n` when there is none.

// A double quote, a backslash or a control byte (below 0x20): the bytes that
// end a plain run inside a JSON string, read or written.
inline std::size_t find_json_string_special(const char* p, std::size_t i, std::size_t n) noexcept {
#if defined(__SSE2__)
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i backslash = _mm_set1_epi8('\\');
    const __m128i control_max = _mm_set1_epi8(0x1F);
    while (i + 16 <= n) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        const __m128i control = _mm_cmpeq_epi8(_mm_min_epu8(v, control_max), v);
        const __m128i special =
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, backslash)), control);
        const int mask = _mm_movemask_epi8(special);
        if (mask != 0) return i + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
        i += 16;
    }
#endif
    for (; i < n; ++i) {
        const auto c = static_cast<unsigned char>(p[i]);
        if (c == '"' || c == '\\' || c < 0x20) return i;
    }
    return n;
}

// One of & < > ": the bytes HTML escaping replaces.
inline std::size_t find_html_special(const char* p, std::size_t i, std::size_t n) noexcept {
#if defined(__SSE2__)
    const __m128i amp = _mm_set1_epi8('&');
    const __m128i lt = _mm_set1_epi8('<');
    const __m128i gt = _mm_set1_epi8('>');
    const __m128i quote = _mm_set1_epi8('"');
    while (i + 16 <= n) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        const __m128i special = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, amp), _mm_cmpeq_epi8(v, lt)),
                                             _mm_or_si128(_mm_cmpeq_epi8(v, gt), _mm_cmpeq_epi8(v, quote)));
        const int mask = _mm_movemask_epi8(special);
        if (mask != 0) return i + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
        i += 16;
    }
#endif
    for (; i < n; ++i) {
        const char c = p[i];
        if (c == '&' || c == '<' || c == '>' || c == '"') return i;
    }
    return n;
}

}  // namespace convert_engine
