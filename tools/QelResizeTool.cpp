#include "QelResizeTool.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <exception>
#include <limits>

#include "QelDemoHooks.h"
#include "QelDemoScript.h"
#include "QelError.h"
#include "QelImageCodec.h"
#include "QelLocalizer.h"
#include "QelMainForm.h"
#include "QelToolFrameParts.h"
#include "QelToolPanel.h"

TQelResizeTool* ResizeTool = nullptr;

namespace {

constexpr int32_t TextOk = 1;
constexpr int32_t TextCancel = 2;
constexpr int32_t TextResize = 108;
constexpr int32_t TextWidth = 505;
constexpr int32_t TextHeight = 506;
constexpr int32_t TextNewSize = 2027;
constexpr int32_t TextConstrainProportions = 2028;
constexpr int32_t TextSizeTooLarge = 1130;

constexpr int32_t FrameWidth = 193;
constexpr int32_t EditWidth = 46;
constexpr int32_t ScriptSizeDefault = 100;

// A computed side: at least 1, whatever MulDiv gives (0, or -1 on overflow).
int32_t AtLeastOne(int32_t Value) { return std::max(1, Value); }

void ShowNumber(TQelSizeEdit* Edit, int32_t Value) {
    if (!Edit || Edit->value() == Value) return;
    const QSignalBlocker blocker(Edit);
    Edit->setValue(Value);
}

}  // namespace

// --- Size edit ---------------------------------------------------------------------

TQelSizeEdit::TQelSizeEdit(QWidget* Parent) : QSpinBox(Parent) {
    setRange(std::numeric_limits<int>::min() + 1, std::numeric_limits<int>::max());
    setKeyboardTracking(true);
    setValue(1);
}

void TQelSizeEdit::stepBy(int Steps) {
    const int64_t next = std::clamp<int64_t>(int64_t(value()) + Steps, UpDownMin, UpDownMax);
    setValue(int(next));
}

QAbstractSpinBox::StepEnabled TQelSizeEdit::stepEnabled() const {
    StepEnabled result = StepNone;
    if (value() < UpDownMax) result |= StepUpEnabled;
    if (value() > UpDownMin) result |= StepDownEnabled;
    return result;
}

// --- Frame -------------------------------------------------------------------------

TQelResizeFrame::TQelResizeFrame(QWidget* Parent) : TQelFrame(Parent) {}

void TQelResizeFrame::Create() {
    TQelFrame::Create();
    setObjectName(QStringLiteral("ResizeFrame"));
    resize(FrameWidth, height());
    TitleLabel = QelAddTitleLabel(this);

    SizePanel = new QWidget(this);
    SizePanel->setObjectName(QStringLiteral("SizePanel"));
    auto* grid = new QGridLayout(SizePanel);
    grid->setContentsMargins(0, 0, 0, 0);
    NewSizeLabel = new QLabel(SizePanel);
    NewSizeLabel->setObjectName(QStringLiteral("NewSizeLabel"));
    grid->addWidget(NewSizeLabel, 0, 0, 1, 2);
    auto addSide = [&](int row, QLabel*& label, const char* labelName, TQelSizeEdit*& edit, const char* editName) {
        label = new QLabel(SizePanel);
        label->setObjectName(QLatin1String(labelName));
        edit = new TQelSizeEdit(SizePanel);
        edit->setObjectName(QLatin1String(editName));
        edit->setMinimumWidth(EditWidth);
        label->setBuddy(edit);
        grid->addWidget(label, row, 0);
        grid->addWidget(edit, row, 1);
    };
    addSide(1, WidthLabel, "WidthLabel", WidthEdit, "WidthEdit");
    addSide(2, HeightLabel, "HeightLabel", HeightEdit, "HeightEdit");
    grid->setColumnStretch(2, 1);
    QelAddToColumn(this, SizePanel);

    // A check box cannot wrap its text; a label beside it does.
    auto* proportions = new QWidget(this);
    auto* row = new QHBoxLayout(proportions);
    row->setContentsMargins(0, 0, 0, 0);
    ConstrainProportionsCheckBox = new QCheckBox(proportions);
    ConstrainProportionsCheckBox->setObjectName(QStringLiteral("ConstrainProportionsCheckBox"));
    ConstrainProportionsLabel = new QLabel(proportions);
    ConstrainProportionsLabel->setObjectName(QStringLiteral("ConstrainProportionsLabel"));
    ConstrainProportionsLabel->setWordWrap(true);
    ConstrainProportionsLabel->setBuddy(ConstrainProportionsCheckBox);
    row->addWidget(ConstrainProportionsCheckBox, 0, Qt::AlignTop);
    row->addWidget(ConstrainProportionsLabel, 1);
    QelAddToColumn(this, proportions);

    OkPanel = QelAddOkPanel(this, OkButton, "OkButton", CancelButton);
    ShowOptions = QelAddShowOptionsLink(this);
    // The tool has no further options.
    ShowOptions->setVisible(false);

    // The ranges are set above, before anything is connected.
    connect(WidthEdit, &QSpinBox::valueChanged, this, [this](int v) { WidthEditChange(v); });
    connect(HeightEdit, &QSpinBox::valueChanged, this, [this](int v) { HeightEditChange(v); });
    connect(ConstrainProportionsCheckBox, &QCheckBox::toggled, this,
            [this](bool on) { ConstrainProportionsCheckBoxChange(on); });
    connect(OkButton, &QPushButton::clicked, this, [this] { OkButtonClick(); });
    connect(CancelButton, &QPushButton::clicked, this, [this] { CancelButtonClick(); });
    connect(ShowOptions, &QToolButton::clicked, this, [this] { ShowOptionsButtonClick(); });
}

