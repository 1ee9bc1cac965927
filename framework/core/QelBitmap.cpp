#include "QelBitmap.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) || defined(__i386__)
#include <smmintrin.h>
#endif

#include "QelError.h"
#include "QelLargeMemory.h"
#include "QelParallel.h"

namespace {

// No machine holds a pixel buffer or mask this large; such a size can only
// come from a damaged file and is refused before the allocator sees it.
constexpr uint64_t MaxPixelBytes = uint64_t(1) << 40;

bool FitsInt32(int64_t v) {
    return v >= std::numeric_limits<int32_t>::min() && v <= std::numeric_limits<int32_t>::max();
}

}  // namespace

uint8_t BitsPerPixel(uint32_t Code) {
    uint32_t bits;
    switch (Code & 0xFu) {
    case 1: bits = 8; break;
    case 2: case 3: case 4: case 5: case 7: case 8: bits = 24; break;
    case 6: bits = 32; break;
    default: return 0;
    }
    if ((Code & 0xF00u) == 0x100u) bits += 8;
    switch (Code & 0xF0u) {
    case 0x20: case 0x30: bits *= 2; break;
    case 0x40: bits *= 4; break;
    default: break;
    }
    return uint8_t(bits);
}

namespace {

// Whole bytes of a pixel; 0 for a format of fewer than eight bits.
int32_t BytesPerPixelOf(uint32_t Format) { return (BitsPerPixel(Format) >> 3) & 0x1F; }

}  // namespace

int32_t QelPixelStride(uint32_t Format, int32_t Width) {
    if (Width <= 0) return 0;
    int64_t stride = (int64_t(BitsPerPixel(Format)) * Width + 31) / 32 * 4;
    return stride > std::numeric_limits<int32_t>::max() ? -1 : int32_t(stride);
}

// --- TQelPixels --------------------------------------------------------------

void TQelPixels::Init(const TQelRect& Rect, uint8_t* NewBits, uint32_t NewFormat, int32_t NewStride) {
    Left = Rect.Left;
    Top = Rect.Top;
    Width = QelWrapInt32(int64_t(Rect.Right) - Rect.Left);
    Height = QelWrapInt32(int64_t(Rect.Bottom) - Rect.Top);
    Format = NewFormat;
    BytesPerPixel = BytesPerPixelOf(NewFormat);
    Stride = NewStride;
    Bits = NewBits;
}

TQelRect TQelPixels::GetBounds() const {
    return TQelRect(Left, Top, QelWrapInt32(int64_t(Left) + Width), QelWrapInt32(int64_t(Top) + Height));
}

// --- TQelPixelBuffer ---------------------------------------------------------

TQelPixelBuffer::TQelPixelBuffer(TQelPixelBuffer&& Other) noexcept : TQelPixels(Other), Sparse(Other.Sparse) {
    static_cast<TQelPixels&>(Other) = TQelPixels();
}

TQelPixelBuffer& TQelPixelBuffer::operator=(TQelPixelBuffer&& Other) noexcept {
    if (this != &Other) {
        Release();
        static_cast<TQelPixels&>(*this) = Other;
        Sparse = Other.Sparse;
        static_cast<TQelPixels&>(Other) = TQelPixels();
    }
    return *this;
}

void TQelPixelBuffer::SetFormat(uint32_t Code) {
    Format = Code;
    BytesPerPixel = BytesPerPixelOf(Code);
}

void TQelPixelBuffer::Allocate(uint32_t Code, const TQelRect& Rect) {
    const bool formatChanged = Code != Format;
    SetFormat(Code);
    ReallocateRows(Rect, false, formatChanged);
}

void TQelPixelBuffer::Reallocate(const TQelRect& Rect, bool KeepPixels) { ReallocateRows(Rect, KeepPixels, false); }

