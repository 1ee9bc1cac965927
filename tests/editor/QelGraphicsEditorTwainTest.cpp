// The editor's import commands against the scripted data source manager.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QScopeGuard>
#include <QFileInfo>
#include <QMenu>
#include <QTemporaryDir>

#include <atomic>
#include <memory>
#include <thread>

#include "FakeTwainDsm.h"
#include "OrloTWAIN.h"
#include "QelGraphicsEditor.h"
#include "QelImageMetadata.h"
#include "QelImport.h"
#include "QelLocalizer.h"
#include "QelMainForm.h"
#include "ScriptedMessageBoxes.h"
#include "../sanedsm/SaneTestSupport.h"
#include "../twain/TwainTestSupport.h"

namespace {

class TGraphicsEditorTwainTest : public ::testing::Test {
protected:
    void SetUp() override {
        qputenv("VISARA_TWAIN_DSM_DIR", FAKE_TWAINDSM_DIR);
        Dsm = FakeDsm();
        ASSERT_NE(Dsm, nullptr);
        Dsm->Reset();
        Dsm->fileBytes = MakeDib(7, 5, true);
        App.SetTitle("Visara");
        App.CreateModule(Editor);
        Editor->Initialize();
        MainForm->show();
        QApplication::processEvents();
    }
    void TearDown() override {
        App.DestroyComponents();
        Dsm->Reset();
    }
    // The submenu's items as it shows them when opened, disabled ones in brackets.
    QStringList ImportItems() {
        QMenu* menu = Editor->Import->ImportSubmenu;
        menu->popup(MainForm->mapToGlobal(QPoint(10, 10)));
        EXPECT_TRUE(menu->isVisible()) << "the Import submenu did not show";
        QStringList names;
        for (QAction* a : menu->actions()) names << (a->isEnabled() ? a->text() : '[' + a->text() + ']');
        menu->hide();
        return names;
    }
    QAction* ImportItem(const QString& name) {
        for (QAction* a : Editor->Import->ImportSubmenu->actions())
            if (a->text() == name) return a;
        return nullptr;
    }
    bool Idle() { return SessionEnded(*Editor->Import->Twain) && Editor->Import->AcquireMenuItem->isEnabled(); }
    // A fresh device whose every Dat / Msg call fails with Condition.
    void FailOn(uint16_t dat, uint16_t msg, uint16_t condition) {
        Dsm->Reset();
        Dsm->fileBytes = MakeDib(7, 5, true);
        Dsm->conditionCode = condition;
        Dsm->hook = [dat, msg](FakeDsmContext& x) -> std::optional<uint16_t> {
            if (x.dat == dat && x.msg == msg) return TWRC_FAILURE;
            return std::nullopt;
        };
    }
    // An import that ends in a message, answered OK; false when none came.
    bool ImportEndsInABox(bool idle = true) {
        Scripted.Boxes.clear();
        Scripted.Answers = {IDOK};
        Editor->Import->AcquireClick(nullptr);
        return PumpUntil([&] { return (!idle || Idle()) && !Scripted.Boxes.isEmpty(); });
    }
    QString FirstBox() const { return Scripted.Boxes.value(0).Text; }

