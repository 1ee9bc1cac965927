// A TWAIN data source manager over SANE: every SANE device is a source.
// The component loads it like any data source manager (DSM_Entry); it
// answers the identity, capability and transfer calls by driving SANE in a
// helper process (SaneLink). No settings dialog: enabling scans at once,
// with a progress window while it scans.
#include <sane/sane.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "QelGeometry.h"
#include "SaneDevices.h"
#include "SaneLink.h"
#include "SaneSource.h"
#include "TwnDefs.h"

#define SANEDSM_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// Window messages we post carry this base plus the TWAIN message.
constexpr uint32_t SaneMsgBase = 0x7e00;
// A device that delivers no byte for this long has stopped answering.
constexpr int DefaultReadTimeoutMs = 30000;
constexpr uint32_t TWQC_ALL = 0x1 | 0x2 | 0x4 | 0x8 | 0x10;

// --- Containers ----------------------------------------------------------------------

TW_HANDLE Block(const std::vector<uint8_t>& bytes) {
    TW_HANDLE h = TwnGlobal::alloc(bytes.size());
    if (h) {
        std::memcpy(TwnGlobal::lock(h), bytes.data(), bytes.size());
        TwnGlobal::unlock(h);
    }
    return h;
}

void Put(std::vector<uint8_t>& b, uint32_t v, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) b.push_back(i < 4 ? uint8_t(v >> (8 * i)) : 0);
}

uint32_t FixBits(double v) {
    const int32_t x = QelRoundEven(v * 65536.0);
    return uint32_t(uint16_t(x >> 16)) | (uint32_t(uint16_t(x & 0xffff)) << 16);
}

double BitsFix(uint32_t bits) { return int16_t(bits & 0xffff) + (bits >> 16) / 65536.0; }

std::vector<uint8_t> OneValue(uint16_t type, uint32_t v) {
    std::vector<uint8_t> b;
    Put(b, type, 2);
    Put(b, v, std::max<uint32_t>(4, TwnItemSize(type)));
    return b;
}

std::vector<uint8_t> Enumeration(uint16_t type, const std::vector<uint32_t>& items, uint32_t current) {
    std::vector<uint8_t> b;
    Put(b, type, 2);
    Put(b, uint32_t(items.size()), 4);
    Put(b, current, 4);
    Put(b, 0, 4);
    for (uint32_t v : items) Put(b, v, TwnItemSize(type));
    return b;
}

// The value a SET sends: a one-value's item or an enumeration's current item.
bool SentValue(const TW_CAPABILITY& cap, uint32_t& value, std::vector<uint8_t>* raw = nullptr) {
    const uint64_t size = TwnGlobal::size(cap.hContainer);
    const auto* p = static_cast<const uint8_t*>(TwnGlobal::lock(cap.hContainer));
    bool ok = false;
    if (p && size >= 2) {
        const uint16_t type = uint16_t(p[0] | p[1] << 8);
        const uint32_t isz = TwnItemSize(type);
        const uint8_t* item = nullptr;
        if (cap.ConType == TWON_ONEVALUE && isz && size >= 2 + uint64_t(isz)) item = p + 2;
        if (cap.ConType == TWON_ENUMERATION && isz && size >= 14) {
            uint32_t n, cur;
            std::memcpy(&n, p + 2, 4);
            std::memcpy(&cur, p + 6, 4);
            if (cur < n && 14 + uint64_t(n) * isz <= size) item = p + 14 + uint64_t(cur) * isz;
        }
        if (item) {
            value = 0;
            for (uint32_t i = 0; i < std::min<uint32_t>(isz, 4); ++i) value |= uint32_t(item[i]) << (8 * i);
            if (raw) raw->assign(item, item + isz);
            ok = true;
        }
    }
    TwnGlobal::unlock(cap.hContainer);
    return ok;
}

// --- Images as TWAIN hands them out ----------------------------------------------------

// A packed DIB (or, with the file header, a BMP file): 8-bit grey with its
// ramp, or 24-bit colour; bottom-up.
std::vector<uint8_t> MakeBmp(const TSaneImage& img, bool fileHeader) {
    const int bits = img.Channels == 3 ? 24 : 8;
    const uint64_t stride = (uint64_t(img.Width) * uint64_t(bits) + 31) / 32 * 4;
    const uint32_t colours = bits == 8 ? 256 : 0;
    const uint64_t head = (fileHeader ? 14 : 0) + 40 + 4 * colours;
    std::vector<uint8_t> out(size_t(head + stride * uint64_t(img.Height)), 0);
    TwnBitmapInfoHeader bi{};
    bi.biSize = 40;
    bi.biWidth = img.Width;
    bi.biHeight = img.Height;
    bi.biPlanes = 1;
    bi.biBitCount = uint16_t(bits);
    bi.biCompression = TwnBiRgb;
    bi.biSizeImage = uint32_t(stride * uint64_t(img.Height));
    bi.biXPelsPerMeter = QelRoundEven(img.XResolution / 0.0254);
    bi.biYPelsPerMeter = QelRoundEven(img.YResolution / 0.0254);
    bi.biClrUsed = colours;
    uint8_t* p = out.data();
    if (fileHeader) {
        TwnBitmapFileHeader fh{TwnBmpSignature, uint32_t(out.size()), 0, 0, uint32_t(head)};
        std::memcpy(p, &fh, sizeof fh);
        p += sizeof fh;
    }
    std::memcpy(p, &bi, sizeof bi);
    for (uint32_t i = 0; i < colours; ++i) {
        p[40 + 4 * i] = p[40 + 4 * i + 1] = p[40 + 4 * i + 2] = uint8_t(i);
    }
    uint8_t* bitsAt = out.data() + head;
    for (int32_t y = 0; y < img.Height; ++y) {
        const uint8_t* src = img.Rows.data() + uint64_t(y) * img.RowBytes();
        uint8_t* dst = bitsAt + uint64_t(img.Height - 1 - y) * stride;
        if (bits == 8) {
            std::memcpy(dst, src, size_t(img.Width));
        } else {
            for (int32_t x = 0; x < img.Width; ++x) {
                dst[3 * x] = src[3 * x + 2];
                dst[3 * x + 1] = src[3 * x + 1];
                dst[3 * x + 2] = src[3 * x];
            }
        }
    }
    return out;
}

