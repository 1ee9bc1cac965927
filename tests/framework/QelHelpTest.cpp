#include <gtest/gtest.h>

#include <QAction>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <memory>
#include <tuple>
#include <vector>

#include "QelForms.h"
#include "QelHelp.h"
#include "QelHelpViewer.h"
#include "QelLocalizer.h"
#include "QelMainForm.h"
#include "QelPaths.h"
#include "ScriptedMessageBoxes.h"
#include "SettingsBytes.h"

namespace {

using TRequest = std::tuple<QString, uint32_t, int32_t>;

class TRecordingViewer : public IQelHelpViewer {
public:
    void Show(const QString& File, uint32_t Command, int32_t Topic) override { Requests.emplace_back(File, Command, Topic); }
    std::vector<TRequest> Requests;
};

// Records the URLs handed to the desktop.
class TUrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> Urls;
public slots:
    void Open(const QUrl& Url) { Urls << Url; }
};

void Touch(const QString& name) {
    QFile f(name);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("x");
}

class THelpTest : public ::testing::Test {
protected:
    void SetUp() override {
        qputenv("VISARA_PROGRAM_DIR", Folder.path().toLocal8Bit());
        QelSetHelpViewer(&Viewer);
        App.CreateForm(MainForm);
        MainForm->Initialize();
    }
    void TearDown() override {
        App.DestroyComponents();
        QelSetHelpViewer(nullptr);
        qunsetenv("VISARA_PROGRAM_DIR");
    }
    TQelHelp* NewHelp() {
        TQelHelp* help = nullptr;
        App.CreateModule(help);
        return help;
    }
    QString ProgramPath(const char* extension) const {
        return Folder.filePath(QFileInfo(QelProgramFilePath()).completeBaseName() + extension);
    }

    QTemporaryDir Folder;
    TQelLocalizer Localizer{QDir(VISARA_SOURCE_DIR "/data/Languages").path(), 1033};
    TQelApplication App;
    TRecordingViewer Viewer;
};

}  // namespace

TEST_F(THelpTest, CompiledHelpBesideTheProgramSelectsHtmlCommands) {
    Touch(ProgramPath(".chm"));
    TQelHelp* help = NewHelp();
    EXPECT_TRUE(help->HtmlHelp());
    EXPECT_EQ(help->HelpFile(), ProgramPath(".chm"));
    EXPECT_TRUE(App.HelpFile.isEmpty());
    help->ShowTopic(0);
    help->ShowTopic(30);
    EXPECT_EQ(Viewer.Requests, (std::vector<TRequest>{{ProgramPath(".chm"), QelHelpDisplayTopic, 0},
                                                      {ProgramPath(".chm"), QelHelpHtmlContext, 30}}));
    // The extension is compared without regard to case.
    help->SetHelpFile(QStringLiteral("/x/Manual.CHM"));
    EXPECT_TRUE(help->HtmlHelp());
}

TEST_F(THelpTest, WithoutCompiledHelpTheClassicFileIsKeptEvenWhenMissing) {
    TScriptedMessageBoxes boxes;  // any message box fails the test
    TQelHelp* help = NewHelp();
    EXPECT_FALSE(help->HtmlHelp());
    EXPECT_EQ(help->HelpFile(), ProgramPath(".hlp"));
    EXPECT_EQ(App.HelpFile, ProgramPath(".hlp"));
    help->ShowTopic(0);
    help->ShowTopic(40);
    EXPECT_EQ(Viewer.Requests, (std::vector<TRequest>{{ProgramPath(".hlp"), QelHelpContents, 0},
                                                      {ProgramPath(".hlp"), QelHelpContext, 40}}));
    // The application's own help file wins over the program's.
    App.DestroyComponents();
    App.CreateForm(MainForm);
    App.HelpFile = QStringLiteral("/opt/Guide.chm");
    EXPECT_EQ(NewHelp()->HelpFile(), "/opt/Guide.chm");
}

