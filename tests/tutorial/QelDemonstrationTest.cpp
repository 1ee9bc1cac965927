// The tutorial module: dispatch, the questions before a tutorial, plug-in
// mode, the end, abort and error paths, the list's return, the menu item and
// the settings. The document editor is a fake here.
#include <QAction>
#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolBar>
#include <QWindow>
#include <gtest/gtest.h>

#include "QelClasses.h"
#include "QelDemoHooks.h"
#include "QelDemoPlayback.h"
#include "QelDemonstration.h"
#include "QelDemonstrationForm.h"
#include "QelLocalizer.h"
#include "QelMainForm.h"
#include "QelMouseSynth.h"
#include "DemoTestSupport.h"
#include "ScriptedMessageBoxes.h"
#include "SettingsBytes.h"

namespace {

// Answers one command and one element name, and counts what it was asked.
class TScriptable : public TQelModule, public IQelScriptableModule {
public:
    void ExecuteCommand(TQelDemoPlayback*, const QByteArray& Command, const TQelDemoScriptParams&,
                        TQelDemoScriptUserAction*, bool& Handled) override {
        if (Command == "ZAP") {
            ++Zaps;
            Handled = true;
        }
    }
    void GetCommandPoint(TQelDemoPlayback*, const TQelDemoScriptParams&, QPoint&, bool&) override {}
    void StartRecording(TQelDemoPlayback*) override {}
    void StopRecording(TQelDemoPlayback*) override {}
    int Zaps = 0;
};

class DemonstrationTest : public ::testing::Test {
protected:
    void SetUp() override {
        App.SetTitle("Visara");
        App.CreateForm(MainForm);
        App.CreateModule(Host);
        App.CreateModule(Demo);
        Demo->DemoFolder = Folder.path() + "/";
        Demo->ShowAtStartup = false;
        MainForm->Initialize();
        Demo->Initialize();
        Playback()->SetMouseSynth(&Synth);
        Playback()->SetAutoTick(false);
        Playback()->SetClock([this] { return Now; });
        // The main window's own queued call runs now, so that every call
        // counted later is the list's.
        QCoreApplication::processEvents();
        BaseQueued = App.QueuedCallCount();
    }
    void TearDown() override {
        // Queued calls die with the main window's posted events.
        App.DestroyComponents();
    }

    TQelDemoPlayback* Playback() const { return Demo->Playback(); }
    void SetLines(const QByteArray& script) { Playback()->Script().LoadFromBytes(script); }
    void RunToEnd() {
        for (int i = 0; i < 1000 && Playback()->Tick(); ++i) Now += 10;
    }
    // The list calls queued since the start.
    int ListCalls() const { return App.QueuedCallCount() - BaseQueued; }
    bool MenuEnabled() {
        App.DoIdle();
        return Demo->DemoMenuItem->isEnabled();
    }

    TScriptedMessageBoxes Scripted;
    TQelLocalizer Localizer{QStringLiteral(VISARA_SOURCE_DIR "/data/Languages"), 1033};
    TQelApplication App;
    TQelDemoHooks Hooks;
    QTemporaryDir Folder;
    TFakeSynth Synth;
    int64_t Now = 1000;
    int BaseQueued = 0;
    TFakeHost* Host = nullptr;
    TQelDemonstrationModule* Demo = nullptr;
    std::deque<int>& Answers = Scripted.Answers;
    QList<TScriptedBox>& Boxes = Scripted.Boxes;
};

}  // namespace

TEST_F(DemonstrationTest, MenuItemSitsBeforeHelpAndIsOffWhilePlayingOrRecording) {
    const QList<QAction*> bar = MainForm->Menu->actions();
    const qsizetype at = bar.indexOf(Demo->DemoMenuItem);
    ASSERT_GE(at, 0);
    EXPECT_EQ(bar.value(at + 1), MainForm->HelpMenuItem->menuAction());

    EXPECT_TRUE(MenuEnabled());
    SetLines("[Info]\nTitle=T\n[Script]\nPause 1\n");
    ASSERT_TRUE(Playback()->Play(0));
    EXPECT_FALSE(MenuEnabled());
    Playback()->Pause();
    EXPECT_FALSE(MenuEnabled());
    Playback()->Resume();
    Answers = {IDOK};  // the end message
    RunToEnd();
    EXPECT_TRUE(MenuEnabled());
    ASSERT_TRUE(Playback()->StartRecording(-1));
    EXPECT_FALSE(MenuEnabled());
    Playback()->StopRecording();
    EXPECT_TRUE(MenuEnabled());
}

