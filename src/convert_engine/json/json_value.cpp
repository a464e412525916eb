#include "convert_engine/json/json_value.hpp"

#include <algorithm>
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

// Sorts `count` entries by key, equal keys in arrival order, without a
// merge buffer: pairs of (the 8 bytes after the keys' shared prefix, the
// arrival position) are sorted, the keys themselves compared only on a tie
// of the 8 bytes, then each entry is moved once, following the cycles of
// that permutation.
template <class Index>
void sort_by_key(JsonObject::iterator first, std::size_t count) {
    struct Ranked {
        std::uint64_t rank;
        Index position;
    };
    const auto at = [first](std::size_t i) -> JsonObject::value_type& { return first[static_cast<std::ptrdiff_t>(i)]; };
    const std::size_t shared = shared_prefix(first, count);
    // A large one is mapped, so that its pages go back once sorted.
    const detail::MappedAllocator<Ranked> pages(count * sizeof(Ranked) >= (std::size_t{1} << 20));
    std::vector<Ranked, detail::MappedAllocator<Ranked>> order(count, pages);
    for (std::size_t i = 0; i < count; ++i) order[i] = {rank_bytes(at(i).first.view(), shared), static_cast<Index>(i)};
    std::sort(order.begin(), order.end(), [&at](const Ranked& a, const Ranked& b) {
        if (a.rank != b.rank) return a.rank < b.rank;
        const int c = at(a.position).first.view().compare(at(b.position).first.view());
        return c < 0 || (c == 0 && a.position < b.position);
    });
    // order[k].position is where the entry that belongs at k is now; a
    // placed slot is marked with its own index.
    for (std::size_t start = 0; start < count; ++start) {
        if (order[start].position == start) continue;
        JsonObject::value_type held = std::move(at(start));
        std::size_t k = start;
        while (order[k].position != start) {
            const std::size_t from = order[k].position;
            at(k) = std::move(at(from));
            order[k].position = static_cast<Index>(k);
            k = from;
        }
        at(k) = std::move(held);
        order[k].position = static_cast<Index>(k);
    }
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
