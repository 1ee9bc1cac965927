#include "Model.h"

#include <QCursor>
#include <QPixmap>
#include <QProgressBar>

#include <exception>

#include "QelBrightnessContrastTool.h"
#include "QelCropTool.h"
#include "QelCursors.h"
#include "QelDemoEditor.h"
#include "QelDemonstration.h"
#include "QelForms.h"
#include "QelGraphicsEditor.h"
#include "QelMainForm.h"
#include "QelPaths.h"
#include "QelResizeTool.h"
#include "QelRotateTool.h"
#include "QelToolPanel.h"
#include "Progress.h"

TModule* Module = nullptr;
int16_t ColorSelectorCursor = 0;

namespace {

// The pick point of the colour-selector image: the pipette's tip.
constexpr int ColorSelectorHotX = 1;
constexpr int ColorSelectorHotY = 30;

// The pictures the modules add by name (TMainForm::AddImage).
struct TNamedImage {
    const char* Name;
    TToolbarImage Image;
};
constexpr TNamedImage NamedImages[] = {
    {"PrevImage", tiPrevImage},     {"NextImage", tiNextImage},     {"Right", tiRight},
    {"HandInpainting", tiHandInpainting}, {"UndoBrush", tiUndoBrush}, {"Contrast", tiContrast},
    {"Resize", tiResize},           {"Crop", tiCrop},               {"Lipstick", tiLipstick},
    {"EyeColor", tiEyeColor},       {"Powder", tiPowder},           {"Rouge", tiRouge},
    {"TeethBleach", tiTeethBleach}, {"ImperfectionWand", tiImperfectionWand},
};

QString ToolbarImageFile(TToolbarImage Image) {
    return QStringLiteral(":/icons/toolbar/%1.svg").arg(int(Image), 2, 10, QLatin1Char('0'));
}

}  // namespace

int16_t QelInstallCursor(const QCursor& cursor) {
    TQelCursorRegistry& registry = TQelCursorRegistry::Instance();
    const int16_t slot = registry.FindFreeSlot(100);
    registry.SetCursor(slot, cursor);
    return slot;
}

TModule::TModule() : QObject(nullptr), SmallImages(QSize(16, 16)), NewTBXImageList(QSize(24, 24)) {
    SmallImages.LoadIndexed(QStringLiteral(":/icons/small"));
    NewTBXImageList.LoadIndexed(QStringLiteral(":/icons/toolbar"));
    for (const TNamedImage& image : NamedImages)
        QelRegisterImageResource(QLatin1String(image.Name), ToolbarImageFile(image.Image));
}

TModule::~TModule() {
    if (TQelApplication* app = TQelApplication::Instance()) app->RemoveComponent(this);
    delete ProgressMeter;
    ProgressMeter = nullptr;
    if (ToolbarImages == &NewTBXImageList) ToolbarImages = nullptr;
    if (Module == this) Module = nullptr;
}

void TModule::Create() {
    try {
        DataModuleCreate();
    } catch (const std::exception& e) {
        QelShowException(e);
    }
}

void TModule::DataModuleCreate() {
    TQelApplication* app = TQelApplication::Instance();

    ToolbarImages = &NewTBXImageList;

    // The editor comes first; it creates the main window.
    TQelGraphicsEditor* editor = nullptr;
    app->CreateModule(editor);
    editor->ImagesFolder = QelProgramDir() + QStringLiteral("/Images/");
    // The menu items take their images from the toolbar image list, through
    // the main window's GetImages.
    TQelImageList* images = MainForm->GetImages();
    images->SetActionImage(editor->NextImageButton, tiNextImage);
    images->SetActionImage(editor->PrevImageButton, tiPrevImage);
    for (QAction* item : {editor->ZoomInButton, editor->ZoomInMenuItem}) images->SetActionImage(item, tiZoomIn);
    for (QAction* item : {editor->ZoomOutButton, editor->ZoomOutMenuItem}) images->SetActionImage(item, tiZoomOut);
    for (QAction* item : {editor->ActualSizeButton, editor->ActualSizeMenuItem})
        images->SetActionImage(item, tiActualSize);
    for (QAction* item : {editor->ScaleToBestFitButton, editor->ScaleToBestFitMenuItem})
        images->SetActionImage(item, tiScaleToBestFit);

    ColorSelectorCursor =
        QelInstallCursor(QCursor(QPixmap(QStringLiteral(":/cursors/ColorSelector.png")), ColorSelectorHotX,
                                 ColorSelectorHotY));

    // The service modules follow here, before the tool panel.
    TQelDemonstrationModule* demonstration = nullptr;
    app->CreateModule(demonstration);
    demonstration->DemoFolder = editor->ImagesFolder;
    demonstration->ShowAtStartup = true;
    TQelDemoEditorModule* demoEditor = nullptr;
    app->CreateModule(demoEditor);
    app->CreateModule(ToolPanelModule);
    ToolPanelModule->SetToolbarWrap();

    // The tools follow here, in toolbar order.
    app->CreateModule(RotateTool);
    images->SetActionImage(RotateTool->Button, tiRight);
    // Rotation and flips are reached through the standard toolbar.
    RotateTool->Button->setVisible(false);
    RotateTool->AddStandardToolbarButtons();
    images->SetActionImage(RotateTool->RotateRightItem, tiRight);
    images->SetActionImage(RotateTool->RotateLeftItem, tiRotateLeft);
    images->SetActionImage(RotateTool->FlipVerticalItem, tiFlipVertical);
    images->SetActionImage(RotateTool->FlipHorizontalItem, tiFlipHorizontal);
    app->CreateModule(BrightnessContrastTool);
    images->SetActionImage(BrightnessContrastTool->Button, tiContrast);
    app->CreateModule(ResizeTool);
    images->SetActionImage(ResizeTool->Button, tiResize);
    app->CreateModule(CropTool);
    images->SetActionImage(CropTool->Button, tiCrop);

    // The progress bar sits in the status bar's last panel.
    auto* progressBar = new QProgressBar(MainForm);
    progressBar->setObjectName(QStringLiteral("ProgressBar"));
    progressBar->setTextVisible(false);
    TQelStatusPanels& panels = MainForm->StatusPanels();
    panels.SetControl(panels.Add(0), progressBar);
    panels.SetSize(panels.Count() - 1, 200);
    ProgressMeter = new TProgressMeter(progressBar);
    ProgressMeter->SetStepSize(1);
    ProgressMeter->Start(0);
}
