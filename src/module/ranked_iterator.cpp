#include "ranked_iterator.hpp"

#include <algorithm>
#include <cmath>
#include <deque>
#include <limits>
#include <atomic>
#include <new>

#include "../algorithms/knuth_x/algos/block_count/top_sc_stream.hpp"
#include "interpreter_thread.hpp"
#include "iterator_base.hpp"
#include "results.hpp"

namespace xcover::py {

namespace {

struct IteratorState : IteratorCommon {
    std::unique_ptr<RankedSource> source;  // nullptr once the stream has ended or failed
    const char* what = "";
    // Pairs taken from the source but not handed out yet, oldest first: a signal handler
    // raised before they reached the caller (or memory ran out building take_until's list).
    std::deque<Ref> held;
    // What take_until needs of the pairs handed out so far (by next or take_until): their
    // number, log of the sum of exp(-cost), and the last cost. Read and written under `lock`.
    std::uint64_t handed = 0;
    double log_seen = -std::numeric_limits<double>::infinity();
    double last_cost = -std::numeric_limits<double>::infinity();
    // The best bound the stream gave on the covers not yet taken (-inf: none).
    double pending_bound = -std::numeric_limits<double>::infinity();
    double first_cost = std::numeric_limits<double>::quiet_NaN();  // NaN until a pair is handed
    bool exhausted = false;  // the stream ended with no cover left (not by a cap or a failure)
};

// log(exp(a) + exp(b)) for a, b that may be -inf.
double log_add(double a, double b) {
    if (a < b) std::swap(a, b);
    if (a == -std::numeric_limits<double>::infinity()) return a;
    return a + std::log1p(std::exp(b - a));
}

// Takes the stream's bound on the covers not yet taken. Every bound it gave still holds (the
// covers left only get fewer): keep the best, so that progress never goes back when a child's
// first, cheaper key is the least.
void raise_pending_bound(IteratorState& state) {
    if (const std::optional<double> bound = state.source->pending_bound())
        state.pending_bound = std::max(state.pending_bound, *bound);
}

// Takes the next (score, cover) pair from the source into the held pairs, counted as handed
// out from then on; false at the end (no exception) or with an exception set. The lock is held.
XCOVER_CATCHES_FORCED_UNWIND bool take_pair(Call& call, IteratorState& state) {
    if (!state.source) return false;
    std::optional<std::optional<RankedCover>> found;
    try {
        found = run_detached(call.check, [&](Interrupt& interrupt) {
            return state.source->next(&interrupt);
        }, 0);
    } catch (const abi::__forced_unwind&) {
        throw;
    } catch (const UnrankableCover& unrankable) {
        state.source.reset();  // the stream cannot go past it
        PyErr_Format(PyExc_ValueError, "%s cannot rank this input exactly: %s", state.what,
                     unrankable.what());
        return false;
    } catch (...) {
        state.source.reset();  // a stream that failed midway cannot resume
        throw;
    }
    raise_pending_bound(state);
    if (!found) return false;  // a signal handler raised; the stream resumes next time
    if (!*found) {
        state.exhausted = state.source->end() == StreamEnd::Exhausted;
        state.source.reset();
        return false;
    }
    // Counted once taken from the source, even if building the pair fails: it is gone.
    const double cost = (*found)->score;
    if (state.handed == 0) state.first_cost = cost;
    ++state.handed;
    state.log_seen = log_add(state.log_seen, -cost);
    state.last_cost = cost;
    Ref score = own(PyFloat_FromDouble(cost));
    Ref cover = score ? own(cover_to_python((*found)->blocks)) : nullptr;
    if (!cover) return false;
    Ref pair = own(PyTuple_Pack(2, score.get(), cover.get()));
    if (!pair) return false;
    state.held.push_back(std::move(pair));
    return true;
}

// The next pair (a new reference), the oldest held first; nullptr at the end (no exception)
// or with an exception set, the pairs still held when a signal handler raised. The lock is
// held.
PyObject* next_pair(Call& call, IteratorState& state) {
    if (state.held.empty() && !take_pair(call, state)) return nullptr;
    if (signal_handler_raised()) return nullptr;
    Ref pair = std::move(state.held.front());
    state.held.pop_front();
    return pair.release();
}

// Every held pair, handed out as a new list; nullptr with an exception set, the pairs still
// held, when the list cannot be made.
PyObject* hand_out_held(IteratorState& state) {
    Ref list = own(PyList_New(static_cast<Py_ssize_t>(state.held.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < state.held.size(); ++i)
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), state.held[i].release());
    state.held.clear();
    return list.release();
}

// Runs `body(call, state)` with the iterator's lock held, every failure translated.
template <class Body>
PyObject* with_lock(PyObject* self, Body&& body) {
    return call_locked<IteratorState>(self, iterator_state<IteratorState>(self).what, std::forward<Body>(body));
}

PyObject* iternext(PyObject* self) { return with_lock(self, next_pair); }

// Whether, after covers of seen mass exp(log_seen) with the last cost `last`, the covers not
// yet taken (at most `left` of them, none cheaper than `last`) can hold at most the share
// `alpha` of the total.
bool share_left_is_small(double log_seen, double last, std::uint64_t left, double alpha) {
    if (left == 0) return true;
    const double log_unseen = std::log(static_cast<double>(left)) - last;
    return log_unseen <= std::log(alpha) + log_add(log_seen, log_unseen);
}

// `count` as a 64-bit count: OverflowError when negative or too large, TypeError when it
// is not an integer.
bool count_from(PyObject* object, std::uint64_t& count) {
    Ref index = own(PyNumber_Index(object));
    if (!index) return false;
    const unsigned long long value = PyLong_AsUnsignedLongLong(index.get());
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
    count = value;
    return true;
}

// Whether the pairs handed out so far show the share left to be at most `alpha`.
bool handed_share_is_small(const IteratorState& state, std::uint64_t count, double alpha) {
    return state.handed > 0 && share_left_is_small(state.log_seen, state.last_cost, count - state.handed, alpha);
}

PyObject* take_until(PyObject* self, PyObject* args, PyObject* kwargs) {
    static const char* keywords[] = {"alpha", "count", nullptr};
    double alpha = 0;
    PyObject* count_object = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "dO:take_until", const_cast<char**>(keywords),
                                     &alpha, &count_object))
        return nullptr;
    if (!(alpha >= 0.0 && alpha <= 1.0)) {
        PyErr_SetString(PyExc_ValueError, "alpha must be between 0 and 1");
        return nullptr;
    }
    std::uint64_t count = 0;
    if (!count_from(count_object, count)) return nullptr;
    return with_lock(self, [&](Call& call, IteratorState& state) -> PyObject* {
        // `count` is the number of covers in all, those handed out before included.
        if (count < state.handed) {
            PyErr_Format(PyExc_ValueError,
                         "count is %llu, but the stream has already given %llu covers",
                         static_cast<unsigned long long>(count),
                         static_cast<unsigned long long>(state.handed));
            return nullptr;
        }
        // The pairs are taken into the held ones, which come first: on an exception (a Ctrl-C
        // midway) they stay there, and the next call returns them.
        while (alpha < 1.0 && state.handed < count && !handed_share_is_small(state, count, alpha)) {
            const double before = state.last_cost;
            if (!take_pair(call, state)) {
                if (PyErr_Occurred()) return nullptr;
                break;
            }
            if (!(state.last_cost >= before)) {
                PyErr_Format(PyExc_ValueError,
                             "take_until needs costs in nondecreasing order: cover %llu costs "
                             "less than the one before it, or is NaN",
                             static_cast<unsigned long long>(state.handed - 1));
                return nullptr;
            }
        }
        if (signal_handler_raised()) return nullptr;  // the pairs stay held
        return hand_out_held(state);
    });
}

