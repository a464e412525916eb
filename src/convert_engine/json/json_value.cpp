#include "convert_engine/json/json_value.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <limits>
#include <stdexcept>
#include <string_view>
#include <utility>
#include <vector>

#include "convert_engine/json/mapped_allocator.hpp"

namespace convert_engine::json {

// What keeps a document within a small multiple of its text.
static_assert(sizeof(JsonValue) <= 24);
static_assert(sizeof(JsonObject::value_type) <= 40);

namespace {

std::uint64_t load_word(const char* bytes) noexcept {
    std::uint64_t word = 0;
    std::memcpy(&word, bytes, sizeof word);
    return word;
}

// The first 8 bytes at `bytes`, the first one most significant.
std::uint64_t load_big_endian(const char* bytes) noexcept {
    const std::uint64_t word = load_word(bytes);
    return std::endian::native == std::endian::little ? __builtin_bswap64(word) : word;
}

// How many leading bytes, up to `limit`, `key` shares with `head`: eight
// at a time while both have them, the first that differs found from the
// highest differing bit of the words.
std::size_t common_prefix(std::string_view key, std::string_view head, std::size_t limit) noexcept {
    const std::size_t n = std::min({limit, key.size(), head.size()});
    std::size_t same = 0;
    for (; same + 8 <= n; same += 8) {
        const std::uint64_t differ = load_big_endian(key.data() + same) ^ load_big_endian(head.data() + same);
        if (differ != 0) return same + static_cast<std::size_t>(std::countl_zero(differ)) / 8;
    }
    while (same < n && key[same] == head[same]) ++same;
    return same;
}

// Up to 8 bytes of `key` from `at`, the first one most significant, zeros
// past its end: keys whose 8-byte rank differs compare the same way.
std::uint64_t rank_bytes(std::string_view key, std::size_t at) noexcept {
    if (key.size() >= at + 8) return load_big_endian(key.data() + at);
    if (at >= key.size()) return 0;
    // Fewer than 8 bytes are left: the 8 that end the key, shifted up past
    // those before `at`, when the key has 8.
    if (key.size() >= 8) return load_big_endian(key.data() + key.size() - 8) << (8 * (at + 8 - key.size()));
    std::uint64_t rank = 0;
    for (std::size_t i = 0; i < 8; ++i) {
        const std::size_t k = at + i;
        rank = (rank << 8) | (k < key.size() ? static_cast<unsigned char>(key[k]) : 0U);
    }
    return rank;
}

// Keeps the bits of a rank that vary across an object's keys, packed at
// the bottom in their order: keys that differ in a few bits per byte
// (digits, say) then fit in fewer bits, and fewer passes sort them.
class Squeeze {
public:
    explicit Squeeze(std::uint64_t varying) noexcept : bits_(std::popcount(varying)) {
        for (std::uint64_t rest = varying; rest != 0;) {
            const auto top = static_cast<unsigned>(std::bit_width(rest));
            const auto width = static_cast<unsigned>(std::countl_one(rest << (64 - top)));
            runs_[run_count_++] = {top - width, width};
            rest &= ~(low_bits(width) << (top - width));
        }
    }
    int bits() const noexcept { return bits_; }
    std::uint64_t operator()(std::uint64_t rank) const noexcept {
        std::uint64_t squeezed = 0;
        for (std::size_t r = 0; r < run_count_; ++r) {
            // A run of all 64 bits is the only run, so nothing is lost to the shift.
            squeezed = (squeezed << (runs_[r].width & 63U)) | ((rank >> runs_[r].shift) & low_bits(runs_[r].width));
        }
        return squeezed;
    }

private:
    static std::uint64_t low_bits(unsigned width) noexcept {
        return width >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << width) - 1;
    }
    struct Run {
        unsigned shift;
        unsigned width;
    };
    Run runs_[32] = {};
    std::size_t run_count_ = 0;
    int bits_;
};

// The prefix that all the keys of an object share, and which bits of
// their ranks after it differ.
struct Spread {
    std::size_t shared;
    std::uint64_t varying;
};

template <class KeyOf>
Spread spread_of(const KeyOf& key_of, std::size_t count) noexcept {
    const std::string_view head = key_of(0);
    Spread spread{head.size(), 0};
    std::uint64_t head_rank = 0;
    for (std::size_t i = 1; i < count; ++i) {
        const std::string_view key = key_of(i);
        const std::size_t same = common_prefix(key, head, spread.shared);
        if (same < spread.shared) {
            // The ranks start earlier now, where every key so far agrees
            // with the head: what differed moves down by as many bytes.
            const std::size_t back = spread.shared - same;
            spread.varying = back >= 8 ? 0 : spread.varying >> (8 * back);
            spread.shared = same;
            head_rank = rank_bytes(head, same);
        }
        spread.varying |= rank_bytes(key, spread.shared) ^ head_rank;
    }
    return spread;
}

// A record of a key: the top 32 of its rank's varying bits above its
// index. Buffers of records are left unset when made: each is written in
// full before it is read, so the pages of a large one are written once.
using Record = std::uint64_t;
using Slot = KeyOrder::Slot;
using Records = KeyOrder::Records;
constexpr int kPositionBits = KeyOrder::kIndexBits;

// Sorts `records` by rank, stably, least significant digit first, through
// `spare` (as long as `records`); returns the one that holds the result.
// `bits` is how many low bits of the ranks can differ.
Records& radix_sort(Records& records, Records& spare, int bits) {
    constexpr int kMaxDigit = 12;
    const int passes = (bits + kMaxDigit - 1) / kMaxDigit;
    if (passes == 0) return records;
    spare.resize(records.size());
    const int width = (bits + passes - 1) / passes;
    const std::size_t digits = std::size_t{1} << width;
    const auto digit = [width, digits](Record r, int pass) {
        return static_cast<std::size_t>(r >> (kPositionBits + pass * width)) & (digits - 1);
    };
    // Where each digit of each pass starts, all counted in one read.
    std::vector<std::size_t> starts(static_cast<std::size_t>(passes) * digits);
    for (const Record r : records) {
        for (int pass = 0; pass < passes; ++pass) ++starts[static_cast<std::size_t>(pass) * digits + digit(r, pass)];
    }
    Records* from = &records;
    Records* to = &spare;
    for (int pass = 0; pass < passes; ++pass) {
        std::size_t* const next = starts.data() + static_cast<std::size_t>(pass) * digits;
        // A digit that all ranks share orders nothing.
        if (next[digit(records.front(), pass)] == records.size()) continue;
        for (std::size_t d = 0, sum = 0; d < digits; ++d) sum += std::exchange(next[d], sum);
        for (const Record r : *from) (*to)[next[digit(r, pass)]++] = r;
        std::swap(from, to);
    }
    return *from;
}

// Asks for the cache lines of [begin, end) ahead of their use.
template <class T>
void prefetch(const T* begin, const T* end) noexcept {
    constexpr std::size_t kLine = 64;
    const auto* bytes = reinterpret_cast<const char*>(begin);
    const auto size = static_cast<std::size_t>(reinterpret_cast<const char*>(end) - bytes);
    for (std::size_t at = 0; at < size; at += kLine) __builtin_prefetch(bytes + at, 1);
}

constexpr std::size_t kInCache = std::size_t{1} << 12;

// Moves entry i of [lo, hi), a range that fits in cache, to slot
// destination[i]: each entry is moved once, following the cycles of the
// permutation backwards from the slot to fill.
void place(JsonObject::iterator first, const Slot* destination, std::size_t lo, std::size_t hi) {
    const auto at = [first](std::size_t i) -> JsonObject::value_type& { return first[static_cast<std::ptrdiff_t>(i)]; };
    // The range was last written long ago: fetch it in one sweep rather
    // than by a miss per entry of its cycles.
    prefetch(&at(lo), &at(hi - 1) + 1);
    // source[k - lo] is where the entry that belongs at k is now; a slot
    // placed is marked with its own index.
    std::vector<std::size_t> source(hi - lo);
    for (std::size_t i = lo; i < hi; ++i) source[destination[i] - lo] = i;
    for (std::size_t start = lo; start < hi; ++start) {
        if (source[start - lo] == start) continue;
        JsonObject::value_type held = std::move(at(start));
        std::size_t k = start;
        for (std::size_t from = source[k - lo]; from != start; from = source[k - lo]) {
            at(k) = std::move(at(from));
            source[k - lo] = k;
            k = from;
        }
        at(k) = std::move(held);
        source[k - lo] = k;
    }
}

// Moves entry i of [lo, hi) to slot destination[i]. A range too large for
// the cache is first split by the high bits of the destinations into
// ranges of consecutive slots, each entry moved straight to the next free
// slot of its range, so that all writes go to a few cursors walking forward
// (fetched a little ahead); each range is then placed alone.
void permute(JsonObject::iterator first, Slot* destination, std::size_t lo, std::size_t hi) {
    if (hi - lo <= kInCache) {
        place(first, destination, lo, hi);
        return;
    }
    constexpr int kFanBits = 8;
    constexpr std::size_t kAhead = 4;
    const int shift = static_cast<int>(std::bit_width(hi - lo - 1)) - kFanBits;
    const std::size_t ranges = ((hi - lo - 1) >> shift) + 1;
    const auto range_of = [lo, shift](std::size_t slot) { return (slot - lo) >> shift; };
    const auto at = [first](std::size_t i) -> JsonObject::value_type& { return first[static_cast<std::ptrdiff_t>(i)]; };
    std::vector<std::size_t> next(ranges);
    for (std::size_t r = 0; r < ranges; ++r) next[r] = lo + (r << shift);
    // Two holders taking turns: the entry being carried, and the one it
    // displaces.
    JsonObject::value_type held[2];
    for (std::size_t r = 0; r < ranges; ++r) {
        const std::size_t end = std::min(hi, lo + ((r + 1) << shift));
        while (next[r] < end) {
            const std::size_t start = next[r];
            std::size_t to = destination[start];
            if (range_of(to) == r) {
                ++next[r];
                continue;
            }
            held[0] = std::move(at(start));
            std::size_t h = 0;
            do {
                const std::size_t slot = next[range_of(to)]++;
                const std::size_t ahead = std::min(slot + kAhead, hi - 1);
                __builtin_prefetch(&at(ahead), 1);
                __builtin_prefetch(destination + ahead, 1);
                const std::size_t displaced_to = destination[slot];
                held[h ^ 1] = std::move(at(slot));
                at(slot) = std::move(held[h]);
                destination[slot] = to;
                h ^= 1;
                to = displaced_to;
            } while (range_of(to) != r);
            at(start) = std::move(held[h]);
            destination[start] = to;
            ++next[r];
        }
    }
    for (std::size_t r = 0; r < ranges; ++r) {
        const std::size_t from = lo + (r << shift);
        permute(first, destination, from, std::min(hi, from + (std::size_t{1} << shift)));
    }
}

// Sorts `count` entries by key, equal keys in arrival order, each entry
// moved to its place once. Returns whether two keys are equal.
bool sort_by_key(JsonObject::iterator first, std::size_t count) {
    KeyOrder order(
        count,
        [](const void* entries, std::size_t i) { return static_cast<const JsonObject::value_type*>(entries)[i].first.view(); },
        &*first);
    const bool equal_keys = order.equal_keys();
    Records destination = std::move(order).places();
    permute(first, destination.data(), 0, count);
    return equal_keys;
}

}  // namespace