void TQelPixelBuffer::ReallocateRows(const TQelRect& Rect, bool KeepPixels, bool Force) {
    const int64_t width = int64_t(Rect.Right) - Rect.Left;
    const int64_t height = int64_t(Rect.Bottom) - Rect.Top;
    const bool needsRows = width > 0 && height > 0 && BitsPerPixel(Format) > 0;
    // The same bounds keep the pixels, unless an earlier allocation of them
    // failed: then it is tried again.
    if (!Force && Rect == GetBounds() && (Bits != nullptr || !needsRows)) return;
    if (!FitsInt32(width) || !FitsInt32(height)) {
        Release();
        return;
    }

    int32_t newStride = QelPixelStride(Format, int32_t(width));
    uint8_t* newBits = nullptr;
    if (newStride < 0) {
        newStride = 0;  // a row wider than 2 GiB is refused
    } else if (needsRows) {
        // Every size in 64 bits: a damaged header may claim a huge image.
        const uint64_t bytes = uint64_t(newStride) * uint64_t(height);
        if (bytes <= MaxPixelBytes)
            newBits = static_cast<uint8_t*>(QelAllocateLarge(size_t(bytes), Sparse));
    }

    if (KeepPixels && Bits != nullptr && newBits != nullptr) {
        TQelPixels fresh;
        fresh.Init(Rect, newBits, Format, newStride);
        TQelRect overlap;
        if (QelIntersectRect(overlap, GetBounds(), Rect)) {
            const size_t rowBytes = size_t(overlap.Width()) * size_t(BytesPerPixel);
            for (int32_t y = overlap.Top; y < overlap.Bottom; ++y)
                std::memcpy(fresh.PixelAddress(overlap.Left, y), PixelAddress(overlap.Left, y), rowBytes);
        }
    }

    QelFreeLarge(Bits);
    Left = Rect.Left;
    Top = Rect.Top;
    Width = int32_t(width);
    Height = int32_t(height);
    Stride = newStride;
    Bits = newBits;
}

void TQelPixelBuffer::Release() {
    QelFreeLarge(Bits);
    Bits = nullptr;
    Left = 0;
    Top = 0;
    Width = 0;
    Height = 0;
    Stride = 0;
}

bool TQelPixelBuffer::AssignCopy(const TQelPixels& Source) {
    const int32_t stride = QelPixelStride(Source.Format, Source.Width);
    const int32_t bpp = BytesPerPixelOf(Source.Format);
    if (Source.Bits == nullptr || stride <= 0 || Source.Height <= 0 || bpp != Source.BytesPerPixel) {
        Release();
        return false;
    }
    const uint64_t bytes = uint64_t(stride) * uint64_t(Source.Height);
    const bool reuse = Bits != nullptr && Stride > 0 && Height > 0 && uint64_t(Stride) * uint64_t(Height) == bytes;
    SetFormat(Source.Format);
    if (reuse) {
        Left = Source.Left;
        Top = Source.Top;
        Width = Source.Width;
        Height = Source.Height;
        Stride = stride;
    } else {
        ReallocateRows(Source.GetBounds(), false, true);
        if (Bits == nullptr) {
            Release();
            return false;
        }
    }
    constexpr int32_t BandRows = 64;
    const size_t rowBytes = size_t(Width) * size_t(BytesPerPixel);
    const size_t padding = size_t(Stride) - rowBytes;
    const int32_t bands = (Height + BandRows - 1) / BandRows;
    const int32_t threads = QelParallelThreads(int64_t(bytes >> 22));
    QelParallelFor(bands, threads, [&](int64_t b, int32_t) {
        const int32_t y0 = int32_t(b) * BandRows, y1 = std::min(Height, y0 + BandRows);
        for (int32_t y = y0; y < y1; ++y) {
            uint8_t* to = Bits + ptrdiff_t(y) * Stride;
            std::memcpy(to, Source.Bits + ptrdiff_t(y) * Source.Stride, rowBytes);
            if (reuse && padding > 0) std::memset(to + rowBytes, 0, padding);
        }
    });
    return true;
}

void TQelPixelBuffer::CopyFrom(const TQelPixels& Source) { CopyRect(Source.Left, Source.Top, Source.GetBounds(), Source); }

void TQelPixelBuffer::CopyRect(int32_t X, int32_t Y, const TQelRect& SourceRect, const TQelPixels& Source) {
    if (Source.Format != Format || Source.Bits == nullptr || Bits == nullptr || BytesPerPixel <= 0) return;
    TQelRect r;
    if (!QelIntersectRect(r, SourceRect, Source.GetBounds())) return;
    // The shift is done in 64 bits and cut to our bounds before it narrows.
    const int64_t dx = int64_t(X) - SourceRect.Left;
    const int64_t dy = int64_t(Y) - SourceRect.Top;
    const TQelRect own = GetBounds();
    const int64_t l = std::max<int64_t>(r.Left + dx, own.Left);
    const int64_t t = std::max<int64_t>(r.Top + dy, own.Top);
    const int64_t rr = std::min<int64_t>(r.Right + dx, own.Right);
    const int64_t b = std::min<int64_t>(r.Bottom + dy, own.Bottom);
    if (rr <= l || b <= t) return;
    const size_t rowBytes = size_t(rr - l) * size_t(BytesPerPixel);
    for (int64_t y = t; y < b; ++y) {
        const uint8_t* from = Source.PixelAddress(int32_t(l - dx), int32_t(y - dy));
        std::memmove(PixelAddress(int32_t(l), int32_t(y)), from, rowBytes);
    }
}

// --- TQelPixelMask -----------------------------------------------------------

