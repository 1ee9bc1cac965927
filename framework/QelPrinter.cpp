#include "QelPrinter.h"

#include <QPrintEngine>

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

std::unique_ptr<QPrinter> TQelPrinter::NewJob() const {
    // Qt's PDF engine writes nothing more once a write of its printer has
    // failed, while every later job still reports success: a job never
    // reuses a printer.
    auto job = std::make_unique<QPrinter>(QPrinter::HighResolution);
    // The printer first: choosing one resets the page to its default.
    job->setOutputFormat(outputFormat());
    if (outputFormat() == QPrinter::NativeFormat) job->setPrinterName(printerName());
    job->setOutputFileName(outputFileName());
    job->setPageLayout(pageLayout());
    job->setResolution(resolution());
    job->setFullPage(fullPage());
    job->setColorMode(colorMode());
    job->setCopyCount(copyCount());
    job->setCollateCopies(collateCopies());
    job->setDuplex(duplex());
    job->setPageOrder(pageOrder());
    job->setPaperSource(paperSource());
    job->setDocName(docName());
    job->setCreator(creator());
    job->setPdfVersion(pdfVersion());
    job->setFontEmbeddingEnabled(fontEmbeddingEnabled());
    job->setPrinterSelectionOption(printerSelectionOption());
    job->setPrintRange(printRange());
    job->setFromTo(fromPage(), toPage());
    // Where the printer dialog of a CUPS printer keeps the job's options
    // (banner pages, pages per sheet, page set): a property of the engine.
    constexpr auto CupsOptions = QPrintEngine::PrintEnginePropertyKey(0xfe00);
    const QVariant options = printEngine()->property(CupsOptions);
    if (options.isValid()) job->printEngine()->setProperty(CupsOptions, options);
    return job;
}

void InitQelPrinter() {
    if (!Printer) Printer = std::make_unique<TQelPrinter>();
}

void FinalizeQelPrinter() { Printer.reset(); }

TQelPrinter& QelPrinter() {
    InitQelPrinter();
    return *Printer;
}
