#include "JlvxSession.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "JlvxCompare.h"
#include "JlvxMerge.h"
#include "JlvxRead.h"
#include "JlvxTransform.h"
#include "JlvxWrite.h"
#include "QelAtomicWrite.h"
#include "QelImageMetadata.h"
#include "QelRegularFile.h"

#include <turbojpeg.h>

namespace {

constexpr int32_t MaxJpegDimension = 65500;

}  // namespace

// --- The session -------------------------------------------------------------

TJlvxSession::TJlvxSession()
    : FSource(), FSourceWidth(0), FSourceHeight(0), FSourceBlockWidth(8), FSourceBlockHeight(8),
      FSourceGray(false), FDataChecked(false), FFileName(), FMap(), FWidth(0), FHeight(0), FHasRegion(false),
      FRegion(), FOpen(false), FLastError(), FLastEncodedMCUs(0), FLastTotalMCUs(0) {}

TJlvxSession::~TJlvxSession() = default;

bool TJlvxSession::Fail(const QString& Text) {
    FLastError = Text;
    return false;
}

bool TJlvxSession::Damaged(const QString& Reason) {
    const QString fileName = FFileName;
    Close();
    return Fail(QStringLiteral("\"%1\" is damaged: %2").arg(fileName, Reason));
}

void TJlvxSession::Close() {
    FSource = QByteArray();
    FSourceWidth = FSourceHeight = 0;
    FSourceBlockWidth = FSourceBlockHeight = 8;
    FSourceGray = false;
    FDataChecked = false;
    FFileName.clear();
    FMap = TMap();
    FWidth = FHeight = 0;
    FHasRegion = false;
    FRegion = TQelRect();
    FOpen = false;
}

bool TJlvxSession::Open(const QString& FileName) {
    Close();
    FLastError.clear();
    TQelFileContents file = QelReadRegularFile(FileName, MaxFileSize);
    switch (file.Fault) {
    case TQelReadFault::None: break;
    case TQelReadFault::NotFound:
    case TQelReadFault::NotRegular: return Fail(QStringLiteral("\"%1\" is not a file.").arg(FileName));
    case TQelReadFault::TooLarge: return Fail(QStringLiteral("\"%1\" is too large for a JPEG file.").arg(FileName));
    case TQelReadFault::OutOfMemory: return Fail(QStringLiteral("Out of memory while reading \"%1\".").arg(FileName));
    case TQelReadFault::CannotRead:
        return Fail(QStringLiteral("Cannot read \"%1\": %2").arg(FileName, file.SystemError));
    default: return Fail(QStringLiteral("Cannot open \"%1\": %2").arg(FileName, file.SystemError));
    }
    if (file.Bytes.isEmpty()) return Fail(QStringLiteral("\"%1\" is empty.").arg(FileName));
    QByteArray data = std::move(file.Bytes);

    int width = 0, height = 0, subsamp = -1, colorspace = -1;
    {
        QString error;
        if (!JlvxReadHeader(data, width, height, subsamp, colorspace, error))
            return Fail(QStringLiteral("\"%1\" is not a readable JPEG file: %2").arg(FileName, error));
    }
    if (colorspace != TJCS_YCbCr && colorspace != TJCS_GRAY && colorspace != TJCS_RGB)
        return Fail(QStringLiteral("\"%1\" is a CMYK JPEG file.").arg(FileName));
    if (subsamp < 0 || subsamp >= TJ_NUMSAMP) return Fail(QStringLiteral("\"%1\" has an unknown sampling.").arg(FileName));
    if (width <= 0 || height <= 0 || width > MaxJpegDimension || height > MaxJpegDimension)
        return Fail(QStringLiteral("\"%1\" has no valid image size.").arg(FileName));
    if (int64_t(width) * height > MaxPixels)
        return Fail(QStringLiteral("The image in \"%1\" is too large (%2 x %3 pixels).").arg(FileName).arg(width).arg(height));

    int32_t mcuWidth = 0, mcuHeight = 0;
    {
        QString error;
        if (!JlvxHeaderTablesEncodable(data, mcuWidth, mcuHeight, error))
            return Fail(QStringLiteral("\"%1\" cannot be kept as it is: %2").arg(FileName, error));
    }

    // The entropy-coded data is left to the first Decode, which reads all of
    // it anyway: reading it here as well would nearly double the time a photo
    // takes to open. Until it has been read cleanly, no save relies on it.
    FSource = std::move(data);
    FFileName = FileName;
    FDataChecked = false;
    FSourceWidth = width;
    FSourceHeight = height;
    FSourceBlockWidth = mcuWidth;
    FSourceBlockHeight = mcuHeight;
    FSourceGray = colorspace == TJCS_GRAY;
    FWidth = width;
    FHeight = height;
    FOpen = true;
    return true;
}

