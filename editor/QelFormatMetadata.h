// The places a file format gives a photo's data besides those the metadata
// library writes: a JPEG's comments and the extension of its XMP, a PNG's
// text chunks, its EXIF chunk and the name of its colour profile, and a
// BMP's embedded profile. Every size and offset is checked against the
// data; damaged parts read as absent.
#pragma once

#include <QByteArray>
#include <QStringList>

#include "QelImageMetadata.h"

// --- JPEG ------------------------------------------------------------------------

// The JPEG's comment segments, each a "Comment" text.
TQelImageTexts QelReadJpegComments(const QByteArray& Jpeg);
// The extended XMP that the JPEG's extension segments carry for Guid (32 hex
// digits), put together; empty when a piece is missing or they disagree.
QByteArray QelReadJpegXmpExtension(const QByteArray& Jpeg, const QByteArray& Guid);
// Puts Extension into extension segments under Guid right after the JPEG's
// XMP segment (none when the JPEG has no XMP segment), and every "Comment"
// of Texts into a comment segment after the application segments. A comment
// too long for a segment is left out and named in LeftOut.
void QelAddJpegSegments(QByteArray& Jpeg, const QByteArray& Guid, const QByteArray& Extension,
                        const TQelImageTexts& Texts, QStringList& LeftOut);

// --- PNG -------------------------------------------------------------------------

// The PNG's tEXt, zTXt and iTXt chunks, except those that carry EXIF, IPTC
// or XMP.
TQelImageTexts QelReadPngTexts(const QByteArray& Png);
// Gives the PNG's colour profile chunk the name ProfileName, and adds an
// eXIf chunk with Exif (a TIFF structure) when it is not empty and a text
// chunk for each of Texts, before the image data. A text whose keyword a
// PNG cannot carry is named in LeftOut.
void QelAddPngChunks(QByteArray& Png, const QByteArray& ProfileName, const QByteArray& Exif,
                     const TQelImageTexts& Texts, QStringList& LeftOut);
// The name a PNG gives a colour profile: its own description where that is
// a valid PNG keyword (1 to 79 Latin-1 characters, printable, no leading,
// trailing or double spaces), else "ICC profile".
QByteArray QelIccProfileName(const QByteArray& Profile);

// --- BMP -------------------------------------------------------------------------

// The colour profile a BMP with a version 5 header embeds; empty without one.
QByteArray QelReadBmpProfile(const QByteArray& Bmp);
