#include "entry_points.hpp"

#include <optional>
#include <vector>

#include "../algorithms/knuth_x/algos/get_all.hpp"
#include "../algorithms/knuth_x/algos/get_top.hpp"
#include "../algorithms/knuth_x/algos/get_topp.hpp"
#include "../algorithms/knuth_x/algos/get_topn_sc.hpp"
#include "arguments.hpp"
#include "failure_boundary.hpp"
#include "functions.hpp"
#include "results.hpp"

namespace xcover::py {

namespace {

// Runs the engine detached and converts its covers; nullptr with an exception on failure.
// `work(interrupt)` runs the search, which polls the interrupt for pending signals.
template <class Work>
PyObject* run_query(Work&& work) {
    std::optional<CoverList> covers = run_detached(std::forward<Work>(work));
    if (!covers) return nullptr;
    return covers_to_python(*covers);
}

// The arguments shared by the ranked functions.
struct RankedArguments {
    BlockList partitions;
    std::vector<double> weights;
    SearchCaps caps;
};

template <const FunctionDeclaration& F>
bool convert_caps(const Slots& slots, RankedArguments& out) {
    return convert_argument(slots, F.slot("max_iter"), convert_optional_u64, out.caps.max_iter) &&
           convert_argument(slots, F.slot("max_heap"), convert_optional_u64, out.caps.max_heap);
}

}  // namespace

PyObject* get_all_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    constexpr const FunctionDeclaration& F = kGetAll;
    return guarded([&]() -> PyObject* {
        Slots slots;
        if (!bind_arguments(F, args, nargs, kwnames, slots)) return nullptr;
        BlockList partitions;
        if (!convert_argument(slots, F.slot("partitions"), convert_block_list, partitions))
            return nullptr;
        return run_query([&](Interrupt& interrupt) { return get_all(partitions, {}, &interrupt); });
    });
}

PyObject* get_top_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    constexpr const FunctionDeclaration& F = kGetTop;
    return guarded([&]() -> PyObject* {
        Slots slots;
        if (!bind_arguments(F, args, nargs, kwnames, slots)) return nullptr;
        RankedArguments a;
        if (!convert_argument(slots, F.slot("partitions"), convert_block_list, a.partitions) ||
            !convert_argument(slots, F.slot("weights"), convert_f64_list, a.weights) ||
            !convert_caps<F>(slots, a))
            return nullptr;
        return run_query(
            [&](Interrupt& interrupt) { return get_top(a.partitions, std::move(a.weights), a.caps, &interrupt); });
    });
}

PyObject* get_topn_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    constexpr const FunctionDeclaration& F = kGetTopn;
    return guarded([&]() -> PyObject* {
        Slots slots;
        if (!bind_arguments(F, args, nargs, kwnames, slots)) return nullptr;
        RankedArguments a;
        std::uint64_t n = 0;
        if (!convert_argument(slots, F.slot("partitions"), convert_block_list, a.partitions) ||
            !convert_argument(slots, F.slot("weights"), convert_f64_list, a.weights) ||
            !convert_argument(slots, F.slot("n"), convert_u64, n) || !convert_caps<F>(slots, a))
            return nullptr;
        return run_query([&](Interrupt& interrupt) {
            return get_topn(a.partitions, std::move(a.weights), n, a.caps, &interrupt);
        });
    });
}

PyObject* get_topp_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    constexpr const FunctionDeclaration& F = kGetTopp;
    return guarded([&]() -> PyObject* {
        Slots slots;
        if (!bind_arguments(F, args, nargs, kwnames, slots)) return nullptr;
        RankedArguments a;
        double alpha = 0;
        if (!convert_argument(slots, F.slot("partitions"), convert_block_list, a.partitions) ||
            !convert_argument(slots, F.slot("weights"), convert_f64_list, a.weights) ||
            !convert_argument(slots, F.slot("alpha"), convert_f64, alpha) ||
            !convert_caps<F>(slots, a))
            return nullptr;
        return run_query(
            [&](Interrupt& interrupt) {
                return get_topp(a.partitions, std::move(a.weights), alpha, a.caps, &interrupt);
            });
    });
}

PyObject* get_topn_sc_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames) {
    constexpr const FunctionDeclaration& F = kGetTopnSc;
    return guarded([&]() -> PyObject* {
        Slots slots;
        if (!bind_arguments(F, args, nargs, kwnames, slots)) return nullptr;
        RankedArguments a;
        BlockCountInputs in;
        std::uint64_t n = 0;
        if (!convert_argument(slots, F.slot("partitions"), convert_block_list, a.partitions) ||
            !convert_argument(slots, F.slot("weights"), convert_f64_list, in.weights) ||
            !convert_argument(slots, F.slot("edge_counts"), convert_u64_list, in.edge_counts) ||
            !convert_argument(slots, F.slot("edge_total"), convert_u64, in.edge_total) ||
            !convert_argument(slots, F.slot("labels"), convert_u64_list, in.labels) ||
            !convert_argument(slots, F.slot("vertex_total"), convert_u64, in.vertex_total) ||
            !convert_argument(slots, F.slot("n"), convert_u64, n) || !convert_caps<F>(slots, a))
            return nullptr;
        return run_query([&](Interrupt& interrupt) {
            return get_topn_sc(a.partitions, std::move(in), n, a.caps, &interrupt);
        });
    });
}

}  // namespace xcover::py
