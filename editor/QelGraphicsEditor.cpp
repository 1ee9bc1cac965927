#include "QelGraphicsEditor.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMenu>
#include <QPointer>
#include <QScopeGuard>
#include <QScreen>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "QelCursors.h"
#include "QelDemoPlayback.h"
#include "QelDemoScript.h"
#include "QelError.h"
#include "QelImport.h"
#include "QelLargeMemory.h"
#include "QelForms.h"
#include "QelLocalizer.h"
#include "QelMainForm.h"
#include "QelMessageBox.h"
#include "QelQtGeometry.h"
#include "QelScrollTool.h"

// --- TQelGraphicsEditor --------------------------------------------------------------

TQelGraphicsEditor* GraphicsEditor = nullptr;

namespace {

constexpr TQelGuid GraphicsEditorSettingsGuid = TQelGuid::Parse("{E1195915-FFAE-4A56-B331-F4567336FF25}");
constexpr uint32_t GraphicsEditorNodeId = 1;
constexpr uint32_t JpegQualityElement = 1;

// Texts of the language files.
constexpr int32_t TextOk = 1;
constexpr int32_t TextCancel = 2;
constexpr int32_t TextZoomIn = 98;
constexpr int32_t TextZoomOut = 99;
// The actual-size caption before the first localisation.
constexpr int32_t TextActualSizeInitial = 133;
constexpr int32_t TextActualSize = 166;
constexpr int32_t TextBestFit = 178;
constexpr int32_t TextPrevImage = 2104;
constexpr int32_t TextNextImage = 2105;
constexpr int32_t TextWriteBackFailed = 1208;
constexpr int32_t TextTutorialCannotOpen = 1209;

// An extension (dot included) names an image file when it is part of this
// list.
const QLatin1String FolderImageExtensions(".JPG;.JPEG;.TIF;.TIFF;.PNG;.BMP;.RLE;.DIB");

void SetCaptionAndHint(QAction* Action, const QString& Text) {
    if (!Action) return;
    Action->setText(Text);
    Action->setToolTip(Text);
}

// Pos and Size of one axis kept inside the area from AreaPos, AreaSize long.
void KeepInArea(int& Pos, int& Size, int AreaPos, int AreaSize) {
    if (Pos < AreaPos) Pos = AreaPos;
    if (int64_t(Pos) + Size > int64_t(AreaPos) + AreaSize) {
        if (Size < AreaSize) {
            Pos = AreaPos + (AreaSize - Size) / 2;
        } else {
            Pos = AreaPos;
            Size = AreaSize;
        }
    }
}

// Width and height grow by Delta where it is positive, without overflow.
int Grown(int Size, int64_t Delta) {
    return int(std::min<int64_t>(std::numeric_limits<int>::max(), Size + std::max<int64_t>(Delta, 0)));
}

}  // namespace

TQelGraphicsEditor::TQelGraphicsEditor()
    : TQelEditor(), IQelGraphicsStatus(), IQelGraphicsToolHost(), Formats(std::make_unique<TQelGraphicsFormats>()) {
    GraphicsEditor = this;
}

TQelGraphicsEditor::~TQelGraphicsEditor() {
    // The component's threads stop before anything their events reach goes.
    Import.reset();
    if (MainForm) MainForm->OnDropFile = nullptr;
    if (GraphicsEditor == this) GraphicsEditor = nullptr;
}

