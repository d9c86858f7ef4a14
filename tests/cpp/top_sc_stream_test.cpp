// The ranked block-count stream against brute-force models: same covers as the exhaustive
// enumeration, in nondecreasing exact score, each with get_topn_sc's order and score to the
// bit; the bound below every completion; include, caps and interrupts.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <map>
#include <random>
#include <set>

#include "algorithms/knuth_x/algos/block_count/get_topn_sc.hpp"
#include "algorithms/knuth_x/algos/numeric/kelley.hpp"
#include "algorithms/knuth_x/algos/block_count/sc_bound.hpp"
#include "algorithms/knuth_x/algos/numeric/sp_lp.hpp"
#include "algorithms/knuth_x/algos/block_count/top_sc_stream.hpp"
#include "algorithms/knuth_x/pool/thread_pool.hpp"
#include "brute_force.hpp"
#include "scheduling.hpp"

using namespace xcover;
using xcover::testing::Blocks;
using xcover::testing::Covers;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

struct Case {
    Blocks blocks;
    BlockCountInputs inputs;
};

std::uint64_t distinct_elements(const Blocks& blocks) {
    std::set<std::uint64_t> ground;
    for (const auto& b : blocks) ground.insert(b.begin(), b.end());
    return ground.size();
}

// Small random problems: blocks without repeats, weights of both signs, edge counts whose
// sums may pass edge_total (the stream stops with UnrankableCover on such a cover), few labels.
Case random_case(std::mt19937_64& rng) {
    Case c;
    c.blocks = xcover::testing::random_blocks(rng, 11, 6);
    for (auto& b : c.blocks) sort_unique(b);
    for (std::size_t i = 0; i < c.blocks.size(); ++i) {
        c.inputs.weights.push_back(std::uniform_real_distribution<double>(-1.0, 3.0)(rng));
        c.inputs.edge_counts.push_back(rng() % 4);
        c.inputs.labels.push_back(rng() % 3 * 1000);
    }
    c.inputs.edge_total = rng() % 12;
    c.inputs.vertex_total = distinct_elements(c.blocks);
    return c;
}

// A planted partition on n vertices: groups of about three, edges inside a group with
// probability 0.7, across with 0.1. Blocks: every vertex set (all_subsets) or a random half
// of them plus the singletons; weights in the form of the benchmark instances, edge counts
// the edges inside, labels the sizes.
Case planted_case(std::mt19937_64& rng, std::uint64_t n, bool all_subsets) {
    std::vector<std::pair<std::uint64_t, std::uint64_t>> edges;
    for (std::uint64_t a = 0; a < n; ++a)
        for (std::uint64_t b = a + 1; b < n; ++b) {
            const double p = a / 3 == b / 3 ? 0.7 : 0.1;
            if (std::uniform_real_distribution<double>(0, 1)(rng) < p) edges.push_back({a, b});
        }
    Case c;
    for (std::uint64_t mask = 1; mask < (std::uint64_t{1} << n); ++mask) {
        if (!all_subsets && std::popcount(mask) > 1 && rng() % 2) continue;
        std::vector<std::uint64_t> block;
        for (std::uint64_t v = 0; v < n; ++v)
            if (mask >> v & 1) block.push_back(v * 7 + 3);
        std::uint64_t inside = 0;
        for (auto [a, b] : edges) inside += (mask >> a & 1) && (mask >> b & 1);
        const double pairs = static_cast<double>(block.size() * (block.size() - 1) / 2);
        const double e = static_cast<double>(inside);
        c.blocks.push_back(block);
        c.inputs.weights.push_back(1.0 - (e * std::log(0.7) + (pairs - e) * std::log(0.3)) +
                                   std::uniform_real_distribution<double>(0, 0.01)(rng));
        c.inputs.edge_counts.push_back(inside);
        c.inputs.labels.push_back(block.size());
    }
    c.inputs.edge_total = edges.size();
    c.inputs.vertex_total = n;
    return c;
}

// Every exact cover of a planted case, by enumerating the set partitions of its vertices.
Covers partition_covers(const Case& c) {
    std::map<std::vector<std::uint64_t>, std::uint64_t> index;
    for (std::uint64_t b = 0; b < c.blocks.size(); ++b) index[c.blocks[b]] = b;
    std::vector<std::uint64_t> vertices;
    for (const auto& b : c.blocks)
        if (b.size() == 1) vertices.push_back(b[0]);
    std::sort(vertices.begin(), vertices.end());
    Covers covers;
    std::vector<std::vector<std::uint64_t>> parts;
    auto place = [&](auto&& self, std::size_t i) -> void {
        if (i == vertices.size()) {
            std::vector<std::uint64_t> cover;
            for (const auto& p : parts) {
                auto it = index.find(p);
                if (it == index.end()) return;
                cover.push_back(it->second);
            }
            covers.push_back(cover);
            return;
        }
        for (std::size_t j = 0; j < parts.size(); ++j) {  // self() may grow parts
            parts[j].push_back(vertices[i]);
            self(self, i + 1);
            parts[j].pop_back();
        }
        parts.push_back({vertices[i]});
        self(self, i + 1);
        parts.pop_back();
    };
    place(place, 0);
    return covers;
}

