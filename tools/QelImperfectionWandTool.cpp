#include "QelImperfectionWandTool.h"

#include <QAction>
#include <QButtonGroup>
#include <QLabel>
#include <QRadioButton>
#include <QScopeGuard>
#include <QSlider>

#include <algorithm>

#include "QelDemoHooks.h"
#include "QelGraphicsEditor.h"
#include "QelLocalizer.h"
#include "QelToolFrameParts.h"
#include "QelToolPanel.h"

namespace {

constexpr TQelGuid WandSettingsGuid = TQelGuid::Parse("{4B694A4A-7983-4F63-B039-8D9EED294710}");
constexpr uint32_t WandNodeId = 1;

enum : int32_t {
    TextSmoothing = 536,
    TextImperfectionWand = 2003,
    TextErase = 2005,
    TextDarkImperfections = 2006,
    TextLightImperfections = 2007,
    TextBothImperfections = 2018,
};

const char* const ModeWords[] = {"DarkMode", "LightMode", "BothMode"};

}  // namespace

// --- TQelImperfectionWandFrame ----------------------------------------------------

TQelImperfectionWandFrame::TQelImperfectionWandFrame(QWidget* Parent) : TQelBrushFrame(Parent) {}

void TQelImperfectionWandFrame::CreateRows() {
    SmoothingLabel = AddRow(new QLabel(this), "SmoothingLabel");
    SmoothingTrackBar = AddRow(new QSlider(Qt::Horizontal, this), "SmoothingTrackBar");
    EraseLabel = AddRow(new QLabel(QStringLiteral("Erase:"), this), "EraseLabel");
    ModeGroup = new QButtonGroup(this);
    auto radio = [&](const char* name, const char* text, int id) {
        auto* button = AddRow(new QRadioButton(QLatin1String(text), this), name);
        ModeGroup->addButton(button, id);
        return button;
    };
    DarkModeRadioButton = radio("DarkModeRadioButton", "Dark Imperfections", TQelImperfectionWandTool::ModeDark);
    LightModeRadioButton = radio("LightModeRadioButton", "Light Imperfections", TQelImperfectionWandTool::ModeLight);
    BothModeRadioButton = radio("BothModeRadioButton", "Both Imperfections", TQelImperfectionWandTool::ModeBoth);
    DarkModeRadioButton->setChecked(true);
}

std::vector<QWidget*> TQelImperfectionWandFrame::OptionRows() const {
    std::vector<QWidget*> rows = TQelBrushFrame::OptionRows();
    rows.push_back(SmoothingLabel);
    rows.push_back(SmoothingTrackBar);
    return rows;
}

// --- TQelImperfectionWandTool -----------------------------------------------------

TQelImperfectionWandTool::TQelImperfectionWandTool()
    : TQelFramed(), Frame(), Mode(ModeDark), OptionsShown(false) {}

TQelImperfectionWandTool::~TQelImperfectionWandTool() = default;

void TQelImperfectionWandTool::Create() {
    TQelCustomBlurBrushTool::Create();
    MaxSize = 50;
    Name = "ImperfectionWand";
    AddButton(QelText(TextImperfectionWand, QStringLiteral("Imperfection Wand")));
    if (TQelImperfectionWandFrame* frame = AddFrame(Frame)) {
        QelBindBrushFrame(this, frame, [this] { ShowOptionsButtonClick(); });
        BindSmoothingTrackBar(frame->SmoothingTrackBar);
        connect(frame->ModeGroup, &QButtonGroup::idClicked, this, [this](int id) { ModeRadioButtonClick(id); });
    }
    SetMode(ModeDark);
    SetShowOptions(false);
}

void TQelImperfectionWandTool::Localize() {
    TQelCustomBlurBrushTool::Localize();
    const QString title = QelText(TextImperfectionWand, QStringLiteral("Imperfection Wand"));
    SetButtonCaption(title);
    if (!Frame) return;
    QelLocalizeBrushFrame(Frame, title);
    Frame->EraseLabel->setText(QelRowLabel(TextErase, "Erase"));
    Frame->SmoothingLabel->setText(QelRowLabel(TextSmoothing, "Smoothing"));
    Frame->DarkModeRadioButton->setText(QelText(TextDarkImperfections, QStringLiteral("Dark Imperfections")));
    Frame->LightModeRadioButton->setText(QelText(TextLightImperfections, QStringLiteral("Light Imperfections")));
    Frame->BothModeRadioButton->setText(QelText(TextBothImperfections, QStringLiteral("Both Imperfections")));
    ArrangeFrame();
}

