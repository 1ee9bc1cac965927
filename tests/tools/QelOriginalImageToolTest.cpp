#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QToolBar>
#include <QToolButton>

#include <string>
#include <vector>

#include "../editor/ToolTestSupport.h"
#include "AdjustToolFixture.h"
#include "QelDemoPlayback.h"
#include "QelDemoScript.h"
#include "QelLocalizer.h"
#include "QelMainForm.h"
#include "QelOriginalImageTool.h"
#include "ScriptedMessageBoxes.h"

namespace {

const QColor OriginalColour(10, 20, 30);
const QColor EditedColour(200, 100, 50);

// The real editor, the original-image tool and a brush above it, with a
// picture whose image was edited away from its original.
class TOriginalImageTest : public TAdjustToolTest {
protected:
    void SetUp() override {
        TAdjustToolTest::SetUp();
        AddTool(Original);
        Brush = App.CreateComponent<TTestBrushTool>();
        // Wide enough for the whole standard toolbar.
        MainForm->setGeometry(50, 50, 1200, 500);
        QImage image(60, 40, QImage::Format_RGB888);
        image.fill(OriginalColour);
        Doc = OpenImage(image, QStringLiteral("p.png"));
        ASSERT_NE(Doc, nullptr);
        for (int32_t y = 0; y < 40; ++y)
            for (int32_t x = 0; x < 60; ++x) {
                uint8_t* p = Doc->GetPixels()->PixelAddress(x, y);
                p[0] = uint8_t(EditedColour.blue());
                p[1] = uint8_t(EditedColour.green());
                p[2] = uint8_t(EditedColour.red());
            }
        Doc->SyncBackup();
        QApplication::processEvents();
        View()->ActualSize();
        Editor->SetActiveTool(Brush);
    }

    void Key(QEvent::Type type, int key, bool repeat = false) { SendKey(View(), type, key, repeat); }
    // The colour the view shows at the image's centre.
    QColor Shown() {
        const TQelPoint p = At(30, 20);
        return View()->viewport()->grab().toImage().pixelColor(p.X, p.Y);
    }
    void ButtonMouse(QEvent::Type type, QPoint pos, Qt::MouseButtons buttons) {
        SendMouse(Original->ButtonWidget, type, pos, Qt::LeftButton, buttons);
    }

    TQelOriginalImageTool* Original = nullptr;
    TTestBrushTool* Brush = nullptr;
    TQelGraphicsDocument* Doc = nullptr;
};

}  // namespace

TEST_F(TOriginalImageTest, TheOriginalShowsWhileOIsHeld) {
    EXPECT_EQ(Shown(), EditedColour);
    // Released while not current: nothing.
    Key(QEvent::KeyRelease, Qt::Key_O);
    EXPECT_EQ(Editor->ActiveTool, Brush);

    Key(QEvent::KeyPress, Qt::Key_O);
    EXPECT_EQ(Editor->ActiveTool, Original);
    EXPECT_FALSE(View()->DocumentObject->GetVisible());
    EXPECT_EQ(Shown(), OriginalColour);
    // The held key repeats its press only; neither toggles the view.
    for (int i = 0; i < 3; ++i) {
        Key(QEvent::KeyRelease, Qt::Key_O, true);
        Key(QEvent::KeyPress, Qt::Key_O, true);
    }
    EXPECT_EQ(Editor->ActiveTool, Original);
    EXPECT_EQ(Shown(), OriginalColour);

    Key(QEvent::KeyRelease, Qt::Key_O);
    EXPECT_EQ(Editor->ActiveTool, Brush);
    EXPECT_TRUE(View()->DocumentObject->GetVisible());
    EXPECT_EQ(View()->DocumentObject->Bounds, Doc->Image.GetBoundsRect());
    EXPECT_EQ(Shown(), EditedColour);
    // No undo state either way.
    EXPECT_EQ(Doc->History.Count(), 0);
}

