// Shared by the fuzz targets that need Qt: one offscreen application for the
// whole run, and a private scratch folder in memory for targets that must
// hand their input to a reader as a file.
#pragma once

#include <QApplication>
#include <QByteArray>
#include <QFile>
#include <QString>

#include <cstdint>
#include <cstdlib>
#include <unistd.h>

inline void FuzzStartQt() {
    static int argc = 1;
    static char name[] = "visara-fuzz";
    static char* argv[] = {name, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication* app = new QApplication(argc, argv);
    (void)app;
}

// A path of this process's own in /dev/shm (or /tmp), with Tag for the kind.
inline QString FuzzScratchPath(const char* Tag) {
    const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    return QString::asprintf("%s/visara-fuzz-%d-%s", base, int(getpid()), Tag);
}

inline bool FuzzWriteFile(const QString& Path, const uint8_t* Data, size_t Size) {
    QFile f(Path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    return f.write(reinterpret_cast<const char*>(Data), qint64(Size)) == qint64(Size);
}
