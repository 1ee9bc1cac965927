#include <gtest/gtest.h>

#include "QelFileFormats.h"

namespace {

// The program's four formats, in table order.
class TFourFormats : public TQelFileFormats {
public:
    TFourFormats()
        : FRows{{0, "JPEG", "*.JPG;*.JPEG", "jpg"},
                {1, "TIFF", "*.TIF;*.TIFF", "tif"},
                {2, "PNG", "*.PNG", "png"},
                {3, "Bitmap", "*.BMP;*.RLE;*.DIB", "bmp"}} {}
    int32_t Count() const override { return int32_t(FRows.size()); }
    const TQelFileFormatInfo* Items(int32_t i) const override {
        return i >= 0 && i < Count() ? &FRows[i] : nullptr;
    }

private:
    TQelFileFormatArray FRows;
};

TEST(QelFileFormats, OpenFormatsAddTheTwoSummaryRows) {
    const TFourFormats table;
    TQelFileFormatArray open;
    table.GetOpenFormats(open);
    ASSERT_EQ(open.size(), 6);
    EXPECT_EQ(open[3].Masks, "*.BMP;*.RLE;*.DIB");
    EXPECT_EQ(open[4].Id, 0);
    EXPECT_EQ(open[4].Masks, "*.JPG;*.JPEG;*.TIF;*.TIFF;*.PNG;*.BMP;*.RLE;*.DIB");
    EXPECT_EQ(open[5].Id, 0);
    EXPECT_EQ(open[5].Masks, "*.*");
    EXPECT_EQ(IndexOfFileFormat(open, 0), 0);  // the first row with the id
    EXPECT_EQ(IndexOfFileFormat(open, 3), 3);
    EXPECT_EQ(IndexOfFileFormat(open, 9), -1);
    EXPECT_EQ(table.IndexOfId(2), 2);
    EXPECT_EQ(table.IndexOfId(9), -1);

    TQelFileFormatArray save{{7, "stale", "*.x", ""}};
    table.GetSaveFormats(save);
    ASSERT_EQ(save.size(), 4);
    EXPECT_EQ(save[0].Description, "JPEG");

    std::unique_ptr<TQelFileInfo> info;
    std::unique_ptr<TQelThumbnail> thumb;
    EXPECT_FALSE(table.GetFileInfo("a.jpg", info));
    EXPECT_FALSE(table.GetThumbnail("a.jpg", 10, 10, thumb));
    QString text = "x";
    TQelFileInfo("a.jpg").GetDescription(text);
    EXPECT_TRUE(text.isEmpty());
}

TEST(QelFileFormats, FilterTexts) {
    const TFourFormats table;
    TQelFileFormatArray save;
    table.GetSaveFormats(save);

    QString filter = "X (*.x)|*.x";
    BuildFileFilter(TQelFileFormatArray(), filter);
    EXPECT_EQ(filter, "X (*.x)|*.x");
    BuildFileFilter(save.mid(0, 2), filter);
    EXPECT_EQ(filter, "X (*.x)|*.x|JPEG (*.JPG;*.JPEG)|*.JPG;*.JPEG|TIFF (*.TIF;*.TIFF)|*.TIF;*.TIFF");
    QString fresh;
    BuildFileFilter(save.mid(2, 1), fresh);
    EXPECT_EQ(fresh, "PNG (*.PNG)|*.PNG");

    // Qt splits patterns on blanks only.
    const QStringList names = QelNameFilters(save);
    ASSERT_EQ(names.size(), 4);
    EXPECT_EQ(names[0], "JPEG (*.JPG *.JPEG)");
    EXPECT_EQ(names[3], "Bitmap (*.BMP *.RLE *.DIB)");
}

}  // namespace
