// What the user waits for when a photo opened losslessly is turned and
// saved: a 6000 x 4000 JPEG document (image, original, backup, session) is
// opened, untimed; then "TurnSaveOverTransform" times the document's quarter
// turn and its lossless save through the format table, together, against
// TurboJPEG's lossless 90-degree turn of the same file written to disk
// (tjTransform, then the same atomic writer); target: at most 1.1.
// "UnchangedSaveOverCopy" times a save of the document as opened against
// TurboJPEG's lossless copy of the file written to disk; target: at most
// 0.3. Both sides alternate in one run.
//
// As a command, the program does one thing and ends, so that whole
// processes can be timed against jpegtran:
//   JpegTurnSaveBench photo OUT      writes the 6000 x 4000 sample
//   JpegTurnSaveBench turn IN OUT    opens IN, turns it right, saves OUT
//   JpegTurnSaveBench save IN OUT    opens IN and saves it unchanged as OUT
#include "BenchSupport.h"
#include <benchmark/benchmark.h>

#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <chrono>
#include <cstring>
#include <memory>

#include <turbojpeg.h>

#include "JlvxSession.h"
#include "Jolvex.h"
#include "QelGraphicsEditor.h"
#include "QelGraphicsFormats.h"

namespace {

constexpr int32_t Width = 6000;
constexpr int32_t Height = 4000;

// The photo-like picture with a camera-sized application marker.
QByteArray SamplePhoto() {
    const QByteArray jpeg = QelBenchPhotoJpeg(Width, Height);
    QByteArray app1("\xFF\xE1\x10\x00", 4);
    app1 += "Exif";
    app1 += QByteArray(0x1000 - 2 - 4, 'm');
    return jpeg.left(2) + app1 + jpeg.mid(2);
}

bool WriteFile(const QString& path, const QByteArray& data) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

// A document opened through the lossless session, as the editor opens one.
struct TOpened {
    TJolvexFactory Previous;
    TQelGraphicsFormats Formats;
    std::unique_ptr<TQelGraphicsDocument> Document;

    explicit TOpened(const QString& path) {
        Previous = SetJolvexFactory([](std::shared_ptr<IJLVX>& s) {
            s = std::make_shared<TJlvxSession>();
            return JLVX_S_OK;
        });
        // Made after the factory, so that it gets a session.
        Document = std::make_unique<TQelGraphicsDocument>(nullptr);
        int32_t id = 0;
        if (!Formats.Load(*Document, path, id) || !Document->JpegSession || !Document->JpegSession->IsOpen())
            Document.reset();
    }
    ~TOpened() {
        Document.reset();
        SetJolvexFactory(Previous);
    }
    bool Save(const QString& path) { return Document && Formats.Save(*Document, path, 0); }
};

struct TSample {
    QTemporaryDir Dir;
    QByteArray Data = SamplePhoto();
    QString Path = Dir.filePath("photo.jpg");
    bool Written = WriteFile(Path, Data);
};

TSample& Sample() {
    static TSample sample;
    return sample;
}

// range(0): 1 turns right before the save, 0 saves the document as opened.
void Run(benchmark::State& state, bool turn) {
    TSample& sample = Sample();
    const QString saved = sample.Dir.filePath("saved.jpg"), peer = sample.Dir.filePath("peer.jpg");
    using Clock = std::chrono::steady_clock;
    double oursSeconds = 0, peerSeconds = 0;
    for (auto _ : state) {
        // A save closes the session, so each run opens the photo afresh.
        TOpened opened(sample.Path);
        if (!opened.Document) {
            state.SkipWithError("open failed");
            return;
        }
        const auto t0 = Clock::now();
        if (turn) opened.Document->RotateRight();
        if (!opened.Save(saved)) state.SkipWithError("save failed");
        const auto t1 = Clock::now();
        if (!QelBenchTransformToFile(sample.Data, turn ? TJXOP_ROT90 : TJXOP_NONE, peer)) state.SkipWithError("transform failed");
        const auto t2 = Clock::now();
        oursSeconds += std::chrono::duration<double>(t1 - t0).count();
        peerSeconds += std::chrono::duration<double>(t2 - t1).count();
    }
    if (turn)
        QelReportSides(state, "turn_save_ms", oursSeconds, "transform_write_ms", peerSeconds);
    else
        QelReportSides(state, "save_ms", oursSeconds, "copy_write_ms", peerSeconds);
}

void BM_TurnSaveOverTransform(benchmark::State& state) { Run(state, true); }
void BM_UnchangedSaveOverCopy(benchmark::State& state) { Run(state, false); }

// The command form; 0 when it did what it was asked.
int RunCommand(int argc, char** argv) {
    const QString a = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
    const QString b = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QString();
    if (std::strcmp(argv[1], "photo") == 0) return WriteFile(a, SamplePhoto()) ? 0 : 1;
    const bool turn = std::strcmp(argv[1], "turn") == 0;
    TOpened opened(a);
    if (!opened.Document) return 1;
    if (turn) opened.Document->RotateRight();
    return opened.Save(b) ? 0 : 1;
}

}  // namespace

BENCHMARK(BM_TurnSaveOverTransform)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(4);
BENCHMARK(BM_UnchangedSaveOverCopy)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(4);

int main(int argc, char** argv) {
    QelBenchmarkPlatform();
    QGuiApplication app(argc, argv);
    const bool command = argc > 2 && (std::strcmp(argv[1], "photo") == 0 || std::strcmp(argv[1], "turn") == 0 ||
                                      std::strcmp(argv[1], "save") == 0);
    if (command) return RunCommand(argc, argv);
    return QelRunBenchmarks(argc, argv);
}
