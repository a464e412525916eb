#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "convert_engine/notebook/json_writer.hpp"
#include "convert_engine/notebook/parse.hpp"

using namespace convert_engine::notebook;

// Reading a written sample gives the same notebook, and writing that again
// gives the same text.
TEST(RoundTrip, EverySampleNotebook) {
    int samples = 0;
    for (const auto& entry : std::filesystem::directory_iterator(QC_SAMPLE_NOTEBOOKS)) {
        if (entry.path().extension() != ".ipynb") continue;
        SCOPED_TRACE(entry.path().filename().string());
        ++samples;
        std::ifstream in(entry.path(), std::ios::binary);
        std::ostringstream file;
        file << in.rdbuf();
        const auto first = parse_notebook(file.str());
        ASSERT_TRUE(first.ok()) << first.error().display();
        const convert_engine::Text text = to_vec_pretty(first.value()).value();
        const auto second = parse_notebook(text);
        ASSERT_TRUE(second.ok()) << second.error().display();
        EXPECT_EQ(second.value(), first.value());
        EXPECT_EQ(to_vec_pretty(second.value()).value(), text);
    }
    EXPECT_GE(samples, 4);
}