uint16_t PixelTypeOfMode(const std::string& mode) {
    std::string m = mode;
    std::transform(m.begin(), m.end(), m.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    if (m.find("colo") != std::string::npos) return TWPT_RGB;
    if (m.find("gray") != std::string::npos || m.find("grey") != std::string::npos) return TWPT_GRAY;
    if (m.find("lineart") != std::string::npos || m.find("binary") != std::string::npos ||
        m.find("halftone") != std::string::npos)
        return TWPT_BW;
    return 0xffff;
}

// Maps a SANE status onto a TWAIN condition code.
uint16_t SaneConditionCode(int32_t status) {
    switch (status) {
        case SANE_STATUS_GOOD: return TWCC_SUCCESS;
        case SANE_STATUS_NO_MEM: return TWCC_LOWMEMORY;
        case SANE_STATUS_ACCESS_DENIED: return TWCC_DENIED;
        case SANE_STATUS_JAMMED: return TWCC_PAPERJAM;
        case SANE_STATUS_DEVICE_BUSY: return TWCC_CHECKDEVICEONLINE;
        case SANE_STATUS_COVER_OPEN: return TWCC_INTERLOCK;
        case SANE_STATUS_NO_DOCS: return TWCC_NOMEDIA;
        case SANE_STATUS_INVAL: return TWCC_BADVALUE;
        default: return TWCC_OPERATIONERROR;
    }
}

// --- The manager -----------------------------------------------------------------------

class TSaneDsm {
public:
    uint16_t Entry(TW_IDENTITY* origin, TW_IDENTITY* dest, uint32_t DG, uint16_t DAT, uint16_t MSG, void* data);

    std::mutex OptionsMutex;
    std::vector<std::pair<std::string, std::string>> ExtraOptions;
    std::atomic<int> ReadTimeoutMs{DefaultReadTimeoutMs};
    std::atomic<bool> FailNextScan{false};

private:
    uint16_t Call(TW_IDENTITY* origin, TW_IDENTITY* dest, uint32_t DG, uint16_t DAT, uint16_t MSG, void* data);
    uint16_t Fail(uint16_t cc) {
        FConditionCode = cc;
        return TWRC_FAILURE;
    }
    uint16_t Identity(uint16_t MSG, TW_IDENTITY* id);
    void FillIdentity(const TSaneDeviceInfo& d, uint32_t index, TW_IDENTITY* id);
    uint16_t UserInterface(const TW_IDENTITY* origin, uint16_t MSG, TW_USERINTERFACE* ui);
    uint16_t Capability(uint16_t MSG, TW_CAPABILITY* cap);
    struct TCapAnswer;
    struct TCapRow;
    static const std::vector<TCapRow>& CapTable();
    static uint16_t GetResolution(TSaneDsm& dsm, TSaneSource& d, const TCapRow& row, TCapAnswer& out);
    static bool SetResolution(TSaneDsm& dsm, TSaneSource& d, uint32_t value, const std::vector<uint8_t>& raw);
    std::vector<uint16_t> Supported(TSaneSource& d);
    uint16_t Pending(uint16_t MSG, TW_PENDINGXFERS* px);
    uint16_t ImageInfo(TW_IMAGEINFO* ii);
    uint16_t MemoryStrip(TW_IMAGEMEMXFER* mx);
    uint16_t ScanResult();
    // Starts a scan on the link thread; announced, its end posts
    // MSG_XFERREADY.
    void StartScan(bool announce);
    void StopScan();
    // Waits for the running scan's end, within the link's limits.
    void WaitForScan(std::unique_lock<std::mutex>& lock);
    void GiveUpScan(std::unique_lock<std::mutex>& lock);
    void Post(uint16_t twainMsg);

    std::recursive_mutex FMutex;
    bool FDsmOpen = false;
    bool FDsOpen = false;
    bool FEnabled = false;
    // Read by the link thread as a scan ends.
    std::atomic<TwnWindow*> FUiParent{nullptr};
    uint64_t FParentWindow = 0;
    uint16_t FLanguage = TWLG_ENGLISH;
    uint16_t FConditionCode = TWCC_SUCCESS;
    std::vector<TSaneDeviceInfo> FEnumeration;
    size_t FEnumIndex = 0;
    uint32_t FNextId = 1;
    TSaneDeviceInfo FSource;
    uint32_t FSourceId = 0;
    std::unique_ptr<TSaneSource> FDevice;
    uint16_t FXferMech = TWSX_NATIVE;
    bool FIndicators = true;
    std::string FFileName;
    uint16_t FPending = 0;
    bool FFeeder = false;
    uint32_t FMemRow = 0;

    // The scan runs on the link thread; its result is handed over here. A
    // result for a scan given up on (an older number) is dropped.
    std::mutex FScanMutex;
    std::condition_variable FScanCond;
    bool FScanning = false;
    uint64_t FScanNumber = 0;
    TSaneScanResult FResult;
    TSaneImage& FImage = FResult.Image;
};

TSaneDsm& Dsm() {
    static TSaneDsm* dsm = new TSaneDsm();  // lives as long as the process
    return *dsm;
}

void TSaneDsm::Post(uint16_t twainMsg) {
    TwnWindow* w = FUiParent.load();
    if (w && w->magic == TwnWindowMagic && w->post) w->post(w, SaneMsgBase + twainMsg, 0, 0);
}

void TSaneDsm::StartScan(bool announce) {
    TSaneScanRequest request;
    request.KeepBatch = FFeeder;
    request.Fail = FailNextScan.exchange(false);
    request.Window = FIndicators;
    request.ParentWindow = FParentWindow;
    request.Language = FLanguage;
    request.DeviceName = FSource.ProductName;
    request.ReadLimit = std::chrono::milliseconds(ReadTimeoutMs.load());
    uint64_t number;
    {
        std::lock_guard<std::mutex> lock(FScanMutex);
        FScanning = true;
        FResult = TSaneScanResult{};
        number = ++FScanNumber;
    }
    // Ready or not, the application learns it through a transfer: a failed
    // scan fails that transfer with its condition code.
    auto done = [this, number, announce](TSaneScanResult result) {
        std::lock_guard<std::mutex> lock(FScanMutex);
        if (number != FScanNumber) return;
        FResult = std::move(result);
        FScanning = false;
        FScanCond.notify_all();
        if (announce) Post(MSG_XFERREADY);
    };
    try {
        TSaneLink::Instance().StartScan(request, done);
    } catch (const std::exception&) {
        done(TSaneScanResult{});  // no thread to scan on: broken
    }
}

void TSaneDsm::GiveUpScan(std::unique_lock<std::mutex>& lock) {
    lock.unlock();
    TSaneLink::Instance().Kill();
    lock.lock();
    if (FScanCond.wait_for(lock, TSaneLimits::Quit + TSaneLimits::Slack, [this] { return !FScanning; })) return;
    ++FScanNumber;
    FScanning = false;
    FResult = TSaneScanResult{};
}

void TSaneDsm::WaitForScan(std::unique_lock<std::mutex>& lock) {
    // The link thread ends every scan within its limits; should it be stuck
    // itself, the helper is killed once the scan has been silent for longer
    // than any of them.
    while (FScanning) {
        if (FScanCond.wait_for(lock, std::chrono::seconds(1), [this] { return !FScanning; })) return;
        if (TSaneClock::now() - TSaneLink::Instance().LastProgress() >
            TSaneLimits::ScanStart + std::chrono::milliseconds(ReadTimeoutMs.load()) + TSaneLimits::Cancel +
                TSaneLimits::Slack)
            GiveUpScan(lock);
    }
}

void TSaneDsm::StopScan() {
    std::unique_lock<std::mutex> lock(FScanMutex);
    if (FScanning) {
        lock.unlock();
        TSaneLink::Instance().CancelScan();
        lock.lock();
        // Within the cancel's limit the link thread has the scan's end, or
        // has killed the helper.
        if (!FScanCond.wait_for(lock, TSaneLimits::Cancel + TSaneLimits::Quit + TSaneLimits::Slack,
                                [this] { return !FScanning; }))
            GiveUpScan(lock);
    }
    FImage = TSaneImage{};
}

// The scan's answer for a transfer: 0 with an image, else cancel or failure.
uint16_t TSaneDsm::ScanResult() {
    if (FPending == 0) return Fail(TWCC_SEQERROR);
    std::unique_lock<std::mutex> lock(FScanMutex);
    WaitForScan(lock);
    switch (FResult.End) {
        case TSaneScanResult::TEnd::Cancelled: return TWRC_CANCEL;
        case TSaneScanResult::TEnd::Stalled: return Fail(TWCC_CHECKDEVICEONLINE);
        case TSaneScanResult::TEnd::Broken: return Fail(TWCC_OPERATIONERROR);
        case TSaneScanResult::TEnd::Scanned: break;
    }
    if (FResult.Status != SANE_STATUS_GOOD) return Fail(SaneConditionCode(FResult.Status));
    if (FImage.Width <= 0 || FImage.Height <= 0) return Fail(TWCC_OPERATIONERROR);
    return TWRC_SUCCESS;
}

void TSaneDsm::FillIdentity(const TSaneDeviceInfo& d, uint32_t index, TW_IDENTITY* id) {
    std::memset(id, 0, sizeof *id);
    id->Id = index;
    id->Version.MajorNum = 1;
    id->Version.Language = 2;
    id->Version.Country = 44;
    TwnSetStr(id->Version.Info, sizeof id->Version.Info, "SANE", 32);
    id->ProtocolMajor = 1;
    id->ProtocolMinor = 9;
    id->SupportedGroups = DG_CONTROL | DG_IMAGE;
    TwnSetStr(id->Manufacturer, sizeof id->Manufacturer, d.Vendor.c_str(), 32);
    TwnSetStr(id->ProductFamily, sizeof id->ProductFamily, d.Model.c_str(), 32);
    TwnSetStr(id->ProductName, sizeof id->ProductName, d.ProductName.c_str(), 32);
}

uint16_t TSaneDsm::Identity(uint16_t MSG, TW_IDENTITY* id) {
    if (!id) return Fail(TWCC_BADVALUE);
    switch (MSG) {
        case MSG_GETFIRST:
        case MSG_GETNEXT:
            if (FDsOpen) return Fail(TWCC_SEQERROR);
            if (MSG == MSG_GETFIRST) {
                FEnumeration = TSaneDevices::Instance().List();
                FEnumIndex = 0;
            }
            if (FEnumIndex >= FEnumeration.size()) return TWRC_ENDOFLIST;
            FillIdentity(FEnumeration[FEnumIndex], uint32_t(FEnumIndex + 1), id);
            ++FEnumIndex;
            return TWRC_SUCCESS;
        case MSG_GETDEFAULT:
        case MSG_USERSELECT: {
            // No selection dialog: the first device is the choice.
            const auto list = TSaneDevices::Instance().List();
            if (list.empty()) return MSG == MSG_USERSELECT ? TWRC_CANCEL : Fail(TWCC_NODS);
            FillIdentity(list[0], 1, id);
            return TWRC_SUCCESS;
        }
        case MSG_OPENDS: {
            if (FDsOpen) return Fail(TWCC_MAXCONNECTIONS);
            const std::string wanted(id->ProductName, TwnStrLen(id->ProductName, sizeof id->ProductName));
            const auto list = TSaneDevices::Instance().List();
            const TSaneDeviceInfo* found = nullptr;
            for (const auto& d : list)
                if (wanted.empty() || d.ProductName == wanted) {
                    found = &d;
                    break;
                }
            if (!found) return Fail(TWCC_NODS);
            std::vector<std::pair<std::string, std::string>> options;
            {
                std::lock_guard<std::mutex> lock(OptionsMutex);
                options = ExtraOptions;
            }
            // The helper opens it with the defaults, then these options.
            auto device = std::make_unique<TSaneSource>();
            const int32_t status = device->Open(found->Name, options);
            if (status != SANE_STATUS_GOOD) return Fail(SaneConditionCode(status));
            FDevice = std::move(device);
            FSource = *found;
            FSourceId = FNextId++;
            FillIdentity(FSource, FSourceId, id);
            FDsOpen = true;
            FXferMech = TWSX_NATIVE;
            FPending = 0;
            FFeeder = FDevice->FeederEnabled();
            return TWRC_SUCCESS;
        }
        case MSG_CLOSEDS:
            if (!FDsOpen || FEnabled) return Fail(TWCC_SEQERROR);
            StopScan();
            FDevice.reset();
            FDsOpen = false;
            // Every session ends its helper, which closes the device and
            // leaves SANE: whatever a backend left behind goes with it.
            TSaneLink::Instance().Retire();
            return TWRC_SUCCESS;
        default: return Fail(TWCC_BADPROTOCOL);
    }
}

uint16_t TSaneDsm::UserInterface(const TW_IDENTITY* origin, uint16_t MSG, TW_USERINTERFACE* ui) {
    if (!ui) return Fail(TWCC_BADVALUE);
    if (MSG == MSG_ENABLEDS) {
        if (FEnabled) return Fail(TWCC_SEQERROR);
        // Without a settings dialog the source scans at once; ShowUI is
        // reported back as asked. The progress window speaks the
        // application's language and stays with its window.
        ui->ModalUI = 0;
        auto* parent = static_cast<TwnWindow*>(ui->hParent);
        FUiParent.store(parent);
        FParentWindow = parent && parent->magic == TwnWindowMagic ? parent->nativeWindow : 0;
        FLanguage = origin ? origin->Version.Language : TWLG_ENGLISH;
        FEnabled = true;
        FPending = 1;
        FMemRow = 0;
        StartScan(true);
        return TWRC_SUCCESS;
    }
    if (MSG == MSG_DISABLEDS) {
        if (!FEnabled) return Fail(TWCC_SEQERROR);
        StopScan();
        if (FFeeder) FDevice->EndBatch();
        FPending = 0;
        FEnabled = false;
        // Nothing is posted once the source is disabled.
        FUiParent.store(nullptr);
        return TWRC_SUCCESS;
    }
    return Fail(TWCC_BADPROTOCOL);
}

// One row per capability the manager answers: its item type, what a GET
// answers and what a SET accepts.
struct TSaneDsm::TCapAnswer {
    uint16_t ConType = TWON_ONEVALUE;
    std::vector<uint8_t> Block;
};

struct TSaneDsm::TCapRow {
    uint16_t Cap;
    uint16_t Type;
    bool FeederOnly;  // offered only by a device with a feeder
    // The container a GET answers, or a condition code.
    uint16_t (*Get)(TSaneDsm& dsm, TSaneSource& d, const TCapRow& row, TCapAnswer& out);
    // Whether a SET of the value (the item's raw bytes beside it) was taken;
    // null: nothing is taken.
    bool (*Set)(TSaneDsm& dsm, TSaneSource& d, uint32_t value, const std::vector<uint8_t>& raw);
};

const std::vector<TSaneDsm::TCapRow>& TSaneDsm::CapTable() {
    using Answer = TCapAnswer;
    static const auto oneValue = [](const TCapRow& row, uint32_t v, Answer& out) {
        out.ConType = TWON_ONEVALUE;
        out.Block = OneValue(row.Type, v);
        return TWCC_SUCCESS;
    };
    static const auto enumeration = [](const TCapRow& row, const std::vector<uint32_t>& items, uint32_t current, Answer& out) {
        out.ConType = TWON_ENUMERATION;
        out.Block = Enumeration(row.Type, items, current);
        return TWCC_SUCCESS;
    };
    static const auto uint16Array = [](const std::vector<uint16_t>& caps, Answer& out) {
        out.ConType = TWON_ARRAY;
        out.Block.clear();
        Put(out.Block, TWTY_UINT16, 2);
        Put(out.Block, uint32_t(caps.size()), 4);
        for (uint16_t c : caps) Put(out.Block, c, 2);
        return TWCC_SUCCESS;
    };
    static const std::vector<TCapRow> table{
        {CAP_SUPPORTEDCAPS, TWTY_UINT16, false,
         [](TSaneDsm& dsm, TSaneSource& d, const TCapRow&, Answer& out) { return uint16Array(dsm.Supported(d), out); },
         nullptr},
        // None: nothing is negotiated while enabled.
        {CAP_EXTENDEDCAPS, TWTY_UINT16, false,
         [](TSaneDsm&, TSaneSource&, const TCapRow&, Answer& out) { return uint16Array({}, out); }, nullptr},
        // The items are in value order, so the mechanism is its own index.
        {ICAP_XFERMECH, TWTY_UINT16, false,
         [](TSaneDsm& dsm, TSaneSource&, const TCapRow& row, Answer& out) {
             return enumeration(row, {TWSX_NATIVE, TWSX_FILE, TWSX_MEMORY, TWSX_FILE2}, dsm.FXferMech, out);
         },
         [](TSaneDsm& dsm, TSaneSource&, uint32_t v, const std::vector<uint8_t>&) {
             if (v > TWSX_FILE2) return false;
             dsm.FXferMech = uint16_t(v);
             return true;
         }},
        {ICAP_IMAGEFILEFORMAT, TWTY_UINT16, false,
         [](TSaneDsm&, TSaneSource&, const TCapRow& row, Answer& out) { return enumeration(row, {TWFF_BMP}, 0, out); },
         [](TSaneDsm&, TSaneSource&, uint32_t v, const std::vector<uint8_t>&) { return v == TWFF_BMP; }},
        {ICAP_UNITS, TWTY_UINT16, false,
         [](TSaneDsm&, TSaneSource&, const TCapRow& row, Answer& out) { return enumeration(row, {TWUN_INCHES}, 0, out); },
         [](TSaneDsm&, TSaneSource&, uint32_t v, const std::vector<uint8_t>&) { return v == TWUN_INCHES; }},
        {ICAP_PIXELTYPE, TWTY_UINT16, false,
         [](TSaneDsm&, TSaneSource& d, const TCapRow& row, Answer& out) {
             std::vector<uint32_t> types;
             const uint16_t current = PixelTypeOfMode(d.Mode());
             uint32_t at = 0;
             for (const std::string& m : d.Modes()) {
                 const uint16_t t = PixelTypeOfMode(m);
                 if (t == 0xffff || std::find(types.begin(), types.end(), t) != types.end()) continue;
                 if (t == current) at = uint32_t(types.size());
                 types.push_back(t);
             }
             if (types.empty()) types.push_back(current == 0xffff ? TWPT_RGB : current);
             return enumeration(row, types, at, out);
         },
         [](TSaneDsm&, TSaneSource& d, uint32_t v, const std::vector<uint8_t>&) {
             for (const std::string& m : d.Modes())
                 if (PixelTypeOfMode(m) == v) return d.SetMode(m);
             return false;
         }},
        {ICAP_BITDEPTH, TWTY_UINT16, false,
         [](TSaneDsm&, TSaneSource& d, const TCapRow& row, Answer& out) {
             std::vector<uint32_t> depths;
             uint32_t at = 0;
             const int current = d.Depth();
             for (int v : d.Depths()) {
                 if (v == current) at = uint32_t(depths.size());
                 depths.push_back(uint32_t(v));
             }
             if (depths.empty()) depths.push_back(8);
             return enumeration(row, depths, at, out);
         },
         [](TSaneDsm&, TSaneSource& d, uint32_t v, const std::vector<uint8_t>&) { return d.SetDepth(int(v)); }},
        {ICAP_XRESOLUTION, TWTY_FIX32, false, &TSaneDsm::GetResolution, &TSaneDsm::SetResolution},
        {ICAP_YRESOLUTION, TWTY_FIX32, false, &TSaneDsm::GetResolution, &TSaneDsm::SetResolution},
        {ICAP_FRAMES, TWTY_FRAME, false,
         [](TSaneDsm&, TSaneSource& d, const TCapRow& row, Answer& out) {
             double l = 0, t = 0, r = 0, b = 0;
             if (!d.Area(l, t, r, b)) return TWCC_CAPUNSUPPORTED;
             out.ConType = TWON_ONEVALUE;
             out.Block.clear();
             Put(out.Block, row.Type, 2);
             for (double v : {l, t, r, b}) Put(out.Block, FixBits(v / 25.4), 4);
             return TWCC_SUCCESS;
         },
         [](TSaneDsm&, TSaneSource& d, uint32_t, const std::vector<uint8_t>& raw) {
             if (raw.size() < sizeof(TW_FRAME)) return false;
             uint32_t f[4];
             std::memcpy(f, raw.data(), sizeof f);
             return d.SetArea(BitsFix(f[0]) * 25.4, BitsFix(f[1]) * 25.4, BitsFix(f[2]) * 25.4, BitsFix(f[3]) * 25.4);
         }},
        {CAP_INDICATORS, TWTY_BOOL, false,
         [](TSaneDsm& dsm, TSaneSource&, const TCapRow& row, Answer& out) {
             return oneValue(row, dsm.FIndicators ? 1 : 0, out);
         },
         [](TSaneDsm& dsm, TSaneSource&, uint32_t v, const std::vector<uint8_t>&) {
             dsm.FIndicators = v != 0;
             return true;
         }},
        {CAP_DEVICEONLINE, TWTY_BOOL, false,
         [](TSaneDsm&, TSaneSource&, const TCapRow& row, Answer& out) { return oneValue(row, 1, out); }, nullptr},
        {CAP_UICONTROLLABLE, TWTY_BOOL, false,
         [](TSaneDsm&, TSaneSource&, const TCapRow& row, Answer& out) { return oneValue(row, 1, out); }, nullptr},
        {ICAP_PIXELFLAVOR, TWTY_UINT16, false,
         [](TSaneDsm&, TSaneSource&, const TCapRow& row, Answer& out) {
             return enumeration(row, {TWPF_CHOCOLATE}, 0, out);
         },
         [](TSaneDsm&, TSaneSource&, uint32_t v, const std::vector<uint8_t>&) { return v == TWPF_CHOCOLATE; }},
        {CAP_FEEDERENABLED, TWTY_BOOL, true,
         [](TSaneDsm&, TSaneSource& d, const TCapRow& row, Answer& out) {
             return oneValue(row, d.FeederEnabled() ? 1 : 0, out);
         },
         [](TSaneDsm& dsm, TSaneSource& d, uint32_t v, const std::vector<uint8_t>&) {
             if (!d.SetFeederEnabled(v != 0)) return false;
             dsm.FFeeder = v != 0;
             return true;
         }},
    };
    return table;
}

uint16_t TSaneDsm::GetResolution(TSaneDsm&, TSaneSource& d, const TCapRow& row, TCapAnswer& out) {
    double min = 0, max = 0, step = 0;
    std::vector<double> list;
    const double current = d.Resolution();
    if (!d.ResolutionRange(min, max, step, list)) return TWCC_CAPUNSUPPORTED;
    out.Block.clear();
    if (!list.empty()) {
        std::vector<uint32_t> items;
        uint32_t at = 0;
        for (double r : list) {
            if (std::fabs(r - current) < 1e-6) at = uint32_t(items.size());
            items.push_back(FixBits(r));
        }
        out.ConType = TWON_ENUMERATION;
        out.Block = Enumeration(row.Type, items, at);
    } else {
        out.ConType = TWON_RANGE;
        Put(out.Block, row.Type, 2);
        for (double v : {min, max, step, current, current}) Put(out.Block, FixBits(v), 4);
    }
    return TWCC_SUCCESS;
}

bool TSaneDsm::SetResolution(TSaneDsm&, TSaneSource& d, uint32_t value, const std::vector<uint8_t>&) {
    return d.SetResolution(BitsFix(value));
}

// The capabilities this device offers, in the table's order.
std::vector<uint16_t> TSaneDsm::Supported(TSaneSource& d) {
    const bool feeder = d.HasFeeder();
    std::vector<uint16_t> caps;
    for (const TCapRow& row : CapTable())
        if (!row.FeederOnly || feeder) caps.push_back(row.Cap);
    return caps;
}

uint16_t TSaneDsm::Capability(uint16_t MSG, TW_CAPABILITY* cap) {
    if (!cap) return Fail(TWCC_BADVALUE);
    TSaneSource& d = *FDevice;
    const TCapRow* row = nullptr;
    for (const TCapRow& r : CapTable())
        if (r.Cap == cap->Cap) row = &r;
    if (!row || (row->FeederOnly && !d.HasFeeder())) return Fail(TWCC_CAPUNSUPPORTED);
    if (MSG == MSG_QUERYSUPPORT) {
        cap->ConType = TWON_ONEVALUE;
        cap->hContainer = Block(OneValue(TWTY_INT32, TWQC_ALL));
        return TWRC_SUCCESS;
    }
    if (MSG == MSG_SET) {
        if (FEnabled) return Fail(TWCC_CAPSEQERROR);
        uint32_t v = 0;
        std::vector<uint8_t> raw;
        if (!SentValue(*cap, v, &raw)) return Fail(TWCC_BADVALUE);
        return row->Set && row->Set(*this, d, v, raw) ? TWRC_SUCCESS : Fail(TWCC_BADVALUE);
    }
    if (MSG != MSG_GET && MSG != MSG_GETCURRENT && MSG != MSG_GETDEFAULT && MSG != MSG_RESET)
        return Fail(TWCC_CAPBADOPERATION);
    TCapAnswer answer;
    const uint16_t code = row->Get(*this, d, *row, answer);
    if (code != TWCC_SUCCESS) return Fail(code);
    cap->ConType = answer.ConType;
    cap->hContainer = Block(answer.Block);
    return cap->hContainer ? TWRC_SUCCESS : Fail(TWCC_LOWMEMORY);
}

uint16_t TSaneDsm::Pending(uint16_t MSG, TW_PENDINGXFERS* px) {
    if (!px) return Fail(TWCC_BADVALUE);
    if (MSG == MSG_ENDXFER) {
        if (FPending == 0) return Fail(TWCC_SEQERROR);
        FPending = 0;
        bool scanned;
        {
            std::lock_guard<std::mutex> lock(FScanMutex);
            FImage = TSaneImage{};
            scanned = FResult.End == TSaneScanResult::TEnd::Scanned && FResult.Status == SANE_STATUS_GOOD;
        }
        if (FFeeder && scanned) {
            // The feeder's next page, if there is one: scanned now, so the
            // count can tell.
            StartScan(false);
            std::unique_lock<std::mutex> lock(FScanMutex);
            WaitForScan(lock);
            if (FResult.End == TSaneScanResult::TEnd::Scanned && FResult.Status == SANE_STATUS_GOOD) {
                FPending = 1;
                FMemRow = 0;
            }
        }
    } else if (MSG == MSG_RESET) {
        if (FPending != 0 && FDevice) StopScan();
        if (FFeeder && FDevice) FDevice->EndBatch();
        FPending = 0;
    } else if (MSG != MSG_GET) {
        return Fail(TWCC_BADPROTOCOL);
    }
    px->Count = FPending;
    return TWRC_SUCCESS;
}

uint16_t TSaneDsm::ImageInfo(TW_IMAGEINFO* ii) {
    const uint16_t rc = ScanResult();
    if (rc != TWRC_SUCCESS) return rc;
    std::memset(ii, 0, sizeof *ii);
    const uint32_t x = FixBits(FImage.XResolution), y = FixBits(FImage.YResolution);
    std::memcpy(&ii->XResolution, &x, 4);
    std::memcpy(&ii->YResolution, &y, 4);
    ii->ImageWidth = FImage.Width;
    ii->ImageLength = FImage.Height;
    ii->SamplesPerPixel = int16_t(FImage.Channels);
    for (int c = 0; c < FImage.Channels; ++c) ii->BitsPerSample[c] = 8;
    ii->BitsPerPixel = int16_t(8 * FImage.Channels);
    ii->PixelType = FImage.Channels == 3 ? TWPT_RGB : TWPT_GRAY;
    ii->Compression = TWCP_NONE;
    return TWRC_SUCCESS;
}

uint16_t TSaneDsm::MemoryStrip(TW_IMAGEMEMXFER* mx) {
    const uint16_t rc = ScanResult();
    if (rc != TWRC_SUCCESS) return rc;
    const uint64_t bpr = FImage.RowBytes();
    const uint32_t length = mx->Memory.Length;
    if (!mx->Memory.TheMem || bpr == 0 || length < bpr) return Fail(TWCC_BADVALUE);
    const uint32_t rows = uint32_t(std::min<uint64_t>(length / bpr, uint64_t(FImage.Height) - FMemRow));
    std::memcpy(mx->Memory.TheMem, FImage.Rows.data() + uint64_t(FMemRow) * bpr, size_t(rows * bpr));
    mx->Compression = TWCP_NONE;
    mx->BytesPerRow = uint32_t(bpr);
    mx->Columns = uint32_t(FImage.Width);
    mx->Rows = rows;
    mx->XOffset = 0;
    mx->YOffset = FMemRow;
    mx->BytesWritten = uint32_t(rows * bpr);
    FMemRow += rows;
    return FMemRow >= uint32_t(FImage.Height) ? TWRC_XFERDONE : TWRC_SUCCESS;
}

uint16_t TSaneDsm::Entry(TW_IDENTITY* origin, TW_IDENTITY* dest, uint32_t DG, uint16_t DAT, uint16_t MSG,
                         void* data) {
    std::lock_guard<std::recursive_mutex> lock(FMutex);
    // Memory or a thread that could not be had.
    try {
        return Call(origin, dest, DG, DAT, MSG, data);
    } catch (const std::exception&) {
        return Fail(TWCC_LOWMEMORY);
    }
}

uint16_t TSaneDsm::Call(TW_IDENTITY* origin, TW_IDENTITY*, uint32_t DG, uint16_t DAT, uint16_t MSG, void* data) {
    if (DAT == DAT_STATUS) {
        if (!data) return TWRC_FAILURE;
        auto* st = static_cast<TW_STATUS*>(data);
        st->ConditionCode = FConditionCode;
        st->Reserved = 0;
        FConditionCode = TWCC_SUCCESS;
        return TWRC_SUCCESS;
    }
    if (DG == DG_CONTROL && DAT == DAT_PARENT) {
        if (MSG == MSG_OPENDSM) {
            if (FDsmOpen) return Fail(TWCC_SEQERROR);
            FDsmOpen = true;
            // libsane comes up on its own thread, and the first device list request
            // finds the search under way.
            TSaneDevices::Instance().StartSearch();
            return TWRC_SUCCESS;
        }
        if (MSG == MSG_CLOSEDSM) {
            if (!FDsmOpen || FDsOpen) return Fail(TWCC_SEQERROR);
            FDsmOpen = false;
            return TWRC_SUCCESS;
        }
        return Fail(TWCC_BADPROTOCOL);
    }
    if (!FDsmOpen) return Fail(TWCC_SEQERROR);
    if (DAT == DAT_IDENTITY) return Identity(MSG, static_cast<TW_IDENTITY*>(data));
    if (!FDsOpen || !FDevice) return Fail(TWCC_BADDEST);
    if (!data && DAT != DAT_IMAGEFILEXFER) return Fail(TWCC_BADVALUE);
    switch (DAT) {
        case DAT_USERINTERFACE: return UserInterface(origin, MSG, static_cast<TW_USERINTERFACE*>(data));
        case DAT_EVENT: {
            auto* ev = static_cast<TW_EVENT*>(data);
            auto* m = static_cast<TwnWindowMsg*>(ev->pEvent);
            if (m && m->message >= SaneMsgBase && m->message < SaneMsgBase + 0x200) {
                ev->TWMessage = uint16_t(m->message - SaneMsgBase);
                return TWRC_DSEVENT;
            }
            ev->TWMessage = MSG_NULL;
            return TWRC_NOTDSEVENT;
        }
        case DAT_CAPABILITY: return Capability(MSG, static_cast<TW_CAPABILITY*>(data));
        case DAT_PENDINGXFERS: return Pending(MSG, static_cast<TW_PENDINGXFERS*>(data));
        case DAT_SETUPMEMXFER: {
            const uint16_t rc = ScanResult();
            if (rc != TWRC_SUCCESS) return rc;
            auto* sm = static_cast<TW_SETUPMEMXFER*>(data);
            const uint32_t bpr = uint32_t(FImage.RowBytes());
            sm->MinBufSize = bpr;
            sm->MaxBufSize = 0xffffffffu;
            sm->Preferred = std::max<uint32_t>(bpr, 65536 / bpr * bpr);
            return TWRC_SUCCESS;
        }
        case DAT_SETUPFILEXFER: {
            auto* fx = static_cast<TW_SETUPFILEXFER*>(data);
            if (MSG == MSG_SET) {
                if (fx->Format != TWFF_BMP) return Fail(TWCC_BADVALUE);
                FFileName.assign(fx->FileName, TwnStrLen(fx->FileName, sizeof fx->FileName));
                return TWRC_SUCCESS;
            }
            TwnSetStr(fx->FileName, sizeof fx->FileName, FFileName.c_str(), 255);
            fx->Format = TWFF_BMP;
            fx->VRefNum = -1;
            return TWRC_SUCCESS;
        }
        case DAT_IMAGEINFO: return ImageInfo(static_cast<TW_IMAGEINFO*>(data));
        case DAT_IMAGEMEMXFER: return MemoryStrip(static_cast<TW_IMAGEMEMXFER*>(data));
        case DAT_IMAGENATIVEXFER: {
            const uint16_t rc = ScanResult();
            if (rc != TWRC_SUCCESS) return rc;
            TW_HANDLE h = Block(MakeBmp(FImage, false));
            if (!h) return Fail(TWCC_LOWMEMORY);
            *static_cast<TW_HANDLE*>(data) = h;
            return TWRC_XFERDONE;
        }
        case DAT_IMAGEFILEXFER: {
            const uint16_t rc = ScanResult();
            if (rc != TWRC_SUCCESS) return rc;
            if (FFileName.empty()) return Fail(TWCC_BADVALUE);
            const std::vector<uint8_t> bmp = MakeBmp(FImage, true);
            FILE* f = std::fopen(FFileName.c_str(), "wb");
            if (!f) return Fail(TWCC_FILEWRITEERROR);
            const bool ok = std::fwrite(bmp.data(), 1, bmp.size(), f) == bmp.size();
            if (std::fclose(f) != 0 || !ok) return Fail(TWCC_FILEWRITEERROR);
            return TWRC_XFERDONE;
        }
        default: return Fail(TWCC_BADPROTOCOL);
    }
}

}  // namespace

