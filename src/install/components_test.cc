#include "install/components.h"

#include <gtest/gtest.h>

#include "install/component_file.h"

namespace kyt {
namespace {

TEST(Components, DefineTwiceKeepsStateTakesDescription) {
  ComponentModel model;
  model.define(u"App", true, u"first");
  model.define(u"app", false, u"second");
  EXPECT_EQ(model.components().size(), 1u);
  EXPECT_TRUE(model.selected(u"APP"));
  EXPECT_EQ(model.description(u"App"), u"second");
  EXPECT_EQ(model.size_table(), (StringList{u"App", u"0"}));
}

TEST(Components, DeletedComponentsAreNotSelectedAndComeBackWhenDefined) {
  ComponentModel model;
  model.define(u"Docs", true, u"");
  model.set_size(u"Docs", 500);
  model.define(u"Core", true, u"");
  model.set_size(u"Core", 1000);
  EXPECT_EQ(model.additional_space(), 1500);
  model.delete_component(u"Docs");
  model.delete_component(u"Docs");
  EXPECT_EQ(model.deleted().size(), 1u);
  EXPECT_FALSE(model.selected(u"Docs"));
  EXPECT_EQ(model.additional_space(), 1000);
  model.define(u"Docs", false, u"");
  EXPECT_TRUE(model.selected(u"Docs"));  // the earlier state stays
  EXPECT_EQ(model.additional_space(), 1500);
}

TEST(Components, AdditionalSpaceGoesNegativeBelowTheBaseline) {
  ComponentModel model;
  model.define(u"A", true, u"");
  model.set_size(u"A", 300);
  model.define(u"B", true, u"");
  model.set_size(u"B", 200);
  model.installed_baseline = 500;
  model.set_state(static_cast<size_t>(model.index_of(u"B")), false);
  EXPECT_EQ(model.additional_space(), -200);
}

TEST(Components, StatesFollowBooleanText) {
  ComponentModel model;
  model.replace_lists({u"A", u"B", u"C"}, {u"-1", u"true", u"1"}, {}, {}, {}, std::nullopt);
  EXPECT_TRUE(model.selected(u"A"));
  EXPECT_TRUE(model.selected(u"B"));
  EXPECT_FALSE(model.selected(u"C"));
}

TEST(Components, SizeKeysAreNeverSizeValues) {
  ComponentModel model;
  model.define(u"A", true, u"");
  model.define(u"0", true, u"");  // a component whose name looks like a size
  model.set_size(u"0", 42);
  EXPECT_EQ(model.size_of(u"A"), 0);
  EXPECT_EQ(model.size_of(u"0"), 42);
}

TEST(Components, TranslatedNameKeepsTheUntranslatedSize) {
  ComponentModel model;
  model.set_size_table({u"Program", u"1234"});
  model.define(u"Programm", true, u"", u"Program");
  EXPECT_EQ(model.size_of(u"Programm"), 1234);
}

TEST(Components, HiddenAndLockedWalkUpTheTree) {
  ComponentModel model;
  for (TextView path : {u"App", u"App\\Plugins", u"App\\Plugins\\Extra", u"Tools"}) model.define(path, true, u"");
  model.set_visible(u"App\\Plugins", false);
  model.set_choice(u"Tools", false);
  model.set_visible(u"Unknown", false);  // unknown components are ignored
  EXPECT_TRUE(model.hidden_in_tree(u"App\\Plugins\\Extra"));
  EXPECT_FALSE(model.hidden_in_tree(u"App"));
  EXPECT_EQ(model.hidden().size(), 1u);
  EXPECT_TRUE(model.locked_in_tree(u"Tools"));
  model.set_choice(u"tools", true);
  EXPECT_FALSE(model.is_locked(u"Tools"));

  auto tree = model.tree();
  ASSERT_EQ(tree.size(), 2u);
  EXPECT_EQ(tree[0].text, u"App");
  EXPECT_TRUE(tree[0].children.empty());  // the hidden parent hides its children too
  // The check list tests only the top-level line itself.
  auto lines = model.check_list();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].text, u"App");
}

