// Project builds: product files, translations, kyt.lib's message tables and
// the complete output folder.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "base/text_file.h"
#include "build/compiler.h"
#include "build/host_files.h"
#include "build/product_files.h"
#include "build/project.h"
#include "build/test_fixtures.h"
#include "build/translations.h"
#include "ui/messages.h"

namespace kyt::build {
namespace {

namespace fs = std::filesystem;

// A project in a fresh temporary folder, written from a map of relative
// paths to file contents; removed at the end of the test.
class TemporaryProject {
 public:
  explicit TemporaryProject(const std::map<std::string, std::string>& files) {
    static int counter = 0;
    root_ = fs::temp_directory_path() /
            ("kyt-project-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    fs::remove_all(root_);
    for (const auto& [path, bytes] : files) write(path, bytes);
  }
  ~TemporaryProject() { fs::remove_all(root_); }

  void write(const std::string& path, const std::string& bytes) const {
    fs::create_directories((root_ / path).parent_path());
    std::ofstream(root_ / path, std::ios::binary) << bytes;
  }
  std::string path(const std::string& relative) const { return utf8_path(root_ / relative); }

 private:
  fs::path root_;
};

constexpr const char* kGuid = "{6F1C2A54-3B9E-4D07-9A61-2C8E5D4B7F10}";

// Two components, a translatable Set Variable, a Localization Variable and
// Install Files for both components, the predefined one and a disabled one.
std::map<std::string, std::string> fixture_files() {
  return {
      {"product.kyp",
       "# fixture\nscript = main.kys\nresources = resources\nfiles = files\n"
       "translation = lang/german.kyl\ntranslation = lang/french.kyl\n"},
      {"main.kys", std::string("%guid = ") + kGuid +
                       "\n%title = Fixture\n"
                       "Define Component\n  component = Core\n  state = TRUE\n  description = Core files\n"
                       "Define Component\n  component = Extras\n  description = Extra files\n"
                       "Set Variable\n  variable = GREETING\n  value = \"  Hello $USER$  \"\n"
                       "Localization Variable\n  variable = $FAREWELL$\n  value = Bye\n"
                       "Install Files\n  source = bin\\*.exe\n  options = component=Core\n  target = $TARGETDIR$\n"
                       "Install Files\n  source = extra/*\n  options = recurse; component=Extras\n"
                       "~Install Files\n  source = nothing\\*\n"
                       "Install Files\n  source = root.txt\n"},
      {"files/bin/app.exe", "0123456789"},
      {"files/bin/notes.txt", "notes"},
      {"files/extra/a.dat", "aaa"},
      {"files/extra/sub/b.dat", "bbbb"},
      {"files/root.txt", "rootrot"},
      {"resources/setup.bmp", std::string(300, 'x')},
      {"lang/german.kyl",
       "%language = German\n"
       "original = \"  Hello $USER$  \"\ntranslation = \"  Hallo $USER$  \"\n"
       "original = Core files\n# between the pair\ntranslation = Kerndateien\n"
       "variable FAREWELL = Tschüss\n"
       "message 39 = &Abbrechen\n"
       "dialog welcome.dfm Title = Willkommen\n"},
      {"lang/french.kyl", "%language = French\noriginal = Bye\ntranslation = Au revoir\nmessage 2 = Ressource introuvable\n"},
      {"engine/setup.exe", fixtures::minimal_pe_image() + "stale payload"},
      {"engine/kyt.lib", fixtures::minimal_pe_image() + "stale tables"},
  };
}

struct ProjectBuild {
  bool ok = false;
  BuildResult result;
  std::vector<Diagnostic> diagnostics;
  std::string messages() const {
    std::string all;
    for (const auto& d : diagnostics) all += d.to_string() + "\n";
    return all;
  }
};

ProjectBuild build_project(const TemporaryProject& project) {
  ProjectBuild b;
  BuildRequest request;
  b.ok = read_project(project.path("product.kyp"), request, b.diagnostics);
  request.engine = project.path("engine/setup.exe");
  request.kyt_lib = project.path("engine/kyt.lib");
  b.ok = b.ok && build_setup(request, b.result, b.diagnostics);
  return b;
}

// Every file below `root` by relative path, with its bytes.
std::map<std::string, std::string> tree(const fs::path& root) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(root))
    if (entry.is_regular_file())
      files[entry.path().lexically_relative(root).generic_string()] = *read_host_file(utf8_path(entry.path()));
  return files;
}

const std::string* support_file(const BuildResult& result, TextView name) {
  for (const auto& [file, bytes] : result.support_files)
    if (file == name) return &bytes;
  return nullptr;
}

std::vector<Text> lines_of(const BuildResult& result, TextView name) {
  const std::string* bytes = support_file(result, name);
  return bytes ? read_utf8_lines(*bytes) : std::vector<Text>{};
}

TEST(BuildProject, SameProjectTwiceGivesIdenticalOutputFolders) {
  TemporaryProject project(fixture_files());
  std::map<std::string, std::string> outputs[2];
  for (int i = 0; i < 2; ++i) {
    ProjectBuild b = build_project(project);
    ASSERT_TRUE(b.ok) << b.messages();
    std::string out = project.path("out" + std::to_string(i));
    std::string error;
    ASSERT_TRUE(write_setup(b.result, out + "/fixture-setup.exe", true, error)) << error;
    outputs[i] = tree(fs::path(out));
  }
  std::set<std::string> names;
  for (const auto& [name, bytes] : outputs[0]) names.insert(name);
  std::set<std::string> expected = {"fixture-setup.exe", "fixture-setup.res", "kyt.lib"};
  for (const auto& [name, bytes] : outputs[0])
    if (name.starts_with("data/")) expected.insert(name);
  EXPECT_EQ(names, expected);
  EXPECT_EQ(outputs[0].size(), 3u + 4u);  // four product files in data/
  EXPECT_EQ(outputs[0], outputs[1]);
}

TEST(BuildProject, WritesSetupArchiveLibraryAndDataFolder) {
  TemporaryProject project(fixture_files());
  ProjectBuild b = build_project(project);
  ASSERT_TRUE(b.ok) << b.messages();
  std::string out = project.path("out");
  std::string error;
  ASSERT_TRUE(write_setup(b.result, out + "/fixture-setup.exe", true, error)) << error;
  auto files = tree(fs::path(out));
  EXPECT_EQ(files["fixture-setup.exe"], fixtures::minimal_pe_image() + b.result.payload_text);
  EXPECT_EQ(files["kyt.lib"], b.result.kyt_lib);
  EXPECT_EQ(files["fixture-setup.res"], b.result.archive);
  // Stored paths: header, then the path below the pattern's folder.
  const StringList& table = b.result.payload.header_file_table;
  EXPECT_EQ(files["data/" + to_utf8(table[0]) + "/app.exe"], "0123456789");
  EXPECT_EQ(files["data/" + to_utf8(table[4]) + "/sub/b.dat"], "bbbb");
  // A second build over the first replaces the data folder as a whole.
  std::ofstream(fs::path(out) / "data" / "stale.txt") << "left from before";
  ASSERT_TRUE(write_setup(b.result, out + "/fixture-setup.exe", true, error)) << error;
  EXPECT_EQ(tree(fs::path(out)), files);
}

TEST(BuildProductFiles, HeadersFileTableAndComponentSizes) {
  TemporaryProject project(fixture_files());
  ProjectBuild b = build_project(project);
  ASSERT_TRUE(b.ok) << b.messages();
  const Payload& p = b.result.payload;
  ASSERT_EQ(p.command_headers.size(), 6u);
  Text h4 = p.command_headers[0], h5 = p.command_headers[2], h7 = p.command_headers[4];
  EXPECT_EQ(std::vector<Text>(p.command_headers.begin(), p.command_headers.end()),
            (std::vector<Text>{h4, u"4", h5, u"5", h7, u"7"}));
  for (const Text& h : {h4, h5, h7}) {
    EXPECT_EQ(h.size(), 8u);
    EXPECT_EQ(h.find_first_not_of(u"0123456789ABCDEF"), Text::npos) << to_utf8(h);
  }
  EXPECT_EQ(std::set<Text>({h4, h5, h7}).size(), 3u);
  EXPECT_EQ(p.command_header(5), h5);
  EXPECT_EQ(std::vector<Text>(p.header_file_table.begin(), p.header_file_table.end()),
            (std::vector<Text>{h4, u"NEWHEADER", h4 + u"\\app.exe", u"",                                    //
                               h5, u"NEWHEADER", h5 + u"\\a.dat", u"", h5 + u"\\sub\\b.dat", u"sub",  //
                               h7, u"NEWHEADER", h7 + u"\\root.txt", u""}));
  EXPECT_EQ(std::vector<Text>(p.size_table.begin(), p.size_table.end()),
            (std::vector<Text>{u"ZEKO-PREDEF-COMPONENT", u"7", u"Core", u"10", u"Extras", u"7"}));
  EXPECT_EQ(p.total_transfer_size, 24);
  ASSERT_EQ(b.result.data.size(), 4u);
  EXPECT_EQ(b.result.data[2].stored, to_utf8(h5) + "/sub/b.dat");
}

TEST(BuildProductFiles, PatternsAndOptionsAreChecked) {
  struct Case {
    std::string install;   // the Install Files command
    std::string message;   // the diagnostic on line 3
    bool warning = false;
  } cases[] = {
      {"Install Files\n  source = bin\\*.dll\n", "the source pattern \"bin\\*.dll\" matches no file"},
      {"Install Files\n  source = gone/*\n",
       "the source pattern \"gone/*\" matches no file: there is no folder \"gone\" below the files folder"},
      {"Install Files\n  source = ..\\secret\\*\n",
       "the source pattern \"..\\secret\\*\" must be a folder below the files folder (no \"..\", no wildcards) and a "
       "file name pattern"},
      {"Install Files\n  source = b*\\app.exe\n",
       "the source pattern \"b*\\app.exe\" must be a folder below the files folder (no \"..\", no wildcards) and a "
       "file name pattern"},
      {"Install Files\n  source = bin\\\n",
       "the source pattern \"bin\\\" names no file (write folder\\* for a whole folder)"},
      {"Install Files\n  source = bin\\*\n  options = recursive\n",
       "unknown source option \"recursive\" (use recurse and component=PATH)"},
      {"Install Files\n  source = bin\\*\n  options = component=\n", "component= needs a component path"},
      {"Install Files\n  source = bin\\*\n  options = component=Nowhere\n",
       "component \"Nowhere\" is not defined by the script", true},
  };
  for (const auto& c : cases) {
    auto files = fixture_files();
    files["main.kys"] = std::string("%guid = ") + kGuid + "\n%title = Fixture\n" + c.install;
    TemporaryProject project(files);
    ProjectBuild b = build_project(project);
    EXPECT_EQ(b.ok, c.warning) << c.install;
    std::string expected = project.path("main.kys") + ":3: " + (c.warning ? "warning: " : "") + c.message;
    bool found = false;
    for (const auto& d : b.diagnostics) found |= d.to_string() == expected;
    EXPECT_TRUE(found) << "expected " << expected << "\ngot\n" << b.messages();
  }
}

TEST(BuildProductFiles, InstallFilesNeedsAFilesFolder) {
  auto files = fixture_files();
  files["product.kyp"] = "script = main.kys\n";
  TemporaryProject project(files);
  ProjectBuild b = build_project(project);
  EXPECT_FALSE(b.ok);
  EXPECT_NE(b.messages().find(project.path("main.kys") +
                              ":16: Install Files needs a project with a files folder (build with --project)"),
            std::string::npos)
      << b.messages();
}

TEST(BuildProductFiles, WildcardsMatchNamesIgnoringCase) {
  struct Case {
    const char16_t* pattern;
    const char16_t* name;
    bool match;
  } cases[] = {
      {u"*", u"anything.txt", true},     {u"*.exe", u"APP.EXE", true},  {u"*.exe", u"app.exe.txt", false},
      {u"a?c", u"abc", true},            {u"a?c", u"ac", false},        {u"*a*b", u"xxaxxab", true},
      {u"*a*b", u"xxaxxabx", false},     {u"readme.txt", u"README.TXT", true},
      {u"**", u"", true},                {u"?", u"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(wildcard_match(c.pattern, c.name), c.match) << to_utf8(c.pattern);
}

// What the engine does: the first key line equal to the identifier at m,
// parameter n on line m + n - 1.
size_t key_line(const std::vector<Text>& keys, TextView key) {
  for (size_t m = 0; m < keys.size(); ++m)
    if (equals_ignore_case(keys[m], key)) return m;
  return keys.size();
}

TEST(BuildTranslations, ColumnFilesAreParallel) {
  TemporaryProject project(fixture_files());
  ProjectBuild b = build_project(project);
  ASSERT_TRUE(b.ok) << b.messages();
  std::vector<Text> keys = lines_of(b.result, u"Fixture.mtx"), sources = lines_of(b.result, u"translations.Map"),
                    originals = lines_of(b.result, u"translations.Original"),
                    german = lines_of(b.result, u"translations.German"),
                    french = lines_of(b.result, u"translations.French");
  // Two Define Component (parameters 1..3), Set Variable (1..2), the
  // Localization Variable and the dialog text.
  ASSERT_EQ(keys.size(), 10u);
  for (const auto* column : {&sources, &originals, &german, &french}) EXPECT_EQ(column->size(), keys.size());
  for (const auto& [name, bytes] : b.result.support_files) {
    EXPECT_FALSE(bytes.starts_with("\xEF\xBB\xBF")) << to_utf8(name);
    EXPECT_TRUE(bytes.ends_with("\r\n")) << to_utf8(name);
    EXPECT_EQ(bytes.find('\n') - 1, bytes.find('\r')) << to_utf8(name);
  }

  const Payload& p = b.result.payload;
  // Set Variable (command 2): its value is parameter 2, the line after the key.
  size_t m = key_line(keys, to_lower(p.command_ids[2]));
  ASSERT_LT(m + 1, keys.size());
  EXPECT_EQ(keys[m + 1], p.command_ids[2] + u":2");
  EXPECT_EQ(sources[m + 1], u"main.kys");
  EXPECT_EQ(originals[m], u"GREETING");
  EXPECT_EQ(originals[m + 1], u"  Hello $USER$  ");  // the raw text the engine compares
  EXPECT_EQ(german[m + 1], u"  Hallo $USER$  ");
  EXPECT_EQ(french[m + 1], u"  Hello $USER$  ");

  // Define Component Core: description (parameter 3) translated, the
  // non-translatable state line carried as is.
  m = key_line(keys, p.command_ids[0]);
  EXPECT_EQ(std::vector<Text>(originals.begin() + m, originals.begin() + m + 3),
            (std::vector<Text>{u"Core", u"TRUE", u"Core files"}));
  EXPECT_EQ(german[m + 2], u"Kerndateien");
  EXPECT_EQ(german[m + 1], u"TRUE");

  // Localization Variable: by variable name (German) or by its text (French).
  m = key_line(keys, u"TELLURAX$FAREWELL$TELLURAX");
  ASSERT_LT(m, keys.size());
  EXPECT_EQ(originals[m], u"Bye");
  EXPECT_EQ(german[m], u"Tschüss");
  EXPECT_EQ(french[m], u"Au revoir");

  // The dialog text: source = definition file, key = control.
  EXPECT_EQ(keys.back(), u"Title");
  EXPECT_EQ(sources.back(), u"welcome.dfm");
  EXPECT_EQ(originals.back(), u"");
  EXPECT_EQ(german.back(), u"Willkommen");
  EXPECT_EQ(french.back(), u"");
  EXPECT_NE(b.messages().find("lang/french.kyl:0: warning: dialog welcome.dfm Title is translated for another "
                              "language only; its text is empty in French"),
            std::string::npos)
      << b.messages();
}

TEST(BuildTranslations, SharedMessageTableHas126LinesEnglishWhereUntranslated) {
  TemporaryProject project(fixture_files());
  ProjectBuild b = build_project(project);
  ASSERT_TRUE(b.ok) << b.messages();
  std::vector<Text> shared = lines_of(b.result, u"shared.translations.German");
  ASSERT_EQ(shared.size(), kMessageBlockLines);
  for (size_t n = 1; n <= kMessageBlockLines; ++n)
    EXPECT_EQ(shared[n - 1], n == 39 ? Text(u"&Abbrechen") : Text(MessageTable::english()[n - 1])) << n;
}

TEST(BuildTranslations, WithoutTranslationsNoColumnFilesAndKytLibUnchanged) {
  auto files = fixture_files();
  files["product.kyp"] = "script = main.kys\nfiles = files\n";
  TemporaryProject project(files);
  ProjectBuild b = build_project(project);
  ASSERT_TRUE(b.ok) << b.messages();
  EXPECT_TRUE(b.result.support_files.empty());
  EXPECT_EQ(b.result.kyt_lib, fixtures::minimal_pe_image() + "stale tables");
}

TEST(BuildKytLib, MessageTablesFollowTheImage) {
  TemporaryProject project(fixture_files());
  ProjectBuild b = build_project(project);
  ASSERT_TRUE(b.ok) << b.messages();
  std::string image = fixtures::minimal_pe_image();
  ASSERT_TRUE(b.result.kyt_lib.starts_with(image));
  std::string tail = b.result.kyt_lib.substr(image.size());
  EXPECT_EQ(tail.find("stale"), std::string::npos);
  std::vector<Text> lines = read_utf8_lines(tail);
  ASSERT_EQ(lines.size(), 3 * kMessageBlockLines + 2);
  for (size_t n = 0; n < kMessageBlockLines; ++n) EXPECT_EQ(lines[n], MessageTable::english()[n]) << n + 1;
  EXPECT_EQ(lines[kMessageBlockLines], u"German");
  EXPECT_EQ(lines[kMessageBlockLines + 39], u"&Abbrechen");
  EXPECT_EQ(lines[2 * kMessageBlockLines + 1], u"French");
  EXPECT_EQ(lines[2 * kMessageBlockLines + 1 + 2], u"Ressource introuvable");
  EXPECT_EQ(lines[2 * kMessageBlockLines + 1 + 39], MessageTable::english()[38]);
  // The engine's own reader sees the German block for a German user.
  MessageTable table;
  table.apply(lines, u"German");
  EXPECT_EQ(table.line(39), u"&Abbrechen");
  EXPECT_EQ(table.line(2), MessageTable::english()[1]);
}

TEST(BuildTranslations, SourceErrorsCarryFileAndLine) {
  struct Case {
    std::string source;
    std::string message;
  } cases[] = {
      {"original = a\ntranslation = b\n", "t.kyl:0: the translation needs a %language line"},
      {"%language = German\n%language = French\n", "t.kyl:2: %language given twice"},
      {"%language = German.old\n",
       "t.kyl:1: a language name cannot be empty or hold \".\", \"\\\", \"/\", \":\", \"*\", \"?\", quotes, \"<\", "
       "\">\" or \"|\""},
      {"%language = German\ntranslation = b\n", "t.kyl:2: a translation line needs an original line before it"},
      {"%language = German\noriginal = a\noriginal = b\ntranslation = c\n",
       "t.kyl:2: an original text needs a translation line after it"},
      {"%language = German\noriginal = a\n", "t.kyl:2: an original text needs a translation line after it"},
      {"%language = German\noriginal = \"\"\n", "t.kyl:2: an empty text cannot be translated"},
      {"%language = German\noriginal = a\ntranslation = b\noriginal = a\ntranslation = c\n",
       "t.kyl:4: this original text is translated twice"},
      {"%language = German\nmessage 127 = x\n", "t.kyl:2: message numbers run from 1 to 126"},
      {"%language = German\nmessage 0 = x\n", "t.kyl:2: message numbers run from 1 to 126"},
      {"%language = German\nmessage 5 = x\nmessage 5 = y\n", "t.kyl:3: message 5 is translated twice"},
      {"%language = German\nvariable A = x\nvariable $a$ = y\n", "t.kyl:3: variable $a$ is translated twice"},
      {"%language = German\ndialog a.dfm OK = x\ndialog A.DFM ok = y\n",
       "t.kyl:3: dialog A.DFM ok is translated twice"},
      {"%language = German\ndialog a.dfm = x\n",
       "t.kyl:2: expected %language, original, translation, variable NAME, message NUMBER or dialog FILE CONTROL "
       "before \"=\""},
      {"%language = German\nhello\n", "t.kyl:2: expected \"=\""},
      {"%language = German\noriginal = \"open\n", "t.kyl:2: a quoted value needs its closing quote"},
  };
  for (const auto& c : cases) {
    std::vector<Diagnostic> diagnostics;
    EXPECT_FALSE(parse_translation("t.kyl", c.source, diagnostics)) << c.source;
    ASSERT_FALSE(diagnostics.empty()) << c.source;
    EXPECT_EQ(diagnostics.front().to_string(), c.message) << c.source;
  }
}

TEST(BuildTranslations, UnusedTranslationsAndBadTitlesAreReported) {
  auto files = fixture_files();
  files["lang/french.kyl"] = "%language = French\noriginal = Not in the script\ntranslation = x\nvariable NONE = y\n";
  {
    TemporaryProject project(files);
    ProjectBuild b = build_project(project);
    ASSERT_TRUE(b.ok) << b.messages();
    std::string french = project.path("lang/french.kyl");
    EXPECT_NE(b.messages().find(french + ":2: warning: the script has no translatable text \"Not in the script\""),
              std::string::npos)
        << b.messages();
    EXPECT_NE(b.messages().find(french + ":4: warning: the script has no Localization Variable NONE"),
              std::string::npos);
  }
  files["lang/french.kyl"] = "%language = german\n";
  {
    TemporaryProject project(files);
    ProjectBuild b = build_project(project);
    EXPECT_FALSE(b.ok);
    EXPECT_NE(b.messages().find("french.kyl:0: language german has two translation files"), std::string::npos)
        << b.messages();
  }
  files["main.kys"] = std::string("%guid = ") + kGuid + "\n%title = A/B\nComment\n";
  {
    TemporaryProject project(files);
    ProjectBuild b = build_project(project);
    EXPECT_FALSE(b.ok);
    EXPECT_NE(b.messages().find("main.kys:1: translations need a %title that can name a file: the key column is "
                                "\"<title>.mtx\""),
              std::string::npos)
        << b.messages();
  }
}

TEST(BuildProject, ProjectFileErrorsCarryFileAndLine) {
  struct Case {
    std::string project;
    std::string message;
  } cases[] = {
      {"script = main.kys\nscript = other.kys\n", ":2: script given twice"},
      {"script = main.kys\nicon = x.ico\n", ":2: unknown project key \"icon\" (script, resources, files, translation)"},
      {"script = main.kys\nfiles = nowhere\n", ":2: nowhere: not a folder"},
      {"script = main.kys\nresources = \"\"\n", ":2: resources needs a path"},
      {"# nothing\n", ":0: the project needs a script = line"},
      {"script main.kys\n", ":1: expected key = value"},
  };
  for (const auto& c : cases) {
    auto files = fixture_files();
    files["product.kyp"] = c.project;
    TemporaryProject project(files);
    BuildRequest request;
    std::vector<Diagnostic> diagnostics;
    EXPECT_FALSE(read_project(project.path("product.kyp"), request, diagnostics)) << c.project;
    ASSERT_FALSE(diagnostics.empty());
    EXPECT_EQ(diagnostics.front().to_string(), project.path("product.kyp") + c.message);
  }
}

#ifndef _WIN32
// The tool itself: a pattern that matches nothing fails the build with
// file:line and leaves no file in the output folder, not even a temporary.
TEST(BuildProject, FailedBuildWritesNoOutput) {
  auto files = fixture_files();
  files["main.kys"] += "Install Files\n  source = bin\\*.dll\n";
  TemporaryProject project(files);
  fs::create_directories(project.path("out"));
  std::string command = std::string(KYTBUILD) + " --project " + project.path("product.kyp") + " --engine " +
                        project.path("engine/setup.exe") + " --output " + project.path("out/fixture-setup.exe") +
                        " 2>" + project.path("errors.txt");
  EXPECT_NE(std::system(command.c_str()), 0);
  EXPECT_TRUE(fs::is_empty(project.path("out")));
  EXPECT_NE(read_host_file(project.path("errors.txt"))
                ->find(project.path("main.kys") + ":27: the source pattern \"bin\\*.dll\" matches no file"),
            std::string::npos)
      << *read_host_file(project.path("errors.txt"));

  // The same project without the bad command builds the whole output folder.
  files["main.kys"] = fixture_files()["main.kys"];
  project.write("main.kys", files["main.kys"]);
  EXPECT_EQ(std::system(command.c_str()), 0) << *read_host_file(project.path("errors.txt"));
  for (const char* name : {"fixture-setup.exe", "fixture-setup.res", "kyt.lib", "data"})
    EXPECT_TRUE(fs::exists(project.path("out/") + name)) << name;
}
#endif

}  // namespace
}  // namespace kyt::build
