#include <gtest/gtest.h>

#include "convert_engine/converters/text_conversions.hpp"

using namespace convert_engine::notebook;
using convert_engine::converters::strip_outputs;

TEST(StripOutputs, OnlyCodeCellsLoseOutputsAndCount) {
    const std::vector<CellOutput> all = {{CellOutput::Stream{"stdout", {"x"}}},
                                         {CellOutput::DisplayData{{{"text/plain", "d"}}, {}}},
                                         {CellOutput::ExecuteResult{2, {{"text/plain", "r"}}, {}}},
                                         {CellOutput::Error{"E", "v", {"tb"}}}};
    const JsonObject tags{{"tags", JsonArray{"t"}}};
    Notebook nb{{KernelInfo{"k"}, LanguageInfo{"py", "3", "x", ".py", "m"}, {{"b", 1.5}, {"a", nullptr}}}, 4, 2,
                {Cell{CellType::Code, {"a"}, tags, "i", std::uint64_t{2}, all},
                 Cell{CellType::Code, {"b"}, {}, {}, {}, {}},
                 Cell{CellType::Markdown, {"c"}, tags, "j", "1", all},
                 Cell{CellType::Raw, {"d"}, {}, {}, std::uint64_t{3}, {}}}};
    const Notebook before = nb;

    const Notebook stripped = strip_outputs(nb);
    EXPECT_EQ(nb, before);  // the argument is left as it was
    Notebook expected = before;
    expected.cells[0].execution_count.reset();
    expected.cells[0].outputs.clear();
    EXPECT_EQ(stripped, expected);
    EXPECT_EQ(strip_outputs(stripped), stripped);
    EXPECT_EQ(strip_outputs(Notebook(before)), expected);  // the consuming form agrees
    EXPECT_EQ(strip_outputs(Notebook{before.metadata, 4, 2, {}}), (Notebook{before.metadata, 4, 2, {}}));
}
