#include "FileMapping.h"

#include <QFileInfo>

#include <cstring>
#include <limits>

TFileMapping::TFileMapping(const QString& FileName, TAccess Access)
    : TQelFileMapping(FileName.toStdString(), Access) {}

bool CheckExchangeHeader(const TExchangeHeader& Header, int64_t FileSize, QString& Error) {
    const int64_t w = Header.Width, h = Header.Height;
    if (FileSize < ExchangePixelOffset)
        Error = QStringLiteral("The exchange file is shorter than its header.");
    else if (w <= 0 || h <= 0)
        Error = QStringLiteral("The exchange file gives an image size of %1 x %2.").arg(w).arg(h);
    else if (w * h > ExchangeMaxPixels)
        Error = QStringLiteral("The image of the exchange file (%1 x %2) is too large.").arg(w).arg(h);
    else {
        switch (CheckExchangeRows(Header, FileSize, ExchangePixelOffset)) {
            case TExchangeRowsFault::None:
                Error.clear();
                return true;
            case TExchangeRowsFault::NegativeSize:  // ruled out above
            case TExchangeRowsFault::FewPlanes:
                Error = QStringLiteral("The exchange file gives %1 bytes per pixel.").arg(Header.Planes);
                break;
            case TExchangeRowsFault::NarrowRows:
                Error = QStringLiteral("The rows of the exchange file (%1 bytes) are shorter than its width.")
                            .arg(Header.RowBytes);
                break;
            case TExchangeRowsFault::Truncated:
                Error = QStringLiteral("The exchange file is truncated.");
                break;
        }
    }
    return false;
}

TExchangeReadResult ReadExchangeImage(const QString& FileName,
                                      const std::function<TQelPixels*(int32_t, int32_t)>& Allocate,
                                      QString& Error) {
    Error.clear();
    // Folders, pipes and devices are never exchange files (opening a pipe
    // would block).
    if (!QFileInfo(FileName).isFile()) return TExchangeReadResult::NotExchange;
    TFileMapping mapping(FileName, TFileMapping::TAccess::Read);
    const int64_t size = mapping.Size();
    if (size < 12) return TExchangeReadResult::NotExchange;
    const uint8_t* view = mapping.MapView(0, 0);
    if (!view) return TExchangeReadResult::NotExchange;

    TExchangeHeader header;
    if (!IsExchangeFile(view, size, header)) return TExchangeReadResult::NotExchange;
    if (!CheckExchangeHeader(header, size, Error)) return TExchangeReadResult::Damaged;

    TQelPixels* image = Allocate ? Allocate(header.Width, header.Height) : nullptr;
    if (!image || !image->Bits || image->Width != header.Width || image->Height != header.Height ||
        image->Format != QelFormatBGR24) {
        Error = QStringLiteral("There is not enough memory for an image of %1 x %2.").arg(header.Width).arg(header.Height);
        return TExchangeReadResult::Damaged;
    }
    for (int32_t y = 0; y < header.Height; ++y) {
        const uint8_t* s = view + ExchangePixelOffset + int64_t(y) * header.RowBytes;
        uint8_t* d = image->PixelAddress(image->Left, image->Top + y);
        for (int32_t x = 0; x < header.Width; ++x, s += header.Planes, d += 3) {
            d[0] = s[2];
            d[1] = s[1];
            d[2] = s[0];
        }
    }
    return TExchangeReadResult::Read;
}

bool WriteExchangeImage(const QString& FileName, const TQelPixels& Image, QString& Error) {
    Error.clear();
    if (!Image.Bits || Image.Format != QelFormatBGR24 || Image.Width <= 0 || Image.Height <= 0) {
        Error = QStringLiteral("There is no image to write into the exchange file.");
        return false;
    }
    const int64_t rowBytes = ExchangeRowBytes(Image.Width);
    const int64_t pixelBytes = rowBytes * Image.Height;
    if (pixelBytes > std::numeric_limits<int32_t>::max()) {
        Error = QStringLiteral("The image (%1 x %2) is too large for the exchange file.").arg(Image.Width).arg(Image.Height);
        return false;
    }
    TFileMapping mapping(FileName, TFileMapping::TAccess::ReadWrite);
    if (!mapping.IsOpen()) {
        Error = QStringLiteral("Cannot open the exchange file \"%1\".").arg(FileName);
        return false;
    }
    if (!mapping.SetSize(ExchangePixelOffset + pixelBytes)) {
        Error = QStringLiteral("Cannot size the exchange file \"%1\".").arg(FileName);
        return false;
    }
    uint8_t* view = mapping.MapView(0, 0);
    if (!view) {
        Error = QStringLiteral("Cannot map the exchange file \"%1\".").arg(FileName);
        return false;
    }
    TExchangeHeader header;
    header.Width = Image.Width;
    header.Height = Image.Height;
    header.RowBytes = int32_t(rowBytes);
    WriteExchangeHeader(header, view);
    for (int32_t y = 0; y < Image.Height; ++y) {
        const uint8_t* s = Image.PixelAddress(Image.Left, Image.Top + y);
        uint8_t* d = view + ExchangePixelOffset + int64_t(y) * rowBytes;
        for (int32_t x = 0; x < Image.Width; ++x, s += 3, d += 3) {
            d[0] = s[2];
            d[1] = s[1];
            d[2] = s[0];
        }
    }
    mapping.UnmapView(view);
    return true;
}
