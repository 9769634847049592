// The installed product's place in Windows and in its engine cache: the
// uninstall entries that list it among the installed programs and start the
// cached engine for maintenance or removal, the key by which later engines
// find the cache, the instance file, and the copy of the engine and what it
// needs kept in the cache.
#pragma once

#include <cstdint>
#include <utility>

#include "bootstrap/payload.h"
#include "install/machine.h"
#include "script/session.h"
#include "script/variables.h"
#include "system/file_system.h"

namespace kyt {

constexpr TextView kUninstallKey = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
constexpr TextView kIdentCacheKey = u"SOFTWARE\\Delvoran\\Quorvane\\Ident.Cache\\";

// The running engine's file name without its extension: the stem of the
// files kept beside it in the cache (".dat", ".res", ".lan", ...).
Text engine_base_name(const Variables& variables);

// "2.5.1" gives 2 and 5, "7" gives 7 and 0; a part that is no number
// counts 0.
std::pair<uint32_t, uint32_t> version_numbers(TextView version);

// Writes, in this order, the product-code uninstall key, the TITLE
// uninstall key with its thirteen values, the cache key and "instance.dat"
// in the cache, under HKEY_LOCAL_MACHINE when ALLUSERS is true, else
// HKEY_CURRENT_USER. Registry failures leave a value missing and go on.
void register_product(Machine& machine, FileSystem& files, const Variables& variables, const Payload& payload);

// Deletes the TITLE and product-code uninstall keys and the cache key under
// both roots, and the engine's keys above the cache key that are left
// empty.
void unregister_product(Machine& machine, const Variables& variables);

// Copies the running engine, its resource archive, kyt.lib and setup.bmp
// from the engine's folder into the cache (ENGINECACHE) unless the engine
// runs from there, and writes the component file and the saved property
// lists. False when the engine itself could not be copied.
bool refresh_engine_cache(Machine& machine, FileSystem& files, const Variables& variables, const Session& session);

// Deletes the cache folder with everything in it; a folder that cannot go
// (the cached engine runs from it) is renamed to the first free numbered
// name beside it and deleted at the next restart.
void remove_engine_cache(Machine& machine, const Text& cache);

}  // namespace kyt
