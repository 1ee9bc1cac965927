// Device-independent bitmaps as the transfers hand them out: our stand-in
// for a DIB section (header, colour table and bits in memory of our own),
// and the conversions from a source's packed DIB and from a BMP file. Every
// size from a source or a file is checked before it is used.
#pragma once

#include <QString>
#include <cstdint>
#include <vector>

#include "TwnDefs.h"

constexpr uint32_t TwnDibMagic = 0x42494454;  // "TDIB"
constexpr int32_t TwnDefaultPelsPerMeter = 11811;  // 300 dots per inch
// The largest image a transfer accepts (bytes of bits).
constexpr uint64_t TwnMaxImageBytes = uint64_t(1) << 31;

struct TwnDibSection {
    uint32_t magic = TwnDibMagic;
    std::vector<uint8_t> info;  // BITMAPINFOHEADER, then the colour table
    std::vector<uint8_t> bits;  // rows padded to 4 bytes, bottom-up when the height is positive

    TwnBitmapInfoHeader* Info() { return reinterpret_cast<TwnBitmapInfoHeader*>(info.data()); }
    uint8_t* Bits() { return bits.data(); }
};

// Bytes of one row: whole 32-bit words. 0 for a non-positive width or depth.
uint64_t TwnDibStride(int64_t width, int bitsPerPixel);
// Colour-table entries a DIB carries: up to 8 bits, biClrUsed when it is
// 1 to 2^bits and the full table when it is 0 (-1: more than the depth can
// index); above 8 bits, biClrUsed.
int64_t TwnDibTableEntries(int bitsPerPixel, uint32_t clrUsed);

// A DIB section, when the handle is one.
TwnDibSection* TwnAsDibSection(void* handle);
// Frees an image handed out by a transfer: a DIB section or a movable block.
void TwnFreeImage(void* handle);

// A DIB section from a source's packed DIB. The block is freed in every
// case; null when the DIB is not sound or its header, table and rows do not
// fit in the block (checked before anything is allocated).
TwnDibSection* TwnDibFromPackedDib(TW_HANDLE block);
// Width and height from a packed DIB's header; false when it has none.
bool TwnPackedDibSize(TW_HANDLE block, int32_t& width, int32_t& height);

// A DIB section loaded from a BMP file (read as a regular file only); null
// on any error.
TwnDibSection* TwnDibFromBmpFile(const QString& path);
TwnDibSection* TwnDibFromBmpBytes(const uint8_t* data, uint64_t size);
// A movable block holding a BMP file without its 14-byte header; null on
// any error.
TW_HANDLE TwnGlobalFromBmpFile(const QString& path);
TW_HANDLE TwnGlobalFromBmpBytes(const uint8_t* data, uint64_t size);
