#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimer>

#include <string>
#include <vector>

#include "QelError.h"
#include "QelForms.h"
#include "QelLocalizer.h"
#include "QelMessageBox.h"
#include "QelModule.h"
#include "SmallFileSystem.h"
#include "WatchedFifo.h"

namespace {

using Log = std::vector<std::string>;

// Collects message boxes instead of showing them.
struct TMessageCatcher {
    std::vector<std::pair<QString, QString>> Shown;
    TQelMessageBoxHook Previous;
    TMessageCatcher() {
        Previous = QelSetMessageBoxHook([this](const QString& text, const QString& caption, uint32_t) {
            Shown.emplace_back(text, caption);
            return IDOK;
        });
    }
    ~TMessageCatcher() { QelSetMessageBoxHook(Previous); }
};

class TLogForm : public TQelForm<QMainWindow> {
public:
    TLogForm(Log* log, const char* name) : TQelForm<QMainWindow>(nullptr), FLog(log), FName(name) {}
    ~TLogForm() override { FLog->push_back(FName + ".Destroy"); }
    void Localize() override { FLog->push_back(FName + ".Localize"); }
    void UpdateControls() override { FLog->push_back(FName + ".Update"); }
    void LoadSettings(TQelSDFReader&) override { FLog->push_back(FName + ".Load"); }
    void Initialize() override {
        FLog->push_back(FName + ".Init");
        TQelForm<QMainWindow>::Initialize();
    }
    void AllLoaded() override { FLog->push_back(FName + ".AllLoaded"); }

private:
    Log* FLog;
    std::string FName;
};

class TLogDialog : public TQelForm<QDialog> {
public:
    TLogDialog(Log* log, QWidget* parent) : TQelForm<QDialog>(parent), FLog(log) {}
    void Localize() override { FLog->push_back("Dialog.Localize"); }
    void UpdateControls() override { FLog->push_back("Dialog.Update"); }

private:
    Log* FLog;
};

// A module that logs the settings cycle and, when told, keeps a value in
// its own settings node.
class TLogModule : public TQelModule {
public:
    TLogModule(Log* log, const char* name, uint32_t guidTail = 0, bool writes = false)
        : FLog(log), FName(name), FGuid(TQelGuid::Parse("{5E1B7C10-3A2D-4C55-9E61-0A1B2C3D4E00}")), FWrites(writes),
          FValue(-1) {
        FGuid.Data4[7] = uint8_t(guidTail);
    }
    ~TLogModule() override { FLog->push_back(FName + ".Destroy"); }
    void Create() override {
        FLog->push_back(FName + ".Create");
        if (ThrowInCreate) throw EQelError("cannot create " + FName);
    }
    void LoadSettings(TQelSDFReader& reader) override {
        FLog->push_back(FName + ".Load");
        if (reader.OpenNode(1, FGuid)) {
            reader.ReadInteger(1, FValue);
            reader.CloseNode();
        }
    }
    void SaveSettings(TQelSDFWriter& writer) override {
        if (!FWrites) return;
        writer.BeginNode(1, FGuid);
        writer.WriteInteger(1, FValue);
        writer.EndNode();
    }
    void Initialize() override {
        FLog->push_back(FName + ".Init");
        TQelModule::Initialize();
    }
    void AllLoaded() override { FLog->push_back(FName + ".AllLoaded"); }

