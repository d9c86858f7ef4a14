// Scoring and the ordered searches.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <random>

#include "algorithms/knuth_x/algos/average/get_top.hpp"
#include "algorithms/knuth_x/algos/average/get_topp.hpp"
#include "algorithms/knuth_x/algos/numeric/ln_gamma.hpp"
#include "algorithms/knuth_x/algos/numeric/log_sum_exp.hpp"
#include "reference/avg_est_literal.hpp"
#include "brute_force.hpp"

using namespace xcover;
using xcover::reference::AvgEstLiteral;
using xcover::testing::Blocks;
using xcover::testing::Covers;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

bool same_bits(double a, double b) {
    if (std::isnan(a) && std::isnan(b)) return true;
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

Covers top(const Blocks& blocks, std::vector<double> weights, SearchCaps caps = {}) {
    return get_top(BlockList::from(blocks), std::move(weights), caps).nested();
}

// Scores every child with the fast scorer and checks it against the literal estimator.
class CheckingScorer {
public:
    CheckingScorer(const BlockList& partitions, const std::vector<double>& weights,
                   const ElementIndex& index, int* mismatches, int* scored)
        : fast_(partitions, weights, index), literal_(partitions, weights),
          mismatches_(mismatches), scored_(scored) {}

    double root_score(const DancingLinks& links) {
        const double fast = fast_.root_score(links);
        auto [chosen, rest] = literal_.estimate({});
        check(fast, chosen + rest);
        return fast;
    }
    void begin_expansion(const DancingLinks& links) { fast_.begin_expansion(links); }
    double child_weight_sum(double parent, std::uint64_t block) const {
        return fast_.child_weight_sum(parent, block);
    }
    std::uint64_t child_cost(const DancingLinks&) const { return 1; }
    double child_score(const DancingLinks& links, const BlockList& relabeled, const ChildContext& child) {
        const double fast = fast_.child_score(links, relabeled, child);
        std::vector<std::uint64_t> chosen_blocks = child.parent_blocks;
        chosen_blocks.push_back(child.block);
        auto [chosen, rest] = literal_.estimate(chosen_blocks);
        check(fast, chosen + rest);
        return fast;
    }

private:
    void check(double fast, double literal) {
        ++*scored_;
        if (!same_bits(fast, literal)) ++*mismatches_;
    }
    AvgScorer fast_;
    AvgEstLiteral literal_;
    int* mismatches_;
    int* scored_;
};

std::vector<double> random_weights(std::mt19937_64& rng, std::size_t n, bool specials) {
    static const double kSpecial[] = {kNaN, kInf, -kInf, 0.0, -0.0, -1.5};
    std::vector<double> w(n);
    for (auto& x : w) {
        if (specials && rng() % 6 == 0) {
            x = kSpecial[rng() % 6];
        } else {
            x = std::uniform_real_distribution<double>(-0.5, 4.0)(rng);
        }
    }
    return w;
}

}  // namespace

TEST(LnGamma, KnownValues) {
    EXPECT_EQ(ln_gamma(2.0), 0.0);
    EXPECT_EQ(ln_gamma(1.0), -4.440892098500626e-16);
    EXPECT_EQ(ln_gamma(3.0), 0.6931471805599485);
    EXPECT_EQ(ln_gamma(2.5), 0.2846828704729223);
    EXPECT_EQ(ln_gamma(10.0), 12.801827480081474);
    EXPECT_EQ(ln_gamma(0.0), kInf);
    EXPECT_TRUE(std::isnan(ln_gamma(-0.5)));
}

TEST(AvgEstLiteral, DocumentedEstimates) {
    const BlockList p = BlockList::from({{0, 1}, {0}, {1}});
    AvgEstLiteral est(p, std::vector<double>{2.0, 0.9, 0.9});
    auto check = [&](std::vector<std::uint64_t> chosen, double a, double b) {
        auto [x, y] = est.estimate(chosen);
        EXPECT_TRUE(same_bits(x, a)) << x;
        EXPECT_TRUE(same_bits(y, b)) << y;
    };
    check({}, -0.0, 1.8);
    check({1}, 0.9, 0.9);
    check({0}, 2.0, -0.0);
    check({1, 2}, 1.8, -0.0);
    EXPECT_THROW(est.estimate(std::vector<std::uint64_t>{5}), InternalFailure);

    AvgEstLiteral nan_first(BlockList::from({{0}, {0}}), std::vector<double>{kNaN, 1.0});
    EXPECT_TRUE(std::isnan(nan_first.estimate({}).second));
    AvgEstLiteral nan_second(BlockList::from({{0}, {0}}), std::vector<double>{1.0, kNaN});
    EXPECT_EQ(nan_second.estimate({}).second, 1.0);
}

