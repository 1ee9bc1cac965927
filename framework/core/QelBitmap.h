// Pixel rows, owned pixel buffers, coverage masks and the Lanczos resampler.
//
// Every image in memory (document images, undo copies, thumbnails, paint
// surfaces) is described by TQelPixels: rows top-down, pixel (x, y) at
// Bits + (x - Left) * BytesPerPixel + (y - Top) * Stride. Left and Top are in
// the owner's coordinates and may be non-zero. A view with Bits == nullptr is
// empty, whatever its bounds say.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "QelGeometry.h"
#include "QelNumeric.h"

// 24-bit B, G, R, rows padded to 4 bytes: every document image, undo copy,
// thumbnail and paint surface.
constexpr uint32_t QelFormatBGR24 = 0x1012;
// 32-bit B, G, R, A.
constexpr uint32_t QelFormatBGRA32 = 0x1112;

// Bit depth of a pixel-format code; 0 for codes the rule does not know.
uint8_t BitsPerPixel(uint32_t Code);

// Row stride of rows the program allocates: padded to a multiple of 4 bytes.
// 0 for a width of 0 or less; -1 when the stride does not fit in 32 bits.
int32_t QelPixelStride(uint32_t Format, int32_t Width);

// Rows that this object describes but does not own.
class TQelPixels {
public:
    uint8_t* Bits = nullptr;
    int32_t Left = 0;
    int32_t Top = 0;
    int32_t Width = 0;
    int32_t Height = 0;
    int32_t Stride = 0;
    uint32_t Format = 0;
    int32_t BytesPerPixel = 0;

    void Init(const TQelRect& Rect, uint8_t* Bits, uint32_t Format, int32_t Stride);

    // No range check: callers keep (x, y) inside the bounds and Bits non-null.
    uint8_t* PixelAddress(int32_t x, int32_t y) const {
        return Bits + (ptrdiff_t(x) - Left) * BytesPerPixel + (ptrdiff_t(y) - Top) * Stride;
    }

    TQelRect GetBounds() const;
};

// Rows inside the memory of a display bitmap, which owns that memory.
class TQelLTPixels : public TQelPixels {};

// Rows of a view's paint surface, owned by the view canvas.
class TQelCanvasPixels : public TQelPixels {};

// Owns zero-filled rows (from QelAllocateLarge: a whole image lies on huge
// pages). An allocation that cannot be honoured leaves Bits nullptr (the
// buffer then counts as empty); it never throws.
class TQelPixelBuffer : public TQelPixels {
public:
    TQelPixelBuffer() = default;
    ~TQelPixelBuffer() { Release(); }
    TQelPixelBuffer(const TQelPixelBuffer&) = delete;
    TQelPixelBuffer& operator=(const TQelPixelBuffer&) = delete;
    TQelPixelBuffer(TQelPixelBuffer&& Other) noexcept;
    TQelPixelBuffer& operator=(TQelPixelBuffer&& Other) noexcept;

    // Gives the buffer the bounds Rect. The same bounds keep the pixels
    // whatever KeepPixels says; otherwise new zeroed rows are taken and, with
    // KeepPixels, the overlap of old and new bounds is copied across.
    void Reallocate(const TQelRect& Rect, bool KeepPixels);
    // Format and BytesPerPixel only; the rows are left as they are.
    void SetFormat(uint32_t Code);
    // New rows when the rectangle or the format differs from the present one.
    void Allocate(uint32_t Code, const TQelRect& Rect);
    void SetBounds(const TQelRect& Rect) { Reallocate(Rect, false); }
    void Release();

    // Rows of which only a little is ever touched (a cache over a whole
    // image) stay on ordinary pages; set before the rows are taken.
    bool Sparse = false;

    // Becomes a copy of Source: its format, bounds and pixels, the rows'
    // padding zero. Rows holding as many bytes as the copy needs are written
    // over rather than taken afresh (a turned image fits the rows of the
    // one before), and the rows are copied in bands over the threads. False,
    // with the buffer empty, for a source without rows or when the rows
    // cannot be had.
    bool AssignCopy(const TQelPixels& Source);
    // Copies the part of Source that overlaps this buffer to the same
    // coordinates.
    void CopyFrom(const TQelPixels& Source);
    // Copies SourceRect of Source so that its top-left lands on (X, Y). Copies
    // nothing when the formats differ or either side has no rows.
    void CopyRect(int32_t X, int32_t Y, const TQelRect& SourceRect, const TQelPixels& Source);

private:
    void ReallocateRows(const TQelRect& Rect, bool KeepPixels, bool Force);
};

// 8-bit coverage, one byte per pixel, stride = Width. Data is nullptr while
// the mask is empty. Only the mask's own operations change its bounds.
class TQelPixelMask {
public:
    int32_t Left = 0;
    int32_t Top = 0;
    int32_t Width = 0;
    int32_t Height = 0;
    uint8_t* Data = nullptr;

    TQelPixelMask() = default;
    ~TQelPixelMask() { Clear(); }
    TQelPixelMask(const TQelPixelMask&) = delete;
    TQelPixelMask& operator=(const TQelPixelMask&) = delete;

