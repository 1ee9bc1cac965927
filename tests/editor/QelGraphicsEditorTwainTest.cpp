// The editor's import commands against the scripted data source manager.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFileInfo>
#include <QMenu>
#include <QTemporaryDir>

#include "FakeTwainDsm.h"
#include "OrloTWAIN.h"
#include "QelGraphicsEditor.h"
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
    QStringList ImportItems() {
        emit Editor->ImportSubmenu->aboutToShow();
        QStringList names;
        for (QAction* a : Editor->ImportSubmenu->actions()) names << a->text();
        return names;
    }
    QAction* ImportItem(const QString& name) {
        for (QAction* a : Editor->ImportSubmenu->actions())
            if (a->text() == name) return a;
        return nullptr;
    }
    bool Idle() { return SessionEnded(*Editor->Twain) && Editor->AcquireMenuItem->isEnabled(); }

    TScriptedMessageBoxes Scripted;
    TQelLocalizer Localizer{QStringLiteral(VISARA_SOURCE_DIR "/data/Languages"), 1033};
    TQelApplication App;
    TQelGraphicsEditor* Editor = nullptr;
    FakeDsmState* Dsm = nullptr;
};

TEST_F(TGraphicsEditorTwainTest, ItemsTextsAndTheSourceList) {
    EXPECT_EQ(Editor->SelectTwainSourceMenuItem->text(), "Select Source");
    EXPECT_EQ(Editor->AcquireMenuItem->text(), "Acquire Image");
    EXPECT_EQ(Editor->ImportSubmenu->title(), "Import");
    // Never shown: in no menu.
    const QList<QAction*> file = MainForm->FileMenuItem->actions();
    EXPECT_FALSE(file.contains(Editor->SelectTwainSourceMenuItem));
    EXPECT_FALSE(file.contains(Editor->AcquireMenuItem));
    EXPECT_TRUE(Editor->SelectTwainSourceMenuItem->associatedObjects().isEmpty());
    // Import comes after the close separator, before the File separator.
    const auto at = [&](QAction* a) { return file.indexOf(a); };
    EXPECT_LT(at(Editor->CloseMenuSeperator), at(Editor->ImportSubmenu->menuAction()));
    EXPECT_LT(at(Editor->ImportSubmenu->menuAction()), at(MainForm->FileMenuSeparator));

    EXPECT_EQ(ImportItems(), QStringList({"Alpha", "Beta"}));
    Dsm->sources = {"Gamma"};
    EXPECT_EQ(ImportItems(), QStringList({"Gamma"}));
    Dsm->sources.clear();
    EXPECT_TRUE(ImportItems().isEmpty());
}

TEST_F(TGraphicsEditorTwainTest, ImportOpensAnUntitledDocumentAndDeletesTheFile) {
    ImportItems();
    QAction* beta = ImportItem("Beta");
    ASSERT_NE(beta, nullptr);
    // The device list changes after the menu opened: the item's own name counts.
    Dsm->sources = {"Beta"};
    beta->trigger();
    EXPECT_FALSE(Editor->AcquireMenuItem->isEnabled());
    EXPECT_FALSE(Editor->SelectTwainSourceMenuItem->isEnabled());
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
    Editor->AcquireClick(nullptr);
    ASSERT_TRUE(PumpUntil([&] { return Idle(); }));
    EXPECT_EQ(Editor->GetActiveDocument(), nullptr);
    EXPECT_TRUE(Scripted.Boxes.isEmpty());
    EXPECT_EQ(Dsm->Calls(DAT_PENDINGXFERS, MSG_ENDXFER).size(), 1u);
}

#ifdef SANE_TWAINDSM_DIR
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
    EXPECT_FALSE(QFileInfo::exists(Editor->Twain->Filename()));
    EXPECT_TRUE(Scripted.Boxes.isEmpty());
}
#endif

}  // namespace
