#include "QelViewControls.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPointer>
#include <QResizeEvent>
#include <QScrollBar>
#include <QStyle>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

int32_t Saturate(int64_t v) {
    return int32_t(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

TQelPoint ClientPoint(const QPointF& p) { return TQelPoint{int32_t(std::floor(p.x())), int32_t(std::floor(p.y()))}; }

// The button of a press or release; a button the program has no number for
// is ignored and goes on to the parent.
bool EventButton(QMouseEvent* Event, TMouseButton& Button) {
    if (QelMouseButton(Event->button(), Button)) return true;
    Event->ignore();
    return false;
}

}  // namespace

// --- TQelViewControl -----------------------------------------------------------

TQelViewControl::TQelViewControl(QWidget* Parent)
    : QAbstractScrollArea(Parent), Objects(), ViewCanvas(), WheelStepSum() {
    setFrameShape(QFrame::NoFrame);
    QWidget* client = viewport();
    // Every paint fills its whole region; resizing repaints only what is new.
    client->setAttribute(Qt::WA_OpaquePaintEvent);
    client->setAttribute(Qt::WA_NoSystemBackground);
    client->setAttribute(Qt::WA_StaticContents);
    client->setAutoFillBackground(false);
    client->setMouseTracking(true);
}

TQelViewControl::~TQelViewControl() = default;

void TQelViewControl::MouseDown(TMouseButton, TShiftState, int32_t, int32_t) {}
void TQelViewControl::MouseMove(TShiftState, int32_t, int32_t) {}
void TQelViewControl::MouseUp(TMouseButton, TShiftState, int32_t, int32_t) {}
void TQelViewControl::KeyDown(uint16_t&, TShiftState) {}
void TQelViewControl::KeyUp(uint16_t&, TShiftState) {}
bool TQelViewControl::MouseWheel(TShiftState, int32_t, const TQelPoint&) { return false; }
void TQelViewControl::MouseEnter() {}
void TQelViewControl::MouseLeave() {}
bool TQelViewControl::ClaimsKey(uint16_t, TShiftState) { return false; }

bool TQelViewControl::event(QEvent* Event) {
    if (Event->type() == QEvent::ShortcutOverride) {
        auto* key = static_cast<QKeyEvent*>(Event);
        const uint16_t vk = QelVirtualKey(key->key(), key->modifiers());
        if (vk != 0 && ClaimsKey(vk, QelShiftState(key->modifiers(), QGuiApplication::mouseButtons()))) {
            Event->accept();
            return true;
        }
    }
    return QAbstractScrollArea::event(Event);
}

bool TQelViewControl::viewportEvent(QEvent* Event) {
    switch (Event->type()) {
    case QEvent::Enter: MouseEnter(); break;
    case QEvent::Leave: MouseLeave(); break;
    default: break;
    }
    return QAbstractScrollArea::viewportEvent(Event);
}

void TQelViewControl::paintEvent(QPaintEvent* Event) {
    QelPaintViewObjects(ViewCanvas, Objects, viewport(), Event->region());
}

void TQelViewControl::mousePressEvent(QMouseEvent* Event) {
    TMouseButton button;
    if (!EventButton(Event, button)) return;
    const TQelPoint p = ClientPoint(Event->position());
    MouseDown(button, QelShiftState(Event->modifiers(), Event->buttons()), p.X, p.Y);
}

void TQelViewControl::mouseDoubleClickEvent(QMouseEvent* Event) {
    TMouseButton button;
    if (!EventButton(Event, button)) return;
    const TQelPoint p = ClientPoint(Event->position());
    MouseDown(button, TShiftState(QelShiftState(Event->modifiers(), Event->buttons()) | ssDouble), p.X, p.Y);
}

void TQelViewControl::mouseMoveEvent(QMouseEvent* Event) {
    const TQelPoint p = ClientPoint(Event->position());
    MouseMove(QelShiftState(Event->modifiers(), Event->buttons()), p.X, p.Y);
}

void TQelViewControl::mouseReleaseEvent(QMouseEvent* Event) {
    TMouseButton button;
    if (!EventButton(Event, button)) return;
    const TQelPoint p = ClientPoint(Event->position());
    MouseUp(button, QelShiftState(Event->modifiers(), Event->buttons()), p.X, p.Y);
}

void TQelViewControl::keyPressEvent(QKeyEvent* Event) {
    uint16_t key = QelVirtualKey(Event->key(), Event->modifiers());
    if (key == 0) {
        Event->ignore();
        return;
    }
    KeyDown(key, QelShiftState(Event->modifiers(), QGuiApplication::mouseButtons()));
    Event->setAccepted(key == 0);
}

void TQelViewControl::keyReleaseEvent(QKeyEvent* Event) {
    // A held key repeats its press only, as the platform does, also where
    // the window system repeats it as releases that Qt did not flag.
    if (Event->isAutoRepeat() || QelKeyStillDown(*Event)) return;
    uint16_t key = QelVirtualKey(Event->key(), Event->modifiers());
    if (key == 0) {
        Event->ignore();
        return;
    }
    KeyUp(key, QelShiftState(Event->modifiers(), QGuiApplication::mouseButtons()));
    Event->setAccepted(key == 0);
}

void TQelViewControl::wheelEvent(QWheelEvent* Event) {
    const int delta = Event->angleDelta().y();
    if (delta == 0) {
        Event->ignore();
        return;
    }
    // Part of a notch is taken and waits for the rest.
    const int32_t steps = WheelSteps(delta);
    if (steps == 0) return;
    const TQelPoint p = ClientPoint(Event->position());
    const TShiftState shift = QelShiftState(Event->modifiers(), Event->buttons());
    const int32_t step = steps > 0 ? 1 : -1;
    const QPointer<TQelViewControl> self(this);
    int32_t unhandled = 0;
    for (int32_t i = 0; i != steps; i += step) {
        if (!MouseWheel(shift, step, p)) unhandled += step;
        // A handler may have closed the window.
        if (!self) return;
    }
    if (unhandled == 0) return;
    // Steps the view leaves alone scroll it, a notch each.
    QWheelEvent notches(Event->position(), Event->globalPosition(), QPoint(), QPoint(0, unhandled * 120),
                        Event->buttons(), Event->modifiers(), Event->phase(), Event->inverted(), Event->source());
    QAbstractScrollArea::wheelEvent(&notches);
    Event->setAccepted(notches.isAccepted());
}

// --- TQelScrollViewControl -----------------------------------------------------

TQelScrollViewControl::TQelScrollViewControl(QWidget* Parent) : TQelViewControl(Parent), LineStep(10) {
    connect(horizontalScrollBar(), &QAbstractSlider::actionTriggered, this,
            [this](int action) { ScrollAction(horizontalScrollBar(), action, true); });
    connect(verticalScrollBar(), &QAbstractSlider::actionTriggered, this,
            [this](int action) { ScrollAction(verticalScrollBar(), action, false); });
}

bool TQelScrollViewControl::HasWindow() const { return testAttribute(Qt::WA_WState_Created); }

void TQelScrollViewControl::GetContentExtent(TQelRect& Rect) {
    const TQelMapMode& map = MapMode();
    TQelRect r = map.LogicalToDeviceRect(TQelRect());
    for (int32_t i = 0; i < Objects.Count(); ++i) {
        TQelViewObject* object = Objects.GetObject(i);
        if (object == nullptr || !object->GetVisible() || (object->Flags & QelViewNoExtent) != 0) continue;
        TQelRect b;
        object->GetBounds(map, b);
        if (b.IsEmpty()) continue;
        // Unlike a union this keeps the point, so the extent always reaches
        // the device origin.
        r = TQelRect(std::min(r.Left, b.Left), std::min(r.Top, b.Top), std::max(r.Right, b.Right),
                     std::max(r.Bottom, b.Bottom));
    }
    Rect = r.IsEmpty() ? TQelRect() : r;
}

void TQelScrollViewControl::GetScrollState(int32_t& DX, int32_t& DY, int32_t& ExtraWidth, int32_t& ExtraHeight) {
    TQelRect e;
    GetContentExtent(e);
    int64_t ew = int64_t(e.Right) - e.Left - width();
    int64_t eh = int64_t(e.Bottom) - e.Top - height();
    const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    if (eh > 0) {
        ew += bar;
        if (ew > 0) eh += bar;
    } else if (ew > 0) {
        eh += bar;
        if (eh > 0) ew += bar;
    }
    ExtraWidth = Saturate(ew);
    ExtraHeight = Saturate(eh);
    auto axis = [](int64_t extra, int64_t origin) -> int64_t {
        if (extra < 0) return (-extra) / 2 - origin;  // centred
        if (-origin > extra) return -extra - origin;  // far end aligned
        if (origin > 0) return -origin;               // near end aligned
        return 0;
    };
    const TQelPoint o = MapMode().DeviceOrigin;
    DX = Saturate(axis(ExtraWidth, o.X));
    DY = Saturate(axis(ExtraHeight, o.Y));
}

void TQelScrollViewControl::SetScrollBars(int32_t ExtraWidth, int32_t ExtraHeight) {
    if (!HasWindow() || width() < 1 || height() < 1) return;
    // Qt's largest position is the platform's maximum - page + 1, i.e. the
    // extra itself; a bar with nothing to scroll hides. Value changes
    // reach only scrollContentsBy, which moves nothing.
    const TQelPoint o = MapMode().DeviceOrigin;
    QScrollBar* h = horizontalScrollBar();
    h->setRange(0, std::max(0, ExtraWidth));
    h->setPageStep(width());
    h->setValue(Saturate(-int64_t(o.X)));
    QScrollBar* v = verticalScrollBar();
    v->setRange(0, std::max(0, ExtraHeight));
    v->setPageStep(height());
    v->setValue(Saturate(-int64_t(o.Y)));
}

void TQelScrollViewControl::UpdateView() {
    int32_t dx, dy, ew, eh;
    GetScrollState(dx, dy, ew, eh);
    if (dx != 0 || dy != 0) MoveOrigin(dx, dy);
    SetScrollBars(ew, eh);
    viewport()->update();
}

void TQelScrollViewControl::Update() {
    UpdateView();
    viewport()->repaint();
}

void TQelScrollViewControl::MoveOrigin(int32_t DX, int32_t DY) {
    TQelPoint& o = MapMode().DeviceOrigin;
    o.X = Saturate(int64_t(o.X) + DX);
    o.Y = Saturate(int64_t(o.Y) + DY);
}

void TQelScrollViewControl::ScrollContent(int32_t DX, int32_t DY) {
    MoveOrigin(DX, DY);
    QWidget* client = viewport();
    client->scroll(DX, DY);
    // Paint the strip that came into view at once.
    const QRect all = client->rect();
    const QRegion exposed = QRegion(all) - QRegion(all.translated(DX, DY));
    if (!exposed.isEmpty()) client->repaint(exposed);
}

void TQelScrollViewControl::ScrollByDelta(int32_t DX, int32_t DY) {
    int32_t dx, dy, ew, eh;
    GetScrollState(dx, dy, ew, eh);
    ScrollContent(DX, DY);
    SetScrollBars(ew, eh);
}

void TQelScrollViewControl::CenterOn(const TQelPoint& LogicalPoint) {
    const TQelPoint p = MapMode().LogicalToDevice(LogicalPoint);
    const QSize client = viewport()->size();
    MoveOrigin(Saturate(int64_t(client.width() / 2) - p.X), Saturate(int64_t(client.height() / 2) - p.Y));
    UpdateView();
}

void TQelScrollViewControl::resizeEvent(QResizeEvent* Event) {
    TQelViewControl::resizeEvent(Event);
    int32_t dx, dy, ew, eh;
    GetScrollState(dx, dy, ew, eh);
    if (dx != 0 || dy != 0) ScrollContent(dx, dy);
    SetScrollBars(ew, eh);
}

void TQelScrollViewControl::ScrollAction(QScrollBar* Bar, int Action, bool Horizontal) {
    const int position = Bar->value();
    int64_t delta = 0;
    switch (Action) {
    case QAbstractSlider::SliderSingleStepSub: delta = -int64_t(LineStep); break;
    case QAbstractSlider::SliderSingleStepAdd: delta = LineStep; break;
    case QAbstractSlider::SliderPageStepSub: delta = -int64_t(MulDiv(Bar->pageStep(), 3, 4)); break;
    case QAbstractSlider::SliderPageStepAdd: delta = MulDiv(Bar->pageStep(), 3, 4); break;
    case QAbstractSlider::SliderMove: delta = int64_t(Bar->sliderPosition()) - position; break;
    default: break;  // to the ends, release: no movement of their own
    }
    // The upper limit is the bar's maximum (the platform's maximum - page + 1,
    // which is 0 when the content fits).
    if (position + delta < Bar->minimum())
        delta = int64_t(Bar->minimum()) - position;
    else if (position + delta > Bar->maximum())
        delta = int64_t(Bar->maximum()) - position;
    // Qt applies the slider position after this slot; make it ours.
    Bar->setSliderPosition(int(position + delta));
    if (delta == 0) return;
    if (Horizontal)
        ScrollContent(Saturate(-delta), 0);
    else
        ScrollContent(0, Saturate(-delta));
}

void ClampScrollDelta(TQelScrollViewControl& View, int32_t& DX, int32_t& DY) {
    int32_t dx, dy, ew, eh;
    View.GetScrollState(dx, dy, ew, eh);
    const TQelPoint o = View.MapMode().DeviceOrigin;
    auto axis = [](int32_t delta, int64_t extra, int64_t origin) -> int32_t {
        if (delta == 0 || extra <= 0) return 0;
        if (delta < 0 && extra + origin + delta < 0) return Saturate(-origin - extra);
        if (delta > 0 && origin + delta > 0) return Saturate(-origin);
        return delta;
    };
    DX = axis(DX, ew, o.X);
    DY = axis(DY, eh, o.Y);
}
