#include "OrloTWAINThread.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cstring>

#include "OrloTWAINFix.h"
#include "QelGeometry.h"

TOrloTWAINThread::TOrloTWAINThread(TQelMainCaller* main)
    : LogFilename(TOrloTWAINLog::DefaultLogFilename()),
      CloseRequestHandler(),
      DeviceEventHandler(),
      OnEnableMenus(),
      OnFailure(),
      OnImageReady(),
      OnMemXferBuffer(),
      OnMemXferSize(),
      NextHandler(),
      ReadyHandler(),
      UnitsReader(),
      PixelFlavorReader(),
      StateProbe(),
      FMain(main),
      FCallLock(),
      FQueueThread(),
      FQueue(),
      FSettingsMutex(),
      FSettings(),
      FThread() {}

TOrloTWAINThread::~TOrloTWAINThread() { Shutdown(); }

void TOrloTWAINThread::Start() {
    if (FThread.joinable()) return;
    FFinished.store(false);
    FThread = std::thread([this] { Execute(); });
}

bool TOrloTWAINThread::Shutdown(std::chrono::milliseconds limit) {
    if (!FThread.joinable()) return true;
    FTimeout.store(50);
    FRetryCount.store(1);
    FTerminating.store(true);
    FQueue.PostQuit();
    if (!FMain->WaitUntil([this] { return FFinished.load(); }, limit)) {
        FThread.detach();
        return false;
    }
    FThread.join();
    return true;
}

void TOrloTWAINThread::SetIdentities(TW_IDENTITY* app, TW_IDENTITY* source) {
    FAppIdentity = app;
    FSourceIdentity = source;
}

void TOrloTWAINThread::DropHandlers() {
    CloseRequestHandler = nullptr;
    DeviceEventHandler = nullptr;
    OnEnableMenus = nullptr;
    OnFailure = nullptr;
    OnImageReady = nullptr;
    OnMemXferBuffer = nullptr;
    OnMemXferSize = nullptr;
    NextHandler = nullptr;
    ReadyHandler = nullptr;
    UnitsReader = nullptr;
    PixelFlavorReader = nullptr;
}

TOrloTWAINThread::Settings TOrloTWAINThread::GetSettings() const {
    std::lock_guard<std::mutex> lock(FSettingsMutex);
    return FSettings;
}

void TOrloTWAINThread::SetSettings(const Settings& s) {
    std::lock_guard<std::mutex> lock(FSettingsMutex);
    FSettings = s;
}

bool TOrloTWAINThread::DSMOpen() const {
    std::lock_guard<std::recursive_mutex> lock(const_cast<std::recursive_mutex&>(FCallLock));
    return FQueueThread && FQueueThread->DSMOpen();
}
bool TOrloTWAINThread::DSOpen() const {
    std::lock_guard<std::recursive_mutex> lock(const_cast<std::recursive_mutex&>(FCallLock));
    return FQueueThread && FQueueThread->DSOpen();
}
bool TOrloTWAINThread::DSEnabled() const {
    std::lock_guard<std::recursive_mutex> lock(const_cast<std::recursive_mutex&>(FCallLock));
    return FQueueThread && FQueueThread->DSEnabled();
}
int TOrloTWAINThread::SourceProtocol() const {
    std::lock_guard<std::recursive_mutex> lock(const_cast<std::recursive_mutex&>(FCallLock));
    return FQueueThread ? FQueueThread->SourceProtocol() : 0;
}

void TOrloTWAINThread::SetState(int state) {
    FState.store(state);
    if (StateProbe) StateProbe(state);
}

void TOrloTWAINThread::RaiseOnMain(const std::function<void()>& fn) {
    try {
        FMain->Run(fn);
    } catch (...) {
        // A handler's exception must not stop the worker in mid-transfer.
    }
}

// --- Marshalling -------------------------------------------------------------

size_t TwnDataSize(uint16_t DAT) {
    switch (DAT) {
        case DAT_CAPABILITY: return sizeof(TW_CAPABILITY);
        case DAT_EVENT: return sizeof(TW_EVENT);
        case DAT_IDENTITY: return sizeof(TW_IDENTITY);
        case DAT_PARENT: return sizeof(TwnWindow*);
        case DAT_PENDINGXFERS: return sizeof(TW_PENDINGXFERS);
        case DAT_SETUPMEMXFER: return sizeof(TW_SETUPMEMXFER);
        case DAT_SETUPFILEXFER: return sizeof(TW_SETUPFILEXFER);
        case DAT_STATUS: return sizeof(TW_STATUS);
        case DAT_USERINTERFACE: return sizeof(TW_USERINTERFACE);
        case DAT_DEVICEEVENT: return sizeof(TW_DEVICEEVENT);
        case DAT_IMAGEINFO: return sizeof(TW_IMAGEINFO);
        case DAT_IMAGEMEMXFER: return sizeof(TW_IMAGEMEMXFER);
        case DAT_IMAGENATIVEXFER: return sizeof(TW_HANDLE);
        case DAT_PALETTE8: return sizeof(TW_PALETTE8);
        default: return 0;
    }
}

