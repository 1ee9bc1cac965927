#include "QelEditor.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QMenuBar>
#include <QToolBar>
#include <QVBoxLayout>

#include <algorithm>

#include "QelDemoPlayback.h"
#include "QelDemoScript.h"
#include "QelDialogs.h"
#include "QelLocalizer.h"
#include "QelMainForm.h"
#include "QelMessageBox.h"

namespace {

// The settings node of the recent files.
constexpr TQelGuid EditorSettingsGuid = TQelGuid::Parse("{C0F4C248-34D7-4014-8116-24BEE9AB5C30}");

// Texts of the language files.
constexpr int32_t TextOpen = 12;
constexpr int32_t TextClose = 13;
constexpr int32_t TextSave = 15;
constexpr int32_t TextSaveAs = 16;
constexpr int32_t TextEdit = 24;
constexpr int32_t TextUndo = 25;
constexpr int32_t TextRedo = 26;
constexpr int32_t TextUntitled = 74;
constexpr int32_t TextSaveChanges = 94;
constexpr int32_t TextStandardToolbar = 162;
constexpr int32_t TextOverwrite = 164;
constexpr int32_t TextUndoAll = 168;
constexpr int32_t TextRedoAll = 169;
constexpr int32_t TextCannotOpen = 1030;
constexpr int32_t TextCannotSave = 1031;

// Images of the toolbar image list.
constexpr int ImageOpen = 1;
constexpr int ImageSave = 2;
constexpr int ImageUndo = 8;
constexpr int ImageRedo = 9;

// A menu caption shows "&" as the accelerator mark; a literal one is doubled.
QString EscapeMnemonic(QString Text) { return Text.replace(u'&', QStringLiteral("&&")); }

// The extension a name typed without one gets on this row.
QString DefaultExtension(const TQelFileFormatInfo& Format) {
    auto isExtension = [](const QString& Text) {
        return Text.size() > 1 && Text.front() == u'.' && !Text.contains(u'*') && !Text.contains(u'?');
    };
    // The row's own default extension; a table without one has its first
    // mask's ("*.jpg" -> ".jpg").
    if (isExtension(Format.Extra)) return Format.Extra;
    const QString mask = Format.Masks.section(u';', 0, 0).trimmed();
    const qsizetype dot = mask.indexOf(u'.');
    return dot >= 0 && isExtension(mask.mid(dot)) ? mask.mid(dot) : QString();
}

}  // namespace

// ---------------------------------------------------------------------------
// TQelDocument

TQelDocument::TQelDocument(TQelEditor* Editor) : FEditor(Editor) {}

TQelDocument::~TQelDocument() {
    // The view unregisters itself as a listener while it goes, so it must go
    // while the listener list still exists.
    DestroyView();
}

void TQelDocument::DestroyView() {
    TQelViewControl* view = FView.data();
    FView.clear();
    delete view;
}

TQelViewControl* TQelDocument::GetView() {
    if (!FView) {
        TQelViewControl* view = nullptr;
        CreateView(view);
        FView = view;
    }
    return FView.data();
}

bool TQelDocument::FindView(TQelViewControl*& View) const {
    View = FView.data();
    return View != nullptr;
}

void TQelDocument::AddListener(IQelDocumentListener* Listener) {
    if (!Listener) return;
    if (std::find(FListeners.begin(), FListeners.end(), Listener) == FListeners.end()) FListeners.push_back(Listener);
}

void TQelDocument::RemoveListener(IQelDocumentListener* Listener) {
    FListeners.erase(std::remove(FListeners.begin(), FListeners.end(), Listener), FListeners.end());
}

bool TQelDocument::Load(const QString& Name) {
    TQelDocumentFormats* formats = FEditor ? FEditor->GetFormats() : nullptr;
    if (!formats) return false;
    int32_t formatId = FormatId;
    if (!formats->Load(*this, Name, formatId)) return false;
    FormatId = formatId;
    FileName = Name;
    NotifyLoaded();
    SetClean(true);
    return true;
}

