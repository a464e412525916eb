#include "python_module/utf8_str.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "python_module/boundary.hpp"
#include "python_module/utf8.hpp"

namespace python_module {

namespace {

// What one pass over the bytes tells: the largest byte, which fixes the
// str's kind, and the number of continuation bytes, which fixes its length.
struct Survey {
    unsigned char largest = 0;
    std::size_t continuations = 0;
};

// The length of the ASCII run the bytes start with, found 64 bytes at a
// time, then 16, then byte by byte for the last few.
std::size_t ascii_prefix(const unsigned char* data, std::size_t size) noexcept {
    std::size_t i = 0;
#if defined(__SSE2__)
    for (; i + 64 <= size; i += 64) {
        const auto* block = reinterpret_cast<const __m128i*>(data + i);
        const __m128i any = _mm_or_si128(_mm_or_si128(_mm_loadu_si128(block), _mm_loadu_si128(block + 1)),
                                         _mm_or_si128(_mm_loadu_si128(block + 2), _mm_loadu_si128(block + 3)));
        if (_mm_movemask_epi8(any) != 0) break;
    }
    for (; i + 16 <= size; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
        const auto high = static_cast<unsigned>(_mm_movemask_epi8(v));
        if (high != 0) return i + static_cast<std::size_t>(__builtin_ctz(high));
    }
#endif
    while (i < size && data[i] < 0x80) ++i;
    return i;
}

Survey survey(const unsigned char* data, std::size_t size) noexcept {
    Survey found;
    std::size_t i = 0;
#if defined(__SSE2__)
    __m128i largest = _mm_setzero_si128();
    // 0x80..0xBF are the bytes below 0xC0 as signed bytes, -64. Each lane
    // counts its own (a compare gives -1) for up to 255 blocks, then the
    // lanes are summed.
    const __m128i continuation_end = _mm_set1_epi8(-64);
    while (i + 16 <= size) {
        __m128i counts = _mm_setzero_si128();
        for (int blocks = 0; blocks < 255 && i + 16 <= size; ++blocks, i += 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
            largest = _mm_max_epu8(largest, v);
            counts = _mm_sub_epi8(counts, _mm_cmplt_epi8(v, continuation_end));
        }
        const __m128i sums = _mm_sad_epu8(counts, _mm_setzero_si128());
        found.continuations += static_cast<std::size_t>(_mm_cvtsi128_si32(sums)) +
                               static_cast<std::size_t>(_mm_cvtsi128_si32(_mm_srli_si128(sums, 8)));
    }
    alignas(16) unsigned char lanes[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), largest);
    for (const unsigned char lane : lanes) {
        if (lane > found.largest) found.largest = lane;
    }
#endif
    for (; i < size; ++i) {
        if (data[i] > found.largest) found.largest = data[i];
        if (data[i] >= 0x80 && data[i] < 0xC0) ++found.continuations;
    }
    return found;
}

#if defined(__SSE2__)
// Stores the 16 ASCII bytes of `v` as 16 characters of type Char.
template <class Char>
void store_ascii_block(Char* out, __m128i v) noexcept {
    if constexpr (sizeof(Char) == 1) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), v);
    } else {
        const __m128i zero = _mm_setzero_si128();
        const __m128i low = _mm_unpacklo_epi8(v, zero);
        const __m128i high = _mm_unpackhi_epi8(v, zero);
        if constexpr (sizeof(Char) == 2) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out), low);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8), high);
        } else {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi16(low, zero));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4), _mm_unpackhi_epi16(low, zero));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8), _mm_unpacklo_epi16(high, zero));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 12), _mm_unpackhi_epi16(high, zero));
        }
    }
}
#endif

// Decodes the bytes into exactly `length` characters of type Char; false
// when they are not well-formed UTF-8, do not come to `length` characters
// or hold one too wide for Char. Never writes past `length` characters.
template <class Char>
bool decode_into(const unsigned char* data, std::size_t size, Char* out, std::size_t length) noexcept {
    constexpr char32_t widest = sizeof(Char) == 1 ? 0xFF : sizeof(Char) == 2 ? 0xFFFF : 0x10FFFF;
    std::size_t i = 0;
    std::size_t o = 0;
    while (i < size) {
#if defined(__SSE2__)
        if (i + 16 <= size) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
            const auto high = static_cast<unsigned>(_mm_movemask_epi8(v));
            if (high == 0) {
                if (length - o < 16) return false;
                store_ascii_block(out + o, v);
                i += 16;
                o += 16;
                continue;
            }
            // The ASCII bytes before the first one that is not: stored with
            // the whole block when there is room, the rest overwritten next.
            const auto plain = static_cast<std::size_t>(__builtin_ctz(high));
            if (length - o >= 16) {
                store_ascii_block(out + o, v);
            } else {
                if (length - o < plain) return false;
                for (std::size_t k = 0; k < plain; ++k) out[o + k] = static_cast<Char>(data[i + k]);
            }
            i += plain;
            o += plain;
        }
#endif
        if (o == length) return false;
        const unsigned char lead = data[i];
        if (lead < 0x80) {
            out[o++] = static_cast<Char>(lead);
            ++i;
            continue;
        }
        // Two-byte characters (the Latin, Greek and Cyrillic letters) here,
        // the rest the long way.
        if (lead >= 0xC2 && lead <= 0xDF && size - i >= 2 && (data[i + 1] & 0xC0U) == 0x80) {
            const auto code_point = static_cast<char32_t>(((lead & 0x1FU) << 6) | (data[i + 1] & 0x3FU));
            if (code_point > widest) return false;
            out[o++] = static_cast<Char>(code_point);
            i += 2;
            continue;
        }
        char32_t code_point = 0;
        const std::size_t taken = utf8_sequence(data, size, i, code_point);
        if (taken == 0 || code_point > widest) return false;
        out[o++] = static_cast<Char>(code_point);
        i += taken;
    }
    return o == length;
}

}  // namespace

