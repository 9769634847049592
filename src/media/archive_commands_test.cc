// The engine's archive wrappers and commands against a recording library.
#include <gtest/gtest.h>

#include "media/archive_wrappers.h"
#include "script/interpreter.h"
#include "script/test_host.h"
#include "script/test_script.h"

namespace kyt {
namespace {

using testing_support::make_payload;
using testing_support::RecordingHost;
using testing_support::TestCommand;

class FakeLibrary : public ArchiveLibrary {
 public:
  struct Call {
    Text function, archive, switches, password;
    int32_t method = 0, mode = 0;
    std::vector<Text> list_a, list_b;
    bool keep_paths = false;
  };
  void set_7zip_dll_directory(const Text& folder) override { calls.push_back({u"dir", folder}); }
  bool create_archive(const Text& archive, int32_t method, const std::vector<Text>& list_a,
                      const std::vector<Text>& list_b, int32_t mode, const Text& switches, const Text& password,
                      const ArchiveProgress& progress) override {
    calls.push_back({u"create", archive, switches, password, method, mode, list_a, list_b});
    if (progress) progress(u"C:\\src\\file.txt", 50, 100);
    return answer();
  }
  bool extract_archive(const Text& archive, const Text& destination, const std::vector<Text>& items, bool keep_paths,
                       const Text& password, const ArchivePassword& ask, const ArchiveProgress& progress,
                       const ArchiveOverwrite& overwrite) override {
    Call call{u"extract", archive, destination, password};
    call.list_a = items;
    call.keep_paths = keep_paths;
    calls.push_back(call);
    if (progress && !progress(u"dir\\item.bin", 0, 0)) stopped = true;
    if (on_extract) on_extract();
    return answer();
  }
  bool delete_from_archive(const Text& archive, const std::vector<Text>& items, const Text& password,
                           const ArchiveProgress&) override {
    Call call{u"delete", archive, u"", password};
    call.list_a = items;
    calls.push_back(call);
    return answer();
  }
  bool test_archive(const Text& archive, const Text& password, const ArchivePassword& ask,
                    const ArchiveProgress&) override {
    auto given = ask ? ask() : std::nullopt;
    auto again = ask ? ask() : std::nullopt;
    calls.push_back({u"test", archive, given.value_or(u"-") + u"/" + again.value_or(u"-"), password});
    return answer();
  }
  bool list_archive(const Text& archive, const Text& password, const ArchivePassword&,
                    std::vector<ArchiveListEntry>& entries) override {
    calls.push_back({u"list", archive, u"", password});
    if (!list_ok) {
      error = 1001;
      return false;
    }
    entries = listing;
    return true;
  }
  uint32_t last_error() override { return error; }

  // Each call takes the next code: 0 succeeds.
  bool answer() {
    error = codes.empty() ? 0 : codes.front();
    if (!codes.empty()) codes.erase(codes.begin());
    return error == 0;
  }

