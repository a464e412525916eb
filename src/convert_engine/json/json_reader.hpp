#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

#include "convert_engine/json/json_error.hpp"
#include "convert_engine/json/json_value.hpp"
#include "convert_engine/json/messages.hpp"
#include "convert_engine/json/open_stack.hpp"
#include "convert_engine/byte_blocks.hpp"

namespace convert_engine::json {

// A reading failure on its way out of the reader. Once `placed`, `point` is
// the offset its line and column are computed from. An unplaced failure (a
// missing or repeated key, a short array form, ...) is placed by the
// innermost list or record still open, after that one's closing step.
struct ReadError {
    Message what;
    std::size_t point = 0;
    bool placed = false;
};

// A number literal, classed: unsigned and negative integers keep their
// integer value; everything else ("-0", fractions, exponents, integers out of
// both ranges) is a double.
struct Number {
    enum class Kind : std::uint8_t { Unsigned, Signed, Float };
    Kind kind = Kind::Unsigned;
    std::uint64_t u = 0;
    std::int64_t i = 0;
    double f = 0.0;
};

// One pass over one JSON text: the offset, the nesting budget and the
// scratch buffer for strings with escapes. Every failure is thrown as a
// ReadError, which place() turns into a JsonError. The values it builds
// keep their strings and containers in `arena` when given one, or point
// into the text, both of which must then outlive them.
class JsonReader {
public:
    static constexpr int kBudget = 128;
    // How far past the decoded bytes the block decoder may write.
    static constexpr std::size_t kDecodeOvershoot = 64;
    // The arena holds only what the text cannot lend: strings with escapes
    // and the containers of JSON values (metadata, outputs). Sources and
    // output texts make up most of a notebook, so this share of its text is
    // room for the whole arena of most notebooks in the first chunk.
    static constexpr std::size_t kTextPerArenaByte = 8;

    // What a walk over one value does with what it reads. Build makes the
    // value. Check makes nothing and fails exactly where Build would: the
    // two share every step but the making. Skip throws the value away by a
    // looser grammar: no nesting budget, numbers scanned but not valued, a
    // \u escape only checked for its four hex digits.
    struct Build {
        static constexpr bool kMakes = true;
        static constexpr bool kStrict = true;
    };
    struct Check {
        static constexpr bool kMakes = false;
        static constexpr bool kStrict = true;
    };
    struct Skip {
        static constexpr bool kMakes = false;
        static constexpr bool kStrict = false;
    };

    explicit JsonReader(std::string_view text, Arena* arena = nullptr) noexcept : text_(text), arena_(arena) {
        if (arena_ != nullptr) arena_->expect(text_.size() / kTextPerArenaByte);
    }

    std::string_view text() const noexcept { return text_; }
    std::size_t offset() const noexcept { return pos_; }
    int budget() const noexcept { return budget_; }
    Arena* arena() const noexcept { return arena_; }
    // A string just read (a view of the text, or of the scratch buffer when
    // it had escapes) as a value. A document with an arena lives within the
    // call that read it, as does the text: a string without escapes is then
    // pointed at in the text instead of copied.
    CompactString keep_string(std::string_view s) const {
        const auto at = reinterpret_cast<std::uintptr_t>(s.data());
        const auto text = reinterpret_cast<std::uintptr_t>(text_.data());
        if (arena_ != nullptr && at >= text && at - text < text_.size()) return CompactString::borrowed(s);
        return CompactString(s, arena_);
    }

    // Skips whitespace and returns the next byte (0..255), or -1 at the end.
    int peek() noexcept {
        const char* p = text_.data();
        const std::size_t n = text_.size();
        while (pos_ < n) {
            const auto c = static_cast<unsigned char>(p[pos_]);
            if (c > ' ' || (c != ' ' && c != '\n' && c != '\r' && c != '\t')) return c;
            ++pos_;
            if (c == '\n') skip_indent();
        }
        return -1;
    }
    // Like peek(), but a value must start here: the end of the text fails.
    int peek_value() {
        const int c = peek();
        if (c < 0) fail_syntax(pos_, ErrorKind::EofWhileParsingValue);
        return c;
    }

