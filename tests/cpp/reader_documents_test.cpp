#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "convert_engine/notebook/parse.hpp"

namespace {

using namespace convert_engine::notebook;
using convert_engine::json::Arena;

Notebook read(const std::string& text) {
    auto result = parse_notebook(text);
    if (!result.ok()) ADD_FAILURE() << text << "\n" << result.error().display();
    return result.ok() ? std::move(result).value() : Notebook{};
}

std::string with_cells(const std::string& cells) {
    return R"({"nbformat":4,"nbformat_minor":5,"cells":[)" + cells + "]}";
}

// The one value of the metadata key "v".
JsonValue metadata_value(const std::string& literal) {
    const Notebook nb = read(R"({"metadata":{"v":)" + literal + R"(},"nbformat":4,"nbformat_minor":5,"cells":[]})");
    const auto it = nb.metadata.extra.find("v");
    return it == nb.metadata.extra.end() ? JsonValue{} : it->second;
}

TEST(ReaderDocuments, NumberKindsAreFixedByTheLiteral) {
    struct Case {
        const char* literal;
        JsonValue value;
    };
    const Case cases[] = {
        {"7", JsonValue(std::uint64_t{7})},
        {"-7", JsonValue(std::int64_t{-7})},
        {"7.0", JsonValue(7.0)},
        {"7e0", JsonValue(7.0)},
        {"1E2", JsonValue(100.0)},
        {"0.1", JsonValue(0.1)},
        {"0", JsonValue(std::uint64_t{0})},
        {"12", JsonValue(std::uint64_t{12})},
        {"12.5", JsonValue(12.5)},
        {"12e1", JsonValue(120.0)},
        {"9999999999999999999", JsonValue(std::uint64_t{9999999999999999999ULL})},
        {"9999999999999999999.5", JsonValue(9999999999999999999.5)},
        {"10000000000000000000", JsonValue(std::uint64_t{10000000000000000000ULL})},
        {"18446744073709551615", JsonValue(std::uint64_t{18446744073709551615ULL})},
        {"18446744073709551616", JsonValue(18446744073709551616.0)},
        {"-9223372036854775808", JsonValue(std::int64_t{-9223372036854775807LL - 1})},
        {"-9223372036854775809", JsonValue(-9223372036854775809.0)},
        {"2.2250738585072011e-308", JsonValue(2.2250738585072011e-308)},
        {"123456789012345678901234567890e-10", JsonValue(12345678901234567890.1234567890)},
        {"1e-400", JsonValue(0.0)},
    };
    for (const Case& c : cases) EXPECT_EQ(metadata_value(c.literal), c.value) << c.literal;

    // Zeros keep their sign: "-0" is the float negative zero.
    for (const char* literal : {"-0", "-0.0", "-1e-400"}) {
        const JsonValue v = metadata_value(literal);
        ASSERT_TRUE(std::holds_alternative<double>(v.value)) << literal;
        EXPECT_TRUE(std::signbit(std::get<double>(v.value))) << literal;
    }
}

TEST(ReaderDocuments, StringsAreDecoded) {
    EXPECT_EQ(metadata_value(R"("\"\\\/\b\f\n\r\t\u00e9\u00C9\ud83d\ude00")"),
              JsonValue("\"\\/\b\f\n\r\t\xC3\xA9\xC3\x89\xF0\x9F\x98\x80"));
    EXPECT_EQ(metadata_value("\"plain \xE2\x82\xAC text\""), JsonValue("plain \xE2\x82\xAC text"));
    EXPECT_EQ(metadata_value(R"("a\u0000b")"), JsonValue(std::string("a\0b", 3)));
}

// Escapes before, on and after the edges of the 16-byte blocks strings are
// scanned in, alone, back to back and just before the closing quote.
TEST(ReaderDocuments, EscapesDecodeAtEveryOffset) {
    struct Escape {
        const char* literal;
        std::string_view decoded;
    };
    const Escape escapes[] = {
        {R"(\")", "\""}, {R"(\\)", "\\"}, {R"(\/)", "/"},  {R"(\b)", "\b"},
        {R"(\f)", "\f"},  {R"(\n)", "\n"},   {R"(\r)", "\r"}, {R"(\t)", "\t"},
        {R"(\u00e9)", "\xC3\xA9"}, {R"(\ud83d\ude00)", "\xF0\x9F\x98\x80"},
        {R"(\u001b)", "\x1b"}, {R"(\u0000)", std::string_view("\0", 1)}, {R"(\u07FF)", "\xDF\xBF"},
        {R"(\uD7ff)", "\xED\x9F\xBF"}, {R"(\ue000)", "\xEE\x80\x80"}, {R"(\uffff)", "\xEF\xBF\xBF"},
    };
    for (const Escape& e : escapes) {
        for (std::size_t k = 0; k <= 40; ++k) {
            const std::string pad(k, 'x');
            // Several escapes, and one that ends the string alone.
            const std::string literal = "\"" + pad + e.literal + "y" + e.literal + e.literal + "\"";
            const std::string d(e.decoded);
            const std::string decoded = pad + d + "y" + d + d;
            EXPECT_EQ(metadata_value(literal), JsonValue(decoded)) << literal;
            EXPECT_EQ(metadata_value("\"" + pad + e.literal + "\""), JsonValue(pad + d)) << literal;
        }
    }
}

TEST(ReaderDocuments, ObjectsAreOrderedByKeyAndTheLastRepeatWins) {
    const JsonValue v = metadata_value(R"({"b":1,"a":{"d":[],"c":{}},"b":2,"\u00e9":0,"B":3})");
    const auto& object = *v.as_object();
    std::vector<std::string> keys;
    for (const auto& entry : object) keys.emplace_back(entry.first);
    EXPECT_EQ(keys, (std::vector<std::string>{"B", "a", "b", "\xC3\xA9"}));
    EXPECT_EQ(object.at("b"), JsonValue(std::uint64_t{2}));
    EXPECT_EQ(object.at("a"), JsonValue(JsonObject{{"c", JsonObject{}}, {"d", JsonArray{}}}));
}

TEST(ReaderDocuments, NotebookMetadata) {
    const Notebook nb = read(R"({"nbformat":4,"nbformat_minor":5,"cells":[],"metadata":{
        "language_info": {"name": "python"}, "kernelspec": {"name": "k"}, "KernelInfo": 1,
        "\u006bernelInfo": {"name": "py", "display_name": "Python", "x": [1]},
        "languageInfo": ["python", null, {"name": "ipython"}], "extra": null, "b": 1, "b": 2}})");
    ASSERT_TRUE(nb.metadata.kernelInfo);
    EXPECT_EQ(nb.metadata.kernelInfo->name, "py");
    ASSERT_TRUE(nb.metadata.languageInfo);
    EXPECT_EQ(*nb.metadata.languageInfo,
              (LanguageInfo{"python", std::nullopt, JsonValue(JsonObject{{"name", "ipython"}}), std::nullopt,
                            std::nullopt}));
    std::vector<std::string> keys;
    for (const auto& entry : nb.metadata.extra) keys.emplace_back(entry.first);
    EXPECT_EQ(keys, (std::vector<std::string>{"KernelInfo", "b", "extra", "kernelspec", "language_info"}));
    EXPECT_EQ(nb.metadata.extra.at("b"), JsonValue(std::uint64_t{2}));
    EXPECT_TRUE(nb.metadata.extra.at("extra").is_null());

    const Notebook plain = read(R"({"nbformat":4,"nbformat_minor":5,"cells":[],"metadata":{"kernelInfo":null,
        "languageInfo":{"name":"r","version":"","codemirrorMode":null,"file_extension":".r"}}})");
    EXPECT_FALSE(plain.metadata.kernelInfo);
    EXPECT_EQ(*plain.metadata.languageInfo, (LanguageInfo{"r", "", std::nullopt, std::nullopt, std::nullopt}));

    const Notebook full = read(R"([{"languageInfo":["p","3",1,".p","text/p"],"kernelInfo":["k"]},4,5,[]])");
    EXPECT_EQ(*full.metadata.languageInfo, (LanguageInfo{"p", "3", JsonValue(std::uint64_t{1}), ".p", "text/p"}));
    EXPECT_EQ(full.metadata.kernelInfo->name, "k");
}

