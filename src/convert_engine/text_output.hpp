#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>

#include "convert_engine/text.hpp"
#include "convert_engine/byte_blocks.hpp"

namespace convert_engine {

// A raw write cursor over the end of a Text. Writers ask for room once
// per token or string, then write through the pointer with no further checks.
// The string is kept sized a little past the cursor (its new bytes are
// zero-filled by the string, so the filled span grows in cache-sized steps
// within the capacity and the capacity itself doubles). `finish` cuts it back
// to what was written and must come before the string is used again.
class TextOutput {
public:
    // Every request may overshoot its exact need by this much: the block
    // writers store whole 16-byte blocks and 8-byte sequences.
    static constexpr std::size_t kSlack = 32;

    explicit TextOutput(Text& out) noexcept : out_(&out), cur_(out.data() + out.size()), end_(cur_) {}
    // A cursor over memory of a fixed size, for a text measured before it
    // is written; it never grows, and a request past its end is a fault
    // (std::length_error), not an overrun.
    TextOutput(char* begin, char* end) noexcept : out_(nullptr), cur_(begin), end_(end) {}
    TextOutput(const TextOutput&) = delete;
    TextOutput& operator=(const TextOutput&) = delete;

    // A cursor with at least `n` writable bytes after it.
    char* room(std::size_t n) {
        if (static_cast<std::size_t>(end_ - cur_) < n) grow(n);
        return cur_;
    }
    // The same, growing the string to exactly the room asked for when it has
    // to grow: for a text whose final size is known.
    char* exact_room(std::size_t n) {
        if (static_cast<std::size_t>(end_ - cur_) < n) grow(n, true);
        return cur_;
    }
    // Everything before `cursor` is written.
    void commit(char* cursor) noexcept { cur_ = cursor; }

    void put(const char* text, std::size_t n) {
        char* p = room(n);
        if (n != 0) std::memcpy(p, text, n);  // an empty view may have no data
        cur_ = p + n;
    }
    void put(std::string_view text) { put(text.data(), text.size()); }
    void put(char c) {
        char* p = room(1);
        *p = c;
        cur_ = p + 1;
    }

    // Cuts the string to what was written; writing may go on afterwards.
    void finish() noexcept {
        if (out_ == nullptr) return;
        out_->resize(static_cast<std::size_t>(cur_ - out_->data()));
        cur_ = end_ = out_->data() + out_->size();
    }
    // Where the next byte goes.
    char* cursor() const noexcept { return cur_; }

private:
    static constexpr std::size_t kStep = std::size_t{32} << 10;
    // The least a growing string is given, so a small text of unknown size
    // does not double its way up from a few bytes.
    static constexpr std::size_t kFirstCapacity = 256;

    void grow(std::size_t n, bool exact = false) {
        if (out_ == nullptr) throw std::length_error("a text outgrew the room it was measured for");
        Text& out = *out_;
        const auto used = static_cast<std::size_t>(cur_ - out.data());
        out.resize(used);  // a reallocation copies only what is written
        if (out.capacity() - used < n) {
            if (exact) {
                // reserve() would round up to twice the old capacity.
                Text bigger(out.get_allocator());
                bigger.reserve(used + n);
                bigger.append(out);
                out.swap(bigger);
            } else {
                out.reserve(std::max({used + n, 2 * out.capacity(), kFirstCapacity}));
            }
        }
        out.resize(std::min(out.capacity(), used + std::max(n, kStep)));
        cur_ = out.data() + used;
        end_ = out.data() + out.size();
    }

