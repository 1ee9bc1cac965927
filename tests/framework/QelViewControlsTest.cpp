#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QWheelEvent>

#include <memory>
#include <string>
#include <vector>

#include "QelLTBitmap.h"
#include "QelViewControls.h"
#include "ViewTestSupport.h"

namespace {

class TScrollViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        View.reset(QelCreateViewControl<TQelScrollViewControl>());
        Bar = View->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, View.get());
    }

    // A width x height image whose pixel (x, y) is B = x, G = y (mod 256).
    void SetContent(int32_t width, int32_t height) {
        ASSERT_TRUE(Image.SetSize(width, height, QelFormatBGR24));
        TQelPixels* p = Image.GetPixels();
        for (int32_t y = 0; y < height; ++y)
            for (int32_t x = 0; x < width; ++x) {
                uint8_t* px = p->PixelAddress(x, y);
                px[0] = uint8_t(x);
                px[1] = uint8_t(y);
                px[2] = uint8_t((x >> 8) * 16 + (y >> 8));
            }
        View->Objects.Clear();
        View->Objects.Add(QelCreateViewObject<TImageObject>(&Image));
    }

    void Show(int w, int h) {
        View->resize(w, h);
        View->show();
        QApplication::processEvents();
        View->UpdateView();
        QApplication::processEvents();
    }

    TQelPoint Origin() const { return View->MapMode().DeviceOrigin; }

    // What the window shows now, from its backing store.
    QImage Shown() const {
        return View->screen()->grabWindow(View->winId()).toImage().convertToFormat(QImage::Format_RGB32);
    }

    TQelLTBitmap Image;
    std::unique_ptr<TQelScrollViewControl> View;
    int Bar = 0;
};

TEST_F(TScrollViewTest, SmallContentIsCentredAndDoesNotScroll) {
    SetContent(100, 100);
    Show(300, 200);
    EXPECT_EQ(Origin(), (TQelPoint{100, 50}));
    EXPECT_FALSE(View->horizontalScrollBar()->isVisible());
    EXPECT_FALSE(View->verticalScrollBar()->isVisible());
    for (auto action : {QAbstractSlider::SliderSingleStepAdd, QAbstractSlider::SliderSingleStepSub,
                        QAbstractSlider::SliderPageStepAdd, QAbstractSlider::SliderPageStepSub}) {
        View->horizontalScrollBar()->triggerAction(action);
        View->verticalScrollBar()->triggerAction(action);
        EXPECT_EQ(Origin(), (TQelPoint{100, 50}));
    }
    const QImage shown = Shown();
    EXPECT_EQ(shown.pixelColor(99, 100), QColor(64, 64, 64));
    EXPECT_EQ(shown.pixelColor(100, 50), QColor(0, 0, 0));
    EXPECT_EQ(shown.pixelColor(150, 60), QColor(0, 10, 50));
    EXPECT_EQ(shown.pixelColor(200, 150), QColor(64, 64, 64));
}

TEST_F(TScrollViewTest, LargeContentScrollsWithinItsExtent) {
    SetContent(1000, 800);
    Show(200, 200);
    int32_t dx, dy, ew, eh;
    View->GetScrollState(dx, dy, ew, eh);
    EXPECT_EQ(ew, 800 + Bar);
    EXPECT_EQ(eh, 600 + Bar);
    EXPECT_EQ(dx, 0);
    QScrollBar* h = View->horizontalScrollBar();
    EXPECT_TRUE(h->isVisible());
    EXPECT_EQ(h->minimum(), 0);
    EXPECT_EQ(h->maximum(), 800 + Bar);
    EXPECT_EQ(h->pageStep(), 200);

    h->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(Origin().X, -10);
    h->triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(Origin().X, -160);
    EXPECT_EQ(h->value(), 160);
    h->triggerAction(QAbstractSlider::SliderPageStepSub);
    h->triggerAction(QAbstractSlider::SliderPageStepSub);
    EXPECT_EQ(Origin().X, 0);
    EXPECT_EQ(h->value(), 0);

    // The thumb dragged to the far end; a page step on from there is nothing.
    h->setSliderPosition(h->maximum());
    EXPECT_EQ(Origin().X, -(800 + Bar));
    h->triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(Origin().X, -(800 + Bar));
    View->verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(Origin().Y, -10);

    // Moved pixels plus the repainted strip show what a full paint shows.
    QApplication::processEvents();
    const QImage afterScroll = Shown();
    View->viewport()->repaint();
    EXPECT_EQ(afterScroll, Shown());
    const QPoint p(50, 60);
    EXPECT_EQ(afterScroll.pixelColor(p), QColor((((50 + 800 + Bar) >> 8) * 16 + 0), 70, uint8_t(50 + 800 + Bar)));

    // Wider again at the far end: the far end stays at the window's edge.
    View->resize(300, 200);
    QApplication::processEvents();
    EXPECT_EQ(Origin().X, -(700 + Bar));
    EXPECT_EQ(h->value(), h->maximum());
}

