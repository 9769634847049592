#include "bootstrap/startup_win32.h"

#include <windows.h>
#include <sddl.h>

#include "base/text_file.h"
#include "bootstrap/command_line.h"
#include "bootstrap/payload.h"
#include "bootstrap/pe_image.h"
#include "media/archive_engine_win32.h"
#include "script/interpreter.h"
#include "system/handle_win32.h"
#include "system/system_library_win32.h"
#include "system/process_paths_win32.h"
#include "system/system_queries_win32.h"
#include "ui/win32_host.h"

namespace kyt {

namespace {

constexpr TextView kNoPayload = u"For internal use only";

// The start-up trace log: UTF-16LE lines ending in CR LF, no byte-order
// mark; the first line of a run replaces the file.
class TraceLog {
 public:
  explicit TraceLog(Text path) : path_(std::move(path)) {}
  // Later lines go to another file (appended: the run has begun).
  void set_path(const Text& path) { path_ = path; }
  void line(TextView text) {
    if (path_.empty()) return;
    UniqueFile file(CreateFileW(wide(path_), FILE_APPEND_DATA | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                started_ ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    started_ = true;
    if (!file) return;  // a trace that cannot be written does not stop the start-up
    Text record = Text(text) + u"\r\n";
    std::string bytes;
    for (char16_t c : record) {
      bytes.push_back(static_cast<char>(c & 0xFF));
      bytes.push_back(static_cast<char>(c >> 8));
    }
    SetFilePointer(file.get(), 0, nullptr, FILE_END);
    DWORD written = 0;
    WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  }

 private:
  Text path_;
  bool started_ = false;
};

// Passes bytes through a working copy in the temporary folder, created new
// so that a file of someone else's is never reused (when the name is taken,
// a unique name is used instead), read back and deleted. Empty when no copy
// could be made.
std::optional<std::string> through_working_copy(const Text& temp_folder, TextView name, std::string_view bytes) {
  Text copy = temp_folder + Text(name);
  UniqueFile file(CreateFileW(wide(copy), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_TEMPORARY, nullptr));
  if (!file) {
    wchar_t unique[MAX_PATH];
    if (GetTempFileNameW(wide(temp_folder), L"kyt", 0, unique)) {
      copy = from_wide(unique);
      file.reset(CreateFileW(unique, GENERIC_READ | GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
                             FILE_ATTRIBUTE_TEMPORARY, nullptr));
    }
  }
  if (!file) return std::nullopt;
  DWORD written = 0;
  bool ok = WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
            written == bytes.size();
  file.reset();
  std::optional<std::string> text;
  if (ok) text = Win32FileSystem().read_file(copy);
  DeleteFileW(wide(copy));
  return text;
}

// The payload travels through the working copy "kyt.tmp".
PayloadStatus load_payload(const Text& engine_path, const Text& temp_folder, Payload& payload, TraceLog& trace) {
  Win32FileSystem files;
  trace.line(u"    <StubSize>");
  auto image = files.read_file(engine_path);
  if (!image) return PayloadStatus::missing;
  auto end = pe_image_end(*image);
  if (!end || *end >= image->size()) return PayloadStatus::missing;
  trace.line(u"    </StubSize>");
  std::string_view bytes = std::string_view(*image).substr(static_cast<size_t>(*end));
  trace.line(u"    <StubData>");

  std::optional<std::string> text = through_working_copy(temp_folder, u"kyt.tmp", bytes);
  trace.line(u"    </StubData>");
  trace.line(u"    <GlobalLists>");
  // Without a working copy the payload is read from memory.
  PayloadStatus status = parse_payload(text ? std::string_view(*text) : bytes, payload);
  if (status == PayloadStatus::ok) trace.line(u"    </GlobalLists>");
  return status;
}

bool glass_enabled() {
  using DwmIsCompositionEnabledFn = HRESULT(WINAPI*)(BOOL*);
  using IsThemeActiveFn = BOOL(WINAPI*)();
  BOOL composition = FALSE;
  if (auto dwm = system_function_as<DwmIsCompositionEnabledFn>(SystemFunction::DwmIsCompositionEnabled))
    if (SUCCEEDED(dwm(&composition)) && composition) return true;
  OSVERSIONINFOW version = {};
  version.dwOSVersionInfoSize = sizeof(version);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  GetVersionExW(&version);
#pragma GCC diagnostic pop
  if (version.dwMajorVersion >= 6)
    if (auto themed = system_function_as<IsThemeActiveFn>(SystemFunction::IsThemeActive)) return themed() != FALSE;
  return false;
}


}  // namespace

bool process_is_elevated() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  UniqueHandle owner(token);
  TOKEN_ELEVATION elevation = {};
  DWORD size = 0;
  return GetTokenInformation(token, TokenElevation, &elevation, sizeof(elevation), &size) &&
         elevation.TokenIsElevated != 0;
}

namespace {

// The current user's SID as text ("S-1-5-21-..."), empty when unknown.
Text current_user_sid() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
  UniqueHandle owner(token);
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::string buffer(size, '\0');
  if (!size || !GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) return {};
  wchar_t* text = nullptr;
  if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text)) return {};
  Text sid = from_wide(text);
  LocalFree(text);
  return sid;
}

