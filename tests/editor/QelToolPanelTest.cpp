#include <gtest/gtest.h>

#include <QDockWidget>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QScreen>
#include <QScrollArea>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QToolButton>
#include <QVBoxLayout>

#include <memory>
#include <stdexcept>

#include "QelForms.h"
#include "QelLocalizer.h"
#include "QelMainForm.h"
#include "QelToolPanel.h"

namespace {

const TQelGuid PanelGuid = TQelGuid::Parse("{9FC124C8-2014-4832-8878-3489538D623F}");

class TTallFrame : public TQelFrame {
public:
    explicit TTallFrame(QWidget* parent) : TQelFrame(parent) {}
    void Create() override {
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(new QLabel("options"));
        setMinimumHeight(2000);
    }
    void Localize() override { ++Localized; }
    int Localized = 0;
};

class TBrokenFrame : public TQelFrame {
public:
    explicit TBrokenFrame(QWidget* parent) : TQelFrame(parent) {}
    void Create() override { throw std::runtime_error("frame failed"); }
};

class TToolPanelTest : public ::testing::Test {
protected:
    void SetUp() override {
        QFile file(Folder.path() + "/English.ini");
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("[Language]\nLangId=1033\nLanguage=English\n[Strings]\n163=Toolbars\n176=Tools\n");
        file.close();
        QFile german(Folder.path() + "/German.ini");
        ASSERT_TRUE(german.open(QIODevice::WriteOnly));
        german.write("[Language]\nLangId=1031\nLanguage=Deutsch\n[Strings]\n176=Werkzeuge\n");
        german.close();
        Localizer = std::make_unique<TQelLocalizer>(Folder.path(), 1033);
        Images.LoadIndexed(":/icons/toolbar");
        ToolbarImages = &Images;
        App.CreateForm(MainForm);
        App.CreateModule(ToolPanelModule);
        MainForm->Initialize();
        ToolPanelModule->Initialize();
    }
    void TearDown() override {
        App.DestroyComponents();
        ToolbarImages = nullptr;
    }

    TQelPanelState Saved() {
        TQelMemoryOutputStream stream;
        {
            TQelSDFWriter writer(&stream, false);
            ToolPanelModule->SaveSettings(writer);
        }
        TQelSDFReader reader(stream.Bytes());
        EXPECT_TRUE(reader.OpenNode(1, PanelGuid));
        std::array<uint8_t, TQelPanelState::RecordSize> bytes{};
        EXPECT_TRUE(reader.ReadData(1, bytes.data(), bytes.size()));
        LastBytes = bytes;
        return TQelPanelState::FromBytes(bytes);
    }
    void Load(const std::array<uint8_t, TQelPanelState::RecordSize>& bytes, size_t length = 47) {
        TQelMemoryOutputStream stream;
        {
            TQelSDFWriter writer(&stream, false);
            writer.BeginNode(1, PanelGuid);
            writer.WriteData(1, bytes.data(), length);
            writer.EndNode();
        }
        TQelSDFReader reader(stream.Bytes());
        ToolPanelModule->LoadSettings(reader);
    }
    // Lays the window out as it is shown.
    void Show() {
        MainForm->resize(800, 600);
        MainForm->show();
        QCoreApplication::processEvents();
    }
    QAction* AddButtons(int count) {
        QAction* last = nullptr;
        for (int i = 0; i < count; ++i)
            MainForm->AddToolButton(ToolPanelModule->Toolbar, last, nullptr, 20 + i % 11,
                                    QString("Tool %1").arg(i), nullptr, MainForm->GetImages());
        return last;
    }

    QTemporaryDir Folder;
    std::unique_ptr<TQelLocalizer> Localizer;
    TQelImageList Images;
    TQelApplication App;
    std::array<uint8_t, TQelPanelState::RecordSize> LastBytes{};
};

}  // namespace

TEST_F(TToolPanelTest, PanelIsDockedRightWithItsViewItem) {
    TQelToolPanelModule* module = ToolPanelModule;
    ASSERT_NE(module->Panel, nullptr);
    EXPECT_EQ(MainForm->dockWidgetArea(module->Panel), Qt::RightDockWidgetArea);
    EXPECT_EQ(module->Panel->allowedAreas(), Qt::LeftDockWidgetArea | Qt::RightDockWidgetArea);
    EXPECT_FALSE(module->Panel->features() & QDockWidget::DockWidgetFloatable);
    EXPECT_EQ(module->Panel->windowTitle(), "Tools");
    EXPECT_TRUE(module->IsPanelVisible());
    // The View item sits just before the Toolbars submenu.
    const QList<QAction*> view = MainForm->ViewMenuItem->actions();
    ASSERT_GE(view.size(), 2);
    EXPECT_EQ(view[0], module->VisibleMenuItem);
    EXPECT_EQ(view[1], MainForm->ToolbarsMenuItem->menuAction());
    EXPECT_EQ(module->VisibleMenuItem->text(), "Tools");

    Localizer->SetLanguage(1031);
    EXPECT_EQ(module->Panel->windowTitle(), "Werkzeuge");
    EXPECT_EQ(module->VisibleMenuItem->text(), "Werkzeuge");
}

