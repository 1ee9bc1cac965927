#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QTemporaryDir>
#include <QToolBar>

#include <deque>

#include "FileDialogAnswer.h"
#include "ScriptedMessageBoxes.h"
#include "GraphicsTestSupport.h"
#include "ImageFileSamples.h"
#include "QelDemoPlayback.h"
#include "QelDemoScript.h"
#include "QelForms.h"
#include "QelGraphicsEditor.h"
#include "QelGraphicsFormats.h"
#include "QelLocalizer.h"
#include "QelMainForm.h"
#include "QelMessageBox.h"

namespace {

// An editor whose work area the test decides.
class TTestGraphicsEditor : public TQelGraphicsEditor {
public:
    QRect Area{0, 0, 1000, 800};

protected:
    QRect WorkArea() const override { return Area; }
};

// Logs what the editor and the document tell it, and paints on request.
class TLogTool : public TQelGraphicsTool {
public:
    TLogTool(QStringList& log, const QString& name) : Log(log), Tag(name) { SetControlClass<TQelGraphicsToolControl>(); }
    void Activate() override {
        TQelGraphicsTool::Activate();
        Log << Tag + " activate";
    }
    void Deactivate() override {
        TQelGraphicsTool::Deactivate();
        Log << Tag + " deactivate";
    }
    void BeforeUndo(TQelCommandState*) override { Log << Tag + " before undo"; }
    void AfterUndo(TQelCommandState*) override { Log << Tag + " after undo"; }
    void ImageChanged(TQelGraphicsDocument*, TQelGraphicsTool*, const TQelRect&) override { Log << Tag + " changed"; }

    // Fills Rect with Value in a new modification; commits when Finish.
    void Paint(TQelGraphicsView* view, const TQelRect& rect, uint8_t value, bool finish) {
        BeginModification(view);
        for (int32_t y = rect.Top; y < rect.Bottom; ++y)
            for (int32_t x = rect.Left; x < rect.Right; ++x)
                for (int c = 0; c < 3; ++c) CurrentPixels->PixelAddress(x, y)[c] = value;
        AddModifiedRect(rect);
        if (finish) FinishModification();
    }

