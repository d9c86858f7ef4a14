// Best-first search over partial covers.
//
// Every pending entry carries a score (lower pops first) and an insertion number that breaks
// ties, NaN scores after every number and -0.0 equal to +0.0. A step pops the best entry,
// brings the matrix to it, and reports it complete or a dead end, or offers its children
// (last block of the branch column first) under the `max_heap` cap.
//
// Entries share their prefixes: each pushed child is one record in an arena (parent, block),
// and an entry's chosen blocks are read by following parent links (frontier.hpp). The matrix
// moves between entries through a LinkState, along the part of the path that changes
// (CurrentPath), so a deep search does not pay its depth at every step.
//
// The scorer (average estimator or block-count model) provides
//   double root_score(const DancingLinks&);
//   void begin_expansion(const DancingLinks&);      // the matrix shows the entry to expand
//   double child_weight_sum(double parent_sum, std::uint64_t block) const;
//   double child_score(const DancingLinks&, const BlockList& relabeled, const ChildContext&);
//   std::uint64_t child_cost(const DancingLinks&) const;  // work units of one child_score
// and may provide rules_out (expansion.hpp) to keep some blocks out of every entry.
// An entry's weight sum is child_weight_sum folded along its blocks from -0.0: the scorer
// must give the same bits for the same arguments every time.
//
// Lazy keys (a scorer with entry_bound, see refines_keys in expansion.hpp): children are
// pushed with child_score's cheap key. The first time an entry reaches the top, the step
// brings the matrix to it, computes its full key, entry_bound, and puts it back with the
// larger of the two keys and the same insertion number (status Refined); a later step pops
// whatever is then the best, this entry again if its new key still is. The root's key is
// already full. A full key depends on the entry alone, and the pending entries are the same
// whoever expanded them, so the steps are the same with or without helpers. Helpers are
// handed the best pending entries as they stand: one not yet refined to be refined only (its
// full key, no children: most entries are refined and never expanded, so refinements are
// most of the work to share), one refined to be expanded. A refined entry always goes back
// to the frontier, and is handed out again, to be expanded, if it is still among the best.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "../links/block_list.hpp"
#include "../links/colors.hpp"
#include "../links/dancinglinks.hpp"
#include "../links/element_index.hpp"
#include "covers.hpp"
#include "current_path.hpp"
#include "expansion.hpp"
#include "frontier.hpp"
#include "../interrupt.hpp"
#include "linkstate.hpp"
#include "speculation.hpp"

namespace xcover {

struct SearchCaps {
    std::optional<std::uint64_t> max_iter;
    std::optional<std::uint64_t> max_heap;
};

template <class Scorer>
class OrderedSearch {
public:
    struct Step {
        const std::vector<std::uint64_t>& blocks;  // valid until the next step
        double weight_sum;
        StepStatus status;
    };

    // How the steps went, for benchmarks: entries expanded ahead and taken from the helpers,
    // handed out but expanded here after all, and expanded here without being handed out;
    // entries refined ahead and taken from the helpers (lazy keys).
    struct AheadCounts {
        std::uint64_t taken = 0;
        std::uint64_t redone = 0;
        std::uint64_t here = 0;
        std::uint64_t refined_ahead = 0;
    };
    const AheadCounts& ahead_counts() const noexcept { return counts_; }
    // Expansions done by helpers so far (some may never be taken).
    std::uint64_t helper_expansions() const noexcept {
        return speculation_ ? speculation_->by_helpers() : 0;
    }

    // Slots of expansions done ahead, per helper thread, and of those, how many may wait for
    // a helper to start them. Done expansions wait in their slots until popped. With lazy
    // keys the best entries change with every refinement: with only as many slots as waiting
    // entries, the slots fill with done refinements of entries that are no longer the best,
    // one slot frees per step, and each new best entry is popped by the search's thread
    // before a helper can take it (the helpers idle). Spare slots let every new best entry
    // be handed out. Where every entry is expanded, the entries handed out stay the best
    // ones, and all slots may wait.
    static constexpr unsigned kSlotsPerHelper = refines_keys<Scorer>() ? 64 : 16;
    static constexpr unsigned kWaitingPerHelper = refines_keys<Scorer>() ? 8 : kSlotsPerHelper;

