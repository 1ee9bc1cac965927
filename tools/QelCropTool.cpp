#include "QelCropTool.h"

#include <QLabel>
#include <QScopeGuard>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

#include "QelCursors.h"
#include "QelDemoHooks.h"
#include "QelDemoScript.h"
#include "QelError.h"
#include "QelHelpers.h"
#include "QelLocalizer.h"
#include "QelMainForm.h"
#include "QelQtGeometry.h"
#include "QelToolFrameParts.h"
#include "QelToolPanel.h"

TQelCropTool* CropTool = nullptr;

namespace {

constexpr TQelGuid CropSettingsGuid = TQelGuid::Parse("{FA533C1A-B74B-486B-BB5E-7AEA47608D79}");
constexpr uint32_t CropNodeId = 1;
constexpr uint32_t OptionsShownElement = 1;

constexpr int32_t TextOk = 1;
constexpr int32_t TextCancel = 2;
constexpr int32_t TextCrop = 135;
constexpr int32_t TextCropDescription = 2029;

constexpr int32_t FrameWidth = 186;
constexpr int32_t HitHandleSize = 9;
constexpr int32_t InnerHandleSize = 7;
constexpr int32_t ShownMargin = 5;

// Tried in this order; the first square that holds the point wins.
constexpr uint8_t HitOrder[] = {11, 4, 5, 6, 9, 8, 7, 10};
// Drawn in this order.
constexpr uint8_t DrawOrder[] = {4, 11, 6, 5, 8, 9, 10, 7};

int16_t HitCursor(uint8_t Code) {
    switch (Code) {
    case TQelCropToolControl::HitInside: return crSizeAll;
    case TQelCropToolControl::HitTop:
    case TQelCropToolControl::HitBottom: return crSizeNS;
    case TQelCropToolControl::HitTopRight:
    case TQelCropToolControl::HitBottomLeft: return crSizeNESW;
    case TQelCropToolControl::HitRight:
    case TQelCropToolControl::HitLeft: return crSizeWE;
    case TQelCropToolControl::HitBottomRight:
    case TQelCropToolControl::HitTopLeft: return crSizeNWSE;
    default: return crDefault;
    }
}

int32_t Middle(int32_t a, int32_t b) { return int32_t((int64_t(a) + b) / 2); }

// Rect cut to the paint surface and the canvas clip: the surface rows have
// no range check of their own.
TQelRect PaintableRect(TQelViewCanvas& Canvas, const TQelRect& Rect) {
    TQelRect r;
    if (!Canvas.Pixels.Bits || !QelIntersectRect(r, Rect, Canvas.Pixels.GetBounds())) return TQelRect();
    QelIntersectRect(r, r, Canvas.GetClipBox());
    return r;
}

void DarkenRect(TQelViewCanvas& Canvas, const TQelRect& Rect) {
    const TQelRect r = PaintableRect(Canvas, Rect);
    if (r.IsEmpty()) return;
    const size_t bytes = size_t(r.Width()) * size_t(Canvas.Pixels.BytesPerPixel);
    for (int32_t y = r.Top; y < r.Bottom; ++y) {
        uint8_t* p = Canvas.Pixels.PixelAddress(r.Left, y);
        for (size_t i = 0; i < bytes; ++i) p[i] = uint8_t(p[i] - ((p[i] * 92) >> 8));
    }
}

void InvertRect(TQelViewCanvas& Canvas, const TQelRect& Rect) {
    const TQelRect r = PaintableRect(Canvas, Rect);
    if (r.IsEmpty()) return;
    const size_t bytes = size_t(r.Width()) * size_t(Canvas.Pixels.BytesPerPixel);
    for (int32_t y = r.Top; y < r.Bottom; ++y) {
        uint8_t* p = Canvas.Pixels.PixelAddress(r.Left, y);
        for (size_t i = 0; i < bytes; ++i) p[i] = uint8_t(255 - p[i]);
    }
}

// The dotted inverting frame: every second pixel of the border, by the
// parity of x + y, each pixel once.
void FocusRect(TQelViewCanvas& Canvas, const TQelRect& Rect) {
    const TQelRect clip = PaintableRect(Canvas, Rect);
    if (clip.IsEmpty()) return;
    const int32_t bpp = Canvas.Pixels.BytesPerPixel;
    auto dot = [&](int32_t x, int32_t y) {
        if (((int64_t(x) + y) & 1) != 0 || !clip.Contains(x, y)) return;
        uint8_t* p = Canvas.Pixels.PixelAddress(x, y);
        for (int32_t c = 0; c < bpp; ++c) p[c] = uint8_t(255 - p[c]);
    };
    const int32_t right = Rect.Right - 1, bottom = Rect.Bottom - 1;
    for (int32_t x = std::max(Rect.Left, clip.Left); x < std::min(Rect.Right, clip.Right); ++x) {
        dot(x, Rect.Top);
        if (bottom > Rect.Top) dot(x, bottom);
    }
    for (int32_t y = std::max(Rect.Top + 1, clip.Top); y < std::min(bottom, clip.Bottom); ++y) {
        dot(Rect.Left, y);
        if (right > Rect.Left) dot(right, y);
    }
}

void ShowSize(TQelGraphicsDocument* Document, const TQelRect& Rect) {
    auto* status = Document ? dynamic_cast<IQelGraphicsStatus*>(Document->Editor()) : nullptr;
    if (!status) return;
    status->SetStatusText(TQelGraphicsStatusPanel::W, QString::number(Rect.Width()));
    status->SetStatusText(TQelGraphicsStatusPanel::H, QString::number(Rect.Height()));
}

}  // namespace

