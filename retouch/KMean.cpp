#include "KMean.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr uint32_t KEmpty = 0xFFFFFFFFu;  // no packed 24-bit colour has this value

size_t HashSlot(uint32_t colour, size_t mask) { return size_t((colour * 0x9E3779B1u) >> 7) & mask; }

size_t TableSizeFor(size_t entries) {
    size_t size = 16;
    while (size < entries * 2) size *= 2;
    return size;
}
}  // namespace

TKMean::TKMean(int colourCapacity, int clusterCapacity) {
    FColours.reserve(size_t(std::max(colourCapacity, 0)));
    FClusters.reserve(size_t(std::max(clusterCapacity, 0)));
    const size_t size = TableSizeFor(size_t(std::max(colourCapacity, 0)));
    FKeys.assign(size, KEmpty);
    FIndices.assign(size, -1);
    FMask = size - 1;
}

int TKMean::IndexOfColour(uint32_t colour) const {
    colour &= 0xFFFFFFu;
    for (size_t slot = HashSlot(colour, FMask);; slot = (slot + 1) & FMask) {
        if (FKeys[slot] == colour) return FIndices[slot];
        if (FKeys[slot] == KEmpty) return -1;
    }
}

void TKMean::GrowTable() {
    const size_t size = FKeys.size() * 2;
    FKeys.assign(size, KEmpty);
    FIndices.assign(size, -1);
    FMask = size - 1;
    for (size_t i = 0; i < FColours.size(); ++i) {
        const uint32_t key = FColours[i].Packed();
        size_t slot = HashSlot(key, FMask);
        while (FKeys[slot] != KEmpty) slot = (slot + 1) & FMask;
        FKeys[slot] = key;
        FIndices[slot] = int32_t(i);
    }
}

void TKMean::AddColour(uint32_t colour) {
    colour &= 0xFFFFFFu;
    size_t slot = HashSlot(colour, FMask);
    while (FKeys[slot] != KEmpty) {
        if (FKeys[slot] == colour) {
            ++FColours[size_t(FIndices[slot])].Count;
            return;
        }
        slot = (slot + 1) & FMask;
    }
    TKMeanColour record;
    record.B = uint8_t(colour);
    record.G = uint8_t(colour >> 8);
    record.R = uint8_t(colour >> 16);
    FKeys[slot] = colour;
    FIndices[slot] = int32_t(FColours.size());
    FColours.push_back(record);
    if (FColours.size() * 2 > FKeys.size()) GrowTable();
}

void TKMean::AddCluster(bool movable, uint32_t colour) {
    TKMeanCluster cluster;
    cluster.Centre[0] = float(colour & 0xFF);
    cluster.Centre[1] = float((colour >> 8) & 0xFF);
    cluster.Centre[2] = float((colour >> 16) & 0xFF);
    cluster.Movable = movable ? 1 : 0;
    FClusters.push_back(cluster);
}

double TKMean::Distance(const TKMeanColour& colour, const TKMeanCluster& cluster) const {
    const double db = double(cluster.Centre[0]) - colour.B;
    const double dg = double(cluster.Centre[1]) - colour.G;
    const double dr = double(cluster.Centre[2]) - colour.R;
    return std::sqrt(db * db + dg * dg + dr * dr) * double(colour.Count);
}

int TKMean::Iterate() {
    if (FClusters.empty()) return 0;
    for (TKMeanCluster& cluster : FClusters) {
        std::fill(std::begin(cluster.Accumulator), std::end(cluster.Accumulator), 0.0f);
        cluster.Total = 0;
    }
    const int clusterCount = int(FClusters.size());
    int improvements = 0;
    for (TKMeanColour& colour : FColours) {
        if (colour.Cluster < 0 || colour.Cluster >= clusterCount) colour.Cluster = 0;
        const int current = colour.Cluster;
        double best = Distance(colour, FClusters[size_t(current)]);
        for (int i = 0; i < clusterCount; ++i) {
            if (i == current) continue;
            const double d = Distance(colour, FClusters[size_t(i)]);
            if (d < best) {
                colour.Cluster = i;
                best = d;
                ++improvements;
            }
        }
        TKMeanCluster& target = FClusters[size_t(colour.Cluster)];
        const float count = float(colour.Count);
        target.Accumulator[0] += float(colour.B) * count;
        target.Accumulator[1] += float(colour.G) * count;
        target.Accumulator[2] += float(colour.R) * count;
        target.Total += colour.Count;
    }
    for (TKMeanCluster& cluster : FClusters) {
        if (!cluster.Movable || cluster.Total <= 0) continue;
        const float total = float(cluster.Total);
        for (int c = 0; c < 3; ++c) cluster.Centre[c] = cluster.Accumulator[c] / total;
    }
    return improvements;
}
