// The lossless JPEG session interface and its binding: the document opens a
// JPEG through a session, keeps the session in step with its rotations,
// flips and crops, and saves through it so that untouched blocks keep their
// exact data. Without a session factory every JPEG goes through the normal
// decoder and encoder.
#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "QelGeometry.h"

// Result codes of the factory.
constexpr int32_t JLVX_S_OK = 0;
constexpr int32_t JLVX_E_FAIL = int32_t(0x80004005u);

// What Save is given. The eight leading values are fixed by the caller
// (0, 100, 0, 0, -1, -1, -1, 2); BlockSize is the larger block size of the
// session. Pixels points at the region's top-left pixel in the caller's
// 24-bit B, G, R rows, Stride is those rows' stride in bytes. The pixel
// address is a real pointer, never squeezed into a 32-bit field.
//
// Changed, when given, lists rectangles of the session's current image
// (the coordinates SetRegion takes) outside which the caller vouches that
// its pixels are still those the session decoded: only blocks that meet
// them are compared with the file, the others are kept unread. Without it
// every block is compared. The file written is the same either way.
struct TJlvxSaveOptions {
    int32_t Fixed[8] = {0, 100, 0, 0, -1, -1, -1, 2};
    int32_t BlockSize = 0;
    const uint8_t* Pixels = nullptr;
    int32_t Stride = 0;
    const std::vector<TQelRect>* Changed = nullptr;
};

// One JPEG file held open for lossless rotation, flipping, cropping and
// saving. Every call on a session without an open file does nothing and
// answers false or 0.
class IJLVX {
public:
    virtual ~IJLVX() = default;

    // True when the file's headers show a JPEG that the session can keep;
    // its image data is read by the Decode that follows.
    virtual bool Open(const QString& FileName) = 0;
    virtual bool IsOpen() const = 0;
    // Size of the session's current image in pixels.
    virtual int32_t GetWidth() const = 0;
    virtual int32_t GetHeight() const = 0;
    // The block grid (MCU size) of the current image in pixels.
    virtual int32_t GetBlockWidth() const = 0;
    virtual int32_t GetBlockHeight() const = 0;
    // Fills GetWidth x GetHeight pixels of 24-bit B, G, R rows. False, and
    // the file closed, when its data is damaged.
    virtual bool Decode(uint8_t* Pixels, int32_t Stride, int32_t Flags) = 0;
    // Writes the region last set by SetRegion (else the whole image), with
    // the pixels the caller hands over: the file shows exactly those pixels.
    virtual bool Save(const QString& FileName, const TJlvxSaveOptions& Options) = 0;
    // The part of the current image that Save writes. When anything but
    // Save follows, the region becomes the session's image (a crop or a
    // resize of the document).
    virtual bool SetRegion(int32_t Left, int32_t Top, int32_t Right, int32_t Bottom) = 0;
    virtual bool FlipHorizontal() = 0;
    virtual bool FlipVertical() = 0;
    // A quarter turn counter-clockwise, and clockwise.
    virtual bool RotateLeft() = 0;
    virtual bool RotateRight() = 0;
    virtual void Close() = 0;
    // Block width in the low 16 bits, block height in the high 16 bits.
    virtual uint32_t GetBlockSizes() const = 0;
    // Why the last Open, Decode or Save failed, in English, for the user
    // (a full disk, a damaged file); empty when the session does not say.
    virtual QString LastError() const { return QString(); }
};

using TJolvexFactory = std::function<int32_t(std::shared_ptr<IJLVX>& Session)>;

// Binds the session factory once per process; an environment variable
// VISARA_NO_LOSSLESS_JPEG set to anything but "0" leaves it unset. Runs at
// program start; calling it again re-reads the variable.
void InitJolvex();
// Unsets the factory.
void FinalizeJolvex();
// Session := nullptr first; JLVX_E_FAIL without a factory, else the
// factory's result.
int32_t CreateJolvexObject(std::shared_ptr<IJLVX>& Session);
// Replaces the factory (an empty one unsets it); returns the previous one.
TJolvexFactory SetJolvexFactory(TJolvexFactory Factory);
