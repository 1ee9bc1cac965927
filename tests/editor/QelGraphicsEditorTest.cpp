#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QMouseEvent>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QToolBar>

#include <deque>
#include <memory>

#include "GraphicsTestSupport.h"
#include "QelDemoPlayback.h"
#include "QelDemoScript.h"
#include "QelForms.h"
#include "QelGraphicsEditor.h"
#include "QelGraphicsFormats.h"
#include "QelLocalizer.h"
#include "QelMainForm.h"
#include "QelMessageBox.h"

namespace {

const TQelGuid GraphicsEditorGuid = TQelGuid::Parse("{E1195915-FFAE-4A56-B331-F4567336FF25}");

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
    void DocumentOpened(TQelGraphicsDocument* d) override {
        TQelGraphicsTool::DocumentOpened(d);
        Log << Tag + " opened";
    }
    void BeforeUndo(TQelCommandState*) override { Log << Tag + " before undo"; }
    void AfterUndo(TQelCommandState*) override { Log << Tag + " after undo"; }
    void BeforeRedo(TQelCommandState*) override { Log << Tag + " before redo"; }
    void AfterRedo(TQelCommandState*) override { Log << Tag + " after redo"; }
    void ImageChanged(TQelGraphicsDocument*, TQelGraphicsTool*, const TQelRect&) override { Log << Tag + " changed"; }

    // Fills Rect with Value inside a new modification; commits when Finish.
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
        Previous = QelSetMessageBoxHook([this](const QString& text, const QString&, uint32_t flags) {
            Boxes << text;
            BoxFlags << flags;
            if (Answers.empty()) {
                ADD_FAILURE() << "unexpected message box: " << text.toStdString();
                return IDCANCEL;
            }
            const int answer = Answers.front();
            Answers.pop_front();
            return answer;
        });
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
        QelSetMessageBoxHook(Previous);
    }

    QString Path(const QString& name) const { return Folder.filePath(name); }
    QString Picture(const QString& name, int w = 40, int h = 30, const char* format = nullptr) const {
        QImage image(w, h, QImage::Format_RGB888);
        image.fill(QColor(10, 20, 30));
        EXPECT_TRUE(image.save(Path(name), format));
        return Path(name);
    }
    // A host's exchange file with a w x h pattern image.
    QString Exchange(const QString& name, int w = 6, int h = 4) const {
        TQelGraphicsDocument source(nullptr);
        FillPattern(source.Image, w, h, 7);
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
        const uint8_t* p = read.GetPixels()->PixelAddress(x, y);
        return QByteArray(reinterpret_cast<const char*>(p), 3);
    }

    QTemporaryDir Folder;
    TQelLocalizer Localizer{QStringLiteral(VISARA_SOURCE_DIR "/data/Languages"), 1033};
    TQelApplication App;
    TTestGraphicsEditor* Editor = nullptr;
    QStringList Log;
    TLogTool* First = nullptr;
    TLogTool* Second = nullptr;
    TQelMessageBoxHook Previous;
    QStringList Boxes;
    QList<uint32_t> BoxFlags;
    std::deque<int> Answers;
};

QList<QAction*> Actions(QWidget* owner) { return owner->actions(); }

}  // namespace

