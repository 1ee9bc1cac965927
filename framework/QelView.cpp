#include "QelView.h"

#include <QColor>
#include <QPaintDevice>
#include <QTransform>

#include <algorithm>
#include <cstdlib>
#include <limits>

#include "QelHelpers.h"
#include "QelLTBitmap.h"
#include "QelQtGeometry.h"

namespace {

// No screen needs a paint surface this large; a bigger update box is a
// fault somewhere else and is skipped like a failed allocation.
constexpr uint64_t MaxSurfaceBytes = uint64_t(1) << 32;

}  // namespace

// --- TQelViewObject ------------------------------------------------------------

void TQelViewObject::SetVisible(bool Value) {
    if (Value)
        Flags |= QelViewVisible;
    else
        Flags &= uint8_t(~QelViewVisible);
}

void TQelViewObject::SetBounds(const TQelRect& Rect) { Bounds = Rect; }

void TQelViewObject::Reset() { Flags = QelViewDefaultFlags; }

void TQelViewObject::GetBounds(const TQelMapMode& MapMode, TQelRect& Rect) const {
    const bool body = (Flags & QelViewBody) != 0;
    const bool overlay = (Flags & QelViewOverlay) != 0;
    if (body && overlay) {
        TQelRect b, o;
        GetBodyBounds(MapMode, b);
        GetOverlayBounds(MapMode, o);
        QelUnionRect(Rect, b, o);
    } else if (body) {
        GetBodyBounds(MapMode, Rect);
    } else if (overlay) {
        GetOverlayBounds(MapMode, Rect);
    } else {
        Rect = TQelRect();
    }
}

void TQelViewObject::GetBodyBounds(const TQelMapMode& MapMode, TQelRect& Rect) const {
    Rect = MapMode.LogicalToDeviceRect(Bounds);
}

void TQelViewObject::GetOverlayBounds(const TQelMapMode& MapMode, TQelRect& Rect) const {
    Rect = MapMode.LogicalToDeviceRect(Bounds);
}

bool TQelViewObject::IsVisibleOn(TQelViewCanvas&) const { return GetVisible(); }

void TQelViewObject::PaintBody(TQelViewCanvas&) {}

void TQelViewObject::PaintOverlay(TQelViewCanvas&) {}

void TQelViewObject::AfterPaint() {}

void TQelViewObject::Paint(TQelViewCanvas& Canvas) {
    if ((Flags & QelViewPaintable) == 0 || !IsVisibleOn(Canvas)) return;
    if (Flags & QelViewBody) PaintBody(Canvas);
    if (Flags & QelViewOverlay) PaintOverlay(Canvas);
    AfterPaint();
}

bool TQelViewObject::HandlesPoint(int32_t, int32_t) const { return false; }

uint8_t TQelViewObject::HitTest(const TQelMapMode& MapMode, const TQelPoint& Point, int32_t Tolerance) const {
    const TQelRect r = MapMode.LogicalToDeviceRect(Bounds);
    if (r.Contains(Point.X, Point.Y)) return 3;
    if (Tolerance > 0) {
        TQelRect grown;
        InflateRectCopy(r, Tolerance, Tolerance, grown);
        if (grown.Contains(Point.X, Point.Y)) return 2;
    }
    return 0;
}

uint8_t TQelViewObject::HitTestRect(const TQelMapMode& MapMode, const TQelRect& Rect, int32_t Tolerance) const {
    const TQelRect r = MapMode.LogicalToDeviceRect(Bounds);
    switch (RectRelation(Rect, r)) {
    case 2: return 3;
    case 1: return 1;
    default: break;
    }
    if (Tolerance >= 1) {
        TQelRect grown;
        InflateRectCopy(r, Tolerance, Tolerance, grown);
        if (RectRelation(Rect, grown) != 0) return 2;
    }
    return 0;
}

// --- TQelViewObjectList --------------------------------------------------------

TQelViewObject* TQelViewObjectList::GetObject(int32_t Index) const {
    if (Index < 0 || Index >= Count()) return nullptr;
    return FItems[size_t(Index)].get();
}