// The covers of the stream up to its end or the first cover holding more edges than
// edge_total (`unrankable` tells which).
std::vector<RankedCover> drain(TopScStream& stream, Interrupt* interrupt = nullptr, bool* unrankable = nullptr) {
    std::vector<RankedCover> out;
    try {
        while (auto cover = stream.next(interrupt)) out.push_back(*cover);
    } catch (const UnrankableCover&) {
        if (unrankable != nullptr) *unrankable = true;
    }
    return out;
}

std::uint64_t edges_inside(const Case& c, const std::vector<std::uint64_t>& cover) {
    std::uint64_t inside = 0;
    for (std::uint64_t b : cover) inside += c.inputs.edge_counts.at(b);
    return inside;
}

// The covers the stream can rank: those holding at most edge_total edges.
Covers within_edges(const Case& c, const Covers& covers) {
    Covers kept;
    for (const auto& cover : covers)
        if (edges_inside(c, cover) <= c.inputs.edge_total) kept.push_back(cover);
    return kept;
}

std::vector<RankedCover> stream_all(const Case& c, std::vector<std::uint64_t> include = {}, SearchCaps caps = {}) {
    TopScStream stream(BlockList::from(c.blocks), c.inputs, include, caps);
    return drain(stream);
}

std::vector<std::uint64_t> sorted(std::vector<std::uint64_t> v) {
    std::sort(v.begin(), v.end());
    return v;
}

// get_topn_sc's order of choice for every cover, by its sorted blocks.
std::map<std::vector<std::uint64_t>, std::vector<std::uint64_t>> topn_sc_orders(const Case& c) {
    std::map<std::vector<std::uint64_t>, std::vector<std::uint64_t>> orders;
    for (const auto& cover : get_topn_sc(BlockList::from(c.blocks), c.inputs, UINT64_MAX, {}).nested())
        orders[sorted(cover)] = cover;
    return orders;
}

// The stream holds exactly `expected` (sorted block lists), in nondecreasing score, each
// cover in get_topn_sc's order with BlockCountModel's score to the bit.
void expect_ranked(const Case& c, const std::vector<RankedCover>& got, Covers expected, const char* what) {
    expected = within_edges(c, expected);
    Covers as_sets;
    for (const auto& r : got) as_sets.push_back(sorted(r.blocks));
    ASSERT_EQ(xcover::testing::sorted_covers(as_sets), xcover::testing::sorted_covers(expected)) << what;
    const auto orders = topn_sc_orders(c);
    BlockCountModel model(BlockList::from(c.blocks), c.inputs);
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].blocks, orders.at(sorted(got[i].blocks))) << what << " cover " << i;
        EXPECT_EQ(std::bit_cast<std::uint64_t>(got[i].score), std::bit_cast<std::uint64_t>(model.score(got[i].blocks)))
            << what << " cover " << i;
        if (i > 0) {
            EXPECT_LE(got[i - 1].score, got[i].score) << what << " cover " << i;
        }
    }
}

// `size` distinct rows below `m`, in the order drawn.
std::vector<std::uint32_t> distinct_rows(std::mt19937_64& rng, std::uint64_t m, std::uint64_t size) {
    std::vector<std::uint32_t> col;
    while (col.size() < size) {
        const auto r = static_cast<std::uint32_t>(rng() % m);
        if (std::find(col.begin(), col.end(), r) == col.end()) col.push_back(r);
    }
    return col;
}

// Column j's cost less its rows' prices (the relaxation in SetPartitionLp's start/rows form).
double reduced_cost(const std::vector<double>& costs, const std::vector<std::uint64_t>& start,
                    const std::vector<std::uint32_t>& rows, const std::vector<double>& pi, std::uint64_t j) {
    double rc = costs[j];
    for (std::uint64_t p = start[j]; p < start[j + 1]; ++p) rc -= pi[rows[p]];
    return rc;
}

double price_sum(const std::vector<double>& pi) {
    double sum = 0.0;
    for (double p : pi) sum += p;
    return sum;
}

}  // namespace

TEST(TopScStream, RandomProblemsMatchBruteForce) {
    std::mt19937_64 rng(41);
    int unrankable_seen = 0;
    for (int round = 0; round < 600; ++round) {
        const Case c = random_case(rng);
        const Covers all = xcover::testing::brute_force_covers(c.blocks);
        TopScStream stream(BlockList::from(c.blocks), c.inputs, {}, {});
        bool unrankable = false;
        expect_ranked(c, drain(stream, nullptr, &unrankable), all, "random");
        if (::testing::Test::HasFatalFailure()) return;
        // Every cover it can rank comes first (their scores are far below a wrapped edge
        // term); then the first cover holding too many edges stops it.
        EXPECT_EQ(unrankable, within_edges(c, all).size() != all.size()) << round;
        unrankable_seen += unrankable;
    }
    EXPECT_GT(unrankable_seen, 0);
}

