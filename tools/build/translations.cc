#include "build/translations.h"

#include <set>

#include "base/text_file.h"
#include "script/catalog.h"
#include "script/variables.h"

namespace kyt::build {

namespace {

constexpr TextView kLocalizationVariable = u"Localization Variable";

bool is_blank(char16_t c) { return c == u' ' || c == u'\t'; }

TextView trim(TextView text) {
  while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
  return text;
}

// The words of a head, split at blanks.
std::vector<Text> words_of(TextView head) {
  std::vector<Text> words;
  size_t i = 0;
  while (i < head.size()) {
    while (i < head.size() && is_blank(head[i])) ++i;
    size_t start = i;
    while (i < head.size() && !is_blank(head[i])) ++i;
    if (i > start) words.emplace_back(head.substr(start, i - start));
  }
  return words;
}

// A name that can end a file name on every host ("translations.<name>").
bool is_file_name_part(TextView name) {
  if (name.empty() || trim(name) != name || name.back() == u'.') return false;
  for (char16_t c : name)
    if (c < 0x20 || Text(u"\\/:*?\"<>|").find(c) != Text::npos) return false;
  return true;
}

class TranslationReader {
 public:
  TranslationReader(const std::string& file, std::vector<Diagnostic>& diagnostics)
      : file_(file), diagnostics_(diagnostics) {
    source_.file = file;
  }

  std::optional<TranslationSource> read(std::string_view bytes) {
    std::vector<Text> lines = read_utf8_lines(bytes);
    for (size_t n = 0; n < lines.size(); ++n) entry(static_cast<int>(n) + 1, trim(lines[n]));
    if (pending_line_) error(pending_line_, "an original text needs a translation line after it");
    if (source_.language.empty() && !failed_) error(0, "the translation needs a %language line");
    if (failed_) return std::nullopt;
    return std::move(source_);
  }

 private:
  void entry(int line, TextView text) {
    if (text.empty() || text.front() == u'#') return;
    size_t equals = text.find(u'=');
    if (equals == TextView::npos) return error(line, "expected \"=\"");
    std::vector<Text> words = words_of(text.substr(0, equals));
    std::string message;
    auto value = parse_value(text.substr(equals + 1), message);
    if (!value) return error(line, message);
    Text head = words.empty() ? Text() : words[0];
    if (head == u"translation" && words.size() == 1) return translation(line, *value);
    if (pending_line_) {
      error(pending_line_, "an original text needs a translation line after it");
      pending_line_ = 0;
    }
    if (head == u"%language" && words.size() == 1) return language(line, *value);
    if (head == u"original" && words.size() == 1) {
      if (value->empty()) return error(line, "an empty text cannot be translated");
      pending_original_ = *value;
      pending_line_ = line;
      return;
    }
    if (head == u"variable" && words.size() == 2) {
      Text name = to_upper(variable_name(words[1]));
      if (!source_.variables.try_emplace(name, TranslationSource::Entry{*value, line}).second)
        error(line, "variable " + to_utf8(words[1]) + " is translated twice");
      return;
    }
    if (head == u"message" && words.size() == 2) {
      auto number = parse_int64(words[1]);
      if (!number || *number < 1 || *number > static_cast<int64_t>(kMessageBlockLines))
        return error(line, "message numbers run from 1 to " + std::to_string(kMessageBlockLines));
      auto& slot = source_.messages[static_cast<size_t>(*number - 1)];
      if (slot) return error(line, "message " + std::to_string(*number) + " is translated twice");
      slot = *value;
      return;
    }
    if (head == u"dialog" && words.size() == 3) {
      for (const auto& d : source_.dialogs)
        if (equals_ignore_case(d.definition_file, words[1]) && equals_ignore_case(d.control, words[2]))
          return error(line, "dialog " + to_utf8(words[1]) + " " + to_utf8(words[2]) + " is translated twice");
      source_.dialogs.push_back({words[1], words[2], *value, line});
      return;
    }
    error(line,
          "expected %language, original, translation, variable NAME, message NUMBER or dialog FILE CONTROL "
          "before \"=\"");
  }

  void language(int line, const Text& value) {
    if (!source_.language.empty()) return error(line, "%language given twice");
    if (!is_file_name_part(value) || value.find(u'.') != Text::npos)
      return error(line, "a language name cannot be empty or hold \".\", \"\\\", \"/\", \":\", \"*\", \"?\", "
                         "quotes, \"<\", \">\" or \"|\"");
    source_.language = value;
  }

  void translation(int line, const Text& value) {
    if (!pending_line_) return error(line, "a translation line needs an original line before it");
    int original_line = pending_line_;
    pending_line_ = 0;
    if (!source_.texts.try_emplace(pending_original_, TranslationSource::Entry{value, original_line}).second)
      error(original_line, "this original text is translated twice");
  }

  void error(int line, std::string message) {
    failed_ = true;
    diagnostics_.push_back({file_, line, std::move(message), false});
  }

