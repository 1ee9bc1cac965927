#include "QelGraphicsPrint.h"

#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPageLayout>
#include <QPainter>
#include <QPrintDialog>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QToolBar>

#include <algorithm>
#include <cmath>
#include <limits>

#include "QelAtomicWrite.h"
#include "QelGraphicsEditor.h"
#include "QelLocalizer.h"
#include "QelMainForm.h"
#include "QelPrinter.h"

namespace {

constexpr int32_t TextCancel = 2;
constexpr int32_t TextPrint = 21;
constexpr int32_t TextWidth = 505;
constexpr int32_t TextHeight = 506;
constexpr int32_t TextPrintFailed = 1129;
constexpr int32_t TextNoPrinter = 1141;
constexpr int32_t TextPrinter = 1131;
constexpr int32_t TextPositionAndSize = 1132;
constexpr int32_t TextLeft = 1133;
constexpr int32_t TextTop = 1134;
constexpr int32_t TextCenterImage = 1135;
constexpr int32_t TextScale = 1136;
constexpr int32_t TextScaleToFitMedia = 1137;
constexpr int32_t TextFirstUnit = 1138;  // inches, centimetres, millimetres
constexpr int32_t ImagePrint = 3;
constexpr int32_t HiMetricPerInch = 2540;
constexpr int32_t DefaultResolution = 96;

int32_t ToInt32(double Value) {
    if (!std::isfinite(Value)) return 0;
    const double limited =
        std::clamp(Value, double(std::numeric_limits<int32_t>::min()), double(std::numeric_limits<int32_t>::max()));
    return int32_t(std::nearbyint(limited));
}

// Pixels at Dpi as hundredths of a millimetre.
int32_t PixelsToHiMetric(int32_t Pixels, int32_t Dpi) {
    return ToInt32(double(Pixels) * HiMetricPerInch / (Dpi > 0 ? Dpi : DefaultResolution));
}

double UnitsPerHiMetric(TQelPrintUnit Unit) {
    switch (Unit) {
        case TQelPrintUnit::Inches: return 1.0 / HiMetricPerInch;
        case TQelPrintUnit::Centimetres: return 1.0 / 1000;
        case TQelPrintUnit::Millimetres: return 1.0 / 100;
    }
    return 1.0 / 100;
}

QString FormatNumber(double Value) { return QString::number(Value, 'f', 2); }

}  // namespace

bool QelParsePrintNumber(const QString& Text, double& Value) {
    QString text = Text.trimmed();
    text.replace(QLatin1Char(','), QLatin1Char('.'));
    if (text.isEmpty() || text == QLatin1String(".")) return false;
    int points = 0;
    for (QChar c : text) {
        if (c == QLatin1Char('.')) {
            if (++points > 1) return false;
        } else if (c < QLatin1Char('0') || c > QLatin1Char('9')) {
            return false;
        }
    }
    bool ok = false;
    const double v = text.toDouble(&ok);  // QString::toDouble is locale-free
    if (!ok || !std::isfinite(v)) return false;
    Value = v;
    return true;
}

double QelHiMetricToUnit(int32_t HiMetric, TQelPrintUnit Unit) { return HiMetric * UnitsPerHiMetric(Unit); }

int32_t QelUnitToHiMetric(double Value, TQelPrintUnit Unit) { return ToInt32(Value / UnitsPerHiMetric(Unit)); }

// --- TQelPrintPlacement -----------------------------------------------------------

TQelPrintPlacement::TQelPrintPlacement(int32_t NaturalWidth, int32_t NaturalHeight, int32_t AreaWidth,
                                       int32_t AreaHeight)
    : FNaturalWidth(std::max(NaturalWidth, 1)),
      FNaturalHeight(std::max(NaturalHeight, 1)),
      FAreaWidth(std::max(AreaWidth, 0)),
      FAreaHeight(std::max(AreaHeight, 0)),
      FLayout() {
    SetScale(100);
    FLayout.ScaleToFitMedia = true;
    Update();
}

void TQelPrintPlacement::SetArea(int32_t AreaWidth, int32_t AreaHeight) {
    FAreaWidth = std::max(AreaWidth, 0);
    FAreaHeight = std::max(AreaHeight, 0);
    Update();
}