    QStringList& Log;
    QString Tag;
};

QByteArray ReadAll(const QString& name) {
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class TGraphicsEditorTest : public ::testing::Test {
protected:
    void SetUp() override {
        App.SetTitle("Visara");
        App.CreateModule(Editor);
        Editor->Initialize();
        App.CreateModule(First, Log, "first");
        App.CreateModule(Second, Log, "second");
        MainForm->setGeometry(100, 100, 700, 500);
        MainForm->show();
        QApplication::processEvents();
    }
    void TearDown() override {
        App.DestroyComponents();
    }

    QString Path(const QString& name) const { return Folder.filePath(name); }
    QString Picture(const QString& name, int w = 40, int h = 30, const char* format = nullptr) const {
        QImage image(w, h, QImage::Format_RGB888);
        image.fill(QColor(10, 20, 30));
        EXPECT_TRUE(image.save(Path(name), format));
        return Path(name);
    }
    // A host's exchange file with a 6 x 4 pattern image.
    QString Exchange(const QString& name) const {
        TQelGraphicsDocument source(nullptr);
        FillPattern(source.Image, 6, 4, 7);
        EXPECT_TRUE(WriteExchangeFile(Path(name), source));
        return Path(name);
    }
    TQelGraphicsDocument* Open(const QString& fileName) {
        TQelDocument* document = nullptr;
        EXPECT_TRUE(Editor->OpenDocument(fileName, document, true)) << fileName.toStdString();
        return Editor->GetActiveDocument();
    }
    // The pixel (x, y) of an exchange file as B, G, R.
    static QByteArray ExchangePixel(const QString& fileName, int x, int y) {
        TQelGraphicsDocument read(nullptr);
        if (!ReadExchangeFile(fileName, read)) return "unreadable";
        return QByteArray(reinterpret_cast<const char*>(read.GetPixels()->PixelAddress(x, y)), 3);
    }

    QTemporaryDir Folder;
    // Installed before the components exist and removed after they are gone.
    TScriptedMessageBoxes Scripted;
    TQelLocalizer Localizer{QStringLiteral(VISARA_SOURCE_DIR "/data/Languages"), 1033};
    TQelApplication App;
    TTestGraphicsEditor* Editor = nullptr;
    QStringList Log;
    TLogTool* First = nullptr;
    TLogTool* Second = nullptr;
    QList<TScriptedBox>& Boxes = Scripted.Boxes;
    std::deque<int>& Answers = Scripted.Answers;
};

}  // namespace

TEST_F(TGraphicsEditorTest, CommandsPanelsAndJpegQualitySetting) {
    EXPECT_EQ(Editor->ActualSizeMenuItem->text(), "Actual Size");  // localised after creation

    // Fourteen panels, widths in whole font heights, three of them framed.
    TQelStatusPanels& panels = MainForm->StatusPanels();
    ASSERT_EQ(panels.Count(), 14);
    const double widths[14] = {2, 4, 1.5, 5, 2, 4, 1.5, 5, 1.5, 4, 1.5, 4, 1.5, 5};
    const int f = panels.Size(1) / 4;
    EXPECT_GE(f, 8);
    for (int i = 0; i < 14; ++i) {
        EXPECT_EQ(panels.Size(i), QelRoundEven(widths[i] * f)) << i;
        EXPECT_EQ(panels.Panel(i)->frameShape() == QFrame::Panel, i == 3 || i == 7 || i == 13) << i;
    }
    EXPECT_EQ(panels.Caption(12), "B:");
    EXPECT_EQ(Editor->BStatusPanel, 13);

    App.DoIdle();
    for (QAction* item : {Editor->ZoomInMenuItem, Editor->ScaleToBestFitButton, Editor->PrevImageButton,
                          Editor->NextImageButton})
        EXPECT_FALSE(item->isEnabled()) << item->objectName().toStdString();

    // The quality survives a restart; a damaged value comes into range.
    Editor->Formats->JpegQuality = 65;
    TQelMemoryOutputStream stream;
    {
        TQelSDFWriter writer(&stream, false);
        Editor->SaveSettings(writer);
    }
    TQelSDFReader reader(stream.Bytes());
    Editor->Formats->JpegQuality = 80;
    Editor->LoadSettings(reader);
    EXPECT_EQ(Editor->Formats->JpegQuality, 65);
    TQelMemoryOutputStream damaged;
    {
        TQelSDFWriter writer(&damaged, false);
        writer.BeginNode(1, TQelGuid::Parse("{E1195915-FFAE-4A56-B331-F4567336FF25}"));
        writer.WriteInteger(1, 5000);
        writer.EndNode();
    }
    TQelSDFReader damagedReader(damaged.Bytes());
    Editor->LoadSettings(damagedReader);
    EXPECT_EQ(Editor->Formats->JpegQuality, 100);
}

TEST_F(TGraphicsEditorTest, OpenShowsToolsFitsAndWalksTheFolder) {
    QDir().mkpath(Path("photos"));
    Picture("photos/a.jpg", 2000, 1500, "JPEG");
    const QString b = Picture("photos/b.png");
    QFile::copy(b, Path("photos/c.txt"));
    Picture("photos/d.JPEG", 20, 10, "JPEG");

    Editor->SetActiveTool(First);
    ASSERT_NE(Open(b), nullptr);
    TQelGraphicsView* view = Editor->GetActiveView();
    // Every tool has its control on the new view, in component order on top;
    // the active tool took its new control into use.
    ASSERT_EQ(First->GetControlCount(), 1);
    EXPECT_EQ(view->Objects.GetObject(view->Objects.Count() - 1), Second->GetControl(0));
    EXPECT_TRUE(First->GetControl(0)->Active);
    EXPECT_FALSE(Second->GetControl(0)->Active);
    EXPECT_TRUE(view->DocumentObject->GetVisible());
    EXPECT_EQ(view->CompareScale(1, 1), 0);

    EXPECT_EQ(Editor->FolderFiles, QStringList({Path("photos/a.jpg"), b, Path("photos/d.JPEG")}));
    App.DoIdle();
    EXPECT_TRUE(Editor->PrevImageButton->isEnabled() && Editor->NextImageButton->isEnabled());
    EXPECT_TRUE(Editor->ZoomInButton->isEnabled());

    Editor->NextImageClick(nullptr);
    EXPECT_EQ(Editor->GetActiveDocument()->FileName, Path("photos/d.JPEG"));
    App.DoIdle();
    EXPECT_FALSE(Editor->NextImageButton->isEnabled());
    Editor->PrevImageClick(nullptr);
    Editor->PrevImageClick(nullptr);
    ASSERT_EQ(Editor->GetActiveDocument()->FileName, Path("photos/a.jpg"));
    // Larger than the view: fitted into it.
    EXPECT_GE(Editor->GetActiveView()->CompareScale(Editor->GetActiveView()->width(), 2000), 0);

    // A dropped file outside the list: previous is off, next starts at the
    // first file.
    QFile::copy(b, Path("photos/scan"));
    MainForm->OnDropFile(Path("photos/scan"));
    EXPECT_EQ(Editor->FolderIndex, -1);
    App.DoIdle();
    EXPECT_FALSE(Editor->PrevImageButton->isEnabled());
    Editor->NextImageClick(nullptr);
    EXPECT_EQ(Editor->GetActiveDocument()->FileName, Path("photos/a.jpg"));
    EXPECT_TRUE(Boxes.isEmpty());
}

TEST_F(TGraphicsEditorTest, ACancelledSaveQuestionKeepsThePlaceInTheFolder) {
    QDir().mkpath(Path("photos"));
    for (const char* name : {"photos/a.png", "photos/b.png", "photos/c.png", "photos/d.png"}) Picture(name);
    QFile broken(Path("photos/c.png"));
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly | QIODevice::Truncate));
    broken.write("no picture");
    broken.close();

    // A relative name (a drop, the command line) still finds the folder.
    const QString started = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(Path("photos")));
    MainForm->OnDropFile("a.png");
    QDir::setCurrent(started);
    TQelGraphicsDocument* document = Editor->GetActiveDocument();
    ASSERT_NE(document, nullptr);
    EXPECT_EQ(document->FileName, Path("photos/a.png"));
    EXPECT_EQ(Editor->FolderIndex, 0);
    EXPECT_EQ(Editor->FolderFiles.size(), 4);

    Editor->NextImageClick(nullptr);
    document = Editor->GetActiveDocument();
    ASSERT_EQ(document->FileName, Path("photos/b.png"));
    First->Paint(Editor->GetActiveView(), TQelRect(0, 0, 4, 4), 200, true);
    Answers = {IDCANCEL};
    Editor->NextImageClick(nullptr);
    ASSERT_EQ(Boxes.size(), 1);
    EXPECT_EQ(Editor->GetActiveDocument(), document);
    EXPECT_EQ(Editor->FolderIndex, 1);

    // Next is still the next picture; one that fails to open keeps its
    // place, so the one after it comes next.
    // A turn shows the picture's size in the status bar.
    document->RotateRight();
    EXPECT_EQ(MainForm->StatusPanels().Caption(Editor->WStatusPanel), "30");
    Answers = {IDNO, IDOK};
    Editor->NextImageClick(nullptr);
    ASSERT_EQ(Boxes.size(), 3);
    EXPECT_EQ(Boxes[2].Text,
              "Could not open " + Path("photos/c.png") + ".\nThe file holds no image that can be read.");
    EXPECT_EQ(Editor->FolderIndex, 2);
    // The failed open closed the picture: nothing in the status bar speaks
    // of it any more.
    EXPECT_EQ(Editor->GetActiveDocument(), nullptr);
    EXPECT_EQ(MainForm->StatusPanels().Caption(Editor->WStatusPanel), QString());
    EXPECT_EQ(MainForm->StatusPanels().Caption(Editor->HStatusPanel), QString());
    Editor->NextImageClick(nullptr);
    ASSERT_NE(Editor->GetActiveDocument(), nullptr);
    EXPECT_EQ(Editor->GetActiveDocument()->FileName, Path("photos/d.png"));
}

