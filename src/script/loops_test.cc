// Loops, labels and included scripts.
#include <gtest/gtest.h>

#include "script/interpreter.h"
#include "script/test_host.h"
#include "script/test_script.h"

namespace kyt {
namespace {

using testing_support::make_payload;
using testing_support::RecordingHost;
using testing_support::TestCommand;

TestCommand command(TextView name, std::vector<Text> parameters = {}) { return {Text(name), std::move(parameters)}; }
TestCommand set(TextView target, TextView value) { return command(u"Set Variable", {Text(target), Text(value)}); }
TestCommand mark(TextView text) { return set(u"RAN", u"$RAN$" + Text(text)); }
TestCommand add(TextView variable, TextView amount) {
  return command(u"Mathematics", {u"$" + Text(variable) + u"$", Text(amount), u"0", Text(variable)});
}
// Condition helpers: variable, operator code, value, negation.
std::vector<Text> condition(TextView variable, TextView code, TextView value, TextView negate = u"") {
  return {Text(variable), Text(code), Text(value), Text(negate)};
}
TestCommand if_(TextView variable, TextView code, TextView value) {
  return command(u"If", condition(variable, code, value));
}
TestCommand end() { return command(u"End"); }
TestCommand while_(TextView variable, TextView code, TextView value, TextView negate = u"") {
  return command(u"While", condition(variable, code, value, negate));
}
TestCommand wend() { return command(u"Wend"); }
TestCommand repeat() { return command(u"Repeat"); }
TestCommand until(TextView variable, TextView code, TextView value) {
  return command(u"Until", condition(variable, code, value));
}
TestCommand for_each(TextView variable, TextView separator, TextView list) {
  return command(u"For Each", {Text(variable), Text(separator), Text(list)});
}
TestCommand next() { return command(u"Next"); }

class LoopsTest : public testing::Test {
 protected:
  // Runs the commands (after RAN is defined empty) with the given include map
  // entries ("result*depth" per command, the first for the RAN command) and
  // returns what they marked.
  Text marks(std::vector<TestCommand> commands, std::vector<Text> include_map = {}) {
    commands.insert(commands.begin(), set(u"RAN", u""));
    payload_ = make_payload(commands);
    for (size_t i = 0; i < include_map.size(); ++i) payload_.include_map.set(i, include_map[i]);
    Interpreter interpreter(payload_, variables, host, session);
    auto outcome = interpreter.run();
    EXPECT_EQ(outcome, Interpreter::Outcome::finished)
        << to_utf8(interpreter.check_result().message) << to_utf8(interpreter.last_error_report());
    loop_kinds = interpreter.loop_kinds();
    return variables.value_of(u"RAN");
  }

  Variables variables;
  RecordingHost host;
  Session session;
  std::vector<Text> loop_kinds;

