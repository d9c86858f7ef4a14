#include "min_est.hpp"

#include <algorithm>
#include <limits>

namespace xcover {

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// A sum with an entry that is +inf or NaN is +inf or NaN, and neither is below anything:
// such entries never lower a fold, so only the others are paired.
bool can_lower(double v) { return !(v == kInf || v != v); }

}  // namespace

std::vector<double> build_min_est(std::span<const std::uint64_t> sizes,
                                  std::span<const double> weights, std::uint64_t element_count) {
    std::vector<double> by_size;
    const std::size_t pairs = std::min(sizes.size(), weights.size());
    for (std::size_t i = 0; i < pairs; ++i) {
        const std::uint64_t s = sizes[i];
        if (s == 0 || s > element_count) continue;  // no set of element_count elements holds it
        if (by_size.size() < s) by_size.resize(s, kInf);
        if (by_size[s - 1] > weights[i]) by_size[s - 1] = weights[i];
    }
    std::vector<double> min_est;
    min_est.reserve(element_count);
    // Indices j of the entries so far that can lower a sum, ascending: pairing only those
    // keeps the table linear when few block sizes occur (wide blocks, few weights).
    std::vector<std::uint64_t> useful;
    for (std::uint64_t k = 0; k < element_count; ++k) {
        double v = k < by_size.size() ? by_size[k] : kInf;
        if (k > 0) {
            const std::uint64_t half = (k - 1) / 2;
            for (std::uint64_t j : useful) {
                if (j > half) break;
                const double t = min_est[j] + min_est[k - 1 - j];
                if (t < v) v = t;
            }
        }
        min_est.push_back(v);
        if (can_lower(v)) useful.push_back(k);
    }
    return min_est;
}

}  // namespace xcover
