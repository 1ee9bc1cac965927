// The generic document and document editor: documents with their history,
// view and listeners; the editor module that opens, saves and closes them,
// runs undo and redo and keeps the recent files.
#pragma once

#include <QAction>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <vector>

#include "QelClasses.h"
#include "QelDemoHooks.h"
#include "QelFileFormats.h"
#include "QelGeometry.h"
#include "QelModule.h"
#include "QelViewControls.h"

class QMenu;
class QToolBar;
class TQelDemoPlayback;
class TQelDocument;
class TQelEditor;

// Told when a document has been loaded and when it closes.
class IQelDocumentListener {
public:
    virtual void DocumentLoaded(TQelDocument* Document) = 0;
    virtual void DocumentClosed(TQelDocument* Document) = 0;

protected:
    ~IQelDocumentListener() = default;
};

// The editor's format table: reading and writing documents.
class TQelDocumentFormats : public TQelFileFormats {
public:
    // FormatId receives the row the file was read as.
    virtual bool Load(TQelDocument& Document, const QString& FileName, int32_t& FormatId) = 0;
    virtual bool Save(TQelDocument& Document, const QString& FileName, int32_t FormatId) = 0;
    virtual bool CanSave(int32_t FormatId) = 0;
    // Why the last Load or Save failed, in words for the user; empty after
    // a success and when the user cancelled (none in the base).
    virtual QString LastError() const { return QString(); }
    // What the user should know of a file the last Load did read (that part
    // of it was left out, say); empty when nothing (always, in the base).
    virtual QString LoadNotice() const { return QString(); }
};

// A document: file name and format, modified state, undo history, its one
// view and its listeners. The editor's document list owns it.
//
// The modified state follows the history: the history index at the last load
// or save is kept, and the document is clean exactly when the history stands
// at that index again. Commands must therefore enter the history through
// AddCommandState, which notices when the saved state is dropped.
class TQelDocument {
public:
    // Editor may be null for a document used outside an editor; Load, SaveAs
    // and the close question then fail.
    explicit TQelDocument(TQelEditor* Editor);
    virtual ~TQelDocument();
    TQelDocument(const TQelDocument&) = delete;
    TQelDocument& operator=(const TQelDocument&) = delete;

    TQelEditor* Editor() const { return FEditor; }

    // Creates the document's view (parentless; the editor places it).
    virtual void CreateView(TQelViewControl*& View) = 0;
    // The view, created on first use.
    virtual TQelViewControl* GetView();
    // Hook at the start of CloseQuery.
    virtual void BeforeClose() {}
    // Hook the format table calls before it writes the document.
    virtual void BeforeSave() {}
    // Hook the editor calls after an opened document was shown and made
    // active.
    virtual void AfterOpen() {}
    // A listener already registered is not added again.
    virtual void AddListener(IQelDocumentListener* Listener);
    virtual void RemoveListener(IQelDocumentListener* Listener);
    virtual bool Load(const QString& FileName);
    virtual bool SaveAs(const QString& FileName, int32_t FormatId);
    virtual bool CanSave();
    // SaveAs under the current name and format; false for an untitled
    // document.
    virtual bool Save();
    // True when the document may close. On true the document has been
    // removed from its editor, which freed it: the caller must not touch it
    // any more.
    virtual bool CloseQuery();

    // The view when it exists; nothing is created.
    bool FindView(TQelViewControl*& View) const;
    // The file name without its folder, or the "untitled" text.
    QString GetDisplayName() const;
    void NotifyLoaded();
    void NotifyClosed();
    // Appends a command to the history (dropping the undone ones first).
    void AddCommandState(std::unique_ptr<TQelCommandState> State);

    bool Clean() const;
    // True: the current history index becomes the saved one. False: the
    // document counts as modified until it is saved again.
    void SetClean(bool Value);

    int ListenerCount() const { return int(FListeners.size()); }

    bool TutorialDocument = false;
    QString FileName;
    int32_t FormatId = 0;
    TQelCommandHistoryList History;

protected:
    // True while a change is running that no history state holds yet; a
    // save made then shows the running change, so it records no clean
    // state.
    virtual bool ModificationRunning() const { return false; }
    // Frees the view now. A derived document whose view uses its members
    // calls this at the top of its destructor.
    void DestroyView();

private:
    TQelEditor* FEditor;
    // -1: no history index matches the file on disk.
    int FSavedIndex = 0;
    std::vector<IQelDocumentListener*> FListeners;
    // Guarded: the view is a child widget of the main window, which Qt may
    // already have freed.
    QPointer<TQelViewControl> FView;
};

// The document editor module: creates the main window, adds the File and
// Edit commands, keeps the open documents (the last one is active), runs the
// open and save dialogs, the questions, undo and redo and the recent files.
// A concrete editor supplies the format table and the document class.
class TQelEditor : public TQelModuleWithControls, public IQelScriptableModule {
    Q_OBJECT
public:
    TQelEditor();
    ~TQelEditor() override;

