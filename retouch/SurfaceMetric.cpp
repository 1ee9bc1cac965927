#include "SurfaceMetric.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

double SurfaceDistance(int Mode, int32_t X1, int32_t Y1, int32_t X2, int32_t Y2) {
    const int64_t dx = std::llabs(int64_t(X2) - X1);
    const int64_t dy = std::llabs(int64_t(Y2) - Y1);
    switch (Mode) {
    case 0: return double(dx + dy);
    case 1: return std::hypot(double(dx), double(dy));
    default: return double(std::max(dx, dy));
    }
}
