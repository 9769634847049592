#include "install/xml_edit.h"

#include <gtest/gtest.h>

namespace kyt {
namespace {

constexpr char kConfig[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
    "<configuration><appSettings>"
    "<add key=\"a\" value=\"1\"/><add key=\"b\" value=\"2\"/>"
    "</appSettings><name>old</name></configuration>\r\n";

struct Case {
  const char* what;
  int operation;
  const char16_t* path;
  const char16_t* text;
  const char16_t* attributes;
  bool all;
  const char* expected_body;  // between the declaration line and the end; nullptr: file unchanged
};

TEST(EditXmlFile, Operations) {
  const Case cases[] = {
      {"change text", 0, u"configuration\\name", u"new", u"", false,
       "<configuration><appSettings><add key=\"a\" value=\"1\"/><add key=\"b\" value=\"2\"/></appSettings>"
       "<name>new</name></configuration>"},
      {"create along the path", 0, u"configuration\\runtime\\gc", u"", u"\"enabled,true\"", false,
       "<configuration><appSettings><add key=\"a\" value=\"1\"/><add key=\"b\" value=\"2\"/></appSettings>"
       "<name>old</name><runtime><gc enabled=\"true\"/></runtime></configuration>"},
      {"change existing only: missing element", 1, u"configuration\\missing", u"x", u"", false, nullptr},
      {"change existing only: other document element", 1, u"other\\name", u"x", u"", false, nullptr},
      {"set attribute of the last match only", 1, u"configuration\\appSettings\\add", u"", u"\"value,9\"", false,
       "<configuration><appSettings><add key=\"a\" value=\"1\"/><add key=\"b\" value=\"9\"/></appSettings>"
       "<name>old</name></configuration>"},
      {"set attribute of all matches", 1, u"configuration\\appSettings\\add", u"", u"\"value,9\"", true,
       "<configuration><appSettings><add key=\"a\" value=\"9\"/><add key=\"b\" value=\"9\"/></appSettings>"
       "<name>old</name></configuration>"},
      {"add a new element", 2, u"configuration\\appSettings\\add", u"", u"\"key,c\",\"value,3\"", false,
       "<configuration><appSettings><add key=\"a\" value=\"1\"/><add key=\"b\" value=\"2\"/>"
       "<add key=\"c\" value=\"3\"/></appSettings><name>old</name></configuration>"},
      {"add refuses a duplicate with all matches", 2, u"configuration\\appSettings\\add", u"",
       u"\"key,a\",\"value,1\"", true, nullptr},
      {"delete the element whose attributes match", 3, u"configuration\\appSettings\\add", u"", u"\"key,a\"", false,
       "<configuration><appSettings><add key=\"b\" value=\"2\"/></appSettings><name>old</name></configuration>"},
      {"delete needs matching text", 3, u"configuration\\name", u"other", u"", false, nullptr},
      {"delete all matches", 3, u"configuration\\appSettings\\add", u"", u"", true,
       "<configuration><appSettings/><name>old</name></configuration>"},
      {"remove one attribute", 4, u"configuration\\appSettings\\add", u"", u"\"value,\"", true,
       "<configuration><appSettings><add key=\"a\"/><add key=\"b\"/></appSettings><name>old</name></configuration>"},
      {"remove all attributes", 4, u"configuration\\appSettings\\add", u"", u"", false,
       "<configuration><appSettings><add key=\"a\" value=\"1\"/><add/></appSettings><name>old</name>"
       "</configuration>"},
      {"a colon ends a segment", 0, u"configuration:name", u"c", u"", false,
       "<configuration><appSettings><add key=\"a\" value=\"1\"/><add key=\"b\" value=\"2\"/></appSettings>"
       "<name>c</name></configuration>"},
      {"remove the document element", 3, u"configuration", u"", u"", false, ""},
  };
  for (const Case& c : cases) {
    MemoryFileSystem files;
    files.write_file(u"C:\\App\\app.config", kConfig);
    XmlEdit edit{u"C:\\App\\app.config", u"UTF-8", 0, c.path, c.text, c.attributes, c.operation, c.all};
    Text failure;
    XmlEditResult result = edit_xml_file(files, edit, failure);
    std::string after = *files.read_file(u"C:\\App\\app.config");
    if (!c.expected_body) {
      EXPECT_EQ(result, XmlEditResult::unchanged) << c.what;
      EXPECT_EQ(after, kConfig) << c.what;
    } else {
      EXPECT_EQ(result, XmlEditResult::saved) << c.what;
      EXPECT_EQ(after, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n" + std::string(c.expected_body) +
                           (*c.expected_body ? "\r\n" : ""))
          << c.what;
    }
    EXPECT_EQ(files.files.size(), 1u) << c.what << ": no backup asked for";
  }
}

TEST(EditXmlFile, NewDocumentsBackupsAndDamagedFiles) {
  MemoryFileSystem files;
  XmlEdit edit{u"C:\\new.xml", u"ISO-8859-1", 2, u"root\\item", u"\u00E4", u"\"id,1\"", 0};
  Text failure;
  ASSERT_EQ(edit_xml_file(files, edit, failure), XmlEditResult::saved);
  EXPECT_EQ(*files.read_file(u"C:\\new.xml"),
            "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n<root>\r\n  <item id=\"1\">\xE4</item>\r\n</root>\r\n");

  // Back-ups take the first free number.
  edit.backup = true;
  edit.text = u"b";
  ASSERT_EQ(edit_xml_file(files, edit, failure), XmlEditResult::saved);
  ASSERT_EQ(edit_xml_file(files, edit, failure), XmlEditResult::saved);
  EXPECT_TRUE(files.exists(u"C:\\new.xml.backup. 0"));
  EXPECT_TRUE(files.exists(u"C:\\new.xml.backup. 1"));
  EXPECT_NE(files.read_file(u"C:\\new.xml.backup. 0"), files.read_file(u"C:\\new.xml.backup. 1"));

  // A file that cannot be loaded is replaced, but kept beside it first.
  files.write_file(u"C:\\bad.xml", "<config><unclosed></config>");
  XmlEdit damaged{u"C:\\bad.xml", u"UTF-8", 0, u"config\\x", u"1", u"", 0};
  ASSERT_EQ(edit_xml_file(files, damaged, failure), XmlEditResult::saved);
  EXPECT_EQ(*files.read_file(u"C:\\bad.xml.backup. 0"), "<config><unclosed></config>");
  EXPECT_EQ(*files.read_file(u"C:\\bad.xml"), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<config><x>1</x></config>\r\n");

  // A file that cannot be written is reported.
  files.fail_writes = true;
  EXPECT_EQ(edit_xml_file(files, edit, failure), XmlEditResult::not_saved);
  EXPECT_NE(failure.find(u"C:\\new.xml"), Text::npos);
}

TEST(EditXmlFile, WhiteSpace) {
  const std::string indented = "<a>\r\n  <b>1</b>\r\n</a>\r\n";
  for (bool preserve : {true, false}) {
    MemoryFileSystem files;
    files.write_file(u"C:\\w.xml", indented);
    XmlEdit edit{u"C:\\w.xml", u"", 0, u"a\\c", u"2", u"", 0, false, preserve};
    Text failure;
    ASSERT_EQ(edit_xml_file(files, edit, failure), XmlEditResult::saved);
    EXPECT_EQ(*files.read_file(u"C:\\w.xml"),
              preserve ? "<a>\r\n  <b>1</b>\r\n<c>2</c></a>\r\n" : "<a><b>1</b><c>2</c></a>\r\n");
  }
}

}  // namespace
}  // namespace kyt
