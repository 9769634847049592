#include "base/comma_text.h"

#include <gtest/gtest.h>

#include <vector>

namespace kyt {
namespace {

using Items = std::vector<Text>;

TEST(CommaText, QuotesOnlyWhatNeedsIt) {
  struct Case {
    Items items;
    Text expected;
  };
  const std::vector<Case> cases = {
      {{}, u""},
      {{u"a", u"b"}, u"a,b"},
      {{u""}, u"\"\""},
      {{u"two words"}, u"\"two words\""},
      {{u"x,y"}, u"\"x,y\""},
      {{u"say \"hi\""}, u"\"say \"\"hi\"\"\""},
      {{u"tab\there"}, u"\"tab\there\""},
      {{u"C:\\Program Files\\App", u"TRUE"}, u"\"C:\\Program Files\\App\",TRUE"},
      {{u"a", u"", u"b"}, u"a,\"\",b"},
      {{u"\u00E4\u00F6"}, u"\u00E4\u00F6"},
  };
  for (const auto& c : cases) EXPECT_EQ(to_comma_text(c.items), c.expected) << to_utf8(c.expected);
}

TEST(CommaText, RoundTripIsExact) {
  const std::vector<Items> cases = {
      {},
      {u""},
      {u"", u""},
      {u"a", u"", u"b"},
      {u"", u"trailing empty", u""},
      {u" leading", u"trailing ", u"  "},
      {u"\"", u"\"\"", u"\"quoted\""},
      {u",", u",,", u"a,b,c"},
      {u"mixed \"q\", and, commas"},
      {u"line\r\nbreak", u"tab\tstop"},
      {u"x"},
      {u"$NEWLINE$", u"C:\\\\dir\\"},
  };
  for (const auto& items : cases) {
    Text text = to_comma_text(items);
    EXPECT_EQ(from_comma_text(text), items) << to_utf8(text);
  }
}

TEST(CommaText, ReadsUnquotedEmptiesTrailingCommaAndBlanks) {
  struct Case {
    Text text;
    Items expected;
  };
  const std::vector<Case> cases = {
      {u"", {}},
      {u"   ", {}},
      {u",,", {u"", u"", u""}},
      {u",", {u"", u""}},
      {u"a,", {u"a", u""}},
      {u",a", {u"", u"a"}},
      {u"a,,b", {u"a", u"", u"b"}},
      {u"a,   ,b", {u"a", u"", u"b"}},
      {u"a, b", {u"a", u"b"}},
      {u"a b", {u"a", u"b"}},           // a blank separates items too
      {u"  a  ", {u"a"}},
      {u"a , b", {u"a", u"b"}},
      {u"\"a\"\"b\"", {u"a\"b"}},
      {u"\"a, b\",c", {u"a, b", u"c"}},
      {u"\"unterminated", {u"unterminated"}},
      {u"\"\",\"\"", {u"", u""}},
  };
  for (const auto& c : cases) EXPECT_EQ(from_comma_text(c.text), c.expected) << to_utf8(c.text);
}

}  // namespace
}  // namespace kyt
