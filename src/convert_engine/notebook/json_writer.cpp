#include "convert_engine/notebook/json_writer.hpp"

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <type_traits>
#include <variant>

#include "convert_engine/json/float_format.hpp"
#include "convert_engine/text_output.hpp"

namespace convert_engine::notebook {
namespace {

using json::append_float;
using json::Boxed;

// Strings up to this length are written after one request for room; longer
// ones go in pieces.
constexpr std::size_t kShortText = 4096;

// Spaces for the indents, copied 16 at a time.
constexpr char kSpaces[16] = {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};

// A line feed and `indent` spaces; the cursor needs room for indent + 17.
char* put_line_break(char* p, std::size_t indent) noexcept {
    *p++ = '\n';
    for (std::size_t k = 0; k < indent; k += 16) std::memcpy(p + k, kSpaces, 16);
    return p + indent;
}

// How strings are spelled: as JSON text, or as JSON text already escaped for
// an HTML page, where the quotes are &quot; and the content is escaped both
// ways. Nothing else the writer produces is touched by HTML escaping.
struct PlainJson {
    using Escaping = JsonEscaping;
    static constexpr std::string_view kQuote = "\"";
};
struct JsonInHtml {
    using Escaping = JsonInHtmlEscaping;
    static constexpr std::string_view kQuote = "&quot;";
};

// The pretty layout: every open container knows whether it has an entry yet;
// the depth gives the indent of the next line.
template <class Spelling>
class PrettyWriter {
public:
    explicit PrettyWriter(Text& out) : out_(out) {}

    void finish() noexcept { out_.finish(); }

    void begin(char open) {
        out_.put(open);
        ++depth_;
    }
    // Separator, line break and indent before an entry; `first` is the
    // container's state.
    void next(bool& first) { out_.commit(separate(first, 0)); }
    // The same, then a key this writer spells itself: `field` is the quoted
    // name and ": ", or a whole fixed entry.
    template <std::size_t N>
    void field(bool& first, const char (&text)[N]) {
        char* p = separate(first, N);
        std::memcpy(p, text, N - 1);
        out_.commit(p + (N - 1));
    }
    void key(bool& first, std::string_view name) {
        next(first);
        quoted(name, ": ");
    }
    void end(char close, bool first) {
        --depth_;
        char* p = out_.room(2 * depth_ + 18);
        if (!first) p = put_line_break(p, 2 * depth_);
        *p++ = close;
        out_.commit(p);
    }

    void string(std::string_view text) { quoted(text, ""); }
    void null() { out_.put("null", 4); }
    void u32(std::uint32_t v) { integer(v); }

    void optional_string(const std::optional<std::string>& text) {
        if (text) string(*text);
        else null();
    }

    void value(const JsonValue& v) {
        std::visit(
            [this](const auto& x) {
                using T = std::decay_t<decltype(x)>;
                if constexpr (std::is_same_v<T, std::nullptr_t>) {
                    null();
                } else if constexpr (std::is_same_v<T, bool>) {
                    if (x) out_.put("true", 4);
                    else out_.put("false", 5);
                } else if constexpr (std::is_same_v<T, std::uint64_t> || std::is_same_v<T, std::int64_t>) {
                    integer(x);
                } else if constexpr (std::is_same_v<T, double>) {
                    scratch_.clear();
                    append_float(scratch_, x);
                    out_.put(scratch_);
                } else if constexpr (std::is_same_v<T, CompactString>) {
                    string(x);
                } else if constexpr (std::is_same_v<T, Boxed<JsonArray>>) {
                    array(*x);
                } else {
                    object(*x);
                }
            },
            v.value);
    }

    void optional_value(const std::optional<JsonValue>& v) {
        if (v) value(*v);
        else null();
    }

    // An array of `items`, each written by `each`.
    template <class Items, class Each>
    void array(const Items& items, Each&& each) {
        begin('[');
        bool first = true;
        for (const auto& item : items) {
            next(first);
            each(item);
        }
        end(']', first);
    }

    void array(const JsonArray& items) {
        array(items, [this](const JsonValue& item) { value(item); });
    }

    void object(const JsonObject& entries) {
        begin('{');
        bool first = true;
        append_entries(first, entries);
        end('}', first);
    }

    // Entries of a map into an object that is already open.
    void append_entries(bool& first, const JsonObject& entries) {
        const auto end = entries.end();
        for (auto it = entries.begin(); it != end; ++it) {
            if (end - it > kFetchAhead) fetch(it[kFetchAhead]);
            key(first, it->first);
            value(it->second);
        }
    }

