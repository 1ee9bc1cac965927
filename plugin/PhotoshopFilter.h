// The filter object behind the library's entry point: one global object,
// made when the library is loaded and freed when it is unloaded.
#pragma once

#include <cstdint>
#include <string>

#include "QelFileMapping.h"
#include "visara_filter_api.h"

class TPhotoshopFilter {
public:
    // The object becomes the global filter object.
    TPhotoshopFilter();
    virtual ~TPhotoshopFilter();
    TPhotoshopFilter(const TPhotoshopFilter&) = delete;
    TPhotoshopFilter& operator=(const TPhotoshopFilter&) = delete;

    virtual int16_t About(VisaraAboutRecord* Record);
    virtual int16_t Parameters(VisaraFilterRecord* Record);
    virtual int16_t Prepare(VisaraFilterRecord* Record);
    virtual int16_t Start(VisaraFilterRecord* Record);
    virtual int16_t Continue(VisaraFilterRecord* Record);
    virtual int16_t Finish(VisaraFilterRecord* Record);
    // A message with AboutText under Caption, owned by the platform's window.
    virtual void ShowAbout(const VisaraPlatformData* Platform);
    // Called after construction.
    virtual void Initialize();

    std::string Caption;
    std::string AboutText;
};

// The object the entry point calls; nullptr before the library's load made
// it and after its unload freed it.
extern TPhotoshopFilter* PhotoshopFilter;

// A message through the host's callback, or "Caption: Text" on stderr when
// the host gave none.
void ShowPlatformMessage(const VisaraPlatformData* Platform, const std::string& Text, const std::string& Caption,
                         uint32_t Flags);
// An error message owned by the window of the record's platform data.
void ShowFilterError(const VisaraFilterRecord* Record, const std::string& Message);

// Asks the host for every plane of Rect as input (no output, no mask).
// False when the host has no advanceState or it answers non-zero. Header
// describes the delivered rows, Data is their address.
bool RequestInput(const VisaraRect& Rect, VisaraFilterRecord* Record, const void*& Data, TExchangeHeader& Header);
// The same for the output buffer.
bool RequestOutput(const VisaraRect& Rect, VisaraFilterRecord* Record, void*& Data, TExchangeHeader& Header);
// Empties inRect, outRect and maskRect, so that the host delivers no more.
void ClearRects(VisaraFilterRecord* Record);