TEST(ReaderDocuments, CellsWithDefaultsAndArrayForms) {
    const Notebook nb = read(with_cells(R"(
        {"cell_type": "markdown", "source": ["a\n", "b"], "outputs": [{"output_type": "stream",
         "name": "out", "text": "t"}], "execution_count": 3, "other": 1, "other": [{}], "x": "\ud800"},
        {"cell_type": {"raw": null}, "source": [], "id": null, "execution_count": null},
        ["code", "x = 1", {"k": true}, "c1", "7", [["stream", "err", ["e1", "e2"]]]],
        ["markdown", ""],
        {"source": "", "cell_type": "code", "execution_count": 1.5, "id": "z", "metadata": {}})"));
    ASSERT_EQ(nb.cells.size(), 5U);
    const Cell& md = nb.cells[0];
    EXPECT_EQ(md.cell_type, CellType::Markdown);
    EXPECT_EQ(md.source.text, "a\nb");
    EXPECT_EQ(md.execution_count, JsonValue(std::uint64_t{3}));
    ASSERT_EQ(md.outputs.size(), 1U);
    EXPECT_EQ(md.outputs[0], (CellOutput{CellOutput::Stream{"out", {"t"}}}));

    EXPECT_EQ(nb.cells[1], (Cell{CellType::Raw, {""}, {}, std::nullopt, std::nullopt, {}}));
    EXPECT_EQ(nb.cells[2], (Cell{CellType::Code, {"x = 1"}, {{"k", true}}, "c1", JsonValue("7"),
                                 {CellOutput{CellOutput::Stream{"err", {"e1e2"}}}}}));
    EXPECT_EQ(nb.cells[3], (Cell{CellType::Markdown, {""}, {}, std::nullopt, std::nullopt, {}}));
    EXPECT_EQ(nb.cells[4].execution_count, JsonValue(1.5));
    EXPECT_EQ(nb.cells[4].id, "z");
}

TEST(ReaderDocuments, OutputVariantsInBothForms) {
    struct Case {
        const char* output;
        CellOutput expected;
    };
    const JsonObject bundle{{"text/plain", JsonArray{"a", "b"}}};
    const Case cases[] = {
        {R"({"name":"stdout","text":"hi","output_type":"stream"})", {CellOutput::Stream{"stdout", {"hi"}}}},
        {R"({"text":["a","b\n"],"output_type":"stream","name":"s","metadata":{},"execution_count":1})",
         {CellOutput::Stream{"s", {"ab\n"}}}},
        {R"(["stream","stdout","hi"])", {CellOutput::Stream{"stdout", {"hi"}}}},
        {R"({"output_type":"display_data","data":{"text/plain":["a","b"]},"execution_count":1})",
         {CellOutput::DisplayData{bundle, {}}}},
        {R"(["display_data",{"text/plain":["a","b"]}])", {CellOutput::DisplayData{bundle, {}}}},
        {R"({"output_type":"execute_result","data":{},"metadata":{"m":null},"execution_count":4294967295})",
         {CellOutput::ExecuteResult{4294967295U, {}, {{"m", nullptr}}}}},
        {R"({"output_type":"execute_result","data":{},"execution_count":null})",
         {CellOutput::ExecuteResult{std::nullopt, {}, {}}}},
        {R"(["execute_result",null,{}])", {CellOutput::ExecuteResult{std::nullopt, {}, {}}}},
        {R"(["execute_result",0,{},{"m":1}])", {CellOutput::ExecuteResult{0U, {}, {{"m", std::uint64_t{1}}}}}},
        {R"({"output_type":"error","ename":"E","evalue":"v","traceback":[]})", {CellOutput::Error{"E", "v", {}}}},
        {R"(["error","E","v",["t1","t2"]])", {CellOutput::Error{"E", "v", {"t1", "t2"}}}},
    };
    for (const Case& c : cases) {
        const Notebook nb = read(with_cells(R"({"cell_type":"code","source":"","outputs":[)" +
                                            std::string(c.output) + "]}"));
        ASSERT_EQ(nb.cells.size(), 1U) << c.output;
        ASSERT_EQ(nb.cells[0].outputs.size(), 1U) << c.output;
        EXPECT_EQ(nb.cells[0].outputs[0], c.expected) << c.output;
    }
}

TEST(ReaderDocuments, WhitespaceAndForms) {
    const Notebook expected{{}, 4, 5, {}};
    for (const char* text : {"{\"nbformat\":4,\"nbformat_minor\":5,\"cells\":[]}",
                             " \t\r\n{ \"cells\" : [ ] ,\n\"nbformat\"\t:\r4 , \"nbformat_minor\" :5 , \"metadata\":{ } }\n ",
                             "[{}, 4, 5, []]", "[ {} , 4 , 5 , [ ] ] \n"}) {
        EXPECT_EQ(read(text), expected) << text;
    }
}

// Objects of any size, alone or nested, come out in key order with the
// last of a repeated key; large ones are collected differently from small.
TEST(ReaderDocuments, ObjectsOfAnySizeKeepKeyOrderAndTheLastRepeat) {
    for (const std::size_t size : {std::size_t{3}, std::size_t{5000}}) {
        std::string object = "{";
        for (std::size_t k = size; k-- > 0;) object += "\"k" + std::to_string(k) + "\":" + std::to_string(k) + ",";
        object += "\"k1\":\"last\"}";
        const Notebook nb = read(R"({"metadata":)" + object.substr(0, object.size() - 1) + R"(,"v":)" + object +
                                 R"(},"nbformat":4,"nbformat_minor":5,"cells":[]})");
        const JsonObject& nested = *nb.metadata.extra.at("v").as_object();
        for (const JsonObject* o : {&nb.metadata.extra, &nested}) {
            EXPECT_EQ(o->size(), size + (o == &nested ? 0 : 1));
            EXPECT_TRUE(std::is_sorted(o->begin(), o->end(), [](const auto& a, const auto& b) { return a.first < b.first; }));
            EXPECT_EQ(o->at("k1"), JsonValue("last"));
            EXPECT_EQ(o->at("k2"), JsonValue(std::uint64_t{2}));
        }
    }
}

}  // namespace

