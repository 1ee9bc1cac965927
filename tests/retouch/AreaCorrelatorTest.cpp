#include <gtest/gtest.h>

#include <random>
#include <utility>
#include <vector>

#include "AreaCorrelator.h"
#include "BorderArea8.h"
#include "Correlator.h"
#include "PatchTestSupport.h"

namespace {

std::vector<std::pair<int, int>> Cells(const TBorderArea8& list) {
    std::vector<std::pair<int, int>> cells;
    for (int i = 0; i < list.Count(); ++i) cells.emplace_back(list.Place(i, 0).AbsX, list.Place(i, 0).AbsY);
    return cells;
}

void MaskAll(TAreaCorrelator& engine, const TQelRect& region) {
    for (int x = region.Left; x < region.Right; ++x)
        for (int y = region.Top; y < region.Bottom; ++y) engine.SetMask(x, y, 1);
}

// A textured image without repeats, so only the true orientation matches.
void FillNoise(TQelPixelBuffer& image, uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int y = 0; y < image.Height; ++y)
        for (int x = 0; x < image.Width; ++x)
            Put(image, x, y, TRgb{uint8_t(byte(rng)), uint8_t(byte(rng)), uint8_t(byte(rng))});
}

}  // namespace

TEST(Correlator, PearsonCoefficient) {
    TCorrelator c;
    for (double x : {1.0, 2.0, 3.0}) c.Add(x, 2 * x);
    EXPECT_DOUBLE_EQ(c.Coefficient(), 1.0);
    c.Reset();
    EXPECT_EQ(c.Count(), 0);
    c.Add(1, 3);
    c.Add(2, 2);
    c.Add(3, 1);
    EXPECT_DOUBLE_EQ(c.Coefficient(), -1.0);
    c.Reset();
    for (double y : {1.0, 5.0, 2.0}) c.Add(7, y);
    EXPECT_EQ(c.Coefficient(), 0.0);  // no spread in x
    c.Reset();
    EXPECT_EQ(c.Coefficient(), 0.0);  // no pairs
}

TEST(BorderArea8, OrientationPlaces) {
    TBorderArea8 list(TQelRect(20, 30, 24, 34));
    list.Add(1, 0);
    const int expected[8][2] = {{1, 0}, {2, 0}, {0, 2}, {0, 1}, {2, 3}, {1, 3}, {3, 2}, {3, 1}};
    for (int o = 0; o < 8; ++o) {
        const TBorderArea8::TPlace& p = list.Place(0, o);
        EXPECT_EQ(p.X, expected[o][0]) << o;
        EXPECT_EQ(p.Y, expected[o][1]) << o;
        EXPECT_EQ(p.AbsX, expected[o][0] + 20) << o;
        EXPECT_EQ(p.AbsY, expected[o][1] + 30) << o;
    }
    EXPECT_EQ(list.Record(0).Remove, 0);
    EXPECT_EQ(list.GetInnerWeight(0), 0);
    EXPECT_EQ(list.GetOuterWeight(0), 0);
}

TEST(BorderArea8, IndexStaysInStepWithClearAndCompact) {
    TBorderArea8 list(TQelRect(5, 5, 15, 15));
    for (int i = 0; i < 600; ++i) list.Add(i % 10, (i / 10) % 10);  // beyond one growth step, duplicates
    list.Add(-3, 2);  // outside the region
    EXPECT_EQ(list.Count(), 601);
    EXPECT_EQ(list.IndexOf(5, 5), 0);    // the first cell at a position
    EXPECT_EQ(list.IndexOf(7, 6), 12);
    EXPECT_EQ(list.IndexOf(2, 7), 600);
    EXPECT_EQ(list.IndexOf(15, 5), -1);
    for (int i = 0; i < 100; ++i) list.SetRemoveFlag(i, 1);
    list.Compact();
    EXPECT_EQ(list.Count(), 501);
    EXPECT_EQ(list.IndexOf(5, 5), 0);    // the second copy moved up
    EXPECT_EQ(list.IndexOf(2, 7), 500);
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_FALSE(list.Contains(5, 5));
    EXPECT_FALSE(list.Contains(2, 7));
    list.Add(3, 4);
    EXPECT_EQ(list.IndexOf(8, 9), 0);
    EXPECT_FALSE(list.Contains(5, 5));
}

