#include "QelBrightnessContrastTool.h"

#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QToolButton>
#include <QVBoxLayout>

#include <array>

#include "QelDemoHooks.h"
#include "QelDemoScript.h"
#include "QelDrawTools.h"
#include "QelLocalizer.h"
#include "QelToolFrameParts.h"
#include "QelToolPanel.h"

TQelBrightnessContrastTool* BrightnessContrastTool = nullptr;

namespace {

constexpr TQelGuid BrightnessContrastSettingsGuid = TQelGuid::Parse("{B395C67E-2462-4FDD-8BAD-8640A1A1EEDB}");
constexpr uint32_t BrightnessContrastNodeId = 1;
constexpr uint32_t OptionsShownElement = 1;

constexpr int32_t TextOk = 1;
constexpr int32_t TextCancel = 2;
constexpr int32_t TextBrightness = 550;
constexpr int32_t TextContrast = 558;
constexpr int32_t TextBrightnessContrast = 2021;
constexpr int32_t TextAutoCorrection = 2022;

constexpr int32_t TrackBarLimit = 127;
constexpr int32_t TrackBarFrequency = 16;
constexpr int32_t MaxLevel = 255;

QSlider* AddTrackBar(QWidget* Frame, const char* Name) {
    auto* slider = new QSlider(Qt::Horizontal, Frame);
    slider->setObjectName(QLatin1String(Name));
    slider->setRange(-TrackBarLimit, TrackBarLimit);
    slider->setTickInterval(TrackBarFrequency);
    slider->setTickPosition(QSlider::TicksBelow);
    QelAddToColumn(Frame, slider);
    return slider;
}

}  // namespace

// --- Frame -------------------------------------------------------------------------

TQelBrightnessContrastFrame::TQelBrightnessContrastFrame(QWidget* Parent) : TQelFrame(Parent) {}

void TQelBrightnessContrastFrame::Create() {
    TQelFrame::Create();
    setObjectName(QStringLiteral("BrightnessContrastFrame"));
    TitleLabel = QelAddTitleLabel(this);
    AutoCorrectionPanel = new QWidget(this);
    AutoCorrectionPanel->setObjectName(QStringLiteral("AutoCorrectionPanel"));
    auto* row = new QHBoxLayout(AutoCorrectionPanel);
    row->setContentsMargins(0, 0, 0, 0);
    AutoCorrectionButton = new QPushButton(AutoCorrectionPanel);
    AutoCorrectionButton->setObjectName(QStringLiteral("AutoCorrectionButton"));
    row->addWidget(AutoCorrectionButton);
    row->addStretch(1);
    QelAddToColumn(this, AutoCorrectionPanel);
    BrightnessLabel = QelAddWrappedLabel(this, "BrightnessLabel");
    BrightnessTrackBar = AddTrackBar(this, "BrightnessTrackBar");
    ContrastLabel = QelAddWrappedLabel(this, "ContrastLabel");
    ContrastTrackBar = AddTrackBar(this, "ContrastTrackBar");
    OkPanel = QelAddOkPanel(this, OkButton, "OkButton", CancelButton);
    ShowOptions = QelAddShowOptionsLink(this);

    connect(OkButton, &QPushButton::clicked, this, [this] { OkButtonClick(); });
    connect(CancelButton, &QPushButton::clicked, this, [this] { CancelButtonClick(); });
    connect(BrightnessTrackBar, &QSlider::valueChanged, this, [this](int v) { BrightnessTrackBarChange(v); });
    connect(ContrastTrackBar, &QSlider::valueChanged, this, [this](int v) { ContrastTrackBarChange(v); });
    connect(AutoCorrectionButton, &QPushButton::clicked, this, [this] { AutoCorrectionButtonClick(); });
    connect(ShowOptions, &QToolButton::clicked, this, [this] { ShowOptionsButtonClick(); });
}

void TQelBrightnessContrastFrame::OkButtonClick() {
    if (!Tool) return;
    Tool->FinishModification();
    Tool->RecordMovedLine("Perform", "Perform");
}