constexpr const char* kTakeUntilDoc =
    "take_until($self, /, alpha, count)\n--\n\n"
    "Take (cost, cover) pairs from the stream until the covers not yet taken provably hold at\n"
    "most the share `alpha` of the total probability, a cover's probability being taken as\n"
    "proportional to exp(-cost), given that the problem has `count` covers in all (for\n"
    "example from count_all). After k covers, the last costing s_k, the mass not yet seen is\n"
    "at most (count - k) * exp(-s_k), since the stream comes in nondecreasing cost; k counts\n"
    "every pair the stream has given, by next() or an earlier take_until. Returns the list of\n"
    "pairs taken; the stream goes on after them. A count below the pairs already given raises\n"
    "ValueError, a negative or too large one OverflowError. Interrupted (Ctrl-C), it raises,\n"
    "and the pairs it had taken come first from the stream's next call.";

PyObject* get_progress(PyObject* self, void*) {
    return with_lock(self, [](Call&, IteratorState& state) -> PyObject* {
        // Costs come in nondecreasing order: the last one bounds every cover still to come.
        // A stream that knows more (iter_top_sc: the least bound among the partial covers its
        // search holds) raises that, also while no cover has come yet.
        const double bound = state.exhausted ? std::numeric_limits<double>::infinity()
                                             : std::max(state.last_cost, state.pending_bound);
        Ref best = state.handed == 0 ? Ref(Py_NewRef(Py_None)) : own(PyFloat_FromDouble(state.first_cost));
        if (!best) return nullptr;
        return Py_BuildValue("(dOK)", bound, best.get(), static_cast<unsigned long long>(state.handed));
    });
}

PyGetSetDef getset[] = {
    {"progress", get_progress, nullptr,
     "(bound, best, count): a lower bound on the cost of every cover not yet returned (the\n"
     "last cost returned, since costs never decrease; -inf before the first, inf once the\n"
     "stream has ended with nothing left, not by a cap; iter_top_sc raises it to the least\n"
     "bound among the partial covers its search holds, and it never goes back), the cost of\n"
     "the best cover (the first returned; None before it) and the number of covers\n"
     "returned, by next() or take_until.",
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef methods[] = {
    {"take_until", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(take_until)),
     METH_VARARGS | METH_KEYWORDS, kTakeUntilDoc},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot iterator_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_iterator<IteratorState>)},
    {Py_tp_iter, reinterpret_cast<void*>(PyObject_SelfIter)},
    {Py_tp_iternext, reinterpret_cast<void*>(iternext)},
    {Py_tp_methods, methods},
    {Py_tp_getset, getset},
    {Py_tp_doc, const_cast<char*>("Iterator over (cost, cover) pairs of a ranked stream, in nondecreasing cost.")},
    {0, nullptr},
};

PyType_Spec type_spec = iterator_spec<IteratorState>("xcover.RankedIterator", iterator_slots);

}  // namespace

PyObject* new_ranked_iterator_type(PyObject* module) {
    return PyType_FromModuleAndSpec(module, &type_spec, nullptr);
}

PyObject* new_ranked_iterator(ModuleState& state, std::unique_ptr<RankedSource> source,
                              const char* what) {
    auto* object = new_iterator_object<IteratorState>(state.ranked_iterator_type, "ranked iterator");
    if (object == nullptr) return nullptr;
    object->state.source = std::move(source);
    if (object->state.source) raise_pending_bound(object->state);
    object->state.what = what;
    return reinterpret_cast<PyObject*>(object);
}

}  // namespace xcover::py
