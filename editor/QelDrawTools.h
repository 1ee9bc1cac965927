// Tools that paint with a brush footprint following the mouse: the draw tool
// with its size, opacity and stroke protocol; the mask tool whose footprint
// is a coverage mask, with the mask builders and the stroke-accumulation
// mask; the soft round brush with its outline pointer; and the blur brush,
// which also knows the mean colour of the unchanged image around any pixel.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QMetaObject>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <vector>

#include "QelBitmap.h"
#include "QelGeometry.h"
#include "QelGraphicsTool.h"
#include "QelNumeric.h"

class QPainter;
class QSlider;
class TQelDrawToolControl;

// Moves a bound track bar without it calling back. Qt clamps a position
// outside the range; the tool's value stays as it is.
void MoveTrackBar(QSlider* TrackBar, int32_t Value);

// A tool that stamps a square footprint of odd side at the mouse positions
// of a stroke. One stroke is one modification and, when it changed pixels,
// one undo state.
class TQelDrawTool : public TQelGraphicsTool {
    Q_OBJECT
public:
    // Drag: a stroke runs from mouse-down to mouse-up. Stamp: mouse-down
    // paints one footprint and ends the stroke.
    static constexpr uint8_t DrawModeDrag = 0;
    static constexpr uint8_t DrawModeStamp = 1;

    TQelDrawTool();
    ~TQelDrawTool() override;

    // NAME+"SIZE" and NAME+"OPACITY" set the value from argument 0 (handled
    // also when the value is refused); the rest as the base.
    void ExecuteCommand(TQelDemoPlayback* Playback, const QByteArray& Command, const TQelDemoScriptParams& Params,
                        TQelDemoScriptUserAction* Action, bool& Handled) override;
    // NAME+"SIZE" and NAME+"OPACITY": the middle of the bound track bar.
    void GetCommandPoint(TQelDemoPlayback* Playback, const TQelDemoScriptParams& Params, QPoint& Point,
                         bool& Handled) override;
    // A finish that does not come from the stroke's own end (another tool
    // began, the document closes) ends the stroke too.
    void FinishModification() override;
    void RemoveControl(TQelGraphicsToolControl* Control) override;

    virtual void SizeChanged() {}
    // Values equal to the present one or outside the limits are ignored.
    virtual void SetSize(int32_t Value);
    virtual void OpacityChanged() {}
    // Values equal to the present one or outside 0..255 are ignored.
    virtual void SetOpacity(int32_t Value);
    // Starts a stroke on Control's view; false refuses it.
    virtual bool BeginDraw(TQelDrawToolControl* Control, TMouseButton Button, TShiftState Shift);
    // Paints the part of Rect inside the image and adds it to the dirty
    // rectangle.
    virtual void DrawRect(const TQelRect& Rect);
    // The tool's pixel work over Rect (inside the image).
    virtual void PaintRect(const TQelRect&) {}
    // Ends the stroke and commits it.
    virtual void EndDraw();

    // The footprint of Size at Point: a square of side 2 * (Size div 2) + 1
    // centred on the pixel.
    static TQelRect GetBrushRect(const TQelPoint& Point, int32_t Size);

    // The track bar follows the size and sets it; null detaches.
    void BindSizeTrackBar(QSlider* TrackBar);
    void BindOpacityTrackBar(QSlider* TrackBar);
    bool IsDrawing() const { return DrawingControl != nullptr; }

    TQelDrawToolControl* DrawingControl = nullptr;
    uint8_t DrawMode = DrawModeDrag;
    TMouseButton Button = mbLeft;
    TShiftState Shift = 0;
    int32_t Size = 10;
    int32_t MinSize = 1;
    int32_t MaxSize = 50;
    QPointer<QSlider> SizeTrackBar;
    int32_t Opacity = 255;
    QPointer<QSlider> OpacityTrackBar;

protected:
    // Binds TrackBar to Setter over Min..Max; the old connection is dropped.
    void BindTrackBar(QSlider* TrackBar, QMetaObject::Connection& Connection, int32_t Min, int32_t Max,
                      int32_t Frequency, int32_t Value, std::function<void(int32_t)> Setter);
    // The middle of TrackBar on the screen; false when none is bound.
    static bool TrackBarPoint(QSlider* TrackBar, QPoint& Point);
    // Upper-cased name + Suffix; empty for a tool without a name.
    QByteArray CommandName(const char* Suffix) const;
    // Argument 0, upper-cased.
    static QByteArray ElementName(const TQelDemoScriptParams& Params);

private:
    QMetaObject::Connection FSizeConnection;
    QMetaObject::Connection FOpacityConnection;
    // Set while EndDraw finishes the modification.
    bool FEnding = false;
};