void TQelBrightnessContrastFrame::CancelButtonClick() {
    if (!Tool) return;
    Tool->Brightness = 0;
    Tool->Contrast = 0;
    Tool->ShowValues();
    Tool->CancelModification();
    Tool->RecordMovedLine("Cancel", "Cancel");
}

void TQelBrightnessContrastFrame::BrightnessTrackBarChange(int Position) {
    if (Tool && Position != Tool->Brightness) Tool->SetBrightness(Position);
}

void TQelBrightnessContrastFrame::ContrastTrackBarChange(int Position) {
    if (Tool && Position != Tool->Contrast) Tool->SetContrast(Position);
}

void TQelBrightnessContrastFrame::AutoCorrectionButtonClick() {
    if (!Tool) return;
    if (Tool->ApplyCurve(true)) {
        // Contrast first, then brightness, as computed (the track bars may
        // clamp what they show).
        MoveTrackBar(ContrastTrackBar, Tool->Contrast);
        MoveTrackBar(BrightnessTrackBar, Tool->Brightness);
        // Without the track bars the correction is one step of its own.
        if (!Tool->OptionsShown) Tool->FinishModification();
    }
    Tool->RecordMovedLine("AutoCorrection", "AutoCorrection");
}

void TQelBrightnessContrastFrame::ShowOptionsButtonClick() {
    if (Tool) Tool->SetOptionsShown(!Tool->OptionsShown);
}

// --- Tool ----------------------------------------------------------------------------

TQelBrightnessContrastTool::TQelBrightnessContrastTool()
    : TQelFramedTool(), Frame(nullptr), Brightness(0), Contrast(0), OptionsShown(false) {}

TQelBrightnessContrastTool::~TQelBrightnessContrastTool() {
    if (BrightnessContrastTool == this) BrightnessContrastTool = nullptr;
}

void TQelBrightnessContrastTool::Create() {
    TQelFramedTool::Create();
    Name = "BrightnessContrast";
    AddButton(QelText(TextBrightnessContrast, QStringLiteral("Brightness & Contrast")));
    if (AddFrame(Frame)) Frame->Tool = this;
    SetOptionsShown(false);
    Exclusive = true;
}

void TQelBrightnessContrastTool::Localize() {
    const QString title = QelText(TextBrightnessContrast, QStringLiteral("Brightness & Contrast"));
    SetButtonCaption(title);
    if (!Frame) return;
    Frame->TitleLabel->setText(title);
    Frame->AutoCorrectionButton->setText(QelText(TextAutoCorrection));
    Frame->BrightnessLabel->setText(QelText(TextBrightness) + ':');
    Frame->ContrastLabel->setText(QelText(TextContrast) + ':');
    Frame->OkButton->setText(QelText(TextOk));
    Frame->CancelButton->setText(QelText(TextCancel));
    QelSetShowOptionsLink(Frame->ShowOptions, OptionsShown);
}

void TQelBrightnessContrastTool::LoadSettings(TQelSDFReader& Reader) {
    TQelFramedTool::LoadSettings(Reader);
    if (!Reader.OpenNode(BrightnessContrastNodeId, BrightnessContrastSettingsGuid)) return;
    bool shown = false;
    if (Reader.ReadBoolean(OptionsShownElement, shown)) SetOptionsShown(shown);
    Reader.CloseNode();
}

void TQelBrightnessContrastTool::SaveSettings(TQelSDFWriter& Writer) {
    TQelFramedTool::SaveSettings(Writer);
    Writer.BeginNode(BrightnessContrastNodeId, BrightnessContrastSettingsGuid);
    Writer.WriteBoolean(OptionsShownElement, OptionsShown);
    Writer.EndNode();
}

void TQelBrightnessContrastTool::UpdateControls() {
    TQelFramedTool::UpdateControls();
    const bool usable = UpdateButton();
    if (!Frame) return;
    const TQelGraphicsDocument* document = QelActiveDocument();
    const bool previewing = document && document->Modifying && document->ModifyingTool == this;
    QelSetEnabled(Frame->OkButton, usable && previewing);
    QelSetEnabled(Frame->CancelButton, usable && previewing);
}

