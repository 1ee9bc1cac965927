#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "QelBitmap.h"

namespace {

std::vector<TPixelTap> EntryOf(const TPixelMappingTable& t, int32_t i) {
    const auto e = t.Entry(i);
    return std::vector<TPixelTap>(e.begin(), e.end());
}

int32_t WeightSum(const TPixelMappingTable& t, int32_t i) {
    int32_t s = 0;
    for (const TPixelTap& tap : t.Entry(i)) s += tap.Weight;
    return s;
}

void Fill(TQelPixelBuffer& b, uint8_t value) {
    for (int32_t y = 0; y < b.Height; ++y) std::memset(b.Bits + ptrdiff_t(y) * b.Stride, value, size_t(b.Stride));
}

void FillRandom(TQelPixels& b, std::mt19937& rng) {
    std::uniform_int_distribution<int> byte(0, 255);
    for (int32_t y = 0; y < b.Height; ++y)
        for (int32_t x = 0; x < b.Width * 3; ++x) b.Bits[ptrdiff_t(y) * b.Stride + x] = uint8_t(byte(rng));
}

std::vector<uint8_t> Channel(const TQelPixels& b, int32_t y, int channel) {
    std::vector<uint8_t> out;
    for (int32_t x = b.Left; x < b.Left + b.Width; ++x) out.push_back(b.PixelAddress(x, y)[channel]);
    return out;
}

// The resampler written out plainly from its tables, one pixel at a time.
void ReferenceResample(TQelPixels& dest, const TQelRect& destRect, const TQelRect& clipRect, const TQelPixels& source,
                       const TQelRect& sourceRect, const TPixelResampler& kernel) {
    TQelRect clip, src;
    if (!QelIntersectRect(clip, clipRect, dest.GetBounds())) return;
    if (!QelIntersectRect(src, sourceRect, source.GetBounds())) return;
    TPixelMappingTable h, v;
    BuildMappingTable(destRect.Left, destRect.Right, clip.Left, clip.Right, src.Left, src.Right, kernel, h);
    BuildMappingTable(destRect.Top, destRect.Bottom, clip.Top, clip.Bottom, src.Top, src.Bottom, kernel, v);
    if (h.IsEmpty() || v.IsEmpty()) return;
    for (int32_t y = clip.Top; y < clip.Bottom; ++y)
        for (int32_t x = clip.Left; x < clip.Right; ++x)
            for (int c = 0; c < 3; ++c) {
                int64_t total = 0;
                for (const TPixelTap& ht : h.Entry(x - clip.Left))
                    for (const TPixelTap& vt : v.Entry(y - clip.Top))
                        total += int64_t(ht.Weight) * vt.Weight * source.PixelAddress(ht.Index, vt.Index)[c];
                uint8_t out;
                if (kernel.NeedsClamping())
                    out = total > 0xFF0000 ? 255 : (total < 0 ? 0 : uint8_t(total >> 16));
                else
                    out = uint8_t(uint32_t(total) >> 16);
                dest.PixelAddress(x, y)[c] = out;
            }
}

// A kernel with negative lobes and no clamping, to reach the low-byte path.
class TSharpTentResampler : public TPixelResampler {
public:
    double Filter(double x) const override {
        x = x < 0 ? -x : x;
        return x >= 2 ? 0 : (x < 1 ? 1.2 - x : -0.2 * (2 - x));
    }
    double GetRadius() const override { return 2; }
};

// Weights far beyond any real kernel: they need 64-bit totals and do not fit
// the 16-bit multiply-add, so the slower exact paths run.
class THugeWeightResampler : public TPixelResampler {
public:
    bool NeedsClamping() const override { return true; }
    double Filter(double x) const override {
        x = x < 0 ? -x : x;
        return x >= 2 ? 0 : (x < 1 ? 200 - 150 * x : -100 * (2 - x));
    }
    double GetRadius() const override { return 2; }
};

class ThreadCountGuard {
public:
    explicit ThreadCountGuard(int32_t n) { SetResampleThreadCount(n); }
    ~ThreadCountGuard() { SetResampleThreadCount(0); }
};

}  // namespace

TEST(QelResampleTable, LanczosKernel) {
    TLanczosResampler k;
    EXPECT_TRUE(k.NeedsClamping());
    EXPECT_EQ(k.GetRadius(), 3.0);
    EXPECT_EQ(k.Filter(0), 1.0);
    EXPECT_EQ(k.Filter(3), 0.0);
    EXPECT_EQ(k.Filter(-3.5), 0.0);
    EXPECT_NEAR(k.Filter(1), 0.0, 1e-15);
    EXPECT_NEAR(k.Filter(0.5), 0.6079271018540267, 1e-12);
    EXPECT_EQ(k.Filter(-0.5), k.Filter(0.5));
}

