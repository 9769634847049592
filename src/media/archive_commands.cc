// The archive commands: extract, test, compress, delete and list 7z
// archives through the archive library.
#include "base/comma_text.h"
#include "media/archive_wrappers.h"
#include "script/catalog.h"
#include "script/interpreter.h"
#include "script/worker.h"

namespace kyt {

namespace {

ArchiveWrappers& wrappers(CommandContext& command) {
  ArchiveWrappers* archives = command.host().archives();
  if (!archives) throw ScriptError(u"The archive library is not available");
  return *archives;
}

// The workers' progress: "name, NN% complete" (or "NN% complete") into the
// reserved progress variables; false once the worker is asked to stop.
ArchiveProgress progress_reporter(CommandContext& command, const std::atomic<bool>& stop, bool with_name) {
  Variables& variables = command.variables();
  Host& host = command.host();
  return [&variables, &host, &stop, with_name](TextView item, int64_t done, int64_t total) {
    int64_t percent = total > 0 ? std::min<int64_t>(done * 100 / total + 1, 100) : 100;
    Text text = decimal(percent) + u"% complete";
    if (with_name) text = file_name_of(item) + u", " + text;
    report_progress(variables, host, text, 0, 100, percent);
    return !stop.load();
  };
}

void store_outcome(CommandContext& command, size_t result_parameter, bool ok, const Text& error) {
  Text result = command.variable(result_parameter);
  if (!result.empty()) command.store(result, ok ? Text(u"SUCCESS") : error);
}

std::vector<Text> split_bars(const Text& text) {
  std::vector<Text> items;
  if (text.empty()) return items;
  size_t start = 0;
  while (true) {
    size_t bar = text.find(u'|', start);
    items.push_back(text.substr(start, bar == Text::npos ? Text::npos : bar - start));
    if (bar == Text::npos) break;
    start = bar + 1;
  }
  return items;
}

void extract_7zip_archive(CommandContext& command) {
  Text archive = command.path(1), destination = command.path(2), password = command.expanded(4);
  bool overwrite = is_true(command.expanded(5)), keep_paths = is_true(command.expanded(6));
  ArchiveWrappers& archives = wrappers(command);
  Host& host = command.host();
  bool ok = false;
  Text error;
  run_worker(command, u"Cancel at Extract-7Zip Time", [&](const std::atomic<bool>& stop) {
    host.files().create_folders(destination);
    auto out_of_process = [&host](const Text& a, const Text& p, const Text& d, const std::vector<Text>& items,
                                  bool paths, bool over) { return host.extract_out_of_process(a, p, d, items, paths, over); };
    ok = archives.extract(archive, destination, {}, keep_paths, overwrite, password,
                          progress_reporter(command, stop, true), error, out_of_process);
  });
  store_outcome(command, 3, ok, error);
}

void test_7zip_archive(CommandContext& command) {
  Text archive = command.path(1), password = command.expanded(2);
  ArchiveWrappers& archives = wrappers(command);
  bool ok = false;
  Text error;
  run_worker(command, u"Cancel at Extract-7Zip Time", [&](const std::atomic<bool>& stop) {
    ok = archives.test(archive, password, progress_reporter(command, stop, true), error);
  });
  store_outcome(command, 3, ok, error);
}

void compress_7zip_archive(CommandContext& command) {
  Text archive = command.path(1), password = command.expanded(2);
  std::vector<Text> list_a = split_bars(command.path(3)), list_b = split_bars(command.path(4));
  Session::ArchiveSettings& settings = command.session().archive;
  if (auto code = archive_method_code(parse_int64(command.expanded(5)).value_or(-1))) settings.method = *code;
  if (is_true(command.expanded(7))) settings.mode = 2;
  if (is_true(command.expanded(8))) settings.mode = 0;
  if (is_true(command.expanded(9))) settings.mode = 1;
  Text switches = command.expanded(6);
  ArchiveWrappers& archives = wrappers(command);
  bool ok = false;
  Text error;
  run_worker(command, u"Cancel at Compress-7Zip Time", [&](const std::atomic<bool>& stop) {
    ok = archives.create(archive, settings.method, list_a, list_b, settings.mode, switches, password,
                         progress_reporter(command, stop, true), error);
  });
  store_outcome(command, 10, ok, error);
}

void delete_7zip_archive(CommandContext& command) {
  Text archive = command.path(1), password = command.expanded(2);
  std::vector<Text> items = split_bars(command.path(3));
  ArchiveWrappers& archives = wrappers(command);
  bool ok = false;
  Text error;
  run_worker(command, u"Cancel at Delete-7Zip Time", [&](const std::atomic<bool>& stop) {
    ok = archives.remove(archive, items, password, progress_reporter(command, stop, false), error);
  });
  store_outcome(command, 4, ok, error);
}

void list_7zip_archive(CommandContext& command) {
  Text archive = command.path(1), password = command.expanded(2);
  std::vector<ArchiveListEntry> entries;
  Text error;
  Text value;
  if (wrappers(command).list(archive, password, entries, error)) {
    std::vector<Text> names;
    for (auto& entry : entries) names.push_back(std::move(entry.name));
    value = to_bar_list(names);
  } else {
    value = u"#ERROR\\" + error;
  }
  Text result = command.variable(3);
  if (!result.empty()) command.store(result, value);
}

}  // namespace

void add_archive_commands(Catalog& catalog) {
  constexpr uint16_t result = kResult | kOptional;
  catalog.add({u"Extract 7Zip Archive", extract_7zip_archive, Builtin::none,
               {{u"archive"}, {u"destination"}, {u"variable", result}, {u"password"}, {u"overwrite"}, {u"paths"}}});
  catalog.add({u"Test 7Zip Archive", test_7zip_archive, Builtin::none,
               {{u"archive"}, {u"password"}, {u"variable", result}}});
  catalog.add({u"Compress 7Zip Archive", compress_7zip_archive, Builtin::none,
               {{u"archive"}, {u"password"}, {u"files_with_folder"}, {u"files"}, {u"method"}, {u"switches"},
                {u"mode_2"}, {u"mode_0"}, {u"mode_1"}, {u"variable", result}}});
  catalog.add({u"Delete 7Zip Archive", delete_7zip_archive, Builtin::none,
               {{u"archive"}, {u"password"}, {u"items"}, {u"variable", result}}});
  catalog.add({u"List 7Zip Archive", list_7zip_archive, Builtin::none,
               {{u"archive"}, {u"password"}, {u"variable", result}}});
}

}  // namespace kyt
