// The block-count bound table against the quadratic fold of tests/reference, bit for bit, in
// each of the ways build_min_est takes (exact knapsack, pairwise fold, skipped pairs), and
// its interruption.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <random>

#include "algorithms/knuth_x/algos/block_count/get_topn_sc.hpp"
#include "algorithms/knuth_x/algos/block_count/min_est.hpp"
#include "reference/min_est_quadratic.hpp"

using namespace xcover;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct Table {
    std::vector<std::uint64_t> sizes;
    std::vector<double> weights;
    std::uint64_t elements = 0;
};

void expect_same_bits(const Table& t, const char* what, int round) {
    const auto fast = build_min_est(t.sizes, t.weights, t.elements);
    const auto slow = reference::min_est_quadratic(t.sizes, t.weights, t.elements);
    ASSERT_EQ(fast.size(), slow.size()) << what << " " << round;
    for (std::size_t k = 0; k < fast.size(); ++k)
        ASSERT_EQ(std::bit_cast<std::uint64_t>(fast[k]), std::bit_cast<std::uint64_t>(slow[k]))
            << what << " round " << round << " entry " << k << ": " << fast[k] << " vs " << slow[k];
}

// `blocks` blocks of sizes 1..max_size, weights drawn by `weight`.
template <class Weight>
Table random_table(std::mt19937_64& rng, std::size_t blocks, std::uint64_t max_size,
                   std::uint64_t elements, Weight&& weight) {
    Table t;
    t.elements = elements;
    for (std::size_t i = 0; i < blocks; ++i) {
        t.sizes.push_back(1 + rng() % max_size);
        t.weights.push_back(weight(rng));
    }
    if (rng() % 4 == 0 && !t.weights.empty()) t.weights.pop_back();  // shorter weights
    if (rng() % 8 == 0) t.sizes.push_back(0);
    return t;
}

double dyadic(std::mt19937_64& rng, bool negative) {
    const double v = std::ldexp(static_cast<double>(1 + rng() % 1000), static_cast<int>(rng() % 9) - 4);
    return negative ? -v : v;
}

double real_weight(std::mt19937_64& rng) {
    return std::uniform_real_distribution<double>(0.01, 5.0)(rng);
}

double special(std::mt19937_64& rng) {
    static const double kValues[] = {kNaN, kInf, -kInf, 0.0, -0.0, 1.5, 0.25, 3.0, -1.0, 0.1, -0.3};
    return kValues[rng() % std::size(kValues)];
}

}  // namespace

TEST(MinEstDifferential, ExactWeightsTakeTheKnapsack) {
    std::mt19937_64 rng(101);
    for (int round = 0; round < 300; ++round) {
        const bool negative = round % 3 == 0;
        Table t = random_table(rng, 1 + rng() % 6, 1 + rng() % 5, 20 + rng() % 300,
                               [&](std::mt19937_64& r) { return dyadic(r, negative); });
        expect_same_bits(t, "exact", round);
    }
}

TEST(MinEstDifferential, RealWeightsTakeThePairwiseFold) {
    std::mt19937_64 rng(102);
    for (int round = 0; round < 300; ++round) {
        Table t = random_table(rng, rng() % 12, 1 + rng() % 20, rng() % 300, real_weight);
        expect_same_bits(t, "real", round);
    }
}

TEST(MinEstDifferential, SpecialValuesAndMixedSigns) {
    std::mt19937_64 rng(103);
    for (int round = 0; round < 2000; ++round) {
        Table t = random_table(rng, rng() % 10, 1 + rng() % 8, rng() % 40, [&](std::mt19937_64& r) {
            return r() % 2 ? special(r) : (r() % 2 ? dyadic(r, r() % 2) : real_weight(r));
        });
        expect_same_bits(t, "special", round);
    }
}

TEST(MinEstDifferential, CheapWideBlocksSkipThePairs) {
    // Weights that grow slower than the size: an entry's own weight is below every pair sum.
    std::mt19937_64 rng(104);
    for (int round = 0; round < 100; ++round) {
        Table t;
        t.elements = 50 + rng() % 400;
        for (std::uint64_t s = 1; s <= t.elements; ++s) {
            t.sizes.push_back(s);
            t.weights.push_back(std::sqrt(static_cast<double>(s)) * real_weight(rng));
        }
        expect_same_bits(t, "wide", round);
    }
}

