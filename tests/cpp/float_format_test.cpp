#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "convert_engine/json/float_format.hpp"

using convert_engine::json::format_float;

TEST(FloatFormat, SpellsEachRange) {
    struct Case {
        double value;
        const char* text;
    };
    const Case cases[] = {
        {0.0, "0.0"},
        {-0.0, "-0.0"},
        {7.0, "7.0"},
        {-7.0, "-7.0"},
        {100.0, "100.0"},
        {12.5, "12.5"},
        {123.25, "123.25"},
        {4.5, "4.5"},
        {0.1, "0.1"},
        {0.5, "0.5"},
        {0.001, "0.001"},
        {0.00001, "0.00001"},
        {0.000001, "1e-6"},
        {1.5e-7, "1.5e-7"},
        {1e15, "1000000000000000.0"},
        {1e16, "1e+16"},
        {1.5e16, "1.5e+16"},
        {18446744073709551616.0, "1.8446744073709552e+19"},
        {std::numeric_limits<double>::max(), "1.7976931348623157e+308"},
        {5e-324, "5e-324"},
        {-2.5e-10, "-2.5e-10"},
        {std::numeric_limits<double>::infinity(), "null"},
    };
    for (const auto& c : cases) EXPECT_EQ(format_float(c.value), c.text) << c.text;
}
