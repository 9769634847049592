#include "bootstrap/startup_win32.h"

#include <windows.h>

#include "bootstrap/command_line.h"
#include "bootstrap/payload.h"
#include "bootstrap/pe_image.h"
#include "media/archive_engine_win32.h"
#include "script/interpreter.h"
#include "system/handle_win32.h"
#include "system/system_library_win32.h"
#include "ui/win32_host.h"

namespace kyt {

namespace {

constexpr TextView kEngineTitle = u"Quorvane Wizard";

Text module_path() {
  std::wstring buffer(MAX_PATH, L'\0');
  while (true) {
    DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) return from_wide(buffer.c_str(), length);
    buffer.resize(buffer.size() * 2);
  }
}

Text with_backslash(Text folder) {
  if (!folder.empty() && folder.back() != u'\\') folder.push_back(u'\\');
  return folder;
}

Text folder_of(const Text& path) {
  size_t slash = path.find_last_of(u"\\/");
  return slash == Text::npos ? Text() : path.substr(0, slash + 1);
}

// The user's temporary folder in its long form, with a trailing backslash.
Text temporary_folder() {
  wchar_t buffer[MAX_PATH + 1];
  DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
  Text folder = length ? from_wide(buffer, length) : Text(u"C:\\");
  wchar_t long_buffer[32768];
  DWORD long_length = GetLongPathNameW(wide(folder), long_buffer, 32768);
  if (long_length && long_length < 32768) folder = from_wide(long_buffer, long_length);
  folder = with_backslash(folder);
  CreateDirectoryW(wide(folder), nullptr);
  return folder;
}

// The payload travels through a working copy "kyt.tmp" in the temporary
// folder, created new so that a file of someone else's is never reused; when
// the name is taken, a unique name is used instead.
PayloadStatus load_payload(const Text& engine_path, const Text& temp_folder, Payload& payload) {
  Win32FileSystem files;
  auto image = files.read_file(engine_path);
  if (!image) return PayloadStatus::missing;
  auto end = pe_image_end(*image);
  if (!end || *end >= image->size()) return PayloadStatus::missing;
  std::string_view bytes = std::string_view(*image).substr(static_cast<size_t>(*end));

  Text copy = temp_folder + u"kyt.tmp";
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
  if (!file) return parse_payload(bytes, payload);  // no working copy possible: read from memory
  DWORD written = 0;
  bool ok = WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
            written == bytes.size();
  file.reset();
  auto text = ok ? files.read_file(copy) : std::nullopt;
  DeleteFileW(wide(copy));
  return parse_payload(text ? std::string_view(*text) : bytes, payload);
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

int run_engine() {
  Text engine_path = module_path();
  Text engine_folder = folder_of(engine_path);
  Text temp_folder = temporary_folder();
  Text raw_command_line = from_wide(GetCommandLineW());
  std::vector<Text> arguments = split_command_line(raw_command_line);
  arguments.erase(arguments.begin());
  CommandLine command_line = parse_command_line(arguments, raw_command_line);
  if (command_line.out_of_process_extract) return run_out_of_process_extract(command_line.control_file);

  Payload payload;
  if (load_payload(engine_path, temp_folder, payload) != PayloadStatus::ok) {
    if (!command_line.silent) show_message_box(kEngineTitle, u"For internal use only", MessageIcon::error);
    return kExitNoPayload;
  }

  Win32Host host;
  Win32Archives archives;
  archives.prepare(host.system().folder_location(15, false, u"Win32"));
  host.set_archives(&archives);
  Variables variables;
  Session session;
  RunOptions options;
  options.silent = command_line.silent;
  options.command_line_pairs = command_line.pairs;
  options.temporary_folder = temp_folder;
  options.define_initialization_variables = [&](Variables& v) {
    constexpr TextView source = u"Initialization";
    v.define_variable(u"EXEFILE", engine_path, source);
    v.define_variable(u"EXEDIR", engine_folder, source);
    v.define_variable(u"ROOTDIR", engine_folder, source);
    v.define_variable(u"TEMPDIR", temp_folder, source);
    v.define_variable(u"CMDLINE", command_line.rest, source);
    v.define_variable(u"LOGGED", command_line.log_path, source);
    v.define_variable(u"GLASS", bool_text(glass_enabled()), source);
    v.define_variable(u"GPOPATH", folder_of(command_line.gpo_path), source);
    v.define_variable(u"SFXPATH", folder_of(command_line.sfx_path), source);
    Text sfx_file = command_line.sfx_path.substr(folder_of(command_line.sfx_path).size());
    v.define_variable(u"SFXFILE", sfx_file, source);
    // Kept as a reference so that it follows later changes of the three.
    v.define_variable(u"SETUPPATH",
                      !command_line.gpo_path.empty()   ? u"$GPOPATH$"
                      : !command_line.sfx_path.empty() ? u"$SFXPATH$"
                                                       : u"$EXEDIR$",
                      source);
  };
  Interpreter interpreter(payload, variables, host, session, std::move(options));
  switch (interpreter.run()) {
    case Interpreter::Outcome::check_failed:
      ExitProcess(kExitScriptCheckFailed);
    case Interpreter::Outcome::runtime_error:
      return kExitEscapedError;
    case Interpreter::Outcome::another_instance:
      return kExitSuccess;
    case Interpreter::Outcome::finished:
      break;
  }
  return kExitSuccess;
}

}  // namespace kyt
