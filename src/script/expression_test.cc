#include "script/expression.h"

#include <gtest/gtest.h>

#include "script/interpreter.h"

namespace kyt {
namespace {

TEST(Expression, EvaluatesComparisonsAndJoins) {
  struct Case {
    TextView expression;
    TextView result;
  } cases[] = {
      {u"\"a\" = \"a\" and \"1\" < \"2\"", u"TRUE"},
      {u"(\"a\" = \"b\") or \"x\" <> \"y\"", u"TRUE"},
      {u"\"5\" < \"10\"", u"TRUE"},            // numbers
      {u"\"5a\" < \"10\"", u"FALSE"},          // texts: "5" > "1"
      {u"\"-5\" < \"+3\"", u"TRUE"},
      {u"\"a\"\"b\" = \"a\"\"b\"", u"TRUE"},   // embedded doubled quote
      {u"\"b\" > \"abc\"", u"TRUE"},
      {u"\"abc\" >= \"abc\"", u"TRUE"},
      {u"\"abc\" <= \"ab\"", u"FALSE"},
      {u"\"A\" = \"a\"", u"FALSE"},            // exact
      {u"\"1\" = \"1\" or \"1\" = \"2\" and \"1\" = \"3\"", u"FALSE"},  // strictly left to right
      {u"\"1\" = \"1\" or (\"1\" = \"2\" and \"1\" = \"3\")", u"TRUE"},
      {u"  ( ( \"x\"=\"x\" ) )  ", u"TRUE"},
      {u"\"a\" = \"a\" and\"b\" = \"b\"", u"TRUE"},  // a word may touch the next quote
      // Errors.
      {u"\"a\" == \"a\"", u"ERROR"},
      {u"\"a\" = \"a\" AND \"b\" = \"b\"", u"ERROR"},
      {u"", u"ERROR"},
      {u"\"a\" = b", u"ERROR"},
      {u"\"a\" = \"a", u"ERROR"},
      {u"(\"a\" = \"a\"", u"ERROR"},
      {u"\"a\" = \"a\")", u"ERROR"},
      {u"\"a\" = \"a\" xor \"b\" = \"b\"", u"ERROR"},
      {u"\"a\" = \"a\" and", u"ERROR"},
      {u"\"a\"\t= \"a\"", u"ERROR"},          // only the space separates
      {u"\"a\"", u"ERROR"},
  };
  for (const auto& c : cases) EXPECT_EQ(evaluate_expression(c.expression), c.result) << to_utf8(c.expression);
}

TEST(Expression, NumberTooLargeEndsTheScriptButIsValidSyntax) {
  EXPECT_THROW(evaluate_expression(u"\"99999999999\" > \"1\""), ScriptError);
  EXPECT_TRUE(expression_syntax_valid(u"\"99999999999\" > \"1\""));
  // A text that only looks numeric on one side compares as text.
  EXPECT_EQ(evaluate_expression(u"\"99999999999\" > \"a\""), u"FALSE");
}

TEST(Expression, SyntaxCheckTreatsReferencesAsStrings) {
  EXPECT_TRUE(expression_syntax_valid(u"$A$ = \"5\" and ($B$ <> $C$)"));
  EXPECT_FALSE(expression_syntax_valid(u"$A$ == \"5\""));
  EXPECT_FALSE(expression_syntax_valid(u"A = 5"));
}

}  // namespace
}  // namespace kyt