bool TQelDocument::SaveAs(const QString& Name, int32_t Format) {
    TQelDocumentFormats* formats = FEditor ? FEditor->GetFormats() : nullptr;
    if (!formats) return false;
    if (!formats->Save(*this, Name, Format)) return false;
    // A change still running was saved as shown; no history state holds it,
    // so the document stays modified.
    SetClean(!ModificationRunning());
    FileName = Name;
    FormatId = Format;
    FEditor->UpdateCaption();
    return true;
}

bool TQelDocument::CanSave() {
    TQelDocumentFormats* formats = FEditor ? FEditor->GetFormats() : nullptr;
    return formats && formats->CanSave(FormatId);
}

bool TQelDocument::Save() {
    if (FileName.isEmpty()) return false;
    return SaveAs(FileName, FormatId);
}

bool TQelDocument::CloseQuery() {
    BeforeClose();
    bool result;
    if (TutorialDocument || Clean()) {
        result = true;
    } else if (!FEditor) {
        result = false;
    } else {
        switch (FEditor->AskSaveChanges(GetDisplayName())) {
        case IDYES:
            result = FEditor->ExecuteSaveAsDialog(this);
            break;
        case IDNO:
            result = true;
            break;
        default:
            result = false;
            break;
        }
    }
    if (result) {
        NotifyClosed();
        // RemoveDocument frees this document: only locals from here on.
        TQelEditor* editor = FEditor;
        if (editor) {
            editor->RemoveDocument(this);
            editor->UpdateCaption();
        }
    }
    return result;
}

QString TQelDocument::GetDisplayName() const {
    if (FileName.isEmpty()) return QelText(TextUntitled);
    return QFileInfo(FileName).fileName();
}

void TQelDocument::NotifyLoaded() {
    // By index, last first: a listener may unregister itself (or another
    // one) while it is told.
    for (size_t i = FListeners.size(); i-- > 0;)
        if (i < FListeners.size()) FListeners[i]->DocumentLoaded(this);
}

void TQelDocument::NotifyClosed() {
    for (size_t i = FListeners.size(); i-- > 0;)
        if (i < FListeners.size()) FListeners[i]->DocumentClosed(this);
}

void TQelDocument::AddCommandState(std::unique_ptr<TQelCommandState> State) {
    // The saved state is among the undone commands that Add drops.
    if (FSavedIndex > History.Index()) FSavedIndex = -1;
    History.Add(std::move(State));
}

bool TQelDocument::Clean() const { return FSavedIndex == History.Index(); }

void TQelDocument::SetClean(bool Value) { FSavedIndex = Value ? History.Index() : -1; }

// ---------------------------------------------------------------------------
// TQelEditor

TQelEditor::TQelEditor() = default;

TQelEditor::~TQelEditor() {
    // Documents (and their views, inside the main window) go while the
    // editor is still whole.
    while (!Documents.empty()) {
        std::unique_ptr<TQelDocument> document = std::move(Documents.back());
        Documents.pop_back();
    }
    if (TQelApplication* app = TQelApplication::Instance()) app->OnTitleChange = nullptr;
    if (MainForm) MainForm->removeEventFilter(this);
}