// Turns mouse input on the view into strokes of its draw tool.
class TQelDrawToolControl : public TQelGraphicsToolControl {
public:
    // False when a stroke already runs on this control or the tool refuses.
    bool BeginDrawing(TMouseButton Button, TShiftState Shift);
    virtual void EndDrawing();
    // A footprint at the control's bounds.
    virtual void DrawAtBrush();

    // Repaints the old and the new place.
    void SetBounds(const TQelRect& Rect) override;
    void Activate() override;
    // A running stroke is ended (and committed) first, so that no stroke
    // outlives its tool's turn.
    void Deactivate() override;

    // The control's tool as a draw tool; null when it is gone.
    TQelDrawTool* DrawTool() const;

    bool Drawing = false;
};

// A draw tool's control that follows the mouse with the brush, hides the
// pointer and changes the size by wheel and keys.
class TQelMaskDrawToolControl : public TQelDrawToolControl {
public:
    // Bounds := the footprint at Point (image coordinates).
    void SetBrushPos(const TQelPoint& Point);
    const TQelPoint& GetBrushPos() const { return FBrushPos; }

    void Activate() override;
    bool GetCursor(TShiftState Shift, const TQelPoint& Point, int16_t& Cursor) override;
    void MouseEnter() override;
    void MouseLeave() override;
    bool MouseDown(TMouseButton Button, TShiftState Shift, const TQelPoint& Point) override;
    bool MouseMove(TShiftState Shift, const TQelPoint& Point) override;
    bool MouseUp(TMouseButton Button, TShiftState Shift, const TQelPoint& Point) override;
    bool MouseWheel(TShiftState Shift, int32_t Delta, const TQelPoint& Point) override;
    bool KeyDown(uint16_t& Key, TShiftState Shift) override;

private:
    TQelPoint FBrushPos;
};

// A box in an options frame that the tool paints its brush preview into.
class TQelPaintBox : public QWidget {
    Q_OBJECT
public:
    explicit TQelPaintBox(QWidget* Parent = nullptr);

    std::function<void(QPainter&)> OnPaint;

protected:
    void paintEvent(QPaintEvent* Event) override;
};

// A draw tool whose footprint is a coverage mask. With Accumulate the stroke
// mask keeps the per-pixel maximum of every footprint of the stroke.
class TQelMaskDrawTool : public TQelDrawTool {
    Q_OBJECT
public:
    TQelMaskDrawTool();
    ~TQelMaskDrawTool() override;

    // Builds the first mask (through the most derived BuildMask).
    void Create() override;
    void SizeChanged() override;
    void OpacityChanged() override;
    // Reads the mask at image coordinates while it paints Rect.
    void DrawRect(const TQelRect& Rect) override;
    void EndDraw() override;

    // Descendants build BrushMask first, then call this (the preview).
    virtual void BuildMask();

    // What PaintRect reads coverage from, at image coordinates.
    const TQelPixelMask& GetDrawMask() const { return Accumulate ? StrokeMask : BrushMask; }
    // Rect cut to the draw mask, the image and the backup; false when
    // nothing is left or either image has fewer than 3 bytes a pixel.
    bool GetPaintArea(const TQelRect& Rect, TQelRect& Area) const;

    // The box paints the preview from now on; null detaches.
    void SetPreviewBox(TQelPaintBox* Box);
    // The preview into Painter: black, or grey when the box is disabled.
    void PaintPreviewBox(QPainter& Painter);
    void UpdatePreview();
    // The mask centred in Colour on white, with a grey border, into Rect.
    void DrawPreview(QPainter& Painter, const TQelRect& Rect, uint32_t Colour);

