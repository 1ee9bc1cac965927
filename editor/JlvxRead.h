// Reading a JPEG file for the lossless session: its headers and tables, its
// pixels through TurboJPEG, and its markers and quantised blocks through
// libjpeg, each once.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

#include "JlvxJpeg.h"

// TurboJPEG's flags for every call: warnings fail, and absurd scan counts too.
extern const int JlvxTurboFlags;

// The file's size, TurboJPEG's name for its sampling (TJSAMP_...) and its
// colour space (TJCS_...), from its headers.
bool JlvxReadHeader(const QByteArray& Source, int& Width, int& Height, int& Subsampling, int& ColorSpace,
                    QString& Error);

// A quantisation table that an encoder can divide by: every entry from 1 to
// 255, as a baseline encoder takes them. A 0, which decoders accept, would
// make the encoder divide by zero.
bool JlvxEncoderCanUse(const JQUANT_TBL* Table);

// False, with the reason, when a quantisation table that the file's header
// gives a component is one that no encoder can take: edited blocks could not
// be encoded with it, so such a file is left to the normal decoder and
// encoder. Tables defined only later, between scans, are checked where
// pixels are encoded. Gives the file's MCU in pixels as its sampling factors
// make it, which is what its block arrays follow: TurboJPEG's name for the
// sampling implies another size where the factors are written unusually
// (2 x 2 luma with 1 x 2 chroma reads as 4:2:2, yet its MCUs are 16 x 16).
bool JlvxHeaderTablesEncodable(const QByteArray& Source, int32_t& McuWidth, int32_t& McuHeight, QString& Error);

// Reads every coefficient of the file once, with warnings as errors: the
// check a save makes when no decode has read the file's data before it.
bool JlvxCheckEntropyData(const QByteArray& Source, QString& Error);

// Decodes the whole file into 24-bit B, G, R rows.
bool JlvxDecodePixels(const QByteArray& Source, uint8_t* Rows, int32_t Width, int32_t Stride, int32_t Height,
                      QString& Error);

// The file's markers and every quantised block, read once for a save. H and
// V give each component's blocks per MCU (1 x 1 for a single component,
// whatever its sampling factors say). Every later libjpeg call on File runs
// under a guard of Error.
struct TJlvxFileBlocks {
    TJlvxJpegError Error;
    TJlvxDecompress File;
    jvirt_barray_ptr* Arrays = nullptr;
    int Components = 0;
    int32_t H[MAX_COMPONENTS] = {};
    int32_t V[MAX_COMPONENTS] = {};

    TJlvxFileBlocks() { JlvxInitError(Error); }
    TJlvxFileBlocks(const TJlvxFileBlocks&) = delete;
    TJlvxFileBlocks& operator=(const TJlvxFileBlocks&) = delete;
    bool Read(const QByteArray& Source, QString& Why);
    j_decompress_ptr Info() { return &File.Info; }
    // The file's MCU in pixels, as its sampling factors make it.
    int32_t McuWidth() const;
    int32_t McuHeight() const;
};
