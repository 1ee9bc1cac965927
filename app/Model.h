// The start-up data module: its creation builds every module and tool of
// the program in a fixed order.
#pragma once

#include <QObject>

#include <cstdint>

#include "QelCursors.h"
#include "QelMainForm.h"

// The menu and toolbar images: image NN is the file data/icons/toolbar/NN.svg.
// The one place that numbers them.
enum TToolbarImage : int {
    tiZoomIn = 10,
    tiZoomOut = 11,
    tiActualSize = 12,
    tiScaleToBestFit = 13,
    tiPrevImage = 14,
    tiNextImage = 15,
    tiRight = 16,
    tiRotateLeft = 17,
    tiFlipVertical = 18,
    tiFlipHorizontal = 19,
    tiHandInpainting = 20,
    tiUndoBrush = 21,
    tiContrast = 22,
    tiResize = 23,
    tiCrop = 24,
    tiLipstick = 25,
    tiEyeColor = 26,
    tiPowder = 27,
    tiRouge = 28,
    tiTeethBleach = 29,
    tiImperfectionWand = 30,
};

class TModule : public QObject {
    Q_OBJECT
public:
    TModule();
    ~TModule() override;
    TModule(const TModule&) = delete;
    TModule& operator=(const TModule&) = delete;

    // Runs DataModuleCreate; an error there is shown and the program goes on
    // with what was created up to that point.
    void Create();
    void AfterConstruction() {}

    void DataModuleCreate();

    // The buttons inside the tools' option frames (16 x 16).
    TQelImageList SmallImages;
    // The menu and toolbar images (24 x 24); image indices refer to it.
    TQelImageList NewTBXImageList;
};

// The start-up data module, created by main().
extern TModule* Module;

// Puts Cursor into the first free slot from 100 up (32767 when none is free)
// and returns the slot.
int16_t QelInstallCursor(const class QCursor& cursor);