TEST(MinEstDifferential, SignedZerosKeepTheFirstOfEqualSums) {
    // Tables of zeros of both signs: every pair sum ties, and the sign of the result is the
    // one of the first sum in order.
    std::mt19937_64 rng(105);
    for (int round = 0; round < 1000; ++round) {
        Table t = random_table(rng, 1 + rng() % 8, 1 + rng() % 4, rng() % 40, [](std::mt19937_64& r) {
            const std::uint64_t pick = r() % 5;
            return pick < 2 ? 0.0 : pick < 4 ? -0.0 : 1.0;
        });
        expect_same_bits(t, "zeros", round);
    }
}

TEST(MinEstDifferential, WeightsWithinAnUlpOfThePairSums) {
    // Each size's weight is the table's entry from the smaller sizes moved by at most one
    // unit in the last place: a bound that skips the pairs must be exact to the bit.
    std::mt19937_64 rng(106);
    for (int round = 0; round < 300; ++round) {
        Table t;
        t.elements = 20 + rng() % 100;
        t.sizes.push_back(1);
        t.weights.push_back(real_weight(rng));
        for (std::uint64_t s = 2; s <= t.elements; ++s) {
            const auto below = reference::min_est_quadratic(t.sizes, t.weights, s);
            const double toward[] = {-kInf, kInf, below[s - 1]};
            t.sizes.push_back(s);
            t.weights.push_back(std::nextafter(below[s - 1], toward[rng() % 3]));
        }
        expect_same_bits(t, "near ties", round);
    }
}

TEST(MinEstDifferential, SingletonsOfOneWeight) {
    // One size: the fold's groupings round differently from a running sum unless the sums are
    // exact, so the exact weights go one way and the others the other.
    for (double w : {1.0, 0.1, 0.7, 1.0 / 3.0, 2.5, -0.75, 1e-3, 3e-310, 1e300}) {
        Table t;
        t.elements = 700;
        t.sizes.assign(700, 1);
        t.weights.assign(700, 5.0);
        t.weights[350] = w;
        expect_same_bits(t, "singletons", static_cast<int>(w * 1000));
    }
}

TEST(MinEstDifferential, AtTheEdgeOfExactSums) {
    // Odd multiples of 2^-3 near 2^43 units: n * units crosses 2^53 between n = 1023 and 1025.
    for (std::uint64_t n = 1020; n <= 1028; ++n) {
        for (double units : {0x1p43 + 1, 0x1p43 - 1, 0x1p43 + 7}) {
            Table t;
            t.elements = n;
            t.sizes = {1, 3, 5};
            t.weights = {units * 0.125, units * 0.125 * 2.5, units * 0.125 * 4.75};
            expect_same_bits(t, "edge", static_cast<int>(n));
        }
    }
}

namespace {

// Says yes from its first poll on, and counts its polls.
struct StopAtOnce final : Interrupt {
    std::uint64_t polls = 0;
    bool requested() override {
        ++polls;
        return true;
    }
};

}  // namespace

TEST(MinEstInterrupt, ATableOfManySingletonsStopsWhenAsked) {
    const std::uint64_t m = 200000;  // the full fold would pair 10^10 entries
    std::vector<std::uint64_t> sizes(m, 1);
    std::vector<double> real(m, 0.7), exact(m, 1.0);
    StopAtOnce stop;
    EXPECT_THROW(build_min_est(sizes, real, m, &stop), SearchInterrupted);
    EXPECT_EQ(stop.polls, 1u);
    EXPECT_THROW(build_min_est(sizes, exact, m, &stop), SearchInterrupted);
    EXPECT_EQ(stop.polls, 2u);
}

TEST(MinEstInterrupt, GetTopnScPollsWhileBuildingTheModel) {
    // n = 0 never steps the search: only the table's set-up can see the request.
    const std::uint64_t m = 30000;
    std::vector<std::vector<std::uint64_t>> blocks;
    for (std::uint64_t i = 0; i < m; ++i) blocks.push_back({i});
    BlockCountInputs inputs{std::vector<double>(m, 0.7), std::vector<std::uint64_t>(m, 0), 0,
                            std::vector<std::uint64_t>(m, 1), m};
    StopAtOnce stop;
    EXPECT_THROW(get_topn_sc(BlockList::from(blocks), inputs, 0, {}, &stop), SearchInterrupted);
    EXPECT_GE(stop.polls, 1u);
    EXPECT_EQ(get_topn_sc(BlockList::from(blocks), inputs, 0, {}, nullptr).size(), 0u);
}
