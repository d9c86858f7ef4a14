// Expansions of a best-first search's entries done ahead of time by helper threads.
//
// Expanding an entry (bring the matrix to it, choose its column, score every child) depends
// on that entry alone. So while the search's own thread commits one entry after another, the
// best entries still pending are handed out (`dispatch`) to helpers, each with a matrix and a
// scorer of its own, and when the search pops one of them it takes the stored children
// (`collect`) instead of expanding it again. The children are pushed by the search's thread
// in the order, and so with the insertion numbers, one thread would give them.
//
// A helper's expansion scores every child, whatever the `max_heap` cap will allow, and never
// reports a failure: when anything throws while it works (a weights index out of range, a
// refused allocation), the result is marked unavailable and the search expands that entry
// itself when it pops it, stopping where one thread stops and failing as one thread fails.
// An entry that a helper has not started yet is expanded by the search's thread too.
//
// With lazy keys (refines_keys), an entry not yet refined is handed out to be refined only:
// the helper computes its full key (entry_bound, a function of the entry alone) and no
// children. Most entries of such a search are refined and never expanded, and the refinements
// of the best pending entries are most of its work, so this is the work helpers share.
//
// Which pending entry a helper takes depends on what most of a step costs. Where every popped
// entry is expanded, the search's thread's own part of a step (pushing the children) is a
// large share of it: helpers take the best pending entry, the one the search's thread pops
// next, so that it finds it done. With lazy keys, a refinement is far costlier than the
// search's part, and the best entry is most often a child just handed out, which the search's
// thread pops before a helper can start it: a helper takes the second best (the best when it
// is the only one), and the two threads work side by side instead of racing for the same entry.
//
// While it waits for an entry a helper runs, the search's thread expands other pending
// entries in a matrix of its own, and there it takes the entry that shares the longest prefix
// with the last one that matrix showed (the best among equals): bringing a matrix to an entry
// undoes and redoes the columns after that prefix, the bulk of an expansion's cost, and any
// pending entry is as useful to it as another.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <concepts>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "../links/block_list.hpp"
#include "../links/dancinglinks.hpp"
#include "../pool/thread_pool.hpp"
#include "expansion.hpp"
#include "frontier.hpp"
#include "linkstate.hpp"

namespace xcover {

// The scorer helpers start from: `scorer.for_helper()` when the scorer has it (one whose plain
// copies would share state with the search's thread, such as its work counters or the
// caller's Interrupt), a plain copy otherwise. A helper's scorer must give the very scores
// the search's thread would give when not interrupted.
template <class Scorer>
Scorer helper_scorer(const Scorer& scorer) {
    if constexpr (requires { { scorer.for_helper() } -> std::same_as<Scorer>; })
        return scorer.for_helper();
    else
        return scorer;
}

template <class Scorer>
class Speculation final : public TaskSource {
public:
    // `root` is the matrix with nothing covered and `scorer` the scorer right after it scored
    // the root: every helper starts from copies of both. `relabeled` outlives this object.
    Speculation(ThreadPool& pool, unsigned slots, const DancingLinks& root, const Scorer& scorer,
                const BlockList& relabeled)
        : root_(root), scorer_(helper_scorer(scorer)), relabeled_(relabeled), slots_(slots),
          membership_(pool, *this) {
        for (unsigned i = slots; i > 0; --i) free_.push_back(i - 1);
    }

    ~Speculation() { cancelled_.store(true, std::memory_order_relaxed); }

    // A free slot, if any (the search's thread only). None in a child forked since the
    // search began: its helpers are not there.
    std::optional<unsigned> free_slot() const noexcept {
        if (free_.empty() || !membership_.in_this_process()) return std::nullopt;
        return free_.back();
    }

