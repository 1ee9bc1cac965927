#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QFileSystemModel>
#include <QFontInfo>
#include <QGridLayout>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "QelDialogs.h"
#include "QelError.h"
#include "QelForms.h"

namespace {

bool WaitUntil(const std::function<bool()>& Done, int TimeoutMs = 3000) {
    QElapsedTimer timer;
    timer.start();
    while (!Done()) {
        if (timer.elapsed() > TimeoutMs) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}

void Settle(int Ms) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < Ms) {
        QApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
}

// Runs Action on the box once its modal loop runs.
void WhenModal(std::function<void(QDialog*)> Action) {
    QTimer::singleShot(0, [Action] {
        auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        Action(box);
    });
}

QList<QPushButton*> Buttons(QDialog* Box) { return Box->findChildren<QPushButton*>(); }

// --- message box ---------------------------------------------------------

int MeasuredHeight(QDialog* Box, const QString& Text) {
    return Box->fontMetrics().boundingRect(QRect(0, 0, 400, INT_MAX / 2), Qt::TextWordWrap, Text).height();
}

TEST(QelMessageBox, ButtonsAnswerTheirIndexAndTheFrameAnswersOne) {
    QSize client;
    std::vector<QRect> geometry;
    WhenModal([&](QDialog* box) {
        client = box->size();
        for (QPushButton* b : Buttons(box)) geometry.push_back(b->geometry());
        Buttons(box).at(2)->click();
    });
    EXPECT_EQ(ShowMessageBox("T", "Hi", {"A", "B", "C"}), 2);
    EXPECT_EQ(client.width(), 348);  // the buttons are wider than the text
    ASSERT_EQ(geometry.size(), 3u);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(geometry[i], QRect(16 + 108 * i, client.height() - 34, 100, 24)) << i;

    bool openAfterEscape = false;
    WhenModal([&](QDialog* box) {
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(box, &escape);
        openAfterEscape = box->isVisible();
        box->close();
    });
    EXPECT_EQ(ShowMessageBox("T", "No buttons", {}), 1);
    EXPECT_TRUE(openAfterEscape);
    WhenModal([](QDialog* box) { box->close(); });
    EXPECT_EQ(ShowMessageBox("T", "x", {"Only"}), 1);
}

TEST(QelMessageBox, CheckBoxTakesAndGivesItsState) {
    bool state = false;
    QPoint checkAt;
    int textHeight = 0;
    WhenModal([&](QDialog* box) {
        textHeight = MeasuredHeight(box, "Text");
        auto* check = box->findChild<QCheckBox*>();
        EXPECT_FALSE(check->isChecked());
        checkAt = check->pos();
        check->click();
        Buttons(box).at(0)->click();
    });
    EXPECT_EQ(ShowMessageBox("T", "Text", {"A", "B"}, TQelIconRef(), QString("Do not ask again"), &state), 0);
    EXPECT_TRUE(state);
    EXPECT_EQ(checkAt, QPoint(16, textHeight + 20));

    WhenModal([](QDialog* box) {
        EXPECT_TRUE(box->findChild<QCheckBox*>()->isChecked());
        box->close();
    });
    EXPECT_EQ(ShowMessageBox("T", "Text", {"A", "B"}, TQelIconRef(), QString("Again"), &state), 1);
    EXPECT_TRUE(state);
}

TEST(QelMessageBox, LongTextWrapsAtFourHundredAndAnIconKeepsItsRoom) {
    QString text;
    for (int i = 0; i < 200; ++i) text += QStringLiteral("word%1 ").arg(i);
    QSize client;
    QRect measured;
    WhenModal([&](QDialog* box) {
        client = box->size();
        measured = box->fontMetrics().boundingRect(QRect(0, 0, 400, INT_MAX / 2), Qt::TextWordWrap, text);
        Buttons(box).at(0)->click();
    });
    EXPECT_EQ(ShowMessageBox("T", text, {"OK"}), 0);
    EXPECT_LE(measured.width(), 400);
    EXPECT_GT(measured.height(), 3 * QFontMetrics(QApplication::font()).height());
    EXPECT_EQ(client, QSize(measured.width() + 32, measured.height() + 66));

    // An icon that cannot be found still takes its room.
    QRect check;
    int textHeight = 0;
    WhenModal([&](QDialog* box) {
        client = box->size();
        textHeight = MeasuredHeight(box, "Hi");
        check = box->findChild<QCheckBox*>()->geometry();
        box->close();
    });
    EXPECT_EQ(ShowMessageBox("T", "Hi", {"A", "B", "C"}, TQelIconRef("no-such-icon"), QString("c")), 1);
    const int h = std::max(textHeight, TQelMessageBox::IconSize);
    EXPECT_EQ(client, QSize(316 + 32 + 48, h + 66 + check.height()));
    EXPECT_EQ(check.topLeft(), QPoint(32 + 32, h + 24));
    EXPECT_TRUE(TQelMessageBox::LoadIcon(TQelIconRef(40000)).isNull());
}

// --- file dialogs --------------------------------------------------------

// Fills its picture 10 pixels inside the bounds in red.
class TTestThumbnail : public TQelThumbnail {
public:
    explicit TTestThumbnail(QString NewName) : Name(std::move(NewName)) {}
    void Draw(QPainter& DC, const TQelRect& Bounds, TQelRect& DrawnRect) override {
        DrawnRect = TQelRect(Bounds.Left + 10, Bounds.Top + 10, Bounds.Right - 10, Bounds.Bottom - 10);
        DC.fillRect(QRect(DrawnRect.Left, DrawnRect.Top, DrawnRect.Width(), DrawnRect.Height()), Qt::red);
    }
    const QString Name;
};

class TTestInfo : public TQelFileInfo {
public:
    using TQelFileInfo::TQelFileInfo;
    void GetDescription(QString& Text) const override { Text = "Picture " + FileName; }
};

struct TThumbCall {
    QString Name;
    int32_t Width;
    int32_t Height;
};

// The program's four formats. Names starting with "dir" are folders,
// "throw" fails with an exception, "slow" builds for half a second, and a
// closed name waits until the test opens it.
class TTestFormats : public TQelFileFormats {
public:
    int32_t Count() const override { return int32_t(FRows.size()); }
    const TQelFileFormatInfo* Items(int32_t i) const override { return i >= 0 && i < Count() ? &FRows[i] : nullptr; }

