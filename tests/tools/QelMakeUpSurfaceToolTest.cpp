#include <gtest/gtest.h>

#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QSlider>
#include <QToolButton>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "../editor/ToolTestSupport.h"
#include "QelCursors.h"
#include "QelDemoHooks.h"
#include "QelDemoPlayback.h"
#include "QelDemoScript.h"
#include "QelError.h"
#include "QelEyeColorTool.h"
#include "QelLipstickTool.h"
#include "QelPowderTool.h"
#include "QelRotateTool.h"
#include "QelRougeTool.h"
#include "QelTeethBleachTool.h"
#include "Spectrum.h"

namespace {

TQelRGBTriple Rgb(uint8_t r, uint8_t g, uint8_t b) { return TQelRGBTriple{b, g, r}; }

class TMakeUpToolTest : public TToolTest {
protected:
    void SetUp() override {
        Spectrum.Layer.Free();
        Spectrum.Layer.MemoryLimit = UINT64_MAX;
        Spectrum.Stale = false;
        Spectrum.FailureReported = false;
        Spectrum.ClearChanges();
        Spectrum.WholeChanged = true;
        TToolTest::SetUp();
    }
    void TearDown() override {
        TToolTest::TearDown();
        Spectrum.Layer.Free();
        Spectrum.Layer.MemoryLimit = UINT64_MAX;
    }
    // A w x h image of one grey (or colour), opened as the tools hear of it.
    void OpenFilled(int32_t w, int32_t h, uint8_t r, uint8_t g, uint8_t b) {
        Editor.Documents.clear();
        Open(w, h);
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) SetPixel(x, y, b, g, r);
        Doc->SyncBackup();
        for (auto& tool : Tools) {
            tool->CreateControl(View);
            tool->DocumentOpened(Doc);
        }
    }
    void OpenTextured(int32_t w, int32_t h) {
        OpenFilled(w, h, 0, 0, 0);
        std::mt19937 rng(5);
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x)
                SetPixel(x, y, uint8_t(60 + rng() % 120), uint8_t(60 + rng() % 120), uint8_t(60 + rng() % 120));
        Doc->SyncBackup();
    }
    template <class T>
    T* AddMakeUp() {
        T* tool = AddTool<T>();
        tool->DocumentOpened(Doc);
        Editor.SetActiveTool(tool);
        return tool;
    }
    TQelMakeUpSurfaceToolControl* ControlOf(TQelGraphicsTool* tool) {
        for (int i = 0; i < tool->GetControlCount(); ++i)
            if (auto* c = dynamic_cast<TQelMakeUpSurfaceToolControl*>(tool->GetControl(i)); c && c->View == View)
                return c;
        return nullptr;
    }
    std::vector<uint8_t> Snapshot() const {
        const TQelPixels* p = Doc->GetPixels();
        std::vector<uint8_t> bytes;
        for (int32_t y = 0; y < p->Height; ++y)
            bytes.insert(bytes.end(), p->PixelAddress(0, y), p->PixelAddress(0, y) + p->Width * 3);
        return bytes;
    }
};

}  // namespace

// --- Frames -------------------------------------------------------------------------

TEST_F(TMakeUpToolTest, FramesHideWhatTheirToolCannotChange) {
    TQelMakeUpSurfaceTool* tools[] = {AddTool<TQelLipstickTool>(), AddTool<TQelEyeColorTool>(),
                                      AddTool<TQelPowderTool>(), AddTool<TQelRougeTool>(),
                                      AddTool<TQelTeethBleachTool>()};
    for (TQelMakeUpSurfaceTool* t : tools) {
        SCOPED_TRACE(t->Name.constData());
        EXPECT_EQ(t->Frame->TintTBXCheckBox->isChecked(), t->Mode == 2);
        EXPECT_TRUE(t->Frame->TintTBXCheckBox->isHidden());
        EXPECT_TRUE(t->Frame->OpacityTrackBar->isHidden());
        EXPECT_TRUE(t->Frame->HardnessLabel->isHidden());
        const bool teeth = t == tools[4];
        EXPECT_EQ(t->Frame->PaletteTntPaintBox->isHidden(), teeth);
        EXPECT_EQ(t->Frame->TBXAlignmentPanel->isHidden(), teeth);
        EXPECT_EQ(t->Frame->BrightnessTrackBar->isHidden(), teeth);
    }
}

// --- Strokes --------------------------------------------------------------------------

