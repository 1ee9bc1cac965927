// Our own definitions of the TWAIN 1.9 protocol (groups, data argument
// types, messages, capabilities, return and condition codes, structures),
// the BMP headers the transfers read and write, the parent-window handle a
// data source manager posts window messages through, and the movable-memory
// allocator shared with the data source managers. Qt-free: the data source
// manager libraries include it too.
//
// The structures keep TWAIN's 2-byte packing; those holding a pointer are
// wider on 64-bit than on the original platform, which is fine because both
// sides are built from this header. Never take the address of a packed member.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

// --- Basic types -------------------------------------------------------------
using TW_INT8 = int8_t;
using TW_INT16 = int16_t;
using TW_INT32 = int32_t;
using TW_UINT8 = uint8_t;
using TW_UINT16 = uint16_t;
using TW_UINT32 = uint32_t;
using TW_BOOL = uint16_t;
using TW_HANDLE = void*;
using TW_MEMREF = void*;

// --- Data groups, data argument types, messages ------------------------------
constexpr uint32_t DG_CONTROL = 0x0001;
constexpr uint32_t DG_IMAGE = 0x0002;

constexpr uint16_t DAT_NULL = 0x0000;
constexpr uint16_t DAT_CAPABILITY = 0x0001;
constexpr uint16_t DAT_EVENT = 0x0002;
constexpr uint16_t DAT_IDENTITY = 0x0003;
constexpr uint16_t DAT_PARENT = 0x0004;
constexpr uint16_t DAT_PENDINGXFERS = 0x0005;
constexpr uint16_t DAT_SETUPMEMXFER = 0x0006;
constexpr uint16_t DAT_SETUPFILEXFER = 0x0007;
constexpr uint16_t DAT_STATUS = 0x0008;
constexpr uint16_t DAT_USERINTERFACE = 0x0009;
constexpr uint16_t DAT_XFERGROUP = 0x000a;
constexpr uint16_t DAT_DEVICEEVENT = 0x000d;
constexpr uint16_t DAT_IMAGEINFO = 0x0101;
constexpr uint16_t DAT_IMAGELAYOUT = 0x0102;
constexpr uint16_t DAT_IMAGEMEMXFER = 0x0103;
constexpr uint16_t DAT_IMAGENATIVEXFER = 0x0104;
constexpr uint16_t DAT_IMAGEFILEXFER = 0x0105;
constexpr uint16_t DAT_PALETTE8 = 0x010a;

constexpr uint16_t MSG_NULL = 0x0000;
constexpr uint16_t MSG_GET = 0x0001;
constexpr uint16_t MSG_GETCURRENT = 0x0002;
constexpr uint16_t MSG_GETDEFAULT = 0x0003;
constexpr uint16_t MSG_GETFIRST = 0x0004;
constexpr uint16_t MSG_GETNEXT = 0x0005;
constexpr uint16_t MSG_SET = 0x0006;
constexpr uint16_t MSG_RESET = 0x0007;
constexpr uint16_t MSG_QUERYSUPPORT = 0x0008;
constexpr uint16_t MSG_XFERREADY = 0x0101;
constexpr uint16_t MSG_CLOSEDSREQ = 0x0102;
constexpr uint16_t MSG_CLOSEDSOK = 0x0103;
constexpr uint16_t MSG_DEVICEEVENT = 0x0104;
constexpr uint16_t MSG_OPENDSM = 0x0301;
constexpr uint16_t MSG_CLOSEDSM = 0x0302;
constexpr uint16_t MSG_OPENDS = 0x0401;
constexpr uint16_t MSG_CLOSEDS = 0x0402;
constexpr uint16_t MSG_USERSELECT = 0x0403;
constexpr uint16_t MSG_DISABLEDS = 0x0501;
constexpr uint16_t MSG_ENABLEDS = 0x0502;
constexpr uint16_t MSG_ENABLEDSUIONLY = 0x0503;
constexpr uint16_t MSG_PROCESSEVENT = 0x0601;
constexpr uint16_t MSG_ENDXFER = 0x0701;

