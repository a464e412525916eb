#include "convert_engine/converters/html_fragments.hpp"

#include <charconv>
#include <type_traits>
#include <variant>

#include "convert_engine/notebook/json_writer.hpp"

namespace convert_engine::converters {
namespace {

using notebook::CellOutput;
using notebook::CellType;
using json::JsonObject;

constexpr std::string_view kStdout = "<pre class=\"stream-stdout\">";
constexpr std::string_view kStderr = "<pre class=\"stream-stderr\">";
constexpr std::string_view kPre = "<pre>";
constexpr std::string_view kPreEnd = "</pre>";
constexpr std::string_view kImage = "<img src=\"data:image/png;base64,";
constexpr std::string_view kImageEnd = "\" />";
constexpr std::string_view kErrorName = "<div class=\"output-error\"><strong>";
constexpr std::string_view kErrorValue = "</strong>: ";
constexpr std::string_view kErrorEnd = "</pre></div>";

// The string under `key` when the bundle holds one there; any other kind of
// value counts as absent.
const json::CompactString* string_entry(const JsonObject& bundle, std::string_view key) {
    const auto it = bundle.find(key);
    return it == bundle.end() ? nullptr : it->second.as_string();
}

// What a bundle shows when one of its strings is shown: the text between
// `head` and `tail`, escaped or not.
struct ShownString {
    std::string_view head;
    std::string_view text;
    std::string_view tail;
    bool escaped = true;
};

// text/plain, else image/png, else image/svg+xml; none when the bundle is
// shown as JSON.
std::optional<ShownString> shown_string(const JsonObject& bundle) {
    if (const auto* text = string_entry(bundle, "text/plain")) return ShownString{kPre, *text, kPreEnd};
    // Escaped because it lands inside an attribute value; base64 text holds
    // none of the escaped characters and passes unchanged.
    if (const auto* png = string_entry(bundle, "image/png")) return ShownString{kImage, *png, kImageEnd};
    if (const auto* svg = string_entry(bundle, "image/svg+xml")) return ShownString{{}, *svg, {}, false};
    return std::nullopt;
}

TextLength shown_length(const ShownString& shown) {
    TextLength length = shown.escaped ? html_escaped_length(shown.text) : plain_length(shown.text);
    length.size += shown.head.size() + shown.tail.size();
    return length;
}

void put_shown(TextOutput& out, const ShownString& shown) {
    out.put(shown.head);
    if (shown.escaped) {
        put_html_escaped(out, shown.text);
    } else {
        out.put(shown.text);
    }
    out.put(shown.tail);
}

// "<pre>Out[N]: </pre>", or "<pre>Out: </pre>" without a count.
struct ResultLabel {
    char text[48];
    std::size_t size;
    explicit ResultLabel(const std::optional<std::uint32_t>& count) noexcept {
        constexpr std::string_view open = "<pre>Out[";
        constexpr std::string_view close = "]: </pre>";
        if (!count) {
            constexpr std::string_view bare = "<pre>Out: </pre>";
            size = bare.copy(text, bare.size());
            return;
        }
        char* at = text + open.copy(text, open.size());
        at = std::to_chars(at, at + 12, *count).ptr;
        at += close.copy(at, close.size());
        size = static_cast<std::size_t>(at - text);
    }
    std::string_view view() const noexcept { return {text, size}; }
};

std::string_view stream_head(const CellOutput::Stream& stream) { return stream.name == "stderr" ? kStderr : kStdout; }

TextLength error_length(const CellOutput::Error& error) {
    TextLength length{kErrorName.size() + kErrorValue.size() + kPre.size() + kErrorEnd.size()};
    length += html_escaped_length(error.ename);
    length += html_escaped_length(error.evalue);
    for (const auto& line : error.traceback) length += html_escaped_length(line);
    if (!error.traceback.empty()) length.size += error.traceback.size() - 1;  // the line feeds between lines
    return length;
}

void put_error(TextOutput& out, const CellOutput::Error& error) {
    out.put(kErrorName);
    put_html_escaped(out, error.ename);
    out.put(kErrorValue);
    put_html_escaped(out, error.evalue);
    out.put(kPre);
    // Escaping leaves line feeds alone, so escaping line by line equals
    // escaping the joined traceback.
    for (std::size_t i = 0; i < error.traceback.size(); ++i) {
        if (i != 0) out.put('\n');
        put_html_escaped(out, error.traceback[i]);
    }
    out.put(kErrorEnd);
}

// The bundle of a display or a result, for the outputs that have one.
const JsonObject* bundle_of(const CellOutput& output) {
    if (const auto* display = std::get_if<CellOutput::DisplayData>(&output.value)) return &display->data;
    if (const auto* result = std::get_if<CellOutput::ExecuteResult>(&output.value)) return &result->data;
    return nullptr;
}

// Appends `head`, `text` escaped and `tail` to `html`, at the exact size
// when the text holds nothing to escape.
void append_escaped_between(Text& html, std::string_view head, std::string_view text, std::string_view tail) {
    html.reserve(html.size() + head.size() + text.size() + tail.size());
    TextOutput out(html);
    out.put(head);
    put_html_escaped(out, text);
    out.put(tail);
    out.finish();
}

void append_display_data(Text& out, const JsonObject& bundle) {
    if (const auto shown = shown_string(bundle)) {
        if (shown->escaped) {
            append_escaped_between(out, shown->head, shown->text, shown->tail);
        } else {
            out += shown->text;
        }
        return;
    }
    out += kPre;
    notebook::append_json_object_pretty_html(out, bundle);
    out += kPreEnd;
}

}  // namespace

// Most texts hold nothing to escape (base64 image data, most output): the
// text is copied while it is scanned. A byte to escape stops the copy; the
// rest is measured and escaped after it, with one request for room.
void put_html_escaped(TextOutput& out, std::string_view text) {
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
        out.exact_room(escaped_room(rest, size));
        put_escaped<HtmlEscaping>(out, rest, size);
    }
}

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