uint16_t TOrloTWAINThread::Await(const std::shared_ptr<TwnRequest>& req, int32_t timeout) {
    if (std::this_thread::get_id() == FThread.get_id()) {
        // The worker waits in steps so that its own quit ends the wait. A
        // call that is running is waited for: it may write into the
        // worker's image memory.
        int32_t waited = 0;
        for (;;) {
            if (req->WaitDone(20)) return req->Result();
            waited += 20;
            if (FTerminating.load() || (timeout >= 0 && waited >= timeout)) {
                if (req->AbandonIfPending()) return FTerminating.load() ? TWRC_FAILURE : TWRC_TIMEOUT;
                if (!FTerminating.load() && req->Call.dat != DAT_IMAGEMEMXFER && req->Abandon()) return TWRC_TIMEOUT;
            }
        }
    }
    if (req->WaitDone(timeout)) return req->Result();
    if (!req->Abandon()) return req->Result();
    return TWRC_TIMEOUT;
}

uint16_t TOrloTWAINThread::PostCommand(uint32_t message, int32_t timeout, uintptr_t wParam, TwnRequest* out) {
    std::lock_guard<std::recursive_mutex> lock(FCallLock);
    if (!FQueueThread) return TWRC_FAILURE;
    auto req = std::make_shared<TwnRequest>(++FSeq);
    req->ShowUI = wParam != 0;
    req->ParentWindow = FParentWindow.load();
    FQueueThread->Post(message, wParam, req);
    const uint16_t rc = Await(req, timeout);
    if (out) {
        out->ShowUI = req->ShowUI;
        out->ModalUI = req->ModalUI;
    }
    return rc;
}

bool TOrloTWAINThread::StartQueue(bool& started) {
    std::lock_guard<std::recursive_mutex> lock(FCallLock);
    started = false;
    if (FQueueThread) return true;
    auto queue = std::make_unique<TOrloTWAINQueue>(&FQueue, FAppIdentity, FSourceIdentity);
    if (!queue->Start(LogFilename, 10000)) return false;
    FQueueThread = std::move(queue);
    started = true;
    return true;
}

void TOrloTWAINThread::StopQueue() {
    std::lock_guard<std::recursive_mutex> lock(FCallLock);
    std::unique_ptr<TOrloTWAINQueue> queue = std::move(FQueueThread);
    if (queue) queue->Stop();
}

uint16_t TOrloTWAINThread::OpenSourceManager() {
    std::lock_guard<std::recursive_mutex> lock(FCallLock);
    bool started;
    if (!StartQueue(started)) return TWRC_FAILURE;
    FTimeout.store(TwnSharedTimeout);
    return PostCommand(TWN_OPENDSM, FTimeout.load());
}

uint16_t TOrloTWAINThread::CloseSourceManager() {
    std::lock_guard<std::recursive_mutex> lock(FCallLock);
    if (!FQueueThread || !FQueueThread->DSMOpen()) return TWRC_FAILURE;
    const uint16_t rc = PostCommand(TWN_CLOSEDSM, FTimeout.load());
    StopQueue();
    return rc;
}

uint16_t TOrloTWAINThread::OpenSource() { return PostCommand(TWN_OPENDS, -1); }

uint16_t TOrloTWAINThread::CloseSource() {
    std::lock_guard<std::recursive_mutex> lock(FCallLock);
    if (!FQueueThread || !FQueueThread->DSOpen()) return TWRC_FAILURE;
    return PostCommand(TWN_CLOSEDS, FTimeout.load());
}

uint16_t TOrloTWAINThread::EnableSource(bool& showUI, bool& modalUI) {
    TwnRequest back(0);
    const uint16_t rc = PostCommand(TWN_ENABLEDS, -1, showUI ? 1 : 0, &back);
    if (rc == TWRC_SUCCESS || rc == TWRC_CHECKSTATUS) {
        showUI = back.ShowUI;
        modalUI = back.ModalUI;
    }
    return rc;
}

uint16_t TOrloTWAINThread::DisableSource() {
    std::lock_guard<std::recursive_mutex> lock(FCallLock);
    if (!FQueueThread || !FQueueThread->DSEnabled()) return TWRC_FAILURE;
    return PostCommand(TWN_DISABLEDS, FTimeout.load());
}

