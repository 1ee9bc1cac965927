#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "QelClasses.h"

namespace {

struct Thing : IQelInterface {
    static inline int alive = 0;
    Thing() { ++alive; }
    ~Thing() override { --alive; }
};

// Records which values were released, to check when FreeValue runs.
class RecordingBag : public TQelCustomProperties {
public:
    std::vector<uint32_t> freed;

protected:
    void FreeValue(TQelPropertyValue& value) override { freed.push_back(value.Id); }
};

std::vector<uint32_t> Ids(const TQelCustomProperties& bag) {
    std::vector<uint32_t> ids;
    for (int i = 0; i < bag.Count(); ++i) ids.push_back(bag.Items(i)->Id);
    return ids;
}

}  // namespace

TEST(TQelCustomProperties, EmptyBagAnswersSafely) {
    TQelCustomProperties bag;
    EXPECT_EQ(bag.Count(), 0);
    EXPECT_EQ(bag.Items(0), nullptr);
    EXPECT_EQ(bag.Items(-1), nullptr);
    EXPECT_EQ(bag.IndexOf(0), -1);
    EXPECT_TRUE(std::holds_alternative<std::monostate>(bag.GetValue(0)));
    bag.Clear();
    bag.Remove(3);
    EXPECT_EQ(bag.Count(), 0);
}

TEST(TQelCustomProperties, TypedValuesReadBackPositionally) {
    TQelCustomProperties bag;
    bag.SetInteger(0, 2);
    bag.SetDouble(1, 2.5);
    bag.SetString(2, std::string("a\0b", 3));
    bag.SetString(3, "");
    EXPECT_EQ(std::get<int32_t>(bag.GetValue(0)), 2);
    EXPECT_EQ(std::get<double>(bag.GetValue(1)), 2.5);
    EXPECT_EQ(std::get<std::string>(bag.GetValue(2)), std::string("a\0b", 3));
    EXPECT_EQ(std::get<std::string>(bag.GetValue(3)), "");
    EXPECT_EQ(bag.Items(2)->Size, 3u);
    EXPECT_EQ(bag.Items(1)->DataType, QelPropDouble);
    EXPECT_TRUE(std::holds_alternative<std::monostate>(bag.GetValue(4)));
    EXPECT_TRUE(std::holds_alternative<std::monostate>(bag.GetValue(-1)));

    // Replacing with another type and size keeps the position.
    bag.SetString(1, "longer text");
    EXPECT_EQ(Ids(bag), (std::vector<uint32_t>{0, 1, 2, 3}));
    EXPECT_EQ(std::get<std::string>(bag.GetValue(1)), "longer text");
    bag.SetInteger(1, -7);
    EXPECT_EQ(bag.Items(1)->Size, 4u);
    EXPECT_EQ(std::get<int32_t>(bag.GetValue(1)), -7);

    bag.Remove(0);
    EXPECT_EQ(Ids(bag), (std::vector<uint32_t>{1, 2, 3}));
    EXPECT_EQ(bag.IndexOf(3), 2);
    EXPECT_EQ(bag.IndexOf(0), -1);
}

TEST(TQelCustomProperties, OpaqueAndShortValuesAreNotInterpreted) {
    TQelCustomProperties bag;
    const uint8_t bytes[] = {0x01, 0x00};
    bag.SetValue(7, 3, bytes, 2);
    EXPECT_TRUE(std::holds_alternative<std::monostate>(bag.GetValue(0)));
    ASSERT_NE(bag.Items(0), nullptr);
    EXPECT_EQ(bag.Items(0)->Data, (std::vector<uint8_t>{0x01, 0x00}));
    EXPECT_EQ(bag.Items(0)->DataType, 3u);

    // Metadata from a file may carry the integer or double codes with too few bytes.
    bag.SetValue(8, QelPropInteger, bytes, 2);
    bag.SetValue(9, QelPropDouble, bytes, 2);
    bag.SetValue(10, QelPropInteger, nullptr, 0);
    for (int i = 1; i <= 3; ++i) EXPECT_TRUE(std::holds_alternative<std::monostate>(bag.GetValue(i))) << i;

    // A value may be replaced from its own bytes.
    bag.SetValue(7, 3, bag.Items(0)->Data.data(), 1);
    EXPECT_EQ(bag.Items(0)->Data, (std::vector<uint8_t>{0x01}));
}

