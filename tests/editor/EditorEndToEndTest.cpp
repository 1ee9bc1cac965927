// The editor driven as a user drives it, through a real X server: the photo
// named on the command line, Actual Size, a brush stroke, undo and redo from
// the menu and keys, Save As through the program's dialogs, each file reopened.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QTemporaryDir>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "QelDialogs.h"
#include "QelGraphicsEditor.h"
#include "QelJPEGOptions.h"
#include "QelLocalizer.h"
#include "QelMainForm.h"
#include "QelMessageBox.h"
#include "ScriptedMessageBoxes.h"
#include "ToolTestSupport.h"
#include "X11Session.h"

namespace {

using namespace X11Session;
// The image's rows without padding, B, G, R per pixel.
struct TImageBytes {
    int32_t Width = 0;
    int32_t Height = 0;
    std::vector<uint8_t> Bytes;

    const uint8_t* At(int32_t x, int32_t y) const { return &Bytes[(size_t(y) * size_t(Width) + size_t(x)) * 3]; }
    bool operator==(const TImageBytes&) const = default;
};

TImageBytes Snapshot(const TQelGraphicsDocument* document) {
    TImageBytes result;
    const TQelPixels* pixels = document ? document->GetPixels() : nullptr;
    if (!pixels || !pixels->Bits || pixels->BytesPerPixel != 3) return result;
    result.Width = pixels->Width;
    result.Height = pixels->Height;
    result.Bytes.resize(size_t(pixels->Width) * size_t(pixels->Height) * 3);
    const size_t row = size_t(pixels->Width) * 3;
    for (int32_t y = 0; y < pixels->Height; ++y)
        std::memcpy(&result.Bytes[size_t(y) * row], pixels->PixelAddress(pixels->Left, pixels->Top + y), row);
    return result;
}

double MeanAbsDiff(const TImageBytes& a, const TImageBytes& b) {
    if (a.Width != b.Width || a.Height != b.Height || a.Bytes.empty()) return 1e9;
    double sum = 0;
    for (size_t i = 0; i < a.Bytes.size(); ++i) sum += std::abs(int(a.Bytes[i]) - int(b.Bytes[i]));
    return sum / double(a.Bytes.size());
}

class EditorEndToEndX11 : public ::testing::Test {
protected:
    void SetUp() override {
        X11_SESSION_REQUIRED();
        if (QCoreApplication::arguments().value(1).isEmpty())
            GTEST_SKIP() << "ctest names the photo on the test program's command line";
        App.SetTitle("Visara");
        App.CreateModule(Editor);
        App.CreateModule(Brush);
        MainForm->setGeometry(100, 100, 700, 500);
        // As the program starts: the settings cycle opens the file named on the command line.
        App.LoadSettings();
        MainForm->show();
        ASSERT_TRUE(WaitForWindow(MainForm, true));
    }
    void TearDown() override { App.DestroyComponents(); }

    static QMenuBar* Bar() { return MainForm->menuBar(); }
    TQelGraphicsDocument* Open(const QString& fileName) {
        TQelDocument* document = nullptr;
        EXPECT_TRUE(Editor->OpenDocument(fileName, document, true)) << fileName.toStdString();
        return Editor->GetActiveDocument();
    }
    // The save dialog's row for the extension, and its format's id.
    std::pair<int, int32_t> SaveFormat(const QString& extension) const {
        TQelFileFormatArray rows;
        Editor->GetFormats()->GetSaveFormats(rows);
        for (qsizetype i = 0; i < rows.size(); ++i)
            if (rows[i].Extra == extension) return {int(i), rows[i].Id};
        ADD_FAILURE() << "no save row for " << extension.toStdString();
        return {-1, -100};
    }

    // File > Save As..., the type chosen, the name typed over the one offered, Return.
    bool SaveAs(const QString& name, const QString& extension) {
        TQelDocument* document = Editor->GetActiveDocument();
        TModalAnswer<TQelSaveDialog> dialog([&](TQelSaveDialog& d) {
            auto* types = d.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
            auto* edit = d.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            ASSERT_TRUE(types && edit);
            // First the type: choosing it changes the extension in the name.
            ASSERT_TRUE(ChooseRow(types, SaveFormat(extension).first));
            X11Session::Click(CenterOf(edit));
            ASSERT_TRUE(WaitUntil([edit] { return edit->hasFocus(); }));
            Key("Control_L+a");
            TypeText(name);
            ASSERT_TRUE(WaitUntil([&] { return edit->text() == name; })) << edit->text().toStdString();
            Key("Return");
            EXPECT_TRUE(WaitUntil([&] { return !d.isVisible(); }));
        });
        // Returns once the dialogs have closed and the save is over.
        if (!ChooseMenuItem(Bar(), Editor->SaveAsMenuItem)) return false;
        EXPECT_EQ(dialog.Answered(), 1);
        return QFileInfo(name).isFile() && document->Clean();
    }

    // No message box is expected at all: any box fails the test.
    TScriptedMessageBoxes Scripted;
    TQelLocalizer Localizer{QStringLiteral(VISARA_SOURCE_DIR "/data/Languages"), 1033};
    TQelApplication App;
    TQelGraphicsEditor* Editor = nullptr;
    TTestBrushTool* Brush = nullptr;
    QTemporaryDir Folder;
};

}  // namespace

