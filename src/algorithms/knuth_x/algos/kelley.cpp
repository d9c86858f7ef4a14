#include "kelley.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "../failure.hpp"

namespace xcover {

namespace {

constexpr double kPivotEps = 1e-11;
constexpr int kMaxPivots = 400;

// Maximizes c . x subject to A x <= b, x >= 0, with b >= 0 (the origin is feasible), on a
// dense tableau of `rows` constraint rows and one objective row; columns are the `vars`
// variables, `rows` slacks and the right-hand side. Dantzig's rule, then Bland's rule once
// the pivots pass a threshold, so degenerate cycles end. Leaves the final tableau and basis;
// stopping at the pivot cap leaves a feasible, perhaps suboptimal, vertex.
void run_simplex(std::vector<double>& t, std::vector<std::uint64_t>& basis, std::uint64_t rows,
                 std::uint64_t vars) {
    const std::uint64_t cols = vars + rows + 1;
    const std::uint64_t rhs = cols - 1;
    double* obj = t.data() + rows * cols;
    for (int pivot = 0; pivot < kMaxPivots; ++pivot) {
        const bool bland = pivot > 60;
        std::uint64_t enter = cols;
        double most = -kPivotEps;
        for (std::uint64_t j = 0; j < rhs; ++j) {
            if (obj[j] < most) {
                enter = j;
                most = obj[j];
                if (bland) break;
            }
        }
        if (enter == cols) return;
        std::uint64_t leave = rows;
        double ratio = std::numeric_limits<double>::infinity();
        for (std::uint64_t i = 0; i < rows; ++i) {
            const double a = t[i * cols + enter];
            if (a <= kPivotEps) continue;
            const double r = t[i * cols + rhs] / a;
            if (r < ratio || (r == ratio && leave < rows && basis[i] < basis[leave])) {
                ratio = r;
                leave = i;
            }
        }
        if (leave == rows) return;  // unbounded: cannot happen with a bounded box
        double* prow = t.data() + leave * cols;
        const double inv = 1.0 / prow[enter];
        for (std::uint64_t j = 0; j < cols; ++j) prow[j] *= inv;
        for (std::uint64_t i = 0; i <= rows; ++i) {
            if (i == leave) continue;
            double* row = t.data() + i * cols;
            const double factor = row[enter];
            if (factor == 0.0) continue;
            for (std::uint64_t j = 0; j < cols; ++j) row[j] -= factor * prow[j];
        }
        basis[leave] = enter;
    }
}

}  // namespace

void Kelley::begin(std::span<const double> start, std::span<const double> lo, std::span<const double> hi) {
    n_ = start.size();
    if (lo.size() != n_ || hi.size() != n_) fail("Kelley: box and start differ in size");
    lo_.assign(lo.begin(), lo.end());
    hi_.assign(hi.begin(), hi.end());
    point_.resize(n_);
    for (std::uint64_t j = 0; j < n_; ++j) point_[j] = std::clamp(start[j], lo_[j], std::max(lo_[j], hi_[j]));
    grad_.assign(n_, 0.0);
    best_point_ = point_;
    best_ = -std::numeric_limits<double>::infinity();
    evaluations_ = 0;
    offset_.clear();
    slope_.clear();
}

bool Kelley::record(double value, const KelleyOptions& options) {
    ++evaluations_;
    if (value > best_ || evaluations_ == 1) {
        best_ = value;
        best_point_ = point_;
    }
    if (!std::isfinite(value)) return false;  // +inf: nothing to improve; NaN: give up
    double offset = value;
    for (std::uint64_t j = 0; j < n_; ++j) {
        if (!std::isfinite(grad_[j])) return false;
        offset -= grad_[j] * point_[j];
    }
    offset_.push_back(offset);
    slope_.insert(slope_.end(), grad_.begin(), grad_.end());
    if (offset_.size() > static_cast<std::uint64_t>(options.max_cuts)) drop_slackest_cut();
    const double upper = solve_master();
    return upper - best_ > options.tolerance;
}

// Variables z_j = y_j - lo_j in [0, hi_j - lo_j] and tau = t + shift >= 0, where the shift makes
// every cut's right-hand side nonnegative at z = 0, tau = 0.
double Kelley::solve_master() {
    const std::uint64_t cuts = offset_.size();
    const std::uint64_t vars = n_ + 1;
    const std::uint64_t rows = cuts + n_;
    const std::uint64_t cols = vars + rows + 1;
    double shift = 0.0;
    for (std::uint64_t i = 0; i < cuts; ++i) {
        double at_lo = offset_[i];
        for (std::uint64_t j = 0; j < n_; ++j) at_lo += slope_[i * n_ + j] * lo_[j];
        shift = std::max(shift, -at_lo);
    }
    shift += 1.0;
    tableau_.assign((rows + 1) * cols, 0.0);
    basis_.resize(rows);
    for (std::uint64_t i = 0; i < cuts; ++i) {
        double* row = tableau_.data() + i * cols;
        double at_lo = offset_[i];
        for (std::uint64_t j = 0; j < n_; ++j) {
            row[j] = -slope_[i * n_ + j];
            at_lo += slope_[i * n_ + j] * lo_[j];
        }
        row[n_] = 1.0;
        row[vars + i] = 1.0;
        row[cols - 1] = at_lo + shift;
        basis_[i] = vars + i;
    }
    for (std::uint64_t j = 0; j < n_; ++j) {
        double* row = tableau_.data() + (cuts + j) * cols;
        row[j] = 1.0;
        row[vars + cuts + j] = 1.0;
        row[cols - 1] = std::max(0.0, hi_[j] - lo_[j]);
        basis_[cuts + j] = vars + cuts + j;
    }
    tableau_[rows * cols + n_] = -1.0;  // maximize tau
    run_simplex(tableau_, basis_, rows, vars);

    std::vector<double>& z = grad_;  // reused as scratch: the oracle overwrites it
    z.assign(vars, 0.0);
    for (std::uint64_t i = 0; i < rows; ++i)
        if (basis_[i] < vars) z[basis_[i]] = tableau_[i * cols + cols - 1];
    for (std::uint64_t j = 0; j < n_; ++j) point_[j] = std::clamp(lo_[j] + z[j], lo_[j], std::max(lo_[j], hi_[j]));
    // The model's maximum, read from the cuts at the new point (not from the tableau).
    double upper = std::numeric_limits<double>::infinity();
    for (std::uint64_t i = 0; i < cuts; ++i) {
        double v = offset_[i];
        for (std::uint64_t j = 0; j < n_; ++j) v += slope_[i * n_ + j] * point_[j];
        upper = std::min(upper, v);
    }
    grad_.assign(n_, 0.0);
    return upper;
}

void Kelley::drop_slackest_cut() {
    // Slack at the latest trial point; the newest cut (just added) always stays.
    const std::uint64_t cuts = offset_.size();
    std::uint64_t worst = cuts;
    double most = -std::numeric_limits<double>::infinity();
    for (std::uint64_t i = 0; i + 1 < cuts; ++i) {
        double v = offset_[i];
        for (std::uint64_t j = 0; j < n_; ++j) v += slope_[i * n_ + j] * point_[j];
        if (v > most) {
            most = v;
            worst = i;
        }
    }
    if (worst == cuts) return;
    offset_.erase(offset_.begin() + static_cast<std::ptrdiff_t>(worst));
    slope_.erase(slope_.begin() + static_cast<std::ptrdiff_t>(worst * n_),
                 slope_.begin() + static_cast<std::ptrdiff_t>((worst + 1) * n_));
}

}  // namespace xcover
