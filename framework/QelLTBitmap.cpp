#include "QelLTBitmap.h"

#include <QPaintEngine>
#include <QPainter>
#include <QRunnable>
#include <QRegion>
#include <QSemaphore>
#include <QThreadPool>
#include <QTransform>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <limits>
#include <new>
#include <optional>
#include <stdexcept>
#include <vector>

#include "QelLargeMemory.h"
#include "QelThreadSanitizer.h"

namespace {

// No machine holds a bitmap this large; such a size can only come from a
// damaged file and is refused before the allocator sees it.
constexpr uint64_t MaxBitmapBytes = uint64_t(1) << 40;

// Nearest-neighbour source position of destination offset D: the source
// pixel under the destination pixel's centre, the left (upper) one where
// the centre falls on a border, as Qt picks it. 128-bit, so absurd
// rectangles cannot overflow.
int64_t NearestSource(int64_t D, int64_t SourceLow, int64_t SourceSize, int64_t DestSize) {
    const __int128 num = (__int128(2) * D + 1) * SourceSize;
    return SourceLow + int64_t((num - 1) / (__int128(2) * DestSize));
}

// Per-thread scratch for the column table, grown only, so a paint does not
// allocate once it has warmed up.
std::vector<int32_t>& ColumnTable() {
    thread_local std::vector<int32_t> table;
    return table;
}

// Runs Rows(top, bottom) over [Top, Bottom) in chunks. A large area is
// shared with idle threads of the pool: a view paint reads rows of an image
// far larger than the window, and one core cannot pull them from memory
// fast enough. Only threads free at once are taken, so a busy pool never
// delays the paint.
template <class Fn>
void RunRows(int Top, int Bottom, int64_t Pixels, const Fn& Rows) {
    constexpr int64_t MinPixelsPerHelper = int64_t(1) << 18;
    constexpr int RowsPerChunk = 32;
    QThreadPool* pool = QThreadPool::globalInstance();
    const int64_t chunks = (int64_t(Bottom) - Top + RowsPerChunk - 1) / RowsPerChunk;
    constexpr int MaxHelpers = 7;
    const int helpers = int(std::min<int64_t>({Pixels / MinPixelsPerHelper, int64_t(pool->maxThreadCount()),
                                               MaxHelpers, chunks - 1}));
    if (helpers <= 0) {
        Rows(Top, Bottom);
        return;
    }
    std::atomic<int> next{Top};
    auto work = [&] {
        for (;;) {
            const int y0 = next.fetch_add(RowsPerChunk);
            if (y0 >= Bottom) return;
            Rows(y0, std::min(y0 + RowsPerChunk, Bottom));
        }
    };
    // The helpers' tasks live in this frame, and Qt does not delete them.
    // Each tells the sanitizer of its hand-overs: the task at its start,
    // the semaphore at its end.
    class THelper : public QRunnable {
    public:
        THelper(const decltype(work)& Work, QSemaphore& Done) : FWork(Work), FDone(Done) { setAutoDelete(false); }
        void run() override {
            QelSanitizerAcquire(this);
            FWork();
            // The task may be gone once the caller has its semaphore.
            QSemaphore& done = FDone;
            QelSanitizerRelease(&done);
            done.release();
        }

    private:
        const decltype(work)& FWork;
        QSemaphore& FDone;
    };
    QSemaphore done;
    std::optional<THelper> tasks[MaxHelpers];
    int started = 0;
    for (int i = 0; i < helpers; ++i) {
        THelper& task = tasks[i].emplace(work, done);
        QelSanitizerRelease(&task);
        if (!pool->tryStart(&task)) break;
        ++started;
    }
    work();
    done.acquire(started);
    QelSanitizerAcquire(&done);
}

// Paints straight into a 24-bit raster surface: every destination pixel
// inside the clip takes the source pixel under its centre. Only the pixels
// shown are read, so the cost follows the visible area, not the image.
// False when the painter's target is not such a surface (nothing painted).
bool PaintNearest(QPainter& DC, const TQelPixels& P, const TQelRect& Dest, const TQelRect& Src,
                  const TQelRect& Visible) {
    if (P.Format != QelFormatBGR24 || P.BytesPerPixel != 3) return false;
    QPaintDevice* device = DC.device();
    if (device == nullptr || device->devType() != QInternal::Image) return false;
    QImage* image = static_cast<QImage*>(device);
    if (image->format() != QImage::Format_BGR888 || image->devicePixelRatio() != 1.0) return false;
    if (DC.compositionMode() != QPainter::CompositionMode_SourceOver &&
        DC.compositionMode() != QPainter::CompositionMode_Source)
        return false;
    if (DC.opacity() < 1.0) return false;
    const QTransform t = DC.deviceTransform();
    if (t.type() > QTransform::TxTranslate) return false;
    const double fdx = t.dx(), fdy = t.dy();
    if (fdx != std::floor(fdx) || fdy != std::floor(fdy) || std::abs(fdx) > 1e9 || std::abs(fdy) > 1e9) return false;
    const int dx = int(fdx), dy = int(fdy);

    // The region to fill, in device pixels.
    const int64_t vl = int64_t(Visible.Left) + dx, vt = int64_t(Visible.Top) + dy;
    const int64_t vr = int64_t(Visible.Right) + dx, vb = int64_t(Visible.Bottom) + dy;
    const int64_t l = std::max<int64_t>(vl, 0), tp = std::max<int64_t>(vt, 0);
    const int64_t r = std::min<int64_t>(vr, image->width()), b = std::min<int64_t>(vb, image->height());
    if (r <= l || b <= tp) return true;
    QRegion region(QRect(int(l), int(tp), int(r - l), int(b - tp)));
    if (DC.hasClipping()) region &= DC.clipRegion().translated(dx, dy);
    if (QPaintEngine* engine = DC.paintEngine(); engine != nullptr && !engine->systemClip().isEmpty())
        region &= engine->systemClip();
    if (region.isEmpty()) return true;

    const int64_t dw = int64_t(Dest.Right) - Dest.Left, dh = int64_t(Dest.Bottom) - Dest.Top;
    const int64_t sw = int64_t(Src.Right) - Src.Left, sh = int64_t(Src.Bottom) - Src.Top;
    const int64_t pl = P.Left, pt = P.Top, pr = int64_t(P.Left) + P.Width, pb = int64_t(P.Top) + P.Height;

    // Column table over the region's bounding columns: the source byte
    // offset of each device column, -1 outside the rows.
    const QRect box = region.boundingRect();
    std::vector<int32_t>& columns = ColumnTable();
    if (columns.size() < size_t(box.width())) columns.resize(size_t(box.width()));
    const bool sameWidth = dw == sw;
    for (int i = 0; i < box.width(); ++i) {
        const int64_t d = int64_t(box.left()) + i - dx - Dest.Left;
        const int64_t sx = sameWidth ? Src.Left + d : NearestSource(d, Src.Left, sw, dw);
        columns[size_t(i)] = (sx >= pl && sx < pr) ? int32_t((sx - pl) * 3) : -1;
    }

    uint8_t* surface = const_cast<uint8_t*>(image->constBits());
    const qsizetype surfaceStride = image->bytesPerLine();
    auto paintRows = [&](int top, int bottom) {
        for (const QRect& rect : region) {
            const int y0 = std::max(rect.top(), top), y1 = std::min(rect.top() + rect.height(), bottom);
            if (y0 >= y1) continue;
            // Valid columns form one run, because the mapping is monotonic.
            int x0 = rect.left(), x1 = rect.left() + rect.width();
            while (x0 < x1 && columns[size_t(x0 - box.left())] < 0) ++x0;
            while (x1 > x0 && columns[size_t(x1 - 1 - box.left())] < 0) --x1;
            if (x0 >= x1) continue;
            const int32_t* table = columns.data() + (x0 - box.left());
            const int n = x1 - x0;
            for (int y = y0; y < y1; ++y) {
                const int64_t d = int64_t(y) - dy - Dest.Top;
                const int64_t sy = dh == sh ? Src.Top + d : NearestSource(d, Src.Top, sh, dh);
                if (sy < pt || sy >= pb) continue;
                const uint8_t* from = P.Bits + (sy - pt) * ptrdiff_t(P.Stride);
                uint8_t* to = surface + ptrdiff_t(y) * surfaceStride + ptrdiff_t(x0) * 3;
                if (sameWidth) {
                    std::memcpy(to, from + table[0], size_t(n) * 3);
                    continue;
                }
                for (int i = 0; i < n; ++i, to += 3) {
                    const uint8_t* s = from + table[i];
                    to[0] = s[0];
                    to[1] = s[1];
                    to[2] = s[2];
                }
            }
        }
    };
    RunRows(box.top(), box.top() + box.height(), int64_t(box.width()) * box.height(), paintRows);
    return true;
}

// Any other target: only the source part that can show is wrapped, so Qt
// never converts the whole image.
bool PaintScaled(QPainter& DC, const TQelPixels& P, const TQelRect& Dest, const TQelRect& Src, const TQelRect& Visible) {
    TQelRect visible = Visible;
    if (DC.hasClipping()) {
        const QRect cb = DC.clipBoundingRect().toAlignedRect();
        if (!QelIntersectRect(visible, visible, TQelRect(cb.left(), cb.top(), cb.left() + cb.width(),
                                                          cb.top() + cb.height())))
            return true;
    }
    const double dw = double(int64_t(Dest.Right) - Dest.Left), dh = double(int64_t(Dest.Bottom) - Dest.Top);
    const double sw = double(int64_t(Src.Right) - Src.Left), sh = double(int64_t(Src.Bottom) - Src.Top);
    auto clampTo = [](double v, int64_t lo, int64_t hi) {
        return int64_t(std::clamp(v, double(lo), double(hi)));
    };
    const int64_t lo_x = std::max<int64_t>(Src.Left, P.Left), hi_x = std::min<int64_t>(Src.Right, int64_t(P.Left) + P.Width);
    const int64_t lo_y = std::max<int64_t>(Src.Top, P.Top), hi_y = std::min<int64_t>(Src.Bottom, int64_t(P.Top) + P.Height);
    // One source pixel of margin, so that edge pixels are whole.
    const int64_t sx0 = clampTo(std::floor(Src.Left + (visible.Left - double(Dest.Left)) * sw / dw) - 1, lo_x, hi_x);
    const int64_t sx1 = clampTo(std::ceil(Src.Left + (visible.Right - double(Dest.Left)) * sw / dw) + 1, lo_x, hi_x);
    const int64_t sy0 = clampTo(std::floor(Src.Top + (visible.Top - double(Dest.Top)) * sh / dh) - 1, lo_y, hi_y);
    const int64_t sy1 = clampTo(std::ceil(Src.Top + (visible.Bottom - double(Dest.Top)) * sh / dh) + 1, lo_y, hi_y);
    if (sx1 <= sx0 || sy1 <= sy0) return true;

    const QImage::Format format = GdiPlusPixelFormat(P.Format);
    if (format == QImage::Format_Invalid) return false;
    const QImage part(P.PixelAddress(int32_t(sx0), int32_t(sy0)), int(sx1 - sx0), int(sy1 - sy0), P.Stride, format);
    if (part.isNull()) return false;
    const QRectF target(Dest.Left + (sx0 - Src.Left) * dw / sw, Dest.Top + (sy0 - Src.Top) * dh / sh,
                        (sx1 - sx0) * dw / sw, (sy1 - sy0) * dh / sh);
    QRect clip;
    RectToGdiPlusRect(Visible, clip);
    DC.save();
    DC.setClipRect(clip, Qt::IntersectClip);
    DC.drawImage(target, part);
    DC.restore();
    return true;
}

// The fill of a turn or flip: the new rows are of any content until the
// turn has written them all.
auto TurnFill(TQelPixelTurn Turn) {
    return [Turn](TQelLTPixels& To, const TQelLTPixels& From) {
        if (!QelTurnPixels(From, To, Turn)) throw std::invalid_argument("The rows cannot be turned.");
    };
}

}  // namespace

