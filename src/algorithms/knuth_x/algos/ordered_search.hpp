// Best-first search over partial exact covers.
//
// Every pending entry carries a score (lower pops first) and an insertion number that breaks
// ties, NaN scores after every number and -0.0 equal to +0.0. The step machine is the one of
// the depth-first search: pop, bring the matrix to the entry, report it complete or a dead
// end, or offer its children (last row of the branch column first) under the `max_heap` cap.
//
// Entries share their prefixes: each pushed child is one record in an arena (parent, block,
// weight sum), and an entry's chosen blocks are read by following parent links. The matrix
// moves between entries by uncovering the blocks after the common prefix and covering the new
// ones, which leaves it exactly as covering the entry's blocks from scratch would.
//
// The scorer (average estimator or block-count model) provides
//   double root_score(const DancingLinks&);
//   void begin_expansion(const DancingLinks&);      // the matrix shows the entry to expand
//   double child_weight_sum(double parent_sum, std::uint64_t block) const;
//   double child_score(DancingLinks&, const BlockList& relabeled, const ChildContext&);
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <vector>

#include "../links/block_list.hpp"
#include "../links/dancinglinks.hpp"
#include "../links/element_index.hpp"
#include "../search/searchstate.hpp"
#include "get_all.hpp"

namespace xcover {

struct SearchCaps {
    std::optional<std::uint64_t> max_iter;
    std::optional<std::uint64_t> max_heap;
};

// One pushed entry: its last block and its parent. Node 0 is the root.
struct PathNode {
    std::uint64_t parent;
    std::uint64_t block;
    double weight_sum;  // weights of the chosen blocks, summed from -0.0 in order of choice
    std::uint64_t depth;
};

// What a scorer may read about the child it scores.
struct ChildContext {
    const std::vector<std::uint64_t>& parent_rows;  // the parent's blocks, in order of choice
    std::uint64_t block;                            // the block the child adds
    double weight_sum;                              // the child's weight sum
};

struct ScoredEntry {
    double score;
    std::uint64_t seq;
    std::uint64_t node;
};

// True when `a` pops before `b`.
inline bool pops_before(const ScoredEntry& a, const ScoredEntry& b) {
    const bool a_nan = std::isnan(a.score);
    const bool b_nan = std::isnan(b.score);
    if (a_nan != b_nan) return b_nan;
    if (!a_nan) {
        if (a.score < b.score) return true;
        if (b.score < a.score) return false;
    }
    return a.seq < b.seq;
}

class OrderedFrontier {
public:
    void push(ScoredEntry entry) {
        heap_.push_back(entry);
        std::push_heap(heap_.begin(), heap_.end(), pops_later);
    }
    std::optional<ScoredEntry> pop_best() {
        if (heap_.empty()) return std::nullopt;
        std::pop_heap(heap_.begin(), heap_.end(), pops_later);
        ScoredEntry best = heap_.back();
        heap_.pop_back();
        return best;
    }
    std::uint64_t size() const noexcept { return heap_.size(); }
    std::uint64_t capacity_bytes() const noexcept { return heap_.capacity() * sizeof(ScoredEntry); }

private:
    static bool pops_later(const ScoredEntry& a, const ScoredEntry& b) { return pops_before(b, a); }
    std::vector<ScoredEntry> heap_;
};

template <class Scorer>
class OrderedSearch {
public:
    struct Step {
        const std::vector<std::uint64_t>& rows;  // valid until the next step
        double weight_sum;
        StepStatus status;
    };

    // `make_scorer(index)` builds the scorer once the columns are numbered.
    template <class MakeScorer>
    OrderedSearch(const BlockList& partitions, SearchCaps caps, MakeScorer&& make_scorer)
        : step_limit_(caps.max_iter), max_heap_(caps.max_heap) {
        ElementIndex index = build_element_index(partitions);
        relabeled_ = relabel_all(index, partitions);
        links_.emplace(relabeled_, index.column_count());
        scorer_.emplace(make_scorer(index));
        arena_.push_back(PathNode{0, 0, -0.0, 0});
        frontier_.push(ScoredEntry{scorer_->root_score(*links_), next_seq_++, 0});
    }

