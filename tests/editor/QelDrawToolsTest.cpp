#include <gtest/gtest.h>

#include <QPainter>
#include <QSlider>
#include <QWheelEvent>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "QelDemoHooks.h"
#include "QelDemoPlayback.h"
#include "QelDemoScript.h"
#include "ToolTestSupport.h"

namespace {

const TQelRGBTriple Start{10, 20, 30};
using TRows = std::vector<std::vector<int>>;

TRows Rows(const TQelPixelMask& m) {
    TRows rows(size_t(m.Height));
    for (int32_t y = 0; y < m.Height; ++y)
        for (int32_t x = 0; x < m.Width; ++x) rows[size_t(y)].push_back(m.Data[y * m.Width + x]);
    return rows;
}

// '1' where the mask has Value, '0' where it is empty.
std::vector<std::string> Shape(const TQelPixelMask& m, int value) {
    std::vector<std::string> rows;
    for (const std::vector<int>& row : Rows(m)) {
        std::string s;
        for (int v : row) s += v == value ? '1' : (v == 0 ? '0' : '?');
        rows.push_back(s);
    }
    return rows;
}

class TDrawToolTest : public TToolTest {
protected:
    void Wheel(int y) {
        QWidget* client = View->viewport();
        const QPointF p(At(10, 10));
        QWheelEvent e(p, client->mapToGlobal(p), QPoint(), QPoint(0, y), Pressed, Qt::NoModifier, Qt::NoScrollPhase,
                      false);
        QApplication::sendEvent(client, &e);
    }
    static TQelDrawToolControl* ControlOf(TQelGraphicsTool* tool) {
        return dynamic_cast<TQelDrawToolControl*>(tool->GetControl(0));
    }
};

}  // namespace

// --- Footprints, sizes and strokes ---------------------------------------------------------

TEST(DrawTool, FootprintsAreOddSquaresCentredOnThePixel) {
    EXPECT_EQ(TQelDrawTool::GetBrushRect(TQelPoint{5, 5}, 10), TQelRect(0, 0, 11, 11));
    EXPECT_EQ(TQelDrawTool::GetBrushRect(TQelPoint{5, 5}, 11), TQelRect(0, 0, 11, 11));
    EXPECT_EQ(TQelDrawTool::GetBrushRect(TQelPoint{5, 5}, 1), TQelRect(5, 5, 6, 6));
}

TEST_F(TDrawToolTest, CommandsTrackBarsAndRecordedLines) {
    TQelDemoHooks hooks;
    TQelDemoPlayback recorder;
    std::vector<std::string> lines;
    recorder.OnRecordLine = [&](TQelDemoPlayback*, int, const QByteArray& line) { lines.push_back(line.toStdString()); };
    ASSERT_TRUE(recorder.StartRecording(0));
    auto* tool = AddTool<TTestBrushTool>();
    tool->Name = "Lipstick";
    QSlider size(Qt::Horizontal);
    tool->BindSizeTrackBar(&size);
    EXPECT_EQ(size.maximum(), 100);
    EXPECT_EQ(size.value(), 10);
    tool->StartRecording(&recorder);

    TQelDemoScriptParams params;
    bool handled = false;
    params.ParseText("20");
    tool->ExecuteCommand(&recorder, "LIPSTICKSIZE", params, nullptr, handled);
    EXPECT_TRUE(handled);
    EXPECT_EQ(size.value(), 20);
    EXPECT_EQ(tool->BrushMask.Width, 21);
    // Refused values are still the command's; equal ones change nothing.
    handled = false;
    params.ParseText("300");
    tool->ExecuteCommand(&recorder, "LIPSTICKSIZE", params, nullptr, handled);
    EXPECT_TRUE(handled);
    EXPECT_EQ(tool->Size, 20);
    tool->SetSize(20);
    params.ParseText("64");
    tool->ExecuteCommand(&recorder, "LIPSTICKHARDNESS", params, nullptr, handled);
    tool->ExecuteCommand(&recorder, "LIPSTICKOPACITY", params, nullptr, handled);
    // The user moves the slider: the tool follows.
    size.setValue(30);
    EXPECT_EQ(tool->Size, 30);
    EXPECT_EQ(lines, (std::vector<std::string>{"LipstickSize 20", "LipstickHardness 64", "LipstickOpacity 64",
                                               "LipstickSize 30"}));

    QPoint point;
    handled = false;
    params.ParseText("LipstickSize");
    tool->GetCommandPoint(&recorder, params, point, handled);
    EXPECT_TRUE(handled);
    EXPECT_EQ(point, size.mapToGlobal(QPoint(size.width() / 2, size.height() / 2)));
    tool->StopRecording(&recorder);
    recorder.StopRecording();
}