    void string_array(const std::vector<std::string>& items) {
        array(items, [this](const std::string& item) { string(item); });
    }

private:
    // Entries are in key order, and a large object's keys and strings were
    // read from all over the text; those of a later entry are asked for
    // ahead of their turn, so that their loads from memory overlap.
    static constexpr std::ptrdiff_t kFetchAhead = 8;
    static void fetch(const JsonObject::value_type& entry) noexcept {
        __builtin_prefetch(entry.first.data());
        if (const CompactString* text = entry.second.as_string()) __builtin_prefetch(text->data());
    }

    // Writes the separator and line break, leaving room for `extra` bytes
    // more; returns the cursor after them.
    char* separate(bool& first, std::size_t extra) {
        const std::size_t indent = 2 * depth_;
        char* p = out_.room(indent + extra + 18);
        *p = ',';
        p += first ? 0 : 1;
        first = false;
        return put_line_break(p, indent);
    }

    // `text` as a JSON string, then `after` (at most two bytes, never a
    // view without data).
    void quoted(std::string_view text, std::string_view after) {
        using Escaping = typename Spelling::Escaping;
        constexpr std::string_view quote = Spelling::kQuote;
        if (text.size() <= kShortText) {
            char* p = out_.room(Escaping::kMaxLength * text.size() + TextOutput::kSlack + 2 * quote.size() + 2);
            std::memcpy(p, quote.data(), quote.size());
            p = write_escaped<Escaping>(p + quote.size(), text);
            std::memcpy(p, quote.data(), quote.size());
            p += quote.size();
            std::memcpy(p, after.data(), after.size());
            out_.commit(p + after.size());
            return;
        }
        out_.put(quote);
        put_escaped<Escaping>(out_, text);
        out_.put(quote);
        out_.put(after);
    }

    template <class Int>
    void integer(Int value) {
        char* p = out_.room(24);
        out_.commit(std::to_chars(p, p + 24, value).ptr);
    }

