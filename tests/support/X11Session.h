// Drives the program through a real X server as a user does (XTest pointer
// and keys, the server's auto-repeat, a window manager), waiting for what the
// server reports. A suite "...X11" starts with X11_SESSION_REQUIRED(); ctest
// runs its cases through visara_x11_tests (support/UnderX11.sh).
#pragma once

#include <QApplication>
#include <QList>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>

class QAction;
class QComboBox;
class QMenuBar;
class QWidget;

namespace X11Session {

bool Available();

// Runs the UI thread's events until Pred holds; false after the deadline. Busy never sleeps, as
// a program busy with a drag: input that arrives in pieces is seen in pieces.
bool WaitUntil(const std::function<bool()>& Pred, int TimeoutMs = 5000, bool Busy = false);
// Until the X server has mapped Window and, with Active, the window manager gave it the keys.
bool WaitForWindow(QWidget* Window, bool Active = false);

void MovePointer(QPoint Global);
void Click(QPoint Global);
// Left button down at Path's first point, moved to each next one once Qt has seen the last, up at the end.
void Drag(const QList<QPoint>& Path, const std::function<void()>& BetweenSteps = {});
// The screen point at the middle of Widget, or of Item on a menu or menu bar.
QPoint CenterOf(QWidget* Widget, QAction* Item = nullptr);

// Keys by X name ("space", "Control_L+z"); one held Down repeats as the server makes it.
enum class KeyMove { Tap, Down, Up };
void Key(const char* Chord, KeyMove Move = KeyMove::Tap);
// Printable ASCII as typed on the server's keyboard, Shift where it takes it.
void TypeText(const QString& Text);
// Presses of the Qt::Key the program's windows received since the session started, repeats included.
int KeyPressesSeen(int QtKey);

// A mapped window of another program, by the name in its class hint; Id 0 when none.
struct TForeignWindow {
    unsigned long Id = 0;
    QRect Geometry;
    QString Title;
    unsigned long TransientFor = 0;
};
TForeignWindow ForeignWindow(const char* Program);
unsigned long ActiveWindow();

// Opens Item's menu on Bar with the pointer and clicks Item: true once the menu closed (a submenu, once it shows).
bool ChooseMenuItem(QMenuBar* Bar, QAction* Item);
// Opens the box's list with the pointer and clicks the row; true once chosen.
bool ChooseRow(QComboBox* Box, int Row);

// While this lives, Action answers each modal T once it has the keys (from inside its event loop).
template <class T>
class TModalAnswer {
public:
    explicit TModalAnswer(std::function<void(T&)> Action) {
        QObject::connect(&FTimer, &QTimer::timeout, [this, Action] {
            auto* window = dynamic_cast<T*>(QApplication::activeModalWidget());
            if (FBusy || !window) return;
            FBusy = true;
            EXPECT_TRUE(WaitForWindow(window, true)) << "a modal window never got the keys";
            Action(*window);
            ++FAnswered;
            FBusy = false;
        });
        FTimer.start(5);
    }
    int Answered() const { return FAnswered; }

private:
    QTimer FTimer;
    bool FBusy = false;
    int FAnswered = 0;
};

}  // namespace X11Session

#define X11_SESSION_REQUIRED() \
    if (!X11Session::Available()) GTEST_SKIP() << "needs a real X server; ctest runs it as <suite>.<case>.UnderX11"