void TQelGraphicsEditor::Create() {
    TQelEditor::Create();
    // Documents are shown one at a time in the main window's work area, so
    // the window needs no multiple-document style.
    MainForm->OnDropFile = [this](const QString& FileName) { OpenFileByName(FileName); };

    Import = std::make_unique<TQelImport>(this);
    Import->CreateComponent();

    // Images are given by the composition root.
    TQelImageList* images = MainForm->GetImages();
    MainForm->AddToolButton(
        StandardToolbar, PrevImageButton, [this](QObject* sender) { PrevImageClick(sender); }, -1,
        QelText(TextPrevImage), SaveToolButton, images);
    PrevImageButton->setObjectName(QStringLiteral("PrevImageButton"));
    MainForm->AddToolButton(
        StandardToolbar, NextImageButton, [this](QObject* sender) { NextImageClick(sender); }, -1,
        QelText(TextNextImage), SaveToolButton, images);
    NextImageButton->setObjectName(QStringLiteral("NextImageButton"));

    QMenu* viewMenu = MainForm->ViewMenuItem;
    ZoomMenuSeparator = MainForm->AddSeparator(viewMenu, MainForm->ToolbarsMenuItem->menuAction());
    ZoomMenuSeparator->setObjectName(QStringLiteral("ZoomMenuSeparator"));
    ZoomToolbarSeparator = MainForm->AddSeparator(StandardToolbar, nullptr);
    ZoomToolbarSeparator->setObjectName(QStringLiteral("ZoomToolbarSeparator"));

    struct TZoomCommand {
        QAction*& MenuItem;
        QAction*& Button;
        const char* MenuName;
        const char* ButtonName;
        int32_t Text;
        QKeySequence ShortCut;
        void (TQelGraphicsEditor::*Handler)(QObject*);
    };
    const TZoomCommand commands[] = {
        {ZoomInMenuItem, ZoomInButton, "ZoomInMenuItem", "ZoomInButton", TextZoomIn,
         QKeySequence(QKeyCombination(Qt::ControlModifier | Qt::KeypadModifier, Qt::Key_Plus)), &TQelGraphicsEditor::ZoomInClick},
        {ZoomOutMenuItem, ZoomOutButton, "ZoomOutMenuItem", "ZoomOutButton", TextZoomOut,
         QKeySequence(QKeyCombination(Qt::ControlModifier | Qt::KeypadModifier, Qt::Key_Minus)), &TQelGraphicsEditor::ZoomOutClick},
        {ActualSizeMenuItem, ActualSizeButton, "ActualSizeMenuItem", "ActualSizeButton", TextActualSizeInitial,
         QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_0), &TQelGraphicsEditor::ActualSizeClick},
        {ScaleToBestFitMenuItem, ScaleToBestFitButton, "ScaleToBestFitMenuItem", "ScaleToBestFitButton",
         TextBestFit, QKeySequence(), &TQelGraphicsEditor::BestFitClick},
    };
    for (const TZoomCommand& command : commands) {
        const auto handler = [this, h = command.Handler](QObject* sender) { (this->*h)(sender); };
        command.MenuItem =
            MainForm->AddMenuItem(QelText(command.Text), command.ShortCut, handler, -1, viewMenu, ZoomMenuSeparator);
        command.MenuItem->setObjectName(QLatin1String(command.MenuName));
        MainForm->AddToolButton(StandardToolbar, command.Button, handler, -1, QelText(command.Text), nullptr, images);
        command.Button->setObjectName(QLatin1String(command.ButtonName));
    }

    // The scanner import items go between this and the File separator.
    CloseMenuSeperator = MainForm->AddSeparator(MainForm->FileMenuItem, MainForm->FileMenuSeparator);
    CloseMenuSeperator->setObjectName(QStringLiteral("CloseMenuSeperator"));
    Import->CreateMenuItems();

    // Widths in multiples of the main window font's height in whole pixels
    // (its pixel size, not its line spacing).
    const QFont font = MainForm->font();
    const int32_t f =
        font.pixelSize() > 0 ? font.pixelSize() : QelRoundEven(font.pointSizeF() * MainForm->logicalDpiY() / 72.0);
    TQelStatusPanels& panels = MainForm->StatusPanels();
    auto add = [&](double k, Qt::Alignment alignment, bool framed) {
        return panels.Add(QelRoundEven(k * f), alignment, framed);
    };
    auto label = [&](const char* text, double k) { panels.SetCaption(add(k, Qt::AlignRight, false), text); };
    label("X:", 2);
    XStatusPanel = add(4, Qt::AlignLeft, false);
    label("Y:", 1.5);
    YStatusPanel = add(5, Qt::AlignLeft, true);
    label("W:", 2);
    WStatusPanel = add(4, Qt::AlignLeft, false);
    label("H:", 1.5);
    HStatusPanel = add(5, Qt::AlignLeft, true);
    label("R:", 1.5);
    RStatusPanel = add(4, Qt::AlignLeft, false);
    label("G:", 1.5);
    GStatusPanel = add(4, Qt::AlignLeft, false);
    label("B:", 1.5);
    BStatusPanel = add(5, Qt::AlignLeft, true);

    // The hand tool, so its control is the lowest of every view and sees
    // keys last. The hand cursor is in its slot from the start (QelCursors).
    if (TQelApplication* app = TQelApplication::Instance()) app->CreateComponent<TQelScrollTool>();
    FolderFiles.clear();
    FolderIndex = -1;
}

