#include "install/native_engine.h"

#include "install/registration.h"

#include <gtest/gtest.h>

#include "base/comma_text.h"
#include "script/interpreter.h"
#include "script/test_host.h"
#include "script/test_script.h"

namespace kyt {
namespace {

using testing_support::make_payload;
using testing_support::RecordingHost;
using testing_support::TestCommand;

constexpr TextView kData = u"D:\\Media\\data\\";
constexpr TextView kApp = u"C:\\Program Files\\Demo";
constexpr TextView kCache = u"C:\\Users\\me\\AppData\\Local\\{CACHE}\\";

TestCommand set(TextView name, TextView value) { return {u"Set Variable", {Text(name), Text(value)}}; }
TestCommand registry(TextView root, TextView key, TextView name, TextView data, TextView kind,
                     TextView mode = u"0") {
  bool string = kind == u"STRING", integer = kind == u"INTEGER";
  return {u"Write Registry", {Text(mode), Text(root), Text(key), Text(name), Text(data), string ? u"TRUE" : u"FALSE",
                              integer ? u"TRUE" : string ? u"FALSE" : Text(kind)}};
}
TestCommand install_files(TextView target, TextView flags = u"") {
  // Flags: r(ead-only) h(idden) s(hared) p(ermanent) m(issing only) k (stop on skip) g (self-register)
  auto flag = [&](char16_t c) { return Text(flags.find(c) != TextView::npos ? u"TRUE" : u"FALSE"); };
  return {u"Install Files", {u"*", u"", Text(target), flag(u'r'), flag(u'h'), u"FALSE", flag(u'k'), u"", flag(u'g'),
                             flag(u's'), flag(u'p'), flag(u'm')}};
}
TestCommand apply(bool install, bool uninstall) {
  return {u"Apply Changes", {u"", u"RESULT", install ? u"TRUE" : u"FALSE", uninstall ? u"TRUE" : u"FALSE"}};
}

// A product: registry values, a folder, two files (one in a sub-folder),
// INI entries and an environment value, installed into a machine that
// already holds some of its surroundings.
class NativeEngineTest : public testing::Test {
 protected:
  void SetUp() override {
    host.memory_machine = MemoryMachine{};
    machine().put_folder(u"C:\\Users\\me\\AppData\\Local");
    machine().put_file(Text(kData) + u"G1\\a.txt", "alpha", 200);
    machine().put_file(Text(kData) + u"G1\\b.txt", "beta", 200);
    machine().put_folder(u"C:\\Program Files");
    machine().write_value({2, {}, u"SOFTWARE"}, u"", {kRegSz, u"existing"});
    machine().write_value({1, {}, u"Environment"}, u"PATH", {kRegExpandSz, u"C:\\bin"});
    // Windows lists other installed programs already.
    for (int root : {1, 2})
      machine().write_value({root, {}, u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Other"},
                            u"DisplayName", {kRegSz, u"Other"});
    machine().changes = 0;
  }
  MemoryMachine& machine() { return host.memory_machine; }

  std::vector<TestCommand> product() {
    return {set(u"NATIVE_ENGINE", u"TRUE"),
            registry(u"2", u"SOFTWARE\\Demo\\Settings", u"Name", u"Value", u"STRING"),
            registry(u"4", u"SOFTWARE\\Demo", u"Count", u"42", u"INTEGER"),
            registry(u"2", u"SOFTWARE\\Demo\\List", u"Items", u"one", u"APPEND"),
            {u"Create Folder", {Text(kApp) + u"\\Logs\\Old"}},
            install_files(kApp),
            {u"Edit INI File", {Text(kApp), u"demo.ini", u"0", u"Main", u"Key", u"v1"}},
            {u"Edit INI File", {u"C:\\Windows", u"win.ini", u"3", u"Plugins", u"List", u"x"}},
            {u"Set Environment", {u"PATH", u";C:\\Demo", u"0", u"1", u"TRUE", u"FALSE"}}};
  }

  Interpreter::Outcome run(std::vector<TestCommand> commands, bool silent = true) {
    payload = make_payload(commands);
    payload.cache_folder_guid = u"{CACHE}";
    for (size_t i = 0; i < commands.size(); ++i)
      if (commands[i].name == u"Install Files" || commands[i].name == u"Install Service" ||
          commands[i].name == u"Install ODBC Driver" || commands[i].name == u"Install Assembly") {
        payload.command_headers.add(u"G1");
        payload.command_headers.add(decimal(static_cast<int64_t>(i)));
      }
    for (TextView line : {u"G1", u"NEWHEADER", u"G1\\a.txt", u"", u"G1\\b.txt", u"docs"})
      payload.header_file_table.add(Text(line));
    RunOptions options;
    options.silent = silent;
    options.environment.engine_path = u"D:\\Media\\setup.exe";
    options.environment.data_folder = Text(kData);
    options.environment.local_app_data = u"C:\\Users\\me\\AppData\\Local\\";
    options.trace = [this](TextView line) { log.emplace_back(line); };
    Interpreter interpreter(payload, variables, host, session, std::move(options));
    auto outcome = interpreter.run();
    error = interpreter.last_error_report();
    return outcome;
  }
  Text value(TextView name) const { return variables.value_of(name); }
  Text file(TextView path) {
    auto f = machine().files.find(to_lower(Text(path)));
    return f == machine().files.end() ? Text(u"<none>") : from_utf8(f->second.bytes);
  }
  // What the machine holds, apart from the engine's own counters.
  struct State {
    decltype(MemoryMachine::keys) keys;
    decltype(MemoryMachine::files) files;
    decltype(MemoryMachine::folders) folders;
    decltype(MemoryMachine::ini) ini;
  };
  State state() { return {machine().keys, machine().files, machine().folders, machine().ini}; }
  void expect_same(const State& before, const std::string& context) {
    State now = state();
    EXPECT_EQ(now.keys, before.keys) << context;
    EXPECT_EQ(now.folders, before.folders) << context;
    EXPECT_EQ(now.ini, before.ini) << context;
    EXPECT_EQ(now.files.size(), before.files.size()) << context;
    for (const auto& [path, f] : before.files) {
      auto it = now.files.find(path);
      EXPECT_TRUE(it != now.files.end() && it->second.bytes == f.bytes) << context << ": " << to_utf8(path);
    }
  }

  RecordingHost host;
  Variables variables;
  Session session;
  Payload payload;
  Text error;
  std::vector<Text> log;
};

TEST_F(NativeEngineTest, InstallThenUninstallLeavesTheMachineAsItWas) {
  State before = state();
  auto script = product();
  script.push_back(apply(true, false));
  ASSERT_EQ(run(script), Interpreter::Outcome::finished) << to_utf8(error);
  EXPECT_EQ(value(u"RESULT"), u"COMPLETE");
  EXPECT_EQ(file(Text(kApp) + u"\\a.txt"), u"alpha");
  EXPECT_EQ(file(Text(kApp) + u"\\docs\\b.txt"), u"beta");
  EXPECT_EQ(machine().read_value({2, {}, u"SOFTWARE\\Demo\\Settings"}, u"name")->text, u"Value");
  EXPECT_EQ(machine().read_value({1, {}, u"SOFTWARE\\Demo"}, u"Count")->number, 42u);  // root 4, not all users
  EXPECT_EQ(machine().read_value({1, {}, u"Environment"}, u"PATH")->text, u"C:\\bin;C:\\Demo");
  EXPECT_EQ(machine().read_value({1, {}, u"Environment"}, u"PATH")->type, kRegExpandSz);
  EXPECT_EQ(machine().ini_read(Text(kApp) + u"\\demo.ini", u"Main", u"Key"), u"v1");
  EXPECT_TRUE(machine().is_folder(Text(kApp) + u"\\Logs\\Old"));
  // The undo log is written in the engine cache, one line per change.
  auto entries = UndoLog::load(host.file_system, Text(kCache) + payload.project_guid);
  ASSERT_FALSE(entries.empty());
  EXPECT_EQ(entries.front().element, u"Delete Registry");
  EXPECT_EQ(entries.front().data, to_comma_text({u"2", u"SOFTWARE\\Demo\\Settings", u"Name",
                                                 u"SOFTWARE\\Demo\\Settings", u"SOFTWARE\\Demo"}));
  EXPECT_EQ(entries.front().weight, 512 + 2 * 512);
  EXPECT_EQ(entries.front().bitness, u"Win32");

  ASSERT_EQ(run({set(u"NATIVE_ENGINE", u"TRUE"), set(u"MODIFY", u"FALSE"), apply(false, true)}),
            Interpreter::Outcome::finished)
      << to_utf8(error);
  EXPECT_EQ(value(u"RESULT"), u"COMPLETE");
  expect_same(before, "after uninstall");
  EXPECT_FALSE(UndoLog::ensure(host.file_system, Text(kCache) + payload.project_guid, false));
}

TEST_F(NativeEngineTest, FileTypesShortcutsAndLocalFilesComeAndGo) {
  machine().put_file(u"E:\\Local\\one.log", "1");
  machine().put_file(u"E:\\Local\\deep\\two.log", "22");
  machine().put_file(u"E:\\Local\\skip.txt", "x");
  State before = state();
  ASSERT_EQ(run({set(u"NATIVE_ENGINE", u"TRUE"),
                 {u"Create File Type", {u"Demo.Doc", u"C:\\App\\demo.exe", u"Demo document", u"C:\\App\\demo.ico",
                                        u"1", u".dmo,.dmx",
                                        to_comma_text({u"open|\"%1\"", u"print|/p \"%1\"|[print(\"%1\")]|Demo|System"})}},
                 {u"Create Shortcut", {u"C:\\App\\demo.exe|pin", u"Demo", u"C:\\Menu\\Demo Group", u"Runs it",
                                       u"-x", u"C:\\App", u"C:\\App\\demo.ico", u"0", u"1"}},
                 {u"Advertised Shortcut", {u"C:\\App\\demo.exe|startmenu", u"Demo Ad", u"C:\\Menu", u"", u"",
                                           u"", u"", u"", u""}},
                 {u"Copy/Move Local Files", {u"E:\\Local", u"*.log", u"C:\\Logs", u"", u"TRUE", u"TRUE"}},
                 {u"Copy/Move Local Files", {u"E:\\Local", u"skip.txt", u"C:\\Logs", u"renamed.txt", u"FALSE", u""}},
                 apply(true, false)}),
            Interpreter::Outcome::finished)
      << to_utf8(error);
  auto value = [&](TextView key) {
    auto v = machine().read_value({0, {}, Text(key)}, u"");
    return v ? v->text : Text(u"<none>");
  };
  EXPECT_EQ(value(u"Demo.Doc"), u"Demo document");
  EXPECT_EQ(value(u"Demo.Doc\\DefaultIcon"), u"C:\\App\\demo.ico,1");
  EXPECT_EQ(value(u".dmx"), u"Demo.Doc");
  EXPECT_EQ(value(u"Demo.Doc\\Shell\\open\\Command"), u"\"C:\\App\\demo.exe\" \"%1\"");
  EXPECT_EQ(value(u"Demo.Doc\\Shell\\print\\ddeexec"), u"[print(\"%1\")]");
  EXPECT_EQ(value(u"Demo.Doc\\Shell\\print\\ddeexec\\topic"), u"System");
  EXPECT_EQ(file(u"C:\\Menu\\Demo Group\\Demo.lnk"),
            u"C:\\App\\demo.exe|C:\\App|-x|Runs it|C:\\App\\demo.ico|0|1");
  EXPECT_EQ(file(u"C:\\Menu\\Demo Ad.lnk"), u"C:\\App\\demo.exe|||||0|0");
  // Apply Changes unpins the recorded shortcuts first and pins them when
  // the installation commits, as their options asked.
  EXPECT_EQ(machine().pins, (std::vector<Text>{u"unpin taskbar C:\\Menu\\Demo Group\\Demo.lnk",
                                               u"unpin startmenu C:\\Menu\\Demo Ad.lnk", u"pin taskbar C:\\Menu\\Demo Group\\Demo.lnk",
                                               u"pin startmenu C:\\Menu\\Demo Ad.lnk"}));
  EXPECT_EQ(file(u"C:\\Logs\\deep\\two.log"), u"22");
  EXPECT_EQ(file(u"E:\\Local\\deep\\two.log"), u"22");  // copied
  EXPECT_EQ(file(u"C:\\Logs\\renamed.txt"), u"x");
  EXPECT_EQ(file(u"E:\\Local\\skip.txt"), u"<none>");  // moved
  machine().put_file(u"E:\\Local\\skip.txt", "x");
  ASSERT_EQ(run({set(u"NATIVE_ENGINE", u"TRUE"), set(u"MODIFY", u"FALSE"), apply(false, true)}),
            Interpreter::Outcome::finished);
  expect_same(before, "after uninstall");
}

TEST_F(NativeEngineTest, DelayedInstallationTouchesNothingBeforeApplyChanges) {
  State before = state();
  auto script = product();
  script.insert(script.begin(), set(u"DELAYUNTIL_APPLYCHANGES", u"TRUE"));
  ASSERT_EQ(run(script), Interpreter::Outcome::finished);
  expect_same(before, "queued only");
  EXPECT_EQ(session.install.queue.size(), 8u * 4);
  EXPECT_EQ(session.install.queued_weight, 3 * 512 + 1024 + 2 * 10240 + 1024);
  script.push_back(apply(true, false));
  ASSERT_EQ(run(script), Interpreter::Outcome::finished);
  EXPECT_EQ(value(u"RESULT"), u"COMPLETE");
  EXPECT_EQ(file(Text(kApp) + u"\\docs\\b.txt"), u"beta");
  EXPECT_TRUE(std::find(log.begin(), log.end(), u"      <NATIVE DELAYEDINSTALL>") != log.end());
}

// A failure at every change in turn, answered with abort: the rollback
// leaves the machine as it was each time, including a file the run had
// overwritten.
TEST_F(NativeEngineTest, RollbackAtEveryChangeRestoresTheMachine) {
  machine().put_file(Text(kApp) + u"\\a.txt", "old alpha", 100);
  State before = state();
  int failures = 0;
  for (int k = 1; k < 60; ++k) {
    SetUp();
    machine().put_file(Text(kApp) + u"\\a.txt", "old alpha", 100);
    host.file_system.files.clear();
    machine().fail_change = k;
    auto script = product();
    script.insert(script.begin(), set(u"NATIVE_ERROR", u"ABORT"));
    script.insert(script.begin(), set(u"NATIVE_OVERWRITE", u"ALWAYS"));
    script.push_back(set(u"REACHED_END", u"TRUE"));
    run(script);
    if (machine().changes < k) break;  // the whole installation ran without reaching change k
    // A copy that fails is tried once more without progress; when that
    // succeeds the installation goes on.
    if (variables.is_defined(u"REACHED_END")) continue;
    ++failures;
    expect_same(before, "failure at change " + std::to_string(k));
  }
  EXPECT_GT(failures, 10);
}

TEST_F(NativeEngineTest, RegistryKinds) {
  machine().write_value({2, {}, u"SOFTWARE\\M"}, u"Multi", {kRegMultiSz, {}, {u"a", u"b", u""}});
  ASSERT_EQ(run({set(u"NATIVE_ENGINE", u"TRUE"), set(u"NATIVE_ERROR", u"IGNORE"),
                 registry(u"2", u"SOFTWARE\\M", u"Multi", u"c", u"APPEND"),
                 registry(u"2", u"SOFTWARE\\M", u"Front", u"c", u"PREPEND"),
                 registry(u"2", u"SOFTWARE\\M", u"Bin", u"0aFF10", u"BINARY"),
                 registry(u"2", u"SOFTWARE\\M", u"Exp", u"%TEMP%\\\\x", u"EXPANDSTRING"),
                 registry(u"2", u"SOFTWARE\\M", u"Bad", u"12a", u"INTEGER"),
                 registry(u"2", u"SOFTWARE\\M", u"Neg", u"-1", u"INTEGER")}),
            Interpreter::Outcome::finished);
  RegistryKey key{2, {}, u"SOFTWARE\\M"};
  EXPECT_EQ(machine().read_value(key, u"Multi")->strings, (std::vector<Text>{u"a", u"b", u"c"}));
  EXPECT_EQ(machine().read_value(key, u"Front")->strings, std::vector<Text>{u"c"});
  EXPECT_EQ(machine().read_value(key, u"Bin")->bytes, std::string("\x0a\xff\x10", 3));
  EXPECT_EQ(machine().read_value(key, u"Exp")->text, u"%TEMP%\\x");  // doubled backslashes collapse
  EXPECT_EQ(machine().read_value(key, u"Exp")->type, kRegExpandSz);
  EXPECT_FALSE(machine().read_value(key, u"Bad"));
  EXPECT_EQ(machine().read_value(key, u"Neg")->number, 0xFFFFFFFFu);
  // The failed value went through the error processor with error 1700 and
  // left no undo entry.
  EXPECT_TRUE(std::find(log.begin(), log.end(), u"          < System error 1700.\r\rHKEY_LOCAL_MACHINE\\SOFTWARE\\M\\Bad >") !=
              log.end());
  size_t registry_entries = 0;
  for (const auto& entry : session.install.undo.pending()) registry_entries += entry.element == u"Delete Registry";
  EXPECT_EQ(registry_entries, 5u);
}

TEST_F(NativeEngineTest, OverwriteRules) {
  struct Case {
    const char* name;
    Text mode, older;
    std::optional<std::array<uint16_t, 4>> source_version, target_version;
    int64_t source_time, target_time;
    bool overwrite, asked;
  } cases[] = {
      {"always, same version", u"ALWAYS", u"FALSE", {{1, 0, 0, 0}}, {{1, 0, 0, 0}}, 5, 5, false, false},
      {"always, newer version", u"ALWAYS", u"FALSE", {{1, 2, 0, 0}}, {{1, 1, 9, 9}}, 5, 5, true, false},
      {"always with older", u"ALWAYS", u"TRUE", {{1, 0, 0, 0}}, {{2, 0, 0, 0}}, 5, 5, true, false},
      {"never", u"NEVER", u"TRUE", {{9, 0, 0, 0}}, {{1, 0, 0, 0}}, 5, 5, false, false},
      {"prompt, target newer", u"PROMPT", u"FALSE", {{1, 0, 0, 0}}, {{2, 0, 0, 0}}, 9, 5, false, false},
      {"prompt, source newer asks", u"PROMPT", u"FALSE", {{3, 0, 0, 0}}, {{2, 0, 0, 0}}, 5, 5, false, true},
      {"prompt with older asks", u"PROMPT", u"TRUE", {{1, 0, 0, 0}}, {{2, 0, 0, 0}}, 5, 5, false, true},
      {"only the target has a version", u"ALWAYS", u"FALSE", std::nullopt, {{1, 0, 0, 0}}, 9, 5, false, false},
      {"0.0.0.0 is no version: times", u"ALWAYS", u"FALSE", {{0, 0, 0, 0}}, std::nullopt, 9, 5, true, false},
      {"no versions, older time", u"ALWAYS", u"FALSE", std::nullopt, std::nullopt, 4, 5, false, false},
  };
  for (const auto& c : cases) {
    host.memory_machine = MemoryMachine{};
    host.questions.clear();
    machine().put_file(u"D:\\s.dll", "new", c.source_time, c.source_version);
    machine().put_file(u"C:\\t.dll", "old", c.target_time, c.target_version);
    variables.set_variable(u"NATIVE_OVERWRITE", c.mode, u"Test");
    variables.set_variable(u"NATIVE_OVERWRITE_OLDER", c.older, u"Test");
    InstallState state;
    payload = make_payload({});
    NativeContext context{variables, host, machine(), host.file_system, state, payload, session.messages};
    context.ask = [&](TextView title, TextView text) {
      host.questions.push_back({Text(title), Text(text), MessageIcon::warning});
      return Answer::no;
    };
    NativeEngine engine(context);
    EXPECT_EQ(engine.overwrite_processor(u"D:\\s.dll", u"C:\\t.dll").overwrite, c.overwrite) << c.name;
    EXPECT_EQ(!host.questions.empty(), c.asked) << c.name;
  }
  // The question's text and "yes to all".
  host.questions.clear();
  InstallState state;
  NativeContext context{variables, host, machine(), host.file_system, state, payload, session.messages};
  context.ask = [&](TextView title, TextView text) {
    host.questions.push_back({Text(title), Text(text), MessageIcon::warning});
    return Answer::yes_to_all;
  };
  NativeEngine engine(context);
  variables.set_variable(u"NATIVE_OVERWRITE", u"PROMPT", u"Test");
  variables.set_variable(u"NATIVE_OVERWRITE_OLDER", u"TRUE", u"Test");
  EXPECT_TRUE(engine.overwrite_processor(u"D:\\s.dll", u"C:\\t.dll").overwrite);
  EXPECT_EQ(value(u"NATIVE_OVERWRITE"), u"ALWAYS");
  ASSERT_EQ(host.questions.size(), 1u);
  EXPECT_EQ(host.questions[0].title, u"Overwrite");
  EXPECT_EQ(host.questions[0].text,
            u"C:\\t.dll\r\rOld file version: <no version information>\rOld file date: D0 T0\r\r"
            u"New file version: <no version information>\rNew file date: D0 T0\r\r"
            u"Would you like to overwrite this file?");
}

TEST_F(NativeEngineTest, SharedFileSurvivesTheFirstOfTwoUninstalls) {
  auto install = [&](TextView cache) {
    variables.remove_all();
    return run({set(u"NATIVE_ENGINE", u"TRUE"), set(u"OVERRIDECACHE", cache), install_files(kApp, u"s"),
                apply(true, false)});
  };
  auto uninstall = [&](TextView cache) {
    return run({set(u"NATIVE_ENGINE", u"TRUE"), set(u"MODIFY", u"FALSE"), set(u"OVERRIDECACHE", cache),
                apply(false, true)});
  };
  RegistryKey shared{2, {}, u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDlls"};
  Text a = Text(kApp) + u"\\a.txt";
  ASSERT_EQ(install(u"C:\\one"), Interpreter::Outcome::finished);
  EXPECT_EQ(machine().read_value(shared, a)->number, 1u);
  ASSERT_EQ(install(u"C:\\two"), Interpreter::Outcome::finished);
  EXPECT_EQ(machine().read_value(shared, a)->number, 2u);
  ASSERT_EQ(uninstall(u"C:\\one"), Interpreter::Outcome::finished);
  EXPECT_EQ(value(u"RESULT"), u"COMPLETE");
  EXPECT_EQ(machine().read_value(shared, a)->number, 1u);
  EXPECT_EQ(file(a), u"alpha");
  ASSERT_EQ(uninstall(u"C:\\two"), Interpreter::Outcome::finished);
  EXPECT_FALSE(machine().read_value(shared, a));
  EXPECT_EQ(file(a), u"<none>");
}

TEST_F(NativeEngineTest, FileInUseIsReplacedAtRestart) {
  Text a = Text(kApp) + u"\\a.txt";
  machine().put_file(a, "running", 100);
  machine().locked.insert(to_lower(a));
  ASSERT_EQ(run({set(u"NATIVE_ENGINE", u"TRUE"), set(u"NATIVE_OVERWRITE", u"ALWAYS"),
                 set(u"NATIVE_OVERWRITE_OLDER", u"TRUE"), install_files(kApp), apply(true, false)}),
            Interpreter::Outcome::finished);
  EXPECT_EQ(value(u"RESULT"), u"REBOOT");
  EXPECT_EQ(value(u"REBOOTCOMPUTER"), u"TRUE");
  ASSERT_EQ(machine().restart_moves.size(), 1u);
  EXPECT_EQ(machine().restart_moves[0].second, a);
  EXPECT_EQ(file(machine().restart_moves[0].first), u"alpha");
  EXPECT_EQ(file(a), u"running");
}

TEST_F(NativeEngineTest, IniListsAndTheirRemoval) {
  Text ini = u"C:\\Windows\\win.ini";
  machine().ini_write(ini, u"P", u"L", u"a, b");
  ASSERT_EQ(run({set(u"NATIVE_ENGINE", u"TRUE"), {u"Edit INI File", {u"C:\\Windows", u"win.ini", u"3", u"P", u"L", u"x"}},
                 {u"Edit INI File", {u"C:\\Windows", u"win.ini", u"1", u"P", u"L", u"never"}},
                 {u"Edit INI File", {u"C:\\Windows", u"win.ini", u"4", u"P", u"L", u"b"}},
                 {u"Edit INI File", {u"C:\\Windows", u"win.ini", u"0", u"Q", u"K", u"v"}}, apply(true, false)}),
            Interpreter::Outcome::finished);
  EXPECT_EQ(machine().ini_read(ini, u"P", u"L"), u"x, a");
  // Mode 1 on an existing key records nothing; modes 0 and 3 record.
  auto entries = UndoLog::load(host.file_system, Text(kCache) + payload.project_guid);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].data, to_comma_text({ini, u"P", u"L", u"x"}));
  EXPECT_EQ(entries[1].data, to_comma_text({ini, u"Q", u"K", u""}));
  machine().ini_write(ini, u"P", u"L", u"a, x, b");
  ASSERT_EQ(run({set(u"NATIVE_ENGINE", u"TRUE"), set(u"MODIFY", u"FALSE"), apply(false, true)}),
            Interpreter::Outcome::finished);
  EXPECT_EQ(machine().ini_read(ini, u"P", u"L"), u"a, b");
  EXPECT_EQ(machine().ini_read(ini, u"Q", u"K"), std::nullopt);
}

TEST_F(NativeEngineTest, EntriesAreUndoneInTheirOwnBitness) {
  ASSERT_EQ(run({set(u"NATIVE_ENGINE", u"TRUE"), {u"Set 64 Bit Mode", {u"TRUE", u"TRUE", u"TRUE"}},
                 registry(u"2", u"SOFTWARE\\Wide", u"V", u"1", u"STRING"), {u"Set 64 Bit Mode", {u"TRUE"}},
                 registry(u"2", u"SOFTWARE\\Narrow", u"V", u"1", u"STRING"), apply(true, false)}),
            Interpreter::Outcome::finished);
  auto entries = UndoLog::load(host.file_system, Text(kCache) + payload.project_guid);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].bitness, u"x64");
  EXPECT_EQ(entries[1].bitness, u"Win32");
  machine().modes.clear();
  ASSERT_EQ(run({set(u"NATIVE_ENGINE", u"TRUE"), set(u"MODIFY", u"FALSE"), apply(false, true)}),
            Interpreter::Outcome::finished);
  EXPECT_EQ(machine().modes, (std::vector<Text>{u"Win32", u"x64"}));  // last entry first
}

