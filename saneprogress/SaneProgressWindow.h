// The window the SANE bridge shows while a scan runs, in place of a scanner
// driver's own: which device scans, how far it has come, and Cancel. It
// runs in a process of its own, so that neither a backend that wedges nor
// the program waiting on it can freeze it. Cancel, Esc and closing the
// window all ask the bridge to cancel; the window ends when the bridge
// closes its socket.
#pragma once

#include <QDialog>

class QLabel;
class QProgressBar;
class QPushButton;
class QSocketNotifier;

class TSaneProgressWindow : public QDialog {
    Q_OBJECT
public:
    // Fd: the bridge's socket; Device: the device's name as the program lists it.
    TSaneProgressWindow(int Fd, const QString& Device);

    void reject() override;

private:
    void ReadBridge();

    int FFd;
    QLabel* FText;
    QProgressBar* FBar;
    QPushButton* FCancel;
    QSocketNotifier* FNotifier;
};