TEST_F(TGraphicsEditorTest, ASaveAsThatCannotWriteSaysWhy) {
    TQelGraphicsDocument* document = Open(Picture("p.png"));
    ASSERT_NE(document, nullptr);
    First->Paint(Editor->GetActiveView(), TQelRect(0, 0, 4, 4), 200, true);
    // A folder that is gone (taken away while the dialog was open): no
    // one can write there, not even the superuser.
    const QString target = Path("gone/p.png");
    TDialogAnswer answer([&](TQelOpenDialog& dialog) { SaveAs(dialog, target, 2); });
    Answers = {IDOK};
    EXPECT_FALSE(Editor->ExecuteSaveAsDialog(document));
    ASSERT_EQ(Boxes.size(), 1);
    EXPECT_TRUE(Boxes[0].Text.startsWith("Could not save " + target + ".\n")) << Boxes[0].Text.toStdString();
    EXPECT_GT(Boxes[0].Text.size(), QString("Could not save " + target + ".\n").size());
    EXPECT_EQ(Boxes[0].Flags, MB_ICONERROR);
    EXPECT_EQ(document->FileName, Path("p.png"));
    EXPECT_FALSE(document->Clean());
}

TEST_F(TGraphicsEditorTest, AMultiPageTiffSaysWhatOpensAndWhatASaveWrites) {
    samples::TTiffPage page{6, 4, 3, 8, std::vector<uint16_t>(6 * 4 * 3, 77)};
    ASSERT_TRUE(samples::WriteTiff(Path("three.tif"), {page, page, page}));
    Answers = {IDOK};
    TQelGraphicsDocument* document = Open(Path("three.tif"));
    ASSERT_NE(document, nullptr);
    ASSERT_EQ(Boxes.size(), 1);
    EXPECT_EQ(Boxes[0].Text, QelText(1050).replace("%s", "3"));
    EXPECT_EQ(Boxes[0].Flags, MB_ICONINFORMATION);
    EXPECT_EQ(Editor->GetActiveDocument(), document);
    // As it said: the saved file is the first page alone.
    ASSERT_TRUE(document->SaveAs(Path("three.tif"), 1));
    TQelImageDecoder saved;
    ASSERT_TRUE(saved.Open(Path("three.tif")));
    EXPECT_EQ(saved.PageCount(), 1);
    EXPECT_EQ(saved.Width(), 6);

    // A one-page file opens without a word.
    Open(Path("three.tif"));
    EXPECT_EQ(Boxes.size(), 1);
}