// A tutorial stopped while it holds the button (or a box that opens while O
// is held): the modal box takes the release, and the edited image comes back.
TEST_F(TOriginalImageTest, AModalBoxWhileTheOriginalShowsBringsTheEditedImageBack) {
    const QPoint centre = Original->ButtonWidget->rect().center();
    for (const bool byKey : {false, true}) {
        if (byKey)
            Key(QEvent::KeyPress, Qt::Key_O);
        else
            ButtonMouse(QEvent::MouseButtonPress, centre, Qt::LeftButton);
        App.DoIdle();
        ASSERT_EQ(Editor->ActiveTool, Original);
        {
            QDialog box(MainForm);
            box.setModal(true);
            box.show();
            ASSERT_EQ(QApplication::activeModalWidget(), &box);
            App.DoIdle();
        }
        EXPECT_EQ(Editor->ActiveTool, Brush) << byKey;
        EXPECT_FALSE(Original->ButtonWidget->isDown());
        EXPECT_EQ(Shown(), EditedColour);
        // The late release changes nothing.
        if (byKey)
            Key(QEvent::KeyRelease, Qt::Key_O);
        else
            ButtonMouse(QEvent::MouseButtonRelease, centre, Qt::NoButton);
        EXPECT_EQ(Editor->ActiveTool, Brush);
    }
}

TEST_F(TOriginalImageTest, TheButtonShowsTheOriginalWhileHeldAndRecordsIt) {
    ASSERT_NE(Original->Button, nullptr);
    ASSERT_NE(Original->ButtonWidget, nullptr);
    EXPECT_EQ(Original->ButtonWidget->toolButtonStyle(), Qt::ToolButtonTextOnly);
    TQelDemoPlayback recorder;
    std::vector<std::string> lines;
    recorder.OnRecordLine = [&](TQelDemoPlayback*, int, const QByteArray& line) { lines.push_back(line.toStdString()); };
    ASSERT_TRUE(recorder.StartRecording(0));
    Original->StartRecording(&recorder);

    const QPoint centre = Original->ButtonWidget->rect().center();
    ButtonMouse(QEvent::MouseButtonPress, centre, Qt::LeftButton);
    EXPECT_EQ(Editor->ActiveTool, Original);
    App.DoIdle();
    EXPECT_TRUE(Original->Button->isChecked());
    EXPECT_EQ(lines, (std::vector<std::string>{"MouseCurvedMove OriginalImage", "MouseDown",
                                               "Message \"Original Image\"", "MouseUp",
                                               "Message \"Corrected Image\""}));
    // Dragged off the held button: the edited image again; back on it: the
    // original.
    ButtonMouse(QEvent::MouseMove, QPoint(-50, -50), Qt::LeftButton);
    EXPECT_EQ(Editor->ActiveTool, Brush);
    ButtonMouse(QEvent::MouseMove, centre, Qt::LeftButton);
    EXPECT_EQ(Editor->ActiveTool, Original);
    ButtonMouse(QEvent::MouseButtonRelease, centre, Qt::NoButton);
    EXPECT_EQ(Editor->ActiveTool, Brush);
    App.DoIdle();
    EXPECT_FALSE(Original->Button->isChecked());
    EXPECT_TRUE(Original->Button->isEnabled());

    // Scripts find the button but cannot run the tool by name.
    TQelDemoScriptParams params;
    params.ParseText("OriginalImageButton");
    QPoint point;
    bool handled = false;
    Original->GetCommandPoint(&recorder, params, point, handled);
    EXPECT_TRUE(handled);
    EXPECT_EQ(point, Original->ButtonWidget->mapToGlobal(centre));
    handled = false;
    Original->ExecuteCommand(&recorder, "ORIGINALIMAGE", TQelDemoScriptParams(), nullptr, handled);
    EXPECT_FALSE(handled);
    Original->StopRecording(&recorder);
    recorder.StopRecording();
}
