#include "Model.h"

#include <QCursor>
#include <QPixmap>

#include <exception>

#include "QelCursors.h"
#include "QelForms.h"
#include "QelMainForm.h"

TModule* Module = nullptr;
int16_t ColorSelectorCursor = 0;

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

TModule::TModule() : QObject(nullptr) {}

TModule::~TModule() {
    if (TQelApplication* app = TQelApplication::Instance()) app->RemoveComponent(this);
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

    // The editor comes first; it creates the main window.
    app->CreateForm(MainForm);

    ColorSelectorCursor =
        QelInstallCursor(QCursor(QPixmap(QStringLiteral(":/cursors/ColorSelector.png")), ColorSelectorHotX,
                                 ColorSelectorHotY));

    // The service modules, then the tools in toolbar order, follow here.
}
