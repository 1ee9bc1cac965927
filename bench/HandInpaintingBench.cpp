// One mouse move of a pending hand in-painting patch: the orientation search,
// the corrected transfer, the magnified preview and the repaint of the target
// on the view. Its cost must follow the brush, not the photo:
// "LargeOverSmall" moves over a 6000 x 4000 photo and a 600 x 400 one
// alternately, in one run, and reports their ratio.
#include "BenchSupport.h"
#include <benchmark/benchmark.h>

#include <QApplication>

#include <chrono>
#include <memory>
#include <random>

#include "QelForms.h"
#include "QelGraphicsEditor.h"
#include "QelHandInpaintingTool.h"
#include "QelHandInpaintingToolControl.h"
#include "QelMainForm.h"
#include "QelToolPanel.h"

namespace {

// The program's editor and tool panel with the tool, a photo of noise on a
// gradient, and a patch pending on its middle.
class TScene {
public:
    TScene(int32_t w, int32_t h, int32_t size) {
        FApp.CreateModule(FEditor);
        FApp.CreateModule(ToolPanelModule);
        FApp.CreateModule(FTool);
        MainForm->setGeometry(0, 0, 1400, 1000);
        MainForm->show();
        std::unique_ptr<TQelDocument> owned = FEditor->CreateDocument();
        auto* document = static_cast<TQelGraphicsDocument*>(owned.get());
        if (!document->Image.SetSize(w, h, QelFormatBGR24)) return;
        std::mt19937 rng(7);
        TQelPixels* p = document->GetPixels();
        for (int32_t y = 0; y < h; ++y) {
            uint8_t* row = p->PixelAddress(0, y);
            for (int32_t x = 0; x < w; ++x, row += 3) {
                row[0] = uint8_t((x >> 4) + (rng() & 15));
                row[1] = uint8_t((y >> 4) + (rng() & 15));
                row[2] = uint8_t(128 + (rng() & 31));
            }
        }
        document->OriginalImage.SetSize(w, h, QelFormatBGR24);
        document->SyncBackup();
        TQelViewControl* view = nullptr;
        if (!FEditor->ShowDocument(document, view)) return;
        FEditor->Documents.push_back(std::move(owned));
        FEditor->SetActiveDocument(document);
        document->AfterOpen();
        QApplication::processEvents();
        FTool->MakeCurrent();
        FTool->SetSize(size);
        FControl = dynamic_cast<TQelHandInpaintingToolControl*>(FTool->GetControl(0));
        FView = FEditor->GetActiveView();
        if (!FControl || !FView) return;
        // The same zoom for every photo, so the view repaints as much.
        FView->ActualSize();
        QApplication::processEvents();
        // The target in the middle of what the view shows.
        FCentre = FView->MapMode().DeviceToLogical(TQelPoint{FView->viewport()->width() / 2,
                                                            FView->viewport()->height() / 2});
        FControl->MouseMove(0, Device(FCentre.X, FCentre.Y));
        FControl->MouseDown(mbLeft, 0, Device(FCentre.X, FCentre.Y));
        Ready = FTool->Pending && FTool->Engine();
    }
    ~TScene() {
        if (FTool && FTool->Pending) FTool->CancelPatch();
        FApp.DestroyComponents();
    }

    // One move to the next of a ring of source positions around the target,
    // with the paint it causes.
    void Move() {
        FStep = (FStep + 1) % 64;
        const int32_t dx = (FStep % 8) * 6 - 21;
        const int32_t dy = (FStep / 8) * 6 - 21;
        FControl->MouseMove(0, Device(FCentre.X + 40 + dx, FCentre.Y + 40 + dy));
        QApplication::processEvents();
        benchmark::ClobberMemory();
    }

    bool Ready = false;

private:
    TQelPoint Device(int32_t x, int32_t y) const { return FView->MapMode().LogicalToDevice(TQelPoint{x, y}); }

    TQelApplication FApp;
    TQelGraphicsEditor* FEditor = nullptr;
    TQelHandInpaintingTool* FTool = nullptr;
    TQelHandInpaintingToolControl* FControl = nullptr;
    TQelGraphicsView* FView = nullptr;
    TQelPoint FCentre;
    int FStep = 0;
};

void BM_Move(benchmark::State& state, int32_t w, int32_t h) {
    TScene scene(w, h, int32_t(state.range(0)));
    if (!scene.Ready) {
        state.SkipWithError("no pending patch");
        return;
    }
    for (auto _ : state) scene.Move();
}

void BM_Move6000x4000(benchmark::State& state) { BM_Move(state, 6000, 4000); }
void BM_Move600x400(benchmark::State& state) { BM_Move(state, 600, 400); }

// Both photos in one process, so their figures compare: only one scene
// exists at a time (the program has one editor), each timed over the same
// number of moves.
void BM_LargeOverSmall(benchmark::State& state) {
    using Clock = std::chrono::steady_clock;
    const int32_t size = int32_t(state.range(0));
    constexpr int Moves = 200;
    double largeSeconds = 0, smallSeconds = 0;
    for (auto _ : state) {
        double timed = 0;
        for (int which = 0; which < 2; ++which) {
            TScene scene(which == 0 ? 6000 : 600, which == 0 ? 4000 : 400, size);
            if (!scene.Ready) {
                state.SkipWithError("no pending patch");
                return;
            }
            scene.Move();  // warm
            const auto t0 = Clock::now();
            for (int i = 0; i < Moves; ++i) scene.Move();
            const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
            (which == 0 ? largeSeconds : smallSeconds) += seconds;
            timed += seconds;
        }
        // Only the moves count, not building the photos.
        state.SetIterationTime(timed);
    }
    QelReportSides(state, "large_us_per_move", largeSeconds, "small_us_per_move", smallSeconds, 1e6,
                   double(state.iterations()) * Moves);
}

}  // namespace

BENCHMARK(BM_Move6000x4000)->Arg(25)->Arg(100)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Move600x400)->Arg(25)->Arg(100)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LargeOverSmall)->Arg(25)->Arg(100)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    QelBenchmarkPlatform();
    QApplication app(argc, argv);
    return QelRunBenchmarks(argc, argv);
}
