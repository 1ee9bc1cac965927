#include <gtest/gtest.h>

#include <QGuiApplication>

#include "QelCursors.h"

TEST(TQelCursorRegistry, SlotHundredHoldsTheHandSoTheSearchStartsAbove) {
    TQelCursorRegistry registry;
    EXPECT_EQ(registry.Cursor(crQelHand).shape(), Qt::OpenHandCursor);
    EXPECT_FALSE(registry.IsFree(100));
    EXPECT_EQ(registry.FindFreeSlot(100), 101);

    // With slot 100 free again, it is the first.
    registry.RemoveCursor(100);
    EXPECT_EQ(registry.FindFreeSlot(100), 100);
}

TEST(TQelCursorRegistry, FullTableGivesTheLastSlot) {
    TQelCursorRegistry registry;
    for (int id = 100; id <= 32766; ++id) registry.SetCursor(int16_t(id), QCursor(Qt::CrossCursor));
    EXPECT_EQ(registry.FindFreeSlot(100), 32767);
    registry.RemoveCursor(20000);
    EXPECT_EQ(registry.FindFreeSlot(100), 20000);
}

TEST(TQelCursorRegistry, UnknownIdsShowTheArrowAndBuiltInsTheirShapes) {
    TQelCursorRegistry registry;
    EXPECT_EQ(registry.Cursor(555).shape(), Qt::ArrowCursor);
    EXPECT_EQ(registry.Cursor(crHourGlass).shape(), Qt::WaitCursor);
    EXPECT_EQ(registry.Cursor(crCross).shape(), Qt::CrossCursor);
    EXPECT_EQ(registry.Cursor(crNone).shape(), Qt::BlankCursor);
    // The default slot cannot be emptied.
    registry.RemoveCursor(crDefault);
    EXPECT_FALSE(registry.IsFree(crDefault));
}

TEST(QelScreenCursor, ActsAsOneSettingNotAStack) {
    QelSetScreenCursor(crHourGlass);
    QelSetScreenCursor(crHourGlass);
    ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
    QelSetScreenCursor(crCross);
    EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::CrossCursor);
    EXPECT_EQ(QelScreenCursor(), crCross);
    // One reset ends every earlier setting.
    QelSetScreenCursor(crDefault);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QelScreenCursor(), crDefault);
}
