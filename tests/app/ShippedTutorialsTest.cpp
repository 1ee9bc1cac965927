// The program's own tutorials, as they ship in the Images folder: their
// structure, titles, thumbnails and message texts, and a run of each through
// the whole program (offscreen, with a fast clock), which fails on any
// command or element name the program does not know.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QRegularExpression>

#include <cstdlib>
#include <memory>

#include "Model.h"
#include "QelDemoHooks.h"
#include "QelDemoPlayback.h"
#include "QelDemoScript.h"
#include "QelDemonstration.h"
#include "QelForms.h"
#include "QelGraphicsEditor.h"
#include "QelLocalizer.h"
#include "QelMessageBox.h"
#include "QelOriginalImageTool.h"

namespace {

const QString ImagesFolder = QStringLiteral(VISARA_SOURCE_DIR "/data/Images/");

QStringList ShippedScripts() {
    return QDir(ImagesFolder).entryList({QStringLiteral("*.dsc")}, QDir::Files, QDir::Name);
}

// The mean difference per channel between the image and the original in R.
double ChangeIn(const TQelGraphicsDocument& Document, const TQelRect& R) {
    const TQelPixels* image = Document.GetPixels();
    const TQelPixels* original = Document.GetOriginalPixels();
    double sum = 0;
    int count = 0;
    for (int32_t y = R.Top; y < R.Bottom; ++y)
        for (int32_t x = R.Left; x < R.Right; ++x)
            for (int c = 0; c < 3; ++c, ++count)
                sum += std::abs(int(image->PixelAddress(x, y)[c]) - int(original->PixelAddress(x, y)[c]));
    return count ? sum / count : 0;
}

// Where each tutorial leaves its mark on the sample; a run whose strokes or
// commands did nothing fails here.
struct TOutcome {
    const char* Script;
    TQelRect Changed;
};
const TOutcome Outcomes[] = {
    {"01-Lipstick.dsc", TQelRect(214, 151, 234, 153)},
    {"02-TeethBleach.dsc", TQelRect(212, 144, 234, 148)},
    {"03-HandInpainting.dsc", TQelRect(250, 114, 259, 123)},
    {"05-BrightnessContrast.dsc", TQelRect(100, 100, 110, 110)},
    {"06-CompareOriginal.dsc", TQelRect(100, 100, 110, 110)},
};

QByteArray FirstCommand(const QByteArrayList& lines, QByteArray& arguments) {
    for (const QByteArray& line : lines) {
        QByteArray command;
        if (QelSplitScriptLine(line, command, arguments)) return command;
    }
    return QByteArray();
}

// The program as main() builds it, with its data folder for program folder.
class ShippedTutorialsTest : public ::testing::Test {
protected:
    void SetUp() override {
        qputenv("VISARA_PROGRAM_DIR", VISARA_SOURCE_DIR "/data");
        Previous = QelSetMessageBoxHook([this](const QString& text, const QString& caption, uint32_t flags) {
            Boxes << caption + ": " + text;
            if ((flags & MB_ICONMASK) == MB_ICONERROR) Errors << text;
            return (flags & MB_TYPEMASK) == MB_YESNO ? IDYES : IDOK;
        });
    }
    void TearDown() override {
        QelSetMessageBoxHook(Previous);
        qunsetenv("VISARA_PROGRAM_DIR");
    }

    TQelMessageBoxHook Previous;
    QStringList Boxes;
    QStringList Errors;
};

}  // namespace

TEST_F(ShippedTutorialsTest, EveryScriptIsCompleteAndItsTextsExist) {
    TQelLocalizer localizer(QStringLiteral(VISARA_SOURCE_DIR "/data/Languages"), 1033);
    const QStringList scripts = ShippedScripts();
    ASSERT_EQ(scripts.size(), 6);
    const QRegularExpression orderBearing(QStringLiteral("^\\d\\d-[A-Za-z]+\\.dsc$"));
    for (const QString& name : scripts) {
        SCOPED_TRACE(name.toStdString());
        EXPECT_TRUE(orderBearing.match(name).hasMatch());
        TQelDemoScript script;
        ASSERT_NO_THROW(script.LoadFromFile(ImagesFolder + name));

        EXPECT_FALSE(script.ReadInfoValue("Title").isEmpty());
        int english = -1;
        ASSERT_TRUE(script.FindSection("1033", english));

        // The thumbnail is a picture of the folder.
        const QString image = QString::fromLatin1(script.ReadInfoValue("Image"));
        ASSERT_FALSE(image.isEmpty());
        QImageReader reader(ImagesFolder + image);
        EXPECT_FALSE(reader.read().isNull()) << image.toStdString();

        // It opens the sample portrait first.
        QByteArray arguments;
        EXPECT_EQ(FirstCommand(*script.ScriptLines(), arguments), "IMAGEOPEN");
        TQelDemoScriptParams params;
        params.ParseText(arguments);
        EXPECT_TRUE(QFileInfo(ImagesFolder + QString::fromStdString(params.AsText(0))).isFile());

        // Every text a message refers to is there, in English and German.
        int german = -1;
        EXPECT_TRUE(script.FindSection("1031", german));
        for (const uint16_t language : {uint16_t(1033), uint16_t(1031)}) {
            localizer.SetLanguage(language);
            EXPECT_FALSE(script.ReadLocalizedString("Title").isEmpty()) << language;
            for (const QByteArray& line : *script.ScriptLines()) {
                QByteArray command;
                if (!QelSplitScriptLine(line, command, arguments) || command != "MESSAGE") continue;
                params.ParseText(arguments);
                const std::string text = params.AsText(0);
                ASSERT_GE(text.size(), 2u) << line.toStdString();
                ASSERT_EQ(text[0], '%') << line.toStdString();
                EXPECT_FALSE(script.ReadLocalizedString(QByteArray::fromStdString(text.substr(1))).isEmpty())
                    << language << ": " << line.toStdString();
            }
        }
        localizer.SetLanguage(1033);
    }
}