TEST_F(TToolPanelTest, ViewItemFollowsThePanel) {
    Show();
    TQelToolPanelModule* module = ToolPanelModule;
    App.DoIdle();
    EXPECT_TRUE(module->VisibleMenuItem->isChecked());
    // Closed with its own close button.
    module->Panel->close();
    EXPECT_FALSE(module->IsPanelVisible());
    App.DoIdle();
    EXPECT_FALSE(module->VisibleMenuItem->isChecked());
    module->VisibleMenuItem->trigger();
    EXPECT_TRUE(module->IsPanelVisible());
    App.DoIdle();
    EXPECT_TRUE(module->VisibleMenuItem->isChecked());
    module->VisibleMenuItem->trigger();
    EXPECT_FALSE(module->IsPanelVisible());
}

TEST_F(TToolPanelTest, ButtonsWrapIntoRowsAndTheFrameFollows) {
    TQelToolPanelModule* module = ToolPanelModule;
    TQelWrapToolbar* toolbar = module->Toolbar;
    EXPECT_FALSE(toolbar->Wrap());
    module->SetToolbarWrap();
    EXPECT_TRUE(toolbar->Wrap());
    AddButtons(13);
    Show();
    EXPECT_EQ(module->Panel->widget()->width(), 200);
    EXPECT_GT(toolbar->RowCount(), 1);
    EXPECT_EQ(module->ToolFrame->height(), toolbar->height() + 6);
    EXPECT_EQ(toolbar->height(), toolbar->heightForWidth(toolbar->width()));
    // Every button lies inside the toolbar.
    for (QAction* action : toolbar->actions()) {
        QWidget* button = toolbar->WidgetForAction(action);
        ASSERT_NE(button, nullptr);
        EXPECT_TRUE(toolbar->rect().contains(button->geometry())) << action->text().toStdString();
    }
}

TEST_F(TToolPanelTest, WideSeparatorStartsARow) {
    TQelToolPanelModule* module = ToolPanelModule;
    TQelWrapToolbar* toolbar = module->Toolbar;
    module->SetToolbarWrap();
    QAction* first = AddButtons(1);
    QAction* plain = MainForm->AddSeparator(toolbar, nullptr);
    QAction* second = AddButtons(1);
    QAction* wide = MainForm->AddSeparator(toolbar, nullptr);
    toolbar->SetSeparatorSize(wide, 1000);
    QAction* third = AddButtons(1);
    Show();
    QWidget* b1 = toolbar->WidgetForAction(first);
    QWidget* b2 = toolbar->WidgetForAction(second);
    QWidget* b3 = toolbar->WidgetForAction(third);
    // Three buttons would fit into one row; the wide separator breaks it.
    EXPECT_EQ(b1->y(), b2->y());
    EXPECT_GT(b2->x(), b1->x());
    EXPECT_GT(b3->y(), b1->y());
    EXPECT_EQ(b3->x(), 0);
    EXPECT_EQ(toolbar->RowCount(), 2);
    EXPECT_EQ(module->ToolFrame->height(), toolbar->height() + 6);

    // Hidden buttons leave no gap; a separator never opens a row.
    first->setVisible(false);
    QCoreApplication::processEvents();
    EXPECT_EQ(b2->x(), 0);
    EXPECT_EQ(toolbar->RowCount(), 2);
    (void)plain;

    // Without wrapping everything stays in one row.
    toolbar->SetWrap(false);
    EXPECT_EQ(toolbar->RowCount(), 1);
    EXPECT_EQ(b3->y(), b2->y());
}

TEST_F(TToolPanelTest, PanelWidthOnlyGrows) {
    TQelToolPanelModule* module = ToolPanelModule;
    module->SetPanelWidth(220);
    module->SetPanelWidth(210);
    Show();
    QWidget* client = module->Panel->widget();
    EXPECT_EQ(client->minimumWidth(), 220);
    EXPECT_EQ(client->maximumWidth(), 220);
    EXPECT_EQ(client->width(), 220);
    module->SetPanelWidth(272);
    QCoreApplication::processEvents();
    EXPECT_EQ(client->width(), 272);
}