void TQelGraphicsEditor::Localize() {
    TQelEditor::Localize();
    ZoomInMenuItem->setText(QelText(TextZoomIn));
    ZoomOutMenuItem->setText(QelText(TextZoomOut));
    ActualSizeMenuItem->setText(QelText(TextActualSize));
    ScaleToBestFitMenuItem->setText(QelText(TextBestFit));
    SetCaptionAndHint(ZoomInButton, QelText(TextZoomIn));
    SetCaptionAndHint(ZoomOutButton, QelText(TextZoomOut));
    SetCaptionAndHint(ActualSizeButton, QelText(TextActualSize));
    SetCaptionAndHint(ScaleToBestFitButton, QelText(TextBestFit));
    SetCaptionAndHint(PrevImageButton, QelText(TextPrevImage));
    SetCaptionAndHint(NextImageButton, QelText(TextNextImage));
    Import->Localize();
    SetCaptionAndHint(OkButton, QelText(TextOk));
    SetCaptionAndHint(CancelButton, QelText(TextCancel));
}

void TQelGraphicsEditor::LoadSettings(TQelSDFReader& Reader) {
    TQelEditor::LoadSettings(Reader);
    if (!Reader.OpenNode(GraphicsEditorNodeId, GraphicsEditorSettingsGuid)) return;
    int32_t quality = Formats->JpegQuality;
    // A value from a damaged file is brought into the quality's range.
    if (Reader.ReadInteger(JpegQualityElement, quality)) Formats->JpegQuality = std::clamp(quality, 0, 100);
    Reader.CloseNode();
}

void TQelGraphicsEditor::AllLoaded() {
    TQelEditor::AllLoaded();
    // The search for scanners may take seconds, so it runs in the background
    // from the start and File > Import finds the devices at its first
    // opening. In plug-in mode there is no File menu.
    QTimer::singleShot(0, Import.get(), [this] {
        if (!PluginMode) Import->StartDeviceSearch();
    });
}

void TQelGraphicsEditor::SaveSettings(TQelSDFWriter& Writer) {
    TQelEditor::SaveSettings(Writer);
    Writer.BeginNode(GraphicsEditorNodeId, GraphicsEditorSettingsGuid);
    Writer.WriteInteger(JpegQualityElement, Formats->JpegQuality);
    Writer.EndNode();
}

void TQelGraphicsEditor::UpdateControls() {
    TQelEditor::UpdateControls();
    const bool canZoom = SaveAsMenuItem && SaveAsMenuItem->isEnabled();
    for (QAction* item : {ZoomInMenuItem, ZoomOutMenuItem, ActualSizeMenuItem, ScaleToBestFitMenuItem, ZoomInButton,
                          ZoomOutButton, ActualSizeButton, ScaleToBestFitButton})
        QelSetEnabled(item, canZoom);
    QelSetEnabled(PrevImageButton, !FolderFiles.isEmpty() && FolderIndex > 0);
    QelSetEnabled(NextImageButton, !FolderFiles.isEmpty() && FolderIndex < FolderFiles.size() - 1);
    // Idle time: rows kept for a turn that did not come are given back, so
    // that the old image of the last turn does not stay.
    QelReleaseLargeSpare();
}

TQelDocumentFormats* TQelGraphicsEditor::GetFormats() { return Formats.get(); }

std::unique_ptr<TQelDocument> TQelGraphicsEditor::CreateDocument() {
    return std::make_unique<TQelGraphicsDocument>(this);
}

