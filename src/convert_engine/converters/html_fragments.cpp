#include "convert_engine/converters/html_fragments.hpp"

#include <charconv>
#include <type_traits>
#include <variant>

#include "convert_engine/notebook/json_writer.hpp"
#include "convert_engine/text_scan.hpp"

namespace convert_engine::converters {
namespace {

using notebook::CellOutput;
using notebook::CellType;
using notebook::JsonObject;

std::string_view entity_for(char c) noexcept {
    switch (c) {
        case '&': return "&amp;";
        case '<': return "&lt;";
        case '>': return "&gt;";
        case '"': return "&quot;";
        default: return {};
    }
}

// The string under `key` when the bundle holds one there; any other kind of
// value counts as absent.
const std::string* string_entry(const JsonObject& bundle, std::string_view key) {
    const auto it = bundle.find(key);
    return it == bundle.end() ? nullptr : it->second.as_string();
}

void append_display_data(std::string& out, const JsonObject& bundle) {
    if (const auto* text = string_entry(bundle, "text/plain")) {
        out += "<pre>";
        append_html_escaped(out, *text);
        out += "</pre>";
    } else if (const auto* png = string_entry(bundle, "image/png")) {
        // Escaped because it lands inside an attribute value; base64 text
        // holds none of the escaped characters and passes unchanged.
        out += "<img src=\"data:image/png;base64,";
        append_html_escaped(out, *png);
        out += "\" />";
    } else if (const auto* svg = string_entry(bundle, "image/svg+xml")) {
        out += *svg;
    } else {
        std::string json;
        notebook::append_json_object_pretty(json, bundle);
        out += "<pre>";
        append_html_escaped(out, json);
        out += "</pre>";
    }
}

}  // namespace

void append_html_escaped(std::string& out, std::string_view text) {
    const char* p = text.data();
    const std::size_t n = text.size();
    std::size_t run = 0;
    for (std::size_t i = find_html_special(p, 0, n); i < n; i = find_html_special(p, i, n)) {
        out.append(p + run, i - run);
        out.append(entity_for(p[i]));
        run = ++i;
    }
    out.append(p + run, n - run);
}

std::string html_escape(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 16 + 8);
    append_html_escaped(out, text);
    return out;
}

std::string render_display_data(const JsonObject& bundle) {
    std::string out;
    append_display_data(out, bundle);
    return out;
}

OutputRenderData OutputRenderData::from_output(const CellOutput& output) {
    std::string html;
    std::visit(
        [&html](const auto& o) {
            using T = std::decay_t<decltype(o)>;
            if constexpr (std::is_same_v<T, CellOutput::Stream>) {
                html.reserve(o.text.text.size() + 48);
                html += o.name == "stderr" ? "<pre class=\"stream-stderr\">" : "<pre class=\"stream-stdout\">";
                append_html_escaped(html, o.text.text);
                html += "</pre>";
            } else if constexpr (std::is_same_v<T, CellOutput::DisplayData>) {
                append_display_data(html, o.data);
            } else if constexpr (std::is_same_v<T, CellOutput::ExecuteResult>) {
                if (o.execution_count) {
                    char digits[16];
                    const auto res = std::to_chars(digits, digits + sizeof digits, *o.execution_count);
                    html += "<pre>Out[";
                    html.append(digits, res.ptr);
                    html += "]: </pre>";
                } else {
                    html += "<pre>Out: </pre>";
                }
                append_display_data(html, o.data);
            } else {
                html += "<div class=\"output-error\"><strong>";
                append_html_escaped(html, o.ename);
                html += "</strong>: ";
                append_html_escaped(html, o.evalue);
                html += "<pre>";
                // Escaping leaves line feeds alone, so escaping line by line
                // equals escaping the joined traceback.
                for (std::size_t i = 0; i < o.traceback.size(); ++i) {
                    if (i != 0) html.push_back('\n');
                    append_html_escaped(html, o.traceback[i]);
                }
                html += "</pre></div>";
            }
        },
        output.value);
    return OutputRenderData{std::move(html)};
}

CellRenderData CellRenderData::from_cell(const notebook::Cell& cell) {
    CellRenderData data = without_outputs(cell);
    data.outputs.reserve(cell.outputs.size());
    for (const auto& output : cell.outputs) data.outputs.push_back(OutputRenderData::from_output(output));
    return data;
}

CellRenderData CellRenderData::without_outputs(const notebook::Cell& cell) {
    CellRenderData data;
    data.source_escaped = html_escape(cell.source.text);
    switch (cell.cell_type) {
        case CellType::Code:
            data.is_code = true;
            data.type_label = "Code";
            break;
        case CellType::Markdown:
            data.is_markdown = true;
            data.type_label = "Markdown";
            break;
        case CellType::Raw:
            data.is_raw = true;
            data.type_label = "Raw";
            break;
    }
    // Only an unsigned integer count is shown, and shown whole.
    if (cell.execution_count && cell.execution_count->is_u64())
        data.execution_count = std::get<std::uint64_t>(cell.execution_count->value);
    return data;
}

}  // namespace convert_engine::converters
