#include <gtest/gtest.h>

#include <cstddef>
#include <iterator>
#include <string>

#include "convert_engine/json/json_reader.hpp"
#include "convert_engine/notebook/parse.hpp"

namespace {

using convert_engine::notebook::parse_notebook;
using convert_engine::json::JsonReader;

std::string nested(std::size_t depth, const std::string& inner = "") {
    return std::string(depth, '[') + inner + std::string(depth, ']');
}

// Thrown-away values take no budget and no stack, however deep.
TEST(ReaderLimits, SkippedValuesNestWithoutLimit) {
    constexpr std::size_t kDeep = 10'000'000;
    const std::string tail = R"(,"nbformat":4,"nbformat_minor":5,"cells":[]})";
    EXPECT_TRUE(parse_notebook(R"({"x":)" + nested(kDeep, "1") + tail).ok());

    std::string objects;
    objects.reserve(kDeep * 6 + 64);
    for (std::size_t i = 0; i < kDeep; ++i) objects += R"({"a":)";
    objects += "null";
    objects.append(kDeep, '}');
    EXPECT_TRUE(parse_notebook(R"({"x":)" + objects + tail).ok());

    const std::string cut = R"({"x":)" + std::string(kDeep, '[');
    const auto result = parse_notebook(cut);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().display(), "EOF while parsing a list at line 1 column " + std::to_string(cut.size()));

    // The same under an undeclared key of a kernel record.
    EXPECT_TRUE(parse_notebook(R"({"metadata":{"kernelInfo":{"name":"k","x":)" + nested(1000) + "}}" + tail).ok());
}

// A thrown-away value `depth` containers deep whose levels alternate arrays
// and objects (the outermost an object when `object_first`). Every level holds
// siblings of both kinds before and after its nested value, so a container
// of each kind is closed at each depth before one of the other kind opens
// there, and each level's kind is asked for again after its nested value.
std::string mixed(std::size_t depth, bool object_first) {
    std::string text;
    text.reserve(depth * 48 + 1);
    for (std::size_t level = 0; level < depth; ++level) {
        text += (level % 2 == 0) == object_first ? R"({"s":[1,{"t":null}],"k":)" : R"([{"s":1},[2],)";
    }
    text += '0';
    for (std::size_t level = depth; level-- > 0;) {
        text += (level % 2 == 0) == object_first ? R"(,"u":{"v":[]},"w":"x"})" : R"(,{"w":[3]},"x"])";
    }
    return text;
}

// Skipping keeps one bit per open container, 64 to a word: depths around the
// word boundaries and far past them, under an undeclared key of each record
// kind that skips. Each document equals the one read without that key.
TEST(ReaderLimits, SkippedMixedNestingAcrossWords) {
    // '@' marks the places of the undeclared key; all but one are dropped.
    const std::string base =
        R"({@"metadata":{"kernelInfo":{"name":"k",@"x":1},"languageInfo":{"name":"py"}},"nbformat":4,)"
        R"("nbformat_minor":5,"cells":[{"cell_type":"code","source":"a",@"metadata":{"m":[1]},"outputs":[],)"
        R"("execution_count":2},{"cell_type":"markdown","source":"b"}]})";
    const char* const places[] = {"notebook", "kernelInfo", "cell"};
    const auto with_key_at = [&base](std::size_t place, const std::string& value) {
        std::string text;
        std::size_t seen = 0;
        for (const char c : base) {
            if (c != '@') {
                text += c;
            } else if (seen++ == place) {
                text += R"("undeclared":)" + value + ",";
            }
        }
        return text;
    };

    const auto plain = parse_notebook(with_key_at(std::size(places), ""));
    ASSERT_TRUE(plain.ok()) << plain.error().display();
    const std::size_t depths[] = {1, 63, 64, 65, 70, 127, 128, 200, 100'000};
    for (const std::size_t depth : depths) {
        for (const bool object_first : {false, true}) {
            const std::string value = mixed(depth, object_first);
            for (std::size_t place = 0; place < std::size(places); ++place) {
                const auto result = parse_notebook(with_key_at(place, value));
                ASSERT_TRUE(result.ok()) << places[place] << ", depth " << depth << ", object first "
                                         << object_first << ": " << result.error().display();
                EXPECT_EQ(result.value(), plain.value()) << places[place] << ", depth " << depth;
            }
        }
    }
}

// At most 127 arrays and objects are open at once, the notebook counting as
// the first; the 128th fails at its bracket.
TEST(ReaderLimits, NestingBudgetBoundary) {
    struct Case {
        const char* prefix;
        const char* suffix;
        std::size_t deepest;  // arrays the value may nest
    };
    const Case cases[] = {
        {R"({"metadata":{"v":)", R"(},"nbformat":4,"nbformat_minor":5,"cells":[]})", 125},
        {R"({"nbformat":4,"nbformat_minor":5,"cells":[{"cell_type":"raw","source":"","metadata":{"v":)", "}}]}",
         123},
        {R"({"nbformat":4,"nbformat_minor":5,"cells":[{"cell_type":"raw","source":"","execution_count":)", "}]}",
         124},
        {R"({"nbformat":4,"nbformat_minor":5,"cells":[{"cell_type":"raw","source":"","outputs":[)"
         R"({"output_type":"display_data","data":{},"x":)",
         "}]}]}", 122},
    };
    for (const Case& c : cases) {
        const std::string prefix = c.prefix;
        EXPECT_TRUE(parse_notebook(prefix + nested(c.deepest) + c.suffix).ok()) << prefix;
        const auto result = parse_notebook(prefix + nested(c.deepest + 1) + c.suffix);
        ASSERT_FALSE(result.ok()) << prefix;
        EXPECT_EQ(result.error().display(), "recursion limit exceeded at line 1 column " +
                                                std::to_string(prefix.size() + c.deepest + 1))
            << prefix;
    }

    // A source is read whole, within the budget, before its shape is judged.
    const std::string source = R"({"nbformat":4,"nbformat_minor":5,"cells":[{"cell_type":"raw","source":)";
    EXPECT_EQ(parse_notebook(source + nested(124) + "}]}").error().display(),
              "data did not match any variant of untagged enum CellSourceJson at line 1 column " + std::to_string(source.size() + 2 * 124 + 1));
    EXPECT_EQ(parse_notebook(source + nested(125) + "}]}").error().display(),
              "recursion limit exceeded at line 1 column " + std::to_string(source.size() + 125));
}

TEST(ReaderLimits, BudgetIsGivenBack) {
    const std::string text = nested(127) + nested(127);
    JsonReader reader(text);
    reader.read_value();
    EXPECT_EQ(reader.budget(), JsonReader::kBudget);
    reader.read_value();
    EXPECT_EQ(reader.offset(), text.size());
}

}  // namespace
