#include <gtest/gtest.h>

#include <cstring>
#include <limits>

#include "QelBitmap.h"
#include "QelError.h"

namespace {

void SetPixel(TQelPixels& p, int32_t x, int32_t y, uint8_t b, uint8_t g, uint8_t r) {
    uint8_t* a = p.PixelAddress(x, y);
    a[0] = b;
    a[1] = g;
    a[2] = r;
}

bool PixelIs(const TQelPixels& p, int32_t x, int32_t y, uint8_t b, uint8_t g, uint8_t r) {
    const uint8_t* a = p.PixelAddress(x, y);
    return a[0] == b && a[1] == g && a[2] == r;
}

bool AllZero(const TQelPixels& p) {
    for (int32_t y = p.Top; y < p.Top + p.Height; ++y)
        for (int32_t x = p.Left; x < p.Left + p.Width; ++x)
            if (!PixelIs(p, x, y, 0, 0, 0)) return false;
    return true;
}

}  // namespace

TEST(QelBitmapFormats, BitsPerPixelRule) {
    EXPECT_EQ(BitsPerPixel(0x1012), 24);
    EXPECT_EQ(BitsPerPixel(0x1112), 32);
    EXPECT_EQ(BitsPerPixel(0x1001), 8);
    EXPECT_EQ(BitsPerPixel(0x1009), 0);
    EXPECT_EQ(BitsPerPixel(0x1000), 0);
    EXPECT_EQ(BitsPerPixel(0x1006), 32);
    EXPECT_EQ(BitsPerPixel(0x1122), 64);
    EXPECT_EQ(BitsPerPixel(0x1146), 160);
    EXPECT_EQ(BitsPerPixel(0x1148), 128);  // (24 + 8) * 4
}

TEST(QelPixelBuffer, StrideAndZeroedRows) {
    TQelPixelBuffer b;
    b.Allocate(QelFormatBGR24, TQelRect(0, 0, 3, 2));
    ASSERT_NE(b.Bits, nullptr);
    EXPECT_EQ(b.Stride, 12);
    EXPECT_EQ(b.BytesPerPixel, 3);
    EXPECT_TRUE(AllZero(b));
    b.SetBounds(TQelRect(0, 0, 1, 1));
    EXPECT_EQ(b.Stride, 4);
    b.SetBounds(TQelRect(0, 0, 2, 1));
    EXPECT_EQ(b.Stride, 8);

    b.SetBounds(TQelRect(0, 0, 0, 5));
    EXPECT_EQ(b.Bits, nullptr);
    EXPECT_EQ(b.Stride, 0);
    EXPECT_EQ(b.Height, 5);

    // An inverted rectangle is empty, not a negative stride.
    b.SetBounds(TQelRect(0, 0, -5, 2));
    EXPECT_EQ(b.Bits, nullptr);
    EXPECT_EQ(b.Stride, 0);
    b.SetBounds(TQelRect(0, 4, 3, 0));
    EXPECT_EQ(b.Bits, nullptr);

    b.Release();
    EXPECT_EQ(b.GetBounds(), TQelRect());
}

TEST(QelPixelBuffer, AbsurdSizesGiveNoRowsInsteadOfCrashing) {
    TQelPixelBuffer b;
    // A row wider than 2 GiB and an image far beyond memory.
    b.Allocate(QelFormatBGR24, TQelRect(0, 0, std::numeric_limits<int32_t>::max(), 2));
    EXPECT_EQ(b.Bits, nullptr);
    b.Allocate(QelFormatBGR24, TQelRect(0, 0, 60000, std::numeric_limits<int32_t>::max()));
    EXPECT_EQ(b.Bits, nullptr);
    b.Allocate(QelFormatBGR24, TQelRect(std::numeric_limits<int32_t>::min(), 0, std::numeric_limits<int32_t>::max(), 1));
    EXPECT_EQ(b.Bits, nullptr);

    // Copying from or into a buffer without rows does nothing.
    TQelPixelBuffer other;
    other.Allocate(QelFormatBGR24, TQelRect(0, 0, 4, 4));
    other.CopyFrom(b);
    EXPECT_TRUE(AllZero(other));
    b.Allocate(QelFormatBGR24, TQelRect(0, 0, 4, 0));
    b.CopyFrom(other);
    EXPECT_EQ(b.Bits, nullptr);

    // After a failed allocation the same bounds are tried again.
    b.Allocate(QelFormatBGR24, TQelRect(0, 0, 60000, std::numeric_limits<int32_t>::max()));
    ASSERT_EQ(b.Bits, nullptr);
    b.Reallocate(TQelRect(0, 0, 2, 2), true);
    EXPECT_NE(b.Bits, nullptr);
}