TEST(QelResampleTable, ReductionTapsMatchAndSumTo256) {
    TLanczosResampler k;
    TPixelMappingTable t;
    BuildMappingTable(0, 2, 0, 2, 0, 4, k, t);
    ASSERT_EQ(t.Count(), 2);
    const std::vector<TPixelTap> expected = {{0, 1},  {0, 4},  {0, -9}, {0, -17}, {0, 35}, {0, 114},
                                             {1, 114}, {2, 35}, {3, -17}, {3, -9},  {3, 4},  {3, 1}};
    EXPECT_EQ(EntryOf(t, 0), expected);
    EXPECT_EQ(WeightSum(t, 1), 256);

    BuildMappingTable(0, 10, 0, 10, 0, 1000, k, t);
    ASSERT_EQ(t.Count(), 10);
    for (int32_t i = 0; i < 10; ++i) {
        EXPECT_EQ(WeightSum(t, i), 256);
        for (const TPixelTap& tap : t.Entry(i)) {
            EXPECT_GE(tap.Index, 0);
            EXPECT_LE(tap.Index, 999);
            EXPECT_NE(tap.Weight, 0);
        }
    }

    // Same size: one full tap per position.
    BuildMappingTable(3, 10, 3, 10, 20, 27, k, t);
    for (int32_t i = 0; i < 7; ++i) EXPECT_EQ(EntryOf(t, i), (std::vector<TPixelTap>{{20 + i, 256}}));

    // Only the clipped positions get entries, computed for their place.
    TPixelMappingTable part;
    BuildMappingTable(0, 10, 4, 6, 0, 1000, k, part);
    ASSERT_EQ(part.Count(), 2);
    BuildMappingTable(0, 10, 0, 10, 0, 1000, k, t);
    EXPECT_EQ(EntryOf(part, 0), EntryOf(t, 4));
    EXPECT_EQ(EntryOf(part, 1), EntryOf(t, 5));
}

TEST(QelResampleTable, DegenerateRanges) {
    TLanczosResampler k;
    TPixelMappingTable t;
    BuildMappingTable(0, 4, 0, 4, 5, 5, k, t);  // no source
    EXPECT_TRUE(t.IsEmpty());
    BuildMappingTable(0, 4, 0, 3, 7, 8, k, t);  // one source pixel
    ASSERT_EQ(t.Count(), 3);
    for (int32_t i = 0; i < 3; ++i) EXPECT_EQ(EntryOf(t, i), (std::vector<TPixelTap>{{7, 256}}));
    BuildMappingTable(0, 4, 2, 2, 0, 8, k, t);  // nothing to compute
    EXPECT_TRUE(t.IsEmpty());

    // An empty destination range: one middle tap, and only for one position.
    BuildMappingTable(5, 5, 0, 1, -3, 8, k, t);
    ASSERT_EQ(t.Count(), 1);
    EXPECT_EQ(EntryOf(t, 0), (std::vector<TPixelTap>{{2, 256}}));
    BuildMappingTable(5, 5, 0, 3, -3, 8, k, t);
    EXPECT_TRUE(t.IsEmpty());

    // Inverted ranges map nothing.
    BuildMappingTable(4, 0, 0, 4, 0, 8, k, t);
    EXPECT_TRUE(t.IsEmpty());
    BuildMappingTable(0, 4, 0, 4, 8, 0, k, t);
    EXPECT_TRUE(t.IsEmpty());
    BuildMappingTable(0, 4, 4, 0, 0, 8, k, t);
    EXPECT_TRUE(t.IsEmpty());

    // When every weight rounds away the nearest source pixel is used, kept
    // inside the source even for positions beyond the destination range.
    BuildMappingTable(0, 1, 0, 3, 0, 1000, k, t);
    ASSERT_EQ(t.Count(), 3);
    EXPECT_EQ(EntryOf(t, 0), (std::vector<TPixelTap>{{499, 256}}));
    EXPECT_EQ(EntryOf(t, 2), (std::vector<TPixelTap>{{999, 256}}));
}

