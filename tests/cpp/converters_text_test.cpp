#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "convert_engine/converters/text_conversions.hpp"
#include "convert_engine/converters/white_space.hpp"

using namespace convert_engine::notebook;
using namespace convert_engine::converters;

namespace {

constexpr auto C = CellType::Code;
constexpr auto M = CellType::Markdown;
constexpr auto R = CellType::Raw;

struct Case {
    std::vector<std::pair<CellType, std::string>> cells;
    std::optional<LanguageInfo> language;
    std::string text;
};

Notebook make(const Case& c) {
    Notebook nb{{std::nullopt, c.language, {}}, 4, 5, {}};
    // Counts and outputs never show in the text conversions.
    for (const auto& [type, source] : c.cells)
        nb.cells.push_back(Cell{type, {source}, {}, {}, std::uint64_t{9}, {{CellOutput::Stream{"o", {"OUT"}}}}});
    return nb;
}

LanguageInfo lang(std::string name, std::optional<std::string> version = {}) { return {name, version, {}, {}, {}}; }

}  // namespace

TEST(TextConversions, Markdown) {
    const Case cases[] = {
        {{}, {}, ""},
        {{{C, "print(1)"}}, {}, "```python\nprint(1)\n```"},
        {{{C, "print(1)\n"}}, {}, "```python\nprint(1)\n```"},
        {{{C, ""}}, {}, "```python\n```"},
        {{{C, "x"}}, lang("R", "4.1"), "```R\nx\n```"},
        {{{C, "x"}, {C, "a\r"}}, lang(""), "```\nx\n```\n\n```\na\r\n```"},
        {{{M, "A"}, {C, "x = 1"}}, {}, "A\n\n```python\nx = 1\n```"},
        {{{M, "A\n"}, {M, "B"}}, {}, "A\n\n\nB"},
        {{{M, "A"}, {M, ""}, {M, "B"}}, {}, "A\n\n\n\nB"},
        {{{R, "raw text"}, {R, ""}, {M, "m"}}, lang("R"), "```raw\nraw text\n```\n\n```raw\n```\n\nm"},
        {{{M, " \n\u00a0\u3000# T  i\u00a0t"}, {M, "end \u0085\n"}}, {}, "# T  i\u00a0t\n\nend"},
    };
    for (const auto& c : cases) EXPECT_EQ(std::string_view(to_markdown(make(c)).value()), c.text);
}

TEST(TextConversions, PythonScript) {
    const std::string head = "# -*- coding: utf-8 -*-\n# Converted from Jupyter notebook";
    const Case cases[] = {
        {{}, {}, ""},
        {{{C, "print(1)"}}, lang("python", "3.9.7"), "\n\n# Language: python\n# Version: 3.9.7\n\nprint(1)"},
        {{{C, "x"}}, lang(""), "\n\n# Language: \n\nx"},
        {{{C, "a"}, {C, "b"}}, {}, "\n\na\n\nb"},
        {{{C, "a\n"}, {C, "b\n"}}, {}, "\n\na\n\nb"},
        {{{C, "a"}, {M, "Title"}, {C, "b"}}, {}, "\n\na\n\n# Title\n\n\nb"},
        {{{M, "x\r\ny"}, {M, "a\n\nb\n"}}, {}, "\n\n# x\n# y\n\n\n# a\n# \n# b"},
        {{{M, "a\r"}, {M, ""}, {C, "b"}}, {}, "\n\n# a\r\n\n\n\n\n\nb"},
        {{{C, "a\n\n"}, {C, "b"}}, {}, "\n\na\n\n\nb"},
        {{{R, "r"}, {R, "s"}}, lang("py"), "\n\n# Language: py"},
        {{{R, "r"}, {C, "a"}, {R, "r"}, {C, "b \u3000\n\n"}}, {}, "\n\na\n\nb"},
        // Lines shorter and longer than the 16-byte steps of the scan, ending
        // on and across them, the last one near the end of the source.
        {{{M, "0123456789abcdef\r\n0123456789abcdefg\n\n" + std::string(40, 'x') + "\nab\ncd"}},
         {},
         "\n\n# 0123456789abcdef\n# 0123456789abcdefg\n# \n# " + std::string(40, 'x') + "\n# ab\n# cd"},
        {{{M, std::string(15, 'y') + "\n" + std::string(16, 'z') + "\r\n"}},
         {},
         "\n\n# " + std::string(15, 'y') + "\n# " + std::string(16, 'z')},
    };
    for (const auto& c : cases) EXPECT_EQ(std::string_view(to_python(make(c)).value()), head + c.text);
}

TEST(TextConversions, TrimsUnicodeWhiteSpace) {
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},
        {" \t\n\v\f\r", ""},
        {"\u00a0\u3000\u0085x y\u0085\u3000\u00a0", "x y"},
        {"\u1680\u2000\u200a\u2028\u2029\u202f\u205fx\u2001", "x"},
        // Not White_Space: U+200B, U+180E, U+FEFF.
        {"\u200bx\u180e", "\u200bx\u180e"},
        {"\ufeffx", "\ufeffx"},
        {"\u00e9\u00a0\u20ac ", "\u00e9\u00a0\u20ac"},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(trim_white_space(in), out);
}
