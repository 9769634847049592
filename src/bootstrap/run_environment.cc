#include "bootstrap/run_environment.h"

namespace kyt {

Text default_target_folder(const Payload& payload, const RunEnvironment& environment) {
  Text base = environment.administrator ? environment.program_files : environment.documents_parent;
  return with_backslash(base) + payload.product_title + u"\\";
}

Text product_cache_folder(const Variables& variables, const Payload& payload, const RunEnvironment& environment,
                          bool all_users) {
  Text root = variables.value_of(u"OVERRIDECACHE");
  if (root.empty()) root = all_users ? environment.common_app_data : environment.local_app_data;
  return with_backslash(root) + payload.cache_folder_guid + u"\\";
}

void define_pre_initialization(Variables& variables, const Payload& payload, const RunEnvironment& environment) {
  constexpr TextView source = u"Pre-Initialization";
  variables.define_variable(u"TARGETDIR", default_target_folder(payload, environment), source);
  variables.define_variable(u"STARTMENU", payload.product_title, source);
  variables.define_variable(u"ALLUSERS", bool_text(environment.administrator), source);
}

void define_bootstrap(Variables& variables, const Payload& payload, const RunEnvironment& environment) {
  constexpr TextView source = u"Bootstrap";
  variables.define_variable(u"PRODUCTCODE", payload.project_guid, source);
  variables.define_variable(u"REVISIONCODE", payload.cache_folder_guid, source);
  Text cache = product_cache_folder(variables, payload, environment, environment.administrator);
  variables.define_variable(u"UNINSTALLLINK", cache + file_name_of(environment.engine_path), source);
  variables.define_variable(u"ENGINECACHE", cache, source);
  variables.define_variable(u"DATADIR", payload.media_mode == 2 ? cache : environment.data_folder, source);
  variables.define_variable(u"NEEDSUPGRADE", u"FALSE", source);
  variables.define_variable(u"MAINTENANCE", u"FALSE", source);
  // Outside maintenance the installation choices start from their defaults.
  variables.define_variable(u"TARGETDIR", default_target_folder(payload, environment), source);
  variables.define_variable(u"STARTMENU", payload.product_title, source);
  variables.define_variable(u"ALLUSERS", bool_text(environment.administrator), source);
  variables.define_variable(u"NATIVE_OLDLOG", u"", source);
  variables.define_variable(u"RECOMMENDEDUPGRADE", u"FALSE", source);
  variables.define_variable(u"NEWINSTANCE", u"FALSE", u"Initialization");
}

void define_initialization(Variables& variables, const Payload& payload, const RunEnvironment& environment) {
  constexpr TextView source = u"Initialization";
  auto define = [&](TextView name, TextView value) { variables.define_variable(name, value, source); };
  define(u"ZEKO_TIMEOUT", u"10");
  define(u"ZEKO_COMPRESS_INSTALLER_CACHE", u"FALSE");
  define(u"ZEKO_DISABLE_ROLLBACK", u"FALSE");
  define(u"ZEKO_DISABLE_VISTA_RESTART_MANAGER", u"FALSE");
  define(u"CHARSET_OVERRIDE", u"");
  if (!variables.is_defined(u"NATIVE_ENGINE")) define(u"NATIVE_ENGINE", u"FALSE");
  for (auto [name, value] : {std::pair<TextView, TextView>{u"NATIVE_LOGGING", u""}, {u"NATIVE_ROLLBACK", u"TRUE"},
                             {u"NATIVE_HARDLINK", u"TRUE"}, {u"NATIVE_ERROR", u"PROMPT"},
                             {u"NATIVE_OVERWRITE", u"PROMPT"}, {u"NATIVE_OVERWRITE_OLDER", u"FALSE"},
                             {u"NATIVE_PROGRESS", u"0"}, {u"DELAYUNTIL_APPLYCHANGES", u"FALSE"},
                             {u"NATIVE_OVERRIDE_PERMISSIONS", u"FALSE"},
                             {u"NATIVE_OVERRIDE_NON_RESTORABLE_PERMISSIONS", u"FALSE"}, {u"IISHOST", u"localhost"}})
    define(name, value);
  if (!variables.is_defined(u"OVERRIDECACHE")) define(u"OVERRIDECACHE", u"");
  for (auto [name, value] : {std::pair<TextView, TextView>{u"ZEKOLOGO", u""}, {u"SELECTED", u"0"},
                             {u"WINDOWHANDLE", u"0"}})
    define(name, value);
  define(u"EXEFILE", environment.engine_path);
  define(u"EXEDIR", environment.engine_folder);
  for (auto [name, value] : {std::pair<TextView, TextView>{u"PROGRESSTEXT", u""}, {u"PROGRESSMODE", u""},
                             {u"CUSTOM_TASKBAR_PROGRESS_ENABLED", u"FALSE"},
                             {u"CUSTOM_TASKBAR_PROGRESS_PERCENT", u"0"}, {u"CUSTOM_TASKBAR_PROGRESS_MAX", u"100"},
                             {u"ABORT", u"FALSE"}, {u"PROGRESS", u"0"}, {u"LASTERROR", u""}, {u"LICENSE", u"FALSE"}})
    define(name, value);
  define(u"USERNAME", environment.registered_owner);
  define(u"USERCOMPANY", environment.registered_organization);
  for (auto [name, value] : {std::pair<TextView, TextView>{u"COPYWEBLOCK", u""}, {u"REBOOTCOMPUTER", u"FALSE"},
                             {u"RUNAPP", u"TRUE"}, {u"WIZARD", u"NEXT"}, {u"FX", u"SLIDE"},
                             {u"FXGROUND", u"BACKGROUND"}, {u"FXTIME", u"1000"}})
    define(name, value);
  define(u"VERSION", payload.product_version);
  define(u"SILENT", bool_text(environment.silent));
  define(u"LOGGED", environment.log_path);
  define(u"CMDLINE", environment.command_line_rest);
  define(u"REBOOTNOW", u"OK");
  Text sfx_folder = folder_of(environment.sfx_path);
  define(u"SFXPATH", sfx_folder);
  define(u"SFXFILE", environment.sfx_path.substr(sfx_folder.size()));
  define(u"GPOPATH", folder_of(environment.gpo_path));
  // Kept as a reference, so that it follows later changes of the three.
  define(u"SETUPPATH", !environment.gpo_path.empty()   ? u"$GPOPATH$"
                       : !environment.sfx_path.empty() ? u"$SFXPATH$"
                                                       : u"$EXEDIR$");
  for (auto [name, value] : {std::pair<TextView, TextView>{u"COMPLETE", u"TRUE"}, {u"NEWLINE", u"\r\n"},
                             {u"MINIMUM", u"FALSE"}, {u"PERSONALIZED", u"FALSE"}, {u"MODIFY", u"TRUE"}})
    define(name, value);
  define(u"GLASS", bool_text(environment.glass));
  for (auto [name, value] : {std::pair<TextView, TextView>{u"REPAIR", u"FALSE"}, {u"REMOVE", u"FALSE"}}) define(name, value);
  define(u"ROOTDIR", environment.engine_folder);
  define(u"TITLE", payload.product_title);
  define(u"COMPANY", payload.publisher);
  define(u"ADVERTISE", u"FALSE");
  define(u"TEMPDIR", environment.temp_folder);
  for (auto [name, value] : {std::pair<TextView, TextView>{u"ABORTONERROR", u"TRUE"}, {u"ABORTEDONERROR", u"FALSE"},
                             {u"SAVEDATA", u"FALSE"}})
    define(name, value);
  define(u"SUPPORTDIR", environment.support_folder);
  define(u"MSIFILE", environment.package_path);
}

}  // namespace kyt
