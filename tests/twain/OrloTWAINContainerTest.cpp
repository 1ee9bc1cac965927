#include "OrloTWAINContainer.h"

#include <cmath>
#include <cstring>

#include <gtest/gtest.h>

#include "OrloTWAINFix.h"
#include "TwnBlockSupport.h"

namespace {

std::vector<uint8_t> Bytes(TW_HANDLE h) {
    const auto* p = static_cast<const uint8_t*>(TwnGlobal::lock(h));
    std::vector<uint8_t> b(p, p + TwnGlobal::size(h));
    TwnGlobal::unlock(h);
    return b;
}

TEST(TwnFix32, ConvertsBothWaysWithFourDecimals) {
    TW_FIX32 f = FloatToFix(-1.5);
    EXPECT_EQ(f.Whole, -2);
    EXPECT_EQ(f.Frac, 32768);
    EXPECT_DOUBLE_EQ(FixToFloat(f), -1.5);
    EXPECT_DOUBLE_EQ(FixToFloat(TW_FIX32{1, 0x4000}), 1.25);
    EXPECT_DOUBLE_EQ(FixToFloat(TW_FIX32{0, 65535}), 1.0);
    f = FloatToFix(300.0);
    EXPECT_EQ(f.Whole, 300);
    EXPECT_EQ(f.Frac, 0);
    f = FloatToFix(0.00001);
    EXPECT_EQ(f.Whole, 0);
    EXPECT_EQ(f.Frac, 1);
}

TEST(TwnContainer, EnumerationFromTheSourceReadsAndSendsBack) {
    // UINT16, 3 items, current 1, default 0, items 0, 1, 3.
    const std::vector<uint8_t> raw{4, 0, 3, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 3, 0};
    TW_HANDLE h = TwnBlockOf(raw);
    TTwnContainer c;
    ASSERT_TRUE(c.ReadFromSource(ICAP_PIXELTYPE, TWON_ENUMERATION, h));
    TwnGlobal::free(h);
    EXPECT_EQ(c.ItemCount(), 3);
    EXPECT_EQ(TwnValueToInt(c.CurrentValue()), 1);
    EXPECT_EQ(TwnValueToInt(c.MinValue()), 0);
    EXPECT_EQ(TwnValueToInt(c.MaxValue()), 3);
    EXPECT_EQ(c.IndexOf(int64_t(3)), 2);
    EXPECT_EQ(TwnValueToInt(c.Item(7)), -1);
    c.SetCurrentValue(int64_t(3));
    TW_HANDLE out = c.ToTwain(false);
    EXPECT_EQ(Bytes(out), (std::vector<uint8_t>{4, 0, 3, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 3, 0}));
    TwnGlobal::free(out);
    // Any other index sends the current value as a one-value.
    out = c.ToTwain(true);
    EXPECT_EQ(Bytes(out), (std::vector<uint8_t>{4, 0, 3, 0, 0, 0}));
    TwnGlobal::free(out);
}

TEST(TwnContainer, HostileBlocksAreRefusedOrBounded) {
    // An array claiming 0x7FFFFFFF items in a 10-byte block.
    TW_HANDLE h = TwnBlockOf({4, 0, 0xff, 0xff, 0xff, 0x7f, 1, 0, 2, 0});
    TTwnContainer c;
    EXPECT_FALSE(c.ReadFromSource(CAP_SUPPORTEDCAPS, TWON_ARRAY, h));
    TwnGlobal::free(h);
    // An enumeration whose current index is past its items.
    h = TwnBlockOf({4, 0, 3, 0, 0, 0, 99, 0, 0, 0, 0, 0, 0, 0, 5, 0, 6, 0, 7, 0});
    ASSERT_TRUE(c.ReadFromSource(ICAP_PIXELTYPE, TWON_ENUMERATION, h));
    TwnGlobal::free(h);
    EXPECT_EQ(TwnValueToInt(c.CurrentValue()), -1);
    EXPECT_EQ(c.ItemCount(), 3);
    // Unknown container and item types.
    h = TwnBlockOf({4, 0, 1, 0, 0, 0});
    EXPECT_FALSE(c.ReadFromSource(ICAP_PIXELTYPE, 9, h));
    TwnGlobal::free(h);
    h = TwnBlockOf({77, 0, 1, 0, 0, 0});
    EXPECT_FALSE(c.ReadFromSource(ICAP_PIXELTYPE, TWON_ONEVALUE, h));
    TwnGlobal::free(h);
    // A block shorter than its item.
    h = TwnBlockOf({TWTY_FRAME, 0, 1, 2});
    EXPECT_FALSE(c.ReadFromSource(ICAP_FRAMES, TWON_ONEVALUE, h));
    TwnGlobal::free(h);
}

TEST(TwnContainer, RangeClampsAndSnapsHalvesToEven) {
    TW_HANDLE h = TwnBlockOf({TWTY_INT32, 0, 0, 0, 0, 0, 100, 0, 0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    TTwnContainer c;
    ASSERT_TRUE(c.ReadFromSource(CAP_XFERCOUNT, TWON_RANGE, h));
    TwnGlobal::free(h);
    c.SetCurrentValue(int64_t(47));
    EXPECT_EQ(TwnValueToInt(c.CurrentValue()), 50);
    c.SetCurrentValue(int64_t(120));
    EXPECT_EQ(TwnValueToInt(c.CurrentValue()), 100);
    c.SetCurrentValue(int64_t(45));
    EXPECT_EQ(TwnValueToInt(c.CurrentValue()), 40);
    EXPECT_EQ(TwnValueToInt(c.StepValue()), 10);
}

TEST(TwnContainer, Fix32StepThatReadsAsZeroDoesNotDivide) {
    // Min 0, max 10, step (0, 1) which is 0.0 at four decimals.
    std::vector<uint8_t> raw{TWTY_FIX32, 0};
    for (uint32_t v : {FixToBits(FloatToFix(0)), FixToBits(FloatToFix(10)), FixToBits(TW_FIX32{0, 1}),
                       FixToBits(FloatToFix(0)), FixToBits(FloatToFix(0))})
        for (int i = 0; i < 4; ++i) raw.push_back(uint8_t(v >> (8 * i)));
    TW_HANDLE h = TwnBlockOf(raw);
    TTwnContainer c;
    ASSERT_TRUE(c.ReadFromSource(ICAP_XRESOLUTION, TWON_RANGE, h));
    TwnGlobal::free(h);
    c.SetCurrentValue(3.25);
    EXPECT_DOUBLE_EQ(TwnValueToDouble(c.CurrentValue()), 3.25);
}

TEST(TwnContainer, DoublesBeyondSixtyFourBitsAreHeldAtTheLimit) {
    EXPECT_EQ(TwnValueToInt(1e300), INT64_MAX);
    EXPECT_EQ(TwnValueToInt(-1e300), INT64_MIN);
    EXPECT_EQ(TwnValueToInt(9223372036854775808.0), INT64_MAX);
    EXPECT_EQ(TwnValueToInt(-9223372036854775808.0), INT64_MIN);
    EXPECT_EQ(TwnValueToInt(-2.5), -2);
    // Set through a container of integers, as a caller's value would be.
    TTwnContainer c;
    c.SetCap(CAP_XFERCOUNT);
    c.SetCurrentValue(1e30);
    EXPECT_EQ(TwnValueToInt(c.CurrentValue()), -1);  // INT64_MAX cut to 16 bits
    // A range clamps far values and keeps its current value for NaN.
    TW_HANDLE h = TwnBlockOf({TWTY_INT32, 0, 0, 0, 0, 0, 100, 0, 0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 30, 0, 0, 0});
    TTwnContainer r;
    ASSERT_TRUE(r.ReadFromSource(CAP_XFERCOUNT, TWON_RANGE, h));
    TwnGlobal::free(h);
    r.SetCurrentValue(std::nan(""));
    EXPECT_EQ(TwnValueToInt(r.CurrentValue()), 30);
    r.SetCurrentValue(-1e300);
    EXPECT_EQ(TwnValueToInt(r.CurrentValue()), 0);
}

TEST(TwnContainer, TypesFollowTheCapabilityAndClearKeepsTheType) {
    TTwnContainer c;
    c.SetCap(ICAP_XRESOLUTION);
    EXPECT_EQ(c.ItemType(), TWTY_FIX32);
    c.SetCap(CAP_INDICATORS);
    EXPECT_EQ(c.ItemType(), TWTY_BOOL);
    c.SetCap(ICAP_FRAMES);
    EXPECT_EQ(c.ItemType(), TWTY_FRAME);
    c.SetCap(0x7777);  // not in the table: the type stays
    EXPECT_EQ(c.ItemType(), TWTY_FRAME);
    c.SetCap(CAP_INDICATORS);
    c.SetCurrentValue(true);
    EXPECT_EQ(std::get<bool>(c.CurrentValue()), true);
    c.Clear();
    EXPECT_EQ(c.ItemType(), TWTY_BOOL);
    // A long text in the longest string type stays inside its item.
    c.SetItemType(TWTY_STR1024);
    c.SetCurrentValue(std::string(5000, 'x'));
    EXPECT_EQ(std::get<std::string>(c.CurrentValue()).size(), 1026u);
    TW_HANDLE out = c.ToTwain(true);
    EXPECT_EQ(TwnGlobal::size(out), 2u + 1027u);
    TwnGlobal::free(out);
    EXPECT_EQ(TwnValueToInt(c.MinValue()), -1);  // no minimum of texts
}

TEST(TwnContainer, ArrayGrowsAndTheListKeepsOnePerCapability) {
    TTwnContainerList list;
    TTwnContainer* a = list.Create(CAP_DEVICEEVENT);
    a->SetConType(TWON_ARRAY);
    EXPECT_EQ(a->ItemCount(), 0);
    a->AddItem(int64_t(1));
    a->AddItem(int64_t(15));
    TW_HANDLE out = a->ToTwain(false);
    EXPECT_EQ(Bytes(out), (std::vector<uint8_t>{4, 0, 2, 0, 0, 0, 1, 0, 15, 0}));
    TwnGlobal::free(out);
    TTwnContainer* b = list.Create(CAP_DEVICEEVENT);
    EXPECT_EQ(list.Count(), 1);
    EXPECT_EQ(list.Find(CAP_DEVICEEVENT), b);
}

}  // namespace
