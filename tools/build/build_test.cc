#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstring>

#include <map>
#include <set>

#include "build/compiler.h"
#include "build/script_source.h"
#include "build/test_fixtures.h"

namespace kyt::build {
namespace {

constexpr const char* kHeader = "%guid = {6F1C2A54-3B9E-4D07-9A61-2C8E5D4B7F10}\n%title = T\n";

struct Sources {
  std::map<std::string, std::string> files;
  ReadFile reader() const {
    return [this](const std::string& path) -> std::optional<std::string> {
      auto it = files.find(path);
      if (it == files.end()) return std::nullopt;
      return it->second;
    };
  }
};

struct Built {
  bool ok = false;
  Payload payload;
  std::vector<Diagnostic> diagnostics;
  std::string text;
  std::string messages() const {
    std::string all;
    for (const auto& d : diagnostics) all += d.to_string() + "\n";
    return all;
  }
};

Built build(const Sources& sources, const std::string& main = "main.kys") {
  Built b;
  SourceProgram program = parse_program(main, sources.reader(), b.diagnostics);
  bool parse_ok = true;
  for (const auto& d : b.diagnostics) parse_ok &= d.warning;
  b.ok = parse_ok && compile_program(program, b.payload, b.diagnostics, main);
  if (b.ok) {
    std::string error;
    b.ok = write_payload(b.payload, b.text, error);
  }
  return b;
}

Text parameter(const Payload& payload, size_t command, size_t k) {
  return payload.parameters.get(payload.command_ids[command], k);
}

TEST(ScriptSource, ValuesAreCarriedExactly) {
  struct Case {
    const char* written;
    Text value;
  } cases[] = {
      {"plain text", u"plain text"},
      {"   trimmed   ", u"trimmed"},
      {"\"  kept  \"", u"  kept  "},
      {"\"\"", u""},
      {"", u""},
      {"a|b $X$ #KEY# \"inner\"", u"a|b $X$ #KEY# \"inner\""},
      {"\"say \"\"hi\"\"\"", u"say \"hi\""},
      {"$", u"$"},
      {"x = y", u"x = y"},
  };
  for (const auto& c : cases) {
    Sources s;
    s.files["main.kys"] = std::string(kHeader) + "Set Variable\n  variable = V\n  value = " + c.written + "\n";
    Built b = build(s);
    ASSERT_TRUE(b.ok) << c.written << "\n" << b.messages();
    Payload read;
    ASSERT_EQ(parse_payload(b.text, read), PayloadStatus::ok);
    EXPECT_EQ(parameter(read, 0, 2), c.value) << c.written;
    // quote_value writes a form that reads back as the same text.
    std::string error;
    EXPECT_EQ(parse_value(quote_value(c.value), error), c.value);
  }
}

TEST(ScriptSource, NumberedNamedDisabledAndEmptyParameters) {
  Sources s;
  s.files["main.kys"] = std::string(kHeader) +
                        "Set Variable\n  2 = second\n  1 = FIRST\n"
                        "~Write to Text File\n  file = f.txt\n"
                        "Some Marker Command\n"
                        "Comment\n";
  Built b = build(s);
  ASSERT_TRUE(b.ok) << b.messages();
  EXPECT_EQ(parameter(b.payload, 0, 1), u"FIRST");
  EXPECT_EQ(parameter(b.payload, 0, 2), u"second");
  EXPECT_EQ(b.payload.command_flags[1], u"C");
  EXPECT_EQ(b.payload.command_flags[0], u"");
  // A command without parameter lines has no block.
  EXPECT_EQ(b.payload.parameters.find(b.payload.command_ids[3]).block, nullptr);
  ASSERT_EQ(b.diagnostics.size(), 1u);
  EXPECT_EQ(b.diagnostics[0].to_string(),
            "main.kys:8: warning: unknown command \"Some Marker Command\" will do nothing when run");
}

TEST(ScriptSource, ErrorsCarryFileAndLine) {
  struct Case {
    std::string body;
    std::string message;
  } cases[] = {
      {"  value = x\n", "main.kys:3: parameter outside of a command"},
      {"Set Variable\n  colour = red\n",
       "main.kys:4: \"Set Variable\" has no parameter named \"colour\"; use its number"},
      {"Set Variable\n  value = \"open\n", "main.kys:4: a quoted value needs its closing quote"},
      {"Set Variable\n  value = \"a\" b\n", "main.kys:4: text after a quoted value"},
      {"%colour = red\n", "main.kys:3: unknown project setting %colour"},
      {"If\n  variable = X\n  operator = 5\n", "main.kys:0: Insufficient END statements"},
      {"Set Variable\n  value = 1\n", "main.kys:3: Variable required"},
      {"End\n", "main.kys:3: IF conditional closed outside of IF conditional scope"},
      {"Set Variable\n  variable = V\n  value = $DOLLAR$\n",
       "parameters: the text $DOLLAR$ cannot be stored as a whole parameter"},
  };
  for (const auto& c : cases) {
    Sources s;
    s.files["main.kys"] = std::string(kHeader) + c.body;
    Built b = build(s);
    EXPECT_FALSE(b.ok) << c.body;
    std::string error;
    if (b.diagnostics.empty()) {
      // The payload writer's own refusal.
      std::string text;
      EXPECT_FALSE(write_payload(b.payload, text, error));
      EXPECT_EQ(error, c.message);
    } else {
      EXPECT_EQ(b.diagnostics.back().to_string(), c.message) << c.body;
    }
  }
}

TEST(ScriptSource, IncludesAreFlattenedWithDepthAndResultVariable) {
  Sources s;
  s.files["main.kys"] = std::string(kHeader) +
                        "Comment\n"
                        "Include Script\n  file = lib/a.kys\n  variable = $RESULT$\n"
                        "Comment\n";
  s.files["lib/a.kys"] = "Set Variable\n  variable = IN_A\n  value = 1\nInclude Script\n  file = b.kys\n";
  s.files["lib/b.kys"] = "Comment\n  text = deepest\n";
  Built b = build(s);
  ASSERT_TRUE(b.ok) << b.messages();
  ASSERT_EQ(b.payload.command_count(), 4u);
  EXPECT_EQ(b.payload.command_names[1], u"Set Variable");
  EXPECT_EQ(b.payload.include_map[0], u"0*0");
  EXPECT_EQ(b.payload.include_map[1], u"RESULT*1");
  EXPECT_EQ(b.payload.include_map[2], u"*2");
  EXPECT_EQ(b.payload.include_map[3], u"0*0");
  EXPECT_EQ(b.payload.source_map[2], u"lib/b.kys*0");
  auto position = b.payload.source_position(2);
  EXPECT_EQ(position.script, u"b");
  EXPECT_EQ(position.line, 1);
}

TEST(ScriptSource, SelfInclusionAndMissingFilesAreErrors) {
  Sources s;
  s.files["main.kys"] = std::string(kHeader) + "Include Script\n  file = loop.kys\n";
  s.files["loop.kys"] = "Include Script\n  file = loop.kys\n";
  Built b = build(s);
  EXPECT_FALSE(b.ok);
  EXPECT_EQ(b.messages(), "loop.kys:1: \"loop.kys\" includes itself\n");

  s.files["main.kys"] = std::string(kHeader) + "Include Script\n  file = gone.kys\n";
  b = build(s);
  EXPECT_FALSE(b.ok);
  EXPECT_EQ(b.messages(), "main.kys:3: cannot read the included script \"gone.kys\"\n");
}

TEST(Compiler, SameSourcesGiveIdenticalBytesAndUniqueIdentifiers) {
  Sources s;
  std::string body = kHeader;
  for (int i = 0; i < 200; ++i) body += "Set Variable\n  variable = V" + std::to_string(i) + "\n  value = x\n";
  s.files["main.kys"] = body;
  Built first = build(s), second = build(s);
  ASSERT_TRUE(first.ok);
  EXPECT_EQ(first.text, second.text);
  std::set<Text> ids(first.payload.command_ids.begin(), first.payload.command_ids.end());
  EXPECT_EQ(ids.size(), 200u);
  EXPECT_EQ(command_identifier(u"{6F1C2A54-3B9E-4D07-9A61-2C8E5D4B7F10}", 0).size(), 38u);
  // A different project gives different identifiers.
  EXPECT_NE(command_identifier(u"{6F1C2A54-3B9E-4D07-9A61-2C8E5D4B7F10}", 0),
            command_identifier(u"{6F1C2A54-3B9E-4D07-9A61-2C8E5D4B7F11}", 0));
}

TEST(Compiler, ProjectSettingsReachThePayload) {
  Sources s;
  s.files["main.kys"] = std::string(kHeader) +
                        "%version = 2.5\n%publisher = Example\n%setting CACHESOURCES = TRUE\nComment\n";
  Built b = build(s);
  ASSERT_TRUE(b.ok) << b.messages();
  EXPECT_EQ(b.payload.product_title, u"T");
  EXPECT_EQ(b.payload.product_version, u"2.5");
  EXPECT_EQ(b.payload.publisher, u"Example");
  EXPECT_EQ(b.payload.build_setting(u"cachesources"), u"TRUE");
  EXPECT_EQ(b.payload.size_table[0], u"ZEKO-PREDEF-COMPONENT");

  s.files["main.kys"] = "%guid = not-a-guid\nComment\n";
  EXPECT_FALSE(build(s).ok);
}

TEST(Compiler, AttachReplacesAnythingBehindTheImage) {
  std::string image = fixtures::minimal_pe_image();
  std::string setup, error;
  ASSERT_TRUE(attach_payload(image + "OLD PAYLOAD", "NEW", setup, error)) << error;
  EXPECT_EQ(setup, image + "NEW");
  EXPECT_FALSE(attach_payload("not an executable", "NEW", setup, error));
  EXPECT_EQ(error, "the engine is not a Windows executable");
}

}  // namespace
}  // namespace kyt::build

