// Polynomial basis in two variables for the colour-surface fits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class TArgumentTransfer {
public:
    static constexpr int MaxDegree = 5;

    // Degrees outside 0..5 are clamped: the term table ends at 5.
    explicit TArgumentTransfer(int degree);

    // Number of basis terms of a degree (0..5 → 1, 3, 4, 6, 8, 10).
    static int TermCountOf(int degree);

    uint8_t Degree() const { return FDegree; }
    int TermCount() const { return FTermCount; }

    // Fills the basis for (x, y): 1, x, y, xy, x², y², x²y, xy², x³, y³, as
    // far as the degree reaches.
    void SetArguments(double x, double y);
    double Basis(int index) const { return FBasis[size_t(index)]; }
    const std::vector<double>& Basis() const { return FBasis; }

    // Sum of coefficients[i] * basis[i] at (x, y). A shorter coefficient
    // array (an unsolved fit) contributes only the terms it has.
    double Evaluate(const std::vector<double>& coefficients, double x, double y);

private:
    uint8_t FDegree = 0;
    int FTermCount = 1;
    std::vector<double> FBasis;
};
