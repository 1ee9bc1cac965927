#include <gtest/gtest.h>

#include <QCheckBox>
#include <QPushButton>

#include "AdjustToolFixture.h"
#include "QelCursors.h"
#include "QelError.h"
#include "QelImageCodec.h"
#include "QelResizeTool.h"

namespace {

class ResizeToolTest : public TAdjustToolTest {
protected:
    void SetUp() override {
        TAdjustToolTest::SetUp();
        AddTool(ResizeTool);
    }
    TQelResizeFrame* Frame() const { return ResizeTool->Frame; }
    // The new size the tool holds and the edits show.
    ::testing::AssertionResult Shows(int32_t w, int32_t h) const {
        if (ResizeTool->NewWidth != w || ResizeTool->NewHeight != h)
            return ::testing::AssertionFailure() << "tool " << ResizeTool->NewWidth << " x " << ResizeTool->NewHeight;
        if (Frame()->WidthEdit->value() != w || Frame()->HeightEdit->value() != h)
            return ::testing::AssertionFailure()
                   << "edits " << Frame()->WidthEdit->value() << " x " << Frame()->HeightEdit->value();
        return ::testing::AssertionSuccess();
    }
};

TEST_F(ResizeToolTest, SidesFollowTheAspectRatioAndNeverDropBelowOne) {
    // Without a document the image counts as 1 x 1.
    EXPECT_TRUE(Command("ResizeWidth 5"));
    EXPECT_TRUE(Shows(5, 5));

    OpenPattern(400, 300);
    EXPECT_TRUE(Shows(400, 300));
    ResizeTool->SetNewWidth(200);
    EXPECT_TRUE(Shows(200, 150));
    ResizeTool->SetNewHeight(1);
    EXPECT_TRUE(Shows(1, 1));
    // A script line without its argument takes the default width 100.
    EXPECT_TRUE(Command("ResizeWidth"));
    EXPECT_TRUE(Shows(100, 75));
    // Typed 0 or a negative number: that side is 1.
    Frame()->WidthEdit->setValue(-5);
    EXPECT_TRUE(Shows(1, 1));

    EXPECT_TRUE(Command("ResizeDisproportional"));
    EXPECT_FALSE(ResizeTool->Proportional);
    EXPECT_FALSE(Frame()->ConstrainProportionsCheckBox->isChecked());
    ResizeTool->SetNewWidth(1000);
    ResizeTool->SetNewHeight(100);
    EXPECT_TRUE(Shows(1000, 100));
    Frame()->ConstrainProportionsCheckBox->setChecked(true);
    EXPECT_TRUE(Shows(133, 100));
    // The up-down arrows stop at 32767; typing does not.
    Frame()->WidthEdit->setValue(32767);
    Frame()->WidthEdit->stepBy(1);
    EXPECT_EQ(ResizeTool->NewWidth, 32767);

    // A computed side is at least 1 and not limited from above.
    OpenPattern(1000, 1);
    ResizeTool->SetNewWidth(100);
    EXPECT_TRUE(Shows(100, 1));
    OpenPattern(10, 4000);
    ResizeTool->SetNewWidth(100);
    EXPECT_TRUE(Shows(100, 40000));
}

TEST_F(ResizeToolTest, OkAndCancelFollowTheNewSizeAndCancelResetsTheEdits) {
    OpenPattern(40, 30);
    Editor->SetActiveTool(ResizeTool);
    App.DoIdle();
    EXPECT_TRUE(ResizeTool->Button->isChecked());
    EXPECT_FALSE(Frame()->OkButton->isEnabled());
    EXPECT_FALSE(Frame()->CancelButton->isEnabled());
    Frame()->WidthEdit->setValue(200);
    App.DoIdle();
    EXPECT_TRUE(Frame()->OkButton->isEnabled());
    EXPECT_TRUE(Frame()->CancelButton->isEnabled());
    {
        TRecording recording(App);
        Frame()->CancelButton->click();
        EXPECT_EQ(recording.Lines, QByteArrayList({"MouseCurvedMove ResizeCancel", "ResizeCancel"}));
    }
    EXPECT_TRUE(Shows(40, 30));
    App.DoIdle();
    EXPECT_FALSE(Frame()->OkButton->isEnabled());

    TRecording recording(App);
    Frame()->HeightEdit->setValue(60);
    Frame()->ConstrainProportionsCheckBox->setChecked(false);
    EXPECT_EQ(recording.Lines,
              QByteArrayList({"ResizeHeight 60", "MouseCurvedMove ResizeProportions", "ResizeDisproportional"}));
}

TEST_F(ResizeToolTest, OkResamplesBothImagesAndTheSelectionWithUndoAndRedo) {
    TQelGraphicsDocument* document = OpenPattern(100, 100);
    document->OriginalImage.SetSize(200, 200, QelFormatBGR24);
    document->SetSelectionRect(TQelRect(10, 10, 50, 50));
    Editor->SetActiveTool(ResizeTool);
    ResizeTool->SetNewWidth(50);
    Frame()->OkButton->click();
    EXPECT_EQ(document->Image.GetWidth(), 50);
    EXPECT_EQ(document->Image.GetHeight(), 50);
    EXPECT_EQ(document->OriginalImage.GetWidth(), 100);
    EXPECT_EQ(document->SelectionRect, TQelRect(5, 5, 25, 25));
    EXPECT_EQ(document->History.Count(), 1);
    EXPECT_FALSE(document->Modifying);
    EXPECT_EQ(document->Backup.GetBounds(), TQelRect(0, 0, 50, 50));
    EXPECT_TRUE(Shows(50, 50));
    EXPECT_EQ(QelScreenCursor(), crDefault);

    Editor->UndoClick(nullptr);
    EXPECT_EQ(document->Image.GetWidth(), 100);
    EXPECT_EQ(document->OriginalImage.GetWidth(), 200);
    EXPECT_EQ(document->SelectionRect, TQelRect(10, 10, 50, 50));
    EXPECT_EQ(PixelOf(document->GetPixels(), 99, 99), (TQelRGBTriple{99, 99, 7}));
    Editor->RedoClick(nullptr);
    EXPECT_EQ(document->Image.GetWidth(), 50);
    EXPECT_EQ(document->OriginalImage.GetWidth(), 100);

    // A tiny original of a large image still keeps one pixel.
    document = OpenPattern(300, 300);
    document->OriginalImage.SetSize(3, 3, QelFormatBGR24);
    ResizeTool->SetNewWidth(50);
    ResizeTool->Apply();
    EXPECT_EQ(document->OriginalImage.GetWidth(), 1);
    EXPECT_EQ(document->OriginalImage.GetHeight(), 1);
}

TEST_F(ResizeToolTest, AFailedResizeChangesNothingAndLeavesNoStepOrModification) {
    TQelGraphicsDocument* document = OpenPattern(40, 30);
    ResizeTool->SetProportional(false);
    ResizeTool->SetNewWidth(2000000000);
    ResizeTool->SetNewHeight(2000000000);
    EXPECT_THROW(ResizeTool->Apply(), EQelOutOfMemory);
    EXPECT_EQ(document->Image.GetWidth(), 40);
    EXPECT_EQ(document->OriginalImage.GetWidth(), 40);
    EXPECT_EQ(PixelOf(document->GetPixels(), 39, 29), (TQelRGBTriple{39, 29, 7}));
    EXPECT_EQ(document->History.Count(), 0);
    EXPECT_FALSE(document->Modifying);
    EXPECT_TRUE(document->Clean());
    EXPECT_EQ(QelScreenCursor(), crDefault);
    EXPECT_TRUE(Editor->CanToolModify(ResizeTool));
    // A size past the largest image the program opens is refused before
    // anything is allocated, and the message names it.
    ResizeTool->SetNewWidth(16385);
    ResizeTool->SetNewHeight(16385);
    try {
        ResizeTool->Apply();
        ADD_FAILURE() << "an image of 16385 x 16385 pixels was made";
    } catch (const EQelOutOfMemory& e) {
        EXPECT_NE(std::string(e.what()).find("16385 x 16385"), std::string::npos) << e.what();
    }
    EXPECT_EQ(document->Image.GetWidth(), 40);
    EXPECT_EQ(document->History.Count(), 0);
    EXPECT_FALSE(document->Modifying);
    // The next resize works as ever.
    ResizeTool->SetNewWidth(20);
    ResizeTool->SetNewHeight(15);
    ResizeTool->Apply();
    EXPECT_EQ(document->Image.GetWidth(), 20);
    EXPECT_EQ(document->History.Count(), 1);
}

// The lossless session must write the resampled pixels, not the top-left
// of the unresized file, and without asking.
TEST_F(ResizeToolTest, ResizeAndJpegSaveWriteTheResampledImageThroughTheSession) {
    TQelGraphicsDocument* document = OpenSessionJpeg(64, 48);
    ASSERT_NE(document, nullptr);
    ResizeTool->SetNewWidth(32);
    ResizeTool->Apply();
    ASSERT_EQ(document->Image.GetHeight(), 24);

    const QString out = Folder.filePath("saved.jpg");
    ASSERT_TRUE(document->SaveAs(out, 0));
    EXPECT_EQ(Formats->Asked, 0);
    const TQelPixelBuffer saved = Decoded(out);
    ASSERT_EQ(saved.GetBounds(), TQelRect(0, 0, 32, 24));
    // Encoded afresh, so compared on average; the top-left of the unresized
    // picture (a steep ramp) would be off by tens of levels.
    EXPECT_LE(Difference(saved, *document->GetPixels()).second, 3);
}

}  // namespace