TEST_F(TGraphicsEditorTest, CommandsAndStatusPanelsAreWhereTheyBelong) {
    const QList<QAction*> toolbar = Actions(Editor->StandardToolbar);
    const qsizetype save = toolbar.indexOf(Editor->SaveToolButton);
    EXPECT_EQ(toolbar.indexOf(Editor->PrevImageButton), save - 2);
    EXPECT_EQ(toolbar.indexOf(Editor->NextImageButton), save - 1);
    EXPECT_EQ(toolbar.mid(toolbar.size() - 5),
              QList<QAction*>({Editor->ZoomToolbarSeparator, Editor->ZoomInButton, Editor->ZoomOutButton,
                               Editor->ActualSizeButton, Editor->ScaleToBestFitButton}));

    const QList<QAction*> view = Actions(MainForm->ViewMenuItem);
    const qsizetype separator = view.indexOf(Editor->ZoomMenuSeparator);
    EXPECT_EQ(view.mid(0, separator + 2),
              QList<QAction*>({Editor->ZoomInMenuItem, Editor->ZoomOutMenuItem, Editor->ActualSizeMenuItem,
                               Editor->ScaleToBestFitMenuItem, Editor->ZoomMenuSeparator,
                               MainForm->ToolbarsMenuItem->menuAction()}));
    const QList<QAction*> file = Actions(MainForm->FileMenuItem);
    EXPECT_EQ(file.indexOf(Editor->CloseMenuSeperator) + 1, file.indexOf(MainForm->FileMenuSeparator));

    EXPECT_EQ(Editor->ZoomInMenuItem->shortcut(),
              QKeySequence(QKeyCombination(Qt::ControlModifier | Qt::KeypadModifier, Qt::Key_Plus)));
    EXPECT_EQ(Editor->ZoomOutMenuItem->shortcut(),
              QKeySequence(QKeyCombination(Qt::ControlModifier | Qt::KeypadModifier, Qt::Key_Minus)));
    EXPECT_EQ(Editor->ActualSizeMenuItem->shortcut(), QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_0));
    EXPECT_TRUE(Editor->ScaleToBestFitMenuItem->shortcut().isEmpty());
    EXPECT_EQ(Editor->ActualSizeMenuItem->text(), "Actual Size");
    EXPECT_EQ(Editor->PrevImageButton->toolTip(), "Previous Image");

    // Fourteen panels: caption, value; widths in font heights.
    TQelStatusPanels& panels = MainForm->StatusPanels();
    ASSERT_EQ(panels.Count(), 14);
    const QStringList captions = {"X:", "Y:", "W:", "H:", "R:", "G:", "B:"};
    const double widths[14] = {2, 4, 1.5, 5, 2, 4, 1.5, 5, 1.5, 4, 1.5, 4, 1.5, 5};
    // The font height in whole pixels.
    const int f = panels.Size(1) / 4;
    EXPECT_EQ(panels.Size(1), 4 * f);
    EXPECT_GE(f, 8);
    for (int i = 0; i < 14; ++i) {
        EXPECT_EQ(panels.Size(i), QelRoundEven(widths[i] * f)) << i;
        const bool framed = i == 3 || i == 7 || i == 13;
        EXPECT_EQ(panels.Panel(i)->frameShape() == QFrame::Panel, framed) << i;
        if (i % 2 == 0) {
            EXPECT_EQ(panels.Caption(i), captions[i / 2]);
            EXPECT_TRUE(panels.Panel(i)->alignment() & Qt::AlignRight);
        }
    }
    EXPECT_EQ(Editor->XStatusPanel, 1);
    EXPECT_EQ(Editor->BStatusPanel, 13);

    // No document: nothing to zoom, no neighbours.
    App.DoIdle();
    for (QAction* item : {Editor->ZoomInMenuItem, Editor->ZoomOutButton, Editor->ActualSizeButton,
                          Editor->ScaleToBestFitMenuItem, Editor->PrevImageButton, Editor->NextImageButton})
        EXPECT_FALSE(item->isEnabled()) << item->objectName().toStdString();
}

