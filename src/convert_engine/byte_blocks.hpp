#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// The build's choice: SSE2 where the compiler targets it, unless the CMake
// option QC_SIMD is off (QC_SCALAR_BLOCKS), which builds the scalar twin as
// machines without SSE2 run it.
#if defined(__SSE2__) && !defined(QC_SCALAR_BLOCKS)
#include <emmintrin.h>
#define QC_SSE2_BLOCKS 1
#endif

namespace convert_engine {

// A double quote, a backslash or a control byte (below 0x20): the bytes that
// end a plain run inside a JSON string, read or written.
inline bool is_json_string_special(unsigned char c) noexcept { return c == '"' || c == '\\' || c < 0x20; }

// One of & < > ": the bytes HTML escaping replaces.
inline bool is_html_special(unsigned char c) noexcept { return c == '&' || c == '<' || c == '>' || c == '"'; }

// What an HTML entity adds to the length of the byte it replaces: four for
// &amp;, three for &lt; and &gt;, five for &quot;.
inline unsigned html_added_length(unsigned char c) noexcept {
    switch (c) {
        case '&': return 4;
        case '<':
        case '>': return 3;
        case '"': return 5;
        default: return 0;
    }
}

// The operations on a block of 16 bytes, in two forms with the same results:
// ScalarBlocks byte by byte, Sse2Blocks with SSE2. `Blocks` is the one this
// build runs; the scans below take the form as a parameter so the tests can
// hold one against the other. A mask has bit k set for byte k of the block.
struct ScalarBlocks {
    struct Block {
        unsigned char bytes[16];
    };
    // A running sum of what HTML escaping adds to blocks.
    using Sum = std::uint64_t;

    static Block load(const void* p) noexcept {
        Block v;
        std::memcpy(v.bytes, p, 16);
        return v;
    }
    static void store(void* p, const Block& v) noexcept { std::memcpy(p, v.bytes, 16); }
    static Block zero() noexcept { return Block{}; }
    // The 8 bytes at `a`, then the 8 at `b`.
    static Block load_halves(const void* a, const void* b) noexcept {
        Block v;
        std::memcpy(v.bytes, a, 8);
        std::memcpy(v.bytes + 8, b, 8);
        return v;
    }
    // The words `b`, `a`, `b`, `a` in memory order.
    static Block repeat_words(std::uint32_t a, std::uint32_t b) noexcept {
        Block v;
        for (std::size_t k = 0; k < 16; k += 8) {
            std::memcpy(v.bytes + k, &b, 4);
            std::memcpy(v.bytes + k + 4, &a, 4);
        }
        return v;
    }
    // The two words as the block's low and high halves, stored at once.
    static void store_words(void* p, std::uint64_t low, std::uint64_t high) noexcept {
        auto* bytes = static_cast<unsigned char*>(p);
        std::memcpy(bytes, &low, 8);
        std::memcpy(bytes + 8, &high, 8);
    }
    static Block either(const Block& a, const Block& b) noexcept {
        Block v;
        for (std::size_t k = 0; k < 16; ++k) v.bytes[k] = static_cast<unsigned char>(a.bytes[k] | b.bytes[k]);
        return v;
    }

    // `backslashes` gets the mask of the backslashes alone.
    static unsigned json_string_special_mask(const Block& v, unsigned& backslashes) noexcept {
        unsigned mask = 0;
        backslashes = 0;
        for (unsigned k = 0; k < 16; ++k) {
            if (is_json_string_special(v.bytes[k])) mask |= 1U << k;
            if (v.bytes[k] == '\\') backslashes |= 1U << k;
        }
        return mask;
    }
    static unsigned json_string_special_mask(const Block& v) noexcept {
        unsigned unused = 0;
        return json_string_special_mask(v, unused);
    }
    static unsigned html_special_mask(const Block& v) noexcept {
        unsigned mask = 0;
        for (unsigned k = 0; k < 16; ++k)
            if (is_html_special(v.bytes[k])) mask |= 1U << k;
        return mask;
    }
    static unsigned equal_mask(const Block& v, char c) noexcept {
        unsigned mask = 0;
        for (unsigned k = 0; k < 16; ++k)
            if (v.bytes[k] == static_cast<unsigned char>(c)) mask |= 1U << k;
        return mask;
    }
    // The bytes at 0x80 and above.
    static unsigned high_bit_mask(const Block& v) noexcept {
        unsigned mask = 0;
        for (unsigned k = 0; k < 16; ++k)
            if (v.bytes[k] >= 0x80) mask |= 1U << k;
        return mask;
    }

