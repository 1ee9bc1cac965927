#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "QelCursors.h"
#include "QelDemoHooks.h"
#include "QelDemoPlayback.h"
#include "QelForms.h"
#include "GraphicsTestSupport.h"
#include "QelGraphicsEditor.h"

namespace {

// Logs what reaches it and answers as told.
class TLogControl : public TQelGraphicsToolControl {
public:
    TLogControl(std::string name, std::vector<std::string>& log) : Name(std::move(name)), Log(log) {}
    void Reset() override { Flags = QelViewOverlay | QelViewNoExtent; }
    bool GetCursor(TShiftState, const TQelPoint& p, int16_t& id) override {
        if (CursorId == 0 || p.X >= 100) return false;
        id = CursorId;
        return true;
    }
    void MouseEnter() override { Log.push_back(Name + " enter"); }
    void MouseLeave() override { Log.push_back(Name + " leave"); }
    bool MouseDown(TMouseButton b, TShiftState, const TQelPoint& p) override {
        return Note("down " + std::to_string(b) + " " + At(p));
    }
    bool MouseMove(TShiftState, const TQelPoint& p) override { return Note("move " + At(p)); }
    bool MouseUp(TMouseButton b, TShiftState, const TQelPoint& p) override {
        return Note("up " + std::to_string(b) + " " + At(p));
    }
    bool MouseWheel(TShiftState, int32_t delta, const TQelPoint&) override {
        return Note("wheel " + std::to_string(delta));
    }
    bool KeyDown(uint16_t& key, TShiftState) override { return Note("key " + std::to_string(key)); }
    void PaintOverlay(TQelViewCanvas&) override {
        if (OnPaint) OnPaint();
    }

    bool Note(const std::string& text) {
        Log.push_back(Name + " " + text);
        return Handles;
    }
    static std::string At(const TQelPoint& p) { return std::to_string(p.X) + "," + std::to_string(p.Y); }

    std::string Name;
    std::vector<std::string>& Log;
    bool Handles = false;
    int16_t CursorId = 0;
    std::function<void()> OnPaint;
};

// A document with a generated image, shown in a view of the given size.
class TGraphicsViewTest : public ::testing::Test {
protected:
    void Open(int32_t w, int32_t h, int vw = 800, int vh = 600, bool show = true) {
        Document = std::make_unique<TQelGraphicsDocument>(&Editor);
        if (w > 0 && h > 0) FillPattern(Document->Image, w, h, 200);
        Document->SyncBackup();
        View = qobject_cast<TQelGraphicsView*>(Document->GetView());
        ASSERT_NE(View, nullptr);
        View->setParent(&Host);
        View->setGeometry(0, 0, vw, vh);
        View->show();
        View->DocumentObject->UpdateBounds();
        View->DocumentObject->SetVisible(true);
        Host.resize(1000, 800);
        if (show) {
            Host.show();
            QApplication::processEvents();
        }
    }
    TLogControl* AddControl(const std::string& name) {
        auto control = QelCreateViewObject<TLogControl>(name, Log);
        TLogControl* raw = control.get();
        View->Objects.Add(std::move(control));
        return raw;
    }
    void TearDown() override {
        Document.reset();
    }