int32_t TQelViewObjectList::IndexOf(const TQelViewObject* Object) const {
    for (size_t i = 0; i < FItems.size(); ++i)
        if (FItems[i].get() == Object) return int32_t(i);
    return -1;
}

int32_t TQelViewObjectList::Add(std::unique_ptr<TQelViewObject> Object) {
    FItems.push_back(std::move(Object));
    return Count() - 1;
}

int32_t TQelViewObjectList::Remove(const TQelViewObject* Object) {
    const int32_t i = IndexOf(Object);
    if (i >= 0) FItems.erase(FItems.begin() + i);
    return i;
}

// --- TQelViewCanvas ------------------------------------------------------------

int32_t DIBStride(int32_t Width, int32_t BitsPerPixel) {
    if (Width <= 0 || BitsPerPixel <= 0) return 0;
    const int64_t stride = (int64_t(Width) * BitsPerPixel + 31) / 32 * 4;
    return stride > std::numeric_limits<int32_t>::max() ? -1 : int32_t(stride);
}

TQelViewCanvas::TQelViewCanvas() = default;

TQelViewCanvas::~TQelViewCanvas() {
    if (Canvas.isActive()) Canvas.end();
    FSurface = QImage();
    std::free(FSurfaceBits);
}

bool TQelViewCanvas::ReserveSurface(uint64_t Bytes) {
    if (Bytes <= FSurfaceCapacity) return true;
    if (Bytes > MaxSurfaceBytes) return false;
    // Some headroom, so that a window grown a little does not reallocate.
    const uint64_t want = std::min(MaxSurfaceBytes, Bytes + Bytes / 4);
    void* p = std::malloc(size_t(want));
    if (p == nullptr) {
        p = std::malloc(size_t(Bytes));
        if (p == nullptr) return false;
        FSurfaceCapacity = Bytes;
    } else {
        FSurfaceCapacity = want;
    }
    std::free(FSurfaceBits);
    FSurfaceBits = static_cast<uint8_t*>(p);
    return true;
}

bool TQelViewCanvas::BeginPaint(QPaintDevice* Window, const QRegion& UpdateRegion) {
    if (Window == nullptr || Painting() || UpdateRegion.isEmpty()) return false;
    const TQelRect box = QelFromQRect(UpdateRegion.boundingRect());
    if (box.Right <= 0 || box.Bottom <= 0) return false;
    const int32_t stride = DIBStride(box.Right, 24);
    if (stride <= 0) return false;
    if (!ReserveSurface(uint64_t(stride) * uint64_t(box.Bottom))) return false;
    FSurface = QImage(FSurfaceBits, box.Right, box.Bottom, stride, QImage::Format_BGR888);
    if (FSurface.isNull() || !Canvas.begin(&FSurface)) {
        FSurface = QImage();
        return false;
    }
    FWindow = Window;
    FUpdateRegion = UpdateRegion;
    FBox = box;
    Pixels.Init(TQelRect(0, 0, box.Right, box.Bottom), FSurfaceBits, QelFormatBGR24, stride);
    SelectClipRegion(UpdateRegion);
    return true;
}

void TQelViewCanvas::EndPaint() {
    if (!Painting()) return;
    Canvas.end();
    {
        QPainter target(FWindow);
        if (target.isActive()) {
            target.setClipRegion(FUpdateRegion);
            target.drawImage(QPoint(FBox.Left, FBox.Top), FSurface, QelToQRect(FBox));
        }
    }
    Finish();
}

void TQelViewCanvas::CancelPaint() {
    if (!Painting()) return;
    Canvas.end();
    Finish();
}

void TQelViewCanvas::Finish() {
    // A paint that left states behind (an overlay that threw) must not leak
    // them into the next one.
    for (int32_t i = 0; i < FStateCount; ++i) FStates[size_t(i)]->Region = QRegion();
    FStateCount = 0;
    FSurface = QImage();
    FUpdateRegion = QRegion();
    FClip = QRegion();
    FWindow = nullptr;
    Pixels = TQelCanvasPixels();
}