    bool GetFileInfo(const QString& FileName, std::unique_ptr<TQelFileInfo>& Info) const override {
        if (FileName.isEmpty() || FileName.startsWith("dir")) return false;
        Info = std::make_unique<TTestInfo>(FileName);
        return true;
    }

    bool GetThumbnail(const QString& FileName, int32_t Width, int32_t Height,
                      std::unique_ptr<TQelThumbnail>& Thumbnail) const override {
        std::unique_lock<std::mutex> lock(FMutex);
        FCalls.push_back({FileName, Width, Height});
        FChanged.notify_all();
        FChanged.wait(lock, [&] { return !FClosed.count(FileName); });
        lock.unlock();
        if (FileName == "slow") std::this_thread::sleep_for(std::chrono::milliseconds(500));
        lock.lock();
        ++FFinished;
        if (FileName.startsWith("throw")) throw EQelError("damaged");
        Thumbnail = std::make_unique<TTestThumbnail>(FileName);
        return true;
    }

    void Close(const QString& Name) {
        std::lock_guard<std::mutex> lock(FMutex);
        FClosed.insert(Name);
    }
    void Open(const QString& Name) {
        std::lock_guard<std::mutex> lock(FMutex);
        FClosed.erase(Name);
        FChanged.notify_all();
    }
    bool WaitStarted(const QString& Name) {
        std::unique_lock<std::mutex> lock(FMutex);
        return FChanged.wait_for(lock, std::chrono::seconds(3), [&] {
            return std::any_of(FCalls.begin(), FCalls.end(), [&](const TThumbCall& c) { return c.Name == Name; });
        });
    }
    std::vector<TThumbCall> Calls() const {
        std::lock_guard<std::mutex> lock(FMutex);
        return FCalls;
    }
    int Finished() const {
        std::lock_guard<std::mutex> lock(FMutex);
        return FFinished;
    }

private:
    TQelFileFormatArray FRows{{0, "JPEG", "*.JPG;*.JPEG", "jpg"},
                              {1, "TIFF", "*.TIF;*.TIFF", "tif"},
                              {2, "PNG", "*.PNG", "png"},
                              {3, "Bitmap", "*.BMP;*.RLE;*.DIB", "bmp"}};
    mutable std::mutex FMutex;
    mutable std::condition_variable FChanged;
    std::set<QString> FClosed;
    mutable std::vector<TThumbCall> FCalls;
    mutable int FFinished = 0;
};

QString ShownName(const TQelOpenDialog& Dialog) {
    const auto* thumb = dynamic_cast<const TTestThumbnail*>(Dialog.Thumbnail());
    return thumb ? thumb->Name : QString();
}

bool NeverBuilt(const TTestFormats& Formats, const QString& Name) {
    const std::vector<TThumbCall> calls = Formats.Calls();
    return std::none_of(calls.begin(), calls.end(), [&](const TThumbCall& c) { return c.Name == Name; });
}

struct TDialogFixture : ::testing::Test {
    TTestFormats Formats;
    std::unique_ptr<TQelOpenDialog> Dialog{QelCreateForm<TQelOpenDialog>(nullptr, &Formats)};

