// File > Import on a real X server, with the pointer, against SANE's test
// backend: the way to the scanner a user takes.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <sys/socket.h>
#include <unistd.h>

#include "OrloTWAIN.h"
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

// Where the progress window's Cancel lies in it: the window laid out here
// by the code the helper program runs, with the texts it shows.
QPoint CancelInProgressWindow(const QString& Device, QSize& WindowSize) {
    int pair[2] = {-1, -1};
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) return QPoint();
    QPoint center;
    {
        TSaneProgressWindow probe(pair[0], Device);
        probe.adjustSize();
        WindowSize = probe.size();
        auto* cancel = probe.findChild<QPushButton*>(QStringLiteral("CancelButton"));
        if (cancel) center = cancel->mapTo(&probe, cancel->rect().center());
    }
    close(pair[0]);
    close(pair[1]);
    return center;
}

class ImportMenuX11 : public ::testing::Test {
protected:
    // The program as it starts, with a SANE backend's one device as the
    // scanner (SANE's test backend with the lines of its test.conf given,
    // unless another is named) and a photo open.
    void Start(const QByteArray& TestConf, const QByteArray& Backend = "test") {
        X11_SESSION_REQUIRED();
        ASSERT_TRUE(SaneTestConfig("number_of_devices 1\nbr_x 20.0\nbr_y 30.0\n" + TestConf, Backend));
        qputenv("VISARA_TWAIN_DSM_DIR", SANE_TWAINDSM_DIR);
        Controls = SaneControls();
        ASSERT_NE(Controls.WaitForDevices, nullptr);
        if (Backend == "test") {
            ScanSize = SaneReportedSize("test:0");
            if (ScanSize.first == 0) GTEST_SKIP() << "no SANE test backend";
        }
        App.SetTitle("Visara");
        App.CreateModule(Editor);
        App.LoadSettings();
        MainForm->setGeometry(80, 80, 900, 700);
        MainForm->show();
        ASSERT_TRUE(WaitForMapped(MainForm));
        ASSERT_TRUE(WaitForActive(MainForm));
        TQelDocument* document = nullptr;
        ASSERT_TRUE(Editor->OpenDocument(PhotoName, document, false));
        ASSERT_NE(Photo = Editor->GetActiveDocument(), nullptr);
    }
    void TearDown() override { App.DestroyComponents(); }

    QMenu* Submenu() const { return Editor->Import->ImportSubmenu; }
    // File, then Import, with the pointer; true once the X server shows it.
    bool OpenImport() { return OpenMenu(MainForm->menuBar(), Submenu()); }
    void CloseMenus() {
        TapKey("Escape");
        TapKey("Escape");
        ASSERT_TRUE(WaitUntil([] { return !MainForm->FileMenuItem->isVisible(); }));
    }
    // The submenu's item for the scanner, opened once more after the search
    // when it was not done at the first opening.
    QAction* ScannerItem() {
        if (!OpenImport()) {
            ADD_FAILURE() << "the Import submenu never appeared";
            return nullptr;
        }
        if (Submenu()->actions().value(0) && Submenu()->actions()[0]->text() == QelText(TextNoDevice)) {
            CloseMenus();
            EXPECT_EQ(Controls.WaitForDevices(30000), 1);
            if (!OpenImport()) {
                ADD_FAILURE() << "the Import submenu did not appear a second time";
                return nullptr;
            }
        }
        const QList<QAction*> items = Submenu()->actions();
        EXPECT_EQ(items.size(), 1);
        if (items.size() != 1 || !items[0]->isEnabled()) return nullptr;
        return items[0];
    }
    QStringList Items(bool Enabled) const {
        QStringList texts;
        for (QAction* item : Submenu()->actions())
            if (item->isEnabled() == Enabled) texts << item->text();
        return texts;
    }
    bool Idle() { return SessionEnded(*Editor->Import->Twain) && Editor->Import->AcquireMenuItem->isEnabled(); }

    TScriptedMessageBoxes Scripted;
    TQelLocalizer Localizer{QStringLiteral(VISARA_SOURCE_DIR "/data/Languages"), 1033};
    TQelApplication App;
    TQelGraphicsEditor* Editor = nullptr;
    SaneDsmControls Controls;
    std::pair<int, int> ScanSize;
    const QString PhotoName = QStringLiteral(VISARA_SOURCE_DIR "/data/Images/astronaut.jpg");
    TQelGraphicsDocument* Photo = nullptr;
};

}  // namespace

