#include "ApproximationLSM2.h"

#include <algorithm>

TApproximation::TApproximation(int capacity, int degree)
    : FCount(0), FValues(size_t(std::max(capacity, 0)), 0.0), FLsm(capacity, degree),
      FCoefficients(size_t(FLsm.TermCount()), 0.0) {}

void TApproximation::AddPoint(double x, double y, double z) {
    if (FCount >= FLsm.Capacity()) return;
    FLsm.AddPoint(x, y, 1.0);
    FValues[size_t(FCount)] = z;
    ++FCount;
}

bool TApproximation::Solve() { return FLsm.Solve(FValues, &FCoefficients); }

double TApproximation::Evaluate(double x, double y) { return FLsm.Evaluate(&FCoefficients, x, y); }
