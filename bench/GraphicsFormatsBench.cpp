// Opening a 6000 x 4000 JPEG into a document and saving it again. The open
// must cost little more than TurboJPEG decoding the same file into a BGR
// buffer on its own: "OpenOverDecode" times both alternately in one run and
// reports their ratio (target: at most 1.15), once through the decoder and
// once through the lossless session.
#include "BenchSupport.h"
#include <benchmark/benchmark.h>

#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <chrono>
#include <memory>
#include <vector>

#include <turbojpeg.h>

#include "JlvxSession.h"
#include "Jolvex.h"
#include "QelGraphicsEditor.h"
#include "QelGraphicsFormats.h"

namespace {

constexpr int32_t Width = 6000;
constexpr int32_t Height = 4000;

class TQuietFormats : public TQelGraphicsFormats {
protected:
    bool ExecuteJpegOptions(int32_t& Quality) override {
        Quality = 90;
        return true;
    }
};

// The photo-like picture as a file.
struct TSample {
    QTemporaryDir Dir;
    QString Path;

    TSample() {
        Path = Dir.filePath("photo.jpg");
        QFile f(Path);
        if (f.open(QIODevice::WriteOnly)) f.write(QelBenchPhotoJpeg(Width, Height));
    }
};

TSample& Sample() {
    static TSample sample;
    return sample;
}

// The baseline: read the file and decode it into a fresh BGR buffer.
bool TurboDecode(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return false;
    const QByteArray data = f.readAll();
    tjhandle h = tjInitDecompress();
    const int stride = (Width * 3 + 3) & ~3;
    std::unique_ptr<uint8_t[]> rows(new uint8_t[size_t(stride) * Height]);
    const bool ok = tjDecompress2(h, reinterpret_cast<const unsigned char*>(data.constData()),
                                  static_cast<unsigned long>(data.size()), rows.get(), Width, stride, Height, TJPF_BGR,
                                  0) == 0;
    benchmark::DoNotOptimize(rows.get());
    tjDestroy(h);
    return ok;
}

bool OpenDocument(TQelGraphicsFormats& formats, const QString& path) {
    TQelGraphicsDocument document(nullptr);
    int32_t id = 0;
    const bool ok = formats.Load(document, path, id);
    benchmark::DoNotOptimize(document.GetPixels());
    return ok;
}

class TSessionFactory {
public:
    explicit TSessionFactory(bool On) {
        FPrevious = SetJolvexFactory(On ? TJolvexFactory([](std::shared_ptr<IJLVX>& s) {
            s = std::make_shared<TJlvxSession>();
            return JLVX_S_OK;
        })
                                        : TJolvexFactory());
    }
    ~TSessionFactory() { SetJolvexFactory(FPrevious); }

private:
    TJolvexFactory FPrevious;
};

void BM_TurboDecode6000x4000(benchmark::State& state) {
    const QString path = Sample().Path;
    for (auto _ : state)
        if (!TurboDecode(path)) state.SkipWithError("decode failed");
}

void BM_Open6000x4000(benchmark::State& state) {
    TSessionFactory session(state.range(0) != 0);
    TQuietFormats formats;
    const QString path = Sample().Path;
    for (auto _ : state)
        if (!OpenDocument(formats, path)) state.SkipWithError("open failed");
}

void BM_OpenOverDecode(benchmark::State& state) {
    TSessionFactory session(state.range(0) != 0);
    TQuietFormats formats;
    // The sample is written on first use; that must not count as an open.
    const QString path = Sample().Path;
    using Clock = std::chrono::steady_clock;
    double openSeconds = 0, decodeSeconds = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        if (!OpenDocument(formats, path)) state.SkipWithError("open failed");
        const auto t1 = Clock::now();
        if (!TurboDecode(path)) state.SkipWithError("decode failed");
        const auto t2 = Clock::now();
        openSeconds += std::chrono::duration<double>(t1 - t0).count();
        decodeSeconds += std::chrono::duration<double>(t2 - t1).count();
    }
    QelReportSides(state, "open_ms", openSeconds, "decode_ms", decodeSeconds);
}

void BM_SaveJpeg6000x4000(benchmark::State& state) {
    TSessionFactory session(false);
    TQuietFormats formats;
    TQelGraphicsDocument document(nullptr);
    int32_t id = 0;
    if (!formats.Load(document, Sample().Path, id)) {
        state.SkipWithError("open failed");
        return;
    }
    const QString out = Sample().Dir.filePath("saved.jpg");
    for (auto _ : state)
        if (!formats.Save(document, out, 0)) state.SkipWithError("save failed");
}

}  // namespace

BENCHMARK(BM_TurboDecode6000x4000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Open6000x4000)->ArgName("session")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenOverDecode)->ArgName("session")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveJpeg6000x4000)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    QelBenchmarkPlatform();
    QGuiApplication app(argc, argv);
    return QelRunBenchmarks(argc, argv);
}
