#include <gtest/gtest.h>

#include <limits>

#include "QelGeometry.h"

TEST(QelGeometry, MulDivRoundsHalvesAwayFromZeroAndFailsSafely) {
    EXPECT_EQ(MulDiv(5, 1, 2), 3);
    EXPECT_EQ(MulDiv(-5, 1, 2), -3);
    EXPECT_EQ(MulDiv(7, 1, 3), 2);
    EXPECT_EQ(MulDiv(100000, 100000, 100000), 100000);  // 64-bit product
    EXPECT_EQ(MulDiv(1, 1, 0), -1);
    EXPECT_EQ(MulDiv(std::numeric_limits<int32_t>::max(), 2, 1), -1);
    EXPECT_EQ(MulDiv(std::numeric_limits<int32_t>::min(), 1, 1), std::numeric_limits<int32_t>::min());
}

TEST(QelGeometry, RoundEvenAndGuardedConversions) {
    EXPECT_EQ(QelRoundEven(0.5), 0);
    EXPECT_EQ(QelRoundEven(1.5), 2);
    EXPECT_EQ(QelRoundEven(2.5), 2);
    EXPECT_EQ(QelRoundEven(-2.5), -2);
    EXPECT_EQ(QelRoundEven(std::numeric_limits<double>::quiet_NaN()), 0);
    EXPECT_EQ(QelRoundEven(1e300), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(QelTrunc(-1e300), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(QelFloorDiv256(-1), -1);
    EXPECT_EQ(QelSafeDiv(7, 0, 42), 42);
    EXPECT_EQ(QelSafeDiv(-7, 2), -3);
}

TEST(QelGeometry, RectanglesHaveExclusiveEdges) {
    TQelRect out;
    EXPECT_FALSE(QelIntersectRect(out, TQelRect(0, 0, 10, 10), TQelRect(10, 0, 20, 10)));
    EXPECT_EQ(out, TQelRect());
    EXPECT_TRUE(QelIntersectRect(out, TQelRect(0, 0, 10, 10), TQelRect(5, 5, 20, 20)));
    EXPECT_EQ(out, TQelRect(5, 5, 10, 10));
    EXPECT_TRUE(QelUnionRect(out, TQelRect(), TQelRect(1, 2, 3, 4)));
    EXPECT_EQ(out, TQelRect(1, 2, 3, 4));
    EXPECT_FALSE(TQelRect(0, 0, 10, 10).Contains(10, 5));
}
