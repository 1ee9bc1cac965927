// The SANE bridge's progress window, started by the bridge for each scan:
//   visara_saneprogress <the bridge's process id> <the program's window>
//                       <language (TWLG_...)> <device name>
// with the bridge's socket on descriptor 3. It dies with the program.
#include <sys/prctl.h>
#include <unistd.h>

#include <QApplication>
#include <QWindow>

#include <csignal>
#include <cstdlib>

#include "QelLocalizer.h"
#include "SaneProgressWindow.h"
#include "SaneProgressWire.h"
#include "TwnDefs.h"

int main(int argc, char** argv) {
    if (argc < 5) return 2;
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != pid_t(std::strtol(argv[1], nullptr, 10))) return 1;
    std::signal(SIGPIPE, SIG_IGN);
    const WId parent = WId(std::strtoull(argv[2], nullptr, 10));
    const auto language = uint16_t(std::strtoul(argv[3], nullptr, 10));
    const QString device = QString::fromUtf8(argv[4]);
    QApplication app(argc, argv);
    // The program's language, from the language files beside the program.
    TQelLocalizer localizer(TQelLocalizer::DefaultFolder(), TwnLangIdOfLanguage(language));
    TSaneProgressWindow window(SaneProgressFd, device);
    // It stays with the program's window (above it, centred by the window
    // manager) though it belongs to another process.
    if (parent != 0 && QGuiApplication::platformName() == QLatin1String("xcb")) {
        window.winId();
        if (QWindow* owner = QWindow::fromWinId(parent)) window.windowHandle()->setTransientParent(owner);
    }
    window.show();
    return app.exec();
}
