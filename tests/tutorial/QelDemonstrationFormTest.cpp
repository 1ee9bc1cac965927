// The tutorial list: which files become items and in which order, the
// remembered selection, Start, the check box, and the thumbnails.
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>
#include <sys/stat.h>

#include "DemoTestSupport.h"
#include "QelDemoHooks.h"
#include "QelDemoScript.h"
#include "QelDemonstration.h"
#include "QelDemonstrationForm.h"
#include "QelForms.h"
#include "QelLocalizer.h"
#include "WatchedFifo.h"

namespace {

class DemonstrationFormTest : public ::testing::Test {
protected:
    void SetUp() override {
        App.CreateModule(Demo);
        Demo->DemoFolder = Folder.path() + "/";
    }
    void TearDown() override { App.DestroyComponents(); }

    std::unique_ptr<TQelDemonstrationForm> Open() {
        return std::unique_ptr<TQelDemonstrationForm>(QelCreateForm<TQelDemonstrationForm>(Demo));
    }
    QStringList Captions(const TQelDemonstrationForm& form) const {
        QStringList captions;
        for (int i = 0; i < form.DemoListView->count(); ++i) captions << form.DemoListView->item(i)->text();
        return captions;
    }
    QString Path(const QString& name) const { return Folder.filePath(name); }

    TQelLocalizer Localizer{QStringLiteral(VISARA_SOURCE_DIR "/data/Languages"), 1033};
    TQelApplication App;
    TQelDemoHooks Hooks;
    QTemporaryDir Folder;
    TQelDemonstrationModule* Demo = nullptr;
};

}  // namespace

TEST_F(DemonstrationFormTest, ReadableScriptsInFileNameOrderWithTheRememberedSelection) {
    WriteFile(Path("b.dsc"), "[Info]\nTitle=Bee\n[Script]\n");
    WriteFile(Path("A.dsc"), "[Script]\n");
    WriteFile(Path("c.DSC"), "[Script]\n");
    WriteFile(Path("notes.txt"), "[Info]\nTitle=Not a script\n");
    // Neither a folder nor a FIFO named like a script stops the list, and
    // the FIFO is never opened (it would block).
    ASSERT_TRUE(QDir().mkdir(Path("folder.dsc")));
    ASSERT_EQ(mkfifo(QFile::encodeName(Path("pipe.dsc")).constData(), 0600), 0);
    // Nor does one that is unreadable.
    WriteFile(Path("big.dsc"), QByteArray(int(TQelDemoScript::MaxFileSize + 1), 'x'));

    Demo->ListIndex = 5;
    Demo->ShowAtStartup = true;
    auto form = Open();
    EXPECT_EQ(Captions(*form), QStringList({"A", "Bee", "c"}));
    // Limited to the last item and stored back.
    EXPECT_EQ(Demo->ListIndex, 2);
    EXPECT_EQ(form->DemoListView->currentRow(), 2);
    ASSERT_NE(form->ChosenScript(), nullptr);
    EXPECT_EQ(form->ChosenScript()->FileName(), Path("c.DSC"));
    EXPECT_TRUE(form->StartButton->isEnabled());
    EXPECT_TRUE(form->ShowAtStartupCheckBox->isChecked());

    // The check box writes through at once.
    form->ShowAtStartupCheckBox->click();
    EXPECT_FALSE(Demo->ShowAtStartup);

    // The close box remembers the selection like Close.
    form->DemoListView->setCurrentRow(1);
    form->show();
    form->close();
    EXPECT_EQ(Demo->ListIndex, 1);

    // Nothing selected: nothing remembered, Start stays off.
    Demo->ListIndex = -1;
    form = Open();
    EXPECT_EQ(form->DemoListView->selectedItems().size(), 0);
    EXPECT_FALSE(form->StartButton->isEnabled());
    EXPECT_EQ(form->ChosenScript(), nullptr);
    form->DemoListView->setCurrentRow(0);
    EXPECT_TRUE(form->StartButton->isEnabled());
    form->DemoListView->clearSelection();
    EXPECT_FALSE(form->StartButton->isEnabled());
    form->reject();
    EXPECT_EQ(Demo->ListIndex, -1);

    // A folder that does not exist: an empty list with Start off.
    Demo->ListIndex = 0;
    Demo->DemoFolder = Path("missing/");
    form = Open();
    EXPECT_EQ(form->DemoListView->count(), 0);
    EXPECT_FALSE(form->StartButton->isEnabled());
    EXPECT_EQ(Demo->ListIndex, 0);
}

