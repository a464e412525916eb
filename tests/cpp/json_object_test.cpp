#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "convert_engine/json/json_value.hpp"

namespace {

using convert_engine::notebook::JsonObject;
using convert_engine::notebook::JsonValue;

JsonObject::Entries entries_of(const JsonObject& object) {
    return {object.begin(), object.end()};
}

// Entries given in any order come out in unsigned byte order of their keys,
// the last of equal keys kept.
TEST(JsonObject, OrdersKeysAndKeepsTheLastOfEqualKeys) {
    using Entries = JsonObject::Entries;
    struct Case {
        Entries given;
        Entries kept;
    };
    const Case cases[] = {
        {{}, {}},
        {{{"a", 1.0}, {"b", 2.0}}, {{"a", 1.0}, {"b", 2.0}}},
        {{{"b", 1.0}, {"a", 2.0}, {"B", 3.0}}, {{"B", 3.0}, {"a", 2.0}, {"b", 1.0}}},
        {{{"k", 1.0}, {"k", 2.0}, {"k", 3.0}}, {{"k", 3.0}}},
        {{{"b", 1.0}, {"a", 2.0}, {"b", 3.0}, {"a", 4.0}, {"c", 5.0}}, {{"a", 4.0}, {"b", 3.0}, {"c", 5.0}}},
        // Bytes above 0x7F sort after ASCII; a prefix sorts first.
        {{{"\xc3\xa9", 1.0}, {"z", 2.0}, {"", 3.0}, {"zz", 4.0}}, {{"", 3.0}, {"z", 2.0}, {"zz", 4.0}, {"\xc3\xa9", 1.0}}},
    };
    for (const Case& c : cases) EXPECT_EQ(entries_of(JsonObject(c.given)), c.kept);
}

// Larger objects, shuffled with repeats, against a map that keeps the last
// value assigned to each key.
TEST(JsonObject, LargeShuffledObjectsMatchAMapOfTheLastValues) {
    struct Case {
        std::size_t keys;
        std::size_t repeats;
    };
    const Case cases[] = {{2, 0}, {50, 0}, {50, 200}, {1000, 0}, {1000, 3000}, {5000, 1}};
    std::mt19937 rng(7);
    for (const Case& c : cases) {
        JsonObject::Entries given;
        for (std::size_t i = 0; i < c.keys + c.repeats; ++i) {
            const std::size_t k = i < c.keys ? i : rng() % c.keys;
            given.emplace_back((k % 3 == 0 ? "\xc3" : "k") + std::to_string(k), static_cast<std::uint64_t>(i));
        }
        std::shuffle(given.begin(), given.end(), rng);
        std::map<std::string, JsonValue> last;
        for (const auto& [key, value] : given) last.insert_or_assign(std::string(key), value);
        JsonObject::Entries expected;
        for (const auto& [key, value] : last) expected.emplace_back(key, value);
        EXPECT_EQ(entries_of(JsonObject(given)), expected) << c.keys << " keys, " << c.repeats << " repeats";
    }
}

TEST(JsonObject, FindsByKey) {
    const JsonObject object{{"text/plain", "t"}, {"image/png", "p"}, {"a", nullptr}};
    struct Case {
        const char* key;
        bool found;
        JsonValue value;
    };
    const Case cases[] = {
        {"text/plain", true, "t"}, {"image/png", true, "p"}, {"a", true, nullptr},
        {"text", false, {}},       {"", false, {}},          {"zz", false, {}},
    };
    for (const Case& c : cases) {
        const auto it = object.find(c.key);
        ASSERT_EQ(it != object.end(), c.found) << c.key;
        if (!c.found) {
            EXPECT_THROW(object.at(c.key), std::out_of_range);
            continue;
        }
        EXPECT_EQ(it->first, c.key);
        EXPECT_EQ(it->second, c.value);
    }
}

}  // namespace
