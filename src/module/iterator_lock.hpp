// The lock that serialises `next` on an iterator shared between threads.
//
// A thread that waits for another thread's `next` waits detached from the interpreter and
// keeps running signal handlers, so Ctrl-C reaches it. `owner` tells a thread that re-enters
// its own `next` (from a signal handler run by the search's signal check) from one that must
// wait; `owner_forks` tells a child forked while another thread held the iterator, where the
// holder does not exist and never releases it. A forked child is told, here as everywhere in
// the module, by the process-wide pool's count of forks (ThreadPool::forks).
#pragma once

#include "python_ref.hpp"

#include <atomic>
#include <cstdint>
#include <mutex>

#include "call.hpp"

namespace xcover::py {

class IteratorLock {
public:
    // Takes the lock for the calling thread; false with an exception set: ValueError when the
    // thread holds it already (`what` names the iterator), RuntimeError when its holder does
    // not exist in this process, or a signal handler's exception.
    bool acquire(Call& call, const char* what);
    void release() noexcept;

private:
    std::mutex mutex_;
    std::atomic<unsigned long> owner_{0};
    std::atomic<std::uint64_t> owner_forks_{0};  // the pool's fork count + 1 while held
};

// Holds an IteratorLock for a scope.
class IteratorGuard {
public:
    explicit IteratorGuard(IteratorLock& lock) : lock_(lock) {}
    IteratorGuard(const IteratorGuard&) = delete;
    IteratorGuard& operator=(const IteratorGuard&) = delete;
    ~IteratorGuard() {
        if (held_) lock_.release();
    }
    bool acquire(Call& call, const char* what) { return held_ = lock_.acquire(call, what); }

private:
    IteratorLock& lock_;
    bool held_ = false;
};

}  // namespace xcover::py