void TQelResizeFrame::WidthEditChange(int Value) {
    if (!Tool) return;
    Tool->SetNewWidth(Value);
    Tool->RecordToolLine("Width " + QByteArray::number(Value));
}

void TQelResizeFrame::HeightEditChange(int Value) {
    if (!Tool) return;
    Tool->SetNewHeight(Value);
    Tool->RecordToolLine("Height " + QByteArray::number(Value));
}

void TQelResizeFrame::ConstrainProportionsCheckBoxChange(bool Checked) {
    if (!Tool) return;
    Tool->SetProportional(Checked);
    Tool->RecordMovedLine("Proportions", Checked ? "Proportional" : "Disproportional");
}

void TQelResizeFrame::OkButtonClick() {
    if (!Tool) return;
    Tool->Apply();
    Tool->RecordMovedLine("Perform", "Perform");
}

void TQelResizeFrame::CancelButtonClick() {
    if (!Tool) return;
    Tool->ResetSizeToImage();
    Tool->RecordMovedLine("Cancel", "Cancel");
}

void TQelResizeFrame::ShowOptionsButtonClick() {
    if (Tool) Tool->SetOptionsShown(!Tool->OptionsShown);
}

// --- Tool ----------------------------------------------------------------------------

TQelResizeTool::TQelResizeTool()
    : TQelFramedTool(),
      Frame(nullptr),
      OptionsShown(false),
      NewWidth(1),
      NewHeight(1),
      Proportional(false) {}

TQelResizeTool::~TQelResizeTool() {
    if (ResizeTool == this) ResizeTool = nullptr;
}

void TQelResizeTool::Create() {
    TQelFramedTool::Create();
    Name = "Resize";
    AddButton(QelText(TextResize, QStringLiteral("Resize")));
    if (AddFrame(Frame)) Frame->Tool = this;
    SetOptionsShown(false);
    SetProportional(true);
}

void TQelResizeTool::Localize() {
    const QString resize = QelText(TextResize, QStringLiteral("Resize"));
    SetButtonCaption(resize);
    if (!Frame) return;
    Frame->TitleLabel->setText(resize);
    Frame->NewSizeLabel->setText(QelText(TextNewSize) + ':');
    Frame->WidthLabel->setText(QelText(TextWidth) + ':');
    Frame->HeightLabel->setText(QelText(TextHeight) + ':');
    Frame->ConstrainProportionsLabel->setText(QelText(TextConstrainProportions));
    Frame->OkButton->setText(QelText(TextOk));
    Frame->CancelButton->setText(QelText(TextCancel));
    QelSetShowOptionsLink(Frame->ShowOptions, OptionsShown);
}