TEST_F(TGraphicsEditorTest, JpegQualityIsKeptInItsOwnNodeAfterTheRecentFiles) {
    Editor->AddRecentFileName("/pictures/a.jpg");
    Editor->Formats->JpegQuality = 65;
    TQelMemoryOutputStream stream;
    {
        TQelSDFWriter writer(&stream, false);
        Editor->SaveSettings(writer);
    }
    const std::vector<uint8_t> bytes = stream.Bytes();

    TQelSDFReader reader(bytes);
    // The editor base's node first (its recent files), then this one.
    ASSERT_TRUE(reader.OpenNode(1, TQelGuid::Parse("{C0F4C248-34D7-4014-8116-24BEE9AB5C30}")));
    reader.CloseNode();
    ASSERT_TRUE(reader.OpenNode(1, GraphicsEditorGuid));
    int32_t quality = 0;
    EXPECT_TRUE(reader.ReadInteger(1, quality));
    EXPECT_EQ(quality, 65);
    reader.CloseNode();

    Editor->Formats->JpegQuality = 80;
    TQelSDFReader again(bytes);
    Editor->LoadSettings(again);
    EXPECT_EQ(Editor->Formats->JpegQuality, 65);

    // Damaged value: into range. Missing node: the default stays.
    TQelMemoryOutputStream damagedStream;
    {
        TQelSDFWriter damaged(&damagedStream, false);
        damaged.BeginNode(1, GraphicsEditorGuid);
        damaged.WriteInteger(1, 5000);
        damaged.EndNode();
    }
    TQelSDFReader damagedReader(damagedStream.Bytes());
    Editor->LoadSettings(damagedReader);
    EXPECT_EQ(Editor->Formats->JpegQuality, 100);
    Editor->Formats->JpegQuality = 80;
    TQelSDFReader empty;
    Editor->LoadSettings(empty);
    EXPECT_EQ(Editor->Formats->JpegQuality, 80);
}

