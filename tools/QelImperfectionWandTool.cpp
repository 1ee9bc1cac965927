#include "QelImperfectionWandTool.h"

#include <QAction>
#include <QButtonGroup>
#include <QLabel>
#include <QRadioButton>
#include <QScopeGuard>
#include <QSlider>
#include <QToolButton>
#include <QVBoxLayout>

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
    TextSize = 154,
    TextSmoothing = 536,
    TextImperfectionWand = 2003,
    TextErase = 2005,
    TextDarkImperfections = 2006,
    TextLightImperfections = 2007,
    TextOpacity = 2008,
    TextHardness = 2009,
    TextBothImperfections = 2018,
};

const char* const ModeWords[] = {"DarkMode", "LightMode", "BothMode"};

QString Label(int32_t Id, const char* Default) { return QelText(Id, QString::fromLatin1(Default)) + ':'; }

}  // namespace

// --- TQelImperfectionWandFrame ----------------------------------------------------

TQelImperfectionWandFrame::TQelImperfectionWandFrame(QWidget* Parent) : TQelFrame(Parent) {}

void TQelImperfectionWandFrame::Create() {
    TQelFrame::Create();
    QVBoxLayout* column = QelFrameColumn(this);
    auto add = [&](auto* widget, const char* name) {
        widget->setObjectName(QLatin1String(name));
        column->addWidget(widget);
        return widget;
    };
    TitleLabel = add(new QLabel(QStringLiteral("Imperfection Wand"), this), "TitleLabel");
    QFont bold = TitleLabel->font();
    bold.setBold(true);
    TitleLabel->setFont(bold);

    PreviewAlignmentPanel = add(new QWidget(this), "PreviewAlignmentPanel");
    auto* previewLayout = new QVBoxLayout(PreviewAlignmentPanel);
    previewLayout->setContentsMargins(0, 0, 0, 0);
    PreviewPaintBox = new TQelPaintBox(PreviewAlignmentPanel);
    PreviewPaintBox->setObjectName(QStringLiteral("PreviewPaintBox"));
    PreviewPaintBox->setFixedSize(64, 64);
    previewLayout->addWidget(PreviewPaintBox, 0, Qt::AlignHCenter);

    SizeLabel = add(new QLabel(this), "SizeLabel");
    SizeTrackBar = add(new QSlider(Qt::Horizontal, this), "SizeTrackBar");
    OpacityLabel = add(new QLabel(this), "OpacityLabel");
    OpacityTrackBar = add(new QSlider(Qt::Horizontal, this), "OpacityTrackBar");
    HardnessLabel = add(new QLabel(this), "HardnessLabel");
    HardnessTrackBar = add(new QSlider(Qt::Horizontal, this), "HardnessTrackBar");
    SmoothingLabel = add(new QLabel(this), "SmoothingLabel");
    SmoothingTrackBar = add(new QSlider(Qt::Horizontal, this), "SmoothingTrackBar");
    EraseLabel = add(new QLabel(QStringLiteral("Erase:"), this), "EraseLabel");

    ModeGroup = new QButtonGroup(this);
    auto radio = [&](const char* name, const char* text, int id) {
        auto* button = add(new QRadioButton(QLatin1String(text), this), name);
        ModeGroup->addButton(button, id);
        return button;
    };
    DarkModeRadioButton = radio("DarkModeRadioButton", "Dark Imperfections", TQelImperfectionWandTool::ModeDark);
    LightModeRadioButton = radio("LightModeRadioButton", "Light Imperfections", TQelImperfectionWandTool::ModeLight);
    BothModeRadioButton = radio("BothModeRadioButton", "Both Imperfections", TQelImperfectionWandTool::ModeBoth);
    DarkModeRadioButton->setChecked(true);

    ShowOptions = QelAddShowOptionsLink(this);
    ShowOptions->setText(QStringLiteral("Show Options"));
}

// --- TQelImperfectionWandTool -----------------------------------------------------

TQelImperfectionWandTool::TQelImperfectionWandTool()
    : TQelCustomBlurBrushTool(), Button(nullptr), Frame(), Mode(ModeDark), OptionsShown(false) {}

TQelImperfectionWandTool::~TQelImperfectionWandTool() = default;

void TQelImperfectionWandTool::Create() {
    TQelCustomBlurBrushTool::Create();
    MaxSize = 50;
    Name = "ImperfectionWand";
    QelAddToolButton(this, Button, QelText(TextImperfectionWand, QStringLiteral("Imperfection Wand")));
    if (ToolPanelModule) {
        TQelImperfectionWandFrame* frame = nullptr;
        ToolPanelModule->CreateToolFrame(frame);
        Frame = frame;
        SetPreviewBox(frame->PreviewPaintBox);
        BindSizeTrackBar(frame->SizeTrackBar);
        BindOpacityTrackBar(frame->OpacityTrackBar);
        BindHardnessTrackBar(frame->HardnessTrackBar);
        BindSmoothingTrackBar(frame->SmoothingTrackBar);
        connect(frame->ModeGroup, &QButtonGroup::idClicked, this, [this](int id) { ModeRadioButtonClick(id); });
        connect(frame->ShowOptions, &QToolButton::clicked, this, [this] { ShowOptionsButtonClick(); });
    }
    SetMode(ModeDark);
    SetShowOptions(false);
}

