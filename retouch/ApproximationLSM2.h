// One least-squares surface z(x, y) with unit weights.
#pragma once

#include <vector>

#include "LeastSquaresMethod2.h"

class TApproximation {
public:
    TApproximation(int capacity, int degree);

    int Count() const { return FCount; }
    // Ignored once the capacity is reached.
    void AddPoint(double x, double y, double z);
    // False when there are fewer points than terms; the coefficients then
    // stay zero and the surface is 0 everywhere.
    bool Solve();
    double Evaluate(double x, double y);
    const std::vector<double>& Coefficients() const { return FCoefficients; }

private:
    int FCount = 0;
    std::vector<double> FValues;
    TLSM2 FLsm;
    std::vector<double> FCoefficients;
};
