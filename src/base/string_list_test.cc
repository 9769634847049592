#include "base/string_list.h"

#include <gtest/gtest.h>

namespace kyt {
namespace {

// The hashed and the plain list must answer every lookup alike; the hashed
// one only answers faster.
class StringListLookup : public testing::TestWithParam<bool> {};

TEST_P(StringListLookup, FirstOccurrenceIgnoringCase) {
  StringList list(GetParam());
  for (TextView item : {u"Alpha", u"beta", u"ALPHA", u"Gamma", u"beta"}) list.add(Text(item));
  EXPECT_EQ(list.index_of(u"alpha"), 0u);
  EXPECT_EQ(list.index_of(u"BETA"), 1u);
  EXPECT_EQ(list.index_of(u"gamma"), 3u);
  EXPECT_EQ(list.index_of(u"delta"), StringList::npos);
  EXPECT_EQ(list.index_of(u""), StringList::npos);
  EXPECT_TRUE(list.contains(u"GAMMA"));
  EXPECT_EQ(list.size(), 5u);
}

TEST_P(StringListLookup, FollowsEveryChange) {
  StringList list(GetParam());
  for (TextView item : {u"a", u"b", u"a", u"c"}) list.add(Text(item));
  ASSERT_EQ(list.index_of(u"a"), 0u);  // a hashed list builds its index here

  list.erase(0);  // the duplicate further down becomes the first occurrence
  EXPECT_EQ(list.index_of(u"A"), 1u);
  EXPECT_EQ(list.index_of(u"b"), 0u);

  list.insert(0, u"c");
  EXPECT_EQ(list.index_of(u"c"), 0u);
  EXPECT_EQ(list.index_of(u"a"), 2u);

  list.set(2, u"d");
  EXPECT_EQ(list.index_of(u"a"), StringList::npos);
  EXPECT_EQ(list.index_of(u"d"), 2u);

  list.add(u"a");  // appended after the index was built
  EXPECT_EQ(list.index_of(u"a"), 4u);
  list.add(u"D");  // a later duplicate does not move the first occurrence
  EXPECT_EQ(list.index_of(u"d"), 2u);

  list.clear();
  EXPECT_EQ(list.index_of(u"d"), StringList::npos);
  EXPECT_TRUE(list.empty());
  list.add(u"d");
  EXPECT_EQ(list.index_of(u"d"), 0u);
}

INSTANTIATE_TEST_SUITE_P(HashedAndPlain, StringListLookup, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) { return info.param ? "Hashed" : "Plain"; });

TEST(StringList, SwitchingToHashedKeepsAnswers) {
  StringList list{u"x", u"Y", u"x"};
  EXPECT_FALSE(list.hashed());
  EXPECT_EQ(list.index_of(u"y"), 1u);
  list.set_hashed(true);
  EXPECT_EQ(list.index_of(u"y"), 1u);
  list.set_hashed(false);
  list.erase(1);
  EXPECT_EQ(list.index_of(u"y"), StringList::npos);
  EXPECT_EQ(list.index_of(u"X"), 0u);
}

TEST(StringList, AtOrEmptyOutsideTheList) {
  StringList list{u"only"};
  EXPECT_EQ(list.at_or_empty(0), u"only");
  EXPECT_EQ(list.at_or_empty(1), u"");
  EXPECT_EQ(list.at_or_empty(StringList::npos), u"");
}

TEST(StringList, EqualityComparesItemsExactly) {
  StringList a{u"x", u"y"};
  StringList b(true);
  b.add(u"x");
  b.add(u"y");
  EXPECT_EQ(a, b);
  b.set(1, u"Y");
  EXPECT_NE(a, b);
}

}  // namespace
}  // namespace kyt
