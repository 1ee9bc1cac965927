// The script editor: sections and tabs, raw bytes, deleting, playing and
// recording through the module's player, and its shortcut.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTabBar>
#include <QTemporaryDir>
#include <QWindow>
#include <gtest/gtest.h>
#include <qpa/qwindowsysteminterface.h>

#include "DemoTestSupport.h"
#include "QelDemoEditor.h"
#include "QelDemoHooks.h"
#include "QelDemoPlayback.h"
#include "QelDemonstration.h"
#include "QelLocalizer.h"
#include "QelMainForm.h"
#include "ScriptedMessageBoxes.h"

namespace {

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Records nothing itself; tells whether it was asked to.
class TRecorder : public TQelModule, public IQelScriptableModule {
public:
    void ExecuteCommand(TQelDemoPlayback*, const QByteArray&, const TQelDemoScriptParams&, TQelDemoScriptUserAction*,
                        bool&) override {}
    void GetCommandPoint(TQelDemoPlayback*, const TQelDemoScriptParams&, QPoint&, bool&) override {}
    void StartRecording(TQelDemoPlayback* Playback) override { Recorder = Playback; }
    void StopRecording(TQelDemoPlayback*) override { Recorder = nullptr; }
    TQelDemoPlayback* Recorder = nullptr;
};

class DemoEditorTest : public ::testing::Test {
protected:
    void SetUp() override {
        App.SetTitle("Visara");
        App.CreateForm(MainForm);
        App.CreateModule(Host);
        App.CreateModule(Recorder);
        App.CreateModule(Demo);
        App.CreateModule(EditorModule);
        Demo->DemoFolder = Folder.path() + "/";
        MainForm->Initialize();
        Demo->Initialize();
        EditorModule->Initialize();
        Demo->Playback()->SetMouseSynth(&Synth);
        Demo->Playback()->SetAutoTick(false);
        Editor = EditorModule->GetForm();
    }
    void TearDown() override { App.DestroyComponents(); }

    QStringList Tabs() const {
        QStringList tabs;
        for (int i = 0; i < Editor->SectionsTabControl->count(); ++i) tabs << Editor->SectionsTabControl->tabText(i);
        return tabs;
    }
    QString Path(const QString& name) const { return Folder.filePath(name); }
    TQelDemoPlayback* Playback() const { return Demo->Playback(); }
    void RunToEnd() {
        for (int i = 0; i < 1000 && Playback()->Tick(); ++i) {
        }
    }

    TScriptedMessageBoxes Scripted;
    TQelLocalizer Localizer{QStringLiteral(VISARA_SOURCE_DIR "/data/Languages"), 1033};
    TQelApplication App;
    TQelDemoHooks Hooks;
    QTemporaryDir Folder;
    TFakeSynth Synth;
    TFakeHost* Host = nullptr;
    TRecorder* Recorder = nullptr;
    TQelDemonstrationModule* Demo = nullptr;
    TQelDemoEditorModule* EditorModule = nullptr;
    TQelDemoEditorForm* Editor = nullptr;
    std::deque<int>& Answers = Scripted.Answers;
    QList<TScriptedBox>& Boxes = Scripted.Boxes;
};

}  // namespace

TEST_F(DemoEditorTest, LanguagesAreAddedOnceAndEditsSurviveIntoTheSavedFile) {
    WriteFile(Path("in.dsc"), "[Info]\nTitle=T\n[Script]\nPause 1\n[1033]\nTitle=T\n");
    ASSERT_TRUE(Editor->OpenFile(Path("in.dsc")));
    EXPECT_EQ(Tabs(), QStringList({"Info", "Script", "1033"}));
    EXPECT_EQ(Editor->SectionsTabControl->currentIndex(), 1);
    EXPECT_EQ(Editor->ScriptMemo->toPlainText(), "Pause 1");

    // Typed but not stored yet.
    Editor->ScriptMemo->setPlainText("Pause 2\nMouseTo 1, 2\n");
    Editor->AddLanguage(" 1049 ");
    EXPECT_EQ(Tabs(), QStringList({"Info", "Script", "1033", "1049"}));
    EXPECT_EQ(Editor->SectionsTabControl->currentIndex(), 3);
    EXPECT_TRUE(Editor->ScriptMemo->toPlainText().isEmpty());
    Editor->ScriptMemo->setPlainText("Title=Russian");
    Editor->SectionsTabControl->setCurrentIndex(0);
    Editor->AddLanguage("1049");
    EXPECT_EQ(Tabs().size(), 4);
    EXPECT_EQ(Editor->SectionsTabControl->currentIndex(), 3);
    EXPECT_EQ(Editor->ScriptMemo->toPlainText(), "Title=Russian");
    Editor->AddLanguage("   ");
    EXPECT_EQ(Tabs().size(), 4);

    // Delete Language: never the first two tabs.
    for (int tab : {0, 1, 2}) {
        Editor->SectionsTabControl->setCurrentIndex(tab);
        App.DoIdle();
        EXPECT_EQ(Editor->DeleteLanguageMenuItem->isEnabled(), tab == 2) << tab;
    }

    ASSERT_TRUE(Editor->SaveFile(Path("out.dsc")));
    EXPECT_EQ(ReadAll(Path("out.dsc")),
              "[Info]\r\nTitle=T\r\n[Script]\r\nPause 2\r\nMouseTo 1, 2\r\n[1033]\r\nTitle=T\r\n"
              "[1049]\r\nTitle=Russian\r\n");
}

