// Test entry for the Qt side: an offscreen QApplication and a private
// per-user configuration folder, so no test touches the real settings or
// scanners.
#include <QApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir configHome;
    qputenv("XDG_CONFIG_HOME", configHome.path().toLocal8Bit());
    // The program looks for scanners as it starts: no test reaches the
    // machine's own unless it names a source manager itself.
    if (qEnvironmentVariableIsEmpty("VISARA_TWAIN_DSM_DIR"))
        qputenv("VISARA_TWAIN_DSM_DIR", (configHome.path() + "/no-source-manager").toLocal8Bit());
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