void TQelEditor::Create() {
    TQelApplication* app = TQelApplication::Instance();
    app->CreateForm(MainForm);
    app->OnTitleChange = [this](QObject*) { UpdateCaption(); };

    QMenu* fileMenu = MainForm->FileMenuItem;
    QAction* fileSeparator = MainForm->FileMenuSeparator;
    OpenMenuItem = MainForm->AddMenuItem(
        QelText(TextOpen) + QStringLiteral("..."), QKeySequence(Qt::CTRL | Qt::Key_O),
        [this](QObject* sender) { OpenClick(sender); }, ImageOpen, fileMenu, fileSeparator);
    OpenMenuItem->setObjectName(QStringLiteral("OpenMenuItem"));
    SaveMenuItem = MainForm->AddMenuItem(
        QelText(TextSaveAs), QKeySequence(), [this](QObject* sender) { SaveAsClick(sender); }, ImageSave, fileMenu,
        fileSeparator);
    SaveMenuItem->setObjectName(QStringLiteral("SaveMenuItem"));
    SaveMenuItem->setVisible(false);
    SaveAsMenuItem = MainForm->AddMenuItem(
        QelText(TextSaveAs) + QStringLiteral("..."), QKeySequence(Qt::CTRL | Qt::Key_S),
        [this](QObject* sender) { SaveAsClick(sender); }, ImageSave, fileMenu, fileSeparator);
    SaveAsMenuItem->setObjectName(QStringLiteral("SaveAsMenuItem"));
    CloseMenuItem = MainForm->AddMenuItem(
        QelText(TextClose), QKeySequence(), [this](QObject* sender) { CloseClick(sender); }, -1, fileMenu,
        fileSeparator);
    CloseMenuItem->setObjectName(QStringLiteral("CloseMenuItem"));

    RecentFilesMenuSeparator = MainForm->AddSeparator(fileMenu, MainForm->ExitMenuItem);
    RecentFilesMenuSeparator->setObjectName(QStringLiteral("RecentFilesMenuSeparator"));

    TQelImageList* images = MainForm->GetImages();
    StandardToolbar = MainForm->AddToolbar(QelText(TextStandardToolbar));
    StandardToolbar->setObjectName(QStringLiteral("StandardToolbar"));
    MainForm->AddToolButton(
        StandardToolbar, OpenToolButton, [this](QObject* sender) { OpenClick(sender); }, ImageOpen, QelText(TextOpen),
        nullptr, images);
    OpenToolButton->setObjectName(QStringLiteral("OpenToolButton"));
    MainForm->AddToolButton(
        StandardToolbar, SaveToolButton, [this](QObject* sender) { SaveAsClick(sender); }, ImageSave,
        QelText(TextSaveAs), nullptr, images);
    SaveToolButton->setObjectName(QStringLiteral("SaveToolButton"));

    EditMenuItem = MainForm->AddSubmenu(QelText(TextEdit), nullptr, MainForm->ViewMenuItem->menuAction());
    EditMenuItem->setObjectName(QStringLiteral("EditMenuItem"));
    UndoMenuItem = MainForm->AddMenuItem(
        QelText(TextUndo), QKeySequence(Qt::CTRL | Qt::Key_Z), [this](QObject* sender) { UndoClick(sender); },
        ImageUndo, EditMenuItem, nullptr);
    UndoMenuItem->setObjectName(QStringLiteral("UndoMenuItem"));
    UndoAllMenuItem = MainForm->AddMenuItem(
        QelText(TextUndoAll), QKeySequence(), [this](QObject* sender) { UndoAllClick(sender); }, -1, EditMenuItem,
        nullptr);
    UndoAllMenuItem->setObjectName(QStringLiteral("UndoAllMenuItem"));
    // Written out: the platform's standard redo key is Ctrl+Shift+Z here.
    RedoMenuItem = MainForm->AddMenuItem(
        QelText(TextRedo), QKeySequence(Qt::CTRL | Qt::Key_Y), [this](QObject* sender) { RedoClick(sender); },
        ImageRedo, EditMenuItem, nullptr);
    RedoMenuItem->setObjectName(QStringLiteral("RedoMenuItem"));
    RedoAllMenuItem = MainForm->AddMenuItem(
        QelText(TextRedoAll), QKeySequence(), [this](QObject* sender) { RedoAllClick(sender); }, -1, EditMenuItem,
        nullptr);
    RedoAllMenuItem->setObjectName(QStringLiteral("RedoAllMenuItem"));

    EditToolbarSeparator = MainForm->AddSeparator(StandardToolbar, nullptr);
    EditToolbarSeparator->setObjectName(QStringLiteral("EditToolbarSeparator"));
    MainForm->AddToolButton(
        StandardToolbar, UndoToolButton, [this](QObject* sender) { UndoClick(sender); }, ImageUndo,
        QelText(TextUndo), nullptr, images);
    UndoToolButton->setObjectName(QStringLiteral("UndoToolButton"));
    MainForm->AddToolButton(
        StandardToolbar, RedoToolButton, [this](QObject* sender) { RedoClick(sender); }, ImageRedo,
        QelText(TextRedo), nullptr, images);
    RedoToolButton->setObjectName(QStringLiteral("RedoToolButton"));

    MainForm->installEventFilter(this);

    MaxRecentFiles = 5;
    UpdateCaption();
}

