// The brightness and contrast tool: one tone curve applied alike to every
// colour channel of the whole image, previewed live from the backup (so
// changes never compound) and committed as one undo step; or worked out
// from the image's darkest and brightest pixels.
#pragma once

#include <QAction>
#include <QPointer>

#include <array>
#include <cstdint>

#include "QelForms.h"
#include "QelGraphicsEditor.h"
#include "QelToolFrameParts.h"
#include "QelToneCurve.h"

class QLabel;
class QPushButton;
class QSlider;
class QToolButton;
class TQelBrightnessContrastTool;

class TQelBrightnessContrastFrame : public TQelFrame {
    Q_OBJECT
public:
    explicit TQelBrightnessContrastFrame(QWidget* Parent = nullptr);

    void Create() override;

    void OkButtonClick();
    void CancelButtonClick();
    void BrightnessTrackBarChange(int Position);
    void ContrastTrackBarChange(int Position);
    void AutoCorrectionButtonClick();
    void ShowOptionsButtonClick();

    QLabel* TitleLabel = nullptr;
    QWidget* AutoCorrectionPanel = nullptr;
    QPushButton* AutoCorrectionButton = nullptr;
    QLabel* BrightnessLabel = nullptr;
    QSlider* BrightnessTrackBar = nullptr;
    QLabel* ContrastLabel = nullptr;
    QSlider* ContrastTrackBar = nullptr;
    QWidget* OkPanel = nullptr;
    QPushButton* OkButton = nullptr;
    QPushButton* CancelButton = nullptr;
    QToolButton* ShowOptions = nullptr;
    QPointer<TQelBrightnessContrastTool> Tool;
};

class TQelBrightnessContrastTool : public TQelFramedTool {
    Q_OBJECT
public:
    TQelBrightnessContrastTool();
    ~TQelBrightnessContrastTool() override;

    void Create() override;
    void Localize() override;
    void LoadSettings(TQelSDFReader& Reader) override;
    void SaveSettings(TQelSDFWriter& Writer) override;
    void UpdateControls() override;
    void RegisterDemoTargets() override;
    // The commit, then brightness and contrast back to 0.
    void FinishModification() override;
    // Not the plug-in availability rule: the tool stays in plug-in mode.
    void DocumentOpened(TQelGraphicsDocument* Document) override;

    // Each previews the curve at once; nothing without a document, or while
    // another tool's modification keeps this one from modifying.
    void SetBrightness(int32_t Value);
    void SetContrast(int32_t Value);
    void SetOptionsShown(bool Value);
    void ArrangeFrame();
    // The curve of the present values (or, with Auto, of the image's darkest
    // and brightest pixels, which become the values) over the whole image
    // from the backup. False when nothing could be applied.
    bool ApplyCurve(bool Auto);
    // The two points of the curve of a brightness and a contrast.
    static std::array<TQelCurvePoint, 2> ManualPoints(int32_t Brightness, int32_t Contrast);
    // The level range the automatic correction finds in Pixels: its darkest
    // and brightest channel values, scanned row by row.
    static void FindLevels(const TQelPixels& Pixels, int32_t& Lo, int32_t& Hi);
    // Both track bars to the values, without calling back.
    void ShowValues();

    TQelBrightnessContrastFrame* Frame = nullptr;
    int32_t Brightness = 0;
    int32_t Contrast = 0;
    bool OptionsShown = false;

private:
    bool CanApply() const;
};

extern TQelBrightnessContrastTool* BrightnessContrastTool;