    TScriptedMessageBoxes Scripted;
    TQelLocalizer Localizer{QStringLiteral(VISARA_SOURCE_DIR "/data/Languages"), 1033};
    TQelApplication App;
    TQelGraphicsEditor* Editor = nullptr;
    FakeDsmState* Dsm = nullptr;
};

TEST_F(TGraphicsEditorTwainTest, ItemsTextsAndTheSourceList) {
    EXPECT_EQ(Editor->Import->SelectTwainSourceMenuItem->text(), "Select Source");
    EXPECT_EQ(Editor->Import->AcquireMenuItem->text(), "Acquire Image");
    EXPECT_EQ(Editor->Import->ImportSubmenu->title(), "Import");
    // Never shown: in no menu.
    const QList<QAction*> file = MainForm->FileMenuItem->actions();
    EXPECT_FALSE(file.contains(Editor->Import->SelectTwainSourceMenuItem));
    EXPECT_FALSE(file.contains(Editor->Import->AcquireMenuItem));
    EXPECT_TRUE(Editor->Import->SelectTwainSourceMenuItem->associatedObjects().isEmpty());
    // Import comes after the close separator, before the File separator.
    const auto at = [&](QAction* a) { return file.indexOf(a); };
    EXPECT_LT(at(Editor->CloseMenuSeperator), at(Editor->Import->ImportSubmenu->menuAction()));
    EXPECT_LT(at(Editor->Import->ImportSubmenu->menuAction()), at(MainForm->FileMenuSeparator));

    EXPECT_EQ(ImportItems(), QStringList({"Alpha", "Beta"}));
    Dsm->sources = {"Gamma"};
    EXPECT_EQ(ImportItems(), QStringList({"Gamma"}));
    // No device: a disabled line says so (Qt never shows a submenu again
    // that once opened empty); nor with no source manager at all.
    Dsm->sources.clear();
    EXPECT_EQ(ImportItems(), QStringList({"[No scanner or camera was found]"}));
    Dsm->sources = {"Gamma"};
    qputenv("VISARA_TWAIN_DSM_DIR", QByteArray(FAKE_TWAINDSM_DIR) + "/none");
    EXPECT_EQ(ImportItems(), QStringList({"[No scanner or camera was found]"}));
    EXPECT_TRUE(Scripted.Boxes.isEmpty());
}

// The program's start opens the source manager once, which starts a
// manager's device search, and leaves the session closed.
TEST_F(TGraphicsEditorTwainTest, TheProgramsStartOpensTheSourceManagerOnce) {
    Editor->AllLoaded();
    ASSERT_TRUE(PumpUntil([&] { return !Dsm->Calls(DAT_PARENT, MSG_CLOSEDSM).empty(); }));
    EXPECT_EQ(Dsm->Calls(DAT_PARENT, MSG_OPENDSM).size(), 1u);
    EXPECT_TRUE(Dsm->Calls(DAT_IDENTITY, MSG_OPENDS).empty());
    // The worker records the closing states as the queue thread reports them.
    EXPECT_TRUE(PumpUntil([&] { return Idle(); }));
}

// A device gone since the menu listed it: the user is told, and no other
// device scans in its place.
TEST_F(TGraphicsEditorTwainTest, AChosenDeviceThatIsGoneIsReportedNotReplaced) {
    for (const bool late : {false, true}) {
        SCOPED_TRACE(late ? "gone between the check and the opening" : "gone before it was chosen");
        Dsm->sources = {"Alpha", "Beta"};
        ImportItems();
        int listings = 0;
        Dsm->hook = [&](FakeDsmContext& c) -> std::optional<uint16_t> {
            if (c.dat == DAT_IDENTITY && c.msg == MSG_GETFIRST && ++listings == 2) Dsm->sources = {"Alpha"};
            return std::nullopt;
        };
        if (!late) Dsm->sources = {"Alpha"};
        Scripted.Boxes.clear();
        Scripted.Answers = {IDOK};
        ImportItem("Beta")->trigger();
        ASSERT_TRUE(PumpUntil([&] { return Idle() && !Scripted.Boxes.isEmpty(); }));
        PumpUntil([] { return false; }, 200);
        EXPECT_EQ(Scripted.Boxes.size(), 1);
        EXPECT_EQ(FirstBox(), QelFormatText(QelText(1061), QStringLiteral("Beta")));
        // Late, the component opened its default source instead, which never scanned.
        EXPECT_EQ(Dsm->Calls(DAT_IDENTITY, MSG_OPENDS).size(), late ? 1u : 0u);
        EXPECT_TRUE(Dsm->Calls(DAT_USERINTERFACE, MSG_ENABLEDS).empty());
        Dsm->hook = nullptr;
    }
}

TEST_F(TGraphicsEditorTwainTest, ImportOpensAnUntitledDocumentAndDeletesTheFile) {
    ImportItems();
    QAction* beta = ImportItem("Beta");
    ASSERT_NE(beta, nullptr);
    // The device list changes after the menu opened: the item's own name counts.
    Dsm->sources = {"Beta"};
    beta->trigger();
    EXPECT_FALSE(Editor->Import->AcquireMenuItem->isEnabled());
    EXPECT_FALSE(Editor->Import->SelectTwainSourceMenuItem->isEnabled());
    ASSERT_TRUE(PumpUntil([&] { return Idle() && Editor->GetActiveDocument(); }));
    EXPECT_EQ(Dsm->Calls(DAT_IDENTITY, MSG_OPENDS).at(0).productName, "Beta");
    TQelGraphicsDocument* document = Editor->GetActiveDocument();
    EXPECT_TRUE(document->FileName.isEmpty());
    EXPECT_EQ(document->Image.GetWidth(), 7);
    EXPECT_EQ(document->Image.GetHeight(), 5);
    EXPECT_TRUE(Editor->RecentFiles.isEmpty());
    EXPECT_TRUE(Editor->FolderFiles.isEmpty());
    EXPECT_EQ(Editor->FolderIndex, -1);
    const QFileInfo transferred(QString::fromStdString(Dsm->fileName));
    EXPECT_TRUE(transferred.fileName().startsWith("twn"));
    EXPECT_FALSE(transferred.exists());
    EXPECT_TRUE(MainForm->windowTitle().contains(document->GetDisplayName()));
    EXPECT_TRUE(Scripted.Boxes.isEmpty());
    // The scan is nowhere on disk: closing it asks first, and Cancel keeps it.
    EXPECT_FALSE(document->Clean());
    Scripted.Answers = {IDCANCEL};
    bool canClose = true;
    Editor->CloseQueryAll(canClose);
    EXPECT_FALSE(canClose);
    EXPECT_EQ(Scripted.Boxes.size(), 1);
    EXPECT_EQ(Editor->GetActiveDocument(), document);
}

TEST_F(TGraphicsEditorTwainTest, ACancelledTransferOpensNothingAndAsksNothing) {
    Dsm->hook = [](FakeDsmContext& c) -> std::optional<uint16_t> {
        if (c.dat == DAT_IMAGEFILEXFER) return TWRC_CANCEL;
        return std::nullopt;
    };
    Editor->Import->AcquireClick(nullptr);
    ASSERT_TRUE(PumpUntil([&] { return Idle(); }));
    EXPECT_EQ(Editor->GetActiveDocument(), nullptr);
    EXPECT_TRUE(Scripted.Boxes.isEmpty());
    EXPECT_EQ(Dsm->Calls(DAT_PENDINGXFERS, MSG_ENDXFER).size(), 1u);
}

// One message for each failed import, with the codes for support.
TEST_F(TGraphicsEditorTwainTest, AFailedImportSaysWhatWentWrongOnce) {
    struct TCase {
        uint16_t Dat, Msg, Condition;
        int32_t Text;
    };
    const TCase cases[] = {
        {DAT_IMAGEFILEXFER, MSG_GET, TWCC_PAPERJAM, 1040},  // a jam on the transfer
        {DAT_IDENTITY, MSG_OPENDS, TWCC_BUMMER, 1044},      // the source does not open
        {DAT_IDENTITY, MSG_OPENDS, TWCC_MAXCONNECTIONS, 1041},  // ... because another program has it
        {DAT_USERINTERFACE, MSG_ENABLEDS, TWCC_OPERATIONERROR, 1045},
        {DAT_IMAGEFILEXFER, MSG_GET, TWCC_INTERLOCK, 1048},  // a cover open
        {DAT_IMAGEFILEXFER, MSG_GET, TWCC_NOMEDIA, 1049},    // nothing to scan
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Text);
        FailOn(c.Dat, c.Msg, c.Condition);
        ASSERT_TRUE(ImportEndsInABox());
        PumpUntil([] { return false; }, 200);  // nothing more comes of it
        ASSERT_EQ(Scripted.Boxes.size(), 1);
        const TScriptedBox& box = Scripted.Boxes[0];
        EXPECT_TRUE(box.Text.startsWith(QelText(c.Text))) << box.Text.toStdString();
        EXPECT_TRUE(box.Text.contains(QStringLiteral("TWCC %1,").arg(c.Condition))) << box.Text.toStdString();
        EXPECT_EQ(box.Flags & 0xF0, 0x10u);
        EXPECT_EQ(Editor->GetActiveDocument(), nullptr);
    }

