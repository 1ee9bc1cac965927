// Writing a lossless save: kept blocks with the file's tables and markers
// and optimal Huffman tables, counted on several threads; or, where no
// block can be kept, the pixels encoded whole with the file's tables,
// sampling and markers.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

#include "JlvxJpeg.h"

// The file's comments and application markers (metadata, colour profile)
// go along; the JFIF and Adobe markers are written by libjpeg itself. For
// pixels written as colour, a profile for other inks (a grey one) stays
// behind: viewers would turn the colour back into its inks.
void JlvxCopyMarkers(j_decompress_ptr From, j_compress_ptr To, bool Color = false);

// Refuses to encode pixels with a table that an encoder cannot divide by.
// Open turns such files away already; this catches a table defined between
// scans, which a header read does not see.
void JlvxCheckEncoderTables(j_compress_ptr C);

// Writes Image, a W x H picture, through Out, whose tables and sampling the
// caller has set from File, with File's markers and, where they can be made,
// optimal Huffman tables. SizeHint is about the file's size. Runs under the
// guard of File and Out.
void JlvxWriteBlocks(j_decompress_ptr File, TJlvxBlockImage& Image, int32_t W, int32_t H, size_t SizeHint,
                     TJlvxCompress& Out);

// Encodes every block of W x H pixels with the source's quantisation tables
// and sampling (transposed when the image is), keeping its markers. Color
// makes a grayscale source's output YCbCr, so that coloured edits survive.
bool JlvxEncodePixels(const QByteArray& Source, const TJlvxPixelRows& Pixels, int32_t W, int32_t H, bool Transposed,
                      bool Color, TJlvxCompress& Out, QString& Error);

// Starts pixel input of W x H rows of 24-bit B, G, R into C.
void JlvxStartPixelInput(j_compress_ptr C, JDIMENSION Width, JDIMENSION Height);
// Writes C's rows from the caller's pixels, from (X0, Y0) on.
void JlvxWriteRows(j_compress_ptr C, const TJlvxPixelRows& Pixels, int32_t X0, int32_t Y0);