TEST(TopScStream, PlantedPartitionsMatchTheirSetPartitions) {
    std::mt19937_64 rng(7);
    for (std::uint64_t n = 5; n <= 9; ++n)
        for (bool all_subsets : {true, false}) {
            const Case c = planted_case(rng, n, all_subsets);
            expect_ranked(c, stream_all(c), partition_covers(c), all_subsets ? "all subsets" : "random subsets");
            if (::testing::Test::HasFatalFailure()) return;
        }
}

TEST(TopScStream, ViewsTooLargeForTheRelaxationUseTheSharesAlone) {
    // 165 elements held by one singleton each, next to a random small problem: the first
    // views have more elements than the relaxation takes, the later ones fewer.
    std::mt19937_64 rng(13);
    for (int round = 0; round < 6; ++round) {
        Case c = random_case(rng);
        const Covers small = xcover::testing::brute_force_covers(c.blocks);
        const std::uint64_t base = c.blocks.size();
        for (std::uint64_t e = 0; e < 165; ++e) {
            c.blocks.push_back({9'000'000 + e});
            c.inputs.weights.push_back(0.5 + 0.001 * static_cast<double>(e));
            c.inputs.edge_counts.push_back(0);
            c.inputs.labels.push_back(1000);
        }
        c.inputs.vertex_total += 165;
        c.inputs.edge_total += 20;
        Covers expected;
        for (auto cover : small) {
            for (std::uint64_t e = 0; e < 165; ++e) cover.push_back(base + e);
            expected.push_back(cover);
        }
        static_assert(ScBound::kMaxLpRows < 165);
        expect_ranked(c, stream_all(c), expected, "large views");
        if (::testing::Test::HasFatalFailure()) return;
    }
}

TEST(TopScStream, IncludeKeepsTheCoversHoldingTheBlocks) {
    std::mt19937_64 rng(5);
    for (int round = 0; round < 300; ++round) {
        const Case c = round % 10 == 0 ? planted_case(rng, 6, round % 20 == 0) : random_case(rng);
        if (c.blocks.empty()) continue;
        std::vector<std::uint64_t> include;
        for (int k = static_cast<int>(rng() % 3); k > 0; --k) include.push_back(rng() % c.blocks.size());
        Covers expected;
        const Covers all = round % 10 == 0 ? partition_covers(c) : xcover::testing::brute_force_covers(c.blocks);
        for (const auto& cover : all)
            if (std::all_of(include.begin(), include.end(), [&](std::uint64_t b) {
                    return std::find(cover.begin(), cover.end(), b) != cover.end();
                }))
                expected.push_back(cover);
        expect_ranked(c, stream_all(c, include), expected, "include");
        if (::testing::Test::HasFatalFailure()) return;
    }
}

namespace {

// The least score of the covers in `all` that hold every block of `chosen` (+inf if none).
double best_extending(const Covers& all, const std::vector<std::uint64_t>& chosen, BlockCountModel& model,
                      TreeOrder& order) {
    double best = kInf;
    for (const auto& other : all)
        if (std::all_of(chosen.begin(), chosen.end(), [&](std::uint64_t b) {
                return std::find(other.begin(), other.end(), b) != other.end();
            }))
            best = std::min(best, model.score(order.order(other)));
    return best;
}

}  // namespace

TEST(ScBound, NeverAboveTheBestCompletion) {
    // For random partial covers and any multipliers (one evaluation at a random point, and
    // the full search), the bound is at most the score of every cover extending them.
    std::mt19937_64 rng(99);
    int bounded = 0;
    for (int round = 0; round < 400; ++round) {
        const Case c = round % 4 == 0 ? planted_case(rng, 5 + rng() % 3, round % 8 == 0) : random_case(rng);
        const BlockList list = BlockList::from(c.blocks);
        const Covers all = round % 4 == 0 ? partition_covers(c) : xcover::testing::brute_force_covers(c.blocks);
        if (all.empty() || c.inputs.vertex_total == 0) continue;
        const std::vector<std::uint64_t>& cover = all[rng() % all.size()];
        std::vector<std::uint64_t> chosen;
        for (std::uint64_t b : cover) {
            if (rng() % 2) chosen.push_back(b);
        }
        if (chosen.size() == cover.size()) chosen.pop_back();  // a partial cover: at least one block to come
        BlockCountModel model(list, c.inputs);
        TreeOrder order(list);
        const double best = best_extending(all, chosen, model, order);
        for (bool use_lp : {false, true}) {
            ScBound bound(list, c.inputs, use_lp);
            const double full = bound.bound_of(list, chosen, TightScScorer::root_options());
            EXPECT_LE(full, best) << round << " lp " << use_lp;
            const double one_point = bound.bound_of(list, chosen, KelleyOptions{1, 0.0, 4});
            EXPECT_LE(one_point, best) << round << " lp " << use_lp;
            // The search starts at zero (the slack grows with the terms it has seen).
            EXPECT_LE(one_point, full + 1e-6 * (1.0 + std::fabs(full))) << round;
            // The relaxation's prices only raise the bound.
            if (use_lp) {
                ScBound plain(list, c.inputs, false);
                EXPECT_GE(full, plain.bound_of(list, chosen, TightScScorer::root_options()) - 1e-6) << round;
            }
        }
        ++bounded;
    }
    EXPECT_GT(bounded, 200);
}

