#include "QelPaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

QString QelProgramDir() {
    const QString overridden = qEnvironmentVariable("VISARA_PROGRAM_DIR");
    if (!overridden.isEmpty()) return QDir(overridden).absolutePath();
    return QCoreApplication::applicationDirPath();
}

QString QelProgramFilePath() {
    return QelProgramDir() + QLatin1Char('/') + QFileInfo(QCoreApplication::applicationFilePath()).fileName();
}

QString QelAppDataDir() {
    // Not AppConfigLocation: that one adds organisation and application names.
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
}