// --- documents and views ---------------------------------------------------------

TQelGraphicsDocument* TQelGraphicsEditor::GetActiveDocument() const {
    return dynamic_cast<TQelGraphicsDocument*>(TQelEditor::GetActiveDocument());
}

TQelGraphicsView* TQelGraphicsEditor::GetActiveView() const {
    TQelGraphicsDocument* document = GetActiveDocument();
    return document ? document->FindGraphicsView() : nullptr;
}

void TQelGraphicsEditor::SetActiveDocument(TQelDocument* Document) {
    if (Document && Document->FormatId == QelExchangeFormatId) SetPluginMode(true);
    TQelEditor::SetActiveDocument(Document);
}

void TQelGraphicsEditor::DocumentFormActivate(TQelDocument* Document) { SetActiveDocument(Document); }

void TQelGraphicsEditor::UpdateCaption() {
    if (!PluginMode) {
        TQelEditor::UpdateCaption();
        return;
    }
    TQelApplication* app = TQelApplication::Instance();
    if (MainForm) MainForm->setWindowTitle(app ? app->GetTitle() : QString());
}

bool TQelGraphicsEditor::ShowDocument(TQelDocument* Document, TQelViewControl*& View) {
    if (!TQelEditor::ShowDocument(Document, View)) return false;
    auto* view = qobject_cast<TQelGraphicsView*>(View);
    if (!view) return true;
    QelForEachTool([view](TQelGraphicsTool* tool) { tool->CreateControl(view); });
    // Shown before the fit, so that the fit sees the image's extent.
    if (view->DocumentObject) view->DocumentObject->SetVisible(true);
    view->UpdateView();
    view->FitView();
    if (ActiveTool) ActiveTool->Activate();
    return true;
}

bool TQelGraphicsEditor::OpenDocument(const QString& FileName, TQelDocument*& Document, bool AddToRecent) {
    if (!TQelEditor::OpenDocument(FileName, Document, AddToRecent)) return false;
    TQelGraphicsView* view = GetActiveView();
    if (!view) return true;
    // The document's name is absolute, so the folder is known however the
    // file was named.
    BuildFolderList(Document->FileName);
    view->FitView();
    if (Recorder && Recorder->IsRecording())
        RecordCommand("Open", "Open Image",
                      "ImageOpen \"" + QFileInfo(FileName).fileName().toUtf8() + "\", " +
                          QByteArray::number(view->width()) + ", " + QByteArray::number(view->height()));
    return true;
}

void TQelGraphicsEditor::OpenFileByName(const QString& FileName) {
    TQelDocument* document = nullptr;
    OpenDocument(FileName, document, true);
}

void TQelGraphicsEditor::AddToRecentFiles(TQelDocument* Document) {
    // The host's temporary exchange file is no file to come back to.
    if (!PluginMode) TQelEditor::AddToRecentFiles(Document);
}

void TQelGraphicsEditor::RefitView() {
    if (TQelGraphicsView* view = GetActiveView()) view->FitView();
}

QRect TQelGraphicsEditor::WorkArea() const {
    QScreen* screen = MainForm ? MainForm->screen() : nullptr;
    if (!screen) screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect();
}

namespace {

// Gives the main window the outer bounds (frame included).
void SetFrameBounds(QWidget* Window, int Left, int Top, int Width, int Height) {
    const QRect frame = Window->frameGeometry();
    const QRect inner = Window->geometry();
    Window->setGeometry(Left + inner.x() - frame.x(), Top + inner.y() - frame.y(),
                        std::max(1, Width - (frame.width() - inner.width())),
                        std::max(1, Height - (frame.height() - inner.height())));
}

}  // namespace

void TQelGraphicsEditor::GrowMainWindow(int32_t Width, int32_t Height) {
    TQelGraphicsView* view = GetActiveView();
    if (!view || !MainForm) return;
    const QRect frame = MainForm->frameGeometry();
    int width = Grown(frame.width(), int64_t(Width) - view->width());
    int height = Grown(frame.height(), int64_t(Height) - view->height());
    int left = frame.x();
    int top = frame.y();
    const QRect area = WorkArea();
    if (!area.isEmpty()) {
        // Measured from the area's own corner, which is not the screen's
        // origin on a second screen.
        KeepInArea(left, width, area.x(), area.width());
        KeepInArea(top, height, area.y(), area.height());
    }
    SetFrameBounds(MainForm, left, top, width, height);
}