// --- Frame -------------------------------------------------------------------------

TQelCropFrame::TQelCropFrame(QWidget* Parent) : TQelFrame(Parent) {}

void TQelCropFrame::Create() {
    TQelFrame::Create();
    setObjectName(QStringLiteral("CropFrame"));
    resize(FrameWidth, height());
    TitleLabel = QelAddTitleLabel(this);
    DescriptionLabel = QelAddWrappedLabel(this, "DescriptionLabel");
    OkPanel = QelAddOkPanel(this, CropButton, "CropButton", CancelButton);
    ShowOptions = QelAddShowOptionsLink(this);
    // The crop tool has no options to show.
    ShowOptions->setVisible(false);
    connect(CropButton, &QPushButton::clicked, this, [this] { CropButtonClick(); });
    connect(CancelButton, &QPushButton::clicked, this, [this] { CancelButtonClick(); });
    connect(ShowOptions, &QToolButton::clicked, this, [this] { ShowOptionsButtonClick(); });
}

void TQelCropFrame::CropButtonClick() {
    if (!Tool) return;
    Tool->Apply();
    Tool->RecordMovedLine("Perform", "Perform");
}

void TQelCropFrame::CancelButtonClick() {
    if (!Tool) return;
    Tool->CancelModification();
    Tool->RecordMovedLine("Cancel", "Cancel");
}

void TQelCropFrame::ShowOptionsButtonClick() {
    if (Tool) Tool->SetOptionsShown(!Tool->OptionsShown);
}

// --- Control -------------------------------------------------------------------------

TQelRect TQelCropToolControl::WorkRect() const {
    return View && View->Document() ? View->Document()->GetWorkRect() : TQelRect();
}

TQelRect TQelCropToolControl::DeviceRect(const TQelRect& Rect) const {
    return View ? View->MapMode().LogicalToDeviceRect(Rect) : TQelRect();
}

void TQelCropToolControl::ResetControl() {
    Invalidate();
    State = StateIdle;
    if (GraphicsEditor) GraphicsEditor->UnlockActiveTool();
}

void TQelCropToolControl::KeepOnWorkRect() {
    if (State != StateShown || CropRect.IsEmpty()) return;
    TQelRect kept;
    if (!QelIntersectRect(kept, CropRect, WorkRect())) {
        ResetControl();
        return;
    }
    if (kept == CropRect) return;
    Invalidate();
    CropRect = kept;
}

void TQelCropToolControl::Activate() {
    TQelGraphicsToolControl::Activate();
    SetVisible(true);
}

void TQelCropToolControl::Deactivate() {
    SetVisible(false);
    TQelGraphicsToolControl::Deactivate();
}

void TQelCropToolControl::GetOverlayBounds(const TQelMapMode& MapMode, TQelRect& Rect) const {
    const TQelGraphicsDocument* document = View ? View->Document() : nullptr;
    Rect = document ? MapMode.LogicalToDeviceRect(document->Image.GetBoundsRect()) : TQelRect();
    if (State == StateShown && !Rect.IsEmpty()) InflateRectCopy(Rect, ShownMargin, ShownMargin, Rect);
}