// --- TQelLTBitmap --------------------------------------------------------------

TQelLTBitmap::~TQelLTBitmap() { Clear(); }

bool TQelLTBitmap::CreateBitmapMemory(std::unique_ptr<TQelLTPixels>& Pixels, TQelBitmapHandle& Handle, int32_t Width,
                                      int32_t Height, uint32_t Format, bool Zeroed) {
    if (Width <= 0 || Height <= 0) return false;
    const int32_t bits = BitsPerPixel(Format);
    if (bits == 0) return false;
    const int32_t stride = QelPixelStride(Format, Width);
    if (stride <= 0) return false;
    const uint64_t size = uint64_t(stride) * uint64_t(Height);
    if (size > MaxBitmapBytes) return false;
    void* memory = Zeroed ? QelAllocateLarge(size_t(size)) : QelAllocateLargeForOverwrite(size_t(size));
    if (memory == nullptr) return false;
    std::unique_ptr<TQelLTPixels> pixels(new (std::nothrow) TQelLTPixels);
    if (!pixels) {
        QelFreeLarge(memory);
        return false;
    }
    pixels->Init(TQelRect(0, 0, Width, Height), static_cast<uint8_t*>(memory), Format, stride);
    Handle = TQelBitmapHandle{Width, Height, bits, stride, Format, static_cast<uint8_t*>(memory), size};
    Pixels = std::move(pixels);
    return true;
}

