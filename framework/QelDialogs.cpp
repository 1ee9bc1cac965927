#include "QelDialogs.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGridLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QRegion>
#include <QStyle>
#include <QToolTip>

#include <algorithm>
#include <climits>
#include <exception>
#include <utility>

#include "QelForms.h"
#include "QelLocalizer.h"

namespace {

QWidget* DialogParent() {
    TQelApplication* app = TQelApplication::Instance();
    return app ? app->MainForm() : nullptr;
}

// The run-time form of the message box.
class TMessageBoxForm : public QDialog {
public:
    TMessageBoxForm(const TQelMessageBox& Box, QWidget* Parent) : QDialog(Parent), FBox(Box) {}

    // The frame's close box gives the platform's cancel result.
    void reject() override { done(2); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        FBox.PaintForm(painter);
    }
    // Without a cancel button the platform box ignores Escape; only the
    // frame closes a box.
    void keyPressEvent(QKeyEvent* Event) override {
        if (Event->key() == Qt::Key_Escape && Event->modifiers() == Qt::NoModifier) {
            Event->accept();
            return;
        }
        QDialog::keyPressEvent(Event);
    }

private:
    const TQelMessageBox& FBox;
};

// The open dialog's picture box; its painting is the dialog's.
class TPreviewBox : public QWidget {
public:
    TPreviewBox(TQelOpenDialog* Dialog, QWidget* Parent) : QWidget(Parent), FDialog(Dialog) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        FDialog->PaintPreview(painter);
    }

private:
    TQelOpenDialog* FDialog;
};

// The preview panel: a border of 6, the picture box along the top at a set
// height and the label filling the rest.
class TPreviewPanel : public QWidget {
public:
    static constexpr int Border = 6;
    // The room the dialog's own controls leave beside the file list.
    static constexpr int PanelWidth = 168;

    explicit TPreviewPanel(QWidget* Parent) : QWidget(Parent) {}

    void SetChildren(QWidget* Box, QLabel* Label) {
        FBox = Box;
        FLabel = Label;
        Arrange();
    }
    void SetBoxHeight(int Height) {
        FBoxHeight = std::max(0, Height);
        Arrange();
    }
    QSize sizeHint() const override { return QSize(PanelWidth, FBoxHeight + 2 * Border); }
    QSize minimumSizeHint() const override { return QSize(PanelWidth, 0); }

protected:
    void resizeEvent(QResizeEvent*) override { Arrange(); }

private:
    void Arrange() {
        if (!FBox || !FLabel) return;
        const int w = std::max(0, width() - 2 * Border);
        const int boxHeight = std::min(FBoxHeight, std::max(0, height() - 2 * Border));
        FBox->setGeometry(Border, Border, w, boxHeight);
        FLabel->setGeometry(Border, Border + boxHeight, w, std::max(0, height() - 2 * Border - boxHeight));
    }

    QWidget* FBox = nullptr;
    QLabel* FLabel = nullptr;
    int FBoxHeight = 224;
};

}  // namespace

// --- message box ---------------------------------------------------------

int ShowMessageBox(const QString& Caption, const QString& Text, const QStringList& Buttons, const TQelIconRef& Icon,
                   const std::optional<QString>& CheckBoxCaption, bool* CheckState) {
    TQelMessageBox box;
    return box.Execute(Caption, Text, Buttons, Icon, CheckBoxCaption, CheckState);
}

QPixmap TQelMessageBox::LoadIcon(const TQelIconRef& Icon) {
    const QSize size(IconSize, IconSize);
    if (Icon.IsName() || Icon.Id() > IDI_ASTERISK) {
        // Callers may spell an icon's name in any case; the resources are
        // stored under upper-case names.
        const QString name = Icon.IsName() ? Icon.Name().toUpper() : QString::number(Icon.Id());
        for (const char* suffix : {"", ".svg", ".png"}) {
            const QString path = QStringLiteral(":/icons/") + name + QLatin1String(suffix);
            if (QFile::exists(path)) return QIcon(path).pixmap(size);
        }
        return QPixmap();
    }
    QStyle* style = QApplication::style();
    switch (Icon.Id()) {
        case IDI_APPLICATION: return QApplication::windowIcon().pixmap(size);
        case IDI_HAND: return style->standardIcon(QStyle::SP_MessageBoxCritical).pixmap(size);
        case IDI_QUESTION: return style->standardIcon(QStyle::SP_MessageBoxQuestion).pixmap(size);
        case IDI_EXCLAMATION: return style->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(size);
        case IDI_ASTERISK: return style->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(size);
        default: return QPixmap();
    }
}