namespace {

uint8_t* AllocateMaskBytes(int64_t width, int64_t height) {
    if (width <= 0 || height <= 0) return nullptr;
    const uint64_t bytes = uint64_t(width) * uint64_t(height);
    void* p = nullptr;
    if (bytes <= MaxPixelBytes) p = std::calloc(size_t(bytes), 1);
    if (p == nullptr) throw EQelOutOfMemory("Out of memory for a mask of " + std::to_string(width) + " x " +
                                            std::to_string(height) + " pixels");
    return static_cast<uint8_t*>(p);
}

}  // namespace

void TQelPixelMask::Init(int32_t NewLeft, int32_t NewTop, int32_t NewWidth, int32_t NewHeight) {
    NewWidth = std::max(NewWidth, 0);
    NewHeight = std::max(NewHeight, 0);
    uint8_t* data = AllocateMaskBytes(NewWidth, NewHeight);
    std::free(Data);
    Data = data;
    Left = NewLeft;
    Top = NewTop;
    Width = NewWidth;
    Height = NewHeight;
}

TQelRect TQelPixelMask::GetBounds() const {
    return TQelRect(Left, Top, QelWrapInt32(int64_t(Left) + Width), QelWrapInt32(int64_t(Top) + Height));
}

void TQelPixelMask::Extend(const TQelRect& Rect) {
    const TQelRect old = GetBounds();
    TQelRect bounds;
    if (old.IsEmpty())
        bounds = Rect;
    else
        QelUnionRect(bounds, old, Rect);
    if (bounds == old || bounds.IsEmpty()) return;

    const int64_t width = int64_t(bounds.Right) - bounds.Left;
    const int64_t height = int64_t(bounds.Bottom) - bounds.Top;
    if (!FitsInt32(width) || !FitsInt32(height))
        throw EQelOutOfMemory("A mask cannot grow to " + std::to_string(width) + " x " + std::to_string(height) +
                              " pixels");
    uint8_t* data = AllocateMaskBytes(width, height);
    if (Data != nullptr && !old.IsEmpty())
        CopyRows(Data, Width, data + (int64_t(old.Top) - bounds.Top) * width + (int64_t(old.Left) - bounds.Left),
                 ptrdiff_t(width), Width, Height);
    std::free(Data);
    Data = data;
    Left = bounds.Left;
    Top = bounds.Top;
    Width = int32_t(width);
    Height = int32_t(height);
}

uint8_t* TQelPixelMask::MaskAddress(int32_t x, int32_t y) const {
    if (Data == nullptr) return nullptr;
    const int64_t dx = int64_t(x) - Left;
    const int64_t dy = int64_t(y) - Top;
    if (dx < 0 || dy < 0 || dx >= Width || dy >= Height) return nullptr;
    return Data + dy * Width + dx;
}

void TQelPixelMask::CopyRows(const uint8_t* Source, ptrdiff_t SourceStride, uint8_t* Dest, ptrdiff_t DestStride,
                             int32_t RowWidth, int32_t RowCount) {
    if (RowWidth <= 0) return;
    for (int32_t i = 0; i < RowCount; ++i) {
        std::memmove(Dest, Source, size_t(RowWidth));
        Source += SourceStride;
        Dest += DestStride;
    }
}

void TQelPixelMask::Clear() {
    std::free(Data);
    Data = nullptr;
    Left = 0;
    Top = 0;
    Width = 0;
    Height = 0;
}

void TQelPixelMask::MergeMax(const TQelPixelMask& Other) {
    if (&Other == this) return;
    Extend(Other.GetBounds());
    if (Other.Data == nullptr || Data == nullptr) return;
    for (int32_t y = 0; y < Other.Height; ++y) {
        const uint8_t* from = Other.Data + ptrdiff_t(y) * Other.Width;
        uint8_t* to = MaskAddress(Other.Left, Other.Top + y);
        for (int32_t x = 0; x < Other.Width; ++x) to[x] = std::max(to[x], from[x]);
    }
}

// --- Turns and flips ---------------------------------------------------------

namespace {

// 64 x 64 pixels: the tile read and the tile written, 12 KiB each, stay in
// the first-level cache while the rows of one cross the columns of the other.
constexpr int32_t TileSize = 64;
// Work below this many pixels stays on the calling thread.
constexpr int64_t MinTurnPixelsPerThread = int64_t(1) << 18;

inline void CopyPixel(uint8_t* To, const uint8_t* From) {
    To[0] = From[0];
    To[1] = From[1];
    To[2] = From[2];
}

}  // namespace

