#include <gtest/gtest.h>

#include <QPushButton>
#include <QRadioButton>
#include <QToolBar>
#include <QToolButton>

#include "AdjustToolFixture.h"
#include "QelError.h"
#include "QelGraphicsFormats.h"
#include "QelRotateTool.h"

namespace {

class RotateToolTest : public TAdjustToolTest {
protected:
    void SetUp() override {
        TAdjustToolTest::SetUp();
        AddTool(RotateTool);
        RotateTool->AddStandardToolbarButtons();
        Editor->SetActiveTool(RotateTool);
    }
    TQelRotateFrame* Frame() const { return RotateTool->Frame; }
    static bool SameRows(const TQelPixels& a, const TQelPixels& b) {
        if (a.GetBounds() != b.GetBounds()) return false;
        for (int32_t y = 0; y < a.Height; ++y)
            if (std::memcmp(a.PixelAddress(0, y), b.PixelAddress(0, y), size_t(a.Width) * 3) != 0) return false;
        return true;
    }
};

TEST_F(RotateToolTest, EachOperationIsOneStepUndoneByItsInverse) {
    TQelGraphicsDocument* document = OpenPattern(100, 50);
    document->SetSelectionRect(TQelRect(10, 20, 30, 40));
    TQelPixelBuffer before;
    document->CopyImageTo(before, nullptr);

    App.DoIdle();
    RotateTool->RotateLeftItem->trigger();
    EXPECT_EQ(document->Image.GetWidth(), 50);
    EXPECT_EQ(document->OriginalImage.GetHeight(), 100);
    // (x, y) goes to (y, W - 1 - x).
    EXPECT_EQ(PixelOf(document->GetPixels(), 0, 99), (TQelRGBTriple{0, 0, 7}));
    EXPECT_EQ(document->SelectionRect, TQelRect(20, 70, 40, 90));
    EXPECT_EQ(MainForm->StatusPanels().Caption(Editor->WStatusPanel), "50");
    EXPECT_EQ(document->History.Count(), 1);
    EXPECT_FALSE(document->Modifying);
    Editor->UndoClick(nullptr);
    EXPECT_TRUE(SameRows(*document->GetPixels(), before));
    EXPECT_EQ(document->SelectionRect, TQelRect(10, 20, 30, 40));
    Editor->RedoClick(nullptr);
    EXPECT_EQ(document->Image.GetWidth(), 50);
    Editor->UndoClick(nullptr);

    RotateTool->RotateRight();
    EXPECT_EQ(document->SelectionRect, TQelRect(10, 10, 30, 30));
    Editor->UndoClick(nullptr);
    // Two flips give the image back, as two steps.
    RotateTool->FlipHorizontal();
    EXPECT_EQ(PixelOf(document->GetPixels(), 0, 0), (TQelRGBTriple{99, 0, 7}));
    RotateTool->FlipHorizontal();
    EXPECT_TRUE(SameRows(*document->GetPixels(), before));
    EXPECT_EQ(document->History.Count(), 2);
    EXPECT_TRUE(Command("RotationVertical"));
    EXPECT_EQ(PixelOf(document->GetPixels(), 0, 0), (TQelRGBTriple{0, 49, 7}));
}

TEST_F(RotateToolTest, AnOperationTheDocumentCannotDoLeavesNoStep) {
    TQelGraphicsDocument* document = OpenPattern(30, 20);
    // The bitmap turns only 24-bit rows: an original of another format
    // cannot follow the image, so neither turns.
    ASSERT_TRUE(document->OriginalImage.SetSize(30, 20, QelFormatBGRA32));
    EXPECT_THROW(RotateTool->RotateLeft(), EQelOutOfMemory);
    EXPECT_EQ(document->Image.GetWidth(), 30);
    EXPECT_EQ(PixelOf(document->GetPixels(), 29, 0), (TQelRGBTriple{29, 0, 7}));
    EXPECT_EQ(document->History.Count(), 0);
    EXPECT_FALSE(document->Modifying);
    EXPECT_EQ(document->ModifyingTool, nullptr);
}

TEST_F(RotateToolTest, ThePreviewFollowsTheChoiceAndNeedsNoDocument) {
    // Options shown without a document: an empty box, nothing to crash on.
    EXPECT_TRUE(Command("Rotation"));
    EXPECT_TRUE(Command("RotationShowOptions"));
    EXPECT_FALSE(Frame()->PreviewControl->isHidden());
    EXPECT_TRUE(Frame()->RotateRightButton->isHidden());
    EXPECT_EQ(Frame()->Preview, nullptr);
    EXPECT_FALSE(Frame()->ThumbnailView->grab().isNull());
    EXPECT_TRUE(Command("RotationPerform"));

    TQelGraphicsDocument* document = OpenPattern(100, 50);
    Frame()->FlipVerticalRadioButton->setChecked(true);
    EXPECT_EQ(Frame()->RotateButton->text(), "Flip Vertical");
    ASSERT_NE(Frame()->SourceThumbnail, nullptr);
    EXPECT_EQ(Frame()->SourceThumbnail->GetWidth(), 148);
    ASSERT_NE(Frame()->Preview, nullptr);
    std::unique_ptr<TQelLTBitmap> flipped = Frame()->SourceThumbnail->Clone();
    ASSERT_TRUE(flipped->FlipVertical());
    EXPECT_TRUE(SameRows(*Frame()->Preview->GetPixels(), *flipped->GetPixels()));
    Frame()->RotateButton->click();
    EXPECT_EQ(document->History.Count(), 1);
    EXPECT_EQ(PixelOf(document->GetPixels(), 0, 0), (TQelRGBTriple{0, 49, 7}));

    // A very thin image still has a thumbnail of one row.
    OpenPattern(1000, 1);
    Frame()->RotateLeftRadioButton->setChecked(true);
    ASSERT_NE(Frame()->Preview, nullptr);
    EXPECT_EQ(Frame()->Preview->GetWidth(), 1);
    EXPECT_EQ(Frame()->Preview->GetHeight(), 148);
}

TEST_F(RotateToolTest, StandardToolbarItemsAndPluginMode) {
    // The standard toolbar's items are usable like the button: not before a
    // document is open.
    App.DoIdle();
    EXPECT_FALSE(RotateTool->FlipHorizontalItem->isEnabled());

    TQelGraphicsDocument source(nullptr);
    source.Image.SetSize(6, 4, QelFormatBGR24);
    const QString path = Folder.filePath("PSPF1.tmp");
    ASSERT_TRUE(WriteExchangeFile(path, source));
    OpenFile(path);
    ASSERT_TRUE(Editor->PluginMode);
    EXPECT_TRUE(Frame()->isHidden());
    EXPECT_FALSE(RotateTool->Button->isVisible());
    App.DoIdle();
    EXPECT_TRUE(RotateTool->FlipHorizontalItem->isVisible());
    EXPECT_TRUE(RotateTool->FlipHorizontalItem->isEnabled());
}

}  // namespace
