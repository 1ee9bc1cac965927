// The whole program's large buffers over a photo's life: opened, turned,
// stroked with a make-up tool and the wand, closed. What the photo took is
// given back once it is closed.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>

#include "../editor/ToolTestSupport.h"
#include "Model.h"
#include "QelDemonstration.h"
#include "QelForms.h"
#include "QelGraphicsEditor.h"
#include "QelImperfectionWandTool.h"
#include "QelLargeMemory.h"
#include "QelLocalizer.h"
#include "QelMessageBox.h"
#include "QelToolPanel.h"
#include "Spectrum.h"

namespace {

constexpr size_t MiB = size_t(1) << 20;

class MemoryGivenBackTest : public ::testing::Test {
protected:
    void SetUp() override {
        qputenv("VISARA_PROGRAM_DIR", VISARA_SOURCE_DIR "/data");
        // The changed photo is closed without saving.
        Previous = QelSetMessageBoxHook([](const QString&, const QString&, uint32_t flags) {
            return (flags & MB_TYPEMASK) == MB_YESNOCANCEL ? IDNO : IDOK;
        });
        App.SetTitle(QStringLiteral("Visara"));
        Module = App.CreateComponent<TModule>();
        DemoModule->ShowAtStartup = false;
        App.ForEachComponent<IQelModuleState>([](IQelModuleState* state) { state->Initialize(); });
        MainForm->setGeometry(50, 50, 900, 700);
        MainForm->show();
        QApplication::processEvents();
    }
    void TearDown() override {
        App.DestroyComponents();
        QelSetMessageBoxHook(Previous);
        qunsetenv("VISARA_PROGRAM_DIR");
    }

    static void ClickWidget(QWidget* Widget) {
        ASSERT_NE(Widget, nullptr);
        QTest::mouseClick(Widget, Qt::LeftButton);
        QApplication::processEvents();
    }
    // A stroke through the image points, as the mouse makes it on the view.
    void Stroke(std::initializer_list<TQelPoint> Points) {
        TQelGraphicsView* view = GraphicsEditor->GetActiveView();
        ASSERT_NE(view, nullptr);
        auto at = [view](const TQelPoint& p) {
            const TQelPoint d = view->MapMode().LogicalToDevice(p);
            return QPoint(d.X, d.Y);
        };
        QWidget* client = view->viewport();
        SendMouse(client, QEvent::MouseMove, at(*Points.begin()), Qt::NoButton, Qt::NoButton);
        SendMouse(client, QEvent::MouseButtonPress, at(*Points.begin()), Qt::LeftButton, Qt::LeftButton);
        for (const TQelPoint& p : Points) SendMouse(client, QEvent::MouseMove, at(p), Qt::NoButton, Qt::LeftButton);
        SendMouse(client, QEvent::MouseButtonRelease, at(*(Points.end() - 1)), Qt::LeftButton, Qt::NoButton);
        QApplication::processEvents();
    }

    TQelLocalizer Localizer{QStringLiteral(VISARA_SOURCE_DIR "/data/Languages"), 1033};
    TQelApplication App;
    TQelMessageBoxHook Previous;
    QTemporaryDir Folder;
};

}  // namespace

TEST_F(MemoryGivenBackTest, AClosedPhotoLeavesAtMostAFewMiBHeld) {
    const QString name = Folder.filePath(QStringLiteral("Portrait.jpg"));
    QImage photo(6000, 4000, QImage::Format_RGB888);
    photo.fill(QColor(200, 150, 120));
    ASSERT_TRUE(photo.save(name, "JPG", 90));
    photo = QImage();
    App.DoIdle();
    const size_t before = QelLargeMemoryHeld();

    TQelDocument* opened = nullptr;
    ASSERT_TRUE(GraphicsEditor->OpenDocument(name, opened, false));
    QApplication::processEvents();
    TQelGraphicsDocument* document = GraphicsEditor->GetActiveDocument();
    ASSERT_NE(document, nullptr);
    const size_t imageBytes = size_t(document->GetPixels()->Stride) * size_t(document->GetPixels()->Height);

    // The turn's old rows are kept for another turn only until idle time.
    QAction* turn = nullptr;
    for (QAction* action : GraphicsEditor->StandardToolbar->actions())
        if (action->objectName() == QLatin1String("RotateRightToolButton")) turn = action;
    ASSERT_NE(turn, nullptr);
    App.DoIdle();
    ClickWidget(GraphicsEditor->StandardToolbar->widgetForAction(turn));
    ASSERT_EQ(document->Image.GetWidth(), 4000);
    const size_t turned = QelLargeMemoryHeld();
    App.DoIdle();
    EXPECT_LE(QelLargeMemoryHeld() + imageBytes, turned);

    // The lipstick is current: its stroke builds the detail layer.
    Stroke({{2000, 3000}, {2040, 3010}, {2080, 3020}});
    ASSERT_FALSE(Spectrum.Layer.IsEmpty());
    TQelImperfectionWandTool* wand = nullptr;
    App.ForEachComponent<TQelImperfectionWandTool>([&](TQelImperfectionWandTool* tool) { wand = tool; });
    ASSERT_NE(wand, nullptr);
    ClickWidget(ToolPanelModule->Toolbar->WidgetForAction(wand->Button));
    ASSERT_EQ(GraphicsEditor->ActiveTool.data(), wand);
    Stroke({{1000, 1000}, {1030, 1000}, {1060, 1010}});
    ASSERT_EQ(document->History.Count(), 3);
    EXPECT_GT(QelLargeMemoryHeld(), before + 3 * imageBytes);

    App.DoIdle();
    GraphicsEditor->CloseMenuItem->trigger();
    QApplication::processEvents();
    ASSERT_EQ(GraphicsEditor->GetActiveDocument(), nullptr);
    EXPECT_LE(QelLargeMemoryHeld(), before + 4 * MiB)
        << (QelLargeMemoryHeld() - before) / MiB << " MiB held after the close";
    EXPECT_TRUE(Spectrum.Layer.IsEmpty());
}
