// Tests that drive the program through a real X server, as a user does: the
// real pointer and real button and key presses (XTest), the server's own key
// auto-repeat, menus and windows mapped by the server under a window
// manager. They wait for what the server reports, never for a fixed time.
//
// Such a test names its suite "...X11" and starts with X11_SESSION_REQUIRED();
// tests/CMakeLists.txt runs each case under Xvfb with openbox
// (support/UnderX11.sh, registered with visara_x11_tests) and leaves these
// suites out of the offscreen run. Anywhere else they skip with the reason.
#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>

class QAction;
class QComboBox;
class QMenu;
class QMenuBar;
class QWidget;

namespace X11Session {

// Why these tests cannot run here (no X server, no window manager); empty
// when they can. Waits up to a few seconds for the window manager to start.
QString Unavailable();

// Runs the UI thread's events until Pred holds; false after the deadline.
bool WaitUntil(const std::function<bool()>& Pred, int TimeoutMs = 5000);
// The same without ever sleeping: the UI thread keeps taking events as
// they come, as in a program busy with a drag, so input that arrives in
// pieces is seen in pieces.
bool WaitBusyUntil(const std::function<bool()>& Pred, int TimeoutMs = 5000);
// Until the window is shown and the X server has mapped it (exposed).
bool WaitForMapped(QWidget* Window, int TimeoutMs = 5000);
// Until the window manager has given the window the keyboard focus.
bool WaitForActive(QWidget* Window, int TimeoutMs = 5000);

// The pointer and its buttons (1 left, 3 right). Each call returns once
// the server has carried it out; the events reach Qt in their order.
void MovePointer(QPoint Global);
void PressButton(unsigned Button = 1);
void ReleaseButton(unsigned Button = 1);
void Click(QPoint Global, unsigned Button = 1);
// Left button down at From, moved in Steps to To, each move waited for
// until Qt has seen it, and up at To. BetweenSteps runs after each move.
void Drag(QPoint From, QPoint To, int Steps = 10, const std::function<void()>& BetweenSteps = {});
// The same along Path: down at its first point, one move to each further
// point, up at its last.
void Drag(const QList<QPoint>& Path, const std::function<void()>& BetweenSteps = {});

// Keys by their X key name ("space", "o", "Escape", "Return"). A key held
// down repeats as the server's auto-repeat makes it.
void KeyDown(const char* Name);
void KeyUp(const char* Name);
// A chord such as "Control_L+z": the keys go down in order and up in reverse.
void TapKey(const char* Name);
// Printable ASCII as typed on the server's keyboard, Shift where it takes it.
void TypeText(const QString& Text);
// The server's auto-repeat on, with its delay and interval.
void SetKeyRepeat(int DelayMs, int IntervalMs);
// How many presses of the key (a Qt::Key) the program's windows have
// received since the session started, repeats included.
int KeyPressesSeen(int QtKey);

// A window of another program (a helper that this one starts), found by
// the program's name in the window's class hint: its X id, where its
// contents lie on the screen, and its title.
struct TForeignWindow {
    unsigned long Id = 0;
    QRect Geometry;
    QString Title;
};
// Until such a window is mapped; false when none appeared in time.
bool WaitForForeignWindow(const char* Program, TForeignWindow& Found, int TimeoutMs = 5000);
// Until no window of that program is mapped any more.
bool WaitForForeignGone(const char* Program, int TimeoutMs = 5000);
// Until the window manager has made that window the active one.
bool WaitForForeignActive(const TForeignWindow& Foreign, int TimeoutMs = 5000);
// The window the foreign one was made transient for (WM_TRANSIENT_FOR), 0 when none.
unsigned long TransientFor(const TForeignWindow& Foreign);

// Screen points to aim at.
QPoint CenterOf(QWidget* Widget);
QPoint CenterOf(QMenu* Menu, QAction* Item);
QPoint CenterOf(QMenuBar* Bar, QAction* Item);

// Opens Menu with the pointer: its title on Bar, then the item of each
// submenu on the way; true once the X server shows it.
bool OpenMenu(QMenuBar* Bar, QMenu* Menu);
// Opens the menus that hold Item and clicks it, which must be enabled then;
// true once the menus have closed (after what the item opened modally).
bool ChooseMenuItem(QMenuBar* Bar, QAction* Item);
// Opens the box's list with the pointer and clicks its row; true once the
// list has closed with the row chosen.
bool ChooseRow(QComboBox* Box, int Row);

// Answers the program's modal windows from inside their event loop, since
// the test's own code waits in that loop until the window closes: while
// this object lives, Action gets every modal window that Takes accepts,
// once the server has mapped it and given it the keys. A window Action
// leaves open fails the test and is closed, so no test hangs in it.
class TModalAnswer {
public:
    TModalAnswer(std::function<bool(QWidget*)> Takes, std::function<void(QWidget*)> Action);
    TModalAnswer(const TModalAnswer&) = delete;
    TModalAnswer& operator=(const TModalAnswer&) = delete;
    // How many windows Action has had.
    int Answered() const { return FAnswered; }

private:
    void Look();

    std::function<bool(QWidget*)> FTakes;
    std::function<void(QWidget*)> FAction;
    QTimer FTimer;
    // The window waiting to be mapped and given the keys, and since when.
    QPointer<QWidget> FWaiting;
    QElapsedTimer FWaitingSince;
    bool FBusy = false;
    int FAnswered = 0;
};

// The same for the windows of one class.
template <class T>
class TModalAnswerOf : public TModalAnswer {
public:
    explicit TModalAnswerOf(const std::function<void(T&)>& Action)
        : TModalAnswer([](QWidget* w) { return dynamic_cast<T*>(w) != nullptr; },
                       [Action](QWidget* w) { Action(dynamic_cast<T&>(*w)); }) {}
};

}  // namespace X11Session

#define X11_SESSION_REQUIRED()                                                     \
    do {                                                                           \
        const QString x11SessionMissing = X11Session::Unavailable();               \
        if (!x11SessionMissing.isEmpty()) GTEST_SKIP() << x11SessionMissing.toStdString(); \
    } while (0)
