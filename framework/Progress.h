// The progress meter: long computations on the UI thread advance the
// status bar's progress bar through it.
#pragma once

#include <QPointer>
#include <QProgressBar>

#include <cstdint>

class TProgressMeter {
public:
    explicit TProgressMeter(QProgressBar* progressBar);

    // Maximum := Maximum, or the default maximum when it is 0; position := 0.
    // Start(0) therefore empties the bar after a computation.
    void Start(int32_t maximum);
    // Advances the bar by the step, never past its maximum.
    void Step();

    void SetDefaultMax(int32_t value) { FDefaultMax = value; }
    int32_t StepSize() const { return FStepSize; }
    void SetStepSize(int32_t value) { FStepSize = value; }
    QProgressBar* ProgressBar() const { return FProgressBar; }

private:
    // The bar belongs to the status bar, which may go first at shut-down.
    QPointer<QProgressBar> FProgressBar;
    int32_t FDefaultMax = 0;
    int32_t FStepSize = 1;
};

// The program's meter over the status-bar progress bar; set by the
// composition root, nullptr before and after.
extern TProgressMeter* ProgressMeter;
