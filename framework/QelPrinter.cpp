#include "QelPrinter.h"

#include "QelGeometry.h"

namespace {

std::unique_ptr<TQelPrinter> Printer;

constexpr int32_t HiMetricPerInch = 2540;

}  // namespace

TQelPrinter::TQelPrinter() : QPrinter(QPrinter::HighResolution), MapMode(std::make_unique<TQelHiMetric>()) {}

TQelPrinter::~TQelPrinter() = default;

int32_t TQelPrinter::HiMetricToDevice(int32_t HiMetric) const {
    return MulDiv(HiMetric, resolution(), HiMetricPerInch);
}

int32_t TQelPrinter::DeviceToHiMetric(int32_t Device) const {
    return MulDiv(Device, HiMetricPerInch, resolution());
}

void InitQelPrinter() {
    if (!Printer) Printer = std::make_unique<TQelPrinter>();
}

void FinalizeQelPrinter() { Printer.reset(); }

TQelPrinter& QelPrinter() {
    InitQelPrinter();
    return *Printer;
}
