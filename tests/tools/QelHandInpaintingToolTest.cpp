#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QToolButton>

#include <cstdlib>

#include "AdjustToolFixture.h"
#include "QelDemoPlayback.h"
#include "QelDemoScript.h"
#include "QelGraphicsEditor.h"
#include "QelHandInpaintingTool.h"
#include "QelHandInpaintingToolControl.h"
#include "QelLocalizer.h"
#include "QelMainForm.h"
#include "QelToolPanel.h"
#include "ScriptedMessageBoxes.h"

namespace {

// Another tool that fills a rectangle in one step, standing in for any tool
// whose step Cancel must never take back.
class TFillTool : public TQelGraphicsTool {
public:
    TFillTool() { Name = "Fill"; }
    void Fill(TQelGraphicsView* view, const TQelRect& rect, uint8_t value) {
        BeginModification(view);
        for (int32_t y = rect.Top; y < rect.Bottom; ++y)
            for (int32_t x = rect.Left; x < rect.Right; ++x) std::memset(CurrentPixels->PixelAddress(x, y), value, 3);
        AddModifiedRect(rect);
        FinishModification();
    }
};

class THandInpaintingTest : public TAdjustToolTest {
protected:
    void SetUp() override {
        TAdjustToolTest::SetUp();
        Editor->Initialize();
        App.CreateModule(Tool);
        App.CreateModule(Other);
        Tool->Localize();
        MainForm->setGeometry(100, 100, 900, 700);
        QApplication::processEvents();
    }

    // A w x h linear gradient (B = x, G = y, R = 100) with a black disc of
    // radius 4 at (29, 29), the disc centre of a click at (30, 30).
    void Open(int w = 120, int h = 90, bool spot = true) {
        QImage image(w, h, QImage::Format_RGB888);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const bool dark = spot && (x - 29) * (x - 29) + (y - 29) * (y - 29) <= 16;
                image.setPixelColor(x, y, dark ? QColor(0, 0, 0) : QColor(100, y, x));
            }
        Doc = OpenImage(image, "face.png");
        ASSERT_NE(Doc, nullptr);
        Tool->MakeCurrent();
        Control = dynamic_cast<TQelHandInpaintingToolControl*>(Tool->GetControl(0));
        ASSERT_NE(Control, nullptr);
        ASSERT_TRUE(Control->Active);
    }

    TQelPoint Dev(int32_t x, int32_t y) const { return At(x, y); }
    void Move(int32_t x, int32_t y) { Control->MouseMove(0, Dev(x, y)); }
    void ClickAt(int32_t x, int32_t y) { Control->MouseDown(mbLeft, 0, Dev(x, y)); }
    bool Key(uint16_t key, TShiftState shift = 0) { return Control->KeyDown(key, shift); }
    QByteArray Pixels() const {
        const TQelPixels* p = Doc->GetPixels();
        QByteArray bytes;
        for (int32_t y = 0; y < p->Height; ++y)
            bytes.append(reinterpret_cast<const char*>(p->PixelAddress(0, y)), p->Width * 3);
        return bytes;
    }
    const uint8_t* Pixel(int32_t x, int32_t y) const { return Doc->GetPixels()->PixelAddress(x, y); }
    static QRgb PreviewPixel(const TQelPreviewImage* image, int x, int y) { return image->Picture.pixel(x, y); }
    int HistoryCount() const { return Doc->History.Count(); }

    TQelHandInpaintingTool* Tool = nullptr;
    TFillTool* Other = nullptr;
    TQelGraphicsDocument* Doc = nullptr;
    TQelHandInpaintingToolControl* Control = nullptr;
};

}  // namespace

TEST(HandInpaintingGeometry, SquaresAroundThePointer) {
    TQelHandInpaintingTool tool;
    EXPECT_EQ(tool.GetSquareAt({50, 50}), TQelRect(37, 37, 62, 62));
    tool.Size = 10;
    EXPECT_EQ(tool.GetSquareAt({50, 50}), TQelRect(45, 45, 55, 55));
    // Far off the image the square saturates instead of wrapping round.
    EXPECT_LT(tool.GetSquareAt({INT32_MIN + 2, 0}).Left, 0);
}

