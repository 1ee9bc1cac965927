// The program's printer: one printer object for the whole run, carrying the
// map mode in which print layouts are worked out (hundredths of millimetres)
// and the choices made in the printer dialog. Jobs print on printers of
// their own made from it.
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
    // A new printer with this one's settings (printer or output file, page,
    // resolution, colour, copies, the dialog's job options), for one job.
    std::unique_ptr<QPrinter> NewJob() const;

    std::unique_ptr<TQelHiMetric> MapMode;
};

// Creates the program's printer (once; the application must exist).
void InitQelPrinter();
// Frees it; the next QelPrinter creates a new one.
void FinalizeQelPrinter();
// The program's printer, created on first use.
TQelPrinter& QelPrinter();
