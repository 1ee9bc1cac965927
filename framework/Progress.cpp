#include "Progress.h"

#include <algorithm>

TProgressMeter* ProgressMeter = nullptr;

TProgressMeter::TProgressMeter(QProgressBar* progressBar) : FProgressBar(progressBar), FDefaultMax(0), FStepSize(1) {}

void TProgressMeter::Start(int32_t maximum) {
    if (!FProgressBar) return;
    const int32_t max = maximum != 0 ? maximum : FDefaultMax;
    // An empty range turns the bar into an animated busy indicator; an empty
    // bar is what is meant, so keep the range at least one step wide.
    FProgressBar->setRange(0, std::max<int32_t>(max, 1));
    FProgressBar->setValue(0);
}

void TProgressMeter::Step() {
    if (!FProgressBar) return;
    // QProgressBar repaints by itself when the change is visible; no event
    // processing here, the caller's computation must not be re-entered.
    const int64_t value = std::max<int64_t>(FProgressBar->value(), FProgressBar->minimum()) + FStepSize;
    FProgressBar->setValue(int32_t(std::clamp<int64_t>(value, FProgressBar->minimum(), FProgressBar->maximum())));
}
