#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QLineEdit>
#include <QToolBar>
#include <QFile>
#include <QImage>
#include <QMenu>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

#include "ChildProcess.h"
#include "QelGraphicsEditor.h"
#include "QelGraphicsPrint.h"
#include "QelLocalizer.h"
#include "QelMainForm.h"
#include "QelPrinter.h"
#include "ScriptedMessageBoxes.h"
#include "SmallFileSystem.h"

namespace {

class TGraphicsPrintTest : public ::testing::Test {
protected:
    void SetUp() override {
        App.CreateModule(Editor);
        Editor->Initialize();
        App.CreateModule(Print);
        Print->Initialize();
    }
    void TearDown() override {
        App.DestroyComponents();
        FinalizeQelPrinter();
    }
    QByteArray ReadAll(const QString& name) {
        QFile f(name);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    QStringList FolderFiles() { return QDir(Folder.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name); }
    // The print dialog of a large picture, printing to the PDF file Pdf.
    std::unique_ptr<TQelGraphicsPrintForm> PdfForm(const QString& pdf) {
        TQelGraphicsDocument* document = OpenPicture(2000, 1500);
        EXPECT_TRUE(document);
        QelPrinter().setOutputFormat(QPrinter::PdfFormat);
        QelPrinter().setOutputFileName(pdf);
        std::unique_ptr<TQelGraphicsPrintForm> form(QelCreateForm<TQelGraphicsPrintForm>(nullptr));
        form->SetDocument(document);
        return form;
    }
    TQelGraphicsDocument* OpenPicture(int w, int h) {
        QImage image(w, h, QImage::Format_RGB888);
        image.fill(QColor(200, 40, 40));
        const QString name = Folder.filePath("print.png");
        EXPECT_TRUE(image.save(name));
        TQelDocument* document = nullptr;
        EXPECT_TRUE(Editor->OpenDocument(name, document, false));
        return Editor->GetActiveDocument();
    }

    QTemporaryDir Folder;
    TQelLocalizer Localizer{QStringLiteral(VISARA_SOURCE_DIR "/data/Languages"), 1033};
    TQelApplication App;
    TQelGraphicsEditor* Editor = nullptr;
    TQelGraphicsPrintModule* Print = nullptr;
};

void WriteAll(const QString& name, const QByteArray& data) {
    QFile f(name);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_EQ(f.write(data), data.size());
}

}  // namespace

TEST(PrintPlacement, FitCentreScaleAndSizeKeepTheProportions) {
    TQelPrintPlacement p(2000, 1000, 10000, 8000);
    EXPECT_EQ(p.Layout().Width, 10000);
    EXPECT_EQ(p.Layout().Height, 5000);
    EXPECT_DOUBLE_EQ(p.Layout().Scale, 500);
    EXPECT_EQ(p.Layout().Left, 0);
    EXPECT_EQ(p.Layout().Top, 1500);

    p.SetScaleToFitMedia(false);
    p.SetScale(50);
    EXPECT_EQ(p.Layout().Width, 1000);
    EXPECT_EQ(p.Layout().Height, 500);
    EXPECT_EQ(p.Layout().Left, 4500);
    EXPECT_EQ(p.Layout().Top, 3750);
    p.SetWidth(3000);
    EXPECT_EQ(p.Layout().Height, 1500);
    EXPECT_DOUBLE_EQ(p.Layout().Scale, 150);
    p.SetHeight(250);
    EXPECT_EQ(p.Layout().Width, 500);

    p.SetCenterImage(false);
    p.SetLeft(120);
    p.SetTop(-30);
    EXPECT_EQ(p.Layout().Left, 120);
    EXPECT_EQ(p.Layout().Top, -30);
    // Nonsense sizes change nothing.
    p.SetScale(0);
    p.SetScale(-5);
    p.SetWidth(0);
    EXPECT_EQ(p.Layout().Width, 500);
    // An empty page or image never divides by zero.
    TQelPrintPlacement empty(0, 0, 0, 0);
    EXPECT_GE(empty.Layout().Width, 1);
}

TEST(PrintPlacement, NumbersAndUnits) {
    double v = 0;
    EXPECT_TRUE(QelParsePrintNumber("12.5", v));
    EXPECT_DOUBLE_EQ(v, 12.5);
    EXPECT_TRUE(QelParsePrintNumber("3,25", v));
    EXPECT_DOUBLE_EQ(v, 3.25);
    for (const char* bad : {"", ".", "1.2.3", "-1", "1e9", "abc", " "}) EXPECT_FALSE(QelParsePrintNumber(bad, v)) << bad;
    EXPECT_DOUBLE_EQ(QelHiMetricToUnit(2540, TQelPrintUnit::Inches), 1);
    EXPECT_DOUBLE_EQ(QelHiMetricToUnit(2540, TQelPrintUnit::Centimetres), 2.54);
    EXPECT_EQ(QelUnitToHiMetric(2, TQelPrintUnit::Millimetres), 200);
    EXPECT_EQ(QelUnitToHiMetric(1e30, TQelPrintUnit::Inches), std::numeric_limits<int32_t>::max());
}

TEST_F(TGraphicsPrintTest, PrintItemSitsBeforeTheFileSeparatorAndFollowsTheDocument) {
    QStringList names;
    for (QAction* a : MainForm->FileMenuItem->actions()) names << a->objectName();
    const int item = names.indexOf("PrintMenuItem");
    ASSERT_GT(item, 0);
    EXPECT_EQ(names[item - 1], "PrintMenuSeparator");
    EXPECT_EQ(MainForm->FileMenuItem->actions()[item + 1], MainForm->FileMenuSeparator);
    EXPECT_EQ(Print->PrintMenuItem->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_P));
    const QList<QAction*> bar = Editor->StandardToolbar->actions();
    EXPECT_EQ(bar.indexOf(Print->PrintToolButton) + 1, bar.indexOf(Editor->EditToolbarSeparator));