TEST_F(DemonstrationTest, UnknownCommandsGoToTheFirstScriptableModuleThenStopWithAnError) {
    TScriptable* first = nullptr;
    TScriptable* second = nullptr;
    App.CreateModule(first);
    App.CreateModule(second);
    SetLines("[Info]\nTitle=Lips\n[Script]\nZap\n");
    ASSERT_TRUE(Playback()->Play(0));
    EXPECT_EQ(App.GetTitle(), "Visara - Lips");
    Answers = {IDOK};
    RunToEnd();
    EXPECT_EQ(first->Zaps, 1);
    EXPECT_EQ(second->Zaps, 0);
    ASSERT_EQ(Boxes.size(), 1);  // the end message
    EXPECT_EQ(Boxes[0].Text, "You have reached the end of the tutorial.");
    EXPECT_EQ(Boxes[0].Caption, "Tutorials");
    EXPECT_EQ(Boxes[0].Flags, MB_OK | MB_ICONINFORMATION);
    EXPECT_EQ(App.GetTitle(), "Visara");

    // Nobody answers: the error names the command and the line; the title
    // loses the tutorial's name and the list does not come back.
    Demo->ListToReappear = true;
    SetLines("[Info]\nTitle=Lips\n[Script]\nBogus 1\nPause 5\n");
    ASSERT_TRUE(Playback()->Play(0));
    Boxes.clear();
    Answers = {IDOK};
    RunToEnd();
    ASSERT_EQ(Boxes.size(), 1);
    EXPECT_EQ(Boxes[0].Text, "Unknown command: \"BOGUS\"\nBogus 1");
    EXPECT_EQ(Boxes[0].Caption, "Tutorials");
    EXPECT_EQ(Boxes[0].Flags, MB_OK | MB_ICONERROR);
    EXPECT_FALSE(Playback()->IsPlaying());
    EXPECT_EQ(App.GetTitle(), "Visara");
    EXPECT_EQ(ListCalls(), 0);
    // The next tutorial names itself once.
    ASSERT_TRUE(Playback()->Play(0));
    EXPECT_EQ(App.GetTitle(), "Visara - Lips");
}

TEST_F(DemonstrationTest, ElementsResolveThroughTheRegistryAndHiddenItemsAreInvalid) {
    auto* go = new QPushButton("Go", MainForm);
    go->setGeometry(30, 40, 60, 20);
    QToolBar* toolbar = MainForm->addToolBar("T");
    QAction* hidden = toolbar->addAction("Hidden");
    hidden->setVisible(false);
    Hooks.RegisterComponent("Go", go);
    Hooks.RegisterComponent("Ghost", hidden);
    MainForm->show();

    SetLines("[Script]\nMouseTo Go\nMouseTo Ghost\n");
    ASSERT_TRUE(Playback()->Play(0));
    Answers = {IDOK, IDOK};
    RunToEnd();
    EXPECT_EQ(Synth.Pos, go->mapToGlobal(QPoint(go->width() / 2, go->height() / 2)));
    ASSERT_GE(Boxes.size(), 1);
    EXPECT_EQ(Boxes[0].Text, "Invalid arguments.\nMouseTo Ghost");
}

