#include <gtest/gtest.h>

#include <QLabel>
#include <QToolButton>

#include <cmath>
#include <cstring>
#include <vector>

#include "../editor/ToolTestSupport.h"
#include "QelMainForm.h"
#include "QelToolPanel.h"
#include "QelUndoBrushTool.h"

namespace {

const TQelGuid UndoBrushGuid = TQelGuid::Parse("{F4389003-82F6-42DE-8590-E63FF2CA7BF6}");
const TQelRGBTriple Grey{200, 200, 200};
const TQelRGBTriple Black{0, 0, 0};

// A 40 x 40 grey image whose original is black, the undo brush current.
class TUndoBrushTest : public TToolTest {
protected:
    void SetUp() override {
        TToolTest::SetUp();
        Open(40, 40);
        for (int32_t y = 0; y < 40; ++y)
            for (int32_t x = 0; x < 40; ++x) SetPixel(x, y, 200, 200, 200);
        Doc->SyncBackup();
        ASSERT_TRUE(Doc->OriginalImage.SetSize(40, 40, QelFormatBGR24));
        Brush = AddTool<TQelUndoBrushTool>();
        Brush->MakeCurrent();
    }

    TQelUndoBrushTool* Brush = nullptr;
};

}  // namespace

TEST_F(TUndoBrushTest, AHardFullBrushShowsTheOriginalExactlyInItsDisc) {
    Click(20, 20);
    for (int32_t y = 0; y < 40; ++y)
        for (int32_t x = 0; x < 40; ++x)
            if (std::hypot(x - 20.0, y - 20.0) < 4.5) {
                EXPECT_EQ(Pixel(x, y), Black) << x << "," << y;
            }
    EXPECT_EQ(Pixel(27, 20), Grey);
    EXPECT_EQ(Doc->History.Count(), 1);
    Doc->History.Undo();
    EXPECT_EQ(CountPixels(Grey), 40 * 40);
}

TEST_F(TUndoBrushTest, DabsOfOneStrokeTakeTheLargestCoverageNeverTheirSum) {
    Brush->SetOpacity(100);
    Press(20, 20);
    MoveTo(20, 20);
    // 200 + floor(100 * (0 - 200) / 256), however often the dab repeats.
    EXPECT_EQ(Pixel(20, 20), (TQelRGBTriple{121, 121, 121}));
    Brush->SetOpacity(150);
    MoveTo(20, 20);
    EXPECT_EQ(Pixel(20, 20), (TQelRGBTriple{82, 82, 82}));
    Brush->SetOpacity(100);
    MoveTo(20, 20);
    EXPECT_EQ(Pixel(20, 20), (TQelRGBTriple{82, 82, 82}));
    Release(20, 20);
    EXPECT_EQ(Doc->History.Count(), 1);
}

TEST_F(TUndoBrushTest, AnUneditedImageStaysByteForByte) {
    for (int32_t y = 0; y < 40; ++y)
        for (int32_t x = 0; x < 40; ++x) SetPixel(x, y, uint8_t(x * 6), uint8_t(y * 6), uint8_t(x + y));
    Doc->SyncBackup();
    for (int32_t y = 0; y < 40; ++y)
        std::memcpy(Doc->OriginalImage.GetPixels()->PixelAddress(0, y), Doc->GetPixels()->PixelAddress(0, y), 40 * 3);
    Brush->SetHardness(100);
    Press(5, 5);
    MoveTo(20, 20);
    MoveTo(38, 30);
    Release(38, 30);
    EXPECT_TRUE(BackupMatchesImage());
    for (int32_t y = 0; y < 40; ++y)
        EXPECT_EQ(std::memcmp(Doc->OriginalImage.GetPixels()->PixelAddress(0, y), Doc->GetPixels()->PixelAddress(0, y),
                              40 * 3),
                  0);
}

TEST_F(TUndoBrushTest, SettingsRestoreOnlyTheSizeWhenAskedAndSaveAllFour) {
    const std::vector<uint8_t> stored = SettingsNode(UndoBrushGuid, {{1, 30}, {2, 10}, {3, 40}, {4, 1}});
    Brush->SetRestoreSizeOnly(true);
    TQelSDFReader reader(stored);
    Brush->LoadSettings(reader);
    EXPECT_EQ(Brush->Size, 30);
    EXPECT_EQ(Brush->Opacity, 255);
    EXPECT_EQ(Brush->Hardness, 255);
    EXPECT_FALSE(Brush->OptionsShown);
    Brush->SetRestoreSizeOnly(false);
    TQelSDFReader again(stored);
    Brush->LoadSettings(again);
    EXPECT_EQ(Brush->Opacity, 10);
    EXPECT_EQ(Brush->Hardness, 40);
    EXPECT_TRUE(Brush->OptionsShown);

    // Every item, also at the defaults.
    auto* fresh = AddTool<TQelUndoBrushTool>();
    TQelSDFReader check(SavedSettings(*fresh));
    ASSERT_TRUE(check.OpenNode(1, UndoBrushGuid));
    EXPECT_EQ(IntegerItemIds(check), (std::vector<uint32_t>{1, 2, 3, 4}));
}

TEST_F(TUndoBrushTest, FrameShowsTheSizeAndHidesTheOptions) {
    App.CreateForm(MainForm);
    App.CreateModule(ToolPanelModule);
    auto* brush = AddTool<TQelUndoBrushTool>();
    ASSERT_NE(brush->Frame, nullptr);
    TQelUndoBrushFrame* frame = brush->Frame;
    EXPECT_TRUE(frame->PreviewAlignmentPanel->isHidden());
    EXPECT_EQ(frame->ShowOptions->text(), "Show More Options");
    frame->ShowOptions->click();
    EXPECT_FALSE(frame->HardnessLabel->isHidden());
    EXPECT_EQ(frame->ShowOptions->text(), "Hide Options");
    brush->SetSize(17);
    brush->UpdateControls();
    EXPECT_EQ(frame->SizeLabel->text(), "Size: 17");
    Tools.clear();
}
