#include "QelHelpViewer.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QUrl>

namespace {

// Opens the program's HTML page for the topic with the desktop's handler
// (usually the web browser); no page, no help, and no message.
class TQelDesktopHelpViewer : public IQelHelpViewer {
public:
    void Show(const QString& File, uint32_t Command, int32_t Topic) override {
        if (Command == QelHelpQuit) return;  // the browser is not ours to close
        const bool contents = Command == QelHelpDisplayTopic || Command == QelHelpContents;
        const QString page = QelFindHelpPage(File, contents ? 0 : Topic);
        if (!page.isEmpty()) QDesktopServices::openUrl(QUrl::fromLocalFile(page));
    }
};

TQelDesktopHelpViewer DesktopViewer;
IQelHelpViewer* CurrentViewer = nullptr;

bool IsPage(const QString& Path) { return QFileInfo(Path).isFile(); }

}  // namespace

IQelHelpViewer* QelHelpViewer() { return CurrentViewer ? CurrentViewer : &DesktopViewer; }

void QelSetHelpViewer(IQelHelpViewer* Viewer) { CurrentViewer = Viewer; }

QString QelHelpPageName(int32_t Topic) {
    switch (Topic) {
        case 0: return QStringLiteral("index.html");
        case 20: return QStringLiteral("getting-started.html");
        case 30: return QStringLiteral("technical-support.html");
        case 40: return QStringLiteral("ordering-information.html");
        default: return QString();
    }
}

QString QelFindHelpPage(const QString& File, int32_t Topic) {
    const QString name = QelHelpPageName(Topic);
    if (name.isEmpty()) return QString();
    if (!File.isEmpty()) {
        const QString beside = QFileInfo(File).absoluteDir().filePath(QStringLiteral("Help/") + name);
        if (IsPage(beside)) return beside;
    }
    const QString installed =
        QStandardPaths::locate(QStandardPaths::GenericDataLocation, QStringLiteral("visara/Help/") + name);
    return IsPage(installed) ? installed : QString();
}
