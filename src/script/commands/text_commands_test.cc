// The value and text-file commands, run through the interpreter.
#include <gtest/gtest.h>

#include <map>

#include "base/text_file.h"
#include "script/interpreter.h"
#include "script/test_host.h"
#include "script/test_script.h"

namespace kyt {
namespace {

using testing_support::make_payload;
using testing_support::RecordingHost;
using testing_support::TestCommand;

class CommandsTest : public testing::Test {
 protected:
  // Runs the commands; false when the run ended with a runtime error.
  bool run(std::vector<TestCommand> commands) {
    payload_ = make_payload(commands);
    Interpreter interpreter(payload_, variables, host, session, {.silent = true});
    auto outcome = interpreter.run();
    error = interpreter.last_error_report();
    EXPECT_NE(outcome, Interpreter::Outcome::check_failed) << to_utf8(interpreter.check_result().message);
    return outcome == Interpreter::Outcome::finished;
  }
  Text value(TextView name) const { return variables.value_of(name); }
  static TestCommand set(TextView name, TextView value) { return {u"Set Variable", {Text(name), Text(value)}}; }

  Variables variables;
  RecordingHost host;
  Session session;
  Text error;

 private:
  Payload payload_;
};

TEST_F(CommandsTest, ParseStringModes) {
  struct Case {
    Text source, pattern, mode, trim, ignore_case, first, second;
  } cases[] = {
      {u"a=b=c", u"=", u"0", u"", u"", u"a", u"b=c"},
      {u"a=b=c", u"=", u"1", u"", u"", u"a=b", u"c"},
      {u"a=b=c", u"#", u"0", u"", u"", u"a=b=c", u""},
      {u"a=b=c", u"#", u"1", u"", u"", u"", u"a=b=c"},
      {u"abcdef", u"2", u"2", u"", u"", u"ab", u"cdef"},
      {u"abcdef", u"0", u"2", u"", u"", u"", u"abcdef"},
      {u"abcdef", u"2", u"3", u"", u"", u"abcd", u"ef"},
      {u"abcdef", u"6", u"3", u"", u"", u"", u""},  // p = 0: both empty
      {u" key = value ", u"=", u"0", u"TRUE", u"", u"key", u"value"},
      {u"OneTWOthree", u"two", u"0", u"", u"TRUE", u"One", u"three"},
      {u"OneTWOthree", u"two", u"0", u"", u"", u"OneTWOthree", u""},
      {u"C:\\\\dir\\\\file", u"\\", u"1", u"", u"", u"C:\\dir", u"file"},  // path-normalized
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(run({{u"Parse String", {c.source, c.pattern, u"FIRST", u"SECOND", c.mode, c.trim, c.ignore_case}}}))
        << to_utf8(error);
    EXPECT_EQ(value(u"FIRST"), c.first) << to_utf8(c.source) << " mode " << to_utf8(c.mode);
    EXPECT_EQ(value(u"SECOND"), c.second) << to_utf8(c.source) << " mode " << to_utf8(c.mode);
  }
  EXPECT_FALSE(run({{u"Parse String", {u"abc", u"two", u"FIRST", u"", u"2"}}}));
  EXPECT_NE(error.find(u"'two' is not a valid integer value"), Text::npos);
}

TEST_F(CommandsTest, Mathematics) {
  struct Case {
    Text a, b, code, result;
  } cases[] = {
      {u"7", u"5", u"0", u"12"},
      {u"7", u"5", u"1", u"2"},
      {u"7", u"-5", u"2", u"-35"},
      {u"-7", u"2", u"3", u"-3"},
      {u"-7", u"2", u"4", u"-1"},
      {u"12", u"10", u"5", u"8"},
      {u"12", u"10", u"6", u"14"},
      {u"12", u"10", u"7", u"6"},
      {u"1", u"4", u"8", u"16"},
      {u"-1", u"60", u"9", u"15"},
      {u"0", u"", u"10", u"-1"},
      {u"a", u"", u"11", u"97"},
      {u"", u"", u"11", u"0"},
      {u"65", u"", u"12", u"A"},
      {u"9223372036854775807", u"1", u"0", u"-9223372036854775808"},
      {u"-9223372036854775808", u"-1", u"3", u"-9223372036854775808"},
      {u"5", u"5", u"99", u""},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(run({{u"Mathematics", {c.a, c.b, c.code, u"R"}}})) << to_utf8(error);
    EXPECT_EQ(value(u"R"), c.result) << to_utf8(c.a) << " " << to_utf8(c.code) << " " << to_utf8(c.b);
  }
  EXPECT_FALSE(run({{u"Mathematics", {u"1", u"0", u"3", u"R"}}}));
  EXPECT_NE(error.find(u"Division by zero"), Text::npos);
  EXPECT_FALSE(run({{u"Mathematics", {u"x", u"1", u"0", u"R"}}}));
  EXPECT_NE(error.find(u"'x' is not a valid integer value"), Text::npos);
  // Operand B is not read by code 10, so it may be anything; A is read by
  // every code but 11, also by codes without a result.
  EXPECT_TRUE(run({{u"Mathematics", {u"1", u"junk", u"10", u"R"}}}));
  EXPECT_TRUE(run({{u"Mathematics", {u"junk", u"junk", u"11", u"R"}}}));
  EXPECT_FALSE(run({{u"Mathematics", {u"junk", u"1", u"99", u"R"}}}));
}

TEST_F(CommandsTest, RandomGenerator) {
  ASSERT_TRUE(run({{u"Mathematics", {u"1103515245", u"12345", u"13", u"SUM"}},
                   {u"Mathematics", {u"42", u"", u"14", u"SEED"}},
                   {u"Mathematics", {u"1000", u"", u"15", u"R1"}},
                   {u"Mathematics", {u"1000", u"", u"15", u"R2"}}}))
      << to_utf8(error);
  EXPECT_EQ(value(u"SUM"), u"1103527590");
  EXPECT_EQ(value(u"SEED"), u"42");
  auto step = [](int32_t state) {
    return static_cast<int32_t>(1103515245u * static_cast<uint32_t>(state) + 12345u);
  };
  int32_t v1 = step(42);
  int32_t v2 = step(v1 % 32767);
  EXPECT_EQ(value(u"R1"), decimal(v1 % 1000));
  EXPECT_EQ(value(u"R2"), decimal(v2 % 1000));
  EXPECT_EQ(session.random.state, v2 % 32767);
}

TEST_F(CommandsTest, ReadFromTextFileLineByLineAndAll) {
  host.file_system.files[u"c:\\in.txt"] = "\xEF\xBB\xBFone\r\ntwo\r\nthree\r\n";
  TestCommand read{u"Read from Text File", {u"C:\\in.txt", u"LINE", u"EOF"}};
  ASSERT_TRUE(run({read, set(u"A", u"$LINE$:$EOF$"), read, set(u"B", u"$LINE$:$EOF$"), read,
                   set(u"C", u"$LINE$:$EOF$"), read, set(u"D", u"$LINE$:$EOF$")}))
      << to_utf8(error);
  EXPECT_EQ(value(u"A"), u"one:FALSE");
  EXPECT_EQ(value(u"B"), u"two:FALSE");
  EXPECT_EQ(value(u"C"), u"three:TRUE");
  EXPECT_EQ(value(u"D"), u"one:FALSE");  // the file was closed at its end

  ASSERT_TRUE(run({read, {u"Read from Text File", {u"#READALL\\C:\\in.txt", u"ALL", u"EOF"}}}));
  EXPECT_EQ(value(u"ALL"), u"two$NEWLINE$three");
  EXPECT_EQ(value(u"EOF"), u"TRUE");

  // Writing the file being read ends that read.
  ASSERT_TRUE(run({read, {u"Write to Text File", {u"C:\\in.txt", u"four", u""}}, read}));
  EXPECT_EQ(value(u"LINE"), u"one");

  EXPECT_FALSE(run({{u"Read from Text File", {u"C:\\missing.txt", u"LINE"}}}));
  EXPECT_NE(error.find(u"Cannot open file \"C:\\missing.txt\""), Text::npos);
}

TEST_F(CommandsTest, WriteToTextFileAppendsOrInserts) {
  host.file_system.files[u"c:\\out.txt"] = "middle\n";
  ASSERT_TRUE(run({{u"Write to Text File", {u"C:\\\\out.txt", u"last", u""}},
                   {u"Write to Text File", {u"C:\\out.txt", u"first", u"TRUE"}}}));
  EXPECT_EQ(host.file_system.files[u"c:\\out.txt"], "\xEF\xBB\xBF" "first\r\nmiddle\r\nlast\r\n");
  host.file_system.fail_writes = true;
  EXPECT_FALSE(run({{u"Write to Text File", {u"C:\\out.txt", u"x", u""}}}));
  EXPECT_NE(error.find(u"Cannot write to text file \"C:\\out.txt\""), Text::npos);
}

TEST_F(CommandsTest, ReplaceStringAndConvertCase) {
  ASSERT_TRUE(run({set(u"S", u"a-b-A-b"), {u"Replace String", {u"S", u"b", u"x", u"", u""}}, set(u"ONE", u"$S$"),
                   set(u"S", u"a-b-A-b"), {u"Replace String", {u"$S$", u"a", u"y", u"TRUE", u"TRUE"}},
                   set(u"ALL", u"$S$"), set(u"P", u"C:\\\\Dir\\\\File"), {u"Convert Case", {u"P", u"TRUE"}}}))
      << to_utf8(error);
  EXPECT_EQ(value(u"ONE"), u"a-x-A-b");
  EXPECT_EQ(value(u"ALL"), u"y-b-y-b");
  EXPECT_EQ(value(u"P"), u"C:\\DIR\\FILE");
  // Line breaks are matched in their escaped form.
  variables.remove_all();
  ASSERT_TRUE(run({set(u"S", u"one$NEWLINE$two"), {u"Replace String", {u"S", u"$NEWLINE$", u", ", u"", u"TRUE"}}}));
  EXPECT_EQ(value(u"S"), u"one, two");
}

TEST_F(CommandsTest, SetVariableSideEffects) {
  ASSERT_TRUE(run({set(u"KEEP$ZEKO$ZEKO$TRUE", u"1"), set(u"$TEMP$$ZEKO$ZEKO$FALSE", u"2"), set(u"ZEKO_TIMEOUT", u"x"),
                   set(u"ABORT", u"TRUE"), set(u"SAW", u"$ZEKO_IsCancelled$")}));
  EXPECT_EQ(value(u"KEEP"), u"1");
  EXPECT_EQ(value(u"TEMP"), u"2");
  EXPECT_EQ(session.persisted_variables, StringList({u"KEEP"}));
  EXPECT_EQ(session.timeout_seconds, 10);
  EXPECT_EQ(value(u"SAW"), u"TRUE");
  ASSERT_TRUE(run({set(u"ZEKO_TIMEOUT", u"30")}));
  EXPECT_EQ(session.timeout_seconds, 30);
}

TEST_F(CommandsTest, SystemQueries) {
  auto& system = host.system_queries;
  system.environment[u"PATH"] = u"C:\\bin";
  system.environment[u"HOME"] = u"C:\\Users\\me";
  system.versions[u"c:\\app.exe"] = {2, 10, 0, 7};
  system.existing[u"c:\\setup\\data"] = true;
  ASSERT_TRUE(run({{u"Get Environment", {u"PATH", u"ENV"}},
                   {u"Get Environment", {u"", u"BLOCK"}},
                   {u"Get Environment", {u"NOPE", u"MISSING"}},
                   {u"Get File Version", {u"C:\\\\app.exe", u"V"}},
                   {u"Get File Version", {u"C:\\other.exe", u"NONE"}},
                   {u"Check File Version", {u"NEWER", u"C:\\app.exe", u"", u"", u"2.9.65535"}},
                   {u"Check File Version", {u"SAME", u"C:\\app.exe", u"", u"", u"2.10.0.7"}},
                   {u"Check File Version", {u"VSFILE", u"C:\\app.exe", u"TRUE", u"C:\\other.exe", u""}},
                   set(u"SETUPPATH", u"C:\\Setup"),
                   set(u"REL", u"data"), {u"Convert Path", {u"REL", u""}},
                   set(u"SHORT", u"data"), {u"Convert Path", {u"SHORT", u"TRUE"}},
                   set(u"GONE", u"nothing"), {u"Convert Path", {u"GONE", u""}},
                   {u"Get Temporary File", {u"T"}},
                   {u"Get Folder Location", {u"F", u"20", u"TRUE"}},
                   {u"Get Folder Location", {u"NOFOLDER", u"30", u""}}}))
      << to_utf8(error);
  EXPECT_EQ(value(u"ENV"), u"C:\\bin");
  EXPECT_EQ(value(u"BLOCK"), u"HOME=C:\\Users\\me$NEWLINE$PATH=C:\\bin");
  EXPECT_EQ(value(u"MISSING"), u"%NOPE%");
  EXPECT_EQ(value(u"V"), u"2.10.0.7");
  EXPECT_EQ(value(u"NONE"), u"0.0.0.0");
  EXPECT_EQ(value(u"NEWER"), u"TRUE");
  EXPECT_EQ(value(u"SAME"), u"FALSE");
  EXPECT_EQ(value(u"VSFILE"), u"TRUE");
  EXPECT_EQ(value(u"REL"), u"LONG:C:\\Setup\\data");
  EXPECT_EQ(value(u"SHORT"), u"SHORT:C:\\Setup\\data");
  EXPECT_EQ(value(u"GONE"), u"");
  EXPECT_TRUE(value(u"T").ends_with(u"kyt1.tmp"));
  EXPECT_EQ(value(u"F"), u"F20AWin32\\");
  EXPECT_EQ(value(u"NOFOLDER"), u"");
}

TEST_F(CommandsTest, DateAndTimeAreRefreshedEveryCommandButFormattedOncePerSecond) {
  ASSERT_TRUE(run({set(u"DATE", u"mine"), set(u"SEEN", u"$DATE$ $TIME$"), set(u"A", u"1"), set(u"B", u"2")}));
  EXPECT_EQ(value(u"SEEN"), u"D1000 T1000");  // a script's own DATE lasts one command
  EXPECT_EQ(host.clock_formats, 1);
}

TEST_F(CommandsTest, EvaluateExpressionUsesQuotedExpansion) {
  ASSERT_TRUE(run({set(u"A", u"5"), set(u"B", u"hello"), {u"Evaluate Expression", {u"$A$ < \"10\" and $B$ = \"hello\"", u"R"}},
                   {u"Evaluate Expression", {u"$A$ > $B$ or $A$ = \"7\"", u"R2"}}}))
      << to_utf8(error);
  EXPECT_EQ(value(u"R"), u"TRUE");
  EXPECT_EQ(value(u"R2"), u"FALSE");
  ASSERT_TRUE(run({set(u"Q", u"say \"hi\""), {u"Evaluate Expression", {u"$Q$ = \"x\"", u"R"}}}));
  EXPECT_EQ(value(u"R"), u"ERROR");  // a quote inside a value breaks the quoting
}

}  // namespace
}  // namespace kyt