void TQelGraphicsEditor::SetMinWindowSize(int32_t Width, int32_t Height) {
    if (!MainForm) return;
    const QRect frame = MainForm->frameGeometry();
    const QRect area = WorkArea();
    int left = frame.x(), top = frame.y(), width = frame.width(), height = frame.height();
    if (width < Width) {
        width = Width;
        left = area.x() + (area.width() - Width) / 2;
    }
    if (height < Height) {
        height = Height;
        top = area.y() + (area.height() - Height) / 2;
    }
    SetFrameBounds(MainForm, left, top, width, height);
    RefitView();
}

void TQelGraphicsEditor::HandleMouseWheel(QObject*, TShiftState Shift, int32_t WheelDelta, const QPoint& MousePos,
                                          bool& Handled) {
    TQelGraphicsView* view = GetActiveView();
    if (view && view->MouseInside) Handled = view->DispatchWheel(Shift, WheelDelta, MousePos);
}

bool TQelGraphicsEditor::eventFilter(QObject* Watched, QEvent* Event) {
    if (Event->type() == QEvent::Wheel && MainForm && Watched == MainForm) {
        auto* wheel = static_cast<QWheelEvent*>(Event);
        const int delta = wheel->angleDelta().y();
        // Sideways and pixel-only scrolling are no wheel steps.
        if (delta != 0) {
            bool handled = false;
            HandleMouseWheel(MainForm, QelShiftState(wheel->modifiers(), wheel->buttons()), delta,
                             wheel->globalPosition().toPoint(), handled);
            if (handled) return true;
        }
    }
    return TQelEditor::eventFilter(Watched, Event);
}

void TQelGraphicsEditor::SetStatusText(TQelGraphicsStatusPanel Panel, const QString& Text) {
    if (!MainForm) return;
    int32_t index = -1;
    switch (Panel) {
    case TQelGraphicsStatusPanel::X: index = XStatusPanel; break;
    case TQelGraphicsStatusPanel::Y: index = YStatusPanel; break;
    case TQelGraphicsStatusPanel::W: index = WStatusPanel; break;
    case TQelGraphicsStatusPanel::H: index = HStatusPanel; break;
    case TQelGraphicsStatusPanel::R: index = RStatusPanel; break;
    case TQelGraphicsStatusPanel::G: index = GStatusPanel; break;
    case TQelGraphicsStatusPanel::B: index = BStatusPanel; break;
    }
    if (index >= 0) MainForm->StatusPanels().SetCaption(index, Text);
}

void TQelGraphicsEditor::RemoveDocument(TQelDocument* Document) {
    TQelEditor::RemoveDocument(Document);
    // The rows the document freed last were kept for a turn of it.
    QelReleaseLargeSpare();
    if (GetActiveDocument()) return;
    using P = TQelGraphicsStatusPanel;
    for (P panel : {P::X, P::Y, P::W, P::H, P::R, P::G, P::B}) SetStatusText(panel, QString());
}

// --- tools, undo and redo --------------------------------------------------------

void TQelGraphicsEditor::SetActiveTool(TQelGraphicsTool* Tool) {
    if (ActiveTool) ActiveTool->Deactivate();
    if (Tool) Tool->Activate();
    ActiveTool = Tool;
}

bool TQelGraphicsEditor::CanToolModify(const TQelGraphicsTool* Tool) const {
    return QelCanToolModify(GetActiveDocument(), Tool, ActiveTool, ActiveToolLocked);
}

bool TQelGraphicsEditor::CanUndo() {
    const TQelGraphicsDocument* document = GetActiveDocument();
    return TQelEditor::CanUndo() && !(document && document->Modifying);
}

bool TQelGraphicsEditor::CanRedo() {
    const TQelGraphicsDocument* document = GetActiveDocument();
    return TQelEditor::CanRedo() && !(document && document->Modifying);
}