    std::optional<Step> step() {
        if (step_limit_) {
            if (*step_limit_ == 0) return std::nullopt;
            --*step_limit_;
        }
        if (done_) return std::nullopt;
        std::optional<ScoredEntry> popped = frontier_.pop_best();
        if (!popped) return std::nullopt;
        const PathNode node = at(arena_, popped->node);
        move_to(popped->node);

        const std::uint64_t slot = links_->pick_slot();
        if (slot == DancingLinks::kComplete) return Step{rows_, node.weight_sum, StepStatus::Complete};
        if (slot == DancingLinks::kDeadEnd) return Step{rows_, node.weight_sum, StepStatus::DeadEnd};

        branch_rows_.clear();
        const std::uint64_t head = links_->column_slot(slot).head;
        for (std::uint64_t i = links_->links(head).down; i != head; i = links_->links(i).down)
            branch_rows_.push_back(links_->row(i));

        bool prepared = false;
        for (auto it = branch_rows_.rbegin(); it != branch_rows_.rend(); ++it) {
            if (max_heap_) {
                if (done_) continue;
                if (frontier_.size() >= *max_heap_) {
                    done_ = true;
                    continue;
                }
            }
            if (!prepared) {
                scorer_->begin_expansion(*links_);
                prepared = true;
            }
            const std::uint64_t block = *it;
            const double weight_sum = scorer_->child_weight_sum(node.weight_sum, block);
            const double score =
                scorer_->child_score(*links_, relabeled_, ChildContext{rows_, block, weight_sum});
            arena_.push_back(PathNode{popped->node, block, weight_sum, node.depth + 1});
            frontier_.push(ScoredEntry{score, next_seq_++, arena_.size() - 1});
        }
        return Step{rows_, node.weight_sum, StepStatus::Expanded};
    }

    std::uint64_t frontier_size() const noexcept { return frontier_.size(); }
    // Bytes held by the frontier and the arena of pushed entries.
    std::uint64_t frontier_bytes() const noexcept {
        return frontier_.capacity_bytes() + arena_.capacity() * sizeof(PathNode);
    }

private:
    // Brings the matrix and rows_ to the entry of arena node `target`.
    void move_to(std::uint64_t target) {
        const std::uint64_t depth = arena_[target].depth;
        target_rows_.resize(depth);
        for (std::uint64_t n = target, d = depth; d > 0; n = arena_[n].parent)
            target_rows_[--d] = arena_[n].block;

        std::uint64_t common = 0;
        const std::uint64_t limit = std::min<std::uint64_t>(rows_.size(), depth);
        while (common < limit && rows_[common] == target_rows_[common]) ++common;
        // Last covered, first uncovered.
        for (std::uint64_t d = rows_.size(); d > common; --d) {
            const auto columns = relabeled_[rows_[d - 1]];
            for (auto it = columns.rbegin(); it != columns.rend(); ++it) links_->uncover(*it);
        }
        for (std::uint64_t d = common; d < depth; ++d)
            for (std::uint64_t c : relabeled_[target_rows_[d]]) links_->cover(c);
        rows_.swap(target_rows_);
    }

    std::optional<std::uint64_t> step_limit_;
    std::optional<std::uint64_t> max_heap_;
    bool done_ = false;
    std::uint64_t next_seq_ = 0;
    BlockList relabeled_;
    std::optional<DancingLinks> links_;
    std::optional<Scorer> scorer_;
    std::vector<PathNode> arena_;
    OrderedFrontier frontier_;
    std::vector<std::uint64_t> rows_;         // blocks of the entry the matrix shows
    std::vector<std::uint64_t> target_rows_;  // scratch
    std::vector<std::uint64_t> branch_rows_;  // scratch
};

}  // namespace xcover
