// The threads that help a search.
//
// A pool has a setting, `threads()`: how many threads one search may use, counting the
// caller's own. It keeps threads() - 1 helper threads and shares them among all the searches
// that run at once, so that however many callers search at the same time, no more than
// threads() - 1 helpers are busy besides the callers themselves. With the setting at 1 there
// are no helpers and every search runs on its caller's thread alone.
//
// A search that wants help is a TaskSource: it registers with the pool for its lifetime
// (a Membership) and calls `wake()` when it has new work; a helper calls the source's
// `run_one()` to do a piece of it. The helpers are started at the first registration, not
// before, and after a fork the child starts its own at its first search.
//
// Helpers run engine code only: they never touch the interpreter, never poll the caller's
// Interrupt, and never let an exception out of run_one (a source keeps what its pieces throw).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace xcover {

class TaskSource {
public:
    // Called on a helper thread: does one piece of work and returns true, or returns false at
    // once when there is none. Must not throw.
    virtual bool run_one() noexcept = 0;

protected:
    ~TaskSource() = default;
};

class ThreadPool {
public:
    // The number of threads a search may use when nothing else is said: one (no helpers).
    static constexpr unsigned kDefaultThreads = 1;
    // The most threads a setting gets per processor the process may use: beyond a few,
    // helpers only take turns on the same cores (1023 helpers on 2 cores made a search 50
    // times slower than one thread).
    static constexpr unsigned kThreadsPerCore = 4;

    // What a request for `requested` threads gets, the one place where a request is bounded:
    // 0 asks for one thread per processor (cores()), and a request above max_threads() gets
    // max_threads() (`reduced` then says so, for callers that warn).
    struct Setting {
        unsigned threads;
        bool reduced;
    };
    static Setting setting_for(std::uint64_t requested) noexcept;
    static unsigned max_threads() noexcept { return kThreadsPerCore * cores(); }

    explicit ThreadPool(std::uint64_t threads = kDefaultThreads);
    ~ThreadPool();
    ThreadPool(const ThreadPool&) = delete;
    ThreadPool& operator=(const ThreadPool&) = delete;

    // The process-wide pool. Created at first use, never destroyed (helpers still asleep at
    // exit simply end with the process).
    static ThreadPool& shared();

    // Threads one search may use, the caller included: setting_for(threads). Searches that are running keep going with the helpers
    // that are left; surplus helpers end once their current piece of work is done, without
    // this call waiting for them (so for a moment more helpers may be busy than the setting).
    void set_threads(std::uint64_t threads);
    unsigned threads() const noexcept { return threads_.load(std::memory_order_relaxed); }

    // A source's registration: helpers may call its run_one() from construction until the
    // destructor returns; the destructor waits for every call in progress.
    class Membership {
    public:
        Membership(ThreadPool& pool, TaskSource& source);
        ~Membership();
        Membership(const Membership&) = delete;
        Membership& operator=(const Membership&) = delete;

        // The source has new work.
        void wake() noexcept { pool_.wake(); }

        // False in a child forked since the registration: the helpers that had taken pieces
        // of the source do not exist there, and the child's helpers never serve it (a source
        // that lives on in the child, such as an iterator's, runs on its caller's thread).
        bool in_this_process() const noexcept { return pool_.forks() == forks_; }

    private:
        ThreadPool& pool_;
        TaskSource& source_;
        std::uint64_t forks_;  // the pool's fork count at registration
    };

    // The processors this process may run on (its affinity mask), at least 1: a setting for
    // callers that want every core.
    static unsigned cores() noexcept;

    // The forks between the process that made the pool and this one: 0 there, 1 in its
    // child, 2 in a grandchild.
    std::uint64_t forks() const noexcept { return forks_.load(std::memory_order_relaxed); }

    // Helpers running and not asked to stop (for tests and benchmarks).
    unsigned running_helpers();

private:
    struct Registered {
        TaskSource* source;
        unsigned busy;  // helpers inside its run_one()
        bool leaving;   // detach is waiting: no helper enters it again
    };
    struct Helper;

    void attach(TaskSource& source);
    void detach(TaskSource& source);
    void wake() noexcept;
    void helper_loop(Helper* self);
    // Runs pieces of the source at `index` until it has none or `self` must stop; the lock is
    // held on entry and exit.
    bool serve(std::unique_lock<std::mutex>& lock, std::size_t index, const Helper& self);
    // Starts or stops helpers to match the setting; the lock is held.
    void adjust_helpers(std::unique_lock<std::mutex>& lock);
    // Helpers not asked to stop; the lock is held.
    unsigned active_helpers() const noexcept;
    // Joins the helpers whose loop has returned and forgets them; the lock is held.
    void join_finished(std::unique_lock<std::mutex>& lock) noexcept;

    friend struct PoolForkGuard;
    void before_fork() noexcept;
    void after_fork_in_parent() noexcept;
    void after_fork_in_child() noexcept;

    std::atomic<unsigned> threads_;
    std::mutex mutex_;
    std::condition_variable work_ready_;  // helpers wait here for work
    std::condition_variable idle_;        // detach waits here for a source's calls to end
    std::vector<Registered> sources_;
    // Every helper thread not yet joined: those asked to stop (`stop`) leave after their
    // current piece of work.
    std::vector<std::unique_ptr<Helper>> helpers_;
    std::size_t next_source_ = 0;
    std::atomic<std::uint64_t> generation_{0};  // bumped by every wake()
    std::atomic<unsigned> sleepers_{0};
    std::atomic<std::uint64_t> forks_{0};
};

}  // namespace xcover
