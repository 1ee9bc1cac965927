#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include "Model.h"
#include "QelCursors.h"
#include "QelForms.h"
#include "QelLocalizer.h"
#include "QelMainForm.h"
#include "QelMessageBox.h"

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
    }
    void TearDown() override { QelSetMessageBoxHook(Previous); }

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
    ASSERT_EQ(app.ComponentCount(), 2);
    EXPECT_EQ(app.Components(0), Module);
    EXPECT_EQ(app.Components(1), MainForm);

    // Slot 100 is the hand cursor's, so the colour selector goes above it.
    EXPECT_GT(ColorSelectorCursor, 100);
    const QCursor cursor = TQelCursorRegistry::Instance().Cursor(ColorSelectorCursor);
    EXPECT_EQ(cursor.shape(), Qt::BitmapCursor);
    EXPECT_EQ(cursor.pixmap().size(), QSize(32, 32));
    EXPECT_EQ(cursor.hotSpot(), QPoint(1, 30));

    QTimer::singleShot(0, MainForm, [] { MainForm->close(); });
    app.Run();
    app.DestroyComponents();
    EXPECT_EQ(MainForm, nullptr);
    EXPECT_EQ(Module, nullptr);
    // Nothing in the shell has settings yet, so no file appears.
    EXPECT_FALSE(QFile::exists(app.GetSettingsFileName()));
    EXPECT_TRUE(Messages.isEmpty());
}
