#include "entry_points.hpp"

#include <optional>
#include <vector>

#include "../algorithms/knuth_x/algos/get_all.hpp"
#include "../algorithms/knuth_x/algos/get_top.hpp"
#include "../algorithms/knuth_x/algos/get_topp.hpp"
#include "../algorithms/knuth_x/algos/get_topn_sc.hpp"
#include "arguments.hpp"
#include "failure_boundary.hpp"
#include "results.hpp"

namespace xcover::py {

namespace {

constexpr SignatureSpec kGetAll{"get_all", {"partitions"}, 1, 1};
constexpr SignatureSpec kGetTop{"get_top", {"partitions", "weights", "max_iter", "max_heap"}, 4, 2};
constexpr SignatureSpec kGetTopn{
    "get_topn", {"partitions", "weights", "n", "max_iter", "max_heap"}, 5, 3};
constexpr SignatureSpec kGetTopp{
    "get_topp", {"partitions", "weights", "alpha", "max_iter", "max_heap"}, 5, 3};
constexpr SignatureSpec kGetTopnSc{"get_topn_sc",
                                   {"partitions", "weights", "edge_counts", "edge_total", "labels",
                                    "vertex_total", "n", "max_iter", "max_heap"},
                                   9,
                                   7};

// Runs the engine detached and converts its covers; nullptr with an exception on failure.
template <class Work>
PyObject* run_query(Work&& work) {
    return covers_to_python(run_detached(std::forward<Work>(work)));
}

// The arguments shared by the ranked functions.
struct RankedArguments {
    BlockList partitions;
    std::vector<double> weights;
    SearchCaps caps;
};

bool convert_caps(const Slots& slots, std::size_t first, RankedArguments& out) {
    return convert_argument(slots[first], "max_iter", convert_optional_u64, out.caps.max_iter) &&
           convert_argument(slots[first + 1], "max_heap", convert_optional_u64, out.caps.max_heap);
}

}  // namespace

PyObject* get_all_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        Slots slots;
        if (!bind_arguments(kGetAll, args, nargs, kwnames, slots)) return nullptr;
        BlockList partitions;
        if (!convert_argument(slots[0], "partitions", convert_block_list, partitions)) return nullptr;
        return run_query([&] { return get_all(partitions); });
    });
}

PyObject* get_top_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        Slots slots;
        if (!bind_arguments(kGetTop, args, nargs, kwnames, slots)) return nullptr;
        RankedArguments a;
        if (!convert_argument(slots[0], "partitions", convert_block_list, a.partitions) ||
            !convert_argument(slots[1], "weights", convert_f64_list, a.weights) ||
            !convert_caps(slots, 2, a))
            return nullptr;
        return run_query([&] { return get_top(a.partitions, std::move(a.weights), a.caps); });
    });
}

PyObject* get_topn_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        Slots slots;
        if (!bind_arguments(kGetTopn, args, nargs, kwnames, slots)) return nullptr;
        RankedArguments a;
        std::uint64_t n = 0;
        if (!convert_argument(slots[0], "partitions", convert_block_list, a.partitions) ||
            !convert_argument(slots[1], "weights", convert_f64_list, a.weights) ||
            !convert_argument(slots[2], "n", convert_u64, n) || !convert_caps(slots, 3, a))
            return nullptr;
        return run_query([&] { return get_topn(a.partitions, std::move(a.weights), n, a.caps); });
    });
}

PyObject* get_topp_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        Slots slots;
        if (!bind_arguments(kGetTopp, args, nargs, kwnames, slots)) return nullptr;
        RankedArguments a;
        double alpha = 0;
        if (!convert_argument(slots[0], "partitions", convert_block_list, a.partitions) ||
            !convert_argument(slots[1], "weights", convert_f64_list, a.weights) ||
            !convert_argument(slots[2], "alpha", convert_f64, alpha) || !convert_caps(slots, 3, a))
            return nullptr;
        return run_query(
            [&] { return get_topp(a.partitions, std::move(a.weights), alpha, a.caps); });
    });
}

PyObject* get_topn_sc_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        Slots slots;
        if (!bind_arguments(kGetTopnSc, args, nargs, kwnames, slots)) return nullptr;
        RankedArguments a;
        BlockCountInputs in;
        std::uint64_t n = 0;
        if (!convert_argument(slots[0], "partitions", convert_block_list, a.partitions) ||
            !convert_argument(slots[1], "weights", convert_f64_list, in.weights) ||
            !convert_argument(slots[2], "edge_counts", convert_u64_list, in.edge_counts) ||
            !convert_argument(slots[3], "edge_total", convert_u64, in.edge_total) ||
            !convert_argument(slots[4], "labels", convert_u64_list, in.labels) ||
            !convert_argument(slots[5], "vertex_total", convert_u64, in.vertex_total) ||
            !convert_argument(slots[6], "n", convert_u64, n) || !convert_caps(slots, 7, a))
            return nullptr;
        return run_query([&] { return get_topn_sc(a.partitions, std::move(in), n, a.caps); });
    });
}

}  // namespace xcover::py