TEST_F(DemonstrationTest, BeforePlayClosesUnmodifiedImagesAndAsksForModifiedOnes) {
    SetLines("[Info]\nTitle=Teeth\n[Script]\n");
    // An unmodified image goes without a question.
    Host->Documents = {{"a.jpg", true}};
    ASSERT_TRUE(Playback()->Play(0));
    EXPECT_TRUE(Host->Documents.empty());
    EXPECT_TRUE(Boxes.isEmpty());
    EXPECT_EQ(App.GetTitle(), "Visara - Teeth");
    Answers = {IDOK};
    RunToEnd();
    EXPECT_EQ(App.GetTitle(), "Visara");

    // A modified one: No keeps it and cancels.
    Host->Documents = {{"b.jpg", false}};
    Boxes.clear();
    Answers = {IDNO};
    EXPECT_FALSE(Playback()->Play(0));
    ASSERT_EQ(Boxes.size(), 1);
    EXPECT_EQ(Boxes[0].Text, QelText(173));
    EXPECT_EQ(Boxes[0].Caption, "Tutorials");
    EXPECT_EQ(Boxes[0].Flags, MB_YESNO | MB_ICONQUESTION);
    EXPECT_EQ(Host->Documents.size(), 1u);
    EXPECT_EQ(App.GetTitle(), "Visara");

    // Yes, but the image refuses to close: cancelled too.
    Host->AgreeToClose = false;
    Answers = {IDYES};
    EXPECT_FALSE(Playback()->Play(0));
    EXPECT_EQ(Host->Documents.size(), 1u);
    EXPECT_EQ(App.GetTitle(), "Visara");

    // Yes and it closes.
    Host->AgreeToClose = true;
    Answers = {IDYES};
    EXPECT_TRUE(Playback()->Play(0));
    EXPECT_TRUE(Host->Documents.empty());
    Answers = {IDYES};
    Playback()->QueryAbort();
    Playback()->Tick();

    // Asked to maximize as well: the question for both, then maximized.
    Demo->AskMaximize = true;
    MainForm->showNormal();
    Host->Documents = {{"b.jpg", false}};
    Boxes.clear();
    Answers = {IDYES};
    ASSERT_TRUE(Playback()->Play(0));
    ASSERT_EQ(Boxes.size(), 1);
    EXPECT_EQ(Boxes[0].Text, QelText(175));
    EXPECT_TRUE(MainForm->isMaximized() || MainForm->windowState().testFlag(Qt::WindowMaximized));
}

TEST_F(DemonstrationTest, PluginModeKeepsOnlyTheHostImageAndAFailedSaveCancels) {
    SetLines("[Script]\n");
    Host->PluginMode = true;

    // A failed save keeps the host's image and the tutorial does not start.
    Host->Documents = {{"/tmp/PSPF1.tmp", false, true}};
    Host->SaveWorks = false;
    Answers = {IDYES};
    EXPECT_FALSE(Playback()->Play(0));
    ASSERT_EQ(Host->Documents.size(), 1u);
    EXPECT_EQ(Host->Log, QStringList({"save /tmp/PSPF1.tmp"}));
    EXPECT_TRUE(Demo->PluginDocumentName.isEmpty());

    // Saved, closed and kept.
    Host->SaveWorks = true;
    Host->Log.clear();
    Answers = {IDYES};
    ASSERT_TRUE(Playback()->Play(0));
    EXPECT_EQ(Host->Log, QStringList({"save /tmp/PSPF1.tmp", "close /tmp/PSPF1.tmp"}));
    EXPECT_EQ(Demo->PluginDocumentName, "/tmp/PSPF1.tmp");
    Answers = {IDOK};
    RunToEnd();

    // A tutorial's modified sample closes the ordinary way and never takes
    // the host image's place.
    Host->Documents = {{"Images/astronaut.jpg", false, false}};
    Host->Log.clear();
    Answers = {IDYES};
    ASSERT_TRUE(Playback()->Play(0));
    EXPECT_EQ(Host->Log, QStringList({"close Images/astronaut.jpg"}));
    EXPECT_EQ(Demo->PluginDocumentName, "/tmp/PSPF1.tmp");
    Answers = {IDOK};
    RunToEnd();

    // An unmodified host image is kept as well, without a question.
    Demo->PluginDocumentName.clear();
    Host->Documents = {{"/tmp/PSPF2.tmp", true, true}};
    Boxes.clear();
    ASSERT_TRUE(Playback()->Play(0));
    EXPECT_TRUE(Boxes.isEmpty());
    EXPECT_EQ(Demo->PluginDocumentName, "/tmp/PSPF2.tmp");
    Answers = {IDOK};
    RunToEnd();

    // The list closed without a tutorial brings it back, once.
    Host->Log.clear();
    QTimer::singleShot(0, [] {
        if (QWidget* list = QApplication::activeModalWidget()) list->close();
    });
    Demo->ShowDemoList();
    EXPECT_EQ(Host->Log, QStringList({"open /tmp/PSPF2.tmp"}));
    EXPECT_TRUE(Demo->PluginDocumentName.isEmpty());
}

