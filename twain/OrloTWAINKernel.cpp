#include "OrloTWAINKernel.h"

#include <cstring>
#include <vector>

namespace {

// Workers that did not end in time, with what they use: never freed, and
// reachable for as long as the process lives.
std::vector<const void*>& Abandoned() {
    static auto* abandoned = new std::vector<const void*>();
    return *abandoned;
}

}  // namespace

TOrloTWAINKernel::TOrloTWAINKernel(QObject* owner)
    : QObject(owner),
      FShared(std::make_unique<TShared>()),
      AppIdentity(FShared->App),
      SourceIdentity(FShared->Source),
      FThread() {
    AppIdentity.Id = 0;
    AppIdentity.Version.MajorNum = 3;
    AppIdentity.Version.MinorNum = 0;
    AppIdentity.Version.Language = 2;
    AppIdentity.Version.Country = 44;
    TwnSetStr(AppIdentity.Version.Info, sizeof AppIdentity.Version.Info, "Visara image import 3.0", 32);
    AppIdentity.ProtocolMajor = 1;
    AppIdentity.ProtocolMinor = 9;
    AppIdentity.SupportedGroups = DG_CONTROL | DG_IMAGE;
    TwnSetStr(AppIdentity.Manufacturer, sizeof AppIdentity.Manufacturer, "Visara", 32);
    TwnSetStr(AppIdentity.ProductFamily, sizeof AppIdentity.ProductFamily, "Portrait retouching", 32);
    TwnSetStr(AppIdentity.ProductName, sizeof AppIdentity.ProductName, "Visara", 32);

    FThread = std::make_unique<TOrloTWAINThread>(&FShared->Main);
    FThread->SetIdentities(&AppIdentity, &SourceIdentity);
    FThread->Start();
    FThread->CloseRequestHandler = nullptr;
    FThread->DeviceEventHandler = [this](void*) { DoDeviceEvent(); };
}

TOrloTWAINKernel::~TOrloTWAINKernel() { ShutdownThread(); }

void TOrloTWAINKernel::ShutdownThread() {
    if (!FThread) return;
    FShared->Main.SetClosing(true);
    FThread->DropHandlers();
    if (FThread->Shutdown(std::chrono::milliseconds(TwnShutdownLimit))) {
        FThread.reset();
        return;
    }
    // The identities and the hand-over stay with it.
    Abandoned().push_back(FThread.release());
    Abandoned().push_back(FShared.release());
}
