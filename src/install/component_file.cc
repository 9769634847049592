#include "install/component_file.h"

#include "base/text_file.h"

namespace kyt {

namespace {

constexpr TextView kSource = u"LoadComponents";

void add_list(std::vector<Text>& lines, const StringList& list) {
  for (const auto& item : list) lines.push_back(item);
  lines.emplace_back(u"$");
}

// Items 11 to 14: the persisted variables, then the three fixed pairs.
void add_variables(std::vector<Text>& lines, const Session& session, const Variables& variables) {
  for (const auto& name : session.persisted_variables) {
    lines.push_back(name);
    lines.push_back(escape_line_breaks(variables.value_of(name)));
  }
  lines.emplace_back(u"ZEKO64WOW");
  lines.push_back(session.mode64);
  lines.emplace_back(u"OVERRIDECACHE");
  lines.push_back(escape_line_breaks(variables.value_of(u"OVERRIDECACHE")));
  lines.emplace_back(u"NATIVE_ENGINE");
  lines.push_back(escape_line_breaks(variables.value_of(u"NATIVE_ENGINE")));
}

}  // namespace

std::string write_component_file(const Session& session, const Variables& variables, TextView sources_folder) {
  const ComponentModel& model = session.components;
  std::vector<Text> lines;
  for (const StringList* list : {&model.components(), &model.states(), &model.deleted(), &model.hidden(),
                                 &model.locked(), &model.size_table()})
    add_list(lines, *list);
  for (TextView name : {u"TARGETDIR", u"ALLUSERS", u"STARTMENU"})
    lines.push_back(escape_line_breaks(variables.value_of(name)));
  lines.emplace_back(sources_folder);
  add_variables(lines, session, variables);
  return write_utf8_lines(lines, true);
}

std::string update_component_file(std::string_view old_file, const Session& session, const Variables& variables) {
  // Walk the raw bytes line by line so the kept part is copied unchanged.
  size_t position = 0;
  int terminators = 0, values_after = 0;
  bool bom = old_file.starts_with("\xEF\xBB\xBF");
  if (bom) position = 3;
  while (position < old_file.size() && values_after < 4) {
    size_t end = old_file.find('\n', position);
    size_t next = end == std::string_view::npos ? old_file.size() : end + 1;
    std::string_view line = old_file.substr(position, next - position);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    position = next;
    if (terminators < 6) {
      if (line == "$") ++terminators;
    } else {
      ++values_after;
    }
  }
  std::string out(old_file.substr(0, position));
  if (!out.empty() && out.back() != '\n') out += "\r\n";
  std::vector<Text> lines;
  add_variables(lines, session, variables);
  out += write_utf8_lines(lines, false);
  return out;
}

void read_component_file(std::string_view bytes, Session& session, Variables& variables,
                         ComponentFileOptions options, Text* sources_folder) {
  std::vector<Text> lines = read_utf8_lines(bytes);
  size_t next = 0;
  auto list = [&] {
    StringList items;
    while (next < lines.size()) {
      Text& line = lines[next++];
      if (line == u"$") break;
      items.add(std::move(line));
    }
    return items;
  };
  StringList components = list(), states = list(), deleted = list(), hidden = list(), locked = list(),
             sizes = list();
  ComponentModel& model = session.components;
  if (options.merge) {
    model.merge_lists(components, states, std::move(deleted), std::move(hidden), std::move(locked));
  } else {
    model.replace_lists(std::move(components), std::move(states), std::move(deleted), std::move(hidden),
                        std::move(locked), options.ignore_sizes ? std::nullopt : std::optional(std::move(sizes)));
  }
  for (TextView name : {u"TARGETDIR", u"ALLUSERS", u"STARTMENU"}) {
    if (next >= lines.size()) return;
    variables.define_variable(name, lines[next++], kSource);
  }
  if (next >= lines.size()) return;
  Text sources = lines[next++];
  if (!options.merge && sources_folder) *sources_folder = sources;
  while (next + 1 < lines.size()) {
    Text name = lines[next], value = lines[next + 1];
    next += 2;
    if (name == u"ZEKO64WOW") {
      session.mode64 = value;
      // OVERRIDECACHE and NATIVE_ENGINE follow; they are stored, but are
      // saved as fixed items, not as persisted variables.
      for (int pair = 0; pair < 2 && next + 1 < lines.size(); ++pair, next += 2)
        variables.define_variable(lines[next], lines[next + 1], kSource);
      continue;
    }
    variables.define_variable(name, value, kSource);
    if (!session.persisted_variables.contains(name)) session.persisted_variables.add(name);
  }
}

bool load_component_file(FileSystem& files, const Text& path, Session& session, Variables& variables,
                         ComponentFileOptions options, Text* sources_folder) {
  auto bytes = files.read_file(path);
  if (!bytes && !options.merge) {
    size_t slash = path.find_last_of(u"\\/");
    Text folder = slash == Text::npos ? Text() : path.substr(0, slash + 1);
    if (files.exists(folder + u"kyt.lib")) {
      for (const Text& name : files.list_files(folder, u".dat")) {
        Text base = folder + name.substr(0, name.size() - 4);
        if (files.exists(base + u".exe") && files.exists(base + u".res") && files.exists(base + u".par")) {
          bytes = files.read_file(folder + name);
          if (bytes) break;
        }
      }
    }
  }
  if (!bytes) return false;
  read_component_file(*bytes, session, variables, options, sources_folder);
  return true;
}

bool update_component_file_at(FileSystem& files, const Text& path, const Session& session,
                              const Variables& variables) {
  auto old_file = files.read_file(path);
  if (!old_file) return false;
  Text fresh = path + u".dat";
  if (!files.write_file(fresh, update_component_file(*old_file, session, variables))) return false;
  if (!files.remove_file(path)) {
    files.remove_file(fresh);
    return false;
  }
  return files.rename_file(fresh, path);
}

}  // namespace kyt
