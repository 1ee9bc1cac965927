#include "QelMakeUpSurfaceFrame.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QSlider>
#include <QToolButton>
#include <QVBoxLayout>

#include "QelCursors.h"
#include "QelMakeUpSurfaceTool.h"
#include "QelToolFrameParts.h"

namespace {

constexpr int SelectorSide = 41;
constexpr int SwatchWidth = 80;
constexpr int SwatchHeight = 41;
constexpr int ColorButtonWidth = 85;
constexpr int ColorPanelHeight = 33;
constexpr int PlaneSide = 256;

QSlider* NewTrackBar(QWidget* Parent, const char* Name) {
    auto* bar = new QSlider(Qt::Horizontal, Parent);
    bar->setObjectName(QLatin1String(Name));
    return bar;
}

QLabel* NewLabel(QWidget* Parent, const char* Name, const QString& Text) {
    auto* label = new QLabel(Text, Parent);
    label->setObjectName(QLatin1String(Name));
    return label;
}

}  // namespace

void TQelPalettePaintBox::mousePressEvent(QMouseEvent* Event) {
    const QPoint p = Event->position().toPoint();
    if (OnMouseDown) OnMouseDown(Event->button(), p.x(), p.y());
}

void TQelPalettePaintBox::mouseMoveEvent(QMouseEvent* Event) {
    const QPoint p = Event->position().toPoint();
    if (OnMouseMove) OnMouseMove(Event->buttons(), p.x(), p.y());
}

TQelMakeUpSurfaceFrame::TQelMakeUpSurfaceFrame(QWidget* Parent) : TQelFrame(Parent), Tool() {}

void TQelMakeUpSurfaceFrame::Create() {
    TQelFrame::Create();
    setObjectName(QStringLiteral("MakeUpSurfaceFrame"));
    TitleLabel = QelAddTitleLabel(this);
    TitleLabel->setText(DefaultTitle());
    QelFrameColumn(this)->setSpacing(2);

    SizeLabel = NewLabel(this, "SizeLabel", QStringLiteral("Size:"));
    SizeTrackBar = NewTrackBar(this, "SizeTrackBar");
    OpacityLabel = NewLabel(this, "OpacityLabel", QStringLiteral("Opacity:"));
    OpacityTrackBar = NewTrackBar(this, "OpacityTrackBar");
    HardnessLabel = NewLabel(this, "HardnessLabel", QStringLiteral("Hardness:"));
    HardnessTrackBar = NewTrackBar(this, "HardnessTrackBar");
    for (QWidget* w : {static_cast<QWidget*>(SizeLabel), static_cast<QWidget*>(SizeTrackBar),
                       static_cast<QWidget*>(OpacityLabel), static_cast<QWidget*>(OpacityTrackBar),
                       static_cast<QWidget*>(HardnessLabel), static_cast<QWidget*>(HardnessTrackBar)})
        QelAddToColumn(this, w);

    TBXAlignmentPanel = new QWidget(this);
    TBXAlignmentPanel->setObjectName(QStringLiteral("TBXAlignmentPanel"));
    TBXAlignmentPanel->setFixedHeight(SelectorSide);
    auto* selectorRow = new QHBoxLayout(TBXAlignmentPanel);
    selectorRow->setContentsMargins(0, 0, 0, 0);
    selectorRow->setSpacing(4);
    ColorSelectorTntSpeedButton = new QToolButton(TBXAlignmentPanel);
    ColorSelectorTntSpeedButton->setObjectName(QStringLiteral("ColorSelectorTntSpeedButton"));
    ColorSelectorTntSpeedButton->setFixedSize(SelectorSide, SelectorSide);
    ColorSelectorTntSpeedButton->setCheckable(true);
    ColorSelectorTntSpeedButton->setAutoRaise(true);
    ColorSelectorTntSpeedButton->setIcon(QIcon(QStringLiteral(":/cursors/ColorSelector.png")));
    ColorSelectorTntSpeedButton->setIconSize(QSize(32, 32));
    connect(ColorSelectorTntSpeedButton, &QToolButton::clicked, this,
            [this] { ColorSelectorTntSpeedButtonClick(ColorSelectorTntSpeedButton); });
    ColorTntPaintBox = new TQelPaintBox(TBXAlignmentPanel);
    ColorTntPaintBox->setObjectName(QStringLiteral("ColorTntPaintBox"));
    ColorTntPaintBox->setFixedSize(SwatchWidth, SwatchHeight);
    ColorTntPaintBox->OnPaint = [this](QPainter& painter) { ColorTntPaintBoxPaint(painter); };
    TintTBXCheckBox = new QCheckBox(QStringLiteral("Tint"), TBXAlignmentPanel);
    TintTBXCheckBox->setObjectName(QStringLiteral("TintTBXCheckBox"));
    connect(TintTBXCheckBox, &QCheckBox::toggled, this, [this] { TintTBXCheckBoxChange(TintTBXCheckBox); });
    selectorRow->addWidget(ColorSelectorTntSpeedButton);
    selectorRow->addWidget(ColorTntPaintBox);
    selectorRow->addWidget(TintTBXCheckBox);
    selectorRow->addStretch(1);
    QelAddToColumn(this, TBXAlignmentPanel);

    BrightnessTBXLabel = NewLabel(this, "BrightnessTBXLabel", QStringLiteral("Brightness:"));
    BrightnessTrackBar = NewTrackBar(this, "BrightnessTrackBar");
    QelAddToColumn(this, BrightnessTBXLabel);
    QelAddToColumn(this, BrightnessTrackBar);

    TBXAlignmentPanel1 = new QWidget(this);
    TBXAlignmentPanel1->setObjectName(QStringLiteral("TBXAlignmentPanel1"));
    TBXAlignmentPanel1->setFixedHeight(ColorPanelHeight);
    auto* colorRow = new QHBoxLayout(TBXAlignmentPanel1);
    colorRow->setContentsMargins(0, 0, 0, 0);
    colorRow->setSpacing(0);
    ColorButtons = new QButtonGroup(this);
    ColorButtons->setExclusive(true);
    const struct {
        QToolButton** Button;
        const char* Name;
        const char* Text;
    } buttons[] = {{&RedTntSpeedButton, "RedTntSpeedButton", "Red"},
                   {&GreenTntSpeedButton, "GreenTntSpeedButton", "Green"},
                   {&BlueTntSpeedButton, "BlueTntSpeedButton", "Blue"}};
    int tag = TMakeUpPalette::ModeRed;
    for (const auto& b : buttons) {
        auto* button = new QToolButton(TBXAlignmentPanel1);
        button->setObjectName(QLatin1String(b.Name));
        button->setText(QLatin1String(b.Text));
        button->setCheckable(true);
        button->setAutoRaise(true);
        button->setFixedSize(ColorButtonWidth, ColorPanelHeight);
        ColorButtons->addButton(button, tag++);
        connect(button, &QToolButton::clicked, this, [this, button] { RedTntSpeedButtonClick(button); });
        colorRow->addWidget(button);
        *b.Button = button;
    }
    colorRow->addStretch(1);
    RedTntSpeedButton->setChecked(true);
    QelAddToColumn(this, TBXAlignmentPanel1);

    PaletteTntPaintBox = new TQelPalettePaintBox(this);
    PaletteTntPaintBox->setObjectName(QStringLiteral("PaletteTntPaintBox"));
    PaletteTntPaintBox->setFixedSize(PlaneSide, PlaneSide);
    PaletteTntPaintBox->OnPaint = [this](QPainter& painter) { PaletteTntPaintBoxPaint(painter); };
    PaletteTntPaintBox->OnMouseDown = [this](Qt::MouseButton button, int32_t x, int32_t y) {
        PaletteTntPaintBoxMouseDown(button, x, y);
    };
    PaletteTntPaintBox->OnMouseMove = [this](Qt::MouseButtons held, int32_t x, int32_t y) {
        PaletteTntPaintBoxMouseMove(held, x, y);
    };
    QelAddToColumn(this, PaletteTntPaintBox);
}

