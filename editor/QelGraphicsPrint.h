// Printing the current image: File > Print..., its toolbar button, and the
// print dialog in which the image is placed and sized on the page.
#pragma once

#include <QDialog>

#include <cstdint>

#include "QelForms.h"
#include "QelGeometry.h"
#include "QelModule.h"

class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPrinter;
class QPushButton;
class TQelGraphicsDocument;

// The units the position and size edits show.
enum class TQelPrintUnit : int32_t { Inches, Centimetres, Millimetres };

// Where and how large the image lands on the page, in hundredths of a
// millimetre from the printable area's top-left corner.
struct TQelPrintLayout {
    int32_t Left = 0;
    int32_t Top = 0;
    int32_t Width = 0;
    int32_t Height = 0;
    double Scale = 100;  // percent of the image's size at its own resolution
    bool CenterImage = true;
    bool ScaleToFitMedia = true;
};

// The layout rules, apart from the dialog: Natural is the image's size at
// its own resolution and Area the printable area, both in hundredths of a
// millimetre.
class TQelPrintPlacement {
public:
    TQelPrintPlacement(int32_t NaturalWidth, int32_t NaturalHeight, int32_t AreaWidth, int32_t AreaHeight);

    const TQelPrintLayout& Layout() const { return FLayout; }
    void SetCenterImage(bool Value);
    void SetScaleToFitMedia(bool Value);
    void SetLeft(int32_t Value);
    void SetTop(int32_t Value);
    // Each keeps the image's proportions: the other side and the scale follow.
    void SetScale(double Percent);
    void SetWidth(int32_t Value);
    void SetHeight(int32_t Value);
    void SetArea(int32_t AreaWidth, int32_t AreaHeight);

private:
    void Update();

    int32_t FNaturalWidth;
    int32_t FNaturalHeight;
    int32_t FAreaWidth;
    int32_t FAreaHeight;
    TQelPrintLayout FLayout;
};

class TQelGraphicsPrintForm : public TQelForm<QDialog> {
public:
    explicit TQelGraphicsPrintForm(QWidget* Parent = nullptr);

    void Create() override;
    void Localize() override;
    // Reads the document's size and resolution and the printer's page.
    void SetDocument(TQelGraphicsDocument* Document);

    void PrinterButtonClick();
    void PrintButtonClick();
    void EditChange(QLineEdit* Edit);
    void EditExit(QLineEdit* Edit);
    void UnitsChange();
    void OptionsChange();

    // The rectangle the image is printed into, in printer pixels.
    TQelRect PrintRect() const;
    const TQelPrintPlacement& Placement() const { return FPlacement; }
    // Prints the document's image; false when nothing could be printed.
    // Printing to a file replaces the file only with a whole document: on
    // failure the old file stays as it was, and PrintError says why.
    bool PrintImage();
    const QString& PrintError() const { return FPrintError; }

    QPushButton* PrinterButton;
    QPushButton* PrintButton;
    QPushButton* CancelButton;
    QGroupBox* PositionAndSizeGroupBox;
    QLabel* LeftLabel;
    QLabel* TopLabel;
    QLineEdit* LeftEdit;
    QLineEdit* TopEdit;
    QComboBox* LeftUnitsComboBox;
    QComboBox* TopUnitsComboBox;
    QCheckBox* CenterImageCheckBox;
    QLabel* ScaleLabel;
    QLineEdit* ScaleEdit;
    QLabel* WidthLabel;
    QLabel* HeightLabel;
    QLineEdit* WidthEdit;
    QLineEdit* HeightEdit;
    QComboBox* WidthUnitsComboBox;
    QComboBox* HeightUnitsComboBox;
    QCheckBox* ScaleToFitMediaCheckBox;

private:
    void ReadPage();
    void ShowLayout();
    TQelPrintUnit UnitOf(const QComboBox* Box) const;

    TQelGraphicsDocument* FDocument;
    TQelPrintPlacement FPlacement;
    bool FShowing;
    QString FPrintError;
};

class TQelGraphicsPrintModule : public TQelModuleWithControls {
    Q_OBJECT
public:
    void Create() override;
    void Localize() override;
    void UpdateControls() override;

    // Shows the print dialog for the current document.
    void Print(QObject* Sender);

    QAction* PrintMenuItem = nullptr;
    QAction* PrintMenuSeparator = nullptr;
    QAction* PrintToolButton = nullptr;
};

// A decimal number as the edits take it: digits with one "." or ",";
// false for anything else or an empty text.
bool QelParsePrintNumber(const QString& Text, double& Value);
// Hundredths of a millimetre in Unit, and back (rounded, limited to 32 bits).
double QelHiMetricToUnit(int32_t HiMetric, TQelPrintUnit Unit);
int32_t QelUnitToHiMetric(double Value, TQelPrintUnit Unit);
// Whether FileName holds a whole PDF as the print engine ends one: the
// header, and a trailer whose cross-reference offset lies in the file and
// points at the table. A write cut short by a full disk loses the trailer.
bool QelPdfFileComplete(const QString& FileName);
