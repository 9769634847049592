#include "build/product_files.h"

#include <algorithm>
#include <filesystem>
#include <set>

#include "build/compiler.h"
#include "build/host_files.h"

namespace kyt::build {

namespace fs = std::filesystem;

namespace {

// Commands whose parameter 1 names product files (pattern) and parameter 2
// their build options: each gets its own file group.
bool installs_files(TextView command) {
  return command == u"Install Files" || command == u"Install Service" || command == u"Install ODBC Driver" ||
         command == u"Install Assembly";
}
// Install Assembly's parameter 2 is its cache flag, not build options.
bool has_build_options(TextView command) { return command != u"Install Assembly"; }
constexpr TextView kDefineComponent = u"Define Component";

struct SourceOptions {
  bool recurse = false;
  Text component = Text(kPredefinedComponent);
};

Text trimmed(TextView text) {
  size_t first = text.find_first_not_of(u" \t");
  if (first == TextView::npos) return Text();
  return Text(text.substr(first, text.find_last_not_of(u" \t") - first + 1));
}

// "recurse;component=Program Files": `;`-separated words.
bool parse_options(TextView text, SourceOptions& options, std::string& error) {
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = std::min(text.find(u';', start), text.size());
    Text word = trimmed(text.substr(start, end - start));
    start = end + 1;
    if (word.empty()) continue;
    if (equals_ignore_case(word, u"recurse")) {
      options.recurse = true;
    } else if (starts_with_ignore_case(word, u"component=")) {
      options.component = trimmed(TextView(word).substr(10));
      if (options.component.empty()) {
        error = "component= needs a component path";
        return false;
      }
    } else {
      error = "unknown source option \"" + to_utf8(word) + "\" (use recurse and component=PATH)";
      return false;
    }
  }
  return true;
}

struct Match {
  Text relative;  // below the pattern's base folder, "\" separated
  fs::path path;
  uint64_t size = 0;
};

// The files a pattern names below `root`, sorted by relative path.
bool match_files(const fs::path& root, TextView pattern_text, bool recurse, std::vector<Match>& matches,
                 std::string& error) {
  Text pattern = replace_all(pattern_text, u"\\", u"/");
  size_t slash = pattern.rfind(u'/');
  Text folder = slash == Text::npos ? Text() : pattern.substr(0, slash);
  Text name = slash == Text::npos ? pattern : pattern.substr(slash + 1);
  if (name.empty()) {
    error = "the source pattern \"" + to_utf8(pattern_text) + "\" names no file (write folder\\* for a whole folder)";
    return false;
  }
  fs::path relative_folder = host_path(to_utf8(folder));
  bool escapes = relative_folder.is_absolute() || relative_folder.has_root_name();
  for (const auto& part : relative_folder) escapes |= part == "..";
  if (escapes || folder.find_first_of(u"*?") != Text::npos) {
    error = "the source pattern \"" + to_utf8(pattern_text) +
            "\" must be a folder below the files folder (no \"..\", no wildcards) and a file name pattern";
    return false;
  }
  fs::path base = root / relative_folder;
  std::error_code failure;
  if (!fs::is_directory(base, failure)) {
    error = "the source pattern \"" + to_utf8(pattern_text) + "\" matches no file: there is no folder \"" +
            to_utf8(folder) + "\" below the files folder";
    return false;
  }
  auto consider = [&](const fs::directory_entry& entry) {
    std::error_code ignored;
    if (!entry.is_regular_file(ignored) || !wildcard_match(name, from_utf8(utf8_path(entry.path().filename()))))
      return;
    Text relative = from_utf8(utf8_path(entry.path().lexically_relative(base)));
    matches.push_back({replace_all(relative, u"/", u"\\"), entry.path(), entry.file_size(ignored)});
  };
  if (recurse) {
    for (auto it = fs::recursive_directory_iterator(base, failure); !failure && it != fs::recursive_directory_iterator();
         it.increment(failure))
      consider(*it);
  } else {
    for (auto it = fs::directory_iterator(base, failure); !failure && it != fs::directory_iterator();
         it.increment(failure))
      consider(*it);
  }
  if (failure) {
    error = utf8_path(base) + ": " + failure.message();
    return false;
  }
  std::sort(matches.begin(), matches.end(), [](const Match& a, const Match& b) { return a.relative < b.relative; });
  if (matches.empty()) {
    error = "the source pattern \"" + to_utf8(pattern_text) + "\" matches no file";
    return false;
  }
  return true;
}

}  // namespace

bool add_product_files(const SourceProgram& program, Payload& payload, const std::string& files_root,
                       std::vector<DataFile>& data, std::vector<Diagnostic>& diagnostics) {
  bool ok = true;
  auto report = [&](const SourceCommand& command, std::string message, bool warning = false) {
    diagnostics.push_back({command.file, command.line, std::move(message), warning});
    ok &= warning;
  };
  // The size table lists the predefined component, then every component
  // the script defines, in the order first defined.
  std::vector<std::pair<Text, int64_t>> sizes{{Text(kPredefinedComponent), 0}};
  auto size_slot = [&](TextView component) -> int64_t* {
    for (auto& [path, size] : sizes)
      if (equals_ignore_case(path, component)) return &size;
    return nullptr;
  };
  for (size_t i = 0; i < payload.command_count(); ++i)
    if (payload.command_names[i] == kDefineComponent && !payload.disabled(i)) {
      Text path = payload.parameters.get(payload.command_ids[i], 1);
      if (!size_slot(path)) sizes.emplace_back(path, 0);
    }

  std::set<Text> headers;
  payload.total_transfer_size = 0;
  for (size_t i = 0; i < payload.command_count(); ++i) {
    if (!installs_files(payload.command_names[i]) || payload.disabled(i)) continue;
    const SourceCommand& command = program.commands[i];
    const Text& id = payload.command_ids[i];
    if (files_root.empty()) {
      report(command, to_utf8(payload.command_names[i]) + " needs a project with a files folder (build with --project)");
      continue;
    }
    SourceOptions options;
    std::string error;
    std::vector<Match> matches;
    if (!parse_options(has_build_options(payload.command_names[i]) ? payload.parameters.get(id, 2) : Text(), options,
                       error) ||
        !match_files(host_path(files_root), payload.parameters.get(id, 1), options.recurse, matches, error)) {
      report(command, error);
      continue;
    }
    int64_t* component_size = size_slot(options.component);
    if (!component_size)
      report(command, "component \"" + to_utf8(options.component) + "\" is not defined by the script", true);
    Text header;
    for (int attempt = 0; header.empty() || !headers.insert(header).second; ++attempt)
      header = files_header(payload.project_guid, i, attempt);
    payload.command_headers.add(header);
    payload.command_headers.add(decimal(static_cast<int64_t>(i)));
    payload.header_file_table.add(header);
    payload.header_file_table.add(u"NEWHEADER");
    for (const Match& match : matches) {
      Text stored = header + u"\\" + match.relative;
      payload.header_file_table.add(stored);
      size_t last = match.relative.rfind(u'\\');
      payload.header_file_table.add(last == Text::npos ? Text() : match.relative.substr(0, last));
      data.push_back({utf8_path(match.path), to_utf8(replace_all(stored, u"\\", u"/"))});
      payload.total_transfer_size += static_cast<int64_t>(match.size);
      if (component_size) *component_size += static_cast<int64_t>(match.size);
    }
  }
  payload.size_table.clear();
  for (const auto& [path, size] : sizes) {
    payload.size_table.add(path);
    payload.size_table.add(decimal(size));
  }
  return ok;
}

}  // namespace kyt::build