int32_t TJlvxSession::GetBlockWidth() const {
    if (!FOpen) return 0;
    return Transposed() ? FSourceBlockHeight : FSourceBlockWidth;
}

int32_t TJlvxSession::GetBlockHeight() const {
    if (!FOpen) return 0;
    return Transposed() ? FSourceBlockWidth : FSourceBlockHeight;
}

uint32_t TJlvxSession::GetBlockSizes() const {
    return (uint32_t(GetBlockWidth()) & 0xFFFF) | ((uint32_t(GetBlockHeight()) & 0xFFFF) << 16);
}

void TJlvxSession::Apply(const TMap& P, int32_t NewWidth, int32_t NewHeight) {
    const TMap& M = FMap;
    TMap r;
    r.Ax = M.Ax * P.Ax + M.Bx * P.Ay;
    r.Bx = M.Ax * P.Bx + M.Bx * P.By;
    r.Ay = M.Ay * P.Ax + M.By * P.Ay;
    r.By = M.Ay * P.Bx + M.By * P.By;
    r.Cx = M.Ax * P.Cx + M.Bx * P.Cy + M.Cx;
    r.Cy = M.Ay * P.Cx + M.By * P.Cy + M.Cy;
    FMap = r;
    FWidth = NewWidth;
    FHeight = NewHeight;
}

void TJlvxSession::CommitRegion() {
    if (!FHasRegion) return;
    FHasRegion = false;
    TMap shift;
    shift.Cx = FRegion.Left;
    shift.Cy = FRegion.Top;
    Apply(shift, FRegion.Width(), FRegion.Height());
}

bool TJlvxSession::SetRegion(int32_t Left, int32_t Top, int32_t Right, int32_t Bottom) {
    if (!FOpen) return false;
    constexpr int32_t Limit = 1 << 24;
    if (Left >= Right || Top >= Bottom || Left < -Limit || Top < -Limit || Right > Limit || Bottom > Limit)
        return false;
    CommitRegion();
    FRegion = TQelRect(Left, Top, Right, Bottom);
    FHasRegion = true;
    return true;
}

bool TJlvxSession::FlipHorizontal() {
    if (!FOpen) return false;
    CommitRegion();
    TMap p;
    p.Ax = -1;
    p.Cx = FWidth - 1;
    Apply(p, FWidth, FHeight);
    return true;
}

bool TJlvxSession::FlipVertical() {
    if (!FOpen) return false;
    CommitRegion();
    TMap p;
    p.By = -1;
    p.Cy = FHeight - 1;
    Apply(p, FWidth, FHeight);
    return true;
}

bool TJlvxSession::RotateRight() {
    if (!FOpen) return false;
    CommitRegion();
    // The new (x, y) was the old (y, H - 1 - x).
    TMap p;
    p.Ax = 0;
    p.Bx = 1;
    p.Ay = -1;
    p.By = 0;
    p.Cy = FHeight - 1;
    Apply(p, FHeight, FWidth);
    return true;
}