TEST_F(TMakeUpToolTest, LipstickOnAUniformImageGivesThePaletteColourFallingOffAtTheEdge) {
    OpenFilled(40, 40, 100, 100, 100);
    auto* tool = AddMakeUp<TQelLipstickTool>();
    MoveTo(20, 20);
    EXPECT_FALSE(Spectrum.Stale);
    EXPECT_TRUE(Spectrum.Layer.Fits(*Doc->GetPixels()));
    Click(20, 20);
    EXPECT_EQ(Pixel(20, 20), Rgb(128, 64, 64));
    // Coverage 170 at four pixels from the middle with hardness 191.
    EXPECT_EQ(Pixel(24, 20), Rgb(119, 76, 76));
    for (int32_t y = 0; y < 40; ++y)
        for (int32_t x = 0; x < 40; ++x)
            if (std::hypot(x - 20, y - 20) > 5.5) {
                ASSERT_EQ(Pixel(x, y), Rgb(100, 100, 100)) << x << ", " << y;
            }
    EXPECT_EQ(Doc->History.Count(), 1);
    EXPECT_TRUE(BackupMatchesImage());
    // The right button never paints.
    const std::vector<uint8_t> before = Snapshot();
    MoveTo(10, 10);
    Pressed = Qt::RightButton;
    Mouse(QEvent::MouseButtonPress, At(10, 10), Qt::RightButton);
    Release(10, 10);
    EXPECT_EQ(Snapshot(), before);
    EXPECT_EQ(Doc->History.Count(), 1);
    EXPECT_EQ(tool->PickMode, false);
}

TEST_F(TMakeUpToolTest, APressWithoutAnyMoveBuildsTheLayerFirst) {
    OpenFilled(40, 40, 100, 100, 100);
    // A layer of another image size is left from before.
    TQelPixelBuffer small;
    small.Allocate(QelFormatBGR24, TQelRect(0, 0, 7, 5));
    Spectrum.Layer.Build(small);
    Spectrum.Stale = false;
    auto* tool = AddMakeUp<TQelLipstickTool>();
    const int32_t builds = Spectrum.Layer.BuildCount;
    ControlOf(tool)->SetBrushPos(TQelPoint{20, 20});
    Pressed = Qt::LeftButton;
    Mouse(QEvent::MouseButtonPress, At(20, 20));
    Release(20, 20);
    EXPECT_EQ(Spectrum.Layer.BuildCount, builds + 1);
    EXPECT_TRUE(Spectrum.Layer.Fits(*Doc->GetPixels()));
    EXPECT_EQ(Pixel(20, 20), Rgb(128, 64, 64));
    EXPECT_EQ(Pixel(24, 20), Rgb(119, 76, 76));
}

TEST_F(TMakeUpToolTest, TheLayerOutlivesMakeUpStrokesAndTheirUndoButNotOtherChanges) {
    OpenTextured(48, 48);
    auto* tool = AddMakeUp<TQelLipstickTool>();
    MoveTo(24, 24);
    const int32_t builds = Spectrum.Layer.BuildCount;
    Click(24, 24);
    // Full coverage: the palette colour plus the detail of the image below.
    const TQelRGBTriple first = Pixel(24, 24);
    const float* d = Spectrum.Layer.Row(24) + 24 * 3;
    EXPECT_EQ(first, Rgb(uint8_t(std::nearbyint(128 + d[2])), uint8_t(std::nearbyint(64 + d[1])),
                         uint8_t(std::nearbyint(64 + d[0]))));
    const std::vector<uint8_t> once = Snapshot();
    // The second stroke uses the detail of the first image state, so its
    // full-coverage pixels come out the same.
    MoveTo(24, 25);
    MoveTo(24, 24);
    Click(24, 24);
    for (int32_t y = 22; y <= 26; ++y)
        for (int32_t x = 22; x <= 26; ++x) {
            const uint8_t* was = &once[size_t(y * 48 + x) * 3];
            EXPECT_EQ(Pixel(x, y), (TQelRGBTriple{was[0], was[1], was[2]})) << x << ", " << y;
        }
    Doc->History.Undo();
    Doc->History.Redo();
    Doc->History.Undo();
    MoveTo(20, 20);
    EXPECT_FALSE(Spectrum.Stale);
    EXPECT_EQ(Spectrum.Layer.BuildCount, builds);

    // Any other tool's change makes it stale, and so does its undo; the next
    // move builds it again.
    auto* other = AddTool<TInvertTool>();
    Doc->AddCommandState(std::make_unique<TQelGraphicsCommandState>(other, TQelRect(0, 0, 4, 4), Doc));
    EXPECT_TRUE(Spectrum.Stale);
    MoveTo(21, 20);
    EXPECT_EQ(Spectrum.Layer.BuildCount, builds + 1);
    Doc->History.Undo();
    EXPECT_TRUE(Spectrum.Stale);
    (void)tool;
}

