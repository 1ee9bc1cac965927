#include "QelRotateTool.h"

#include <QButtonGroup>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

#include "QelDemoHooks.h"
#include "QelDemoScript.h"
#include "QelLocalizer.h"
#include "QelMainForm.h"
#include "QelToolFrameParts.h"
#include "QelToolPanel.h"

TQelRotateTool* RotateTool = nullptr;

namespace {

constexpr int32_t TextRotation = 2024;
constexpr int32_t TextRotateRight = 2025;
constexpr int32_t TextRotateLeft = 2026;
constexpr int32_t TextFlipVertical = 2109;
constexpr int32_t TextFlipHorizontal = 2110;

constexpr int ThumbnailWidth = 176;
constexpr int ThumbnailHeight = 150;

QPushButton* AddOperationButton(QWidget* Frame, const char* Name, int Image) {
    auto* button = new QPushButton(Frame);
    button->setObjectName(QLatin1String(Name));
    button->setIcon(QelSmallImage(Image));
    QelAddToColumn(Frame, button);
    return button;
}

void SetCaption(QAction* Action, const QString& Text) {
    if (!Action) return;
    Action->setText(Text);
    Action->setToolTip(Text);
}

// The bitmap operation of a code on a thumbnail.
bool TurnBitmap(TQelLTBitmap& Bitmap, uint8_t Operation) {
    switch (Operation) {
    case QelRotateLeft: return Bitmap.RotateLeft();
    case QelRotateRight: return Bitmap.RotateRight();
    case QelFlipHorizontal: return Bitmap.FlipHorizontal();
    case QelFlipVertical: return Bitmap.FlipVertical();
    default: return false;
    }
}

}  // namespace

uint8_t QelInverseRotation(uint8_t Operation) {
    switch (Operation) {
    case QelRotateLeft: return QelRotateRight;
    case QelRotateRight: return QelRotateLeft;
    default: return Operation;
    }
}

// --- Thumbnail view ------------------------------------------------------------------

TQelThumbnailView::TQelThumbnailView(TQelRotateFrame* Frame, QWidget* Parent) : QWidget(Parent), FFrame(Frame) {
    setObjectName(QStringLiteral("ThumbnailView"));
    setFixedSize(ThumbnailWidth, ThumbnailHeight);
}

void TQelThumbnailView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    FFrame->ThumbnailViewPaint(painter);
}

// --- Frame -------------------------------------------------------------------------

TQelRotateFrame::TQelRotateFrame(QWidget* Parent) : TQelFrame(Parent) {}

TQelRotateFrame::~TQelRotateFrame() = default;

