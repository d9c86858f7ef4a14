#include "cover_iterator.hpp"

#include <algorithm>

#include "depth_first_batches.hpp"
#include "interpreter_thread.hpp"
#include "iterator_base.hpp"
#include "results.hpp"

namespace xcover::py {

namespace {

constexpr const char* kWhat = "iter_all";

struct IteratorState : IteratorCommon {
    std::unique_ptr<CoverSource> source;  // nullptr once the search is over or failed
    CoverList batch;
    std::uint64_t next_in_batch = 0;
    std::uint64_t yielded = 0;
    double searched = 0.0;  // the search's done share at the last refill (progress says 1 once
                            // the source is gone)
};

// Whether covers may remain beyond the batch in hand.
bool searching(const IteratorState& state) { return state.source != nullptr; }

void end_search(IteratorState& state) {
    state.source.reset();  // waits for its helpers to leave it
}

bool forked_away(const IteratorState& state) { return state.source && !state.source->in_this_process(); }

// Refills the batch from the search; false with an exception pending on failure.
XCOVER_CATCHES_FORCED_UNWIND bool refill(Call& call, IteratorState& state) {
    state.batch.clear();
    state.next_in_batch = 0;
    std::optional<bool> more;
    try {
        more = fill_batch(*state.source, state.batch, kIteratorBatch, UINT64_MAX, call.check);
    } catch (const abi::__forced_unwind&) {
        throw;
    } catch (...) {
        // A search that failed midway cannot resume: the iterator ends after reporting it.
        end_search(state);
        throw;
    }
    // After a signal handler raised, the covers found so far stay in the batch and the
    // search resumes where it stopped.
    if (state.source) state.searched = std::max(state.searched, state.source->progress().fraction);
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
    // Moves on only once the list exists and no signal handler raised: a MemoryError or a
    // Ctrl-C here leaves the cover to the next call.
    if (signal_handler_raised()) return nullptr;
    PyObject* cover = cover_to_python(state.batch[state.next_in_batch]);
    if (cover != nullptr) {
        ++state.next_in_batch;
        ++state.yielded;
    }
    return cover;
}

PyObject* iternext(PyObject* self) { return call_locked<IteratorState>(self, kWhat, next_cover); }

PyObject* get_progress(PyObject* self, void*) {
    return call_locked<IteratorState>(self, kWhat, [](Call&, IteratorState& state) -> PyObject* {
        // Without a source the search is over: it ended, or failed and ends the iterator.
        const double searched = searching(state) ? state.searched : 1.0;
        return Py_BuildValue("(dK)", searched, static_cast<unsigned long long>(state.yielded));
    });
}

PyGetSetDef getset[] = {
    {"progress", get_progress, nullptr,
     "(fraction, count): the share of the search tree searched so far (as count_all's progress\n"
     "reports it; the search runs up to a batch of partitions ahead of the iterator, and the\n"
     "share is 1.0 once it is over) and the partitions returned so far.",
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot iterator_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_iterator<IteratorState>)},
    {Py_tp_iter, reinterpret_cast<void*>(PyObject_SelfIter)},
    {Py_tp_iternext, reinterpret_cast<void*>(iternext)},
    {Py_tp_getset, getset},
    {Py_tp_doc, const_cast<char*>("Iterator over the covers of iter_all, in the order of get_all.")},
    {0, nullptr},
};

PyType_Spec type_spec = iterator_spec<IteratorState>("xcover.CoverIterator", iterator_slots);

}  // namespace

PyObject* new_cover_iterator_type(PyObject* module) {
    return PyType_FromModuleAndSpec(module, &type_spec, nullptr);
}

PyObject* new_cover_iterator(ModuleState& state, std::unique_ptr<CoverSource> source) {
    auto* object = new_iterator_object<IteratorState>(state.cover_iterator_type, "iterator");
    if (object == nullptr) return nullptr;
    object->state.source = std::move(source);
    return reinterpret_cast<PyObject*>(object);
}

}  // namespace xcover::py
