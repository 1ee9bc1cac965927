#include "QelGraphicsView.h"

#include "QelGraphicsTool.h"

#include <QCursor>
#include <QGuiApplication>
#include <QLayout>
#include <QPointer>
#include <QResizeEvent>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "QelCursors.h"
#include "QelDemoPlayback.h"
#include "QelDemoScript.h"
#include "QelError.h"
#include "QelForms.h"
#include "QelLocalizer.h"
#include "QelMainForm.h"
#include "QelMessageBox.h"
#include "QelQtGeometry.h"

// --- Zoom steps ------------------------------------------------------------------

const TQelZoomStep QelZoomSteps[QelZoomStepCount] = {
    {1, 16}, {1, 12}, {1, 8}, {1, 7}, {1, 6}, {1, 5}, {1, 4}, {1, 3}, {1, 2}, {3, 4}, {1, 1},
    {3, 2},  {2, 1},  {3, 1}, {4, 1}, {5, 1}, {6, 1}, {7, 1}, {8, 1}, {12, 1}, {16, 1},
};

// --- TQelGraphicDocumentView -----------------------------------------------------

void TQelGraphicDocumentView::Create() {
    TQelViewObject::Create();
    UpdateBounds();
}

void TQelGraphicDocumentView::Reset() { Flags = QelViewVisible | QelViewBody | QelViewPaintable; }

void TQelGraphicDocumentView::UpdateBounds() { Bounds = FDocument ? FDocument->Image.GetBoundsRect() : TQelRect(); }

void TQelGraphicDocumentView::PaintBody(TQelViewCanvas& Canvas) {
    if (!FDocument) return;
    const TQelRect work = FDocument->GetWorkRect();
    if (work.IsEmpty()) return;
    const TQelRect device = Canvas.MapMode.LogicalToDeviceRect(work);
    // Draw reads only the source pixels that fall inside the clip box.
    FDocument->Image.Draw(Canvas.Canvas, device, work, Canvas.GetClipBox());
    Canvas.ExcludeClipRect(device);
}

// --- TQelGraphicsView ------------------------------------------------------------

TQelGraphicsView::TQelGraphicsView(TQelGraphicsDocument* Document, QWidget* Parent)
    : TQelScrollViewControl(Parent),
      DocumentObject(nullptr),
      ButtonDown(false),
      LastPoint(),
      MouseInside(false),
      FDocument(Document),
      FPendingFit(TPendingFit::None),
      FCursorId(-32768) {
    setFocusPolicy(Qt::StrongFocus);
}

TQelGraphicsView::~TQelGraphicsView() {
    if (FDocument) FDocument->RemoveListener(this);
}

void TQelGraphicsView::Create() {
    TQelScrollViewControl::Create();
    if (FDocument) FDocument->AddListener(this);
    std::unique_ptr<TQelGraphicDocumentView> object = QelCreateViewObject<TQelGraphicDocumentView>(FDocument);
    DocumentObject = object.get();
    Objects.Add(std::move(object));
    // Shown once the editor has set the view up.
    DocumentObject->SetVisible(false);
}

void TQelGraphicsView::DocumentLoaded(TQelDocument*) {
    // The loaded image may have another size than the one the view knew.
    if (DocumentObject) DocumentObject->UpdateBounds();
    UpdateView();
}

void TQelGraphicsView::DocumentClosed(TQelDocument*) {}

void TQelGraphicsView::Zoom(int32_t Numerator, int32_t Denominator) {
    // A zero extent would make every later mapping meaningless.
    if (Numerator < 1 || Denominator < 1) return;
    FPendingFit = TPendingFit::None;
    const QSize client = viewport()->size();
    const TQelPoint centre = MapMode().DeviceToLogical(TQelPoint{client.width() / 2, client.height() / 2});
    MapMode().DeviceExtent = TQelPoint{Numerator, Numerator};
    MapMode().LogicalExtent = TQelPoint{Denominator, Denominator};
    CenterOn(centre);
    UpdateCursor();
}

int32_t TQelGraphicsView::CompareScale(int32_t Numerator, int32_t Denominator) const {
    const int32_t wanted = MulDiv(1000, Numerator, Denominator);
    const int32_t present = MulDiv(1000, MapMode().DeviceExtent.X, MapMode().LogicalExtent.X);
    return wanted < present ? -1 : wanted > present ? 1 : 0;
}

