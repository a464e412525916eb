#include "convert_engine/json/json_value.hpp"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <limits>
#include <numeric>
#include <stdexcept>
#include <vector>

namespace convert_engine::notebook {

// What keeps a document within a small multiple of its text.
static_assert(sizeof(JsonValue) <= 24);
static_assert(sizeof(JsonObject::value_type) <= 40);

namespace {

// Sorts `count` entries by key, equal keys in arrival order, without a
// merge buffer: their positions are sorted (a few bytes each), then each
// entry is moved once, following the cycles of that permutation.
template <class Index>
void sort_by_key(JsonObject::iterator first, std::size_t count) {
    std::vector<Index> order(count);
    std::iota(order.begin(), order.end(), Index{0});
    std::sort(order.begin(), order.end(), [first](Index a, Index b) {
        const int c = first[static_cast<std::ptrdiff_t>(a)].first.view().compare(first[static_cast<std::ptrdiff_t>(b)].first.view());
        return c < 0 || (c == 0 && a < b);
    });
    // order[k] is where the entry that belongs at k is now; a placed slot
    // is marked with its own index.
    for (std::size_t start = 0; start < count; ++start) {
        if (order[start] == start) continue;
        JsonObject::value_type held = std::move(first[static_cast<std::ptrdiff_t>(start)]);
        std::size_t k = start;
        while (order[k] != start) {
            const std::size_t from = order[k];
            first[static_cast<std::ptrdiff_t>(k)] = std::move(first[static_cast<std::ptrdiff_t>(from)]);
            order[k] = static_cast<Index>(k);
            k = from;
        }
        first[static_cast<std::ptrdiff_t>(k)] = std::move(held);
        order[k] = static_cast<Index>(k);
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