    // Hands the entry of `path` (its blocks in order of choice), at `order` in the search's
    // order, to the helpers in free slot `slot`, which stays taken until `release`: to be
    // expanded, or with `refine_only` to have its full key computed (status Refined,
    // `full_bound`).
    void dispatch(unsigned slot, const std::vector<std::uint64_t>& path, FrontierSlot order,
                  bool refine_only = false) {
        Slot& s = slots_[slot];
        s.path.assign(path.begin(), path.end());
        s.refine_only = refine_only;
        const std::size_t head = std::min(path.size(), kHeadBlocks);
        for (std::size_t i = 0; i < head; ++i) s.head[i].store(path[i], std::memory_order_relaxed);
        s.head_size.store(static_cast<std::uint32_t>(head), std::memory_order_relaxed);
        s.order_key.store(order.key, std::memory_order_relaxed);
        s.order_entry.store(order.entry, std::memory_order_relaxed);
        free_.pop_back();
        s.state.store(kPending, std::memory_order_release);
        pending_.fetch_add(1, std::memory_order_release);
    }
    // Slots handed out that no thread has started.
    std::int64_t pending() const noexcept { return pending_.load(std::memory_order_relaxed); }
    // Tells sleeping helpers that there is work (after one or more dispatches).
    void wake() noexcept { membership_.wake(); }

    // The result of slot `slot`: nullptr when the caller must expand the entry itself (no
    // helper started it, the helper's expansion is unavailable, or the process is a child
    // forked since the helpers took it, where they do not exist). While a helper works on it,
    // the caller expands other pending slots as a helper would, or waits.
    const ExpansionResult* collect(unsigned slot) {
        Slot& s = slots_[slot];
        if (!membership_.in_this_process())
            return s.state.load(std::memory_order_acquire) == kDone ? &s.result : nullptr;
        for (;;) {
            std::uint32_t seen = kPending;
            if (s.state.compare_exchange_strong(seen, kClaimed, std::memory_order_acq_rel)) {
                pending_.fetch_sub(1, std::memory_order_relaxed);
                return nullptr;
            }
            if (seen == kDone) return &s.result;
            if (seen == kUnavailable) return nullptr;
            Context* context = own_context();
            if (Slot* other = claim_pending(context)) {
                expand_claimed(*other, context);
                continue;
            }
            s.state.wait(kRunning, std::memory_order_acquire);
        }
    }
    // Expansions the helpers did (for benchmarks).
    std::uint64_t by_helpers() const noexcept { return by_helpers_.load(std::memory_order_relaxed); }

    // The path handed out in a slot that is taken.
    const std::vector<std::uint64_t>& path(unsigned slot) const noexcept { return slots_[slot].path; }

    void release(unsigned slot) {
        slots_[slot].state.store(kFree, std::memory_order_relaxed);
        free_.push_back(slot);
    }

    // Expands pending slots, one context held for as many as there are.
    bool run_one() noexcept override {
        Slot* s = claim_pending(nullptr);
        if (s == nullptr) return false;
        std::unique_ptr<Context> context = acquire_context();
        std::uint64_t done = 0;
        for (; s != nullptr; s = claim_pending(nullptr)) {
            expand_claimed(*s, context.get());
            ++done;
        }
        release_context(std::move(context));
        by_helpers_.fetch_add(done, std::memory_order_relaxed);
        return true;
    }

private:
    enum : std::uint32_t { kFree, kPending, kRunning, kDone, kUnavailable, kClaimed };

    // Blocks of a path compared when a thread looks for the pending entry nearest its matrix:
    // entries that share more are equally near.
    static constexpr std::size_t kHeadBlocks = 32;

    struct Slot {
        std::atomic<std::uint32_t> state{kFree};
        // Where the entry stands in the search's order (FrontierSlot's key and insertion
        // number), read by helpers choosing a slot.
        std::atomic<std::uint64_t> order_key{0};
        std::atomic<std::uint32_t> order_entry{0};
        std::vector<std::uint64_t> path;
        bool refine_only = false;
        // The first blocks of `path`, which threads that have not claimed the slot may read
        // (a slot can be handed out again meanwhile: what they read then only guides a choice).
        std::array<std::atomic<std::uint64_t>, kHeadBlocks> head{};
        std::atomic<std::uint32_t> head_size{0};
        ExpansionResult result;
    };

