#include "estimate.hpp"

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "../../search/depth_first.hpp"

namespace xcover {

namespace {

// Mean and variance of a stream of nonnegative values (Welford's update: no cancellation on
// large sums). A value beyond the range of a double (+inf) makes the mean and its standard
// error +inf, never NaN: a caller comparing them with a budget sees a search too large.
class RunningMoments {
public:
    void add(double x) {
        ++count_;
        if (std::isinf(x)) infinite_ = true;
        if (infinite_) return;  // inf - inf would poison the sums with NaN
        const double delta = x - mean_;
        mean_ += delta / static_cast<double>(count_);
        squares_ += delta * (x - mean_);
    }
    double mean() const { return infinite_ ? kInfinity : mean_; }
    // The standard error of the mean: +inf for a single value, whose spread is unknown
    // (0 would claim an exact estimate), and once the mean is +inf.
    double stderr_of_mean() const {
        if (count_ < 2 || infinite_) return kInfinity;
        const double n = static_cast<double>(count_);
        return std::sqrt(squares_ / (n - 1) / n);
    }

private:
    static constexpr double kInfinity = std::numeric_limits<double>::infinity();
    std::uint64_t count_ = 0;
    bool infinite_ = false;
    double mean_ = 0;
    double squares_ = 0;
};

struct Probe {
    double covers = 0;
    double nodes = 1;  // the root
};

// A uniform index below `n` (n >= 1), without the bias of a plain modulo.
std::uint64_t uniform_below(std::mt19937_64& random, std::uint64_t n) {
    const std::uint64_t limit = UINT64_MAX - UINT64_MAX % n;
    std::uint64_t draw;
    do draw = random(); while (draw >= limit);
    return draw % n;
}

Probe probe(DepthFirstSearch& search, std::mt19937_64& random, std::vector<std::uint64_t>& branch,
            InterruptPoll& poll) {
    search.reset();
    Probe result;
    double weight = 1;
    for (;;) {
        poll.tick();
        switch (search.branch_blocks(branch)) {
            case DepthFirstSearch::Outcome::Complete:
                result.covers = weight;
                return result;
            case DepthFirstSearch::Outcome::DeadEnd:
                return result;
            case DepthFirstSearch::Outcome::Branch:
                weight *= static_cast<double>(branch.size());
                result.nodes += weight;
                search.step_into(branch[uniform_below(random, branch.size())]);
                break;
        }
    }
}

}  // namespace

TreeEstimate estimate_all(const BlockList& blocks, std::span<const std::uint64_t> include,
                          const SecondaryItems& secondary, std::uint64_t samples,
                          std::uint64_t seed, Interrupt* interrupt) {
    DepthFirstSearch search(blocks, include, interrupt, secondary);
    InterruptPoll poll(interrupt);
    std::mt19937_64 random(seed);
    std::vector<std::uint64_t> branch;
    RunningMoments covers, nodes;
    for (std::uint64_t s = 0; s < samples; ++s) {
        const Probe p = probe(search, random, branch, poll);
        covers.add(p.covers);
        nodes.add(p.nodes);
    }
    search.reset();
    return TreeEstimate{covers.mean(), nodes.mean(), covers.stderr_of_mean(), nodes.stderr_of_mean()};
}

}  // namespace xcover
