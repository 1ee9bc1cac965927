#include <gtest/gtest.h>

#include <QRadioButton>
#include <QSlider>
#include <QTest>
#include <QToolButton>

#include <string>
#include <vector>

#include "../editor/ToolTestSupport.h"
#include "QelDemoHooks.h"
#include "QelDemoPlayback.h"
#include "QelDemoScript.h"
#include "QelImperfectionWandTool.h"
#include "QelMainForm.h"
#include "QelToolPanel.h"

namespace {

const TQelGuid WandGuid = TQelGuid::Parse("{4B694A4A-7983-4F63-B039-8D9EED294710}");
const TQelRGBTriple Grey{200, 200, 200};
const TQelRGBTriple Spot{50, 50, 50};

// 40 x 40 of grey with one dark pixel at (20, 20), the wand current.
class TWandTest : public TToolTest {
protected:
    void SetUp() override {
        TToolTest::SetUp();
        OpenWithSpot(40, 40, 20, 20);
        Wand = AddTool<TQelImperfectionWandTool>();
        Wand->MakeCurrent();
    }
    // W x H of grey with one dark pixel at (X, Y).
    void OpenWithSpot(int32_t w, int32_t h, int32_t x, int32_t y) {
        Open(w, h);
        for (int32_t row = 0; row < h; ++row)
            for (int32_t column = 0; column < w; ++column) SetPixel(column, row, 200, 200, 200);
        SetPixel(x, y, 50, 50, 50);
        Doc->SyncBackup();
    }

    TQelImperfectionWandTool* Wand = nullptr;
};

}  // namespace

TEST_F(TWandTest, DarkModeLiftsADarkSpotInOneUndoableStep) {
    Click(20, 20);
    EXPECT_EQ(CountPixels(Grey), 40 * 40);
    EXPECT_EQ(Doc->History.Count(), 1);
    Doc->History.Undo();
    EXPECT_EQ(Pixel(20, 20), Spot);
}

TEST_F(TWandTest, LightModeKeepsDarkPixelsAndTakesTheRoundedMeanElsewhere) {
    Wand->SetMode(TQelImperfectionWandTool::ModeLight);
    Click(20, 20);
    EXPECT_EQ(Pixel(20, 20), Spot);
    // nearest(17450 / 88): 87 grey pixels and the spot in (21, 20)'s disc.
    EXPECT_EQ(Pixel(21, 20), (TQelRGBTriple{198, 198, 198}));
    // Outside the footprint nothing changed.
    EXPECT_EQ(Pixel(27, 20), Grey);
}

// Every stroke takes the means of the image it starts on, in the memory the
// stroke before it used; the memory goes when the tool is left, when no
// stroke comes for a while and when the document closes.
TEST_F(TWandTest, StrokesShareTheCachesMemoryButNeverItsMeansUntilLeftIdleOrClosed) {
    Wand->SetMode(TQelImperfectionWandTool::ModeLight);
    Click(20, 20);
    EXPECT_EQ(Pixel(21, 20), (TQelRGBTriple{198, 198, 198}));
    const uint8_t* memory = Wand->BlurCache.Bits;
    ASSERT_NE(memory, nullptr);
    Doc->History.Undo();
    // Without the spot the means around it are grey.
    SetPixel(20, 20, 200, 200, 200);
    Doc->SyncBackup();
    Click(20, 20);
    EXPECT_EQ(Pixel(21, 20), Grey);
    EXPECT_EQ(Wand->BlurCache.Bits, memory);
    AddTool<TQelImperfectionWandTool>()->MakeCurrent();
    EXPECT_EQ(Wand->BlurCache.Bits, nullptr);

    Wand->MakeCurrent();
    Wand->BlurCacheIdleMs = 20;
    Click(20, 20);
    ASSERT_NE(Wand->BlurCache.Bits, nullptr);
    EXPECT_TRUE(QTest::qWaitFor([this] { return Wand->BlurCache.Bits == nullptr; }, 5000));

    // A stroke on an image of other bounds sizes the cache anew.
    Wand->BlurCacheIdleMs = 60000;
    Click(20, 20);
    OpenWithSpot(30, 20, 10, 10);
    Wand->CreateControl(View);
    Wand->Activate();
    Click(10, 10);
    EXPECT_EQ(Pixel(11, 10), (TQelRGBTriple{198, 198, 198}));
    EXPECT_EQ(Wand->BlurCache.GetBounds(), TQelRect(0, 0, 30, 20));
    ASSERT_TRUE(Doc->CloseQuery());
    EXPECT_EQ(Wand->BlurCache.Bits, nullptr);
}

TEST_F(TWandTest, ChannelsFollowTheModeAndSoftDabsApproachWithoutOvershoot) {
    // Darker in red, lighter in blue than the grey around it.
    SetPixel(20, 20, 250, 200, 100);
    Doc->SyncBackup();
    Click(20, 20);
    EXPECT_EQ(Pixel(20, 20), (TQelRGBTriple{250, 200, 200}));

    Doc->History.Undo();
    Wand->SetMode(TQelImperfectionWandTool::ModeBoth);
    Wand->SetOpacity(128);
    // Four dabs of one stroke (the press and three moves): each moves half
    // the way, rounded down, never past 200.
    Press(20, 20);
    EXPECT_EQ(Pixel(20, 20).Red, 150);
    const uint8_t expected[] = {175, 187, 193};
    for (uint8_t value : expected) {
        MoveTo(20, 20);
        EXPECT_EQ(Pixel(20, 20).Red, value);
    }
    Release(20, 20);
    EXPECT_EQ(Pixel(20, 20).Blue, 203);
    EXPECT_EQ(Doc->History.Count(), 1);
}