  std::vector<Call> calls;
  std::vector<uint32_t> codes;
  uint32_t error = 0;
  bool list_ok = true;
  bool stopped = false;
  std::vector<ArchiveListEntry> listing;
  std::function<void()> on_extract;
};

TEST(ArchivePresets, SwitchTexts) {
  EXPECT_EQ(compression_preset(u"0", 1, false), u"-ssw -mhe=off -mmt=off -ms=off -mhc=off -m0=None -m0=Copy ");
  struct Case {
    Text level;
    int processors;
    Text threads;
  } cases[] = {{u"3", 2, u"-mmt=2 "}, {u"3", 8, u"-mmt=3 "}, {u"4", 8, u"-mmt=2 "}, {u"2", 4, u"-mmt=4 "},
               {u"1", 1, u"-mmt=off "}, {u"x", 8, u"-mmt=2 "}};
  for (const auto& c : cases) {
    Text preset = compression_preset(c.level, c.processors, true);
    EXPECT_TRUE(preset.starts_with(u"-ssw -mhe=on " + c.threads)) << to_utf8(preset);
  }
  EXPECT_EQ(compression_preset(u"x", 2, false), compression_preset(u"4", 2, false));
  EXPECT_NE(compression_preset(u"1", 2, false).find(u"-m1mf=hc4 "), Text::npos);
}

TEST(ArchivePresets, MethodCodesAndDuplicates) {
  int32_t expected[] = {0, 5, 4, 6, 130, 132, 1};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(archive_method_code(i), expected[i]);
  EXPECT_FALSE(archive_method_code(7));
  EXPECT_FALSE(archive_method_code(-1));
  std::vector<Text> unique = {u"A", u"b"};
  remove_duplicate_entries(unique);
  EXPECT_EQ(unique, (std::vector<Text>{u"A", u"b"}));
  std::vector<Text> repeated = {u"A", u"b", u"a", u"C"};
  remove_duplicate_entries(repeated);
  EXPECT_EQ(repeated, (std::vector<Text>{u"c", u"a", u"b"}));
}

TEST(ArchiveWrappers, CreateRetriesLighterPresetsOnOutOfResources) {
  struct Case {
    bool wow64;
    Text level;
    std::vector<uint32_t> codes;
    std::vector<Text> tried;  // levels of the calls after the first
    bool ok;
    Text error;
  } cases[] = {
      {false, u"4", {1018, 1018, 1018, 0}, {u"3", u"2", u"1"}, true, u""},
      {false, u"4", {1018, 1018, 1018, 1018}, {u"3", u"2", u"1"}, false, u"#1018"},
      {false, u"3", {1018, 1005}, {u"2"}, false, u"#1005"},
      // Presets 4, 5 and 6 are the same text, so they are all recognised as 4.
      {true, u"5", {1018, 1018, 0}, {u"6", u"5"}, true, u""},
      {true, u"2", {1018, 0}, {u"6"}, true, u""},
      {true, u"6", {1018, 1018, 1018, 0}, {u"6", u"5", u"2"}, true, u""},
  };
  for (const auto& c : cases) {
    FakeLibrary library;
    library.codes = c.codes;
    ArchiveWrappers wrappers(library, {.processors = 2, .wow64 = c.wow64});
    Text error;
    bool ok = wrappers.create(u"C:\\out.7z", 5, {}, {}, 0, compression_preset(c.level, 2, false), u"", {}, error);
    EXPECT_EQ(ok, c.ok) << to_utf8(c.level);
    EXPECT_EQ(error, c.error);
    ASSERT_EQ(library.calls.size(), c.tried.size() + 1);
    for (size_t i = 0; i < c.tried.size(); ++i)
      EXPECT_EQ(library.calls[i + 1].switches, compression_preset(c.tried[i], 2, false)) << i;
  }
  // A switch text that is no preset fails at once.
  FakeLibrary library;
  library.codes = {1018, 0};
  ArchiveWrappers wrappers(library, {.processors = 2});
  Text error;
  EXPECT_FALSE(wrappers.create(u"C:\\out.7z", 5, {}, {}, 0, u"-mx=9", u"", {}, error));
  EXPECT_EQ(error, u"#1018");
  EXPECT_EQ(library.calls.size(), 1u);
}

TEST(ArchiveWrappers, CreatePreparesTheFileLists) {
  FakeLibrary library;
  ArchiveWrappers wrappers(library, {.repair_folder = [](const Text& folder) { return folder == u"C:\\?\\" ? Text(u"C:\\\u00e9\\") : folder; }});
  Text error;
  ASSERT_TRUE(wrappers.create(u"C:\\?\\out.7z", 1, {u"C:\\?\\app\\*.*", u"C:\\x\\y\\f.txt"}, {u"C:\\?\\z.dll"}, 0,
                              u"", u"pw", {}, error));
  const auto& call = library.calls[0];
  EXPECT_EQ(call.archive, u"C:\\\u00e9\\out.7z");
  EXPECT_EQ(call.list_a, (std::vector<Text>{u"C:\\\u00e9\\app\\*", u"C:\\x\\y\\f.txt"}));
  EXPECT_EQ(call.list_b, (std::vector<Text>{u"C:\\\u00e9\\z.dll"}));
}

TEST(ArchiveWrappers, ExtractListsFirstRetriesAndGoesOutOfProcess) {
  FakeLibrary library;
  library.listing = {{u"a.txt"}, {u"dir\\b.txt"}};
  ArchiveWrappers wrappers(library, {});
  Text error;
  ASSERT_TRUE(wrappers.extract(u"C:\\a.7z", u"C:\\dest", {}, true, true, u"", {}, error));
  EXPECT_EQ(library.calls[1].list_a, (std::vector<Text>{u"a.txt", u"dir\\b.txt"}));
  EXPECT_EQ(library.calls[1].switches, u"C:\\dest\\");
  EXPECT_TRUE(library.calls[1].keep_paths);

  library.list_ok = false;
  EXPECT_FALSE(wrappers.extract(u"C:\\a.7z", u"C:\\dest", {}, true, true, u"", {}, error));
  EXPECT_EQ(error, u"#1001");

  library.list_ok = true;
  library.codes = {1018, 1018};
  int out_of_process = 0;
  auto second_process = [&](const Text&, const Text&, const Text&, const std::vector<Text>&, bool, bool) {
    ++out_of_process;
    return std::optional<Text>(u"");
  };
  EXPECT_TRUE(wrappers.extract(u"C:\\a.7z", u"C:\\dest\\", {u"x"}, true, true, u"", {}, error, second_process));
  EXPECT_EQ(out_of_process, 1);
  library.codes = {1018, 1018};
  auto cannot_start = [](const Text&, const Text&, const Text&, const std::vector<Text>&, bool, bool) {
    return std::optional<Text>();
  };
  EXPECT_FALSE(wrappers.extract(u"C:\\a.7z", u"C:\\dest\\", {u"x"}, true, true, u"", {}, error, cannot_start));
  EXPECT_EQ(error, u"#1016");
  library.codes = {1018, 0};
  EXPECT_TRUE(wrappers.extract(u"C:\\a.7z", u"C:\\dest\\", {u"x"}, true, true, u"", {}, error));
  EXPECT_EQ(error, u"");
}

TEST(ArchiveWrappers, PasswordIsHandedOutOnce) {
  FakeLibrary library;
  ArchiveWrappers wrappers(library, {});
  Text error;
  wrappers.test(u"C:\\a.7z", u"secret", {}, error);
  EXPECT_EQ(library.calls[0].switches, u"secret/-");
  wrappers.test(u"C:\\a.7z", u"", {}, error);
  EXPECT_EQ(library.calls[1].switches, u"-/-");
}

class ArchiveHost : public RecordingHost {
 public:
  ArchiveWrappers* archives() override { return &wrappers; }
  FakeLibrary library;
  ArchiveWrappers wrappers{library, {}};
};

class ArchiveCommandsTest : public testing::Test {
 protected:
  bool run(std::vector<TestCommand> commands, bool silent = true) {
    payload_ = make_payload(commands);
    Interpreter interpreter(payload_, variables, host, session, {.silent = silent});
    auto outcome = interpreter.run();
    EXPECT_NE(outcome, Interpreter::Outcome::check_failed) << to_utf8(interpreter.check_result().message);
    return outcome == Interpreter::Outcome::finished;
  }
  Text value(TextView name) const { return variables.value_of(name); }

