#include <gtest/gtest.h>

#include <QProgressBar>

#include <memory>

#include "Progress.h"

TEST(ProgressMeter, StartStepAndEmptyAgainWithoutBusyMode) {
    QProgressBar bar;
    TProgressMeter meter(&bar);
    meter.Start(10);
    EXPECT_EQ(bar.maximum(), 10);
    EXPECT_EQ(bar.value(), 0);
    for (int i = 0; i < 3; ++i) meter.Step();
    EXPECT_EQ(bar.value(), 3);
    for (int i = 0; i < 20; ++i) meter.Step();
    EXPECT_EQ(bar.value(), 10);  // never past the maximum

    // Start(0) with the default maximum 0 empties the bar; a 0..0 range would
    // make it an endless busy animation instead.
    meter.Start(0);
    EXPECT_EQ(bar.value(), 0);
    EXPECT_NE(bar.minimum(), bar.maximum());
    meter.SetDefaultMax(50);
    meter.Start(0);
    EXPECT_EQ(bar.maximum(), 50);

    // A bar never started (value -1) counts from its minimum.
    QProgressBar fresh;
    fresh.setRange(0, 5);
    TProgressMeter(&fresh).Step();
    EXPECT_EQ(fresh.value(), 1);
}

TEST(ProgressMeter, OutlivesItsBar) {
    auto bar = std::make_unique<QProgressBar>();
    TProgressMeter meter(bar.get());
    meter.Start(4);
    bar.reset();
    meter.Step();
    meter.Start(0);
    EXPECT_EQ(meter.ProgressBar(), nullptr);
    TProgressMeter(nullptr).Start(3);
}