TEST_F(DemoEditorTest, TheFirstInfoAndScriptSectionsCannotBeDeletedWhereverTheyStand) {
    WriteFile(Path("odd.dsc"), "[1049]\nA=1\n[1033]\nB=2\n[Script]\nPause 1\n[Info]\nTitle=T\n[Script]\nPause 9\n");
    ASSERT_TRUE(Editor->OpenFile(Path("odd.dsc")));
    EXPECT_EQ(Tabs(), QStringList({"1049", "1033", "Script", "Info", "Script"}));
    EXPECT_EQ(Editor->SectionsTabControl->currentIndex(), 2);
    EXPECT_FALSE(Editor->CanDeleteSection(0));
    EXPECT_FALSE(Editor->CanDeleteSection(2));
    EXPECT_FALSE(Editor->CanDeleteSection(3));
    EXPECT_TRUE(Editor->CanDeleteSection(4));  // a second "Script" is only a section
    Editor->CmDeleteLanguage();
    EXPECT_EQ(Tabs().size(), 5);
    Editor->SectionsTabControl->setCurrentIndex(4);
    Editor->CmDeleteLanguage();
    EXPECT_EQ(Tabs(), QStringList({"1049", "1033", "Script", "Info"}));
    EXPECT_EQ(Editor->ScriptMemo->toPlainText(), "Pause 1");
}

TEST_F(DemoEditorTest, RawBytesOfAUtf8ScriptSurviveTabsAndSave) {
    // "é", "à" (C3 A0: a non-breaking space in Latin-1) and "€".
    const QByteArray text = "Message \"caf\xC3\xA9 \xC3\xA0 \xE2\x82\xAC\"";
    WriteFile(Path("utf8.dsc"), "\xEF\xBB\xBF[Info]\nTitle=x\n[Script]\n" + text + "\n");
    ASSERT_TRUE(Editor->OpenFile(Path("utf8.dsc")));
    EXPECT_EQ(Editor->MemoLines(), QByteArrayList({text}));
    Editor->SectionsTabControl->setCurrentIndex(0);
    Editor->SectionsTabControl->setCurrentIndex(1);
    Editor->CmNew();
    ASSERT_TRUE(Editor->OpenFile(Path("utf8.dsc")));
    Editor->SectionsTabControl->setCurrentIndex(0);
    ASSERT_TRUE(Editor->SaveFile(Path("back.dsc")));
    const QByteArray saved = ReadAll(Path("back.dsc"));
    EXPECT_TRUE(saved.startsWith("\xEF\xBB\xBF"));
    EXPECT_TRUE(saved.contains(text + "\r\n"));

    // One final line break ends the last line; an empty memo has no lines.
    Editor->ScriptMemo->setPlainText("a\n\nb\n");
    EXPECT_EQ(Editor->MemoLines(), QByteArrayList({"a", "", "b"}));
    Editor->ScriptMemo->clear();
    EXPECT_TRUE(Editor->MemoLines().isEmpty());

    // A file that cannot be read is reported and changes nothing.
    Answers = {IDOK};
    EXPECT_FALSE(Editor->OpenFile(Path("missing.dsc")));
    EXPECT_EQ(Boxes.size(), 1);
    EXPECT_EQ(Tabs(), QStringList({"Info", "Script"}));
}

TEST_F(DemoEditorTest, PlayHidesTheEditorUntilTheEndAndACancelledStartGivesTheHandlersBack) {
    Editor->show();
    Editor->ScriptMemo->setPlainText("Pause 0");
    // A modified image and No: nothing starts; the editor stays hidden.
    Host->Documents = {{"b.jpg", false}};
    for (int round = 0; round < 2; ++round) {
        Answers = {IDNO};
        Editor->CmPlay();
        EXPECT_FALSE(Playback()->IsPlaying());
        EXPECT_FALSE(Editor->isVisible());
        EXPECT_EQ(Host->Documents.size(), 1u);
    }
    // The module's own handlers are back: a tutorial of its own ends with
    // its end message, and the editor stays hidden.
    Host->Documents.clear();
    Playback()->Script().LoadFromBytes("[Script]\n");
    ASSERT_TRUE(Playback()->Play(0));
    Answers = {IDOK};
    RunToEnd();
    EXPECT_EQ(Boxes.last().Text, QelText(725));
    EXPECT_FALSE(Editor->isVisible());

    // Played from the editor: the edited lines run, the end message shows,
    // and the editor comes back.
    Editor->show();
    Boxes.clear();
    Editor->CmPlay();
    ASSERT_TRUE(Playback()->IsPlaying());
    EXPECT_EQ(*Playback()->Script().ScriptLines(), QByteArrayList({"Pause 0"}));
    EXPECT_FALSE(Editor->isVisible());
    App.DoIdle();
    EXPECT_FALSE(Editor->PlayMenuItem->isEnabled());
    EXPECT_TRUE(Editor->StopToolButton->isEnabled());
    Answers = {IDOK};
    RunToEnd();
    ASSERT_EQ(Boxes.size(), 1);
    EXPECT_EQ(Boxes[0].Text, QelText(725));
    EXPECT_TRUE(Editor->isVisible());

    // An abort from Stop shows the editor again too.
    Editor->CmPlay();
    Answers = {IDYES, IDOK};
    Editor->CmStop();
    EXPECT_TRUE(Editor->isVisible());
}

