#include <gtest/gtest.h>

#include <QDir>
#include <QDockWidget>
#include <QDropEvent>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QScreen>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QToolBar>
#include <QUrl>

#include <memory>
#include <stdexcept>

#include "QelForms.h"
#include "QelLocalizer.h"
#include "QelMainForm.h"

namespace {

void WriteFile(const QString& name, const QByteArray& bytes) {
    QFile file(name);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QStringList Texts(const QList<QAction*>& actions) {
    QStringList texts;
    for (QAction* a : actions) texts << (a->isSeparator() ? QStringLiteral("-") : a->text());
    return texts;
}

class TMainFormTest : public ::testing::Test {
protected:
    void SetUp() override {
        WriteFile(Folder.path() + "/English.ini",
                  "[Language]\nLangId=1033\nLanguage=English\n[Strings]\n10=File\n23=Exit\n34=View\n41=Language\n"
                  "46=Help\n161=Menu\n163=Toolbars\n");
        WriteFile(Folder.path() + "/German.ini",
                  "[Language]\nLangId=1031\nLanguage=Deutsch\n[Strings]\n10=Datei\n23=Beenden\n34=Ansicht\n"
                  "41=Sprache\n46=Hilfe\n161=Men\xC3\xBC\n163=Symbolleisten\n");
    }
    void TearDown() override { ToolbarImages = nullptr; }

    TQelLocalizer& Loc() {
        if (!Localizer) Localizer = std::make_unique<TQelLocalizer>(Folder.path(), 1033);
        return *Localizer;
    }
    // The main window as the settings cycle leaves it.
    TMainForm* NewMainForm(TQelSDFReader* reader = nullptr) {
        Loc();
        App.CreateForm(MainForm);
        if (reader) MainForm->LoadSettings(*reader);
        MainForm->Initialize();
        return MainForm;
    }
    static std::vector<uint8_t> SettingsOf(TMainForm* form) {
        TQelMemoryOutputStream stream;
        {
            TQelSDFWriter writer(&stream, false);
            form->SaveSettings(writer);
        }
        return stream.Bytes();
    }

    QTemporaryDir Folder;
    std::unique_ptr<TQelLocalizer> Localizer;
    TQelApplication App;
};

}  // namespace

TEST_F(TMainFormTest, ShellHasTheNamedMenusLocalised) {
    TMainForm* form = NewMainForm();
    EXPECT_EQ(form->objectName(), "MainForm");
    EXPECT_EQ(Texts(form->Menu->actions()), (QStringList{"File", "View", "Help"}));
    EXPECT_EQ(Texts(form->FileMenuItem->actions()), (QStringList{"-", "Exit"}));
    EXPECT_EQ(Texts(form->ViewMenuItem->actions()), (QStringList{"Toolbars", "-", "Language"}));
    EXPECT_EQ(form->Menu->windowTitle(), "Menu");
    EXPECT_EQ(form->findChild<QMenu*>("LanguageMenuItem"), form->LanguageMenuItem);
}

TEST_F(TMainFormTest, ItemsGoBeforeTheirBeforeItemOrAtTheEnd) {
    TMainForm* form = NewMainForm();
    auto nop = [](QObject*) {};

    // A Before item of another menu: appended.
    QAction* a = form->AddMenuItem("A", QKeySequence(), nop, -1, form->FileMenuItem, form->ViewMenuSeparator);
    EXPECT_EQ(form->FileMenuItem->actions().last(), a);
    // Present: directly before it.
    QAction* b = form->AddMenuItem("B", QKeySequence(), nop, -1, form->FileMenuItem, form->FileMenuSeparator);
    EXPECT_EQ(Texts(form->FileMenuItem->actions()), (QStringList{"B", "-", "Exit", "A"}));
    EXPECT_EQ(b->parent(), form->FileMenuItem);

    // No parent: the menu bar itself, here just before Help.
    QAction* tutorials =
        form->AddMenuItem("Tutorials", QKeySequence(), nop, -1, nullptr, form->HelpMenuItem->menuAction());
    EXPECT_EQ(Texts(form->Menu->actions()), (QStringList{"File", "View", "Tutorials", "Help"}));
    EXPECT_EQ(tutorials->parent(), form->Menu);
    QMenu* edit = form->AddSubmenu("Edit", nullptr, form->ViewMenuItem->menuAction());
    EXPECT_EQ(Texts(form->Menu->actions()), (QStringList{"File", "Edit", "View", "Tutorials", "Help"}));
    form->AddSeparator(edit, nullptr);
    EXPECT_EQ(edit->actions().size(), 1);

    // Toolbars take separators by the same rule.
    QToolBar* toolbar = form->AddToolbar("Std");
    QAction* first = nullptr;
    QAction* second = nullptr;
    form->AddToolButton(toolbar, first, nop, -1, "One", nullptr, form->GetImages());
    form->AddToolButton(toolbar, second, nop, -1, "Two", nullptr, form->GetImages());
    QAction* separator = form->AddSeparator(toolbar, second);
    EXPECT_EQ(toolbar->actions(), (QList<QAction*>{first, separator, second}));
    form->AddSeparator(toolbar, form->ExitMenuItem);
    EXPECT_TRUE(toolbar->actions().last()->isSeparator());

    // Shortcut and click reach the item; the item is the sender.
    QObject* sender = nullptr;
    QAction* open = form->AddMenuItem("Open", QKeySequence::Open, [&](QObject* s) { sender = s; }, -1,
                                      form->FileMenuItem, form->FileMenuSeparator);
    EXPECT_EQ(open->shortcut(), QKeySequence(QKeySequence::Open));
    open->trigger();
    EXPECT_EQ(sender, open);
}

TEST_F(TMainFormTest, ToolbarsAndTheirToggles) {
    TMainForm* form = NewMainForm();
    QToolBar* toolbar = form->AddToolbar("Std");
    form->show();
    EXPECT_EQ(form->toolBarArea(toolbar), Qt::TopToolBarArea);
    ASSERT_EQ(form->ToolbarsMenuItem->actions().size(), 1);
    QAction* toggle = form->ToolbarsMenuItem->actions().first();
    EXPECT_EQ(toggle->text(), "Std");
    EXPECT_TRUE(toggle->isCheckable());
    EXPECT_TRUE(toolbar->isVisibleTo(form));
    toggle->trigger();
    EXPECT_FALSE(toolbar->isVisibleTo(form));
    toggle->trigger();
    EXPECT_TRUE(toolbar->isVisibleTo(form));

    // A renamed toolbar: the queued refresh after a language switch gives
    // the toggle the new caption.
    toolbar->setWindowTitle("Standard");
    toggle->setText("stale");
    Loc().SetLanguage(1031);
    EXPECT_EQ(toggle->text(), "stale");
    EXPECT_GE(App.QueuedCallCount(), 1);
    while (App.QueuedCallCount() > 0) App.RunQueuedCall();
    EXPECT_EQ(toggle->text(), "Standard");
}

TEST_F(TMainFormTest, ToolButtonsTakeCaptionHintImageAndPlace) {
    TQelImageList images;
    images.LoadIndexed(":/icons/toolbar");
    ToolbarImages = &images;
    TMainForm* form = NewMainForm();
    QToolBar* toolbar = form->AddToolbar("Std");
    EXPECT_EQ(toolbar->iconSize(), QSize(24, 24));

    QAction* save = nullptr;
    form->AddToolButton(toolbar, save, nullptr, 2, "Save", nullptr, form->GetImages());
    QAction* open = nullptr;
    QAction* result = form->AddToolButton(toolbar, open, nullptr, 1, "Open", save, form->GetImages());
    EXPECT_EQ(result, open);
    EXPECT_EQ(toolbar->actions(), (QList<QAction*>{open, save}));
    EXPECT_EQ(open->text(), "Open");
    EXPECT_EQ(open->toolTip(), "Open");
    EXPECT_EQ(TQelImageList::ActionImageIndex(open), 1);
    EXPECT_FALSE(open->icon().isNull());

    // The item is stored before it is set up, and cleared when creation throws.
    struct TFailing : QAction {
        explicit TFailing(QObject*) { throw std::runtime_error("no item"); }
    };
    TFailing* failing = reinterpret_cast<TFailing*>(open);
    EXPECT_THROW(form->AddToolButton(toolbar, failing, nullptr, -1, "X", nullptr, nullptr), std::runtime_error);
    EXPECT_EQ(failing, nullptr);
    EXPECT_EQ(toolbar->actions().size(), 2);
}

TEST_F(TMainFormTest, ImagesAddedByNameReturnThePreviousCount) {
    TQelImageList images;
    images.LoadIndexed(":/icons/toolbar");
    // Index 0 and 4 to 7 have no picture, yet the indices stay the files'.
    ASSERT_EQ(images.Count(), 31);
    EXPECT_TRUE(images.Icon(0).isNull());
    EXPECT_TRUE(images.Icon(5).isNull());
    EXPECT_FALSE(images.Icon(10).isNull());
    EXPECT_TRUE(images.Icon(31).isNull());
    EXPECT_TRUE(images.Icon(-1).isNull());

    // Names are the program's to give.
    QelRegisterImageResource("Crop", ":/icons/toolbar/24.svg");
    QelRegisterImageResource("HandInpainting", ":/icons/toolbar/20.svg");
    QelRegisterImageResource("Lipstick", ":/icons/toolbar/25.svg");
    QelRegisterImageResource("Broken", ":/icons/toolbar/99.svg");
    EXPECT_EQ(QelImageResourceFile("Crop"), ":/icons/toolbar/24.svg");

    ToolbarImages = &images;
    TMainForm* form = NewMainForm();
    EXPECT_EQ(form->GetImages(), &images);
    EXPECT_EQ(form->AddImage("Missing"), -1);
    EXPECT_EQ(form->AddImage("Broken"), -1);
    EXPECT_EQ(images.Count(), 31);
    EXPECT_EQ(form->AddImage("Crop"), 31);
    EXPECT_EQ(form->AddImage("HandInpainting"), 32);
    EXPECT_EQ(images.Count(), 33);
    EXPECT_FALSE(images.Icon(32).isNull());

    // Without the program's list the window's own takes the images.
    ToolbarImages = nullptr;
    EXPECT_EQ(form->GetImages(), &form->DefaultImages);
    EXPECT_EQ(form->AddImage("Lipstick"), 0);
}

TEST_F(TMainFormTest, PicturesWithoutAlphaTakeTheTopLeftColourAsTransparent) {
    QTemporaryDir dir;
    QImage picture(4, 4, QImage::Format_RGB32);
    picture.fill(QColor(255, 0, 255));
    picture.setPixel(2, 2, qRgb(10, 20, 30));
    const QString file = dir.path() + "/p.bmp";
    ASSERT_TRUE(picture.save(file));

    TQelImageList images(QSize(4, 4));
    EXPECT_EQ(images.AddFromFile(file), 0);
    EXPECT_EQ(images.AddFromFile(dir.path() + "/none.bmp"), -1);
    WriteFile(dir.path() + "/broken.png", "not a picture");
    EXPECT_EQ(images.AddFromFile(dir.path() + "/broken.png"), -1);
    ASSERT_EQ(images.Count(), 1);
    const QImage shown = images.Icon(0).pixmap(QSize(4, 4)).toImage().convertToFormat(QImage::Format_ARGB32);
    EXPECT_EQ(qAlpha(shown.pixel(0, 0)), 0);
    EXPECT_EQ(qAlpha(shown.pixel(3, 1)), 0);
    EXPECT_EQ(shown.pixel(2, 2), qRgba(10, 20, 30, 255));
}

TEST_F(TMainFormTest, DropsOpenTheFirstExistingFileOnly) {
    TMainForm* form = NewMainForm();
    QTemporaryDir dir;
    const QString photo = dir.path() + QString::fromUtf8("/\xD0\xA4\xD0\xBE\xD1\x82\xD0\xBE.jpg");
    WriteFile(photo, "x");
    WriteFile(dir.path() + "/b.jpg", "x");

    QStringList opened;
    auto drop = [&](const QList<QUrl>& urls) {
        QMimeData data;
        data.setUrls(urls);
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(form, &enter);
        EXPECT_TRUE(enter.isAccepted());
        QDropEvent event(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(form, &event);
        EXPECT_TRUE(event.isAccepted());
    };

    drop({QUrl::fromLocalFile(photo), QUrl::fromLocalFile(dir.path() + "/b.jpg")});
    EXPECT_TRUE(opened.isEmpty());  // no handler yet

    form->OnDropFile = [&](const QString& name) { opened << name; };
    drop({QUrl::fromLocalFile(photo), QUrl::fromLocalFile(dir.path() + "/b.jpg")});
    EXPECT_EQ(opened, QStringList{photo});

    opened.clear();
    drop({QUrl::fromLocalFile(dir.path() + "/missing.jpg"), QUrl::fromLocalFile(photo)});
    drop({QUrl::fromLocalFile(dir.path())});
    drop({QUrl("https://example.invalid/a.jpg")});
    EXPECT_TRUE(opened.isEmpty());
}

TEST_F(TMainFormTest, SettingsNodeHoldsPlacementThenLanguage) {
    TMainForm* form = NewMainForm();
    form->setGeometry(40, 50, 300, 200);
    Loc().SetLanguage(1031);
    const std::vector<uint8_t> bytes = SettingsOf(form);
    ASSERT_EQ(bytes.size(), 77u);
    const std::vector<uint8_t> head = {0xD5, 0x01, 0x0D, 0x10, 0xFF, 0xD7, 0xF6, 0x7A, 0x8B, 0x61,
                                       0xD9, 0x41, 0x88, 0x2E, 0x41, 0x9D, 0x50, 0x0D, 0xF2, 0x8B,
                                       0x55, 0x02, 0x0E, 0x2C};
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 24), head);
    // Length 44, flags 0, shown normally, then the normal rectangle.
    const std::vector<uint8_t> record(bytes.begin() + 24, bytes.begin() + 68);
    EXPECT_EQ(std::vector<uint8_t>(record.begin(), record.begin() + 12),
              (std::vector<uint8_t>{44, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0}));
    EXPECT_EQ(std::vector<uint8_t>(record.begin() + 28, record.end()),
              (std::vector<uint8_t>{40, 0, 0, 0, 50, 0, 0, 0, 0x54, 1, 0, 0, 250, 0, 0, 0}));
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 68, bytes.end()),
              (std::vector<uint8_t>{0x55, 0x01, 0x05, 0x04, 0x07, 0x04, 0x00, 0x00, 0x00}));
}

