// The options frame of the make-up tools: size, the colour selector and the
// swatch, the brightness of the palette, the channel the palette keeps
// fixed, and the palette plane. The presets' frames differ in their title.
#pragma once

#include <QPointer>

#include <cstdint>
#include <functional>

#include "QelDrawTools.h"
#include "QelForms.h"

class QButtonGroup;
class QCheckBox;
class QLabel;
class QSlider;
class QToolButton;
class TQelMakeUpSurfaceTool;

// A paint box that also reports presses and drags of the mouse.
class TQelPalettePaintBox : public TQelPaintBox {
    Q_OBJECT
public:
    using TQelPaintBox::TQelPaintBox;

    std::function<void(Qt::MouseButton Button, int32_t X, int32_t Y)> OnMouseDown;
    std::function<void(Qt::MouseButtons Buttons, int32_t X, int32_t Y)> OnMouseMove;

protected:
    void mousePressEvent(QMouseEvent* Event) override;
    void mouseMoveEvent(QMouseEvent* Event) override;
};

class TQelMakeUpSurfaceFrame : public TQelFrame {
    Q_OBJECT
public:
    explicit TQelMakeUpSurfaceFrame(QWidget* Parent = nullptr);

    void Create() override;
    void Initialize() override;

    void ColorSelectorTntSpeedButtonClick(QObject* Sender);
    void ColorTntPaintBoxPaint(QPainter& Painter);
    void PaletteTntPaintBoxMouseDown(Qt::MouseButton Button, int32_t X, int32_t Y);
    void PaletteTntPaintBoxMouseMove(Qt::MouseButtons Buttons, int32_t X, int32_t Y);
    void PaletteTntPaintBoxPaint(QPainter& Painter);
    // Shared by the Red, Green and Blue buttons; the sender's tag is the
    // palette mode it selects.
    void RedTntSpeedButtonClick(QObject* Sender);
    void TintTBXCheckBoxChange(QObject* Sender);
    // The Red, Green or Blue button down for palette mode 1, 2 or 3.
    void UpdateColorButtons();
    // The button of palette mode 1..3; null for any other.
    QToolButton* ColorButton(int32_t Mode) const;

    QPointer<TQelMakeUpSurfaceTool> Tool;

    QLabel* TitleLabel = nullptr;
    QLabel* SizeLabel = nullptr;
    QSlider* SizeTrackBar = nullptr;
    QLabel* OpacityLabel = nullptr;
    QSlider* OpacityTrackBar = nullptr;
    QLabel* HardnessLabel = nullptr;
    QSlider* HardnessTrackBar = nullptr;
    QWidget* TBXAlignmentPanel = nullptr;
    QToolButton* ColorSelectorTntSpeedButton = nullptr;
    TQelPaintBox* ColorTntPaintBox = nullptr;
    QCheckBox* TintTBXCheckBox = nullptr;
    QLabel* BrightnessTBXLabel = nullptr;
    QSlider* BrightnessTrackBar = nullptr;
    QWidget* TBXAlignmentPanel1 = nullptr;
    QToolButton* RedTntSpeedButton = nullptr;
    QToolButton* GreenTntSpeedButton = nullptr;
    QToolButton* BlueTntSpeedButton = nullptr;
    QButtonGroup* ColorButtons = nullptr;
    TQelPalettePaintBox* PaletteTntPaintBox = nullptr;

protected:
    // The title until the tool localises it.
    virtual QString DefaultTitle() const { return QStringLiteral("MakeUpSurface"); }
};