bool QelTurnPixels(const TQelPixels& From, TQelPixels& To, TQelPixelTurn Turn) {
    if (From.Bits == nullptr || To.Bits == nullptr || From.Format != QelFormatBGR24 || To.Format != QelFormatBGR24 ||
        From.BytesPerPixel != 3 || To.BytesPerPixel != 3 || From.Width <= 0 || From.Height <= 0)
        return false;
    const bool quarter = Turn == TQelPixelTurn::Left || Turn == TQelPixelTurn::Right;
    const int32_t w = From.Width, h = From.Height;
    if (To.Width != (quarter ? h : w) || To.Height != (quarter ? w : h)) return false;

    const uint8_t* const src = From.Bits;
    uint8_t* const dst = To.Bits;
    const ptrdiff_t srcStride = From.Stride, dstStride = To.Stride;
    // Destination rows in bands of one tile's height; a band is a piece.
    const int32_t rows = To.Height, cols = To.Width;
    const int32_t bands = (rows + TileSize - 1) / TileSize;
    const size_t rowBytes = size_t(cols) * 3, padding = size_t(dstStride) - rowBytes;
    auto band = [&](int64_t b, int32_t) {
        const int32_t y0 = int32_t(b) * TileSize, y1 = std::min(rows, y0 + TileSize);
        if (padding > 0)
            for (int32_t y = y0; y < y1; ++y) std::memset(dst + y * dstStride + rowBytes, 0, padding);
        switch (Turn) {
        case TQelPixelTurn::FlipVertical:
            for (int32_t y = y0; y < y1; ++y)
                std::memcpy(dst + y * dstStride, src + (ptrdiff_t(h) - 1 - y) * srcStride, size_t(w) * 3);
            return;
        case TQelPixelTurn::FlipHorizontal:
            for (int32_t y = y0; y < y1; ++y) {
                const uint8_t* from = src + y * srcStride + (ptrdiff_t(w) - 1) * 3;
                uint8_t* to = dst + y * dstStride;
                for (int32_t x = 0; x < w; ++x, to += 3, from -= 3) CopyPixel(to, from);
            }
            return;
        default: break;
        }
        // Destination (X, Y) takes source column Y (turned right) or
        // w - 1 - Y (left); along a destination row the source walks up
        // (right) or down (left) its column.
        const bool right = Turn == TQelPixelTurn::Right;
        const ptrdiff_t step = right ? -srcStride : srcStride;
        for (int32_t x0 = 0; x0 < cols; x0 += TileSize) {
            const int32_t x1 = std::min(cols, x0 + TileSize);
            for (int32_t y = y0; y < y1; ++y) {
                const ptrdiff_t sx = right ? y : ptrdiff_t(w) - 1 - y;
                const ptrdiff_t sy = right ? ptrdiff_t(h) - 1 - x0 : x0;
                const uint8_t* from = src + sy * srcStride + sx * 3;
                uint8_t* to = dst + y * dstStride + ptrdiff_t(x0) * 3;
                for (int32_t x = x0; x < x1; ++x, to += 3, from += step) CopyPixel(to, from);
            }
        }
    };
    const int64_t pixels = int64_t(w) * h;
    // QelParallelFor keeps the threads within the bands.
    const int32_t threads = QelParallelThreads(pixels / MinTurnPixelsPerThread);
    QelParallelFor(bands, threads, band);
    return true;
}

// --- Size helpers ------------------------------------------------------------

bool FitSizeInto(int32_t W, int32_t H, int32_t MaxW, int32_t MaxH, int32_t& NewW, int32_t& NewH) {
    if (MaxW == 0 || MaxH == 0) return false;
    // The ratios are compared in extended precision, as the sizes were
    // always compared.
    if (static_cast<long double>(H) / MaxH >= static_cast<long double>(W) / MaxW) {
        NewH = MaxH;
        NewW = MulDiv(W, MaxH, H);
    } else {
        NewW = MaxW;
        NewH = MulDiv(H, MaxW, W);
    }
    return true;
}

// --- Kernels -----------------------------------------------------------------

namespace {

constexpr double Pi = 3.1415926535897932385;

double Sinc(double x) {
    if (x == 0) return 1;
    const double px = Pi * x;
    return std::sin(px) / px;
}

}  // namespace

double TWindowedSincResampler::Filter(double x) const {
    x = std::fabs(x);
    if (x >= Radius) return 0;
    return Sinc(x) * Window(x);
}

double TLanczosResampler::Window(double x) const { return Sinc(x / Radius); }

// --- Mapping tables ----------------------------------------------------------

void TPixelMappingTable::Clear() {
    Taps.clear();
    Starts.clear();
}

namespace {

// floor/ceil of a source coordinate as a loop bound; saturates far outside
// any buffer so that a damaged rectangle cannot reach undefined behaviour.
int64_t SaturatedInt64(double v) {
    constexpr double limit = 4611686018427387904.0;  // 2^62
    if (std::isnan(v)) return 0;
    if (v >= limit) return int64_t(1) << 62;
    if (v <= -limit) return -(int64_t(1) << 62);
    return int64_t(v);
}

}  // namespace

