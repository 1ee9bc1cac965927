#include "QelGraphicsTool.h"

#include <QCursor>
#include <QScopeGuard>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "QelCursors.h"
#include "QelDemoPlayback.h"
#include "QelDemoScript.h"
#include "QelError.h"
#include "QelForms.h"
#include "QelLocalizer.h"
#include "QelMainForm.h"
#include "QelMessageBox.h"
#include "QelQtGeometry.h"

// --- Tools ---------------------------------------------------------------------

namespace {

IQelGraphicsToolHost* FindToolHost() {
    TQelApplication* app = TQelApplication::Instance();
    if (!app) return nullptr;
    IQelGraphicsToolHost* found = nullptr;
    app->ForEachComponent<IQelGraphicsToolHost>([&](IQelGraphicsToolHost* host) {
        found = host;
        return true;
    });
    return found;
}

// Brings the backup in step with the image after Rect of it changed: only
// Rect while the two match in size and format (outside it they are equal
// already), otherwise the whole image.
void SyncBackupRect(TQelGraphicsDocument& Document, const TQelPixels& Image, const TQelRect& Rect) {
    TQelPixelBuffer& backup = Document.Backup;
    if (backup.Bits && backup.Format == Image.Format && backup.GetBounds() == Image.GetBounds())
        backup.CopyRect(Rect.Left, Rect.Top, Rect, Image);
    else
        Document.SyncBackup();
}

}  // namespace

bool QelCanToolModify(const TQelGraphicsDocument* Document, const TQelGraphicsTool* Tool,
                      const TQelGraphicsTool* ActiveTool, bool ActiveToolLocked) {
    if (!Document) return false;
    if (ActiveToolLocked && Tool != ActiveTool) return false;
    const TQelGraphicsTool* running = Document->ModifyingTool;
    return !(Document->Modifying && running && running != Tool && running->Exclusive);
}

TQelGraphicsTool::TQelGraphicsTool()
    : TQelModuleWithControls(),
      RunningView(),
      RunningDocument(nullptr),
      OriginalPixels(nullptr),
      BackupPixels(nullptr),
      CurrentPixels(nullptr),
      Name(),
      ControlClass(),
      Recorder(nullptr),
      Active(false),
      Available(true),
      AvailableInPluginMode(false),
      Exclusive(false),
      FControls() {}

// The controls stay with their views; their guarded tool reference clears.
TQelGraphicsTool::~TQelGraphicsTool() = default;

void TQelGraphicsTool::AfterConstruction() {
    TQelModuleWithControls::AfterConstruction();
    RegisterDemoTargets();
}

void TQelGraphicsTool::ExecuteCommand(TQelDemoPlayback*, const QByteArray& Command, const TQelDemoScriptParams&,
                                      TQelDemoScriptUserAction*, bool& Handled) {
    if (Name.isEmpty() || Command != Name.toUpper()) return;
    MakeCurrent();
    Handled = true;
}

void TQelGraphicsTool::GetCommandPoint(TQelDemoPlayback*, const TQelDemoScriptParams&, QPoint&, bool&) {}

void TQelGraphicsTool::StartRecording(TQelDemoPlayback* Playback) { Recorder = Playback; }

void TQelGraphicsTool::StopRecording(TQelDemoPlayback*) { Recorder = nullptr; }

bool TQelGraphicsTool::Recording() const { return Recorder && Recorder->IsRecording(); }

void TQelGraphicsTool::RecordLine(const QByteArray& Line) const {
    if (Recording()) Recorder->RecordLine(Line);
}

void TQelGraphicsTool::AddControl(TQelGraphicsToolControl* Control) {
    if (Control && std::find(FControls.begin(), FControls.end(), Control) == FControls.end())
        FControls.push_back(Control);
}

void TQelGraphicsTool::RemoveControl(TQelGraphicsToolControl* Control) {
    FControls.erase(std::remove(FControls.begin(), FControls.end(), Control), FControls.end());
}

TQelGraphicsToolControl* TQelGraphicsTool::GetControl(int Index) const {
    return Index >= 0 && size_t(Index) < FControls.size() ? FControls[size_t(Index)] : nullptr;
}

