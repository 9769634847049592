#include "build/compiler.h"

#include <set>

#include "bootstrap/pe_image.h"
#include "script/script_check.h"

namespace kyt::build {

namespace {

// 64-bit FNV-1a over the UTF-16 code units of a text, with a chosen basis.
uint64_t fnv1a(TextView text, uint64_t basis) {
  uint64_t h = basis;
  for (char16_t c : text) {
    h = (h ^ (c & 0xFF)) * 1099511628211ull;
    h = (h ^ (c >> 8)) * 1099511628211ull;
  }
  return h;
}

Text hex(uint64_t value, int digits) {
  static const char16_t kDigits[] = u"0123456789ABCDEF";
  Text out(static_cast<size_t>(digits), u'0');
  for (int i = digits - 1; i >= 0; --i, value >>= 4) out[static_cast<size_t>(i)] = kDigits[value & 0xF];
  return out;
}

bool is_guid(TextView text) {
  if (text.size() != 38 || text.front() != u'{' || text.back() != u'}') return false;
  for (size_t i = 1; i < 37; ++i) {
    bool dash = i == 9 || i == 14 || i == 19 || i == 24;
    char16_t c = text[i];
    bool hex_digit = (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F') || (c >= u'a' && c <= u'f');
    if (dash ? c != u'-' : !hex_digit) return false;
  }
  return true;
}

}  // namespace

Text command_identifier(TextView project_guid, size_t index) {
  Text seed = to_upper(project_guid) + u"#" + decimal(static_cast<int64_t>(index));
  uint64_t a = fnv1a(seed, 14695981039346656037ull);
  uint64_t b = fnv1a(seed, a ^ 0x9E3779B97F4A7C15ull);
  // Version 4 / variant 1 bits, so the text is a well-formed GUID.
  uint64_t c = (a & 0xFFFF) >> 4 | 0x4000;
  uint64_t d = ((b >> 48) & 0x3FFF) | 0x8000;
  return u"{" + hex(a >> 32, 8) + u"-" + hex((a >> 16) & 0xFFFF, 4) + u"-" + hex(c, 4) + u"-" + hex(d, 4) + u"-" +
         hex(b & 0xFFFFFFFFFFFFull, 12) + u"}";
}

Text files_header(TextView project_guid, size_t index, int attempt) {
  Text seed = to_upper(project_guid) + u"#files#" + decimal(static_cast<int64_t>(index)) + u"#" + decimal(attempt);
  return hex(fnv1a(seed, 14695981039346656037ull) >> 32, 8);
}

bool compile_program(const SourceProgram& program, Payload& payload, std::vector<Diagnostic>& diagnostics,
                     const std::string& main_script) {
  auto error = [&](int line, std::string message) { diagnostics.push_back({main_script, line, std::move(message)}); };
  const auto& fields = program.project.fields;
  auto field = [&](const char* key, TextView fallback = {}) {
    auto it = fields.find(key);
    return it == fields.end() ? Text(fallback) : it->second;
  };
  payload = Payload();
  payload.project_guid = field("guid");
  if (!is_guid(payload.project_guid)) {
    error(1, "%guid must be a braced GUID such as {01234567-89AB-CDEF-0123-456789ABCDEF}");
    return false;
  }
  payload.product_title = field("title");
  payload.publisher = field("publisher");
  payload.contact = field("contact");
  payload.help_link = field("help_link");
  payload.update_info_link = field("update_info_link");
  payload.comments = field("comments");
  payload.product_version = field("version", u"1.0");
  payload.cache_folder_guid = field("cache_guid");
  if (payload.cache_folder_guid.empty()) payload.cache_folder_guid = command_identifier(payload.project_guid, size_t(-1));
  if (!is_guid(payload.cache_folder_guid)) error(1, "%cache_guid must be a braced GUID");
  payload.media_mode = parse_int64(field("media_mode", u"0")).value_or(-1);
  payload.code_page = parse_int64(field("code_page", u"1252")).value_or(-1);
  if (payload.media_mode < 0 || payload.code_page < 0) error(1, "%media_mode and %code_page are numbers");
  payload.language_dialog = is_true(field("language_dialog", u"FALSE"));
  payload.default_language = field("default_language");
  payload.size_table.add(u"ZEKO-PREDEF-COMPONENT");
  payload.size_table.add(u"0");
  for (const auto& [name, value] : program.project.build_settings) {
    payload.build_settings.add(name);
    payload.build_settings.add(value);
  }

  StringList parameters;
  std::set<Text> identifiers;
  for (size_t i = 0; i < program.commands.size(); ++i) {
    const SourceCommand& command = program.commands[i];
    Text id = command_identifier(payload.project_guid, i);
    if (!identifiers.insert(id).second) {
      error(command.line, "two commands received the same identifier; change %guid");
      return false;
    }
    payload.command_names.add(command.name);
    payload.command_ids.add(id);
    payload.command_flags.add(command.disabled ? u"C" : u"");
    payload.media_folders.add(u"");
    payload.source_map.add(from_utf8(command.file) + u"*" + decimal(command.line - 1));
    payload.include_map.add(command.result_variable + u"*" + decimal(command.depth));
    if (!command.parameters.empty()) {
      parameters.add(id);
      for (const auto& value : command.parameters) parameters.add(value);
    }
  }
  payload.parameters.append(std::move(parameters));

  bool failed = false;
  for (const auto& d : diagnostics) failed |= !d.warning;
  if (failed) return false;

  Variables variables;
  CheckResult check = check_script(payload, variables);
  if (!check.ok()) {
    if (check.index == kCountMismatchIndex || check.index >= static_cast<int64_t>(program.commands.size())) {
      error(0, to_utf8(check.message));
    } else {
      const SourceCommand& command = program.commands[static_cast<size_t>(check.index)];
      diagnostics.push_back({command.file, command.line, to_utf8(check.message)});
    }
    return false;
  }
  return true;
}

bool attach_payload(std::string_view engine, std::string_view payload_text, std::string& setup, std::string& error) {
  auto end = pe_image_end(engine);
  if (!end || *end > engine.size()) {
    error = "the engine is not a Windows executable";
    return false;
  }
  setup.assign(engine.substr(0, static_cast<size_t>(*end)));
  setup.append(payload_text);
  return true;
}

}  // namespace kyt::build
