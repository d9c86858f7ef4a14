// The depth-first queries beside get_all: count_all, include, split, and interrupts.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>

#include "algorithms/knuth_x/algos/depth_first/get_all.hpp"
#include "algorithms/knuth_x/algos/depth_first/split.hpp"
#include "algorithms/knuth_x/search/depth_first.hpp"
#include "brute_force.hpp"

using namespace xcover;
using xcover::testing::Blocks;
using xcover::testing::Covers;

namespace {

Covers all(const Blocks& blocks, const std::vector<std::uint64_t>& include = {}) {
    return get_all(BlockList::from(blocks), include).nested();
}

// get_all's covers that hold every block of `include`, in get_all's order.
Covers filtered(const Covers& covers, const std::vector<std::uint64_t>& include) {
    Covers kept;
    for (const auto& cover : covers) {
        const bool holds_all = std::all_of(include.begin(), include.end(), [&](std::uint64_t b) {
            return std::find(cover.begin(), cover.end(), b) != cover.end();
        });
        if (holds_all) kept.push_back(cover);
    }
    return kept;
}

// Blocks with more covers than random_blocks tends to give: pairs, singletons and triples
// over a small ground set.
Blocks dense_blocks(std::mt19937_64& rng, int elements) {
    Blocks blocks;
    for (int e = 0; e < elements; ++e) blocks.push_back({static_cast<std::uint64_t>(e)});
    const int extra = static_cast<int>(rng() % 12);
    for (int i = 0; i < extra; ++i) {
        std::vector<std::uint64_t> b;
        const int size = 2 + static_cast<int>(rng() % 2);
        for (int k = 0; k < size; ++k) b.push_back(rng() % elements);
        blocks.push_back(b);
    }
    std::shuffle(blocks.begin(), blocks.end(), rng);
    return blocks;
}

class StopAfter : public Interrupt {
public:
    explicit StopAfter(int calls) : left_(calls) {}
    bool requested() override { return --left_ < 0; }
    int left() const { return left_; }

private:
    int left_;
};

}  // namespace

TEST(CountAll, EqualsTheNumberOfCovers) {
    std::mt19937_64 rng(21);
    for (int round = 0; round < 1500; ++round) {
        const Blocks blocks = round % 2 ? xcover::testing::random_blocks(rng, 11, 6) : dense_blocks(rng, 7);
        ASSERT_EQ(count_all(BlockList::from(blocks)), all(blocks).size()) << round;
    }
}

TEST(Include, KeepsExactlyTheCoversHoldingTheBlocksInTheirOrder) {
    std::mt19937_64 rng(22);
    for (int round = 0; round < 1500; ++round) {
        const Blocks blocks = round % 2 ? xcover::testing::random_blocks(rng, 11, 6) : dense_blocks(rng, 7);
        const Covers every = all(blocks);
        std::vector<std::uint64_t> include;
        const int count = blocks.empty() ? 0 : static_cast<int>(rng() % 3);
        for (int i = 0; i < count; ++i) include.push_back(rng() % blocks.size());
        const Covers expected = filtered(every, include);
        ASSERT_EQ(all(blocks, include), expected) << round;
        ASSERT_EQ(count_all(BlockList::from(blocks), include), expected.size()) << round;
    }
}

TEST(Include, OverlappingOrEmptyBlocksAdmitNoCover) {
    const Blocks blocks = {{0, 1}, {1, 2}, {2}, {0}, {}, {1}};
    EXPECT_EQ(all(blocks, {0, 1}), Covers{});
    EXPECT_EQ(all(blocks, {4}), Covers{});
    EXPECT_EQ(all(blocks, {0, 0, 2}), (Covers{{0, 2}}));  // a repeated index is one requirement
    EXPECT_THROW(all(blocks, {6}), InternalFailure);
}

TEST(Split, ConcatenatedPartsGiveGetAll) {
    std::mt19937_64 rng(23);
    for (int round = 0; round < 600; ++round) {
        const Blocks blocks = round % 3 ? dense_blocks(rng, 8) : xcover::testing::random_blocks(rng, 11, 6);
        const BlockList list = BlockList::from(blocks);
        std::vector<std::uint64_t> include;
        if (round % 4 == 3 && !blocks.empty()) include.push_back(rng() % blocks.size());
        const Covers expected = all(blocks, include);
        for (std::uint64_t parts : {1u, 2u, 3u, 5u, 16u, 64u}) {
            const auto prefixes = split(list, parts, include);
            Covers joined;
            std::uint64_t counted = 0;
            for (const auto& prefix : prefixes) {
                for (std::uint64_t b : include)
                    ASSERT_NE(std::find(prefix.begin(), prefix.end(), b), prefix.end());
                const Covers part = all(blocks, prefix);
                joined.insert(joined.end(), part.begin(), part.end());
                counted += count_all(list, prefix);
            }
            ASSERT_EQ(joined, expected) << round << " parts " << parts;
            ASSERT_EQ(counted, expected.size());
            // Fewer parts than asked only when every part is a single cover.
            if (prefixes.size() < parts) {
                for (const auto& prefix : prefixes)
                    ASSERT_EQ(all(blocks, prefix).size(), 1u) << round << " parts " << parts;
            }
        }
    }
}

TEST(Split, LargeTreeGivesAtLeastTheParts) {
    // Langford pairs, n = 8: a tree with far more branches than asked for.
    const std::uint64_t n = 8;
    Blocks blocks;
    for (std::uint64_t k = 1; k <= n; ++k)
        for (std::uint64_t i = 0; i + k + 1 < 2 * n; ++i) blocks.push_back({k - 1, n + i, n + i + k + 1});
    const BlockList list = BlockList::from(blocks);
    const Covers expected = all(blocks);
    for (std::uint64_t parts : {2u, 7u, 40u, 300u}) {
        const auto prefixes = split(list, parts);
        EXPECT_GE(prefixes.size(), parts);
        Covers joined;
        for (const auto& prefix : prefixes) {
            const Covers part = all(blocks, prefix);
            joined.insert(joined.end(), part.begin(), part.end());
        }
        EXPECT_EQ(joined, expected);
    }
}

TEST(DepthFirstSearch, HandsOutCoversOneByOneAndAnInterruptStopsIt) {
    const Blocks blocks = {{0}, {1}, {0, 1}, {2}, {1, 2}};
    DepthFirstSearch search(BlockList::from(blocks));
    Covers seen;
    while (search.next()) seen.emplace_back(search.cover().begin(), search.cover().end());
    EXPECT_FALSE(search.next());
    EXPECT_EQ(seen, all(blocks));

    // Thirty independent pairs: 2^30 covers, far more than the interrupt lets through.
    Blocks pairs;
    for (std::uint64_t k = 0; k < 30; ++k) pairs.insert(pairs.end(), {{2 * k}, {2 * k + 1}, {2 * k, 2 * k + 1}});
    StopAfter stop(3);
    EXPECT_THROW(count_all(BlockList::from(pairs), {}, &stop), SearchInterrupted);
    EXPECT_EQ(stop.left(), -1);
    StopAfter never(1 << 30);
    EXPECT_EQ(count_all(BlockList::from(blocks), {}, &never), seen.size());
}
