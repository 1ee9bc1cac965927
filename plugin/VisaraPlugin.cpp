// The library's face to the host: the entry point, the property table, and
// the filter object that lives as long as the library is loaded.
#include <cstdint>
#include <string>

#include "ExternalPhotoshopFilter.h"
#include "Registry.h"
#include "visara_filter_api.h"

#define VISARA_EXPORT __attribute__((visibility("default")))

namespace {

// Where the program's installation registers its path (default value).
constexpr const char* ProgramKey = "SOFTWARE\\Velmora\\Photo Plugins\\Visara";

// Made when the library is loaded, freed when it is unloaded. Nothing may
// escape into the loader: without a filter object every selector simply
// answers "bad parameters".
struct TLibraryLifetime {
    TLibraryLifetime() {
        try {
            std::string path;
            ReadRegistryString(std::string(), std::string(), ProgramKey, path);
            auto* filter = new TExternalPhotoshopFilter(path, "About Visara Plug-in", "Visara Plug-in\nVersion: 4.1");
            filter->Initialize();
        } catch (...) {
            delete PhotoshopFilter;
        }
    }
    ~TLibraryLifetime() { delete PhotoshopFilter; }
    TLibraryLifetime(const TLibraryLifetime&) = delete;
    TLibraryLifetime& operator=(const TLibraryLifetime&) = delete;
};

TLibraryLifetime LibraryLifetime;

// --- The property table ---

const char KindValue[4] = {'8', 'B', 'F', 'M'};
// A length byte, then the text.
const char NameValue[] = "\x09" "Visara...";
const char CategoryValue[] = "Velmora";
const uint32_t VersionValue = 0x00020005;
const char EntryValue[] = "ENTRYPOINT";
const uint32_t ModeValue = 1u << VisaraRGBMode;
const char EnableValue[] = "in (PSHOP_ImageMode,RGBMode)";

constexpr uint8_t PlainCase = VisaraCaseDontCopyToDestination | VisaraCaseWorksWithBlankData |
                              VisaraCaseFiltersLayerMasks;
constexpr uint8_t SelectionCase = PlainCase | VisaraCaseWritesOutsideSelection;
const VisaraFilterCase CaseValue[VisaraFilterCaseCount] = {
    {VisaraHandlingStraightData, VisaraHandlingStraightData, PlainCase, 0},      // flat image
    {VisaraHandlingStraightData, VisaraHandlingStraightData, SelectionCase, 0},  // flat, selection
    {VisaraHandlingStraightData, VisaraHandlingStraightData, SelectionCase, 0},  // floating selection
    {VisaraHandlingStraightData, VisaraHandlingStraightData, PlainCase, 0},      // editable transparency
    {VisaraHandlingStraightData, VisaraHandlingStraightData, SelectionCase, 0},  // ... with selection
    {VisaraHandlingStraightData, VisaraHandlingStraightData, PlainCase, 0},      // protected transparency
    {VisaraHandlingStraightData, VisaraHandlingStraightData, SelectionCase, 0},  // ... with selection
};

// Texts are stored without their terminating zero.
const VisaraPiplProperty Properties[] = {
    {"8BIM", "kind", sizeof KindValue, KindValue},
    {"8BIM", "name", sizeof NameValue - 1, NameValue},
    {"8BIM", "catg", sizeof CategoryValue - 1, CategoryValue},
    {"8BIM", "vers", sizeof VersionValue, &VersionValue},
    {"8BIM", "lx64", sizeof EntryValue - 1, EntryValue},
    {"8BIM", "mode", sizeof ModeValue, &ModeValue},
    {"8BIM", "enbl", sizeof EnableValue - 1, EnableValue},
    {"8BIM", "fici", sizeof CaseValue, CaseValue},
};

}  // namespace

extern "C" VISARA_EXPORT const VisaraPiplProperty* VisaraPlugin_PiPL(int* count) {
    if (count) *count = int(sizeof Properties / sizeof Properties[0]);
    return Properties;
}

extern "C" VISARA_EXPORT void ENTRYPOINT(int16_t selector, void* paramBlock, intptr_t* /*data*/, int16_t* result) {
    if (!result) return;
    *result = VisaraFilterBadParameters;
    TPhotoshopFilter* filter = PhotoshopFilter;
    if (!filter || !paramBlock) return;
    // No exception may unwind into the host.
    try {
        auto* record = static_cast<VisaraFilterRecord*>(paramBlock);
        switch (selector) {
            case VisaraSelectorAbout:
                *result = filter->About(static_cast<VisaraAboutRecord*>(paramBlock));
                break;
            case VisaraSelectorParameters:
                *result = filter->Parameters(record);
                break;
            case VisaraSelectorPrepare:
                *result = filter->Prepare(record);
                break;
            case VisaraSelectorStart:
                *result = filter->Start(record);
                break;
            case VisaraSelectorContinue:
                *result = filter->Continue(record);
                break;
            case VisaraSelectorFinish:
                *result = filter->Finish(record);
                break;
            default:
                break;
        }
    } catch (...) {
        *result = VisaraFilterBadParameters;
    }
}