TEST_F(THandInpaintingTest, PatchCoversTheDefectAndIsOneUndoStep) {
    Open();
    const QByteArray before = Pixels();
    ClickAt(30, 30);
    EXPECT_TRUE(Tool->Pending);
    ASSERT_NE(Tool->Engine(), nullptr);
    // Exclusive: nobody else may modify, and undo waits.
    EXPECT_FALSE(Editor->CanToolModify(Other));
    EXPECT_FALSE(Editor->CanUndo());
    EXPECT_EQ(Pixels(), before);  // the first click shows the target unpatched

    Move(80, 60);
    // The colour surfaces carry the gradient across: the spot is gone.
    for (const auto& [x, y] : {std::pair{29, 29}, std::pair{27, 31}, std::pair{32, 28}}) {
        const uint8_t* p = Pixel(x, y);
        EXPECT_NEAR(p[0], x, 2) << x << "," << y;
        EXPECT_NEAR(p[1], y, 2) << x << "," << y;
        EXPECT_NEAR(p[2], 100, 2) << x << "," << y;
    }
    const QByteArray patched = Pixels();
    EXPECT_TRUE(Key(VK_RETURN));
    EXPECT_FALSE(Tool->Pending);
    EXPECT_EQ(HistoryCount(), 1);
    EXPECT_EQ(Pixels(), patched);
    EXPECT_TRUE(Editor->CanToolModify(Other));
    Editor->DoUndo();
    EXPECT_EQ(Pixels(), before);
    Editor->DoRedo();
    EXPECT_EQ(Pixels(), patched);

    // Click, click again without moving: the target is its own source.
    const QByteArray kept = Pixels();
    ClickAt(90, 50);
    ClickAt(90, 50);
    EXPECT_EQ(HistoryCount(), 2);
    EXPECT_EQ(Pixels(), kept);
    Editor->DoUndo();
    EXPECT_EQ(Pixels(), kept);
    Editor->DoRedo();
    EXPECT_EQ(Pixels(), kept);
}

TEST_F(THandInpaintingTest, CancelDropsOnlyTheToolsOwnPatch) {
    Open();
    const QByteArray before = Pixels();
    ClickAt(30, 30);
    Move(80, 60);
    EXPECT_NE(Pixels(), before);
    EXPECT_TRUE(Key(VK_ESCAPE));
    EXPECT_FALSE(Tool->Pending);
    EXPECT_EQ(Pixels(), before);
    EXPECT_TRUE(Editor->CanRedo());
    EXPECT_TRUE(Editor->CanToolModify(Other));

    // Another tool's step on top: neither the script's Cancel nor a late Esc
    // or Ctrl+Z (the button's state lags behind) may take it back.
    Other->Fill(Editor->GetActiveView(), TQelRect(0, 0, 4, 4), 200);
    const QByteArray filled = Pixels();
    EXPECT_TRUE(Command("HandInpaintingCancelButton"));
    EXPECT_FALSE(Key(VK_ESCAPE));
    EXPECT_FALSE(Key('Z', ssCtrl));
    EXPECT_EQ(Pixels(), filled);
    EXPECT_TRUE(Editor->CanUndo());

    // While a patch is pending the tool takes Esc and Ctrl+Z before the
    // Edit menu's shortcut; idle, Ctrl+Z stays the menu's.
    auto claimed = [&](Qt::Key key, Qt::KeyboardModifiers modifiers) {
        QKeyEvent e(QEvent::ShortcutOverride, key, modifiers);
        e.ignore();
        QApplication::sendEvent(Editor->GetActiveView(), &e);
        return e.isAccepted();
    };
    EXPECT_FALSE(claimed(Qt::Key_Z, Qt::ControlModifier));
    EXPECT_TRUE(claimed(Qt::Key_A, Qt::ControlModifier));
    ClickAt(30, 30);
    EXPECT_TRUE(claimed(Qt::Key_Z, Qt::ControlModifier));
    EXPECT_TRUE(claimed(Qt::Key_Escape, Qt::NoModifier));
    EXPECT_FALSE(claimed(Qt::Key_Q, Qt::ControlModifier));
    Key(VK_ESCAPE);
    EXPECT_EQ(Pixels(), filled);

    // A patch the document's closing kept (the close was then cancelled)
    // is still the tool's to drop.
    ClickAt(30, 30);
    Move(80, 60);
    Tool->DocumentClosing(Doc);
    EXPECT_TRUE(Tool->Pending);
    EXPECT_FALSE(Doc->Modifying);
    EXPECT_NE(Pixels(), filled);
    EXPECT_TRUE(Key(VK_ESCAPE));
    EXPECT_EQ(Pixels(), filled);
    // Also when the pointer moved on first: the kept patch is replaced, not
    // patched over, and the previews come back.
    ClickAt(30, 30);
    Move(80, 60);
    Tool->DocumentClosing(Doc);
    Move(70, 50);
    EXPECT_TRUE(Doc->Modifying);
    EXPECT_TRUE(Tool->Frame()->TargetImage->isVisibleTo(Tool->Frame()));
    EXPECT_TRUE(Key(VK_ESCAPE));
    EXPECT_EQ(Pixels(), filled);

    // A first click far outside the image still makes one (empty) step, so
    // Cancel has its own step to drop.
    const int index = Doc->History.Index();
    ClickAt(-500, -500);
    EXPECT_TRUE(Key('Z', ssCtrl));
    EXPECT_EQ(Doc->History.Index(), index);
    EXPECT_EQ(Pixels(), filled);
    const auto* dropped = dynamic_cast<TQelCustomGraphicsCommandState*>(Doc->History.NextRedo());
    ASSERT_NE(dropped, nullptr);
    EXPECT_EQ(dropped->Tool, Tool);
}