void TQelGraphicsView::ZoomIn() {
    for (const TQelZoomStep& step : QelZoomSteps)
        if (CompareScale(step.Numerator, step.Denominator) > 0) {
            Zoom(step.Numerator, step.Denominator);
            return;
        }
    Zoom(QelZoomSteps[QelZoomStepCount - 1].Numerator, QelZoomSteps[QelZoomStepCount - 1].Denominator);
}

void TQelGraphicsView::ZoomOut() {
    for (int32_t i = QelZoomStepCount - 1; i >= 0; --i)
        if (CompareScale(QelZoomSteps[i].Numerator, QelZoomSteps[i].Denominator) < 0) {
            Zoom(QelZoomSteps[i].Numerator, QelZoomSteps[i].Denominator);
            return;
        }
    Zoom(QelZoomSteps[0].Numerator, QelZoomSteps[0].Denominator);
}

void TQelGraphicsView::ActualSize() { Zoom(1, 1); }

bool TQelGraphicsView::FitSizes(int32_t& W, int32_t& H, int32_t& ImageW, int32_t& ImageH, TPendingFit Fit) {
    ImageW = FDocument ? FDocument->Image.GetWidth() : 0;
    ImageH = FDocument ? FDocument->Image.GetHeight() : 0;
    if (ImageW < 1 || ImageH < 1) return false;
    // Before the first show the layouts may not have given the view its
    // size yet; the outermost goes first.
    std::vector<QLayout*> layouts;
    for (QWidget* w = parentWidget(); w; w = w->parentWidget())
        if (w->layout()) layouts.push_back(w->layout());
    for (auto it = layouts.rbegin(); it != layouts.rend(); ++it) (*it)->activate();
    W = width();
    H = height();
    if (W < 1 || H < 1) {
        // Runs again on the first resize that gives the view a size.
        FPendingFit = Fit;
        return false;
    }
    return true;
}

void TQelGraphicsView::BestFit() {
    int32_t w, h, iw, ih;
    if (!FitSizes(w, h, iw, ih, TPendingFit::Best)) return;
    if (double(ih) / h >= double(iw) / w)
        Zoom(h, ih);
    else
        Zoom(w, iw);
}

void TQelGraphicsView::FitView() {
    int32_t w, h, iw, ih;
    if (!FitSizes(w, h, iw, ih, TPendingFit::Fit)) return;
    if (w >= iw && h >= ih)
        ActualSize();
    else
        BestFit();
}

void TQelGraphicsView::resizeEvent(QResizeEvent* Event) {
    TQelScrollViewControl::resizeEvent(Event);
    if (FPendingFit == TPendingFit::None || width() < 1 || height() < 1) return;
    const TPendingFit fit = FPendingFit;
    FPendingFit = TPendingFit::None;
    if (fit == TPendingFit::Fit)
        FitView();
    else
        BestFit();
}

void TQelGraphicsView::GetPixelAt(const TQelPoint& ImagePoint, TQelRGBTriple& Triple) const {
    const TQelPixels* pixels = FDocument ? FDocument->GetPixels() : nullptr;
    if (!pixels || pixels->BytesPerPixel < 3 || !pixels->GetBounds().Contains(ImagePoint.X, ImagePoint.Y)) {
        Triple = TQelRGBTriple{};
        return;
    }
    const uint8_t* p = pixels->PixelAddress(ImagePoint.X, ImagePoint.Y);
    Triple.Blue = p[0];
    Triple.Green = p[1];
    Triple.Red = p[2];
}

template <class F>
bool TQelGraphicsView::WalkControls(F&& Call) {
    QPointer<TQelGraphicsView> self(this);
    for (int32_t i = Objects.Count() - 1; i >= 0; --i) {
        auto* control = dynamic_cast<TQelGraphicsToolControl*>(Objects.GetObject(i));
        if (!control) continue;
        if (Call(*control)) return true;
        // A control closed the document: nothing of this view is left.
        if (!self) return true;
    }
    return false;
}