// Records of (the varying bits among the 8 bytes after the keys' shared
// prefix, the index) are radix-sorted, then records of equal ranks by their
// whole keys (a small set's all at once). Equal keys have equal ranks, so
// only runs of equal ranks can hold them: a large set of distinct keys is
// not compared again.
KeyOrder::KeyOrder(std::size_t count, KeyAt key_at, const void* keys) {
    constexpr std::size_t kSmall = 64;
    constexpr Record kPosition = kIndex;
    const auto key = [key_at, keys](std::size_t i) { return key_at(keys, i); };
    const Spread spread = spread_of(key, count);
    const Squeeze squeeze(count <= kSmall ? 0 : spread.varying);
    const int dropped = std::max(squeeze.bits() - kPositionBits, 0);
    // Large buffers are mapped, so that their pages go back once sorted.
    const detail::MappedAllocator<Slot> pages(count * sizeof(Slot) >= (std::size_t{1} << 20));
    Records records(count, pages);
    for (std::size_t i = 0; i < count; ++i) {
        records[i] = (squeeze(rank_bytes(key(i), spread.shared)) >> dropped) << kPositionBits | i;
    }
    Records spare(pages);
    Records& sorted = radix_sort(records, spare, squeeze.bits() - dropped);
    const auto by_key = [&key](Record a, Record b) {
        const int c = key(a & kPosition).compare(key(b & kPosition));
        return c < 0 || (c == 0 && a < b);
    };
    for (auto run = sorted.begin(); run != sorted.end();) {
        const auto run_end =
            std::find_if(run + 1, sorted.end(), [run](Record r) { return (r ^ *run) > kPosition; });
        if (run_end - run > 1) {
            std::sort(run, run_end, by_key);
            equal_keys_ = equal_keys_ || std::adjacent_find(run, run_end, [&key](Record a, Record b) {
                                             return key(a & kPosition) == key(b & kPosition);
                                         }) != run_end;
        }
        run = run_end;
    }
    // The other buffer goes back now.
    sorted_ = std::move(sorted);
}