// --- Return and condition codes ----------------------------------------------
constexpr uint16_t TWRC_SUCCESS = 0;
constexpr uint16_t TWRC_FAILURE = 1;
constexpr uint16_t TWRC_CHECKSTATUS = 2;
constexpr uint16_t TWRC_CANCEL = 3;
constexpr uint16_t TWRC_DSEVENT = 4;
constexpr uint16_t TWRC_NOTDSEVENT = 5;
constexpr uint16_t TWRC_XFERDONE = 6;
constexpr uint16_t TWRC_ENDOFLIST = 7;
constexpr uint16_t TWRC_INFONOTSUPPORTED = 8;
constexpr uint16_t TWRC_DATANOTAVAILABLE = 9;

constexpr uint16_t TWCC_SUCCESS = 0;
constexpr uint16_t TWCC_BUMMER = 1;
constexpr uint16_t TWCC_LOWMEMORY = 2;
constexpr uint16_t TWCC_NODS = 3;
constexpr uint16_t TWCC_MAXCONNECTIONS = 4;
constexpr uint16_t TWCC_OPERATIONERROR = 5;
constexpr uint16_t TWCC_BADCAP = 6;
constexpr uint16_t TWCC_BADPROTOCOL = 9;
constexpr uint16_t TWCC_BADVALUE = 10;
constexpr uint16_t TWCC_SEQERROR = 11;
constexpr uint16_t TWCC_BADDEST = 12;
constexpr uint16_t TWCC_CAPUNSUPPORTED = 13;
constexpr uint16_t TWCC_CAPBADOPERATION = 14;
constexpr uint16_t TWCC_CAPSEQERROR = 15;
constexpr uint16_t TWCC_DENIED = 16;
constexpr uint16_t TWCC_FILEEXISTS = 17;
constexpr uint16_t TWCC_FILENOTFOUND = 18;
constexpr uint16_t TWCC_NOTEMPTY = 19;
constexpr uint16_t TWCC_PAPERJAM = 20;
constexpr uint16_t TWCC_PAPERDOUBLEFEED = 21;
constexpr uint16_t TWCC_FILEWRITEERROR = 22;
constexpr uint16_t TWCC_CHECKDEVICEONLINE = 23;
// From later versions of the standard: a cover or door open, no paper.
constexpr uint16_t TWCC_INTERLOCK = 24;
constexpr uint16_t TWCC_NOMEDIA = 29;

// The component's own codes beside TWAIN's.
constexpr uint16_t TWRC_DSMEXCEPTION = 0x8384;  // the call raised an exception
constexpr uint16_t TWRC_TIMEOUT = 0x8385;       // no answer within the time-out

// --- Containers and item types -----------------------------------------------
constexpr uint16_t TWON_ARRAY = 3;
constexpr uint16_t TWON_ENUMERATION = 4;
constexpr uint16_t TWON_ONEVALUE = 5;
constexpr uint16_t TWON_RANGE = 6;
constexpr uint16_t TWON_DONTCARE16 = 0xffff;

constexpr uint16_t TWTY_INT8 = 0x0000;
constexpr uint16_t TWTY_INT16 = 0x0001;
constexpr uint16_t TWTY_INT32 = 0x0002;
constexpr uint16_t TWTY_UINT8 = 0x0003;
constexpr uint16_t TWTY_UINT16 = 0x0004;
constexpr uint16_t TWTY_UINT32 = 0x0005;
constexpr uint16_t TWTY_BOOL = 0x0006;
constexpr uint16_t TWTY_FIX32 = 0x0007;
constexpr uint16_t TWTY_FRAME = 0x0008;
constexpr uint16_t TWTY_STR32 = 0x0009;
constexpr uint16_t TWTY_STR64 = 0x000a;
constexpr uint16_t TWTY_STR128 = 0x000b;
constexpr uint16_t TWTY_STR255 = 0x000c;
constexpr uint16_t TWTY_STR1024 = 0x000d;

// Bytes of one item of each type, TWTY_INT8 ... TWTY_STR1024.
constexpr uint32_t TwnItemSizes[14] = {1, 2, 4, 1, 2, 4, 2, 4, 16, 34, 66, 130, 256, 1027};
constexpr uint32_t TwnItemSize(uint16_t itemType) {
    return itemType < 14 ? TwnItemSizes[itemType] : 0;
}