bool TJlvxSession::RotateLeft() {
    if (!FOpen) return false;
    CommitRegion();
    // The new (x, y) was the old (W - 1 - y, x).
    TMap p;
    p.Ax = 0;
    p.Bx = -1;
    p.Ay = 1;
    p.By = 0;
    p.Cx = FWidth - 1;
    Apply(p, FHeight, FWidth);
    return true;
}

bool TJlvxSession::DecodeFile(uint8_t* Rows, int32_t Stride) {
    QString error;
    if (JlvxDecodePixels(FSource, Rows, FSourceWidth, Stride, FSourceHeight, error)) {
        FDataChecked = true;
        return true;
    }
    // Data that decoded cleanly once fails later only for want of memory.
    if (FDataChecked) return Fail(QStringLiteral("Cannot decode the JPEG data: %1").arg(error));
    return Damaged(error);
}

bool TJlvxSession::DecodeSource(std::unique_ptr<uint8_t[], TQelLargeDeleter>& Rows) {
    // The decoder writes every byte, so the rows a turned image left behind
    // serve as they are; zeroing them first would be a pass for nothing.
    const size_t bytes = size_t(FSourceWidth) * size_t(FSourceHeight) * 3;
    Rows.reset(static_cast<uint8_t*>(QelAllocateLargeForOverwrite(bytes)));
    if (!Rows) throw std::bad_alloc();
    return DecodeFile(Rows.get(), FSourceWidth * 3);
}

bool TJlvxSession::Decode(uint8_t* Pixels, int32_t Stride, int32_t /*Flags*/) {
    FLastError.clear();
    if (!FOpen) return Fail(QStringLiteral("No JPEG file is open."));
    if (!Pixels || Stride < int64_t(FWidth) * 3) return Fail(QStringLiteral("The pixel rows are too small."));
    try {
        const bool identity = FMap.Ax == 1 && FMap.By == 1 && FMap.Cx == 0 && FMap.Cy == 0;
        if (identity && FWidth == FSourceWidth && FHeight == FSourceHeight) return DecodeFile(Pixels, Stride);
        std::unique_ptr<uint8_t[], TQelLargeDeleter> source;
        if (!DecodeSource(source)) return false;
        for (int32_t y = 0; y < FHeight; ++y) {
            uint8_t* row = Pixels + ptrdiff_t(y) * Stride;
            int64_t sx = FMap.Bx * int64_t(y) + FMap.Cx, sy = FMap.By * int64_t(y) + FMap.Cy;
            for (int32_t x = 0; x < FWidth; ++x, sx += FMap.Ax, sy += FMap.Ay) {
                uint8_t* p = row + ptrdiff_t(x) * 3;
                if (sx < 0 || sy < 0 || sx >= FSourceWidth || sy >= FSourceHeight) {
                    p[0] = p[1] = p[2] = 0;
                    continue;
                }
                std::memcpy(p, source.get() + (size_t(sy) * size_t(FSourceWidth) + size_t(sx)) * 3, 3);
            }
        }
        return true;
    } catch (const std::bad_alloc&) {
        return Fail(QStringLiteral("Out of memory while decoding the JPEG data."));
    }
}

