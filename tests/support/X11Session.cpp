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

// A property of 8-bit items, or of 32-bit ones each as a long, as Xlib hands them over.
QByteArray Property(Display* dpy, Window W, const char* Name, Atom Type) {
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    QByteArray bytes;
    if (XGetWindowProperty(dpy, W, XInternAtom(dpy, Name, False), 0, 1 << 16, False, Type, &type, &format, &count,
                           &after, &data) == Success && type == Type && data)
        bytes = QByteArray(reinterpret_cast<char*>(data), qsizetype(format == 32 ? count * sizeof(long) : count));
    if (data) XFree(data);
    return bytes;
}

QList<Window> RootWindows(Display* dpy, const char* Name) {
    const QByteArray bytes = Property(dpy, DefaultRootWindow(dpy), Name, XA_WINDOW);
    QList<Window> windows(bytes.size() / qsizetype(sizeof(Window)));
    std::memcpy(windows.data(), bytes.constData(), size_t(windows.size()) * sizeof(Window));
    return windows;
}

void Button(bool Down) {
    if (Display* dpy = Dpy()) {
        XTestFakeButtonEvent(dpy, 1, Down ? True : False, CurrentTime);
        XSync(dpy, False);
    }
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
    for (const QByteArray& name : QByteArray(Chord).split('+'))
        codes.append(XKeysymToKeycode(dpy, XStringToKeysym(name.constData())));
    if (Move != KeyMove::Up)
        for (const KeyCode code : codes) XTestFakeKeyEvent(dpy, code, True, CurrentTime);
    if (Move != KeyMove::Down)
        for (auto code = codes.crbegin(); code != codes.crend(); ++code) XTestFakeKeyEvent(dpy, *code, False, CurrentTime);
    XSync(dpy, False);
}

void TypeText(const QString& Text) {
    Display* dpy = Dpy();
    for (const QChar c : Text) {
        const KeySym sym = c.unicode();  // printable ASCII characters are their own key symbols
        const bool shifted = dpy && XkbKeycodeToKeysym(dpy, XKeysymToKeycode(dpy, sym), 0, 0) != sym;
        Key((QByteArray(shifted ? "Shift_L+" : "") + XKeysymToString(sym)).constData());
    }
}

int KeyPressesSeen(int QtKey) { return Watch().Presses[QtKey]; }

TForeignWindow ForeignWindow(const char* Program) {
    TForeignWindow found;
    Display* dpy = Dpy();
    if (!dpy) return found;
    XSync(dpy, False);
    // The window manager lists the windows it manages: those mapped.
    for (const Window w : RootWindows(dpy, "_NET_CLIENT_LIST")) {
        XClassHint hint{};
        if (!XGetClassHint(dpy, w, &hint)) continue;
        const bool match = hint.res_name && std::strcmp(hint.res_name, Program) == 0;
        XFree(hint.res_name);
        XFree(hint.res_class);
        XWindowAttributes a{};
        Window child = 0;
        int x = 0, y = 0;
        if (!match || !XGetWindowAttributes(dpy, w, &a) || a.map_state != IsViewable) continue;
        XTranslateCoordinates(dpy, w, DefaultRootWindow(dpy), 0, 0, &x, &y, &child);
        found = {w, QRect(x, y, a.width, a.height),
                 QString::fromUtf8(Property(dpy, w, "_NET_WM_NAME", XInternAtom(dpy, "UTF8_STRING", False)))};
        XGetTransientForHint(dpy, w, &found.TransientFor);
        break;
    }
    return found;
}

unsigned long ActiveWindow() {
    Display* dpy = Dpy();
    return dpy ? RootWindows(dpy, "_NET_ACTIVE_WINDOW").value(0) : 0;
}

bool ChooseMenuItem(QMenuBar* Bar, QAction* Item) {
    QMenu* menu = nullptr;
    for (QObject* holder : Item->associatedObjects())
        if (auto* m = qobject_cast<QMenu*>(holder); m && Bar->actions().contains(m->menuAction())) menu = m;
    if (menu) Click(CenterOf(Bar, menu->menuAction()));
    // Items are enabled as their menu opens.
    const bool open = menu && WaitForWindow(menu) && Item->isEnabled();
    EXPECT_TRUE(open) << Item->text().toStdString() << " is on no menu of the bar, or disabled";
    if (!open) return false;
    Click(CenterOf(menu, Item));
    // A submenu shows; a command closes the menu.
    return Item->menu() ? WaitForWindow(Item->menu()) : WaitUntil([menu] { return !menu->isVisible(); });
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
