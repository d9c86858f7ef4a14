#include "detached.hpp"

#include <cxxabi.h>

#include "../algorithms/knuth_x/failure.hpp"

namespace xcover::py {

void SignalCheck::detach() noexcept {
    if (saved_ != nullptr) return;
    saved_ = PyEval_SaveThread();
}

void SignalCheck::attach() {
    if (saved_ == nullptr) return;
    PyEval_RestoreThread(std::exchange(saved_, nullptr));
}

bool SignalCheck::requested() {
    // A finalizing interpreter ends the threads that re-attach: the search then runs on.
    if (exception_ == nullptr && thread_ != Thread::Other && due() && !Py_IsFinalizing()) {
        last_check_ = Clock::now();
        attach();
        if (!run_due_check()) exception_ = own(PyErr_GetRaisedException());
    }
    if (exception_ == nullptr && progress_ != nullptr && Clock::now() - last_report_ >= kProgressInterval &&
        !Py_IsFinalizing()) {
        attach();
        if (!run_due_report()) exception_ = own(PyErr_GetRaisedException());
    }
    // Also the first poll of work that started attached: it is longer than a short call.
    detach();
    return exception_ != nullptr;
}

bool SignalCheck::run_due_report() {
    const bool ok = progress_->report();
    last_report_ = Clock::now();  // after the caller's code: its own time does not count
    return ok;
}

bool SignalCheck::check_attached() {
    attached_budget_ = kAttachedPollItems;
    if (!due() || Py_IsFinalizing()) return true;
    last_check_ = Clock::now();
    // A moment for the others: a collection or another thread waiting for the interpreter.
    detach();
    attach();
    return run_due_check();
}

bool SignalCheck::run_due_check() {
    // Unknown counts as main: a needless check costs little, a skipped check on the main
    // thread would hold its signals back.
    if (thread_ == Thread::Unknown)
        thread_ = on_main_thread().value_or(true) ? Thread::Main : Thread::Other;
    return thread_ != Thread::Main || !signal_handler_raised();
}

void SignalCheck::restore_exception() {
    if (exception_ == nullptr) fail("search interrupted with no exception to report");
    PyErr_SetRaisedException(exception_.release());
}

XCOVER_CATCHES_FORCED_UNWIND DetachedOutcome run_detached_call(
    void (*call)(void* work, Interrupt& interrupt), void* work, SignalCheck& check,
    bool detach_first, std::exception_ptr& error) {
    DetachedOutcome outcome = DetachedOutcome::Done;
    if (detach_first) check.detach();
    try {
        call(work, check);
    } catch (const abi::__forced_unwind&) {
        throw;  // the thread is ending inside a signal check; see guarded_call()
    } catch (const SearchInterrupted&) {
        outcome = DetachedOutcome::Interrupted;
    } catch (...) {
        error = std::current_exception();
        outcome = DetachedOutcome::Failed;
    }
    check.attach();
    return outcome;
}

}  // namespace xcover::py
