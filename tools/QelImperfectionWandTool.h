// The imperfection wand: a soft brush that lifts small dark or light spots
// from skin by pulling each pixel toward the mean of the unchanged image
// around it, channel by channel only where the pixel is darker (or lighter)
// than that mean.
#pragma once

#include <QPointer>

#include <cstdint>

#include "QelBrushFrame.h"
#include "QelDrawTools.h"
#include "QelToolFrameParts.h"

class QButtonGroup;
class QLabel;
class QRadioButton;
class QSlider;

// The brush's options, the smoothing, and which imperfections to erase.
class TQelImperfectionWandFrame : public TQelBrushFrame {
    Q_OBJECT
public:
    explicit TQelImperfectionWandFrame(QWidget* Parent = nullptr);

    std::vector<QWidget*> OptionRows() const override;

    QLabel* SmoothingLabel = nullptr;
    QSlider* SmoothingTrackBar = nullptr;
    QLabel* EraseLabel = nullptr;
    QRadioButton* DarkModeRadioButton = nullptr;
    QRadioButton* LightModeRadioButton = nullptr;
    QRadioButton* BothModeRadioButton = nullptr;
    // Ids 0, 1 and 2: the modes.
    QButtonGroup* ModeGroup = nullptr;

protected:
    void CreateRows() override;
};

class TQelImperfectionWandTool : public TQelFramed<TQelCustomBlurBrushTool> {
    Q_OBJECT
public:
    static constexpr int32_t ModeDark = 0;
    static constexpr int32_t ModeLight = 1;
    static constexpr int32_t ModeBoth = 2;

    TQelImperfectionWandTool();
    ~TQelImperfectionWandTool() override;

    void Create() override;
    void Localize() override;
    void LoadSettings(TQelSDFReader& Reader) override;
    void SaveSettings(TQelSDFWriter& Writer) override;
    void UpdateControls() override;
    void RegisterDemoTargets() override;
    // The stroke's means are cached over the whole backup.
    bool BeginDraw(TQelDrawToolControl* Control, TMouseButton Button, TShiftState Shift) override;
    void PaintRect(const TQelRect& Rect) override;

    // A mode outside 0..2 (from a file or a script) is ignored, as is the
    // present one.
    void SetMode(int32_t Value);
    void SetShowOptions(bool Value);
    void ArrangeFrame();

    // The frame's handlers.
    void ModeRadioButtonClick(int Id);
    void ShowOptionsButtonClick();

    QPointer<TQelImperfectionWandFrame> Frame;
    int32_t Mode = ModeDark;
    bool OptionsShown = false;
};
