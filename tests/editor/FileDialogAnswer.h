// Answers the program's open and save dialogs from inside their modal loop,
// so that no test waits in one.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QTimer>

#include <functional>

#include "QelDialogs.h"

// Runs Action on the next file dialog once it is shown, so that no test
// waits in its modal loop. The watch ends with this object.
class TDialogAnswer {
public:
    explicit TDialogAnswer(std::function<void(TQelOpenDialog&)> action) {
        QObject::connect(&FTimer, &QTimer::timeout, &FTimer, [this, action] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                auto* dialog = qobject_cast<TQelOpenDialog*>(w);
                if (dialog && dialog->isVisible()) {
                    FTimer.stop();
                    action(*dialog);
                    return;
                }
            }
        });
        FTimer.start(5);
    }

private:
    QTimer FTimer;
};

inline void SaveAs(TQelOpenDialog& dialog, const QString& name, int row) {
    dialog.selectNameFilter(dialog.nameFilters().at(row));
    // Typed as a user types it: once the dialog is active its name edit has
    // the focus, and selectFile then leaves the edit's text alone.
    if (auto* edit = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
        edit->setText(name);
    else
        dialog.selectFile(name);
    static_cast<QDialog&>(dialog).accept();  // protected in the file dialog
}
