// The commands that hand an assembly to the .NET Framework's own tools:
// native images (ngen.exe), installer classes (installutil.exe) and COM
// registration (regasm.exe). Each tries the framework versions from the
// newest down until one of them runs and succeeds.
#include "install/machine.h"

#include "script/interpreter.h"

namespace kyt {

namespace {

constexpr TextView kVersion4 = u"v4.0.30319", kVersion2 = u"v2.0.50727", kVersion1 = u"v1.1.4322";

// The framework folder of a version: the 64-bit one when the 64-bit mode
// asks for it on 64-bit Windows (version 1.1 has only the 32-bit one).
Text framework_folder(Machine& machine, TextView version, TextView mode64) {
  bool wide = version != kVersion1 && mode64 != u"Win32" && machine.windows_64_bit();
  return with_backslash(machine.windows_folder()) + u"Microsoft.NET\\" + (wide ? u"Framework64\\" : u"Framework\\") +
         Text(version) + u"\\";
}

Text quoted(const Text& path) { return u"\"" + path + u"\""; }

// Runs the tool of each version in turn with its arguments, in the
// assembly's folder, until one exits with 0. LASTERROR tells when none did.
void run_framework_tool(CommandContext& command, TextView tool, const Text& assembly,
                        const std::function<Text(TextView version)>& arguments) {
  Machine& machine = command.host().machine();
  const Text& mode64 = command.session().mode64;
  for (TextView version : {kVersion4, kVersion2, kVersion1}) {
    auto code = machine.run_program(framework_folder(machine, version, mode64) + Text(tool), arguments(version),
                                    folder_of(assembly), mode64);
    if (code && *code == 0) return;
  }
  command.variables().set_variable(u"LASTERROR", Text(tool) + u" failed for " + assembly, command.source());
}

bool option_or_true(TextView option) { return option.empty() || is_true(option); }

void generate_native_images(CommandContext& command) {
  auto parts = split_at_bar(command.path(1));
  const Text assembly = parts.first;
  bool installing = option_or_true(parts.second);
  run_framework_tool(command, u"ngen.exe", assembly, [&](TextView version) {
    Text verb = installing ? u"install" : version == kVersion1 ? u"/delete" : u"uninstall";
    return verb + u" " + quoted(assembly);
  });
}

void run_installer_class(CommandContext& command) {
  Text assembly = command.path(1);
  bool uninstall = is_true(command.expanded(2));
  run_framework_tool(command, u"installutil.exe", assembly,
                     [&](TextView) { return (uninstall ? u"/u " : u"") + quoted(assembly); });
}

// A strong name ("Name, Version=1.0.0.0, Culture=neutral,
// PublicKeyToken=abc") is looked up in the assembly cache folders; anything
// else is a path.
Text assembly_file(Machine& machine, const Text& assembly) {
  std::vector<Text> parts;
  size_t start = 0;
  for (size_t comma; (comma = assembly.find(u',', start)) != Text::npos; start = comma + 1)
    parts.push_back(assembly.substr(start, comma - start));
  parts.push_back(assembly.substr(start));
  auto trim = [](Text text) {
    while (!text.empty() && text.front() == u' ') text.erase(text.begin());
    while (!text.empty() && text.back() == u' ') text.pop_back();
    return text;
  };
  Text name = trim(parts[0]), version, token;
  for (size_t k = 1; k < parts.size(); ++k) {
    Text part = trim(parts[k]);
    if (starts_with_ignore_case(part, u"Version=")) version = part.substr(8);
    if (starts_with_ignore_case(part, u"PublicKeyToken=")) token = part.substr(15);
  }
  if (parts.size() < 2 || version.empty() || token.empty()) return assembly;
  Text windows = with_backslash(machine.windows_folder());
  for (TextView cache : {u"GAC_MSIL\\", u"GAC_32\\", u"GAC_64\\", u"GAC\\"}) {
    Text file = windows + u"assembly\\" + Text(cache) + name + u"\\" + version + u"__" + token + u"\\" + name + u".dll";
    if (machine.exists(file)) return file;
  }
  for (TextView cache : {u"GAC_MSIL\\", u"GAC_32\\", u"GAC_64\\"}) {
    Text file = windows + u"Microsoft.NET\\assembly\\" + Text(cache) + name + u"\\v4.0_" + version + u"__" + token +
                u"\\" + name + u".dll";
    if (machine.exists(file)) return file;
  }
  return assembly;
}

void register_assembly(CommandContext& command) {
  Text given = command.path(1);
  auto [assembly, options] = split_at_bar(given);
  auto [register_option, code_base] = split_at_bar(options);
  Machine& machine = command.host().machine();
  machine.enter_mode(command.session().mode64);
  Text file = assembly_file(machine, assembly);
  machine.leave_mode();
  Text arguments = Text(option_or_true(register_option) ? u"/tlb" : u"/tlb /unregister") +
                   (is_true(code_base) ? u" /codebase" : u"") + u" " + quoted(file) + u" /silent";
  run_framework_tool(command, u"regasm.exe", file, [&](TextView) { return arguments; });
}

}  // namespace

void add_framework_commands(Catalog& catalog) {
  catalog.add({u"Generate Native Images", generate_native_images, Builtin::none, {{u"assembly"}}});
  catalog.add({u"Run .NET Installer Class", run_installer_class, Builtin::none, {{u"assembly"}, {u"uninstall"}}});
  catalog.add({u"Register Assembly", register_assembly, Builtin::none, {{u"assembly"}}});
}

}  // namespace kyt
