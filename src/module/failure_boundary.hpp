// How failures leave a module function.
//
// Caller errors are ordinary Python exceptions. Internal failures (InternalFailure thrown by
// the engine or the surface) become PanicException after a report on standard error. A
// refused allocation becomes MemoryError. No C++ exception ever unwinds into the interpreter,
// except the forced unwind that ends a thread (see guarded()).
#pragma once

#include "python_ref.hpp"

#include <cxxabi.h>

#include <chrono>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>

#include "../algorithms/knuth_x/failure.hpp"
#include "../algorithms/knuth_x/search/interrupt.hpp"

// Marks a function with a `catch (abi::__forced_unwind&)` clause. The forced unwind by which
// a thread ends is not a C++ exception object, so the clause binds its reference to nothing;
// that is how the runtime works, and the sanitizer's null-reference check must not stop it.
// (The attribute is not honoured on templates: such clauses live in plain functions.)
#define XCOVER_CATCHES_FORCED_UNWIND __attribute__((no_sanitize("null")))

namespace xcover::py {

// The PanicException type (borrowed), created at first use; nullptr with an exception set if
// the interpreter refuses to create it.
PyObject* panic_exception_type();

// Sets PanicException(message) as the pending exception.
void raise_internal_failure(const std::string& message);

// Takes the pending exception out of the interpreter. A PanicException coming back from
// Python code is not an ordinary error: it is reported and continued as an internal failure
// (this function then throws InternalFailure). Returns nullptr when nothing was pending.
Ref fetch_python_error();

// Turns the exception being handled into a pending Python exception. Call only from a catch
// block, never for a forced unwind.
void set_error_from_current_exception();

// Makes sure this thread's C++ exception state exists. The runtime allocates it on the
// thread's first throw; when that first throw is a refused allocation, the runtime cannot
// allocate it either and the process aborts. Called before any large allocation.
inline void prepare_thread_for_exceptions() noexcept {
    const int pending = std::uncaught_exceptions();
    asm volatile("" : : "r"(pending));  // the call is declared pure: keep it
}

// The catching part of guarded, out of line: the clauses live in one plain function.
PyObject* guarded_call(PyObject* (*call)(void* body), void* body);

// Runs `body` (which returns a new reference or nullptr with an exception set) and maps any
// C++ exception it throws to a Python exception.
//
// The one exception let through is the forced unwind by which the interpreter ends a thread
// (pthread_exit) that tries to re-attach while the interpreter finalizes: the thread has no
// thread state then, so nothing here may touch the interpreter, and a forced unwind that is
// not rethrown aborts the process.
template <class Body>
PyObject* guarded(Body&& body) {
    return guarded_call(
        [](void* erased) -> PyObject* { return (*static_cast<std::remove_reference_t<Body>*>(erased))(); },
        static_cast<void*>(&body));
}

// The Interrupt a detached search polls.
//
// The thread leaves the interpreter at the start of the work, or for small inputs at the
// search's first poll: a call that ends within a few thousand steps never detaches, which
// spares it the cost and spares short calls in a loop from re-attaching thousands of times a
// second (re-attaching is the one moment a finalizing interpreter can catch a thread).
// On the main thread, at most every kCheckInterval, it re-attaches, lets the interpreter run
// pending signal handlers, and asks the search to stop when a handler raised; that exception
// is kept for the caller. Other threads run no handlers, so they stay detached to the end.
class SignalCheck final : public Interrupt {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kCheckInterval{20};

    // Work that runs in several pieces (batches) carries the time of its last check from
    // one piece's SignalCheck to the next, so that short pieces still check.
    explicit SignalCheck(Clock::time_point last_check = Clock::now()) : last_check_(last_check) {}
    SignalCheck(const SignalCheck&) = delete;
    SignalCheck& operator=(const SignalCheck&) = delete;
    ~SignalCheck();

    Clock::time_point last_check() const { return last_check_; }

    // Detaches the calling thread from the interpreter, if it is attached.
    void detach() noexcept;
    // Re-attaches it, if it is detached. During finalization the interpreter ends the thread
    // here instead.
    void attach();

    bool requested() override;

    // Attached only: makes the exception that stopped the search pending again.
    void restore_exception();

private:
    enum class Thread : unsigned char { Unknown, Main, Other };

    // Attached: runs pending signal handlers; false when one raised (its exception kept).
    bool run_signal_handlers();

    PyThreadState* saved_ = nullptr;  // while detached
    PyObject* exception_ = nullptr;   // owned; released only while attached
    Thread thread_ = Thread::Unknown;
    Ref probe_;  // main thread: a constant's code, evaluated to run the pending work
    Ref probe_globals_;
    Clock::time_point last_check_;
};

// Inputs with at most this many items are prepared attached (a few microseconds of work),
// and their search runs attached until its first poll; a step of such a search touches at
// most a few thousand nodes, so that is at most some milliseconds. Larger inputs detach
// before the matrix is built, and their searches before their first step.
inline constexpr std::uint64_t kAttachedInputItems = std::uint64_t{1} << 10;

// How detached work ended.
enum class DetachedOutcome { Done, Interrupted, Failed };

// The catching part of run_detached, out of line: runs `call(work, check)`, detached from
// the start when `detach_first`, and keeps a failure in `error`; the thread is attached
// again on return.
DetachedOutcome run_detached_call(void (*call)(void* work, Interrupt& interrupt), void* work,
                                  SignalCheck& check, bool detach_first,
                                  std::exception_ptr& error);

template <class Work>
using DetachedResult = std::optional<std::invoke_result_t<Work&, Interrupt&>>;

// Runs engine work detached from the interpreter: the engine touches no Python object, and a
// thread that stays attached for a long computation would hold up every stop-the-world pause
// (garbage collection in other threads). `work(interrupt)` receives `check`, the Interrupt
// its search polls; `input_items` (the size of what the work builds, or of the matrix it
// searches) decides whether the thread detaches at once or at the search's first poll.
// Work that runs in pieces passes the same `check` to each. Exceptions are carried across
// and rethrown once the thread is attached again.
//
// Returns the work's result, or nullopt with a Python exception pending when a signal
// handler raised during the search (everything the search built is released by then).
template <class Work>
auto run_detached_with(SignalCheck& check, Work&& work, std::uint64_t input_items)
    -> DetachedResult<Work> {
    DetachedResult<Work> result;
    auto store = [&](Interrupt& interrupt) { result.emplace(work(interrupt)); };
    std::exception_ptr error;
    const DetachedOutcome outcome = run_detached_call(
        [](void* erased, Interrupt& interrupt) { (*static_cast<decltype(store)*>(erased))(interrupt); },
        static_cast<void*>(&store), check, input_items > kAttachedInputItems, error);
    if (outcome == DetachedOutcome::Failed) std::rethrow_exception(error);
    if (outcome == DetachedOutcome::Interrupted) {
        check.restore_exception();
        return std::nullopt;
    }
    return result;
}

// run_detached_with a SignalCheck of its own, for work that runs in one piece.
template <class Work>
auto run_detached(Work&& work, std::uint64_t input_items) -> DetachedResult<Work> {
    SignalCheck check;
    return run_detached_with(check, std::forward<Work>(work), input_items);
}

}  // namespace xcover::py
