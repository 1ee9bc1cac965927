// Loaded into the real program by Qt (QT_QPA_GENERIC_PLUGINS=visarapress)
// for the end-to-end test of the filter plug-in: once the program shows the
// action whose object name is $VISARA_TEST_PRESS (the OK or Cancel button of
// plug-in mode), it is triggered, as a user's click would. A comma-separated
// list is pressed in its order, each once it is shown and enabled. Nothing
// in the program is changed for this.
//
// The program must never outlive the test: it dies with the test process,
// and ends itself with code 3 when nothing could be pressed in time.
#include <QAction>
#include <QApplication>
#include <QGenericPlugin>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <sys/prctl.h>
#include <unistd.h>

#include <csignal>

namespace {

constexpr int PollMilliseconds = 50;
constexpr int DeadlineMilliseconds = 40000;

class TPresser : public QObject {
public:
    explicit TPresser(const QString& Names) : FNames(Names.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        auto* timer = new QTimer(this);
        connect(timer, &QTimer::timeout, this, &TPresser::Poll);
        timer->start(PollMilliseconds);
        QTimer::singleShot(DeadlineMilliseconds, this, [] { ::_exit(3); });
    }

private:
    QAction* Find() const {
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (!top->isVisible()) continue;
            for (QWidget* widget : top->findChildren<QWidget*>())
                for (QAction* action : widget->actions())
                    if (action->objectName() == FNames.front() && action->isVisible() && action->isEnabled())
                        return action;
        }
        return nullptr;
    }

    void Poll() {
        if (FNames.isEmpty()) return;
        if (QAction* action = Find()) {
            FNames.removeFirst();
            action->trigger();
        }
    }

    QStringList FNames;
};

}  // namespace

class TPressButtonPlugin : public QGenericPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "PressButton.json")
public:
    QObject* create(const QString& key, const QString&) override {
        if (key.compare(QLatin1String("visarapress"), Qt::CaseInsensitive) != 0) return nullptr;
        return new TPresser(qEnvironmentVariable("VISARA_TEST_PRESS"));
    }
};

#include "PressButtonPlugin.moc"
