#include "QelMainForm.h"

#include <QtEndian>
#include <QDir>
#include <QDockWidget>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHash>
#include <QHBoxLayout>
#include <QImage>
#include <QImageReader>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPixmap>
#include <QScreen>
#include <QStatusBar>
#include <QToolBar>
#include <QUrl>

#include <algorithm>
#include <climits>

#include "QelLocalizer.h"

TMainForm* MainForm = nullptr;
TQelImageList* ToolbarImages = nullptr;

namespace {

constexpr TQelGuid MainFormSettingsGuid = TQelGuid::Parse("{7AF6D7FF-618B-41D9-882E-419D500DF28B}");
constexpr uint32_t MainFormNodeId = 1;
constexpr uint32_t LanguageElement = 1;
constexpr uint32_t PlacementElement = 2;

const char* const ImageIndexProperty = "qelImageIndex";

// The pictures modules add by name, each a file; the composition root
// names them.
QHash<QString, QString>& ImageResources() {
    static QHash<QString, QString> resources;
    return resources;
}

void UpdateToggleCaptions(QMenu* menu, int depth) {
    // Menus are trees built by the program; the bound only guards against a
    // menu that was made to contain itself.
    if (depth > 32) return;
    const QList<QAction*> actions = menu->actions();
    for (QAction* action : actions) {
        if (QMenu* sub = action->menu()) {
            UpdateToggleCaptions(sub, depth + 1);
        } else if (auto* toolbar = qobject_cast<QToolBar*>(action->parent())) {
            if (toolbar->toggleViewAction() == action && action->text() != toolbar->windowTitle())
                action->setText(toolbar->windowTitle());
        } else if (auto* dock = qobject_cast<QDockWidget*>(action->parent())) {
            if (dock->toggleViewAction() == action && action->text() != dock->windowTitle())
                action->setText(dock->windowTitle());
        }
    }
}

}  // namespace

void QelRegisterImageResource(const QString& Name, const QString& FileName) { ImageResources().insert(Name, FileName); }

QString QelImageResourceFile(const QString& Name) { return ImageResources().value(Name); }

// ---------------------------------------------------------------------------
// TQelImageList

TQelImageList::TQelImageList(QSize imageSize) : FImageSize(imageSize), FIcons() {}

QIcon TQelImageList::Icon(int index) const {
    if (index < 0 || index >= Count()) return QIcon();
    return FIcons[size_t(index)];
}

int TQelImageList::Add(const QIcon& icon) {
    FIcons.push_back(icon);
    return Count() - 1;
}

int TQelImageList::AddFromFile(const QString& fileName) {
    QImageReader reader(fileName);
    if (!reader.canRead()) return -1;
    const bool scalable = reader.format() == "svg" || reader.format() == "svgz";
    if (scalable) reader.setScaledSize(FImageSize);
    const QImage image = reader.read();
    if (image.isNull()) return -1;
    // Drawings scale cleanly at any screen density; keep them as drawings.
    if (scalable) return Add(QIcon(fileName));
    if (image.hasAlphaChannel()) return Add(QIcon(QPixmap::fromImage(image)));
    // Pictures without transparency mark it with the colour of their
    // top-left pixel.
    QImage masked = image.convertToFormat(QImage::Format_ARGB32);
    const QRgb transparent = masked.pixel(0, 0);
    for (int y = 0; y < masked.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(masked.scanLine(y));
        for (int x = 0; x < masked.width(); ++x) {
            if (row[x] == transparent) row[x] = 0;
        }
    }
    return Add(QIcon(QPixmap::fromImage(masked)));
}

void TQelImageList::LoadIndexed(const QString& folder) {
    const QDir dir(folder);
    const QStringList files = dir.entryList({QStringLiteral("*.svg"), QStringLiteral("*.png")}, QDir::Files, QDir::Name);
    // Image numbers are small; anything else is not one of ours.
    constexpr int MaxIndex = 999;
    for (const QString& file : files) {
        bool ok = false;
        const int index = QFileInfo(file).completeBaseName().toInt(&ok);
        if (!ok || index < 0 || index > MaxIndex) continue;
        TQelImageList one(FImageSize);
        if (one.AddFromFile(dir.filePath(file)) < 0) continue;
        if (index >= Count()) FIcons.resize(size_t(index) + 1);
        FIcons[size_t(index)] = one.Icon(0);
    }
}

