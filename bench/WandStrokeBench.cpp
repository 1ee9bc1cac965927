// A 20-dab stroke of the imperfection wand (size 60) on a 6000 x 4000 and a
// 1000 x 1000 document, press to release, driven by mouse events on a shown
// view. The stroke's cost should follow the brush, not the image:
// "LargeOverSmall" strokes both alternately in one run and reports the ratio
// (target: at most 1.5).
#include "BenchSupport.h"
#include "BenchToolScene.h"
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QMouseEvent>
#include <QWidget>

#include <chrono>
#include <memory>

#include "QelForms.h"
#include "QelGraphicsEditor.h"
#include "QelImperfectionWandTool.h"

namespace {

constexpr int DabCount = 20;

class TWandScene : public TQelBenchToolScene {
public:
    bool Make(int32_t w, int32_t h) {
        if (!MakeDocument(w, h, [](int32_t x, int32_t y, uint8_t* p) {
                p[0] = uint8_t(120 + (x * 7 + y * 3) % 40);
                p[1] = uint8_t(140 + (x * 5 + y) % 30);
                p[2] = uint8_t(180 + (x + y * 11) % 20);
            })) return false;
        Wand = TQelApplication::Instance()->CreateComponent<TQelImperfectionWandTool>();
        Wand->SetMode(TQelImperfectionWandTool::ModeBoth);
        Wand->SetSize(60);
        Wand->CreateControl(View);
        Wand->Activate();
        QApplication::processEvents();
        return true;
    }
    ~TWandScene() {
        Document.reset();
        delete Wand;
    }

    // Press, 20 dabs along a line, release: seconds.
    double Stroke() {
        using Clock = std::chrono::steady_clock;
        const auto t0 = Clock::now();
        Mouse(QEvent::MouseMove, Dab(0), Qt::NoButton, Qt::NoButton);
        Mouse(QEvent::MouseButtonPress, Dab(0), Qt::LeftButton, Qt::LeftButton);
        for (int i = 1; i < DabCount; ++i) Mouse(QEvent::MouseMove, Dab(i), Qt::NoButton, Qt::LeftButton);
        Mouse(QEvent::MouseButtonRelease, Dab(DabCount - 1), Qt::LeftButton, Qt::NoButton);
        return std::chrono::duration<double>(Clock::now() - t0).count();
    }
    // Every stroke starts on the same image; false when the stroke made no
    // step (it timed nothing).
    bool Undo() {
        if (Document->History.Count() != 1) return false;
        Document->History.Undo();
        return true;
    }

private:
    static QPoint Dab(int i) { return QPoint(100 + i * 25, 300); }
    TQelImperfectionWandTool* Wand = nullptr;
};

void BM_WandStrokeLargeOverSmall(benchmark::State& state) {
    TWandScene large, small;
    if (!large.Make(6000, 4000) || !small.Make(1000, 1000)) {
        state.SkipWithError("out of memory");
        return;
    }
    double l = 0, s = 0;
    for (auto _ : state) {
        l += large.Stroke();
        s += small.Stroke();
        state.PauseTiming();
        if (!large.Undo() || !small.Undo()) state.SkipWithError("the stroke changed nothing");
        state.ResumeTiming();
    }
    QelReportSides(state, "large_ms", l, "small_ms", s);
}

}  // namespace

BENCHMARK(BM_WandStrokeLargeOverSmall)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    QelBenchmarkPlatform();
    QApplication app(argc, argv);
    TQelApplication application;
    return QelRunBenchmarks(argc, argv);
}
