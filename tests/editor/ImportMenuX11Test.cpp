// File > Import on a real X server, with the pointer, against SANE's test
// backend: the way to the scanner a user takes.
#include <gtest/gtest.h>

#include <QMenu>
#include <QMenuBar>
#include <QPushButton>

#include "QelGraphicsEditor.h"
#include "QelImport.h"
#include "QelLocalizer.h"
#include "QelMainForm.h"
#include "SaneProgressWindow.h"
#include "ScriptedMessageBoxes.h"
#include "X11Session.h"
#include "../sanedsm/SaneTestSupport.h"
#include "../twain/TwainTestSupport.h"

#ifdef SANE_TWAINDSM_DIR

namespace {

using namespace X11Session;

constexpr int32_t TextNoDevice = 1060;
constexpr int32_t TextImport = 17;

class ImportMenuX11 : public ::testing::Test {
protected:
    void TearDown() override { App.DestroyComponents(); }

    QMenu* Submenu() const { return Editor->Import->ImportSubmenu; }
    // File > Import with the pointer; true once the X server shows it.
    bool OpenImport() { return ChooseMenuItem(MainForm->menuBar(), Submenu()->menuAction()); }
    // The submenu's texts, a disabled item's after "-".
    QStringList Items() const {
        QStringList texts;
        for (QAction* item : Submenu()->actions()) texts << (item->isEnabled() ? "" : "-") + item->text();
        return texts;
    }
    // Clicks the test backend's device (the first of both by name) with its
    // options set for the scan: the backend keeps them across openings.
    bool Scan(std::initializer_list<std::pair<const char*, const char*>> Options) {
        Controls.SetDeviceOption("", "");
        for (const auto& [name, value] : Options) Controls.SetDeviceOption(name, value);
        EXPECT_TRUE(OpenImport()) << "the Import submenu did not appear";
        EXPECT_EQ(Items().value(1), "Slow Device");
        if (Items().size() != 2 || !Submenu()->isVisible()) return false;
        Click(CenterOf(Submenu(), Submenu()->actions()[0]));
        return true;
    }
    bool Idle() { return SessionEnded(*Editor->Import->Twain) && Editor->Import->AcquireMenuItem->isEnabled(); }

    TScriptedMessageBoxes Scripted;
    TQelLocalizer Localizer{QStringLiteral(VISARA_SOURCE_DIR "/data/Languages"), 1033};
    TQelApplication App;
    TQelGraphicsEditor* Editor = nullptr;
    SaneDsmControls Controls;
};

}  // namespace

// One program start, SANE's test backend beside one whose search takes seconds.
// File > Import opened before the search ends says there is no device (an
// empty submenu would never show again); the next opening lists both. A slow
// scan's progress window stays with the program's, in its language: Esc ends
// the scan, so does its Cancel, clicked; nothing imported, nothing said. A jam
// ends in a message, the photo kept. Then the scan comes in as a new picture.
TEST_F(ImportMenuX11, FromASlowSearchThroughEscCancelAndAJamToAnImportedScan) {
    X11_SESSION_REQUIRED();
    if (qEnvironmentVariableIsEmpty("VISARA_SLOW_SEARCH_MS")) GTEST_SKIP() << "run by ctest with the slow backend";
    ASSERT_TRUE(SaneTestConfig("number_of_devices 1\nbr_x 20.0\nbr_y 30.0\n", "test\nvisaraslow"));
    qputenv("VISARA_TWAIN_DSM_DIR", SANE_TWAINDSM_DIR);
    Controls = SaneControls();
    ASSERT_TRUE(Controls.WaitForDevices && Controls.SetDeviceOption);
    const std::pair<int, int> scanSize = SaneReportedSize("test:0");
    if (scanSize.first == 0) GTEST_SKIP() << "no SANE test backend";
    App.SetTitle("Visara");
    App.CreateModule(Editor);
    App.LoadSettings();
    MainForm->setGeometry(80, 80, 900, 700);
    MainForm->show();
    ASSERT_TRUE(WaitForWindow(MainForm, true));
    TQelDocument* document = nullptr;
    ASSERT_TRUE(Editor->OpenDocument(QStringLiteral(VISARA_SOURCE_DIR "/data/Images/astronaut.jpg"), document, false));
    TQelGraphicsDocument* photo = Editor->GetActiveDocument();

    ASSERT_TRUE(OpenImport());
    EXPECT_EQ(Items(), QStringList{"-" + QelText(TextNoDevice)});
    Key("Escape");
    Key("Escape");
    ASSERT_TRUE(WaitUntil([] { return !MainForm->FileMenuItem->isVisible(); }));
    ASSERT_EQ(Controls.WaitForDevices(30000), 1);

    for (const uint16_t language : {1033, 1031}) {
        Localizer.SetLanguage(language);
        // A few bytes every tenth of a second.
        ASSERT_TRUE(Scan({{"read-limit", "true"}, {"read-limit-size", "64"}, {"read-delay", "true"},
                          {"read-delay-duration", "100000"}}));
        TForeignWindow progress;
        ASSERT_TRUE(WaitUntil([&] { return (progress = ForeignWindow("visara_saneprogress")).Id != 0; }, 10000));
        EXPECT_EQ(progress.Title, QelText(TextImport));
        EXPECT_EQ(progress.TransientFor, MainForm->winId());
        ASSERT_TRUE(WaitUntil([&] { return ActiveWindow() == progress.Id; })) << language;
        if (language == 1033) {
            Key("Escape");
        } else {
            // Cancel where the helper's code lays it out, with the texts it shows.
            TSaneProgressWindow probe(-1, Submenu()->actions()[0]->text());
            probe.adjustSize();
            ASSERT_EQ(probe.size(), progress.Geometry.size());
            auto* cancel = probe.findChild<QPushButton*>(QStringLiteral("CancelButton"));
            Click(progress.Geometry.topLeft() + cancel->mapTo(&probe, cancel->rect().center()));
        }
        ASSERT_TRUE(WaitUntil([&] { return ForeignWindow("visara_saneprogress").Id == 0 && Idle(); }, 10000)) << language;
        EXPECT_EQ(Editor->GetActiveDocument(), photo);
        EXPECT_TRUE(Scripted.Boxes.isEmpty()) << language;
    }

    Localizer.SetLanguage(1033);
    Scripted.Answers = {IDOK};
    ASSERT_TRUE(Scan({{"read-limit", "false"}, {"read-delay", "false"}, {"enable-test-options", "true"},
                      {"read-return-value", "SANE_STATUS_JAMMED"}}));
    ASSERT_TRUE(WaitUntil([&] { return Idle() && !Scripted.Boxes.isEmpty(); }, 30000));
    EXPECT_TRUE(Scripted.Boxes[0].Text.startsWith(QelText(1040))) << Scripted.Boxes[0].Text.toStdString();
    ASSERT_EQ(Editor->GetActiveDocument(), photo);
    EXPECT_EQ(photo->Image.GetWidth(), 512);

    Scripted.Boxes.clear();
    ASSERT_TRUE(Scan({{"read-return-value", "Default"}, {"enable-test-options", "false"}}));
    ASSERT_TRUE(WaitUntil(
        [&] { return Idle() && Editor->GetActiveDocument() && Editor->GetActiveDocument()->FileName.isEmpty(); },
        30000));
    EXPECT_EQ(Editor->GetActiveDocument()->Image.GetWidth(), scanSize.first);
    EXPECT_EQ(Editor->GetActiveDocument()->Image.GetHeight(), scanSize.second);
    EXPECT_TRUE(Scripted.Boxes.isEmpty());
}

#endif