void TQelImperfectionWandTool::Localize() {
    TQelCustomBlurBrushTool::Localize();
    const QString title = QelText(TextImperfectionWand, QStringLiteral("Imperfection Wand"));
    if (Button) {
        Button->setText(title);
        Button->setToolTip(title);
    }
    if (!Frame) return;
    Frame->TitleLabel->setText(title);
    Frame->SizeLabel->setText(Label(TextSize, "Size"));
    Frame->OpacityLabel->setText(Label(TextOpacity, "Opacity"));
    Frame->HardnessLabel->setText(Label(TextHardness, "Hardness"));
    Frame->EraseLabel->setText(Label(TextErase, "Erase"));
    Frame->SmoothingLabel->setText(Label(TextSmoothing, "Smoothing"));
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

void TQelImperfectionWandTool::UpdateControls() {
    const bool current = GraphicsEditor && GraphicsEditor->ActiveTool == this;
    const bool enabled = GraphicsEditor && GraphicsEditor->CanToolModify(this);
    QelSetChecked(Button, current);
    QelSetEnabled(Button, enabled);
    if (Frame) Frame->SetControlsEnabled(current && enabled);
}

void TQelImperfectionWandTool::RegisterDemoTargets() {
    if (TQelDemoHooks* hooks = TQelDemoHooks::Instance()) {
        hooks->RegisterComponent(Name, Button);
        if (Frame) {
            hooks->RegisterComponent(Name + "DarkMode", Frame->DarkModeRadioButton);
            hooks->RegisterComponent(Name + "LightMode", Frame->LightModeRadioButton);
            hooks->RegisterComponent(Name + "BothMode", Frame->BothModeRadioButton);
            hooks->RegisterComponent(Name + "Options", Frame->ShowOptions);
        }
        for (int32_t mode = ModeDark; mode <= ModeBoth; ++mode)
            hooks->RegisterIntCommand(Name + ModeWords[mode], mode, [this](int32_t v) { SetMode(v); });
        hooks->RegisterBoolCommand(Name + "ShowOptions", true, [this](bool v) { SetShowOptions(v); });
        hooks->RegisterBoolCommand(Name + "HideOptions", false, [this](bool v) { SetShowOptions(v); });
    }
    TQelCustomBlurBrushTool::RegisterDemoTargets();
}

void TQelImperfectionWandTool::SetAvailable(bool Value) {
    if (Frame) Frame->setVisible(Value);
    if (Button) Button->setVisible(Value);
    TQelCustomBlurBrushTool::SetAvailable(Value);
}

void TQelImperfectionWandTool::Activate() {
    TQelCustomBlurBrushTool::Activate();
    if (ToolPanelModule && Frame) ToolPanelModule->BringToFront(Frame);
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
    const QByteArray word = Name + ModeWords[Mode];
    RecordLine("MouseCurvedMove " + word);
    RecordLine(word);
}

void TQelImperfectionWandTool::SetShowOptions(bool Value) {
    OptionsShown = Value;
    ArrangeFrame();
    RecordLine("MouseCurvedMove " + Name + "Options");
    RecordLine(Name + (Value ? "ShowOptions" : "HideOptions"));
}

void TQelImperfectionWandTool::ArrangeFrame() {
    if (!Frame) return;
    for (QWidget* w : {Frame->PreviewAlignmentPanel, static_cast<QWidget*>(Frame->OpacityLabel),
                       static_cast<QWidget*>(Frame->OpacityTrackBar), static_cast<QWidget*>(Frame->HardnessLabel),
                       static_cast<QWidget*>(Frame->HardnessTrackBar), static_cast<QWidget*>(Frame->SmoothingLabel),
                       static_cast<QWidget*>(Frame->SmoothingTrackBar)})
        w->setVisible(OptionsShown);
    QelSetShowOptionsLink(Frame->ShowOptions, OptionsShown);
}

void TQelImperfectionWandTool::ModeRadioButtonClick(int Id) { SetMode(Id); }

void TQelImperfectionWandTool::ShowOptionsButtonClick() { SetShowOptions(!OptionsShown); }

bool TQelImperfectionWandTool::BeginDraw(TQelDrawToolControl* Control, TMouseButton NewButton, TShiftState NewShift) {
    if (!TQelCustomBlurBrushTool::BeginDraw(Control, NewButton, NewShift)) return false;
    // Released first: the same bounds would keep the last stroke's means.
    BlurCache.Release();
    if (BackupPixels) BlurCache.SetBounds(BackupPixels->GetBounds());
    return true;
}

void TQelImperfectionWandTool::PaintRect(const TQelRect& Rect) {
    if (Mode < ModeDark || Mode > ModeBoth || !BackupPixels || !CurrentPixels) return;
    const TQelPixelMask& mask = GetDrawMask();
    TQelRect r;
    if (!mask.Data || !QelIntersectRect(r, Rect, mask.GetBounds()) ||
        !QelIntersectRect(r, r, CurrentPixels->GetBounds()) || !QelIntersectRect(r, r, BackupPixels->GetBounds()))
        return;
    if (CurrentPixels->BytesPerPixel < 3 || BackupPixels->BytesPerPixel < 3) return;
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
