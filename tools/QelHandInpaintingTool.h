// Hand in-painting: a click fixes a round defect under a square of the brush
// size; moving the mouse then chooses the square the patch is taken from,
// and at every move the patch engine writes that patch into the defect, in
// the best of eight orientations when Auto is on, colour-corrected by
// surfaces fitted on the defect's border ring. A second click (or Enter)
// keeps the patch as one undo step; Cancel (Esc) drops it.
#pragma once

#include <QImage>
#include <QPointer>
#include <QWidget>

#include <array>
#include <cstdint>
#include <memory>

#include "AreaCorrelator.h"
#include "QelDrawTools.h"
#include "QelForms.h"

class QAction;
class QButtonGroup;
class QCheckBox;
class QLabel;
class QPushButton;
class QSlider;
class QToolButton;
class TQelHandInpaintingFrame;

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

class TQelHandInpaintingTool : public TQelBrushTool {
    Q_OBJECT
public:
    // The widths the previews are laid out for: the target preview alone,
    // and each preview when the second one is shown too.
    static constexpr int32_t PreviewWidth = 240;
    static constexpr int32_t SecondPreviewWidth = 130;
    // Outside the image the previews show this grey.
    static constexpr uint8_t OutsideGrey = 64;

    TQelHandInpaintingTool();
    ~TQelHandInpaintingTool() override;

    void Create() override;
    void Localize() override;
    void UpdateControls() override;
    void Activate() override;
    void DocumentOpened(TQelGraphicsDocument* Document) override;
    // Keeps a pending patch in the image as an undo step; the tool stays
    // pending, so a close the user cancels keeps the patch undoable.
    void DocumentClosing(TQelGraphicsDocument* Document) override;
    void SetSize(int32_t Value) override;
    void BuildMask() override;
    void PaintRect(const TQelRect& Rect) override;
    void SetAvailable(bool Value) override;
    void RegisterDemoTargets() override;
    void ExecuteCommand(TQelDemoPlayback* Playback, const QByteArray& Command, const TQelDemoScriptParams& Params,
                        TQelDemoScriptUserAction* Action, bool& Handled) override;
    void GetCommandPoint(TQelDemoPlayback* Playback, const TQelDemoScriptParams& Params, QPoint& Point,
                         bool& Handled) override;

    // The Adjustment box is checked exactly for kind 2, and its change
    // handler stores 2 or 0: kind 1 stays only while the box is unchecked.
    void SetAdjustment(int32_t Kind);
    void SetAntiAliasing(bool Value);
    void SetLongDefect(bool Value);
    void SetAutoReflection(bool Value);
    // Directions outside 0..7 are ignored.
    void SetReflectionDirection(int32_t Direction);
    void SetTargetPreview(bool Value);
    void SetSecondPreview(bool Value);
    // One direction up or down, stopping at 0 and 7; nothing while Auto
    // chooses the direction.
    void StepReflectionDirection(int32_t Delta);

    // First click: fixes the target and starts the patch. Second click:
    // keeps it.
    void Click();
    // The patch from the source square under the current point.
    void UpdateSource();
    // Drops a pending patch: it is kept and at once undone, so it stays
    // redoable. Only the tool's own step is ever undone.
    void CancelPatch();

    // The Size x Size square whose disc centre is at or next to Point.
    TQelRect GetSquareAt(const TQelPoint& Point) const;
    void RenderPreviews(bool Patch);
    // The target preview shows the image around the current point.
    void RefreshPreviewAround();
    // True when the preview bitmaps changed their size.
    bool UpdatePreviewSize();
    void ShowPreviews();
    // Right after a kept patch, until the pointer leaves a 3-pixel circle.
    bool IsNearLastCommit() const;
    // Records the move to the element Name (when not empty) and the line
    // tool name + Line (when not empty).
    void RecordAction(const QByteArray& ElementName, const QByteArray& Line) const;

    TQelHandInpaintingFrame* Frame() const { return FFrame; }
    TAreaCorrelator* Engine() const { return FEngine.get(); }

    QPointer<QAction> Button;
    uint8_t ReflectionDirection = 0;
    int32_t AdjustmentKind = TAreaCorrelator::KindPerChannel;
    bool AutoReflection = true;
    bool LongDefect = true;
    bool AntiAliasing = true;
    bool TargetPreview = true;
    bool SecondPreview = false;
    bool Pending = false;
    bool ListsStale = true;
    TQelRect TargetSquare;
    TQelRect SourceSquare;
    TQelPoint CurrentPoint;
    bool Committed = false;
    TQelPoint CommitPoint;
    // Whether the options panel (Long Defect) is offered.
    bool OptionsVisible = true;
    // Image point of the previews' top-left pixel.
    TQelPoint PreviewOrigin;

private:
    void RenderPreview(const TQelRect& Square, int32_t First, int32_t Last, TQelPreviewImage* Image,
                       uint8_t Orientation, int Degree, int Kind);
    // The engine exists and was built for the running modification's
    // buffers as they still are.
    bool EngineUsable() const;
    // The top step of the active document's history is one of this tool.
    bool TopUndoIsOwn() const;

    QPointer<TQelHandInpaintingFrame> FFrame;
    // True when the frame is not the tool panel's and so is the tool's.
    bool FOwnsFrame = false;
    std::unique_ptr<TAreaCorrelator> FEngine;
    // What the engine was built on.
    const TQelPixels* FEngineSource = nullptr;
    TQelPixels* FEngineDest = nullptr;
    TQelRect FEngineBounds;
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

// Follows the mouse with the brush outline instead of a pointer; clicks,
// moves, the wheel and the keys drive the tool's two-click patch.
class TQelHandInpaintingToolControl : public TQelBrushToolControl {
public:
    void Reset() override;
    bool GetCursor(TShiftState Shift, const TQelPoint& Point, int16_t& Cursor) override;
    bool MouseDown(TMouseButton Button, TShiftState Shift, const TQelPoint& Point) override;
    // The brush outline follows also while the tool is inactive.
    bool MouseMove(TShiftState Shift, const TQelPoint& Point) override;
    bool MouseWheel(TShiftState Shift, int32_t Delta, const TQelPoint& Point) override;
    bool KeyDown(uint16_t& Key, TShiftState Shift) override;
    // The keys of the tool, so that no menu shortcut (Ctrl+Z) takes them.
    bool ClaimsKey(uint16_t Key, TShiftState Shift) override;

    // Moves the pointer by (Dx, Dy) screen pixels. Where the window system
    // does not report the move back (no pointer warping, or no real
    // screen), the move is handed to the control directly.
    void MovePointer(int32_t Dx, int32_t Dy, TShiftState Shift);

    TQelHandInpaintingTool* InpaintingTool() const;

private:
    enum class TKeyAction { None, Step, Size, Toggle, Pointer, Click, Cancel };
    // What a key does, tested in the order of the key table.
    static TKeyAction KeyAction(uint16_t Key, TShiftState Shift, bool Pending);

    TQelPoint FLastPoint;
    bool FHasLastPoint = false;
};

// The one hand in-painting tool; null before it is created and after it is
// gone.
extern TQelHandInpaintingTool* HandInpaintingTool;