TEST_F(TScrollViewTest, CenterOnAndClamping) {
    SetContent(1000, 800);
    Show(200, 200);
    View->CenterOn(TQelPoint{500, 400});
    EXPECT_EQ(Origin(), (TQelPoint{(200 - Bar) / 2 - 500, (200 - Bar) / 2 - 400}));
    EXPECT_EQ(View->horizontalScrollBar()->value(), 500 - (200 - Bar) / 2);
    View->CenterOn(TQelPoint{0, 0});  // clamped to the near ends
    EXPECT_EQ(Origin(), (TQelPoint{0, 0}));

    SetContent(250, 50);  // 50 wider than the view, far lower
    View->UpdateView();
    int32_t dx, dy, ew, eh;
    View->GetScrollState(dx, dy, ew, eh);
    ASSERT_EQ(ew, 50);
    ASSERT_LT(eh, 0);
    EXPECT_EQ(Origin().X, 0);
    dx = -80;
    dy = 5;
    ClampScrollDelta(*View, dx, dy);
    EXPECT_EQ(dx, -50);
    EXPECT_EQ(dy, 0);  // nothing to scroll vertically
    dx = 10;
    ClampScrollDelta(*View, dx, dy);
    EXPECT_EQ(dx, 0);
    dx = -30;
    ClampScrollDelta(*View, dx, dy);
    EXPECT_EQ(dx, -30);
    View->ScrollByDelta(dx, dy);
    EXPECT_EQ(Origin().X, -30);
    EXPECT_EQ(View->horizontalScrollBar()->value(), 30);
}

TEST_F(TScrollViewTest, ABarCanBringTheOtherOne) {
    SetContent(310, 100);
    Show(300, 200);
    EXPECT_TRUE(View->horizontalScrollBar()->isVisible());
    EXPECT_FALSE(View->verticalScrollBar()->isVisible());
    EXPECT_EQ(View->horizontalScrollBar()->maximum(), 10);

    SetContent(310, 200 - Bar + 5);
    View->UpdateView();
    EXPECT_EQ(View->verticalScrollBar()->maximum(), 5) << Bar;
    QApplication::processEvents();
    EXPECT_EQ(View->viewport()->size(), QSize(300 - Bar, 200 - Bar));
    EXPECT_TRUE(View->verticalScrollBar()->isVisible());
    EXPECT_EQ(View->verticalScrollBar()->maximum(), 5);
    EXPECT_EQ(View->horizontalScrollBar()->maximum(), 10 + Bar);
}

TEST_F(TScrollViewTest, AViewNeverShownLeavesItsBarsAlone) {
    SetContent(1000, 800);
    View->resize(300, 200);
    View->MapMode().DeviceOrigin = TQelPoint{40, 40};
    View->UpdateView();
    EXPECT_EQ(Origin(), (TQelPoint{0, 0}));
    EXPECT_EQ(View->horizontalScrollBar()->maximum(), 0);
    EXPECT_EQ(View->verticalScrollBar()->maximum(), 0);

    int32_t dx, dy, ew, eh;
    View->Objects.Clear();
    View->GetScrollState(dx, dy, ew, eh);  // no content at all: an empty extent
    EXPECT_EQ(ew, -300);
    EXPECT_EQ(eh, -200);
    TQelRect extent;
    View->GetContentExtent(extent);
    EXPECT_EQ(extent, TQelRect());
}

