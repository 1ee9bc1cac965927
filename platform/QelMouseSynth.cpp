#include "QelMouseSynth.h"

#include <QCursor>
#include <QGuiApplication>
#include <QPointF>
#include <qpa/qwindowsysteminterface.h>

#include <memory>

// The X11 headers define short macro names (None, Bool, Status, ...) that
// clash with Qt's; they come last and are used only below.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace {

// Every platform but X11: the presses enter Qt where the platform's own input
// enters, without a target window, so Qt finds the window under the point
// and applies grabs, popups and modality itself.
class TQelQtMouseSynth : public IQelMouseSynth {
public:
    QPoint GetPos() override { return QCursor::pos(); }

    void SetPos(const QPoint& Pos) override { QCursor::setPos(Pos); }

    void Button(Qt::MouseButton Which, bool Down) override {
        const QPointF at(QCursor::pos());
        Qt::MouseButtons state = FButtons;
        state.setFlag(Which, Down);
        FButtons = state;
        QWindowSystemInterface::handleMouseEvent(nullptr, at, at, state, Which,
                                                 Down ? QEvent::MouseButtonPress : QEvent::MouseButtonRelease);
    }

private:
    // The buttons this service holds down; the release must carry the state
    // without the released button.
    Qt::MouseButtons FButtons = Qt::NoButton;
};

// X11: the real pointer moves and the X server sees real button presses, so
// other programs' grabs and the window manager take part as for the user.
class TQelXTestMouseSynth : public IQelMouseSynth {
public:
    explicit TQelXTestMouseSynth(Display* display) : FDisplay(display) {}

    QPoint GetPos() override { return QCursor::pos(); }

    void SetPos(const QPoint& Pos) override { QCursor::setPos(Pos); }

    void Button(Qt::MouseButton Which, bool Down) override {
        const unsigned logical = Which == Qt::RightButton ? 3u : 1u;
        XTestFakeButtonEvent(FDisplay, PhysicalButton(logical), Down ? True : False, CurrentTime);
        XFlush(FDisplay);
    }

private:
    // XTest presses physical buttons and the server maps them; a user who
    // swapped the buttons has the primary one on another physical button.
    // Asked at every press, as the mapping may change at any time.
    unsigned PhysicalButton(unsigned logical) const {
        unsigned char map[256];
        const int count = XGetPointerMapping(FDisplay, map, int(sizeof(map)));
        for (int i = 0; i < count && i < int(sizeof(map)); ++i)
            if (map[i] == logical) return unsigned(i + 1);
        return logical;
    }

    Display* FDisplay;
};

std::unique_ptr<IQelMouseSynth> CreateMouseSynth() {
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        if (auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr) {
            Display* display = x11->display();
            int eventBase = 0, errorBase = 0, major = 0, minor = 0;
            if (display && XTestQueryExtension(display, &eventBase, &errorBase, &major, &minor))
                return std::make_unique<TQelXTestMouseSynth>(display);
        }
    }
    return std::make_unique<TQelQtMouseSynth>();
}

}  // namespace

IQelMouseSynth* QelMouseSynth() {
    static std::unique_ptr<IQelMouseSynth> service = CreateMouseSynth();
    return service.get();
}
