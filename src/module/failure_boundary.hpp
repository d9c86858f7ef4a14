// How failures leave a module function.
//
// Caller errors are ordinary Python exceptions. Internal failures (InternalFailure thrown by
// the engine or the surface) become PanicException after a report on standard error. A
// refused allocation becomes MemoryError. No C++ exception ever unwinds into the interpreter,
// except the forced unwind that ends a thread (see guarded()).
#pragma once

#include "python_ref.hpp"

#include <cxxabi.h>

#include <exception>
#include <optional>
#include <string>
#include <type_traits>

#include "../algorithms/knuth_x/failure.hpp"
#include "interpreter_thread.hpp"
#include "module_state.hpp"

namespace xcover::py {

// The PanicException type of this module's interpreter (borrowed), created at first use;
// nullptr with an exception set if the interpreter refuses to create it.
PyObject* panic_exception_type(ModuleState& state);

// str(exception), or nullopt if that fails (the failure is left pending).
std::optional<std::string> exception_text(PyObject* exception);
// str() of the pending exception, which is cleared; `fallback` when there is none or its
// text cannot be had.
std::string take_exception_text(const char* fallback);

// Sets PanicException(message) as the pending exception.
void raise_internal_failure(ModuleState& state, const std::string& message);

// Takes the pending exception out of the interpreter. A PanicException coming back from
// Python code is not an ordinary error: it is reported and continued as an internal failure
// (this function then throws InternalFailure). Returns nullptr when nothing was pending.
Ref fetch_python_error(ModuleState& state);

// Discards the pending exception of a step that may fail without failing the call (a length
// hint, an optional fast path). Returns false, with the exception pending again, when it asks
// the program to stop (KeyboardInterrupt, SystemExit); a PanicException is continued as an
// internal failure (see fetch_python_error).
bool discard_optional_error(ModuleState& state);

// Makes sure this thread's C++ exception state exists. The runtime allocates it on the
// thread's first throw; when that first throw is a refused allocation, the runtime cannot
// allocate it either and the process aborts. Called before any large allocation.
inline void prepare_thread_for_exceptions() noexcept {
    const int pending = std::uncaught_exceptions();
    asm volatile("" : : "r"(pending));  // the call is declared pure: keep it
}

// The catching part of guarded, out of line: the clauses live in one plain function.
PyObject* guarded_call(ModuleState& state, PyObject* (*call)(void* body), void* body);

// Runs `body` (which returns a new reference or nullptr with an exception set) and maps any
// C++ exception it throws to a Python exception.
//
// The one exception let through is the forced unwind by which the interpreter ends a thread
// (pthread_exit) that tries to re-attach while the interpreter finalizes: the thread has no
// thread state then, so nothing here may touch the interpreter, and a forced unwind that is
// not rethrown aborts the process.
template <class Body>
PyObject* guarded(ModuleState& state, Body&& body) {
    return guarded_call(
        state,
        [](void* erased) -> PyObject* { return (*static_cast<std::remove_reference_t<Body>*>(erased))(); },
        static_cast<void*>(&body));
}

}  // namespace xcover::py