TEST(ScBound, ParentPricesBoundEveryChild) {
    // A child's cheap key: one evaluation at its parent's multipliers and relaxation prices,
    // or at random ones. Never above the best cover extending the child.
    std::mt19937_64 rng(41);
    int checked_children = 0;
    for (int round = 0; round < 300; ++round) {
        const Case c = round % 3 == 0 ? planted_case(rng, 5 + rng() % 3, round % 6 == 0) : random_case(rng);
        const BlockList list = BlockList::from(c.blocks);
        const Covers all = round % 3 == 0 ? partition_covers(c) : xcover::testing::brute_force_covers(c.blocks);
        if (all.empty() || c.inputs.vertex_total == 0) continue;
        const std::vector<std::uint64_t>& cover = all[rng() % all.size()];
        std::vector<std::uint64_t> parent;
        for (std::uint64_t b : cover)
            if (rng() % 3 == 0) parent.push_back(b);
        if (parent.size() + 1 >= cover.size()) continue;  // children with blocks to come
        BlockCountModel model(list, c.inputs);
        TreeOrder order(list);
        ScBound bound(list, c.inputs);
        std::vector<std::uint64_t> elements;
        const ScBound::View view = ScBound::view_after(list, parent, &elements);
        ScBound::Prefix prefix = bound.empty_prefix();
        for (std::uint64_t b : parent) bound.add_block(prefix, b);
        std::vector<double> multipliers;
        const double parent_bound = bound.bound(prefix, view, multipliers, TightScScorer::child_options());
        const std::vector<double> parent_prices = bound.best_prices();
        std::set<std::uint64_t> candidates(view.blocks.begin(), view.blocks.end());
        std::vector<std::uint64_t> removed(list.size(), 0);
        std::uint64_t stamp = 0;
        for (std::uint64_t b : candidates) {
            std::vector<std::uint64_t> child = parent;
            child.push_back(b);
            // The child keeps the parent's columns b does not hold, and removes every block
            // meeting b.
            ++stamp;
            const std::set<std::uint64_t> held(list[b].begin(), list[b].end());
            std::vector<std::uint64_t> kept;
            for (std::uint64_t k = 0; k < elements.size(); ++k)
                if (!held.count(elements[k])) kept.push_back(k);
            if (kept.empty()) continue;
            for (std::uint64_t x = 0; x < list.size(); ++x)
                for (std::uint64_t e : list[x])
                    if (held.count(e)) removed[x] = stamp;
            const double best = best_extending(all, child, model, order);
            ScBound::Prefix child_prefix = prefix;
            bound.add_block(child_prefix, b);
            bound.fix_prices(view, multipliers, parent_prices);
            const double cheap = bound.bound_child(child_prefix, kept, removed, stamp);
            EXPECT_LE(cheap, best) << round << " block " << b;
            std::vector<double> random_point(bound.dimension()), random_prices(view.columns());
            for (double& y : random_point) y = std::uniform_real_distribution<double>(-3.0, 3.0)(rng);
            random_point[0] = std::fabs(random_point[0]);
            for (double& p : random_prices) p = std::uniform_real_distribution<double>(-5.0, 5.0)(rng);
            bound.fix_prices(view, random_point, random_prices);
            EXPECT_LE(bound.bound_child(child_prefix, kept, removed, stamp), best) << round;
            bound.fix_prices(view, {}, {});
            EXPECT_LE(bound.bound_child(child_prefix, kept, removed, stamp), best) << round;
            // Covers below a child are below its parent: a child that has one is no cheaper
            // than the parent's bound allows, and the cheap key is a real bound, not -inf.
            if (best < kInf) {
                EXPECT_LE(parent_bound, best) << round;
                EXPECT_GT(cheap, -kInf) << round;
            }
            ++checked_children;
        }
        if (::testing::Test::HasFailure()) return;
    }
    EXPECT_GT(checked_children, 300);
}

namespace {

// Asks for a stop at every `every`-th poll.
class EveryNth : public Interrupt {
public:
    explicit EveryNth(int every) : every_(every) {}
    bool requested() override { return ++calls_ % every_ == 0; }
    int calls_ = 0;

private:
    int every_;
};

}  // namespace