TEST_F(THelpTest, MenuItemsInOrderAndEachOpensItsTopic) {
    TQelHelp* help = NewHelp();
    QStringList items;
    for (QAction* a : MainForm->HelpMenuItem->actions()) items << (a->isSeparator() ? "-" : a->text());
    EXPECT_EQ(items, (QStringList{"Contents", "-", "Getting Started", "Technical Support", "-",
                                  "Ordering Information"}));
    EXPECT_EQ(help->ContentsMenuItem->shortcut(), QKeySequence(Qt::Key_F1));
    for (QAction* a : {help->ContentsMenuItem, help->GettingStartedMenuItem, help->TechnicalSupportMenuItem,
                       help->OrderingInformationMenuItem})
        a->trigger();
    std::vector<int32_t> topics;
    for (const TRequest& r : Viewer.Requests) topics.push_back(std::get<2>(r));
    EXPECT_EQ(topics, (std::vector<int32_t>{0, 20, 30, 40}));

    // F1 anywhere in the main window asks for the contents once.
    Viewer.Requests.clear();
    MainForm->show();
    MainForm->activateWindow();
    QApplication::setActiveWindow(MainForm);
    ASSERT_TRUE(QTest::qWaitForWindowActive(MainForm));
    QTest::keyClick(MainForm, Qt::Key_F1);
    ASSERT_EQ(Viewer.Requests.size(), 1u);
    EXPECT_EQ(std::get<2>(Viewer.Requests[0]), 0);
}

TEST_F(THelpTest, FirstRunTopicShowsOnceAndTheNodeIsAsStored) {
    TQelHelp* help = NewHelp();
    const std::vector<uint8_t> expected = {0xD5, 0x01, 0x0D, 0x10, 0x7D, 0x4D, 0x08, 0x3F, 0x21, 0xFB, 0xA5, 0x44, 0xBA,
                                           0x4F, 0xB6, 0xFF, 0x3A, 0xE0, 0xB4, 0x1D, 0x55, 0x01, 0x01, 0x01, 0x00, 0x00};
    EXPECT_EQ(SavedSettings(*help), expected);

    // A stored true cannot set a cleared flag; a set flag shows Getting
    // Started once, queued, and is then cleared.
    const std::vector<uint8_t> stored = [&] {
        std::vector<uint8_t> b = expected;
        b[23] = 1;
        return b;
    }();
    TQelSDFReader reader(stored);
    help->LoadSettings(reader);
    EXPECT_FALSE(help->ShowGettingStartedFlag);
    help->ShowGettingStartedFlag = true;
    help->Initialize();
    EXPECT_TRUE(Viewer.Requests.empty());
    while (App.QueuedCallCount() > 0) App.RunQueuedCall();
    ASSERT_EQ(Viewer.Requests.size(), 1u);
    EXPECT_EQ(std::get<2>(Viewer.Requests[0]), 20);
    EXPECT_FALSE(help->ShowGettingStartedFlag);
}

TEST(HelpViewer, DesktopOpensTheTopicPageBesideTheHelpFileOrNothing) {
    QelSetHelpViewer(nullptr);
    QTemporaryDir folder;
    ASSERT_TRUE(QDir(folder.path()).mkdir("Help"));
    Touch(folder.filePath("Help/index.html"));
    Touch(folder.filePath("Help/technical-support.html"));
    TUrlCatcher catcher;
    QDesktopServices::setUrlHandler("file", &catcher, "Open");
    const QString file = folder.filePath("Visara.hlp");
    QelHelpViewer()->Show(file, QelHelpContents, 0);
    QelHelpViewer()->Show(file, QelHelpHtmlContext, 30);
    QelHelpViewer()->Show(file, QelHelpContext, 20);  // no page: nothing, and no message
    QelHelpViewer()->Show(file, QelHelpContext, 77);  // no such topic
    QelHelpViewer()->Show(file, QelHelpQuit, 0);
    QDesktopServices::unsetUrlHandler("file");
    EXPECT_EQ(catcher.Urls, (QList<QUrl>{QUrl::fromLocalFile(folder.filePath("Help/index.html")),
                                         QUrl::fromLocalFile(folder.filePath("Help/technical-support.html"))}));
}

#include "QelHelpTest.moc"