 private:
  Payload payload_;
};

TEST_F(LoopsTest, WhileAndRepeat) {
  EXPECT_EQ(marks({set(u"I", u"0"), while_(u"I", u"2", u"3", u"TRUE"), add(u"I", u"1"), mark(u"$I$"), wend(),
                   mark(u".")}),
            u"1234.");
  EXPECT_EQ(marks({set(u"I", u"9"), while_(u"I", u"2", u"3", u"TRUE"), mark(u"never"), wend(), mark(u".")}), u".");
  // A Repeat loop that runs five times leaves the loop stack as it was.
  EXPECT_EQ(marks({set(u"I", u"0"), repeat(), add(u"I", u"1"), mark(u"$I$"), until(u"I", u"0", u"5"), mark(u".")}),
            u"12345.");
  EXPECT_TRUE(loop_kinds.empty());
}

TEST_F(LoopsTest, BreakAndContinueInNestedLoops) {
  // While I <= 5 runs for I = 1 to 6. Continue inside a While re-evaluates its
  // condition; Break leaves only the innermost loop.
  EXPECT_EQ(marks({set(u"I", u"0"), while_(u"I", u"2", u"5", u"TRUE"), add(u"I", u"1"), if_(u"I", u"0", u"2"),
                   command(u"Continue"), end(), set(u"J", u"0"), repeat(), add(u"J", u"1"), if_(u"J", u"0", u"3"),
                   command(u"Break"), end(), mark(u"$I$$J$"), until(u"J", u"0", u"9"), mark(u"|"), wend(),
                   mark(u".")}),
            u"1112|3132|4142|5152|6162|.");
  EXPECT_TRUE(loop_kinds.empty());
}

TEST_F(LoopsTest, ForEachSkipsEmptyItemsAndUndefinesItsVariable) {
  EXPECT_EQ(marks({for_each(u"ITEM", u",", u",a,,b,"), mark(u"[$ITEM$]"), next(), mark(u".")}), u"[a][b].");
  EXPECT_FALSE(variables.is_defined(u"ITEM"));
  EXPECT_EQ(marks({for_each(u"ITEM", u",", u""), mark(u"never"), next(), mark(u".")}), u".");
  EXPECT_FALSE(variables.is_defined(u"ITEM"));
  // Multi-character separators; an empty separator gives the whole text once.
  EXPECT_EQ(marks({for_each(u"ITEM", u"::", u"x::y::::z"), mark(u"[$ITEM$]"), next()}), u"[x][y][z]");
  EXPECT_EQ(marks({for_each(u"ITEM", u"", u"x,y"), mark(u"[$ITEM$]"), next()}), u"[x,y]");
}

TEST_F(LoopsTest, BreakInForEachInsideWhile) {
  EXPECT_EQ(marks({set(u"I", u"0"), while_(u"I", u"2", u"2", u"TRUE"), add(u"I", u"1"),
                   for_each(u"ITEM", u" ", u"a b c"), if_(u"ITEM", u"0", u"b"), command(u"Break"), end(),
                   mark(u"$I$$ITEM$"), next(), mark(u"/"), wend()}),
            u"1a/2a/3a/");
  EXPECT_FALSE(variables.is_defined(u"ITEM"));
  EXPECT_TRUE(loop_kinds.empty());
  // Continue inside For Each goes on with the next item.
  EXPECT_EQ(marks({for_each(u"ITEM", u",", u"a,b,c"), if_(u"ITEM", u"0", u"b"), command(u"Continue"), end(),
                   mark(u"$ITEM$"), next()}),
            u"ac");
}

TEST_F(LoopsTest, DisabledLoopCommandsAreNotPartners) {
  std::vector<TestCommand> commands = {set(u"I", u"0"), while_(u"I", u"2", u"1", u"TRUE"), add(u"I", u"1"),
                                       wend(), mark(u"$I$"), wend()};
  commands[3].disabled = true;  // the inner Wend is disabled: the loop closes at the last one
  EXPECT_EQ(marks(commands), u"12");
}

TEST_F(LoopsTest, GoToLabelRunsABlockAgainFromACleanState) {
  EXPECT_EQ(marks({set(u"I", u"0"), command(u"Label", {u"top"}), add(u"I", u"1"), if_(u"I", u"2", u"0"),
                   mark(u"in$I$"), if_(u"I", u"2", u"2"), command(u"GoTo Label", {u"DONE"}), end(),
                   command(u"GoTo Label", {u"Top"}), end(), command(u"Label", {u"done"}), mark(u".")}),
            u"in1in2in3.");
}

TEST_F(LoopsTest, ReturnFromIncludeStoresItsValueAndContinuesInTheIncluder) {
  // Commands: 0 RAN, 1 mark a, [2..5 included at depth 1 with result R], 6 mark after.
  std::vector<TestCommand> commands = {mark(u"a"), mark(u"in"), command(u"Return from Include Script", {u"v$RAN$"}),
                                       mark(u"skipped"), mark(u"skipped"), mark(u"|$R$")};
  EXPECT_EQ(marks(commands, {u"0*0", u"0*0", u"R*1", u"R*1", u"R*1", u"R*1", u"0*0"}), u"ain|vain");
  // In the main script the command does nothing.
  EXPECT_EQ(marks({command(u"Return from Include Script", {u"x"}), mark(u"main")}), u"main");
  // At the end of the whole script it ends the script.
  EXPECT_EQ(marks({mark(u"a"), command(u"Return from Include Script", {u""}), mark(u"b")}, {u"0*0", u"0*0", u"*1", u"*1"}),
            u"a");
}

TEST_F(LoopsTest, IncludesSaveAndRestoreStatePerLevel) {
  // A loop in the includer around an include two levels deep that returns
  // straight to depth 0: the loop state is restored once per level.
  std::vector<TestCommand> commands = {
      set(u"I", u"0"),                                 // 1 depth 0
      while_(u"I", u"2", u"2", u"TRUE"),               // 2
      add(u"I", u"1"),                                 // 3
      mark(u"<$I$"),                                   // 4 depth 2 (two includes begin together)
      for_each(u"X", u",", u"p,q"),                    // 5 depth 2
      mark(u"$X$"),                                    // 6
      next(),                                          // 7
      mark(u">"),                                      // 8 depth 0 again (both end together)
      wend(),                                          // 9
  };
  EXPECT_EQ(marks(commands, {u"0*0", u"0*0", u"0*0", u"0*0", u"*2", u"*2", u"*2", u"*2", u"0*0", u"0*0"}),
            u"<1pq><2pq><3pq>");
  EXPECT_TRUE(loop_kinds.empty());
}

}  // namespace
}  // namespace kyt

namespace kyt {
namespace {

TEST(SingleInstance, MarkerKeepsASecondRunOut) {
  Payload payload = make_payload({{u"Write to Text File", {u"C:\\out.txt", u"ran", u""}},
                                  {u"Set Variable", {u"SEEN", u"marker"}}});
  payload.build_settings = StringList({u"SINGLEINSTANCE", u"TRUE"});
  payload.cache_folder_guid = u"{C0FFEE00-0000-0000-0000-000000000000}";
  const Text marker = u"c:\\temp\\{c0ffee00-0000-0000-0000-000000000000}.kyt";
  RecordingHost host;
  Variables variables;
  Session session;
  RunOptions options;
  options.temporary_folder = u"C:\\Temp\\";
  {
    Interpreter interpreter(payload, variables, host, session, options);
    EXPECT_EQ(interpreter.run(), Interpreter::Outcome::finished);
  }
  EXPECT_EQ(host.file_system.files.count(u"c:\\out.txt"), 1u);
  EXPECT_EQ(host.file_system.files.count(marker), 0u);  // deleted at the end of the run

  host.file_system.files.clear();
  host.file_system.files[marker] = "";  // another run holds it
  Interpreter second(payload, variables, host, session, options);
  EXPECT_EQ(second.run(), Interpreter::Outcome::another_instance);
  EXPECT_EQ(host.file_system.files.count(u"c:\\out.txt"), 0u);
  EXPECT_EQ(host.file_system.files.count(marker), 1u);  // not ours to delete
}

}  // namespace
}  // namespace kyt