uint16_t TOrloTWAINThread::CallDSM(TW_IDENTITY* origin, TW_IDENTITY* dest, uint32_t DG, uint16_t DAT, uint16_t MSG,
                                   void* data) {
    std::lock_guard<std::recursive_mutex> lock(FCallLock);
    if (!FQueueThread) return TWRC_FAILURE;
    int32_t timeout = FTimeout.load();
    if (DAT == DAT_IDENTITY || DAT == DAT_PARENT) {
        dest = nullptr;
        if (MSG == MSG_GETDEFAULT || MSG == MSG_GETFIRST || MSG == MSG_GETNEXT) timeout = -1;
    }
    auto req = std::make_shared<TwnRequest>(++FSeq);
    req->Call = TwnCallRecord{origin, dest, DG, DAT, MSG, data};
    const size_t size = data ? TwnDataSize(DAT) : 0;
    if (size) {
        req->Data.assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
        req->Call.data = req->Data.data();
    }
    if (DAT == DAT_CAPABILITY || DAT == DAT_IMAGENATIVEXFER) {
        // A late answer's container or image, or the container sent, goes
        // with the abandoned request.
        req->Release = [DAT](void* d) {
            if (!d) return;
            TW_HANDLE h = nullptr;
            const size_t at = DAT == DAT_CAPABILITY ? offsetof(TW_CAPABILITY, hContainer) : 0;
            std::memcpy(&h, static_cast<uint8_t*>(d) + at, sizeof h);
            if (TwnGlobal::header(h)) TwnGlobal::free(h);
        };
    }
    FQueueThread->Post(TWN_CALLDSM, 0, req);
    const uint16_t rc = Await(req, timeout);
    if (rc != TWRC_TIMEOUT && size) std::memcpy(data, req->Data.data(), size);
    return rc;
}

uint16_t TOrloTWAINThread::UserSelect(TwnWindow* parent) {
    std::lock_guard<std::recursive_mutex> lock(FCallLock);
    bool started = false;
    if (!StartQueue(started)) return TWRC_FAILURE;
    TOrloTWAINQueue* queue = FQueueThread.get();
    if (queue->DSOpen()) return TWRC_FAILURE;
    uint16_t rc = TWRC_SUCCESS;
    bool opened = false;
    if (!queue->DSMOpen()) {
        rc = queue->OpenDSM(parent);
        opened = rc == TWRC_SUCCESS;
    }
    if (queue->DSMOpen()) {
        TW_IDENTITY local{};
        queue->DSMEntry(FAppIdentity, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETDEFAULT, &local);
        rc = queue->DSMEntry(FAppIdentity, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_USERSELECT, &local);
        if (rc == TWRC_SUCCESS) std::memcpy(FSourceIdentity, &local, sizeof local);
        if (opened) queue->CloseDSM();
    }
    TwnMsg closed;
    closed.message = TWN_DSCLOSED;
    FQueue.Post(std::move(closed));
    // The answer is taken before the queue thread goes away.
    if (started) StopQueue();
    return rc;
}

void TOrloTWAINThread::CloseAll() {
    std::lock_guard<std::recursive_mutex> lock(FCallLock);
    if (DSEnabled()) DisableSource();
    if (DSOpen()) CloseSource();
    if (DSMOpen()) CloseSourceManager();
    FAfterXferMode.store(0);
}

// --- The worker's loop ---------------------------------------------------------

void TOrloTWAINThread::Execute() {
    for (;;) {
        TwnMsg m = FQueue.Get();
        if (m.message == TWN_WM_QUIT) break;
        try {
            HandleMessage(m);
        } catch (...) {
        }
    }
    try {
        FTimeout.store(50);
        FRetryCount.store(1);
        std::lock_guard<std::recursive_mutex> lock(FCallLock);
        if (DSOpen() && PendingXfers(MSG_GET) == TWRC_SUCCESS && FPending != 0) PendingXfers(MSG_RESET);
        CloseAll();
        StopQueue();
    } catch (...) {
    }
    FFinished.store(true);
}

void TOrloTWAINThread::HandleMessage(const TwnMsg& m) {
    switch (m.message) {
        case TWN_RUNXFER: RunTransfer(); break;
        case TWN_DROPHANDLERS: RaiseOnMain([this] { DropHandlers(); }); break;
        case TWN_CLOSEREQ:
            CloseAll();
            RaiseOnMain([this] {
                if (CloseRequestHandler) CloseRequestHandler(this);
            });
            break;
        case TWN_DSCLOSED:
            RaiseOnMain([this] {
                if (OnEnableMenus) OnEnableMenus(this);
            });
            break;
        case TWN_DEVICEEVENT:
            RaiseOnMain([this] {
                if (DeviceEventHandler) DeviceEventHandler(this);
            });
            break;
        case TWN_FAILURE:
            RaiseOnMain([this, &m] {
                if (OnFailure) OnFailure(this, int(m.failDG), m.failDAT, m.failCap, m.failMSG, m.failRC, m.failCC);
            });
            break;
        case TWN_STATE: SetState(int(m.lParam)); break;
        case TWN_XFERREADY:
            SetState(6);
            if (FAfterXferMode.load() > 0) {
                RaiseOnMain([this] {
                    if (ReadyHandler) ReadyHandler(this);
                });
                RunTransfer();
            }
            break;
        case TWN_DSMCRASHED:
            StopQueue();
            SetState(1);
            RaiseOnMain([this] {
                if (OnEnableMenus) OnEnableMenus(this);
            });
            break;
        default: break;
    }
}

