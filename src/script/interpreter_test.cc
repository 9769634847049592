#include "script/interpreter.h"

#include <gtest/gtest.h>

#include "script/test_host.h"
#include "script/test_script.h"

namespace kyt {
namespace {

using testing_support::make_payload;
using testing_support::RecordingHost;
using testing_support::test_source_line;
using testing_support::TestCommand;

TestCommand command(TextView name, std::vector<Text> parameters = {}) { return {Text(name), std::move(parameters)}; }
TestCommand disabled(TestCommand command) {
  command.disabled = true;
  return command;
}
TestCommand set(TextView target, TextView value) { return command(u"Set Variable", {Text(target), Text(value)}); }
// Appends a mark to RAN, so a test can see which commands ran and in which order.
TestCommand mark(TextView text) { return set(u"RAN", u"$RAN$" + Text(text)); }
TestCommand if_(TextView variable, TextView code, TextView value, TextView negate = u"") {
  return command(u"If", {Text(variable), Text(code), Text(value), Text(negate)});
}
TestCommand else_if(TextView variable, TextView code, TextView value) {
  return command(u"Else If", {Text(variable), Text(code), Text(value), u""});
}
TestCommand else_() { return command(u"Else"); }
TestCommand end() { return command(u"End"); }
TestCommand write(TextView file, TextView text, TextView at_top = u"FALSE") {
  return command(u"Write to Text File", {Text(file), Text(text), Text(at_top)});
}

class InterpreterTest : public testing::Test {
 protected:
  Interpreter::Outcome run(const std::vector<TestCommand>& commands, RunOptions options = {}) {
    payload_ = make_payload(commands);
    Interpreter interpreter(payload_, variables, host, session, std::move(options));
    Interpreter::Outcome outcome = interpreter.run();
    check = interpreter.check_result();
    report = interpreter.last_error_report();
    return outcome;
  }
  // Runs the commands after defining RAN empty and returns what they marked.
  Text marks(std::vector<TestCommand> commands) {
    commands.insert(commands.begin(), set(u"RAN", u""));
    Interpreter::Outcome outcome = run(commands);
    EXPECT_EQ(outcome, Interpreter::Outcome::finished) << to_utf8(check.message) << to_utf8(report);
    return variables.value_of(u"RAN");
  }
  Text value(TextView name) const { return variables.value_of(name); }

  Variables variables;
  RecordingHost host;
  Session session;
  CheckResult check;
  Text report;