TEST(TopScStream, ResumesAfterEveryInterruptWithNothingLostOrRepeated) {
    // Stopped at every poll, within steps too: the covers are the same, with the same
    // scores, still in nondecreasing score (children keyed by their parent's bound after a
    // stop may change the order of equal scores only).
    std::mt19937_64 rng(3);
    int interrupted = 0;
    std::uint64_t within_steps = 0;
    for (std::uint64_t n : {7, 8, 9}) {
        const Case c = planted_case(rng, n, true);
        const auto plain = stream_all(c);
        TopScStream stream(BlockList::from(c.blocks), c.inputs, {}, {});
        EveryNth interrupt(1);
        std::vector<RankedCover> resumed;
        for (;;) {
            try {
                auto cover = stream.next(&interrupt);
                if (!cover) break;
                resumed.push_back(*cover);
            } catch (const SearchInterrupted&) {
                ++interrupted;
            }
        }
        EXPECT_EQ(stream.end(), StreamEnd::Exhausted);
        within_steps += stream.work().stops_within_steps;
        ASSERT_EQ(resumed.size(), plain.size());
        for (std::size_t i = 1; i < resumed.size(); ++i) EXPECT_LE(resumed[i - 1].score, resumed[i].score);
        auto key = [](const RankedCover& r) { return std::make_pair(std::bit_cast<std::uint64_t>(r.score), r.blocks); };
        std::vector<std::pair<std::uint64_t, std::vector<std::uint64_t>>> a, b;
        for (const auto& r : plain) a.push_back(key(r));
        for (const auto& r : resumed) b.push_back(key(r));
        std::sort(a.begin(), a.end());
        std::sort(b.begin(), b.end());
        EXPECT_EQ(a, b);
    }
    EXPECT_GT(interrupted, 10);
    EXPECT_GT(within_steps, 0u);
}

namespace {

ThreadPool& helpers_pool(unsigned threads) {
    static ThreadPool two(2), four(4);
    return threads == 2 ? two : four;
}

// A stream's covers with each score by its bits, and how it ended.
using Pairs = std::vector<std::pair<std::uint64_t, std::vector<std::uint64_t>>>;
// `taken` and `refined`, when given, count the steps whose expansion, resp. refinement, came
// from a helper.
std::pair<Pairs, StreamEnd> exact_stream(const Case& c, const std::vector<std::uint64_t>& include,
                                         SearchCaps caps, ThreadPool* pool, std::uint64_t* taken = nullptr,
                                         std::uint64_t* refined = nullptr) {
    TopScStream stream(BlockList::from(c.blocks), c.inputs, include, caps, pool);
    Pairs pairs;
    try {
        while (auto cover = stream.next()) pairs.emplace_back(std::bit_cast<std::uint64_t>(cover->score), cover->blocks);
    } catch (const UnrankableCover&) {
        pairs.emplace_back(0, std::vector<std::uint64_t>{});  // the same place for every thread count
    }
    if (taken != nullptr) *taken += stream.ahead_counts().taken;
    if (refined != nullptr) *refined += stream.ahead_counts().refined_ahead;
    return {pairs, stream.end()};
}

}  // namespace

TEST(TopScStream, HelpersGiveTheStreamOfOneThread) {
    std::mt19937_64 rng(1208);
    std::uint64_t taken = 0, refined = 0;
    for (int round = 0; round < 400; ++round) {
        const Case c = round % 4 == 3 ? planted_case(rng, 5 + rng() % 4, round % 8 == 3) : random_case(rng);
        std::vector<std::uint64_t> include;
        for (std::uint64_t k = rng() % 3; k > 0 && !c.blocks.empty(); --k) include.push_back(rng() % c.blocks.size());
        SearchCaps caps;
        if (rng() % 3 == 0) caps.max_iter = rng() % 60;
        if (rng() % 3 == 0) caps.max_heap = rng() % 80;
        const auto one = exact_stream(c, include, caps, nullptr);
        for (unsigned threads : {2u, 4u}) {
            ASSERT_EQ(exact_stream(c, include, caps, &helpers_pool(threads), &taken, &refined), one)
                << "round " << round << ", " << threads << " threads";
        }
    }
    if (xcover::testing::helpers_run_alongside()) {
        EXPECT_GT(taken, 0u);  // the helpers' expansions were used, not only the caller's
        EXPECT_GT(refined, 0u);  // and their refinements
    }
}

