// Comparing the picture a save is handed with the file it came from, MCU by
// MCU: which MCUs the caller's changed rectangles meet, whether their pixels
// still equal the file's (against a decode of just the file's blocks around
// them, or of the whole file), and whether a grey file was coloured.
#pragma once

#include <cstdint>
#include <vector>

#include "JlvxJpeg.h"
#include "JlvxSession.h"
#include "QelGeometry.h"

// Pixels of the file decoded over Area (file coordinates), Stride bytes a row.
struct TJlvxReference {
    const uint8_t* Rows = nullptr;
    ptrdiff_t Stride = 0;
    TQelRect Area;
};

// The saved region as the comparison sees it: its rows, the map from the
// document to the file, the region's origin in the document and its grid.
struct TJlvxRegionGrid {
    TJlvxPixelRows Pixels;
    TJlvxSession::TMap Map;
    int32_t Left, Top, W, H, Bw, Bh, Cols, Rows;
};

// Clears the flags of the flagged MCUs in Range (MCUs of the region) that
// show the file's pixels.
void JlvxCompareRange(const TJlvxRegionGrid& Grid, const TJlvxReference& Ref, const TQelRect& Range,
                      std::vector<uint8_t>& Changed);

// The MCU ranges of the region (Cols x Rows MCUs of Bw x Bh, its origin at
// R's top-left) that the changed rectangles meet. Ranges that come within
// an MCU of each other are merged, so that each block is decoded once.
std::vector<TQelRect> JlvxChangedRanges(const std::vector<TQelRect>& Rects, const TQelRect& R, int32_t Bw, int32_t Bh,
                                        int32_t Cols, int32_t Rows);

// The caller's changed rectangles count only where the region lies in the
// file: elsewhere there is nothing its pixels could equal. True when they
// count, with those meeting R cut to it in Rects.
bool JlvxVouchedChanges(const TJlvxSession::TMap& Map, int32_t SourceWidth, int32_t SourceHeight, const TQelRect& R,
                        const std::vector<TQelRect>* Changed, std::vector<TQelRect>& Rects);

// Whether the region R's pixels hold a colour other than grey: only where
// the changed rectangles lie when they are vouched for.
bool JlvxAnyColour(const TJlvxPixelRows& Pixels, const TQelRect& R, bool Vouched,
                   const std::vector<TQelRect>& ChangedRects);

// Clears the flags of the MCUs in Ranges that show the file's pixels, each
// range against a decode of just the file's blocks around it. False when
// the blocks cannot be decoded alone: the ranges are then for a decode of
// the whole file.
bool JlvxCompareRangesOnBlocks(j_decompress_ptr File, jvirt_barray_ptr* Blocks, const TJlvxRegionGrid& Grid,
                               int32_t SourceWidth, int32_t SourceHeight, const std::vector<TQelRect>& Ranges,
                               std::vector<uint8_t>& Changed);