void BuildMappingTable(int32_t DstLow, int32_t DstHigh, int32_t ClipLow, int32_t ClipHigh, int32_t SrcLow,
                       int32_t SrcHigh, const TPixelResampler& Resampler, TPixelMappingTable& Table) {
    Table.Clear();
    const int64_t srcSize = int64_t(SrcHigh) - SrcLow;
    const int64_t dstSize = int64_t(DstHigh) - DstLow;
    const int64_t count = int64_t(ClipHigh) - ClipLow;
    // An inverted range maps nothing.
    if (srcSize <= 0 || dstSize < 0 || count <= 0) return;
    // An empty destination range has one meaningful position only.
    if (dstSize == 0 && srcSize > 1 && count != 1) return;

    try {
        Table.Starts.reserve(size_t(count) + 1);
        Table.Starts.push_back(0);
        if (srcSize == 1) {
            Table.Taps.assign(size_t(count), TPixelTap{SrcLow, 256});
            for (int64_t i = 1; i <= count; ++i) Table.Starts.push_back(size_t(i));
            return;
        }
        if (dstSize == 0) {
            Table.Taps.push_back(TPixelTap{int32_t((int64_t(SrcLow) + SrcHigh) / 2), 256});
            Table.Starts.push_back(1);
            return;
        }

        const double scale = double(dstSize) / double(srcSize);
        const double radius = Resampler.GetRadius();
        const bool enlarging = scale >= 1;
        const double support = enlarging ? radius : radius / scale;
        const double step = 1 / scale;
        const double origin = double(SrcLow) - 0.5;
        const int64_t lastSrc = int64_t(SrcHigh) - 1;
        const double tapsPerEntry = std::min(2 * std::ceil(support) + 2, 1e6);
        Table.Taps.reserve(size_t(std::min<double>(double(count) * tapsPerEntry, 1 << 24)));

        for (int64_t i = 0; i < count; ++i) {
            const int64_t t = int64_t(ClipLow) + i - DstLow;
            const double centre = (double(t) + 0.5) * step + origin;
            const size_t first = Table.Taps.size();
            int64_t sum = 0;
            const int64_t jLast = SaturatedInt64(std::ceil(centre + support));
            for (int64_t j = SaturatedInt64(std::floor(centre - support)); j <= jLast; ++j) {
                const int32_t weight = enlarging
                                           ? QelRoundEven(Resampler.Filter(centre - double(j)) * 256)
                                           : QelRoundEven(Resampler.Filter((centre - double(j)) * scale) * 256 * scale);
                if (weight == 0) continue;
                Table.Taps.push_back(TPixelTap{int32_t(ClampInt64(j, SrcLow, lastSrc)), weight});
                sum += weight;
            }
            const size_t n = Table.Taps.size() - first;
            if (n == 0) {
                const int64_t nearest = ClampInt64(SaturatedInt64(std::floor(centre)), SrcLow, lastSrc);
                Table.Taps.push_back(TPixelTap{int32_t(nearest), 256});
            } else if (sum != 256) {
                TPixelTap& middle = Table.Taps[first + (n - 1) / 2];
                middle.Weight = QelWrapInt32(int64_t(middle.Weight) - (sum - 256));
            }
            Table.Starts.push_back(Table.Taps.size());
        }
    } catch (const std::bad_alloc&) {
        Table.Clear();
        throw EQelOutOfMemory("Out of memory for a resampling table of " + std::to_string(count) + " entries");
    }
}

// --- ResamplePixels ----------------------------------------------------------
//
// Separable and fixed-point: for each destination row the vertical taps fold
// the needed source rows into one row of 32-bit sums per channel, and the
// horizontal taps fold that row into the destination pixels. The totals are
// exact integers, so the rows may be computed in any order and on any thread
// with the same bytes as the result.

namespace {

std::atomic<int32_t> ResampleThreadSetting{0};

// Work below this many multiply-adds stays on the calling thread.
constexpr double MinWorkPerThread = 2e6;
constexpr int32_t RowsPerChunk = 8;

struct TResampleJob {
    // Destination
    uint8_t* DestRow0 = nullptr;  // pixel (Clip.Left, Clip.Top)
    ptrdiff_t DestStride = 0;
    int32_t ClipWidth = 0;
    int32_t RowCount = 0;
    // Source: byte offset of column FirstX in row 0 of the source buffer
    const uint8_t* SourceColumn0 = nullptr;
    ptrdiff_t SourceStride = 0;
    int32_t SourceTop = 0;
    size_t SumCount = 0;  // 3 * (LastX - FirstX + 1)
    // Vertical taps per destination row, horizontal taps per destination column
    const TPixelMappingTable* Vertical = nullptr;
    std::vector<size_t> HStarts;
    std::vector<int32_t> HOffsets;  // index into the sum row (3 * (column - FirstX))
    std::vector<int32_t> HWeights;
    bool Clamp = true;
    bool PairedWeights = true;  // every vertical weight fits in 16 bits
    bool WideTotals = false;    // the horizontal totals may leave 32 bits
    bool UseSse41 = false;
    size_t MaxVerticalTaps = 0;
};

// Per-thread working memory, taken before any pixel is written.
struct TResampleScratch {
    std::vector<int32_t> Sums;
    std::vector<const uint8_t*> Rows;
    std::vector<int32_t> Weights;

