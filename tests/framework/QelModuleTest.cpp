#include <gtest/gtest.h>

#include <QDialog>
#include <QFile>
#include <QTemporaryDir>

#include <string>
#include <vector>

#include "QelForms.h"
#include "QelLocalizer.h"
#include "QelModule.h"

namespace {

using Log = std::vector<std::string>;

class TPlainModule : public TQelModule {
public:
    TPlainModule(Log* log, const char* name) : FLog(log), FName(name) {}
    void Localize() override { FLog->push_back(FName + ".Localize"); }

private:
    Log* FLog;
    std::string FName;
};

class TControlsModule : public TQelModuleWithControls {
public:
    TControlsModule(Log* log, const char* name) : FLog(log), FName(name) {}
    void Localize() override { FLog->push_back(FName + ".Localize"); }
    void UpdateControls() override { FLog->push_back(FName + ".Update"); }

private:
    Log* FLog;
    std::string FName;
};

class TLogDialog : public TQelForm<QDialog> {
public:
    explicit TLogDialog(Log* log) : TQelForm<QDialog>(nullptr), FLog(log) {}
    void Localize() override { FLog->push_back("Dialog.Localize"); }
    void UpdateControls() override { FLog->push_back("Dialog.Update"); }

private:
    Log* FLog;
};

class TLogFrame : public TQelFrame {
public:
    explicit TLogFrame(Log* log) : TQelFrame(nullptr), FLog(log) {}
    void Localize() override { FLog->push_back("Frame.Localize"); }

private:
    Log* FLog;
};

class TQelModuleTest : public ::testing::Test {
protected:
    void SetUp() override {
        QFile german(Folder.path() + "/German.ini");
        ASSERT_TRUE(german.open(QIODevice::WriteOnly));
        german.write("[Language]\nLangId=1031\nLanguage=Deutsch\n[Strings]\n1=Datei\n");
        QFile english(Folder.path() + "/English.ini");
        ASSERT_TRUE(english.open(QIODevice::WriteOnly));
        english.write("[Language]\nLangId=1033\nLanguage=English\n[Strings]\n1=File\n");
    }
    QTemporaryDir Folder;
    std::unique_ptr<TQelLocalizer> Localizer;
    TQelApplication App;
    Log L;

    TQelLocalizer& Loc() {
        if (!Localizer) Localizer = std::make_unique<TQelLocalizer>(Folder.path(), 1033);
        return *Localizer;
    }
};

}  // namespace

TEST_F(TQelModuleTest, InitializeLocalizesAtOnceAndOnlyModulesWithControlsGetIdleCalls) {
    Loc();
    TPlainModule* plain = nullptr;
    TControlsModule* controls = nullptr;
    App.CreateModule(plain, &L, "Plain");
    App.CreateModule(controls, &L, "Controls");
    EXPECT_TRUE(L.empty());
    App.LoadSettings();
    EXPECT_EQ(L, (Log{"Plain.Localize", "Controls.Localize"}));
    L.clear();
    App.DoIdle();
    App.DoIdle();
    EXPECT_EQ(L, (Log{"Controls.Update", "Controls.Update"}));

    // A freed module leaves both lists.
    delete controls;
    L.clear();
    App.DoIdle();
    Loc().SetLanguage(1031);
    EXPECT_EQ(L, (Log{"Plain.Localize"}));
}

TEST_F(TQelModuleTest, LanguageChangeRelocalisesEveryLivingSubscriberOnceInOrder) {
    Loc();
    TControlsModule* module = nullptr;
    App.CreateModule(module, &L, "Module");
    App.LoadSettings();
    TLogDialog* dialog = QelCreateForm<TLogDialog>(&L);
    TLogFrame* frame = QelCreateFrame<TLogFrame>(&L);
    TLogDialog* gone = QelCreateForm<TLogDialog>(&L);
    delete gone;

    L.clear();
    Loc().SetLanguage(1031);
    EXPECT_EQ(L, (Log{"Module.Localize", "Dialog.Localize", "Frame.Localize"}));

    // A destroyed dialog gets neither idle nor language calls.
    delete dialog;
    L.clear();
    App.DoIdle();
    Loc().SetLanguage(1033);
    EXPECT_EQ(L, (Log{"Module.Update", "Module.Localize", "Frame.Localize"}));
    delete frame;
}
