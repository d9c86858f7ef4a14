// get_topn, get_top and get_topp without caps run the ordered search with a cutoff; they must
// report the covers of the reference search (every child scored from scratch by the literal
// estimator, no cutoff), in its order, with one thread and with helpers.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <numeric>
#include <optional>
#include <random>
#include <set>

#include "algorithms/knuth_x/algos/average/cost_cutoff.hpp"
#include "algorithms/knuth_x/algos/average/get_top.hpp"
#include "algorithms/knuth_x/algos/average/get_topp.hpp"
#include "algorithms/knuth_x/algos/average/top_stream.hpp"
#include "algorithms/knuth_x/algos/candidate_replay.hpp"
#include "algorithms/knuth_x/algos/candidates.hpp"
#include "algorithms/knuth_x/pool/thread_pool.hpp"
#include "path_numbers.hpp"
#include "reference/avg_est_literal.hpp"

using namespace xcover;
using xcover::reference::LiteralAvgScorer;

namespace {

using Blocks = std::vector<std::vector<std::uint64_t>>;

// Every cover of the reference search, in order.
CoverList reference_covers(const BlockList& blocks, const std::vector<double>& weights) {
    OrderedSearch<LiteralAvgScorer> search(blocks, SearchCaps{}, nullptr, [&](const ElementIndex&) {
        return LiteralAvgScorer(blocks, weights);
    });
    return search.take_complete(UINT64_MAX);
}

CoverList prefix(const CoverList& covers, std::uint64_t n) {
    CoverList first;
    for (std::uint64_t i = 0; i < std::min(n, covers.size()); ++i) first.push_list(covers[i]);
    return first;
}

bool same(const CoverList& a, const CoverList& b) { return a.nested() == b.nested(); }

// Strips of a board: every block of 1 to 3 consecutive cells of a row or a column of a w x h
// board, weights from a few values (so that covers tie) or from a continuous draw.
void board(std::mt19937_64& rng, int w, int h, bool ties, Blocks& blocks, std::vector<double>& weights) {
    const double few[] = {0.0, 1.0, 2.0, 3.0, 5.0};
    std::uniform_real_distribution<double> any(0.05, 3.0);
    for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c)
            for (int len = 1; len <= 3; ++len)
                for (int vertical = 0; vertical < (len == 1 ? 1 : 2); ++vertical) {
                    std::vector<std::uint64_t> block;
                    for (int i = 0; i < len; ++i) {
                        const int rr = vertical ? r + i : r, cc = vertical ? c : c + i;
                        if (rr < h && cc < w) block.push_back(static_cast<std::uint64_t>(rr * w + cc));
                    }
                    if (static_cast<int>(block.size()) != len) continue;
                    blocks.push_back(block);
                    weights.push_back(ties ? few[rng() % 5] : any(rng));
                }
}

// Tiles of a board without singletons: dominoes, straight trominoes and the L-trominoes of
// every 2 x 2 square. An L whose corner cell is a board's corner walls it off, and a
// placement can leave a cell with one tile: blocks for the reduction to remove and to force.
void tiles(std::mt19937_64& rng, int w, int h, bool ties, Blocks& blocks, std::vector<double>& weights) {
    const double few[] = {0.0, 1.0, 2.0, 3.0, 5.0};
    std::uniform_real_distribution<double> any(0.05, 3.0);
    auto add = [&](std::initializer_list<std::pair<int, int>> cells) {
        std::vector<std::uint64_t> block;
        for (auto [r, c] : cells) {
            if (r >= h || c >= w) return;
            block.push_back(static_cast<std::uint64_t>(r * w + c));
        }
        blocks.push_back(block);
        weights.push_back(ties ? few[rng() % 5] : any(rng));
    };
    for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c) {
            add({{r, c}, {r, c + 1}});
            add({{r, c}, {r + 1, c}});
            add({{r, c}, {r, c + 1}, {r, c + 2}});
            add({{r, c}, {r + 1, c}, {r + 2, c}});
            add({{r, c}, {r, c + 1}, {r + 1, c}});
            add({{r, c}, {r, c + 1}, {r + 1, c + 1}});
            add({{r, c}, {r + 1, c}, {r + 1, c + 1}});
            add({{r, c + 1}, {r + 1, c}, {r + 1, c + 1}});
        }
}

