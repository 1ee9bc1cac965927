#include "QelDemonstration.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QMenu>

#include "QelDemoHooks.h"
#include "QelDemoPlayback.h"
#include "QelDemoScript.h"
#include "QelDemonstrationForm.h"
#include "QelLocalizer.h"
#include "QelMainForm.h"
#include "QelMessageBox.h"

TQelDemonstrationModule* DemoModule = nullptr;

namespace {

constexpr TQelGuid DemoSettingsGuid = TQelGuid::Parse("{2032DB53-FE8E-4FB8-8457-43C5430C9D6B}");

// Texts of the language files.
constexpr int32_t TextTutorials = 37;
constexpr int32_t TextAbortQuestion = 172;
// 173 close the documents, 174 maximize, 175 both.
constexpr int32_t TextBeforePlayQuestion = 172;
constexpr int32_t TextEnd = 725;

constexpr int AskClose = 1;
constexpr int AskMaximizeWindow = 2;

int ShowBox(const QString& Text, uint32_t Flags) {
    TQelApplication* app = TQelApplication::Instance();
    return app ? app->MessageBox(Text, QelText(TextTutorials), Flags) : IDCANCEL;
}

}  // namespace

TQelDemonstrationModule::TQelDemonstrationModule() = default;

TQelDemonstrationModule::~TQelDemonstrationModule() {
    if (FPlayback) {
        if (TQelDemoHooks* hooks = TQelDemoHooks::Instance(); hooks && hooks->Playback() == FPlayback.get())
            hooks->SetPlayback(nullptr);
        FPlayback.reset();
    }
    if (DemoModule == this) DemoModule = nullptr;
}

void TQelDemonstrationModule::Create() {
    if (!DemoModule) DemoModule = this;
    FPlayback = std::make_unique<TQelDemoPlayback>();
    TQelDemoPlayback* playback = FPlayback.get();
    playback->OnUserCommand = [this](TQelDemoPlayback* sender, const QByteArray& command,
                                     const TQelDemoScriptParams& params, TQelDemoScriptUserAction* action,
                                     bool& handled) { PlaybackUserCommand(sender, command, params, action, handled); };
    playback->OnGetPoint = [this](TQelDemoPlayback* sender, const TQelDemoScriptParams& params, QPoint& point,
                                  bool& handled) { PlaybackGetPoint(sender, params, point, handled); };
    playback->OnBeforePlay = [this](TQelDemoPlayback* sender, bool& cancel) { PlaybackBeforePlay(sender, cancel); };
    playback->OnAbortQuery = [this](TQelDemoPlayback* sender, bool& abort) { PlaybackAbortQuery(sender, abort); };
    playback->OnFinish = [this](TQelDemoPlayback* sender) { PlaybackFinish(sender); };
    playback->OnError = [this](TQelDemoPlayback* sender, const QByteArray& msg, const QByteArray& line, bool& stop) {
        PlaybackError(sender, msg, line, stop);
    };
    if (TQelDemoHooks* hooks = TQelDemoHooks::Instance()) {
        hooks->SetPlayback(playback);
        hooks->DefaultMessageText = "Click";
    }

    if (MainForm) {
        QAction* before = MainForm->HelpMenuItem ? MainForm->HelpMenuItem->menuAction() : nullptr;
        DemoMenuItem = MainForm->AddMenuItem(
            QelText(TextTutorials), QKeySequence(), [this](QObject*) { ShowDemoList(); }, -1, nullptr, before);
        DemoMenuItem->setObjectName(QStringLiteral("DemoMenuItem"));
    }
    AskMaximize = false;
    AskCloseDocuments = true;
}

void TQelDemonstrationModule::Localize() {
    if (DemoMenuItem) DemoMenuItem->setText(QelText(TextTutorials));
}

void TQelDemonstrationModule::LoadSettings(TQelSDFReader& Reader) {
    TQelModuleWithControls::LoadSettings(Reader);
    if (!Reader.OpenNode(1, DemoSettingsGuid)) return;
    Reader.ReadBoolean(1, ShowAtStartup);
    Reader.CloseNode();
}