void TQelLTBitmap::FreeBitmap(std::unique_ptr<TQelLTPixels>& Pixels, TQelBitmapHandle& Handle) {
    if (!Pixels) return;
    QelFreeLarge(Pixels->Bits);
    Handle = TQelBitmapHandle();
    Pixels.reset();
}

bool TQelLTBitmap::SetSize(int32_t Width, int32_t Height, uint32_t Format) {
    FreeBitmap(FPixels, FHandle);
    return CreateBitmapMemory(FPixels, FHandle, Width, Height, Format);
}

void TQelLTBitmap::Clear() { FreeBitmap(FPixels, FHandle); }

void TQelLTBitmap::TakeOver(std::unique_ptr<TQelLTPixels>& Pixels, TQelBitmapHandle& Handle) {
    FreeBitmap(FPixels, FHandle);
    FPixels = std::move(Pixels);
    FHandle = Handle;
    Handle = TQelBitmapHandle();
}

bool TQelLTBitmap::Draw(QPainter& DC, const TQelRect& DestRect, const TQelRect& SourceRect,
                        const TQelRect& DestClipRect) {
    if (!FPixels || !DC.isActive() || DestRect.IsEmpty() || SourceRect.IsEmpty()) return false;
    TQelRect visible;
    if (!QelIntersectRect(visible, DestRect, DestClipRect)) return true;
    if (PaintNearest(DC, *FPixels, DestRect, SourceRect, visible)) return true;
    return PaintScaled(DC, *FPixels, DestRect, SourceRect, visible);
}

