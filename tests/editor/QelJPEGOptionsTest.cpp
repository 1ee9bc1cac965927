#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>

#include <cstdint>
#include <limits>
#include <memory>
#include <utility>
#include <vector>

#include "QelJPEGOptions.h"
#include "QelLocalizer.h"
#include "QelMessageBox.h"

namespace {

struct TMessageCatcher {
    struct TShown {
        QString Text, Caption;
        uint32_t Flags;
    };
    std::vector<TShown> Shown;
    TQelMessageBoxHook Previous;
    TMessageCatcher() {
        Previous = QelSetMessageBoxHook([this](const QString& text, const QString& caption, uint32_t flags) {
            Shown.push_back({text, caption, flags});
            return IDOK;
        });
    }
    ~TMessageCatcher() { QelSetMessageBoxHook(Previous); }
};

class JPEGOptionsTest : public ::testing::Test {
protected:
    TQelLocalizer Localizer{QStringLiteral(VISARA_SOURCE_DIR "/data/Languages"), 1033};
    std::unique_ptr<TQelJPEGOptionsForm> Form{QelCreateForm<TQelJPEGOptionsForm>()};

    void Type(const QString& text) { Form->QualityEdit->setText(text); }
    void ExpectShown(const char* edit, int preset, int slider) {
        EXPECT_EQ(Form->QualityEdit->text(), QString::fromLatin1(edit));
        EXPECT_EQ(Form->QualityComboBox->currentIndex(), preset);
        EXPECT_EQ(Form->QualityTrackBar->value(), slider);
    }
};

}  // namespace

TEST(JPEGQualityTest, PresetsAndParsing) {
    // The highest preset at most Q; below the lowest preset still the lowest.
    const std::pair<int32_t, int32_t> presets[] = {{-5, 0}, {5, 0}, {10, 0}, {29, 0}, {30, 1}, {55, 1},
                                                   {59, 1}, {60, 2}, {79, 2}, {81, 3}, {100, 4}, {150, 4}};
    for (const auto& [q, index] : presets) EXPECT_EQ(QualityToPresetIndex(q), index) << q;
    EXPECT_EQ(PresetQuality(0), 10);
    EXPECT_EQ(PresetQuality(3), 80);
    EXPECT_EQ(PresetQuality(4), 100);
    EXPECT_EQ(PresetQuality(-1), 10);

    struct TCase {
        const char* Text;
        bool Valid;
        int32_t Q;
    };
    const TCase cases[] = {
        {"42", true, 42},   {"0", true, 0},      {"100", true, 100}, {"+7", true, 7},  {"101", false, 101},
        {"-1", false, -1},  {"4 2", false, 0},   {"", false, 0},     {"abc", false, 0}, {"-", false, 0},
        {" 42", false, 0},  {"0x10", false, 0},  {"99999999999", false, std::numeric_limits<int32_t>::max()},
        {"-99999999999", false, std::numeric_limits<int32_t>::min()},
    };
    for (const TCase& c : cases) {
        int32_t q = 12345;
        EXPECT_EQ(TryParseQuality(QString::fromLatin1(c.Text), q), c.Valid) << c.Text;
        EXPECT_EQ(q, c.Q) << c.Text;
    }
}

TEST_F(JPEGOptionsTest, TheControlsFollowEachOther) {
    EXPECT_EQ(Form->windowTitle(), QStringLiteral("JPEG Options"));
    EXPECT_EQ(Form->size(), QSize(352, 163));
    EXPECT_FALSE(Form->DisplayCheckbox->isVisibleTo(Form.get()));
    ASSERT_EQ(Form->QualityComboBox->count(), 5);
    EXPECT_EQ(Form->QualityComboBox->itemText(3), QStringLiteral("Very High"));

    Form->SetQuality(81);
    ExpectShown("81", 3, 81);
    EXPECT_EQ(Form->GetQuality(), 81);

    Form->QualityComboBox->setCurrentIndex(4);
    ExpectShown("100", 4, 100);
    Form->QualityComboBox->setCurrentIndex(0);
    ExpectShown("10", 0, 10);

    // Typed values move the slider; the list shows the preset at or below.
    Type(QStringLiteral("55"));
    ExpectShown("55", 1, 55);
    Type(QStringLiteral("5"));
    ExpectShown("5", 0, 5);
    Type(QStringLiteral(" 77 "));
    ExpectShown(" 77 ", 2, 77);
    // Invalid text changes nothing else.
    Type(QStringLiteral("abc"));
    ExpectShown("abc", 2, 77);
    Type(QStringLiteral("150"));
    ExpectShown("150", 2, 77);

    Form->QualityTrackBar->setValue(81);
    ExpectShown("81", 3, 81);
    // SetQuality of the value already shown still rewrites the edit.
    Type(QStringLiteral("abc"));
    Form->SetQuality(81);
    ExpectShown("81", 3, 81);
}

TEST_F(JPEGOptionsTest, OkAcceptsOnlyAValidQuality) {
    TMessageCatcher catcher;
    Form->SetQuality(80);

    Type(QStringLiteral("150"));
    Form->OkButton->click();
    ASSERT_EQ(catcher.Shown.size(), 1u);
    EXPECT_EQ(catcher.Shown[0].Text, QStringLiteral("Please enter a quality from 0 to 100."));
    EXPECT_EQ(catcher.Shown[0].Caption, QStringLiteral("JPEG Options"));
    EXPECT_EQ(catcher.Shown[0].Flags & MB_ICONMASK, MB_ICONERROR);
    ExpectShown("100", 4, 100);
    EXPECT_EQ(Form->result(), 0);

    Type(QString());
    Form->OkButton->click();
    EXPECT_EQ(catcher.Shown.size(), 2u);
    ExpectShown("0", 0, 0);

    Type(QStringLiteral("-99999999999"));
    Form->OkButton->click();
    ExpectShown("0", 0, 0);
    Type(QStringLiteral("99999999999"));
    Form->OkButton->click();
    ExpectShown("100", 4, 100);
    EXPECT_EQ(Form->result(), 0);

    Type(QStringLiteral(" 42 "));
    Form->OkButton->click();
    EXPECT_EQ(catcher.Shown.size(), 4u);
    EXPECT_EQ(Form->result(), int(QDialog::Accepted));
    EXPECT_EQ(Form->GetQuality(), 42);
}
