#include "convert_engine/json/json_value.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <iterator>
#include <limits>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "convert_engine/json/mapped_allocator.hpp"

namespace convert_engine::notebook {

// What keeps a document within a small multiple of its text.
static_assert(sizeof(JsonValue) <= 24);
static_assert(sizeof(JsonObject::value_type) <= 40);

namespace {

// The length of the prefix that all the keys of [first, first + count) share.
std::size_t shared_prefix(JsonObject::const_iterator first, std::size_t count) noexcept {
    const std::string_view head = first->first.view();
    std::size_t shared = head.size();
    for (std::size_t i = 1; i < count && shared != 0; ++i) {
        const std::string_view key = first[static_cast<std::ptrdiff_t>(i)].first.view();
        const std::size_t n = std::min(shared, key.size());
        std::size_t same = 0;
        while (same < n && key[same] == head[same]) ++same;
        shared = same;
    }
    return shared;
}

// Up to 8 bytes of `key` from `at`, the first one most significant, zeros
// past its end: keys whose 8-byte rank differs compare the same way.
std::uint64_t rank_bytes(std::string_view key, std::size_t at) noexcept {
    std::uint64_t rank = 0;
    for (std::size_t i = 0; i < 8; ++i) {
        const std::size_t k = at + i;
        rank = (rank << 8) | (k < key.size() ? static_cast<unsigned char>(key[k]) : 0U);
    }
    return rank;
}

// An entry's rank and arrival position, in 12 bytes when the position
// takes 4: the rank in two halves, so that nothing pads the record.
template <class Index>
struct Ranked {
    std::uint32_t high = 0;
    std::uint32_t low = 0;
    Index position = 0;

    Ranked() = default;
    Ranked(std::uint64_t rank, std::size_t at) noexcept : position(static_cast<Index>(at)) { set_rank(rank); }
    std::uint64_t rank() const noexcept { return std::uint64_t{high} << 32 | low; }
    void set_rank(std::uint64_t rank) noexcept {
        high = static_cast<std::uint32_t>(rank >> 32);
        low = static_cast<std::uint32_t>(rank);
    }
};

// Drops the bits that all the ranks share, keeping the order: keys that
// differ in a few bits per byte (digits, say) then need fewer passes of the
// radix sort below. Returns how many bits remain, at the bottom of each rank.
template <class Index>
int squeeze_ranks(Ranked<Index>* records, std::size_t count) noexcept {
    std::uint64_t varying = 0;
    for (std::size_t i = 1; i < count; ++i) varying |= records[i].rank() ^ records[0].rank();
    const auto low_bits = [](unsigned width) { return width >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << width) - 1; };
    // The runs of varying bits, highest first.
    struct Run {
        unsigned shift;
        unsigned width;
    };
    Run runs[32];
    std::size_t run_count = 0;
    for (std::uint64_t rest = varying; rest != 0;) {
        const auto top = static_cast<unsigned>(std::bit_width(rest));
        const auto width = static_cast<unsigned>(std::countl_one(rest << (64 - top)));
        runs[run_count++] = {top - width, width};
        rest &= ~(low_bits(width) << (top - width));
    }
    if (run_count == 1 && runs[0].shift == 0) return static_cast<int>(runs[0].width);
    for (std::size_t i = 0; i < count; ++i) {
        std::uint64_t squeezed = 0;
        for (std::size_t r = 0; r < run_count; ++r) {
            squeezed = (squeezed << runs[r].width) | ((records[i].rank() >> runs[r].shift) & low_bits(runs[r].width));
        }
        records[i].set_rank(squeezed);
    }
    return std::popcount(varying);
}

// Sorts the records by rank, 8 bits at a time from the top of the `bits`
// that vary, each pass splitting a range into up to 256 in place; a small
// range, or one whose ranks are all equal, goes to `tie_break`, which orders
// by the whole key and then by position. A window that does not split a
// range costs one count.
template <class Index, class Less>
void radix_sort(Ranked<Index>* records, std::size_t count, int bits, const Less& tie_break) {
    constexpr std::size_t kSmall = 64;
    while (count > kSmall && bits > 0) {
        const auto shift = static_cast<unsigned>(std::max(bits - 8, 0));
        const auto digit = [shift](const Ranked<Index>& r) { return static_cast<std::size_t>((r.rank() >> shift) & 0xFFU); };
        std::size_t counts[256] = {};
        for (std::size_t i = 0; i < count; ++i) ++counts[digit(records[i])];
        if (counts[digit(records[0])] == count) {
            bits = static_cast<int>(shift);
            continue;
        }
        std::size_t next[256];
        std::size_t ends[256];
        for (std::size_t d = 0, sum = 0; d < 256; ++d) {
            next[d] = sum;
            sum += counts[d];
            ends[d] = sum;
        }
        // Each record goes straight to the next free slot of its digit; the
        // one found there is carried on, until one of the digit being
        // filled turns up.
        for (std::size_t d = 0; d < 256; ++d) {
            while (next[d] < ends[d]) {
                Ranked<Index> held = records[next[d]];
                for (std::size_t h = digit(held); h != d; h = digit(held)) std::swap(held, records[next[h]++]);
                records[next[d]++] = held;
            }
        }
        for (std::size_t d = 0, from = 0; d < 256; from = ends[d], ++d) {
            if (counts[d] > 1) radix_sort(records + from, counts[d], static_cast<int>(shift), tie_break);
        }
        return;
    }
    std::sort(records, records + count, tie_break);
}

// Asks for the cache lines of [begin, end) ahead of their use.
template <class T>
void prefetch(const T* begin, const T* end) noexcept {
    constexpr std::size_t kLine = 64;
    const auto* bytes = reinterpret_cast<const char*>(begin);
    const auto size = static_cast<std::size_t>(reinterpret_cast<const char*>(end) - bytes);
    for (std::size_t at = 0; at < size; at += kLine) __builtin_prefetch(bytes + at, 1);
}

// Moves entry i of [lo, hi) to slot destination[i], keeping `destination`
// in step. A range that would not stay in cache is first split by the high
// bits of the destinations into ranges of consecutive slots, each entry
// moved straight to the next free slot of its range, so that all writes go
// to a few cursors walking forward; each range is then placed alone.
template <class Index>
void permute(JsonObject::iterator first, Index* destination, std::size_t lo, std::size_t hi) {
    constexpr int kFanBits = 8;
    constexpr std::size_t kInCache = std::size_t{1} << 12;
    const std::size_t span = hi - lo;
    const int width = static_cast<int>(std::bit_width(span - 1));
    const int shift = span <= kInCache ? 0 : std::max(width - kFanBits, 0);
    const std::size_t ranges = ((span - 1) >> shift) + 1;
    const auto range_of = [lo, shift](std::size_t slot) { return (slot - lo) >> shift; };
    const auto at = [first](std::size_t i) -> JsonObject::value_type& { return first[static_cast<std::ptrdiff_t>(i)]; };
    std::vector<std::size_t> next(ranges);
    for (std::size_t r = 0; r < ranges; ++r) next[r] = lo + (r << shift);
    if (shift == 0) {
        // The range was last written long ago, by the split above: fetch
        // it in one sweep rather than by a miss per entry of its cycles.
        prefetch(&at(lo), &at(hi - 1) + 1);
        prefetch(destination + lo, destination + hi);
    }
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
                const std::size_t displaced_to = destination[slot];
                held[h ^ 1] = std::move(at(slot));
                at(slot) = std::move(held[h]);
                destination[slot] = static_cast<Index>(to);
                h ^= 1;
                to = displaced_to;
            } while (range_of(to) != r);
            at(start) = std::move(held[h]);
            destination[start] = static_cast<Index>(to);
            ++next[r];
        }
    }
    if (shift == 0) return;
    for (std::size_t r = 0; r < ranges; ++r) {
        const std::size_t from = lo + (r << shift);
        permute(first, destination, from, std::min(hi, from + (std::size_t{1} << shift)));
    }
}

