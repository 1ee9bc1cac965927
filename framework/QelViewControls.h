// Windows that show a stack of view objects, and the scrolling view that
// keeps its content either filling the window or centred in it.
#pragma once

#include <QAbstractScrollArea>

#include <cstdint>
#include <utility>

#include "QelInput.h"
#include "QelView.h"

class QScrollBar;

// Paints its objects through its view canvas, double-buffered and without a
// background erase. Qt input reaches subclasses once, translated: client
// coordinates, the platform's button and virtual-key numbers, shift-state
// bits and wheel steps of one notch each.
class TQelViewControl : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit TQelViewControl(QWidget* Parent = nullptr);
    ~TQelViewControl() override;

    // Creation step, run by QelCreateViewControl after construction.
    virtual void Create() {}

    // The view canvas's mapping: logical (0, 0) appears at DeviceOrigin.
    TQelMapMode& MapMode() { return ViewCanvas.MapMode; }
    const TQelMapMode& MapMode() const { return ViewCanvas.MapMode; }

    TQelViewObjectList Objects;
    TQelViewCanvas ViewCanvas;

    // The whole wheel steps a vertical movement of the wheel completes over
    // this view (see TQelWheelSteps); every wheel path into the view counts
    // through here, so a touchpad gesture zooms or scrolls notch by notch.
    int32_t WheelSteps(int AngleDeltaY) { return WheelStepSum.Add(AngleDeltaY); }

protected:
    // Translated input. Key handlers set Key to 0 when they used it; a key
    // left non-zero goes on to the parent.
    virtual void MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y);
    virtual void MouseMove(TShiftState Shift, int32_t X, int32_t Y);
    virtual void MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y);
    virtual void KeyDown(uint16_t& Key, TShiftState Shift);
    virtual void KeyUp(uint16_t& Key, TShiftState Shift);
    // True when handled; otherwise the wheel scrolls the view.
    virtual bool MouseWheel(TShiftState Shift, int32_t WheelDelta, const TQelPoint& MousePos);
    virtual void MouseEnter();
    virtual void MouseLeave();
    // A key claimed here reaches KeyDown before any menu shortcut can take it.
    virtual bool ClaimsKey(uint16_t Key, TShiftState Shift);

    bool event(QEvent* Event) override;
    bool viewportEvent(QEvent* Event) override;
    void paintEvent(QPaintEvent* Event) override;
    void mousePressEvent(QMouseEvent* Event) override;
    void mouseDoubleClickEvent(QMouseEvent* Event) override;
    void mouseMoveEvent(QMouseEvent* Event) override;
    void mouseReleaseEvent(QMouseEvent* Event) override;
    void keyPressEvent(QKeyEvent* Event) override;
    void keyReleaseEvent(QKeyEvent* Event) override;
    void wheelEvent(QWheelEvent* Event) override;
    // The view moves its own origin; Qt's scroll-bar bookkeeping must not
    // move pixels a second time.
    void scrollContentsBy(int, int) override {}

private:
    TQelWheelSteps WheelStepSum;
};

template <class T, class... Args>
T* QelCreateViewControl(Args&&... args) {
    T* control = new T(std::forward<Args>(args)...);
    try {
        control->Create();
    } catch (...) {
        delete control;
        throw;
    }
    return control;
}

class TQelScrollViewControl : public TQelViewControl {
    Q_OBJECT
public:
    explicit TQelScrollViewControl(QWidget* Parent = nullptr);

    // Device rectangle holding the device origin and the bounds of every
    // visible object that counts for the extent; all zero when empty.
    virtual void GetContentExtent(TQelRect& Rect);
    // How far the origin must move (DX, DY) to keep the content in range,
    // and by how much the content exceeds the window (scroll-bar room
    // included); negative extras mean the content fits.
    virtual void GetScrollState(int32_t& DX, int32_t& DY, int32_t& ExtraWidth, int32_t& ExtraHeight);
    virtual void SetScrollBars(int32_t ExtraWidth, int32_t ExtraHeight);
    // After the content changed size: origin back in range, bars, repaint
    // later.
    virtual void UpdateView();

    // UpdateView, then the pending paint at once.
    void Update();
    // Moves the origin; nothing is repainted.
    void MoveOrigin(int32_t DX, int32_t DY);
    // Moves the origin and the window's pixels, then paints what was exposed.
    void ScrollContent(int32_t DX, int32_t DY);
    // ScrollContent and the scroll bars; limit the delta with ClampScrollDelta.
    void ScrollByDelta(int32_t DX, int32_t DY);
    // Puts the logical point at the centre of the client area, then keeps the
    // content in range.
    void CenterOn(const TQelPoint& LogicalPoint);

    int32_t LineStep = 10;

protected:
    void resizeEvent(QResizeEvent* Event) override;

private:
    void ScrollAction(QScrollBar* Bar, int Action, bool Horizontal);
    bool HasWindow() const;
};

// Limits a wanted shift of the origin so that the content stays in range;
// an axis with nothing to scroll gets 0.
void ClampScrollDelta(TQelScrollViewControl& View, int32_t& DX, int32_t& DY);
