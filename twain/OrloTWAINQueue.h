// The thread that owns the data source manager: it loads the library from
// the configured folder, binds DSM_Entry, makes every call (but the source
// selection, which runs on the UI thread) and offers the source the window
// messages posted through its parent handle. It reports state changes,
// failures and the source's requests to the worker thread.
#pragma once

#include <QLibrary>
#include <QString>
#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

#include "TwnDefs.h"
#include "TwnThreading.h"

// Thread messages between the worker and the queue thread.
enum : uint32_t {
    TWN_OPENDSM = TWN_WM_USER + 100,
    TWN_CLOSEDSM = TWN_WM_USER + 101,
    TWN_OPENDS = TWN_WM_USER + 102,
    TWN_CLOSEDS = TWN_WM_USER + 103,
    TWN_ENABLEDS = TWN_WM_USER + 104,
    TWN_DISABLEDS = TWN_WM_USER + 105,
    TWN_CALLDSM = TWN_WM_USER + 107,
    TWN_RUNXFER = TWN_WM_USER + 110,
    TWN_FOREGROUND = TWN_WM_USER + 111,
    TWN_WAKE = TWN_WM_USER + 112,
    TWN_DROPHANDLERS = TWN_WM_USER + 113,
    TWN_CLOSEREQ = TWN_WM_USER + 140,
    TWN_DSCLOSED = TWN_WM_USER + 141,
    TWN_DEVICEEVENT = TWN_WM_USER + 142,
    TWN_FAILURE = TWN_WM_USER + 143,
    TWN_STATE = TWN_WM_USER + 144,
    TWN_XFERREADY = TWN_WM_USER + 145,
    TWN_DSMCRASHED = TWN_WM_USER + 146,
};

// The report of a failed call, or of a transfer refused before any call.
inline TwnMsg TwnFailureMessage(uint32_t DG, uint16_t DAT, uint16_t Cap, uint16_t MSG, uint16_t RC, uint16_t CC) {
    TwnMsg m;
    m.message = TWN_FAILURE;
    m.failDG = DG;
    m.failDAT = DAT;
    m.failCap = Cap;
    m.failMSG = MSG;
    m.failRC = RC;
    m.failCC = CC;
    return m;
}

// The log settings: only a file name, whose file is deleted whenever it is
// set. Nothing is ever written.
class TOrloTWAINLog {
public:
    static QString DefaultLogFilename();
    TOrloTWAINLog();
    void SetLogFilename(const QString& name);
    QString LogFilename() const { return FLogFilename; }

private:
    QString FLogFilename;
};

class TOrloTWAINQueue {
public:
    // The library's file name, found in DsmFolder().
    static constexpr const char* DsmFileName = "libvisara_twaindsm.so";
    // The program folder; VISARA_TWAIN_DSM_DIR replaces it.
    static QString DsmFolder();

    TOrloTWAINQueue(TwnMessageQueue* worker, TW_IDENTITY* appIdentity, TW_IDENTITY* sourceIdentity);
    ~TOrloTWAINQueue();
    TOrloTWAINQueue(const TOrloTWAINQueue&) = delete;
    TOrloTWAINQueue& operator=(const TOrloTWAINQueue&) = delete;

    // Starts the thread and waits up to waitMs for it to run.
    bool Start(const QString& logFilename, int32_t waitMs);
    // Ends the thread; every request still queued is answered with 1.
    void Stop();

    // Queues a command or a request; a request posted to a thread that is
    // not running is answered with 1 at once.
    void Post(uint32_t message, uintptr_t wParam, const std::shared_ptr<TwnRequest>& request);

    // The guarded call and the session commands (1 when the precondition
    // fails). They run on the queue thread, or on the UI thread for the
    // source selection.
    uint16_t DSMEntry(TW_IDENTITY* origin, TW_IDENTITY* dest, uint32_t DG, uint16_t DAT, uint16_t MSG, void* data);
    uint16_t OpenDSM(TwnWindow* parent);
    uint16_t CloseDSM();
    uint16_t OpenDS();
    uint16_t CloseDS();
    uint16_t EnableDS(bool& showUI, bool& modalUI);
    uint16_t DisableDS();
    bool ProcessEvent(TwnWindowMsg& msg);

    bool DSMOpen() const { return FDSMOpen.load(); }
    bool DSOpen() const { return FDSOpen.load(); }
    bool DSEnabled() const { return FDSEnabled.load(); }
    int SourceProtocol() const { return FSourceProtocol.load(); }
    uint16_t LastReturnCode() const { return FLastRC.load(); }
    uint16_t LastConditionCode() const { return FLastCC.load(); }
    QString LogFilename() const { return FLog.LogFilename(); }
    TwnWindow* Window() { return &FWindow; }

private:
    static int PostWindowMessage(TwnWindow* self, uint32_t msg, uintptr_t wParam, intptr_t lParam);
    void Execute();
    void Handle(TwnMsg& m);
    void Notify(uint32_t message, intptr_t lParam = 0);
    bool LoadLibrary();
    void FreeLibrary();

    TwnMessageQueue* FWorker;
    TW_IDENTITY* FAppIdentity;
    TW_IDENTITY* FSourceIdentity;
    TwnMessageQueue FQueue;
    TwnWindow FWindow;
    TOrloTWAINLog FLog;
    QLibrary FLibrary;
    std::atomic<DSMENTRYPROC> FEntry{nullptr};
    std::atomic<bool> FDSMOpen{false}, FDSOpen{false}, FDSEnabled{false};
    std::atomic<int> FSourceProtocol{0};
    std::atomic<uint16_t> FLastRC{0}, FLastCC{0};
    std::mutex FPostMutex;
    bool FRunning = false;
    TwnEvent FStarted;
    std::thread FThread;
};
