#include "OrloTWAINQueue.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

// --- Log settings --------------------------------------------------------------

QString TOrloTWAINLog::DefaultLogFilename() { return QDir::temp().filePath(QStringLiteral("APPTWN.LOG")); }

TOrloTWAINLog::TOrloTWAINLog() : FLogFilename() { SetLogFilename(DefaultLogFilename()); }

void TOrloTWAINLog::SetLogFilename(const QString& name) {
    if (name != FLogFilename) FLogFilename = name;
    if (!FLogFilename.isEmpty() && QFileInfo::exists(FLogFilename)) QFile::remove(FLogFilename);
}

// --- Queue thread ----------------------------------------------------------------

QString TOrloTWAINQueue::DsmFolder() {
    const QByteArray dir = qgetenv("VISARA_TWAIN_DSM_DIR");
    if (!dir.isEmpty()) return QString::fromLocal8Bit(dir);
    return QCoreApplication::applicationDirPath();
}

TOrloTWAINQueue::TOrloTWAINQueue(TwnMessageQueue* worker, TW_IDENTITY* appIdentity, TW_IDENTITY* sourceIdentity)
    : FWorker(worker),
      FAppIdentity(appIdentity),
      FSourceIdentity(sourceIdentity),
      FQueue(),
      FWindow{TwnWindowMagic, &TOrloTWAINQueue::PostWindowMessage, this, nullptr, 0},
      FLog(),
      FLibrary(),
      FPostMutex(),
      FStarted(),
      FThread() {}

TOrloTWAINQueue::~TOrloTWAINQueue() {
    Stop();
    FreeLibrary();
}

bool TOrloTWAINQueue::Start(const QString& logFilename, int32_t waitMs) {
    if (FThread.joinable()) return true;
    FLog.SetLogFilename(logFilename);
    {
        std::lock_guard<std::mutex> lock(FPostMutex);
        FRunning = true;
    }
    FStarted.Reset();
    FThread = std::thread([this] { Execute(); });
    Post(TWN_WAKE, 0, nullptr);
    return FStarted.Wait(waitMs);
}

void TOrloTWAINQueue::Stop() {
    {
        std::lock_guard<std::mutex> lock(FPostMutex);
        if (!FRunning) return;
        FRunning = false;
    }
    FQueue.PostQuit();
    if (FThread.joinable()) FThread.join();
    // Nobody is left to run what is still queued: answer every waiting poster.
    for (TwnMsg& m : FQueue.TakeAll()) {
        if (!m.request) continue;
        if (m.request->Start()) m.request->Finish(TWRC_FAILURE);
        else m.request->Skip();
    }
}

void TOrloTWAINQueue::Post(uint32_t message, uintptr_t wParam, const std::shared_ptr<TwnRequest>& request) {
    std::lock_guard<std::mutex> lock(FPostMutex);
    if (!FRunning) {
        if (request && request->Start()) request->Finish(TWRC_FAILURE);
        return;
    }
    TwnMsg m;
    m.message = message;
    m.wParam = wParam;
    m.request = request;
    FQueue.Post(std::move(m));
}

int TOrloTWAINQueue::PostWindowMessage(TwnWindow* self, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
    if (!self || self->magic != TwnWindowMagic || !self->ctx) return -1;
    auto* queue = static_cast<TOrloTWAINQueue*>(self->ctx);
    TwnMsg m;
    m.message = msg;
    m.wParam = wParam;
    m.lParam = lParam;
    m.window = true;
    queue->FQueue.Post(std::move(m));
    return 0;
}

void TOrloTWAINQueue::Notify(uint32_t message, intptr_t lParam) {
    TwnMsg m;
    m.message = message;
    m.lParam = lParam;
    FWorker->Post(std::move(m));
}

void TOrloTWAINQueue::Execute() {
    FStarted.Set();
    bool terminated = false;
    while (!terminated) {
        TwnMsg m = FQueue.Get();
        if (!m.window && m.message == TWN_WM_QUIT) {
            terminated = true;
            break;
        }
        try {
            Handle(m);
        } catch (...) {
            // The loop goes on whatever one message did.
            if (m.request) m.request->Finish(TWRC_FAILURE);
        }
    }
}