void TQelDemonstrationModule::SaveSettings(TQelSDFWriter& Writer) {
    TQelModuleWithControls::SaveSettings(Writer);
    Writer.BeginNode(1, DemoSettingsGuid);
    Writer.WriteBoolean(1, ShowAtStartup);
    Writer.EndNode();
}

void TQelDemonstrationModule::Initialize() {
    if (ShowAtStartup)
        if (TQelApplication* app = TQelApplication::Instance())
            app->QueueCall(TQelMethod(this, &TQelDemonstrationModule::DoShowDemoList));
    TQelModuleWithControls::Initialize();
}

bool TQelDemonstrationModule::Busy() const { return FPlayback->IsPlaying() || FPlayback->IsRecording(); }

void TQelDemonstrationModule::UpdateControls() {
    // Also while recording: a tutorial started then would take the place of
    // the script being recorded.
    const bool enabled = !Busy();
    QelSetEnabled(DemoMenuItem, enabled);
}

// ---- the list and PlayDemo -----------------------------------------------------

void TQelDemonstrationModule::ShowDemoList() {
    if (Busy()) return;
    bool started = false;
    {
        std::unique_ptr<TQelDemonstrationForm> form(QelCreateForm<TQelDemonstrationForm>(this, MainForm));
        if (form->exec() == QDialog::Accepted) {
            const TQelDemoScript* chosen = form->ChosenScript();
            // Checked again: the list's own loop ran meanwhile.
            if (chosen && !Busy()) {
                // The copy is taken before the list and its scripts are freed.
                FPlayback->SetScript(*chosen);
                started = FPlayback->Play(0);
            }
        }
    }
    if (started) {
        ++ListIndex;
        ListToReappear = true;
        return;
    }
    IQelDemoDocumentHost* host = DocumentHost();
    // The host's image comes back in place of whatever the tutorials left
    // open; once it is back, it is no longer a closed document.
    if (host && host->DemoPluginMode() && !PluginDocumentName.isEmpty() && host->DemoOpenDocument(PluginDocumentName))
        PluginDocumentName.clear();
}

QString TQelDemonstrationModule::FindFileNoCase(const QString& Folder, const QString& Name) {
    const QDir dir(Folder);
    if (QFileInfo(dir.filePath(Name)).isFile()) return dir.filePath(Name);
    // Scripts name their files as a case-blind system would.
    const QFileInfoList files = dir.entryInfoList(QDir::Files | QDir::Hidden);
    for (const QFileInfo& file : files)
        if (file.fileName().compare(Name, Qt::CaseInsensitive) == 0) return file.filePath();
    return QString();
}

bool TQelDemonstrationModule::PlayDemo(const QString& Name) {
    // Checked before anything is loaded: the running script must not be
    // replaced under its current line, nor a recording lost.
    if (Busy() || Name.isEmpty()) return false;
    const QString fileName = FindFileNoCase(DemoFolder, Name + QStringLiteral(".dsc"));
    if (fileName.isEmpty()) return false;
    FPlayback->Script().LoadFromFile(fileName);
    return FPlayback->Play(0);
}

// ---- the player's handlers ----------------------------------------------------------

IQelDemoDocumentHost* TQelDemonstrationModule::DocumentHost() {
    IQelDemoDocumentHost* host = nullptr;
    if (TQelApplication* app = TQelApplication::Instance())
        app->ForEachComponent<IQelDemoDocumentHost>([&host](IQelDemoDocumentHost* found) {
            host = found;
            return true;
        });
    return host;
}

void TQelDemonstrationModule::PlaybackUserCommand(TQelDemoPlayback* Sender, const QByteArray& Command,
                                                  const TQelDemoScriptParams& Params,
                                                  TQelDemoScriptUserAction* Action, bool& Handled) {
    if (TQelDemoHooks* hooks = TQelDemoHooks::Instance()) hooks->ExecuteCommand(Sender, Command, Params, Action, Handled);
}

void TQelDemonstrationModule::PlaybackGetPoint(TQelDemoPlayback* Sender, const TQelDemoScriptParams& Params,
                                               QPoint& Point, bool& Handled) {
    if (TQelDemoHooks* hooks = TQelDemoHooks::Instance()) hooks->GetCommandPoint(Sender, Params, Point, Handled);
}