void TQelRotateFrame::Create() {
    TQelFrame::Create();
    setObjectName(QStringLiteral("RotateFrame"));
    TitleLabel = QelAddTitleLabel(this);

    PreviewControl = new QWidget(this);
    PreviewControl->setObjectName(QStringLiteral("PreviewControl"));
    auto* column = new QVBoxLayout(PreviewControl);
    column->setContentsMargins(0, 0, 0, 0);
    auto* group = new QButtonGroup(PreviewControl);
    group->setExclusive(true);
    auto addRadio = [&](QRadioButton*& radio, const char* name) {
        radio = new QRadioButton(PreviewControl);
        radio->setObjectName(QLatin1String(name));
        group->addButton(radio);
        column->addWidget(radio);
    };
    addRadio(RotateRightRadioButton, "RotateRightRadioButton");
    addRadio(RotateLeftRadioButton, "RotateLeftRadioButton");
    addRadio(FlipHorizontalRadioButton, "FlipHorizontalRadioButton");
    addRadio(FlipVerticalRadioButton, "FlipVerticalRadioButton");
    RotateRightRadioButton->setChecked(true);
    RotateButton = new QPushButton(PreviewControl);
    RotateButton->setObjectName(QStringLiteral("RotateButton"));
    RotateButton->setText(QStringLiteral("Rotate Right"));
    column->addWidget(RotateButton, 0, Qt::AlignLeft);
    PreviewPanel = new QWidget(PreviewControl);
    PreviewPanel->setObjectName(QStringLiteral("PreviewPanel"));
    auto* panel = new QVBoxLayout(PreviewPanel);
    panel->setContentsMargins(0, 0, 0, 0);
    ThumbnailView = new TQelThumbnailView(this, PreviewPanel);
    panel->addWidget(ThumbnailView);
    column->addWidget(PreviewPanel);
    QelAddToColumn(this, PreviewControl);

    RotateRightButton = AddOperationButton(this, "RotateRightButton", 2);
    RotateLeftButton = AddOperationButton(this, "RotateLeftButton", 3);
    FlipHorizontalButton = AddOperationButton(this, "FlipHorizontalButton", 4);
    FlipVerticalButton = AddOperationButton(this, "FlipVerticalButton", 5);
    ShowOptions = QelAddShowOptionsLink(this);

    connect(RotateLeftButton, &QPushButton::clicked, this, [this] { RotateLeftButtonClick(); });
    connect(RotateRightButton, &QPushButton::clicked, this, [this] { RotateRightButtonClick(); });
    connect(FlipHorizontalButton, &QPushButton::clicked, this, [this] { FlipHorizontalButtonClick(); });
    connect(FlipVerticalButton, &QPushButton::clicked, this, [this] { FlipVerticalButtonClick(); });
    for (QRadioButton* radio :
         {RotateRightRadioButton, RotateLeftRadioButton, FlipHorizontalRadioButton, FlipVerticalRadioButton})
        connect(radio, &QRadioButton::toggled, this, [this, radio](bool on) { RotateRadioButtonChange(radio, on); });
    connect(RotateButton, &QPushButton::clicked, this, [this] { RotateButtonClick(); });
    connect(ShowOptions, &QToolButton::clicked, this, [this] { ShowOptionsButtonClick(); });
}

void TQelRotateFrame::RotateLeftButtonClick() {
    if (!Tool) return;
    Tool->RotateLeft();
    Tool->RecordMovedLine("Left", "Left");
}

void TQelRotateFrame::RotateRightButtonClick() {
    if (!Tool) return;
    Tool->RotateRight();
    Tool->RecordMovedLine("Right", "Right");
}

void TQelRotateFrame::FlipHorizontalButtonClick() {
    if (!Tool) return;
    Tool->FlipHorizontal();
    Tool->RecordMovedLine("Horizontal", "Horizontal");
}

void TQelRotateFrame::FlipVerticalButtonClick() {
    if (!Tool) return;
    Tool->FlipVertical();
    Tool->RecordMovedLine("Vertical", "Vertical");
}

uint8_t TQelRotateFrame::GetChoice() const {
    if (RotateLeftRadioButton->isChecked()) return QelRotateLeft;
    if (RotateRightRadioButton->isChecked()) return QelRotateRight;
    if (FlipHorizontalRadioButton->isChecked()) return QelFlipHorizontal;
    return QelFlipVertical;
}

void TQelRotateFrame::RotateRadioButtonChange(QRadioButton* Sender, bool Checked) {
    if (!Checked) return;
    RotateButton->setText(Sender->text());
    UpdatePreview();
    if (!Tool) return;
    const char* word = Sender == RotateLeftRadioButton    ? "LeftOption"
                       : Sender == RotateRightRadioButton ? "RightOption"
                       : Sender == FlipHorizontalRadioButton ? "HorizontalOption"
                                                             : "VerticalOption";
    Tool->RecordMovedLine(word, word);
}

void TQelRotateFrame::RotateButtonClick() {
    if (!Tool) return;
    Tool->Perform(GetChoice());
    // The choice applied once more to the turned image.
    UpdatePreview();
    Tool->RecordMovedLine("Perform", "Perform");
}

void TQelRotateFrame::ShowOptionsButtonClick() {
    if (Tool) Tool->SetOptionsShown(!Tool->OptionsShown);
}

bool TQelRotateFrame::PreviewShown() const { return Tool && Tool->Active && !PreviewControl->isHidden(); }

void TQelRotateFrame::PrepareThumbnail(TQelGraphicsDocument* Document) {
    SourceThumbnail.reset();
    if (!Document || !PreviewShown()) return;
    const int size = std::min(ThumbnailView->width(), ThumbnailView->height()) - 2;
    SourceThumbnail = Document->CreatePreviewBitmap(size);
    // An image too thin or too small for a thumbnail has none.
    if (SourceThumbnail && SourceThumbnail->IsEmpty()) SourceThumbnail.reset();
}

