// The component file: the component model and the persisted variables in one
// UTF-8 text file.
//
//   file       := U+FEFF? list{6} targetdir allusers startmenu sources
//                 (name value)* "ZEKO64WOW" mode "OVERRIDECACHE" value "NATIVE_ENGINE" value
//   list       := line* "$"          components, states, deleted, hidden, locked, size pairs
// Values keep line breaks as "$NEWLINE$". A file that ends early leaves the
// remaining items unset.
#pragma once

#include <string>

#include "install/components.h"
#include "system/file_system.h"
#include "script/session.h"
#include "script/variables.h"

namespace kyt {

// Writes the file; `sources_folder` is empty when there are no sources to
// record (the feature-selection command).
std::string write_component_file(const Session& session, const Variables& variables, TextView sources_folder);

// The same file with its first ten items (the six lists and the four values
// after them) kept byte for byte and the variables written anew.
std::string update_component_file(std::string_view old_file, const Session& session, const Variables& variables);

struct ComponentFileOptions {
  bool merge = false;
  bool ignore_sizes = false;
};

// Loads the file into the model and the variables. Without merge the lists
// are replaced and the sources folder line is returned through
// `sources_folder`; with merge, states of existing components and the side
// lists are taken and the sizes never are.
void read_component_file(std::string_view bytes, Session& session, Variables& variables,
                         ComponentFileOptions options, Text* sources_folder = nullptr);

// The file operations on top. Loading a missing file without merge looks for
// the component file of an engine cache in the same folder instead: the
// folder holds "kyt.lib", and the first "N.dat" with N.exe, N.res and N.par
// beside it is read. False when nothing was read.
bool load_component_file(FileSystem& files, const Text& path, Session& session, Variables& variables,
                         ComponentFileOptions options, Text* sources_folder = nullptr);
// Rewrites the variables of an existing file: through path + ".dat", then
// the old file is replaced. False when the file cannot be read or replaced.
bool update_component_file_at(FileSystem& files, const Text& path, const Session& session,
                              const Variables& variables);

}  // namespace kyt
