#include "QelJPEGOptions.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>

#include <algorithm>
#include <iterator>
#include <limits>

#include "QelLocalizer.h"
#include "QelMessageBox.h"

namespace {

constexpr int32_t Presets[] = {10, 30, 60, 80, 100};
constexpr int32_t PresetCount = int32_t(std::size(Presets));

// Right edges that the right-aligned labels keep whatever their text's
// length: the label before the edit, and the label under the slider's end.
constexpr int QualityLabelRight = 162;
constexpr int LargeFileLabelRight = 323;

void PlaceRightAligned(QLabel* label, int right, int top) {
    label->adjustSize();
    label->move(right - label->width(), top);
}

// Clears the guard when QualityChange leaves, also by an exception.
struct TUpdatingGuard {
    bool& Flag;
    explicit TUpdatingGuard(bool& flag) : Flag(flag) { Flag = true; }
    ~TUpdatingGuard() { Flag = false; }
};

}  // namespace

int32_t PresetQuality(int32_t Index) { return Presets[std::clamp(Index, 0, PresetCount - 1)]; }

int32_t QualityToPresetIndex(int32_t Q) {
    for (int32_t i = PresetCount - 1; i >= 0; --i)
        if (Presets[i] <= Q) return i;
    return 0;
}

bool TryParseQuality(const QString& Text, int32_t& Q) {
    Q = 0;
    if (Text.isEmpty()) return false;
    qsizetype i = 0;
    bool negative = false;
    if (Text[0] == QLatin1Char('+') || Text[0] == QLatin1Char('-')) {
        negative = Text[0] == QLatin1Char('-');
        i = 1;
    }
    if (i == Text.size()) return false;
    // Counted in 64 bits and capped, so a long text cannot overflow.
    constexpr int64_t Cap = int64_t(std::numeric_limits<int32_t>::max()) + 1;
    int64_t value = 0;
    for (; i < Text.size(); ++i) {
        const char16_t c = Text[i].unicode();
        if (c < u'0' || c > u'9') return false;
        value = std::min(value * 10 + (c - u'0'), Cap);
    }
    if (negative)
        Q = int32_t(-value);  // -Cap is the lowest 32-bit value
    else
        Q = int32_t(std::min(value, Cap - 1));
    return Q >= 0 && Q <= 100;
}

TQelJPEGOptionsForm::TQelJPEGOptionsForm(QWidget* parent)
    : TQelForm<QDialog>(parent), OkButton(nullptr), CancelButton(nullptr), DisplayCheckbox(nullptr),
      QualityGroupBox(nullptr), SmallFileLabel(nullptr), LargeFileLabel(nullptr), QualityLabel(nullptr),
      QualityEdit(nullptr), QualityComboBox(nullptr), QualityTrackBar(nullptr), FUpdating(false) {}