SANEDSM_EXPORT TW_UINT16 DSM_Entry(TW_IDENTITY* origin, TW_IDENTITY* dest, TW_UINT32 DG, TW_UINT16 DAT,
                                   TW_UINT16 MSG, TW_MEMREF data) {
    try {
        return Dsm().Entry(origin, dest, DG, DAT, MSG, data);
    } catch (const std::exception&) {
        return TWRC_FAILURE;  // the manager itself could not be made
    }
}

// Options set on every device as it opens, after the defaults (a SANE
// option name and its value as text); an empty name clears the list. For
// diagnostics and tests, e.g. a backend's test picture.
SANEDSM_EXPORT void SaneDsm_SetDeviceOption(const char* name, const char* value) {
    TSaneDsm& dsm = Dsm();
    std::lock_guard<std::mutex> lock(dsm.OptionsMutex);
    if (!name || !*name) {
        dsm.ExtraOptions.clear();
        return;
    }
    dsm.ExtraOptions.emplace_back(name, value ? value : "");
}

// How long a scan may read no byte before the device counts as no longer
// answering: the scan is cancelled, and the helper killed should it not end.
SANEDSM_EXPORT void SaneDsm_SetReadTimeout(int milliseconds) {
    Dsm().ReadTimeoutMs.store(milliseconds > 0 ? milliseconds : DefaultReadTimeoutMs);
}

// Waits up to the given time for the first device search to end; 1 when it
// has. For tests and diagnostics: nothing in a session waits for it.
SANEDSM_EXPORT int SaneDsm_WaitForDevices(int milliseconds) {
    return TSaneDevices::Instance().WaitForFirstSearch(milliseconds) ? 1 : 0;
}

// For tests: the next scan fails in the helper as if memory ran out.
SANEDSM_EXPORT void SaneDsm_FailNextScan() { Dsm().FailNextScan.store(true); }
