// The block-count likelihood model behind get_topn_sc.
//
// A cover's cost adds the weights of its blocks, a label term (minus the log of the number of
// distinct orderings of the chosen blocks' labels, against the number of vertices) and an edge
// term (the log of the number of ways to pair up the ends of the edges left outside the
// blocks). A partial cover replaces the weights still to come by a lower bound from the
// min_est table and leaves out the edge term.
//
// The per-label terms are added in the order in which each label first appears among the
// chosen blocks, so the same call gives the same bits in every process. Scoring a child
// allocates nothing: the labels are numbered once, and the counts live in scratch storage
// of the model, reused from child to child.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "../../links/block_list.hpp"
#include "../../links/dancinglinks.hpp"
#include "../../search/ordered_search.hpp"

namespace xcover {

struct BlockCountInputs {
    std::vector<double> weights;
    std::vector<std::uint64_t> edge_counts;
    std::uint64_t edge_total = 0;
    std::vector<std::uint64_t> labels;
    std::uint64_t vertex_total = 0;
};

// ln(c1! ... cL!) - ln((D + a)!) with D = c1 + ... + cL.
double label_term(std::span<const std::uint64_t> counts, std::uint64_t extra);

// ln((2R - 1)!!), 0 for R < 2.
double edge_term(std::uint64_t r);

class BlockCountModel {
public:
    // Builds the min_est table, polling the Interrupt (when given) while it does.
    BlockCountModel(const BlockList& blocks, BlockCountInputs inputs, Interrupt* interrupt = nullptr);

    // The score of a list of chosen blocks in order of choice.
    double score(std::span<const std::uint64_t> chosen);
    // The score of chosen blocks taken as a complete cover, however many elements they hold:
    // weights, label term and edge term (what score gives once they hold vertex_total).
    double cover_score(std::span<const std::uint64_t> chosen);

    const std::vector<double>& min_est() const noexcept { return min_est_; }
    std::uint64_t element_count() const noexcept { return element_count_; }

    // The scorer interface of OrderedSearch.
    double root_score(const DancingLinks&) { return score({}); }
    void begin_expansion(const DancingLinks&) {}
    double child_weight_sum(double parent_sum, std::uint64_t block) const {
        // Only get_topp reads the running weight sum; the score reads the weights itself, in
        // its own order, and fails there for a block beyond them.
        return block < inputs_.weights.size() ? parent_sum + inputs_.weights[block] : parent_sum;
    }
    double child_score(const DancingLinks&, const BlockList&, const ChildContext& child);
    std::uint64_t child_cost(const DancingLinks&) const { return 1; }

private:
    // The counts of the chosen blocks' labels, in order of first appearance, into counts_.
    void count_labels(std::span<const std::uint64_t> chosen);

    std::vector<std::uint64_t> sizes_;
    BlockCountInputs inputs_;
    std::vector<double> min_est_;
    std::uint64_t element_count_;
    std::vector<std::uint64_t> scratch_blocks_;
    // label_id_[b]: block b's label numbered densely, for the blocks that have a label.
    std::vector<std::uint32_t> label_id_;
    // Per label number: the call of count_labels that last saw it, and its place in counts_.
    std::vector<std::uint64_t> label_seen_;
    std::vector<std::uint32_t> label_slot_;
    std::uint64_t count_call_ = 0;
    std::vector<std::uint64_t> counts_;
};

}  // namespace xcover
