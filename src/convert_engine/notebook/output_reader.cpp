#include <array>
#include <cassert>
#include <limits>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "convert_engine/json/unexpected.hpp"
#include "convert_engine/notebook/record_readers.hpp"

namespace convert_engine::notebook::detail {

namespace {

using json::ArenaAllocator;
using json::unexpected_signed;
using json::unexpected_unsigned;
using json::unexpected_value;

// An output is read in two steps: first the whole output from the text, its
// tag checked and every other entry read whole as a JSON value; then the
// variant is built from what was kept, in text order. Failures of the
// second step are left unplaced for the outputs list to place.
//
// Only what the second step can reach is kept: the entries of keys that the
// variant declares (all declared keys while the tag is still unknown), up to
// and including the first repeat of one of them, where the second step
// stops at the latest. Every other entry is still read whole, for its errors,
// and dropped at once.

enum class OutputKind { Stream, DisplayData, ExecuteResult, Error };

// Every key that some variant declares.
constexpr std::array<std::string_view, 8> kFields = {"name",  "text",   "data",   "metadata", "execution_count",
                                                      "ename", "evalue", "traceback"};
constexpr std::size_t kName = 0;
constexpr std::size_t kText = 1;
constexpr std::size_t kData = 2;
constexpr std::size_t kMetadata = 3;
constexpr std::size_t kEname = 5;
constexpr std::size_t kEvalue = 6;
constexpr std::size_t kTraceback = 7;

// A kept entry (object form) or element (array form). A text field holds
// its lines joined as they were read in `text`, or none when the value was
// no text; every other field holds its value.
struct Held {
    std::size_t field = 0;  // in kFields
    JsonValue value;
    std::string text;
    bool not_text = false;
};

// Never more than two entries of each field are kept (see Kept), so they
// are held in place, with no allocation per output. Only the entries held
// are ever made or destroyed: an output usually holds two to four.
class HeldList {
public:
    static constexpr std::size_t kCapacity = 2 * kFields.size();

    HeldList() noexcept = default;
    HeldList(const HeldList&) = delete;
    HeldList& operator=(const HeldList&) = delete;
    ~HeldList() { destroy_from(0); }

    void push_back(Held&& held) noexcept {
        assert(size_ < kCapacity);
        ::new (static_cast<void*>(storage_ + size_ * sizeof(Held))) Held(std::move(held));
        ++size_;
    }
    // Drops the entries `drop` names, keeping the order of the others.
    template <class Drop>
    void erase_if(Drop&& drop) noexcept {
        std::size_t kept = 0;
        for (std::size_t i = 0; i < size_; ++i) {
            if (drop((*this)[i])) continue;
            if (kept != i) (*this)[kept] = std::move((*this)[i]);
            ++kept;
        }
        destroy_from(kept);
    }
    Held* begin() noexcept { return &(*this)[0]; }
    Held* end() noexcept { return begin() + size_; }
    std::size_t size() const noexcept { return size_; }
    Held& operator[](std::size_t i) noexcept {
        return *std::launder(reinterpret_cast<Held*>(storage_ + i * sizeof(Held)));
    }

private:
    void destroy_from(std::size_t first) noexcept {
        for (std::size_t i = first; i < size_; ++i) (*this)[i].~Held();
        size_ = first;
    }

