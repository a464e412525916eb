#include "python_module/utf8_str.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "convert_engine/byte_blocks.hpp"
#include "python_module/boundary.hpp"
#include "python_module/utf8.hpp"

namespace python_module {

namespace {

using convert_engine::ascii_prefix;
using convert_engine::Blocks;

// What one pass over the bytes tells: the largest byte, which fixes the
// str's kind, and the number of continuation bytes, which fixes its length.
struct Survey {
    unsigned char largest = 0;
    std::size_t continuations = 0;
};

Survey survey(const unsigned char* data, std::size_t size) noexcept {
    Survey found;
    const std::size_t blocks = size / 16;
    Blocks::survey(data, blocks, found.largest, found.continuations);
    for (std::size_t i = 16 * blocks; i < size; ++i) {
        if (data[i] > found.largest) found.largest = data[i];
        if (data[i] >= 0x80 && data[i] < 0xC0) ++found.continuations;
    }
    return found;
}

// Decodes the bytes into exactly `length` characters of type Char; false
// when they are not well-formed UTF-8, do not come to `length` characters
// or hold one too wide for Char. Never writes past `length` characters.
template <class Char>
bool decode_into(const unsigned char* data, std::size_t size, Char* out, std::size_t length) noexcept {
    constexpr char32_t widest = sizeof(Char) == 1 ? 0xFF : sizeof(Char) == 2 ? 0xFFFF : 0x10FFFF;
    std::size_t i = 0;
    std::size_t o = 0;
    while (i < size) {
        if (i + 16 <= size) {
            const auto v = Blocks::load(data + i);
            const unsigned high = Blocks::high_bit_mask(v);
            if (high == 0) {
                if (length - o < 16) return false;
                Blocks::widen(out + o, v);
                i += 16;
                o += 16;
                continue;
            }
            // The ASCII bytes before the first one that is not: stored with
            // the whole block when there is room, the rest overwritten next.
            const auto plain = static_cast<std::size_t>(__builtin_ctz(high));
            if (length - o >= 16) {
                Blocks::widen(out + o, v);
            } else {
                if (length - o < plain) return false;
                for (std::size_t k = 0; k < plain; ++k) out[o + k] = static_cast<Char>(data[i + k]);
            }
            i += plain;
            o += plain;
        }
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