    explicit TResampleScratch(const TResampleJob& job)
        : Sums(job.SumCount + 16), Rows(job.MaxVerticalTaps + 1), Weights(job.MaxVerticalTaps + 1) {}
};

#if defined(__SSE2__)
// Two taps per step: the bytes of two rows are interleaved as 16-bit pairs and
// multiplied by the weight pair with one multiply-add, exact in 32 bits.
size_t VerticalPassPaired(const TResampleJob& job, TResampleScratch& s, size_t n) {
    const size_t pairs = (n + 1) / 2;
    if (n % 2 == 1) {
        s.Rows[n] = s.Rows[n - 1];
        s.Weights[n] = 0;
    }
    const __m128i zero = _mm_setzero_si128();
    int32_t* sums = s.Sums.data();
    size_t k = 0;
    for (; k + 16 <= job.SumCount; k += 16) {
        __m128i a0 = zero, a1 = zero, a2 = zero, a3 = zero;
        for (size_t p = 0; p < pairs; ++p) {
            const uint32_t packed = uint32_t(uint16_t(s.Weights[2 * p])) | (uint32_t(uint16_t(s.Weights[2 * p + 1])) << 16);
            const __m128i w = _mm_set1_epi32(int32_t(packed));
            const __m128i u = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s.Rows[2 * p] + k));
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s.Rows[2 * p + 1] + k));
            const __m128i ulo = _mm_unpacklo_epi8(u, zero), uhi = _mm_unpackhi_epi8(u, zero);
            const __m128i vlo = _mm_unpacklo_epi8(v, zero), vhi = _mm_unpackhi_epi8(v, zero);
            a0 = _mm_add_epi32(a0, _mm_madd_epi16(_mm_unpacklo_epi16(ulo, vlo), w));
            a1 = _mm_add_epi32(a1, _mm_madd_epi16(_mm_unpackhi_epi16(ulo, vlo), w));
            a2 = _mm_add_epi32(a2, _mm_madd_epi16(_mm_unpacklo_epi16(uhi, vhi), w));
            a3 = _mm_add_epi32(a3, _mm_madd_epi16(_mm_unpackhi_epi16(uhi, vhi), w));
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(sums + k), a0);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(sums + k + 4), a1);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(sums + k + 8), a2);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(sums + k + 12), a3);
    }
    return k;
}
#endif

void VerticalPass(const TResampleJob& job, TResampleScratch& s, int32_t row) {
    const std::span<const TPixelTap> taps = job.Vertical->Entry(row);
    const size_t n = taps.size();
    for (size_t i = 0; i < n; ++i) {
        s.Rows[i] = job.SourceColumn0 + (ptrdiff_t(taps[i].Index) - job.SourceTop) * job.SourceStride;
        s.Weights[i] = taps[i].Weight;
    }
    size_t k = 0;
#if defined(__SSE2__)
    if (job.PairedWeights) k = VerticalPassPaired(job, s, n);
#endif
    // The rest (or all, without SIMD) row by row, each source row streamed once.
    int32_t* sums = s.Sums.data();
    for (size_t i = 0; i < n; ++i) {
        const uint8_t* from = s.Rows[i];
        const int32_t w = s.Weights[i];
        if (i == 0)
            for (size_t j = k; j < job.SumCount; ++j) sums[j] = w * int32_t(from[j]);
        else
            for (size_t j = k; j < job.SumCount; ++j) sums[j] += w * int32_t(from[j]);
    }
}

inline uint8_t ClampedByte(int64_t total, bool clamp) {
    if (clamp) {
        if (total > 0xFF0000) return 255;
        if (total < 0) return 0;
        return uint8_t(total >> 16);
    }
    return uint8_t(uint32_t(total) >> 16);
}

