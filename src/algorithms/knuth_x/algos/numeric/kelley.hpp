// Maximizing a concave function of a few variables over a box by cutting planes (Kelley).
//
// The function is known only through an oracle that returns its value and a supergradient at
// a point. Every evaluation adds a cut (the tangent plane, which lies above the function);
// the next point maximizes the lowest cut over the box, a small linear program solved here by
// a dense simplex. The maximum of the cuts bounds the function's maximum from above, so the
// loop stops when that bound is within `tolerance` of the best value seen, after
// `max_evaluations`, or (with `stall`) after that many evaluations in a row that gain less
// than `tolerance` (near the maximum the cuts take long to certify what is already found). Whatever happens, the result is the best value the oracle returned and
// the point where it did: a caller that needs a value of the function (a lower bound built
// from any point, say) never depends on the linear program's accuracy.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "../../interrupt.hpp"

namespace xcover {

struct KelleyOptions {
    int max_evaluations = 40;
    double tolerance = 1e-3;
    int max_cuts = 24;  // the slackest cut is dropped beyond this
    // Stop after this many evaluations in a row that raise the best value by less than
    // `tolerance` (0: never).
    int stall = 0;
};

class Kelley {
public:
    // `oracle(y, grad)` returns f(y) and writes a supergradient into grad (same size as y).
    // `start` is clamped into [lo, hi]. Returns the best value; best_point() is its point.
    // `stop`, when given, is asked after each evaluation and may end the loop there.
    template <class Oracle>
    double maximize(Oracle&& oracle, std::span<const double> start, std::span<const double> lo,
                    std::span<const double> hi, const KelleyOptions& options, StopCheck* stop = nullptr) {
        begin(start, lo, hi);
        for (int evaluation = 0; evaluation < options.max_evaluations; ++evaluation) {
            const double value = oracle(std::span<const double>(point_), std::span<double>(grad_));
            if (!record(value, options)) break;
            if (stop != nullptr && stop->stop_now(1)) break;
        }
        return best_;
    }

    const std::vector<double>& best_point() const noexcept { return best_point_; }
    int evaluations() const noexcept { return evaluations_; }

private:
    void begin(std::span<const double> start, std::span<const double> lo, std::span<const double> hi);
    // Adds the cut at point_ and moves point_ to the next trial point; false to stop.
    bool record(double value, const KelleyOptions& options);

    // The master problem is solved in its dual form, where every cut is a column:
    //   min sum_i l_i a_i + sum_j (u_j hi_j - v_j lo_j)
    //   s.t. sum_i l_i = 1,  u_j - v_j - sum_i l_i s_ij = 0,  l, u, v >= 0
    // (a_i + s_i . y is cut i). Its simplex prices are (t, y), the master's solution, and a
    // new cut is a new column, so each step of the loop resumes from the last basis with a
    // basis of n + 1 columns. Columns 0..2n-1 are the bounds u_j, v_j; the cuts follow.
    struct Column {
        double cost;
        std::vector<double> entries;  // n + 1
    };
    void add_cut_column(double offset, std::span<const double> slope);
    bool refactor();         // B^-1 and x_B from the basis; false when singular
    bool start_basis();      // the latest cut alone, with the bounds that balance it; false
                             // (and no basis) when it is singular
    void run_simplex();
    void prices();           // pi_ = c_B B^-1
    double model_at(std::span<const double> y) const;  // min over cuts
    void drop_slackest_cut();

    std::uint64_t n_ = 0;
    std::vector<double> lo_, hi_;
    std::vector<double> point_, grad_;
    std::vector<double> best_point_;
    double best_ = 0.0;
    int evaluations_ = 0;
    int stalled_ = 0;
    std::vector<Column> columns_;
    std::vector<std::uint64_t> basis_;  // n + 1 column indices
    std::vector<double> binv_;          // (n + 1)^2, row major
    std::vector<double> xb_, pi_, w_, scratch_;
};

}  // namespace xcover
