// Switch parsing and item-name safety.
#include <gtest/gtest.h>

#include "media/sevenzip/archive.h"

namespace kyt::sevenzip {
namespace {

TEST(Switches, PresetsParse) {
  WriterOptions options;
  ASSERT_EQ(parse_switches(u"-ssw -mhe=on -mmt=2 -ms=on -mhc=on -m0=BCJ2 -m1=LZMA2 -m1d=26 -m1mf=bt4 -m1fb=64 "
                           u"-m2=LZMA2 -m2d=20 -m2mf=bt4 -m2fb=64 -m3=LZMA2 -m3d=20 -m3mf=bt4 -m3fb=64 -mb0:1 "
                           u"-mb0s1:2 -mb0s2:3 ",
                           options),
            Error::none);
  EXPECT_EQ(options.filter, Filter::bcj2);
  EXPECT_EQ(options.method, Method::lzma2);
  EXPECT_EQ(options.dictionary, 1u << 26);  // the main stream's coder, not the side streams'
  EXPECT_EQ(options.fast_bytes, 64u);
  EXPECT_TRUE(options.binary_tree);
  EXPECT_TRUE(options.encrypt_headers);
  EXPECT_TRUE(options.compress_headers);
  EXPECT_TRUE(options.solid);
  EXPECT_EQ(options.threads, 2);

  WriterOptions plain;
  ASSERT_EQ(parse_switches(u"-ssw -mhe=off -mmt=off -ms=off -mhc=off -m0=None -m0=Copy ", plain), Error::none);
  EXPECT_EQ(plain.method, Method::copy);
  EXPECT_EQ(plain.filter, Filter::none);
  EXPECT_FALSE(plain.encrypt_headers);
  EXPECT_FALSE(plain.compress_headers);
  EXPECT_FALSE(plain.solid);
  EXPECT_EQ(plain.threads, 1);
}

TEST(Switches, ValuesAndForms) {
  struct Case {
    const char16_t* text;
    Method method;
    Filter filter;
    uint32_t dictionary;
    uint32_t fast_bytes;
    bool binary_tree;
  };
  const Case cases[] = {
      {u"-m0=LZMA -m0d=20", Method::lzma, Filter::none, 1u << 20, 32, true},
      {u"-m0=lzma2:d=64m:fb=100:mf=hc4", Method::lzma2, Filter::none, 64u << 20, 100, false},
      {u"-m0=BCJ -m1=LZMA -m1d=4096b", Method::lzma, Filter::bcj, 4096, 32, true},
      {u"-mx=9", Method::lzma2, Filter::none, 1u << 26, 64, true},
      {u"-mx1 -m0d=1m", Method::lzma2, Filter::none, 1u << 20, 32, false},
      {u"-mf=BCJ2 -m0=LZMA2 -m0d=512k", Method::lzma2, Filter::bcj2, 512u << 10, 32, true},
      {u"-mx0", Method::copy, Filter::none, 1u << 14, 32, false},
      {u"-mtc=on -mqs=on -v100m -p -m0=Copy", Method::copy, Filter::none, 1u << 24, 32, true},
  };
  for (const auto& c : cases) {
    WriterOptions options;
    ASSERT_EQ(parse_switches(c.text, options), Error::none);
    EXPECT_EQ(options.method, c.method);
    EXPECT_EQ(options.filter, c.filter);
    EXPECT_EQ(options.dictionary, c.dictionary);
    EXPECT_EQ(options.fast_bytes, c.fast_bytes);
    EXPECT_EQ(options.binary_tree, c.binary_tree);
  }
  WriterOptions options;
  ASSERT_EQ(parse_switches(u"-ms=64m -mmt=on", options), Error::none);
  EXPECT_EQ(options.solid_block_size, 64u << 20);
  EXPECT_GE(options.threads, 1);
}

TEST(Switches, MalformedSwitchesAreRefused) {
  for (const char16_t* text : {u"-m0d=abc", u"-m1fb=2", u"-m0mf=xyz", u"-mhe=maybe", u"-mmt=lots", u"-mx=12",
                               u"m0=LZMA", u"-m0d=40", u"-mb0-1", u"-m99=LZMA"}) {
    WriterOptions options;
    EXPECT_EQ(parse_switches(text, options), Error::bad_switch) << std::string(text, text + std::char_traits<char16_t>::length(text));
  }
}

TEST(SafeItemName, Cases) {
  struct Case {
    const char16_t* name;
    bool safe;
  };
  const Case cases[] = {
      {u"readme.txt", true},
      {u"bin\\tool.exe", true},
      {u"a/b/c", true},
      {u"dir\\..data", true},
      {u"\u00fcber\\\u20ac.txt", true},
      {u"..\\evil.exe", false},
      {u"a\\..\\..\\evil", false},
      {u"a/../b", false},
      {u"...\\x", false},
      {u".. \\x", false},
      {u"\\windows\\x", false},
      {u"/etc/passwd", false},
      {u"C:\\x", false},
      {u"c:x", false},
      {u"file.txt:stream", false},
      {u"NUL", false},
      {u"dir\\con.txt", false},
      {u"Com1", false},
      {u"lpt9.log", false},
      {u"COM\u00b9", false},
      {u"console", true},
      {u"com10", true},
      {u"a\tb", false},
      {u"a?b", false},
      {u"", false},
  };
  for (const auto& c : cases) {
    std::u16string name(c.name);
    EXPECT_EQ(safe_item_name(name), c.safe) << std::string(name.begin(), name.end());
  }
}

}  // namespace
}  // namespace kyt::sevenzip
