#include "bootstrap/payload.h"

#include "base/text_file.h"

namespace kyt {

void ParameterStore::append(StringList block) {
  block.set_hashed(true);
  blocks_.push_back(std::move(block));
}

ParameterStore::Position ParameterStore::find(TextView identifier) const {
  for (const auto& block : blocks_) {
    size_t p = block.index_of(identifier);
    if (p != StringList::npos) return {&block, p};
  }
  return {};
}

Text ParameterStore::get(TextView identifier, size_t k) const {
  Position at = find(identifier);
  return at.block ? at.block->at_or_empty(at.index + k) : Text();
}

Text Payload::command_header(size_t index) const {
  size_t p = command_headers.index_of(decimal(static_cast<int64_t>(index)));
  return p == StringList::npos || p == 0 ? Text() : command_headers[p - 1];
}

Text Payload::expand_build_settings(TextView text) const {
  // Values may name each other in a cycle; the passes are bounded.
  Text current(text);
  for (int pass = 0; pass < 16; ++pass) {
    if (current.find(u'#') == Text::npos) return current;
    Text result = current;
    for (size_t i = 0; i + 1 < build_settings.size(); i += 2)
      result = replace_all_ignore_case(result, u"#" + build_settings[i] + u"#", build_settings[i + 1]);
    if (result.find(u'#') == Text::npos || result == current) return result;
    current = std::move(result);
  }
  return current;
}

Payload::SourcePosition Payload::source_position(size_t index) const {
  Text entry = source_map.at_or_empty(index);
  size_t star = entry.rfind(u'*');
  Text path = star == Text::npos ? entry : entry.substr(0, star);
  int64_t line = star == Text::npos ? 0 : leading_integer(TextView(entry).substr(star + 1));
  size_t slash = path.find_last_of(u"\\/");
  Text name = slash == Text::npos ? path : path.substr(slash + 1);
  size_t dot = name.rfind(u'.');
  if (dot != Text::npos && dot > 0) name.resize(dot);
  return {name, line + 1};
}

Payload::IncludeEntry Payload::include_entry(size_t index) const {
  Text entry = include_map.at_or_empty(index);
  size_t star = entry.rfind(u'*');
  if (star == Text::npos) return {u"0", 0};
  return {entry.substr(0, star), leading_integer(TextView(entry).substr(star + 1))};
}

std::optional<Text> Payload::project_info_value(TextView key) const {
  for (size_t i = 0; i + 1 < project_info.size(); i += 2)
    if (equals_ignore_case(project_info[i], key)) return unscramble(project_info[i + 1]);
  return std::nullopt;
}

namespace {
int hex_digit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  return -1;
}
char16_t hex_char(int v) { return static_cast<char16_t>(v < 10 ? u'0' + v : u'A' + v - 10); }

// Pairs of hexadecimal digits, one character each; a broken pair ends it.
Text from_hex_pairs(TextView text, bool high_first) {
  Text out;
  for (size_t i = 0; i + 1 < text.size(); i += 2) {
    int a = hex_digit(text[i]), b = hex_digit(text[i + 1]);
    if (a < 0 || b < 0) break;
    out.push_back(static_cast<char16_t>(high_first ? a * 16 + b : b * 16 + a));
  }
  return out;
}
}  // namespace

Text unscramble(TextView scrambled) {
  Text step = from_hex_pairs(scrambled, true);
  for (size_t i = 0; i < step.size(); ++i) step[i] = static_cast<char16_t>(step[i] ^ (i & 0xFFFF));
  return from_hex_pairs(step, false);
}

Text scramble(TextView plain) {
  // Reverse of unscramble; only the low byte of each character survives the
  // hexadecimal form, so values are carried as Latin-1 text.
  Text low_first;
  for (char16_t c : plain) {
    low_first.push_back(hex_char(c & 0xF));
    low_first.push_back(hex_char((c >> 4) & 0xF));
  }
  Text out;
  for (size_t i = 0; i < low_first.size(); ++i) {
    int v = (low_first[i] ^ static_cast<int>(i)) & 0xFF;
    out.push_back(hex_char(v >> 4));
    out.push_back(hex_char(v & 0xF));
  }
  return out;
}

namespace {
struct LineReader {
  std::vector<Text> lines;
  size_t next = 0;
  bool failed = false;
  Text fixed() {
    if (next >= lines.size()) {
      failed = true;
      return {};
    }
    return lines[next++];
  }
  void list(StringList& out) {
    while (true) {
      if (next >= lines.size()) {
        failed = true;
        return;
      }
      Text& line = lines[next++];
      if (line == u"$") return;
      out.add(std::move(line));
    }
  }
};
}  // namespace

