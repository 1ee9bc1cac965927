#include "QelHandInpaintingFrame.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSlider>
#include <QToolButton>
#include <QVBoxLayout>

#include "QelHandInpaintingTool.h"

namespace {

constexpr int GlyphSide = 16;
constexpr int ReflectionButtonSide = 26;

// The names of the reflection buttons, by direction.
constexpr const char* ReflectionButtonNames[8] = {
    "arNorthSpeedButton", "arNorthReflexSpeedButton", "arEastSpeedButton", "arEastReflexSpeedButton",
    "arSouthSpeedButton", "arSouthReflexSpeedButton", "arWestSpeedButton", "arWestReflexSpeedButton",
};

// The glyph of an orientation: a letter turned the way a patch is turned in
// that orientation, so the button shows what the patch will look like.
QIcon ReflectionGlyph(int Orientation) {
    QImage letter(GlyphSide, GlyphSide, QImage::Format_ARGB32);
    letter.fill(Qt::transparent);
    {
        QPainter painter(&letter);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0x34, 0x40, 0x4F));
        // An "F": asymmetric both ways, so all eight turns differ.
        painter.drawRect(3, 2, 3, 12);
        painter.drawRect(6, 2, 7, 3);
        painter.drawRect(6, 7, 5, 3);
    }
    QImage glyph(GlyphSide, GlyphSide, QImage::Format_ARGB32);
    const int w = GlyphSide - 1;
    for (int y = 0; y < GlyphSide; ++y)
        for (int x = 0; x < GlyphSide; ++x) {
            int sx = x, sy = y;
            switch (Orientation) {
            case 1: sx = w - x; break;
            case 2: sx = y; sy = w - x; break;
            case 3: sx = y; sy = x; break;
            case 4: sx = w - x; sy = w - y; break;
            case 5: sy = w - y; break;
            case 6: sx = w - y; sy = w - x; break;
            case 7: sx = w - y; sy = x; break;
            default: break;
            }
            glyph.setPixel(x, y, letter.pixel(sx, sy));
        }
    return QIcon(QPixmap::fromImage(glyph));
}

QWidget* NewPanel(QWidget* Parent, const char* Name) {
    auto* panel = new QWidget(Parent);
    panel->setObjectName(QLatin1String(Name));
    return panel;
}

}  // namespace

// --- TQelPreviewImage ------------------------------------------------------------------

TQelPreviewImage::TQelPreviewImage(QWidget* Parent) : QWidget(Parent), Picture() {}

void TQelPreviewImage::SetPictureSize(int32_t Side) {
    if (Side < 1 || (Picture.width() == Side && Picture.height() == Side)) return;
    Picture = QImage(Side, Side, QImage::Format_BGR888);
    Clear();
}

void TQelPreviewImage::Clear() {
    const uint8_t grey = TQelHandInpaintingTool::OutsideGrey;
    Picture.fill(QColor(grey, grey, grey));
    update();
}

void TQelPreviewImage::paintEvent(QPaintEvent*) {
    if (Picture.isNull()) return;
    QPainter painter(this);
    // Nearest neighbour: the magnified pixels stay sharp squares.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    const QSize fitted = Picture.size().scaled(size(), Qt::KeepAspectRatio);
    const QRect target(QPoint((width() - fitted.width()) / 2, (height() - fitted.height()) / 2), fitted);
    painter.drawImage(target, Picture);
}

// --- TQelHandInpaintingFrame -------------------------------------------------------------

TQelHandInpaintingFrame::TQelHandInpaintingFrame(QWidget* Parent) : TQelFrame(Parent) {}

