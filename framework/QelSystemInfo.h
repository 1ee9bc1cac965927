// What the program knows of the system it runs on, read once at start-up.
#pragma once

#include <QString>

#include "QelModule.h"

class TQelSystemInfoModule : public TQelModule {
    Q_OBJECT
public:
    void Initialize() override;

    // The system's name and version ("Debian GNU/Linux 12 (bookworm)"), its
    // kernel and the kernel's version.
    QString ProductName;
    QString KernelType;
    QString KernelVersion;
};
