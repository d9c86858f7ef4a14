// The seeded branch order of DepthFirstSearch: the covers of the plain search, each once, in
// an order fixed by the seed; include, subtrees and interrupts keep that order.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>

#include "algorithms/knuth_x/algos/depth_first/get_all.hpp"
#include "algorithms/knuth_x/search/depth_first.hpp"
#include "brute_force.hpp"
#include "reference/split_passes.hpp"

using namespace xcover;
using xcover::testing::Blocks;
using xcover::testing::Covers;
using xcover::testing::sorted_covers;

namespace {

Covers drain(DepthFirstSearch& search) {
    Covers covers;
    while (search.next()) covers.emplace_back(search.cover().begin(), search.cover().end());
    return covers;
}

Covers seeded(const Blocks& blocks, std::uint64_t seed, const std::vector<std::uint64_t>& include = {}) {
    DepthFirstSearch search(BlockList::from(blocks), include);
    search.order_branches(seed);
    return drain(search);
}

Blocks some_blocks(std::mt19937_64& rng, int round) {
    return round % 2 ? xcover::testing::random_blocks(rng, 11, 6)
                     : xcover::testing::dense_blocks(rng, 4 + static_cast<int>(rng() % 8), 6);
}

Blocks langford(std::uint64_t n) {
    Blocks blocks;
    for (std::uint64_t k = 1; k <= n; ++k)
        for (std::uint64_t i = 0; i + k + 1 < 2 * n; ++i) blocks.push_back({k - 1, n + i, n + i + k + 1});
    return blocks;
}

class StopEvery : public Interrupt {
public:
    explicit StopEvery(int calls) : calls_(calls), left_(calls) {}
    bool requested() override {
        if (--left_ >= 0) return false;
        left_ = calls_;
        ++stops_;
        return true;
    }
    int stops() const { return stops_; }

private:
    int calls_, left_, stops_ = 0;
};

}  // namespace

TEST(SeededOrder, SameCoversEachOnce) {
    std::mt19937_64 rng(31);
    for (int round = 0; round < 1200; ++round) {
        const Blocks blocks = some_blocks(rng, round);
        const Covers plain = get_all(BlockList::from(blocks)).nested();
        const Covers shuffled = seeded(blocks, rng());
        ASSERT_EQ(shuffled.size(), plain.size()) << round;
        ASSERT_EQ(sorted_covers(shuffled), sorted_covers(plain)) << round;
    }
}

TEST(SeededOrder, TheSeedFixesTheOrder) {
    const Blocks blocks = langford(8);
    const Covers plain = get_all(BlockList::from(blocks)).nested();
    std::set<std::vector<std::uint64_t>> firsts;
    for (std::uint64_t seed : {0ull, 1ull, 2ull, 77ull, ~0ull}) {
        const Covers once = seeded(blocks, seed);
        EXPECT_EQ(once, seeded(blocks, seed));
        EXPECT_NE(once, plain);
        firsts.insert(once.front());
        // Seeding again goes back to the root and gives the order afresh.
        DepthFirstSearch search(BlockList::from(blocks));
        search.order_branches(seed + 1);
        ASSERT_TRUE(search.next());
        search.order_branches(seed);
        EXPECT_EQ(drain(search), once);
    }
    EXPECT_GT(firsts.size(), 1u);
}

TEST(SeededOrder, IncludeKeepsTheOrderOfTheCoversItKeeps) {
    std::mt19937_64 rng(32);
    for (int round = 0; round < 1200; ++round) {
        const Blocks blocks = some_blocks(rng, round);
        if (blocks.empty()) continue;
        std::vector<std::uint64_t> include;
        for (int i = 1 + static_cast<int>(rng() % 2); i > 0; --i) include.push_back(rng() % blocks.size());
        const std::uint64_t seed = rng();
        Covers expected;
        for (const auto& cover : seeded(blocks, seed))
            if (std::all_of(include.begin(), include.end(), [&](std::uint64_t b) {
                    return std::find(cover.begin(), cover.end(), b) != cover.end();
                }))
                expected.push_back(cover);
        ASSERT_EQ(seeded(blocks, seed, include), expected) << round;
    }
}

TEST(SeededOrder, SubtreesInOrderGiveTheWholeSearch) {
    std::mt19937_64 rng(33);
    for (int round = 0; round < 400; ++round) {
        const Blocks blocks = round % 20 == 0 ? langford(7) : some_blocks(rng, round);
        const BlockList list = BlockList::from(blocks);
        const std::uint64_t seed = rng();
        DepthFirstSearch search(list);
        search.order_branches(seed);
        Covers joined;
        for (const auto& path : reference::split_passes(search, 1 + rng() % 9, {}, false)) {
            search.start_at(path);
            const Covers part = drain(search);
            joined.insert(joined.end(), part.begin(), part.end());
        }
        ASSERT_EQ(joined, seeded(blocks, seed)) << round;
    }
}

TEST(SeededOrder, AnInterruptedSearchResumesInOrder) {
    const Blocks blocks = langford(11);  // a tree large enough for many polls
    const Covers expected = seeded(blocks, 5);
    DepthFirstSearch search(BlockList::from(blocks));
    search.order_branches(5);
    StopEvery stop(2);
    search.set_interrupt(&stop);
    Covers resumed;
    for (;;) {
        try {
            if (!search.next()) break;
            resumed.emplace_back(search.cover().begin(), search.cover().end());
        } catch (const SearchInterrupted&) {
        }
    }
    EXPECT_GT(stop.stops(), 10);
    EXPECT_EQ(resumed, expected);
}
