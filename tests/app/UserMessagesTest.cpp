// The whole program with the shipped language files and German chosen.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <new>

#include "Model.h"
#include "QelDemoHooks.h"
#include "QelDemoPlayback.h"
#include "QelDemonstration.h"
#include "QelError.h"
#include "QelForms.h"
#include "QelLocalizer.h"
#include "QelMessageBox.h"

namespace {

class UserMessagesTest : public ::testing::Test {
protected:
    void SetUp() override {
        qputenv("VISARA_PROGRAM_DIR", VISARA_SOURCE_DIR "/data");
        Previous = QelSetMessageBoxHook([this](const QString& text, const QString& caption, uint32_t flags) {
            if ((flags & MB_ICONMASK) == MB_ICONERROR) {
                Errors << text;
                Captions << caption;
            }
            return (flags & MB_TYPEMASK) == MB_YESNO ? IDYES : IDOK;
        });
        App.SetTitle(QStringLiteral("Visara"));
        Module = App.CreateComponent<TModule>();
        DemoModule->ShowAtStartup = false;
        App.ForEachComponent<IQelModuleState>([](IQelModuleState* state) { state->Initialize(); });
        Localizer.SetLanguage(1031);
    }
    void TearDown() override {
        App.DestroyComponents();
        QelSetMessageBoxHook(Previous);
        qunsetenv("VISARA_PROGRAM_DIR");
    }

    // The one error shown when Throw runs in idle time.
    QString ShownFor(const std::function<void()>& Throw) {
        Errors.clear();
        const TQelMethod handler(this, 1, Throw);
        App.AddIdleHandler(handler);
        App.DoIdle();
        App.RemoveIdleHandler(handler);
        return Errors.size() == 1 ? Errors[0] : QStringLiteral("%1 boxes").arg(Errors.size());
    }

    // Plays the script Lines from a tutorial file of its own; the error boxes.
    QStringList Play(const QByteArray& Lines) {
        QFile file(Folder.filePath(QStringLiteral("Broken.dsc")));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("[Info]\r\nTitle=Broken\r\n[Script]\r\n" + Lines + "\r\n");
        file.close();
        Errors.clear();
        Captions.clear();
        TQelDemoPlayback* playback = DemoModule->Playback();
        int64_t now = 1000;
        playback->SetClock([&now] { return now; });
        playback->SetAutoTick(false);
        EXPECT_TRUE(DemoModule->PlayDemo(QStringLiteral("Broken")));
        for (int ticks = 0; playback->Tick() && ticks < 1000; ++ticks) now += 20;
        EXPECT_FALSE(playback->IsPlaying());
        EXPECT_EQ(Captions.value(Captions.size() - 1), QStringLiteral("Lernprogramme"));
        return Errors;
    }

    TQelLocalizer Localizer{QStringLiteral(VISARA_SOURCE_DIR "/data/Languages"), 1033};
    TQelApplication App;
    TQelDemoHooks Hooks;
    TQelMessageBoxHook Previous;
    QStringList Errors;
    QStringList Captions;
    QTemporaryDir Folder;
};

}  // namespace

TEST_F(UserMessagesTest, AnErrorThatReachesTheEventLoopIsToldInTheUsersLanguage) {
    // The sentence, and the English detail for support.
    EXPECT_EQ(ShownFor([] { throw EQelOutOfMemory("Not enough memory for a mask of 9 x 9 pixels"); }),
              "Der Arbeitsspeicher reicht für diesen Schritt nicht aus.\n"
              "Not enough memory for a mask of 9 x 9 pixels");
    EXPECT_EQ(ShownFor([] { throw std::bad_alloc(); }), "Der Arbeitsspeicher reicht für diesen Schritt nicht aus.");
    EXPECT_EQ(ShownFor([] { throw EQelProgramError("No command to add to the history"); }),
              "Ein interner Fehler hat diesen Schritt abgebrochen.\nNo command to add to the history");
    EXPECT_EQ(ShownFor([] { throw std::out_of_range("vector::_M_range_check"); }),
              "Ein interner Fehler hat diesen Schritt abgebrochen.\nvector::_M_range_check");
    // Already meant for the user.
    EXPECT_EQ(ShownFor([] { throw EQelError("Schon übersetzt."); }), "Schon übersetzt.");
}

TEST_F(UserMessagesTest, ATutorialThatCannotGoOnSaysWhyInTheUsersLanguage) {
    DemoModule->DemoFolder = Folder.path() + u'/';
    EXPECT_EQ(Play("Frobnicate 1"), QStringList{"Unbekannter Befehl: „FROBNICATE“\nFrobnicate 1"});
    EXPECT_EQ(Play("MouseSpeed 4-4"), QStringList{"\"4-4\" ist keine gültige ganze Zahl.\nMouseSpeed 4-4"});
    EXPECT_EQ(Play("Pause 0.5.5"), QStringList{"\"0.5.5\" ist keine gültige Gleitkommazahl.\nPause 0.5.5"});
    EXPECT_EQ(Play("MouseCurvedMove NoSuchElement"),
              QStringList{"Ungültige Argumente.\nMouseCurvedMove NoSuchElement"});
    // The editor says which file and why; the tutorial, that it cannot go on.
    const QStringList missing = Play("ImageOpen \"missing.jpg\"");
    ASSERT_EQ(missing.size(), 2);
    EXPECT_TRUE(missing[0].section(u'\n', 0, 0).endsWith("missing.jpg konnte nicht geöffnet werden."))
        << missing[0].toStdString();
    EXPECT_TRUE(missing[0].section(u'\n', 1).contains("does not exist")) << missing[0].toStdString();
    EXPECT_EQ(missing[1], "Die Datei kann nicht geöffnet werden.\nImageOpen \"missing.jpg\"");

    QFile huge(Folder.filePath(QStringLiteral("Huge.dsc")));
    ASSERT_TRUE(huge.open(QIODevice::WriteOnly));
    ASSERT_TRUE(huge.resize(16 * 1024 * 1024 + 1));
    huge.close();
    EXPECT_EQ(ShownFor([] { DemoModule->PlayDemo(QStringLiteral("Huge")); }),
              "Das Lernprogramm " + huge.fileName() +
                  " konnte nicht geöffnet werden.\nIt is too large for a tutorial script.");
}