namespace {

// A list-form text is allocated once at its joined size: whatever its
// escapes and spacing, the source ends with no more room than the decoder's
// overshoot (a doubling buffer would hold up to twice the text).
TEST(ReaderDocuments, ListFormTextsAreSizedOnce) {
    const std::string_view lines[] = {
        R"("plain line\n")", R"("tab\tquote\"back\\slash\/")", R"("\u00e9\u20ac\u001b[0m")",
        R"("pair \ud83d\ude00 end")", R"("no line end")", R"("")",
    };
    for (const std::string_view line : lines) {
        for (const char* separator : {",", " , ", ",\n  ", "\t,\r\n"}) {
            std::string list = "[";
            for (int i = 0; i < 4000; ++i) list += (i == 0 ? "" : separator) + std::string(line);
            list += " ]";
            const Notebook nb = read(with_cells(R"({"cell_type":"markdown","source":)" + list + "}"));
            const std::string& text = nb.cells.at(0).source.text;
            EXPECT_LE(text.capacity(), text.size() + 64) << line << " | " << separator;
        }
    }
}

}  // namespace

namespace {

// Read into an arena, a document equals the one read onto the heap; its
// longer strings without escapes point into the text, the others are copies.
TEST(ReaderDocuments, ArenaDocumentsMatchHeapDocuments) {
    const std::string long_plain = "a string well past fifteen bytes";
    const std::string text = R"({"metadata":{")" + long_plain + R"(":[")" + long_plain + R"(","esc\"aped string, also long",)" +
                             R"({"k":"short","n":1.5}],"z":null},"nbformat":4,"nbformat_minor":5,"cells":[)" +
                             R"({"cell_type":"code","source":"x","metadata":{"tags":[")" + long_plain + R"("]},)" +
                             R"("outputs":[{"output_type":"display_data","data":{"text/plain":")" + long_plain +
                             R"("},"metadata":{}}]}]})";
    Arena arena;
    ReadOptions options;
    options.arena = &arena;
    const auto in_arena = parse_notebook(text, options);
    ASSERT_TRUE(in_arena.ok()) << in_arena.error().display();
    const Notebook heap = read(text);
    EXPECT_EQ(in_arena.value(), heap);

    const auto points_into_text = [&text](const CompactString& s) {
        return s.data() >= text.data() && s.data() < text.data() + text.size();
    };
    const JsonObject& extra = in_arena.value().metadata.extra;
    const auto& [key, value] = *extra.begin();
    EXPECT_TRUE(points_into_text(key));
    const JsonArray& items = *value.as_array();
    EXPECT_TRUE(points_into_text(*items.at(0).as_string()));
    EXPECT_FALSE(points_into_text(*items.at(1).as_string()));  // decoded, so copied
    EXPECT_TRUE(points_into_text(*in_arena.value().cells.at(0).metadata.at("tags").as_array()->at(0).as_string()));
    // The heap document owns all of its strings.
    EXPECT_FALSE(points_into_text(heap.metadata.extra.begin()->first));
}