TEST_F(NativeEngineTest, NoLoggingMeansNothingToUndo) {
  ASSERT_EQ(run({set(u"NATIVE_ENGINE", u"TRUE"), set(u"NATIVE_LOGGING", u"FALSE"), install_files(kApp),
                 apply(true, false)}),
            Interpreter::Outcome::finished);
  EXPECT_TRUE(session.install.undo.pending().empty());
  EXPECT_FALSE(UndoLog::ensure(host.file_system, Text(kCache) + payload.project_guid, false));
}

TEST_F(NativeEngineTest, NativeLoggingNamesTheLogWhereOneCanBeMade) {
  ASSERT_EQ(run({set(u"NATIVE_ENGINE", u"TRUE"), {u"Create Folder", {u"C:\\First"}},
                 set(u"NATIVE_LOGGING", u"C:\\Logs\\foreign"), {u"Create Folder", {u"C:\\Second"}},
                 apply(true, false)}),
            Interpreter::Outcome::finished);
  EXPECT_EQ(value(u"NATIVE_LOGGING"), u"C:\\Logs\\foreign");
  // The entry made before the change went to the log in use then.
  auto old_log = UndoLog::load(host.file_system, Text(kCache) + payload.project_guid);
  ASSERT_EQ(old_log.size(), 1u);
  EXPECT_EQ(old_log[0].data, u"C:\\First");
  auto new_log = UndoLog::load(host.file_system, u"C:\\Logs\\foreign");
  ASSERT_EQ(new_log.size(), 1u);
  EXPECT_EQ(new_log[0].data, u"C:\\Second");
  // Where no log can be made the path is not kept.
  host.file_system.fail_writes = true;
  ASSERT_EQ(run({set(u"NATIVE_LOGGING", u"Q:\\nowhere\\log"), set(u"SEEN", u"$NATIVE_LOGGING$")}),
            Interpreter::Outcome::finished);
  EXPECT_EQ(value(u"SEEN"), u"");
}