bool TJlvxSession::Save(const QString& FileName, const TJlvxSaveOptions& Options) {
    FLastError.clear();
    if (!FOpen) return Fail(QStringLiteral("No JPEG file is open."));
    // The region belongs to this save; it never becomes a crop afterwards.
    const TQelRect region = FHasRegion ? FRegion : TQelRect(0, 0, FWidth, FHeight);
    FHasRegion = false;
    if (region.Width() > MaxJpegDimension || region.Height() > MaxJpegDimension)
        return Fail(QStringLiteral("The image is too large for a JPEG file."));
    if (!Options.Pixels || Options.Stride < int64_t(region.Width()) * 3)
        return Fail(QStringLiteral("No pixels were given to save."));

    try {
        // A file whose data no decode has read yet is read now, before
        // anything is written: a damaged one is refused, the target kept.
        if (!FDataChecked) {
            QString error;
            if (!JlvxCheckEntropyData(FSource, error)) return Damaged(error);
            FDataChecked = true;
        }
        // Turned or flipped pixels are written as they stand, so the file's
        // orientation tag (EXIF and XMP) must say so; an unturned file keeps
        // its tag, and every other byte of its markers either way.
        const bool turned = !(FMap.Ax == 1 && FMap.Bx == 0 && FMap.Ay == 0 && FMap.By == 1);
        const bool whole = region.Width() == FSourceWidth && region.Height() == FSourceHeight;
        // The old file stays whole until the new one is complete.
        return Encode(region, Options, [&](const QByteArray& output, bool blocksKept) {
            QString error;
            // What the EXIF states of pixels that are no longer the file's.
            const bool restate = turned || !whole || !blocksKept;
            QByteArray restated;
            if (restate) {
                restated = QByteArray(output.constData(), output.size());
                if (turned) QelResetJpegOrientation(restated);
                // A quarter turn also swaps the axes the resolution is stated for.
                if (Transposed()) QelSwapJpegResolution(restated);
                QelSetJpegExifDimensions(restated, region.Width(), region.Height());
                // The thumbnail would show the picture as it was.
                QelRemoveJpegThumbnail(restated);
            }
            return QelWriteFileAtomically(FileName, restate ? restated : output, error) ? true : Fail(error);
        });
    } catch (const std::bad_alloc&) {
        return Fail(QStringLiteral("Out of memory while writing the JPEG file."));
    }
}

