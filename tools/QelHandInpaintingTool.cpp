#include "QelHandInpaintingTool.h"
#include "QelHandInpaintingToolControl.h"

#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QToolButton>

#include <algorithm>
#include <cstring>
#include <limits>

#include "QelDemoHooks.h"
#include "QelDemoScript.h"
#include "QelGraphicsEditor.h"
#include "QelLTBitmap.h"
#include "QelLocalizer.h"
#include "QelMainForm.h"
#include "QelToolFrameParts.h"
#include "QelToolPanel.h"
#include "SurfaceMetric.h"

TQelHandInpaintingTool* HandInpaintingTool = nullptr;

namespace {

constexpr int32_t TextTitle = 2450;
constexpr int32_t TextLongDefect = 2451;
constexpr int32_t TextAdjustment = 2453;
constexpr int32_t TextAutoHint = 2457;
constexpr int32_t TextAuto = 562;
constexpr int32_t TextSize = 154;
constexpr int32_t TextCancel = 2;

// The engine's cells look this far for an unmasked neighbour.
constexpr int32_t BorderSquaredRadius = 2;
// Degree of the colour surfaces fitted on the border.
constexpr int SurfaceDegree = 2;
// Share of the border a colour cluster may hold and still be dropped.
constexpr double OutlierFraction = 0.2;
// The preview keeps showing a kept patch until the pointer is this far off.
constexpr double CommitRadius = 3.0;
// The panel is this wide for the previews.
constexpr int PanelWidth = 264;

// Image coordinates far off the image must not wrap round into it.
int32_t Sat32(int64_t v) {
    return int32_t(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

void SetVisibleIfChanged(QWidget* Widget, bool Value) {
    if (Widget && Widget->isVisibleTo(Widget->parentWidget()) != Value) Widget->setVisible(Value);
}

// A pixel of Buffer, or the preview grey outside it.
void GetPreviewPixel(const TQelPixels& Buffer, int64_t X, int64_t Y, uint8_t* Out) {
    if (Buffer.Bits && X >= Buffer.Left && Y >= Buffer.Top && X < int64_t(Buffer.Left) + Buffer.Width &&
        Y < int64_t(Buffer.Top) + Buffer.Height) {
        std::memcpy(Out, Buffer.PixelAddress(int32_t(X), int32_t(Y)), 3);
        return;
    }
    std::memset(Out, TQelHandInpaintingTool::OutsideGrey, 3);
}

// Preview pixels (c, r) for c, r in First..Last (clipped to the picture)
// from Buffer at Origin + (c, r).
void CopyPreview(QImage& Picture, const TQelPixels& Buffer, const TQelPoint& Origin, int32_t First, int32_t Last) {
    const int32_t from = std::max(First, 0);
    const int32_t toRow = std::min(Last, int32_t(Picture.height()) - 1);
    const int32_t toColumn = std::min(Last, int32_t(Picture.width()) - 1);
    for (int32_t r = from; r <= toRow; ++r) {
        uint8_t* line = Picture.scanLine(r);
        for (int32_t c = from; c <= toColumn; ++c)
            GetPreviewPixel(Buffer, int64_t(Origin.X) + c, int64_t(Origin.Y) + r, line + ptrdiff_t(c) * 3);
    }
}

}  // namespace

// --- Life cycle ----------------------------------------------------------------------

TQelHandInpaintingTool::TQelHandInpaintingTool() : TQelFramed() {
    Name = "HandInpainting";
    MinSize = 10;
    Size = 25;
    MaxSize = 100;
    DrawMode = DrawModeStamp;
    Exclusive = true;
    SetControlClass<TQelHandInpaintingToolControl>();
    HandInpaintingTool = this;
}

TQelHandInpaintingTool::~TQelHandInpaintingTool() {
    // The engine refers to a document's buffers; it goes first.
    FEngine.reset();
    if (FOwnsFrame) delete FFrame.data();
    if (HandInpaintingTool == this) HandInpaintingTool = nullptr;
}

void TQelHandInpaintingTool::Create() {
    TQelBrushTool::Create();
    TQelHandInpaintingFrame* frame = AddFrame(FFrame);
    if (frame) {
        ToolPanelModule->SetPanelWidth(PanelWidth);
    } else {
        // Without a panel the tool keeps its frame itself.
        frame = QelCreateFrame<TQelHandInpaintingFrame>(nullptr);
        FOwnsFrame = true;
    }
    FFrame = frame;
    BindSizeTrackBar(frame->SizeTrackBar);
    // The boxes and buttons show the tool's values from the start.
    SetAdjustment(AdjustmentKind);
    SetAntiAliasing(AntiAliasing);
    SetLongDefect(LongDefect);
    SetAutoReflection(AutoReflection);
    SetReflectionDirection(ReflectionDirection);
    AddButton(QStringLiteral("Hand Inpainting"));
    UpdatePreviewSize();
    ShowPreviews();
}


void TQelHandInpaintingTool::Localize() {
    TQelBrushTool::Localize();
    const QString title = QelText(TextTitle, QStringLiteral("Hand Inpainting"));
    SetButtonCaption(title);
    TQelHandInpaintingFrame* f = FFrame;
    if (!f) return;
    f->TitleLabel->setText(title);
    f->SizeLabel->setText(QelText(TextSize, QStringLiteral("Size")) + QStringLiteral(":"));
    f->CancelTBXButton->setText(QelText(TextCancel, QStringLiteral("Cancel")));
    f->LongDefectTBXCheckBox->setText(QelText(TextLongDefect, QStringLiteral("Long Defect")));
    f->AdjustmentTBXCheckBox->setText(QelText(TextAdjustment, QStringLiteral("Adjustment")));
    f->AutoReflectionTBXCheckBox->setText(QelText(TextAuto, QStringLiteral("Auto")));
    f->AutoReflectionTBXCheckBox->setToolTip(QelText(TextAutoHint, QStringLiteral("Auto Select Best Reflection")));
}

void TQelHandInpaintingTool::UpdateControls() {
    TQelBrushTool::UpdateControls();
    // The button as every framed tool's; the frame's parts are set one by
    // one below, so the frame is not handed over.
    const bool enabled = QelUpdateToolButton(this, Button, nullptr);
    TQelHandInpaintingFrame* f = FFrame;
    if (!f) return;
    QelSetEnabled(f, enabled);
    QelSetEnabled(f->TitleLabel, enabled);
    f->SizeLabel->setText(QelText(TextSize, QStringLiteral("Size")) + QStringLiteral(": ") + QString::number(Size));
    QelSetEnabled(f->SizeLabel, enabled && !Pending);
    QelSetEnabled(f->SizeTrackBar, enabled && !Pending);
    QelSetEnabled(f->CancelTBXButton, Pending);
    for (QWidget* w : {f->ImagePanel, f->OptionsPanel, f->AdjustmentPanel, f->AreaReflectionPanel,
                       static_cast<QWidget*>(f->LongDefectTBXCheckBox), static_cast<QWidget*>(f->AdjustmentTBXCheckBox),
                       static_cast<QWidget*>(f->AntiAliasingTBXCheckBox),
                       static_cast<QWidget*>(f->AutoReflectionTBXCheckBox)})
        QelSetEnabled(w, enabled);
    SetVisibleIfChanged(f->OptionsPanel, OptionsVisible);
}

void TQelHandInpaintingTool::DocumentOpened(TQelGraphicsDocument* Document) {
    TQelBrushTool::DocumentOpened(Document);
    // An engine of an earlier document refers to buffers that are gone.
    FEngine.reset();
    Pending = false;
    Committed = false;
    // Not pending: the target preview as chosen, the second one hidden.
    ShowPreviews();
    UpdatePreviewSize();
    // They showed the photo that was open before.
    if (TQelHandInpaintingFrame* f = FFrame) {
        f->TargetImage->Clear();
        f->HandyImage->Clear();
    }
}

void TQelHandInpaintingTool::DocumentClosing(TQelGraphicsDocument* Document) {
    TQelBrushTool::DocumentClosing(Document);
    if (TQelHandInpaintingFrame* f = FFrame) {
        f->TargetImage->setVisible(false);
        f->HandyImage->setVisible(false);
        f->ArrangeImagePanel();
    }
}

void TQelHandInpaintingTool::SetSize(int32_t Value) {
    TQelBrushTool::SetSize(Value);
    if (Pending) return;
    if (UpdatePreviewSize() && FFrame && FFrame->TargetImage->isVisibleTo(FFrame->ImagePanel)) RefreshPreviewAround();
}

void TQelHandInpaintingTool::BuildMask() {
    BuildFalloffMask(BrushMask, Size, 255, 160);
    TQelMaskDrawTool::BuildMask();
}

// --- Options ---------------------------------------------------------------------------

void TQelHandInpaintingTool::SetAdjustment(int32_t Kind) {
    AdjustmentKind = Kind;
    // Stored first: the box's handler, which runs only on a real change,
    // has the last word.
    if (FFrame) FFrame->AdjustmentTBXCheckBox->setChecked(Kind == TAreaCorrelator::KindPerChannel);
}

void TQelHandInpaintingTool::SetAntiAliasing(bool Value) {
    AntiAliasing = Value;
    if (FFrame) FFrame->AntiAliasingTBXCheckBox->setChecked(Value);
}

void TQelHandInpaintingTool::SetLongDefect(bool Value) {
    LongDefect = Value;
    if (FFrame) FFrame->LongDefectTBXCheckBox->setChecked(Value);
}

void TQelHandInpaintingTool::SetAutoReflection(bool Value) {
    AutoReflection = Value;
    if (FFrame) FFrame->AutoReflectionTBXCheckBox->setChecked(Value);
}

void TQelHandInpaintingTool::SetReflectionDirection(int32_t Direction) {
    // There are eight orientations and eight buttons; other values would
    // index past both.
    if (Direction < 0 || Direction > 7) return;
    ReflectionDirection = uint8_t(Direction);
    if (!FFrame) return;
    QToolButton* button = FFrame->ReflectionButtons[size_t(Direction)];
    const QSignalBlocker blocker(button);
    button->setChecked(true);
}

void TQelHandInpaintingTool::SetTargetPreview(bool Value) {
    TargetPreview = Value;
    if (FFrame) {
        const QSignalBlocker blocker(FFrame->LoupeSpeedButton);
        FFrame->LoupeSpeedButton->setChecked(Value);
    }
    ShowPreviews();
}

void TQelHandInpaintingTool::SetSecondPreview(bool Value) {
    SecondPreview = Value;
    if (FFrame) {
        const QSignalBlocker blocker(FFrame->TwoSpeedButton);
        FFrame->TwoSpeedButton->setChecked(Value);
    }
    ShowPreviews();
}

void TQelHandInpaintingTool::StepReflectionDirection(int32_t Delta) {
    if (AutoReflection) return;
    if (Delta > 0 && ReflectionDirection < 7)
        SetReflectionDirection(ReflectionDirection + 1);
    else if (Delta < 0 && ReflectionDirection > 0)
        SetReflectionDirection(ReflectionDirection - 1);
    UpdateSource();
}

// --- The patch ----------------------------------------------------------------------------

TQelRect TQelHandInpaintingTool::GetSquareAt(const TQelPoint& Point) const {
    const int32_t half = (Size + 1) / 2;
    const int32_t left = Sat32(int64_t(Point.X) - half);
    const int32_t top = Sat32(int64_t(Point.Y) - half);
    return TQelRect(left, top, Sat32(int64_t(left) + Size), Sat32(int64_t(top) + Size));
}

void TQelHandInpaintingTool::Click() {
    if (!Pending) {
        // A patch needs a document to go into.
        if (!GraphicsEditor || !GraphicsEditor->GetActiveView()) return;
        // The engine belongs to one target; a target the image never
        // reaches gets none.
        FEngine.reset();
        TargetSquare = GetSquareAt(CurrentPoint);
        UpdatePreviewSize();
        UpdateSource();
        if (!RunningDocument) return;
    } else if (RunningDocument) {
        FinishModification();
        Committed = true;
        CommitPoint = CurrentPoint;
    }
    Pending = !Pending;
    ShowPreviews();
}

void TQelHandInpaintingTool::UpdateSource() {
    SourceSquare = GetSquareAt(CurrentPoint);
    if (!RunningDocument || !RunningDocument->Modifying) {
        TQelGraphicsView* view = GraphicsEditor ? GraphicsEditor->GetActiveView() : nullptr;
        if (!view) return;
        // Pending with nothing running: a close that was then cancelled kept
        // the patch as a step. It is still the pending patch, so it is taken
        // back before the new one goes in; else Cancel would drop only that.
        if (Pending && GraphicsEditor->CanUndo() && TopUndoIsOwn()) {
            GraphicsEditor->DoUndo();
            ShowPreviews();
        }
        BeginModification(view);
        if (!RunningDocument) return;
    }
    DrawRect(TargetSquare);
    // Unclipped: even a patch wholly outside the image is one undo step,
    // so Cancel always has the step to undo.
    AddModifiedRect(TargetSquare);
}

void TQelHandInpaintingTool::PaintRect(const TQelRect&) {
    if (Pending) {
        if (AutoReflection && EngineUsable()) SetReflectionDirection(FEngine->BestOrientation(SourceSquare));
        RenderPreviews(true);
        return;
    }
    FEngine.reset();
    if (!BackupPixels || !CurrentPixels) return;
    FEngine = std::make_unique<TAreaCorrelator>(TargetSquare, BorderSquaredRadius, BackupPixels, CurrentPixels);
    FEngineSource = BackupPixels;
    FEngineDest = CurrentPixels;
    FEngineBounds = CurrentPixels->GetBounds();
    // The brush mask lies with its origin on the square's top-left; every
    // cell of the square is set, also those outside the image.
    for (int32_t y = 0; y < TargetSquare.Height(); ++y)
        for (int32_t x = 0; x < TargetSquare.Width(); ++x) {
            const uint8_t* m = BrushMask.MaskAddress(BrushMask.Left + x, BrushMask.Top + y);
            FEngine->SetMask(TargetSquare.Left + x, TargetSquare.Top + y, m && *m > 0 ? 1 : 0);
        }
    ListsStale = true;
    RenderPreviews(false);
}

bool TQelHandInpaintingTool::EngineUsable() const {
    const TQelGraphicsDocument* document = RunningDocument;
    return FEngine && document && document->Modifying && FEngineSource == BackupPixels &&
           FEngineDest == CurrentPixels && CurrentPixels && CurrentPixels->GetBounds() == FEngineBounds &&
           BackupPixels->GetBounds() == FEngineBounds;
}

void TQelHandInpaintingTool::RenderPreviews(bool Patch) {
    // Only the running patch has an engine whose buffers still exist.
    TQelHandInpaintingFrame* f = FFrame;
    if (!f || !EngineUsable()) return;
    const int32_t width = f->TargetImage->PictureWidth();
    const int32_t size = TargetSquare.Width();
    const int32_t margin = (width - size) / 2;
    PreviewOrigin = TQelPoint{Sat32(int64_t(TargetSquare.Left) - margin),
                              Sat32(int64_t(TargetSquare.Top) - margin)};
    if (Patch) {
        if (SecondPreview)
            RenderPreview(SourceSquare, margin, margin + size - 1, f->HandyImage, 0, SurfaceDegree,
                          TAreaCorrelator::KindCopy);
        RenderPreview(SourceSquare, margin, margin + size - 1, f->TargetImage, ReflectionDirection, SurfaceDegree,
                      AdjustmentKind);
    } else {
        if (SecondPreview)
            RenderPreview(TargetSquare, 0, width - 1, f->HandyImage, 0, SurfaceDegree, TAreaCorrelator::KindCopy);
        RenderPreview(TargetSquare, 0, width - 1, f->TargetImage, 0, SurfaceDegree, TAreaCorrelator::KindCopy);
    }
}

void TQelHandInpaintingTool::RenderPreview(const TQelRect& Square, int32_t First, int32_t Last,
                                           TQelPreviewImage* Image, uint8_t Orientation, int Degree, int Kind) {
    if (ListsStale) {
        FEngine->BuildLists();
        if (LongDefect) FEngine->RemoveBorderOutliers(OutlierFraction);
        if (AntiAliasing) FEngine->ComputeWeights();
        ListsStale = false;
    }
    // The engine skips cells whose source lies outside the image; they
    // show the image as it was, not an earlier patch.
    TQelRect onImage;
    if (QelIntersectRect(onImage, TargetSquare, CurrentPixels->GetBounds()))
        QelCopyPixelsRect(*CurrentPixels, onImage.Left, onImage.Top, onImage, *BackupPixels);
    FEngine->Transfer(TQelPoint{Square.Left, Square.Top}, Orientation, Degree, Kind, AntiAliasing);
    CopyPreview(Image->Picture, *CurrentPixels, PreviewOrigin, First, Last);
    Image->update();
}

void TQelHandInpaintingTool::RefreshPreviewAround() {
    TQelHandInpaintingFrame* f = FFrame;
    const TQelGraphicsDocument* document = GraphicsEditor ? GraphicsEditor->GetActiveDocument() : nullptr;
    if (!f || !document) return;
    QImage& picture = f->TargetImage->Picture;
    const int32_t half = picture.width() / 2;
    PreviewOrigin = TQelPoint{Sat32(int64_t(CurrentPoint.X) - half), Sat32(int64_t(CurrentPoint.Y) - half)};
    CopyPreview(picture, document->Backup, PreviewOrigin, 0, std::max(picture.width(), picture.height()) - 1);
    f->TargetImage->update();
}

bool TQelHandInpaintingTool::UpdatePreviewSize() {
    TQelHandInpaintingFrame* f = FFrame;
    if (!f) return false;
    // Fixed widths, not the widgets' present ones: a layout that has not
    // run yet must not decide the count.
    const int32_t width = SecondPreview ? SecondPreviewWidth : PreviewWidth;
    const int32_t size = std::max(Size, 1);
    const int32_t count = std::clamp(QelTrunc(double(width) / size / 1.1), 1, 6);
    const int32_t side = width / count;
    const bool changed = f->TargetImage->PictureWidth() != side;
    f->TargetImage->SetPictureSize(side);
    f->HandyImage->SetPictureSize(side);
    return changed;
}

void TQelHandInpaintingTool::ShowPreviews() {
    TQelHandInpaintingFrame* f = FFrame;
    if (!f) return;
    f->HandyImage->setVisible(SecondPreview && Pending);
    f->TargetImage->setVisible(TargetPreview || Pending);
    f->HandyImage->setGeometry(4, 4, SecondPreviewWidth, SecondPreviewWidth);
    if (SecondPreview)
        f->TargetImage->setGeometry(4, f->HandyImage->y() + f->HandyImage->height() + 4, f->HandyImage->width(),
                                    f->HandyImage->height());
    else
        f->TargetImage->setGeometry(4, 4, PreviewWidth, PreviewWidth);
    f->ArrangeImagePanel();
}

bool TQelHandInpaintingTool::IsNearLastCommit() const {
    return Committed && SurfaceDistance(1, CommitPoint.X, CommitPoint.Y, CurrentPoint.X, CurrentPoint.Y) <= CommitRadius;
}

bool TQelHandInpaintingTool::TopUndoIsOwn() const {
    TQelGraphicsDocument* document = GraphicsEditor ? GraphicsEditor->GetActiveDocument() : nullptr;
    if (!document) return false;
    const auto* state = dynamic_cast<const TQelCustomGraphicsCommandState*>(document->History.NextUndo());
    return state && state->Tool == this;
}

void TQelHandInpaintingTool::CancelPatch() {
    // Decided by the tool's own state, not by whether the button looked
    // enabled: only a patch of this tool is ever taken back.
    const bool wasPending = Pending;
    Pending = false;
    if (RunningDocument && RunningDocument->Modifying) FinishModification();
    if (wasPending && GraphicsEditor && GraphicsEditor->CanUndo() && TopUndoIsOwn()) GraphicsEditor->DoUndo();
    ShowPreviews();
}

// --- Tutorials ------------------------------------------------------------------------------

void TQelHandInpaintingTool::RecordAction(const QByteArray& ElementName, const QByteArray& Line) const {
    if (!Recording() || Name.isEmpty()) return;
    if (!ElementName.isEmpty()) RecordLine("MouseCurvedMove " + Name + ElementName);
    if (!Line.isEmpty()) RecordLine(Name + Line);
}

void TQelHandInpaintingTool::ExecuteCommand(TQelDemoPlayback* Playback, const QByteArray& Command,
                                            const TQelDemoScriptParams& Params, TQelDemoScriptUserAction* Action,
                                            bool& Handled) {
    if (!Name.isEmpty()) {
        struct TCommand {
            const char* Suffix;
            void (*Run)(TQelHandInpaintingTool&, int32_t);
        };
        static const TCommand Commands[] = {
            {"Adjustment", [](TQelHandInpaintingTool& t, int32_t v) { t.SetAdjustment(v); }},
            {"AreaReflection", [](TQelHandInpaintingTool& t, int32_t v) { t.SetReflectionDirection(v); }},
            {"AutoReflection", [](TQelHandInpaintingTool& t, int32_t v) { t.SetAutoReflection(v != 0); }},
            {"LongDefect", [](TQelHandInpaintingTool& t, int32_t v) { t.SetLongDefect(v != 0); }},
            {"AntiAliasing", [](TQelHandInpaintingTool& t, int32_t v) { t.SetAntiAliasing(v != 0); }},
        };
        for (const TCommand& c : Commands)
            if (Command == CommandName(c.Suffix)) {
                c.Run(*this, Params.AsInteger(0));
                Handled = true;
                return;
            }
        if (Command == CommandName("CancelButton")) {
            if (FFrame)
                FFrame->CancelTBXButtonClick();
            else
                CancelPatch();
            Handled = true;
            return;
        }
    }
    TQelBrushTool::ExecuteCommand(Playback, Command, Params, Action, Handled);
}

void TQelHandInpaintingTool::GetCommandPoint(TQelDemoPlayback* Playback, const TQelDemoScriptParams& Params,
                                             QPoint& Point, bool& Handled) {
    if (TQelHandInpaintingFrame* f = FFrame; f && !Name.isEmpty()) {
        const QByteArray element = ElementName(Params);
        const std::pair<const char*, QWidget*> elements[] = {
            {"TargetImage", f->TargetImage},
            {"CancelButton", f->CancelTBXButton},
            {"Adjustment", f->AdjustmentTBXCheckBox},
            {"AutoReflection", f->AutoReflectionTBXCheckBox},
            {"LongDefect", f->LongDefectTBXCheckBox},
            {"AntiAliasing", f->AntiAliasingTBXCheckBox},
        };
        for (const auto& [suffix, widget] : elements)
            if (element == CommandName(suffix)) {
                GetControlCenter(widget, Point);
                Handled = true;
                return;
            }
        for (QToolButton* button : f->ReflectionButtons)
            if (element == CommandName(button->objectName().toLatin1().constData())) {
                GetControlCenter(button, Point);
                Handled = true;
                return;
            }
    }
    TQelFramed::GetCommandPoint(Playback, Params, Point, Handled);
}