// --- Capabilities used here --------------------------------------------------
constexpr uint16_t CAP_XFERCOUNT = 0x0001;
constexpr uint16_t ICAP_COMPRESSION = 0x0100;
constexpr uint16_t ICAP_PIXELTYPE = 0x0101;
constexpr uint16_t ICAP_UNITS = 0x0102;
constexpr uint16_t ICAP_XFERMECH = 0x0103;
constexpr uint16_t CAP_AUTHOR = 0x1000;
constexpr uint16_t CAP_FEEDERENABLED = 0x1002;
constexpr uint16_t CAP_FEEDERLOADED = 0x1003;
constexpr uint16_t CAP_SUPPORTEDCAPS = 0x1005;
constexpr uint16_t CAP_EXTENDEDCAPS = 0x1006;
constexpr uint16_t CAP_INDICATORS = 0x100b;
constexpr uint16_t CAP_UICONTROLLABLE = 0x100e;
constexpr uint16_t CAP_DEVICEONLINE = 0x100f;
constexpr uint16_t CAP_DEVICEEVENT = 0x1022;
constexpr uint16_t ICAP_PHYSICALWIDTH = 0x1111;
constexpr uint16_t ICAP_PHYSICALHEIGHT = 0x1112;
constexpr uint16_t ICAP_FRAMES = 0x1114;
constexpr uint16_t ICAP_XRESOLUTION = 0x1118;
constexpr uint16_t ICAP_YRESOLUTION = 0x1119;
constexpr uint16_t ICAP_IMAGEFILEFORMAT = 0x110c;
constexpr uint16_t ICAP_PIXELFLAVOR = 0x111f;
constexpr uint16_t ICAP_BITDEPTH = 0x112b;

// Transfer mechanisms, file formats, pixel types, flavours, units.
constexpr uint16_t TWSX_NATIVE = 0;
constexpr uint16_t TWSX_FILE = 1;
constexpr uint16_t TWSX_MEMORY = 2;
constexpr uint16_t TWSX_FILE2 = 3;

constexpr uint16_t TWFF_TIFF = 0;
constexpr uint16_t TWFF_PICT = 1;
constexpr uint16_t TWFF_BMP = 2;
constexpr uint16_t TWFF_XBM = 3;
constexpr uint16_t TWFF_JFIF = 4;
constexpr uint16_t TWFF_FPX = 5;
constexpr uint16_t TWFF_TIFFMULTI = 6;
constexpr uint16_t TWFF_PNG = 7;
constexpr uint16_t TWFF_SPIFF = 8;
constexpr uint16_t TWFF_EXIF = 9;

constexpr uint16_t TWPT_BW = 0;
constexpr uint16_t TWPT_GRAY = 1;
constexpr uint16_t TWPT_RGB = 2;
constexpr uint16_t TWPT_PALETTE = 3;

constexpr uint16_t TWPF_CHOCOLATE = 0;
constexpr uint16_t TWPF_VANILLA = 1;

constexpr uint16_t TWUN_INCHES = 0;
constexpr uint16_t TWUN_CENTIMETERS = 1;
constexpr uint16_t TWUN_PICAS = 2;
constexpr uint16_t TWUN_POINTS = 3;
constexpr uint16_t TWUN_TWIPS = 4;
constexpr uint16_t TWUN_PIXELS = 5;

constexpr uint32_t TWMF_APPOWNS = 0x0001;
constexpr uint32_t TWMF_DSMOWNS = 0x0002;
constexpr uint32_t TWMF_DSOWNS = 0x0004;
constexpr uint32_t TWMF_POINTER = 0x0008;
constexpr uint32_t TWMF_HANDLE = 0x0010;

constexpr uint16_t TWCP_NONE = 0;