TEST_F(TMakeUpToolTest, TheLayerGoesWithTheDocumentItWasBuiltFor) {
    OpenFilled(40, 40, 100, 100, 100);
    AddMakeUp<TQelLipstickTool>();
    AddMakeUp<TQelPowderTool>();
    Click(20, 20);
    ASSERT_TRUE(Spectrum.Layer.Fits(*Doc->GetPixels()));
    TQelGraphicsDocument* photo = Doc;
    // Another document closing leaves it.
    Open(30, 30);
    ASSERT_TRUE(Doc->CloseQuery());
    EXPECT_TRUE(Spectrum.Layer.Fits(*photo->GetPixels()));
    ASSERT_TRUE(photo->CloseQuery());
    EXPECT_TRUE(Spectrum.Layer.IsEmpty());
    EXPECT_TRUE(Spectrum.Stale);
}

TEST_F(TMakeUpToolTest, ALayerRebuiltAroundTheChangesEqualsAWholeBuildOfTheImage) {
    OpenTextured(60, 200);
    AddMakeUp<TQelLipstickTool>();
    MoveTo(30, 30);
    auto same = [this] {
        TQelDetailLayer whole;
        whole.Build(Doc->Backup);
        for (int32_t y = 0; y < whole.Height(); ++y)
            if (std::memcmp(whole.Row(y), Spectrum.Layer.Row(y), size_t(whole.Width()) * 3 * sizeof(float)))
                return false;
        return Spectrum.Layer.Fits(Doc->Backup);
    };
    // A make-up stroke far from the later change keeps the layer, yet the
    // rebuild after that change must take in the stroke's rows as well.
    Click(30, 30);
    auto* other = AddTool<TInvertTool>();
    for (int32_t y = 150; y < 160; ++y)
        for (int32_t x = 0; x < 10; ++x) SetPixel(x, y, 1, 2, 3);
    Doc->SyncBackup();
    Doc->AddCommandState(std::make_unique<TQelGraphicsCommandState>(other, TQelRect(0, 150, 10, 160), Doc));
    MoveTo(31, 30);
    EXPECT_FALSE(Spectrum.Stale);
    EXPECT_TRUE(same());

    // A flip names only the selection, yet every row moved.
    auto* rotate = AddTool<TQelRotateTool>();
    Doc->FlipVertical();
    Doc->AddCommandState(std::make_unique<TQelGraphicsCommandState>(rotate, TQelRect(0, 0, 5, 5), Doc));
    MoveTo(30, 30);
    EXPECT_TRUE(same());
}

TEST_F(TMakeUpToolTest, ColorModeKeepsThePixelsBrightnessAndBlackStaysBlack) {
    OpenFilled(30, 30, 100, 100, 100);
    SetPixel(15, 15, 0, 0, 0);
    Doc->SyncBackup();
    auto* tool = AddMakeUp<TQelEyeColorTool>();
    MoveTo(15, 15);
    Click(15, 15);
    EXPECT_EQ(Pixel(15, 15), Rgb(0, 0, 0));
    // (255, 128, 128) given the brightness 100.
    EXPECT_EQ(Pixel(16, 15), Rgb(100, 50, 50));
    // Luminosity: the pixel's colour given the palette's brightness.
    tool->SetMode(TQelMakeUpSurfaceTool::ModeLuminosity);
    tool->Palette.SetColor(0x808080);
    MoveTo(5, 5);
    Click(5, 5);
    EXPECT_EQ(Pixel(5, 5), Rgb(128, 128, 128));
}

// --- Colour pick --------------------------------------------------------------------------

