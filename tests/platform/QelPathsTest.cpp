#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include "QelPaths.h"

TEST(QelPaths, ProgramFolderFollowsTheEnvironmentOverride) {
    const QByteArray saved = qgetenv("VISARA_PROGRAM_DIR");
    qunsetenv("VISARA_PROGRAM_DIR");
    EXPECT_EQ(QelProgramDir(), QCoreApplication::applicationDirPath());

    QTemporaryDir dir;
    qputenv("VISARA_PROGRAM_DIR", (dir.path() + "/sub/..//").toLocal8Bit());
    EXPECT_EQ(QelProgramDir(), QDir(dir.path()).absolutePath());
    EXPECT_TRUE(QelProgramFilePath().startsWith(QelProgramDir() + "/"));

    if (saved.isEmpty()) qunsetenv("VISARA_PROGRAM_DIR");
    else qputenv("VISARA_PROGRAM_DIR", saved);
}
