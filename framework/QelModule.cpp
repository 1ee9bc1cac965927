#include "QelModule.h"

#include <QAction>
#include <QWidget>

#include "QelLocalizer.h"

TQelModule::TQelModule() : QObject(nullptr) {}

TQelModule::~TQelModule() {
    // By identity: the overrides are gone already.
    if (TQelLocalizer* localizer = TQelLocalizer::Instance())
        localizer->RemoveLocalizeHandler(TQelMethod(this, &TQelModule::Localize));
    if (TQelApplication* app = TQelApplication::Instance()) app->RemoveComponent(this);
}

void TQelModule::Initialize() {
    if (TQelLocalizer* localizer = TQelLocalizer::Instance())
        localizer->AddLocalizeHandler(TQelMethod(this, &TQelModule::Localize));
}

void TQelModule::AddIdleHandler(const TQelMethod& Method) {
    if (TQelApplication* app = TQelApplication::Instance()) app->AddIdleHandler(Method);
}

TQelModuleWithControls::TQelModuleWithControls() : TQelModule() {}

TQelModuleWithControls::~TQelModuleWithControls() {
    // The handler stays registered for the module's life; it must not
    // outlive it.
    if (TQelApplication* app = TQelApplication::Instance())
        app->RemoveIdleHandler(TQelMethod(this, &TQelModuleWithControls::UpdateControls));
}

void TQelModuleWithControls::Initialize() {
    TQelModule::Initialize();
    AddIdleHandler(TQelMethod(this, &TQelModuleWithControls::UpdateControls));
}

void QelSetEnabled(QWidget* Widget, bool Value) {
    if (Widget && Widget->testAttribute(Qt::WA_ForceDisabled) == Value) Widget->setEnabled(Value);
}

void QelSetEnabled(QAction* Action, bool Value) {
    if (Action && Action->isEnabled() != Value) Action->setEnabled(Value);
}