TEST_F(TGraphicsEditorTest, OpenFitsShowsToolsAndWalksTheFolder) {
    QDir().mkpath(Path("photos"));
    Picture("photos/a.jpg", 2000, 1500, "JPEG");
    const QString b = Picture("photos/b.png");
    QFile text(Path("photos/c.txt"));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("not an image");
    text.close();
    Picture("photos/d.JPEG", 20, 10, "JPEG");

    Editor->SetActiveTool(First);
    Log.clear();
    TQelGraphicsDocument* document = Open(b);
    ASSERT_NE(document, nullptr);
    TQelGraphicsView* view = Editor->GetActiveView();
    ASSERT_NE(view, nullptr);
    // Every tool has its control on the new view, in component order above
    // the image; the active tool took its new control into use.
    ASSERT_EQ(First->GetControlCount(), 1);
    ASSERT_EQ(Second->GetControlCount(), 1);
    EXPECT_EQ(view->Objects.GetObject(view->Objects.Count() - 2), First->GetControl(0));
    EXPECT_EQ(view->Objects.GetObject(view->Objects.Count() - 1), Second->GetControl(0));
    EXPECT_TRUE(First->GetControl(0)->Active);
    EXPECT_FALSE(Second->GetControl(0)->Active);
    EXPECT_TRUE(view->DocumentObject->GetVisible());
    EXPECT_EQ(Log, QStringList({"first activate", "first opened", "second opened"}));
    EXPECT_EQ(view->MapMode().DeviceExtent.X, view->MapMode().LogicalExtent.X);  // small: actual size

    EXPECT_EQ(Editor->FolderFiles, QStringList({Path("photos/a.jpg"), b, Path("photos/d.JPEG")}));
    EXPECT_EQ(Editor->FolderIndex, 1);
    App.DoIdle();
    EXPECT_TRUE(Editor->PrevImageButton->isEnabled());
    EXPECT_TRUE(Editor->NextImageButton->isEnabled());
    EXPECT_TRUE(Editor->ZoomInButton->isEnabled());
    EXPECT_TRUE(Editor->ScaleToBestFitMenuItem->isEnabled());

    // The pointer's image point and colour go to the panels.
    QMouseEvent move(QEvent::MouseMove, QPointF(view->viewport()->width() / 2, view->viewport()->height() / 2),
                     QPointF(), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(view->viewport(), &move);
    TQelStatusPanels& panels = MainForm->StatusPanels();
    EXPECT_EQ(panels.Caption(Editor->RStatusPanel) + panels.Caption(Editor->GStatusPanel) +
                  panels.Caption(Editor->BStatusPanel),
              "102030");
    EXPECT_FALSE(panels.Caption(Editor->XStatusPanel).isEmpty());

    Editor->NextImageClick(nullptr);
    EXPECT_EQ(Editor->GetActiveDocument()->FileName, Path("photos/d.JPEG"));
    App.DoIdle();
    EXPECT_FALSE(Editor->NextImageButton->isEnabled());
    Editor->PrevImageClick(nullptr);
    Editor->PrevImageClick(nullptr);
    ASSERT_EQ(Editor->GetActiveDocument()->FileName, Path("photos/a.jpg"));
    // Larger than the view: fitted into it.
    view = Editor->GetActiveView();
    EXPECT_LT(view->MapMode().DeviceExtent.X * 2000 / view->MapMode().LogicalExtent.X, view->width() + 1);
    App.DoIdle();
    EXPECT_FALSE(Editor->PrevImageButton->isEnabled());

    // A file that is not in the list (no image extension): previous is off
    // and next starts at the first file. A dropped file opens too.
    QFile::copy(b, Path("photos/scan"));
    MainForm->OnDropFile(Path("photos/scan"));
    EXPECT_EQ(Editor->FolderFiles.size(), 3);
    EXPECT_EQ(Editor->FolderIndex, -1);
    App.DoIdle();
    EXPECT_FALSE(Editor->PrevImageButton->isEnabled());
    Editor->NextImageClick(nullptr);
    EXPECT_EQ(Editor->GetActiveDocument()->FileName, Path("photos/a.jpg"));
    EXPECT_EQ(Editor->RecentFiles.first(), Path("photos/a.jpg"));
    EXPECT_TRUE(Boxes.isEmpty());

    // A name without a folder leaves the list alone.
    Editor->BuildFolderList("b.png");
    EXPECT_EQ(Editor->FolderFiles.size(), 3);
}

TEST_F(TGraphicsEditorTest, UndoAndRedoStepAroundTheActiveTool) {
    TQelGraphicsDocument* document = Open(Picture("p.png"));
    ASSERT_NE(document, nullptr);
    TQelGraphicsView* view = Editor->GetActiveView();
    Editor->SetActiveTool(First);

    First->Paint(view, TQelRect(0, 0, 4, 4), 200, false);
    // Nothing steps through the history while a change runs.
    EXPECT_FALSE(Editor->CanUndo());
    First->FinishModification();
    ASSERT_TRUE(Editor->CanUndo());

    Log.clear();
    Editor->UndoClick(nullptr);
    EXPECT_EQ(Log, QStringList({"first deactivate", "first before undo", "second before undo", "first changed",
                                "second changed", "first after undo", "second after undo", "first activate"}));
    EXPECT_EQ(document->GetPixels()->PixelAddress(1, 1)[0], 30);
    EXPECT_FALSE(Editor->CanUndo());
    Log.clear();
    Editor->RedoClick(nullptr);
    EXPECT_EQ(Log.first(), "first deactivate");
    EXPECT_EQ(Log.last(), "first activate");
    EXPECT_TRUE(Log.contains("second after redo"));
    EXPECT_EQ(document->GetPixels()->PixelAddress(1, 1)[0], 200);
    EXPECT_EQ(Editor->ActiveTool, First);

    // Who may modify: the active tool while locked; nobody beside an
    // exclusive tool's running change.
    EXPECT_TRUE(Editor->CanToolModify(Second));
    Editor->LockActiveTool();
    EXPECT_FALSE(Editor->CanToolModify(Second));
    EXPECT_TRUE(Editor->CanToolModify(First));
    Editor->UnlockActiveTool();
    First->Exclusive = true;
    First->Paint(view, TQelRect(0, 0, 2, 2), 50, false);
    EXPECT_FALSE(Editor->CanToolModify(Second));
    EXPECT_TRUE(Editor->CanToolModify(First));
    First->FinishModification();
    EXPECT_TRUE(Editor->CanToolModify(Second));
}

TEST_F(TGraphicsEditorTest, ExchangeFileEntersPluginMode) {
    Editor->AddRecentFileName(Path("earlier.jpg"));
    const QString name = Exchange("PSPF1.tmp");
    ASSERT_NE(Open(name), nullptr);
    EXPECT_TRUE(Editor->PluginMode);
    EXPECT_EQ(App.ExitCode(), -1);
    EXPECT_EQ(MainForm->windowTitle(), "Visara Plug-in");
    EXPECT_FALSE(MainForm->FileMenuItem->menuAction()->isVisible());
    for (QAction* hidden : {Editor->OpenToolButton, Editor->SaveToolButton, Editor->PrevImageButton,
                            Editor->NextImageButton})
        EXPECT_FALSE(hidden->isVisible()) << hidden->objectName().toStdString();
    const QList<QAction*> toolbar = Actions(Editor->StandardToolbar);
    EXPECT_EQ(toolbar.mid(toolbar.size() - 3),
              QList<QAction*>({Editor->PluginToolbarSeparator, Editor->OkButton, Editor->CancelButton}));
    EXPECT_EQ(Editor->OkButton->text(), "OK");
    EXPECT_EQ(Editor->CancelButton->text(), "Cancel");
    EXPECT_TRUE(Editor->OkButton->icon().isNull());
    // The host's temporary file is no recent file.
    EXPECT_EQ(Editor->RecentFiles, QStringList({Path("earlier.jpg")}));
}

TEST_F(TGraphicsEditorTest, PluginOkWritesTheImageAsShownAndExitsZero) {
    // Unmodified: written back all the same.
    const QString name = Exchange("PSPF2.tmp");
    ASSERT_NE(Open(name), nullptr);
    QFile::resize(name, 36);  // the host would see a cut file if nothing were written
    Editor->PluginOkClick(nullptr);
    EXPECT_EQ(App.ExitCode(), 0);
    EXPECT_EQ(Editor->GetDocumentCount(), 0);
    EXPECT_FALSE(MainForm->isVisible());
    EXPECT_EQ(ExchangePixel(name, 5, 3), QByteArray("\x05\x03\x07", 3));
    EXPECT_TRUE(Boxes.isEmpty());
}

TEST_F(TGraphicsEditorTest, PluginOkWithARunningChangeWritesIt) {
    const QString name = Exchange("PSPF3.tmp");
    ASSERT_NE(Open(name), nullptr);
    First->Paint(Editor->GetActiveView(), TQelRect(0, 0, 2, 2), 99, false);
    Editor->PluginOkClick(nullptr);
    EXPECT_EQ(App.ExitCode(), 0);
    EXPECT_EQ(Editor->GetDocumentCount(), 0);
    EXPECT_EQ(ExchangePixel(name, 1, 1), QByteArray("ccc"));
    EXPECT_EQ(ExchangePixel(name, 2, 2), QByteArray("\x02\x02\x07", 3));
    EXPECT_TRUE(Boxes.isEmpty());
}

TEST_F(TGraphicsEditorTest, FailedWriteBackKeepsTheWindowOpenAndTheChangeRunning) {
    const QString name = Exchange("PSPF4.tmp");
    TQelGraphicsDocument* document = Open(name);
    ASSERT_NE(document, nullptr);
    First->Paint(Editor->GetActiveView(), TQelRect(0, 0, 2, 2), 99, false);
    // The file cannot be written any more: a folder stands in its place.
    ASSERT_TRUE(QFile::remove(name));
    ASSERT_TRUE(QDir().mkdir(name));

    Answers = {IDOK};
    Editor->PluginOkClick(nullptr);
    ASSERT_EQ(Boxes.size(), 1);
    EXPECT_TRUE(BoxFlags[0] & MB_ICONERROR);
    EXPECT_EQ(App.ExitCode(), -1);
    EXPECT_TRUE(MainForm->isVisible());
    ASSERT_EQ(Editor->GetDocumentCount(), 1);
    // The change still runs, so it ends in the history with the backup in step.
    EXPECT_TRUE(document->Modifying);
    EXPECT_EQ(document->ModifiedRect, TQelRect(0, 0, 2, 2));
    First->FinishModification();
    EXPECT_EQ(document->History.Count(), 1);
    EXPECT_EQ(document->Backup.PixelAddress(1, 1)[0], 99);

    // Yes to the close question fails the same way; the window stays.
    Answers = {IDYES, IDOK};
    MainForm->close();
    EXPECT_EQ(Boxes.size(), 3);
    EXPECT_EQ(Editor->GetDocumentCount(), 1);
    EXPECT_EQ(App.ExitCode(), -1);
    // Cancel still ends it, with nothing written.
    Editor->PluginCancelClick(nullptr);
    EXPECT_EQ(Editor->GetDocumentCount(), 0);
    EXPECT_EQ(App.ExitCode(), -1);
    EXPECT_EQ(Boxes.size(), 3);
}

TEST_F(TGraphicsEditorTest, PluginCancelAndTheCloseQuestion) {
    // Cancel after a change: no question, nothing written, -1.
    const QString name = Exchange("PSPF5.tmp");
    const QByteArray before = ReadAll(name);
    ASSERT_NE(Open(name), nullptr);
    First->Paint(Editor->GetActiveView(), TQelRect(0, 0, 2, 2), 99, true);
    First->Paint(Editor->GetActiveView(), TQelRect(2, 2, 3, 3), 98, false);
    Editor->PluginCancelClick(nullptr);
    EXPECT_TRUE(Boxes.isEmpty());
    EXPECT_EQ(Editor->GetDocumentCount(), 0);
    EXPECT_EQ(App.ExitCode(), -1);
    EXPECT_EQ(ReadAll(name), before);

    // Closing with No: -1 and the file as it was.
    MainForm->show();
    ASSERT_NE(Open(name), nullptr);
    First->Paint(Editor->GetActiveView(), TQelRect(0, 0, 2, 2), 99, true);
    Answers = {IDNO};
    MainForm->close();
    EXPECT_EQ(Editor->GetDocumentCount(), 0);
    EXPECT_EQ(App.ExitCode(), -1);
    EXPECT_EQ(ReadAll(name), before);

    // Closing with Yes: written back without a dialog, 0.
    MainForm->show();
    ASSERT_NE(Open(name), nullptr);
    First->Paint(Editor->GetActiveView(), TQelRect(0, 0, 2, 2), 99, true);
    Answers = {IDYES};
    MainForm->close();
    EXPECT_EQ(Editor->GetDocumentCount(), 0);
    EXPECT_EQ(App.ExitCode(), 0);
    EXPECT_EQ(ExchangePixel(name, 0, 0), QByteArray("ccc"));
    EXPECT_EQ(Boxes.size(), 2);
}

TEST_F(TGraphicsEditorTest, TutorialCommandsPointsAndRecording) {
    QDir().mkpath(Path("Images"));
    Picture("Images/face.png", 40, 30);
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
    EXPECT_TRUE(handled);
    TQelGraphicsDocument* document = Editor->GetActiveDocument();
    ASSERT_NE(document, nullptr);
    EXPECT_EQ(document->FileName, Path("Images/face.png"));
    EXPECT_TRUE(document->TutorialDocument);
    TQelGraphicsView* view = Editor->GetActiveView();
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[1], "ImageOpen \"face.png\", " + QByteArray::number(view->width()) + ", " +
                            QByteArray::number(view->height()));
    // A changed tutorial image closes without a question.
    First->Paint(view, TQelRect(0, 0, 2, 2), 99, true);
    EXPECT_FALSE(document->Clean());

    lines.clear();
    player.ShowMessages = true;
    Editor->ExecuteCommand(&player, "ZOOMIN", params, nullptr, handled);
    EXPECT_EQ(lines, QList<QByteArray>({"MouseCurvedMove ZoomIn", "Message \"Zoom In\"", "ZoomIn"}));
    EXPECT_EQ(Editor->GetActiveView()->CompareScale(3, 2), 0);

    params.ParseText("\"missing.png\"");
    Answers = {IDOK};
    Editor->ExecuteCommand(&player, "IMAGEOPEN", params, nullptr, handled);
    EXPECT_TRUE(handled);
    EXPECT_EQ(errors, QList<QByteArray>({"Cannot open the file."}));
    EXPECT_EQ(Editor->GetDocumentCount(), 0);
    EXPECT_EQ(Boxes.size(), 1);  // the open failure only

    // Points: buttons, and an image point through the view's mapping.
    params.ParseText("\"face.png\", 300, 200");
    Editor->ExecuteCommand(&player, "IMAGEOPEN", params, nullptr, handled);
    view = Editor->GetActiveView();
    ASSERT_NE(view, nullptr);
    params.ParseText("zoomOut");
    QPoint point;
    handled = false;
    Editor->GetCommandPoint(&player, params, point, handled);
    EXPECT_TRUE(handled);
    QWidget* button = Editor->StandardToolbar->widgetForAction(Editor->ZoomOutButton);
    EXPECT_LE((point - button->mapToGlobal(button->rect().center())).manhattanLength(), 1);
    params.ParseText("Image, 4, 5");
    handled = false;
    Editor->GetCommandPoint(&player, params, point, handled);
    EXPECT_TRUE(handled);
    const TQelPoint device = view->MapMode().LogicalToDevice(TQelPoint{4, 5});
    EXPECT_EQ(point, view->viewport()->mapToGlobal(QPoint(device.X, device.Y)));

    Editor->StopRecording(&player);
    player.StopRecording();
}