TEST(GetTop, DocumentedResults) {
    const Blocks p = {{0, 1}, {0}, {1}};
    const std::vector<double> w = {2.0, 0.9, 0.9};
    EXPECT_EQ(top({}, {}), (Covers{{}}));
    EXPECT_EQ(top({{}}, {1.0}), (Covers{{}}));
    EXPECT_EQ(top({{0}, {1}}, {1.0, 1.0}), (Covers{{0, 1}}));
    EXPECT_EQ(top({{0}, {0}}, {1.0, 1.0}), (Covers{{1}, {0}}));
    EXPECT_EQ(top(p, w), (Covers{{1, 2}, {0}}));
    EXPECT_EQ(top(p, w, {3, {}}), (Covers{{1, 2}}));
    for (std::uint64_t i : {0, 1, 2}) EXPECT_EQ(top(p, w, {i, {}}), Covers{});
    for (std::uint64_t h : {0, 1}) EXPECT_EQ(top(p, w, {{}, h}), Covers{});
    EXPECT_EQ(top(p, w, {{}, 2}), (Covers{{1, 2}, {0}}));
    EXPECT_EQ(top({{0, 1}, {0}, {2}, {1, 2}}, {2.0, 3.0, 4.0, 3.0}), (Covers{{1, 3}, {0, 2}}));
    EXPECT_EQ(top({{0, 1}, {1, 2}, {0, 2}}, {1.0, 1.0, 1.0}), Covers{});
    EXPECT_EQ(top({{0}, {1}, {0, 1}}, {kNaN, 1.0, 5.0}), (Covers{{2}, {0, 1}}));
    EXPECT_EQ(top({{5, 7}, {5}, {7}}, {1.0, 1.0, 1.0}), (Covers{{0}, {1, 2}}));
    EXPECT_THROW(top({{0}}, {}), InternalFailure);
    EXPECT_EQ(top({{0}}, {}, {0, {}}), Covers{});
    EXPECT_EQ(top({{0}}, {}, {{}, 0}), Covers{});
    EXPECT_EQ(top({{0}}, {1.0, 2.0}), (Covers{{0}}));
    EXPECT_EQ(top({{18446744073709551615ull}, {18446744073709551614ull}, {0}}, {1.0, 2.0, 3.0}),
              (Covers{{2, 1, 0}}));
}

TEST(GetTop, FastScorerMatchesTheLiteralEstimatorBitForBit) {
    std::mt19937_64 rng(99);
    int mismatches = 0, scored = 0;
    for (int round = 0; round < 8000; ++round) {
        // Small element values: the literal estimator allocates one slot per value. Every
        // fourth round is larger, with a step cap.
        const bool large = round % 4 == 0;
        Blocks blocks = xcover::testing::random_blocks(rng, large ? 40 : 12, large ? 14 : 7);
        for (auto& b : blocks)
            for (auto& e : b) e /= 1000003;
        // Repeated elements inside blocks, and weights shorter or longer than the blocks.
        for (auto& b : blocks)
            if (!b.empty() && rng() % 4 == 0) b.push_back(b[0]);
        const std::size_t count = blocks.size() + (rng() % 3) - (blocks.empty() ? 0 : 1);
        const std::vector<double> weights = random_weights(rng, count, round % 2 == 0);
        const BlockList list = BlockList::from(blocks);
        try {
            const SearchCaps caps{large ? std::optional<std::uint64_t>(300) : std::nullopt, {}};
            OrderedSearch<CheckingScorer> search(list, caps, nullptr, [&](const ElementIndex& index) {
                return CheckingScorer(list, weights, index, &mismatches, &scored);
            });
            while (search.step()) {
            }
        } catch (const InternalFailure&) {
            // A block beyond the weights was reached; the scores before it were compared.
        }
    }
    EXPECT_GT(scored, 50000);
    EXPECT_EQ(mismatches, 0);
}