    struct Scratch {
        std::vector<std::uint64_t> moves;
        std::vector<std::uint64_t> branch;
        std::vector<std::uint64_t> last;  // the first blocks of the entry the matrix shows
    };
    struct Context {
        LinkState state;
        Scorer scorer;
        Scratch scratch;
    };

    // Expands the running slot `s` in `context` and publishes the result (unavailable when
    // there is no context, anything threw or the search was cancelled). The search's thread
    // expands other entries this way too, in a context of its own, never with its own scorer:
    // that one may poll the caller's Interrupt, and a result must not depend on which thread
    // made it.
    void expand_claimed(Slot& s, Context* context) noexcept {
        bool ok = false;
        try {
            ok = context != nullptr &&
                 expand(context->state, context->scorer, context->scratch, s.path, s.refine_only, s.result);
        } catch (...) {
            ok = false;  // the search's thread expands this entry itself
        }
        s.state.store(ok ? kDone : kUnavailable, std::memory_order_release);
        s.state.notify_one();
    }

    // How many of the first blocks of the pending slot `s` the entry of `last` shares.
    static std::size_t shared_head(const Slot& s, const std::vector<std::uint64_t>& last) noexcept {
        const std::size_t size =
            std::min<std::size_t>(s.head_size.load(std::memory_order_relaxed), last.size());
        std::size_t i = 0;
        while (i < size && s.head[i].load(std::memory_order_relaxed) == last[i]) ++i;
        return i;
    }

    // A pending slot, now running; nullptr when there is none. A helper (no `context`) takes
    // the best pending entry, or with lazy keys the second best (see the top of this file);
    // the search's thread (with its `context`) the one nearest its matrix, the best among
    // equals. A helper with nothing to do reads the count alone, not every slot the search's
    // thread writes.
    Slot* claim_pending(const Context* context) noexcept {
        for (;;) {
            if (pending_.load(std::memory_order_acquire) <= 0) return nullptr;
            Slot* chosen = context ? nearest_pending(context->scratch.last) : helpers_pending();
            if (chosen == nullptr || cancelled_.load(std::memory_order_relaxed)) return nullptr;
            std::uint32_t state = kPending;
            if (chosen->state.compare_exchange_strong(state, kRunning, std::memory_order_acq_rel)) {
                pending_.fetch_sub(1, std::memory_order_relaxed);
                return chosen;
            }
        }
    }

    static FrontierSlot order_of(const Slot& s) noexcept {
        return FrontierSlot{s.order_key.load(std::memory_order_relaxed),
                            s.order_entry.load(std::memory_order_relaxed)};
    }

    // The best pending slot in the search's order, or with lazy keys the second best (the
    // best when it is the only one).
    Slot* helpers_pending() noexcept {
        Slot* best = nullptr;
        Slot* second = nullptr;
        FrontierSlot best_order{}, second_order{};
        for (Slot& s : slots_) {
            if (s.state.load(std::memory_order_acquire) != kPending) continue;
            const FrontierSlot order = order_of(s);
            if (best == nullptr || pops_before(order, best_order)) {
                second = best;
                second_order = best_order;
                best = &s;
                best_order = order;
            } else if (second == nullptr || pops_before(order, second_order)) {
                second = &s;
                second_order = order;
            }
        }
        if constexpr (refines_keys<Scorer>())
            if (second != nullptr) return second;
        return best;
    }