TEST_F(TDrawToolTest, WheelAndKeysResizeTheBrushOnlyBetweenStrokes) {
    auto* tool = AddTool<TTestBrushTool>();
    Editor.SetActiveTool(tool);
    MoveTo(10, 10);
    Wheel(120);
    EXPECT_EQ(tool->Size, 11);
    EXPECT_EQ(ControlOf(tool)->Bounds, TQelDrawTool::GetBrushRect(TQelPoint{10, 10}, 11));
    auto* control = ControlOf(tool);
    uint16_t key = 0;
    for (uint16_t k : {VK_PRIOR, VK_UP, VK_RIGHT, VK_RIGHT, VK_NEXT, VK_LEFT, VK_DOWN})
        EXPECT_TRUE(control->KeyDown(key = k, 0));
    EXPECT_EQ(tool->Size, 12);
    EXPECT_FALSE(control->KeyDown(key = 'A', 0));

    Press(10, 10);
    Wheel(-120);
    EXPECT_EQ(tool->Size, 12);
    Release(10, 10);
    // An inactive brush lets the wheel through to the view.
    tool->Deactivate();
    EXPECT_FALSE(control->KeyDown(key = VK_UP, 0));
    EXPECT_FALSE(control->MouseWheel(0, 1, TQelPoint{}));
}

TEST_F(TDrawToolTest, DeactivatingMidStrokeCommitsWhatWasPainted) {
    auto* tool = AddTool<TInvertTool>();
    Editor.SetActiveTool(tool);
    Press(5, 5);
    // Another tool takes over while the button is down and gives back after
    // the button was released.
    Editor.SetActiveTool(nullptr);
    Release(5, 5);
    Editor.SetActiveTool(tool);
    MoveTo(12, 12);
    EXPECT_FALSE(ControlOf(tool)->Drawing);
    EXPECT_FALSE(tool->IsDrawing());
    EXPECT_EQ(Doc->History.Count(), 1);
    EXPECT_EQ(CountPixels(Start), 400 - 9);
}

TEST_F(TDrawToolTest, AFinishFromElsewhereEndsTheStroke) {
    auto* tool = AddTool<TTestBrushTool>();
    auto* other = AddTool<TInvertTool>();
    Editor.SetActiveTool(tool);
    Press(5, 5);
    other->BeginModification(View);
    other->FinishModification();
    EXPECT_FALSE(ControlOf(tool)->Drawing);
    EXPECT_TRUE(tool->StrokeMask.GetBounds().IsEmpty());
    tool->Painted.clear();
    MoveTo(15, 15);
    Release(15, 15);
    EXPECT_TRUE(tool->Painted.empty());
    EXPECT_EQ(Doc->History.Count(), 1);
}

TEST_F(TDrawToolTest, StampModePaintsOneClippedFootprintPerPress) {
    auto* tool = AddTool<TInvertTool>();
    tool->DrawMode = TQelDrawTool::DrawModeStamp;
    Editor.SetActiveTool(tool);
    Press(0, 0);
    EXPECT_FALSE(ControlOf(tool)->Drawing);
    MoveTo(10, 10);
    Release(10, 10);
    ASSERT_EQ(Doc->History.Count(), 1);
    EXPECT_EQ(CountPixels(Start), 400 - 4);
    EXPECT_EQ(static_cast<TQelCustomGraphicsCommandState*>(Doc->History.Items(0))->Rect, TQelRect(0, 0, 2, 2));
}