void TQelImageList::SetActionImage(QAction* action, int index) const {
    if (!action) return;
    action->setIcon(Icon(index));
    action->setProperty(ImageIndexProperty, index);
}

int TQelImageList::ActionImageIndex(const QAction* action) {
    if (!action) return -1;
    const QVariant value = action->property(ImageIndexProperty);
    return value.isValid() ? value.toInt() : -1;
}

// ---------------------------------------------------------------------------
// TQelStatusPanels

TQelStatusPanels::TQelStatusPanels(QStatusBar* statusBar) : FStatusBar(statusBar), FPanels() {}

int TQelStatusPanels::Add(int size, Qt::Alignment alignment, bool framed) {
    auto* panel = new QLabel(FStatusBar);
    panel->setAlignment(alignment | Qt::AlignVCenter);
    panel->setFrameShape(framed ? QFrame::Panel : QFrame::NoFrame);
    panel->setFrameShadow(QFrame::Sunken);
    panel->setFixedWidth(std::max(size, 0));
    FStatusBar->addWidget(panel);
    FPanels.push_back(panel);
    return Count() - 1;
}

QLabel* TQelStatusPanels::Panel(int index) const {
    return index >= 0 && index < Count() ? FPanels[size_t(index)] : nullptr;
}

QString TQelStatusPanels::Caption(int index) const {
    QLabel* panel = Panel(index);
    return panel ? panel->text() : QString();
}

void TQelStatusPanels::SetCaption(int index, const QString& text) {
    QLabel* panel = Panel(index);
    if (panel && panel->text() != text) panel->setText(text);
}

int TQelStatusPanels::Size(int index) const {
    QLabel* panel = Panel(index);
    return panel ? panel->minimumWidth() : 0;
}

void TQelStatusPanels::SetSize(int index, int size) {
    if (QLabel* panel = Panel(index)) panel->setFixedWidth(std::max(size, 0));
}

void TQelStatusPanels::SetControl(int index, QWidget* control) {
    QLabel* panel = Panel(index);
    if (!panel || !control) return;
    panel->clear();
    if (!panel->layout()) {
        auto* layout = new QHBoxLayout(panel);
        layout->setContentsMargins(1, 1, 1, 1);
    }
    panel->layout()->addWidget(control);
}

// ---------------------------------------------------------------------------
// Window placement

std::array<uint8_t, TQelWindowPlacement::RecordSize> TQelWindowPlacement::ToBytes() const {
    std::array<uint8_t, RecordSize> bytes{};
    const int32_t fields[11] = {Length, Flags, ShowCmd, MinX, MinY, MaxX, MaxY, Left, Top, Right, Bottom};
    for (size_t i = 0; i < 11; ++i) qToLittleEndian<int32_t>(fields[i], bytes.data() + 4 * i);
    return bytes;
}

TQelWindowPlacement TQelWindowPlacement::FromBytes(const std::array<uint8_t, RecordSize>& bytes) {
    TQelWindowPlacement p;
    int32_t* fields[11] = {&p.Length, &p.Flags, &p.ShowCmd, &p.MinX, &p.MinY, &p.MaxX,
                           &p.MaxY,   &p.Left,  &p.Top,     &p.Right, &p.Bottom};
    for (size_t i = 0; i < 11; ++i) *fields[i] = qFromLittleEndian<int32_t>(bytes.data() + 4 * i);
    return p;
}

QRect QelClampRectToArea(const QRect& rect, const QRect& area) {
    if (area.isEmpty()) return rect;
    const int w = std::min(rect.width(), area.width());
    const int h = std::min(rect.height(), area.height());
    const int x = std::clamp(rect.x(), area.x(), area.x() + area.width() - w);
    const int y = std::clamp(rect.y(), area.y(), area.y() + area.height() - h);
    return QRect(x, y, w, h);
}

