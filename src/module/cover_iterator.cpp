#include "cover_iterator.hpp"

#include <atomic>
#include <new>

#include "failure_boundary.hpp"
#include "results.hpp"

namespace xcover::py {

namespace {

// Covers an iterator finds per release of the interpreter: enough to make the release cheap
// beside the lists built, few enough that memory stays bounded by the search depth and this
// batch.
constexpr std::uint64_t kIteratorBatch = 256;
// Block indices get_all gathers per release: a buffer that stays in the processor's cache.
constexpr std::uint64_t kAllBatchItems = std::uint64_t{1} << 15;

// The C++ state of an iterator, built in place after the object header.
struct IteratorState {
    std::unique_ptr<DepthFirstSearch> search;  // nullptr once the search is over or failed
    CoverList batch;
    std::uint64_t next_in_batch = 0;
    // When a refill last checked for signals: `list(iterator)` runs no bytecode between
    // covers, so the refills are where its Ctrl-C is seen, however short each one is.
    SignalCheck::Clock::time_point last_signal_check = SignalCheck::Clock::now();
    // Serialises next() across threads; `owner` tells a thread that re-enters its own next()
    // (from a signal handler run by the search's signal check) from one that must wait.
    PyMutex mutex{};
    std::atomic<unsigned long> owner{0};
};

struct CoverIterator {
    PyObject_HEAD
    IteratorState state;
};

OnceObject iterator_type;

void dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    reinterpret_cast<CoverIterator*>(self)->state.~IteratorState();
    type->tp_free(self);
    Py_DECREF(type);
}

// Refills the batch from the search; false with an exception pending on failure.
XCOVER_CATCHES_FORCED_UNWIND bool refill(IteratorState& state) {
    state.batch.clear();
    state.next_in_batch = 0;
    std::optional<bool> more;
    try {
        SignalCheck check(state.last_signal_check);
        more = fill_batch(*state.search, state.batch, kIteratorBatch, UINT64_MAX, check);
        state.last_signal_check = check.last_check();
    } catch (const abi::__forced_unwind&) {
        throw;
    } catch (...) {
        // A search that failed midway cannot resume: the iterator ends after reporting it.
        state.search.reset();
        throw;
    }
    // After a signal handler raised, the covers found so far stay in the batch and the
    // search resumes where it stopped.
    if (!more) return false;
    if (!*more) state.search.reset();
    return true;
}

PyObject* next_cover(IteratorState& state) {
    if (state.next_in_batch == state.batch.size()) {
        if (!state.search) return nullptr;  // exhausted: StopIteration
        if (!refill(state)) return nullptr;
        if (state.next_in_batch == state.batch.size()) return nullptr;
    }
    // Moves on only once the list exists: a MemoryError here leaves the cover to the next call.
    PyObject* cover = cover_to_python(state.batch[state.next_in_batch]);
    if (cover != nullptr) ++state.next_in_batch;
    return cover;
}

PyObject* iternext(PyObject* self) {
    IteratorState& state = reinterpret_cast<CoverIterator*>(self)->state;
    return guarded([&]() -> PyObject* {
        const unsigned long me = PyThread_get_thread_ident();
        if (state.owner.load(std::memory_order_acquire) == me) {
            PyErr_SetString(PyExc_ValueError, "iter_all iterator already executing");
            return nullptr;
        }
        PyMutex_Lock(&state.mutex);  // detaches while it waits
        state.owner.store(me, std::memory_order_release);
        struct Unlock {
            IteratorState& state;
            ~Unlock() {
                state.owner.store(0, std::memory_order_release);
                PyMutex_Unlock(&state.mutex);
            }
        } unlock{state};
        return next_cover(state);
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

std::optional<bool> fill_batch(DepthFirstSearch& search, CoverList& batch,
                               std::uint64_t max_covers, std::uint64_t max_items,
                               SignalCheck& check) {
    // A small search detaches at its first poll: a batch found within a few thousand steps
    // is handed over without leaving the interpreter.
    return run_detached_with(check, [&](Interrupt& interrupt) {
        search.set_interrupt(&interrupt);
        bool more = true;
        while (batch.size() < max_covers && batch.total_items() < max_items) {
            if (!search.next()) {
                more = false;
                break;
            }
            batch.push_list(search.cover());
        }
        search.set_interrupt(nullptr);
        return more;
    }, search.node_count());
}

PyObject* all_covers_to_python(DepthFirstSearch& search) {
    PythonCovers covers;
    if (!covers.start()) return nullptr;
    CoverList batch;
    SignalCheck check;  // one for all batches: its clock runs across them
    for (bool more = true; more;) {
        batch.clear();
        const std::optional<bool> filled =
            fill_batch(search, batch, UINT64_MAX, kAllBatchItems, check);
        if (!filled) return nullptr;
        more = *filled;
        if (!covers.append(batch)) return nullptr;
    }
    return covers.release();
}

PyObject* new_cover_iterator(std::unique_ptr<DepthFirstSearch> search) {
    PyObject* type = iterator_type.get([] { return PyType_FromSpec(&iterator_spec); });
    if (type == nullptr) return nullptr;
    auto* object = PyObject_New(CoverIterator, reinterpret_cast<PyTypeObject*>(type));
    if (object == nullptr) return nullptr;
    new (&object->state) IteratorState();
    object->state.search = std::move(search);
    return reinterpret_cast<PyObject*>(object);
}

}  // namespace xcover::py
