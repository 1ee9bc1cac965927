#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "QelNumeric.h"

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

struct Ranks {
    int32_t Max = -1, Mid = -1, Min = -1;
};

Ranks Rank(float x, float y, float z) {
    Ranks r;
    RankVectorComponents(TQelColorVector{x, y, z}, r.Max, r.Mid, r.Min);
    return r;
}

}  // namespace

TEST(QelNumeric, ClampTestsLowFirst) {
    EXPECT_EQ(ClampInt(5, 10, 0), 10);
    EXPECT_EQ(ClampInt(-3, 0, 9), 0);
    EXPECT_EQ(ClampInt(12, 0, 9), 9);
    EXPECT_EQ(ClampInt64(int64_t(1) << 40, 0, 5), 5);
    EXPECT_EQ(ClampDouble(0.5, 1.0, 0.0), 1.0);
    EXPECT_EQ(ClampExtended(-1.0L, 0.0L, 2.0L), 0.0L);
}

TEST(QelNumeric, SameFloatToleranceAndDefault) {
    EXPECT_TRUE(SameFloat(1.0, 1.0 + 5e-9, -1));
    EXPECT_FALSE(SameFloat(1.0, 1.0 + 5e-8, -1));
    EXPECT_FALSE(SameFloat(1.0, 1.1, 0));
    EXPECT_TRUE(SameFloat(0.3, 0.3, 0));
    EXPECT_TRUE(SameFloat(1.0, 1.25, 0.25));
    EXPECT_FALSE(SameFloat(NaN, NaN, 1));
    EXPECT_TRUE(IsZeroFloat(-5e-9, -1));
    EXPECT_FALSE(IsZeroFloat(1e-3, -1));
}

TEST(QelNumeric, RankFavoursEarlierOnTiesAndAlwaysGivesPermutation) {
    Ranks r = Rank(1, 3, 2);
    EXPECT_EQ(r.Max, 1);
    EXPECT_EQ(r.Mid, 2);
    EXPECT_EQ(r.Min, 0);
    r = Rank(5, 5, 1);
    EXPECT_EQ(r.Max, 0);
    EXPECT_EQ(r.Mid, 1);
    EXPECT_EQ(r.Min, 2);
    r = Rank(2, 2, 2);
    EXPECT_EQ(r.Max, 0);
    EXPECT_EQ(r.Mid, 1);
    EXPECT_EQ(r.Min, 2);

    // A NaN ranks lowest; every index is written exactly once.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float cases[][3] = {{1, nan, 0}, {nan, 1, 2}, {nan, nan, nan}, {nan, 3, nan}, {2, 1, nan}};
    for (const auto& c : cases) {
        r = Rank(c[0], c[1], c[2]);
        ASSERT_GE(r.Max, 0);
        ASSERT_GE(r.Mid, 0);
        ASSERT_GE(r.Min, 0);
        EXPECT_EQ(r.Max + r.Mid + r.Min, 3);
        EXPECT_TRUE(r.Max != r.Mid && r.Mid != r.Min && r.Max != r.Min);
    }
    r = Rank(1, nan, 0);
    EXPECT_EQ(r.Max, 0);
    EXPECT_EQ(r.Mid, 2);
    EXPECT_EQ(r.Min, 1);
}

TEST(QelNumeric, FloatToByteRoundsHalvesToEvenAndClamps) {
    EXPECT_EQ(FloatToByte(2.5), 2);
    EXPECT_EQ(FloatToByte(3.5), 4);
    EXPECT_EQ(FloatToByte(127.5), 128);
    EXPECT_EQ(FloatToByte(-3.7), 0);
    EXPECT_EQ(FloatToByte(300), 255);
    EXPECT_EQ(FloatToByte(254.6), 255);
    EXPECT_EQ(FloatToByte(NaN), 0);
    EXPECT_EQ(FloatToByte(std::numeric_limits<double>::infinity()), 255);
    EXPECT_EQ(FloatToByte(-std::numeric_limits<double>::infinity()), 0);
}

