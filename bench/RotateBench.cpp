// A quarter turn of an opened 6000 x 4000 JPEG document (the image, the
// original, the backup and the lossless session) against TurboJPEG's own
// lossless 90-degree turn of the same file in memory (tjTransform, which
// decodes and re-codes the entropy-coded data). Our turn only moves pixels:
// "TurnOverTransform" times both alternately in one run and reports the
// ratio (target: at most 0.3).
#include "BenchSupport.h"
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QTemporaryDir>
#include <QFile>

#include <chrono>
#include <memory>

#include <turbojpeg.h>

#include "JlvxSession.h"
#include "Jolvex.h"
#include "QelGraphicsEditor.h"
#include "QelGraphicsFormats.h"

namespace {

constexpr int32_t Width = 6000;
constexpr int32_t Height = 4000;

struct TScene {
    QTemporaryDir Dir;
    QByteArray Jpeg = QelBenchPhotoJpeg(Width, Height);
    TJolvexFactory Previous;
    TQelGraphicsFormats Formats;
    std::unique_ptr<TQelGraphicsDocument> Document;

    bool Open() {
        Previous = SetJolvexFactory([](std::shared_ptr<IJLVX>& s) {
            s = std::make_shared<TJlvxSession>();
            return JLVX_S_OK;
        });
        const QString path = Dir.filePath("photo.jpg");
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(Jpeg) != Jpeg.size()) return false;
        f.close();
        // Made after the factory, so that it gets a session.
        Document = std::make_unique<TQelGraphicsDocument>(nullptr);
        int32_t id = 0;
        return Formats.Load(*Document, path, id) && Document->JpegSession && Document->JpegSession->IsOpen();
    }
    ~TScene() {
        Document.reset();
        SetJolvexFactory(Previous);
    }
};

bool TurboTurn(const QByteArray& jpeg) {
    tjhandle h = tjInitTransform();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    tjtransform turn{};
    turn.op = TJXOP_ROT90;
    const bool ok = tjTransform(h, reinterpret_cast<const unsigned char*>(jpeg.constData()),
                                static_cast<unsigned long>(jpeg.size()), 1, &out, &size, &turn, 0) == 0;
    benchmark::DoNotOptimize(out);
    tjFree(out);
    tjDestroy(h);
    return ok;
}

void BM_TurnOverTransform(benchmark::State& state) {
    TScene scene;
    if (!scene.Open()) {
        state.SkipWithError("open failed");
        return;
    }
    using Clock = std::chrono::steady_clock;
    double turnSeconds = 0, transformSeconds = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        scene.Document->RotateRight();
        const auto t1 = Clock::now();
        if (!TurboTurn(scene.Jpeg)) state.SkipWithError("transform failed");
        const auto t2 = Clock::now();
        turnSeconds += std::chrono::duration<double>(t1 - t0).count();
        transformSeconds += std::chrono::duration<double>(t2 - t1).count();
    }
    QelReportSides(state, "turn_ms", turnSeconds, "transform_ms", transformSeconds);
}

}  // namespace

BENCHMARK(BM_TurnOverTransform)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv) {
    QelBenchmarkPlatform();
    QGuiApplication app(argc, argv);
    return QelRunBenchmarks(argc, argv);
}