TEST_F(NativeEngineTest, InstalledStateAndClosingPrograms) {
  auto query = [&] {
    return std::vector<TestCommand>{set(u"NATIVE_ENGINE", u"TRUE"),
                                    {u"Is MSI Setup Installed", {u"$PRODUCTCODE$", u"MINE"}},
                                    {u"Is MSI Setup Installed", {u"{00000000-0000-0000-0000-000000000001}", u"OTHER"}},
                                    {u"Terminate Program", {u"Demo\\\\Window", u""}}};
  };
  ASSERT_EQ(run(query()), Interpreter::Outcome::finished);
  EXPECT_EQ(value(u"MINE"), u"FALSE");
  auto script = product();
  script.push_back(apply(true, false));
  ASSERT_EQ(run(script), Interpreter::Outcome::finished);
  ASSERT_EQ(run(query()), Interpreter::Outcome::finished);
  EXPECT_EQ(value(u"MINE"), u"TRUE");  // its undo log is in the engine cache
  EXPECT_EQ(value(u"OTHER"), u"FALSE");
  ASSERT_FALSE(machine().closed_windows.empty());
  EXPECT_EQ(machine().closed_windows.back(), std::make_pair(Text(u"Demo\\Window"), Text()));
}

TEST_F(NativeEngineTest, SelfRegistrationByTheFilesOwnBitness) {
  std::string image(0x40 + 24, '\0');
  image[0] = 'M', image[1] = 'Z', image[0x3C] = 0x40;
  image.replace(0x40, 4, std::string("PE\0\0", 4));
  image[0x44] = '\x64', image[0x45] = '\x86';  // x64
  machine().put_file(Text(kData) + u"G1\\a.txt", image, 200);
  ASSERT_EQ(run({set(u"NATIVE_ENGINE", u"TRUE"), install_files(kApp, u"g"), apply(true, false)}),
            Interpreter::Outcome::finished);
  Text a = Text(kApp) + u"\\a.txt", b = Text(kApp) + u"\\docs\\b.txt";
  EXPECT_EQ(machine().programs,
            (std::vector<Text>{u"C:\\Windows\\System32\\regsvr32.exe /s \"" + a + u"\" @" + Text(kApp) + u"\\ x64",
                               u"C:\\Windows\\SysWOW64\\regsvr32.exe /s \"" + b + u"\" @" + Text(kApp) +
                                   u"\\docs\\ Win32"}));
  machine().programs.clear();
  ASSERT_EQ(run({set(u"NATIVE_ENGINE", u"TRUE"), set(u"MODIFY", u"FALSE"), apply(false, true)}),
            Interpreter::Outcome::finished);
  // Unregistered before the files go, last installed first.
  ASSERT_EQ(machine().programs.size(), 2u);
  EXPECT_EQ(machine().programs[0],
            u"C:\\Windows\\SysWOW64\\regsvr32.exe /u /s \"" + b + u"\" @" + Text(kApp) + u"\\docs\\ Win32");
  EXPECT_EQ(file(a), u"<none>");
  // A registration that fails goes to the error processor; ignored, the
  // file stays installed and nothing will unregister it.
  machine().program_exit_code = 3;
  ASSERT_EQ(run({set(u"NATIVE_ENGINE", u"TRUE"), set(u"NATIVE_ERROR", u"IGNORE"), install_files(kApp, u"g"),
                 apply(true, false)}),
            Interpreter::Outcome::finished);
  EXPECT_EQ(file(b), u"beta");
  for (const auto& entry : UndoLog::load(host.file_system, Text(kCache) + payload.project_guid))
    EXPECT_NE(entry.element, u"Unregister File");
}