TEST_F(TDrawToolTest, StrokeMaskTakesTheLargerCoverageAndGrowsInFewSteps) {
    Open(400, 60, 300, 100);
    auto* tool = AddTool<TTestBrushTool>();
    tool->SetOpacity(150);
    tool->SetHardness(255);
    tool->SetSize(9);
    Editor.SetActiveTool(tool);
    Press(20, 30);
    MoveTo(24, 30);
    EXPECT_EQ(*tool->StrokeMask.MaskAddress(22, 30), 150);
    // Blended once from the unchanged image, not twice.
    EXPECT_EQ(Pixel(22, 30), (TQelRGBTriple{4, 8, 161}));

    int moves = 0;
    const uint8_t* data = tool->StrokeMask.Data;
    for (int32_t x = 26; x <= 380; x += 2) {
        MoveTo(x, 30 + (x / 2) % 7);
        moves += tool->StrokeMask.Data != data;
        data = tool->StrokeMask.Data;
    }
    for (const TQelRect& r : tool->Painted) EXPECT_EQ(*tool->StrokeMask.MaskAddress(r.Left + 4, r.Top + 4), 150);
    // 178 footprints, the mask moved only a few times.
    EXPECT_LE(moves, 12);
    Release(380, 30);
    EXPECT_TRUE(tool->StrokeMask.GetBounds().IsEmpty());
    EXPECT_EQ(Doc->History.Count(), 1);
}

TEST_F(TDrawToolTest, ADragFarPastTheImageKeepsTheStrokeMaskNearIt) {
    auto* tool = AddTool<TTestBrushTool>();
    tool->SetHardness(255);
    tool->SetSize(9);
    Editor.SetActiveTool(tool);
    Press(5, 5);
    MoveTo(5000, 5000);
    MoveTo(-5000, 5);
    MoveTo(17, 17);
    // Only footprints that touch the 20 x 20 image are kept, so the mask
    // reaches at most half a footprint past its edges.
    const TQelRect mask = tool->StrokeMask.GetBounds();
    EXPECT_GE(mask.Left, -4);
    EXPECT_GE(mask.Top, -4);
    EXPECT_LE(mask.Right, 24);
    EXPECT_LE(mask.Bottom, 24);
    EXPECT_EQ(*tool->StrokeMask.MaskAddress(17, 17), 255);
    Release(17, 17);
    ASSERT_EQ(Doc->History.Count(), 1);
    EXPECT_EQ(Pixel(5, 5), (TQelRGBTriple{0, 0, 255}));
    EXPECT_EQ(Pixel(17, 17), (TQelRGBTriple{0, 0, 255}));
    EXPECT_EQ(Pixel(11, 11), Start);
}

TEST_F(TDrawToolTest, TheOutlineInvertsWhatLiesUnderItAndHidesThePointer) {
    Open(40, 40);
    auto* tool = AddTool<TTestBrushTool>();
    Editor.SetActiveTool(tool);
    MoveTo(20, 20);
    EXPECT_EQ(View->viewport()->cursor().shape(), Qt::BlankCursor);
    auto* control = dynamic_cast<TQelBrushToolControl*>(tool->GetControl(0));
    const QPoint o = At(0, 0);
    EXPECT_EQ(control->GetOutlineRect(View->MapMode()), TQelRect(o.x() + 14, o.y() + 14, o.x() + 26, o.y() + 26));

    auto rgb = [&](const QImage& shot, int x, int y) { return shot.pixelColor(o.x() + x, o.y() + y).rgb() & 0xFFFFFF; };
    const QRgb image = 0x1E140A, inverted = 0xE1EBF5;
    const QImage shot = View->viewport()->grab().toImage();
    std::vector<int> onRow;
    for (int x = 0; x < 40; ++x) {
        EXPECT_TRUE(rgb(shot, x, 20) == image || rgb(shot, x, 20) == inverted) << x;
        if (rgb(shot, x, 20) == inverted) onRow.push_back(x);
    }
    EXPECT_EQ(onRow, (std::vector<int>{14, 25}));
    tool->Deactivate();
    EXPECT_EQ(rgb(View->viewport()->grab().toImage(), 14, 20), image);
}

// --- Masks ------------------------------------------------------------------------------

TEST(MaskBuilders, HardDiscs) {
    TQelPixelMask m;
    TQelMaskDrawTool::BuildDiscMask(m, 5, 255);
    EXPECT_EQ(Shape(m, 255), (std::vector<std::string>{"01110", "11111", "11111", "11111", "01110"}));
    TQelMaskDrawTool::BuildDiscMask(m, 4, 255);
    EXPECT_EQ(Shape(m, 255), (std::vector<std::string>{"00100", "01110", "11111", "01110", "00100"}));
    TQelMaskDrawTool::BuildDiscMask(m, 2, 255);
    EXPECT_EQ(Shape(m, 255), (std::vector<std::string>{"010", "111", "010"}));
    TQelMaskDrawTool::BuildDiscMask(m, 1, 77);
    EXPECT_EQ(Rows(m), TRows{{77}});
    TQelMaskDrawTool::BuildDiscMask(m, 10, 1);
    EXPECT_EQ(Shape(m, 1), (std::vector<std::string>{"00001110000", "00111111100", "01111111110", "01111111110",
                                                     "11111111111", "11111111111", "11111111111", "01111111110",
                                                     "01111111110", "00111111100", "00001110000"}));
}

