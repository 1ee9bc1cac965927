#include "apGenLeastSq.h"

#include "apMinMisclosureSvd.h"

bool GenLeastSquares(const std::vector<double>& values, const std::vector<double>& weights,
                     const std::vector<double>& rows, int pointCount, int termCount,
                     std::vector<double>& coefficients) {
    const int n = termCount;
    if (n < 1 || pointCount < 0 || values.size() < size_t(pointCount) || weights.size() < size_t(pointCount) ||
        rows.size() < size_t(pointCount) * size_t(n)) {
        coefficients.assign(size_t(n > 0 ? n : 0), 0.0);
        return false;
    }
    // Augmented normal matrix, n rows of n + 1 columns; the weights enter squared.
    const size_t columns = size_t(n) + 1;
    std::vector<double> a(size_t(n) * columns, 0.0);
    for (int k = 0; k < pointCount; ++k) {
        const double w2 = weights[size_t(k)] * weights[size_t(k)];
        const double* phi = rows.data() + size_t(k) * size_t(n);
        for (int i = 0; i < n; ++i) {
            double* row = a.data() + size_t(i) * columns;
            for (int j = 0; j < n; ++j) row[j] += w2 * phi[i] * phi[j];
            row[n] += w2 * values[size_t(k)] * phi[i];
        }
    }
    std::vector<double> x;
    const bool ok = SvdSolve(a, n, n, x);
    coefficients.assign(x.begin(), x.end());
    return ok;
}