TEST(AreaCorrelator, BuildListsAndWeights) {
    TQelPixelBuffer image;
    MakeImage(image, 100, 100);

    // At the image corner the cells along the image edge are interior.
    const TQelRect corner(0, 0, 5, 5);
    TAreaCorrelator atCorner(corner, 2, &image, &image);
    MaskAll(atCorner, corner);
    atCorner.BuildLists();
    EXPECT_EQ(atCorner.BorderList().Count(), 9);
    EXPECT_EQ(atCorner.InteriorList().Count(), 16);
    for (auto [x, y] : Cells(atCorner.BorderList())) EXPECT_TRUE(x == 4 || y == 4);

    const TQelRect inside(10, 10, 15, 15);
    TAreaCorrelator engine(inside, 2, &image, &image);
    MaskAll(engine, inside);
    engine.BuildLists();
    const std::vector<std::pair<int, int>> ring = Cells(engine.BorderList());
    ASSERT_EQ(ring.size(), 16u);
    // Column by column.
    const std::vector<std::pair<int, int>> head = {{10, 10}, {10, 11}, {10, 12}, {10, 13}, {10, 14}, {11, 10}};
    EXPECT_EQ((std::vector<std::pair<int, int>>(ring.begin(), ring.begin() + 6)), head);
    EXPECT_EQ(engine.InteriorList().Count(), 9);

    engine.ComputeWeights();
    const TBorderArea8& interior = engine.InteriorList();
    const auto weights = [&](int x, int y) {
        const int i = interior.IndexOf(x, y);
        return std::make_pair(interior.GetOuterWeight(i), interior.GetInnerWeight(i));
    };
    EXPECT_EQ(weights(11, 11), std::make_pair(7, 1));
    EXPECT_EQ(weights(12, 11), std::make_pair(4, 2));
    EXPECT_EQ(weights(12, 12), std::make_pair(0, 0));
    EXPECT_FALSE(interior.HasOuterNeighbours(interior.IndexOf(12, 12)));

    // An unmasked hole makes its neighbours border cells.
    engine.SetMask(12, 12, 0);
    engine.BuildLists();
    EXPECT_EQ(engine.BorderList().Count(), 24);
    EXPECT_EQ(engine.InteriorList().Count(), 0);
}

TEST(AreaCorrelator, RemoveBorderOutliers) {
    const TQelRect region(10, 10, 14, 14);
    const TRgb grey{100, 100, 100}, red{220, 30, 30};
    // Border cells of a fully masked 4 x 4 region in list order.
    const auto run = [&](int redCount, double fraction, bool redFirst) {
        TQelPixelBuffer image;
        MakeImage(image, 30, 30);
        TAreaCorrelator engine(region, 2, &image, &image);
        MaskAll(engine, region);
        engine.BuildLists();
        const std::vector<std::pair<int, int>> ring = Cells(engine.BorderList());
        EXPECT_EQ(ring.size(), 12u);
        for (size_t i = 0; i < ring.size(); ++i) {
            const bool isRed = redFirst ? int(i) < redCount : int(i) >= int(ring.size()) - redCount;
            Put(image, ring[i].first, ring[i].second, isRed ? red : grey);
        }
        engine.RemoveBorderOutliers(fraction);
        std::vector<TRgb> left;
        for (auto [x, y] : Cells(engine.BorderList())) left.push_back(Get(image, x, y));
        return left;
    };
    std::vector<TRgb> left = run(2, 0.2, false);  // 12 · 0.2 = 2.4 >= 2
    EXPECT_EQ(left, std::vector<TRgb>(10, grey));
    EXPECT_EQ(run(3, 0.2, false).size(), 12u);
    EXPECT_EQ(run(0, 0.2, false).size(), 12u);
    // A tie removes cluster 0, the one seeded from the first border cell.
    EXPECT_EQ(run(6, 0.5, true), std::vector<TRgb>(6, grey));
    EXPECT_EQ(run(6, 0.5, false), std::vector<TRgb>(6, red));
}

