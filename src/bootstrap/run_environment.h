// What the start-up finds out about the machine and the process before the
// script runs, and the predefined variables made from it.
#pragma once

#include "bootstrap/payload.h"
#include "script/variables.h"

namespace kyt {

struct RunEnvironment {
  Text engine_path;     // full path of the running executable
  Text engine_folder;   // with trailing backslash
  Text temp_folder;     // with trailing backslash
  Text support_folder;  // with trailing backslash
  Text package_path;    // support folder + base name + ".msi"
  Text data_folder;     // engine folder + "data\"
  Text command_line_rest, log_path, gpo_path, sfx_path;
  bool silent = false;
  bool administrator = false;
  Text program_files;      // CSIDL_PROGRAM_FILES, with trailing backslash
  Text documents_parent;   // the folder above the user's Documents, with trailing backslash
  Text common_app_data;    // cache root for all users, with trailing backslash
  Text local_app_data;     // cache root for one user, with trailing backslash
  Text registered_owner, registered_organization;
  bool glass = false;
};

// The run set-up phases that define predefined variables.
void define_pre_initialization(Variables& variables, const Payload& payload, const RunEnvironment& environment);
// The engine-cache bootstrap's values for a first installation.
void define_bootstrap(Variables& variables, const Payload& payload, const RunEnvironment& environment);
void define_initialization(Variables& variables, const Payload& payload, const RunEnvironment& environment);

// The folder that holds the product's engine cache: OVERRIDECACHE when set,
// else the application-data folder for all users or for this one, + the
// cache folder GUID + "\".
Text product_cache_folder(const Variables& variables, const Payload& payload, const RunEnvironment& environment,
                          bool all_users);

// The engine's default installation folder for the product.
Text default_target_folder(const Payload& payload, const RunEnvironment& environment);

}  // namespace kyt