namespace kyt {
namespace {

// Translations keyed the way the localization tables key them.
class FakeTranslator : public Translator {
 public:
  std::optional<Text> parameter(TextView identifier, size_t k, TextView) override {
    auto it = parameters.find(Text(identifier) + u"#" + decimal(static_cast<int64_t>(k)));
    if (it == parameters.end()) return std::nullopt;
    return it->second;
  }
  std::optional<Text> key(TextView key, TextView) override {
    auto it = keys.find(Text(key));
    if (it == keys.end()) return std::nullopt;
    return it->second;
  }
  std::map<Text, Text> parameters, keys;
};

TEST_F(CommandsTest, TranslatableParametersAndLocalizationVariables) {
  using testing_support::test_identifier;
  FakeTranslator translator;
  translator.parameters[test_identifier(0) + u"#2"] = u"Bonjour $WHO$";
  translator.parameters[test_identifier(0) + u"#1"] = u"NOT_A_TARGET";  // parameter 1 is not translatable
  translator.parameters[test_identifier(2) + u"#3"] = u"Bonjour monde";  // If: value
  translator.keys[u"TELLURAX$GREETING$TELLURAX"] = u"Salut";
  session.translator = &translator;
  ASSERT_TRUE(run({set(u"MSG", u"Hello $WHO$"), set(u"WHO", u"monde"),
                   {u"If", {u"MSG", u"4", u"Hello world", u""}},
                   set(u"MATCH", u"yes"),
                   {u"End"},
                   {u"Localization Variable", {u"GREETING", u"Hi"}},
                   {u"Localization Variable", {u"OTHER", u"Plain"}}}))
      << to_utf8(error);
  EXPECT_EQ(value(u"MSG"), u"Bonjour $WHO$");
  EXPECT_FALSE(variables.is_defined(u"NOT_A_TARGET"));
  EXPECT_EQ(value(u"MATCH"), u"yes");  // "Bonjour monde" equals the translated value
  EXPECT_EQ(value(u"GREETING"), u"Salut");
  EXPECT_EQ(value(u"OTHER"), u"Plain");
}

}  // namespace
}  // namespace kyt
