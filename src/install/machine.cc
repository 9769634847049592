#include "install/machine.h"

#include "bootstrap/pe_image.h"

namespace kyt {

namespace {

Text normal(const Text& path) {
  Text out = to_lower(path);
  while (out.size() > 3 && out.back() == u'\\') out.pop_back();
  return out;
}

Text parent_of(const Text& path) {
  size_t slash = path.find_last_of(u'\\');
  return slash == Text::npos ? Text() : path.substr(0, slash);
}

// A drive root ("c:") always exists.
bool is_root(const Text& normal_path) { return normal_path.size() <= 3 && normal_path.find(u':') != Text::npos; }

}  // namespace

bool MemoryMachine::fail_now() { return ++changes == fail_change; }

Text MemoryMachine::key_id(const RegistryKey& key) {
  return decimal(key.root) + u"|" + to_lower(key.computer) + u"|" + to_lower(key.path);
}

std::optional<std::string> MemoryMachine::read_security_of(const Text& id) {
  auto it = security.find(id);
  if (it == security.end()) return std::string("open");
  if (it->second == "unreadable") return std::nullopt;
  return it->second;
}

uint32_t MemoryMachine::take_ownership_of(const Text& id) {
  if (fail_now()) return kErrorAccessDenied;
  security[id] = "owner";
  return 0;
}

bool MemoryMachine::denied(const Text& id) const {
  auto it = security.find(id);
  return it != security.end() && (it->second == "deny" || it->second == "unreadable");
}

bool MemoryMachine::key_exists(const RegistryKey& key) { return keys.contains(key_id(key)); }

std::optional<RegistryValue> MemoryMachine::read_value(const RegistryKey& key, TextView name) {
  auto k = keys.find(key_id(key));
  if (k == keys.end()) return std::nullopt;
  auto v = k->second.find(to_lower(name));
  if (v == k->second.end()) return std::nullopt;
  return v->second.second;
}

uint32_t MemoryMachine::write_value(const RegistryKey& key, TextView name, const RegistryValue& value) {
  if (denied(u"key:" + key_id(key))) return kErrorAccessDenied;
  if (fail_now()) return kErrorAccessDenied;
  // Every key along the path comes into being.
  RegistryKey part = key;
  for (size_t at = 0; at != Text::npos;) {
    at = key.path.find(u'\\', at + 1);
    part.path = key.path.substr(0, at);
    keys[key_id(part)];
  }
  keys[key_id(key)][to_lower(name)] = {Text(name), value};
  return 0;
}

uint32_t MemoryMachine::delete_value(const RegistryKey& key, TextView name) {
  auto k = keys.find(key_id(key));
  if (k == keys.end() || !k->second.contains(to_lower(name))) return kErrorFileNotFound;
  if (denied(u"key:" + key_id(key))) return kErrorAccessDenied;
  if (fail_now()) return kErrorAccessDenied;
  k->second.erase(to_lower(name));
  return 0;
}

bool MemoryMachine::key_is_empty(const RegistryKey& key) {
  Text id = key_id(key);
  auto k = keys.find(id);
  if (k == keys.end()) return true;
  if (!k->second.empty()) return false;
  auto next = keys.upper_bound(id);
  return next == keys.end() || !next->first.starts_with(id + u"\\");
}

uint32_t MemoryMachine::delete_key(const RegistryKey& key) {
  if (!keys.contains(key_id(key))) return kErrorFileNotFound;
  if (!key_is_empty(key)) return kErrorAccessDenied;
  if (fail_now()) return kErrorAccessDenied;
  keys.erase(key_id(key));
  return 0;
}

std::vector<Text> MemoryMachine::subkeys(const RegistryKey& key) {
  Text prefix = key_id(key) + u"\\";
  std::vector<Text> names;
  for (auto it = keys.upper_bound(prefix); it != keys.end() && it->first.starts_with(prefix); ++it)
    if (it->first.find(u'\\', prefix.size()) == Text::npos) names.push_back(it->first.substr(prefix.size()));
  return names;
}

std::vector<Text> MemoryMachine::value_names(const RegistryKey& key) {
  std::vector<Text> names;
  if (auto k = keys.find(key_id(key)); k != keys.end())
    for (const auto& [lower, value] : k->second) names.push_back(value.first);
  return names;
}

bool MemoryMachine::exists(const Text& path) {
  Text p = normal(path);
  return is_root(p) || files.contains(p) || folders.contains(p);
}

bool MemoryMachine::is_folder(const Text& path) {
  Text p = normal(path);
  return is_root(p) || folders.contains(p);
}

std::optional<FileFacts> MemoryMachine::facts(const Text& path) {
  auto f = files.find(normal(path));
  if (f == files.end()) return std::nullopt;
  return FileFacts{f->second.bytes.size(), f->second.time, std::nullopt, f->second.attributes};
}

std::optional<std::array<uint16_t, 4>> MemoryMachine::file_version(const Text& path) {
  auto f = files.find(normal(path));
  return f == files.end() ? std::nullopt : f->second.version;
}

uint32_t MemoryMachine::create_folder(const Text& path) {
  Text p = normal(path);
  if (exists(p)) return kErrorAlreadyExists;
  if (!is_folder(parent_of(p))) return kErrorPathNotFound;
  if (fail_now()) return kErrorAccessDenied;
  folders.insert(p);
  spelling[p] = path;
  return 0;
}

uint32_t MemoryMachine::remove_folder(const Text& path) {
  Text p = normal(path);
  if (!folders.contains(p)) return kErrorFileNotFound;
  if (!folder_is_empty(p)) return kErrorDirNotEmpty;
  if (fail_now()) return kErrorAccessDenied;
  folders.erase(p);
  return 0;
}

bool MemoryMachine::folder_is_empty(const Text& path) {
  Text prefix = normal(path) + u"\\";
  for (const auto& [name, file] : files)
    if (name.starts_with(prefix)) return false;
  for (const Text& folder : folders)
    if (folder.starts_with(prefix)) return false;
  return true;
}

uint32_t MemoryMachine::copy_file(const Text& source, const Text& target,
                                  const std::function<bool(uint64_t)>& progress) {
  auto s = files.find(normal(source));
  if (s == files.end()) return kErrorFileNotFound;
  if (!is_folder(parent_of(normal(target)))) return kErrorPathNotFound;
  if (denied(file_id(target)) || denied(file_id(source))) return kErrorAccessDenied;
  if (locked.contains(normal(target))) return kErrorSharingViolation;
  if (fail_now()) return kErrorAccessDenied;
  uint64_t size = s->second.bytes.size();
  if (progress && !progress(size)) return kErrorRequestAborted;
  File copy = s->second;
  copy.attributes = kAttributeNormal;
  files[normal(target)] = copy;
  spelling[normal(target)] = target;
  return 0;
}

uint32_t MemoryMachine::hard_link(const Text& source, const Text& target) {
  if (exists(target)) return kErrorAlreadyExists;
  uint32_t code = copy_file(source, target, nullptr);
  if (code == 0) files[normal(target)].links = 2;
  return code;
}

bool MemoryMachine::same_drive(const Text& a, const Text& b) {
  return !a.empty() && !b.empty() && to_lower(a.substr(0, 2)) == to_lower(b.substr(0, 2));
}

uint32_t MemoryMachine::delete_file(const Text& path) {
  Text p = normal(path);
  if (!files.contains(p)) return kErrorFileNotFound;
  if (locked.contains(p)) return kErrorSharingViolation;
  if (files[p].attributes & kAttributeReadOnly || denied(file_id(path))) return kErrorAccessDenied;
  if (fail_now()) return kErrorAccessDenied;
  files.erase(p);
  ini.erase(p);
  return 0;
}

uint32_t MemoryMachine::set_attributes(const Text& path, uint32_t attributes) {
  auto f = files.find(normal(path));
  if (f == files.end()) return kErrorFileNotFound;
  f->second.attributes = attributes;
  return 0;
}

uint32_t MemoryMachine::move_file(const Text& from, const Text& to) {
  Text f = normal(from), t = normal(to);
  if (!files.contains(f)) return kErrorFileNotFound;
  if (exists(t)) return kErrorAlreadyExists;
  if (locked.contains(f)) return kErrorSharingViolation;
  if (fail_now()) return kErrorAccessDenied;
  files[t] = files[f];
  files.erase(f);
  spelling[t] = to;
  return 0;
}

bool MemoryMachine::in_use(const Text& path) { return locked.contains(normal(path)); }

uint32_t MemoryMachine::at_restart(const Text& source, const Text& target) {
  restart_moves.emplace_back(source, target);
  return 0;
}

std::vector<Text> MemoryMachine::list_files(const Text& folder, TextView pattern) {
  Text prefix = normal(folder) + u"\\";
  std::vector<Text> names;
  for (const auto& [name, file] : files) {
    if (!name.starts_with(prefix) || name.find(u'\\', prefix.size()) != Text::npos) continue;
    Text spelled = spelling.contains(name) ? spelling[name] : name;
    Text leaf = spelled.substr(spelled.find_last_of(u'\\') + 1);
    if (wildcard_match(pattern, leaf)) names.push_back(leaf);
  }
  return names;
}

std::vector<Text> MemoryMachine::list_folders(const Text& folder) {
  Text prefix = normal(folder) + u"\\";
  std::vector<Text> names;
  for (const Text& name : folders)
    if (name.starts_with(prefix) && name.find(u'\\', prefix.size()) == Text::npos)
      names.push_back(name.substr(prefix.size()));
  return names;
}

bool for_each_file(Machine& machine, const Text& folder, TextView pattern, bool recurse,
                   const std::function<bool(const Text& relative, const Text& name)>& visit) {
  std::function<bool(const Text&)> walk = [&](const Text& relative) {
    Text here = with_backslash(folder) + relative;
    for (const Text& name : machine.list_files(here, pattern))
      if (!visit(relative, name)) return false;
    if (recurse)
      for (const Text& sub : machine.list_folders(here))
        if (!walk(relative + sub + u"\\")) return false;
    return true;
  };
  return walk(u"");
}

std::vector<Text> missing_folders(Machine& machine, const Text& folder) {
  std::vector<Text> missing;
  for (Text path = folder; !path.empty();) {
    while (path.size() > 3 && path.back() == u'\\') path.pop_back();
    if (machine.exists(path)) break;
    missing.push_back(path);
    size_t slash = path.find_last_of(u'\\');
    if (slash == Text::npos) break;
    path = path.substr(0, slash);
  }
  return missing;
}

bool remove_tree(Machine& machine, const Text& folder) {
  Text base = with_backslash(folder);
  for (const Text& name : machine.list_folders(folder)) remove_tree(machine, base + name);
  for (const Text& name : machine.list_files(folder, u"*")) {
    machine.set_attributes(base + name, kAttributeNormal);
    machine.delete_file(base + name);
  }
  return machine.remove_folder(folder) == 0 || !machine.exists(folder);
}

std::optional<Text> MemoryMachine::ini_read(const Text& file, TextView section, TextView key) {
  auto f = ini.find(normal(file));
  if (f == ini.end()) return std::nullopt;
  auto s = f->second.find(to_lower(section));
  if (s == f->second.end()) return std::nullopt;
  auto k = s->second.find(to_lower(key));
  if (k == s->second.end()) return std::nullopt;
  return k->second;
}

uint32_t MemoryMachine::ini_write(const Text& file, TextView section, TextView key, TextView value) {
  if (fail_now()) return kErrorAccessDenied;
  ini[normal(file)][to_lower(section)][to_lower(key)] = Text(value);
  if (!files.contains(normal(file))) files[normal(file)] = File{};
  return 0;
}

uint32_t MemoryMachine::ini_delete(const Text& file, TextView section, TextView key) {
  if (fail_now()) return kErrorAccessDenied;
  auto f = ini.find(normal(file));
  if (f != ini.end()) {
    auto s = f->second.find(to_lower(section));
    if (s != f->second.end()) {
      s->second.erase(to_lower(key));
      if (s->second.empty()) f->second.erase(s);
      if (f->second.empty()) ini.erase(f);
    }
  }
  return 0;
}

constexpr uint32_t kErrorServiceExists = 1073, kErrorServiceMissing = 1060, kErrorServiceNotActive = 1062;

uint32_t MemoryMachine::create_service(const ServiceConfig& config) {
  if (services.contains(to_lower(config.name))) return kErrorServiceExists;
  if (fail_now()) return kErrorAccessDenied;
  services[to_lower(config.name)] = {config, false};
  return 0;
}

uint32_t MemoryMachine::delete_service(const Text& name) {
  if (!services.contains(to_lower(name))) return kErrorServiceMissing;
  if (fail_now()) return kErrorAccessDenied;
  services.erase(to_lower(name));
  return 0;
}

uint32_t MemoryMachine::start_service(const Text& name, const Text& argument, bool wait) {
  auto s = services.find(to_lower(name));
  if (s == services.end()) return kErrorServiceMissing;
  if (fail_now()) return kErrorAccessDenied;
  s->second.running = true;
  return 0;
}

uint32_t MemoryMachine::stop_service(const Text& name, bool wait) {
  auto s = services.find(to_lower(name));
  if (s == services.end()) return kErrorServiceMissing;
  if (!s->second.running) return kErrorServiceNotActive;
  s->second.running = false;
  return 0;
}

uint32_t MemoryMachine::set_service_start(const Text& name, uint32_t start_type) {
  auto s = services.find(to_lower(name));
  if (s == services.end()) return kErrorServiceMissing;
  s->second.config.start_type = start_type;
  return 0;
}

Text MemoryMachine::configure_data_source(int request, const Text& driver, const std::vector<Text>& attributes) {
  Text name;
  for (const Text& attribute : attributes)
    if (starts_with_ignore_case(attribute, u"DSN=")) name = attribute.substr(4);
  Text key = Text(request == 4 || request == 6 ? u"system|" : u"user|") + to_lower(name);
  if (name.empty()) return u"No data source name.";
  if (fail_now()) return u"The data source could not be configured.";
  if (request == 1 || request == 4) data_sources[key] = {driver, attributes};
  else if (!data_sources.erase(key)) return u"No such data source.";
  return {};
}

Text MemoryMachine::install_assembly(const Text& file, bool force) {
  if (!exists(file)) return u"The assembly " + file + u" was not found.";
  Text name = to_lower(file_name_of(file));
  if (size_t dot = name.rfind(u'.'); dot != Text::npos) name.resize(dot);
  if (fail_now()) return u"The assembly could not be installed.";
  if (!force && assemblies.count(name)) return {};  // an installed one stays
  assemblies[name] = file;
  return {};
}

Text MemoryMachine::uninstall_assembly(const Text& name) {
  if (fail_now()) return u"The assembly could not be removed.";
  assemblies.erase(to_lower(name));
  return {};
}

std::optional<uint16_t> MemoryMachine::image_machine(const Text& path) {
  auto f = files.find(normal(path));
  return f == files.end() ? std::nullopt : pe_machine(f->second.bytes);
}

Text MemoryMachine::create_shortcut(const Text& link, const Text& target, const Text& working_folder,
                                   const Text& arguments, const Text& description, const Text& icon, int icon_index,
                                   int show) {
  if (!is_folder(parent_of(normal(link)))) return u"The folder of the shortcut does not exist.";
  if (fail_now()) return u"The shortcut could not be saved.";
  put_file(link, to_utf8(target + u"|" + working_folder + u"|" + arguments + u"|" + description + u"|" + icon + u"|" +
                         decimal(icon_index) + u"|" + decimal(show)));
  return {};
}

void MemoryMachine::put_file(const Text& path, std::string bytes, int64_t time,
                             std::optional<std::array<uint16_t, 4>> version) {
  Text p = normal(path);
  for (Text parent = parent_of(p); !parent.empty() && !is_root(parent); parent = parent_of(parent))
    folders.insert(parent);
  files[p] = File{std::move(bytes), time, version};
  spelling[p] = path;
}

void MemoryMachine::put_folder(const Text& path) {
  for (Text p = normal(path); !p.empty() && !is_root(p); p = parent_of(p)) folders.insert(p);
}

}  // namespace kyt