// A finished arena gives its memory back to the heap, which hands it to
// the arenas after it: they must read as if it were new and never share a
// piece. Two documents read at once, after a third one's arena went, equal
// the heap's; the texts are long enough that each arena's first chunk is
// sized from its text.
TEST(ReaderDocuments, ArenaMemoryServesLaterArenas) {
    const auto metadata = [](char fill, int keys) {
        std::string text = R"({"metadata":{)";
        for (int i = 0; i < keys; ++i)
            text += (i ? ",\"" : "\"") + std::string(20, fill) + std::to_string(i) + R"(":[1,")" + std::string(30, fill) + "\"]";
        return text + R"(},"nbformat":4,"nbformat_minor":5,"cells":[]})";
    };
    {
        Arena arena;
        ReadOptions options;
        options.arena = &arena;
        ASSERT_TRUE(parse_notebook(metadata('a', 20000), options).ok());
    }
    const std::string texts[] = {metadata('b', 3000), metadata('c', 5000)};
    Arena arenas[2];
    std::vector<Notebook> documents;
    for (int i = 0; i < 2; ++i) {
        ReadOptions options;
        options.arena = &arenas[i];
        auto document = parse_notebook(texts[i], options);
        ASSERT_TRUE(document.ok()) << document.error().display();
        documents.push_back(std::move(document).value());
    }
    for (int i = 0; i < 2; ++i) EXPECT_EQ(documents[static_cast<std::size_t>(i)], read(texts[i]));
}

// Whatever first chunk it was told to expect (none, tiny, past the largest
// chunk, past any memory), an arena hands out pieces that are aligned as
// asked, writable and apart, small and large ones (each of those beyond
// half a chunk takes a chunk of its own) in turn.
TEST(ReaderDocuments, ArenaPiecesStayApartWhateverItsFirstChunk) {
    const std::size_t expected[] = {0, 1, std::size_t{100} << 10, std::size_t{64} << 20, static_cast<std::size_t>(-1)};
    const std::size_t sizes[] = {1, 24, 3, 5000, 16, 700000, 40, 3 << 20, 7, 100000};
    const std::size_t aligns[] = {1, 8, 16, 64};
    for (const std::size_t expect : expected) {
        Arena arena;
        arena.expect(expect);
        std::vector<std::pair<std::uintptr_t, std::uintptr_t>> pieces;
        for (int round = 0; round < 3; ++round) {
            for (std::size_t i = 0; i < std::size(sizes); ++i) {
                const std::size_t align = aligns[(i + static_cast<std::size_t>(round)) % std::size(aligns)];
                void* piece = arena.allocate(sizes[i], align);
                const auto at = reinterpret_cast<std::uintptr_t>(piece);
                EXPECT_EQ(at % align, 0U) << expect << ": " << sizes[i];
                std::memset(piece, 0x5a, sizes[i]);
                pieces.emplace_back(at, at + sizes[i]);
            }
        }
        std::sort(pieces.begin(), pieces.end());
        for (std::size_t i = 1; i < pieces.size(); ++i) EXPECT_LE(pieces[i - 1].second, pieces[i].first) << expect;
    }
}

// Large objects that arrive out of order are sorted while they leave the
// reader's stack. Read from text, into an arena and onto the heap, they hold
// what an object built from the same entries holds: key order, the last of
// equal keys. Each sits as notebook metadata and one level down (above other
// entries on the stack), its values including objects of their own, its keys
// with escapes and repeats.
TEST(ReaderDocuments, LargeObjectsOutOfOrderMatchObjectsBuiltFromTheirEntries) {
    struct Case {
        const char* name;
        std::size_t keys;
        std::size_t repeats;
        bool shuffled;
    };
    const Case cases[] = {
        {"just under the sorted take", 4095, 0, true},
        {"at it", 4096, 0, true},
        {"shuffled, repeats", 9000, 3000, true},
        {"in order, repeats last", 5000, 100, false},
        {"reversed", 6000, 0, false},
    };
    std::mt19937 rng(3);
    for (const Case& c : cases) {
        std::vector<std::pair<std::string, std::string>> given;  // key literal, value literal
        JsonObject::Entries expected_entries;
        for (std::size_t i = 0; i < c.keys + c.repeats; ++i) {
            const std::size_t k = i < c.keys ? (c.shuffled ? i : c.keys - 1 - i) : rng() % c.keys;
            std::string key = "key" + std::to_string(k);
            std::string literal = key;
            if (k % 7 == 0) {
                key += "\"";
                literal += "\\\"";
            }
            if (k % 5 == 0) {
                given.emplace_back(literal, "{\"b\": " + std::to_string(i) + ", \"a\": [1]}");
                expected_entries.emplace_back(key, JsonObject{{"a", JsonArray{JsonValue(std::uint64_t{1})}},
                                                              {"b", JsonValue(static_cast<std::uint64_t>(i))}});
            } else {
                given.emplace_back(literal, std::to_string(i));
                expected_entries.emplace_back(key, JsonValue(static_cast<std::uint64_t>(i)));
            }
        }
        if (c.shuffled) {
            // The same shuffle of both lists: repeats keep their turns among themselves.
            std::vector<std::size_t> turn(c.keys);
            for (std::size_t i = 0; i < c.keys; ++i) turn[i] = i;
            std::shuffle(turn.begin(), turn.end(), rng);
            std::vector<std::pair<std::string, std::string>> g;
            JsonObject::Entries e;
            for (const std::size_t i : turn) {
                g.push_back(given[i]);
                e.push_back(expected_entries[i]);
            }
            for (std::size_t i = c.keys; i < given.size(); ++i) {
                g.push_back(given[i]);
                e.push_back(expected_entries[i]);
            }
            given = std::move(g);
            expected_entries = std::move(e);
        }
        std::string object = "{";
        for (std::size_t i = 0; i < given.size(); ++i)
            object += (i ? ", \"" : "\"") + given[i].first + "\": " + given[i].second;
        object += "}";
        const JsonObject expected(expected_entries);
        const std::string texts[] = {
            R"({"metadata": )" + object + R"(, "nbformat": 4, "nbformat_minor": 5, "cells": []})",
            R"({"metadata": {"a": 1, "m": )" + object + R"(, "z": 2}, "nbformat": 4, "nbformat_minor": 5, "cells": []})",
        };
        for (int t = 0; t < 2; ++t) {
            for (const bool in_arena : {false, true}) {
                Arena arena;
                ReadOptions options;
                if (in_arena) options.arena = &arena;
                auto document = parse_notebook(texts[t], options);
                ASSERT_TRUE(document.ok()) << c.name << ": " << document.error().display();
                const JsonObject& extra = document.value().metadata.extra;
                const JsonObject& read = t == 0 ? extra : *extra.at("m").as_object();
                EXPECT_TRUE(read == expected) << c.name << (t == 0 ? ", top" : ", nested") << (in_arena ? ", arena" : ", heap");
                if (t == 1) {
                    EXPECT_EQ(extra.size(), 3U) << c.name;
                }
            }
        }
    }
}

}  // namespace
