// The image document, the view that shows it zoomed, and the hooks through
// which both reach the tools and the editor's status bar.
#pragma once

#include <QByteArray>
#include <QPoint>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "Jolvex.h"
#include "QelBitmap.h"
#include "QelClasses.h"
#include "QelEditor.h"
#include "QelGeometry.h"
#include "QelGraphicsFormats.h"
#include "QelImageCodec.h"
#include "QelImageMetadata.h"
#include "QelInput.h"
#include "QelLTBitmap.h"
#include "QelModule.h"
#include "QelNumeric.h"
#include "QelView.h"
#include "QelViewControls.h"

class TQelGraphicsDocument;
class TQelGraphicsTool;
class TQelGraphicsView;

// The editor's status-bar values the document and its views keep current.
enum class TQelGraphicsStatusPanel : int32_t { X, Y, W, H, R, G, B };

// Implemented by the editor that shows graphics documents.
class IQelGraphicsStatus {
public:
    virtual void SetStatusText(TQelGraphicsStatusPanel Panel, const QString& Text) = 0;

protected:
    ~IQelGraphicsStatus() = default;
};

// --- Metadata ----------------------------------------------------------------

// The property items of an image file in file order (id, type, length and
// bytes), and its resolution in dots per inch.
class TQelGraphicsDocumentProperties : public TQelCustomProperties {
public:
    // Clears the bag, then takes the items of the file open in Image, in
    // order (none when it has none or they cannot be read), and its
    // resolution: the file format's own, else the items', else 96.
    void ReadFromImage(const TQelImageDecoder& Image);
    // Every stored item, in order, for the encoder that writes the file.
    void WriteToImage(TQelPropertyItems& Items) const;
    // Drops the thumbnail items (ids 20498..20505 and 20507..20539).
    void RemoveThumbnailTags();
    // Appends an item; an id already present is kept as well.
    void AddItem(uint32_t Id, uint16_t Type, const void* Data, uint32_t Size);

    int32_t HorizontalResolution = 0;
    int32_t VerticalResolution = 0;
};

// --- Document ------------------------------------------------------------------

// The image document: current and original image, the backup of the running
// modification, the selection, the lossless JPEG session and the metadata.
// Outside a running modification Backup holds the pixels of Image.
class TQelGraphicsDocument : public TQelDocument {
public:
    explicit TQelGraphicsDocument(TQelEditor* Editor);
    ~TQelGraphicsDocument() override;

    void CreateView(TQelViewControl*& View) override;
    void AfterOpen() override;
    void BeforeSave() override;
    void BeforeClose() override;

    // The view when it exists; nothing is created.
    TQelGraphicsView* FindGraphicsView() const;

    // Running modification. A new one ends the running one first, through
    // that tool's FinishModification.
    void BeginModification(TQelGraphicsTool* Tool);
    // Only a Caller that is this document runs the tool's
    // FinishModification; ModifyingTool stays set either way.
    void EndModification(const void* Caller);
    void ResetModification();
    void AddModifiedRect(const TQelRect& Rect);
    // Repaints the view over Rect (image coordinates), one pixel wider.
    void InvalidateImageRect(const TQelRect& Rect);
    void SyncBackup();

    TQelPixels* GetPixels() const { return Image.GetPixels(); }
    TQelPixels* GetOriginalPixels() const { return OriginalImage.GetPixels(); }

    // The selection, else the whole image.
    TQelRect GetWorkRect() const;
    bool HasSelection() const { return !SelectionRect.IsEmpty(); }
    void ClearSelection() { SelectionRect = TQelRect(); }
    // Clipped to the image; covering the whole image means no selection.
    void SetSelectionRect(const TQelRect& Rect);
    // The view's extent after a size change, and the size panels.
    void RefreshView();

