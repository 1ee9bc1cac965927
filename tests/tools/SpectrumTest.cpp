#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "QelBitmap.h"
#include "QelError.h"
#include "Spectrum.h"

namespace {

// The layer computed the plain way: column by column, then row by row, with
// single-precision running sums and the extended-precision reciprocal of
// the count.
std::vector<float> DirectDetail(const TQelPixels& P) {
    const int32_t w = P.Width, h = P.Height;
    auto px = [&](int32_t x, int32_t y, int c) { return float(P.PixelAddress(x, y)[c]); };
    std::vector<float> mean(size_t(w) * h * 3), detail(size_t(w) * h * 3);
    auto at = [&](std::vector<float>& v, int32_t x, int32_t y, int c) -> float& {
        return v[(size_t(y) * w + x) * 3 + c];
    };
    for (int32_t x = 0; x < w; ++x) {
        float s[3] = {0, 0, 0};
        int n = 0;
        for (int32_t y = 0; y <= std::min(9, h - 1); ++y, ++n)
            for (int c = 0; c < 3; ++c) s[c] += px(x, y, c);
        for (int c = 0; c < 3; ++c) at(mean, x, 0, c) = float(s[c] * (1.0L / n));
        for (int32_t y = 1; y < h; ++y) {
            if (y - 9 >= 0) {
                for (int c = 0; c < 3; ++c) s[c] -= px(x, y - 9, c);
                --n;
            }
            if (y + 9 < h) {
                for (int c = 0; c < 3; ++c) s[c] += px(x, y + 9, c);
                ++n;
            }
            for (int c = 0; c < 3; ++c) at(mean, x, y, c) = float(s[c] * (1.0L / n));
        }
    }
    for (int32_t y = 0; y < h; ++y) {
        float s[3] = {0, 0, 0};
        int n = 0;
        for (int32_t x = 0; x <= std::min(9, w - 1); ++x, ++n)
            for (int c = 0; c < 3; ++c) s[c] += at(mean, x, y, c);
        auto put = [&](int32_t x) {
            for (int c = 0; c < 3; ++c) at(detail, x, y, c) = px(x, y, c) - float(s[c] * (1.0L / n));
        };
        put(0);
        for (int32_t x = 1; x < w; ++x) {
            if (x - 9 >= 0) {
                for (int c = 0; c < 3; ++c) s[c] -= at(mean, x - 9, y, c);
                --n;
            }
            if (x + 9 < w) {
                for (int c = 0; c < 3; ++c) s[c] += at(mean, x + 9, y, c);
                ++n;
            }
            put(x);
        }
    }
    return detail;
}

void FillRandom(TQelPixelBuffer& B, uint32_t Format, int32_t w, int32_t h, uint32_t seed, bool stark) {
    B.Allocate(Format, TQelRect(0, 0, w, h));
    std::mt19937 rng(seed);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            for (int c = 0; c < B.BytesPerPixel; ++c)
                B.PixelAddress(x, y)[c] = stark ? uint8_t((rng() & 1) * 255) : uint8_t(rng());
}

bool SameAsDirect(const TQelDetailLayer& Layer, const TQelPixels& P) {
    const std::vector<float> want = DirectDetail(P);
    if (Layer.Width() != P.Width || Layer.Height() != P.Height) return false;
    for (int32_t y = 0; y < P.Height; ++y)
        if (std::memcmp(Layer.Row(y), want.data() + size_t(y) * P.Width * 3, size_t(P.Width) * 3 * sizeof(float)))
            return false;
    return true;
}

}  // namespace

TEST(DetailLayer, BitIdenticalToTheColumnByColumnAlgorithmOnRandomImages) {
    struct TCase {
        int32_t w, h, threads;
        uint32_t format;
        bool stark;
    };
    // Borders (1 pixel, shorter than the window, just around 18 and 19),
    // several bands on several threads, 32-bit pixels, harsh contrast.
    const TCase cases[] = {
        {1, 1, 1, QelFormatBGR24, false},    {1, 40, 1, QelFormatBGR24, false},
        {40, 1, 1, QelFormatBGR24, false},   {9, 10, 1, QelFormatBGR24, false},
        {18, 18, 1, QelFormatBGR24, false},  {19, 19, 1, QelFormatBGR24, true},
        {37, 300, 4, QelFormatBGR24, false}, {301, 257, 8, QelFormatBGR24, true},
        {50, 200, 3, QelFormatBGRA32, false}, {123, 640, 0, QelFormatBGR24, false},
    };
    uint32_t seed = 1;
    for (const TCase& c : cases) {
        TQelPixelBuffer image;
        FillRandom(image, c.format, c.w, c.h, seed++, c.stark);
        TQelDetailLayer layer;
        layer.Build(image, c.threads);
        EXPECT_TRUE(SameAsDirect(layer, image)) << c.w << " x " << c.h << " on " << c.threads << " threads";
    }
}

TEST(DetailLayer, SingleDivisionEqualsTheExtendedReciprocalForEveryColumnSum) {
    // The column sums are whole numbers up to 18 * 255 over 1 to 18 rows;
    // the layer multiplies by the double-precision reciprocal.
    for (int n = 1; n <= 18; ++n)
        for (int s = 0; s <= 18 * 255; ++s) {
            ASSERT_EQ(float(s) / float(n), float(float(s) * (1.0L / n))) << s << " / " << n;
            ASSERT_EQ(float(s) / float(n), float(double(s) * (1.0 / n))) << s << " / " << n;
        }
    // A running sum along a row is any float up to 18 * 255 (every 61st
    // pattern, and the ends): over 18 the product rounds as the division.
    const float top = 18 * 255;
    uint32_t last = 0;
    std::memcpy(&last, &top, 4);
    for (uint32_t bits = 0; bits <= last; bits += bits < last - 61 ? 61 : 1) {
        float a = 0;
        std::memcpy(&a, &bits, 4);
        ASSERT_EQ(a / 18.0f, float(double(a) * (1.0 / 18))) << a;
    }
}