// The blocks relabeled by hand, element v as column v + 1.
BlockList relabeled_from(const Blocks& blocks) {
    BlockList relabeled;
    for (const auto& b : blocks) {
        for (std::uint64_t v : b) relabeled.push_item(v + 1);
        relabeled.close_list();
    }
    return relabeled;
}

// A board of strips with every cover of the reference search, in order.
struct RankedBoard {
    BlockList list;
    std::vector<double> weights;
    CoverList all;
};
RankedBoard ranked_board(std::mt19937_64& rng, int w, int h, bool ties) {
    Blocks blocks;
    RankedBoard made;
    board(rng, w, h, ties, blocks, made.weights);
    made.list = BlockList::from(blocks);
    made.all = reference_covers(made.list, made.weights);
    return made;
}

}  // namespace

TEST(TopnCutoff, SameCoversAsTheReferenceSearch) {
    std::mt19937_64 rng(2024);
    ThreadPool two(2);
    for (int round = 0; round < 12; ++round) {
        const RankedBoard b = ranked_board(rng, 3 + round % 2, 3, round % 3 != 0);
        const BlockList& list = b.list;
        const std::vector<double>& weights = b.weights;
        const CoverList& all = b.all;
        ASSERT_GT(all.size(), 100u);
        for (ThreadPool* pool : {static_cast<ThreadPool*>(nullptr), &two}) {
            for (std::uint64_t n : {1, 2, 7, 40, 1000000}) {
                EXPECT_TRUE(same(get_topn(list, weights, n, {}, nullptr, pool), prefix(all, n)))
                    << "round " << round << " n " << n;
            }
            EXPECT_TRUE(same(get_top(list, weights, {}, nullptr, pool), all)) << "round " << round;
            EXPECT_TRUE(same(get_topp(list, weights, 0.0, {}, nullptr, pool), all)) << "round " << round;
        }
    }
}

TEST(TopnCutoff, ManyCoversFromCappedRounds) {
    // Above a hundred covers or so the branch and bound runs rounds for fewer covers first,
    // each capping the next; caps that fall short are raised. The covers must not change.
    std::mt19937_64 rng(4242);
    ThreadPool two(2);
    for (int round = 0; round < 4; ++round) {
        const RankedBoard b = ranked_board(rng, 4, 4, round % 2 == 0);
        ASSERT_GT(b.all.size(), 3000u);
        for (ThreadPool* pool : {static_cast<ThreadPool*>(nullptr), &two})
            for (std::uint64_t n : {129, 300, 1000, 2500})
                EXPECT_TRUE(same(get_topn(b.list, b.weights, n, {}, nullptr, pool), prefix(b.all, n)))
                    << "round " << round << " n " << n << (pool ? " two threads" : "");
    }
}

TEST(TopnCutoff, KnownCostsOfEarlierSearchesOnlyChangeTheTime) {
    // A stream's rounds pass the costs they saw to the next round's search, which caps itself
    // from them. Costs that predict a cap far too low (raised again and again), far too high,
    // or falling (no cap), as well as the true ones, must leave the covers as they are.
    std::mt19937_64 rng(99);
    ThreadPool two(2);
    for (int round = 0; round < 2; ++round) {
        const RankedBoard b = ranked_board(rng, 4, 4, round == 1);
        ASSERT_GT(b.all.size(), 3000u);
        const std::vector<double> sums = [&] {
            std::vector<double> out;
            for (std::uint64_t i = 0; i < 300; ++i) {
                double sum = -0.0;
                for (std::uint64_t block : b.all[i]) sum += b.weights[block];
                out.push_back(sum);
            }
            return out;
        }();
        const std::vector<std::vector<CostAt>> knowns = {
            {{1, sums[0]}, {4, sums[3]}, {16, sums[15]}},           // the true costs
            {{1, sums[0] - 50.0}, {2, sums[0] - 49.999}},          // a cap far below
            {{1, sums[0]}, {3, sums[0] + 1e6}},                    // a cap far above
            {{2, sums[5]}, {5, sums[1]}},                          // falling costs
            {{5, sums[4]}, {5, sums[4]}, {0, 0.0}, {400, 1.0}},    // repeated, empty, beyond n
        };
        for (ThreadPool* pool : {static_cast<ThreadPool*>(nullptr), &two})
            for (std::uint64_t n : {20, 64, 300})
                for (const std::vector<CostAt>& known : knowns) {
                    const auto candidates = cutoff_candidates(b.list, b.weights, n, nullptr, pool, known);
                    ASSERT_NE(candidates, nullptr);
                    EXPECT_TRUE(same(*replay_cutoff_search(b.list, b.weights, candidates, n, nullptr), prefix(b.all, n)))
                        << "round " << round << " n " << n << " known from " << known.front().m
                        << (pool ? " two threads" : "");
                }
    }
}

