// The queries with helper threads: each case runs with threads:1 (no helpers) and threads:2,
// in the same run, and reports `speedup`, the wall time of threads:1 over its own (so read it
// on the threads:2 line; it is 1 on the threads:1 line). Compare wall times: the helpers'
// CPU time is not the caller's.
//
// The instances are the shared benchmark instances (ranked/ for the weighted ones), see
// instances.hpp for where they are looked up.
//
//   TopN/pent6x10w     get_topn(pent6x10w, n=1)
//   TopNSc/sbm16       get_topn_sc(sbm16, n=10)
//   TopP/wgnp30        get_topp(wgnp30, alpha=0.5, max_iter=100,000)
//   TopN1000/wgnp30    get_topn(wgnp30, n=1000)
//   TopN100/pent6x10w  get_topn(pent6x10w, n=100)
//   IterTop100/pent6x10w, IterTop1000/wgnp30
//                      the first 100 (1000) covers of the stream iter_top searches with
//                      (TopStream); `over_get_topn` is its wall time over get_topn's for the
//                      same n and threads, from the same run
//   IterTopSc10/sbm16  the first 10 covers of iter_top_sc's stream (TopScStream)
//                      (stream cases: `taken`, the steps whose expansion a helper made)
//   GetAll/pent6x10, CountAll/langford12, GetAll/sudoku16
//   Memory/sbm24       get_topn_sc(sbm24, n=1, max_iter=2,000,000) driven step by step:
//                      pushed entries, the largest frontier_bytes() (peak_bytes), and
//                      bytes_per_entry = peak_bytes / pushed entries.
//
// Built with XCOVER_BENCH_BASELINE against an engine without helper threads, the same file
// measures that engine (threads:1 only) for a comparison of one-thread times.
#include <benchmark/benchmark.h>

#include <time.h>

#include <chrono>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "algorithms/knuth_x/algos/depth_first/get_all.hpp"
#include "algorithms/knuth_x/algos/average/get_top.hpp"
#include "algorithms/knuth_x/algos/block_count/get_topn_sc.hpp"
#include "algorithms/knuth_x/algos/average/get_topp.hpp"
#ifndef XCOVER_BENCH_BASELINE
#include "algorithms/knuth_x/algos/block_count/top_sc_stream.hpp"
#include "algorithms/knuth_x/algos/average/top_stream.hpp"
#include "algorithms/knuth_x/pool/thread_pool.hpp"
#endif
#include "instances.hpp"

using namespace xcover;