bool TJlvxSession::Encode(const TQelRect& R, const TJlvxSaveOptions& Options,
                          const std::function<bool(const QByteArray&, bool)>& Store) {
    const int32_t W = R.Width(), H = R.Height();
    const TJlvxPixelRows pixels{Options.Pixels, Options.Stride};

    int64_t ox = 0, oy = 0;
    const TJlvxOrientation* orientation = JlvxOrientFile(FMap, FSourceWidth, FSourceHeight, R, ox, oy);
    if (!orientation) return Fail(QStringLiteral("The session's orientation is invalid."));
    std::vector<TQelRect> changedRects;
    const bool vouched = JlvxVouchedChanges(FMap, FSourceWidth, FSourceHeight, R, Options.Changed, changedRects);
    // A grayscale file whose pixels were coloured must become a colour file.
    const bool color = FSourceGray && JlvxAnyColour(pixels, R, vouched, changedRects);

    const int32_t bw = GetBlockWidth(), bh = GetBlockHeight();
    const int32_t cols = (W + bw - 1) / bw, rows = (H + bh - 1) / bh;
    // Blocks are kept only for a region inside the file as turned: one that
    // reaches past it (an enlarged picture) has no blocks there to keep, and
    // is encoded whole.
    const int64_t orientedWidth = Transposed() ? FSourceHeight : FSourceWidth;
    const int64_t orientedHeight = Transposed() ? FSourceWidth : FSourceHeight;
    const bool inFile = ox >= 0 && oy >= 0 && ox + W <= orientedWidth && oy + H <= orientedHeight;
    const bool aligned = inFile && !color &&
                         JlvxIsPerfect(orientation->Turn, FSourceWidth, FSourceHeight, FSourceBlockWidth,
                                       FSourceBlockHeight) &&
                         ox % bw == 0 && oy % bh == 0;
    const TJlvxRegionGrid grid{pixels, FMap, R.Left, R.Top, W, H, bw, bh, cols, rows};
    const int32_t total = cols * rows;

    std::vector<uint8_t> changed(size_t(total), 1);
    int32_t encoded = total;
    // The MCU ranges to compare; what follows refers to them until the merge
    // is done.
    std::vector<TQelRect> ranges = {TQelRect(0, 0, cols, rows)};
    // A decode of the whole file pays off once the changes cover much of it.
    auto compareWholeFile = [&]() -> bool {
        std::unique_ptr<uint8_t[], TQelLargeDeleter> reference;
        if (!DecodeSource(reference)) return false;
        const TJlvxReference ref{reference.get(), ptrdiff_t(FSourceWidth) * 3,
                                 TQelRect(0, 0, FSourceWidth, FSourceHeight)};
        for (const TQelRect& range : ranges) JlvxCompareRange(grid, ref, range, changed);
        return true;
    };
    // Set when the comparison waits for the file's blocks, which the merge
    // reads anyway.
    bool compareOnBlocks = false;
    if (aligned) {
        // Compare with the file's pixels as the document decoded them, mapped
        // exactly: a decode of the rotated coefficients would differ by
        // upsampling and rounding.
        if (vouched) {
            // Only MCUs that a change met can differ from the file.
            ranges = JlvxChangedRanges(changedRects, R, bw, bh, cols, rows);
            std::fill(changed.begin(), changed.end(), uint8_t(0));
            for (const TQelRect& range : ranges)
                for (int32_t j = range.Top; j < range.Bottom; ++j)
                    std::fill_n(changed.begin() + ptrdiff_t(j) * cols + range.Left, range.Width(), uint8_t(1));
        }
        const int64_t candidates = std::count(changed.begin(), changed.end(), uint8_t(1));
        if (candidates * 4 > total) {
            if (!compareWholeFile()) return false;
        } else if (candidates > 0) {
            // Each range against a decode of just the file's blocks around it.
            compareOnBlocks = true;
        }
        encoded = int32_t(std::count(changed.begin(), changed.end(), uint8_t(1)));
    }
    // The file as it is, when the save is of all of it, untouched: nothing
    // need be read or written anew.
    const bool wholeFile = orientation->Turn == TJlvxTurn::None && ox == 0 && oy == 0 && W == FSourceWidth &&
                           H == FSourceHeight;
    auto storeFile = [&]() {
        if (!Store(FSource, true)) return false;
        FLastEncodedMCUs = 0;
        FLastTotalMCUs = total;
        return true;
    };
    if (aligned && wholeFile && encoded == 0 && !compareOnBlocks) return storeFile();

    TJlvxCompress out;
    QString error;
    bool ok = false;
    if (encoded < total) {
        // The file's markers and blocks, read once for the comparison and the
        // blocks kept.
        TJlvxFileBlocks file;
        ok = file.Read(FSource, error);
        if (ok && compareOnBlocks) {
            const bool whole = !JlvxCompareRangesOnBlocks(file.Info(), file.Arrays, grid, FSourceWidth, FSourceHeight,
                                                          ranges, changed);
            if (whole && !compareWholeFile()) return false;
            encoded = int32_t(std::count(changed.begin(), changed.end(), uint8_t(1)));
            if (wholeFile && encoded == 0) return storeFile();
        } else if (!ok && compareOnBlocks && orientation->Turn != TJlvxTurn::None) {
            return Fail(QStringLiteral("Cannot read the JPEG data: %1").arg(error));
        }
        bool allChanged = false;
        if (ok) {
            JlvxRestateTurnedExif(file.Info(), *orientation);
            ok = JlvxMergeBlocks(file, *orientation, pixels, W, H, bw, bh, int32_t(ox / bw), int32_t(oy / bh), changed,
                                 cols, rows, size_t(FSource.size()), encoded, allChanged, out, error);
        }
        // Should the blocks not be kept after all, the pixels still make a
        // correct file; so does a whole encode when every MCU turned out
        // changed.
        if (!ok) encoded = total;
    }
    if (!ok) {
        TJlvxCompress fresh;
        if (!JlvxEncodePixels(FSource, pixels, W, H, Transposed(), color, fresh, error))
            return Fail(QStringLiteral("Cannot encode the JPEG data: %1").arg(error));
        if (!Store(fresh.Bytes(), false)) return false;
    } else if (!Store(out.Bytes(), encoded == 0)) {
        return false;
    }
    FLastEncodedMCUs = encoded;
    FLastTotalMCUs = total;
    return true;
}
