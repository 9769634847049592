#include "media/archive_wrappers.h"

#include <memory>
#include <set>

namespace kyt {

namespace {

constexpr TextView kLevelFast = u"-ms=on -mhc=on -m0=BCJ2 -m1=LZMA2 -m1d=23 -m1mf=hc4 -m1fb=64 ";
constexpr TextView kLevelNormal = u"-ms=on -mhc=on -m0=BCJ2 -m1=LZMA2 -m1d=23 -m1mf=bt4 -m1fb=64 ";
constexpr TextView kLevelHigh =
    u"-ms=on -mhc=on -m0=BCJ2 -m1=LZMA2 -m1d=25 -m1mf=bt4 -m1fb=64 -m2=LZMA2 -m2d=20 -m2mf=bt4 -m2fb=64 "
    u"-m3=LZMA2 -m3d=20 -m3mf=bt4 -m3fb=64 -mb0:1 -mb0s1:2 -mb0s2:3 ";
constexpr TextView kLevelUltra =
    u"-ms=on -mhc=on -m0=BCJ2 -m1=LZMA2 -m1d=26 -m1mf=bt4 -m1fb=64 -m2=LZMA2 -m2d=20 -m2mf=bt4 -m2fb=64 "
    u"-m3=LZMA2 -m3d=20 -m3mf=bt4 -m3fb=64 -mb0:1 -mb0s1:2 -mb0s2:3 ";

TextView level_switches(TextView level) {
  if (level == u"0") return u"-ms=off -mhc=off -m0=None -m0=Copy ";
  if (level == u"1") return kLevelFast;
  if (level == u"2") return kLevelNormal;
  if (level == u"3") return kLevelHigh;
  return kLevelUltra;
}

}  // namespace

Text compression_preset(TextView level, int processors, bool encrypt_headers) {
  TextView switches = level_switches(level);
  Text threads;
  auto contains = [&](TextView part) { return switches.find(part) != TextView::npos; };
  if (processors <= 1) threads = u"-mmt=off ";
  else if (contains(u"-m1d=26") || contains(u"-m1d=29") || contains(u"-m1d=30")) threads = u"-mmt=2 ";
  else if (contains(u"-m1d=25")) threads = processors < 3 ? u"-mmt=" + decimal(processors) + u" " : Text(u"-mmt=3 ");
  else threads = u"-mmt=" + decimal(processors) + u" ";
  return Text(u"-ssw ") + (encrypt_headers ? u"-mhe=on " : u"-mhe=off ") + threads + Text(switches);
}

std::optional<int32_t> archive_method_code(int64_t index) {
  static constexpr int32_t kCodes[] = {0, 5, 4, 6, 130, 132, 1};
  if (index < 0 || index > 6) return std::nullopt;
  return kCodes[index];
}

void remove_duplicate_entries(std::vector<Text>& list) {
  std::set<Text> seen;
  std::vector<Text> distinct;
  bool removed = false;
  for (size_t i = list.size(); i-- > 0;) {
    Text lower = to_lower(list[i]);
    if (!seen.insert(lower).second) {
      removed = true;
      continue;
    }
    distinct.push_back(lower);
  }
  if (removed) list = std::move(distinct);
}

Text archive_error_text(uint32_t code) { return u"#" + decimal(code); }

Text ArchiveWrappers::repair_path(const Text& path) const {
  return environment_.repair_folder(folder_of(path)) + file_name_of(path);
}

Text ArchiveWrappers::prepare_list_a(const Text& path) const {
  // grandparent\last\name: the grandparent is repaired, the rest kept.
  Text folder = folder_of(path);
  Text name = path.substr(folder.size());
  Text parent = folder.empty() ? Text() : folder.substr(0, folder.size() - 1);
  size_t slash = parent.find_last_of(u'\\');
  Text grandparent = slash == Text::npos ? Text() : parent.substr(0, slash + 1);
  Text last = parent.substr(grandparent.size());
  if (name == u"*.*") name = u"*";
  return environment_.repair_folder(grandparent) + last + (last.empty() ? u"" : u"\\") + name;
}

Text ArchiveWrappers::prepare_list_b(const Text& path) const {
  Text folder = folder_of(path);
  Text name = path.substr(folder.size());
  if (name == u"*.*") name = u"*";
  return environment_.repair_folder(folder) + name;
}

ArchivePassword ArchiveWrappers::password_once(const Text& password) {
  auto used = std::make_shared<bool>(false);
  return [password, used]() -> std::optional<Text> {
    if (*used || password.empty()) return std::nullopt;
    *used = true;
    return password;
  };
}

bool ArchiveWrappers::create(const Text& archive, int32_t method, std::vector<Text> list_a,
                             std::vector<Text> list_b, int32_t mode, const Text& switches, const Text& password,
                             const ArchiveProgress& progress, Text& error) {
  try {
    remove_duplicate_entries(list_a);
    remove_duplicate_entries(list_b);
    environment_.trim_working_set();
    Text target = repair_path(archive);
    for (auto& item : list_a) item = prepare_list_a(item);
    for (auto& item : list_b) item = prepare_list_b(item);

    int level = 0;
    bool encrypt_headers = false;
    for (auto [candidate, flag] : {std::pair{u"4", true}, {u"4", false}, {u"3", true}, {u"3", false}, {u"2", true},
                                   {u"2", false}, {u"5", true}, {u"5", false}, {u"6", true}, {u"6", false}}) {
      if (equals_ignore_case(switches, compression_preset(candidate, environment_.processors, flag))) {
        level = candidate[0] - u'0';
        encrypt_headers = flag;
        break;
      }
    }
    error.clear();
    if (library_.create_archive(target, method, list_a, list_b, mode, switches, password, progress)) return true;
    uint32_t code = library_.last_error();
    error = archive_error_text(code);
    if (code != kArchiveOutOfResources || level == 0) return false;

    std::vector<Text> retries;
    if (!environment_.wow64) {
      retries = {decimal(level - 1), decimal(level - 2), u"1"};
    } else if (level == 6) {
      retries = {u"5", u"4", u"2"};
    } else if (level == 5) {
      retries = {u"4", u"3", u"2"};
    } else {
      retries = {u"6", u"5", u"2"};
    }
    for (const Text& retry : retries) {
      Text preset = compression_preset(retry, environment_.processors, encrypt_headers);
      if (library_.create_archive(target, method, list_a, list_b, mode, preset, password, progress)) {
        error.clear();
        return true;
      }
      code = library_.last_error();
      error = archive_error_text(code);
      if (code != kArchiveOutOfResources) return false;
    }
    return false;
  } catch (const std::exception& e) {
    error = from_utf8(e.what());
    return false;
  }
}

bool ArchiveWrappers::extract(const Text& archive, const Text& destination, std::vector<Text> items, bool keep_paths,
                              bool overwrite, const Text& password, const ArchiveProgress& progress, Text& error,
                              const OutOfProcess& out_of_process) {
  Text source = repair_path(archive);
  Text target = with_backslash(environment_.repair_folder(with_backslash(destination)));
  error.clear();
  if (items.empty()) {
    std::vector<ArchiveListEntry> entries;
    if (!list(source, password, entries, error)) return false;
    for (auto& entry : entries) items.push_back(std::move(entry.name));
  }
  auto answer = [overwrite] { return overwrite; };
  if (library_.extract_archive(source, target, items, keep_paths, password, password_once(password), progress, answer))
    return true;
  error = archive_error_text(library_.last_error());
  if (library_.last_error() != kArchiveOutOfResources) return false;
  environment_.trim_working_set();
  if (library_.extract_archive(source, target, items, keep_paths, password, password_once(password), progress, answer)) {
    error.clear();
    return true;
  }
  error = archive_error_text(library_.last_error());
  if (library_.last_error() != kArchiveOutOfResources || !out_of_process) return false;
  auto result = out_of_process(source, password, target, items, keep_paths, overwrite);
  error = result ? *result : archive_error_text(kArchiveCannotStartExtractor);
  return error.empty();
}

bool ArchiveWrappers::test(const Text& archive, const Text& password, const ArchiveProgress& progress, Text& error) {
  Text source = repair_path(archive);
  error.clear();
  if (library_.test_archive(source, password, password_once(password), progress)) return true;
  error = archive_error_text(library_.last_error());
  return false;
}

bool ArchiveWrappers::remove(const Text& archive, std::vector<Text> items, const Text& password,
                             const ArchiveProgress& progress, Text& error) {
  Text source = repair_path(archive);
  for (auto& item : items) item = prepare_list_a(item);
  error.clear();
  if (library_.delete_from_archive(source, items, password, progress)) return true;
  error = archive_error_text(library_.last_error());
  return false;
}

bool ArchiveWrappers::list(const Text& archive, const Text& password, std::vector<ArchiveListEntry>& entries,
                           Text& error) {
  Text source = repair_path(archive);
  entries.clear();
  if (library_.list_archive(source, password, password_once(password), entries)) return true;
  error = archive_error_text(library_.last_error());
  return false;
}

}  // namespace kyt