    // ---- failures -------------------------------------------------------
    // Placed at the byte at `at` (its column counted from 1), or at the end
    // of the text when `at` is past it.
    [[noreturn]] void fail_syntax(std::size_t at, ErrorKind kind) const;
    [[noreturn]] void fail_at_point(std::size_t point, ErrorKind kind) const;
    [[noreturn]] void fail_at_point(std::size_t point, Message message) const;
    [[noreturn]] static void fail_unplaced(ErrorKind kind);
    [[noreturn]] static void fail_unplaced(Message message);
    // The value at the offset has the wrong JSON type: reads it whole
    // (scalars) or not at all (arrays, objects) and fails with "invalid type".
    [[noreturn]] void fail_invalid_type(std::string_view expected);

    // ---- nesting budget ---------------------------------------------------
    // At an opening bracket: takes a unit and consumes the bracket.
    void enter() {
        if (--budget_ == 0) fail_syntax(pos_, ErrorKind::RecursionLimitExceeded);
        ++pos_;
    }
    // At a closing bracket: gives the unit back and consumes the bracket.
    void leave() noexcept {
        ++budget_;
        ++pos_;
    }

    // ---- object and list syntax -----------------------------------------
    // After "{" or a member's value: true with the offset at the next key's
    // quote, false with the offset at the closing brace (not consumed).
    bool object_next(bool& first) {
        if (!first && at_comma_line_feed()) {
            if (pos_ < text_.size() && text_[pos_] == '"') return true;
            return object_after_comma();
        }
        // The first key, or the closing brace, on a line of its own.
        skip_line_feed();
        if (pos_ < text_.size()) {
            const char c = text_[pos_];
            if (c == '}') return false;
            if (c == '"' && first) {
                first = false;
                return true;
            }
        }
        return object_next_slow(first);
    }
    // At a key's quote: the decoded key (valid until the next string read).
    std::string_view read_key() { return read_string(); }
    void object_colon() {
        if (pos_ < text_.size() && text_[pos_] == ':') {
            // With the space that usually follows.
            ++pos_;
            if (pos_ < text_.size() && text_[pos_] == ' ') ++pos_;
            return;
        }
        object_colon_slow();
    }
    // After "[" or an element: true with the offset at the next element,
    // false with the offset at the closing bracket (not consumed).
    // Inlined into every list loop: an element costs no call.
    [[gnu::always_inline]] bool list_next(bool& first) {
        if (!first && at_comma_line_feed()) {
            if (pos_ < text_.size()) {
                const auto c = static_cast<unsigned char>(text_[pos_]);
                if (c > ' ' && c != ']') return true;
            }
            return list_after_comma();
        }
        // The first element, or the closing bracket, on a line of its own.
        skip_line_feed();
        if (pos_ < text_.size()) {
            const auto c = static_cast<unsigned char>(text_[pos_]);
            if (c == ']') return false;
            if (c > ' ' && first) {
                first = false;
                return true;
            }
        }
        return list_next_slow(first);
    }
    // The step of a walk of `P` to the next element, as list_next(): a
    // check passes over the string elements on its way, as
    // check_string_elements() does.
    template <class P>
    [[gnu::always_inline]] bool next_element(bool& first) {
        if constexpr (std::is_same_v<P, Check>) {
            return check_string_elements(first);
        } else {
            return list_next(first);
        }
    }
    // After the last field of a record in array form: the array must close
    // here; leaves the offset at the closing bracket.
    void record_array_end();

    // Runs `body` inside an open object (or array); a failure that leaves
    // it unplaced is placed after this container's closing step.
    template <class F>
    decltype(auto) within_object(F&& body) {
        try {
            return body();
        } catch (ReadError& e) {
            if (!e.placed) place_after_object_close(e);
            throw;
        }
    }
    template <class F>
    decltype(auto) within_array(F&& body) {
        try {
            return body();
        } catch (ReadError& e) {
            if (!e.placed) place_after_array_close(e);
            throw;
        }
    }