bool TQelBrightnessContrastTool::CanApply() const {
    return QelActiveDocument() && GraphicsEditor->GetActiveView() && GraphicsEditor->CanToolModify(this);
}

void TQelBrightnessContrastTool::ShowValues() {
    if (!Frame) return;
    MoveTrackBar(Frame->BrightnessTrackBar, Brightness);
    MoveTrackBar(Frame->ContrastTrackBar, Contrast);
}

void TQelBrightnessContrastTool::SetBrightness(int32_t Value) {
    // Stored only when it can be shown: a stored value would start a
    // preview on the next document.
    if (Value == Brightness || !CanApply()) return;
    Brightness = Value;
    if (Frame) MoveTrackBar(Frame->BrightnessTrackBar, Value);
    ApplyCurve(false);
    RecordToolLine("Brightness " + QByteArray::number(Value));
}

void TQelBrightnessContrastTool::SetContrast(int32_t Value) {
    if (Value == Contrast || !CanApply()) return;
    Contrast = Value;
    if (Frame) MoveTrackBar(Frame->ContrastTrackBar, Value);
    ApplyCurve(false);
    RecordToolLine("Contrast " + QByteArray::number(Value));
}

void TQelBrightnessContrastTool::SetOptionsShown(bool Value) {
    OptionsShown = Value;
    ArrangeFrame();
    RecordMovedLine("Options", Value ? "ShowOptions" : "HideOptions");
}

void TQelBrightnessContrastTool::ArrangeFrame() {
    if (!Frame) return;
    for (QWidget* part : std::initializer_list<QWidget*>{Frame->BrightnessLabel, Frame->BrightnessTrackBar,
                                                         Frame->ContrastLabel, Frame->ContrastTrackBar,
                                                         Frame->OkPanel})
        part->setVisible(OptionsShown);
    QelSetShowOptionsLink(Frame->ShowOptions, OptionsShown);
}

void TQelBrightnessContrastTool::FindLevels(const TQelPixels& Pixels, int32_t& Lo, int32_t& Hi) {
    int32_t lo = MaxLevel, darkest = 3 * MaxLevel, hi = 0, brightest = 0;
    for (int32_t y = Pixels.Top; y < Pixels.Top + Pixels.Height; ++y) {
        const uint8_t* p = Pixels.PixelAddress(Pixels.Left, y);
        for (int32_t x = 0; x < Pixels.Width; ++x, p += Pixels.BytesPerPixel) {
            const int32_t s = p[0] + p[1] + p[2];
            if (s > 0 && s < darkest) {
                for (int c = 2; c >= 0; --c)
                    if (p[c] > 0 && p[c] < lo) lo = p[c];
                darkest = s;
            }
            if (s < 3 * MaxLevel && s > brightest) {
                for (int c = 2; c >= 0; --c)
                    if (p[c] < MaxLevel && p[c] > hi) hi = p[c];
                brightest = s;
            }
        }
    }
    Lo = lo == MaxLevel ? 0 : lo;
    Hi = hi == 0 ? MaxLevel : hi;
}

std::array<TQelCurvePoint, 2> TQelBrightnessContrastTool::ManualPoints(int32_t Brightness, int32_t Contrast) {
    const double b = Brightness, c = Contrast;
    std::array<TQelCurvePoint, 2> points = {TQelCurvePoint{-b, 0}, TQelCurvePoint{255 - b, 255}};
    if (c < 0) {
        // The output range narrows.
        points[0].Y = -c;
        points[1].Y = 255 + c;
    } else {
        // The input range narrows.
        points[0].X = c - b;
        points[1].X = 255 - b - c;
    }
    return points;
}