TEST_F(NativeEngineTest, ServicesAreCreatedControlledAndDeleted) {
  State before = state();
  ASSERT_EQ(run({set(u"NATIVE_ENGINE", u"TRUE"),
                 {u"Install Service", {u"*", u"", Text(kApp), u"DemoSvc", u"Demo Service", u"Does demo things",
                                       u"a.txt", u"RpcSs,Tcpip", u"0", u"FALSE", u"1", u"1", u"", u"", u"-service"}},
                 {u"Control Service", {u"DemoSvc", u"", u"0", u"20", u"TRUE"}}, apply(true, false)}),
            Interpreter::Outcome::finished)
      << to_utf8(error);
  ASSERT_TRUE(machine().services.contains(u"demosvc"));
  const auto& service = machine().services[u"demosvc"];
  EXPECT_EQ(service.config.binary_path, u"\"" + Text(kApp) + u"\\a.txt\" -service");
  EXPECT_EQ(service.config.dependencies, (std::vector<Text>{u"RpcSs", u"Tcpip"}));
  EXPECT_EQ(service.config.type, 16u);
  EXPECT_EQ(service.config.start_type, 3u);  // on demand, set again by Control Service's code 20
  EXPECT_EQ(service.config.error_control, 1u);
  EXPECT_TRUE(service.running);
  EXPECT_EQ(machine().read_value({2, {}, u"SYSTEM\\CurrentControlSet\\Services\\DemoSvc"}, u"Description")->text,
            u"Does demo things");
  EXPECT_EQ(file(Text(kApp) + u"\\docs\\b.txt"), u"beta");
  ASSERT_EQ(run({set(u"NATIVE_ENGINE", u"TRUE"), set(u"MODIFY", u"FALSE"), {u"Control Service", {u"DemoSvc", u"", u"1", u"", u"TRUE"}},
                 apply(false, true)}),
            Interpreter::Outcome::finished);
  EXPECT_TRUE(machine().services.empty());
  expect_same(before, "after uninstall");
}