void TQelPrintPlacement::SetCenterImage(bool Value) {
    FLayout.CenterImage = Value;
    Update();
}

void TQelPrintPlacement::SetScaleToFitMedia(bool Value) {
    FLayout.ScaleToFitMedia = Value;
    Update();
}

void TQelPrintPlacement::SetLeft(int32_t Value) {
    FLayout.Left = Value;
    Update();
}

void TQelPrintPlacement::SetTop(int32_t Value) {
    FLayout.Top = Value;
    Update();
}

void TQelPrintPlacement::SetScale(double Percent) {
    if (!(Percent > 0) || !std::isfinite(Percent)) return;
    FLayout.Scale = Percent;
    FLayout.Width = std::max(ToInt32(FNaturalWidth * Percent / 100), 1);
    FLayout.Height = std::max(ToInt32(FNaturalHeight * Percent / 100), 1);
    Update();
}

void TQelPrintPlacement::SetWidth(int32_t Value) {
    if (Value < 1) return;
    SetScale(100.0 * Value / FNaturalWidth);
    FLayout.Width = Value;
}

void TQelPrintPlacement::SetHeight(int32_t Value) {
    if (Value < 1) return;
    SetScale(100.0 * Value / FNaturalHeight);
    FLayout.Height = Value;
}

void TQelPrintPlacement::Update() {
    if (FLayout.ScaleToFitMedia && FAreaWidth > 0 && FAreaHeight > 0) {
        const double s = std::min(double(FAreaWidth) / FNaturalWidth, double(FAreaHeight) / FNaturalHeight);
        FLayout.Scale = s * 100;
        FLayout.Width = std::clamp(ToInt32(FNaturalWidth * s), 1, FAreaWidth);
        FLayout.Height = std::clamp(ToInt32(FNaturalHeight * s), 1, FAreaHeight);
    }
    if (FLayout.CenterImage) {
        FLayout.Left = (FAreaWidth - FLayout.Width) / 2;
        FLayout.Top = (FAreaHeight - FLayout.Height) / 2;
    }
}

// --- TQelGraphicsPrintForm ----------------------------------------------------------

TQelGraphicsPrintForm::TQelGraphicsPrintForm(QWidget* Parent)
    : TQelForm<QDialog>(Parent),
      PrinterButton(nullptr),
      PrintButton(nullptr),
      CancelButton(nullptr),
      PositionAndSizeGroupBox(nullptr),
      LeftLabel(nullptr),
      TopLabel(nullptr),
      LeftEdit(nullptr),
      TopEdit(nullptr),
      LeftUnitsComboBox(nullptr),
      TopUnitsComboBox(nullptr),
      CenterImageCheckBox(nullptr),
      ScaleLabel(nullptr),
      ScaleEdit(nullptr),
      WidthLabel(nullptr),
      HeightLabel(nullptr),
      WidthEdit(nullptr),
      HeightEdit(nullptr),
      WidthUnitsComboBox(nullptr),
      HeightUnitsComboBox(nullptr),
      ScaleToFitMediaCheckBox(nullptr),
      FDocument(nullptr),
      FPlacement(1, 1, 0, 0),
      FShowing(false) {}