    static Sum no_sum() noexcept { return 0; }
    static Sum add_html_added(Sum sum, const Block& v) noexcept {
        for (const unsigned char c : v.bytes) sum += html_added_length(c);
        return sum;
    }
    static std::uint64_t total(Sum sum) noexcept { return sum; }

    // The 16 bytes of an ASCII block as 16 characters of type Char.
    template <class Char>
    static void widen(Char* out, const Block& v) noexcept {
        for (std::size_t k = 0; k < 16; ++k) out[k] = static_cast<Char>(v.bytes[k]);
    }

    // Over `blocks` whole blocks at `data`: raises `largest` to their largest
    // byte and adds their UTF-8 continuation bytes (0x80 to 0xBF) to
    // `continuations`.
    static void survey(const unsigned char* data, std::size_t blocks, unsigned char& largest,
                       std::size_t& continuations) noexcept {
        for (std::size_t i = 0; i < 16 * blocks; ++i) {
            if (data[i] > largest) largest = data[i];
            if (data[i] >= 0x80 && data[i] < 0xC0) ++continuations;
        }
    }
};

#if defined(QC_SSE2_BLOCKS)
struct Sse2Blocks {
    using Block = __m128i;
    using Sum = __m128i;  // two 64-bit lanes

    static Block load(const void* p) noexcept { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }
    static void store(void* p, Block v) noexcept { _mm_storeu_si128(static_cast<__m128i*>(p), v); }
    static Block zero() noexcept { return _mm_setzero_si128(); }
    static Block load_halves(const void* a, const void* b) noexcept {
        return _mm_unpacklo_epi64(_mm_loadl_epi64(static_cast<const __m128i*>(a)),
                                  _mm_loadl_epi64(static_cast<const __m128i*>(b)));
    }
    static Block repeat_words(std::uint32_t a, std::uint32_t b) noexcept {
        const auto as_int = [](std::uint32_t x) { return static_cast<int>(x); };
        return _mm_set_epi32(as_int(a), as_int(b), as_int(a), as_int(b));
    }
    static void store_words(void* p, std::uint64_t low, std::uint64_t high) noexcept {
        store(p, _mm_set_epi64x(static_cast<long long>(high), static_cast<long long>(low)));
    }
    static Block either(Block a, Block b) noexcept { return _mm_or_si128(a, b); }