QRect QelClampRectToScreen(const QRect& rect) {
    // The screen that shows most of the rectangle; the platform moved windows
    // that are off every screen back onto the nearest one, Qt does not.
    QScreen* best = nullptr;
    qint64 bestArea = 0;
    const QList<QScreen*> screens = QGuiApplication::screens();
    for (QScreen* screen : screens) {
        const QRect common = screen->availableGeometry().intersected(rect);
        const qint64 area = qint64(common.width()) * common.height();
        if (!common.isEmpty() && area > bestArea) {
            best = screen;
            bestArea = area;
        }
    }
    if (!best) best = QGuiApplication::primaryScreen();
    if (!best) return rect;
    return QelClampRectToArea(rect, best->availableGeometry());
}

// ---------------------------------------------------------------------------
// TMainForm

TMainForm::TMainForm(QWidget* parent)
    : TQelForm<QMainWindow>(parent),
      DefaultImages(QSize(24, 24)),
      OnDropFile(),
      OnUpdateControls(),
      FStatusPanels() {}

TMainForm::~TMainForm() {
    if (MainForm == this) MainForm = nullptr;
}

void TMainForm::Create() {
    TQelForm<QMainWindow>::Create();
    setObjectName(QStringLiteral("MainForm"));
    if (TQelApplication* app = TQelApplication::Instance()) setWindowTitle(app->GetTitle());
    setAcceptDrops(true);
    // The left and right docks hold one row of panels each.
    setDockNestingEnabled(false);

    Menu = menuBar();
    Menu->setObjectName(QStringLiteral("Menu"));

    FileMenuItem = AddSubmenu(QString(), nullptr, nullptr);
    FileMenuItem->setObjectName(QStringLiteral("FileMenuItem"));
    FileMenuSeparator = AddSeparator(FileMenuItem, nullptr);
    FileMenuSeparator->setObjectName(QStringLiteral("FileMenuSeparator"));
    ExitMenuItem = AddMenuItem(
        QString(), QKeySequence(), [this](QObject* sender) { ExitMenuItemClick(sender); }, -1, FileMenuItem, nullptr);
    ExitMenuItem->setObjectName(QStringLiteral("ExitMenuItem"));

    ViewMenuItem = AddSubmenu(QString(), nullptr, nullptr);
    ViewMenuItem->setObjectName(QStringLiteral("ViewMenuItem"));
    ToolbarsMenuItem = AddSubmenu(QString(), ViewMenuItem, nullptr);
    ToolbarsMenuItem->setObjectName(QStringLiteral("ToolbarsMenuItem"));
    ViewMenuSeparator = AddSeparator(ViewMenuItem, nullptr);
    ViewMenuSeparator->setObjectName(QStringLiteral("ViewMenuSeparator"));
    LanguageMenuItem = AddSubmenu(QString(), ViewMenuItem, nullptr);
    LanguageMenuItem->setObjectName(QStringLiteral("LanguageMenuItem"));

    HelpMenuItem = AddSubmenu(QString(), nullptr, nullptr);
    HelpMenuItem->setObjectName(QStringLiteral("HelpMenuItem"));

    StatusBar = statusBar();
    StatusBar->setObjectName(QStringLiteral("StatusBar"));
    FStatusPanels = std::make_unique<TQelStatusPanels>(StatusBar);

    // The empty work area until a document is shown.
    auto* workspace = new QWidget(this);
    workspace->setObjectName(QStringLiteral("Workspace"));
    workspace->setBackgroundRole(QPalette::Dark);
    workspace->setAutoFillBackground(true);
    setCentralWidget(workspace);

    // First start: a size of the platform's choosing; the stored placement
    // replaces it later.
    QSize size(622, 350);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        size = size.expandedTo(screen->availableGeometry().size() * 3 / 4);
    resize(size);
}

