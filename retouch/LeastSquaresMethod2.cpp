#include "LeastSquaresMethod2.h"

#include <algorithm>

#include "apGenLeastSq.h"

TLSM2::TLSM2(int capacity, int degree)
    : FCapacity(std::max(capacity, 0)), FCount(0), FBasis(degree),
      FRows(size_t(FCapacity) * size_t(FBasis.TermCount()), 0.0), FWeights(size_t(FCapacity), 0.0),
      FCoefficients() {}

void TLSM2::AddPoint(double x, double y, double weight) {
    if (FCount >= FCapacity) return;
    FBasis.SetArguments(x, y);
    const std::vector<double>& basis = FBasis.Basis();
    std::copy(basis.begin(), basis.end(), FRows.begin() + ptrdiff_t(size_t(FCount) * basis.size()));
    FWeights[size_t(FCount)] = weight;
    ++FCount;
}

bool TLSM2::Solve(const std::vector<double>& values, std::vector<double>* coefficients) {
    if (FCount < TermCount() || values.size() < size_t(FCount)) return false;
    GenLeastSquares(values, FWeights, FRows, FCount, TermCount(), FCoefficients);
    if (coefficients) *coefficients = FCoefficients;
    return true;
}

double TLSM2::Evaluate(const std::vector<double>* coefficients, double x, double y) {
    return FBasis.Evaluate(coefficients ? *coefficients : FCoefficients, x, y);
}
