// Engine benchmarks. Each production search is timed next to a floor measured in the same
// run; compare the two lines of an instance.
#include <benchmark/benchmark.h>

#include "algorithms/knuth_x/algos/get_all.hpp"
#include "dlx_floor.hpp"
#include "instances.hpp"

using namespace xcover;

namespace {

void get_all_on(benchmark::State& state, const bench::Blocks& blocks) {
    const BlockList list = BlockList::from(blocks);
    std::uint64_t covers = 0;
    for (auto _ : state) {
        CoverList result = get_all(list);
        covers = result.size();
        benchmark::DoNotOptimize(result);
    }
    state.counters["covers"] = static_cast<double>(covers);
    state.counters["covers_per_s"] =
        benchmark::Counter(static_cast<double>(covers), benchmark::Counter::kIsIterationInvariantRate);
}

void floor_on(benchmark::State& state, const bench::Blocks& blocks) {
    std::uint64_t covers = 0;
    for (auto _ : state) {
        covers = bench::dlx_floor_count(blocks);
        benchmark::DoNotOptimize(covers);
    }
    state.counters["covers"] = static_cast<double>(covers);
    state.counters["covers_per_s"] =
        benchmark::Counter(static_cast<double>(covers), benchmark::Counter::kIsIterationInvariantRate);
}

void BM_GetAll_Pentomino6x10(benchmark::State& s) { get_all_on(s, bench::pentomino_blocks(6, 10)); }
void BM_Floor_Pentomino6x10(benchmark::State& s) { floor_on(s, bench::pentomino_blocks(6, 10)); }
void BM_GetAll_Langford11(benchmark::State& s) { get_all_on(s, bench::langford_blocks(11)); }
void BM_Floor_Langford11(benchmark::State& s) { floor_on(s, bench::langford_blocks(11)); }

}  // namespace

BENCHMARK(BM_GetAll_Pentomino6x10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Floor_Pentomino6x10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetAll_Langford11)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Floor_Langford11)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
