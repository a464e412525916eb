#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "convert_engine/json/open_stack.hpp"

namespace {

using convert_engine::notebook::detail::OpenStack;

constexpr std::size_t kFirst = OpenStack<std::string>::kFirstBlock;
constexpr std::size_t kBlock = OpenStack<std::string>::kBlock;

// An outer container with an inner one on top of it, sized around the
// block edges: the inner one comes off whole and in order, and the outer
// one, grown further afterwards, is intact below it.
TEST(OpenStack, TakesNestedRunsAcrossBlockEdges) {
    const std::size_t small[] = {0, 1, kFirst - 1, kFirst, kFirst + 1};
    std::vector<std::pair<std::size_t, std::size_t>> cases;
    for (const std::size_t outer : small)
        for (const std::size_t inner : small) cases.emplace_back(outer, inner);
    // Across the edge of a large block, from either side.
    cases.emplace_back(kFirst + kBlock - 2, 5);
    cases.emplace_back(3, kFirst + kBlock + 2);
    for (const auto& [outer, inner] : cases) {
        OpenStack<std::string> stack;
        std::vector<std::string> expected_outer;
        for (std::size_t i = 0; i < outer; ++i) {
            expected_outer.push_back("outer " + std::to_string(i));
            stack.push(std::string(expected_outer.back()));
        }
        const std::size_t mark = stack.size();
        std::vector<std::string> expected_inner;
        for (std::size_t i = 0; i < inner; ++i) {
            expected_inner.push_back("inner " + std::to_string(i));
            stack.push(std::string(expected_inner.back()));
        }
        std::vector<std::string> taken{"before"};
        stack.take(mark, taken);
        expected_inner.insert(expected_inner.begin(), "before");
        EXPECT_EQ(taken, expected_inner) << outer << " outer, " << inner << " inner";
        ASSERT_EQ(stack.size(), outer);

        for (std::size_t i = 0; i < kFirst + 2; ++i) {
            expected_outer.push_back("more " + std::to_string(i));
            stack.push(std::string(expected_outer.back()));
        }
        std::vector<std::string> all;
        stack.take(0, all);
        EXPECT_EQ(all, expected_outer) << outer << " outer, " << inner << " inner";
        EXPECT_EQ(stack.size(), 0U);
    }
}

}  // namespace
