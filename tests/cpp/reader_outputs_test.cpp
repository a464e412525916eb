#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "convert_engine/notebook/parse.hpp"

namespace {

namespace nb = convert_engine::notebook;
using Output = nb::CellOutput;

std::string notebook_with_output(std::string_view output) {
    return R"({"nbformat":4,"nbformat_minor":5,"metadata":{},"cells":[{"cell_type":"code","source":"","outputs":[)" +
           std::string(output) + "]}]}";
}

// Only the entries the variant can reach are kept while an output is read:
// repeats past the first and keys of other variants are read whole and
// dropped. What is reported, and where, stays that of keeping them all.
TEST(ReaderOutputs, KeptEntriesDecideAsAllEntriesWould) {
    struct Case {
        std::string_view output;
        std::string_view display;  // empty: reads as `read`
        std::optional<Output> read;
    };
    const Case cases[] = {
        {R"({"data":{},"data":1,"data":{},"output_type":"display_data"})",
         "duplicate field `data` at line 1 column 159", {}},
        {R"({"data":{},"data":{},"data":1,"output_type":"display_data"})",
         "duplicate field `data` at line 1 column 159", {}},
        {R"({"data":1,"data":{},"output_type":"display_data"})",
         "invalid type: integer `1`, expected a map at line 1 column 149", {}},
        {R"({"output_type":"stream","name":"a","name":"b","name":1,"text":1})",
         "duplicate field `name` at line 1 column 164", {}},
        {R"({"name":1,"output_type":"stream","name":"b"})",
         "invalid type: integer `1`, expected a string at line 1 column 144", {}},
        {R"({"output_type":"error","ename":"E","evalue":"v","traceback":["t"],"ename":"F","evalue":1})",
         "duplicate field `ename` at line 1 column 189", {}},
        {R"({"execution_count":-1,"output_type":"execute_result","data":{}})",
         "invalid value: integer `-1`, expected u32 at line 1 column 163", {}},
        {R"({"text":["a\n",7],"output_type":"stream","name":"n"})",
         "data did not match any variant of untagged enum CellSourceJson at line 1 column 152", {}},
        // Dropped entries are still read with every check.
        {R"({"output_type":"display_data","text":[1,})", "expected value at line 1 column 140", {}},
        {R"({"output_type":"display_data","x":"\ud800","data":{}})",
         "unexpected end of hex escape at line 1 column 141", {}},
        {R"({"output_type":"stream","text":["a\n","b"],"name":"n","x":1e999})",
         "number out of range at line 1 column 162", {}},
        {R"(["stream","n","t",1e999])", "number out of range at line 1 column 122", {}},
        {R"(["stream","n","t",1,2])", "invalid length 4, expected 2 elements in sequence at line 1 column 122", {}},
        {R"(["stream","n",["a\n",1]])",
         "data did not match any variant of untagged enum CellSourceJson at line 1 column 124", {}},
        // Keys of another variant, or of none, do not reach the output.
        {R"({"text":1,"execution_count":-1,"output_type":"display_data","data":{}})", "",
         Output{Output::DisplayData{}}},
        {R"({"data":1,"data":2,"data":3,"name":"n","x":[],"output_type":"stream","text":["a\n","b"]})", "",
         Output{Output::Stream{"n", {"a\nb"}}}},
        {R"(["display_data",{"b":1,"a":2}])", "",
         Output{Output::DisplayData{{{"a", std::uint64_t{2}}, {"b", std::uint64_t{1}}}, {}}}},
    };
    for (const Case& c : cases) {
        const auto result = nb::parse_notebook(notebook_with_output(c.output));
        if (!c.display.empty()) {
            ASSERT_FALSE(result.ok()) << c.output;
            EXPECT_EQ(result.error().display(), c.display) << c.output;
            continue;
        }
        ASSERT_TRUE(result.ok()) << c.output << ": " << result.error().display();
        ASSERT_EQ(result.value().cells.at(0).outputs.size(), 1U) << c.output;
        EXPECT_EQ(result.value().cells[0].outputs[0], *c.read) << c.output;
    }
}

// Reads `text` in full and with `options`: both fail alike, or the second
// gives the full read's document once `leave_out` is applied to it, which
// must change it when `changed`.
template <class LeaveOut>
void expect_as_full_read(const std::string& text, const nb::ReadOptions& options, bool fails, bool changed,
                         LeaveOut&& leave_out) {
    const auto full = nb::parse_notebook(text);
    const auto partial = nb::parse_notebook(text, options);
    ASSERT_EQ(full.ok(), !fails) << text;
    ASSERT_EQ(partial.ok(), full.ok()) << text;
    if (fails) {
        EXPECT_EQ(partial.error().display(), full.error().display()) << text;
        return;
    }
    nb::Notebook expected = full.value();
    leave_out(expected);
    if (changed) {
        EXPECT_NE(expected, full.value()) << text;  // something was there to leave out
    }
    EXPECT_EQ(partial.value(), expected) << text;
}

// A reader that drops code outputs still fails exactly as a full read does;
// on success only the outputs of cells known to be code by then are gone.
TEST(ReaderOutputs, DroppedCodeOutputsFailAndReadAsFullRead) {
    struct Case {
        std::string cells;  // the cells list
        bool fails;
        bool dropped;  // on success: the code outputs are gone
    };
    const std::string deep = std::string(130, '[') + std::string(130, ']');
    const auto code = [](std::string_view output) {
        return R"([{"cell_type":"code","source":"","outputs":[)" + std::string(output) + "]}]";
    };
    const Case cases[] = {
        {code(R"({"output_type":"display_data","data":{"a":["x\n",1.5e3,-2,true,null,{"b":{}}]},"metadata":{"m":1}})"),
         false, true},
        {code(R"(["execute_result",3,{"a":"\u00e9\ud83d\ude00"},{"m":[]}])"), false, true},
        {code(R"({"data":{"k":1},"output_type":"display_data","data":{"k":2}})"), true, false},
        {code(R"({"output_type":"display_data","data":[1,"x"]})"), true, false},
        {code(R"({"output_type":"display_data","metadata":"m","data":{}})"), true, false},
        {code(R"({"output_type":"display_data","data":{"\udc00":1}})"), true, false},
        {code(R"({"output_type":"display_data","data":{"a":"\ud800x"}})"), true, false},
        {code(R"({"output_type":"display_data","data":{"a":"\ud800\u0041"}})"), true, false},
        {code(R"({"output_type":"display_data","data":{"a":"\q"}})"), true, false},
        {code(R"({"output_type":"display_data","data":{"a":"\u12g4"}})"), true, false},
        {code(R"({"output_type":"display_data","data":{"a":1e999}})"), true, false},
        {code(R"({"output_type":"display_data","data":{"a":-99999999999999999999999e400}})"), true, false},
        {code(R"({"output_type":"display_data","data":{"a":)" + deep + "}}"), true, false},
        {code(R"({"output_type":"display_data","metadata":{"a":[1,]}})"), true, false},
        {code(R"({"output_type":"display_data","data":{"a":tru}})"), true, false},
        {code(R"({"output_type":"display_data","data":{"a" 1}})"), true, false},
        {code(R"(["display_data",{},{"m":1e999}])"), true, false},
        {code(R"(["display_data",{"a":1},{},{"x":"\ud800"}])"), true, false},
        {code(R"({"output_type":"display_data","data":{"a":1)"), true, false},
        // Tracebacks.
        {code(R"({"output_type":"error","ename":"E","evalue":"v","traceback":["\u001b[0;31mE\u001b[0m","b"]})"),
         false, true},
        {code(R"(["error","E","v",[]])"), false, true},
        {code(R"({"output_type":"error","ename":"E","evalue":"v","traceback":["a",1.5,"b",{"c":2}]})"), true, false},
        {code(R"({"output_type":"error","ename":"E","evalue":"v","traceback":["a","\ud800",1]})"), true, false},
        {code(R"({"output_type":"error","ename":"E","evalue":"v","traceback":[[],"\q"]})"), true, false},
        {code(R"({"output_type":"error","ename":"E","evalue":"v","traceback":"a"})"), true, false},
        {code(R"({"output_type":"error","ename":"E","evalue":"v","traceback":[)" + deep + "]}"), true, false},
        // Names and error texts: strings are only checked, anything else
        // is kept for its type failure.
        {code(R"({"output_type":"error","ename":"E\u00e9","evalue":"v\"","traceback":[]})"), false, true},
        {code(R"({"output_type":"error","ename":1,"evalue":"v","traceback":[]})"), true, false},
        {code(R"({"output_type":"error","ename":"E","evalue":["v"],"traceback":[]})"), true, false},
        {code(R"({"output_type":"error","ename":"E","evalue":"\ud800","traceback":[]})"), true, false},
        {code(R"({"output_type":"stream","name":{"n":1},"text":"x"})"), true, false},
        {code(R"({"output_type":"stream","name":"a\qb","text":"x"})"), true, false},
        {code(R"(["stream",null,"x"])"), true, false},
        // Stream texts, in both forms.
        {code(R"({"output_type":"stream","name":"stdout","text":["a\n","\u001b[0m\t\"",""]})"), false, true},
        {code(R"(["stream","stderr","x\ud83d\ude00y"])"), false, true},
        {code(R"({"output_type":"stream","name":"stdout","text":["a",1]})"), true, false},
        {code(R"({"output_type":"stream","name":"stdout","text":[1,"\ud800"]})"), true, false},
        {code(R"({"output_type":"stream","name":"stdout","text":["a","\ud800"]})"), true, false},
        {code(R"({"output_type":"stream","name":"stdout","text":{"a":"b"}})"), true, false},
        {code(R"({"output_type":"stream","name":"stdout","text":"a\x"})"), true, false},
        {code(R"({"output_type":"stream","name":"stdout","text":["a\n",]})"), true, false},
        {code(R"({"output_type":"stream","name":"stdout","text":["a"  "b"]})"), true, false},
        // The kind comes after the outputs, or is not code: read in full.
        {R"([{"outputs":[{"output_type":"display_data","data":{"a":1}}],"cell_type":"code","source":""}])", false,
         false},
        {R"([{"cell_type":"markdown","source":"","outputs":[{"output_type":"display_data","data":{"a":1}}]}])",
         false, false},
        {R"([["code","",{},null,null,[{"output_type":"display_data","data":{"a":1}}]]])", false, true},
        {R"([{"cell_type":{"code":null},"source":"","outputs":[["display_data",{"a":1},{"b":2}]]}])", false, true},
    };
    for (const Case& c : cases) {
        const std::string text = R"({"nbformat":4,"nbformat_minor":5,"metadata":{},"cells":)" + c.cells + "}";
        expect_as_full_read(text, nb::ReadOptions{true}, c.fails, c.dropped, [&c](nb::Notebook& expected) {
            if (c.dropped) expected.cells.at(0).outputs.clear();
        });
    }
}

// A reader that leaves metadata empty fails exactly as a full read does, and
// otherwise differs only in the cells' metadata, the notebook metadata's
// other keys and the outputs' metadata maps.
TEST(ReaderOutputs, EmptiedMetadataFailsAndReadsAsFullRead) {
    struct Case {
        std::string metadata;  // the notebook's metadata
        std::string cell;      // its one cell
        bool fails;
    };
    const std::string deep = std::string(130, '[') + std::string(130, ']');
    const std::string code = R"({"cell_type":"code","source":"","outputs":[])";
    const auto with_cell_metadata = [](std::string_view value) {
        return R"({"cell_type":"markdown","source":"","metadata":)" + std::string(value) + "}";
    };
    const auto with_output_metadata = [](std::string_view value) {
        return R"({"outputs":[{"output_type":"display_data","data":{"a":1},"metadata":)" + std::string(value) +
               R"(}],"cell_type":"code","source":""})";
    };
    const Case cases[] = {
        {R"({"kernelspec":{"name":"k"},"languageInfo":{"name":"python"},"z":[1,{"y":"\u00e9"}]})",
         with_cell_metadata(R"({"tags":["a"],"b":{"c":null},"b":2})"), false},
        {R"({"a":1})", with_output_metadata(R"({"m":[1.5,-2,true]})"), false},
        {R"({"a":1})", R"(["raw","",{"k":"v"}])", false},
        {R"({"a":"\udc00"})", code, true},
        {R"({"a":1e999})", code, true},
        {R"({"a":)" + deep + "}", code, true},
        {R"({"a":[1,]})", code, true},
        {R"({"a" 1})", code, true},
        {R"({"a":1,"a":tru})", code, true},
        {R"({"a":1})", with_cell_metadata(R"({"\q":1})"), true},
        {R"({"a":1})", with_cell_metadata("[1]"), true},
        {R"({"a":1})", with_cell_metadata(R"("m")"), true},
        {R"({"a":1})", with_cell_metadata(R"({"a":)" + deep + "}"), true},
        {R"({"a":1})", with_output_metadata(R"({"a":"\ud800x"})"), true},
        {R"({"a":1})", with_output_metadata("[]"), true},
        {R"({"a":1})", with_output_metadata(R"({"a":1)"), true},
    };
    for (const Case& c : cases) {
        const std::string text =
            R"({"nbformat":4,"nbformat_minor":5,"metadata":)" + c.metadata + R"(,"cells":[)" + c.cell + "]}";
        nb::ReadOptions options;
        options.empty_metadata = true;
        expect_as_full_read(text, options, c.fails, true, [](nb::Notebook& expected) {
            expected.metadata.extra = {};
            for (nb::Cell& cell : expected.cells) {
                cell.metadata = {};
                for (Output& output : cell.outputs) {
                    if (auto* d = std::get_if<Output::DisplayData>(&output.value)) d->metadata = {};
                    if (auto* e = std::get_if<Output::ExecuteResult>(&output.value)) e->metadata = {};
                }
            }
        });
    }
}

// Dropped strings are checked by a scan that takes common escapes in bulk:
// an escape of every kind, after any number of plain bytes and escapes (so
// at every offset of a 16-byte block), in every place a dropped output
// checks strings, fails or passes exactly as the full read decoding it.
TEST(ReaderOutputs, DroppedStringsFailAsDecodedAtEveryOffset) {
    const std::string_view escapes[] = {
        R"(\u001b)", R"(\"\\)",      R"(\/\b\f\n\r\t)", R"(\ud83d\ude00)", R"(\uD7FF\uE000\uFFFF)", R"(\uDBFF\uDFFF)",
        R"(\u00e9)", R"(\q)",        R"(\u12G4)",       R"(\u12 4)",       R"(\ud800x)",          R"(\udc00)",
        R"(\uD800\u0041)", R"(\uDbFfz)", "\x01",        "\xc3\xa9",        "\\",                  R"(\u00)",
    };
    const std::string_view places[] = {
        R"({"output_type":"error","ename":"E","evalue":"v","traceback":["a",
      "@",
      "b"]})",
        R"({"output_type":"stream","name":"stdout","text":["@",   "x"]})",
        R"({"output_type":"stream","name":"@","text":"@"})",
        R"({"output_type":"display_data","data":{"@":["@",
 "@"]},"metadata":{}})",
    };
    for (const std::string_view escape : escapes) {
        for (const std::string_view place : places) {
            for (std::size_t k = 0; k <= 40; ++k) {
                // Plain bytes with a colour escape now and then, the escape,
                // then more of the same.
                std::string run;
                for (std::size_t j = 0; j < k; ++j) run += j % 9 == 4 ? R"(\u001b[0m)" : "x";
                std::string output(place);
                const std::string value = run + std::string(escape) + run.substr(0, k % 17);
                for (std::size_t at = output.find('@'); at != std::string::npos; at = output.find('@'))
                    output.replace(at, 1, value);
                const std::string text = notebook_with_output(output);
                const bool fails = !nb::parse_notebook(text).ok();
                for (const std::string& cut : {text, text.substr(0, text.find(value) + value.size())})
                    expect_as_full_read(cut, nb::ReadOptions{true}, fails || cut != text, !fails && cut == text,
                                        [](nb::Notebook& expected) { expected.cells.at(0).outputs.clear(); });
            }
        }
    }
}