int TQelMessageBox::Execute(const QString& Caption, const QString& Text, const QStringList& Buttons,
                            const TQelIconRef& Icon, const std::optional<QString>& CheckBoxCaption,
                            bool* CheckState) {
    TMessageBoxForm form(*this, DialogParent());
    form.setWindowTitle(Caption);
    form.setWindowFlags((form.windowFlags() | Qt::MSWindowsFixedSizeDialogHint) & ~Qt::WindowContextHelpButtonHint);

    FText = Text;
    const QRect measured =
        form.fontMetrics().boundingRect(QRect(0, 0, 400, INT_MAX / 2), Qt::TextWordWrap, FText);
    FTextWidth = measured.width();
    FTextHeight = measured.height();

    // An icon keeps its room even when the picture could not be found.
    FIcon.reset();
    if (!Icon.IsNone()) FIcon = LoadIcon(Icon);

    const int32_t buttonCount = int32_t(Buttons.size());
    const int32_t buttonsWidth = buttonCount == 0 ? 0 : 108 * buttonCount - 8;

    QCheckBox* checkBox = nullptr;
    int32_t checkHeight = 0;
    if (CheckBoxCaption) {
        checkBox = new QCheckBox(*CheckBoxCaption, &form);
        checkHeight = checkBox->sizeHint().height();
        if (CheckState) checkBox->setChecked(*CheckState);
    }

    const int32_t w = std::max(buttonsWidth, FTextWidth);
    int32_t clientWidth = 0;
    int32_t clientHeight = 0;
    if (FIcon) {
        const int32_t h = std::max(FTextHeight, int32_t(IconSize));
        clientWidth = w + IconSize + 48;
        clientHeight = h + 66 + checkHeight;
        if (checkBox) checkBox->setGeometry(IconSize + 32, h + 24, FTextWidth, checkHeight);
    } else {
        clientWidth = w + 32;
        clientHeight = FTextHeight + 66 + checkHeight;
        if (checkBox) checkBox->setGeometry(16, FTextHeight + 20, FTextWidth, checkHeight);
    }
    form.setFixedSize(clientWidth, clientHeight);

    for (int32_t i = 0; i < buttonCount; ++i) {
        auto* button = new QPushButton(Buttons[i], &form);
        button->setGeometry((clientWidth - buttonsWidth) / 2 + 108 * i, clientHeight - 34, 100, 24);
        QObject::connect(button, &QPushButton::clicked, &form, [&form, i] { form.done(i + 1); });
    }

    const int result = form.exec() - 1;
    if (checkBox && CheckState) *CheckState = checkBox->isChecked();
    return result;
}

void TQelMessageBox::PaintForm(QPainter& Canvas) const {
    int32_t left = 16;
    int32_t top = 16;
    if (FIcon) {
        if (!FIcon->isNull()) Canvas.drawPixmap(16, 16, *FIcon);
        left = IconSize + 32;
        if (IconSize > FTextHeight) top += (IconSize - FTextHeight) / 2;
    }
    Canvas.drawText(QRect(left, top, FTextWidth, FTextHeight), Qt::TextWordWrap, FText);
}

// --- preview thread ------------------------------------------------------

TQelDialogPreviewThread::TQelDialogPreviewThread(TQelOpenDialog* Dialog)
    : FDialog(Dialog), FRepaint([this] { Repaint(); }) {
    // Every field is set before the worker starts.
    FThread = std::thread([this] { Execute(); });
}

TQelDialogPreviewThread::~TQelDialogPreviewThread() {
    Terminate();
    if (FThread.joinable()) FThread.join();
}

void TQelDialogPreviewThread::RequestPreview(const QString& FileName, int32_t Width, int32_t Height) {
    std::unique_ptr<TQelThumbnail> old;
    {
        std::lock_guard<std::mutex> lock(FLock);
        old = std::move(FDialog->FThumbnail);
        ++FGeneration;
        FRequest = FileName;
        FRequestWidth = Width;
        FRequestHeight = Height;
    }
    if (!FileName.isEmpty()) FWake.notify_one();
}

