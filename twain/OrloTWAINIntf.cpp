#include "OrloTWAINIntf.h"

#include <thread>

#include "OrloTWAINFix.h"

TOrloTWAINIntf::TOrloTWAINIntf(QObject* owner)
    : TOrloTWAINKernel(owner),
      OnDeviceEvent(),
      FContainers(std::make_unique<TTwnContainerList>()),
      FSupportedCaps(),
      FExtendedCaps(),
      FDeviceEventTypes() {
    FThread->UnitsReader = [this] { return ReadUnits(); };
    FThread->PixelFlavorReader = [this] { return ReadPixelFlavor(); };
}

// The cache goes only after the worker, which may still read it, stopped.
TOrloTWAINIntf::~TOrloTWAINIntf() { ShutdownThread(); }

void TOrloTWAINIntf::ClearCapabilityCache() {
    std::lock_guard<std::recursive_mutex> lock(FThread->CallLock());
    FSupportedCaps.reset();
    FExtendedCaps.reset();
    FContainers->Clear();
}

int TOrloTWAINIntf::CapabilityCall(TW_CAPABILITY& cap, uint16_t msg) {
    if (!DSMOpen() || !DSOpen()) return TWRC_FAILURE;
    const uint16_t rc = FThread->CallDSM(&AppIdentity, &SourceIdentity, DG_CONTROL, DAT_CAPABILITY, msg, &cap);
    std::this_thread::yield();
    if (rc != TWRC_SUCCESS) std::this_thread::yield();
    return rc;
}

int TOrloTWAINIntf::GetCapability(uint16_t cap, uint16_t msg, TTwnContainer*& container) {
    std::lock_guard<std::recursive_mutex> lock(FThread->CallLock());
    const bool read = msg == MSG_GET || msg == MSG_GETCURRENT || msg == MSG_GETDEFAULT || msg == MSG_RESET;
    if (!read && msg != MSG_QUERYSUPPORT) return TWRC_FAILURE;
    TW_CAPABILITY c{};
    c.Cap = cap;
    c.ConType = TWON_DONTCARE16;
    c.hContainer = nullptr;
    const int rc = CapabilityCall(c, msg);
    TTwnContainer block;
    bool haveBlock = false;
    if (rc == TWRC_SUCCESS && TwnGlobal::header(c.hContainer))
        haveBlock = block.ReadFromSource(cap, c.ConType, c.hContainer);
    if (TwnGlobal::header(c.hContainer)) TwnGlobal::free(c.hContainer);
    if (rc != TWRC_SUCCESS) return rc;
    if (!haveBlock) return TWRC_FAILURE;
    if (!container) container = FContainers->FindOrCreate(cap);
    if (read) {
        const int32_t flags = container->SupportFlags;
        container->Assign(block);
        container->SupportFlags = flags;
    } else {
        const bool isInt32 = block.ConType() == TWON_ONEVALUE && block.ItemType() == TWTY_INT32;
        container->SupportFlags = isInt32 ? int32_t(TwnValueToInt(block.CurrentValue())) : -1;
    }
    return rc;
}

int TOrloTWAINIntf::SetCapability(uint16_t msg, int index, TTwnContainer* container) {
    if (!container || msg != MSG_SET) return -1;
    std::lock_guard<std::recursive_mutex> lock(FThread->CallLock());
    TW_CAPABILITY c{};
    c.Cap = container->Cap();
    c.ConType = index == 0 ? container->ConType() : TWON_ONEVALUE;
    c.hContainer = container->ToTwain(index != 0);
    if (!c.hContainer) return TWRC_FAILURE;
    const int rc = CapabilityCall(c, msg);
    // A call given up on still holds the container; it is freed with it.
    if (rc != TWRC_TIMEOUT) TwnGlobal::free(c.hContainer);
    return rc;
}

bool TOrloTWAINIntf::Contains(const TTwnContainer* c, uint16_t cap) {
    if (!c) return false;
    for (int i = 0; i < c->ItemCount(); ++i)
        if (TwnValueToInt(c->Item(i)) == cap) return true;
    return false;
}

bool TOrloTWAINIntf::IsCapSupported(uint16_t cap) {
    std::lock_guard<std::recursive_mutex> lock(FThread->CallLock());
    if (!FSupportedCaps || LenientOnCaps) return true;
    return Contains(FSupportedCaps.get(), cap);
}

bool TOrloTWAINIntf::IsExtendedCap(uint16_t cap) {
    std::lock_guard<std::recursive_mutex> lock(FThread->CallLock());
    return Contains(FExtendedCaps.get(), cap);
}

