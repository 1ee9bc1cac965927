#include <gtest/gtest.h>

#include <limits>

#include "QelClasses.h"

namespace {

TQelPoint P(int32_t x, int32_t y) { return TQelPoint{x, y}; }

TEST(QelMapMode, DefaultsAreTheIdentity) {
    const TQelMapMode m;
    for (const TQelPoint p : {P(0, 0), P(-7, 13), P(123456, -99)}) {
        EXPECT_EQ(m.LogicalToDevice(p), p);
        EXPECT_EQ(m.DeviceToLogical(p), p);
    }
    EXPECT_EQ(m.LogicalToDeviceRect(TQelRect(1, 2, 3, 4)), TQelRect(1, 2, 3, 4));
}

TEST(QelMapMode, RoundsTowardMinusInfinity) {
    TQelMapMode out;  // zoomed out 1:3
    out.DeviceExtent = P(1, 1);
    out.LogicalExtent = P(3, 3);
    EXPECT_EQ(out.DeviceToLogical(P(-1, -1)), P(-3, -3));
    EXPECT_EQ(out.LogicalToDevice(P(-1, -1)), P(-1, -1));  // not 0, as truncation would give
    EXPECT_EQ(out.LogicalToDevice(P(-3, 2)), P(-1, 0));
    EXPECT_EQ(out.LogicalToDevice(P(-4, 5)), P(-2, 1));

    TQelMapMode in;  // zoomed in 3:1
    in.DeviceExtent = P(3, 3);
    in.LogicalExtent = P(1, 1);
    EXPECT_EQ(in.LogicalToDevice(P(1, -1)), P(3, -3));
    EXPECT_EQ(in.DeviceToLogical(P(5, -1)), P(1, -1));
    EXPECT_EQ(in.DeviceToLogical(P(-3, -4)), P(-1, -2));

    TQelMapMode mirrored;  // a negative extent divides the other way round
    mirrored.LogicalExtent = P(-2, 1);
    EXPECT_EQ(mirrored.LogicalToDevice(P(3, 0)), P(-2, 0));
}

TEST(QelMapMode, OriginsShiftBothWays) {
    TQelMapMode m;
    m.LogicalOrigin = P(10, 20);
    m.DeviceOrigin = P(-5, 7);
    m.DeviceExtent = P(3, 3);
    m.LogicalExtent = P(2, 2);
    EXPECT_EQ(m.LogicalToDevice(P(11, 20)), P(-4, 7));   // floor(3/2) - 5
    EXPECT_EQ(m.LogicalToDevice(P(9, 19)), P(-7, 5));    // floor(-3/2) - 5
    EXPECT_EQ(m.DeviceToLogical(P(-4, 7)), P(10, 20));   // floor(2/3) + 10
    EXPECT_EQ(m.LogicalToDeviceRect(TQelRect(10, 20, 14, 22)), TQelRect(-5, 7, 1, 10));
}

TEST(QelMapMode, ZeroExtentAndHugeValuesStayDefined) {
    TQelMapMode m;
    m.LogicalExtent = P(0, 1);
    m.DeviceOrigin = P(40, 50);
    m.LogicalOrigin = P(-3, -4);
    EXPECT_EQ(m.LogicalToDevice(P(1000, 0)).X, 40);  // divides by the logical extent
    EXPECT_EQ(m.LogicalToDevice(P(1000, 0)).Y, 54);
    m.DeviceExtent = P(1, 0);
    EXPECT_EQ(m.DeviceToLogical(P(7, 7)).Y, -4);

    TQelMapMode big;
    big.DeviceExtent = P(16, 16);
    big.DeviceOrigin = P(std::numeric_limits<int32_t>::min(), 0);
    EXPECT_EQ(big.LogicalToDevice(P(2000000000, -2000000000)),
              P(std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::min()));
    EXPECT_EQ(big.DeviceToLogical(P(std::numeric_limits<int32_t>::max(), 0)).X, 268435455);
}

}  // namespace
