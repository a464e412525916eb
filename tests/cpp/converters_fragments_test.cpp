#include <gtest/gtest.h>

#include <algorithm>

#include <cstdint>
#include <optional>
#include <string>

#include "convert_engine/converters/html_fragments.hpp"

using namespace convert_engine::notebook;
using namespace convert_engine::converters;

TEST(HtmlFragments, Escape) {
    const std::pair<std::string, std::string> cases[] = {
        {"a<b & \"c\" 'd'", "a&lt;b &amp; &quot;c&quot; 'd'"},
        {"", ""},
        {"&amp; >>", "&amp;amp; &gt;&gt;"},
        {"\t\r\x1b[31m\u00e9", "\t\r\x1b[31m\u00e9"},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(std::string_view(html_escape(in)), out);
}

TEST(HtmlFragments, Bundles) {
    const JsonValue list42 = JsonArray{"42"};
    const std::pair<JsonObject, std::string> cases[] = {
        {{{"text/plain", "a<b"}}, "<pre>a&lt;b</pre>"},
        {{{"text/plain", list42}}, "<pre>{\n  &quot;text/plain&quot;: [\n    &quot;42&quot;\n  ]\n}</pre>"},
        {{{"text/plain", list42}, {"image/png", "iVBORw0K+/="}}, "<img src=\"data:image/png;base64,iVBORw0K+/=\" />"},
        {{{"text/plain", "t"}, {"image/png", "AAAA"}}, "<pre>t</pre>"},
        // Image data cannot leave its attribute.
        {{{"image/png", "x\" onerror=\"f()"}}, "<img src=\"data:image/png;base64,x&quot; onerror=&quot;f()\" />"},
        {{{"image/png", nullptr}, {"image/svg+xml", "<svg>&</svg>"}}, "<svg>&</svg>"},
        {{{"k", JsonObject{{"a", JsonArray{std::uint64_t{1}, 2.5}}, {"b", JsonObject{}}}}},
         "<pre>{\n  &quot;k&quot;: {\n    &quot;a&quot;: [\n      1,\n      2.5\n    ],\n"
         "    &quot;b&quot;: {}\n  }\n}</pre>"},
        {{}, "<pre>{}</pre>"},
    };
    for (const auto& [bundle, html] : cases) {
        EXPECT_EQ(std::string_view(render_display_data(bundle)), html);
        // A display data output is its bundle's fragment, nothing added.
        const CellOutput output{CellOutput::DisplayData{bundle, {}}};
        EXPECT_EQ(std::string_view(OutputRenderData::from_output(output).html), html);
        // The page sizes every fragment but the bundles shown as JSON before writing it.
        const bool json = html.starts_with("<pre>{");
        EXPECT_EQ(shown_as_json(output), json) << html;
        const auto length = fragment_length(output);
        ASSERT_EQ(length.has_value(), !json) << html;
        if (length) {
            EXPECT_EQ(length->size, html.size()) << html;
        }
    }
}

TEST(HtmlFragments, Outputs) {
    const JsonObject text42{{"text/plain", "42"}};
    const std::pair<CellOutput, std::string> cases[] = {
        {{CellOutput::Stream{"stdout", {"x<y\n"}}}, "<pre class=\"stream-stdout\">x&lt;y\n</pre>"},
        {{CellOutput::Stream{"stderr", {"e"}}}, "<pre class=\"stream-stderr\">e</pre>"},
        {{CellOutput::Stream{"STDERR", {""}}}, "<pre class=\"stream-stdout\"></pre>"},
        {{CellOutput::Stream{"stderr ", {""}}}, "<pre class=\"stream-stdout\"></pre>"},
        {{CellOutput::ExecuteResult{5, text42, {}}}, "<pre>Out[5]: </pre><pre>42</pre>"},
        {{CellOutput::ExecuteResult{0, text42, {}}}, "<pre>Out[0]: </pre><pre>42</pre>"},
        {{CellOutput::ExecuteResult{std::nullopt, text42, {}}}, "<pre>Out: </pre><pre>42</pre>"},
        {{CellOutput::ExecuteResult{4294967295u, {{"text/plain", "<&>\""}}, {}}},
         "<pre>Out[4294967295]: </pre><pre>&lt;&amp;&gt;&quot;</pre>"},
        {{CellOutput::Error{"", "", {}}}, "<div class=\"output-error\"><strong></strong>: <pre></pre></div>"},
        // Past a block of 64 bytes, an entity and a letter beyond ASCII.
        {{CellOutput::Stream{"stdout", {std::string(100, 'a') + "&" + std::string(50, 'b') + "\u00e9"}}},
         "<pre class=\"stream-stdout\">" + std::string(100, 'a') + "&amp;" + std::string(50, 'b') + "\u00e9</pre>"},
        {{CellOutput::ExecuteResult{std::nullopt, {{"image/svg+xml", "<svg>\u00e9</svg>"}}, {}}},
         "<pre>Out: </pre><svg>\u00e9</svg>"},
        {{CellOutput::Error{"ValueError", "x < 0", {"a", "b"}}},
         "<div class=\"output-error\"><strong>ValueError</strong>: x &lt; 0<pre>a\nb</pre></div>"},
        {{CellOutput::Error{"E", "v", {"\x1b[0;31m<1>", ""}}},
         "<div class=\"output-error\"><strong>E</strong>: v<pre>\x1b[0;31m&lt;1&gt;\n</pre></div>"},
    };
    for (const auto& [output, html] : cases) {
        EXPECT_EQ(std::string_view(OutputRenderData::from_output(output).html), html);
        const auto length = fragment_length(output);
        ASSERT_TRUE(length.has_value()) << html;
        EXPECT_EQ(length->size, html.size()) << html;
        EXPECT_EQ(length->ascii, std::ranges::all_of(html, [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
            << html;
        EXPECT_FALSE(shown_as_json(output)) << html;
    }
    const CellOutput json{CellOutput::ExecuteResult{1, {{"k", nullptr}}, {}}};
    EXPECT_EQ(std::string_view(OutputRenderData::from_output(json).html),
              "<pre>Out[1]: </pre><pre>{\n  &quot;k&quot;: null\n}</pre>");
    EXPECT_TRUE(shown_as_json(json));
    EXPECT_EQ(fragment_length(json).has_value(), false);
}

TEST(HtmlFragments, CellRecord) {
    const std::tuple<CellType, std::optional<JsonValue>, std::optional<std::uint64_t>> cases[] = {
        {CellType::Code, std::uint64_t{4294967297}, 4294967297}, {CellType::Code, std::uint64_t{0}, 0},
        {CellType::Code, std::nullopt, std::nullopt}, {CellType::Code, "3", std::nullopt},
        {CellType::Code, 3.0, std::nullopt}, {CellType::Code, std::int64_t{-1}, std::nullopt},
        {CellType::Markdown, std::uint64_t{7}, 7},
        {CellType::Raw, true, std::nullopt},
    };
    for (const auto& [type, count, shown] : cases) {
        const CellRenderData data = CellRenderData::from_cell(
            {type, {"a<\"b\""}, {}, {}, count, {{CellOutput::Stream{"o", {"1"}}}, {CellOutput::Error{"E", "v", {}}}}});
        const char* labels[] = {"Code", "Markdown", "Raw"};
        EXPECT_EQ(data.type_label, labels[static_cast<int>(type)]);
        EXPECT_EQ(data.is_code + 2 * data.is_markdown + 4 * data.is_raw, 1 << static_cast<int>(type));
        EXPECT_EQ(data.source_escaped, "a&lt;&quot;b&quot;");
        EXPECT_EQ(data.execution_count, shown);
        ASSERT_EQ(data.outputs.size(), 2u);
        EXPECT_EQ(data.outputs[0].html + data.outputs[1].html,
                  "<pre class=\"stream-stdout\">1</pre><div class=\"output-error\"><strong>E</strong>: v<pre></pre></div>");
    }
}
