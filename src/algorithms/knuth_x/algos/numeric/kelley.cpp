#include "kelley.hpp"

#include "dense_inverse.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "../../failure.hpp"

namespace xcover {

namespace {

constexpr double kEps = 1e-11;
constexpr int kMaxPivots = 200;
constexpr int kBlandAfter = 50;

}  // namespace

void Kelley::begin(std::span<const double> start, std::span<const double> lo, std::span<const double> hi) {
    n_ = start.size();
    if (lo.size() != n_ || hi.size() != n_) fail("Kelley: box and start differ in size");
    lo_.assign(lo.begin(), lo.end());
    hi_.assign(hi.begin(), hi.end());
    for (std::uint64_t j = 0; j < n_; ++j) hi_[j] = std::max(lo_[j], hi_[j]);
    point_.resize(n_);
    for (std::uint64_t j = 0; j < n_; ++j) point_[j] = std::clamp(start[j], lo_[j], hi_[j]);
    grad_.assign(n_, 0.0);
    best_point_ = point_;
    best_ = -std::numeric_limits<double>::infinity();
    evaluations_ = 0;
    stalled_ = 0;
    const std::uint64_t m = n_ + 1;
    columns_.clear();
    for (std::uint64_t j = 0; j < n_; ++j) {
        Column u{hi_[j], std::vector<double>(m, 0.0)};
        u.entries[1 + j] = 1.0;
        Column v{-lo_[j], std::vector<double>(m, 0.0)};
        v.entries[1 + j] = -1.0;
        columns_.push_back(std::move(u));
        columns_.push_back(std::move(v));
    }
    basis_.clear();
}

bool Kelley::record(double value, const KelleyOptions& options) {
    ++evaluations_;
    stalled_ = value > best_ + options.tolerance ? 0 : stalled_ + 1;
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
    add_cut_column(offset, grad_);
    if (columns_.size() - 2 * n_ > static_cast<std::uint64_t>(options.max_cuts)) drop_slackest_cut();
    // The basis stays valid as columns come and go; refactoring now and then bounds the drift.
    // A basis that cannot be factored (cuts whose slopes differ by many orders of magnitude,
    // from edge counts near 2^64) ends the search: every point evaluated so far gives a valid
    // value, and the best of them stands.
    if (basis_.empty() || (evaluations_ % 16 == 0 && !refactor()))
        if (!start_basis()) return false;
    run_simplex();
    prices();
    for (std::uint64_t j = 0; j < n_; ++j) point_[j] = std::clamp(pi_[1 + j], lo_[j], hi_[j]);
    const double upper = model_at(point_);
    if (options.stall > 0 && stalled_ >= options.stall) return false;
    return upper - best_ > options.tolerance;
}

void Kelley::add_cut_column(double offset, std::span<const double> slope) {
    Column c{offset, std::vector<double>(n_ + 1, 0.0)};
    c.entries[0] = 1.0;
    for (std::uint64_t j = 0; j < n_; ++j) c.entries[1 + j] = -slope[j];
    columns_.push_back(std::move(c));
}

double Kelley::model_at(std::span<const double> y) const {
    double upper = std::numeric_limits<double>::infinity();
    for (std::uint64_t i = 2 * n_; i < columns_.size(); ++i) {
        double v = columns_[i].cost;
        for (std::uint64_t j = 0; j < n_; ++j) v -= columns_[i].entries[1 + j] * y[j];
        upper = std::min(upper, v);
    }
    return upper;
}

bool Kelley::start_basis() {
    const std::uint64_t last = columns_.size() - 1;
    basis_.assign(1, last);
    for (std::uint64_t j = 0; j < n_; ++j)  // u_j - v_j = s_j
        basis_.push_back(columns_[last].entries[1 + j] <= 0.0 ? 2 * j : 2 * j + 1);
    if (refactor()) return true;
    basis_.clear();
    return false;
}

// Gauss-Jordan with partial pivoting on the (n+1)-square basis matrix.
bool Kelley::refactor() {
    const std::uint64_t m = n_ + 1;
    scratch_.assign(m * m, 0.0);
    for (std::uint64_t r = 0; r < m; ++r)
        for (std::uint64_t k = 0; k < m; ++k) scratch_[k * m + r] = columns_[basis_[r]].entries[k];
    if (!invert_dense(scratch_, binv_, m)) return false;
    // x_B = B^-1 e_0; a basis that is no longer feasible is rebuilt.
    xb_.resize(m);
    for (std::uint64_t r = 0; r < m; ++r) {
        xb_[r] = binv_[r * m];
        if (xb_[r] < -1e-9) return false;
        xb_[r] = std::max(0.0, xb_[r]);
    }
    return true;
}

void Kelley::prices() {
    const std::uint64_t m = n_ + 1;
    pi_.assign(m, 0.0);
    for (std::uint64_t r = 0; r < m; ++r) {
        const double c = columns_[basis_[r]].cost;
        for (std::uint64_t k = 0; k < m; ++k) pi_[k] += c * binv_[r * m + k];
    }
}

void Kelley::run_simplex() {
    const std::uint64_t m = n_ + 1;
    for (int pivot = 0; pivot < kMaxPivots; ++pivot) {
        prices();
        std::uint64_t enter = columns_.size();
        double most = 0.0;
        for (std::uint64_t i = 0; i < columns_.size(); ++i) {
            double d = columns_[i].cost;
            for (std::uint64_t k = 0; k < m; ++k) d -= pi_[k] * columns_[i].entries[k];
            const double scale = kEps * (1.0 + std::fabs(columns_[i].cost));
            if (d < -scale && (enter == columns_.size() || d < most)) {
                enter = i;
                most = d;
                if (pivot >= kBlandAfter) break;  // Bland: the first improving column
            }
        }
        if (enter == columns_.size()) return;
        w_.assign(m, 0.0);
        for (std::uint64_t r = 0; r < m; ++r)
            for (std::uint64_t k = 0; k < m; ++k) w_[r] += binv_[r * m + k] * columns_[enter].entries[k];
        std::uint64_t leave = m;
        double ratio = std::numeric_limits<double>::infinity();
        for (std::uint64_t r = 0; r < m; ++r) {
            if (w_[r] <= kEps) continue;
            const double t = xb_[r] / w_[r];
            if (t < ratio || (t == ratio && basis_[r] < basis_[leave])) {
                ratio = t;
                leave = r;
            }
        }
        if (leave == m) return;  // unbounded: the master would be infeasible, which it never is
        const double inv = 1.0 / w_[leave];
        for (std::uint64_t k = 0; k < m; ++k) binv_[leave * m + k] *= inv;
        xb_[leave] *= inv;
        for (std::uint64_t r = 0; r < m; ++r) {
            if (r == leave || w_[r] == 0.0) continue;
            for (std::uint64_t k = 0; k < m; ++k) binv_[r * m + k] -= w_[r] * binv_[leave * m + k];
            xb_[r] = std::max(0.0, xb_[r] - w_[r] * xb_[leave]);
        }
        basis_[leave] = enter;
    }
}

void Kelley::drop_slackest_cut() {
    // A cut outside the basis with the largest slack at the current prices; the newest stays.
    std::uint64_t worst = columns_.size();
    double most = -std::numeric_limits<double>::infinity();
    for (std::uint64_t i = 2 * n_; i + 1 < columns_.size(); ++i) {
        if (std::find(basis_.begin(), basis_.end(), i) != basis_.end()) continue;
        double v = columns_[i].cost;
        for (std::uint64_t j = 0; j < n_; ++j) v -= columns_[i].entries[1 + j] * point_[j];
        if (v > most) {
            most = v;
            worst = i;
        }
    }
    if (worst == columns_.size()) return;
    columns_.erase(columns_.begin() + static_cast<std::ptrdiff_t>(worst));
    for (std::uint64_t& b : basis_)
        if (b > worst) --b;
}

}  // namespace xcover