void TQelMakeUpSurfaceFrame::Initialize() {
    TQelFrame::Initialize();
    if (PaletteTntPaintBox) PaletteTntPaintBox->setCursor(TQelCursorRegistry::Instance().Cursor(ColorSelectorCursor));
}

QToolButton* TQelMakeUpSurfaceFrame::ColorButton(int32_t Mode) const {
    return ColorButtons ? qobject_cast<QToolButton*>(ColorButtons->button(Mode)) : nullptr;
}

void TQelMakeUpSurfaceFrame::ColorSelectorTntSpeedButtonClick(QObject*) {
    if (!Tool) return;
    const bool down = ColorSelectorTntSpeedButton->isChecked();
    Tool->SetPickMode(down, false);
    Tool->RecordUICommand("ColorSelector", QByteArray::number(down ? 1 : 0));
}

void TQelMakeUpSurfaceFrame::ColorTntPaintBoxPaint(QPainter& Painter) {
    if (!Tool) return;
    Tool->Palette.PaintSwatch(Painter);
    Tool->ShowColor();
}

void TQelMakeUpSurfaceFrame::PaletteTntPaintBoxMouseDown(Qt::MouseButton Button, int32_t X, int32_t Y) {
    if (Tool && Button == Qt::LeftButton) Tool->SetPalettePoint(X, Y);
}

void TQelMakeUpSurfaceFrame::PaletteTntPaintBoxMouseMove(Qt::MouseButtons Buttons, int32_t X, int32_t Y) {
    if (Tool && (Buttons & Qt::LeftButton)) Tool->SetPalettePoint(X, Y);
}

void TQelMakeUpSurfaceFrame::PaletteTntPaintBoxPaint(QPainter& Painter) {
    if (Tool) Tool->Palette.PaintPlane(Painter);
}

void TQelMakeUpSurfaceFrame::RedTntSpeedButtonClick(QObject* Sender) {
    auto* button = qobject_cast<QToolButton*>(Sender);
    if (!button || !ColorButtons) return;
    const int32_t mode = ColorButtons->id(button);
    {
        const QSignalBlocker blocker(button);
        button->setChecked(true);
    }
    if (!Tool) return;
    Tool->Palette.SetMode(mode);
    Tool->RecordUICommand(mode == TMakeUpPalette::ModeRed ? "Red" : (mode == TMakeUpPalette::ModeGreen ? "Green" : "Blue"));
}

void TQelMakeUpSurfaceFrame::TintTBXCheckBoxChange(QObject*) {
    if (Tool) Tool->Mode = TintTBXCheckBox->isChecked() ? TQelMakeUpSurfaceTool::ModeColor : TQelMakeUpSurfaceTool::ModeNormal;
}

void TQelMakeUpSurfaceFrame::UpdateColorButtons() {
    if (!Tool) return;
    if (QToolButton* button = ColorButton(Tool->Palette.GetMode())) {
        const QSignalBlocker blocker(button);
        button->setChecked(true);
    }
}
