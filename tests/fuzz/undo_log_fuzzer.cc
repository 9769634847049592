// The undo log on arbitrary bytes: the four files are cut from the input at
// NUL bytes, loaded and replayed against a small machine. No crash, and the
// replay removes nothing that no entry names.
#include <cstdint>
#include <cstdlib>

#include "base/comma_text.h"
#include "install/native_engine.h"
#include "script/test_host.h"

using namespace kyt;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  testing_support::RecordingHost host;
  for (TextView suffix : UndoLog::suffixes()) {
    size_t cut = bytes.find('\0');
    host.file_system.write_file(u"C:\\Cache\\log" + Text(suffix), bytes.substr(0, cut));
    bytes = cut == std::string_view::npos ? std::string_view() : bytes.substr(cut + 1);
  }
  auto entries = UndoLog::load(host.file_system, u"C:\\Cache\\log");
  MemoryMachine& machine = host.memory_machine;
  for (const Text& path : {u"C:\\App\\a.txt", u"C:\\App\\Sub\\b.txt", u"C:\\Other\\c.txt"})
    machine.put_file(path, "x");
  machine.write_value({2, {}, u"SOFTWARE\\App"}, u"V", {kRegSz, u"1"});
  machine.ini_write(u"C:\\App\\app.ini", u"S", u"K", u"a, b");
  auto before = machine.files;

  Variables variables;
  variables.define_variable(u"NATIVE_LOGGING", u"C:\\Cache\\log", u"Fuzz");
  variables.define_variable(u"NATIVE_ERROR", u"IGNORE", u"Fuzz");
  variables.set_silent(true);
  InstallState state;
  Payload payload;
  MessageTable messages;
  NativeEngine engine({variables, host, machine, host.file_system, state, payload, messages});
  if (engine.replay(true) != 1) abort();
  for (const auto& [path, file] : before) {
    if (machine.files.contains(path)) continue;
    bool named = false;
    for (const auto& entry : entries)
      for (const Text& field : from_comma_text(entry.data)) named = named || to_lower(field) == path;
    if (!named) abort();
  }
  return 0;
}
