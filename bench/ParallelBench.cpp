// A small call split over 8 threads (8 pieces, each summing 256 KiB), after
// the caller paused 30 ms against after it paused 5 ms, as between a user's
// edits: helpers that ended during the pause are started afresh, which
// costs more than the call. "AfterLongPauseOverShort" times both sides
// alternately in one run and reports the ratio (target: at most 1.5).
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <numeric>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "QelParallel.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int32_t Threads = 8;
constexpr size_t PieceBytes = 256 * 1024;

void BM_AfterLongPauseOverShort(benchmark::State& state) {
    std::vector<uint8_t> data(PieceBytes * Threads);
    std::iota(data.begin(), data.end(), uint8_t(0));
    std::atomic<uint64_t> total{0};
    const std::function<void(int64_t, int32_t)> piece = [&](int64_t i, int32_t) {
        const uint8_t* p = data.data() + size_t(i) * PieceBytes;
        total.fetch_add(std::accumulate(p, p + PieceBytes, uint64_t(0)), std::memory_order_relaxed);
    };
    auto after = [&](int32_t Pause) {
        std::this_thread::sleep_for(std::chrono::milliseconds(Pause));
        const auto t = Clock::now();
        QelParallelFor(Threads, Threads, piece);
        return std::chrono::duration<double>(Clock::now() - t).count();
    };
    double longPause = 0, shortPause = 0;
    for (auto _ : state) {
        shortPause += after(5);
        longPause += after(30);
    }
    benchmark::DoNotOptimize(total.load());
    QelReportSides(state, "after30_ms", longPause, "after5_ms", shortPause);
}

}  // namespace

BENCHMARK(BM_AfterLongPauseOverShort)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(60);

BENCHMARK_MAIN();
