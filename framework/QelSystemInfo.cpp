#include "QelSystemInfo.h"

#include <QSysInfo>

void TQelSystemInfoModule::Initialize() {
    TQelModule::Initialize();
    ProductName = QSysInfo::prettyProductName();
    KernelType = QSysInfo::kernelType();
    KernelVersion = QSysInfo::kernelVersion();
}
