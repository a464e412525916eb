#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "convert_engine/json/json_reader.hpp"
#include "convert_engine/json/unexpected.hpp"
#include "convert_engine/notebook/joined_text.hpp"
#include "convert_engine/notebook/model.hpp"
#include "convert_engine/notebook/parse.hpp"
#include "convert_engine/notebook/record_shapes.hpp"

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

// What read_declared_members does with a key no record field has: skip
// its value.
struct SkipOther {};

// The members of a record object, after its "{" up to its closing brace
// (not consumed): for a declared key, `meet(index)` before its colon, then
// `field(index)` at its value; any other key goes to `other(key)` with the
// offset at its colon, or has its value skipped.
template <std::size_t N, class Meet, class Field, class Other>
void read_declared_members(JsonReader& reader, const std::array<std::string_view, N>& keys, Meet&& meet,
                           Field&& field, Other&& other) {
    bool first = true;
    while (reader.object_next(first)) {
        const std::string_view key = reader.read_key();
        const int index = key_index(keys, key);
        if (index < 0) {
            if constexpr (std::is_same_v<std::remove_cvref_t<Other>, SkipOther>) {
                reader.object_colon();
                reader.skip_value();
            } else {
                other(key);
            }
            continue;
        }
        const auto i = static_cast<std::size_t>(index);
        meet(i);
        reader.object_colon();
        field(i);
    }
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

enum class RecordForm : std::uint8_t { Object, Array };

// The `more` of a shape whose array form is not open: never called.
struct NoMore {};

template <const auto& kShape>
[[noreturn, gnu::cold, gnu::noinline]] void fail_not_record(JsonReader& reader) {
    reader.fail_invalid_type(kShape.type_text());
}

template <const auto& kShape>
[[noreturn, gnu::cold, gnu::noinline]] void fail_short_array(std::size_t count) {
    JsonReader::fail_unplaced(kShape.short_array(count));
}

// Reads one record of the shape `kShape` (record_shapes.hpp) and returns the
// form it was given in, from either source:
// - the text (`source` is the reader, before the value): an object, or an
//   array unless the shape has none; anything else fails with the shape's
//   type. Each container takes a unit of the nesting budget, and the
//   record's own failures are placed after its closing step.
//   `field(f)` reads the value of field `f` at the offset; `other(key)` takes
//   any other key of the object at its colon (the default skips its value);
//   an open array form hands each element after the tag to `more()`.
// - the fields a first step kept from the text (a variant's), in text order:
//   `source.object_form`, `source.list` (the kept fields), `source.count`
//   (array form: the elements given, the first of them kept) and
//   `source.position<kShape>(kept)`, a kept entry's place among the shape's
//   fields or -1. `field(f, kept)` takes field `f` from it. Failures are
//   left unplaced, for the list around to place.
// In both, a declared key met twice fails as a duplicate (before its colon),
// required fields missing from the object fail in field order, an array
// that ends before a field without a default is too short, and one with
// more elements than fields is refused: by the closing bracket expected
// (text), or by their number (kept fields).
template <const auto& kShape, class Source, class Field, class Other = SkipOther, class More = NoMore>
RecordForm read_record(Source& source, Field&& field, Other&& other = {}, More&& more = {}) {
    using Shape = std::remove_cvref_t<decltype(kShape)>;
    using F = typename Shape::Field;
    constexpr std::size_t N = Shape::kFields;
    static constexpr std::array<std::string_view, N> kKeys = kShape.keys();
    static constexpr std::array<bool, N> kRequired = [] {
        std::array<bool, N> required{};
        for (std::size_t i = 0; i < N; ++i) required[i] = kShape.required_in_object(i);
        return required;
    }();
    constexpr std::size_t kMinElements = kShape.min_elements();
    constexpr bool kFromText = std::is_same_v<Source, JsonReader>;
    static_assert(kFromText == (kShape.array != ArrayForm::Counted), "only a variant is read from kept fields");

    std::array<bool, N> seen{};
    const auto meet = [&](std::size_t i) {
        if (seen[i]) JsonReader::fail_unplaced(duplicate_field(kKeys[i]));
        seen[i] = true;
    };
    const auto check_present = [&] {
        for (std::size_t i = 0; i < N; ++i)
            if (kRequired[i] && !seen[i]) JsonReader::fail_unplaced(missing_field(kKeys[i]));
    };
    if constexpr (kFromText) {
        JsonReader& r = source;
        const int c = r.peek_value();
        RecordForm form = RecordForm::Object;
        if (c == '{') {
            r.enter();
            r.within_object([&] {
                read_declared_members(r, kKeys, meet, [&](std::size_t i) { field(F(i)); }, other);
                check_present();
            });
        } else if (kShape.array != ArrayForm::None && c == '[') {
            form = RecordForm::Array;
            r.enter();
            r.within_array([&] {
                ArrayFields elements(r);
                std::size_t count = 0;
                for (; count < N && elements.next(); ++count) field(F(count));
                if (count < kMinElements) fail_short_array<kShape>(count);
                if constexpr (kShape.array == ArrayForm::Open) {
                    while (elements.next()) more();
                } else {
                    elements.finish();
                }
            });
        } else {
            fail_not_record<kShape>(r);
        }
        r.leave();
        return form;
    } else {
        if (source.object_form) {
            for (auto& kept : source.list) {
                const int at = source.template position<kShape>(kept);
                if (at < 0) continue;
                meet(static_cast<std::size_t>(at));
                field(F(at), kept);
            }
            check_present();
            return RecordForm::Object;
        }
        std::size_t count = 0;
        for (; count < N && count < source.count; ++count) field(F(count), source.list[count]);
        if (count < kMinElements) fail_short_array<kShape>(count);
        if (source.count > N) JsonReader::fail_unplaced(invalid_length(source.count, json::expected_elements(N)));
        return RecordForm::Array;
    }
}

inline std::optional<std::string> read_optional_text(JsonReader& reader) {
    if (reader.take_null()) return std::nullopt;
    return reader.read_text();
}

inline std::optional<JsonValue> read_optional_value(JsonReader& reader) {
    if (reader.take_null()) return std::nullopt;
    return reader.read_value();
}

}  // namespace convert_engine::notebook::detail
