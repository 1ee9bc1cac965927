// Distances between two points of the image plane.
#pragma once

#include <cstdint>

// Mode 0: |dx| + |dy|; mode 1: the Euclidean distance; any other mode:
// max(|dx|, |dy|). Computed in 64 bits, so no pair of 32-bit points
// overflows.
double SurfaceDistance(int Mode, int32_t X1, int32_t Y1, int32_t X2, int32_t Y2);
