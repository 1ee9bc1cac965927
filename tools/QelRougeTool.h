// Rouge: a soft, faint brush in Color mode.
#pragma once

#include "QelMakeUpSurfaceTool.h"

class TQelRougeFrame : public TQelMakeUpSurfaceFrame {
    Q_OBJECT
public:
    using TQelMakeUpSurfaceFrame::TQelMakeUpSurfaceFrame;

protected:
    QString DefaultTitle() const override { return QStringLiteral("Rouge"); }
};

class TQelRougeTool : public TQelMakeUpSurfaceTool {
    Q_OBJECT
public:
    void Create() override;
    void Localize() override;
    TQelGuid GetSettingsGUID() const override;
    void CreateToolbarItemAndFrame() override;
};
