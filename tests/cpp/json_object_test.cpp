#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "convert_engine/json/json_value.hpp"

namespace {

using convert_engine::json::JsonObject;
using convert_engine::json::JsonValue;

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

// What an object made of `given` holds: the last value of each key, in
// key order.
JsonObject::Entries last_values_in_key_order(const JsonObject::Entries& given) {
    std::map<std::string, JsonValue> last;
    for (const auto& [key, value] : given) last.insert_or_assign(std::string(key), value);
    JsonObject::Entries expected;
    for (const auto& [key, value] : last) expected.emplace_back(key, value);
    return expected;
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
        EXPECT_EQ(entries_of(JsonObject(given)), last_values_in_key_order(given))
            << c.keys << " keys, " << c.repeats << " repeats";
    }
}

// Objects whose keys arrive in an order that matters: the shared prefix
// shortening late, keys alike in their first bytes after it or in all but
// their last bits, keys of a single differing bit, and sizes on either
// side of what is sorted by comparison alone.
TEST(JsonObject, KeysInGivenOrdersMatchAMapOfTheLastValues) {
    std::mt19937 rng(11);
    // `prefix`, then `k` in `width` digits.
    const auto number = [](const char* prefix, std::size_t k, std::size_t width) {
        const std::string digits = std::to_string(k);
        return prefix + std::string(width - std::min(digits.size(), width), '0') + digits;
    };
    const auto bytes = [&rng](std::size_t n, std::initializer_list<unsigned char> choices) {
        std::string text;
        for (std::size_t i = 0; i < n; ++i) text += static_cast<char>(choices.begin()[rng() % choices.size()]);
        return text;
    };
    struct Case {
        const char* name;
        std::function<std::string(std::size_t)> key;
        std::size_t count;
        bool shuffled;
    };
    const Case cases[] = {
        // The prefix shortens after many keys, by more and by fewer than 8 bytes.
        {"long prefix, then short",
         [&](std::size_t i) { return i < 3000 ? number("commonprefix", i, 4) : number("c", i, 7); }, 4000, false},
        {"prefix shortened by 2",
         [&](std::size_t i) { return i < 3000 ? number("abcd", i % 700, 4) : number("ab", i, 6); }, 5000, false},
        // Keys that differ in two bytes, then one that shortens the prefix by
        // one and differs from the first key only below them.
        {"prefix shortened by 1, last", [&](std::size_t i) {
             const std::size_t k = i * 7919 % 999;
             if (i == 999) return std::string("abcZ0-9");
             return std::string("abcd") + char('0' + k / 10 % 10) + "-" + char('0' + k % 10);
         }, 1000, false},
        // Long keys that differ past their first 16 bytes, the second of
        // them already in its 18th.
        {"long keys", [&](std::size_t i) {
             return number(i == 1 ? "application/x-jsoN" : "application/x-json", (i * 7919) % 6000, 8);
         }, 6000, false},
        {"prefix shortened to nothing",
         [&](std::size_t i) { return i < 200 ? number("zz", i, 3) : number("", i, 5); }, 300, false},
        // Ranks of 40 varying bits whose top 32 take 16 values: long runs
        // of records that only the whole keys order.
        {"ties beyond 32 bits",
         [&](std::size_t) {
             return "p" + bytes(4, {0x00, 0xff}) + bytes(1, {0x10, 0x2f, 0x7e, 0xc1}) + bytes(3, {'a', 'b'});
         },
         6000, false},
        // Every bit of the 8 bytes after the prefix varies.
        {"random bytes",
         [&](std::size_t) { return bytes(8 + rng() % 3, {0x00, 0x01, 0x7f, 0x80, 0xfe, 0xff, 'a', 'q'}); }, 5000,
         false},
        // Keys alike in all 8 bytes, differing after them, in zero bytes too.
        {"alike in the window",
         [&](std::size_t i) { return "k12345678" + std::string(i % 5, '\0') + number("", i % 900, 3); }, 3000, true},
        {"one varying bit", [&](std::size_t i) { return i % 2 == 0 ? "flag0" : "flag1"; }, 5000, true},
        {"reversed, 64", [&](std::size_t i) { return number("r", 64 - i, 3); }, 64, false},
        {"reversed, 65", [&](std::size_t i) { return number("r", 65 - i, 3); }, 65, false},
        {"reversed, 5000", [&](std::size_t i) { return number("r", 5000 - i, 5); }, 5000, false},
    };
    for (const Case& c : cases) {
        JsonObject::Entries given;
        for (std::size_t i = 0; i < c.count; ++i) given.emplace_back(c.key(i), static_cast<std::uint64_t>(i));
        if (c.shuffled) std::shuffle(given.begin(), given.end(), rng);
        EXPECT_EQ(entries_of(JsonObject(given)), last_values_in_key_order(given)) << c.name;
    }
}

// An object too large for its entries to be placed in one range at once:
// over a million shuffled keys, a few of them repeated.
TEST(JsonObject, AMillionShuffledKeysComeOutInOrder) {
    constexpr std::size_t kKeys = (std::size_t{1} << 20) + 4099;
    const auto key_of = [](std::size_t k) {
        std::string digits = std::to_string(k);
        return "key" + std::string(8 - digits.size(), '0') + digits;
    };
    JsonObject::Entries given;
    for (std::size_t k = 0; k < kKeys; ++k) given.emplace_back(key_of(k), static_cast<std::uint64_t>(k));
    std::mt19937 rng(5);
    std::shuffle(given.begin(), given.end(), rng);
    // Every 1000th key comes again, later, with a value that must win.
    for (std::size_t k = 0; k < kKeys; k += 1000) {
        given.emplace_back(key_of(k), static_cast<std::uint64_t>(kKeys + k));
    }
    const JsonObject object(std::move(given));
    ASSERT_EQ(object.size(), kKeys);
    std::size_t k = 0;
    std::size_t wrong = 0;
    for (const auto& [key, value] : object) {
        const std::uint64_t expected = k % 1000 == 0 ? kKeys + k : k;
        if (key.view() != key_of(k) || value != JsonValue(expected)) ++wrong;
        ++k;
    }
    EXPECT_EQ(wrong, 0U);
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