TEST_F(TMainFormTest, StoredPlacementAndLanguageComeBack) {
    NewMainForm();
    MainForm->setGeometry(60, 70, 320, 240);
    MainForm->setWindowState(Qt::WindowMaximized);
    Loc().SetLanguage(1031);
    const std::vector<uint8_t> stored = SettingsOf(MainForm);
    delete MainForm;
    ASSERT_EQ(MainForm, nullptr);
    Loc().SetLanguage(1033);

    TQelSDFReader reader(stored);
    TMainForm* form = NewMainForm(&reader);
    EXPECT_EQ(form->geometry(), QRect(60, 70, 320, 240));
    EXPECT_TRUE(form->windowState() & Qt::WindowMaximized);
    EXPECT_EQ(Loc().GetCurrentLangId(), 1031);
    EXPECT_EQ(form->FileMenuItem->title(), "Datei");
    EXPECT_TRUE(form->LanguageMenuItem->actions().at(1)->isChecked());
    // The record the next exit writes is the one that was read.
    EXPECT_EQ(SettingsOf(form), stored);
}

TEST_F(TMainFormTest, PlacementIsKeptOnScreenAndDamageIsIgnored) {
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(QelClampRectToArea(QRect(-500, 5000, 100, 80), QRect(0, 0, 800, 600)), QRect(0, 520, 100, 80));
    EXPECT_EQ(QelClampRectToArea(QRect(10, 10, 2000, 100), QRect(0, 0, 800, 600)), QRect(0, 10, 800, 100));
    EXPECT_EQ(QelClampRectToArea(QRect(10, 10, 50, 50), QRect()), QRect(10, 10, 50, 50));
    EXPECT_TRUE(screen.contains(QelClampRectToScreen(QRect(30000, -30000, 200, 100))));

    TMainForm* form = NewMainForm();
    const QRect before = form->geometry();
    auto apply = [&](TQelWindowPlacement p) {
        TQelMemoryOutputStream stream;
        {
            TQelSDFWriter writer(&stream, false);
            writer.BeginNode(1, TQelGuid::Parse("{7AF6D7FF-618B-41D9-882E-419D500DF28B}"));
            const auto bytes = p.ToBytes();
            writer.WriteData(2, bytes.data(), bytes.size());
            writer.EndNode();
        }
        TQelSDFReader reader(stream.Bytes());
        form->LoadSettings(reader);
    };
    TQelWindowPlacement off;
    off.Left = screen.x() + screen.width() + 4000;
    off.Top = screen.y() + screen.height() + 4000;
    off.Right = off.Left + 300;
    off.Bottom = off.Top + 200;
    apply(off);
    EXPECT_TRUE(screen.contains(form->geometry())) << form->geometry().x() << "," << form->geometry().y();
    EXPECT_EQ(form->geometry().size(), QSize(300, 200));

    // Wrong record length field, empty and inverted rectangles: no change.
    form->setGeometry(before);
    TQelWindowPlacement p;
    p.Length = 40;
    p.Left = 1, p.Top = 1, p.Right = 100, p.Bottom = 100;
    apply(p);
    p = TQelWindowPlacement();
    p.Left = 100, p.Top = 100, p.Right = 10, p.Bottom = 10;
    apply(p);
    p.Left = INT32_MIN, p.Top = 0, p.Right = INT32_MAX, p.Bottom = 10;
    apply(p);
    EXPECT_EQ(form->geometry(), before);

    // An element of another length is not a placement.
    TQelMemoryOutputStream stream;
    {
        TQelSDFWriter writer(&stream, false);
        writer.BeginNode(1, TQelGuid::Parse("{7AF6D7FF-618B-41D9-882E-419D500DF28B}"));
        const auto bytes = off.ToBytes();
        writer.WriteData(2, bytes.data(), 43);
        writer.EndNode();
    }
    TQelSDFReader reader(stream.Bytes());
    form->LoadSettings(reader);
    EXPECT_EQ(form->geometry(), before);
}