    static unsigned json_string_special_mask(Block v, unsigned& backslashes) noexcept {
        const __m128i control = _mm_cmpeq_epi8(_mm_min_epu8(v, _mm_set1_epi8(0x1F)), v);
        const __m128i backslash = _mm_cmpeq_epi8(v, _mm_set1_epi8('\\'));
        const __m128i special = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('"')), backslash), control);
        backslashes = static_cast<unsigned>(_mm_movemask_epi8(backslash));
        return static_cast<unsigned>(_mm_movemask_epi8(special));
    }
    static unsigned json_string_special_mask(Block v) noexcept {
        unsigned unused = 0;
        return json_string_special_mask(v, unused);
    }
    static unsigned html_special_mask(Block v) noexcept {
        const __m128i special =
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('&')), _mm_cmpeq_epi8(v, _mm_set1_epi8('<'))),
                         _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('>')), _mm_cmpeq_epi8(v, _mm_set1_epi8('"'))));
        return static_cast<unsigned>(_mm_movemask_epi8(special));
    }
    static unsigned equal_mask(Block v, char c) noexcept {
        return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8(c))));
    }
    static unsigned high_bit_mask(Block v) noexcept { return static_cast<unsigned>(_mm_movemask_epi8(v)); }

    static Sum no_sum() noexcept { return _mm_setzero_si128(); }
    static Sum add_html_added(Sum sum, Block v) noexcept {
        const auto where = [v](char c, char added) {
            return _mm_and_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(c)), _mm_set1_epi8(added));
        };
        const __m128i added =
            _mm_or_si128(_mm_or_si128(where('&', 4), where('<', 3)), _mm_or_si128(where('>', 3), where('"', 5)));
        return _mm_add_epi64(sum, _mm_sad_epu8(added, _mm_setzero_si128()));
    }
    static std::uint64_t total(Sum sum) noexcept {
        std::uint64_t lanes[2];
        _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes), sum);
        return lanes[0] + lanes[1];
    }

    template <class Char>
    static void widen(Char* out, Block v) noexcept {
        if constexpr (sizeof(Char) == 1) {
            store(out, v);
        } else {
            const __m128i zero = _mm_setzero_si128();
            const __m128i low = _mm_unpacklo_epi8(v, zero);
            const __m128i high = _mm_unpackhi_epi8(v, zero);
            if constexpr (sizeof(Char) == 2) {
                store(out, low);
                store(out + 8, high);
            } else {
                store(out, _mm_unpacklo_epi16(low, zero));
                store(out + 4, _mm_unpackhi_epi16(low, zero));
                store(out + 8, _mm_unpacklo_epi16(high, zero));
                store(out + 12, _mm_unpackhi_epi16(high, zero));
            }
        }
    }

    static void survey(const unsigned char* data, std::size_t blocks, unsigned char& largest,
                       std::size_t& continuations) noexcept {
        __m128i most = _mm_setzero_si128();
        // 0x80..0xBF are the bytes below 0xC0 as signed bytes, -64. Each lane
        // counts its own (a compare gives -1) for up to 255 blocks, then the
        // lanes are summed.
        const __m128i continuation_end = _mm_set1_epi8(-64);
        std::size_t b = 0;
        while (b < blocks) {
            __m128i counts = _mm_setzero_si128();
            for (int run = 0; run < 255 && b < blocks; ++run, ++b) {
                const __m128i v = load(data + 16 * b);
                most = _mm_max_epu8(most, v);
                counts = _mm_sub_epi8(counts, _mm_cmplt_epi8(v, continuation_end));
            }
            const __m128i sums = _mm_sad_epu8(counts, _mm_setzero_si128());
            continuations += static_cast<std::size_t>(_mm_cvtsi128_si32(sums)) +
                             static_cast<std::size_t>(_mm_cvtsi128_si32(_mm_srli_si128(sums, 8)));
        }
        alignas(16) unsigned char lanes[16];
        _mm_store_si128(reinterpret_cast<__m128i*>(lanes), most);
        for (const unsigned char lane : lanes) {
            if (lane > largest) largest = lane;
        }
    }
};
using Blocks = Sse2Blocks;
#else
using Blocks = ScalarBlocks;
#endif

// ---- scans built on the blocks ----------------------------------------------

// The offset of the first JSON-string special byte at or after `i`, or `n`
// when there is none.
template <class B = Blocks>
std::size_t find_json_string_special(const char* p, std::size_t i, std::size_t n) noexcept {
    while (i + 16 <= n) {
        const unsigned mask = B::json_string_special_mask(B::load(p + i));
        if (mask != 0) return i + static_cast<std::size_t>(__builtin_ctz(mask));
        i += 16;
    }
    for (; i < n; ++i)
        if (is_json_string_special(static_cast<unsigned char>(p[i]))) return i;
    return n;
}