PayloadStatus parse_payload(std::string_view bytes, Payload& p) {
  if (bytes.empty()) return PayloadStatus::missing;
  p = Payload();
  LineReader in{read_utf8_lines(bytes)};
  in.list(p.command_names);
  in.list(p.command_ids);
  StringList parameters;
  in.list(parameters);
  in.list(p.command_flags);
  p.project_guid = in.fixed();
  p.product_title = in.fixed();
  in.list(p.plugin_commands);
  for (Text* field : {&p.publisher, &p.contact, &p.help_link, &p.update_info_link, &p.comments, &p.product_version})
    *field = in.fixed();
  in.list(p.project_info);
  in.list(p.media_folders);
  p.media_mode = leading_integer(in.fixed());
  in.list(p.size_table);
  p.cache_folder_guid = in.fixed();
  in.list(p.file_table);
  p.language_dialog = in.fixed() == u"TRUE";
  p.default_language = in.fixed();
  in.list(p.command_headers);
  in.list(p.build_settings);
  p.code_page = leading_integer(in.fixed());
  in.list(p.source_map);
  p.total_transfer_size = leading_integer(in.fixed());
  in.list(p.header_file_table);
  in.list(p.include_map);
  if (in.failed) return PayloadStatus::damaged;
  for (size_t i = 0; i < parameters.size(); ++i) {
    if (equals_ignore_case(parameters[i], u"$WILD_DOLLAR$")) parameters.set(i, u"$");
    if (equals_ignore_case(parameters[i], u"$DOLLAR$")) parameters.set(i, u"$");
  }
  p.parameters.append(std::move(parameters));
  return PayloadStatus::ok;
}

namespace {
struct LineWriter {
  std::vector<Text> lines;
  std::string error;
  bool one_line(TextView value, const char* what) {
    if (value.find_first_of(u"\r\n") != TextView::npos) {
      if (error.empty()) error = std::string(what) + ": a value holds a line break: " + to_utf8(value);
      return false;
    }
    return true;
  }
  void fixed(TextView value, const char* what) {
    one_line(value, what);
    lines.emplace_back(value);
  }
  void list(const StringList& items, const char* what) {
    for (const auto& item : items) {
      if (one_line(item, what) && item == u"$" && error.empty())
        error = std::string(what) + ": \"$\" cannot stand as a whole line";
      lines.push_back(item);
    }
    lines.emplace_back(u"$");
  }
};
}  // namespace

bool write_payload(const Payload& p, std::string& out, std::string& error) {
  LineWriter w;
  w.list(p.command_names, "command names");
  w.list(p.command_ids, "command identifiers");
  // Parameter blocks: a lone "$" is written as "$DOLLAR$"; a line that would
  // read back as "$" without being one cannot be carried.
  if (p.parameters.block_count() > 0) {
    for (const auto& line : p.parameters.block(0)) {
      if (!w.one_line(line, "parameters")) continue;
      if ((equals_ignore_case(line, u"$DOLLAR$") || equals_ignore_case(line, u"$WILD_DOLLAR$")) && w.error.empty())
        w.error = "parameters: the text " + to_utf8(line) + " cannot be stored as a whole parameter";
      w.lines.push_back(line == u"$" ? Text(u"$DOLLAR$") : line);
    }
  }
  w.lines.emplace_back(u"$");
  w.list(p.command_flags, "command flags");
  w.fixed(p.project_guid, "project GUID");
  w.fixed(p.product_title, "product title");
  w.list(p.plugin_commands, "plug-in commands");
  for (const Text* field : {&p.publisher, &p.contact, &p.help_link, &p.update_info_link, &p.comments, &p.product_version})
    w.fixed(*field, "project information");
  w.list(p.project_info, "project information");
  w.list(p.media_folders, "media folders");
  w.fixed(decimal(p.media_mode), "media mode");
  w.list(p.size_table, "size table");
  w.fixed(p.cache_folder_guid, "cache folder GUID");
  w.list(p.file_table, "file table");
  w.fixed(bool_text(p.language_dialog), "language dialog");
  w.fixed(p.default_language, "default language");
  w.list(p.command_headers, "command headers");
  w.list(p.build_settings, "build settings");
  w.fixed(decimal(p.code_page), "code page");
  w.list(p.source_map, "source map");
  w.fixed(decimal(p.total_transfer_size), "total transfer size");
  w.list(p.header_file_table, "header file table");
  w.list(p.include_map, "include map");
  error = w.error;
  if (!error.empty()) return false;
  out = write_utf8_lines(w.lines, true);
  return true;
}

}  // namespace kyt
