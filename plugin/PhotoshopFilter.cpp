#include "PhotoshopFilter.h"

#include <cstdio>

TPhotoshopFilter* PhotoshopFilter = nullptr;

TPhotoshopFilter::TPhotoshopFilter() : Caption("About"), AboutText() { PhotoshopFilter = this; }

TPhotoshopFilter::~TPhotoshopFilter() {
    if (PhotoshopFilter == this) PhotoshopFilter = nullptr;
}

int16_t TPhotoshopFilter::About(VisaraAboutRecord* Record) {
    ShowAbout(Record ? Record->platformData : nullptr);
    return VisaraNoErr;
}

int16_t TPhotoshopFilter::Parameters(VisaraFilterRecord*) { return VisaraNoErr; }
int16_t TPhotoshopFilter::Prepare(VisaraFilterRecord*) { return VisaraNoErr; }
int16_t TPhotoshopFilter::Start(VisaraFilterRecord*) { return VisaraNoErr; }
int16_t TPhotoshopFilter::Continue(VisaraFilterRecord*) { return VisaraNoErr; }
int16_t TPhotoshopFilter::Finish(VisaraFilterRecord*) { return VisaraNoErr; }

void TPhotoshopFilter::ShowAbout(const VisaraPlatformData* Platform) {
    ShowPlatformMessage(Platform, AboutText, Caption, VisaraMessageOK);
}

void TPhotoshopFilter::Initialize() {}

void ShowPlatformMessage(const VisaraPlatformData* Platform, const std::string& Text, const std::string& Caption,
                         uint32_t Flags) {
    if (Platform && Platform->showMessage)
        Platform->showMessage(Platform->window, Text.c_str(), Caption.c_str(), Flags);
    else
        std::fprintf(stderr, "%s: %s\n", Caption.c_str(), Text.c_str());
}

void ShowFilterError(const VisaraFilterRecord* Record, const std::string& Message) {
    ShowPlatformMessage(Record ? Record->platformData : nullptr, Message, "Error", VisaraMessageIconError);
}

namespace {

constexpr VisaraRect EmptyRect{0, 0, 0, 0};

TExchangeHeader HeaderOf(const VisaraRect& Rect, const VisaraFilterRecord* Record, int32_t RowBytes) {
    TExchangeHeader header;
    header.HeaderSize = ExchangeHeaderSize;
    header.ImageMode = Record->imageMode;
    header.Left = Rect.left;
    header.Top = Rect.top;
    header.Width = int32_t(int64_t(Rect.right) - Rect.left);
    header.Height = int32_t(int64_t(Rect.bottom) - Rect.top);
    header.RowBytes = RowBytes;
    header.Planes = Record->planes;
    return header;
}

}  // namespace

bool RequestInput(const VisaraRect& Rect, VisaraFilterRecord* Record, const void*& Data, TExchangeHeader& Header) {
    Record->maskRect = EmptyRect;
    Record->outRect = EmptyRect;
    Record->inRect = Rect;
    Record->inLoPlane = 0;
    Record->inHiPlane = int16_t(Record->planes - 1);
    if (!Record->advanceState || Record->advanceState() != VisaraNoErr) return false;
    Header = HeaderOf(Record->inRect, Record, Record->inRowBytes);
    Data = Record->inData;
    return true;
}

bool RequestOutput(const VisaraRect& Rect, VisaraFilterRecord* Record, void*& Data, TExchangeHeader& Header) {
    Record->inRect = EmptyRect;
    Record->maskRect = EmptyRect;
    Record->outRect = Rect;
    Record->outLoPlane = 0;
    Record->outHiPlane = int16_t(Record->planes - 1);
    if (!Record->advanceState || Record->advanceState() != VisaraNoErr) return false;
    Header = HeaderOf(Record->outRect, Record, Record->outRowBytes);
    Data = Record->outData;
    return true;
}

void ClearRects(VisaraFilterRecord* Record) {
    Record->inRect = EmptyRect;
    Record->outRect = EmptyRect;
    Record->maskRect = EmptyRect;
}
