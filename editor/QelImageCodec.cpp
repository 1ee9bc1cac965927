#include "QelImageCodec.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QtEndian>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include <tiffio.h>
#include <turbojpeg.h>

#include "QelGeometry.h"
#include "QelRegularFile.h"

namespace {

// Qt refuses images above 256 MB by default; photos of our largest size need
// more. Sizes are checked before any reader allocates, so this only guards
// readers that cannot tell their size in advance.
void InitQtReaders() {
    static std::once_flag once;
    std::call_once(once, [] { QImageReader::setAllocationLimit(2048); });
}

int64_t PaddedStride(int64_t Width) { return (Width * 3 + 3) & ~int64_t(3); }

TQelImageFileType TypeFromContent(const QByteArray& d) {
    const auto* b = reinterpret_cast<const uint8_t*>(d.constData());
    const qsizetype n = d.size();
    if (n >= 3 && b[0] == 0xFF && b[1] == 0xD8 && b[2] == 0xFF) return TQelImageFileType::Jpeg;
    if (n >= 8 && std::memcmp(b, "\x89PNG\r\n\x1a\n", 8) == 0) return TQelImageFileType::Png;
    if (n >= 4 && (std::memcmp(b, "II*\0", 4) == 0 || std::memcmp(b, "MM\0*", 4) == 0 ||
                   std::memcmp(b, "II+\0", 4) == 0 || std::memcmp(b, "MM\0+", 4) == 0))
        return TQelImageFileType::Tiff;
    if (n >= 2 && b[0] == 'B' && b[1] == 'M') return TQelImageFileType::Bmp;
    return TQelImageFileType::Other;
}

// Lays a premultiplied colour over white.
inline uint8_t OverWhite(int Value, int Alpha) { return uint8_t(std::min(255, Value + 255 - Alpha)); }

// --- BMP ----------------------------------------------------------------------

struct TBmpHeader {
    int64_t PixelOffset = 0;
    int64_t Width = 0;
    int64_t Height = 0;  // negative: rows stored top-down
    int Bits = 0;
    uint32_t Compression = 0;
    uint32_t Masks[3] = {0x7C00, 0x03E0, 0x001F};  // red, green, blue
};

uint32_t Le32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

// The header of a BMP with an information header of 40 bytes or more.
bool ReadBmpHeader(const QByteArray& d, TBmpHeader& h) {
    const auto* b = reinterpret_cast<const uint8_t*>(d.constData());
    if (d.size() < 54) return false;
    const uint32_t infoSize = Le32(b + 14);
    if (infoSize < 40) return false;
    h.PixelOffset = Le32(b + 10);
    h.Width = int32_t(Le32(b + 18));
    h.Height = int32_t(Le32(b + 22));
    h.Bits = b[28] | b[29] << 8;
    h.Compression = Le32(b + 30);
    if (h.Compression == 3 && d.size() >= 66) {
        // The masks follow a 40-byte header, or sit inside a longer one.
        for (int i = 0; i < 3; ++i) h.Masks[i] = Le32(b + 54 + 4 * i);
    }
    return true;
}

// A mask's value scaled to 0..255, to the nearest step (5 bits of 31 are
// 255, not 248).
inline uint8_t MaskedChannel(uint32_t pixel, uint32_t mask) {
    if (!mask) return 0;
    const int shift = __builtin_ctz(mask);
    const uint32_t max = mask >> shift, v = (pixel & mask) >> shift;
    return uint8_t((v * 255u + max / 2) / max);
}

// Bytes of a row of uncompressed BMP pixels.
int64_t BmpRowBytes(int64_t Width, int Bits) { return (Width * Bits + 31) / 32 * 4; }

bool IsUncompressedBmp(const TBmpHeader& h) {
    return (h.Compression == 0 || h.Compression == 3) &&
           (h.Bits == 1 || h.Bits == 4 || h.Bits == 8 || h.Bits == 16 || h.Bits == 24 || h.Bits == 32);
}

// Whether RLE8 or RLE4 data reaches its end-of-bitmap code, or fills every
// row, before the file ends; Qt's reader fills a cut-off rest silently.
bool BmpRleComplete(const QByteArray& d, const TBmpHeader& h) {
    const auto* b = reinterpret_cast<const uint8_t*>(d.constData());
    const int64_t end = d.size(), rows = h.Height < 0 ? -h.Height : h.Height;
    int64_t pos = h.PixelOffset, row = 0;
    if (pos < 14 || pos > end) return false;
    while (pos + 2 <= end) {
        const int count = b[pos], code = b[pos + 1];
        pos += 2;
        if (count > 0) continue;  // a run
        if (code == 0) {
            if (++row >= rows) return true;
        } else if (code == 1) {
            return true;
        } else if (code == 2) {
            if (pos + 2 > end) return false;
            row += b[pos + 1];
            pos += 2;
            if (row >= rows) return true;
        } else {
            // Literal pixels, padded to whole 16-bit words.
            const int64_t bytes = h.Compression == 1 ? code : (code + 1) / 2;
            pos += (bytes + 1) & ~int64_t(1);
        }
    }
    return false;
}

// 16-bit pixels, whose channels the Qt reader widens by shifting alone.
void DecodeBmp16(const QByteArray& d, const TBmpHeader& h, uint8_t* Bits, int32_t Stride) {
    const auto* b = reinterpret_cast<const uint8_t*>(d.constData());
    const int64_t height = h.Height < 0 ? -h.Height : h.Height, rowBytes = BmpRowBytes(h.Width, 16);
    for (int64_t y = 0; y < height; ++y) {
        const uint8_t* s = b + h.PixelOffset + (h.Height < 0 ? y : height - 1 - y) * rowBytes;
        uint8_t* t = Bits + ptrdiff_t(y) * Stride;
        for (int64_t x = 0; x < h.Width; ++x, s += 2, t += 3) {
            const uint32_t pixel = uint32_t(s[0]) | uint32_t(s[1]) << 8;
            t[0] = MaskedChannel(pixel, h.Masks[2]);
            t[1] = MaskedChannel(pixel, h.Masks[1]);
            t[2] = MaskedChannel(pixel, h.Masks[0]);
        }
    }
}

// --- TurboJPEG ------------------------------------------------------------

struct TTurboHandle {
    explicit TTurboHandle(bool Compress) : H(Compress ? tjInitCompress() : tjInitDecompress()) {}
    ~TTurboHandle() {
        if (H) tjDestroy(H);
    }
    TTurboHandle(const TTurboHandle&) = delete;
    TTurboHandle& operator=(const TTurboHandle&) = delete;
    tjhandle H;
};

QString TurboError(tjhandle H) { return QString::fromUtf8(tjGetErrorStr2(H)); }

// A JPEG whose inks carry an Adobe marker stores them inverted (0 = full
// ink); the marker must come before the first scan.
bool HasAdobeMarker(const QByteArray& d) {
    const auto* b = reinterpret_cast<const uint8_t*>(d.constData());
    const int64_t n = d.size();
    int64_t pos = 2;
    while (pos + 4 <= n) {
        if (b[pos] != 0xFF) return false;
        const uint8_t marker = b[pos + 1];
        if (marker == 0xFF) {
            ++pos;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9) return false;
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            pos += 2;
            continue;
        }
        const int64_t length = (int64_t(b[pos + 2]) << 8) | b[pos + 3];
        if (length < 2) return false;
        if (marker == 0xEE && length >= 7 && pos + 9 <= n && std::memcmp(b + pos + 4, "Adobe", 5) == 0) return true;
        pos += 2 + length;
    }
    return false;
}

