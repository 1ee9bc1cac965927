/*
 * The filter interface between a host image editor and the Visara plug-in
 * library on Linux.
 *
 * These definitions are our own. No host image editor on Linux loads filter
 * plug-ins through this interface, so this header is NOT binary-compatible
 * with any real host's filter records, about records, platform data or
 * property resources: it holds only the fields, calls and values that the
 * plug-in uses, laid out as this header says. A host (or the test host)
 * that includes this header and loads the library with dlopen speaks it.
 *
 * Calling sequence: the host fills a VisaraFilterRecord and calls
 * ENTRYPOINT with the selectors in its own order (normally Parameters,
 * Prepare, Start, Continue while any of inRect, outRect and maskRect is
 * non-empty, Finish); About gets a VisaraAboutRecord instead.
 *
 * Buffer contract: after advanceState answers 0, inData spans
 * inRowBytes x (inRect.bottom - inRect.top) bytes and outData spans
 * outRowBytes x (outRect.bottom - outRect.top) bytes, the last row included
 * in full; a pixel is (hiPlane - loPlane + 1) bytes, red, green, blue,
 * then transparency.
 */
#ifndef VISARA_FILTER_API_H
#define VISARA_FILTER_API_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Selectors. */
enum {
    VisaraSelectorAbout = 0,
    VisaraSelectorParameters = 1,
    VisaraSelectorPrepare = 2,
    VisaraSelectorStart = 3,
    VisaraSelectorContinue = 4,
    VisaraSelectorFinish = 5
};

/* Result codes. */
enum {
    VisaraNoErr = 0,
    VisaraFilterBadParameters = -30100,
    VisaraUserCanceledErr = -128,
    /* The filter could not hand the image to the program. */
    VisaraStartErr = -23
};

/* Image modes; the filter is enabled for RGB only. */
enum { VisaraRGBMode = 3 };

/* Flags of showMessage. */
enum { VisaraMessageOK = 0x00, VisaraMessageIconError = 0x10 };

/* Right and bottom are exclusive. */
typedef struct VisaraRect {
    int32_t left, top, right, bottom;
} VisaraRect;

/* Supplied by the host. Either callback may be null: messages then go to
 * stderr as "caption: text", and the wait for the program pumps nothing. */
typedef struct VisaraPlatformData {
    /* The host's window, passed back to the callbacks as it is. */
    void* window;
    /* A modal message owned by window; text and caption are UTF-8. */
    void (*showMessage)(void* window, const char* text, const char* caption, uint32_t flags);
    /* Handles the host's pending window events, then returns. Called
     * repeatedly while the plug-in waits for the program. */
    void (*processEvents)(void* window);
} VisaraPlatformData;

typedef struct VisaraFilterRecord {
    VisaraRect filterRect;
    int16_t planes;
    int16_t imageMode;
    VisaraRect inRect;
    int16_t inLoPlane, inHiPlane;
    VisaraRect outRect;
    int16_t outLoPlane, outHiPlane;
    VisaraRect maskRect;
    const void* inData;
    int32_t inRowBytes;
    void* outData;
    int32_t outRowBytes;
    /* Delivers the data of the rectangles just set; 0 when it did. The
     * host knows which record is active (the call takes no argument). */
    int16_t (*advanceState)(void);
    VisaraPlatformData* platformData;
} VisaraFilterRecord;

typedef struct VisaraAboutRecord {
    VisaraPlatformData* platformData;
} VisaraAboutRecord;

/* The entry point, exported by name. paramBlock is a VisaraAboutRecord for
 * About and a VisaraFilterRecord otherwise; data is not used. */
typedef void (*VisaraEntryPoint)(int16_t selector, void* paramBlock, intptr_t* data, int16_t* result);
#define VISARA_ENTRY_POINT_NAME "ENTRYPOINT"

/* --- The property table -------------------------------------------------
 * What the host reads before loading the filter: one table (id 16000) of
 * vendor "8BIM" properties, returned by VisaraPlugin_PiPL. Each value is
 * size bytes at value:
 *   "kind"  4 characters "8BFM" (a filter)
 *   "name"  a length byte, then the menu command "Visara..."
 *   "catg"  the menu category "Velmora"
 *   "vers"  uint32_t 0x00020005
 *   "lx64"  the entry point's name "ENTRYPOINT"
 *   "mode"  uint32_t, bit (1 << mode) for every supported image mode
 *   "enbl"  the enabling expression "in (PSHOP_ImageMode,RGBMode)"
 *   "fici"  seven VisaraFilterCase records in VisaraFilterCaseIndex order
 */
#define VISARA_PIPL_ID 16000
#define VISARA_PIPL_NAME "VisaraPlugin_PiPL"

typedef struct VisaraPiplProperty {
    char vendor[5];
    char key[5];
    uint32_t size;
    const void* value;
} VisaraPiplProperty;

enum VisaraFilterCaseIndex {
    VisaraCaseFlatImageNoSelection = 0,
    VisaraCaseFlatImageWithSelection = 1,
    VisaraCaseFloatingSelection = 2,
    VisaraCaseEditableTransparencyNoSelection = 3,
    VisaraCaseEditableTransparencyWithSelection = 4,
    VisaraCaseProtectedTransparencyNoSelection = 5,
    VisaraCaseProtectedTransparencyWithSelection = 6,
    VisaraFilterCaseCount = 7
};

/* Data handling of a filter case. */
enum { VisaraHandlingStraightData = 1 };

/* Flags of a filter case. */
enum {
    VisaraCaseDontCopyToDestination = 0x01,
    VisaraCaseWorksWithBlankData = 0x02,
    VisaraCaseFiltersLayerMasks = 0x04,
    VisaraCaseWritesOutsideSelection = 0x08
};

typedef struct VisaraFilterCase {
    uint8_t inHandling;
    uint8_t outHandling;
    uint8_t flags;
    uint8_t reserved;
} VisaraFilterCase;

typedef const VisaraPiplProperty* (*VisaraPiplFunction)(int* count);

#ifdef __cplusplus
}
#endif

#endif
