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
#include <utility>
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
        const std::size_t kept = fork_to(arena, entry, &fresh_).kept;
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

    // How many blocks move_to(entry) would undo and choose: the blocks after the common
    // prefix on both sides (everything, when a failed move left the path unknown).
    std::uint64_t distance_to(const EntryArena& arena, std::uint64_t entry) const {
        const Fork fork = fork_to(arena, entry, nullptr);
        return fork.fresh + (valid_ ? blocks_.size() - fork.kept : blocks_.size() + 1);
    }

    // The entry's blocks in order of choice, its weight sum, and the arena numbers of the
    // entries along it (the root first, one more than the blocks).
    const std::vector<std::uint64_t>& blocks() const noexcept { return blocks_; }
    double weight_sum() const noexcept { return sums_.back(); }
    std::span<const EntryIndex> ids() const noexcept { return ids_; }

private:
    // Where the path to an entry leaves this one: the blocks of this path it keeps, and the
    // entries after them, appended deepest first to `fresh` when given.
    struct Fork {
        std::size_t kept;
        std::uint64_t fresh;
    };
    Fork fork_to(const EntryArena& arena, std::uint64_t entry, std::vector<EntryIndex>* fresh) const {
        std::uint64_t count = 0, e = entry;
        while (!on_path(e)) {
            if (fresh != nullptr) fresh->push_back(static_cast<EntryIndex>(e));
            ++count;
            e = arena.node(e).parent;
        }
        const auto kept = std::lower_bound(ids_.begin(), ids_.end(), static_cast<EntryIndex>(e)) - ids_.begin();
        return Fork{static_cast<std::size_t>(kept), count};
    }

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

// A few copies of a best-first search's matrix, each with the path it shows. Consecutive
// entries popped often lie in different subtrees, and a single matrix would undo and redo a
// whole subtree's path at each switch; each move here is made by the copy nearest to the
// entry. Copies are only made of small matrices (kCopyBytes for all of them together).
class MatrixCopies {
public:
    static constexpr std::uint64_t kMaxCopies = 8;
    static constexpr std::uint64_t kCopyBytes = std::uint64_t{8} << 20;

    // `links` at the root.
    explicit MatrixCopies(DancingLinks links) {
        const std::uint64_t bytes = links.node_count() * 32 + 1;
        const std::uint64_t count = std::clamp<std::uint64_t>(kCopyBytes / bytes, 1, kMaxCopies);
        copies_.reserve(count);
        for (std::uint64_t i = 1; i < count; ++i) copies_.push_back(Copy{LinkState(links), CurrentPath{}});
        copies_.push_back(Copy{LinkState(std::move(links)), CurrentPath{}});
    }

    // The matrix at the root, before any move.
    const DancingLinks& root_links() const { return copies_.front().state.links(); }

    // Brings the copy nearest to `entry` of `arena` there; returns the copy's path and matrix.
    template <class Scorer>
    std::pair<const CurrentPath&, const DancingLinks&> move_to(const EntryArena& arena, std::uint64_t entry,
                                                               const BlockList& relabeled, const Scorer& scorer) {
        Copy* nearest = &copies_.front();
        if (copies_.size() > 1) {
            std::uint64_t least = UINT64_MAX;
            for (Copy& copy : copies_) {
                const std::uint64_t d = copy.path.distance_to(arena, entry);
                if (d < least) {
                    least = d;
                    nearest = &copy;
                }
            }
        }
        nearest->path.move_to(arena, entry, nearest->state, relabeled, scorer);
        return {nearest->path, nearest->state.links()};
    }

private:
    struct Copy {
        LinkState state;
        CurrentPath path;
    };
    std::vector<Copy> copies_;
};

}  // namespace xcover