// Device events.
constexpr uint16_t TWDE_CHECKAUTOMATICCAPTURE = 0;
constexpr uint16_t TWDE_CHECKBATTERY = 1;
constexpr uint16_t TWDE_CHECKDEVICEONLINE = 2;
constexpr uint16_t TWDE_CHECKFLASH = 3;
constexpr uint16_t TWDE_CHECKPOWERSUPPLY = 4;
constexpr uint16_t TWDE_CHECKRESOLUTION = 5;
constexpr uint16_t TWDE_DEVICEADDED = 6;
constexpr uint16_t TWDE_DEVICEOFFLINE = 7;
constexpr uint16_t TWDE_DEVICEREADY = 8;
constexpr uint16_t TWDE_DEVICEREMOVED = 9;
constexpr uint16_t TWDE_IMAGECAPTURED = 10;
constexpr uint16_t TWDE_IMAGEDELETED = 11;
constexpr uint16_t TWDE_PAPERDOUBLEFEED = 12;
constexpr uint16_t TWDE_PAPERJAM = 13;
constexpr uint16_t TWDE_LAMPFAILURE = 14;
constexpr uint16_t TWDE_POWERSAVE = 15;
constexpr uint16_t TWDE_POWERSAVENOTIFY = 16;

// --- Languages (TW_VERSION.Language) -----------------------------------------
constexpr uint16_t TWLG_ENGLISH = 2;
constexpr uint16_t TWLG_GERMAN = 6;

// The language of a language file's LangId (a Windows language id) and back,
// for the languages the program ships; English for any other.
constexpr uint16_t TwnLanguageOfLangId(uint16_t langId) {
    return (langId & 0x3ff) == 0x07 ? TWLG_GERMAN : TWLG_ENGLISH;
}
constexpr uint16_t TwnLangIdOfLanguage(uint16_t language) { return language == TWLG_GERMAN ? 0x0407 : 0x0409; }

// --- Structures --------------------------------------------------------------
#pragma pack(push, 2)

using TW_STR32 = char[34];
using TW_STR64 = char[66];
using TW_STR128 = char[130];
using TW_STR255 = char[256];

struct TW_FIX32 {
    TW_INT16 Whole;
    TW_UINT16 Frac;
};

struct TW_FRAME {
    TW_FIX32 Left;
    TW_FIX32 Top;
    TW_FIX32 Right;
    TW_FIX32 Bottom;
};

struct TW_VERSION {
    TW_UINT16 MajorNum;
    TW_UINT16 MinorNum;
    TW_UINT16 Language;
    TW_UINT16 Country;
    TW_STR32 Info;
};

struct TW_IDENTITY {
    TW_UINT32 Id;
    TW_VERSION Version;
    TW_UINT16 ProtocolMajor;
    TW_UINT16 ProtocolMinor;
    TW_UINT32 SupportedGroups;
    TW_STR32 Manufacturer;
    TW_STR32 ProductFamily;
    TW_STR32 ProductName;
};

struct TW_STATUS {
    TW_UINT16 ConditionCode;
    TW_UINT16 Reserved;
};

struct TW_PENDINGXFERS {
    TW_UINT16 Count;
    TW_UINT32 Reserved;
};

struct TW_SETUPMEMXFER {
    TW_UINT32 MinBufSize;
    TW_UINT32 MaxBufSize;
    TW_UINT32 Preferred;
};

struct TW_SETUPFILEXFER {
    TW_STR255 FileName;
    TW_UINT16 Format;
    TW_INT16 VRefNum;
};

struct TW_IMAGEINFO {
    TW_FIX32 XResolution;
    TW_FIX32 YResolution;
    TW_INT32 ImageWidth;
    TW_INT32 ImageLength;
    TW_INT16 SamplesPerPixel;
    TW_INT16 BitsPerSample[8];
    TW_INT16 BitsPerPixel;
    TW_BOOL Planar;
    TW_INT16 PixelType;
    TW_UINT16 Compression;
};

struct TW_ONEVALUE {
    TW_UINT16 ItemType;
    TW_UINT32 Item;
};

struct TW_RANGE {
    TW_UINT16 ItemType;
    TW_UINT32 MinValue;
    TW_UINT32 MaxValue;
    TW_UINT32 StepSize;
    TW_UINT32 DefaultValue;
    TW_UINT32 CurrentValue;
};

// Array and enumeration headers; the items follow directly.
struct TW_ARRAY {
    TW_UINT16 ItemType;
    TW_UINT32 NumItems;
};

struct TW_ENUMERATION {
    TW_UINT16 ItemType;
    TW_UINT32 NumItems;
    TW_UINT32 CurrentIndex;
    TW_UINT32 DefaultIndex;
};

struct TW_ELEMENT8 {
    TW_UINT8 Index;
    TW_UINT8 Channel1;
    TW_UINT8 Channel2;
    TW_UINT8 Channel3;
};

