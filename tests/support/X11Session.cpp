#include "X11Session.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMenu>
#include <QMenuBar>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <map>

// The X11 headers define short macro names (None, Bool, KeyPress, ...) that
// clash with Qt's; they come last.
#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#undef KeyPress
#undef KeyRelease

namespace {

Display* Dpy() {
    if (QGuiApplication::platformName() != QLatin1String("xcb")) return nullptr;
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->display() : nullptr;
}

// What input reached Qt: where the pointer last moved, so a drag can wait
// for each step, and the key presses, counted where they enter a window
// (before Qt hands them from widget to widget).
class TInputWatch : public QObject {
public:
    static TInputWatch& Instance() {
        static TInputWatch* watch = [] {
            auto* w = new TInputWatch();
            qApp->installEventFilter(w);
            return w;
        }();
        return *watch;
    }
    QPoint Last{-1, -1};
    std::map<int, int> Presses;

protected:
    bool eventFilter(QObject* Watched, QEvent* Event) override {
        if (Event->type() == QEvent::MouseMove)
            Last = static_cast<QMouseEvent*>(Event)->globalPosition().toPoint();
        else if (Event->type() == QEvent::KeyPress && Watched->isWindowType())
            ++Presses[static_cast<QKeyEvent*>(Event)->key()];
        return false;
    }
};

// A window manager announces itself on the root window with a window of its own.
bool WindowManagerRuns(Display* dpy) {
    const Atom check = XInternAtom(dpy, "_NET_SUPPORTING_WM_CHECK", False);
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    const int rc = XGetWindowProperty(dpy, DefaultRootWindow(dpy), check, 0, 1, False, XA_WINDOW, &type, &format,
                                      &count, &after, &data);
    const bool found = rc == Success && type == XA_WINDOW && count == 1 && data;
    if (data) XFree(data);
    return found;
}

unsigned KeyCodeOf(Display* dpy, const char* Name) {
    const KeySym sym = XStringToKeysym(Name);
    EXPECT_NE(sym, KeySym(NoSymbol)) << Name;
    const KeyCode code = XKeysymToKeycode(dpy, sym);
    EXPECT_NE(code, 0) << Name;
    return code;
}

void Key(const char* Name, bool Down) {
    Display* dpy = Dpy();
    if (!dpy) return;
    XTestFakeKeyEvent(dpy, KeyCodeOf(dpy, Name), Down ? True : False, CurrentTime);
    XSync(dpy, False);
}

void Button(unsigned Button, bool Down) {
    Display* dpy = Dpy();
    if (!dpy) return;
    XTestFakeButtonEvent(dpy, Button, Down ? True : False, CurrentTime);
    XSync(dpy, False);
}

}  // namespace

namespace X11Session {

QString Unavailable() {
    Display* dpy = Dpy();
    if (!dpy)
        return QStringLiteral("needs a real X server; ctest runs it as <suite>.<case>.UnderX11, under Xvfb with a "
                              "window manager");
    int event = 0, error = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(dpy, &event, &error, &major, &minor))
        return QStringLiteral("the X server has no XTest extension");
    // The window manager may still be starting beside the test.
    if (!WaitUntil([dpy] { return WindowManagerRuns(dpy); }, 10000))
        return QStringLiteral("no window manager runs on the X server");
    TInputWatch::Instance();
    return QString();
}

bool WaitUntil(const std::function<bool()>& Pred, int TimeoutMs) {
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    // Wakes the wait for conditions that no event of this thread announces.
    QTimer tick;
    tick.start(5);
    while (!Pred()) {
        if (clock.elapsed() > TimeoutMs) return false;
        loop.processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

bool WaitBusyUntil(const std::function<bool()>& Pred, int TimeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!Pred()) {
        if (clock.elapsed() > TimeoutMs) return false;
        QCoreApplication::processEvents();
    }
    return true;
}

bool WaitForMapped(QWidget* Window, int TimeoutMs) {
    return WaitUntil(
        [Window] {
            return Window && Window->isVisible() && Window->windowHandle() && Window->windowHandle()->isExposed();
        },
        TimeoutMs);
}

bool WaitForActive(QWidget* Window, int TimeoutMs) {
    return WaitUntil([Window] { return Window && Window->isActiveWindow(); }, TimeoutMs);
}

void MovePointer(QPoint Global) {
    Display* dpy = Dpy();
    if (!dpy) return;
    XTestFakeMotionEvent(dpy, -1, Global.x(), Global.y(), CurrentTime);
    XSync(dpy, False);
}

void PressButton(unsigned Which) { Button(Which, true); }
void ReleaseButton(unsigned Which) { Button(Which, false); }

void Click(QPoint Global, unsigned Which) {
    MovePointer(Global);
    PressButton(Which);
    ReleaseButton(Which);
}

void Drag(QPoint From, QPoint To, int Steps, const std::function<void()>& BetweenSteps) {
    TInputWatch& watch = TInputWatch::Instance();
    MovePointer(From);
    EXPECT_TRUE(WaitUntil([&] { return watch.Last == From; })) << "the pointer never reached the drag's start";
    PressButton(1);
    for (int i = 1; i <= Steps; ++i) {
        const QPoint at = From + (To - From) * i / Steps;
        MovePointer(at);
        EXPECT_TRUE(WaitUntil([&] { return watch.Last == at; })) << "a drag step never reached Qt";
        if (BetweenSteps) BetweenSteps();
    }
    ReleaseButton(1);
}

void KeyDown(const char* Name) { Key(Name, true); }
void KeyUp(const char* Name) { Key(Name, false); }

void TapKey(const char* Name) {
    KeyDown(Name);
    KeyUp(Name);
}

void SetKeyRepeat(int DelayMs, int IntervalMs) {
    Display* dpy = Dpy();
    if (!dpy) return;
    XAutoRepeatOn(dpy);
    XkbSetAutoRepeatRate(dpy, XkbUseCoreKbd, unsigned(DelayMs), unsigned(IntervalMs));
    XSync(dpy, False);
}

int KeyPressesSeen(int QtKey) { return TInputWatch::Instance().Presses[QtKey]; }

QPoint CenterOf(QWidget* Widget) { return Widget->mapToGlobal(Widget->rect().center()); }

QPoint CenterOf(QMenu* Menu, QAction* Item) { return Menu->mapToGlobal(Menu->actionGeometry(Item).center()); }

QPoint CenterOf(QMenuBar* Bar, QAction* Item) { return Bar->mapToGlobal(Bar->actionGeometry(Item).center()); }

}  // namespace X11Session
