#include "ui/localization.h"

#include <gtest/gtest.h>

#include "base/text_file.h"
#include "script/interpreter.h"
#include "script/test_host.h"
#include "script/test_script.h"

namespace kyt {
namespace {

using testing_support::make_payload;
using testing_support::RecordingHost;
using testing_support::test_identifier;
using testing_support::TestCommand;

constexpr TextView kSupport = u"C:\\Temp\\kyt1\\";
constexpr TextView kCache = u"C:\\Users\\me\\AppData\\Local\\{CACHE}\\";

// A setup whose support folder holds translation columns for German and
// French: command 0 sets GREETING (parameter 2 translatable), command 1 is
// a Localization Variable for FAREWELL.
class LocalizationTest : public testing::Test {
 protected:
  void SetUp() override { write_columns({0}); }

  // The greeting's two lines for each of the given commands, then the
  // variable key and a dialog label.
  void write_columns(const std::vector<size_t>& greeting_commands) {
    std::vector<Text> keys, sources, originals, german, french;
    for (size_t index : greeting_commands) {
      keys.insert(keys.end(), {test_identifier(index), test_identifier(index) + u":2"});
      sources.insert(sources.end(), {u"Main.kys", u"Main.kys"});
      originals.insert(originals.end(), {u"GREETING", u"Hello"});
      german.insert(german.end(), {u"GREETING", u"Hallo"});
      french.insert(french.end(), {u"GREETING", u"Bonjour"});
    }
    keys.insert(keys.end(), {u"TELLURAX$FAREWELL$TELLURAX", u"Label1"});
    sources.insert(sources.end(), {u"Main.kys", u"welcome.dfm"});
    originals.insert(originals.end(), {u"Goodbye", u"Welcome"});
    german.insert(german.end(), {u"Auf Wiedersehen", u"Willkommen"});
    french.insert(french.end(), {u"Au revoir", u"Bienvenue"});
    write(u"Demo.mtx", keys);
    write(u"translations.Map", sources);
    write(u"translations.Original", originals);
    write(u"translations.German", german);
    write(u"translations.French", french);
  }

  void write(TextView name, const std::vector<Text>& lines) {
    host.file_system.write_file(Text(kSupport) + Text(name), write_utf8_lines(lines, true));
  }
  void write_shared(TextView language, const std::vector<std::pair<Text, std::vector<Text>>>& blocks) {
    std::vector<Text> lines;
    for (const auto& [name, overrides] : blocks) {
      if (!name.empty()) lines.push_back(name);
      std::vector<Text> block(kMessageBlockLines);
      for (size_t i = 0; i < kMessageBlockLines; ++i) block[i] = Text(MessageTable::english()[i]);
      for (size_t i = 0; i < overrides.size(); ++i) block[i] = overrides[i];
      lines.insert(lines.end(), block.begin(), block.end());
    }
    write(u"shared.translations." + Text(language), lines);
  }

  Interpreter::Outcome run(std::vector<TestCommand> commands, bool silent = true) {
    payload = make_payload(commands);
    payload.cache_folder_guid = u"{CACHE}";
    payload.language_dialog = dialog_flag;
    payload.default_language = default_language;
    if (!mode.empty()) {
      payload.build_settings.add(u"LOCMODE");
      payload.build_settings.add(mode == u"(empty)" ? u"" : mode);
    }
    RunOptions options;
    options.silent = silent;
    options.command_line_pairs = pairs;
    options.environment.engine_path = u"D:\\Media\\setup.exe";
    options.environment.support_folder = Text(kSupport);
    options.environment.package_path = Text(kSupport) + u"setup.msi";
    options.environment.local_app_data = u"C:\\Users\\me\\AppData\\Local\\";
    Interpreter interpreter(payload, variables, host, session, std::move(options));
    return interpreter.run();
  }
  static TestCommand set(TextView name, TextView value) { return {u"Set Variable", {Text(name), Text(value)}}; }
  Text value(TextView name) const { return variables.value_of(name); }

