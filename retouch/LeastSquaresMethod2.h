// One weighted least-squares surface problem: sample positions and weights.
#pragma once

#include <vector>

#include "ArgumentTransfer.h"

class TLSM2 {
public:
    TLSM2(int capacity, int degree);

    int Capacity() const { return FCapacity; }
    int Count() const { return FCount; }
    int TermCount() const { return FBasis.TermCount(); }

    // Stores the basis of (x, y) and the weight; a point beyond the capacity
    // is dropped.
    void AddPoint(double x, double y, double weight);

    // Fits the values (one per point) and copies the coefficients into
    // coefficients when given. False, with nothing changed, when there are
    // fewer points than terms. A singular system still answers true: its
    // coefficients come from the cut decomposition.
    bool Solve(const std::vector<double>& values, std::vector<double>* coefficients);

    // The surface at (x, y) with the given coefficients, or the last
    // solution when none are given (0 before the first Solve).
    double Evaluate(const std::vector<double>* coefficients, double x, double y);

    const std::vector<double>& Coefficients() const { return FCoefficients; }

private:
    int FCapacity = 0;
    int FCount = 0;
    TArgumentTransfer FBasis;
    std::vector<double> FRows;
    std::vector<double> FWeights;
    std::vector<double> FCoefficients;
};