    // The pending slot whose entry shares the most first blocks with `last`, the best in
    // the search's order among equals.
    Slot* nearest_pending(const std::vector<std::uint64_t>& last) noexcept {
        Slot* best = nullptr;
        std::size_t best_shared = 0;
        FrontierSlot best_order{};
        for (Slot& s : slots_) {
            if (s.state.load(std::memory_order_acquire) != kPending) continue;
            const std::size_t shared = shared_head(s, last);
            const FrontierSlot order = order_of(s);
            if (best == nullptr || shared > best_shared ||
                (shared == best_shared && pops_before(order, best_order))) {
                best = &s;
                best_shared = shared;
                best_order = order;
            }
        }
        return best;
    }

    // A context for a helper's run: one kept from an earlier run, or a new one; nullptr when
    // there is no memory for it. One is held per run of a helper, not per entry: the
    // contexts' lock is then taken rarely.
    std::unique_ptr<Context> acquire_context() noexcept {
        {
            std::lock_guard lock(contexts_mutex_);
            if (!contexts_.empty()) {
                std::unique_ptr<Context> context = std::move(contexts_.back());
                contexts_.pop_back();
                return context;
            }
        }
        return new_context();
    }
    // Keeps `context` for the next run (or frees it when there is no room to keep it).
    void release_context(std::unique_ptr<Context> context) noexcept {
        if (context == nullptr) return;
        std::lock_guard lock(contexts_mutex_);
        try {
            contexts_.push_back(std::move(context));
        } catch (...) {
            // freed here instead
        }
    }
    // The search's thread's own context, made at its first use (nullptr without memory).
    Context* own_context() noexcept {
        if (own_context_ == nullptr) own_context_ = new_context();
        return own_context_.get();
    }
    std::unique_ptr<Context> new_context() noexcept {
        try {
            return std::make_unique<Context>(Context{LinkState(root_), scorer_, {}});
        } catch (...) {
            return nullptr;
        }
    }

    // Keeps every child of a helper's expansion; stops when the search is cancelled.
    struct KeepAll {
        const std::atomic<bool>& cancelled;
        ExpansionResult& out;
        bool stopped = false;
        bool admit() noexcept {
            stopped = cancelled.load(std::memory_order_relaxed);
            return !stopped;
        }
        void charge(std::uint64_t) noexcept {}
        void accept(std::uint64_t block, double score) {
            out.blocks.push_back(static_cast<std::uint32_t>(block));
            out.keys.push_back(score_key(score));
        }
    };

    // Expands the entry of `path` into `out`, or only computes its full key; false when
    // cancelled.
    bool expand(LinkState& state, Scorer& scorer, Scratch& c, const std::vector<std::uint64_t>& path,
                bool refine_only, ExpansionResult& out) {
        out.blocks.clear();
        out.keys.clear();
        out.weight_sum = weight_sum_of(scorer, path);
        restore_path(state, relabeled_, path, c.moves);
        c.last.assign(path.begin(), path.begin() + static_cast<std::ptrdiff_t>(
                                                      std::min(path.size(), kHeadBlocks)));
        if constexpr (refines_keys<Scorer>()) {
            if (refine_only) {
                out.full_bound = scorer.entry_bound(state.links(), path);
                out.status = StepStatus::Refined;
                return !cancelled_.load(std::memory_order_relaxed);
            }
        }
        KeepAll sink{cancelled_, out};
        out.status = expand_entry(state.links(), scorer, relabeled_, path, out.weight_sum, c.branch, sink);
        return !sink.stopped;
    }

    const DancingLinks root_;
    const Scorer scorer_;
    const BlockList& relabeled_;
    std::vector<Slot> slots_;
    std::vector<unsigned> free_;       // the search's thread only
    std::atomic<bool> cancelled_{false};
    std::atomic<std::uint64_t> by_helpers_{0};
    std::atomic<std::int64_t> pending_{0};  // slots in state kPending
    std::mutex contexts_mutex_;
    std::vector<std::unique_ptr<Context>> contexts_;  // the helpers'
    std::unique_ptr<Context> own_context_;             // the search's thread's
    // Last: destroyed first, it waits for every helper inside run_one.
    ThreadPool::Membership membership_;
};

}  // namespace xcover