// --- Transfers -----------------------------------------------------------------

uint16_t TOrloTWAINThread::PendingXfers(uint16_t msg) {
    TW_PENDINGXFERS px{};
    const uint16_t rc = CallDSM(FAppIdentity, FSourceIdentity, DG_CONTROL, DAT_PENDINGXFERS, msg, &px);
    if (rc == TWRC_SUCCESS) {
        FPending = px.Count;
        SetState(px.Count != 0 ? 6 : 5);
    }
    return rc;
}

void TOrloTWAINThread::ImageReady(void* pBmp, const TwnBitmapInfoHeader* info, void* hImage, const QString& path) {
    bool delivered = false;
    RaiseOnMain([&] {
        if (OnImageReady) {
            delivered = true;
            OnImageReady(this, pBmp, info, hImage, path);
        }
    });
    if (!delivered) {
        // Nobody takes the image: release it, and stop further transfers.
        // The source is told, or it would stay in its transfer state and
        // refuse to be disabled and closed.
        if (hImage) TwnFreeImage(hImage);
        if (FPending != 0 && DSOpen()) PendingXfers(MSG_RESET);
        FPending = 0;
    }
}

void TOrloTWAINThread::ReportRefusedTransfer(uint16_t DAT, uint16_t conditionCode) {
    FQueue.Post(TwnFailureMessage(DG_IMAGE, DAT, 0, MSG_GET, TWRC_FAILURE, conditionCode));
}

void TOrloTWAINThread::EndFailedTransfer(bool closeWhenIdle) {
    const uint16_t rc = PendingXfers(MSG_ENDXFER);
    // A refused end leaves the source in its transfer state: reset it, so
    // the session can still be disabled and closed.
    if (rc != TWRC_SUCCESS || FPending != 0) PendingXfers(MSG_RESET);
    if (FPending == 0 && (closeWhenIdle || FAfterXferMode.load() == 1)) CloseAll();
}

void TOrloTWAINThread::EndUndelivered(uint16_t rc) {
    if (rc == TWRC_CANCEL) {
        PendingXfers(MSG_ENDXFER);
        if (FPending == 0 && FAfterXferMode.load() == 1) CloseAll();
    } else {
        EndFailedTransfer(true);
    }
    ImageReadyNothing();
}

void TOrloTWAINThread::RunTransfer() {
    const Settings s = GetSettings();
    FTimeout.store(-1);
    FPending = 0;
    switch (s.XferMech) {
        case TWFX_FILES:
        case TWFX_FILES2: FileTransfer(s); break;
        case TWFX_MEMORY: MemoryTransfer(s); break;
        default: NativeTransfer(s); break;
    }
    FTimeout.store(FTerminating.load() ? 50 : TwnSharedTimeout);
    FinishTransfer();
}

void TOrloTWAINThread::FinishTransfer() {
    const uint16_t pendingBefore = FPending;
    int numImages = pendingBefore;
    bool skipNext = false;
    bool offered = false;
    RaiseOnMain([&] {
        if (NextHandler) {
            offered = true;
            NextHandler(this, numImages, skipNext);
        }
    });
    if (offered && DSOpen()) {
        if (skipNext) {
            PendingXfers(MSG_ENDXFER);
        } else if (numImages == 0 && pendingBefore != 0) {
            PendingXfers(MSG_RESET);
            if (FAfterXferMode.load() == 1) CloseAll();
        }
    }
    if (FPending == 0 && DSOpen() && FAfterXferMode.load() == 1) CloseAll();
    if (FPending != 0 && DSOpen() && !FTerminating.load()) {
        TwnMsg next;
        next.message = TWN_RUNXFER;
        FQueue.Post(std::move(next));
    }
}

void TOrloTWAINThread::NativeTransfer(const Settings& s) {
    TW_HANDLE handle = nullptr;
    const uint16_t rc = CallDSM(FAppIdentity, FSourceIdentity, DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &handle);
    if (rc == TWRC_XFERDONE) {
        PendingXfers(MSG_ENDXFER);
        if (FPending == 0 && FAfterXferMode.load() == 1) CloseAll();
        if (!TwnGlobal::header(handle)) {
            ImageReadyNothing();
        } else if (s.DIBHandleType == THDT_DIBRAW || s.DIBHandleType == THDT_MEMPTR) {
            ImageReady(nullptr, nullptr, handle, QString());
        } else if (TwnDibSection* dib = TwnDibFromPackedDib(handle)) {
            ImageReady(dib->Bits(), dib->Info(), dib, QString());
        } else {
            ReportRefusedTransfer(DAT_IMAGENATIVEXFER, TWCC_BADVALUE);
            ImageReadyNothing();
        }
        return;
    }
    if (TwnGlobal::header(handle)) TwnGlobal::free(handle);
    EndUndelivered(rc);
}

