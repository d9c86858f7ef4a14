// Enumeration of all exact covers.
#include <gtest/gtest.h>

#include "algorithms/knuth_x/algos/depth_first/get_all.hpp"
#include "brute_force.hpp"
#include "reference/stepwise.hpp"

using namespace xcover;
using xcover::testing::Blocks;
using xcover::testing::Covers;

namespace {
Covers all(const Blocks& blocks) { return get_all(BlockList::from(blocks)).nested(); }
Covers all_stepwise(const Blocks& blocks) {
    return reference::get_all_stepwise(BlockList::from(blocks)).nested();
}
}  // namespace

TEST(GetAll, DocumentedExamples) {
    const std::vector<std::pair<Blocks, Covers>> cases = {
        {{}, {{}}},
        {{{}}, {{}}},
        {{{}, {}}, {{}}},
        {{{5, 5, 5}}, {{0}}},
        {{{1}, {1}}, {{0}, {1}}},
        {{{0, 1}, {1, 2}}, {}},
        {{{0, 1}, {0}}, {{0}}},
        {{{0}, {1}, {0, 1}, {1, 0}}, {{0, 1}, {2}, {3}}},
        {{{0, 1}, {2}, {0}, {1, 2}, {1}}, {{0, 1}, {2, 1, 4}, {2, 3}}},
        {{{10}, {20}, {10, 20}, {30}, {20, 30}}, {{0, 3, 1}, {0, 4}, {2, 3}}},
    };
    for (const auto& [blocks, expected] : cases) {
        EXPECT_EQ(all(blocks), expected);
        EXPECT_EQ(all_stepwise(blocks), expected);
    }
}

TEST(GetAll, MatchesBruteForceAndTheStepMachine) {
    std::mt19937_64 rng(12345);
    for (int round = 0; round < 3000; ++round) {
        const Blocks blocks = xcover::testing::random_blocks(rng, 11, 6);
        const Covers fast = all(blocks);
        ASSERT_EQ(fast, all_stepwise(blocks)) << "round " << round;
        ASSERT_EQ(xcover::testing::sorted_covers(fast),
                  xcover::testing::sorted_covers(xcover::testing::brute_force_covers(blocks)))
            << "round " << round;
    }
}

TEST(GetAll, LangfordPairsCount) {
    // Langford pairs for n = 7: 26 solutions counting each mirror image.
    const std::uint64_t n = 7;
    Blocks blocks;
    for (std::uint64_t k = 1; k <= n; ++k)
        for (std::uint64_t i = 0; i + k + 1 < 2 * n; ++i)
            blocks.push_back({k - 1, n + i, n + i + k + 1});
    EXPECT_EQ(all(blocks).size(), 52u);
}
