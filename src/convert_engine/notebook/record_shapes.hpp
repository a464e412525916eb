#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "convert_engine/json/messages.hpp"

namespace convert_engine::notebook::detail {

// The shapes of the notebook's records: for each, its name, its fields in
// order and how each may be left out, and what its array form is.
// read_record (record_readers.hpp) reads any of them; the record readers
// say only what a field's value becomes.

// How a field may be left out of a record.
enum class Presence : std::uint8_t {
    Required,        // in both forms
    Optional,        // a default when the object lacks it or the array ends before it
    ObjectOptional,  // a default when the object lacks it; the array form must give it
};

// What an output field holds, which says how an output that is not built
// checks it (read_held). Records read straight from the text leave it be.
enum class ValueKind : std::uint8_t {
    Value,     // any value, read whole
    String,
    Text,      // one string, or a list of strings joined
    TextList,  // a list of strings
    Map,
    Metadata,  // a map that ReadOptions::empty_metadata leaves empty
};

// How a record is named in its messages.
enum class RecordKind : std::uint8_t {
    Struct,         // "struct <name>"
    TaggedEnum,     // "internally tagged enum <name>": its one field is the tag
    StructVariant,  // a variant of the tagged enum `of`: "struct variant <of>::<name>"
};

// What the record's array form is.
enum class ArrayForm : std::uint8_t {
    None,     // none: an array has the wrong type
    Closed,   // the fields in order, then the closing bracket
    Open,     // the tag, then the elements of its variant, each handed on
    Counted,  // the fields in order, kept by a first step (a variant's); more
              // elements are refused by their number
};

template <class Field>
struct FieldRow {
    Field field;  // the row's own place: rows come in the enum's order
    std::string_view key;
    Presence presence = Presence::Required;
    ValueKind value = ValueKind::Value;
};

template <class FieldEnum, std::size_t N>
struct RecordShape {
    using Field = FieldEnum;
    static constexpr std::size_t kFields = N;

    RecordKind kind;
    std::string_view name;
    std::string_view of;  // the enum of a variant
    ArrayForm array;
    std::array<FieldRow<Field>, N> fields;

    constexpr std::array<std::string_view, N> keys() const {
        std::array<std::string_view, N> keys{};
        for (std::size_t i = 0; i < N; ++i) keys[i] = fields[i].key;
        return keys;
    }
    constexpr bool required_in_object(std::size_t i) const { return fields[i].presence == Presence::Required; }
    constexpr bool required_in_array(std::size_t i) const { return fields[i].presence != Presence::Optional; }
    // How many elements the array form must have: up to its last field
    // without a default there.
    constexpr std::size_t min_elements() const {
        std::size_t min = 0;
        for (std::size_t i = 0; i < N; ++i)
            if (required_in_array(i)) min = i + 1;
        return min;
    }
    // The field an array of `count` elements, too few, lacks first: the
    // fields before it with a default take it.
    constexpr std::size_t first_lacking(std::size_t count) const {
        while (count < N && !required_in_array(count)) ++count;
        return count;
    }
    // Rows in the enum's order, keys distinct: what the readers rely on.
    constexpr bool well_formed() const {
        for (std::size_t i = 0; i < N; ++i) {
            if (static_cast<std::size_t>(fields[i].field) != i || fields[i].key.empty()) return false;
            for (std::size_t j = 0; j < i; ++j)
                if (fields[j].key == fields[i].key) return false;
        }
        return (kind == RecordKind::TaggedEnum) == (array == ArrayForm::Open) &&
               (kind == RecordKind::StructVariant) == (array == ArrayForm::Counted) &&
               (kind == RecordKind::StructVariant) == !of.empty() && (kind != RecordKind::TaggedEnum || N == 1);
    }

