// Weighted linear least squares through the normal equations.
#pragma once

#include <cstddef>
#include <vector>

// Fits coefficients c minimising Σ_k (w_k (φ_k · c − z_k))² over pointCount
// points; rows holds pointCount rows of termCount basis values. Answers the
// solver's flag: false when the system was singular (the small singular values
// were cut) or could not be solved (coefficients 0).
bool GenLeastSquares(const std::vector<double>& values, const std::vector<double>& weights,
                     const std::vector<double>& rows, int pointCount, int termCount,
                     std::vector<double>& coefficients);