// Applies the support folder's access list at creation.
class PrivateFolderSecurity {
 public:
  PrivateFolderSecurity() {
    Text sddl = support_folder_access_list();
    if (sddl.empty()) return;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(wide(sddl), SDDL_REVISION_1, &descriptor_, nullptr)) {
      attributes_.nLength = sizeof(attributes_);
      attributes_.lpSecurityDescriptor = descriptor_;
      attributes_.bInheritHandle = FALSE;
    }
  }
  ~PrivateFolderSecurity() {
    if (descriptor_) LocalFree(descriptor_);
  }
  PrivateFolderSecurity(const PrivateFolderSecurity&) = delete;
  PrivateFolderSecurity& operator=(const PrivateFolderSecurity&) = delete;
  SECURITY_ATTRIBUTES* attributes() { return descriptor_ ? &attributes_ : nullptr; }

 private:
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;
  SECURITY_ATTRIBUTES attributes_ = {};
};

}  // namespace

// An elevated engine keeps its support folder to itself: full access for
// SYSTEM, the Administrators group and the current user, protected from
// what the temporary folder would pass on.
Text support_folder_access_list() {
  if (!process_is_elevated()) return {};
  Text sddl = u"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
  if (Text sid = current_user_sid(); !sid.empty()) sddl += u"(A;OICI;FA;;;" + sid + u")";
  return sddl;
}

