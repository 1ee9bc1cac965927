#include <gtest/gtest.h>

#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolBar>

#include "Model.h"
#include "QelAbout.h"
#include "QelBrightnessContrastTool.h"
#include "QelCropTool.h"
#include "QelCursors.h"
#include "QelDemoEditor.h"
#include "QelDemonstration.h"
#include "QelEditor.h"
#include "QelEyeColorTool.h"
#include "QelGraphicsEditor.h"
#include "QelLipstickTool.h"
#include "QelPowderTool.h"
#include "QelRougeTool.h"
#include "QelTeethBleachTool.h"
#include "QelForms.h"
#include "QelGraphicsPrint.h"
#include "QelHandInpaintingTool.h"
#include "QelHelp.h"
#include "QelImperfectionWandTool.h"
#include "QelLocalizer.h"
#include "QelMainForm.h"
#include "QelMessageBox.h"
#include "QelOriginalImageTool.h"
#include "QelResizeTool.h"
#include "QelRotateTool.h"
#include "QelScrollTool.h"
#include "QelSystemInfo.h"
#include "QelToolPanel.h"
#include "QelUndoBrushTool.h"
#include "Progress.h"

namespace {

// The program's start-up and shut-down, as main() runs them, with the main
// window closed as soon as the loop runs.
class TStartUpTest : public ::testing::Test {
protected:
    void SetUp() override {
        Previous = QelSetMessageBoxHook([this](const QString& text, const QString&, uint32_t) {
            Messages.append(text);
            return IDOK;
        });
        RemoveSettings();
    }
    void TearDown() override {
        QelSetMessageBoxHook(Previous);
        RemoveSettings();
    }
    static void RemoveSettings() {
        TQelApplication app;
        QFile::remove(app.GetSettingsFileName());
    }
    void WriteLanguages() {
        QFile english(LanguageFolder.path() + "/English.ini");
        ASSERT_TRUE(english.open(QIODevice::WriteOnly));
        english.write("[Language]\nLangId=1033\nLanguage=English\n[Strings]\n10=File\n176=Tools\n");
        english.close();
        QFile german(LanguageFolder.path() + "/German.ini");
        ASSERT_TRUE(german.open(QIODevice::WriteOnly));
        german.write("[Language]\nLangId=1031\nLanguage=Deutsch\n[Strings]\n10=Datei\n176=Werkzeuge\n");
    }

    QTemporaryDir LanguageFolder;
    TQelMessageBoxHook Previous;
    QStringList Messages;
};

}  // namespace

