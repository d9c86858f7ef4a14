// The block-count model and get_topn_sc.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <random>
#include <set>

#include "algorithms/knuth_x/algos/block_count/get_topn_sc.hpp"
#include "algorithms/knuth_x/algos/block_count/min_est.hpp"
#include "algorithms/knuth_x/seeded_hash.hpp"
#include "brute_force.hpp"

using namespace xcover;
using xcover::testing::Blocks;
using xcover::testing::Covers;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

Covers topn_sc(const Blocks& blocks, std::vector<double> w, std::vector<std::uint64_t> e,
               std::uint64_t et, std::vector<std::uint64_t> l, std::uint64_t vt, std::uint64_t n,
               SearchCaps caps = {}) {
    return get_topn_sc(BlockList::from(blocks),
                       BlockCountInputs{std::move(w), std::move(e), et, std::move(l), vt}, n, caps)
        .nested();
}

}  // namespace

TEST(MinEst, TableAndNaNRules) {
    EXPECT_EQ(build_min_est(std::vector<std::uint64_t>{2, 1, 1}, std::vector<double>{1.0, 0.4, 0.4}, 2),
              (std::vector<double>{0.4, 0.8}));
    // A NaN weight extends the sizes but never enters; the table has one entry per element.
    auto t = build_min_est(std::vector<std::uint64_t>{3, 1}, std::vector<double>{kNaN, 2.0}, 4);
    EXPECT_EQ(t, (std::vector<double>{2.0, 4.0, 6.0, 8.0}));
    // Shorter weights end the pairing.
    EXPECT_EQ(build_min_est(std::vector<std::uint64_t>{1, 1}, std::vector<double>{5.0}, 1),
              (std::vector<double>{5.0}));
    EXPECT_EQ(build_min_est(std::vector<std::uint64_t>{}, std::vector<double>{}, 2),
              (std::vector<double>{kInf, kInf}));
}

TEST(LabelAndEdgeTerms, Values) {
    EXPECT_NEAR(label_term(std::vector<std::uint64_t>{1, 1}, 0), -std::log(2.0), 1e-12);
    EXPECT_NEAR(edge_term(2), std::log(3.0), 1e-12);
    EXPECT_NEAR(edge_term(3), std::log(15.0), 1e-12);
    EXPECT_EQ(edge_term(0), 0.0);
    EXPECT_EQ(edge_term(1), 0.0);
    // T = D + a can reach 2^64: computed without wrapping.
    EXPECT_TRUE(std::isfinite(label_term(std::vector<std::uint64_t>{1}, UINT64_MAX)));
    EXPECT_GT(-label_term(std::vector<std::uint64_t>{1}, UINT64_MAX), 7.9e20);
    EXPECT_NEAR(edge_term(UINT64_MAX), 8.1e20, 0.1e20);
}

TEST(GetTopnSc, DocumentedResults) {
    const Blocks p = {{0, 1}, {0}, {1}};
    const std::vector<double> w = {1.0, 0.4, 0.4};
    EXPECT_EQ(topn_sc(p, w, {1, 0, 0}, 3, {7, 7, 8}, 2, 2), (Covers{{0}, {1, 2}}));
    EXPECT_EQ(topn_sc(p, w, {0, 0, 0}, 3, {7, 7, 8}, 2, 2), (Covers{{1, 2}, {0}}));
    EXPECT_EQ(topn_sc(p, w, {0, 0, 0}, 3, {7, 7, 8}, 2, 1), (Covers{{1, 2}}));
    EXPECT_EQ(topn_sc({}, {}, {}, 0, {}, 0, 3), (Covers{{}}));
    EXPECT_EQ(topn_sc(p, w, {1, 0, 0}, 3, {7, 7, 8}, 2, 2, {0, {}}), Covers{});
    EXPECT_EQ(topn_sc(p, w, {1, 0, 0}, 3, {7, 7, 8}, 2, 2, {{}, 0}), Covers{});
    // n = 0 scores nothing but the root, even with every list empty.
    EXPECT_EQ(topn_sc(p, {}, {}, 3, {}, 2, 0), Covers{});
    // Short lists fail when a child reads them.
    EXPECT_THROW(topn_sc(p, w, {1, 0, 0}, 3, {7}, 2, 2), InternalFailure);
    EXPECT_THROW(topn_sc(p, {1.0}, {1, 0, 0}, 3, {7, 7, 8}, 2, 2), InternalFailure);
    // edge_counts is read only for complete scores.
    EXPECT_THROW(topn_sc(p, w, {}, 3, {7, 7, 8}, 2, 2), InternalFailure);
    EXPECT_NO_THROW(topn_sc(p, w, {}, 3, {7, 7, 8}, 100, 2));
}

