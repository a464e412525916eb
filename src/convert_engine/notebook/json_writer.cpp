#include "convert_engine/notebook/json_writer.hpp"

#include <array>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <type_traits>
#include <variant>

#include "convert_engine/json/float_format.hpp"
#include "convert_engine/text_scan.hpp"

namespace convert_engine::notebook {
namespace {

// For each byte: 0 when it is copied as is, otherwise the letter of its short
// escape ('"', '\\', 'b', 't', 'n', 'f', 'r') or 'u' for the \u00XX form.
constexpr std::array<char, 256> kEscape = [] {
    std::array<char, 256> table{};
    for (int c = 0; c < 0x20; ++c) table[static_cast<std::size_t>(c)] = 'u';
    table['"'] = '"';
    table['\\'] = '\\';
    table['\b'] = 'b';
    table['\t'] = 't';
    table['\n'] = 'n';
    table['\f'] = 'f';
    table['\r'] = 'r';
    return table;
}();

void append_json_string(std::string& out, std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    out.push_back('"');
    const char* p = text.data();
    const std::size_t n = text.size();
    std::size_t run = 0;  // start of the bytes not yet copied
    for (std::size_t i = find_json_string_special(p, 0, n); i < n; i = find_json_string_special(p, i, n)) {
        out.append(p + run, i - run);
        const auto byte = static_cast<unsigned char>(p[i]);
        const char esc = kEscape[byte];
        if (esc == 'u') {
            const char seq[6] = {'\\', 'u', '0', '0', kHex[byte >> 4], kHex[byte & 0xF]};
            out.append(seq, sizeof seq);
        } else {
            const char seq[2] = {'\\', esc};
            out.append(seq, sizeof seq);
        }
        run = ++i;
    }
    out.append(p + run, n - run);
    out.push_back('"');
}

template <class Int>
void append_integer(std::string& out, Int value) {
    char digits[24];
    const auto res = std::to_chars(digits, digits + sizeof digits, value);
    out.append(digits, res.ptr);
}

// The pretty layout: every open container knows whether it has an entry yet;
// the depth gives the indent of the next line.
class PrettyWriter {
public:
    explicit PrettyWriter(std::string& out) : out_(out) {}

    void begin(char open) {
        out_.push_back(open);
        ++depth_;
    }
    // Separator and indent before an entry; `first` is the container's state.
    void next(bool& first) {
        if (first) {
            out_.push_back('\n');
            first = false;
        } else {
            out_.append(",\n", 2);
        }
        out_.append(2 * depth_, ' ');
    }
    void key(bool& first, std::string_view name) {
        next(first);
        append_json_string(out_, name);
        out_.append(": ", 2);
    }
    void end(char close, bool first) {
        --depth_;
        if (!first) {
            out_.push_back('\n');
            out_.append(2 * depth_, ' ');
        }
        out_.push_back(close);
    }

    void string(std::string_view text) { append_json_string(out_, text); }
    void null() { out_.append("null", 4); }
    void u32(std::uint32_t v) { append_integer(out_, v); }

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
                    if (x) out_.append("true", 4);
                    else out_.append("false", 5);
                } else if constexpr (std::is_same_v<T, std::uint64_t> || std::is_same_v<T, std::int64_t>) {
                    append_integer(out_, x);
                } else if constexpr (std::is_same_v<T, double>) {
                    append_float(out_, x);
                } else if constexpr (std::is_same_v<T, std::string>) {
                    string(x);
                } else if constexpr (std::is_same_v<T, JsonArray>) {
                    array(x);
                } else {
                    object(x);
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
        for (const auto& [k, v] : entries) {
            key(first, k);
            value(v);
        }
    }