TEST(TopnCutoff, ReplayScoresLoneChildrenEitherWay) {
    // A lone child is scored as the tree grows (small matrices) or by the replay, only when
    // other entries are pending (large ones): both replays are the reference search.
    std::mt19937_64 rng(31);
    for (int round = 0; round < 6; ++round) {
        const RankedBoard b = ranked_board(rng, 3 + round % 2, 3, round % 2 == 0);
        const BlockList& list = b.list;
        const std::vector<double>& weights = b.weights;
        const CoverList& all = b.all;
        const auto candidates = cutoff_candidates(list, weights, UINT64_MAX);
        ASSERT_NE(candidates, nullptr);
        const ElementIndex index = build_element_index(list);
        const BlockList relabeled = relabel_all(index, list);
        for (std::uint64_t eager_columns : {std::uint64_t{0}, kEagerLoneColumns}) {
            CutoffAvgScorer scorer(AvgScorer(list, weights, index), candidates);
            auto tree = CandidateTree::build(scorer, index, relabeled, nullptr, eager_columns);
            ASSERT_TRUE(tree.has_value());
            EXPECT_TRUE(same(tree->first_covers(scorer, relabeled, UINT64_MAX, nullptr), all))
                << "round " << round << " eager up to " << eager_columns << " columns";
        }
    }
}

// Every score of a stream by its bits, with its cover; `every`: stop at every `every`-th poll.
std::vector<std::pair<std::uint64_t, std::vector<std::uint64_t>>> stream_pairs(TopStream& stream, int every) {
    struct EveryNth final : Interrupt {
        int every, calls = 0;
        explicit EveryNth(int e) : every(e) {}
        bool requested() override { return every > 0 && ++calls % every == 0; }
    } interrupt(every);
    std::vector<std::pair<std::uint64_t, std::vector<std::uint64_t>>> pairs;
    for (;;) {
        try {
            auto cover = stream.next(&interrupt);
            if (!cover) return pairs;
            pairs.emplace_back(std::bit_cast<std::uint64_t>(cover->score), cover->blocks);
        } catch (const SearchInterrupted&) {
        }
    }
}

TEST(TopnCutoff, StreamInRoundsIsThePlainStream) {
    // Without caps the stream runs rounds of searches with a cutoff; it must give the pairs of
    // the plain stream, and still end when stopped often (its rounds then give way).
    std::mt19937_64 rng(77);
    ThreadPool two(2);
    for (int round = 0; round < 6; ++round) {
        Blocks blocks;
        std::vector<double> weights;
        board(rng, 3 + round % 2, 3, round % 2 == 0, blocks, weights);
        const BlockList list = BlockList::from(blocks);
        for (ThreadPool* pool : {static_cast<ThreadPool*>(nullptr), &two}) {
            TopStream plain(list, weights, {}, SearchCaps{UINT64_MAX, std::nullopt}, nullptr, pool);
            const auto expected = stream_pairs(plain, 0);
            ASSERT_GT(expected.size(), 100u);
            for (int every : {0, 3, 1000}) {
                TopStream rounds(list, weights, {}, SearchCaps{}, nullptr, pool);
                EXPECT_TRUE(rounds.in_rounds());
                EXPECT_EQ(stream_pairs(rounds, every), expected) << "round " << round << " every " << every;
                EXPECT_EQ(rounds.end(), StreamEnd::Exhausted);
            }
        }
    }
}