    Text* out_;  // null for fixed memory
    char* cur_;
    char* end_;
};

// The replacement of each byte (see put_sequence in byte_blocks.hpp).
using EscapeTable = std::array<std::uint64_t, 256>;

constexpr std::uint64_t escape_entry(std::string_view sequence) {
    std::uint64_t entry = static_cast<std::uint64_t>(sequence.size()) << 56;
    for (std::size_t i = 0; i < sequence.size(); ++i)
        entry |= static_cast<std::uint64_t>(static_cast<unsigned char>(sequence[i])) << (8 * i);
    return entry;
}

// JSON string escaping: the short forms where JSON has one, \u00XX for the
// other control bytes.
inline constexpr EscapeTable kJsonEscapes = [] {
    constexpr char hex[] = "0123456789abcdef";
    EscapeTable table{};
    for (int c = 0; c < 0x20; ++c) {
        const char seq[6] = {'\\', 'u', '0', '0', hex[c >> 4], hex[c & 0xF]};
        table[static_cast<std::size_t>(c)] = escape_entry({seq, 6});
    }
    table['"'] = escape_entry("\\\"");
    table['\\'] = escape_entry("\\\\");
    table['\b'] = escape_entry("\\b");
    table['\t'] = escape_entry("\\t");
    table['\n'] = escape_entry("\\n");
    table['\f'] = escape_entry("\\f");
    table['\r'] = escape_entry("\\r");
    return table;
}();

inline constexpr EscapeTable kHtmlEscapes = [] {
    EscapeTable table{};
    table['&'] = escape_entry("&amp;");
    table['<'] = escape_entry("&lt;");
    table['>'] = escape_entry("&gt;");
    table['"'] = escape_entry("&quot;");
    return table;
}();

// JSON string escaping followed by HTML escaping, in one step: what a JSON
// string's content becomes in an HTML page.
inline constexpr EscapeTable kJsonInHtmlEscapes = [] {
    EscapeTable table = kJsonEscapes;
    table['"'] = escape_entry("\\&quot;");
    table['&'] = kHtmlEscapes['&'];
    table['<'] = kHtmlEscapes['<'];
    table['>'] = kHtmlEscapes['>'];
    return table;
}();

// The kinds of escaping: the table, the longest replacement, and the mask of
// the bytes a block of 16 has to replace.
struct JsonEscaping {
    static constexpr const EscapeTable& table = kJsonEscapes;
    static constexpr std::size_t kMaxLength = 6;
    template <class B>
    static unsigned mask(const typename B::Block& v) noexcept {
        return B::json_string_special_mask(v);
    }
};

struct HtmlEscaping {
    static constexpr const EscapeTable& table = kHtmlEscapes;
    static constexpr std::size_t kMaxLength = 6;
    template <class B>
    static unsigned mask(const typename B::Block& v) noexcept {
        return B::html_special_mask(v);
    }
};

struct JsonInHtmlEscaping {
    static constexpr const EscapeTable& table = kJsonInHtmlEscapes;
    static constexpr std::size_t kMaxLength = 7;
    template <class B>
    static unsigned mask(const typename B::Block& v) noexcept {
        return B::json_string_special_mask(v) | B::html_special_mask(v);
    }
};

// Copies the run of `text` before its first special byte, scanning and
// copying in one pass, and returns the run's length. `dst` needs room for
// text.size() bytes.
template <class Escaping, class B = Blocks>
std::size_t copy_plain_prefix(char* dst, std::string_view text) noexcept {
    const char* p = text.data();
    const std::size_t n = text.size();
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const auto v = B::load(p + i);
        B::store(dst + i, v);
        if (const unsigned mask = Escaping::template mask<B>(v); mask != 0)
            return i + static_cast<unsigned>(__builtin_ctz(mask));
    }
    if (i < n && copy_plain_tail<Escaping, B>(dst + i, p + i, n - i)) return n;
    for (; i < n && Escaping::table[static_cast<unsigned char>(p[i])] == 0; ++i) dst[i] = p[i];
    return i;
}

// Writes `text` with each special byte replaced by its sequence and returns
// the new end. `dst` needs room for the escaped length (at most
// Escaping::kMaxLength * text.size()) plus TextOutput::kSlack bytes.
template <class Escaping, class B = Blocks>
char* write_escaped(char* dst, std::string_view text) noexcept {
    const char* p = text.data();
    const std::size_t n = text.size();
    std::size_t i = 0;
    for (; i + 32 <= n; i += 16) {
        const auto v = B::load(p + i);
        dst = escape_block<Escaping, B>(dst, p + i, v, Escaping::template mask<B>(v));
    }
    if (i == n) return dst;
    const std::size_t rest = n - i;
    if (copy_plain_tail<Escaping, B>(dst, p + i, rest)) return dst + rest;
    // The last 1 to 31 bytes, from a copy padded with bytes that are written
    // as they are; the padding's copies are then dropped from the end.
    alignas(16) char pad[48];
    std::memset(pad, ' ', sizeof pad);
    std::memcpy(pad, p + i, rest);
    const auto head = B::load(pad);
    dst = escape_block<Escaping, B>(dst, pad, head, Escaping::template mask<B>(head));
    if (rest <= 16) return dst - (16 - rest);
    const auto tail = B::load(pad + 16);
    dst = escape_block<Escaping, B>(dst, pad + 16, tail, Escaping::template mask<B>(tail));
    return dst - (32 - rest);
}

