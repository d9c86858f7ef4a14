// Small helpers for owning references to Python objects.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <atomic>
#include <memory>

namespace xcover::py {

struct DecRef {
    void operator()(PyObject* object) const noexcept { Py_DecRef(object); }
};

// An owned (strong) reference; releases it when it goes out of scope.
using Ref = std::unique_ptr<PyObject, DecRef>;

inline Ref own(PyObject* object) noexcept { return Ref(object); }

// A process-wide object created once, at first use. Threads that find the value missing take
// a PyMutex, which detaches them from the interpreter while they wait, so the initialising
// thread can always finish even when it needs the interpreter (imports, allocations).
class OnceObject {
public:
    // `create` returns a new reference or nullptr with an exception set; on failure a later
    // call tries again.
    template <class Create>
    PyObject* get(Create&& create) {
        if (PyObject* v = value_.load(std::memory_order_acquire)) return v;
        PyMutex_Lock(&mutex_);
        PyObject* v = value_.load(std::memory_order_relaxed);
        if (v == nullptr) {
            v = create();
            if (v != nullptr) value_.store(v, std::memory_order_release);
        }
        PyMutex_Unlock(&mutex_);
        return v;
    }

private:
    std::atomic<PyObject*> value_{nullptr};
    PyMutex mutex_{};
};

}  // namespace xcover::py
