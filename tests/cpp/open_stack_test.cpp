#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "convert_engine/json/open_stack.hpp"

namespace {

using convert_engine::json::CompactString;
using convert_engine::json::detail::OpenStack;

constexpr std::size_t kFirst = OpenStack<CompactString>::kFirstBlock;
constexpr std::size_t kFirstRoom = OpenStack<CompactString>::kFirstRoom;
constexpr std::size_t kBlock = OpenStack<CompactString>::kBlock;

// Every third item is too long to be held in place, so that items owning
// memory cross the blocks too (a leak or a double free shows under the
// sanitizers).
CompactString item(const char* what, std::size_t i) {
    std::string text = std::string(what) + " " + std::to_string(i);
    if (i % 3 == 0) text += " with a text held elsewhere";
    return CompactString(text);
}

// An outer container with an inner one on top of it, sized around the
// block edges and the first block's steps of growth: the inner one comes
// off whole and in order, and the outer one, grown further afterwards, is
// intact below it.
TEST(OpenStack, TakesNestedRunsAcrossBlockEdges) {
    const std::size_t small[] = {0, 1, kFirstRoom - 1, kFirstRoom, 2 * kFirstRoom + 1, kFirst - 1, kFirst, kFirst + 1};
    std::vector<std::pair<std::size_t, std::size_t>> cases;
    for (const std::size_t outer : small)
        for (const std::size_t inner : small) cases.emplace_back(outer, inner);
    // Across the edge of a large block, from either side.
    cases.emplace_back(kFirst + kBlock - 2, 5);
    cases.emplace_back(3, kFirst + kBlock + 2);
    for (const auto& [outer, inner] : cases) {
        OpenStack<CompactString> stack;
        std::vector<CompactString> expected_outer;
        for (std::size_t i = 0; i < outer; ++i) {
            expected_outer.push_back(item("outer", i));
            stack.push(CompactString(expected_outer.back()));
        }
        const std::size_t mark = stack.size();
        std::vector<CompactString> expected_inner;
        for (std::size_t i = 0; i < inner; ++i) {
            expected_inner.push_back(item("inner", i));
            stack.push(CompactString(expected_inner.back()));
        }
        std::vector<CompactString> taken{"before"};
        stack.take(mark, taken);
        expected_inner.insert(expected_inner.begin(), "before");
        EXPECT_EQ(taken, expected_inner) << outer << " outer, " << inner << " inner";
        ASSERT_EQ(stack.size(), outer);

        for (std::size_t i = 0; i < kFirst + 2; ++i) {
            expected_outer.push_back(item("more", i));
            stack.push(CompactString(expected_outer.back()));
        }
        std::vector<CompactString> all;
        stack.take(0, all);
        EXPECT_EQ(all, expected_outer) << outer << " outer, " << inner << " inner";
        EXPECT_EQ(stack.size(), 0U);
    }
}

// A read that fails leaves its open containers' items on the stack: they go
// with it, whichever block they are in.
TEST(OpenStack, FreesItemsLeftOnIt) {
    for (const std::size_t left : {std::size_t{1}, kFirst, kFirst + kBlock + 1}) {
        OpenStack<CompactString> stack;
        for (std::size_t i = 0; i < left; ++i) stack.push(item("left", i));
        EXPECT_EQ(stack.size(), left);
    }
}

// Stacks one after another, and two at once, on one thread: each has
// blocks of its own, whatever memory the heap hands it again.
TEST(OpenStack, StacksInTurnShareNoBlock) {
    for (int round = 0; round < 3; ++round) {
        OpenStack<CompactString> a;
        OpenStack<CompactString> b;
        for (std::size_t i = 0; i < kFirst + 1; ++i) {
            a.push(item("a", i));
            b.push(item("b", i));
        }
        std::vector<CompactString> from_a;
        std::vector<CompactString> from_b;
        a.take(0, from_a);
        b.take(0, from_b);
        for (std::size_t i = 0; i < kFirst + 1; ++i) {
            ASSERT_EQ(from_a[i], item("a", i)) << round;
            ASSERT_EQ(from_b[i], item("b", i)) << round;
        }
    }
}

}  // namespace