    // A look at the Import list during the source's dialog keeps the jam
    // said; it shows the devices, which cannot be chosen while one scans.
    FailOn(DAT_IMAGEFILEXFER, MSG_GET, TWCC_PAPERJAM);
    Dsm->xferReadyOnEnable = false;
    Scripted.Boxes.clear();
    Scripted.Answers = {IDOK};
    ImportItems();
    Editor->Import->AcquireClick(nullptr);
    ASSERT_TRUE(Editor->Import->Twain->DSEnabled());
    EXPECT_EQ(ImportItems(), QStringList({"[Alpha]", "[Beta]"}));
    ASSERT_TRUE(Dsm->Post(MSG_XFERREADY));
    ASSERT_TRUE(PumpUntil([&] { return Idle() && !Scripted.Boxes.isEmpty(); }));
    EXPECT_TRUE(FirstBox().startsWith(QelText(1040))) << FirstBox().toStdString();
}

TEST_F(TGraphicsEditorTwainTest, ATransferThatLeavesNoImageIsReportedAndListingIsNot) {
    // The source reports the transfer done but writes nothing.
    Dsm->fileBytes.clear();
    ASSERT_TRUE(ImportEndsInABox());
    ASSERT_EQ(Scripted.Boxes.size(), 1);
    EXPECT_EQ(FirstBox(), QelText(1046));
    EXPECT_EQ(Editor->GetActiveDocument(), nullptr);

    // A transfer file name too long for the call: refused before it starts.
    Dsm->fileBytes = MakeDib(7, 5, true);
    const QString root =
        QDir::temp().filePath(QStringLiteral("visara-import-%1").arg(QCoreApplication::applicationPid()));
    const QString deep = root + '/' + QString(120, 'd') + '/' + QString(120, 'e');
    ASSERT_TRUE(QDir().mkpath(deep));
    const auto removeRoot = qScopeGuard([&] { QDir(root).removeRecursively(); });
    Editor->Import->Twain->SetFilename(deep + "/scan.bmp");
    ASSERT_TRUE(Editor->Import->Twain->Filename().startsWith(deep));
    const size_t setups = Dsm->Calls(DAT_SETUPFILEXFER, MSG_SET).size();
    ASSERT_TRUE(ImportEndsInABox());
    EXPECT_TRUE(FirstBox().startsWith(QelText(1045))) << FirstBox().toStdString();
    EXPECT_TRUE(FirstBox().contains(QStringLiteral("TWCC %1,").arg(TWCC_FILEWRITEERROR)));
    EXPECT_EQ(Dsm->Calls(DAT_SETUPFILEXFER, MSG_SET).size(), setups);
    Editor->Import->Twain->SetFilename(QString());

    // A manager that does not open: no device, without a message; an import says so.
    Scripted.Boxes.clear();
    Dsm->openDsmRc = TWRC_FAILURE;
    Dsm->conditionCode = TWCC_BUMMER;
    EXPECT_EQ(ImportItems(), QStringList({"[No scanner or camera was found]"}));
    PumpUntil([] { return false; }, 200);
    EXPECT_TRUE(Scripted.Boxes.isEmpty());
    ASSERT_TRUE(ImportEndsInABox(false));
    EXPECT_TRUE(FirstBox().startsWith(QelText(1044))) << FirstBox().toStdString();
}