    // The expected type of a value that is no such record.
    std::string type_text() const {
        return kind == RecordKind::TaggedEnum ? json::expected_tagged_enum(name) : json::expected_struct(name);
    }
    // An array form of `count` elements, too few.
    json::Message short_array(std::size_t count) const {
        const std::size_t lacking = first_lacking(count);
        if (kind == RecordKind::TaggedEnum) return json::missing_field(fields[lacking].key);
        return json::invalid_length(lacking, kind == RecordKind::StructVariant
                                                 ? json::expected_variant_elements(of, name, N)
                                                 : json::expected_struct_elements(name, N));
    }
};

// A shape whose number of fields is that of its rows.
template <class Field, std::size_t N>
constexpr RecordShape<Field, N> record_shape(RecordKind kind, std::string_view name, std::string_view of,
                                             ArrayForm array, const FieldRow<Field> (&rows)[N]) {
    RecordShape<Field, N> shape{kind, name, of, array, {}};
    for (std::size_t i = 0; i < N; ++i) shape.fields[i] = rows[i];
    return shape;
}

// ---- the table ------------------------------------------------------------

enum class NotebookField : std::uint8_t { Metadata, Nbformat, NbformatMinor, Cells };
inline constexpr auto kNotebook = record_shape<NotebookField>(
    RecordKind::Struct, "Notebook", {}, ArrayForm::Closed, {
        {NotebookField::Metadata, "metadata", Presence::Optional},
        {NotebookField::Nbformat, "nbformat"},
        {NotebookField::NbformatMinor, "nbformat_minor"},
        {NotebookField::Cells, "cells"},
    });

// Every other key is kept as it is (NotebookMetadata::extra).
enum class NotebookMetadataField : std::uint8_t { KernelInfo, LanguageInfo };
inline constexpr auto kNotebookMetadata = record_shape<NotebookMetadataField>(
    RecordKind::Struct, "NotebookMetadata", {}, ArrayForm::None, {
        {NotebookMetadataField::KernelInfo, "kernelInfo", Presence::Optional},
        {NotebookMetadataField::LanguageInfo, "languageInfo", Presence::Optional},
    });

enum class KernelInfoField : std::uint8_t { Name };
inline constexpr auto kKernelInfo = record_shape<KernelInfoField>(
    RecordKind::Struct, "KernelInfo", {}, ArrayForm::Closed, {
        {KernelInfoField::Name, "name"},
    });

enum class LanguageInfoField : std::uint8_t { Name, Version, CodemirrorMode, FileExtension, Mimetype };
inline constexpr auto kLanguageInfo = record_shape<LanguageInfoField>(
    RecordKind::Struct, "LanguageInfo", {}, ArrayForm::Closed, {
        {LanguageInfoField::Name, "name"},
        {LanguageInfoField::Version, "version", Presence::Optional},
        {LanguageInfoField::CodemirrorMode, "codemirrorMode", Presence::Optional},
        {LanguageInfoField::FileExtension, "fileExtension", Presence::Optional},
        {LanguageInfoField::Mimetype, "mimetype", Presence::Optional},
    });

enum class CellField : std::uint8_t { CellType, Source, Metadata, Id, ExecutionCount, Outputs };
inline constexpr auto kCell = record_shape<CellField>(
    RecordKind::Struct, "Cell", {}, ArrayForm::Closed, {
        {CellField::CellType, "cell_type"},
        {CellField::Source, "source"},
        {CellField::Metadata, "metadata", Presence::Optional},
        {CellField::Id, "id", Presence::Optional},
        {CellField::ExecutionCount, "execution_count", Presence::Optional},
        {CellField::Outputs, "outputs", Presence::Optional},
    });

// An output: its tag, then the fields of the variant the tag names (read in
// two steps, see output_reader.cpp).
enum class OutputField : std::uint8_t { OutputType };
inline constexpr auto kCellOutput = record_shape<OutputField>(
    RecordKind::TaggedEnum, "CellOutput", {}, ArrayForm::Open, {
        {OutputField::OutputType, "output_type"},
    });

enum class StreamField : std::uint8_t { Name, Text };
inline constexpr auto kStream = record_shape<StreamField>(
    RecordKind::StructVariant, "Stream", "CellOutput", ArrayForm::Counted, {
        {StreamField::Name, "name", Presence::Required, ValueKind::String},
        {StreamField::Text, "text", Presence::Required, ValueKind::Text},
    });

enum class DisplayDataField : std::uint8_t { Data, Metadata };
inline constexpr auto kDisplayData = record_shape<DisplayDataField>(
    RecordKind::StructVariant, "DisplayData", "CellOutput", ArrayForm::Counted, {
        {DisplayDataField::Data, "data", Presence::Required, ValueKind::Map},
        {DisplayDataField::Metadata, "metadata", Presence::Optional, ValueKind::Metadata},
    });

enum class ExecuteResultField : std::uint8_t { ExecutionCount, Data, Metadata };
inline constexpr auto kExecuteResult = record_shape<ExecuteResultField>(
    RecordKind::StructVariant, "ExecuteResult", "CellOutput", ArrayForm::Counted, {
        {ExecuteResultField::ExecutionCount, "execution_count", Presence::ObjectOptional, ValueKind::Value},
        {ExecuteResultField::Data, "data", Presence::Required, ValueKind::Map},
        {ExecuteResultField::Metadata, "metadata", Presence::Optional, ValueKind::Metadata},
    });

enum class ErrorField : std::uint8_t { Ename, Evalue, Traceback };
inline constexpr auto kError = record_shape<ErrorField>(
    RecordKind::StructVariant, "Error", "CellOutput", ArrayForm::Counted, {
        {ErrorField::Ename, "ename", Presence::Required, ValueKind::String},
        {ErrorField::Evalue, "evalue", Presence::Required, ValueKind::String},
        {ErrorField::Traceback, "traceback", Presence::Required, ValueKind::TextList},
    });

static_assert(kNotebook.well_formed() && kNotebookMetadata.well_formed() && kKernelInfo.well_formed() &&
              kLanguageInfo.well_formed() && kCell.well_formed() && kCellOutput.well_formed() &&
              kStream.well_formed() && kDisplayData.well_formed() && kExecuteResult.well_formed() &&
              kError.well_formed());

// ---- the fields of several shapes -----------------------------------------

// Every key of `kShapes`, each once, in the order they first come, with what
// it holds.
template <std::size_t K>
struct FieldUnion {
    std::array<std::string_view, K> keys{};
    std::array<ValueKind, K> values{};
    bool agree = true;  // a key holds the same kind of value wherever it comes

