#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QScreen>
#include <QStatusBar>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTemporaryDir>

#include "QelCursors.h"
#include "QelForms.h"
#include "QelGraphicsEditor.h"
#include "QelLocalizer.h"
#include "QelMainForm.h"
#include "QelScrollTool.h"
#include "ScriptedMessageBoxes.h"
#include "ToolTestSupport.h"
#include "X11Session.h"

namespace {

// The real editor (which makes the hand tool) with a brush tool above it and
// a picture open in its view.
class TScrollToolTest : public ::testing::Test {
protected:
    void SetUp() override {
        App.CreateModule(Editor);
        Brush = App.CreateComponent<TTestBrushTool>();
        App.ForEachComponent<TQelScrollTool>([this](TQelScrollTool* tool) {
            Hand = tool;
            return true;
        });
        MainForm->setGeometry(100, 100, 700, 500);
        MainForm->show();
        QApplication::processEvents();
    }
    void TearDown() override { App.DestroyComponents(); }

    void Open(int w, int h) {
        QImage image(w, h, QImage::Format_RGB888);
        image.fill(QColor(10, 20, 30));
        const QString name = Folder.filePath(QStringLiteral("p%1x%2.png").arg(w).arg(h));
        ASSERT_TRUE(image.save(name));
        TQelDocument* document = nullptr;
        ASSERT_TRUE(Editor->OpenDocument(name, document, false));
        View = Editor->GetActiveView();
        ASSERT_NE(View, nullptr);
        View->resize(400, 300);
        QApplication::processEvents();
        View->ActualSize();
        Editor->SetActiveTool(Brush);
    }
    void Key(QEvent::Type type, int key, bool repeat = false) { SendKey(View, type, key, repeat); }
    void Mouse(QEvent::Type type, QPoint pos, Qt::MouseButton button, Qt::MouseButtons buttons) {
        SendMouse(View->viewport(), type, pos, button, buttons);
    }
    void Drag(QPoint from, QPoint to, Qt::MouseButton button = Qt::LeftButton) {
        Mouse(QEvent::MouseMove, from, Qt::NoButton, Qt::NoButton);
        Mouse(QEvent::MouseButtonPress, from, button, button);
        Mouse(QEvent::MouseMove, to, Qt::NoButton, button);
        Mouse(QEvent::MouseButtonRelease, to, button, Qt::NoButton);
    }
    TQelPoint Origin() const { return View->MapMode().DeviceOrigin; }

    QTemporaryDir Folder;
    TScriptedMessageBoxes Scripted;
    TQelLocalizer Localizer{QStringLiteral(VISARA_SOURCE_DIR "/data/Languages"), 1033};
    TQelApplication App;
    TQelGraphicsEditor* Editor = nullptr;
    TTestBrushTool* Brush = nullptr;
    TQelScrollTool* Hand = nullptr;
    TQelGraphicsView* View = nullptr;
};

}  // namespace

TEST_F(TScrollToolTest, SpaceHeldMakesTheHandCurrentAndALeftDragScrollsWithinRange) {
    ASSERT_NE(Hand, nullptr);
    EXPECT_TRUE(Hand->Name.isEmpty());
    Open(1000, 800);
    // The image's top-left corner in the view's.
    View->CenterOn(TQelPoint{0, 0});
    ASSERT_EQ(Origin(), (TQelPoint{0, 0}));
    Key(QEvent::KeyPress, Qt::Key_Space);
    EXPECT_EQ(Editor->ActiveTool, Hand);
    // The held key repeats; its repeated releases never reach the tools.
    Key(QEvent::KeyRelease, Qt::Key_Space, true);
    Key(QEvent::KeyPress, Qt::Key_Space, true);
    EXPECT_EQ(Editor->ActiveTool, Hand);
    Mouse(QEvent::MouseMove, QPoint(200, 150), Qt::NoButton, Qt::NoButton);
    EXPECT_EQ(View->viewport()->cursor().shape(), Qt::OpenHandCursor);
    EXPECT_EQ(TQelCursorRegistry::Instance().Cursor(TQelScrollToolControl::HandCursor).shape(), Qt::OpenHandCursor);

    // At the top-left edge the content cannot follow to the right.
    Drag(QPoint(100, 100), QPoint(150, 130));
    EXPECT_EQ(Origin(), (TQelPoint{0, 0}));
    // The right button starts no drag.
    Drag(QPoint(300, 200), QPoint(100, 100), Qt::RightButton);
    EXPECT_EQ(Origin(), (TQelPoint{0, 0}));
    Drag(QPoint(300, 200), QPoint(250, 170));
    EXPECT_EQ(Origin(), (TQelPoint{-50, -30}));
    // Far past the edge: it stops where the image's far edge meets the view's.
    Drag(QPoint(390, 290), QPoint(-5000, -5000));
    const QSize client = View->viewport()->size();
    EXPECT_EQ(Origin(), (TQelPoint{client.width() - 1000, client.height() - 800}));

    Key(QEvent::KeyRelease, Qt::Key_Space);
    EXPECT_EQ(Editor->ActiveTool, Brush);
    // The brush's turn again: a drag paints instead of scrolling.
    const TQelPoint before = Origin();
    Drag(QPoint(100, 100), QPoint(200, 100));
    EXPECT_EQ(Origin(), before);
    EXPECT_EQ(Editor->GetActiveDocument()->History.Count(), 1);
}

