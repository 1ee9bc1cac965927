#include "X11Session.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QEventLoop>
#include <QMenu>
#include <QMenuBar>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWidget>
#include <QWindow>

#include <cstring>
#include <map>
#include <optional>

// The X11 headers define short macro names (None, Bool, KeyPress, ...) that
// clash with Qt's; they come last.
#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
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

// The viewable window below Top whose class hint names Program.
Window FindByProgram(Display* dpy, Window Top, const char* Program) {
    XClassHint hint{};
    if (XGetClassHint(dpy, Top, &hint)) {
        const bool match = hint.res_name && std::strcmp(hint.res_name, Program) == 0;
        if (hint.res_name) XFree(hint.res_name);
        if (hint.res_class) XFree(hint.res_class);
        XWindowAttributes a{};
        if (match && XGetWindowAttributes(dpy, Top, &a) && a.map_state == IsViewable) return Top;
    }
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    Window found = 0;
    if (XQueryTree(dpy, Top, &root, &parent, &children, &count)) {
        for (unsigned i = 0; i < count && !found; ++i) found = FindByProgram(dpy, children[i], Program);
        if (children) XFree(children);
    }
    return found;
}

unsigned long WindowProperty(Display* dpy, Window W, const char* Name, Atom Type) {
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    unsigned long value = 0;
    if (XGetWindowProperty(dpy, W, XInternAtom(dpy, Name, False), 0, 1, False, Type, &type, &format, &count, &after,
                           &data) == Success &&
        type == Type && format == 32 && count == 1 && data)
        value = reinterpret_cast<unsigned long*>(data)[0];
    if (data) XFree(data);
    return value;
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

// The menus from Bar down to the one that holds Item; nothing when Item is
// on no menu of Bar.
std::optional<QList<QMenu*>> MenuPath(QMenuBar* Bar, QAction* Item) {
    for (QObject* holder : Item->associatedObjects()) {
        if (holder == Bar) return QList<QMenu*>();
        auto* menu = qobject_cast<QMenu*>(holder);
        if (!menu) continue;
        if (std::optional<QList<QMenu*>> path = MenuPath(Bar, menu->menuAction())) {
            path->append(menu);
            return path;
        }
    }
    return std::nullopt;
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
    QList<QPoint> path;
    for (int i = 0; i <= Steps; ++i) path.append(From + (To - From) * i / Steps);
    Drag(path, BetweenSteps);
}

void Drag(const QList<QPoint>& Path, const std::function<void()>& BetweenSteps) {
    if (Path.isEmpty()) return;
    TInputWatch& watch = TInputWatch::Instance();
    MovePointer(Path[0]);
    EXPECT_TRUE(WaitUntil([&] { return watch.Last == Path[0]; })) << "the pointer never reached the drag's start";
    PressButton(1);
    for (qsizetype i = 1; i < Path.size(); ++i) {
        MovePointer(Path[i]);
        EXPECT_TRUE(WaitUntil([&] { return watch.Last == Path[i]; })) << "a drag step never reached Qt";
        if (BetweenSteps) BetweenSteps();
    }
    ReleaseButton(1);
}

void KeyDown(const char* Name) { Key(Name, true); }
void KeyUp(const char* Name) { Key(Name, false); }

void TapKey(const char* Name) {
    const QList<QByteArray> keys = QByteArray(Name).split('+');
    for (const QByteArray& key : keys) KeyDown(key.constData());
    for (auto key = keys.crbegin(); key != keys.crend(); ++key) KeyUp(key->constData());
}

void TypeText(const QString& Text) {
    Display* dpy = Dpy();
    if (!dpy) return;
    const KeyCode shift = XKeysymToKeycode(dpy, XK_Shift_L);
    for (const QChar c : Text) {
        // Printable ASCII characters are their own key symbols.
        const KeySym sym = c.unicode();
        const KeyCode code = sym >= 0x20 && sym <= 0x7e ? XKeysymToKeycode(dpy, sym) : 0;
        const bool plain = code && XkbKeycodeToKeysym(dpy, code, 0, 0) == sym;
        const bool shifted = code && !plain && XkbKeycodeToKeysym(dpy, code, 0, 1) == sym;
        if (!plain && !shifted) {
            ADD_FAILURE() << "no key types " << QString(c).toStdString();
            continue;
        }
        if (shifted) XTestFakeKeyEvent(dpy, shift, True, CurrentTime);
        XTestFakeKeyEvent(dpy, code, True, CurrentTime);
        XTestFakeKeyEvent(dpy, code, False, CurrentTime);
        if (shifted) XTestFakeKeyEvent(dpy, shift, False, CurrentTime);
    }
    XSync(dpy, False);
}

void SetKeyRepeat(int DelayMs, int IntervalMs) {
    Display* dpy = Dpy();
    if (!dpy) return;
    XAutoRepeatOn(dpy);
    XkbSetAutoRepeatRate(dpy, XkbUseCoreKbd, unsigned(DelayMs), unsigned(IntervalMs));
    XSync(dpy, False);
}

int KeyPressesSeen(int QtKey) { return TInputWatch::Instance().Presses[QtKey]; }

bool WaitForForeignWindow(const char* Program, TForeignWindow& Found, int TimeoutMs) {
    Display* dpy = Dpy();
    if (!dpy) return false;
    Window w = 0;
    if (!WaitUntil(
            [&] {
                XSync(dpy, False);
                w = FindByProgram(dpy, DefaultRootWindow(dpy), Program);
                return w != 0;
            },
            TimeoutMs))
        return false;
    XWindowAttributes a{};
    Window child = 0;
    int x = 0, y = 0;
    XGetWindowAttributes(dpy, w, &a);
    XTranslateCoordinates(dpy, w, DefaultRootWindow(dpy), 0, 0, &x, &y, &child);
    Found.Id = w;
    Found.Geometry = QRect(x, y, a.width, a.height);
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    const Atom utf8 = XInternAtom(dpy, "UTF8_STRING", False);
    if (XGetWindowProperty(dpy, w, XInternAtom(dpy, "_NET_WM_NAME", False), 0, 1024, False, utf8, &type, &format,
                           &count, &after, &data) == Success &&
        data)
        Found.Title = QString::fromUtf8(reinterpret_cast<const char*>(data), int(count));
    if (data) XFree(data);
    return true;
}

bool WaitForForeignGone(const char* Program, int TimeoutMs) {
    Display* dpy = Dpy();
    return dpy && WaitUntil(
                      [&] {
                          XSync(dpy, False);
                          return FindByProgram(dpy, DefaultRootWindow(dpy), Program) == 0;
                      },
                      TimeoutMs);
}

bool WaitForForeignActive(const TForeignWindow& Foreign, int TimeoutMs) {
    Display* dpy = Dpy();
    return dpy && WaitUntil(
                      [&] {
                          XSync(dpy, False);
                          return WindowProperty(dpy, DefaultRootWindow(dpy), "_NET_ACTIVE_WINDOW", XA_WINDOW) ==
                                 Foreign.Id;
                      },
                      TimeoutMs);
}

unsigned long TransientFor(const TForeignWindow& Foreign) {
    Display* dpy = Dpy();
    Window owner = 0;
    return dpy && XGetTransientForHint(dpy, Foreign.Id, &owner) ? owner : 0;
}

QPoint CenterOf(QWidget* Widget) { return Widget->mapToGlobal(Widget->rect().center()); }

QPoint CenterOf(QMenu* Menu, QAction* Item) { return Menu->mapToGlobal(Menu->actionGeometry(Item).center()); }

QPoint CenterOf(QMenuBar* Bar, QAction* Item) { return Bar->mapToGlobal(Bar->actionGeometry(Item).center()); }

bool OpenMenu(QMenuBar* Bar, QMenu* Menu) {
    std::optional<QList<QMenu*>> path = MenuPath(Bar, Menu->menuAction());
    if (!path) {
        ADD_FAILURE() << Menu->title().toStdString() << " is on no menu of the bar";
        return false;
    }
    path->append(Menu);
    Click(CenterOf(Bar, path->front()->menuAction()));
    if (!WaitForMapped(path->front())) return false;
    for (qsizetype i = 1; i < path->size(); ++i) {
        Click(CenterOf((*path)[i - 1], (*path)[i]->menuAction()));
        if (!WaitForMapped((*path)[i])) return false;
    }
    return true;
}

bool ChooseMenuItem(QMenuBar* Bar, QAction* Item) {
    const std::optional<QList<QMenu*>> path = MenuPath(Bar, Item);
    if (!path || path->isEmpty()) {
        ADD_FAILURE() << Item->text().toStdString() << " is on no menu of the bar";
        return false;
    }
    if (!OpenMenu(Bar, path->back())) return false;
    QMenu* top = path->front();
    // A click on a disabled item closes the menus too, having done nothing.
    if (!Item->isEnabled()) {
        ADD_FAILURE() << Item->text().toStdString() << " is disabled";
        for (qsizetype i = 0; i < path->size(); ++i) TapKey("Escape");
        WaitUntil([top] { return !top->isVisible(); });
        return false;
    }
    Click(CenterOf(path->back(), Item));
    return WaitUntil([top] { return !top->isVisible(); });
}

bool ChooseRow(QComboBox* Box, int Row) {
    Click(CenterOf(Box));
    QAbstractItemView* list = Box->view();
    QWidget* popup = list->window();
    if (!WaitForMapped(popup)) return false;
    const QRect item = list->visualRect(Box->model()->index(Row, Box->modelColumn(), Box->rootModelIndex()));
    Click(list->viewport()->mapToGlobal(item.center()));
    return WaitUntil([popup] { return !popup->isVisible(); }) && Box->currentIndex() == Row;
}

TModalAnswer::TModalAnswer(std::function<bool(QWidget*)> Takes, std::function<void(QWidget*)> Action)
    : FTakes(std::move(Takes)), FAction(std::move(Action)) {
    QObject::connect(&FTimer, &QTimer::timeout, [this] { Look(); });
    FTimer.start(5);
}

void TModalAnswer::Look() {
    if (FBusy) return;
    QWidget* window = QApplication::activeModalWidget();
    if (!window || !window->isVisible() || !FTakes(window)) return;
    if (window != FWaiting) {
        FWaiting = window;
        FWaitingSince.start();
    }
    const bool ready = window->windowHandle() && window->windowHandle()->isExposed() && window->isActiveWindow();
    // Nobody could answer a window that never gets the keys.
    if (!ready && FWaitingSince.elapsed() < 5000) return;
    FBusy = true;
    QPointer<QWidget> answered(window);
    if (ready) {
        FAction(window);
        ++FAnswered;
    } else {
        ADD_FAILURE() << window->metaObject()->className() << " was never shown with the keys";
    }
    if (answered && answered->isVisible()) {
        ADD_FAILURE() << answered->metaObject()->className() << " was left open";
        if (auto* dialog = qobject_cast<QDialog*>(answered.data()))
            dialog->reject();
        else
            answered->close();
    }
    FBusy = false;
}

}  // namespace X11Session
