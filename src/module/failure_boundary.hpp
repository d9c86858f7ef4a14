// How failures leave a module function.
//
// Caller errors are ordinary Python exceptions. Internal failures (InternalFailure thrown by
// the engine or the surface) become PanicException after a report on standard error. A
// refused allocation becomes MemoryError. No C++ exception ever unwinds into the interpreter.
#pragma once

#include "python_ref.hpp"

#include <exception>
#include <optional>
#include <string>
#include <utility>

#include "../algorithms/knuth_x/failure.hpp"

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
// block.
void set_error_from_current_exception() noexcept;

// Runs `body` (which returns a new reference or nullptr with an exception set) and maps any
// C++ exception it throws to a Python exception.
template <class Body>
PyObject* guarded(Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        set_error_from_current_exception();
        return nullptr;
    }
}

// Runs engine work detached from the interpreter: the engine touches no Python object, and a
// thread that stays attached for a long computation would hold up every stop-the-world pause
// (garbage collection in other threads). Exceptions are carried across and rethrown once the
// thread is attached again.
template <class Work>
auto run_detached(Work&& work) -> decltype(work()) {
    std::optional<decltype(work())> result;
    std::exception_ptr error;
    Py_BEGIN_ALLOW_THREADS
    try {
        result.emplace(work());
    } catch (...) {
        error = std::current_exception();
    }
    Py_END_ALLOW_THREADS
    if (error) std::rethrow_exception(error);
    return std::move(*result);
}

}  // namespace xcover::py
