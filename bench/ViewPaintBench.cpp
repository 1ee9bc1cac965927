// One paint of a 1600 x 1000 view: a 6000 x 4000 photo at best fit against
// a 1600 x 1000 photo at 1:1. The paint must cost what the viewport costs,
// not what the image costs; "BestFitOverOneToOne" times both in one run and
// reports their ratio.
#include "BenchSupport.h"
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QImage>
#include <QRegion>

#include <chrono>
#include <memory>
#include <random>

#include "QelLTBitmap.h"
#include "QelView.h"
// The image object the view tests check, so the paint timed is the one tested.
#include "../tests/framework/ViewTestSupport.h"

namespace {

constexpr int ViewWidth = 1600;
constexpr int ViewHeight = 1000;

struct TScene {
    TQelLTBitmap Bitmap;
    TQelViewObjectList Objects;
    TQelViewCanvas Canvas;
    QImage Window{ViewWidth, ViewHeight, QImage::Format_RGB32};  // what a backing store holds

    bool Make(int32_t w, int32_t h) {
        if (!Bitmap.SetSize(w, h, QelFormatBGR24)) return false;
        std::mt19937 rng(1);
        TQelPixels* p = Bitmap.GetPixels();
        for (int32_t y = 0; y < h; ++y) {
            uint8_t* row = p->PixelAddress(0, y);
            for (int32_t x = 0; x < w * 3; ++x) row[x] = uint8_t(rng());
        }
        Objects.Add(QelCreateViewObject<TImageObject>(&Bitmap));
        // The largest scale at which the whole image fits, centred.
        TQelMapMode& m = Canvas.MapMode;
        if (int64_t(h) * ViewWidth >= int64_t(w) * ViewHeight) {
            m.DeviceExtent = TQelPoint{ViewHeight, ViewHeight};
            m.LogicalExtent = TQelPoint{h, h};
        } else {
            m.DeviceExtent = TQelPoint{ViewWidth, ViewWidth};
            m.LogicalExtent = TQelPoint{w, w};
        }
        const TQelRect shown = m.LogicalToDeviceRect(Bitmap.GetBoundsRect());
        m.DeviceOrigin = TQelPoint{(ViewWidth - shown.Width()) / 2, (ViewHeight - shown.Height()) / 2};
        return true;
    }

    void Paint() {
        QelPaintViewObjects(Canvas, Objects, &Window, QRegion(0, 0, ViewWidth, ViewHeight));
        benchmark::DoNotOptimize(Window.constBits());
        benchmark::ClobberMemory();
    }
};

void BM_ViewPaint(benchmark::State& state, int32_t w, int32_t h) {
    TScene scene;
    if (!scene.Make(w, h)) {
        state.SkipWithError("out of memory");
        return;
    }
    for (auto _ : state) scene.Paint();
    state.counters["viewport_MPix"] = ViewWidth * ViewHeight / 1e6;
}

void BM_BestFit6000x4000(benchmark::State& state) { BM_ViewPaint(state, 6000, 4000); }
void BM_OneToOne1600x1000(benchmark::State& state) { BM_ViewPaint(state, 1600, 1000); }

// Both paints alternately, so that they see the same machine state.
void BM_BestFitOverOneToOne(benchmark::State& state) {
    TScene large, small;
    if (!large.Make(6000, 4000) || !small.Make(1600, 1000)) {
        state.SkipWithError("out of memory");
        return;
    }
    using Clock = std::chrono::steady_clock;
    double largeSeconds = 0, smallSeconds = 0;
    for (auto _ : state) {
        auto t0 = Clock::now();
        large.Paint();
        auto t1 = Clock::now();
        small.Paint();
        auto t2 = Clock::now();
        largeSeconds += std::chrono::duration<double>(t1 - t0).count();
        smallSeconds += std::chrono::duration<double>(t2 - t1).count();
    }
    QelReportSides(state, "best_fit_ms", largeSeconds, "one_to_one_ms", smallSeconds);
}

}  // namespace

BENCHMARK(BM_BestFit6000x4000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OneToOne1600x1000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BestFitOverOneToOne)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    QelBenchmarkPlatform();
    QGuiApplication app(argc, argv);
    return QelRunBenchmarks(argc, argv);
}
