// Least-squares solution of a small dense system through a singular value
// decomposition (Householder bidiagonalisation and implicit-shift QR).
#pragma once

#include <cstddef>
#include <vector>

// |a| with the sign of b; b >= 0 counts as positive.
double SvdSign(double a, double b);

// sqrt(a² + b²) without destructive overflow or underflow; 0 for (0, 0).
double SvdPythag(double a, double b);

// Solves A[1..m][1..n] · x = A[1..m][n+1] in the least-squares sense.
// a holds m rows of n + 1 doubles, row-major; the first n columns are
// overwritten by U, the last column (the right side) is kept. Singular values
// up to max|w| · n · 5e-16 are left out (minimum-norm answer) and the result is
// then false. A system with a non-finite entry or a non-finite answer gives
// x = 0 and false. x is resized to n.
bool SvdSolve(std::vector<double>& a, int m, int n, std::vector<double>& x);
