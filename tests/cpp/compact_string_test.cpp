#include <gtest/gtest.h>

#include <compare>
#include <string>
#include <utility>
#include <vector>

#include "convert_engine/json/compact_string.hpp"

namespace {

using convert_engine::json::CompactString;

// Texts on both sides of the in-place limit, with zero bytes and bytes above
// 0x7F: each one survives copies, moves and assignments byte for byte, and
// any two compare as the same texts do in std::string.
TEST(CompactString, KeepsBytesAndOrdersLikeStdString) {
    std::vector<std::string> texts = {
        "",
        "a",
        std::string("\0b", 2),
        "\xff",
        std::string(CompactString::kInline - 1, 'x'),
        std::string(CompactString::kInline, 'x'),
        std::string(CompactString::kInline, 'x') + "\x80",
        std::string(CompactString::kInline + 1, 'x'),
        "text/plain",
        // Zero bytes at the end, and texts that differ in the second half of
        // the room in place only.
        std::string("a\0", 2),
        std::string("a\0\0", 3),
        std::string("abcdefgh\0", 9),
        "abcdefghi",
        "abcdefgh\xff",
        std::string(CompactString::kInline - 1, '\0'),
        std::string(CompactString::kInline, '\0'),
        std::string(1000, 'z') + std::string("\0", 1),
    };
    // Every length up to the heap, each byte telling its place.
    const std::string distinct = "0123456789abcdef\x80\xfe";
    for (std::size_t n = 0; n <= CompactString::kInline + 1; ++n) texts.push_back(distinct.substr(distinct.size() - n));
    for (const std::string& text : texts) {
        const CompactString original(text);
        EXPECT_EQ(std::string(original), text);
        EXPECT_EQ(original.size(), text.size());
        CompactString copy = original;
        CompactString moved = std::move(copy);
        EXPECT_EQ(std::string(moved), text);
        // What a move leaves is the empty text, as is a new string.
        EXPECT_EQ(copy, CompactString());
        EXPECT_EQ(copy <=> CompactString(""), std::strong_ordering::equal);
        CompactString assigned("some text long enough for the heap");
        assigned = moved;
        EXPECT_EQ(assigned.view(), text);
        assigned = CompactString("short");
        EXPECT_EQ(assigned.view(), "short");
        for (const std::string& other : texts) {
            EXPECT_EQ(original < CompactString(other), text < other) << text << " < " << other;
            EXPECT_EQ(original == CompactString(other), text == other) << text << " == " << other;
        }
    }
}

}  // namespace