    bool ThrowInCreate = false;
    int32_t Value() const { return FValue; }
    void SetValue(int32_t v) { FValue = v; }

private:
    Log* FLog;
    std::string FName;
    TQelGuid FGuid;
    bool FWrites;
    int32_t FValue;
};

class TQelApplicationTest : public ::testing::Test {
protected:
    void SetUp() override {
        QFile::remove(App.GetSettingsFileName());
    }
    void TearDown() override {
        App.DestroyComponents();
        QFile::remove(App.GetSettingsFileName());
    }
    void WriteSettingsFile(const QByteArray& bytes) {
        const QString name = App.GetSettingsFileName();
        QDir().mkpath(QFileInfo(name).absolutePath());
        QFile f(name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    QByteArray ReadSettingsFile() {
        QFile f(App.GetSettingsFileName());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    QTemporaryDir LanguageFolder;
    TQelLocalizer Localizer{LanguageFolder.path(), 1033};
    TMessageCatcher Messages;
    TQelApplication App;
    Log L;
};

}  // namespace

TEST_F(TQelApplicationTest, SettingsFileLivesInTheApplicationDataFolder) {
    const QString expected = qEnvironmentVariable("XDG_CONFIG_HOME") + "/" + QCoreApplication::applicationName() + "/" +
                             QCoreApplication::applicationName() + ".cfg";
    EXPECT_EQ(App.GetSettingsFileName(), expected);
}

TEST_F(TQelApplicationTest, SettingsCycleInterleavesLoadAndInitializePerComponent) {
    TLogModule *a = nullptr, *b = nullptr;
    TLogForm* c = nullptr;
    App.CreateModule(a, &L, "A", 1, true);
    App.CreateModule(b, &L, "B", 2);
    App.CreateForm(c, &L, "C");
    // Owned by the application: nothing initialised at construction.
    EXPECT_EQ(L, (Log{"A.Create", "B.Create"}));

    // Without a file: no Load calls.
    L.clear();
    App.LoadSettings();
    EXPECT_EQ(L, (Log{"A.Init", "B.Init", "C.Init", "C.Localize", "A.AllLoaded", "B.AllLoaded", "C.AllLoaded"}));

    // Only A writes; the file then exists and the next cycle loads first.
    a->SetValue(1234);
    App.SaveSettings();
    ASSERT_TRUE(QFile::exists(App.GetSettingsFileName()));
    a->SetValue(0);
    L.clear();
    App.LoadSettings();
    EXPECT_EQ(L, (Log{"A.Load", "A.Init", "B.Load", "B.Init", "C.Load", "C.Init", "C.Localize", "A.AllLoaded",
                      "B.AllLoaded", "C.AllLoaded"}));
    EXPECT_EQ(a->Value(), 1234);
    EXPECT_EQ(b->Value(), -1);  // no node: default kept
    EXPECT_TRUE(Messages.Shown.empty());
}

TEST_F(TQelApplicationTest, NothingWrittenLeavesTheSettingsFileAlone) {
    TLogModule* a = nullptr;
    App.CreateModule(a, &L, "A");  // writes nothing

    // No file: none is created (nor its folder's file).
    App.SaveSettings();
    EXPECT_FALSE(QFile::exists(App.GetSettingsFileName()));

    // An existing file keeps its bytes and its modification time.
    WriteSettingsFile("old contents");
    const QDateTime old = QDateTime::currentDateTime().addDays(-3);
    {
        QFile f(App.GetSettingsFileName());
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.setFileTime(old, QFileDevice::FileModificationTime));
    }
    App.SaveSettings();
    EXPECT_EQ(ReadSettingsFile(), QByteArray("old contents"));
    EXPECT_EQ(QFileInfo(App.GetSettingsFileName()).lastModified().toSecsSinceEpoch(), old.toSecsSinceEpoch());
}

TEST_F(TQelApplicationTest, DamagedSettingsFileIsReadAsFarAsItIsSoundWithoutAMessage) {
    TLogModule *a = nullptr, *b = nullptr;
    App.CreateModule(a, &L, "A", 1, true);
    App.CreateModule(b, &L, "B", 2, true);
    a->SetValue(11);
    b->SetValue(22);
    App.SaveSettings();
    const QByteArray whole = ReadSettingsFile();
    ASSERT_FALSE(whole.isEmpty());

    // Cut inside B's node: A's node still reads, B keeps its value.
    WriteSettingsFile(whole.left(whole.size() - 3));
    a->SetValue(0);
    b->SetValue(0);
    App.LoadSettings();
    EXPECT_EQ(a->Value(), 11);
    EXPECT_EQ(b->Value(), 0);

    // Garbage and an empty file: defaults everywhere, every module still
    // initialised.
    for (const QByteArray& bytes : {QByteArray(1000, char(0xC0)), QByteArray("\xFF\xFF\xFF", 3), QByteArray()}) {
        WriteSettingsFile(bytes);
        a->SetValue(5);
        L.clear();
        App.LoadSettings();
        EXPECT_EQ(a->Value(), 5);
        EXPECT_EQ(L, (Log{"A.Load", "A.Init", "B.Load", "B.Init", "A.AllLoaded", "B.AllLoaded"}));
    }
    EXPECT_TRUE(Messages.Shown.empty());
}

TEST_F(TQelApplicationTest, SettingsFileThatIsAPipeIsNotWaitedOn) {
    TLogModule* a = nullptr;
    App.CreateModule(a, &L, "A", 1, true);
    QDir().mkpath(QFileInfo(App.GetSettingsFileName()).absolutePath());
    TWatchedFifo fifo(App.GetSettingsFileName());
    ASSERT_TRUE(fifo.Made);
    L.clear();
    App.LoadSettings();
    EXPECT_FALSE(fifo.ReaderBlocked());
    EXPECT_EQ(L, (Log{"A.Init", "A.AllLoaded"}));
    EXPECT_TRUE(Messages.Shown.empty());
}

TEST_F(TQelApplicationTest, AFullDiskKeepsTheOldSettingsFile) {
    const QString folder = QFileInfo(App.GetSettingsFileName()).absolutePath();
    ASSERT_TRUE(QDir().mkpath(folder));
    if (!QelOnSmallFileSystem(folder)) return;
    TLogModule* a = nullptr;
    App.CreateModule(a, &L, "A", 1, true);
    a->SetValue(1);
    App.SaveSettings();
    const QByteArray old = ReadSettingsFile();
    ASSERT_FALSE(old.isEmpty());
    QelFillFileSystem(folder);
    a->SetValue(2);
    App.SaveSettings();
    EXPECT_EQ(ReadSettingsFile(), old);
    EXPECT_TRUE(Messages.Shown.empty());
}

TEST_F(TQelApplicationTest, SettingsFileThatCannotBeWrittenIsSkippedQuietly) {
    TLogModule* a = nullptr;
    App.CreateModule(a, &L, "A", 1, true);
    // A folder where the file should be: it cannot be replaced.
    QDir().mkpath(App.GetSettingsFileName());
    App.SaveSettings();
    EXPECT_TRUE(QFileInfo(App.GetSettingsFileName()).isDir());
    EXPECT_TRUE(Messages.Shown.empty());
    QDir(App.GetSettingsFileName()).removeRecursively();
}

TEST_F(TQelApplicationTest, ComponentJoinsTheListBeforeItsCreationStep) {
    struct TOuter : TQelModule {
        Log* L;
        int IndexAtCreate = -1;
        TLogForm* Inner = nullptr;
        explicit TOuter(Log* log) : L(log) {}
        void Create() override {
            TQelApplication* app = TQelApplication::Instance();
            IndexAtCreate = app->ComponentCount() - 1;
            app->CreateForm(Inner, L, "Window");
        }
    };
    TOuter* outer = nullptr;
    App.CreateModule(outer, &L);
    ASSERT_EQ(App.ComponentCount(), 2);
    EXPECT_EQ(outer->IndexAtCreate, 0);
    EXPECT_EQ(App.Components(0), outer);
    EXPECT_EQ(App.Components(1), static_cast<QObject*>(outer->Inner));
    EXPECT_EQ(App.MainForm(), outer->Inner);
}

TEST_F(TQelApplicationTest, FailedCreationUnregistersFreesAndClearsTheReference) {
    struct TFailing : TLogModule {
        TFailing(Log* log) : TLogModule(log, "F") { ThrowInCreate = true; }
    };
    TLogModule* a = nullptr;
    App.CreateModule(a, &L, "A");
    TFailing* f = reinterpret_cast<TFailing*>(&L);  // any non-null value
    EXPECT_THROW(App.CreateModule(f, &L), EQelError);
    EXPECT_EQ(f, nullptr);
    EXPECT_EQ(App.ComponentCount(), 1);
    EXPECT_EQ(L, (Log{"A.Create", "F.Create", "F.Destroy"}));
}

TEST_F(TQelApplicationTest, ComponentsAreDestroyedLastFirstWithTheMainWindowLast) {
    TLogModule *a = nullptr, *b = nullptr;
    TLogForm* main = nullptr;
    App.CreateModule(a, &L, "A");
    App.CreateForm(main, &L, "Main");
    App.CreateModule(b, &L, "B");
    L.clear();
    App.DestroyComponents();
    EXPECT_EQ(L, (Log{"B.Destroy", "A.Destroy", "Main.Destroy"}));
    EXPECT_EQ(App.ComponentCount(), 0);

    // A component freed by someone else leaves the list.
    App.CreateModule(a, &L, "A");
    delete a;
    EXPECT_EQ(App.ComponentCount(), 0);
}

TEST_F(TQelApplicationTest, QueueCallBeforeTheMainWindowIsLost) {
    int runs = 0;
    App.QueueCall(TQelMethod(&runs, 1, [&runs] { ++runs; }));
    EXPECT_EQ(App.QueuedCallCount(), 0);
    TLogForm* main = nullptr;
    App.CreateForm(main, &L, "Main");
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(runs, 0);
}

TEST_F(TQelApplicationTest, QueuedCallsRunOnePerMessageInOrder) {
    TLogForm* main = nullptr;
    App.CreateForm(main, &L, "Main");
    Log calls;
    int countInFirst = -1;
    const TQelMethod third(&calls, 3, [&] { calls.push_back("third"); });
    App.QueueCall(TQelMethod(&calls, 1, [&] {
        calls.push_back("first");
        App.QueueCall(third);
        countInFirst = App.QueuedCallCount();
    }));
    App.QueueCall(TQelMethod(&calls, 2, [&] { calls.push_back("second"); }));

    App.RunQueuedCall();
    EXPECT_EQ(calls, (Log{"first"}));
    EXPECT_EQ(countInFirst, 3);  // the running call leaves only after it returns
    EXPECT_EQ(App.QueuedCallCount(), 2);

    QCoreApplication::sendPostedEvents(main);
    QCoreApplication::sendPostedEvents(main);
    EXPECT_EQ(calls, (Log{"first", "second", "third"}));
    EXPECT_EQ(App.QueuedCallCount(), 0);
}

TEST_F(TQelApplicationTest, QueuedCallThatThrowsDoesNotStallTheQueue) {
    TLogForm* main = nullptr;
    App.CreateForm(main, &L, "Main");
    App.SetTitle("Title");
    int later = 0;
    App.QueueCall(TQelMethod(&later, 1, [] { throw EQelError("queued failure"); }));
    App.QueueCall(TQelMethod(&later, 2, [&later] { ++later; }));
    for (int i = 0; i < 3; ++i) QCoreApplication::sendPostedEvents(main);
    EXPECT_EQ(later, 1);
    EXPECT_EQ(App.QueuedCallCount(), 0);
    ASSERT_EQ(Messages.Shown.size(), 1u);
    EXPECT_EQ(Messages.Shown[0].first, "queued failure");
    EXPECT_EQ(Messages.Shown[0].second, "Title");
}

TEST_F(TQelApplicationTest, IdlePassCountIsFixedAtItsStart) {
    Log calls;
    const TQelMethod h2(&calls, 2, [&] { calls.push_back("H2"); });
    bool added = false;
    App.AddIdleHandler(TQelMethod(&calls, 1, [&] {
        calls.push_back("H1");
        if (!added) {
            added = true;
            App.AddIdleHandler(h2);
        }
    }));
    App.DoIdle();
    EXPECT_EQ(calls, (Log{"H1"}));
    App.DoIdle();
    EXPECT_EQ(calls, (Log{"H1", "H1", "H2"}));

    // A hook that clears Done skips the handlers of that pass.
    calls.clear();
    App.OnIdle = [&](QObject* sender, bool& done) {
        EXPECT_EQ(sender, &App);
        calls.push_back("OnIdle");
        done = false;
    };
    App.DoIdle();
    EXPECT_EQ(calls, (Log{"OnIdle"}));
    App.OnIdle = nullptr;

    App.RemoveIdleHandler(h2);
    calls.clear();
    App.DoIdle();
    EXPECT_EQ(calls, (Log{"H1"}));
}

TEST_F(TQelApplicationTest, IdleHandlerThatThrowsIsReportedAndTheNextPassRuns) {
    int runs = 0;
    App.AddIdleHandler(TQelMethod(&runs, 1, [&runs] {
        if (++runs == 1) throw EQelError("idle failure");
    }));
    App.DoIdle();
    App.DoIdle();
    EXPECT_EQ(runs, 2);
    ASSERT_EQ(Messages.Shown.size(), 1u);
    EXPECT_EQ(Messages.Shown[0].first, "idle failure");
}

TEST_F(TQelApplicationTest, IdleHandlerThatThrowsSomethingElseDoesNotStopLaterPasses) {
    int runs = 0;
    App.AddIdleHandler(TQelMethod(&runs, 1, [&runs] {
        if (++runs == 1) throw 7;
    }));
    EXPECT_THROW(App.DoIdle(), int);
    App.DoIdle();
    EXPECT_EQ(runs, 2);
    EXPECT_TRUE(Messages.Shown.empty());
}

TEST_F(TQelApplicationTest, TitleChangeIsAnnouncedAfterTheTitleIsSet) {
    QString seen;
    App.OnTitleChange = [&](QObject* sender) {
        EXPECT_EQ(sender, &App);
        seen = App.GetTitle();
    };
    App.SetTitle("New title");
    EXPECT_EQ(seen, "New title");
    App.MessageBoxTitled("text", MB_OK);
    EXPECT_EQ(Messages.Shown.back().second, "New title");
}

TEST_F(TQelApplicationTest, RunEndsWhenTheMainWindowClosesAndThenSaves) {
    TLogModule* a = nullptr;
    TLogForm* main = nullptr;
    App.CreateModule(a, &L, "A", 1, true);
    App.CreateForm(main, &L, "Main");
    a->SetValue(77);
    bool wasVisible = false;
    QTimer::singleShot(0, main, [&] {
        wasVisible = main->isVisible();
        main->close();
    });
    App.Run();
    EXPECT_TRUE(wasVisible);
    EXPECT_TRUE(App.Terminated());
    EXPECT_FALSE(ReadSettingsFile().isEmpty());
    const Log cycle{"A.Create", "A.Init", "Main.Init", "Main.Localize", "A.AllLoaded", "Main.AllLoaded"};
    ASSERT_GT(L.size(), cycle.size());
    EXPECT_EQ(Log(L.begin(), L.begin() + long(cycle.size())), cycle);
    // The loop's idle time reached the main window's UpdateControls.
    EXPECT_EQ(L[cycle.size()], "Main.Update");
}

TEST_F(TQelApplicationTest, FormOwnedByTheApplicationIsInitialisedOnlyByTheSettingsCycle) {
    TLogForm* owned = nullptr;
    App.CreateForm(owned, &L, "Owned");
    EXPECT_TRUE(L.empty());
    App.DoIdle();
    EXPECT_TRUE(L.empty());  // not registered for idle yet
    App.LoadSettings();
    App.DoIdle();
    EXPECT_EQ(L, (Log{"Owned.Init", "Owned.Localize", "Owned.AllLoaded", "Owned.Update"}));

    // Any other form is initialised at construction.
    L.clear();
    TLogDialog* dialog = QelCreateForm<TLogDialog>(&L, owned);
    EXPECT_EQ(L, (Log{"Dialog.Localize"}));
    EXPECT_FALSE(dialog->OwnedByApplication());

    // Once destroyed, it gets no idle call.
    L.clear();
    App.DoIdle();
    EXPECT_EQ(L, (Log{"Owned.Update", "Dialog.Update"}));
    delete dialog;
    L.clear();
    App.DoIdle();
    EXPECT_EQ(L, (Log{"Owned.Update"}));
}

TEST(TQelFrame, SetControlsEnabledReachesEveryControlButNotTheFrame) {
    TQelApplication app;
    TQelFrame* frame = QelCreateFrame<TQelFrame>(nullptr);
    EXPECT_TRUE(frame->ControlsEnabled());  // initialised at creation
    EXPECT_EQ(frame->size(), QSize(320, 240));

    auto* button = new QPushButton(frame);
    auto* group = new QGroupBox(frame);
    auto* inner = new QWidget(group);
    auto* check = new QCheckBox(inner);
    auto* spin = new QSpinBox(frame);
    QLineEdit* spinEdit = spin->findChild<QLineEdit*>();
    ASSERT_NE(spinEdit, nullptr);

    frame->SetControlsEnabled(false);
    EXPECT_FALSE(frame->ControlsEnabled());
    EXPECT_TRUE(frame->isEnabled());
    for (QWidget* w : std::initializer_list<QWidget*>{button, group, inner, check, spin})
        EXPECT_TRUE(w->testAttribute(Qt::WA_ForceDisabled)) << w->metaObject()->className();
    // Inner parts of a composite control are left to the control.
    EXPECT_FALSE(spinEdit->testAttribute(Qt::WA_ForceDisabled));

    // The stored value wins, even over controls changed since.
    check->setEnabled(true);
    frame->SetControlsEnabled(false);
    EXPECT_FALSE(check->testAttribute(Qt::WA_ForceDisabled));

    frame->SetControlsEnabled(true);
    EXPECT_TRUE(frame->ControlsEnabled());
    for (QWidget* w : std::initializer_list<QWidget*>{button, group, inner, check, spin, spinEdit})
        EXPECT_TRUE(w->isEnabled()) << w->metaObject()->className();
    delete frame;
}

TEST(TQelFrame, FrameIsDisabledUntilInitialised) {
    TQelFrame frame;
    EXPECT_FALSE(frame.ControlsEnabled());
    auto* button = new QPushButton(&frame);
    // Enabling to the stored value does nothing.
    frame.SetControlsEnabled(false);
    EXPECT_TRUE(button->isEnabled());
}
