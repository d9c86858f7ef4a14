// The averaging estimator that orders the search of get_top, get_topn and get_topp.
//
// The score of a partial cover is its chosen part (the weights of the chosen blocks, summed
// from -0.0 in order of choice) plus a remainder bound: for every element not yet covered,
// the least share (weight / number of entries) among the blocks that could still cover it,
// summed in increasing element value. The bound never exceeds what a completion adds, so
// complete covers leave the frontier in nondecreasing weight sum. With secondary elements
// (which a cover may leave uncovered) only primary elements have a term, and a share divides
// by the block's primary entries (primary_shares).
//
// AvgScorer scores a child from the matrix of its parent: the blocks that could still cover an
// element are exactly the blocks left in that element's column, so only the columns whose
// blocks the child removes need a new least share. (tests/reference/avg_est_literal.hpp
// scores from scratch and gives the same bits.)
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <span>
#include <utility>
#include <vector>

#include "../../links/block_list.hpp"
#include "../../links/dancinglinks.hpp"
#include "../../links/element_index.hpp"
#include "../../search/ordered_search.hpp"

namespace xcover {

// Bits of the block signatures that let a scorer rule out most overlaps with one AND.
inline constexpr std::uint64_t kSignatureBits = 64;

// The share of each of the first min(blocks, weights) blocks: weight / entry count (duplicates
// counted), as a 64-bit division.
std::vector<double> block_shares(const BlockList& blocks, std::span<const double> weights);

// The same over the primary entries only (duplicates counted) when `index` has secondary
// columns: a completion's blocks then cover each uncovered primary element once and any
// secondary ones at most once, so the weight spread over primary entries alone splits the
// completion's weight exactly over the primary elements, whatever the signs of the weights.
// A block with no primary entry is never chosen; its share is its weight.
std::vector<double> primary_shares(const BlockList& blocks, std::span<const double> weights,
                                   const ElementIndex& index);

class AvgScorer {
public:
    // A key only orders entries: a child alone on the frontier is not scored (expansion.hpp).
    static constexpr bool kKeysOnlyOrder = true;
    // With colors, the blocks that could still cover an element are those left in its column
    // once the child is chosen, colors agreeing (meets_child_colored).
    static constexpr bool kHandlesColors = true;

    AvgScorer(const BlockList& blocks, std::vector<double> weights, const ElementIndex& index);

    // Keeps the search to the covers without the blocks flagged in `ruled_out` (one flag per
    // block): they stay in the matrix, so columns are chosen and children scored exactly as
    // without it, but they are never children. Shared, read-only, by the helpers' copies.
    void rule_out(std::shared_ptr<const std::vector<char>> ruled_out) { ruled_out_ = std::move(ruled_out); }
    bool rules_out(std::uint64_t block) const { return ruled_out_ != nullptr && at(*ruled_out_, block) != 0; }

    // Score of the root: every block can still be chosen. Also indexes the matrix.
    double root_score(const DancingLinks& links);

    // Records, per column, where the least share of the entry about to be expanded comes
    // from; `links` shows that entry's matrix.
    void begin_expansion(const DancingLinks& links);

    // The weight sum of a child: its parent's sum plus the block's weight.
    double child_weight_sum(double parent_sum, std::uint64_t block) const;

    // The score of the child that adds `block` to the entry prepared by begin_expansion.
    // The matrix is only read.
    double child_score(const DancingLinks& links, const BlockList& relabeled, const ChildContext& child);
    // One child's scoring walks every column once.
    std::uint64_t child_cost(const DancingLinks& links) const { return links.column_count() / kSignatureBits + 1; }

private:
    // The least share of a column folds its remaining blocks in index order: a NaN share in
    // the first block stays; otherwise the smallest number wins, the earliest block on ties.
    // So it is fixed by two nodes: the column's first remaining node, and the first remaining
    // node in the column's nodes sorted by (share, block index), NaN shares left out.
    struct Least {
        bool covered;           // the column is covered: no term
        bool present;           // some remaining block below n meets the column
        double value;
        std::uint64_t first;    // the first remaining node
        std::uint64_t min_pos;  // position in the sorted nodes of the least remaining one
        // The signatures of the blocks the value depends on: a child whose signature shares
        // no bit with them leaves the value as it is.
        std::uint64_t depends_on;
    };

    bool remaining(const DancingLinks& links, std::uint64_t node) const;
    bool meets_child(const DancingLinks& links, std::uint64_t node) const;
    bool meets_child_colored(const DancingLinks& links, std::uint64_t node) const;
    double share_of(const DancingLinks& links, std::uint64_t node) const;
    // The least share of a column in the child, given the parent's.
    Least child_least(const DancingLinks& links, std::uint64_t column, const Least& parent) const;

    std::vector<double> weights_;
    std::vector<double> shares_;            // one per block below n
    std::uint64_t n_;                       // min(blocks, weights)
    std::vector<std::uint64_t> by_value_;   // columns in increasing element value
    std::vector<std::uint64_t> sorted_start_;  // per column, into sorted_nodes_ (CSR)
    std::vector<std::uint64_t> sorted_nodes_;  // block nodes by (share, index), NaN left out
    std::vector<Least> parent_least_;       // per column, for the entry being expanded
    std::vector<std::uint64_t> stamp_;      // per column: the child whose block covers it
    std::vector<std::uint32_t> stamp_color_;  // per column: the color that child gives it
    // A 64-bit signature of each block node's block: bit (c mod 64) for each of its columns.
    // Two blocks whose signatures share no bit share no column; with at most 64 columns the
    // test is exact.
    std::vector<std::uint64_t> signature_;
    std::uint64_t child_signature_ = 0;
    std::uint64_t child_counter_ = 0;
    std::shared_ptr<const std::vector<char>> ruled_out_;  // null: no block ruled out
};

}  // namespace xcover