TEST(GetTop, FiniteWeightsComeOutSortedAndComplete) {
    std::mt19937_64 rng(5);
    for (int round = 0; round < 1000; ++round) {
        const Blocks blocks = xcover::testing::random_blocks(rng, 10, 6);
        const std::vector<double> weights = random_weights(rng, blocks.size(), false);
        for (auto& w : const_cast<std::vector<double>&>(weights)) w = std::abs(w);
        const Covers result = top(blocks, weights);
        ASSERT_EQ(xcover::testing::sorted_covers(result),
                  xcover::testing::sorted_covers(xcover::testing::brute_force_covers(blocks)));
        double previous = -kInf;
        for (const auto& cover : result) {
            double sum = -0.0;
            for (auto b : cover) sum += weights[b];
            EXPECT_GE(sum, previous - 1e-9);
            previous = sum;
        }
        // get_topn is a prefix of get_top.
        const std::uint64_t n = rng() % 4;
        const Covers first = get_topn(BlockList::from(blocks), weights, n, {}).nested();
        ASSERT_EQ(first, Covers(result.begin(), result.begin() + std::min<std::size_t>(n, result.size())));
    }
}

TEST(LogSumExp, DocumentedValuesAndRunningMatchesBatch) {
    EXPECT_TRUE(same_bits(log_sum_exp({0.0, -kInf}), 0.0));
    EXPECT_EQ(log_sum_exp({1.0, 1.0}), 1.0 + std::log(2.0));
    EXPECT_EQ(log_sum_exp({}), -kInf);
    EXPECT_TRUE(std::isnan(log_sum_exp({1.0, kNaN})));
    EXPECT_EQ(log_sum_exp({-kInf, -kInf}), -kInf);
    EXPECT_EQ(log_sum_exp({kInf, 1.0}), kInf);

    std::mt19937_64 rng(3);
    static const double kSpecial[] = {kNaN, kInf, -kInf, 0.0, -0.0, 1.0};
    for (int round = 0; round < 3000; ++round) {
        RunningLogSumExp running;
        std::vector<double> values;
        const int length = 1 + static_cast<int>(rng() % 12);
        for (int i = 0; i < length; ++i) {
            double x = rng() % 7 == 0 ? kSpecial[rng() % 6]
                                      : std::uniform_real_distribution<double>(-30, 5)(rng);
            if (round % 3 == 0) x = -static_cast<double>(i) * 0.25 - (rng() % 3);  // sorted-ish
            values.push_back(x);
            running.push(x);
            ASSERT_TRUE(same_bits(running.value(), log_sum_exp(values))) << round << " " << i;
        }
    }
}

TEST(GetTopp, Thresholds) {
    const BlockList p = BlockList::from({{0, 1}, {0}, {1}});
    const std::vector<double> w = {2.0, 0.9, 0.9};
    for (double alpha : {1.0, 1.5, -0.5, -0.0, kNaN, kInf, -kInf})
        EXPECT_EQ(get_topp(p, w, alpha, {}).nested(), Covers{});
    // Two elements: after one partition the query goes on only when alpha < 0.51896.
    EXPECT_EQ(get_topp(p, w, 0.52, {}).nested(), (Covers{{1, 2}}));
    EXPECT_EQ(get_topp(p, w, 0.518, {}).nested(), (Covers{{1, 2}, {0}}));
    // The second cover weighs 2.0 - 1.8 = 0.2 more: unseen share about e^L-2 / ...
    EXPECT_EQ(get_topp(p, w, 0.0, {}).nested(), (Covers{{1, 2}, {0}}));
    EXPECT_EQ(get_topp(BlockList{}, {}, 0.5, {}).nested(), (Covers{{}}));
    // One element: a second partition only when alpha < 0.12481.
    const BlockList one = BlockList::from({{0}, {0}});
    EXPECT_EQ(get_topp(one, {1.0, 2.0}, 0.125, {}).nested(), (Covers{{0}}));
    EXPECT_EQ(get_topp(one, {1.0, 2.0}, 0.1248, {}).nested(), (Covers{{0}, {1}}));
}
