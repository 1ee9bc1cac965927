// What an image file carries besides its pixels: the property items (EXIF
// and GPS tags of the main image, and the colour profile), the XMP packet
// and the IPTC records, read from and written into encoded files in memory.
// Safe to use from any thread.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>

// One tag: its number, its TIFF type code (1 byte, 2 ASCII, 3 short, 4 long,
// 5 rational, 7 undefined, 9 signed long, 10 signed rational, ...) and its
// value bytes, little-endian.
struct TQelPropertyItem {
    uint32_t Id = 0;
    uint16_t Type = 0;
    QByteArray Value;
};

using TQelPropertyItems = QList<TQelPropertyItem>;

constexpr uint32_t PropertyTagMake = 271;
constexpr uint32_t PropertyTagModel = 272;
constexpr uint32_t PropertyTagDateTime = 306;
constexpr uint32_t PropertyTagOrientation = 274;
constexpr uint32_t PropertyTagXResolution = 282;
constexpr uint32_t PropertyTagYResolution = 283;
constexpr uint32_t PropertyTagResolutionUnit = 296;
constexpr uint32_t PropertyTagPixelXDimension = 40962;
constexpr uint32_t PropertyTagPixelYDimension = 40963;
// The colour profile travels as an item of its own, whichever way the file
// stores it (a TIFF tag, JPEG APP2 markers, a PNG chunk).
constexpr uint32_t PropertyTagICCProfile = 34675;

// A text a file carries under a keyword: a PNG text chunk, or a JPEG
// comment as "Comment".
struct TQelImageText {
    QByteArray Keyword;
    QString Text;
};

using TQelImageTexts = QList<TQelImageText>;

// Everything a save writes back besides the pixels.
struct TQelImageMetadata {
    TQelPropertyItems Items = {};
    // The XMP packet as the file had it (with a JPEG's extended XMP merged
    // into it), and the IPTC records encoded as IPTC-IIM datasets; empty
    // when the file had none.
    QByteArray Xmp = {};
    QByteArray Iptc = {};
    TQelImageTexts Texts = {};
    // Dots per inch; 0 leaves the encoder's default.
    int32_t HorizontalResolution = 0;
    int32_t VerticalResolution = 0;
};

// The items of the main image's directory, its EXIF directory and its GPS
// directory, in file order. The preview image's own tags are not read, and
// neither are maker notes that the reader takes apart. False (with Items
// empty) when the data is no image that carries such tags or is damaged.
bool QelReadPropertyItems(const QByteArray& FileData, TQelPropertyItems& Items);
// The items as above (the colour profile among them, also a BMP's), the XMP
// packet, the IPTC records and the texts; the resolution is left as it is.
// An XMP packet that claims an extension the file does not hold loses the
// claim. False, with all of it empty, as above.
bool QelReadImageMetadata(const QByteArray& FileData, TQelImageMetadata& Metadata);

// Puts Items into the encoded JPEG or TIFF image in FileData, replacing the
// tags it has. Tags that describe the file's own layout (sizes, strips,
// compression, directory links) are never taken from Items, and an item the
// writer cannot take is left out. False, with FileData unchanged and Error
// set, when the tags cannot be written at all.
bool QelWritePropertyItems(QByteArray& FileData, const TQelPropertyItems& Items, QString& Error);
// The same for JPEG, TIFF and PNG, with the colour profile, XMP, IPTC and
// texts of Metadata besides, each where the format has a place for it: a
// JPEG's XMP beyond one segment as extended XMP, its "Comment" texts as
// comments; a PNG's EXIF also in an eXIf chunk, its profile named, every
// text as a text chunk. A part that does not fit or that the writer cannot
// take is left out, the rest written, and the part named in LeftOut (an
// EXIF item by its number, largest first, until the rest fits a JPEG).
bool QelWriteImageMetadata(QByteArray& FileData, const TQelImageMetadata& Metadata, QString& Error,
                           QStringList* LeftOut = nullptr);

// Calls Visit(Marker, Body, BodySize) for each segment before the first
// scan of the JPEG in Data[0 .. Size) (Body: the offset of the bytes after
// its length field; the segment lies wholly inside the data), until Visit
// answers false. Data that does not start as a JPEG has no segments;
// standalone markers are passed over; a damaged segment ends the walk.
template <class TVisit>
void QelForEachJpegSegment(const uint8_t* Data, int64_t Size, TVisit&& Visit) {
    if (Size < 4 || Data[0] != 0xFF || Data[1] != 0xD8) return;
    for (int64_t i = 2; i + 4 <= Size && Data[i] == 0xFF;) {
        const uint8_t marker = Data[i + 1];
        if (marker == 0xFF) {
            ++i;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9) return;
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            i += 2;
            continue;
        }
        const int64_t length = int64_t(Data[i + 2]) << 8 | Data[i + 3];
        if (length < 2 || i + 2 + length > Size) return;
        if (!Visit(marker, i + 4, length - 2)) return;
        i += 2 + length;
    }
}

// For pixels that were turned or flipped: the orientation a viewer is told
// becomes 1 (as stored). In Items the orientation item; in an XMP packet its
// tiff:Orientation, changed in place so every other byte stays; in a JPEG
// file the orientation of its EXIF and XMP markers, also in place. Each
// answers whether it found an orientation to change; damaged data is left
// as it is.
bool QelResetOrientationItem(TQelPropertyItems& Items);
bool QelResetXmpOrientation(QByteArray& Packet);
bool QelResetJpegOrientation(QByteArray& Jpeg);

// For pixels given a quarter turn: the horizontal and vertical resolution
// change places, in a JPEG file's JFIF density and its EXIF resolution
// entries, in place. Answers whether it found a resolution to swap.
bool QelSwapJpegResolution(QByteArray& Jpeg);

// For pixels that are no longer those the file's EXIF marker describes: its
// PixelXDimension and PixelYDimension become Width and Height, and the
// thumbnail of its second directory is unlinked and its bytes cleared, all
// in place. Each answers whether it found what to change.
bool QelSetJpegExifDimensions(QByteArray& Jpeg, int32_t Width, int32_t Height);
bool QelRemoveJpegThumbnail(QByteArray& Jpeg);

// The text of an ASCII value: at most Length bytes, ending at the first NUL.
// UTF-8 when the bytes are valid UTF-8, else Latin-1.
QString QelPropertyItemText(const char* Value, size_t Length);
// The text of the last item with this Id; empty when there is none.
QString QelPropertyText(const TQelPropertyItems& Items, uint32_t Id);
