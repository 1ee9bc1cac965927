#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "QelHelpers.h"

TEST(QelHelpers, RectRelationTreatsTouchingEdgesAsApart) {
    EXPECT_EQ(RectRelation(TQelRect(0, 0, 10, 10), TQelRect(10, 0, 20, 10)), 0);
    EXPECT_EQ(RectRelation(TQelRect(2, 2, 5, 5), TQelRect(0, 0, 10, 10)), 2);
    EXPECT_EQ(RectRelation(TQelRect(0, 0, 10, 10), TQelRect(0, 0, 10, 10)), 2);
    EXPECT_EQ(RectRelation(TQelRect(5, 5, 15, 15), TQelRect(0, 0, 10, 10)), 1);
    // B inside A is an overlap, not containment of A.
    EXPECT_EQ(RectRelation(TQelRect(0, 0, 10, 10), TQelRect(2, 2, 5, 5)), 1);
    // An empty A overlaps nothing.
    EXPECT_EQ(RectRelation(TQelRect(3, 3, 3, 8), TQelRect(0, 0, 10, 10)), 0);
}

TEST(QelHelpers, InflateCenterAndPoint) {
    TQelRect r;
    InflateRectCopy(TQelRect(10, 10, 20, 20), 2, -1, r);
    EXPECT_EQ(r, TQelRect(8, 11, 22, 19));

    CenterRectIn(TQelRect(0, 0, 10, 10), TQelRect(0, 0, 100, 50), r);
    EXPECT_EQ(r, TQelRect(45, 20, 55, 30));
    // Odd sizes: both halvings truncate.
    CenterRectIn(TQelRect(0, 0, 5, 3), TQelRect(10, 10, 21, 20), r);
    EXPECT_EQ(r, TQelRect(13, 14, 18, 17));
    // Negative coordinates halve toward zero, not down.
    CenterRectIn(TQelRect(0, 0, 4, 4), TQelRect(-11, -11, 0, 0), r);
    EXPECT_EQ(r, TQelRect(-7, -7, -3, -3));

    TQelPoint p;
    SetPointXY(-3, 7, p);
    EXPECT_EQ(p, (TQelPoint{-3, 7}));
}

TEST(QelHelpers, MulDivFloorLowersOnlyNegativeQuotientsWithRemainder) {
    EXPECT_EQ(MulDivFloor(-1, 1, 3), 0);  // a true quotient in (-1, 0) stays 0
    EXPECT_EQ(MulDivFloor(-4, 1, 3), -2);
    EXPECT_EQ(MulDivFloor(4, 1, 3), 1);
    EXPECT_EQ(MulDivFloor(-6, 1, 3), -2);  // exact: no lowering
    EXPECT_EQ(MulDivFloor(200, 300, 7), 8571);
    // The product wraps at 32 bits.
    EXPECT_EQ(MulDivFloor(65536, 65536, 1), 0);
    EXPECT_EQ(MulDivFloor(65536, 32768, 1), std::numeric_limits<int32_t>::min());
    // Guarded instead of trapping.
    EXPECT_EQ(MulDivFloor(5, 5, 0), 0);
    EXPECT_EQ(MulDivFloor(std::numeric_limits<int32_t>::min(), 1, -1), std::numeric_limits<int32_t>::min());
}

TEST(QelHelpers, FitRectProportional) {
    TQelRect r;
    FitRectProportional(TQelRect(0, 0, 200, 100), TQelRect(0, 0, 100, 100), r);
    EXPECT_EQ(r, TQelRect(0, 25, 100, 75));
    // An empty source counts as 1 x 1: the target's smaller side, centred.
    FitRectProportional(TQelRect(), TQelRect(0, 0, 100, 50), r);
    EXPECT_EQ(r, TQelRect(25, 0, 75, 50));
    FitRectProportional(TQelRect(5, 5, 5, 5), TQelRect(10, 20, 40, 80), r);
    EXPECT_EQ(r, TQelRect(10, 35, 40, 65));
    // Equal proportions fill the target exactly (the full-height branch).
    FitRectProportional(TQelRect(0, 0, 640, 480), TQelRect(8, 8, 72, 56), r);
    EXPECT_EQ(r, TQelRect(8, 8, 72, 56));
    // A thumbnail box: 64 x 64 for a 3000 x 2000 picture.
    FitRectProportional(TQelRect(0, 0, 3000, 2000), TQelRect(0, 0, 64, 64), r);
    EXPECT_EQ(r, TQelRect(0, 11, 64, 53));
}

TEST(QelHelpers, MakeLocaleIdAndFileTitle) {
    EXPECT_EQ(MakeLocaleId(0x0409, 1), 0x00010409u);

    EXPECT_EQ(ExtractFileTitle(u"/x/a.b/name.tar.gz"), u"name.tar");
    EXPECT_EQ(ExtractFileTitle(u"/x/noext"), u"noext");
    EXPECT_EQ(ExtractFileTitle(u"/x/a.b/noext"), u"noext");  // a dot in the folder does not count
    EXPECT_EQ(ExtractFileTitle(u"/x/trailing."), u"trailing");
    // Wide names stay whole.
    EXPECT_EQ(ExtractFileTitle(u"/home/ü/Урок 1.dsc"), u"Урок 1");
}

TEST(QelHelpers, AnsiToWideCodePage) {
    std::u16string wide = u"stale";
    EXPECT_TRUE(AnsiToWideCodePage("\xCF\xF0\xE8\xE2\xE5\xF2", 1251, wide));
    EXPECT_EQ(wide, u"Привет");

    wide = u"stale";
    EXPECT_TRUE(AnsiToWideCodePage("", 1251, wide));
    EXPECT_TRUE(wide.empty());

    EXPECT_TRUE(AnsiToWideCodePage("Stra\xDF" "e \x80", 1252, wide));
    EXPECT_EQ(wide, u"Straße €");
    EXPECT_TRUE(AnsiToWideCodePage("\xF0\xD2\xC9", 20866, wide));
    EXPECT_EQ(wide, u"При");
    EXPECT_TRUE(AnsiToWideCodePage("\x93\xfa\x96\x7b", 932, wide));  // two double-byte characters
    EXPECT_EQ(wide, u"日本");

    // A byte the code page leaves undefined and a truncated double-byte
    // character each become one replacement character; the rest survives.
    EXPECT_TRUE(AnsiToWideCodePage("a\x98z", 1251, wide));
    EXPECT_EQ(wide, u"a\uFFFDz");
    EXPECT_TRUE(AnsiToWideCodePage("ab\x93", 932, wide));
    EXPECT_EQ(wide, u"ab\uFFFD");

    // Unknown code pages fail and leave nothing behind.
    wide = u"stale";
    EXPECT_FALSE(AnsiToWideCodePage("abc", 0, wide));
    EXPECT_TRUE(wide.empty());
    EXPECT_FALSE(AnsiToWideCodePage("abc", 1, wide));

    // Longer than the converter's buffer.
    const std::string big(10000, '\xE0');
    EXPECT_TRUE(AnsiToWideCodePage(big, 1251, wide));
    EXPECT_EQ(wide, std::u16string(10000, u'а'));
}