TEST_F(TGraphicsEditorTest, WindowGrowsForTheViewInsideTheWorkArea) {
    ASSERT_NE(Open(Picture("p.png")), nullptr);
    TQelGraphicsView* view = Editor->GetActiveView();
    auto settle = [] {
        QApplication::processEvents();
        MainForm->layout()->activate();
    };
    settle();
    const QRect start = MainForm->frameGeometry();
    Editor->GrowMainWindow(view->width() + 50, view->height() - 10);
    EXPECT_EQ(MainForm->frameGeometry(), QRect(start.topLeft(), start.size() + QSize(50, 0)));

    // Past the right edge: centred; wider than the area: the area's width.
    MainForm->setGeometry(900, 100, 700, 500);
    settle();
    Editor->GrowMainWindow(view->width(), view->height());
    EXPECT_EQ(MainForm->frameGeometry().x(), (1000 - MainForm->frameGeometry().width()) / 2);
    Editor->GrowMainWindow(view->width() + 2000, view->height());
    EXPECT_EQ(MainForm->frameGeometry().x(), 0);
    EXPECT_EQ(MainForm->frameGeometry().width(), 1000);
    // Left of the area: moved in. The area's own corner counts.
    Editor->Area = QRect(1000, 0, 1000, 800);
    MainForm->setGeometry(900, 100, 700, 500);
    settle();
    Editor->GrowMainWindow(view->width(), view->height());
    EXPECT_EQ(MainForm->frameGeometry().x(), 1000);

    TQelDemoScriptParams params;
    bool handled = false;
    params.ParseText("900, 700");
    Editor->ExecuteCommand(nullptr, "SETMINWINDOWSIZE", params, nullptr, handled);
    EXPECT_EQ(MainForm->frameGeometry(), QRect(1050, 50, 900, 700));
    params.ParseText("900");
    Editor->ExecuteCommand(nullptr, "SETMINWINDOWSIZE", params, nullptr, handled);
    EXPECT_TRUE(handled);
    EXPECT_EQ(MainForm->frameGeometry(), QRect(1050, 50, 900, 700));
}