    void SetUp() override { Dialog->PaintBox()->resize(100, 80); }

    QImage Paint() {
        QImage image(Dialog->PaintBox()->size(), QImage::Format_RGB32);
        image.fill(Qt::green);
        QPainter painter(&image);
        Dialog->PaintPreview(painter);
        return image;
    }
};

TEST_F(TDialogFixture, OpenAndSaveFilters) {
    const QStringList open = Dialog->nameFilters();
    ASSERT_EQ(open.size(), 6);
    EXPECT_EQ(open[0], "JPEG (*.JPG *.JPEG)");
    EXPECT_TRUE(open[4].endsWith("(*.JPG *.JPEG *.TIF *.TIFF *.PNG *.BMP *.RLE *.DIB)")) << open[4].toStdString();
    EXPECT_EQ(Dialog->FilterIndex(), 5);
    EXPECT_EQ(Dialog->selectedNameFilter(), open[4]);
    Dialog->SetFilterIndex(2);
    Dialog->SetFilterIndex(99);  // out of range: unchanged
    EXPECT_EQ(Dialog->FilterIndex(), 2);
    QTimer::singleShot(0, Dialog.get(), [this] { Dialog->done(QDialog::Rejected); });
    EXPECT_FALSE(Dialog->Execute());
    EXPECT_EQ(Dialog->windowTitle(), "Open");

    std::unique_ptr<TQelSaveDialog> save(QelCreateForm<TQelSaveDialog>(nullptr, &Formats));
    EXPECT_EQ(save->nameFilters().size(), 4);
    EXPECT_EQ(save->FilterIndex(), 1);
    QTemporaryDir dir;
    save->SetFileName(dir.filePath("portrait"));
    QTimer::singleShot(0, save.get(), [&] { save->done(QDialog::Accepted); });
    EXPECT_TRUE(save->Execute());
    EXPECT_EQ(save->windowTitle(), "Save");
    EXPECT_EQ(save->acceptMode(), QFileDialog::AcceptSave);
    EXPECT_EQ(save->FileName(), dir.filePath("portrait"));
}

TEST_F(TDialogFixture, MasksMatchWhateverTheCase) {
    QTemporaryDir dir;
    for (const char* name : {"a.jpg", "B.JPG", "c.Png", "d.txt"}) QFile(dir.filePath(name)).open(QIODevice::WriteOnly);
    auto* model = Dialog->findChild<QFileSystemModel*>();
    ASSERT_NE(model, nullptr);
    Dialog->setDirectory(dir.path());
    QModelIndex root;
    ASSERT_TRUE(WaitUntil([&] {
        root = model->index(dir.path());
        if (model->canFetchMore(root)) model->fetchMore(root);
        return model->rowCount(root) >= 3;
    }));
    Settle(50);
    QStringList shown;
    for (int i = 0; i < model->rowCount(root); ++i) shown << model->index(i, 0, root).data().toString();
    shown.sort();
    EXPECT_EQ(shown, QStringList({"B.JPG", "a.jpg", "c.Png"}));
}

TEST_F(TDialogFixture, PanelSitsBesideTheListAndSizesItsPictureOnShow) {
    auto* grid = qobject_cast<QGridLayout*>(Dialog->layout());
    ASSERT_NE(grid, nullptr);
    EXPECT_GE(grid->indexOf(Dialog->Panel()), 0);
    Dialog->resize(800, 500);
    Dialog->show();
    const int px = QFontInfo(Dialog->InfoLabel()->font()).pixelSize();
    EXPECT_EQ(Dialog->PaintBox()->geometry(),
              QRect(6, 6, Dialog->Panel()->width() - 12, Dialog->Panel()->height() - QelRoundEven(7 * px * 1.25)));
    EXPECT_EQ(Dialog->InfoLabel()->geometry().top(), 6 + Dialog->PaintBox()->height());
    EXPECT_GT(Dialog->Panel()->geometry().left(), Dialog->width() / 2);
    Dialog->done(QDialog::Rejected);
}

TEST_F(TDialogFixture, SelectionDescribesTheFileAndPaintsItsPreview) {
    Dialog->SelectionChanged("a.jpg");
    EXPECT_EQ(Dialog->InfoLabel()->text(), "\nPicture a.jpg");
    ASSERT_TRUE(WaitUntil([&] { return ShownName(*Dialog) == "a.jpg"; }));
    ASSERT_EQ(Formats.Calls().size(), 1u);
    EXPECT_EQ(Formats.Calls()[0].Width, 98);  // inside the frame
    EXPECT_EQ(Formats.Calls()[0].Height, 78);

    const QPalette& palette = Dialog->PaintBox()->palette();
    QImage image = Paint();
    EXPECT_EQ(image.pixel(50, 40), QColor(Qt::red).rgb());
    EXPECT_EQ(image.pixel(5, 40), palette.color(QPalette::Window).rgb());
    EXPECT_EQ(image.pixel(0, 0), palette.color(QPalette::Dark).rgb());
    EXPECT_EQ(image.pixel(99, 79), palette.color(QPalette::Dark).rgb());

    // A folder clears the label and the preview; only the frame remains.
    Dialog->SelectionChanged("dir");
    EXPECT_EQ(Dialog->InfoLabel()->text(), "");
    EXPECT_EQ(Dialog->Thumbnail(), nullptr);
    image = Paint();
    EXPECT_EQ(image.pixel(50, 40), QColor(Qt::green).rgb());
    EXPECT_EQ(image.pixel(0, 40), palette.color(QPalette::Dark).rgb());

    // A preview that fails with an exception leaves the preview empty.
    Dialog->SelectionChanged("throw.jpg");
    ASSERT_TRUE(WaitUntil([&] { return Formats.Finished() == 2; }));
    Settle(30);
    EXPECT_EQ(Dialog->Thumbnail(), nullptr);
}

TEST_F(TDialogFixture, QuickSelectionsShowOnlyTheLastFile) {
    Formats.Close("a.jpg");
    Dialog->SelectionChanged("a.jpg");
    ASSERT_TRUE(Formats.WaitStarted("a.jpg"));
    Dialog->SelectionChanged("b.jpg");
    Dialog->SelectionChanged("c.jpg");
    Formats.Open("a.jpg");
    ASSERT_TRUE(WaitUntil([&] { return ShownName(*Dialog) == "c.jpg"; }));
    Settle(50);
    EXPECT_EQ(ShownName(*Dialog), "c.jpg");
    EXPECT_TRUE(NeverBuilt(Formats, "b.jpg"));
}

TEST_F(TDialogFixture, AFolderSelectedDuringABuildKeepsThePreviewEmpty) {
    Formats.Close("a.jpg");
    Dialog->SelectionChanged("a.jpg");
    ASSERT_TRUE(Formats.WaitStarted("a.jpg"));
    Dialog->SelectionChanged("dir");
    Formats.Open("a.jpg");
    ASSERT_TRUE(WaitUntil([&] { return Formats.Finished() == 1; }));
    Settle(50);
    EXPECT_EQ(Dialog->Thumbnail(), nullptr);
    EXPECT_EQ(Dialog->InfoLabel()->text(), "");

    // Also when a file's request is still pending as the folder comes.
    Formats.Close("b.jpg");
    Dialog->SelectionChanged("b.jpg");
    ASSERT_TRUE(Formats.WaitStarted("b.jpg"));
    Dialog->SelectionChanged("c.jpg");
    Dialog->SelectionChanged("dir2");
    Formats.Open("b.jpg");
    ASSERT_TRUE(WaitUntil([&] { return Formats.Finished() == 2; }));
    Settle(50);
    EXPECT_EQ(Dialog->Thumbnail(), nullptr);
    EXPECT_TRUE(NeverBuilt(Formats, "c.jpg"));
}

TEST_F(TDialogFixture, NoPreviewIsAskedForAPictureBoxWithoutRoom) {
    Dialog->PaintBox()->resize(100, 2);
    Dialog->SelectionChanged("a.jpg");
    Dialog->PaintBox()->resize(0, 50);
    Dialog->SelectionChanged("b.jpg");
    Settle(60);
    EXPECT_TRUE(Formats.Calls().empty());
    EXPECT_EQ(Dialog->InfoLabel()->text(), "\nPicture b.jpg");

    Dialog->PaintBox()->resize(3, 3);
    Dialog->SelectionChanged("c.jpg");
    ASSERT_TRUE(WaitUntil([&] { return ShownName(*Dialog) == "c.jpg"; }));
    EXPECT_EQ(Formats.Calls().size(), 1u);
}

TEST_F(TDialogFixture, ClosingDuringABuildWaitsForItAndPaintsNothing) {
    Dialog->show();
    Dialog->PaintBox()->resize(100, 80);
    Dialog->SelectionChanged("slow");
    ASSERT_TRUE(Formats.WaitStarted("slow"));
    QElapsedTimer timer;
    timer.start();
    Dialog->done(QDialog::Rejected);
    EXPECT_TRUE(Dialog->PreviewThread()->Terminated());
    Dialog.reset();
    EXPECT_GE(timer.elapsed(), 300);  // the build ran to its end first
    EXPECT_EQ(Formats.Finished(), 1);

    // A build that ends after the close is dropped, not shown.
    Dialog.reset(QelCreateForm<TQelOpenDialog>(nullptr, &Formats));
    Dialog->PaintBox()->resize(100, 80);
    Formats.Close("late.jpg");
    Dialog->SelectionChanged("late.jpg");
    ASSERT_TRUE(Formats.WaitStarted("late.jpg"));
    Dialog->done(QDialog::Rejected);
    Formats.Open("late.jpg");
    ASSERT_TRUE(WaitUntil([&] { return Formats.Finished() == 2; }));
    Settle(30);
    EXPECT_EQ(Dialog->Thumbnail(), nullptr);
}

}  // namespace