bool TQelBrightnessContrastTool::ApplyCurve(bool Auto) {
    TQelGraphicsDocument* document = QelActiveDocument();
    if (!CanApply()) return false;
    // This tool's own preview goes on; any other running change ends first.
    if (!(RunningDocument == document && document->Modifying && document->ModifyingTool == this))
        BeginModification(GraphicsEditor->GetActiveView());
    if (!CurrentPixels || !BackupPixels || !BackupPixels->Bits || BackupPixels->Format != QelFormatBGR24 ||
        CurrentPixels->GetBounds() != BackupPixels->GetBounds())
        return false;

    std::array<TQelCurvePoint, 2> points;
    if (Auto) {
        int32_t lo = 0, hi = 0;
        FindLevels(*BackupPixels, lo, hi);
        Brightness = 127 - (lo + hi) / 2;
        Contrast = (lo - hi + 256) / 2;
        points = {TQelCurvePoint{double(lo), 0}, TQelCurvePoint{double(hi), 255}};
    } else {
        points = ManualPoints(Brightness, Contrast);
    }
    // A vertical line (both points at one level, as in a picture of one
    // grey) would map everything to black: the image stays as it is.
    std::array<uint8_t, 256> map;
    double slope = 0, intercept = 0;
    TQelToneTable table;
    if (LineFromPoints(points[0], points[1], slope, intercept) && BuildToneCurve(points, MaxLevel, table)) {
        for (size_t i = 0; i < map.size(); ++i) map[i] = uint8_t(table[i]);
    } else {
        for (size_t i = 0; i < map.size(); ++i) map[i] = uint8_t(i);
    }

    const TQelPixels& from = *BackupPixels;
    TQelPixels& to = *CurrentPixels;
    const size_t rowBytes = size_t(from.Width) * 3;
    for (int32_t y = from.Top; y < from.Top + from.Height; ++y) {
        const uint8_t* s = from.PixelAddress(from.Left, y);
        uint8_t* d = to.PixelAddress(from.Left, y);
        for (size_t i = 0; i < rowBytes; ++i) d[i] = map[s[i]];
    }
    AddModifiedRect(to.GetBounds());
    return true;
}

void TQelBrightnessContrastTool::FinishModification() {
    TQelFramedTool::FinishModification();
    Brightness = 0;
    Contrast = 0;
    ShowValues();
}

void TQelBrightnessContrastTool::DocumentOpened(TQelGraphicsDocument*) {
    SetBrightness(0);
    SetContrast(0);
    ShowValues();
}

void TQelBrightnessContrastTool::RegisterDemoTargets() {
    if (TQelDemoHooks* hooks = TQelDemoHooks::Instance()) {
        const QPointer<TQelBrightnessContrastFrame> frame = Frame;
        if (Frame) {
            hooks->RegisterComponent(Name + "AutoCorrection", Frame->AutoCorrectionButton);
            hooks->RegisterComponent(Name + "Brightness", Frame->BrightnessTrackBar);
            hooks->RegisterComponent(Name + "Contrast", Frame->ContrastTrackBar);
            hooks->RegisterComponent(Name + "Perform", Frame->OkButton);
            hooks->RegisterComponent(Name + "Cancel", Frame->CancelButton);
            hooks->RegisterComponent(Name + "Options", Frame->ShowOptions);
        }
        const QPointer<TQelBrightnessContrastTool> self = this;
        hooks->RegisterCommand(Name + "AutoCorrection", [frame] { if (frame) frame->AutoCorrectionButtonClick(); });
        hooks->RegisterIntCommand(Name + "Brightness", 0, [self](int32_t v) { if (self) self->SetBrightness(v); });
        hooks->RegisterIntCommand(Name + "Contrast", 0, [self](int32_t v) { if (self) self->SetContrast(v); });
        hooks->RegisterCommand(Name + "Perform", [frame] { if (frame) frame->OkButtonClick(); });
        hooks->RegisterCommand(Name + "Cancel", [frame] { if (frame) frame->CancelButtonClick(); });
        hooks->RegisterBoolCommand(Name + "ShowOptions", true, [self](bool v) { if (self) self->SetOptionsShown(v); });
        hooks->RegisterBoolCommand(Name + "HideOptions", false, [self](bool v) { if (self) self->SetOptionsShown(v); });
    }
    TQelFramedTool::RegisterDemoTargets();
}