template <typename TTotal>
void HorizontalPass(const TResampleJob& job, const TResampleScratch& s, uint8_t* out) {
    const int32_t* sums = s.Sums.data();
    const int32_t* offsets = job.HOffsets.data();
    const int32_t* weights = job.HWeights.data();
    for (int32_t x = 0; x < job.ClipWidth; ++x) {
        TTotal b = 0, g = 0, r = 0;
        const size_t end = job.HStarts[size_t(x) + 1];
        for (size_t i = job.HStarts[size_t(x)]; i < end; ++i) {
            const int32_t* c = sums + offsets[i];
            const TTotal w = weights[i];
            b += w * c[0];
            g += w * c[1];
            r += w * c[2];
        }
        out[0] = ClampedByte(b, job.Clamp);
        out[1] = ClampedByte(g, job.Clamp);
        out[2] = ClampedByte(r, job.Clamp);
        out += 3;
    }
}

#if defined(__x86_64__) || defined(__i386__)
#define QEL_HAVE_SSE41_PATH 1
// One tap per step for all three channels: four 32-bit lanes (B, G, R and
// the next column's B, which is ignored) multiplied by the weight. The sum
// row is padded, so the fourth lane never reads past it.
__attribute__((target("sse4.1"))) void HorizontalPassSse41(const TResampleJob& job, const TResampleScratch& s,
                                                           uint8_t* out) {
    const int32_t* sums = s.Sums.data();
    const int32_t* offsets = job.HOffsets.data();
    const int32_t* weights = job.HWeights.data();
    const __m128i low = _mm_setzero_si128();
    const __m128i high = _mm_set1_epi32(0xFF0000);
    for (int32_t x = 0; x < job.ClipWidth; ++x) {
        __m128i total = _mm_setzero_si128();
        const size_t end = job.HStarts[size_t(x) + 1];
        for (size_t i = job.HStarts[size_t(x)]; i < end; ++i) {
            const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(sums + offsets[i]));
            total = _mm_add_epi32(total, _mm_mullo_epi32(c, _mm_set1_epi32(weights[i])));
        }
        // Clamped: below 0 gives 0, above 0xFF0000 gives 255, else T >> 16.
        if (job.Clamp) total = _mm_min_epi32(_mm_max_epi32(total, low), high);
        total = _mm_srli_epi32(total, 16);
        out[0] = uint8_t(_mm_cvtsi128_si32(total));
        out[1] = uint8_t(_mm_extract_epi32(total, 1));
        out[2] = uint8_t(_mm_extract_epi32(total, 2));
        out += 3;
    }
}

bool CpuHasSse41() {
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("sse4.1") != 0;
    }();
    return has;
}
#endif

void ResampleRows(const TResampleJob& job, TResampleScratch& s, int32_t first, int32_t last) {
    for (int32_t row = first; row < last; ++row) {
        VerticalPass(job, s, row);
        uint8_t* out = job.DestRow0 + ptrdiff_t(row) * job.DestStride;
        if (job.WideTotals) {
            HorizontalPass<int64_t>(job, s, out);
            continue;
        }
#if defined(QEL_HAVE_SSE41_PATH)
        if (job.UseSse41) {
            HorizontalPassSse41(job, s, out);
            continue;
        }
#endif
        HorizontalPass<int32_t>(job, s, out);
    }
}

int64_t LargestAbsoluteSum(const TPixelMappingTable& table, int32_t& largestWeight) {
    int64_t largest = 0;
    largestWeight = 0;
    for (int32_t i = 0; i < table.Count(); ++i) {
        int64_t sum = 0;
        for (const TPixelTap& tap : table.Entry(i)) {
            const int32_t w = tap.Weight < 0 ? -tap.Weight : tap.Weight;
            sum += w;
            largestWeight = std::max(largestWeight, w);
        }
        largest = std::max(largest, sum);
    }
    return largest;
}

// verticalTaps and horizontalTaps are the mean taps per entry.
int32_t ChooseThreadCount(const TResampleJob& job, size_t verticalTaps, size_t horizontalTaps) {
    int32_t wanted = ResampleThreadSetting.load(std::memory_order_relaxed);
    if (wanted == 1) return 1;
    const double work = double(job.RowCount) * (double(verticalTaps) * double(job.SumCount) +
                                                 double(horizontalTaps) * 3 * double(job.ClipWidth));
    if (wanted <= 0) wanted = int32_t(std::min<double>(QelThreadCount(), std::max(1.0, work / MinWorkPerThread)));
    const int32_t chunks = (job.RowCount + RowsPerChunk - 1) / RowsPerChunk;
    return QelParallelThreads(chunks, wanted);
}

}  // namespace

void SetResampleThreadCount(int32_t Count) { ResampleThreadSetting.store(std::max(Count, 0)); }

