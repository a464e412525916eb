#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "convert_engine/notebook/parse.hpp"

namespace {

namespace nb = convert_engine::notebook;

// Where a record stands in the notebook: the whole text, the notebook's
// metadata, one of its two records, a cell, or a code cell's output.
enum class At { Notebook, Metadata, KernelInfo, LanguageInfo, Cell, Output };

std::string placed(At at, std::string_view record) {
    const std::string r(record);
    const std::string head = R"({"nbformat":4,"nbformat_minor":5,)";
    switch (at) {
        case At::Notebook: return r;
        case At::Metadata: return head + R"("cells":[],"metadata":)" + r + "}";
        case At::KernelInfo: return head + R"("cells":[],"metadata":{"kernelInfo":)" + r + "}}";
        case At::LanguageInfo: return head + R"("cells":[],"metadata":{"languageInfo":)" + r + "}}";
        case At::Cell: return head + R"("cells":[)" + r + "]}";
        case At::Output: return head + R"("cells":[{"cell_type":"code","source":"","outputs":[)" + r + "]}]}";
    }
    return r;
}

// Each record shape in its object and its array form: a required field left
// out, a field given twice, an array form short or long, a field of the
// wrong type. Each is reported with the message and position it had before
// the shapes were one table, and alike whether code outputs and metadata
// are kept or only checked.
TEST(ReaderRecords, ShapeFailuresInEveryReading) {
    struct Case {
        At at;
        std::string_view record;
        std::string_view display;
    };
    const Case cases[] = {
        {At::Notebook, R"([{}])", "invalid length 1, expected struct Notebook with 4 elements at line 1 column 4"},
        {At::Notebook, R"([{},4])", "invalid length 2, expected struct Notebook with 4 elements at line 1 column 6"},
        {At::Notebook, "{\n \"cells\": [],\n \"nbformat\": 4\n}",
         "missing field `nbformat_minor` at line 4 column 1"},
        {At::Metadata, R"("m")", "invalid type: string \"m\", expected struct NotebookMetadata at line 1 column 58"},
        {At::Metadata, R"({"kernelInfo":[],"languageInfo":[]})",
         "invalid length 0, expected struct KernelInfo with 1 element at line 1 column 71"},
        {At::KernelInfo, R"(["k",1])", "trailing characters at line 1 column 75"},
        {At::LanguageInfo, R"(["p",1])", "invalid type: integer `1`, expected a string at line 1 column 77"},
        {At::LanguageInfo, R"({"name":"p","mimetype":1})",
         "invalid type: integer `1`, expected a string at line 1 column 95"},
        {At::Cell, R"({"source":""})", "missing field `cell_type` at line 1 column 55"},
        {At::Cell, R"({"source":"","cell_type":"raw","source":""})", "duplicate field `source` at line 1 column 81"},
        {At::Cell, "{\n   \"cell_type\": \"code\"\n  }", "missing field `source` at line 3 column 3"},
        {At::Cell, R"(null)", "invalid type: null, expected struct Cell at line 1 column 46"},
        {At::Output, R"("stream")",
         "invalid type: string \"stream\", expected internally tagged enum CellOutput at line 1 column 93"},
        {At::Output, R"({"name":"n"})", "missing field `output_type` at line 1 column 97"},
        {At::Output, R"({"output_type":"stream","text":"t"})", "missing field `name` at line 1 column 121"},
        {At::Output, R"({"output_type":"stream","name":"n","text":"a","text":["b"]})",
         "duplicate field `text` at line 1 column 145"},
        {At::Output, R"(["stream"])",
         "invalid length 0, expected struct variant CellOutput::Stream with 2 elements at line 1 column 96"},
        {At::Output, R"(["stream",{"a":1},"t"])", "invalid type: map, expected a string at line 1 column 108"},
        {At::Output, R"({"output_type":"display_data"})", "missing field `data` at line 1 column 116"},
        {At::Output, R"({"metadata":{},"output_type":"display_data","data":{},"metadata":[]})",
         "duplicate field `metadata` at line 1 column 154"},
        {At::Output, R"(["display_data",[1]])", "invalid type: sequence, expected a map at line 1 column 106"},
        {At::Output, R"(["display_data",{},{},1])",
         "invalid length 3, expected 2 elements in sequence at line 1 column 110"},
        {At::Output, R"({"output_type":"execute_result","execution_count":1,"metadata":{}})",
         "missing field `data` at line 1 column 152"},
        {At::Output, R"({"output_type":"execute_result","data":{},"data":{}})",
         "duplicate field `data` at line 1 column 138"},
        {At::Output, R"(["execute_result","1",{},{}])",
         "invalid type: string \"1\", expected u32 at line 1 column 114"},
        {At::Output, R"(["execute_result",null,{},{},[]])",
         "invalid length 4, expected 3 elements in sequence at line 1 column 118"},
        {At::Output, R"({"output_type":"error","ename":"E","traceback":[]})",
         "missing field `evalue` at line 1 column 136"},
        {At::Output, R"({"output_type":"error","ename":"E","evalue":"v"})",
         "missing field `traceback` at line 1 column 134"},
        {At::Output, R"({"output_type":"error","ename":"E","evalue":"v","traceback":[],"traceback":[]})",
         "duplicate field `traceback` at line 1 column 164"},
        {At::Output, R"({"output_type":"error","ename":"E","evalue":"v","traceback":{"a":1}})",
         "invalid type: map, expected a sequence at line 1 column 154"},
        {At::Output, R"(["error","E"])",
         "invalid length 1, expected struct variant CellOutput::Error with 3 elements at line 1 column 99"},
        {At::Output, R"(["error","E","v",[],0,0])",
         "invalid length 5, expected 3 elements in sequence at line 1 column 110"},
    };
    nb::ReadOptions dropped;
    dropped.drop_code_outputs = true;
    nb::ReadOptions emptied;
    emptied.empty_metadata = true;
    nb::ReadOptions both = dropped;
    both.empty_metadata = true;
    for (const Case& c : cases) {
        const std::string text = placed(c.at, c.record);
        for (const nb::ReadOptions& options : {nb::ReadOptions{}, dropped, emptied, both}) {
            const auto result = nb::parse_notebook(text, options);
            ASSERT_FALSE(result.ok()) << text;
            EXPECT_EQ(result.error().display(), c.display)
                << text << " (dropped " << options.drop_code_outputs << ", emptied " << options.empty_metadata << ")";
        }
    }
}

}  // namespace