#include <filesystem>
#include <fstream>

#include "build/resources.h"
#include "media/sevenzip/archive.h"

namespace kyt::build {
namespace {

class StringIn : public sevenzip::InStream {
 public:
  explicit StringIn(const std::string& bytes) : bytes_(bytes) {}
  uint64_t size() override { return bytes_.size(); }
  bool read_at(uint64_t offset, void* data, size_t length) override {
    if (offset > bytes_.size() || length > bytes_.size() - offset) return false;
    if (length) std::memcpy(data, bytes_.data() + offset, length);
    return true;
  }

 private:
  const std::string& bytes_;
};

TEST(Resources, ArchiveOfAFolderIsReproducibleAndReadable) {
  namespace fs = std::filesystem;
  fs::path root = fs::temp_directory_path() / ("kyt-resources-" + std::to_string(::getpid()));
  fs::remove_all(root);
  fs::create_directories(root / "dialogs" / "empty");
  std::ofstream(root / "dialogs" / "welcome.dfm") << "object Welcome";
  std::ofstream(root / "setup.bmp") << std::string(1000, 'x');
  std::string first, second, error;
  ASSERT_TRUE(build_resource_archive(root.string(), first, error)) << error;
  ASSERT_TRUE(build_resource_archive(root.string(), second, error)) << error;
  EXPECT_EQ(first, second);
  StringIn in(first);
  sevenzip::Reader reader;
  ASSERT_EQ(reader.open(in), sevenzip::Error::none);
  std::vector<std::u16string> names;
  for (const auto& entry : reader.entries()) names.push_back(entry.name);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names.size(), 4u);
  EXPECT_TRUE(std::find(names.begin(), names.end(), u"dialogs\\welcome.dfm") != names.end() ||
              std::find(names.begin(), names.end(), u"dialogs/welcome.dfm") != names.end());
  EXPECT_EQ(reader.test(), sevenzip::Error::none);
  fs::remove_all(root);

  // Without a folder the archive is empty but valid.
  ASSERT_TRUE(build_resource_archive("", first, error));
  StringIn empty(first);
  sevenzip::Reader empty_reader;
  EXPECT_EQ(empty_reader.open(empty), sevenzip::Error::none);
  EXPECT_TRUE(empty_reader.entries().empty());
  EXPECT_FALSE(build_resource_archive("/no/such/folder", first, error));
}

}  // namespace
}  // namespace kyt::build
