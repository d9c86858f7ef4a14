// Algorithm X, depth first, one cover at a time.
//
// At each level the branch column is choose_column's (the leftmost column of smallest size)
// and its blocks are tried top to bottom, that is in ascending block index; a cover lists its
// blocks in order of choice. `next()` runs until the next cover and returns, so the same
// loop serves every depth-first query: get_all collects, count_all counts, iter_all hands out
// covers one by one, split stops at a chosen depth.
//
// `include` restricts the walk to the covers holding every listed block without changing
// the tree: a block that shares a column with an included block (and is not included itself)
// is never tried, so the subtrees left are exactly those of the unrestricted search, in the
// same order, with the same covers.
//
// `order_branches(seed)` changes only the order of the branches: at every position the blocks
// of the same branch column are tried in an order that is a function of the seed and the
// path to the position (branch_order.hpp), so the covers are the same, each found once, in
// another order, and the same seed gives the same order everywhere.
#pragma once

#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "../links/block_list.hpp"
#include "../links/colors.hpp"
#include "../links/dancinglinks.hpp"
#include "../interrupt.hpp"

namespace xcover {

// The matrix of a list of blocks: elements numbered as columns, blocks relabeled.
struct Problem {
    BlockList relabeled;  // each block's distinct columns
    DancingLinks links;
};
// Elements listed in `secondary` become secondary columns (see DancingLinks).
Problem build_problem(const BlockList& blocks, Interrupt* interrupt = nullptr,
                      const SecondaryItems& secondary = {});

class DepthFirstSearch {
public:
    // `include` holds block indices below blocks.size(). An Interrupt, when given, is polled
    // every few thousand steps and may end the search with SearchInterrupted. Elements in
    // `secondary` may be left uncovered: the search never branches on them, so a block
    // holding none but them is never chosen.
    DepthFirstSearch(const BlockList& blocks, std::span<const std::uint64_t> include = {},
                     Interrupt* interrupt = nullptr, const SecondaryItems& secondary = {});

    // Advances to the next cover; false once the search is over. When the Interrupt ends a
    // call with SearchInterrupted, the search stands between two steps and the next call
    // goes on from there.
    bool next();
    void set_interrupt(Interrupt* interrupt) noexcept { poll_.set(interrupt); }
    // From now on, tries the blocks of each branch column in the order `seed` gives them at
    // that position (branch_order.hpp) instead of ascending block index; the search goes back
    // to the root. branch_blocks, expand and start_at follow the same order.
    void order_branches(std::uint64_t seed);
    // The share of the search tree (below start_at's path) behind the search, in [0, 1]: the
    // measure of Knuth's DLX programs, in which every position splits its share evenly among
    // the blocks it may try, so the share behind is the sum, over the levels, of the shares of
    // the siblings tried before the level's choice (and the cover itself, at a cover). It never
    // decreases as the search goes on and is 1 once it is over. Walks each level's column:
    // cheap beside the steps between two reports, too slow for every step.
    double done_fraction() const;
    // The nodes of the matrix: a bound on what one step of the search can touch.
    std::uint64_t node_count() const noexcept { return problem_.links.node_count(); }
    // The blocks of the current cover, in order of choice (after next() returned true), read
    // from the levels when asked for: counting never reads them.
    std::span<const std::uint64_t> cover() {
        read_cover();
        return chosen_;
    }

    // What expanding the current position finds, for split: the blocks of the branch
    // column, or none with `complete` telling a cover from a dead end. Leaves the position.
    struct Expansion {
        bool complete = false;
        std::vector<std::uint64_t> blocks;
    };
    // Moves to the position reached by choosing `path` (blocks in order of choice, each in
    // the branch column of its level) and expands it, replaying the path from the root.
    Expansion expand(std::span<const std::uint64_t> path);

    // Restricts the walk to the subtree below `path` (as for expand): next() then finds the
    // covers of that subtree, in order, each listed from the root. Another start_at, expand
    // or reset leaves it.
    void start_at(std::span<const std::uint64_t> path);

    // The search held at one position and moved one level at a time, for split (which walks
    // many positions near each other). reset() goes back to the root, whatever next() did.
    void reset() { unwind(); }
    std::uint64_t depth() const noexcept { return levels_.size(); }
    enum class Outcome { Complete, DeadEnd, Branch };
    // What the current position offers; for Branch, `blocks` gets the blocks of the branch
    // column that may be tried, in order (at least one).
    Outcome branch_blocks(std::vector<std::uint64_t>& blocks);
    // Chooses `block`, which must be in the branch column of the current position.
    void step_into(std::uint64_t block);
    // Undoes the deepest choice.
    void step_back();

private:
    struct Level {
        NodeIndex column;  // the branch column
        NodeIndex node;    // the node of the block chosen in it
    };

    // The blocks of one level of a seeded search, in the order they are tried: the level's
    // nodes are ordered_nodes_[begin, end), the one chosen is at `at`.
    struct OrderedLevel {
        std::uint64_t hash;  // of the position the level branches from
        std::size_t begin;
        std::size_t at;
    };

    // The first node at or below `node` in `column` whose block may be tried; the column's
    // header when none is left.
    std::uint64_t candidate_from(std::uint64_t node, std::uint64_t column) const;
    // The first block to try in the branch column `column` of the current position (its node),
    // the column's header when none may be tried; a seeded search stacks the level's order.
    std::uint64_t first_candidate(std::uint64_t column);
    // The node after the chosen one of the deepest level; the header when none is left (a
    // seeded search then drops the level's order).
    std::uint64_t next_candidate(const Level& level);
    // A seeded search: the hash of the current position, and the nodes of `column` that may
    // be tried there, in seeded order, into ordered_nodes_ (the level not yet stacked).
    std::uint64_t position_hash() const;
    void push_ordered_nodes(std::uint64_t column, std::uint64_t hash);
    void pop_ordered_level();
    // step_into's part in a seeded search: stacks the order of the level it chooses `node` in.
    void order_chosen_level(std::uint64_t column, std::uint64_t node);
    // Chooses the block of `node` at a new level on `column`, covering both.
    void descend(std::uint64_t column, std::uint64_t node);
    // Moves the deepest level to its next block; false when every level below the floor is
    // exhausted.
    bool backtrack();
    void unwind();
    // The place of level k's choice among the blocks its position may try, and their number.
    std::pair<std::uint64_t, std::uint64_t> level_place(std::size_t k) const;
    // Lists the blocks chosen at every level into chosen_.
    void read_cover();

    enum class Phase {
        Fresh,    // nothing chosen yet
        Running,  // between two steps of the walk
        AtCover,  // at the cover last returned
        Done,
    };

    Problem problem_;
    std::vector<char> excluded_;  // per block: meets an included block without being one
    bool restricted_ = false;
    bool impossible_ = false;     // the included blocks overlap, or one is empty
    std::vector<Level> levels_;
    std::size_t floor_ = 0;  // levels chosen by start_at, never backtracked
    std::vector<std::uint64_t> chosen_;  // filled by read_cover
    Phase phase_ = Phase::Fresh;
    InterruptPoll poll_;
    // Seeded order (order_branches): one OrderedLevel per level of levels_.
    bool seeded_ = false;
    std::uint64_t root_hash_ = 0;
    std::vector<OrderedLevel> ordered_levels_;
    std::vector<NodeIndex> ordered_nodes_;
    std::vector<std::pair<std::uint64_t, NodeIndex>> keyed_;  // scratch of push_ordered_nodes
};

}  // namespace xcover
