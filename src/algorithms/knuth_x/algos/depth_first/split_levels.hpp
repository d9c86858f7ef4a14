// split's cut read off the levels of the tree, by depth-first walks (used by split.cpp).
//
// The passes of split stop at the first moment the frontier holds `parts` parts. After pass d
// the frontier holds every position of depth d and the covers above them; during pass d + 1
// it changes, at each position of depth d in depth-first order, by (children - 1), by -1 for
// a dead end, by 0 for a cover. So per depth the number of positions, the number of covers
// and the largest running change tell in which pass, and after which position, the frontier
// reaches `parts`, or that it never does (then every cover is a part). One walk counts them,
// in slices of work so that split can run it side by side with the passes; its depth is
// capped as soon as some depth alone holds `parts` positions and covers above. A second
// walk, down to the cut, writes the prefixes in order.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "../../search/depth_first.hpp"

namespace xcover {

// A depth-first walk below the search's position, resumable: advance() goes on for a given
// number of positions. The search is back where it started once the walk is over.
class TreeWalk {
public:
    explicit TreeWalk(DepthFirstSearch& search) : search_(search) {}

    // What the walk is shown at each position; returns whether to go below it.
    struct Visitor {
        virtual bool visit(std::uint64_t depth, DepthFirstSearch::Outcome outcome,
                           std::span<const std::uint64_t> blocks, std::span<const std::uint64_t> path) = 0;

        // Whether the walk still goes below positions of this depth (asked again as it goes).
        virtual bool wants_below(std::uint64_t) const { return true; }

    protected:
        ~Visitor() = default;
    };

    // Visits up to `positions` more positions; true once the walk is over.
    bool advance(Visitor& visitor, std::uint64_t positions);
    // The share of the tree below the start already walked, each position's share split
    // evenly among its branches (DLX1's measure); 1 once the walk is over.
    double done_fraction() const;

private:
    void open(Visitor& visitor);

    DepthFirstSearch& search_;
    bool started_ = false;
    std::vector<std::vector<std::uint64_t>> blocks_;  // per depth on the path: its branch blocks
    std::vector<std::uint64_t> next_;                 // per depth: the next block to try
    std::vector<std::uint64_t> path_;                 // the blocks chosen down to here
};

// Where the passes stop: in the pass that expands the positions of `depth`, before the first
// position at which the frontier holds `parts` (counting from `start_size` when the pass
// begins). `never`: the passes expand the whole tree.
struct LevelCut {
    bool never = false;
    std::uint64_t depth = 0;
    std::uint64_t start_size = 0;
    std::uint64_t covers = 0;  // when `never`: the covers of the whole tree
};

// The counting walk of the whole tree, depth capped once the cut is known to lie above.
class LevelCounter final : public TreeWalk::Visitor {
public:
    explicit LevelCounter(std::uint64_t parts) : parts_(parts) {}
    bool visit(std::uint64_t depth, DepthFirstSearch::Outcome outcome,
               std::span<const std::uint64_t> blocks, std::span<const std::uint64_t> path) override;
    bool wants_below(std::uint64_t depth) const override { return depth < cap_; }
    // After the walk is over.
    LevelCut cut() const;

private:
    struct Level {
        std::uint64_t positions = 0;
        std::uint64_t covers = 0;
        std::int64_t change = 0;       // running change of the frontier in its pass
        std::int64_t most = 0;         // the largest running change before a position
    };
    void lower_cap();

    std::uint64_t parts_;
    std::uint64_t cap_ = UINT64_MAX;  // positions below this depth are not needed
    std::uint64_t visits_ = 0;
    std::vector<Level> levels_;
};

// The prefixes of the passes' result, from a second walk down to the cut.
std::vector<std::vector<std::uint64_t>> prefixes_at_cut(DepthFirstSearch& search, const LevelCut& cut,
                                                        std::uint64_t parts,
                                                        std::span<const std::uint64_t> include,
                                                        std::uint64_t block_count);

// split computed by the two walks alone (the tests compare it with the passes).
std::vector<std::vector<std::uint64_t>> split_by_levels(const BlockList& blocks, std::uint64_t parts,
                                                        std::span<const std::uint64_t> include,
                                                        Interrupt* interrupt = nullptr);

// split with the counting walk run beside the passes once they have done `race_after` units
// of work (0: from the start; UINT64_MAX: never), each getting as much work as the other;
// whichever ends first gives the result. split() starts the walk once the passes have done
// more work than building a second search costs. Once the passes hold more than
// `max_open_parts` open parts (0: split()'s own limit), the walk alone finishes.
std::vector<std::vector<std::uint64_t>> split_racing(const BlockList& blocks, std::uint64_t parts,
                                                     std::span<const std::uint64_t> include,
                                                     Interrupt* interrupt, std::uint64_t race_after,
                                                     std::size_t max_open_parts = 0);

// A part's path followed by the `include` blocks not on it, each once.
class PrefixWriter {
public:
    PrefixWriter(std::span<const std::uint64_t> include, std::uint64_t block_count)
        : include_(include.begin(), include.end()), on_path_(block_count, 0) {}
    std::vector<std::uint64_t> write(std::vector<std::uint64_t> path);

private:
    std::vector<std::uint64_t> include_;
    std::vector<char> on_path_;  // scratch, per block
};

}  // namespace xcover