TEST_F(TStartUpTest, CompositionRootBuildsTheShellAndTheCursor) {
    TQelLocalizer localizer(LanguageFolder.path(), 1033);
    TQelApplication app;
    Module = app.CreateComponent<TModule>();
    ASSERT_NE(MainForm, nullptr);
    EXPECT_EQ(app.MainForm(), MainForm);
    EXPECT_EQ(MainForm->objectName(), "MainForm");
    // The editor comes before the main window it creates, and creates the
    // hand tool after it; the service modules follow in their order, then
    // the tool panel and the tools in toolbar order.
    ASSERT_EQ(app.ComponentCount(), 24);
    EXPECT_EQ(app.Components(0), Module);
    EXPECT_NE(dynamic_cast<TQelEditor*>(app.Components(1)), nullptr);
    EXPECT_EQ(app.Components(2), MainForm);
    EXPECT_NE(dynamic_cast<TQelScrollTool*>(app.Components(3)), nullptr);
    EXPECT_NE(dynamic_cast<TQelSystemInfoModule*>(app.Components(4)), nullptr);
    EXPECT_NE(dynamic_cast<TQelGraphicsPrintModule*>(app.Components(5)), nullptr);
    EXPECT_NE(dynamic_cast<TQelHelp*>(app.Components(6)), nullptr);
    EXPECT_EQ(app.Components(7), DemoModule);
    EXPECT_NE(dynamic_cast<TQelDemoEditorModule*>(app.Components(8)), nullptr);
    EXPECT_NE(dynamic_cast<TQelAbout*>(app.Components(9)), nullptr);
    EXPECT_EQ(app.Components(10), ToolPanelModule);
    EXPECT_EQ(DemoModule->DemoFolder, GraphicsEditor->ImagesFolder);
    EXPECT_TRUE(DemoModule->ShowAtStartup);
    // The tools in toolbar order, with their toolbar images.
    EXPECT_NE(dynamic_cast<TQelOriginalImageTool*>(app.Components(11)), nullptr);
    EXPECT_EQ(app.Components(12), RotateTool);
    EXPECT_EQ(app.Components(13), HandInpaintingTool);
    auto* brush = dynamic_cast<TQelUndoBrushTool*>(app.Components(14));
    ASSERT_NE(brush, nullptr);
    EXPECT_EQ(app.Components(15), BrightnessContrastTool);
    EXPECT_EQ(app.Components(16), ResizeTool);
    EXPECT_EQ(app.Components(17), CropTool);
    // The five make-up tools, the lipstick current, then the wand.
    EXPECT_NE(dynamic_cast<TQelLipstickTool*>(app.Components(18)), nullptr);
    EXPECT_NE(dynamic_cast<TQelEyeColorTool*>(app.Components(19)), nullptr);
    EXPECT_NE(dynamic_cast<TQelPowderTool*>(app.Components(20)), nullptr);
    EXPECT_NE(dynamic_cast<TQelRougeTool*>(app.Components(21)), nullptr);
    EXPECT_NE(dynamic_cast<TQelTeethBleachTool*>(app.Components(22)), nullptr);
    EXPECT_EQ(GraphicsEditor->ActiveTool.data(), app.Components(18));
    EXPECT_NE(dynamic_cast<TQelImperfectionWandTool*>(app.Components(23)), nullptr);
    // The undo brush takes only its size from the settings file.
    EXPECT_TRUE(brush->RestoreSizeOnly);
    EXPECT_EQ(brush->Hardness, 191);
    // Long Defect is not offered, and the panel is wide enough for the
    // previews and for the make-up palette, the widest frame (272).
    EXPECT_FALSE(HandInpaintingTool->OptionsVisible);
    EXPECT_EQ(ToolPanelModule->Panel->widget()->width(), 272);
    // Rotation and flips: four items after a separator at the end of the
    // standard toolbar; the tool's own button is hidden.
    EXPECT_FALSE(RotateTool->Button->isVisible());
    const QList<QAction*> standard = GraphicsEditor->StandardToolbar->actions();
    ASSERT_GE(standard.size(), 5);
    EXPECT_TRUE(standard[standard.size() - 5]->isSeparator());
    const QStringList names = {"RotateRightToolButton", "RotateLeftToolButton", "FlipVerticalToolButton",
                               "FlipHorizontalToolButton"};
    for (int i = 0; i < 4; ++i) {
        QAction* item = standard[standard.size() - 4 + i];
        EXPECT_EQ(item->objectName(), names[i]);
    }

    // The image lists, and the toolbar list is the one the window hands out.
    EXPECT_EQ(ToolbarImages, &Module->NewTBXImageList);
    EXPECT_EQ(MainForm->GetImages(), &Module->NewTBXImageList);
    EXPECT_EQ(Module->NewTBXImageList.Count(), 31);
    EXPECT_EQ(Module->NewTBXImageList.ImageSize(), QSize(24, 24));
    EXPECT_EQ(Module->SmallImages.Count(), 6);
    EXPECT_EQ(Module->SmallImages.ImageSize(), QSize(16, 16));
    for (int i : {1, 2, 3, 8, 9, 10, 15, 20, 30}) EXPECT_FALSE(Module->NewTBXImageList.Icon(i).isNull()) << i;
    for (int i = 0; i < 6; ++i) EXPECT_FALSE(Module->SmallImages.Icon(i).isNull()) << i;

    EXPECT_TRUE(ToolPanelModule->Toolbar->Wrap());
    EXPECT_EQ(MainForm->dockWidgetArea(ToolPanelModule->Panel), Qt::RightDockWidgetArea);

    // The progress bar fills the status bar's last panel, empty and not busy.
    ASSERT_NE(ProgressMeter, nullptr);
    QProgressBar* bar = ProgressMeter->ProgressBar();
    ASSERT_NE(bar, nullptr);
    TQelStatusPanels& panels = MainForm->StatusPanels();
    ASSERT_GE(panels.Count(), 1);
    EXPECT_EQ(panels.Size(panels.Count() - 1), 200);
    EXPECT_TRUE(panels.Panel(panels.Count() - 1)->isAncestorOf(bar));
    EXPECT_EQ(bar->value(), 0);
    EXPECT_LT(bar->minimum(), bar->maximum());

    // Slot 100 is the hand cursor's, so the colour selector goes above it.
    EXPECT_GT(ColorSelectorCursor, 100);
    const QCursor cursor = TQelCursorRegistry::Instance().Cursor(ColorSelectorCursor);
    EXPECT_EQ(cursor.shape(), Qt::BitmapCursor);
    EXPECT_EQ(cursor.pixmap().size(), QSize(32, 32));
    EXPECT_EQ(cursor.hotSpot(), QPoint(1, 30));

    // The pictures the tools ask for by name are the program's toolbar images.
    int added = Module->NewTBXImageList.Count();
    for (const char* name : {"PrevImage", "NextImage", "Right", "HandInpainting", "UndoBrush", "Contrast", "Resize",
                             "Crop", "Lipstick", "EyeColor", "Powder", "Rouge", "TeethBleach", "ImperfectionWand"})
        EXPECT_EQ(MainForm->AddImage(name), added++) << name;
    EXPECT_EQ(QelImageResourceFile("Lipstick"), ":/icons/toolbar/25.svg");

    QTimer::singleShot(0, MainForm, [] { MainForm->close(); });
    app.Run();
    app.DestroyComponents();
    EXPECT_EQ(MainForm, nullptr);
    EXPECT_EQ(Module, nullptr);
    EXPECT_EQ(ToolPanelModule, nullptr);
    EXPECT_EQ(HandInpaintingTool, nullptr);
    EXPECT_EQ(ProgressMeter, nullptr);
    EXPECT_EQ(ToolbarImages, nullptr);
    EXPECT_TRUE(QFile::exists(app.GetSettingsFileName()));
    EXPECT_TRUE(Messages.isEmpty());
}