void TQelDialogPreviewThread::Terminate() {
    {
        std::lock_guard<std::mutex> lock(FLock);
        FTerminated = true;
    }
    FWake.notify_one();
}

bool TQelDialogPreviewThread::Terminated() const {
    std::lock_guard<std::mutex> lock(FLock);
    return FTerminated;
}

void TQelDialogPreviewThread::Repaint() {
    if (!Terminated()) FDialog->FPaintBox->update();
}

void TQelDialogPreviewThread::Execute() {
    for (;;) {
        QString name;
        int32_t width = 0;
        int32_t height = 0;
        uint64_t generation = 0;
        {
            std::unique_lock<std::mutex> lock(FLock);
            // Both a request and Terminate notify: no need to wake up and look.
            FWake.wait(lock, [this] { return FTerminated || !FRequest.isEmpty(); });
            if (FTerminated) return;
            name = std::exchange(FRequest, QString());
            width = FRequestWidth;
            height = FRequestHeight;
            generation = FGeneration;
        }
        // A picture box squeezed to nothing has no room for a preview.
        if (width < 1 || height < 1) continue;

        std::unique_ptr<TQelThumbnail> thumbnail;
        bool built = false;
        try {
            built = FDialog->FFormats && FDialog->FFormats->GetThumbnail(name, width, height, thumbnail);
        } catch (const std::exception&) {
            // A file that cannot be previewed shows an empty frame.
            built = false;
        }
        if (!built || !thumbnail) continue;

        {
            std::lock_guard<std::mutex> lock(FLock);
            // Another selection (a file, a folder or nothing) came meanwhile,
            // or the dialog closed: this preview belongs to nobody.
            if (FTerminated || generation != FGeneration) continue;
            FDialog->FThumbnail = std::move(thumbnail);
        }
        // Never a blocking hand-over: the UI thread may be waiting for us.
        FRepaint.Wake();
    }
}

// --- open dialog ---------------------------------------------------------

TQelOpenDialog::TQelOpenDialog(QWidget* Owner, const TQelFileFormats* Formats)
    : QFileDialog(Owner), FFormats(Formats), FPanel(nullptr), FPaintBox(nullptr), FInfoLabel(nullptr) {
    // Only the toolkit's own dialog can host the preview panel.
    setOption(QFileDialog::DontUseNativeDialog, true);
}

TQelOpenDialog::~TQelOpenDialog() {
    // No selection change may reach this class once its part is gone.
    disconnect(this, &QFileDialog::currentChanged, this, nullptr);
    // The worker may still be storing a thumbnail: stop it before the
    // thumbnail slot goes.
    FPreviewThread.reset();
    FThumbnail.reset();
}

void TQelOpenDialog::Create() {
    auto* panel = new TPreviewPanel(this);
    panel->setObjectName(QStringLiteral("Panel"));
    FPanel = panel;
    FPaintBox = new TPreviewBox(this, panel);
    FPaintBox->setObjectName(QStringLiteral("PaintBox"));
    FInfoLabel = new QLabel(panel);
    FInfoLabel->setObjectName(QStringLiteral("InfoLabel"));
    FInfoLabel->setWordWrap(true);
    FInfoLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    panel->SetChildren(FPaintBox, FInfoLabel);

    if (auto* grid = qobject_cast<QGridLayout*>(layout()))
        grid->addWidget(panel, 0, grid->columnCount(), std::max(1, grid->rowCount()), 1);
    else
        panel->hide();

    connect(this, &QFileDialog::currentChanged, this, &TQelOpenDialog::SelectionChanged);

    FPreviewThread = std::make_unique<TQelDialogPreviewThread>(this);
    SetupFilter();
}

bool TQelOpenDialog::Execute() {
    setWindowTitle(QelText(12, QStringLiteral("Open")));
    setAcceptMode(QFileDialog::AcceptOpen);
    return exec() == QDialog::Accepted && !selectedFiles().isEmpty();
}

void TQelOpenDialog::SetupFilter() {
    TQelFileFormatArray formats;
    if (FFormats) FFormats->GetOpenFormats(formats);
    setNameFilters(QelNameFilters(formats));
    SetFilterIndex((FFormats ? FFormats->Count() : 0) + 1);
}

