#include "QelMakeUpSurfaceTool.h"

#include <QAction>
#include <QCheckBox>
#include <QEvent>
#include <QLabel>
#include <QSignalBlocker>
#include <QSlider>
#include <QToolButton>

#include <algorithm>
#include <cmath>

#include "QelCursors.h"
#include "QelDemoHooks.h"
#include "QelError.h"
#include "QelGraphicsEditor.h"
#include "QelLocalizer.h"
#include "QelMainForm.h"
#include "QelRotateTool.h"
#include "QelToolFrameParts.h"
#include "Spectrum.h"

namespace {

constexpr TQelGuid MakeUpSurfaceSettingsGuid = TQelGuid::Parse("{031714C4-FC12-4A22-8B32-3B7A3FB50200}");
constexpr uint32_t SettingsNodeId = 1;
constexpr uint32_t SizeElement = 1;
constexpr uint32_t ColorElement = 4;

constexpr int32_t TextSize = 154;
constexpr int32_t TextOpacity = 2008;
constexpr int32_t TextHardness = 2009;
constexpr int32_t TextBrightness = 550;
constexpr int32_t TextTint = 2610;
constexpr int32_t TextRed = 540;
constexpr int32_t TextGreen = 541;
constexpr int32_t TextBlue = 542;

constexpr int32_t PlaneSize = 256;
constexpr int32_t PanelWidth = 272;
constexpr uint16_t KeyP = 80;

IQelGraphicsStatus* FindStatus() {
    if (GraphicsEditor) return GraphicsEditor;
    IQelGraphicsStatus* found = nullptr;
    if (TQelApplication* app = TQelApplication::Instance())
        app->ForEachComponent<IQelGraphicsStatus>([&](IQelGraphicsStatus* status) {
            found = status;
            return true;
        });
    return found;
}

void TextIfChanged(QLabel* Label, const QString& Text) {
    if (Label && Label->text() != Text) Label->setText(Text);
}

}  // namespace

// --- TQelMakeUpSurfaceTool ---------------------------------------------------------

TQelMakeUpSurfaceTool::TQelMakeUpSurfaceTool()
    : TQelFramed(),
      Frame(),
      Palette(),
      PickMode(false),
      Mode(ModeNormal),
      UseDetail(true),
      BrightnessTrackBar(),
      FBrightnessConnection(),
      FOwnFrame() {}

TQelMakeUpSurfaceTool::~TQelMakeUpSurfaceTool() {
    QObject::disconnect(FBrightnessConnection);
    if (BrightnessTrackBar) BrightnessTrackBar->removeEventFilter(this);
    // The button would call into a freed tool.
    delete Button.data();
}

void TQelMakeUpSurfaceTool::Create() {
    TQelCustomBlurBrushTool::Create();
    Accumulate = true;
    CreateToolbarItemAndFrame();
    if (!Frame) throw EQelProgramError("The make-up tool has no options frame.");
    Frame->Tool = this;
    QFont title = Frame->TitleLabel->font();
    title.setBold(true);
    Frame->TitleLabel->setFont(title);
    for (QWidget* w : {static_cast<QWidget*>(Frame->OpacityLabel), static_cast<QWidget*>(Frame->OpacityTrackBar),
                       static_cast<QWidget*>(Frame->HardnessLabel), static_cast<QWidget*>(Frame->HardnessTrackBar)})
        w->hide();
    MaxSize = 100;
    BindSizeTrackBar(Frame->SizeTrackBar);
    BindOpacityTrackBar(Frame->OpacityTrackBar);
    BindHardnessTrackBar(Frame->HardnessTrackBar);
    BrightnessTrackBar = Frame->BrightnessTrackBar;
    {
        const QSignalBlocker blocker(BrightnessTrackBar);
        BrightnessTrackBar->setRange(0, 255);
        BrightnessTrackBar->setTickPosition(QSlider::TicksBelow);
        BrightnessTrackBar->setTickInterval(16);
    }
    FBrightnessConnection = connect(BrightnessTrackBar, &QSlider::valueChanged, this,
                                    [this](int position) { BrightnessTrackBarChange(position); });
    BrightnessTrackBar->installEventFilter(this);
    SetControlClass<TQelMakeUpSurfaceToolControl>();
    UseDetail = true;
    Palette.Create(Frame->PaletteTntPaintBox, Frame->ColorTntPaintBox, PlaneSize, TMakeUpPalette::ModeRed, 128,
                   TQelPoint{128, 128});
    SetBrightnessPosition(Palette.GetLevel());
    if (ToolPanelModule) ToolPanelModule->SetPanelWidth(PanelWidth);
}

