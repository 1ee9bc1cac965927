#include "Model.h"

#include <QCursor>
#include <QPixmap>
#include <QProgressBar>

#include <exception>

#include "QelCursors.h"
#include "QelEditor.h"
#include "QelForms.h"
#include "QelMainForm.h"
#include "QelToolPanel.h"
#include "Progress.h"

TModule* Module = nullptr;
int16_t ColorSelectorCursor = 0;

namespace {

// The pick point of the colour-selector image: the pipette's tip.
constexpr int ColorSelectorHotX = 1;
constexpr int ColorSelectorHotY = 30;

// Stands in for the image editor until it joins: no formats, so nothing can
// be opened or saved, but the shell, the commands and the recent files work.
class TNoDocumentFormats : public TQelDocumentFormats {
public:
    int32_t Count() const override { return 0; }
    const TQelFileFormatInfo* Items(int32_t) const override { return nullptr; }
    bool Load(TQelDocument&, const QString&, int32_t&) override { return false; }
    bool Save(TQelDocument&, const QString&, int32_t) override { return false; }
    bool CanSave(int32_t) override { return false; }
};

class TPlainEditor : public TQelEditor {
public:
    TQelDocumentFormats* GetFormats() override { return &FFormats; }
    std::unique_ptr<TQelDocument> CreateDocument() override { return nullptr; }

private:
    TNoDocumentFormats FFormats;
};

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
    TPlainEditor* editor = nullptr;
    app->CreateModule(editor);
    // The menu items take their images from the toolbar image list, through
    // the main window's GetImages.

    ColorSelectorCursor =
        QelInstallCursor(QCursor(QPixmap(QStringLiteral(":/cursors/ColorSelector.png")), ColorSelectorHotX,
                                 ColorSelectorHotY));

    // The service modules follow here, before the tool panel.
    app->CreateModule(ToolPanelModule);
    ToolPanelModule->SetToolbarWrap();

    // The tools follow here, in toolbar order.

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
