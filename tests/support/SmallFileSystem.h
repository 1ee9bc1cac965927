// Saving onto a full disk, for real: a test runs itself once more in a child
// process with a mount namespace of its own, where a small file system lies
// over a folder and can be filled. The tests run as root in CI; elsewhere
// they are skipped with the reason.
#pragma once

#include <gtest/gtest.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include "ChildProcess.h"

// In the parent: runs the current test again in the child, takes over its
// result (passed, failed with its output, or skipped) and answers false;
// the test returns at once. In the child: mounts a 256 KiB file system over
// Folder (which must exist) and answers true; the test's body then runs
// there. Where no file system may be mounted, the test is skipped.
inline bool QelOnSmallFileSystem(const QString& Folder) {
    static const char* const Variable = "VISARA_SMALL_FILE_SYSTEM";
    auto skip = [](const QString& why) { [&] { GTEST_SKIP() << why.toStdString(); }(); };
    if (qEnvironmentVariableIsSet(Variable)) {
        if (::mount("tmpfs", Folder.toLocal8Bit().constData(), "tmpfs", MS_NOSUID | MS_NODEV, "size=256k") != 0) {
            skip(QStringLiteral("cannot mount a small file system: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
            return false;
        }
        return true;
    }
    const QString unshare = QStandardPaths::findExecutable(QStringLiteral("unshare"));
    if (unshare.isEmpty()) {
        skip(QStringLiteral("unshare is not installed"));
        return false;
    }
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(Variable), QStringLiteral("1"));
    environment.remove(QStringLiteral("GTEST_OUTPUT"));
    TChildProcess child;
    child.SetEnvironment(environment);
    child.SetOutput(TChildProcess::Merged);
    child.Start(unshare, {QStringLiteral("--mount"), QStringLiteral("--propagation"), QStringLiteral("private"),
                          QCoreApplication::applicationFilePath(),
                          QStringLiteral("--gtest_filter=%1.%2")
                              .arg(QString::fromUtf8(test->test_suite_name()), QString::fromUtf8(test->name()))});
    if (!child.WaitForFinished(120000)) {
        ADD_FAILURE() << "the child test did not finish";
        return false;
    }
    const QByteArray output = child.Output();
    if (output.startsWith("unshare:")) {
        skip(QStringLiteral("no mount namespace: %1").arg(QString::fromLocal8Bit(output.trimmed())));
    } else if (!child.Succeeded()) {
        ADD_FAILURE() << "in the child:\n" << output.toStdString();
    } else if (output.contains("[  SKIPPED ]")) {
        skip(QString::fromLocal8Bit(output));
    } else if (!output.contains("[  PASSED  ] 1 test")) {
        ADD_FAILURE() << "the child ran no test:\n" << output.toStdString();
    }
    return false;
}

// Writes a file into Folder until its file system has no byte left; then,
// for a write that is to fail partway, gives Room bytes back.
inline void QelFillFileSystem(const QString& Folder, off_t Room = 0) {
    const QByteArray name = (Folder + QStringLiteral("/filler")).toLocal8Bit();
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0) << std::strerror(errno);
    const QByteArray chunk(4096, 'x');
    int error = 0;
    for (;;) {
        const ssize_t n = ::write(fd, chunk.constData(), size_t(chunk.size()));
        if (n < 0) {
            error = errno;
            break;
        }
    }
    if (error == ENOSPC && Room > 0) {
        const off_t size = ::lseek(fd, 0, SEEK_END);
        if (::ftruncate(fd, size > Room ? size - Room : 0) != 0) error = errno;
    }
    ::close(fd);
    ASSERT_EQ(error, ENOSPC) << std::strerror(error);
}

// Makes the small file system over Folder read-only, or writable again.
inline void QelSetFileSystemReadOnly(const QString& Folder, bool ReadOnly) {
    const unsigned long flags = MS_REMOUNT | MS_NOSUID | MS_NODEV | (ReadOnly ? MS_RDONLY : 0);
    ASSERT_EQ(::mount(nullptr, Folder.toLocal8Bit().constData(), nullptr, flags, nullptr), 0) << std::strerror(errno);
}
