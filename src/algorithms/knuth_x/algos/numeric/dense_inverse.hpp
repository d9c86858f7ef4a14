// The inverse of a small dense matrix, for the simplex bases of the bounds (Kelley's cutting
// planes, the set-partitioning relaxation).
#pragma once

#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

namespace xcover {

// Inverts the m x m row-major matrix `a` by Gauss-Jordan with partial pivoting, writing the
// inverse, row major, to `inverse`; `a` is left reduced to the identity. False, with both
// left partly reduced, when a pivot is below 1e-12 in magnitude: the matrix is singular or
// too near it to trust.
inline bool invert_dense(std::vector<double>& a, std::vector<double>& inverse, std::uint64_t m) {
    inverse.assign(m * m, 0.0);
    for (std::uint64_t k = 0; k < m; ++k) inverse[k * m + k] = 1.0;
    for (std::uint64_t col = 0; col < m; ++col) {
        std::uint64_t piv = col;
        for (std::uint64_t r = col + 1; r < m; ++r)
            if (std::fabs(a[r * m + col]) > std::fabs(a[piv * m + col])) piv = r;
        if (std::fabs(a[piv * m + col]) < 1e-12) return false;
        if (piv != col)
            for (std::uint64_t k = 0; k < m; ++k) {
                std::swap(a[col * m + k], a[piv * m + k]);
                std::swap(inverse[col * m + k], inverse[piv * m + k]);
            }
        const double inv = 1.0 / a[col * m + col];
        for (std::uint64_t k = 0; k < m; ++k) {
            a[col * m + k] *= inv;
            inverse[col * m + k] *= inv;
        }
        for (std::uint64_t r = 0; r < m; ++r) {
            if (r == col) continue;
            const double f = a[r * m + col];
            if (f == 0.0) continue;
            for (std::uint64_t k = 0; k < m; ++k) {
                a[r * m + k] -= f * a[col * m + k];
                inverse[r * m + k] -= f * inverse[col * m + k];
            }
        }
    }
    return true;
}

}  // namespace xcover
