// Lipstick: a firm brush at full opacity in Normal mode with the detail layer,
// so the lips keep their lines under the colour.
#pragma once

#include "QelMakeUpSurfaceTool.h"

class TQelLipstickFrame : public TQelMakeUpSurfaceFrame {
    Q_OBJECT
public:
    using TQelMakeUpSurfaceFrame::TQelMakeUpSurfaceFrame;

protected:
    QString DefaultTitle() const override { return QStringLiteral("Lipstick"); }
};

class TQelLipstickTool : public TQelMakeUpSurfaceTool {
    Q_OBJECT
public:
    void Create() override;
    void Localize() override;
    TQelGuid GetSettingsGUID() const override;
    void CreateToolbarItemAndFrame() override;
};
