#include "script/catalog.h"

#include <gtest/gtest.h>

#include <set>

namespace kyt {
namespace {

TEST(Catalog, EveryNameHasExactlyOneRow) {
  const Catalog& catalog = Catalog::instance();
  ASSERT_FALSE(catalog.rows().empty());
  std::set<Text> names;
  for (const auto& row : catalog.rows()) {
    EXPECT_FALSE(row.name.empty());
    EXPECT_TRUE(names.insert(Text(row.name)).second) << "two rows for " << to_utf8(row.name);
    EXPECT_EQ(catalog.find(row.name), &row) << to_utf8(row.name);
  }
}

TEST(Catalog, EveryRowRunsSomething) {
  // A command that is not built has no row; a row is never a silent stub.
  for (const auto& row : Catalog::instance().rows()) {
    bool builtin = row.builtin != Builtin::none;
    EXPECT_NE(builtin, row.handler != nullptr) << to_utf8(row.name);
  }
}

TEST(Catalog, NamesMatchExactly) {
  const Catalog& catalog = Catalog::instance();
  ASSERT_NE(catalog.find(u"Set Variable"), nullptr);
  EXPECT_EQ(catalog.find(u"set variable"), nullptr);
  EXPECT_EQ(catalog.find(u"Set Variable "), nullptr);
  EXPECT_EQ(catalog.find(u"ELSE"), nullptr);
  EXPECT_EQ(catalog.find(u""), nullptr);
}

TEST(Catalog, ParameterRolesAreFoundByParameterWith) {
  const Catalog& catalog = Catalog::instance();
  // Every row that names a result variable is found, and the index points at
  // a result parameter.
  for (const auto& row : catalog.rows()) {
    bool names_result = false;
    for (const auto& parameter : row.parameters) names_result |= (parameter.roles & kResult) != 0;
    size_t index = row.parameter_with(kResult);
    EXPECT_EQ(index != 0, names_result) << to_utf8(row.name);
    if (index != 0) {
      ASSERT_LE(index, row.parameters.size()) << to_utf8(row.name);
      EXPECT_TRUE(row.parameters[index - 1].roles & kResult) << to_utf8(row.name);
    }
  }

  const CommandSpec* set = catalog.find(u"Set Variable");
  ASSERT_NE(set, nullptr);
  EXPECT_EQ(set->parameter_with(kResult), 1u);
  EXPECT_EQ(set->parameter_with(kPersistFlag), 1u);
  EXPECT_EQ(set->parameter_with(kTranslatable), 2u);
  EXPECT_EQ(set->parameter_with(kInPlace), 0u);

  const CommandSpec* write = catalog.find(u"Write to Text File");
  ASSERT_NE(write, nullptr);
  EXPECT_EQ(write->parameter_with(kResult), 0u);

  for (TextView name : {u"If", u"Else If"}) {
    const CommandSpec* row = catalog.find(name);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->parameter_with(kConditionVariable), 1u);
    EXPECT_EQ(row->parameter_with(kConditionOperator), 2u);
    EXPECT_EQ(row->parameter_with(kConditionValue), 3u);
    EXPECT_EQ(row->parameter_with(kResult), 0u);
  }
}

TEST(Catalog, InterpreterCommandsAreBuiltins) {
  const Catalog& catalog = Catalog::instance();
  const std::pair<TextView, Builtin> builtins[] = {
      {u"If", Builtin::if_},   {u"Else If", Builtin::else_if}, {u"Else", Builtin::else_},
      {u"End", Builtin::end},  {u"Comment", Builtin::comment}, {u"Ignore", Builtin::ignore},
  };
  for (const auto& [name, builtin] : builtins) {
    const CommandSpec* row = catalog.find(name);
    ASSERT_NE(row, nullptr) << to_utf8(name);
    EXPECT_EQ(row->builtin, builtin) << to_utf8(name);
  }
}

}  // namespace
}  // namespace kyt