void TQelMakeUpSurfaceTool::CreateToolbarItemAndFrame() {
    CreateItemAndFrame<TQelMakeUpSurfaceFrame>("MakeUpSurface", QStringLiteral("Powder"));
}

TQelGuid TQelMakeUpSurfaceTool::GetSettingsGUID() const { return MakeUpSurfaceSettingsGuid; }

void TQelMakeUpSurfaceTool::ApplyPreset(int32_t NewHardness, int32_t NewOpacity, int32_t NewMode) {
    SetHardness(NewHardness);
    SetOpacity(NewOpacity);
    // Checking the box already makes the mode Color, so SetMode below finds
    // nothing to do for the Color presets: they tint the palette themselves.
    Frame->TintTBXCheckBox->setChecked(NewMode == ModeColor);
    Frame->TintTBXCheckBox->hide();
    SetMode(NewMode);
    if (NewMode == ModeColor) {
        Palette.SetTint(true);
        SetBrightnessPosition(255);
    }
}

void TQelMakeUpSurfaceTool::Localize() {
    TQelCustomBlurBrushTool::Localize();
    if (!Frame) return;
    Frame->SizeLabel->setText(QelText(TextSize) + ':');
    Frame->OpacityLabel->setText(QelText(TextOpacity) + ':');
    Frame->HardnessLabel->setText(QelText(TextHardness) + ':');
    Frame->BrightnessTBXLabel->setText(QelText(TextBrightness) + ':');
    Frame->TintTBXCheckBox->setText(QelText(TextTint));
    Frame->RedTntSpeedButton->setText(QelText(TextRed));
    Frame->GreenTntSpeedButton->setText(QelText(TextGreen));
    Frame->BlueTntSpeedButton->setText(QelText(TextBlue));
}

void TQelMakeUpSurfaceTool::LocalizePreset(int32_t TextId) {
    const QString text = QelText(TextId);
    SetButtonCaption(text);
    if (Frame) Frame->TitleLabel->setText(text);
}

void TQelMakeUpSurfaceTool::LoadSettings(TQelSDFReader& Reader) {
    TQelCustomBlurBrushTool::LoadSettings(Reader);
    if (!Reader.OpenNode(SettingsNodeId, GetSettingsGUID())) return;
    int32_t value = 0;
    if (Reader.ReadInteger(SizeElement, value)) SetSize(value);
    // Stored as a platform colour value, red in the low byte.
    if (Reader.ReadInteger(ColorElement, value)) Palette.SetColor(SwapRedBlue(uint32_t(value)));
    SetBrightnessPosition(Palette.GetLevel());
    if (Frame) Frame->UpdateColorButtons();
    Reader.CloseNode();
}

void TQelMakeUpSurfaceTool::SaveSettings(TQelSDFWriter& Writer) {
    TQelCustomBlurBrushTool::SaveSettings(Writer);
    Writer.BeginNode(SettingsNodeId, GetSettingsGUID());
    Writer.WriteInteger(SizeElement, Size);
    Writer.WriteInteger(ColorElement, int32_t(ColorFromBGR(Palette.GetColor())));
    Writer.EndNode();
}