TEST_F(TMakeUpToolTest, PickModeTakesTheColourFromTheImageWithoutAnUndoStep) {
    TQelDemoHooks hooks;
    OpenFilled(40, 40, 200, 100, 50);
    auto* tool = AddMakeUp<TQelLipstickTool>();
    TQelDemoScriptParams params;
    params.ParseText("1");
    bool handled = false;
    hooks.ExecuteCommand(nullptr, "LIPSTICKCOLORSELECTOR", params, nullptr, handled);
    ASSERT_TRUE(handled);
    EXPECT_TRUE(tool->PickMode);
    EXPECT_TRUE(tool->Frame->ColorSelectorTntSpeedButton->isChecked());
    int16_t cursor = 0;
    EXPECT_TRUE(ControlOf(tool)->GetCursor(0, TQelPoint{}, cursor));
    EXPECT_EQ(cursor, ColorSelectorCursor);

    tool->Frame->GreenTntSpeedButton->click();
    ASSERT_EQ(tool->Palette.GetMode(), TMakeUpPalette::ModeGreen);
    const std::vector<uint8_t> before = Snapshot();
    MoveTo(20, 20);
    Click(20, 20);
    EXPECT_EQ(tool->Palette.GetColorBytes(), Rgb(200, 100, 50));
    EXPECT_EQ(tool->BrightnessTrackBar->value(), 200);
    EXPECT_TRUE(tool->Frame->RedTntSpeedButton->isChecked());
    EXPECT_EQ(Doc->History.Count(), 0);
    EXPECT_FALSE(tool->PickMode);
    EXPECT_FALSE(tool->Frame->ColorSelectorTntSpeedButton->isChecked());
    EXPECT_EQ(Snapshot(), before);

    // Outside the work rectangle (the selection) a pick does nothing.
    for (int32_t y = 0; y < 40; ++y)
        for (int32_t x = 0; x < 10; ++x) SetPixel(x, y, 0, 0, 255);
    Doc->SyncBackup();
    Doc->SetSelectionRect(TQelRect(20, 0, 40, 40));
    tool->SetPickMode(true);
    MoveTo(5, 20);
    Click(5, 20);
    EXPECT_EQ(tool->Palette.GetColorBytes(), Rgb(200, 100, 50));
    EXPECT_EQ(Doc->History.Count(), 0);

    // A black pick leaves a sound marker.
    Doc->ClearSelection();
    OpenFilled(40, 40, 0, 0, 0);
    Editor.SetActiveTool(tool);
    tool->SetPickMode(true);
    MoveTo(20, 20);
    Click(20, 20);
    EXPECT_EQ(tool->Palette.GetColorBytes(), Rgb(0, 0, 0));
    EXPECT_EQ(tool->Palette.GetLevel(), 0);
    EXPECT_EQ(tool->Palette.GetMarker(), (TQelPoint{128, 64}));
}

TEST_F(TMakeUpToolTest, AltPTogglesPickingOnlyWhileActiveAndRecordsIt) {
    TQelDemoPlayback recorder;
    std::vector<std::string> lines;
    recorder.OnRecordLine = [&](TQelDemoPlayback*, int, const QByteArray& line) { lines.push_back(line.toStdString()); };
    ASSERT_TRUE(recorder.StartRecording(0));
    auto* tool = AddMakeUp<TQelLipstickTool>();
    auto* other = AddMakeUp<TQelPowderTool>();
    tool->StartRecording(&recorder);
    uint16_t key = 80;
    EXPECT_FALSE(ControlOf(tool)->KeyDown(key, ssAlt));
    auto claimed = [this](Qt::KeyboardModifiers modifiers) {
        QKeyEvent e(QEvent::ShortcutOverride, Qt::Key_P, modifiers);
        e.ignore();
        QApplication::sendEvent(View, &e);
        return e.isAccepted();
    };
    EXPECT_FALSE(tool->PickMode);
    Editor.SetActiveTool(nullptr);
    EXPECT_FALSE(claimed(Qt::AltModifier));
    Editor.SetActiveTool(tool);
    // Claimed before the menus see it, and the key reaches the control.
    EXPECT_TRUE(claimed(Qt::AltModifier));
    EXPECT_FALSE(claimed(Qt::AltModifier | Qt::ShiftModifier));
    EXPECT_FALSE(ControlOf(tool)->KeyDown(key, ssAlt | ssCtrl));
    EXPECT_TRUE(ControlOf(tool)->KeyDown(key, ssAlt));
    EXPECT_TRUE(tool->PickMode);
    EXPECT_TRUE(ControlOf(tool)->KeyDown(key, ssAlt));
    EXPECT_FALSE(tool->PickMode);
    EXPECT_FALSE(other->PickMode);

    // The palette plane and the brightness record their lines too.
    tool->SetPalettePoint(300, -4);
    EXPECT_EQ(tool->Palette.GetMarker(), (TQelPoint{255, 0}));
    tool->Frame->BlueTntSpeedButton->click();
    EXPECT_EQ(tool->Palette.GetMode(), TMakeUpPalette::ModeBlue);
    tool->SetBrightnessPosition(90);
    EXPECT_EQ(tool->Palette.GetLevel(), 90);
    EXPECT_EQ(lines, (std::vector<std::string>{"LipstickColorSelector 1", "LipstickColorSelector 0",
                                               "MouseCurvedMove LipstickPalette", "LipstickPalette 300 ,-4",
                                               "MouseCurvedMove LipstickBlue", "LipstickBlue",
                                               "LipstickBrightness 90"}));
    EXPECT_EQ(Editor.Panel(TQelGraphicsStatusPanel::R), "128");
}