    // `make_scorer(index)` builds the scorer once the columns are numbered. With a pool whose
    // setting is above one thread, helpers expand the best pending entries ahead of time.
    // Elements listed in `secondary` become secondary columns (see DancingLinks): a cover may
    // leave them uncovered, and the search never branches on them. Its colors (colors.hpp),
    // checked by the caller, need a scorer that reads them (handles_colors).
    template <class MakeScorer>
    OrderedSearch(const BlockList& blocks, SearchCaps caps, Interrupt* interrupt,
                  MakeScorer&& make_scorer, ThreadPool* pool = nullptr,
                  const SecondaryItems& secondary = {})
        : step_limit_(caps.max_iter), max_heap_(caps.max_heap), poll_(interrupt) {
        if (!secondary.colors.empty() && !handles_colors<Scorer>())
            fail("colors given to a search whose scorer ignores them");
        ElementIndex index = build_element_index(blocks, secondary.elements, interrupt);
        relabeled_ = relabel_all(index, blocks, interrupt);
        const std::vector<std::uint32_t> colors = node_colors(blocks, index, relabeled_, secondary, interrupt);
        matrices_.emplace(DancingLinks(relabeled_, index.column_count(), interrupt, index.primary_count(), colors));
        EntryArena::check_block_bound(matrices_->root_links().block_bound());
        scorer_.emplace(make_scorer(index));
        const double root = scorer_->root_score(matrices_->root_links());
        mark_key(true);  // the root's key is already full
        frontier_.push(FrontierSlot{score_key(root), arena_.push(0, 0)});
        if (pool != nullptr && pool->threads() > 1)
            speculation_ = std::make_unique<Speculation<Scorer>>(
                *pool, kSlotsPerHelper * (pool->threads() - 1), matrices_->root_links(), *scorer_, relabeled_);
        if (speculation_) waiting_cap_ = kWaitingPerHelper * (pool->threads() - 1);
    }

    // Helpers hold references into the search: it stays where it was built.
    OrderedSearch(const OrderedSearch&) = delete;
    OrderedSearch& operator=(const OrderedSearch&) = delete;