void TQelJPEGOptionsForm::Create() {
    setObjectName(QStringLiteral("QelJPEGOptionsForm"));
    setFixedSize(352, 163);

    QualityGroupBox = new QGroupBox(this);
    QualityGroupBox->setObjectName(QStringLiteral("QualityGroupBox"));
    QualityGroupBox->setGeometry(8, 4, 337, 109);

    SmallFileLabel = new QLabel(QualityGroupBox);
    SmallFileLabel->setObjectName(QStringLiteral("SmallFileLabel"));
    SmallFileLabel->move(16, 80);

    LargeFileLabel = new QLabel(QualityGroupBox);
    LargeFileLabel->setObjectName(QStringLiteral("LargeFileLabel"));
    LargeFileLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    LargeFileLabel->move(278, 80);

    QualityLabel = new QLabel(QualityGroupBox);
    QualityLabel->setObjectName(QStringLiteral("QualityLabel"));
    QualityLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    QualityLabel->move(121, 20);

    QualityEdit = new QLineEdit(QualityGroupBox);
    QualityEdit->setObjectName(QStringLiteral("QualityEdit"));
    QualityEdit->setGeometry(168, 16, 33, 21);

    QualityComboBox = new QComboBox(QualityGroupBox);
    QualityComboBox->setObjectName(QStringLiteral("QualityComboBox"));
    QualityComboBox->setGeometry(214, 16, 110, 21);
    for (int i = 0; i < PresetCount; ++i) QualityComboBox->addItem(QString());

    QualityTrackBar = new QSlider(Qt::Horizontal, QualityGroupBox);
    QualityTrackBar->setObjectName(QStringLiteral("QualityTrackBar"));
    QualityTrackBar->setGeometry(6, 48, 323, 33);
    QualityTrackBar->setRange(0, 100);
    QualityTrackBar->setTickInterval(5);
    QualityTrackBar->setTickPosition(QSlider::TicksBelow);

    OkButton = new QPushButton(this);
    OkButton->setObjectName(QStringLiteral("OkButton"));
    OkButton->setGeometry(168, 126, 80, 25);
    OkButton->setDefault(true);

    CancelButton = new QPushButton(this);
    CancelButton->setObjectName(QStringLiteral("CancelButton"));
    CancelButton->setGeometry(261, 126, 80, 25);

    DisplayCheckbox = new QCheckBox(this);
    DisplayCheckbox->setObjectName(QStringLiteral("DisplayCheckbox"));
    DisplayCheckbox->setGeometry(12, 126, 149, 17);
    DisplayCheckbox->setVisible(false);

    connect(QualityEdit, &QLineEdit::textChanged, this, [this] { QualityChange(QualityEdit); });
    connect(QualityTrackBar, &QSlider::valueChanged, this, [this] { QualityChange(QualityTrackBar); });
    connect(QualityComboBox, &QComboBox::currentIndexChanged, this, [this] { QualityChange(QualityComboBox); });
    connect(OkButton, &QPushButton::clicked, this, [this] { OkButtonClick(); });
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

void TQelJPEGOptionsForm::Localize() {
    setWindowTitle(QelText(205, QStringLiteral("JPEG Options")));
    QualityLabel->setText(QelText(207, QStringLiteral("Quality")) + QLatin1Char(':'));
    DisplayCheckbox->setText(QelText(206, QStringLiteral("Show preview")));
    SmallFileLabel->setText(QelText(213, QStringLiteral("Smaller file")));
    LargeFileLabel->setText(QelText(214, QStringLiteral("Better quality")));
    OkButton->setText(QelText(1, QStringLiteral("OK")));
    CancelButton->setText(QelText(2, QStringLiteral("Cancel")));
    static const char* const PresetNames[] = {"Low", "Medium", "High", "Very High", "Maximum"};
    for (int i = 0; i < PresetCount; ++i)
        QualityComboBox->setItemText(i, QelText(208 + i, QString::fromLatin1(PresetNames[i])));
    SmallFileLabel->adjustSize();
    PlaceRightAligned(QualityLabel, QualityLabelRight, 20);
    PlaceRightAligned(LargeFileLabel, LargeFileLabelRight, 80);
    QualityChange(QualityTrackBar);
}

void TQelJPEGOptionsForm::SetQuality(int32_t Q) {
    QualityTrackBar->setValue(Q);
    QualityChange(QualityTrackBar);
}

int32_t TQelJPEGOptionsForm::GetQuality() const { return QualityTrackBar->value(); }

void TQelJPEGOptionsForm::QualityChange(QObject* Sender) {
    // Setting one control from another makes Qt report a change of that
    // control too; the guard swallows it.
    if (FUpdating) return;
    TUpdatingGuard guard(FUpdating);
    if (Sender == QualityEdit) {
        int32_t q = 0;
        if (TryParseQuality(QualityEdit->text().trimmed(), q)) {
            QualityComboBox->setCurrentIndex(QualityToPresetIndex(q));
            QualityTrackBar->setValue(q);
        }
    } else if (Sender == QualityTrackBar) {
        const int32_t q = QualityTrackBar->value();
        QualityEdit->setText(QString::number(q));
        QualityComboBox->setCurrentIndex(QualityToPresetIndex(q));
    } else {
        const int32_t q = PresetQuality(QualityComboBox->currentIndex());
        QualityTrackBar->setValue(q);
        QualityEdit->setText(QString::number(q));
    }
}

void TQelJPEGOptionsForm::OkButtonClick() {
    int32_t q = 0;
    if (TryParseQuality(QualityEdit->text().trimmed(), q)) {
        accept();
        return;
    }
    const QString text = QelText(216, QStringLiteral("Please enter a quality from 0 to 100."));
    if (TQelApplication* app = TQelApplication::Instance())
        app->MessageBox(text, windowTitle(), MB_OK | MB_ICONERROR);
    else
        QelMessageBox(this, text, windowTitle(), MB_OK | MB_ICONERROR);
    SetQuality(std::clamp(q, 0, 100));
}