// --- libtiff over memory ----------------------------------------------------

struct TTiffMemory {
    QByteArray* Data = nullptr;       // writing
    const QByteArray* Source = nullptr;  // reading
    int64_t Position = 0;
    QString Error;

    int64_t Size() const { return Source ? Source->size() : Data->size(); }
};

TTiffMemory* MemoryOf(thandle_t h) { return static_cast<TTiffMemory*>(h); }

tmsize_t TiffRead(thandle_t h, void* buffer, tmsize_t size) {
    TTiffMemory* m = MemoryOf(h);
    const char* bytes = m->Source ? m->Source->constData() : m->Data->constData();
    if (size <= 0 || m->Position >= m->Size()) return 0;
    const tmsize_t n = tmsize_t(std::min<int64_t>(size, m->Size() - m->Position));
    std::memcpy(buffer, bytes + m->Position, size_t(n));
    m->Position += n;
    return n;
}

tmsize_t TiffWrite(thandle_t h, void* buffer, tmsize_t size) {
    TTiffMemory* m = MemoryOf(h);
    if (!m->Data || size < 0) return -1;
    const int64_t end = m->Position + size;
    if (end > std::numeric_limits<qsizetype>::max() / 2) return -1;
    if (end > m->Data->size()) m->Data->resize(qsizetype(end), '\0');
    std::memcpy(m->Data->data() + m->Position, buffer, size_t(size));
    m->Position = end;
    return size;
}

toff_t TiffSeek(thandle_t h, toff_t offset, int whence) {
    TTiffMemory* m = MemoryOf(h);
    int64_t base = 0;
    if (whence == SEEK_CUR)
        base = m->Position;
    else if (whence == SEEK_END)
        base = m->Size();
    const int64_t target = base + int64_t(offset);
    if (target < 0) return toff_t(-1);
    m->Position = target;
    return toff_t(target);
}

int TiffClose(thandle_t) { return 0; }