void TQelGraphicsPrintForm::Create() {
    TQelForm<QDialog>::Create();
    setObjectName(QStringLiteral("GraphicsPrintForm"));
    setWindowTitle(QelText(TextPrint));
    setFixedSize(351, 269);

    auto button = [this](QPushButton*& b, const char* name, const QString& caption, int y) {
        b = new QPushButton(caption, this);
        b->setObjectName(QLatin1String(name));
        b->setGeometry(258, y, 80, 25);
    };
    button(PrinterButton, "PrinterButton", QStringLiteral("Printer..."), 16);
    button(PrintButton, "PrintButton", QStringLiteral("Print"), 48);
    button(CancelButton, "CancelButton", QStringLiteral("Cancel"), 80);
    PrintButton->setDefault(true);
    connect(PrinterButton, &QPushButton::clicked, this, [this] { PrinterButtonClick(); });
    connect(PrintButton, &QPushButton::clicked, this, [this] { PrintButtonClick(); });
    connect(CancelButton, &QPushButton::clicked, this, [this] { done(QDialog::Rejected); });

    PositionAndSizeGroupBox = new QGroupBox(QStringLiteral(" Position And Size "), this);
    PositionAndSizeGroupBox->setObjectName(QStringLiteral("PositionAndSizeGroupBox"));
    PositionAndSizeGroupBox->setGeometry(12, 8, 233, 249);
    QWidget* group = PositionAndSizeGroupBox;

    auto label = [group](QLabel*& l, const char* name, const QString& caption, int y) {
        l = new QLabel(caption, group);
        l->setObjectName(QLatin1String(name));
        l->setGeometry(12, y, 54, 17);
        l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    };
    // Digits and one decimal separator, nothing else.
    auto* numbers = new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*([.,][0-9]*)?")), this);
    auto edit = [this, group, numbers](QLineEdit*& e, const char* name, int y) {
        e = new QLineEdit(group);
        e->setObjectName(QLatin1String(name));
        e->setGeometry(72, y, 81, 21);
        e->setValidator(numbers);
        QLineEdit* self = e;
        connect(e, &QLineEdit::textEdited, this, [this, self] { EditChange(self); });
        connect(e, &QLineEdit::editingFinished, this, [this, self] { EditExit(self); });
    };
    auto units = [this, group](QComboBox*& c, const char* name, int y) {
        c = new QComboBox(group);
        c->setObjectName(QLatin1String(name));
        c->setGeometry(160, y, 57, 21);
        c->addItems({QStringLiteral("in"), QStringLiteral("cm"), QStringLiteral("mm")});
        connect(c, &QComboBox::currentIndexChanged, this, [this] { UnitsChange(); });
    };
    auto check = [this, group](QCheckBox*& c, const char* name, const QString& caption, int y) {
        c = new QCheckBox(caption, group);
        c->setObjectName(QLatin1String(name));
        c->setGeometry(72, y, 145, 17);
        c->setChecked(true);
        connect(c, &QCheckBox::clicked, this, [this] { OptionsChange(); });
    };
    label(LeftLabel, "LeftLabel", QStringLiteral("Left:"), 36);
    label(TopLabel, "TopLabel", QStringLiteral("Top:"), 68);
    edit(LeftEdit, "LeftEdit", 32);
    units(LeftUnitsComboBox, "LeftUnitsComboBox", 32);
    edit(TopEdit, "TopEdit", 64);
    units(TopUnitsComboBox, "TopUnitsComboBox", 64);
    check(CenterImageCheckBox, "CenterImageCheckBox", QStringLiteral("Center Image"), 94);
    label(ScaleLabel, "ScaleLabel", QStringLiteral("Scale:"), 124);
    ScaleLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    edit(ScaleEdit, "ScaleEdit", 120);
    label(WidthLabel, "WidthLabel", QStringLiteral("Width:"), 156);
    label(HeightLabel, "HeightLabel", QStringLiteral("Height:"), 188);
    for (QLabel* l : {WidthLabel, HeightLabel}) l->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    edit(WidthEdit, "WidthEdit", 152);
    units(WidthUnitsComboBox, "WidthUnitsComboBox", 152);
    edit(HeightEdit, "HeightEdit", 184);
    units(HeightUnitsComboBox, "HeightUnitsComboBox", 184);
    check(ScaleToFitMediaCheckBox, "ScaleToFitMediaCheckBox", QStringLiteral("Scale To Fit Media"), 214);

    QWidget* order[] = {LeftEdit,   LeftUnitsComboBox,  TopEdit,    TopUnitsComboBox,    CenterImageCheckBox,
                        ScaleEdit,  WidthEdit,          WidthUnitsComboBox, HeightEdit, HeightUnitsComboBox,
                        ScaleToFitMediaCheckBox, PrinterButton, PrintButton, CancelButton};
    for (size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);
    ShowLayout();
}

