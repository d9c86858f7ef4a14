#include "thread_pool.hpp"

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <new>
#include <system_error>

namespace xcover {

struct ThreadPool::Helper {
    std::thread thread;
    // Set under the pool's mutex; read between two pieces of work without it, so that a
    // helper that must stop leaves a busy source after its current piece.
    std::atomic<bool> stop{false};
    // Its loop has returned (under the pool's mutex): joining it waits for nothing.
    bool finished = false;
};

namespace {

// How long a helper that ran out of work keeps asking its source before it sleeps: a search
// hands out its next piece within microseconds of the last, and a sleeping helper costs a
// system call to wake.
constexpr auto kLinger = std::chrono::microseconds(100);

// Room a new helper asks malloc for before its first use of thread-local storage: below
// malloc's threshold for a mapping of its own, so that once freed it stays in the heap the
// thread allocates from.
constexpr std::size_t kStartRoom = 64 * 1024;

// Makes this new thread's C++ runtime state exist, or returns false when there is no memory
// for it. The C library allocates a thread's share of a loaded library's thread-local storage
// (the runtime's exception state among it) with malloc at the thread's first use, and ends
// the process when malloc fails there. A helper's first exception is often a refused
// allocation, deep in a search that has exhausted memory: so a helper touches that state
// first thing, and only after malloc has shown it has room, which then serves the small
// block the runtime needs.
bool prepare_helper_thread() noexcept {
    void* room = std::malloc(kStartRoom);
    if (room == nullptr) return false;
    std::free(room);
    const int pending = std::uncaught_exceptions();  // allocates the runtime's state
    asm volatile("" : : "r"(pending));               // the call is declared pure: keep it
    return true;
}

}  // namespace

// Every pool, for the fork handlers: before a fork each pool's mutex is taken, so that the
// child gets it in a known state; in the child the helpers are gone (only the forking thread
// exists there), so each pool forgets them and starts new ones at its next search.
struct PoolForkGuard {
    static std::mutex& registry_mutex() {
        static std::mutex* mutex = new std::mutex;
        return *mutex;
    }
    static std::vector<ThreadPool*>& registry() {
        static auto* pools = new std::vector<ThreadPool*>;
        return *pools;
    }
    static void prepare() {
        registry_mutex().lock();
        for (ThreadPool* pool : registry()) pool->before_fork();
    }
    static void parent() {
        for (ThreadPool* pool : registry()) pool->after_fork_in_parent();
        registry_mutex().unlock();
    }
    static void child() {
        for (ThreadPool* pool : registry()) pool->after_fork_in_child();
        registry_mutex().unlock();
    }
    static void add(ThreadPool* pool) {
        static std::once_flag installed;
        std::call_once(installed, [] { pthread_atfork(prepare, parent, child); });
        std::lock_guard lock(registry_mutex());
        registry().push_back(pool);
    }
    static void remove(ThreadPool* pool) {
        std::lock_guard lock(registry_mutex());
        auto& pools = registry();
        pools.erase(std::remove(pools.begin(), pools.end(), pool), pools.end());
    }
};

ThreadPool::ThreadPool(std::uint64_t threads) : threads_(setting_for(threads).threads) {
    PoolForkGuard::add(this);
}

ThreadPool::~ThreadPool() {
    PoolForkGuard::remove(this);
    {
        std::unique_lock lock(mutex_);
        for (auto& helper : helpers_) helper->stop = true;
        work_ready_.notify_all();
    }
    for (auto& helper : helpers_) helper->thread.join();
}

ThreadPool& ThreadPool::shared() {
    static ThreadPool* pool = new ThreadPool();
    return *pool;
}

unsigned ThreadPool::cores() noexcept {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof(set), &set) == 0) {
        const int count = CPU_COUNT(&set);
        if (count > 0) return static_cast<unsigned>(count);
    }
    return std::max(1u, std::thread::hardware_concurrency());
}

ThreadPool::Setting ThreadPool::setting_for(std::uint64_t requested) noexcept {
    if (requested == 0) return Setting{cores(), false};
    const unsigned most = max_threads();
    if (requested > most) return Setting{most, true};
    return Setting{static_cast<unsigned>(requested), false};
}

void ThreadPool::set_threads(std::uint64_t threads) {
    std::unique_lock lock(mutex_);
    threads_.store(setting_for(threads).threads, std::memory_order_relaxed);
    // Helpers start with the first search; until then only the setting changes. Surplus
    // helpers are not waited for: one may be inside a long piece of a search, and the
    // caller must not be held up by it (nor its Ctrl-C); a later call joins it once ended.
    if (!helpers_.empty() || !sources_.empty()) adjust_helpers(lock);
    else join_finished(lock);
}

unsigned ThreadPool::running_helpers() {
    std::lock_guard lock(mutex_);
    return active_helpers();
}

unsigned ThreadPool::active_helpers() const noexcept {
    return static_cast<unsigned>(std::count_if(
        helpers_.begin(), helpers_.end(), [](const auto& helper) { return !helper->stop; }));
}

void ThreadPool::join_finished(std::unique_lock<std::mutex>&) noexcept {
    std::size_t kept = 0;
    for (auto& helper : helpers_) {
        if (helper->finished)
            helper->thread.join();  // returns at once: the loop has returned
        else
            helpers_[kept++] = std::move(helper);
    }
    helpers_.resize(kept);
}