TEST(AreaCorrelator, OutlierShareCountsBorderCellsOutsideTheImage) {
    // The region hangs over the left image edge: its border includes cells
    // outside the image, which add no colour but count in the share.
    TQelPixelBuffer image;
    MakeImage(image, 30, 30);
    const TQelRect region(-2, 10, 4, 16);
    TAreaCorrelator engine(region, 2, &image, &image);
    MaskAll(engine, region);
    engine.BuildLists();
    const std::vector<std::pair<int, int>> ring = Cells(engine.BorderList());
    int inImage = 0;
    for (auto [x, y] : ring) inImage += x >= 0;
    ASSERT_LT(inImage, int(ring.size()));
    const TRgb grey{100, 100, 100}, blue{0, 0, 250};
    int outliers = 0;
    for (auto [x, y] : ring) {
        if (x < 0) continue;
        Put(image, x, y, outliers < 2 ? blue : grey);
        ++outliers;
    }
    // Share 2 of all ring cells passes; of the in-image cells alone it would not.
    const double fraction = 2.01 / double(ring.size());
    ASSERT_LT(inImage * fraction, 2.0);
    engine.RemoveBorderOutliers(fraction);
    EXPECT_EQ(engine.BorderList().Count(), int(ring.size()) - 2);
}

TEST(AreaCorrelator, BestOrientationFindsTurnedOrMirroredPatch) {
    const TQelRect region(40, 40, 52, 52);
    const int n = 12;
    for (int truth = 0; truth < 8; ++truth) {
        TQelPixelBuffer image;
        MakeImage(image, 100, 100);
        FillNoise(image, 77 + uint32_t(truth));
        TAreaCorrelator engine(region, 2, &image, &image);
        for (int x = 0; x < n; ++x)
            for (int y = 0; y < n; ++y) engine.SetMask(region.Left + x, region.Top + y, (x - 5.5) * (x - 5.5) + (y - 5.5) * (y - 5.5) < 30);
        engine.BuildLists();
        ASSERT_GT(engine.BorderList().Count(), 0);
        // The source square is the region's content turned by the true
        // orientation: the pixel feeding cell (x, y) is the cell's own.
        const TQelPoint source{10, 70};
        TBorderArea8 places(region);
        for (int x = 0; x < n; ++x)
            for (int y = 0; y < n; ++y) places.Add(x, y);
        for (int i = 0; i < places.Count(); ++i) {
            const TBorderArea8::TPlace& own = places.Place(i, 0);
            const TBorderArea8::TPlace& feed = places.Place(i, truth);
            Put(image, source.X + feed.X, source.Y + feed.Y, Get(image, own.AbsX, own.AbsY));
        }
        EXPECT_EQ(engine.BestOrientation(TQelRect(source.X, source.Y, source.X + n, source.Y + n)), truth);
    }
}

TEST(AreaCorrelator, BestOrientationDefaultsToZero) {
    TQelPixelBuffer image;
    MakeImage(image, 50, 50);
    for (int y = 0; y < 50; ++y)
        for (int x = 0; x < 50; ++x) Put(image, x, y, TRgb{9, 9, 9});
    const TQelRect region(10, 10, 20, 20);
    TAreaCorrelator engine(region, 2, &image, &image);
    MaskAll(engine, region);
    engine.BuildLists();
    EXPECT_EQ(engine.BestOrientation(TQelRect(30, 30, 40, 40)), 0);  // flat: all equal
    FillNoise(image, 5);
    EXPECT_EQ(engine.BestOrientation(TQelRect(50, 50, 60, 60)), 0);  // patch outside the image

    const TQelRect outside(-30, -30, -20, -20);
    TAreaCorrelator away(outside, 2, &image, &image);
    MaskAll(away, outside);
    away.BuildLists();
    EXPECT_EQ(away.BestOrientation(TQelRect(0, 0, 10, 10)), 0);
    away.RemoveBorderOutliers(0.2);
    away.Transfer(TQelPoint{0, 0}, 0, 2, 0, true);
}

