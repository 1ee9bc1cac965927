// The property items of an image file (EXIF and GPS tags of the main
// image), read from and written into encoded files in memory. Safe to use
// from any thread.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

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

// The items of the main image's directory, its EXIF directory and its GPS
// directory, in file order. The preview image's own tags are not read, and
// neither are maker notes that the reader takes apart. False (with Items
// empty) when the data is no image that carries such tags or is damaged.
bool QelReadPropertyItems(const QByteArray& FileData, TQelPropertyItems& Items);

// Puts Items into the encoded JPEG or TIFF image in FileData, replacing the
// tags it has. Tags that describe the file's own layout (sizes, strips,
// compression, directory links) are never taken from Items, and an item the
// writer cannot take is left out. False, with FileData unchanged and Error
// set, when the tags cannot be written at all.
bool QelWritePropertyItems(QByteArray& FileData, const TQelPropertyItems& Items, QString& Error);

// The text of an ASCII value: at most Length bytes, ending at the first NUL.
// UTF-8 when the bytes are valid UTF-8, else Latin-1.
QString QelPropertyItemText(const char* Value, size_t Length);
// The text of the last item with this Id; empty when there is none.
QString QelPropertyText(const TQelPropertyItems& Items, uint32_t Id);