TQelPoint TQelCropToolControl::HandlePoint(const TQelRect& R, uint8_t Code) {
    const int32_t mx = Middle(R.Left, R.Right), my = Middle(R.Top, R.Bottom);
    switch (Code) {
    case HitTop: return {mx, R.Top};
    case HitTopRight: return {R.Right, R.Top};
    case HitRight: return {R.Right, my};
    case HitBottomRight: return {R.Right, R.Bottom};
    case HitBottom: return {mx, R.Bottom};
    case HitBottomLeft: return {R.Left, R.Bottom};
    case HitLeft: return {R.Left, my};
    default: return {R.Left, R.Top};
    }
}

TQelRect TQelCropToolControl::HandleSquare(const TQelPoint& P, int32_t Size) {
    const int32_t left = P.X - Size / 2, top = P.Y - Size / 2;
    return TQelRect(left, top, left + Size, top + Size);
}

uint8_t TQelCropToolControl::HitTest(const TQelMapMode& MapMode, const TQelPoint& P, int32_t Tolerance) const {
    const TQelRect d = MapMode.LogicalToDeviceRect(CropRect);
    for (uint8_t code : HitOrder)
        if (HandleSquare(HandlePoint(d, code), HitHandleSize).Contains(P.X, P.Y)) return code;
    if (d.Contains(P.X, P.Y)) return HitInside;
    if (Tolerance > 0) {
        TQelRect grown;
        InflateRectCopy(d, Tolerance, Tolerance, grown);
        if (grown.Contains(P.X, P.Y)) return 2;
    }
    return HitOutside;
}

bool TQelCropToolControl::GetCursor(TShiftState, const TQelPoint& Point, int16_t& Cursor) {
    if (!Active || !View) return false;
    if (State == StateIdle) {
        Cursor = crCross;
        return true;
    }
    if (State != StateShown) return false;
    const uint8_t code = HitTest(View->MapMode(), Point, 0);
    if (code == HitOutside) return false;
    Cursor = HitCursor(code);
    return true;
}

bool TQelCropToolControl::MouseDown(TMouseButton, TShiftState, const TQelPoint& Point) {
    if (!Active || !View) return false;
    if (State == StateIdle) {
        if (!DeviceRect(WorkRect()).Contains(Point.X, Point.Y)) return false;
        if (GraphicsEditor) GraphicsEditor->LockActiveTool();
        Anchor = View->MapMode().DeviceToLogical(Point);
        CropRect = TQelRect(Anchor.X, Anchor.Y, Anchor.X + 1, Anchor.Y + 1);
        State = StateDrawing;
        return true;
    }
    if (State == StateShown) {
        DragPart = HitTest(View->MapMode(), Point, 0);
        if (DragPart <= 2) return false;
        Anchor = View->MapMode().DeviceToLogical(Point);
        StartRect = CropRect;
        Invalidate();
        State = StateDragging;
        return true;
    }
    return false;
}

bool TQelCropToolControl::MouseMove(TShiftState, const TQelPoint& Point) {
    if (!Active || !View) return false;
    bool handled = false;
    const TQelPoint p = View->MapMode().DeviceToLogical(Point);
    const TQelRect work = WorkRect();
    if (State == StateDrawing) {
        const TQelRect r(std::min(Anchor.X, p.X), std::min(Anchor.Y, p.Y), std::max(Anchor.X, p.X),
                         std::max(Anchor.Y, p.Y));
        QelIntersectRect(CropRect, r, work);
        Invalidate();
        handled = true;
    } else if (State == StateDragging && DragPart > 2) {
        const int32_t dx = p.X - Anchor.X, dy = p.Y - Anchor.Y;
        TQelRect r = StartRect;
        if (DragPart == HitInside) {
            const int32_t w = r.Width(), h = r.Height();
            const int32_t left = std::max(work.Left, std::min(r.Left + dx, work.Right - w));
            const int32_t top = std::max(work.Top, std::min(r.Top + dy, work.Bottom - h));
            r = TQelRect(left, top, left + w, top + h);
        } else {
            if (DragPart == HitTop || DragPart == HitTopRight || DragPart == HitTopLeft) r.Top += dy;
            if (DragPart == HitBottom || DragPart == HitBottomRight || DragPart == HitBottomLeft) r.Bottom += dy;
            if (DragPart == HitRight || DragPart == HitTopRight || DragPart == HitBottomRight) r.Right += dx;
            if (DragPart == HitLeft || DragPart == HitTopLeft || DragPart == HitBottomLeft) r.Left += dx;
            // Dragged past the opposite edge or out of the work rectangle:
            // the rectangle stays as it was.
            if (!QelIntersectRect(r, r, work)) r = CropRect;
        }
        const TQelRect before = DeviceRect(CropRect), after = DeviceRect(r);
        if (before != after) {
            TQelRect both;
            QelUnionRect(both, before, after);
            View->viewport()->update(QelToQRect(both));
            CropRect = r;
        }
        handled = true;
    }
    if (!CropRect.IsEmpty()) ShowSize(View->Document(), CropRect);
    return handled;
}