TEST_F(TScrollViewTest, ExtentKeepsTheOriginAndSkipsLeftOutObjects) {
    auto block = [](TQelRect bounds, uint8_t flags) {
        std::unique_ptr<TQelViewObject> o = QelCreateViewObject<TQelViewObject>();
        o->Bounds = bounds;
        o->Flags = flags;
        return o;
    };
    View->Objects.Add(block(TQelRect(10, 20, 30, 40), 15));
    View->Objects.Add(block(TQelRect(-500, -500, 500, 500), 15 + 16));
    View->Objects.Add(block(TQelRect(-500, -500, 500, 500), 14));  // hidden
    View->Objects.Add(block(TQelRect(5, 5, 5, 90), 15));            // empty
    View->MapMode().DeviceOrigin = TQelPoint{3, 4};
    TQelRect extent;
    View->GetContentExtent(extent);
    EXPECT_EQ(extent, TQelRect(3, 4, 33, 44));
}

// Records the translated input it receives.
class TInputView : public TQelScrollViewControl {
public:
    std::vector<std::string> Log;
    bool HandleWheel = true;

protected:
    void MouseDown(TMouseButton b, TShiftState s, int32_t x, int32_t y) override {
        Log.push_back("down " + std::to_string(b) + " " + std::to_string(s) + " " + std::to_string(x) + "," +
                      std::to_string(y));
    }
    void MouseMove(TShiftState s, int32_t x, int32_t y) override {
        Log.push_back("move " + std::to_string(s) + " " + std::to_string(x) + "," + std::to_string(y));
    }
    void MouseUp(TMouseButton b, TShiftState s, int32_t x, int32_t y) override {
        Log.push_back("up " + std::to_string(b) + " " + std::to_string(s) + " " + std::to_string(x) + "," +
                      std::to_string(y));
    }
    void KeyDown(uint16_t& key, TShiftState s) override {
        Log.push_back("keydown " + std::to_string(key) + " " + std::to_string(s));
        if (key == VK_OEM_PLUS) key = 0;
    }
    void KeyUp(uint16_t& key, TShiftState) override { Log.push_back("keyup " + std::to_string(key)); }
    bool MouseWheel(TShiftState, int32_t delta, const TQelPoint& p) override {
        Log.push_back("wheel " + std::to_string(delta) + " " + std::to_string(p.X) + "," + std::to_string(p.Y));
        return HandleWheel;
    }
    void MouseEnter() override { Log.push_back("enter"); }
    void MouseLeave() override { Log.push_back("leave"); }
    bool ClaimsKey(uint16_t key, TShiftState) override { return key == 'O'; }
};

