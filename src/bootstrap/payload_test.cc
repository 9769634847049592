#include "bootstrap/payload.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace kyt {
namespace {

std::string crlf_lines(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& line : lines) text += line + "\r\n";
  return text;
}

// A payload that uses every section, with values that stress the format: a
// "$" parameter, an empty parameter, non-ASCII text, a 64-bit total.
Payload sample() {
  Payload p;
  for (TextView name : {u"Set Variable", u"Comment", u"If", u"End"}) p.command_names.add(Text(name));
  for (TextView id : {u"{11111111-0000-0000-0000-000000000001}", u"{11111111-0000-0000-0000-000000000002}",
                      u"{11111111-0000-0000-0000-000000000003}", u"{11111111-0000-0000-0000-000000000004}"})
    p.command_ids.add(Text(id));
  StringList block;
  for (TextView line : {u"{11111111-0000-0000-0000-000000000001}", u"TARGETDIR$ZEKO$ZEKO$TRUE",
                        u"$PROGRAMFILES$\\Caf\u00E9 App", u"{11111111-0000-0000-0000-000000000003}", u"X", u"0", u"$",
                        u""})
    block.add(Text(line));
  p.parameters.append(block);
  for (TextView flag : {u"", u"C", u"", u""}) p.command_flags.add(Text(flag));
  p.project_guid = u"{ABCDEF01-2345-6789-ABCD-EF0123456789}";
  p.product_title = u"Demo \u00C4pp";
  p.plugin_commands.add(u"Call My Plugin");
  p.publisher = u"Example Ltd";
  p.contact = u"support@example.com";
  p.help_link = u"https://example.com/help";
  p.update_info_link = u"https://example.com/update";
  p.comments = u"Two lines$NEWLINE$of comments";
  p.product_version = u"2.5.1";
  for (TextView item : {u"Block1", u"", u"offline", u""}) p.project_info.add(Text(item));
  p.project_info.set(1, scramble(u"pw one"));
  p.project_info.set(3, scramble(u"pw two"));
  for (TextView folder : {u"", u"web\\block1\\", u"", u""}) p.media_folders.add(Text(folder));
  p.media_mode = 2;
  for (TextView item : {u"ZEKO-PREDEF-COMPONENT", u"0", u"Main\\Docs", u"123456"}) p.size_table.add(Text(item));
  p.cache_folder_guid = u"{CACE0000-0000-0000-0000-000000000000}";
  for (TextView item : {u"media1", u"inner\\path.dll", u"stored\\path.dll"}) p.file_table.add(Text(item));
  p.language_dialog = true;
  p.default_language = u"English";
  for (TextView item : {u"0A1B2C3D", u"0", u"DEADBEEF", u"2"}) p.command_headers.add(Text(item));
  for (TextView item : {u"CACHESOURCES", u"TRUE", u"SWID", u"#CACHESOURCES#-x"}) p.build_settings.add(Text(item));
  p.code_page = 1252;
  for (TextView item : {u"C:\\Proj\\Main.kys*0", u"C:\\Proj\\Main.kys*1", u"C:\\Proj\\Main.kys*2",
                        u"C:\\Proj\\Main.kys*3"})
    p.source_map.add(Text(item));
  p.total_transfer_size = 5000000000;
  for (TextView item : {u"0A1B2C3D", u"NEWHEADER", u"stored\\a.dll", u"System32"}) p.header_file_table.add(Text(item));
  for (TextView item : {u"0*0", u"0*0", u"RESULT*1", u"RESULT*1"}) p.include_map.add(Text(item));
  return p;
}

void expect_same(const Payload& a, const Payload& b) {
  EXPECT_EQ(a.command_names, b.command_names);
  EXPECT_EQ(a.command_ids, b.command_ids);
  ASSERT_EQ(a.parameters.block_count(), b.parameters.block_count());
  for (size_t i = 0; i < a.parameters.block_count(); ++i) EXPECT_EQ(a.parameters.block(i), b.parameters.block(i));
  EXPECT_EQ(a.command_flags, b.command_flags);
  EXPECT_EQ(a.project_guid, b.project_guid);
  EXPECT_EQ(a.product_title, b.product_title);
  EXPECT_EQ(a.plugin_commands, b.plugin_commands);
  EXPECT_EQ(a.publisher, b.publisher);
  EXPECT_EQ(a.contact, b.contact);
  EXPECT_EQ(a.help_link, b.help_link);
  EXPECT_EQ(a.update_info_link, b.update_info_link);
  EXPECT_EQ(a.comments, b.comments);
  EXPECT_EQ(a.product_version, b.product_version);
  EXPECT_EQ(a.project_info, b.project_info);
  EXPECT_EQ(a.media_folders, b.media_folders);
  EXPECT_EQ(a.media_mode, b.media_mode);
  EXPECT_EQ(a.size_table, b.size_table);
  EXPECT_EQ(a.cache_folder_guid, b.cache_folder_guid);
  EXPECT_EQ(a.file_table, b.file_table);
  EXPECT_EQ(a.language_dialog, b.language_dialog);
  EXPECT_EQ(a.default_language, b.default_language);
  EXPECT_EQ(a.command_headers, b.command_headers);
  EXPECT_EQ(a.build_settings, b.build_settings);
  EXPECT_EQ(a.code_page, b.code_page);
  EXPECT_EQ(a.source_map, b.source_map);
  EXPECT_EQ(a.total_transfer_size, b.total_transfer_size);
  EXPECT_EQ(a.header_file_table, b.header_file_table);
  EXPECT_EQ(a.include_map, b.include_map);
}