void TQelMakeUpSurfaceTool::UpdateControls() {
    TQelCustomBlurBrushTool::UpdateControls();
    const bool checked = GraphicsEditor ? GraphicsEditor->ActiveTool.data() == this : Active;
    const bool enabled = GraphicsEditor ? GraphicsEditor->CanToolModify(this) : true;
    QelSetChecked(Button, checked);
    QelSetEnabled(Button, enabled);
    if (!Frame) return;
    const bool controls = enabled && checked;
    Frame->SetControlsEnabled(controls);
    QelSetEnabled(Frame->BrightnessTrackBar, controls && Mode != ModeColor);
    QelSetEnabled(Frame->BrightnessTBXLabel, controls && Mode != ModeColor);
    TextIfChanged(Frame->SizeLabel, QelText(TextSize) + ": " + QString::number(Frame->SizeTrackBar->value()));
    TextIfChanged(Frame->BrightnessTBXLabel,
                  QelText(TextBrightness) + ": " + QString::number(Frame->BrightnessTrackBar->value()));
}

void TQelMakeUpSurfaceTool::RegisterDemoTargets() {
    TQelFramed::RegisterDemoTargets();
    TQelDemoHooks* hooks = TQelDemoHooks::Instance();
    if (!hooks || !Frame) return;
    hooks->RegisterComponent(Name + "ColorSelector", Frame->ColorSelectorTntSpeedButton);
    hooks->RegisterComponent(Name + "Color", Frame->ColorTntPaintBox);
    hooks->RegisterComponent(Name + "Brightness", Frame->BrightnessTrackBar);
    hooks->RegisterComponent(Name + "Red", Frame->RedTntSpeedButton);
    hooks->RegisterComponent(Name + "Green", Frame->GreenTntSpeedButton);
    hooks->RegisterComponent(Name + "Blue", Frame->BlueTntSpeedButton);
    hooks->RegisterComponent(Name + "Palette", Frame->PaletteTntPaintBox);

    QPointer<TQelMakeUpSurfaceTool> self(this);
    hooks->RegisterBoolCommand(Name + "ColorSelector", PickMode, [self](bool on) {
        if (self) self->SetPickMode(on);
    });
    hooks->RegisterIntCommand(Name + "Brightness", Palette.GetLevel(), [self](int32_t value) {
        if (self) self->SetBrightnessPosition(value);
    });
    for (auto [suffix, button] : {std::pair{"Red", Frame->RedTntSpeedButton},
                                  std::pair{"Green", Frame->GreenTntSpeedButton},
                                  std::pair{"Blue", Frame->BlueTntSpeedButton}}) {
        QPointer<TQelMakeUpSurfaceFrame> frame(Frame);
        hooks->RegisterNotifyCommand(Name + suffix, button, [frame](QObject* sender) {
            if (frame) frame->RedTntSpeedButtonClick(sender);
        });
    }
    hooks->RegisterPointCommand(Name + "Palette", QPoint(Palette.GetMarker().X, Palette.GetMarker().Y),
                                [self](int32_t x, int32_t y) {
                                    if (self) self->SetPalettePoint(x, y);
                                });
}

void TQelMakeUpSurfaceTool::RecordUICommand(const char* Suffix, const QByteArray& Value) {
    if (!Recording()) return;
    RecordLine("MouseCurvedMove " + Name + Suffix);
    RecordLine(Value.isEmpty() ? Name + Suffix : Name + Suffix + ' ' + Value);
}

void TQelMakeUpSurfaceTool::SetMode(int32_t Value) {
    if (Value == Mode || Value < ModeNormal || Value > ModeColor) return;
    Mode = Value;
    if (Frame) {
        const QSignalBlocker blocker(Frame->TintTBXCheckBox);
        Frame->TintTBXCheckBox->setChecked(Mode == ModeColor);
    }
    Palette.SetTint(Mode == ModeColor);
    RecordUICommand(Mode == ModeNormal ? "NormalMode" : (Mode == ModeLuminosity ? "LuminosityMode" : "ColorMode"));
}

void TQelMakeUpSurfaceTool::SetPalettePoint(int32_t X, int32_t Y) {
    Palette.SetMarker(TQelPoint{std::clamp(X, 0, PlaneSize - 1), std::clamp(Y, 0, PlaneSize - 1)});
    ShowColor();
    // The values as given; the separator is the one scripts have always had.
    RecordUICommand("Palette", QByteArray::number(X) + " ," + QByteArray::number(Y));
}

