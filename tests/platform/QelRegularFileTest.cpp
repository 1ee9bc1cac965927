#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "QelRegularFile.h"
#include "WatchedFifo.h"

namespace {

void Write(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

}  // namespace

TEST(QelRegularFile, ReadsWholeFilesUpToTheLimitAndNothingLarger) {
    QTemporaryDir dir;
    const QString name = dir.filePath("ten");
    Write(name, "0123456789");
    for (qint64 limit : {10, 1000}) {
        const TQelFileContents c = QelReadRegularFile(name, limit);
        EXPECT_TRUE(c.Ok());
        EXPECT_EQ(c.Bytes, "0123456789");
    }
    TQelFileContents c = QelReadRegularFile(name, 9);
    EXPECT_EQ(c.Fault, TQelReadFault::TooLarge);
    EXPECT_TRUE(c.Bytes.isEmpty());
    c = QelReadRegularFile(name, 4, TQelOversize::ReadPrefix);
    EXPECT_TRUE(c.Ok());
    EXPECT_EQ(c.Bytes, "0123");

    Write(dir.filePath("empty"), QByteArray());
    c = QelReadRegularFile(dir.filePath("empty"), 0);
    EXPECT_TRUE(c.Ok());
    EXPECT_TRUE(c.Bytes.isEmpty());

    // A sparse file of a terabyte is refused before any buffer is made.
    QFile huge(dir.filePath("huge"));
    ASSERT_TRUE(huge.open(QIODevice::WriteOnly));
    if (huge.resize(qint64(1) << 40)) {
        EXPECT_EQ(QelReadRegularFile(huge.fileName(), 1 << 20).Fault, TQelReadFault::TooLarge);
    }
}

TEST(QelRegularFile, FoldersDevicesAndPipesAreRefusedWithoutWaiting) {
    QTemporaryDir dir;
    TWatchedFifo fifo(dir.filePath("pipe"));
    ASSERT_TRUE(fifo.Made);
    EXPECT_EQ(QelReadRegularFile(dir.filePath("pipe"), 100).Fault, TQelReadFault::NotRegular);
    EXPECT_EQ(QelReadRegularFile(dir.path(), 100).Fault, TQelReadFault::NotRegular);
    EXPECT_EQ(QelReadRegularFile("/dev/zero", 100).Fault, TQelReadFault::NotRegular);
    EXPECT_EQ(QelReadRegularFile(dir.filePath("missing"), 100).Fault, TQelReadFault::NotFound);
    EXPECT_EQ(QelReadRegularFile(dir.filePath("missing/below"), 100).Fault, TQelReadFault::NotFound);
    // Through a link the target counts.
    Write(dir.filePath("target"), "x");
    ASSERT_TRUE(QFile::link(dir.filePath("target"), dir.filePath("link")));
    EXPECT_EQ(QelReadRegularFile(dir.filePath("link"), 100).Bytes, "x");
    EXPECT_FALSE(fifo.ReaderBlocked());
}
