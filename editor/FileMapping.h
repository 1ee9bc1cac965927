// The program's side of the exchange file: a mapping opened by a Qt file
// name, the header check with readable reasons, and the reader and writer
// of the image. The mapping and the layout themselves are Qt-free and
// shared with the filter plug-in (QelFileMapping).
#pragma once

#include <QString>

#include <cstdint>
#include <functional>

#include "QelBitmap.h"
#include "QelFileMapping.h"

class TFileMapping : public TQelFileMapping {
public:
    explicit TFileMapping(const QString& FileName, TAccess Access = TAccess::ReadWrite);
};

// Larger images are refused; the same limit as images from other files.
constexpr int64_t ExchangeMaxPixels = int64_t(1) << 28;

// Whether a recognised file of FileSize bytes holds the image its header
// describes, with the rows at offset 36; Error says why not.
bool CheckExchangeHeader(const TExchangeHeader& Header, int64_t FileSize, QString& Error);

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
