#include "QelDemoEditor.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTabBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QToolBar>
#include <QVBoxLayout>

#include <exception>

#include "QelDemoHooks.h"
#include "QelDemonstration.h"
#include "QelMainForm.h"
#include "QelMessageBox.h"

namespace {

const QString ScriptFilter = QStringLiteral("Demo Script (*.dsc)");

QIcon EditorImage(int Index) {
    return QIcon(QStringLiteral(":/icons/demo/%1.svg").arg(Index, 2, 10, QLatin1Char('0')));
}

// The editor's dialogs are Qt's own, so the program stays active and
// tutorials can drive them.
QString AskFileName(QWidget* Parent, bool Save) {
    QFileDialog dialog(Parent, Save ? QStringLiteral("Save As") : QStringLiteral("Open"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setNameFilter(ScriptFilter);
    dialog.setDefaultSuffix(QStringLiteral("dsc"));
    dialog.setAcceptMode(Save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(Save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    if (DemoModule) dialog.setDirectory(DemoModule->DemoFolder);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
    return dialog.selectedFiles().first();
}

void ReportError(const QString& Text) {
    if (TQelApplication* app = TQelApplication::Instance()) app->MessageBox(Text, QStringLiteral("Demo Editor"), MB_ICONERROR);
}

}  // namespace

// ---------------------------------------------------------------------------
// TAddLangForm

TAddLangForm::TAddLangForm(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("AddLangForm"));
    setWindowTitle(QStringLiteral("Add Language"));
    setFixedSize(248, 88);
    LangIdLabel = new QLabel(QStringLiteral("LangID:"), this);
    LangIdLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    LangIdLabel->setGeometry(8, 16, 57, 21);
    LangIdEdit = new QLineEdit(this);
    LangIdEdit->setObjectName(QStringLiteral("LangIdEdit"));
    LangIdEdit->setGeometry(72, 16, 161, 21);
    AddButton = new QPushButton(QStringLiteral("Add"), this);
    AddButton->setObjectName(QStringLiteral("AddButton"));
    AddButton->setGeometry(80, 52, 75, 25);
    AddButton->setDefault(true);
    CancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    CancelButton->setObjectName(QStringLiteral("CancelButton"));
    CancelButton->setGeometry(160, 52, 75, 25);
    connect(AddButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
    if (parent) move(parent->geometry().center() - QPoint(width() / 2, height() / 2));
}

// ---------------------------------------------------------------------------
// TQelDemoEditorForm

TQelDemoEditorForm::TQelDemoEditorForm(QWidget* parent) : TQelForm<QMainWindow>(parent) {}

TQelDemoEditorForm::~TQelDemoEditorForm() {
    // The player outlives the editor: it must not call back into it.
    RestorePlayHandlers();
    RestoreRecordHandlers();
}

void TQelDemoEditorForm::Create() {
    setObjectName(QStringLiteral("QelDemoEditorForm"));
    setWindowTitle(QStringLiteral("Demo Editor"));
    setWindowFlags(Qt::Window | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);

    QMenuBar* bar = menuBar();
    auto addItem = [this](QMenu* menu, const QString& caption, void (TQelDemoEditorForm::*handler)()) {
        QAction* item = menu->addAction(caption);
        connect(item, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
        return item;
    };
    QMenu* fileMenu = bar->addMenu(QStringLiteral("File"));
    NewMenuItem = addItem(fileMenu, QStringLiteral("New"), &TQelDemoEditorForm::CmNew);
    OpenMenuItem = addItem(fileMenu, QStringLiteral("Open..."), &TQelDemoEditorForm::CmOpen);
    SaveAsMenuItem = addItem(fileMenu, QStringLiteral("Save As..."), &TQelDemoEditorForm::CmSave);
    fileMenu->addSeparator();
    ExitMenuItem = addItem(fileMenu, QStringLiteral("Exit"), &TQelDemoEditorForm::CmExit);
    QMenu* editMenu = bar->addMenu(QStringLiteral("Edit"));
    AddLanguageMenuItem = addItem(editMenu, QStringLiteral("Add Language"), &TQelDemoEditorForm::CmAddLanguage);
    DeleteLanguageMenuItem =
        addItem(editMenu, QStringLiteral("Delete Language"), &TQelDemoEditorForm::CmDeleteLanguage);
    QMenu* playbackMenu = bar->addMenu(QStringLiteral("Playback"));
    PlayMenuItem = addItem(playbackMenu, QStringLiteral("Play"), &TQelDemoEditorForm::CmPlay);
    RecordMenuItem = addItem(playbackMenu, QStringLiteral("Record"), &TQelDemoEditorForm::CmRecord);
    StopMenuItem = addItem(playbackMenu, QStringLiteral("Stop"), &TQelDemoEditorForm::CmStop);

    Toolbar = addToolBar(QStringLiteral("Toolbar"));
    Toolbar->setObjectName(QStringLiteral("Toolbar"));
    Toolbar->setMovable(false);
    Toolbar->setIconSize(QSize(16, 16));
    auto addButton = [this](const QString& caption, int image, void (TQelDemoEditorForm::*handler)()) {
        QAction* button = Toolbar->addAction(EditorImage(image), caption);
        button->setToolTip(caption);
        connect(button, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
        return button;
    };
    OpenToolButton = addButton(QStringLiteral("Open"), 0, &TQelDemoEditorForm::CmOpen);
    SaveToolButton = addButton(QStringLiteral("Save"), 1, &TQelDemoEditorForm::CmSave);
    Toolbar->addSeparator();
    PlayToolButton = addButton(QStringLiteral("Play"), 2, &TQelDemoEditorForm::CmPlay);
    RecordToolButton = addButton(QStringLiteral("Record"), 3, &TQelDemoEditorForm::CmRecord);
    StopToolButton = addButton(QStringLiteral("Stop"), 4, &TQelDemoEditorForm::CmStop);
    Toolbar->addSeparator();
    MessageComboBox = new QComboBox(Toolbar);
    MessageComboBox->setObjectName(QStringLiteral("MessageComboBox"));
    MessageComboBox->setToolTip(QStringLiteral("Message"));
    MessageComboBox->setEditable(true);
    MessageComboBox->setInsertPolicy(QComboBox::InsertAtTop);
    MessageComboBox->setDuplicatesEnabled(false);
    MessageComboBox->setFixedWidth(80);
    Toolbar->addWidget(MessageComboBox);
    MessageToolButton = Toolbar->addAction(EditorImage(5), QStringLiteral("Show Messages"));
    MessageToolButton->setToolTip(QStringLiteral("Show Messages"));
    MessageToolButton->setCheckable(true);

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    SectionsTabControl = new QTabBar(central);
    SectionsTabControl->setObjectName(QStringLiteral("SectionsTabControl"));
    SectionsTabControl->setExpanding(false);
    SectionsTabControl->setDrawBase(false);
    ScriptMemo = new QPlainTextEdit(central);
    ScriptMemo->setObjectName(QStringLiteral("ScriptMemo"));
    ScriptMemo->setLineWrapMode(QPlainTextEdit::NoWrap);
    ScriptMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    layout->addWidget(SectionsTabControl);
    layout->addWidget(ScriptMemo, 1);
    setCentralWidget(central);
    statusBar()->setObjectName(QStringLiteral("StatusBar"));
    resize(381, 286);

    CmNew();
    if (TQelDemoHooks* hooks = TQelDemoHooks::Instance())
        MessageComboBox->setEditText(QString::fromLatin1(hooks->DefaultMessageText));

    // Connected after the first sections are shown.
    connect(SectionsTabControl, &QTabBar::currentChanged, this, [this] { SectionsTabControlChange(); });
    connect(MessageToolButton, &QAction::triggered, this, [this] { MessageToolButtonClick(); });
    connect(MessageComboBox, &QComboBox::currentTextChanged, this, [this] { MessageComboBoxChange(); });
    PlaceOverMainWindow();
}

void TQelDemoEditorForm::PlaceOverMainWindow() {
    // Just inside the top right corner of the main window's work area,
    // clear of its toolbars and panels.
    QWidget* area = MainForm ? MainForm->centralWidget() : nullptr;
    if (!area) return;
    const QPoint corner = area->mapToGlobal(QPoint(area->width(), 0));
    move(corner.x() - width() - 4, corner.y() + 4);
}

TQelDemoPlayback* TQelDemoEditorForm::Playback() { return DemoModule ? DemoModule->Playback() : nullptr; }

void TQelDemoEditorForm::closeEvent(QCloseEvent* Event) {
    Event->ignore();
    hide();
}

// ---- sections -----------------------------------------------------------------

QByteArrayList TQelDemoEditorForm::MemoLines() const {
    // The raw text: plain text would turn the byte 0xA0 (as in UTF-8 text)
    // into a space.
    QString text = ScriptMemo->document()->toRawText();
    text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    text.replace(QChar::LineSeparator, QLatin1Char('\n'));
    QByteArrayList lines;
    if (text.isEmpty()) return lines;
    if (text.endsWith(QLatin1Char('\n'))) text.chop(1);
    // Latin-1 maps every byte to one character and back unchanged.
    for (const QString& line : text.split(QLatin1Char('\n'))) lines.append(line.toLatin1());
    return lines;
}

void TQelDemoEditorForm::SetMemoLines(const QByteArrayList& Lines) {
    ScriptMemo->setPlainText(QString::fromLatin1(Lines.join('\n')));
}

void TQelDemoEditorForm::UpdateSections() {
    const QSignalBlocker blocker(SectionsTabControl);
    while (SectionsTabControl->count() > 0) SectionsTabControl->removeTab(SectionsTabControl->count() - 1);
    for (int i = 0; i < FScript.SectionCount(); ++i)
        SectionsTabControl->addTab(QString::fromLatin1(FScript.SectionName(i)));
    FSelections.assign(size_t(FScript.SectionCount()), TSelection());
    int script = -1;
    if (!FScript.FindSection("Script", script)) script = FScript.SectionCount() > 0 ? 0 : -1;
    SectionsTabControl->setCurrentIndex(script);
    FShownTab = -1;
    SectionsTabControlChange();
}

void TQelDemoEditorForm::StoreSection() {
    const int index = FShownTab;
    if (index < 0 || index >= FScript.SectionCount()) return;
    FScript.GetSection(index) = MemoLines();
    const QTextCursor cursor = ScriptMemo->textCursor();
    FSelections[size_t(index)] = {cursor.selectionStart(), cursor.selectionEnd() - cursor.selectionStart()};
}

void TQelDemoEditorForm::ShowSection(int Index) {
    FShownTab = Index >= 0 && Index < FScript.SectionCount() ? Index : -1;
    if (FShownTab < 0) {
        ScriptMemo->clear();
        return;
    }
    SetMemoLines(FScript.GetSection(FShownTab));
    const TSelection selection = FSelections[size_t(FShownTab)];
    QTextCursor cursor = ScriptMemo->textCursor();
    const int end = ScriptMemo->document()->characterCount() - 1;
    cursor.setPosition(std::min(selection.Start, end));
    cursor.setPosition(std::min(selection.Start + selection.Length, end), QTextCursor::KeepAnchor);
    ScriptMemo->setTextCursor(cursor);
}

void TQelDemoEditorForm::SectionsTabControlChange() {
    // The tab left behind keeps what was typed into it.
    StoreSection();
    ShowSection(SectionsTabControl->currentIndex());
}

void TQelDemoEditorForm::CmNew() {
    FScript.New();
    UpdateSections();
}

bool TQelDemoEditorForm::OpenFile(const QString& FileName) {
    try {
        FScript.LoadFromFile(FileName);
    } catch (const std::exception& e) {
        ReportError(QString::fromUtf8(e.what()));
        return false;
    }
    UpdateSections();
    return true;
}

void TQelDemoEditorForm::CmOpen() {
    const QString name = AskFileName(this, false);
    if (!name.isEmpty()) OpenFile(name);
}

bool TQelDemoEditorForm::SaveFile(const QString& FileName) {
    try {
        FScript.SaveToFile(FileName);
    } catch (const std::exception& e) {
        ReportError(QString::fromUtf8(e.what()));
        return false;
    }
    return true;
}

void TQelDemoEditorForm::CmSave() {
    StoreSection();
    const QString name = AskFileName(this, true);
    if (!name.isEmpty()) SaveFile(name);
}

void TQelDemoEditorForm::CmAddLanguage() {
    TAddLangForm form(this);
    if (form.exec() == QDialog::Accepted) AddLanguage(form.LangIdEdit->text());
}

void TQelDemoEditorForm::AddLanguage(const QString& LangId) {
    const QByteArray name = LangId.trimmed().toLatin1();
    if (name.isEmpty()) return;
    StoreSection();
    int index = -1;
    if (!FScript.FindSection(name, index)) {
        index = FScript.AddSection(name);
        UpdateSections();
    }
    SectionsTabControl->setCurrentIndex(index);
}

bool TQelDemoEditorForm::CanDeleteSection(int Index) const {
    if (Index <= 1 || Index >= FScript.SectionCount()) return false;
    // Player and title read the first of each; without them the script
    // would lose its lines or its title.
    int first = -1;
    if (FScript.FindSection("Info", first) && first == Index) return false;
    if (FScript.FindSection("Script", first) && first == Index) return false;
    return true;
}

void TQelDemoEditorForm::CmDeleteLanguage() {
    const int index = SectionsTabControl->currentIndex();
    if (!CanDeleteSection(index)) return;
    FScript.DeleteSection(index);
    UpdateSections();
}

void TQelDemoEditorForm::CmExit() { close(); }

// ---- playing and recording ----------------------------------------------------------

void TQelDemoEditorForm::CmPlay() {
    TQelDemoPlayback* playback = Playback();
    if (!playback || playback->IsPlaying() || playback->IsRecording()) return;
    StoreSection();
    FKeptOnFinish = playback->OnFinish;
    FKeptOnAbortQuery = playback->OnAbortQuery;
    FKeptOnError = playback->OnError;
    FPlayHandlersReplaced = true;
    playback->OnFinish = [this](TQelDemoPlayback* sender) { PlaybackFinish(sender); };
    playback->OnAbortQuery = [this](TQelDemoPlayback* sender, bool& abort) { PlaybackAbortQuery(sender, abort); };
    playback->OnError = [this](TQelDemoPlayback* sender, const QByteArray& msg, const QByteArray& line, bool& stop) {
        PlaybackError(sender, msg, line, stop);
    };
    playback->SetScript(FScript);
    playback->Play(0);
    // A start that was cancelled gives the module its handlers back at once.
    if (!playback->IsPlaying()) RestorePlayHandlers();
    const bool wasActive = isActiveWindow();
    hide();
    // Hidden while active, the editor would leave the program without an
    // active window, which the player takes for a switch to another program
    // and pauses for; the main window takes over, as the tutorial plays there.
    if (wasActive && playback->IsPlaying() && MainForm) MainForm->activateWindow();
}

void TQelDemoEditorForm::RestorePlayHandlers() {
    if (!FPlayHandlersReplaced) return;
    FPlayHandlersReplaced = false;
    if (TQelDemoPlayback* playback = Playback()) {
        playback->OnFinish = FKeptOnFinish;
        playback->OnAbortQuery = FKeptOnAbortQuery;
        playback->OnError = FKeptOnError;
    }
    FKeptOnFinish = nullptr;
    FKeptOnAbortQuery = nullptr;
    FKeptOnError = nullptr;
}

// Each handler calls the kept one from a copy: putting the kept handlers
// back replaces the function that is running.
void TQelDemoEditorForm::PlaybackFinish(TQelDemoPlayback* Sender) {
    if (TQelDemoPlayback::TNotifyEvent kept = FKeptOnFinish) kept(Sender);
    RestorePlayHandlers();
    show();
}

void TQelDemoEditorForm::PlaybackAbortQuery(TQelDemoPlayback* Sender, bool& Abort) {
    if (TQelDemoPlayback::TCancelEvent kept = FKeptOnAbortQuery) kept(Sender, Abort);
    if (Abort) PlaybackFinish(Sender);
}

void TQelDemoEditorForm::PlaybackError(TQelDemoPlayback* Sender, const QByteArray& Msg, const QByteArray& Line,
                                       bool& Stop) {
    if (TQelDemoPlayback::TErrorEvent kept = FKeptOnError) kept(Sender, Msg, Line, Stop);
    if (Stop) PlaybackFinish(Sender);
}

void TQelDemoEditorForm::CmRecord() {
    TQelDemoPlayback* playback = Playback();
    if (!playback || playback->IsPlaying() || playback->IsRecording()) return;
    StoreSection();
    playback->SetScript(FScript);
    FKeptOnStartRecording = playback->OnStartRecording;
    FKeptOnRecordLine = playback->OnRecordLine;
    FKeptOnStopRecording = playback->OnStopRecording;
    FRecordHandlersReplaced = true;
    playback->OnStartRecording = [this](TQelDemoPlayback* sender) { PlaybackStartRecording(sender); };
    playback->OnRecordLine = [](TQelDemoPlayback*, int, const QByteArray&) {};
    playback->OnStopRecording = [this](TQelDemoPlayback* sender) { PlaybackStopRecording(sender); };
    // Appended at the end of the "Script" section.
    if (!playback->StartRecording(-1)) RestoreRecordHandlers();
}

void TQelDemoEditorForm::RestoreRecordHandlers() {
    if (!FRecordHandlersReplaced) return;
    FRecordHandlersReplaced = false;
    if (TQelDemoPlayback* playback = Playback()) {
        playback->OnStartRecording = FKeptOnStartRecording;
        playback->OnRecordLine = FKeptOnRecordLine;
        playback->OnStopRecording = FKeptOnStopRecording;
    }
    FKeptOnStartRecording = nullptr;
    FKeptOnRecordLine = nullptr;
    FKeptOnStopRecording = nullptr;
}

void TQelDemoEditorForm::PlaybackStartRecording(TQelDemoPlayback* Sender) {
    if (TQelApplication* app = TQelApplication::Instance())
        app->ForEachComponent<IQelScriptableModule>([Sender](IQelScriptableModule* module) {
            module->StartRecording(Sender);
        });
    ScriptMemo->setEnabled(false);
}

void TQelDemoEditorForm::PlaybackStopRecording(TQelDemoPlayback* Sender) {
    if (TQelApplication* app = TQelApplication::Instance())
        app->ForEachComponent<IQelScriptableModule>([Sender](IQelScriptableModule* module) {
            module->StopRecording(Sender);
        });
    RestoreRecordHandlers();
    FScript.Assign(Sender->Script());
    ScriptMemo->setEnabled(true);
    // What the memo held is in the script already; it shows the recorded
    // lines now and must not write the old ones back.
    ShowSection(SectionsTabControl->currentIndex());
}

void TQelDemoEditorForm::CmStop() {
    TQelDemoPlayback* playback = Playback();
    if (!playback) return;
    if (playback->IsPlaying())
        playback->QueryAbort();
    else if (playback->IsRecording())
        playback->StopRecording();
}

void TQelDemoEditorForm::UpdateControls() {
    TQelDemoPlayback* playback = Playback();
    const bool playing = playback && playback->IsPlaying();
    const bool recording = playback && playback->IsRecording();
    const bool idle = playback && !playing && !recording;
    for (QAction* item : {PlayMenuItem, PlayToolButton, RecordMenuItem, RecordToolButton}) QelSetEnabled(item, idle);
    for (QAction* item : {StopMenuItem, StopToolButton}) QelSetEnabled(item, playing || recording);
    // Commands that change the sections wait until recording stops: the
    // recorded script replaces the edited one then.
    for (QAction* item : {NewMenuItem, OpenMenuItem, OpenToolButton, AddLanguageMenuItem})
        QelSetEnabled(item, !recording);
    QelSetEnabled(DeleteLanguageMenuItem, !recording && CanDeleteSection(SectionsTabControl->currentIndex()));
    const bool showMessages = playback && playback->ShowMessages;
    if (MessageToolButton->isChecked() != showMessages) {
        const QSignalBlocker blocker(MessageToolButton);
        MessageToolButton->setChecked(showMessages);
    }
    if (MessageComboBox->isEnabled() != showMessages) MessageComboBox->setEnabled(showMessages);
}

void TQelDemoEditorForm::MessageToolButtonClick() {
    if (TQelDemoPlayback* playback = Playback()) playback->ShowMessages = MessageToolButton->isChecked();
}

void TQelDemoEditorForm::MessageComboBoxChange() {
    if (TQelDemoHooks* hooks = TQelDemoHooks::Instance())
        hooks->DefaultMessageText = MessageComboBox->currentText().toLatin1();
}

// ---------------------------------------------------------------------------
// TQelDemoEditorModule

TQelDemoEditorModule::TQelDemoEditorModule() = default;

TQelDemoEditorModule::~TQelDemoEditorModule() { delete FForm.data(); }

void TQelDemoEditorModule::Create() {
    if (!MainForm) return;
    const QKeySequence shortcut(Qt::CTRL | Qt::SHIFT | Qt::Key_D);
    DemoEditorMenuItem = MainForm->AddMenuItem(
        QStringLiteral("Demo"), shortcut, [this](QObject*) { CmDemoEditor(); }, -1, MainForm->FileMenuItem,
        MainForm->FileMenuSeparator);
    DemoEditorMenuItem->setObjectName(QStringLiteral("DemoEditorMenuItem"));
    DemoEditorMenuItem->setVisible(false);
    DemoEditorShortcut = new QAction(MainForm);
    DemoEditorShortcut->setObjectName(QStringLiteral("DemoEditorShortcut"));
    DemoEditorShortcut->setShortcut(shortcut);
    DemoEditorShortcut->setShortcutContext(Qt::ApplicationShortcut);
    connect(DemoEditorShortcut, &QAction::triggered, this, [this] { CmDemoEditor(); });
    MainForm->addAction(DemoEditorShortcut);
}

TQelDemoEditorForm* TQelDemoEditorModule::GetForm() {
    if (!FForm) FForm = QelCreateForm<TQelDemoEditorForm>(MainForm);
    return FForm;
}

void TQelDemoEditorModule::CmDemoEditor() {
    TQelDemoEditorForm* form = GetForm();
    form->show();
    form->raise();
}