    // Image takes Pixels (and OriginalImage OriginalPixels when given).
    void AssignImage(const TQelPixels& Pixels, const TQelPixels* OriginalPixels);
    void CopyImageTo(TQelPixelBuffer& Pixels, TQelPixelBuffer* OriginalPixels) const;
    // The image fitted into MaxSize x MaxSize; an empty bitmap for an empty
    // image or a MaxSize below 1.
    std::unique_ptr<TQelLTBitmap> CreatePreviewBitmap(int32_t MaxSize) const;

    // Geometry: image, original, backup, selection and session in step.
    // Each raises EQelOutOfMemory when the new rows cannot be had.
    void RotateLeft();
    void RotateRight();
    void FlipHorizontal();
    void FlipVertical();
    // Nothing happens when Rect misses the image.
    void Crop(const TQelRect& Rect);
    // A width or height below 1, or an empty image, changes nothing.
    void Resize(int32_t Width, int32_t Height, bool ScaleSelection, bool ResizeOriginal);

    // Broadcasts to the tool modules, in component order.
    void NotifyBeforeUndo();
    void NotifyAfterUndo();
    void NotifyBeforeRedo();
    void NotifyAfterRedo();
    void NotifyImageChanged(TQelGraphicsTool* Tool, const TQelRect& Rect);

    TQelRect SelectionRect;
    std::shared_ptr<IJLVX> JpegSession;
    TQelRect ModifiedRect;
    bool Modifying = false;
    TQelGraphicsTool* ModifyingTool = nullptr;
    TQelLTBitmap Image;
    TQelLTBitmap OriginalImage;
    TQelPixelBuffer Backup;
    TQelGraphicsDocumentProperties Properties;

protected:
    bool ModificationRunning() const override { return Modifying; }

private:
    bool SessionOpen() const { return JpegSession && JpegSession->IsOpen(); }
    // After a geometry change: backup, view and panels.
    void Resync();
};

// --- View ----------------------------------------------------------------------

// The zoom steps, smallest first.
struct TQelZoomStep {
    int32_t Numerator;
    int32_t Denominator;
};
constexpr int32_t QelZoomStepCount = 21;
extern const TQelZoomStep QelZoomSteps[QelZoomStepCount];

// The view object that paints the document's current image.
class TQelGraphicDocumentView : public TQelViewObject {
public:
    explicit TQelGraphicDocumentView(TQelGraphicsDocument* Document) : FDocument(Document) {}

    void Create() override;
    void Reset() override;
    // Bounds := the image's, after its size changed.
    void UpdateBounds();
    // Paints the document's work rectangle only.
    void PaintBody(TQelViewCanvas& Canvas) override;

private:
    TQelGraphicsDocument* FDocument;
};

// Shows one graphics document, scrolled and zoomed, and hands mouse, wheel,
// key and cursor input to the tool controls from the topmost down until one
// uses it. The document owns the view.
class TQelGraphicsView : public TQelScrollViewControl, public IQelDocumentListener {
    Q_OBJECT
public:
    explicit TQelGraphicsView(TQelGraphicsDocument* Document, QWidget* Parent = nullptr);
    ~TQelGraphicsView() override;

    void Create() override;

    void DocumentLoaded(TQelDocument* Document) override;
    void DocumentClosed(TQelDocument* Document) override;

    // Scale Numerator/Denominator, keeping the image point at the client
    // centre. A numerator or denominator below 1 changes nothing.
    void Zoom(int32_t Numerator, int32_t Denominator);
    // -1, 0 or +1 as Numerator/Denominator is below, at or above the
    // present scale, compared in thousandths.
    int32_t CompareScale(int32_t Numerator, int32_t Denominator) const;
    void ZoomIn();
    void ZoomOut();
    void ActualSize();
    void BestFit();
    // Actual size when the image fits, else best fit. Like BestFit, it waits
    // for the first size when the view has none yet.
    void FitView();

    // The pixel under an image point; black outside the image.
    void GetPixelAt(const TQelPoint& ImagePoint, TQelRGBTriple& Triple) const;
    // A wheel turn at a screen point: one step, offered to the controls from
    // the topmost, else the default handling.
    bool DispatchWheel(TShiftState Shift, int32_t Delta, const QPoint& ScreenPoint);
    // Asks the controls for the cursor under the pointer and shows it.
    void UpdateCursor();
    // Takes the focus when the main window is the active one.
    void SetFocus();