TEST(TQelCustomProperties, FreeValueRunsOnReplaceRemoveAndClear) {
    RecordingBag bag;
    bag.SetInteger(1, 1);
    bag.SetInteger(2, 2);
    EXPECT_TRUE(bag.freed.empty());
    bag.SetInteger(1, 3);
    bag.Remove(2);
    bag.Remove(5);
    EXPECT_EQ(bag.freed, (std::vector<uint32_t>{1, 2}));
    bag.SetInteger(4, 4);
    bag.Clear();
    EXPECT_EQ(bag.freed, (std::vector<uint32_t>{1, 2, 1, 4}));
    EXPECT_EQ(bag.Count(), 0);
}

TEST(TQelCustomProperties, AssignCopiesInOrderAndEmptiesOnNull) {
    TQelCustomProperties src, dst;
    src.SetString(5, "five");
    src.SetInteger(1, 1);
    const uint8_t raw[] = {9, 8, 7};
    src.SetValue(3, 200, raw, 3);
    dst.SetInteger(99, 0);
    dst.Assign(&src);
    EXPECT_EQ(Ids(dst), (std::vector<uint32_t>{5, 1, 3}));
    EXPECT_EQ(std::get<std::string>(dst.GetValue(0)), "five");
    EXPECT_EQ(dst.Items(2)->DataType, 200u);
    EXPECT_EQ(dst.Items(2)->Data, (std::vector<uint8_t>{9, 8, 7}));
    // The copy is independent of its source.
    src.SetInteger(1, 100);
    EXPECT_EQ(std::get<int32_t>(dst.GetValue(1)), 1);

    dst.Assign(&dst);  // assigning a bag to itself keeps its values
    EXPECT_EQ(dst.Count(), 3);
    dst.Assign(nullptr);
    EXPECT_EQ(dst.Count(), 0);
    EXPECT_EQ(dst.Items(0), nullptr);
}

TEST(TQelProperties, InterfaceValuesHoldCountedReferences) {
    Thing::alive = 0;
    {
        TQelProperties bag;
        bag.SetInterface(1, std::make_shared<Thing>());
        bag.SetInteger(2, 2);
        EXPECT_EQ(Thing::alive, 1);
        EXPECT_TRUE(std::holds_alternative<std::monostate>(bag.GetValue(0)));

        TQelProperties copy;
        copy.Assign(&bag);
        ASSERT_NE(copy.Items(0)->Interface, nullptr);
        EXPECT_EQ(copy.Items(0)->Interface, bag.Items(0)->Interface);
        EXPECT_EQ(copy.Items(0)->Interface.use_count(), 2);

        // Replacing, removing and clearing each release the reference.
        bag.SetString(1, "no longer an interface");
        EXPECT_EQ(bag.Items(0)->Interface, nullptr);
        EXPECT_EQ(Thing::alive, 1);
        copy.Remove(1);
        EXPECT_EQ(Thing::alive, 0);

        bag.SetInterface(3, std::make_shared<Thing>());
        bag.SetInterface(3, std::make_shared<Thing>());
        EXPECT_EQ(Thing::alive, 1);
        EXPECT_EQ(bag.IndexOf(3), 2);
        bag.Clear();
        EXPECT_EQ(Thing::alive, 0);
        bag.SetInterface(4, std::make_shared<Thing>());
    }
    EXPECT_EQ(Thing::alive, 0);  // destruction releases too
}

TEST(TQelPointList, AddReturnsIndicesAndGetPointChecksThem) {
    TQelPointList list;
    EXPECT_EQ(list.Add({1, 2}), 0);
    EXPECT_EQ(list.Add({3, -4}), 1);
    EXPECT_EQ(list.Add({5, 6}), 2);
    EXPECT_EQ(list.GetPoint(1), (TQelPoint{3, -4}));
    EXPECT_THROW(list.GetPoint(3), EQelError);
    EXPECT_THROW(list.GetPoint(-1), EQelError);
    list.Delete(0);
    EXPECT_EQ(list.Count(), 2);
    EXPECT_EQ(list.GetPoint(0), (TQelPoint{3, -4}));
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
}