TEST_F(TGraphicsEditorTest, UndoAndRedoStepAroundTheActiveTool) {
    TQelGraphicsDocument* document = Open(Picture("p.png"));
    ASSERT_NE(document, nullptr);
    TQelGraphicsView* view = Editor->GetActiveView();
    Editor->SetActiveTool(First);
    First->Paint(view, TQelRect(0, 0, 4, 4), 200, false);
    EXPECT_FALSE(Editor->CanUndo());  // not while a change runs
    First->FinishModification();

    Log.clear();
    Editor->UndoClick(nullptr);
    EXPECT_EQ(Log, QStringList({"first deactivate", "first before undo", "second before undo", "first changed",
                                "second changed", "first after undo", "second after undo", "first activate"}));
    EXPECT_EQ(document->GetPixels()->PixelAddress(1, 1)[0], 30);
    Editor->RedoClick(nullptr);
    EXPECT_EQ(document->GetPixels()->PixelAddress(1, 1)[0], 200);
    EXPECT_EQ(Editor->ActiveTool, First);

    Editor->LockActiveTool();
    EXPECT_FALSE(Editor->CanToolModify(Second));
    EXPECT_TRUE(Editor->CanToolModify(First));
    Editor->UnlockActiveTool();
    First->Exclusive = true;
    First->Paint(view, TQelRect(0, 0, 2, 2), 50, false);
    EXPECT_FALSE(Editor->CanToolModify(Second));
    First->FinishModification();
    EXPECT_TRUE(Editor->CanToolModify(Second));
}

