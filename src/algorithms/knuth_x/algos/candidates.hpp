// Candidate covers and the scorer filter built on them: a search that must report the same
// first covers as without the filter, knowing a set of covers (the candidates) that holds
// every one of them, leaves out every child that no candidate extends.
//
// A ruled-out child is neither scored nor pushed, and the other children are pushed in the
// order they are made, so the entries that are pushed keep their relative order (their
// insertion numbers only skip the ones left out); docs/architecture.md gives the argument
// that the search then reports the same first covers, in the same order.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <span>
#include <utility>
#include <vector>

#include "../failure.hpp"
#include "../links/block_list.hpp"
#include "../links/dancinglinks.hpp"
#include "../search/covers.hpp"
#include "../search/expansion.hpp"

namespace xcover {

// The candidate covers, indexed by block.
class CoverCandidates {
public:
    CoverCandidates(const CoverList& covers, std::uint64_t block_count) : start_(block_count + 1, 0) {
        for (std::uint64_t i = 0; i < covers.size(); ++i) {
            std::vector<std::uint64_t> blocks(covers[i].begin(), covers[i].end());
            std::sort(blocks.begin(), blocks.end());
            sorted_.push_list(blocks);
            for (std::uint64_t b : blocks) ++at(start_, b);
        }
        std::uint64_t sum = 0;
        for (std::uint64_t& s : start_) sum += std::exchange(s, sum);
        ids_.resize(sum);
        std::vector<std::uint64_t> fill(start_.begin(), start_.end() - 1);
        for (std::uint64_t i = 0; i < sorted_.size(); ++i)
            for (std::uint64_t b : sorted_[i]) ids_[fill[b]++] = i;
        start_.push_back(sum);
    }

    // Whether some candidate holds `block` and every block of `parent`: a partial cover's
    // completions are the covers that hold its blocks.
    bool extended(std::span<const std::uint64_t> parent, std::uint64_t block) const {
        if (block + 1 >= start_.size()) return false;
        for (std::uint64_t i = start_[block]; i < start_[block + 1]; ++i) {
            const auto blocks = sorted_[ids_[i]];
            const bool holds_all = std::all_of(parent.begin(), parent.end(), [&](std::uint64_t b) {
                return std::binary_search(blocks.begin(), blocks.end(), b);
            });
            if (holds_all) return true;
        }
        return false;
    }

    std::uint64_t size() const noexcept { return sorted_.size(); }
    // The blocks of the problem (those no candidate holds included).
    std::uint64_t block_count() const noexcept { return start_.size() - 2; }
    // Candidate `i`'s blocks, ascending.
    std::span<const std::uint64_t> blocks_of(std::uint64_t i) const { return sorted_[i]; }
    // The candidates holding `block`.
    std::span<const std::uint64_t> holding(std::uint64_t block) const {
        if (block + 1 >= start_.size()) return {};
        return std::span<const std::uint64_t>(ids_).subspan(start_[block], start_[block + 1] - start_[block]);
    }

private:
    std::vector<std::uint64_t> start_;  // per block, into ids_ (CSR)
    std::vector<std::uint64_t> ids_;
    CoverList sorted_;                  // each candidate's blocks, ascending
};

// Which candidates hold every block of a child's parent. A path given with its arena numbers
// (ChildContext::parent_ids) is reached from the last one by keeping the prefix they share
// (equal numbers, equal blocks) and redoing the blocks after it: per depth it keeps the
// candidates holding the path down to there, each depth's filtered from the one above, so a
// deep search pays for what changes and for few candidates below the first levels. The first
// child asked about marks the blocks the path's candidates hold, and every child of that
// parent is then one look. A path without numbers is counted from scratch: per candidate, how
// many of its blocks it holds.
class HeldCounts {
public:
    // Whether some candidate holds `block` and every block of the child's parent.
    bool extended(const CoverCandidates& candidates, const ChildContext& child) {
        try {
            if (child.parent_ids.size() == child.parent_blocks.size() + 1) {
                follow(candidates, child);
                return marked(candidates, child.block);
            }
            count(candidates, child.parent_blocks);
        } catch (...) {
            // A failed allocation midway leaves a state that no longer matches the kept path.
            // A helper's scorer outlives a failed expansion (the entry is expanded again
            // elsewhere), so the next path is followed from scratch.
            forget();
            throw;
        }
        for (std::uint64_t i : candidates.holding(child.block))
            if (held_[i] == child.parent_blocks.size()) return true;
        return false;
    }

private:
    void forget() noexcept {
        held_.clear();
        counted_.clear();
        ids_.clear();
        holders_.clear();
        holders_start_.clear();
        marked_ = false;
        mark_cost_ = looked_ = 0;
    }

    // held_: per candidate, how many blocks of `path` it holds (the last path's undone).
    void count(const CoverCandidates& candidates, const std::vector<std::uint64_t>& path) {
        if (held_.size() != candidates.size()) {
            held_.assign(candidates.size(), 0);
            counted_.clear();
        }
        for (std::uint64_t block : counted_)
            for (std::uint64_t i : candidates.holding(block)) --held_[i];
        counted_.clear();
        for (std::uint64_t block : path) {
            for (std::uint64_t i : candidates.holding(block)) ++held_[i];
            counted_.push_back(block);
        }
    }

