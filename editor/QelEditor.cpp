#include "QelEditor.h"

#include <QCloseEvent>
#include <QCoreApplication>
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

// Images of the toolbar image list.
constexpr int ImageOpen = 1;
constexpr int ImageSave = 2;
constexpr int ImageUndo = 8;
constexpr int ImageRedo = 9;

// Fills the "%s" places of a language text with Arg ("%%" is a percent sign).
QString FormatText(const QString& Text, const QString& Arg) {
    QString result;
    result.reserve(Text.size() + Arg.size());
    for (qsizetype i = 0; i < Text.size(); ++i) {
        if (Text[i] == u'%' && i + 1 < Text.size()) {
            if (Text[i + 1] == u's') {
                result += Arg;
                ++i;
                continue;
            }
            if (Text[i + 1] == u'%') {
                result += u'%';
                ++i;
                continue;
            }
        }
        result += Text[i];
    }
    return result;
}

// A menu caption shows "&" as the accelerator mark; a literal one is doubled.
QString EscapeMnemonic(QString Text) { return Text.replace(u'&', QStringLiteral("&&")); }

void SetEnabledIfChanged(QAction* Action, bool Value) {
    if (Action && Action->isEnabled() != Value) Action->setEnabled(Value);
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