// The 3.9 headers spell this as a macro with C casts.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wold-style-cast"
void* str_data(PyObject* str) noexcept { return PyUnicode_DATA(str); }
#pragma GCC diagnostic pop

// ---- StrMemory -------------------------------------------------------------

StrMemory::~StrMemory() {
    for (PyObject* str : strs_) Py_DECREF(str);
}

void* StrMemory::do_allocate(std::size_t bytes, std::size_t alignment) {
    if (bytes < kStrBlock || alignment != alignof(char)) {
        return convert_engine::default_text_memory()->allocate(bytes, alignment);
    }
    // Room for bytes - 1 characters and the terminator: the text's own
    // capacity and terminator.
    strs_.reserve(strs_.size() + 1);
    PyObject* str = PyUnicode_New(static_cast<Py_ssize_t>(bytes - 1), 0x7F);
    if (str == nullptr) {
        PyErr_Clear();
        throw std::bad_alloc();
    }
    strs_.push_back(str);
    return str_data(str);
}

void StrMemory::do_deallocate(void* block, std::size_t bytes, std::size_t alignment) {
    PyObject* str = str_at(block);
    if (str == nullptr) {
        convert_engine::default_text_memory()->deallocate(block, bytes, alignment);
        return;
    }
    strs_.erase(std::find(strs_.begin(), strs_.end(), str));
    Py_DECREF(str);
}

PyObject* StrMemory::str_at(const void* block) const noexcept {
    const auto it = std::find_if(strs_.begin(), strs_.end(), [block](PyObject* str) { return str_data(str) == block; });
    return it == strs_.end() ? nullptr : *it;
}

PyRef StrMemory::str_of(convert_engine::Text&& text, bool ascii) {
    PyRef result;
    Py_ssize_t length = 0;
    {
        const convert_engine::Text owned(std::move(text));
        const auto* data = reinterpret_cast<const unsigned char*>(owned.data());
        PyObject* block = str_at(owned.data());
        if (block == nullptr || (!ascii && ascii_prefix(data, owned.size()) != owned.size())) {
            return new_str(owned);
        }
        // Held past the text, whose end gives its block back.
        result = PyRef::borrow(block);
        length = static_cast<Py_ssize_t>(owned.size());
    }
    // The only reference now, so the str may still change in place. A
    // failed resize leaves it as it was.
    PyObject* str = result.release();
    const int resized = PyUnicode_Resize(&str, length);
    PyRef cut = PyRef::steal(str);
    if (resized < 0) {
        str_failure();
    }
    return cut;
}

PyObject* str_from_utf8(std::string_view text) {
    const auto* data = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t size = text.size();
    const std::size_t ascii = ascii_prefix(data, size);
    if (ascii == size) {
        PyObject* str = PyUnicode_New(static_cast<Py_ssize_t>(size), 0x7F);
        if (str != nullptr && size != 0) std::memcpy(str_data(str), data, size);
        return str;
    }
    const Survey found = survey(data + ascii, size - ascii);
    // The widest lead byte fixes the kind: C2 and C3 lead the characters up
    // to U+00FF, up to EF those up to U+FFFF, the rest those beyond. Well-formed
    // text with such a lead holds a character that needs the kind, so the str
    // is in its canonical form.
    const Py_UCS4 widest = found.largest <= 0xC3 ? 0xFF : found.largest <= 0xEF ? 0xFFFF : 0x10FFFF;
    const std::size_t length = size - found.continuations;
    PyObject* str = PyUnicode_New(static_cast<Py_ssize_t>(length), widest);
    if (str == nullptr) return nullptr;
    bool decoded = false;
    void* characters = str_data(str);
    if (widest == 0xFF) {
        decoded = decode_into(data, size, static_cast<Py_UCS1*>(characters), length);
    } else if (widest == 0xFFFF) {
        decoded = decode_into(data, size, static_cast<Py_UCS2*>(characters), length);
    } else {
        decoded = decode_into(data, size, static_cast<Py_UCS4*>(characters), length);
    }
    if (decoded) return str;
    // Not well-formed: the interpreter's own decoder says how.
    Py_DECREF(str);
    return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(size), nullptr);
}

}  // namespace python_module
