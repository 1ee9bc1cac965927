// Start-up and shut-down of the program, in a fixed order.
#include <exception>

#include "Model.h"
#include "QelDemoHooks.h"
#include "QelForms.h"
#include "QelLocalizer.h"
#include "QelPrinter.h"

int main(int argc, char** argv) {
    TQelQtApplication qtApplication(argc, argv);
    // The settings land in <config>/Visara/Visara.cfg whatever the binary is
    // called.
    QCoreApplication::setApplicationName(QStringLiteral("Visara"));

    // The localizer and the application object outlive every module, window
    // and frame: they are destroyed after DestroyComponents, in reverse order.
    TQelLocalizer localizer;
    TQelApplication application;
    application.SetTitle(QStringLiteral("Visara"));
    // Tutorial registries exist before any module, so every module can
    // register while it is created; they outlive the modules too.
    TQelDemoHooks demoHooks;

    try {
        application.Initialize();
        Module = application.CreateComponent<TModule>();
        application.Run();
    } catch (const std::exception& e) {
        QelShowException(e);
        application.SetExitCode(1);
    }
    // Modules first (the last created first), the main window last.
    application.DestroyComponents();
    // The printer, made on first use, goes while the application exists.
    FinalizeQelPrinter();
    return application.ExitCode();
}