void ResamplePixels(TQelPixels& Dest, const TQelRect& DestRect, const TQelRect& ClipRect, const TQelPixels& Source,
                    const TQelRect& SourceRect, const TPixelResampler& Resampler) {
    if (Dest.Bits == nullptr || Source.Bits == nullptr) return;
    if (Dest.Format != QelFormatBGR24 || Source.Format != QelFormatBGR24) return;
    if (Dest.BytesPerPixel != 3 || Source.BytesPerPixel != 3) return;
    TQelRect clip;
    if (!QelIntersectRect(clip, ClipRect, Dest.GetBounds())) return;
    // Taps are clamped to the source range, so it must lie inside the rows.
    TQelRect src;
    if (!QelIntersectRect(src, SourceRect, Source.GetBounds())) return;

    TPixelMappingTable horizontal, vertical;
    BuildMappingTable(DestRect.Left, DestRect.Right, clip.Left, clip.Right, src.Left, src.Right, Resampler, horizontal);
    BuildMappingTable(DestRect.Top, DestRect.Bottom, clip.Top, clip.Bottom, src.Top, src.Bottom, Resampler, vertical);
    if (horizontal.IsEmpty() || vertical.IsEmpty()) return;

    TResampleJob job;
    std::vector<TResampleScratch> scratch;
    try {
        int32_t firstX = std::numeric_limits<int32_t>::max(), lastX = std::numeric_limits<int32_t>::min();
        size_t horizontalTaps = 0;
        for (int32_t i = 0; i < horizontal.Count(); ++i)
            for (const TPixelTap& tap : horizontal.Entry(i)) {
                firstX = std::min(firstX, tap.Index);
                lastX = std::max(lastX, tap.Index);
                ++horizontalTaps;
            }
        size_t verticalTaps = 0;
        for (int32_t i = 0; i < vertical.Count(); ++i) {
            job.MaxVerticalTaps = std::max(job.MaxVerticalTaps, vertical.Entry(i).size());
            verticalTaps += vertical.Entry(i).size();
        }

        job.DestStride = Dest.Stride;
        job.DestRow0 = Dest.PixelAddress(clip.Left, clip.Top);
        job.ClipWidth = clip.Width();
        job.RowCount = clip.Height();
        job.SourceStride = Source.Stride;
        job.SourceTop = Source.Top;
        job.SourceColumn0 = Source.Bits + (ptrdiff_t(firstX) - Source.Left) * 3;
        job.SumCount = size_t(int64_t(lastX) - firstX + 1) * 3;
        job.Vertical = &vertical;
        job.Clamp = Resampler.NeedsClamping();

        job.HStarts.reserve(size_t(horizontal.Count()) + 1);
        job.HOffsets.reserve(horizontalTaps);
        job.HWeights.reserve(horizontalTaps);
        job.HStarts.push_back(0);
        for (int32_t i = 0; i < horizontal.Count(); ++i) {
            for (const TPixelTap& tap : horizontal.Entry(i)) {
                job.HOffsets.push_back(int32_t(int64_t(tap.Index) - firstX) * 3);
                job.HWeights.push_back(tap.Weight);
            }
            job.HStarts.push_back(job.HOffsets.size());
        }

        // Vertical sums stay far inside 32 bits (a few thousand times 255);
        // the horizontal totals do too for every real kernel, but a damaged
        // one must not overflow.
        int32_t largestV = 0, largestH = 0;
        const int64_t sumV = LargestAbsoluteSum(vertical, largestV);
        const int64_t sumH = LargestAbsoluteSum(horizontal, largestH);
        constexpr double limit32 = double(std::numeric_limits<int32_t>::max());
        if (double(sumV) * 255 > limit32) return;  // no kernel worth the name weighs this much
        job.PairedWeights = largestV <= std::numeric_limits<int16_t>::max();
        job.WideTotals = double(sumV) * double(sumH) * 255 > limit32;
#if defined(QEL_HAVE_SSE41_PATH)
        job.UseSse41 = CpuHasSse41();
#endif

        const int32_t threads = ChooseThreadCount(job, verticalTaps / size_t(vertical.Count()),
                                                  horizontalTaps / size_t(horizontal.Count()));
        scratch.reserve(size_t(threads));
        for (int32_t i = 0; i < threads; ++i) scratch.emplace_back(job);
    } catch (const std::bad_alloc&) {
        throw EQelOutOfMemory("Out of memory for resampling " + std::to_string(SourceRect.Width()) + " x " +
                              std::to_string(SourceRect.Height()) + " pixels");
    }

    // Rows are handed out in small chunks; whoever is free takes the next.
    const int32_t chunks = (job.RowCount + RowsPerChunk - 1) / RowsPerChunk;
    QelParallelFor(chunks, int32_t(scratch.size()), [&job, &scratch](int64_t chunk, int32_t slot) {
        const int32_t first = int32_t(chunk) * RowsPerChunk;
        ResampleRows(job, scratch[size_t(slot)], first, std::min(job.RowCount, first + RowsPerChunk));
    });
}