TEST(TopScStream, HelpersKeepEveryCoverThroughInterrupts) {
    // Stopped within steps too: with helpers as with one thread, the same covers with the
    // same scores in the same score order (equal scores may change places).
    std::mt19937_64 rng(9);
    std::uint64_t within_steps = 0;
    for (std::uint64_t n : {7, 8, 9}) {
        const Case c = planted_case(rng, n, true);
        const auto plain = exact_stream(c, {}, {}, nullptr).first;
        for (int every : {1, 3}) {
            TopScStream stream(BlockList::from(c.blocks), c.inputs, {}, {}, &helpers_pool(2));
            EveryNth interrupt(every);
            Pairs resumed;
            for (;;) {
                try {
                    auto cover = stream.next(&interrupt);
                    if (!cover) break;
                    resumed.emplace_back(std::bit_cast<std::uint64_t>(cover->score), cover->blocks);
                } catch (const SearchInterrupted&) {
                }
            }
            EXPECT_EQ(stream.end(), StreamEnd::Exhausted);
            within_steps += stream.work().stops_within_steps;
            ASSERT_EQ(resumed.size(), plain.size());
            for (std::size_t i = 0; i < plain.size(); ++i) EXPECT_EQ(resumed[i].first, plain[i].first) << i;
            Pairs a = plain, b = resumed;
            std::sort(a.begin(), a.end());
            std::sort(b.begin(), b.end());
            EXPECT_EQ(a, b);
        }
    }
    EXPECT_GT(within_steps, 0u);
}

TEST(TopScStream, CapsEndTheStreamAndSayWhy) {
    std::mt19937_64 rng(11);
    const Case c = planted_case(rng, 7, true);
    const auto plain = stream_all(c);
    TopScStream capped(BlockList::from(c.blocks), c.inputs, {}, SearchCaps{40, std::nullopt});
    const auto first = drain(capped);
    EXPECT_EQ(capped.end(), StreamEnd::StepCap);
    EXPECT_EQ(capped.steps(), 40u);
    ASSERT_LT(first.size(), plain.size());
    for (std::size_t i = 0; i < first.size(); ++i) EXPECT_EQ(first[i].blocks, plain[i].blocks);
    EXPECT_FALSE(capped.next().has_value());  // stays ended

    TopScStream small_heap(BlockList::from(c.blocks), c.inputs, {}, SearchCaps{std::nullopt, 30});
    const auto some = drain(small_heap);
    EXPECT_EQ(small_heap.end(), StreamEnd::HeapCap);
    for (std::size_t i = 1; i < some.size(); ++i) EXPECT_LE(some[i - 1].score, some[i].score);
}

TEST(TopScStream, EdgeCases) {
    // No blocks: the empty cover, scored as get_topn_sc scores it.
    Case empty;
    empty.inputs.edge_total = 5;
    const auto one = stream_all(empty);
    ASSERT_EQ(one.size(), 1u);
    EXPECT_TRUE(one[0].blocks.empty());
    EXPECT_EQ(one[0].score, BlockCountModel(BlockList{}, empty.inputs).score({}));
    // Overlapping or empty included blocks, or an element left without a block: no cover.
    Case c{{{0, 1}, {1}, {0}, {}, {2}}, {{1, 1, 1, 1, 1}, {1, 0, 0, 0, 0}, 2, {2, 1, 1, 0, 1}, 3}};
    EXPECT_TRUE(stream_all(c, {0, 1}).empty());
    EXPECT_TRUE(stream_all(c, {3}).empty());
    Case lonely{{{0, 1}, {1, 2}, {2}}, {{1, 1, 1}, {1, 1, 0}, 2, {2, 2, 1}, 3}};
    EXPECT_TRUE(stream_all(lonely, {1}).empty());
    EXPECT_EQ(stream_all(c, {0, 0, 4}).size(), 1u);  // repeats are ignored
    EXPECT_THROW(stream_all(c, {5}), InternalFailure);
}

TEST(TopScStream, InputErrorsAreNamed) {
    const BlockList blocks = BlockList::from({{0, 1}, {1}, {0}});
    BlockCountInputs ok{{1.0, 0.5, 0.5}, {1, 0, 0}, 1, {2, 1, 1}, 2};
    EXPECT_EQ(top_sc_input_error(blocks, ok), "");
    auto with = [&](auto change) {
        BlockCountInputs in = ok;
        change(in);
        return top_sc_input_error(blocks, in);
    };
    EXPECT_EQ(with([](auto& in) { in.weights[1] = kInf; }), "weights[1] is not finite (inf)");
    EXPECT_EQ(with([](auto& in) { in.weights.pop_back(); }), "weights has 2 entries for 3 blocks");
    EXPECT_EQ(with([](auto& in) { in.edge_counts.push_back(0); }), "edge_counts has 4 entries for 3 blocks");
    EXPECT_EQ(with([](auto& in) { in.labels.clear(); }), "labels has 0 entries for 3 blocks");
    EXPECT_EQ(with([](auto& in) { in.vertex_total = 3; }), "vertex_total is 3 but the blocks hold 2 distinct elements");
    EXPECT_EQ(top_sc_input_error(BlockList::from({{0, 1, 0}}), BlockCountInputs{{1.0}, {0}, 0, {3}, 2}),
              "block 0 lists element 0 more than once");
    EXPECT_THROW(TopScStream(blocks, BlockCountInputs{{1.0, kInf, 0.5}, {1, 0, 0}, 1, {2, 1, 1}, 2}, {}, {}),
                 InternalFailure);
}

