// The component's capability level: capability reads and writes through
// the worker, the cache of containers, support checks, device events.
#pragma once

#include <QString>
#include <QVariant>
#include <bitset>
#include <functional>
#include <memory>

#include "OrloTWAINContainer.h"
#include "OrloTWAINKernel.h"

using TTwnDeviceEventTypes = std::bitset<32>;
using TTwnDeviceEvent = std::function<void(QObject* Sender, int Event, const QString& DeviceName, const QVariant& A,
                                           const QVariant& B, const QVariant& C)>;

class TOrloTWAINIntf : public TOrloTWAINKernel {
public:
    explicit TOrloTWAINIntf(QObject* owner);
    ~TOrloTWAINIntf() override;

    virtual void ClearCapabilityCache();
    // Reads a capability (MSG_GET, GETCURRENT, GETDEFAULT, RESET, QUERYSUPPORT)
    // into Container, or into the cached container of Cap when it is null.
    virtual int GetCapability(uint16_t cap, uint16_t msg, TTwnContainer*& container);
    virtual bool IsCapSupported(uint16_t cap);
    virtual bool IsExtendedCap(uint16_t cap);
    // MSG_SET only: Index 0 sends the container as it is, any other a
    // one-value of its current value. -1 without a container.
    virtual int SetCapability(uint16_t msg, int index, TTwnContainer* container);

    // 1 or 0, -1 when it cannot be read.
    int IsDeviceOnline();
    int ReadUnits();
    int ReadPixelFlavor();
    TTwnContainerList& Containers() { return *FContainers; }

    TTwnDeviceEventTypes DeviceEventTypes() const { return FDeviceEventTypes; }
    void SetDeviceEventTypes(TTwnDeviceEventTypes types);

    bool ShowUI = true;
    bool ModalUI = false;
    bool ShowIndicators = true;
    bool LenientOnCaps = false;
    TTwnDeviceEvent OnDeviceEvent;

protected:
    void DoDeviceEvent() override;
    // After a source opened: the supported and the extended capabilities.
    void ReadSupportedCaps();
    int SetBoolCapability(uint16_t cap, bool value);
    int IntCapability(uint16_t cap);

    std::unique_ptr<TTwnContainerList> FContainers;
    std::unique_ptr<TTwnContainer> FSupportedCaps;
    std::unique_ptr<TTwnContainer> FExtendedCaps;
    TTwnDeviceEventTypes FDeviceEventTypes;

private:
    int CapabilityCall(TW_CAPABILITY& cap, uint16_t msg);
    static bool Contains(const TTwnContainer* c, uint16_t cap);
};
