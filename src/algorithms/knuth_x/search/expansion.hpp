// Expanding one entry of a best-first search: the one routine both the search's own thread
// and its helpers run.
//
// An entry is a partial cover, its blocks in order of choice. Expanding it brings a matrix to
// it, chooses the branch column and scores one child per block of that column, last block
// first. What is kept of the children, and when to stop scoring them, is the sink's to decide:
// the search's thread applies the `max_heap` cap and polls its Interrupt, a helper keeps every
// child and stops only when the search is cancelled. The children a sink keeps are the same,
// with the same scores, whoever expands the entry.
#pragma once

#include <concepts>
#include <cstdint>
#include <span>
#include <vector>

#include "../links/block_list.hpp"
#include "../links/dancinglinks.hpp"
#include "linkstate.hpp"

namespace xcover {

// Refined: the entry was popped with a first, cheaper key and given its full one, then put
// back among the pending entries (searches whose scorer refines keys, see refines_keys).
enum class StepStatus { Expanded, Complete, DeadEnd, Refined };

// What a scorer may read about the child it scores.
struct ChildContext {
    const std::vector<std::uint64_t>& parent_blocks;  // in order of choice
    std::uint64_t block;                              // the block the child adds
    double weight_sum;                                // the child's weight sum
    // The arena numbers of the entries along parent_blocks (the root first), when the caller
    // keeps them (CurrentPath), else empty: equal numbers at a position mean equal prefixes up
    // to it, so a scorer can keep what it derived from the prefix the paths share.
    std::span<const std::uint32_t> parent_ids = {};
};

// Whether a scorer's keys only order entries among themselves, so that a child that will be
// the only pending entry (the next one popped, compared with nothing) need not be scored:
// a scorer declares `static constexpr bool kKeysOnlyOrder = true;`. Its key is then the
// child's weight sum, which nothing reads.
template <class Scorer>
constexpr bool keys_only_order() {
    if constexpr (requires { Scorer::kKeysOnlyOrder; })
        return Scorer::kKeysOnlyOrder;
    else
        return false;
}

// Whether a scorer keys children lazily: it declares
//   double entry_bound(const DancingLinks& links, const std::vector<std::uint64_t>& path);
// the full key of the entry of `path` that `links` shows, while child_score gives a cheaper
// one (both admissible). The search then pushes children with their cheap keys and refines an
// entry when it first pops it (see ordered_search.hpp).
template <class Scorer>
constexpr bool refines_keys() {
    return requires(Scorer& scorer, const DancingLinks& links, const std::vector<std::uint64_t>& path) {
        { scorer.entry_bound(links, path) } -> std::convertible_to<double>;
    };
}

// Whether a scorer's keys stay admissible in a matrix with colors (colors.hpp), where a child
// removes the blocks giving one of its colored columns another color and keeps those giving
// the same: it declares `static constexpr bool kHandlesColors = true;`.
template <class Scorer>
constexpr bool handles_colors() {
    if constexpr (requires { Scorer::kHandlesColors; })
        return Scorer::kHandlesColors;
    else
        return false;
}

// Whether the scorer rules `block` out as a child: a scorer may declare
//   bool rules_out(std::uint64_t block) const;
// to keep the search to the covers without such blocks (ranked streams with `include`). A
// child ruled out is never scored nor pushed; the others keep their scores and their order.
template <class Scorer>
bool rules_out(const Scorer& scorer, std::uint64_t block) {
    if constexpr (requires { { scorer.rules_out(block) } -> std::convertible_to<bool>; })
        return scorer.rules_out(block);
    else
        return false;
}

// An expansion done ahead: the entry's status and, when expanded, every child in push order
// with the key of its score.
struct ExpansionResult {
    StepStatus status = StepStatus::DeadEnd;
    double weight_sum = -0.0;  // the entry's own
    double full_bound = 0.0;   // status Refined: the entry's full key (entry_bound)
    std::vector<std::uint32_t> blocks;
    std::vector<std::uint64_t> keys;
};

// An entry's weight sum: the scorer's child_weight_sum folded along its blocks from -0.0.
template <class Scorer>
double weight_sum_of(const Scorer& scorer, const std::vector<std::uint64_t>& path) {
    double sum = -0.0;
    for (std::uint64_t block : path) sum = scorer.child_weight_sum(sum, block);
    return sum;
}

// Brings the matrix of `state` to the entry of `path` (`moves` is scratch).
inline void restore_path(LinkState& state, const BlockList& relabeled,
                         const std::vector<std::uint64_t>& path, std::vector<std::uint64_t>& moves) {
    moves.clear();
    for (std::uint64_t block : path) state.moves_of(relabeled, block, moves);
    state.restore(moves);
}

// Expands the entry of `path` (weight sum `entry_sum`) that `links` shows. A sink provides
//   bool admit();                      // may another child be scored? false ends the expansion
//   void charge(std::uint64_t work);   // the work of the child about to be scored
//   void accept(std::uint64_t block, double score);
// A scorer may provide `bool rules_out(links, relabeled, child)`: a child it rules out is
// neither scored nor offered to the sink. The scorer prepares (begin_expansion) only once a first child is admitted. `branch` is
// scratch. A sink may provide `bool alone()`, true when no other entry is pending: a branch
// of one block then makes a lone child, which a scorer whose keys only order entries
// (keys_only_order) does not score. `path_ids` are the arena numbers along `path`, if known.
template <class Scorer, class Sink>
StepStatus expand_entry(const DancingLinks& links, Scorer& scorer, const BlockList& relabeled,
                        const std::vector<std::uint64_t>& path, double entry_sum,
                        std::vector<std::uint64_t>& branch, Sink& sink,
                        std::span<const std::uint32_t> path_ids = {}) {
    const std::uint64_t column = links.choose_column();
    if (column == DancingLinks::kComplete) return StepStatus::Complete;
    if (column == DancingLinks::kDeadEnd) return StepStatus::DeadEnd;

    branch.clear();
    for (std::uint64_t i = links.down(column); i != column; i = links.down(i))
        if (!rules_out(scorer, links.block_of(i))) branch.push_back(links.block_of(i));

    bool lone = false;
    if constexpr (keys_only_order<Scorer>() && requires { { sink.alone() } -> std::convertible_to<bool>; })
        lone = branch.size() == 1 && sink.alone();

    bool prepared = lone;  // a lone child is not scored: nothing to prepare
    for (auto it = branch.rbegin(); it != branch.rend(); ++it) {
        if (!sink.admit()) break;
        if (!prepared) {
            scorer.begin_expansion(links);
            prepared = true;
        }
        sink.charge(lone ? 1 : scorer.child_cost(links));
        const std::uint64_t block = *it;
        const double weight_sum = scorer.child_weight_sum(entry_sum, block);
        const ChildContext child{path, block, weight_sum, path_ids};
        // A scorer with a cutoff leaves out children that no cover worth keeping extends;
        // the others are offered in the same order as without it.
        if constexpr (requires { scorer.rules_out(links, relabeled, child); })
            if (scorer.rules_out(links, relabeled, child)) continue;
        sink.accept(block, lone ? weight_sum : scorer.child_score(links, relabeled, child));
    }
    return StepStatus::Expanded;
}

}  // namespace xcover