// --- Settings -------------------------------------------------------------------------------

TEST_F(TMakeUpToolTest, SettingsKeepSizeAndColourAsAPlatformColourValue) {
    auto* tool = AddMakeUp<TQelLipstickTool>();
    TQelSDFReader reader(SavedSettings(*tool));
    ASSERT_TRUE(reader.OpenNode(1, TQelGuid::Parse("{71975188-C192-4136-A3D0-25A2AFF45335}")));
    int32_t value = 0;
    ASSERT_TRUE(reader.ReadInteger(1, value));
    EXPECT_EQ(value, 10);
    ASSERT_TRUE(reader.ReadInteger(4, value));
    EXPECT_EQ(value, 0x00404080);
    EXPECT_FALSE(reader.ReadInteger(2, value));

    auto load = [&](std::initializer_list<std::pair<uint32_t, int32_t>> items) {
        TQelSDFReader in(SettingsNode(tool->GetSettingsGUID(), items));
        tool->LoadSettings(in);
    };
    tool->Frame->BlueTntSpeedButton->click();
    load({{1, 30}, {4, 0x00326496}});
    EXPECT_EQ(tool->Size, 30);
    EXPECT_EQ(tool->Palette.GetColorBytes(), Rgb(150, 100, 50));
    EXPECT_EQ(tool->Palette.GetLevel(), 150);
    EXPECT_EQ(tool->Palette.GetMode(), TMakeUpPalette::ModeRed);
    EXPECT_EQ(tool->BrightnessTrackBar->value(), 150);
    EXPECT_TRUE(tool->Frame->RedTntSpeedButton->isChecked());
    // A node without the colour, or with a size out of range, keeps them.
    load({{1, 500}});
    EXPECT_EQ(tool->Palette.GetColorBytes(), Rgb(150, 100, 50));
    EXPECT_EQ(tool->Size, 30);
    // Black from an untouched brightness of 0 places nothing by dividing 0.
    load({{1, 30}, {4, 0}});
    EXPECT_EQ(tool->Palette.GetColorBytes(), Rgb(0, 0, 0));
}

// --- Failed builds ---------------------------------------------------------------------------

TEST_F(TMakeUpToolTest, AFailedBuildFreesTheLayerIsReportedOnceAndStrokesGoOnWithoutDetail) {
    OpenFilled(40, 40, 100, 100, 100);
    auto* tool = AddMakeUp<TQelLipstickTool>();
    auto* control = ControlOf(tool);
    Spectrum.Layer.Build(*Doc->GetPixels());
    Spectrum.Stale = true;
    Spectrum.Layer.MemoryLimit = 1000;
    const TQelPoint at{At(20, 20).x(), At(20, 20).y()};
    EXPECT_THROW(control->MouseMove(0, at), EQelOutOfMemory);
    EXPECT_TRUE(Spectrum.Layer.IsEmpty());
    EXPECT_TRUE(Spectrum.Stale);
    EXPECT_EQ(QelScreenCursor(), crDefault);
    // The next move tries again without another message, and so does the
    // press of a stroke, which paints without the detail.
    EXPECT_NO_THROW(control->MouseMove(0, at));
    EXPECT_NO_THROW(Click(20, 20));
    EXPECT_EQ(Pixel(20, 20), Rgb(128, 64, 64));
    EXPECT_EQ(Doc->History.Count(), 1);
    // A stroke that meets a fresh failure is dropped with the error, leaving
    // nothing behind.
    Spectrum.FailureReported = false;
    const std::vector<uint8_t> before = Snapshot();
    control->SetBrushPos(TQelPoint{10, 10});
    EXPECT_THROW(control->MouseDown(mbLeft, 0, at), EQelOutOfMemory);
    EXPECT_FALSE(control->Drawing);
    EXPECT_FALSE(tool->IsDrawing());
    EXPECT_FALSE(Doc->Modifying);
    EXPECT_EQ(Snapshot(), before);
    EXPECT_EQ(Doc->History.Count(), 1);
    // Once memory suffices the layer is built and the report is armed again.
    Spectrum.Layer.MemoryLimit = UINT64_MAX;
    MoveTo(21, 21);
    EXPECT_FALSE(Spectrum.Stale);
    EXPECT_FALSE(Spectrum.FailureReported);
    EXPECT_TRUE(Spectrum.Layer.Fits(*Doc->GetPixels()));
}
