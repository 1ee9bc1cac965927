// The original-image tool: while its toolbar button or the O key is held,
// the view shows the document's original image in place of the edited one;
// on release the tool that was current before is current again.
#pragma once

#include <QPointer>

#include "QelGraphicsTool.h"

class QAction;
class QToolButton;

class TQelOriginalImageTool : public TQelGraphicsTool {
    Q_OBJECT
public:
    TQelOriginalImageTool();

    // A text-only button on the editor's standard toolbar, showing the
    // original while it is pressed.
    void Create() override;
    void Localize() override;
    void UpdateControls() override;
    void Activate() override;
    // Answers no command, not even its name.
    void ExecuteCommand(TQelDemoPlayback* Playback, const QByteArray& Command, const TQelDemoScriptParams& Params,
                        TQelDemoScriptUserAction* Action, bool& Handled) override;
    // "ORIGINALIMAGEBUTTON" and "ORIGINALIMAGE": the button's centre.
    void GetCommandPoint(TQelDemoPlayback* Playback, const TQelDemoScriptParams& Params, QPoint& Point,
                         bool& Handled) override;

    // This tool is the editor's active tool.
    bool IsActive() const;
    void ShowOriginal();
    void ShowCorrected();

    QAction* Button = nullptr;
    // The toolbar's button of Button.
    QPointer<QToolButton> ButtonWidget;
    QPointer<TQelGraphicsTool> PreviousTool;
};

// While active, a body of the view with the original's bounds that paints
// the original over where the document's image would be.
class TQelOriginalImageToolControl : public TQelGraphicsToolControl {
public:
    static constexpr uint16_t DefaultKey = 79;  // O

    void Init() override;
    void Reset() override;
    void Activate() override;
    void Deactivate() override;
    // The document's original as it is now: geometry undo may replace it.
    void PaintBody(TQelViewCanvas& Canvas) override;
    // O shows the original; the repeats of a held O are not handled.
    bool KeyDown(uint16_t& Key, TShiftState Shift) override;
    bool KeyUp(uint16_t& Key, TShiftState Shift) override;

    uint16_t Key = DefaultKey;

private:
    TQelOriginalImageTool* OriginalTool() const;
    // (0, 0, width, height) of the document's original.
    TQelRect OriginalBounds() const;
};
