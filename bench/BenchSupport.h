// What the Qt benchmarks share: they run offscreen unless told otherwise.
#pragma once

#include <QByteArray>
#include <QtGlobal>
#include <benchmark/benchmark.h>

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
