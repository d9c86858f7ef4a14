// The averaging estimator that orders the search of get_top, get_topn and get_topp.
//
// The score of a partial cover is its chosen part (the weights of the chosen blocks, summed
// from -0.0 in order of choice) plus a remainder bound: for every element not yet covered,
// the least share (weight / number of entries) among the blocks that could still cover it,
// summed in increasing element value. The bound never exceeds what a completion adds, so
// complete covers leave the frontier in nondecreasing weight sum.
//
// Two implementations give the same bits:
// - AvgEstLiteral scores a list of chosen blocks from scratch, walking every block. It is the
//   reference the tests and benchmarks compare against.
// - AvgScorer scores a child from the matrix of its parent: the blocks that could still cover
//   an element are exactly the rows left in that element's column, so only the columns whose
//   rows the child removes need a new least share.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "../links/block_list.hpp"
#include "../links/dancinglinks.hpp"
#include "../links/element_index.hpp"
#include "ordered_search.hpp"

namespace xcover {

// The share of each of the first min(blocks, weights) blocks: weight / entry count (duplicates
// counted), as a 64-bit division.
std::vector<double> block_shares(const BlockList& partitions, std::span<const double> weights);

class AvgEstLiteral {
public:
    AvgEstLiteral(const BlockList& partitions, std::span<const double> weights);

    // (chosen part, remainder bound) of a list of chosen blocks in order of choice.
    std::pair<double, double> estimate(std::span<const std::uint64_t> chosen) const;

private:
    struct Row {
        double weight;
        double share;
        std::vector<std::uint64_t> elements;
    };
    std::vector<Row> rows_;
};

// The literal estimator as a scorer of the ordered search: every child scored from scratch.
// Slow; kept to measure the incremental scorer against.
class LiteralAvgScorer {
public:
    LiteralAvgScorer(const BlockList& partitions, const std::vector<double>& weights)
        : estimator_(partitions, weights), weights_(weights),
          n_(std::min<std::uint64_t>(partitions.size(), weights.size())) {}

    double root_score(const DancingLinks&) {
        auto [chosen, rest] = estimator_.estimate({});
        return chosen + rest;
    }
    void begin_expansion(const DancingLinks&) {}
    double child_weight_sum(double parent_sum, std::uint64_t block) const {
        return parent_sum + weights_[checked(block, n_)];
    }
    double child_score(DancingLinks&, const BlockList&, const ChildContext& child) {
        rows_.assign(child.parent_rows.begin(), child.parent_rows.end());
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

class AvgScorer {
public:
    AvgScorer(const BlockList& partitions, std::vector<double> weights, const ElementIndex& index);

    // Score of the root: every block can still be chosen.
    double root_score(const DancingLinks& links);

    // Prepares the per-column least shares of the entry about to be expanded; `links` shows
    // that entry's matrix.
    void begin_expansion(const DancingLinks& links);

    // The weight sum of a child: its parent's sum plus the block's weight.
    double child_weight_sum(double parent_sum, std::uint64_t block) const;

    // The score of the child that adds `block` to the entry prepared by begin_expansion.
    // The matrix is changed while scoring and left as it was found.
    double child_score(DancingLinks& links, const BlockList& relabeled, const ChildContext& child);

private:
    struct Least {
        double value;
        bool present;
    };
    Least least_of_column(const DancingLinks& links, std::uint64_t column) const;
    // The remainder bound: the least shares of the uncovered columns in increasing element
    // value, the child's where it changed them, the parent's elsewhere.
    double remainder() const;

    std::vector<double> weights_;
    std::vector<double> shares_;            // one per block below n
    std::uint64_t n_;                       // min(blocks, weights)
    std::vector<std::uint64_t> by_value_;   // columns in increasing element value
    std::vector<Least> parent_least_;       // per column, for the entry being expanded
    std::vector<Least> child_least_;        // scratch
    std::vector<std::uint64_t> touched_;    // columns whose least the child changes
    std::vector<std::uint64_t> stamp_;      // per column: last child that touched it
    std::uint64_t child_counter_ = 0;
};

}  // namespace xcover