QAction* TMainForm::AddMenuItem(const QString& caption, const QKeySequence& shortCut, const TQelNotifyEvent& onClick,
                                int imageIndex, QWidget* parent, QAction* before) {
    QWidget* owner = parent ? parent : menuBar();
    auto* item = new QAction(caption, owner);
    item->setShortcut(shortCut);
    GetImages()->SetActionImage(item, imageIndex);
    if (onClick) connect(item, &QAction::triggered, item, [onClick, item] { onClick(item); });
    owner->insertAction(before, item);
    return item;
}

QMenu* TMainForm::AddSubmenu(const QString& caption, QWidget* parent, QAction* before) {
    QWidget* owner = parent ? parent : menuBar();
    auto* menu = new QMenu(caption, owner);
    owner->insertAction(before, menu->menuAction());
    return menu;
}

QAction* TMainForm::AddSeparator(QWidget* parent, QAction* before) {
    QWidget* owner = parent ? parent : menuBar();
    auto* separator = new QAction(owner);
    separator->setSeparator(true);
    owner->insertAction(before, separator);
    return separator;
}

QToolBar* TMainForm::AddToolbar(const QString& caption) {
    auto* toolbar = new QToolBar(caption, this);
    toolbar->setIconSize(GetImages()->ImageSize());
    addToolBar(Qt::TopToolBarArea, toolbar);
    ToolbarsMenuItem->addAction(toolbar->toggleViewAction());
    return toolbar;
}

void TMainForm::SetupToolButton(QWidget* toolbar, QAction* item, const TQelNotifyEvent& onClick, int imageIndex,
                                const QString& caption, QAction* before, const TQelImageList* images) {
    if (onClick) connect(item, &QAction::triggered, item, [onClick, item] { onClick(item); });
    if (images) images->SetActionImage(item, imageIndex);
    item->setText(caption);
    item->setToolTip(caption);
    if (toolbar) toolbar->insertAction(before, item);
}

QDockWidget* TMainForm::AddDockablePanel() {
    auto* panel = new QDockWidget(this);
    // Not shown until it is placed in a dock.
    panel->hide();
    return panel;
}

int TMainForm::AddImage(const QString& resourceName) {
    const QString file = QelImageResourceFile(resourceName);
    if (file.isEmpty()) return -1;
    TQelImageList* images = GetImages();
    const int count = images->Count();
    return images->AddFromFile(file) < 0 ? -1 : count;
}

TQelImageList* TMainForm::GetImages() { return ToolbarImages ? ToolbarImages : &DefaultImages; }

TQelWindowPlacement TMainForm::GetWindowPlacement() const {
    TQelWindowPlacement p;
    p.ShowCmd = windowState() & Qt::WindowMaximized ? TQelWindowPlacement::ShowMaximized
                                                    : TQelWindowPlacement::ShowNormal;
    // A maximised window reports its normal rectangle separately; one that
    // was never shown has only its geometry.
    QRect normal = geometry();
    if ((windowState() & (Qt::WindowMaximized | Qt::WindowMinimized | Qt::WindowFullScreen)) &&
        !normalGeometry().isEmpty())
        normal = normalGeometry();
    p.Left = normal.x();
    p.Top = normal.y();
    p.Right = normal.x() + normal.width();
    p.Bottom = normal.y() + normal.height();
    return p;
}

void TMainForm::SetWindowPlacement(const TQelWindowPlacement& placement) {
    if (placement.Length != TQelWindowPlacement::RecordSize) return;
    const qint64 width = qint64(placement.Right) - placement.Left;
    const qint64 height = qint64(placement.Bottom) - placement.Top;
    // An empty or absurd rectangle is damage: the window keeps its size.
    if (width > 0 && height > 0 && width <= INT_MAX / 2 && height <= INT_MAX / 2) {
        const QRect normal(placement.Left, placement.Top, int(width), int(height));
        setGeometry(QelClampRectToScreen(normal));
    }
    if (placement.ShowCmd == TQelWindowPlacement::ShowMaximized)
        setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowMaximized);
    else
        setWindowState(windowState() & ~(Qt::WindowMaximized | Qt::WindowMinimized));
}