void TQelGraphicsEditor::DoUndo() {
    const QPointer<TQelGraphicsTool> tool = ActiveTool;
    SetActiveTool(nullptr);
    // The tool comes back even when the undo fails.
    auto restore = qScopeGuard([this, tool] { SetActiveTool(tool); });
    TQelGraphicsDocument* document = GetActiveDocument();
    if (document) document->NotifyBeforeUndo();
    TQelEditor::DoUndo();
    if (document) document->NotifyAfterUndo();
}

void TQelGraphicsEditor::DoRedo() {
    const QPointer<TQelGraphicsTool> tool = ActiveTool;
    SetActiveTool(nullptr);
    auto restore = qScopeGuard([this, tool] { SetActiveTool(tool); });
    TQelGraphicsDocument* document = GetActiveDocument();
    if (document) document->NotifyBeforeRedo();
    TQelEditor::DoRedo();
    if (document) document->NotifyAfterRedo();
}

// --- zoom, previous and next ---------------------------------------------------

void TQelGraphicsEditor::ZoomInClick(QObject*) {
    TQelGraphicsView* view = GetActiveView();
    if (!view) return;
    RecordCommand("ZoomIn", "Zoom In", "ZoomIn");
    view->ZoomIn();
}

void TQelGraphicsEditor::ZoomOutClick(QObject*) {
    TQelGraphicsView* view = GetActiveView();
    if (!view) return;
    RecordCommand("ZoomOut", "Zoom Out", "ZoomOut");
    view->ZoomOut();
}

void TQelGraphicsEditor::ActualSizeClick(QObject*) {
    TQelGraphicsView* view = GetActiveView();
    if (!view) return;
    RecordCommand("ActualSize", "Actual Size", "ActualSize");
    view->ActualSize();
}

void TQelGraphicsEditor::BestFitClick(QObject*) {
    TQelGraphicsView* view = GetActiveView();
    if (!view) return;
    RecordCommand("BestFit", "Best Fit", "BestFit");
    view->BestFit();
}

void TQelGraphicsEditor::BuildFolderList(const QString& FileName) {
    const qsizetype slash = FileName.lastIndexOf(u'/');
    if (slash < 0) return;
    const QString folder = FileName.left(slash + 1);
    FolderFiles.clear();
    // Directory order is arbitrary here; by name, the lists stay the same
    // from run to run.
    const QFileInfoList entries = QDir(folder).entryInfoList(QDir::Files | QDir::Hidden | QDir::System,
                                                             QDir::Name | QDir::IgnoreCase);
    for (const QFileInfo& entry : entries) {
        const QString name = entry.fileName();
        const qsizetype dot = name.lastIndexOf(u'.');
        if (dot < 0) continue;
        const QString extension = name.mid(dot).toUpper();
        if (extension.size() > 2 && QString(FolderImageExtensions).contains(extension)) FolderFiles.append(folder + name);
    }
    FolderIndex = -1;
    for (qsizetype i = 0; i < FolderFiles.size(); ++i)
        if (FolderFiles[i].compare(FileName, Qt::CaseInsensitive) == 0) {
            FolderIndex = int32_t(i);
            break;
        }
}

void TQelGraphicsEditor::NextImageClick(QObject*) {
    if (FolderIndex + 1 < FolderFiles.size()) StepThroughFolder(1);
}

void TQelGraphicsEditor::PrevImageClick(QObject*) {
    if (FolderIndex > 0) StepThroughFolder(-1);
}

void TQelGraphicsEditor::StepThroughFolder(int32_t Step) {
    // A cancelled save question keeps the picture, so the index stays
    // with it; a file that then fails to open keeps the index it was
    // stepped to, and the next step goes on from there.
    if (!CloseActiveQuery()) return;
    FolderIndex += Step;
    TQelDocument* document = nullptr;
    OpenDocument(FolderFiles[FolderIndex], document, true);
}

// --- plug-in mode ------------------------------------------------------------------

