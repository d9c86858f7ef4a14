// A one-off check of the ranked block-count stream: scores every exact cover of an instance
// and compares the best ones with the stream's first covers. Not run by `make bench` (sbm24
// has 559,735,037 covers); run it by hand:
//   ./build/sc_exhaustive sbm24 [threads=2] [top=10]
//
// The covers are split among threads by the block chosen at the first level of the search
// (DepthFirstSearch with include = {that block} walks exactly those covers). Each thread
// scores with the model's formula from tables and keeps its best `top` covers; the kept
// ones are then rescored with BlockCountModel::score (to the bit) and listed next to the
// stream's.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <queue>
#include <thread>
#include <vector>

#include "algorithms/knuth_x/algos/block_count/block_count.hpp"
#include "algorithms/knuth_x/algos/numeric/ln_gamma.hpp"
#include "algorithms/knuth_x/algos/block_count/top_sc_stream.hpp"
#include "algorithms/knuth_x/search/depth_first.hpp"
#include "sc_instances.hpp"

using namespace xcover;

namespace {

struct Scored {
    double score;
    std::vector<std::uint64_t> blocks;
    bool operator<(const Scored& other) const { return score < other.score; }
};

struct Tally {
    std::uint64_t covers = 0;
    std::priority_queue<Scored> best;  // the worst kept on top
};

class FastScore {
public:
    explicit FastScore(const BlockCountInputs& in) : in_(in) {
        for (std::uint64_t i = 0; i < 256; ++i) ln_fact_.push_back(ln_gamma(static_cast<double>(i + 1)));
        for (std::uint64_t r = 0; r <= in.edge_total; ++r) edges_.push_back(edge_term(r));
    }
    double operator()(std::span<const std::uint64_t> cover) {
        double w = -0.0;
        std::uint64_t inside = 0;
        labels_.clear();
        for (std::uint64_t b : cover) {
            w += in_.weights[b];
            inside += in_.edge_counts[b];
            auto it = std::find_if(labels_.begin(), labels_.end(), [&](const auto& p) { return p.first == in_.labels[b]; });
            if (it == labels_.end()) labels_.push_back({in_.labels[b], 1});
            else ++it->second;
        }
        double label = 0.0;
        for (const auto& [l, c] : labels_) label += ln_fact_.at(c);
        label -= ln_fact_.at(cover.size());
        const std::uint64_t r = in_.edge_total - inside;
        return w + label + (r < edges_.size() ? edges_[r] : edge_term(r));
    }

private:
    const BlockCountInputs& in_;
    std::vector<double> ln_fact_, edges_;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> labels_;
};

void walk(const bench::ScInstance& inst, const std::vector<std::uint64_t>& firsts, std::uint64_t top, Tally& tally) {
    FastScore fast(inst.inputs);
    for (std::uint64_t first : firsts) {
        const std::uint64_t include[1] = {first};
        DepthFirstSearch search(inst.blocks, include);
        while (search.next()) {
            ++tally.covers;
            const auto cover = search.cover();
            const double s = fast(cover);
            if (tally.best.size() < top || s < tally.best.top().score + 1e-9) {
                tally.best.push(Scored{s, std::vector<std::uint64_t>(cover.begin(), cover.end())});
                while (tally.best.size() > 4 * top) tally.best.pop();
            }
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: sc_exhaustive INSTANCE [threads] [top]\n");
        return 2;
    }
    const bench::ScInstance inst = bench::load_sc_instance(argv[1]);
    const std::uint64_t threads = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 2;
    const std::uint64_t top = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 10;
    const auto t0 = std::chrono::steady_clock::now();

    // The blocks of the first branch column, dealt to the threads in turn.
    Problem problem = build_problem(inst.blocks);
    const std::uint64_t column = problem.links.choose_column();
    std::vector<std::vector<std::uint64_t>> share(threads);
    std::uint64_t k = 0;
    for (std::uint64_t i = problem.links.down(column); i != column; i = problem.links.down(i))
        share[k++ % threads].push_back(problem.links.block_of(i));
    std::vector<Tally> tallies(threads);
    std::vector<std::thread> pool;
    for (std::uint64_t t = 0; t < threads; ++t)
        pool.emplace_back([&, t] { walk(inst, share[t], top, tallies[t]); });
    for (auto& th : pool) th.join();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();

    std::uint64_t covers = 0;
    std::vector<Scored> kept;
    BlockCountModel model(inst.blocks, inst.inputs);
    for (auto& tally : tallies) {
        covers += tally.covers;
        for (; !tally.best.empty(); tally.best.pop()) {
            Scored s = tally.best.top();
            s.score = model.score(s.blocks);
            kept.push_back(std::move(s));
        }
    }
    std::stable_sort(kept.begin(), kept.end());
    std::printf("%s: %llu covers scored in %.1f s on %llu threads\n", argv[1], static_cast<unsigned long long>(covers),
                seconds, static_cast<unsigned long long>(threads));

    TopScStream stream(inst.blocks, inst.inputs, {}, {});
    bool same = true;
    for (std::uint64_t i = 0; i < top && i < kept.size(); ++i) {
        auto ranked = stream.next();
        if (!ranked) break;
        const bool match = ranked->score == kept[i].score;
        same = same && match;
        std::printf("%2llu exhaustive %.12f stream %.12f %s\n", static_cast<unsigned long long>(i + 1), kept[i].score,
                    ranked->score, match ? "same" : "DIFFERENT");
    }
    std::printf(same ? "the stream's first scores are the exhaustive best\n" : "MISMATCH\n");
    return same ? 0 : 1;
}
