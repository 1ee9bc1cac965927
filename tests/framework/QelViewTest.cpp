#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "QelLTBitmap.h"
#include "QelView.h"
#include "ViewTestSupport.h"

namespace {

using Log = std::vector<std::string>;

const QColor Grey(64, 64, 64);
const QColor Unpainted(1, 2, 3);

QImage Target(int w, int h) {
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(Unpainted);
    return img;
}

// Records its calls; an opaque body fills its device rectangle and
// excludes it, an overlay draws a 1-pixel line along its top row.
class TLogObject : public TQelViewObject {
public:
    TLogObject(Log* log, std::string name, TQelRect bounds, QColor body, bool opaque = true)
        : FLog(log), FName(std::move(name)), FBody(body), FOpaque(opaque) {
        Bounds = bounds;
    }
    void PaintBody(TQelViewCanvas& c) override {
        FLog->push_back(FName + ".Body");
        TQelRect r;
        GetBodyBounds(c.MapMode, r);
        c.Canvas.fillRect(QRect(r.Left, r.Top, r.Width(), r.Height()), FBody);
        if (FOpaque) c.ExcludeClipRect(r);
    }
    void PaintOverlay(TQelViewCanvas& c) override {
        FLog->push_back(FName + ".Overlay");
        TQelRect r;
        GetOverlayBounds(c.MapMode, r);
        c.Canvas.fillRect(QRect(r.Left, r.Top, r.Width(), 1), Qt::green);
    }
    void AfterPaint() override { FLog->push_back(FName + ".After"); }

private:
    Log* FLog;
    std::string FName;
    QColor FBody;
    bool FOpaque;
};

template <class T, class... Args>
T* AddObject(TQelViewObjectList& list, Args&&... args) {
    std::unique_ptr<T> o = QelCreateViewObject<T>(std::forward<Args>(args)...);
    T* raw = o.get();
    list.Add(std::move(o));
    return raw;
}

TEST(QelView, OpaqueBodiesHideWhatLiesBelow) {
    Log log;
    TQelViewObjectList objects;
    TQelViewCanvas canvas;
    AddObject<TLogObject>(objects, &log, "A", TQelRect(0, 0, 10, 10), Qt::red)->Flags = 1 + 2 + 8;
    AddObject<TLogObject>(objects, &log, "B", TQelRect(5, 0, 15, 10), Qt::blue)->Flags = 1 + 2 + 8;
    QImage target = Target(20, 20);
    ASSERT_TRUE(QelPaintViewObjects(canvas, objects, &target, QRegion(0, 0, 20, 20)));
    EXPECT_EQ(target.pixelColor(2, 2), QColor(Qt::red));
    EXPECT_EQ(target.pixelColor(7, 2), QColor(Qt::blue));
    EXPECT_EQ(target.pixelColor(17, 2), Grey);
    EXPECT_EQ(target.pixelColor(2, 15), Grey);
    EXPECT_EQ(log, (Log{"B.Body", "B.After", "A.Body", "A.After"}));
    EXPECT_FALSE(canvas.Painting());
}

TEST(QelView, OverlaysPaintBottomUpUnderTheirSavedClip) {
    Log log;
    TQelViewObjectList objects;
    TQelViewCanvas canvas;
    AddObject<TLogObject>(objects, &log, "Low", TQelRect(0, 0, 20, 10), Qt::red);
    AddObject<TLogObject>(objects, &log, "High", TQelRect(10, 0, 20, 10), Qt::blue)->Flags = 1 + 2 + 8;
    AddObject<TLogObject>(objects, &log, "Top", TQelRect(0, 5, 20, 6), Qt::yellow, false);
    QImage target = Target(20, 12);
    ASSERT_TRUE(QelPaintViewObjects(canvas, objects, &target, QRegion(0, 0, 20, 12)));
    EXPECT_EQ(log, (Log{"Top.Body", "High.Body", "High.After", "Low.Body", "Low.Overlay", "Low.After",
                        "Top.Overlay", "Top.After"}));
    // Low's overlay shows over its own body and is hidden by High's body.
    EXPECT_EQ(target.pixelColor(3, 0), QColor(Qt::green));
    EXPECT_EQ(target.pixelColor(13, 0), QColor(Qt::blue));
    // The topmost overlay (pushed first) comes last, over everything.
    EXPECT_EQ(target.pixelColor(13, 5), QColor(Qt::green));
    EXPECT_EQ(canvas.StateCount(), 0);
    EXPECT_EQ(target.pixelColor(3, 11), Grey);
}

TEST(QelView, ObjectsOutsideTheRegionAreSkipped) {
    Log log;
    TQelViewObjectList objects;
    TQelViewCanvas canvas;
    AddObject<TLogObject>(objects, &log, "Far", TQelRect(30, 30, 40, 40), Qt::red);
    TLogObject* hidden = AddObject<TLogObject>(objects, &log, "Hidden", TQelRect(0, 0, 5, 5), Qt::red);
    hidden->SetVisible(false);
    AddObject<TLogObject>(objects, &log, "Empty", TQelRect(3, 3, 3, 9), Qt::red);
    QImage target = Target(50, 50);
    ASSERT_TRUE(QelPaintViewObjects(canvas, objects, &target, QRegion(0, 0, 20, 20)));
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(canvas.StateCount(), 0);
    // Only the update region reaches the window.
    EXPECT_EQ(target.pixelColor(19, 19), Grey);
    EXPECT_EQ(target.pixelColor(20, 19), Unpainted);
    EXPECT_EQ(target.pixelColor(35, 35), Unpainted);

    EXPECT_FALSE(QelPaintViewObjects(canvas, objects, &target, QRegion()));
}

TEST(QelView, PaintHonoursThePaintableBitButThePassDoesNot) {
    Log log;
    TQelViewObjectList objects;
    TQelViewCanvas canvas;
    TLogObject* o = AddObject<TLogObject>(objects, &log, "O", TQelRect(0, 0, 5, 5), Qt::red);
    o->Flags = 1 + 2 + 4;  // bit 8 clear
    QImage target = Target(10, 10);
    ASSERT_TRUE(canvas.BeginPaint(&target, QRegion(0, 0, 10, 10)));
    o->Paint(canvas);
    EXPECT_TRUE(log.empty());
    o->Flags = 15;
    o->Paint(canvas);
    EXPECT_EQ(log, (Log{"O.Body", "O.Overlay", "O.After"}));
    canvas.EndPaint();

    log.clear();
    o->Flags = 1 + 2;
    ASSERT_TRUE(QelPaintViewObjects(canvas, objects, &target, QRegion(0, 0, 10, 10)));
    EXPECT_EQ(log, (Log{"O.Body", "O.After"}));
}

class TTwoLayerObject : public TQelViewObject {
public:
    void Reset() override { Flags = 1 + 4; }
    void GetOverlayBounds(const TQelMapMode&, TQelRect& r) const override { r = TQelRect(50, 50, 60, 60); }
};

TEST(QelView, BoundsFollowTheLayerBits) {
    TQelMapMode map;
    map.DeviceExtent = TQelPoint{2, 2};
    map.DeviceOrigin = TQelPoint{1, 1};
    std::unique_ptr<TTwoLayerObject> o = QelCreateViewObject<TTwoLayerObject>();
    EXPECT_EQ(o->Flags, 5);  // the subclass's Reset ran at creation
    o->SetBounds(TQelRect(0, 0, 5, 5));
    TQelRect r;
    o->GetBounds(map, r);
    EXPECT_EQ(r, TQelRect(50, 50, 60, 60));
    o->Flags = 1 + 2 + 4;
    o->GetBounds(map, r);
    EXPECT_EQ(r, TQelRect(1, 1, 60, 60));
    o->Flags = 1 + 2;
    o->GetBounds(map, r);
    EXPECT_EQ(r, TQelRect(1, 1, 11, 11));
    o->Flags = 1;
    o->GetBounds(map, r);
    EXPECT_EQ(r, TQelRect());
}

TEST(QelView, HitTests) {
    TQelMapMode map;
    map.DeviceOrigin = TQelPoint{10, 10};
    TQelViewObject o;
    o.Bounds = TQelRect(0, 0, 10, 10);  // device (10, 10, 20, 20)
    EXPECT_EQ(o.HitTest(map, TQelPoint{10, 10}, 0), 3);
    EXPECT_EQ(o.HitTest(map, TQelPoint{20, 15}, 0), 0);  // right edge is outside
    EXPECT_EQ(o.HitTest(map, TQelPoint{21, 15}, 2), 2);
    EXPECT_EQ(o.HitTest(map, TQelPoint{22, 15}, 2), 0);
    EXPECT_EQ(o.HitTest(map, TQelPoint{8, 8}, -5), 0);

    EXPECT_EQ(o.HitTestRect(map, TQelRect(12, 12, 20, 20), 0), 3);
    EXPECT_EQ(o.HitTestRect(map, TQelRect(5, 5, 25, 25), 0), 1);  // larger: overlap, not inside
    EXPECT_EQ(o.HitTestRect(map, TQelRect(20, 10, 22, 12), 0), 0);
    EXPECT_EQ(o.HitTestRect(map, TQelRect(20, 10, 22, 12), 1), 2);
    EXPECT_EQ(o.HitTestRect(map, TQelRect(21, 10, 22, 12), 1), 0);
}

TEST(QelView, ClipStackAndSurface) {
    EXPECT_EQ(DIBStride(1, 24), 4);
    EXPECT_EQ(DIBStride(0, 24), 0);

    TQelViewCanvas canvas;
    TQelViewObject a, b;
    QImage target = Target(40, 30);
    ASSERT_TRUE(canvas.BeginPaint(&target, QRegion(5, 6, 20, 10)));
    EXPECT_EQ(canvas.Box(), TQelRect(5, 6, 25, 16));
    EXPECT_EQ(canvas.Pixels.GetBounds(), TQelRect(0, 0, 25, 16));
    EXPECT_EQ(canvas.Pixels.Stride, 76);
    EXPECT_EQ(canvas.Pixels.Format, QelFormatBGR24);
    EXPECT_EQ(canvas.Surface().constBits(), canvas.Pixels.Bits);  // one memory, no copy

    canvas.PushState(&a);
    canvas.ExcludeClipRect(TQelRect(0, 0, 15, 40));
    EXPECT_FALSE(canvas.RectVisible(TQelRect(5, 6, 15, 16)));
    EXPECT_EQ(canvas.GetClipBox(), TQelRect(15, 6, 25, 16));
    canvas.PushState(&b);
    canvas.ExcludeClipRect(TQelRect(0, 0, 40, 40));
    EXPECT_TRUE(canvas.GetClipBox().IsEmpty());
    TQelViewObject* popped = nullptr;
    ASSERT_TRUE(canvas.PopState(popped));
    EXPECT_EQ(popped, &b);
    EXPECT_EQ(canvas.GetClipBox(), TQelRect(15, 6, 25, 16));
    ASSERT_TRUE(canvas.PopState(popped));
    EXPECT_EQ(popped, &a);
    EXPECT_EQ(canvas.GetClipBox(), TQelRect(5, 6, 25, 16));
    EXPECT_FALSE(canvas.PopState(popped));
    canvas.EndPaint();
    EXPECT_EQ(canvas.Pixels.Bits, nullptr);

    // An update box no surface can hold skips the paint, window untouched.
    EXPECT_FALSE(canvas.BeginPaint(&target, QRegion(0, 0, 100000, 100000)));
    EXPECT_FALSE(canvas.Painting());
    EXPECT_EQ(target.pixelColor(0, 0), Unpainted);
}

class TThrowingObject : public TQelViewObject {
public:
    void PaintBody(TQelViewCanvas&) override { throw std::runtime_error("paint failed"); }
};

TEST(QelView, AFailingPainterEndsThePaint) {
    TQelViewObjectList objects;
    TQelViewCanvas canvas;
    AddObject<TQelViewObject>(objects)->Bounds = TQelRect(0, 0, 10, 10);  // overlay pushed below
    AddObject<TThrowingObject>(objects)->Bounds = TQelRect(0, 0, 10, 10);
    QImage target = Target(10, 10);
    EXPECT_THROW(QelPaintViewObjects(canvas, objects, &target, QRegion(0, 0, 10, 10)), std::runtime_error);
    EXPECT_FALSE(canvas.Painting());
    EXPECT_EQ(canvas.StateCount(), 0);
    EXPECT_EQ(target.pixelColor(5, 5), Unpainted);
    // The canvas is usable again.
    objects.Remove(objects.GetObject(1));
    EXPECT_TRUE(QelPaintViewObjects(canvas, objects, &target, QRegion(0, 0, 10, 10)));
}

// Direct writes over the whole surface (they are not clipped) must stay in
// the surface.
class TSurfaceWriter : public TQelViewObject {
public:
    void Reset() override { Flags = 1 + 4 + 8; }
    void GetOverlayBounds(const TQelMapMode&, TQelRect& r) const override { r = TQelRect(-1000, -1000, 1000, 1000); }
    void PaintOverlay(TQelViewCanvas& c) override {
        const TQelPixels& p = c.Pixels;
        for (int32_t y = 0; y < p.Height; ++y)
            for (int32_t x = 0; x < p.Width; x += 7) p.PixelAddress(x, y)[1] ^= 0x01;
    }
};

TEST(QelView, BackBufferStaysInBoundsAtAnyZoomAndScroll) {
    TQelLTBitmap bitmap;
    ASSERT_TRUE(bitmap.SetSize(37, 23, QelFormatBGR24));
    FillCoordinates(bitmap, 250);
    TQelViewObjectList objects;
    objects.Add(QelCreateViewObject<TImageObject>(&bitmap));
    TQelViewCanvas canvas;
    const TQelPoint scales[] = {{1, 1}, {1, 3}, {3, 1}, {3, 2}, {2, 3}, {1, 16}, {16, 1}};
    const TQelPoint origins[] = {{0, 0}, {-13, -7}, {11, 5}, {-500, 3}, {40, -60}};
    const QRegion regions[] = {QRegion(0, 0, 31, 29), QRegion(13, 7, 18, 22) + QRegion(2, 25, 5, 3),
                               QRegion(30, 28, 1, 1)};
    for (const TQelPoint& s : scales)
        for (const TQelPoint& o : origins)
            for (const QRegion& region : regions) {
                canvas.MapMode.DeviceExtent = TQelPoint{s.X, s.X};
                canvas.MapMode.LogicalExtent = TQelPoint{s.Y, s.Y};
                canvas.MapMode.DeviceOrigin = o;
                QImage target = Target(31, 29);
                ASSERT_TRUE(QelPaintViewObjects(canvas, objects, &target, region));
                const TQelRect image = canvas.MapMode.LogicalToDeviceRect(bitmap.GetBoundsRect());
                for (int y = 0; y < target.height(); ++y)
                    for (int x = 0; x < target.width(); ++x) {
                        const QColor c = target.pixelColor(x, y);
                        if (!region.contains(QPoint(x, y))) {
                            ASSERT_EQ(c, Unpainted) << x << "," << y;
                        } else if (!image.Contains(x, y)) {
                            ASSERT_EQ(c, Grey) << x << "," << y;
                        } else {
                            // The pixel shown is the one under this device
                            // point, give or take the pixels one device
                            // pixel covers.
                            const TQelPoint l = canvas.MapMode.DeviceToLogical(TQelPoint{x, y});
                            const int slack = std::max(1, (s.Y + s.X - 1) / s.X);
                            ASSERT_EQ(c.red(), 250);
                            ASSERT_LE(std::abs(c.blue() - l.X), slack) << x << "," << y << " scale " << s.X << "/" << s.Y;
                            ASSERT_LE(std::abs(c.green() - l.Y), slack) << x << "," << y;
                        }
                    }
            }

    objects.Add(QelCreateViewObject<TSurfaceWriter>());
    for (const QRegion& region : regions) {
        QImage target = Target(31, 29);
        ASSERT_TRUE(QelPaintViewObjects(canvas, objects, &target, region));
    }
}

}  // namespace
