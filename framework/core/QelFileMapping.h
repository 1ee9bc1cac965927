// A file with read/write mappings of its length, and the layout of the
// exchange file through which the filter plug-in hands an image to the
// program and takes it back. Plain C++ and POSIX only: the plug-in library
// compiles this unit too and must not pull in the program or Qt.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class TQelFileMapping {
public:
    enum class TAccess {
        // Reading only; a missing file stays missing.
        Read,
        // Reading and writing; a missing file is created empty (mode 0600).
        ReadWrite,
    };

    // FileName is UTF-8. Only regular files open: a folder, pipe or device
    // is never mapped (and opening a pipe would block).
    explicit TQelFileMapping(const std::string& FileName, TAccess Access = TAccess::ReadWrite);
    ~TQelFileMapping();
    TQelFileMapping(const TQelFileMapping&) = delete;
    TQelFileMapping& operator=(const TQelFileMapping&) = delete;

    bool IsOpen() const { return FHandle >= 0; }
    // The file's current length in bytes; -1 when it is not open.
    int64_t Size() const;
    // Maps ByteCount bytes from Offset (0 = up to the end) and returns their
    // address; nullptr when the file is not open, is empty or the range lies
    // outside it. Views are writable when the file was opened ReadWrite.
    uint8_t* MapView(int64_t Offset, int64_t ByteCount);
    void UnmapView(uint8_t* Address);
    // Cuts or extends the file (extended bytes are zero). Refused while a
    // view is mapped, as the view would then reach past the end. Growing
    // reserves the blocks, so a full disk fails here rather than faulting a
    // later write through a view; a file that cannot grow keeps its old
    // length. False on any failure.
    bool SetSize(int64_t NewSize);

private:
    struct TView {
        uint8_t* Address;  // what MapView answered
        void* Base;        // page-aligned start of the mapping
        size_t Length;
    };

    int FHandle;
    bool FWritable;
    std::vector<TView> FViews;
};

// --- The exchange file ----------------------------------------------------
//
// "PSPF", then eight little-endian 32-bit integers (HeaderSize, ImageMode,
// Left, Top, Width, Height, RowBytes, Planes), then the rows top-down.
// HeaderSize counts from offset 4, so the rows start at 4 + HeaderSize; the
// program always writes 32 and reads the rows at offset 36. A pixel is
// Planes bytes: red, green, blue and, with 4 planes, one more byte.

constexpr int32_t ExchangeHeaderSize = 32;
constexpr int32_t ExchangeImageModeRGB = 3;
constexpr int32_t ExchangePixelOffset = 36;

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

// Whether Size bytes at Bytes start with the magic "PSPF" (case-sensitive).
bool HasExchangeMagic(const uint8_t* Bytes, int64_t Size);
// True when Size bytes at Bytes start with "PSPF" and image mode 3. Header
// gets the fields that the bytes hold (those beyond Size stay 0).
bool IsExchangeFile(const uint8_t* Bytes, int64_t Size, TExchangeHeader& Header);
// The eight header fields from the 32 bytes at Bytes (just after the magic).
TExchangeHeader ReadExchangeHeader(const uint8_t* Bytes);
// The 36 bytes of magic and header.
void WriteExchangeHeader(const TExchangeHeader& Header, uint8_t* Bytes);
// The row stride of the program's 24-bit rows: (24 * Width + 31) div 32 * 4.
int64_t ExchangeRowBytes(int32_t Width);

enum class TExchangeRowsFault {
    None,
    NegativeSize,  // Width or Height below 0
    FewPlanes,     // fewer than 3 bytes per pixel
    NarrowRows,    // RowBytes below Width x Planes
    Truncated,     // the rows run past the end of the file
};

// Whether Height rows of RowBytes bytes from PixelOffset lie inside a file
// of FileSize bytes and each holds Width pixels of Planes bytes. Computed in
// 64 bits, so no header value can wrap the check.
TExchangeRowsFault CheckExchangeRows(const TExchangeHeader& Header, int64_t FileSize, int64_t PixelOffset);