TEST(Kelley, FindsTheMaximumOfAConcavePiecewiseLinearFunction) {
    // f(y) = 3 - |y0 - 1| - 2 |y1 + 2| over [-5, 5]^2: the maximum 3 at (1, -2). The result is
    // always a value the oracle returned, at the point it returned it.
    std::vector<double> seen;
    auto f = [&](std::span<const double> y, std::span<double> grad) {
        grad[0] = y[0] < 1 ? 1.0 : -1.0;
        grad[1] = y[1] < -2 ? 2.0 : -2.0;
        const double v = 3.0 - std::fabs(y[0] - 1.0) - 2.0 * std::fabs(y[1] + 2.0);
        seen.push_back(v);
        return v;
    };
    Kelley kelley;
    const std::vector<double> lo{-5, -5}, hi{5, 5}, start{4, 4};
    const double best = kelley.maximize(f, start, lo, hi, KelleyOptions{60, 1e-9, 16});
    EXPECT_NEAR(best, 3.0, 1e-6);
    EXPECT_NEAR(kelley.best_point()[0], 1.0, 1e-6);
    EXPECT_NEAR(kelley.best_point()[1], -2.0, 1e-6);
    EXPECT_EQ(best, *std::max_element(seen.begin(), seen.end()));
    EXPECT_LT(kelley.evaluations(), 60);
    // With `stall`, a run of evaluations that gain less than the tolerance ends the search
    // before the cuts certify the maximum.
    // A smooth function takes the cuts many evaluations to certify.
    auto smooth = [](std::span<const double> y, std::span<double> grad) {
        grad[0] = -2.0 * (y[0] - 1.0);
        grad[1] = -2.0 * (y[1] + 2.0);
        return 5.0 - (y[0] - 1.0) * (y[0] - 1.0) - (y[1] + 2.0) * (y[1] + 2.0);
    };
    Kelley stalling;
    stalling.maximize(smooth, start, lo, hi, KelleyOptions{60, 1e-9, 16, 1});
    Kelley patient;
    patient.maximize(smooth, start, lo, hi, KelleyOptions{60, 1e-9, 16, 0});
    EXPECT_LT(stalling.evaluations(), patient.evaluations());
    // A start outside the box is clamped into it.
    seen.clear();
    kelley.maximize(f, std::vector<double>{9, -9}, lo, hi, KelleyOptions{1, 0.0, 4});
    EXPECT_EQ(seen.at(0), 3.0 - 4.0 - 6.0);
}

TEST(SetPartitionLp, PricesBoundEveryPartitionAndMeetTheRelaxation) {
    // On random instances: the prices' bound (sum of prices plus each row's least reduced
    // share) is at most the cheapest exact cover, and once the relaxation is solved with no
    // artificial left, the primal solution covers every row once and costs the prices' sum.
    std::mt19937_64 rng(23);
    int solved = 0;
    for (int round = 0; round < 300; ++round) {
        Blocks blocks = xcover::testing::random_blocks(rng, 10, 5);
        for (auto& b : blocks) sort_unique(b);
        std::map<std::uint64_t, std::uint32_t> row_of;
        for (const auto& b : blocks)
            for (auto e : b) row_of.emplace(e, 0);
        std::uint32_t r = 0;
        for (auto& [e, row] : row_of) row = r++;
        std::vector<std::uint64_t> start{0}, columns;
        std::vector<std::uint32_t> rows;
        std::vector<double> costs;
        for (std::uint64_t j = 0; j < blocks.size(); ++j) {
            if (blocks[j].empty()) continue;
            columns.push_back(j);
            for (auto e : blocks[j]) rows.push_back(row_of[e]);
            start.push_back(rows.size());
            costs.push_back(std::uniform_real_distribution<double>(-2, 3)(rng));
        }
        if (row_of.empty()) continue;
        SetPartitionLp lp;
        lp.load(row_of.size(), start, rows);
        lp.set_costs(costs);
        const bool done = lp.solve(1000) < 1000;
        const auto& pi = lp.prices();
        double bound = price_sum(pi);
        for (std::uint32_t row = 0; row < row_of.size(); ++row) {
            double least = kInf;
            for (std::uint64_t j = 0; j + 1 < start.size(); ++j) {
                if (std::find(rows.begin() + start[j], rows.begin() + start[j + 1], row) == rows.begin() + start[j + 1]) continue;
                const double rc = reduced_cost(costs, start, rows, pi, j);
                least = std::min(least, rc / static_cast<double>(start[j + 1] - start[j]));
            }
            bound += least;
        }
        double cheapest = kInf;
        for (const auto& cover : xcover::testing::brute_force_covers(blocks)) {
            double cost = 0.0;
            for (auto b : cover) cost += costs[std::find(columns.begin(), columns.end(), b) - columns.begin()];
            cheapest = std::min(cheapest, cost);
        }
        EXPECT_LE(bound, cheapest + 1e-9) << round;
        std::vector<double> x;
        lp.primal(x);
        std::vector<double> load(row_of.size(), 0.0);
        double cost = 0.0, total = 0.0;
        for (std::uint64_t j = 0; j < x.size(); ++j) {
            cost += x[j] * costs[j];
            for (std::uint64_t p = start[j]; p < start[j + 1]; ++p) load[rows[p]] += x[j];
        }
        for (double l : load) total += l;
        if (!done || std::fabs(total - static_cast<double>(row_of.size())) > 1e-9) continue;
        ++solved;
        for (double l : load) EXPECT_NEAR(l, 1.0, 1e-9) << round;
        EXPECT_NEAR(cost, price_sum(pi), 1e-9) << round;
        EXPECT_LE(cost, cheapest + 1e-9) << round;
    }
    EXPECT_GT(solved, 100);
}

