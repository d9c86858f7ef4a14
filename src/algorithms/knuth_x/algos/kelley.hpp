// Maximizing a concave function of a few variables over a box by cutting planes (Kelley).
//
// The function is known only through an oracle that returns its value and a supergradient at
// a point. Every evaluation adds a cut (the tangent plane, which lies above the function);
// the next point maximizes the lowest cut over the box, a small linear program solved here by
// a dense simplex. The maximum of the cuts bounds the function's maximum from above, so the
// loop stops when that bound is within `tolerance` of the best value seen, or after
// `max_evaluations`. Whatever happens, the result is the best value the oracle returned and
// the point where it did: a caller that needs a value of the function (a lower bound built
// from any point, say) never depends on the linear program's accuracy.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace xcover {

struct KelleyOptions {
    int max_evaluations = 40;
    double tolerance = 1e-3;
    int max_cuts = 24;  // the slackest cut is dropped beyond this
};

class Kelley {
public:
    // `oracle(y, grad)` returns f(y) and writes a supergradient into grad (same size as y).
    // `start` is clamped into [lo, hi]. Returns the best value; best_point() is its point.
    template <class Oracle>
    double maximize(Oracle&& oracle, std::span<const double> start, std::span<const double> lo,
                    std::span<const double> hi, const KelleyOptions& options) {
        begin(start, lo, hi);
        for (int evaluation = 0; evaluation < options.max_evaluations; ++evaluation) {
            const double value = oracle(std::span<const double>(point_), std::span<double>(grad_));
            if (!record(value, options)) break;
        }
        return best_;
    }

    const std::vector<double>& best_point() const noexcept { return best_point_; }
    int evaluations() const noexcept { return evaluations_; }

private:
    void begin(std::span<const double> start, std::span<const double> lo, std::span<const double> hi);
    // Adds the cut at point_ and moves point_ to the next trial point; false to stop.
    bool record(double value, const KelleyOptions& options);
    // Maximizes the lowest cut over the box: the new point_ and the model's maximum.
    double solve_master();
    void drop_slackest_cut();

    std::uint64_t n_ = 0;
    std::vector<double> lo_, hi_;
    std::vector<double> point_, grad_;
    std::vector<double> best_point_;
    double best_ = 0.0;
    int evaluations_ = 0;
    // Cut i: t <= offset_[i] + slope_[i] . y
    std::vector<double> offset_;
    std::vector<double> slope_;  // n_ per cut
    std::vector<double> tableau_;
    std::vector<std::uint64_t> basis_;
};

}  // namespace xcover
