#include "base/text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "base/text_file.h"

namespace kyt {
namespace {

TEST(Utf8, RoundTripsEveryPlane) {
  // Plain ASCII, Latin-1, a three-byte character, and a character outside the
  // basic plane that UTF-16 carries as a surrogate pair.
  const Text text = u"a\u00E4\u20AC\U0001F600z";
  const std::string bytes = "a\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80z";
  EXPECT_EQ(to_utf8(text), bytes);
  Text decoded = from_utf8(bytes);
  EXPECT_EQ(decoded, text);
  ASSERT_EQ(decoded.size(), 6u);
  EXPECT_EQ(decoded[3], 0xD83D);
  EXPECT_EQ(decoded[4], 0xDE00);
}

TEST(Utf8, BoundaryCodePointsRoundTrip) {
  for (uint32_t cp : {0x0u, 0x7Fu, 0x80u, 0x7FFu, 0x800u, 0xFFFFu, 0x10000u, 0x10FFFFu}) {
    Text text;
    if (cp >= 0x10000) {
      text.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
      text.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
    } else {
      text.push_back(static_cast<char16_t>(cp));
    }
    EXPECT_EQ(from_utf8(to_utf8(text)), text) << std::hex << cp;
  }
}

TEST(Utf8, UnpairedSurrogatesBecomeReplacementCharacters) {
  EXPECT_EQ(to_utf8(Text(1, char16_t(0xD800))), "\xEF\xBF\xBD");
  EXPECT_EQ(to_utf8(Text(1, char16_t(0xDC00))), "\xEF\xBF\xBD");
  // A low surrogate before a high one is not a pair.
  EXPECT_EQ(to_utf8(Text{char16_t(0xDC00), char16_t(0xD800), u'x'}), "\xEF\xBF\xBD\xEF\xBF\xBDx");
  EXPECT_EQ(to_utf8(Text{char16_t(0xD83D), u'x'}), "\xEF\xBF\xBDx");
}

TEST(Utf8, MalformedInputIsReplacedNotRejected) {
  struct Case {
    std::string bytes;
    Text expected;
  };
  const std::vector<Case> cases = {
      {"\x80", u"\uFFFD"},                        // lone continuation byte
      {"a\xFFz", u"a\uFFFDz"},                    // byte that never starts a sequence
      {"\xE2\x82", u"\uFFFD"},                    // sequence cut by the end of the input
      {"\xE2\x28\xA1", u"\uFFFD(\uFFFD"},         // sequence broken by an ASCII byte
      {"\xC0\xAF", u"\uFFFD"},                    // overlong "/"
      {"\xED\xA0\x80", u"\uFFFD"},                // surrogate encoded in UTF-8
      {"\xF4\x90\x80\x80", u"\uFFFD"},            // beyond U+10FFFF
      {"\xF0\x9F\x98", u"\uFFFD"},                // four-byte sequence cut short
      {"ok\xC3", u"ok\uFFFD"},                    // two-byte sequence cut short
  };
  for (const auto& c : cases) EXPECT_EQ(from_utf8(c.bytes), c.expected) << testing::PrintToString(c.bytes);
}

TEST(Case, FoldsTheAlphabetsASetupMeets) {
  EXPECT_TRUE(equals_ignore_case(u"TargetDir", u"TARGETDIR"));
  EXPECT_TRUE(equals_ignore_case(u"\u00C4PFEL", u"\u00E4pfel"));
  EXPECT_TRUE(equals_ignore_case(u"\u041F\u0420\u0418\u0412\u0415\u0422", u"\u043F\u0440\u0438\u0432\u0435\u0442"));
  EXPECT_TRUE(equals_ignore_case(u"\u0391\u0392\u0393", u"\u03B1\u03B2\u03B3"));
  EXPECT_FALSE(equals_ignore_case(u"abc", u"abd"));
  EXPECT_FALSE(equals_ignore_case(u"abc", u"abcd"));
  EXPECT_EQ(to_upper(u"stra\u00DFe"), u"STRA\u00DFE");
  EXPECT_EQ(to_upper(u"\u00FF"), u"\u0178");
  EXPECT_EQ(to_lower(u"\u0178"), u"\u00FF");
  // The multiplication and division signs sit among the letters but have no case.
  EXPECT_EQ(to_lower(u"\u00D7"), u"\u00D7");
  EXPECT_EQ(to_upper(u"\u00F7"), u"\u00F7");
}

TEST(Case, FindAndReplaceIgnoringCase) {
  EXPECT_EQ(find_ignore_case(u"Hello World", u"WORLD"), 6u);
  EXPECT_EQ(find_ignore_case(u"Hello World", u"o", 5), 7u);
  EXPECT_EQ(find_ignore_case(u"abc", u"abcd"), Text::npos);
  EXPECT_TRUE(starts_with_ignore_case(u"$NewLine$x", u"$NEWLINE$"));
  EXPECT_FALSE(starts_with_ignore_case(u"$NEW", u"$NEWLINE$"));
  EXPECT_EQ(replace_all_ignore_case(u"a-X-x-b", u"x", u"yy"), u"a-yy-yy-b");
  EXPECT_EQ(replace_all(u"a-X-x-b", u"x", u"yy"), u"a-X-yy-b");
  // A replacement that contains the searched text is not searched again.
  EXPECT_EQ(replace_all(u"aa", u"a", u"aa"), u"aaaa");
}

TEST(BooleanText, TrueIsTrueInAnyCaseOrMinusOne) {
  for (TextView text : {u"TRUE", u"true", u"True", u"tRuE", u"-1"}) EXPECT_TRUE(is_true(text)) << to_utf8(text);
  for (TextView text : {u"", u"1", u"-1 ", u" -1", u"YES", u"T", u"TRUE ", u" TRUE", u"FALSE", u"-01", u"+1"})
    EXPECT_FALSE(is_true(text)) << to_utf8(text);
  EXPECT_EQ(bool_text(true), u"TRUE");
  EXPECT_EQ(bool_text(false), u"FALSE");
}

TEST(LineBreakEscape, BothWays) {
  EXPECT_EQ(escape_line_breaks(u"one\r\ntwo\r\n"), u"one$NEWLINE$two$NEWLINE$");
  // Only the CR LF pair is a line break here.
  EXPECT_EQ(escape_line_breaks(u"a\nb\rc"), u"a\nb\rc");
  EXPECT_EQ(unescape_line_breaks(u"one$NEWLINE$two"), u"one\r\ntwo");
  EXPECT_EQ(unescape_line_breaks(u"$newline$x$NewLine$"), u"\r\nx\r\n");
  EXPECT_EQ(unescape_line_breaks(u"$NEWLINE"), u"$NEWLINE");
  const Text multi = u"first\r\n\r\nthird";
  EXPECT_EQ(unescape_line_breaks(escape_line_breaks(multi)), multi);
}

TEST(PathText, CollapseBackslashesKeepsALeadingPair) {
  struct Case {
    Text path;
    Text expected;
  };
  const std::vector<Case> cases = {
      {u"C:\\\\Program Files\\\\App", u"C:\\Program Files\\App"},
      {u"\\\\server\\\\share\\dir", u"\\\\server\\share\\dir"},
      {u"C:\\dir\\file", u"C:\\dir\\file"},
      {u"a\\\\\\b", u"a\\\\b"},  // pairs collapse left to right: three become two
      {u"\\\\\\\\x", u"\\\\\\x"},
      {u"\\x", u"\\x"},
      {u"", u""},
  };
  for (const auto& c : cases) EXPECT_EQ(collapse_backslashes(c.path), c.expected) << to_utf8(c.path);
}

TEST(PathText, SplitAtFirstBar) {
  EXPECT_EQ(split_at_bar(u"HKLM\\Software|Value"), std::make_pair(Text(u"HKLM\\Software"), Text(u"Value")));
  EXPECT_EQ(split_at_bar(u"a|b|c"), std::make_pair(Text(u"a"), Text(u"b|c")));
  EXPECT_EQ(split_at_bar(u"no bar"), std::make_pair(Text(u"no bar"), Text()));
  EXPECT_EQ(split_at_bar(u"|x"), std::make_pair(Text(), Text(u"x")));
  EXPECT_EQ(split_at_bar(u"x|"), std::make_pair(Text(u"x"), Text()));
}

TEST(Numbers, ParseInt32Limits) {
  struct Case {
    Text text;
    std::optional<int32_t> expected;
  };
  const std::vector<Case> cases = {
      {u"0", 0},
      {u"010", 10},
      {u"+5", 5},
      {u"-5", -5},
      {u"  7", 7},
      {u"2147483647", std::numeric_limits<int32_t>::max()},
      {u"-2147483648", std::numeric_limits<int32_t>::min()},
      {u"2147483648", std::nullopt},
      {u"-2147483649", std::nullopt},
      {u"99999999999999999999999", std::nullopt},
      {u"", std::nullopt},
      {u"-", std::nullopt},
      {u"+", std::nullopt},
      {u"7 ", std::nullopt},
      {u"1a", std::nullopt},
      {u"1.0", std::nullopt},
      {u"--1", std::nullopt},
      {u"\uFF11", std::nullopt},  // a full-width digit is not a digit here
  };
  for (const auto& c : cases) EXPECT_EQ(parse_int32(c.text), c.expected) << to_utf8(c.text);
}

TEST(Numbers, ParseInt64Limits) {
  EXPECT_EQ(parse_int64(u"9223372036854775807"), std::numeric_limits<int64_t>::max());
  EXPECT_EQ(parse_int64(u"-9223372036854775808"), std::numeric_limits<int64_t>::min());
  EXPECT_EQ(parse_int64(u"9223372036854775808"), std::nullopt);
  EXPECT_EQ(parse_int64(u"-9223372036854775809"), std::nullopt);
  EXPECT_EQ(parse_int64(u"18446744073709551616"), std::nullopt);
  EXPECT_EQ(parse_int64(u"4294967296"), 4294967296);
}

TEST(Numbers, LeadingIntegerAndDecimal) {
  EXPECT_EQ(leading_integer(u"1252"), 1252);
  EXPECT_EQ(leading_integer(u"2 web"), 2);
  EXPECT_EQ(leading_integer(u"-3x"), -3);
  EXPECT_EQ(leading_integer(u"x3"), 0);
  EXPECT_EQ(leading_integer(u""), 0);
  EXPECT_EQ(decimal(0), u"0");
  EXPECT_EQ(decimal(-42), u"-42");
  EXPECT_EQ(decimal(std::numeric_limits<int64_t>::min()), u"-9223372036854775808");
}

TEST(TextFile, ReadsAnyLineEndAndSkipsTheByteOrderMark) {
  EXPECT_EQ(read_utf8_lines("\xEF\xBB\xBFone\r\ntwo\nthree\rfour"),
            (std::vector<Text>{u"one", u"two", u"three", u"four"}));
  EXPECT_EQ(read_utf8_lines("a\r\n\r\nb\r\n"), (std::vector<Text>{u"a", u"", u"b"}));
  EXPECT_EQ(read_utf8_lines(""), std::vector<Text>{});
  EXPECT_EQ(read_utf8_lines("\xEF\xBB\xBF"), std::vector<Text>{});
  // Only a mark at the very start is skipped.
  EXPECT_EQ(read_utf8_lines("x\xEF\xBB\xBF"), std::vector<Text>{u"x\uFEFF"});
}

TEST(TextFile, WritesCrLfWithOptionalMark) {
  const std::vector<Text> lines = {u"\u00E4", u"", u"end"};
  EXPECT_EQ(write_utf8_lines(lines, true), "\xEF\xBB\xBF\xC3\xA4\r\n\r\nend\r\n");
  EXPECT_EQ(write_utf8_lines(lines, false), "\xC3\xA4\r\n\r\nend\r\n");
  EXPECT_EQ(read_utf8_lines(write_utf8_lines(lines, true)), lines);
}

}  // namespace
}  // namespace kyt

namespace kyt {
namespace {

TEST(PathPieces, FolderNameAndTrailingBackslash) {
  EXPECT_EQ(folder_of(u"C:\\a\\b.txt"), u"C:\\a\\");
  EXPECT_EQ(folder_of(u"dir/b.txt"), u"dir/");
  EXPECT_EQ(folder_of(u"b.txt"), u"");
  EXPECT_EQ(file_name_of(u"C:\\a\\b.txt"), u"b.txt");
  EXPECT_EQ(file_name_of(u"C:\\a\\"), u"");
  EXPECT_EQ(file_name_of(u"plain"), u"plain");
  EXPECT_EQ(with_backslash(u"C:\\a"), u"C:\\a\\");
  EXPECT_EQ(with_backslash(u"C:\\a\\"), u"C:\\a\\");
  EXPECT_EQ(with_backslash(u""), u"");
}

}  // namespace
}  // namespace kyt
