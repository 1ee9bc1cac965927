// The component's worker thread. It starts and stops the queue thread,
// carries every data source manager call to it and waits for the answer
// (on whichever thread calls), records the TWAIN state from the queue
// thread's reports, runs the image transfers and hands every event to the
// UI thread.
#pragma once

#include <QString>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "OrloTWAINDib.h"
#include "OrloTWAINQueue.h"
#include "QelRunOnMain.h"
#include "TwnDefs.h"
#include "TwnThreading.h"

enum TTwnXferType : uint8_t { TWFX_NATIVE = 0, TWFX_FILES = 1, TWFX_MEMORY = 2, TWFX_FILES2 = 3 };
enum TTwnHdlType : uint8_t { THDT_DIBHANDLE = 0, THDT_DIBSEC = 1, THDT_DIBRAW = 2, THDT_MEMPTR = 3 };
enum TTwnErrorLevel : uint8_t { ML_NONE = 0, ML_ERROR = 1, ML_INFO = 2, ML_FULL = 3 };
// A file format number (TWFF_...); 232 is "no format".
using TTwnFileFmt = uint16_t;
constexpr TTwnFileFmt TwnNoFileFormat = 232;

// Handler types; Sender is the object that raises the event.
using TTwnNotifyEvent = std::function<void(void* Sender)>;
using TTwnFailureEvent =
    std::function<void(void* Sender, int DG, uint16_t DAT, uint16_t CAP, uint16_t MSG, int Error, int Status)>;
using TTwnImageEvent = std::function<void(void* Sender, void* pBmp, const TwnBitmapInfoHeader* pBmpInfo,
                                          void* hImage, const QString& FilePath)>;
using TTwnMemXferBufEvent = std::function<void(void* Sender, const TwnBitmapInfoHeader* pBmpInfo, int BytesPerRow,
                                               int Rows, int DataSize, void*& pData)>;
using TTwnMemXferSizeEvent =
    std::function<void(void* Sender, int MinSize, int MaxSize, int& BufSize, const TwnBitmapInfoHeader* pBmpInfo)>;
using TTwnXferNextEvent = std::function<void(void* Sender, int& NumImages, bool& SkipNext)>;
using TTwnReader = std::function<int()>;

constexpr int32_t TwnSharedTimeout = 60000;
// How long closing the component waits for its worker to end.
constexpr int32_t TwnShutdownLimit = 20000;

// Bytes of a call's data by its data argument type; 0 for types whose data
// is not copied (none, or unknown).
size_t TwnDataSize(uint16_t DAT);
constexpr int32_t TwnRetryCount = 1000;

class TOrloTWAINThread {
public:
    explicit TOrloTWAINThread(TQelMainCaller* main);
    ~TOrloTWAINThread();
    TOrloTWAINThread(const TOrloTWAINThread&) = delete;
    TOrloTWAINThread& operator=(const TOrloTWAINThread&) = delete;

    void Start();
    // Stops the worker (closing whatever is open) and waits up to limit for
    // it, answering its hand-overs meanwhile. False when it has not ended:
    // it then runs on, detached, and this object must never be freed.
    bool Shutdown(std::chrono::milliseconds limit = std::chrono::milliseconds(TwnShutdownLimit));

    void SetIdentities(TW_IDENTITY* app, TW_IDENTITY* source);

    // Session commands (1 when there is no queue thread or the precondition
    // fails) and single calls; each holds the call lock while it runs.
    uint16_t OpenSourceManager();
    uint16_t CloseSourceManager();
    uint16_t OpenSource();
    uint16_t CloseSource();
    uint16_t EnableSource(bool& showUI, bool& modalUI);
    // The application's window (its native id) a source's own window stays
    // with; handed to the source as it is enabled.
    void SetParentWindow(uint64_t id) { FParentWindow.store(id); }
    uint16_t DisableSource();
    uint16_t CallDSM(TW_IDENTITY* origin, TW_IDENTITY* dest, uint32_t DG, uint16_t DAT, uint16_t MSG, void* data);
    uint16_t UserSelect(TwnWindow* parent);
    void CloseAll();

    bool DSMOpen() const;
    bool DSOpen() const;
    bool DSEnabled() const;
    int SourceProtocol() const;
    int State() const { return FState.load(); }
    std::recursive_mutex& CallLock() { return FCallLock; }

    void SetTimeout(int32_t ms) { FTimeout.store(ms); }
    int32_t Timeout() const { return FTimeout.load(); }
    void SetAfterXferMode(int mode) { FAfterXferMode.store(mode); }
    int AfterXferMode() const { return FAfterXferMode.load(); }