void TMainForm::Localize() {
    Menu->setWindowTitle(QelText(161));
    FileMenuItem->setTitle(QelText(10));
    ExitMenuItem->setText(QelText(23));
    ViewMenuItem->setTitle(QelText(34));
    ToolbarsMenuItem->setTitle(QelText(163));
    LanguageMenuItem->setTitle(QelText(41));
    HelpMenuItem->setTitle(QelText(46));

    if (TQelLocalizer* localizer = TQelLocalizer::Instance()) {
        const QList<QAction*> items = LanguageMenuItem->actions();
        for (QAction* item : items) {
            const uint16_t langId = uint16_t(item->data().toUInt());
            item->setChecked(langId == localizer->GetCurrentLangId());
            QString name = item->text();
            localizer->GetLanguageName(langId, name);
            item->setText(name);
        }
    }
    if (TQelApplication* app = TQelApplication::Instance())
        app->QueueCall(TQelMethod(this, &TMainForm::UpdateToolbarToggleCaptions));
}

void TMainForm::Initialize() {
    // Built before the inherited Initialize localises, with the stored
    // language already active.
    if (TQelLocalizer* localizer = TQelLocalizer::Instance()) {
        TQelLanguageList languages;
        localizer->GetLanguageList(languages);
        for (const auto& [name, language] : languages) {
            // Not an exclusive group: two files may share a language id, and
            // then both items are checked.
            auto* item = new QAction(name, LanguageMenuItem);
            item->setCheckable(true);
            item->setData(uint(language->LangId));
            item->setChecked(language->LangId == localizer->GetCurrentLangId());
            connect(item, &QAction::triggered, this, [this, item] { LanguageMenuItemClick(item); });
            LanguageMenuItem->addAction(item);
        }
    }
    TQelForm<QMainWindow>::Initialize();
}

void TMainForm::UpdateControls() {
    if (OnUpdateControls) OnUpdateControls(this);
}

void TMainForm::LoadSettings(TQelSDFReader& reader) {
    if (!reader.OpenNode(MainFormNodeId, MainFormSettingsGuid)) return;
    std::array<uint8_t, TQelWindowPlacement::RecordSize> bytes{};
    if (reader.ReadData(PlacementElement, bytes.data(), bytes.size()))
        SetWindowPlacement(TQelWindowPlacement::FromBytes(bytes));
    if (TQelLocalizer* localizer = TQelLocalizer::Instance()) {
        int32_t langId = localizer->GetCurrentLangId();
        if (reader.ReadInteger(LanguageElement, langId)) localizer->SetLanguage(uint16_t(langId));
    }
    reader.CloseNode();
}

void TMainForm::SaveSettings(TQelSDFWriter& writer) {
    writer.BeginNode(MainFormNodeId, MainFormSettingsGuid);
    const auto bytes = GetWindowPlacement().ToBytes();
    writer.WriteData(PlacementElement, bytes.data(), bytes.size());
    TQelLocalizer* localizer = TQelLocalizer::Instance();
    writer.WriteInteger(LanguageElement, localizer ? localizer->GetCurrentLangId() : 0);
    writer.EndNode();
}

void TMainForm::LanguageMenuItemClick(QObject* sender) {
    auto* item = qobject_cast<QAction*>(sender);
    TQelLocalizer* localizer = TQelLocalizer::Instance();
    if (item && localizer) localizer->SetLanguage(uint16_t(item->data().toUInt()));
}

void TMainForm::ExitMenuItemClick(QObject*) { close(); }

void TMainForm::UpdateToolbarToggleCaptions() { UpdateToggleCaptions(ViewMenuItem, 0); }

void TMainForm::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void TMainForm::dropEvent(QDropEvent* event) {
    // Only the first file counts. Its full name, whatever its characters
    // and length, so that no file is silently refused for its name.
    const QList<QUrl> urls = event->mimeData()->urls();
    event->acceptProposedAction();
    if (urls.isEmpty() || !OnDropFile) return;
    const QString fileName = urls.first().toLocalFile();
    if (!fileName.isEmpty() && QFileInfo(fileName).isFile()) OnDropFile(fileName);
}