// Without NATIVE_ENGINE the package does the work: the commands switch their
// rows on and pass what is known only at run time, and change nothing.
TEST_F(NativeEngineTest, WindowsInstallerModeOnlyPassesProperties) {
  State before = state();
  Payload p = make_payload({set(u"WHERE", u"C:\\\\Target"), install_files(u"$WHERE$\\\\App"),
                            registry(u"2", u"SOFTWARE\\Fixed", u"Name", u"plain", u"STRING"),
                            registry(u"2", u"SOFTWARE\\$WHERE$", u"Name", u"$WHERE$", u"STRING")});
  for (TextView line : {u"H1", u"1", u"H2", u"2", u"H3", u"3"}) p.command_headers.add(Text(line));
  Interpreter interpreter(p, variables, host, session, {.silent = true});
  ASSERT_EQ(interpreter.run(), Interpreter::Outcome::finished) << to_utf8(interpreter.last_error_report());
  expect_same(before, "Windows Installer mode");
  const InstallState& install = session.install;
  EXPECT_EQ(install.property_names, (std::vector<Text>{u"AH1", u"PH1_1", u"AH2", u"AH3", u"PH3_1", u"PH3_2"}));
  EXPECT_EQ(install.property_values, (std::vector<Text>{u"TRUE", u"C:\\Target\\App", u"TRUE", u"TRUE",
                                                        u"SOFTWARE\\C:\\Target", u"C:\\Target"}));
  EXPECT_EQ(install.maintenance_properties.size(), 12u);
  EXPECT_EQ(install.used_commands, (std::vector<size_t>{1, 2, 3}));
}

