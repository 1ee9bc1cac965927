// Saving a 6000 x 4000 JPEG through the lossless session, unchanged and
// after a 100 x 100 edit, against TurboJPEG's own lossless copy
// (tjTransform with TJXOP_NONE, markers copied: what jpegtran -copy all
// does) of the same file. "SaveOverCopy" times both alternately in one run,
// each writing its file through the same atomic writer, and reports their
// ratio; targets: at most 1.2 unchanged, at most 1.5 after the edit. The
// "full" rows show the save that compares every block (no changed
// rectangles given), for reference.
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
#include "QelBitmap.h"

namespace {

constexpr int32_t Width = 6000;
constexpr int32_t Height = 4000;
const TQelRect Edit(2011, 1507, 2111, 1607);

// The photo-like picture with a camera-sized application marker, as a file.
struct TSample {
    QTemporaryDir Dir;
    QString Path;
    QByteArray Data;

    TSample() {
        const QByteArray jpeg = QelBenchPhotoJpeg(Width, Height);
        QByteArray app1("\xFF\xE1\x10\x00", 4);
        app1 += "Exif";
        app1 += QByteArray(0x1000 - 2 - 4, 'm');
        Data = jpeg.left(2) + app1 + jpeg.mid(2);
        Path = Dir.filePath("photo.jpg");
        QFile f(Path);
        if (f.open(QIODevice::WriteOnly)) f.write(Data);
    }
};

TSample& Sample() {
    static TSample sample;
    return sample;
}

// An opened, decoded session and the document's pixels, edited or not.
struct TOpened {
    TJlvxSession Session;
    TQelPixelBuffer Image;
    std::vector<TQelRect> Changed;
    bool Ready = false;

    explicit TOpened(bool edited) {
        if (!Session.Open(Sample().Path)) return;
        Image.Allocate(QelFormatBGR24, TQelRect(0, 0, Width, Height));
        if (!Image.Bits || !Session.Decode(Image.Bits, Image.Stride, 0)) return;
        if (edited) {
            for (int32_t y = Edit.Top; y < Edit.Bottom; ++y)
                for (int32_t x = Edit.Left; x < Edit.Right; ++x) Image.PixelAddress(x, y)[2] ^= 0x55;
            Changed.push_back(Edit);
        }
        Ready = true;
    }
    bool Save(const QString& target, bool full) {
        TJlvxSaveOptions o;
        o.BlockSize = 16;
        o.Pixels = Image.Bits;
        o.Stride = Image.Stride;
        o.Changed = full ? nullptr : &Changed;
        return Session.Save(target, o);
    }
};

// range(0): 0 unchanged, 1 after the edit; range(1): 1 compares every block.
void BM_SaveOverCopy(benchmark::State& state) {
    const bool edited = state.range(0) != 0, full = state.range(1) != 0;
    TOpened opened(edited);
    if (!opened.Ready) {
        state.SkipWithError("open failed");
        return;
    }
    const QString saved = Sample().Dir.filePath("saved.jpg"), copied = Sample().Dir.filePath("copied.jpg");
    using Clock = std::chrono::steady_clock;
    double saveSeconds = 0, copySeconds = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        if (!opened.Save(saved, full)) state.SkipWithError("save failed");
        const auto t1 = Clock::now();
        if (!QelBenchTransformToFile(Sample().Data, TJXOP_NONE, copied)) state.SkipWithError("copy failed");
        const auto t2 = Clock::now();
        saveSeconds += std::chrono::duration<double>(t1 - t0).count();
        copySeconds += std::chrono::duration<double>(t2 - t1).count();
    }
    QelReportSides(state, "save_ms", saveSeconds, "copy_ms", copySeconds);
    state.counters["encoded_mcus"] = opened.Session.LastEncodedMCUs();
}

}  // namespace

BENCHMARK(BM_SaveOverCopy)
    ->ArgNames({"edited", "full"})
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({0, 1})
    ->Args({1, 1})
    ->Unit(benchmark::kMillisecond)
    ->MinTime(3);

int main(int argc, char** argv) {
    QelBenchmarkPlatform();
    QGuiApplication app(argc, argv);
    return QelRunBenchmarks(argc, argv);
}
