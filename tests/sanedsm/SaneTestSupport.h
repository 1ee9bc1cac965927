// Set-up of the tests of the data source manager over SANE: a private SANE
// configuration folder naming only the test backend (so no real, USB or
// network device is ever probed), the library's test controls, and what
// SANE itself reports for a device.
#pragma once

#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <utility>
#include <vector>

#include "ChildProcess.h"

#ifdef SANE_TWAINDSM_DIR

struct SaneDsmControls {
    void (*SetDeviceOption)(const char*, const char*) = nullptr;
    void (*SetReadTimeout)(int) = nullptr;
    int (*WaitForDevices)(int) = nullptr;
    void (*FailNextScan)() = nullptr;
};

constexpr const char* SaneDefaultTestConf =
    "number_of_devices 2\nmode Gray\ndepth 8\nresolution 50.0\ntest-picture \"Solid black\"\n"
    "read-status-code \"Default\"\ntl_x 0.0\ntl_y 0.0\nbr_x 20.0\nbr_y 30.0\n";

// Called before the bridge first starts its helper: the first call's backend
// and lines of the test backend's test.conf hold for the process (the
// bridge keeps the devices it found), and a later call with others fails.
inline bool SaneTestConfig(const QByteArray& testConf = SaneDefaultTestConf, const QByteArray& backend = "test") {
    static QTemporaryDir dir;
    static QByteArray made;
    const QByteArray config = backend + '\n' + testConf;
    if (!made.isNull()) return made == config;
    if (!dir.isValid()) return false;
    QFile dll(dir.filePath("dll.conf"));
    QFile test(dir.filePath("test.conf"));
    if (!dll.open(QIODevice::WriteOnly) || !test.open(QIODevice::WriteOnly)) return false;
    if (dll.write(backend + '\n') != backend.size() + 1 || test.write(testConf) != testConf.size()) return false;
    // No trailing ':': only this folder, never the system's.
    qputenv("SANE_CONFIG_DIR", QFile::encodeName(dir.path()));
    made = config;
    return true;
}

inline SaneDsmControls SaneControls() {
    SaneDsmControls c;
    void* h = dlopen(SANE_TWAINDSM_DIR "/libvisara_twaindsm.so", RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (!h) return c;
    c.SetDeviceOption = reinterpret_cast<void (*)(const char*, const char*)>(dlsym(h, "SaneDsm_SetDeviceOption"));
    c.SetReadTimeout = reinterpret_cast<void (*)(int)>(dlsym(h, "SaneDsm_SetReadTimeout"));
    c.WaitForDevices = reinterpret_cast<int (*)(int)>(dlsym(h, "SaneDsm_WaitForDevices"));
    c.FailNextScan = reinterpret_cast<void (*)()>(dlsym(h, "SaneDsm_FailNextScan"));
    return c;
}

// Pixels per line and lines as SANE reports them for the device with the
// manager's defaults and the given options; (0, 0) when it cannot tell.
inline std::pair<int, int> SaneReportedSize(const QString& device, const QStringList& options = {}) {
    TChildProcess p;
    if (!p.Start(QStringLiteral(SANE_PARAMS_PROGRAM), QStringList{device} + options) || !p.WaitForFinished(30000) ||
        !p.Succeeded())
        return {0, 0};
    const QStringList parts = QString::fromLatin1(p.Output()).split(' ');
    if (parts.size() != 2) return {0, 0};
    return {parts[0].toInt(), parts[1].trimmed().toInt()};
}

// A process's state letter and parent as /proc tells them; false when
// there is no such process.
inline bool ProcessState(pid_t pid, char& state, pid_t& parent) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) return false;
    const QByteArray line = stat.readAll();
    const qsizetype close = line.lastIndexOf(')');
    const QList<QByteArray> fields = line.mid(close + 2).split(' ');
    if (close < 0 || fields.size() < 2) return false;
    state = fields[0].isEmpty() ? '?' : fields[0][0];
    parent = pid_t(fields[1].toInt());
    return true;
}

// A process that has ended (a zombie waiting to be reaped has ended too).
inline bool ProcessGone(pid_t pid) {
    char state = 0;
    pid_t parent = 0;
    return !ProcessState(pid, state, parent) || state == 'Z' || state == 'X';
}

// The live processes of this one named so (as the kernel cuts names, to 15).
inline std::vector<pid_t> LiveChildren(const char* name) {
    std::vector<pid_t> found;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool number = false;
        const pid_t pid = pid_t(entry.toInt(&number));
        char state = 0;
        pid_t parent = 0;
        if (!number || !ProcessState(pid, state, parent) || parent != getpid() || ProcessGone(pid)) continue;
        QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == QByteArray(name).left(15))
            found.push_back(pid);
    }
    return found;
}

// Points the component at the SANE manager and waits for its device search
// (which the manager runs in the background);
// skips when SANE or its test backend is missing.
#define SANE_TEST_SETUP(controls)                                                       \
    do {                                                                                \
        ASSERT_TRUE(SaneTestConfig());                                                  \
        qputenv("VISARA_TWAIN_DSM_DIR", SANE_TWAINDSM_DIR);                             \
        controls = SaneControls();                                                      \
        ASSERT_NE(controls.SetDeviceOption, nullptr);                                   \
        ASSERT_NE(controls.WaitForDevices, nullptr);                                    \
        controls.SetDeviceOption("", "");                                               \
        controls.SetReadTimeout(0);                                                     \
        if (SaneReportedSize("test:0").first == 0) GTEST_SKIP() << "no SANE test backend"; \
        ASSERT_EQ(controls.WaitForDevices(30000), 1);                                   \
    } while (0)

#endif