    // Mask builders: each sizes Mask to the footprint of Size at (0, 0).
    // A hard disc of Value.
    static void BuildDiscMask(TQelPixelMask& Mask, int32_t Size, uint8_t Value);
    // Opacity inside the radius Hardness sets, falling off linearly to 0 at
    // the edge. A single pixel is always 255.
    static void BuildSoftMask(TQelPixelMask& Mask, int32_t Size, int32_t Opacity, int32_t Hardness);
    // Value * (1 - t^(Exponent16 / 16)) with t the distance over the radius.
    static void BuildFalloffMask(TQelPixelMask& Mask, int32_t Size, int32_t Value, int32_t Exponent16);
    // Colour (B | G << 8 | R << 16) over Source into Dest with the mask's
    // coverage, inside Rect and every bound of the three.
    static void BlendColorMask(const TQelPixelMask& Mask, const TQelPixels& Source, uint32_t Colour,
                               const TQelRect& Rect, TQelPixels& Dest);

    TQelPixelMask BrushMask;
    TQelPixelMask StrokeMask;
    QPointer<TQelPaintBox> PreviewBox;
    bool Accumulate = false;

private:
    // Grows the stroke mask over Rect, with room to spare, so that a long
    // stroke reallocates only now and then.
    void ReserveStroke(const TQelRect& Rect);
};

// A soft round brush; its control draws the outline as the pointer.
class TQelBrushTool : public TQelMaskDrawTool {
    Q_OBJECT
public:
    TQelBrushTool();

    void Create() override;
    void BuildMask() override;
    // NAME+"HARDNESS", then the draw tool's commands.
    void ExecuteCommand(TQelDemoPlayback* Playback, const QByteArray& Command, const TQelDemoScriptParams& Params,
                        TQelDemoScriptUserAction* Action, bool& Handled) override;
    void GetCommandPoint(TQelDemoPlayback* Playback, const TQelDemoScriptParams& Params, QPoint& Point,
                         bool& Handled) override;

    // Values equal to the present one or outside 0..255 are ignored.
    virtual void SetHardness(int32_t Value);
    void BindHardnessTrackBar(QSlider* TrackBar);

    // Starts at 0 so that the first SetHardness builds the mask.
    int32_t Hardness = 0;
    QPointer<QSlider> HardnessTrackBar;

private:
    QMetaObject::Connection FHardnessConnection;
};

// Draws the brush outline, inverting what lies under it.
class TQelBrushToolControl : public TQelMaskDrawToolControl {
public:
    void PaintOverlay(TQelViewCanvas& Canvas) override;
    // The device bounds, at least one pixel, grown by 2: the outline is
    // always repainted whole.
    void GetOverlayBounds(const TQelMapMode& MapMode, TQelRect& Rect) const override;
    // The outline's device rectangle.
    TQelRect GetOutlineRect(const TQelMapMode& MapMode) const;

private:
    // The rasterised outline of the last size drawn.
    QImage FOutline;
};

// Running sums of B, G and R along each row of a rectangle of pixels, so the
// sum over any run of a row costs two look-ups whatever its length.
class TQelRowSums {
public:
    // Sums over Rect inside Pixels' bounds; false, and empty, when nothing
    // of Rect is on the pixels or the memory cannot be had.
    bool Build(const TQelPixels& Pixels, const TQelRect& Rect);
    void Clear();
    bool IsEmpty() const { return FBounds.IsEmpty(); }
    const TQelRect& GetBounds() const { return FBounds; }
    // Adds B, G and R over columns X0..X1 - 1 of row Y (all inside the
    // bounds) to Sum.
    void AddRun(int32_t Y, int32_t X0, int32_t X1, uint64_t Sum[3]) const {
        const uint32_t* row = FSums.data() + size_t(Y - FBounds.Top) * FRowLength;
        const uint32_t* a = row + size_t(X0 - FBounds.Left) * 3;
        const uint32_t* b = row + size_t(X1 - FBounds.Left) * 3;
        Sum[0] += b[0] - a[0];
        Sum[1] += b[1] - a[1];
        Sum[2] += b[2] - a[2];
    }

private:
    TQelRect FBounds;
    size_t FRowLength = 0;
    std::vector<uint32_t> FSums;
};

