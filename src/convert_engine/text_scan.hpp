#pragma once

#include <cstddef>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace convert_engine {

// Fast scans for the bytes that need attention in a run of text, 16 bytes at
// a time where SSE2 is available.

// A double quote, a backslash or a control byte (below 0x20): the bytes that
// end a plain run inside a JSON string, read or written.
inline bool is_json_string_special(unsigned char c) noexcept { return c == '"' || c == '\\' || c < 0x20; }

// One of & < > ": the bytes HTML escaping replaces.
inline bool is_html_special(unsigned char c) noexcept { return c == '&' || c == '<' || c == '>' || c == '"'; }

#if defined(__SSE2__)
// Bit k set when byte k of the block is special, in the sense of the
// matching function above.
// `backslashes` gets the mask of the backslashes alone.
inline unsigned json_string_special_mask(__m128i v, unsigned& backslashes) noexcept {
    const __m128i control = _mm_cmpeq_epi8(_mm_min_epu8(v, _mm_set1_epi8(0x1F)), v);
    const __m128i backslash = _mm_cmpeq_epi8(v, _mm_set1_epi8('\\'));
    const __m128i special = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('"')), backslash), control);
    backslashes = static_cast<unsigned>(_mm_movemask_epi8(backslash));
    return static_cast<unsigned>(_mm_movemask_epi8(special));
}

inline unsigned json_string_special_mask(__m128i v) noexcept {
    unsigned unused = 0;
    return json_string_special_mask(v, unused);
}

inline unsigned html_special_mask(__m128i v) noexcept {
    const __m128i special =
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('&')), _mm_cmpeq_epi8(v, _mm_set1_epi8('<'))),
                     _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('>')), _mm_cmpeq_epi8(v, _mm_set1_epi8('"'))));
    return static_cast<unsigned>(_mm_movemask_epi8(special));
}
#endif

// The offset of the first JSON-string special byte at or after `i`, or `n`
// when there is none.
inline std::size_t find_json_string_special(const char* p, std::size_t i, std::size_t n) noexcept {
#if defined(__SSE2__)
    while (i + 16 <= n) {
        const unsigned mask = json_string_special_mask(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i)));
        if (mask != 0) return i + static_cast<std::size_t>(__builtin_ctz(mask));
        i += 16;
    }
#endif
    for (; i < n; ++i)
        if (is_json_string_special(static_cast<unsigned char>(p[i]))) return i;
    return n;
}

}  // namespace convert_engine