void ThreadPool::adjust_helpers(std::unique_lock<std::mutex>& lock) {
    join_finished(lock);
    const unsigned want = threads() - 1;
    unsigned active = active_helpers();
    for (auto it = helpers_.rbegin(); it != helpers_.rend() && active > want; ++it) {
        if ((*it)->stop) continue;
        (*it)->stop = true;
        --active;
        work_ready_.notify_all();
    }
    for (; active < want; ++active) {
        try {
            helpers_.reserve(helpers_.size() + 1);  // a started thread must not be lost
            auto helper = std::make_unique<Helper>();
            Helper* self = helper.get();
            helper->thread = std::thread([this, self] { helper_loop(self); });
            helpers_.push_back(std::move(helper));
        } catch (const std::system_error&) {
            break;  // no more threads to be had: searches run with the helpers there are
        } catch (const std::bad_alloc&) {
            break;
        }
    }
}

ThreadPool::Membership::Membership(ThreadPool& pool, TaskSource& source)
    : pool_(pool), source_(source), forks_(pool.forks()) {
    pool_.attach(source_);
}

ThreadPool::Membership::~Membership() { pool_.detach(source_); }

void ThreadPool::attach(TaskSource& source) {
    std::unique_lock lock(mutex_);
    sources_.push_back(Registered{&source, 0, false});
    adjust_helpers(lock);
}

void ThreadPool::detach(TaskSource& source) {
    std::unique_lock lock(mutex_);
    auto find = [&] {
        return std::find_if(sources_.begin(), sources_.end(),
                            [&](const Registered& r) { return r.source == &source; });
    };
    // Absent in a child forked since the source registered: nothing serves it there.
    if (find() == sources_.end()) return;
    find()->leaving = true;
    idle_.wait(lock, [&] { return find()->busy == 0; });
    sources_.erase(find());
}

void ThreadPool::wake() noexcept {
    generation_.fetch_add(1, std::memory_order_seq_cst);
    if (sleepers_.load(std::memory_order_seq_cst) != 0) {
        std::lock_guard lock(mutex_);
        work_ready_.notify_one();
    }
}

bool ThreadPool::serve(std::unique_lock<std::mutex>& lock, std::size_t index, const Helper& self) {
    if (sources_[index].leaving) return false;
    TaskSource* source = sources_[index].source;
    ++sources_[index].busy;
    lock.unlock();
    bool any = false;
    auto idle_since = std::chrono::steady_clock::now();
    while (!self.stop.load(std::memory_order_relaxed)) {
        if (source->run_one()) {
            any = true;
            idle_since = std::chrono::steady_clock::now();
            continue;
        }
        if (!any || std::chrono::steady_clock::now() - idle_since > kLinger) break;
        std::this_thread::yield();
    }
    lock.lock();
    auto it = std::find_if(sources_.begin(), sources_.end(),
                           [&](const Registered& r) { return r.source == source; });
    if (--it->busy == 0) idle_.notify_all();
    return any;
}

void ThreadPool::helper_loop(Helper* self) {
    const bool ready = prepare_helper_thread();
    std::unique_lock lock(mutex_);
    // Without room for its runtime state the helper ends at once; the searches go on with
    // the helpers there are, and the next search to start asks for a new one.
    if (!ready) self->stop = true;
    while (!self->stop) {
        const std::uint64_t seen = generation_.load(std::memory_order_seq_cst);
        bool any = false;
        for (std::size_t n = 0; n < sources_.size() && !self->stop; ++n) {
            const std::size_t index = (next_source_ + n) % sources_.size();
            if (serve(lock, index, *self)) {
                any = true;
                next_source_ = index + 1;  // the others get the next turn
                break;
            }
        }
        if (any || self->stop) continue;
        sleepers_.fetch_add(1, std::memory_order_seq_cst);
        work_ready_.wait(lock, [&] {
            return self->stop || generation_.load(std::memory_order_seq_cst) != seen;
        });
        sleepers_.fetch_sub(1, std::memory_order_seq_cst);
    }
    self->finished = true;
}

void ThreadPool::before_fork() noexcept { mutex_.lock(); }

void ThreadPool::after_fork_in_parent() noexcept { mutex_.unlock(); }

void ThreadPool::after_fork_in_child() noexcept {
    // The helpers' threads do not exist here: their handles are left as they are (joining or
    // destroying them would touch threads of the parent), kept in a list that lives to the
    // end of the process, and the waits they were in are forgotten with fresh condition
    // variables.
    static auto* abandoned = new std::vector<Helper*>;
    for (auto& helper : helpers_) {
        try {
            abandoned->push_back(helper.get());
        } catch (...) {
            // No memory to remember it: it stays unreachable, which is all this costs.
        }
        (void)helper.release();
    }
    helpers_.clear();
    sources_.clear();  // searches of other threads of the parent: they do not go on here
    new (&work_ready_) std::condition_variable();
    new (&idle_) std::condition_variable();
    sleepers_.store(0);
    forks_.fetch_add(1, std::memory_order_relaxed);
    mutex_.unlock();
}

}  // namespace xcover
