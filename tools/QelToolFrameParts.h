// What the tools' option frames and buttons share: the bold,
// underlined title, the Ok/Cancel panel, the options link, the tool-panel
// button and its screen point, the framed-tool mixin, and a wait cursor that
// an exception cannot leave behind.
#pragma once

#include <QAction>
#include <QIcon>
#include <QByteArray>
#include <QPoint>
#include <QPointer>
#include <QString>

#include "QelForms.h"
#include "QelGraphicsEditor.h"
#include "QelToolPanel.h"

class QLabel;
class QPushButton;
class QToolButton;
class QVBoxLayout;
class QWidget;
class TQelDemoPlayback;
class TQelDemoScriptParams;

// The frame's column, top-aligned; created on first use with no margins.
QVBoxLayout* QelFrameColumn(QWidget* Frame);
// Widget goes below the column's present parts.
void QelAddToColumn(QWidget* Frame, QWidget* Widget);
// "TitleLabel", bold and underlined.
QLabel* QelAddTitleLabel(QWidget* Frame);
// A word-wrapped label.
QLabel* QelAddWrappedLabel(QWidget* Frame, const char* Name);
// "OkPanel" with two system-style buttons of at least 81 x 21.
QWidget* QelAddOkPanel(QWidget* Frame, QPushButton*& Ok, const char* OkName, QPushButton*& Cancel,
                       const char* CancelName = "CancelButton");
// The "ShowOptions" link: text and small image, hand cursor.
QToolButton* QelAddShowOptionsLink(QWidget* Frame);
// Shown: small image 1 and "Hide Options"; hidden: image 0 and "Show More
// Options".
void QelSetShowOptionsLink(QToolButton* Link, bool Shown);
// The tools' small images (16 x 16), loaded once.
QIcon QelSmallImage(int Index);

// The tool's checkable button on the tool panel's toolbar (on the editor's
// standard toolbar when there is no tool panel); its click makes the tool
// current. The composition root gives it its image.
QAction* QelAddToolButton(TQelGraphicsTool* Tool, QAction*& Button, const QString& Caption);
// The middle of the button on the screen; false when it is not shown.
bool QelToolButtonPoint(QAction* Button, QPoint& Point);

// The editor's active document; null without one.
TQelGraphicsDocument* QelActiveDocument();

// Argument 0 naming the tool (Name, any case): the middle of its button on
// the screen, when the button is shown.
bool QelToolNamePoint(const QByteArray& Name, QAction* Button, const TQelDemoScriptParams& Params, QPoint& Point);
// Button checked while Tool is current, enabled while it may modify; Frame's
// controls enabled when both. Answers that.
bool QelUpdateToolButton(TQelGraphicsTool* Tool, QAction* Button, TQelFrame* Frame);
// Frame and button shown or hidden.
void QelShowToolControls(QAction* Button, TQelFrame* Frame, bool Visible);
// Frame to the front of the tool panel.
void QelBringFrameToFront(TQelFrame* Frame);
// Button as the tutorials' element Name.
void QelRegisterToolButton(const QByteArray& Name, QAction* Button);

// A tool with a button and an options frame in the tool panel, over the
// tool base it extends (the graphics tool or a brush tool).
template <class Base>
class TQelFramed : public Base {
public:
    // The tool's name as argument 0: the middle of its button.
    void GetCommandPoint(TQelDemoPlayback* Playback, const TQelDemoScriptParams& Params, QPoint& Point,
                         bool& Handled) override {
        if (QelToolNamePoint(this->Name, Button, Params, Point)) {
            Handled = true;
            return;
        }
        Base::GetCommandPoint(Playback, Params, Point, Handled);
    }
    // The frame and the button are shown or hidden with the tool.
    void SetAvailable(bool Value) override {
        QelShowToolControls(Button, FFrame, Value);
        Base::SetAvailable(Value);
    }
    // The frame comes to the front of the tool panel.
    void Activate() override {
        Base::Activate();
        QelBringFrameToFront(FFrame);
    }
    // The button is the tutorials' element named like the tool.
    void RegisterDemoTargets() override {
        QelRegisterToolButton(this->Name, Button);
        Base::RegisterDemoTargets();
    }

    // Records the tool's name followed by Words.
    void RecordToolLine(const QByteArray& Words) const { this->RecordLine(this->Name + Words); }
    // Records the pointer move to the tool's Element, then the tool's Word.
    void RecordMovedLine(const char* Element, const char* Word) const {
        this->RecordLine("MouseCurvedMove " + this->Name + Element);
        this->RecordLine(this->Name + Word);
    }

    QPointer<QAction> Button;

protected:
    // The tool's button (QelAddToolButton).
    void AddButton(const QString& Caption) {
        QAction* button = nullptr;
        QelAddToolButton(this, button, Caption);
        Button = button;
    }
    // The button's caption and hint.
    void SetButtonCaption(const QString& Caption) {
        if (!Button) return;
        Button->setText(Caption);
        Button->setToolTip(Caption);
    }
    // The frame in the tool panel, when there is one (a frame the tool
    // makes itself without a panel is never shown, hidden or brought to the
    // front).
    template <class T>
    T* AddFrame(T*& Frame) {
        Frame = nullptr;
        if (!ToolPanelModule) return nullptr;
        ToolPanelModule->CreateToolFrame(Frame);
        FFrame = Frame;
        return Frame;
    }
    template <class T>
    T* AddFrame(QPointer<T>& Frame) {
        T* frame = nullptr;
        Frame = AddFrame(frame);
        return frame;
    }
    // The button checked while the tool is active and enabled while it may
    // modify; the frame's controls enabled when both. Answers that.
    bool UpdateButton() { return QelUpdateToolButton(this, Button, FFrame); }

private:
    QPointer<TQelFrame> FFrame;
};

// The framed tools that are no brush.
using TQelFramedTool = TQelFramed<TQelGraphicsTool>;

void QelSetChecked(QAction* Action, bool Value);

// The hourglass from construction to destruction.
class TQelWaitCursor {
public:
    TQelWaitCursor();
    ~TQelWaitCursor();
    TQelWaitCursor(const TQelWaitCursor&) = delete;
    TQelWaitCursor& operator=(const TQelWaitCursor&) = delete;
};
