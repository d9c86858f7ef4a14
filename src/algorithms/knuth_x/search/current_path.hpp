// The entry a best-first search's own matrix shows, kept from one step to the next.
//
// Reading an entry's blocks from the arena, bringing the matrix to it and summing its weights
// all cost time in proportion to its depth when done from scratch; a search that goes deep
// (one forced block after another) would pay that at every step. Consecutive entries mostly
// share a long prefix, so this keeps the path the matrix shows with, per position, the
// entry's arena number, the weight sum so far and the count of the matrix's moves so far, and a
// move only undoes and redoes the part after the common prefix.
//
// The common prefix is found from the new entry upwards: numbers increase along a path (a
// parent is pushed before its children), so whether an ancestor lies on the kept path is a
// binary search. The weight sums are the same fold (child_weight_sum from -0.0, in order of
// choice) restarted from the kept prefix's stored sum with the same blocks after it, so they
// are the bits a fold from scratch gives; the matrix ends as LinkState::restore leaves it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

#include "../links/block_list.hpp"
#include "frontier.hpp"
#include "linkstate.hpp"

namespace xcover {

class CurrentPath {
public:
    // Brings `state` (the matrix this path describes) to `entry` of `arena`.
    template <class Scorer>
    void move_to(const EntryArena& arena, std::uint64_t entry, LinkState& state, const BlockList& relabeled,
                 const Scorer& scorer) {
        if (!valid_) reset(state);
        valid_ = false;  // until the move is complete: a failure midway starts over next time
        fresh_.clear();
        std::uint64_t e = entry;
        while (!on_path(e)) {
            fresh_.push_back(static_cast<EntryIndex>(e));
            e = arena.node(e).parent;
        }
        const std::size_t kept = static_cast<std::size_t>(
            std::lower_bound(ids_.begin(), ids_.end(), static_cast<EntryIndex>(e)) - ids_.begin());
        ids_.resize(kept + 1);
        blocks_.resize(kept);
        sums_.resize(kept + 1);
        move_ends_.resize(kept + 1);
        state.rewind(move_ends_.back());
        for (auto it = fresh_.rbegin(); it != fresh_.rend(); ++it) {
            const std::uint64_t block = arena.node(*it).block;
            state.choose(relabeled, block);
            ids_.push_back(*it);
            blocks_.push_back(block);
            sums_.push_back(scorer.child_weight_sum(sums_.back(), block));
            move_ends_.push_back(state.covered().size());
        }
        valid_ = true;
    }

    // The entry's blocks in order of choice, its weight sum, and the arena numbers of the
    // entries along it (the root first, one more than the blocks).
    const std::vector<std::uint64_t>& blocks() const noexcept { return blocks_; }
    double weight_sum() const noexcept { return sums_.back(); }
    std::span<const EntryIndex> ids() const noexcept { return ids_; }

private:
    bool on_path(std::uint64_t entry) const {
        return std::binary_search(ids_.begin(), ids_.end(), static_cast<EntryIndex>(entry));
    }

    void reset(LinkState& state) {
        state.rewind(0);
        ids_.assign(1, 0);
        blocks_.clear();
        sums_.assign(1, -0.0);
        move_ends_.assign(1, 0);
    }

    bool valid_ = true;
    std::vector<EntryIndex> ids_{0};            // root first, increasing
    std::vector<std::uint64_t> blocks_;
    std::vector<double> sums_{-0.0};            // sums_[k]: the first k blocks' weights
    std::vector<std::uint64_t> move_ends_{0};  // the matrix's moves choosing the first k blocks
    std::vector<EntryIndex> fresh_;             // scratch: the new part, deepest first
};

}  // namespace xcover