TEST_F(NativeEngineTest, DataSourcesComeAndGo) {
  ASSERT_EQ(run({set(u"NATIVE_ENGINE", u"TRUE"), set(u"DB", u"C:\\\\data\\\\demo.db"),
                 {u"Create ODBC DSN", {u"Demo", u"Demo Driver", u"FALSE", u"Database=[DB]$NEWLINE$Mode=fast"}},
                 {u"Create ODBC DSN", {u"DemoSys", u"Demo Driver", u"TRUE", u""}}, apply(true, false)}),
            Interpreter::Outcome::finished)
      << to_utf8(error);
  ASSERT_TRUE(machine().data_sources.contains(u"user|demo"));
  EXPECT_EQ(machine().data_sources[u"user|demo"].second,
            (std::vector<Text>{u"DSN=Demo", u"Database=C:\\\\data\\\\demo.db", u"Mode=fast"}));
  EXPECT_TRUE(machine().data_sources.contains(u"system|demosys"));
  ASSERT_EQ(run({set(u"NATIVE_ENGINE", u"TRUE"), set(u"MODIFY", u"FALSE"), apply(false, true)}),
            Interpreter::Outcome::finished);
  EXPECT_TRUE(machine().data_sources.empty());
}

// A driver counts its products: the first uninstall leaves it for the
// other, the second takes its files and values away.
TEST_F(NativeEngineTest, OdbcDriverCountsItsProducts) {
  auto script = [&](TextView cache, bool install) {
    variables.remove_all();
    std::vector<TestCommand> commands = {set(u"NATIVE_ENGINE", u"TRUE"), set(u"MODIFY", u"FALSE"),
                                         set(u"OVERRIDECACHE", cache)};
    if (install)
      commands.push_back({u"Install ODBC Driver", {u"a.txt", u"", Text(kApp), u"Demo Driver", u"", u"APILevel=1"}});
    commands.push_back(apply(install, !install));
    return run(commands);
  };
  RegistryKey driver{2, {}, u"SOFTWARE\\ODBC\\ODBCINST.INI\\Demo Driver"};
  ASSERT_EQ(script(u"C:\\one", true), Interpreter::Outcome::finished) << to_utf8(error);
  ASSERT_EQ(script(u"C:\\two", true), Interpreter::Outcome::finished);
  EXPECT_EQ(machine().read_value(driver, u"UsageCount")->number, 2u);
  EXPECT_EQ(machine().read_value(driver, u"Driver")->text, Text(kApp) + u"\\a.txt");
  EXPECT_EQ(machine().read_value(driver, u"APILevel")->text, u"1");
  EXPECT_EQ(machine().read_value({2, {}, u"SOFTWARE\\ODBC\\ODBCINST.INI\\ODBC Drivers"}, u"Demo Driver")->text,
            u"Installed");
  ASSERT_EQ(script(u"C:\\one", false), Interpreter::Outcome::finished);
  EXPECT_EQ(machine().read_value(driver, u"UsageCount")->number, 1u);
  EXPECT_EQ(file(Text(kApp) + u"\\a.txt"), u"alpha");
  ASSERT_EQ(script(u"C:\\two", false), Interpreter::Outcome::finished);
  EXPECT_FALSE(machine().key_exists(driver));
  EXPECT_FALSE(machine().read_value({2, {}, u"SOFTWARE\\ODBC\\ODBCINST.INI\\ODBC Drivers"}, u"Demo Driver"));
  EXPECT_EQ(file(Text(kApp) + u"\\a.txt"), u"<none>");
  EXPECT_EQ(file(Text(kApp) + u"\\docs\\b.txt"), u"<none>");  // the group's other files have entries of their own
}

TEST_F(NativeEngineTest, MissingHeaderIsARuntimeError) {
  payload = make_payload({});
  auto script = std::vector<TestCommand>{set(u"NATIVE_ENGINE", u"TRUE"), install_files(kApp)};
  // Headers exist for another index only.
  Payload p = make_payload(script);
  p.command_headers.add(u"G9");
  p.command_headers.add(u"7");
  Interpreter interpreter(p, variables, host, session, {.silent = true});
  EXPECT_EQ(interpreter.run(), Interpreter::Outcome::runtime_error);
  EXPECT_NE(interpreter.last_error_report().find(u"Unable to obtain command headers. Please rebuild your project."),
            Text::npos);
}

// A log cut at any byte yields only entries that were recorded, unchanged.
TEST(UndoLogTest, ACutLogNeverYieldsAnUnrecordedEntry) {
  MemoryFileSystem files;
  UndoLog log;
  log.record(u"Create File", {u"C:\\App\\a long file name.txt"}, u"Win32", false);
  log.record(u"Write Registry", {u"2", u"SOFTWARE\\X", u"V", u"SOFTWARE\\X"}, u"x64", false);
  log.record(u"Create Folder", {u"C:\\App\\Sub", u"C:\\App"}, u"Win32", false);
  log.record(u"Register Something Unknown", {u"ignored"}, u"Win32", false);
  std::vector<UndoEntry> recorded = log.pending();
  ASSERT_EQ(recorded.size(), 3u);
  EXPECT_EQ(recorded[2].weight, 2048);
  EXPECT_EQ(recorded[1].weight, 1024);
  log.flush(files, u"C:\\Cache\\log");
  ASSERT_EQ(UndoLog::load(files, u"C:\\Cache\\log"), recorded);
  for (TextView suffix : UndoLog::suffixes()) {
    Text path = u"C:\\Cache\\log" + Text(suffix);
    std::string whole = *files.read_file(path);
    for (size_t cut = 0; cut <= whole.size(); ++cut) {
      files.write_file(path, whole.substr(0, cut));
      auto loaded = UndoLog::load(files, u"C:\\Cache\\log");
      ASSERT_LE(loaded.size(), recorded.size());
      for (size_t i = 0; i < loaded.size(); ++i)
        ASSERT_EQ(loaded[i], recorded[i]) << to_utf8(suffix) << " cut at " << cut;
    }
    files.write_file(path, whole);
  }
  // Ensure creates the four files only when none exists.
  EXPECT_TRUE(UndoLog::ensure(files, u"C:\\Other\\log", true));
  EXPECT_EQ(*files.read_file(u"C:\\Other\\log.native.data.log"), "");
  files.remove_file(u"C:\\Other\\log.native.data.log");
  EXPECT_FALSE(UndoLog::ensure(files, u"C:\\Other\\log", true));
}