    alignas(Held) unsigned char storage_[kCapacity * sizeof(Held)];
    std::size_t size_ = 0;
};

// A list whose strings are checked, not kept: only its first element that
// is no string is, whose type the second step reports.
JsonArray check_text_list(JsonReader& r) {
    JsonArray kept{ArenaAllocator<JsonValue>(r.arena())};
    r.enter();
    bool first = true;
    while (r.check_string_elements(first)) {
        if (kept.empty()) {
            kept.push_back(r.read_value());
        } else {
            r.check_value();
        }
    }
    r.leave();
    return kept;
}

// A dropped output's field, checked and kept empty when no failure of the
// building step needs its value: true once read, false (nothing read) for a
// value to be read whole, as its type failure describes it.
bool check_dropped(JsonReader& r, Held& held) {
    const int c = r.peek_value();
    switch (held.field) {
        case kText:
            held.not_text = !check_joined_text(r);
            return true;
        case kData:
        case kMetadata:
            if (c != '{') return false;
            r.check_value();
            held.value = JsonValue(JsonObject());
            return true;
        case kTraceback:
            if (c != '[') return false;
            held.value = check_text_list(r);
            return true;
        case kName:
        case kEname:
        case kEvalue:
            if (c != '"') return false;
            r.check_string();
            held.value = JsonValue(CompactString());
            return true;
        default:
            return false;
    }
}

Held read_held(JsonReader& r, std::size_t field, OutputReading reading) {
    Held held{field, {}, {}, false};
    if (reading.dropped && check_dropped(r, held)) return held;
    if (field == kMetadata && reading.empty_metadata && r.peek_value() == '{') {
        r.check_value();
        held.value = JsonValue(JsonObject());
    } else if (field == kText) {
        held.not_text = !read_joined_text(r, held.text);
    } else {
        held.value = r.read_value();
    }
    return held;
}

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

std::string take_text(const JsonValue& value) {
    const CompactString* text = value.as_string();
    if (text == nullptr) fail_type(value, "a string");
    return std::string(*text);
}

JsonObject take_map(JsonValue& value) {
    JsonObject* object = value.as_object();
    if (object == nullptr) fail_type(value, "a map");
    return std::move(*object);
}

std::vector<std::string> take_text_list(JsonValue& value) {
    JsonArray* items = value.as_array();
    if (items == nullptr) fail_type(value, "a sequence");
    std::vector<std::string> lines;
    lines.reserve(items->size());
    for (JsonValue& item : *items) lines.push_back(take_text(item));
    return lines;
}

CellSource take_source(Held& held) {
    if (held.not_text) fail_not_a_text();
    return CellSource{std::move(held.text)};
}

std::optional<std::uint32_t> take_optional_u32(const JsonValue& value) {
    if (value.is_null()) return std::nullopt;
    if (const auto* u = std::get_if<std::uint64_t>(&value.value)) {
        if (*u <= std::numeric_limits<std::uint32_t>::max()) return static_cast<std::uint32_t>(*u);
        JsonReader::fail_unplaced(invalid_value(unexpected_unsigned(*u), "u32"));
    }
    if (const auto* i = std::get_if<std::int64_t>(&value.value))
        JsonReader::fail_unplaced(invalid_value(unexpected_signed(*i), "u32"));
    fail_type(value, "u32");
}

// One variant's declared fields, filled from the entries of the object
// form or from the elements of the array form.
template <std::size_t N>
struct VariantShape {
    std::array<std::size_t, N> fields;  // in kFields
    unsigned required;           // bit i: field i must be present (object form)
    std::size_t min_elements;    // array form: fields that must be present
    std::string_view length_text;
};

constexpr VariantShape<2> kStream{{0, 1}, 0b11, 2, "struct variant CellOutput::Stream with 2 elements"};
constexpr VariantShape<2> kDisplayData{{2, 3}, 0b01, 1, "struct variant CellOutput::DisplayData with 2 elements"};
constexpr VariantShape<3> kExecuteResult{
    {4, 2, 3}, 0b010, 2, "struct variant CellOutput::ExecuteResult with 3 elements"};
constexpr VariantShape<3> kError{{5, 6, 7}, 0b111, 3, "struct variant CellOutput::Error with 3 elements"};

template <std::size_t N>
int position_in(const VariantShape<N>& shape, std::size_t field) noexcept {
    for (std::size_t i = 0; i < N; ++i)
        if (shape.fields[i] == field) return static_cast<int>(i);
    return -1;
}

// Calls `visit(shape)` with the shape of `kind`.
template <class Visit>
decltype(auto) with_shape(OutputKind kind, Visit&& visit) {
    switch (kind) {
        case OutputKind::Stream: return visit(kStream);
        case OutputKind::DisplayData: return visit(kDisplayData);
        case OutputKind::ExecuteResult: return visit(kExecuteResult);
        case OutputKind::Error: break;
    }
    return visit(kError);
}

bool declares(OutputKind kind, std::size_t field) {
    return with_shape(kind, [field](const auto& shape) { return position_in(shape, field) >= 0; });
}

// The object form's kept entries while the output is read.
class Kept {
public:
    // Whether an entry of `field` may still matter to the second step.
    bool wants(std::size_t field) const noexcept {
        if (closed_) return false;
        return kind_ ? declares(*kind_, field) : seen_[field] < 2;
    }
    void add(Held&& held) {
        const std::size_t field = held.field;
        entries_.push_back(std::move(held));
        if (++seen_[field] == 2 && kind_) closed_ = true;
    }
    // The tag is known: only its variant's entries stay.
    void set_kind(OutputKind kind) {
        kind_ = kind;
        entries_.erase_if([kind](const Held& held) { return !declares(kind, held.field); });
        seen_ = {};
        for (const Held& held : entries_)
            if (++seen_[held.field] == 2) closed_ = true;
    }
    bool has_kind() const noexcept { return kind_.has_value(); }
    OutputKind kind() const noexcept { return *kind_; }
    HeldList& entries() noexcept { return entries_; }

private:
    HeldList entries_;
    std::array<unsigned char, kFields.size()> seen_{};
    std::optional<OutputKind> kind_;
    bool closed_ = false;  // a declared field repeats: nothing later is reached
};

template <std::size_t N, class Set>
void fill_from_entries(HeldList& entries, std::size_t, const VariantShape<N>& shape, Set&& set) {
    bool seen[N] = {};
    for (Held& held : entries) {
        const int index = position_in(shape, held.field);
        if (index < 0) continue;
        const auto i = static_cast<std::size_t>(index);
        if (seen[i]) JsonReader::fail_unplaced(duplicate_field(kFields[shape.fields[i]]));
        seen[i] = true;
        set(i, held);
    }
    for (std::size_t i = 0; i < N; ++i)
        if (((shape.required >> i) & 1U) != 0 && !seen[i])
            JsonReader::fail_unplaced(missing_field(kFields[shape.fields[i]]));
}

// `count` is the number of elements after the tag; the first N were kept.
template <std::size_t N, class Set>
void fill_from_elements(HeldList& elements, std::size_t count, const VariantShape<N>& shape, Set&& set) {
    for (std::size_t i = 0; i < N; ++i) {
        if (i == count) {
            if (i < shape.min_elements) JsonReader::fail_unplaced(invalid_length(i, shape.length_text));
            return;
        }
        set(i, elements[i]);
    }
    if (count > N) JsonReader::fail_unplaced(invalid_length(count, std::to_string(N) + " elements in sequence"));
}

template <class Fill>
CellOutput build(OutputKind kind, HeldList& source, std::size_t count, Fill fill) {
    switch (kind) {
        case OutputKind::Stream: {
            CellOutput::Stream out;
            fill(source, count, kStream, [&](std::size_t i, Held& h) {
                if (i == 0) out.name = take_text(h.value);
                else out.text = take_source(h);
            });
            return CellOutput{std::move(out)};
        }
        case OutputKind::DisplayData: {
            CellOutput::DisplayData out;
            fill(source, count, kDisplayData, [&](std::size_t i, Held& h) {
                (i == 0 ? out.data : out.metadata) = take_map(h.value);
            });
            return CellOutput{std::move(out)};
        }
        case OutputKind::ExecuteResult: {
            CellOutput::ExecuteResult out;
            fill(source, count, kExecuteResult, [&](std::size_t i, Held& h) {
                if (i == 0) out.execution_count = take_optional_u32(h.value);
                else (i == 1 ? out.data : out.metadata) = take_map(h.value);
            });
            return CellOutput{std::move(out)};
        }
        case OutputKind::Error:
            break;
    }
    CellOutput::Error out;
    fill(source, count, kError, [&](std::size_t i, Held& h) {
        if (i == 0) out.ename = take_text(h.value);
        else if (i == 1) out.evalue = take_text(h.value);
        else out.traceback = take_text_list(h.value);
    });
    return CellOutput{std::move(out)};
}

struct FromEntries {
    template <std::size_t N, class Set>
    void operator()(HeldList& entries, std::size_t count, const VariantShape<N>& shape, Set&& set) const {
        fill_from_entries(entries, count, shape, std::forward<Set>(set));
    }
};

struct FromElements {
    template <std::size_t N, class Set>
    void operator()(HeldList& elements, std::size_t count, const VariantShape<N>& shape, Set&& set) const {
        fill_from_elements(elements, count, shape, std::forward<Set>(set));
    }
};

}  // namespace

CellOutput read_output(JsonReader& r, OutputReading reading) {
    const int c = r.peek_value();
    if (c == '{') {
        r.enter();
        Kept kept;
        r.within_object([&] {
            bool first = true;
            while (r.object_next(first)) {
                const std::string_view key = r.read_key();
                if (key == "output_type") {
                    if (kept.has_kind()) JsonReader::fail_unplaced(duplicate_field(key));
                    r.object_colon();
                    kept.set_kind(read_tag(r));
                    continue;
                }
                const int field = key_index(kFields, key);
                r.object_colon();
                if (field >= 0 && kept.wants(static_cast<std::size_t>(field))) {
                    kept.add(read_held(r, static_cast<std::size_t>(field), reading));
                } else {
                    r.check_value();  // read for its errors only
                }
            }
            if (!kept.has_kind()) JsonReader::fail_unplaced(missing_field("output_type"));
        });
        r.leave();
        return build(kept.kind(), kept.entries(), kept.entries().size(), FromEntries{});
    }
    if (c == '[') {
        r.enter();
        HeldList elements;
        std::size_t count = 0;
        OutputKind kind = OutputKind::Stream;
        r.within_array([&] {
            bool first = true;
            if (!r.list_next(first)) JsonReader::fail_unplaced(missing_field("output_type"));
            kind = read_tag(r);
            with_shape(kind, [&](const auto& shape) {
                for (; r.list_next(first); ++count) {
                    if (count < shape.fields.size()) {
                        elements.push_back(read_held(r, shape.fields[count], reading));
                    } else {
                        r.check_value();  // only counted
                    }
                }
            });
        });
        r.leave();
        return build(kind, elements, count, FromElements{});
    }
    r.fail_invalid_type("internally tagged enum CellOutput");
}

}  // namespace convert_engine::notebook::detail
