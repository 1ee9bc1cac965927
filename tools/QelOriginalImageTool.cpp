#include "QelOriginalImageTool.h"

#include <QAction>
#include <QApplication>
#include <QToolBar>
#include <QToolButton>

#include "QelDemoHooks.h"
#include "QelDemoScript.h"
#include "QelGraphicsEditor.h"
#include "QelLocalizer.h"
#include "QelMainForm.h"

namespace {

enum : int32_t {
    TextOriginalImageHint = 2000,
    TextOriginal = 2100,
};

QString Caption() { return QelText(TextOriginal, QStringLiteral("Original")); }
QString Hint() { return QelText(TextOriginalImageHint, QStringLiteral("Hold down to see the original image")); }

}  // namespace

// --- TQelOriginalImageTool ------------------------------------------------------------

TQelOriginalImageTool::TQelOriginalImageTool() : TQelGraphicsTool(), Button(nullptr), ButtonWidget(), PreviousTool() {
    SetControlClass<TQelOriginalImageToolControl>();
}

void TQelOriginalImageTool::Create() {
    TQelGraphicsTool::Create();
    if (!MainForm || !GraphicsEditor || !GraphicsEditor->StandardToolbar) return;
    QToolBar* toolbar = GraphicsEditor->StandardToolbar;
    MainForm->AddToolButton(toolbar, Button, nullptr, -1, Hint(), nullptr, nullptr);
    Button->setObjectName(QStringLiteral("OriginalImageButton"));
    // Checked in idle time while the original shows.
    Button->setCheckable(true);
    Button->setText(Caption());
    Button->setToolTip(Hint());
    ButtonWidget = qobject_cast<QToolButton*>(toolbar->widgetForAction(Button));
    if (!ButtonWidget) return;
    ButtonWidget->setToolButtonStyle(Qt::ToolButtonTextOnly);
    // Qt also releases when the held pointer leaves the button and presses
    // again when it comes back: the original shows exactly while held.
    connect(ButtonWidget, &QToolButton::pressed, this, [this] { ShowOriginal(); });
    connect(ButtonWidget, &QToolButton::released, this, [this] { ShowCorrected(); });
}

void TQelOriginalImageTool::Localize() {
    TQelGraphicsTool::Localize();
    if (!Button) return;
    Button->setText(Caption());
    Button->setToolTip(Hint());
}

void TQelOriginalImageTool::UpdateControls() {
    if (!Button) return;
    // A modal window that opens while the original shows (a tutorial's
    // question, an error box) takes the release of the button or the key:
    // the edited image comes back instead of staying for good.
    if (IsActive() && QApplication::activeModalWidget()) {
        if (ButtonWidget && ButtonWidget->isDown()) ButtonWidget->setDown(false);
        ShowCorrected();
    }
    const bool enabled = GraphicsEditor && GraphicsEditor->GetActiveDocument();
    const bool checked = IsActive();
    if (Button->isEnabled() != enabled) Button->setEnabled(enabled);
    if (Button->isChecked() != checked) Button->setChecked(checked);
}

bool TQelOriginalImageTool::IsActive() const { return GraphicsEditor && GraphicsEditor->ActiveTool == this; }

void TQelOriginalImageTool::ShowOriginal() {
    if (IsActive() || !GraphicsEditor) return;
    PreviousTool = GraphicsEditor->ActiveTool.data();
    GraphicsEditor->SetActiveTool(this);
}

void TQelOriginalImageTool::ShowCorrected() {
    if (IsActive()) GraphicsEditor->SetActiveTool(PreviousTool.data());
}

void TQelOriginalImageTool::Activate() {
    TQelGraphicsTool::Activate();
    RecordLine("MouseCurvedMove OriginalImage");
    RecordLine("MouseDown");
    RecordLine("Message \"Original Image\"");
    RecordLine("MouseUp");
    RecordLine("Message \"Corrected Image\"");
}

void TQelOriginalImageTool::ExecuteCommand(TQelDemoPlayback*, const QByteArray&, const TQelDemoScriptParams&,
                                           TQelDemoScriptUserAction*, bool&) {}

void TQelOriginalImageTool::GetCommandPoint(TQelDemoPlayback*, const TQelDemoScriptParams& Params, QPoint& Point,
                                            bool& Handled) {
    const QByteArray element = QByteArray::fromStdString(Params.AsText(0)).toUpper();
    if (element != "ORIGINALIMAGEBUTTON" && element != "ORIGINALIMAGE") return;
    if (GetToolbarItemCenter(Button, Point)) Handled = true;
}

// --- TQelOriginalImageToolControl -----------------------------------------------------

TQelOriginalImageTool* TQelOriginalImageToolControl::OriginalTool() const {
    return qobject_cast<TQelOriginalImageTool*>(Tool.data());
}

TQelRect TQelOriginalImageToolControl::OriginalBounds() const {
    const TQelGraphicsDocument* document = View ? View->Document() : nullptr;
    return document ? document->OriginalImage.GetBoundsRect() : TQelRect();
}

void TQelOriginalImageToolControl::Init() {
    TQelGraphicsToolControl::Init();
    Bounds = OriginalBounds();
    Key = DefaultKey;
}

void TQelOriginalImageToolControl::Reset() { Flags = QelViewBody | QelViewNoExtent; }

void TQelOriginalImageToolControl::Activate() {
    if (View && View->DocumentObject) {
        View->DocumentObject->Flags = QelViewBody | QelViewNoExtent;
        Flags = QelViewBody;
        Bounds = OriginalBounds();
        SetVisible(true);
        View->UpdateView();
    }
    TQelGraphicsToolControl::Activate();
}

void TQelOriginalImageToolControl::Deactivate() {
    Flags = QelViewBody | QelViewNoExtent;
    if (TQelGraphicsTool* tool = Tool.data())
        for (int i = 0; i < tool->GetControlCount(); ++i) tool->GetControl(i)->SetVisible(false);
    if (View && View->DocumentObject) {
        // Paintable kept: the document's object is created with it.
        View->DocumentObject->Flags = QelViewBody | QelViewPaintable;
        View->DocumentObject->SetVisible(true);
        View->UpdateView();
    }
    TQelGraphicsToolControl::Deactivate();
}

void TQelOriginalImageToolControl::PaintBody(TQelViewCanvas& Canvas) {
    TQelGraphicsDocument* document = View ? View->Document() : nullptr;
    if (!document) return;
    const TQelRect bounds = document->OriginalImage.GetBoundsRect();
    if (bounds.IsEmpty()) return;
    const TQelRect device = Canvas.MapMode.LogicalToDeviceRect(bounds);
    document->OriginalImage.Draw(Canvas.Canvas, device, bounds, Canvas.GetClipBox());
    Canvas.ExcludeClipRect(device);
}

bool TQelOriginalImageToolControl::KeyDown(uint16_t& PressedKey, TShiftState) {
    if (Active || PressedKey != Key) return false;
    if (TQelOriginalImageTool* tool = OriginalTool()) tool->ShowOriginal();
    return true;
}

bool TQelOriginalImageToolControl::KeyUp(uint16_t& ReleasedKey, TShiftState) {
    if (!Active || ReleasedKey != Key) return false;
    if (TQelOriginalImageTool* tool = OriginalTool()) tool->ShowCorrected();
    return true;
}