TEST(TopnCutoff, AppliesOnlyWhereTheBoundHolds) {
    const BlockList blocks = BlockList::from({{0, 1}, {0}, {1}});
    EXPECT_TRUE(cutoff_applies(blocks, {1.0, -2.0, 0.0}));
    EXPECT_TRUE(cutoff_applies(blocks, {1.0, 1.0, 1.0, 9.0}));  // extra weights are ignored
    EXPECT_FALSE(cutoff_applies(blocks, {1.0, 1.0}));           // a block beyond the weights
    EXPECT_FALSE(cutoff_applies(blocks, {1.0, std::nan(""), 1.0}));
    EXPECT_FALSE(cutoff_applies(blocks, {1.0, INFINITY, 1.0}));
    EXPECT_FALSE(cutoff_applies(blocks, {1.0, 1e300, 1.0}));    // sums could overflow
    const BlockList repeated = BlockList::from({{0, 0}, {0}});
    EXPECT_TRUE(cutoff_applies(repeated, {2.0, 1.0}));
    EXPECT_FALSE(cutoff_applies(repeated, {-2.0, 1.0}));        // the averaging bound fails
}

TEST(TopnCutoff, NetCostsSplitEveryCoverCost) {
    std::mt19937_64 rng(7);
    Blocks blocks;
    std::vector<double> weights;
    board(rng, 4, 3, false, blocks, weights);
    const BlockList list = BlockList::from(blocks);
    const NetCosts costs = net_costs(relabeled_from(blocks), 12, weights, nullptr);
    for (double net : costs.net) EXPECT_GE(net, -costs.margin);
    for (const auto& cover : reference_covers(list, weights).nested()) {
        double cost = -0.0, split = costs.total_price;
        for (std::uint64_t b : cover) {
            cost += weights[b];
            split += costs.net[b];
        }
        EXPECT_NEAR(cost, split, costs.margin);
    }
}