  Variables variables;
  ArchiveHost host;
  Session session;

 private:
  Payload payload_;
};

TEST_F(ArchiveCommandsTest, ResultsAndErrorTexts) {
  host.library.codes = {0, 1005, 1005};
  host.library.listing = {{u"a.txt"}, {u"my file.txt"}};
  ASSERT_TRUE(run({{u"Extract 7Zip Archive", {u"C:\\\\a.7z", u"C:\\out", u"R1", u"", u"TRUE", u"TRUE"}},
                   {u"Test 7Zip Archive", {u"C:\\a.7z", u"pw", u"R2"}},
                   {u"Delete 7Zip Archive", {u"C:\\a.7z", u"", u"a.txt|dir\\b.txt", u""}},
                   {u"List 7Zip Archive", {u"C:\\a.7z", u"", u"R3"}}}));
  EXPECT_EQ(value(u"R1"), u"SUCCESS");
  EXPECT_EQ(value(u"R2"), u"#1005");
  EXPECT_EQ(value(u"R3"), u"a.txt|\"my file.txt\"");
  EXPECT_EQ(host.file_system.folders.count(u"c:\\out"), 1u);  // the destination is created first
  EXPECT_EQ(host.library.calls[1].archive, u"C:\\a.7z");     // path-normalized
  EXPECT_EQ(host.library.calls[3].list_a, (std::vector<Text>{u"a.txt", u"dir\\b.txt"}));
  // The worker reported its progress: item name and percent.
  EXPECT_EQ(value(u"ZEKO_thProgressText"), u"item.bin, 100% complete");

  host.library.list_ok = false;
  ASSERT_TRUE(run({{u"List 7Zip Archive", {u"C:\\missing.7z", u"", u"R"}}}));
  EXPECT_EQ(value(u"R"), u"#ERROR\\#1001");
}

TEST_F(ArchiveCommandsTest, CompressRemembersMethodAndMode) {
  ASSERT_TRUE(run({{u"Compress 7Zip Archive", {u"C:\\a.7z", u"", u"C:\\d\\x", u"", u"4", u"s", u"TRUE", u"", u"TRUE", u"R"}},
                   {u"Compress 7Zip Archive", {u"C:\\a.7z", u"", u"C:\\d\\x", u"", u"9", u"s", u"", u"", u"", u"R"}},
                   {u"Compress 7Zip Archive", {u"C:\\a.7z", u"", u"C:\\d\\x", u"", u"6", u"s", u"", u"TRUE", u"", u"R"}}}));
  ASSERT_EQ(host.library.calls.size(), 3u);
  EXPECT_EQ(host.library.calls[0].method, 130);
  EXPECT_EQ(host.library.calls[0].mode, 1);  // the last TRUE wins
  EXPECT_EQ(host.library.calls[1].method, 130);  // index 9 keeps the previous code
  EXPECT_EQ(host.library.calls[1].mode, 1);
  EXPECT_EQ(host.library.calls[2].method, 1);
  EXPECT_EQ(host.library.calls[2].mode, 0);
  EXPECT_EQ(value(u"R"), u"SUCCESS");
}

TEST_F(ArchiveCommandsTest, EmptyResultVariableStoresNothing) {
  host.library.codes = {1002};
  ASSERT_TRUE(run({{u"Test 7Zip Archive", {u"C:\\a.7z", u"", u""}}}));
  StringList names;
  variables.store().list_names(names);
  for (const auto& name : names) EXPECT_NE(variables.value_of(name), u"#1002") << to_utf8(name);
}

TEST_F(ArchiveCommandsTest, CancellationOutcome) {
  // The user cancels while the worker runs.
  host.library.on_extract = [this] { variables.set_variable(u"ZEKO_IsCancelled", u"TRUE", u"Test"); };
  TestCommand extract{u"Extract 7Zip Archive", {u"C:\\a.7z", u"C:\\out", u"R", u"", u"", u""}};
  TestCommand after{u"Set Variable", {u"AFTER", u"ran"}};
  ASSERT_TRUE(run({{u"Set Variable", {u"ABORTONERROR", u"FALSE"}}, extract, after}, false));
  EXPECT_EQ(value(u"ABORTEDONERROR"), u"TRUE");
  EXPECT_EQ(value(u"AFTER"), u"ran");
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_EQ(host.messages[0].text, u"Setup cancelled");

  host.messages.clear();
  ASSERT_TRUE(run({extract, after}, true));  // ABORTONERROR TRUE: the script ends, silently
  EXPECT_FALSE(variables.is_defined(u"AFTER"));
  EXPECT_TRUE(host.messages.empty());
}

}  // namespace
}  // namespace kyt
