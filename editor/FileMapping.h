// A file with one mapping of its whole length, and the exchange file through
// which the filter plug-in hands an image to the program and takes it back.
// Only Qt Core and the pixel-row description are used here, so the plug-in
// library can link this unit without the GUI.
#pragma once

#include <QFile>
#include <QString>

#include <cstdint>
#include <functional>

#include "QelBitmap.h"

class TFileMapping {
public:
    enum class TAccess {
        // Reading only; a missing file stays missing.
        Read,
        // Reading and writing; a missing file is created empty.
        ReadWrite,
    };

    explicit TFileMapping(const QString& FileName, TAccess Access = TAccess::ReadWrite);
    ~TFileMapping();
    TFileMapping(const TFileMapping&) = delete;
    TFileMapping& operator=(const TFileMapping&) = delete;

    bool IsOpen() const { return FFile.isOpen(); }
    // The file's current length in bytes; -1 when it is not open.
    int64_t Size() const;
    // Maps ByteCount bytes from Offset (0 = up to the end) and returns their
    // address; nullptr when the file is not open, is empty or the range lies
    // outside it. Views are writable when the file was opened ReadWrite.
    uint8_t* MapView(int64_t Offset, int64_t ByteCount);
    void UnmapView(uint8_t* Address);
    // Cuts or extends the file (extended bytes are zero). Refused while a
    // view is mapped, as the view would then reach past the end; a file that
    // cannot grow keeps its old length. False on any failure.
    bool SetSize(int64_t NewSize);

private:
    QFile FFile;
    int32_t FViews;
};

// --- The exchange file ----------------------------------------------------
//
// "PSPF", then eight little-endian 32-bit integers (HeaderSize, ImageMode,
// Left, Top, Width, Height, RowBytes, Planes), then the rows top-down. A
// pixel is Planes bytes: red, green, blue and, with 4 planes, one ignored
// byte. The program reads and writes the rows at offset 36.

constexpr int32_t ExchangeHeaderSize = 32;
constexpr int32_t ExchangeImageModeRGB = 3;
constexpr int32_t ExchangePixelOffset = 36;
// Larger images are refused; the same limit as images from other files.
constexpr int64_t ExchangeMaxPixels = int64_t(1) << 28;

struct TExchangeHeader {
    int32_t HeaderSize = ExchangeHeaderSize;
    int32_t ImageMode = ExchangeImageModeRGB;
    int32_t Left = 0;
    int32_t Top = 0;
    int32_t Width = 0;
    int32_t Height = 0;
    int32_t RowBytes = 0;
    int32_t Planes = 3;
};

// True when Size bytes at Bytes start with "PSPF" and image mode 3. Header
// gets the fields that the bytes hold (those beyond Size stay 0).
bool IsExchangeFile(const uint8_t* Bytes, int64_t Size, TExchangeHeader& Header);
// Whether a recognised file of FileSize bytes holds the image its header
// describes; Error says why not.
bool CheckExchangeHeader(const TExchangeHeader& Header, int64_t FileSize, QString& Error);
// The 36 bytes of magic and header.
void WriteExchangeHeader(const TExchangeHeader& Header, uint8_t* Bytes);
// The row stride of the program's 24-bit rows: (24 * Width + 31) div 32 * 4.
int64_t ExchangeRowBytes(int32_t Width);

enum class TExchangeReadResult {
    // Missing, empty, not "PSPF" or not mode 3: other readers may try.
    NotExchange,
    // An exchange file whose header does not fit its length; nothing read.
    Damaged,
    Read,
};

// Reads an exchange file. Once the header has been checked, Allocate is
// asked for Width x Height 24-bit rows (B, G, R) and the image is copied
// into them; Allocate answers nullptr when it cannot have them (Damaged with
// Error then). The file is opened for reading only and never changed.
TExchangeReadResult ReadExchangeImage(const QString& FileName,
                                      const std::function<TQelPixels*(int32_t Width, int32_t Height)>& Allocate,
                                      QString& Error);

// Writes Image (24-bit rows) into the file, which becomes exactly
// 36 + RowBytes x Height long with Planes 3; the padding bytes of each row
// keep what the file held there (zero where it grew). The file is created
// when missing. False, with Error, when it cannot be sized or mapped.
bool WriteExchangeImage(const QString& FileName, const TQelPixels& Image, QString& Error);