void TQelHandInpaintingFrame::Create() {
    TQelFrame::Create();
    setObjectName(QStringLiteral("QelHandInpaintingFrame"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 4, 2, 4);

    TitleLabel = new QLabel(QStringLiteral("Hand Inpainting"), this);
    TitleLabel->setObjectName(QStringLiteral("TitleLabel"));
    QFont bold = TitleLabel->font();
    bold.setBold(true);
    TitleLabel->setFont(bold);
    SizeLabel = new QLabel(QStringLiteral("Size:"), this);
    SizeLabel->setObjectName(QStringLiteral("SizeLabel"));
    SizeTrackBar = new QSlider(Qt::Horizontal, this);
    SizeTrackBar->setObjectName(QStringLiteral("SizeTrackBar"));

    ImagePanel = NewPanel(this, "ImagePanel");
    TargetImage = new TQelPreviewImage(ImagePanel);
    TargetImage->setObjectName(QStringLiteral("TargetImage"));
    TargetImage->setGeometry(4, 4, TQelHandInpaintingTool::PreviewWidth, TQelHandInpaintingTool::PreviewWidth);
    TargetImage->hide();
    HandyImage = new TQelPreviewImage(ImagePanel);
    HandyImage->setObjectName(QStringLiteral("HandyImage"));
    HandyImage->setGeometry(4, 4, TQelHandInpaintingTool::SecondPreviewWidth,
                            TQelHandInpaintingTool::SecondPreviewWidth);
    HandyImage->hide();
    CancelTBXButton = new QPushButton(QStringLiteral("Cancel"), ImagePanel);
    CancelTBXButton->setObjectName(QStringLiteral("CancelTBXButton"));

    OptionsPanel = NewPanel(this, "OptionsPanel");
    auto* options = new QHBoxLayout(OptionsPanel);
    options->setContentsMargins(0, 0, 0, 0);
    LongDefectTBXCheckBox = new QCheckBox(QStringLiteral("Long Defect"), OptionsPanel);
    LongDefectTBXCheckBox->setObjectName(QStringLiteral("LongDefectTBXCheckBox"));
    TwoSpeedButton = new QToolButton(OptionsPanel);
    TwoSpeedButton->setObjectName(QStringLiteral("TwoSpeedButton"));
    TwoSpeedButton->setText(QStringLiteral("2"));
    TwoSpeedButton->setCheckable(true);
    TwoSpeedButton->hide();
    LoupeSpeedButton = new QToolButton(OptionsPanel);
    LoupeSpeedButton->setObjectName(QStringLiteral("LoupeSpeedButton"));
    LoupeSpeedButton->setCheckable(true);
    LoupeSpeedButton->setChecked(true);
    LoupeSpeedButton->hide();
    options->addWidget(LongDefectTBXCheckBox);
    options->addWidget(TwoSpeedButton);
    options->addWidget(LoupeSpeedButton);
    options->addStretch();

    AdjustmentPanel = NewPanel(this, "AdjustmentPanel");
    auto* adjustment = new QHBoxLayout(AdjustmentPanel);
    adjustment->setContentsMargins(0, 0, 0, 0);
    AdjustmentTBXCheckBox = new QCheckBox(QStringLiteral("Adjustment"), AdjustmentPanel);
    AdjustmentTBXCheckBox->setObjectName(QStringLiteral("AdjustmentTBXCheckBox"));
    AntiAliasingTBXCheckBox = new QCheckBox(QStringLiteral("AntiAliasing"), AdjustmentPanel);
    AntiAliasingTBXCheckBox->setObjectName(QStringLiteral("AntiAliasingTBXCheckBox"));
    AntiAliasingTBXCheckBox->setChecked(true);
    AntiAliasingTBXCheckBox->hide();
    adjustment->addWidget(AdjustmentTBXCheckBox);
    adjustment->addWidget(AntiAliasingTBXCheckBox);
    adjustment->addStretch();

    AreaReflectionPanel = NewPanel(this, "AreaReflectionPanel");
    auto* reflection = new QVBoxLayout(AreaReflectionPanel);
    reflection->setContentsMargins(0, 0, 0, 0);
    auto* row = new QHBoxLayout();
    row->setSpacing(2);
    ReflectionGroup = new QButtonGroup(this);
    ReflectionGroup->setExclusive(true);
    for (int i = 0; i < 8; ++i) {
        auto* button = new QToolButton(AreaReflectionPanel);
        button->setObjectName(QLatin1String(ReflectionButtonNames[i]));
        button->setCheckable(true);
        button->setAutoRaise(true);
        button->setIcon(ReflectionGlyph(i));
        button->setIconSize(QSize(GlyphSide, GlyphSide));
        button->setFixedSize(ReflectionButtonSide, ReflectionButtonSide);
        ReflectionGroup->addButton(button, i);
        ReflectionButtons[size_t(i)] = button;
        row->addWidget(button);
    }
    ReflectionButtons[0]->setChecked(true);
    row->addStretch();
    reflection->addLayout(row);
    AutoReflectionTBXCheckBox = new QCheckBox(QStringLiteral("Auto"), AreaReflectionPanel);
    AutoReflectionTBXCheckBox->setObjectName(QStringLiteral("AutoReflectionTBXCheckBox"));
    reflection->addWidget(AutoReflectionTBXCheckBox);

    // Top to bottom; the last three panels are shown.
    for (QWidget* w : {static_cast<QWidget*>(TitleLabel), static_cast<QWidget*>(SizeLabel),
                       static_cast<QWidget*>(SizeTrackBar), ImagePanel, OptionsPanel, AdjustmentPanel,
                       AreaReflectionPanel})
        layout->addWidget(w);
    layout->addStretch();
    ArrangeImagePanel();

    // Connected once every control has its first state.
    connect(AdjustmentTBXCheckBox, &QCheckBox::toggled, this, &TQelHandInpaintingFrame::AdjustmentTBXCheckBoxChange);
    connect(AntiAliasingTBXCheckBox, &QCheckBox::toggled, this,
            &TQelHandInpaintingFrame::AntiAliasingTBXCheckBoxChange);
    connect(LongDefectTBXCheckBox, &QCheckBox::toggled, this, &TQelHandInpaintingFrame::LongDefectTBXCheckBoxChange);
    connect(AutoReflectionTBXCheckBox, &QCheckBox::toggled, this,
            &TQelHandInpaintingFrame::AutoReflectionTBXCheckBoxChange);
    connect(ReflectionGroup, &QButtonGroup::idClicked, this, &TQelHandInpaintingFrame::arNorthSpeedButtonClick);
    connect(CancelTBXButton, &QPushButton::clicked, this, [this] { CancelTBXButtonClick(); });
    connect(LoupeSpeedButton, &QToolButton::clicked, this, [this] { LoupeSpeedButtonClick(); });
    connect(TwoSpeedButton, &QToolButton::clicked, this, [this] { TwoSpeedButtonClick(); });
}

void TQelHandInpaintingFrame::ArrangeImagePanel() {
    int bottom = 0;
    for (const TQelPreviewImage* image : {TargetImage, HandyImage})
        if (image->isVisibleTo(ImagePanel)) bottom = std::max(bottom, image->y() + image->height());
    const int buttonHeight = CancelTBXButton->sizeHint().height();
    // The pictures sit 4 pixels in from the left; the panel ends at their
    // right edge so that it fits the tool panel's width.
    const int width = TQelHandInpaintingTool::PreviewWidth + 4;
    CancelTBXButton->setGeometry(4, bottom + 4, width - 4, buttonHeight);
    ImagePanel->setFixedSize(width, bottom + 4 + buttonHeight + 4);
}

void TQelHandInpaintingFrame::AdjustmentTBXCheckBoxChange(bool Checked) {
    TQelHandInpaintingTool* tool = HandInpaintingTool;
    if (!tool) return;
    tool->AdjustmentKind = Checked ? TAreaCorrelator::KindPerChannel : TAreaCorrelator::KindCopy;
    tool->RecordAction("Adjustment", "Adjustment " + QByteArray::number(tool->AdjustmentKind));
}

void TQelHandInpaintingFrame::AntiAliasingTBXCheckBoxChange(bool Checked) {
    TQelHandInpaintingTool* tool = HandInpaintingTool;
    if (!tool) return;
    tool->AntiAliasing = Checked;
    tool->ListsStale = true;
    tool->RecordAction("AntiAliasing", "AntiAliasing " + QByteArray::number(Checked ? 1 : 0));
}

void TQelHandInpaintingFrame::LongDefectTBXCheckBoxChange(bool Checked) {
    TQelHandInpaintingTool* tool = HandInpaintingTool;
    if (!tool) return;
    tool->LongDefect = Checked;
    tool->ListsStale = true;
    tool->RecordAction("LongDefect", "LongDefect " + QByteArray::number(Checked ? 1 : 0));
}

void TQelHandInpaintingFrame::AutoReflectionTBXCheckBoxChange(bool Checked) {
    TQelHandInpaintingTool* tool = HandInpaintingTool;
    if (!tool) return;
    tool->AutoReflection = Checked;
    tool->RecordAction("AutoReflection", "AutoReflection " + QByteArray::number(Checked ? 1 : 0));
}

void TQelHandInpaintingFrame::arNorthSpeedButtonClick(int Tag) {
    TQelHandInpaintingTool* tool = HandInpaintingTool;
    if (!tool || Tag < 0 || Tag > 7) return;
    // Applies at the next move: the patch is not redrawn now.
    tool->ReflectionDirection = uint8_t(Tag);
    tool->RecordAction(ReflectionButtonNames[Tag], "AreaReflection " + QByteArray::number(Tag));
}

void TQelHandInpaintingFrame::CancelTBXButtonClick() {
    TQelHandInpaintingTool* tool = HandInpaintingTool;
    if (!tool) return;
    tool->CancelPatch();
    tool->RecordAction("CancelButton", "CancelButton");
}

void TQelHandInpaintingFrame::LoupeSpeedButtonClick() {
    if (TQelHandInpaintingTool* tool = HandInpaintingTool) tool->SetTargetPreview(!tool->TargetPreview);
}

void TQelHandInpaintingFrame::TwoSpeedButtonClick() {
    TQelHandInpaintingTool* tool = HandInpaintingTool;
    if (!tool) return;
    tool->SetSecondPreview(!tool->SecondPreview);
    tool->RenderPreviews(false);
    tool->RenderPreviews(true);
}
