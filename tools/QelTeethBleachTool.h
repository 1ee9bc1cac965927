// Teeth bleach: a soft brush that lightens towards white; it offers only its
// size.
#pragma once

#include "QelMakeUpSurfaceTool.h"

class TQelTeethBleachFrame : public TQelMakeUpSurfaceFrame {
    Q_OBJECT
public:
    using TQelMakeUpSurfaceFrame::TQelMakeUpSurfaceFrame;

protected:
    QString DefaultTitle() const override { return QStringLiteral("TeethBleach"); }
};

class TQelTeethBleachTool : public TQelMakeUpSurfaceTool {
    Q_OBJECT
public:
    void Create() override;
    void Localize() override;
    TQelGuid GetSettingsGUID() const override;
    void CreateToolbarItemAndFrame() override;
};