TEST_F(TToolPanelTest, OptionFramesStackBelowTheToolbar) {
    TQelToolPanelModule* module = ToolPanelModule;
    TTallFrame* a = nullptr;
    TTallFrame* b = nullptr;
    EXPECT_EQ(module->CreateToolFrame(a), a);
    module->CreateToolFrame(b);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->Localized, 1);
    auto* stack = module->Panel->findChild<QStackedWidget*>("ToolFrames");
    ASSERT_NE(stack, nullptr);
    EXPECT_EQ(stack->count(), 2);
    module->BringToFront(a);
    auto* host = qobject_cast<QScrollArea*>(stack->currentWidget());
    ASSERT_NE(host, nullptr);
    EXPECT_EQ(host->widget(), a);
    EXPECT_TRUE(host->widgetResizable());

    TBrokenFrame* broken = reinterpret_cast<TBrokenFrame*>(a);
    EXPECT_THROW(module->CreateToolFrame(broken), std::runtime_error);
    EXPECT_EQ(broken, nullptr);
    EXPECT_EQ(stack->count(), 2);

    // The frames go with the module.
    QPointer<TTallFrame> watch(a);
    App.DestroyComponents();
    EXPECT_TRUE(watch.isNull());
}

TEST_F(TToolPanelTest, StateRecordOfADockedPanel) {
    Show();
    const TQelPanelState state = Saved();
    EXPECT_EQ(std::vector<uint8_t>(LastBytes.begin(), LastBytes.begin() + 6),
              (std::vector<uint8_t>{0x2F, 0, 0, 0, 1, 0}));
    EXPECT_EQ(LastBytes[22], 3);
    EXPECT_EQ(state.DockedWidth, ToolPanelModule->Panel->width());

    // Round trip through the other side.
    TQelPanelState left = state;
    left.DockPosition = 2;
    left.Visible = false;
    Load(left.ToBytes());
    EXPECT_EQ(MainForm->dockWidgetArea(ToolPanelModule->Panel), Qt::LeftDockWidgetArea);
    EXPECT_FALSE(ToolPanelModule->IsPanelVisible());
    const TQelPanelState again = Saved();
    EXPECT_EQ(again.DockPosition, 2);
    EXPECT_FALSE(again.Visible);
}

TEST_F(TToolPanelTest, DamagedStateRecordsChangeNothingHarmful) {
    Show();
    TQelPanelState state = Saved();
    // A dock position no panel dock has: still docked right, visibility applied.
    state.DockPosition = 7;
    state.Visible = false;
    Load(state.ToBytes());
    EXPECT_EQ(MainForm->dockWidgetArea(ToolPanelModule->Panel), Qt::RightDockWidgetArea);
    EXPECT_FALSE(ToolPanelModule->IsPanelVisible());

    // Wrong size field or element length: nothing at all.
    state.DockPosition = 2;
    state.Visible = true;
    state.Size = 46;
    Load(state.ToBytes());
    EXPECT_FALSE(TQelToolPanelModule::RestorePanelState(ToolPanelModule->Panel, state));
    state.Size = 47;
    Load(state.ToBytes(), 46);
    EXPECT_EQ(MainForm->dockWidgetArea(ToolPanelModule->Panel), Qt::RightDockWidgetArea);
    EXPECT_FALSE(ToolPanelModule->IsPanelVisible());
}

TEST_F(TToolPanelTest, FloatingPanelComesBackOnScreen) {
    Show();
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    TQelPanelState state;
    state.Visible = true;
    state.Floating = true;
    state.FloatingLeft = 40;
    state.FloatingTop = 30;
    state.FloatingWidth = 220;
    state.FloatingHeight = 300;
    state.DockPosition = 9;  // ignored while floating
    Load(state.ToBytes());
    QDockWidget* panel = ToolPanelModule->Panel;
    EXPECT_TRUE(panel->isFloating());
    EXPECT_EQ(panel->geometry(), QRect(40, 30, 220, 300));
    const TQelPanelState saved = Saved();
    EXPECT_TRUE(saved.Floating);
    EXPECT_EQ(saved.FloatingLeft, 40);
    EXPECT_EQ(saved.FloatingHeight, 300);

    state.FloatingLeft = -100000;
    state.FloatingTop = 100000;
    state.FloatingWidth = -5;
    Load(state.ToBytes());
    EXPECT_TRUE(screen.contains(panel->geometry()));
    EXPECT_GT(panel->width(), 0);

    // Docked again from a docked record.
    TQelPanelState docked;
    docked.Visible = true;
    docked.DockPosition = 3;
    Load(docked.ToBytes());
    EXPECT_FALSE(panel->isFloating());
    EXPECT_EQ(MainForm->dockWidgetArea(panel), Qt::RightDockWidgetArea);
}