    // Creates the main window and the editor's menu items and toolbar.
    void Create() override;
    void Localize() override;
    void LoadSettings(TQelSDFReader& Reader) override;
    void SaveSettings(TQelSDFWriter& Writer) override;
    // Opens the file named by the first command-line argument when it exists.
    void AllLoaded() override;
    void UpdateControls() override;

    virtual void SetActiveDocument(TQelDocument* Document);
    virtual void UpdateCaption();
    // Removes the document from the list, which frees it.
    virtual void RemoveDocument(TQelDocument* Document);
    virtual void SetMDI(bool Value);
    // The active document's history; null without a document.
    virtual TQelCommandHistoryList* GetHistory();
    virtual TQelDocumentFormats* GetFormats() = 0;
    // A new empty document.
    virtual std::unique_ptr<TQelDocument> CreateDocument() = 0;
    // Places the document's view in the main window's work area.
    virtual bool ShowDocument(TQelDocument* Document, TQelViewControl*& View);
    virtual bool ExecuteOpenDialog();
    // A name typed without an extension gets the chosen row's default one.
    // A failed save that has a reason shows it (see ReportSaveFailure).
    virtual bool ExecuteSaveAsDialog(TQelDocument* Document);
    // Tells the user why saving FileName failed: the formats' LastError
    // after a text naming the file, in an error box. Nothing when there is
    // no reason, that is when the user cancelled.
    void ReportSaveFailure(const QString& FileName);
    // The pressed button: IDYES, IDNO or IDCANCEL.
    virtual int AskSaveChanges(const QString& Name);
    // IDYES or IDNO.
    virtual int AskOverwrite(const QString& Name);
    // Asks every document, the active one first; stops at the first refusal.
    virtual void CloseQueryAll(bool& CanClose);

    void ExecuteCommand(TQelDemoPlayback* Playback, const QByteArray& Command, const TQelDemoScriptParams& Params,
                        TQelDemoScriptUserAction* Action, bool& Handled) override;
    void GetCommandPoint(TQelDemoPlayback* Playback, const TQelDemoScriptParams& Params, QPoint& Point,
                         bool& Handled) override;
    void StartRecording(TQelDemoPlayback* Recorder) override;
    void StopRecording(TQelDemoPlayback* Recorder) override;

    virtual void AddToRecentFiles(TQelDocument* Document);
    virtual void SetPluginMode(bool Value);
    virtual bool NewDocument(TQelDocument*& Document);
    virtual bool OpenDocument(const QString& FileName, TQelDocument*& Document, bool AddToRecent);
    virtual bool CanUndo();
    virtual bool CanRedo();
    virtual void DoUndo();
    virtual void DoRedo();
    virtual void OpenClick(QObject* Sender);
    virtual void CloseClick(QObject* Sender);
    virtual void SaveClick(QObject* Sender);
    virtual void SaveAsClick(QObject* Sender);
    virtual void UndoClick(QObject* Sender);
    virtual void UndoAllClick(QObject* Sender);
    virtual void RedoClick(QObject* Sender);
    virtual void RedoAllClick(QObject* Sender);

    // The last document; null when none is open.
    TQelDocument* GetActiveDocument() const;
    int GetDocumentCount() const { return int(Documents.size()); }
    TQelDocument* GetDocument(int Index) const;
    // The active document's view when it exists.
    bool GetActiveView(TQelViewControl*& View) const;
    // Lets the active document close unless several may be open.
    bool CloseActiveQuery();

    // Puts FileName at the top of the recent files and brings the menu in
    // step.
    void AddRecentFileName(const QString& FileName);
    void RecentFileClick(QObject* Sender);

    QAction* OpenMenuItem = nullptr;
    QAction* SaveMenuItem = nullptr;
    QAction* SaveAsMenuItem = nullptr;
    QAction* CloseMenuItem = nullptr;
    QMenu* EditMenuItem = nullptr;
    QAction* UndoMenuItem = nullptr;
    QAction* RedoMenuItem = nullptr;
    QAction* UndoAllMenuItem = nullptr;
    QAction* RedoAllMenuItem = nullptr;
    QToolBar* StandardToolbar = nullptr;
    QAction* OpenToolButton = nullptr;
    QAction* SaveToolButton = nullptr;
    QAction* UndoToolButton = nullptr;
    QAction* RedoToolButton = nullptr;
    QAction* RecentFilesMenuSeparator = nullptr;
    QAction* EditToolbarSeparator = nullptr;

    bool PluginMode = false;
    TQelDemoPlayback* Recorder = nullptr;
    bool MDI = false;
    std::vector<std::unique_ptr<TQelDocument>> Documents;
    QStringList RecentFiles;
    int32_t MaxRecentFiles = 5;

protected:
    // The main window's close request asks every document first.
    bool eventFilter(QObject* Watched, QEvent* Event) override;
    // While recording: the pointer move to Element, the optional message and
    // the command line.
    void RecordCommand(const QByteArray& Element, const QByteArray& Message, const QByteArray& Command);

private:
    // The recent-file items, top first; each keeps its file name as data.
    QList<QAction*> RecentFileItems() const;
};
