#pragma once

#include <bit>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "convert_engine/byte_blocks.hpp"
#include "convert_engine/json/arena.hpp"


namespace convert_engine::json {

// A string in 16 bytes: up to 15 bytes are held in place, a longer text on
// the heap (or in an arena, given back with it) at its exact size. Object
// keys and string values are mostly short, and a std::string takes twice the
// room. Compares as unsigned bytes, like std::string. Moving it is a plain
// copy of its 16 bytes; a copy's longer text is on the heap.
class CompactString {
public:
    static constexpr std::size_t kInline = 15;

    CompactString() noexcept { store(0, 0); }
    CompactString(std::string_view text) { assign(text, nullptr); }
    // A longer text goes to `arena` when there is one.
    CompactString(std::string_view text, Arena* arena) { assign(text, arena); }
    // A longer text is pointed at, not copied: for a part of a text that
    // outlives the string.
    static CompactString borrowed(std::string_view text) {
        if (text.size() <= kInline) return CompactString(text);  // held in place
        CompactString s;
        s.store(reinterpret_cast<std::uintptr_t>(text.data()),
                static_cast<std::uint64_t>(text.size()) | std::uint64_t{static_cast<unsigned char>(kUnownedTag)} << 56);
        return s;
    }
    CompactString(const char* text) : CompactString(std::string_view(text)) {}
    CompactString(const std::string& text) : CompactString(std::string_view(text)) {}
    CompactString(const CompactString& other) : CompactString(other.view()) {}
    CompactString(CompactString&& other) noexcept {
        std::memcpy(raw_, other.raw_, sizeof raw_);
        other.store(0, 0);
    }
    CompactString& operator=(const CompactString& other) {
        if (this != &other) *this = CompactString(other);
        return *this;
    }
    CompactString& operator=(CompactString&& other) noexcept {
        if (this != &other) {
            release();
            std::memcpy(raw_, other.raw_, sizeof raw_);
            other.store(0, 0);
        }
        return *this;
    }
    ~CompactString() { release(); }

    bool on_heap() const noexcept { return raw_[kTag] == kHeapTag; }
    const char* data() const noexcept { return out_of_place() ? heap_data() : raw_; }
    std::size_t size() const noexcept {
        if (!out_of_place()) return static_cast<unsigned char>(raw_[kTag]);
        std::uint64_t size = 0;
        std::memcpy(&size, raw_ + sizeof(char*), sizeof size);
        return static_cast<std::size_t>(size & kSizeMask);
    }
    bool empty() const noexcept { return size() == 0; }
    std::string_view view() const noexcept { return {data(), size()}; }
    operator std::string_view() const noexcept { return view(); }
    explicit operator std::string() const { return std::string(view()); }

    // Two strings held in place compare by their 16 bytes: the text, zeros,
    // then the size. A string held elsewhere is longer than any held in
    // place.
    friend bool operator==(const CompactString& a, const CompactString& b) noexcept {
        if (!a.out_of_place() && !b.out_of_place()) return a.word(0) == b.word(0) && a.word(1) == b.word(1);
        return a.view() == b.view();
    }
    friend bool operator==(const CompactString& a, std::string_view b) noexcept { return a.view() == b; }
    friend bool operator==(const CompactString& a, const char* b) noexcept { return a.view() == b; }
    // In place, the zeros after a text rank it below any longer text it
    // begins, and the size last tells a text from the same one with zero
    // bytes added.
    friend std::strong_ordering operator<=>(const CompactString& a, const CompactString& b) noexcept {
        if (!a.out_of_place() && !b.out_of_place()) {
            const std::uint64_t a0 = a.ranked(0), b0 = b.ranked(0);
            if (a0 != b0) return a0 <=> b0;
            return a.ranked(1) <=> b.ranked(1);
        }
        return a.view().compare(b.view()) <=> 0;
    }

private:
    static_assert(std::endian::native == std::endian::little, "the tag shares the top byte of the heap size");
    static constexpr std::size_t kTag = 15;
    static constexpr char kHeapTag = static_cast<char>(0x80);
    static constexpr char kUnownedTag = static_cast<char>(0x81);  // in an arena, or borrowed
    static constexpr std::uint64_t kSizeMask = (std::uint64_t{1} << 56) - 1;

    // In place: the bytes, then the size in the last byte. Elsewhere: the
    // pointer, then the size in the low 7 bytes and the tag (heap or arena)
    // in the last.
    // Either way the 16 bytes are put together in registers and stored at
    // once: a string is usually moved right after it is made, and a 16-byte
    // load of bytes stored piecemeal stalls until those stores are done.
    void assign(std::string_view text, Arena* arena) {
        const char* s = text.data();
        const std::size_t n = text.size();
        std::uint64_t low = 0;
        std::uint64_t high = 0;
        if (n > kInline) {
            char* bytes = arena != nullptr ? static_cast<char*>(arena->allocate(n, 1)) : new char[n];
            std::memcpy(bytes, s, n);
            low = reinterpret_cast<std::uintptr_t>(bytes);
            const char tag = arena != nullptr ? kUnownedTag : kHeapTag;
            high = static_cast<std::uint64_t>(n) | std::uint64_t{static_cast<unsigned char>(tag)} << 56;
        } else {
            // Overlapping loads that stay within the text.
            if (n >= 8) {
                low = load<std::uint64_t>(s);
                if (n > 8) high = load<std::uint64_t>(s + n - 8) >> (8 * (16 - n));
            } else if (n >= 4) {
                low = load<std::uint32_t>(s) | std::uint64_t{load<std::uint32_t>(s + n - 4)} << (8 * (n - 4));
            } else if (n > 0) {
                low = byte_at(s, 0, 0) | byte_at(s, n / 2, n / 2) | byte_at(s, n - 1, n - 1);
            }
            high |= static_cast<std::uint64_t>(n) << 56;
        }
        store(low, high);
    }
    template <class W>
    static W load(const char* p) noexcept {
        W word;
        std::memcpy(&word, p, sizeof word);
        return word;
    }
    static std::uint64_t byte_at(const char* s, std::size_t from, std::size_t to) noexcept {
        return std::uint64_t{static_cast<unsigned char>(s[from])} << (8 * to);
    }
    void store(std::uint64_t low, std::uint64_t high) noexcept { Blocks::store_words(raw_, low, high); }
    std::uint64_t word(std::size_t k) const noexcept { return load<std::uint64_t>(raw_ + 8 * k); }
    // A word with its first byte most significant.
    std::uint64_t ranked(std::size_t k) const noexcept { return __builtin_bswap64(word(k)); }
    bool out_of_place() const noexcept { return (static_cast<unsigned char>(raw_[kTag]) & 0x80U) != 0; }
    char* heap_data() const noexcept {
        char* bytes = nullptr;
        std::memcpy(&bytes, raw_, sizeof bytes);
        return bytes;
    }
    void release() noexcept {
        if (on_heap()) delete[] heap_data();
    }

    alignas(8) char raw_[16];
};

}  // namespace convert_engine::json