TEST_F(ImportMenuX11, TheScannerItemImportsTheScanAsANewUntitledPicture) {
    Start("");
    if (HasFatalFailure() || IsSkipped()) return;
    QAction* scanner = ScannerItem();
    ASSERT_NE(scanner, nullptr);
    Click(CenterOf(Submenu(), scanner));
    // The scan takes the photo's place (the editor shows one picture).
    ASSERT_TRUE(WaitUntil(
        [&] { return Idle() && Editor->GetActiveDocument() && Editor->GetActiveDocument()->FileName.isEmpty(); },
        30000));
    TQelGraphicsDocument* scan = Editor->GetActiveDocument();
    EXPECT_EQ(scan->Image.GetWidth(), ScanSize.first);
    EXPECT_EQ(scan->Image.GetHeight(), ScanSize.second);
    EXPECT_TRUE(Scripted.Boxes.isEmpty());
}

TEST_F(ImportMenuX11, AJammedScannerEndsInAMessageAndKeepsThePhoto) {
    Start("read-status-code \"SANE_STATUS_JAMMED\"\n");
    if (HasFatalFailure() || IsSkipped()) return;
    QAction* scanner = ScannerItem();
    ASSERT_NE(scanner, nullptr);
    Scripted.Answers = {IDOK};
    Click(CenterOf(Submenu(), scanner));
    ASSERT_TRUE(WaitUntil([&] { return Idle() && !Scripted.Boxes.isEmpty(); }, 30000));
    EXPECT_TRUE(Scripted.Boxes[0].Text.startsWith(QelText(1040))) << Scripted.Boxes[0].Text.toStdString();
    ASSERT_EQ(Editor->GetActiveDocument(), Photo);
    EXPECT_EQ(Photo->FileName, PhotoName);
    EXPECT_EQ(Photo->Image.GetWidth(), 512);
}

// The scan shows a progress window that stays with the program's window, in
// its language: Esc in it ends the scan, and so does its Cancel, clicked;
// nothing is imported and nothing said.
TEST_F(ImportMenuX11, EscOrCancelInTheProgressWindowEndsTheScanWithNothingAndNoMessage) {
    // A slow scan: a few bytes every tenth of a second.
    Start("read-limit true\nread-limit-size 64\nread-delay true\nread-delay-duration 100000\n");
    if (HasFatalFailure() || IsSkipped()) return;
    for (const uint16_t language : {1033, 1031}) {
        Localizer.SetLanguage(language);
        QAction* scanner = ScannerItem();
        ASSERT_NE(scanner, nullptr);
        const QString device = scanner->text();
        Click(CenterOf(Submenu(), scanner));
        TForeignWindow progress;
        ASSERT_TRUE(WaitForForeignWindow("visara_saneprogress", progress, 10000)) << language;
        EXPECT_EQ(progress.Title, QelText(TextImport));
        EXPECT_EQ(TransientFor(progress), MainForm->winId());
        ASSERT_TRUE(WaitForForeignActive(progress)) << language;
        if (language == 1033) {
            TapKey("Escape");
        } else {
            QSize size;
            const QPoint cancel = CancelInProgressWindow(device, size);
            ASSERT_EQ(size, progress.Geometry.size());
            Click(progress.Geometry.topLeft() + cancel);
        }
        ASSERT_TRUE(WaitForForeignGone("visara_saneprogress", 10000)) << language;
        ASSERT_TRUE(WaitUntil([&] { return Idle(); }, 10000)) << language;
        EXPECT_EQ(Editor->GetActiveDocument(), Photo);
        EXPECT_TRUE(Scripted.Boxes.isEmpty()) << language;
    }
}

// The devices come later than the first opening: it says there are none
// (an empty submenu would never show again), the next opening lists them.
TEST_F(ImportMenuX11, ASlowSearchShowsNoDeviceAtFirstAndTheDeviceAtTheNextOpening) {
    if (qEnvironmentVariableIsEmpty("VISARA_SLOW_SEARCH_MS")) GTEST_SKIP() << "run by ctest with the slow backend";
    Start("", "visaraslow");
    if (HasFatalFailure() || IsSkipped()) return;
    ASSERT_TRUE(OpenImport());
    EXPECT_EQ(Items(false), QStringList{QelText(TextNoDevice)});
    EXPECT_TRUE(Items(true).isEmpty());
    CloseMenus();
    ASSERT_EQ(Controls.WaitForDevices(30000), 1);
    ASSERT_TRUE(OpenImport());
    EXPECT_EQ(Items(true), QStringList{"Slow Device"});
    EXPECT_TRUE(Items(false).isEmpty());
    CloseMenus();
    EXPECT_TRUE(Scripted.Boxes.isEmpty());
}

#endif