struct TW_PALETTE8 {
    TW_UINT16 NumColors;
    TW_UINT16 PaletteType;
    TW_ELEMENT8 Colors[256];
};

struct TW_DEVICEEVENT {
    TW_UINT32 Event;
    TW_STR255 DeviceName;
    TW_UINT32 BatteryMinutes;
    TW_INT16 BatteryPercentage;
    TW_INT32 PowerSupply;
    TW_FIX32 XResolution;
    TW_FIX32 YResolution;
    TW_UINT32 FlashUsed2;
    TW_UINT32 AutomaticCapture;
    TW_UINT32 TimeBeforeFirstCapture;
    TW_UINT32 TimeBetweenCaptures;
};

struct TW_CAPABILITY {
    TW_UINT16 Cap;
    TW_UINT16 ConType;
    TW_HANDLE hContainer;
};

struct TW_USERINTERFACE {
    TW_BOOL ShowUI;
    TW_BOOL ModalUI;
    TW_HANDLE hParent;
};

struct TW_EVENT {
    TW_MEMREF pEvent;
    TW_UINT16 TWMessage;
};

struct TW_MEMORY {
    TW_UINT32 Flags;
    TW_UINT32 Length;
    TW_MEMREF TheMem;
};

struct TW_IMAGEMEMXFER {
    TW_UINT16 Compression;
    TW_UINT32 BytesPerRow;
    TW_UINT32 Columns;
    TW_UINT32 Rows;
    TW_UINT32 XOffset;
    TW_UINT32 YOffset;
    TW_UINT32 BytesWritten;
    TW_MEMORY Memory;
};

struct TW_IMAGENATIVEXFER_HANDLE {
    TW_HANDLE Handle;
};

#pragma pack(pop)

static_assert(sizeof(TW_FIX32) == 4);
static_assert(sizeof(TW_FRAME) == 16);
static_assert(sizeof(TW_VERSION) == 42);
static_assert(sizeof(TW_IDENTITY) == 156);
static_assert(offsetof(TW_IDENTITY, SupportedGroups) == 50);
static_assert(offsetof(TW_IDENTITY, ProductName) == 122);
static_assert(sizeof(TW_STR32) == 34 && sizeof(TW_STR255) == 256);
static_assert(sizeof(TW_STATUS) == 4);
static_assert(sizeof(TW_PENDINGXFERS) == 6);
static_assert(sizeof(TW_SETUPMEMXFER) == 12);
static_assert(sizeof(TW_SETUPFILEXFER) == 260);
static_assert(sizeof(TW_IMAGEINFO) == 42);
static_assert(sizeof(TW_ONEVALUE) == 6);
static_assert(sizeof(TW_RANGE) == 22);
static_assert(sizeof(TW_ARRAY) == 6);
static_assert(sizeof(TW_ENUMERATION) == 14);
static_assert(sizeof(TW_PALETTE8) == 1028);
static_assert(sizeof(TW_DEVICEEVENT) == 294);

// The entry every data source manager exports.
extern "C" {
using DSMENTRYPROC = TW_UINT16 (*)(TW_IDENTITY* pOrigin, TW_IDENTITY* pDest, TW_UINT32 DG, TW_UINT16 DAT,
                                   TW_UINT16 MSG, TW_MEMREF pData);
}
constexpr const char* TwnDsmEntryName = "DSM_Entry";

// --- The parent handle -------------------------------------------------------
// Stands in for the window the application gives the data source manager
// (MSG_OPENDSM's data points at a TwnWindow*, TW_USERINTERFACE.hParent is
// one). A source posts its window messages through it; they reach the thread
// that owns the handle, which offers them back with MSG_PROCESSEVENT.
constexpr uint32_t TwnWindowMagic = 0x4e575754;  // "TWWN"
struct TwnWindow {
    uint32_t magic;
    // Posts a window message; answers 0 when it was queued.
    int (*post)(TwnWindow* self, uint32_t msg, uintptr_t wParam, intptr_t lParam);
    void* ctx;
    void* widget;  // the application's window to parent dialogs on, may be null
    // That window as the window system names it (an X11 window id), 0 when
    // not known: a source's own window in another process stays with it.
    uint64_t nativeWindow;
};

