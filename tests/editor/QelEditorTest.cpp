#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolBar>

#include <deque>
#include <functional>
#include <memory>

#include "FileDialogAnswer.h"
#include "ScriptedMessageBoxes.h"
#include "QelDemoPlayback.h"
#include "QelDemoScript.h"
#include "QelDialogs.h"
#include "QelEditor.h"
#include "QelForms.h"
#include "QelLocalizer.h"
#include "QelMainForm.h"
#include "QelMessageBox.h"

namespace {

const TQelGuid EditorGuid = TQelGuid::Parse("{C0F4C248-34D7-4014-8116-24BEE9AB5C30}");

void WriteFile(const QString& name, const QByteArray& bytes) {
    QFile file(name);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray ReadFile(const QString& name) {
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Reads files that start with "IMAGE" (format from the extension; ".gif"
// has no save row) and writes "SAVED <id>".
class TTestFormats : public TQelDocumentFormats {
public:
    TTestFormats() {
        FRows = {{0, "JPEG", "*.jpg;*.jpeg", {}}, {1, "TIFF", "*.tif;*.tiff", {}}, {2, "PNG", "*.png", {}},
                 {3, "BMP", "*.bmp", {}},         {4, "GIF", "*.gif", {}}};
    }
    int32_t Count() const override { return int32_t(FRows.size()); }
    const TQelFileFormatInfo* Items(int32_t i) const override {
        return i >= 0 && i < FRows.size() ? &FRows[i] : nullptr;
    }
    void GetSaveFormats(TQelFileFormatArray& formats) const override { formats = FRows.mid(0, 4); }
    bool Load(TQelDocument&, const QString& name, int32_t& formatId) override {
        ++Loads;
        FLoadFailed = !ReadFile(name).startsWith("IMAGE");
        if (FLoadFailed) return false;
        const QString suffix = QFileInfo(name).suffix().toLower();
        formatId = suffix == "jpg" ? 0 : suffix == "tif" ? 1 : suffix == "png" ? 2 : suffix == "bmp" ? 3 : 4;
        return true;
    }
    bool Save(TQelDocument&, const QString& name, int32_t formatId) override {
        Saved.append({name, formatId});
        if (!SaveAnswer) return false;
        WriteFile(name, "SAVED " + QByteArray::number(formatId));
        return true;
    }
    bool CanSave(int32_t) override { return true; }
    QString LastError() const override { return FLoadFailed ? LoadReason : SaveAnswer ? QString() : Reason; }

    TQelFileFormatArray FRows;
    int Loads = 0;
    QList<QPair<QString, int32_t>> Saved;
    bool SaveAnswer = true;
    // Why a refused save failed; empty stands for the user's cancel.
    QString Reason;
    // Why a file that is no "IMAGE" cannot be opened; empty: no reason known.
    QString LoadReason;
    bool FLoadFailed = false;
};

// Behaves like the image view: it listens to its document and leaves the
// listener list when it goes.
class TTestView : public TQelViewControl, public IQelDocumentListener {
public:
    explicit TTestView(TQelDocument* document) : Document(document) { Document->AddListener(this); }
    ~TTestView() override { Document->RemoveListener(this); }
    void DocumentLoaded(TQelDocument*) override {}
    void DocumentClosed(TQelDocument*) override {}
    TQelDocument* Document;
};

class TTestDocument : public TQelDocument {
public:
    using TQelDocument::TQelDocument;
    void CreateView(TQelViewControl*& view) override { view = new TTestView(this); }
    void AfterOpen() override { ActiveWhenOpened = Editor() && Editor()->GetActiveDocument() == this; }
    bool ModificationRunning() const override { return Running; }
    bool ActiveWhenOpened = false;
    bool Running = false;
};

class TTestEditor : public TQelEditor {
public:
    TQelDocumentFormats* GetFormats() override { return &Formats; }
    std::unique_ptr<TQelDocument> CreateDocument() override { return std::make_unique<TTestDocument>(this); }
    TTestFormats Formats;
};

class TStep : public TQelCommandState {
public:
    explicit TStep(int& value) : FValue(value) {}
    void Undo() override { --FValue; }
    void Redo() override { ++FValue; }

private:
    int& FValue;
};

struct TListener : IQelDocumentListener {
    TListener(QStringList& log, const QString& name) : Log(log), Name(name) {}
    void DocumentLoaded(TQelDocument*) override { Log << Name + " loaded"; }
    void DocumentClosed(TQelDocument*) override { Log << Name + " closed"; }
    QStringList& Log;
    QString Name;
};

class TEditorTest : public ::testing::Test {
protected:
    void SetUp() override {
        App.SetTitle("Visara");
        App.CreateModule(Editor);
        Editor->Initialize();
    }
    void TearDown() override {
        App.DestroyComponents();
    }

    QString Path(const QString& name) const { return Folder.filePath(name); }
    // An image file the test formats can read.
    QString Image(const QString& name) const {
        WriteFile(Path(name), "IMAGE");
        return Path(name);
    }
    TTestDocument* Open(const QString& name) {
        TQelDocument* document = nullptr;
        EXPECT_TRUE(Editor->OpenDocument(Image(name), document, true));
        return static_cast<TTestDocument*>(document);
    }
    void Stroke(TQelDocument* document) { document->AddCommandState(std::make_unique<TStep>(Pixels)); ++Pixels; }
    QStringList RecentItemTexts() const {
        QStringList texts;
        const QList<QAction*> items = MainForm->FileMenuItem->actions();
        for (qsizetype i = items.indexOf(MainForm->FileMenuSeparator) + 1;
             i < items.indexOf(Editor->RecentFilesMenuSeparator); ++i)
            texts << items[i]->text();
        return texts;
    }

    QTemporaryDir Folder;
    // Installed before the components exist and removed after they are gone.
    TScriptedMessageBoxes Scripted;
    TQelLocalizer Localizer{QStringLiteral(VISARA_SOURCE_DIR "/data/Languages"), 1033};
    TQelApplication App;
    TTestEditor* Editor = nullptr;
    std::deque<int>& Answers = Scripted.Answers;
    QList<TScriptedBox>& Boxes = Scripted.Boxes;
    int Pixels = 0;
};

}  // namespace

TEST_F(TEditorTest, ListenersAreToldOnceLastAddedFirst) {
    TTestDocument document(Editor);
    QStringList log;
    TListener l1(log, "L1");
    TListener l2(log, "L2");
    document.RemoveListener(&l1);  // nothing registered yet
    document.AddListener(&l1);
    document.AddListener(&l2);
    document.AddListener(&l1);
    EXPECT_TRUE(document.Load(Image("a.jpg")));
    EXPECT_EQ(log, QStringList({"L2 loaded", "L1 loaded"}));

    // A failed load keeps name, format and state, and tells nobody.
    log.clear();
    Stroke(&document);
    EXPECT_FALSE(document.Load(Path("missing.png")));
    EXPECT_EQ(document.FileName, Path("a.jpg"));
    EXPECT_EQ(document.FormatId, 0);
    EXPECT_FALSE(document.Clean());
    EXPECT_TRUE(log.isEmpty());
}

TEST_F(TEditorTest, UntitledDocumentCannotBeSavedInPlace) {
    TTestDocument document(Editor);
    EXPECT_EQ(document.GetDisplayName(), "Untitled");
    EXPECT_FALSE(document.Save());
    EXPECT_TRUE(Editor->Formats.Saved.isEmpty());

    // Outside an editor nothing can be read, written or asked.
    TTestDocument loose(nullptr);
    EXPECT_FALSE(loose.Load(Image("a.png")));
    EXPECT_FALSE(loose.SaveAs(Path("b.png"), 2));
    Stroke(&loose);
    EXPECT_FALSE(loose.CloseQuery());
}

TEST_F(TEditorTest, SaveAsStoresNameFormatAndCaption) {
    TTestDocument* document = Open("a.jpg");
    ASSERT_NE(document, nullptr);
    EXPECT_EQ(MainForm->windowTitle(), "a.jpg - Visara");
    Stroke(document);
    EXPECT_TRUE(document->SaveAs(Path("x.png"), 2));
    EXPECT_EQ(document->FileName, Path("x.png"));
    EXPECT_EQ(document->FormatId, 2);
    EXPECT_TRUE(document->Clean());
    EXPECT_EQ(MainForm->windowTitle(), "x.png - Visara");
    App.SetTitle("Other");
    EXPECT_EQ(MainForm->windowTitle(), "x.png - Other");

    // A failed save changes nothing.
    Stroke(document);
    Editor->Formats.SaveAnswer = false;
    EXPECT_FALSE(document->Save());
    EXPECT_FALSE(document->Clean());
    EXPECT_EQ(document->FileName, Path("x.png"));
}

TEST_F(TEditorTest, ModifiedStateFollowsTheHistoryIndexOfTheLastSave) {
    TTestDocument* document = Open("a.jpg");
    ASSERT_NE(document, nullptr);
    EXPECT_TRUE(document->Clean());
    Stroke(document);
    Stroke(document);
    EXPECT_FALSE(document->Clean());

    // Undo All right after opening: back to the file.
    Editor->UndoAllClick(nullptr);
    EXPECT_EQ(Pixels, 0);
    EXPECT_TRUE(document->Clean());
    // Redo moves away from the file again, so closing must ask.
    Editor->RedoClick(nullptr);
    EXPECT_FALSE(document->Clean());
    Editor->RedoAllClick(nullptr);
    EXPECT_EQ(Pixels, 2);

    // After a save, Undo is a change against the file; Redo returns to it.
    ASSERT_TRUE(document->Save());
    EXPECT_TRUE(document->Clean());
    Editor->UndoClick(nullptr);
    EXPECT_FALSE(document->Clean());
    Editor->UndoAllClick(nullptr);
    EXPECT_FALSE(document->Clean());
    Editor->RedoAllClick(nullptr);
    EXPECT_TRUE(document->Clean());

    // A new command after undoing past the save drops the saved state: no
    // index matches the file any more.
    Editor->UndoClick(nullptr);
    Stroke(document);
    EXPECT_EQ(document->History.Index(), 2);
    EXPECT_FALSE(document->Clean());
    Editor->UndoClick(nullptr);
    EXPECT_FALSE(document->Clean());

    // A save while a change is running writes what no state holds.
    document->Running = true;
    ASSERT_TRUE(document->Save());
    EXPECT_FALSE(document->Clean());
    document->Running = false;
    document->SetClean(true);
    EXPECT_TRUE(document->Clean());
}

TEST_F(TEditorTest, ClosingUnsavedWorkAsksAndCancelKeepsEverything) {
    TTestDocument* document = Open("a.jpg");
    ASSERT_NE(document, nullptr);
    Stroke(document);

    Answers = {IDCANCEL};
    Editor->CloseClick(nullptr);
    ASSERT_EQ(Boxes.size(), 1);
    EXPECT_EQ(Boxes[0].Text, "Do you want to save the changes to a.jpg?");
    EXPECT_EQ(Boxes[0].Caption, "Visara");
    EXPECT_EQ(Boxes[0].Flags, MB_YESNOCANCEL | MB_ICONQUESTION);
    EXPECT_EQ(Editor->GetActiveDocument(), document);
    EXPECT_FALSE(document->Clean());
    EXPECT_EQ(document->History.Index(), 1);

    // The main window's close asks the same way and stays open on Cancel.
    Answers = {IDCANCEL};
    EXPECT_FALSE(MainForm->close());
    EXPECT_EQ(Boxes.size(), 2);
    EXPECT_EQ(Editor->GetDocumentCount(), 1);

    // Opening another file first closes this one: Cancel stops the open.
    Answers = {IDCANCEL};
    TQelDocument* other = nullptr;
    EXPECT_FALSE(Editor->OpenDocument(Image("b.png"), other, true));
    EXPECT_EQ(other, nullptr);
    EXPECT_EQ(Editor->GetActiveDocument(), document);
    EXPECT_EQ(Editor->Formats.Loads, 1);

    // No: closed without writing; listeners hear it.
    QStringList log;
    TListener listener(log, "L");
    document->AddListener(&listener);
    Answers = {IDNO};
    Editor->CloseClick(nullptr);
    EXPECT_EQ(Editor->GetDocumentCount(), 0);
    EXPECT_TRUE(Editor->Formats.Saved.isEmpty());
    EXPECT_EQ(log, QStringList({"L closed"}));
    EXPECT_EQ(MainForm->windowTitle(), "Visara");

    // A document a tutorial opened closes without a question.
    document = Open("b.jpg");
    Stroke(document);
    document->TutorialDocument = true;
    const qsizetype asked = Boxes.size();
    Editor->CloseClick(nullptr);
    EXPECT_EQ(Boxes.size(), asked);
    EXPECT_EQ(Editor->GetDocumentCount(), 0);
}

TEST_F(TEditorTest, AnsweringYesSavesThroughTheDialogBeforeClosing) {
    TTestDocument* document = Open("a.jpg");
    ASSERT_NE(document, nullptr);
    Stroke(document);
    Answers = {IDYES};
    TDialogAnswer answer([&](TQelOpenDialog& dialog) {
        // The dialog starts on the document's name without extension and
        // on its format's row.
        EXPECT_EQ(dialog.FilterIndex(), 1);
        EXPECT_EQ(QFileInfo(dialog.FileName()).fileName(), "a");
        SaveAs(dialog, Path("kept"), 2);
    });
    bool canClose = true;
    Editor->CloseQueryAll(canClose);
    EXPECT_TRUE(canClose);
    EXPECT_EQ(Editor->GetDocumentCount(), 0);
    ASSERT_EQ(Editor->Formats.Saved.size(), 1);
    EXPECT_EQ(Editor->Formats.Saved[0].first, Path("kept.png"));
    EXPECT_EQ(Editor->Formats.Saved[0].second, 2);
}

TEST_F(TEditorTest, SaveDialogNamesFormatsAndOverwriteQuestion) {
    TTestDocument* document = Open("a.gif");
    ASSERT_NE(document, nullptr);
    EXPECT_EQ(document->FormatId, 4);

    // JPEG row with a typed ".png": JPEG data under that name. A format
    // without a save row starts on the first row.
    TDialogAnswer jpegIntoPng([&](TQelOpenDialog& dialog) {
        EXPECT_EQ(dialog.FilterIndex(), 1);
        SaveAs(dialog, Path("out.png"), 0);
    });
    EXPECT_TRUE(Editor->ExecuteSaveAsDialog(document));
    EXPECT_EQ(ReadFile(Path("out.png")), "SAVED 0");
    EXPECT_EQ(document->FormatId, 0);

    // No extension: the row's default one.
    TDialogAnswer defaultExtension([&](TQelOpenDialog& dialog) { SaveAs(dialog, Path("x"), 1); });
    EXPECT_TRUE(Editor->ExecuteSaveAsDialog(document));
    EXPECT_EQ(document->FileName, Path("x.tif"));

    // Refusing to overwrite leaves the file and the state alone.
    Stroke(document);
    TDialogAnswer existing([&](TQelOpenDialog& dialog) { SaveAs(dialog, Path("out.png"), 0); });
    Answers = {IDNO};
    EXPECT_FALSE(Editor->ExecuteSaveAsDialog(document));
    ASSERT_EQ(Boxes.size(), 1);
    EXPECT_EQ(Boxes[0].Text, Path("out.png") + " already exists. Do you want to replace it?");
    EXPECT_EQ(Boxes[0].Flags, MB_YESNO | MB_ICONWARNING);
    EXPECT_EQ(ReadFile(Path("out.png")), "SAVED 0");
    EXPECT_FALSE(document->Clean());

    // Cancelling the dialog saves nothing.
    TDialogAnswer cancel([](TQelOpenDialog& dialog) { dialog.reject(); });
    EXPECT_FALSE(Editor->ExecuteSaveAsDialog(document));
    EXPECT_EQ(Editor->Formats.Saved.size(), 2);
}

TEST_F(TEditorTest, NamesWithoutExtensionGetTheRowsDefaultExtension) {
    // Masks in capitals, as a real table has them: the row's own default
    // extension is taken, not its first mask.
    Editor->Formats.FRows = {{0, "JPEG", "*.JPG;*.JPEG", ".jpg"}, {1, "TIFF", "*.TIF;*.TIFF", ".tif"},
                             {2, "PNG", "*.PNG", ".png"},         {3, "BMP", "*.BMP;*.RLE;*.DIB", ".bmp"}};
    TTestDocument* document = Open("a.jpg");
    ASSERT_NE(document, nullptr);
    const char* extensions[] = {".jpg", ".tif", ".png", ".bmp"};
    for (int row = 0; row < 4; ++row) {
        TDialogAnswer answer([&](TQelOpenDialog& dialog) { SaveAs(dialog, Path("n%1").arg(row), row); });
        EXPECT_TRUE(Editor->ExecuteSaveAsDialog(document));
        EXPECT_EQ(document->FileName, Path("n%1").arg(row) + extensions[row]);
        EXPECT_EQ(document->FormatId, row);
    }
}

TEST_F(TEditorTest, FailedSaveAsTellsWhyAndACancelSaysNothing) {
    TTestDocument* document = Open("a.jpg");
    ASSERT_NE(document, nullptr);
    Stroke(document);
    Editor->Formats.SaveAnswer = false;
    Editor->Formats.Reason = "The folder is read-only.";
    TDialogAnswer refused([&](TQelOpenDialog& dialog) { SaveAs(dialog, Path("b.png"), 2); });
    Answers = {IDOK};
    EXPECT_FALSE(Editor->ExecuteSaveAsDialog(document));
    ASSERT_EQ(Boxes.size(), 1);
    EXPECT_EQ(Boxes[0].Text, "Could not save " + Path("b.png") + ".\nThe folder is read-only.");
    EXPECT_EQ(Boxes[0].Caption, "Visara");
    EXPECT_EQ(Boxes[0].Flags, MB_ICONERROR);
    // The document keeps its name, format and modified state.
    EXPECT_EQ(document->FileName, Path("a.jpg"));
    EXPECT_EQ(document->FormatId, 0);
    EXPECT_FALSE(document->Clean());

    // A save the user cancelled (no reason) shows nothing.
    Editor->Formats.Reason.clear();
    TDialogAnswer cancelled([&](TQelOpenDialog& dialog) { SaveAs(dialog, Path("b.png"), 2); });
    EXPECT_FALSE(Editor->ExecuteSaveAsDialog(document));
    EXPECT_EQ(Boxes.size(), 1);
    EXPECT_EQ(Editor->Formats.Saved.size(), 2);
}

TEST_F(TEditorTest, OpenedNamesAreAbsoluteWhateverTheCurrentFolder) {
    Image("a.jpg");
    const QString started = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(Folder.path()));
    TQelDocument* document = nullptr;
    const bool opened = Editor->OpenDocument("sub/../a.jpg", document, true);
    QDir::setCurrent(started);
    ASSERT_TRUE(opened);
    // The name stays good once the program runs elsewhere.
    EXPECT_EQ(document->FileName, Path("a.jpg"));
    EXPECT_EQ(Editor->RecentFiles, QStringList({Path("a.jpg")}));
    EXPECT_EQ(MainForm->windowTitle(), "a.jpg - Visara");
    Answers = {IDOK};
    EXPECT_FALSE(Editor->OpenDocument("missing.jpg", document, true));
    ASSERT_EQ(Boxes.size(), 1);
    EXPECT_EQ(Boxes[0].Text, "Could not open " + QDir(started).filePath("missing.jpg") + ".");
}

TEST_F(TEditorTest, FailedOpenReportsAndLeavesNoDocument) {
    ASSERT_NE(Open("a.jpg"), nullptr);
    WriteFile(Path("bad.jpg"), "not an image");
    Answers = {IDOK};
    // The formats' reason goes under the sentence that names the file.
    Editor->Formats.LoadReason = "The file holds no image.";
    TQelDocument* document = nullptr;
    EXPECT_FALSE(Editor->OpenDocument(Path("bad.jpg"), document, true));
    EXPECT_EQ(document, nullptr);
    ASSERT_EQ(Boxes.size(), 1);
    EXPECT_EQ(Boxes[0].Text, "Could not open " + Path("bad.jpg") + ".\nThe file holds no image.");
    EXPECT_EQ(Boxes[0].Flags, MB_ICONERROR);
    // The previous document was closed first.
    EXPECT_EQ(Editor->GetActiveDocument(), nullptr);
    EXPECT_EQ(MainForm->windowTitle(), "Visara");
    EXPECT_EQ(Editor->RecentFiles, QStringList({Path("a.jpg")}));
}

TEST_F(TEditorTest, OpenedDocumentIsShownActiveBeforeAfterOpen) {
    TTestDocument* document = Open("a.png");
    ASSERT_NE(document, nullptr);
    EXPECT_TRUE(document->ActiveWhenOpened);
    TQelViewControl* view = nullptr;
    ASSERT_TRUE(Editor->GetActiveView(view));
    // Inside the permanent work area, never replacing it.
    EXPECT_EQ(view->parentWidget(), MainForm->centralWidget());
    EXPECT_EQ(MainForm->centralWidget()->objectName(), "Workspace");
}

TEST_F(TEditorTest, CommandsFollowTheHistoryAfterIdle) {
    Editor->UpdateControls();
    EXPECT_FALSE(Editor->SaveAsMenuItem->isEnabled());
    EXPECT_FALSE(Editor->UndoToolButton->isEnabled());
    EXPECT_EQ(Editor->RedoMenuItem->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Y));
    EXPECT_EQ(MainForm->Menu->actions().indexOf(Editor->EditMenuItem->menuAction()) + 1,
              MainForm->Menu->actions().indexOf(MainForm->ViewMenuItem->menuAction()));

    TTestDocument* document = Open("a.jpg");
    ASSERT_NE(document, nullptr);
    Stroke(document);
    Stroke(document);
    Editor->UpdateControls();
    EXPECT_TRUE(Editor->UndoMenuItem->isEnabled());
    EXPECT_FALSE(Editor->RedoAllMenuItem->isEnabled());

    Editor->UndoClick(nullptr);
    Editor->UndoClick(nullptr);
    Editor->UpdateControls();
    EXPECT_FALSE(Editor->UndoMenuItem->isEnabled());
    EXPECT_FALSE(Editor->UndoToolButton->isEnabled());
    EXPECT_TRUE(Editor->RedoMenuItem->isEnabled());
    EXPECT_TRUE(Editor->RedoToolButton->isEnabled());
    EXPECT_TRUE(document->Clean());
}

TEST_F(TEditorTest, TutorialCommandsPointsAndRecording) {
    TTestDocument* document = Open("a.jpg");
    ASSERT_NE(document, nullptr);
    Stroke(document);
    MainForm->show();
    QApplication::processEvents();

    TQelDemoScriptParams params;
    params.ParseText("uNdO");
    QPoint point(-1, -1);
    bool handled = false;
    Editor->GetCommandPoint(nullptr, params, point, handled);
    EXPECT_TRUE(handled);
    QWidget* button = Editor->StandardToolbar->widgetForAction(Editor->UndoToolButton);
    ASSERT_NE(button, nullptr);
    EXPECT_LE((point - button->mapToGlobal(button->rect().center())).manhattanLength(), 1);
    params.ParseText("Open");
    Editor->GetCommandPoint(nullptr, params, point, handled);
    EXPECT_FALSE(handled);

    TQelDemoPlayback recorder;
    QList<QByteArray> lines;
    recorder.OnRecordLine = [&](TQelDemoPlayback*, int, const QByteArray& line) { lines << line; };
    ASSERT_TRUE(recorder.StartRecording(0));
    Editor->StartRecording(&recorder);
    Editor->ExecuteCommand(nullptr, "UNDO", params, nullptr, handled);
    EXPECT_TRUE(handled);
    EXPECT_EQ(Pixels, 0);
    recorder.ShowMessages = false;
    Editor->ExecuteCommand(nullptr, "REDO", params, nullptr, handled);
    EXPECT_EQ(Pixels, 1);
    EXPECT_EQ(lines, QList<QByteArray>({"MouseCurvedMove Undo", "Message \"Undo\"", "Undo", "MouseCurvedMove Redo",
                                        "Redo"}));
    Editor->ExecuteCommand(nullptr, "ZOOMIN", params, nullptr, handled);
    EXPECT_FALSE(handled);
    Editor->StopRecording(&recorder);
    recorder.StopRecording();
}

TEST_F(TEditorTest, PluginModeHidesOpenAndSaveAndSetsTheExitCode) {
    ASSERT_NE(Open("a.jpg"), nullptr);
    Editor->SetPluginMode(true);
    EXPECT_TRUE(Editor->PluginMode);
    EXPECT_FALSE(Editor->OpenToolButton->isVisible());
    EXPECT_FALSE(Editor->SaveToolButton->isVisible());
    EXPECT_FALSE(Editor->EditToolbarSeparator->isVisible());
    EXPECT_EQ(App.ExitCode(), -1);
    App.SetExitCode(0);
    Editor->SetPluginMode(true);  // once only
    EXPECT_EQ(App.ExitCode(), 0);

    // No dialog may open: one that did would be rejected and noticed.
    bool dialogShown = false;
    TDialogAnswer unexpected([&](TQelOpenDialog& dialog) {
        dialogShown = true;
        dialog.reject();
    });
    Editor->OpenClick(nullptr);
    Editor->SaveClick(nullptr);
    Editor->SaveAsClick(nullptr);
    QElapsedTimer wait;
    wait.start();
    while (wait.elapsed() < 50) QApplication::processEvents();
    EXPECT_FALSE(dialogShown);
}

TEST_F(TEditorTest, RecentFilesKeepFiveAndSurviveARestart) {
    for (const char* name : {"1.jpg", "2.jpg", "3.jpg", "4.jpg", "5.jpg", "6.jpg"}) Open(name);
    EXPECT_EQ(Editor->RecentFiles.size(), 5);
    EXPECT_EQ(Editor->RecentFiles.first(), Path("6.jpg"));
    EXPECT_FALSE(Editor->RecentFiles.contains(Path("1.jpg")));
    // Names compare without regard to case.
    Editor->AddRecentFileName(Path("3.JPG"));
    EXPECT_EQ(Editor->RecentFiles.size(), 5);
    EXPECT_EQ(Editor->RecentFiles.first(), Path("3.jpg"));
    EXPECT_EQ(RecentItemTexts().size(), 5);
    EXPECT_EQ(RecentItemTexts().first(), "&1 " + Path("3.jpg"));

    // A name with "&" shows it doubled and still opens the right file.
    const QString ampersand = Image("R&D.jpg");
    Editor->AddRecentFileName(ampersand);
    EXPECT_EQ(RecentItemTexts().first(), "&1 " + Path("R&&D.jpg"));
    const QList<QAction*> items = MainForm->FileMenuItem->actions();
    QAction* first = items[items.indexOf(MainForm->FileMenuSeparator) + 1];
    first->trigger();
    ASSERT_NE(Editor->GetActiveDocument(), nullptr);
    EXPECT_EQ(Editor->GetActiveDocument()->FileName, ampersand);

    TQelMemoryOutputStream stream;
    {
        TQelSDFWriter writer(&stream, false);
        Editor->SaveSettings(writer);
    }
    const QStringList saved = Editor->RecentFiles;
    App.DestroyComponents();

    App.CreateModule(Editor);
    TQelSDFReader reader(stream.Bytes());
    Editor->LoadSettings(reader);
    EXPECT_EQ(Editor->RecentFiles, saved);
    EXPECT_EQ(RecentItemTexts().size(), 5);
}

TEST_F(TEditorTest, DamagedRecentFilesNodeCostsNothing) {
    TQelMemoryOutputStream stream;
    {
        TQelSDFWriter writer(&stream, false);
        writer.BeginNode(1, EditorGuid);
        writer.BeginNodeInt(1, 0x7FFFFFFF);
        writer.WriteWideString(3, u"/c.jpg");
        writer.WriteWideString(1, u"/a.jpg");
        writer.WriteWideString(2, u"");        // empty: skipped
        writer.WriteInteger(4, 7);             // not a name: skipped
        writer.WriteWideString(0x7FFFFFFF, u"/z.jpg");
        writer.EndNode();
        writer.EndNode();
    }
    TQelSDFReader reader(stream.Bytes());
    QElapsedTimer timer;
    timer.start();
    Editor->LoadSettings(reader);
    EXPECT_LT(timer.elapsed(), 1000);
    EXPECT_EQ(Editor->RecentFiles, QStringList({"/a.jpg", "/c.jpg", "/z.jpg"}));

    // A negative count or a missing inner node adds nothing.
    TQelMemoryOutputStream other;
    {
        TQelSDFWriter writer(&other, false);
        writer.BeginNode(1, EditorGuid);
        writer.BeginNodeInt(1, -5);
        writer.WriteWideString(1, u"/n.jpg");
        writer.EndNode();
        writer.EndNode();
    }
    TQelSDFReader negative(other.Bytes());
    Editor->LoadSettings(negative);
    EXPECT_EQ(Editor->RecentFiles.size(), 3);
}

TEST_F(TEditorTest, DocumentsCloseCleanlyInAnyOrder) {
    Editor->SetMDI(true);
    TTestDocument* a = Open("a.jpg");
    TTestDocument* b = Open("b.jpg");
    TTestDocument* c = Open("c.jpg");
    ASSERT_TRUE(a && b && c);
    EXPECT_EQ(MainForm->windowTitle(), "Visara");
    for (TTestDocument* d : {a, b, c}) d->GetView();
    Editor->SetActiveDocument(a);
    EXPECT_EQ(Editor->GetActiveDocument(), a);

    EXPECT_TRUE(b->CloseQuery());
    EXPECT_EQ(Editor->GetDocumentCount(), 2);
    Stroke(c);
    Answers = {IDNO};
    bool canClose = true;
    Editor->CloseQueryAll(canClose);
    EXPECT_TRUE(canClose);
    EXPECT_EQ(Editor->GetDocumentCount(), 0);

    // The main window (and with it a view) may go before its document.
    TTestDocument* d = Open("d.jpg");
    ASSERT_NE(d, nullptr);
    delete MainForm;
    TQelViewControl* view = nullptr;
    EXPECT_FALSE(d->FindView(view));
    EXPECT_EQ(d->ListenerCount(), 0);
}
