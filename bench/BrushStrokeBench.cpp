// A 200-dab stroke of a size-100 soft brush that blends one colour through
// the stroke-accumulation mask, driven by mouse events on a shown view, each
// dab followed by the repaint of what it invalidated. The cost per dab must
// depend on the brush only: not on the image size (1000 x 1000 against
// 6000 x 4000) and not on how long the stroke already is (the first 50 dabs
// against the last 50). "LargeOverSmall" runs both documents in one run and
// reports the ratios.
#include "BenchSupport.h"
#include "BenchToolScene.h"
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QMouseEvent>
#include <QWidget>

#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "QelDrawTools.h"
#include "QelForms.h"
#include "QelGraphicsEditor.h"
#include "QelQtGeometry.h"

namespace {

constexpr int ViewWidth = 800;
constexpr int ViewHeight = 600;
constexpr int DabCount = 200;
constexpr int EdgeCount = 50;

// The brush as a make-up tool uses it: one colour over the unchanged image
// with the stroke's coverage.
class TStrokeBrush : public TQelBrushTool {
public:
    TStrokeBrush() {
        MaxSize = 100;
        Accumulate = true;
    }
    void PaintRect(const TQelRect& Rect) override {
        BlendColorMask(GetDrawMask(), *BackupPixels, 0x2040C0, Rect, *CurrentPixels);
    }
};

struct TStrokeTimes {
    double Total = 0;
    double First = 0;
    double Last = 0;
};

class TStrokeScene : public TQelBenchToolScene {
public:
    bool Make(int32_t w, int32_t h) {
        if (!MakeDocument(w, h, [](int32_t x, int32_t y, uint8_t* p) {
                p[0] = uint8_t(x);
                p[1] = uint8_t(y);
                p[2] = uint8_t(x + y);
            }, ViewWidth, ViewHeight)) return false;
        Brush = TQelApplication::Instance()->CreateComponent<TStrokeBrush>();
        Brush->SetSize(100);
        Brush->CreateControl(View);
        Brush->Activate();
        QApplication::processEvents();
        return true;
    }
    ~TStrokeScene() {
        Document.reset();
        delete Brush;
    }

    // Client points of the stroke: a wave across the view.
    static QPoint DabPoint(int i) {
        return QPoint(60 + i * 34 / 10, 300 + int(std::lround(200 * std::sin(i / 15.0))));
    }

    TStrokeTimes Stroke() {
        using Clock = std::chrono::steady_clock;
        TStrokeTimes times;
        Mouse(QEvent::MouseMove, DabPoint(0), Qt::NoButton, Qt::NoButton);
        for (int i = 0; i < DabCount; ++i) {
            const auto t0 = Clock::now();
            if (i == 0)
                Mouse(QEvent::MouseButtonPress, DabPoint(0), Qt::LeftButton, Qt::LeftButton);
            else
                Mouse(QEvent::MouseMove, DabPoint(i), Qt::NoButton, Qt::LeftButton);
            // The dab's rectangle (and the outline's old and new place) on
            // the screen now.
            TQelRect dab;
            dab = View->MapMode().LogicalToDeviceRect(Brush->GetControl(0)->Bounds);
            View->viewport()->repaint(QelToQRect(dab).adjusted(-3, -3, 3, 3));
            const double s = std::chrono::duration<double>(Clock::now() - t0).count();
            times.Total += s;
            if (i < EdgeCount) times.First += s;
            if (i >= DabCount - EdgeCount) times.Last += s;
        }
        return times;
    }
    // Commits, then undoes, so that every stroke starts on the same image.
    void Finish() {
        Mouse(QEvent::MouseButtonRelease, DabPoint(DabCount - 1), Qt::LeftButton, Qt::NoButton);
        Document->History.Undo();
    }

private:
    TStrokeBrush* Brush = nullptr;
};

void Report(benchmark::State& state, const TStrokeTimes& sum, const char* prefix) {
    const double n = double(state.iterations());
    state.counters[std::string(prefix) + "us_per_dab"] = sum.Total / n / DabCount * 1e6;
    state.counters[std::string(prefix) + "first50_us"] = sum.First / n / EdgeCount * 1e6;
    state.counters[std::string(prefix) + "last50_us"] = sum.Last / n / EdgeCount * 1e6;
    state.counters[std::string(prefix) + "last_over_first"] = sum.First > 0 ? sum.Last / sum.First : 0;
}

void BM_Stroke(benchmark::State& state, int32_t w, int32_t h) {
    TStrokeScene scene;
    if (!scene.Make(w, h)) {
        state.SkipWithError("out of memory");
        return;
    }
    TStrokeTimes sum;
    for (auto _ : state) {
        const TStrokeTimes t = scene.Stroke();
        sum.Total += t.Total;
        sum.First += t.First;
        sum.Last += t.Last;
        state.PauseTiming();
        scene.Finish();
        state.ResumeTiming();
    }
    Report(state, sum, "");
}

void BM_Stroke1000x1000(benchmark::State& state) { BM_Stroke(state, 1000, 1000); }
void BM_Stroke6000x4000(benchmark::State& state) { BM_Stroke(state, 6000, 4000); }

// Both documents stroke alternately, so that they see the same machine state.
void BM_StrokeLargeOverSmall(benchmark::State& state) {
    TStrokeScene large, small;
    if (!large.Make(6000, 4000) || !small.Make(1000, 1000)) {
        state.SkipWithError("out of memory");
        return;
    }
    TStrokeTimes l, s;
    for (auto _ : state) {
        const TStrokeTimes a = large.Stroke();
        const TStrokeTimes b = small.Stroke();
        l.Total += a.Total;
        l.First += a.First;
        l.Last += a.Last;
        s.Total += b.Total;
        s.First += b.First;
        s.Last += b.Last;
        state.PauseTiming();
        large.Finish();
        small.Finish();
        state.ResumeTiming();
    }
    Report(state, l, "large_");
    Report(state, s, "small_");
    state.counters["large_over_small"] = s.Total > 0 ? l.Total / s.Total : 0;
}

}  // namespace

BENCHMARK(BM_Stroke1000x1000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Stroke6000x4000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StrokeLargeOverSmall)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    QelBenchmarkPlatform();
    QApplication app(argc, argv);
    TQelApplication application;
    return QelRunBenchmarks(argc, argv);
}