TEST_F(TScrollToolTest, AnImageSmallerThanTheViewNeverMoves) {
    Open(200, 100);
    const TQelPoint centred = Origin();
    Key(QEvent::KeyPress, Qt::Key_Space);
    Drag(QPoint(200, 150), QPoint(260, 190));
    Drag(QPoint(200, 150), QPoint(10, 10));
    EXPECT_EQ(Origin(), centred);
    Key(QEvent::KeyRelease, Qt::Key_Space);
}

TEST_F(TScrollToolTest, EqualsAndMinusZoomWhateverToolIsCurrent) {
    Open(400, 300);
    ASSERT_EQ(View->CompareScale(1, 1), 0);
    Key(QEvent::KeyPress, Qt::Key_Equal);
    EXPECT_EQ(View->CompareScale(3, 2), 0);
    View->ActualSize();
    Key(QEvent::KeyPress, Qt::Key_Minus);
    EXPECT_EQ(View->CompareScale(3, 4), 0);
    // The brush still takes its own keys.
    Key(QEvent::KeyPress, Qt::Key_Up);
    EXPECT_EQ(Brush->Size, 11);
    EXPECT_EQ(Editor->ActiveTool, Brush);
}

// With the server's auto-repeat a held key arrives as release/press pairs Qt flags as repeats only when seen at once.
class SpaceDragX11 : public TScrollToolTest {};

TEST_F(SpaceDragX11, AHeldSpaceDragsAcrossItsRepeatsAndAWindowActivatedOverThePictureGivesItTheKeys) {
    using namespace X11Session;
    X11_SESSION_REQUIRED();
    ASSERT_TRUE(WaitForWindow(MainForm, true));
    // A photo far larger than the view, at actual size, centred; over the
    // picture the view takes the keys.
    Open(3000, 2000);
    View->CenterOn(TQelPoint{1500, 1000});
    const QPoint from = CenterOf(View->viewport());
    MovePointer(from);
    ASSERT_TRUE(WaitUntil([this] { return View->hasFocus(); }));

    // The key repeats (quickly, as UnderX11.sh sets it) a while before the drag
    // begins, and between its steps, while the program takes its events as they come.
    int seen = KeyPressesSeen(Qt::Key_Space);
    X11Session::Key("space", KeyMove::Down);
    ASSERT_TRUE(WaitUntil([&] { return Editor->ActiveTool == Hand && KeyPressesSeen(Qt::Key_Space) >= seen + 10; }));
    const TQelPoint start = Origin(), moved{start.X - 150, start.Y - 150};
    QList<QPoint> path;
    for (int i = 0; i <= 30; ++i) path.append(from - QPoint(5, 5) * i);
    seen = KeyPressesSeen(Qt::Key_Space);
    X11Session::Drag(path, [&] {
        EXPECT_TRUE(WaitUntil([&] { return KeyPressesSeen(Qt::Key_Space) >= seen + 3; }, 5000, true));
        seen = KeyPressesSeen(Qt::Key_Space);
    });
    ASSERT_TRUE(WaitUntil([&] { return Origin().X <= moved.X; }, 2000));
    EXPECT_EQ(Origin(), moved);
    EXPECT_EQ(Editor->ActiveTool, Hand);
    X11Session::Key("space", KeyMove::Up);
    EXPECT_TRUE(WaitUntil([&] { return Editor->ActiveTool == Brush; }));

    // Another field of the window has the keys and the pointer leaves; a
    // dialog takes over, and the pointer comes to rest over the picture
    // beside it. As the window comes back, the picture takes the keys.
    auto* field = new QLineEdit(MainForm);
    MainForm->statusBar()->addWidget(field);
    field->setFocus();
    ASSERT_TRUE(WaitUntil([&] { return field->hasFocus(); }));
    MovePointer(MainForm->screen()->geometry().bottomRight() - QPoint(2, 2));
    QDialog dialog(MainForm);
    dialog.resize(120, 60);
    dialog.show();
    ASSERT_TRUE(WaitForWindow(&dialog, true));
    const QPoint rest = View->viewport()->mapToGlobal(QPoint(20, 20));
    ASSERT_FALSE(dialog.frameGeometry().adjusted(-4, -4, 4, 4).contains(rest));
    MovePointer(rest);
    MovePointer(rest + QPoint(3, 3));
    X11Session::Key("Escape");
    ASSERT_TRUE(WaitForWindow(MainForm, true));
    EXPECT_TRUE(WaitUntil([&] { return View->hasFocus(); }));
    X11Session::Key("space", KeyMove::Down);
    EXPECT_TRUE(WaitUntil([&] { return Editor->ActiveTool == Hand; }));
    X11Session::Key("space", KeyMove::Up);
    EXPECT_TRUE(WaitUntil([&] { return Editor->ActiveTool == Brush; }));
}