namespace {

#ifdef XCOVER_BENCH_BASELINE
struct ThreadPool {};
#define POOL_ARG
#define COUNT_POOL_ARG
#else
#define POOL_ARG , pool
#define COUNT_POOL_ARG , {}, pool
#endif

// A pool with the setting of the case; nullptr for one thread.
ThreadPool* pool_for(unsigned threads) {
#ifdef XCOVER_BENCH_BASELINE
    (void)threads;
    return nullptr;
#else
    static ThreadPool pool;
    if (threads <= 1) return nullptr;
    pool.set_threads(threads);
    return &pool;
#endif
}

const bench::RankedInstance& ranked(const std::string& name) {
    static std::map<std::string, bench::RankedInstance> cache;
    auto it = cache.find(name);
    if (it == cache.end()) it = cache.emplace(name, bench::load_ranked_instance(name)).first;
    return it->second;
}

const BlockList& plain(const std::string& name) {
    static std::map<std::string, BlockList> cache;
    auto it = cache.find(name);
    if (it == cache.end()) it = cache.emplace(name, BlockList::from(bench::load_instance(name).blocks)).first;
    return it->second;
}

BlockCountInputs block_count_inputs(const bench::RankedInstance& inst) {
    return BlockCountInputs{inst.weights, inst.edge_counts, inst.edge_total, inst.labels, inst.vertex_total};
}

double thread_cpu_seconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Wall seconds per iteration of each case timed so far, by name and threads.
std::map<std::pair<std::string, unsigned>, double>& seconds_of_cases() {
    static std::map<std::pair<std::string, unsigned>, double> seconds;
    return seconds;
}

// Times `run()` (returning a result count) per iteration; reports the speedup over the
// threads:1 run of the same case.
template <class Run>
void timed(benchmark::State& state, const std::string& name, Run&& run) {
    static std::map<std::string, double> one_thread_seconds;
    const auto threads = static_cast<unsigned>(state.range(0));
    ThreadPool* pool = pool_for(threads);
    double seconds = 0, caller_cpu = 0;
    std::uint64_t results = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const double cpu_start = thread_cpu_seconds();
        results = run(pool);
        caller_cpu += thread_cpu_seconds() - cpu_start;
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    seconds /= static_cast<double>(state.iterations());
    caller_cpu /= static_cast<double>(state.iterations());
    // The caller's own CPU time: on a loaded machine, wall times say little, and a caller
    // that does less of the work itself is what the helpers buy.
    state.counters["caller_cpu_s"] = caller_cpu;
    if (threads == 1) one_thread_seconds[name] = seconds;
    seconds_of_cases()[{name, threads}] = seconds;
    state.counters["results"] = static_cast<double>(results);
    if (auto it = one_thread_seconds.find(name); it != one_thread_seconds.end())
        state.counters["speedup"] = it->second / seconds;
}

void BM_TopN_pent6x10w(benchmark::State& state) {
    const auto& inst = ranked("pent6x10w");
    const BlockList list = BlockList::from(inst.blocks);
    timed(state, "topn_pent", [&]([[maybe_unused]] ThreadPool* pool) {
        return get_topn(list, inst.weights, 1, {}, nullptr POOL_ARG).size();
    });
}

void BM_TopNSc_sbm16(benchmark::State& state) {
    const auto& inst = ranked("sbm16");
    const BlockList list = BlockList::from(inst.blocks);
    timed(state, "topnsc_sbm16", [&]([[maybe_unused]] ThreadPool* pool) {
        return get_topn_sc(list, block_count_inputs(inst), 10, {}, nullptr POOL_ARG).size();
    });
}

// The stopping rule of get_topp weighs the covers found against a bound on the number of
// partitions of 30 elements (about e^60): alpha = 0.5 is not met before every cover is
// listed, so the run stops at a step cap.
constexpr std::uint64_t kTopPSteps = 100'000;

void BM_TopP_wgnp30(benchmark::State& state) {
    const auto& inst = ranked("wgnp30");
    const BlockList list = BlockList::from(inst.blocks);
    timed(state, "topp_wgnp30", [&]([[maybe_unused]] ThreadPool* pool) {
        return get_topp(list, inst.weights, 0.5, SearchCaps{kTopPSteps, std::nullopt}, nullptr POOL_ARG).size();
    });
}

void BM_TopN1000_wgnp30(benchmark::State& state) {
    const auto& inst = ranked("wgnp30");
    const BlockList list = BlockList::from(inst.blocks);
    timed(state, "topn1000_wgnp30", [&]([[maybe_unused]] ThreadPool* pool) {
        return get_topn(list, inst.weights, 1000, {}, nullptr POOL_ARG).size();
    });
}

void BM_TopN100_pent6x10w(benchmark::State& state) {
    const auto& inst = ranked("pent6x10w");
    const BlockList list = BlockList::from(inst.blocks);
    timed(state, "topn100_pent", [&]([[maybe_unused]] ThreadPool* pool) {
        return get_topn(list, inst.weights, 100, {}, nullptr POOL_ARG).size();
    });
}

#ifndef XCOVER_BENCH_BASELINE
// The first `n` covers of a stream made by `make(pool)`; `taken` receives the steps whose
// expansion a helper made.
template <class Make>
std::uint64_t take_covers(Make&& make, ThreadPool* pool, std::uint64_t n, std::uint64_t& taken) {
    auto stream = make(pool);
    std::uint64_t covers = 0;
    while (covers < n && stream->next()) ++covers;
    taken = stream->ahead_counts().taken;
    return covers;
}

// iter_top's stream for the first `n` covers, against get_topn's case `topn` of the same run.
void iter_top_case(benchmark::State& state, const std::string& instance, std::uint64_t n,
                   const std::string& name, const std::string& topn) {
    const auto& inst = ranked(instance);
    const BlockList list = BlockList::from(inst.blocks);
    std::uint64_t taken = 0;
    timed(state, name, [&](ThreadPool* pool) {
        return take_covers([&](ThreadPool* p) {
            return std::make_unique<TopStream>(list, inst.weights, std::span<const std::uint64_t>{},
                                               SearchCaps{}, nullptr, p);
        }, pool, n, taken);
    });
    state.counters["taken"] = static_cast<double>(taken);
    const auto threads = static_cast<unsigned>(state.range(0));
    const auto& seconds = seconds_of_cases();
    if (auto it = seconds.find({topn, threads}); it != seconds.end())
        state.counters["over_get_topn"] = seconds.at({name, threads}) / it->second;
}

void BM_IterTop100_pent6x10w(benchmark::State& state) {
    iter_top_case(state, "pent6x10w", 100, "itertop100_pent", "topn100_pent");
}

void BM_IterTop1000_wgnp30(benchmark::State& state) {
    iter_top_case(state, "wgnp30", 1000, "itertop1000_wgnp30", "topn1000_wgnp30");
}

void BM_IterTopSc10_sbm16(benchmark::State& state) {
    const auto& inst = ranked("sbm16");
    const BlockList list = BlockList::from(inst.blocks);
    std::uint64_t taken = 0;
    timed(state, "itertopsc10_sbm16", [&](ThreadPool* pool) {
        return take_covers([&](ThreadPool* p) {
            return std::make_unique<TopScStream>(list, block_count_inputs(inst), std::span<const std::uint64_t>{},
                                                 SearchCaps{}, p);
        }, pool, 10, taken);
    });
    state.counters["taken"] = static_cast<double>(taken);
}
#endif

void BM_GetAll_pent6x10(benchmark::State& state) {
    timed(state, "getall_pent", [&]([[maybe_unused]] ThreadPool* pool) {
        return get_all(plain("pent6x10"), {}, nullptr POOL_ARG).size();
    });
}

void BM_CountAll_langford12(benchmark::State& state) {
    timed(state, "countall_langford", [&]([[maybe_unused]] ThreadPool* pool) {
        return count_all(plain("langford12"), {}, nullptr COUNT_POOL_ARG);
    });
}

void BM_GetAll_sudoku16(benchmark::State& state) {
    timed(state, "getall_sudoku", [&]([[maybe_unused]] ThreadPool* pool) {
        return get_all(plain("sudoku16"), {}, nullptr POOL_ARG).size();
    });
}

void BM_Memory_sbm24(benchmark::State& state) {
    const auto& inst = ranked("sbm24");
    const BlockList list = BlockList::from(inst.blocks);
    ThreadPool* pool = pool_for(static_cast<unsigned>(state.range(0)));
    std::uint64_t peak = 0, steps = 0, covers = 0;
    [[maybe_unused]] std::uint64_t pushed = 0;
    for (auto _ : state) {
        BlockCountSearch search = build_block_count_search(
            list, block_count_inputs(inst), SearchCaps{2'000'000, std::nullopt}, nullptr POOL_ARG);
        peak = search.frontier_bytes();
        steps = covers = 0;
        while (auto step = search.step()) {
            ++steps;
            if ((steps & 1023) == 0) peak = std::max<std::uint64_t>(peak, search.frontier_bytes());
            if (step->status == StepStatus::Complete && ++covers == 1) break;
        }
        peak = std::max<std::uint64_t>(peak, search.frontier_bytes());
#ifndef XCOVER_BENCH_BASELINE
        pushed = search.pushed_entries();
#endif
    }
    state.counters["steps"] = static_cast<double>(steps);
    state.counters["covers"] = static_cast<double>(covers);
    state.counters["peak_bytes"] =
        benchmark::Counter(static_cast<double>(peak), benchmark::Counter::kDefaults, benchmark::Counter::OneK::kIs1024);
#ifndef XCOVER_BENCH_BASELINE
    state.counters["pushed"] = static_cast<double>(pushed);
    state.counters["bytes_per_entry"] = static_cast<double>(peak) / static_cast<double>(pushed);
#endif
}

#ifdef XCOVER_BENCH_BASELINE
#define THREADS ->Arg(1)
#else
#define THREADS ->Arg(1)->Arg(2)
#endif

}  // namespace

