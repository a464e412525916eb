#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "convert_engine/notebook/json_writer.hpp"

using namespace convert_engine::notebook;

namespace {

std::string pretty(const JsonValue& value) {
    convert_engine::Text out;
    append_json_value_pretty(out, value);
    return std::string(out);
}

// The text without line breaks and indents, for checking key orders.
std::string flat(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\n') out.push_back(text[i]);
        else while (i + 1 < text.size() && text[i + 1] == ' ') ++i;
    }
    return out;
}

const std::string kHead = "{\n  \"metadata\": {\n    \"kernelInfo\": null,\n    \"languageInfo\": null\n  },\n"
                          "  \"nbformat\": 4,\n  \"nbformat_minor\": 5,\n";

}  // namespace

TEST(JsonWriter, Scalars) {
    using U = std::uint64_t;
    using I = std::int64_t;
    const std::pair<JsonValue, std::string> cases[] = {
        {U{7}, "7"}, {std::numeric_limits<U>::max(), "18446744073709551615"}, {I{-7}, "-7"},
        {std::numeric_limits<I>::min(), "-9223372036854775808"}, {7.0, "7.0"}, {-0.0, "-0.0"},
        {1e16, "1e+16"}, {1.5e-7, "1.5e-7"}, {0.1, "0.1"}, {std::numeric_limits<double>::max(),
        "1.7976931348623157e+308"}, {nullptr, "null"}, {true, "true"}, {false, "false"}, {"", R"("")"},
        {"\t\n\"\\\x01", R"("\t\n\"\\\u0001")"}, {"\b\f\r\x1f", R"("\b\f\r\u001f")"},
        {std::string("a\0b", 3), R"("a\u0000b")"}, {"\x7f/</script>", "\"\x7f/</script>\""},
        {"caf\u00e9 \U0001F600", "\"caf\u00e9 \U0001F600\""},
    };
    for (const auto& [value, text] : cases) EXPECT_EQ(pretty(value), text);
}

TEST(JsonWriter, ContainerLayout) {
    const std::pair<JsonValue, std::string> cases[] = {
        {JsonArray{}, "[]"},
        {JsonObject{}, "{}"},
        {JsonArray{std::uint64_t{1}, JsonArray{}}, "[\n  1,\n  []\n]"},
        // Byte order of keys at every depth.
        {JsonObject{{"b", std::uint64_t{1}}, {"\u00e9", nullptr}, {"B", nullptr},
                    {"a", JsonObject{{"d", JsonArray{}}, {"c", JsonObject{}}}}},
         "{\n  \"B\": null,\n  \"a\": {\n    \"c\": {},\n    \"d\": []\n  },\n  \"b\": 1,\n  \"\u00e9\": null\n}"},
    };
    for (const auto& [value, text] : cases) EXPECT_EQ(pretty(value), text);
}

TEST(JsonWriter, Notebooks) {
    Notebook nb{{}, 4, 5, {}};
    EXPECT_EQ(std::string_view(to_vec_pretty(nb).value()), kHead + "  \"cells\": []\n}");
    nb.cells.push_back(Cell{CellType::Markdown, {"ab"}, {}, {}, {}, {}});
    EXPECT_EQ(std::string_view(to_vec_pretty(nb).value()),
              kHead + "  \"cells\": [\n    {\n      \"cell_type\": \"markdown\",\n      \"source\": \"ab\",\n"
                      "      \"metadata\": {},\n      \"id\": null,\n      \"execution_count\": null,\n"
                      "      \"outputs\": []\n    }\n  ]\n}");
    // The named metadata keys first, then the other keys in order.
    nb = {{KernelInfo{"k"}, LanguageInfo{"py", "3", JsonObject{}, std::nullopt, "m"}, {{"zz", 1.0}, {"Aa", "x"}}}, 0, 1, {}};
    EXPECT_EQ(flat(std::string(to_vec_pretty(nb).value())),
              R"({"metadata": {"kernelInfo": {"name": "k"},"languageInfo": {"name": "py","version": "3",)"
              R"("codemirrorMode": {},"fileExtension": null,"mimetype": "m"},"Aa": "x","zz": 1.0},)"
              R"("nbformat": 0,"nbformat_minor": 1,"cells": []})");
}

TEST(JsonWriter, OutputRecords) {
    const std::pair<CellOutput, std::string> cases[] = {
        {{CellOutput::Stream{"stdout", {"hi\n"}}}, R"({"output_type": "stream","name": "stdout","text": "hi\n"})"},
        {{CellOutput::DisplayData{{{"text/plain", "x"}}, {}}},
         R"({"output_type": "display_data","data": {"text/plain": "x"},"metadata": {}})"},
        {{CellOutput::ExecuteResult{0, {}, {{"m", true}}}},
         R"({"output_type": "execute_result","execution_count": 0,"data": {},"metadata": {"m": true}})"},
        {{CellOutput::ExecuteResult{std::nullopt, {}, {}}},
         R"({"output_type": "execute_result","execution_count": null,"data": {},"metadata": {}})"},
        {{CellOutput::Error{"E", "v", {}}}, R"({"output_type": "error","ename": "E","evalue": "v","traceback": []})"},
        {{CellOutput::Error{"E", "v", {"a", "b"}}},
         R"({"output_type": "error","ename": "E","evalue": "v","traceback": ["a","b"]})"},
    };
    for (const auto& [output, text] : cases) {
        Notebook nb{{}, 4, 5, {Cell{CellType::Code, {"s"}, {}, "i", JsonValue(2.0), {output}}}};
        EXPECT_EQ(flat(std::string(to_vec_pretty(nb).value())),
                  flat(kHead) + R"("cells": [{"cell_type": "code","source": "s","metadata": {},"id": "i",)"
                                R"("execution_count": 2.0,"outputs": [)" + text + "]}]}");
    }
}
