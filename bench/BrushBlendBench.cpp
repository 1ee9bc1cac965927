// One brush dab: a coverage mask blended in one colour into a 24-bit image,
// as the brushes stamp it at every mouse move. The cost must follow the
// mask's size, with nothing allocated per dab.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>

#include "QelBitmap.h"
#include "QelNumeric.h"

namespace {

// Blends Colour into Pixels with the mask's coverage as alpha, inside the
// overlap of mask and pixel bounds.
void BlendMask(TQelPixels& Pixels, const TQelPixelMask& Mask, uint32_t Colour) {
    TQelRect r;
    if (Pixels.Bits == nullptr || Mask.Data == nullptr || !QelIntersectRect(r, Mask.GetBounds(), Pixels.GetBounds()))
        return;
    for (int32_t y = r.Top; y < r.Bottom; ++y) {
        const uint8_t* alpha = Mask.MaskAddress(r.Left, y);
        auto* px = reinterpret_cast<TQelRGBTriple*>(Pixels.PixelAddress(r.Left, y));
        for (int32_t x = 0; x < r.Width(); ++x) BlendPixel(px[x], alpha[x], Colour);
    }
}

// A round soft brush: full coverage inside, falling off to 0 at the edge.
void MakeBrush(TQelPixelMask& mask, int32_t size) {
    mask.Init(0, 0, size, size);
    const double c = (size - 1) / 2.0;
    for (int32_t y = 0; y < size; ++y)
        for (int32_t x = 0; x < size; ++x) {
            const double d = std::hypot(x - c, y - c) / (c + 0.5);
            *mask.MaskAddress(x, y) = uint8_t(std::clamp(255.0 * (1.5 - 1.5 * d), 0.0, 255.0));
        }
}

void BM_BlendBrushMask(benchmark::State& state) {
    const auto size = int32_t(state.range(0));
    TQelPixelBuffer image;
    image.Allocate(QelFormatBGR24, TQelRect(0, 0, 3000, 2000));
    if (image.Bits == nullptr) {
        state.SkipWithError("out of memory");
        return;
    }
    TQelPixelMask brush;
    MakeBrush(brush, size);
    int32_t step = 0;
    for (auto _ : state) {
        // Dabs along a stroke, so that each lands on fresh rows.
        brush.Left = 100 + (step * 7) % 2700;
        brush.Top = 100 + (step * 3) % 1700;
        ++step;
        BlendMask(image, brush, 0x00C08040);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * int64_t(size) * size);
}

}  // namespace

BENCHMARK(BM_BlendBrushMask)->Arg(51)->Arg(101)->Arg(201);

BENCHMARK_MAIN();