void TQelDemonstrationModule::PlaybackBeforePlay(TQelDemoPlayback* Sender, bool& Cancel) {
    IQelDemoDocumentHost* host = DocumentHost();
    QString pluginName;
    // An unmodified image goes without a question.
    if (host && host->DemoHasDocument() && host->DemoActiveDocumentClean()) {
        // Only the host's image is kept to come back; a tutorial's own sample
        // never takes its place.
        if (host->DemoPluginMode() && host->DemoActivePluginDocument(pluginName)) PluginDocumentName = pluginName;
        host->DemoCloseActiveDocument();
    }

    int kind = 0;
    if (AskCloseDocuments && host && host->DemoHasDocument()) kind |= AskClose;
    if (AskMaximize && MainForm && !MainForm->isMaximized()) kind |= AskMaximizeWindow;
    bool yes = false;
    if (kind != 0) {
        yes = ShowBox(QelText(TextBeforePlayQuestion + kind), MB_YESNO | MB_ICONQUESTION) == IDYES;
        if (!yes) Cancel = true;
    }

    if (yes && (kind & AskClose)) {
        while (!Cancel && host->DemoHasDocument()) {
            if (host->DemoPluginMode() && host->DemoActivePluginDocument(pluginName)) {
                // A save that fails keeps the image and the tutorial waits:
                // closing it now would lose the retouching.
                if (!host->DemoSaveActiveDocument()) {
                    Cancel = true;
                    break;
                }
                PluginDocumentName = pluginName;
            }
            if (!host->DemoCloseActiveDocument()) Cancel = true;
        }
    }
    if (Cancel) return;
    if (yes && (kind & AskMaximizeWindow) && MainForm) MainForm->showMaximized();

    if (TQelApplication* app = TQelApplication::Instance()) {
        // A tutorial that ended without giving the title back (a handler
        // that threw) must not leave its name in front of the next one.
        if (!FTitleSaved) FSavedTitle = app->GetTitle();
        FTitleSaved = true;
        app->SetTitle(FSavedTitle + QStringLiteral(" - ") + Sender->Script().GetTitle());
    }
}

void TQelDemonstrationModule::RestoreTitle() {
    if (!FTitleSaved) return;
    FTitleSaved = false;
    if (TQelApplication* app = TQelApplication::Instance()) app->SetTitle(FSavedTitle);
}

void TQelDemonstrationModule::ListAgain() {
    if (!ListToReappear) return;
    ListToReappear = false;
    if (TQelApplication* app = TQelApplication::Instance())
        app->QueueCall(TQelMethod(this, &TQelDemonstrationModule::DoShowDemoList));
}

void TQelDemonstrationModule::PlaybackAbortQuery(TQelDemoPlayback*, bool& Abort) {
    Abort = ShowBox(QelText(TextAbortQuestion), MB_YESNO | MB_ICONQUESTION) == IDYES;
    if (!Abort) return;
    RestoreTitle();
    ListAgain();
}

void TQelDemonstrationModule::PlaybackFinish(TQelDemoPlayback*) {
    RestoreTitle();
    ShowBox(QelText(TextEnd), MB_OK | MB_ICONINFORMATION);
    ListAgain();
}

void TQelDemonstrationModule::PlaybackError(TQelDemoPlayback* Sender, const QByteArray& Msg, const QByteArray& Line,
                                            bool& Stop) {
    // The line is shown as the script's own bytes are meant.
    const bool utf8 = Sender && Sender->Script().Utf8();
    const QString line = utf8 ? QString::fromUtf8(Line)
                              : TQelDemoScript::FromSystemCodePage(std::string_view(Line.constData(), size_t(Line.size())));
    ShowBox(QString::fromUtf8(Msg) + QLatin1Char('\n') + line, MB_OK | MB_ICONERROR);
    // A tutorial stopped by an error is over: its name leaves the caption,
    // or the next start would append a second one. The list stays away.
    if (Stop) RestoreTitle();
}