TEST_F(TWandTest, ModesFromSettingsAndScriptsOutsideTheThreeAreRefused) {
    TQelDemoHooks hooks;
    TQelDemoPlayback recorder;
    std::vector<std::string> lines;
    recorder.OnRecordLine = [&](TQelDemoPlayback*, int, const QByteArray& line) { lines.push_back(line.toStdString()); };
    ASSERT_TRUE(recorder.StartRecording(0));
    // A tool made while the hooks exist registers its commands.
    auto* wand = AddTool<TQelImperfectionWandTool>();
    wand->StartRecording(&recorder);

    wand->SetMode(0);
    EXPECT_TRUE(lines.empty());
    wand->SetMode(2);
    EXPECT_EQ(lines, (std::vector<std::string>{"MouseCurvedMove ImperfectionWandBothMode", "ImperfectionWandBothMode"}));
    lines.clear();

    TQelDemoScriptParams params;
    bool handled = false;
    params.ParseText("9");
    hooks.ExecuteCommand(&recorder, "IMPERFECTIONWANDDARKMODE", params, nullptr, handled);
    EXPECT_TRUE(handled);
    EXPECT_EQ(wand->Mode, 2);
    handled = false;
    hooks.ExecuteCommand(&recorder, "IMPERFECTIONWANDLIGHTMODE", TQelDemoScriptParams(), nullptr, handled);
    EXPECT_TRUE(handled);
    EXPECT_EQ(wand->Mode, 1);
    hooks.ExecuteCommand(&recorder, "IMPERFECTIONWANDSHOWOPTIONS", TQelDemoScriptParams(), nullptr, handled);
    EXPECT_TRUE(wand->OptionsShown);
    EXPECT_EQ(lines, (std::vector<std::string>{"MouseCurvedMove ImperfectionWandLightMode", "ImperfectionWandLightMode",
                                               "MouseCurvedMove ImperfectionWandOptions",
                                               "ImperfectionWandShowOptions"}));

    TQelSDFReader reader(SettingsNode(WandGuid, {{5, 7}}));
    wand->LoadSettings(reader);
    EXPECT_EQ(wand->Mode, 1);
    wand->StopRecording(&recorder);
    recorder.StopRecording();
}

TEST_F(TWandTest, SettingsGoThroughTheSettersInOrderAndAllSixAreSaved) {
    TQelSDFReader reader(SettingsNode(WandGuid, {{4, 7}, {1, 20}, {5, 1}, {6, 1}}));
    Wand->LoadSettings(reader);
    // The smoothing is read after the size, which would have reset it.
    EXPECT_EQ(Wand->Size, 20);
    EXPECT_EQ(Wand->Smoothing, 7);
    EXPECT_EQ(Wand->Mode, 1);
    EXPECT_TRUE(Wand->OptionsShown);
    EXPECT_EQ(Wand->Opacity, 255);

    // A node without the mode keeps the present one.
    TQelSDFReader partialReader(SettingsNode(WandGuid, {{2, 90}}));
    Wand->LoadSettings(partialReader);
    EXPECT_EQ(Wand->Mode, 1);
    EXPECT_EQ(Wand->Opacity, 90);

    TQelSDFReader saved(SavedSettings(*Wand));
    ASSERT_TRUE(saved.OpenNode(1, WandGuid));
    EXPECT_EQ(IntegerItemIds(saved), (std::vector<uint32_t>{1, 2, 3, 4, 5, 6}));
    int32_t smoothing = 0;
    EXPECT_TRUE(saved.ReadInteger(4, smoothing));
    EXPECT_EQ(smoothing, 7);
}

TEST_F(TWandTest, FrameFollowsModeAndOptions) {
    App.CreateForm(MainForm);
    App.CreateModule(ToolPanelModule);
    auto* wand = AddTool<TQelImperfectionWandTool>();
    ASSERT_NE(wand->Frame, nullptr);
    ASSERT_NE(wand->Button, nullptr);
    TQelImperfectionWandFrame* frame = wand->Frame;
    EXPECT_TRUE(frame->DarkModeRadioButton->isChecked());
    EXPECT_TRUE(frame->SmoothingTrackBar->isHidden());
    EXPECT_EQ(frame->ShowOptions->text(), "Show More Options");
    frame->ShowOptions->click();
    EXPECT_TRUE(wand->OptionsShown);
    EXPECT_FALSE(frame->SmoothingTrackBar->isHidden());
    EXPECT_FALSE(frame->PreviewAlignmentPanel->isHidden());
    EXPECT_EQ(frame->ShowOptions->text(), "Hide Options");
    frame->BothModeRadioButton->click();
    EXPECT_EQ(wand->Mode, TQelImperfectionWandTool::ModeBoth);
    wand->SetMode(TQelImperfectionWandTool::ModeLight);
    EXPECT_TRUE(frame->LightModeRadioButton->isChecked());
    // The smoothing bar sets the smoothing apart from the size.
    frame->SmoothingTrackBar->setValue(30);
    EXPECT_EQ(wand->Smoothing, 30);
    EXPECT_EQ(wand->Size, 10);
    frame->SizeTrackBar->setValue(12);
    EXPECT_EQ(wand->Smoothing, 12);

    // Scripts find the button on the tool panel by the tool's name.
    MainForm->show();
    QApplication::processEvents();
    TQelDemoScriptParams params;
    params.ParseText("ImperfectionWand");
    QPoint point;
    bool handled = false;
    wand->GetCommandPoint(nullptr, params, point, handled);
    ASSERT_TRUE(handled);
    QWidget* button = ToolPanelModule->Toolbar->WidgetForAction(wand->Button);
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(point, button->mapToGlobal(QPoint(button->width() / 2, button->height() / 2)));
    Tools.clear();
}
