// The program's printer: one printer object for the whole run, carrying the
// map mode in which print layouts are worked out (hundredths of millimetres).
#pragma once

#include <QPrinter>

#include <memory>

#include "QelClasses.h"

class TQelPrinter : public QPrinter {
public:
    TQelPrinter();
    ~TQelPrinter();

    // Hundredths of a millimetre to printer pixels and back, at the
    // printer's resolution.
    int32_t HiMetricToDevice(int32_t HiMetric) const;
    int32_t DeviceToHiMetric(int32_t Device) const;

    std::unique_ptr<TQelHiMetric> MapMode;
};

// Creates the program's printer (once; the application must exist).
void InitQelPrinter();
// Frees it; the next QelPrinter creates a new one.
void FinalizeQelPrinter();
// The program's printer, created on first use.
TQelPrinter& QelPrinter();