toff_t TiffSize(thandle_t h) { return toff_t(MemoryOf(h)->Size()); }

int TiffMap(thandle_t h, void** base, toff_t* size) {
    TTiffMemory* m = MemoryOf(h);
    if (!m->Source) return 0;
    // libtiff only reads through the mapping of a file opened for reading.
    *base = const_cast<char*>(m->Source->constData());
    *size = toff_t(m->Source->size());
    return 1;
}

void TiffUnmap(thandle_t, void*, toff_t) {}

int TiffError(TIFF*, void* user, const char* module, const char* format, va_list args) {
    auto* m = static_cast<TTiffMemory*>(user);
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    if (m->Error.isEmpty())
        m->Error = module && *module ? QStringLiteral("%1: %2").arg(QString::fromUtf8(module), QString::fromUtf8(text))
                                     : QString::fromUtf8(text);
    return 1;  // handled: nothing goes to the terminal
}

int TiffWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

// A TIFF handle over memory whose messages land in Memory.Error.
struct TTiffHandle {
    TTiffHandle(TTiffMemory& Memory, const char* Mode) {
        TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
        TIFFOpenOptionsSetErrorHandlerExtR(options, TiffError, &Memory);
        TIFFOpenOptionsSetWarningHandlerExtR(options, TiffWarning, &Memory);
        TIFFOpenOptionsSetMaxSingleMemAlloc(options, tmsize_t(512) * 1024 * 1024);
        T = TIFFClientOpenExt("memory", Mode, &Memory, TiffRead, TiffWrite, TiffSeek, TiffClose, TiffSize, TiffMap,
                              TiffUnmap, options);
        TIFFOpenOptionsFree(options);
    }
    ~TTiffHandle() {
        if (T) TIFFClose(T);
    }
    TTiffHandle(const TTiffHandle&) = delete;
    TTiffHandle& operator=(const TTiffHandle&) = delete;
    TIFF* T;
};

bool EncodeTiff(const uint8_t* Bits, int32_t Width, int32_t Height, int32_t Stride, int32_t XDpi, int32_t YDpi,
                QByteArray& Output, QString& Error) {
    QByteArray data;
    TTiffMemory memory;
    memory.Data = &data;
    {
        TTiffHandle tiff(memory, "w");
        if (!tiff.T) {
            Error = memory.Error.isEmpty() ? QStringLiteral("The TIFF writer cannot start.") : memory.Error;
            return false;
        }
        TIFF* t = tiff.T;
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, uint32_t(Width));
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, uint32_t(Height));
        TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
        TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
        TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
        if (XDpi > 0 && YDpi > 0) {
            TIFFSetField(t, TIFFTAG_XRESOLUTION, float(XDpi));
            TIFFSetField(t, TIFFTAG_YRESOLUTION, float(YDpi));
            TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
        }
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(t, 0));
        std::vector<uint8_t> row(size_t(Width) * 3);
        for (int32_t y = 0; y < Height; ++y) {
            const uint8_t* s = Bits + ptrdiff_t(y) * Stride;
            for (int32_t x = 0; x < Width; ++x) {
                row[size_t(x) * 3] = s[x * 3 + 2];
                row[size_t(x) * 3 + 1] = s[x * 3 + 1];
                row[size_t(x) * 3 + 2] = s[x * 3];
            }
            if (TIFFWriteScanline(t, row.data(), uint32_t(y), 0) < 0) {
                Error = memory.Error.isEmpty() ? QStringLiteral("The TIFF writer failed.") : memory.Error;
                return false;
            }
        }
        if (!TIFFWriteDirectory(t)) {
            Error = memory.Error.isEmpty() ? QStringLiteral("The TIFF writer failed.") : memory.Error;
            return false;
        }
    }
    if (!memory.Error.isEmpty()) {
        Error = memory.Error;
        return false;
    }
    Output = std::move(data);
    return true;
}

bool EncodeWithQt(const char* Format, const uint8_t* Bits, int32_t Width, int32_t Height, int32_t Stride,
                  int32_t XDpi, int32_t YDpi, QByteArray& Output, QString& Error) {
    // Shares the caller's rows; nothing is copied before the writer runs.
    QImage image(Bits, Width, Height, Stride, QImage::Format_BGR888);
    if (XDpi > 0 && YDpi > 0) {
        image.setDotsPerMeterX(QelRoundEven(XDpi / 0.0254));
        image.setDotsPerMeterY(QelRoundEven(YDpi / 0.0254));
    }
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, Format);
    if (!writer.write(image)) {
        Error = writer.errorString();
        return false;
    }
    Output = std::move(data);
    return true;
}