TEST(TopnCutoff, ReductionRemovesOnlyBlocksNoCoverHolds) {
    // Boards of tiles: the forced blocks are in every cover, no other removed block is in any,
    // what is left is closed under both rules, the net costs of the blocks left still split
    // every cover's cost, and the cheapest covers are the reference search's.
    std::mt19937_64 rng(5);
    ThreadPool two(2);
    std::uint64_t removed_in_all = 0, forced_in_all = 0;
    for (int round = 0; round < 8; ++round) {
        const int w = 3 + round % 2, h = 3 + round / 4;
        Blocks blocks;
        std::vector<double> weights;
        tiles(rng, w, h, round % 2 == 0, blocks, weights);
        // On odd rounds a cell of the first tile's only: that tile is forced. On the last two,
        // 260 elements of a singleton each: above 256 columns blocks are compared entry by entry.
        if (round % 2 == 1) blocks[0].push_back(static_cast<std::uint64_t>(w * h));
        const std::uint64_t padding = round >= 6 ? 260 : 0;
        for (std::uint64_t e = 0; e < padding; ++e) {
            blocks.push_back({static_cast<std::uint64_t>(w * h + round % 2) + e});
            weights.push_back(1.0);
        }
        const BlockList list = BlockList::from(blocks);
        const CoverList all = reference_covers(list, weights);
        const auto columns = static_cast<std::uint64_t>(w * h + round % 2) + padding;
        const BlockList relabeled = relabeled_from(blocks);
        const NetCosts costs = net_costs(relabeled, columns, weights, nullptr);
        const Reduction& r = costs.reduction;
        ASSERT_EQ(r.infeasible, all.size() == 0) << "round " << round;
        std::vector<char> in_a_cover(blocks.size(), 0);
        for (const auto& cover : all.nested()) {
            double cost = -0.0, split = costs.total_price;
            for (std::uint64_t b : cover) {
                in_a_cover[b] = 1;
                cost += weights[b];
                split += costs.net[b];
            }
            EXPECT_NEAR(cost, split, costs.margin) << "round " << round;
            for (std::uint64_t f : r.forced) EXPECT_TRUE(std::ranges::count(cover, f)) << "round " << round;
        }
        std::vector<char> forced(blocks.size(), 0);
        for (std::uint64_t f : r.forced) forced[f] = 1;
        for (std::uint64_t b = 0; b < blocks.size(); ++b) {
            if (r.removed[b]) {
                if (!forced[b]) {
                    EXPECT_FALSE(in_a_cover[b]) << "round " << round << " block " << b;
                }
            } else {
                EXPECT_GE(costs.net[b], -costs.margin) << "round " << round << " block " << b;
            }
        }
        // Closed: every column left has two blocks or more, and none of them empties another.
        auto meets = [&](std::uint64_t a, std::uint64_t b) {
            return std::ranges::any_of(relabeled[a], [&](std::uint64_t c) { return std::ranges::count(relabeled[b], c) > 0; });
        };
        for (std::uint64_t c = 1; c <= columns; ++c) {
            if (r.covered[c]) continue;
            std::vector<std::uint64_t> holders;
            for (std::uint64_t b = 0; b < blocks.size(); ++b)
                if (!r.removed[b] && std::ranges::count(relabeled[b], c)) holders.push_back(b);
            EXPECT_GE(holders.size(), 2u) << "round " << round << " column " << c;
            for (std::uint64_t b = 0; b < blocks.size(); ++b) {
                if (r.removed[b] || std::ranges::count(relabeled[b], c)) continue;
                EXPECT_FALSE(std::ranges::all_of(holders, [&](std::uint64_t h2) { return meets(b, h2); }))
                    << "round " << round << " block " << b << " empties column " << c;
            }
        }
        removed_in_all += static_cast<std::uint64_t>(std::ranges::count(r.removed, 1)) - r.forced.size();
        forced_in_all += r.forced.size();
        for (ThreadPool* pool : {static_cast<ThreadPool*>(nullptr), &two})
            for (std::uint64_t n : {1, 5, 50, 1000000})
                EXPECT_TRUE(same(get_topn(list, weights, n, {}, nullptr, pool), prefix(all, n)))
                    << "round " << round << " n " << n << (pool ? " two threads" : "");
    }
    EXPECT_GT(removed_in_all, 0u);  // the boards exercise both rules
    EXPECT_GT(forced_in_all, 0u);
    // Each block empties the third column: nothing is left, and there is no cover.
    const NetCosts none = net_costs(BlockList::from({{1, 2}, {2, 3}, {1, 3}}), 3, {1.0, 1.0, 1.0}, nullptr);
    EXPECT_TRUE(none.reduction.infeasible);
    EXPECT_EQ(get_topn(BlockList::from({{1, 2}, {2, 3}, {1, 3}}), {1.0, 1.0, 1.0}, 3, {}, nullptr, nullptr).size(), 0u);
}