void TOrloTWAINQueue::Handle(TwnMsg& m) {
    if (m.window) {
        // Offered to the source only while one is open; dropped otherwise,
        // as there is no window procedure to run them.
        if (FDSOpen.load()) {
            TwnWindowMsg wm{&FWindow, m.message, m.wParam, m.lParam};
            ProcessEvent(wm);
        }
        return;
    }
    const std::shared_ptr<TwnRequest>& req = m.request;
    if (req && !req->Start()) {  // abandoned by a poster that timed out
        req->Skip();
        return;
    }
    uint16_t result = TWRC_SUCCESS;
    switch (m.message) {
        case TWN_OPENDSM:
            FAppIdentity->Id = 0;
            result = OpenDSM(&FWindow);
            break;
        case TWN_CLOSEDSM: result = CloseDSM(); break;
        case TWN_OPENDS: result = OpenDS(); break;
        case TWN_CLOSEDS: result = CloseDS(); break;
        case TWN_ENABLEDS: {
            bool showUI = m.wParam != 0, modalUI = false;
            FWindow.nativeWindow = req ? req->ParentWindow : 0;
            result = EnableDS(showUI, modalUI);
            if (req) {
                req->ShowUI = showUI;
                req->ModalUI = modalUI;
            }
            break;
        }
        case TWN_DISABLEDS: result = DisableDS(); break;
        case TWN_CALLDSM:
            if (req) {
                const TwnCallRecord c = req->Call;
                result = DSMEntry(c.origin, c.dest, c.dg, c.dat, c.msg, c.data);
            }
            break;
        default: break;  // foreground and wake-up: nothing to do without windows
    }
    if (req) req->Finish(result);
}

bool TOrloTWAINQueue::LoadLibrary() {
    if (FEntry.load()) return true;
    const QString path = QDir(DsmFolder()).filePath(QLatin1String(DsmFileName));
    if (!QFileInfo::exists(path)) return false;
    FLibrary.setFileName(path);
    // Never unmapped: a source's own threads may still run its code after
    // the manager was "freed".
    FLibrary.setLoadHints(QLibrary::PreventUnloadHint | QLibrary::ResolveAllSymbolsHint);
    if (!FLibrary.load()) return false;
    auto entry = reinterpret_cast<DSMENTRYPROC>(FLibrary.resolve(TwnDsmEntryName));
    if (!entry) {
        FLibrary.unload();
        return false;
    }
    FEntry.store(entry);
    return true;
}

void TOrloTWAINQueue::FreeLibrary() {
    FEntry.store(nullptr);
    if (FLibrary.isLoaded()) FLibrary.unload();
}

uint16_t TOrloTWAINQueue::DSMEntry(TW_IDENTITY* origin, TW_IDENTITY* dest, uint32_t DG, uint16_t DAT, uint16_t MSG,
                                   void* data) {
    FLastRC.store(TWRC_FAILURE);
    uint16_t rc = TWRC_FAILURE;
    DSMENTRYPROC entry = FEntry.load();
    if (entry) {
        try {
            rc = entry(origin, dest, DG, DAT, MSG, data);
        } catch (...) {
            rc = TWRC_DSMEXCEPTION;
        }
    }
    uint16_t cc = TWCC_BUMMER;
    if (rc == TWRC_SUCCESS || (rc >= TWRC_CANCEL && rc <= TWRC_ENDOFLIST)) {
        cc = TWCC_SUCCESS;
    } else if (rc == TWRC_DSMEXCEPTION) {
        if (DAT != DAT_STATUS) {
            FDSMOpen.store(false);
            FDSOpen.store(false);
            FDSEnabled.store(false);
            if (FEntry.load()) {
                FreeLibrary();
                FSourceIdentity->Id = 0;
            }
            Notify(TWN_DSMCRASHED);
        }
    } else if (entry) {
        // A raw status query: it must neither recurse through this guarded
        // call nor overwrite the codes of the call it explains.
        TW_STATUS status{};
        uint16_t src = TWRC_FAILURE;
        try {
            src = entry(origin, dest, DG_CONTROL, DAT_STATUS, MSG_GET, &status);
        } catch (...) {
            src = TWRC_FAILURE;
        }
        if (src == TWRC_SUCCESS) cc = status.ConditionCode;
    }
    FLastRC.store(rc);
    FLastCC.store(cc);
    if (cc != TWCC_SUCCESS && DAT != DAT_STATUS) {
        uint16_t cap = 0;
        if (DAT == DAT_CAPABILITY && data) std::memcpy(&cap, data, sizeof cap);
        FWorker->Post(TwnFailureMessage(DG, DAT, cap, MSG, rc, cc));
    }
    return rc;
}

