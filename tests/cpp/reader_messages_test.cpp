#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "convert_engine/notebook/parse.hpp"

namespace {

using convert_engine::json::ErrorKind;
using convert_engine::notebook::parse_notebook;

struct Failure {
    std::string_view text;
    std::string_view display;
};

// Every message form with its exact position: syntax errors are placed at
// the offending byte; a wrong type after its scalar or before its bracket;
// missing, repeated and short-array messages after the innermost open
// record or list has looked past its closing bracket; the second-step
// failures of an output by the outputs list.
const Failure kFailures[] = {
    {R"()", R"(EOF while parsing a value at line 1 column 0)"},
    {"  \n ", R"(EOF while parsing a value at line 2 column 1)"},
    {R"(nul)", R"(EOF while parsing a value at line 1 column 3)"},
    {R"(nulx)", R"(expected ident at line 1 column 4)"},
    {R"(x)", R"(expected value at line 1 column 1)"},
    {"\"ab\\\"c\"", "invalid type: string \"ab\\\"c\", expected struct Notebook at line 1 column 7"},
    {R"(true)", R"(invalid type: boolean `true`, expected struct Notebook at line 1 column 4)"},
    {R"([1])", R"(invalid type: integer `1`, expected struct NotebookMetadata at line 1 column 2)"},
    {R"({"nbformat":4 "x")", R"(expected `,` or `}` at line 1 column 15)"},
    {R"({"nbformat":4,})", R"(trailing comma at line 1 column 15)"},
    {R"({"nbformat":4,)", R"(EOF while parsing a value at line 1 column 14)"},
    {R"({"nbformat" 4)", R"(expected `:` at line 1 column 13)"},
    {R"({"nbformat")", R"(EOF while parsing an object at line 1 column 11)"},
    {R"({"nbformat":4 )", R"(EOF while parsing an object at line 1 column 14)"},
    {R"({ )", R"(EOF while parsing an object at line 1 column 2)"},
    {R"({,)", R"(key must be a string at line 1 column 2)"},
    {R"({"nbformat":4,5)", R"(key must be a string at line 1 column 15)"},
    {R"({"cells":[)", R"(EOF while parsing a list at line 1 column 10)"},
    {R"({"cells":[{"cell_type":"code","source":""})", R"(EOF while parsing a list at line 1 column 42)"},
    {R"({"cells":[{"cell_type":"code","source":""} 1)", R"(expected `,` or `]` at line 1 column 44)"},
    {R"({"cells":[{"cell_type":"code","source":""},])", R"(trailing comma at line 1 column 44)"},
    {R"({"cells":[{"cell_type":"code","source":""},)", R"(EOF while parsing a value at line 1 column 43)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[]} x)", R"(trailing characters at line 1 column 46)"},
    {"{\"nbformat\" \rx", R"(expected `:` at line 1 column 14)"},
    {"{\r\n\"nbformat\":4,\r\n\"nbformat\":4}", R"(duplicate field `nbformat` at line 3 column 10)"},
    {R"({"nbformat":01})", R"(invalid number at line 1 column 14)"},
    {R"({"nbformat":-})", R"(invalid number at line 1 column 14)"},
    {R"({"nbformat":1.})", R"(invalid number at line 1 column 15)"},
    {R"({"nbformat":1e+})", R"(invalid number at line 1 column 16)"},
    {R"({"nbformat":1.)", R"(EOF while parsing a value at line 1 column 14)"},
    {R"({"nbformat":-)", R"(EOF while parsing a value at line 1 column 13)"},
    {R"({"nbformat":4.0})", R"(invalid type: floating point `4.0`, expected u32 at line 1 column 15)"},
    {R"({"nbformat":-0})", R"(invalid type: floating point `-0.0`, expected u32 at line 1 column 14)"},
    {R"({"nbformat":1e-400})", R"(invalid type: floating point `0.0`, expected u32 at line 1 column 18)"},
    {R"({"nbformat":-1})", R"(invalid value: integer `-1`, expected u32 at line 1 column 14)"},
    {R"({"nbformat":4294967296})", R"(invalid value: integer `4294967296`, expected u32 at line 1 column 22)"},
    {R"({"nbformat":-9223372036854775809})",
     R"(invalid type: floating point `-9.223372036854776e+18`, expected u32 at line 1 column 32)"},
    {R"({"nbformat":18446744073709551616})",
     R"(invalid type: floating point `1.8446744073709552e+19`, expected u32 at line 1 column 32)"},
    {R"({"nbformat":1e400})", R"(number out of range at line 1 column 17)"},
    {R"({"nbformat":"4"})", R"(invalid type: string "4", expected u32 at line 1 column 15)"},
    {R"({"nbformat":[4]})", R"(invalid type: sequence, expected u32 at line 1 column 12)"},
    {R"({"nbformat":x})", R"(expected value at line 1 column 13)"},
    {"{\"nbformat\":4,\"nbformat_minor\":5,\"cells\":[],\"metadata\":{\"x\":\"\\q\"}}",
     R"(invalid escape at line 1 column 63)"},
    {"{\"nbformat\":4,\"nbformat_minor\":5,\"cells\":[],\"metadata\":{\"x\":\"\\u12G4\"}}",
     R"(invalid escape at line 1 column 67)"},
    {"{\"nbformat\":4,\"nbformat_minor\":5,\"cells\":[],\"metadata\":{\"x\":\"\\u12}",
     R"(EOF while parsing a string at line 1 column 66)"},
    {"{\"nbformat\":4,\"nbformat_minor\":5,\"cells\":[],\"metadata\":{\"x\":\"\\ud800x\"}}",
     R"(unexpected end of hex escape at line 1 column 68)"},
    {"{\"nbformat\":4,\"nbformat_minor\":5,\"cells\":[],\"metadata\":{\"x\":\"\\ud800\\x\"}}",
     R"(unexpected end of hex escape at line 1 column 69)"},
    {"{\"nbformat\":4,\"nbformat_minor\":5,\"cells\":[],\"metadata\":{\"x\":\"\\ud800\\u0041\"}}",
     R"(lone leading surrogate in hex escape at line 1 column 73)"},
    {"{\"nbformat\":4,\"nbformat_minor\":5,\"cells\":[],\"metadata\":{\"x\":\"\\udc00\"}}",
     R"(lone leading surrogate in hex escape at line 1 column 67)"},
    {"{\"nbformat\":4,\"nbformat_minor\":5,\"cells\":[],\"metadata\":{\"x\":\"a\001\"}}",
     "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 63"},
    {"{\"metadata\":{\"x\":\"ab\\", R"(EOF while parsing a string at line 1 column 21)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[],"metadata":{"x":1e400}})",
     R"(number out of range at line 1 column 65)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[],"metadata":{"x":tru}})", R"(expected ident at line 1 column 64)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[],"metadata":{"x":[1,]}})",
     R"(trailing comma at line 1 column 64)"},
    {"{\"x\":[\"\\udc00\",\"\\ud800x\",1e400,{\"a\":[]}],\"nbformat\":4}",
     R"(missing field `nbformat_minor` at line 1 column 54)"},
    {"{\"x\":\"\\q\"}", R"(invalid escape at line 1 column 8)"},
    {"{\"x\":\"\\u12G4\"}", R"(invalid escape at line 1 column 12)"},
    {"{\"x\":\"a\037\"}", "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 8"},
    {R"({"x":[1,]})", R"(trailing comma at line 1 column 9)"},
    {R"({"x":[1 2]})", R"(expected `,` or `]` at line 1 column 9)"},
    {R"({"x":{"a":1,}})", R"(trailing comma at line 1 column 13)"},
    {R"({"x":{"a" 1}})", R"(expected `:` at line 1 column 11)"},
    {R"({"x":{1:2}})", R"(key must be a string at line 1 column 7)"},
    {R"({"x":[)", R"(EOF while parsing a list at line 1 column 6)"},
    {R"({"x":{)", R"(EOF while parsing an object at line 1 column 6)"},
    {R"({"x":-)", R"(EOF while parsing a value at line 1 column 6)"},
    {R"({"x":])", R"(expected value at line 1 column 6)"},
    {R"({})", R"(missing field `nbformat` at line 1 column 2)"},
    {R"({"nbformat":4})", R"(missing field `nbformat_minor` at line 1 column 14)"},
    {R"({"Cells":[],"nbformat":4,"nbformat_minor":5})", R"(missing field `cells` at line 1 column 44)"},
    {R"({"nbformat":4,"nbformat":x)", R"(duplicate field `nbformat` at line 1 column 24)"},
    {R"({"nbformat":4,"nbformat"  })", R"(duplicate field `nbformat` at line 1 column 27)"},
    {"{\"cells\":\n{}}", R"(invalid type: map, expected a sequence at line 2 column 0)"},
    {R"({"metadata":null})", R"(invalid type: null, expected struct NotebookMetadata at line 1 column 16)"},
    {R"({"metadata":[{},{}]})", R"(invalid type: sequence, expected struct NotebookMetadata at line 1 column 12)"},
    {R"([])", R"(invalid length 1, expected struct Notebook with 4 elements at line 1 column 2)"},
    {R"([{}, 4, 5])", R"(invalid length 3, expected struct Notebook with 4 elements at line 1 column 10)"},
    {R"([{}, 4, 5, [], 1])", R"(trailing characters at line 1 column 16)"},
    {R"([{}, 4, 5, [] x)", R"(trailing characters at line 1 column 15)"},
    {R"([{}, 4, 5, [],])", R"(trailing comma at line 1 column 15)"},
    {R"([{}, 4, 5, [],)", R"(trailing characters at line 1 column 14)"},
    {R"([{}, 4, 5, [])", R"(EOF while parsing a list at line 1 column 13)"},
    {R"([{} 4])", R"(expected `,` or `]` at line 1 column 5)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[],"metadata":{"kernelInfo":null,"kernelInfo":{"name":"p"}}})",
     R"(duplicate field `kernelInfo` at line 1 column 86)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[],"metadata":{"languageInfo":{"name":"p"},"languageInfo":x}})",
     R"(duplicate field `languageInfo` at line 1 column 98)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[],"metadata":{"kernelInfo":{}}})",
     R"(missing field `name` at line 1 column 71)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[],"metadata":{"kernelInfo":{"name":"a","name":"b"}}})",
     R"(duplicate field `name` at line 1 column 87)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[],"metadata":{"kernelInfo":[]}})",
     R"(invalid length 0, expected struct KernelInfo with 1 element at line 1 column 71)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[],"metadata":{"kernelInfo":["a", "b"]}})",
     R"(trailing characters at line 1 column 76)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[],"metadata":{"kernelInfo":["a",]}})",
     R"(trailing comma at line 1 column 75)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[],"metadata":{"kernelInfo":3}})",
     R"(invalid type: integer `3`, expected struct KernelInfo at line 1 column 70)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[],"metadata":{"kernelInfo":nul}})",
     R"(expected ident at line 1 column 73)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[],"metadata":{"kernelInfo":{"name":null}}})",
     R"(invalid type: null, expected a string at line 1 column 81)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[],"metadata":{"languageInfo":[]}})",
     R"(invalid length 0, expected struct LanguageInfo with 5 elements at line 1 column 73)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[],"metadata":{"languageInfo":["p",null,null,null,null,6]}})",
     R"(trailing characters at line 1 column 97)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[],"metadata":{"languageInfo":["p",null,]}})",
     R"(trailing comma at line 1 column 82)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[],"metadata":{"languageInfo":{"name":"p","version":null,"version":"3"}}})",
     R"(duplicate field `version` at line 1 column 107)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[],"metadata":{"languageInfo":{"version":"3"}}})",
     R"(missing field `name` at line 1 column 86)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[],"metadata":{"languageInfo":{"name":"p","version":3}}})",
     R"(invalid type: integer `3`, expected a string at line 1 column 94)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[],"metadata":{"languageInfo":"p"}})",
     R"(invalid type: string "p", expected struct LanguageInfo at line 1 column 74)"},
    {R"({"cells":[{"cell_type":"code"}],"metadata":{},"nbformat":4,"nbformat_minor":5})",
     R"(missing field `source` at line 1 column 30)"},
    {R"({"cells":[{"cell_type":"Code","source":""}],"metadata":{},"nbformat":4,"nbformat_minor":5})",
     R"(unknown variant `Code`, expected one of `code`, `markdown`, `raw` at line 1 column 29)"},
    {R"({"cells":[{"cell_type":null,"source":""}],"metadata":{},"nbformat":4,"nbformat_minor":5})",
     R"(expected value at line 1 column 24)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[{}]})", R"(missing field `cell_type` at line 1 column 44)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[{"cell_type":"raw","cell_type":"raw","source":""}]})",
     R"(duplicate field `cell_type` at line 1 column 72)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[{"cell_type":"raw","id":null,"id" :null}]})",
     R"(duplicate field `id` at line 1 column 76)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[{"cell_type":"raw","source":null}]})",
     R"(data did not match any variant of untagged enum CellSourceJson at line 1 column 75)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[{"source":["a", 1] , "cell_type":"raw"}]})",
     R"(data did not match any variant of untagged enum CellSourceJson at line 1 column 61)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[{"source":{"a":"b"}}]})",
     R"(data did not match any variant of untagged enum CellSourceJson at line 1 column 62)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[{"source":[1,tru]}]})", R"(expected ident at line 1 column 59)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[["raw", 5,  {}]]})",
     R"(data did not match any variant of untagged enum CellSourceJson at line 1 column 54)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[["code"]]})",
     R"(invalid length 1, expected struct Cell with 6 elements at line 1 column 50)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[[]]})",
     R"(invalid length 0, expected struct Cell with 6 elements at line 1 column 44)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[["code","",{},null,null,[],7]]})",
     R"(trailing characters at line 1 column 70)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":["code"]})",
     R"(invalid type: string "code", expected struct Cell at line 1 column 48)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[{"cell_type":{"raw":0}}]})",
     R"(invalid type: integer `0`, expected unit at line 1 column 63)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[{"cell_type":{"raw":null, "code":null}}]})",
     R"(expected value at line 1 column 66)"},
    {"{\"cells\":[{\"cell_type\":{\"raw\":null\n", R"(EOF while parsing an object at line 2 column 0)"},
    {"{\"nbformat\":4,\"nbformat_minor\":5,\"cells\":[{\"cell_type\":{\"raw\":null\n,\"x\":1}}]}",
     R"(expected value at line 2 column 0)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[{"cell_type":{}}]})", R"(expected value at line 1 column 57)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[{"cell_type":{"Raw":null}}]})",
     R"(unknown variant `Raw`, expected one of `code`, `markdown`, `raw` at line 1 column 61)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[{"cell_type":{"raw" null}}]})",
     R"(expected `:` at line 1 column 63)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[{"cell_type":{1:null}}]})",
     R"(invalid type: integer `1`, expected variant identifier at line 1 column 57)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[{"cell_type":5}]})", R"(expected value at line 1 column 56)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[{"cell_type":"raw","source":"","id":7}]})",
     R"(invalid type: integer `7`, expected a string at line 1 column 79)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[{"cell_type":"raw","source":"","metadata":null}]})",
     R"(invalid type: null, expected a map at line 1 column 88)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[{"cell_type":"raw","source":"","outputs":null}]})",
     R"(invalid type: null, expected a sequence at line 1 column 87)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[{"cell_type":"code","source":"","outputs":[3]}]})",
     R"(invalid type: integer `3`, expected internally tagged enum CellOutput at line 1 column 86)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[{"cell_type":"code","source":"","outputs":[{}]}]})",
     R"(missing field `output_type` at line 1 column 87)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[{"cell_type":"code","source":"","outputs":[[]]}]})",
     R"(missing field `output_type` at line 1 column 87)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[{"cell_type":"code","source":"","outputs":[{"output_type":"stream", "output_type" :3}]}]})",
     R"(duplicate field `output_type` at line 1 column 124)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[{"cell_type":"code","source":"","outputs":[{"output_type":"Stream"}]}]})",
     R"(unknown variant `Stream`, expected one of `stream`, `display_data`, `execute_result`, `error` at line 1 column 108)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[{"cell_type":"code","source":"","outputs":[{"output_type":""}]}]})",
     R"(unknown variant ``, expected one of `stream`, `display_data`, `execute_result`, `error` at line 1 column 102)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[{"cell_type":"code","source":"","outputs":[{"output_type":1}]}]})",
     R"(invalid type: integer `1`, expected variant identifier at line 1 column 101)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[{"cell_type":"code","source":"","outputs":[{"output_type":{}}]}]})",
     R"(invalid type: map, expected variant identifier at line 1 column 100)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[{"cell_type":"code","source":"","outputs":[{"name":1,"output_type":"bad","x":tru}]}]})",
     R"(unknown variant `bad`, expected one of `stream`, `display_data`, `execute_result`, `error` at line 1 column 114)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[{"cell_type":"code","source":"","outputs":[{"name":1,"output_type":"stream","x":tru}]}]})",
     R"(expected ident at line 1 column 126)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[{"cell_type":"code","source":"","outputs":[{"output_type":"stream","x":1e400}]}]})",
     R"(number out of range at line 1 column 118)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[{"cell_type":"code","source":"","outputs":[{"output_type":"stream","name":1}]}]})",
     R"(invalid type: integer `1`, expected a string at line 1 column 119)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[{"cell_type":"code","source":"","outputs":[{"output_type":"stream","name":"a","text":5}]}]})",
     R"(data did not match any variant of untagged enum CellSourceJson at line 1 column 130)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[{"cell_type":"code","source":"","outputs":[{"output_type":"stream","name":"a"}, {}]}]})",
     R"(missing field `text` at line 1 column 122)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[{"cell_type":"code","source":"","outputs":[{"output_type":"stream","name":"a","name":"b"} ]]}]})",
     R"(duplicate field `name` at line 1 column 133)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[{"cell_type":"code","source":"","outputs":[{"output_type":"stream"} x]}]})",
     R"(missing field `name` at line 1 column 110)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[{"cell_type":"code","source":"","outputs":[{"output_type":"display_data","data":null}]}]})",
     R"(invalid type: null, expected a map at line 1 column 128)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[{"cell_type":"code","source":"","outputs":[{"output_type":"display_data","metadata":{}}]}]})",
     R"(missing field `data` at line 1 column 130)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[{"cell_type":"code","source":"","outputs":[{"output_type":"execute_result","data":{},"execution_count":4294967296}]}]})",
     R"(invalid value: integer `4294967296`, expected u32 at line 1 column 157)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[{"cell_type":"code","source":"","outputs":[{"output_type":"execute_result","data":{},"execution_count":-1}]}]})",
     R"(invalid value: integer `-1`, expected u32 at line 1 column 149)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[{"cell_type":"code","source":"","outputs":[{"output_type":"execute_result","data":{},"execution_count":1.5}]}]})",
     R"(invalid type: floating point `1.5`, expected u32 at line 1 column 150)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[{"cell_type":"code","source":"","outputs":[{"output_type":"execute_result","data":{},"execution_count":"3"}]}]})",
     R"(invalid type: string "3", expected u32 at line 1 column 150)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[{"cell_type":"code","source":"","outputs":[{"output_type":"execute_result","execution_count":null,"execution_count":1}]}]})",
     R"(duplicate field `execution_count` at line 1 column 161)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[{"cell_type":"code","source":"","outputs":[{"output_type":"error","ename":"E","evalue":"v","traceback":[1]}]}]})",
     R"(invalid type: integer `1`, expected a string at line 1 column 150)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[{"cell_type":"code","source":"","outputs":[{"output_type":"error","ename":"E","evalue":"v","traceback":"t"}]}]})",
     R"(invalid type: string "t", expected a sequence at line 1 column 150)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[{"cell_type":"code","source":"","outputs":[{"output_type":"error","traceback":[],"evalue":"v"}]}]})",
     R"(missing field `ename` at line 1 column 137)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[{"cell_type":"code","source":"","outputs":[["stream","stdout"]]}]})",
     R"(invalid length 1, expected struct variant CellOutput::Stream with 2 elements at line 1 column 105)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[{"cell_type":"code","source":"","outputs":[["stream","a","b","c"]]}]})",
     R"(invalid length 3, expected 2 elements in sequence at line 1 column 108)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[{"cell_type":"code","source":"","outputs":[["stream",1,"b","c"]]}]})",
     R"(invalid type: integer `1`, expected a string at line 1 column 106)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[{"cell_type":"code","source":"","outputs":[["display_data"]]}]})",
     R"(invalid length 0, expected struct variant CellOutput::DisplayData with 2 elements at line 1 column 102)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[{"cell_type":"code","source":"","outputs":[["execute_result"]]}]})",
     R"(invalid length 0, expected struct variant CellOutput::ExecuteResult with 3 elements at line 1 column 104)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[{"cell_type":"code","source":"","outputs":[["execute_result",null]]}]})",
     R"(invalid length 1, expected struct variant CellOutput::ExecuteResult with 3 elements at line 1 column 109)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[{"cell_type":"code","source":"","outputs":[["error","E","v"]]}]})",
     R"(invalid length 2, expected struct variant CellOutput::Error with 3 elements at line 1 column 103)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[{"cell_type":"code","source":"","outputs":[["error","E","v",[],0]]}]})",
     R"(invalid length 4, expected 3 elements in sequence at line 1 column 108)"},
    {R"({"nbformat":4,"nbformat_minor":5,"cells":[{"cell_type":"code","source":"","outputs":[[1,"stdout","hi"]]}]})",
     R"(invalid type: integer `1`, expected variant identifier at line 1 column 87)"},
    {"{\n \"nbformat\": 4,\n \"nbformat_minor\": 5,\n \"cells\": [\n  {\n   \"cell_type\": \"code\",\n   \"source\": \"\",\n   \"outputs\": [\n    {\"output_type\": \"stream\", \"name\": \"out\"},\n    {\"output_type\": \"stream\", \"name\": \"err\", \"text\": \"\"}\n   ]\n  }\n ]\n}",
     R"(missing field `text` at line 10 column 4)"},
    {"{\n \"nbformat\": 4,\n \"nbformat_minor\": 5,\n \"cells\": [\n  {\n   \"cell_type\": \"code\",\n   \"source\": \"\",\n   \"outputs\": [\n    {\"output_type\": \"stream\", \"name\": \"out\"}\n   ]\n  }\n ]\n}",
     R"(missing field `text` at line 10 column 4)"},
    {"{\"nbformat\":\"q\\\"\\\\\\t\\r\\n\\u0000\\u0001\\u007f'é\\u0301\\u00a0\\u200b\\u2028 \\ue000\\u0378\\ud83d\\ude00\\ud83c\\udffb\"}",
     "invalid type: string \"q\\\"\\\\\\t\\r\\n\\0\\u{1}\\u{7f}'é\\u{301}\\u{a0}\\u{200b}\\u{2028} \\u{e000}\\u{378}😀🏻\", expected u32 at line 1 column 107"},
};