TEST(QelPixelBuffer, ReallocateKeepsPixelsAtTheirCoordinates) {
    TQelPixelBuffer b;
    b.Allocate(QelFormatBGR24, TQelRect(0, 0, 2, 2));
    SetPixel(b, 1, 1, 1, 2, 3);
    b.Reallocate(TQelRect(-1, -1, 3, 3), true);
    ASSERT_NE(b.Bits, nullptr);
    EXPECT_EQ(b.Stride, 12);
    EXPECT_TRUE(PixelIs(b, 1, 1, 1, 2, 3));
    EXPECT_EQ(b.PixelAddress(1, 1) - b.Bits, 30);
    EXPECT_TRUE(PixelIs(b, -1, -1, 0, 0, 0));
    EXPECT_TRUE(PixelIs(b, 0, 0, 0, 0, 0));

    // Same bounds: nothing changes, even without KeepPixels.
    const uint8_t* before = b.Bits;
    b.Reallocate(TQelRect(-1, -1, 3, 3), false);
    EXPECT_EQ(b.Bits, before);
    EXPECT_TRUE(PixelIs(b, 1, 1, 1, 2, 3));
    b.Allocate(QelFormatBGR24, TQelRect(-1, -1, 3, 3));
    EXPECT_TRUE(PixelIs(b, 1, 1, 1, 2, 3));

    // A new format makes new rows even for the same bounds.
    b.Allocate(QelFormatBGRA32, TQelRect(-1, -1, 3, 3));
    EXPECT_EQ(b.Stride, 16);
    EXPECT_EQ(b.BytesPerPixel, 4);
    EXPECT_EQ(b.PixelAddress(1, 1)[0], 0);

    // Shrinking with KeepPixels keeps what stays inside.
    b.Allocate(QelFormatBGR24, TQelRect(0, 0, 4, 4));
    SetPixel(b, 2, 3, 9, 8, 7);
    b.Reallocate(TQelRect(2, 2, 3, 4), true);
    EXPECT_TRUE(PixelIs(b, 2, 3, 9, 8, 7));
    b.Reallocate(TQelRect(0, 0, 4, 4), false);
    EXPECT_TRUE(AllZero(b));
}

TEST(QelPixelBuffer, CopyRectCopiesOnlyTheOverlap) {
    TQelPixelBuffer src, dst;
    src.Allocate(QelFormatBGR24, TQelRect(10, 10, 14, 14));
    for (int32_t y = 10; y < 14; ++y)
        for (int32_t x = 10; x < 14; ++x) SetPixel(src, x, y, uint8_t(x), uint8_t(y), 1);
    dst.Allocate(QelFormatBGR24, TQelRect(0, 0, 3, 3));

    // (11,11)-(14,14) of the source lands at (1,1): only (1,1)-(3,3) fits.
    dst.CopyRect(1, 1, TQelRect(11, 11, 14, 14), src);
    EXPECT_TRUE(PixelIs(dst, 0, 0, 0, 0, 0));
    EXPECT_TRUE(PixelIs(dst, 1, 1, 11, 11, 1));
    EXPECT_TRUE(PixelIs(dst, 2, 1, 12, 11, 1));
    EXPECT_TRUE(PixelIs(dst, 2, 2, 12, 12, 1));
    EXPECT_TRUE(PixelIs(dst, 0, 2, 0, 0, 0));

    // A source rectangle reaching past the source is cut to it first.
    dst.Allocate(QelFormatBGR24, TQelRect(0, 0, 3, 3));
    dst.Reallocate(TQelRect(0, 0, 3, 4), false);
    dst.CopyRect(0, 0, TQelRect(8, 8, 11, 12), src);
    EXPECT_TRUE(PixelIs(dst, 1, 1, 0, 0, 0));
    EXPECT_TRUE(PixelIs(dst, 2, 2, 10, 10, 1));
    EXPECT_TRUE(PixelIs(dst, 2, 3, 10, 11, 1));

    // CopyFrom goes by coordinates.
    TQelPixelBuffer big;
    big.Allocate(QelFormatBGR24, TQelRect(9, 9, 12, 12));
    big.CopyFrom(src);
    EXPECT_TRUE(PixelIs(big, 9, 9, 0, 0, 0));
    EXPECT_TRUE(PixelIs(big, 11, 10, 11, 10, 1));

    // Formats must match.
    TQelPixelBuffer wide;
    wide.Allocate(QelFormatBGRA32, TQelRect(10, 10, 14, 14));
    wide.CopyFrom(src);
    EXPECT_EQ(wide.PixelAddress(11, 11)[0], 0);

    // Far-off destination points do not overflow into a copy.
    dst.Allocate(QelFormatBGR24, TQelRect(0, 0, 3, 3));
    dst.CopyRect(std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::min(), src.GetBounds(), src);
    EXPECT_TRUE(AllZero(dst));
}