// Sorts `count` entries by key, equal keys in arrival order, without a
// merge buffer: records of (the 8 bytes after the keys' shared prefix, the
// arrival position) are sorted, the keys themselves compared only on a tie
// of the 8 bytes, then each entry is moved to its place.
template <class Index>
void sort_by_key(JsonObject::iterator first, std::size_t count) {
    const auto at = [first](std::size_t i) -> JsonObject::value_type& { return first[static_cast<std::ptrdiff_t>(i)]; };
    const std::size_t shared = shared_prefix(first, count);
    // Large ones are mapped, so that their pages go back once sorted.
    const bool large = count * sizeof(Ranked<Index>) >= (std::size_t{1} << 20);
    std::vector<Index, detail::MappedAllocator<Index>> destination(count, detail::MappedAllocator<Index>(large));
    {
        std::vector<Ranked<Index>, detail::MappedAllocator<Ranked<Index>>> order(
            count, detail::MappedAllocator<Ranked<Index>>(large));
        for (std::size_t i = 0; i < count; ++i) order[i] = Ranked<Index>(rank_bytes(at(i).first.view(), shared), i);
        radix_sort(order.data(), count, squeeze_ranks(order.data(), count),
                   [&at](const Ranked<Index>& a, const Ranked<Index>& b) {
                       if (a.rank() != b.rank()) return a.rank() < b.rank();
                       const int c = at(a.position).first.view().compare(at(b.position).first.view());
                       return c < 0 || (c == 0 && a.position < b.position);
                   });
        for (std::size_t k = 0; k < count; ++k) destination[order[k].position] = static_cast<Index>(k);
    }
    permute(first, destination.data(), 0, count);
}

}  // namespace

JsonObject::JsonObject(std::initializer_list<value_type> entries) : JsonObject(Entries(entries)) {}

JsonObject::JsonObject(Entries entries) : entries_(std::move(entries)) {
    entries_.erase(sort_keep_last(entries_.begin(), entries_.end()), entries_.end());
}

JsonObject::iterator JsonObject::sort_keep_last(iterator first, iterator last) {
    // Most objects arrive sorted already (notebooks are written with sorted
    // keys), so one look decides whether anything needs to move.
    const auto not_ascending = [](const value_type& a, const value_type& b) { return !(a.first < b.first); };
    if (std::adjacent_find(first, last, not_ascending) == last) return last;
    const auto count = static_cast<std::size_t>(last - first);
    if (count <= std::numeric_limits<std::uint32_t>::max()) {
        sort_by_key<std::uint32_t>(first, count);
    } else {
        sort_by_key<std::size_t>(first, count);
    }
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

}  // namespace convert_engine::notebook