void TQelRotateFrame::UpdatePreview() {
    if (!PreviewShown()) return;
    Preview.reset();
    if (!SourceThumbnail) PrepareThumbnail(QelActiveDocument());
    if (SourceThumbnail) {
        Preview = SourceThumbnail->Clone();
        if (Preview && (Preview->IsEmpty() || !TurnBitmap(*Preview, GetChoice()))) Preview.reset();
    }
    ThumbnailView->update();
}

void TQelRotateFrame::ThumbnailViewPaint(QPainter& Painter) {
    Painter.setPen(Qt::black);
    Painter.setBrush(Qt::white);
    Painter.drawRect(ThumbnailView->rect().adjusted(0, 0, -1, -1));
    if (!Preview || Preview->IsEmpty()) return;
    const QImage image = QelPixelsImage(*Preview->GetPixels());
    Painter.drawImage(QPoint((ThumbnailView->width() - image.width()) / 2,
                             (ThumbnailView->height() - image.height()) / 2),
                      image);
}

// --- Tool ----------------------------------------------------------------------------

TQelRotateTool::TQelRotateTool()
    : TQelFramedTool(),
      Frame(nullptr),
      LastOperation(QelRotateRight),
      OptionsShown(false),
      RotateRightItem(nullptr),
      RotateLeftItem(nullptr),
      FlipVerticalItem(nullptr),
      FlipHorizontalItem(nullptr) {}

TQelRotateTool::~TQelRotateTool() {
    // The items live on the editor's toolbar and call this tool.
    for (QAction* item : {RotateRightItem, RotateLeftItem, FlipVerticalItem, FlipHorizontalItem})
        if (MainForm) delete item;
    if (RotateTool == this) RotateTool = nullptr;
}

void TQelRotateTool::Create() {
    TQelFramedTool::Create();
    Name = "Rotation";
    AddButton(QelText(TextRotation, QStringLiteral("Rotation & Flip")));
    if (AddFrame(Frame)) Frame->Tool = this;
    SetOptionsShown(false);
}

void TQelRotateTool::AddStandardToolbarButtons() {
    if (!MainForm || !GraphicsEditor || RotateRightItem) return;
    QToolBar* toolbar = GraphicsEditor->StandardToolbar;
    MainForm->AddSeparator(toolbar, nullptr);
    struct TItem {
        QAction*& Item;
        const char* Name;
        int32_t Text;
        void (TQelRotateTool::*Operation)();
    };
    const TItem items[] = {
        {RotateRightItem, "RotateRightToolButton", TextRotateRight, &TQelRotateTool::RotateRight},
        {RotateLeftItem, "RotateLeftToolButton", TextRotateLeft, &TQelRotateTool::RotateLeft},
        {FlipVerticalItem, "FlipVerticalToolButton", TextFlipVertical, &TQelRotateTool::FlipVertical},
        {FlipHorizontalItem, "FlipHorizontalToolButton", TextFlipHorizontal, &TQelRotateTool::FlipHorizontal},
    };
    const QPointer<TQelRotateTool> self = this;
    for (const TItem& item : items) {
        MainForm->AddToolButton(
            toolbar, item.Item, [self, op = item.Operation](QObject*) { if (self) (self.data()->*op)(); }, -1,
            QelText(item.Text), nullptr, MainForm->GetImages());
        item.Item->setObjectName(QLatin1String(item.Name));
        // Like the tool's button, usable once a document is open.
        item.Item->setEnabled(false);
    }
}

