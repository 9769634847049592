#include "install/undo_log.h"

#include <array>

#include "base/comma_text.h"
#include "base/text_file.h"

namespace kyt {

namespace {
constexpr std::array<TextView, 4> kSuffixes = {u".native.elements.log", u".native.data.log", u".native.weight.log",
                                               u".native.bitness.log"};

struct UndoOperation {
  TextView action, element;
  int64_t weight;
};
constexpr UndoOperation kOperations[] = {
    {u"Write Registry", u"Delete Registry", 512},
    {u"Create File", u"Delete File", 1024},
    {u"Register File", u"Unregister File", 102400},
    {u"Share File", u"Unshare File", 512},
    {u"Share Self Registering File", u"Unshare Self Registering File", 102912},
    {u"Install Assembly", u"Remove Assembly", 102400},
    {u"Create Service", u"Delete Service", 5120},
    {u"Install ODBC Driver", u"Delete ODBC Driver", 10240},
    {u"Set Environment", u"Delete Environment", 1024},
    {u"Edit INI File", u"Remove INI Entry", 10240},
    {u"Create ODBC DSN", u"Remove ODBC DSN", 5120},
    {u"Create Folder", u"Delete Folder", 1024},
};

// The complete lines of a file: a last line without its line end is a cut
// write and does not count.
std::vector<Text> complete_lines(const std::optional<std::string>& bytes) {
  std::vector<Text> lines;
  if (!bytes) return lines;
  std::string_view text = strip_utf8_bom(*bytes);
  size_t start = 0;
  for (size_t at = text.find('\n'); at != std::string_view::npos; at = text.find('\n', start)) {
    std::string_view line = text.substr(start, at - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(from_utf8(line));
    start = at + 1;
  }
  return lines;
}
}  // namespace

const std::array<TextView, 4>& UndoLog::suffixes() { return kSuffixes; }

UndoEntry undo_entry_for(TextView action, const std::vector<Text>& fields, TextView bitness) {
  for (const auto& operation : kOperations) {
    if (operation.action != action) continue;
    int64_t weight = operation.weight;
    if (action == u"Write Registry" && fields.size() > 3) weight += 512 * static_cast<int64_t>(fields.size() - 3);
    if (action == u"Create Folder") weight = 1024 * static_cast<int64_t>(fields.size());
    return {Text(operation.element), to_comma_text(fields), weight, Text(bitness)};
  }
  return {};
}

void UndoLog::record(TextView action, const std::vector<Text>& fields, TextView bitness, bool logging_off) {
  if (logging_off) return;
  UndoEntry entry = undo_entry_for(action, fields, bitness);
  if (!entry.element.empty()) pending_.push_back(std::move(entry));
}

void UndoLog::withdraw_last(bool logging_off) {
  if (!logging_off && !pending_.empty()) pending_.pop_back();
}

bool UndoLog::flush(FileSystem& files, const Text& base) {
  if (pending_.empty()) return false;
  Text folder = folder_of(base);
  bool created = !folder.empty() && !files.exists(folder);
  if (created) files.create_folders(folder);
  for (size_t part = 0; part < 4; ++part) {
    Text path = base + Text(kSuffixes[part]);
    std::string bytes = files.read_file(path).value_or(std::string());
    for (const UndoEntry& entry : pending_) {
      const Text& line = part == 0 ? entry.element : part == 1 ? entry.data : part == 3 ? entry.bitness : Text();
      bytes += to_utf8(part == 2 ? decimal(entry.weight) : line);
      bytes += "\r\n";
    }
    files.write_file(path, bytes);
  }
  pending_.clear();
  return created;
}

bool UndoLog::ensure(FileSystem& files, const Text& base, bool create) {
  size_t present = 0;
  for (TextView suffix : kSuffixes) present += files.exists(base + Text(suffix)) ? 1 : 0;
  if (present == 4) return true;
  if (!create || present != 0) return false;
  if (Text folder = folder_of(base); !folder.empty()) files.create_folders(folder);
  for (TextView suffix : kSuffixes)
    if (!files.write_file(base + Text(suffix), "")) return false;
  return true;
}

std::vector<UndoEntry> UndoLog::load(FileSystem& files, const Text& base) {
  std::array<std::vector<Text>, 4> columns;
  for (size_t part = 0; part < 4; ++part) {
    Text path = base + Text(kSuffixes[part]);
    if (!files.exists(path)) return {};
    columns[part] = complete_lines(files.read_file(path));
  }
  size_t count = columns[0].size();
  for (const auto& column : columns) count = std::min(count, column.size());
  std::vector<UndoEntry> entries;
  for (size_t i = 0; i < count; ++i)
    entries.push_back({columns[0][i], columns[1][i], parse_int64(columns[2][i]).value_or(0), columns[3][i]});
  return entries;
}

void UndoLog::remove(FileSystem& files, const Text& base) {
  for (TextView suffix : kSuffixes) files.remove_file(base + Text(suffix));
}

}  // namespace kyt