TEST(QelResamplePixels, KnownResults) {
    TLanczosResampler k;
    TQelPixelBuffer src, dst;

    // Enlarging black|white: ringing clamped, totals truncated.
    src.Allocate(QelFormatBGR24, TQelRect(0, 0, 2, 1));
    std::memset(src.PixelAddress(1, 0), 255, 3);
    dst.Allocate(QelFormatBGR24, TQelRect(0, 0, 4, 1));
    ResamplePixels(dst, dst.GetBounds(), dst.GetBounds(), src, src.GetBounds(), k);
    for (int c = 0; c < 3; ++c) EXPECT_EQ(Channel(dst, 0, c), (std::vector<uint8_t>{0, 53, 201, 255}));

    // Reducing a hard edge.
    src.Allocate(QelFormatBGR24, TQelRect(0, 0, 4, 4));
    for (int32_t y = 0; y < 4; ++y) std::memset(src.PixelAddress(2, y), 255, 6);
    dst.Allocate(QelFormatBGR24, TQelRect(0, 0, 2, 2));
    ResamplePixels(dst, dst.GetBounds(), dst.GetBounds(), src, src.GetBounds(), k);
    for (int32_t y = 0; y < 2; ++y)
        for (int c = 0; c < 3; ++c) EXPECT_EQ(Channel(dst, y, c), (std::vector<uint8_t>{13, 241}));

    // Same size copies exactly.
    std::mt19937 rng(7);
    src.Allocate(QelFormatBGR24, TQelRect(0, 0, 7, 5));
    FillRandom(src, rng);
    dst.Allocate(QelFormatBGR24, TQelRect(0, 0, 7, 5));
    ResamplePixels(dst, dst.GetBounds(), dst.GetBounds(), src, src.GetBounds(), k);
    for (int32_t y = 0; y < 5; ++y) EXPECT_EQ(std::memcmp(dst.PixelAddress(0, y), src.PixelAddress(0, y), 21), 0);

    // A one-pixel-wide source gives every column the same colour.
    src.Allocate(QelFormatBGR24, TQelRect(0, 0, 1, 3));
    FillRandom(src, rng);
    dst.Allocate(QelFormatBGR24, TQelRect(0, 0, 9, 6));
    ResamplePixels(dst, dst.GetBounds(), dst.GetBounds(), src, src.GetBounds(), k);
    for (int32_t y = 0; y < 6; ++y)
        for (int32_t x = 1; x < 9; ++x) EXPECT_EQ(std::memcmp(dst.PixelAddress(x, y), dst.PixelAddress(0, y), 3), 0);
}

TEST(QelResamplePixels, WritesOnlyInsideTheClip) {
    TLanczosResampler k;
    std::mt19937 rng(11);
    TQelPixelBuffer src, dst;
    src.Allocate(QelFormatBGR24, TQelRect(0, 0, 4, 4));
    FillRandom(src, rng);
    dst.Allocate(QelFormatBGR24, TQelRect(0, 0, 4, 4));
    Fill(dst, 0x77);
    ResamplePixels(dst, dst.GetBounds(), TQelRect(2, 0, 4, 4), src, src.GetBounds(), k);
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 2; ++x)
            for (int c = 0; c < 3; ++c) EXPECT_EQ(dst.PixelAddress(x, y)[c], 0x77);

    // A destination view inside a larger buffer: the bytes around it and
    // the row padding stay untouched, whatever the rectangles say.
    TQelPixelBuffer outer;
    outer.Allocate(QelFormatBGR24, TQelRect(0, 0, 13, 11));
    TQelCanvasPixels view;
    view.Init(TQelRect(100, 200, 109, 207), outer.PixelAddress(2, 2), QelFormatBGR24, outer.Stride);
    const struct {
        TQelRect DestRect, ClipRect, SourceRect;
    } cases[] = {
        {{100, 200, 109, 207}, {0, 0, 1000, 1000}, {-5, -5, 50, 50}},   // source larger than the buffer
        {{90, 190, 120, 220}, {-1000, -1000, 1000, 1000}, {0, 0, 4, 4}},  // destination past the view
        {{109, 207, 100, 200}, {100, 200, 109, 207}, {0, 0, 4, 4}},       // inverted destination
        {{100, 200, 109, 207}, {100, 200, 109, 207}, {4, 4, 0, 0}},       // inverted source
        {{100, 200, 100, 207}, {100, 200, 109, 207}, {0, 0, 4, 4}},       // zero width
        {{100, 200, 109, 207}, {100, 200, 109, 207}, {4, 0, 9, 4}},       // source outside the buffer
    };
    for (const auto& c : cases) {
        Fill(outer, 0x5A);
        ResamplePixels(view, c.DestRect, c.ClipRect, src, c.SourceRect, k);
        for (int32_t y = 0; y < outer.Height; ++y)
            for (int32_t x = 0; x < outer.Stride; ++x) {
                const bool inside = y >= 2 && y < 9 && x >= 6 && x < 33;
                if (!inside) {
                    ASSERT_EQ(outer.Bits[ptrdiff_t(y) * outer.Stride + x], 0x5A) << x << "," << y;
                }
            }
    }

    // The oversized source rectangle is cut to the buffer first.
    TQelPixelBuffer a, b;
    a.Allocate(QelFormatBGR24, TQelRect(0, 0, 9, 7));
    b.Allocate(QelFormatBGR24, TQelRect(0, 0, 9, 7));
    ResamplePixels(a, a.GetBounds(), a.GetBounds(), src, TQelRect(-5, -5, 50, 50), k);
    ResamplePixels(b, b.GetBounds(), b.GetBounds(), src, src.GetBounds(), k);
    EXPECT_EQ(std::memcmp(a.Bits, b.Bits, size_t(a.Stride) * 7), 0);

    // Other formats and buffers without rows are left alone.
    TQelPixelBuffer wide, none;
    wide.Allocate(QelFormatBGRA32, TQelRect(0, 0, 4, 4));
    ResamplePixels(wide, wide.GetBounds(), wide.GetBounds(), src, src.GetBounds(), k);
    EXPECT_EQ(wide.Bits[0], 0);
    none.Allocate(QelFormatBGR24, TQelRect(0, 0, 0, 4));
    Fill(dst, 0x77);
    ResamplePixels(dst, dst.GetBounds(), dst.GetBounds(), none, TQelRect(0, 0, 4, 4), k);
    EXPECT_EQ(dst.Bits[0], 0x77);
}

