#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "convert_engine/json/json_reader.hpp"
#include "convert_engine/json/unexpected.hpp"
#include "convert_engine/notebook/joined_text.hpp"
#include "convert_engine/notebook/model.hpp"
#include "convert_engine/notebook/parse.hpp"

namespace convert_engine::notebook::detail {

// The JSON layer's reader and its failures, by their short names here.
using json::duplicate_field;
using json::ErrorKind;
using json::invalid_length;
using json::invalid_type;
using json::invalid_value;
using json::JsonReader;
using json::missing_field;
using json::ReadError;
using json::unknown_variant;


// The record readers. Each takes the reader before a value (whitespace may
// come first) and leaves it after the value, or throws a ReadError.
Notebook read_notebook(JsonReader& reader, ReadOptions options = {});
// `empty_extra`: the other keys' values are checked, not kept.
NotebookMetadata read_notebook_metadata(JsonReader& reader, bool empty_extra = false);
// Fills `cell`, a default one, in place: cells are read straight into the
// notebook's list.
void read_cell(JsonReader& reader, Cell& cell, ReadOptions options = {});
CellType read_cell_type(JsonReader& reader);
void read_cell_source(JsonReader& reader, CellSource& source);
// How an output is read. A `dropped` one keeps nothing: every field is read
// for its failures only, and only what a failure of the building step needs
// is kept. With `empty_metadata`, an object under "metadata" is checked and
// left empty.
struct OutputReading {
    bool dropped = false;
    bool empty_metadata = false;
};
CellOutput read_output(JsonReader& reader, OutputReading reading = {});
// A map that `empty` says is not kept: an object is checked and left empty;
// any other value fails as read_map does.
JsonObject read_map_or_check(JsonReader& reader, bool empty);

// Whether two texts are the same: a key of 4 to 16 bytes by two
// overlapping words each, with no call.
inline bool same_text(std::string_view a, std::string_view b) noexcept {
    const std::size_t n = a.size();
    if (n != b.size()) return false;
    const auto load = [](const char* p, auto word) {
        std::memcpy(&word, p, sizeof word);
        return word;
    };
    if (n >= 8 && n <= 16) {
        return load(a.data(), std::uint64_t{}) == load(b.data(), std::uint64_t{}) &&
               load(a.data() + n - 8, std::uint64_t{}) == load(b.data() + n - 8, std::uint64_t{});
    }
    if (n >= 4 && n < 8) {
        return load(a.data(), std::uint32_t{}) == load(b.data(), std::uint32_t{}) &&
               load(a.data() + n - 4, std::uint32_t{}) == load(b.data() + n - 4, std::uint32_t{});
    }
    return a == b;
}

// Position of `key` among a record's declared keys, or -1: one test after
// another, unrolled, most of them on the size alone.
template <std::size_t N>
inline int key_index(const std::array<std::string_view, N>& keys, std::string_view key) noexcept {
    int found = -1;
    [&]<std::size_t... I>(std::index_sequence<I...>) {
        static_cast<void>(((same_text(keys[I], key) ? (found = static_cast<int>(I), true) : false) || ...));
    }(std::make_index_sequence<N>{});
    return found;
}

// The members of a record object, after its "{" up to its closing brace
// (not consumed): a declared key is handed to `field(index)` once, a repeat
// fails with "duplicate field" before its colon, and the value of every
// other key is skipped. Returns which declared keys were met.
template <std::size_t N, class Field>
std::array<bool, N> read_declared_members(JsonReader& reader, const std::array<std::string_view, N>& keys,
                                          Field&& field) {
    std::array<bool, N> seen{};
    bool first = true;
    while (reader.object_next(first)) {
        const int index = key_index(keys, reader.read_key());
        if (index < 0) {
            reader.object_colon();
            reader.skip_value();
            continue;
        }
        const auto i = static_cast<std::size_t>(index);
        if (seen[i]) JsonReader::fail_unplaced(duplicate_field(keys[i]));
        seen[i] = true;
        reader.object_colon();
        field(i);
    }
    return seen;
}

// A record given in array form, walked element by element after its "[".
class ArrayFields {
public:
    explicit ArrayFields(JsonReader& reader) noexcept : reader_(reader) {}
    // True with the offset at the next element; false once the array ended.
    bool next() {
        if (ended_) return false;
        if (reader_.list_next(first_)) return true;
        ended_ = true;
        return false;
    }
    // After the fields: a surplus element or comma is refused.
    void finish() {
        if (!ended_) reader_.record_array_end();
    }

private:
    JsonReader& reader_;
    bool first_ = true;
    bool ended_ = false;
};

inline std::optional<std::string> read_optional_text(JsonReader& reader) {
    if (reader.take_null()) return std::nullopt;
    return reader.read_text();
}

inline std::optional<JsonValue> read_optional_value(JsonReader& reader) {
    if (reader.take_null()) return std::nullopt;
    return reader.read_value();
}

}  // namespace convert_engine::notebook::detail