TEST_F(TMainFormTest, LanguageMenuListsChecksAndSwitches) {
    TMainForm* form = NewMainForm();
    const QList<QAction*> items = form->LanguageMenuItem->actions();
    ASSERT_EQ(Texts(items), (QStringList{"English", "Deutsch"}));
    EXPECT_EQ(items[0]->data().toUInt(), 1033u);
    EXPECT_TRUE(items[0]->isChecked());
    EXPECT_FALSE(items[1]->isChecked());

    items[1]->trigger();
    EXPECT_EQ(Loc().GetCurrentLangId(), 1031);
    EXPECT_FALSE(items[0]->isChecked());
    EXPECT_TRUE(items[1]->isChecked());
    EXPECT_EQ(Texts(form->Menu->actions()), (QStringList{"Datei", "Ansicht", "Hilfe"}));
    EXPECT_EQ(form->ExitMenuItem->text(), "Beenden");
    EXPECT_EQ(form->LanguageMenuItem->title(), "Sprache");

    // Choosing the current language again keeps it checked.
    items[1]->trigger();
    EXPECT_TRUE(items[1]->isChecked());
    items[0]->trigger();
    EXPECT_EQ(form->FileMenuItem->title(), "File");
}

TEST_F(TMainFormTest, LanguageMenuShowsTheLanguageInUse) {
    // A stored id that no file has: the base language stays in use, and its
    // item is the checked one.
    TQelMemoryOutputStream stream;
    {
        TQelSDFWriter writer(&stream, false);
        writer.BeginNode(1, TQelGuid::Parse("{7AF6D7FF-618B-41D9-882E-419D500DF28B}"));
        writer.WriteInteger(1, 9999);
        writer.EndNode();
    }
    TQelSDFReader reader(stream.Bytes());
    TMainForm* form = NewMainForm(&reader);
    EXPECT_EQ(Loc().GetCurrentLangId(), 1033);
    const QList<QAction*> items = form->LanguageMenuItem->actions();
    ASSERT_EQ(items.size(), 2);
    EXPECT_TRUE(items[0]->isChecked());
    EXPECT_FALSE(items[1]->isChecked());
}

