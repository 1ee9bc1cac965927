// Display bitmaps: pixel rows the program owns and reads and writes in place,
// painted and printed through QPainter without a copy (the rows are wrapped
// as a QImage that does not own them).
#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QRect>

#include <cstdint>
#include <memory>

#include "QelBitmap.h"
#include "QelGeometry.h"

class QPainter;

// A bitmap as the rest of the program needs it.
class TQelBitmap {
public:
    virtual ~TQelBitmap() = default;

    virtual int32_t GetWidth() const = 0;
    virtual int32_t GetHeight() const = 0;
    // The rows; nullptr while the bitmap is empty.
    virtual TQelPixels* GetPixels() const = 0;
    // Paints SourceRect of the bitmap into DestRect, limited to DestClipRect.
    virtual bool Draw(QPainter& DC, const TQelRect& DestRect, const TQelRect& SourceRect,
                      const TQelRect& DestClipRect) = 0;
    // Prints the whole bitmap into Rect; the last two arguments are unused.
    virtual bool Print(QPainter& DC, const TQelRect& Rect, int32_t Reserved1, int32_t Reserved2) = 0;

    TQelRect GetBoundsRect() const { return TQelRect(0, 0, GetWidth(), GetHeight()); }
};

// What the paint side knows of a bitmap's memory. Zero while the bitmap is
// empty.
struct TQelBitmapHandle {
    int32_t Width = 0;
    int32_t Height = 0;
    int32_t BitsPerPixel = 0;
    int32_t BytesPerLine = 0;
    uint32_t Format = 0;
    uint8_t* Bits = nullptr;
    uint64_t Size = 0;  // bytes of pixel memory
};

// Rows from the large-buffer allocator (QelAllocateLarge, zero-filled), covering (0, 0, Width, Height)
// top-down. Whole-image operations build new rows and swap them in; when the
// new rows cannot be had they return false and change nothing. Nothing here
// throws.
class TQelLTBitmap : public TQelBitmap {
public:
    TQelLTBitmap() = default;
    ~TQelLTBitmap() override;
    TQelLTBitmap(const TQelLTBitmap&) = delete;
    TQelLTBitmap& operator=(const TQelLTBitmap&) = delete;

    // Zeroed rows of Width x Height in Format with their pixel view; false
    // (and nothing made) for an empty or absurd size or when memory is short.
    // Rows that the caller overwrites whole (Zeroed false) may be the rows
    // of a bitmap freed just before, as they are.
    static bool CreateBitmapMemory(std::unique_ptr<TQelLTPixels>& Pixels, TQelBitmapHandle& Handle, int32_t Width,
                                   int32_t Height, uint32_t Format, bool Zeroed = true);
    static void FreeBitmap(std::unique_ptr<TQelLTPixels>& Pixels, TQelBitmapHandle& Handle);

    // Frees the present rows first, so a failure leaves the bitmap empty.
    bool SetSize(int32_t Width, int32_t Height, uint32_t Format);
    void Clear();
    bool IsEmpty() const { return FPixels == nullptr; }

    int32_t GetWidth() const override { return FHandle.Width; }
    int32_t GetHeight() const override { return FHandle.Height; }
    TQelPixels* GetPixels() const override { return FPixels.get(); }
    const TQelBitmapHandle& GetHandle() const { return FHandle; }

    bool Draw(QPainter& DC, const TQelRect& DestRect, const TQelRect& SourceRect,
              const TQelRect& DestClipRect) override;
    bool Print(QPainter& DC, const TQelRect& Rect, int32_t Reserved1, int32_t Reserved2) override;

    // A copy of the same size, format and pixels; empty when this bitmap is
    // empty or the memory cannot be had.
    std::unique_ptr<TQelLTBitmap> Clone() const;
    // Takes Buffer's size and format; its pixels land at their own
    // coordinates. An empty buffer leaves the bitmap empty.
    void Assign(const TQelPixels& Buffer);

