// Three least-squares surfaces over the same sample positions, one per colour
// channel difference.
#pragma once

#include <vector>

#include "LeastSquaresMethod2.h"

class TApproximationBGR {
public:
    TApproximationBGR(int capacity, int degree);

    int Count() const { return FCount; }
    // Ignored once the capacity is reached.
    void AddPoint(double x, double y, double a, double b, double c);
    // Solves A, B and C in turn and stops at the first that fails.
    bool Solve();
    void Evaluate(double x, double y, double& a, double& b, double& c);

private:
    int FCount = 0;
    std::vector<double> FValuesA;
    std::vector<double> FValuesB;
    std::vector<double> FValuesC;
    TLSM2 FLsm;
    std::vector<double> FCoefficientsA;
    std::vector<double> FCoefficientsB;
    std::vector<double> FCoefficientsC;
};