// The usual layout, one member or element per line: failures right after a
// comma that ends its line, on the line of a first key, or before a closing
// bracket, each placed at its own byte.
const Failure kLayoutFailures[] = {
    {"{\n \"nbformat\": 4,\n }", "trailing comma at line 3 column 2"},
    {"{\n \"nbformat\": 4,\n 5}", "key must be a string at line 3 column 2"},
    {"{\n \"nbformat\": 4,\n   ", "EOF while parsing a value at line 3 column 3"},
    {"{\n\n  5", "key must be a string at line 3 column 3"},
    {"{\"metadata\": {\"x\": [\n   1,\n   ]}}", "trailing comma at line 3 column 4"},
    {"{\"metadata\": {\"x\": [\n   1,\n   ", "EOF while parsing a value at line 3 column 3"},
    {"{\"metadata\": {\"x\": [\n   1\n   2]}}", "expected `,` or `]` at line 3 column 4"},
    {"{\"metadata\": {\"x\": {\n   \"a\": 1\n   \"b\": 2}}}", "expected `,` or `}` at line 3 column 4"},
    {"{\"metadata\": {\"x\": {\n   \"a\" 1}}}", "expected `:` at line 2 column 8"},
    {"{\"metadata\": {\"x\":  ,}}", "expected value at line 1 column 21"},
};

