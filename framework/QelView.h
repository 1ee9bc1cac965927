// Drawable view objects and the off-screen canvas they paint into.
//
// A view shows a stack of objects (index 0 at the bottom). Each has a body,
// painted from the top of the stack down so that an opaque body hides what
// lies below it, and an overlay, painted afterwards from the bottom up.
// Objects have logical (image) bounds; the canvas's map mode turns them into
// device (client) coordinates. Every paint goes into one 24-bit surface
// that is copied to the window in one block.
#pragma once

#include <QImage>
#include <QPainter>
#include <QRegion>

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "QelBitmap.h"
#include "QelClasses.h"
#include "QelGeometry.h"
#include "QelNumeric.h"

class QPaintDevice;
class TQelViewCanvas;

// View object flags.
constexpr uint8_t QelViewVisible = 1;
constexpr uint8_t QelViewBody = 2;
constexpr uint8_t QelViewOverlay = 4;
constexpr uint8_t QelViewPaintable = 8;     // Paint does anything at all
constexpr uint8_t QelViewNoExtent = 16;     // left out of the view's content extent
constexpr uint8_t QelViewDefaultFlags = 15;

class TQelViewObject {
public:
    TQelViewObject() = default;
    virtual ~TQelViewObject() = default;
    TQelViewObject(const TQelViewObject&) = delete;
    TQelViewObject& operator=(const TQelViewObject&) = delete;

    // Creation step, run by QelCreateViewObject after construction so that
    // a subclass's Reset takes effect.
    virtual void Create() { Reset(); }

    virtual void SetVisible(bool Value);
    virtual void SetBounds(const TQelRect& Rect);
    virtual void Reset();
    // Device rectangle of the body and the overlay, as the flags say; all
    // zero when the object has neither.
    virtual void GetBounds(const TQelMapMode& MapMode, TQelRect& Rect) const;
    virtual void GetBodyBounds(const TQelMapMode& MapMode, TQelRect& Rect) const;
    virtual void GetOverlayBounds(const TQelMapMode& MapMode, TQelRect& Rect) const;
    virtual bool IsVisibleOn(TQelViewCanvas& Canvas) const;
    // A body that covers its device rectangle opaquely excludes it from the
    // canvas clip afterwards, so nothing later in the pass paints over it.
    virtual void PaintBody(TQelViewCanvas& Canvas);
    virtual void PaintOverlay(TQelViewCanvas& Canvas);
    virtual void AfterPaint();
    // Body, overlay and AfterPaint, but only when the object is paintable
    // and visible on Canvas. The view's paint pass does not use it.
    virtual void Paint(TQelViewCanvas& Canvas);
    virtual bool HandlesPoint(int32_t X, int32_t Y) const;
    // 3 inside; 2 within Tolerance (> 0) of the bounds; else 0.
    virtual uint8_t HitTest(const TQelMapMode& MapMode, const TQelPoint& Point, int32_t Tolerance) const;
    // 3 when Rect lies wholly inside; 1 when it overlaps otherwise; 2 when it
    // overlaps the bounds grown by Tolerance (>= 1); else 0.
    virtual uint8_t HitTestRect(const TQelMapMode& MapMode, const TQelRect& Rect, int32_t Tolerance) const;

    bool GetVisible() const { return (Flags & QelViewVisible) != 0; }

    TQelRect Bounds;
    uint8_t Flags = QelViewDefaultFlags;
};

template <class T, class... Args>
std::unique_ptr<T> QelCreateViewObject(Args&&... args) {
    std::unique_ptr<T> object(new T(std::forward<Args>(args)...));
    object->Create();
    return object;
}

// The objects of a view, owned; index 0 is the bottom of the stack.
class TQelViewObjectList {
public:
    int32_t Count() const { return int32_t(FItems.size()); }
    // nullptr outside the list.
    TQelViewObject* GetObject(int32_t Index) const;
    int32_t IndexOf(const TQelViewObject* Object) const;
    int32_t Add(std::unique_ptr<TQelViewObject> Object);
    // Takes the object out and frees it; its former index, or -1.
    int32_t Remove(const TQelViewObject* Object);
    void Clear() { FItems.clear(); }

private:
    std::vector<std::unique_ptr<TQelViewObject>> FItems;
};

// An object whose overlay waits, with the clip that was in force when the
// pass reached it.
struct TQelViewState {
    TQelViewObject* Object = nullptr;
    QRegion Region;
};

// (Width * BitsPerPixel + 31) div 32 * 4; 0 for a width of 0 or less, -1
// when the stride does not fit in 32 bits.
int32_t DIBStride(int32_t Width, int32_t BitsPerPixel);

// The paint target handed to every paint operation. Between BeginPaint and
// EndPaint it holds a 24-bit surface covering the client area from (0, 0)
// to the bottom-right of the update box, so client and surface coordinates
// agree. Painters may draw through Canvas (clipped to the clip region) or
// write Pixels directly (not clipped). Change the clip only through the
// canvas's operations, which keep Canvas in step.
class TQelViewCanvas {
public:
    TQelViewCanvas();
    ~TQelViewCanvas();
    TQelViewCanvas(const TQelViewCanvas&) = delete;
    TQelViewCanvas& operator=(const TQelViewCanvas&) = delete;

    // Starts a paint of Region on Window. False, and nothing started, when
    // the region is empty or the surface cannot be had (the paint is then
    // skipped and the window keeps its pixels).
    bool BeginPaint(QPaintDevice* Window, const QRegion& UpdateRegion);
    // Copies the update region of the surface to the window and ends the paint.
    void EndPaint();
    // Ends a paint without copying anything (a painter failed).
    void CancelPaint();
    bool Painting() const { return FWindow != nullptr; }

    void PushState(TQelViewObject* Object);
    // False when no state is left; otherwise the state's clip is restored.
    bool PopState(TQelViewObject*& Object);
    int32_t StateCount() const { return FStateCount; }

    // Clip region, in client coordinates.
    void SelectClipRegion(const QRegion& Region);
    const QRegion& GetClipRegion() const { return FClip; }
    void ExcludeClipRect(const TQelRect& Rect);
    bool RectVisible(const TQelRect& Rect) const;
    TQelRect GetClipBox() const;

    // Bounding box of the update region (right and bottom exclusive).
    const TQelRect& Box() const { return FBox; }
    const QRegion& UpdateRegion() const { return FUpdateRegion; }
    QPaintDevice* Window() const { return FWindow; }
    // The surface of the current paint; null outside a paint.
    QImage& Surface() { return FSurface; }

    TQelMapMode MapMode;
    TQelCanvasPixels Pixels;
    QPainter Canvas;
    TColor BackgroundColor = 0x404040;

private:
    void ApplyClip();
    bool ReserveSurface(uint64_t Bytes);
    void Finish();

    std::vector<std::unique_ptr<TQelViewState>> FStates;
    int32_t FStateCount = 0;
    QPaintDevice* FWindow = nullptr;
    QRegion FUpdateRegion;
    QRegion FClip;
    TQelRect FBox;
    uint8_t* FSurfaceBits = nullptr;  // grown only, reused from paint to paint
    uint64_t FSurfaceCapacity = 0;
    QImage FSurface;
};

// The paint pass over Objects: bodies from the top down with their clip
// exclusions, the background where no body painted, then the deferred
// overlays from the bottom up, each under the clip saved for it. False when
// nothing was painted (empty region or no surface).
bool QelPaintViewObjects(TQelViewCanvas& Canvas, const TQelViewObjectList& Objects, QPaintDevice* Window,
                         const QRegion& UpdateRegion);