std::string written(const Payload& payload) {
  std::string bytes, error;
  EXPECT_TRUE(write_payload(payload, bytes, error)) << error;
  return bytes;
}

// A small payload written out line by line in section order.
const std::vector<std::string> kLayout = {
    "Comment", "If", "End", "$",                                          // 0 names
    "{A}", "{B}", "{C}", "$",                                             // 1 identifiers
    "{A}", "hello", "{B}", "X", "0", "$DOLLAR$", "", "$",                 // 2 parameter blocks
    "", "", "C", "$",                                                     // 3 flags
    "{P}", "T", "$",                                                      // 4 guid, title, plug-ins
    "pub", "contact", "help", "update", "comments", "1.0", "$",           // 5 project information
    "", "", "", "$",                                                      // 6 media folders
    "2", "ZEKO-PREDEF-COMPONENT", "0", "$",                               // 7 media mode, sizes
    "{C0}", "$",                                                          // 8 cache folder, files
    "TRUE", "English", "0000ABCD", "1", "$",                              // 9 language, headers
    "SWID", "TRUE", "$",                                                  // 10 build settings
    "1252", "s.kys*0", "s.kys*1", "s.kys*2", "$",                         // 11 code page, source map
    "0", "$",                                                             // 12 total, header files
    "0*0", "0*0", "0*0", "$",                                             // 13 include map
};

Payload layout_payload() {
  Payload p;
  p.command_names = {u"Comment", u"If", u"End"};
  p.command_ids = {u"{A}", u"{B}", u"{C}"};
  p.parameters.append({u"{A}", u"hello", u"{B}", u"X", u"0", u"$", u""});
  p.command_flags = {u"", u"", u"C"};
  p.project_guid = u"{P}";
  p.product_title = u"T";
  p.publisher = u"pub";
  p.contact = u"contact";
  p.help_link = u"help";
  p.update_info_link = u"update";
  p.comments = u"comments";
  p.product_version = u"1.0";
  p.media_folders = {u"", u"", u""};
  p.media_mode = 2;
  p.size_table = {u"ZEKO-PREDEF-COMPONENT", u"0"};
  p.cache_folder_guid = u"{C0}";
  p.language_dialog = true;
  p.default_language = u"English";
  p.command_headers = {u"0000ABCD", u"1"};
  p.build_settings = {u"SWID", u"TRUE"};
  p.code_page = 1252;
  p.source_map = {u"s.kys*0", u"s.kys*1", u"s.kys*2"};
  p.include_map = {u"0*0", u"0*0", u"0*0"};
  return p;
}

TEST(Payload, WritesSectionsInOrder) {
  EXPECT_EQ(written(layout_payload()), "\xEF\xBB\xBF" + crlf_lines(kLayout));
}

TEST(Payload, ReadsSectionsInOrder) {
  Payload parsed;
  ASSERT_EQ(parse_payload(crlf_lines(kLayout), parsed), PayloadStatus::ok);
  expect_same(parsed, layout_payload());
  EXPECT_FALSE(parsed.disabled(0));
  EXPECT_TRUE(parsed.disabled(2));
  EXPECT_FALSE(parsed.disabled(3));
}

TEST(Payload, IntegerFieldsAreTheNumberAtTheStartOfTheLine) {
  std::vector<std::string> lines = kLayout;
  lines[34] = "2 (web media)";
  lines[48] = "1252 (ANSI - Latin I)";
  lines[53] = "77 bytes";
  ASSERT_EQ(lines[40], "TRUE");
  lines[40] = "true";  // the language-dialog flag is true only as "TRUE"
  Payload parsed;
  ASSERT_EQ(parse_payload(crlf_lines(lines), parsed), PayloadStatus::ok);
  EXPECT_EQ(parsed.media_mode, 2);
  EXPECT_EQ(parsed.code_page, 1252);
  EXPECT_EQ(parsed.total_transfer_size, 77);
  EXPECT_FALSE(parsed.language_dialog);
}