TEST(MaskBuilders, SoftMasksFallOffLinearlyFromTheHardness) {
    TQelPixelMask m;
    // Hardness 0: a cone from the centre, scaled by the opacity.
    TQelMaskDrawTool::BuildSoftMask(m, 3, 255, 0);
    EXPECT_EQ(Rows(m), (TRows{{60, 102, 60}, {102, 204, 102}, {60, 102, 60}}));
    TQelMaskDrawTool::BuildSoftMask(m, 3, 128, 0);
    EXPECT_EQ(Rows(m), (TRows{{30, 51, 30}, {51, 102, 51}, {30, 51, 30}}));
    // Full hardness: opacity inside, a one-pixel edge; 127.5 goes to 128.
    TQelMaskDrawTool::BuildSoftMask(m, 4, 255, 255);
    EXPECT_EQ(Rows(m), (TRows{{0, 67, 128, 67, 0},
                              {67, 255, 255, 255, 67},
                              {128, 255, 255, 255, 128},
                              {67, 255, 255, 255, 67},
                              {0, 67, 128, 67, 0}}));
    // A single pixel is always full, whatever the opacity.
    TQelMaskDrawTool::BuildSoftMask(m, 1, 100, 128);
    EXPECT_EQ(Rows(m), TRows{{255}});
}

TEST(MaskBuilders, FalloffOfHandInpainting) {
    TQelPixelMask m;
    TQelMaskDrawTool::BuildFalloffMask(m, 10, 255, 160);
    const TRows rows = Rows(m);
    EXPECT_EQ(rows[5], (std::vector<int>{0, 228, 253, 255, 255, 255, 255, 255, 253, 228, 0}));
    EXPECT_EQ(rows[1], (std::vector<int>{0, 0, 0, 171, 218, 228, 218, 171, 0, 0, 0}));
    EXPECT_EQ(rows[0], std::vector<int>(11, 0));
    EXPECT_EQ(rows[9], rows[1]);
}

TEST(MaskBuilders, BlendColorMaskValuesAndBounds) {
    // A 40 x 40 bitmap inside 60 x 60 rows whose margin must stay.
    TQelPixelBuffer outer;
    outer.Allocate(QelFormatBGR24, TQelRect(0, 0, 60, 60));
    std::memset(outer.Bits, 0x5A, size_t(outer.Stride) * 60);
    TQelPixels inner;
    inner.Init(TQelRect(0, 0, 40, 40), outer.PixelAddress(10, 10), QelFormatBGR24, outer.Stride);
    for (int32_t y = 0; y < 40; ++y) std::memset(inner.PixelAddress(0, y), 0, 120);
    auto at = [&](int32_t x) {
        const uint8_t* p = inner.PixelAddress(x, 0);
        return TQelRGBTriple{p[0], p[1], p[2]};
    };

    TQelPixelMask m;
    m.Init(0, 0, 4, 1);
    std::memcpy(m.Data, "\x80\xff\x00\x01", 4);
    std::memset(inner.PixelAddress(3, 0), 255, 3);
    TQelMaskDrawTool::BlendColorMask(m, inner, 0xFF8000, TQelRect(0, 0, 3, 40), inner);
    EXPECT_EQ(at(0), (TQelRGBTriple{0, 64, 127}));
    EXPECT_EQ(at(1), (TQelRGBTriple{0, 128, 255}));
    EXPECT_EQ(at(2), (TQelRGBTriple{0, 0, 0}));
    TQelMaskDrawTool::BlendColorMask(m, inner, 0, TQelRect(3, 0, 4, 1), inner);
    EXPECT_EQ(at(3), (TQelRGBTriple{254, 254, 254}));

    // A 101 x 101 mask centred on the bitmap, as the preview places it.
    TQelPixelMask big;
    TQelMaskDrawTool::BuildDiscMask(big, 101, 255);
    big.Left = big.Top = (40 - 101) / 2;
    TQelMaskDrawTool::BlendColorMask(big, inner, 0x123456, TQelRect(0, 0, 40, 40), inner);
    EXPECT_EQ(at(0), (TQelRGBTriple{0x56, 0x34, 0x12}));
    for (int32_t y = 0; y < 60; ++y)
        for (int32_t x = 0; x < 60; ++x) {
            if (x >= 10 && x < 50 && y >= 10 && y < 50) continue;
            ASSERT_EQ(std::memcmp(outer.PixelAddress(x, y), "\x5a\x5a\x5a", 3), 0) << x << "," << y;
        }
}