int32_t TQelResizeTool::ImageWidth() const {
    const TQelGraphicsDocument* document = QelActiveDocument();
    return document ? document->Image.GetWidth() : 1;
}

int32_t TQelResizeTool::ImageHeight() const {
    const TQelGraphicsDocument* document = QelActiveDocument();
    return document ? document->Image.GetHeight() : 1;
}

void TQelResizeTool::ShowValues() {
    if (!Frame) return;
    ShowNumber(Frame->WidthEdit, NewWidth);
    ShowNumber(Frame->HeightEdit, NewHeight);
    if (Frame->ConstrainProportionsCheckBox->isChecked() != Proportional) {
        const QSignalBlocker blocker(Frame->ConstrainProportionsCheckBox);
        Frame->ConstrainProportionsCheckBox->setChecked(Proportional);
    }
}

void TQelResizeTool::SetNewWidth(int32_t Value) {
    if (Value == NewWidth) return;
    NewWidth = Value < 2 ? 1 : Value;
    if (Proportional) NewHeight = AtLeastOne(MulDiv(ImageHeight(), NewWidth, ImageWidth()));
    ShowValues();
}

void TQelResizeTool::SetNewHeight(int32_t Value) {
    if (Value == NewHeight) return;
    NewHeight = Value < 2 ? 1 : Value;
    if (Proportional) NewWidth = AtLeastOne(MulDiv(ImageWidth(), NewHeight, ImageHeight()));
    ShowValues();
}

void TQelResizeTool::SetProportional(bool Value) {
    if (Value == Proportional) return;
    Proportional = Value;
    if (Value && NewWidth != 0 && NewHeight != 0) {
        const int32_t w = ImageWidth(), h = ImageHeight();
        const int32_t boxW = NewWidth, boxH = NewHeight;
        if (double(h) / boxH >= double(w) / boxW) {
            NewHeight = boxH;
            NewWidth = AtLeastOne(MulDiv(w, boxH, h));
        } else {
            NewWidth = boxW;
            NewHeight = AtLeastOne(MulDiv(h, boxW, w));
        }
    }
    ShowValues();
}

void TQelResizeTool::SetOptionsShown(bool Value) {
    OptionsShown = Value;
    if (Frame) QelSetShowOptionsLink(Frame->ShowOptions, Value);
    RecordMovedLine("Options", Value ? "ShowOptions" : "HideOptions");
}

void TQelResizeTool::ResetSizeToImage() {
    const TQelGraphicsDocument* document = QelActiveDocument();
    if (!document) return;
    NewWidth = document->Image.GetWidth();
    NewHeight = document->Image.GetHeight();
    // The edits would otherwise keep a typed size that Ok no longer offers.
    ShowValues();
}

void TQelResizeTool::Apply() {
    TQelGraphicsDocument* document = QelActiveDocument();
    TQelGraphicsView* view = GraphicsEditor ? GraphicsEditor->GetActiveView() : nullptr;
    if (!document || !view) return;
    // No larger than an image the program opens: memory handed out lazily
    // would otherwise let the resampling swamp the machine.
    if (int64_t(NewWidth) * NewHeight > QelMaxImagePixels) {
        const QString size = QString::number(NewWidth) + QStringLiteral(" x ") + QString::number(NewHeight);
        throw EQelOutOfMemory(
            QelFormatText(QelText(TextSizeTooLarge, QStringLiteral("The image cannot be made %s pixels large.")), size)
                .toStdString());
    }
    const TQelWaitCursor wait;
    BeginModification(view);
    try {
        // The state copies the images from before; it enters the history
        // only once the document holds the new size.
        auto state = std::make_unique<TQelResizeCommandState>(this, document, NewWidth, NewHeight);
        document->Resize(NewWidth, NewHeight, true, true);
        document->AddCommandState(std::move(state));
    } catch (...) {
        CancelModification();
        throw;
    }
    FinishModification();
    ResetSizeToImage();
}

void TQelResizeTool::UpdateControls() {
    TQelFramedTool::UpdateControls();
    const bool frameEnabled = UpdateButton();
    if (!Frame) return;
    const bool changed = NewWidth != ImageWidth() || NewHeight != ImageHeight();
    QelSetEnabled(Frame->OkButton, frameEnabled && changed);
    QelSetEnabled(Frame->CancelButton, frameEnabled && changed);
}

