// Lanczos resampling of photo-sized 24-bit images: a 24-megapixel photo
// reduced to 1500 x 1000, and 1500 x 1000 enlarged to 3000 x 2000. The
// argument is the thread count (0 = chosen from the processor count).
#include <benchmark/benchmark.h>

#include <random>

#include "QelBitmap.h"

namespace {

void FillPhotoLike(TQelPixelBuffer& b) {
    // Smooth gradients with noise on top, so that no row is trivially flat.
    std::mt19937 rng(1);
    std::uniform_int_distribution<int> noise(-12, 12);
    for (int32_t y = 0; y < b.Height; ++y) {
        uint8_t* row = b.Bits + ptrdiff_t(y) * b.Stride;
        for (int32_t x = 0; x < b.Width; ++x) {
            const int base[3] = {x * 255 / b.Width, y * 255 / b.Height, (x + y) * 255 / (b.Width + b.Height)};
            for (int c = 0; c < 3; ++c) {
                const int v = base[c] + noise(rng);
                row[x * 3 + c] = uint8_t(v < 0 ? 0 : (v > 255 ? 255 : v));
            }
        }
    }
}

void Resample(benchmark::State& state, int32_t srcW, int32_t srcH, int32_t dstW, int32_t dstH) {
    TQelPixelBuffer src, dst;
    src.Allocate(QelFormatBGR24, TQelRect(0, 0, srcW, srcH));
    dst.Allocate(QelFormatBGR24, TQelRect(0, 0, dstW, dstH));
    if (src.Bits == nullptr || dst.Bits == nullptr) {
        state.SkipWithError("out of memory");
        return;
    }
    FillPhotoLike(src);
    SetResampleThreadCount(int32_t(state.range(0)));
    const TLanczosResampler kernel;
    for (auto _ : state) {
        ResamplePixels(dst, dst.GetBounds(), dst.GetBounds(), src, src.GetBounds(), kernel);
        benchmark::DoNotOptimize(dst.Bits);
        benchmark::ClobberMemory();
    }
    SetResampleThreadCount(0);
    state.SetItemsProcessed(state.iterations() * int64_t(srcW) * srcH);
    state.counters["src_MPix"] = double(srcW) * srcH / 1e6;
}

void BM_ReduceTo1500x1000(benchmark::State& state) { Resample(state, 6000, 4000, 1500, 1000); }
void BM_Enlarge1500x1000To3000x2000(benchmark::State& state) { Resample(state, 1500, 1000, 3000, 2000); }

}  // namespace

BENCHMARK(BM_ReduceTo1500x1000)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Enlarge1500x1000To3000x2000)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