TEST(ReaderMessages, LayoutFailuresWithTheirPosition) {
    for (const Failure& f : kLayoutFailures) {
        const auto result = parse_notebook(f.text);
        ASSERT_FALSE(result.ok()) << f.text;
        EXPECT_EQ(result.error().display(), f.display) << f.text;
    }
}

TEST(ReaderMessages, EachFailureWithItsPosition) {
    for (const Failure& f : kFailures) {
        const auto result = parse_notebook(f.text);
        ASSERT_FALSE(result.ok()) << f.text;
        EXPECT_TRUE(result.error().placed()) << f.text;
        EXPECT_EQ(result.error().display(), f.display) << f.text;
    }
}

// A failure's kind travels with its text from where it is made, whether it
// is placed there, by an open record or list, or by a wrong value's reader.
TEST(ReaderMessages, EachFailureWithItsKind) {
    struct Case {
        std::string text;
        ErrorKind kind;
        std::string_view message;
    };
    const Case cases[] = {
        {R"({"nbformat" 4)", ErrorKind::ExpectedColon, "expected `:`"},
        {R"({"nbformat":4})", ErrorKind::MissingField, "missing field `nbformat_minor`"},
        {R"({"nbformat":4.0})", ErrorKind::InvalidType, "invalid type: floating point `4.0`, expected u32"},
        {R"({"nbformat":-1})", ErrorKind::InvalidValue, "invalid value: integer `-1`, expected u32"},
        {R"([{}])", ErrorKind::InvalidLength, "invalid length 1, expected struct Notebook with 4 elements"},
        {R"({"cells":[{"cell_type":"Code","source":""}]})", ErrorKind::UnknownVariant,
         "unknown variant `Code`, expected one of `code`, `markdown`, `raw`"},
        {R"({"cells":[{"cell_type":"raw","source":null}]})", ErrorKind::NoVariantMatched,
         "data did not match any variant of untagged enum CellSourceJson"},
        {R"({"metadata":{"x":)" + std::string(200, '['), ErrorKind::RecursionLimitExceeded,
         "recursion limit exceeded"},
    };
    for (const Case& c : cases) {
        const auto result = parse_notebook(c.text);
        ASSERT_FALSE(result.ok()) << c.text;
        EXPECT_EQ(result.error().kind(), c.kind) << c.text;
        EXPECT_EQ(result.error().message(), c.message) << c.text;
    }
}

