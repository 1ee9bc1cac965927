#include "ApproximationBGRLSM2.h"

#include <algorithm>

TApproximationBGR::TApproximationBGR(int capacity, int degree)
    : FCount(0), FValuesA(size_t(std::max(capacity, 0)), 0.0), FValuesB(FValuesA.size(), 0.0),
      FValuesC(FValuesA.size(), 0.0), FLsm(capacity, degree), FCoefficientsA(size_t(FLsm.TermCount()), 0.0),
      FCoefficientsB(FCoefficientsA.size(), 0.0), FCoefficientsC(FCoefficientsA.size(), 0.0) {}

void TApproximationBGR::AddPoint(double x, double y, double a, double b, double c) {
    if (FCount >= FLsm.Capacity()) return;
    FLsm.AddPoint(x, y, 1.0);
    FValuesA[size_t(FCount)] = a;
    FValuesB[size_t(FCount)] = b;
    FValuesC[size_t(FCount)] = c;
    ++FCount;
}

bool TApproximationBGR::Solve() {
    return FLsm.Solve(FValuesA, &FCoefficientsA) && FLsm.Solve(FValuesB, &FCoefficientsB) &&
           FLsm.Solve(FValuesC, &FCoefficientsC);
}

void TApproximationBGR::Evaluate(double x, double y, double& a, double& b, double& c) {
    a = FLsm.Evaluate(&FCoefficientsA, x, y);
    b = FLsm.Evaluate(&FCoefficientsB, x, y);
    c = FLsm.Evaluate(&FCoefficientsC, x, y);
}