TEST_F(THandInpaintingTest, BoxKeysWhileIdleStartNoModification) {
    Open();
    EXPECT_TRUE(Tool->Frame()->AdjustmentTBXCheckBox->isChecked());
    EXPECT_TRUE(Key('A', ssCtrl));
    EXPECT_FALSE(Tool->Frame()->AdjustmentTBXCheckBox->isChecked());
    EXPECT_EQ(Tool->AdjustmentKind, 0);
    EXPECT_TRUE(Key('N', ssCtrl));
    EXPECT_FALSE(Tool->AntiAliasing);
    EXPECT_TRUE(Key('R', ssCtrl));
    EXPECT_FALSE(Tool->AutoReflection);
    EXPECT_FALSE(Doc->Modifying);
    EXPECT_TRUE(Editor->CanToolModify(Other));
    EXPECT_EQ(HistoryCount(), 0);

    // While pending the same keys redraw the patch with the new option.
    ClickAt(30, 30);
    Move(80, 60);
    const QByteArray plain = Pixels();
    EXPECT_TRUE(Key('A', ssCtrl));
    EXPECT_EQ(Tool->AdjustmentKind, 2);
    EXPECT_NE(Pixels(), plain);
    EXPECT_TRUE(Doc->Modifying);
}

TEST_F(THandInpaintingTest, OrientationByWheelKeysButtonsAndScript) {
    Open();
    const int size = Tool->Size;
    ClickAt(30, 30);
    // Auto chooses: the wheel and Ctrl+arrows leave the direction alone.
    Move(80, 60);
    const uint8_t found = Tool->ReflectionDirection;
    Control->MouseWheel(0, 1, Dev(80, 60));
    EXPECT_EQ(Tool->ReflectionDirection, found);
    Tool->SetAutoReflection(false);
    Tool->SetReflectionDirection(0);
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(Control->MouseWheel(0, 1, Dev(80, 60)));
    EXPECT_EQ(Tool->ReflectionDirection, 3);
    EXPECT_TRUE(Tool->Frame()->ReflectionButtons[3]->isChecked());
    EXPECT_TRUE(Key(VK_LEFT, ssCtrl));
    EXPECT_TRUE(Key(VK_DOWN, ssCtrl));
    EXPECT_EQ(Tool->ReflectionDirection, 1);
    for (int i = 0; i < 9; ++i) Key(VK_UP, ssCtrl);
    EXPECT_EQ(Tool->ReflectionDirection, 7);  // stops, no wrap
    EXPECT_EQ(Tool->Size, size);  // Ctrl+arrows steer, not size, while pending

    // A button sets the direction for the next move without redrawing.
    const QByteArray drawn = Pixels();
    Tool->Frame()->ReflectionButtons[5]->click();
    EXPECT_EQ(Tool->ReflectionDirection, 5);
    EXPECT_EQ(Pixels(), drawn);

    // The script's value is checked: there are only eight orientations.
    for (const char* value : {"9", "-1", "256"}) {
        EXPECT_TRUE(Command((std::string("HandInpaintingAreaReflection ") + value).c_str()));
        EXPECT_EQ(Tool->ReflectionDirection, 5) << value;
    }
    EXPECT_TRUE(Command("HandInpaintingAreaReflection 2"));
    EXPECT_EQ(Tool->ReflectionDirection, 2);
    EXPECT_TRUE(Tool->Frame()->ReflectionButtons[2]->isChecked());
    Key(VK_RETURN);

    // Idle, Ctrl+arrows and the wheel are the brush size.
    EXPECT_TRUE(Key(VK_UP, ssCtrl));
    EXPECT_EQ(Tool->Size, size + 1);
    Control->MouseWheel(0, -1, Dev(80, 60));
    EXPECT_EQ(Tool->Size, size);

    // The box's handler has the last word: kind 1 stays only unchecked.
    Tool->SetAdjustment(1);
    EXPECT_EQ(Tool->AdjustmentKind, 0);
    Tool->SetAdjustment(1);
    EXPECT_EQ(Tool->AdjustmentKind, 1);
    Tool->SetAdjustment(2);
    EXPECT_EQ(Tool->AdjustmentKind, 2);
}

