#include <gtest/gtest.h>

#include <cstdint>

#include "KMean.h"

namespace {
constexpr uint32_t Packed(uint8_t r, uint8_t g, uint8_t b) { return uint32_t(b) | uint32_t(g) << 8 | uint32_t(r) << 16; }
}  // namespace

TEST(KMean, DistinctColoursKeepFirstAppearanceAndCounts) {
    TKMean k(4, 2);
    k.AddColour(Packed(1, 2, 3));
    k.AddColour(Packed(9, 9, 9));
    k.AddColour(Packed(1, 2, 3));
    k.AddColour(0xFF000000u | Packed(1, 2, 3));  // byte 3 is not part of the colour
    ASSERT_EQ(k.ColourCount(), 2);
    EXPECT_EQ(k.GetColour(0).R, 1);
    EXPECT_EQ(k.GetColour(0).G, 2);
    EXPECT_EQ(k.GetColour(0).B, 3);
    EXPECT_EQ(k.GetColour(0).Count, 3);
    EXPECT_EQ(k.GetColour(1).Count, 1);
    EXPECT_EQ(k.GetColour(1).Cluster, 0);
    EXPECT_EQ(k.IndexOfColour(Packed(9, 9, 9)), 1);
    EXPECT_EQ(k.IndexOfColour(Packed(9, 9, 8)), -1);
}

TEST(KMean, MoreColoursThanSixteenBitIndicesStayDistinct) {
    TKMean k(16, 2);
    const uint32_t n = 70000;
    for (uint32_t c = 0; c < n; ++c) k.AddColour(c * 239u & 0xFFFFFFu);
    k.AddColour(69999u * 239u & 0xFFFFFFu);
    ASSERT_EQ(k.ColourCount(), int(n));
    EXPECT_EQ(k.IndexOfColour(65535u * 239u), 65535);
    EXPECT_EQ(k.IndexOfColour(69999u * 239u & 0xFFFFFFu), 69999);
    EXPECT_EQ(k.GetColour(69999).Count, 2);
    EXPECT_EQ(k.GetColour(65535).Count, 1);
}

TEST(KMean, TwoColoursConvergeInOnePass) {
    TKMean k(4, 2);
    for (int i = 0; i < 3; ++i) k.AddColour(Packed(0, 0, 0));
    k.AddColour(Packed(255, 255, 255));
    k.AddCluster(true, Packed(0, 0, 0));
    k.AddCluster(true, Packed(255, 255, 255));
    EXPECT_EQ(k.Iterate(), 1);  // white starts in cluster 0 and moves
    EXPECT_EQ(k.Iterate(), 0);
    EXPECT_EQ(k.GetCluster(0).Total, 3);
    EXPECT_EQ(k.GetCluster(1).Total, 1);
    EXPECT_EQ(k.GetCluster(1).Centre[2], 255.0f);
}

TEST(KMean, TiesNeverMoveAndFixedClustersKeepTheirCentres) {
    TKMean k(2, 2);
    k.AddColour(Packed(0, 0, 1));
    k.AddCluster(false, Packed(0, 0, 0));
    k.AddCluster(false, Packed(0, 0, 2));
    EXPECT_EQ(k.Iterate(), 0);
    EXPECT_EQ(k.GetColour(0).Cluster, 0);
    EXPECT_EQ(k.GetCluster(0).Total, 1);
    EXPECT_EQ(k.GetCluster(0).Centre[0], 0.0f);  // fixed: not moved onto its colour
    EXPECT_EQ(k.GetCluster(1).Total, 0);
}

TEST(KMean, SeparatesClearlySeparatedClusters) {
    TKMean k(64, 2);
    // Both seeds come from the dark group; the bright group must still end
    // up on its own.
    for (int i = 0; i < 20; ++i) {
        k.AddColour(Packed(uint8_t(10 + i % 5), uint8_t(12 + i % 3), 9));
        if (i % 2) k.AddColour(Packed(uint8_t(200 + i % 7), uint8_t(180 + i % 4), 170));
    }
    k.AddCluster(true, Packed(10, 12, 9));
    k.AddCluster(true, Packed(11, 13, 9));
    int passes = 0;
    while (k.Iterate() > 0 && passes < TKMean::MaxPasses) ++passes;
    EXPECT_LT(passes, 10);
    for (int i = 0; i < k.ColourCount(); ++i) {
        const TKMeanColour c = k.GetColour(i);
        const int expected = c.R > 100 ? k.GetColour(k.IndexOfColour(Packed(200 + 1, 180 + 1, 170))).Cluster
                                       : k.GetColour(0).Cluster;
        EXPECT_EQ(c.Cluster, expected) << i;
    }
    EXPECT_NE(k.GetColour(0).Cluster, k.GetColour(k.IndexOfColour(Packed(201, 181, 170))).Cluster);
    EXPECT_EQ(k.GetCluster(0).Total + k.GetCluster(1).Total, 30);
}

TEST(KMean, DegenerateInputStops) {
    TKMean single(4, 2);
    for (int i = 0; i < 5; ++i) single.AddColour(Packed(7, 7, 7));
    single.AddCluster(true, Packed(7, 7, 7));
    single.AddCluster(true, Packed(7, 7, 7));
    EXPECT_EQ(single.Iterate(), 0);
    EXPECT_EQ(single.GetCluster(0).Total, 5);

    TKMean none(0, 0);
    EXPECT_EQ(none.Iterate(), 0);  // no clusters: nothing to do
    none.AddColour(Packed(1, 1, 1));
    EXPECT_EQ(none.Iterate(), 0);
}