    TQelGraphicsDocument* Document() const { return FDocument; }

    TQelGraphicDocumentView* DocumentObject = nullptr;
    bool ButtonDown = false;
    TQelPoint LastPoint;
    bool MouseInside = false;

protected:
    void MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) override;
    void MouseMove(TShiftState Shift, int32_t X, int32_t Y) override;
    void MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) override;
    void KeyDown(uint16_t& Key, TShiftState Shift) override;
    void KeyUp(uint16_t& Key, TShiftState Shift) override;
    bool MouseWheel(TShiftState Shift, int32_t WheelDelta, const TQelPoint& MousePos) override;
    void MouseEnter() override;
    void MouseLeave() override;
    void resizeEvent(QResizeEvent* Event) override;

private:
    enum class TPendingFit { None, Fit, Best };

    void MouseEntered();
    void MouseLeft();
    // False when the view was freed while a control ran.
    template <class F>
    bool WalkControls(F&& Call);
    void ShowCursorAt(const TQelPoint& Point, TShiftState Shift);
    void ShowPointer(const TQelPoint& ClientPoint);
    TQelDemoPlayback* ActiveRecorder() const;
    void RecordPoint(TQelDemoPlayback* Recorder, const char* Text, const TQelPoint& P);
    // False, with the fit remembered, while the view or the image has no size.
    bool FitSizes(int32_t& W, int32_t& H, int32_t& ImageW, int32_t& ImageH, TPendingFit Fit);

    TQelGraphicsDocument* FDocument;
    TPendingFit FPendingFit = TPendingFit::None;
    int32_t FCursorId = -32768;
};

// --- Tools ---------------------------------------------------------------------

class TQelGraphicsToolControl;

// Implemented by the editor that keeps the active tool.
class IQelGraphicsToolHost {
public:
    // Deactivates the present tool, then activates Tool (none when null).
    virtual void SetActiveTool(TQelGraphicsTool* Tool) = 0;

protected:
    ~IQelGraphicsToolHost() = default;
};

// Whether Tool may change the image of Document now: never without a
// document; only the active tool while it is locked; and no other tool while
// a tool that declares its modifications exclusive is modifying.
bool QelCanToolModify(const TQelGraphicsDocument* Document, const TQelGraphicsTool* Tool,
                      const TQelGraphicsTool* ActiveTool, bool ActiveToolLocked);

// Makes one control for a tool on a view; the view's object list owns it.
using TQelToolControlFactory = std::function<TQelGraphicsToolControl*(TQelGraphicsTool*, TQelGraphicsView*)>;

template <class T>
T* QelCreateToolControl(TQelGraphicsTool* Tool, TQelGraphicsView* View);

// The base of every image tool: a module that runs one modification of a
// document's image at a time (begin, dirty rectangles, commit to the
// history, finish or cancel), hears the document's events and keeps one
// control per view.
class TQelGraphicsTool : public TQelModuleWithControls, public IQelScriptableModule {
    Q_OBJECT
public:
    TQelGraphicsTool();
    ~TQelGraphicsTool() override;

    void AfterConstruction() override;

    // The bare upper-cased name makes the tool current.
    void ExecuteCommand(TQelDemoPlayback* Playback, const QByteArray& Command, const TQelDemoScriptParams& Params,
                        TQelDemoScriptUserAction* Action, bool& Handled) override;
    void GetCommandPoint(TQelDemoPlayback* Playback, const TQelDemoScriptParams& Params, QPoint& Point,
                         bool& Handled) override;
    void StartRecording(TQelDemoPlayback* Playback) override;
    void StopRecording(TQelDemoPlayback* Playback) override;