    // Keeps Rect intersected with the image; false when that is empty.
    bool Crop(const TQelRect& Rect);
    // Flips and quarter turns work on 24-bit bitmaps only.
    bool FlipHorizontal();
    bool FlipVertical();
    // Counter-clockwise: (x, y) goes to (y, Width - 1 - x).
    bool RotateLeft();
    // Clockwise: (x, y) goes to (Height - 1 - y, x).
    bool RotateRight();
    // Lanczos (radius 3) resampling of the whole image; 24-bit only.
    bool Resize(int32_t NewWidth, int32_t NewHeight);
    // Into Result instead, this bitmap untouched; Result is empty on false.
    bool ResizeInto(int32_t NewWidth, int32_t NewHeight, TQelLTBitmap& Result) const;
    // The two bitmaps trade their rows.
    void Swap(TQelLTBitmap& Other) noexcept;

private:
    // Frees the present rows and takes the new ones.
    void TakeOver(std::unique_ptr<TQelLTPixels>& Pixels, TQelBitmapHandle& Handle);
    // The 24-bit whole-image operations: new rows of Width x Height, filled
    // by Fill(New, Old), then swapped in. False, and nothing changed, for an
    // empty or other-format bitmap, when the rows cannot be had or when Fill
    // throws. A Fill that writes every byte of the rows (Overwrites) may be
    // given rows of any content.
    template <class Fn>
    bool Rebuild24(int32_t Width, int32_t Height, const Fn& Fill, bool Overwrites = false);

    std::unique_ptr<TQelLTPixels> FPixels;
    TQelBitmapHandle FHandle;
};

// Buffer gets the bitmap's format, bounds and pixels; an empty bitmap
// leaves the buffer empty.
void CopyBitmapToBuffer(const TQelBitmap& Bitmap, TQelPixelBuffer& Buffer);

// The rows of Pixels as a QImage that shares their memory (no copy); a null
// image for empty views and formats Qt cannot show. The image must not
// outlive the rows.
QImage QelPixelsImage(const TQelPixels& Pixels);

// Copies the part of SourceRect of Source that falls inside Dest, so that
// SourceRect's top-left lands on (X, Y). Nothing when the formats differ or
// either side has no rows.
void QelCopyPixelsRect(TQelPixels& Dest, int32_t X, int32_t Y, const TQelRect& SourceRect, const TQelPixels& Source);

// --- Image encoders ------------------------------------------------------

// The writers the file formats can save through.
enum class TQelImageWriter : int32_t { None = 0, Bmp = 1, Jpeg = 2, Tiff = 3, Png = 4 };

struct TQelImageEncoder {
    QByteArray MimeType;
    TQelImageWriter Writer = TQelImageWriter::None;
};

// The encoders this program has, in their fixed order.
const QList<TQelImageEncoder>& QelImageEncoders();

// The index of the encoder whose MIME type equals MimeType exactly (case
// matters); the last match wins and its writer goes into Clsid. -1, with
// Clsid untouched, when none matches.
int32_t QelFindEncoder(const QList<TQelImageEncoder>& Encoders, const QByteArray& MimeType, TQelImageWriter& Clsid);
int32_t GetEncoderClsid(const QByteArray& MimeType, TQelImageWriter& Clsid);

// Left, top, width, height. Never QRect(QPoint, QPoint): its corner is
// inclusive.
void RectToGdiPlusRect(const TQelRect& Rect, QRect& GdiRect);
void MakeGdiPlusRect(int32_t X, int32_t Y, int32_t Width, int32_t Height, QRect& GdiRect);

// Pixel-format codes of the stored formats, for the file formats' records.
constexpr int32_t PixelFormat24bppRGB = 0x21808;
constexpr int32_t PixelFormat32bppARGB = 0x26200A;

// 0x1012 is BGR888 and 0x1112 ARGB32 (memory order B, G, R, A on this
// little-endian build); any other code is invalid.
QImage::Format GdiPlusPixelFormat(uint32_t Format);
