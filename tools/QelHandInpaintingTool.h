// Hand in-painting: a click fixes a round defect under a square of the brush
// size; moving the mouse then chooses the square the patch is taken from,
// and at every move the patch engine writes that patch into the defect, in
// the best of eight orientations when Auto is on, colour-corrected by
// surfaces fitted on the defect's border ring. A second click (or Enter)
// keeps the patch as one undo step; Cancel (Esc) drops it.
#pragma once

#include <QPointer>

#include <cstdint>
#include <memory>

#include "AreaCorrelator.h"
#include "QelDrawTools.h"
#include "QelHandInpaintingFrame.h"
#include "QelToolFrameParts.h"

class QAction;

class TQelHandInpaintingTool : public TQelFramed<TQelBrushTool> {
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
    void DocumentOpened(TQelGraphicsDocument* Document) override;
    // Keeps a pending patch in the image as an undo step; the tool stays
    // pending, so a close the user cancels keeps the patch undoable.
    void DocumentClosing(TQelGraphicsDocument* Document) override;
    void SetSize(int32_t Value) override;
    void BuildMask() override;
    void PaintRect(const TQelRect& Rect) override;
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

// The one hand in-painting tool; null before it is created and after it is
// gone.
extern TQelHandInpaintingTool* HandInpaintingTool;
