#include <gtest/gtest.h>

#include <cstdint>

#include "SurfaceMetric.h"

TEST(SurfaceMetric, ThreeModesWithoutOverflow) {
    EXPECT_EQ(SurfaceDistance(0, 1, 2, 4, 6), 7.0);
    EXPECT_EQ(SurfaceDistance(1, 1, 2, 4, 6), 5.0);
    EXPECT_EQ(SurfaceDistance(2, 1, 2, 4, 6), 4.0);
    EXPECT_EQ(SurfaceDistance(-1, 4, 6, 1, 2), 4.0);
    // The extreme 32-bit points are 2^32 - 1 apart, not a wrapped difference.
    EXPECT_EQ(SurfaceDistance(1, INT32_MIN, 0, INT32_MAX, 0), 4294967295.0);
    EXPECT_EQ(SurfaceDistance(0, INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX), 2.0 * 4294967295.0);
}