TEST(QelPixelBuffer, ViewsAndMovesShareTheLayout) {
    TQelPixelBuffer b;
    b.Allocate(QelFormatBGR24, TQelRect(5, 6, 8, 8));
    SetPixel(b, 7, 7, 4, 5, 6);
    TQelLTPixels view;
    view.Init(b.GetBounds(), b.Bits, b.Format, b.Stride);
    EXPECT_EQ(view.GetBounds(), TQelRect(5, 6, 8, 8));
    EXPECT_EQ(view.BytesPerPixel, 3);
    EXPECT_TRUE(PixelIs(view, 7, 7, 4, 5, 6));

    TQelPixelBuffer moved(std::move(b));
    EXPECT_EQ(b.Bits, nullptr);
    EXPECT_TRUE(PixelIs(moved, 7, 7, 4, 5, 6));
    b = std::move(moved);
    EXPECT_TRUE(PixelIs(b, 7, 7, 4, 5, 6));
}

// Rows of the byte count a copy needs (a turned image's) are reused, and the
// padding the new shape leaves is zero again, as in fresh rows.
TEST(QelPixelBuffer, AssignCopyReusesRowsOfTheSameSizeWithZeroPadding) {
    TQelPixelBuffer source, copy;
    source.Allocate(QelFormatBGR24, TQelRect(0, 0, 5, 8));  // stride 16, 128 bytes
    for (int32_t y = 0; y < 8; ++y)
        for (int32_t x = 0; x < 5; ++x) SetPixel(source, x, y, uint8_t(x), uint8_t(y), 7);
    copy.Allocate(QelFormatBGR24, TQelRect(0, 0, 8, 4));  // stride 24, 96 bytes: other size
    std::memset(copy.Bits, 0xEE, 96);
    ASSERT_TRUE(copy.AssignCopy(source));
    EXPECT_EQ(copy.GetBounds(), source.GetBounds());
    EXPECT_EQ(copy.Stride, 16);
    EXPECT_EQ(std::memcmp(copy.Bits, source.Bits, 128), 0);

    // Same byte count, other shape: 8 rows of 16 become 4 rows of 32 (10 x 4).
    TQelPixelBuffer turned;
    turned.Allocate(QelFormatBGR24, TQelRect(2, 3, 12, 7));
    for (int32_t y = 3; y < 7; ++y)
        for (int32_t x = 2; x < 12; ++x) SetPixel(turned, x, y, 1, 2, 3);
    const uint8_t* rows = copy.Bits;
    std::memset(copy.Bits, 0xEE, 128);
    ASSERT_TRUE(copy.AssignCopy(turned));
    EXPECT_EQ(copy.Bits, rows);
    EXPECT_EQ(copy.GetBounds(), TQelRect(2, 3, 12, 7));
    EXPECT_EQ(copy.Stride, 32);
    for (int32_t y = 0; y < 4; ++y) {
        EXPECT_EQ(std::memcmp(copy.Bits + y * 32, turned.Bits + y * 32, 30), 0);
        EXPECT_EQ(copy.Bits[y * 32 + 30] | copy.Bits[y * 32 + 31], 0) << y;
    }

    TQelPixelBuffer empty;
    EXPECT_FALSE(copy.AssignCopy(empty));
    EXPECT_EQ(copy.Bits, nullptr);
}

