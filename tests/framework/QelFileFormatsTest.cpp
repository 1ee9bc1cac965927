#include <gtest/gtest.h>

#include "QelFileFormats.h"

namespace {

class TFourFormats : public TQelFileFormats {
public:
    int32_t Count() const override { return int32_t(FRows.size()); }
    const TQelFileFormatInfo* Items(int32_t i) const override { return i >= 0 && i < Count() ? &FRows[i] : nullptr; }

private:
    TQelFileFormatArray FRows{{0, "JPEG", "*.JPG;*.JPEG", ""},
                              {1, "TIFF", "*.TIF;*.TIFF", ""},
                              {2, "PNG", "*.PNG", ""},
                              {3, "Bitmap", "*.BMP;*.RLE;*.DIB", ""}};
};

TEST(QelFileFormats, OpenFormatsAndFilterTexts) {
    const TFourFormats table;
    TQelFileFormatArray open;
    table.GetOpenFormats(open);
    ASSERT_EQ(open.size(), 6);
    EXPECT_EQ(open[4].Id, 0);
    EXPECT_EQ(open[4].Masks, "*.JPG;*.JPEG;*.TIF;*.TIFF;*.PNG;*.BMP;*.RLE;*.DIB");
    EXPECT_EQ(open[5].Id, 0);
    EXPECT_EQ(open[5].Masks, "*.*");
    EXPECT_EQ(IndexOfFileFormat(open, 0), 0);  // the first row with the id
    EXPECT_EQ(table.IndexOfId(9), -1);

    TQelFileFormatArray save{{7, "stale", "*.x", ""}};
    table.GetSaveFormats(save);
    ASSERT_EQ(save.size(), 4);

    QString filter = "X (*.x)|*.x";
    BuildFileFilter(TQelFileFormatArray(), filter);
    EXPECT_EQ(filter, "X (*.x)|*.x");
    BuildFileFilter(save.mid(0, 2), filter);
    EXPECT_EQ(filter, "X (*.x)|*.x|JPEG (*.JPG;*.JPEG)|*.JPG;*.JPEG|TIFF (*.TIF;*.TIFF)|*.TIF;*.TIFF");
    QString fresh;
    BuildFileFilter(save.mid(2, 1), fresh);
    EXPECT_EQ(fresh, "PNG (*.PNG)|*.PNG");

    // Qt separates patterns by blanks only.
    EXPECT_EQ(QelNameFilters(save)[3], "Bitmap (*.BMP *.RLE *.DIB)");
}

}  // namespace