TEST(Payload, RoundTrip) {
  const Payload original = sample();
  const std::string bytes = written(original);
  ASSERT_TRUE(bytes.starts_with("\xEF\xBB\xBF"));
  Payload parsed;
  ASSERT_EQ(parse_payload(bytes, parsed), PayloadStatus::ok);
  expect_same(parsed, original);
  EXPECT_EQ(parsed.project_info_value(u"offline"), u"pw two");
}

TEST(Payload, ByteOrderMarkIsOptionalAndNeverPartOfTheFirstName) {
  const std::string with_mark = written(sample());
  const std::string without_mark = with_mark.substr(3);
  Payload a, b;
  ASSERT_EQ(parse_payload(with_mark, a), PayloadStatus::ok);
  ASSERT_EQ(parse_payload(without_mark, b), PayloadStatus::ok);
  EXPECT_EQ(a.command_names[0], u"Set Variable");
  EXPECT_EQ(b.command_names[0], u"Set Variable");
  expect_same(a, b);
}

TEST(Payload, DollarWordsInParameterBlocksReadAsDollar) {
  const std::string bytes = written(sample());
  const std::string word = "\r\n$DOLLAR$\r\n";
  const size_t at = bytes.find(word);
  ASSERT_NE(at, std::string::npos);
  for (const char* spelling : {"$DOLLAR$", "$dollar$", "$Dollar$", "$WILD_DOLLAR$", "$wild_dollar$"}) {
    std::string variant = bytes;
    variant.replace(at, word.size(), std::string("\r\n") + spelling + "\r\n");
    Payload parsed;
    ASSERT_EQ(parse_payload(variant, parsed), PayloadStatus::ok) << spelling;
    EXPECT_EQ(parsed.parameters.get(u"{11111111-0000-0000-0000-000000000003}", 3), u"$") << spelling;
  }
  // Only whole lines are replaced.
  for (const char* kept : {"x$DOLLAR$", "$DOLLAR$ ", "$DOLLAR", "$WILD$"}) {
    std::string variant = bytes;
    variant.replace(at, word.size(), std::string("\r\n") + kept + "\r\n");
    Payload parsed;
    ASSERT_EQ(parse_payload(variant, parsed), PayloadStatus::ok) << kept;
    EXPECT_EQ(parsed.parameters.get(u"{11111111-0000-0000-0000-000000000003}", 3), ascii(kept));
  }
}

TEST(Payload, DollarWordsOutsideParameterBlocksStay) {
  Payload original = sample();
  original.product_title = u"$DOLLAR$";
  original.file_table.add(u"$WILD_DOLLAR$");
  Payload parsed;
  ASSERT_EQ(parse_payload(written(original), parsed), PayloadStatus::ok);
  EXPECT_EQ(parsed.product_title, u"$DOLLAR$");
  EXPECT_EQ(parsed.file_table[3], u"$WILD_DOLLAR$");
}

TEST(Payload, TrailingBytesAfterTheLastTerminatorAreIgnored) {
  const Payload original = sample();
  // Something like a certificate table: binary bytes, stray line breaks, "$" lines.
  const char raw[] = "\x00\x02\x00\x00\x30\x82\x05\x0A\r\n$\r\n\xFF\xFE garbage\r\n$\r\n\x00";
  const std::string certificate(raw, sizeof raw - 1);
  Payload parsed;
  ASSERT_EQ(parse_payload(written(original) + certificate, parsed), PayloadStatus::ok);
  expect_same(parsed, original);
}

TEST(Payload, EmptyIsMissing) {
  Payload parsed;
  EXPECT_EQ(parse_payload("", parsed), PayloadStatus::missing);
}

TEST(Payload, EveryTruncationIsDamaged) {
  const std::string bytes = written(sample());
  ASSERT_TRUE(bytes.ends_with("\r\n$\r\n"));
  const size_t last_terminator = bytes.size() - 3;
  for (size_t length = 1; length <= last_terminator; ++length) {
    Payload parsed;
    EXPECT_EQ(parse_payload(bytes.substr(0, length), parsed), PayloadStatus::damaged) << "cut at " << length;
  }
  // The last line needs no line break of its own.
  Payload parsed;
  EXPECT_EQ(parse_payload(bytes.substr(0, last_terminator + 1), parsed), PayloadStatus::ok);
}

