#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "QelDemoHooks.h"
#include "QelDemoPlayback.h"
#include "QelDemoScript.h"
#include "ToolTestSupport.h"

namespace {

const TQelRGBTriple Start{10, 20, 30};
const TQelRGBTriple Inverted{245, 235, 225};

// Changes the whole image as an adjustment does.
class TAdjustTool : public TQelGraphicsTool {
public:
    TAdjustTool() { Name = "Adjust"; }
    void Invert() {
        for (int32_t y = 0; y < CurrentPixels->Height; ++y)
            for (int32_t x = 0; x < CurrentPixels->Width; ++x)
                for (int c = 0; c < 3; ++c) CurrentPixels->PixelAddress(x, y)[c] ^= 0xFF;
    }
};

// Logs the image changes it hears of.
class TChangeLogTool : public TQelGraphicsTool {
public:
    explicit TChangeLogTool(std::vector<std::string>& Log) : FLog(Log) {}
    void ImageChanged(TQelGraphicsDocument*, TQelGraphicsTool* Tool, const TQelRect& R) override {
        FLog.push_back(Tool->Name.toStdString() + " " + std::to_string(R.Left) + "," + std::to_string(R.Right));
    }

private:
    std::vector<std::string>& FLog;
};

using TGraphicsToolTest = TToolTest;

}  // namespace

TEST_F(TGraphicsToolTest, StrokeStateHoldsBothSidesAndUndoRedoRestoreThemExactly) {
    std::vector<std::string> log;
    AddTool<TChangeLogTool>(log);
    auto* brush = AddTool<TTestBrushTool>();
    AddTool<TChangeLogTool>(log);
    brush->SetSize(5);
    brush->SetHardness(255);
    Editor.SetActiveTool(brush);
    Doc->SetClean(true);

    Press(4, 4);
    MoveTo(6, 4);
    Release(6, 4);
    ASSERT_EQ(Doc->History.Count(), 1);
    auto* state = dynamic_cast<TQelGraphicsCommandState*>(Doc->History.Items(0));
    ASSERT_NE(state, nullptr);
    // The union of the two 5 x 5 footprints.
    EXPECT_EQ(state->Rect, TQelRect(2, 2, 9, 7));
    EXPECT_EQ(state->Before.GetBounds(), state->Rect);
    EXPECT_EQ(std::memcmp(state->Before.PixelAddress(4, 4), "\x0a\x14\x1e", 3), 0);
    EXPECT_EQ(std::memcmp(state->After.PixelAddress(4, 4), "\x00\x00\xff", 3), 0);
    EXPECT_FALSE(Doc->Modifying);
    EXPECT_TRUE(BackupMatchesImage());
    EXPECT_FALSE(Doc->Clean());

    std::vector<uint8_t> after(20 * 60);
    for (int32_t y = 0; y < 20; ++y) std::memcpy(&after[size_t(y) * 60], Doc->GetPixels()->PixelAddress(0, y), 60);
    Doc->History.Undo();
    EXPECT_EQ(CountPixels(Start), 400);
    EXPECT_TRUE(BackupMatchesImage());
    EXPECT_TRUE(Doc->Clean());
    Doc->History.Redo();
    for (int32_t y = 0; y < 20; ++y)
        EXPECT_EQ(std::memcmp(&after[size_t(y) * 60], Doc->GetPixels()->PixelAddress(0, y), 60), 0) << y;
    EXPECT_TRUE(BackupMatchesImage());
    // Creating, undoing and redoing told every tool, in component order.
    EXPECT_EQ(log, std::vector<std::string>(6, "TestBrush 2,9"));

    // Saved after the stroke, then undone: the image differs from the file.
    Doc->SetClean(true);
    Doc->History.Undo();
    EXPECT_FALSE(Doc->Clean());
}

TEST_F(TGraphicsToolTest, StrokesOutsideTheImageLeaveNoTrace) {
    std::vector<std::string> log;
    AddTool<TChangeLogTool>(log);
    Editor.SetActiveTool(AddTool<TInvertTool>());
    Press(-10, -10);
    MoveTo(-5, -10);
    Release(-5, -10);
    EXPECT_EQ(Doc->History.Count(), 0);
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(CountPixels(Start), 400);
    EXPECT_FALSE(Doc->Modifying);
}

TEST_F(TGraphicsToolTest, CancelCommitAndAFailedCommitKeepImageBackupAndHistoryInStep) {
    auto* adjust = AddTool<TAdjustTool>();
    // Cancel puts every pixel back, also outside the dirty rectangle.
    adjust->BeginModification(View);
    adjust->Invert();
    adjust->AddModifiedRect(TQelRect(0, 0, 2, 2));
    adjust->CancelModification();
    EXPECT_EQ(CountPixels(Start), 400);
    EXPECT_EQ(Doc->History.Count(), 0);
    EXPECT_FALSE(Doc->Modifying);
    EXPECT_EQ(adjust->BackupPixels, nullptr);

    // A state too large to hold is an error, and the change is taken back.
    adjust->BeginModification(View);
    adjust->Invert();
    adjust->AddModifiedRect(TQelRect(0, 0, 2000000, 2000000));
    EXPECT_THROW(adjust->FinishModification(), EQelOutOfMemory);
    EXPECT_EQ(Doc->History.Count(), 0);
    EXPECT_EQ(CountPixels(Start), 400);
    EXPECT_FALSE(Doc->Modifying);
    EXPECT_EQ(adjust->RunningDocument, nullptr);

    // The image changed its size meanwhile: the backup is made anew.
    adjust->BeginModification(View);
    TQelPixelBuffer wide;
    wide.Allocate(QelFormatBGR24, TQelRect(0, 0, 30, 10));
    std::memset(wide.Bits, 77, size_t(wide.Stride) * 10);
    Doc->Image.Assign(wide);
    adjust->AddModifiedRect(TQelRect(0, 0, 30, 10));
    adjust->FinishModification();
    EXPECT_EQ(Doc->Backup.GetBounds(), TQelRect(0, 0, 30, 10));
    EXPECT_TRUE(BackupMatchesImage());
    EXPECT_EQ(Doc->History.Count(), 1);
}