// TurboJPEG writes a JFIF marker without a unit; the density in dots per
// inch goes into it.
void SetJfifDensity(QByteArray& Jpeg, int32_t XDpi, int32_t YDpi) {
    if (XDpi <= 0 || YDpi <= 0 || Jpeg.size() < 18) return;
    auto* d = reinterpret_cast<uint8_t*>(Jpeg.data());
    if (d[2] != 0xFF || d[3] != 0xE0 || std::memcmp(d + 6, "JFIF", 5) != 0) return;
    const auto x = uint16_t(std::min(XDpi, 65535)), y = uint16_t(std::min(YDpi, 65535));
    d[13] = 1;
    d[14] = uint8_t(x >> 8);
    d[15] = uint8_t(x);
    d[16] = uint8_t(y >> 8);
    d[17] = uint8_t(y);
}

// The values of SHORT, LONG and RATIONAL property items, little-endian.
QByteArray Short(uint16_t Value) {
    const uint16_t value = qToLittleEndian(Value);
    return QByteArray(reinterpret_cast<const char*>(&value), sizeof value);
}
QByteArray Long(uint32_t Value) {
    const uint32_t value = qToLittleEndian(Value);
    return QByteArray(reinterpret_cast<const char*>(&value), sizeof value);
}
QByteArray Rational(uint32_t Numerator, uint32_t Denominator = 1) { return Long(Numerator) + Long(Denominator); }

// The resolution items a JPEG's or PNG's EXIF data has say what the file's
// own fields say. A TIFF's items are its fields, which the encoder writes and
// the metadata writer keeps, so a TIFF needs none (and adding them would
// only make every save of one go through the metadata writer).
void SetResolutionItems(TQelPropertyItems& Items, int32_t XDpi, int32_t YDpi) {
    if (XDpi <= 0 || YDpi <= 0) return;
    const TQelPropertyItem wanted[] = {
        {PropertyTagXResolution, 5, Rational(uint32_t(XDpi))},
        {PropertyTagYResolution, 5, Rational(uint32_t(YDpi))},
        {PropertyTagResolutionUnit, 3, Short(RESUNIT_INCH)},
    };
    for (const TQelPropertyItem& item : wanted)
        for (TQelPropertyItem& have : Items)
            if (have.Id == item.Id) have = item;
}

// The pixel dimensions EXIF items state are those of the pixels saved; an
// item of a SHORT too small for them becomes a LONG.
void SetDimensionItems(TQelPropertyItems& Items, int32_t Width, int32_t Height) {
    for (TQelPropertyItem& item : Items) {
        if (item.Id != PropertyTagPixelXDimension && item.Id != PropertyTagPixelYDimension) continue;
        const auto value = uint32_t(item.Id == PropertyTagPixelXDimension ? Width : Height);
        if (item.Type == 3 && value <= 0xFFFF) {
            item.Value = Short(uint16_t(value));
        } else {
            item.Type = 4;
            item.Value = Long(value);
        }
    }
}

// What a BigTIFF carries that the metadata library does not read: its
// colour profile, XMP packet and resolution, read through libtiff.
bool ReadBigTiffMetadata(const QByteArray& Data, TQelImageMetadata& Metadata) {
    Metadata = TQelImageMetadata();
    TTiffMemory memory;
    memory.Source = &Data;
    TTiffHandle tiff(memory, "rm");
    if (!tiff.T) return false;
    uint32_t size = 0;
    const void* bytes = nullptr;
    if (TIFFGetField(tiff.T, TIFFTAG_ICCPROFILE, &size, &bytes) && bytes && size > 0)
        Metadata.Items.append({PropertyTagICCProfile, 7, QByteArray(static_cast<const char*>(bytes), qsizetype(size))});
    if (TIFFGetField(tiff.T, TIFFTAG_XMLPACKET, &size, &bytes) && bytes && size > 0)
        Metadata.Xmp = QByteArray(static_cast<const char*>(bytes), qsizetype(size));
    float x = 0, y = 0;
    uint16_t unit = RESUNIT_INCH;
    if (TIFFGetField(tiff.T, TIFFTAG_XRESOLUTION, &x) && TIFFGetField(tiff.T, TIFFTAG_YRESOLUTION, &y) && x > 0 &&
        y > 0 && x < 1e6f && y < 1e6f) {
        // Hundredths are as close as any resolution is stated.
        auto hundredths = [](float v) { return Rational(uint32_t(QelRoundEven(double(v) * 100)), 100); };
        TIFFGetFieldDefaulted(tiff.T, TIFFTAG_RESOLUTIONUNIT, &unit);
        Metadata.Items.append({PropertyTagXResolution, 5, hundredths(x)});
        Metadata.Items.append({PropertyTagYResolution, 5, hundredths(y)});
        Metadata.Items.append({PropertyTagResolutionUnit, 3, Short(unit)});
    }
    return true;
}

