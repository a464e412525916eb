#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "convert_engine/notebook/model.hpp"
#include "convert_engine/text.hpp"

namespace convert_engine::converters {

// Replaces & < > " by their entities; everything else is copied.
Text html_escape(std::string_view text);
void append_html_escaped(Text& out, std::string_view text);

// The fragment of one MIME bundle: text/plain, else image/png, else
// image/svg+xml (string values only), else the bundle as escaped pretty JSON.
Text render_display_data(const notebook::JsonObject& bundle);

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
    // Everything but the outputs, for a reader that makes them one at a time.
    static CellRenderData without_outputs(const notebook::Cell& cell);
};

}  // namespace convert_engine::converters