TEST_F(ShippedTutorialsTest, EveryScriptRunsThroughTheProgramWithoutAnError) {
    TQelLocalizer localizer(QStringLiteral(VISARA_SOURCE_DIR "/data/Languages"), 1033);
    TQelApplication app;
    app.SetTitle(QStringLiteral("Visara"));
    TQelDemoHooks hooks;
    Module = app.CreateComponent<TModule>();
    ASSERT_NE(DemoModule, nullptr);
    ASSERT_EQ(DemoModule->DemoFolder, ImagesFolder);
    // No list at start: the tutorials are started here one by one.
    DemoModule->ShowAtStartup = false;
    app.ForEachComponent<IQelModuleState>([](IQelModuleState* state) { state->Initialize(); });
    MainForm->show();
    QCoreApplication::processEvents();

    TQelDemoPlayback* playback = DemoModule->Playback();
    int64_t now = 1000;
    playback->SetClock([&now] { return now; });
    playback->SetAutoTick(false);
    for (const QString& name : ShippedScripts()) {
        SCOPED_TRACE(name.toStdString());
        Boxes.clear();
        Errors.clear();
        // The last tutorial's changed sample is asked about and closed.
        const TQelGraphicsDocument* previous = GraphicsEditor->GetActiveDocument();
        const bool modified = previous && !previous->Clean();
        ASSERT_TRUE(DemoModule->PlayDemo(QFileInfo(name).completeBaseName()));
        EXPECT_EQ(GraphicsEditor->GetActiveDocument(), nullptr);
        EXPECT_EQ(Boxes.size(), modified ? 1 : 0);
        if (modified) {
            EXPECT_EQ(Boxes[0].toStdString(), (QelText(37) + ": " + QelText(173)).toStdString());
        }
        EXPECT_EQ(app.GetTitle(), "Visara - " + playback->Script().GetTitle());
        // Ticks at a fast clock; the events between them deliver the input.
        int ticks = 0;
        bool originalShown = false;
        while (playback->Tick() && ticks < 200000) {
            now += 20;
            ++ticks;
            QCoreApplication::processEvents();
            originalShown |= dynamic_cast<TQelOriginalImageTool*>(GraphicsEditor->ActiveTool.data()) != nullptr;
        }
        EXPECT_FALSE(playback->IsPlaying());
        EXPECT_TRUE(Errors.isEmpty()) << Errors.join(u'\n').toStdString();
        ASSERT_FALSE(Boxes.isEmpty());
        EXPECT_EQ(Boxes.last().toStdString(), (QelText(37) + ": " + QelText(725)).toStdString());
        EXPECT_EQ(app.GetTitle().toStdString(), "Visara");
        const TQelGraphicsDocument* document = GraphicsEditor->GetActiveDocument();
        ASSERT_NE(document, nullptr);
        // Held only while the button is: the corrected picture is back.
        EXPECT_EQ(originalShown, name == "06-CompareOriginal.dsc");
        EXPECT_EQ(dynamic_cast<TQelOriginalImageTool*>(GraphicsEditor->ActiveTool.data()), nullptr);
        if (name == "04-Crop.dsc") {
            EXPECT_EQ(document->Image.GetWidth(), 288);
            EXPECT_EQ(document->Image.GetHeight(), 396);
        }
        for (const TOutcome& outcome : Outcomes)
            if (name == QLatin1String(outcome.Script)) {
                EXPECT_GT(ChangeIn(*document, outcome.Changed), 0.5);
            }
    }
    app.DestroyComponents();
}