TEST_F(THandInpaintingTest, PreviewsMagnifyWithGreyBeyondTheImage) {
    Open(50, 50, false);
    ClickAt(2, 2);
    const TQelPreviewImage* target = Tool->Frame()->TargetImage;
    ASSERT_EQ(target->PictureWidth(), 40);  // six image pixels per 240
    EXPECT_EQ(target->PictureHeight(), 40);
    EXPECT_TRUE(target->isVisibleTo(Tool->Frame()));
    // Picture (0, 0) is image (-18, -18).
    EXPECT_EQ(PreviewPixel(target, 0, 0), qRgb(64, 64, 64));
    EXPECT_EQ(PreviewPixel(target, 20, 20), qRgb(100, 2, 2));
    Key(VK_ESCAPE);

    // Idle, the preview follows the pointer, except right after a kept
    // patch, which stays in view until the pointer leaves 3 pixels.
    Move(25, 25);
    EXPECT_EQ(PreviewPixel(target, 20, 20), qRgb(100, 25, 25));
    ClickAt(25, 25);
    ClickAt(25, 25);
    const TQelPoint kept = Tool->PreviewOrigin;
    Move(27, 27);
    EXPECT_EQ(Tool->PreviewOrigin, kept);
    Move(30, 25);
    EXPECT_EQ(Tool->PreviewOrigin, (TQelPoint{10, 5}));

    // Larger brushes fewer pixels per preview; not while a patch is pending.
    Tool->SetSize(100);
    EXPECT_EQ(target->PictureWidth(), 120);
    ClickAt(25, 25);
    Tool->SetSize(50);
    EXPECT_EQ(target->PictureWidth(), 120);
    Key(VK_RETURN);

    // The second preview: both pictures laid out for 130, shown while
    // pending, the plain patch in the upper one.
    Tool->SetSize(25);
    Tool->Frame()->TwoSpeedButtonClick();
    EXPECT_TRUE(Tool->SecondPreview);
    ClickAt(25, 25);
    EXPECT_TRUE(Tool->Frame()->HandyImage->isVisibleTo(Tool->Frame()));
    EXPECT_EQ(target->geometry(), QRect(4, 138, 130, 130));
    Key(VK_ESCAPE);
    EXPECT_FALSE(Tool->Frame()->HandyImage->isVisibleTo(Tool->Frame()));

    // The next photo opens on grey previews, not on the last one's pixels.
    const auto grey = [](const TQelPreviewImage* image) {
        QImage all(image->Picture.size(), image->Picture.format());
        all.fill(qRgb(64, 64, 64));
        return image->Picture == all;
    };
    Move(25, 25);
    ASSERT_FALSE(grey(target));
    Scripted.Answers.push_back(IDNO);  // the patches kept above are not saved
    Open(60, 60, false);
    EXPECT_TRUE(target->isVisibleTo(Tool->Frame()));
    EXPECT_TRUE(grey(target));
    EXPECT_TRUE(grey(Tool->Frame()->HandyImage));
}

TEST_F(THandInpaintingTest, NoDocumentNoEngineNoCrash) {
    // Cancel from a script, then a size change, before any document.
    EXPECT_TRUE(Command("HandInpaintingCancelButton"));
    Tool->SetSize(40);
    Tool->RenderPreviews(true);
    Tool->Click();  // Enter with nothing open
    EXPECT_FALSE(Tool->Pending);

    // A first click wholly outside the image builds no engine; the second
    // preview's button then has none to render with.
    Open();
    ClickAt(-300, -300);
    EXPECT_EQ(Tool->Engine(), nullptr);
    Tool->Frame()->TwoSpeedButtonClick();
    Tool->Frame()->TwoSpeedButtonClick();
    Key(VK_RETURN);
    EXPECT_FALSE(Tool->Pending);
}

