#include "QelAtomicWrite.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString CannotWrite(const QString& FileName, const QString& Why) {
    return QStringLiteral("Cannot write \"%1\": %2").arg(FileName, Why);
}

QString SystemError(int Error) { return QString::fromLocal8Bit(std::strerror(Error)); }

QByteArray HandleName(int Handle) { return "/proc/self/fd/" + QByteArray::number(Handle); }

// A name no file has yet, beside FileName.
QByteArray TemporaryName(const QString& FileName) {
    const QFileInfo target(FileName);
    return QFile::encodeName(target.absolutePath() + QStringLiteral("/.") + target.fileName() + QLatin1Char('.') +
                             QString::number(QRandomGenerator::global()->generate(), 36) + QStringLiteral(".tmp"));
}

}  // namespace

bool QelWriteFileAtomically(const QString& FileName, const QByteArray& Data, QString& Error) {
    TQelAtomicReplacement file(FileName);
    return file.Begin(Error) && file.Write(Data, Error) && file.Commit(Error);
}

TQelAtomicReplacement::TQelAtomicReplacement(const QString& FileName)
    : FFileName(FileName), FHandle(-1), FWriterName(), FTemporary() {
    // Like a save, a link is followed: the file it names is replaced.
    const QFileInfo info(FileName);
    if (info.isSymLink()) FFileName = info.symLinkTarget();
}

TQelAtomicReplacement::~TQelAtomicReplacement() { Cancel(); }

bool TQelAtomicReplacement::Fail(int Error, QString& Text) {
    Cancel();
    Text = CannotWrite(FFileName, SystemError(Error));
    return false;
}

bool TQelAtomicReplacement::Begin(QString& Error) {
    Error.clear();
    Cancel();
    if (QFileInfo(FFileName).isDir()) {
        Error = CannotWrite(FFileName, QStringLiteral("it is a folder."));
        return false;
    }
    const QByteArray target = QFile::encodeName(FFileName);
    struct stat old {};
    const bool replacing = ::stat(target.constData(), &old) == 0;
    // A file the user may not write is not replaced behind his back; a
    // read-only file system says so here too.
    if (replacing && ::access(target.constData(), W_OK) != 0) return Fail(errno, Error);
    // 0666 under the umask: what a new file would get.
    const QByteArray folder = QFile::encodeName(QFileInfo(FFileName).absolutePath());
    FHandle = ::open(folder.constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (FHandle >= 0 && ::access(HandleName(FHandle).constData(), F_OK) != 0) {
        // Without /proc the unnamed file could be neither named nor reopened.
        ::close(FHandle);
        FHandle = -1;
        errno = EOPNOTSUPP;
    }
    if (FHandle < 0) {
        // Only a file system (or kernel) without unnamed files gets a named one.
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return Fail(errno, Error);
        for (int attempt = 0; attempt < 100 && FHandle < 0; ++attempt) {
            const QByteArray name = TemporaryName(FFileName);
            FHandle = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (FHandle >= 0) FTemporary = QFile::decodeName(name);
            else if (errno != EEXIST) break;
        }
        if (FHandle < 0) return Fail(errno, Error);
    }
    if (replacing && ::fchmod(FHandle, old.st_mode & 07777) != 0) return Fail(errno, Error);
    FWriterName = FTemporary.isEmpty() ? QFile::decodeName(HandleName(FHandle)) : FTemporary;
    return true;
}

bool TQelAtomicReplacement::Write(const QByteArray& Data, QString& Error) {
    Error.clear();
    if (FHandle < 0) {
        Error = CannotWrite(FFileName, QStringLiteral("nothing was written."));
        return false;
    }
    // Every call that takes fewer bytes is asked again, so that a disk that
    // fills partway reports its reason rather than a short count.
    const char* bytes = Data.constData();
    for (qsizetype left = Data.size(); left > 0;) {
        const ssize_t n = ::write(FHandle, bytes, size_t(left));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return Fail(n < 0 ? errno : ENOSPC, Error);
        bytes += n;
        left -= n;
    }
    return true;
}

bool TQelAtomicReplacement::Commit(QString& Error) {
    Error.clear();
    if (FHandle < 0) {
        Error = CannotWrite(FFileName, QStringLiteral("nothing was written."));
        return false;
    }
    if (::fsync(FHandle) != 0) return Fail(errno, Error);
    // An unnamed file takes a name beside the old one and then its place: a
    // link cannot replace a file.
    for (int attempt = 0; attempt < 100 && FTemporary.isEmpty(); ++attempt) {
        const QByteArray name = TemporaryName(FFileName);
        if (::linkat(AT_FDCWD, HandleName(FHandle).constData(), AT_FDCWD, name.constData(), AT_SYMLINK_FOLLOW) == 0)
            FTemporary = QFile::decodeName(name);
        else if (errno != EEXIST) return Fail(errno, Error);
    }
    if (FTemporary.isEmpty()) return Fail(EEXIST, Error);
    const int closed = ::close(FHandle);
    FHandle = -1;
    if (closed != 0) return Fail(errno, Error);
    if (std::rename(QFile::encodeName(FTemporary).constData(), QFile::encodeName(FFileName).constData()) != 0)
        return Fail(errno, Error);
    FTemporary.clear();
    FWriterName.clear();
    return true;
}

void TQelAtomicReplacement::Cancel() {
    if (FHandle >= 0) ::close(FHandle);
    FHandle = -1;
    if (!FTemporary.isEmpty()) ::unlink(QFile::encodeName(FTemporary).constData());
    FTemporary.clear();
    FWriterName.clear();
}