    App.DoIdle();
    EXPECT_FALSE(Print->PrintMenuItem->isEnabled());
    EXPECT_FALSE(Print->PrintToolButton->isEnabled());
    ASSERT_TRUE(OpenPicture(40, 20));
    App.DoIdle();
    EXPECT_TRUE(Print->PrintMenuItem->isEnabled());
    EXPECT_TRUE(Print->PrintToolButton->isEnabled());
    Editor->SetPluginMode(true);
    App.DoIdle();
    EXPECT_FALSE(Print->PrintMenuItem->isEnabled());
    EXPECT_FALSE(Print->PrintToolButton->isVisible());
}

TEST_F(TGraphicsPrintTest, PrintsTheImageIntoTheChosenRectangle) {
    TQelGraphicsDocument* document = OpenPicture(300, 150);
    ASSERT_TRUE(document);
    TQelPrinter& printer = QelPrinter();
    const QString pdf = Folder.filePath("out.pdf");
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdf);

    std::unique_ptr<TQelGraphicsPrintForm> form(QelCreateForm<TQelGraphicsPrintForm>(nullptr));
    form->SetDocument(document);
    // Fitted to the printable area and centred: as wide as the area.
    const QRect area = printer.pageLayout().paintRectPixels(printer.resolution());
    const TQelRect r = form->PrintRect();
    EXPECT_NEAR(r.Width(), area.width(), 2);
    EXPECT_NEAR(r.Height() * 2, r.Width(), 2);
    EXPECT_NEAR(r.Top * 2 + r.Height(), area.height(), 3);

    // A typed scale turns fitting off in the layout the edits show.
    form->ScaleToFitMediaCheckBox->click();
    form->ScaleEdit->setText("100");
    form->EditChange(form->ScaleEdit);
    EXPECT_EQ(form->Placement().Layout().Width, 7938);  // 300 pixels at 96 dpi
    EXPECT_EQ(form->WidthEdit->text(), "3.13");  // inches

    ASSERT_TRUE(form->PrintImage());
    QFile file(pdf);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.read(5) == "%PDF-");
    EXPECT_GT(file.size(), 500);
}

