// Powder: a soft, faint brush in Normal mode, without the detail layer.
#pragma once

#include "QelMakeUpSurfaceTool.h"

class TQelPowderFrame : public TQelMakeUpSurfaceFrame {
    Q_OBJECT
public:
    using TQelMakeUpSurfaceFrame::TQelMakeUpSurfaceFrame;

protected:
    QString DefaultTitle() const override { return QStringLiteral("Powder"); }
};

class TQelPowderTool : public TQelMakeUpSurfaceTool {
    Q_OBJECT
public:
    void Create() override;
    void Localize() override;
    TQelGuid GetSettingsGUID() const override;
    void CreateToolbarItemAndFrame() override;
};
