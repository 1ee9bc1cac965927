// One brush dab: a coverage mask blended in one colour into a 24-bit image,
// through the routine the brushes stamp with at every mouse move. The cost
// must follow the mask's size, with nothing allocated per dab.
#include <benchmark/benchmark.h>

#include "QelBitmap.h"
#include "QelDrawTools.h"

namespace {

void BM_BlendBrushMask(benchmark::State& state) {
    const auto size = int32_t(state.range(0));
    TQelPixelBuffer image;
    image.Allocate(QelFormatBGR24, TQelRect(0, 0, 3000, 2000));
    if (image.Bits == nullptr) {
        state.SkipWithError("out of memory");
        return;
    }
    // A soft round brush at full opacity, hard in its inner half.
    TQelPixelMask brush;
    TQelMaskDrawTool::BuildSoftMask(brush, size, 255, 128);
    const TQelRect bounds = image.GetBounds();
    int32_t step = 0;
    for (auto _ : state) {
        // Dabs along a stroke, so that each lands on fresh rows.
        const int32_t left = 100 + (step * 7) % 2700;
        const int32_t top = 100 + (step * 3) % 1700;
        ++step;
        brush.Left = left;
        brush.Top = top;
        TQelMaskDrawTool::BlendColorMask(brush, image, 0x00C08040, bounds, image);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * int64_t(size) * size);
}

}  // namespace

BENCHMARK(BM_BlendBrushMask)->Arg(51)->Arg(101)->Arg(201);

BENCHMARK_MAIN();