bool TQelCropToolControl::MouseUp(TMouseButton, TShiftState, const TQelPoint&) {
    if (!Active || (State != StateDrawing && State != StateDragging)) return false;
    State = StateShown;
    Invalidate();
    return true;
}

void TQelCropToolControl::PaintOverlay(TQelViewCanvas& Canvas) {
    if (State == StateIdle) return;
    const TQelMapMode& map = Canvas.MapMode;
    // Only the part on the image: an undo may have made it smaller since.
    TQelRect onImage;
    if (!QelIntersectRect(onImage, CropRect, WorkRect())) return;
    const TQelRect d = map.LogicalToDeviceRect(onImage);
    if (d.IsEmpty()) return;
    if (State == StateShown || State == StateDragging) {
        const TQelRect work = map.LogicalToDeviceRect(WorkRect());
        const TQelRect bands[] = {
            {work.Left, work.Top, work.Right, d.Top},
            {work.Left, d.Top, d.Left, d.Bottom},
            {d.Right, d.Top, work.Right, d.Bottom},
            {work.Left, d.Bottom, work.Right, work.Bottom},
        };
        for (const TQelRect& band : bands) {
            TQelRect r;
            if (QelIntersectRect(r, band, work)) DarkenRect(Canvas, r);
        }
    }
    if (State == StateShown) {
        for (uint8_t code : DrawOrder) {
            const TQelPoint p = HandlePoint(d, code);
            InvertRect(Canvas, HandleSquare(p, HitHandleSize));
            InvertRect(Canvas, HandleSquare(p, InnerHandleSize));
        }
    }
    FocusRect(Canvas, d);
}

// --- Tool ----------------------------------------------------------------------------

TQelCropTool::TQelCropTool() : TQelFramedTool(), Frame(nullptr), OptionsShown(false) {}

TQelCropTool::~TQelCropTool() {
    if (CropTool == this) CropTool = nullptr;
}

void TQelCropTool::Create() {
    TQelFramedTool::Create();
    Name = "Crop";
    AddButton(QelText(TextCrop, QStringLiteral("Crop")));
    if (AddFrame(Frame)) Frame->Tool = this;
    SetControlClass<TQelCropToolControl>();
    SetOptionsShown(false);
    Exclusive = true;
}

void TQelCropTool::Localize() {
    const QString crop = QelText(TextCrop, QStringLiteral("Crop"));
    SetButtonCaption(crop);
    if (!Frame) return;
    Frame->TitleLabel->setText(crop);
    Frame->DescriptionLabel->setText(QelText(TextCropDescription));
    Frame->CropButton->setText(QelText(TextOk));
    Frame->CancelButton->setText(QelText(TextCancel));
    QelSetShowOptionsLink(Frame->ShowOptions, OptionsShown);
}

void TQelCropTool::LoadSettings(TQelSDFReader& Reader) {
    TQelFramedTool::LoadSettings(Reader);
    if (!Reader.OpenNode(CropNodeId, CropSettingsGuid)) return;
    int32_t shown = 0;
    if (Reader.ReadInteger(OptionsShownElement, shown)) SetOptionsShown(shown != 0);
    Reader.CloseNode();
}

void TQelCropTool::SaveSettings(TQelSDFWriter& Writer) {
    TQelFramedTool::SaveSettings(Writer);
    Writer.BeginNode(CropNodeId, CropSettingsGuid);
    Writer.WriteInteger(OptionsShownElement, OptionsShown ? 1 : 0);
    Writer.EndNode();
}

TQelCropToolControl* TQelCropTool::CropControl() const {
    TQelGraphicsView* view = GraphicsEditor ? GraphicsEditor->GetActiveView() : nullptr;
    if (!view) return nullptr;
    for (int i = 0; i < GetControlCount(); ++i) {
        auto* control = dynamic_cast<TQelCropToolControl*>(GetControl(i));
        if (control && control->View == view) return control;
    }
    return nullptr;
}

