#include "QelMainForm.h"

#include <QMenuBar>
#include <QStatusBar>

TMainForm* MainForm = nullptr;

TMainForm::TMainForm(QWidget* parent) : TQelForm<QMainWindow>(parent) {}

TMainForm::~TMainForm() {
    if (MainForm == this) MainForm = nullptr;
}

void TMainForm::Create() {
    TQelForm<QMainWindow>::Create();
    setObjectName(QStringLiteral("MainForm"));
    menuBar();
    statusBar();
    if (TQelApplication* app = TQelApplication::Instance()) setWindowTitle(app->GetTitle());
    resize(1024, 768);
}
