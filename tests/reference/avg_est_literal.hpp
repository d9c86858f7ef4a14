// A reference model of the averaging estimator: every score computed from scratch, walking
// every block, exactly as the estimator is defined. The product's AvgScorer must give the
// same bits; tests and the fuzzer compare them, and the ranked benchmark measures against it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <unordered_set>
#include <utility>
#include <vector>

#include "algorithms/knuth_x/algos/average/avg_est.hpp"
#include "algorithms/knuth_x/search/ordered_search.hpp"

namespace xcover::reference {

class AvgEstLiteral {
public:
    AvgEstLiteral(const BlockList& blocks, std::span<const double> weights);

    // (chosen part, remainder bound) of a list of chosen blocks in order of choice.
    std::pair<double, double> estimate(std::span<const std::uint64_t> chosen) const;

private:
    struct Block {
        double weight;
        double share;
        std::vector<std::uint64_t> elements;
    };
    std::vector<Block> rows_;  // per block
};

// The literal estimator as a scorer of the ordered search: every child scored from scratch.
// Slow; kept to measure the incremental scorer against.
class LiteralAvgScorer {
public:
    LiteralAvgScorer(const BlockList& blocks, const std::vector<double>& weights)
        : estimator_(blocks, weights), weights_(weights),
          n_(std::min<std::uint64_t>(blocks.size(), weights.size())) {}

    std::uint64_t child_cost(const DancingLinks&) const { return 1; }
    double root_score(const DancingLinks&) {
        auto [chosen, rest] = estimator_.estimate({});
        return chosen + rest;
    }
    void begin_expansion(const DancingLinks&) {}
    double child_weight_sum(double parent_sum, std::uint64_t block) const {
        return parent_sum + weights_[checked(block, n_)];
    }
    double child_score(const DancingLinks&, const BlockList&, const ChildContext& child) {
        rows_.assign(child.parent_blocks.begin(), child.parent_blocks.end());
        rows_.push_back(child.block);
        auto [chosen, rest] = estimator_.estimate(rows_);
        return chosen + rest;
    }

private:
    AvgEstLiteral estimator_;
    std::vector<double> weights_;
    std::uint64_t n_;
    std::vector<std::uint64_t> rows_;
};

inline AvgEstLiteral::AvgEstLiteral(const BlockList& blocks, std::span<const double> weights) {
    const std::vector<double> shares = block_shares(blocks, weights);
    for (std::uint64_t i = 0; i < shares.size(); ++i) {
        auto block = blocks[i];
        rows_.push_back(Block{weights[i], shares[i], {block.begin(), block.end()}});
    }
}

inline std::pair<double, double> AvgEstLiteral::estimate(std::span<const std::uint64_t> chosen) const {
    std::unordered_set<std::uint64_t> taken;
    double chosen_part = -0.0;
    for (std::uint64_t b : chosen) {
        const Block& row = at(rows_, b);
        chosen_part += row.weight;
        taken.insert(row.elements.begin(), row.elements.end());
    }
    std::uint64_t largest = 0;
    for (const Block& row : rows_)
        for (std::uint64_t e : row.elements) largest = std::max(largest, e);
    const std::uint64_t slot_count = largest + 1;  // wraps to 0 for 2^64 - 1
    if (slot_count > (std::uint64_t{1} << 59)) fail("capacity overflow");
    std::vector<std::optional<double>> least(slot_count);

    for (const Block& row : rows_) {
        if (!taken.empty() &&
            std::any_of(row.elements.begin(), row.elements.end(),
                        [&](std::uint64_t e) { return taken.count(e) != 0; }))
            continue;
        for (std::uint64_t e : row.elements) {
            auto& slot = at(least, e);
            if (!slot || *slot > row.share) slot = row.share;
        }
    }
    double remainder = -0.0;
    for (const auto& slot : least)
        if (slot) remainder += *slot;
    return {chosen_part, remainder};
}

}  // namespace xcover::reference
