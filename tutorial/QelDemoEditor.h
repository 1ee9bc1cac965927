// The script editor for tutorial authors: one tab per section of a script
// ("Info", "Script" and one per language), the section's raw lines in a
// plain-text editor, and commands to open, save, play and record scripts and
// to add and delete language sections. Its module opens it by Ctrl+Shift+D.
// The editor's texts are for authors and not localized.
#pragma once

#include <QByteArrayList>
#include <QDialog>
#include <QMainWindow>
#include <QPointer>
#include <QString>

#include <vector>

#include "QelDemoPlayback.h"
#include "QelDemoScript.h"
#include "QelForms.h"
#include "QelModule.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTabBar;
class QToolBar;

// Asks for the language id of a new section.
class TAddLangForm : public QDialog {
public:
    explicit TAddLangForm(QWidget* parent = nullptr);

    QLabel* LangIdLabel;
    QLineEdit* LangIdEdit;
    QPushButton* AddButton;
    QPushButton* CancelButton;
};

class TQelDemoEditorForm : public TQelForm<QMainWindow> {
public:
    explicit TQelDemoEditorForm(QWidget* parent = nullptr);
    ~TQelDemoEditorForm() override;

    void Create() override;
    void UpdateControls() override;

    void CmNew();
    // The open dialog, then OpenFile.
    void CmOpen();
    // The section shown is stored, the save dialog, then SaveFile.
    void CmSave();
    // Reads FileName into the edited script; a file that cannot be read is
    // reported and the script stays as it was.
    bool OpenFile(const QString& FileName);
    bool SaveFile(const QString& FileName);
    // The language dialog, then AddLanguage.
    void CmAddLanguage();
    // Shows the section LangId (names compared without regard to case),
    // adding it when there is none. An id that is empty after trimming
    // changes nothing.
    void AddLanguage(const QString& LangId);
    void CmDeleteLanguage();
    // False for the first two tabs and for the first "Info" and the first
    // "Script" section wherever they stand.
    bool CanDeleteSection(int Index) const;
    void CmPlay();
    void CmRecord();
    void CmStop();
    void CmExit();

    void UpdateSections();
    // The shown tab's section := the memo's lines; its selection is
    // remembered.
    void StoreSection();
    // The memo shows the selected tab's lines and remembered selection.
    void SectionsTabControlChange();
    void MessageToolButtonClick();
    void MessageComboBoxChange();

    TQelDemoScript& Script() { return FScript; }
    // The memo's text as the raw lines of a section; one final line break
    // ends the last line instead of starting an empty one.
    QByteArrayList MemoLines() const;
    void SetMemoLines(const QByteArrayList& Lines);

    QAction* NewMenuItem = nullptr;
    QAction* OpenMenuItem = nullptr;
    QAction* SaveAsMenuItem = nullptr;
    QAction* ExitMenuItem = nullptr;
    QAction* AddLanguageMenuItem = nullptr;
    QAction* DeleteLanguageMenuItem = nullptr;
    QAction* PlayMenuItem = nullptr;
    QAction* RecordMenuItem = nullptr;
    QAction* StopMenuItem = nullptr;
    QToolBar* Toolbar = nullptr;
    QAction* OpenToolButton = nullptr;
    QAction* SaveToolButton = nullptr;
    QAction* PlayToolButton = nullptr;
    QAction* RecordToolButton = nullptr;
    QAction* StopToolButton = nullptr;
    QComboBox* MessageComboBox = nullptr;
    QAction* MessageToolButton = nullptr;
    QTabBar* SectionsTabControl = nullptr;
    QPlainTextEdit* ScriptMemo = nullptr;

protected:
    // Closing only hides the editor.
    void closeEvent(QCloseEvent* Event) override;

private:
    struct TSelection {
        int Start = 0;
        int Length = 0;
    };

    static TQelDemoPlayback* Playback();
    void RestorePlayHandlers();
    void RestoreRecordHandlers();
    void PlaybackFinish(TQelDemoPlayback* Sender);
    void PlaybackAbortQuery(TQelDemoPlayback* Sender, bool& Abort);
    void PlaybackError(TQelDemoPlayback* Sender, const QByteArray& Msg, const QByteArray& Line, bool& Stop);
    void PlaybackStartRecording(TQelDemoPlayback* Sender);
    void PlaybackStopRecording(TQelDemoPlayback* Sender);
    void PlaceOverMainWindow();
    void ShowSection(int Index);

    TQelDemoScript FScript;
    std::vector<TSelection> FSelections;
    // The tab whose lines the memo holds (-1: none).
    int FShownTab = -1;
    bool FPlayHandlersReplaced = false;
    TQelDemoPlayback::TNotifyEvent FKeptOnFinish;
    TQelDemoPlayback::TCancelEvent FKeptOnAbortQuery;
    TQelDemoPlayback::TErrorEvent FKeptOnError;
    bool FRecordHandlersReplaced = false;
    TQelDemoPlayback::TNotifyEvent FKeptOnStartRecording;
    TQelDemoPlayback::TRecordLineEvent FKeptOnRecordLine;
    TQelDemoPlayback::TNotifyEvent FKeptOnStopRecording;
};

class TQelDemoEditorModule : public TQelModuleWithControls {
    Q_OBJECT
public:
    TQelDemoEditorModule();
    ~TQelDemoEditorModule() override;

    void Create() override;
    void CmDemoEditor();
    // The editor, created on first use; it lives until the program ends.
    TQelDemoEditorForm* GetForm();

    // The File-menu item, kept invisible.
    QAction* DemoEditorMenuItem = nullptr;
    // What Ctrl+Shift+D triggers: Qt gives no shortcut to a hidden item.
    QAction* DemoEditorShortcut = nullptr;

private:
    // Guarded: the main window, its parent, may go first.
    QPointer<TQelDemoEditorForm> FForm;
};