void TQelGraphicsTool::CreateControl(TQelGraphicsView* View) {
    if (ControlClass && View) ControlClass(this, View);
}

void TQelGraphicsTool::MakeCurrent() {
    if (IQelGraphicsToolHost* host = FindToolHost()) host->SetActiveTool(this);
    if (Recording()) {
        RecordLine("MouseCurvedMove " + Name);
        RecordLine("Message \"" + Name + '"');
        RecordLine(Name);
    }
}

void TQelGraphicsTool::Activate() {
    // By index: a control's cursor query may reach other code.
    for (size_t i = 0; i < FControls.size(); ++i) FControls[i]->Activate();
    Active = true;
}

void TQelGraphicsTool::Deactivate() {
    for (size_t i = 0; i < FControls.size(); ++i) FControls[i]->Deactivate();
    Active = false;
}

void TQelGraphicsTool::DocumentOpened(TQelGraphicsDocument* Document) {
    if (Document && Document->Editor() && Document->Editor()->PluginMode) SetAvailable(AvailableInPluginMode);
}

void TQelGraphicsTool::DocumentClosing(TQelGraphicsDocument* Document) {
    if (Document && RunningDocument == Document) FinishModification();
}

void TQelGraphicsTool::BeginModification(TQelGraphicsView* View) {
    TQelGraphicsDocument* document = View ? View->Document() : nullptr;
    if (!document) return;
    // One modification per tool: one running on another document ends first.
    if (RunningDocument && RunningDocument != document) FinishModification();
    // May finish a running modification, this tool's own among them.
    document->BeginModification(this);
    RunningView = View;
    RunningDocument = document;
    BackupPixels = &document->Backup;
    CurrentPixels = document->GetPixels();
    OriginalPixels = document->GetOriginalPixels();
}

void TQelGraphicsTool::AddModifiedRect(const TQelRect& Rect) {
    if (RunningDocument) RunningDocument->AddModifiedRect(Rect);
}

void TQelGraphicsTool::ClearReferences() {
    RunningView = nullptr;
    RunningDocument = nullptr;
    OriginalPixels = nullptr;
    BackupPixels = nullptr;
    CurrentPixels = nullptr;
}

void TQelGraphicsTool::CommitModification() {
    TQelGraphicsDocument* document = RunningDocument;
    if (!document || document->ModifiedRect.IsEmpty()) return;
    const TQelRect rect = document->ModifiedRect;
    std::unique_ptr<TQelGraphicsCommandState> state;
    try {
        state = std::make_unique<TQelGraphicsCommandState>(this, rect, document);
    } catch (...) {
        // No state holds the change, so it must not stay in the image: the
        // backup still has the pixels from before it.
        if (TQelPixels* image = document->GetPixels())
            QelCopyPixelsRect(*image, rect.Left, rect.Top, rect, document->Backup);
        document->InvalidateImageRect(rect);
        throw;
    }
    document->AddCommandState(std::move(state));
    // The image is read afresh: a tool may have replaced it meanwhile.
    if (const TQelPixels* image = document->GetPixels()) SyncBackupRect(*document, *image, rect);
}

void TQelGraphicsTool::FinishModification() {
    TQelGraphicsDocument* document = RunningDocument;
    if (!document) return;
    // The modification ends whatever the commit does, so undo and redo stay
    // usable after a failed one.
    auto end = qScopeGuard([this, document] {
        if (document->Modifying) document->EndModification(this);
        ClearReferences();
    });
    CommitModification();
}

void TQelGraphicsTool::CancelModification() {
    TQelGraphicsDocument* document = RunningDocument;
    if (document && document->Modifying) {
        if (TQelPixels* image = document->GetPixels())
            QelCopyPixelsRect(*image, document->Backup.Left, document->Backup.Top, document->Backup.GetBounds(),
                              document->Backup);
        if (RunningView) RunningView->viewport()->update();
        document->ResetModification();
    }
    // Also after the document ended the modification itself, so nothing
    // stale is kept.
    ClearReferences();
}

// --- TQelGraphicsToolControl -------------------------------------------------------

TQelGraphicsToolControl::~TQelGraphicsToolControl() {
    if (Tool) Tool->RemoveControl(this);
}