void TQelEditor::Localize() {
    OpenMenuItem->setText(QelText(TextOpen) + QStringLiteral("..."));
    SaveMenuItem->setText(QelText(TextSave));
    SaveAsMenuItem->setText(QelText(TextSaveAs) + QStringLiteral("..."));
    CloseMenuItem->setText(QelText(TextClose));
    StandardToolbar->setWindowTitle(QelText(TextStandardToolbar));
    for (QAction* button : {OpenToolButton, SaveToolButton, UndoToolButton, RedoToolButton}) {
        const int32_t id = button == OpenToolButton   ? TextOpen
                           : button == SaveToolButton ? TextSaveAs
                           : button == UndoToolButton ? TextUndo
                                                      : TextRedo;
        button->setText(QelText(id));
        button->setToolTip(QelText(id));
    }
    EditMenuItem->setTitle(QelText(TextEdit));
    UndoMenuItem->setText(QelText(TextUndo));
    UndoAllMenuItem->setText(QelText(TextUndoAll));
    RedoMenuItem->setText(QelText(TextRedo));
    RedoAllMenuItem->setText(QelText(TextRedoAll));
}

void TQelEditor::LoadSettings(TQelSDFReader& Reader) {
    if (!Reader.OpenNode(1, EditorSettingsGuid)) return;
    if (Reader.OpenNodeById(1)) {
        int32_t count = 0;
        Reader.ReadInteger(0, count);
        // The count comes from the file: take only the elements that are
        // there. Lookups by id walk the node, so the number of names read is
        // bounded too; a list written by us needs MaxRecentFiles of them.
        std::vector<uint32_t> ids;
        if (count > 0) {
            for (uint32_t i = Reader.CurrentItems().FirstElement; i != QelSDFNone; i = Reader.Element(i).Next) {
                const uint32_t id = Reader.Element(i).Id;
                if (id >= 1 && id <= uint32_t(count)) ids.push_back(id);
            }
        }
        std::sort(ids.begin(), ids.end());
        ids.erase(std::unique(ids.begin(), ids.end()), ids.end());

        // The most recent name has the lowest id; only the first
        // MaxRecentFiles distinct names can stay in the list.
        constexpr int MaxReads = 64;
        QStringList names;
        int distinct = 0;
        int reads = 0;
        for (uint32_t id : ids) {
            if (distinct >= MaxRecentFiles || reads >= MaxReads) break;
            ++reads;
            std::u16string text;
            Reader.ReadWideString(id, text);
            if (text.empty()) continue;
            const QString name = QString::fromStdU16String(text);
            if (!names.contains(name, Qt::CaseInsensitive)) ++distinct;
            names.append(name);
        }
        // Added oldest first, so the stored order is rebuilt.
        for (qsizetype i = names.size(); i-- > 0;) AddRecentFileName(names[i]);
        Reader.CloseNode();
    }
    Reader.CloseNode();
}

void TQelEditor::SaveSettings(TQelSDFWriter& Writer) {
    Writer.BeginNode(1, EditorSettingsGuid);
    Writer.BeginNodeInt(1, int32_t(RecentFiles.size()));
    for (qsizetype i = 0; i < RecentFiles.size(); ++i) Writer.WriteWideString(uint32_t(i + 1), RecentFiles[i].toStdU16String());
    Writer.EndNode();
    Writer.EndNode();
}

void TQelEditor::AllLoaded() {
    const QString name = QCoreApplication::arguments().value(1);
    if (name.isEmpty() || !QFileInfo(name).isFile()) return;
    TQelDocument* document = nullptr;
    OpenDocument(name, document, true);
}