// The fast paths (paired SIMD taps, split rows, threads) against the plain
// per-pixel sum, for odd sizes, offsets, clips and a non-clamping kernel.
TEST(QelResamplePixels, MatchesThePlainSumExactly) {
    TLanczosResampler lanczos;
    TSharpTentResampler tent;
    THugeWeightResampler huge;
    std::mt19937 rng(2024);
    const struct {
        int32_t SrcW, SrcH, DstW, DstH;
    } sizes[] = {{37, 23, 11, 7}, {13, 9, 40, 31}, {50, 3, 17, 12}, {6, 40, 29, 5}, {101, 67, 100, 66}, {5, 5, 5, 5}};
    for (const auto& s : sizes)
        for (const TPixelResampler* kernel : {static_cast<const TPixelResampler*>(&lanczos),
                                              static_cast<const TPixelResampler*>(&tent),
                                              static_cast<const TPixelResampler*>(&huge)}) {
            TQelPixelBuffer src, fast, slow;
            src.Allocate(QelFormatBGR24, TQelRect(-3, 5, -3 + s.SrcW, 5 + s.SrcH));
            FillRandom(src, rng);
            const TQelRect destRect(10, -4, 10 + s.DstW, -4 + s.DstH);
            fast.Allocate(QelFormatBGR24, TQelRect(8, -6, 12 + s.DstW, -2 + s.DstH));
            slow.Allocate(QelFormatBGR24, fast.GetBounds());
            const TQelRect clip(11, -3, 10 + s.DstW - 1, -4 + s.DstH);
            const TQelRect sourceRect(-2, 5, -3 + s.SrcW, 5 + s.SrcH);
            ReferenceResample(slow, destRect, clip, src, sourceRect, *kernel);
            for (int32_t threads : {1, 3}) {
                ThreadCountGuard guard(threads);
                Fill(fast, 0);
                ResamplePixels(fast, destRect, clip, src, sourceRect, *kernel);
                ASSERT_EQ(std::memcmp(fast.Bits, slow.Bits, size_t(fast.Stride) * size_t(fast.Height)), 0)
                    << s.SrcW << "x" << s.SrcH << " -> " << s.DstW << "x" << s.DstH << " threads " << threads;
            }
        }
}

TEST(QelResamplePixels, ThreadsGiveTheSameBytes) {
    TLanczosResampler k;
    std::mt19937 rng(5);
    TQelPixelBuffer src, one, many;
    src.Allocate(QelFormatBGR24, TQelRect(0, 0, 803, 611));
    FillRandom(src, rng);
    for (const TQelRect& size : {TQelRect(0, 0, 211, 157), TQelRect(0, 0, 1207, 905)}) {
        one.Allocate(QelFormatBGR24, size);
        many.Allocate(QelFormatBGR24, size);
        {
            ThreadCountGuard guard(1);
            ResamplePixels(one, size, size, src, src.GetBounds(), k);
        }
        {
            ThreadCountGuard guard(4);
            ResamplePixels(many, size, size, src, src.GetBounds(), k);
        }
        EXPECT_EQ(std::memcmp(one.Bits, many.Bits, size_t(one.Stride) * size_t(one.Height)), 0);
    }
}