bool IsBigTiff(const QByteArray& d) {
    return d.size() >= 4 && (std::memcmp(d.constData(), "II+\0", 4) == 0 || std::memcmp(d.constData(), "MM\0+", 4) == 0);
}

}  // namespace

bool QelImageSizeAcceptable(int64_t Width, int64_t Height) {
    if (Width < 1 || Height < 1 || Width > QelMaxImagePixels || Height > QelMaxImagePixels) return false;
    if (Width * Height > QelMaxImagePixels) return false;
    const int64_t stride = PaddedStride(Width);
    return stride <= std::numeric_limits<int32_t>::max() && stride * Height <= std::numeric_limits<int32_t>::max();
}

// --- Decoder ----------------------------------------------------------------

bool TQelImageDecoder::Fail(const QString& Text) {
    FError = Text;
    return false;
}

bool TQelImageDecoder::Open(const QString& FileName) {
    FData.clear();
    FType = TQelImageFileType::None;
    FWidth = FHeight = FPageCount = 0;
    FError.clear();
    const TQelFileContents file = QelReadRegularFile(FileName, QelMaxImageFileSize);
    switch (file.Fault) {
    case TQelReadFault::None: break;
    case TQelReadFault::NotFound: return Fail(QStringLiteral("The file \"%1\" does not exist.").arg(FileName));
    // A folder or a pipe named like an image is no image.
    case TQelReadFault::NotRegular: return Fail(QStringLiteral("\"%1\" is not a file.").arg(FileName));
    case TQelReadFault::TooLarge: return Fail(QStringLiteral("The file \"%1\" is too large.").arg(FileName));
    case TQelReadFault::OutOfMemory:
        return Fail(QStringLiteral("There is not enough memory to read \"%1\".").arg(FileName));
    default: return Fail(QStringLiteral("Cannot read \"%1\": %2").arg(FileName, file.SystemError));
    }
    if (file.Bytes.isEmpty()) return Fail(QStringLiteral("The file \"%1\" is empty.").arg(FileName));
    return OpenData(file.Bytes);
}

bool TQelImageDecoder::OpenData(const QByteArray& Data) {
    FData = Data;
    FType = TQelImageFileType::None;
    FWidth = FHeight = 0;
    FCmyk = FCmykInverted = false;
    FError.clear();
    if (FData.isEmpty()) return Fail(QStringLiteral("The file is empty."));
    if (!ReadHeader()) {
        FType = TQelImageFileType::None;
        FWidth = FHeight = FPageCount = 0;
        return false;
    }
    return true;
}

bool TQelImageDecoder::ReadHeader() {
    FType = TypeFromContent(FData);
    FPageCount = 1;
    int64_t w = 0, h = 0;
    switch (FType) {
    case TQelImageFileType::Jpeg: {
        TTurboHandle turbo(false);
        int jw = 0, jh = 0, subsampling = 0, colorspace = 0;
        if (!turbo.H) return Fail(QStringLiteral("The JPEG decoder cannot start."));
        if (tjDecompressHeader3(turbo.H, reinterpret_cast<const unsigned char*>(FData.constData()),
                                static_cast<unsigned long>(FData.size()), &jw, &jh, &subsampling, &colorspace) != 0)
            return Fail(QStringLiteral("The JPEG file is damaged: %1").arg(TurboError(turbo.H)));
        w = jw;
        h = jh;
        FCmyk = colorspace == TJCS_CMYK || colorspace == TJCS_YCCK;
        FCmykInverted = FCmyk && HasAdobeMarker(FData);
        break;
    }
    case TQelImageFileType::Tiff: {
        TTiffMemory memory;
        memory.Source = &FData;
        TTiffHandle tiff(memory, "rm");
        uint32_t tw = 0, th = 0;
        if (!tiff.T || !TIFFGetField(tiff.T, TIFFTAG_IMAGEWIDTH, &tw) || !TIFFGetField(tiff.T, TIFFTAG_IMAGELENGTH, &th))
            return Fail(QStringLiteral("The TIFF file is damaged: %1").arg(memory.Error));
        w = tw;
        h = th;
        // libtiff stops at a directory chain that loops or runs off the file.
        FPageCount = int32_t(std::min<uint64_t>(TIFFNumberOfDirectories(tiff.T), 1u << 20));
        break;
    }
    default: {
        InitQtReaders();
        QBuffer buffer;
        buffer.setData(FData);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer);
        if (!reader.canRead()) return Fail(QStringLiteral("The file holds no image that can be read."));
        const QSize size = reader.size();
        w = size.width();
        h = size.height();
        // Qt gives the height of rows stored top-down as negative.
        TBmpHeader bmp;
        if (FType == TQelImageFileType::Bmp && ReadBmpHeader(FData, bmp)) {
            w = bmp.Width;
            h = bmp.Height < 0 ? -bmp.Height : bmp.Height;
        } else if (!size.isValid()) {
            return Fail(QStringLiteral("The image's size cannot be read."));
        }
        break;
    }
    }
    if (!QelImageSizeAcceptable(w, h))
        return Fail(QStringLiteral("The image's size (%1 x %2) cannot be used.").arg(w).arg(h));
    TBmpHeader bmp;
    if (FType == TQelImageFileType::Bmp && ReadBmpHeader(FData, bmp)) {
        // Qt's reader fills missing rows silently.
        const int64_t rows = bmp.Height < 0 ? -bmp.Height : bmp.Height;
        if (IsUncompressedBmp(bmp) &&
            (bmp.PixelOffset < 14 || bmp.PixelOffset + BmpRowBytes(bmp.Width, bmp.Bits) * rows > FData.size()))
            return Fail(QStringLiteral("The BMP file is truncated."));
        if ((bmp.Compression == 1 || bmp.Compression == 2) && !BmpRleComplete(FData, bmp))
            return Fail(QStringLiteral("The BMP file is truncated."));
    }
    FWidth = int32_t(w);
    FHeight = int32_t(h);
    return true;
}

