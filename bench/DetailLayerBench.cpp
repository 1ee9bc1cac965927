// The make-up tools' detail layer on a 24-megapixel photo, against one
// plain box blur of the same image written the same way (row bands over the
// same threads, running column sums, a running sum along each row). The
// first build, the layer's memory taken with it as at the first make-up
// stroke on a fresh document, should stay within twice the blur's time into
// a fresh buffer ("FirstBuildOverBlur"), and the rebuild after a 100 x 100
// edit under a twentieth of a full build ("RebuildOverBuild"); both run
// their sides alternately in one run and report the ratio.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <random>
#include <vector>

#include "BenchSupport.h"
#include "QelBitmap.h"
#include "QelParallel.h"
#include "Spectrum.h"

namespace {

constexpr int32_t Width = 6000;
constexpr int32_t Height = 4000;
// A 100 x 100 edit in the middle of the photo.
const TQelRect SmallEdit(Width / 2, Height / 2, Width / 2 + 100, Height / 2 + 100);

// A photo-like picture: smooth gradients with fine noise on top.
const TQelPixelBuffer& Photo() {
    static TQelPixelBuffer image = [] {
        TQelPixelBuffer b;
        b.Allocate(QelFormatBGR24, TQelRect(0, 0, Width, Height));
        std::mt19937 rng(42);
        for (int32_t y = 0; y < Height; ++y) {
            uint8_t* p = b.PixelAddress(0, y);
            for (int32_t x = 0; x < Width; ++x, p += 3) {
                const int n = int(rng() % 17) - 8;
                p[0] = uint8_t(std::clamp(60 + x * 120 / Width + n, 0, 255));
                p[1] = uint8_t(std::clamp(90 + y * 100 / Height + n, 0, 255));
                p[2] = uint8_t(std::clamp(150 + (x + y) * 60 / (Width + Height) + n, 0, 255));
            }
        }
        return b;
    }();
    return image;
}

// One row of the blur from its column means, with the layer's split into
// the window's growing head, its full middle and its shrinking tail.
void BlurRow(const float* Means, uint8_t* Out, int32_t RowWidth) {
    float s0 = 0, s1 = 0, s2 = 0;
    const int32_t first = std::min(9, RowWidth - 1);
    for (int32_t x = 0; x <= first; ++x) {
        s0 += Means[3 * x];
        s1 += Means[3 * x + 1];
        s2 += Means[3 * x + 2];
    }
    int32_t n = first + 1;
    auto put = [&](int32_t x, float d) {
        // Means are never negative: adding a half and truncating rounds.
        Out[3 * x] = uint8_t(s0 / d + 0.5f);
        Out[3 * x + 1] = uint8_t(s1 / d + 0.5f);
        Out[3 * x + 2] = uint8_t(s2 / d + 0.5f);
    };
    auto step = [&](int32_t x) {
        if (x - 9 >= 0) {
            s0 -= Means[3 * (x - 9)], s1 -= Means[3 * (x - 9) + 1], s2 -= Means[3 * (x - 9) + 2];
            --n;
        }
        if (x + 9 < RowWidth) {
            s0 += Means[3 * (x + 9)], s1 += Means[3 * (x + 9) + 1], s2 += Means[3 * (x + 9) + 2];
            ++n;
        }
    };
    put(0, float(n));
    int32_t x = 1;
    for (; x < std::min(9, RowWidth); ++x) {
        step(x);
        put(x, float(n));
    }
    for (; x < RowWidth - 9; ++x) {
        const float* out = Means + 3 * (x - 9);
        const float* in = Means + 3 * (x + 9);
        s0 = (s0 - out[0]) + in[0];
        s1 = (s1 - out[1]) + in[1];
        s2 = (s2 - out[2]) + in[2];
        put(x, 18.0f);
    }
    for (; x < RowWidth; ++x) {
        step(x);
        put(x, float(n));
    }
}

// The 18 x 18 box mean of In into Out, rounded to bytes.
void BoxBlurBand(const TQelPixels& In, TQelPixels& Out, int32_t Y0, int32_t Y1, std::vector<int32_t>& Sums,
                 std::vector<float>& Means) {
    const int32_t w = In.Width, h = In.Height;
    auto row = [&](int32_t y) { return In.Bits + ptrdiff_t(y) * In.Stride; };
    std::fill(Sums.begin(), Sums.end(), 0);
    for (int32_t y = std::max(0, Y0 - 8); y <= std::min(h - 1, Y0 + 9); ++y)
        for (int32_t i = 0; i < w * 3; ++i) Sums[size_t(i)] += row(y)[i];
    for (int32_t y = Y0; y < Y1; ++y) {
        if (y > Y0) {
            const uint8_t* out = y - 9 >= 0 ? row(y - 9) : nullptr;
            const uint8_t* in = y + 9 < h ? row(y + 9) : nullptr;
            if (out && in)
                for (int32_t i = 0; i < w * 3; ++i) Sums[size_t(i)] += int32_t(in[i]) - int32_t(out[i]);
            else if (in)
                for (int32_t i = 0; i < w * 3; ++i) Sums[size_t(i)] += in[i];
            else if (out)
                for (int32_t i = 0; i < w * 3; ++i) Sums[size_t(i)] -= out[i];
        }
        const float n = float(std::min(h - 1, y + 9) - std::max(0, y - 8) + 1);
        for (int32_t i = 0; i < w * 3; ++i) Means[size_t(i)] = float(Sums[size_t(i)]) / n;
        BlurRow(Means.data(), Out.Bits + ptrdiff_t(y) * Out.Stride, w);
    }
}

void BoxBlur(const TQelPixels& In, TQelPixels& Out, int32_t Threads) {
    const int32_t h = In.Height;
    const int32_t threads = QelParallelThreads(h / 64, Threads);
    const int32_t band = std::max(64, h / (threads * 4) + 1);
    const int32_t bands = (h + band - 1) / band;
    std::vector<std::vector<int32_t>> sums(size_t(threads), std::vector<int32_t>(size_t(In.Width) * 3));
    std::vector<std::vector<float>> means(size_t(threads), std::vector<float>(size_t(In.Width) * 3));
    QelParallelFor(bands, threads, [&](int64_t b, int32_t slot) {
        BoxBlurBand(In, Out, int32_t(b) * band, std::min(h, int32_t(b + 1) * band), sums[size_t(slot)],
                    means[size_t(slot)]);
    });
}

int32_t ThreadsOf(const benchmark::State& state) {
    const auto n = int32_t(state.range(0));
    return n > 0 ? n : QelThreadCount();
}

void BM_DetailLayerFullBuild(benchmark::State& state) {
    const TQelPixelBuffer& image = Photo();
    const int32_t threads = ThreadsOf(state);
    TQelDetailLayer layer;
    // The layer's memory is taken once, as the blur's output is.
    layer.Build(image, threads);
    for (auto _ : state) {
        layer.Build(image, threads);
        benchmark::DoNotOptimize(layer.Row(Height / 2));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * int64_t(Width) * Height);
}

// After a 100 x 100 edit only the rows its window reaches are computed;
// this should cost under a twentieth of the full build.
void BM_DetailLayerAfterSmallEdit(benchmark::State& state) {
    const TQelPixelBuffer& image = Photo();
    const int32_t threads = ThreadsOf(state);
    TQelDetailLayer layer;
    layer.Build(image, threads);
    for (auto _ : state) {
        layer.Rebuild(image, SmallEdit, threads);
        benchmark::DoNotOptimize(layer.Row(Height / 2));
        benchmark::ClobberMemory();
    }
}

void BM_BoxBlurSameWay(benchmark::State& state) {
    const TQelPixelBuffer& image = Photo();
    const int32_t threads = ThreadsOf(state);
    TQelPixelBuffer out;
    out.Allocate(QelFormatBGR24, image.GetBounds());
    BoxBlur(image, out, threads);
    for (auto _ : state) {
        BoxBlur(image, out, threads);
        benchmark::DoNotOptimize(out.Bits);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * int64_t(Width) * Height);
}

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

void BM_FirstBuildOverBlur(benchmark::State& state) {
    const TQelPixelBuffer& image = Photo();
    const int32_t threads = ThreadsOf(state);
    double build = 0, blur = 0;
    for (auto _ : state) {
        auto t = Clock::now();
        {
            TQelDetailLayer layer;
            layer.Build(image, threads);
            benchmark::DoNotOptimize(layer.Row(Height / 2));
            build += SecondsSince(t);
        }
        t = Clock::now();
        {
            const size_t stride = size_t(image.Stride);
            std::unique_ptr<uint8_t[]> rows(new uint8_t[stride * Height]);
            TQelPixels out;
            out.Init(image.GetBounds(), rows.get(), QelFormatBGR24, image.Stride);
            BoxBlur(image, out, threads);
            benchmark::DoNotOptimize(rows.get());
            blur += SecondsSince(t);
        }
    }
    QelReportSides(state, "build_ms", build, "blur_ms", blur);
}

void BM_RebuildOverBuild(benchmark::State& state) {
    const TQelPixelBuffer& image = Photo();
    const int32_t threads = ThreadsOf(state);
    TQelDetailLayer layer;
    layer.Build(image, threads);
    double full = 0, small = 0;
    for (auto _ : state) {
        auto t = Clock::now();
        layer.Build(image, threads);
        full += SecondsSince(t);
        t = Clock::now();
        layer.Rebuild(image, SmallEdit, threads);
        small += SecondsSince(t);
        benchmark::DoNotOptimize(layer.Row(Height / 2));
    }
    QelReportSides(state, "rebuild_ms", small, "build_ms", full);
}

}  // namespace

BENCHMARK(BM_FirstBuildOverBlur)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RebuildOverBuild)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
// 0: as many threads as the layer takes by itself.
BENCHMARK(BM_DetailLayerFullBuild)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DetailLayerAfterSmallEdit)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_BoxBlurSameWay)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