TEST(TopnCutoff, CandidateFilterAnswersAsTheCandidatesDo) {
    // A child passes when some candidate holds its block and every block of its parent. Paths
    // numbered as a search numbers them (shared prefixes kept, jumps between subtrees) and
    // paths without numbers, each asked about a few children (looked up) or every block
    // (marked), against the candidates themselves.
    std::mt19937_64 rng(17);
    constexpr std::uint64_t kBlocks = 40;
    CoverList covers;
    std::vector<std::set<std::uint64_t>> sets;
    for (int i = 0; i < 60; ++i) {
        std::set<std::uint64_t> cover;
        const std::uint64_t size = i == 0 ? kBlocks - 2 : 1 + rng() % 6;  // one candidate holds nearly all
        while (cover.size() < size) cover.insert(rng() % kBlocks);
        std::vector<std::uint64_t> blocks(cover.begin(), cover.end());
        std::shuffle(blocks.begin(), blocks.end(), rng);
        covers.push_list(blocks);
        sets.push_back(cover);
    }
    const CoverCandidates candidates(covers, kBlocks);
    xcover::testing::PathNumbers numbers;
    HeldCounts held;
    std::vector<std::uint64_t> path;
    for (int step = 0; step < 3000; ++step) {
        // Down from a candidate's blocks, up a few levels, or a jump to another candidate's path.
        const std::uint64_t r = rng() % 10;
        if (r < 5 || path.empty()) {
            const auto& cover = sets[rng() % sets.size()];
            std::vector<std::uint64_t> next;
            for (std::uint64_t b : cover)
                if (std::ranges::count(path, b) == 0) next.push_back(b);
            if (!next.empty() && std::ranges::all_of(path, [&](std::uint64_t b) { return cover.count(b) > 0; }))
                path.push_back(next[rng() % next.size()]);
            else if (r == 0)
                path.clear();
        } else if (r < 8) {
            path.resize(path.size() - std::min<std::size_t>(path.size(), 1 + rng() % 2));
        } else {
            const auto& cover = covers[rng() % covers.size()];
            path.assign(cover.begin(), cover.begin() + static_cast<std::ptrdiff_t>(rng() % (cover.size() + 1)));
        }
        const bool numbered = rng() % 5 != 0;
        const std::vector<std::uint32_t> ids = numbered ? numbers.ids_of(path) : std::vector<std::uint32_t>{};
        std::vector<std::uint64_t> asked(kBlocks);
        std::iota(asked.begin(), asked.end(), 0);
        std::shuffle(asked.begin(), asked.end(), rng);
        asked.resize(rng() % 2 ? 3 : kBlocks);
        for (std::uint64_t block : asked) {
            const bool expected = std::ranges::any_of(sets, [&](const std::set<std::uint64_t>& cover) {
                return cover.count(block) && std::ranges::all_of(path, [&](std::uint64_t b) { return cover.count(b) > 0; });
            });
            ASSERT_EQ(held.extended(candidates, ChildContext{path, block, 0.0, ids}), expected)
                << "step " << step << ", a path of " << path.size() << (numbered ? " numbered" : "") << ", block "
                << block;
        }
    }
}

// The branch and bound cut into pieces for helpers: every cover it keeps within the final
// cutoff is one the one-thread run keeps (the same set, whatever the order the pieces ran
// in), and a run that keeps too many gives up on every thread setting, without waiting for
// pieces nobody took.
TEST(TopnCutoff, PiecesOnHelpersKeepTheSameCandidates) {
    std::mt19937_64 rng(11);
    Blocks blocks;
    std::vector<double> weights;
    board(rng, 5, 4, true, blocks, weights);
    const BlockList relabeled = relabeled_from(blocks);
    const NetCosts costs = net_costs(relabeled, 20, weights, nullptr);
    auto as_set = [](const std::optional<CoverList>& covers) {
        std::set<std::vector<std::uint64_t>> set;
        for (auto cover : covers->nested()) {
            std::sort(cover.begin(), cover.end());
            set.insert(cover);
        }
        return set;
    };
    static ThreadPool two(2), four(4);
    for (std::uint64_t n : {1, 7, 60}) {
        const auto alone = cheapest_covers(relabeled, 20, weights, costs, n, 100000, nullptr);
        ASSERT_TRUE(alone.has_value());
        for (ThreadPool* pool : {&two, &four}) {
            const auto threaded = cheapest_covers(relabeled, 20, weights, costs, n, 100000, nullptr, pool);
            ASSERT_TRUE(threaded.has_value());
            EXPECT_EQ(as_set(alone), as_set(threaded)) << "n = " << n << ", threads " << pool->threads();
        }
    }
    // Ties everywhere and room for 3 covers: too many at every setting.
    const std::vector<double> flat(blocks.size(), 1.0);
    const NetCosts flat_costs = net_costs(relabeled, 20, flat, nullptr);
    for (ThreadPool* pool : {static_cast<ThreadPool*>(nullptr), &two, &four})
        EXPECT_FALSE(cheapest_covers(relabeled, 20, flat, flat_costs, 50, 3, nullptr, pool).has_value());
}
