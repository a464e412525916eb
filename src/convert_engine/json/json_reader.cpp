#include "convert_engine/json/json_reader.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <iterator>
#include <limits>
#include <system_error>
#include <utility>
#include <vector>


#include "convert_engine/byte_blocks.hpp"
#include "convert_engine/json/string_blocks.hpp"
#include "convert_engine/json/unexpected.hpp"

// The walk's steps are lambdas over its state; each is inlined into the
// walk, so that the state stays in registers instead of behind the
// closures' pointers. (GNU attribute: the standard form cannot name a
// lambda's call operator.)
#define QC_INLINE_LAMBDA __attribute__((always_inline))

namespace convert_engine::json {

namespace {

using detail::StringBlock;

constexpr bool is_digit(int c) noexcept { return c >= '0' && c <= '9'; }

// The value of each hex digit, -1 for every other byte: a table, as
// terminal colours put a \u escape every few bytes of some strings.
constexpr std::array<signed char, 256> kHexDigits = [] {
    std::array<signed char, 256> digits{};
    for (int c = 0; c < 256; ++c) {
        const int lower = c | 0x20;
        digits[static_cast<std::size_t>(c)] = static_cast<signed char>(
            c >= '0' && c <= '9' ? c - '0' : lower >= 'a' && lower <= 'f' ? lower - 'a' + 10 : -1);
    }
    return digits;
}();

int hex_value(unsigned char c) noexcept { return kHexDigits[c]; }

// The value of the 4 hex digits at `p`, or -1 when one is not hex.
std::int32_t hex4_value(const char* p) noexcept {
    int bad = 0;  // negative once a digit is not hex
    std::int32_t value = 0;
    for (int k = 0; k < 4; ++k) {
        const int d = hex_value(static_cast<unsigned char>(p[k]));
        bad |= d;
        value = (value << 4) | (d & 0xF);
    }
    return bad < 0 ? -1 : value;
}

// The code point of the 4 hex digits at `p` when it is no surrogate, else
// -1 (also when a digit is not hex).
std::int32_t plain_code_point(const char* p) noexcept {
    const std::int32_t cp = hex4_value(p);
    return cp >= 0xD800 && cp <= 0xDFFF ? -1 : cp;
}

std::size_t encode_utf8(char* buf, std::uint32_t cp) noexcept {
    if (cp < 0x80) {
        buf[0] = static_cast<char>(cp);
        return 1;
    }
    if (cp < 0x800) {
        buf[0] = static_cast<char>(0xC0 | (cp >> 6));
        buf[1] = static_cast<char>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        buf[0] = static_cast<char>(0xE0 | (cp >> 12));
        buf[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        buf[2] = static_cast<char>(0x80 | (cp & 0x3F));
        return 3;
    }
    buf[0] = static_cast<char>(0xF0 | (cp >> 18));
    buf[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    buf[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    buf[3] = static_cast<char>(0x80 | (cp & 0x3F));
    return 4;
}

// The byte each one-character escape stands for, by the character after
// the backslash; 0 for the others (\u and invalid ones).
constexpr std::array<char, 256> kShortEscapes = [] {
    std::array<char, 256> table{};
    table['"'] = '"';
    table['\\'] = '\\';
    table['/'] = '/';
    table['b'] = '\b';
    table['f'] = '\f';
    table['n'] = '\n';
    table['r'] = '\r';
    table['t'] = '\t';
    return table;
}();

// Whether the 4 bytes at `p` are hex digits, and (when `kPlain`) spell no
// surrogate (D800 to DFFF): all four bytes tested at once, in one word.
template <bool kPlain>
[[gnu::always_inline]] inline bool hex4_ok(const char* p) noexcept {
    std::uint32_t w = 0;
    std::memcpy(&w, p, sizeof w);
    if constexpr (std::endian::native == std::endian::big) w = __builtin_bswap32(w);
    // "001b", the escape character of terminal colours, which some strings
    // have every few bytes: one comparison.
    if (w == 0x62313030U) return true;
    constexpr std::uint32_t kHigh = 0x80808080U;
    // Per byte below 0x80 (a carry out of a byte at 0x80 or above can spoil
    // the bytes above it, but that byte fails on its own): whether it is at
    // least `lo` and below `hi`, in its high bit.
    const auto in_range = [](std::uint32_t x, std::uint32_t lo, std::uint32_t hi) {
        return (x + (0x80U - lo) * 0x01010101U) & ~(x + (0x80U - hi) * 0x01010101U);
    };
    const std::uint32_t lower = w | 0x20202020U;
    const std::uint32_t hex = in_range(w, '0', '9' + 1) | in_range(lower, 'a', 'f' + 1);
    if ((hex & ~w & kHigh) != kHigh) return false;
    // A surrogate: "d" then a digit from 8 up (a letter or 8 or 9).
    return !kPlain || (lower & 0xFFU) != 'd' || ((w >> 8) & 0xFFU) < '8';
}

// The offset just past the escape whose backslash is at `at` when it is one
// a checked string takes without a word: a one-letter escape, or a \uXXXX
// of four hex digits (not a surrogate, when `kPlain`, as a lone one fails
// and a pair needs its second half looked at). 0 for every other escape.
// `kRoom`: the caller knows the 6 bytes from `at` are in the text.
template <bool kPlain, bool kRoom = false>
[[gnu::always_inline]] inline std::size_t simple_escape_end(const char* p, std::size_t at, std::size_t n) noexcept {
    if (!kRoom && n - at < 2) return 0;
    const auto c = static_cast<unsigned char>(p[at + 1]);
    if (kShortEscapes[c] != '\0') return at + 2;
    if (c != 'u' || (!kRoom && n - at < 6)) return 0;
    return hex4_ok<kPlain>(p + at + 2) ? at + 6 : 0;
}

// Inside a string, from `i`: steps over plain bytes and simple escapes (see
// simple_escape_end) and returns the offset of the first byte they do not
// cover: the closing quote, a control byte, another escape's backslash, or
// `n`. Each 16-byte block is scanned once; the escapes in it are taken one
// after the other from its mask, without scanning it again.
template <bool kPlain>
[[gnu::always_inline]] inline std::size_t skip_simple_run(const char* p, std::size_t i, std::size_t n) noexcept {
    // Blocks with room after them for an escape that starts in the block.
    if (n >= 32) {
        const std::size_t last = n - 32;
        while (i <= last) {
            unsigned mask = Blocks::json_string_special_mask(Blocks::load(p + i));
            if (mask == 0) {
                i += 16;
                continue;
            }
            // The block's escapes, one after the other, from its mask.
            std::size_t end = 0;
            do {
                const std::size_t at = i + static_cast<unsigned>(__builtin_ctz(mask));
                if (p[at] != '\\') return at;
                end = simple_escape_end<kPlain, true>(p, at, n);
                if (end == 0) return at;
                mask &= ~0U << (end - i);
            } while (mask != 0);
            // On after the block, or after an escape that runs past it.
            i = std::max(i + 16, end);
        }
    }
    while (i < n) {
        if (!is_json_string_special(static_cast<unsigned char>(p[i]))) {
            ++i;
            continue;
        }
        if (p[i] != '\\') return i;
        const std::size_t end = simple_escape_end<kPlain>(p, i, n);
        if (end == 0) return i;
        i = end;
    }
    return n;
}

// What a walk that makes nothing hands on.
struct Nothing {};

// What a value read inside a walk's container hands back when it is a
// scalar (read whole); a container gives its kind (1 for an object, 0 for
// an array), to be opened by the walk.
constexpr int kScalar = -1;

// The kinds of the containers a walk that makes nothing has open around
// the innermost one, innermost on top: one bit each, set for an object. The
// first 128 are held in place, more than a walk within the nesting budget
// ever opens; an unbounded one (a skip) goes on in words on the heap, so
// that no depth of input exhausts the call stack.
template <bool kBounded>
class OpenKinds {
public:
    OpenKinds() noexcept = default;
    OpenKinds(const OpenKinds&) = delete;
    OpenKinds& operator=(const OpenKinds&) = delete;

    bool empty() const noexcept { return size_ == 0; }
    void push(bool object) {
        if constexpr (!kBounded) {
            if (size_ == 64 * (kInPlace + more_.size())) more_.push_back(0);
        }
        std::uint64_t& w = word(size_ / 64);
        const std::uint64_t bit = std::uint64_t{1} << (size_ % 64);
        w = object ? (w | bit) : (w & ~bit);
        ++size_;
    }
    bool object() const noexcept { return ((word((size_ - 1) / 64) >> ((size_ - 1) % 64)) & 1) != 0; }
    void pop() noexcept { --size_; }

private:
    static constexpr std::size_t kInPlace = 2;
    static_assert(64 * kInPlace >= JsonReader::kBudget);
    template <class Self>
    static auto& word(Self& self, std::size_t k) noexcept {
        if constexpr (kBounded) {
            return self.in_place_[k];
        } else {
            return k < kInPlace ? self.in_place_[k] : self.more_[k - kInPlace];
        }
    }
    std::uint64_t& word(std::size_t k) noexcept { return word(*this, k); }
    std::uint64_t word(std::size_t k) const noexcept { return word(*this, k); }

    std::uint64_t in_place_[kInPlace] = {};
    [[no_unique_address]] std::conditional_t<kBounded, Nothing, std::vector<std::uint64_t>> more_;
    std::size_t size_ = 0;
};

// The containers a walk that makes values has open around the innermost
// one, innermost on top: each one's kind and mark (where its entries or
// elements start on the reader's stacks) in one word. The nesting budget
// keeps them within kBudget.
class OpenMarks {
public:
    bool empty() const noexcept { return depth_ == 0; }
    void push(bool object, std::size_t mark) noexcept {
        frames_[depth_++] = mark << 1 | static_cast<std::size_t>(object);
    }
    bool object() const noexcept { return (frames_[depth_ - 1] & 1) != 0; }
    std::size_t mark() const noexcept { return frames_[depth_ - 1] >> 1; }
    void pop() noexcept { --depth_; }

private:
    std::size_t frames_[JsonReader::kBudget];
    std::size_t depth_ = 0;
};

}  // namespace

// ---- failures -----------------------------------------------------------------

void JsonReader::fail_syntax(std::size_t at, ErrorKind kind) const {
    fail_at_point(std::min(at + 1, text_.size()), kind);
}

void JsonReader::fail_at_point(std::size_t point, ErrorKind kind) const { fail_at_point(point, Message{kind}); }

void JsonReader::fail_at_point(std::size_t point, Message message) const {
    throw ReadError{std::move(message), point, true};
}

void JsonReader::fail_unplaced(ErrorKind kind) { fail_unplaced(Message{kind}); }

void JsonReader::fail_unplaced(Message message) { throw ReadError{std::move(message), 0, false}; }

// ---- the kind of a value ---------------------------------------------------------

// The one place that tells a value's kind by its first byte, for every walk
// and for fail_invalid_type().
template <class On>
[[gnu::always_inline]] inline decltype(auto) JsonReader::on_value(int c, On&& on) {
    switch (c) {
        case '"':
            return on.string();
        case '{':
            return on.container(true);
        case '[':
            return on.container(false);
        case 'n':
            ++pos_;
            read_ident("ull");
            return on.literal(nullptr);
        case 't':
            ++pos_;
            read_ident("rue");
            return on.literal(true);
        case 'f':
            ++pos_;
            read_ident("alse");
            return on.literal(false);
        case '-':
        case '0': case '1': case '2': case '3': case '4':
        case '5': case '6': case '7': case '8': case '9':
            return on.number();
        default:
            fail_syntax(pos_, ErrorKind::ExpectedValue);
    }
}

template <class P, class Put, class Open>
struct JsonReader::Reading {
    JsonReader& r;
    Put& put;    // takes a scalar as made (Nothing when P makes nothing)
    Open& open;  // takes a container's bracket

    [[gnu::always_inline]] decltype(auto) string() {
        if constexpr (P::kMakes) {
            // Straight from the text (or the scratch buffer), at its size.
            return put(r.keep_string(r.read_string()));
        } else {
            r.pass_string<P::kStrict>(r.text_.data(), r.text_.size());
            return put(Nothing{});
        }
    }
    [[gnu::always_inline]] decltype(auto) number() {
        if constexpr (!P::kStrict) {
            bool negative = false;
            std::size_t ds = 0, de = 0;
            r.scan_number(negative, ds, de);
            return put(Nothing{});
        } else if constexpr (!P::kMakes) {
            // Valued all the same: a value out of range fails.
            r.read_number();
            return put(Nothing{});
        } else {
            const Number num = r.read_number();
            switch (num.kind) {
                case Number::Kind::Unsigned: return put(num.u);
                case Number::Kind::Signed: return put(num.i);
                case Number::Kind::Float: break;
            }
            return put(num.f);
        }
    }
    template <class V>
    [[gnu::always_inline]] decltype(auto) literal(V v) {
        if constexpr (P::kMakes) {
            return put(v);
        } else {
            return put(Nothing{});
        }
    }
    [[gnu::always_inline]] decltype(auto) container(bool object) { return open(object); }
};

void JsonReader::fail_invalid_type(std::string_view expected) {
    // The value is named as a build reads it: a scalar whole, a container
    // not at all.
    const auto name = [](auto&& v) { return unexpected_value(JsonValue(std::forward<decltype(v)>(v))); };
    const auto name_container = [](bool object) -> std::string { return object ? "map" : "sequence"; };
    const std::string unexpected =
        on_value(peek_value(), Reading<Build, decltype(name), decltype(name_container)>{*this, name, name_container});
    fail_at_point(pos_, invalid_type(unexpected, expected));
}

void JsonReader::place_after_object_close(ReadError& e) noexcept {
    if (peek() == '}') ++pos_;
    e.point = pos_;
    e.placed = true;
}

void JsonReader::place_after_array_close(ReadError& e) noexcept {
    const int c = peek();
    if (c == ']') {
        ++pos_;
    } else if (c == ',') {
        ++pos_;
        peek();
    }
    e.point = pos_;
    e.placed = true;
}

JsonError JsonReader::place(std::string_view text, std::size_t point, ReadError&& error) {
    point = std::min(point, text.size());
    const std::string_view before = text.substr(0, point);
    const std::size_t last_lf = before.rfind('\n');
    const std::size_t line_start = last_lf == std::string_view::npos ? 0 : last_lf + 1;
    const auto lines = static_cast<std::size_t>(std::count(before.begin(), before.begin() + static_cast<std::ptrdiff_t>(line_start), '\n'));
    return JsonError{std::move(error.what), lines + 1, point - line_start};
}

// ---- object and list syntax -------------------------------------------------

bool JsonReader::object_next_slow(bool& first) {
    const int c = peek();
    if (c == '}') return false;
    if (c < 0) fail_syntax(pos_, ErrorKind::EofWhileParsingObject);
    if (!first) {
        if (c != ',') fail_syntax(pos_, ErrorKind::ExpectedCommaOrBrace);
        ++pos_;
        return object_after_comma();
    }
    first = false;
    if (c == '"') return true;
    fail_syntax(pos_, ErrorKind::KeyMustBeString);
}

bool JsonReader::object_after_comma() {
    const int c = peek();
    if (c == '"') return true;
    if (c == '}') fail_syntax(pos_, ErrorKind::TrailingComma);
    if (c < 0) fail_syntax(pos_, ErrorKind::EofWhileParsingValue);
    fail_syntax(pos_, ErrorKind::KeyMustBeString);
}

void JsonReader::object_colon_slow() {
    const int c = peek();
    if (c == ':') {
        ++pos_;
        return;
    }
    if (c < 0) fail_syntax(pos_, ErrorKind::EofWhileParsingObject);
    fail_syntax(pos_, ErrorKind::ExpectedColon);
}

bool JsonReader::list_next_slow(bool& first) {
    const int c = peek();
    if (c == ']') return false;
    if (c < 0) fail_syntax(pos_, ErrorKind::EofWhileParsingList);
    if (first) {
        first = false;
        return true;
    }
    if (c != ',') fail_syntax(pos_, ErrorKind::ExpectedCommaOrBracket);
    ++pos_;
    return list_after_comma();
}

bool JsonReader::list_after_comma() {
    const int c = peek();
    if (c == ']') fail_syntax(pos_, ErrorKind::TrailingComma);
    if (c < 0) fail_syntax(pos_, ErrorKind::EofWhileParsingValue);
    return true;
}

void JsonReader::record_array_end() {
    int c = peek();
    if (c == ']') return;
    if (c < 0) fail_syntax(pos_, ErrorKind::EofWhileParsingList);
    if (c == ',') {
        ++pos_;
        c = peek();
        if (c == ']') fail_syntax(pos_, ErrorKind::TrailingComma);
    }
    fail_syntax(pos_, ErrorKind::TrailingCharacters);
}

// ---- strings ------------------------------------------------------------------

bool JsonReader::at_escape(std::size_t i) {
    const std::size_t n = text_.size();
    if (i == n) {
        pos_ = n;
        fail_syntax(n, ErrorKind::EofWhileParsingString);
    }
    const auto c = static_cast<unsigned char>(text_[i]);
    pos_ = i + 1;
    if (c == '"') return false;
    if (c != '\\') fail_syntax(i, ErrorKind::ControlCharacterInString);
    return true;
}

// Decodes block by block into `out` through a raw cursor: each 16-byte
// block is copied whole and the cursor advanced past its plain bytes, so
// one room check serves a block and its escape.
void JsonReader::append_string_slow(std::string& out, std::size_t start, std::size_t i) {
    const char* p = text_.data();
    const std::size_t n = text_.size();
    // Room for a whole block and an escape after its plain bytes.
    constexpr std::size_t kRoom = 2 * StringBlock::kSize;
    static_assert(kDecodeOvershoot == 2 * kRoom);
    std::size_t length = out.size();
    out.resize(length + (i - start) + 2 * kRoom);
    std::memcpy(out.data() + length, p + start, i - start);
    length += i - start;
    for (;;) {
        // Within the capacity when there is room (a text sized in advance),
        // else doubling.
        if (out.size() - length < kRoom) out.resize(std::max(length + kRoom, std::min(out.size() * 2, out.capacity())));
        char* dest = out.data() + length;
        bool backslash = false;
        if (i + StringBlock::kSize <= n) {
            unsigned backslashes = 0;
            const unsigned mask = StringBlock::copy(p + i, dest, backslashes);
            if (mask == 0) {
                i += StringBlock::kSize;
                length += StringBlock::kSize;
                continue;
            }
            const auto plain = static_cast<std::size_t>(__builtin_ctz(mask));
            i += plain;
            length += plain;
            dest += plain;
            backslash = ((backslashes >> plain) & 1U) != 0;
        } else {
            // The last bytes of the text: byte by byte.
            while (i < n) {
                const auto c = static_cast<unsigned char>(p[i]);
                if (c == '"' || c == '\\' || c < 0x20) break;
                *dest++ = static_cast<char>(c);
                ++i;
                ++length;
            }
            backslash = i < n && p[i] == '\\';
        }
        // At a special byte (or the end of the text). The common escapes
        // and the closing quote are taken here, without a call; which of
        // them it is comes from the block's masks, not from a new load.
        if (backslash && i + 1 < n) {
            const char decoded = kShortEscapes[static_cast<unsigned char>(p[i + 1])];
            if (decoded != '\0') {
                *dest = decoded;
                i += 2;
                ++length;
                continue;
            }
            // A \uXXXX outside the surrogates (terminal colours write
            // \u001b every few bytes); anything else goes the long way.
            if (p[i + 1] == 'u' && n - i >= 6) {
                const std::int32_t cp = plain_code_point(p + i + 2);
                if (cp >= 0) {
                    length += encode_utf8(dest, static_cast<std::uint32_t>(cp));
                    i += 6;
                    continue;
                }
            }
        } else if (!backslash && i < n && p[i] == '"') {
            pos_ = i + 1;
            break;
        }
        if (!at_escape(i)) break;
        const std::size_t written = decode_escape(dest);
        length += written;
        i = pos_;
    }
    out.resize(length);
}

std::string_view JsonReader::read_string_slow(std::size_t start, std::size_t i) {
    scratch_.clear();
    if (!append_line_end(scratch_, start, i)) append_string_slow(scratch_, start, i);
    return scratch_;
}

std::uint32_t JsonReader::read_hex4() {
    const std::size_t n = text_.size();
    if (n - pos_ < 4) {
        pos_ = n;
        fail_syntax(n, ErrorKind::EofWhileParsingString);
    }
    std::uint32_t value = 0;
    bool ok = true;
    for (int k = 0; k < 4; ++k) {
        const int d = hex_value(static_cast<unsigned char>(text_[pos_ + static_cast<std::size_t>(k)]));
        ok = ok && d >= 0;
        value = (value << 4) | static_cast<std::uint32_t>(d & 0xF);
    }
    pos_ += 4;
    if (!ok) fail_at_point(pos_, ErrorKind::InvalidEscape);
    return value;
}

template <bool kStrict>
std::size_t JsonReader::decode_escape(char* dest) {
    const std::size_t n = text_.size();
    if (pos_ == n) fail_syntax(n, ErrorKind::EofWhileParsingString);
    const char c = text_[pos_++];
    switch (c) {
        case '"': *dest = '"'; return 1;
        case '\\': *dest = '\\'; return 1;
        case '/': *dest = '/'; return 1;
        case 'b': *dest = '\b'; return 1;
        case 'f': *dest = '\f'; return 1;
        case 'n': *dest = '\n'; return 1;
        case 'r': *dest = '\r'; return 1;
        case 't': *dest = '\t'; return 1;
        case 'u': break;
        default: fail_at_point(pos_, ErrorKind::InvalidEscape);
    }
    if constexpr (!kStrict) {
        read_hex4();
        return 0;
    }
    std::uint32_t cp = read_hex4();
    if (cp >= 0xDC00 && cp <= 0xDFFF) fail_at_point(pos_, ErrorKind::LoneLeadingSurrogate);
    if (cp >= 0xD800 && cp <= 0xDBFF) {
        for (const char expected : {'\\', 'u'}) {
            if (pos_ == n) fail_syntax(n, ErrorKind::EofWhileParsingString);
            if (text_[pos_++] != expected) fail_at_point(pos_, ErrorKind::UnexpectedEndOfHexEscape);
        }
        const std::uint32_t low = read_hex4();
        if (low < 0xDC00 || low > 0xDFFF) fail_at_point(pos_, ErrorKind::LoneLeadingSurrogate);
        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
    }
    return encode_utf8(dest, cp);
}

template <bool kStrict>
[[gnu::always_inline]] inline void JsonReader::pass_string(const char* p, std::size_t n) {
    const std::size_t i = skip_simple_run<kStrict>(p, pos_ + 1, n);
    if (i < n && p[i] == '"') {
        pos_ = i + 1;
        return;
    }
    pass_string_rest<kStrict>(i);
}

// From the first byte of a string that the simple run did not cover: the
// escapes left are decoded (into nothing) for their failures.
template <bool kStrict>
void JsonReader::pass_string_rest(std::size_t i) {
    const char* p = text_.data();
    const std::size_t n = text_.size();
    char unused[4];
    while (at_escape(i)) {
        decode_escape<kStrict>(unused);
        i = skip_simple_run<kStrict>(p, pos_, n);
    }
}

void JsonReader::check_string() { pass_string<true>(text_.data(), text_.size()); }

bool JsonReader::check_string_elements(bool& first) {
    const char* p = text_.data();
    const std::size_t n = text_.size();
    if (!list_next(first)) return false;
    for (;;) {
        if (p[pos_] != '"') return true;
        pass_string<true>(p, n);
        // The usual step to the next line of a list of strings: a comma,
        // then (after the line feed and indentation) the next quote.
        const std::size_t comma = pos_;
        if (n - comma >= 2 + sizeof(std::uint64_t)) {
            // The comma and line feed as one word, then the indentation's
            // spaces (fewer than eight) and the quote in the next.
            constexpr bool kLittle = std::endian::native == std::endian::little;
            constexpr std::uint16_t kCommaLf = kLittle ? 0x0A2C : 0x2C0A;
            constexpr std::uint64_t kSpaces = 0x2020202020202020ULL;
            std::uint16_t head = 0;
            std::uint64_t indent = 0;
            std::memcpy(&head, p + comma, sizeof head);
            std::memcpy(&indent, p + comma + 2, sizeof indent);
            const std::uint64_t differ = indent ^ kSpaces;
            if (head == kCommaLf && differ != 0) {
                const std::size_t quote =
                    comma + 2 + static_cast<std::size_t>(kLittle ? std::countr_zero(differ) : std::countl_zero(differ)) / 8;
                if (p[quote] == '"') {
                    pos_ = quote;
                    continue;
                }
            }
        }
        if (comma < n && p[comma] == ',') {
            pos_ = comma + 1;
            if (peek() == '"') continue;
            pos_ = comma;
        }
        if (!list_next(first)) return false;
    }
}

void JsonReader::read_ident(const char* rest) {
    const std::size_t n = text_.size();
    for (; *rest != '\0'; ++rest) {
        if (pos_ == n) fail_syntax(n, ErrorKind::EofWhileParsingValue);
        if (text_[pos_] != *rest) fail_syntax(pos_, ErrorKind::ExpectedIdent);
        ++pos_;
    }
}

// ---- numbers ------------------------------------------------------------------

bool JsonReader::scan_number(bool& negative, std::size_t& digits_start, std::size_t& digits_end) {
    const char* p = text_.data();
    const std::size_t n = text_.size();
    negative = p[pos_] == '-';
    if (negative) ++pos_;
    if (pos_ == n) fail_syntax(n, ErrorKind::EofWhileParsingValue);
    digits_start = pos_;
    const auto first = static_cast<unsigned char>(p[pos_]);
    if (first == '0') {
        ++pos_;
        if (pos_ < n && is_digit(p[pos_])) fail_syntax(pos_, ErrorKind::InvalidNumber);
    } else if (is_digit(first)) {
        ++pos_;
        while (pos_ < n && is_digit(p[pos_])) ++pos_;
    } else {
        fail_syntax(pos_, ErrorKind::InvalidNumber);
    }
    digits_end = pos_;
    bool integer = true;
    // A fraction or exponent needs at least one digit after its mark.
    auto digits = [&] {
        if (pos_ == n) fail_syntax(n, ErrorKind::EofWhileParsingValue);
        if (!is_digit(p[pos_])) fail_syntax(pos_, ErrorKind::InvalidNumber);
        while (pos_ < n && is_digit(p[pos_])) ++pos_;
    };
    if (pos_ < n && p[pos_] == '.') {
        integer = false;
        ++pos_;
        digits();
    }
    if (pos_ < n && (p[pos_] == 'e' || p[pos_] == 'E')) {
        integer = false;
        ++pos_;
        if (pos_ < n && (p[pos_] == '+' || p[pos_] == '-')) ++pos_;
        digits();
    }
    return integer;
}

Number JsonReader::read_number() {
    // The common case first: a short unsigned integer (a count, a size),
    // valued as it is scanned.
    const char* p = text_.data();
    const std::size_t n = text_.size();
    if (p[pos_] >= '1' && p[pos_] <= '9') {
        constexpr std::size_t kSafeDigits = 19;  // always within 64 bits
        std::uint64_t value = static_cast<std::uint64_t>(p[pos_] - '0');
        std::size_t i = pos_ + 1;
        for (; i < n && i - pos_ < kSafeDigits && is_digit(p[i]); ++i) value = value * 10 + static_cast<std::uint64_t>(p[i] - '0');
        if (i == n || (!is_digit(p[i]) && p[i] != '.' && p[i] != 'e' && p[i] != 'E')) {
            pos_ = i;
            Number num;
            num.u = value;
            return num;
        }
    }
    const std::size_t start = pos_;
    bool negative = false;
    std::size_t ds = 0, de = 0;
    const bool integer = scan_number(negative, ds, de);
    if (integer && de - ds <= 20) {
        std::uint64_t value = 0;
        bool fits = true;
        for (std::size_t k = ds; k < de; ++k) {
            const auto d = static_cast<std::uint64_t>(p[k] - '0');
            if (value > (std::numeric_limits<std::uint64_t>::max() - d) / 10) {
                fits = false;
                break;
            }
            value = value * 10 + d;
        }
        if (fits) {
            Number num;
            if (!negative) {
                num.kind = Number::Kind::Unsigned;
                num.u = value;
                return num;
            }
            constexpr std::uint64_t min_magnitude = std::uint64_t{1} << 63;
            if (value != 0 && value <= min_magnitude) {
                num.kind = Number::Kind::Signed;
                num.i = value == min_magnitude ? std::numeric_limits<std::int64_t>::min()
                                               : -static_cast<std::int64_t>(value);
                return num;
            }
        }
    }
    Number num;
    num.kind = Number::Kind::Float;
    num.f = literal_to_double(start, pos_);
    return num;
}

// Correctly rounded; a value too large for a double fails, one too small
// becomes a zero of its sign.
double JsonReader::literal_to_double(std::size_t start, std::size_t end) const {
    const char* first = text_.data() + start;
    const char* last = text_.data() + end;
    double value = 0.0;
    const auto res = std::from_chars(first, last, value);
    if (res.ec != std::errc::result_out_of_range) return value;
    // Out of range either way: the decimal exponent of the first significant
    // digit tells overflow from underflow.
    const char* p = first + (*first == '-' ? 1 : 0);
    long long exponent = 0;
    bool seen_point = false, seen_digit = false;
    for (; p < last && *p != 'e' && *p != 'E'; ++p) {
        if (*p == '.') {
            seen_point = true;
        } else if (!seen_digit && *p == '0') {
            if (seen_point) --exponent;
        } else if (!seen_digit) {
            seen_digit = true;
            if (seen_point) --exponent;
        } else if (!seen_point) {
            ++exponent;
        }
    }
    if (p < last) {
        ++p;
        const bool negative_exponent = *p == '-';
        if (*p == '+' || *p == '-') ++p;
        long long e = 0;
        for (; p < last; ++p) e = std::min(e * 10 + (*p - '0'), 1'000'000'000'000LL);
        exponent += negative_exponent ? -e : e;
    }
    if (exponent >= 0) fail_at_point(end, ErrorKind::NumberOutOfRange);
    return *first == '-' ? -0.0 : 0.0;
}

// ---- value readers ------------------------------------------------------------

std::uint32_t JsonReader::read_u32() {
    const int c = peek_value();
    if (c != '-' && !is_digit(c)) fail_invalid_type("u32");
    const Number num = read_number();
    switch (num.kind) {
        case Number::Kind::Unsigned:
            if (num.u <= std::numeric_limits<std::uint32_t>::max()) return static_cast<std::uint32_t>(num.u);
            fail_at_point(pos_, invalid_value(unexpected_unsigned(num.u), "u32"));
        case Number::Kind::Signed:
            fail_at_point(pos_, invalid_value(unexpected_signed(num.i), "u32"));
        case Number::Kind::Float:
            break;
    }
    fail_at_point(pos_, invalid_type(unexpected_float(num.f), "u32"));
}

// Allocated once at its exact size: a string with escapes is decoded into
// the scratch buffer first.
std::string JsonReader::read_text() {
    if (peek_value() != '"') fail_invalid_type("a string");
    return std::string(read_string());
}

bool JsonReader::take_null() {
    if (peek() != 'n') return false;
    ++pos_;
    read_ident("ull");
    return true;
}

// ---- the walk over a value ---------------------------------------------------------

// Iterative: the containers around the innermost one are kept in
// `around`, and a value that ends goes to the one it is in, so no depth of
// input can exhaust the call stack. Each step is the one a recursive
// reading would take at that point: a check steps as a build does, and
// fails where it fails.
template <class P, class Made>
auto JsonReader::walk(bool object) {
    static_assert(P::kMakes == !std::is_same_v<Made, Nothing>);
    std::conditional_t<P::kMakes, OpenMarks, OpenKinds<P::kStrict>> around;
    // The innermost container is an object when `object`; when building,
    // its entries or elements start at `mark` on the stacks, and `key` is
    // that of the member being read.
    [[maybe_unused]] std::size_t mark = 0;
    [[maybe_unused]] std::conditional_t<P::kMakes, CompactString, Nothing> key;
    bool first = true;

    // At a bracket: takes a unit of the budget (strict) and consumes it,
    // or gives the unit back.
    const auto enter_bracket = [this]() QC_INLINE_LAMBDA {
        if constexpr (P::kStrict) {
            enter();
        } else {
            ++pos_;
        }
    };
    const auto leave_bracket = [this]() QC_INLINE_LAMBDA {
        if constexpr (P::kStrict) {
            leave();
        } else {
            ++pos_;
        }
    };
    [[maybe_unused]] const auto mark_of = [this](bool object_here) QC_INLINE_LAMBDA {
        return object_here ? entries_mark() : open_elements_.size();
    };
    // A value read inside the innermost container: a scalar is put into
    // it at once (Build), a container is handed back by its kind, to be
    // opened by the walk.
    const auto bracket = [](bool object_inside) QC_INLINE_LAMBDA { return static_cast<int>(object_inside); };

    enter_bracket();
    if constexpr (P::kMakes) mark = mark_of(object);
    for (;;) {
        // To the next value of the innermost container, or past its end.
        bool more;
        if (object) {
            more = object_next(first);
            if (more) {
                if constexpr (P::kMakes) {
                    key = keep_string(read_key());
                } else {
                    pass_string<P::kStrict>(text_.data(), text_.size());
                }
                object_colon();
            }
        } else {
            more = next_element<P>(first);
        }
        if (more) {
            // The state is taken by value where it can be, so that it
            // stays in registers.
            const auto put = [&]() QC_INLINE_LAMBDA {
                if constexpr (P::kMakes) {
                    return [this, object, &key](auto&& v) QC_INLINE_LAMBDA {
                        if (object) {
                            open_entries_.push(std::move(key), std::forward<decltype(v)>(v));
                        } else {
                            open_elements_.push(std::forward<decltype(v)>(v));
                        }
                        return kScalar;
                    };
                } else {
                    return [](Nothing) QC_INLINE_LAMBDA { return kScalar; };
                }
            }();
            const int opened = on_value(peek_value(), Reading<P, decltype(put), decltype(bracket)>{*this, put, bracket});
            if (opened == kScalar) continue;
            // A container opens inside the innermost one; in an object, its
            // entry waits for it with its key and is filled when it closes.
            enter_bracket();
            if constexpr (P::kMakes) {
                if (object) open_entries_.push(std::move(key), nullptr);
                around.push(object, mark);
                mark = mark_of(opened != 0);
            } else {
                around.push(object);
            }
            object = opened != 0;
            first = true;
            continue;
        }
        // The innermost container closes: what it made goes to the one it
        // is in, or out of the walk.
        leave_bracket();
        if (around.empty()) {
            if constexpr (std::is_same_v<Made, JsonObject>) {
                return take_entries(mark);
            } else if constexpr (std::is_same_v<Made, JsonArray>) {
                return take_elements(mark);
            } else {
                return Nothing{};
            }
        }
        if constexpr (P::kMakes) {
            const bool was_object = object;
            const std::size_t was_mark = mark;
            object = around.object();
            mark = around.mark();
            around.pop();
            const auto closed = [this, object](auto&& made) QC_INLINE_LAMBDA {
                if (object) {
                    open_entries_.back().second = JsonValue(std::forward<decltype(made)>(made));
                } else {
                    open_elements_.push(std::forward<decltype(made)>(made));
                }
            };
            if (was_object) {
                closed(take_entries(was_mark));
            } else {
                closed(take_elements(was_mark));
            }
        } else {
            object = around.object();
            around.pop();
        }
        first = false;
    }
}

template <class P, class Make>
[[gnu::always_inline]] inline decltype(auto) JsonReader::value(Make&& make) {
    // A scalar goes to `make` at once, a container once walked.
    const auto walked = [this, &make](bool object) -> decltype(auto) {
        if constexpr (P::kMakes) {
            return object ? make(walk<P, JsonObject>(true)) : make(walk<P, JsonArray>(false));
        } else {
            return make(walk<P, Nothing>(object));
        }
    };
    return on_value(peek_value(), Reading<P, Make, decltype(walked)>{*this, make, walked});
}

JsonValue JsonReader::read_value() {
    return value<Build>([](auto&& v) { return JsonValue(std::forward<decltype(v)>(v)); });
}

void JsonReader::read_entry(CompactString&& key) {
    value<Build>([this, &key](auto&& v) { open_entries_.push(std::move(key), std::forward<decltype(v)>(v)); });
}

JsonObject JsonReader::read_map() {
    if (peek_value() != '{') fail_invalid_type("a map");
    return walk<Build, JsonObject>(true);
}

void JsonReader::check_value() {
    value<Check>([](Nothing) {});
}

void JsonReader::skip_value() {
    value<Skip>([](Nothing) {});
}

JsonObject JsonReader::take_entries(std::size_t mark) {
    const std::size_t count = open_entries_.size() - mark;
    if (count < kOrderOnTake || count > KeyOrder::kMaxCount || entries_ascending(mark)) {
        // Made at their number at once, then filled.
        JsonObject::Entries entries(count, ArenaAllocator<JsonObject::value_type>(arena_));
        open_entries_.take(mark, entries.data());
        return JsonObject(std::move(entries));
    }
    // A large object out of order: its entries go from the stack straight
    // to their places, instead of being copied out and then moved about.
    // The order is found before the object's storage is made, so that the
    // sort's second buffer is gone by then.
    struct Keys {
        const detail::OpenStack<JsonObject::value_type>* stack;
        std::size_t mark;
    } const keys{&open_entries_, mark};
    const KeyOrder order(
        count,
        [](const void* at, std::size_t i) {
            const auto& k = *static_cast<const Keys*>(at);
            return (*k.stack)[k.mark + i].first.view();
        },
        &keys);
    JsonObject::Entries entries(count, ArenaAllocator<JsonObject::value_type>(arena_));
    open_entries_.take_ordered(mark, entries.data(), order);
    return JsonObject::from_ordered(std::move(entries), order.equal_keys());
}

bool JsonReader::entries_ascending(std::size_t mark) const noexcept {
    for (std::size_t i = mark + 1; i < open_entries_.size(); ++i) {
        if (!(open_entries_[i - 1].first < open_entries_[i].first)) return false;
    }
    return true;
}

JsonArray JsonReader::take_elements(std::size_t mark) {
    JsonArray array(open_elements_.size() - mark, ArenaAllocator<JsonValue>(arena_));
    open_elements_.take(mark, array.data());
    return array;
}

}  // namespace convert_engine::json
