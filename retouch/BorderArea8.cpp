#include "BorderArea8.h"

#include <algorithm>
#include <cstdlib>

TBorderArea8::TBorderArea8(const TQelRect& region)
    : FLeft(region.Left), FTop(region.Top), FWidth(std::max(region.Width(), 0)), FHeight(std::max(region.Height(), 0)),
      FGrid(size_t(FWidth) * size_t(FHeight), -1) {
    FPlaces.reserve(KInitialCapacity);
    FRecords.reserve(KInitialCapacity);
}

ptrdiff_t TBorderArea8::GridSlot(int64_t localX, int64_t localY) const {
    if (localX < 0 || localY < 0 || localX >= FWidth || localY >= FHeight) return -1;
    return ptrdiff_t(localX) * FHeight + localY;
}

void TBorderArea8::IndexCell(int32_t index) {
    const TPlace& p = FPlaces[size_t(index)][0];
    const ptrdiff_t slot = GridSlot(p.X, p.Y);
    if (slot < 0)
        ++FOutsideCount;
    else if (FGrid[size_t(slot)] < 0)  // the first cell at a position wins
        FGrid[size_t(slot)] = index;
}

void TBorderArea8::UnindexAll() {
    for (const TPlace8Array& places : FPlaces) {
        const ptrdiff_t slot = GridSlot(places[0].X, places[0].Y);
        if (slot >= 0) FGrid[size_t(slot)] = -1;
    }
    FOutsideCount = 0;
}

void TBorderArea8::Add(int32_t x, int32_t y) {
    const int32_t w1 = FWidth - 1;
    const int32_t h1 = FHeight - 1;
    const int32_t local[8][2] = {{x, y},           {w1 - x, y},      {y, w1 - x},      {y, x},
                                 {w1 - x, h1 - y}, {x, h1 - y},      {h1 - y, w1 - x}, {h1 - y, x}};
    TPlace8Array places;
    for (size_t o = 0; o < 8; ++o)
        places[o] = TPlace{local[o][0], local[o][1], local[o][0] + FLeft, local[o][1] + FTop};
    FPlaces.push_back(places);
    FRecords.push_back(TCellRecord());
    IndexCell(Count() - 1);
}

void TBorderArea8::Clear() {
    UnindexAll();
    FPlaces.clear();
    FRecords.clear();
}

void TBorderArea8::Reserve(int32_t count) {
    if (count <= 0) return;
    FPlaces.reserve(size_t(count));
    FRecords.reserve(size_t(count));
}

int32_t TBorderArea8::IndexOf(int32_t ax, int32_t ay) const {
    const ptrdiff_t slot = GridSlot(int64_t(ax) - FLeft, int64_t(ay) - FTop);
    if (slot >= 0) return FGrid[size_t(slot)];
    return FOutsideCount > 0 ? IndexOfLinear(ax, ay) : -1;
}

int32_t TBorderArea8::IndexOfLinear(int32_t ax, int32_t ay) const {
    for (size_t i = 0; i < FPlaces.size(); ++i)
        if (FPlaces[i][0].AbsX == ax && FPlaces[i][0].AbsY == ay) return int32_t(i);
    return -1;
}

void TBorderArea8::Compact() {
    UnindexAll();
    size_t kept = 0;
    for (size_t i = 0; i < FPlaces.size(); ++i) {
        if (FRecords[i].Remove != 0) continue;
        FPlaces[kept] = FPlaces[i];
        FRecords[kept] = FRecords[i];
        ++kept;
    }
    FPlaces.resize(kept);
    FRecords.resize(kept);
    for (int32_t i = 0; i < Count(); ++i) IndexCell(i);
}

void TBorderArea8::ComputeNeighbourWeights(const TBorderArea8& other) {
    // All outer weights first: the inner step reads the neighbours' outer
    // weights.
    for (size_t i = 0; i < FPlaces.size(); ++i) {
        const TPlace& p = FPlaces[i][0];
        for (int dx = -1; dx <= 1; ++dx)
            for (int dy = -1; dy <= 1; ++dy) {
                if (dx == 0 && dy == 0) continue;
                if (other.Contains(p.AbsX + dx, p.AbsY + dy)) FRecords[i].OuterWeight += 3 - (std::abs(dx) + std::abs(dy));
            }
    }
    for (size_t i = 0; i < FPlaces.size(); ++i) {
        if (FRecords[i].OuterWeight <= 0) continue;
        const TPlace& p = FPlaces[i][0];
        for (int dx = -1; dx <= 1; ++dx)
            for (int dy = -1; dy <= 1; ++dy) {
                if (dx == 0 && dy == 0) continue;
                const int32_t j = IndexOf(p.AbsX + dx, p.AbsY + dy);
                if (j >= 0 && FRecords[size_t(j)].OuterWeight == 0)
                    FRecords[i].InnerWeight += 3 - (std::abs(dx) + std::abs(dy));
            }
    }
}
