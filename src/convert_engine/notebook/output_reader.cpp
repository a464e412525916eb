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

enum class OutputKind : std::uint8_t { Stream, DisplayData, ExecuteResult, Error };

// A variant: its shape (record_shapes.hpp) and what it builds.
template <const auto& kShape, class Model>
struct Variant {
    static constexpr const auto& shape = kShape;
    using Built = Model;
};

// Calls `visit` with the variant of `kind`.
template <class Visit>
constexpr decltype(auto) with_variant(OutputKind kind, Visit&& visit) {
    switch (kind) {
        case OutputKind::Stream: return visit(Variant<kStream, CellOutput::Stream>{});
        case OutputKind::DisplayData: return visit(Variant<kDisplayData, CellOutput::DisplayData>{});
        case OutputKind::ExecuteResult: return visit(Variant<kExecuteResult, CellOutput::ExecuteResult>{});
        case OutputKind::Error: return visit(Variant<kError, CellOutput::Error>{});
    }
    __builtin_unreachable();
}

// Every key that some variant declares, with what it holds: a kept entry
// names its field by its place here.
constexpr auto kFields = field_union<kStream, kDisplayData, kExecuteResult, kError>();
static_assert(kFields.agree, "a key of two variants holds one kind of value");

// A variant's fields by their places in kFields.
struct VariantFields {
    std::array<std::size_t, kFields.size()> places{};  // of its fields, in order
    std::size_t size = 0;
    std::array<int, kFields.size()> position{};  // of each place among its fields, or -1

    bool declares(std::size_t place) const noexcept { return position[place] >= 0; }
};

template <class Shape>
constexpr VariantFields fields_of(const Shape& shape) {
    VariantFields fields{};
    fields.position.fill(-1);
    for (std::size_t i = 0; i < Shape::kFields; ++i) {
        const std::size_t place = kFields.find(shape.fields[i].key);
        fields.places[i] = place;
        fields.position[place] = static_cast<int>(i);
    }
    fields.size = Shape::kFields;
    return fields;
}

// In OutputKind order.
constexpr std::array<VariantFields, 4> kVariantFields = [] {
    std::array<VariantFields, 4> all{};
    for (const OutputKind kind :
         {OutputKind::Stream, OutputKind::DisplayData, OutputKind::ExecuteResult, OutputKind::Error})
        all[static_cast<std::size_t>(kind)] = with_variant(kind, [](auto v) { return fields_of(decltype(v)::shape); });
    return all;
}();

const VariantFields& variant_fields(OutputKind kind) noexcept { return kVariantFields[static_cast<std::size_t>(kind)]; }

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