void TQelImperfectionWandTool::LoadSettings(TQelSDFReader& Reader) {
    TQelCustomBlurBrushTool::LoadSettings(Reader);
    if (!Reader.OpenNode(WandNodeId, WandSettingsGuid)) return;
    // Size before smoothing: every size sets the smoothing too.
    int32_t value = Size;
    if (Reader.ReadInteger(1, value)) SetSize(value);
    value = Opacity;
    if (Reader.ReadInteger(2, value)) SetOpacity(value);
    value = Hardness;
    if (Reader.ReadInteger(3, value)) SetHardness(value);
    value = Smoothing;
    if (Reader.ReadInteger(4, value)) SetSmoothing(value);
    value = Mode;
    if (Reader.ReadInteger(5, value)) SetMode(value);
    value = OptionsShown ? 1 : 0;
    if (Reader.ReadInteger(6, value)) SetShowOptions(value != 0);
    Reader.CloseNode();
}

void TQelImperfectionWandTool::SaveSettings(TQelSDFWriter& Writer) {
    TQelCustomBlurBrushTool::SaveSettings(Writer);
    Writer.BeginNode(WandNodeId, WandSettingsGuid);
    Writer.WriteInteger(1, Size);
    Writer.WriteInteger(2, Opacity);
    Writer.WriteInteger(3, Hardness);
    Writer.WriteInteger(4, Smoothing);
    Writer.WriteInteger(5, Mode);
    Writer.WriteInteger(6, OptionsShown ? 1 : 0);
    Writer.EndNode();
}

void TQelImperfectionWandTool::UpdateControls() { UpdateButton(); }

void TQelImperfectionWandTool::RegisterDemoTargets() {
    if (TQelDemoHooks* hooks = TQelDemoHooks::Instance()) {
        if (Frame) {
            hooks->RegisterComponent(Name + "DarkMode", Frame->DarkModeRadioButton);
            hooks->RegisterComponent(Name + "LightMode", Frame->LightModeRadioButton);
            hooks->RegisterComponent(Name + "BothMode", Frame->BothModeRadioButton);
        }
        for (int32_t mode = ModeDark; mode <= ModeBoth; ++mode)
            hooks->RegisterIntCommand(Name + ModeWords[mode], mode, [this](int32_t v) { SetMode(v); });
        QelRegisterShowOptions(Name, Frame, [this](bool v) { SetShowOptions(v); });
    }
    TQelFramed::RegisterDemoTargets();
}

void TQelImperfectionWandTool::SetMode(int32_t Value) {
    // Any other value would keep every stroke from changing a pixel, and be
    // saved back at exit.
    if (Value == Mode || Value < ModeDark || Value > ModeBoth) return;
    Mode = Value;
    if (Frame) {
        QAbstractButton* button = Frame->ModeGroup->button(Mode);
        const QSignalBlocker blocker(button);
        button->setChecked(true);
    }
    RecordMovedLine(ModeWords[Mode], ModeWords[Mode]);
}

void TQelImperfectionWandTool::SetShowOptions(bool Value) {
    OptionsShown = Value;
    ArrangeFrame();
    RecordMovedLine("Options", Value ? "ShowOptions" : "HideOptions");
}

void TQelImperfectionWandTool::ArrangeFrame() { QelArrangeBrushFrame(Frame, OptionsShown); }

void TQelImperfectionWandTool::ModeRadioButtonClick(int Id) { SetMode(Id); }

void TQelImperfectionWandTool::ShowOptionsButtonClick() { SetShowOptions(!OptionsShown); }

bool TQelImperfectionWandTool::BeginDraw(TQelDrawToolControl* Control, TMouseButton NewButton, TShiftState NewShift) {
    if (!TQelCustomBlurBrushTool::BeginDraw(Control, NewButton, NewShift)) return false;
    // The last stroke's means are forgotten; over the same bounds its memory
    // serves again.
    EmptyBlurCache();
    if (BackupPixels) BlurCache.SetBounds(BackupPixels->GetBounds());
    return true;
}

void TQelImperfectionWandTool::PaintRect(const TQelRect& Rect) {
    if (Mode < ModeDark || Mode > ModeBoth) return;
    TQelRect r;
    if (!GetPaintArea(Rect, r)) return;
    const TQelPixelMask& mask = GetDrawMask();
    HoldBlurSums(r);
    auto drop = qScopeGuard([this] { DropBlurSums(); });
    for (int32_t y = r.Top; y < r.Bottom; ++y) {
        const uint8_t* a = mask.MaskAddress(r.Left, y);
        const uint8_t* o = BackupPixels->PixelAddress(r.Left, y);
        uint8_t* p = CurrentPixels->PixelAddress(r.Left, y);
        for (int32_t x = r.Left; x < r.Right;
             ++x, ++a, o += BackupPixels->BytesPerPixel, p += CurrentPixels->BytesPerPixel) {
            if (*a == 0) continue;
            const TQelRGBTriple m = GetBlurredPixel(x, y);
            const uint8_t mean[3] = {m.Blue, m.Green, m.Red};
            for (int c = 0; c < 3; ++c) {
                const uint8_t t = Mode == ModeDark    ? std::max(o[c], mean[c])
                                  : Mode == ModeLight ? std::min(o[c], mean[c])
                                                      : mean[c];
                p[c] = *a == 255 ? t : QelColorDetail::BlendChannel(*a, t, p[c]);
            }
        }
    }
}