bool TQelLTBitmap::Print(QPainter& DC, const TQelRect& Rect, int32_t, int32_t) {
    if (!FPixels || !DC.isActive() || Rect.IsEmpty()) return false;
    const QImage image = QelPixelsImage(*FPixels);
    if (image.isNull()) return false;
    QRect target;
    RectToGdiPlusRect(Rect, target);
    DC.drawImage(target, image);
    return true;
}

std::unique_ptr<TQelLTBitmap> TQelLTBitmap::Clone() const {
    std::unique_ptr<TQelLTBitmap> result(new (std::nothrow) TQelLTBitmap);
    if (!result || !FPixels) return result;
    if (result->SetSize(FHandle.Width, FHandle.Height, FHandle.Format))
        QelCopyPixelsRect(*result->FPixels, 0, 0, GetBoundsRect(), *FPixels);
    return result;
}

void TQelLTBitmap::Assign(const TQelPixels& Buffer) {
    // A buffer without rows is empty, whatever its bounds say.
    if (Buffer.Bits == nullptr) {
        Clear();
        return;
    }
    if (!SetSize(Buffer.Width, Buffer.Height, Buffer.Format)) return;
    QelCopyPixelsRect(*FPixels, Buffer.Left, Buffer.Top, Buffer.GetBounds(), Buffer);
}

