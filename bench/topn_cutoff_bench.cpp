// get_topn with its cutoff (no caps) against the plain ordered search (the same call with a
// step cap, which runs the search without the cutoff), in one run, on the ranked instances of
// ../shared/bench-instances/ranked with the integer costs of their DLX copies
// (round(10000 * weight)). Prints one line per instance and n: CPU seconds of each, whether
// the covers are the same, and the n-th cost (for comparison with DLX5's, bench/dlx5_ratio.sh).
//
//   ./build/topn_cutoff_bench [--plain-steps N] [--threads T] [NAME:N ...]
//
// The plain search stops after N steps (default 3,000,000); a plain run that stops there is
// printed as "> seconds" and its covers are not compared. With --threads T above 1, both run
// with a pool of T threads.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "algorithms/knuth_x/algos/average/get_top.hpp"
#include "instances.hpp"

using namespace xcover;

namespace {

double cpu_seconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

double cost_of(std::span<const std::uint64_t> cover, const std::vector<double>& weights) {
    double sum = -0.0;
    for (std::uint64_t b : cover) sum += weights[b];
    return sum;
}

bool same_covers(const CoverList& a, const CoverList& b) {
    if (a.size() != b.size()) return false;
    for (std::uint64_t i = 0; i < a.size(); ++i)
        if (!std::ranges::equal(a[i], b[i])) return false;
    return true;
}

struct Case {
    std::string name;
    std::uint64_t n;
};

std::vector<Case> default_cases() {
    return {{"pent6x10w", 1}, {"pent6x10w", 10}, {"pent6x10w", 100}, {"grid8w", 1},  {"grid8w", 10},
            {"grid8w", 100},  {"grid10w", 1},    {"grid10w", 10},    {"grid10w", 100}, {"wgnp30", 1000},
            {"grid12w", 1}};
}

}  // namespace

int main(int argc, char** argv) {
    std::uint64_t plain_steps = 3'000'000;
    unsigned threads = 1;
    std::vector<Case> cases;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--plain-steps") == 0 && i + 1 < argc) {
            plain_steps = std::strtoull(argv[++i], nullptr, 10);
        } else if (std::strcmp(argv[i], "--threads") == 0 && i + 1 < argc) {
            threads = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
        } else {
            const std::string arg = argv[i];
            const auto colon = arg.find(':');
            cases.push_back({arg.substr(0, colon), colon == std::string::npos ? 1 : std::stoull(arg.substr(colon + 1))});
        }
    }
    if (cases.empty()) cases = default_cases();
    ThreadPool pool(threads);
    ThreadPool* use = threads > 1 ? &pool : nullptr;

    std::printf("%-10s %6s %12s %12s %8s %6s %14s\n", "instance", "n", "cutoff_s", "plain_s", "speedup", "same",
                "nth_cost");
    for (const Case& c : cases) {
        const bench::RankedInstance inst = bench::load_ranked_instance(c.name);
        const BlockList blocks = BlockList::from(inst.blocks);
        // Python's round (halves to even, as the DLX copies were made), which std::round is not:
        // 3 to 11 costs per instance would differ by one, and grid10w's tree with them is 3x smaller.
        std::vector<double> weights;
        for (double w : inst.weights) weights.push_back(std::nearbyint(10000 * w));

        double start = cpu_seconds();
        const CoverList fast = get_topn(blocks, weights, c.n, SearchCaps{}, nullptr, use);
        const double fast_s = cpu_seconds() - start;

        start = cpu_seconds();
        const CoverList plain = get_topn(blocks, weights, c.n, SearchCaps{plain_steps, std::nullopt}, nullptr, use);
        const double plain_s = cpu_seconds() - start;
        const bool finished = plain.size() == fast.size();

        const double nth = fast.empty() ? NAN : cost_of(fast[fast.size() - 1], weights);
        std::printf("%-10s %6llu %12.3f %s%11.3f %8.1f %6s %14.0f\n", c.name.c_str(),
                    static_cast<unsigned long long>(c.n), fast_s, finished ? " " : ">", plain_s, plain_s / fast_s,
                    finished ? (same_covers(plain, fast) ? "yes" : "NO") : "-", nth);
        std::fflush(stdout);
    }
    return 0;
}