TEST_F(TDrawToolTest, PreviewShowsTheMaskBlackOrGreyOnWhite) {
    auto* tool = AddTool<TTestBrushTool>();
    tool->SetHardness(255);
    TQelPaintBox box;
    box.resize(40, 30);
    tool->SetPreviewBox(&box);
    box.show();
    auto pixel = [&box](int x, int y) { return box.grab().toImage().pixelColor(x, y).rgb() & 0xFFFFFF; };
    EXPECT_EQ(pixel(20, 15), 0x000000u);
    EXPECT_EQ(pixel(5, 15), 0xFFFFFFu);
    EXPECT_EQ(pixel(39, 29), 0x808080u);
    box.setEnabled(false);
    EXPECT_EQ(pixel(20, 15), 0xC0C0C0u);
    // A mask larger than the box is cut to it.
    tool->SetSize(100);
    EXPECT_EQ(pixel(20, 15), 0xC0C0C0u);
    EXPECT_EQ(pixel(0, 15), 0x808080u);
}

// --- Blur brush ------------------------------------------------------------------------

TEST_F(TDrawToolTest, BlurMeansRoundHalvesToEvenAndAreCachedPerStroke) {
    auto* tool = AddTool<TQelCustomBlurBrushTool>();
    EXPECT_EQ(tool->Smoothing, 10);
    tool->SetSize(2);
    EXPECT_EQ(Rows(tool->DiscMask), (TRows{{0, 255, 0}, {255, 0, 255}, {0, 255, 0}}));

    // The four neighbours of (5, 5) give B 0.5, G 1.5 and R 2.5.
    SetPixel(4, 5, 0, 1, 2);
    SetPixel(6, 5, 0, 1, 2);
    SetPixel(5, 4, 1, 2, 3);
    SetPixel(5, 6, 1, 2, 3);
    SetPixel(5, 5, 200, 200, 200);
    Doc->SyncBackup();
    tool->BeginModification(View);
    tool->BlurCache.SetBounds(TQelRect(0, 0, 20, 20));
    EXPECT_EQ(tool->GetBlurredPixel(5, 5), (TQelRGBTriple{0, 2, 2}));
    // From the cache now, whatever the backup says.
    SetPixel(4, 5, 100, 100, 100);
    Doc->SyncBackup();
    EXPECT_EQ(tool->GetBlurredPixel(5, 5), (TQelRGBTriple{0, 2, 2}));
    // Outside the cache: computed, not kept.
    tool->BlurCache.SetBounds(TQelRect(0, 0, 2, 2));
    EXPECT_EQ(tool->GetBlurredPixel(5, 5), (TQelRGBTriple{26, 26, 27}));
    // At the corner only the neighbours inside the image count.
    SetPixel(1, 0, 0, 0, 0);
    Doc->SyncBackup();
    EXPECT_EQ(tool->GetBlurredPixel(0, 0), (TQelRGBTriple{5, 10, 15}));
    // A one-pixel disc has only its excluded centre: the pixel itself.
    tool->SetSmoothing(1);
    EXPECT_EQ(tool->GetBlurredPixel(5, 5), (TQelRGBTriple{200, 200, 200}));
    // The stroke's end forgets every mean and keeps the memory.
    tool->EndDraw();
    ASSERT_NE(tool->BlurCache.Bits, nullptr);
    for (int32_t y = 0; y < 2; ++y)
        for (int32_t x = 0; x < 2; ++x) EXPECT_EQ(tool->BlurCache.PixelAddress(x, y)[3], 0) << x << "," << y;
    tool->ReleaseBlurCache();
    EXPECT_EQ(tool->BlurCache.Bits, nullptr);
}