bool TQelLTBitmap::Crop(const TQelRect& Rect) {
    if (!FPixels) return false;
    TQelRect r;
    if (!QelIntersectRect(r, Rect, GetBoundsRect())) return false;
    std::unique_ptr<TQelLTPixels> pixels;
    TQelBitmapHandle handle;
    if (!CreateBitmapMemory(pixels, handle, r.Width(), r.Height(), FHandle.Format)) return false;
    QelCopyPixelsRect(*pixels, 0, 0, r, *FPixels);
    TakeOver(pixels, handle);
    return true;
}

template <class Fn>
bool TQelLTBitmap::Rebuild24(int32_t Width, int32_t Height, const Fn& Fill, bool Overwrites) {
    if (!FPixels || FHandle.Format != QelFormatBGR24) return false;
    std::unique_ptr<TQelLTPixels> pixels;
    TQelBitmapHandle handle;
    if (!CreateBitmapMemory(pixels, handle, Width, Height, FHandle.Format, !Overwrites)) return false;
    try {
        Fill(*pixels, *FPixels);
    } catch (const std::exception&) {
        FreeBitmap(pixels, handle);
        return false;
    }
    TakeOver(pixels, handle);
    return true;
}

bool TQelLTBitmap::FlipHorizontal() {
    return Rebuild24(FHandle.Width, FHandle.Height, TurnFill(TQelPixelTurn::FlipHorizontal), true);
}

bool TQelLTBitmap::FlipVertical() {
    return Rebuild24(FHandle.Width, FHandle.Height, TurnFill(TQelPixelTurn::FlipVertical), true);
}

bool TQelLTBitmap::RotateLeft() {
    return Rebuild24(FHandle.Height, FHandle.Width, TurnFill(TQelPixelTurn::Left), true);
}

bool TQelLTBitmap::RotateRight() {
    return Rebuild24(FHandle.Height, FHandle.Width, TurnFill(TQelPixelTurn::Right), true);
}

bool TQelLTBitmap::Resize(int32_t NewWidth, int32_t NewHeight) {
    // The resampler writes 24-bit rows only; any other format would come
    // back black and be reported as done.
    const TQelRect source = GetBoundsRect();
    return Rebuild24(NewWidth, NewHeight, [&source](TQelLTPixels& to, const TQelLTPixels& from) {
        const TLanczosResampler resampler;
        const TQelRect bounds = to.GetBounds();
        ResamplePixels(to, bounds, bounds, from, source, resampler);
    });
}

bool TQelLTBitmap::ResizeInto(int32_t NewWidth, int32_t NewHeight, TQelLTBitmap& Result) const {
    Result.Clear();
    if (!FPixels || FHandle.Format != QelFormatBGR24) return false;
    if (!Result.SetSize(NewWidth, NewHeight, QelFormatBGR24)) return false;
    try {
        const TLanczosResampler resampler;
        const TQelRect bounds = Result.GetBoundsRect();
        ResamplePixels(*Result.FPixels, bounds, bounds, *FPixels, GetBoundsRect(), resampler);
    } catch (const std::exception&) {
        Result.Clear();
        return false;
    }
    return true;
}

void TQelLTBitmap::Swap(TQelLTBitmap& Other) noexcept {
    std::swap(FPixels, Other.FPixels);
    std::swap(FHandle, Other.FHandle);
}

void CopyBitmapToBuffer(const TQelBitmap& Bitmap, TQelPixelBuffer& Buffer) {
    const TQelPixels* pixels = Bitmap.GetPixels();
    if (pixels == nullptr || pixels->Bits == nullptr) {
        Buffer.Release();
        return;
    }
    Buffer.Allocate(pixels->Format, pixels->GetBounds());
    Buffer.CopyFrom(*pixels);
}

