#include "install/registration.h"

#include "base/text_file.h"
#include "install/component_file.h"

namespace kyt {

namespace {

uint32_t number_or_zero(TextView part) {
  auto number = parse_int64(part);
  return number && *number >= 0 && *number <= 0xFFFFFFFF ? static_cast<uint32_t>(*number) : 0;
}

// The registration root: local machine for all users, else the user.
int registration_root(const Variables& variables) { return is_true(variables.value_of(u"ALLUSERS")) ? 2 : 1; }

// Everything below a key, then the key; a missing key is no error.
void delete_tree(Machine& machine, const RegistryKey& key) {
  if (!machine.key_exists(key)) return;
  for (const Text& child : machine.subkeys(key)) delete_tree(machine, {key.root, key.computer, key.path + u"\\" + child});
  for (const Text& value : machine.value_names(key)) machine.delete_value(key, value);
  machine.delete_value(key, u"");
  machine.delete_key(key);
}

// Creates the folder and its missing parents on the machine.
bool make_folders(Machine& machine, const Text& folder) {
  std::vector<Text> missing = missing_folders(machine, folder);
  for (auto it = missing.rbegin(); it != missing.rend(); ++it)
    if (machine.create_folder(*it) != 0 && !machine.is_folder(*it)) return false;
  return true;
}

}  // namespace

Text engine_base_name(const Variables& variables) {
  Text name = file_name_of(variables.value_of(u"EXEFILE"));
  if (size_t dot = name.rfind(u'.'); dot != Text::npos) name.resize(dot);
  return name;
}

std::pair<uint32_t, uint32_t> version_numbers(TextView version) {
  size_t dot = version.find(u'.');
  if (dot == TextView::npos) return {number_or_zero(version), 0};
  TextView rest = version.substr(dot + 1);
  return {number_or_zero(version.substr(0, dot)), number_or_zero(rest.substr(0, rest.find(u'.')))};
}

void register_product(Machine& machine, FileSystem& files, const Variables& variables, const Payload& payload) {
  int root = registration_root(variables);
  Text cache = with_backslash(variables.value_of(u"ENGINECACHE"));
  Text engine = cache + file_name_of(variables.value_of(u"EXEFILE"));
  Text title = variables.value_of(u"TITLE"), product = variables.value_of(u"PRODUCTCODE");
  auto [major, minor] = version_numbers(payload.product_version);
  auto text = [](TextView value) { return RegistryValue{kRegSz, Text(value)}; };
  auto number = [](uint32_t value) { return RegistryValue{kRegDword, {}, {}, value}; };

  machine.write_value({root, {}, Text(kUninstallKey) + product}, u"UninstallString",
                      text(cache + engine_base_name(variables) + u".exe"));
  RegistryKey entry{root, {}, Text(kUninstallKey) + title};
  const std::pair<TextView, RegistryValue> values[] = {
      {u"DisplayIcon", text(engine)},
      {u"DisplayName", text(title)},
      {u"UninstallString", text(u"\"" + engine + u"\" REMOVE=TRUE MODIFY=FALSE")},
      {u"ModifyPath", text(engine)},
      {u"Publisher", text(payload.publisher)},
      {u"Contact", text(payload.contact)},
      {u"HelpLink", text(payload.help_link)},
      {u"URLUpdateInfo", text(payload.update_info_link)},
      {u"Comments", text(payload.comments)},
      {u"DisplayVersion", text(payload.product_version)},
      {u"VersionMajor", number(major)},
      {u"VersionMinor", number(minor)},
      {u"InstallLocation", text(collapse_backslashes(variables.expand(u"$TARGETDIR$")))},
  };
  for (const auto& [name, value] : values) machine.write_value(entry, name, value);
  RegistryKey cache_key{root, {}, Text(kIdentCacheKey) + product};
  machine.write_value(cache_key, u"VersionMajor", number(major));
  machine.write_value(cache_key, u"VersionMinor", number(minor));
  machine.write_value(cache_key, u"", text(cache));
  make_folders(machine, cache);
  files.write_file(cache + u"instance.dat",
                   write_utf8_lines({product, variables.value_of(u"REVISIONCODE"), title}, false));
}

void unregister_product(Machine& machine, const Variables& variables) {
  Text product = variables.value_of(u"PRODUCTCODE");
  for (int root : {2, 1}) {
    delete_tree(machine, {root, {}, Text(kUninstallKey) + variables.value_of(u"TITLE")});
    // The product-code entry goes too: it would name a cache that is gone.
    delete_tree(machine, {root, {}, Text(kUninstallKey) + product});
    delete_tree(machine, {root, {}, Text(kIdentCacheKey) + product});
    // The engine's own keys above it, as far as they are empty.
    for (RegistryKey key{root, {}, Text(kIdentCacheKey.substr(0, kIdentCacheKey.size() - 1))};
         key.path.size() > 9 && machine.key_exists(key) && machine.key_is_empty(key);
         key.path.resize(key.path.rfind(u'\\')))
      machine.delete_key(key);
  }
}

bool refresh_engine_cache(Machine& machine, FileSystem& files, const Variables& variables, const Session& session) {
  Text cache = with_backslash(variables.value_of(u"ENGINECACHE"));
  Text engine = variables.value_of(u"EXEFILE"), folder = with_backslash(folder_of(engine));
  Text base = engine_base_name(variables);
  if (!make_folders(machine, cache)) return false;
  bool ok = true;
  if (!equals_ignore_case(folder, cache)) {
    // The engine and what it needs to run again from the cache.
    for (const Text& name : {file_name_of(engine), base + u".res", Text(u"kyt.lib"), Text(u"setup.bmp")}) {
      if (!machine.exists(folder + name)) continue;
      uint32_t code = machine.copy_file(folder + name, cache + name, nullptr);
      if (code == 0) machine.set_attributes(cache + name, kAttributeNormal);
      else if (name == file_name_of(engine)) ok = false;
    }
  }
  files.write_file(cache + base + u".dat",
                   write_component_file(session, variables, variables.value_of(u"EXEDIR")));
  std::vector<Text> pinned;
  for (const auto& [link, place] : session.install.pinned) pinned.push_back(link + u"|" + place);
  files.write_file(cache + base + u".lnk", write_utf8_lines(pinned, false));
  files.write_file(cache + base + u".par", write_utf8_lines(session.install.maintenance_properties, false));
  return ok;
}

void remove_engine_cache(Machine& machine, const Text& cache) {
  Text folder = cache;
  while (!folder.empty() && folder.back() == u'\\') folder.pop_back();
  if (folder.empty() || !machine.is_folder(folder) || remove_tree(machine, folder)) return;
  // Something in it is in use (the cached engine removing its product):
  // the folder moves aside and goes at the next restart.
  Text moved;
  for (int n = 1; moved.empty() || machine.exists(moved); ++n) moved = folder + u"." + decimal(n);
  if (machine.move_file(folder, moved) != 0) moved = folder;
  Text base = with_backslash(moved);
  for (const Text& name : machine.list_files(moved, u"*")) machine.at_restart(u"", base + name);
  machine.at_restart(u"", moved);
}

}  // namespace kyt
