// Best-first search over partial covers.
//
// Every pending entry carries a score (lower pops first) and an insertion number that breaks
// ties, NaN scores after every number and -0.0 equal to +0.0. A step pops the best entry,
// brings the matrix to it, and reports it complete or a dead end, or offers its children
// (last block of the branch column first) under the `max_heap` cap.
//
// Entries share their prefixes: each pushed child is one record in an arena (parent, block,
// weight sum), and an entry's chosen blocks are read by following parent links. The matrix
// moves between entries through a LinkState.
//
// The scorer (average estimator or block-count model) provides
//   double root_score(const DancingLinks&);
//   void begin_expansion(const DancingLinks&);      // the matrix shows the entry to expand
//   double child_weight_sum(double parent_sum, std::uint64_t block) const;
//   double child_score(const DancingLinks&, const BlockList& relabeled, const ChildContext&);
//   std::uint64_t child_cost(const DancingLinks&) const;  // work units of one child_score
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <vector>

#include "../links/block_list.hpp"
#include "../links/dancinglinks.hpp"
#include "../links/element_index.hpp"
#include "covers.hpp"
#include "../interrupt.hpp"
#include "linkstate.hpp"

namespace xcover {

enum class StepStatus { Expanded, Complete, DeadEnd };

struct SearchCaps {
    std::optional<std::uint64_t> max_iter;
    std::optional<std::uint64_t> max_heap;
};

// One pushed entry: its last block and its parent. Entry 0 is the root.
struct PathNode {
    std::uint64_t parent;
    std::uint64_t block;
    double weight_sum;  // weights of the chosen blocks, summed from -0.0 in order of choice
    std::uint64_t depth;
};

// What a scorer may read about the child it scores.
struct ChildContext {
    const std::vector<std::uint64_t>& parent_blocks;  // in order of choice
    std::uint64_t block;                              // the block the child adds
    double weight_sum;                                // the child's weight sum
};

struct ScoredEntry {
    double score;
    std::uint64_t seq;
    std::uint64_t entry;  // arena index
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
        const std::vector<std::uint64_t>& blocks;  // valid until the next step
        double weight_sum;
        StepStatus status;
    };

    // `make_scorer(index)` builds the scorer once the columns are numbered.
    template <class MakeScorer>
    OrderedSearch(const BlockList& blocks, SearchCaps caps, Interrupt* interrupt,
                  MakeScorer&& make_scorer)
        : step_limit_(caps.max_iter), max_heap_(caps.max_heap), poll_(interrupt) {
        ElementIndex index = build_element_index(blocks, interrupt);
        relabeled_ = relabel_all(index, blocks, interrupt);
        state_.emplace(DancingLinks(relabeled_, index.column_count(), interrupt));
        scorer_.emplace(make_scorer(index));
        arena_.push_back(PathNode{0, 0, -0.0, 0});
        frontier_.push(ScoredEntry{scorer_->root_score(state_->links()), next_seq_++, 0});
    }

    std::optional<Step> step() {
        if (step_limit_) {
            if (*step_limit_ == 0) return std::nullopt;
            --*step_limit_;
        }
        if (done_) return std::nullopt;
        std::optional<ScoredEntry> popped = frontier_.pop_best();
        if (!popped) return std::nullopt;
        poll_.tick();
        const PathNode entry = at(arena_, popped->entry);
        move_to(popped->entry);
        const DancingLinks& links = state_->links();

        const std::uint64_t column = links.choose_column();
        if (column == DancingLinks::kComplete) return Step{blocks_, entry.weight_sum, StepStatus::Complete};
        if (column == DancingLinks::kDeadEnd) return Step{blocks_, entry.weight_sum, StepStatus::DeadEnd};

        branch_blocks_.clear();
        for (std::uint64_t i = links.down(column); i != column; i = links.down(i))
            branch_blocks_.push_back(links.block_of(i));

        bool prepared = false;
        for (auto it = branch_blocks_.rbegin(); it != branch_blocks_.rend(); ++it) {
            if (max_heap_) {
                if (done_) continue;
                if (frontier_.size() >= *max_heap_) {
                    done_ = true;
                    continue;
                }
            }
            if (!prepared) {
                scorer_->begin_expansion(links);
                prepared = true;
            }
            poll_.tick(scorer_->child_cost(links));
            const std::uint64_t block = *it;
            const double weight_sum = scorer_->child_weight_sum(entry.weight_sum, block);
            const double score =
                scorer_->child_score(links, relabeled_, ChildContext{blocks_, block, weight_sum});
            arena_.push_back(PathNode{popped->entry, block, weight_sum, entry.depth + 1});
            frontier_.push(ScoredEntry{score, next_seq_++, arena_.size() - 1});
        }
        return Step{blocks_, entry.weight_sum, StepStatus::Expanded};
    }

    // Steps until `n` complete covers or the end of the search; returns them in order.
    CoverList take_complete(std::uint64_t n) {
        CoverList covers;
        while (covers.size() < n) {
            auto step = this->step();
            if (!step) break;
            if (step->status == StepStatus::Complete) covers.push_list(step->blocks);
        }
        return covers;
    }

    std::uint64_t frontier_size() const noexcept { return frontier_.size(); }
    // Bytes held by the frontier and the arena of pushed entries.
    std::uint64_t frontier_bytes() const noexcept {
        return frontier_.capacity_bytes() + arena_.capacity() * sizeof(PathNode);
    }

private:
    // Brings the matrix and blocks_ to the entry at arena index `target`.
    void move_to(std::uint64_t target) {
        const std::uint64_t depth = at(arena_, target).depth;
        target_blocks_.resize(depth);
        for (std::uint64_t e = target, d = depth; d > 0; e = arena_[e].parent)
            target_blocks_[--d] = arena_[e].block;
        target_columns_.clear();
        for (std::uint64_t block : target_blocks_) {
            const auto columns = relabeled_[block];
            target_columns_.insert(target_columns_.end(), columns.begin(), columns.end());
        }
        state_->restore(target_columns_);
        blocks_.swap(target_blocks_);
    }

    std::optional<std::uint64_t> step_limit_;
    std::optional<std::uint64_t> max_heap_;
    bool done_ = false;
    std::uint64_t next_seq_ = 0;
    BlockList relabeled_;
    std::optional<LinkState> state_;
    std::optional<Scorer> scorer_;
    std::vector<PathNode> arena_;
    OrderedFrontier frontier_;
    InterruptPoll poll_;
    std::vector<std::uint64_t> blocks_;          // blocks of the entry the matrix shows
    std::vector<std::uint64_t> target_blocks_;   // scratch
    std::vector<std::uint64_t> target_columns_;  // scratch
    std::vector<std::uint64_t> branch_blocks_;   // scratch
};

}  // namespace xcover
