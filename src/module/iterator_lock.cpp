#include "iterator_lock.hpp"

#include <unistd.h>

#include <chrono>
#include <thread>

namespace xcover::py {

bool IteratorLock::acquire(Call& call, const char* what) {
    const unsigned long me = PyThread_get_thread_ident();
    if (owner_.load(std::memory_order_acquire) == me &&
        owner_process_.load(std::memory_order_acquire) == getpid()) {
        PyErr_Format(PyExc_ValueError, "%s iterator already executing", what);
        return false;
    }
    while (!mutex_.try_lock()) {
        const pid_t holder = owner_process_.load(std::memory_order_acquire);
        if (holder != 0 && holder != getpid()) {
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
    owner_process_.store(getpid(), std::memory_order_release);
    owner_.store(me, std::memory_order_release);
    return true;
}

void IteratorLock::release() noexcept {
    owner_.store(0, std::memory_order_release);
    owner_process_.store(0, std::memory_order_release);
    mutex_.unlock();
}

}  // namespace xcover::py