KeyOrder::Records KeyOrder::places() && {
    Records destination(sorted_.size(), sorted_.get_allocator());
    for (std::size_t k = 0; k < sorted_.size(); ++k) destination[sorted_[k] & kIndex] = k;
    sorted_ = Records(sorted_.get_allocator());
    return destination;
}

JsonObject::JsonObject(std::initializer_list<value_type> entries) : JsonObject(Entries(entries)) {}

JsonObject::JsonObject(const Entries& entries) : JsonObject(Entries(entries)) {}

JsonObject::JsonObject(Entries&& entries) : entries_(std::move(entries)) {
    entries_.erase(sort_keep_last(entries_.begin(), entries_.end()), entries_.end());
}

JsonObject::iterator JsonObject::sort_keep_last(iterator first, iterator last) {
    // Most objects arrive sorted already (notebooks are written with sorted
    // keys), so one look decides whether anything needs to move.
    const auto not_ascending = [](const value_type& a, const value_type& b) { return !(a.first < b.first); };
    if (std::adjacent_find(first, last, not_ascending) == last) return last;
    const auto count = static_cast<std::size_t>(last - first);
    if (count <= KeyOrder::kMaxCount) {
        if (!sort_by_key(first, count)) return last;
    } else {
        std::stable_sort(first, last, [](const value_type& a, const value_type& b) { return a.first < b.first; });
    }
    return keep_last(first, last);
}