TEST(Payload, ParameterLookup) {
  Payload parsed;
  ASSERT_EQ(parse_payload(written(sample()), parsed), PayloadStatus::ok);
  const ParameterStore& store = parsed.parameters;
  const Text set_variable = u"{11111111-0000-0000-0000-000000000001}";
  EXPECT_EQ(store.get(set_variable, 0), set_variable);
  EXPECT_EQ(store.get(set_variable, 1), u"TARGETDIR$ZEKO$ZEKO$TRUE");
  EXPECT_EQ(store.get(set_variable, 2), u"$PROGRAMFILES$\\Caf\u00E9 App");
  // The next command's block follows: lines past a command's own parameters
  // belong to the next block.
  EXPECT_EQ(store.get(set_variable, 3), u"{11111111-0000-0000-0000-000000000003}");
  const Text if_id = u"{11111111-0000-0000-0000-000000000003}";
  EXPECT_EQ(store.get(if_id, 4), u"");
  EXPECT_EQ(store.get(if_id, 5), u"");  // past the end of the list
  // A command without parameters has no block.
  EXPECT_EQ(store.get(u"{11111111-0000-0000-0000-000000000002}", 0), u"");
  EXPECT_EQ(store.get(u"{11111111-0000-0000-0000-000000000002}", 1), u"");
  EXPECT_EQ(store.get(u"{unknown}", 0), u"");
}

TEST(Payload, ParameterLookupIgnoresCaseOfIdentifier) {
  ParameterStore store;
  store.append({u"{ABCDEF00-0000-0000-0000-000000000000}", u"value"});
  EXPECT_EQ(store.get(u"{abcdef00-0000-0000-0000-000000000000}", 1), u"value");
}

TEST(Payload, FirstBlockInTheStoreWins) {
  ParameterStore store;
  store.append({u"{SHARED}", u"first", u"{ONLY-A}", u"a"});
  store.append({u"{ONLY-B}", u"b", u"{SHARED}", u"second"});
  EXPECT_EQ(store.get(u"{SHARED}", 1), u"first");
  EXPECT_EQ(store.get(u"{ONLY-B}", 1), u"b");
  EXPECT_EQ(store.get(u"{ONLY-A}", 1), u"a");
  ParameterStore::Position at = store.find(u"{ONLY-B}");
  EXPECT_EQ(at.block, &store.block(1));
  EXPECT_EQ(at.index, 0u);
  EXPECT_EQ(store.find(u"{NONE}").block, nullptr);
}

TEST(Payload, BuildSettingExpansion) {
  Payload p;
  p.build_settings = {u"CACHESOURCES", u"TRUE", u"SWID", u"#CACHESOURCES#-x", u"LOCMODE", u"1",
                      u"A", u"#B#", u"B", u"#A#", u"GROW", u"x#GROW#"};
  EXPECT_EQ(p.build_setting(u"CACHESOURCES"), u"TRUE");
  EXPECT_EQ(p.build_setting(u"cachesources"), u"TRUE");
  EXPECT_EQ(p.expand_build_settings(u"#CacheSources#"), u"TRUE");
  EXPECT_EQ(p.build_setting(u"SWID"), u"TRUE-x");  // values name other settings
  EXPECT_EQ(p.expand_build_settings(u"[#LOCMODE#/#NOPE#]"), u"[1/#NOPE#]");
  // An absent key is told by comparing with the unexpanded marker.
  EXPECT_EQ(p.build_setting(u"SINGLEINSTANCE"), u"#SINGLEINSTANCE#");
  EXPECT_EQ(p.expand_build_settings(u"no markers"), u"no markers");
  EXPECT_EQ(p.expand_build_settings(u"#"), u"#");
  // Cycles stop.
  Text cycle = p.build_setting(u"A");
  EXPECT_TRUE(cycle == u"#A#" || cycle == u"#B#") << to_utf8(cycle);
  Text grown = p.build_setting(u"GROW");
  EXPECT_TRUE(grown.starts_with(u"xx")) << to_utf8(grown);
  EXPECT_TRUE(grown.ends_with(u"#GROW#")) << to_utf8(grown);
}

TEST(Payload, BuildSettingKeysStandAtEvenPositions) {
  Payload p;
  p.build_settings = {u"ONE", u"TWO"};
  EXPECT_EQ(p.build_setting(u"ONE"), u"TWO");
  EXPECT_EQ(p.build_setting(u"TWO"), u"#TWO#");
}