    virtual void AddControl(TQelGraphicsToolControl* Control);
    virtual void RemoveControl(TQelGraphicsToolControl* Control);
    // One control of the tool's kind on View; nothing for a tool without.
    virtual void CreateControl(TQelGraphicsView* View);
    // The running modification's undo state, and the backup in step with
    // the image. Nothing when no pixel was changed.
    virtual void CommitModification();
    // Commits and ends the running modification; nothing when none runs.
    virtual void FinishModification();
    // Puts the whole backup back over the image and ends the modification
    // without an undo state.
    virtual void CancelModification();
    // In plug-in mode the tool stays available only when it says so.
    virtual void DocumentOpened(TQelGraphicsDocument* Document);
    // Finishes this tool's modification of the closing document, so nothing
    // refers to it afterwards.
    virtual void DocumentClosing(TQelGraphicsDocument* Document);
    virtual void DocumentSaving(TQelGraphicsDocument*) {}
    // The state that the history's Undo (Redo) is about to run.
    virtual void BeforeUndo(TQelCommandState*) {}
    virtual void BeforeRedo(TQelCommandState*) {}
    // Registers the tool's buttons and options with the tutorial hooks.
    virtual void RegisterDemoTargets() {}
    // The state that a further Undo (Redo) would run.
    virtual void AfterUndo(TQelCommandState*) {}
    virtual void AfterRedo(TQelCommandState*) {}
    virtual void SetAvailable(bool Value) { Available = Value; }
    // Tool changed Rect of Document's image (a new, undone or redone state).
    virtual void ImageChanged(TQelGraphicsDocument*, TQelGraphicsTool*, const TQelRect&) {}
    // Becomes the editor's active tool, and records it.
    virtual void MakeCurrent();
    virtual void Activate();
    virtual void Deactivate();

    // Starts a modification of View's document; a running one (of any
    // tool) is finished first.
    void BeginModification(TQelGraphicsView* View);
    // Rect (image coordinates) joins the running modification's dirty
    // rectangle and is repainted.
    void AddModifiedRect(const TQelRect& Rect);
    int GetControlCount() const { return int(FControls.size()); }
    TQelGraphicsToolControl* GetControl(int Index) const;

    template <class T>
    void SetControlClass() {
        ControlClass = &QelCreateToolControl<T>;
    }

    // The running modification: set together by BeginModification, cleared
    // together when it ends. The pixels are the document's, not owned.
    QPointer<TQelGraphicsView> RunningView;
    TQelGraphicsDocument* RunningDocument = nullptr;
    TQelPixels* OriginalPixels = nullptr;
    TQelPixelBuffer* BackupPixels = nullptr;
    TQelPixels* CurrentPixels = nullptr;

    // The script name; empty for a tool without tutorial commands.
    QByteArray Name;
    TQelToolControlFactory ControlClass;
    TQelDemoPlayback* Recorder = nullptr;
    bool Active = false;
    bool Available = true;
    bool AvailableInPluginMode = false;
    // A running modification of this tool keeps every other tool from
    // modifying.
    bool Exclusive = false;

protected:
    // Records Line while the recorder records.
    void RecordLine(const QByteArray& Line) const;
    bool Recording() const;

private:
    void ClearReferences();

    // Not owned: each control leaves the list when it is freed.
    std::vector<TQelGraphicsToolControl*> FControls;
};

// A tool's object on one view, on top of the view's objects. Points are
// client coordinates; the result of the input operations says whether the
// control used the event. Controls of inactive tools answer false.
class TQelGraphicsToolControl : public TQelViewObject {
public:
    TQelGraphicsToolControl() = default;
    ~TQelGraphicsToolControl() override;

    // Joins Tool's controls and the top of View's objects, which then own
    // the control; then Init. Used by QelCreateToolControl.
    void Attach(TQelGraphicsTool* Tool, TQelGraphicsView* View, std::unique_ptr<TQelGraphicsToolControl> Self);

