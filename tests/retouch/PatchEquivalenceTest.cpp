// The engine keeps an index grid and a colour hash where the plain algorithm
// searches lists; these tests run the plain algorithm beside it on random
// regions, masks and images and demand identical results.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>
#include <vector>

#include "AreaCorrelator.h"
#include "PatchTestSupport.h"

namespace {

struct TCell {
    int X = 0, Y = 0;  // local
    int Outer = 0, Inner = 0;
    friend bool operator==(const TCell&, const TCell&) = default;
};

struct TPlainEngine {
    TQelRect Region;
    int W = 0, H = 0;
    int SquaredRadius = 2;
    std::vector<uint8_t> Mask;  // [x][y]
    TQelRect Bounds;
    const TQelPixels* Dest = nullptr;
    std::vector<TCell> Border, Interior;

    static int IndexOf(const std::vector<TCell>& list, int x, int y) {
        for (size_t i = 0; i < list.size(); ++i)
            if (list[i].X == x && list[i].Y == y) return int(i);
        return -1;
    }

    bool IsBorder(int x, int y) const {
        const int r = int(std::sqrt(double(SquaredRadius)) + 0.001);
        for (int i = x - r; i <= x + r; ++i)
            for (int j = y - r; j <= y + r; ++j) {
                if ((x - i) * (x - i) + (y - j) * (y - j) > SquaredRadius) continue;
                if (i >= 0 && i < W && j >= 0 && j < H) {
                    if (Mask[size_t(i * H + j)] == 0) return true;
                } else if (Bounds.Contains(i + Region.Left, j + Region.Top)) {
                    return true;
                }
            }
        return false;
    }

    void BuildLists() {
        Border.clear();
        Interior.clear();
        for (int x = 0; x < W; ++x)
            for (int y = 0; y < H; ++y)
                if (Mask[size_t(x * H + y)]) (IsBorder(x, y) ? Border : Interior).push_back(TCell{x, y, 0, 0});
    }

    void ComputeWeights() {
        for (TCell& c : Interior)
            for (int dx = -1; dx <= 1; ++dx)
                for (int dy = -1; dy <= 1; ++dy)
                    if ((dx || dy) && IndexOf(Border, c.X + dx, c.Y + dy) >= 0) c.Outer += 3 - (std::abs(dx) + std::abs(dy));
        for (TCell& c : Interior) {
            if (c.Outer <= 0) continue;
            for (int dx = -1; dx <= 1; ++dx)
                for (int dy = -1; dy <= 1; ++dy) {
                    if (!dx && !dy) continue;
                    const int j = IndexOf(Interior, c.X + dx, c.Y + dy);
                    if (j >= 0 && Interior[size_t(j)].Outer == 0) c.Inner += 3 - (std::abs(dx) + std::abs(dy));
                }
        }
    }

    // Plain 2-means: distinct colours found by walking the list.
    void RemoveBorderOutliers(double fraction) {
        struct TColour { uint8_t B, G, R; int Cluster, Count; };
        struct TCluster { float Centre[3], Acc[3]; int Total; };
        std::vector<TColour> colours;
        const auto pixel = [&](const TCell& c) { return Dest->PixelAddress(c.X + Region.Left, c.Y + Region.Top); };
        const auto inside = [&](const TCell& c) { return Bounds.Contains(c.X + Region.Left, c.Y + Region.Top); };
        for (const TCell& c : Border) {
            if (!inside(c)) continue;
            const uint8_t* p = pixel(c);
            bool found = false;
            for (TColour& k : colours)
                if (k.B == p[0] && k.G == p[1] && k.R == p[2]) {
                    ++k.Count;
                    found = true;
                    break;
                }
            if (!found) colours.push_back(TColour{p[0], p[1], p[2], 0, 1});
        }
        if (colours.size() < 2) return;
        std::vector<TCluster> clusters(2);
        for (int i = 0; i < 2; ++i) {
            clusters[size_t(i)].Centre[0] = colours[size_t(i)].B;
            clusters[size_t(i)].Centre[1] = colours[size_t(i)].G;
            clusters[size_t(i)].Centre[2] = colours[size_t(i)].R;
        }
        const auto distance = [](const TColour& c, const TCluster& k) {
            const double b = double(k.Centre[0]) - c.B, g = double(k.Centre[1]) - c.G, r = double(k.Centre[2]) - c.R;
            return std::sqrt(b * b + g * g + r * r) * double(c.Count);
        };
        for (int pass = 0; pass < 100; ++pass) {
            int moves = 0;
            for (TCluster& k : clusters) k.Acc[0] = k.Acc[1] = k.Acc[2] = 0, k.Total = 0;
            for (TColour& c : colours) {
                double best = distance(c, clusters[size_t(c.Cluster)]);
                const int current = c.Cluster;
                for (int i = 0; i < 2; ++i)
                    if (i != current && distance(c, clusters[size_t(i)]) < best) {
                        best = distance(c, clusters[size_t(i)]);
                        c.Cluster = i;
                        ++moves;
                    }
                TCluster& k = clusters[size_t(c.Cluster)];
                k.Acc[0] += float(c.B) * float(c.Count);
                k.Acc[1] += float(c.G) * float(c.Count);
                k.Acc[2] += float(c.R) * float(c.Count);
                k.Total += c.Count;
            }
            for (TCluster& k : clusters)
                if (k.Total > 0)
                    for (int i = 0; i < 3; ++i) k.Centre[i] = k.Acc[i] / float(k.Total);
            if (moves == 0) break;
        }
        const int smaller = clusters[1].Total < clusters[0].Total ? 1 : 0;
        if (double(Border.size()) * fraction < double(clusters[size_t(smaller)].Total)) return;
        std::vector<TCell> kept;
        for (const TCell& c : Border) {
            bool drop = false;
            if (inside(c)) {
                const uint8_t* p = pixel(c);
                for (const TColour& k : colours)
                    if (k.Cluster == smaller && k.B == p[0] && k.G == p[1] && k.R == p[2]) drop = true;
            }
            if (!drop) kept.push_back(c);
        }
        Border = kept;
    }
};

std::vector<TCell> Listed(const TBorderArea8& list) {
    std::vector<TCell> cells;
    for (int i = 0; i < list.Count(); ++i)
        cells.push_back(TCell{list.Place(i, 0).X, list.Place(i, 0).Y, list.GetOuterWeight(i), list.GetInnerWeight(i)});
    return cells;
}

}  // namespace