void TQelGraphicsEditor::SetPluginMode(bool Value) {
    if (PluginMode || !Value) return;
    if (TQelApplication* app = TQelApplication::Instance()) app->SetTitle(app->GetTitle() + QStringLiteral(" Plug-in"));
    PrevImageButton->setVisible(false);
    NextImageButton->setVisible(false);
    MainForm->FileMenuItem->menuAction()->setVisible(false);
    PluginToolbarSeparator = MainForm->AddSeparator(StandardToolbar, nullptr);
    PluginToolbarSeparator->setObjectName(QStringLiteral("PluginToolbarSeparator"));
    MainForm->AddToolButton(
        StandardToolbar, OkButton, [this](QObject* sender) { PluginOkClick(sender); }, -1, QelText(TextOk), nullptr,
        nullptr);
    OkButton->setObjectName(QStringLiteral("OkButton"));
    MainForm->AddToolButton(
        StandardToolbar, CancelButton, [this](QObject* sender) { PluginCancelClick(sender); }, -1,
        QelText(TextCancel), nullptr, nullptr);
    CancelButton->setObjectName(QStringLiteral("CancelButton"));
    for (QAction* button : {OkButton, CancelButton})
        if (auto* widget = qobject_cast<QToolButton*>(StandardToolbar->widgetForAction(button)))
            widget->setToolButtonStyle(Qt::ToolButtonTextOnly);
    TQelEditor::SetPluginMode(true);
    UpdateCaption();
}

void TQelGraphicsEditor::ReportWriteBackFailure() {
    QString text = QelText(TextWriteBackFailed, QStringLiteral("The image could not be written back to the host program."));
    if (const QString reason = Formats->LastError(); !reason.isEmpty()) text += u'\n' + reason;
    if (TQelApplication* app = TQelApplication::Instance()) app->MessageBoxTitled(text, MB_ICONERROR);
}

bool TQelGraphicsEditor::ExecuteSaveAsDialog(TQelDocument* Document) {
    if (!PluginMode) return TQelEditor::ExecuteSaveAsDialog(Document);
    if (!Document || !Document->CanSave()) return true;
    // Only a written image may end the program with the code that tells
    // the host to take it.
    if (!Document->Save()) {
        ReportWriteBackFailure();
        return false;
    }
    if (TQelApplication* app = TQelApplication::Instance()) app->SetExitCode(0);
    return true;
}

void TQelGraphicsEditor::PluginOkClick(QObject*) {
    TQelGraphicsDocument* document = GetActiveDocument();
    // Only the exchange file's document is the host's image: a tutorial's
    // sample is never written, and without the host's image open the
    // exchange file holds it as last saved.
    if (document && document->FormatId == QelExchangeFormatId) {
        const bool modifying = document->Modifying;
        const TQelRect modified = document->ModifiedRect;
        // The running change is written as shown, without an undo state.
        document->EndModification(this);
        if (document->CanSave()) {
            if (!document->Save()) {
                // The window stays open with the change still running, so the
                // backup and the history keep matching the image.
                document->Modifying = modifying;
                document->ModifiedRect = modified;
                ReportWriteBackFailure();
                return;
            }
            if (TQelApplication* app = TQelApplication::Instance()) app->SetExitCode(0);
        }
    } else if (TQelApplication* app = TQelApplication::Instance()) {
        app->SetExitCode(0);
    }
    if (MainForm) MainForm->close();
}

// --- tutorials' questions ----------------------------------------------------------

bool TQelGraphicsEditor::DemoHasDocument() const { return TQelEditor::GetActiveDocument() != nullptr; }

bool TQelGraphicsEditor::DemoActiveDocumentClean() const {
    const TQelGraphicsDocument* document = GetActiveDocument();
    return document && document->Clean() && !document->Modifying;
}

bool TQelGraphicsEditor::DemoCloseActiveDocument() {
    TQelDocument* document = TQelEditor::GetActiveDocument();
    return !document || document->CloseQuery();
}

bool TQelGraphicsEditor::DemoActivePluginDocument(QString& FileName) const {
    const TQelDocument* document = TQelEditor::GetActiveDocument();
    if (!PluginMode || !document || document->FormatId != QelExchangeFormatId) return false;
    FileName = document->FileName;
    return true;
}

