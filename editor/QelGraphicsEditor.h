// The graphics editor module. Including this header brings the whole
// graphics editor: document, view, tool framework and the editor itself.
#pragma once

#include "QelDemonstration.h"
#include "QelGraphicsDocument.h"
#include "QelGraphicsTool.h"
#include "QelGraphicsView.h"

class TQelImport;

class TQelGraphicsEditor : public TQelEditor,
                           public IQelGraphicsStatus,
                           public IQelGraphicsToolHost,
                           public IQelDemoDocumentHost {
    Q_OBJECT
public:
    TQelGraphicsEditor();
    ~TQelGraphicsEditor() override;

    void Create() override;
    void Localize() override;
    void LoadSettings(TQelSDFReader& Reader) override;
    void SaveSettings(TQelSDFWriter& Writer) override;
    // Also starts the scanner search, once the window shows.
    void AllLoaded() override;
    void UpdateControls() override;

    TQelDocumentFormats* GetFormats() override;
    std::unique_ptr<TQelDocument> CreateDocument() override;
    // An exchange file puts the editor into plug-in mode first.
    void SetActiveDocument(TQelDocument* Document) override;
    void UpdateCaption() override;
    // Every tool gets its control on the new view, the image is fitted and
    // the active tool takes its new control into use.
    bool ShowDocument(TQelDocument* Document, TQelViewControl*& View) override;
    // In plug-in mode: writes the image back without a dialog; false (after
    // an error message) when that failed.
    bool ExecuteSaveAsDialog(TQelDocument* Document) override;
    void ExecuteCommand(TQelDemoPlayback* Playback, const QByteArray& Command, const TQelDemoScriptParams& Params,
                        TQelDemoScriptUserAction* Action, bool& Handled) override;
    void GetCommandPoint(TQelDemoPlayback* Playback, const TQelDemoScriptParams& Params, QPoint& Point,
                         bool& Handled) override;
    void AddToRecentFiles(TQelDocument* Document) override;
    void SetPluginMode(bool Value) override;
    bool OpenDocument(const QString& FileName, TQelDocument*& Document, bool AddToRecent) override;
    // With the last document gone, the status bar no longer describes it.
    void RemoveDocument(TQelDocument* Document) override;
    // Not while a modification runs.
    bool CanUndo() override;
    bool CanRedo() override;
    // The active tool steps aside while the history moves.
    void DoUndo() override;
    void DoRedo() override;

    void SetStatusText(TQelGraphicsStatusPanel Panel, const QString& Text) override;

    // What the tutorial module asks before a tutorial and after its list.
    bool DemoHasDocument() const override;
    // A running change counts as a modification.
    bool DemoActiveDocumentClean() const override;
    bool DemoCloseActiveDocument() override;
    bool DemoPluginMode() const override { return PluginMode; }
    // Only the exchange file's document is the host's image.
    bool DemoActivePluginDocument(QString& FileName) const override;
    // Writes the running change and the image; a failure is reported.
    bool DemoSaveActiveDocument() override;
    bool DemoOpenDocument(const QString& FileName) override;

    // The main window's wheel: to the view when the pointer is inside it.
    virtual void HandleMouseWheel(QObject* Sender, TShiftState Shift, int32_t WheelDelta, const QPoint& MousePos,
                                  bool& Handled);
    virtual void DocumentFormActivate(TQelDocument* Document);
    virtual void NextImageClick(QObject* Sender);
    virtual void PrevImageClick(QObject* Sender);
    virtual void ZoomInClick(QObject* Sender);
    virtual void ZoomOutClick(QObject* Sender);
    virtual void ActualSizeClick(QObject* Sender);
    virtual void BestFitClick(QObject* Sender);
    // Writes the host's image back and closes with exit code 0; a failed
    // write keeps the window open. With no exchange document open (a
    // tutorial took its place) nothing is written: the exchange file still
    // holds the host's image as last saved.
    virtual void PluginOkClick(QObject* Sender);
    // Closes without writing; the exit code stays -1.
    virtual void PluginCancelClick(QObject* Sender);

    // A dropped file.
    void OpenFileByName(const QString& FileName);
    // The active document and its view; null when none.
    TQelGraphicsDocument* GetActiveDocument() const;
    using TQelEditor::GetActiveView;
    TQelGraphicsView* GetActiveView() const;
    void RefitView();
    // Grows the main window so that the view gets at least Width x Height,
    // keeping the window inside the work area.
    void GrowMainWindow(int32_t Width, int32_t Height);

    void SetActiveTool(TQelGraphicsTool* Tool) override;
    void LockActiveTool() { ActiveToolLocked = true; }
    void UnlockActiveTool() { ActiveToolLocked = false; }
    bool CanToolModify(const TQelGraphicsTool* Tool) const;

    // The image files of FileName's folder, sorted by name, and FileName's
    // place among them. A name without a folder changes nothing.
    void BuildFolderList(const QString& FileName);
    // Opens the file Step places on in the folder list (previous/next).
    void StepThroughFolder(int32_t Step);

    QAction* ZoomInMenuItem = nullptr;
    QAction* ZoomOutMenuItem = nullptr;
    QAction* ActualSizeMenuItem = nullptr;
    QAction* ScaleToBestFitMenuItem = nullptr;
    QAction* ZoomMenuSeparator = nullptr;
    QAction* ZoomToolbarSeparator = nullptr;
    QAction* ZoomInButton = nullptr;
    QAction* ZoomOutButton = nullptr;
    QAction* ActualSizeButton = nullptr;
    QAction* ScaleToBestFitButton = nullptr;
    QAction* CloseMenuSeperator = nullptr;
    // Status panel indices.
    int32_t XStatusPanel = -1;
    int32_t YStatusPanel = -1;
    int32_t WStatusPanel = -1;
    int32_t HStatusPanel = -1;
    int32_t RStatusPanel = -1;
    int32_t GStatusPanel = -1;
    int32_t BStatusPanel = -1;
    QAction* PrevImageButton = nullptr;
    QAction* NextImageButton = nullptr;
    QAction* PluginToolbarSeparator = nullptr;
    QAction* OkButton = nullptr;
    QAction* CancelButton = nullptr;

    // Scanner and camera import, with its component and menu items. Owned;
    // freed before the rest of the editor.
    std::unique_ptr<TQelImport> Import;
    bool ActiveToolLocked = false;
    std::unique_ptr<TQelGraphicsFormats> Formats;
    // Guarded: the tools are freed before the editor at shut-down.
    QPointer<TQelGraphicsTool> ActiveTool;
    // The program folder's "Images" subfolder, with a trailing separator.
    QString ImagesFolder;
    QStringList FolderFiles;
    int32_t FolderIndex = -1;

protected:
    // The screen's area for windows, which the main window is kept inside.
    virtual QRect WorkArea() const;
    bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
    // Shows why the image could not be written back.
    void ReportWriteBackFailure();
    void SetMinWindowSize(int32_t Width, int32_t Height);
};

// The one graphics editor; null before it is created and after it is gone.
extern TQelGraphicsEditor* GraphicsEditor;