// A window message as MSG_PROCESSEVENT's TW_EVENT.pEvent carries it.
struct TwnWindowMsg {
    TwnWindow* window;
    uint32_t message;
    uintptr_t wParam;
    intptr_t lParam;
};

// --- Movable memory ----------------------------------------------------------
// One process-wide heap through malloc: a block carries its size, so a
// reader can bound what a source claims a block holds.
namespace TwnGlobal {
constexpr uint32_t Magic = 0x4c424754;  // "TGBL"
struct Header {
    uint32_t magic;
    uint32_t lockCount;
    uint64_t size;
};
static_assert(sizeof(Header) % 16 == 0);

inline Header* header(TW_HANDLE h) {
    if (!h) return nullptr;
    Header* hd = static_cast<Header*>(h);
    return hd->magic == Magic ? hd : nullptr;
}
// A zero-filled block of the given size; null when it cannot be had.
inline TW_HANDLE alloc(uint64_t size) {
    if (size > (uint64_t(1) << 40)) return nullptr;
    void* p = std::calloc(1, sizeof(Header) + size_t(size));
    if (!p) return nullptr;
    Header* hd = static_cast<Header*>(p);
    hd->magic = Magic;
    hd->lockCount = 0;
    hd->size = size;
    return p;
}
inline uint64_t size(TW_HANDLE h) {
    Header* hd = header(h);
    return hd ? hd->size : 0;
}
inline void* lock(TW_HANDLE h) {
    Header* hd = header(h);
    if (!hd) return nullptr;
    ++hd->lockCount;
    return hd + 1;
}
inline void unlock(TW_HANDLE h) {
    Header* hd = header(h);
    if (hd && hd->lockCount > 0) --hd->lockCount;
}
inline void free(TW_HANDLE h) {
    Header* hd = header(h);
    if (!hd) return;
    hd->magic = 0;
    std::free(hd);
}
}  // namespace TwnGlobal

// --- BMP headers -------------------------------------------------------------
#pragma pack(push, 1)
struct TwnBitmapFileHeader {
    uint16_t bfType;
    uint32_t bfSize;
    uint16_t bfReserved1;
    uint16_t bfReserved2;
    uint32_t bfOffBits;
};
struct TwnBitmapInfoHeader {
    uint32_t biSize;
    int32_t biWidth;
    int32_t biHeight;
    uint16_t biPlanes;
    uint16_t biBitCount;
    uint32_t biCompression;
    uint32_t biSizeImage;
    int32_t biXPelsPerMeter;
    int32_t biYPelsPerMeter;
    uint32_t biClrUsed;
    uint32_t biClrImportant;
};
struct TwnBitmapCoreHeader {
    uint32_t bcSize;
    uint16_t bcWidth;
    uint16_t bcHeight;
    uint16_t bcPlanes;
    uint16_t bcBitCount;
};
struct TwnRgbQuad {
    uint8_t rgbBlue;
    uint8_t rgbGreen;
    uint8_t rgbRed;
    uint8_t rgbReserved;
};
#pragma pack(pop)
static_assert(sizeof(TwnBitmapFileHeader) == 14);
static_assert(sizeof(TwnBitmapInfoHeader) == 40);
static_assert(sizeof(TwnBitmapCoreHeader) == 12);
static_assert(sizeof(TwnRgbQuad) == 4);
constexpr uint16_t TwnBmpSignature = 0x4d42;  // "BM"
constexpr uint32_t TwnBiRgb = 0;

// --- Texts in TWAIN's fixed-size fields ---------------------------------------
// Copies UTF-8 text into a field of `size` bytes, cut so that no UTF-8
// sequence is split, always NUL-terminated.
inline void TwnSetStr(char* field, size_t size, const char* text, size_t maxChars) {
    size_t limit = size - 1 < maxChars ? size - 1 : maxChars;
    size_t n = text ? std::strlen(text) : 0;
    if (n > limit) {
        n = limit;
        while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xc0) == 0x80) --n;
    }
    std::memset(field, 0, size);
    if (n) std::memcpy(field, text, n);
}
// The length of a field's text: NUL termination is not guaranteed from a
// data source manager.
inline size_t TwnStrLen(const char* field, size_t size) { return strnlen(field, size); }
