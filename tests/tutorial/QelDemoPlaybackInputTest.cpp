// Playback with the real input service, clock and tick over a real window:
// the script's click must reach a push button the way a user's click does.
// Offscreen this goes through Qt's window-system input; in the ...X11 suite
// (on Xvfb with openbox) the real pointer moves and XTest presses the buttons.
#include <QApplication>
#include <QCursor>
#include <QPushButton>
#include <QWindow>
#include <gtest/gtest.h>

#include <algorithm>

#include "QelDemoHooks.h"
#include "QelDemoPlayback.h"
#include "X11Session.h"

// Last: the X11 headers define macros that clash with Qt's names.
#include <X11/Xlib.h>

namespace {

using X11Session::WaitUntil;

struct TClickWindow {
    TClickWindow() : Button("Go", &Window) {
        Window.setGeometry(100, 100, 320, 200);
        Button.setGeometry(60, 70, 120, 40);
        QObject::connect(&Button, &QPushButton::clicked, [this] { ++Clicks; });
        Window.show();
        X11Session::WaitForWindow(&Window);
        Hooks.RegisterComponent("Go", &Button);
    }

    // Plays Lines to their end or stop; WhilePlaying runs between ticks.
    void Play(const QByteArrayList& lines, const std::function<void()>& whilePlaying = [] {}) {
        Playback.OnGetPoint = [this](TQelDemoPlayback* sender, const TQelDemoScriptParams& params, QPoint& point,
                                     bool& handled) { Hooks.GetCommandPoint(sender, params, point, handled); };
        Playback.OnFinish = [this](TQelDemoPlayback*) { ++Finished; };
        Playback.OnError = [this](TQelDemoPlayback*, const QByteArray& msg, const QByteArray&, bool&) {
            Errors << msg;
        };
        *Playback.Script().ScriptLines() = lines;
        ASSERT_TRUE(Playback.Play(0));
        EXPECT_TRUE(WaitUntil([&] {
            whilePlaying();
            return !Playback.IsPlaying();
        })) << "playback did not end";
    }

    QWidget Window;
    QPushButton Button;
    TQelDemoHooks Hooks;
    TQelDemoPlayback Playback;
    int Clicks = 0;
    int Finished = 0;
    QByteArrayList Errors;
};

void ExpectScriptClicksTheButton() {
    TClickWindow w;
    ASSERT_TRUE(w.Window.windowHandle()->isExposed());
    QCursor::setPos(20, 20);
    w.Play({"MouseSpeed 1000", "MouseClick Go"});
    // The last release may still be on its way as input.
    WaitUntil([&] { return w.Clicks > 0 && QGuiApplication::mouseButtons() == Qt::NoButton; });
    EXPECT_TRUE(w.Errors.isEmpty()) << w.Errors.join(", ").constData();
    EXPECT_EQ(w.Finished, 1);
    EXPECT_EQ(w.Clicks, 1);
    EXPECT_EQ(QCursor::pos(), w.Button.mapToGlobal(QPoint(60, 20)));
    EXPECT_EQ(QGuiApplication::mouseButtons(), Qt::NoButton);
}

void ExpectStopReleasesTheButton() {
    TClickWindow w;
    bool pressedWhilePlaying = false;
    w.Play({"MouseSpeed 1000", "MouseMove Go", "MouseDown", "Pause 10"}, [&] {
        if (dynamic_cast<TQelDemoScriptPauseAction*>(w.Playback.CurrentAction()) && w.Button.isDown()) {
            pressedWhilePlaying = true;
            w.Playback.QueryAbort();
        }
    });
    EXPECT_TRUE(pressedWhilePlaying);
    WaitUntil([&] { return !w.Button.isDown() && QGuiApplication::mouseButtons() == Qt::NoButton; });
    EXPECT_EQ(w.Finished, 0);
    EXPECT_FALSE(w.Button.isDown());
    EXPECT_EQ(QGuiApplication::mouseButtons(), Qt::NoButton);
}

bool OnX11() { return QGuiApplication::platformName() == QLatin1String("xcb"); }

TEST(PlaybackInput, ScriptClicksARealButtonAndAStopReleasesIt) {
    if (OnX11()) GTEST_SKIP() << "covered by the X11 test";
    ExpectScriptClicksTheButton();
    ExpectStopReleasesTheButton();
}

TEST(PlaybackInputX11, ScriptClicksARealButtonThroughTheXServer) {
    X11_SESSION_REQUIRED();
    ExpectScriptClicksTheButton();
    ExpectStopReleasesTheButton();

    // A left-handed user's swapped buttons: the click is still the primary one.
    Display* display = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->display();
    unsigned char saved[256], swapped[256];
    const int count = XGetPointerMapping(display, saved, int(sizeof(saved)));
    ASSERT_GE(count, 3);
    std::copy(saved, saved + count, swapped);
    std::swap(swapped[0], swapped[2]);
    ASSERT_EQ(XSetPointerMapping(display, swapped, count), MappingSuccess);
    ExpectScriptClicksTheButton();
    XSetPointerMapping(display, saved, count);
    XSync(display, False);
}

}  // namespace
