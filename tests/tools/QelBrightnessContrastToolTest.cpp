#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QToolButton>

#include "AdjustToolFixture.h"
#include "SettingsBytes.h"
#include "QelBrightnessContrastTool.h"
#include "QelToneCurve.h"

namespace {

TQelToneTable Table(int32_t b, int32_t c) {
    const auto points = TQelBrightnessContrastTool::ManualPoints(b, c);
    TQelToneTable table;
    EXPECT_TRUE(BuildToneCurve(points, 255, table));
    return table;
}

TEST(ToneCurveTest, LinesClampAndRoundHalvesToEven) {
    TQelToneTable t = Table(10, 0);
    ASSERT_EQ(t.size(), 256u);
    EXPECT_EQ(t[0], 10);
    EXPECT_EQ(t[245], 255);
    EXPECT_EQ(t[250], 255);
    t = Table(0, 127);
    EXPECT_EQ(t[127], 0);
    EXPECT_EQ(t[128], 255);
    t = Table(0, -127);
    for (int i = 0; i < 256; ++i) EXPECT_EQ(t[size_t(i)], i <= 127 ? 127 : 128) << i;
    t = Table(0, 64);
    EXPECT_EQ(t[126], 124);
    EXPECT_EQ(t[127], 126);
    EXPECT_EQ(t[128], 129);

    EXPECT_EQ(ClampNearest(255, 2.5), 2);
    EXPECT_EQ(ClampNearest(255, 3.5), 4);
    EXPECT_EQ(ClampNearest(255, -0.4), 0);
    EXPECT_EQ(ClampNearest(255, 300), 255);

    const TQelCurvePoint three[] = {{0, 0}, {1, 1}, {2, 2}};
    t.assign(4, 9);
    EXPECT_FALSE(BuildToneCurve(three, 255, t));
    EXPECT_TRUE(t.empty());
    double slope = 0, intercept = 0;
    EXPECT_FALSE(LineFromPoints({5, 0}, {5, 255}, slope, intercept));
    EXPECT_TRUE(std::isinf(slope) && slope > 0);
    EXPECT_TRUE(std::isinf(intercept) && intercept < 0);
    const TQelCurvePoint vertical[] = {{5, 0}, {5, 255}};
    ASSERT_TRUE(BuildToneCurve(vertical, 255, t));
    EXPECT_EQ(t, TQelToneTable(256, 0));
}

// An exclusive tool that leaves its change running, as hand in-painting
// does while a patch is pending.
class TPendingTool : public TQelGraphicsTool {
public:
    TPendingTool() { Exclusive = true; }
    void Paint(TQelGraphicsView* view) {
        BeginModification(view);
        CurrentPixels->PixelAddress(0, 0)[0] = 222;
        AddModifiedRect(TQelRect(0, 0, 1, 1));
    }
};

class BrightnessContrastToolTest : public TAdjustToolTest {
protected:
    void SetUp() override {
        TAdjustToolTest::SetUp();
        AddTool(BrightnessContrastTool);
        Editor->SetActiveTool(BrightnessContrastTool);
    }
    TQelBrightnessContrastFrame* Frame() const { return BrightnessContrastTool->Frame; }
    // A picture of the given pixels (B, G, R) in one row.
    TQelGraphicsDocument* OpenRow(std::initializer_list<TQelRGBTriple> pixels) {
        QImage image(int(pixels.size()), 1, QImage::Format_RGB888);
        int x = 0;
        for (const TQelRGBTriple& p : pixels) image.setPixelColor(x++, 0, QColor(p.Red, p.Green, p.Blue));
        return OpenImage(image, "row.png");
    }
};

TEST_F(BrightnessContrastToolTest, PreviewsFromTheBackupAndCommitsOrCancels) {
    TQelGraphicsDocument* document = OpenPattern(40, 30);
    BrightnessContrastTool->SetOptionsShown(true);
    Frame()->BrightnessTrackBar->setValue(10);
    EXPECT_EQ(BrightnessContrastTool->Brightness, 10);
    EXPECT_EQ(PixelOf(document->GetPixels(), 5, 6), (TQelRGBTriple{15, 16, 17}));
    // Changes never compound: every preview starts from the backup.
    Frame()->BrightnessTrackBar->setValue(20);
    EXPECT_EQ(PixelOf(document->GetPixels(), 5, 6), (TQelRGBTriple{25, 26, 27}));
    EXPECT_FALSE(Editor->CanUndo());
    App.DoIdle();
    EXPECT_TRUE(Frame()->OkButton->isEnabled());
    Frame()->CancelButton->click();
    EXPECT_EQ(PixelOf(document->GetPixels(), 5, 6), (TQelRGBTriple{5, 6, 7}));
    EXPECT_EQ(document->History.Count(), 0);
    EXPECT_EQ(BrightnessContrastTool->Brightness, 0);
    EXPECT_EQ(Frame()->BrightnessTrackBar->value(), 0);
    App.DoIdle();
    EXPECT_FALSE(Frame()->OkButton->isEnabled());

    Frame()->ContrastTrackBar->setValue(64);
    App.DoIdle();
    Frame()->OkButton->click();
    EXPECT_EQ(document->History.Count(), 1);
    EXPECT_FALSE(document->Modifying);
    EXPECT_EQ(BrightnessContrastTool->Contrast, 0);
    EXPECT_EQ(Frame()->ContrastTrackBar->value(), 0);
    Editor->UndoClick(nullptr);
    EXPECT_EQ(PixelOf(document->GetPixels(), 5, 6), (TQelRGBTriple{5, 6, 7}));

    // Closing the document while previewing commits the preview.
    BrightnessContrastTool->SetBrightness(30);
    Scripted.Answers.push_back(IDNO);
    ASSERT_TRUE(document->CloseQuery());
    EXPECT_EQ(BrightnessContrastTool->Brightness, 0);
    EXPECT_EQ(BrightnessContrastTool->RunningDocument, nullptr);
}

TEST_F(BrightnessContrastToolTest, AutoCorrectionScansInOrderAndKeepsItsValues) {
    // Only black and white: the identity, one undo step without options.
    TQelGraphicsDocument* document = OpenRow({{0, 0, 0}, {255, 255, 255}, {0, 0, 0}});
    Frame()->AutoCorrectionButton->click();
    EXPECT_EQ(document->History.Count(), 1);
    EXPECT_FALSE(document->Modifying);
    EXPECT_EQ(PixelOf(document->GetPixels(), 1, 0), (TQelRGBTriple{255, 255, 255}));
    EXPECT_EQ(Frame()->BrightnessTrackBar->value(), 0);
    EXPECT_EQ(Frame()->ContrastTrackBar->value(), 0);

    // The darkest pixel comes before the brightest: the curve falls, and
    // the values lie beyond the track bars.
    document = OpenRow({{0, 0, 255}, {200, 0, 0}, {10, 255, 255}});
    BrightnessContrastTool->SetOptionsShown(true);
    EXPECT_TRUE(Command("BrightnessContrastAutoCorrection"));
    EXPECT_EQ(BrightnessContrastTool->Contrast, 223);
    EXPECT_EQ(BrightnessContrastTool->Brightness, 22);
    EXPECT_EQ(Frame()->ContrastTrackBar->value(), 127);
    EXPECT_EQ(Frame()->BrightnessTrackBar->value(), 22);
    EXPECT_TRUE(document->Modifying);
    // lo 200, hi 10: input 0 becomes 255, 200 becomes 0.
    EXPECT_EQ(PixelOf(document->GetPixels(), 1, 0), (TQelRGBTriple{0, 255, 255}));
    App.DoIdle();
    Frame()->OkButton->click();
    EXPECT_EQ(document->History.Count(), 1);

    // One grey: a vertical line, which leaves the picture as it is.
    QImage grey(8, 8, QImage::Format_RGB888);
    grey.fill(QColor(90, 90, 90));
    document = OpenImage(grey, "grey.png");
    BrightnessContrastTool->SetOptionsShown(false);
    Frame()->AutoCorrectionButton->click();
    EXPECT_EQ(PixelOf(document->GetPixels(), 3, 3), (TQelRGBTriple{90, 90, 90}));
}

TEST_F(BrightnessContrastToolTest, ScriptsNeedADocumentAndNeverJoinAnotherToolsChange) {
    EXPECT_TRUE(Command("BrightnessContrastBrightness 10"));
    EXPECT_TRUE(Command("BrightnessContrastAutoCorrection"));
    EXPECT_EQ(BrightnessContrastTool->Brightness, 0);

    TPendingTool* pending = nullptr;
    AddTool(pending);
    TQelGraphicsDocument* document = OpenPattern(20, 10);
    EXPECT_EQ(BrightnessContrastTool->Brightness, 0);
    pending->Paint(View());
    EXPECT_TRUE(Command("BrightnessContrastBrightness 10"));
    EXPECT_TRUE(Command("BrightnessContrastAutoCorrection"));
    EXPECT_EQ(document->ModifyingTool, pending);
    EXPECT_EQ(BrightnessContrastTool->Brightness, 0);
    EXPECT_EQ(PixelOf(document->GetPixels(), 0, 0).Blue, 222);
    EXPECT_EQ(PixelOf(document->GetPixels(), 4, 4), (TQelRGBTriple{4, 4, 7}));
    App.DoIdle();
    EXPECT_FALSE(BrightnessContrastTool->Button->isEnabled());
    pending->FinishModification();
    EXPECT_TRUE(Command("BrightnessContrastBrightness 10"));
    EXPECT_EQ(PixelOf(document->GetPixels(), 4, 4), (TQelRGBTriple{14, 14, 17}));
}

TEST_F(BrightnessContrastToolTest, SettingsLayoutAndRecording) {
    const std::vector<uint8_t> expected = {0xD5, 0x01, 0x0D, 0x10, 0x7E, 0xC6, 0x95, 0xB3, 0x62,
                                           0x24, 0xDD, 0x4F, 0x8B, 0xAD, 0x86, 0x40, 0xA1, 0xA1,
                                           0xEE, 0xDB, 0x55, 0x01, 0x01, 0x01, 0x00, 0x00};
    EXPECT_EQ(SavedSettings(*BrightnessContrastTool), expected);
    // Only the button and the link show until the options are shown.
    EXPECT_TRUE(Frame()->BrightnessTrackBar->isHidden());
    EXPECT_TRUE(Frame()->OkPanel->isHidden());
    EXPECT_FALSE(Frame()->AutoCorrectionPanel->isHidden());
    std::vector<uint8_t> shown = expected;
    shown[24] = 1;
    TQelSDFReader reader(shown);
    BrightnessContrastTool->LoadSettings(reader);
    EXPECT_FALSE(Frame()->BrightnessTrackBar->isHidden());
    EXPECT_EQ(Frame()->ShowOptions->text(), "Hide Options");

    OpenPattern(10, 10);
    TRecording recording(App);
    Frame()->ContrastTrackBar->setValue(5);
    App.DoIdle();
    Frame()->OkButton->click();
    Frame()->ShowOptions->click();
    EXPECT_EQ(recording.Lines,
              QByteArrayList({"BrightnessContrastContrast 5", "MouseCurvedMove BrightnessContrastPerform",
                              "BrightnessContrastPerform", "MouseCurvedMove BrightnessContrastOptions",
                              "BrightnessContrastHideOptions"}));
}

}  // namespace