    // ---- scalars ----------------------------------------------------------
    // At a quote: the decoded string. It points into the text when the
    // string has no escapes, else into the scratch buffer, which the next
    // string read overwrites.
    std::string_view read_string() {
        const char* p = text_.data();
        const std::size_t start = ++pos_;
        const std::size_t i = find_json_string_special(p, start, text_.size());
        if (i < text_.size() && p[i] == '"') {
            pos_ = i + 1;
            return {p + start, i - start};
        }
        return read_string_slow(start, i);
    }
    // At a quote: appends the decoded string to `out`, escapes decoded in
    // place (no detour through the scratch buffer).
    void append_string(std::string& out) {
        const char* p = text_.data();
        const std::size_t n = text_.size();
        const std::size_t start = ++pos_;
        const std::size_t i = find_json_string_special(p, start, n);
        if (i < n && p[i] == '"') {
            pos_ = i + 1;
            out.append(p + start, i - start);
            return;
        }
        if (!append_line_end(out, start, i)) append_string_slow(out, start, i);
    }
    // After the first byte of null/true/false: the rest must follow.
    void read_ident(const char* rest);
    // At "-" or a digit.
    Number read_number();

    // ---- value readers ----------------------------------------------------
    std::uint32_t read_u32();
    std::string read_text();
    // A buffer lent to one reading at a time that decodes many strings into
    // one text (the lines of a list), kept so that its room is reused.
    std::string& lines_buffer() noexcept { return lines_; }
    // The optional-value rule: true (and null consumed) when a null is next.
    bool take_null();
    JsonObject read_map();
    // The entries of an object being read wait on one stack shared by all
    // open objects, so each object is allocated once, at its exact size,
    // when it closes: mark the stack, push the entries, take them.
    std::size_t entries_mark() const noexcept { return open_entries_.size(); }
    // After a member's colon: reads its value and pushes it with `key`.
    void read_entry(CompactString&& key);
    JsonObject take_entries(std::size_t mark);
    // The value walks: one walk (see walk()) of Build, Check or Skip.
    JsonValue read_value();
    // Reads a value as read_value() does, with the same failures at the same
    // points, but builds nothing: for values the caller drops.
    void check_value();
    // At a quote: a string read for its failures only, escapes checked
    // exactly as they would be decoded, surrogate pairs included.
    void check_string();
    // Inside a list, after "[" or an element: checks the string elements
    // from here on as check_string() does; true with the offset at the next
    // element that is no string, false with the offset at the closing
    // bracket (not consumed). Fails as list_next() would.
    bool check_string_elements(bool& first);
    // Throws a value away: valid JSON only, no budget, no conversions.
    void skip_value();

    // A list: "[", then `element()` for each element (called with the offset
    // at the element), then "]".
    template <class F>
    void read_list(F&& element) {
        if (peek_value() != '[') fail_invalid_type("a sequence");
        enter();
        within_array([&] {
            bool first = true;
            while (list_next(first)) element();
        });
        leave();
    }