TEST_F(EditorEndToEndX11, StrokeUndoRedoSaveAsAndReopen) {
    TQelGraphicsDocument* document = Editor->GetActiveDocument();
    ASSERT_NE(document, nullptr) << "the photo named on the command line was not opened";
    const TImageBytes original = Snapshot(document);
    ASSERT_EQ(original.Width, 512);
    ASSERT_EQ(original.Height, 512);

    ASSERT_TRUE(ChooseMenuItem(Bar(), Editor->ActualSizeMenuItem));
    TQelGraphicsView* view = Editor->GetActiveView();
    ASSERT_EQ(view->CompareScale(1, 1), 0);

    // Positions in the visible part of the image, further apart than the
    // brush is wide, so any painting between them would show.
    const int32_t size = 9, half = size / 2;
    Brush->SetSize(size);
    Brush->SetHardness(255);
    Brush->MakeCurrent();
    const TQelPoint topLeft = view->MapMode().DeviceToLogical(TQelPoint{0, 0});
    const TQelPoint bottomRight =
        view->MapMode().DeviceToLogical(TQelPoint{view->viewport()->width(), view->viewport()->height()});
    TQelRect visible(topLeft.X, topLeft.Y, bottomRight.X, bottomRight.Y);
    QelIntersectRect(visible, visible, TQelRect(0, 0, original.Width, original.Height));
    ASSERT_GE(visible.Width(), 140);
    ASSERT_GE(visible.Height(), 80);
    const int32_t cx = (visible.Left + visible.Right) / 2, cy = (visible.Top + visible.Bottom) / 2;
    const std::vector<TQelPoint> path = {{cx - 60, cy - 20}, {cx - 30, cy - 20}, {cx, cy + 5}, {cx + 40, cy + 5}};
    QList<QPoint> screenPath;
    for (const TQelPoint& p : path) {
        const TQelPoint d = view->MapMode().LogicalToDevice(p);
        screenPath.append(view->viewport()->mapToGlobal(QPoint(d.X, d.Y)));
    }

    Drag(screenPath);
    ASSERT_TRUE(WaitUntil([&] { return document->History.Count() == 1 && !document->Modifying; }));
    auto* control = dynamic_cast<TQelMaskDrawToolControl*>(Brush->GetControl(0));
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(control->GetBrushPos(), path.back());

    // Every footprint is painted red at its centre; nothing outside the
    // footprints changed.
    const TImageBytes stroked = Snapshot(document);
    ASSERT_EQ(stroked.Width, original.Width);
    const uint8_t red[3] = {0, 0, 255};
    for (const TQelPoint& p : path) EXPECT_EQ(std::memcmp(stroked.At(p.X, p.Y), red, 3), 0) << p.X << "," << p.Y;
    int strays = 0;
    for (int32_t y = 0; y < original.Height; ++y)
        for (int32_t x = 0; x < original.Width; ++x) {
            if (std::memcmp(stroked.At(x, y), original.At(x, y), 3) == 0) continue;
            bool inside = false;
            for (const TQelPoint& p : path) inside |= std::abs(x - p.X) <= half && std::abs(y - p.Y) <= half;
            strays += !inside;
        }
    EXPECT_EQ(strays, 0);

    const auto shows = [&](const TImageBytes& image) { return WaitUntil([&] { return Snapshot(document) == image; }); };
    ASSERT_TRUE(ChooseMenuItem(Bar(), Editor->UndoMenuItem));
    EXPECT_TRUE(shows(original)) << "Edit > Undo";
    ASSERT_TRUE(ChooseMenuItem(Bar(), Editor->RedoMenuItem));
    EXPECT_TRUE(shows(stroked)) << "Edit > Redo";
    Key("Control_L+z");
    EXPECT_TRUE(shows(original)) << "Ctrl+Z";
    Key("Control_L+y");
    EXPECT_TRUE(shows(stroked)) << "Ctrl+Y";
    EXPECT_FALSE(document->Clean());

    // The opened JPEG saves through its lossless session without asking; a
    // document without one asks for the quality.
    TModalAnswer<TQelJPEGOptionsForm> quality([](TQelJPEGOptionsForm& form) {
        X11Session::Click(CenterOf(form.OkButton));
        EXPECT_TRUE(WaitUntil([&] { return !form.isVisible(); }));
    });
    const QString png = Folder.filePath("stroked.png");
    const QString jpeg = Folder.filePath("stroked.jpg");
    const QString encoded = Folder.filePath("encoded.jpg");
    ASSERT_TRUE(SaveAs(png, ".png"));
    ASSERT_TRUE(SaveAs(jpeg, ".jpg"));
    EXPECT_EQ(quality.Answered(), 0);

    document = Open(png);
    ASSERT_NE(document, nullptr);
    EXPECT_EQ(document->FormatId, SaveFormat(".png").second);
    EXPECT_TRUE(Snapshot(document) == stroked);
    Editor->Formats->JpegQuality = 90;
    ASSERT_TRUE(SaveAs(encoded, ".jpg"));
    EXPECT_EQ(quality.Answered(), 1);

    for (const QString& name : {jpeg, encoded}) {
        document = Open(name);
        ASSERT_NE(document, nullptr);
        EXPECT_EQ(document->FormatId, SaveFormat(".jpg").second);
        EXPECT_LT(MeanAbsDiff(Snapshot(document), stroked), 3.0) << QFileInfo(name).fileName().toStdString();
    }
}
