// The editor driven the way a user drives it: the sample portrait opened,
// a brush stroke made with real mouse events on the view, undone and
// redone from the menu, saved and opened again. Runs offscreen and under a
// real X server alike: every position is mapped through the view.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCursor>
#include <QFileInfo>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "QelGraphicsEditor.h"
#include "QelJPEGOptions.h"
#include "QelLocalizer.h"
#include "QelMainForm.h"
#include "QelMessageBox.h"
#include "ScriptedMessageBoxes.h"
#include "ToolTestSupport.h"

namespace {

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

// Presses OK in the JPEG quality dialog whenever it comes up while alive,
// so a save that asks can never block the test.
class TQualityAnswer {
public:
    TQualityAnswer() {
        FTimer.setInterval(10);
        QObject::connect(&FTimer, &QTimer::timeout, [this] {
            if (auto* form = dynamic_cast<TQelJPEGOptionsForm*>(QApplication::activeModalWidget())) {
                ++Shown;
                form->OkButton->click();
            }
        });
        FTimer.start();
    }
    int Shown = 0;

private:
    QTimer FTimer;
};

class EditorEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        App.SetTitle("Visara");
        App.CreateModule(Editor);
        Editor->Initialize();
        App.CreateModule(Brush);
        MainForm->setGeometry(100, 100, 700, 500);
        MainForm->show();
        QApplication::processEvents();
        ParkPointer();
    }
    void TearDown() override {
        App.DestroyComponents();
    }

    // Under a real X server the pointer could rest over the view, and the
    // moves the server reports would then move the brush as well.
    static void ParkPointer() {
        const QRect frame = MainForm->frameGeometry();
        const QScreen* screen = MainForm->screen();
        if (!screen) return;
        const QRect area = screen->geometry();
        for (const QPoint corner : {area.topLeft(), area.bottomRight(), area.topRight(), area.bottomLeft()})
            if (!frame.adjusted(-2, -2, 2, 2).contains(corner)) {
                QCursor::setPos(corner);
                break;
            }
        QApplication::processEvents();
    }

    TQelGraphicsDocument* Open(const QString& fileName) {
        TQelDocument* document = nullptr;
        EXPECT_TRUE(Editor->OpenDocument(fileName, document, true)) << fileName.toStdString();
        QApplication::processEvents();
        return Editor->GetActiveDocument();
    }
    // What a click on a menu item does once idle time has enabled it.
    void Click(QAction* item) {
        App.DoIdle();
        ASSERT_TRUE(item->isEnabled()) << item->objectName().toStdString();
        item->trigger();
        QApplication::processEvents();
    }
    int32_t FormatId(const QString& extension) const {
        TQelFileFormatArray rows;
        Editor->GetFormats()->GetSaveFormats(rows);
        for (const TQelFileFormatInfo& row : rows)
            if (row.Extra == extension) return row.Id;
        ADD_FAILURE() << "no save row for " << extension.toStdString();
        return -100;
    }

    QPoint At(const TQelPoint& p) const {
        const TQelPoint d = Editor->GetActiveView()->MapMode().LogicalToDevice(p);
        return QPoint(d.X, d.Y);
    }
    void Mouse(QEvent::Type type, const TQelPoint& p, Qt::MouseButton button, Qt::MouseButtons buttons) {
        QWidget* client = Editor->GetActiveView()->viewport();
        const QPointF local(At(p));
        QMouseEvent e(type, local, client->mapToGlobal(local), button, buttons, Qt::NoModifier);
        QApplication::sendEvent(client, &e);
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

TEST_F(EditorEndToEnd, StrokeUndoRedoSaveAndReopen) {
    TQelGraphicsDocument* document = Open(QStringLiteral(VISARA_SOURCE_DIR "/data/Images/astronaut.jpg"));
    ASSERT_NE(document, nullptr);
    const TImageBytes original = Snapshot(document);
    ASSERT_EQ(original.Width, 512);
    ASSERT_EQ(original.Height, 512);

    Click(Editor->ActualSizeMenuItem);
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

    Mouse(QEvent::MouseMove, path[0], Qt::NoButton, Qt::NoButton);
    Mouse(QEvent::MouseButtonPress, path[0], Qt::LeftButton, Qt::LeftButton);
    for (size_t i = 1; i < path.size(); ++i) Mouse(QEvent::MouseMove, path[i], Qt::NoButton, Qt::LeftButton);
    Mouse(QEvent::MouseButtonRelease, path.back(), Qt::LeftButton, Qt::NoButton);
    QApplication::processEvents();

    auto* control = dynamic_cast<TQelMaskDrawToolControl*>(Brush->GetControl(0));
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(control->GetBrushPos(), path.back());
    EXPECT_FALSE(document->Modifying);
    EXPECT_EQ(document->History.Count(), 1);

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

    Click(Editor->UndoMenuItem);
    EXPECT_TRUE(Snapshot(document) == original);
    Click(Editor->RedoMenuItem);
    EXPECT_TRUE(Snapshot(document) == stroked);
    EXPECT_FALSE(document->Clean());

    // The opened JPEG saves through its lossless session without asking; a
    // document without one asks for the quality.
    const QString png = Folder.filePath("stroked.png");
    const QString jpeg = Folder.filePath("stroked.jpg");
    const QString encoded = Folder.filePath("encoded.jpg");
    {
        TQualityAnswer answer;
        ASSERT_TRUE(document->SaveAs(png, FormatId(".png")));
        ASSERT_TRUE(document->SaveAs(jpeg, FormatId(".jpg")));
        EXPECT_EQ(answer.Shown, 0);
    }
    EXPECT_TRUE(document->Clean());

    document = Open(png);
    ASSERT_NE(document, nullptr);
    EXPECT_EQ(document->FormatId, FormatId(".png"));
    EXPECT_TRUE(Snapshot(document) == stroked);
    {
        TQualityAnswer answer;
        Editor->Formats->JpegQuality = 90;
        ASSERT_TRUE(document->SaveAs(encoded, FormatId(".jpg")));
        EXPECT_EQ(answer.Shown, 1);
    }

    for (const QString& name : {jpeg, encoded}) {
        document = Open(name);
        ASSERT_NE(document, nullptr);
        EXPECT_EQ(document->FormatId, FormatId(".jpg"));
        EXPECT_LT(MeanAbsDiff(Snapshot(document), stroked), 3.0) << QFileInfo(name).fileName().toStdString();
    }
}