TEST_F(TGraphicsPrintTest, AFailedPrintLeavesThePrinterUsable) {
    TQelGraphicsDocument* document = OpenPicture(30, 20);
    ASSERT_TRUE(document);
    std::unique_ptr<TQelGraphicsPrintForm> form(QelCreateForm<TQelGraphicsPrintForm>(nullptr));
    form->SetDocument(document);
    TQelPrinter& printer = QelPrinter();

    // No printer and no file chosen, then a file in a folder that is not there.
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(QString());
    EXPECT_FALSE(form->PrintImage());
    printer.setOutputFileName(Folder.filePath("missing/out.pdf"));
    EXPECT_FALSE(form->PrintImage());

    // The choice made afterwards is taken and printed.
    const QString pdf = Folder.filePath("later.pdf");
    printer.setOutputFileName(pdf);
    EXPECT_EQ(printer.outputFileName(), pdf);
    ASSERT_TRUE(form->PrintImage());
    EXPECT_TRUE(QFile::exists(pdf));
}

TEST_F(TGraphicsPrintTest, TheDialogSpeaksTheChosenLanguage) {
    Localizer.SetLanguage(1031);
    std::unique_ptr<TQelGraphicsPrintForm> form(QelCreateForm<TQelGraphicsPrintForm>(nullptr));
    EXPECT_EQ(form->windowTitle(), "Drucken");
    EXPECT_EQ(form->HeightLabel->text(), QString::fromUtf8("Höhe:"));
    EXPECT_EQ(form->WidthUnitsComboBox->itemText(0), "Zoll");
    // Back in English while it is open.
    Localizer.SetLanguage(1033);
    EXPECT_EQ(form->CenterImageCheckBox->text(), "Center Image");
    EXPECT_EQ(form->TopUnitsComboBox->itemText(2), "mm");
}

TEST_F(TGraphicsPrintTest, PrintingToAFileReplacesItWithAWholeDocument) {
    const QString pdf = Folder.filePath("out.pdf");
    WriteAll(pdf, QByteArray(20022, 'o'));
    ASSERT_EQ(::chmod(QFile::encodeName(pdf).constData(), 0640), 0);
    auto form = PdfForm(pdf);
    ASSERT_TRUE(form->PrintImage()) << form->PrintError().toStdString();

    const QByteArray bytes = ReadAll(pdf);
    EXPECT_TRUE(bytes.startsWith("%PDF-"));
    EXPECT_TRUE(bytes.trimmed().endsWith("%%EOF"));
    EXPECT_TRUE(QelPdfFileComplete(pdf));
    // The old file's permissions and name, and nothing left beside it.
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(pdf).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(QelPrinter().outputFileName(), pdf);
    EXPECT_EQ(FolderFiles(), QStringList({"out.pdf", "print.png"}));

    // A document cut anywhere, or pointing its table elsewhere, is not whole.
    const QString cut = Folder.filePath("cut.pdf");
    for (const qsizetype keep : {bytes.size() - 8, bytes.size() / 2, qsizetype(40)}) {
        WriteAll(cut, bytes.left(keep));
        EXPECT_FALSE(QelPdfFileComplete(cut)) << keep;
    }
    QByteArray moved = bytes;
    const qsizetype at = moved.lastIndexOf("startxref\n") + 10;
    moved[at] = moved[at] == '1' ? '2' : '1';
    WriteAll(cut, moved);
    EXPECT_FALSE(QelPdfFileComplete(cut));
}