void TOrloTWAINThread::FileTransfer(const Settings& s) {
    uint16_t rc = TWRC_SUCCESS;
    // The source must be able to write the file: try it, then leave the
    // name free. A name longer than the field would send the source to
    // another file, so it fails instead of being cut.
    const QByteArray encoded = QFile::encodeName(s.FileName);
    {
        QFile probe(s.FileName);
        if (s.FileName.isEmpty() || !probe.open(QIODevice::WriteOnly)) rc = TWRC_FAILURE;
        probe.close();
        if (QFileInfo::exists(s.FileName)) QFile::remove(s.FileName);
    }
    if (encoded.size() > 255) rc = TWRC_FAILURE;
    if (rc != TWRC_SUCCESS) {
        // Refused before any call, and reported like a failed call: else the
        // application could not tell it from a cancel.
        RaiseOnMain([this] {
            if (OnFailure)
                OnFailure(this, int(DG_CONTROL), DAT_SETUPFILEXFER, 0, MSG_SET, TWRC_FAILURE, TWCC_FILEWRITEERROR);
        });
    }
    if (rc == TWRC_SUCCESS) {
        TW_SETUPFILEXFER fx{};
        std::memcpy(fx.FileName, encoded.constData(), size_t(encoded.size()));
        fx.Format = s.FileFormat;
        fx.VRefNum = -1;
        rc = CallDSM(FAppIdentity, FSourceIdentity, DG_CONTROL, DAT_SETUPFILEXFER, MSG_SET, &fx);
    }
    if (rc == TWRC_SUCCESS) {
        rc = CallDSM(FAppIdentity, FSourceIdentity, DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, nullptr);
        SetState(rc == TWRC_SUCCESS || rc == TWRC_XFERDONE ? 7 : 6);
    }
    if (rc == TWRC_XFERDONE) {
        void* handle = nullptr;
        TwnDibSection* dib = nullptr;
        if (s.ReturnHandle && s.FileFormat == TWFF_BMP) {
            if (s.DIBHandleType == THDT_DIBRAW) handle = TwnGlobalFromBmpFile(s.FileName);
            else handle = dib = TwnDibFromBmpFile(s.FileName);
            if (handle && QFileInfo::exists(s.FileName)) QFile::remove(s.FileName);
        }
        PendingXfers(MSG_ENDXFER);
        if (FPending == 0 && FAfterXferMode.load() == 1) CloseAll();
        if (dib && s.DIBHandleType == THDT_DIBSEC) ImageReady(dib->Bits(), dib->Info(), dib, QString());
        else if (handle) ImageReady(nullptr, nullptr, handle, QString());
        else ImageReady(nullptr, nullptr, nullptr, s.FileName);
        return;
    }
    if (rc == TWRC_CANCEL) {
        PendingXfers(MSG_ENDXFER);
        if (FPending != 0) PendingXfers(MSG_RESET);
        if (FPending == 0 && FAfterXferMode.load() == 1) CloseAll();
    } else {
        EndFailedTransfer(true);
    }
    ImageReadyNothing();
}

namespace {

// Pixels per metre from a resolution in the source's units.
int32_t PelsPerMeter(TW_FIX32 res, int units) {
    const double v = FixToFloat(res);
    switch (units) {
        case TWUN_INCHES: return QelRoundEven(v * 100 / 2.54);
        case TWUN_CENTIMETERS: return QelRoundEven(v * 100);
        case TWUN_PICAS: return QelRoundEven(v * 100 / 2.54 * 6);
        case TWUN_POINTS: return QelRoundEven(v * 100 / 2.54 * 72);
        case TWUN_TWIPS: return QelRoundEven(v * 100 / 2.54 * 1440);
        default: return TwnDefaultPelsPerMeter;
    }
}

// The grey ramp of N entries into a table of `capacity` entries.
void GreyRamp(uint8_t* table, uint32_t capacity, uint32_t n, bool vanilla) {
    if (n < 1 || n > 256 || n > capacity) return;
    const int step = n == 2 ? 256 : (n == 16 ? 17 : 1);
    for (uint32_t i = 0; i < n; ++i) {
        int v = step * int(i);
        if (step > 1 && v > 1) v -= 1;
        if (vanilla) v = 255 - v;
        table[4 * i] = table[4 * i + 1] = table[4 * i + 2] = uint8_t(v);
        table[4 * i + 3] = 0;
    }
}

constexpr uint64_t MaxStripBuffer = uint64_t(256) << 20;

}  // namespace

