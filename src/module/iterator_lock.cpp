#include "iterator_lock.hpp"

#include <chrono>
#include <thread>

#include "../algorithms/knuth_x/pool/thread_pool.hpp"

namespace xcover::py {

namespace {

// This process as the lock records it: the pool's fork count, plus one so that 0 means free.
std::uint64_t this_process() noexcept { return ThreadPool::shared().forks() + 1; }

}  // namespace

bool IteratorLock::acquire(Call& call, const char* what) {
    const unsigned long me = PyThread_get_thread_ident();
    if (owner_.load(std::memory_order_acquire) == me &&
        owner_forks_.load(std::memory_order_acquire) == this_process()) {
        PyErr_Format(PyExc_ValueError, "%s iterator already executing", what);
        return false;
    }
    while (!mutex_.try_lock()) {
        const std::uint64_t holder = owner_forks_.load(std::memory_order_acquire);
        if (holder != 0 && holder != this_process()) {
            PyErr_Format(PyExc_RuntimeError,
                         "%s iterator was in use by a thread of the parent process when this "
                         "process was forked; it cannot continue here",
                         what);
            return false;
        }
        // Polled rather than a timed wait: ThreadSanitizer does not see every timed lock.
        call.check.detach();
        bool taken = false;
        const auto until = SignalCheck::Clock::now() + kCheckInterval;
        while (!(taken = mutex_.try_lock()) && SignalCheck::Clock::now() < until)
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        call.check.attach();
        if (taken) break;
        if (!call.check.poll_attached(kAttachedPollItems)) return false;
    }
    owner_forks_.store(this_process(), std::memory_order_release);
    owner_.store(me, std::memory_order_release);
    return true;
}

void IteratorLock::release() noexcept {
    owner_.store(0, std::memory_order_release);
    owner_forks_.store(0, std::memory_order_release);
    mutex_.unlock();
}

}  // namespace xcover::py