void TQelViewCanvas::PushState(TQelViewObject* Object) {
    if (size_t(FStateCount) == FStates.size()) FStates.push_back(std::make_unique<TQelViewState>());
    TQelViewState& state = *FStates[size_t(FStateCount)];
    state.Object = Object;
    state.Region = FClip;
    ++FStateCount;
}

bool TQelViewCanvas::PopState(TQelViewObject*& Object) {
    if (FStateCount == 0) return false;
    --FStateCount;
    TQelViewState& state = *FStates[size_t(FStateCount)];
    SelectClipRegion(state.Region);
    state.Region = QRegion();
    Object = state.Object;
    return true;
}

void TQelViewCanvas::ApplyClip() {
    if (!Canvas.isActive()) return;
    // The clip is kept in client coordinates whatever transform a painter
    // left on the canvas.
    if (Canvas.worldTransform().isIdentity()) {
        Canvas.setClipRegion(FClip);
    } else {
        const QTransform t = Canvas.worldTransform();
        Canvas.resetTransform();
        Canvas.setClipRegion(FClip);
        Canvas.setWorldTransform(t);
    }
}

void TQelViewCanvas::SelectClipRegion(const QRegion& Region) {
    FClip = Region;
    ApplyClip();
}

void TQelViewCanvas::ExcludeClipRect(const TQelRect& Rect) {
    if (Rect.IsEmpty()) return;
    FClip -= QRegion(QelToQRect(Rect));
    ApplyClip();
}

bool TQelViewCanvas::RectVisible(const TQelRect& Rect) const {
    if (Rect.IsEmpty()) return false;
    return FClip.intersects(QelToQRect(Rect));
}

TQelRect TQelViewCanvas::GetClipBox() const {
    if (FClip.isEmpty()) return TQelRect();
    return QelFromQRect(FClip.boundingRect());
}

// --- The paint pass ------------------------------------------------------------

bool QelPaintViewObjects(TQelViewCanvas& Canvas, const TQelViewObjectList& Objects, QPaintDevice* Window,
                         const QRegion& UpdateRegion) {
    if (!Canvas.BeginPaint(Window, UpdateRegion)) return false;
    try {
        for (int32_t i = Objects.Count() - 1; i >= 0; --i) {
            TQelViewObject* object = Objects.GetObject(i);
            if (object == nullptr || !object->GetVisible()) continue;
            TQelRect bounds;
            object->GetBounds(Canvas.MapMode, bounds);
            if (!Canvas.RectVisible(bounds) || !object->IsVisibleOn(Canvas)) continue;
            bool deferred = false;
            if (object->Flags & QelViewOverlay) {
                TQelRect overlay;
                object->GetOverlayBounds(Canvas.MapMode, overlay);
                if (Canvas.RectVisible(overlay)) {
                    Canvas.PushState(object);
                    deferred = true;
                }
            }
            if (object->Flags & QelViewBody) {
                TQelRect body;
                object->GetBodyBounds(Canvas.MapMode, body);
                if (Canvas.RectVisible(body)) object->PaintBody(Canvas);
            }
            if (!deferred) object->AfterPaint();
        }
        if (!Canvas.GetClipBox().IsEmpty()) {
            // The rectangles of the clip region themselves: a fill of the
            // clip box through a complex clip costs the whole box.
            const TColor c = Canvas.BackgroundColor;
            const QColor colour(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF));
            QPainter& painter = Canvas.Canvas;
            const QTransform t = painter.worldTransform();
            painter.resetTransform();
            painter.setClipping(false);
            for (const QRect& r : Canvas.GetClipRegion()) painter.fillRect(r, colour);
            painter.setClipping(true);
            painter.setWorldTransform(t);
        }
        TQelViewObject* object = nullptr;
        while (Canvas.PopState(object)) {
            object->PaintOverlay(Canvas);
            object->AfterPaint();
        }
    } catch (...) {
        Canvas.CancelPaint();
        throw;
    }
    Canvas.EndPaint();
    return true;
}
