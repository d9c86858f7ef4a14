// A reference model of the block-count bound table: the plain quadratic fold, every entry
// paired with every earlier one that can lower it, in the order the product defines its
// ties by (the least weight of the size first, then j ascending; the first of equal values
// stays, which decides the sign of a zero). Slow and obviously right; the tests compare
// build_min_est with it bit for bit.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>
#include <span>
#include <vector>

namespace xcover::reference {

inline std::vector<double> min_est_quadratic(std::span<const std::uint64_t> sizes,
                                             std::span<const double> weights,
                                             std::uint64_t element_count) {
    constexpr double kInf = std::numeric_limits<double>::infinity();
    std::vector<double> by_size;
    const std::size_t pairs = std::min(sizes.size(), weights.size());
    for (std::size_t i = 0; i < pairs; ++i) {
        const std::uint64_t s = sizes[i];
        if (s == 0 || s > element_count) continue;
        if (by_size.size() < s) by_size.resize(s, kInf);
        if (by_size[s - 1] > weights[i]) by_size[s - 1] = weights[i];
    }
    std::vector<double> min_est;
    for (std::uint64_t k = 0; k < element_count; ++k) {
        double v = k < by_size.size() ? by_size[k] : kInf;
        for (std::uint64_t j = 0; k > 0 && j <= (k - 1) / 2; ++j) {
            if (min_est[j] == kInf || min_est[j] != min_est[j]) continue;  // cannot lower
            const double t = min_est[j] + min_est[k - 1 - j];
            if (t < v) v = t;
        }
        min_est.push_back(v);
    }
    return min_est;
}

}  // namespace xcover::reference
