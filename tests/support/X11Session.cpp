#include "X11Session.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
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

namespace {

Display* Dpy() {
    if (QGuiApplication::platformName() != QLatin1String("xcb")) return nullptr;
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->display() : nullptr;
}

// Where the pointer last moved, so a drag can wait for each step, and the key
// presses, counted where they enter a window (before Qt passes them on).
struct TInputWatch : QObject {
    QPoint Last{-1, -1};
    std::map<int, int> Presses;
    bool eventFilter(QObject* Watched, QEvent* Event) override {
        if (Event->type() == QEvent::MouseMove)
            Last = static_cast<QMouseEvent*>(Event)->globalPosition().toPoint();
        else if (Event->type() == QEvent::KeyPress && Watched->isWindowType())
            ++Presses[static_cast<QKeyEvent*>(Event)->key()];
        return false;
    }
};

TInputWatch& Watch() {
    static TInputWatch* watch = [] {
        auto* w = new TInputWatch();
        qApp->installEventFilter(w);
        return w;
    }();
    return *watch;
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

void Button(bool Down) {
    if (Display* dpy = Dpy()) {
        XTestFakeButtonEvent(dpy, 1, Down ? True : False, CurrentTime);
        XSync(dpy, False);
    }
}

// The menus from Bar down to the one that holds Item; nothing when Item is on no menu of Bar.
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

bool Available() {
    if (Dpy()) Watch();
    return Dpy() != nullptr;
}

bool WaitUntil(const std::function<bool()>& Pred, int TimeoutMs, bool Busy) {
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    // Wakes the wait for conditions that no event of this thread announces.
    QTimer tick;
    tick.start(5);
    while (!Pred()) {
        if (clock.elapsed() > TimeoutMs) return false;
        loop.processEvents(Busy ? QEventLoop::AllEvents : QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

bool WaitForWindow(QWidget* Window, bool Active) {
    return WaitUntil([Window, Active] {
        return Window && Window->isVisible() && Window->windowHandle() && Window->windowHandle()->isExposed() &&
               (!Active || Window->isActiveWindow());
    });
}

void MovePointer(QPoint Global) {
    if (Display* dpy = Dpy()) {
        XTestFakeMotionEvent(dpy, -1, Global.x(), Global.y(), CurrentTime);
        XSync(dpy, False);
    }
}

void Click(QPoint Global) {
    MovePointer(Global);
    Button(true);
    Button(false);
}

void Drag(const QList<QPoint>& Path, const std::function<void()>& BetweenSteps) {
    TInputWatch& watch = Watch();
    for (qsizetype i = 0; i < Path.size(); ++i) {
        MovePointer(Path[i]);
        EXPECT_TRUE(WaitUntil([&] { return watch.Last == Path[i]; })) << "drag step " << i << " never reached Qt";
        if (i == 0) Button(true);
        else if (BetweenSteps) BetweenSteps();
    }
    Button(false);
}

QPoint CenterOf(QWidget* Widget, QAction* Item) {
    QRect area = Widget->rect();
    if (auto* menu = qobject_cast<QMenu*>(Widget); menu && Item) area = menu->actionGeometry(Item);
    if (auto* bar = qobject_cast<QMenuBar*>(Widget); bar && Item) area = bar->actionGeometry(Item);
    return Widget->mapToGlobal(area.center());
}

void Key(const char* Chord, KeyMove Move) {
    Display* dpy = Dpy();
    if (!dpy) return;
    QList<KeyCode> codes;
    for (const QByteArray& name : QByteArray(Chord).split('+')) {
        codes.append(XKeysymToKeycode(dpy, XStringToKeysym(name.constData())));
        EXPECT_NE(codes.back(), 0) << name.constData();
    }
    if (Move != KeyMove::Up)
        for (const KeyCode code : codes) XTestFakeKeyEvent(dpy, code, True, CurrentTime);
    if (Move != KeyMove::Down)
        for (auto code = codes.crbegin(); code != codes.crend(); ++code) XTestFakeKeyEvent(dpy, *code, False, CurrentTime);
    XSync(dpy, False);
}

void TypeText(const QString& Text) {
    Display* dpy = Dpy();
    if (!dpy) return;
    const KeyCode shift = XKeysymToKeycode(dpy, XK_Shift_L);
    for (const QChar c : Text) {
        // Printable ASCII characters are their own key symbols.
        const KeyCode code = c >= ' ' && c <= '~' ? XKeysymToKeycode(dpy, c.unicode()) : 0;
        const bool shifted = code && XkbKeycodeToKeysym(dpy, code, 0, 0) != c.unicode();
        EXPECT_NE(code, 0) << "no key types " << QString(c).toStdString();
        if (shifted) XTestFakeKeyEvent(dpy, shift, True, CurrentTime);
        XTestFakeKeyEvent(dpy, code, True, CurrentTime);
        XTestFakeKeyEvent(dpy, code, False, CurrentTime);
        if (shifted) XTestFakeKeyEvent(dpy, shift, False, CurrentTime);
    }
    XSync(dpy, False);
}

void SetKeyRepeat(int DelayMs, int IntervalMs) {
    if (Display* dpy = Dpy()) {
        XAutoRepeatOn(dpy);
        XkbSetAutoRepeatRate(dpy, XkbUseCoreKbd, unsigned(DelayMs), unsigned(IntervalMs));
        XSync(dpy, False);
    }
}

int KeyPressesSeen(int QtKey) { return Watch().Presses[QtKey]; }

TForeignWindow ForeignWindow(const char* Program) {
    TForeignWindow found;
    Display* dpy = Dpy();
    if (!dpy) return found;
    XSync(dpy, False);
    const Window w = FindByProgram(dpy, DefaultRootWindow(dpy), Program);
    XWindowAttributes a{};
    Window child = 0;
    int x = 0, y = 0;
    if (!w || !XGetWindowAttributes(dpy, w, &a)) return found;
    XTranslateCoordinates(dpy, w, DefaultRootWindow(dpy), 0, 0, &x, &y, &child);
    found.Id = w;
    found.Geometry = QRect(x, y, a.width, a.height);
    XGetTransientForHint(dpy, w, &found.TransientFor);
    XTextProperty title{};
    if (XGetTextProperty(dpy, w, &title, XInternAtom(dpy, "_NET_WM_NAME", False)) && title.value) {
        found.Title = QString::fromUtf8(reinterpret_cast<const char*>(title.value), int(title.nitems));
        XFree(title.value);
    }
    return found;
}

unsigned long ActiveWindow() {
    Display* dpy = Dpy();
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0, value = 0;
    unsigned char* data = nullptr;
    if (dpy && XGetWindowProperty(dpy, DefaultRootWindow(dpy), XInternAtom(dpy, "_NET_ACTIVE_WINDOW", False), 0, 1,
                                  False, XA_WINDOW, &type, &format, &count, &after, &data) == Success &&
        type == XA_WINDOW && format == 32 && count == 1 && data)
        value = reinterpret_cast<unsigned long*>(data)[0];
    if (data) XFree(data);
    return value;
}

bool ChooseMenuItem(QMenuBar* Bar, QAction* Item) {
    std::optional<QList<QMenu*>> path = MenuPath(Bar, Item);
    if (!path || path->isEmpty()) {
        ADD_FAILURE() << Item->text().toStdString() << " is on no menu of the bar";
        return false;
    }
    // Each menu on the way opens with a click on its title or item.
    if (Item->menu()) path->append(Item->menu());
    for (qsizetype i = 0; i < path->size(); ++i) {
        Click(CenterOf(i == 0 ? static_cast<QWidget*>(Bar) : (*path)[i - 1], (*path)[i]->menuAction()));
        if (!WaitForWindow((*path)[i])) return false;
    }
    if (Item->menu()) return true;
    EXPECT_TRUE(Item->isEnabled()) << Item->text().toStdString() << " is disabled";
    if (!Item->isEnabled()) return false;
    Click(CenterOf(path->back(), Item));
    QMenu* top = path->front();
    return WaitUntil([top] { return !top->isVisible(); });
}

bool ChooseRow(QComboBox* Box, int Row) {
    Click(CenterOf(Box));
    QAbstractItemView* list = Box->view();
    QWidget* popup = list->window();
    if (!WaitForWindow(popup)) return false;
    const QRect item = list->visualRect(Box->model()->index(Row, Box->modelColumn(), Box->rootModelIndex()));
    Click(list->viewport()->mapToGlobal(item.center()));
    return WaitUntil([popup] { return !popup->isVisible(); }) && Box->currentIndex() == Row;
}

}  // namespace X11Session
