#include "entry_points.hpp"

#include <optional>
#include <vector>

#include "../algorithms/knuth_x/algos/get_all.hpp"
#include "../algorithms/knuth_x/algos/get_top.hpp"
#include "../algorithms/knuth_x/algos/get_topp.hpp"
#include "../algorithms/knuth_x/algos/get_topn_sc.hpp"
#include "arguments.hpp"
#include "cover_iterator.hpp"
#include "failure_boundary.hpp"
#include "functions.hpp"
#include "matrix.hpp"
#include "results.hpp"

namespace xcover::py {

namespace {

// What a query builds before its search starts grows with this.
std::uint64_t input_items(const BlockList& partitions) {
    return partitions.size() + partitions.total_items();
}

// Runs the engine detached and converts its covers; nullptr with an exception on failure.
// `work(interrupt)` runs the search, which polls the interrupt for pending signals.
template <class Work>
PyObject* run_query(Work&& work, std::uint64_t input_items) {
    std::optional<CoverList> covers = run_detached(std::forward<Work>(work), input_items);
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

// Converts `include` (absent: empty) and checks every index against the number of blocks.
bool convert_include(const Slots& slots, ParameterSlot parameter, const BlockList& blocks,
                     std::vector<std::uint64_t>& out) {
    if (slots[parameter.index] == nullptr) return true;
    if (!convert_argument(slots, parameter, convert_u64_list, out)) return false;
    for (std::uint64_t block : out) {
        if (block >= blocks.size()) {
            PyErr_Format(PyExc_ValueError,
                         "include: block index %llu is out of range for %llu partitions",
                         static_cast<unsigned long long>(block),
                         static_cast<unsigned long long>(blocks.size()));
            return false;
        }
    }
    return true;
}

// The arguments of the depth-first companions of get_all.
struct DepthFirstArguments {
    BlockList partitions;
    std::vector<std::uint64_t> include;
};

template <const FunctionDeclaration& F>
bool convert_depth_first(const Slots& slots, DepthFirstArguments& out, std::uint64_t* parts) {
    if (!convert_argument(slots, F.slot("partitions"), convert_block_list, out.partitions))
        return false;
    if constexpr (F.count() == 3) {
        if (!convert_argument(slots, F.slot("parts"), convert_u64, *parts)) return false;
        if (*parts == 0) {
            PyErr_SetString(PyExc_ValueError, "parts must be at least 1");
            return false;
        }
    }
    return convert_include(slots, F.slot("include"), out.partitions, out.include);
}

}  // namespace

PyObject* count_all_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    constexpr const FunctionDeclaration& F = kCountAll;
    return guarded([&]() -> PyObject* {
        Slots slots;
        if (!bind_arguments(F, args, nargs, kwnames, slots)) return nullptr;
        DepthFirstArguments a;
        if (!convert_depth_first<F>(slots, a, nullptr)) return nullptr;
        const std::optional<std::uint64_t> count = run_detached(
            [&](Interrupt& interrupt) { return count_all(a.partitions, a.include, &interrupt); },
            input_items(a.partitions));
        if (!count) return nullptr;
        return PyLong_FromUnsignedLongLong(*count);
    });
}

PyObject* iter_all_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    constexpr const FunctionDeclaration& F = kIterAll;
    return guarded([&]() -> PyObject* {
        Slots slots;
        if (!bind_arguments(F, args, nargs, kwnames, slots)) return nullptr;
        DepthFirstArguments a;
        if (!convert_depth_first<F>(slots, a, nullptr)) return nullptr;
        std::optional<std::unique_ptr<DepthFirstSearch>> search =
            run_detached([&](Interrupt&) {
                return std::make_unique<DepthFirstSearch>(a.partitions, a.include);
            }, input_items(a.partitions));
        if (!search) return nullptr;
        return new_cover_iterator(std::move(*search));
    });
}

PyObject* split_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    constexpr const FunctionDeclaration& F = kSplit;
    return guarded([&]() -> PyObject* {
        Slots slots;
        if (!bind_arguments(F, args, nargs, kwnames, slots)) return nullptr;
        DepthFirstArguments a;
        std::uint64_t parts = 0;
        if (!convert_depth_first<F>(slots, a, &parts)) return nullptr;
        const auto prefixes = run_detached(
            [&](Interrupt& interrupt) { return split(a.partitions, parts, a.include, &interrupt); },
            input_items(a.partitions));
        if (!prefixes) return nullptr;
        CoverList lists;
        for (const auto& prefix : *prefixes) lists.push_list(prefix);
        return covers_to_python(lists);
    });
}

PyObject* blocks_from_matrix_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                   PyObject* kwnames) {
    constexpr const FunctionDeclaration& F = kBlocksFromMatrix;
    return guarded([&]() -> PyObject* {
        Slots slots;
        if (!bind_arguments(F, args, nargs, kwnames, slots)) return nullptr;
        return matrix_to_blocks(slots[F.slot("matrix").index]);
    });
}

PyObject* get_all_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    constexpr const FunctionDeclaration& F = kGetAll;
    return guarded([&]() -> PyObject* {
        Slots slots;
        if (!bind_arguments(F, args, nargs, kwnames, slots)) return nullptr;
        BlockList partitions;
        if (!convert_argument(slots, F.slot("partitions"), convert_block_list, partitions))
            return nullptr;
        // The covers become lists batch by batch as the search finds them.
        std::optional<std::unique_ptr<DepthFirstSearch>> search = run_detached(
            [&](Interrupt&) { return std::make_unique<DepthFirstSearch>(partitions); },
            input_items(partitions));
        if (!search) return nullptr;
        partitions = BlockList{};
        return all_covers_to_python(**search);
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
            [&](Interrupt& interrupt) { return get_top(a.partitions, std::move(a.weights), a.caps, &interrupt); },
            input_items(a.partitions));
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
        }, input_items(a.partitions));
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
            },
            input_items(a.partitions));
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
        const std::uint64_t items =
            input_items(a.partitions) + in.labels.size() + in.edge_counts.size();
        return run_query([&](Interrupt& interrupt) {
            return get_topn_sc(a.partitions, std::move(in), n, a.caps, &interrupt);
        }, items);
    });
}

}  // namespace xcover::py
