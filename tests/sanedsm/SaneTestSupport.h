// Set-up of the tests of the data source manager over SANE: a private SANE
// configuration folder naming only the test backend (so no real, USB or
// network device is ever probed), the library's test controls, and what
// SANE itself reports for a device.
#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTemporaryDir>
#include <dlfcn.h>
#include <gtest/gtest.h>

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

// Called before the bridge first starts its helper: the first call's backend
// and test.conf hold for the process (the bridge keeps the devices it
// found), and a later call with others fails.
inline bool SaneTestConfig(const QByteArray& testConf = "number_of_devices 2\nmode Gray\ndepth 8\nresolution 50.0\n"
                                                        "test-picture \"Solid black\"\nread-status-code \"Default\"\n"
                                                        "tl_x 0.0\ntl_y 0.0\nbr_x 20.0\nbr_y 30.0\n",
                           const QByteArray& backend = "test") {
    static QTemporaryDir dir;
    static QByteArray made;
    const QByteArray config = backend + '\n' + testConf;
    if (!made.isNull()) return made == config;
    QFile dll(dir.filePath("dll.conf")), test(dir.filePath("test.conf"));
    if (!dir.isValid() || !dll.open(QIODevice::WriteOnly) || !test.open(QIODevice::WriteOnly)) return false;
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

// This program again, running Case with a SANE that knows only Backend, in
// the Extra environment: expects it to pass the case (or only end with 0,
// unless Passes) within the limit; gives its output.
inline QByteArray SaneRunAgain(const QByteArray& Backend, const QString& Case,
                               const std::vector<std::pair<QString, QString>>& Extra, bool Passes = true) {
    QTemporaryDir config;
    QFile dll(config.filePath("dll.conf"));
    EXPECT_TRUE(dll.open(QIODevice::WriteOnly) && dll.write(Backend + '\n') == Backend.size() + 1);
    dll.close();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("SANE_CONFIG_DIR", config.path());
    env.insert("LD_LIBRARY_PATH", SANE_SLOW_BACKEND_DIR);
    for (const auto& [name, value] : Extra) env.insert(name, value);
    TChildProcess child;  // killed when it outlives the limit
    child.SetEnvironment(env);
    child.SetOutput(TChildProcess::Merged);
    EXPECT_TRUE(child.Start(QCoreApplication::applicationFilePath(), {"--gtest_filter=" + Case}));
    const QByteArray& out = child.Output();
    EXPECT_TRUE(child.WaitForFinished(45000)) << qPrintable(Case) << out.constData();
    EXPECT_EQ(child.ExitCode(), 0) << qPrintable(Case) << out.constData();
    EXPECT_TRUE(!Passes || out.contains("[       OK ] " + Case.toUtf8())) << out.constData();
    return out;
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