    void follow(const CoverCandidates& candidates, const ChildContext& child) {
        const std::span<const std::uint32_t> ids = child.parent_ids;
        const std::size_t kept = shared_prefix(ids);  // blocks kept
        if (!ids_.empty() && kept == depth() && kept == child.parent_blocks.size()) return;
        marked_ = false;
        mark_cost_ = looked_ = 0;
        holders_.resize(kept == 0 ? 0 : holders_start_[kept]);
        holders_start_.resize(kept + 1);
        holders_start_[kept] = holders_.size();
        ids_.resize(kept + 1);
        ids_[kept] = ids[kept];
        for (std::size_t k = kept; k < child.parent_blocks.size(); ++k) {
            const std::uint64_t block = child.parent_blocks[k];
            if (k == 0) {
                const auto holding = candidates.holding(block);
                holders_.insert(holders_.end(), holding.begin(), holding.end());
            } else {
                for (std::uint64_t j = holders_start_[k - 1]; j < holders_start_[k]; ++j) {
                    const std::uint64_t i = holders_[j];
                    const auto blocks = candidates.blocks_of(i);
                    if (std::binary_search(blocks.begin(), blocks.end(), block)) holders_.push_back(i);
                }
            }
            holders_start_.push_back(holders_.size());
            ids_.push_back(ids[k + 1]);
        }
    }

    // The blocks of the followed path (its arena numbers count the root too).
    std::size_t depth() const noexcept { return ids_.empty() ? 0 : ids_.size() - 1; }

    // How many blocks the kept path shares with the path numbered `ids`: positions agree on
    // a prefix (an entry number fixes every block before it), found by bisection.
    std::size_t shared_prefix(std::span<const std::uint32_t> ids) const {
        if (ids_.empty() || ids_[0] != ids[0]) return 0;
        std::size_t lo = 0, hi = std::min(ids_.size(), ids.size());  // ids_[lo] == ids[lo]
        while (hi - lo > 1) {
            const std::size_t mid = lo + (hi - lo) / 2;
            if (ids_[mid] == ids[mid]) lo = mid; else hi = mid;
        }
        return lo;
    }

    // Whether a candidate holding every block of the followed path holds `block`. At the root,
    // any candidate holding it. Below, each child asked looks for `block` in every holder's
    // blocks, until those looks have cost as much as marking the holders' blocks once would
    // (the children asked are then one look each): never more than twice the cheaper of the
    // two, whether a parent has two children or hundreds, and its holders ten blocks or a
    // million.
    bool marked(const CoverCandidates& candidates, std::uint64_t block) {
        if (depth() == 0) return !candidates.holding(block).empty();
        const std::span<const std::uint64_t> holders =
            std::span<const std::uint64_t>(holders_).subspan(holders_start_[depth() - 1]);
        if (!marked_) {
            if (mark_cost_ == 0)
                for (std::uint64_t i : holders) mark_cost_ += candidates.blocks_of(i).size() + 1;
            looked_ += kLookCost * (holders.size() + 1);
            if (looked_ <= mark_cost_)
                return std::ranges::any_of(holders, [&](std::uint64_t i) {
                    const auto blocks = candidates.blocks_of(i);
                    return std::binary_search(blocks.begin(), blocks.end(), block);
                });
            if (mark_.size() != candidates.block_count() || ++stamp_ == 0) {
                mark_.assign(candidates.block_count(), 0);
                stamp_ = 1;
            }
            for (std::uint64_t i : holders)
                for (std::uint64_t b : candidates.blocks_of(i)) mark_[b] = stamp_;
            marked_ = true;
        }
        return block < mark_.size() && mark_[block] == stamp_;
    }

    static constexpr std::uint64_t kLookCost = 4;  // a look for a block, against marking one

    std::vector<std::uint64_t> held_;     // per candidate, for a path without numbers
    std::vector<std::uint64_t> counted_;  // the blocks held_ counts
    // The followed path: its arena numbers (root first; empty when none), and per depth
    // d >= 1 the candidates holding its first d blocks (holders_ from holders_start_[d - 1]
    // to holders_start_[d]).
    std::vector<std::uint32_t> ids_;
    std::vector<std::uint64_t> holders_;
    std::vector<std::uint64_t> holders_start_;
    std::vector<std::uint32_t> mark_;  // per block: stamp_ when a holder of the whole path holds it
    std::uint32_t stamp_ = 0;
    bool marked_ = false;              // mark_ is the followed path's
    std::uint64_t mark_cost_ = 0;      // of marking the followed path's holders (0: not yet known)
    std::uint64_t looked_ = 0;         // what its children's looks cost so far
};

// `Plain`'s scores, with the children that no candidate extends ruled out.
template <class Plain>
class ByCandidates {
public:
    static constexpr bool kKeysOnlyOrder = keys_only_order<Plain>();

    ByCandidates(Plain plain, std::shared_ptr<const CoverCandidates> candidates)
        : plain_(std::move(plain)), candidates_(std::move(candidates)) {}

    double root_score(const DancingLinks& links) { return plain_.root_score(links); }
    void begin_expansion(const DancingLinks& links) { plain_.begin_expansion(links); }
    double child_weight_sum(double parent_sum, std::uint64_t block) const {
        return plain_.child_weight_sum(parent_sum, block);
    }
    double child_score(const DancingLinks& links, const BlockList& relabeled, const ChildContext& child) {
        return plain_.child_score(links, relabeled, child);
    }
    std::uint64_t child_cost(const DancingLinks& links) const { return plain_.child_cost(links); }

    // Whether no candidate extends the child.
    bool rules_out(const DancingLinks&, const BlockList&, const ChildContext& child) {
        return !held_.extended(*candidates_, child);
    }

private:
    Plain plain_;
    std::shared_ptr<const CoverCandidates> candidates_;  // shared with the helpers' copies
    HeldCounts held_;                                    // each copy its own
};

}  // namespace xcover
