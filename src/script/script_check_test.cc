#include "script/script_check.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "script/test_script.h"

namespace kyt {
namespace {

using testing_support::make_payload;
using testing_support::TestCommand;

// Commands written the way the check sees them. Conditions test TITLE, which
// the check always treats as defined.
TestCommand command(TextView name, std::vector<Text> parameters = {}) { return {Text(name), std::move(parameters)}; }
TestCommand disabled(TextView name, std::vector<Text> parameters = {}) {
  return {Text(name), std::move(parameters), true};
}
TestCommand condition(TextView name, TextView variable = u"TITLE", TextView code = u"0", TextView value = u"x") {
  return command(name, {Text(variable), Text(code), Text(value), u""});
}
TestCommand if_(TextView variable = u"TITLE", TextView code = u"0", TextView value = u"x") {
  return condition(u"If", variable, code, value);
}
TestCommand end() { return command(u"End"); }
TestCommand while_() { return condition(u"While"); }
TestCommand wend() { return command(u"Wend"); }
TestCommand repeat() { return command(u"Repeat"); }
TestCommand until() { return condition(u"Until"); }
TestCommand for_each(TextView variable) { return command(u"For Each", {Text(variable), u",", u"a,b"}); }
TestCommand next() { return command(u"Next"); }
TestCommand set(TextView target, TextView value = u"1") {
  return command(u"Set Variable", {Text(target), Text(value)});
}
TestCommand label(TextView name) { return command(u"Label", {Text(name)}); }
TestCommand go_to(TextView name) { return command(u"GoTo Label", {Text(name)}); }

CheckResult check(const std::vector<TestCommand>& commands) {
  Payload payload = make_payload(commands);
  Variables variables;
  return check_script(payload, variables);
}

struct FailingCase {
  const char* what;
  std::vector<TestCommand> commands;
  int64_t index;
  Text message;
};

void expect_failures(const std::vector<FailingCase>& cases) {
  for (const auto& c : cases) {
    CheckResult result = check(c.commands);
    EXPECT_EQ(result.index, c.index) << c.what;
    EXPECT_EQ(result.message, c.message) << c.what << ": " << to_utf8(result.message);
    EXPECT_FALSE(result.ok()) << c.what;
  }
}

TEST(ScriptCheck, UnequalTotalsFailAfterTheWalkInFixedOrder) {
  expect_failures({
      {"If without End", {if_()}, kCountMismatchIndex, u"Insufficient END statements"},
      {"Wizard Loop without End", {command(u"Wizard Loop")}, kCountMismatchIndex, u"Insufficient END statements"},
      {"only End is disabled", {if_(), disabled(u"End")}, kCountMismatchIndex, u"Insufficient END statements"},
      {"While without Wend", {while_()}, kCountMismatchIndex, u"Insufficient WEND statements"},
      {"Repeat without Until", {repeat()}, kCountMismatchIndex, u"Insufficient UNTIL statements"},
      {"For Each without Next", {for_each(u"I")}, kCountMismatchIndex, u"Insufficient NEXT statements"},
      {"END is counted before NEXT", {for_each(u"I"), if_()}, kCountMismatchIndex, u"Insufficient END statements"},
      {"WEND is counted before UNTIL", {repeat(), while_()}, kCountMismatchIndex, u"Insufficient WEND statements"},
      {"UNTIL is counted before NEXT", {for_each(u"I"), repeat()}, kCountMismatchIndex,
       u"Insufficient UNTIL statements"},
      {"nested If missing one End", {if_(), if_(), end()}, kCountMismatchIndex, u"Insufficient END statements"},
  });
}

TEST(ScriptCheck, CloserWithoutOpenerFailsAtTheCloser) {
  expect_failures({
      {"End", {end()}, 0, u"IF conditional closed outside of IF conditional scope"},
      {"second End", {if_(), end(), end()}, 2, u"IF conditional closed outside of IF conditional scope"},
      {"End after disabled If", {disabled(u"If"), end()}, 1, u"IF conditional closed outside of IF conditional scope"},
      {"Wend", {set(u"X"), wend()}, 1, u"WHILE loop closed outside of WHILE loop scope"},
      {"Until", {until()}, 0, u"REPEAT loop closed outside of REPEAT loop scope"},
      {"Next", {next()}, 0, u"FOR EACH loop closed outside of FOR EACH loop scope"},
  });
}

TEST(ScriptCheck, CrossedBlocksFailAtTheFirstCloser) {
  expect_failures({
      {"If closed inside While", {while_(), if_(), wend(), end()}, 2,
       u"WHILE loop closed outside of CONDITIONAL or REPEAT or FOR EACH loop scope"},
      {"While closed inside If", {if_(), while_(), end(), wend()}, 2, u"IF conditional closed outside of LOOP scope"},
      {"Repeat crossing For Each", {repeat(), for_each(u"I"), until(), next()}, 2,
       u"REPEAT loop closed outside of CONDITIONAL or WHILE or FOR EACH loop scope"},
      {"For Each crossing Repeat", {for_each(u"I"), repeat(), next(), until()}, 2,
       u"FOR EACH loop closed outside of CONDITIONAL or REPEAT or WHILE loop scope"},
      {"For Each crossing If", {for_each(u"I"), if_(), next(), end()}, 2,
       u"FOR EACH loop closed outside of CONDITIONAL or REPEAT or WHILE loop scope"},
      // The End of a Wizard Loop is exempt, so the crossed While is reported at its Wend.
      {"While crossing a Wizard Loop", {command(u"Wizard Loop"), while_(), end(), wend()}, 3,
       u"WHILE loop closed outside of CONDITIONAL or REPEAT or FOR EACH loop scope"},
  });
}

TEST(ScriptCheck, BreakAndContinueNeedALoop) {
  expect_failures({
      {"Break at top level", {command(u"Break")}, 0, u"Break not allowed outside of LOOP scope"},
      {"Continue inside If", {if_(), command(u"Continue"), end()}, 1, u"Continue not allowed outside of LOOP scope"},
      {"Break after the loop", {while_(), wend(), command(u"Break")}, 2, u"Break not allowed outside of LOOP scope"},
      {"Wizard Loop is no loop", {command(u"Wizard Loop"), command(u"Break"), end()}, 1,
       u"Break not allowed outside of LOOP scope"},
  });
  for (auto loop : std::vector<std::vector<TestCommand>>{
           {while_(), if_(), command(u"Break"), end(), wend()},
           {repeat(), command(u"Continue"), until()},
           {for_each(u"I"), command(u"Break"), command(u"Continue"), next()},
           {disabled(u"Break")},
       }) {
    CheckResult result = check(loop);
    EXPECT_TRUE(result.ok()) << to_utf8(result.message);
  }
}

TEST(ScriptCheck, ForEachVariables) {
  expect_failures({
      {"nested re-use", {for_each(u"I"), for_each(u"$i$"), next(), next()}, 1,
       u"FOR EACH variable re-used inside nested FOR EACH loop"},
      {"re-use two levels down", {for_each(u"I"), for_each(u"J"), for_each(u"I"), next(), next(), next()}, 2,
       u"FOR EACH variable re-used inside nested FOR EACH loop"},
      {"set before the loop", {set(u"I"), for_each(u"I"), next()}, 1,
       u"FOR EACH variable previously defined outside FOR EACH loop"},
      {"predefined name", {for_each(u"TARGETDIR"), next()}, 0,
       u"FOR EACH variable previously defined outside FOR EACH loop"},
      // Next undefines the loop variable again.
      {"used after its loop", {for_each(u"I"), next(), if_(u"I"), end()}, 2, u"Variable not defined: I"},
  });
  // The same variable in consecutive loops, and used inside its own loop.
  CheckResult result = check({for_each(u"I"), if_(u"I"), end(), next(), for_each(u"$I$"), next()});
  EXPECT_TRUE(result.ok()) << to_utf8(result.message);
}

TEST(ScriptCheck, Labels) {
  expect_failures({
      {"defined twice", {label(u"Start"), label(u"START")}, 1, u"LABEL re-defined: START"},
      {"disabled labels count", {disabled(u"Label", {u"a"}), label(u"A")}, 1, u"LABEL re-defined: A"},
      {"undefined target", {go_to(u"Nowhere")}, 0, u"LABEL undefined: NOWHERE"},
      {"target never defined", {label(u"A"), go_to(u"B")}, 1, u"LABEL undefined: B"},
  });
  CheckResult result = check({go_to(u"later"), if_(), label(u"LATER"), end(), disabled(u"Label", {u"OFF"}),
                              go_to(u"off"), disabled(u"GoTo Label", {u"MISSING"})});
  EXPECT_TRUE(result.ok()) << to_utf8(result.message);
}

TEST(ScriptCheck, ResultVariablesAreRequiredAndDefinedInOrder) {
  expect_failures({
      {"empty target", {set(u"")}, 0, u"Variable required"},
      {"empty target with persist flag", {set(u"$ZEKO$ZEKO$TRUE")}, 0, u"Variable required"},
      {"used before it is set", {if_(u"X"), end(), set(u"X")}, 0, u"Variable not defined: X"},
      {"persist flag FALSE is not early", {if_(u"P"), end(), set(u"P$ZEKO$ZEKO$FALSE")}, 0,
       u"Variable not defined: P"},
      {"persist flag is case-sensitive", {if_(u"P"), end(), set(u"P$ZEKO$ZEKO$true")}, 0,
       u"Variable not defined: P"},
      {"disabled Set defines nothing", {disabled(u"Set Variable", {u"X", u"1"}), if_(u"X"), end()}, 1,
       u"Variable not defined: X"},
  });
  for (auto script : std::vector<std::vector<TestCommand>>{
           {set(u"x"), if_(u"X"), end()},
           {set(u"$X$"), if_(u"$x$"), end()},
           {if_(u"P"), end(), set(u"P$ZEKO$ZEKO$TRUE")},  // persisted targets exist from the start
           {disabled(u"Set Variable", {u"", u"1"})},
       }) {
    CheckResult result = check(script);
    EXPECT_TRUE(result.ok()) << to_utf8(result.message);
  }
}

TEST(ScriptCheck, ConditionOperandsMustBeDefined) {
  expect_failures({
      {"left operand", {if_(u"FOO"), end()}, 0, u"Variable not defined: FOO"},
      {"left operand as reference", {if_(u"$FOO$"), end()}, 0, u"Variable not defined: FOO"},
      {"right operand reference", {if_(u"TITLE", u"0", u"$BAR$"), end()}, 0, u"Variable not defined: BAR"},
      {"Else If", {if_(), condition(u"Else If", u"NOPE"), end()}, 1, u"Variable not defined: NOPE"},
      {"While", {condition(u"While", u"NOPE"), wend()}, 0, u"Variable not defined: NOPE"},
      {"Until", {repeat(), condition(u"Until", u"TITLE", u"2", u"$NOPE$")}, 1, u"Variable not defined: NOPE"},
  });
  for (auto script : std::vector<std::vector<TestCommand>>{
           {if_(u"UNDEFINED", u"5"), end()},                  // the is-defined test needs no variable
           {if_(u"TITLE", u"0", u"x$UNDEFINED$"), end()},     // not a whole reference
           {if_(u"TITLE", u"0", u"UNDEFINED"), end()},        // plain text
           {if_(u"TARGETDIR", u"0", u"$SILENT$"), end()},     // predefined names
           {disabled(u"If", {u"UNDEFINED", u"0", u"x", u""}), disabled(u"End")},
       }) {
    CheckResult result = check(script);
    EXPECT_TRUE(result.ok()) << to_utf8(result.message);
  }
}

TEST(ScriptCheck, InPlaceCommandsAndExpressions) {
  const Text syntax =
      u"Syntax error in expression. Please review the help topic \"Evaluate Expression\" for the correct syntax.";
  expect_failures({
      {"Convert Case of an undefined variable", {command(u"Convert Case", {u"NOPE", u"TRUE"})}, 0,
       u"Variable not defined: NOPE"},
      {"Replace String of an undefined variable", {command(u"Replace String", {u"$NOPE$", u"a", u"b"})}, 0,
       u"Variable not defined: NOPE"},
      {"Convert Path of an undefined variable", {set(u"A"), command(u"Convert Path", {u"B"})}, 1,
       u"Variable not defined: B"},
      {"bad operator", {command(u"Evaluate Expression", {u"$TITLE$ == \"x\"", u"R"})}, 0, syntax},
      {"unquoted operand", {command(u"Evaluate Expression", {u"TITLE = \"x\"", u"R"})}, 0, syntax},
      {"expression result required", {command(u"Evaluate Expression", {u"\"a\" = \"a\"", u""})}, 0,
       u"Variable required"},
  });
  for (auto script : std::vector<std::vector<TestCommand>>{
           {set(u"P"), command(u"Convert Path", {u"P", u""})},
           {command(u"Evaluate Expression", {u"($A$ = \"1\") or $B$ <> \"2\"", u"R"}), if_(u"R"), end()},
           {command(u"Parse String", {u"a=b", u"=", u"", u"", u"0"})},  // both results optional
       }) {
    CheckResult result = check(script);
    EXPECT_TRUE(result.ok()) << to_utf8(result.message);
  }
}

TEST(ScriptCheck, WizardLoopHoldsOnlyDialogs) {
  const Text message = u"Statements other than DISPLAY DIALOG not allowed inside WIZARD LOOP";
  expect_failures({
      {"Set Variable inside", {command(u"Wizard Loop"), command(u"Display Dialog", {u"Welcome"}), set(u"X"), end()}, 2,
       message},
      {"If inside", {command(u"Wizard Loop"), if_(), end(), end()}, 1, message},
      {"disabled End does not close it", {command(u"Wizard Loop"), disabled(u"End"), set(u"X"), end()}, 2, message},
  });
  CheckResult result =
      check({command(u"Wizard Loop"), command(u"Display Dialog", {u"Welcome"}), command(u"Comment", {u"note"}),
             command(u"Ignore"), disabled(u"Set Variable", {u"X", u"1"}), command(u"Display Dialog", {u"Finish"}),
             end(), set(u"AFTER")});
  EXPECT_TRUE(result.ok()) << to_utf8(result.message);
}

TEST(ScriptCheck, WellFormedScriptPasses) {
  CheckResult result = check({
      set(u"COUNT", u"0"),
      label(u"TOP"),
      if_(u"COUNT", u"0", u"0"),
      while_(),
      set(u"COUNT", u"1"),
      command(u"Break"),
      wend(),
      condition(u"Else If", u"COUNT", u"0", u"1"),
      repeat(),
      command(u"Continue"),
      until(),
      command(u"Else"),
      for_each(u"ITEM"),
      if_(u"ITEM", u"3", u"$COUNT$"),
      end(),
      next(),
      end(),
      command(u"Wizard Loop"),
      command(u"Display Dialog", {u"Welcome"}),
      end(),
      command(u"Code Folding Region", {u"Helpers"}),
      disabled(u"Break"),
      disabled(u"End"),
      disabled(u"GoTo Label", {u"NOWHERE"}),
      go_to(u"top"),
  });
  EXPECT_EQ(result.index, -1);
  EXPECT_EQ(result.message, u"");
  EXPECT_TRUE(result.ok());
  EXPECT_TRUE(check({}).ok());
}

TEST(ScriptCheck, LeavesPredefinedAndResultNamesDefined) {
  Payload payload = make_payload({set(u"mine"), for_each(u"LOOPVAR"), next()});
  Variables variables;
  variables.define_variable(u"LEFTOVER", u"from before", u"Initialization");
  ASSERT_TRUE(check_script(payload, variables).ok());
  EXPECT_FALSE(variables.is_defined(u"LEFTOVER"));
  EXPECT_TRUE(variables.is_defined(u"TARGETDIR"));
  EXPECT_TRUE(variables.is_defined(u"MINE"));
  EXPECT_FALSE(variables.is_defined(u"LOOPVAR"));
  StringList names;
  variables.store().list_names(names);
  EXPECT_TRUE(std::find(names.begin(), names.end(), Text(u"MINE")) != names.end());
}

}  // namespace
}  // namespace kyt