TEST(QelViewControl, InputIsTranslatedOnce) {
    std::unique_ptr<TInputView> view(QelCreateViewControl<TInputView>());
    view->resize(200, 200);
    view->show();
    QApplication::processEvents();
    view->Log.clear();
    QWidget* client = view->viewport();
    auto mouse = [&](QEvent::Type type, QPointF pos, Qt::MouseButton button, Qt::MouseButtons buttons,
                     Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QMouseEvent e(type, pos, client->mapToGlobal(pos), button, buttons, mods);
        QApplication::sendEvent(client, &e);
    };
    mouse(QEvent::MouseButtonPress, QPointF(12.7, 5.2), Qt::RightButton, Qt::RightButton, Qt::ShiftModifier);
    mouse(QEvent::MouseMove, QPointF(13, 6), Qt::NoButton, Qt::RightButton);
    mouse(QEvent::MouseButtonRelease, QPointF(14, 7), Qt::RightButton, Qt::NoButton);
    mouse(QEvent::MouseButtonDblClick, QPointF(1, 2), Qt::LeftButton, Qt::LeftButton);
    mouse(QEvent::MouseButtonPress, QPointF(1, 2), Qt::BackButton, Qt::BackButton);
    EXPECT_EQ(view->Log, (std::vector<std::string>{"down 1 17 12,5", "move 16 13,6", "up 1 0 14,7",
                                                   "down 0 72 1,2"}));

    view->Log.clear();
    QKeyEvent plus(QEvent::KeyPress, Qt::Key_Plus, Qt::ControlModifier);
    QApplication::sendEvent(view.get(), &plus);
    EXPECT_TRUE(plus.isAccepted());  // the handler took it
    QKeyEvent left(QEvent::KeyPress, Qt::Key_Left, Qt::NoModifier);
    QApplication::sendEvent(view.get(), &left);
    EXPECT_FALSE(left.isAccepted());  // left for the parent; the view does not scroll by itself
    QKeyEvent repeated(QEvent::KeyRelease, Qt::Key_Left, Qt::NoModifier, QString(), true);
    QApplication::sendEvent(view.get(), &repeated);
    QKeyEvent released(QEvent::KeyRelease, Qt::Key_Left, Qt::NoModifier);
    QApplication::sendEvent(view.get(), &released);
    QKeyEvent unknown(QEvent::KeyPress, Qt::Key_Eacute, Qt::NoModifier);
    QApplication::sendEvent(view.get(), &unknown);
    EXPECT_EQ(view->Log, (std::vector<std::string>{"keydown 187 4", "keydown 37 0", "keyup 37"}));

    QKeyEvent claimO(QEvent::ShortcutOverride, Qt::Key_O, Qt::NoModifier);
    claimO.ignore();
    QApplication::sendEvent(view.get(), &claimO);
    EXPECT_TRUE(claimO.isAccepted());
    QKeyEvent otherKey(QEvent::ShortcutOverride, Qt::Key_P, Qt::NoModifier);
    otherKey.ignore();
    QApplication::sendEvent(view.get(), &otherKey);
    EXPECT_FALSE(otherKey.isAccepted());

    view->Log.clear();
    auto wheel = [&](QPoint angle) {
        QWheelEvent e(QPointF(30, 40), client->mapToGlobal(QPointF(30, 40)), QPoint(), angle, Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(client, &e);
    };
    wheel(QPoint(0, 120));
    wheel(QPoint(0, -120));
    wheel(QPoint(120, 0));  // horizontal only: no step
    EXPECT_EQ(view->Log, (std::vector<std::string>{"wheel 1 30,40", "wheel -1 30,40"}));
    // A touchpad gesture of 300 units in small events makes two notches, not
    // twenty steps; one event of two and a half notches makes two steps.
    view->Log.clear();
    for (int i = 0; i < 20; ++i) wheel(QPoint(0, 15));
    EXPECT_EQ(view->Log, (std::vector<std::string>{"wheel 1 30,40", "wheel 1 30,40"}));
    view->Log.clear();
    wheel(QPoint(0, -300));
    EXPECT_EQ(view->Log, (std::vector<std::string>{"wheel -1 30,40", "wheel -1 30,40"}));

    // A wheel the view leaves alone scrolls it.
    view->HandleWheel = false;
    std::unique_ptr<TQelViewObject> tall = QelCreateViewObject<TQelViewObject>();
    tall->Bounds = TQelRect(0, 0, 100, 2000);
    view->Objects.Add(std::move(tall));
    view->UpdateView();
    wheel(QPoint(0, -120));
    EXPECT_LT(view->MapMode().DeviceOrigin.Y, 0);
    EXPECT_EQ(view->verticalScrollBar()->value(), -view->MapMode().DeviceOrigin.Y);

    QEvent enter(QEvent::Enter), leave(QEvent::Leave);
    QApplication::sendEvent(client, &enter);
    QApplication::sendEvent(client, &leave);
    EXPECT_EQ(view->Log.back(), "leave");
    EXPECT_EQ(view->Log[view->Log.size() - 2], "enter");
}

}  // namespace
