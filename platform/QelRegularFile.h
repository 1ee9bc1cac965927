// The one way the program reads a whole file it did not write itself: a
// language file, a tutorial script, the settings file, an image. Only a
// regular file is read: a FIFO, a device or a folder named like one is
// never opened for reading in a way that could block, and is refused on the
// open handle, so nothing can be swapped in between the check and the read.
// The size is checked before a byte is read or a buffer allocated.
#pragma once

#include <QByteArray>
#include <QString>

enum class TQelReadFault {
    None,
    NotFound,     // no such file (or a folder on the way is missing)
    NotRegular,   // a folder, FIFO, device or socket
    TooLarge,     // more than the limit
    CannotOpen,   // permissions and the like
    CannotRead,   // an error while reading
    OutOfMemory,  // the buffer could not be had
};

// What to do with a file larger than the limit.
enum class TQelOversize {
    Refuse,     // TooLarge, no bytes
    ReadPrefix  // the first MaxBytes bytes, as if the file ended there
};

struct TQelFileContents {
    TQelReadFault Fault = TQelReadFault::None;
    QByteArray Bytes;     // the file's bytes when Fault is None
    QString SystemError;  // the system's words for CannotOpen and CannotRead
    bool Ok() const { return Fault == TQelReadFault::None; }
};

// Reads the regular file FileName of at most MaxBytes bytes (MaxBytes >= 0).
// A file that grows while it is read is held to the same limit.
TQelFileContents QelReadRegularFile(const QString& FileName, qint64 MaxBytes,
                                    TQelOversize Oversize = TQelOversize::Refuse);
