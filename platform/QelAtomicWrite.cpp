#include "QelAtomicWrite.h"

#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <cstring>
#include <unistd.h>

bool QelWriteFileAtomically(const QString& FileName, const QByteArray& Data, QString& Error) {
    Error.clear();
    auto fail = [&](const QString& why) {
        Error = QStringLiteral("Cannot write \"%1\": %2").arg(FileName, why);
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