TEST_F(DemonstrationTest, AbortAndEndBringTheListBackOnlyAfterAListTutorial) {
    SetLines("[Info]\nTitle=Crop\n[Script]\nPause 10\n");
    ASSERT_TRUE(Playback()->Play(0));
    Answers = {IDNO};
    EXPECT_FALSE(Playback()->QueryAbort());
    EXPECT_EQ(App.GetTitle(), "Visara - Crop");
    Answers = {IDYES};
    EXPECT_TRUE(Playback()->QueryAbort());
    EXPECT_EQ(Boxes.last().Text, QelText(172));
    EXPECT_EQ(App.GetTitle(), "Visara");
    EXPECT_EQ(ListCalls(), 0);

    Demo->ListToReappear = true;
    Playback()->Tick();
    ASSERT_TRUE(Playback()->Play(0));
    Answers = {IDYES};
    EXPECT_TRUE(Playback()->QueryAbort());
    EXPECT_FALSE(Demo->ListToReappear);
    EXPECT_EQ(ListCalls(), 1);
}

TEST_F(DemonstrationTest, ListStartsTheChosenTutorialAndRemembersTheNextUnlessCancelled) {
    WriteFile(Folder.filePath("1.dsc"), "[Info]\nTitle=One\n[Script]\nPause 1\n");
    WriteFile(Folder.filePath("2.dsc"), "[Info]\nTitle=Two\n[Script]\nPause 1\n");
    auto start = [] {
        QTimer::singleShot(0, [] {
            if (auto* list = dynamic_cast<TQelDemonstrationForm*>(QApplication::activeModalWidget()))
                list->StartButton->click();
        });
    };
    // A start cancelled at the close question leaves the flag and index alone.
    Host->Documents = {{"b.jpg", false}};
    Demo->ListIndex = 1;
    start();
    Answers = {IDNO};
    Demo->ShowDemoList();
    EXPECT_FALSE(Playback()->IsPlaying());
    EXPECT_FALSE(Demo->ListToReappear);
    EXPECT_EQ(Demo->ListIndex, 1);

    Host->Documents.clear();
    start();
    Demo->ShowDemoList();
    ASSERT_TRUE(Playback()->IsPlaying());
    EXPECT_EQ(App.GetTitle(), "Visara - Two");
    EXPECT_EQ(Demo->ListIndex, 2);
    EXPECT_TRUE(Demo->ListToReappear);
    Answers = {IDOK};
    RunToEnd();
    EXPECT_EQ(ListCalls(), 1);
    EXPECT_FALSE(Demo->ListToReappear);
}

TEST_F(DemonstrationTest, NothingIsLoadedOverARunningOrRecordingTutorial) {
    WriteFile(Folder.filePath("Lipstick.DSC"), "[Info]\nTitle=Lipstick\n[Script]\nPause 1\n");
    SetLines("[Script]\nPause 10\nPause 10\n");
    ASSERT_TRUE(Playback()->Play(0));
    EXPECT_FALSE(Demo->PlayDemo("lipstick"));
    EXPECT_EQ(Playback()->Script().ScriptLines()->size(), 2);
    Demo->ShowDemoList();  // would block in its modal loop if it opened
    Answers = {IDYES};
    Playback()->QueryAbort();
    Playback()->Tick();

    ASSERT_TRUE(Playback()->StartRecording(-1));
    Hooks.RecordLine("Recorded");
    EXPECT_FALSE(Demo->PlayDemo("Lipstick"));
    EXPECT_EQ(Playback()->Script().ScriptLines()->size(), 3);
    Playback()->StopRecording();

    // Idle: the file is found whatever the case of its name.
    EXPECT_FALSE(Demo->PlayDemo("Missing"));
    EXPECT_TRUE(Demo->PlayDemo("lipstick"));
    EXPECT_EQ(App.GetTitle(), "Visara - Lipstick");
    Answers = {IDOK};
    RunToEnd();
    EXPECT_EQ(ListCalls(), 0);  // an example link's tutorial brings no list back
}

TEST_F(DemonstrationTest, ShowAtStartupIsStoredAndQueuesTheList) {
    Demo->ShowAtStartup = false;
    TQelSDFReader reader(SavedSettings(*Demo));
    Demo->ShowAtStartup = true;
    Demo->LoadSettings(reader);
    EXPECT_FALSE(Demo->ShowAtStartup);
    // A file without the node leaves the flag as it was.
    Demo->ShowAtStartup = true;
    TQelSDFReader empty(nullptr, 0);
    Demo->LoadSettings(empty);
    EXPECT_TRUE(Demo->ShowAtStartup);
    Demo->Initialize();
    EXPECT_EQ(ListCalls(), 1);
}
