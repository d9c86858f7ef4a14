// Floating-point constants the engine's scores share.
#pragma once

#include <limits>

namespace xcover {

inline constexpr double kInf = std::numeric_limits<double>::infinity();
inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

}  // namespace xcover
