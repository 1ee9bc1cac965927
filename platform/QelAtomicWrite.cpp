#include "QelAtomicWrite.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>

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

}  // namespace

bool QelWriteFileAtomically(const QString& FileName, const QByteArray& Data, QString& Error) {
    Error.clear();
    auto fail = [&](const QString& why) {
        Error = CannotWrite(FileName, why);
        return false;
    };
    if (QFileInfo(FileName).isDir()) return fail(QStringLiteral("it is a folder."));
    QSaveFile file(FileName);
    if (!file.open(QIODevice::WriteOnly)) return fail(file.errorString());
    // QSaveFile buffers small writes, and a write that fails inside its
    // commit() (a full disk) still replaces the old file. So the bytes are
    // pushed out and checked here, and only a temporary file that is
    // complete on the disk is committed.
    bool written = file.write(Data) == Data.size() && file.flush() && file.error() == QFileDevice::NoError;
    QString why = written ? QString() : file.errorString();
    if (written && ::fsync(file.handle()) != 0) {
        written = false;
        why = QString::fromLocal8Bit(std::strerror(errno));
    }
    if (!written) {
        file.cancelWriting();
        return fail(why);
    }
    if (!file.commit()) return fail(file.errorString());
    return true;
}

// --- TQelAtomicReplacement -----------------------------------------------------------

TQelAtomicReplacement::TQelAtomicReplacement(const QString& FileName) : FFileName(FileName), FTemporary() {
    // Like a save, a link is followed: the file it names is replaced.
    const QFileInfo info(FileName);
    if (info.isSymLink()) FFileName = info.symLinkTarget();
}

TQelAtomicReplacement::~TQelAtomicReplacement() { Cancel(); }

bool TQelAtomicReplacement::Begin(QString& Error) {
    Error.clear();
    Cancel();
    const QFileInfo target(FFileName);
    if (target.isDir()) {
        Error = CannotWrite(FFileName, QStringLiteral("it is a folder."));
        return false;
    }
    struct stat old {};
    const bool replacing = ::stat(QFile::encodeName(FFileName).constData(), &old) == 0;
    const QString stem = target.absoluteDir().filePath(QLatin1Char('.') + target.fileName() + QLatin1Char('.'));
    int error = EEXIST;
    for (int attempt = 0; attempt < 100 && error == EEXIST; ++attempt) {
        const QString name =
            stem + QString::number(QRandomGenerator::global()->generate(), 36) + QStringLiteral(".tmp");
        // 0666 under the umask: what a new file would get.
        const int fd = ::open(QFile::encodeName(name).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            error = errno;
            continue;
        }
        error = 0;
        if (replacing && ::fchmod(fd, old.st_mode & 07777) != 0) error = errno;
        ::close(fd);
        FTemporary = name;
        if (error != 0) {
            Cancel();
            break;
        }
    }
    if (error != 0) {
        Error = CannotWrite(FFileName, SystemError(error));
        return false;
    }
    return true;
}

bool TQelAtomicReplacement::Commit(QString& Error) {
    Error.clear();
    if (FTemporary.isEmpty()) {
        Error = CannotWrite(FFileName, QStringLiteral("nothing was written."));
        return false;
    }
    const QByteArray temporary = QFile::encodeName(FTemporary);
    int error = 0;
    const int fd = ::open(temporary.constData(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        error = errno;
    } else {
        if (::fsync(fd) != 0) error = errno;
        if (::close(fd) != 0 && error == 0) error = errno;
    }
    if (error == 0 && std::rename(temporary.constData(), QFile::encodeName(FFileName).constData()) != 0) error = errno;
    if (error != 0) {
        Cancel();
        Error = CannotWrite(FFileName, SystemError(error));
        return false;
    }
    FTemporary.clear();
    return true;
}

void TQelAtomicReplacement::Cancel() {
    if (FTemporary.isEmpty()) return;
    ::unlink(QFile::encodeName(FTemporary).constData());
    FTemporary.clear();
}