BENCHMARK(BM_TopN_pent6x10w) THREADS->ArgName("threads")->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_TopNSc_sbm16) THREADS->ArgName("threads")->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_TopP_wgnp30) THREADS->ArgName("threads")->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_TopN1000_wgnp30) THREADS->ArgName("threads")->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_TopN100_pent6x10w) THREADS->ArgName("threads")->Unit(benchmark::kMillisecond)->Iterations(1);
#ifndef XCOVER_BENCH_BASELINE
BENCHMARK(BM_IterTop100_pent6x10w) THREADS->ArgName("threads")->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_IterTop1000_wgnp30) THREADS->ArgName("threads")->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_IterTopSc10_sbm16) THREADS->ArgName("threads")->Unit(benchmark::kMillisecond)->Iterations(2);
#endif
BENCHMARK(BM_GetAll_pent6x10) THREADS->ArgName("threads")->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_CountAll_langford12) THREADS->ArgName("threads")->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_GetAll_sudoku16) THREADS->ArgName("threads")->Unit(benchmark::kMillisecond)->Iterations(5);
#ifndef XCOVER_BENCH_BASELINE
// The share of steps whose expansion came from a helper, on a driven get_topn(pent6x10w).
void BM_Ahead_pent6x10w(benchmark::State& state) {
    const auto& inst = ranked("pent6x10w");
    const BlockList list = BlockList::from(inst.blocks);
    ThreadPool* pool = pool_for(static_cast<unsigned>(state.range(0)));
    AvgSearch::AheadCounts counts;
    std::uint64_t by_helpers = 0;
    timespec p0{}, p1{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &p0);
    for (auto _ : state) {
        AvgSearch search = build_avg_search(list, inst.weights, SearchCaps{30'000, std::nullopt}, nullptr, pool);
        while (search.step()) {}
        counts = search.ahead_counts();
        by_helpers = search.helper_expansions();
    }
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &p1);
    state.counters["by_helpers"] = static_cast<double>(by_helpers);
    state.counters["process_cpu_s"] = static_cast<double>(p1.tv_sec - p0.tv_sec) + 1e-9 * static_cast<double>(p1.tv_nsec - p0.tv_nsec);
    state.counters["taken"] = static_cast<double>(counts.taken);
    state.counters["redone"] = static_cast<double>(counts.redone);
    state.counters["here"] = static_cast<double>(counts.here);
}
BENCHMARK(BM_Ahead_pent6x10w)->Arg(2)->ArgName("threads")->Unit(benchmark::kMillisecond)->Iterations(1);
#endif
BENCHMARK(BM_Memory_sbm24)->Arg(1)->ArgName("threads")->Unit(benchmark::kMillisecond)->Iterations(1);

BENCHMARK_MAIN();