TEST(Components, TreeBuildsSegmentNodesAndMenuActions) {
  ComponentModel model;
  model.define(kPredefinedComponent, true, u"");
  model.define(u"Suite\\Writer", false, u"");
  model.define(u"Suite\\Writer\\Spelling", false, u"");
  model.define(u"Suite\\Calc", false, u"");
  model.set_choice(u"Suite\\Calc", false);
  auto tree = model.tree();
  ASSERT_EQ(tree.size(), 1u);  // the predefined component is never shown
  const auto& suite = tree[0];
  EXPECT_EQ(suite.component, 0u);  // a segment node, not a component
  ASSERT_EQ(suite.children.size(), 2u);
  EXPECT_EQ(suite.children[0].component, 2u);
  EXPECT_FALSE(model.node_menu_allowed(suite));
  EXPECT_FALSE(model.node_menu_allowed(suite.children[1]));  // locked

  model.select_node(tree, {0}, ComponentModel::NodeAction::install_with_children);
  EXPECT_TRUE(model.selected(u"Suite\\Writer"));
  EXPECT_TRUE(model.selected(u"Suite\\Writer\\Spelling"));
  EXPECT_FALSE(model.selected(u"Suite\\Calc"));  // locked: skipped
  EXPECT_EQ(tree[0].children[0].children[0].image, 1);

  model.select_node(tree, {0, 0}, ComponentModel::NodeAction::remove_only);
  EXPECT_FALSE(model.selected(u"Suite\\Writer"));
  EXPECT_TRUE(model.selected(u"Suite\\Writer\\Spelling"));
  model.select_node(tree, {0, 0, 0}, ComponentModel::NodeAction::install_only);
  EXPECT_TRUE(model.selected(u"Suite\\Writer"));  // ancestors follow
}

TEST(Components, CheckListClickMatchesPrefixesAndRespectsLocks) {
  ComponentModel model;
  model.define(u"App", false, u"");
  model.define(u"Application", false, u"");
  model.define(u"Locked", false, u"");
  model.set_choice(u"Locked", false);
  auto lines = model.check_list();
  ASSERT_EQ(lines.size(), 3u);
  for (auto& line : lines) line.checked = true;
  model.check_list_click(lines);
  EXPECT_TRUE(model.selected(u"App"));
  EXPECT_TRUE(model.selected(u"Application"));  // "App" is a prefix of it
  EXPECT_FALSE(model.selected(u"Locked"));
  EXPECT_FALSE(lines[2].checked);  // snaps back
}

TEST(ComponentFile, RoundTripAndMergeLoad) {
  Session saved;
  Variables variables;
  saved.components.define(u"A", true, u"");
  saved.components.define(u"B", false, u"");
  saved.components.set_size(u"A", 10);
  saved.components.delete_component(u"B");
  saved.persisted_variables.add(u"NOTE");
  saved.mode64 = u"x64";
  variables.define_variable(u"NOTE", u"line one\r\nline two", u"Test");
  variables.define_variable(u"TARGETDIR", u"C:\\App\\", u"Test");
  variables.define_variable(u"NATIVE_ENGINE", u"TRUE", u"Test");
  std::string file = write_component_file(saved, variables, u"D:\\Sources\\");
  EXPECT_NE(file.find("NOTE\r\nline one$NEWLINE$line two\r\n"), std::string::npos);

  // Without merge: everything replaced, the sources folder handed back.
  Session loaded;
  Variables loaded_variables;
  Text sources;
  loaded_variables.define_variable(u"NEWLINE", u"\r\n", u"Test");  // predefined in a run
  read_component_file(file, loaded, loaded_variables, {}, &sources);
  EXPECT_EQ(loaded.components.components(), saved.components.components());
  EXPECT_EQ(loaded.components.size_table(), saved.components.size_table());
  EXPECT_EQ(sources, u"D:\\Sources\\");
  EXPECT_EQ(loaded.mode64, u"x64");
  EXPECT_EQ(loaded_variables.value_of(u"TARGETDIR"), u"C:\\App\\");
  EXPECT_EQ(loaded_variables.expand(loaded_variables.value_of(u"NOTE")), u"line one\r\nline two");
  EXPECT_EQ(loaded_variables.value_of(u"NATIVE_ENGINE"), u"TRUE");
  EXPECT_EQ(loaded.persisted_variables, StringList({u"NOTE"}));  // the fixed pairs are not persisted names

  // With merge: only states of existing components and the side lists.
  Session merged;
  Variables merged_variables;
  merged.components.define(u"a", false, u"");
  merged.components.define(u"C", true, u"");
  read_component_file(file, merged, merged_variables, {.merge = true, .ignore_sizes = true});
  EXPECT_EQ(merged.components.components(), StringList({u"a", u"C"}));
  EXPECT_TRUE(merged.components.state(u"A"));
  EXPECT_TRUE(merged.components.state(u"C"));
  EXPECT_EQ(merged.components.deleted(), StringList({u"B"}));
  EXPECT_EQ(merged.components.size_of(u"A"), 0);
}

