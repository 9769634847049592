// kytbuild: compiles a script source, or a whole project, into a setup.
//
//   kytbuild --project product.kyp --engine setup.exe --output OUT/product.exe [--kyt-lib kyt.lib]
//       (writes OUT/product.exe, OUT/product.res, OUT/kyt.lib and OUT/data/)
//   kytbuild --engine setup.exe --output product.exe [--resources DIR] script.kys
//       (also writes product.res, the resource archive of DIR's files)
//   kytbuild --payload payload.txt (script.kys | --project product.kyp)   (the payload text alone)
//   kytbuild --check (script.kys | --project product.kyp)                 (check only)
//   kytbuild --commands                              (the commands and their parameter names)
#include <cstdio>
#include <string>

#include "build/host_files.h"
#include "build/project.h"
#include "script/catalog.h"

using namespace kyt;
using namespace kyt::build;

namespace {

int usage() {
  std::fprintf(stderr,
               "usage: kytbuild --project PRODUCT.kyp [--engine ENGINE.exe --output OUT/SETUP.exe [--kyt-lib "
               "KYT.lib]] [--payload PAYLOAD.txt] [--check]\n"
               "       kytbuild [--engine ENGINE.exe --output SETUP.exe [--resources DIR]] [--payload PAYLOAD.txt] "
               "[--check] SCRIPT.kys\n"
               "       kytbuild --commands\n");
  return 2;
}

void print_commands() {
  for (const auto& row : Catalog::instance().rows()) {
    std::string line = to_utf8(row.name);
    for (size_t k = 0; k < row.parameters.size(); ++k)
      line += (k ? ", " : ": ") + std::to_string(k + 1) + " " + to_utf8(row.parameters[k].name);
    std::printf("%s\n", line.c_str());
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::string engine, output, payload_path, script, resources, project, kyt_lib;
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
    else if (arg == "--project") { if (!value(project)) return usage(); }
    else if (arg == "--kyt-lib") { if (!value(kyt_lib)) return usage(); }
    else if (arg == "--check") check_only = true;
    else if (arg == "--commands") {
      print_commands();
      return 0;
    }
    else if (!arg.empty() && arg[0] == '-') return usage();
    else if (script.empty()) script = arg;
    else return usage();
  }
  // A project names its script and resources itself; kyt.lib belongs to
  // project builds only.
  if (project.empty() == script.empty() || (!project.empty() && !resources.empty()) ||
      (project.empty() && !kyt_lib.empty()) || (!check_only && output.empty() && payload_path.empty()) ||
      (output.empty() != engine.empty()))
    return usage();

  BuildRequest request;
  std::vector<Diagnostic> diagnostics;
  bool ok = true;
  if (!project.empty()) {
    ok = read_project(project, request, diagnostics);
    if (!engine.empty()) request.kyt_lib = kyt_lib.empty() ? beside(engine, "kyt.lib") : kyt_lib;
  } else {
    request.script = script;
    request.resources = resources;
  }
  if (!check_only) request.engine = engine;
  BuildResult result;
  ok = ok && build_setup(request, result, diagnostics);
  for (const auto& d : diagnostics) std::fprintf(stderr, "%s\n", d.to_string().c_str());
  if (!ok) return 1;
  if (check_only) return 0;

  std::string error;
  if (!payload_path.empty()) {
    StagedOutput staged;
    if (!staged.add_file(payload_path, result.payload_text, error) || !staged.commit(error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 1;
    }
  }
  if (!output.empty() && !write_setup(result, output, !project.empty(), error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  return 0;
}
