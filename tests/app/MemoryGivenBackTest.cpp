// The program's large buffers over a photo's life (opened, turned, stroked
// with a make-up tool and the wand, closed) are given back once it closes.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>

#include "Model.h"
#include "QelDemonstration.h"
#include "QelForms.h"
#include "QelGraphicsEditor.h"
#include "QelImperfectionWandTool.h"
#include "QelLargeMemory.h"
#include "QelLocalizer.h"
#include "QelToolPanel.h"
#include "ScriptedMessageBoxes.h"
#include "Spectrum.h"

namespace {

class MemoryGivenBackTest : public ::testing::Test {
protected:
    void SetUp() override {
        qputenv("VISARA_PROGRAM_DIR", VISARA_SOURCE_DIR "/data");
        // The changed photo is closed without saving.
        Boxes.Answers = {IDNO};
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
        qunsetenv("VISARA_PROGRAM_DIR");
    }

    // A stroke through the image points, as the mouse makes it on the view.
    void Stroke(std::initializer_list<TQelPoint> Points) {
        TQelGraphicsView* view = GraphicsEditor->GetActiveView();
        ASSERT_NE(view, nullptr);
        auto at = [view](const TQelPoint& p) {
            const TQelPoint d = view->MapMode().LogicalToDevice(p);
            return QPoint(d.X, d.Y);
        };
        QTest::mousePress(view->viewport(), Qt::LeftButton, {}, at(*Points.begin()));
        for (const TQelPoint& p : Points) QTest::mouseMove(view->viewport(), at(p));
        QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, at(*(Points.end() - 1)));
        QApplication::processEvents();
    }

    TQelLocalizer Localizer{QStringLiteral(VISARA_SOURCE_DIR "/data/Languages"), 1033};
    TQelApplication App;
    TScriptedMessageBoxes Boxes;
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
    App.DoIdle();
    for (QAction* action : GraphicsEditor->StandardToolbar->actions())
        if (action->objectName() == QLatin1String("RotateRightToolButton"))
            QTest::mouseClick(GraphicsEditor->StandardToolbar->widgetForAction(action), Qt::LeftButton);
    ASSERT_EQ(document->Image.GetWidth(), 4000);
    const size_t turned = QelLargeMemoryHeld();
    App.DoIdle();
    EXPECT_LE(QelLargeMemoryHeld() + imageBytes, turned);

    // The lipstick is current: its stroke builds the detail layer; the
    // wand's stroke its cache.
    Stroke({{2000, 3000}, {2040, 3010}, {2080, 3020}});
    ASSERT_FALSE(Spectrum.Layer.IsEmpty());
    App.ForEachComponent<TQelImperfectionWandTool>([&](TQelImperfectionWandTool* wand) {
        QTest::mouseClick(ToolPanelModule->Toolbar->WidgetForAction(wand->Button), Qt::LeftButton);
    });
    ASSERT_NE(dynamic_cast<TQelImperfectionWandTool*>(GraphicsEditor->ActiveTool.data()), nullptr);
    Stroke({{1000, 1000}, {1030, 1000}, {1060, 1010}});
    ASSERT_EQ(document->History.Count(), 3);
    EXPECT_GT(QelLargeMemoryHeld(), before + 3 * imageBytes);

    App.DoIdle();
    GraphicsEditor->CloseMenuItem->trigger();
    QApplication::processEvents();
    ASSERT_EQ(GraphicsEditor->GetActiveDocument(), nullptr);
    EXPECT_LE(QelLargeMemoryHeld(), before + (size_t(4) << 20)) << QelLargeMemoryHeld() - before;
    EXPECT_TRUE(Spectrum.Layer.IsEmpty());
}
