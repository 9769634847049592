#include "base/xml.h"

#include <gtest/gtest.h>

namespace kyt {
namespace {

std::string round_trip(std::string_view bytes, bool preserve, int format = 0) {
  auto document = XmlDocument::parse(bytes, preserve);
  EXPECT_TRUE(document) << bytes;
  return document ? document->save(format) : std::string();
}

TEST(Xml, KeepsWhatItDoesNotEdit) {
  // Declaration, document type with internal subset, comments, an
  // instruction, CDATA, entity references of the document's own and
  // character references survive a load and save unchanged.
  const std::string file =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
      "<!DOCTYPE c [ <!ENTITY co \"Contoso > Inc\"> ]>\r\n"
      "<!-- top -->\r\n"
      "<c a=\"1 &amp; 2\" b='x'>\r\n"
      "  <d>&co; &lt;here&gt;</d><![CDATA[<raw & text>]]>\r\n"
      "  <?app data?><e/>\r\n"
      "</c>\r\n";
  std::string expected = file;
  expected.replace(expected.find("b='x'"), 5, "b=\"x\"");
  EXPECT_EQ(round_trip(file, true), expected);
}

TEST(Xml, WhiteSpaceAndLayout) {
  const std::string file = "<a>\n  <b x=\"1\">t</b>\n  <c><d/></c>\n</a>";
  EXPECT_EQ(round_trip(file, false), "<a><b x=\"1\">t</b><c><d/></c></a>\r\n");
  EXPECT_EQ(round_trip(file, false, 2), "<a>\r\n  <b x=\"1\">t</b>\r\n  <c>\r\n    <d/>\r\n  </c>\r\n</a>\r\n");
  EXPECT_EQ(round_trip(file, false, 1), "<a>\r\n\t<b x=\"1\">t</b>\r\n\t<c>\r\n\t\t<d/>\r\n\t</c>\r\n</a>\r\n");
  // Mixed content keeps its text where it is.
  EXPECT_EQ(round_trip("<a>x<b/>y</a>", false, 2), "<a>x<b/>y</a>\r\n");
}

TEST(Xml, Encodings) {
  // UTF-16 with a byte-order mark is read and written back as such.
  std::string utf16 = "\xFF\xFE";
  for (char c : std::string("<?xml version=\"1.0\" encoding=\"UTF-16\"?><a>\xE4</a>")) {
    utf16.push_back(c);
    utf16.push_back(0);
  }
  auto document = XmlDocument::parse(utf16, false);
  ASSERT_TRUE(document);
  EXPECT_EQ(document->document_element()->text(), u"\u00E4");
  EXPECT_EQ(document->save(0).substr(0, 4), std::string("\xFF\xFE<\0", 4));

  // Latin-1: the byte is its character; one it cannot hold becomes a
  // character reference.
  auto latin = XmlDocument::parse("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a>\xE4</a>", false);
  ASSERT_TRUE(latin);
  latin->document_element()->set_text(u"\u00E4\u20AC");
  EXPECT_EQ(latin->save(0), "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n<a>\xE4&#8364;</a>\r\n");
  auto cp1252 = XmlDocument::parse("<?xml version=\"1.0\" encoding=\"windows-1252\"?><a>\x80</a>", false);
  ASSERT_TRUE(cp1252);
  EXPECT_EQ(cp1252->document_element()->text(), u"\u20AC");

  // UTF-8 text outside the basic plane, by reference and literally.
  auto wide = XmlDocument::parse("<a b=\"&#x1F600;\">\xF0\x9F\x98\x80</a>", false);
  ASSERT_TRUE(wide);
  EXPECT_EQ(*wide->document_element()->attribute(u"b"), wide->document_element()->text());
}

TEST(Xml, RejectsWhatIsNotWellFormed) {
  for (const char* bad : {"", "<a>", "<a></b>", "<a/><b/>", "text<a/>", "<a x=1/>", "<a x=\"1\" x=\"2\"/>",
                          "<a>&unterminated</a>", "<a>&#0;</a>", "<a>&#xD800;</a>", "<a b=\"<\"/>",
                          "<a x=\"1\"y=\"2\"/>", "<a>\xC3</a>", "<?xml version=\"1.0\" encoding=\"EBCDIC\"?><a/>",
                          "<a><!-- open</a>", "<a><![CDATA[x</a>", "<!DOCTYPE a [<a/>"}) {
    Text error;
    EXPECT_FALSE(XmlDocument::parse(bad, false, &error)) << bad;
    EXPECT_FALSE(error.empty()) << bad;
  }
  std::string deep;
  for (int i = 0; i < 5000; ++i) deep += "<a>";
  EXPECT_FALSE(XmlDocument::parse(deep, false));
}

TEST(Xml, EscapesWhatItWrites) {
  XmlDocument document = XmlDocument::with_declaration(u"UTF-8");
  XmlNode* root = document.set_document_element(u"r");
  root->set_attribute(u"q", u"a\"<&>\tb\nc");
  root->set_text(u"1 < 2 & 3 > ]]>");
  std::string saved = document.save(0);
  EXPECT_EQ(saved, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
                   "<r q=\"a&quot;&lt;&amp;&gt;&#9;b&#10;c\">1 &lt; 2 &amp; 3 &gt; ]]&gt;</r>\r\n");
  auto again = XmlDocument::parse(saved, false);
  ASSERT_TRUE(again);
  EXPECT_EQ(*again->document_element()->attribute(u"q"), u"a\"<&>\tb\nc");
  EXPECT_EQ(again->document_element()->text(), u"1 < 2 & 3 > ]]>");
}

}  // namespace
}  // namespace kyt
