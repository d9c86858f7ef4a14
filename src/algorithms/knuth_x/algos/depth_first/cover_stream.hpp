// The covers of a depth-first search, in get_all's order, found by the caller's thread and
// the pool's helpers together.
//
// The search tree is cut into subtrees (parts) in depth-first order (split_paths). Each part
// is searched by one thread at a time with a matrix of its own (a copy of the search), and its
// covers are kept with the part until the caller takes them; parts are handed out in order,
// and the caller takes covers from the first part not yet used up, so the covers come out in
// the order of one depth-first walk. A helper works only on parts within a window ahead of
// the caller's, and pauses a part whose kept covers reach a bound: what waits in memory stays
// bounded by the window, whatever the number of covers.
//
// The caller's thread helps while the part it waits for runs on a helper, polls its Interrupt
// (helpers never do), and takes over a part whose helper failed, so that a failure shows
// where one thread would meet it. A call interrupted with SearchInterrupted leaves the stream
// between two steps: the next call goes on from there.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "../../links/block_list.hpp"
#include "../../pool/thread_pool.hpp"
#include "../../search/covers.hpp"
#include "../../search/depth_first.hpp"
#include "../../interrupt.hpp"
#include "cover_source.hpp"

namespace xcover {

class CoverStream final : public TaskSource {
public:
    struct Bounds {
        std::uint64_t window_parts;  // parts a helper may work on, counted from the caller's
        std::uint64_t part_items;    // block indices a part keeps before it pauses
    };
    // Bounds for a caller that keeps everything (get_all): no window, no pause.
    static constexpr Bounds kUnbounded{UINT64_MAX, UINT64_MAX};
    // Bounds for a caller that takes covers a batch at a time (an iterator).
    static Bounds bounded(unsigned threads) { return Bounds{2 * std::uint64_t{threads}, std::uint64_t{1} << 14}; }

    // A stream whose covers are kept for next_batch. The pool's setting decides the number of
    // parts; `include` and `secondary` as for DepthFirstSearch. Building the matrix and
    // cutting the tree poll `interrupt`.
    static std::unique_ptr<CoverStream> listing(const BlockList& blocks,
                                                std::span<const std::uint64_t> include, ThreadPool& pool,
                                                Bounds bounds, Interrupt* interrupt = nullptr,
                                                const SecondaryItems& secondary = {});
    // A stream whose covers are only counted (count_rest), built as `listing` builds one.
    static std::unique_ptr<CoverStream> counting(const BlockList& blocks,
                                                 std::span<const std::uint64_t> include, ThreadPool& pool,
                                                 Interrupt* interrupt = nullptr,
                                                 const SecondaryItems& secondary = {});
    ~CoverStream();

    // Appends the next covers to `batch` until it holds `max_covers` covers or at least
    // `max_items` block indices, or the covers run out; returns whether covers may remain.
    bool next_batch(CoverList& batch, std::uint64_t max_covers, std::uint64_t max_items,
                    Interrupt* interrupt);
    // The number of covers not yet taken (a counting stream).
    std::uint64_t count_rest(Interrupt* interrupt);

    // Where the stream stands (CoverSource::progress): each part weighs its share of the tree,
    // and counts as far as its last pause unless the calling thread is running it now. Takes
    // the lock: call it from the caller's thread, outside the stream's own calls or from the
    // Interrupt they poll.
    SearchProgress progress();

    // The parts the tree was cut into.
    std::uint64_t part_count() const noexcept { return parts_.size(); }
    // False in a child forked since the stream was made: its helpers were the parent's.
    bool in_this_process() const noexcept { return membership_->in_this_process(); }

    bool run_one() noexcept override;

private:
    enum class Keep { Covers, CountOnly };
    CoverStream(const BlockList& blocks, std::span<const std::uint64_t> include, ThreadPool& pool,
                Bounds bounds, Keep keep, Interrupt* interrupt, const SecondaryItems& secondary);

    enum class PartState { Waiting, Running, Finished };
    struct Part {
        std::vector<std::uint64_t> path;
        PartState state = PartState::Waiting;
        std::unique_ptr<DepthFirstSearch> search;  // taken for the part, while it is unfinished
        bool started = false;                      // `search` stands in the part's subtree
        CoverList covers;                          // found, not yet taken
        std::uint64_t taken = 0;                   // covers taken from `covers`
        std::uint64_t count = 0;                   // covers found (a counting stream)
        bool cover_pending = false;  // the search stands at a cover not yet kept
        bool stalled = false;        // a helper failed on it: the caller's thread goes on
        double weight = 1.0;         // its share of the whole tree (done_fraction's measure)
        std::uint64_t found = 0;     // covers found in it, by the thread running it
        double paused_done = 0.0;    // its search's done_fraction at the end of its last run
        std::uint64_t paused_found = 0;  // `found` then
    };
    // Polls the stream's cancellation: how a helper's search stops when the stream goes.
    struct Cancel final : Interrupt {
        std::atomic<bool> requested_flag{false};
        bool requested() override { return requested_flag.load(std::memory_order_relaxed); }
    };

    // A part within the window that `by_caller` may run now (the lock is held), or nullptr.
    Part* runnable(bool by_caller, std::uint64_t from);
    bool has_room(const Part& part) const noexcept;
    // Runs `part` (marked Running) until it finishes (true) or keeps enough covers. Throws
    // what the search throws; the part stays consistent, resumable.
    bool run_part(Part& part, Interrupt* interrupt);
    // run_part's search below the part's top, with `search` polling the run's Interrupt.
    bool search_part(Part& part, DepthFirstSearch& search);
    // Runs `part` under the lock discipline: marks it, unlocks, runs, relocks, marks it.
    void run_locked(std::unique_lock<std::mutex>& lock, Part& part, Interrupt* interrupt, bool by_caller);
    std::unique_ptr<DepthFirstSearch> take_runner();
    void give_back(std::unique_ptr<DepthFirstSearch> runner);
    // Moves covers of the first part into `batch` within the limits (the lock is held).
    void take_covers(Part& part, CoverList& batch, std::uint64_t max_covers, std::uint64_t max_items);
    // Waits for another thread's progress, polling `interrupt` (the lock is held).
    void wait_for_progress(std::unique_lock<std::mutex>& lock, Interrupt* interrupt);
    void advance_front(std::unique_lock<std::mutex>& lock);
    // While a helper runs the front part: runs a later part on this thread, or waits.
    void help_while_front_runs(std::unique_lock<std::mutex>& lock, Interrupt* interrupt);

    // Sets each part's weight, walking the paths in order with pristine_.
    void weigh_parts();
    // Records where `part` stands at the end of a run (the lock is held).
    void note_pause(Part& part);

    const Bounds bounds_;
    const bool count_only_;
    DepthFirstSearch pristine_;  // at the root: the source of every runner
    std::vector<Part> parts_;
    std::uint64_t front_ = 0;  // the first part whose covers are not all taken
    double total_weight_ = 0.0;
    const Part* caller_part_ = nullptr;  // the part the caller's thread is running, if any
    std::mutex mutex_;
    std::condition_variable progress_;
    std::mutex spare_mutex_;
    std::vector<std::unique_ptr<DepthFirstSearch>> spare_;  // reset runners
    Cancel cancel_;
    // Last: destroyed first, it waits for every helper inside run_one.
    std::unique_ptr<ThreadPool::Membership> membership_;
};

}  // namespace xcover