TEST(AreaCorrelator, TransferCopyAndBlend) {
    TQelPixelBuffer backup, current;
    MakeImage(backup, 40, 40);
    FillNoise(backup, 3);
    MakeImage(current, 40, 40);  // all zero
    const TQelRect region(10, 10, 15, 15);
    TAreaCorrelator engine(region, 2, &backup, &current);
    MaskAll(engine, region);
    engine.BuildLists();
    engine.ComputeWeights();

    // The region's own position, orientation 0: the interior gets the
    // backup's own pixels, with or without blending; the border is untouched.
    for (bool blend : {false, true}) {
        engine.Transfer(TQelPoint{10, 10}, 0, 2, TAreaCorrelator::KindCopy, blend);
        for (int x = 10; x < 15; ++x)
            for (int y = 10; y < 15; ++y) {
                const bool interior = x > 10 && x < 14 && y > 10 && y < 14;
                EXPECT_EQ(Get(current, x, y), interior ? Get(backup, x, y) : TRgb()) << x << "," << y;
            }
    }

    // Blend at (11, 11): outer 7, inner 1, rounded halves to even:
    // (7·0 + 20) / 8 = 2.5 → 2, (7·2 + 12) / 8 = 3.25 → 3, (7·1 + 5)/8 = 1.5 → 2.
    Put(backup, 11, 11, TRgb{0, 2, 1});
    Put(backup, 30, 30, TRgb{20, 12, 5});  // the patch pixel for (11, 11)
    engine.Transfer(TQelPoint{29, 29}, 0, 2, TAreaCorrelator::KindCopy, true);
    EXPECT_EQ(Get(current, 11, 11), (TRgb{2, 3, 2}));
    EXPECT_EQ(Get(current, 12, 12), Get(backup, 31, 31));  // no outer weight: plain copy
    engine.Transfer(TQelPoint{29, 29}, 0, 2, TAreaCorrelator::KindCopy, false);
    EXPECT_EQ(Get(current, 11, 11), (TRgb{20, 12, 5}));

    // Unknown kinds and a patch outside the image write nothing.
    TQelPixelBuffer before;
    CopyImage(before, current);
    engine.Transfer(TQelPoint{0, 0}, 0, 2, 3, false);
    engine.Transfer(TQelPoint{40, 37}, 0, 2, TAreaCorrelator::KindPerChannel, true);
    engine.Transfer(TQelPoint{0, 0}, 8, 2, TAreaCorrelator::KindCopy, false);
    for (int x = 0; x < 40; ++x)
        for (int y = 0; y < 40; ++y) ASSERT_EQ(Get(current, x, y), Get(before, x, y));
}

TEST(AreaCorrelator, ColourSurfacesRepairRampsExactly) {
    // Defect in the middle of a ramp; the patch comes from elsewhere on the
    // ramp, so the border differences are constant offsets.
    // The defect covers [low, high) in both directions; 23..29 reaches the
    // interior cells next to the border ring, 24..28 stays clear of them.
    const auto run = [](auto ramp, int kind, bool blend, int low = 23, int high = 29) {
        TQelPixelBuffer backup, current;
        MakeImage(backup, 60, 60);
        for (int y = 0; y < 60; ++y)
            for (int x = 0; x < 60; ++x) Put(backup, x, y, ramp(x, y));
        const TQelRect region(20, 20, 32, 32);
        for (int x = low; x < high; ++x)
            for (int y = low; y < high; ++y) Put(backup, x, y, TRgb{255, 0, 255});
        CopyImage(current, backup);
        TAreaCorrelator engine(region, 2, &backup, &current);
        for (int x = region.Left; x < region.Right; ++x)
            for (int y = region.Top; y < region.Bottom; ++y)
                engine.SetMask(x, y, (x - 25.5) * (x - 25.5) + (y - 25.5) * (y - 25.5) < 30);
        engine.BuildLists();
        engine.ComputeWeights();
        engine.Transfer(TQelPoint{35, 5}, 0, 2, kind, blend);
        int wrong = 0;
        for (int x = region.Left; x < region.Right; ++x)
            for (int y = region.Top; y < region.Bottom; ++y) wrong += !(Get(current, x, y) == ramp(x, y));
        return wrong;
    };
    const auto even = [](int x, int y) { return TRgb{uint8_t(50 + x + y), uint8_t(80 + x + y), uint8_t(30 + x + y)}; };
    const auto uneven = [](int x, int y) { return TRgb{uint8_t(2 * x + y), uint8_t(x), uint8_t(100 + 2 * y)}; };
    EXPECT_EQ(run(even, TAreaCorrelator::KindChannelSum, false), 0);
    EXPECT_EQ(run(even, TAreaCorrelator::KindChannelSum, true), 0);  // never blends
    EXPECT_EQ(run(uneven, TAreaCorrelator::KindPerChannel, false), 0);
    // Blending mixes in the backup at the seam: exact where the backup is
    // intact there, not where the defect reaches the seam.
    EXPECT_EQ(run(uneven, TAreaCorrelator::KindPerChannel, true, 24, 28), 0);
    EXPECT_GT(run(uneven, TAreaCorrelator::KindPerChannel, true), 0);
    EXPECT_GT(run(uneven, TAreaCorrelator::KindCopy, false), 0);
    EXPECT_GT(run(uneven, TAreaCorrelator::KindChannelSum, false), 0);
}
