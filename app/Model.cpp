#include "Model.h"

#include <QCursor>
#include <QPixmap>
#include <QProgressBar>

#include <exception>

#include "QelCursors.h"
#include "QelForms.h"
#include "QelEyeColorTool.h"
#include "QelGraphicsEditor.h"
#include "QelLipstickTool.h"
#include "QelMainForm.h"
#include "QelPaths.h"
#include "QelPowderTool.h"
#include "QelRougeTool.h"
#include "QelTeethBleachTool.h"
#include "QelToolPanel.h"
#include "Progress.h"

TModule* Module = nullptr;

namespace {

// The pick point of the colour-selector image: the pipette's tip.
constexpr int ColorSelectorHotX = 1;
constexpr int ColorSelectorHotY = 30;

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
    images->SetActionImage(editor->NextImageButton, 15);
    images->SetActionImage(editor->PrevImageButton, 14);
    for (QAction* item : {editor->ZoomInButton, editor->ZoomInMenuItem}) images->SetActionImage(item, 10);
    for (QAction* item : {editor->ZoomOutButton, editor->ZoomOutMenuItem}) images->SetActionImage(item, 11);
    for (QAction* item : {editor->ActualSizeButton, editor->ActualSizeMenuItem}) images->SetActionImage(item, 12);
    for (QAction* item : {editor->ScaleToBestFitButton, editor->ScaleToBestFitMenuItem})
        images->SetActionImage(item, 13);

    ColorSelectorCursor =
        QelInstallCursor(QCursor(QPixmap(QStringLiteral(":/cursors/ColorSelector.png")), ColorSelectorHotX,
                                 ColorSelectorHotY));

    // The service modules follow here, before the tool panel.
    app->CreateModule(ToolPanelModule);
    ToolPanelModule->SetToolbarWrap();

    // The tools follow here, in toolbar order.
    TQelLipstickTool* lipstick = nullptr;
    app->CreateModule(lipstick);
    images->SetActionImage(lipstick->Button, 25);
    TQelEyeColorTool* eyeColor = nullptr;
    app->CreateModule(eyeColor);
    images->SetActionImage(eyeColor->Button, 26);
    TQelPowderTool* powder = nullptr;
    app->CreateModule(powder);
    images->SetActionImage(powder->Button, 27);
    TQelRougeTool* rouge = nullptr;
    app->CreateModule(rouge);
    images->SetActionImage(rouge->Button, 28);
    TQelTeethBleachTool* teethBleach = nullptr;
    app->CreateModule(teethBleach);
    images->SetActionImage(teethBleach->Button, 29);

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
