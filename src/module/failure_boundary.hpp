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
#include <exception>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>

#include "../algorithms/knuth_x/failure.hpp"

// Marks a function with a `catch (abi::__forced_unwind&)` clause. The forced unwind by which
// a thread ends is not a C++ exception object, so the clause binds its reference to nothing;
// that is how the runtime works, and the sanitizer's null-reference check must not stop it.
// (The attribute is not honoured on templates: such clauses live in plain functions.)
#define XCOVER_CATCHES_FORCED_UNWIND __attribute__((no_sanitize("null")))
#include "../algorithms/knuth_x/search/interrupt.hpp"

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

// Runs `body` (which returns a new reference or nullptr with an exception set) and maps any
// C++ exception it throws to a Python exception.
//
// The one exception let through is the forced unwind by which the interpreter ends a thread
// (pthread_exit) that tries to re-attach while the interpreter finalizes: the thread has no
// thread state then, so nothing here may touch the interpreter, and a forced unwind that is
// not rethrown aborts the process.
// The catching part of guarded, out of line: the clauses live in one plain function.
PyObject* guarded_call(PyObject* (*call)(void* body), void* body);

template <class Body>
PyObject* guarded(Body&& body) {
    return guarded_call(
        [](void* erased) -> PyObject* { return (*static_cast<std::remove_reference_t<Body>*>(erased))(); },
        static_cast<void*>(&body));
}

// The Interrupt a detached search polls. At most every kCheckInterval it re-attaches the
// thread, lets the interpreter run pending signal handlers, and asks the search to stop when
// a handler raised; that exception is kept for the caller.
class SignalCheck final : public Interrupt {
public:
    static constexpr std::chrono::milliseconds kCheckInterval{20};

    SignalCheck() = default;
    SignalCheck(const SignalCheck&) = delete;
    SignalCheck& operator=(const SignalCheck&) = delete;
    ~SignalCheck();

    // Detaches the calling thread from the interpreter.
    void detach() noexcept;
    // Re-attaches it. During finalization the interpreter ends the thread here instead.
    void attach();

    bool requested() override;

    // Attached only: makes the exception that stopped the search pending again.
    void restore_exception();

private:
    PyThreadState* saved_ = nullptr;  // while detached
    PyObject* exception_ = nullptr;   // owned; released only while attached
    std::chrono::steady_clock::time_point last_check_{};
};

// Runs engine work detached from the interpreter: the engine touches no Python object, and a
// thread that stays attached for a long computation would hold up every stop-the-world pause
// (garbage collection in other threads). `work(interrupt)` receives the Interrupt its search
// polls. Exceptions are carried across and rethrown once the thread is attached again.
//
// Returns the work's result, or nullopt with a Python exception pending when a signal
// handler raised during the search (everything the search built is released by then).
// How detached work ended.
enum class DetachedOutcome { Done, Interrupted, Failed };

// The catching part of run_detached, out of line: runs `call(work, check)` with the thread
// detached and keeps a failure in `error`; the thread is attached again on return.
DetachedOutcome run_detached_call(void (*call)(void* work, Interrupt& interrupt), void* work,
                                  SignalCheck& check, std::exception_ptr& error);

template <class Work>
auto run_detached(Work&& work) -> std::optional<std::invoke_result_t<Work&, Interrupt&>> {
    std::optional<std::invoke_result_t<Work&, Interrupt&>> result;
    auto store = [&](Interrupt& interrupt) { result.emplace(work(interrupt)); };
    std::exception_ptr error;
    SignalCheck check;
    const DetachedOutcome outcome = run_detached_call(
        [](void* erased, Interrupt& interrupt) { (*static_cast<decltype(store)*>(erased))(interrupt); },
        static_cast<void*>(&store), check, error);
    if (outcome == DetachedOutcome::Failed) std::rethrow_exception(error);
    if (outcome == DetachedOutcome::Interrupted) {
        check.restore_exception();
        return std::nullopt;
    }
    return result;
}

}  // namespace xcover::py
