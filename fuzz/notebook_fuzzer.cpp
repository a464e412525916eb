// libFuzzer target over the engine: reading, the text conversions, stripping,
// the JSON writer and the page's per-cell records.
//
// Every input that is valid UTF-8 is read and held against a plain check of
// the JSON grammar: valid JSON never gets a syntax message, and nothing that
// reads is invalid JSON. A notebook that reads is converted every way that
// needs no interpreter. Markdown, the script and the output
// fragments are compared with plain reference forms written below; stripping
// and writing are checked by their invariants and a write-read round trip.
// A broken invariant aborts with a message on stderr, so libFuzzer keeps the
// input as a crash artifact.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "convert_engine/converters/html_fragments.hpp"
#include "convert_engine/converters/text_conversions.hpp"
#include "convert_engine/notebook/json_writer.hpp"
#include "convert_engine/notebook/parse.hpp"

namespace {

namespace js = convert_engine::json;
namespace nb = convert_engine::notebook;
namespace cv = convert_engine::converters;

[[noreturn]] void fail(const char* what, std::string_view detail = {}) {
    std::fprintf(stderr, "\n==== notebook_fuzzer: %s\n", what);
    if (!detail.empty()) {
        std::fprintf(stderr, "%.*s\n", static_cast<int>(detail.size() > 4000 ? 4000 : detail.size()),
                     detail.data());
    }
    std::abort();
}

void check(bool condition, const char* what, std::string_view detail = {}) {
    if (!condition) fail(what, detail);
}

// Strict UTF-8, as a Python str encodes: no overlong forms, no surrogates,
// nothing above U+10FFFF.
bool valid_utf8(std::string_view s) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const auto* end = p + s.size();
    while (p < end) {
        const unsigned c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        std::size_t n;
        std::uint32_t cp;
        std::uint32_t min;
        if ((c & 0xE0) == 0xC0) {
            n = 1, cp = c & 0x1F, min = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            n = 2, cp = c & 0x0F, min = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            n = 3, cp = c & 0x07, min = 0x10000;
        } else {
            return false;
        }
        if (static_cast<std::size_t>(end - p) <= n) return false;
        for (std::size_t i = 1; i <= n; ++i) {
            if ((p[i] & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (p[i] & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        p += n + 1;
    }
    return true;
}

// The code point starting at s[i] and its length (s is valid UTF-8).
std::uint32_t decode_at(std::string_view s, std::size_t i, std::size_t& len) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) return len = 1, c;
    len = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
    std::uint32_t cp = c & (0x7F >> len);
    for (std::size_t k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    return cp;
}

bool white_space(std::uint32_t cp) {
    return (cp >= 0x09 && cp <= 0x0D) || cp == 0x20 || cp == 0x85 || cp == 0xA0 || cp == 0x1680 ||
           (cp >= 0x2000 && cp <= 0x200A) || cp == 0x2028 || cp == 0x2029 || cp == 0x202F ||
           cp == 0x205F || cp == 0x3000;
}

std::size_t count_lines(std::string_view s) {
    std::size_t n = 1;
    for (char c : s) n += c == '\n';
    return n;
}

void check_text_result(const cv::TextResult& result, const char* what, const std::string& expected) {
    if (!result.ok()) fail(what, result.error().display());
    check(valid_utf8(result.value()), "conversion result is not valid UTF-8", what);
    if (std::string_view(result.value()) != expected) {
        fail(what, "---- expected:\n" + expected + "\n---- got:\n" + std::string(result.value()));
    }
}

// ---- Reference forms of the conversions, written plainly, to compare with.

std::string trim(std::string_view s) {
    std::size_t begin = 0;
    std::size_t len = 0;
    while (begin < s.size() && white_space(decode_at(s, begin, len))) begin += len;
    std::size_t end = s.size();
    while (end > begin) {
        std::size_t last = end - 1;
        while (last > begin && (static_cast<unsigned char>(s[last]) & 0xC0) == 0x80) --last;
        if (!white_space(decode_at(s, last, len))) break;
        end = last;
    }
    return std::string(s.substr(begin, end - begin));
}

std::string escape(std::string_view s) {
    std::string out;
    for (char c : s) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

void close_fence(std::string& out, const std::string& source) {
    if (!source.empty() && source.back() != '\n') out += '\n';
    out += "```\n\n";
}

std::string expected_markdown(const nb::Notebook& notebook) {
    const auto& info = notebook.metadata.languageInfo;
    const std::string language = info ? info->name : "python";
    std::string out;
    for (const nb::Cell& cell : notebook.cells) {
        const std::string& source = cell.source.text;
        if (cell.cell_type == nb::CellType::Markdown) {
            out += source + "\n\n";
        } else {
            out += cell.cell_type == nb::CellType::Code ? "```" + language + "\n" : "```raw\n";
            out += source;
            close_fence(out, source);
        }
    }
    return trim(out);
}

std::string expected_python(const nb::Notebook& notebook) {
    std::string out = "# -*- coding: utf-8 -*-\n# Converted from Jupyter notebook\n\n";
    if (const auto& info = notebook.metadata.languageInfo) {
        out += "# Language: " + info->name + "\n";
        if (info->version) out += "# Version: " + *info->version + "\n";
        out += "\n";
    }
    bool first = true;
    for (const nb::Cell& cell : notebook.cells) {
        const std::string& source = cell.source.text;
        if (cell.cell_type == nb::CellType::Raw) continue;
        if (!first) out += "\n";
        first = false;
        if (cell.cell_type == nb::CellType::Code) {
            out += source;
            if (source.empty() || source.back() != '\n') out += "\n";
            continue;
        }
        std::vector<std::string> lines;
        for (std::size_t at = 0; at < source.size();) {
            const std::size_t lf = source.find('\n', at);
            if (lf == std::string::npos) {
                lines.push_back(source.substr(at));
                break;
            }
            std::string line = source.substr(at, lf - at);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            lines.push_back(std::move(line));
            at = lf + 1;
        }
        for (std::size_t i = 0; i < lines.size(); ++i) out += (i ? "\n# " : "# ") + lines[i];
        out += "\n\n";
    }
    return trim(out);
}

std::string expected_bundle(const js::JsonObject& bundle) {
    auto string_at = [&bundle](const char* key) -> const js::CompactString* {
        const auto it = bundle.find(key);
        return it == bundle.end() ? nullptr : it->second.as_string();
    };
    if (const auto* text = string_at("text/plain")) return "<pre>" + escape(*text) + "</pre>";
    // The image data sits inside an attribute value, so it is escaped too.
    if (const auto* png = string_at("image/png")) return "<img src=\"data:image/png;base64," + escape(*png) + "\" />";
    if (const auto* svg = string_at("image/svg+xml")) return std::string(*svg);
    convert_engine::Text json;
    nb::append_json_value_pretty(json, js::JsonValue(bundle));
    return "<pre>" + escape(json) + "</pre>";
}

std::string expected_fragment(const nb::CellOutput& output) {
    using Output = nb::CellOutput;
    if (const auto* stream = std::get_if<Output::Stream>(&output.value)) {
        return std::string("<pre class=\"") + (stream->name == "stderr" ? "stream-stderr" : "stream-stdout") +
               "\">" + escape(stream->text.text) + "</pre>";
    }
    if (const auto* display = std::get_if<Output::DisplayData>(&output.value)) return expected_bundle(display->data);
    if (const auto* result = std::get_if<Output::ExecuteResult>(&output.value)) {
        const std::string label =
            result->execution_count ? "Out[" + std::to_string(*result->execution_count) + "]: " : "Out: ";
        return "<pre>" + label + "</pre>" + expected_bundle(result->data);
    }
    const auto& error = std::get<Output::Error>(output.value);
    std::string traceback;
    for (std::size_t i = 0; i < error.traceback.size(); ++i) traceback += (i ? "\n" : "") + error.traceback[i];
    return "<div class=\"output-error\"><strong>" + escape(error.ename) + "</strong>: " + escape(error.evalue) +
           "<pre>" + escape(traceback) + "</pre></div>";
}

void check_render_records(const nb::Notebook& notebook) {
    for (const nb::Cell& cell : notebook.cells) {
        const cv::CellRenderData data = cv::CellRenderData::from_cell(cell);
        check(data.is_code == (cell.cell_type == nb::CellType::Code), "from_cell: is_code");
        check(data.is_markdown == (cell.cell_type == nb::CellType::Markdown), "from_cell: is_markdown");
        check(data.is_raw == (cell.cell_type == nb::CellType::Raw), "from_cell: is_raw");
        check(std::string_view(data.source_escaped) == escape(cell.source.text), "from_cell: source_escaped",
              data.source_escaped);
        check(data.source_escaped == cv::html_escape(cell.source.text), "html_escape differs from from_cell");
        const bool counted = cell.execution_count && cell.execution_count->is_u64();
        check(data.execution_count.has_value() == counted, "from_cell: execution_count presence");
        if (counted) {
            check(*data.execution_count == std::get<std::uint64_t>(cell.execution_count->value),
                  "from_cell: execution_count value");
        }
        check(data.outputs.size() == cell.outputs.size(), "from_cell: output count");
        for (std::size_t i = 0; i < data.outputs.size(); ++i) {
            const std::string_view html = data.outputs[i].html;
            check(valid_utf8(html), "output fragment is not valid UTF-8", html);
            const auto length = cv::fragment_length(cell.outputs[i]);
            const bool ascii = std::all_of(html.begin(), html.end(), [](char c) { return (c & 0x80) == 0; });
            check(length ? length->size == html.size() && length->ascii == ascii && !cv::shown_as_json(cell.outputs[i])
                         : cv::shown_as_json(cell.outputs[i]),
                  "fragment_length differs from the fragment", html);
            const std::string expected = expected_fragment(cell.outputs[i]);
            if (html != expected) {
                fail("output fragment differs", "---- expected:\n" + expected + "\n---- got:\n" + std::string(html));
            }
        }
    }
}

void check_strip(const nb::Notebook& notebook) {
    const nb::Notebook before = notebook;
    const nb::Notebook stripped = cv::strip_outputs(notebook);
    check(notebook == before, "strip_outputs changed its argument");
    check(stripped.metadata == notebook.metadata, "strip_outputs: metadata");
    check(stripped.nbformat == notebook.nbformat && stripped.nbformat_minor == notebook.nbformat_minor,
          "strip_outputs: format numbers");
    check(stripped.cells.size() == notebook.cells.size(), "strip_outputs: cell count");
    for (std::size_t i = 0; i < stripped.cells.size(); ++i) {
        const nb::Cell& in = notebook.cells[i];
        const nb::Cell& out = stripped.cells[i];
        if (in.cell_type == nb::CellType::Code) {
            check(out.outputs.empty() && !out.execution_count, "strip_outputs: code cell kept outputs or count");
            check(out.source == in.source && out.metadata == in.metadata && out.id == in.id,
                  "strip_outputs: code cell fields");
        } else {
            check(out == in, "strip_outputs: markdown or raw cell changed");
        }
    }
    check(cv::strip_outputs(stripped) == stripped, "strip_outputs is not idempotent");

    const auto written = nb::to_vec_pretty(stripped);
    if (!written.ok()) fail("to_vec_pretty failed on a stripped notebook", written.error().display());
    check(valid_utf8(written.value()), "to_vec_pretty result is not valid UTF-8");
}

// write(parse(text)) must read back to the same document and the same text.
void check_round_trip(const nb::Notebook& notebook) {
    const auto first = nb::to_vec_pretty(notebook);
    if (!first.ok()) fail("to_vec_pretty failed", first.error().display());
    const std::string text1(first.value());
    check(valid_utf8(text1), "to_vec_pretty result is not valid UTF-8");
    check(text1.empty() || text1.back() == '}', "to_vec_pretty: text does not end with the closing brace");

    // Read back into an arena: a document there equals one on the heap.
    js::Arena arena;
    nb::ReadOptions options;
    options.arena = &arena;
    const auto reread = nb::parse_notebook(text1, options);
    if (!reread.ok()) {
        fail("written notebook does not read back",
             reread.error().display() + "\n---- written text:\n" + text1);
    }
    const auto second = nb::to_vec_pretty(reread.value());
    if (!second.ok()) fail("to_vec_pretty failed on the re-read notebook", second.error().display());
    if (std::string_view(second.value()) != text1) {
        fail("round trip changed the written text",
             "---- first:\n" + text1 + "\n---- second:\n" + std::string(second.value()));
    }
    check(reread.value() == notebook, "round trip changed the document", text1);
}

// ---- A plain recursive check of the JSON grammar, to hold the reader to.

enum class Grammar {
    valid,
    valid_but_lone_surrogate,  // valid but for a \u escape of an unpaired surrogate
    invalid,
    too_deep,  // not checked
};

class GrammarCheck {
public:
    explicit GrammarCheck(std::string_view text) : s_(text) {}

    Grammar run() {
        space();
        const bool ok = value(0);
        space();
        if (too_deep_) return Grammar::too_deep;
        if (!ok || i_ != s_.size()) return Grammar::invalid;
        return lone_surrogate_ ? Grammar::valid_but_lone_surrogate : Grammar::valid;
    }

private:
    static constexpr std::size_t kMaxDepth = 10'000;

    int peek() const { return i_ < s_.size() ? static_cast<unsigned char>(s_[i_]) : -1; }
    bool eat(char c) {
        if (peek() != c) return false;
        ++i_;
        return true;
    }
    void space() {
        while (peek() == ' ' || peek() == '\t' || peek() == '\n' || peek() == '\r') ++i_;
    }
    bool digits() {
        const std::size_t start = i_;
        while (peek() >= '0' && peek() <= '9') ++i_;
        return i_ > start;
    }
    bool word(std::string_view w) {
        if (s_.substr(i_, w.size()) != w) return false;
        i_ += w.size();
        return true;
    }

    bool value(std::size_t depth) {
        switch (peek()) {
            case '{': return container(depth + 1, '}');
            case '[': return container(depth + 1, ']');
            case '"': return string();
            case 't': return word("true");
            case 'f': return word("false");
            case 'n': return word("null");
            default: return number();
        }
    }

    // An array or, closing with '}', an object.
    bool container(std::size_t depth, char close) {
        if (depth > kMaxDepth) {
            too_deep_ = true;
            return false;
        }
        ++i_;
        space();
        if (eat(close)) return true;
        for (;;) {
            if (close == '}') {
                if (!string()) return false;
                space();
                if (!eat(':')) return false;
                space();
            }
            if (!value(depth)) return false;
            space();
            if (eat(close)) return true;
            if (!eat(',')) return false;
            space();
        }
    }

    bool number() {
        eat('-');
        if (!eat('0') && !digits()) return false;
        if (eat('.') && !digits()) return false;
        if (eat('e') || eat('E')) {
            if (!eat('+')) eat('-');
            if (!digits()) return false;
        }
        return true;
    }

    // Four hexadecimal digits after "\u".
    bool hex4(std::uint32_t& unit) {
        if (s_.size() - i_ < 4) return false;
        unit = 0;
        for (int k = 0; k < 4; ++k) {
            const int c = peek();
            const int v = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                 : -1;
            if (v < 0) return false;
            unit = unit * 16 + static_cast<std::uint32_t>(v);
            ++i_;
        }
        return true;
    }

    bool string() {
        if (!eat('"')) return false;
        for (;;) {
            const int c = peek();
            if (c < 0x20) return false;  // the end of the text, or a control character
            ++i_;
            if (c == '"') return true;
            if (c != '\\') continue;
            const int e = peek();
            if (e < 0) return false;
            ++i_;
            if (e == '"' || e == '\\' || e == '/' || e == 'b' || e == 'f' || e == 'n' || e == 'r' || e == 't') {
                continue;
            }
            std::uint32_t unit = 0;
            if (e != 'u' || !hex4(unit)) return false;
            if (unit < 0xD800 || unit > 0xDFFF) continue;
            // A leading surrogate must be followed at once by an escaped trailing one.
            if (unit >= 0xDC00 || s_.substr(i_, 2) != "\\u") {
                lone_surrogate_ = true;
                continue;
            }
            i_ += 2;
            std::uint32_t trail = 0;
            if (!hex4(trail)) return false;
            if (trail < 0xDC00 || trail > 0xDFFF) lone_surrogate_ = true;
        }
    }

    std::string_view s_;
    std::size_t i_ = 0;
    bool too_deep_ = false;
    bool lone_surrogate_ = false;
};

// Failures of the grammar itself, which valid JSON never earns. The
// reader's other failures (types, lengths, keys, ranges, the budget, and
// trailing characters after the last field of an array form) do arise for
// valid JSON. No default: a new kind has to be sorted here.
bool syntax_failure(js::ErrorKind kind) {
    switch (kind) {
        case js::ErrorKind::EofWhileParsingValue:
        case js::ErrorKind::EofWhileParsingString:
        case js::ErrorKind::EofWhileParsingObject:
        case js::ErrorKind::EofWhileParsingList:
        case js::ErrorKind::ExpectedColon:
        case js::ErrorKind::ExpectedCommaOrBracket:
        case js::ErrorKind::ExpectedCommaOrBrace:
        case js::ErrorKind::ExpectedIdent:
        case js::ErrorKind::KeyMustBeString:
        case js::ErrorKind::TrailingComma:
        case js::ErrorKind::InvalidEscape:
        case js::ErrorKind::InvalidNumber:
        case js::ErrorKind::ControlCharacterInString:
        case js::ErrorKind::UnexpectedEndOfHexEscape:
        case js::ErrorKind::LoneLeadingSurrogate:
            return true;
        // Valid JSON earns these; "expected value" is judged by where it
        // stands (cell_kind_expected_value).
        case js::ErrorKind::ExpectedValue:
        case js::ErrorKind::TrailingCharacters:
        case js::ErrorKind::RecursionLimitExceeded:
        case js::ErrorKind::NumberOutOfRange:
        case js::ErrorKind::NoVariantMatched:
        case js::ErrorKind::MissingField:
        case js::ErrorKind::DuplicateField:
        case js::ErrorKind::InvalidType:
        case js::ErrorKind::InvalidValue:
        case js::ErrorKind::InvalidLength:
        case js::ErrorKind::UnknownVariant:
            return false;
    }
    return false;
}

// The byte offset of a placed error's point.
std::size_t point_of(std::string_view text, const js::JsonError& error) {
    std::size_t line_start = 0;
    for (std::size_t line = 1; line < error.line; ++line) line_start = text.find('\n', line_start) + 1;
    return line_start + error.column;
}

// "expected value" is a syntax failure too, except where the cell kind's
// reader gives it to valid JSON: at the first byte of a value that is neither
// a string nor an object, at the brace closing an empty object, and just
// before the comma that opens a second member of its one-member object.
bool cell_kind_expected_value(std::string_view text, std::size_t point) {
    if (point < text.size() && text[point] == ',') return true;
    if (point == 0 || point > text.size()) return false;
    const char c = text[point - 1];
    return c == '}' || c == '[' || c == 'n' || c == 't' || c == 'f' || c == '-' || (c >= '0' && c <= '9');
}

void check_grammar(std::string_view text, const js::JsonError* error) {
    const Grammar grammar = GrammarCheck(text).run();
    if (grammar == Grammar::too_deep) return;
    if (!error) {
        check(grammar != Grammar::invalid, "the reader accepted a text that is not JSON");
        return;
    }
    if (grammar != Grammar::valid) return;
    const bool wrong = error->kind() == js::ErrorKind::ExpectedValue
                           ? !cell_kind_expected_value(text, point_of(text, *error))
                           : syntax_failure(error->kind());
    if (wrong) fail("a syntax message for valid JSON", error->display());
}

// The reads that leave maps unbuilt, as the module does per format, fail
// exactly as the full read does; otherwise Markdown and the script, which
// never show those maps, come out the same.
void check_partial_reads(std::string_view text, const convert_engine::Result<nb::Notebook, js::JsonError>& full) {
    for (const bool metadata : {false, true}) {
        js::Arena arena;
        nb::ReadOptions options;
        options.drop_code_outputs = true;
        options.empty_metadata = metadata;
        options.arena = &arena;
        const auto partial = nb::parse_notebook(text, options);
        check(partial.ok() == full.ok(), "a partial read and the full read disagree on failing");
        if (!full.ok()) {
            check(partial.error().display() == full.error().display(), "a partial read fails differently",
                  partial.error().display() + "\n---- full read:\n" + full.error().display());
            continue;
        }
        const auto same = [](const cv::TextResult& a, const cv::TextResult& b) {
            if (a.ok() != b.ok()) return false;
            return a.ok() ? a.value() == b.value() : a.error().display() == b.error().display();
        };
        check(same(cv::to_markdown(partial.value()), cv::to_markdown(full.value())),
              "a partial read changes the Markdown");
        check(same(cv::to_python(partial.value()), cv::to_python(full.value())), "a partial read changes the script");
    }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (!valid_utf8(text)) return -1;  // both callers hand over UTF-8 only

    const auto parsed = nb::parse_notebook(text);
    check_partial_reads(text, parsed);
    if (!parsed.ok()) {
        const js::JsonError& error = parsed.error();
        check(error.placed(), "parse_notebook returned an unplaced error", error.message());
        check(!error.message().empty(), "parse_notebook returned an empty message");
        check(error.line <= count_lines(text) && error.column <= text.size(),
              "parse_notebook placed its error outside the text", error.display());
        check(valid_utf8(error.display()), "error text is not valid UTF-8");
        check_grammar(text, &error);
        return 0;
    }
    check_grammar(text, nullptr);
    const nb::Notebook& notebook = parsed.value();

    check_text_result(cv::to_markdown(notebook), "to_markdown", expected_markdown(notebook));
    check_text_result(cv::to_python(notebook), "to_python", expected_python(notebook));

    check_strip(notebook);
    check_render_records(notebook);
    check_round_trip(notebook);
    return 0;
}
