#include "ArgumentTransfer.h"

#include <algorithm>

namespace {
constexpr int KTermCounts[TArgumentTransfer::MaxDegree + 1] = {1, 3, 4, 6, 8, 10};
}

TArgumentTransfer::TArgumentTransfer(int degree)
    : FDegree(uint8_t(std::clamp(degree, 0, MaxDegree))), FTermCount(KTermCounts[FDegree]),
      FBasis(size_t(FTermCount), 0.0) {}

int TArgumentTransfer::TermCountOf(int degree) { return KTermCounts[std::clamp(degree, 0, MaxDegree)]; }

void TArgumentTransfer::SetArguments(double x, double y) {
    double* b = FBasis.data();
    b[0] = 1.0;
    if (FDegree >= 1) {
        b[1] = x;
        b[2] = y;
    }
    if (FDegree >= 2) b[3] = x * y;
    if (FDegree >= 3) {
        b[4] = x * x;
        b[5] = y * y;
    }
    if (FDegree >= 4) {
        b[6] = x * x * y;
        b[7] = x * y * y;
    }
    if (FDegree >= 5) {
        b[8] = x * x * x;
        b[9] = y * y * y;
    }
}

double TArgumentTransfer::Evaluate(const std::vector<double>& coefficients, double x, double y) {
    SetArguments(x, y);
    const int n = std::min(FTermCount, int(coefficients.size()));
    double sum = 0.0;
    for (int i = 0; i < n; ++i) sum += coefficients[size_t(i)] * FBasis[size_t(i)];
    return sum;
}