// CreateDirectory fails when the name exists, so two engines started
// together never share a support folder.
Text create_support_folder(const Text& temp_folder) {
  PrivateFolderSecurity security;
  for (int n = 1; n < 100000; ++n) {
    Text folder = temp_folder + u"kyt" + decimal(n);
    if (GetFileAttributesW(wide(folder)) != INVALID_FILE_ATTRIBUTES) continue;
    if (CreateDirectoryW(wide(folder), security.attributes())) return folder + u"\\";
    if (GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  return temp_folder;  // no folder of our own: files go to the temporary folder itself
}

namespace {

// Marks the engine as a host application, so the shell does not offer it for
// pinning (Windows 7 and later), or keeps the compatibility assistant quiet
// (Vista). Failures do not matter.
void mark_host_application(const Text& engine_path) {
  OSVERSIONINFOW version = {};
  version.dwOSVersionInfoSize = sizeof(version);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (!GetVersionExW(&version)) return;
#pragma GCC diagnostic pop
  HKEY key = nullptr;
  if (version.dwMajorVersion > 6 || (version.dwMajorVersion == 6 && version.dwMinorVersion >= 1)) {
    Text path = u"Applications\\" + file_name_of(engine_path);
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, wide(path), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
      return;
    UniqueKey owner(key);
    RegSetValueExW(key, L"IsHostApp", 0, REG_SZ, reinterpret_cast<const BYTE*>(L""), sizeof(wchar_t));
  } else if (version.dwMajorVersion == 6) {
    if (RegCreateKeyExW(HKEY_CURRENT_USER,
                        L"Software\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Compatibility Assistant\\Persisted",
                        0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
      return;
    UniqueKey owner(key);
    DWORD value = 32;
    RegSetValueExW(key, wide(engine_path), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
  }
}

// The engine's own message translations travel behind the image of
// kyt.lib. They pass through the working copy "lang.loc" and are read like
// a shared translation file, the block of the user's language winning.
// The bytes of a file behind its image; only the headers and that tail are
// read, not the library itself.
std::optional<std::string> bytes_behind_image(const Text& path) {
  UniqueFile file(CreateFileW(wide(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  LARGE_INTEGER size = {};
  if (!file || !GetFileSizeEx(file.get(), &size)) return std::nullopt;
  auto read_at = [&](uint64_t offset, uint64_t count) -> std::optional<std::string> {
    std::string bytes(static_cast<size_t>(count), '\0');
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(offset);
    DWORD read = 0;
    if (!SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN) ||
        !ReadFile(file.get(), bytes.data(), static_cast<DWORD>(count), &read, nullptr) || read != count)
      return std::nullopt;
    return bytes;
  };
  auto headers = read_at(0, std::min<uint64_t>(static_cast<uint64_t>(size.QuadPart), 65536));
  auto end = headers ? pe_image_end(*headers) : std::nullopt;
  if (!end || *end >= static_cast<uint64_t>(size.QuadPart)) return std::nullopt;
  return read_at(*end, static_cast<uint64_t>(size.QuadPart) - *end);
}

void load_engine_messages(const Text& engine_folder, const Text& temp_folder, MessageTable& messages) {
  auto behind = bytes_behind_image(engine_folder + u"kyt.lib");
  if (!behind) return;
  std::string_view tables = *behind;
  std::optional<std::string> text = through_working_copy(temp_folder, u"lang.loc", tables);
  messages.apply(read_utf8_lines(text ? std::string_view(*text) : tables),
                 language_of_locale(user_locale_identifier(false)));
}

// Deletes a folder's contents and the folder, three attempts. Links are
// removed as links: their targets are never entered.
bool delete_tree_once(const Text& folder) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW(wide(folder + u"*"), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      Text name = from_wide(data.cFileName);
      if (name == u"." || name == u"..") continue;
      Text path = folder + name;
      if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        delete_tree_once(path + u"\\");
      } else if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveDirectoryW(wide(path));
      } else {
        SetFileAttributesW(wide(path), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(wide(path));
      }
    } while (FindNextFileW(find, &data));
    FindClose(find);
  }
  return RemoveDirectoryW(wide(folder)) != 0;
}

}  // namespace

void remove_folder_tree(const Text& folder) {
  if (folder.size() < 4 || !folder.ends_with(u"\\")) return;
  DWORD attributes = GetFileAttributesW(wide(folder));
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return;
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (delete_tree_once(folder)) return;
    Sleep(100);
  }
}

namespace {

bool user_is_administrator() {
  SID_IDENTIFIER_AUTHORITY authority = SECURITY_NT_AUTHORITY;
  PSID administrators = nullptr;
  BOOL member = FALSE;
  if (AllocateAndInitializeSid(&authority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                               &administrators)) {
    if (!CheckTokenMembership(nullptr, administrators, &member)) member = FALSE;
    FreeSid(administrators);
  }
  return member != FALSE;
}

// Registered owner and organization, read in the 64-bit view on 64-bit Windows.
Text registered_value(const wchar_t* name) {
  HKEY key = nullptr;
  REGSAM view = running_under_wow64() ? KEY_WOW64_64KEY : 0;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\", 0,
                    KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS)
    return {};
  UniqueKey owner(key);
  wchar_t buffer[1024] = {};
  DWORD size = sizeof(buffer) - sizeof(wchar_t), type = 0;
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS ||
      type != REG_SZ)
    return {};
  return from_wide(buffer);
}

Text parent_folder(Text folder) {
  while (!folder.empty() && folder.back() == u'\\') folder.pop_back();
  return folder_of(folder);
}

RunEnvironment gather_environment(SystemQueries& system, const Text& engine_path, const Text& temp_folder,
                                  const Text& support_folder, const CommandLine& command_line) {
  RunEnvironment e;
  e.engine_path = engine_path;
  e.engine_folder = folder_of(engine_path);
  e.temp_folder = temp_folder;
  e.support_folder = support_folder;
  Text base = engine_path.substr(e.engine_folder.size());
  if (size_t dot = base.rfind(u'.'); dot != Text::npos) base.resize(dot);
  e.package_path = support_folder + base + u".msi";
  e.data_folder = e.engine_folder + u"data\\";
  e.command_line_rest = command_line.rest;
  e.log_path = command_line.log_path;
  e.gpo_path = command_line.gpo_path;
  e.sfx_path = command_line.sfx_path;
  e.silent = command_line.silent;
  e.administrator = user_is_administrator();
  e.program_files = system.folder_location(20, false, u"Win32");
  e.documents_parent = parent_folder(system.folder_location(2, false, u"Win32"));
  e.common_app_data = system.folder_location(15, true, u"Win32");
  e.local_app_data = system.folder_location(28, false, u"Win32");
  if (e.local_app_data.empty()) e.local_app_data = system.folder_location(15, false, u"Win32");
  e.registered_owner = registered_value(L"RegisteredOwner");
  e.registered_organization = registered_value(L"RegisteredOrganization");
  e.glass = glass_enabled();
  return e;
}

class TraceLog;
int run_with_support_folder(const Text& engine_path, const Text& temp_folder, const Text& support_folder,
                            const CommandLine& command_line, TraceLog& trace, Session& session);

}  // namespace

int run_engine() {
  Text engine_path = module_path();
  Text engine_folder = folder_of(engine_path);
  Text temp_folder = temporary_folder();
  Text raw_command_line = from_wide(GetCommandLineW());
  std::vector<Text> arguments = split_command_line(raw_command_line);
  arguments.erase(arguments.begin());
  CommandLine command_line = parse_command_line(arguments, raw_command_line);
  if (command_line.out_of_process_extract) return run_out_of_process_extract(command_line.control_file);

  mark_host_application(engine_path);
  Session session;
  load_engine_messages(engine_folder, temp_folder, session.messages);
  TraceLog trace(command_line.log_path);
  trace.line(u"<Quorvane>");
  trace.line(u"    <SupportDir>");
  Text support_folder = create_support_folder(temp_folder);
  trace.line(u"    </SupportDir>");
  int code = kExitEscapedError;
  try {
    code = run_with_support_folder(engine_path, temp_folder, support_folder, command_line, trace, session);
  } catch (const std::exception& error) {
    // Anything that escapes the script's own error handling.
    if (!command_line.silent)
      show_message_box(window_title(u"", false), session.messages[Msg::runtime_error_install] + from_utf8(error.what()),
                       MessageIcon::error);
    code = kExitEscapedError;
  }
  trace.line(u"  <CachedSupportDir>");
  remove_folder_tree(support_folder);
  trace.line(u"  </CachedSupportDir>");
  trace.line(u"</Quorvane>");
  return code;
}

namespace {

int run_with_support_folder(const Text& engine_path, const Text& temp_folder, const Text& support_folder,
                            const CommandLine& command_line, TraceLog& trace, Session& session) {
  trace.line(u"  <SetupSplash>");
  Payload payload;
  if (load_payload(engine_path, temp_folder, payload, trace) != PayloadStatus::ok) {
    if (!command_line.silent) show_message_box(window_title(u"", false), kNoPayload, MessageIcon::error);
    return kExitNoPayload;
  }
  // Until the script runs, boxes carry the product's title.
  const Text title = window_title(payload.product_title, false);
  const MessageTable& messages = session.messages;

  Win32Host host;
  Win32Archives archives;
  archives.prepare(host.system().folder_location(15, false, u"Win32"));
  host.set_archives(&archives);

  // The resource archive: engine base name + ".res", unpacked into the
  // support folder.
  Text engine_folder = folder_of(engine_path);
  Text base = engine_path.substr(engine_folder.size());
  if (size_t dot = base.rfind(u'.'); dot != Text::npos) base.resize(dot);
  Text resources = engine_folder + base + u".res";
  if (GetFileAttributesW(wide(resources)) == INVALID_FILE_ATTRIBUTES) {
    if (!command_line.silent) show_message_box(title, messages[Msg::resource_not_found], MessageIcon::error);
    return kExitNoResources;
  }
  trace.line(u"    <ExtractArchive>");
  Text error;
  if (!archives.wrappers().extract(resources, support_folder, {}, true, true, u"", {}, error)) {
    if (!command_line.silent)
      show_message_box(title, messages[Msg::resource_damaged], MessageIcon::error);
    return kExitResourcesDamaged;
  }
  trace.line(u"    </ExtractArchive>");
  trace.line(u"    <ResourcePath>");
  // The Windows Installer package and patch beside the engine travel into
  // the support folder with normal attributes.
  for (TextView extension : {u".msi", u".msp"}) {
    Text source = engine_folder + base + Text(extension), target = support_folder + base + Text(extension);
    if (CopyFileW(wide(source), wide(target), FALSE)) SetFileAttributesW(wide(target), FILE_ATTRIBUTE_NORMAL);
  }
  trace.line(u"    </ResourcePath>");
  trace.line(u"    <Dialogs>");
  // The dialog hosts of the enabled "Display Dialog" commands are preloaded
  // here, in script order, with the splash and initialization windows (when
  // not silent) showing the progress.
  trace.line(u"    </Dialogs>");
  trace.line(u"  </SetupSplash>");
  Variables variables;
  RunOptions options;
  options.silent = command_line.silent;
  options.command_line_pairs = command_line.pairs;
  options.temporary_folder = temp_folder;
  options.environment = gather_environment(host.system(), engine_path, temp_folder, support_folder, command_line);
  options.trace = [&trace](TextView line) { trace.line(line); };
  options.log_path_changed = [&trace](const Text& path) { trace.set_path(path); };
  trace.line(u"  <RunScript>");
  Interpreter interpreter(payload, variables, host, session, std::move(options));
  Interpreter::Outcome outcome = interpreter.run();
  trace.line(u"  </RunScript>");
  trace.line(u"  <Free>");
  trace.line(u"  </Free>");
  switch (outcome) {
    case Interpreter::Outcome::check_failed:
      // Ends at once and without a message; the support folder is still removed.
      return kExitScriptCheckFailed;
    case Interpreter::Outcome::runtime_error:
      return kExitEscapedError;
    case Interpreter::Outcome::another_instance:
    case Interpreter::Outcome::language_cancelled:
      return kExitSuccess;
    case Interpreter::Outcome::finished:
      break;
  }
  return kExitSuccess;
}

}  // namespace

}  // namespace kyt