void TQelCropTool::ResetControl() {
    if (TQelCropToolControl* control = CropControl()) control->ResetControl();
}

void TQelCropTool::UpdateControls() {
    TQelFramedTool::UpdateControls();
    // Another tool was made current (by a script: the editor is locked to
    // this one while a rectangle is out): the rectangle goes and so does the
    // lock. Undo and redo give the tool back before the next idle pass.
    for (int i = 0; i < GetControlCount(); ++i) {
        auto* control = dynamic_cast<TQelCropToolControl*>(GetControl(i));
        if (!control) continue;
        if (!Active && control->State != TQelCropToolControl::StateIdle) control->ResetControl();
        control->KeepOnWorkRect();
    }
    const bool usable = UpdateButton();
    if (!Frame) return;
    const TQelCropToolControl* control = CropControl();
    const bool shown = control && control->State == TQelCropToolControl::StateShown;
    QelSetEnabled(Frame->CropButton, usable && shown);
    QelSetEnabled(Frame->CancelButton, usable && shown);
}

void TQelCropTool::RegisterDemoTargets() {
    TQelDemoHooks* hooks = TQelDemoHooks::Instance();
    if (hooks) {
        if (Frame) {
            hooks->RegisterComponent(Name + "Perform", Frame->CropButton);
            hooks->RegisterComponent(Name + "Cancel", Frame->CancelButton);
        }
        const QPointer<TQelCropTool> self = this;
        hooks->RegisterCommand(Name + "Perform", [self] { if (self) self->Apply(); });
        hooks->RegisterCommand(Name + "Cancel", [self] { if (self) self->CancelModification(); });
    }
    TQelFramedTool::RegisterDemoTargets();
}

void TQelCropTool::Apply() {
    TQelGraphicsDocument* document = QelActiveDocument();
    TQelGraphicsView* view = GraphicsEditor ? GraphicsEditor->GetActiveView() : nullptr;
    TQelCropToolControl* control = CropControl();
    if (!document || !view || !control) return;
    const TQelRect rect = control->CropRect;
    BeginModification(view);
    // Also when a copy or the crop fails: the modification ends and the
    // editor is unlocked. A pushed state holds the images from before.
    auto end = qScopeGuard([this] {
        FinishModification();
        ResetControl();
    });
    document->AddCommandState(std::make_unique<TQelCropCommandState>(this, document, rect));
    document->Crop(rect);
}

void TQelCropTool::SetOptionsShown(bool Value) {
    OptionsShown = Value;
    if (Frame) QelSetShowOptionsLink(Frame->ShowOptions, Value);
}

void TQelCropTool::CancelModification() {
    ResetControl();
    TQelFramedTool::CancelModification();
}

void TQelCropTool::DocumentClosing(TQelGraphicsDocument* Document) {
    // The controls go with the document's view; the lock must not outlive
    // them.
    for (int i = 0; i < GetControlCount(); ++i) {
        auto* control = dynamic_cast<TQelCropToolControl*>(GetControl(i));
        if (control && control->View && control->View->Document() == Document) control->ResetControl();
    }
    TQelFramedTool::DocumentClosing(Document);
}

// --- Undo state ------------------------------------------------------------------------

TQelCropCommandState::TQelCropCommandState(TQelGraphicsTool* NewTool, TQelGraphicsDocument* NewDocument,
                                           const TQelRect& NewRect)
    : TQelCustomGraphicsCommandState(NewTool, NewRect, NewDocument), WorkRect(), Image(), Original() {
    if (!Document) return;
    WorkRect = Document->GetWorkRect();
    Document->CopyImageTo(Image, &Original);
    if ((Document->GetPixels() && !Image.Bits) || (Document->GetOriginalPixels() && !Original.Bits))
        throw EQelOutOfMemory("Not enough memory to keep the image for undoing the crop");
}

void TQelCropCommandState::Undo() {
    if (Document) {
        Document->AssignImage(Image, &Original);
        Document->SetSelectionRect(WorkRect);
    }
    TQelCustomGraphicsCommandState::Undo();
}

void TQelCropCommandState::Redo() {
    if (Document) Document->Crop(Rect);
    TQelCustomGraphicsCommandState::Redo();
}
