#include "get_topp.hpp"

#include <cmath>
#include <limits>

#include "get_top.hpp"

namespace xcover {

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

double running_max(double m, double x) {
    if (std::isnan(m) || std::isnan(x)) return kNaN;
    return m > x ? m : x;
}

double finish(double m, double w, double s) {
    const double q = s == 0 ? s : s / w;
    return m + (std::log(w) + std::log1p(q));
}

// ln(e^L - k) for the log bound L on the number of partitions.
double log_remaining(double log_bound, std::uint64_t k) {
    const double lambda = std::log(static_cast<double>(k));
    if (std::isnan(log_bound) || lambda > log_bound) return kNaN;
    if (lambda == log_bound) return -kInf;
    return std::log1p(-std::exp(lambda - log_bound)) + log_bound;
}

}  // namespace

double log_sum_exp(std::vector<double> values) {
    if (values.empty()) return -kInf;
    double m = values[0];
    for (std::size_t i = 1; i < values.size(); ++i) m = running_max(m, values[i]);
    double w = -0.0;
    for (double& x : values) {
        if (x == m) {
            w += 1.0;
            x = -kInf;
        }
    }
    const double c = std::isfinite(m) ? m : 0.0;
    double s = -0.0;
    for (double x : values) s += std::exp(x - c);
    return finish(m, w, s);
}

void RunningLogSumExp::recompute() {
    max_ = values_[0];
    for (std::size_t i = 1; i < values_.size(); ++i) max_ = running_max(max_, values_[i]);
    count_at_max_ = -0.0;
    sum_ = -0.0;
    const double c = std::isfinite(max_) ? max_ : 0.0;
    for (double x : values_) {
        if (x == max_) {
            count_at_max_ += 1.0;
            sum_ += std::exp(-kInf - c);
        } else {
            sum_ += std::exp(x - c);
        }
    }
}

void RunningLogSumExp::push(double x) {
    values_.push_back(x);
    if (values_.size() == 1) {
        recompute();
        return;
    }
    const double m = running_max(max_, x);
    // The maximum keeps its value (a NaN maximum stays NaN): one more term at the end.
    if (m == max_ || (std::isnan(m) && std::isnan(max_))) {
        max_ = m;
        const double c = std::isfinite(max_) ? max_ : 0.0;
        if (x == max_) {
            count_at_max_ += 1.0;
            sum_ += std::exp(-kInf - c);
        } else {
            sum_ += std::exp(x - c);
        }
        return;
    }
    recompute();
}

double RunningLogSumExp::value() const {
    if (values_.empty()) return -kInf;
    return finish(max_, count_at_max_, sum_);
}

Covers get_topp(const BlockList& partitions, std::vector<double> weights, double alpha,
                SearchCaps caps) {
    if (!std::isfinite(alpha) || std::signbit(alpha) || alpha > 1.0) return {};

    const double count = static_cast<double>(count_distinct_elements(partitions));
    const double log_bound = std::log(count * 0.792 / std::log(count + 1.0)) * count;

    AvgSearch search = build_ordered_search(partitions, std::move(weights), caps);
    const double log_alpha = std::log(alpha);
    RunningLogSumExp seen;  // over -s for every partition returned
    double last_sum = 0.0;
    Covers covers;
    for (;;) {
        const std::uint64_t k = covers.size();
        const double x = k == 0 ? 0.0 : log_remaining(log_bound, k) - last_sum;
        const double y = seen.value();
        const double z = log_sum_exp({x, y});
        if (!(x - z > log_alpha)) break;

        bool found = false;
        while (auto step = search.step()) {
            if (step->status != StepStatus::Complete) continue;
            covers.push_back(step->rows);
            last_sum = step->weight_sum;
            seen.push(-last_sum);
            found = true;
            break;
        }
        if (!found) break;
    }
    return covers;
}

}  // namespace xcover