TEST(PatchEquivalence, IndexGridAndColourHashMatchThePlainAlgorithm) {
    for (uint32_t seed = 1; seed <= 150; ++seed) {
        SCOPED_TRACE(seed);
        std::mt19937 rng(seed);
        const auto uniform = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng); };

        TQelPixelBuffer image;
        MakeImage(image, uniform(8, 40), uniform(8, 40));
        std::vector<TRgb> palette;
        for (int i = uniform(2, 4); i > 0; --i)
            palette.push_back(TRgb{uint8_t(uniform(0, 255)), uint8_t(uniform(0, 255)), uint8_t(uniform(0, 255))});
        for (int y = 0; y < image.Height; ++y)
            for (int x = 0; x < image.Width; ++x)
                Put(image, x, y,
                    uniform(0, 9) < 2 ? TRgb{uint8_t(uniform(0, 255)), uint8_t(uniform(0, 255)), uint8_t(uniform(0, 255))}
                                      : palette[size_t(uniform(0, int(palette.size()) - 1))]);

        const int size = uniform(2, 22);
        const TQelRect region(uniform(-6, image.Width - 2), uniform(-6, image.Height - 2), 0, 0);
        const TQelRect square(region.Left, region.Top, region.Left + size, region.Top + size);
        const int radius2 = std::vector<int>{1, 2, 2, 4, 5}[size_t(uniform(0, 4))];
        const double fraction = std::vector<double>{0.1, 0.2, 0.2, 0.35, 0.5}[size_t(uniform(0, 4))];

        TAreaCorrelator engine(square, radius2, &image, &image);
        TPlainEngine plain;
        plain.Region = square;
        plain.W = plain.H = size;
        plain.SquaredRadius = radius2;
        plain.Mask.assign(size_t(size * size), 0);
        plain.Bounds = TQelRect(0, 0, image.Width, image.Height);
        plain.Dest = &image;

        for (int round = 0; round < 2; ++round) {
            const double cx = uniform(0, size - 1), cy = uniform(0, size - 1), r = uniform(1, size);
            for (int x = 0; x < size; ++x)
                for (int y = 0; y < size; ++y) {
                    const bool in = (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r;
                    const uint8_t m = uint8_t(uniform(0, 9) == 0 ? !in : in);
                    plain.Mask[size_t(x * size + y)] = m;
                    engine.SetMask(x + square.Left, y + square.Top, m);
                }
            engine.BuildLists();
            plain.BuildLists();
            ASSERT_EQ(Listed(engine.BorderList()), plain.Border);
            ASSERT_EQ(Listed(engine.InteriorList()), plain.Interior);

            engine.RemoveBorderOutliers(fraction);
            plain.RemoveBorderOutliers(fraction);
            ASSERT_EQ(Listed(engine.BorderList()), plain.Border);

            // Removed border cells must no longer count as neighbours.
            engine.ComputeWeights();
            plain.ComputeWeights();
            ASSERT_EQ(Listed(engine.InteriorList()), plain.Interior);
            for (const TBorderArea8* list : {&engine.BorderList(), &engine.InteriorList()})
                for (int x = square.Left - 1; x <= square.Right; ++x)
                    for (int y = square.Top - 1; y <= square.Bottom; ++y)
                        ASSERT_EQ(list->IndexOf(x, y), list->IndexOfLinear(x, y));
        }
    }
}