TEST_F(TGraphicsEditorTest, PluginOkWritesBackAsShownAndExitsZero) {
    Editor->AddRecentFileName(Path("earlier.jpg"));
    const QString name = Exchange("PSPF1.tmp");
    ASSERT_NE(Open(name), nullptr);
    EXPECT_EQ(App.ExitCode(), -1);
    EXPECT_EQ(MainForm->windowTitle(), "Visara Plug-in");
    EXPECT_FALSE(MainForm->FileMenuItem->menuAction()->isVisible());
    EXPECT_FALSE(Editor->OpenToolButton->isVisible());
    EXPECT_FALSE(Editor->NextImageButton->isVisible());
    EXPECT_EQ(Editor->StandardToolbar->actions().mid(Editor->StandardToolbar->actions().size() - 2),
              QList<QAction*>({Editor->OkButton, Editor->CancelButton}));
    EXPECT_EQ(Editor->CancelButton->text(), "Cancel");
    EXPECT_EQ(Editor->RecentFiles, QStringList({Path("earlier.jpg")}));

    // Unmodified: written back all the same (the cut file would show if not).
    QFile::resize(name, 36);
    Editor->PluginOkClick(nullptr);
    EXPECT_EQ(App.ExitCode(), 0);
    EXPECT_EQ(Editor->GetDocumentCount(), 0);
    EXPECT_FALSE(MainForm->isVisible());
    EXPECT_EQ(ExchangePixel(name, 5, 3), QByteArray("\x05\x03\x07", 3));

    // A change still running is written as shown.
    App.SetExitCode(-1);
    MainForm->show();
    ASSERT_NE(Open(name), nullptr);
    First->Paint(Editor->GetActiveView(), TQelRect(0, 0, 2, 2), 99, false);
    Editor->PluginOkClick(nullptr);
    EXPECT_EQ(App.ExitCode(), 0);
    EXPECT_EQ(ExchangePixel(name, 1, 1), QByteArray("ccc"));
    EXPECT_EQ(ExchangePixel(name, 2, 2), QByteArray("\x02\x02\x07", 3));
    EXPECT_TRUE(Boxes.isEmpty());
}

TEST_F(TGraphicsEditorTest, FailedWriteBackKeepsTheWindowOpenAndTheChangeRunning) {
    const QString name = Exchange("PSPF2.tmp");
    TQelGraphicsDocument* document = Open(name);
    ASSERT_NE(document, nullptr);
    First->Paint(Editor->GetActiveView(), TQelRect(0, 0, 2, 2), 99, false);
    // A folder in the file's place cannot be written.
    ASSERT_TRUE(QFile::remove(name));
    ASSERT_TRUE(QDir().mkdir(name));

    Answers = {IDOK};
    Editor->PluginOkClick(nullptr);
    ASSERT_EQ(Boxes.size(), 1);
    EXPECT_TRUE(Boxes[0].Flags & MB_ICONERROR);
    EXPECT_EQ(App.ExitCode(), -1);
    EXPECT_TRUE(MainForm->isVisible());
    ASSERT_EQ(Editor->GetDocumentCount(), 1);
    // The change still runs, so it ends in the history with the backup in step.
    EXPECT_TRUE(document->Modifying);
    First->FinishModification();
    EXPECT_EQ(document->History.Count(), 1);
    EXPECT_EQ(document->Backup.PixelAddress(1, 1)[0], 99);

    // Yes to the close question fails the same way.
    Answers = {IDYES, IDOK};
    MainForm->close();
    EXPECT_EQ(Boxes.size(), 3);
    EXPECT_EQ(Editor->GetDocumentCount(), 1);
    EXPECT_EQ(App.ExitCode(), -1);
    Editor->PluginCancelClick(nullptr);
    EXPECT_EQ(Editor->GetDocumentCount(), 0);
    EXPECT_EQ(App.ExitCode(), -1);
}