TEST(QelNumeric, ColourLayoutsConvert) {
    EXPECT_EQ(SwapRedBlue(0x11223344u), 0x00443322u);
    EXPECT_EQ(ColorFromBGR(0x00112233u), 0x00332211u);
    EXPECT_TRUE(SameColor(0xFF102030u, 0x00102030u));
    EXPECT_FALSE(SameColor(0x00102031u, 0x00102030u));
    EXPECT_TRUE(SameColorBytes(0x10, 0x20, 0x30, 0xAB102030u));
    EXPECT_FALSE(SameColorBytes(0x30, 0x20, 0x10, 0x00102030u));

    TQelRGBTriple t;
    ColorBytesFromFloats(t, 255.4, 128.5, -1);  // R, G, B
    EXPECT_EQ(t, (TQelRGBTriple{0, 128, 255}));
    ColorToColorBytes(0x00112233u, t);  // TColor: red in byte 0
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&t);
    EXPECT_EQ(bytes[0], 0x11);
    EXPECT_EQ(bytes[1], 0x22);
    EXPECT_EQ(bytes[2], 0x33);
    MakeColorBytes(1, 2, 3, t);
    EXPECT_EQ(t, (TQelRGBTriple{3, 2, 1}));

    // Packed colour -> vector -> pixel keeps B, G, R in memory order.
    TQelColorVector v;
    ColorToVector(v, 0x00AABBCCu);
    EXPECT_EQ(v.x, 0xCC);
    EXPECT_EQ(v.z, 0xAA);
    ColorBytesFromVector(v, t);
    EXPECT_EQ(t, (TQelRGBTriple{0xCC, 0xBB, 0xAA}));
    ColorBytesToVector(1, 2, 3, v);
    EXPECT_EQ(v.x, 3);
    EXPECT_EQ(v.z, 1);

    TQelColorVector w;
    ScaleVector(TQelColorVector{1, 2, 3}, w, 0.5);
    EXPECT_FLOAT_EQ(w.x, 0.5f);
    EXPECT_FLOAT_EQ(w.z, 1.5f);
}

TEST(QelNumeric, BlendShiftsTheSignedProduct) {
    TQelRGBTriple t;
    BlendRGB(1, t, 0x000000, 0xFFFFFF);
    EXPECT_EQ(t, (TQelRGBTriple{254, 254, 254}));
    BlendRGB(128, t, 0xFFFFFF, 0x000000);
    EXPECT_EQ(t, (TQelRGBTriple{127, 127, 127}));
    BlendRGB(255, t, 0x0A0B0C, 0xF0F0F0);
    EXPECT_EQ(t, (TQelRGBTriple{0x0C, 0x0B, 0x0A}));
    BlendRGB(0, t, 0x0A0B0C, 0xF0F1F2);
    EXPECT_EQ(t, (TQelRGBTriple{0xF2, 0xF1, 0xF0}));

    TQelRGBTriple p{10, 20, 30};
    BlendPixel(p, 0, 0xFFFFFF);
    EXPECT_EQ(p, (TQelRGBTriple{10, 20, 30}));
    BlendPixel(p, 255, 0x010203);
    EXPECT_EQ(p, (TQelRGBTriple{3, 2, 1}));
    p = TQelRGBTriple{255, 0, 100};
    BlendPixel(p, 1, 0x0000FF00u);  // fore: B 0, G 255, R 0
    EXPECT_EQ(p, (TQelRGBTriple{254, 0, 99}));

    ScaleRGB(1, 2, t, 0x00FF0305);
    EXPECT_EQ(t, (TQelRGBTriple{3, 2, 128}));  // halves away from zero
    ScaleRGB(1, 0, t, 0x00010203);
    EXPECT_EQ(t, (TQelRGBTriple{255, 255, 255}));  // MulDiv answers -1
}