TEST_F(TStartUpTest, SecondStartRestoresPlacementLanguageAndPanel) {
    WriteLanguages();
    const QRect placed(70, 60, 640, 420);
    {
        TQelLocalizer localizer(LanguageFolder.path(), 1033);
        TQelApplication app;
        Module = app.CreateComponent<TModule>();
        QTimer::singleShot(0, MainForm, [&] {
            EXPECT_EQ(MainForm->FileMenuItem->title(), "File");
            MainForm->setGeometry(placed);
            const QList<QAction*> languages = MainForm->LanguageMenuItem->actions();
            ASSERT_EQ(languages.size(), 2);
            languages[1]->trigger();
            ToolPanelModule->VisibleMenuItem->trigger();
            MainForm->close();
        });
        app.Run();
        app.DestroyComponents();
    }
    ASSERT_TRUE(QFile::exists(TQelApplication().GetSettingsFileName()));
    {
        TQelLocalizer localizer(LanguageFolder.path(), 1033);
        TQelApplication app;
        Module = app.CreateComponent<TModule>();
        QRect geometry;
        QString file;
        QString tools;
        bool panelVisible = true;
        QTimer::singleShot(0, MainForm, [&] {
            geometry = MainForm->geometry();
            file = MainForm->FileMenuItem->title();
            tools = ToolPanelModule->VisibleMenuItem->text();
            panelVisible = ToolPanelModule->IsPanelVisible();
            MainForm->close();
        });
        app.Run();
        EXPECT_EQ(geometry, placed);
        EXPECT_EQ(localizer.GetCurrentLangId(), 1031);
        EXPECT_EQ(file, "Datei");
        EXPECT_EQ(tools, "Werkzeuge");
        EXPECT_FALSE(panelVisible);
        app.DestroyComponents();
    }
    EXPECT_TRUE(Messages.isEmpty());
}