// A brush that also needs the mean colour of the unchanged image in a disc
// around a pixel, computed once per pixel and stroke.
//
// The cache's memory outlives the stroke: the end of a stroke forgets the
// means it wrote, and the next stroke sized over the same image finds the
// pages it touches already there instead of mapping and faulting in a whole
// image's cache anew. The memory is given back when the tool is left, when
// its document closes, and when no stroke came for BlurCacheIdleMs.
class TQelCustomBlurBrushTool : public TQelBrushTool {
    Q_OBJECT
public:
    TQelCustomBlurBrushTool();
    ~TQelCustomBlurBrushTool() override;

    void Create() override;
    // The smoothing follows every size change.
    void SetSize(int32_t Value) override;
    void EndDraw() override;
    void Deactivate() override;
    void DocumentClosing(TQelGraphicsDocument* Document) override;
    // NAME+"SMOOTHING", then the brush's commands.
    void ExecuteCommand(TQelDemoPlayback* Playback, const QByteArray& Command, const TQelDemoScriptParams& Params,
                        TQelDemoScriptUserAction* Action, bool& Handled) override;
    void GetCommandPoint(TQelDemoPlayback* Playback, const TQelDemoScriptParams& Params, QPoint& Point,
                         bool& Handled) override;

    // Values equal to the present one or outside the size limits are ignored.
    virtual void SetSmoothing(int32_t Value);
    // The smoothing disc without its centre.
    virtual void BuildBlurMask();
    void BindSmoothingTrackBar(QSlider* TrackBar);

    // The mean of the backup's pixels under the smoothing disc around
    // (X, Y), the pixel itself left out, halves to even. Cached where the
    // caller sized BlurCache (alpha 0 = not yet known).
    TQelRGBTriple GetBlurredPixel(int32_t X, int32_t Y);
    // Until DropBlurSums, the means of pixels in Rect are taken from row sums
    // of the backup kept for them, one look-up per disc row instead of one
    // per disc pixel. The backup must not change meanwhile. A rectangle too
    // large to keep sums for is left to the per-pixel sums.
    void HoldBlurSums(const TQelRect& Rect);
    void DropBlurSums();
    // Every mean in the cache forgotten (alpha 0 again); only the entries
    // written are cleared, and the memory stays.
    void EmptyBlurCache();
    // The cache's memory given back; the cache is empty.
    void ReleaseBlurCache();

    TQelPixelBuffer BlurCache;
    // Without a stroke for this long the cache's memory is given back.
    int BlurCacheIdleMs = 1000;
    TQelPixelMask DiscMask;
    int32_t Smoothing = 0;
    QPointer<QSlider> SmoothingTrackBar;

private:
    // One run of non-zero disc values: row Row, columns From..To - 1 of the
    // disc mask.
    struct TDiscRun {
        int32_t Row;
        int32_t From;
        int32_t To;
    };
    // The runs of the disc mask as it is now.
    const std::vector<TDiscRun>& DiscRuns();
    // The disc's sum over the backup around (X, Y), the footprint clipped to
    // R, from Sums (which cover R).
    void SumDisc(const TQelRowSums& Sums, const TQelRect& Footprint, const TQelRect& R, uint64_t Sum[3],
                 uint64_t& Count);

    QMetaObject::Connection FSmoothingConnection;
    std::vector<TDiscRun> FDiscRuns;
    // The mask the runs were taken from; a changed mask is read again.
    const uint8_t* FRunsMask = nullptr;
    int32_t FRunsWidth = -1;
    int32_t FRunsHeight = -1;
    bool FRunsStale = true;
    // Sums held by HoldBlurSums, and the scratch sums of a single mean.
    TQelRowSums FHeldSums;
    TQelRowSums FScratchSums;

    // Notes the entry of (X, Y) as written; false when that cannot be noted
    // (the entry must then stay unwritten).
    bool NoteCached(int32_t X, int32_t Y);
    // Per row of the cache, the columns written since it was last emptied
    // (From >= To: none), for the rows at FWrittenBits over FWrittenBounds;
    // other rows were taken afresh, zero-filled. Rows rather than one
    // rectangle: a long diagonal stroke would otherwise clear, and so fault
    // in, most of a whole image's cache.
    struct TWrittenColumns {
        int32_t From;
        int32_t To;
    };
    std::vector<TWrittenColumns> FWritten;
    const uint8_t* FWrittenBits = nullptr;
    TQelRect FWrittenBounds;
    QTimer FBlurIdleTimer;
};