    // A negative size becomes 0; the bytes are zero. Raises EQelOutOfMemory
    // when the bytes cannot be had (the mask is then unchanged).
    void Init(int32_t Left, int32_t Top, int32_t Width, int32_t Height);
    // Grows the mask to contain Rect, keeping its coverage in place. An empty
    // Rect changes nothing. Raises EQelOutOfMemory like Init.
    void Extend(const TQelRect& Rect);
    TQelRect GetBounds() const;
    // nullptr outside the mask.
    uint8_t* MaskAddress(int32_t x, int32_t y) const;
    static void CopyRows(const uint8_t* Source, ptrdiff_t SourceStride, uint8_t* Dest, ptrdiff_t DestStride,
                         int32_t RowWidth, int32_t RowCount);
    void Clear();
    // Extend to Other's bounds, then the per-byte maximum inside them.
    void MergeMax(const TQelPixelMask& Other);
};

// --- Turns and flips --------------------------------------------------------

enum class TQelPixelTurn {
    FlipHorizontal,  // (x, y) goes to (Width - 1 - x, y)
    FlipVertical,    // (x, y) goes to (x, Height - 1 - y)
    Left,            // counter-clockwise: (x, y) goes to (y, Width - 1 - x)
    Right,           // clockwise: (x, y) goes to (Height - 1 - y, x)
};

// Writes the pixels of From, turned or flipped, into To, which has the
// turned size. Both 24-bit with rows; false, with nothing written,
// otherwise. Every byte of To's rows is written, the padding as zero, so To
// may be memory of any content. Quarter
// turns go tile by tile, so that the rows read and the rows written both
// stay in the cache; the tiles are spread over the program's threads.
bool QelTurnPixels(const TQelPixels& From, TQelPixels& To, TQelPixelTurn Turn);

// MulDiv(Width, NewHeight, Height); -1 when Height is 0.
inline int32_t ProportionalWidth(int32_t Width, int32_t NewHeight, int32_t Height) {
    return MulDiv(Width, NewHeight, Height);
}
inline int32_t ProportionalHeight(int32_t Height, int32_t NewWidth, int32_t Width) {
    return MulDiv(Height, NewWidth, Width);
}

// The largest size of the same aspect ratio inside MaxW x MaxH (it also
// enlarges). False, with the outputs untouched, when MaxW or MaxH is 0.
bool FitSizeInto(int32_t W, int32_t H, int32_t MaxW, int32_t MaxH, int32_t& NewW, int32_t& NewH);

// --- Resampling -------------------------------------------------------------

// A one-dimensional reconstruction kernel.
class TPixelResampler {
public:
    virtual ~TPixelResampler() = default;
    // True when a kernel with negative lobes needs its totals clamped to 0..255.
    virtual bool NeedsClamping() const { return false; }
    virtual double Filter(double x) const = 0;
    virtual double GetRadius() const = 0;
};

class TWindowedSincResampler : public TPixelResampler {
public:
    double Radius = 3.0;

    bool NeedsClamping() const override { return true; }
    // Sinc(|x|) * Window(|x|) inside the radius, 0 beyond.
    double Filter(double x) const override;
    double GetRadius() const override { return Radius; }
    virtual double Window(double x) const = 0;
};

class TLanczosResampler : public TWindowedSincResampler {
public:
    double Window(double x) const override;
};

struct TPixelTap {
    int32_t Index = 0;   // source position
    int32_t Weight = 0;  // in 1/256
    friend bool operator==(const TPixelTap&, const TPixelTap&) = default;
};

// One list of taps per destination position; the weights of each list add up
// to 256.
class TPixelMappingTable {
public:
    int32_t Count() const { return int32_t(Starts.size() > 0 ? Starts.size() - 1 : 0); }
    bool IsEmpty() const { return Count() == 0; }
    std::span<const TPixelTap> Entry(int32_t i) const {
        return std::span<const TPixelTap>(Taps.data() + Starts[size_t(i)], Starts[size_t(i) + 1] - Starts[size_t(i)]);
    }
    void Clear();

private:
    friend void BuildMappingTable(int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, const TPixelResampler&,
                                  TPixelMappingTable&);
    std::vector<TPixelTap> Taps;
    std::vector<size_t> Starts;  // Count + 1 offsets into Taps
};

// Taps for the destination positions [ClipLow, ClipHigh) of the destination
// range [DstLow, DstHigh), which is the image of the source range
// [SrcLow, SrcHigh). An inverted range gives an empty table. Raises
// EQelOutOfMemory when the table cannot be held.
void BuildMappingTable(int32_t DstLow, int32_t DstHigh, int32_t ClipLow, int32_t ClipHigh, int32_t SrcLow,
                       int32_t SrcHigh, const TPixelResampler& Resampler, TPixelMappingTable& Table);

// Maps SourceRect of Source onto DestRect of Dest and writes the pixels of
// ClipRect intersected with Dest's bounds, nothing else. Both sides must be
// 24-bit (0x1012) with rows; SourceRect is first cut to Source's bounds.
// Raises EQelOutOfMemory when the working rows cannot be had, before any
// pixel is written.
void ResamplePixels(TQelPixels& Dest, const TQelRect& DestRect, const TQelRect& ClipRect, const TQelPixels& Source,
                    const TQelRect& SourceRect, const TPixelResampler& Resampler);

// Number of threads ResamplePixels may use for large images: 0 (the default)
// takes the program's thread count (QelThreadCount), 1 keeps all work on
// the calling thread.
// The result is the same byte for byte whatever the count.
void SetResampleThreadCount(int32_t Count);
