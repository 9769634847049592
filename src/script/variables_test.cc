#include "script/variables.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <thread>

#include "base/comma_text.h"

namespace kyt {
namespace {

constexpr TextView kScript = u"Set Variable Action";

class VariablesTest : public testing::Test {
 protected:
  void define(TextView name, TextView value) { variables.define_variable(name, value, kScript); }
  Text expand(TextView text) const { return variables.expand(text); }
  Variables variables;
};

TEST_F(VariablesTest, DefineGetAndIsDefined) {
  define(u"TARGETDIR", u"C:\\App");
  EXPECT_TRUE(variables.is_defined(u"TARGETDIR"));
  EXPECT_TRUE(variables.is_defined(u"targetdir"));
  EXPECT_EQ(variables.value_of(u"TargetDir"), u"C:\\App");

  // Empty and undefined read alike but are told apart.
  define(u"EMPTY", u"");
  EXPECT_TRUE(variables.is_defined(u"EMPTY"));
  EXPECT_EQ(variables.value_of(u"EMPTY"), u"");
  EXPECT_FALSE(variables.is_defined(u"MISSING"));
  EXPECT_EQ(variables.value_of(u"MISSING"), u"");
  bool found = true;
  EXPECT_EQ(variables.store().get(u"MISSING", &found), u"");
  EXPECT_FALSE(found);
  variables.store().get(u"EMPTY", &found);
  EXPECT_TRUE(found);

  define(u"TARGETDIR", u"D:\\Other");  // defining again sets
  EXPECT_EQ(variables.value_of(u"TARGETDIR"), u"D:\\Other");
  EXPECT_EQ(variables.store().count(), 2);

  variables.remove_when_defined(u"targetdir");
  EXPECT_FALSE(variables.is_defined(u"TARGETDIR"));
  variables.remove_when_defined(u"targetdir");  // harmless when gone
  variables.remove_all();
  EXPECT_EQ(variables.store().count(), 0);
}

TEST_F(VariablesTest, EmptyNameIsNeverStored) {
  define(u"", u"x");
  variables.set_variable(u"", u"x", kScript);
  variables.store_result(u"", u"x", kScript);
  variables.store().define(u"", u"x");
  EXPECT_EQ(variables.store().count(), 0);
  EXPECT_FALSE(variables.is_defined(u""));
}

TEST_F(VariablesTest, OwnReferenceIsStoredEmpty) {
  define(u"X", u"$X$");
  EXPECT_TRUE(variables.is_defined(u"X"));
  EXPECT_EQ(variables.value_of(u"X"), u"");

  define(u"Y", u"value");
  variables.set_variable(u"Y", u"$y$", kScript);  // any case
  EXPECT_EQ(variables.value_of(u"Y"), u"");

  variables.set_variable(u"NEW", u"$NEW$", kScript);  // set of an undefined variable defines it
  EXPECT_TRUE(variables.is_defined(u"NEW"));
  EXPECT_EQ(variables.value_of(u"NEW"), u"");

  // Only the whole own reference counts.
  for (TextView value : {u"$X$ ", u"x$X$", u"$X", u"$OTHER$", u"$X$X$"}) {
    define(u"X", value);
    EXPECT_EQ(variables.value_of(u"X"), value) << to_utf8(value);
  }
  // The store itself keeps what it is given.
  variables.store().define(u"RAW", u"$RAW$");
  EXPECT_EQ(variables.value_of(u"RAW"), u"$RAW$");
}

TEST_F(VariablesTest, ResultsAreStoredUnderUpperCaseNames) {
  variables.store_result(u"result", u"ok", u"Get System Settings Action");
  StringList names;
  ASSERT_EQ(variables.store().list_names(names), 1u);
  EXPECT_EQ(names[0], u"RESULT");
  EXPECT_EQ(variables.value_of(u"RESULT"), u"ok");
  variables.store_result(u"Result", u"again", u"Get System Settings Action");
  EXPECT_EQ(variables.store().list_names(names), 1u);
  EXPECT_EQ(variables.value_of(u"RESULT"), u"again");
}

TEST_F(VariablesTest, SilentRunKeepsCommandLineValues) {
  variables.set_silent(true);
  variables.set_command_line_names({u"TARGETDIR"});
  variables.define_variable(u"TARGETDIR", u"C:\\X", kSourceCommandLine);
  define(u"OTHER", u"1");

  variables.set_variable(u"TARGETDIR", u"D:\\Y", kScript);
  define(u"TARGETDIR", u"D:\\Y");
  variables.set_variable(u"targetdir", u"D:\\Y", kScript);
  variables.store_result(u"targetdir", u"D:\\Y", u"Browse Action");
  EXPECT_EQ(variables.value_of(u"TARGETDIR"), u"C:\\X");

  variables.set_variable(u"OTHER", u"2", kScript);  // names not on the command line change
  EXPECT_EQ(variables.value_of(u"OTHER"), u"2");

  // The command line itself may still set it.
  variables.set_variable(u"TARGETDIR", u"E:\\Z", kSourceCommandLine);
  EXPECT_EQ(variables.value_of(u"TARGETDIR"), u"E:\\Z");
}

TEST_F(VariablesTest, CommandLineNamesAreOnlyProtectedWhenSilent) {
  variables.set_silent(false);
  variables.set_command_line_names({u"TARGETDIR"});
  variables.define_variable(u"TARGETDIR", u"C:\\X", kSourceCommandLine);
  variables.set_variable(u"TARGETDIR", u"D:\\Y", kScript);
  EXPECT_EQ(variables.value_of(u"TARGETDIR"), u"D:\\Y");

  // A value is not a name: "X=TARGETDIR" protects X only.
  variables.set_silent(true);
  variables.set_command_line_names({u"X"});
  variables.set_variable(u"TARGETDIR", u"E:\\", kScript);
  EXPECT_EQ(variables.value_of(u"TARGETDIR"), u"E:\\");
}

TEST_F(VariablesTest, ExpansionExamples) {
  struct Case {
    Text text;
    Text expected;
  };
  define(u"A", u"1");
  define(u"B", u"2");
  define(u"NAME", u"v");
  define(u"EMPTY", u"");
  const std::vector<Case> cases = {
      {u"$A$$B$", u"12"},
      {u"$a$-$b$", u"1-2"},
      {u"$UNDEFINED$$B$", u"$UNDEFINED$2"},
      {u"100$", u"100$"},
      {u"$", u"$"},
      {u"$$", u"$$"},
      {u"$$NAME$", u"$v"},
      {u"$NAME$$", u"v$"},
      {u"$100 and $NAME$", u"$100 and v"},  // "$100 and $" names nothing
      {u"[$EMPTY$]", u"[]"},
      {u"no references", u"no references"},
      {u"$A$$UNDEFINED$$B$", u"1$UNDEFINED$2"},
      {u"", u""},
  };
  for (const auto& c : cases) EXPECT_EQ(expand(c.text), c.expected) << to_utf8(c.text);
}

TEST_F(VariablesTest, ReferencesInsideValuesExpandInTurn) {
  define(u"A", u"$B$");
  define(u"B", u"x");
  EXPECT_EQ(expand(u"$A$"), u"x");
  define(u"PATH", u"$ROOT$\\$SUB$");
  define(u"ROOT", u"C:");
  define(u"SUB", u"$A$y");
  EXPECT_EQ(expand(u"<$PATH$>"), u"<C:\\xy>");
  // A value may complete a reference with the text that follows it.
  define(u"OPEN", u"$B");
  EXPECT_EQ(expand(u"$OPEN$$"), u"x");
}

TEST_F(VariablesTest, NewlinePlaceholderExpandsThroughTheVariable) {
  define(u"NEWLINE", u"\r\n");
  EXPECT_EQ(expand(u"one$NEWLINE$two"), u"one\r\ntwo");
  EXPECT_EQ(expand(escape_line_breaks(u"a\r\nb")), u"a\r\nb");
}

TEST_F(VariablesTest, SelfReferenceTerminatesAndLeavesTheReference) {
  define(u"A", u"x$A$");
  EXPECT_EQ(expand(u"$A$"), u"x$A$");
  EXPECT_EQ(expand(u"[$A$]"), u"[x$A$]");
  // Each outer occurrence still expands once.
  EXPECT_EQ(expand(u"$A$,$A$"), u"x$A$,x$A$");
}

TEST_F(VariablesTest, MutualReferenceTerminates) {
  define(u"A", u"$B$");
  define(u"B", u"a$A$");
  EXPECT_EQ(expand(u"$A$"), u"a$A$");
  EXPECT_EQ(expand(u"$B$"), u"a$B$");
}

TEST_F(VariablesTest, ExponentialValuesStayBounded) {
  // Each level doubles the text without repeating a name on the way down.
  define(u"L0", u"x");
  for (int level = 1; level <= 40; ++level)
    define(u"L" + decimal(level), u"$L" + decimal(level - 1) + u"$$L" + decimal(level - 1) + u"$");
  Text result = expand(u"$L40$");
  EXPECT_LE(result.size(), size_t(1) << 24);
  EXPECT_NE(result.find(u"$L"), Text::npos);  // what the bound cut off stays a reference
  EXPECT_EQ(result.front(), u'x');
}

TEST_F(VariablesTest, QuotedExpansion) {
  define(u"A", u"5");
  define(u"QUOTE", u"a\"b");
  define(u"EMPTY", u"");
  EXPECT_EQ(variables.expand_quoted(u"$A$ = \"5\""), u"\"5\" = \"5\"");
  EXPECT_EQ(variables.expand_quoted(u"$EMPTY$"), u"\"\"");
  EXPECT_EQ(variables.expand_quoted(u"$UNDEFINED$"), u"$UNDEFINED$");
  EXPECT_EQ(variables.expand_quoted(u"$QUOTE$"), u"\"a\"b\"");  // inserted unchanged
  define(u"INDIRECT", u"$A$");
  EXPECT_EQ(variables.expand_quoted(u"$INDIRECT$"), u"\"\"5\"\"");
}

TEST_F(VariablesTest, ReferenceNameAndVariableName) {
  struct Case {
    Text text;
    Text reference;
    Text variable;
  };
  const std::vector<Case> cases = {
      {u"$NAME$", u"NAME", u"NAME"},
      {u"NAME", u"", u"NAME"},
      {u"$a b$", u"a b", u"a b"},
      {u"$NAME", u"", u"$NAME"},
      {u"NAME$", u"", u"NAME$"},
      {u"$A$B$", u"", u"$A$B$"},
      {u"x$A$", u"", u"x$A$"},
      {u"$$", u"", u"$$"},
      {u"$", u"", u"$"},
      {u"", u"", u""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(reference_name(c.text), c.reference) << to_utf8(c.text);
    EXPECT_EQ(variable_name(c.text), c.variable) << to_utf8(c.text);
  }
}

TEST_F(VariablesTest, ReferencedValue) {
  define(u"A", u"$B$");
  define(u"B", u"x");
  EXPECT_EQ(variables.referenced_value(u"$A$"), u"x");
  EXPECT_EQ(variables.referenced_value(u"a"), u"x");
  EXPECT_EQ(variables.referenced_value(u"$MISSING$"), u"");
}

TEST_F(VariablesTest, SnapshotIsCommaTextOfAlternatingNamesAndValues) {
  define(u"A", u"1");
  define(u"PATH", u"C:\\Program Files\\App");
  define(u"EMPTY", u"");
  define(u"QUOTED", u"say \"hi\", then go");
  Text snapshot = variables.snapshot();
  EXPECT_NE(snapshot.find(u"\"C:\\Program Files\\App\""), Text::npos);
  EXPECT_NE(snapshot.find(u"\"say \"\"hi\"\", then go\""), Text::npos);

  std::vector<Text> items = from_comma_text(snapshot);
  ASSERT_EQ(items.size(), 8u);
  std::map<Text, Text> pairs;
  for (size_t i = 0; i < items.size(); i += 2) pairs[items[i]] = items[i + 1];
  EXPECT_EQ(pairs, (std::map<Text, Text>{
                       {u"A", u"1"}, {u"PATH", u"C:\\Program Files\\App"}, {u"EMPTY", u""},
                       {u"QUOTED", u"say \"hi\", then go"}}));

  // The order is the store's enumeration order.
  StringList listed;
  ASSERT_EQ(variables.store().list_pairs(listed), 4u);
  EXPECT_EQ(items, listed.items());
}

TEST_F(VariablesTest, ListingClearsTheTargetFirst) {
  define(u"A", u"1");
  StringList list{u"stale", u"entries", u"here"};
  EXPECT_EQ(variables.store().list_names(list), 1u);
  EXPECT_EQ(list, (StringList{u"A"}));
  list.add(u"stale");
  EXPECT_EQ(variables.store().list_pairs(list), 1u);
  EXPECT_EQ(list, (StringList{u"A", u"1"}));
}

TEST_F(VariablesTest, StoreGrowsLikeItsTable) {
  auto& store = variables.store();
  EXPECT_EQ(store.bucket_count(), 0);
  for (int i = 0; i < 64; ++i) define(u"V" + decimal(i), u"");
  EXPECT_EQ(store.bucket_count(), 32);
  define(u"V64", u"");
  EXPECT_EQ(store.bucket_count(), 64);
  StringList names;
  EXPECT_EQ(store.list_names(names), 65u);
}

TEST_F(VariablesTest, ReadersSeeWholeValuesWhileAWorkerWrites) {
  // The worker adds enough names to make the table grow several times while
  // the main thread keeps reading one variable and expanding a reference.
  define(u"PROGRESS", u"0");
  std::atomic<bool> done{false};
  std::thread worker([&] {
    for (int i = 0; i < 3000; ++i) {
      variables.set_variable(u"W" + decimal(i), decimal(i), u"Report");
      variables.set_variable(u"PROGRESS", decimal(i % 100), u"Report");
    }
    done = true;
  });
  int reads = 0;
  bool whole = true;
  Text torn;
  while (!done || reads < 100) {
    Text value = expand(u"$PROGRESS$");
    auto number = parse_int32(value);
    if (!number || *number < 0 || *number >= 100) {
      whole = false;
      torn = value;
      break;
    }
    ++reads;
  }
  worker.join();
  EXPECT_TRUE(whole) << "read \"" << to_utf8(torn) << "\"";
  EXPECT_EQ(variables.store().count(), 3001);
}

}  // namespace
}  // namespace kyt