TEST_F(THandInpaintingTest, PointerKeysMoveTheSourceWhereThePointerCannotWarp) {
    Open();
    ClickAt(30, 30);
    Move(80, 60);
    Key(VK_RIGHT);
    EXPECT_EQ(Tool->CurrentPoint, (TQelPoint{81, 60}));
    Key(VK_NEXT, ssShift);
    EXPECT_EQ(Tool->CurrentPoint, (TQelPoint{86, 65}));
    EXPECT_EQ(Tool->SourceSquare, Tool->GetSquareAt({86, 65}));
    Key(VK_HOME);
    EXPECT_EQ(Tool->CurrentPoint, (TQelPoint{85, 64}));
    EXPECT_FALSE(Key('Q'));
}

TEST_F(THandInpaintingTest, ScriptCommandsPointsAndRecordedLines) {
    Open();
    TQelDemoPlayback player;
    QList<QByteArray> lines;
    player.OnRecordLine = [&](TQelDemoPlayback*, int, const QByteArray& line) { lines << line; };
    ASSERT_TRUE(player.StartRecording(0));
    Tool->StartRecording(&player);

    Tool->Frame()->AdjustmentTBXCheckBox->click();
    Tool->Frame()->ReflectionButtons[5]->click();
    Tool->Frame()->AutoReflectionTBXCheckBox->click();
    Tool->Frame()->CancelTBXButtonClick();
    EXPECT_EQ(lines, QList<QByteArray>({"MouseCurvedMove HandInpaintingAdjustment", "HandInpaintingAdjustment 0",
                                        "MouseCurvedMove HandInpaintingarSouthReflexSpeedButton",
                                        "HandInpaintingAreaReflection 5",
                                        "MouseCurvedMove HandInpaintingAutoReflection",
                                        "HandInpaintingAutoReflection 0", "MouseCurvedMove HandInpaintingCancelButton",
                                        "HandInpaintingCancelButton"}));
    Tool->StopRecording(&player);
    player.StopRecording();

    // The recorded lines replay.
    for (const char* line : {"HandInpaintingAdjustment 2", "HandInpaintingAutoReflection 1", "HandInpaintingLongDefect 0",
                             "HandInpaintingAntiAliasing 0", "HandInpaintingSize 30"})
        EXPECT_TRUE(Command(line)) << line;
    EXPECT_EQ(Tool->AdjustmentKind, 2);
    EXPECT_TRUE(Tool->AutoReflection);
    EXPECT_FALSE(Tool->LongDefect);
    EXPECT_FALSE(Tool->AntiAliasing);
    EXPECT_EQ(Tool->Size, 30);

    TQelDemoScriptParams params;
    bool handled = false;
    QPoint point;
    params.ParseText("\"HandInpaintingarWestSpeedButton\"");
    Tool->GetCommandPoint(nullptr, params, point, handled);
    EXPECT_TRUE(handled);
    QWidget* west = Tool->Frame()->ReflectionButtons[6];
    EXPECT_TRUE(west->rect().contains(west->mapFromGlobal(point)));
    params.ParseText("\"HandInpaintingNothing\"");
    handled = false;
    Tool->GetCommandPoint(nullptr, params, point, handled);
    EXPECT_FALSE(handled);
}

TEST_F(THandInpaintingTest, IdleControlsFollowThePatch) {
    Open();
    Tool->UpdateControls();
    TQelHandInpaintingFrame* f = Tool->Frame();
    EXPECT_TRUE(Tool->Button->isChecked());
    EXPECT_FALSE(f->CancelTBXButton->isEnabled());
    EXPECT_TRUE(f->SizeTrackBar->isEnabled());
    EXPECT_EQ(f->SizeLabel->text(), "Size: 25");
    ClickAt(30, 30);
    Tool->UpdateControls();
    EXPECT_TRUE(f->CancelTBXButton->isEnabled());
    EXPECT_FALSE(f->SizeTrackBar->isEnabled());
    Tool->OptionsVisible = false;
    Tool->UpdateControls();
    EXPECT_FALSE(f->OptionsPanel->isVisibleTo(f));
    Key(VK_ESCAPE);
}
