// A list of region cells, each with the source places of the eight patch
// orientations and its neighbour weights.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "QelGeometry.h"

class TBorderArea8 {
public:
    // One orientation's place: local position (relative to the region's
    // top-left) and absolute image position.
    struct TPlace {
        int32_t X = 0;
        int32_t Y = 0;
        int32_t AbsX = 0;
        int32_t AbsY = 0;
    };
    using TPlace8Array = std::array<TPlace, 8>;

    struct TCellRecord {
        uint8_t Remove = 0;
        int32_t InnerWeight = 0;
        int32_t OuterWeight = 0;
    };

    explicit TBorderArea8(const TQelRect& region);

    // Appends the cell at local (x, y) with a zero record. Place o holds the
    // position that feeds the cell in orientation o:
    // 0 (x, y), 1 (W−1−x, y), 2 (y, W−1−x), 3 (y, x),
    // 4 (W−1−x, H−1−y), 5 (x, H−1−y), 6 (H−1−y, W−1−x), 7 (H−1−y, x).
    void Add(int32_t x, int32_t y);
    void Clear();
    // Room for count cells, so a list of known length is built without
    // reallocation.
    void Reserve(int32_t count);
    int32_t Count() const { return int32_t(FPlaces.size()); }

    const TPlace& Place(int32_t index, int orientation) const { return FPlaces[size_t(index)][size_t(orientation)]; }
    const TCellRecord& Record(int32_t index) const { return FRecords[size_t(index)]; }

    // Index of the first cell whose own (place 0) absolute position is
    // (ax, ay), else -1.
    int32_t IndexOf(int32_t ax, int32_t ay) const;
    // The same answer by walking the list; kept for checking the index grid.
    int32_t IndexOfLinear(int32_t ax, int32_t ay) const;
    bool Contains(int32_t ax, int32_t ay) const { return IndexOf(ax, ay) >= 0; }

    bool HasOuterNeighbours(int32_t index) const { return FRecords[size_t(index)].OuterWeight > 0; }
    int32_t GetInnerWeight(int32_t index) const { return FRecords[size_t(index)].InnerWeight; }
    int32_t GetOuterWeight(int32_t index) const { return FRecords[size_t(index)].OuterWeight; }
    void SetRemoveFlag(int32_t index, uint8_t value) { FRecords[size_t(index)].Remove = value; }

    // Drops every flagged cell; the others keep their order.
    void Compact();

    // Called on the interior with the border as other: outer weight = 2 per
    // edge and 1 per diagonal neighbour in other; then, for cells with an
    // outer weight, inner weight = the same sum over neighbours in this list
    // whose outer weight is 0. Adds to the current weights.
    void ComputeNeighbourWeights(const TBorderArea8& other);

private:
    // Room for a typical region up front; beyond it the lists grow
    // geometrically, so long lists are not copied again and again.
    static constexpr size_t KInitialCapacity = 512;

    // Grid slot of a local position, or -1 outside the region.
    ptrdiff_t GridSlot(int64_t localX, int64_t localY) const;
    void IndexCell(int32_t index);
    void UnindexAll();

    int32_t FLeft = 0;
    int32_t FTop = 0;
    int32_t FWidth = 0;
    int32_t FHeight = 0;
    std::vector<TPlace8Array> FPlaces;
    std::vector<TCellRecord> FRecords;
    // W × H cell indices by local position, -1 for none: IndexOf in constant
    // time. Cells added outside the region are found by a walk instead.
    std::vector<int32_t> FGrid;
    int32_t FOutsideCount = 0;
};