    // The error placed at a point: lines count line feeds from 1, the column
    // counts bytes after the last line feed before the point.
    static JsonError place(std::string_view text, std::size_t point, ReadError&& error);

private:
    // After a line feed: skips the spaces that indent the next line, eight
    // bytes at a time.
    void skip_indent() noexcept {
        const char* p = text_.data();
        const std::size_t n = text_.size();
        constexpr std::uint64_t kSpaces = 0x2020202020202020ULL;
        while (n - pos_ >= sizeof(std::uint64_t)) {
            std::uint64_t word;
            std::memcpy(&word, p + pos_, sizeof word);
            const std::uint64_t differ = word ^ kSpaces;
            if (differ != 0) {
                // The first byte that is not a space.
                const int bit = std::endian::native == std::endian::little ? std::countr_zero(differ)
                                                                           : std::countl_zero(differ);
                pos_ += static_cast<std::size_t>(bit) / 8;
                return;
            }
            pos_ += sizeof word;
        }
    }
    // After the plain run [start, i) of a string: when the string's only
    // escape is the line feed that ends it (a line of a text in list form,
    // of an SVG or HTML document), appends it whole to `out` and returns
    // true.
    bool append_line_end(std::string& out, std::size_t start, std::size_t i) {
        const char* p = text_.data();
        if (text_.size() - i > 2 && p[i] == '\\' && p[i + 1] == 'n' && p[i + 2] == '"') {
            pos_ = i + 3;
            // The backslash comes along and becomes the line feed.
            out.append(p + start, i + 1 - start);
            out.back() = '\n';
            return true;
        }
        return false;
    }
    // The common layout between two members or elements: a comma that ends
    // its line. Consumes it with the next line's indentation when it is
    // there.
    void skip_line_feed() noexcept {
        if (pos_ < text_.size() && text_[pos_] == '\n') {
            ++pos_;
            skip_indent();
        }
    }
    bool at_comma_line_feed() noexcept {
        if (text_.size() - pos_ < 2 || text_[pos_] != ',' || text_[pos_ + 1] != '\n') return false;
        pos_ += 2;
        skip_indent();
        return true;
    }
    bool object_next_slow(bool& first);
    bool list_next_slow(bool& first);
    // Just after the comma that follows a member or an element.
    bool object_after_comma();
    bool list_after_comma();
    void object_colon_slow();
    // ---- the walk over a value (json_reader.cpp) ---------------------------
    // At the first byte `c` of a value: tells its kind, reads a literal, and
    // hands the value on to `on`, with the offset at its first byte.
    template <class On>
    decltype(auto) on_value(int c, On&& on);
    // Reads a scalar as `P` does and hands it to `put`; hands a container's
    // bracket to `open` unread.
    template <class P, class Put, class Open>
    struct Reading;
    // The whole value at the offset, read as `P` reads it, handed to `make`
    // as it was made (nullptr, a bool, a number, a CompactString, a
    // JsonArray or a JsonObject; Build), so that it is made where it stays.
    template <class P, class Make>
    decltype(auto) value(Make&& make);
    // The container at the offset (an object when `object`) with all it
    // holds, to any depth, without recursion: what Build makes of it, a
    // `Made` (JsonObject or JsonArray), or nothing.
    template <class P, class Made>
    auto walk(bool object);
    JsonArray take_elements(std::size_t mark);

    std::string_view read_string_slow(std::size_t start, std::size_t i);
    void append_string_slow(std::string& out, std::size_t start, std::size_t i);
    // At the byte that ended a plain run inside a string: consumes it and
    // returns true for a backslash, false for the closing quote; fails at
    // the end of the text or on a control byte.
    bool at_escape(std::size_t i);
    // After a backslash: one escape, decoded into `dest` (room for 4 bytes)
    // by the strict grammar; returns the number of bytes written. The loose
    // grammar only reads it (a \u escape's four hex digits) and writes
    // nothing.
    template <bool kStrict = true>
    std::size_t decode_escape(char* dest);
    std::uint32_t read_hex4();
    // At a quote: a string read for its failures only, by the strict
    // grammar (as check_string()) or the loose one. Inline, with the text's
    // bytes and size at hand; it hands what its fast scan does not cover to
    // pass_string_rest().
    template <bool kStrict>
    void pass_string(const char* p, std::size_t n);
    template <bool kStrict>
    void pass_string_rest(std::size_t i);
    // Objects of at least this many entries that came out of order are
    // sorted on their way off the stack.
    static constexpr std::size_t kOrderOnTake = 4096;
    // Whether the keys from `mark` to the top of the entries are ascending.
    bool entries_ascending(std::size_t mark) const noexcept;
    // Scans a number literal by the grammar; returns whether it is an
    // integer literal (no fraction, no exponent).
    bool scan_number(bool& negative, std::size_t& digits_start, std::size_t& digits_end);
    double literal_to_double(std::size_t start, std::size_t end) const;
    void place_after_object_close(ReadError& e) noexcept;
    void place_after_array_close(ReadError& e) noexcept;

    std::string_view text_;
    Arena* arena_;
    std::size_t pos_ = 0;
    int budget_ = kBudget;
    std::string scratch_;
    std::string lines_;  // see lines_buffer()
    detail::OpenStack<JsonObject::value_type> open_entries_;
    detail::OpenStack<JsonValue> open_elements_;  // the same for arrays
};

}  // namespace convert_engine::json
