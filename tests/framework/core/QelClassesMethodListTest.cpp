#include <gtest/gtest.h>

#include "QelClasses.h"

namespace {
struct Target {
    int a = 0, b = 0;
    void A() { ++a; }
    void B() { ++b; }
};
}  // namespace

TEST(TQelMethodList, RemoveDeletesLastEqualEntryAndReportsItsIndex) {
    Target t, u;
    TQelMethodList list;
    list.Add(TQelMethod(&t, &Target::A));
    list.Add(TQelMethod(&t, &Target::B));
    list.Add(TQelMethod(&t, &Target::A));
    EXPECT_EQ(list.Remove(TQelMethod(&t, &Target::A)), 2);
    ASSERT_EQ(list.Count(), 2);
    EXPECT_TRUE(list.GetMethod(0) == TQelMethod(&t, &Target::A));
    EXPECT_TRUE(list.GetMethod(1) == TQelMethod(&t, &Target::B));
    // Same function on another object, or never added: nothing changes.
    EXPECT_EQ(list.Remove(TQelMethod(&u, &Target::A)), -1);
    EXPECT_EQ(list.Count(), 2);
    list.GetMethod(0)();
    list.GetMethod(1)();
    EXPECT_EQ(t.a, 1);
    EXPECT_EQ(t.b, 1);
}
