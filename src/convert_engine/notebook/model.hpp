#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "convert_engine/json/json_value.hpp"

namespace convert_engine::notebook {

// The JSON values a notebook keeps as they are (metadata, output bundles).
using json::CompactString;
using json::JsonArray;
using json::JsonObject;
using json::JsonValue;

// The in-memory notebook document. Plain value types: a copy is a deep copy
// and nothing is shared between two documents.

struct KernelInfo {
    std::string name;
    friend bool operator==(const KernelInfo&, const KernelInfo&) = default;
};

struct LanguageInfo {
    std::string name;
    std::optional<std::string> version;
    std::optional<JsonValue> codemirrorMode;
    std::optional<std::string> fileExtension;
    std::optional<std::string> mimetype;
    friend bool operator==(const LanguageInfo&, const LanguageInfo&) = default;
};

struct NotebookMetadata {
    std::optional<KernelInfo> kernelInfo;
    std::optional<LanguageInfo> languageInfo;
    JsonObject extra;  // every other metadata key, in key order
    friend bool operator==(const NotebookMetadata&, const NotebookMetadata&) = default;
};

enum class CellType : std::uint8_t { Code = 0, Markdown = 1, Raw = 2 };

// The whole text of a cell source or stream output (list forms are joined).
struct CellSource {
    std::string text;
    friend bool operator==(const CellSource&, const CellSource&) = default;
};

struct CellOutput {
    struct Stream {
        std::string name;
        CellSource text;
        friend bool operator==(const Stream&, const Stream&) = default;
    };
    struct DisplayData {
        JsonObject data;
        JsonObject metadata;
        friend bool operator==(const DisplayData&, const DisplayData&) = default;
    };
    struct ExecuteResult {
        std::optional<std::uint32_t> execution_count;
        JsonObject data;
        JsonObject metadata;
        friend bool operator==(const ExecuteResult&, const ExecuteResult&) = default;
    };
    struct Error {
        std::string ename;
        std::string evalue;
        std::vector<std::string> traceback;
        friend bool operator==(const Error&, const Error&) = default;
    };

    std::variant<Stream, DisplayData, ExecuteResult, Error> value;
    friend bool operator==(const CellOutput&, const CellOutput&) = default;
};

struct Cell {
    CellType cell_type = CellType::Code;
    CellSource source;
    JsonObject metadata;
    std::optional<std::string> id;
    std::optional<JsonValue> execution_count;  // any JSON value; null reads as none
    std::vector<CellOutput> outputs;
    friend bool operator==(const Cell&, const Cell&) = default;
};

struct Notebook {
    NotebookMetadata metadata;
    std::uint32_t nbformat = 0;
    std::uint32_t nbformat_minor = 0;
    std::vector<Cell> cells;
    friend bool operator==(const Notebook&, const Notebook&) = default;
};

// "code", "markdown" or "raw".
const char* cell_type_name(CellType type) noexcept;

}  // namespace convert_engine::notebook
