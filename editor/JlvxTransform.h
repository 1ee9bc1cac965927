// Transforming the file's blocks for a save: which of the eight lossless
// orientations maps the file onto the document, whether it keeps the block
// grid, the quantisation tables and sampling it gives, the blocks of the
// saved region (the file's own, shifted by a crop, or turned and flipped in
// a copy), and the EXIF size a turn states.
#pragma once

#include <cstdint>
#include <memory>

#include "JlvxJpeg.h"
#include "JlvxRead.h"
#include "JlvxSession.h"
#include "QelGeometry.h"
#include "QelLargeMemory.h"

enum class TJlvxTurn { None, FlipHorizontal, FlipVertical, Transpose, Transverse, Rotate90, Rotate180, Rotate270 };

// An orientation of the file, with the map from the oriented image's (u, v)
// back to the file's pixel (sx, sy): sx = Ax*u + Bx*v + tx, sy = Ay*u + By*v
// + ty.
struct TJlvxOrientation {
    TJlvxTurn Turn;
    int32_t Ax, Bx, Ay, By;
    bool Transposed() const { return Ax == 0; }
};

// The orientation that matches the document (null when Map is none of
// them), and in Ox, Oy where the saved region's top-left lies in the file so
// oriented.
const TJlvxOrientation* JlvxOrientFile(const TJlvxSession::TMap& Map, int32_t SourceWidth, int32_t SourceHeight,
                                       const TQelRect& R, int64_t& Ox, int64_t& Oy);

// An orientation keeps the grid when no partial edge MCU of the file would
// land on the left or top edge.
bool JlvxIsPerfect(TJlvxTurn Turn, int32_t Width, int32_t Height, int32_t Bw, int32_t Bh);

// A transposed image needs transposed quantisation tables and swapped
// sampling factors, or its quality would be distributed the wrong way.
void JlvxTransposeParameters(j_compress_ptr C);

// The file's tables, sampling and colour space as the oriented file has
// them, set on Out. Runs under a guard.
void JlvxOrientParameters(j_decompress_ptr File, const TJlvxOrientation& O, j_compress_ptr Out);

// Blocks of a turned or flipped copy, owned here while a save writes them.
struct TJlvxBlockStorage {
    std::unique_ptr<JBLOCK[], TQelLargeDeleter> Blocks;
};

// The blocks of the saved region, Cols x Rows MCUs of the oriented file from
// its MCU (Oi, Oj) on, a W x H picture: the file's own arrays where it is
// not turned (a crop only moves where each row starts), else a turned and
// flipped copy in Storage. Runs under the guard of File.
void JlvxKeptBlocks(TJlvxFileBlocks& File, const TJlvxOrientation& O, int32_t Oi, int32_t Oj, int32_t Cols,
                    int32_t Rows, int32_t W, int32_t H, TJlvxBlockStorage& Storage, TJlvxBlockImage& Image);

// The EXIF image size of a turned file, as libjpeg's own lossless transform
// states it in the file's first marker when that is EXIF: its pixel
// dimensions in the EXIF directory become the oriented size, as one LONG.
void JlvxRestateTurnedExif(j_decompress_ptr File, const TJlvxOrientation& O);