void TQelEditor::UpdateControls() {
    TQelDocument* document = GetActiveDocument();
    const bool hasDocument = document != nullptr;
    QelSetEnabled(SaveMenuItem, hasDocument && !document->Clean());
    QelSetEnabled(SaveAsMenuItem, hasDocument);
    QelSetEnabled(SaveToolButton, hasDocument);
    QelSetEnabled(CloseMenuItem, hasDocument);
    const bool canUndo = CanUndo();
    const bool canRedo = CanRedo();
    QelSetEnabled(UndoMenuItem, canUndo);
    QelSetEnabled(UndoAllMenuItem, canUndo);
    QelSetEnabled(RedoMenuItem, canRedo);
    QelSetEnabled(RedoAllMenuItem, canRedo);
    QelSetEnabled(UndoToolButton, canUndo);
    QelSetEnabled(RedoToolButton, canRedo);
}

bool TQelEditor::eventFilter(QObject* Watched, QEvent* Event) {
    if (Event->type() == QEvent::Close && MainForm && Watched == MainForm) {
        bool canClose = true;
        CloseQueryAll(canClose);
        if (!canClose) {
            Event->ignore();
            return true;
        }
    }
    return TQelModuleWithControls::eventFilter(Watched, Event);
}

// --- documents -----------------------------------------------------------

TQelDocument* TQelEditor::GetActiveDocument() const { return Documents.empty() ? nullptr : Documents.back().get(); }

TQelDocument* TQelEditor::GetDocument(int Index) const {
    return Index >= 0 && size_t(Index) < Documents.size() ? Documents[size_t(Index)].get() : nullptr;
}

bool TQelEditor::GetActiveView(TQelViewControl*& View) const {
    View = nullptr;
    TQelDocument* document = GetActiveDocument();
    return document && document->FindView(View);
}

void TQelEditor::SetActiveDocument(TQelDocument* Document) {
    auto it = std::find_if(Documents.begin(), Documents.end(),
                           [Document](const std::unique_ptr<TQelDocument>& d) { return d.get() == Document; });
    if (it == Documents.end()) return;
    std::unique_ptr<TQelDocument> owned = std::move(*it);
    Documents.erase(it);
    Documents.push_back(std::move(owned));
    UpdateCaption();
}

void TQelEditor::RemoveDocument(TQelDocument* Document) {
    auto it = std::find_if(Documents.begin(), Documents.end(),
                           [Document](const std::unique_ptr<TQelDocument>& d) { return d.get() == Document; });
    if (it == Documents.end()) return;
    // Out of the list before it is freed, so nothing finds it half gone.
    std::unique_ptr<TQelDocument> owned = std::move(*it);
    Documents.erase(it);
    owned.reset();
}

void TQelEditor::UpdateCaption() {
    if (!MainForm) return;
    TQelApplication* app = TQelApplication::Instance();
    const QString title = app ? app->GetTitle() : QString();
    TQelDocument* document = GetActiveDocument();
    if (MDI || !document)
        MainForm->setWindowTitle(title);
    else
        MainForm->setWindowTitle(document->GetDisplayName() + QStringLiteral(" - ") + title);
}

void TQelEditor::SetMDI(bool Value) {
    // Documents are never shown side by side here; only the flag is kept.
    MDI = Value;
}

TQelCommandHistoryList* TQelEditor::GetHistory() {
    TQelDocument* document = GetActiveDocument();
    return document ? &document->History : nullptr;
}

bool TQelEditor::ShowDocument(TQelDocument* Document, TQelViewControl*& View) {
    View = nullptr;
    if (!Document) return false;
    View = Document->GetView();
    if (!View) return false;
    // The work area stays; views come and go inside it.
    if (MainForm) {
        if (QWidget* workspace = MainForm->centralWidget()) {
            QLayout* layout = workspace->layout();
            if (!layout) {
                layout = new QVBoxLayout(workspace);
                layout->setContentsMargins(0, 0, 0, 0);
                layout->setSpacing(0);
            }
            if (View->parentWidget() != workspace || layout->indexOf(View) < 0) layout->addWidget(View);
        }
    }
    View->show();
    return true;
}

