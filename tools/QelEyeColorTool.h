// Eye colour: a firm brush at full opacity in Color mode, which gives the iris
// the palette's hue and keeps its brightness.
#pragma once

#include "QelMakeUpSurfaceTool.h"

class TQelEyeColorFrame : public TQelMakeUpSurfaceFrame {
    Q_OBJECT
public:
    using TQelMakeUpSurfaceFrame::TQelMakeUpSurfaceFrame;

protected:
    QString DefaultTitle() const override { return QStringLiteral("Eye Color"); }
};

class TQelEyeColorTool : public TQelMakeUpSurfaceTool {
    Q_OBJECT
public:
    void Create() override;
    void Localize() override;
    TQelGuid GetSettingsGUID() const override;
    void CreateToolbarItemAndFrame() override;
};