#ifdef SANE_TWAINDSM_DIR
// A jam reported by a SANE device reaches the user as a paper jam.
TEST_F(TGraphicsEditorTwainTest, AJamInASaneDeviceIsReported) {
    SaneDsmControls controls;
    SANE_TEST_SETUP(controls);
    // The test backend's own switch: every read of the scan answers JAMMED.
    controls.SetDeviceOption("enable-test-options", "true");
    controls.SetDeviceOption("read-return-value", "SANE_STATUS_JAMMED");
    const QStringList items = ImportItems();
    ASSERT_EQ(items.size(), 2);
    Scripted.Answers = {IDOK};
    ImportItem(items[0])->trigger();
    ASSERT_TRUE(PumpUntil([&] { return Idle() && !Scripted.Boxes.isEmpty(); }, 30000));
    PumpUntil([] { return false; }, 200);
    ASSERT_EQ(Scripted.Boxes.size(), 1);
    EXPECT_TRUE(FirstBox().startsWith(QelText(1040))) << FirstBox().toStdString();
    EXPECT_TRUE(FirstBox().contains(QStringLiteral("TWCC %1,").arg(TWCC_PAPERJAM)));
    EXPECT_EQ(Editor->GetActiveDocument(), nullptr);
    // The backend cancelled its reader thread in the jam, perhaps inside a
    // message lookup of the C library: the metadata library's first error
    // still comes back.
    auto read = std::make_shared<std::atomic<bool>>(false);
    std::thread([read] {
        TQelImageMetadata metadata;
        QelReadImageMetadata(QByteArray("no image at all"), metadata);
        *read = true;
    }).detach();
    ASSERT_TRUE(PumpUntil([&] { return read->load(); }, 10000)) << "reading metadata waits for ever";
    // The jam cleared (the backend keeps options across openings): the scan comes.
    controls.SetDeviceOption("", "");
    controls.SetDeviceOption("read-return-value", "Default");
    controls.SetDeviceOption("enable-test-options", "false");
    ImportItems();
    ImportItem(items[0])->trigger();
    ASSERT_TRUE(PumpUntil([&] { return Idle() && Editor->GetActiveDocument(); }, 30000));
    controls.SetDeviceOption("", "");
    EXPECT_EQ(Scripted.Boxes.size(), 1);
}

// End to end with the data source manager over SANE: File > Import > the
// test device opens an untitled document of the scanned size.
TEST_F(TGraphicsEditorTwainTest, ImportFromASaneDeviceOpensTheScan) {
    SaneDsmControls controls;
    SANE_TEST_SETUP(controls);
    const auto [w, h] = SaneReportedSize("test:0");
    const QStringList items = ImportItems();
    ASSERT_EQ(items.size(), 2);
    QAction* first = ImportItem(items[0]);
    ASSERT_NE(first, nullptr);
    first->trigger();
    ASSERT_TRUE(PumpUntil([&] { return Idle() && Editor->GetActiveDocument(); }, 30000));
    TQelGraphicsDocument* document = Editor->GetActiveDocument();
    EXPECT_TRUE(document->FileName.isEmpty());
    EXPECT_EQ(document->Image.GetWidth(), w);
    EXPECT_EQ(document->Image.GetHeight(), h);
    EXPECT_FALSE(QFileInfo::exists(Editor->Import->Twain->Filename()));
    EXPECT_TRUE(Scripted.Boxes.isEmpty());
}
#endif

}  // namespace