// Reads the value of a kept field (a place in kFields). An output that is
// not built (`dropped`) gets the same read with a check where a build would
// be: a value of the field's own type is checked and held empty, as is a
// metadata map that `empty_metadata` leaves empty; any other value is read
// whole, as the building step's type failure describes it.
Held read_held(JsonReader& r, std::size_t field, OutputReading reading) {
    Held held{field, {}, {}, false};
    const bool build = !reading.dropped;
    const ValueKind kind = kFields.values[field];
    switch (kind) {
        case ValueKind::Text:
            held.not_text = build ? !read_joined_text(r, held.text) : !check_joined_text(r);
            return held;
        case ValueKind::Map:
        case ValueKind::Metadata:
            if ((build && !(kind == ValueKind::Metadata && reading.empty_metadata)) || r.peek_value() != '{') break;
            r.check_value();
            held.value = JsonValue(JsonObject());
            return held;
        case ValueKind::TextList:
            if (build || r.peek_value() != '[') break;
            held.value = check_text_list(r);
            return held;
        case ValueKind::String:
            if (build || r.peek_value() != '"') break;
            r.check_string();
            held.value = JsonValue(CompactString());
            return held;
        case ValueKind::Value:
            break;
    }
    held.value = r.read_value();
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

// What the first step keeps while the output is read: the object form's
// entries that may matter to the second step, or the array form's first
// elements after the tag, pushed as they come.
class Kept {
public:
    // Whether an entry of `field` may still matter to the second step.
    bool wants(std::size_t field) const noexcept {
        if (closed_) return false;
        return kind_ ? variant_fields(*kind_).declares(field) : seen_[field] < 2;
    }
    void add(Held&& held) {
        const std::size_t field = held.field;
        entries_.push_back(std::move(held));
        if (++seen_[field] == 2 && kind_) closed_ = true;
    }
    // The tag is known: only its variant's entries stay.
    void set_kind(OutputKind kind) {
        kind_ = kind;
        const VariantFields& fields = variant_fields(kind);
        entries_.erase_if([&fields](const Held& held) { return !fields.declares(held.field); });
        seen_ = {};
        for (const Held& held : entries_)
            if (++seen_[held.field] == 2) closed_ = true;
    }
    OutputKind kind() const noexcept { return *kind_; }
    HeldList& entries() noexcept { return entries_; }

private:
    HeldList entries_;
    std::array<unsigned char, kFields.size()> seen_{};
    std::optional<OutputKind> kind_;
    bool closed_ = false;  // a declared field repeats: nothing later is reached
};

// What the second step reads a variant from (see read_record): the kept
// entries of the object form, or the first elements of the array form.
struct KeptFields {
    HeldList& list;
    std::size_t count;  // array form: the elements after the tag
    bool object_form;

    template <const auto& kShape>
    static int position(const Held& held) noexcept {
        static constexpr VariantFields kOwn = fields_of(kShape);
        return kOwn.position[held.field];
    }
};

// Where each field of a variant goes.
void store(CellOutput::Stream& out, StreamField field, Held& held) {
    switch (field) {
        case StreamField::Name: out.name = take_text(held.value); return;
        case StreamField::Text: out.text = take_source(held); return;
    }
}

void store(CellOutput::DisplayData& out, DisplayDataField field, Held& held) {
    switch (field) {
        case DisplayDataField::Data: out.data = take_map(held.value); return;
        case DisplayDataField::Metadata: out.metadata = take_map(held.value); return;
    }
}

void store(CellOutput::ExecuteResult& out, ExecuteResultField field, Held& held) {
    switch (field) {
        case ExecuteResultField::ExecutionCount: out.execution_count = take_optional_u32(held.value); return;
        case ExecuteResultField::Data: out.data = take_map(held.value); return;
        case ExecuteResultField::Metadata: out.metadata = take_map(held.value); return;
    }
}

void store(CellOutput::Error& out, ErrorField field, Held& held) {
    switch (field) {
        case ErrorField::Ename: out.ename = take_text(held.value); return;
        case ErrorField::Evalue: out.evalue = take_text(held.value); return;
        case ErrorField::Traceback: out.traceback = take_text_list(held.value); return;
    }
}

// The second step: the variant of `kind` from what the first step kept.
CellOutput build(OutputKind kind, KeptFields kept) {
    return with_variant(kind, [&](auto variant) {
        using V = decltype(variant);
        typename V::Built out;
        read_record<V::shape>(kept, [&](auto field, Held& held) { store(out, field, held); });
        return CellOutput{std::move(out)};
    });
}

}  // namespace

CellOutput read_output(JsonReader& r, OutputReading reading) {
    Kept kept;
    std::size_t count = 0;  // array form: the elements after the tag
    const RecordForm form = read_record<kCellOutput>(
        r,
        [&](OutputField field) {
            switch (field) {
                case OutputField::OutputType: kept.set_kind(read_tag(r)); return;
            }
        },
        [&](std::string_view key) {
            const int field = key_index(kFields.keys, key);
            r.object_colon();
            if (field >= 0 && kept.wants(static_cast<std::size_t>(field))) {
                kept.add(read_held(r, static_cast<std::size_t>(field), reading));
            } else {
                r.check_value();  // read for its errors only
            }
        },
        [&] {
            const VariantFields& fields = variant_fields(kept.kind());
            if (count < fields.size) {
                kept.entries().push_back(read_held(r, fields.places[count], reading));
            } else {
                r.check_value();  // only counted
            }
            ++count;
        });
    return build(kept.kind(), KeptFields{kept.entries(), count, form == RecordForm::Object});
}

}  // namespace convert_engine::notebook::detail