bool TQelGraphicsView::DispatchWheel(TShiftState Shift, int32_t Delta, const QPoint& ScreenPoint) {
    if (Delta == 0) return false;
    const int32_t steps = WheelSteps(Delta);
    // Part of a notch is taken and waits for the rest.
    if (steps == 0) return true;
    const QPoint p = viewport()->mapFromGlobal(ScreenPoint);
    const int32_t step = steps > 0 ? 1 : -1;
    const QPointer<TQelGraphicsView> self(this);
    bool handled = true;
    for (int32_t i = 0; i != steps && self; i += step)
        handled = MouseWheel(Shift, step, TQelPoint{p.x(), p.y()}) && handled;
    return handled || !self;
}

bool TQelGraphicsView::MouseWheel(TShiftState Shift, int32_t WheelDelta, const TQelPoint& MousePos) {
    const int32_t delta = WheelDelta > 0 ? 1 : -1;
    if (WalkControls([&](TQelGraphicsToolControl& c) { return c.MouseWheel(Shift, delta, MousePos); })) return true;
    return TQelScrollViewControl::MouseWheel(Shift, delta, MousePos);
}

void TQelGraphicsView::UpdateCursor() {
    const QPoint p = viewport()->mapFromGlobal(QCursor::pos());
    ShowCursorAt(TQelPoint{p.x(), p.y()},
                 QelShiftState(QGuiApplication::queryKeyboardModifiers(), QGuiApplication::mouseButtons()));
}

void TQelGraphicsView::ShowCursorAt(const TQelPoint& Point, TShiftState Shift) {
    QPointer<TQelGraphicsView> self(this);
    int16_t id = crDefault;
    WalkControls([&](TQelGraphicsToolControl& c) { return c.GetCursor(Shift, Point, id); });
    if (!self || id == FCursorId) return;
    FCursorId = id;
    viewport()->setCursor(TQelCursorRegistry::Instance().Cursor(id));
}

void TQelGraphicsView::SetFocus() {
    if (window()->isActiveWindow() && !hasFocus()) setFocus();
}

bool TQelGraphicsView::event(QEvent* Event) {
    const bool result = TQelScrollViewControl::event(Event);
    // A window made active with the pointer already resting over the picture
    // (a dialog closed with a key) gets no move that would give the view the
    // keys, and Space, O, + and - would go to another control.
    if (Event->type() == QEvent::WindowActivate && isActiveWindow() &&
        viewport()->rect().contains(viewport()->mapFromGlobal(QCursor::pos())))
        SetFocus();
    return result;
}

void TQelGraphicsView::MouseEnter() { MouseEntered(); }

void TQelGraphicsView::MouseLeave() { MouseLeft(); }

void TQelGraphicsView::MouseEntered() {
    if (MouseInside) return;
    MouseInside = true;
    QPointer<TQelGraphicsView> self(this);
    WalkControls([](TQelGraphicsToolControl& c) {
        c.MouseEnter();
        return false;
    });
    if (!self) return;
    SetFocus();
    UpdateCursor();
}

void TQelGraphicsView::MouseLeft() {
    if (!MouseInside) return;
    MouseInside = false;
    WalkControls([](TQelGraphicsToolControl& c) {
        c.MouseLeave();
        return false;
    });
}

TQelDemoPlayback* TQelGraphicsView::ActiveRecorder() const {
    TQelEditor* editor = FDocument ? FDocument->Editor() : nullptr;
    if (!editor || !editor->Recorder || !editor->Recorder->IsRecording()) return nullptr;
    return editor->Recorder;
}

void TQelGraphicsView::RecordPoint(TQelDemoPlayback* Recorder, const char* Text, const TQelPoint& P) {
    Recorder->RecordLine(QByteArray(Text) + QByteArray::number(P.X) + ", " + QByteArray::number(P.Y));
}