// A bad escape or byte after plain bytes and common escapes of any length:
// placed by its own column, whatever block of the string it falls in, in a
// string that is decoded and in one that is skipped (under a key no record
// declares), which checks its escapes alike except for surrogates.
TEST(ReaderMessages, StringFailuresAtEveryOffset) {
    struct Case {
        std::string_view tail;
        std::string_view message;
        std::size_t column;  // counted from the last byte before the tail
        bool surrogate;      // a failure of decoding only
    };
    const Case cases[] = {
        {"\\q\"}", "invalid escape", 2, false},
        {"\\u12G4\"}", "invalid escape", 6, false},
        {"\\u12\"}", "invalid escape", 6, false},
        {"\\ud800x\"}", "unexpected end of hex escape", 7, true},
        {"\001\"}", "control character (\\u0000-\\u001F) found while parsing a string", 1, false},
        {"\\", "EOF while parsing a string", 1, false},
        {"\\u00", "EOF while parsing a string", 4, false},
    };
    for (const std::string_view start : {"{\"metadata\":{\"x\":\"", "{\"cells\":[{\"x\":\""}) {
        const bool skipped = start.find("cells") != std::string_view::npos;
        for (const Case& c : cases) {
            if (skipped && c.surrogate) continue;
            for (std::size_t k = 0; k <= 40; ++k) {
                // Plain bytes, then a quote, tab or colour escape now and then.
                std::string body;
                for (std::size_t j = 0; j < k; ++j)
                    body += j % 7 == 3 ? "\\\"" : j % 11 == 5 ? "\\t" : j % 5 == 1 ? "\\u001b" : "x";
                const std::string head = std::string(start) + body;
                const auto result = parse_notebook(head + std::string(c.tail));
                ASSERT_FALSE(result.ok());
                EXPECT_EQ(result.error().display(), std::string(c.message) + " at line 1 column " +
                                                        std::to_string(head.size() + c.column))
                    << head << c.tail;
            }
        }
    }
}

// Indentation of every width, with tabs and carriage returns among the
// spaces: the failure after it is placed by its own column.
TEST(ReaderMessages, IndentedFailuresKeepTheirColumn) {
    for (const std::string_view pad : {"", " ", "\t", " \r", "  \t "}) {
        for (std::size_t width = 0; width <= 20; ++width) {
            std::string indent(width, ' ');
            indent.insert(width / 2, pad);
            const auto result = parse_notebook("{\n" + indent + "x");
            ASSERT_FALSE(result.ok());
            EXPECT_EQ(result.error().display(),
                      "key must be a string at line 2 column " + std::to_string(indent.size() + 1))
                << width;
        }
    }
}

}  // namespace
