// The JPEG quality dialog, shown before a JPEG is encoded from pixels: an
// edit, a preset list and a slider that follow each other.
#pragma once

#include <QDialog>
#include <QString>

#include <cstdint>

#include "QelForms.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;

class TQelJPEGOptionsForm : public TQelForm<QDialog> {
public:
    explicit TQelJPEGOptionsForm(QWidget* parent = nullptr);

    void Create() override;
    void Localize() override;

    // Moves the slider to Q (limited to 0..100) and lets the others follow.
    void SetQuality(int32_t Q);
    int32_t GetQuality() const;

    // The shared change handler of the edit, the slider and the preset list.
    void QualityChange(QObject* Sender);
    // Accepts a valid quality; otherwise reports the error, shows the value
    // limited to 0..100 and stays open.
    void OkButtonClick();

    QPushButton* OkButton;
    QPushButton* CancelButton;
    QCheckBox* DisplayCheckbox;
    QGroupBox* QualityGroupBox;
    QLabel* SmallFileLabel;
    QLabel* LargeFileLabel;
    QLabel* QualityLabel;
    QLineEdit* QualityEdit;
    QComboBox* QualityComboBox;
    QSlider* QualityTrackBar;

private:
    bool FUpdating;
};

// The quality of a preset (0 Low 10, 1 Medium 30, 2 High 60, 3 Very High 80,
// 4 Maximum 100); an index outside 0..4 counts as the nearest preset.
int32_t PresetQuality(int32_t Index);
// The highest preset whose quality is at most Q; 0 below the lowest preset.
int32_t QualityToPresetIndex(int32_t Q);
// Q := 0, then the decimal value of the whole text (an optional sign and
// digits). True only when the whole text converted and 0 <= Q <= 100. A value
// beyond 32 bits leaves Q at the 32-bit limit on its side.
bool TryParseQuality(const QString& Text, int32_t& Q);