TEST_F(DemoEditorTest, RecordingAppendsToTheScriptAndLocksWhatWouldChangeTheSections) {
    Editor->ScriptMemo->setPlainText("Pause 1\nPause 2\nPause 3");
    Editor->SectionsTabControl->setCurrentIndex(0);
    Editor->ScriptMemo->setPlainText("Title=Rec");
    Editor->SectionsTabControl->setCurrentIndex(1);
    Editor->CmRecord();
    ASSERT_TRUE(Playback()->IsRecording());
    EXPECT_EQ(Recorder->Recorder, Playback());
    EXPECT_FALSE(Editor->ScriptMemo->isEnabled());
    App.DoIdle();
    for (QAction* item : {Editor->NewMenuItem, Editor->OpenMenuItem, Editor->OpenToolButton,
                          Editor->AddLanguageMenuItem, Editor->DeleteLanguageMenuItem, Editor->PlayMenuItem,
                          Editor->RecordToolButton, Demo->DemoMenuItem})
        EXPECT_FALSE(item->isEnabled()) << item->text().toStdString();
    EXPECT_TRUE(Editor->StopMenuItem->isEnabled());

    Hooks.RecordLine("MouseCurvedMove ZoomIn");
    Hooks.RecordLine("ZoomIn");
    Editor->CmStop();
    EXPECT_FALSE(Playback()->IsRecording());
    EXPECT_EQ(Recorder->Recorder, nullptr);
    EXPECT_TRUE(Editor->ScriptMemo->isEnabled());
    EXPECT_EQ(Editor->MemoLines(),
              QByteArrayList({"Pause 1", "Pause 2", "Pause 3", "MouseCurvedMove ZoomIn", "ZoomIn"}));
    ASSERT_TRUE(Editor->SaveFile(Path("rec.dsc")));
    EXPECT_TRUE(ReadAll(Path("rec.dsc")).contains("Title=Rec\r\n"));
    App.DoIdle();
    EXPECT_TRUE(Editor->NewMenuItem->isEnabled());
    EXPECT_TRUE(Demo->DemoMenuItem->isEnabled());
}

TEST_F(DemoEditorTest, MessageTextAndShowMessagesFollowTheEditor) {
    EXPECT_EQ(Editor->MessageComboBox->currentText(), "Click");
    Editor->MessageComboBox->setEditText("Now");
    EXPECT_EQ(Hooks.DefaultMessageText, "Now");
    App.DoIdle();
    EXPECT_TRUE(Editor->MessageToolButton->isChecked());
    Editor->MessageToolButton->trigger();
    EXPECT_FALSE(Playback()->ShowMessages);
    App.DoIdle();
    EXPECT_FALSE(Editor->MessageComboBox->isEnabled());
}

TEST_F(DemoEditorTest, HiddenFileItemAndItsShortcutOpenTheEditor) {
    const QList<QAction*> file = MainForm->FileMenuItem->actions();
    EXPECT_EQ(file.value(file.indexOf(EditorModule->DemoEditorMenuItem) + 1), MainForm->FileMenuSeparator);
    EXPECT_FALSE(EditorModule->DemoEditorMenuItem->isVisible());
    EXPECT_TRUE(Editor->windowFlags() & Qt::WindowStaysOnTopHint);

    MainForm->show();
    QDeadlineTimer deadline(5000);
    while (!(MainForm->windowHandle() && MainForm->windowHandle()->isExposed()) && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    MainForm->activateWindow();
    QCoreApplication::processEvents();
    EXPECT_FALSE(Editor->isVisible());
    QWindowSystemInterface::handleKeyEvent<QWindowSystemInterface::SynchronousDelivery>(
        MainForm->windowHandle(), QEvent::KeyPress, Qt::Key_D, Qt::ControlModifier | Qt::ShiftModifier);
    QWindowSystemInterface::handleKeyEvent<QWindowSystemInterface::SynchronousDelivery>(
        MainForm->windowHandle(), QEvent::KeyRelease, Qt::Key_D, Qt::ControlModifier | Qt::ShiftModifier);
    QCoreApplication::processEvents();
    EXPECT_TRUE(Editor->isVisible());
    EXPECT_EQ(EditorModule->GetForm(), Editor);  // one editor for the program's life

    // Closing only hides it.
    Editor->close();
    EXPECT_FALSE(Editor->isVisible());
    EXPECT_EQ(EditorModule->GetForm(), Editor);
}