  RecordingHost host;
  Variables variables;
  Session session;
  Payload payload;
  bool dialog_flag = false;
  Text default_language, mode;
  std::vector<std::pair<Text, Text>> pairs;
};

TEST_F(LocalizationTest, ModesDecideWhatIsTranslated) {
  // The author changed the second greeting after the translation was made.
  std::vector<TestCommand> script = {set(u"GREETING", u"Hello"),
                                     {u"Localization Variable", {u"$FAREWELL$", u"Goodbye"}}};
  struct Case {
    Text mode;  // "" = setting absent
    Text greeting, farewell;
  } cases[] = {
      {u"", u"Hallo", u"Auf Wiedersehen"},
      {u"VARSONLY", u"Hello", u"Auf Wiedersehen"},
      {u"(empty)", u"Hallo", u"Auf Wiedersehen"},
  };
  for (const auto& c : cases) {
    mode = c.mode;
    pairs = {{u"LANGUAGE", u"German"}};
    ASSERT_EQ(run(script), Interpreter::Outcome::finished);
    EXPECT_EQ(value(u"GREETING"), c.greeting) << to_utf8(c.mode);
    EXPECT_EQ(value(u"FAREWELL"), c.farewell) << to_utf8(c.mode);
  }

  // A changed text: NEWONLY keeps the new one, "always" translates anyway.
  std::vector<TestCommand> changed = {set(u"GREETING", u"Hello there")};
  mode = u"";
  ASSERT_EQ(run(changed), Interpreter::Outcome::finished);
  EXPECT_EQ(value(u"GREETING"), u"Hello there");
  mode = u"ALWAYS";
  ASSERT_EQ(run(changed), Interpreter::Outcome::finished);
  EXPECT_EQ(value(u"GREETING"), u"Hallo");
}

TEST_F(LocalizationTest, LanguageCanChangeMidScriptAndMessagesFollowOnlySharedTables) {
  write_shared(u"German", {{u"", {u"", u"", u"", u"", u"", u"", u"", u"", u"", u"", u"", u"", u"", u"", u"", u"", u"",
                                  u"", u"", u"Laufzeitfehler im Skript:"}}});
  write_columns({1, 4, 7});
  ASSERT_EQ(run({set(u"LANGUAGE", u"German"), set(u"GREETING", u"Hello"), set(u"G1", u"$GREETING$"),
                 set(u"LANGUAGE", u"French"), set(u"GREETING", u"Hello"), set(u"G2", u"$GREETING$"),
                 set(u"LANGUAGE", u""), set(u"GREETING", u"Hello"), set(u"G3", u"$GREETING$")}),
            Interpreter::Outcome::finished);
  EXPECT_EQ(value(u"G1"), u"Hallo");
  EXPECT_EQ(value(u"G2"), u"Bonjour");
  EXPECT_EQ(value(u"G3"), u"Hello");  // an empty LANGUAGE switches translation off
  // French has no shared table: the engine's messages stay German.
  EXPECT_EQ(session.messages[Msg::runtime_error_script], u"Laufzeitfehler im Skript:");
  EXPECT_EQ(session.messages[Msg::resource_not_found], u"");  // the German block's (empty) line 2
}

TEST_F(LocalizationTest, ChoosingTheLanguage) {
  dialog_flag = true;
  default_language = u"German";
  host.default_language_locale = 1036;  // the user's default language is French

  // Interactive: the dialog lists both and preselects the user's language.
  ASSERT_EQ(run({set(u"GREETING", u"Hello")}, false), Interpreter::Outcome::finished);
  ASSERT_EQ(host.language_dialogs.size(), 1u);
  const auto& dialog = host.language_dialogs[0];
  EXPECT_EQ(dialog.names, (std::vector<Text>{u"French", u"German"}));  // Map, Original and shared files left out
  EXPECT_EQ(dialog.names[dialog.preselected], u"French");
  EXPECT_EQ(dialog.texts.caption, u"Select Setup Language");
  EXPECT_EQ(dialog.texts.prompt, u"Please select the language to use during the installation:");
  EXPECT_EQ(dialog.texts.ok, u"&OK");
  EXPECT_EQ(dialog.texts.cancel, u"&Cancel");
  EXPECT_EQ(value(u"LANGUAGE"), u"French");
  EXPECT_EQ(value(u"GREETING"), u"Bonjour");

  // The user's language is not offered: the setup's default is preselected.
  host.default_language_locale = 1041;
  host.language_answer = std::optional<size_t>{};  // cancelled
  EXPECT_EQ(run({set(u"GREETING", u"Hello")}, false), Interpreter::Outcome::language_cancelled);
  EXPECT_EQ(host.language_dialogs.back().names[host.language_dialogs.back().preselected], u"German");
  EXPECT_FALSE(variables.is_defined(u"GREETING"));

  // Silent: no dialog, the preselection is taken.
  size_t dialogs = host.language_dialogs.size();
  ASSERT_EQ(run({set(u"GREETING", u"Hello")}, true), Interpreter::Outcome::finished);
  EXPECT_EQ(host.language_dialogs.size(), dialogs);
  EXPECT_EQ(value(u"LANGUAGE"), u"German");

  // Without the dialog flag the default language is the choice.
  dialog_flag = false;
  host.language_answer.reset();
  ASSERT_EQ(run({set(u"GREETING", u"Hello")}, false), Interpreter::Outcome::finished);
  EXPECT_EQ(host.language_dialogs.size(), dialogs);
  EXPECT_EQ(value(u"GREETING"), u"Hallo");

  // Without the key column there is no localization at all.
  host.file_system.remove_file(Text(kSupport) + u"Demo.mtx");
  ASSERT_EQ(run({set(u"GREETING", u"Hello")}, false), Interpreter::Outcome::finished);
  EXPECT_EQ(value(u"LANGUAGE"), u"");
  EXPECT_EQ(value(u"GREETING"), u"Hello");
}

TEST_F(LocalizationTest, RememberedLanguageIsUsedWhenPatching) {
  dialog_flag = true;
  default_language = u"German";
  Text lan = Text(kCache) + u"setup.lan";
  Localization::remember_language(host.file_system, lan, u"French");
  EXPECT_EQ(*host.file_system.read_file(lan), "French\r\n");
  // A patch beside the package: no dialog, the remembered language.
  host.file_system.write_file(Text(kSupport) + u"setup.msp", "");
  ASSERT_EQ(run({set(u"GREETING", u"Hello")}, false), Interpreter::Outcome::finished);
  EXPECT_TRUE(host.language_dialogs.empty());
  EXPECT_EQ(value(u"LANGUAGE"), u"French");
  EXPECT_EQ(value(u"GREETING"), u"Bonjour");

  // Without a language the file goes away, and the default stays the choice.
  Localization::remember_language(host.file_system, lan, u"");
  EXPECT_FALSE(host.file_system.exists(lan));
  ASSERT_EQ(run({set(u"GREETING", u"Hello")}, false), Interpreter::Outcome::finished);
  EXPECT_EQ(value(u"LANGUAGE"), u"German");
}

TEST_F(LocalizationTest, DialogTextsAreTranslatedInEveryMode) {
  payload = make_payload({set(u"X", u"1")});
  payload.build_settings.add(u"LOCMODE");
  payload.build_settings.add(u"VARSONLY");
  Localization localization(host.file_system, session.messages);
  localization.begin_run(payload, Text(kSupport));
  variables.set_variable(u"LANGUAGE", u"German", u"Test");
  ASSERT_TRUE(localization.reload(variables, host));
  EXPECT_EQ(localization.dialog_text(u"WELCOME.DFM", u"label1"), u"Willkommen");
  EXPECT_EQ(localization.dialog_text(u"other.dfm", u"Label1"), std::nullopt);
  EXPECT_EQ(localization.loaded_language(), u"German");
}

TEST(MessageTableTest, BlockOfTheUsersLanguageWins) {
  auto block = [](TextView first) {
    std::vector<Text> lines(kMessageBlockLines, u"x");
    lines[0] = Text(first);
    return lines;
  };
  std::vector<Text> file = block(u"first");
  for (TextView language : {u"German", u"French", u"Dutch"}) {
    file.push_back(Text(language));
    auto b = block(Text(language) + u" text");
    file.insert(file.end(), b.begin(), b.end());
  }
  struct Case {
    Text user, expected;
  } cases[] = {{u"german", u"German text"}, {u"French", u"French text"}, {u"Japanese", u"Dutch text"},
               {u"", u"Dutch text"}};
  for (const auto& c : cases) {
    MessageTable table;
    table.apply(file, c.user);
    EXPECT_EQ(table.line(1), c.expected) << to_utf8(c.user);
    EXPECT_EQ(table.line(126), u"x");
  }
  // A short file replaces only the lines it has.
  MessageTable table;
  table.apply({u"only the first"}, u"");
  EXPECT_EQ(table.line(1), u"only the first");
  EXPECT_EQ(table[Msg::resource_not_found], u"Setup resource not found");
  EXPECT_EQ(table.line(126), u"<no version information>");
  EXPECT_EQ(table.line(54), u"");
}

TEST(LanguageTableTest, BothDirections) {
  struct Case {
    Text name;
    int locale;
  } cases[] = {{u"German", 1031}, {u"spanish", 3082}, {u"Chinese (PRC)", 2052}, {u"PORTUGESE (BRAZIL)", 1046},
               {u"Portuguese (Portugal)", 2070}, {u"Klingon", 1033}, {u"", 1033}};
  for (const auto& c : cases) EXPECT_EQ(locale_of_language(c.name), c.locale) << to_utf8(c.name);
  EXPECT_EQ(language_of_locale(1046), u"Portuguese (Brazil)");
  EXPECT_EQ(language_of_locale(2052), u"Chinese (PRC)");
  EXPECT_EQ(language_of_locale(1069), u"Basque");
  EXPECT_EQ(language_of_locale(1034), u"");
}

}  // namespace
}  // namespace kyt
