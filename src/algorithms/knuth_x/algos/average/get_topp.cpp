#include "get_topp.hpp"

#include <cmath>
#include <optional>
#include <utility>
#include <vector>

#include "../../links/element_index.hpp"
#include "../../numbers.hpp"
#include "get_top.hpp"
#include "../numeric/log_sum_exp.hpp"

namespace xcover {

namespace {

// The Bell number B(k) of k elements (the number of partitions of a k-set) is bounded by
// (0.792 k / ln(k + 1))^k (Berend and Tassa); its log bounds the log of the number of covers.
constexpr double kBellBoundFactor = 0.792;

double log_bell_bound(double k) { return std::log(k * kBellBoundFactor / std::log(k + 1.0)) * k; }

// ln(e^L - k) for the log bound L on the number of covers.
double log_remaining(double log_bound, std::uint64_t k) {
    const double lambda = std::log(static_cast<double>(k));
    if (std::isnan(log_bound) || lambda > log_bound) return kNaN;
    if (lambda == log_bound) return -kInf;
    return std::log1p(-std::exp(lambda - log_bound)) + log_bound;
}

// The covers of `search` in order until the unseen share of the probability is at most alpha.
template <class Search>
CoverList covers_until(Search& search, double log_bound, double alpha) {
    const double log_alpha = std::log(alpha);
    RunningLogSumExp seen;  // over -s for every cover returned
    double last_sum = 0.0;
    CoverList covers;
    for (;;) {
        const std::uint64_t k = covers.size();
        const double x = k == 0 ? 0.0 : log_remaining(log_bound, k) - last_sum;
        const double y = seen.value();
        const double z = log_sum_exp({x, y});
        if (!(x - z > log_alpha)) break;

        bool found = false;
        while (auto step = search.step()) {
            if (step->status != StepStatus::Complete) continue;
            covers.push_list(step->blocks);
            last_sum = step->weight_sum;
            seen.push(-last_sum);
            found = true;
            break;
        }
        if (!found) break;
    }
    return covers;
}

// Replayed covers (replay_cutoff_search) as the steps of a search that reports them.
class ListedCovers {
public:
    struct Step {
        const std::vector<std::uint64_t>& blocks;
        double weight_sum;
        StepStatus status;
    };
    ListedCovers(CoverList covers, std::vector<double> sums) : covers_(std::move(covers)), sums_(std::move(sums)) {}
    std::optional<Step> step() {
        if (next_ == covers_.size()) return std::nullopt;
        blocks_.assign(covers_[next_].begin(), covers_[next_].end());
        return Step{blocks_, sums_.at(next_++), StepStatus::Complete};
    }

private:
    CoverList covers_;
    std::vector<double> sums_;
    std::uint64_t next_ = 0;
    std::vector<std::uint64_t> blocks_;
};

}  // namespace

CoverList get_topp(const BlockList& blocks, std::vector<double> weights, double alpha,
                   SearchCaps caps, Interrupt* interrupt, ThreadPool* pool) {
    if (!std::isfinite(alpha) || std::signbit(alpha) || alpha > 1.0) return {};

    const double log_bound = log_bell_bound(static_cast<double>(count_distinct_elements(blocks, interrupt)));
    // Without caps, a search with a cutoff for all covers lists them in the same order, so
    // the rule stops at the same one. (The rule ends the list long before the last cover
    // only when costs spread over about the log of the number of covers; no cutoff for the
    // first n is drawn from it.)
    if (alpha < 1.0 && !caps.max_iter && !caps.max_heap)
        if (auto candidates = cutoff_candidates(blocks, weights, UINT64_MAX, interrupt, pool)) {
            std::vector<double> sums;
            if (auto covers = replay_cutoff_search(blocks, weights, candidates, UINT64_MAX, interrupt, &sums)) {
                ListedCovers listed(std::move(*covers), std::move(sums));
                return covers_until(listed, log_bound, alpha);
            }
            CutoffAvgSearch search = build_cutoff_search(blocks, std::move(weights), std::move(candidates), interrupt, pool);
            return covers_until(search, log_bound, alpha);
        }
    AvgSearch search = build_avg_search(blocks, std::move(weights), caps, interrupt, pool);
    return covers_until(search, log_bound, alpha);
}

}  // namespace xcover