// The .NET tool commands: which tool of which framework folder runs with
// which arguments, and the fall-back when a version fails or is missing.
TEST_F(NativeEngineTest, FrameworkToolsFallBackThroughTheVersions) {
  const Text net = u"C:\\Windows\\Microsoft.NET\\";
  struct Case {
    const char* what;
    std::vector<TestCommand> commands;
    std::map<Text, std::optional<uint32_t>> exit_codes;  // by tool path relative to Microsoft.NET
    std::vector<Text> expected;                           // relative to Microsoft.NET
    bool failed = false;
  };
  const Text gac = u"C:\\Windows\\Microsoft.NET\\assembly\\GAC_MSIL\\Lib\\v4.0_2.0.0.0__abc\\Lib.dll";
  const Case cases[] = {
      {"native image, first version", {{u"Generate Native Images", {u"C:\\App\\a.dll"}}}, {},
       {u"Framework\\v4.0.30319\\ngen.exe install \"C:\\App\\a.dll\" @C:\\App\\ Win32"}},
      {"64-bit mode, the newest version fails",
       {{u"Set 64 Bit Mode", {u"FALSE", u"FALSE", u"TRUE"}}, {u"Generate Native Images", {u"C:\\App\\a.dll|TRUE"}}},
       {{u"Framework64\\v4.0.30319\\ngen.exe", 1}},
       {u"Framework64\\v4.0.30319\\ngen.exe install \"C:\\App\\a.dll\" @C:\\App\\ x64",
        u"Framework64\\v2.0.50727\\ngen.exe install \"C:\\App\\a.dll\" @C:\\App\\ x64"}},
      {"removal reaches version 1.1",
       {{u"Set 64 Bit Mode", {u"FALSE", u"FALSE", u"TRUE"}}, {u"Generate Native Images", {u"C:\\App\\a.dll|FALSE"}}},
       {{u"Framework64\\v4.0.30319\\ngen.exe", std::nullopt}, {u"Framework64\\v2.0.50727\\ngen.exe", std::nullopt}},
       {u"Framework64\\v4.0.30319\\ngen.exe uninstall \"C:\\App\\a.dll\" @C:\\App\\ x64",
        u"Framework64\\v2.0.50727\\ngen.exe uninstall \"C:\\App\\a.dll\" @C:\\App\\ x64",
        u"Framework\\v1.1.4322\\ngen.exe /delete \"C:\\App\\a.dll\" @C:\\App\\ x64"}},
      {"installer class, uninstall", {{u"Run .NET Installer Class", {u"C:\\App\\a.dll", u"TRUE"}}}, {},
       {u"Framework\\v4.0.30319\\installutil.exe /u \"C:\\App\\a.dll\" @C:\\App\\ Win32"}},
      {"register a strong name from the cache, all versions fail",
       {{u"Register Assembly", {u"Lib, Version=2.0.0.0, Culture=neutral, PublicKeyToken=abc|FALSE|TRUE"}}},
       {{u"Framework\\v4.0.30319\\regasm.exe", 3}, {u"Framework\\v2.0.50727\\regasm.exe", 3},
        {u"Framework\\v1.1.4322\\regasm.exe", 3}},
       {u"Framework\\v4.0.30319\\regasm.exe /tlb /unregister /codebase \"" + gac + u"\" /silent @" + folder_of(gac) +
            u" Win32",
        u"Framework\\v2.0.50727\\regasm.exe /tlb /unregister /codebase \"" + gac + u"\" /silent @" + folder_of(gac) +
            u" Win32",
        u"Framework\\v1.1.4322\\regasm.exe /tlb /unregister /codebase \"" + gac + u"\" /silent @" + folder_of(gac) +
            u" Win32"},
       true},
  };
  for (const Case& c : cases) {
    SetUp();
    session.mode64 = u"Win32";
    variables.store().set(u"LASTERROR", u"");
    machine().put_file(gac, "MZ");
    for (const auto& [tool, code] : c.exit_codes) machine().program_exit_codes[to_lower(net + tool)] = code;
    ASSERT_EQ(run(c.commands), Interpreter::Outcome::finished) << c.what << to_utf8(error);
    std::vector<Text> expected;
    for (const Text& line : c.expected) expected.push_back(net + line);
    EXPECT_EQ(machine().programs, expected) << c.what;
    EXPECT_EQ(value(u"LASTERROR").find(u"failed") != Text::npos, c.failed) << c.what;
  }
}

// Assemblies go into the assembly cache (and out again at uninstall); a
// failure at the second rolls the first back; without the cache flag they
// are plain files.
TEST_F(NativeEngineTest, AssembliesComeAndGo) {
  auto assembly = [](TextView cache) { return TestCommand{u"Install Assembly", {u"*", Text(cache), Text(kApp)}}; };
  ASSERT_EQ(run({set(u"NATIVE_ENGINE", u"TRUE"), assembly(u"TRUE"), apply(true, false)}),
            Interpreter::Outcome::finished) << to_utf8(error);
  EXPECT_EQ(machine().assemblies.size(), 2u);
  EXPECT_EQ(machine().assemblies[u"b"], Text(kData) + u"G1\\b.txt");
  EXPECT_FALSE(machine().exists(Text(kApp) + u"\\a.txt"));
  EXPECT_NE(std::find(log.begin(), log.end(), u"        < GAC: a.txt >"), log.end());
  ASSERT_EQ(run({set(u"NATIVE_ENGINE", u"TRUE"), apply(false, true)}), Interpreter::Outcome::finished);
  EXPECT_TRUE(machine().assemblies.empty());

  SetUp();
  machine().fail_change = 2;
  ASSERT_EQ(run({set(u"NATIVE_ENGINE", u"TRUE"), set(u"NATIVE_ERROR", u"ABORT"), set(u"ABORTONERROR", u"TRUE"),
                 assembly(u"TRUE")}),
            Interpreter::Outcome::finished);
  EXPECT_TRUE(machine().assemblies.empty()) << "the first assembly is rolled back";

  SetUp();
  ASSERT_EQ(run({set(u"NATIVE_ENGINE", u"TRUE"), assembly(u"FALSE")}), Interpreter::Outcome::finished);
  EXPECT_TRUE(machine().assemblies.empty());
  EXPECT_EQ(file(Text(kApp) + u"\\docs\\b.txt"), u"beta");
}

// Objects the engine may not change: taken over only when asked, and given
// their security back afterwards (a replaced file gets the old one's).
TEST_F(NativeEngineTest, TakingOverSecurity) {
  const Text key_id = u"key:2||software\\locked", file_id = u"file:" + to_lower(Text(kApp) + u"\\a.txt");
  struct Case {
    const char* what;
    std::string protection;
    const char16_t* override_setting;
    const char16_t* non_restorable;
    bool changed;
    std::string after;  // the key's and the file's security afterwards
  };
  const Case cases[] = {
      {"not asked", "deny", u"FALSE", u"FALSE", false, "deny"},
      {"taken and given back", "deny", u"TRUE", u"FALSE", true, "deny"},
      {"unreadable, not allowed", "unreadable", u"TRUE", u"FALSE", false, "unreadable"},
      {"unreadable, allowed", "unreadable", u"TRUE", u"TRUE", true, "owner"},
  };
  for (const Case& c : cases) {
    SetUp();
    machine().write_value({2, {}, u"SOFTWARE\\Locked"}, u"Old", {kRegSz, u"1"});
    machine().put_folder(Text(kApp));
    machine().put_file(Text(kApp) + u"\\a.txt", "old", 100);
    machine().security[key_id] = c.protection;
    machine().security[file_id] = c.protection;
    ASSERT_EQ(run({set(u"NATIVE_ENGINE", u"TRUE"), set(u"NATIVE_ERROR", u"IGNORE"),
                   set(u"NATIVE_OVERWRITE", u"ALWAYS"), set(u"NATIVE_OVERWRITE_OLDER", u"TRUE"),
                   set(u"NATIVE_OVERRIDE_PERMISSIONS", c.override_setting),
                   set(u"NATIVE_OVERRIDE_NON_RESTORABLE_PERMISSIONS", c.non_restorable),
                   registry(u"2", u"SOFTWARE\\Locked", u"New", u"2", u"STRING"), install_files(kApp),
                   apply(true, false)}),
              Interpreter::Outcome::finished) << c.what;
    EXPECT_EQ(machine().read_value({2, {}, u"SOFTWARE\\Locked"}, u"New").has_value(), c.changed) << c.what;
    EXPECT_EQ(file(Text(kApp) + u"\\a.txt"), c.changed ? u"alpha" : u"old") << c.what;
    EXPECT_EQ(machine().security[key_id], c.after) << c.what;
    EXPECT_EQ(machine().security[file_id], c.after) << c.what;
  }
  // The uninstall of a protected value takes it over as well.
  machine().security[key_id] = "deny";
  ASSERT_EQ(run({set(u"NATIVE_ENGINE", u"TRUE"), set(u"NATIVE_OVERRIDE_PERMISSIONS", u"TRUE"), apply(false, true)}),
            Interpreter::Outcome::finished);
  EXPECT_FALSE(machine().read_value({2, {}, u"SOFTWARE\\Locked"}, u"New"));
}

