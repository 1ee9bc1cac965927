#include "QelBrushFrame.h"

#include <QAction>
#include <QLabel>
#include <QSlider>
#include <QToolButton>
#include <QVBoxLayout>

#include "QelDemoHooks.h"
#include "QelDemoScript.h"
#include "QelGraphicsEditor.h"
#include "QelLocalizer.h"
#include "QelToolFrameParts.h"
#include "QelToolPanel.h"

namespace {

enum : int32_t {
    TextSize = 154,
    TextOpacity = 2008,
    TextHardness = 2009,
};

}  // namespace

QString QelRowLabel(int32_t Id, const char* Default) { return QelText(Id, QString::fromLatin1(Default)) + ':'; }

TQelBrushFrame::TQelBrushFrame(QWidget* Parent) : TQelFrame(Parent) {}

void TQelBrushFrame::AddRowWidget(QWidget* Widget) { QelAddToColumn(this, Widget); }

void TQelBrushFrame::Create() {
    TQelFrame::Create();
    TitleLabel = AddRow(new QLabel(this), "TitleLabel");
    QFont bold = TitleLabel->font();
    bold.setBold(true);
    TitleLabel->setFont(bold);
    PreviewAlignmentPanel = AddRow(new QWidget(this), "PreviewAlignmentPanel");
    auto* previewLayout = new QVBoxLayout(PreviewAlignmentPanel);
    previewLayout->setContentsMargins(0, 0, 0, 0);
    PreviewPaintBox = new TQelPaintBox(PreviewAlignmentPanel);
    PreviewPaintBox->setObjectName(QStringLiteral("PreviewPaintBox"));
    PreviewPaintBox->setFixedSize(64, 64);
    previewLayout->addWidget(PreviewPaintBox, 0, Qt::AlignHCenter);
    SizeLabel = AddRow(new QLabel(this), "SizeLabel");
    SizeTrackBar = AddRow(new QSlider(Qt::Horizontal, this), "SizeTrackBar");
    OpacityLabel = AddRow(new QLabel(this), "OpacityLabel");
    OpacityTrackBar = AddRow(new QSlider(Qt::Horizontal, this), "OpacityTrackBar");
    HardnessLabel = AddRow(new QLabel(this), "HardnessLabel");
    HardnessTrackBar = AddRow(new QSlider(Qt::Horizontal, this), "HardnessTrackBar");
    CreateRows();
    ShowOptions = QelAddShowOptionsLink(this);
    ShowOptions->setText(QStringLiteral("Show Options"));
}

std::vector<QWidget*> TQelBrushFrame::OptionRows() const {
    return {PreviewAlignmentPanel, OpacityLabel, OpacityTrackBar, HardnessLabel, HardnessTrackBar};
}

void QelBindBrushFrame(TQelBrushTool* Tool, TQelBrushFrame* Frame, std::function<void()> ShowOptionsClick) {
    if (!Tool || !Frame) return;
    Tool->SetPreviewBox(Frame->PreviewPaintBox);
    Tool->BindSizeTrackBar(Frame->SizeTrackBar);
    Tool->BindOpacityTrackBar(Frame->OpacityTrackBar);
    Tool->BindHardnessTrackBar(Frame->HardnessTrackBar);
    QObject::connect(Frame->ShowOptions, &QToolButton::clicked, Tool, std::move(ShowOptionsClick));
}

void QelLocalizeBrushFrame(TQelBrushFrame* Frame, const QString& Title) {
    if (!Frame) return;
    Frame->TitleLabel->setText(Title);
    Frame->SizeLabel->setText(QelRowLabel(TextSize, "Size"));
    Frame->OpacityLabel->setText(QelRowLabel(TextOpacity, "Opacity"));
    Frame->HardnessLabel->setText(QelRowLabel(TextHardness, "Hardness"));
}

void QelArrangeBrushFrame(TQelBrushFrame* Frame, bool Shown) {
    if (!Frame) return;
    for (QWidget* row : Frame->OptionRows()) row->setVisible(Shown);
    QelSetShowOptionsLink(Frame->ShowOptions, Shown);
}

void QelRegisterShowOptions(const QByteArray& Name, TQelBrushFrame* Frame, std::function<void(bool)> Setter) {
    TQelDemoHooks* hooks = TQelDemoHooks::Instance();
    if (!hooks) return;
    if (Frame) hooks->RegisterComponent(Name + "Options", Frame->ShowOptions);
    hooks->RegisterBoolCommand(Name + "ShowOptions", true, Setter);
    hooks->RegisterBoolCommand(Name + "HideOptions", false, Setter);
}
