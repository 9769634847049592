#include "install/machine_win32.h"

#include <windows.h>
#include <fusion.h>
#include <aclapi.h>

#include <mutex>

#include <cstring>

#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>

#include "bootstrap/pe_image.h"
#include "system/com_win32.h"
#include "system/file_system_win32.h"
#include "system/handle_win32.h"
#include "system/system_library_win32.h"
#include "system/system_queries_win32.h"

namespace kyt {

namespace {

bool windows_is_64_bit() { return sizeof(void*) == 8 || running_under_wow64(); }

HKEY root_handle(int root) {
  switch (root) {
    case 0: return HKEY_CLASSES_ROOT;
    case 1: return HKEY_CURRENT_USER;
    case 3: return HKEY_USERS;
    case 4: return HKEY_CURRENT_CONFIG;
    default: return HKEY_LOCAL_MACHINE;
  }
}

// The root of a key, connected to a remote computer when one is named.
class Root {
 public:
  explicit Root(const RegistryKey& key) {
    handle_ = root_handle(key.root);
    if (!key.computer.empty()) {
      HKEY remote = nullptr;
      error_ = RegConnectRegistryW(wide(key.computer), handle_, &remote);
      handle_ = remote;
      remote_.reset(remote);
    }
  }
  HKEY get() const { return handle_; }
  LONG error() const { return error_; }

 private:
  HKEY handle_ = nullptr;
  UniqueKey remote_;
  LONG error_ = ERROR_SUCCESS;
};

class OpenKey {
 public:
  OpenKey(const RegistryKey& key, REGSAM access, REGSAM view) : root_(key) {
    if (root_.error() != ERROR_SUCCESS) {
      error_ = root_.error();
      return;
    }
    HKEY handle = nullptr;
    error_ = RegOpenKeyExW(root_.get(), wide(key.path), 0, access | view, &handle);
    key_.reset(handle);
  }
  HKEY get() const { return key_.get(); }
  LONG error() const { return error_; }

