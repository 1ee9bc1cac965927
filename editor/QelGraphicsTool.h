// The tool framework: the tool module every image tool derives from, its
// control on each view, and the undo states of image changes.
#pragma once

#include "QelGraphicsView.h"

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
    // A key KeyDown would use now, taken before any menu shortcut.
    virtual bool ClaimsKey(uint16_t, TShiftState) { return false; }

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

// --- The tool list ---------------------------------------------------------------

// Calls Call for every tool module, in component order.
template <class F>
void QelForEachTool(F&& Call) {
    TQelApplication* app = TQelApplication::Instance();
    if (!app) return;
    app->ForEachComponent<TQelGraphicsTool>(Call);
}