QImage QelPixelsImage(const TQelPixels& Pixels) {
    const QImage::Format format = GdiPlusPixelFormat(Pixels.Format);
    if (Pixels.Bits == nullptr || format == QImage::Format_Invalid || Pixels.Width <= 0 || Pixels.Height <= 0)
        return QImage();
    return QImage(Pixels.Bits, Pixels.Width, Pixels.Height, Pixels.Stride, format);
}

void QelCopyPixelsRect(TQelPixels& Dest, int32_t X, int32_t Y, const TQelRect& SourceRect, const TQelPixels& Source) {
    if (Source.Format != Dest.Format || Source.Bits == nullptr || Dest.Bits == nullptr || Dest.BytesPerPixel <= 0)
        return;
    TQelRect r;
    if (!QelIntersectRect(r, SourceRect, Source.GetBounds())) return;
    const int64_t dx = int64_t(X) - SourceRect.Left;
    const int64_t dy = int64_t(Y) - SourceRect.Top;
    const TQelRect own = Dest.GetBounds();
    const int64_t l = std::max<int64_t>(r.Left + dx, own.Left);
    const int64_t t = std::max<int64_t>(r.Top + dy, own.Top);
    const int64_t rr = std::min<int64_t>(r.Right + dx, own.Right);
    const int64_t b = std::min<int64_t>(r.Bottom + dy, own.Bottom);
    if (rr <= l || b <= t) return;
    const size_t rowBytes = size_t(rr - l) * size_t(Dest.BytesPerPixel);
    for (int64_t y = t; y < b; ++y)
        std::memmove(Dest.PixelAddress(int32_t(l), int32_t(y)), Source.PixelAddress(int32_t(l - dx), int32_t(y - dy)),
                     rowBytes);
}

// --- Encoders and helpers --------------------------------------------------

const QList<TQelImageEncoder>& QelImageEncoders() {
    static const QList<TQelImageEncoder> encoders = {
        {QByteArrayLiteral("image/bmp"), TQelImageWriter::Bmp},
        {QByteArrayLiteral("image/jpeg"), TQelImageWriter::Jpeg},
        {QByteArrayLiteral("image/tiff"), TQelImageWriter::Tiff},
        {QByteArrayLiteral("image/png"), TQelImageWriter::Png},
    };
    return encoders;
}

int32_t QelFindEncoder(const QList<TQelImageEncoder>& Encoders, const QByteArray& MimeType, TQelImageWriter& Clsid) {
    int32_t result = -1;
    for (qsizetype i = 0; i < Encoders.size(); ++i) {
        if (Encoders[i].MimeType == MimeType) {
            Clsid = Encoders[i].Writer;
            result = int32_t(i);
        }
    }
    return result;
}

int32_t GetEncoderClsid(const QByteArray& MimeType, TQelImageWriter& Clsid) {
    return QelFindEncoder(QelImageEncoders(), MimeType, Clsid);
}

void RectToGdiPlusRect(const TQelRect& Rect, QRect& GdiRect) {
    // The size in 64 bits, saturated: a rectangle spanning more than the
    // int range stays a valid (if clipped) QRect instead of wrapping.
    auto span = [](int32_t a, int32_t b) {
        return int(std::clamp<int64_t>(int64_t(b) - a, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
    };
    GdiRect = QRect(Rect.Left, Rect.Top, span(Rect.Left, Rect.Right), span(Rect.Top, Rect.Bottom));
}

void MakeGdiPlusRect(int32_t X, int32_t Y, int32_t Width, int32_t Height, QRect& GdiRect) {
    GdiRect = QRect(X, Y, Width, Height);
}

QImage::Format GdiPlusPixelFormat(uint32_t Format) {
    switch (Format) {
    case QelFormatBGR24: return QImage::Format_BGR888;
    case QelFormatBGRA32: return QImage::Format_ARGB32;
    default: return QImage::Format_Invalid;
    }
}
