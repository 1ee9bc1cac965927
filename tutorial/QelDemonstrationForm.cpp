#include "QelDemonstrationForm.h"

#include <QBuffer>
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QImageReader>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>

#include <algorithm>
#include <exception>

#include "QelDemoScript.h"
#include "QelDemonstration.h"
#include "QelHelpers.h"
#include "QelLocalizer.h"
#include "QelQtGeometry.h"
#include "QelRegularFile.h"

namespace {

// Texts of the language files.
constexpr int32_t TextClose = 13;
constexpr int32_t TextTutorials = 37;
constexpr int32_t TextStart = 75;
constexpr int32_t TextShowAtStartup = 802;
constexpr int32_t TextSelect = 910;

constexpr QRgb FrameColor = 0xCBCBCB;

// The stored picture of tutorials without one of their own.
QImage NoPictureThumbnail() {
    constexpr int size = TQelDemonstrationForm::ThumbnailSize;
    QImage image(size, size, QImage::Format_RGB32);
    image.fill(Qt::white);
    QImageReader reader(QStringLiteral(":/pictures/DemoThumbnail.svg"));
    reader.setScaledSize(QSize(size, size));
    const QImage picture = reader.read();
    QPainter painter(&image);
    if (!picture.isNull()) painter.drawImage(0, 0, picture);
    return image;
}

QString InfoText(const TQelDemoScript& Script, const QByteArray& Key) {
    const QByteArray value = Script.ReadInfoValue(Key);
    return Script.Utf8() ? QString::fromUtf8(value)
                         : TQelDemoScript::FromSystemCodePage(std::string_view(value.constData(), size_t(value.size())));
}

}  // namespace