// A memory transfer's image as the source describes it, and the DIB header
// with its colour table built for it.
struct TOrloTWAINThread::TMemoryImage {
    TW_IMAGEINFO ii{};
    int64_t width = 0, height = 0;
    int bpp = 0;
    uint64_t stride = 0, imageSize = 0;
    TW_SETUPMEMXFER sm{};
    uint32_t colours = 0;
    std::vector<uint8_t> info;  // BITMAPINFOHEADER and colour table
    uint32_t preferred = 0;     // the strip buffer's length

    size_t InfoSize() const { return info.size(); }
    const TwnBitmapInfoHeader* Header() const { return reinterpret_cast<const TwnBitmapInfoHeader*>(info.data()); }
};

// The image information and the source's buffer sizes. An unknown length,
// an empty image or a depth we cannot lay out is refused before any memory
// is sized from it.
bool TOrloTWAINThread::MemoryImageInfo(TMemoryImage& m) {
    if (CallDSM(FAppIdentity, FSourceIdentity, DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &m.ii) != TWRC_SUCCESS) return false;
    m.width = m.ii.ImageWidth;
    m.height = m.ii.ImageLength;
    m.bpp = m.ii.BitsPerPixel;
    m.stride = TwnDibStride(m.width, m.bpp);
    m.imageSize = m.stride * uint64_t(m.height > 0 ? m.height : 0);
    const int bpp = m.bpp;
    const bool depthOk = bpp == 1 || bpp == 4 || bpp == 8 || bpp == 16 || bpp == 24 || bpp == 32;
    if (!depthOk || m.width <= 0 || m.height <= 0 || m.imageSize == 0 || m.imageSize > TwnMaxImageBytes) return false;
    if (CallDSM(FAppIdentity, FSourceIdentity, DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, &m.sm) != TWRC_SUCCESS)
        return false;
    m.colours = bpp <= 8 ? (1u << bpp) : 0;
    return true;
}

// The DIB header and its colour table by pixel type.
void TOrloTWAINThread::MemoryPalette(TMemoryImage& m) {
    m.info.assign(sizeof(TwnBitmapInfoHeader) + 4 * m.colours, 0);
    TwnBitmapInfoHeader bi{};
    bi.biSize = sizeof bi;
    bi.biWidth = int32_t(m.width);
    bi.biHeight = int32_t(m.height);
    bi.biPlanes = 1;
    bi.biBitCount = uint16_t(m.bpp);
    bi.biCompression = TwnBiRgb;
    bi.biSizeImage = uint32_t(m.imageSize);
    const int units = UnitsReader ? UnitsReader() : -1;
    bi.biXPelsPerMeter = PelsPerMeter(m.ii.XResolution, units);
    bi.biYPelsPerMeter = PelsPerMeter(m.ii.YResolution, units);
    const bool vanilla = (PixelFlavorReader ? PixelFlavorReader() : -1) == TWPF_VANILLA;
    uint8_t* table = m.info.data() + sizeof bi;
    switch (m.ii.PixelType) {
        case TWPT_BW:
            bi.biClrUsed = 2;
            bi.biClrImportant = 0;
            GreyRamp(table, m.colours, 2, vanilla);
            break;
        case TWPT_GRAY:
            bi.biClrUsed = m.colours;
            GreyRamp(table, m.colours, m.colours, vanilla);
            break;
        case TWPT_PALETTE: {
            TW_PALETTE8 pal{};
            if (CallDSM(FAppIdentity, FSourceIdentity, DG_IMAGE, DAT_PALETTE8, MSG_GET, &pal) == TWRC_SUCCESS) {
                const uint32_t n = std::min<uint32_t>(pal.NumColors, 256);
                bool sameIndex = true;
                for (uint32_t i = 1; i < n; ++i)
                    if (pal.Colors[i].Index != pal.Colors[0].Index) sameIndex = false;
                for (uint32_t i = 0; i < n; ++i) {
                    const uint32_t at = sameIndex ? i : pal.Colors[i].Index;
                    if (at >= m.colours) continue;
                    table[4 * at] = pal.Colors[i].Channel3;
                    table[4 * at + 1] = pal.Colors[i].Channel2;
                    table[4 * at + 2] = pal.Colors[i].Channel1;
                }
            } else {
                GreyRamp(table, m.colours, m.colours, vanilla);
            }
            break;
        }
        default: break;
    }
    std::memcpy(m.info.data(), &bi, sizeof bi);
}

