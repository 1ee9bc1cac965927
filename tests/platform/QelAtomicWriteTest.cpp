#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "QelAtomicWrite.h"
#include "SmallFileSystem.h"

namespace {

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteAll(const QString& path, const QByteArray& data) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_EQ(f.write(data), data.size());
}

QByteArray Pattern(int size) {
    QByteArray data(size, '\0');
    for (int i = 0; i < size; ++i) data[i] = char(i * 7 + 3);
    return data;
}

}  // namespace

TEST(QelAtomicWriteTest, ReplacesTheContentOrLeavesTheFileAsItWas) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("file.bin"));
    QString error;
    ASSERT_TRUE(QelWriteFileAtomically(path, Pattern(5000), error)) << error.toStdString();
    EXPECT_TRUE(error.isEmpty());
    ASSERT_TRUE(QelWriteFileAtomically(path, "short", error));
    EXPECT_EQ(ReadAll(path), QByteArray("short"));
    ASSERT_TRUE(QelWriteFileAtomically(path, QByteArray(), error));
    EXPECT_TRUE(QFile::exists(path));
    EXPECT_EQ(QFileInfo(path).size(), 0);

    // A folder in the way and a folder that does not exist.
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("folder")));
    EXPECT_FALSE(QelWriteFileAtomically(dir.filePath(QStringLiteral("folder")), "x", error));
    EXPECT_TRUE(error.contains(QStringLiteral("folder")));
    EXPECT_FALSE(QelWriteFileAtomically(dir.filePath(QStringLiteral("missing/file.bin")), "x", error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

TEST(QelAtomicWriteTest, AFullDiskFailsTheWriteAndKeepsTheOldFileByteForByte) {
    QTemporaryDir dir;
    if (!QelOnSmallFileSystem(dir.path())) return;
    const QString path = dir.filePath(QStringLiteral("picture.bmp"));
    const QByteArray old = Pattern(6000);
    WriteAll(path, old);
    QelFillFileSystem(dir.path());
    // A write small enough to stay in the file's buffer until the commit,
    // and one of a page.
    for (const int size : {208, 4096}) {
        QString error;
        EXPECT_FALSE(QelWriteFileAtomically(path, Pattern(size), error)) << size;
        EXPECT_TRUE(error.contains(QStringLiteral("picture.bmp"))) << error.toStdString();
        EXPECT_TRUE(ReadAll(path) == old) << size;
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2) << "a temporary file was left";
    }
}
