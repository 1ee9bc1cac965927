// The acquisition component's base: the application and source identities,
// the worker thread and the hand-over of its events to the UI thread.
#pragma once

#include <QObject>
#include <memory>

#include "OrloTWAINThread.h"
#include "QelRunOnMain.h"
#include "TwnDefs.h"

class TOrloTWAINKernel : public QObject {
    // What the worker and its queue thread use of the component: kept apart,
    // so that a worker that does not end in time can keep it.
    struct TShared {
        TW_IDENTITY App{};
        TW_IDENTITY Source{};
        TQelMainCaller Main;
    };
    std::unique_ptr<TShared> FShared;

public:
    explicit TOrloTWAINKernel(QObject* owner);
    ~TOrloTWAINKernel() override;

    TW_IDENTITY& AppIdentity;
    TW_IDENTITY& SourceIdentity;

    TOrloTWAINThread* Thread() { return FThread.get(); }
    int TwainState() const { return FThread ? FThread->State() : 1; }
    bool DSMOpen() const { return FThread && FThread->DSMOpen(); }
    bool DSOpen() const { return FThread && FThread->DSOpen(); }
    bool DSEnabled() const { return FThread && FThread->DSEnabled(); }

    // Events the worker keeps.
    void SetOnEnableMenus(TTwnNotifyEvent h) { FThread->OnEnableMenus = std::move(h); }
    void SetOnFailure(TTwnFailureEvent h) { FThread->OnFailure = std::move(h); }
    void SetOnImageReady(TTwnImageEvent h) { FThread->OnImageReady = std::move(h); }
    void SetOnMemXferBuffer(TTwnMemXferBufEvent h) { FThread->OnMemXferBuffer = std::move(h); }
    void SetOnMemXferSize(TTwnMemXferSizeEvent h) { FThread->OnMemXferSize = std::move(h); }
    bool HasImageHandler() const { return FThread->OnImageReady || FThread->OnMemXferBuffer; }

protected:
    // Runs on the UI thread when the source reports a device event.
    virtual void DoDeviceEvent() = 0;
    // Drops every handler and stops the worker; the most derived destructor
    // calls it before any state the handlers reach goes away. A worker that
    // has not ended within TwnShutdownLimit (a manager that never comes
    // back) is left running with what it uses, which is never freed.
    void ShutdownThread();

    std::unique_ptr<TOrloTWAINThread> FThread;
};