void TQelGraphicsView::ShowPointer(const TQelPoint& ClientPoint) {
    IQelGraphicsStatus* status = QelGraphicsStatusOf(FDocument);
    if (!status) return;
    const TQelPoint p = MapMode().DeviceToLogical(ClientPoint);
    TQelRGBTriple pixel;
    GetPixelAt(p, pixel);
    status->SetStatusText(TQelGraphicsStatusPanel::X, QString::number(p.X));
    status->SetStatusText(TQelGraphicsStatusPanel::Y, QString::number(p.Y));
    status->SetStatusText(TQelGraphicsStatusPanel::R, QString::number(pixel.Red));
    status->SetStatusText(TQelGraphicsStatusPanel::G, QString::number(pixel.Green));
    status->SetStatusText(TQelGraphicsStatusPanel::B, QString::number(pixel.Blue));
}

void TQelGraphicsView::MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) {
    TQelScrollViewControl::MouseDown(Button, Shift, X, Y);
    const TQelPoint point{X, Y};
    if (TQelDemoPlayback* recorder = ActiveRecorder()) {
        const TQelPoint p = MapMode().DeviceToLogical(point);
        LastPoint = p;
        RecordPoint(recorder, ButtonDown ? "MouseMove Image, " : "MouseCurvedMove Image, ", p);
        const TQelDemoHooks* hooks = TQelDemoHooks::Instance();
        if (recorder->ShowMessages && hooks) recorder->RecordLine("Message \"" + hooks->DefaultMessageText + '"');
        if (Button == mbLeft) {
            RecordPoint(recorder, "MouseDown Image, ", p);
            ButtonDown = true;
        } else if (Button == mbRight) {
            RecordPoint(recorder, "MouseRightDown Image, ", p);
            ButtonDown = true;
        }
    }
    WalkControls([&](TQelGraphicsToolControl& c) { return c.MouseDown(Button, Shift, point); });
}

void TQelGraphicsView::MouseMove(TShiftState Shift, int32_t X, int32_t Y) {
    QPointer<TQelGraphicsView> self(this);
    if (!MouseInside) {
        MouseEntered();
        if (!self) return;
    }
    TQelScrollViewControl::MouseMove(Shift, X, Y);
    const TQelPoint point{X, Y};
    ShowPointer(point);
    if (TQelDemoPlayback* recorder = ActiveRecorder(); recorder && ButtonDown) {
        const TQelPoint p = MapMode().DeviceToLogical(point);
        if (p != LastPoint) {
            LastPoint = p;
            RecordPoint(recorder, "MouseTo Image, ", p);
        }
    }
    WalkControls([&](TQelGraphicsToolControl& c) { return c.MouseMove(Shift, point); });
    if (!self) return;
    ShowCursorAt(point, Shift);
}

void TQelGraphicsView::MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) {
    TQelScrollViewControl::MouseUp(Button, Shift, X, Y);
    const TQelPoint point{X, Y};
    if (TQelDemoPlayback* recorder = ActiveRecorder()) {
        const TQelPoint p = MapMode().DeviceToLogical(point);
        LastPoint = p;
        if (Button == mbLeft) {
            RecordPoint(recorder, "MouseUp Image, ", p);
            ButtonDown = false;
        } else if (Button == mbRight) {
            RecordPoint(recorder, "MouseRightUp Image, ", p);
            ButtonDown = false;
        }
        recorder->RecordLine("Pause 0.5");
    }
    WalkControls([&](TQelGraphicsToolControl& c) { return c.MouseUp(Button, Shift, point); });
}

void TQelGraphicsView::KeyDown(uint16_t& Key, TShiftState Shift) {
    TQelScrollViewControl::KeyDown(Key, Shift);
    // A key a control used goes no further.
    if (WalkControls([&](TQelGraphicsToolControl& c) { return c.KeyDown(Key, Shift); })) Key = 0;
}

void TQelGraphicsView::KeyUp(uint16_t& Key, TShiftState Shift) {
    TQelScrollViewControl::KeyUp(Key, Shift);
    if (WalkControls([&](TQelGraphicsToolControl& c) { return c.KeyUp(Key, Shift); })) Key = 0;
}

bool TQelGraphicsView::ClaimsKey(uint16_t Key, TShiftState Shift) {
    if (TQelScrollViewControl::ClaimsKey(Key, Shift)) return true;
    for (int32_t i = Objects.Count() - 1; i >= 0; --i)
        if (auto* control = dynamic_cast<TQelGraphicsToolControl*>(Objects.GetObject(i)))
            if (control->ClaimsKey(Key, Shift)) return true;
    return false;
}

