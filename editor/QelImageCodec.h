// Reading and writing image files as 24-bit B, G, R rows: JPEG through
// TurboJPEG, TIFF through libtiff, PNG, BMP and the rest through Qt's image
// readers and writers. Every size taken from a file is checked before memory
// is taken for it. Nothing here needs the GUI thread: the open dialog's
// preview thread uses the same decoder.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

#include <cstdint>

#include "QelAtomicWrite.h"
#include "QelImageMetadata.h"

// What a file holds, judged by its content, never by its name.
enum class TQelImageFileType : int32_t { None = 0, Jpeg, Tiff, Png, Bmp, Other };

// Images beyond this many pixels, and files beyond this many bytes, are
// refused.
constexpr int64_t QelMaxImagePixels = int64_t(1) << 28;
constexpr int64_t QelMaxImageFileSize = int64_t(1) << 30;

// Whether Width x Height 24-bit rows may be made: both sides at least 1, at
// most QelMaxImagePixels, and the padded rows within 32-bit sizes.
bool QelImageSizeAcceptable(int64_t Width, int64_t Height);

class TQelImageDecoder {
public:
    TQelImageDecoder() = default;

    // Reads the file, recognises its type and reads its size. False, with
    // LastError, for a missing file, a folder, an empty, huge or unknown file
    // or a size that QelImageSizeAcceptable refuses.
    bool Open(const QString& FileName);
    // The same for a file's bytes already in memory.
    bool OpenData(const QByteArray& Data);

    TQelImageFileType FileType() const { return FType; }
    int32_t Width() const { return FWidth; }
    int32_t Height() const { return FHeight; }
    const QByteArray& Data() const { return FData; }
    const QString& LastError() const { return FError; }

    // Writes the whole image into Width() x Height() rows of 24-bit B, G, R
    // at Stride bytes apart. Transparent pixels are laid over white; an
    // orientation tag is not applied. False, with LastError, for a damaged
    // or truncated file; the rows may then hold part of the image.
    bool Decode(uint8_t* Bits, int32_t Stride);
    // The image scaled to exactly Width x Height, as a 24-bit QImage.
    bool DecodeScaled(int32_t Width, int32_t Height, QImage& Image);
    // The file's property items; false when it has none that can be read.
    bool ReadPropertyItems(TQelPropertyItems& Items) const;
    // Its items, colour profile, XMP, IPTC and texts (QelReadImageMetadata);
    // of a BigTIFF, which that does not read, its colour profile, XMP and
    // resolution items.
    bool ReadMetadata(TQelImageMetadata& Metadata) const;
    // How many pages (directories) a TIFF file holds; 1 for other files.
    // Only the first is read.
    int32_t PageCount() const { return FPageCount; }

private:
    bool Fail(const QString& Text);
    bool ReadHeader();
    bool DecodeJpeg(uint8_t* Bits, int32_t Stride, int32_t Width, int32_t Height);
    bool DecodeTiff(uint8_t* Bits, int32_t Stride);
    bool DecodeQt(uint8_t* Bits, int32_t Stride);

    QByteArray FData;
    TQelImageFileType FType = TQelImageFileType::None;
    int32_t FWidth = 0;
    int32_t FHeight = 0;
    int32_t FPageCount = 0;
    // JPEG: the file is CMYK (or YCCK), and its inks are stored inverted as
    // an Adobe marker says.
    bool FCmyk = false;
    bool FCmykInverted = false;
    QString FError;
};

// Encodes Width x Height rows of 24-bit B, G, R (Stride bytes apart) as a
// JPEG (4:2:0 at Quality, limited to 1..100), TIFF (RGB, LZW), PNG or BMP
// (24-bit), with XDpi x YDpi dots per inch in the format's own fields when
// both are above 0. False, with Error, when the encoder fails.
bool QelEncodeImage(TQelImageFileType Type, const uint8_t* Bits, int32_t Width, int32_t Height, int32_t Stride,
                    int32_t Quality, QByteArray& Output, QString& Error, int32_t XDpi = 0, int32_t YDpi = 0);

// Encodes as above with the metadata's resolution, adds its items, colour
// profile (when it is one for RGB), XMP, IPTC and texts to JPEG, TIFF and
// PNG files (QelWriteImageMetadata; a TIFF's resolution items are its own
// fields; the resolution a JPEG's or PNG's EXIF data states, and the pixel
// dimensions any EXIF states, are made to agree with the file), and writes
// the result under
// FileName through a temporary file, so that a failure leaves any old file
// as it was. Metadata that cannot be written is left out and named in
// LeftOut; the pixels are still saved.
bool QelSaveImage(const QString& FileName, TQelImageFileType Type, const uint8_t* Bits, int32_t Width,
                  int32_t Height, int32_t Stride, int32_t Quality, const TQelImageMetadata& Metadata, QString& Error,
                  QStringList* LeftOut = nullptr);
