// The log-gamma function: a Lanczos approximation with fixed constants, evaluated in a fixed
// order so that every result is reproducible to the bit.
#pragma once

namespace xcover {

double ln_gamma(double x);

}  // namespace xcover