void TQelRotateTool::Localize() {
    const QString title = QelText(TextRotation, QStringLiteral("Rotation & Flip"));
    SetButtonCaption(title);
    SetCaption(RotateRightItem, QelText(TextRotateRight));
    SetCaption(RotateLeftItem, QelText(TextRotateLeft));
    SetCaption(FlipVerticalItem, QelText(TextFlipVertical));
    SetCaption(FlipHorizontalItem, QelText(TextFlipHorizontal));
    if (!Frame) return;
    Frame->TitleLabel->setText(title);
    Frame->RotateRightButton->setText(QelText(TextRotateRight));
    Frame->RotateRightRadioButton->setText(QelText(TextRotateRight));
    Frame->RotateLeftButton->setText(QelText(TextRotateLeft));
    Frame->RotateLeftRadioButton->setText(QelText(TextRotateLeft));
    Frame->FlipHorizontalButton->setText(QelText(TextFlipHorizontal));
    Frame->FlipHorizontalRadioButton->setText(QelText(TextFlipHorizontal));
    Frame->FlipVerticalButton->setText(QelText(TextFlipVertical));
    Frame->FlipVerticalRadioButton->setText(QelText(TextFlipVertical));
    QelSetShowOptionsLink(Frame->ShowOptions, OptionsShown);
    for (QRadioButton* radio : {Frame->RotateLeftRadioButton, Frame->RotateRightRadioButton,
                                Frame->FlipHorizontalRadioButton, Frame->FlipVerticalRadioButton}) {
        if (radio->isChecked()) {
            Frame->RotateButton->setText(radio->text());
            break;
        }
    }
}

void TQelRotateTool::UpdateControls() {
    TQelFramedTool::UpdateControls();
    UpdateButton();
    // Enabled like the button, which may be hidden (and so read as disabled).
    const bool enabled = GraphicsEditor && GraphicsEditor->CanToolModify(this);
    for (QAction* item : {RotateRightItem, RotateLeftItem, FlipVerticalItem, FlipHorizontalItem})
        QelSetEnabled(item, enabled);
}

void TQelRotateTool::ApplyOperation(TQelGraphicsDocument& Document, uint8_t Operation) {
    switch (Operation) {
    case QelRotateLeft: Document.RotateLeft(); break;
    case QelRotateRight: Document.RotateRight(); break;
    case QelFlipHorizontal: Document.FlipHorizontal(); break;
    case QelFlipVertical: Document.FlipVertical(); break;
    default: break;
    }
}

void TQelRotateTool::Perform(uint8_t Operation) {
    TQelGraphicsDocument* document = QelActiveDocument();
    TQelGraphicsView* view = GraphicsEditor ? GraphicsEditor->GetActiveView() : nullptr;
    // A script may ask while another tool's change may not be ended.
    if (!document || !view || !GraphicsEditor->CanToolModify(this)) return;
    const TQelWaitCursor wait;
    BeginModification(view);
    LastOperation = Operation;
    try {
        // Turns both images or neither.
        ApplyOperation(*document, Operation);
    } catch (...) {
        // Nothing was turned: no step may claim otherwise.
        CancelModification();
        throw;
    }
    RefreshPreview();
    FinishModification();
}

void TQelRotateTool::CommitModification() {
    if (RunningDocument)
        RunningDocument->AddCommandState(std::make_unique<TQelRotateCommandState>(this, RunningDocument, LastOperation));
}

void TQelRotateTool::RefreshPreview() {
    if (!Frame) return;
    Frame->PrepareThumbnail(QelActiveDocument());
    Frame->UpdatePreview();
}

void TQelRotateTool::SetOptionsShown(bool Value) {
    OptionsShown = Value;
    ArrangeFrame();
    RecordMovedLine("Options", Value ? "ShowOptions" : "HideOptions");
}

void TQelRotateTool::ArrangeFrame() {
    if (!Frame) return;
    for (QWidget* button : {static_cast<QWidget*>(Frame->RotateRightButton), static_cast<QWidget*>(Frame->RotateLeftButton),
                            static_cast<QWidget*>(Frame->FlipHorizontalButton),
                            static_cast<QWidget*>(Frame->FlipVerticalButton)})
        button->setVisible(!OptionsShown);
    Frame->PreviewControl->setVisible(OptionsShown);
    if (OptionsShown) Frame->UpdatePreview();
    QelSetShowOptionsLink(Frame->ShowOptions, OptionsShown);
}

void TQelRotateTool::DocumentOpened(TQelGraphicsDocument* Document) {
    if (Frame) Frame->PrepareThumbnail(Document);
    TQelFramedTool::DocumentOpened(Document);
}

