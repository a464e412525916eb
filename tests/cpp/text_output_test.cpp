#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "convert_engine/converters/html_fragments.hpp"
#include "convert_engine/notebook/json_writer.hpp"
#include "convert_engine/text_output.hpp"

using namespace convert_engine;

namespace {

// One special byte and what each escaping turns it into; a byte kept as is
// in one escaping has its own text there.
struct Special {
    char byte;
    std::string_view json;
    std::string_view html;
};
constexpr Special kSpecials[] = {
    {'"', R"(\")", "&quot;"}, {'\\', R"(\\)", "\\"},  {'\n', R"(\n)", "\n"},    {'\x01', R"(\u0001)", "\x01"},
    {'\x1f', R"(\u001f)", "\x1f"}, {'&', "&", "&amp;"}, {'<', "<", "&lt;"}, {'>', ">", "&gt;"},
};

std::string json_string(std::string_view text) {
    convert_engine::Text out;
    notebook::append_json_value_pretty(out, json::JsonValue(std::string(text)));
    return std::string(out);
}

std::string html_escaped(std::string_view text) { return std::string(converters::html_escape(text)); }

// A bundle with no text/plain, image/png or image/svg+xml string is shown as
// its escaped JSON; that text is escaped while it is written, which has to
// equal escaping the JSON text afterwards.
void expect_bundle_json_escaped(const std::string& text) {
    const json::JsonObject bundle{{"text/plain", json::JsonArray{text}}, {text, nullptr}};
    convert_engine::Text json;
    notebook::append_json_object_pretty(json, bundle);
    ASSERT_EQ(std::string(converters::render_display_data(bundle)), "<pre>" + html_escaped(json) + "</pre>");
}

// Plain text of `n` bytes that neither escaping touches, varied so that a
// byte copied to the wrong place shows.
std::string plain(std::size_t n) {
    std::string text;
    for (std::size_t i = 0; i < n; ++i) text.push_back(static_cast<char>('a' + i % 26));
    return text;
}

}  // namespace

// A special byte at every offset of texts whose lengths cross the 16-byte
// blocks, the padded last block and the pieces of long strings.
TEST(TextOutput, SpecialAtEveryOffset) {
    const std::size_t lengths[] = {1,  2,  3,  4,  5,  7,  8,   9,    15,   16,   17,  31,
                                   32, 33, 47, 48, 49, 64, 100, 4095, 4096, 4097, 8200, 40000};
    for (const std::size_t n : lengths) {
        const std::string base = plain(n);
        for (std::size_t at = 0; at < n; at += (n > 200 && at > 40 && at + 40 < n) ? 97 + n / 100 : 1) {
            for (const Special& s : kSpecials) {
                std::string text = base;
                text[at] = s.byte;
                const std::string head = base.substr(0, at), tail = base.substr(at + 1);
                ASSERT_EQ(json_string(text), '"' + head + std::string(s.json) + tail + '"') << n << ' ' << at;
                ASSERT_EQ(html_escaped(text), head + std::string(s.html) + tail) << n << ' ' << at;
                ASSERT_EQ(escaped_size<HtmlEscaping>(text), head.size() + s.html.size() + tail.size());
                expect_bundle_json_escaped(text);
            }
        }
    }
}

// Runs of special bytes, alone and between plain bytes, across blocks.
TEST(TextOutput, RunsOfSpecials) {
    for (const Special& s : kSpecials) {
        for (const std::size_t run : {1u, 2u, 15u, 16u, 17u, 33u, 64u, 700u, 5000u}) {
            for (const std::size_t before : {0u, 1u, 14u, 16u, 20u}) {
                const std::string text = plain(before) + std::string(run, s.byte) + plain(before);
                std::string json = '"' + plain(before), html = plain(before);
                for (std::size_t i = 0; i < run; ++i) json += s.json, html += s.html;
                json += plain(before) + '"';
                html += plain(before);
                ASSERT_EQ(json_string(text), json) << run << ' ' << before;
                ASSERT_EQ(html_escaped(text), html) << run << ' ' << before;
                ASSERT_EQ(escaped_size<HtmlEscaping>(text), html.size());
                expect_bundle_json_escaped(text);
            }
        }
    }
}

// Writing through the cursor past the first step and past several doublings
// of the capacity keeps what the string held and every byte written, plain
// or escaped.
TEST(TextOutput, GrowsWithoutLosingText) {
    const std::string_view words[] = {"x", "", "a <longer> piece of text\n", std::string_view("\0z\"", 3)};
    for (const std::size_t reserve : {0u, 10u, 1000u, 1u << 20}) {
        convert_engine::Text out = "kept:";
        out.reserve(reserve);
        std::string expected(out);
        TextOutput cursor(out);
        for (std::size_t i = 0; i < 30000; ++i) {
            const std::string_view w = words[i % 4];
            switch (i % 3) {
                case 0: cursor.put(w), expected += w; break;
                case 1: put_escaped<HtmlEscaping>(cursor, w), expected += html_escaped(w); break;
                case 2:
                    put_escaped<HtmlEscaping>(cursor, w, escaped_size<HtmlEscaping>(w));
                    expected += html_escaped(w);
                    break;
            }
        }
        cursor.finish();
        ASSERT_EQ(std::string_view(out), expected) << reserve;
    }
}

// A fragment is built at its exact size: no slack beyond the cursor's.
TEST(TextOutput, FragmentsKeepNoSpareCapacity) {
    for (const std::size_t n : {0u, 10u, 100u, 5000u, 100000u}) {
        enum class Marks { None, Every7, LastOnly };  // where the text has a '<'
        for (const Marks marks : {Marks::None, Marks::Every7, Marks::LastOnly}) {
            std::string text = plain(n);
            for (std::size_t i = 0; marks == Marks::Every7 && i < n; i += 7) text[i] = '<';
            if (marks == Marks::LastOnly && n != 0) text.back() = '<';
            const convert_engine::Text escaped = converters::html_escape(text);
            EXPECT_LE(escaped.capacity(), escaped.size() + 2 * TextOutput::kSlack) << n;
            const auto output =
                converters::OutputRenderData::from_output({notebook::CellOutput::Stream{"stdout", {text}}});
            EXPECT_LE(output.html.capacity(), output.html.size() + 2 * TextOutput::kSlack) << n;
        }
    }
}