void TQelGraphicsPrintForm::Localize() {
    setWindowTitle(QelText(TextPrint, QStringLiteral("Print")));
    PrinterButton->setText(QelText(TextPrinter, QStringLiteral("Printer...")));
    PrintButton->setText(QelText(TextPrint, QStringLiteral("Print")));
    CancelButton->setText(QelText(TextCancel, QStringLiteral("Cancel")));
    PositionAndSizeGroupBox->setTitle(QLatin1Char(' ') +
                                      QelText(TextPositionAndSize, QStringLiteral("Position And Size")) +
                                      QLatin1Char(' '));
    const auto colon = [](int32_t id, const char* text) { return QelText(id, QLatin1String(text)) + QLatin1Char(':'); };
    LeftLabel->setText(colon(TextLeft, "Left"));
    TopLabel->setText(colon(TextTop, "Top"));
    ScaleLabel->setText(colon(TextScale, "Scale"));
    WidthLabel->setText(colon(TextWidth, "Width"));
    HeightLabel->setText(colon(TextHeight, "Height"));
    CenterImageCheckBox->setText(QelText(TextCenterImage, QStringLiteral("Center Image")));
    ScaleToFitMediaCheckBox->setText(QelText(TextScaleToFitMedia, QStringLiteral("Scale To Fit Media")));
    static const char* const Units[] = {"in", "cm", "mm"};
    for (QComboBox* box : {LeftUnitsComboBox, TopUnitsComboBox, WidthUnitsComboBox, HeightUnitsComboBox})
        for (int i = 0; i < int(std::size(Units)); ++i)
            box->setItemText(i, QelText(TextFirstUnit + i, QLatin1String(Units[i])));
}

void TQelGraphicsPrintForm::SetDocument(TQelGraphicsDocument* Document) {
    FDocument = Document;
    const TQelPixels* pixels = Document ? Document->GetPixels() : nullptr;
    const int32_t w = pixels ? pixels->Width : 1, h = pixels ? pixels->Height : 1;
    const int32_t dpiX = Document ? Document->Properties.HorizontalResolution : 0;
    const int32_t dpiY = Document ? Document->Properties.VerticalResolution : 0;
    FPlacement = TQelPrintPlacement(PixelsToHiMetric(w, dpiX), PixelsToHiMetric(h, dpiY > 0 ? dpiY : dpiX), 0, 0);
    ReadPage();
}

void TQelGraphicsPrintForm::ReadPage() {
    TQelPrinter& printer = QelPrinter();
    const QRect area = printer.pageLayout().paintRectPixels(printer.resolution());
    FPlacement.SetArea(printer.DeviceToHiMetric(area.width()), printer.DeviceToHiMetric(area.height()));
    ShowLayout();
}

TQelPrintUnit TQelGraphicsPrintForm::UnitOf(const QComboBox* Box) const {
    return Box ? TQelPrintUnit(std::clamp(Box->currentIndex(), 0, 2)) : TQelPrintUnit::Inches;
}

void TQelGraphicsPrintForm::ShowLayout() {
    if (!LeftEdit) return;
    FShowing = true;
    const TQelPrintLayout& l = FPlacement.Layout();
    auto show = [](QLineEdit* e, const QString& text) {
        if (!e->hasFocus() && e->text() != text) e->setText(text);
    };
    show(LeftEdit, FormatNumber(QelHiMetricToUnit(l.Left, UnitOf(LeftUnitsComboBox))));
    show(TopEdit, FormatNumber(QelHiMetricToUnit(l.Top, UnitOf(TopUnitsComboBox))));
    show(ScaleEdit, FormatNumber(l.Scale));
    show(WidthEdit, FormatNumber(QelHiMetricToUnit(l.Width, UnitOf(WidthUnitsComboBox))));
    show(HeightEdit, FormatNumber(QelHiMetricToUnit(l.Height, UnitOf(HeightUnitsComboBox))));
    CenterImageCheckBox->setChecked(l.CenterImage);
    ScaleToFitMediaCheckBox->setChecked(l.ScaleToFitMedia);
    // Centring decides the position and fitting the size; their edits wait.
    for (QWidget* w : {static_cast<QWidget*>(LeftEdit), static_cast<QWidget*>(TopEdit)}) w->setEnabled(!l.CenterImage);
    for (QWidget* w : {static_cast<QWidget*>(ScaleEdit), static_cast<QWidget*>(WidthEdit),
                       static_cast<QWidget*>(HeightEdit)})
        w->setEnabled(!l.ScaleToFitMedia);
    FShowing = false;
}

