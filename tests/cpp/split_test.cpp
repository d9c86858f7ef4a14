// split against its reference model (tests/reference/split_passes.hpp: the passes with every
// path replayed from the root), prefix for prefix, on random inputs and on trees with long
// forced chains: the passes alone, the level-counting walks alone, and the two racing from the
// first step; and its interruption.
#include <gtest/gtest.h>

#include <random>

#include "algorithms/knuth_x/algos/depth_first/get_all.hpp"
#include "algorithms/knuth_x/algos/depth_first/split.hpp"
#include "algorithms/knuth_x/algos/depth_first/split_levels.hpp"
#include "algorithms/knuth_x/pool/thread_pool.hpp"
#include "algorithms/knuth_x/algos/depth_first/cover_stream.hpp"
#include "brute_force.hpp"
#include "reference/split_passes.hpp"

using namespace xcover;
using xcover::testing::Blocks;

namespace {

constexpr std::uint64_t kParts[] = {0, 1, 2, 3, 4, 5, 7, 16, 64, 1000, UINT64_MAX};

void expect_same_split(const Blocks& blocks, const std::vector<std::uint64_t>& include, int round) {
    const BlockList list = BlockList::from(blocks);
    for (std::uint64_t parts : kParts) {
        const auto expected = reference::split_passes(list, parts, include);
        ASSERT_EQ(split(list, parts, include), expected) << "round " << round << " parts " << parts;
        ASSERT_EQ(split_racing(list, parts, include, nullptr, UINT64_MAX), expected)
            << "passes alone, round " << round << " parts " << parts;
        ASSERT_EQ(split_by_levels(list, parts, include), expected)
            << "walks alone, round " << round << " parts " << parts;
        ASSERT_EQ(split_racing(list, parts, include, nullptr, 0), expected)
            << "racing, round " << round << " parts " << parts;
        for (std::size_t max_open : {1, 3}) {  // the passes give up on wide levels
            ASSERT_EQ(split_racing(list, parts, include, nullptr, UINT64_MAX, max_open), expected)
                << "passes holding at most " << max_open << ", round " << round << " parts " << parts;
        }
        ASSERT_EQ(split_paths(list, parts, include), reference::split_passes(list, parts, include, false))
            << "bare paths, round " << round << " parts " << parts;
    }
}

// Elements in one or two blocks each, so that many levels of the tree have a single child.
Blocks sparse_blocks(std::mt19937_64& rng, int elements) {
    Blocks blocks;
    for (int e = 0; e < elements; ++e) {
        blocks.push_back({static_cast<std::uint64_t>(e)});
        if (rng() % 3 == 0) blocks.back().push_back(rng() % elements);
    }
    std::shuffle(blocks.begin(), blocks.end(), rng);
    return blocks;
}

// After the first choice (block 0 or block 1, on element 0), a forced chain of `left` or
// `right` levels, then a branching subtree of about `right` (or `left`) covers.
Blocks two_chains(std::uint64_t left, std::uint64_t right) {
    const std::uint64_t u = 1, v = 2;  // covered by the first and the second choice
    Blocks blocks = {{0, u}, {0, v}};
    for (std::uint64_t i = 0; i < left; ++i) blocks.push_back({100 + i}), blocks.push_back({100 + i, u});
    for (std::uint64_t i = 0; i < right; ++i) blocks.push_back({10000 + i}), blocks.push_back({10000 + i, v});
    return blocks;
}

// `length` levels with one candidate each (block i holds elements i and i + 1 of a path whose
// every element but the last is in one block), then `width` choices of one block each.
Blocks forced_then_branch(std::uint64_t length, std::uint64_t width) {
    Blocks blocks;
    for (std::uint64_t i = 0; i < length; ++i) blocks.push_back({2 * i, 2 * i + 1});
    for (std::uint64_t k = 0; k < width; ++k) blocks.push_back({1u << 30});
    return blocks;
}

class StopAfter final : public Interrupt {
public:
    explicit StopAfter(int calls) : left_(calls) {}
    bool requested() override { return --left_ < 0; }

private:
    int left_;
};

}  // namespace

TEST(SplitDifferential, RandomBlocksWithAndWithoutInclude) {
    std::mt19937_64 rng(31);
    for (int round = 0; round < 1500; ++round) {
        const Blocks blocks = round % 2 ? xcover::testing::random_blocks(rng, 11, 6) : sparse_blocks(rng, 3 + round % 9);
        std::vector<std::uint64_t> include;
        if (round % 3 == 0 && !blocks.empty())
            for (std::uint64_t i = 0; i < 1 + rng() % 2; ++i) include.push_back(rng() % blocks.size());
        expect_same_split(blocks, include, round);
    }
}