uint16_t TOrloTWAINQueue::OpenDSM(TwnWindow* parent) {
    if (FDSMOpen.load()) return TWRC_FAILURE;
    if (!LoadLibrary()) return TWRC_FAILURE;
    Notify(TWN_STATE, 2);
    TwnWindow* parentHandle = parent;
    uint16_t rc = DSMEntry(FAppIdentity, nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &parentHandle);
    if (rc == TWRC_SUCCESS) {
        FDSMOpen.store(true);
        Notify(TWN_STATE, 3);
    }
    return rc;
}

uint16_t TOrloTWAINQueue::CloseDSM() {
    if (!FDSMOpen.load() || FDSOpen.load()) return TWRC_FAILURE;
    TwnWindow* parentHandle = &FWindow;
    uint16_t rc = DSMEntry(FAppIdentity, nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &parentHandle);
    if (rc == TWRC_SUCCESS) {
        FDSMOpen.store(false);
        Notify(TWN_STATE, 2);
        if (FEntry.load()) {
            FreeLibrary();
            FSourceIdentity->Id = 0;
            Notify(TWN_STATE, 1);
        }
    }
    return rc;
}

uint16_t TOrloTWAINQueue::OpenDS() {
    if (!FDSMOpen.load() || FDSOpen.load()) return TWRC_FAILURE;
    FSourceIdentity->Id = 0;
    uint16_t rc = DSMEntry(FAppIdentity, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, FSourceIdentity);
    if (rc == TWRC_SUCCESS) {
        FDSOpen.store(true);
        Notify(TWN_STATE, 4);
        FSourceProtocol.store(FSourceIdentity->ProtocolMajor * 10 + FSourceIdentity->ProtocolMinor);
    }
    return rc;
}

uint16_t TOrloTWAINQueue::CloseDS() {
    if (!FDSOpen.load() || FDSEnabled.load()) return TWRC_FAILURE;
    uint16_t rc = DSMEntry(FAppIdentity, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, FSourceIdentity);
    if (rc == TWRC_SUCCESS) {
        FDSOpen.store(false);
        FSourceIdentity->Id = 0;
        FSourceIdentity->ProductName[0] = 0;
        Notify(TWN_STATE, 3);
        Notify(TWN_DSCLOSED);
    }
    return rc;
}

uint16_t TOrloTWAINQueue::EnableDS(bool& showUI, bool& modalUI) {
    if (!FDSOpen.load() || FDSEnabled.load()) return TWRC_FAILURE;
    TW_USERINTERFACE ui{};
    ui.ShowUI = showUI ? 1 : 0;
    ui.ModalUI = 0;
    ui.hParent = &FWindow;
    uint16_t rc = DSMEntry(FAppIdentity, FSourceIdentity, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui);
    if (rc == TWRC_SUCCESS || rc == TWRC_CHECKSTATUS) {
        Notify(TWN_STATE, 5);
        FDSEnabled.store(true);
        showUI = ui.ShowUI != 0;
        modalUI = ui.ModalUI != 0;
    }
    return rc;
}

uint16_t TOrloTWAINQueue::DisableDS() {
    if (!FDSEnabled.load()) return TWRC_FAILURE;
    TW_USERINTERFACE ui{};
    ui.hParent = &FWindow;
    uint16_t rc = DSMEntry(FAppIdentity, FSourceIdentity, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui);
    if (rc == TWRC_SUCCESS) {
        FDSEnabled.store(false);
        Notify(TWN_STATE, 4);
    }
    return rc;
}

bool TOrloTWAINQueue::ProcessEvent(TwnWindowMsg& msg) {
    if (!FDSMOpen.load() || !FDSOpen.load()) return false;
    TW_EVENT ev{};
    ev.pEvent = &msg;
    ev.TWMessage = MSG_NULL;  // read whatever the source answers
    uint16_t rc = DSMEntry(FAppIdentity, FSourceIdentity, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &ev);
    if (rc != TWRC_DSMEXCEPTION) {
        switch (ev.TWMessage) {
            case MSG_XFERREADY: Notify(TWN_XFERREADY); break;
            case MSG_CLOSEDSREQ:
            case MSG_CLOSEDSOK: Notify(TWN_CLOSEREQ); break;
            case MSG_DEVICEEVENT: Notify(TWN_DEVICEEVENT); break;
            default: break;
        }
    }
    return rc == TWRC_DSEVENT;
}