void TQelGraphicsPrintForm::EditChange(QLineEdit* Edit) {
    if (FShowing) return;
    double value = 0;
    if (!QelParsePrintNumber(Edit->text(), value)) return;
    if (Edit == LeftEdit) FPlacement.SetLeft(QelUnitToHiMetric(value, UnitOf(LeftUnitsComboBox)));
    else if (Edit == TopEdit) FPlacement.SetTop(QelUnitToHiMetric(value, UnitOf(TopUnitsComboBox)));
    else if (Edit == ScaleEdit) FPlacement.SetScale(value);
    else if (Edit == WidthEdit) FPlacement.SetWidth(QelUnitToHiMetric(value, UnitOf(WidthUnitsComboBox)));
    else if (Edit == HeightEdit) FPlacement.SetHeight(QelUnitToHiMetric(value, UnitOf(HeightUnitsComboBox)));
    ShowLayout();  // the edit being typed in keeps its text
}

void TQelGraphicsPrintForm::EditExit(QLineEdit* Edit) {
    // The edit shows what the layout took from it, also after text that was
    // no number.
    Edit->clearFocus();
    ShowLayout();
}

void TQelGraphicsPrintForm::UnitsChange() { ShowLayout(); }

void TQelGraphicsPrintForm::OptionsChange() {
    if (FShowing) return;
    FPlacement.SetCenterImage(CenterImageCheckBox->isChecked());
    FPlacement.SetScaleToFitMedia(ScaleToFitMediaCheckBox->isChecked());
    ShowLayout();
}

void TQelGraphicsPrintForm::PrinterButtonClick() {
    QPrintDialog dialog(&QelPrinter(), this);
    dialog.setOption(QAbstractPrintDialog::PrintToFile, true);
    if (dialog.exec() == QDialog::Accepted) ReadPage();
}

TQelRect TQelGraphicsPrintForm::PrintRect() const {
    TQelPrinter& printer = QelPrinter();
    const QRect area = printer.pageLayout().paintRectPixels(printer.resolution());
    const TQelPrintLayout& l = FPlacement.Layout();
    // The painter's origin is the printable area's top-left corner.
    const int32_t left = printer.HiMetricToDevice(l.Left), top = printer.HiMetricToDevice(l.Top);
    (void)area;
    return TQelRect(left, top, left + printer.HiMetricToDevice(l.Width), top + printer.HiMetricToDevice(l.Height));
}

bool TQelGraphicsPrintForm::PrintImage() {
    FPrintError.clear();
    if (!FDocument || FDocument->Image.IsEmpty()) return false;
    TQelPrinter& printer = QelPrinter();
    const QString target = printer.outputFileName();
    if (printer.outputFormat() == QPrinter::PdfFormat && target.isEmpty()) {
        FPrintError = QelText(TextNoPrinter, QStringLiteral("No printer is chosen. Choose a printer or a PDF file "
                                                            "with \"Printer...\"."));
        return false;
    }
    const std::unique_ptr<QPrinter> job = printer.NewJob();
    // A file is printed into a new file of its own, which takes the chosen
    // one's place only when whole: the engine does not report a failed
    // write, and opening the chosen file would empty it at once.
    TQelAtomicReplacement file(target);
    if (!target.isEmpty()) {
        if (!file.Begin(FPrintError)) return false;
        job->setOutputFileName(file.WriterName());
    }
    QPainter painter;
    if (!painter.begin(job.get())) return false;
    const bool printed = FDocument->Image.Print(painter, PrintRect(), 0, 0);
    if (!painter.end() || !printed) return false;
    if (target.isEmpty()) return true;
    if (!QelPdfFileComplete(file.WriterName())) {
        FPrintError =
            QStringLiteral("Cannot write \"%1\": the document could not be written whole; the disk may be full.")
                .arg(target);
        return false;
    }
    return file.Commit(FPrintError);
}

