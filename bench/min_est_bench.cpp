// The set-up of get_topn_sc: the block-count bound table (build_min_est) next to the plain
// quadratic fold it replaces (tests/reference/min_est_quadratic.hpp), in the same run, and
// the whole model set-up (build_block_count_search, no step taken) on the largest inputs.
//
// Inputs: n singleton blocks (one distinct element each) with weight 1.0 (exact sums: the
// knapsack) or a random real weight per block (the pairwise fold: no shortcut keeps the bits,
// so it stays quadratic, with a smaller constant); and many distinct sizes (blocks of every
// size 1..1000, weights growing like the square root of the size, where an entry's own
// weight undercuts every pair sum, or integer weights, where the sums are exact).
//
// The reference runs only where it ends in seconds; its row is labelled "before".
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "algorithms/knuth_x/algos/block_count/get_topn_sc.hpp"
#include "algorithms/knuth_x/algos/block_count/min_est.hpp"
#include "reference/min_est_quadratic.hpp"

using namespace xcover;

namespace {

struct Table {
    std::vector<std::uint64_t> sizes;
    std::vector<double> weights;
    std::uint64_t elements = 0;
};

enum Kind : int { kSingletonsUnit, kSingletonsReal, kManySizesSqrt, kManySizesInteger };

Table make_table(Kind kind, std::uint64_t n) {
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> real(0.05, 3.0);
    Table t;
    t.elements = n;
    if (kind == kSingletonsUnit || kind == kSingletonsReal) {
        t.sizes.assign(n, 1);
        for (std::uint64_t i = 0; i < n; ++i) t.weights.push_back(kind == kSingletonsUnit ? 1.0 : real(rng));
        return t;
    }
    for (std::uint64_t i = 0; i < n; ++i) t.sizes.push_back(1);  // every element coverable alone
    for (std::uint64_t i = 0; i < n; ++i) t.weights.push_back(kind == kManySizesSqrt ? 2.0 : 3.0);
    for (std::uint64_t s = 2; s <= 1000 && s <= n; ++s) {
        t.sizes.push_back(s);
        t.weights.push_back(kind == kManySizesSqrt ? std::sqrt(static_cast<double>(s)) * real(rng)
                                                   : static_cast<double>(2 * s - rng() % s));
    }
    return t;
}

const char* kind_name(Kind kind) {
    switch (kind) {
        case kSingletonsUnit: return "singletons, weight 1";
        case kSingletonsReal: return "singletons, real weights";
        case kManySizesSqrt: return "sizes 1..1000, sqrt weights";
        case kManySizesInteger: return "sizes 1..1000, integer weights";
    }
    return "";
}

void run(benchmark::State& state, bool before) {
    const Kind kind = static_cast<Kind>(state.range(0));
    const Table t = make_table(kind, static_cast<std::uint64_t>(state.range(1)));
    double last = 0;
    for (auto _ : state) {
        const auto table = before ? reference::min_est_quadratic(t.sizes, t.weights, t.elements)
                                  : build_min_est(t.sizes, t.weights, t.elements);
        last = table.back();
        benchmark::DoNotOptimize(table.data());
    }
    state.counters["last_entry"] = last;
    state.SetLabel(std::string(before ? "before: " : "after: ") + kind_name(kind));
}

void BM_MinEst(benchmark::State& state) { run(state, false); }
void BM_MinEstQuadratic(benchmark::State& state) { run(state, true); }

// The model set-up of get_topn_sc on n singletons, up to the root's score.
void BM_TopNScSetUp(benchmark::State& state) {
    const Kind kind = static_cast<Kind>(state.range(0));
    const std::uint64_t n = static_cast<std::uint64_t>(state.range(1));
    const Table t = make_table(kind, n);
    std::vector<std::vector<std::uint64_t>> blocks;
    for (std::uint64_t i = 0; i < n; ++i) blocks.push_back({i});
    const BlockList list = BlockList::from(blocks);
    for (auto _ : state) {
        BlockCountInputs inputs{t.weights, std::vector<std::uint64_t>(n, 0), 0,
                                std::vector<std::uint64_t>(n, 1), n};
        BlockCountSearch search = build_block_count_search(list, std::move(inputs), {});
        benchmark::DoNotOptimize(search.frontier_size());
    }
    state.SetLabel(std::string("after: ") + kind_name(kind));
}

}  // namespace

BENCHMARK(BM_MinEstQuadratic)->Args({kSingletonsUnit, 100000})->Args({kSingletonsReal, 100000})
    ->Args({kManySizesSqrt, 100000})->Args({kManySizesInteger, 100000})
    ->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MinEst)->Args({kSingletonsUnit, 100000})->Args({kSingletonsReal, 100000})
    ->Args({kManySizesSqrt, 100000})->Args({kManySizesInteger, 100000})
    ->Args({kSingletonsUnit, 1000000})->Args({kManySizesInteger, 1000000})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TopNScSetUp)->Args({kSingletonsUnit, 100000})->Args({kSingletonsUnit, 1000000})
    ->Args({kSingletonsReal, 100000})->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