TEST(Payload, CommandHeader) {
  Payload p;
  p.command_headers = {u"0A1B2C3D", u"0", u"DEADBEEF", u"2", u"00000012", u"12"};
  EXPECT_EQ(p.command_header(0), u"0A1B2C3D");
  EXPECT_EQ(p.command_header(2), u"DEADBEEF");
  EXPECT_EQ(p.command_header(12), u"00000012");
  EXPECT_EQ(p.command_header(1), u"");
  EXPECT_EQ(p.command_header(99), u"");
}

TEST(Payload, SourcePosition) {
  struct Case {
    Text entry;
    Text script;
    int64_t line;
  };
  const std::vector<Case> cases = {
      {u"C:\\Proj\\Main Script.kys*0", u"Main Script", 1},
      {u"C:\\Proj\\inc\\helper.txt*41", u"helper", 42},
      {u"relative/unix/name.kys*9", u"name", 10},
      {u"C:\\my.dir\\noext*2", u"noext", 3},
      {u"archive.tar.kys*7", u"archive.tar", 8},
  };
  Payload p;
  for (const auto& c : cases) p.source_map.add(c.entry);
  for (size_t i = 0; i < cases.size(); ++i) {
    Payload::SourcePosition position = p.source_position(i);
    EXPECT_EQ(position.script, cases[i].script) << to_utf8(cases[i].entry);
    EXPECT_EQ(position.line, cases[i].line) << to_utf8(cases[i].entry);
  }
}

TEST(Payload, IncludeEntry) {
  Payload p;
  p.include_map = {u"0*0", u"RESULT*2", u"*1"};
  EXPECT_EQ(p.include_entry(0).result_variable, u"0");
  EXPECT_EQ(p.include_entry(0).depth, 0);
  EXPECT_EQ(p.include_entry(1).result_variable, u"RESULT");
  EXPECT_EQ(p.include_entry(1).depth, 2);
  EXPECT_EQ(p.include_entry(2).result_variable, u"");
  EXPECT_EQ(p.include_entry(2).depth, 1);
}

TEST(Scramble, UnscramblesByHand) {
  // "A" is 0x41: low digit first "14"; each character xor its position gives
  // 0x31 0x35; written high digit first: "3135".
  EXPECT_EQ(unscramble(u"3135"), u"A");
  EXPECT_EQ(scramble(u"A"), u"3135");
  EXPECT_EQ(unscramble(u""), u"");
}

TEST(Scramble, RoundTrip) {
  for (TextView plain : {u"", u"secret", u"p@ss w0rd!", u"Caf\u00E9", u"\u00FF\u0001 ~"})
    EXPECT_EQ(unscramble(scramble(plain)), plain) << to_utf8(plain);
}

TEST(Scramble, ProjectInformationLooksKeysUpAtEvenPositions) {
  Payload p;
  p.project_info = {u"Block1", scramble(u"first"), u"offline", scramble(u"second")};
  EXPECT_EQ(p.project_info_value(u"BLOCK1"), u"first");
  EXPECT_EQ(p.project_info_value(u"Offline"), u"second");
  EXPECT_EQ(p.project_info_value(u"Block2"), std::nullopt);
  EXPECT_EQ(p.project_info_value(scramble(u"first")), std::nullopt);
}

TEST(Payload, WriterRejectsWhatTheFormatCannotCarry) {
  struct Case {
    const char* what;
    std::function<void(Payload&)> change;
    std::string error;
  };
  const std::vector<Case> cases = {
      {"line break in a fixed line", [](Payload& p) { p.product_title = u"a\r\nb"; },
       "product title: a value holds a line break: a\r\nb"},
      {"line feed in a list", [](Payload& p) { p.file_table.add(u"x\ny"); },
       "file table: a value holds a line break: x\ny"},
      {"line break in a parameter",
       [](Payload& p) {
         p.parameters = {};
         p.parameters.append({u"{A}", u"1\r2"});
       },
       "parameters: a value holds a line break: 1\r2"},
      {"lone $ in names", [](Payload& p) { p.command_names.add(u"$"); },
       "command names: \"$\" cannot stand as a whole line"},
      {"lone $ in build settings", [](Payload& p) { p.build_settings.add(u"$"); },
       "build settings: \"$\" cannot stand as a whole line"},
      {"parameter that reads back as $",
       [](Payload& p) {
         p.parameters = {};
         p.parameters.append({u"{A}", u"$dollar$"});
       },
       "parameters: the text $dollar$ cannot be stored as a whole parameter"},
  };
  for (const auto& c : cases) {
    Payload p = sample();
    c.change(p);
    std::string bytes, error;
    EXPECT_FALSE(write_payload(p, bytes, error)) << c.what;
    EXPECT_EQ(error, c.error) << c.what;
  }
}

}  // namespace
}  // namespace kyt
