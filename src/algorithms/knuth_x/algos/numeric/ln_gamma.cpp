#include "ln_gamma.hpp"

#include <cmath>

namespace xcover {

namespace {

// The Lanczos approximation with g = 10.900511 and 11 terms, with the coefficients of Paul
// Godfrey's table of Lanczos approximations:
// ln Gamma(x) = ln(s) + ln(2 sqrt(e / pi)) + (x - 1/2) ln((x - 1/2 + g) / e), where
// s = d0 + sum_k d_k / (x + k - 1). Arguments below 1/2 go through the reflection formula.
// The order of every operation is fixed: scores built from it must be the same bits
// everywhere.
constexpr double kD[11] = {
    2.4857408913875355e-05, 1.0514237858172197,    -3.4568709722201625,
    4.512277094668948,      -2.9828522532357664,   1.056397115771267,
    -0.19542877319164587,   0.01709705434044412,   -0.0005719261174043057,
    4.633994733599057e-06,  -2.7199490848860772e-09,
};
constexpr double kG = 10.900511;
constexpr double kC = 0.6207822376352452;  // ln(2 * sqrt(e / pi))
constexpr double kLnPi = 1.1447298858494002;
constexpr double kPi = 3.141592653589793;
constexpr double kE = 2.718281828459045;

}  // namespace

double ln_gamma(double x) {
    double s = kD[0];
    if (x >= 0.5 || std::isnan(x)) {
        for (int k = 1; k <= 10; ++k) s = s + kD[k] / ((x + k) - 1);
        return (std::log(s) + kC) + std::log((kG + (x - 0.5)) / kE) * (x - 0.5);
    }
    // Reflection for small arguments.
    for (int k = 1; k <= 10; ++k) s = s + kD[k] / (k - x);
    return (((kLnPi - std::log(std::sin(kPi * x))) - std::log(s)) - kC) -
           std::log((kG + (0.5 - x)) / kE) * (0.5 - x);
}

}  // namespace xcover