void TQelMakeUpSurfaceTool::ShowColor() const {
    IQelGraphicsStatus* status = FindStatus();
    if (!status) return;
    const TQelRGBTriple& c = Palette.GetColorBytes();
    status->SetStatusText(TQelGraphicsStatusPanel::R, QString::number(c.Red));
    status->SetStatusText(TQelGraphicsStatusPanel::G, QString::number(c.Green));
    status->SetStatusText(TQelGraphicsStatusPanel::B, QString::number(c.Blue));
}

void TQelMakeUpSurfaceTool::SetPickMode(bool On, bool Refresh) {
    PickMode = On;
    if (Frame && Frame->ColorSelectorTntSpeedButton->isChecked() != On) {
        const QSignalBlocker blocker(Frame->ColorSelectorTntSpeedButton);
        Frame->ColorSelectorTntSpeedButton->setChecked(On);
    }
    if (Refresh) RefreshCursor();
}

void TQelMakeUpSurfaceTool::TogglePickMode() {
    SetPickMode(!PickMode);
    RecordLine(Name + "ColorSelector " + (PickMode ? "1" : "0"));
}

void TQelMakeUpSurfaceTool::RefreshCursor() {
    // The views ask their controls again instead of the pointer being moved.
    for (int i = 0; i < GetControlCount(); ++i)
        if (TQelGraphicsToolControl* control = GetControl(i); control && control->View) control->View->UpdateCursor();
}

int16_t TQelMakeUpSurfaceTool::GetCursorId() const { return PickMode ? ColorSelectorCursor : crNone; }

void TQelMakeUpSurfaceTool::SetBrightnessPosition(int32_t Value) {
    if (BrightnessTrackBar)
        BrightnessTrackBar->setValue(Value);
    else
        BrightnessTrackBarChange(Value);
}

void TQelMakeUpSurfaceTool::BrightnessTrackBarChange(int32_t Position) {
    Palette.SetLevel(Position);
    RecordLine(Name + "Brightness " + QByteArray::number(Palette.GetLevel()));
}

bool TQelMakeUpSurfaceTool::eventFilter(QObject* Watched, QEvent* Event) {
    if (Watched == BrightnessTrackBar && Event->type() == QEvent::FocusIn)
        RecordLine("MouseCurvedMove " + Name + "Brightness");
    return TQelCustomBlurBrushTool::eventFilter(Watched, Event);
}

void TQelMakeUpSurfaceTool::PickColor(const TQelPoint& Point) {
    BlurCache.SetBounds(GetBrushRect(Point, Size));
    const TQelRGBTriple c = GetBlurredPixel(Point.X, Point.Y);
    Palette.SetColor(c.Blue | uint32_t(c.Green) << 8 | uint32_t(c.Red) << 16);
    SetBrightnessPosition(Palette.GetLevel());
    if (Frame) Frame->UpdateColorButtons();
}

void TQelMakeUpSurfaceTool::SetLevelFromImage(const TQelPoint& Point) {
    BlurCache.SetBounds(GetBrushRect(Point, Size));
    const TQelRGBTriple c = GetBlurredPixel(Point.X, Point.Y);
    Palette.SetLevel(std::max({c.Blue, c.Green, c.Red}));
    SetBrightnessPosition(Palette.GetLevel());
    if (Frame) Frame->UpdateColorButtons();
}

void TQelMakeUpSurfaceTool::BuildLayer(TQelGraphicsDocument& Document) {
    const TQelWaitCursor wait;
    try {
        BuildDetailLayer(Document.Backup);
        Spectrum.Document = &Document;
    } catch (const EQelOutOfMemory&) {
        // The layer is empty now, so no stroke reads half of it; it stays
        // stale and a later move tries again, quietly.
        if (Spectrum.FailureReported) return;
        Spectrum.FailureReported = true;
        throw;
    }
}

void TQelMakeUpSurfaceTool::DocumentOpened(TQelGraphicsDocument* Document) {
    TQelCustomBlurBrushTool::DocumentOpened(Document);
    Spectrum.Stale = true;
    Spectrum.NoteWholeChange();
    Spectrum.FailureReported = false;
}