    std::optional<Step> step() {
        if (step_limit_) {
            if (*step_limit_ == 0) return std::nullopt;
            --*step_limit_;
        }
        if (done_ || frontier_size() == 0) return std::nullopt;
        const Popped popped = pop_best();
        poll_.tick();
        const EntryIndex entry = popped.slot.entry;
        if constexpr (refines_keys<Scorer>())
            if (refined_.at(entry) == 0) return refine(popped);
        if (popped.ahead) {
            const ExpansionResult* result = speculation_->collect(*popped.ahead);
            if (result != nullptr) {
                ++counts_.taken;
                take_ahead_path(*popped.ahead);
                const double entry_sum = result->weight_sum;
                const StepStatus status = result->status;
                if (status == StepStatus::Expanded) commit(entry, *result);
                speculation_->release(*popped.ahead);  // its result may be overwritten now
                dispatch_ahead();
                return Step{blocks_, entry_sum, status};
            }
            speculation_->release(*popped.ahead);
            ++counts_.redone;
        } else {
            ++counts_.here;
        }
        const Step step = expand_here(entry);
        dispatch_ahead();
        return step;
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

    std::uint64_t frontier_size() const noexcept { return frontier_.size() + ahead_.size(); }
    // The least key among the pending entries (those handed out ahead included), nullopt when
    // none is pending. With admissible keys it bounds every cover the search has yet to report.
    std::optional<double> least_pending_key() const noexcept {
        if (frontier_size() == 0) return std::nullopt;
        std::uint64_t least = UINT64_MAX;
        if (!frontier_.empty()) least = frontier_.best().key;
        if (!ahead_.empty()) least = std::min(least, ahead_.front().slot.key);
        return key_score(least);
    }
    // Entries pushed so far, the root included.
    std::uint64_t pushed_entries() const noexcept { return arena_.size(); }
    // Bytes held by the frontier and the arena of pushed entries.
    std::uint64_t frontier_bytes() const noexcept {
        return frontier_.capacity_bytes() + arena_.capacity_bytes() + refined_.capacity_bytes();
    }

private:
    // Pushes the children of an expansion on this thread under the `max_heap` cap, polling.
    struct PushUnderCaps {
        OrderedSearch& search;
        EntryIndex parent;
        bool admit() { return search.room_for_child(); }
        // Nothing else is pending: a lone child is the next entry popped, whatever its key.
        bool alone() const { return search.frontier_size() == 0; }
        void charge(std::uint64_t work) { search.poll_.tick(work); }
        void accept(std::uint64_t block, double score) { search.push_child(parent, block, score); }
    };

    // Expands `entry` on this thread, pushing its children as they are scored.
    Step expand_here(EntryIndex entry) {
        const auto [path, links] = matrices_->move_to(arena_, entry, relabeled_, *scorer_);
        PushUnderCaps sink{*this, entry};
        const StepStatus status = expand_entry(links, *scorer_, relabeled_, path.blocks(), path.weight_sum(),
                                               branch_blocks_, sink, path.ids());
        return Step{path.blocks(), path.weight_sum(), status};
    }

    // Whether the `max_heap` cap leaves room for one more child; the search ends at the first
    // child it refuses, so one thread and helpers stop scoring at the same entry.
    bool room_for_child() {
        if (!max_heap_) return true;
        if (done_) return false;
        if (frontier_size() >= *max_heap_) {
            done_ = true;
            return false;
        }
        return true;
    }

    // A pending entry taken out of the frontier, with its slot when it was handed out ahead.
    struct Popped {
        FrontierSlot slot;
        std::optional<unsigned> ahead;
    };
    struct Ahead {
        FrontierSlot slot;
        unsigned index;
    };

    // The best pending entry: the better of the heap's best and the best handed out ahead.
    Popped pop_best() {
        if (!ahead_.empty() && (frontier_.empty() || pops_before(ahead_.front().slot, frontier_.best()))) {
            const Ahead best = ahead_.front();
            ahead_.erase(ahead_.begin());
            return Popped{best.slot, best.index};
        }
        return Popped{frontier_.pop_best(), std::nullopt};
    }

    // Gives a popped entry its full key (the larger of its cheap and its full one, both
    // admissible) and puts it back among the pending entries; see "Lazy keys" above. An entry
    // handed out ahead was handed out to be refined: its key is the helper's when done.
    Step refine(const Popped& popped) {
        const EntryIndex entry = popped.slot.entry;
        refined_[entry] = 1;
        if (popped.ahead) {
            const ExpansionResult* result = speculation_->collect(*popped.ahead);
            if (result != nullptr && result->status == StepStatus::Refined) {
                ++counts_.refined_ahead;
                take_ahead_path(*popped.ahead);
                const double entry_sum = result->weight_sum;
                put_back_refined(popped, result->full_bound);
                return Step{blocks_, entry_sum, StepStatus::Refined};
            }
        }
        const auto [path, links] = matrices_->move_to(arena_, entry, relabeled_, *scorer_);
        put_back_refined(popped, scorer_->entry_bound(links, path.blocks()));
        return Step{path.blocks(), path.weight_sum(), StepStatus::Refined};
    }

    // Copies the path handed out in `slot` into blocks_, which outlives the slot's release.
    void take_ahead_path(unsigned slot) {
        const std::vector<std::uint64_t>& path = speculation_->path(slot);
        blocks_.assign(path.begin(), path.end());
    }

    // Puts a refined entry back among the pending entries under the larger of its two keys.
    void put_back_refined(const Popped& popped, double full) {
        if (popped.ahead) speculation_->release(*popped.ahead);
        frontier_.push(FrontierSlot{std::max(popped.slot.key, score_key(full)), popped.slot.entry});
        dispatch_ahead();
    }

    void insert_ahead(const Ahead& ahead) {
        auto at = ahead_.begin();
        while (at != ahead_.end() && pops_before(at->slot, ahead.slot)) ++at;
        ahead_.insert(at, ahead);
    }

    // Hands the best entries of the heap to the helpers while slots are free and fewer than
    // the cap wait for a helper.
    void dispatch_ahead() {
        if (!speculation_ || done_) return;
        bool any = false;
        while (!frontier_.empty() && speculation_->pending() < waiting_cap_) {
            const std::optional<unsigned> slot = speculation_->free_slot();
            if (!slot) break;
            const FrontierSlot best = frontier_.pop_best();
            arena_.read_path(best.entry, ahead_path_);
            bool refine_only = false;
            if constexpr (refines_keys<Scorer>()) refine_only = refined_.at(best.entry) == 0;
            speculation_->dispatch(*slot, ahead_path_, best, refine_only);
            insert_ahead(Ahead{best, *slot});
            any = true;
        }
        if (any) speculation_->wake();
    }

    // Pushes the children of an expansion done ahead, under the caps as step() pushes them.
    void commit(EntryIndex entry, const ExpansionResult& result) {
        for (std::size_t i = 0; i < result.blocks.size(); ++i) {
            if (!room_for_child()) break;
            poll_.tick();
            mark_key(false);
            const EntryIndex child = arena_.push(entry, result.blocks[i]);
            frontier_.push(FrontierSlot{result.keys[i], child});
        }
    }

    // Records whether the entry about to be pushed has its full key (lazy keys only). Before
    // the push, so that every entry has its flag: a push that fails leaves a spare flag, and
    // since every flag pushed after the root's is 0, which entry reads which is all one.
    void mark_key(bool full) {
        if constexpr (refines_keys<Scorer>()) refined_.push_back(full ? 1 : 0);
    }

    void push_child(EntryIndex parent, std::uint64_t block, double score) {
        mark_key(false);
        const EntryIndex child = arena_.push(parent, block);
        frontier_.push(FrontierSlot{score_key(score), child});
    }

    std::optional<std::uint64_t> step_limit_;
    std::optional<std::uint64_t> max_heap_;
    bool done_ = false;
    BlockList relabeled_;
    std::optional<MatrixCopies> matrices_;       // each showing the entry it last moved to
    std::optional<Scorer> scorer_;
    EntryArena arena_;
    // Per entry, whether its key is full (lazy keys only; see refines_keys).
    ChunkedArray<std::uint8_t> refined_;
    OrderedFrontier frontier_;
    InterruptPoll poll_;
    std::vector<std::uint64_t> blocks_;          // blocks of an entry expanded or refined ahead
    std::vector<std::uint64_t> branch_blocks_;   // scratch
    std::vector<std::uint64_t> ahead_path_;      // scratch
    std::vector<Ahead> ahead_;                   // handed out ahead, best first
    std::int64_t waiting_cap_ = 0;               // entries handed out that may wait for a helper
    AheadCounts counts_;
    // Last: destroyed first, it stops the helpers before anything they read goes away.
    std::unique_ptr<Speculation<Scorer>> speculation_;
};

}  // namespace xcover
