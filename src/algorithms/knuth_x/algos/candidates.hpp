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

// For one path at a time, how many of its blocks each candidate holds: the candidates that
// hold every block of the path are those whose count is its length. A path given with its
// arena numbers (ChildContext::parent_ids) is reached from the last one by undoing and redoing
// only the blocks after their common prefix, so a deep search pays for what changes.
class HeldCounts {
public:
    // Whether some candidate holds `block` and every block of the child's parent.
    bool extended(const CoverCandidates& candidates, const ChildContext& child) {
        try {
            follow(candidates, child);
        } catch (...) {
            // A failed allocation midway leaves counts that no longer match the kept path.
            // A helper's scorer outlives a failed expansion (the entry is expanded again
            // elsewhere), so the next path is counted from scratch.
            forget();
            throw;
        }
        for (std::uint64_t i : candidates.holding(child.block))
            if (held_[i] == blocks_.size()) return true;
        return false;
    }

private:
    void forget() noexcept {
        held_.clear();
        blocks_.clear();
        ids_.clear();
    }
    void follow(const CoverCandidates& candidates, const ChildContext& child) {
        if (held_.size() != candidates.size()) held_.assign(candidates.size(), 0);
        const std::span<const std::uint32_t> ids = child.parent_ids;
        const bool numbered = ids.size() == child.parent_blocks.size() + 1;
        const std::size_t kept = numbered ? shared_prefix(ids) : 0;  // blocks kept
        if (numbered && kept == blocks_.size() && kept == child.parent_blocks.size()) return;
        while (blocks_.size() > kept) {
            for (std::uint64_t i : candidates.holding(blocks_.back())) --held_[i];
            blocks_.pop_back();
        }
        ids_.resize(numbered ? kept + 1 : 0);
        if (numbered) ids_[kept] = ids[kept];
        for (std::size_t k = kept; k < child.parent_blocks.size(); ++k) {
            const std::uint64_t block = child.parent_blocks[k];
            for (std::uint64_t i : candidates.holding(block)) ++held_[i];
            blocks_.push_back(block);
            if (numbered) ids_.push_back(ids[k + 1]);
        }
    }

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

    std::vector<std::uint64_t> held_;    // per candidate
    std::vector<std::uint64_t> blocks_;  // the path counted
    std::vector<std::uint32_t> ids_;     // its arena numbers, root first; empty when unknown
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
