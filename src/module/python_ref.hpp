// Small helpers for owning references to Python objects.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <atomic>
#include <memory>

namespace xcover::py {

// Whether this thread may touch Python objects while it unwinds. The one way a destructor
// runs on a thread without a thread state is the forced unwind by which the interpreter ends a
// thread that tries to re-attach during finalization; the process is ending then, and touching
// an object without a thread state could crash it, so whatever is held is left behind. Every
// destructor that releases Python objects asks this first.
inline bool may_release_objects() noexcept { return PyThreadState_GetUnchecked() != nullptr; }

// Releases a reference only when the thread may (see may_release_objects).
struct DecRef {
    void operator()(PyObject* object) const noexcept {
        if (may_release_objects()) Py_DecRef(object);
    }
};

// An owned (strong) reference; releases it when it goes out of scope.
using Ref = std::unique_ptr<PyObject, DecRef>;

inline Ref own(PyObject* object) noexcept { return Ref(object); }

// An object created once, at first use, and never changed afterwards until its owner (the
// module state of one interpreter) clears it.
//
// Creation runs outside any lock: it may import modules, and an import hook may call back
// into the module on the same thread and reach the same object (holding a lock here would
// deadlock that thread and every later one). Racing creators each build an object; the
// first to publish wins and the others release theirs and use the winner's.
class OnceObject {
public:
    // `create` returns a new reference or nullptr with an exception set; on failure a later
    // call tries again.
    template <class Create>
    PyObject* get(Create&& create) {
        if (PyObject* v = value_.load(std::memory_order_acquire)) return v;
        PyObject* made = create();
        if (made == nullptr) return nullptr;
        PyObject* published = nullptr;
        if (value_.compare_exchange_strong(published, made, std::memory_order_acq_rel,
                                           std::memory_order_acquire))
            return made;
        Py_DecRef(made);
        return published;
    }

    // The value, or nullptr before it is created.
    PyObject* peek() const noexcept { return value_.load(std::memory_order_acquire); }

    // Releases the value (the owner's clear function); a later get() creates it again.
    void clear() noexcept { Py_XDECREF(value_.exchange(nullptr, std::memory_order_acq_rel)); }

private:
    std::atomic<PyObject*> value_{nullptr};
};

}  // namespace xcover::py
