// The options frame of hand in-painting and its preview pictures.
#pragma once

#include <QImage>
#include <QWidget>

#include <array>
#include <cstdint>

#include "QelForms.h"

class QButtonGroup;
class QCheckBox;
class QLabel;
class QPushButton;
class QSlider;
class QToolButton;

// A small 24-bit picture shown stretched to the widget, keeping its aspect
// and without smoothing, so each image pixel is a clear square.
class TQelPreviewImage : public QWidget {
    Q_OBJECT
public:
    explicit TQelPreviewImage(QWidget* Parent = nullptr);

    // A new picture of Side x Side, grey, when the side differs.
    void SetPictureSize(int32_t Side);
    // The whole picture grey, as beyond the image.
    void Clear();
    int32_t PictureWidth() const { return Picture.width(); }
    int32_t PictureHeight() const { return Picture.height(); }

    // Same byte order (B, G, R) as the document's pixels.
    QImage Picture;

protected:
    void paintEvent(QPaintEvent* Event) override;
};

// The options frame: size, the magnified previews with Cancel, the Long
// Defect, Adjustment and AntiAliasing boxes, and the eight orientations
// with Auto. Its handlers act on the one tool.
class TQelHandInpaintingFrame : public TQelFrame {
    Q_OBJECT
public:
    explicit TQelHandInpaintingFrame(QWidget* Parent = nullptr);

    void Create() override;

    void AdjustmentTBXCheckBoxChange(bool Checked);
    void AntiAliasingTBXCheckBoxChange(bool Checked);
    void LongDefectTBXCheckBoxChange(bool Checked);
    void AutoReflectionTBXCheckBoxChange(bool Checked);
    void arNorthSpeedButtonClick(int Tag);
    void CancelTBXButtonClick();
    void LoupeSpeedButtonClick();
    void TwoSpeedButtonClick();

    // The preview panel fits its visible pictures and the Cancel button.
    void ArrangeImagePanel();

    QLabel* TitleLabel = nullptr;
    QLabel* SizeLabel = nullptr;
    QSlider* SizeTrackBar = nullptr;
    QWidget* ImagePanel = nullptr;
    TQelPreviewImage* TargetImage = nullptr;
    TQelPreviewImage* HandyImage = nullptr;
    QPushButton* CancelTBXButton = nullptr;
    QWidget* OptionsPanel = nullptr;
    QCheckBox* LongDefectTBXCheckBox = nullptr;
    QToolButton* TwoSpeedButton = nullptr;
    QToolButton* LoupeSpeedButton = nullptr;
    QWidget* AdjustmentPanel = nullptr;
    QCheckBox* AdjustmentTBXCheckBox = nullptr;
    QCheckBox* AntiAliasingTBXCheckBox = nullptr;
    QWidget* AreaReflectionPanel = nullptr;
    // Indexed by direction.
    std::array<QToolButton*, 8> ReflectionButtons{};
    QButtonGroup* ReflectionGroup = nullptr;
    QCheckBox* AutoReflectionTBXCheckBox = nullptr;
};
