#include "SaneProgressWindow.h"

#include <sys/socket.h>

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSocketNotifier>
#include <QVBoxLayout>

#include <cerrno>

#include "QelLocalizer.h"
#include "SaneProgressWire.h"

namespace {

constexpr int32_t TextCancel = 2;
constexpr int32_t TextImport = 17;
constexpr int32_t TextScanning = 1062;
constexpr int32_t TextCancelling = 1063;

}  // namespace

TSaneProgressWindow::TSaneProgressWindow(int Fd, const QString& Device)
    : QDialog(), FFd(Fd), FText(nullptr), FBar(nullptr), FCancel(nullptr), FNotifier(nullptr) {
    setObjectName(QStringLiteral("SaneProgressWindow"));
    setWindowTitle(QelText(TextImport));
    auto* layout = new QVBoxLayout(this);
    FText = new QLabel(QelFormatText(QelText(TextScanning), Device), this);
    FText->setObjectName(QStringLiteral("ProgressText"));
    layout->addWidget(FText);
    FBar = new QProgressBar(this);
    FBar->setObjectName(QStringLiteral("ProgressBar"));
    FBar->setRange(0, 0);  // moving until the first step is known
    FBar->setMinimumWidth(320);
    layout->addWidget(FBar);
    auto* buttons = new QHBoxLayout();
    buttons->addStretch();
    FCancel = new QPushButton(QelText(TextCancel), this);
    FCancel->setObjectName(QStringLiteral("CancelButton"));
    FCancel->setDefault(true);
    buttons->addWidget(FCancel);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    connect(FCancel, &QPushButton::clicked, this, &TSaneProgressWindow::reject);
    FNotifier = new QSocketNotifier(FFd, QSocketNotifier::Read, this);
    connect(FNotifier, &QSocketNotifier::activated, this, [this] { ReadBridge(); });
}

void TSaneProgressWindow::reject() {
    // The window stays, saying so, until the bridge has ended the scan.
    if (!FCancel->isEnabled()) return;
    uint8_t record[SaneProgressRecord];
    SaneProgressPut(record, SaneProgressCancel, 0);
    static_cast<void>(::send(FFd, record, sizeof record, MSG_NOSIGNAL | MSG_DONTWAIT));
    FCancel->setEnabled(false);
    FText->setText(QelText(TextCancelling));
}

void TSaneProgressWindow::ReadBridge() {
    for (;;) {
        uint8_t record[SaneProgressRecord];
        const ssize_t n = ::recv(FFd, record, sizeof record, MSG_DONTWAIT);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
        if (n <= 0) {  // the scan is over
            FNotifier->setEnabled(false);
            // Not quit(), which would ask the window to close: a cancel.
            QApplication::exit(0);
            return;
        }
        if (n != ssize_t(sizeof record) || SaneProgressField(record, 0) != SaneProgressPermille) continue;
        const uint32_t permille = SaneProgressField(record, 4);
        if (permille > 1000) continue;  // not known: the bar keeps moving
        FBar->setRange(0, 1000);
        FBar->setValue(int(permille));
    }
}
