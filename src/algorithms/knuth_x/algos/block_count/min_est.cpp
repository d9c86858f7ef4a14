#include "min_est.hpp"

#include <algorithm>
#include <bit>
#include <cfloat>
#include <climits>
#include <cmath>
#include <limits>

#include "../../numbers.hpp"

namespace xcover {

namespace {

// A sum with an entry that is +inf or NaN is +inf or NaN, and neither is below anything:
// such entries never lower a fold, so only the others are paired.
bool can_lower(double v) { return !(v == kInf || v != v); }

// by_size[s - 1]: the least weight of a block of s entries (+inf for none). The first of
// equal weights stays (so a -0.0 before a +0.0 is kept); NaN weights never enter.
std::vector<double> least_by_size(std::span<const std::uint64_t> sizes,
                                  std::span<const double> weights, std::uint64_t element_count) {
    std::vector<double> by_size;
    const std::size_t pairs = std::min(sizes.size(), weights.size());
    for (std::size_t i = 0; i < pairs; ++i) {
        const std::uint64_t s = sizes[i];
        if (s == 0 || s > element_count) continue;  // no set of element_count elements holds it
        if (by_size.size() < s) by_size.resize(s, kInf);
        if (by_size[s - 1] > weights[i]) by_size[s - 1] = weights[i];
    }
    return by_size;
}

// One size that occurs, with its least weight.
struct Part {
    std::uint64_t size;
    double weight;
};

// The sizes whose least weight is below +inf (-inf included).
std::vector<Part> occurring_parts(const std::vector<double>& by_size) {
    std::vector<Part> parts;
    for (std::uint64_t i = 0; i < by_size.size(); ++i)
        if (by_size[i] != kInf) parts.push_back(Part{i + 1, by_size[i]});
    return parts;
}

// Whether every sum of at most n of the weights, grouped in any way, is computed exactly:
// all are nonzero and of one sign (so no sum is a zero, whose sign would depend on the order),
// all are finite integer multiples of one power of two 2^e, and n times the largest magnitude stays
// within 2^53 * 2^e, where every multiple of 2^e is a double.
bool sums_are_exact(const std::vector<Part>& parts, std::uint64_t n) {
    if (parts.empty() || n == 0) return true;
    const bool negative = parts.front().weight < 0;
    int low = INT_MAX;
    double largest = 0.0;
    for (const Part& p : parts) {
        if (!std::isfinite(p.weight) || p.weight == 0.0 || (p.weight < 0) != negative) return false;
        int exponent = 0;
        const double fraction = std::frexp(std::fabs(p.weight), &exponent);  // in [0.5, 1)
        const auto mantissa = static_cast<std::uint64_t>(std::ldexp(fraction, 53));
        low = std::min(low, exponent - 53 + std::countr_zero(mantissa));
        largest = std::max(largest, std::fabs(p.weight));
    }
    const double units = std::ldexp(largest, -low);  // an integer, or +inf when out of range
    return units <= static_cast<double>((std::uint64_t{1} << 53) / n);
}

// With exact sums the pairwise fold is the least weight of any multiset of sizes adding up to
// k + 1, whatever the grouping: a knapsack over the sizes that occur gives the same values in
// n * parts steps. Exact sums are never NaN or zero, so the order of the minima is free: four
// running minima break the chain of dependent comparisons.
std::vector<double> knapsack_fold(const std::vector<double>& by_size, const std::vector<Part>& parts,
                                  std::uint64_t n, InterruptPoll& poll) {
    std::vector<double> min_est(n);
    for (std::uint64_t k = 0; k < n; ++k) {
        std::size_t usable = 0;  // the parts of size k or less
        while (usable < parts.size() && parts[usable].size <= k) ++usable;
        poll.tick(usable / 64 + 1);
        double a0 = k < by_size.size() ? by_size[k] : kInf, a1 = kInf, a2 = kInf, a3 = kInf;
        std::size_t i = 0;
        for (; i + 4 <= usable; i += 4) {
            a0 = std::min(a0, min_est[k - parts[i].size] + parts[i].weight);
            a1 = std::min(a1, min_est[k - parts[i + 1].size] + parts[i + 1].weight);
            a2 = std::min(a2, min_est[k - parts[i + 2].size] + parts[i + 2].weight);
            a3 = std::min(a3, min_est[k - parts[i + 3].size] + parts[i + 3].weight);
        }
        for (; i < usable; ++i) a0 = std::min(a0, min_est[k - parts[i].size] + parts[i].weight);
        min_est[k] = std::min(std::min(a0, a1), std::min(a2, a3));
    }
    return min_est;
}

// The least of m[j] + m[k - 1 - j] over j in [begin, end), NaN sums left out; +inf when
// there is none. Four running minima break the chain of dependent comparisons; the value is
// the same in any order, only a zero's sign is not (the caller redoes those in order).
double least_pair_sum(const double* m, std::uint64_t k, std::uint64_t begin, std::uint64_t end) {
    double a0 = kInf, a1 = kInf, a2 = kInf, a3 = kInf;
    std::uint64_t j = begin;
    for (; j + 4 <= end; j += 4) {
        const double t0 = m[j] + m[k - 1 - j];
        const double t1 = m[j + 1] + m[k - 2 - j];
        const double t2 = m[j + 2] + m[k - 3 - j];
        const double t3 = m[j + 3] + m[k - 4 - j];
        a0 = t0 < a0 ? t0 : a0;
        a1 = t1 < a1 ? t1 : a1;
        a2 = t2 < a2 ? t2 : a2;
        a3 = t3 < a3 ? t3 : a3;
    }
    for (; j < end; ++j) {
        const double t = m[j] + m[k - 1 - j];
        a0 = t < a0 ? t : a0;
    }
    a0 = a1 < a0 ? a1 : a0;
    a2 = a3 < a2 ? a3 : a2;
    return a2 < a0 ? a2 : a0;
}

// The runs of indices j whose entry can lower a sum, ascending.
struct Run {
    std::uint64_t begin;
    std::uint64_t end;
};

// The fold in its defining order, for a zero result: the first of equal values stays.
double fold_in_order(const std::vector<double>& m, std::uint64_t k, double v,
                     const std::vector<Run>& runs) {
    const std::uint64_t half = (k - 1) / 2;
    for (const Run& r : runs) {
        if (r.begin > half) break;
        for (std::uint64_t j = r.begin; j < r.end && j <= half; ++j) {
            const double t = m[j] + m[k - 1 - j];
            if (t < v) v = t;
        }
    }
    return v;
}

// A lower bound on every entry's value per element, while all entries so far are positive
// (or +inf): then no pair of entries adding up to k + 1 elements sums below (k + 1) * rate.
class RateBound {
public:
    void add(double v, std::uint64_t k) {
        if (v == kInf) return;
        if (!(v > 0)) {
            valid_ = false;
            return;
        }
        rate_ = std::min(rate_, v / static_cast<double>(k + 1));
    }
    // True when no pair sum for entry k can fall below v: the computed rate and product
    // are within a few units in the last place of the true ones, and the margin of 2^-50
    // covers them (for normal numbers, which the minimum ensures).
    bool rules_out_pairs(double v, std::uint64_t k) const {
        if (!valid_ || !(rate_ >= DBL_MIN * 0x1p60) || !std::isfinite(v)) return false;
        const double bound = (static_cast<double>(k + 1) * rate_) * (1.0 - 0x1p-50);
        return bound >= v;
    }

private:
    bool valid_ = true;
    double rate_ = kInf;
};

// The defining fold: each entry is the least of its size's weight and every sum of two
// earlier entries that add up to its element count.
std::vector<double> pairwise_fold(const std::vector<double>& by_size, std::uint64_t n,
                                  InterruptPoll& poll) {
    std::vector<double> min_est(n);
    std::vector<Run> runs;
    RateBound rate;
    for (std::uint64_t k = 0; k < n; ++k) {
        const double v0 = k < by_size.size() ? by_size[k] : kInf;
        double v = v0;
        if (k > 0 && !rate.rules_out_pairs(v0, k)) {
            const std::uint64_t half = (k - 1) / 2;
            double best = kInf;
            std::uint64_t paired = 0;
            for (const Run& r : runs) {
                if (r.begin > half) break;
                const std::uint64_t end = std::min(r.end, half + 1);
                best = std::min(best, least_pair_sum(min_est.data(), k, r.begin, end));
                paired += end - r.begin;
            }
            poll.tick(paired / 64 + 1);
            if (best < v) v = best;
            if (v == 0.0) v = fold_in_order(min_est, k, v0, runs);
        } else {
            poll.tick();
        }
        min_est[k] = v;
        rate.add(v, k);
        if (!can_lower(v)) continue;
        if (!runs.empty() && runs.back().end == k)
            runs.back().end = k + 1;
        else
            runs.push_back(Run{k, k + 1});
    }
    return min_est;
}

}  // namespace

std::vector<double> build_min_est(std::span<const std::uint64_t> sizes,
                                  std::span<const double> weights, std::uint64_t element_count,
                                  Interrupt* interrupt) {
    InterruptPoll poll(interrupt);
    const std::vector<double> by_size = least_by_size(sizes, weights, element_count);
    const std::vector<Part> parts = occurring_parts(by_size);
    // The knapsack costs n * parts steps, the pairwise fold about n * n / 4.
    if (parts.size() <= element_count / 4 && sums_are_exact(parts, element_count))
        return knapsack_fold(by_size, parts, element_count, poll);
    return pairwise_fold(by_size, element_count, poll);
}

}  // namespace xcover