    void string_array(const std::vector<std::string>& items) {
        array(items, [this](const std::string& item) { string(item); });
    }

private:
    std::string& out_;
    std::size_t depth_ = 0;
};

void serialize(PrettyWriter& w, const KernelInfo& kernel) {
    bool first = true;
    w.begin('{');
    w.key(first, "name");
    w.string(kernel.name);
    w.end('}', first);
}

void serialize(PrettyWriter& w, const LanguageInfo& language) {
    bool first = true;
    w.begin('{');
    w.key(first, "name");
    w.string(language.name);
    w.key(first, "version");
    w.optional_string(language.version);
    w.key(first, "codemirrorMode");
    w.optional_value(language.codemirrorMode);
    w.key(first, "fileExtension");
    w.optional_string(language.fileExtension);
    w.key(first, "mimetype");
    w.optional_string(language.mimetype);
    w.end('}', first);
}

void serialize(PrettyWriter& w, const NotebookMetadata& metadata) {
    bool first = true;
    w.begin('{');
    w.key(first, "kernelInfo");
    if (metadata.kernelInfo) serialize(w, *metadata.kernelInfo);
    else w.null();
    w.key(first, "languageInfo");
    if (metadata.languageInfo) serialize(w, *metadata.languageInfo);
    else w.null();
    // The other keys follow the two named ones, whatever their order.
    w.append_entries(first, metadata.extra);
    w.end('}', first);
}

void serialize(PrettyWriter& w, const CellOutput& output) {
    bool first = true;
    w.begin('{');
    std::visit(
        [&](const auto& o) {
            using T = std::decay_t<decltype(o)>;
            w.key(first, "output_type");
            if constexpr (std::is_same_v<T, CellOutput::Stream>) {
                w.string("stream");
                w.key(first, "name");
                w.string(o.name);
                w.key(first, "text");
                w.string(o.text.text);
            } else if constexpr (std::is_same_v<T, CellOutput::DisplayData>) {
                w.string("display_data");
                w.key(first, "data");
                w.object(o.data);
                w.key(first, "metadata");
                w.object(o.metadata);
            } else if constexpr (std::is_same_v<T, CellOutput::ExecuteResult>) {
                w.string("execute_result");
                w.key(first, "execution_count");
                if (o.execution_count) w.u32(*o.execution_count);
                else w.null();
                w.key(first, "data");
                w.object(o.data);
                w.key(first, "metadata");
                w.object(o.metadata);
            } else {
                w.string("error");
                w.key(first, "ename");
                w.string(o.ename);
                w.key(first, "evalue");
                w.string(o.evalue);
                w.key(first, "traceback");
                w.string_array(o.traceback);
            }
        },
        output.value);
    w.end('}', first);
}

void serialize(PrettyWriter& w, const Cell& cell) {
    bool first = true;
    w.begin('{');
    w.key(first, "cell_type");
    w.string(cell_type_name(cell.cell_type));
    w.key(first, "source");
    w.string(cell.source.text);
    w.key(first, "metadata");
    w.object(cell.metadata);
    w.key(first, "id");
    w.optional_string(cell.id);
    w.key(first, "execution_count");
    w.optional_value(cell.execution_count);
    w.key(first, "outputs");
    w.array(cell.outputs, [&w](const CellOutput& output) { serialize(w, output); });
    w.end('}', first);
}

void serialize(PrettyWriter& w, const Notebook& notebook) {
    bool first = true;
    w.begin('{');
    w.key(first, "metadata");
    serialize(w, notebook.metadata);
    w.key(first, "nbformat");
    w.u32(notebook.nbformat);
    w.key(first, "nbformat_minor");
    w.u32(notebook.nbformat_minor);
    w.key(first, "cells");
    w.array(notebook.cells, [&w](const Cell& cell) { serialize(w, cell); });
    w.end('}', first);
}

// A cheap first guess at the size of the text, from the big pieces only
// (sources, stream texts, top-level strings of bundles); the buffer grows
// past it when the guess is short.
std::size_t estimate_size(const Notebook& notebook) {
    std::size_t size = 256;
    for (const auto& cell : notebook.cells) {
        size += 192 + cell.source.text.size() + cell.source.text.size() / 8;
        for (const auto& output : cell.outputs) {
            size += 128;
            if (const auto* stream = std::get_if<CellOutput::Stream>(&output.value)) {
                size += stream->text.text.size();
            } else if (const auto* display = std::get_if<CellOutput::DisplayData>(&output.value)) {
                for (const auto& [k, v] : display->data)
                    if (const auto* s = v.as_string()) size += k.size() + s->size() + 16;
            } else if (const auto* result = std::get_if<CellOutput::ExecuteResult>(&output.value)) {
                for (const auto& [k, v] : result->data)
                    if (const auto* s = v.as_string()) size += k.size() + s->size() + 16;
            }
        }
    }
    return size;
}

}  // namespace

Result<std::string, JsonError> to_vec_pretty(const Notebook& notebook) {
    std::string out;
    out.reserve(estimate_size(notebook));
    PrettyWriter writer(out);
    serialize(writer, notebook);
    return out;
}

void append_json_value_pretty(std::string& out, const JsonValue& value) {
    PrettyWriter writer(out);
    writer.value(value);
}

void append_json_object_pretty(std::string& out, const JsonObject& object) {
    PrettyWriter writer(out);
    writer.object(object);
}

}  // namespace convert_engine::notebook
