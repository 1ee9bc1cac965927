// Weighted Lloyd k-means over the distinct colours of a pixel set.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct TKMeanColour {
    uint8_t B = 0;
    uint8_t G = 0;
    uint8_t R = 0;
    int32_t Cluster = 0;
    int32_t Count = 1;  // pixels of this colour

    // B | G << 8 | R << 16, the form AddColour takes.
    uint32_t Packed() const { return uint32_t(B) | uint32_t(G) << 8 | uint32_t(R) << 16; }
};

struct TKMeanCluster {
    float Centre[3] = {0, 0, 0};       // B, G, R
    float Accumulator[3] = {0, 0, 0};  // B, G, R
    int32_t Total = 0;                 // pixels in the cluster after the last pass
    uint8_t Movable = 0;
};

class TKMean {
public:
    // A pass that still moves colours after this many passes in a row points
    // at a float cycle; callers stop there.
    static constexpr int MaxPasses = 100;

    TKMean(int colourCapacity, int clusterCapacity);

    // colour = B | G << 8 | R << 16. A new colour is appended (cluster 0,
    // count 1); a known one has its count raised.
    void AddColour(uint32_t colour);
    void AddCluster(bool movable, uint32_t colour);

    int ColourCount() const { return int(FColours.size()); }
    TKMeanColour GetColour(int index) const { return FColours[size_t(index)]; }
    TKMeanCluster GetCluster(int index) const { return FClusters[size_t(index)]; }
    // List index of a colour, or -1.
    int IndexOfColour(uint32_t colour) const;

    // One pass: each colour moves to a strictly nearer cluster (ties stay),
    // then the movable non-empty clusters take the mean of their colours.
    // Answers the number of moves.
    int Iterate();

private:
    double Distance(const TKMeanColour& colour, const TKMeanCluster& cluster) const;
    void GrowTable();

    std::vector<TKMeanColour> FColours;
    std::vector<TKMeanCluster> FClusters;
    // Open-addressing table colour → list index. Sized to the colours seen,
    // so neither the colour count nor the table fill is bounded by 2^24.
    std::vector<uint32_t> FKeys;
    std::vector<int32_t> FIndices;
    size_t FMask = 0;
};
