#include "ranked_iterator.hpp"

#include <cmath>
#include <limits>
#include <atomic>
#include <new>

#include "call.hpp"
#include "failure_boundary.hpp"
#include "iterator_lock.hpp"
#include "results.hpp"

namespace xcover::py {

namespace {

struct IteratorState {
    std::unique_ptr<RankedSource> source;  // nullptr once the stream has ended or failed
    const char* what = "";
    // Atomic: a thread reads it before it waits for the lock another thread holds.
    std::atomic<SignalCheck::Clock::time_point> last_signal_check{SignalCheck::Clock::now()};
    IteratorLock lock;
};

struct RankedIterator {
    PyObject_HEAD
    IteratorState state;
};

IteratorState& state_of(PyObject* self) { return reinterpret_cast<RankedIterator*>(self)->state; }
ModuleState& module_of(PyObject* self) {
    return *static_cast<ModuleState*>(PyType_GetModuleState(Py_TYPE(self)));
}

void dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    state_of(self).~IteratorState();
    type->tp_free(self);
    Py_DECREF(type);
}

// The next (score, cover) pair as a new tuple; nullptr at the end (no exception) or with an
// exception set. The lock is held.
XCOVER_CATCHES_FORCED_UNWIND PyObject* next_pair(Call& call, IteratorState& state) {
    if (!state.source) return nullptr;
    std::optional<std::optional<RankedCover>> found;
    try {
        found = run_detached(call.check, [&](Interrupt& interrupt) {
            return state.source->next(&interrupt);
        }, 0);
        state.last_signal_check.store(call.check.last_check(), std::memory_order_relaxed);
    } catch (const abi::__forced_unwind&) {
        throw;
    } catch (...) {
        state.source.reset();  // a stream that failed midway cannot resume
        throw;
    }
    if (!found) return nullptr;  // a signal handler raised; the stream resumes next time
    if (!*found) {
        state.source.reset();
        return nullptr;
    }
    Ref score = own(PyFloat_FromDouble((*found)->score));
    Ref cover = score ? own(cover_to_python((*found)->blocks)) : nullptr;
    if (!cover) return nullptr;
    return PyTuple_Pack(2, score.get(), cover.get());
}

// Runs `body(call, state)` with the iterator's lock held, every failure translated.
template <class Body>
PyObject* with_lock(PyObject* self, Body&& body) {
    IteratorState& state = state_of(self);
    ModuleState& module = module_of(self);
    return guarded(module, [&]() -> PyObject* {
        Call call(module, state.last_signal_check.load(std::memory_order_relaxed));
        IteratorGuard guard(state.lock);
        if (!guard.acquire(call, state.what)) return nullptr;
        return body(call, state);
    });
}

PyObject* iternext(PyObject* self) { return with_lock(self, next_pair); }

// log(exp(a) + exp(b)) for a, b that may be -inf.
double log_add(double a, double b) {
    if (a < b) std::swap(a, b);
    if (a == -std::numeric_limits<double>::infinity()) return a;
    return a + std::log1p(std::exp(b - a));
}

// Whether, after covers of seen mass exp(log_seen) with the last cost `last`, the covers not
// yet taken (at most `left` of them, none cheaper than `last`) can hold at most the share
// `alpha` of the total.
bool share_left_is_small(double log_seen, double last, std::uint64_t left, double alpha) {
    if (left == 0) return true;
    const double log_unseen = std::log(static_cast<double>(left)) - last;
    return log_unseen <= std::log(alpha) + log_add(log_seen, log_unseen);
}

PyObject* take_until(PyObject* self, PyObject* args, PyObject* kwargs) {
    static const char* keywords[] = {"alpha", "count", nullptr};
    double alpha = 0;
    unsigned long long count = 0;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "dK:take_until", const_cast<char**>(keywords),
                                     &alpha, &count))
        return nullptr;
    if (!(alpha >= 0.0 && alpha <= 1.0)) {
        PyErr_SetString(PyExc_ValueError, "alpha must be between 0 and 1");
        return nullptr;
    }
    return with_lock(self, [&](Call& call, IteratorState& state) -> PyObject* {
        ListBuilder taken;
        double log_seen = -std::numeric_limits<double>::infinity();
        double last = -std::numeric_limits<double>::infinity();
        for (std::uint64_t k = 0; alpha < 1.0 && k < count; ++k) {
            Ref pair = own(next_pair(call, state));
            if (!pair) {
                if (PyErr_Occurred()) return nullptr;
                break;
            }
            const double cost = PyFloat_AS_DOUBLE(PyTuple_GET_ITEM(pair.get(), 0));
            if (!taken.push(pair.release())) return nullptr;
            if (!(cost >= last)) {
                PyErr_Format(PyExc_ValueError,
                             "take_until needs costs in nondecreasing order: cover %llu costs "
                             "less than the one before it, or is NaN",
                             static_cast<unsigned long long>(k));
                return nullptr;
            }
            last = cost;
            log_seen = log_add(log_seen, -cost);
            if (share_left_is_small(log_seen, last, count - k - 1, alpha)) break;
        }
        return taken.finish();
    });
}

constexpr const char* kTakeUntilDoc =
    "take_until($self, /, alpha, count)\n--\n\n"
    "Take (cost, cover) pairs from the stream until the covers not yet taken provably hold at\n"
    "most the share `alpha` of the total probability, a cover's probability being taken as\n"
    "proportional to exp(-cost), given that the problem has `count` covers in all (for\n"
    "example from count_all). After k covers, the last costing s_k, the mass not yet seen is\n"
    "at most (count - k) * exp(-s_k), since the stream comes in nondecreasing cost. Returns\n"
    "the list of pairs taken; the stream goes on after them.";

PyMethodDef methods[] = {
    {"take_until", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(take_until)),
     METH_VARARGS | METH_KEYWORDS, kTakeUntilDoc},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot iterator_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc)},
    {Py_tp_iter, reinterpret_cast<void*>(PyObject_SelfIter)},
    {Py_tp_iternext, reinterpret_cast<void*>(iternext)},
    {Py_tp_methods, methods},
    {Py_tp_doc, const_cast<char*>("Iterator over (cost, cover) pairs of a ranked stream, in nondecreasing cost.")},
    {0, nullptr},
};

PyType_Spec iterator_spec = {
    "xcover.RankedIterator",
    sizeof(RankedIterator),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION | Py_TPFLAGS_IMMUTABLETYPE,
    iterator_slots,
};

}  // namespace

PyObject* new_ranked_iterator_type(PyObject* module) {
    return PyType_FromModuleAndSpec(module, &iterator_spec, nullptr);
}

PyObject* new_ranked_iterator(ModuleState& state, std::unique_ptr<RankedSource> source,
                              const char* what) {
    auto* type = reinterpret_cast<PyTypeObject*>(state.ranked_iterator_type);
    if (type == nullptr) fail("the module has no ranked iterator type");
    auto* object = PyObject_New(RankedIterator, type);
    if (object == nullptr) return nullptr;
    new (&object->state) IteratorState();
    object->state.source = std::move(source);
    object->state.what = what;
    return reinterpret_cast<PyObject*>(object);
}

}  // namespace xcover::py