void TQelRotateTool::Activate() {
    TQelFramedTool::Activate();
    RefreshPreview();
}

void TQelRotateTool::RegisterDemoTargets() {
    if (TQelDemoHooks* hooks = TQelDemoHooks::Instance()) {
        const QPointer<TQelRotateFrame> frame = Frame;
        if (Frame) {
            hooks->RegisterComponent(Name + "View", Frame->ThumbnailView);
            hooks->RegisterComponent(Name + "RightOption", Frame->RotateRightRadioButton);
            hooks->RegisterComponent(Name + "LeftOption", Frame->RotateLeftRadioButton);
            hooks->RegisterComponent(Name + "HorizontalOption", Frame->FlipHorizontalRadioButton);
            hooks->RegisterComponent(Name + "VerticalOption", Frame->FlipVerticalRadioButton);
            hooks->RegisterComponent(Name + "Right", Frame->RotateRightButton);
            hooks->RegisterComponent(Name + "Left", Frame->RotateLeftButton);
            hooks->RegisterComponent(Name + "Horizontal", Frame->FlipHorizontalButton);
            hooks->RegisterComponent(Name + "Vertical", Frame->FlipVerticalButton);
            hooks->RegisterComponent(Name + "Perform", Frame->RotateButton);
            hooks->RegisterComponent(Name + "Options", Frame->ShowOptions);
            auto check = [frame](QRadioButton* TQelRotateFrame::*radio) {
                return [frame, radio] { if (frame) (frame.data()->*radio)->setChecked(true); };
            };
            hooks->RegisterCommand(Name + "RightOption", check(&TQelRotateFrame::RotateRightRadioButton));
            hooks->RegisterCommand(Name + "LeftOption", check(&TQelRotateFrame::RotateLeftRadioButton));
            hooks->RegisterCommand(Name + "HorizontalOption", check(&TQelRotateFrame::FlipHorizontalRadioButton));
            hooks->RegisterCommand(Name + "VerticalOption", check(&TQelRotateFrame::FlipVerticalRadioButton));
            hooks->RegisterCommand(Name + "Perform", [frame] { if (frame) frame->RotateButtonClick(); });
        }
        const QPointer<TQelRotateTool> self = this;
        hooks->RegisterCommand(Name + "Right", [self] { if (self) self->RotateRight(); });
        hooks->RegisterCommand(Name + "Left", [self] { if (self) self->RotateLeft(); });
        hooks->RegisterCommand(Name + "Horizontal", [self] { if (self) self->FlipHorizontal(); });
        hooks->RegisterCommand(Name + "Vertical", [self] { if (self) self->FlipVertical(); });
        hooks->RegisterBoolCommand(Name + "ShowOptions", true, [self](bool v) { if (self) self->SetOptionsShown(v); });
        hooks->RegisterBoolCommand(Name + "HideOptions", false, [self](bool v) { if (self) self->SetOptionsShown(v); });
    }
    TQelFramedTool::RegisterDemoTargets();
}

// --- Undo state ------------------------------------------------------------------------

TQelRotateCommandState::TQelRotateCommandState(TQelGraphicsTool* NewTool, TQelGraphicsDocument* NewDocument,
                                               uint8_t NewOperation)
    : TQelCustomGraphicsCommandState(NewTool, NewDocument ? NewDocument->GetWorkRect() : TQelRect(), NewDocument),
      Operation(NewOperation) {}

void TQelRotateCommandState::RefreshFrame() {
    auto* tool = qobject_cast<TQelRotateTool*>(Tool.data());
    if (!tool || !tool->Frame) return;
    tool->Frame->PrepareThumbnail(Document);
    tool->Frame->UpdatePreview();
}

void TQelRotateCommandState::Undo() {
    if (Document) {
        const TQelWaitCursor wait;
        TQelRotateTool::ApplyOperation(*Document, QelInverseRotation(Operation));
        RefreshFrame();
    }
    TQelCustomGraphicsCommandState::Undo();
}

void TQelRotateCommandState::Redo() {
    if (Document) {
        const TQelWaitCursor wait;
        TQelRotateTool::ApplyOperation(*Document, Operation);
        RefreshFrame();
    }
    TQelCustomGraphicsCommandState::Redo();
}
