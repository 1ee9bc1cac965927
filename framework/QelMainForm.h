// The main window: menu bar, status bar and the place the modules fill.
#pragma once

#include <QMainWindow>

#include "QelForms.h"

class TMainForm : public TQelForm<QMainWindow> {
    Q_OBJECT
public:
    explicit TMainForm(QWidget* parent = nullptr);
    ~TMainForm() override;

    void Create() override;
};

// The one main window, created by the composition root.
extern TMainForm* MainForm;
