// The bases of the program's non-visual modules.
#pragma once

#include <QObject>

#include "QelClasses.h"
#include "QelForms.h"

// A module: created once by the composition root, owned by the application
// object, localised and given a settings node through the settings cycle.
class TQelModule : public QObject, public IQelModuleState {
    Q_OBJECT
public:
    TQelModule();
    ~TQelModule() override;
    TQelModule(const TQelModule&) = delete;
    TQelModule& operator=(const TQelModule&) = delete;

    // Creation steps, run by the application object's factories after the
    // constructor; Create is where a module builds its menu items and
    // toolbars.
    virtual void Create() {}
    virtual void AfterConstruction() {}

    // Sets every visible text of the module.
    virtual void Localize() {}
    // A module with settings opens (or writes) its own node here.
    void LoadSettings(TQelSDFReader&) override {}
    void SaveSettings(TQelSDFWriter&) override {}
    // Subscribes Localize to the localizer, which runs it at once.
    void Initialize() override;
    // Runs after every component has loaded and initialised.
    void AllLoaded() override {}

    void AddIdleHandler(const TQelMethod& Method);
};

// A module with menu items or buttons whose state UpdateControls keeps
// current in idle time.
class TQelModuleWithControls : public TQelModule {
    Q_OBJECT
public:
    TQelModuleWithControls();
    ~TQelModuleWithControls() override;

    virtual void UpdateControls() {}
    void Initialize() override;
};

class QAction;
class QWidget;

// Widget and item state, set only when it differs (idle updates run often).
// A widget's own state counts, not a disabled parent's.
void QelSetEnabled(QWidget* Widget, bool Value);
void QelSetEnabled(QAction* Action, bool Value);