  std::string file_;
  std::vector<Diagnostic>& diagnostics_;
  TranslationSource source_;
  Text pending_original_;
  int pending_line_ = 0;
  bool failed_ = false;
};

// The highest translatable parameter number of a command, 0 for none.
size_t last_translatable(const CommandSpec* row) {
  size_t last = 0;
  if (row)
    for (size_t k = 0; k < row->parameters.size(); ++k)
      if (row->parameters[k].roles & kTranslatable) last = k + 1;
  return last;
}

std::string file_name_only(const std::string& path) {
  size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The column files are built row by row; each row carries what every
// language needs to find its translation.
struct Row {
  Text key, source, original;
  bool translatable = false;
  Text variable;        // Localization Variable rows: upper-case name
  bool dialog = false;  // dialog rows: key = control, source = definition file
};

// A language's message table: its translations, English where it has none.
std::vector<Text> message_block(const TranslationSource& translation) {
  std::vector<Text> lines;
  for (size_t n = 0; n < kMessageBlockLines; ++n)
    lines.push_back(translation.messages[n].value_or(Text(MessageTable::english()[n])));
  return lines;
}

}  // namespace

std::optional<TranslationSource> parse_translation(const std::string& file, std::string_view bytes,
                                                   std::vector<Diagnostic>& diagnostics) {
  return TranslationReader(file, diagnostics).read(bytes);
}

std::vector<std::pair<Text, std::string>> localization_files(const SourceProgram& program, const Payload& payload,
                                                             const std::vector<TranslationSource>& translations,
                                                             std::vector<Diagnostic>& diagnostics,
                                                             const std::string& main_script) {
  std::vector<std::pair<Text, std::string>> files;
  if (translations.empty()) return files;
  if (!is_file_name_part(payload.product_title)) {
    diagnostics.push_back({main_script, 1,
                           "translations need a %title that can name a file: the key column is \"<title>.mtx\""});
    return files;
  }
  std::set<Text> languages;
  for (const auto& t : translations)
    if (!languages.insert(to_upper(t.language)).second)
      diagnostics.push_back({t.file, 0, "language " + to_utf8(t.language) + " has two translation files"});

  std::vector<Row> rows;
  for (size_t i = 0; i < payload.command_count(); ++i) {
    const Text& id = payload.command_ids[i];
    Text source = from_utf8(file_name_only(program.commands[i].file));
    if (payload.command_names[i] == kLocalizationVariable) {
      Text name = variable_name(payload.parameters.get(id, 1));
      rows.push_back({u"TELLURAX$" + name + u"$TELLURAX", source, payload.parameters.get(id, 2), true,
                      to_upper(name)});
      continue;
    }
    const CommandSpec* row = Catalog::instance().find(payload.command_names[i]);
    size_t last = last_translatable(row);
    for (size_t k = 1; k <= last; ++k) {
      Text key = k == 1 ? id : id + u":" + decimal(static_cast<int64_t>(k));
      rows.push_back({key, source, payload.parameters.get(id, k), (row->parameters[k - 1].roles & kTranslatable) != 0});
    }
  }
  // One row per dialog control any language translates, in the order first met.
  for (const auto& t : translations)
    for (const auto& d : t.dialogs) {
      bool known = false;
      for (const Row& r : rows)
        known |= r.dialog && equals_ignore_case(r.source, d.definition_file) && equals_ignore_case(r.key, d.control);
      if (!known) rows.push_back({d.control, d.definition_file, u"", false, u"", true});
    }

  std::vector<Text> keys, sources, originals;
  for (const Row& r : rows) {
    keys.push_back(r.key);
    sources.push_back(r.source);
    originals.push_back(r.original);
  }
  files.emplace_back(payload.product_title + u".mtx", write_utf8_lines(keys, false));
  files.emplace_back(u"translations.Map", write_utf8_lines(sources, false));
  files.emplace_back(u"translations.Original", write_utf8_lines(originals, false));

  for (const auto& t : translations) {
    std::set<Text> used_texts, used_variables;
    std::vector<Text> column;
    for (const Row& r : rows) {
      Text text = r.original;
      if (r.dialog) {
        text.clear();
        bool found = false;
        for (const auto& d : t.dialogs)
          if (equals_ignore_case(d.definition_file, r.source) && equals_ignore_case(d.control, r.key))
            text = d.text, found = true;
        if (!found)
          diagnostics.push_back({t.file, 0,
                                 "dialog " + to_utf8(r.source) + " " + to_utf8(r.key) +
                                     " is translated for another language only; its text is empty in " +
                                     to_utf8(t.language),
                                 true});
      } else if (!r.variable.empty() && t.variables.contains(r.variable)) {
        text = t.variables.at(r.variable).text;
        used_variables.insert(r.variable);
      } else if (r.translatable && t.texts.contains(r.original)) {
        text = t.texts.at(r.original).text;
        used_texts.insert(r.original);
      }
      column.push_back(std::move(text));
    }
    files.emplace_back(u"translations." + t.language, write_utf8_lines(column, false));

    files.emplace_back(u"shared.translations." + t.language, write_utf8_lines(message_block(t), false));

    // A translation that matches nothing is most likely a typing error or a
    // text the script no longer has.
    for (const auto& [original, entry] : t.texts)
      if (!used_texts.contains(original))
        diagnostics.push_back({t.file, entry.line, "the script has no translatable text \"" + to_utf8(original) + "\"",
                               true});
    for (const auto& [name, entry] : t.variables)
      if (!used_variables.contains(name))
        diagnostics.push_back(
            {t.file, entry.line, "the script has no Localization Variable " + to_utf8(name), true});
  }
  return files;
}

std::string message_table_file(const std::vector<TranslationSource>& translations) {
  std::vector<Text> lines;
  for (TextView line : MessageTable::english()) lines.emplace_back(line);
  for (const auto& t : translations) {
    lines.push_back(t.language);
    for (Text& line : message_block(t)) lines.push_back(std::move(line));
  }
  return write_utf8_lines(lines, false);
}

}  // namespace kyt::build
