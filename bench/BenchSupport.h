// What the Qt benchmarks share: they run offscreen unless told otherwise.
#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include <turbojpeg.h>

#include "QelAtomicWrite.h"

inline void QelBenchmarkPlatform() {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
}

// Runs the registered benchmarks once the caller's application objects exist.
inline int QelRunBenchmarks(int& argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

// Two sides timed alternately in one run: the mean time of each per run, in
// Unit (1e3: milliseconds) under its name, and "ratio", the first over the
// second. Runs 0 is one run per iteration.
inline void QelReportSides(benchmark::State& State, const char* First, double FirstSeconds, const char* Second,
                           double SecondSeconds, double Unit = 1e3, double Runs = 0) {
    const double n = Runs > 0 ? Runs : double(State.iterations());
    State.counters[First] = FirstSeconds / n * Unit;
    State.counters[Second] = SecondSeconds / n * Unit;
    State.counters["ratio"] = SecondSeconds > 0 ? FirstSeconds / SecondSeconds : 0;
}

// A photo-like picture, smooth gradients with grain so that the entropy
// coder has real work, as a 4:2:0 JPEG at quality 90.
inline QByteArray QelBenchPhotoJpeg(int32_t Width, int32_t Height) {
    std::vector<uint8_t> rows(size_t(Width) * size_t(Height) * 3);
    std::mt19937 random(5);
    for (int32_t y = 0; y < Height; ++y)
        for (int32_t x = 0; x < Width; ++x) {
            uint8_t* p = rows.data() + (size_t(y) * size_t(Width) + size_t(x)) * 3;
            const int grain = int(random() % 16);
            p[0] = uint8_t((x / 24 + y / 40 + grain) & 0xFF);
            p[1] = uint8_t((x / 30 + grain) & 0xFF);
            p[2] = uint8_t((y / 16 + grain) & 0xFF);
        }
    tjhandle h = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    QByteArray result;
    if (tjCompress2(h, rows.data(), Width, Width * 3, Height, TJPF_BGR, &jpeg, &size, TJSAMP_420, 90, 0) == 0)
        result = QByteArray(reinterpret_cast<const char*>(jpeg), qsizetype(size));
    tjFree(jpeg);
    tjDestroy(h);
    return result;
}

// TurboJPEG's lossless transform Op of a JPEG (TJXOP_NONE: a copy of its
// blocks and markers), written to Target through the program's own atomic
// writer: the peer of a lossless save.
inline bool QelBenchTransformToFile(const QByteArray& Jpeg, int Op, const QString& Target) {
    tjhandle h = tjInitTransform();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    tjtransform t{};
    t.op = Op;
    bool ok = tjTransform(h, reinterpret_cast<const unsigned char*>(Jpeg.constData()),
                          static_cast<unsigned long>(Jpeg.size()), 1, &out, &size, &t, 0) == 0;
    QString error;
    if (ok)
        ok = QelWriteFileAtomically(Target, QByteArray::fromRawData(reinterpret_cast<const char*>(out), qsizetype(size)),
                                    error);
    tjFree(out);
    tjDestroy(h);
    return ok;
}