void TQelMakeUpSurfaceTool::DocumentClosing(TQelGraphicsDocument* Document) {
    TQelCustomBlurBrushTool::DocumentClosing(Document);
    // Also when the user then keeps the document: the next move over it
    // builds the layer again.
    if (Document && Spectrum.Document == Document) Spectrum.Free();
}

void TQelMakeUpSurfaceTool::ImageChanged(TQelGraphicsDocument* Document, TQelGraphicsTool* Tool,
                                         const TQelRect& Rect) {
    TQelCustomBlurBrushTool::ImageChanged(Document, Tool, Rect);
    // A flip or a turn moves every pixel but names only the selection.
    if (dynamic_cast<TQelRotateTool*>(Tool))
        Spectrum.NoteWholeChange();
    else
        Spectrum.NoteChange(Rect);
    if (!dynamic_cast<TQelMakeUpSurfaceTool*>(Tool)) Spectrum.Stale = true;
    Spectrum.FailureReported = false;
}

bool TQelMakeUpSurfaceTool::BeginDraw(TQelDrawToolControl* Control, TMouseButton NewButton, TShiftState NewShift) {
    if (!TQelCustomBlurBrushTool::BeginDraw(Control, NewButton, NewShift)) return false;
    if (UsesDetail() && BackupPixels && (Spectrum.Stale || !Spectrum.Layer.Fits(*BackupPixels))) {
        try {
            BuildLayer(*RunningDocument);
        } catch (...) {
            // Nothing was painted yet: the stroke is dropped with the error.
            CancelModification();
            DrawingControl = nullptr;
            throw;
        }
    }
    if (PickMode && RunningDocument)
        if (auto* control = dynamic_cast<TQelMaskDrawToolControl*>(Control)) {
            const TQelPoint p = control->GetBrushPos();
            if (RunningDocument->GetWorkRect().Contains(p.X, p.Y)) PickColor(p);
        }
    return true;
}

void TQelMakeUpSurfaceTool::PaintRect(const TQelRect& Rect) {
    if (PickMode) return;
    BlendRect(Rect);
}

void TQelMakeUpSurfaceTool::BlendRect(const TQelRect& Rect) {
    const TQelPixels* backup = BackupPixels;
    TQelPixels* image = CurrentPixels;
    const TQelPixelMask& mask = GetDrawMask();
    if (!backup || !image || !backup->Bits || !image->Bits || !mask.Data || backup->BytesPerPixel < 3 ||
        image->BytesPerPixel < 3)
        return;
    TQelRect r;
    if (!QelIntersectRect(r, Rect, backup->GetBounds()) || !QelIntersectRect(r, r, image->GetBounds()) ||
        !QelIntersectRect(r, r, mask.GetBounds()))
        return;
    // A layer of another size (never built, or built before a crop) is not
    // read at all.
    const bool detail = UsesDetail() && Spectrum.Layer.Fits(*backup);
    const TQelRGBTriple& colour = Palette.GetColorBytes();
    const double c[3] = {double(colour.Blue), double(colour.Green), double(colour.Red)};
    const double maxC = std::max({c[0], c[1], c[2]});
    for (int32_t y = r.Top; y < r.Bottom; ++y) {
        const uint8_t* m = mask.MaskAddress(r.Left, y);
        const uint8_t* p = backup->PixelAddress(r.Left, y);
        uint8_t* o = image->PixelAddress(r.Left, y);
        const float* d = detail ? Spectrum.Layer.Row(y - backup->Top) + ptrdiff_t(r.Left - backup->Left) * 3 : nullptr;
        for (int32_t x = r.Left; x < r.Right;
             ++x, ++m, p += backup->BytesPerPixel, o += image->BytesPerPixel, d = d ? d + 3 : nullptr) {
            if (*m == 0) continue;
            const double dd[3] = {d ? double(d[0]) : 0.0, d ? double(d[1]) : 0.0, d ? double(d[2]) : 0.0};
            const double b[3] = {p[0] - dd[0], p[1] - dd[1], p[2] - dd[2]};
            double t[3];
            if (Mode == ModeLuminosity) {
                const double k = maxC / std::max({b[0], b[1], b[2], 1.0});
                for (int i = 0; i < 3; ++i) t[i] = b[i] * k;
            } else if (Mode == ModeColor) {
                const double k = std::max({b[0], b[1], b[2]}) / std::max(maxC, 1.0);
                for (int i = 0; i < 3; ++i) t[i] = c[i] * k;
            } else {
                for (int i = 0; i < 3; ++i) t[i] = c[i];
            }
            const double a = *m / 255.0;
            for (int i = 0; i < 3; ++i)
                o[i] = uint8_t(std::nearbyint(std::clamp(b[i] + (t[i] - b[i]) * a + dd[i], 0.0, 255.0)));
        }
    }
}

