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

}  // namespace