JsonObject JsonObject::from_ordered(Entries&& entries, bool equal_keys) {
    JsonObject object;
    object.entries_ = std::move(entries);
    if (equal_keys) object.entries_.erase(keep_last(object.entries_.begin(), object.entries_.end()), object.entries_.end());
    return object;
}

JsonObject::iterator JsonObject::keep_last(iterator first, iterator last) {
    iterator out = first;
    for (iterator it = first; it != last;) {
        iterator run_end = std::next(it);
        while (run_end != last && run_end->first == it->first) ++run_end;
        const iterator kept = std::prev(run_end);
        if (out != kept) *out = std::move(*kept);
        ++out;
        it = run_end;
    }
    return out;
}

JsonObject::iterator JsonObject::find(std::string_view key) noexcept {
    const auto it = std::lower_bound(entries_.begin(), entries_.end(), key,
                                     [](const value_type& e, std::string_view k) { return e.first.view() < k; });
    return it != entries_.end() && it->first == key ? it : entries_.end();
}

JsonObject::const_iterator JsonObject::find(std::string_view key) const noexcept {
    return const_cast<JsonObject*>(this)->find(key);
}

const JsonValue& JsonObject::at(std::string_view key) const {
    const auto it = find(key);
    if (it == end()) throw std::out_of_range("JsonObject::at: no such key");
    return it->second;
}

}  // namespace convert_engine::json