void TOrloTWAINIntf::ReadSupportedCaps() {
    std::lock_guard<std::recursive_mutex> lock(FThread->CallLock());
    auto supported = std::make_unique<TTwnContainer>();
    TTwnContainer* s = supported.get();
    if (TOrloTWAINIntf::GetCapability(CAP_SUPPORTEDCAPS, MSG_GET, s) == TWRC_SUCCESS) {
        FSupportedCaps = std::move(supported);
        // The transfer mechanism is negotiated whatever the list says.
        if (!LenientOnCaps && !Contains(FSupportedCaps.get(), ICAP_XFERMECH)) {
            if (FSupportedCaps->ConType() == TWON_ONEVALUE) {
                const TwnValue only = FSupportedCaps->CurrentValue();
                FSupportedCaps->SetConType(TWON_ARRAY);
                FSupportedCaps->AddItem(only);
            }
            FSupportedCaps->AddItem(int64_t(ICAP_XFERMECH));
        }
    }
    auto extended = std::make_unique<TTwnContainer>();
    TTwnContainer* e = extended.get();
    if (TOrloTWAINIntf::GetCapability(CAP_EXTENDEDCAPS, MSG_GET, e) == TWRC_SUCCESS) FExtendedCaps = std::move(extended);
}

int TOrloTWAINIntf::IntCapability(uint16_t cap) {
    std::lock_guard<std::recursive_mutex> lock(FThread->CallLock());
    TTwnContainer* c = nullptr;
    if (GetCapability(cap, MSG_GET, c) != TWRC_SUCCESS || !c) return -1;
    return int(TwnValueToInt(c->CurrentValue()));
}

int TOrloTWAINIntf::IsDeviceOnline() {
    const int v = IntCapability(CAP_DEVICEONLINE);
    return v < 0 ? -1 : (v != 0 ? 1 : 0);
}

int TOrloTWAINIntf::ReadUnits() { return IntCapability(ICAP_UNITS); }
int TOrloTWAINIntf::ReadPixelFlavor() { return IntCapability(ICAP_PIXELFLAVOR); }

int TOrloTWAINIntf::SetBoolCapability(uint16_t cap, bool value) {
    std::lock_guard<std::recursive_mutex> lock(FThread->CallLock());
    TTwnContainer* c = FContainers->FindOrCreate(cap);
    c->SetItemType(TWTY_BOOL);
    c->SetCurrentValue(value);
    return SetCapability(MSG_SET, -1, c);
}

void TOrloTWAINIntf::SetDeviceEventTypes(TTwnDeviceEventTypes types) {
    FDeviceEventTypes = types;
    std::lock_guard<std::recursive_mutex> lock(FThread->CallLock());
    if (!DSOpen() || (!FContainers->Find(CAP_DEVICEEVENT) && types.none())) return;
    TTwnContainer* c = FContainers->FindOrCreate(CAP_DEVICEEVENT);
    c->SetConType(TWON_ARRAY);
    c->SetItemCount(0);
    // Up to the power-save event: a source that does not know the
    // notification event might refuse the whole array.
    for (int e = TWDE_CHECKAUTOMATICCAPTURE; e <= TWDE_POWERSAVE; ++e)
        if (types[size_t(e)]) c->AddItem(int64_t(e));
    SetCapability(MSG_SET, 0, c);
}

void TOrloTWAINIntf::DoDeviceEvent() {
    TW_DEVICEEVENT ev{};
    if (FThread->CallDSM(&AppIdentity, &SourceIdentity, DG_CONTROL, DAT_DEVICEEVENT, MSG_GET, &ev) != TWRC_SUCCESS)
        return;
    const QString name = QString::fromUtf8(ev.DeviceName, int(TwnStrLen(ev.DeviceName, sizeof ev.DeviceName)));
    QVariant a = 0, b = 0, c = 0;
    switch (ev.Event) {
        case TWDE_CHECKAUTOMATICCAPTURE:
            a = uint(ev.AutomaticCapture);
            b = uint(ev.TimeBeforeFirstCapture);
            c = uint(ev.TimeBetweenCaptures);
            break;
        case TWDE_CHECKBATTERY:
            a = uint(ev.BatteryMinutes);
            b = int(ev.BatteryPercentage);
            break;
        case TWDE_CHECKFLASH: a = uint(ev.FlashUsed2); break;
        case TWDE_CHECKPOWERSUPPLY: a = int(ev.PowerSupply); break;
        case TWDE_CHECKRESOLUTION:
            a = FixToFloat(ev.XResolution);
            b = FixToFloat(ev.YResolution);
            break;
        default: break;
    }
    if (OnDeviceEvent) OnDeviceEvent(this, int(ev.Event), name, a, b, c);
    else SetDeviceEventTypes(TTwnDeviceEventTypes());
}
