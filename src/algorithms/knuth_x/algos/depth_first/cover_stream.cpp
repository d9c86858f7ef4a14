#include "cover_stream.hpp"

#include <algorithm>
#include <chrono>
#include <exception>

#include "split.hpp"

namespace xcover {

namespace {

// Parts per thread of the setting: enough that a thread that finishes early finds another
// part, few enough that cutting the tree costs nothing beside searching it.
constexpr std::uint64_t kPartsPerThread = 64;
// How often a caller waiting for a helper polls its Interrupt.
constexpr auto kWaitSlice = std::chrono::milliseconds(2);

}  // namespace

std::unique_ptr<CoverStream> CoverStream::listing(const BlockList& blocks,
                                                  std::span<const std::uint64_t> include, ThreadPool& pool,
                                                  Bounds bounds, Interrupt* interrupt,
                                                  const SecondaryItems& secondary) {
    return std::unique_ptr<CoverStream>(
        new CoverStream(blocks, include, pool, bounds, Keep::Covers, interrupt, secondary));
}

std::unique_ptr<CoverStream> CoverStream::counting(const BlockList& blocks,
                                                   std::span<const std::uint64_t> include, ThreadPool& pool,
                                                   Interrupt* interrupt,
                                                   const SecondaryItems& secondary) {
    return std::unique_ptr<CoverStream>(
        new CoverStream(blocks, include, pool, kUnbounded, Keep::CountOnly, interrupt, secondary));
}

CoverStream::CoverStream(const BlockList& blocks, std::span<const std::uint64_t> include,
                         ThreadPool& pool, Bounds bounds, Keep keep, Interrupt* interrupt,
                         const SecondaryItems& secondary)
    : bounds_(bounds), count_only_(keep == Keep::CountOnly), pristine_(blocks, include, interrupt, secondary) {
    const std::uint64_t parts = kPartsPerThread * pool.threads();
    // split's cut walks a forced chain once and moves one search between parts, where
    // replaying each path from the root would be quadratic in the depth of the chain.
    std::vector<std::vector<std::uint64_t>> paths = split_paths(blocks, parts, include, interrupt, secondary);
    parts_.resize(paths.size());
    for (std::size_t i = 0; i < paths.size(); ++i) parts_[i].path = std::move(paths[i]);
    weigh_parts();
    pristine_.set_interrupt(nullptr);  // runners are copies: each run sets its own
    membership_ = std::make_unique<ThreadPool::Membership>(pool, *this);
    membership_->wake();
}

// A part's weight is the product, over the levels of its path, of one over the number of
// blocks the level may try. Consecutive paths share a prefix: the walk steps back to it and
// down the rest, as split does, so a forced chain is walked once.
void CoverStream::weigh_parts() {
    std::vector<std::uint64_t> at;       // the path pristine_ stands at
    std::vector<double> shares{1.0};     // the share of each position along it
    std::vector<std::uint64_t> blocks;
    for (Part& part : parts_) {
        std::size_t common = 0;
        while (common < at.size() && common < part.path.size() && at[common] == part.path[common]) ++common;
        for (; at.size() > common; at.pop_back(), shares.pop_back()) pristine_.step_back();
        for (std::size_t k = common; k < part.path.size(); ++k) {
            (void)pristine_.branch_blocks(blocks);
            shares.push_back(shares.back() / static_cast<double>(std::max<std::size_t>(blocks.size(), 1)));
            pristine_.step_into(part.path[k]);
            at.push_back(part.path[k]);
        }
        part.weight = shares.back();
        total_weight_ += part.weight;
    }
    pristine_.reset();
}

void CoverStream::note_pause(Part& part) {
    part.paused_found = part.found;
    part.paused_done = part.state == PartState::Finished ? 1.0 : part.search ? part.search->done_fraction() : 0.0;
}

SearchProgress CoverStream::progress() {
    std::lock_guard lock(mutex_);
    SearchProgress progress;
    double done = 0.0;
    for (const Part& part : parts_) {
        const bool live = &part == caller_part_ && part.search;
        progress.covers += live ? part.found : part.paused_found;
        done += part.weight * (live ? part.search->done_fraction() : part.paused_done);
    }
    progress.fraction = total_weight_ > 0.0 ? std::min(done / total_weight_, 1.0) : 1.0;
    if (front_ == parts_.size()) progress.fraction = 1.0;
    return progress;
}

CoverStream::~CoverStream() {
    cancel_.requested_flag.store(true, std::memory_order_relaxed);
    membership_.reset();
}

bool CoverStream::has_room(const Part& part) const noexcept {
    return count_only_ || part.covers.total_items() < bounds_.part_items;
}

CoverStream::Part* CoverStream::runnable(bool by_caller, std::uint64_t from) {
    const std::uint64_t window_end =
        bounds_.window_parts >= parts_.size() - front_ ? parts_.size() : front_ + bounds_.window_parts;
    for (std::uint64_t i = from; i < window_end; ++i) {
        Part& part = parts_[i];
        if (part.state == PartState::Waiting && (by_caller || !part.stalled) && has_room(part)) return &part;
    }
    return nullptr;
}

std::unique_ptr<DepthFirstSearch> CoverStream::take_runner() {
    {
        std::lock_guard lock(spare_mutex_);
        if (!spare_.empty()) {
            std::unique_ptr<DepthFirstSearch> runner = std::move(spare_.back());
            spare_.pop_back();
            return runner;
        }
    }
    return std::make_unique<DepthFirstSearch>(pristine_);
}

void CoverStream::give_back(std::unique_ptr<DepthFirstSearch> runner) {
    runner->reset();
    std::lock_guard lock(spare_mutex_);
    spare_.push_back(std::move(runner));
}

bool CoverStream::run_part(Part& part, Interrupt* interrupt) {
    if (!part.search) part.search = take_runner();
    DepthFirstSearch& search = *part.search;
    if (!part.started) {
        // Unpolled (a runner at rest has no Interrupt): a walk down stopped midway would start
        // again from the root, and it is bounded by the depth of the tree.
        search.start_at(part.path);
        part.started = true;
    }
    // The Interrupt is this run's alone: a caller's may end with its call (an iterator's
    // refill), and a helper must never poll it.
    search.set_interrupt(interrupt);
    bool finished = false;
    try {
        finished = search_part(part, search);
    } catch (...) {
        search.set_interrupt(nullptr);
        throw;
    }
    search.set_interrupt(nullptr);
    if (finished) give_back(std::move(part.search));
    return finished;
}

bool CoverStream::search_part(Part& part, DepthFirstSearch& search) {
    if (part.cover_pending) {
        part.covers.push_list(search.cover());
        part.cover_pending = false;
    }
    for (;;) {
        if (!has_room(part)) return false;
        if (!search.next()) return true;
        ++part.found;
        if (count_only_) {
            ++part.count;
        } else {
            part.cover_pending = true;
            part.covers.push_list(search.cover());
            part.cover_pending = false;
        }
    }
}

void CoverStream::run_locked(std::unique_lock<std::mutex>& lock, Part& part, Interrupt* interrupt,
                             bool by_caller) {
    part.state = PartState::Running;
    if (by_caller) caller_part_ = &part;
    lock.unlock();
    bool finished = false;
    std::exception_ptr error;
    try {
        finished = run_part(part, interrupt);
    } catch (...) {
        error = std::current_exception();
    }
    lock.lock();
    if (by_caller) caller_part_ = nullptr;
    part.state = finished ? PartState::Finished : PartState::Waiting;
    note_pause(part);
    progress_.notify_all();
    if (!error) return;
    if (by_caller) std::rethrow_exception(error);
    part.stalled = true;  // the caller's thread goes on with it, and meets the failure itself
}

void CoverStream::wait_for_progress(std::unique_lock<std::mutex>& lock, Interrupt* interrupt) {
    progress_.wait_for(lock, kWaitSlice);
    if (interrupt == nullptr) return;
    // The Interrupt may run the caller's own code (signal handlers): not under the lock.
    lock.unlock();
    const bool stop = interrupt->requested();
    lock.lock();
    if (stop) throw SearchInterrupted();
}

void CoverStream::take_covers(Part& part, CoverList& batch, std::uint64_t max_covers,
                              std::uint64_t max_items) {
    const std::uint64_t available = part.covers.size();
    if (max_covers == UINT64_MAX && max_items == UINT64_MAX) {
        batch.append_lists(part.covers, part.taken, available);
        part.taken = available;
    }
    while (part.taken < available && batch.size() < max_covers && batch.total_items() < max_items) {
        batch.push_list(part.covers[part.taken]);
        ++part.taken;
    }
    if (part.taken == available && available > 0) {
        part.covers.clear();
        part.taken = 0;
        if (part.state == PartState::Waiting) membership_->wake();  // room again
    }
}

void CoverStream::advance_front(std::unique_lock<std::mutex>&) {
    parts_[front_].covers = CoverList{};
    ++front_;
    if (bounds_.window_parts != UINT64_MAX) membership_->wake();  // the window moved
}

void CoverStream::help_while_front_runs(std::unique_lock<std::mutex>& lock, Interrupt* interrupt) {
    if (Part* other = runnable(true, front_ + 1)) run_locked(lock, *other, interrupt, true);
    else wait_for_progress(lock, interrupt);
}

bool CoverStream::next_batch(CoverList& batch, std::uint64_t max_covers, std::uint64_t max_items,
                             Interrupt* interrupt) {
    std::unique_lock lock(mutex_);
    for (;;) {
        if (front_ == parts_.size()) return false;
        if (batch.size() >= max_covers || batch.total_items() >= max_items) return true;
        Part& part = parts_[front_];
        if (part.state == PartState::Running) {
            help_while_front_runs(lock, interrupt);
            continue;
        }
        take_covers(part, batch, max_covers, max_items);
        if (part.taken < part.covers.size()) return true;  // the batch is full
        if (part.state == PartState::Finished) advance_front(lock);
        else run_locked(lock, part, interrupt, true);
    }
}

std::uint64_t CoverStream::count_rest(Interrupt* interrupt) {
    std::unique_lock lock(mutex_);
    std::uint64_t total = 0;
    for (;;) {
        if (front_ == parts_.size()) return total;
        Part& part = parts_[front_];
        if (part.state == PartState::Running) {
            help_while_front_runs(lock, interrupt);
        } else if (part.state == PartState::Finished) {
            total += part.count;
            part.count = 0;
            advance_front(lock);
        } else {
            run_locked(lock, part, interrupt, true);
        }
    }
}

bool CoverStream::run_one() noexcept {
    try {
        std::unique_lock lock(mutex_);
        Part* part = runnable(false, front_);
        if (part == nullptr) return false;
        run_locked(lock, *part, &cancel_, false);
        return true;
    } catch (...) {
        return false;  // a lock that could not be taken: nothing was started
    }
}

}  // namespace xcover
