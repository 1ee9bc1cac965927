// Hand in-painting's patch engine on a round defect.
//  - PerMove: what every mouse move costs with the largest brush (radius 50):
//    the orientation search and the colour-corrected, blended transfer. The
//    argument is the image width; 1000 x 1000 and 6000 x 4000 should cost the
//    same.
//  - PerTarget: what a new defect costs once: mask, border/interior lists,
//    outlier removal and seam weights. The argument is the brush radius; the
//    cost should grow with the area, about 4x per doubled radius.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>

#include "AreaCorrelator.h"
#include "QelBitmap.h"

namespace {

void FillPhotoLike(TQelPixelBuffer& b) {
    std::mt19937 rng(1);
    for (int32_t y = 0; y < b.Height; ++y) {
        uint8_t* row = b.Bits + ptrdiff_t(y) * b.Stride;
        for (int32_t x = 0; x < b.Width; ++x) {
            const uint32_t noise = rng();
            const int base[3] = {(x / 7 + y / 5) & 0xFF, (x * 3 / 11) & 0xFF, (y / 3) & 0xFF};
            for (int c = 0; c < 3; ++c) {
                const int v = base[c] + int((noise >> (8 * c)) & 0x1F) - 16;
                row[x * 3 + c] = uint8_t(v < 0 ? 0 : (v > 255 ? 255 : v));
            }
        }
    }
}

TQelRect DefectRegion(int32_t cx, int32_t cy, int32_t radius) {
    return TQelRect(cx - radius, cy - radius, cx + radius, cy + radius);
}

void MaskDisc(TAreaCorrelator& engine, const TQelRect& region, int32_t radius) {
    const double c = radius - 0.5;
    for (int32_t x = 0; x < region.Width(); ++x)
        for (int32_t y = 0; y < region.Height(); ++y)
            engine.SetMask(region.Left + x, region.Top + y, (x - c) * (x - c) + (y - c) * (y - c) <= double(radius) * radius);
}

void BM_PerMove(benchmark::State& state) {
    const int32_t width = int32_t(state.range(0));
    const int32_t height = width == 1000 ? 1000 : 4000;
    const int32_t radius = 50;
    TQelPixelBuffer backup, current;
    backup.Allocate(QelFormatBGR24, TQelRect(0, 0, width, height));
    current.Allocate(QelFormatBGR24, TQelRect(0, 0, width, height));
    if (!backup.Bits || !current.Bits) {
        state.SkipWithError("out of memory");
        return;
    }
    FillPhotoLike(backup);
    current.CopyFrom(backup);
    const int32_t cx = width / 2, cy = height / 2;
    const TQelRect region = DefectRegion(cx, cy, radius);
    TAreaCorrelator engine(region, 2, &backup, &current);
    MaskDisc(engine, region, radius);
    engine.BuildLists();
    engine.RemoveBorderOutliers(0.2);
    engine.ComputeWeights();
    int step = 0;
    for (auto _ : state) {
        // The source follows the mouse around the defect.
        const int32_t sx = region.Left + 130 + (step * 7) % 60;
        const int32_t sy = region.Top - 40 + (step * 13) % 80;
        ++step;
        const TQelRect source(sx, sy, sx + region.Width(), sy + region.Height());
        const uint8_t o = engine.BestOrientation(source);
        engine.Transfer(TQelPoint{sx, sy}, o, 2, TAreaCorrelator::KindPerChannel, true);
        benchmark::DoNotOptimize(current.Bits);
        benchmark::ClobberMemory();
    }
    state.counters["border"] = engine.BorderList().Count();
    state.counters["interior"] = engine.InteriorList().Count();
}

void BM_PerTarget(benchmark::State& state) {
    const int32_t radius = int32_t(state.range(0));
    TQelPixelBuffer backup, current;
    backup.Allocate(QelFormatBGR24, TQelRect(0, 0, 1000, 1000));
    current.Allocate(QelFormatBGR24, TQelRect(0, 0, 1000, 1000));
    FillPhotoLike(backup);
    current.CopyFrom(backup);
    const TQelRect region = DefectRegion(500, 500, radius);
    int32_t border = 0;
    for (auto _ : state) {
        TAreaCorrelator engine(region, 2, &backup, &current);
        MaskDisc(engine, region, radius);
        engine.BuildLists();
        engine.RemoveBorderOutliers(0.2);
        engine.ComputeWeights();
        border = engine.BorderList().Count();
        benchmark::DoNotOptimize(border);
    }
    state.counters["border"] = border;
}

}  // namespace

BENCHMARK(BM_PerMove)->Arg(1000)->Arg(6000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PerTarget)->Arg(12)->Arg(25)->Arg(50)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
