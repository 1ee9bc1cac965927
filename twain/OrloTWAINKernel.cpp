#include "OrloTWAINKernel.h"

#include <cstring>

TOrloTWAINKernel::TOrloTWAINKernel(QObject* owner)
    : QObject(owner), AppIdentity(), SourceIdentity(), FMain(), FThread() {
    std::memset(&AppIdentity, 0, sizeof AppIdentity);
    std::memset(&SourceIdentity, 0, sizeof SourceIdentity);
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

    FThread = std::make_unique<TOrloTWAINThread>(&FMain);
    FThread->SetIdentities(&AppIdentity, &SourceIdentity);
    FThread->Start();
    FThread->CloseRequestHandler = nullptr;
    FThread->DeviceEventHandler = [this](void*) { DoDeviceEvent(); };
}

TOrloTWAINKernel::~TOrloTWAINKernel() { ShutdownThread(); }

void TOrloTWAINKernel::ShutdownThread() {
    if (!FThread) return;
    FMain.SetClosing(true);
    FThread->DropHandlers();
    FThread->Shutdown();
    FThread.reset();
}
