#include "convert_engine/converters/html_fragments.hpp"

#include <charconv>
#include <type_traits>
#include <variant>

#include "convert_engine/notebook/json_writer.hpp"
#include "convert_engine/text_output.hpp"

namespace convert_engine::converters {
namespace {

using notebook::CellOutput;
using notebook::CellType;
using notebook::JsonObject;

// The string under `key` when the bundle holds one there; any other kind of
// value counts as absent.
const notebook::CompactString* string_entry(const JsonObject& bundle, std::string_view key) {
    const auto it = bundle.find(key);
    return it == bundle.end() ? nullptr : it->second.as_string();
}

// Appends `head`, `text` escaped and `tail` to `html`, at the exact size.
// Most texts hold nothing to escape (base64 image data, most output): the
// string is sized for that and the text copied while it is scanned. A byte
// to escape stops the copy; the rest is measured and escaped after it.
void append_escaped_between(Text& html, std::string_view head, std::string_view text, std::string_view tail) {
    html.reserve(html.size() + head.size() + text.size() + tail.size());
    TextOutput out(html);
    out.put(head);
    // In pieces, so that the cursor's zero fill of each stays in the cache.
    constexpr std::size_t kPiece = std::size_t{16} << 10;
    std::size_t plain = 0;
    while (plain != text.size()) {
        const std::string_view piece = text.substr(plain, kPiece);
        char* dst = out.room(piece.size());
        const std::size_t run = copy_plain_prefix<HtmlEscaping>(dst, piece);
        out.commit(dst + run);
        plain += run;
        if (run != piece.size()) break;
    }
    if (plain != text.size()) {
        const std::string_view rest = text.substr(plain);
        const std::size_t size = escaped_size<HtmlEscaping>(rest);
        out.exact_room(escaped_room(rest, size) + tail.size());
        put_escaped<HtmlEscaping>(out, rest, size);
    }
    out.put(tail);
    out.finish();
}

void append_display_data(Text& out, const JsonObject& bundle) {
    if (const auto* text = string_entry(bundle, "text/plain")) {
        append_escaped_between(out, "<pre>", *text, "</pre>");
    } else if (const auto* png = string_entry(bundle, "image/png")) {
        // Escaped because it lands inside an attribute value; base64 text
        // holds none of the escaped characters and passes unchanged.
        append_escaped_between(out, "<img src=\"data:image/png;base64,", *png, "\" />");
    } else if (const auto* svg = string_entry(bundle, "image/svg+xml")) {
        out += svg->view();
    } else {
        out += "<pre>";
        notebook::append_json_object_pretty_html(out, bundle);
        out += "</pre>";
    }
}

}  // namespace

void append_html_escaped(Text& out, std::string_view text) { append_escaped_between(out, "", text, ""); }

Text html_escape(std::string_view text) {
    Text out;
    append_html_escaped(out, text);
    return out;
}

Text render_display_data(const JsonObject& bundle) {
    Text out;
    append_display_data(out, bundle);
    return out;
}

OutputRenderData OutputRenderData::from_output(const CellOutput& output, std::pmr::memory_resource* memory) {
    Text html(memory);
    std::visit(
        [&html](const auto& o) {
            using T = std::decay_t<decltype(o)>;
            if constexpr (std::is_same_v<T, CellOutput::Stream>) {
                append_escaped_between(
                    html, o.name == "stderr" ? "<pre class=\"stream-stderr\">" : "<pre class=\"stream-stdout\">",
                    o.text.text, "</pre>");
            } else if constexpr (std::is_same_v<T, CellOutput::DisplayData>) {
                append_display_data(html, o.data);
            } else if constexpr (std::is_same_v<T, CellOutput::ExecuteResult>) {
                if (o.execution_count) {
                    char label[32] = "<pre>Out[";
                    char* end = std::to_chars(label + 9, label + 20, *o.execution_count).ptr;
                    html.assign(label, end);
                    html += "]: </pre>";
                } else {
                    html = "<pre>Out: </pre>";
                }
                append_display_data(html, o.data);
            } else {
                std::size_t size = 64 + escaped_size<HtmlEscaping>(o.ename) + escaped_size<HtmlEscaping>(o.evalue);
                for (const auto& line : o.traceback) size += escaped_size<HtmlEscaping>(line) + 1;
                html.reserve(size + TextOutput::kSlack);
                TextOutput out(html);
                out.put("<div class=\"output-error\"><strong>");
                put_escaped<HtmlEscaping>(out, o.ename, escaped_size<HtmlEscaping>(o.ename));
                out.put("</strong>: ");
                put_escaped<HtmlEscaping>(out, o.evalue, escaped_size<HtmlEscaping>(o.evalue));
                out.put("<pre>");
                // Escaping leaves line feeds alone, so escaping line by line
                // equals escaping the joined traceback.
                for (std::size_t i = 0; i < o.traceback.size(); ++i) {
                    if (i != 0) out.put('\n');
                    put_escaped<HtmlEscaping>(out, o.traceback[i], escaped_size<HtmlEscaping>(o.traceback[i]));
                }
                out.put("</pre></div>");
                out.finish();
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