 private:
  Payload payload_;
};

TEST_F(InterpreterTest, FalseIfWithoutElseSkipsItsBody) {
  EXPECT_EQ(marks({set(u"X", u"1"), if_(u"X", u"0", u"2"), mark(u"body"), mark(u"more"), end(), mark(u"after")}),
            u"after");
  // A later chain still selects exactly one branch.
  EXPECT_EQ(marks({set(u"X", u"1"), if_(u"X", u"0", u"2"), mark(u"a"), end(), if_(u"X", u"0", u"5"), mark(u"b"),
                   else_if(u"X", u"0", u"1"), mark(u"c"), else_if(u"X", u"0", u"1"), mark(u"d"), else_(), mark(u"e"),
                   end(), mark(u".")}),
            u"c.");
}

TEST_F(InterpreterTest, ElseIfChainRunsExactlyOneBranch) {
  const std::vector<std::pair<Text, Text>> cases = {
      {u"1", u"one."}, {u"2", u"two."}, {u"3", u"three."}, {u"9", u"other."}};
  for (const auto& [x, expected] : cases) {
    EXPECT_EQ(marks({set(u"X", x), if_(u"X", u"0", u"1"), mark(u"one"), else_if(u"X", u"0", u"2"), mark(u"two"),
                     else_if(u"X", u"0", u"3"), mark(u"three"), else_(), mark(u"other"), end(), mark(u".")}),
              expected)
        << to_utf8(x);
  }
}

TEST_F(InterpreterTest, NestedBlocks) {
  // A whole block inside a skipped branch is passed over, Else and all.
  EXPECT_EQ(marks({set(u"X", u"1"), if_(u"X", u"0", u"2"), if_(u"X", u"0", u"1"), mark(u"inner"), else_(),
                   mark(u"inner-else"), end(), mark(u"body"), else_(), mark(u"else"), end()}),
            u"else");
  // Inside a taken branch the inner block picks its own branch.
  EXPECT_EQ(marks({set(u"X", u"1"), if_(u"X", u"0", u"1"), if_(u"X", u"0", u"2"), mark(u"a"), else_(), mark(u"b"),
                   end(), mark(u"c"), else_(), mark(u"d"), end(), mark(u".")}),
            u"bc.");
  // An Else If met at the end of a taken branch closes the block, at every level.
  EXPECT_EQ(marks({set(u"X", u"1"), if_(u"X", u"0", u"1"), if_(u"X", u"0", u"2"), mark(u"a"),
                   else_if(u"X", u"0", u"1"), mark(u"b"), else_(), mark(u"c"), end(), mark(u"d"),
                   else_if(u"X", u"0", u"1"), mark(u"e"), end(), mark(u".")}),
            u"bd.");
  // Two blocks in a row: the count of open blocks is right after the first.
  EXPECT_EQ(marks({set(u"X", u"1"), if_(u"X", u"0", u"2"), mark(u"a"), else_if(u"X", u"0", u"1"), mark(u"b"), end(),
                   if_(u"X", u"0", u"1"), mark(u"c"), end(), mark(u".")}),
            u"bc.");
}

TEST_F(InterpreterTest, DisabledBlockCommandsDoNotDisturbMatching) {
  struct Case {
    const char* what;
    std::vector<TestCommand> commands;
    Text expected;
  };
  const std::vector<Case> cases = {
      {"disabled If and End in a skipped branch",
       {if_(u"X", u"0", u"2"), disabled(if_(u"X", u"0", u"1")), mark(u"a"), disabled(end()), mark(u"b"), else_(),
        mark(u"else"), end(), mark(u".")},
       u"else."},
      {"disabled If alone in a skipped branch",
       {if_(u"X", u"0", u"2"), disabled(if_(u"X", u"0", u"1")), mark(u"a"), else_(), mark(u"else"), end(), mark(u".")},
       u"else."},
      {"disabled End alone in a skipped branch",
       {if_(u"X", u"0", u"2"), mark(u"a"), disabled(end()), mark(u"b"), else_(), mark(u"else"), end(), mark(u".")},
       u"else."},
      {"disabled Else in a skipped branch",
       {if_(u"X", u"0", u"2"), disabled(else_()), mark(u"a"), end(), mark(u".")},
       u"."},
      {"disabled true Else If in a skipped branch",
       {if_(u"X", u"0", u"2"), disabled(else_if(u"X", u"0", u"1")), mark(u"a"), end(), mark(u".")},
       u"."},
      {"disabled Else and End in a taken branch",
       {if_(u"X", u"0", u"1"), mark(u"a"), disabled(else_()), mark(u"b"), disabled(end()), mark(u"c"), end(),
        mark(u".")},
       u"abc."},
      {"disabled commands never run",
       {disabled(mark(u"a")), mark(u"b"), disabled(set(u"RAN", u"overwritten"))},
       u"b"},
  };
  for (const auto& c : cases) {
    std::vector<TestCommand> commands = {set(u"X", u"1")};
    commands.insert(commands.end(), c.commands.begin(), c.commands.end());
    EXPECT_EQ(marks(commands), c.expected) << c.what;
  }
}

TEST_F(InterpreterTest, ConditionOperators) {
  struct Case {
    Text left;  // empty: the variable is left undefined
    Text code;
    Text right;
    Text negate;
    bool expected;
  };
  const std::vector<Case> cases = {
      {u"10", u"0", u"010", u"", true},            // both numbers
      {u"10", u"0", u"10.0", u"", false},          // texts
      {u"abc", u"0", u"ABC", u"", false},          // case-sensitive
      {u"12", u"1", u"2", u"", false},             // numbers: "contains" compares equal
      {u"a12b", u"1", u"12", u"", true},
      {u"Hello World", u"1", u"world", u"", false},
      {u"b", u"2", u"abc", u"", true},             // code units in order
      {u"abc", u"2", u"ab", u"", true},            // the longer text is greater
      {u"abc", u"2", u"b", u"", false},
      {u"10", u"2", u"9", u"", true},              // numbers
      {u"10", u"2", u"9a", u"", false},            // texts
      {u"-5", u"2", u"-10", u"", true},
      {u"Hello World", u"3", u"WORLD", u"", true},
      {u"Hello World", u"3", u"planet", u"", false},
      {u"abc", u"4", u"ABC", u"", true},
      {u"\u00E4bc", u"4", u"\u00C4BC", u"", true},
      {u"1.2.10", u"6", u"1.2.9", u"", true},
      {u"1.2", u"6", u"1.2.0.0", u"", false},
      {u"1.2.0.1", u"6", u"1.2", u"", true},
      {u"2", u"6", u"10", u"", false},
      {u"1.2.x", u"6", u"1.1", u"", true},          // a last part that is no number counts as 0
      {u"1.2.x", u"6", u"1.2", u"", false},
      {u"2.0", u"6", u"1.9.9.9", u"", true},
      {u"v", u"5", u"", u"", true},
      {u"", u"5", u"", u"", false},
      {u"", u"5", u"", u"TRUE", true},              // undefined, negated
      {u"a", u"0", u"a", u"TRUE", false},
      {u"a", u"0", u"b", u"-1", true},
      {u"a", u"0", u"b", u"true", true},
      {u"a", u"0", u"b", u"yes", false},
      {u"a", u"9", u"a", u"", false},               // unknown code compares nothing
      {u"a", u"9", u"a", u"TRUE", true},
      {u"a", u"00", u"a", u"", false},
  };
  for (const auto& c : cases) {
    std::vector<TestCommand> commands;
    if (!c.left.empty()) commands.push_back(set(u"L", c.left));
    for (auto& more : {if_(u"L", c.code, c.right, c.negate), set(u"R", u"yes"), else_(), set(u"R", u"no"), end()})
      commands.push_back(more);
    ASSERT_EQ(run(commands), Interpreter::Outcome::finished) << to_utf8(check.message) << to_utf8(report);
    EXPECT_EQ(value(u"R"), c.expected ? u"yes" : u"no")
        << "\"" << to_utf8(c.left) << "\" code " << to_utf8(c.code) << " \"" << to_utf8(c.right) << "\" negate \""
        << to_utf8(c.negate) << "\"";
  }
}

TEST_F(InterpreterTest, ConditionOperandsAreExpanded) {
  // X holds a reference (Y is undefined when X is set); the left operand is
  // X's value expanded, the right operand is expanded too.
  EXPECT_EQ(marks({set(u"X", u"$Y$"), set(u"Y", u"5"), set(u"F", u"5"), if_(u"$X$", u"0", u"$F$"), mark(u"equal"),
                   end()}),
            u"equal");
  EXPECT_EQ(value(u"X"), u"$Y$");
  // The is-defined test takes the name as written, "$" marks included.
  EXPECT_EQ(marks({set(u"X", u"1"), if_(u"$X$", u"5", u""), mark(u"defined"), else_(), mark(u"not"), end()}),
            u"not");
}

TEST_F(InterpreterTest, CommandsWithoutHandlerDoNothing) {
  ASSERT_EQ(run({command(u"Code Folding Region", {u"Section"}), command(u"Compiler Variable End"),
                 command(u"Made Up Command", {u"$R$", u"x"}), command(u"set variable", {u"R", u"lower case"}),
                 command(u"Comment", {u"note"}), command(u"Ignore"), set(u"R", u"done")}),
            Interpreter::Outcome::finished);
  EXPECT_EQ(value(u"R"), u"done");
  EXPECT_TRUE(host.messages.empty());
}

TEST_F(InterpreterTest, SetVariablePersistFlag) {
  ASSERT_EQ(run({set(u"name$ZEKO$ZEKO$TRUE", u"v1"), set(u"KEEP$ZEKO$ZEKO$FALSE", u"v2"),
                 set(u"NAME$ZEKO$ZEKO$TRUE", u"again"), set(u"LOOSE$ZEKO$ZEKO$true", u"v3")}),
            Interpreter::Outcome::finished);
  EXPECT_EQ(session.persisted_variables, (StringList{u"NAME"}));
  EXPECT_EQ(value(u"NAME"), u"again");
  EXPECT_EQ(value(u"KEEP"), u"v2");
  EXPECT_EQ(value(u"LOOSE"), u"v3");
  EXPECT_FALSE(variables.is_defined(u"NAME$ZEKO$ZEKO$TRUE"));
  EXPECT_FALSE(variables.is_defined(u"KEEP$ZEKO$ZEKO$FALSE"));
}

TEST_F(InterpreterTest, AbortAndTheCancelState) {
  ASSERT_EQ(run({set(u"BEFORE", u"$ABORT$"), set(u"ABORT", u"TRUE"), set(u"SEEN", u"$ABORT$")}),
            Interpreter::Outcome::finished);
  EXPECT_EQ(value(u"BEFORE"), u"FALSE");
  EXPECT_EQ(value(u"ZEKO_IsCancelled"), u"TRUE");
  EXPECT_EQ(value(u"SEEN"), u"TRUE");

  ASSERT_EQ(run({set(u"ABORT", u"TRUE"), set(u"ABORT", u"FALSE")}), Interpreter::Outcome::finished);
  EXPECT_EQ(value(u"ZEKO_IsCancelled"), u"FALSE");

  // The cancel state is copied into ABORT before every command.
  ASSERT_EQ(run({set(u"ZEKO_IsCancelled", u"TRUE"), set(u"SEEN", u"$ABORT$"), set(u"ABORT", u"FALSE"),
                 set(u"AGAIN", u"$ABORT$")}),
            Interpreter::Outcome::finished);
  EXPECT_EQ(value(u"SEEN"), u"TRUE");
  EXPECT_EQ(value(u"AGAIN"), u"FALSE");
}

TEST_F(InterpreterTest, WriteToTextFileAppendsOrInsertsAsUtf8WithMark) {
  auto& files = host.file_system.files;
  files[u"c:\\out\\append.txt"] = "first\nsecond";  // no mark, bare line feeds
  files[u"c:\\out\\top.txt"] = "\xEF\xBB\xBFold\r\n";
  host.file_system.read_only[u"c:\\out\\top.txt"] = true;
  ASSERT_EQ(run({set(u"X", u"3"), write(u"C:\\\\Out\\\\Append.txt", u"third $X$"),
                 write(u"C:\\Out\\top.txt", u"new", u"TRUE"), write(u"C:\\Out\\new.txt", u"\u00E4$NEWLINE$b", u"no"),
                 write(u"C:\\Out\\new.txt", u"last", u"-1")}),
            Interpreter::Outcome::finished)
      << to_utf8(report);
  EXPECT_EQ(files[u"c:\\out\\append.txt"], "\xEF\xBB\xBF" "first\r\nsecond\r\nthird 3\r\n");
  EXPECT_EQ(files[u"c:\\out\\top.txt"], "\xEF\xBB\xBFnew\r\nold\r\n");
  EXPECT_EQ(files[u"c:\\out\\new.txt"], "\xEF\xBB\xBFlast\r\n\xC3\xA4\r\nb\r\n");
}

TEST_F(InterpreterTest, RuntimeErrorIsReportedWithSourcePosition) {
  const std::vector<TestCommand> script = {set(u"V", u"a.b"), set(u"BEFORE", u"1"), if_(u"V", u"6", u"1.0"),
                                           set(u"INSIDE", u"1"), end(), set(u"AFTER", u"1")};
  ASSERT_EQ(run(script), Interpreter::Outcome::runtime_error);
  const Text expected = u"Runtime error in setup script:\r\n\r\nSource File: Main Script\r\nLine Number: " +
                        decimal(test_source_line(2) + 1) + u"\r\n\r\n'a.b' is not a valid version";
  EXPECT_EQ(report, expected);
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_EQ(host.messages[0].text, expected);
  EXPECT_EQ(host.messages[0].title, u"Demo - Quorvane Wizard");
  EXPECT_EQ(host.messages[0].icon, MessageIcon::error);
  EXPECT_EQ(value(u"BEFORE"), u"1");
  EXPECT_FALSE(variables.is_defined(u"INSIDE"));
  EXPECT_FALSE(variables.is_defined(u"AFTER"));
}

TEST_F(InterpreterTest, RuntimeErrorInASilentRunShowsNothing) {
  const std::vector<TestCommand> script = {set(u"V", u"1.0"), if_(u"V", u"6", u"x.1"), end(), set(u"AFTER", u"1")};
  RunOptions silent;
  silent.silent = true;
  ASSERT_EQ(run(script, silent), Interpreter::Outcome::runtime_error);
  EXPECT_TRUE(host.messages.empty());
  EXPECT_NE(report.find(u"'x.1' is not a valid version"), Text::npos) << to_utf8(report);
  EXPECT_FALSE(variables.is_defined(u"AFTER"));

  // The script itself may make the run silent.
  std::vector<TestCommand> made_silent = script;
  made_silent.insert(made_silent.begin(), set(u"SILENT", u"TRUE"));
  ASSERT_EQ(run(made_silent), Interpreter::Outcome::runtime_error);
  EXPECT_TRUE(host.messages.empty());
}

TEST_F(InterpreterTest, HandlerErrorEndsTheRun) {
  host.file_system.fail_writes = true;
  ASSERT_EQ(run({set(u"ZEKOLOGO", u"TRUE"), write(u"C:\\\\Locked\\\\file.txt", u"x"), set(u"AFTER", u"1")}),
            Interpreter::Outcome::runtime_error);
  const Text expected = u"Runtime error in setup script:\r\n\r\nSource File: Main Script\r\nLine Number: " +
                        decimal(test_source_line(1) + 1) +
                        u"\r\n\r\nCannot write to text file \"C:\\Locked\\file.txt\"";
  EXPECT_EQ(report, expected);
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_EQ(host.messages[0].title, u"Demo");  // ZEKOLOGO drops the product suffix
  EXPECT_FALSE(variables.is_defined(u"AFTER"));
}

TEST_F(InterpreterTest, CheckFailureRunsNothing) {
  ASSERT_EQ(run({write(u"C:\\out.txt", u"x"), if_(u"NOPE", u"0", u"x"), end()}), Interpreter::Outcome::check_failed);
  EXPECT_EQ(check.index, 1);
  EXPECT_EQ(check.message, u"Variable not defined: NOPE");
  EXPECT_TRUE(host.file_system.files.empty());
  EXPECT_TRUE(host.messages.empty());
}

TEST_F(InterpreterTest, RunSetsUpTheStoreAfresh) {
  variables.define_variable(u"LEFTOVER", u"x", u"Initialization");
  RunOptions options;
  options.environment.engine_path = u"C:\\Setup\\setup.exe";
  options.environment.engine_folder = u"C:\\Setup\\";
  ASSERT_EQ(run({set(u"R", u"$TITLE$ $VERSION$ by $COMPANY$"), set(u"WHERE", u"$SETUPPATH$")}, options),
            Interpreter::Outcome::finished);
  EXPECT_FALSE(variables.is_defined(u"LEFTOVER"));
  EXPECT_EQ(value(u"R"), u"Demo 1.0 by Example Ltd");
  EXPECT_EQ(value(u"WHERE"), u"C:\\Setup\\");
  EXPECT_EQ(value(u"NEWLINE"), u"\r\n");
  EXPECT_EQ(value(u"SILENT"), u"FALSE");
  EXPECT_EQ(value(u"ABORTONERROR"), u"TRUE");
  EXPECT_EQ(value(u"ZEKO_IsCancelled"), u"FALSE");
  EXPECT_EQ(session.mode64, u"Win32");
}

// The trace follows LOGGED: told once per change, never for an unchanged path.
TEST_F(InterpreterTest, TraceFollowsChangesOfLogged) {
  RunOptions options;
  options.environment.log_path = u"c:\\log.txt";
  std::vector<Text> paths;
  options.log_path_changed = [&paths](const Text& path) { paths.push_back(path); };
  ASSERT_EQ(run({set(u"A", u"1"), set(u"LOGGED", u"D:\\other.log"), set(u"B", u"2"), set(u"C", u"3")}, options),
            Interpreter::Outcome::finished);
  EXPECT_EQ(paths, std::vector<Text>{u"D:\\other.log"});
}

TEST_F(InterpreterTest, CommandLineValuesInASilentRun) {
  const std::vector<TestCommand> script = {set(u"TARGETDIR", u"D:\\Y"), set(u"SEEN", u"$TARGETDIR$")};
  RunOptions silent;
  silent.silent = true;
  silent.command_line_pairs = {{u"targetdir", u"C:\\X"}};
  ASSERT_EQ(run(script, silent), Interpreter::Outcome::finished);
  EXPECT_EQ(value(u"SEEN"), u"C:\\X");

  RunOptions interactive;
  interactive.command_line_pairs = {{u"TARGETDIR", u"C:\\X"}, {u"EXTRA", u"1"}};
  ASSERT_EQ(run(script, interactive), Interpreter::Outcome::finished);
  EXPECT_EQ(value(u"SEEN"), u"D:\\Y");
  EXPECT_EQ(value(u"EXTRA"), u"1");
}

TEST_F(InterpreterTest, LetsTheUserInterfaceBreathe) {
  const std::vector<TestCommand> script = {set(u"A", u"1"), set(u"B", u"2"), set(u"C", u"3")};
  host.tick_step = 0;  // a clock that stands still
  ASSERT_EQ(run(script), Interpreter::Outcome::finished);
  EXPECT_EQ(host.pumps, 0);
  host.tick_step = 1000;
  ASSERT_EQ(run(script), Interpreter::Outcome::finished);
  EXPECT_GE(host.pumps, 3);
}

}  // namespace
}  // namespace kyt