TEST(DetailLayer, EdgesUniformImagesAndRebuilds) {
    TQelDetailLayer layer;
    TQelPixelBuffer empty;
    layer.Build(empty);
    EXPECT_TRUE(layer.IsEmpty());

    // A uniform image has no detail; a 1-pixel image is its own mean.
    TQelPixelBuffer flat;
    flat.Allocate(QelFormatBGR24, TQelRect(0, 0, 30, 25));
    for (int32_t y = 0; y < 25; ++y) std::memset(flat.PixelAddress(0, y), 100, 90);
    layer.Build(flat);
    for (int32_t y = 0; y < 25; ++y)
        for (int32_t i = 0; i < 90; ++i) ASSERT_EQ(layer.Row(y)[i], 0.0f);
    TQelPixelBuffer one;
    FillRandom(one, QelFormatBGR24, 1, 1, 7, false);
    layer.Build(one);
    EXPECT_EQ(layer.Row(0)[0], 0.0f);
    EXPECT_TRUE(layer.Fits(one));
    EXPECT_FALSE(layer.Fits(flat));

    // Built again over a same-sized image, in place, nothing of the old one
    // is left.
    TQelPixelBuffer a, b;
    FillRandom(a, QelFormatBGR24, 64, 70, 11, false);
    FillRandom(b, QelFormatBGR24, 64, 70, 12, false);
    layer.Build(a, 2);
    layer.Build(b, 2);
    EXPECT_TRUE(SameAsDirect(layer, b));
}

TEST(DetailLayer, ProgressReachesAllRowsAndAnAbsurdSizeFailsCleanly) {
    TQelPixelBuffer image;
    FillRandom(image, QelFormatBGR24, 20, 500, 3, false);
    TQelDetailLayer layer;
    int32_t last = 0, calls = 0;
    layer.Build(image, 1, [&](int32_t done, int32_t total) {
        EXPECT_GE(done, last);
        EXPECT_EQ(total, 500);
        last = done;
        ++calls;
    });
    EXPECT_EQ(last, 500);
    EXPECT_GT(calls, 2);
    // Over several threads the rows still add up, in order.
    last = 0;
    layer.Build(image, 4, [&](int32_t done, int32_t) {
        EXPECT_GE(done, last);
        last = done;
    });
    EXPECT_EQ(last, 500);

    // Rows that claim far more than memory: the layer is empty afterwards,
    // not half made, and nothing was read.
    uint8_t pixel[4] = {};
    TQelPixels huge;
    huge.Init(TQelRect(0, 0, 2000000000, 2000000000), pixel, QelFormatBGR24, 0);
    EXPECT_THROW(layer.Build(huge), EQelOutOfMemory);
    EXPECT_TRUE(layer.IsEmpty());
}

TEST(DetailLayer, RebuildingTheRowsAnEditReachesEqualsAWholeBuild) {
    TQelPixelBuffer image;
    FillRandom(image, QelFormatBGR24, 150, 300, 21, false);
    TQelDetailLayer layer;
    layer.Build(image, 3);
    std::mt19937 rng(8);
    // Edits in the middle, at the top and bottom edges, one pixel, one in
    // the last column, and a band wider than a thread's piece.
    const TQelRect edits[] = {TQelRect(10, 40, 30, 61),   TQelRect(0, 0, 150, 3),     TQelRect(140, 290, 150, 300),
                              TQelRect(70, 150, 71, 151), TQelRect(149, 99, 150, 100), TQelRect(0, 20, 150, 200)};
    for (const TQelRect& r : edits) {
        for (int32_t y = r.Top; y < r.Bottom; ++y)
            for (int32_t x = r.Left; x < r.Right; ++x)
                for (int c = 0; c < 3; ++c) image.PixelAddress(x, y)[c] = uint8_t(rng());
        const int32_t builds = layer.BuildCount;
        layer.Rebuild(image, r, 2);
        EXPECT_EQ(layer.BuildCount, builds + 1);
        EXPECT_TRUE(SameAsDirect(layer, image)) << r.Top << " .. " << r.Bottom;
    }
    // On a photo wide enough that a 100-row edit is shared among threads.
    TQelPixelBuffer wide;
    FillRandom(wide, QelFormatBGR24, 2400, 240, 23, false);
    TQelDetailLayer wideLayer;
    wideLayer.Build(wide, 8);
    for (const int32_t threads : {8, 0})
        for (const TQelRect& r : {TQelRect(600, 70, 700, 170), TQelRect(0, 0, 2400, 100), TQelRect(0, 150, 100, 240)}) {
            for (int32_t y = r.Top; y < r.Bottom; ++y)
                for (int32_t x = r.Left; x < r.Right; ++x)
                    for (int c = 0; c < 3; ++c) wide.PixelAddress(x, y)[c] = uint8_t(rng());
            wideLayer.Rebuild(wide, r, threads);
            EXPECT_TRUE(SameAsDirect(wideLayer, wide)) << r.Top << " .. " << r.Bottom << " on " << threads;
        }
    // A layer of another size is built whole.
    TQelPixelBuffer other;
    FillRandom(other, QelFormatBGR24, 40, 30, 22, false);
    layer.Rebuild(other, TQelRect(0, 5, 40, 6));
    EXPECT_TRUE(SameAsDirect(layer, other));
}