TEST(ComponentFile, UpdateKeepsTheListsByteForByte) {
  // Lists written by another tool: LF endings inside, odd spacing kept.
  std::string old_file =
      "\xEF\xBB\xBF" "A \r\nB\n$\r\nTRUE\r\nFALSE\r\n$\r\n$\r\n$\r\n$\r\nA \r\n7\r\n$\r\nC:\\T\r\nTRUE\r\nM\r\nS\r\n"
      "OLD\r\nvalue\r\nZEKO64WOW\r\nWin32\r\n";
  Session session;
  Variables variables;
  session.persisted_variables.add(u"NEW");
  variables.define_variable(u"NEW", u"fresh", u"Test");
  std::string updated = update_component_file(old_file, session, variables);
  std::string kept = old_file.substr(0, old_file.find("OLD"));
  ASSERT_EQ(updated.substr(0, kept.size()), kept);
  EXPECT_EQ(updated.substr(kept.size()),
            "NEW\r\nfresh\r\nZEKO64WOW\r\nWin32\r\nOVERRIDECACHE\r\n\r\nNATIVE_ENGINE\r\n\r\n");
}

TEST(ComponentFile, TruncatedFileLeavesTheRestUnset) {
  Session session;
  Variables variables;
  read_component_file("A\r\n$\r\nTRUE\r\n", session, variables, {});
  EXPECT_EQ(session.components.components(), StringList({u"A"}));
  EXPECT_TRUE(session.components.state(u"A"));
  EXPECT_FALSE(variables.is_defined(u"TARGETDIR"));
}

}  // namespace
}  // namespace kyt

namespace kyt {
namespace {

TEST(ComponentFile, LoadFindsTheEngineCacheFileAndUpdatesInPlace) {
  MemoryFileSystem files;
  Session saved;
  Variables variables;
  saved.components.define(u"Core", true, u"");
  std::string bytes = write_component_file(saved, variables, u"");
  files.files[u"c:\\cache\\kyt.lib"] = "";
  files.files[u"c:\\cache\\other.dat"] = "not ours";  // no other.exe beside it
  files.files[u"c:\\cache\\setup.dat"] = bytes;
  for (const char* ext : {".exe", ".res", ".par"}) files.files[u"c:\\cache\\setup" + ascii(ext)] = "";

  Session loaded;
  Variables loaded_variables;
  EXPECT_TRUE(load_component_file(files, u"C:\\cache\\missing.dat", loaded, loaded_variables, {}));
  EXPECT_EQ(loaded.components.components(), StringList({u"Core"}));
  // With merge a missing file reads nothing.
  EXPECT_FALSE(load_component_file(files, u"C:\\cache\\missing.dat", loaded, loaded_variables, {.merge = true}));
  // Without kyt.lib the folder is no engine cache.
  files.files.erase(u"c:\\cache\\kyt.lib");
  EXPECT_FALSE(load_component_file(files, u"C:\\cache\\missing.dat", loaded, loaded_variables, {}));

  saved.persisted_variables.add(u"X");
  variables.define_variable(u"X", u"1", u"Test");
  ASSERT_TRUE(update_component_file_at(files, u"C:\\cache\\setup.dat", saved, variables));
  EXPECT_NE(files.files[u"c:\\cache\\setup.dat"].find("X\r\n1\r\nZEKO64WOW"), std::string::npos);
  EXPECT_FALSE(files.files.contains(u"c:\\cache\\setup.dat.dat"));
}

}  // namespace
}  // namespace kyt
