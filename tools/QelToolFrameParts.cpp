#include "QelToolFrameParts.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include "QelCursors.h"
#include "QelDemoHooks.h"
#include "QelDemoScript.h"
#include "QelEditor.h"
#include "QelGraphicsEditor.h"
#include "QelLocalizer.h"
#include "QelMainForm.h"
#include "QelToolPanel.h"

namespace {

constexpr int32_t TextShowMoreOptions = 2019;
constexpr int32_t TextHideOptions = 2020;
constexpr int ButtonWidth = 81;
constexpr int ButtonHeight = 21;

}  // namespace

QVBoxLayout* QelFrameColumn(QWidget* Frame) {
    if (auto* column = qobject_cast<QVBoxLayout*>(Frame->layout())) return column;
    auto* column = new QVBoxLayout(Frame);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);
    // A trailing stretch rather than an aligned layout: wrapped labels then
    // get the height their width needs.
    column->addStretch(1);
    return column;
}

void QelAddToColumn(QWidget* Frame, QWidget* Widget) {
    QVBoxLayout* column = QelFrameColumn(Frame);
    column->insertWidget(column->count() - 1, Widget);
}

QLabel* QelAddTitleLabel(QWidget* Frame) {
    auto* label = new QLabel(Frame);
    label->setObjectName(QStringLiteral("TitleLabel"));
    QFont font = label->font();
    font.setBold(true);
    font.setUnderline(true);
    label->setFont(font);
    QelAddToColumn(Frame, label);
    return label;
}

QLabel* QelAddWrappedLabel(QWidget* Frame, const char* Name) {
    auto* label = new QLabel(Frame);
    label->setObjectName(QLatin1String(Name));
    label->setWordWrap(true);
    QelAddToColumn(Frame, label);
    return label;
}

QWidget* QelAddOkPanel(QWidget* Frame, QPushButton*& Ok, const char* OkName, QPushButton*& Cancel,
                       const char* CancelName) {
    auto* panel = new QWidget(Frame);
    panel->setObjectName(QStringLiteral("OkPanel"));
    auto* row = new QHBoxLayout(panel);
    row->setContentsMargins(0, 0, 0, 0);
    for (auto [button, name] : {std::pair{&Ok, OkName}, std::pair{&Cancel, CancelName}}) {
        *button = new QPushButton(panel);
        (*button)->setObjectName(QLatin1String(name));
        (*button)->setMinimumSize(ButtonWidth, ButtonHeight);
        row->addWidget(*button);
    }
    row->addStretch(1);
    QelAddToColumn(Frame, panel);
    return panel;
}

QToolButton* QelAddShowOptionsLink(QWidget* Frame) {
    auto* link = new QToolButton(Frame);
    link->setObjectName(QStringLiteral("ShowOptions"));
    link->setAutoRaise(true);
    link->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    link->setCursor(Qt::PointingHandCursor);
    QelAddToColumn(Frame, link);
    return link;
}

QIcon QelSmallImage(int Index) {
    static const TQelImageList images = [] {
        TQelImageList list(QSize(16, 16));
        list.LoadIndexed(QStringLiteral(":/icons/small"));
        return list;
    }();
    return images.Icon(Index);
}

void QelSetShowOptionsLink(QToolButton* Link, bool Shown) {
    if (!Link) return;
    Link->setIcon(QelSmallImage(Shown ? 1 : 0));
    Link->setText(Shown ? QelText(TextHideOptions, QStringLiteral("Hide Options"))
                        : QelText(TextShowMoreOptions, QStringLiteral("Show More Options")));
}

TQelGraphicsDocument* QelActiveDocument() { return GraphicsEditor ? GraphicsEditor->GetActiveDocument() : nullptr; }

QAction* QelAddToolButton(TQelGraphicsTool* Tool, QAction*& Button, const QString& Caption) {
    Button = nullptr;
    if (!MainForm) return nullptr;
    QWidget* toolbar = nullptr;
    if (ToolPanelModule && ToolPanelModule->Toolbar)
        toolbar = ToolPanelModule->Toolbar;
    else if (GraphicsEditor)
        toolbar = GraphicsEditor->StandardToolbar;
    const QPointer<TQelGraphicsTool> tool = Tool;
    MainForm->AddToolButton(
        toolbar, Button, [tool](QObject*) { if (tool) tool->MakeCurrent(); }, -1, Caption, nullptr,
        MainForm->GetImages());
    Button->setCheckable(true);
    Button->setObjectName(QString::fromLatin1(Tool->Name) + QStringLiteral("Button"));
    return Button;
}

bool QelToolButtonPoint(QAction* Button, QPoint& Point) {
    if (!Button || !Button->isVisible()) return false;
    if (ToolPanelModule && ToolPanelModule->Toolbar) {
        if (QWidget* widget = ToolPanelModule->Toolbar->WidgetForAction(Button)) {
            if (!widget->isVisible()) return false;
            GetControlCenter(widget, Point);
            return true;
        }
    }
    return GetToolbarItemCenter(Button, Point);
}

bool QelToolNamePoint(const QByteArray& Name, QAction* Button, const TQelDemoScriptParams& Params, QPoint& Point) {
    return !Name.isEmpty() && QByteArray::fromStdString(Params.AsText(0)).toUpper() == Name.toUpper() &&
           QelToolButtonPoint(Button, Point);
}

bool QelUpdateToolButton(TQelGraphicsTool* Tool, QAction* Button, TQelFrame* Frame) {
    const bool checked = GraphicsEditor && GraphicsEditor->ActiveTool == Tool;
    const bool enabled = GraphicsEditor && GraphicsEditor->CanToolModify(Tool);
    QelSetChecked(Button, checked);
    QelSetEnabled(Button, enabled);
    if (Frame) Frame->SetControlsEnabled(checked && enabled);
    return checked && enabled;
}

void QelShowToolControls(QAction* Button, TQelFrame* Frame, bool Visible) {
    if (Frame) Frame->setVisible(Visible);
    if (Button) Button->setVisible(Visible);
}

void QelBringFrameToFront(TQelFrame* Frame) {
    if (ToolPanelModule && Frame) ToolPanelModule->BringToFront(Frame);
}

void QelRegisterToolButton(const QByteArray& Name, QAction* Button) {
    if (TQelDemoHooks* hooks = TQelDemoHooks::Instance()) hooks->RegisterComponent(Name, Button);
}


void QelSetChecked(QAction* Action, bool Value) {
    if (Action && Action->isChecked() != Value) Action->setChecked(Value);
}

TQelWaitCursor::TQelWaitCursor() { QelSetScreenCursor(crHourGlass); }

TQelWaitCursor::~TQelWaitCursor() { QelSetScreenCursor(crDefault); }
