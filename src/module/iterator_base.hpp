// What the module's iterator types (iter_all's CoverIterator, the ranked streams'
// RankedIterator) share: the object layout, the lock that serialises their calls across
// threads, the signal-check time carried from one call to the next, deallocation, the locked
// call with every failure translated, and the type description (PyType_Spec).
#pragma once

#include "python_ref.hpp"

#include <atomic>
#include <new>

#include "call.hpp"
#include "failure_boundary.hpp"
#include "iterator_lock.hpp"
#include "module_state.hpp"

namespace xcover::py {

// The part of an iterator's C++ state that every iterator has; each iterator's state derives
// from it.
struct IteratorCommon {
    // When a call last checked for signals: `list(iterator)` runs no bytecode between items,
    // so the calls are where its Ctrl-C is seen, however short each one is. Atomic: a thread
    // reads it before it waits for the lock another thread holds.
    std::atomic<SignalCheck::Clock::time_point> last_signal_check{SignalCheck::Clock::now()};
    IteratorLock lock;  // serialises the calls across threads
};

// An iterator object: the header, then its C++ state built in place.
template <class State>
struct IteratorObject {
    PyObject_HEAD
    State state;
};

template <class State>
State& iterator_state(PyObject* self) {
    return reinterpret_cast<IteratorObject<State>*>(self)->state;
}

inline ModuleState& iterator_module(PyObject* self) {
    return *static_cast<ModuleState*>(PyType_GetModuleState(Py_TYPE(self)));
}

template <class State>
void dealloc_iterator(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    iterator_state<State>(self).~State();
    type->tp_free(self);
    Py_DECREF(type);
}

// Runs `body(call, state)` with the iterator's lock held, every failure translated; `what`
// names the iterator in the lock's messages ("iter_all").
template <class State, class Body>
PyObject* call_locked(PyObject* self, const char* what, Body&& body) {
    State& state = iterator_state<State>(self);
    ModuleState& module = iterator_module(self);
    return guarded(module, [&]() -> PyObject* {
        Call call(module, state.last_signal_check.load(std::memory_order_relaxed));
        IteratorGuard guard(state.lock);
        if (!guard.acquire(call, what)) return nullptr;
        PyObject* result = body(call, state);
        state.last_signal_check.store(call.check.last_check(), std::memory_order_relaxed);
        return result;
    });
}

// A new iterator of `type` with a default-built state; nullptr with an exception set.
template <class State>
IteratorObject<State>* new_iterator_object(PyObject* type_object, const char* type_name) {
    auto* type = reinterpret_cast<PyTypeObject*>(type_object);
    if (type == nullptr) fail(std::string("the module has no ") + type_name + " type");
    auto* object = PyObject_New(IteratorObject<State>, type);
    if (object != nullptr) new (&object->state) State();
    return object;
}

// The PyType_Spec (CPython's type description) of an iterator type named `name`
// ("xcover.CoverIterator") with `slots`.
template <class State>
constexpr PyType_Spec iterator_spec(const char* name, PyType_Slot* slots) {
    return PyType_Spec{name, static_cast<int>(sizeof(IteratorObject<State>)), 0,
                       Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION | Py_TPFLAGS_IMMUTABLETYPE,
                       slots};
}

}  // namespace xcover::py
