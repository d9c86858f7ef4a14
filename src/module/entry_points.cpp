// Each module function: its declaration's arguments, converted, handed to one engine query,
// whose result is converted back.
#include "entry_points.hpp"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "../algorithms/knuth_x/algos/depth_first/get_all.hpp"
#include "../algorithms/knuth_x/algos/depth_first/split.hpp"
#include "../algorithms/knuth_x/algos/average/get_top.hpp"
#include "../algorithms/knuth_x/algos/block_count/get_topn_sc.hpp"
#include "../algorithms/knuth_x/algos/average/get_topp.hpp"
#include "../algorithms/knuth_x/algos/block_count/top_sc_stream.hpp"
#include "../algorithms/knuth_x/algos/average/top_stream.hpp"
#include "../algorithms/knuth_x/pool/thread_pool.hpp"
#include "arguments.hpp"
#include "command_line.hpp"
#include "cover_iterator.hpp"
#include "depth_first_batches.hpp"
#include "dlx.hpp"
#include "estimate.hpp"
#include "failure_boundary.hpp"
#include "functions.hpp"
#include "matrix.hpp"
#include "ranked_iterator.hpp"
#include "number_blocks.hpp"
#include "progress.hpp"
#include "results.hpp"

namespace xcover::py {

namespace {

// Enters the function declared by F: binds and converts the arguments, then returns
// `body(call, arguments)`, with every C++ failure turned into a Python exception.
template <const FunctionDeclaration& F, class Body>
PyObject* enter(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                Body&& body) {
    ModuleState& state = module_state(module);
    return guarded(state, [&]() -> PyObject* {
        Call call(state);
        Arguments arguments;
        if (!arguments.convert(call, F, args, nargs, kwnames)) return nullptr;
        return body(call, arguments);
    });
}

// What a query builds before its search starts grows with this.
std::uint64_t input_items(const BlockList& partitions) {
    return partitions.size() + partitions.total_items();
}

// Runs a ranked query detached and converts its covers; nullptr with an exception on
// failure. `work(interrupt)` runs the search, which polls the interrupt for pending signals.
template <class Work>
PyObject* run_query(Call& call, Work&& work, std::uint64_t input_items) {
    std::optional<CoverList> covers = run_detached(call.check, std::forward<Work>(work), input_items);
    if (!covers) return nullptr;
    return covers_to_python(call, *covers);
}

// The streams take the clear error: one entry per block, said when the call is made.
template <class List>
bool one_per_block(const char* name, const List& list, const BlockList& partitions) {
    if (list.size() == partitions.size()) return true;
    PyErr_Format(PyExc_ValueError, "%s has %zu entries for %llu partitions: give one per block",
                 name, list.size(), static_cast<unsigned long long>(partitions.size()));
    return false;
}

// The process-wide helpers: with the setting at 1 (the default) every query runs on its
// caller's thread alone, as it always did.
ThreadPool* helpers() { return &ThreadPool::shared(); }

// The block-count model's inputs, moved out of the arguments.
template <const FunctionDeclaration& F>
BlockCountInputs block_count_inputs(Arguments& a) {
    return BlockCountInputs{std::move(a.numbers(F.slot("weights"))),
                            std::move(a.integers(F.slot("edge_counts"))),
                            a.integer(F.slot("edge_total")),
                            std::move(a.integers(F.slot("labels"))),
                            a.integer(F.slot("vertex_total"))};
}

template <const FunctionDeclaration& F>
SearchCaps caps(Arguments& a) {
    return SearchCaps{a.optional_integer(F.slot("max_iter")), a.optional_integer(F.slot("max_heap"))};
}

// The secondary elements and their colors of a query, or nullopt with ValueError
// when the colors do not fit the blocks.
template <const FunctionDeclaration& F>
std::optional<SecondaryItems> secondary_items(Arguments& a) {
    const SecondaryItems secondary{a.integers(F.slot("secondary")), a.colors(F.slot("colors"))};
    const std::string error = colors_error(a.blocks(F.slot("partitions")), secondary);
    if (error.empty()) return secondary;
    PyErr_Format(PyExc_ValueError, "colors: %s", error.c_str());
    return std::nullopt;
}

}  // namespace

PyObject* count_all_entry(PyObject* m, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
    static constexpr const FunctionDeclaration& F = kCountAll;
    return enter<F>(m, args, nargs, kw, [](Call& call, Arguments& a) -> PyObject* {
        const BlockList& partitions = a.blocks(F.slot("partitions"));
        const std::optional<SecondaryItems> secondary = secondary_items<F>(a);
        if (!secondary) return nullptr;
        PyObject* progress = a.object(F.slot("progress"));
        if (!check_progress_argument(progress)) return nullptr;
        const DepthFirstQuery query{.include = a.integers(F.slot("include")), .secondary = *secondary,
                                    .use = DepthFirstQuery::Use::Count};
        const std::optional<std::uint64_t> count = run_detached(call.check, [&](Interrupt& interrupt) {
            // Made and dropped detached: dropping a stream waits for its helpers.
            const std::unique_ptr<CoverSource> source = depth_first_source(partitions, query, helpers(), &interrupt);
            if (progress == Py_None) return source->count_rest(&interrupt);
            SourceProgress report(progress, *source);
            const ProgressInstalled installed(call.check, &report);
            return source->count_rest(&interrupt);
        }, input_items(partitions));
        if (!count) return nullptr;
        if (progress != Py_None && !report_finished(progress, *count)) return nullptr;
        return PyLong_FromUnsignedLongLong(*count);
    });
}

PyObject* iter_all_entry(PyObject* m, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
    static constexpr const FunctionDeclaration& F = kIterAll;
    return enter<F>(m, args, nargs, kw, [](Call& call, Arguments& a) -> PyObject* {
        const BlockList& partitions = a.blocks(F.slot("partitions"));
        const std::optional<std::uint64_t> seed = a.optional_integer(F.slot("seed"));
        const std::optional<SecondaryItems> secondary = secondary_items<F>(a);
        if (!secondary) return nullptr;
        // With helpers, they search a window of parts ahead of the iterator, each part pausing
        // at a bound: what waits in memory is bounded whatever the number of covers.
        const DepthFirstQuery query{.include = a.integers(F.slot("include")),
                                    .secondary = *secondary,
                                    .seed = seed,
                                    .use = DepthFirstQuery::Use::Batches};
        std::optional<std::unique_ptr<CoverSource>> source =
            run_detached(call.check, [&](Interrupt& interrupt) {
                return depth_first_source(partitions, query, helpers(), &interrupt);
            }, input_items(partitions));
        if (!source) return nullptr;
        return new_cover_iterator(call.state, std::move(*source));
    });
}

PyObject* split_entry(PyObject* m, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
    static constexpr const FunctionDeclaration& F = kSplit;
    return enter<F>(m, args, nargs, kw, [](Call& call, Arguments& a) -> PyObject* {
        const BlockList& partitions = a.blocks(F.slot("partitions"));
        const std::optional<SecondaryItems> secondary = secondary_items<F>(a);
        if (!secondary) return nullptr;
        PyObject* progress = a.object(F.slot("progress"));
        if (!check_progress_argument(progress)) return nullptr;
        const std::uint64_t parts = a.integer(F.slot("parts"));
        const auto prefixes = run_detached(call.check, [&](Interrupt& interrupt) {
            SplitProgress now;
            SplitReport report(progress, now, parts);
            const ProgressInstalled installed(call.check, progress == Py_None ? nullptr : &report);
            CoverList lists;
            for (const auto& prefix : split(partitions, parts, a.integers(F.slot("include")), &interrupt,
                                            *secondary, &now))
                lists.push_list(prefix);
            return lists;
        }, input_items(partitions));
        if (!prefixes) return nullptr;
        if (progress != Py_None && !report_finished(progress, prefixes->size())) return nullptr;
        return covers_to_python(call, *prefixes);
    });
}

PyObject* blocks_from_matrix_entry(PyObject* m, PyObject* const* args, Py_ssize_t nargs,
                                   PyObject* kw) {
    static constexpr const FunctionDeclaration& F = kBlocksFromMatrix;
    return enter<F>(m, args, nargs, kw, [](Call& call, Arguments& a) {
        return matrix_to_blocks(call, a.object(F.slot("matrix")));
    });
}

PyObject* read_dlx_entry(PyObject* m, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
    static constexpr const FunctionDeclaration& F = kReadDlx;
    return enter<F>(m, args, nargs, kw, [](Call& call, Arguments& a) {
        return dlx_text_to_python(call, a.object(F.slot("text")));
    });
}

PyObject* read_dlx_file_entry(PyObject* m, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
    static constexpr const FunctionDeclaration& F = kReadDlxFile;
    return enter<F>(m, args, nargs, kw, [](Call& call, Arguments& a) {
        return dlx_file_to_python(call, a.object(F.slot("path")));
    });
}

PyObject* estimate_all_entry(PyObject* m, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
    static constexpr const FunctionDeclaration& F = kEstimateAll;
    return enter<F>(m, args, nargs, kw, [](Call& call, Arguments& a) -> PyObject* {
        const BlockList& partitions = a.blocks(F.slot("partitions"));
        const std::uint64_t samples = a.integer(F.slot("samples"));
        const std::uint64_t seed = seed_or_random(a.optional_integer(F.slot("seed")));
        const std::optional<SecondaryItems> secondary = secondary_items<F>(a);
        if (!secondary) return nullptr;
        const std::optional<TreeEstimate> estimate = run_detached(call.check, [&](Interrupt& interrupt) {
            return estimate_all(partitions, a.integers(F.slot("include")), *secondary, samples, seed,
                                &interrupt);
        }, input_items(partitions));
        return estimate ? estimate_to_python(call, *estimate) : nullptr;
    });
}

PyObject* number_blocks_entry(PyObject* m, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
    static constexpr const FunctionDeclaration& F = kNumberBlocks;
    return enter<F>(m, args, nargs, kw, [](Call& call, Arguments& a) {
        return number_blocks(call, a.object(F.slot("blocks")));
    });
}

PyObject* main_entry(PyObject* m, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
    static constexpr const FunctionDeclaration& F = kMain;
    return enter<F>(m, args, nargs, kw, [m](Call& call, Arguments& a) {
        return run_command_line(call, m, a.object(F.slot("argv")));
    });
}

PyObject* get_all_entry(PyObject* m, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
    static constexpr const FunctionDeclaration& F = kGetAll;
    return enter<F>(m, args, nargs, kw, [](Call& call, Arguments& a) -> PyObject* {
        BlockList& partitions = a.blocks(F.slot("partitions"));
        std::optional<std::unique_ptr<CoverSource>> source =
            run_detached(call.check, [&](Interrupt& interrupt) {
                return depth_first_source(partitions, DepthFirstQuery{}, helpers(), &interrupt);
            }, input_items(partitions));
        if (!source) return nullptr;
        partitions = BlockList{};  // the search holds its own copy: free the caller's now
        return all_covers_to_python(call, **source);
    });
}

PyObject* get_top_entry(PyObject* m, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
    static constexpr const FunctionDeclaration& F = kGetTop;
    return enter<F>(m, args, nargs, kw, [](Call& call, Arguments& a) {
        const BlockList& partitions = a.blocks(F.slot("partitions"));
        return run_query(call, [&](Interrupt& interrupt) {
            return get_top(partitions, std::move(a.numbers(F.slot("weights"))), caps<F>(a), &interrupt,
                           helpers());
        }, input_items(partitions));
    });
}

PyObject* get_topn_entry(PyObject* m, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
    static constexpr const FunctionDeclaration& F = kGetTopn;
    return enter<F>(m, args, nargs, kw, [](Call& call, Arguments& a) {
        const BlockList& partitions = a.blocks(F.slot("partitions"));
        return run_query(call, [&](Interrupt& interrupt) {
            return get_topn(partitions, std::move(a.numbers(F.slot("weights"))),
                            a.integer(F.slot("n")), caps<F>(a), &interrupt, helpers());
        }, input_items(partitions));
    });
}

PyObject* get_topp_entry(PyObject* m, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
    static constexpr const FunctionDeclaration& F = kGetTopp;
    return enter<F>(m, args, nargs, kw, [](Call& call, Arguments& a) {
        const BlockList& partitions = a.blocks(F.slot("partitions"));
        return run_query(call, [&](Interrupt& interrupt) {
            return get_topp(partitions, std::move(a.numbers(F.slot("weights"))),
                            a.number(F.slot("alpha")), caps<F>(a), &interrupt, helpers());
        }, input_items(partitions));
    });
}

PyObject* get_topn_sc_entry(PyObject* m, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
    static constexpr const FunctionDeclaration& F = kGetTopnSc;
    return enter<F>(m, args, nargs, kw, [](Call& call, Arguments& a) {
        const BlockList& partitions = a.blocks(F.slot("partitions"));
        BlockCountInputs in = block_count_inputs<F>(a);
        const std::uint64_t items =
            input_items(partitions) + in.labels.size() + in.edge_counts.size();
        return run_query(call, [&](Interrupt& interrupt) {
            return get_topn_sc(partitions, std::move(in), a.integer(F.slot("n")), caps<F>(a),
                               &interrupt, helpers());
        }, items);
    });
}

PyObject* iter_top_entry(PyObject* m, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
    static constexpr const FunctionDeclaration& F = kIterTop;
    return enter<F>(m, args, nargs, kw, [](Call& call, Arguments& a) -> PyObject* {
        const BlockList& partitions = a.blocks(F.slot("partitions"));
        std::vector<double>& weights = a.numbers(F.slot("weights"));
        if (!one_per_block("weights", weights, partitions)) return nullptr;
        const std::optional<SecondaryItems> secondary = secondary_items<F>(a);
        if (!secondary) return nullptr;
        auto source = run_detached(call.check, [&](Interrupt& interrupt) {
            return std::unique_ptr<RankedSource>(std::make_unique<StreamSource<TopStream>>(
                partitions, std::move(weights), a.integers(F.slot("include")), caps<F>(a),
                &interrupt, helpers(), *secondary));
        }, input_items(partitions));
        if (!source) return nullptr;
        return new_ranked_iterator(call.state, std::move(*source), "iter_top");
    });
}

PyObject* iter_top_sc_entry(PyObject* m, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
    static constexpr const FunctionDeclaration& F = kIterTopSc;
    return enter<F>(m, args, nargs, kw, [](Call& call, Arguments& a) -> PyObject* {
        const BlockList& partitions = a.blocks(F.slot("partitions"));
        BlockCountInputs in = block_count_inputs<F>(a);
        if (!one_per_block("weights", in.weights, partitions) ||
            !one_per_block("edge_counts", in.edge_counts, partitions) ||
            !one_per_block("labels", in.labels, partitions))
            return nullptr;
        const std::optional<std::string> error = run_detached(call.check, [&](Interrupt& interrupt) {
            return top_sc_input_error(partitions, in, &interrupt);
        }, input_items(partitions));
        if (!error) return nullptr;
        if (!error->empty()) {
            PyErr_Format(PyExc_ValueError, "iter_top_sc cannot rank this input exactly: %s",
                         error->c_str());
            return nullptr;
        }
        const std::optional<SecondaryItems> secondary = secondary_items<F>(a);
        if (!secondary) return nullptr;
        auto source = run_detached(call.check, [&](Interrupt& interrupt) {
            return std::unique_ptr<RankedSource>(std::make_unique<StreamSource<TopScStream>>(
                partitions, std::move(in), a.integers(F.slot("include")), caps<F>(a), helpers(),
                *secondary, &interrupt));
        }, input_items(partitions));
        if (!source) return nullptr;
        return new_ranked_iterator(call.state, std::move(*source), "iter_top_sc");
    });
}

namespace {

// The warning for a request of more threads than the pool allows, `what` naming the request.
std::string reduced_setting_warning(const std::string& what, ThreadPool::Setting setting) {
    return what + " asks for more threads than the limit of " +
           std::to_string(ThreadPool::kThreadsPerCore) + " per processor (" +
           std::to_string(ThreadPool::cores()) + " processors): " +
           std::to_string(setting.threads) + " threads are used";
}

// XCOVER_THREADS read and applied to the process-wide pool; returns the warning it calls
// for (a value that is no count, or one above the limit), or an empty text.
std::string apply_environment_setting() {
    const char* text = std::getenv("XCOVER_THREADS");
    if (text == nullptr || *text == '\0') return {};
    const std::string shown = std::string("XCOVER_THREADS=") + text;
    char* end = nullptr;
    errno = 0;
    const unsigned long long n = std::strtoull(text, &end, 10);
    if (*text < '0' || *text > '9' || *end != '\0')
        return shown + " is not a number of threads (0: one per processor): ignored";
    // A count beyond 64 bits is a count above the limit too.
    const ThreadPool::Setting setting = ThreadPool::setting_for(errno == ERANGE ? UINT64_MAX : n);
    ThreadPool::shared().set_threads(setting.threads);
    return setting.reduced ? reduced_setting_warning(shown, setting) : std::string();
}

}  // namespace

PyObject* set_threads_entry(PyObject* m, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
    static constexpr const FunctionDeclaration& F = kSetThreads;
    return enter<F>(m, args, nargs, kw, [](Call&, Arguments& a) -> PyObject* {
        const std::uint64_t n = a.integer(F.slot("n"));
        const ThreadPool::Setting setting = ThreadPool::setting_for(n);
        if (setting.reduced) {
            const std::string warning =
                reduced_setting_warning("set_threads(" + std::to_string(n) + ")", setting);
            if (PyErr_WarnEx(PyExc_RuntimeWarning, warning.c_str(), 1) < 0) return nullptr;
        }
        // Helpers that must stop are not waited for: no interpreter needed, and quick.
        Py_BEGIN_ALLOW_THREADS
        ThreadPool::shared().set_threads(setting.threads);
        Py_END_ALLOW_THREADS
        Py_RETURN_NONE;
    });
}

PyObject* get_threads_entry(PyObject* m, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
    static constexpr const FunctionDeclaration& F = kGetThreads;
    return enter<F>(m, args, nargs, kw, [](Call&, Arguments&) -> PyObject* {
        return PyLong_FromUnsignedLong(ThreadPool::shared().threads());
    });
}

bool apply_thread_setting_from_environment() {
    // Once per process, whichever interpreter imports the module first: the pool is the
    // process's, and a later import (a subinterpreter's) must not undo a set_threads.
    static const std::string warning = apply_environment_setting();
    static std::atomic<bool> warned{false};
    if (warning.empty() || warned.exchange(true)) return true;
    return PyErr_WarnEx(PyExc_RuntimeWarning, warning.c_str(), 1) == 0;
}

}  // namespace xcover::py