// The strip buffer's length: the source's preference, as the handler
// changes it, within the source's bounds; false when none is usable.
bool TOrloTWAINThread::MemoryBufferSize(TMemoryImage& m) {
    int64_t bufSize = m.sm.Preferred;
    RaiseOnMain([&] {
        if (OnMemXferSize) {
            int b = int(std::min<int64_t>(bufSize, INT32_MAX));
            OnMemXferSize(this, int(m.sm.MinBufSize), int(m.sm.MaxBufSize), b, m.Header());
            bufSize = b;
        }
    });
    if (m.sm.MinBufSize != 0 && m.sm.MaxBufSize != 0) {
        if (bufSize < int64_t(m.sm.MinBufSize)) bufSize = m.sm.MinBufSize;
        if (m.sm.MaxBufSize != 0xffffffffu && bufSize > int64_t(m.sm.MaxBufSize)) bufSize = m.sm.MaxBufSize;
    }
    if (bufSize <= 0 || uint64_t(bufSize) > std::max<uint64_t>(MaxStripBuffer, m.imageSize)) return false;
    m.preferred = uint32_t(bufSize);
    return true;
}

// Strips into the buffers the handler of OnMemXferBuffer supplies.
uint16_t TOrloTWAINThread::MemoryStripsToCaller(const Settings& s, const TMemoryImage& m) {
    uint16_t rc = TWRC_SUCCESS;
    const TwnBitmapInfoHeader* infoHeader = m.Header();
    void* pData = nullptr;
    RaiseOnMain([&] {
        if (OnMemXferBuffer) OnMemXferBuffer(this, infoHeader, 0, 0, 0, pData);
    });
    while (rc == TWRC_SUCCESS) {
        if (!pData) {
            rc = TWRC_CANCEL;
            break;
        }
        TW_IMAGEMEMXFER mx{};
        mx.Memory.Flags = TWMF_APPOWNS | TWMF_POINTER;
        mx.Memory.Length = m.preferred;
        mx.Memory.TheMem = pData;
        rc = CallDSM(FAppIdentity, FSourceIdentity, DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &mx);
        if (rc != TWRC_SUCCESS && rc != TWRC_XFERDONE) break;
        const uint64_t written = mx.BytesWritten;
        if (written > m.preferred || (rc == TWRC_SUCCESS && written == 0) ||
            uint64_t(mx.Rows) * mx.BytesPerRow > m.preferred) {
            rc = TWRC_FAILURE;
            break;
        }
        if (written > 0) {
            if (s.SwapMemRGB && m.ii.PixelType == TWPT_RGB) {
                auto* p = static_cast<uint8_t*>(pData);
                for (uint32_t r = 0; r < mx.Rows; ++r) {
                    uint8_t* row = p + uint64_t(r) * mx.BytesPerRow;
                    for (uint32_t x = 0; x + 3 <= mx.BytesPerRow; x += 3) std::swap(row[x], row[x + 2]);
                }
            }
            RaiseOnMain([&] {
                if (OnMemXferBuffer)
                    OnMemXferBuffer(this, infoHeader, int(mx.BytesPerRow), int(mx.Rows), int(written), pData);
            });
        }
    }
    void* none = nullptr;
    RaiseOnMain([&] {
        if (OnMemXferBuffer) OnMemXferBuffer(this, infoHeader, 0, 0, 0, none);
    });
    return rc;
}

// The strip loop into image memory of imageSize bytes at bits, which has
// room for one more whole strip behind it, so the source may fill the
// buffer length it was promised even on the last strip; what it reports is
// checked against the image.
uint16_t TOrloTWAINThread::MemoryStripsToImage(const TMemoryImage& m, uint8_t* bits) {
    const uint64_t stride = m.stride, imageSize = m.imageSize;
    const uint32_t preferred = m.preferred;
    uint16_t rc = TWRC_SUCCESS;
    uint64_t offset = 0;
    do {
        if (offset >= imageSize) {
            rc = TWRC_FAILURE;  // the image is full, yet the source goes on
            break;
        }
        TW_IMAGEMEMXFER mx{};
        mx.Memory.Flags = TWMF_APPOWNS | TWMF_POINTER;
        mx.Memory.Length = preferred;
        mx.Memory.TheMem = bits + offset;
        rc = CallDSM(FAppIdentity, FSourceIdentity, DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &mx);
        if (rc != TWRC_SUCCESS && rc != TWRC_XFERDONE) break;
        const uint64_t written = mx.BytesWritten, rows = mx.Rows, bpr = mx.BytesPerRow;
        const uint64_t left = imageSize - offset;
        uint64_t advance;
        if (written > preferred) {
            rc = TWRC_FAILURE;
            break;
        }
        if (bpr == stride) {
            if (written > left) {
                rc = TWRC_FAILURE;
                break;
            }
            advance = written;
        } else {
            if (bpr == 0 || rows > left / stride || rows * bpr > preferred) {
                rc = TWRC_FAILURE;
                break;
            }
            // Rows move to the DIB's spacing; the order keeps every row
            // that is still to move intact.
            uint8_t* strip = bits + offset;
            const size_t n = size_t(std::min(bpr, stride));
            if (bpr > stride) {
                for (uint64_t r = 1; r < rows; ++r) std::memmove(strip + r * stride, strip + r * bpr, n);
            } else {
                for (uint64_t r = rows; r-- > 1;) {
                    std::memmove(strip + r * stride, strip + r * bpr, n);
                    std::memset(strip + r * stride + n, 0, size_t(stride - n));
                }
                if (rows > 0) std::memset(strip + n, 0, size_t(stride - n));
            }
            advance = stride * rows;
        }
        if (rc == TWRC_SUCCESS && advance == 0) {
            rc = TWRC_FAILURE;  // no progress: the source would keep us here forever
            break;
        }
        offset += advance;
    } while (rc == TWRC_SUCCESS);
    return rc;
}