bool TQelEditor::CloseActiveQuery() {
    TQelDocument* document = GetActiveDocument();
    if (MDI || !document) return true;
    return document->CloseQuery();
}

bool TQelEditor::NewDocument(TQelDocument*& Document) {
    Document = nullptr;
    if (!CloseActiveQuery()) return false;
    std::unique_ptr<TQelDocument> document = CreateDocument();
    TQelViewControl* view = nullptr;
    if (!ShowDocument(document.get(), view)) return false;
    Document = document.get();
    Documents.push_back(std::move(document));
    SetActiveDocument(Document);
    return true;
}

bool TQelEditor::OpenDocument(const QString& FileName, TQelDocument*& Document, bool AddToRecent) {
    Document = nullptr;
    if (!CloseActiveQuery()) return false;
    std::unique_ptr<TQelDocument> document = CreateDocument();
    TQelViewControl* view = nullptr;
    // However the name came (command line, drop, dialog, script), the
    // document, the recent files and the caption keep it absolute, so it
    // names the same file wherever the program is started next.
    const QString name = FileName.isEmpty() ? FileName : QDir::cleanPath(QDir::current().absoluteFilePath(FileName));
    TQelDocumentFormats* formats = GetFormats();
    if (document && document->Load(name) && ShowDocument(document.get(), view)) {
        TQelDocument* opened = document.get();
        const QString notice = formats ? formats->LoadNotice() : QString();
        Documents.push_back(std::move(document));
        SetActiveDocument(opened);
        opened->AfterOpen();
        if (AddToRecent) AddToRecentFiles(opened);
        Document = opened;
        if (TQelApplication* app = TQelApplication::Instance(); app && !notice.isEmpty())
            app->MessageBoxTitled(notice, MB_ICONINFORMATION);
        return true;
    }
    document.reset();
    // Why, when the formats know, under the sentence that names the file.
    const QString reason = formats ? formats->LastError() : QString();
    if (TQelApplication* app = TQelApplication::Instance())
        app->MessageBoxTitled(QelFormatText(QelText(TextCannotOpen), name) + (reason.isEmpty() ? QString() : u'\n' + reason),
                              MB_ICONERROR);
    return false;
}

void TQelEditor::CloseQueryAll(bool& CanClose) {
    // Downward by index: a document that agrees is freed and leaves the list.
    for (size_t i = Documents.size(); i-- > 0;) {
        if (i >= Documents.size()) continue;
        CanClose = Documents[i]->CloseQuery();
        if (!CanClose) break;
    }
}

// --- dialogs and questions -----------------------------------------------

bool TQelEditor::ExecuteOpenDialog() {
    std::unique_ptr<TQelOpenDialog> dialog(QelCreateForm<TQelOpenDialog>(MainForm, GetFormats()));
    const bool chosen = dialog->Execute();
    // Read the answer before events run: the dialog's folder model may still
    // be filling in and would change its selection.
    const QString name = chosen ? dialog->FileName() : QString();
    QCoreApplication::processEvents();
    if (!chosen) return false;
    TQelDocument* document = nullptr;
    return OpenDocument(name, document, true);
}

bool TQelEditor::ExecuteSaveAsDialog(TQelDocument* Document) {
    if (!Document || !Document->CanSave()) return false;
    TQelDocumentFormats* formats = GetFormats();
    TQelFileFormatArray saveFormats;
    formats->GetSaveFormats(saveFormats);

    std::unique_ptr<TQelSaveDialog> dialog(QelCreateForm<TQelSaveDialog>(MainForm, formats));
    if (!Document->FileName.isEmpty()) {
        const QFileInfo info(Document->FileName);
        dialog->SetFileName(info.dir().filePath(info.completeBaseName()));
    }
    // A format without a save row (read through "all files") starts on the
    // first row.
    dialog->SetFilterIndex(std::max(1, IndexOfFileFormat(saveFormats, Document->FormatId) + 1));
    const bool accepted = dialog->Execute();
    // The answer as the user gave it, before the dialog's folder model can
    // change its selection while events run.
    const int row = dialog->FilterIndex() - 1;
    QString name = dialog->FileName();
    QCoreApplication::processEvents();
    if (!accepted) return false;

    if (row < 0 || row >= saveFormats.size()) return false;
    const TQelFileFormatInfo& format = saveFormats[row];
    if (name.isEmpty()) return false;
    if (!QFileInfo(name).fileName().contains(u'.')) name += DefaultExtension(format);
    if (QFileInfo(name).isFile() && AskOverwrite(name) != IDYES) return false;
    // The chosen row decides the format, whatever the name's extension says.
    if (Document->SaveAs(name, format.Id)) return true;
    ReportSaveFailure(name);
    return false;
}