bool TQelGraphicsEditor::DemoSaveActiveDocument() {
    TQelGraphicsDocument* document = GetActiveDocument();
    if (!document) return false;
    document->EndModification(this);
    if (document->Save()) return true;
    ReportWriteBackFailure();
    return false;
}

bool TQelGraphicsEditor::DemoOpenDocument(const QString& FileName) {
    TQelDocument* document = nullptr;
    return OpenDocument(FileName, document, true);
}

void TQelGraphicsEditor::PluginCancelClick(QObject*) {
    if (TQelGraphicsDocument* document = GetActiveDocument()) {
        document->EndModification(this);
        document->SetClean(true);
    }
    if (MainForm) MainForm->close();
}

// --- tutorials -----------------------------------------------------------------------

void TQelGraphicsEditor::ExecuteCommand(TQelDemoPlayback* Playback, const QByteArray& Command,
                                        const TQelDemoScriptParams& Params, TQelDemoScriptUserAction* Action,
                                        bool& Handled) {
    Handled = true;
    auto twoNumbers = [&Params](int first) {
        return Params.IsNumeric(first) && Params.IsNumeric(first + 1);
    };
    if (Command == "IMAGEOPEN") {
        const QString name = QString::fromStdString(Params.AsText(0));
        const QString inImages = ImagesFolder + name;
        const QString path = !name.isEmpty() && QFileInfo::exists(inImages) ? inImages : name;
        TQelDocument* document = nullptr;
        if (OpenDocument(path, document, true)) {
            document->TutorialDocument = true;
            if (Params.Count() == 3 && twoNumbers(1)) {
                GrowMainWindow(Params.AsInteger(1), Params.AsInteger(2));
                RefitView();
            }
        } else if (Playback) {
            Playback->ReportError(QelText(TextTutorialCannotOpen, QStringLiteral("Cannot open the file.")).toUtf8());
        }
    } else if (Command == "ZOOMIN") {
        ZoomInClick(this);
    } else if (Command == "ZOOMOUT") {
        ZoomOutClick(this);
    } else if (Command == "ACTUALSIZE") {
        ActualSizeClick(this);
    } else if (Command == "BESTFIT") {
        BestFitClick(this);
    } else if (Command == "SETMINVIEWSIZE") {
        if (Params.Count() == 2 && twoNumbers(0)) {
            GrowMainWindow(Params.AsInteger(0), Params.AsInteger(1));
            RefitView();
        }
    } else if (Command == "SETMINWINDOWSIZE") {
        if (Params.Count() == 2 && twoNumbers(0)) SetMinWindowSize(Params.AsInteger(0), Params.AsInteger(1));
    } else {
        TQelEditor::ExecuteCommand(Playback, Command, Params, Action, Handled);
    }
}

void TQelGraphicsEditor::GetCommandPoint(TQelDemoPlayback* Playback, const TQelDemoScriptParams& Params,
                                         QPoint& Point, bool& Handled) {
    const QByteArray name = QByteArray::fromStdString(Params.AsText(0)).toUpper();
    QAction* button = nullptr;
    if (name == "OPEN" || name == "OPENBUTTON")
        button = OpenToolButton;
    else if (name == "ZOOMIN")
        button = ZoomInButton;
    else if (name == "ZOOMOUT")
        button = ZoomOutButton;
    else if (name == "ACTUALSIZE")
        button = ActualSizeButton;
    else if (name == "BESTFIT")
        button = ScaleToBestFitButton;
    if (button) {
        GetToolbarItemCenter(button, Point);
        Handled = true;
        return;
    }
    if (name == "IMAGE") {
        TQelGraphicsView* view = GetActiveView();
        if (!view) return;
        const TQelPoint p = view->MapMode().LogicalToDevice(TQelPoint{Params.AsInteger(1), Params.AsInteger(2)});
        Point = view->viewport()->mapToGlobal(QPoint(p.X, p.Y));
        Handled = true;
        return;
    }
    TQelEditor::GetCommandPoint(Playback, Params, Point, Handled);
}