QString TQelOpenDialog::FileName() const { return selectedFiles().value(0); }

void TQelOpenDialog::SetFileName(const QString& Name) { selectFile(Name); }

int TQelOpenDialog::FilterIndex() const { return int(nameFilters().indexOf(selectedNameFilter())) + 1; }

void TQelOpenDialog::SetFilterIndex(int Index) {
    const QStringList filters = nameFilters();
    if (Index >= 1 && Index <= filters.size()) selectNameFilter(filters[Index - 1]);
}

const TQelThumbnail* TQelOpenDialog::Thumbnail() const {
    if (!FPreviewThread) return FThumbnail.get();
    std::lock_guard<std::mutex> lock(FPreviewThread->FLock);
    return FThumbnail.get();
}

void TQelOpenDialog::SelectionChanged(const QString& Name) {
    std::unique_ptr<TQelFileInfo> info;
    bool described = false;
    try {
        described = FFormats && FFormats->GetFileInfo(Name, info) && info;
    } catch (const std::exception&) {
        described = false;
    }

    // The request carries the picture box's size now, so the worker never
    // reads widget geometry.
    const int32_t width = FPaintBox->width() - 2;
    const int32_t height = FPaintBox->height() - 2;
    if (described) {
        QString description;
        info->GetDescription(description);
        FInfoLabel->setText(QStringLiteral("\n") + description);
        if (FPreviewThread) FPreviewThread->RequestPreview(Name, width, height);
    } else {
        FInfoLabel->clear();
        if (FPreviewThread) FPreviewThread->RequestPreview(QString(), 0, 0);
    }
    // The previous thumbnail is gone; show the bare frame until the next.
    FPaintBox->update();
}

void TQelOpenDialog::PaintPreview(QPainter& Canvas) {
    const QRect r = FPaintBox->rect();
    {
        std::unique_lock<std::mutex> lock;
        if (FPreviewThread) lock = std::unique_lock<std::mutex>(FPreviewThread->FLock);
        if (FThumbnail) {
            const TQelRect bounds(0, 0, r.width(), r.height());
            TQelRect drawn;
            Canvas.save();
            FThumbnail->Draw(Canvas, bounds, drawn);
            Canvas.restore();
            QRegion rest(r);
            if (!drawn.IsEmpty()) rest -= QRegion(drawn.Left, drawn.Top, drawn.Width(), drawn.Height());
            Canvas.setClipRegion(rest);
            Canvas.fillRect(r, FPaintBox->palette().color(QPalette::Window));
            Canvas.setClipping(false);
        }
    }
    Canvas.setPen(FPaintBox->palette().color(QPalette::Dark));
    Canvas.setBrush(Qt::NoBrush);
    if (r.width() > 0 && r.height() > 0) Canvas.drawRect(r.adjusted(0, 0, -1, -1));
}

void TQelOpenDialog::showEvent(QShowEvent* Event) {
    QFileDialog::showEvent(Event);
    DialogShown();
}

void TQelOpenDialog::DialogShown() {
    if (!FPanel) return;
    const int pixelHeight = QFontInfo(FInfoLabel->font()).pixelSize();
    static_cast<TPreviewPanel*>(FPanel)->SetBoxHeight(FPanel->height() - QelRoundEven(7 * pixelHeight * 1.25));
}

void TQelOpenDialog::done(int Result) {
    if (FPreviewThread) FPreviewThread->Terminate();
    QFileDialog::done(Result);
    QToolTip::hideText();
}

// --- save dialog ---------------------------------------------------------

TQelSaveDialog::TQelSaveDialog(QWidget* Owner, const TQelFileFormats* Formats) : TQelOpenDialog(Owner, Formats) {}

bool TQelSaveDialog::Execute() {
    setWindowTitle(QelText(15, QStringLiteral("Save")));
    setAcceptMode(QFileDialog::AcceptSave);
    // The editor asks about overwriting itself.
    setOption(QFileDialog::DontConfirmOverwrite, true);
    return exec() == QDialog::Accepted && !selectedFiles().isEmpty();
}

void TQelSaveDialog::SetupFilter() {
    TQelFileFormatArray formats;
    if (Formats()) Formats()->GetSaveFormats(formats);
    setNameFilters(QelNameFilters(formats));
}
