// The host's one way of writing a number as text for SQL and R: a point as
// the decimal separator, no grouping, and the fewest digits that read back as
// exactly the same double. Plain decimals for magnitudes from 1e-6 to below
// 1e15 (0.001, 1000000); the exponent form outside (1e-07, 2.5e+20).
#pragma once

#include <string>

namespace pramble::sqlhost {

std::string ShortestNumberText(double value);

}  // namespace pramble::sqlhost