TEST_F(NativeEngineTest, ScheduledTasks) {
  ASSERT_EQ(run({set(u"DIR", u"C:\\App"),
                 {u"Schedule Task", {u"Nightly", u"$DIR$\\tool.exe", u"/quiet", u"$DIR$", u"3",
                                     u"2030-01-31T02:00:00", u"TRUE", u"Cleans up"}}}),
            Interpreter::Outcome::finished);
  TaskSettings expected{u"Nightly", u"C:\\App\\tool.exe", u"/quiet", u"C:\\App", u"Cleans up", 3,
                        u"2030-01-31T02:00:00", true};
  EXPECT_EQ(machine().tasks[u"nightly"], expected);
  EXPECT_EQ(value(u"LASTERROR"), u"");
  ASSERT_EQ(run({{u"Delete Scheduled Task", {u"Nightly"}}}), Interpreter::Outcome::finished);
  EXPECT_TRUE(machine().tasks.empty());
  ASSERT_EQ(run({{u"Delete Scheduled Task", {u"Nightly"}}}), Interpreter::Outcome::finished);
  EXPECT_NE(value(u"LASTERROR").find(u"Nightly"), Text::npos);
}

// After an installation the product is registered and its engine cached;
// after its removal neither registration nor cache is left.
TEST_F(NativeEngineTest, RegistrationAndEngineCache) {
  machine().put_file(u"D:\\Media\\setup.exe", "MZ engine");
  machine().put_file(u"D:\\Media\\setup.res", "resources");
  machine().put_file(u"D:\\Media\\kyt.lib", "MZ library");
  State before = state();
  ASSERT_EQ(run({set(u"NATIVE_ENGINE", u"TRUE"), set(u"TITLE", u"Demo App"), install_files(kApp),
                 apply(true, false)}),
            Interpreter::Outcome::finished) << to_utf8(error);
  const Text cache = Text(kCache);
  const RegistryKey entry{1, {}, u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Demo App"};
  auto text = [&](const RegistryKey& key, TextView name) {
    auto v = machine().read_value(key, name);
    return v ? (v->type == kRegDword ? u"#" + decimal(v->number) : v->text) : Text(u"<none>");
  };
  EXPECT_EQ(text(entry, u"DisplayName"), u"Demo App");
  EXPECT_EQ(text(entry, u"UninstallString"), u"\"" + cache + u"setup.exe\" REMOVE=TRUE MODIFY=FALSE");
  EXPECT_EQ(text(entry, u"ModifyPath"), cache + u"setup.exe");
  EXPECT_EQ(text(entry, u"DisplayIcon"), cache + u"setup.exe");
  EXPECT_EQ(text(entry, u"Publisher"), payload.publisher);
  EXPECT_EQ(text(entry, u"DisplayVersion"), u"1.0");
  EXPECT_EQ(text(entry, u"VersionMajor"), u"#1");
  EXPECT_EQ(text(entry, u"VersionMinor"), u"#0");
  EXPECT_EQ(text(entry, u"InstallLocation"), value(u"TARGETDIR"));
  EXPECT_FALSE(machine().key_exists({2, {}, entry.path})) << "a per-user installation registers for the user";
  const RegistryKey ident{1, {}, u"SOFTWARE\\Delvoran\\Quorvane\\Ident.Cache\\" + payload.project_guid};
  EXPECT_EQ(text(ident, u""), cache);
  EXPECT_EQ(text({1, {}, u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + payload.project_guid},
                 u"UninstallString"),
            cache + u"setup.exe");
  EXPECT_EQ(*host.file_system.read_file(cache + u"instance.dat"),
            to_utf8(payload.project_guid + u"\r\n{CACHE}\r\nDemo App\r\n"));
  for (TextView name : {u"setup.exe", u"setup.res", u"kyt.lib"})
    EXPECT_EQ(machine().files[to_lower(cache + Text(name))].bytes,
              machine().files[to_lower(u"D:\\Media\\" + Text(name))].bytes) << to_utf8(name);
  EXPECT_TRUE(host.file_system.exists(cache + u"setup.dat"));
  EXPECT_TRUE(host.file_system.exists(cache + u"setup.par"));

  ASSERT_EQ(run({set(u"NATIVE_ENGINE", u"TRUE"), set(u"TITLE", u"Demo App"), set(u"MODIFY", u"FALSE"),
                 apply(false, true)}),
            Interpreter::Outcome::finished);
  expect_same(before, "after removal");
  EXPECT_FALSE(machine().is_folder(cache));
}

TEST(Registration, VersionNumbers) {
  const std::pair<const char16_t*, std::pair<uint32_t, uint32_t>> cases[] = {
      {u"2.5.1", {2, 5}}, {u"7", {7, 0}}, {u"1.0beta", {1, 0}}, {u"x.3", {0, 3}}, {u"", {0, 0}}, {u"10.20", {10, 20}}};
  for (const auto& [version, numbers] : cases) EXPECT_EQ(version_numbers(version), numbers) << to_utf8(version);
}

// The cache of a product removed by its own cached engine: what is in use
// goes at the next restart.
TEST(Registration, CacheInUseGoesAtRestart) {
  MemoryMachine machine;
  machine.put_file(u"C:\\Cache\\{C}\\setup.exe", "MZ");
  machine.put_file(u"C:\\Cache\\{C}\\setup.dat", "x");
  machine.locked.insert(u"c:\\cache\\{c}\\setup.exe");
  remove_engine_cache(machine, u"C:\\Cache\\{C}\\");
  EXPECT_FALSE(machine.exists(u"C:\\Cache\\{C}\\setup.dat"));
  EXPECT_EQ(machine.restart_moves, (std::vector<std::pair<Text, Text>>{{u"", u"C:\\Cache\\{C}\\setup.exe"},
                                                                       {u"", u"C:\\Cache\\{C}"}}));
}

}  // namespace
}  // namespace kyt
