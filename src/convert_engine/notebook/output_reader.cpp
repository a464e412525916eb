#include <array>
#include <limits>
#include <utility>
#include <vector>

#include "convert_engine/notebook/record_readers.hpp"
#include "convert_engine/notebook/unexpected.hpp"

namespace convert_engine::notebook::detail {

namespace {

// An output is read in two steps: first the whole output from the text, its
// tag checked and every other entry kept as a JSON value, in text order and
// with repeats; then the variant is built from what was kept. Failures of
// the second step are left unplaced for the outputs list to place.

enum class OutputKind { Stream, DisplayData, ExecuteResult, Error };

using Entries = std::vector<std::pair<std::string, JsonValue>>;

OutputKind read_tag(JsonReader& r) {
    if (r.peek_value() != '"') r.fail_invalid_type("variant identifier");
    const std::string_view tag = r.read_string();
    if (tag == "stream") return OutputKind::Stream;
    if (tag == "display_data") return OutputKind::DisplayData;
    if (tag == "execute_result") return OutputKind::ExecuteResult;
    if (tag == "error") return OutputKind::Error;
    r.fail_at_point(r.offset(), unknown_variant(tag, "`stream`, `display_data`, `execute_result`, `error`"));
}

[[noreturn]] void fail_type(const JsonValue& value, std::string_view expected) {
    JsonReader::fail_unplaced(invalid_type(unexpected_value(value), expected));
}

std::string take_text(JsonValue& value) {
    auto* text = std::get_if<std::string>(&value.value);
    if (text == nullptr) fail_type(value, "a string");
    return std::move(*text);
}

JsonObject take_map(JsonValue& value) {
    auto* object = std::get_if<JsonObject>(&value.value);
    if (object == nullptr) fail_type(value, "a map");
    return std::move(*object);
}

std::vector<std::string> take_text_list(JsonValue& value) {
    auto* items = std::get_if<JsonArray>(&value.value);
    if (items == nullptr) fail_type(value, "a sequence");
    std::vector<std::string> lines;
    lines.reserve(items->size());
    for (JsonValue& item : *items) lines.push_back(take_text(item));
    return lines;
}

std::optional<std::uint32_t> take_optional_u32(const JsonValue& value) {
    if (value.is_null()) return std::nullopt;
    if (const auto* u = std::get_if<std::uint64_t>(&value.value)) {
        if (*u <= std::numeric_limits<std::uint32_t>::max()) return static_cast<std::uint32_t>(*u);
        JsonReader::fail_unplaced("invalid value: " + unexpected_unsigned(*u) + ", expected u32");
    }
    if (const auto* i = std::get_if<std::int64_t>(&value.value))
        JsonReader::fail_unplaced("invalid value: " + unexpected_signed(*i) + ", expected u32");
    fail_type(value, "u32");
}

// One variant's declared fields, filled from the entries of the object
// form or from the elements of the array form.
template <std::size_t N>
struct VariantShape {
    std::array<std::string_view, N> keys;
    unsigned required;           // bit i: key i must be present (object form)
    std::size_t min_elements;    // array form: fields that must be present
    std::string_view length_text;
};

template <std::size_t N, class Set>
void fill_from_entries(Entries& entries, const VariantShape<N>& shape, Set&& set) {
    bool seen[N] = {};
    for (auto& [key, value] : entries) {
        const int index = key_index(shape.keys, key);
        if (index < 0) continue;
        const auto i = static_cast<std::size_t>(index);
        if (seen[i]) JsonReader::fail_unplaced(duplicate_field(shape.keys[i]));
        seen[i] = true;
        set(i, value);
    }
    for (std::size_t i = 0; i < N; ++i)
        if (((shape.required >> i) & 1U) != 0 && !seen[i]) JsonReader::fail_unplaced(missing_field(shape.keys[i]));
}

template <std::size_t N, class Set>
void fill_from_elements(std::vector<JsonValue>& elements, const VariantShape<N>& shape, Set&& set) {
    for (std::size_t i = 0; i < N; ++i) {
        if (i == elements.size()) {
            if (i < shape.min_elements) JsonReader::fail_unplaced(invalid_length(i, shape.length_text));
            return;
        }
        set(i, elements[i]);
    }
    if (elements.size() > N)
        JsonReader::fail_unplaced(invalid_length(elements.size(), std::to_string(N) + " elements in sequence"));
}

constexpr VariantShape<2> kStream{{"name", "text"}, 0b11, 2, "struct variant CellOutput::Stream with 2 elements"};
constexpr VariantShape<2> kDisplayData{
    {"data", "metadata"}, 0b01, 1, "struct variant CellOutput::DisplayData with 2 elements"};
constexpr VariantShape<3> kExecuteResult{{"execution_count", "data", "metadata"},
                                     0b010,
                                     2,
                                     "struct variant CellOutput::ExecuteResult with 3 elements"};
constexpr VariantShape<3> kError{
    {"ename", "evalue", "traceback"}, 0b111, 3, "struct variant CellOutput::Error with 3 elements"};

// `Source` is the kept entries (object form) or elements (array form).
template <class Source, class Fill>
CellOutput build(OutputKind kind, Source& source, Fill fill) {
    switch (kind) {
        case OutputKind::Stream: {
            CellOutput::Stream out;
            fill(source, kStream, [&](std::size_t i, JsonValue& v) {
                if (i == 0) out.name = take_text(v);
                else out.text = cell_source_from_value(std::move(v));
            });
            return CellOutput{std::move(out)};
        }
        case OutputKind::DisplayData: {
            CellOutput::DisplayData out;
            fill(source, kDisplayData, [&](std::size_t i, JsonValue& v) {
                (i == 0 ? out.data : out.metadata) = take_map(v);
            });
            return CellOutput{std::move(out)};
        }
        case OutputKind::ExecuteResult: {
            CellOutput::ExecuteResult out;
            fill(source, kExecuteResult, [&](std::size_t i, JsonValue& v) {
                if (i == 0) out.execution_count = take_optional_u32(v);
                else (i == 1 ? out.data : out.metadata) = take_map(v);
            });
            return CellOutput{std::move(out)};
        }
        case OutputKind::Error:
            break;
    }
    CellOutput::Error out;
    fill(source, kError, [&](std::size_t i, JsonValue& v) {
        if (i == 0) out.ename = take_text(v);
        else if (i == 1) out.evalue = take_text(v);
        else out.traceback = take_text_list(v);
    });
    return CellOutput{std::move(out)};
}

struct FromEntries {
    template <std::size_t N, class Set>
    void operator()(Entries& entries, const VariantShape<N>& shape, Set&& set) const {
        fill_from_entries(entries, shape, std::forward<Set>(set));
    }
};

struct FromElements {
    template <std::size_t N, class Set>
    void operator()(std::vector<JsonValue>& elements, const VariantShape<N>& shape, Set&& set) const {
        fill_from_elements(elements, shape, std::forward<Set>(set));
    }
};

}  // namespace

CellOutput read_output(JsonReader& r) {
    const int c = r.peek_value();
    if (c == '{') {
        r.enter();
        Entries entries;
        entries.reserve(4);  // an output rarely has more entries than its variant's fields
        std::optional<OutputKind> kind;
        r.within_object([&] {
            bool first = true;
            while (r.object_next(first)) {
                const std::string_view key = r.read_key();
                if (key == "output_type") {
                    if (kind) JsonReader::fail_unplaced(duplicate_field(key));
                    r.object_colon();
                    kind = read_tag(r);
                    continue;
                }
                std::string name(key);
                r.object_colon();
                JsonValue value = r.read_value();
                entries.emplace_back(std::move(name), std::move(value));
            }
            if (!kind) JsonReader::fail_unplaced(missing_field("output_type"));
        });
        r.leave();
        return build(*kind, entries, FromEntries{});
    }
    if (c == '[') {
        r.enter();
        std::vector<JsonValue> elements;
        OutputKind kind = OutputKind::Stream;
        r.within_array([&] {
            bool first = true;
            if (!r.list_next(first)) JsonReader::fail_unplaced(missing_field("output_type"));
            kind = read_tag(r);
            while (r.list_next(first)) elements.push_back(r.read_value());
        });
        r.leave();
        return build(kind, elements, FromElements{});
    }
    r.fail_invalid_type("internally tagged enum CellOutput");
}

}  // namespace convert_engine::notebook::detail