    static constexpr std::size_t size() noexcept { return K; }
    // The place of `key`, or K.
    constexpr std::size_t find(std::string_view key) const {
        std::size_t i = 0;
        while (i < K && keys[i] != key) ++i;
        return i;
    }
};

template <const auto&... kShapes>
constexpr std::size_t distinct_key_count() {
    std::array<std::string_view, (0 + ... + kShapes.kFields)> met{};
    std::size_t count = 0;
    const auto add = [&](const auto& shape) {
        for (const auto& row : shape.fields) {
            std::size_t i = 0;
            while (i < count && met[i] != row.key) ++i;
            if (i == count) met[count++] = row.key;
        }
    };
    (add(kShapes), ...);
    return count;
}

template <const auto&... kShapes>
constexpr FieldUnion<distinct_key_count<kShapes...>()> field_union() {
    FieldUnion<distinct_key_count<kShapes...>()> all{};
    std::size_t count = 0;
    const auto add = [&](const auto& shape) {
        for (const auto& row : shape.fields) {
            const std::size_t at = all.find(row.key);
            if (at < count) {
                all.agree = all.agree && all.values[at] == row.value;
                continue;
            }
            all.keys[count] = row.key;
            all.values[count] = row.value;
            ++count;
        }
    };
    (add(kShapes), ...);
    return all;
}

}  // namespace convert_engine::notebook::detail