    virtual void Init() {}
    virtual void Activate();
    virtual void Deactivate();
    virtual bool GetCursor(TShiftState, const TQelPoint&, int16_t&) { return false; }
    virtual void MouseEnter() {}
    virtual void MouseLeave() {}
    virtual bool MouseDown(TMouseButton, TShiftState, const TQelPoint&) { return false; }
    virtual bool MouseMove(TShiftState, const TQelPoint&) { return false; }
    virtual bool MouseUp(TMouseButton, TShiftState, const TQelPoint&) { return false; }
    // Delta is +1 or -1.
    virtual bool MouseWheel(TShiftState, int32_t, const TQelPoint&) { return false; }
    virtual bool KeyDown(uint16_t&, TShiftState) { return false; }
    virtual bool KeyUp(uint16_t&, TShiftState) { return false; }

    // Hidden, no body, never part of the view's extent.
    void Reset() override;
    // Repaints only when the visibility changes.
    void SetVisible(bool Value) override;

    // The pointer position in the view's client coordinates.
    TQelPoint GetMousePos() const;
    // Repaints the control's device bounds on the view.
    void Invalidate();

    bool Active = false;
    // The view owns the control, so it outlives it.
    TQelGraphicsView* View = nullptr;
    // Tools may be freed before the views (and so the controls) of open
    // documents.
    QPointer<TQelGraphicsTool> Tool;
};

template <class T>
T* QelCreateToolControl(TQelGraphicsTool* Tool, TQelGraphicsView* View) {
    // Without a view nothing would own the control.
    if (!View) return nullptr;
    std::unique_ptr<T> control(new T());
    control->Create();
    T* result = control.get();
    result->Attach(Tool, View, std::move(control));
    return result;
}

// --- Undo states -----------------------------------------------------------------

// The base of every image undo state: which tool changed which rectangle of
// which document. Creating, undoing and redoing it tells every tool.
class TQelCustomGraphicsCommandState : public TQelCommandState {
public:
    TQelCustomGraphicsCommandState(TQelGraphicsTool* Tool, const TQelRect& Rect, TQelGraphicsDocument* Document);

    // Descendants restore or re-apply their change first, then call these.
    void Undo() override;
    void Redo() override;

    QPointer<TQelGraphicsTool> Tool;
    TQelGraphicsDocument* Document;
    TQelRect Rect;
};

// The pixels of one rectangle before (from the backup) and after (from the
// image) a modification, each in its source's format.
class TQelGraphicsCommandState : public TQelCustomGraphicsCommandState {
public:
    // Raises EQelOutOfMemory when either copy cannot be held.
    TQelGraphicsCommandState(TQelGraphicsTool* Tool, const TQelRect& Rect, TQelGraphicsDocument* Document);

    void Undo() override;
    void Redo() override;

    TQelPixelBuffer Before;
    TQelPixelBuffer After;

private:
    // Copies Pixels into the image, repaints and brings the backup in step.
    void Restore(const TQelPixelBuffer& Pixels);
};

// --- Editor ----------------------------------------------------------------------

// The image editor: the format table and the graphics document, zoom,
// previous and next image of the folder, the pointer and size panels of the
// status bar, the active tool, undo and redo around it, and the plug-in mode
// in which the program edits an image handed over by a host editor.
class TQelGraphicsEditor : public TQelEditor, public IQelGraphicsStatus, public IQelGraphicsToolHost {
    Q_OBJECT
public:
    TQelGraphicsEditor();
    ~TQelGraphicsEditor() override;

    void Create() override;
    void Localize() override;
    void LoadSettings(TQelSDFReader& Reader) override;
    void SaveSettings(TQelSDFWriter& Writer) override;
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
    // Not while a modification runs.
    bool CanUndo() override;
    bool CanRedo() override;
    // The active tool steps aside while the history moves.
    void DoUndo() override;
    void DoRedo() override;

    void SetStatusText(TQelGraphicsStatusPanel Panel, const QString& Text) override;

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
    // Writes the image back and closes with exit code 0; a failed write
    // keeps the window open.
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