// The length of the ASCII run the bytes start with, found 64 bytes at a
// time, then 16, then byte by byte for the last few.
template <class B = Blocks>
std::size_t ascii_prefix(const unsigned char* data, std::size_t size) noexcept {
    std::size_t i = 0;
    for (; i + 64 <= size; i += 64) {
        const auto any = B::either(B::either(B::load(data + i), B::load(data + i + 16)),
                                   B::either(B::load(data + i + 32), B::load(data + i + 48)));
        if (B::high_bit_mask(any) != 0) break;
    }
    for (; i + 16 <= size; i += 16) {
        const unsigned high = B::high_bit_mask(B::load(data + i));
        if (high != 0) return i + static_cast<std::size_t>(__builtin_ctz(high));
    }
    while (i < size && data[i] < 0x80) ++i;
    return i;
}

// ---- escaping steps -----------------------------------------------------------
//
// An escaping (see text_output.hpp) gives `table`, each byte's replacement:
// its bytes in the low seven bytes (written as one 8-byte store) and its
// length in the top byte, 0 for bytes kept as they are; and `mask<B>`, the
// mask of the bytes of a block it replaces.

inline char* put_sequence(char* dst, std::uint64_t entry) noexcept {
    std::memcpy(dst, &entry, 8);
    return dst + (entry >> 56);
}

// One block of 16 bytes at `block` whose special bytes are the set bits of
// `mask`. Every run between two special bytes is copied with one 16-byte
// load and store, so 16 readable bytes must follow the block.
template <class Escaping, class B = Blocks>
char* escape_block(char* dst, const char* block, typename B::Block v, unsigned mask) noexcept {
    B::store(dst, v);
    if (mask == 0) return dst + 16;
    unsigned start = 0;
    do {
        const auto k = static_cast<unsigned>(__builtin_ctz(mask));
        dst = put_sequence(dst + (k - start), Escaping::table[static_cast<unsigned char>(block[k])]);
        start = k + 1;
        B::store(dst, B::load(block + start));
        mask &= mask - 1;
    } while (mask != 0);
    return dst + (16 - start);
}

// Copies the last `rest` (1 to 31) bytes of a text when none of them is
// special, with two overlapping loads and stores that stay inside the text;
// false, with nothing written, when one is.
template <class Escaping, class B = Blocks>
bool copy_plain_tail(char* dst, const char* src, std::size_t rest) noexcept {
    if (rest >= 16) {
        const auto a = B::load(src);
        const auto b = B::load(src + rest - 16);
        if ((Escaping::template mask<B>(a) | Escaping::template mask<B>(b)) != 0) return false;
        B::store(dst, a);
        B::store(dst + rest - 16, b);
        return true;
    }
    if (rest >= 8) {
        if (Escaping::template mask<B>(B::load_halves(src, src + rest - 8)) != 0) return false;
        std::uint64_t a;
        std::uint64_t b;
        std::memcpy(&a, src, 8);
        std::memcpy(&b, src + rest - 8, 8);
        std::memcpy(dst, &a, 8);
        std::memcpy(dst + rest - 8, &b, 8);
        return true;
    }
    if (rest >= 4) {
        std::uint32_t a;
        std::uint32_t b;
        std::memcpy(&a, src, 4);
        std::memcpy(&b, src + rest - 4, 4);
        if (Escaping::template mask<B>(B::repeat_words(a, b)) != 0) return false;
        std::memcpy(dst, &a, 4);
        std::memcpy(dst + rest - 4, &b, 4);
        return true;
    }
    for (std::size_t k = 0; k < rest; ++k)
        if (Escaping::table[static_cast<unsigned char>(src[k])] != 0) return false;
    for (std::size_t k = 0; k < rest; ++k) dst[k] = src[k];
    return true;
}

}  // namespace convert_engine