std::optional<TextLength> fragment_length(const CellOutput& output) {
    if (const auto* stream = std::get_if<CellOutput::Stream>(&output.value)) {
        TextLength length = html_escaped_length(stream->text.text);
        length.size += stream_head(*stream).size() + kPreEnd.size();
        return length;
    }
    if (const auto* error = std::get_if<CellOutput::Error>(&output.value)) return error_length(*error);
    const auto shown = shown_string(*bundle_of(output));
    if (!shown) return std::nullopt;
    TextLength length = shown_length(*shown);
    if (const auto* result = std::get_if<CellOutput::ExecuteResult>(&output.value)) {
        length.size += ResultLabel(result->execution_count).size;
    }
    return length;
}

bool shown_as_json(const CellOutput& output) {
    const JsonObject* bundle = bundle_of(output);
    return bundle != nullptr && !shown_string(*bundle);
}

void put_fragment(TextOutput& out, const CellOutput& output) {
    if (const auto* stream = std::get_if<CellOutput::Stream>(&output.value)) {
        out.put(stream_head(*stream));
        put_html_escaped(out, stream->text.text);
        out.put(kPreEnd);
        return;
    }
    if (const auto* error = std::get_if<CellOutput::Error>(&output.value)) {
        put_error(out, *error);
        return;
    }
    if (const auto* result = std::get_if<CellOutput::ExecuteResult>(&output.value)) {
        out.put(ResultLabel(result->execution_count).view());
    }
    put_shown(out, *shown_string(*bundle_of(output)));
}

OutputRenderData OutputRenderData::from_output(const CellOutput& output, std::pmr::memory_resource* memory) {
    Text html(memory);
    if (const auto length = fragment_length(output)) {
        html.reserve(length->size + TextOutput::kSlack);
        TextOutput out(html);
        put_fragment(out, output);
        out.finish();
    } else {
        if (const auto* result = std::get_if<CellOutput::ExecuteResult>(&output.value)) {
            html = ResultLabel(result->execution_count).view();
        }
        append_display_data(html, *bundle_of(output));
    }
    return OutputRenderData{std::move(html)};
}

std::string_view type_label(CellType type) noexcept {
    switch (type) {
        case CellType::Code:
            return "Code";
        case CellType::Markdown:
            return "Markdown";
        case CellType::Raw:
            break;
    }
    return "Raw";
}

std::optional<std::uint64_t> shown_execution_count(const notebook::Cell& cell) noexcept {
    if (cell.execution_count && cell.execution_count->is_u64()) {
        return std::get<std::uint64_t>(cell.execution_count->value);
    }
    return std::nullopt;
}

CellRenderData CellRenderData::from_cell(const notebook::Cell& cell) {
    CellRenderData data;
    data.source_escaped = html_escape(cell.source.text);
    data.is_code = cell.cell_type == CellType::Code;
    data.is_markdown = cell.cell_type == CellType::Markdown;
    data.is_raw = cell.cell_type == CellType::Raw;
    data.type_label = convert_engine::converters::type_label(cell.cell_type);
    data.execution_count = shown_execution_count(cell);
    data.outputs.reserve(cell.outputs.size());
    for (const auto& output : cell.outputs) data.outputs.push_back(OutputRenderData::from_output(output));
    return data;
}

}  // namespace convert_engine::converters
