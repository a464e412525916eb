#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "convert_engine/notebook/model.hpp"
#include "convert_engine/text.hpp"
#include "convert_engine/text_output.hpp"

namespace convert_engine::converters {

// Replaces & < > " by their entities; everything else is copied.
Text html_escape(std::string_view text);
void append_html_escaped(Text& out, std::string_view text);
void put_html_escaped(TextOutput& out, std::string_view text);

// The fragment of one MIME bundle: text/plain, else image/png, else
// image/svg+xml (string values only), else the bundle as escaped pretty JSON.
Text render_display_data(const json::JsonObject& bundle);

// The length of an output's fragment (and whether it is all ASCII) when it
// follows from the texts the fragment shows; none for a bundle shown as
// JSON, whose length is known only once it is written.
std::optional<TextLength> fragment_length(const notebook::CellOutput& output);
// True for an output whose bundle is shown as JSON, the fragment that
// fragment_length() cannot tell; a quick test, with no pass over its texts.
bool shown_as_json(const notebook::CellOutput& output);
// Writes the fragment of an output whose fragment_length() has a value.
void put_fragment(TextOutput& out, const notebook::CellOutput& output);

// "Code", "Markdown" or "Raw" (static text).
std::string_view type_label(notebook::CellType type) noexcept;
// The count a cell shows: only an unsigned integer count is shown, whole.
std::optional<std::uint64_t> shown_execution_count(const notebook::Cell& cell) noexcept;

struct OutputRenderData {
    Text html;
    // The fragment in memory from `memory`.
    static OutputRenderData from_output(const notebook::CellOutput& output,
                                        std::pmr::memory_resource* memory = default_text_memory());
};

// The per-cell record handed to the page template.
struct CellRenderData {
    bool is_code = false;
    bool is_markdown = false;
    bool is_raw = false;
    std::string_view type_label;  // "Code", "Markdown" or "Raw" (static text)
    Text source_escaped;
    // Present only when the cell's count is a JSON unsigned integer.
    std::optional<std::uint64_t> execution_count;
    std::vector<OutputRenderData> outputs;

    static CellRenderData from_cell(const notebook::Cell& cell);
};

}  // namespace convert_engine::converters
