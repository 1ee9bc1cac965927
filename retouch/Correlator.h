// Running Pearson correlation of number pairs.
#pragma once

#include <cstddef>
#include <cstdint>

class TCorrelator {
public:
    TCorrelator() = default;

    void Reset();
    void Add(double x, double y);
    int32_t Count() const { return FCount; }
    // Pearson's r of the pairs added; 0 when either side has (next to) no
    // spread.
    double Coefficient() const;

private:
    int32_t FCount = 0;
    double FSx = 0.0;
    double FSy = 0.0;
    double FSxy = 0.0;
    double FSxx = 0.0;
    double FSyy = 0.0;
};
