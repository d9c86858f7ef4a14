#include "cover_iterator.hpp"

#include <atomic>
#include <new>

#include "call.hpp"
#include "depth_first_batches.hpp"
#include "failure_boundary.hpp"
#include "iterator_lock.hpp"
#include "results.hpp"

namespace xcover::py {

namespace {

// The C++ state of an iterator, built in place after the object header.
struct IteratorState {
    std::unique_ptr<CoverSource> source;  // nullptr once the search is over or failed
    CoverList batch;
    std::uint64_t next_in_batch = 0;
    // When a refill last checked for signals: `list(iterator)` runs no bytecode between
    // covers, so the refills are where its Ctrl-C is seen, however short each one is.
    // Atomic: a thread reads it before it waits for the lock another thread holds.
    std::atomic<SignalCheck::Clock::time_point> last_signal_check{SignalCheck::Clock::now()};
    IteratorLock lock;  // serialises next() across threads
};

struct CoverIterator {
    PyObject_HEAD
    IteratorState state;
};

// Whether covers may remain beyond the batch in hand.
bool searching(const IteratorState& state) { return state.source != nullptr; }

void end_search(IteratorState& state) {
    state.source.reset();  // waits for its helpers to leave it
}

bool forked_away(const IteratorState& state) { return state.source && !state.source->in_this_process(); }

void dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    reinterpret_cast<CoverIterator*>(self)->state.~IteratorState();
    type->tp_free(self);
    Py_DECREF(type);
}

// Refills the batch from the search; false with an exception pending on failure.
XCOVER_CATCHES_FORCED_UNWIND bool refill(Call& call, IteratorState& state) {
    state.batch.clear();
    state.next_in_batch = 0;
    std::optional<bool> more;
    try {
        more = fill_batch(*state.source, state.batch, kIteratorBatch, UINT64_MAX, call.check);
        state.last_signal_check.store(call.check.last_check(), std::memory_order_relaxed);
    } catch (const abi::__forced_unwind&) {
        throw;
    } catch (...) {
        // A search that failed midway cannot resume: the iterator ends after reporting it.
        end_search(state);
        throw;
    }
    // After a signal handler raised, the covers found so far stay in the batch and the
    // search resumes where it stopped.
    if (!more) return false;
    if (!*more) end_search(state);
    return true;
}

PyObject* next_cover(Call& call, IteratorState& state) {
    if (state.next_in_batch == state.batch.size()) {
        if (!searching(state)) return nullptr;  // exhausted: StopIteration
        if (forked_away(state)) {
            PyErr_SetString(PyExc_RuntimeError,
                            "iter_all iterator searches with helper threads of the parent process; "
                            "it cannot continue in a forked child");
            return nullptr;
        }
        if (!refill(call, state)) return nullptr;
        if (state.next_in_batch == state.batch.size()) return nullptr;
    }
    // Moves on only once the list exists: a MemoryError here leaves the cover to the next call.
    PyObject* cover = cover_to_python(state.batch[state.next_in_batch]);
    if (cover != nullptr) ++state.next_in_batch;
    return cover;
}

PyObject* iternext(PyObject* self) {
    IteratorState& state = reinterpret_cast<CoverIterator*>(self)->state;
    ModuleState& module = *static_cast<ModuleState*>(PyType_GetModuleState(Py_TYPE(self)));
    return guarded(module, [&]() -> PyObject* {
        Call call(module, state.last_signal_check.load(std::memory_order_relaxed));
        IteratorGuard guard(state.lock);
        if (!guard.acquire(call, "iter_all")) return nullptr;
        return next_cover(call, state);
    });
}

PyType_Slot iterator_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc)},
    {Py_tp_iter, reinterpret_cast<void*>(PyObject_SelfIter)},
    {Py_tp_iternext, reinterpret_cast<void*>(iternext)},
    {Py_tp_doc, const_cast<char*>("Iterator over the covers of iter_all, in the order of get_all.")},
    {0, nullptr},
};

PyType_Spec iterator_spec = {
    "xcover.CoverIterator",
    sizeof(CoverIterator),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION | Py_TPFLAGS_IMMUTABLETYPE,
    iterator_slots,
};

}  // namespace

PyObject* new_cover_iterator_type(PyObject* module) {
    return PyType_FromModuleAndSpec(module, &iterator_spec, nullptr);
}

namespace {

// A new iterator with an empty state; nullptr with an exception set on failure.
CoverIterator* new_iterator_object(ModuleState& state) {
    auto* type = reinterpret_cast<PyTypeObject*>(state.cover_iterator_type);
    if (type == nullptr) fail("the module has no iterator type");
    auto* object = PyObject_New(CoverIterator, type);
    if (object != nullptr) new (&object->state) IteratorState();
    return object;
}

}  // namespace

PyObject* new_cover_iterator(ModuleState& state, std::unique_ptr<CoverSource> source) {
    CoverIterator* object = new_iterator_object(state);
    if (object == nullptr) return nullptr;
    object->state.source = std::move(source);
    return reinterpret_cast<PyObject*>(object);
}

}  // namespace xcover::py