void TQelResizeTool::DocumentOpened(TQelGraphicsDocument* Document) {
    TQelFramedTool::DocumentOpened(Document);
    if (!Document) return;
    SetNewWidth(Document->Image.GetWidth());
    SetNewHeight(Document->Image.GetHeight());
    if (auto* status = dynamic_cast<IQelGraphicsStatus*>(Document->Editor())) {
        status->SetStatusText(TQelGraphicsStatusPanel::W, QString::number(Document->Image.GetWidth()));
        status->SetStatusText(TQelGraphicsStatusPanel::H, QString::number(Document->Image.GetHeight()));
    }
    ShowValues();
}

void TQelResizeTool::Activate() {
    TQelFramedTool::Activate();
    SetNewWidth(ImageWidth());
    SetNewHeight(ImageHeight());
    ShowValues();
}

void TQelResizeTool::RegisterDemoTargets() {
    if (TQelDemoHooks* hooks = TQelDemoHooks::Instance()) {
        if (Frame) {
            hooks->RegisterComponent(Name + "Width", Frame->WidthEdit);
            hooks->RegisterComponent(Name + "Height", Frame->HeightEdit);
            hooks->RegisterComponent(Name + "Proportions", Frame->ConstrainProportionsCheckBox);
            hooks->RegisterComponent(Name + "Perform", Frame->OkButton);
            hooks->RegisterComponent(Name + "Cancel", Frame->CancelButton);
            hooks->RegisterComponent(Name + "Options", Frame->ShowOptions);
        }
        const QPointer<TQelResizeTool> self = this;
        hooks->RegisterIntCommand(Name + "Width", ScriptSizeDefault, [self](int32_t v) { if (self) self->SetNewWidth(v); });
        hooks->RegisterIntCommand(Name + "Height", ScriptSizeDefault,
                                  [self](int32_t v) { if (self) self->SetNewHeight(v); });
        hooks->RegisterCommand(Name + "Perform", [self] { if (self) self->Apply(); });
        hooks->RegisterCommand(Name + "Cancel", [self] { if (self) self->ResetSizeToImage(); });
        // Each passes its argument straight through, so a bare
        // "Disproportional" switches the proportions off.
        hooks->RegisterBoolCommand(Name + "Proportional", true, [self](bool v) { if (self) self->SetProportional(v); });
        hooks->RegisterBoolCommand(Name + "Disproportional", false,
                                   [self](bool v) { if (self) self->SetProportional(v); });
        hooks->RegisterBoolCommand(Name + "ShowOptions", true, [self](bool v) { if (self) self->SetOptionsShown(v); });
        hooks->RegisterBoolCommand(Name + "HideOptions", false, [self](bool v) { if (self) self->SetOptionsShown(v); });
    }
    TQelFramedTool::RegisterDemoTargets();
}

// --- Undo state ------------------------------------------------------------------------

TQelResizeCommandState::TQelResizeCommandState(TQelGraphicsTool* NewTool, TQelGraphicsDocument* NewDocument,
                                               int32_t NewWidth, int32_t NewHeight)
    : TQelCustomGraphicsCommandState(NewTool, NewDocument ? NewDocument->GetWorkRect() : TQelRect(), NewDocument),
      Width(NewWidth),
      Height(NewHeight),
      Image(),
      Original() {
    if (!Document) return;
    Document->CopyImageTo(Image, &Original);
    if ((Document->GetPixels() && !Image.Bits) || (Document->GetOriginalPixels() && !Original.Bits))
        throw EQelOutOfMemory("Not enough memory to keep the image for undoing the resize");
}

void TQelResizeCommandState::Undo() {
    if (Document) {
        Document->AssignImage(Image, &Original);
        Document->SetSelectionRect(Rect);
    }
    TQelCustomGraphicsCommandState::Undo();
}

void TQelResizeCommandState::Redo() {
    if (Document) {
        const TQelWaitCursor wait;
        Document->Resize(Width, Height, true, true);
    }
    TQelCustomGraphicsCommandState::Redo();
}
