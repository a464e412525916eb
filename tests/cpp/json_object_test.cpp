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
// value assigned to each key. Keys share a prefix of some length (the part
// the sort skips) and differ in the bytes after it, past the first 8 of
// them, by a zero byte, or by ending early.
TEST(JsonObject, LargeShuffledObjectsMatchAMapOfTheLastValues) {
    struct Case {
        std::string prefix;
        std::size_t keys;
        std::size_t repeats;
    };
    const Case cases[] = {
        {"", 2, 0},          {"", 50, 200},           {"", 1000, 0},          {"", 1000, 3000},
        {"k", 5000, 1},      {"application/x-", 3000, 3000}, {"same", 1, 5},
        {std::string("\0\xff", 2), 700, 700},
    };
    // Keys that tie on their first 8 bytes after the prefix, or hold a zero.
    const auto key_of = [](const std::string& prefix, std::size_t k) {
        switch (k % 4) {
            case 0: return prefix + std::to_string(k);
            case 1: return prefix + "12345678" + std::to_string(k);
            case 2: return prefix + std::string(k % 9, '\0') + std::to_string(k);
            default: return k % 8 == 3 ? prefix : prefix + "\xc3" + std::to_string(k);
        }
    };
    std::mt19937 rng(7);
    for (const Case& c : cases) {
        JsonObject::Entries given;
        for (std::size_t i = 0; i < c.keys + c.repeats; ++i) {
            const std::size_t k = i < c.keys ? i : rng() % c.keys;
            given.emplace_back(key_of(c.prefix, k), static_cast<std::uint64_t>(i));
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
