#include "media/archive_engine_win32.h"

#include <windows.h>
#include <ntsecapi.h>

#include <map>
#include <mutex>

#include "base/text_file.h"
#include "system/file_system_win32.h"
#include "system/handle_win32.h"
#include "system/process_paths_win32.h"
#include "system/system_queries_win32.h"

namespace kyt {

namespace {

int processor_count() {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return static_cast<int>(info.dwNumberOfProcessors);
}

// A new random GUID in its braced text form (version 4).
Text new_guid_text() {
  unsigned char bytes[16] = {};
  if (!RtlGenRandom(bytes, sizeof(bytes))) {
    uint64_t seed = GetTickCount64() ^ (uint64_t(GetCurrentProcessId()) << 32);
    for (auto& b : bytes) b = static_cast<unsigned char>((seed = seed * 6364136223846793005ull + 1) >> 56);
  }
  bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);
  bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);
  static const char16_t digits[] = u"0123456789ABCDEF";
  Text text = u"{";
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text.push_back(u'-');
    text.push_back(digits[bytes[i] >> 4]);
    text.push_back(digits[bytes[i] & 0xF]);
  }
  return text + u"}";
}

// Creates a file that did not exist; false when the name is taken.
bool write_new_file(const Text& path, const std::string& bytes) {
  UniqueFile file(CreateFileW(wide(path), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  DWORD written = 0;
  return WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

}  // namespace

Text repair_folder_path(const Text& folder) {
  if (folder.find(u'?') == Text::npos) return folder;
  static std::mutex mutex;
  static std::map<Text, Text> cache;
  std::lock_guard lock(mutex);
  if (auto it = cache.find(folder); it != cache.end()) return it->second;
  // Keep the root ("C:\" or "\\server\share\") and rebuild each element below it.
  size_t start = folder.starts_with(u"\\\\") ? folder.find(u'\\', folder.find(u'\\', 2) + 1) + 1 : 3;
  if (start == 0 || start > folder.size()) return folder;
  Text repaired = folder.substr(0, start);
  size_t at = start;
  while (at < folder.size()) {
    size_t slash = folder.find(u'\\', at);
    Text element = folder.substr(at, slash == Text::npos ? Text::npos : slash - at);
    Text real = element;
    if (element.find(u'?') != Text::npos) {
      WIN32_FIND_DATAW data;
      HANDLE find = FindFirstFileW(wide(repaired + u"*"), &data);
      if (find != INVALID_HANDLE_VALUE) {
        do {
          Text name = from_wide(data.cFileName), alternate = from_wide(data.cAlternateFileName);
          // The ANSI form of the real name, as the damaged text was made.
          char ansi[MAX_PATH * 2] = {};
          WideCharToMultiByte(CP_ACP, 0, data.cFileName, -1, ansi, sizeof(ansi), nullptr, nullptr);
          Text ansi_name = ascii(ansi);
          for (auto& c : ansi_name) c = static_cast<unsigned char>(c) >= 0x80 ? u'?' : c;
          if (equals_ignore_case(ansi_name, element) || equals_ignore_case(alternate, element)) {
            real = name;
            break;
          }
        } while (FindNextFileW(find, &data));
        FindClose(find);
      }
    }
    repaired += real;
    if (slash == Text::npos) break;
    repaired += u"\\";
    at = slash + 1;
  }
  cache[folder] = repaired;
  return repaired;
}

Win32Archives::Win32Archives()
    : wrappers_(library_, ArchiveEnvironment{
                              .processors = processor_count(),
                              .wow64 = running_under_wow64(),
                              .repair_folder = repair_folder_path,
                              .trim_working_set =
                                  [] { SetProcessWorkingSetSize(GetCurrentProcess(), SIZE_T(-1), SIZE_T(-1)); },
                          }) {}

void Win32Archives::prepare(const Text& application_data) {
  if (application_data.empty()) return;
  Text folder = application_data;
  if (folder.back() != u'\\') folder.push_back(u'\\');
  folder += u"ZUVIZ\\";
  CreateDirectoryW(wide(folder), nullptr);
  DeleteFileW(wide(folder + u"7z.dll"));
  library_.set_7zip_dll_directory(folder);
}

std::optional<Text> Win32Archives::extract_out_of_process(const Text& archive, const Text& password,
                                                          const Text& destination, const std::vector<Text>& items,
                                                          bool keep_paths, bool overwrite) {
  Text control = temporary_folder() + new_guid_text();
  Text items_file = control + u"items";
  std::vector<Text> lines = {archive, password, destination, bool_text(keep_paths), bool_text(overwrite)};
  if (!write_new_file(control, write_utf8_lines(lines, true)) ||
      !write_new_file(items_file, items.empty() ? std::string() : write_utf8_lines(items, true))) {
    DeleteFileW(wide(control));
    return std::nullopt;
  }
  Text command = u"\"" + module_path() + u"\" OutOfProcessExtract \"" + control + u"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION process{};
  std::optional<Text> result;
  if (CreateProcessW(nullptr, const_cast<wchar_t*>(wide(command)), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                     &startup, &process)) {
    UniqueHandle process_handle(process.hProcess), thread_handle(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    Win32FileSystem files;
    auto bytes = files.read_file(control);
    std::vector<Text> answer = bytes ? read_utf8_lines(*bytes) : std::vector<Text>();
    result = answer.empty() ? Text() : answer[0];
  }
  DeleteFileW(wide(control));
  DeleteFileW(wide(items_file));
  return result;
}

int run_out_of_process_extract(const Text& control_file) {
  Win32FileSystem files;
  auto control = files.read_file(control_file);
  if (!control) return 1;
  std::vector<Text> lines = read_utf8_lines(*control);
  lines.resize(std::max<size_t>(lines.size(), 5));
  std::vector<Text> items;
  if (auto list = files.read_file(control_file + u"items")) items = read_utf8_lines(*list);
  if (!files.exists(lines[0])) return 2;
  Win32Archives archives;
  Text error;
  archives.wrappers().extract(lines[0], lines[2], items, is_true(lines[3]), is_true(lines[4]), lines[1], {}, error);
  files.write_file(control_file, write_utf8_lines({error}, true));
  return 0;
}

}  // namespace kyt
