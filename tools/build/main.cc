// kytbuild: compiles a script source into a setup.
//
//   kytbuild --engine setup.exe --output product.exe [--resources DIR] script.kys
//       (also writes product.res, the resource archive of DIR's files)
//   kytbuild --payload payload.txt script.kys        (the payload text alone)
//   kytbuild --check script.kys                      (check only)
//   kytbuild --commands                              (the commands and their parameter names)
#include <cstdio>
#include <cstring>
#include <string>

#include "build/compiler.h"
#include "build/resources.h"
#include "script/catalog.h"
#include "system/file_system.h"

using namespace kyt;
using namespace kyt::build;

namespace {

int usage() {
  std::fprintf(stderr,
               "usage: kytbuild [--engine ENGINE.exe --output SETUP.exe [--resources DIR]] [--payload PAYLOAD.txt] [--check] "
               "SCRIPT.kys\n       kytbuild --commands\n");
  return 2;
}

// Writes through a temporary name, so a failed build leaves no output file.
bool write_output(StdFileSystem& files, const std::string& path, const std::string& bytes) {
  Text target = from_utf8(path);
  Text temporary = target + u".partial";
  if (!files.write_file(temporary, bytes)) return false;
  files.remove_file(target);
  std::string error;
  return std::rename(to_utf8(temporary).c_str(), path.c_str()) == 0 || (files.remove_file(temporary), false);
}

}  // namespace

int main(int argc, char** argv) {
  std::string engine, output, payload_path, script, resources;
  bool check_only = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&](std::string& into) {
      if (i + 1 >= argc) return false;
      into = argv[++i];
      return true;
    };
    if (arg == "--engine") { if (!value(engine)) return usage(); }
    else if (arg == "--output" || arg == "-o") { if (!value(output)) return usage(); }
    else if (arg == "--payload") { if (!value(payload_path)) return usage(); }
    else if (arg == "--resources") { if (!value(resources)) return usage(); }
    else if (arg == "--check") check_only = true;
    else if (arg == "--commands") {
      // The command catalog: every command the engine runs and its parameter names.
      for (const auto& row : Catalog::instance().rows()) {
        std::string line = to_utf8(row.name);
        for (size_t k = 0; k < row.parameters.size(); ++k)
          line += (k ? ", " : ": ") + std::to_string(k + 1) + " " + to_utf8(row.parameters[k].name);
        std::printf("%s\n", line.c_str());
      }
      return 0;
    }
    else if (!arg.empty() && arg[0] == '-') return usage();
    else if (script.empty()) script = arg;
    else return usage();
  }
  if (script.empty() || (!check_only && output.empty() && payload_path.empty()) || (output.empty() != engine.empty()))
    return usage();

  StdFileSystem files;
  std::vector<Diagnostic> diagnostics;
  ReadFile read = [&](const std::string& path) { return files.read_file(from_utf8(path)); };
  SourceProgram program = parse_program(script, read, diagnostics);
  Payload payload;
  bool ok = !std::any_of(diagnostics.begin(), diagnostics.end(), [](const Diagnostic& d) { return !d.warning; }) &&
            compile_program(program, payload, diagnostics, script);
  for (const auto& d : diagnostics) std::fprintf(stderr, "%s\n", d.to_string().c_str());
  if (!ok) return 1;
  if (check_only) return 0;

  std::string text, error;
  if (!write_payload(payload, text, error)) {
    std::fprintf(stderr, "%s: %s\n", script.c_str(), error.c_str());
    return 1;
  }
  if (!payload_path.empty() && !write_output(files, payload_path, text)) {
    std::fprintf(stderr, "%s: cannot write the payload\n", payload_path.c_str());
    return 1;
  }
  if (!output.empty()) {
    auto engine_bytes = files.read_file(from_utf8(engine));
    if (!engine_bytes) {
      std::fprintf(stderr, "%s: cannot read the engine\n", engine.c_str());
      return 1;
    }
    std::string setup;
    if (!attach_payload(*engine_bytes, text, setup, error)) {
      std::fprintf(stderr, "%s: %s\n", engine.c_str(), error.c_str());
      return 1;
    }
    // The resource archive beside the setup: engine base name + ".res".
    std::string archive;
    if (!build_resource_archive(resources, archive, error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 1;
    }
    std::string res_path = output.substr(0, output.find_last_of('.') == std::string::npos ||
                                                    output.find_last_of('.') < output.find_last_of("/\\") + 1
                                                ? output.size()
                                                : output.find_last_of('.')) +
                           ".res";
    if (!write_output(files, res_path, archive)) {
      std::fprintf(stderr, "%s: cannot write the resource archive\n", res_path.c_str());
      return 1;
    }
    if (!write_output(files, output, setup)) {
      std::fprintf(stderr, "%s: cannot write the setup\n", output.c_str());
      return 1;
    }
  }
  return 0;
}