bool TQelImageDecoder::Decode(uint8_t* Bits, int32_t Stride) {
    if (FType == TQelImageFileType::None) return Fail(QStringLiteral("No image is open."));
    if (!Bits || Stride < FWidth * 3) return Fail(QStringLiteral("The image has no rows to decode into."));
    switch (FType) {
    case TQelImageFileType::Jpeg:
        return DecodeJpeg(Bits, Stride, FWidth, FHeight);
    case TQelImageFileType::Tiff:
        return DecodeTiff(Bits, Stride);
    default:
        return DecodeQt(Bits, Stride);
    }
}

bool TQelImageDecoder::DecodeJpeg(uint8_t* Bits, int32_t Stride, int32_t Width, int32_t Height) {
    TTurboHandle turbo(false);
    if (!turbo.H) return Fail(QStringLiteral("The JPEG decoder cannot start."));
    const auto* source = reinterpret_cast<const unsigned char*>(FData.constData());
    const auto sourceSize = static_cast<unsigned long>(FData.size());
    // Progressive files with thousands of scans would take minutes.
    const int flags = TJFLAG_LIMITSCANS;
    auto failed = [&](int rc) {
        if (rc == 0) return false;
        // A few stray bytes before a marker are common in camera files and
        // harmless; every other warning means missing or garbled data.
        const QString text = TurboError(turbo.H);
        if (tjGetErrorCode(turbo.H) == TJERR_WARNING && text.contains(QLatin1String("extraneous bytes"))) return false;
        Fail(QStringLiteral("The JPEG file is damaged: %1").arg(text));
        return true;
    };
    if (!FCmyk) {
        // Straight into the caller's rows.
        return !failed(tjDecompress2(turbo.H, source, sourceSize, Bits, Width, Stride, Height, TJPF_BGR, flags));
    }
    std::unique_ptr<uint8_t[]> inks(new (std::nothrow) uint8_t[size_t(Width) * size_t(Height) * 4]);
    if (!inks) return Fail(QStringLiteral("There is not enough memory to decode the image."));
    if (failed(tjDecompress2(turbo.H, source, sourceSize, inks.get(), Width, Width * 4, Height, TJPF_CMYK, flags)))
        return false;
    for (int32_t y = 0; y < Height; ++y) {
        const uint8_t* s = inks.get() + size_t(y) * size_t(Width) * 4;
        uint8_t* d = Bits + ptrdiff_t(y) * Stride;
        for (int32_t x = 0; x < Width; ++x, s += 4, d += 3) {
            int c = s[0], m = s[1], yy = s[2], k = s[3];
            if (!FCmykInverted) {
                c = 255 - c;
                m = 255 - m;
                yy = 255 - yy;
                k = 255 - k;
            }
            d[0] = uint8_t((yy * k + 127) / 255);
            d[1] = uint8_t((m * k + 127) / 255);
            d[2] = uint8_t((c * k + 127) / 255);
        }
    }
    return true;
}