    TextOutput out_;
    std::size_t depth_ = 0;
    std::string scratch_;  // a float's spelling
};

using NotebookWriter = PrettyWriter<PlainJson>;

void serialize(NotebookWriter& w, const KernelInfo& kernel) {
    bool first = true;
    w.begin('{');
    w.field(first, R"("name": )");
    w.string(kernel.name);
    w.end('}', first);
}

void serialize(NotebookWriter& w, const LanguageInfo& language) {
    bool first = true;
    w.begin('{');
    w.field(first, R"("name": )");
    w.string(language.name);
    w.field(first, R"("version": )");
    w.optional_string(language.version);
    w.field(first, R"("codemirrorMode": )");
    w.optional_value(language.codemirrorMode);
    w.field(first, R"("fileExtension": )");
    w.optional_string(language.fileExtension);
    w.field(first, R"("mimetype": )");
    w.optional_string(language.mimetype);
    w.end('}', first);
}

void serialize(NotebookWriter& w, const NotebookMetadata& metadata) {
    bool first = true;
    w.begin('{');
    w.field(first, R"("kernelInfo": )");
    if (metadata.kernelInfo) serialize(w, *metadata.kernelInfo);
    else w.null();
    w.field(first, R"("languageInfo": )");
    if (metadata.languageInfo) serialize(w, *metadata.languageInfo);
    else w.null();
    // The other keys follow the two named ones, whatever their order.
    w.append_entries(first, metadata.extra);
    w.end('}', first);
}

void serialize(NotebookWriter& w, const CellOutput& output) {
    bool first = true;
    w.begin('{');
    std::visit(
        [&](const auto& o) {
            using T = std::decay_t<decltype(o)>;
            if constexpr (std::is_same_v<T, CellOutput::Stream>) {
                w.field(first, R"("output_type": "stream")");
                w.field(first, R"("name": )");
                w.string(o.name);
                w.field(first, R"("text": )");
                w.string(o.text.text);
            } else if constexpr (std::is_same_v<T, CellOutput::DisplayData>) {
                w.field(first, R"("output_type": "display_data")");
                w.field(first, R"("data": )");
                w.object(o.data);
                w.field(first, R"("metadata": )");
                w.object(o.metadata);
            } else if constexpr (std::is_same_v<T, CellOutput::ExecuteResult>) {
                w.field(first, R"("output_type": "execute_result")");
                w.field(first, R"("execution_count": )");
                if (o.execution_count) w.u32(*o.execution_count);
                else w.null();
                w.field(first, R"("data": )");
                w.object(o.data);
                w.field(first, R"("metadata": )");
                w.object(o.metadata);
            } else {
                w.field(first, R"("output_type": "error")");
                w.field(first, R"("ename": )");
                w.string(o.ename);
                w.field(first, R"("evalue": )");
                w.string(o.evalue);
                w.field(first, R"("traceback": )");
                w.string_array(o.traceback);
            }
        },
        output.value);
    w.end('}', first);
}

void serialize(NotebookWriter& w, const Cell& cell) {
    bool first = true;
    w.begin('{');
    switch (cell.cell_type) {
        case CellType::Code: w.field(first, R"("cell_type": "code")"); break;
        case CellType::Markdown: w.field(first, R"("cell_type": "markdown")"); break;
        case CellType::Raw: w.field(first, R"("cell_type": "raw")"); break;
    }
    w.field(first, R"("source": )");
    w.string(cell.source.text);
    w.field(first, R"("metadata": )");
    w.object(cell.metadata);
    w.field(first, R"("id": )");
    w.optional_string(cell.id);
    w.field(first, R"("execution_count": )");
    w.optional_value(cell.execution_count);
    w.field(first, R"("outputs": )");
    w.array(cell.outputs, [&w](const CellOutput& output) { serialize(w, output); });
    w.end('}', first);
}

void serialize(NotebookWriter& w, const Notebook& notebook) {
    bool first = true;
    w.begin('{');
    w.field(first, R"("metadata": )");
    serialize(w, notebook.metadata);
    w.field(first, R"("nbformat": )");
    w.u32(notebook.nbformat);
    w.field(first, R"("nbformat_minor": )");
    w.u32(notebook.nbformat_minor);
    w.field(first, R"("cells": )");
    w.array(notebook.cells, [&w](const Cell& cell) { serialize(w, cell); });
    w.end('}', first);
}

// A cheap first guess at the size of the text, from the sources, stream
// texts, bundles and metadata; the buffer grows past it when the guess is
// short.

// A text as a JSON string on its own line: its bytes, an eighth more for
// escapes, then quotes, key and indent.
std::size_t text_size(std::string_view text) { return text.size() + text.size() / 8 + 32; }

// Any value, metadata and bundles alike: its texts, keys and scalars.
std::size_t value_size(const JsonValue& value);

std::size_t object_size(const JsonObject& object) {
    std::size_t size = 0;
    for (const auto& [k, v] : object) size += k.size() + 16 + value_size(v);
    return size;
}

std::size_t value_size(const JsonValue& value) {
    if (const auto* text = value.as_string()) return text_size(*text);
    if (const auto* object = value.as_object()) return 16 + object_size(*object);
    if (const auto* items = value.as_array()) {
        std::size_t size = 16;
        for (const auto& item : *items) size += 8 + value_size(item);
        return size;
    }
    return 16;
}

std::size_t estimate_size(const Notebook& notebook) {
    std::size_t size = 256 + object_size(notebook.metadata.extra);
    for (const auto& cell : notebook.cells) {
        size += 160 + text_size(cell.source.text) + object_size(cell.metadata);
        for (const auto& output : cell.outputs) {
            size += 128;
            if (const auto* stream = std::get_if<CellOutput::Stream>(&output.value)) {
                size += text_size(stream->text.text);
            } else if (const auto* display = std::get_if<CellOutput::DisplayData>(&output.value)) {
                size += object_size(display->data) + object_size(display->metadata);
            } else if (const auto* result = std::get_if<CellOutput::ExecuteResult>(&output.value)) {
                size += object_size(result->data) + object_size(result->metadata);
            }
        }
    }
    return size;
}

}  // namespace

Result<Text, json::JsonError> to_vec_pretty(const Notebook& notebook, std::pmr::memory_resource* memory) {
    Text out(memory);
    out.reserve(estimate_size(notebook));
    NotebookWriter writer(out);
    serialize(writer, notebook);
    writer.finish();
    return out;
}

void append_json_value_pretty(Text& out, const JsonValue& value) {
    PrettyWriter<PlainJson> writer(out);
    writer.value(value);
    writer.finish();
}

void append_json_object_pretty(Text& out, const JsonObject& object) {
    PrettyWriter<PlainJson> writer(out);
    writer.object(object);
    writer.finish();
}

void append_json_object_pretty_html(Text& out, const JsonObject& object) {
    // Sized from the first guess, so a large bundle is not copied and its
    // pages first touched over and over while doubling its way up.
    out.reserve(out.size() + object_size(object));
    PrettyWriter<JsonInHtml> writer(out);
    writer.object(object);
    writer.finish();
}

}  // namespace convert_engine::notebook
