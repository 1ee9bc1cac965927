// Patch engine of hand in-painting: splits the masked cells of a region into
// a border ring and an interior, drops outlier border colours, picks the best
// of eight patch orientations by border correlation and writes the patch,
// optionally colour-corrected by surfaces fitted on the border.
#pragma once

#include <cstdint>
#include <vector>

#include "BorderArea8.h"
#include "QelBitmap.h"
#include "QelGeometry.h"

class TAreaCorrelator {
public:
    // Transfer kinds.
    static constexpr int KindCopy = 0;          // no colour correction
    static constexpr int KindChannelSum = 1;    // one surface on R + G + B
    static constexpr int KindPerChannel = 2;    // one surface per channel

    // Source is the image as it was before the stroke, destination the image
    // being edited; neither is owned. Both must be 24-bit; only the part they
    // share counts as the image. The mask starts all zero.
    TAreaCorrelator(const TQelRect& region, int32_t squaredRadius, const TQelPixels* source, TQelPixels* destination);

    // Marks the cell at image (x, y) for repair (non-zero) or keeping (0).
    // Positions outside the region are ignored.
    void SetMask(int32_t x, int32_t y, uint8_t masked);

    // Masked cells, column by column, into the border list (some neighbour
    // within the radius is unmasked, or lies beyond the region inside the
    // image) or the interior list.
    void BuildLists();
    // 2-means on the border colours of the destination; removes the smaller
    // cluster's cells when it holds at most fraction of the border.
    void RemoveBorderOutliers(double fraction);
    // Interior weights for blending at the seam.
    void ComputeWeights();
    // The orientation 0..7 whose patch at the top-left of sourceRect
    // correlates best with the border; ties keep the lower orientation.
    uint8_t BestOrientation(const TQelRect& sourceRect);
    // Writes the interior from the patch at offset in the given orientation.
    void Transfer(const TQelPoint& offset, uint8_t orientation, int degree, int kind, bool blend);

    const TBorderArea8& BorderList() const { return FBorder; }
    const TBorderArea8& InteriorList() const { return FInterior; }

private:
    bool IsBorderCell(int32_t x, int32_t y, int32_t reach) const;
    const uint8_t* Source(int32_t x, int32_t y) const { return FSource->PixelAddress(x, y); }
    uint8_t* Dest(int32_t x, int32_t y) const { return FDest->PixelAddress(x, y); }
    void TransferCopy(const TQelPoint& offset, uint8_t orientation, bool blend);
    void TransferChannelSum(const TQelPoint& offset, uint8_t orientation, int degree);
    void TransferPerChannel(const TQelPoint& offset, uint8_t orientation, int degree, bool blend);

    TQelRect FRegion;
    int32_t FWidth = 0;
    int32_t FHeight = 0;
    int32_t FSquaredRadius = 0;
    std::vector<uint8_t> FMask;  // [x][y], local
    TQelRect FBounds;            // where both buffers have pixels
    const TQelPixels* FSource = nullptr;
    TQelPixels* FDest = nullptr;
    TBorderArea8 FBorder;
    TBorderArea8 FInterior;
};
