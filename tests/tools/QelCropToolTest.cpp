#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QToolButton>

#include "AdjustToolFixture.h"
#include "SettingsBytes.h"
#include "QelCropTool.h"
#include "QelCursors.h"
#include "QelImageCodec.h"
#include "QelResizeTool.h"

namespace {

class CropToolTest : public TAdjustToolTest {
protected:
    void SetUp() override {
        TAdjustToolTest::SetUp();
        AddTool(CropTool);
        Editor->SetActiveTool(CropTool);
    }
    TQelCropToolControl* Control() const { return CropTool->CropControl(); }
    void Down(int32_t x, int32_t y) { Control()->MouseDown(mbLeft, 0, At(x, y)); }
    void Move(int32_t x, int32_t y) { Control()->MouseMove(0, At(x, y)); }
    void Up(int32_t x, int32_t y) { Control()->MouseUp(mbLeft, 0, At(x, y)); }
    // Drags a new rectangle from (x0, y0) to (x1, y1).
    void Draw(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
        Down(x0, y0);
        Move(x1, y1);
        Up(x1, y1);
    }
    QString Panel(int32_t index) const { return MainForm->StatusPanels().Caption(index); }
    // The colour the view shows at an image point.
    QColor Shown(int32_t x, int32_t y) {
        const QImage grab = View()->viewport()->grab().toImage();
        const TQelPoint p = At(x, y);
        return grab.pixelColor(p.X, p.Y);
    }
};

TEST_F(CropToolTest, DrawingMovingAndResizingStayInsideTheWorkRectangle) {
    TQelGraphicsDocument* document = OpenPattern(100, 80);
    ASSERT_NE(Control(), nullptr);
    int16_t cursor = 0;
    ASSERT_TRUE(Control()->GetCursor(0, At(1, 1), cursor));
    EXPECT_EQ(cursor, crCross);

    // A click without movement: a 1 x 1 rectangle, and the editor is locked.
    Down(30, 20);
    EXPECT_EQ(Control()->CropRect, TQelRect(30, 20, 31, 21));
    EXPECT_EQ(Control()->State, TQelCropToolControl::StateDrawing);
    EXPECT_TRUE(Editor->ActiveToolLocked);
    Move(50, 40);
    EXPECT_EQ(Control()->CropRect, TQelRect(30, 20, 50, 40));
    EXPECT_EQ(Panel(Editor->WStatusPanel), "20");
    EXPECT_EQ(Panel(Editor->HStatusPanel), "20");
    // Back onto the anchor: empty, and the panels keep the last size.
    Move(30, 20);
    EXPECT_TRUE(Control()->CropRect.IsEmpty());
    EXPECT_EQ(Panel(Editor->WStatusPanel), "20");
    // Drawing past the image is cut to it; up and left of the anchor too.
    Move(-40, 500);
    EXPECT_EQ(Control()->CropRect, TQelRect(0, 20, 30, 80));
    Move(10, 5);
    Up(10, 5);
    EXPECT_EQ(Control()->CropRect, TQelRect(10, 5, 30, 20));
    EXPECT_EQ(Control()->State, TQelCropToolControl::StateShown);

    // Hit codes and their cursors, asked through the base as the view asks.
    const TQelRect d = View()->MapMode().LogicalToDeviceRect(Control()->CropRect);
    const TQelViewObject& object = *Control();
    const TQelMapMode& map = View()->MapMode();
    EXPECT_EQ(object.HitTest(map, {d.Left, d.Top}, 0), TQelCropToolControl::HitTopLeft);
    EXPECT_EQ(object.HitTest(map, {(d.Left + d.Right) / 2, d.Bottom + 4}, 0), TQelCropToolControl::HitBottom);
    EXPECT_EQ(object.HitTest(map, {d.Right - 5, d.Top + 5}, 0), TQelCropToolControl::HitInside);
    EXPECT_EQ(object.HitTest(map, {d.Right + 5, d.Top}, 0), TQelCropToolControl::HitOutside);
    // Outside the crop rectangle is no hit; a tolerance reaches as far as it says.
    EXPECT_EQ(object.HitTest(map, {d.Right + 5, (d.Top + d.Bottom) / 2}, 0), TQelCropToolControl::HitOutside);
    EXPECT_EQ(object.HitTest(map, {d.Right + 5, (d.Top + d.Bottom) / 2}, 6), 2);
    EXPECT_EQ(object.HitTest(map, {d.Right + 7, (d.Top + d.Bottom) / 2}, 6), TQelCropToolControl::HitOutside);
    ASSERT_TRUE(Control()->GetCursor(0, {d.Right, d.Bottom}, cursor));
    EXPECT_EQ(cursor, crSizeNWSE);
    EXPECT_FALSE(Control()->GetCursor(0, {d.Right + 20, d.Top}, cursor));
    // A press outside the rectangle changes nothing.
    EXPECT_FALSE(Control()->MouseDown(mbLeft, 0, {d.Right + 20, d.Top}));

    // Moving keeps the size and stops at the image's edges.
    Down(20, 10);
    Move(200, 200);
    EXPECT_EQ(Control()->CropRect, TQelRect(80, 65, 100, 80));
    Up(200, 200);
    // The left edge dragged past the right one: the rectangle stays.
    Down(80, 70);
    Move(90, 70);
    EXPECT_EQ(Control()->CropRect, TQelRect(90, 65, 100, 80));
    Move(150, 70);
    EXPECT_EQ(Control()->CropRect, TQelRect(90, 65, 100, 80));
    Up(150, 70);

    // A selection is the work rectangle.
    CropTool->ResetControl();
    document->SetSelectionRect(TQelRect(10, 10, 40, 30));
    EXPECT_FALSE(Control()->MouseDown(mbLeft, 0, At(50, 50)));
    Draw(20, 20, 90, 90);
    EXPECT_EQ(Control()->CropRect, TQelRect(20, 20, 40, 30));
}

TEST_F(CropToolTest, OverlayDarkensOutsideAndStaysOnTheSurfaceWhenZoomedIn) {
    QImage white(100, 80, QImage::Format_RGB888);
    white.fill(Qt::white);
    OpenImage(white, "white.png");
    Draw(20, 20, 60, 50);
    ASSERT_EQ(Control()->CropRect, TQelRect(20, 20, 60, 50));
    EXPECT_EQ(Shown(5, 70), QColor(164, 164, 164));
    EXPECT_EQ(Shown(40, 35), QColor(255, 255, 255));
    // While drawing nothing is darkened.
    CropTool->ResetControl();
    Down(20, 20);
    Move(60, 50);
    EXPECT_EQ(Shown(5, 70), QColor(255, 255, 255));
    Up(60, 50);

    // Zoomed in far and scrolled, the bands and handles reach far outside
    // the view: every write stays inside the paint surface.
    View()->Zoom(16, 1);
    QApplication::processEvents();
    Down(21, 21);
    Move(58, 48);
    Up(58, 48);
    EXPECT_EQ(Control()->State, TQelCropToolControl::StateShown);
    const QImage grab = View()->viewport()->grab().toImage();
    EXPECT_FALSE(grab.isNull());
}

TEST_F(CropToolTest, OkCropsBothImagesUndoAndRedo) {
    TQelGraphicsDocument* document = OpenPattern(100, 80);
    document->SetSelectionRect(TQelRect(5, 5, 95, 75));
    App.DoIdle();
    EXPECT_FALSE(CropTool->Frame->CropButton->isEnabled());
    Down(10, 10);
    App.DoIdle();
    EXPECT_FALSE(CropTool->Frame->CropButton->isEnabled());  // still drawing
    Move(50, 40);
    Up(50, 40);
    App.DoIdle();
    EXPECT_TRUE(CropTool->Frame->CropButton->isEnabled());
    EXPECT_TRUE(CropTool->Frame->CancelButton->isEnabled());

    CropTool->Frame->CropButton->click();
    EXPECT_EQ(document->Image.GetWidth(), 40);
    EXPECT_EQ(document->Image.GetHeight(), 30);
    EXPECT_EQ(document->OriginalImage.GetWidth(), 40);
    EXPECT_EQ(PixelOf(document->GetPixels(), 0, 0), (TQelRGBTriple{10, 10, 7}));
    EXPECT_EQ(PixelOf(document->GetOriginalPixels(), 39, 29), (TQelRGBTriple{49, 39, 7}));
    EXPECT_FALSE(document->HasSelection());
    EXPECT_EQ(Control()->State, TQelCropToolControl::StateIdle);
    EXPECT_FALSE(Editor->ActiveToolLocked);
    EXPECT_FALSE(document->Modifying);
    ASSERT_EQ(document->History.Count(), 1);

    Editor->UndoClick(nullptr);
    EXPECT_EQ(document->Image.GetWidth(), 100);
    EXPECT_EQ(document->OriginalImage.GetHeight(), 80);
    EXPECT_EQ(PixelOf(document->GetPixels(), 99, 79), (TQelRGBTriple{99, 79, 7}));
    EXPECT_EQ(document->SelectionRect, TQelRect(5, 5, 95, 75));
    Editor->RedoClick(nullptr);
    EXPECT_EQ(document->Image.GetWidth(), 40);
    EXPECT_EQ(PixelOf(document->GetPixels(), 0, 0), (TQelRGBTriple{10, 10, 7}));

    // Ok with an empty rectangle changes nothing and still is a step.
    Down(5, 5);
    Move(5, 5);
    Up(5, 5);
    ASSERT_TRUE(Control()->CropRect.IsEmpty());
    CropTool->Apply();
    EXPECT_EQ(document->Image.GetWidth(), 40);
    EXPECT_EQ(document->History.Count(), 2);
    EXPECT_FALSE(Editor->ActiveToolLocked);
}

TEST_F(CropToolTest, AnUndoOrRedoThatShrinksTheImageKeepsTheRectangleOnIt) {
    TQelGraphicsDocument* document = OpenPattern(100, 80);
    Draw(0, 0, 40, 30);
    CropTool->Apply();
    Editor->UndoClick(nullptr);
    ASSERT_EQ(document->Image.GetWidth(), 100);

    // Partly on the smaller image: cut to it.
    Draw(20, 10, 60, 50);
    Editor->RedoClick(nullptr);
    ASSERT_EQ(document->Image.GetWidth(), 40);
    App.DoIdle();
    EXPECT_EQ(Control()->State, TQelCropToolControl::StateShown);
    EXPECT_EQ(Control()->CropRect, TQelRect(20, 10, 40, 30));
    EXPECT_TRUE(CropTool->Frame->CropButton->isEnabled());

    // Wholly off it: the rectangle goes, and Ok with it.
    CropTool->ResetControl();
    Editor->UndoClick(nullptr);
    Draw(50, 40, 90, 70);
    Editor->RedoClick(nullptr);
    App.DoIdle();
    EXPECT_EQ(Control()->State, TQelCropToolControl::StateIdle);
    EXPECT_FALSE(Editor->ActiveToolLocked);
    EXPECT_FALSE(CropTool->Frame->CropButton->isEnabled());
    EXPECT_EQ(document->History.Count(), 1);
}

TEST_F(CropToolTest, TheLockEndsWithTheDocumentOrAnotherToolAndScriptsNeedADocument) {
    AddTool(ResizeTool);
    // Without a document the commands do nothing.
    EXPECT_TRUE(Command("CropPerform"));
    EXPECT_TRUE(Command("CropCancel"));
    App.DoIdle();

    OpenPattern(40, 30);
    Draw(5, 5, 20, 20);
    ASSERT_TRUE(Editor->ActiveToolLocked);
    App.DoIdle();
    EXPECT_FALSE(ResizeTool->Button->isEnabled());
    // Closing the document ends the lock with the view.
    ASSERT_TRUE(Editor->GetActiveDocument()->CloseQuery());
    EXPECT_FALSE(Editor->ActiveToolLocked);

    OpenPattern(40, 30);
    Draw(5, 5, 20, 20);
    ASSERT_TRUE(Editor->ActiveToolLocked);
    // Undo and redo give the tool back: the rectangle stays.
    Editor->DoUndo();
    App.DoIdle();
    EXPECT_EQ(Control()->State, TQelCropToolControl::StateShown);
    EXPECT_TRUE(Editor->ActiveToolLocked);
    // A script making another tool current: the rectangle goes, and so
    // does the lock.
    EXPECT_TRUE(Command("Resize"));
    App.DoIdle();
    EXPECT_EQ(Control()->State, TQelCropToolControl::StateIdle);
    EXPECT_FALSE(Editor->ActiveToolLocked);
    App.DoIdle();
    EXPECT_TRUE(CropTool->Button->isEnabled());
    EXPECT_EQ(Control()->CropRect, TQelRect(5, 5, 20, 20));  // kept after a reset
}

TEST_F(CropToolTest, SettingsTextsAndRecording) {
    const std::vector<uint8_t> expected = {0xD5, 0x01, 0x0D, 0x10, 0x1A, 0x3C, 0x53, 0xFA, 0x4B, 0xB7,
                                           0x6B, 0x48, 0xBB, 0x5E, 0x7A, 0xEA, 0x47, 0x60, 0x8D, 0x79,
                                           0x55, 0x01, 0x05, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(SavedSettings(*CropTool), expected);
    std::vector<uint8_t> shown = expected;
    shown[24] = 1;
    TQelSDFReader reader(shown);
    CropTool->LoadSettings(reader);
    EXPECT_TRUE(CropTool->OptionsShown);
    EXPECT_EQ(CropTool->Frame->ShowOptions->text(), "Hide Options");
    EXPECT_FALSE(CropTool->Frame->ShowOptions->isVisibleTo(CropTool->Frame));

    OpenPattern(40, 30);
    TRecording recording(App);
    Draw(5, 5, 20, 20);
    CropTool->Frame->CancelButton->click();
    EXPECT_EQ(Control()->State, TQelCropToolControl::StateIdle);
    EXPECT_EQ(recording.Lines, QByteArrayList({"MouseCurvedMove CropCancel", "CropCancel"}));
}

// The lossless session must write what is shown after an undo put back
// the pixels from before a crop, at full size and without asking.
TEST_F(CropToolTest, CropUndoAndJpegSaveWriteTheWholeImageThroughTheSession) {
    TQelGraphicsDocument* document = OpenSessionJpeg(64, 48);
    ASSERT_NE(document, nullptr);
    Draw(16, 16, 48, 40);
    CropTool->Apply();
    ASSERT_EQ(document->Image.GetWidth(), 32);
    Editor->UndoClick(nullptr);
    ASSERT_EQ(document->Image.GetWidth(), 64);

    const QString out = Folder.filePath("saved.jpg");
    ASSERT_TRUE(document->SaveAs(out, 0));
    EXPECT_EQ(Formats->Asked, 0);
    const TQelPixelBuffer saved = Decoded(out);
    ASSERT_EQ(saved.GetBounds(), TQelRect(0, 0, 64, 48));
    // Blocks the session encodes afresh may differ by a few levels; a cut or
    // shifted image would differ by far more (the picture is a steep ramp).
    EXPECT_LE(Difference(saved, *document->GetPixels()).first, 8);
}

}  // namespace