// The length of a text as written, and whether it is all ASCII.
struct TextLength {
    std::size_t size = 0;
    bool ascii = true;
    TextLength& operator+=(const TextLength& other) noexcept {
        size += other.size;
        ascii = ascii && other.ascii;
        return *this;
    }
};

// The length of a text written as it is.
inline TextLength plain_length(std::string_view text) noexcept {
    std::uint64_t bytes = 0;  // every byte seen, or-ed
    std::size_t i = 0;
    for (; i + 8 <= text.size(); i += 8) {
        std::uint64_t word;
        std::memcpy(&word, text.data() + i, 8);
        bytes |= word;
    }
    for (; i < text.size(); ++i) bytes |= static_cast<unsigned char>(text[i]);
    return {text.size(), (bytes & 0x8080808080808080U) == 0};
}

// The length of `text` once HTML-escaped, and whether it is all ASCII, in
// one pass. A block of 64 bytes with nothing to escape, such as any run of
// base64 data, costs a few compares.
template <class B = Blocks>
TextLength html_escaped_length(std::string_view text) noexcept {
    const char* p = text.data();
    const std::size_t n = text.size();
    std::size_t size = n;
    std::size_t i = 0;
    auto sums = B::no_sum();
    auto bytes = B::zero();  // every byte seen, or-ed: its top bit tells of a byte above 0x7F
    for (; i + 64 <= n; i += 64) {
        const auto a = B::load(p + i);
        const auto b = B::load(p + i + 16);
        const auto c = B::load(p + i + 32);
        const auto d = B::load(p + i + 48);
        bytes = B::either(bytes, B::either(B::either(a, b), B::either(c, d)));
        if ((B::html_special_mask(a) | B::html_special_mask(b) | B::html_special_mask(c) | B::html_special_mask(d)) == 0)
            continue;
        sums = B::add_html_added(B::add_html_added(B::add_html_added(B::add_html_added(sums, a), b), c), d);
    }
    for (; i + 16 <= n; i += 16) {
        const auto v = B::load(p + i);
        bytes = B::either(bytes, v);
        sums = B::add_html_added(sums, v);
    }
    size += static_cast<std::size_t>(B::total(sums));
    unsigned high = B::high_bit_mask(bytes);
    for (; i < n; ++i) {
        const auto c = static_cast<unsigned char>(p[i]);
        high |= c & 0x80U;
        const std::uint64_t entry = kHtmlEscapes[c];
        if (entry != 0) size += (entry >> 56) - 1;
    }
    return {size, high == 0};
}

// The length of `text` once HTML-escaped.
template <class Escaping, class B = Blocks>
std::size_t escaped_size(std::string_view text) noexcept {
    static_assert(std::is_same_v<Escaping, HtmlEscaping>, "only HTML escaping is measured ahead");
    return html_escaped_length<B>(text).size;
}

// The room put_escaped below asks for: a text with nothing to escape is
// copied whole and needs no slack.
inline std::size_t escaped_room(std::string_view text, std::size_t size) noexcept {
    return size == text.size() ? size : size + TextOutput::kSlack;
}

// Appends `text`, whose escaped length `size` the caller has measured, with
// one request for room; a text with nothing to escape is copied whole.
template <class Escaping>
void put_escaped(TextOutput& out, std::string_view text, std::size_t size) {
    if (size == text.size()) {
        out.put(text);
        return;
    }
    char* dst = out.room(escaped_room(text, size));
    out.commit(write_escaped<Escaping>(dst, text));
}

// Appends `text` escaped. Room is asked for once for a text of up to a few
// kilobytes; a longer text goes in pieces, so a long string never asks for
// several times its size at once.
template <class Escaping>
void put_escaped(TextOutput& out, std::string_view text) {
    constexpr std::size_t kPiece = 4096;
    do {
        const std::string_view piece = text.substr(0, kPiece);
        text.remove_prefix(piece.size());
        char* dst = out.room(Escaping::kMaxLength * piece.size() + TextOutput::kSlack);
        out.commit(write_escaped<Escaping>(dst, piece));
    } while (!text.empty());
}

}  // namespace convert_engine
