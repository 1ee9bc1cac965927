#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "QelBitmap.h"
#include "QelParallel.h"

namespace {

// The turns as they were written pixel by pixel.
void ReferenceTurn(const TQelPixels& from, TQelPixels& to, TQelPixelTurn turn) {
    const int32_t w = from.Width, h = from.Height;
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t* src = from.PixelAddress(0, y);
        switch (turn) {
        case TQelPixelTurn::FlipHorizontal:
            for (int32_t x = 0; x < w; ++x)
                std::memcpy(to.PixelAddress(0, y) + ptrdiff_t(w - 1 - x) * 3, src + ptrdiff_t(x) * 3, 3);
            break;
        case TQelPixelTurn::FlipVertical: std::memcpy(to.PixelAddress(0, h - 1 - y), src, size_t(w) * 3); break;
        case TQelPixelTurn::Left:
            for (int32_t x = 0; x < w; ++x) std::memcpy(to.PixelAddress(y, w - 1 - x), src + ptrdiff_t(x) * 3, 3);
            break;
        case TQelPixelTurn::Right:
            for (int32_t x = 0; x < w; ++x) std::memcpy(to.PixelAddress(h - 1 - y, x), src + ptrdiff_t(x) * 3, 3);
            break;
        }
    }
}

std::vector<uint8_t> Bytes(const TQelPixels& p) {
    return std::vector<uint8_t>(p.Bits, p.Bits + size_t(p.Stride) * size_t(p.Height));
}

struct TThreads {
    explicit TThreads(int32_t n) { QelSetThreadCount(n); }
    ~TThreads() { QelSetThreadCount(0); }
};

}  // namespace

// One pixel, row or column, sizes off the tile grid, padded rows; on one
// thread and on several (the larger sizes split into pieces).
TEST(QelTurnPixels, EveryTurnMatchesThePixelByPixelTurnByteForByte) {
    const std::pair<int32_t, int32_t> sizes[] = {{1, 1}, {1, 37}, {37, 1}, {64, 64}, {65, 63},
                                                 {130, 67}, {1025, 515}, {3, 2000}};
    std::mt19937 random(7);
    for (const int32_t threads : {1, 5}) {
        const TThreads count(threads);
        for (const auto& [w, h] : sizes) {
            TQelPixelBuffer source;
            source.Allocate(QelFormatBGR24, TQelRect(0, 0, w, h));
            ASSERT_NE(source.Bits, nullptr);
            for (int32_t y = 0; y < h; ++y)
                for (int32_t i = 0; i < w * 3; ++i) source.PixelAddress(0, y)[i] = uint8_t(random());
            for (const TQelPixelTurn turn : {TQelPixelTurn::FlipHorizontal, TQelPixelTurn::FlipVertical,
                                             TQelPixelTurn::Left, TQelPixelTurn::Right}) {
                const bool quarter = turn == TQelPixelTurn::Left || turn == TQelPixelTurn::Right;
                const TQelRect bounds(0, 0, quarter ? h : w, quarter ? w : h);
                TQelPixelBuffer expected, actual;
                expected.Allocate(QelFormatBGR24, bounds);
                actual.Allocate(QelFormatBGR24, bounds);
                ReferenceTurn(source, expected, turn);
                // Rows of any content: every byte is written, padding as 0.
                std::memset(actual.Bits, 0xEE, size_t(actual.Stride) * size_t(actual.Height));
                ASSERT_TRUE(QelTurnPixels(source, actual, turn));
                EXPECT_EQ(Bytes(actual), Bytes(expected))
                    << w << " x " << h << " turn " << int(turn) << " threads " << threads;
            }
        }
    }
}

TEST(QelTurnPixels, RefusesOtherFormatsAndSizesWritingNothing) {
    TQelPixelBuffer source, target, wide;
    source.Allocate(QelFormatBGR24, TQelRect(0, 0, 5, 3));
    target.Allocate(QelFormatBGR24, TQelRect(0, 0, 5, 3));
    std::memset(source.Bits, 7, size_t(source.Stride) * 3);
    // A quarter turn needs the turned size, a flip the same one.
    EXPECT_FALSE(QelTurnPixels(source, target, TQelPixelTurn::Left));
    EXPECT_EQ(Bytes(target), std::vector<uint8_t>(size_t(target.Stride) * 3, 0));
    wide.Allocate(QelFormatBGRA32, TQelRect(0, 0, 5, 3));
    EXPECT_FALSE(QelTurnPixels(source, wide, TQelPixelTurn::FlipVertical));
    TQelPixelBuffer empty;
    EXPECT_FALSE(QelTurnPixels(empty, target, TQelPixelTurn::FlipVertical));
}
