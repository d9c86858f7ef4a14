// What the surface knows of the thread it runs on: whether it is the interpreter's main
// thread, and how the forced unwind that ends a thread passes through a catch clause. Below
// both detached.* and failure_boundary.*, which use it.
#pragma once

#include "python_ref.hpp"

#include <optional>

// Marks a function with a `catch (abi::__forced_unwind&)` clause. The forced unwind by which
// a thread ends is not a C++ exception object, so the clause binds its reference to nothing;
// that is how the runtime works, and the sanitizer's null-reference check must not stop it.
// (The attribute is not honoured on templates: such clauses live in plain functions.)
#define XCOVER_CATCHES_FORCED_UNWIND __attribute__((no_sanitize("null")))

namespace xcover::py {

// Whether the calling (attached) thread is the interpreter's main thread, the one that runs
// signal handlers; nullopt if the interpreter cannot tell. Runs no Python code and leaves no
// exception pending.
std::optional<bool> on_main_thread();

// Runs the pending signal handlers now (the interpreter runs them only on its main thread),
// and nothing else; true when one raised, its exception pending. SignalCheck's due checks run
// them so. The interpreter would also run them as the calling function returns, and a handler
// that raises then drops the value the function returns: an iterator that was about to hand
// out a cover calls this first and keeps the cover for the next call when it says true.
bool signal_handler_raised();

}  // namespace xcover::py