TEST_F(TGraphicsPrintTest, PrintingToAFileOnAFullDiskKeepsTheOldFileAndSaysSo) {
    if (!QelOnSmallFileSystem(Folder.path())) return;
    const QString pdf = Folder.filePath("out.pdf");
    QByteArray old(20022, '\0');
    for (qsizetype i = 0; i < old.size(); ++i) old[i] = char(i * 13 + 5);
    WriteAll(pdf, old);
    auto form = PdfForm(pdf);
    QelFillFileSystem(Folder.path());

    TScriptedMessageBoxes boxes;
    boxes.Answers = {IDOK};
    form->PrintButtonClick();
    ASSERT_EQ(boxes.Boxes.size(), 1);
    EXPECT_TRUE(boxes.Boxes[0].Text.startsWith(QelText(1129))) << boxes.Boxes[0].Text.toStdString();
    EXPECT_TRUE(boxes.Boxes[0].Text.contains("out.pdf"));
    EXPECT_NE(form->result(), QDialog::Accepted);
    EXPECT_TRUE(ReadAll(pdf) == old);
    EXPECT_EQ(FolderFiles(), QStringList({"filler", "out.pdf", "print.png"}));
    EXPECT_EQ(QelPrinter().outputFileName(), pdf);
}

// What a user meets in the dialog: no printer chosen, then a full disk, then
// room again. Each failure says why; the print with room is whole, on the page
// chosen before.
TEST_F(TGraphicsPrintTest, FailedPrintsSayWhyAndAPrintWithRoomAgainSucceeds) {
    if (!QelOnSmallFileSystem(Folder.path())) return;
    const QString pdf = Folder.filePath("out.pdf");
    WriteAll(pdf, QByteArray(3000, 'o'));
    auto form = PdfForm(QString());
    QelPrinter().setPageOrientation(QPageLayout::Landscape);
    QelFillFileSystem(Folder.path());
    form->show();
    TScriptedMessageBoxes boxes;
    boxes.Answers = {IDOK, IDOK};
    QTest::mouseClick(form->PrintButton, Qt::LeftButton);
    QelPrinter().setOutputFileName(pdf);  // as the printer dialog sets it
    QTest::mouseClick(form->PrintButton, Qt::LeftButton);
    ASSERT_TRUE(QFile::remove(Folder.filePath("filler")));
    QTest::mouseClick(form->PrintButton, Qt::LeftButton);
    ASSERT_EQ(boxes.Boxes.size(), 2);
    EXPECT_EQ(boxes.Boxes[0].Text.toStdString(), (QelText(1129) + "\n\n" + QelText(1141)).toStdString());
    EXPECT_TRUE(boxes.Boxes[1].Text.contains("disk may be full"));
    EXPECT_TRUE(QelPdfFileComplete(pdf));
    EXPECT_TRUE(ReadAll(pdf).contains("/MediaBox [0 0 842.000000 595.000000]")) << "not the landscape page";
    EXPECT_EQ(FolderFiles(), QStringList({"out.pdf", "print.png"}));
}

TEST_F(TGraphicsPrintTest, APrintKilledOnTheWayLeavesTheOldFileAndNothingBesideIt) {
    static const char* const Child = "VISARA_PRINT_UNTIL_KILLED";
    if (qEnvironmentVariableIsSet(Child))
        for (auto form = PdfForm(qEnvironmentVariable(Child));;) form->PrintImage();
    const QString pdf = Folder.filePath("out.pdf");
    WriteAll(pdf, "old");
    TChildProcess child;
    qputenv(Child, QFile::encodeName(pdf));
    child.SetOutput(TChildProcess::Inherited);
    ASSERT_TRUE(child.Start(QCoreApplication::applicationFilePath(), {"--gtest_filter=*.APrintKilledOnTheWay*"}));
    qunsetenv(Child);
    // Killed as soon as it holds a file of the folder open: while it prints.
    const QString handles = QStringLiteral("/proc/%1/fd/").arg(child.ProcessId());
    bool printing = false;
    for (QDeadlineTimer deadline(50000); !printing && !deadline.hasExpired() && child.Running();)
        for (const QString& handle : QDir(handles).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot))
            printing = printing || QFile::symLinkTarget(handles + handle).startsWith(Folder.path() + '/');
    child.Kill();
    child.WaitForFinished(-1);
    EXPECT_TRUE(printing) << "the child never printed";
    EXPECT_EQ(ReadAll(pdf), "old");
    EXPECT_EQ(FolderFiles(), QStringList({"out.pdf"}));
}
