// split next to count_all and get_all (the same tree walked once) and to the passes replaying every path
// from the root (tests/reference/split_passes.hpp, what split did before), in the same run:
//
// - Chain/<levels>: <levels> forced levels (one candidate each) before a branch into three,
//   split into 2 parts;
// - AllLeaves/<instance>: split with parts = 2^64 - 1 on a bench instance, which expands the
//   whole tree and returns every cover;
// - Parts/<instance>/<parts>: split into a few thousand parts.
// split runs its passes and, past some work, the level-counting walks beside them; the rows
// "passes alone" and "level walks alone" show each side on its own.
//
// Rows labelled "before" run the reference; its chain row runs once (seconds).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "algorithms/knuth_x/algos/depth_first/get_all.hpp"
#include "algorithms/knuth_x/algos/depth_first/split.hpp"
#include "algorithms/knuth_x/algos/depth_first/split_levels.hpp"
#include "instances.hpp"
#include "reference/split_passes.hpp"

using namespace xcover;

namespace {

BlockList forced_then_branch(std::uint64_t length) {
    std::vector<std::vector<std::uint64_t>> blocks;
    for (std::uint64_t i = 0; i < length; ++i) blocks.push_back({2 * i, 2 * i + 1});
    for (int k = 0; k < 3; ++k) blocks.push_back({std::uint64_t{1} << 40});
    return BlockList::from(blocks);
}

enum Way : int { kSplit, kBefore, kCountAll, kPasses, kWalks, kGetAll };

const char* way_name(Way way) {
    switch (way) {
        case kSplit: return "after: split";
        case kBefore: return "before: passes replaying paths";
        case kCountAll: return "count_all";
        case kPasses: return "split's passes alone";
        case kWalks: return "split's level walks alone";
        case kGetAll: return "get_all";
    }
    return "";
}

std::uint64_t run_way(Way way, const BlockList& list, std::uint64_t parts) {
    switch (way) {
        case kSplit: return split(list, parts).size();
        case kBefore: return reference::split_passes(list, parts).size();
        case kCountAll: return count_all(list);
        case kPasses: return split_racing(list, parts, {}, nullptr, UINT64_MAX).size();
        case kWalks: return split_by_levels(list, parts, {}).size();
        case kGetAll: return get_all(list).size();
    }
    return 0;
}

void BM_SplitChain(benchmark::State& state) {
    const Way way = static_cast<Way>(state.range(0));
    const BlockList list = forced_then_branch(static_cast<std::uint64_t>(state.range(1)));
    std::uint64_t result = 0;
    for (auto _ : state) benchmark::DoNotOptimize(result = run_way(way, list, 2));
    state.counters["result"] = static_cast<double>(result);
    state.SetLabel(way_name(way));
}

void BM_SplitAllLeaves(benchmark::State& state, const std::string& name) {
    const Way way = static_cast<Way>(state.range(0));
    const BlockList list = BlockList::from(bench::load_instance(name).blocks);
    std::uint64_t result = 0;
    for (auto _ : state) benchmark::DoNotOptimize(result = run_way(way, list, UINT64_MAX));
    state.counters["result"] = static_cast<double>(result);
    state.SetLabel(way_name(way));
}

}  // namespace

BENCHMARK(BM_SplitChain)->Args({kCountAll, 40000})->Args({kSplit, 40000})->Args({kSplit, 400000})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SplitChain)->Args({kBefore, 40000})->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SplitAllLeaves, sudoku16, std::string("sudoku16"))
    ->Arg(kCountAll)->Arg(kGetAll)->Arg(kSplit)->Arg(kPasses)->Arg(kWalks)->Arg(kBefore)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SplitAllLeaves, langford12, std::string("langford12"))
    ->Arg(kCountAll)->Arg(kGetAll)->Arg(kSplit)->Arg(kPasses)->Arg(kWalks)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SplitAllLeaves, langford12, std::string("langford12"))
    ->Arg(kBefore)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_SplitParts(benchmark::State& state, const std::string& name) {
    const Way way = static_cast<Way>(state.range(0));
    const std::uint64_t parts = static_cast<std::uint64_t>(state.range(1));
    const BlockList list = BlockList::from(bench::load_instance(name).blocks);
    std::uint64_t result = 0;
    for (auto _ : state) benchmark::DoNotOptimize(result = run_way(way, list, parts));
    state.counters["result"] = static_cast<double>(result);
    state.SetLabel(way_name(way));
}

BENCHMARK_CAPTURE(BM_SplitParts, pent6x10, std::string("pent6x10"))
    ->Args({kSplit, 1000})->Args({kPasses, 1000})->Args({kBefore, 1000})->Args({kSplit, 16})
    ->Args({kBefore, 16})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SplitParts, langford12, std::string("langford12"))
    ->Args({kSplit, 5000})->Args({kPasses, 5000})->Args({kBefore, 5000})->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