void TQelEditor::ReportSaveFailure(const QString& FileName) {
    TQelDocumentFormats* formats = GetFormats();
    const QString reason = formats ? formats->LastError() : QString();
    // No reason: the user cancelled (the quality question, for one).
    if (reason.isEmpty()) return;
    if (TQelApplication* app = TQelApplication::Instance())
        app->MessageBoxTitled(QelFormatText(QelText(TextCannotSave), FileName) + u'\n' + reason, MB_ICONERROR);
}

int TQelEditor::AskSaveChanges(const QString& Name) {
    TQelApplication* app = TQelApplication::Instance();
    return app ? app->MessageBoxTitled(QelFormatText(QelText(TextSaveChanges), Name), MB_YESNOCANCEL | MB_ICONQUESTION)
               : IDCANCEL;
}

int TQelEditor::AskOverwrite(const QString& Name) {
    TQelApplication* app = TQelApplication::Instance();
    return app ? app->MessageBoxTitled(QelFormatText(QelText(TextOverwrite), Name), MB_YESNO | MB_ICONWARNING) : IDNO;
}

// --- commands ------------------------------------------------------------

void TQelEditor::OpenClick(QObject*) {
    if (!PluginMode) ExecuteOpenDialog();
}

void TQelEditor::SaveClick(QObject* Sender) {
    if (!PluginMode) SaveAsClick(Sender);
}

void TQelEditor::SaveAsClick(QObject*) {
    if (PluginMode) return;
    if (TQelDocument* document = GetActiveDocument()) ExecuteSaveAsDialog(document);
}

void TQelEditor::CloseClick(QObject*) {
    if (TQelDocument* document = GetActiveDocument()) document->CloseQuery();
}

bool TQelEditor::CanUndo() {
    TQelCommandHistoryList* history = GetHistory();
    return history && history->CanUndo();
}

bool TQelEditor::CanRedo() {
    TQelCommandHistoryList* history = GetHistory();
    return history && history->CanRedo();
}

void TQelEditor::DoUndo() {
    if (TQelCommandHistoryList* history = GetHistory()) history->Undo();
}

void TQelEditor::DoRedo() {
    if (TQelCommandHistoryList* history = GetHistory()) history->Redo();
}

// The modified state follows the history index, so undo and redo need not
// touch it: back at the saved index the document is clean again.
void TQelEditor::UndoClick(QObject*) {
    if (!CanUndo()) return;
    DoUndo();
    RecordCommand("Undo", "Undo", "Undo");
}

void TQelEditor::RedoClick(QObject*) {
    if (!CanRedo()) return;
    DoRedo();
    RecordCommand("Redo", "Redo", "Redo");
}

void TQelEditor::RecordCommand(const QByteArray& Element, const QByteArray& Message, const QByteArray& Command) {
    if (!Recorder || !Recorder->IsRecording()) return;
    Recorder->RecordLine("MouseCurvedMove " + Element);
    if (Recorder->ShowMessages) Recorder->RecordLine("Message \"" + Message + '"');
    Recorder->RecordLine(Command);
}

void TQelEditor::UndoAllClick(QObject*) {
    while (CanUndo()) DoUndo();
}

void TQelEditor::RedoAllClick(QObject*) {
    while (CanRedo()) DoRedo();
}

// --- recent files --------------------------------------------------------