 private:
  Root root_;
  UniqueKey key_;
  LONG error_ = ERROR_SUCCESS;
};

std::string value_bytes(const RegistryValue& value, DWORD& type) {
  type = value.type;
  auto utf16 = [](const Text& text) {
    return std::string(reinterpret_cast<const char*>(text.c_str()), (text.size() + 1) * sizeof(char16_t));
  };
  switch (value.type) {
    case kRegDword:
      return std::string(reinterpret_cast<const char*>(&value.number), sizeof(value.number));
    case kRegBinary:
      return value.bytes;
    case kRegMultiSz: {
      std::string bytes;
      for (const Text& s : value.strings) bytes += utf16(s);
      bytes += std::string(sizeof(char16_t), '\0');
      return bytes;
    }
    default:
      return utf16(value.text);
  }
}

}  // namespace

void Win32Machine::enter_mode(TextView mode64) {
  if (!windows_is_64_bit()) return;
  view_ = mode64 == u"Win32" ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
  if (mode64 != u"Win32" && running_under_wow64()) {
    using DisableFn = BOOL(WINAPI*)(PVOID*);
    if (auto disable = system_function_as<DisableFn>(SystemFunction::Wow64DisableWow64FsRedirection))
      redirection_off_ = disable(&redirection_) != FALSE;
  }
}

void Win32Machine::leave_mode() {
  if (redirection_off_) {
    using RevertFn = BOOL(WINAPI*)(PVOID);
    if (auto revert = system_function_as<RevertFn>(SystemFunction::Wow64RevertWow64FsRedirection))
      revert(redirection_);
    redirection_off_ = false;
  }
  // Outside an action the registry view is the 32-bit one.
  view_ = windows_is_64_bit() ? KEY_WOW64_32KEY : 0;
}

bool Win32Machine::key_exists(const RegistryKey& key) { return OpenKey(key, KEY_READ, view_).get() != nullptr; }

std::optional<RegistryValue> Win32Machine::read_value(const RegistryKey& key, TextView name) {
  OpenKey open(key, KEY_QUERY_VALUE, view_);
  if (!open.get()) return std::nullopt;
  Text value_name(name);
  DWORD type = 0, size = 0;
  if (RegQueryValueExW(open.get(), wide(value_name), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
    return std::nullopt;
  std::string bytes(size + 4, '\0');
  if (RegQueryValueExW(open.get(), wide(value_name), nullptr, &type, reinterpret_cast<BYTE*>(bytes.data()), &size) !=
      ERROR_SUCCESS)
    return std::nullopt;
  bytes.resize(size);
  RegistryValue value;
  value.type = type;
  auto text_of = [](std::string_view b) {
    Text text(reinterpret_cast<const char16_t*>(b.data()), b.size() / sizeof(char16_t));
    while (!text.empty() && text.back() == u'\0') text.pop_back();
    return text;
  };
  switch (type) {
    case REG_DWORD:
      if (bytes.size() >= 4) std::memcpy(&value.number, bytes.data(), 4);
      break;
    case REG_MULTI_SZ: {
      Text all(reinterpret_cast<const char16_t*>(bytes.data()), bytes.size() / sizeof(char16_t));
      while (!all.empty() && all.back() == u'\0') all.pop_back();
      size_t start = 0;
      while (start <= all.size() && !all.empty()) {
        size_t end = all.find(u'\0', start);
        value.strings.push_back(all.substr(start, end == Text::npos ? Text::npos : end - start));
        if (end == Text::npos) break;
        start = end + 1;
      }
      break;
    }
    case REG_SZ:
    case REG_EXPAND_SZ:
      value.text = text_of(bytes);
      break;
    default:
      value.bytes = bytes;
  }
  return value;
}

uint32_t Win32Machine::write_value(const RegistryKey& key, TextView name, const RegistryValue& value) {
  Root root(key);
  if (root.error() != ERROR_SUCCESS) return root.error();
  HKEY handle = nullptr;
  LONG code = RegCreateKeyExW(root.get(), wide(key.path), 0, nullptr, 0, KEY_SET_VALUE | view_, nullptr, &handle,
                              nullptr);
  if (code != ERROR_SUCCESS) return code;
  UniqueKey owner(handle);
  DWORD type = 0;
  std::string bytes = value_bytes(value, type);
  Text value_name(name);
  return RegSetValueExW(handle, wide(value_name), 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                        static_cast<DWORD>(bytes.size()));
}

uint32_t Win32Machine::delete_value(const RegistryKey& key, TextView name) {
  OpenKey open(key, KEY_SET_VALUE, view_);
  if (!open.get()) return open.error();
  Text value_name(name);
  return RegDeleteValueW(open.get(), wide(value_name));
}

bool Win32Machine::key_is_empty(const RegistryKey& key) {
  OpenKey open(key, KEY_READ, view_);
  if (!open.get()) return true;
  DWORD subkeys = 0, values = 0;
  if (RegQueryInfoKeyW(open.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                       nullptr, nullptr) != ERROR_SUCCESS)
    return false;
  return subkeys == 0 && values == 0;
}

uint32_t Win32Machine::delete_key(const RegistryKey& key) {
  Root root(key);
  if (root.error() != ERROR_SUCCESS) return root.error();
  return RegDeleteKeyExW(root.get(), wide(key.path), view_, 0);
}

std::vector<Text> Win32Machine::subkeys(const RegistryKey& key) {
  std::vector<Text> names;
  OpenKey open(key, KEY_READ, view_);
  if (!open.get()) return names;
  wchar_t name[256];
  for (DWORD i = 0;; ++i) {
    DWORD length = 256;
    if (RegEnumKeyExW(open.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    names.push_back(from_wide(name, length));
  }
  return names;
}

std::vector<Text> Win32Machine::value_names(const RegistryKey& key) {
  std::vector<Text> names;
  OpenKey open(key, KEY_READ, view_);
  if (!open.get()) return names;
  std::vector<wchar_t> name(16384);
  for (DWORD i = 0;; ++i) {
    DWORD length = static_cast<DWORD>(name.size());
    if (RegEnumValueW(open.get(), i, name.data(), &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    names.push_back(from_wide(name.data(), length));
  }
  return names;
}

bool Win32Machine::exists(const Text& path) { return GetFileAttributesW(wide(path)) != INVALID_FILE_ATTRIBUTES; }

bool Win32Machine::is_folder(const Text& path) {
  DWORD attributes = GetFileAttributesW(wide(path));
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::optional<std::array<uint16_t, 4>> Win32Machine::file_version(const Text& path) {
  return Win32SystemQueries().file_version(path);
}

std::optional<FileFacts> Win32Machine::facts(const Text& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(wide(path), GetFileExInfoStandard, &data)) return std::nullopt;
  FileFacts facts;
  facts.size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  facts.time = static_cast<int64_t>((static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                                    data.ftLastWriteTime.dwLowDateTime);
  facts.attributes = data.dwFileAttributes;
  return facts;
}

uint32_t Win32Machine::create_folder(const Text& path) {
  return CreateDirectoryW(wide(path), nullptr) ? 0 : GetLastError();
}

uint32_t Win32Machine::remove_folder(const Text& path) {
  return RemoveDirectoryW(wide(path)) ? 0 : GetLastError();
}

bool Win32Machine::folder_is_empty(const Text& path) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW(wide(with_backslash(path) + u"*"), &data);
  if (find == INVALID_HANDLE_VALUE) return true;
  bool empty = true;
  do {
    if (wcscmp(data.cFileName, L".") != 0 && wcscmp(data.cFileName, L"..") != 0) empty = false;
  } while (empty && FindNextFileW(find, &data));
  FindClose(find);
  return empty;
}

// The copy routine: one sequential pass in large blocks with the bytes
// reported after each, the new file created plain (normal attributes) and
// given the source's times, so that later version and date comparisons see
// the original. A cancelled or failed copy leaves no partial file.
uint32_t Win32Machine::copy_file(const Text& source, const Text& target,
                                 const std::function<bool(uint64_t)>& progress) {
  UniqueFile in(CreateFileW(wide(source), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!in) return GetLastError();
  UniqueFile out(CreateFileW(wide(target), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!out) return GetLastError();
  constexpr DWORD kBlock = 1 << 20;
  static thread_local std::vector<char> buffer(kBlock);
  uint64_t copied = 0;
  uint32_t code = 0;
  for (;;) {
    DWORD read = 0, written = 0;
    if (!ReadFile(in.get(), buffer.data(), kBlock, &read, nullptr)) {
      code = GetLastError();
      break;
    }
    if (read == 0) break;
    if (!WriteFile(out.get(), buffer.data(), read, &written, nullptr) || written != read) {
      code = written != read && GetLastError() == 0 ? ERROR_DISK_FULL : GetLastError();
      break;
    }
    copied += read;
    if (progress && !progress(copied)) {
      code = ERROR_REQUEST_ABORTED;
      break;
    }
  }
  if (code == 0) {
    FILETIME created, accessed, modified;
    if (GetFileTime(in.get(), &created, &accessed, &modified)) SetFileTime(out.get(), &created, &accessed, &modified);
    return 0;
  }
  out.reset();
  DeleteFileW(wide(target));
  return code;
}

uint32_t Win32Machine::hard_link(const Text& source, const Text& target) {
  return CreateHardLinkW(wide(target), wide(source), nullptr) ? 0 : GetLastError();
}

bool Win32Machine::same_drive(const Text& a, const Text& b) {
  auto root = [](const Text& path) {
    if (path.size() >= 2 && path[1] == u':') return to_upper(path.substr(0, 2));
    if (path.starts_with(u"\\\\")) {
      size_t server = path.find(u'\\', 2), share = server == Text::npos ? Text::npos : path.find(u'\\', server + 1);
      return to_upper(path.substr(0, share));
    }
    return Text();
  };
  Text ra = root(a);
  return !ra.empty() && ra == root(b);
}

uint32_t Win32Machine::delete_file(const Text& path) {
  // A link to a folder is removed as a folder entry, never entered.
  DWORD attributes = GetFileAttributesW(wide(path));
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
      (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
    return RemoveDirectoryW(wide(path)) ? 0 : GetLastError();
  return DeleteFileW(wide(path)) ? 0 : GetLastError();
}

uint32_t Win32Machine::set_attributes(const Text& path, uint32_t attributes) {
  return SetFileAttributesW(wide(path), attributes) ? 0 : GetLastError();
}

uint32_t Win32Machine::move_file(const Text& from, const Text& to) {
  return MoveFileExW(wide(from), wide(to), MOVEFILE_COPY_ALLOWED) ? 0 : GetLastError();
}

bool Win32Machine::in_use(const Text& path) {
  UniqueFile file(CreateFileW(wide(path), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  if (file) return false;
  DWORD error = GetLastError();
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

uint32_t Win32Machine::at_restart(const Text& source, const Text& target) {
  BOOL ok = source.empty() ? MoveFileExW(wide(target), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)
                           : MoveFileExW(wide(source), wide(target),
                                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT);
  return ok ? 0 : GetLastError();
}

std::vector<Text> Win32Machine::list_files(const Text& folder, TextView pattern) {
  std::vector<Text> names;
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW(wide(with_backslash(folder) + Text(pattern)), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    bool link = data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT;
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || link) names.push_back(from_wide(data.cFileName));
  } while (FindNextFileW(find, &data));
  FindClose(find);
  return names;
}

std::vector<Text> Win32Machine::list_folders(const Text& folder) {
  std::vector<Text> names;
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW(wide(with_backslash(folder) + u"*"), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    bool real_folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                       !(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
    if (real_folder && wcscmp(data.cFileName, L".") != 0 && wcscmp(data.cFileName, L"..") != 0)
      names.push_back(from_wide(data.cFileName));
  } while (FindNextFileW(find, &data));
  FindClose(find);
  return names;
}

std::optional<Text> Win32Machine::ini_read(const Text& file, TextView section, TextView key) {
  // A default no value can have tells a missing key from an empty one.
  constexpr wchar_t kMissing[] = L"\x1F\x1E missing \x1E\x1F";
  std::vector<wchar_t> buffer(266240);
  Text s(section), k(key);
  DWORD length = GetPrivateProfileStringW(wide(s), wide(k), kMissing, buffer.data(),
                                          static_cast<DWORD>(buffer.size()), wide(file));
  Text value = from_wide(buffer.data(), length);
  if (value == from_wide(kMissing)) return std::nullopt;
  return value;
}

uint32_t Win32Machine::ini_write(const Text& file, TextView section, TextView key, TextView value) {
  Text s(section), k(key), v(value);
  return WritePrivateProfileStringW(wide(s), wide(k), wide(v), wide(file)) ? 0 : GetLastError();
}

uint32_t Win32Machine::ini_delete(const Text& file, TextView section, TextView key) {
  Text s(section), k(key);
  if (!WritePrivateProfileStringW(wide(s), wide(k), nullptr, wide(file))) return GetLastError();
  // A section left without keys goes too.
  wchar_t probe[4];
  if (GetPrivateProfileSectionW(wide(s), probe, 4, wide(file)) == 0)
    WritePrivateProfileStringW(wide(s), nullptr, nullptr, wide(file));
  return 0;
}

// Through the shell link object, on this thread's own COM apartment.
Text Win32Machine::create_shortcut(const Text& link, const Text& target, const Text& working_folder,
                                   const Text& arguments, const Text& description, const Text& icon, int icon_index,
                                   int show) {
  ComScope com(COINIT_APARTMENTTHREADED);
  if (!com.available()) return u"The shell link object is not available.";
  HRESULT result = E_FAIL;
  Com<IShellLinkW> shell_link;
  if (SUCCEEDED(com.create(CLSID_ShellLink, IID_IShellLinkW, shell_link.out_void()))) {
    shell_link->SetPath(wide(target));
    shell_link->SetWorkingDirectory(wide(working_folder));
    shell_link->SetArguments(wide(arguments));
    shell_link->SetDescription(wide(description));
    if (!icon.empty()) shell_link->SetIconLocation(wide(icon), icon_index);
    shell_link->SetShowCmd(show == 1 ? SW_SHOWMAXIMIZED : show == 2 ? SW_SHOWMINNOACTIVE : SW_SHOWNORMAL);
    Com<IPersistFile> file;
    result = shell_link->QueryInterface(IID_IPersistFile, file.out_void());
    if (SUCCEEDED(result)) result = file->Save(wide(link), TRUE);
  }
  return SUCCEEDED(result) ? Text() : error_text(static_cast<uint32_t>(result));
}

namespace {
struct WindowSearch {
  Text title_part, class_part;
  HWND found = nullptr;
};

BOOL CALLBACK find_window(HWND window, LPARAM context) {
  auto* search = reinterpret_cast<WindowSearch*>(context);
  wchar_t title[512] = {}, class_name[256] = {};
  GetWindowTextW(window, title, 512);
  GetClassNameW(window, class_name, 256);
  if (from_wide(title).find(search->title_part) != Text::npos &&
      from_wide(class_name).find(search->class_part) != Text::npos) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}
}  // namespace

void Win32Machine::close_windows(TextView title_part, TextView class_part) {
  for (int round = 0; round < 10; ++round) {
    WindowSearch search{Text(title_part), Text(class_part)};
    EnumWindows(find_window, reinterpret_cast<LPARAM>(&search));
    if (!search.found) continue;
    PostMessageW(search.found, WM_CANCELMODE, 0, 0);
    PostMessageW(search.found, WM_CLOSE, 0, 0);
  }
}

std::optional<uint32_t> Win32Machine::run_program(const Text& program, const Text& arguments, const Text& folder,
                                                 TextView mode64) {
  Text command_line = u"\"" + program + u"\" " + arguments;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(wide(program), const_cast<wchar_t*>(wide(command_line)), nullptr, nullptr, FALSE, 0, nullptr,
                      folder.empty() ? nullptr : wide(folder), &startup, &process))
    return std::nullopt;
  UniqueHandle process_handle(process.hProcess), thread_handle(process.hThread);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  return code;
}

Text Win32Machine::system_program(TextView name, TextView mode64) {
  wchar_t folder[MAX_PATH] = {};
  using Wow64FolderFn = UINT(WINAPI*)(LPWSTR, UINT);
  auto wow64_folder = system_function_as<Wow64FolderFn>(SystemFunction::GetSystemWow64DirectoryW);
  // 32-bit programs of 64-bit Windows live in the WOW64 system folder.
  if (!(mode64 == u"Win32" && windows_is_64_bit() && wow64_folder && wow64_folder(folder, MAX_PATH)))
    GetSystemDirectoryW(folder, MAX_PATH);
  return with_backslash(from_wide(folder)) + Text(name);
}

Text Win32Machine::windows_folder() {
  wchar_t folder[MAX_PATH] = {};
  GetWindowsDirectoryW(folder, MAX_PATH);
  return from_wide(folder);
}

bool Win32Machine::windows_64_bit() { return windows_is_64_bit(); }

std::optional<uint16_t> Win32Machine::image_machine(const Text& path) {
  auto bytes = Win32FileSystem().read_file(path);
  return bytes ? pe_machine(*bytes) : std::nullopt;
}

namespace {
// A service control manager or service handle, closed on leaving.
class ServiceHandle {
 public:
  explicit ServiceHandle(SC_HANDLE handle) : handle_(handle) {}
  ~ServiceHandle() {
    if (handle_) CloseServiceHandle(handle_);
  }
  ServiceHandle(const ServiceHandle&) = delete;
  ServiceHandle& operator=(const ServiceHandle&) = delete;
  SC_HANDLE get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }

 private:
  SC_HANDLE handle_;
};

// Opens the manager and the service with all access; the error when either fails.
uint32_t open_service(const Text& name, const std::function<uint32_t(SC_HANDLE)>& use) {
  ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) return GetLastError();
  ServiceHandle service(OpenServiceW(manager.get(), wide(name), SERVICE_ALL_ACCESS));
  if (!service) return GetLastError();
  return use(service.get());
}

// Polls every second while the service is in `pending`.
void wait_while(SC_HANDLE service, DWORD pending) {
  SERVICE_STATUS status = {};
  for (int i = 0; i < 600 && QueryServiceStatus(service, &status) && status.dwCurrentState == pending; ++i)
    Sleep(1000);
}
}  // namespace

uint32_t Win32Machine::create_service(const ServiceConfig& config) {
  ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) return GetLastError();
  Text dependencies;
  for (const Text& dependency : config.dependencies) dependencies += dependency + Text(1, u'\0');
  dependencies += Text(1, u'\0');
  ServiceHandle service(CreateServiceW(
      manager.get(), wide(config.name), wide(config.display_name), SERVICE_ALL_ACCESS, config.type, config.start_type,
      config.error_control, wide(config.binary_path), nullptr, nullptr, wide(dependencies),
      config.account.empty() ? nullptr : wide(config.account), config.password.empty() ? nullptr : wide(config.password)));
  return service ? 0 : GetLastError();
}

uint32_t Win32Machine::delete_service(const Text& name) {
  return open_service(name, [](SC_HANDLE service) -> uint32_t { return DeleteService(service) ? 0 : GetLastError(); });
}

uint32_t Win32Machine::start_service(const Text& name, const Text& argument, bool wait) {
  return open_service(name, [&](SC_HANDLE service) -> uint32_t {
    const wchar_t* arguments[] = {wide(argument)};
    if (!StartServiceW(service, argument.empty() ? 0 : 1, argument.empty() ? nullptr : arguments))
      return GetLastError();
    if (wait) wait_while(service, SERVICE_START_PENDING);
    return 0;
  });
}

uint32_t Win32Machine::stop_service(const Text& name, bool wait) {
  return open_service(name, [&](SC_HANDLE service) -> uint32_t {
    SERVICE_STATUS status = {};
    if (!ControlService(service, SERVICE_CONTROL_STOP, &status)) return GetLastError();
    if (wait) wait_while(service, SERVICE_STOP_PENDING);
    return 0;
  });
}

uint32_t Win32Machine::set_service_start(const Text& name, uint32_t start_type) {
  return open_service(name, [&](SC_HANDLE service) -> uint32_t {
    return ChangeServiceConfigW(service, SERVICE_NO_CHANGE, start_type, SERVICE_NO_CHANGE, nullptr, nullptr, nullptr,
                                nullptr, nullptr, nullptr, nullptr)
               ? 0
               : GetLastError();
  });
}

Text Win32Machine::configure_data_source(int request, const Text& driver, const std::vector<Text>& attributes) {
  using ConfigureFn = BOOL(WINAPI*)(HWND, WORD, LPCWSTR, LPCWSTR);
  using ErrorFn = SHORT(WINAPI*)(WORD, DWORD*, LPWSTR, WORD, WORD*);
  auto configure = system_function_as<ConfigureFn>(SystemFunction::SQLConfigDataSourceW);
  auto installer_error = system_function_as<ErrorFn>(SystemFunction::SQLInstallerErrorW);
  if (!configure) return u"The ODBC installer is not available.";
  Text list;
  for (const Text& attribute : attributes) list += attribute + Text(1, u'\0');
  list += Text(1, u'\0');
  if (configure(nullptr, static_cast<WORD>(request), wide(driver), wide(list))) return {};
  wchar_t message[512] = {};
  DWORD code = 0;
  WORD length = 0;
  if (installer_error && installer_error(1, &code, message, 512, &length) >= 0 && message[0]) return from_wide(message);
  return u"The data source could not be configured.";
}

namespace {

// The assembly cache of the newest framework that has one, through the
// framework's own fusion.dll (loaded by full path, kept for the run).
IAssemblyCache* assembly_cache(const Text& windows) {
  using CreateFn = HRESULT(WINAPI*)(IAssemblyCache**, DWORD);
  static IAssemblyCache* cache = nullptr;
  static std::mutex mutex;
  std::lock_guard lock(mutex);
  if (cache) return cache;
  const wchar_t* framework = sizeof(void*) == 8 ? L"Framework64\\" : L"Framework\\";
  for (const wchar_t* version : {L"v4.0.30319", L"v2.0.50727"}) {
    Text path = with_backslash(windows) + u"Microsoft.NET\\" + from_wide(framework) + from_wide(version) + u"\\fusion.dll";
    HMODULE fusion = LoadLibraryExW(wide(path), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!fusion) continue;
    auto create = reinterpret_cast<CreateFn>(reinterpret_cast<void*>(GetProcAddress(fusion, "CreateAssemblyCache")));
    if (create && SUCCEEDED(create(&cache, 0)) && cache) return cache;
    cache = nullptr;
    FreeLibrary(fusion);
  }
  return nullptr;
}

// The system's text for a code; empty when it has none.
Text system_message(DWORD code) {
  wchar_t* buffer = nullptr;
  DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                    FORMAT_MESSAGE_IGNORE_INSERTS,
                                nullptr, code, 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
  Text text = buffer ? from_wide(buffer, length) : Text();
  if (buffer) LocalFree(buffer);
  while (!text.empty() && (text.back() == u'\n' || text.back() == u'\r' || text.back() == u' ')) text.pop_back();
  return text;
}

// The framework's own codes have no system text: the code is shown.
Text assembly_cache_error(HRESULT result) {
  Text text = system_message(static_cast<DWORD>(result));
  if (!text.empty()) return text;
  wchar_t code[16];
  swprintf(code, 16, L"0x%08lX", static_cast<unsigned long>(result));
  return u"The assembly cache refused the assembly (error " + from_wide(code) + u").";
}

constexpr TextView kNoAssemblyCache = u"The global assembly cache is not available (no fusion.dll in the framework folders).";

}  // namespace

namespace {

constexpr SECURITY_INFORMATION kOwnerAndAccess = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;

// Setting an owner other than oneself needs these privileges, which an
// elevated account holds but has switched off.
void enable_ownership_privileges() {
  static std::once_flag once;
  std::call_once(once, [] {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return;
    UniqueHandle owner(token);
    for (const wchar_t* name : {SE_TAKE_OWNERSHIP_NAME, SE_RESTORE_NAME, SE_BACKUP_NAME}) {
      TOKEN_PRIVILEGES privileges = {};
      privileges.PrivilegeCount = 1;
      privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
      if (LookupPrivilegeValueW(nullptr, name, &privileges.Privileges[0].Luid))
        AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    }
  });
}

// The account the engine runs as.
std::vector<BYTE> current_account() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
  UniqueHandle owner(token);
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<BYTE> buffer(size);
  if (!size || !GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) return {};
  auto* user = reinterpret_cast<TOKEN_USER*>(buffer.data());
  const BYTE* sid = static_cast<const BYTE*>(user->User.Sid);
  return std::vector<BYTE>(sid, sid + GetLengthSid(user->User.Sid));
}

// Owner and access list as the bytes of a self-relative descriptor.
std::optional<std::string> descriptor_bytes(DWORD code, PSECURITY_DESCRIPTOR descriptor) {
  if (code != ERROR_SUCCESS || !descriptor) return std::nullopt;
  std::string bytes(static_cast<const char*>(descriptor), GetSecurityDescriptorLength(descriptor));
  LocalFree(descriptor);
  return bytes;
}

// How one kind of object reads and writes its security.
struct Secured {
  std::function<DWORD(PACL* access, PSECURITY_DESCRIPTOR* descriptor)> read;
  std::function<DWORD(SECURITY_INFORMATION what, PSID owner, PACL access)> write;
};

uint32_t take_ownership_of(const Secured& object) {
  enable_ownership_privileges();
  std::vector<BYTE> account = current_account();
  if (account.empty()) return ERROR_ACCESS_DENIED;
  if (DWORD code = object.write(OWNER_SECURITY_INFORMATION, account.data(), nullptr)) return code;
  PACL access = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  DWORD code = object.read(&access, &descriptor);
  if (code != ERROR_SUCCESS) return code;
  EXPLICIT_ACCESS_W full = {};
  full.grfAccessPermissions = GENERIC_ALL;
  full.grfAccessMode = GRANT_ACCESS;
  full.grfInheritance = NO_INHERITANCE;
  full.Trustee.TrusteeForm = TRUSTEE_IS_SID;
  full.Trustee.TrusteeType = TRUSTEE_IS_USER;
  full.Trustee.ptstrName = reinterpret_cast<LPWSTR>(account.data());
  PACL granted = nullptr;
  code = SetEntriesInAclW(1, &full, access, &granted);
  LocalFree(descriptor);
  if (code != ERROR_SUCCESS) return code;
  code = object.write(DACL_SECURITY_INFORMATION, nullptr, granted);
  LocalFree(granted);
  return code;
}

uint32_t write_kept(const Secured& object, const std::string& kept) {
  enable_ownership_privileges();
  std::string copy = kept;
  auto* descriptor = reinterpret_cast<PSECURITY_DESCRIPTOR>(copy.data());
  if (copy.size() < sizeof(SECURITY_DESCRIPTOR_RELATIVE) || !IsValidSecurityDescriptor(descriptor))
    return ERROR_INVALID_DATA;
  PSID owner = nullptr;
  PACL access = nullptr;
  BOOL defaulted = FALSE, present = FALSE;
  GetSecurityDescriptorOwner(descriptor, &owner, &defaulted);
  GetSecurityDescriptorDacl(descriptor, &present, &access, &defaulted);
  return object.write(kOwnerAndAccess, owner, present ? access : nullptr);
}

Secured secured_file(const Text& file) {
  return {[file](PACL* access, PSECURITY_DESCRIPTOR* descriptor) {
            return GetNamedSecurityInfoW(wide(file), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                         access, nullptr, descriptor);
          },
          [file](SECURITY_INFORMATION what, PSID owner, PACL access) {
            return SetNamedSecurityInfoW(const_cast<wchar_t*>(wide(file)), SE_FILE_OBJECT, what, owner, nullptr,
                                         access, nullptr);
          }};
}

// Keys are reached through a handle in the action's registry view.
Secured secured_key(const RegistryKey& key, REGSAM view) {
  return {[key, view](PACL* access, PSECURITY_DESCRIPTOR* descriptor) -> DWORD {
            OpenKey open(key, READ_CONTROL, view);
            if (!open.get()) return open.error();
            return GetSecurityInfo(open.get(), SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr, access,
                                   nullptr, descriptor);
          },
          [key, view](SECURITY_INFORMATION what, PSID owner, PACL access) -> DWORD {
            REGSAM rights = (what & OWNER_SECURITY_INFORMATION ? WRITE_OWNER : 0) |
                            (what & DACL_SECURITY_INFORMATION ? WRITE_DAC : 0);
            OpenKey open(key, rights, view);
            if (!open.get()) return open.error();
            return SetSecurityInfo(open.get(), SE_REGISTRY_KEY, what, owner, nullptr, access, nullptr);
          }};
}

}  // namespace

std::optional<std::string> Win32Machine::read_security(const Text& file) {
  enable_ownership_privileges();
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  DWORD code = GetNamedSecurityInfoW(wide(file), SE_FILE_OBJECT, kOwnerAndAccess, nullptr, nullptr, nullptr, nullptr,
                                     &descriptor);
  return descriptor_bytes(code, descriptor);
}

std::optional<std::string> Win32Machine::read_security(const RegistryKey& key) {
  OpenKey open(key, READ_CONTROL, view_);
  if (!open.get()) return std::nullopt;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  DWORD code =
      GetSecurityInfo(open.get(), SE_REGISTRY_KEY, kOwnerAndAccess, nullptr, nullptr, nullptr, nullptr, &descriptor);
  return descriptor_bytes(code, descriptor);
}

uint32_t Win32Machine::take_ownership(const Text& file) { return take_ownership_of(secured_file(file)); }
uint32_t Win32Machine::take_ownership(const RegistryKey& key) { return take_ownership_of(secured_key(key, view_)); }
uint32_t Win32Machine::write_security(const Text& file, const std::string& kept) {
  return write_kept(secured_file(file), kept);
}
uint32_t Win32Machine::write_security(const RegistryKey& key, const std::string& kept) {
  return write_kept(secured_key(key, view_), kept);
}

Text Win32Machine::install_assembly(const Text& file, bool force) {
  IAssemblyCache* cache = assembly_cache(windows_folder());
  if (!cache) return Text(kNoAssemblyCache);
  HRESULT result = cache->InstallAssembly(force ? IASSEMBLYCACHE_INSTALL_FLAG_FORCE_REFRESH
                                                : IASSEMBLYCACHE_INSTALL_FLAG_REFRESH,
                                          wide(file), nullptr);
  return SUCCEEDED(result) ? Text() : assembly_cache_error(result);
}

Text Win32Machine::uninstall_assembly(const Text& name) {
  IAssemblyCache* cache = assembly_cache(windows_folder());
  if (!cache) return Text(kNoAssemblyCache);
  ULONG disposition = 0;
  HRESULT result = cache->UninstallAssembly(0, wide(name), nullptr, &disposition);
  return SUCCEEDED(result) ? Text() : assembly_cache_error(result);
}

bool Win32Machine::pin_shortcut(const Text& link, TextView place, bool pin) {
  // The shell's own verbs; shells that offer none (newer Windows keeps
  // pinning to the user) answer false.
  using ExecuteFn = BOOL(WINAPI*)(SHELLEXECUTEINFOW*);
  auto execute = system_function_as<ExecuteFn>(SystemFunction::ShellExecuteExW);
  if (!execute) return false;
  const wchar_t* verb = place == u"startmenu" ? (pin ? L"startpin" : L"startunpin")
                                              : (pin ? L"taskbarpin" : L"taskbarunpin");
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_FLAG_NO_UI | SEE_MASK_INVOKEIDLIST;
  info.lpVerb = verb;
  info.lpFile = wide(link);
  info.nShow = SW_HIDE;
  return execute(&info) != FALSE;
}

void Win32Machine::environment_changed() {
  SendNotifyMessageW(HWND_BROADCAST, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(L"Environment"));
}

Text Win32Machine::error_text(uint32_t code) {
  Text text = system_message(code);
  return text.empty() ? u"System error " + decimal(code) + u"." : text;
}

}  // namespace kyt