TEST_F(TMainFormTest, LanguageMenuWithTwinFiles) {
    WriteFile(Folder.path() + "/German2.ini", "[Language]\nLangId=1031\nLanguage=Deutsch (2)\n");
    Loc().SetLanguage(1031);
    TMainForm* form = NewMainForm();
    const QList<QAction*> items = form->LanguageMenuItem->actions();
    // Each item is captioned by its id, so twins show the first file's name.
    ASSERT_EQ(Texts(items), (QStringList{"English", "Deutsch", "Deutsch"}));
    EXPECT_FALSE(items[0]->isChecked());
    EXPECT_TRUE(items[1]->isChecked());
    EXPECT_TRUE(items[2]->isChecked());
}

TEST_F(TMainFormTest, LanguageMenuWithoutLanguageFiles) {
    QTemporaryDir empty;
    Localizer = std::make_unique<TQelLocalizer>(empty.path(), 1033);
    TMainForm* form = NewMainForm();
    EXPECT_TRUE(form->LanguageMenuItem->actions().isEmpty());
    EXPECT_EQ(form->FileMenuItem->title(), "");
    const std::vector<uint8_t> bytes = SettingsOf(form);
    ASSERT_EQ(bytes.size(), 77u);
    EXPECT_EQ(bytes[72], 0);
}

TEST_F(TMainFormTest, StatusPanelsAndIdleHook) {
    TMainForm* form = NewMainForm();
    TQelStatusPanels& panels = form->StatusPanels();
    const int value = panels.Add(40, Qt::AlignLeft, true);
    panels.SetSize(value, 200);
    EXPECT_EQ(panels.Size(value), 200);
    // Indices outside the panels are ignored, not trusted.
    panels.SetCaption(7, "ignored");
    panels.SetControl(-1, nullptr);
    EXPECT_EQ(panels.Caption(7), "");

    QObject* sender = nullptr;
    form->OnUpdateControls = [&](QObject* s) { sender = s; };
    App.DoIdle();
    EXPECT_EQ(sender, form);
}