void TQelGraphicsPrintForm::PrintButtonClick() {
    if (PrintImage()) {
        done(QDialog::Accepted);
        return;
    }
    QString text = QelText(TextPrintFailed, QStringLiteral("The image could not be printed."));
    if (!FPrintError.isEmpty()) text += QStringLiteral("\n\n") + FPrintError;
    if (TQelApplication* app = TQelApplication::Instance()) app->MessageBoxTitled(text, 0x10 /* MB_ICONERROR */);
}

bool QelPdfFileComplete(const QString& FileName) {
    QFile file(FileName);
    if (!file.open(QIODevice::ReadOnly)) return false;
    const qint64 size = file.size();
    if (size < 32 || file.read(5) != "%PDF-") return false;
    // The trailer: "startxref", the table's offset, "%%EOF", at the end.
    constexpr qint64 TailSize = 1024;
    if (!file.seek(std::max<qint64>(0, size - TailSize))) return false;
    const QByteArray tail = file.read(TailSize).trimmed();
    if (!tail.endsWith("%%EOF")) return false;
    const qsizetype at = tail.lastIndexOf("startxref");
    if (at < 0) return false;
    const QByteArray number = tail.mid(at + 9, tail.size() - 5 - at - 9).trimmed();
    bool ok = false;
    const qint64 offset = number.toLongLong(&ok);
    if (!ok || offset <= 0 || offset >= size) return false;
    return file.seek(offset) && file.read(4) == "xref";
}

// --- TQelGraphicsPrintModule --------------------------------------------------------

void TQelGraphicsPrintModule::Create() {
    TQelModuleWithControls::Create();
    if (!MainForm) return;
    const QString caption = QelText(TextPrint) + QStringLiteral("...");
    QMenu* file = MainForm->FileMenuItem;
    PrintMenuSeparator = MainForm->AddSeparator(file, MainForm->FileMenuSeparator);
    PrintMenuSeparator->setObjectName(QStringLiteral("PrintMenuSeparator"));
    PrintMenuItem = MainForm->AddMenuItem(
        caption, QKeySequence(Qt::CTRL | Qt::Key_P), [this](QObject* sender) { Print(sender); }, ImagePrint, file,
        MainForm->FileMenuSeparator);
    PrintMenuItem->setObjectName(QStringLiteral("PrintMenuItem"));
    if (GraphicsEditor && GraphicsEditor->StandardToolbar) {
        MainForm->AddToolButton(
            GraphicsEditor->StandardToolbar, PrintToolButton, [this](QObject* sender) { Print(sender); },
            ImagePrint, caption, GraphicsEditor->EditToolbarSeparator, MainForm->GetImages());
        PrintToolButton->setObjectName(QStringLiteral("PrintToolButton"));
    }
}

void TQelGraphicsPrintModule::Localize() {
    const QString caption = QelText(TextPrint) + QStringLiteral("...");
    if (PrintMenuItem) PrintMenuItem->setText(caption);
    if (PrintToolButton) PrintToolButton->setToolTip(caption);
    TQelModuleWithControls::Localize();
}

void TQelGraphicsPrintModule::UpdateControls() {
    TQelModuleWithControls::UpdateControls();
    const bool plugin = GraphicsEditor && GraphicsEditor->PluginMode;
    const bool enabled = GraphicsEditor && GraphicsEditor->SaveAsMenuItem &&
                         GraphicsEditor->SaveAsMenuItem->isEnabled() && !plugin;
    for (QAction* a : {PrintMenuItem, PrintToolButton}) QelSetEnabled(a, enabled);
    if (PrintToolButton && PrintToolButton->isVisible() == plugin) PrintToolButton->setVisible(!plugin);
}

void TQelGraphicsPrintModule::Print(QObject*) {
    TQelGraphicsDocument* document = GraphicsEditor ? GraphicsEditor->GetActiveDocument() : nullptr;
    if (!document) return;
    auto form = QelCreateForm<TQelGraphicsPrintForm>(MainForm);
    form->SetDocument(document);
    form->exec();
}