bool TQelImageDecoder::DecodeTiff(uint8_t* Bits, int32_t Stride) {
    TTiffMemory memory;
    memory.Source = &FData;
    TTiffHandle tiff(memory, "rm");
    if (!tiff.T) return Fail(QStringLiteral("The TIFF file is damaged: %1").arg(memory.Error));
    char why[1024] = {};
    if (!TIFFRGBAImageOK(tiff.T, why))
        return Fail(QStringLiteral("The TIFF file's pixels cannot be read: %1").arg(QString::fromUtf8(why)));
    const size_t count = size_t(FWidth) * size_t(FHeight);
    std::unique_ptr<uint32_t[]> raster(new (std::nothrow) uint32_t[count]);
    if (!raster) return Fail(QStringLiteral("There is not enough memory to decode the image."));
    // The rows as stored, like every other format's: an orientation tag is
    // not applied (asking for the file's own orientation flips nothing), so
    // the tag a save writes back still describes the pixels.
    uint16_t orientation = ORIENTATION_TOPLEFT;
    TIFFGetFieldDefaulted(tiff.T, TIFFTAG_ORIENTATION, &orientation);
    if (orientation < ORIENTATION_TOPLEFT || orientation > ORIENTATION_LEFTBOT) orientation = ORIENTATION_TOPLEFT;
    if (!TIFFReadRGBAImageOriented(tiff.T, uint32_t(FWidth), uint32_t(FHeight), raster.get(), orientation, 1) ||
        !memory.Error.isEmpty())
        return Fail(QStringLiteral("The TIFF file is damaged: %1").arg(memory.Error));
    for (int32_t y = 0; y < FHeight; ++y) {
        const uint32_t* s = raster.get() + size_t(y) * size_t(FWidth);
        uint8_t* d = Bits + ptrdiff_t(y) * Stride;
        for (int32_t x = 0; x < FWidth; ++x, d += 3) {
            // libtiff hands back premultiplied alpha.
            const uint32_t p = s[x];
            const int a = int(TIFFGetA(p));
            d[0] = OverWhite(int(TIFFGetB(p)), a);
            d[1] = OverWhite(int(TIFFGetG(p)), a);
            d[2] = OverWhite(int(TIFFGetR(p)), a);
        }
    }
    return true;
}

bool TQelImageDecoder::DecodeQt(uint8_t* Bits, int32_t Stride) {
    TBmpHeader bmp;
    if (FType == TQelImageFileType::Bmp && ReadBmpHeader(FData, bmp) && IsUncompressedBmp(bmp) && bmp.Bits == 16 &&
        bmp.Width == FWidth && (bmp.Height == FHeight || bmp.Height == -FHeight)) {
        DecodeBmp16(FData, bmp, Bits, Stride);
        return true;
    }
    InitQtReaders();
    QBuffer buffer;
    buffer.setData(FData);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAutoTransform(false);
    QImage image = reader.read();
    if (image.isNull()) return Fail(QStringLiteral("The image cannot be read: %1").arg(reader.errorString()));
    if (image.width() != FWidth || image.height() != FHeight)
        return Fail(QStringLiteral("The image's size differs from its header."));
    if (image.hasAlphaChannel()) {
        image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        if (image.isNull()) return Fail(QStringLiteral("There is not enough memory to decode the image."));
        for (int32_t y = 0; y < FHeight; ++y) {
            const auto* s = reinterpret_cast<const QRgb*>(image.constScanLine(y));
            uint8_t* d = Bits + ptrdiff_t(y) * Stride;
            for (int32_t x = 0; x < FWidth; ++x, d += 3) {
                const int a = qAlpha(s[x]);
                d[0] = OverWhite(qBlue(s[x]), a);
                d[1] = OverWhite(qGreen(s[x]), a);
                d[2] = OverWhite(qRed(s[x]), a);
            }
        }
        return true;
    }
    image = image.convertToFormat(QImage::Format_BGR888);
    if (image.isNull()) return Fail(QStringLiteral("There is not enough memory to decode the image."));
    for (int32_t y = 0; y < FHeight; ++y)
        std::memcpy(Bits + ptrdiff_t(y) * Stride, image.constScanLine(y), size_t(FWidth) * 3);
    return true;
}

