// The program's own lossless JPEG session over libjpeg-turbo. Its stages
// have units of their own: reading the file (JlvxRead), comparing the
// picture with it by MCU (JlvxCompare), transforming its blocks
// (JlvxTransform), merging the changed MCUs (JlvxMerge) and writing
// (JlvxWrite), all over libjpeg under a guard (JlvxJpeg).
//
// The session keeps the file's bytes and a map from the document's pixel
// coordinates to the file's, updated by every rotation, flip and region. A
// save writes exactly the pixels it is handed. Where the document's block
// grid still coincides with the file's (after a perfect rotation or flip and
// an origin on the grid), every block whose pixels equal the file's decoded
// pixels keeps its quantised coefficients bit for bit; the other blocks are
// encoded from the pixels with the file's own quantisation tables and
// sampling. Where the grid has shifted, or the region reaches past the file
// (an enlarged picture), every block is encoded anew. When the
// caller names the rectangles it changed, only the blocks they meet are
// compared, each against a decode of just the file's blocks around it; the
// file written is the same as after comparing every block. The work follows
// what changed: the file's blocks are read once, a turn or flip moves them
// in memory, only the changed MCUs are encoded into them, and a save of the
// whole file with no MCU changed and no turn writes the file's own bytes
// without reading its blocks at all. The file's
// markers go along; when the pixels are no longer the file's, what their
// EXIF states is changed in place, every other byte kept: after a turn or
// flip the orientation (EXIF and XMP) becomes 1, the pixel dimensions are
// those written, and the thumbnail is removed. A colour profile for other
// inks stays behind when a grey file becomes a colour one.
//
// A file whose quantisation tables no encoder can divide by (a 0 entry) is
// refused at Open, so that it goes through the normal decoder and encoder.
//
// Open reads the file and checks its headers only. The first Decode reads
// all of its entropy-coded data, with every libjpeg warning taken as an
// error; a Save that comes before any decode reads it first. A file whose
// data turns out damaged either way closes the session.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

#include "Jolvex.h"
#include "QelGeometry.h"
#include "QelLargeMemory.h"

class TJlvxSession final : public IJLVX {
public:
    // Files and images beyond these are refused at Open.
    static constexpr int64_t MaxFileSize = int64_t(512) * 1024 * 1024;
    static constexpr int64_t MaxPixels = int64_t(1) << 28;

    TJlvxSession();
    ~TJlvxSession() override;
    TJlvxSession(const TJlvxSession&) = delete;
    TJlvxSession& operator=(const TJlvxSession&) = delete;

    bool Open(const QString& FileName) override;
    bool IsOpen() const override { return FOpen; }
    int32_t GetWidth() const override { return FOpen ? FWidth : 0; }
    int32_t GetHeight() const override { return FOpen ? FHeight : 0; }
    int32_t GetBlockWidth() const override;
    int32_t GetBlockHeight() const override;
    bool Decode(uint8_t* Pixels, int32_t Stride, int32_t Flags) override;
    bool Save(const QString& FileName, const TJlvxSaveOptions& Options) override;
    bool SetRegion(int32_t Left, int32_t Top, int32_t Right, int32_t Bottom) override;
    bool FlipHorizontal() override;
    bool FlipVertical() override;
    bool RotateLeft() override;
    bool RotateRight() override;
    void Close() override;
    uint32_t GetBlockSizes() const override;

    // Empty after a success.
    QString LastError() const override { return FLastError; }

    // Of the last successful Save: the MCUs encoded from pixels, and all
    // MCUs written (the difference kept their coefficients).
    int32_t LastEncodedMCUs() const { return FLastEncodedMCUs; }
    int32_t LastTotalMCUs() const { return FLastTotalMCUs; }

    // Document (x, y) -> file (Ax*x + Bx*y + Cx, Ay*x + By*y + Cy).
    struct TMap {
        int32_t Ax = 1, Bx = 0, Ay = 0, By = 1;
        int64_t Cx = 0, Cy = 0;
    };

private:
    bool Fail(const QString& Text);
    // Closes the session over a file whose data turned out damaged.
    bool Damaged(const QString& Reason);
    // Makes a region left by SetRegion the session's image.
    void CommitRegion();
    // The document's old coordinates from its new ones, as a map.
    void Apply(const TMap& NewToOld, int32_t NewWidth, int32_t NewHeight);
    bool Transposed() const { return FMap.Ax == 0; }
    // Decodes the file as it is; the first failure to read its data closes
    // the session.
    bool DecodeFile(uint8_t* Rows, int32_t Stride);
    bool DecodeSource(std::unique_ptr<uint8_t[], TQelLargeDeleter>& Rows);
    // Encodes the region and hands the file's bytes to Store, which writes
    // them, with whether every MCU kept the file's pixels.
    bool Encode(const TQelRect& Region, const TJlvxSaveOptions& Options,
                const std::function<bool(const QByteArray&, bool)>& Store);

    QByteArray FSource;
    int32_t FSourceWidth;
    int32_t FSourceHeight;
    int32_t FSourceBlockWidth;
    int32_t FSourceBlockHeight;
    bool FSourceGray;
    // Every block of the file has been read without a fault.
    bool FDataChecked;
    QString FFileName;
    TMap FMap;
    int32_t FWidth;
    int32_t FHeight;
    bool FHasRegion;
    TQelRect FRegion;
    bool FOpen;
    QString FLastError;
    int32_t FLastEncodedMCUs;
    int32_t FLastTotalMCUs;
};
