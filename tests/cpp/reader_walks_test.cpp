#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>

#include "convert_engine/json/json_reader.hpp"
#include "convert_engine/notebook/joined_text.hpp"

namespace {

using convert_engine::json::ErrorKind;
using convert_engine::json::JsonArray;
using convert_engine::json::JsonObject;
using convert_engine::json::JsonReader;
using convert_engine::json::JsonValue;
using convert_engine::json::ReadError;

// How a reading of a whole text went: where it stopped, or its failure as
// shown, placed.
struct Outcome {
    bool ok = false;
    std::size_t end = 0;
    ErrorKind kind = ErrorKind::ExpectedValue;
    std::string display;
    bool operator==(const Outcome&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Outcome& o) {
    return out << (o.ok ? "ok, end " + std::to_string(o.end) : o.display);
}

template <class Read>
Outcome outcome(std::string_view text, Read&& read) {
    JsonReader reader(text);
    try {
        read(reader);
        return {true, reader.offset(), ErrorKind::ExpectedValue, ""};
    } catch (ReadError& e) {
        const std::size_t point = e.placed ? e.point : reader.offset();
        const auto error = JsonReader::place(text, point, std::move(e));
        return {false, 0, error.kind(), error.display()};
    }
}

std::string nested(std::size_t depth, const std::string& inner) {
    return std::string(depth, '[') + inner + std::string(depth, ']');
}

// The three walks over the same values: a check fails exactly where a
// build does, and a skip too, but for what its looser grammar lets by.
TEST(ReaderWalks, CheckFailsWhereBuildFailsAndSkipOnlyLooser) {
    struct Case {
        std::string text;
        bool skip_passes;  // the build fails, the skip reads it
    };
    const Case cases[] = {
        {R"({"a":[1,-2,3.5e1,true,false,null,"s\n\u00e9\ud83d\ude00"],"b":{"c":{}}} )", false},
        {R"([[],{},[[{"x":[]}]],"t"])", false},
        {"[\n  \"a\\n\",\n  \"b\\n\",\n  1,\n  \"c\",\n  x\n]", false},
        {"{\n \"a\": 1,\n }", false},
        {R"([1,])", false},
        {R"({"a" 1})", false},
        {R"({1:2})", false},
        {R"({"a":[{"b":[1,}]}]})", false},
        {R"({"a":)", false},
        {R"(["\q"])", false},
        {R"(["ok","\u12G4"])", false},
        {"[\"a\x01\"]", false},
        {R"({"k\q":1})", false},
        {R"([tru])", false},
        {R"([01])", false},
        {nested(60, R"({"a":[{"b":nul}]})"), false},
        {R"(["a","\ud800"])", true},
        {R"({"\udc00":1})", true},
        {R"(["a",1e400])", true},
        {R"({"a":{"b":-1e999}})", true},
        {nested(127, "1"), false},
        {nested(128, "1"), true},
        {nested(100, R"({"a":x})"), false},
    };
    for (const Case& c : cases) {
        const Outcome built = outcome(c.text, [](JsonReader& r) { r.read_value(); });
        const Outcome checked = outcome(c.text, [](JsonReader& r) { r.check_value(); });
        const Outcome skipped = outcome(c.text, [](JsonReader& r) { r.skip_value(); });
        EXPECT_EQ(checked, built) << c.text;
        if (c.skip_passes) {
            EXPECT_FALSE(built.ok) << c.text;
            EXPECT_EQ(skipped, (Outcome{true, c.text.size(), ErrorKind::ExpectedValue, ""})) << c.text;
        } else {
            EXPECT_EQ(skipped, built) << c.text;
        }
    }
}

// A built value holds each container's members where they were read, at
// every depth the budget allows, whichever kind holds which.
TEST(ReaderWalks, BuildPutsEachValueInItsContainer) {
    std::string text = "0";
    JsonValue expected(std::uint64_t{0});
    // Up to 126 levels, whose innermost siblings are the 127th: the most the
    // budget lets open at once.
    for (std::uint64_t level = 1; level < JsonReader::kBudget - 1; ++level) {
        if (level % 2 == 0) {
            text = R"({"z":[],"k":)" + text + R"(,"a":{"n":)" + std::to_string(level) + "}}";
            expected = JsonValue(JsonObject{{"z", JsonArray{}}, {"k", std::move(expected)}, {"a", JsonObject{{"n", level}}}});
        } else {
            text = "[{}," + text + ",[" + std::to_string(level) + "]]";
            JsonArray inner;
            inner.emplace_back(JsonObject{});
            inner.push_back(std::move(expected));
            inner.emplace_back(JsonArray{JsonValue(level)});
            expected = JsonValue(std::move(inner));
        }
    }
    JsonReader reader(text);
    EXPECT_EQ(reader.read_value(), expected);
    EXPECT_EQ(reader.offset(), text.size());
    EXPECT_EQ(reader.budget(), JsonReader::kBudget);
}

// The joined texts: reading one and checking one succeed, fail and judge
// alike.
TEST(ReaderWalks, JoinedTextCheckFailsWhereReadFails) {
    using convert_engine::notebook::detail::check_joined_text;
    using convert_engine::notebook::detail::read_joined_text;
    struct Case {
        std::string text;
        bool is_text;
        std::string joined;
    };
    const Case cases[] = {
        {R"("one\u00e9")", true, "one\xC3\xA9"},
        {"[\n \"a\\n\",\n \"b\"\n]", true, "a\nb"},
        {R"([])", true, ""},
        {R"(["a",1,"b",{"c":[]}])", false, ""},
        {R"(7)", false, ""},
        {R"(["a",1,"\q"])", false, ""},
        {R"(["a\ud800"])", false, ""},
        {R"(["a",[1,}])", false, ""},
        {"[\"a\",\n \"b\",]", false, ""},
    };
    for (const Case& c : cases) {
        std::string out = "before";
        bool read_is_text = false;
        bool checked_is_text = false;
        const Outcome read = outcome(c.text, [&](JsonReader& r) { read_is_text = read_joined_text(r, out); });
        const Outcome checked = outcome(c.text, [&](JsonReader& r) { checked_is_text = check_joined_text(r); });
        EXPECT_EQ(checked, read) << c.text;
        if (!read.ok) continue;
        EXPECT_EQ(read_is_text, c.is_text) << c.text;
        EXPECT_EQ(checked_is_text, c.is_text) << c.text;
        EXPECT_EQ(out, c.is_text ? c.joined : "before") << c.text;
    }
}

}  // namespace
