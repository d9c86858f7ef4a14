#include "log_sum_exp.hpp"

#include <cmath>
#include "../../numbers.hpp"

namespace xcover {

namespace {

double running_max(double m, double x) {
    if (std::isnan(m) || std::isnan(x)) return kNaN;
    return m > x ? m : x;
}

double finish(double m, double w, double s) {
    const double q = s == 0 ? s : s / w;
    return m + (std::log(w) + std::log1p(q));
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
    for (double x : values_) add_term(x);
}

// One more term, at the end of the fold: an entry equal to the maximum is counted and adds
// exp(-inf) in its place, as the batch fold does.
void RunningLogSumExp::add_term(double x) {
    const double c = std::isfinite(max_) ? max_ : 0.0;
    if (x == max_) {
        count_at_max_ += 1.0;
        sum_ += std::exp(-kInf - c);
    } else {
        sum_ += std::exp(x - c);
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
        add_term(x);
        return;
    }
    recompute();
}

double RunningLogSumExp::value() const {
    if (values_.empty()) return -kInf;
    return finish(max_, count_at_max_, sum_);
}

}  // namespace xcover