void TQelMakeUpSurfaceTool::EndDraw() {
    StrokeMask.Clear();
    RefreshCursor();
    TQelCustomBlurBrushTool::EndDraw();
    // After the commit, which leaves out a pick.
    SetPickMode(false);
}

void TQelMakeUpSurfaceTool::CommitModification() {
    if (PickMode) return;
    TQelCustomBlurBrushTool::CommitModification();
}

// --- TQelMakeUpSurfaceToolControl -------------------------------------------------

TQelMakeUpSurfaceTool* TQelMakeUpSurfaceToolControl::MakeUpTool() const {
    return qobject_cast<TQelMakeUpSurfaceTool*>(Tool.data());
}

void TQelMakeUpSurfaceToolControl::Reset() { Flags = QelViewBody | QelViewOverlay | QelViewNoExtent; }

bool TQelMakeUpSurfaceToolControl::GetCursor(TShiftState, const TQelPoint&, int16_t& Cursor) {
    const TQelMakeUpSurfaceTool* tool = MakeUpTool();
    if (!Active || !tool) return false;
    Cursor = tool->GetCursorId();
    return true;
}

bool TQelMakeUpSurfaceToolControl::MouseDown(TMouseButton Button, TShiftState Shift, const TQelPoint& Point) {
    const TQelMakeUpSurfaceTool* tool = MakeUpTool();
    if (!Active || !tool || !View) return false;
    const TQelPoint p = GetBrushPos();
    const TQelGraphicsDocument* document = View->Document();
    const bool outside = !document || !document->GetWorkRect().Contains(p.X, p.Y);
    if (Button == mbRight || (tool->PickMode && outside)) return true;
    return TQelBrushToolControl::MouseDown(Button, Shift, Point);
}

bool TQelMakeUpSurfaceToolControl::MouseMove(TShiftState Shift, const TQelPoint& Point) {
    const bool result = TQelBrushToolControl::MouseMove(Shift, Point);
    TQelMakeUpSurfaceTool* tool = MakeUpTool();
    if (!Active || !tool || !View) return result;
    TQelGraphicsDocument* document = View->Document();
    if (!document) return result;
    if (Drawing) {
        const TQelPoint p = GetBrushPos();
        if (!document->GetWorkRect().Contains(p.X, p.Y)) return result;
        if (tool->PickMode)
            tool->PickColor(p);
        else if (tool->Palette.GetTint())
            tool->SetLevelFromImage(p);
    } else if (Spectrum.Stale) {
        tool->BuildLayer(*document);
    }
    return result;
}

bool TQelMakeUpSurfaceToolControl::ClaimsKey(uint16_t Key, TShiftState Shift) {
    return Active && MakeUpTool() && Key == KeyP && (Shift & (ssShift | ssAlt | ssCtrl)) == ssAlt;
}

bool TQelMakeUpSurfaceToolControl::KeyDown(uint16_t& Key, TShiftState Shift) {
    TQelMakeUpSurfaceTool* tool = MakeUpTool();
    if (Active && tool && Key == KeyP && Shift == ssAlt) {
        tool->TogglePickMode();
        return true;
    }
    return TQelBrushToolControl::KeyDown(Key, Shift);
}
