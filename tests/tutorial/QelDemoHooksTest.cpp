#include <QAction>
#include <QApplication>
#include <QDeadlineTimer>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QToolBar>
#include <QToolButton>
#include <QWindow>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "QelDemoHooks.h"
#include "QelDemoPlayback.h"
#include "QelDemoScript.h"
#include "QelForms.h"

namespace {

// A module that answers one command and one element name, and logs what it
// was asked.
class TScriptable : public QObject, public IQelScriptableModule {
public:
    TScriptable(std::string name, std::vector<std::string>* log, QByteArray command)
        : FName(std::move(name)), FLog(log), FCommand(std::move(command)) {}

    void ExecuteCommand(TQelDemoPlayback*, const QByteArray& Command, const TQelDemoScriptParams&,
                        TQelDemoScriptUserAction*, bool& Handled) override {
        FLog->push_back(FName + ":" + Command.toStdString());
        Handled = Command == FCommand;
    }
    void GetCommandPoint(TQelDemoPlayback*, const TQelDemoScriptParams& Params, QPoint& Point,
                         bool& Handled) override {
        FLog->push_back(FName + "?" + Params.AsText(0));
        if (Params.AsText(0) == FCommand.toStdString()) {
            Point = QPoint(7, 8);
            Handled = true;
        }
    }
    void StartRecording(TQelDemoPlayback*) override {}
    void StopRecording(TQelDemoPlayback*) override {}

private:
    std::string FName;
    std::vector<std::string>* FLog;
    QByteArray FCommand;
};

// Qt's test library is not linked here: wait for exposure by hand.
bool WaitExposed(QWidget* w) {
    QDeadlineTimer deadline(5000);
    while (!(w->windowHandle() && w->windowHandle()->isExposed()) && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QCoreApplication::processEvents();
    return w->windowHandle() && w->windowHandle()->isExposed();
}

bool Execute(TQelDemoHooks& hooks, const QByteArray& command, const char* args) {
    TQelDemoScriptParams params;
    params.ParseText(args);
    bool handled = false;
    hooks.ExecuteCommand(nullptr, command, params, nullptr, handled);
    return handled;
}

bool PointOf(TQelDemoHooks& hooks, const char* args, QPoint& point) {
    TQelDemoScriptParams params;
    params.ParseText(args);
    bool handled = false;
    hooks.GetCommandPoint(nullptr, params, point, handled);
    return handled;
}

}  // namespace

TEST(DemoHooks, CommandRowsFirstNameWinsAndTypedArguments) {
    TQelDemoHooks hooks;
    std::vector<std::string> calls;
    hooks.RegisterCommand("zoomIt", [&] { calls.push_back("first"); });
    hooks.RegisterCommand("ZOOMIT", [&] { calls.push_back("second"); });
    hooks.RegisterCommand("Empty", nullptr);  // a row without a handler does not stop the search
    hooks.RegisterCommand("empty", [&] { calls.push_back("empty"); });
    QObject sender;
    hooks.RegisterNotifyCommand("Notify", &sender, [&](QObject* s) { calls.push_back(s == &sender ? "sender" : "?"); });
    hooks.RegisterBoolCommand("Flag", true, [&](bool v) { calls.push_back(v ? "B1" : "B0"); });
    hooks.RegisterIntCommand("Size", 42, [&](int32_t v) { calls.push_back("I" + std::to_string(v)); });
    hooks.RegisterPointCommand("At", QPoint(-1, -2), [&](int32_t x, int32_t y) {
        calls.push_back("P" + std::to_string(x) + "," + std::to_string(y));
    });
    EXPECT_EQ(hooks.Commands().front().Name, "ZOOMIT");

    EXPECT_TRUE(Execute(hooks, "ZOOMIT", ""));
    EXPECT_TRUE(Execute(hooks, "zoomit", ""));
    EXPECT_TRUE(Execute(hooks, "EMPTY", ""));
    EXPECT_TRUE(Execute(hooks, "NOTIFY", ""));
    for (const char* a : {"", "0", "0.4", "1", "'yes'"}) EXPECT_TRUE(Execute(hooks, "FLAG", a));
    for (const char* a : {"", "2.5", "3.5", "-7", "big"}) EXPECT_TRUE(Execute(hooks, "SIZE", a));
    for (const char* a : {"3, 4", "3.5, 4.5", "3", "Image, 4"}) EXPECT_TRUE(Execute(hooks, "AT", a));
    EXPECT_FALSE(Execute(hooks, "UNKNOWN", ""));
    EXPECT_EQ(calls, (std::vector<std::string>{"first", "first", "empty", "sender", "B1", "B0", "B1", "B1", "B0",
                                               "I42", "I2", "I4", "I-7", "I42", "P3,4", "P4,4", "P-1,-2",
                                               "P-1,-2"}));
}

TEST(DemoHooks, UnhandledGoesToScriptableComponentsInOrder) {
    TQelApplication app;
    std::vector<std::string> log;
    TScriptable a("a", &log, "ALPHA");
    TScriptable b("b", &log, "BETA");
    QObject plain;
    app.InsertComponent(&plain);
    app.InsertComponent(&a);
    app.InsertComponent(&b);

    TQelDemoHooks hooks;
    int registered = 0;
    hooks.RegisterCommand("Alpha", [&] { ++registered; });
    EXPECT_TRUE(Execute(hooks, "ALPHA", ""));
    EXPECT_EQ(registered, 1);
    EXPECT_TRUE(log.empty());  // the registry answered first

    EXPECT_TRUE(Execute(hooks, "BETA", ""));
    EXPECT_FALSE(Execute(hooks, "GAMMA", ""));
    EXPECT_EQ(log, (std::vector<std::string>{"a:BETA", "b:BETA", "a:GAMMA", "b:GAMMA"}));

    log.clear();
    QPoint p;
    EXPECT_TRUE(PointOf(hooks, "BETA", p));
    EXPECT_EQ(p, QPoint(7, 8));
    EXPECT_FALSE(PointOf(hooks, "Nothing", p));
    EXPECT_EQ(log, (std::vector<std::string>{"a?BETA", "b?BETA", "a?Nothing", "b?Nothing"}));

    app.RemoveComponent(&plain);
    app.RemoveComponent(&a);
    app.RemoveComponent(&b);
}

TEST(DemoHooks, RecordingOnlyWhileThePlayerRecords) {
    TQelDemoHooks hooks;
    hooks.RecordUICommand("ZoomIn");  // no player at all
    EXPECT_FALSE(hooks.IsRecording());

    TQelDemoPlayback playback;
    playback.Script().LoadFromBytes("[Script]\nPause\n");
    hooks.SetPlayback(&playback);
    hooks.RecordLine("Lost");
    hooks.RecordMoveTo("Lost");
    hooks.RecordUICommand("Lost", "1");
    EXPECT_EQ(*playback.Script().ScriptLines(), QByteArrayList({"Pause"}));

    ASSERT_TRUE(playback.StartRecording(0));
    EXPECT_TRUE(hooks.IsRecording());
    hooks.RecordUICommand("ZoomIn");
    hooks.RecordUICommand("BrushSize", "12");
    hooks.RecordMoveTo("Image");
    hooks.RecordLine("Pause 0.5");
    playback.StopRecording();
    hooks.RecordLine("After");
    EXPECT_EQ(*playback.Script().ScriptLines(),
              QByteArrayList({"MouseCurvedMove ZoomIn", "ZoomIn", "MouseCurvedMove BrushSize", "BrushSize 12",
                              "MouseCurvedMove Image", "Pause 0.5", "Pause"}));
    hooks.SetPlayback(nullptr);
}

TEST(DemoHooks, ScreenPointsOfElements) {
    QMainWindow window;
    auto* button = new QPushButton("Go");
    window.setCentralWidget(button);
    QToolBar* toolbar = window.addToolBar("Tools");
    QAction* zoom = toolbar->addAction("Zoom");
    QAction* hidden = toolbar->addAction("Hidden");
    hidden->setVisible(false);
    QMenu* fileMenu = window.menuBar()->addMenu("File");
    QAction* open = fileMenu->addAction("Open");
    QAction* loose = new QAction("Loose", &window);
    window.setGeometry(100, 120, 400, 300);
    window.show();
    ASSERT_TRUE(WaitExposed(&window));

    QPoint p;
    GetControlCenter(button, p);
    EXPECT_EQ(p, button->mapToGlobal(QPoint(button->width() / 2, button->height() / 2)));

    ASSERT_TRUE(GetToolbarItemCenter(zoom, p));
    QWidget* zoomButton = toolbar->widgetForAction(zoom);
    EXPECT_EQ(zoomButton->mapFromGlobal(p), QPoint(zoomButton->width() / 2, zoomButton->height() / 2));
    EXPECT_FALSE(GetToolbarItemCenter(hidden, p));
    EXPECT_FALSE(GetToolbarItemCenter(loose, p));
    EXPECT_FALSE(GetToolbarItemCenter(open, p));

    // The menu bar's item is on the screen; the item of a closed menu is not.
    ASSERT_TRUE(GetMenuItemCenter(fileMenu->menuAction(), p));
    EXPECT_TRUE(window.menuBar()->actionGeometry(fileMenu->menuAction()).contains(window.menuBar()->mapFromGlobal(p)));
    EXPECT_FALSE(GetMenuItemCenter(open, p));
    EXPECT_FALSE(GetMenuItemCenter(loose, p));
    fileMenu->popup(window.mapToGlobal(QPoint(10, 10)));
    ASSERT_TRUE(WaitExposed(fileMenu));
    ASSERT_TRUE(GetMenuItemCenter(open, p));
    const QRect r = fileMenu->actionGeometry(open);
    EXPECT_EQ(fileMenu->mapFromGlobal(p), QPoint((2 * r.x() + r.width()) / 2, (2 * r.y() + r.height()) / 2));
    fileMenu->close();

    // Through the registry: a hidden item does not end the search; names
    // match without regard to case.
    TQelDemoHooks hooks;
    hooks.RegisterComponent("X", nullptr);
    EXPECT_TRUE(hooks.Components().empty());
    hooks.RegisterComponent("Go", hidden);
    hooks.RegisterComponent("Go", button);
    hooks.RegisterComponent("Open", open);
    hooks.RegisterComponent("Zoom", zoom);
    QPoint expected;
    GetControlCenter(button, expected);
    ASSERT_TRUE(PointOf(hooks, "go", p));
    EXPECT_EQ(p, expected);
    EXPECT_FALSE(PointOf(hooks, "Open", p));  // its menu is closed
    ASSERT_TRUE(PointOf(hooks, "ZOOM", p));
    GetToolbarItemCenter(zoom, expected);
    EXPECT_EQ(p, expected);

    delete button;  // a freed element is skipped, not dereferenced
    EXPECT_FALSE(PointOf(hooks, "Go", p));
}

TEST(DemoHooks, AnItemOnAToolbarOfOurOwnIsItsToolButton) {
    // The tool panel's toolbar is a plain widget that shows each item as a
    // tool button.
    QWidget panel;
    QAction* lipstick = new QAction("Lipstick", &panel);
    auto* button = new QToolButton(&panel);
    button->setDefaultAction(lipstick);
    button->setGeometry(20, 10, 30, 24);
    panel.setGeometry(200, 150, 100, 60);
    panel.show();
    ASSERT_TRUE(WaitExposed(&panel));
    QPoint p;
    ASSERT_TRUE(GetToolbarItemCenter(lipstick, p));
    EXPECT_EQ(button->mapFromGlobal(p), QPoint(15, 12));
    button->hide();
    EXPECT_FALSE(GetToolbarItemCenter(lipstick, p));
}