TEST_F(TGraphicsEditorTest, PluginCancelAndTheCloseQuestion) {
    const QString name = Exchange("PSPF3.tmp");
    const QByteArray before = ReadAll(name);
    auto change = [&] {
        MainForm->show();
        ASSERT_NE(Open(name), nullptr);
        First->Paint(Editor->GetActiveView(), TQelRect(0, 0, 2, 2), 99, true);
    };
    // Cancel with a committed and a running change: no question, nothing written.
    change();
    First->Paint(Editor->GetActiveView(), TQelRect(2, 2, 3, 3), 98, false);
    Editor->PluginCancelClick(nullptr);
    EXPECT_TRUE(Boxes.isEmpty());
    EXPECT_EQ(Editor->GetDocumentCount(), 0);
    EXPECT_EQ(App.ExitCode(), -1);
    EXPECT_EQ(ReadAll(name), before);

    change();
    Answers = {IDNO};
    MainForm->close();
    EXPECT_EQ(Editor->GetDocumentCount(), 0);
    EXPECT_EQ(App.ExitCode(), -1);
    EXPECT_EQ(ReadAll(name), before);

    change();
    Answers = {IDYES};
    MainForm->close();
    EXPECT_EQ(Editor->GetDocumentCount(), 0);
    EXPECT_EQ(App.ExitCode(), 0);
    EXPECT_EQ(ExchangePixel(name, 0, 0), QByteArray("ccc"));
}

TEST_F(TGraphicsEditorTest, TutorialCommandsAndRecording) {
    QDir().mkpath(Path("Images"));
    Picture("Images/face.png");
    Editor->ImagesFolder = Path("Images/");
    TQelDemoPlayback player;
    QList<QByteArray> errors;
    player.OnError = [&](TQelDemoPlayback*, const QByteArray& message, const QByteArray&, bool& stop) {
        errors << message;
        stop = false;
    };
    QList<QByteArray> lines;
    player.OnRecordLine = [&](TQelDemoPlayback*, int, const QByteArray& line) { lines << line; };
    ASSERT_TRUE(player.StartRecording(0));
    Editor->StartRecording(&player);
    player.ShowMessages = false;

    TQelDemoScriptParams params;
    bool handled = false;
    params.ParseText("\"face.png\"");
    Editor->ExecuteCommand(&player, "IMAGEOPEN", params, nullptr, handled);
    TQelGraphicsDocument* document = Editor->GetActiveDocument();
    ASSERT_NE(document, nullptr);
    EXPECT_EQ(document->FileName, Path("Images/face.png"));
    EXPECT_TRUE(document->TutorialDocument);
    TQelGraphicsView* view = Editor->GetActiveView();
    EXPECT_EQ(lines, QList<QByteArray>({"MouseCurvedMove Open", "ImageOpen \"face.png\", " +
                                                                    QByteArray::number(view->width()) + ", " +
                                                                    QByteArray::number(view->height())}));

    lines.clear();
    player.ShowMessages = true;
    Editor->ExecuteCommand(&player, "ZOOMIN", params, nullptr, handled);
    EXPECT_EQ(lines, QList<QByteArray>({"MouseCurvedMove ZoomIn", "Message \"Zoom In\"", "ZoomIn"}));
    EXPECT_EQ(view->CompareScale(3, 2), 0);

    // A changed tutorial image goes without a question; a missing one is
    // reported to the player.
    First->Paint(view, TQelRect(0, 0, 2, 2), 99, true);
    params.ParseText("\"missing.png\"");
    Answers = {IDOK};
    Editor->ExecuteCommand(&player, "IMAGEOPEN", params, nullptr, handled);
    EXPECT_TRUE(handled);
    EXPECT_EQ(errors, QList<QByteArray>({"Cannot open the file."}));
    EXPECT_EQ(Boxes.size(), 1);  // the open failure only
    Editor->StopRecording(&player);
    player.StopRecording();
}