TEST(QelPixelMask, InitExtendAndAddresses) {
    TQelPixelMask m;
    m.Init(2, 3, -4, 5);
    EXPECT_EQ(m.Width, 0);
    EXPECT_EQ(m.Data, nullptr);

    m.Init(0, 0, 2, 2);
    ASSERT_NE(m.Data, nullptr);
    m.Data[3] = 200;  // (1, 1)
    EXPECT_EQ(m.MaskAddress(2, 1), nullptr);
    EXPECT_EQ(m.MaskAddress(1, 2), nullptr);
    EXPECT_EQ(m.MaskAddress(-1, 0), nullptr);
    EXPECT_EQ(*m.MaskAddress(1, 1), 200);

    // Inside or empty: unchanged; an empty rectangle does not pull in the origin.
    uint8_t* before = m.Data;
    m.Extend(TQelRect(0, 0, 1, 1));
    m.Extend(TQelRect(0, 0, 0, 0));
    m.Extend(TQelRect(50, 50, 40, 60));
    EXPECT_EQ(m.Data, before);
    EXPECT_EQ(m.GetBounds(), TQelRect(0, 0, 2, 2));

    m.Extend(TQelRect(-2, -1, 1, 1));
    EXPECT_EQ(m.GetBounds(), TQelRect(-2, -1, 2, 2));
    EXPECT_EQ(*m.MaskAddress(1, 1), 200);
    EXPECT_EQ(*m.MaskAddress(-2, -1), 0);
    EXPECT_EQ(*m.MaskAddress(0, 0), 0);

    TQelPixelMask e;
    e.Extend(TQelRect(5, 5, 8, 7));
    EXPECT_EQ(e.GetBounds(), TQelRect(5, 5, 8, 7));
    for (int32_t i = 0; i < 6; ++i) EXPECT_EQ(e.Data[i], 0);

    e.Clear();
    EXPECT_EQ(e.Data, nullptr);
    EXPECT_EQ(e.GetBounds(), TQelRect());
}

TEST(QelPixelMask, MergeMaxOverTheUnion) {
    TQelPixelMask a, b;
    a.Init(0, 0, 2, 1);
    a.Data[0] = 10;
    a.Data[1] = 90;
    b.Init(4, 0, 1, 1);
    b.Data[0] = 70;
    a.MergeMax(b);
    EXPECT_EQ(a.GetBounds(), TQelRect(0, 0, 5, 1));
    const uint8_t expected[] = {10, 90, 0, 0, 70};
    EXPECT_EQ(std::memcmp(a.Data, expected, 5), 0);

    TQelPixelMask c;
    c.Init(1, 0, 3, 1);
    c.Data[0] = 50;
    c.Data[1] = 20;
    c.Data[2] = 5;
    a.MergeMax(c);
    const uint8_t merged[] = {10, 90, 20, 5, 70};
    EXPECT_EQ(std::memcmp(a.Data, merged, 5), 0);

    TQelPixelMask empty;
    a.MergeMax(empty);
    EXPECT_EQ(a.GetBounds(), TQelRect(0, 0, 5, 1));
}

TEST(QelPixelMask, ImpossibleSizesRaiseAndKeepTheMask) {
    TQelPixelMask m;
    m.Init(0, 0, 2, 2);
    m.Data[0] = 1;
    EXPECT_THROW(m.Extend(TQelRect(std::numeric_limits<int32_t>::min(), 0, std::numeric_limits<int32_t>::max(), 2)),
                 EQelOutOfMemory);
    EXPECT_THROW(m.Init(0, 0, std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::max()),
                 EQelOutOfMemory);
    EXPECT_EQ(m.GetBounds(), TQelRect(0, 0, 2, 2));
    EXPECT_EQ(m.Data[0], 1);
}

TEST(QelBitmapSizes, FitAndProportions) {
    int32_t w = -7, h = -7;
    EXPECT_TRUE(FitSizeInto(400, 300, 100, 100, w, h));
    EXPECT_EQ(w, 100);
    EXPECT_EQ(h, 75);
    EXPECT_TRUE(FitSizeInto(300, 400, 100, 100, w, h));
    EXPECT_EQ(w, 75);
    EXPECT_EQ(h, 100);
    EXPECT_TRUE(FitSizeInto(50, 50, 100, 100, w, h));
    EXPECT_EQ(w, 100);
    EXPECT_EQ(h, 100);
    EXPECT_TRUE(FitSizeInto(0, 5, 100, 100, w, h));
    EXPECT_EQ(w, 0);
    EXPECT_EQ(h, 100);
    w = h = -7;
    EXPECT_FALSE(FitSizeInto(400, 300, 0, 100, w, h));
    EXPECT_FALSE(FitSizeInto(400, 300, 100, 0, w, h));
    EXPECT_EQ(w, -7);
    EXPECT_EQ(h, -7);

    EXPECT_EQ(ProportionalWidth(400, 150, 300), 200);
    EXPECT_EQ(ProportionalHeight(300, 3, 400), 2);  // 2.25
    EXPECT_EQ(ProportionalWidth(400, 150, 0), -1);
}