bool TQelImageDecoder::DecodeScaled(int32_t Width, int32_t Height, QImage& Image) {
    Image = QImage();
    if (FType == TQelImageFileType::None) return Fail(QStringLiteral("No image is open."));
    if (!QelImageSizeAcceptable(Width, Height)) return Fail(QStringLiteral("The requested size cannot be used."));
    int32_t w = FWidth, h = FHeight;
    if (FType == TQelImageFileType::Jpeg) {
        // The smallest size the decoder can scale to on its own that still
        // covers the request; the rest is resampled.
        int count = 0;
        const tjscalingfactor* factors = tjGetScalingFactors(&count);
        for (int i = 0; factors && i < count; ++i) {
            const int32_t sw = TJSCALED(FWidth, factors[i]), sh = TJSCALED(FHeight, factors[i]);
            if (sw >= std::min(Width, FWidth) && sh >= std::min(Height, FHeight) && int64_t(sw) * sh < int64_t(w) * h) {
                w = sw;
                h = sh;
            }
        }
    }
    QImage full(w, h, QImage::Format_BGR888);
    if (full.isNull()) return Fail(QStringLiteral("There is not enough memory to decode the image."));
    const bool ok = FType == TQelImageFileType::Jpeg ? DecodeJpeg(full.bits(), int32_t(full.bytesPerLine()), w, h)
                                                      : Decode(full.bits(), int32_t(full.bytesPerLine()));
    if (!ok) return false;
    Image = (w == Width && h == Height) ? full
                                        : full.scaled(Width, Height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    if (Image.isNull()) return Fail(QStringLiteral("There is not enough memory to scale the image."));
    return true;
}

bool TQelImageDecoder::ReadMetadata(TQelImageMetadata& Metadata) const {
    if (FType == TQelImageFileType::None) {
        Metadata = TQelImageMetadata();
        return false;
    }
    if (FType == TQelImageFileType::Tiff && IsBigTiff(FData)) return ReadBigTiffMetadata(FData, Metadata);
    return QelReadImageMetadata(FData, Metadata);
}

bool TQelImageDecoder::ReadPropertyItems(TQelPropertyItems& Items) const {
    if (FType == TQelImageFileType::None) {
        Items.clear();
        return false;
    }
    return QelReadPropertyItems(FData, Items);
}

// --- Encoders -----------------------------------------------------------------

bool QelEncodeImage(TQelImageFileType Type, const uint8_t* Bits, int32_t Width, int32_t Height, int32_t Stride,
                    int32_t Quality, QByteArray& Output, QString& Error, int32_t XDpi, int32_t YDpi) {
    Output.clear();
    Error.clear();
    if (!Bits || !QelImageSizeAcceptable(Width, Height) || Stride < Width * 3) {
        Error = QStringLiteral("There is no image to save.");
        return false;
    }
    switch (Type) {
    case TQelImageFileType::Jpeg: {
        TTurboHandle turbo(true);
        if (!turbo.H) {
            Error = QStringLiteral("The JPEG encoder cannot start.");
            return false;
        }
        unsigned char* buffer = nullptr;
        unsigned long size = 0;
        const int rc = tjCompress2(turbo.H, Bits, Width, Stride, Height, TJPF_BGR, &buffer, &size, TJSAMP_420,
                                   std::clamp(Quality, 1, 100), 0);
        if (rc == 0 && buffer) Output = QByteArray(reinterpret_cast<const char*>(buffer), qsizetype(size));
        SetJfifDensity(Output, XDpi, YDpi);
        if (rc != 0) Error = QStringLiteral("The JPEG encoder failed: %1").arg(TurboError(turbo.H));
        tjFree(buffer);
        return rc == 0;
    }
    case TQelImageFileType::Tiff:
        return EncodeTiff(Bits, Width, Height, Stride, XDpi, YDpi, Output, Error);
    case TQelImageFileType::Png:
        return EncodeWithQt("png", Bits, Width, Height, Stride, XDpi, YDpi, Output, Error);
    case TQelImageFileType::Bmp:
        return EncodeWithQt("bmp", Bits, Width, Height, Stride, XDpi, YDpi, Output, Error);
    default:
        Error = QStringLiteral("Images cannot be saved in this format.");
        return false;
    }
}

bool QelSaveImage(const QString& FileName, TQelImageFileType Type, const uint8_t* Bits, int32_t Width,
                  int32_t Height, int32_t Stride, int32_t Quality, const TQelImageMetadata& Metadata, QString& Error,
                  QStringList* LeftOut) {
    QByteArray data;
    const int32_t xDpi = Metadata.HorizontalResolution, yDpi = Metadata.VerticalResolution;
    if (!QelEncodeImage(Type, Bits, Width, Height, Stride, Quality, data, Error, xDpi, yDpi)) return false;
    if (Type == TQelImageFileType::Jpeg || Type == TQelImageFileType::Tiff || Type == TQelImageFileType::Png) {
        TQelImageMetadata metadata = Metadata;
        if (Type != TQelImageFileType::Tiff) SetResolutionItems(metadata.Items, xDpi, yDpi);
        SetDimensionItems(metadata.Items, Width, Height);
        // The pixels written are RGB: a profile of other inks (a CMYK
        // photo's, a grey one's) would make viewers misread every colour.
        metadata.Items.removeIf([](const TQelPropertyItem& item) {
            return item.Id == PropertyTagICCProfile && (item.Value.size() < 20 || item.Value.mid(16, 4) != "RGB ");
        });
        // The metadata goes into the encoded file in memory; when it cannot,
        // the data is left as encoded and the picture is still worth saving.
        QString why;
        if (!metadata.Items.isEmpty() || !metadata.Xmp.isEmpty() || !metadata.Iptc.isEmpty() ||
            !metadata.Texts.isEmpty())
            QelWriteImageMetadata(data, metadata, why, LeftOut);
    }
    return QelWriteFileAtomically(FileName, data, Error);
}