namespace {

// The disc mean added up pixel by pixel, as the definition reads.
TQelRGBTriple DirectDiscMean(const TQelPixels& image, int32_t x, int32_t y, int32_t smoothing) {
    TQelPixelMask disc;
    TQelMaskDrawTool::BuildDiscMask(disc, smoothing, 255);
    const int32_t h = smoothing / 2;
    disc.Data[h * disc.Width + h] = 0;
    uint64_t sum[3] = {0, 0, 0};
    uint64_t n = 0;
    for (int32_t j = 0; j < disc.Height; ++j)
        for (int32_t i = 0; i < disc.Width; ++i) {
            const int32_t px = x - h + i;
            const int32_t py = y - h + j;
            if (!disc.Data[j * disc.Width + i] || !image.GetBounds().Contains(px, py)) continue;
            for (int c = 0; c < 3; ++c) sum[c] += image.PixelAddress(px, py)[c];
            ++n;
        }
    TQelRGBTriple own;
    if (image.GetBounds().Contains(x, y)) own = {image.PixelAddress(x, y)[0], image.PixelAddress(x, y)[1],
                                                 image.PixelAddress(x, y)[2]};
    if (n == 0) return own;
    auto mean = [&](int c) { return uint8_t(QelRoundEven(double(sum[c]) / double(n))); };
    return TQelRGBTriple{mean(0), mean(1), mean(2)};
}

}  // namespace

TEST_F(TDrawToolTest, BlurMeansFromRowSumsEqualTheDirectSumOnRandomImages) {
    std::mt19937 random(17);
    Open(41, 33);
    for (int32_t y = 0; y < 33; ++y)
        for (int32_t x = 0; x < 41; ++x)
            SetPixel(x, y, uint8_t(random()), uint8_t(random()), uint8_t(random()));
    Doc->SyncBackup();
    auto* tool = AddTool<TQelCustomBlurBrushTool>();
    const TQelPixels& image = *Doc->GetPixels();
    tool->BeginModification(View);
    for (int32_t smoothing : {1, 2, 3, 4, 5, 8, 11, 24, 37, 50}) {
        tool->SetSmoothing(smoothing);
        SCOPED_TRACE(smoothing);
        // A stroke: the cache over the whole image, sums held per dab, the
        // dabs reaching past every edge and asking also outside their sums.
        tool->BlurCache.SetBounds(image.GetBounds());
        for (const TQelPoint& centre : {TQelPoint{0, 0}, TQelPoint{40, 32}, TQelPoint{20, 16}, TQelPoint{-3, 35}}) {
            const TQelRect dab = TQelDrawTool::GetBrushRect(centre, 15);
            tool->HoldBlurSums(dab);
            for (int32_t y = dab.Top - 2; y < dab.Bottom + 2; ++y)
                for (int32_t x = dab.Left - 2; x < dab.Right + 2; ++x)
                    ASSERT_EQ(tool->GetBlurredPixel(x, y), DirectDiscMean(image, x, y, smoothing)) << x << "," << y;
            tool->DropBlurSums();
        }
        // Held sums bigger than any disc, and again from the cache.
        tool->HoldBlurSums(image.GetBounds());
        for (int32_t y = 0; y < 33; y += 3)
            for (int32_t x = 0; x < 41; x += 2)
                ASSERT_EQ(tool->GetBlurredPixel(x, y), DirectDiscMean(image, x, y, smoothing)) << x << "," << y;
        tool->DropBlurSums();
        tool->BlurCache.Release();
        // The colour pick: the cache reset to the brush rectangle, one mean
        // at the brush position, no sums held.
        for (int k = 0; k < 20; ++k) {
            const int32_t x = int32_t(random() % 45) - 2;
            const int32_t y = int32_t(random() % 37) - 2;
            tool->BlurCache.SetBounds(TQelDrawTool::GetBrushRect(TQelPoint{x, y}, tool->Size));
            ASSERT_EQ(tool->GetBlurredPixel(x, y), DirectDiscMean(image, x, y, smoothing)) << x << "," << y;
            tool->BlurCache.Release();
        }
    }
    // A cache whose memory could not be had is no cache: the means are still
    // right, only not kept.
    tool->SetSmoothing(9);
    tool->BlurCache.SetBounds(TQelRect(0, 0, 1 << 30, 1 << 30));
    ASSERT_EQ(tool->BlurCache.Bits, nullptr);
    EXPECT_EQ(tool->GetBlurredPixel(7, 5), DirectDiscMean(image, 7, 5, 9));
    tool->EndDraw();
}