TEST(SetPartitionLp, DantzigsRuleWithBlandInDegenerateRunsReachesTheOptimum) {
    // Degenerate relaxations (few column shapes, each repeated, costs from a few values, so
    // that most pivots leave the objective where it was): every solve under the default rule
    // ends before a generous cap with prices no column undercuts, and at the objective of a
    // solve under Bland's rule alone.
    std::mt19937_64 rng(59);
    for (int round = 0; round < 60; ++round) {
        const std::uint64_t m = 6 + rng() % 40;
        std::vector<std::uint64_t> start{0};
        std::vector<std::uint32_t> rows;
        std::vector<std::vector<std::uint32_t>> shapes;
        for (std::uint32_t r = 0; r < m; ++r) shapes.push_back({r});  // so that a partition exists
        for (std::uint64_t k = 0; k < 3 * m; ++k) {
            const std::uint64_t size = 2 + rng() % 3;
            shapes.push_back(distinct_rows(rng, m, size));
        }
        std::vector<double> costs;
        for (const auto& shape : shapes)
            for (std::uint64_t copy = 0, copies = 1 + rng() % 3; copy < copies; ++copy) {
                rows.insert(rows.end(), shape.begin(), shape.end());
                start.push_back(rows.size());
                costs.push_back(static_cast<double>(shape.size()) - static_cast<double>(rng() % 3));
            }
        const std::uint64_t n = costs.size();
        SetPartitionLp dantzig, bland;
        dantzig.load(m, start, rows);
        bland.load(m, start, rows);
        bland.bland_after(0);
        dantzig.set_costs(costs);
        bland.set_costs(costs);
        const std::uint64_t cap = 1'000'000;
        ASSERT_LT(dantzig.solve(cap), cap) << round;
        ASSERT_LT(bland.solve(cap), cap) << round;
        const auto& pi = dantzig.prices();
        for (std::uint64_t j = 0; j < n; ++j)
            EXPECT_GE(reduced_cost(costs, start, rows, pi, j), -1e-7) << round << " column " << j;
        EXPECT_NEAR(price_sum(pi), price_sum(bland.prices()), 1e-7) << round;
    }
}

TEST(SetPartitionLp, GroupedPricingPivotsAsAScanByIndex) {
    // Columns of 0 to 6 rows (grouped up to 4, the rest priced one by one), small integer
    // costs and repeated columns, so that reduced costs often tie: after every solve, warm
    // started under new costs, both pricings have the same prices and solution to the bit,
    // under Dantzig's rule and under Bland's.
    std::mt19937_64 rng(41);
    for (int round = 0; round < 200; ++round) {
        const std::uint64_t m = 3 + rng() % 10;
        std::vector<std::uint64_t> start{0};
        std::vector<std::uint32_t> rows;
        const std::uint64_t n = 1 + rng() % 40;
        for (std::uint64_t j = 0; j < n; ++j) {
            if (j > 0 && rng() % 5 == 0) {  // a repeat of the previous column
                rows.insert(rows.end(), rows.begin() + start[j - 1], rows.begin() + start[j]);
            } else {
                const std::uint64_t size = std::min<std::uint64_t>(m, rng() % 7);
                const std::vector<std::uint32_t> col = distinct_rows(rng, m, size);
                rows.insert(rows.end(), col.begin(), col.end());
            }
            start.push_back(rows.size());
        }
        SetPartitionLp grouped, by_index;
        grouped.load(m, start, rows);
        by_index.load(m, start, rows);
        by_index.price_by_index_only(true);
        if (round % 2 == 1) {  // Bland's rule from the first pivot on
            grouped.bland_after(0);
            by_index.bland_after(0);
        }
        for (int solve = 0; solve < 4; ++solve) {
            std::vector<double> costs(n);
            for (double& c : costs) c = static_cast<double>(static_cast<int>(rng() % 7) - 2) * 0.5;
            grouped.set_costs(costs);
            by_index.set_costs(costs);
            const std::uint64_t cap = 1 + rng() % 60;
            ASSERT_EQ(grouped.solve(cap), by_index.solve(cap)) << round;
            ASSERT_EQ(grouped.prices(), by_index.prices()) << round;
            std::vector<double> x, y;
            grouped.primal(x);
            by_index.primal(y);
            ASSERT_EQ(x, y) << round;
        }
    }
}