TEST_F(TGraphicsEditorTest, WindowGrowsForTheViewInsideTheWorkArea) {
    ASSERT_NE(Open(Picture("p.png")), nullptr);
    TQelGraphicsView* view = Editor->GetActiveView();
    QApplication::processEvents();
    MainForm->layout()->activate();
    const QRect start = MainForm->frameGeometry();
    Editor->GrowMainWindow(view->width() + 50, view->height() - 10);
    EXPECT_EQ(MainForm->frameGeometry(), QRect(start.topLeft(), start.size() + QSize(50, 0)));

    // Past the right edge: centred; wider than the area: the area's width.
    MainForm->setGeometry(900, 100, 700, 500);
    Editor->GrowMainWindow(0, 0);
    EXPECT_EQ(MainForm->frameGeometry().x(), (1000 - MainForm->frameGeometry().width()) / 2);
    Editor->GrowMainWindow(view->width() + 2000, 0);
    EXPECT_EQ(MainForm->frameGeometry().x(), 0);
    EXPECT_EQ(MainForm->frameGeometry().width(), 1000);

    // Left of the area: moved to its left edge, also on a second screen.
    Editor->Area = QRect(1000, 0, 1000, 800);
    MainForm->setGeometry(900, 100, 700, 500);
    Editor->GrowMainWindow(0, 0);
    EXPECT_EQ(MainForm->frameGeometry().x(), 1000);
}

TEST_F(TGraphicsEditorTest, TutorialsInPluginModeKeepAndWriteOnlyTheHostImage) {
    const QString name = Exchange("PSPF3.tmp");
    ASSERT_NE(Open(name), nullptr);
    QString kept;
    ASSERT_TRUE(Editor->DemoPluginMode());
    ASSERT_TRUE(Editor->DemoActivePluginDocument(kept));
    EXPECT_EQ(kept, name);
    EXPECT_TRUE(Editor->DemoActiveDocumentClean());
    First->Paint(Editor->GetActiveView(), TQelRect(0, 0, 2, 2), 99, false);
    EXPECT_FALSE(Editor->DemoActiveDocumentClean());  // a running change counts

    // A save that fails is reported and keeps the image open.
    const QByteArray before = ReadAll(name);
    ASSERT_TRUE(QFile::remove(name));
    ASSERT_TRUE(QDir().mkdir(name));
    Answers = {IDOK};
    EXPECT_FALSE(Editor->DemoSaveActiveDocument());
    ASSERT_EQ(Boxes.size(), 1);
    EXPECT_EQ(Editor->GetDocumentCount(), 1);
    ASSERT_TRUE(QDir().rmdir(name));
    {
        QFile file(name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(before);
    }
    EXPECT_TRUE(Editor->DemoSaveActiveDocument());
    EXPECT_EQ(ExchangePixel(name, 1, 1), QByteArray("ccc"));
    EXPECT_TRUE(Editor->DemoCloseActiveDocument());
    EXPECT_FALSE(Editor->DemoHasDocument());

    // A tutorial's sample, changed, is neither the host's image nor written
    // by OK; the exchange file keeps what was saved.
    const QString sample = Picture("sample.png");
    const QByteArray sampleBytes = ReadAll(sample);
    ASSERT_NE(Open(sample), nullptr);
    EXPECT_FALSE(Editor->DemoActivePluginDocument(kept));
    First->Paint(Editor->GetActiveView(), TQelRect(0, 0, 2, 2), 50, true);
    Editor->GetActiveDocument()->TutorialDocument = true;
    Editor->PluginOkClick(nullptr);
    EXPECT_EQ(ReadAll(sample), sampleBytes);
    EXPECT_EQ(ExchangePixel(name, 1, 1), QByteArray("ccc"));
    EXPECT_EQ(App.ExitCode(), 0);

    // The list's reopen brings the host's image back.
    App.SetExitCode(-1);
    MainForm->show();
    EXPECT_TRUE(Editor->DemoOpenDocument(name));
    EXPECT_TRUE(Editor->DemoActivePluginDocument(kept));
}