QList<QAction*> TQelEditor::RecentFileItems() const {
    QList<QAction*> items;
    if (!MainForm || !MainForm->FileMenuItem) return items;
    const QList<QAction*> actions = MainForm->FileMenuItem->actions();
    const qsizetype first = actions.indexOf(MainForm->FileMenuSeparator);
    const qsizetype last = actions.indexOf(RecentFilesMenuSeparator);
    if (first < 0 || last < 0) return items;
    for (qsizetype i = first + 1; i < last; ++i) items.append(actions[i]);
    return items;
}

void TQelEditor::AddRecentFileName(const QString& FileName) {
    qsizetype index = -1;
    for (qsizetype i = 0; i < RecentFiles.size() && index < 0; ++i)
        if (RecentFiles[i].compare(FileName, Qt::CaseInsensitive) == 0) index = i;
    if (index < 0) {
        RecentFiles.prepend(FileName);
        while (RecentFiles.size() > std::max<int32_t>(MaxRecentFiles, 0)) RecentFiles.removeLast();
    } else {
        RecentFiles.move(index, 0);
    }

    if (!MainForm || !MainForm->FileMenuItem) return;
    QList<QAction*> items = RecentFileItems();
    while (items.size() < RecentFiles.size()) {
        const QList<QAction*> actions = MainForm->FileMenuItem->actions();
        const qsizetype separator = actions.indexOf(MainForm->FileMenuSeparator);
        QAction* before = separator >= 0 ? actions.value(separator + 1) : RecentFilesMenuSeparator;
        QAction* item = MainForm->AddMenuItem(
            QString(), QKeySequence(), [this](QObject* sender) { RecentFileClick(sender); }, -1,
            MainForm->FileMenuItem, before);
        item->setObjectName(QStringLiteral("RecentFileMenuItem"));
        items = RecentFileItems();
    }
    for (qsizetype i = 0; i < RecentFiles.size(); ++i) {
        items[i]->setText(QStringLiteral("&%1 %2").arg(i + 1).arg(EscapeMnemonic(RecentFiles[i])));
        // The click opens this, not the caption, which has its "&" doubled.
        items[i]->setData(RecentFiles[i]);
    }
}

void TQelEditor::AddToRecentFiles(TQelDocument* Document) {
    if (Document) AddRecentFileName(Document->FileName);
}

void TQelEditor::RecentFileClick(QObject* Sender) {
    auto* item = qobject_cast<QAction*>(Sender);
    if (!item) return;
    const QString name = item->data().toString();
    if (name.isEmpty()) return;
    TQelDocument* document = nullptr;
    OpenDocument(name, document, true);
}

// --- plug-in mode and tutorials ------------------------------------------

void TQelEditor::SetPluginMode(bool Value) {
    if (PluginMode || !Value) return;
    OpenToolButton->setVisible(false);
    SaveToolButton->setVisible(false);
    EditToolbarSeparator->setVisible(false);
    PluginMode = true;
    // Stays so until the host's OK path sets it.
    if (TQelApplication* app = TQelApplication::Instance()) app->SetExitCode(-1);
}

void TQelEditor::ExecuteCommand(TQelDemoPlayback*, const QByteArray& Command, const TQelDemoScriptParams&,
                                TQelDemoScriptUserAction*, bool& Handled) {
    Handled = true;
    if (Command == "UNDO")
        UndoClick(this);
    else if (Command == "REDO")
        RedoClick(this);
    else
        Handled = false;
}

void TQelEditor::GetCommandPoint(TQelDemoPlayback*, const TQelDemoScriptParams& Params, QPoint& Point,
                                 bool& Handled) {
    const QByteArray name = QByteArray::fromStdString(Params.AsText(0)).toUpper();
    if (name == "UNDO") {
        GetToolbarItemCenter(UndoToolButton, Point);
        Handled = true;
    } else if (name == "REDO") {
        GetToolbarItemCenter(RedoToolButton, Point);
        Handled = true;
    } else {
        Handled = false;
    }
}

void TQelEditor::StartRecording(TQelDemoPlayback* Playback) { Recorder = Playback; }

void TQelEditor::StopRecording(TQelDemoPlayback*) { Recorder = nullptr; }
