#include "build/project.h"

#include <filesystem>
#include <set>

#include "base/text_file.h"
#include "build/compiler.h"
#include "build/host_files.h"
#include "build/resources.h"
#include "build/translations.h"

namespace kyt::build {

namespace {

bool has_error(const std::vector<Diagnostic>& diagnostics) {
  for (const auto& d : diagnostics)
    if (!d.warning) return true;
  return false;
}

TextView trim(TextView text) {
  while (!text.empty() && (text.front() == u' ' || text.front() == u'\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == u' ' || text.back() == u'\t')) text.remove_suffix(1);
  return text;
}

std::string output_folder(const std::string& output) {
  return utf8_path(host_path(output).parent_path());
}

}  // namespace

bool read_project(const std::string& project_file, BuildRequest& request, std::vector<Diagnostic>& diagnostics) {
  auto error = [&](int line, std::string message) { diagnostics.push_back({project_file, line, std::move(message)}); };
  auto bytes = read_host_file(project_file);
  if (!bytes) {
    error(0, "cannot read the project file");
    return false;
  }
  std::set<std::string> seen;
  std::vector<Text> lines = read_utf8_lines(*bytes);
  for (size_t n = 0; n < lines.size(); ++n) {
    int line = static_cast<int>(n) + 1;
    TextView text = trim(lines[n]);
    if (text.empty() || text.front() == u'#') continue;
    size_t equals = text.find(u'=');
    if (equals == TextView::npos) {
      error(line, "expected key = value");
      continue;
    }
    std::string key = to_utf8(trim(text.substr(0, equals)));
    std::string message;
    auto value = parse_value(text.substr(equals + 1), message);
    if (!value) {
      error(line, message);
      continue;
    }
    if (value->empty()) {
      error(line, key + " needs a path");
      continue;
    }
    std::string path = beside(project_file, to_utf8(*value));
    if (key == "script") path = to_utf8(*value);  // read relative to request.folder
    if (key == "translation") {
      request.translations.push_back(path);
      continue;
    }
    std::string* slot = key == "script" ? &request.script
                        : key == "resources" ? &request.resources
                        : key == "files" ? &request.files_root
                                         : nullptr;
    if (!slot) error(line, "unknown project key \"" + key + "\" (script, resources, files, translation)");
    else if (!seen.insert(key).second) error(line, key + " given twice");
    else if (key != "script" && !std::filesystem::is_directory(host_path(path))) error(line, to_utf8(*value) + ": not a folder");
    else *slot = path;
  }
  if (request.script.empty() && !has_error(diagnostics)) error(0, "the project needs a script = line");
  request.folder = utf8_path(host_path(project_file).parent_path());
  return !has_error(diagnostics);
}

bool build_setup(const BuildRequest& request, BuildResult& result, std::vector<Diagnostic>& diagnostics) {
  auto in_folder = [&](const std::string& path) {
    return request.folder.empty() ? path : utf8_path(host_path(request.folder) / host_path(path));
  };
  ReadFile read = [&](const std::string& path) { return read_host_file(in_folder(path)); };
  // Script diagnostics name files as the payload does; the user sees them
  // with the project's folder in front.
  std::vector<Diagnostic> script_diagnostics;
  SourceProgram program = parse_program(request.script, read, script_diagnostics);
  if (!has_error(script_diagnostics) && compile_program(program, result.payload, script_diagnostics, request.script))
    add_product_files(program, result.payload, request.files_root, result.data, script_diagnostics);
  for (Diagnostic& d : script_diagnostics) {
    d.file = in_folder(d.file);
    diagnostics.push_back(std::move(d));
  }
  if (has_error(diagnostics)) return false;

  std::vector<TranslationSource> translations;
  for (const auto& path : request.translations) {
    auto bytes = read_host_file(path);
    if (!bytes) diagnostics.push_back({path, 0, "cannot read the translation"});
    else if (auto source = parse_translation(path, *bytes, diagnostics)) translations.push_back(std::move(*source));
  }
  if (has_error(diagnostics)) return false;
  result.support_files =
      localization_files(program, result.payload, translations, diagnostics, in_folder(request.script));
  if (has_error(diagnostics)) return false;

  std::string error;
  if (!write_payload(result.payload, result.payload_text, error)) {
    diagnostics.push_back({in_folder(request.script), 0, error});
    return false;
  }
  if (request.engine.empty()) return true;
  auto engine = read_host_file(request.engine);
  if (!engine) diagnostics.push_back({request.engine, 0, "cannot read the engine"});
  else if (!attach_payload(*engine, result.payload_text, result.setup, error))
    diagnostics.push_back({request.engine, 0, error});
  if (!build_resource_archive(request.resources, result.archive, error, result.support_files))
    diagnostics.push_back({request.resources, 0, error});
  if (!request.kyt_lib.empty()) {
    auto library = read_host_file(request.kyt_lib);
    if (!library) {
      diagnostics.push_back({request.kyt_lib, 0, "cannot read kyt.lib (give its path with --kyt-lib)"});
    } else if (translations.empty()) {
      result.kyt_lib = std::move(*library);
    } else if (!attach_payload(*library, message_table_file(translations), result.kyt_lib, error)) {
      diagnostics.push_back({request.kyt_lib, 0, error});
    }
  }
  return !has_error(diagnostics);
}

std::string resource_archive_path(const std::string& output) {
  size_t dot = output.find_last_of('.');
  size_t slash = output.find_last_of("/\\");
  bool has_extension = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
  return (has_extension ? output.substr(0, dot) : output) + ".res";
}

bool write_setup(const BuildResult& result, const std::string& output, bool project, std::string& error) {
  StagedOutput staged;
  if (!staged.add_file(resource_archive_path(output), result.archive, error)) return false;
  if (project) {
    std::string folder = output_folder(output);
    std::string prefix = folder.empty() ? std::string() : folder + "/";
    std::vector<std::pair<std::string, std::string>> copies;
    for (const auto& file : result.data) copies.emplace_back(file.source, file.stored);
    if (!staged.add_file(prefix + "kyt.lib", result.kyt_lib, error)) return false;
    if (!staged.add_folder(prefix + "data", copies, error)) return false;
  }
  if (!staged.add_file(output, result.setup, error)) return false;
  return staged.commit(error);
}

}  // namespace kyt::build