void TQelGraphicsToolControl::Attach(TQelGraphicsTool* NewTool, TQelGraphicsView* NewView,
                                     std::unique_ptr<TQelGraphicsToolControl> Self) {
    Tool = NewTool;
    if (Tool) Tool->AddControl(this);
    View = NewView;
    if (View && Self) View->Objects.Add(std::move(Self));
    Init();
}

void TQelGraphicsToolControl::Reset() { Flags = QelViewOverlay | QelViewNoExtent; }

void TQelGraphicsToolControl::SetVisible(bool Value) {
    if (Value == GetVisible()) return;
    TQelViewObject::SetVisible(Value);
    Invalidate();
}

TQelPoint TQelGraphicsToolControl::GetMousePos() const {
    if (!View) return TQelPoint{};
    const QPoint p = View->viewport()->mapFromGlobal(QCursor::pos());
    return TQelPoint{p.x(), p.y()};
}

void TQelGraphicsToolControl::Invalidate() {
    if (!View) return;
    TQelRect r;
    GetBounds(View->MapMode(), r);
    if (!r.IsEmpty()) View->viewport()->update(QelToQRect(r));
}

void TQelGraphicsToolControl::Activate() {
    Active = true;
    if (View && View->MouseInside) MouseEnter();
    Invalidate();
    if (View) View->UpdateCursor();
}

void TQelGraphicsToolControl::Deactivate() {
    Active = false;
    Invalidate();
}

// --- Undo states -------------------------------------------------------------------

TQelCustomGraphicsCommandState::TQelCustomGraphicsCommandState(TQelGraphicsTool* NewTool, const TQelRect& NewRect,
                                                               TQelGraphicsDocument* NewDocument)
    : TQelCommandState(), Tool(NewTool), Document(NewDocument), Rect(NewRect) {
    // The tools hear of the change before any copy is taken.
    if (Document) Document->NotifyImageChanged(Tool.data(), Rect);
}

void TQelCustomGraphicsCommandState::Undo() {
    if (Document) Document->NotifyImageChanged(Tool.data(), Rect);
}

void TQelCustomGraphicsCommandState::Redo() {
    if (Document) Document->NotifyImageChanged(Tool.data(), Rect);
}

namespace {

// A buffer over Rect in Source's format holding Source's pixels where the two
// overlap. A copy that cannot be held is an error: a state without its pixels
// would undo nothing.
void TakePixels(TQelPixelBuffer& Buffer, const TQelRect& Rect, const TQelPixels& Source) {
    Buffer.Allocate(Source.Format, Rect);
    if (!Buffer.Bits && !Rect.IsEmpty())
        throw EQelOutOfMemory("Not enough memory to keep the change of " + std::to_string(Rect.Width()) + " x " +
                              std::to_string(Rect.Height()) + " pixels for undo");
    Buffer.CopyFrom(Source);
}

}  // namespace

TQelGraphicsCommandState::TQelGraphicsCommandState(TQelGraphicsTool* NewTool, const TQelRect& NewRect,
                                                   TQelGraphicsDocument* NewDocument)
    : TQelCustomGraphicsCommandState(NewTool, NewRect, NewDocument), Before(), After() {
    if (!Document) return;
    TakePixels(Before, Rect, Document->Backup);
    if (const TQelPixels* image = Document->GetPixels()) TakePixels(After, Rect, *image);
}

void TQelGraphicsCommandState::Restore(const TQelPixelBuffer& Pixels) {
    if (!Document) return;
    TQelPixels* image = Document->GetPixels();
    if (image) QelCopyPixelsRect(*image, Pixels.Left, Pixels.Top, Pixels.GetBounds(), Pixels);
    Document->InvalidateImageRect(Rect);
    // An undo of a small change copies only that change into the backup.
    if (image)
        SyncBackupRect(*Document, *image, Rect);
    else
        Document->SyncBackup();
}

void TQelGraphicsCommandState::Undo() {
    Restore(Before);
    TQelCustomGraphicsCommandState::Undo();
}

void TQelGraphicsCommandState::Redo() {
    Restore(After);
    TQelCustomGraphicsCommandState::Redo();
}

