#include <gtest/gtest.h>

#include "convert_engine/error/convert_error.hpp"

using convert_engine::error::ConvertError;
using convert_engine::json::ErrorKind;
using convert_engine::json::JsonError;

TEST(ConvertError, DisplaysEachKind) {
    struct Case {
        ConvertError error;
        const char* text;
    };
    const Case cases[] = {
        {ConvertError::json_parse(JsonError{{ErrorKind::TrailingComma}, 3, 7}),
         "failed to parse notebook JSON: trailing comma at line 3 column 7"},
        {ConvertError::json_parse(JsonError{convert_engine::json::missing_field("cells"), 0, 0}),
         "failed to parse notebook JSON: missing field `cells`"},
        {ConvertError::invalid_structure("x"), "invalid notebook structure: x"},
        {ConvertError::unknown_cell_type("foo"), "unknown cell type: foo"},
        {ConvertError::missing_field("cells"), "missing required field: cells"},
        {ConvertError::template_render(""), "template rendering error: "},
        {ConvertError::template_render("syntax error: bad (in notebook:3)"),
         "template rendering error: syntax error: bad (in notebook:3)"},
        {ConvertError::unsupported_format(4, 5), "unsupported notebook format: nbformat 4.5"},
        {ConvertError::unsupported_format(0, 4294967295u), "unsupported notebook format: nbformat 0.4294967295"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.error.display(), c.text);
}
