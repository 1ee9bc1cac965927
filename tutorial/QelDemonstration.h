// The tutorial module: owns the one player, asks before a tutorial starts,
// closes the documents and names the tutorial in the title, asks before an
// abort, reports errors and the end, sends the commands and element names
// that scripts use to the modules, and opens the tutorial list (at start-up
// and after a tutorial started from it).
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <memory>

#include "QelModule.h"

class QAction;
class QPoint;
class TQelDemoPlayback;
class TQelDemoScriptParams;
class TQelDemoScriptUserAction;

// What the tutorial module needs of the document editor before a tutorial
// and after the list closes. Found on the application object's components;
// the document editor implements it.
class IQelDemoDocumentHost {
public:
    virtual bool DemoHasDocument() const = 0;
    virtual bool DemoActiveDocumentClean() const = 0;
    // The active document's close question; false when it refused.
    virtual bool DemoCloseActiveDocument() = 0;
    virtual bool DemoPluginMode() const = 0;
    // True when the active document is the host's exchange document (plug-in
    // mode only); FileName receives its file.
    virtual bool DemoActivePluginDocument(QString& FileName) const = 0;
    // Saves the active document under its name; a failure has been reported
    // when this returns false.
    virtual bool DemoSaveActiveDocument() = 0;
    // Opens FileName in place of the active document; false when it failed.
    virtual bool DemoOpenDocument(const QString& FileName) = 0;

protected:
    ~IQelDemoDocumentHost() = default;
};

class TQelDemonstrationModule : public TQelModuleWithControls {
    Q_OBJECT
public:
    TQelDemonstrationModule();
    ~TQelDemonstrationModule() override;

    // Creates the player, installs its handlers and adds the menu-bar item
    // before the Help menu.
    void Create() override;
    void Localize() override;
    void LoadSettings(TQelSDFReader& Reader) override;
    void SaveSettings(TQelSDFWriter& Writer) override;
    // Queues the list when it is to show at start-up.
    void Initialize() override;
    void UpdateControls() override;

    // The list, modal; a tutorial chosen there is started. Nothing happens
    // while a tutorial plays or records.
    void ShowDemoList();
    void DoShowDemoList() { ShowDemoList(); }
    // Plays tutorial folder + Name + ".dsc" (the file name's case does not
    // matter); the list does not come back afterwards. False when nothing
    // started: the file is missing, a tutorial plays or records, or the
    // start was cancelled.
    bool PlayDemo(const QString& Name);

    TQelDemoPlayback* Playback() const { return FPlayback.get(); }

    // The player's handlers.
    void PlaybackUserCommand(TQelDemoPlayback* Sender, const QByteArray& Command, const TQelDemoScriptParams& Params,
                             TQelDemoScriptUserAction* Action, bool& Handled);
    void PlaybackGetPoint(TQelDemoPlayback* Sender, const TQelDemoScriptParams& Params, QPoint& Point,
                          bool& Handled);
    void PlaybackBeforePlay(TQelDemoPlayback* Sender, bool& Cancel);
    void PlaybackAbortQuery(TQelDemoPlayback* Sender, bool& Abort);
    void PlaybackFinish(TQelDemoPlayback* Sender);
    void PlaybackError(TQelDemoPlayback* Sender, const QByteArray& Msg, const QByteArray& Line, bool& Stop);

    // The first component that is the document editor; null without one.
    static IQelDemoDocumentHost* DocumentHost();
    // The file Name in Folder, its case ignored when no file has exactly
    // that name; empty when there is none.
    static QString FindFileNoCase(const QString& Folder, const QString& Name);

    QAction* DemoMenuItem = nullptr;
    bool ShowAtStartup = false;
    // Set when a tutorial was started from the list: the list comes back
    // when it ends or is aborted.
    bool ListToReappear = false;
    // The item selected when the list last closed (-1: none).
    int32_t ListIndex = 0;
    // With a trailing "/".
    QString DemoFolder;
    bool AskMaximize = false;
    bool AskCloseDocuments = true;
    // The host's exchange document closed for a tutorial in plug-in mode;
    // opened again when the list closes without a tutorial.
    QString PluginDocumentName;

private:
    void RestoreTitle();
    void ListAgain();
    bool Busy() const;

    std::unique_ptr<TQelDemoPlayback> FPlayback;
    QString FSavedTitle;
    bool FTitleSaved = false;
};

// The program's tutorial module; the tools' example links play through it.
extern TQelDemonstrationModule* DemoModule;