// A whole image in memory: bottom-up, B, G, R when asked, without the slack.
void TOrloTWAINThread::FinishMemoryImage(const Settings& s, const TMemoryImage& m, uint8_t* bits) {
    const uint64_t stride = m.stride;
    const int64_t width = m.width, height = m.height;
    if (s.SwapMemRGB) {
        std::vector<uint8_t> tmp(stride);
        for (int64_t y = 0; y < height / 2; ++y) {
            uint8_t* a = bits + uint64_t(y) * stride;
            uint8_t* b = bits + uint64_t(height - 1 - y) * stride;
            std::memcpy(tmp.data(), a, stride);
            std::memcpy(a, b, stride);
            std::memcpy(b, tmp.data(), stride);
        }
        if (m.ii.PixelType == TWPT_RGB && m.bpp == 24) {
            for (int64_t y = 0; y < height; ++y) {
                uint8_t* row = bits + uint64_t(y) * stride;
                for (int64_t x = 0; x < width; ++x) std::swap(row[3 * x], row[3 * x + 2]);
            }
        }
    }
    std::memset(bits + m.imageSize, 0, m.preferred);
}

void TOrloTWAINThread::MemoryTransfer(const Settings& s) {
    TMemoryImage m;
    if (!MemoryImageInfo(m)) {
        EndFailedTransfer(true);
        ImageReadyNothing();
        return;
    }
    MemoryPalette(m);
    if (!MemoryBufferSize(m)) {
        EndFailedTransfer(true);
        ImageReadyNothing();
        return;
    }

    if (s.DIBHandleType == THDT_MEMPTR) {
        const uint16_t rc = MemoryStripsToCaller(s, m);
        if (rc == TWRC_XFERDONE) {  // memory handed out strip by strip
            PendingXfers(MSG_ENDXFER);
            if (FPending == 0 && FAfterXferMode.load() == 1) CloseAll();
            return;
        }
        EndUndelivered(rc);
        return;
    }

    // Image memory by handle type: a block with the header in front, or a
    // DIB section.
    std::unique_ptr<TwnDibSection> dib;
    TW_HANDLE block = nullptr;
    uint8_t* bits = nullptr;
    if (s.DIBHandleType == THDT_DIBRAW) {
        block = TwnGlobal::alloc(m.InfoSize() + m.imageSize + m.preferred);
        if (block) bits = static_cast<uint8_t*>(TwnGlobal::lock(block)) + m.InfoSize();
    } else {
        dib = std::make_unique<TwnDibSection>();
        dib->info = m.info;
        try {
            dib->bits.assign(size_t(m.imageSize + m.preferred), 0);
            bits = dib->bits.data();
        } catch (const std::bad_alloc&) {
            bits = nullptr;
        }
    }
    if (!bits) {
        if (block) TwnGlobal::free(block);
        EndFailedTransfer(true);
        ImageReadyNothing();
        return;
    }
    const uint16_t rc = MemoryStripsToImage(m, bits);
    if (rc != TWRC_XFERDONE) {
        if (block) {
            TwnGlobal::unlock(block);
            TwnGlobal::free(block);
        }
        EndUndelivered(rc);
        return;
    }
    PendingXfers(MSG_ENDXFER);
    if (FPending == 0 && FAfterXferMode.load() == 1) CloseAll();
    FinishMemoryImage(s, m, bits);
    if (block) {
        std::memcpy(bits - m.InfoSize(), m.info.data(), m.InfoSize());
        TwnGlobal::unlock(block);
        ImageReady(nullptr, nullptr, block, QString());
    } else {
        dib->bits.resize(size_t(m.imageSize));
        TwnDibSection* d = dib.release();
        if (s.DIBHandleType == THDT_DIBSEC) ImageReady(d->Bits(), d->Info(), d, QString());
        else ImageReady(nullptr, nullptr, d, QString());
    }
}