TEST(SplitDifferential, ChainsOfDifferentLengthsSideBySide) {
    int round = 0;
    for (std::uint64_t left : {0u, 1u, 2u, 5u, 13u, 40u})
        for (std::uint64_t right : {0u, 1u, 3u, 8u, 41u}) {
            expect_same_split(two_chains(left, right), {}, round);
            expect_same_split(two_chains(left, right), {0}, round++);
        }
}

TEST(SplitDifferential, ALongForcedChainBeforeTheFirstBranch) {
    for (std::uint64_t length : {1u, 2u, 3u, 64u, 300u})
        for (std::uint64_t width : {1u, 2u, 5u}) expect_same_split(forced_then_branch(length, width), {}, 0);
}

TEST(Split, FortyThousandForcedLevelsAreWalkedOnce) {
    // Replaying every level from the root would take 8 * 10^8 steps.
    const std::uint64_t length = 40000;
    const BlockList list = BlockList::from(forced_then_branch(length, 3));
    const auto prefixes = split(list, 2);
    ASSERT_EQ(prefixes.size(), 3u);
    for (std::uint64_t k = 0; k < 3; ++k) {
        ASSERT_EQ(prefixes[k].size(), length + 1);
        EXPECT_EQ(prefixes[k].back(), length + k);
    }
    StopAfter stop(2);
    EXPECT_THROW(split(list, 2, {}, &stop), SearchInterrupted);
}

TEST(Split, CoverStreamWithIncludeCutsALongForcedChainOnce) {
    // The stream cuts the tree of the restricted search: a chain of 40000 forced levels is
    // walked once, not replayed from the root per level, and the covers are get_all's.
    const std::uint64_t length = 40000;
    const BlockList list = BlockList::from(forced_then_branch(length, 3));
    const std::vector<std::uint64_t> include = {length / 2, length + 1};
    const auto paths = split_paths(list, 2, include);
    ASSERT_EQ(paths.size(), 1u);  // the other two branches meet an included block
    EXPECT_EQ(paths[0].size(), length + 1);
    ThreadPool pool(2);
    const auto stream_owner = CoverStream::listing(list, include, pool, CoverStream::bounded(2));
    CoverStream& stream = *stream_owner;
    CoverList covers;
    while (stream.next_batch(covers, UINT64_MAX, UINT64_MAX, nullptr)) {
    }
    EXPECT_EQ(covers.nested(), get_all(list, include).nested());
    EXPECT_EQ(covers.size(), 1u);
}

TEST(SplitDifferential, LargerTreesWhereTheRaceDecides) {
    // Trees of thousands of positions: with the walk racing from the start, either side may
    // end first depending on `parts`.
    std::mt19937_64 rng(32);
    for (int round = 0; round < 40; ++round) {
        Blocks blocks = sparse_blocks(rng, 14 + round % 6);
        for (int i = 0; i < 6; ++i) blocks.push_back({rng() % 14, rng() % 14});
        expect_same_split(blocks, {}, round);
    }
    Blocks langford;  // n = 7: 52 covers
    for (std::uint64_t k = 1; k <= 7; ++k)
        for (std::uint64_t i = 0; i + k + 1 < 14; ++i) langford.push_back({k - 1, 7 + i, 7 + i + k + 1});
    expect_same_split(langford, {}, 0);
    expect_same_split(langford, {3}, 1);
}

TEST(Split, HugePartsGiveEveryCoverAndStopWhenAsked) {
    Blocks pairs;  // 2^k covers
    for (std::uint64_t k = 0; k < 12; ++k) pairs.insert(pairs.end(), {{2 * k}, {2 * k + 1}, {2 * k, 2 * k + 1}});
    const BlockList list = BlockList::from(pairs);
    EXPECT_EQ(split(list, UINT64_MAX), get_all(list).nested());
    for (std::uint64_t k = 12; k < 30; ++k) pairs.insert(pairs.end(), {{2 * k}, {2 * k + 1}, {2 * k, 2 * k + 1}});
    StopAfter stop(3);
    EXPECT_THROW(split(BlockList::from(pairs), UINT64_MAX, {}, &stop), SearchInterrupted);
    StopAfter walks(3);
    EXPECT_THROW(split_by_levels(BlockList::from(pairs), UINT64_MAX, {}, &walks), SearchInterrupted);
}