TEST(GetTopnSc, ScoresOfTheDocumentedCovers) {
    BlockCountModel model(BlockList::from({{0, 1}, {0}, {1}}),
                          BlockCountInputs{{1.0, 0.4, 0.4}, {1, 0, 0}, 3, {7, 7, 8}, 2});
    EXPECT_EQ(model.min_est(), (std::vector<double>{0.4, 0.8}));
    EXPECT_NEAR(model.score(std::vector<std::uint64_t>{0}), 2.0986, 1e-4);
    EXPECT_NEAR(model.score(std::vector<std::uint64_t>{1, 2}), 2.8149, 1e-4);
}

TEST(GetTopnSc, CompleteScoresComeOutInOrder) {
    // With finite weights, vertex_total equal to the element count and no repeated element,
    // covers leave the search in nondecreasing complete score.
    std::mt19937_64 rng(21);
    for (int round = 0; round < 1500; ++round) {
        Blocks blocks = xcover::testing::random_blocks(rng, 10, 6);
        for (auto& b : blocks) {
            std::sort(b.begin(), b.end());
            b.erase(std::unique(b.begin(), b.end()), b.end());
        }
        std::set<std::uint64_t> ground;
        for (auto& b : blocks) ground.insert(b.begin(), b.end());
        std::vector<double> w;
        std::vector<std::uint64_t> e, l;
        for (std::size_t i = 0; i < blocks.size(); ++i) {
            w.push_back(std::uniform_real_distribution<double>(0, 3)(rng));
            e.push_back(rng() % 3);
            l.push_back(rng() % 3);
        }
        const std::uint64_t edge_total = 6 + rng() % 4;
        BlockCountModel model(BlockList::from(blocks), BlockCountInputs{w, e, edge_total, l, ground.size()});
        const Covers result = topn_sc(blocks, w, e, edge_total, l, ground.size(), 1000);
        ASSERT_EQ(xcover::testing::sorted_covers(result),
                  xcover::testing::sorted_covers(xcover::testing::brute_force_covers(blocks)));
        double previous = -kInf;
        for (const auto& cover : result) {
            const double s = model.score(cover);
            EXPECT_GE(s, previous - 1e-9) << round;
            previous = s;
        }
    }
}

TEST(SeededHash, SpreadsKeysThatAModuloHashPilesUp) {
    // Multiples of a bucket count all land in bucket 0 under an identity hash.
    const std::uint64_t buckets = 1741;
    std::set<std::uint64_t> used;
    SeededHash hash;
    for (std::uint64_t i = 0; i < buckets; ++i) used.insert(hash(i * buckets) % buckets);
    EXPECT_GT(used.size(), buckets / 2);
    EXPECT_EQ(hash.seed, hash_seed());  // one seed per process
}

TEST(MinEst, OneWideBlockStaysLinear) {
    // A single block of 200000 elements: only one entry of the table is finite, so the fold
    // pairs nothing (a full pairing would take 10^10 steps).
    const std::uint64_t m = 200000;
    const auto t = build_min_est(std::vector<std::uint64_t>{m}, std::vector<double>{3.0}, m);
    ASSERT_EQ(t.size(), m);
    EXPECT_EQ(t[m - 1], 3.0);
    EXPECT_EQ(t[m - 2], kInf);
}

TEST(MinEst, SkippingEntriesThatCannotLowerASumKeepsEveryBit) {
    // The table against the fold written out in full, with NaN, infinities and signed zeros.
    std::mt19937_64 rng(17);
    static const double kValues[] = {kNaN, kInf, -kInf, 0.0, -0.0, 1.5, 0.25, 3.0, -1.0};
    for (int round = 0; round < 500; ++round) {
        const std::size_t blocks = rng() % 8;
        std::vector<std::uint64_t> sizes(blocks);
        std::vector<double> weights(blocks);
        for (std::size_t i = 0; i < blocks; ++i) {
            sizes[i] = rng() % 7;
            weights[i] = kValues[rng() % std::size(kValues)];
        }
        const std::uint64_t m = rng() % 12;
        std::vector<double> by_size;
        for (std::size_t i = 0; i < blocks; ++i) {
            if (sizes[i] == 0) continue;
            if (by_size.size() < sizes[i]) by_size.resize(sizes[i], kInf);
            if (by_size[sizes[i] - 1] > weights[i]) by_size[sizes[i] - 1] = weights[i];
        }
        std::vector<double> full;
        for (std::uint64_t k = 0; k < m; ++k) {
            double v = k < by_size.size() ? by_size[k] : kInf;
            for (std::uint64_t j = 0; k > 0 && j <= (k - 1) / 2; ++j) {
                const double t = full[j] + full[k - 1 - j];
                if (t < v) v = t;
            }
            full.push_back(v);
        }
        const auto fast = build_min_est(sizes, weights, m);
        ASSERT_EQ(fast.size(), full.size());
        for (std::uint64_t k = 0; k < m; ++k)
            ASSERT_EQ(std::bit_cast<std::uint64_t>(fast[k]), std::bit_cast<std::uint64_t>(full[k]))
                << round << " " << k;
    }
}
