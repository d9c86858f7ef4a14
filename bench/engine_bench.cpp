// Engine benchmarks on the six instances of bench/instances: for each, the production
// get_all and count_all (engine only, no Python) and the floor (bench/dlx_floor.cpp) in both
// of its layouts, in the same run. Compare GetAll/<instance> and CountAll/<instance> with
// Floor/<instance> (the textbook L/R/U/D layout, the faster one); FloorDLX1/<instance> is
// Knuth's DLX1 layout. CountSeeded/<instance> counts with the seeded branch order
// (DepthFirstSearch::order_branches): its cost over CountAll/<instance> is what iter_all's
// seed= costs.
//
// Every run's cover count is checked against the instance's `expected`; a wrong count
// prints a MISMATCH line on stderr and labels the benchmark. Speed never fails anything.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "algorithms/knuth_x/algos/depth_first/get_all.hpp"
#include "algorithms/knuth_x/search/depth_first.hpp"
#include "dlx_floor.hpp"
#include "instances.hpp"

using namespace xcover;

namespace {

struct Tally {
    std::uint64_t covers = 0;
    std::uint64_t indices = 0;  // block indices over all covers
};

// The get_all call of this file (count_all_on below calls count_all).
Tally run_get_all(const BlockList& partitions) {
    const CoverList covers = get_all(partitions);
    return Tally{covers.size(), covers.total_items()};
}

void check(benchmark::State& state, const bench::Instance& inst, const char* what, std::uint64_t covers) {
    if (covers == inst.expected) return;
    std::fprintf(stderr, "!!! MISMATCH !!! %s on %s: %llu covers, expected %llu\n", what, inst.name.c_str(),
                 static_cast<unsigned long long>(covers), static_cast<unsigned long long>(inst.expected));
    state.SetLabel("MISMATCH: " + std::to_string(covers) + " covers, expected " + std::to_string(inst.expected));
}

void set_counters(benchmark::State& state, std::uint64_t covers) {
    state.counters["covers"] = static_cast<double>(covers);
    state.counters["covers_per_s"] =
        benchmark::Counter(static_cast<double>(covers), benchmark::Counter::kIsIterationInvariantRate);
}

void get_all_on(benchmark::State& state, const bench::Instance& inst) {
    const BlockList list = BlockList::from(inst.blocks);
    Tally t;
    for (auto _ : state) {
        t = run_get_all(list);
        benchmark::DoNotOptimize(t);
        check(state, inst, "get_all", t.covers);
    }
    set_counters(state, t.covers);
    state.counters["indices"] = static_cast<double>(t.indices);
}

void count_all_on(benchmark::State& state, const bench::Instance& inst) {
    const BlockList list = BlockList::from(inst.blocks);
    std::uint64_t covers = 0;
    for (auto _ : state) {
        covers = count_all(list);
        benchmark::DoNotOptimize(covers);
        check(state, inst, "count_all", covers);
    }
    set_counters(state, covers);
}

void count_seeded_on(benchmark::State& state, const bench::Instance& inst) {
    const BlockList list = BlockList::from(inst.blocks);
    std::uint64_t covers = 0;
    for (auto _ : state) {
        DepthFirstSearch search(list);
        search.order_branches(1);
        covers = 0;
        while (search.next()) ++covers;
        benchmark::DoNotOptimize(covers);
        check(state, inst, "seeded count", covers);
    }
    set_counters(state, covers);
}

void floor_on(benchmark::State& state, const bench::Instance& inst, bench::FloorLayout layout) {
    bench::FloorCount f;
    for (auto _ : state) {
        f = bench::dlx_floor_count(inst.blocks, layout);
        benchmark::DoNotOptimize(f);
        check(state, inst, layout == bench::FloorLayout::Dlx1 ? "floor (DLX1 layout)" : "floor (LRUD layout)",
              f.covers);
    }
    set_counters(state, f.covers);
    state.counters["nodes"] = static_cast<double>(f.nodes);
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    std::vector<bench::Instance> instances;
    for (const std::string& name : bench::instance_names()) instances.push_back(bench::load_instance(name));
    for (const bench::Instance& inst : instances) {
        const bench::Instance* p = &inst;
        benchmark::RegisterBenchmark(("GetAll/" + inst.name).c_str(),
                                     [p](benchmark::State& s) { get_all_on(s, *p); })
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("CountAll/" + inst.name).c_str(),
                                     [p](benchmark::State& s) { count_all_on(s, *p); })
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("CountSeeded/" + inst.name).c_str(),
                                     [p](benchmark::State& s) { count_seeded_on(s, *p); })
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("Floor/" + inst.name).c_str(),
                                     [p](benchmark::State& s) { floor_on(s, *p, bench::FloorLayout::Lrud); })
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("FloorDLX1/" + inst.name).c_str(),
                                     [p](benchmark::State& s) { floor_on(s, *p, bench::FloorLayout::Dlx1); })
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
