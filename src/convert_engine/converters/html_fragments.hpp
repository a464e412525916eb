#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "convert_engine/notebook/model.hpp"

namespace convert_engine::converters {

// Replaces & < > " by their entities; everything else is copied.
std::string html_escape(std::string_view text);
void append_html_escaped(std::string& out, std::string_view text);

// The fragment of one MIME bundle: text/plain, else image/png, else
// image/svg+xml (string values only), else the bundle as escaped pretty JSON.
std::string render_display_data(const notebook::JsonObject& bundle);

struct OutputRenderData {
    std::string html;
    static OutputRenderData from_output(const notebook::CellOutput& output);
};

// The per-cell record handed to the page template.
struct CellRenderData {
    bool is_code = false;
    bool is_markdown = false;
    bool is_raw = false;
    std::string_view type_label;  // "Code", "Markdown" or "Raw" (static text)
    std::string source_escaped;
    // Present only when the cell's count is a JSON unsigned integer.
    std::optional<std::uint64_t> execution_count;
    std::vector<OutputRenderData> outputs;

    static CellRenderData from_cell(const notebook::Cell& cell);
    // Everything but the outputs, for a reader that makes them one at a time.
    static CellRenderData without_outputs(const notebook::Cell& cell);
};

}  // namespace convert_engine::converters
