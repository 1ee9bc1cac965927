// The crop tool: a rectangle dragged over the image, adjusted with eight
// handles or moved, and then kept as the whole image (current and original)
// with one undo step.
#pragma once

#include <QAction>
#include <QPointer>

#include <cstdint>

#include "QelForms.h"
#include "QelGraphicsEditor.h"
#include "QelToolFrameParts.h"

class QLabel;
class QPushButton;
class QToolButton;
class TQelCropTool;

class TQelCropFrame : public TQelFrame {
    Q_OBJECT
public:
    explicit TQelCropFrame(QWidget* Parent = nullptr);

    void Create() override;

    void CropButtonClick();
    void CancelButtonClick();
    void ShowOptionsButtonClick();

    QLabel* TitleLabel = nullptr;
    QLabel* DescriptionLabel = nullptr;
    QWidget* OkPanel = nullptr;
    QPushButton* CropButton = nullptr;
    QPushButton* CancelButton = nullptr;
    QToolButton* ShowOptions = nullptr;
    QPointer<TQelCropTool> Tool;
};

// The crop rectangle on one view: drawn over the image (the outside
// darkened, a dotted focus rectangle, hollow handles), hit-tested, and
// shown in the W and H status panels.
class TQelCropToolControl : public TQelGraphicsToolControl {
public:
    // Hit codes: outside, inside, then the edges and corners clockwise from
    // the top edge.
    static constexpr uint8_t HitOutside = 0;
    static constexpr uint8_t HitInside = 3;
    static constexpr uint8_t HitTop = 4;
    static constexpr uint8_t HitTopRight = 5;
    static constexpr uint8_t HitRight = 6;
    static constexpr uint8_t HitBottomRight = 7;
    static constexpr uint8_t HitBottom = 8;
    static constexpr uint8_t HitBottomLeft = 9;
    static constexpr uint8_t HitLeft = 10;
    static constexpr uint8_t HitTopLeft = 11;

    // States: idle, drawing a new rectangle, shown, moving or resizing it.
    static constexpr uint8_t StateIdle = 0;
    static constexpr uint8_t StateDrawing = 1;
    static constexpr uint8_t StateShown = 2;
    static constexpr uint8_t StateDragging = 3;

    // Repaints, goes idle and unlocks the editor; the rectangle is kept.
    void ResetControl();
    // Keeps a shown rectangle on the work rectangle after an undo or redo
    // changed the image's size; one left wholly outside goes (ResetControl).
    void KeepOnWorkRect();

    void Activate() override;
    void Deactivate() override;
    void GetOverlayBounds(const TQelMapMode& MapMode, TQelRect& Rect) const override;
    // The part of the crop rectangle under a device point: a handle's code
    // when its square holds the point (handles win over the inside), else
    // HitInside or, within Tolerance (> 0) of the rectangle, 2, else
    // HitOutside. Codes above 2 are the parts a drag can take.
    uint8_t HitTest(const TQelMapMode& MapMode, const TQelPoint& Point, int32_t Tolerance) const override;
    bool GetCursor(TShiftState Shift, const TQelPoint& Point, int16_t& Cursor) override;
    bool MouseDown(TMouseButton Button, TShiftState Shift, const TQelPoint& Point) override;
    bool MouseMove(TShiftState Shift, const TQelPoint& Point) override;
    bool MouseUp(TMouseButton Button, TShiftState Shift, const TQelPoint& Point) override;
    void PaintOverlay(TQelViewCanvas& Canvas) override;

    // The handle point of an edge or corner code, in device coordinates.
    static TQelPoint HandlePoint(const TQelRect& DeviceRect, uint8_t Code);
    // The square of side Size around Point.
    static TQelRect HandleSquare(const TQelPoint& Point, int32_t Size);

    // Image coordinates, right and bottom exclusive.
    TQelRect CropRect;
    uint8_t State = StateIdle;
    TQelRect StartRect;
    TQelPoint Anchor;
    uint8_t DragPart = HitOutside;

private:
    TQelRect WorkRect() const;
    TQelRect DeviceRect(const TQelRect& Rect) const;
};

class TQelCropTool : public TQelFramedTool {
    Q_OBJECT
public:
    TQelCropTool();
    ~TQelCropTool() override;

    void Create() override;
    void Localize() override;
    void LoadSettings(TQelSDFReader& Reader) override;
    void SaveSettings(TQelSDFWriter& Writer) override;
    void UpdateControls() override;

    void RegisterDemoTargets() override;
    void CommitModification() override {}
    void CancelModification() override;
    void DocumentClosing(TQelGraphicsDocument* Document) override;

    // Crops the active document to the control's rectangle as it stands.
    void Apply();
    void SetOptionsShown(bool Value);
    // The control on the active view; null without one.
    TQelCropToolControl* CropControl() const;
    // Resets the active view's control; nothing without one.
    void ResetControl();

    TQelCropFrame* Frame = nullptr;
    bool OptionsShown = false;
};

// Full copies of the current and original images and the work rectangle
// from before the crop.
class TQelCropCommandState : public TQelCustomGraphicsCommandState {
public:
    // Raises EQelOutOfMemory when a copy cannot be held.
    TQelCropCommandState(TQelGraphicsTool* Tool, TQelGraphicsDocument* Document, const TQelRect& Rect);

    void Undo() override;
    void Redo() override;

    TQelRect WorkRect;
    TQelPixelBuffer Image;
    TQelPixelBuffer Original;
};

extern TQelCropTool* CropTool;