    // Transfer settings (UI thread writes, the worker reads a snapshot).
    struct Settings {
        TTwnXferType XferMech = TWFX_NATIVE;
        TTwnHdlType DIBHandleType = THDT_DIBHANDLE;
        QString FileName;
        TTwnFileFmt FileFormat = TWFF_BMP;
        bool ReturnHandle = true;
        bool SwapMemRGB = true;
    };
    Settings GetSettings() const;
    void SetSettings(const Settings& s);

    // Log settings: stored only.
    QString LogFilename;
    TTwnErrorLevel MessageLevel = ML_NONE;
    bool LogToFile = false;

    // Handlers, read and called on the UI thread only.
    TTwnNotifyEvent CloseRequestHandler;
    TTwnNotifyEvent DeviceEventHandler;
    TTwnNotifyEvent OnEnableMenus;
    TTwnFailureEvent OnFailure;
    TTwnImageEvent OnImageReady;
    TTwnMemXferBufEvent OnMemXferBuffer;
    TTwnMemXferSizeEvent OnMemXferSize;
    TTwnXferNextEvent NextHandler;
    TTwnNotifyEvent ReadyHandler;
    // Readers of the current ICAP_UNITS and ICAP_PIXELFLAVOR (-1: unreadable);
    // called on the worker.
    TTwnReader UnitsReader;
    TTwnReader PixelFlavorReader;
    void DropHandlers();

    // Called on the worker with each recorded state (for diagnostics).
    std::function<void(int)> StateProbe;

private:
    uint16_t PostCommand(uint32_t message, int32_t timeout, uintptr_t wParam = 0, TwnRequest* out = nullptr);
    uint16_t Await(const std::shared_ptr<TwnRequest>& req, int32_t timeout);
    bool StartQueue(bool& started);
    void StopQueue();
    void Execute();
    void HandleMessage(const TwnMsg& m);
    void SetState(int state);
    void RaiseOnMain(const std::function<void()>& fn);

    // Transfers (on the worker).
    void RunTransfer();
    void NativeTransfer(const Settings& s);
    void FileTransfer(const Settings& s);
    void MemoryTransfer(const Settings& s);
    // The steps of a memory transfer.
    struct TMemoryImage;
    bool MemoryImageInfo(TMemoryImage& m);
    void MemoryPalette(TMemoryImage& m);
    bool MemoryBufferSize(TMemoryImage& m);
    uint16_t MemoryStripsToCaller(const Settings& s, const TMemoryImage& m);
    uint16_t MemoryStripsToImage(const TMemoryImage& m, uint8_t* bits);
    void FinishMemoryImage(const Settings& s, const TMemoryImage& m, uint8_t* bits);
    uint16_t PendingXfers(uint16_t msg);
    void FinishTransfer();
    void ImageReady(void* pBmp, const TwnBitmapInfoHeader* info, void* hImage, const QString& path);
    void ImageReadyNothing() { ImageReady(nullptr, nullptr, nullptr, QString()); }
    // Reports a transfer the component itself refused through OnFailure,
    // as a failed call of the source would be.
    void ReportRefusedTransfer(uint16_t DAT, uint16_t conditionCode);
    // Ends a failed or cancelled transfer: ENDXFER, RESET while images are
    // still pending, and the close its mode asks for.
    void EndFailedTransfer(bool closeWhenIdle);
    // A native or memory transfer that delivered nothing: cancelled or failed.
    void EndUndelivered(uint16_t rc);

    TQelMainCaller* FMain;
    std::recursive_mutex FCallLock;
    std::unique_ptr<TOrloTWAINQueue> FQueueThread;
    TwnMessageQueue FQueue;
    std::atomic<int32_t> FTimeout{TwnSharedTimeout};
    std::atomic<int32_t> FRetryCount{TwnRetryCount};
    TW_IDENTITY* FAppIdentity = nullptr;
    TW_IDENTITY* FSourceIdentity = nullptr;
    std::atomic<int> FAfterXferMode{0};
    std::atomic<int> FState{1};
    std::atomic<uint64_t> FSeq{0};
    uint16_t FPending = 0;
    mutable std::mutex FSettingsMutex;
    Settings FSettings;
    std::atomic<uint64_t> FParentWindow{0};
    std::atomic<bool> FTerminating{false};
    std::atomic<bool> FFinished{false};
    std::thread FThread;
};
