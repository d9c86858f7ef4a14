// Benchmarks of inputs that must not be slow for the wrong reason:
//   Singletons/N      get_all on N disjoint one-element blocks (one cover of N blocks): each
//                     doubling of N should cost about twice as much, not four times.
//   LabelCounts/...   get_topn_sc where every label is a multiple of one prime (keys that an
//                     unseeded modulo hash puts in one bucket) against random labels.
//   Poll/...          get_all on langford12 without an interrupt, and with one that reads the
//                     clock at every poll as the module's signal check does: the polling cost.
// Figures only; compare the lines of a group.
#include <benchmark/benchmark.h>

#include <chrono>
#include <random>
#include <vector>

#include "algorithms/knuth_x/algos/depth_first/get_all.hpp"
#include "algorithms/knuth_x/algos/block_count/get_topn_sc.hpp"
#include "instances.hpp"

using namespace xcover;

namespace {

BlockList singletons(std::uint64_t n) {
    BlockList list;
    for (std::uint64_t i = 0; i < n; ++i) list.push_list(std::vector<std::uint64_t>{i});
    return list;
}

void BM_Singletons(benchmark::State& state) {
    const BlockList list = singletons(static_cast<std::uint64_t>(state.range(0)));
    for (auto _ : state) {
        CoverList covers = get_all(list);
        benchmark::DoNotOptimize(covers.all_items().data());
    }
    state.counters["blocks"] = static_cast<double>(state.range(0));
}

// get_topn_sc(n=1) on singletons: every child's score counts the labels of its blocks.
void label_counts(benchmark::State& state, std::vector<std::uint64_t> labels) {
    const std::uint64_t n = labels.size();
    const BlockList list = singletons(n);
    BlockCountInputs inputs;
    inputs.weights.assign(n, 1.0);
    inputs.edge_counts.assign(n, 0);
    inputs.labels = std::move(labels);
    inputs.vertex_total = n;
    for (auto _ : state) {
        CoverList covers = get_topn_sc(list, inputs, 1, {});
        benchmark::DoNotOptimize(covers.all_items().data());
    }
}

constexpr std::uint64_t kLabelBlocks = 1500;

void BM_LabelCounts_Random(benchmark::State& state) {
    std::mt19937_64 rng(1);
    std::vector<std::uint64_t> labels(kLabelBlocks);
    for (auto& l : labels) l = rng();
    label_counts(state, labels);
}

void BM_LabelCounts_MultiplesOfPrime(benchmark::State& state) {
    // 1741 is one of the bucket counts a standard unordered_map steps through.
    std::vector<std::uint64_t> labels(kLabelBlocks);
    for (std::uint64_t i = 0; i < kLabelBlocks; ++i) labels[i] = i * 1741;
    label_counts(state, labels);
}

class ClockInterrupt : public Interrupt {
public:
    bool requested() override {
        last_ = std::chrono::steady_clock::now();
        return false;
    }

private:
    std::chrono::steady_clock::time_point last_;
};

void poll(benchmark::State& state, bool with_interrupt) {
    const BlockList list = BlockList::from(bench::load_instance("langford12").blocks);
    ClockInterrupt interrupt;
    for (auto _ : state) {
        CoverList covers = get_all(list, {}, with_interrupt ? &interrupt : nullptr);
        benchmark::DoNotOptimize(covers.all_items().data());
    }
}

void BM_Poll_None(benchmark::State& state) { poll(state, false); }
void BM_Poll_Clock(benchmark::State& state) { poll(state, true); }

}  // namespace

BENCHMARK(BM_Singletons)->RangeMultiplier(2)->Range(15625, 1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LabelCounts_Random)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LabelCounts_MultiplesOfPrime)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Poll_None)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK(BM_Poll_Clock)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();

BENCHMARK_MAIN();
