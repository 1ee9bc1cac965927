#include "Model.h"

#include <QCursor>
#include <QPixmap>
#include <QProgressBar>
#include <QToolBar>

#include <exception>
#include <iterator>

#include "QelAbout.h"
#include "QelBrightnessContrastTool.h"
#include "QelCropTool.h"
#include "QelCursors.h"
#include "QelDemoEditor.h"
#include "QelDemonstration.h"
#include "QelForms.h"
#include "QelEyeColorTool.h"
#include "QelGraphicsEditor.h"
#include "QelGraphicsPrint.h"
#include "QelHandInpaintingTool.h"
#include "QelHelp.h"
#include "QelImperfectionWandTool.h"
#include "QelLipstickTool.h"
#include "QelMainForm.h"
#include "QelOriginalImageTool.h"
#include "QelPaths.h"
#include "QelPowderTool.h"
#include "QelResizeTool.h"
#include "QelRotateTool.h"
#include "QelRougeTool.h"
#include "QelSystemInfo.h"
#include "QelTeethBleachTool.h"
#include "QelToolPanel.h"
#include "QelUndoBrushTool.h"
#include "Progress.h"

TModule* Module = nullptr;

namespace {

// The about box's labels on its picture.
const TQelAboutRow AboutRows[] = {
    {156, nullptr, QelAboutBold, 285, 45, 0, 0, 0, -1},
    {54, nullptr, QelAboutRightAligned | QelAboutColon, 16, 126, 75, 0, 0, 0},
    {0, u"https://www.velmora.example/visara/", QelAboutSameLine | QelAboutLink, 0, 0, 0, 0, 0, 0},
    {56, nullptr, QelAboutRightAligned | QelAboutColon, 0, 0, 75, 0, 0.5f, 0},
    {0, u"https://www.velmora.example/support/", QelAboutSameLine | QelAboutLink, 0, 0, 0, 0, 0, 0},
    {0, u"Copyright \u00A9 2026 Velmora. All rights reserved.", 0, 0, 275, 0, 0, 0, -1},
};

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

    // The service modules, before the tool panel.
    TQelSystemInfoModule* systemInfo = nullptr;
    app->CreateModule(systemInfo);
    TQelGraphicsPrintModule* print = nullptr;
    app->CreateModule(print);
    TQelHelp* help = nullptr;
    app->CreateModule(help);
    TQelDemonstrationModule* demonstration = nullptr;
    app->CreateModule(demonstration);
    demonstration->DemoFolder = editor->ImagesFolder;
    demonstration->ShowAtStartup = true;
    TQelDemoEditorModule* demoEditor = nullptr;
    app->CreateModule(demoEditor);
    TQelAbout* about = nullptr;
    app->CreateModule(about);
    about->SetRows(AboutRows, int32_t(std::size(AboutRows)), "About");
    app->CreateModule(ToolPanelModule);
    ToolPanelModule->SetToolbarWrap();

    // The buttons of the tools on the standard toolbar follow a separator.
    MainForm->AddSeparator(editor->StandardToolbar, nullptr);

    // The tools follow here, in toolbar order; the composition root gives
    // each tool's button its image.
    auto createTool = [&](auto*& tool, TToolbarImage image) {
        app->CreateModule(tool);
        images->SetActionImage(tool->Button, image);
    };
    TQelOriginalImageTool* originalImage = nullptr;
    app->CreateModule(originalImage);
    createTool(RotateTool, tiRight);
    // Rotation and flips are reached through the standard toolbar.
    RotateTool->Button->setVisible(false);
    RotateTool->AddStandardToolbarButtons();
    images->SetActionImage(RotateTool->RotateRightItem, tiRight);
    images->SetActionImage(RotateTool->RotateLeftItem, tiRotateLeft);
    images->SetActionImage(RotateTool->FlipVerticalItem, tiFlipVertical);
    images->SetActionImage(RotateTool->FlipHorizontalItem, tiFlipHorizontal);
    createTool(HandInpaintingTool, tiHandInpainting);
    // Long Defect is not offered.
    HandInpaintingTool->OptionsVisible = false;
    HandInpaintingTool->SetAdjustment(2);
    HandInpaintingTool->SetReflectionDirection(0);
    HandInpaintingTool->SetAutoReflection(true);
    HandInpaintingTool->SetLongDefect(true);
    HandInpaintingTool->SetAntiAliasing(true);

    MainForm->AddSeparator(ToolPanelModule->Toolbar, nullptr);
    TQelUndoBrushTool* undoBrush = nullptr;
    createTool(undoBrush, tiUndoBrush);
    // Only the size comes from the settings file.
    undoBrush->SetRestoreSizeOnly(true);
    undoBrush->SetOpacity(255);
    undoBrush->SetHardness(191);

    MainForm->AddSeparator(ToolPanelModule->Toolbar, nullptr);
    createTool(BrightnessContrastTool, tiContrast);
    createTool(ResizeTool, tiResize);
    createTool(CropTool, tiCrop);
    TQelLipstickTool* lipstick = nullptr;
    createTool(lipstick, tiLipstick);
    TQelEyeColorTool* eyeColor = nullptr;
    createTool(eyeColor, tiEyeColor);
    TQelPowderTool* powder = nullptr;
    createTool(powder, tiPowder);
    TQelRougeTool* rouge = nullptr;
    createTool(rouge, tiRouge);
    TQelTeethBleachTool* teethBleach = nullptr;
    createTool(teethBleach, tiTeethBleach);

    MainForm->AddSeparator(ToolPanelModule->Toolbar, nullptr);
    TQelImperfectionWandTool* imperfectionWand = nullptr;
    createTool(imperfectionWand, tiImperfectionWand);

    // Once every tool exists: the lipstick is current at start-up.
    lipstick->MakeCurrent();

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