TEST_F(TGraphicsToolTest, ANewModificationEndsTheOtherAndExclusiveOnesKeepOthersOut) {
    auto* x = AddTool<TAdjustTool>();
    auto* y = AddTool<TAdjustTool>();
    EXPECT_FALSE(QelCanToolModify(nullptr, x, x, false));
    EXPECT_FALSE(QelCanToolModify(Doc, y, x, true));
    EXPECT_TRUE(QelCanToolModify(Doc, x, x, true));

    x->BeginModification(View);
    x->Invert();
    x->AddModifiedRect(TQelRect(0, 0, 20, 20));
    EXPECT_TRUE(QelCanToolModify(Doc, y, x, false));
    x->Exclusive = true;
    EXPECT_FALSE(QelCanToolModify(Doc, y, y, false));
    EXPECT_TRUE(QelCanToolModify(Doc, x, y, false));

    y->BeginModification(View);
    EXPECT_EQ(x->RunningDocument, nullptr);
    EXPECT_EQ(Doc->History.Count(), 1);
    EXPECT_EQ(Doc->ModifyingTool, y);
    EXPECT_TRUE(BackupMatchesImage());
    EXPECT_TRUE(QelCanToolModify(Doc, x, y, false));
}

TEST_F(TGraphicsToolTest, ClosingTheDocumentMidStrokeCommitsAndForgetsIt) {
    auto* brush = AddTool<TTestBrushTool>();
    Editor.SetActiveTool(brush);
    Press(5, 5);
    ASSERT_EQ(brush->RunningDocument, Doc);
    ASSERT_TRUE(Doc->CloseQuery());
    EXPECT_EQ(brush->RunningDocument, nullptr);
    EXPECT_EQ(brush->BackupPixels, nullptr);
    EXPECT_FALSE(brush->IsDrawing());
    EXPECT_EQ(brush->GetControlCount(), 0);
    EXPECT_TRUE(brush->StrokeMask.GetBounds().IsEmpty());
}

TEST_F(TGraphicsToolTest, ControlsOutliveTheirToolsAndToolsTheirControls) {
    Editor.SetActiveTool(AddTool<TTestBrushTool>());
    AddTool<TInvertTool>();
    ASSERT_EQ(View->Objects.Count(), 3);
    // The tools go first, as at the end of the program; the views with their
    // controls after them.
    Editor.ActiveTool = nullptr;
    Tools.clear();
    MoveTo(3, 3);
    View->viewport()->repaint();
    Editor.Documents.clear();

    Open(20, 20);
    auto* invert = AddTool<TInvertTool>();
    EXPECT_EQ(invert->GetControlCount(), 1);
    Editor.Documents.clear();
    EXPECT_EQ(invert->GetControlCount(), 0);
}

TEST_F(TGraphicsToolTest, TheTopmostControlThatHandlesTheInputWins) {
    auto* below = AddTool<TInvertTool>();
    auto* above = AddTool<TTestBrushTool>();
    // The upper control's tool is inactive, so it passes the press on.
    below->Activate();
    Press(10, 10);
    Release(10, 10);
    EXPECT_EQ(Pixel(10, 10), Inverted);
    EXPECT_TRUE(above->Painted.empty());

    above->Activate();
    Press(10, 10);
    Release(10, 10);
    EXPECT_EQ(above->Painted.size(), 1u);
    EXPECT_EQ(Pixel(10, 10), (TQelRGBTriple{0, 0, 255}));
}

TEST_F(TGraphicsToolTest, MakeCurrentAndPluginAvailability) {
    TQelDemoHooks hooks;
    TQelDemoPlayback recorder;
    std::vector<std::string> lines;
    recorder.OnRecordLine = [&](TQelDemoPlayback*, int, const QByteArray& line) { lines.push_back(line.toStdString()); };
    ASSERT_TRUE(recorder.StartRecording(0));
    auto* brush = AddTool<TTestBrushTool>();
    auto* adjust = AddTool<TAdjustTool>();
    brush->StartRecording(&recorder);
    bool handled = false;
    const TQelDemoScriptParams params;
    adjust->ExecuteCommand(&recorder, "TESTBRUSH", params, nullptr, handled);
    EXPECT_FALSE(handled);
    brush->ExecuteCommand(&recorder, "TESTBRUSH", params, nullptr, handled);
    EXPECT_TRUE(handled);
    EXPECT_EQ(Editor.ActiveTool, brush);
    EXPECT_TRUE(brush->Active);
    EXPECT_EQ(lines, (std::vector<std::string>{"MouseCurvedMove TestBrush", "Message \"TestBrush\"", "TestBrush"}));
    adjust->MakeCurrent();
    EXPECT_FALSE(brush->Active);
    brush->StopRecording(&recorder);
    recorder.StopRecording();

    Editor.PluginMode = true;
    Doc->AfterOpen();
    EXPECT_TRUE(brush->Available);
    EXPECT_FALSE(adjust->Available);
}
