#include "Correlator.h"

#include <cmath>

#include "QelNumeric.h"

void TCorrelator::Reset() {
    FCount = 0;
    FSx = FSy = FSxy = FSxx = FSyy = 0.0;
}

void TCorrelator::Add(double x, double y) {
    ++FCount;
    FSx += x;
    FSy += y;
    FSxy += x * y;
    FSxx += x * x;
    FSyy += y * y;
}

double TCorrelator::Coefficient() const {
    const double n = FCount;
    const double d = std::sqrt((n * FSxx - FSx * FSx) * (n * FSyy - FSy * FSy));
    if (IsZeroFloat(d, 1e-10)) return 0.0;
    return (n * FSxy - FSx * FSy) / d;
}