// The step from one string of a dropped list to the next, with every
// spacing and every way of breaking it.
TEST(ReaderOutputs, DroppedListStepsFailAsFullRead) {
    const std::string_view lists[] = {
        "[\"a\",\n      \"b\"]", "[\"a\" , \"b\"]",  "[\"a\"\n,\"b\"]",     "[\"a\",\r\n\t \"b\"]", "[\"a\",\"b\",\"c\"]",
        "[\"a\",\n      ]",     "[\"a\",\n      1]", "[\"a\",\n      ",    "[\"a\",",               "[\"a\"",
        "[\"a\" \"b\"]",        "[\"a\",,\"b\"]",    "[\"a\",\n      x]",  "[\"a\",\n      [\"b\"]]", "[]",
        "[\"a\",\n      {\"b\":\"c\"},\n      \"d\"]", "[\"a\",\n            \"b\"]", "[\"a\",\n \t\"b\"]",
        "[\"a\",\n\"b\",\n        \"c\"]",
    };
    for (const std::string_view list : lists) {
        for (const std::string_view place : {R"({"output_type":"error","ename":"E","evalue":"v","traceback":@})",
                                             R"({"output_type":"stream","name":"stdout","text":@})",
                                             R"({"output_type":"display_data","data":{"a":@}})"}) {
            std::string output(place);
            output.replace(output.find('@'), 1, list);
            const std::string text = notebook_with_output(output);
            const bool fails = !nb::parse_notebook(text).ok();
            expect_as_full_read(text, nb::ReadOptions{true}, fails, !fails,
                                [](nb::Notebook& expected) { expected.cells.at(0).outputs.clear(); });
        }
    }
}

}  // namespace
