// Panning with Space held, on a real X server whose key auto-repeat is on:
// a held key arrives there as pairs of release and press, which Qt flags as
// repeats only when it sees both at once.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QTemporaryDir>

#include "QelGraphicsEditor.h"
#include "QelLocalizer.h"
#include "QelMainForm.h"
#include "QelScrollTool.h"
#include "ScriptedMessageBoxes.h"
#include "ToolTestSupport.h"
#include "X11Session.h"

namespace {

using namespace X11Session;

class SpaceDragX11 : public ::testing::Test {
protected:
    void SetUp() override {
        X11_SESSION_REQUIRED();
        App.CreateModule(Editor);
        Editor->Initialize();
        Brush = App.CreateComponent<TTestBrushTool>();
        App.ForEachComponent<TQelScrollTool>([this](TQelScrollTool* tool) {
            Hand = tool;
            return true;
        });
        ASSERT_NE(Hand, nullptr);
        MainForm->setGeometry(80, 80, 900, 700);
        MainForm->show();
        ASSERT_TRUE(WaitForMapped(MainForm));
        ASSERT_TRUE(WaitForActive(MainForm));
        // A photo far larger than the view, at actual size, centred.
        QImage image(3000, 2000, QImage::Format_RGB888);
        image.fill(QColor(90, 120, 150));
        const QString name = Folder.filePath("large.jpg");
        ASSERT_TRUE(image.save(name));
        TQelDocument* document = nullptr;
        ASSERT_TRUE(Editor->OpenDocument(name, document, false));
        View = Editor->GetActiveView();
        ASSERT_NE(View, nullptr);
        View->ActualSize();
        View->CenterOn(TQelPoint{1500, 1000});
        Editor->SetActiveTool(Brush);
        // Over the picture the view takes the keys.
        MovePointer(CenterOf(View->viewport()));
        ASSERT_TRUE(WaitUntil([this] { return View->hasFocus(); }));
    }
    void TearDown() override { App.DestroyComponents(); }

    TQelPoint Origin() const { return View->MapMode().DeviceOrigin; }

    TScriptedMessageBoxes Scripted;
    TQelLocalizer Localizer{QStringLiteral(VISARA_SOURCE_DIR "/data/Languages"), 1033};
    TQelApplication App;
    TQelGraphicsEditor* Editor = nullptr;
    TTestBrushTool* Brush = nullptr;
    TQelScrollTool* Hand = nullptr;
    TQelGraphicsView* View = nullptr;
    QTemporaryDir Folder;
};

}  // namespace

TEST_F(SpaceDragX11, AHeldSpaceDragsThePictureAcrossItsRepeatsAndItsReleaseGivesTheToolBack) {
    // Quick repeats: many release and press pairs within the test.
    SetKeyRepeat(40, 15);
    const int before = KeyPressesSeen(Qt::Key_Space);
    KeyDown("space");
    ASSERT_TRUE(WaitUntil([&] { return Editor->ActiveTool == Hand; }));
    // The key has repeated a while before the drag begins, and keeps
    // repeating between its steps.
    ASSERT_TRUE(WaitUntil([&] { return KeyPressesSeen(Qt::Key_Space) >= before + 10; }));
    const TQelPoint start = Origin();
    const QPoint from = CenterOf(View->viewport());
    int seen = KeyPressesSeen(Qt::Key_Space);
    Drag(from, from - QPoint(150, 150), 30, [&] {
        EXPECT_TRUE(WaitUntil([&] { return KeyPressesSeen(Qt::Key_Space) >= seen + 3; }));
        seen = KeyPressesSeen(Qt::Key_Space);
    });
    ASSERT_TRUE(WaitUntil([&] { return Origin().X <= start.X - 150; }, 2000))
        << "the picture moved " << start.X - Origin().X << " px";
    EXPECT_EQ(Origin(), (TQelPoint{start.X - 150, start.Y - 150}));
    EXPECT_EQ(Editor->ActiveTool, Hand);
    EXPECT_EQ(Editor->GetActiveDocument()->History.Count(), 0);

    KeyUp("space");
    EXPECT_TRUE(WaitUntil([&] { return Editor->ActiveTool == Brush; }));
    EXPECT_EQ(Origin(), (TQelPoint{start.X - 150, start.Y - 150}));
}