QImage QelDemoThumbnail(const QImage& Picture) {
    constexpr int size = TQelDemonstrationForm::ThumbnailSize;
    const TQelRect square(0, 0, size, size);
    TQelRect fitted;
    FitRectProportional(TQelRect(0, 0, Picture.width(), Picture.height()), square, fitted);
    // A sliver of a picture keeps at least one pixel.
    const int w = std::max(1, fitted.Width());
    const int h = std::max(1, fitted.Height());
    TQelRect placed;
    CenterRectIn(TQelRect(0, 0, w, h), square, placed);

    QImage image(size, size, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    const QImage scaled = Picture.size() == QSize(w, h)
                              ? Picture
                              : Picture.scaled(w, h, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    painter.drawImage(QPoint(placed.Left, placed.Top), scaled);
    // An aliased one-pixel pen on (0, 0, 63, 63) covers exactly the outer
    // pixels of the square.
    painter.setPen(QPen(QColor(FrameColor), 1));
    painter.setBrush(Qt::NoBrush);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.drawRect(0, 0, size - 1, size - 1);
    return image;
}

TQelDemonstrationForm::TQelDemonstrationForm(TQelDemonstrationModule* Module, QWidget* parent)
    : TQelForm<QDialog>(parent), FModule(Module) {}

TQelDemonstrationForm::~TQelDemonstrationForm() = default;

void TQelDemonstrationForm::Create() {
    setObjectName(QStringLiteral("QelDemonstrationForm"));
    setFixedSize(369, 303);

    SelectLabel = new QLabel(this);
    SelectLabel->setObjectName(QStringLiteral("SelectLabel"));
    SelectLabel->setGeometry(8, 8, 353, 33);
    SelectLabel->setWordWrap(true);
    SelectLabel->setAlignment(Qt::AlignLeft | Qt::AlignBottom);

    DemoListView = new QListWidget(this);
    DemoListView->setObjectName(QStringLiteral("DemoListView"));
    DemoListView->setGeometry(8, 47, 353, 217);
    DemoListView->setViewMode(QListView::IconMode);
    DemoListView->setIconSize(QSize(ThumbnailSize, ThumbnailSize));
    DemoListView->setResizeMode(QListView::Adjust);
    DemoListView->setMovement(QListView::Static);
    DemoListView->setWordWrap(true);
    // Room for a title of two or three lines under each picture.
    DemoListView->setGridSize(QSize(ThumbnailSize + 32, ThumbnailSize + 50));
    DemoListView->setSelectionMode(QAbstractItemView::SingleSelection);
    DemoListView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // The selection stays visible while the list does not have the focus.
    QPalette palette = DemoListView->palette();
    palette.setColor(QPalette::Inactive, QPalette::Highlight, palette.color(QPalette::Active, QPalette::Highlight));
    palette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                     palette.color(QPalette::Active, QPalette::HighlightedText));
    DemoListView->setPalette(palette);

    ShowAtStartupCheckBox = new QCheckBox(this);
    ShowAtStartupCheckBox->setObjectName(QStringLiteral("ShowAtStartupCheckBox"));
    ShowAtStartupCheckBox->setGeometry(8, 270, 145, 17);

    StartButton = new QPushButton(this);
    StartButton->setObjectName(QStringLiteral("StartButton"));
    StartButton->setGeometry(200, 270, 75, 25);
    StartButton->setDefault(true);
    StartButton->setEnabled(false);

    CloseButton = new QPushButton(this);
    CloseButton->setObjectName(QStringLiteral("CloseButton"));
    CloseButton->setGeometry(286, 270, 75, 25);

    DemoImageList.push_back(NoPictureThumbnail());

    FormCreate();

    // Connected after the list is filled and its item selected, which has
    // already brought Start in step.
    connect(DemoListView, &QListWidget::itemSelectionChanged, this, [this] { DemoListViewChange(); });
    connect(DemoListView, &QListWidget::itemDoubleClicked, this, [this] { DemoListViewDblClick(); });
    connect(ShowAtStartupCheckBox, &QCheckBox::clicked, this, [this] { ShowAtStartupCheckBoxClick(); });
    connect(StartButton, &QPushButton::clicked, this, [this] { accept(); });
    connect(CloseButton, &QPushButton::clicked, this, [this] { reject(); });

    if (parentWidget()) {
        const QRect owner = parentWidget()->window()->geometry();
        move(owner.center() - QPoint(width() / 2, height() / 2));
    }
}

void TQelDemonstrationForm::Localize() {
    setWindowTitle(QelText(TextTutorials));
    SelectLabel->setText(QelText(TextSelect));
    ShowAtStartupCheckBox->setText(QelText(TextShowAtStartup));
    StartButton->setText(QelText(TextStart));
    CloseButton->setText(QelText(TextClose));
}

void TQelDemonstrationForm::FormCreate() {
    FillList();
    if (DemoListView->count() > 0 && FModule) {
        FModule->ListIndex = std::min(FModule->ListIndex, int32_t(DemoListView->count() - 1));
        if (FModule->ListIndex >= 0) DemoListView->setCurrentRow(FModule->ListIndex);
    }
    DemoListViewChange();
    if (FModule) ShowAtStartupCheckBox->setChecked(FModule->ShowAtStartup);
}

void TQelDemonstrationForm::FillList() {
    const QString folder = FModule ? FModule->DemoFolder : QString();
    if (folder.isEmpty()) return;
    // Regular files only: a FIFO or device named "*.dsc" would block or
    // never end. The name pattern ignores case.
    const QFileInfoList files =
        QDir(folder).entryInfoList({QStringLiteral("*.dsc")}, QDir::Files | QDir::Hidden, QDir::NoSort);
    for (const QFileInfo& file : files) {
        auto script = std::make_unique<TQelDemoScript>();
        try {
            script->LoadFromFile(file.filePath());
        } catch (const std::exception&) {
            // One unreadable file does not stop the list.
            continue;
        }
        FScripts.push_back(std::move(script));
    }
    std::stable_sort(FScripts.begin(), FScripts.end(), [](const auto& a, const auto& b) {
        return a->FileName().compare(b->FileName(), Qt::CaseInsensitive) < 0;
    });
    for (size_t i = 0; i < FScripts.size(); ++i) {
        const TQelDemoScript& script = *FScripts[i];
        const int image = AddThumbnail(script);
        auto* item = new QListWidgetItem(QIcon(QPixmap::fromImage(DemoImageList[size_t(image)])), script.GetTitle());
        item->setData(Qt::UserRole, int(i));
        DemoListView->addItem(item);
    }
}

int TQelDemonstrationForm::AddThumbnail(const TQelDemoScript& Script) {
    const QString image = InfoText(Script, "Image");
    if (image.isEmpty() || !FModule) return 0;
    const QString fileName = QDir(FModule->DemoFolder).filePath(image);
    // Read as a whole regular file first: a FIFO or device named like the
    // picture would block the list, and a huge file is no picture.
    const TQelFileContents file = QelReadRegularFile(fileName, MaxThumbnailFileSize);
    if (!file.Ok()) return 0;
    QBuffer buffer;
    buffer.setData(file.Bytes);
    if (!buffer.open(QIODevice::ReadOnly)) return 0;
    QImageReader reader(&buffer);
    reader.setAutoTransform(false);
    // A large photo is decoded straight at the thumbnail's size.
    const QSize size = reader.size();
    if (size.isValid() && size.width() > 0 && size.height() > 0) {
        TQelRect fitted;
        FitRectProportional(TQelRect(0, 0, size.width(), size.height()),
                            TQelRect(0, 0, ThumbnailSize, ThumbnailSize), fitted);
        if (fitted.Width() > 0 && fitted.Height() > 0) reader.setScaledSize(QSize(fitted.Width(), fitted.Height()));
    }
    const QImage picture = reader.read();
    if (picture.isNull()) return 0;
    DemoImageList.push_back(QelDemoThumbnail(picture));
    return int(DemoImageList.size()) - 1;
}

int TQelDemonstrationForm::ItemCount() const { return DemoListView->count(); }

void TQelDemonstrationForm::DemoListViewChange() {
    const QList<QListWidgetItem*> selected = DemoListView->selectedItems();
    FChosenScript = selected.isEmpty() ? nullptr : FScripts[size_t(selected.first()->data(Qt::UserRole).toInt())].get();
    const bool enabled = FChosenScript != nullptr;
    if (StartButton->isEnabled() != enabled) StartButton->setEnabled(enabled);
}

void TQelDemonstrationForm::DemoListViewDblClick() {
    if (StartButton->isEnabled()) StartButton->click();
}

void TQelDemonstrationForm::ShowAtStartupCheckBoxClick() {
    if (FModule) FModule->ShowAtStartup = ShowAtStartupCheckBox->isChecked();
}

void TQelDemonstrationForm::FormClose() {
    if (!FModule) return;
    const QList<QListWidgetItem*> selected = DemoListView->selectedItems();
    FModule->ListIndex = selected.isEmpty() ? -1 : DemoListView->row(selected.first());
}

void TQelDemonstrationForm::done(int Result) {
    FormClose();
    TQelForm<QDialog>::done(Result);
}
