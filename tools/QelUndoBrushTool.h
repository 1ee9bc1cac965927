// The undo brush: paints the original image back over the current one, so
// that any retouching can be taken back locally. Coverage accumulates over a
// stroke, and every dab starts again from the image before the stroke, so
// overlapping dabs never compound.
#pragma once

#include <QPointer>

#include "QelBrushFrame.h"
#include "QelDrawTools.h"
#include "QelToolFrameParts.h"

// The undo brush's options: brush preview, size, opacity and hardness.
class TQelUndoBrushFrame : public TQelBrushFrame {
    Q_OBJECT
public:
    explicit TQelUndoBrushFrame(QWidget* Parent = nullptr);
};

class TQelUndoBrushTool : public TQelFramed<TQelBrushTool> {
    Q_OBJECT
public:
    TQelUndoBrushTool();
    ~TQelUndoBrushTool() override;

    // Without a tool panel the button goes to the editor's standard toolbar
    // and there is no frame.
    void Create() override;
    void Localize() override;
    // With restore-size-only on, only the size is taken from the settings.
    void LoadSettings(TQelSDFReader& Reader) override;
    void SaveSettings(TQelSDFWriter& Writer) override;
    void UpdateControls() override;
    void RegisterDemoTargets() override;
    void PaintRect(const TQelRect& Rect) override;

    void SetRestoreSizeOnly(bool Value) { RestoreSizeOnly = Value; }
    void SetShowOptions(bool Value);
    void ArrangeFrame();

    // The frame's handler.
    void ShowOptionsButtonClick();

    QPointer<TQelUndoBrushFrame> Frame;
    bool OptionsShown = false;
    bool RestoreSizeOnly = false;
};