TEST_F(DemonstrationFormTest, ThumbnailsAreFittedCentredAndFramed) {
    QImage wide(200, 100, QImage::Format_RGB32);
    wide.fill(Qt::red);
    ASSERT_TRUE(wide.save(Path("wide.png")));
    QImage tall(10, 40, QImage::Format_RGB32);
    tall.fill(Qt::blue);
    ASSERT_TRUE(tall.save(Path("tall.jpg")));
    WriteFile(Path("broken.png"), "not a picture");
    WriteFile(Path("1.dsc"), "[Info]\nImage=wide.png\n[Script]\n");
    WriteFile(Path("2.dsc"), "[Info]\nImage=tall.jpg\n[Script]\n");
    WriteFile(Path("3.dsc"), "[Info]\nImage=broken.png\n[Script]\n");
    WriteFile(Path("4.dsc"), "[Info]\n[Script]\n");
    auto form = Open();
    ASSERT_EQ(form->ItemCount(), 4);
    // The stored picture and two thumbnails; the broken and the missing
    // picture share the stored one.
    ASSERT_EQ(form->DemoImageList.size(), 3u);

    const QImage& w = form->DemoImageList[1];
    ASSERT_EQ(w.size(), QSize(64, 64));
    EXPECT_FALSE(w.hasAlphaChannel());
    const QRgb frame = qRgb(0xCB, 0xCB, 0xCB);
    for (int i = 0; i < 64; ++i) {
        EXPECT_EQ(w.pixel(i, 0), frame);
        EXPECT_EQ(w.pixel(i, 63), frame);
        EXPECT_EQ(w.pixel(0, i), frame);
        EXPECT_EQ(w.pixel(63, i), frame);
    }
    // 64 x 32 in the middle: white bands above and below.
    EXPECT_EQ(w.pixel(32, 10), qRgb(255, 255, 255));
    EXPECT_EQ(w.pixel(32, 15), qRgb(255, 255, 255));
    EXPECT_EQ(w.pixel(32, 16), qRgb(255, 0, 0));
    EXPECT_EQ(w.pixel(32, 47), qRgb(255, 0, 0));
    EXPECT_EQ(w.pixel(32, 48), qRgb(255, 255, 255));

    // 16 x 64: bands at the sides.
    const QImage& t = form->DemoImageList[2];
    EXPECT_EQ(t.pixel(23, 32), qRgb(255, 255, 255));
    // JPEG colours are near, not exact.
    EXPECT_GE(qBlue(t.pixel(24, 32)), 240);
    EXPECT_LT(qRed(t.pixel(24, 32)), 40);
    EXPECT_GE(qBlue(t.pixel(39, 32)), 240);
    EXPECT_EQ(t.pixel(40, 32), qRgb(255, 255, 255));
    EXPECT_EQ(t.pixel(32, 0), frame);

    // A FIFO is never waited on, a file past the limit never read: the stored picture shows.
    {
        TWatchedFifo fifo(Path("pipe.png"));
        ASSERT_TRUE(fifo.Made);
        ASSERT_TRUE(QFile::copy(Path("wide.png"), Path("huge.png")));
        QFile huge(Path("huge.png"));
        ASSERT_TRUE(huge.resize(TQelDemonstrationForm::MaxThumbnailFileSize + 1));  // sparse
        WriteFile(Path("5.dsc"), "[Info]\nImage=pipe.png\n[Script]\n");
        WriteFile(Path("6.dsc"), "[Info]\nImage=huge.png\n[Script]\n");
        form = Open();
        EXPECT_FALSE(fifo.ReaderBlocked());
        ASSERT_EQ(form->ItemCount(), 6);
        EXPECT_EQ(form->DemoImageList.size(), 3u);
    }

    // A sliver keeps a visible line.
    const QImage sliver = QelDemoThumbnail(QImage(1000, 1, QImage::Format_RGB32));
    EXPECT_EQ(sliver.size(), QSize(64, 64));
}