    TQelPoint Scale() const { return TQelPoint{View->MapMode().DeviceExtent.X, View->MapMode().LogicalExtent.X}; }
    TQelPoint ClientCentre() const {
        return TQelPoint{View->viewport()->width() / 2, View->viewport()->height() / 2};
    }
    void Mouse(QEvent::Type type, QPoint pos, Qt::MouseButton button, Qt::MouseButtons buttons) {
        QWidget* client = View->viewport();
        QMouseEvent e(type, QPointF(pos), client->mapToGlobal(QPointF(pos)), button, buttons, Qt::NoModifier);
        QApplication::sendEvent(client, &e);
    }
    bool Wheel(QPoint angle) {
        QWidget* client = View->viewport();
        QWheelEvent e(QPointF(30, 40), client->mapToGlobal(QPointF(30, 40)), QPoint(), angle, Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(client, &e);
        return e.isAccepted();
    }

    QWidget Host;
    TGraphicsStatusEditor Editor;
    std::unique_ptr<TQelGraphicsDocument> Document;
    TQelGraphicsView* View = nullptr;
    std::vector<std::string> Log;
};

int32_t FloorDiv(int64_t a, int64_t b) { return int32_t(a >= 0 ? a / b : -((-a + b - 1) / b)); }

}  // namespace

TEST_F(TGraphicsViewTest, ZoomWalksTheStepsBothWays) {
    Open(4000, 3000);
    EXPECT_EQ(Scale(), (TQelPoint{1, 1}));
    View->ZoomIn();
    EXPECT_EQ(Scale(), (TQelPoint{3, 2}));
    View->ActualSize();
    View->ZoomOut();
    EXPECT_EQ(Scale(), (TQelPoint{3, 4}));

    View->Zoom(1, 16);
    for (int32_t i = 1; i < QelZoomStepCount; ++i) {
        View->ZoomIn();
        EXPECT_EQ(Scale(), (TQelPoint{QelZoomSteps[i].Numerator, QelZoomSteps[i].Denominator})) << i;
    }
    View->ZoomIn();
    EXPECT_EQ(Scale(), (TQelPoint{16, 1}));
    for (int32_t i = QelZoomStepCount - 2; i >= 0; --i) {
        View->ZoomOut();
        EXPECT_EQ(Scale(), (TQelPoint{QelZoomSteps[i].Numerator, QelZoomSteps[i].Denominator})) << i;
    }
    View->ZoomOut();
    EXPECT_EQ(Scale(), (TQelPoint{1, 16}));

    // An in-between scale goes to its neighbours, compared in thousandths.
    View->Zoom(600, 1024);
    EXPECT_EQ(View->CompareScale(1, 2), -1);
    EXPECT_EQ(View->CompareScale(3, 4), 1);
    EXPECT_EQ(View->CompareScale(586, 1000), 0);
    View->ZoomIn();
    EXPECT_EQ(Scale(), (TQelPoint{3, 4}));
    View->Zoom(600, 1024);
    View->ZoomOut();
    EXPECT_EQ(Scale(), (TQelPoint{1, 2}));
}

TEST_F(TGraphicsViewTest, FitViewAndBestFitOnLargeAndTinyImages) {
    Open(2000, 1000);
    View->FitView();
    EXPECT_EQ(Scale(), (TQelPoint{800, 2000}));
    EXPECT_EQ(View->horizontalScrollBar()->maximum(), 0);

    Open(400, 300);
    View->Zoom(3, 1);
    View->FitView();
    EXPECT_EQ(Scale(), (TQelPoint{1, 1}));
    EXPECT_EQ(View->MapMode().DeviceOrigin, (TQelPoint{200, 150}));
    EXPECT_EQ(View->horizontalScrollBar()->maximum(), 0);
    EXPECT_EQ(View->verticalScrollBar()->maximum(), 0);
    // Best fit enlarges; the taller ratio decides.
    View->BestFit();
    EXPECT_EQ(Scale(), (TQelPoint{600, 300}));

    Open(1, 1);
    View->FitView();
    EXPECT_EQ(Scale(), (TQelPoint{1, 1}));
    View->BestFit();
    EXPECT_EQ(Scale(), (TQelPoint{600, 1}));

    // A 24-megapixel photo: fitted, and a paint of the whole view reads only
    // the pixels it shows.
    Open(6000, 4000);
    View->FitView();
    EXPECT_EQ(Scale(), (TQelPoint{800, 6000}));
    const QImage shown = View->viewport()->grab().toImage();
    const TQelPoint o = View->MapMode().DeviceOrigin;
    EXPECT_EQ(o, (TQelPoint{0, 33}));
    // Device (10, 53) shows about image (75, 150) at 2/15; above the image
    // lies the background.
    const QColor c = shown.pixelColor(10, o.Y + 20);
    EXPECT_NEAR(c.blue(), 75, 8);
    EXPECT_NEAR(c.green(), 150, 8);
    EXPECT_EQ(c.red(), 200);
    EXPECT_EQ(shown.pixelColor(10, 5), QColor(0x40, 0x40, 0x40));
}

TEST_F(TGraphicsViewTest, ZoomKeepsTheImagePointAtTheCentre) {
    Open(4000, 3000);
    View->CenterOn(TQelPoint{1000, 700});
    EXPECT_EQ(View->MapMode().DeviceToLogical(ClientCentre()), (TQelPoint{1000, 700}));
    for (auto [n, d] : {std::pair{2, 1}, {3, 2}, {1, 2}, {3, 4}, {7, 1}}) {
        View->Zoom(n, d);
        const TQelPoint c = View->MapMode().DeviceToLogical(ClientCentre());
        EXPECT_NEAR(c.X, 1000, 1) << n << "/" << d;
        EXPECT_NEAR(c.Y, 700, 1) << n << "/" << d;
    }
    // Far out the whole image fits and is centred instead.
    View->Zoom(1, 16);
    EXPECT_EQ(View->MapMode().DeviceOrigin.X, (View->width() - 250) / 2);
}

TEST_F(TGraphicsViewTest, MappingFollowsTheFloorRuleAtEveryStep) {
    Open(5000, 5000);
    View->CenterOn(TQelPoint{1237, 911});
    for (const TQelZoomStep& step : QelZoomSteps) {
        View->Zoom(step.Numerator, step.Denominator);
        const TQelMapMode& m = View->MapMode();
        ASSERT_GT(m.DeviceExtent.X, 0);
        ASSERT_GT(m.LogicalExtent.X, 0);
        for (int32_t v = -40; v <= 40; ++v) {
            const TQelPoint image{v * 7 + 3, -v * 5};
            const TQelPoint device = m.LogicalToDevice(image);
            EXPECT_EQ(device.X, FloorDiv(int64_t(image.X - m.LogicalOrigin.X) * m.DeviceExtent.X,
                                         m.LogicalExtent.X) + m.DeviceOrigin.X);
            EXPECT_EQ(device.Y, FloorDiv(int64_t(image.Y - m.LogicalOrigin.Y) * m.DeviceExtent.Y,
                                         m.LogicalExtent.Y) + m.DeviceOrigin.Y);
            if (step.Denominator == 1) {
                EXPECT_EQ(m.DeviceToLogical(device), image);
            }
            const TQelPoint client{v * 3, 17 - v};
            if (step.Numerator == 1) {
                EXPECT_EQ(m.LogicalToDevice(m.DeviceToLogical(client)), client);
            }
        }
    }
}

TEST_F(TGraphicsViewTest, ZeroSizesNeverReachTheScale) {
    // An empty image: nothing to fit; bad zooms are ignored.
    Open(0, 0);
    View->FitView();
    View->BestFit();
    View->Zoom(0, 5);
    View->Zoom(5, 0);
    View->Zoom(-2, 1);
    EXPECT_EQ(Scale(), (TQelPoint{1, 1}));
    Mouse(QEvent::MouseMove, QPoint(10, 10), Qt::NoButton, Qt::NoButton);  // no pixel to look up

    // A view without a size: the fit waits for the first real size.
    Open(2000, 1000, 0, 0);
    View->FitView();
    EXPECT_EQ(Scale(), (TQelPoint{1, 1}));
    View->resize(800, 600);
    EXPECT_EQ(Scale(), (TQelPoint{800, 2000}));
    // Only a skipped fit runs again.
    View->ActualSize();
    View->resize(0, 0);
    View->resize(700, 500);
    EXPECT_EQ(Scale(), (TQelPoint{1, 1}));
    // A zoom made while waiting cancels the wait.
    View->resize(0, 0);
    View->BestFit();
    View->Zoom(2, 1);
    View->resize(800, 600);
    EXPECT_EQ(Scale(), (TQelPoint{2, 1}));
}

TEST_F(TGraphicsViewTest, HiddenWindowFitsWithItsRealSize) {
    QWidget window;
    window.resize(800, 600);
    auto* layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    Document = std::make_unique<TQelGraphicsDocument>(&Editor);
    FillPattern(Document->Image, 2000, 1000, 200);
    View = qobject_cast<TQelGraphicsView*>(Document->GetView());
    layout->addWidget(View);
    View->DocumentObject->SetVisible(true);
    View->FitView();
    EXPECT_GT(Scale().X, 0);
    EXPECT_GT(Scale().Y, 0);
    window.show();
    QApplication::processEvents();
    EXPECT_EQ(View->size(), QSize(800, 600));
    EXPECT_EQ(Scale(), (TQelPoint{800, 2000}));
    Document.reset();  // the view leaves the window with its document
    EXPECT_EQ(layout->count(), 0);
}

TEST_F(TGraphicsViewTest, InputGoesToTheTopmostControlFirst) {
    Open(400, 300);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(View->viewport(), &leave);  // wherever the pointer was
    TLogControl* lower = AddControl("lower");
    TLogControl* upper = AddControl("upper");
    Mouse(QEvent::MouseMove, QPoint(210, 160), Qt::NoButton, Qt::NoButton);
    Mouse(QEvent::MouseButtonPress, QPoint(210, 160), Qt::LeftButton, Qt::LeftButton);
    upper->Handles = true;
    Mouse(QEvent::MouseButtonRelease, QPoint(211, 161), Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(Log, (std::vector<std::string>{"upper enter", "lower enter", "upper move 210,160",
                                             "lower move 210,160", "upper down 0 210,160", "lower down 0 210,160",
                                             "upper up 0 211,161"}));

    Log.clear();
    QKeyEvent space(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier);
    QApplication::sendEvent(View, &space);
    EXPECT_TRUE(space.isAccepted());
    upper->Handles = false;
    QKeyEvent minus(QEvent::KeyPress, Qt::Key_Minus, Qt::NoModifier);
    QApplication::sendEvent(View, &minus);
    EXPECT_FALSE(minus.isAccepted());  // nobody used it
    QApplication::sendEvent(View->viewport(), &leave);
    QApplication::sendEvent(View->viewport(), &leave);  // told once
    EXPECT_EQ(Log, (std::vector<std::string>{"upper key 32", "upper key 189", "lower key 189", "upper leave",
                                             "lower leave"}));
    EXPECT_FALSE(View->MouseInside);
    (void)lower;
}

TEST_F(TGraphicsViewTest, OneStepPerWheelNotchAndHorizontalWheelsIgnored) {
    Open(400, 3000);
    TLogControl* control = AddControl("c");
    control->Handles = true;
    Wheel(QPoint(0, 120));
    Wheel(QPoint(0, 15));
    Wheel(QPoint(0, -120));
    Wheel(QPoint(120, 0));
    EXPECT_EQ(Log, (std::vector<std::string>{"c wheel 1", "c wheel -1"}));

    // The main window's wheel counts into the same notches as the view's own.
    Log.clear();
    const QPoint screen = View->viewport()->mapToGlobal(QPoint(5, 5));
    EXPECT_TRUE(View->DispatchWheel(0, -3, screen));
    EXPECT_TRUE(Log.empty());
    Wheel(QPoint(0, -117));
    EXPECT_TRUE(View->DispatchWheel(0, 250, screen));
    EXPECT_FALSE(View->DispatchWheel(0, 0, screen));
    EXPECT_EQ(Log, (std::vector<std::string>{"c wheel -1", "c wheel 1", "c wheel 1"}));

    // Unused by the controls, the wheel scrolls the view.
    control->Handles = false;
    const int32_t before = View->MapMode().DeviceOrigin.Y;
    Wheel(QPoint(0, -120));
    EXPECT_LT(View->MapMode().DeviceOrigin.Y, before);
    EXPECT_FALSE(View->DispatchWheel(0, -120, screen));
}

TEST_F(TGraphicsViewTest, PointerPanelsPixelAndCursor) {
    Open(400, 300);
    EXPECT_EQ(View->MapMode().DeviceOrigin, (TQelPoint{200, 150}));
    uint8_t* px = Document->Image.GetPixels()->PixelAddress(7, 8);
    px[0] = 30;
    px[1] = 20;
    px[2] = 10;
    Mouse(QEvent::MouseMove, QPoint(197, 155), Qt::NoButton, Qt::NoButton);
    using P = TQelGraphicsStatusPanel;
    EXPECT_EQ(Editor.Panel(P::X), "-3");
    EXPECT_EQ(Editor.Panel(P::Y), "5");
    EXPECT_EQ(Editor.Panel(P::R) + Editor.Panel(P::G) + Editor.Panel(P::B), "000");
    Mouse(QEvent::MouseMove, QPoint(207, 158), Qt::NoButton, Qt::NoButton);
    EXPECT_EQ(Editor.Panel(P::R), "10");
    EXPECT_EQ(Editor.Panel(P::G), "20");
    EXPECT_EQ(Editor.Panel(P::B), "30");

    Document->SetSelectionRect(TQelRect(0, 0, 50, 60));
    EXPECT_EQ(Editor.Panel(P::W), "400");
    EXPECT_EQ(Editor.Panel(P::H), "300");
    Document->Crop(TQelRect(0, 0, 50, 60));
    EXPECT_EQ(Editor.Panel(P::W), "50");
    EXPECT_EQ(View->DocumentObject->Bounds, TQelRect(0, 0, 50, 60));

    TLogControl* control = AddControl("c");
    control->CursorId = crQelHand;
    Mouse(QEvent::MouseMove, QPoint(50, 50), Qt::NoButton, Qt::NoButton);
    EXPECT_EQ(View->viewport()->cursor().shape(), TQelCursorRegistry::Instance().Cursor(crQelHand).shape());
    Mouse(QEvent::MouseMove, QPoint(300, 50), Qt::NoButton, Qt::NoButton);
    EXPECT_EQ(View->viewport()->cursor().shape(), Qt::ArrowCursor);
}

TEST_F(TGraphicsViewTest, RecordsMouseActionsInImageCoordinates) {
    Open(400, 300);  // image (0, 0) at client (200, 150)
    TQelDemoHooks hooks;
    TQelDemoPlayback recorder;
    std::vector<std::string> lines;
    recorder.OnRecordLine = [&](TQelDemoPlayback*, int, const QByteArray& line) { lines.push_back(line.toStdString()); };
    AddControl("c")->Handles = true;  // recording comes before the controls
    Mouse(QEvent::MouseButtonPress, QPoint(210, 160), Qt::LeftButton, Qt::LeftButton);
    EXPECT_TRUE(lines.empty());  // no recorder yet

    Editor.Recorder = &recorder;
    ASSERT_TRUE(recorder.StartRecording(0));
    Mouse(QEvent::MouseButtonPress, QPoint(210, 160), Qt::LeftButton, Qt::LeftButton);
    Mouse(QEvent::MouseMove, QPoint(215, 160), Qt::NoButton, Qt::LeftButton);
    Mouse(QEvent::MouseMove, QPoint(215, 160), Qt::NoButton, Qt::LeftButton);
    Mouse(QEvent::MouseMove, QPoint(215, 170), Qt::NoButton, Qt::LeftButton);
    Mouse(QEvent::MouseButtonRelease, QPoint(215, 170), Qt::LeftButton, Qt::NoButton);
    Mouse(QEvent::MouseMove, QPoint(230, 170), Qt::NoButton, Qt::NoButton);  // no button: not recorded
    EXPECT_EQ(lines, (std::vector<std::string>{"MouseCurvedMove Image, 10, 10", "Message \"Click\"",
                                               "MouseDown Image, 10, 10", "MouseTo Image, 15, 10",
                                               "MouseTo Image, 15, 20", "MouseUp Image, 15, 20", "Pause 0.5"}));

    lines.clear();
    recorder.ShowMessages = false;
    Mouse(QEvent::MouseButtonPress, QPoint(190, 140), Qt::RightButton, Qt::RightButton);
    Mouse(QEvent::MouseButtonPress, QPoint(191, 140), Qt::LeftButton, Qt::LeftButton | Qt::RightButton);
    Mouse(QEvent::MouseButtonRelease, QPoint(191, 140), Qt::RightButton, Qt::LeftButton);
    Mouse(QEvent::MouseButtonPress, QPoint(191, 140), Qt::MiddleButton, Qt::MiddleButton | Qt::LeftButton);
    EXPECT_EQ(lines, (std::vector<std::string>{"MouseCurvedMove Image, -10, -10", "MouseRightDown Image, -10, -10",
                                               "MouseMove Image, -9, -10", "MouseDown Image, -9, -10",
                                               "MouseRightUp Image, -9, -10", "Pause 0.5",
                                               "MouseCurvedMove Image, -9, -10"}));
    recorder.StopRecording();
    Editor.Recorder = nullptr;
}

TEST_F(TGraphicsViewTest, ClosingDocumentsInAnyOrderWhileViewsPaint) {
    TQelApplication app;
    // A tool that keeps the document it last heard of, until it closes.
    class THoldingTool : public TQelGraphicsTool {
    public:
        void DocumentOpened(TQelGraphicsDocument* d) override { Held = d; }
        void DocumentClosing(TQelGraphicsDocument* d) override {
            if (Held == d) Held = nullptr;
        }
        TQelGraphicsDocument* Held = nullptr;
    } tool;
    app.InsertComponent(&tool);
    Host.resize(1300, 400);
    Host.show();

    for (const std::vector<int>& order : {std::vector<int>{0, 1, 2}, {2, 1, 0}, {1, 2, 0}}) {
        std::vector<TQelGraphicsDocument*> docs;
        std::vector<TQelGraphicsView*> views;
        for (int i = 0; i < 3; ++i) {
            auto doc = std::make_unique<TQelGraphicsDocument>(&Editor);
            FillPattern(doc->Image, 300 + 100 * i, 200, 200);
            doc->SyncBackup();
            auto* view = qobject_cast<TQelGraphicsView*>(doc->GetView());
            view->setParent(&Host);
            view->setGeometry(420 * i, 0, 400, 300);
            view->DocumentObject->SetVisible(true);
            view->show();
            view->FitView();
            doc->AfterOpen();
            doc->BeginModification(&tool);
            docs.push_back(doc.get());
            views.push_back(view);
            Editor.Documents.push_back(std::move(doc));
        }
        QApplication::processEvents();
        // While the first view paints, its control closes the second document.
        TLogControl* closer = nullptr;
        {
            auto control = QelCreateViewObject<TLogControl>("closer", Log);
            closer = control.get();
            views[0]->Objects.Add(std::move(control));
        }
        closer->Flags = QelViewVisible | QelViewOverlay | QelViewPaintable;
        closer->Bounds = TQelRect(0, 0, 300, 200);
        TQelGraphicsDocument* victim = docs[1];
        closer->OnPaint = [&] {
            if (victim) {
                TQelGraphicsDocument* d = victim;
                victim = nullptr;
                EXPECT_TRUE(d->CloseQuery());
            }
        };
        views[0]->viewport()->repaint();
        EXPECT_EQ(victim, nullptr);
        EXPECT_EQ(Editor.GetDocumentCount(), 2);
        docs.erase(docs.begin() + 1);
        views.erase(views.begin() + 1);

        // The rest close with paints pending, in the order given.
        for (TQelGraphicsView* view : views) view->viewport()->update();
        for (int index : order) {
            if (size_t(index) >= docs.size()) continue;
            docs[size_t(index)]->AddModifiedRect(TQelRect(0, 0, 50, 50));
            EXPECT_TRUE(docs[size_t(index)]->CloseQuery());
            docs[size_t(index)] = nullptr;
            QApplication::processEvents();
        }
        for (TQelGraphicsDocument* d : docs) {
            if (d) {
                EXPECT_TRUE(d->CloseQuery());
            }
        }
        QApplication::processEvents();
        EXPECT_EQ(Editor.GetDocumentCount(), 0);
        EXPECT_EQ(tool.Held, nullptr);
    }
}
