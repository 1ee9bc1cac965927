#include "QelRegularFile.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

namespace {

// Growth step for a file that turns out longer than its size said.
constexpr qint64 GrowthStep = 64 * 1024;

class TFileHandle {
public:
    explicit TFileHandle(int NewHandle) : Handle(NewHandle) {}
    ~TFileHandle() {
        if (Handle >= 0) ::close(Handle);
    }
    TFileHandle(const TFileHandle&) = delete;
    TFileHandle& operator=(const TFileHandle&) = delete;
    const int Handle;
};

TQelFileContents Failed(TQelReadFault Fault, int Error = 0) {
    TQelFileContents result;
    result.Fault = Fault;
    if (Error != 0) result.SystemError = QString::fromLocal8Bit(std::strerror(Error));
    return result;
}

}  // namespace

TQelFileContents QelReadRegularFile(const QString& FileName, qint64 MaxBytes, TQelOversize Oversize) {
    MaxBytes = std::max<qint64>(MaxBytes, 0);
    // O_NONBLOCK: opening a FIFO without a writer would otherwise wait for one.
    const TFileHandle file(::open(QFile::encodeName(FileName).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (file.Handle < 0) {
        const int error = errno;
        return Failed(error == ENOENT || error == ENOTDIR ? TQelReadFault::NotFound : TQelReadFault::CannotOpen, error);
    }
    struct stat st {};
    if (::fstat(file.Handle, &st) != 0) return Failed(TQelReadFault::CannotOpen, errno);
    if (!S_ISREG(st.st_mode)) return Failed(TQelReadFault::NotRegular);
    const bool prefix = Oversize == TQelOversize::ReadPrefix;
    if (st.st_size > MaxBytes && !prefix) return Failed(TQelReadFault::TooLarge);

    // One byte past the limit tells a file that grew too large from one that
    // ends right at it.
    const qint64 limit = prefix ? MaxBytes : MaxBytes + 1;
    TQelFileContents result;
    qint64 total = 0;
    try {
        result.Bytes.resize(qsizetype(std::min<qint64>(std::max<qint64>(st.st_size, 0), limit)));
        for (;;) {
            if (total == result.Bytes.size()) {
                if (total >= limit) break;
                result.Bytes.resize(qsizetype(std::min(limit, total + GrowthStep)));
            }
            const ssize_t n = ::read(file.Handle, result.Bytes.data() + total, size_t(result.Bytes.size() - total));
            if (n < 0) {
                if (errno == EINTR) continue;
                return Failed(TQelReadFault::CannotRead, errno);
            }
            if (n == 0) break;
            total += n;
        }
        result.Bytes.resize(qsizetype(total));
    } catch (const std::bad_alloc&) {
        return Failed(TQelReadFault::OutOfMemory);
    }
    if (total > MaxBytes) return Failed(TQelReadFault::TooLarge);
    return result;
}
