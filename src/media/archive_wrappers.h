// The engine's wrappers around the archive library: compression presets,
// file-list preparation, the out-of-resources retries and the error texts.
#pragma once

#include "media/archive_library.h"

namespace kyt {

// Error code the engine uses when the out-of-process extractor cannot start.
inline constexpr uint32_t kArchiveCannotStartExtractor = 1016;
// The library's out-of-resources code, retried with lighter settings.
inline constexpr uint32_t kArchiveOutOfResources = 1018;

// "-ssw -mhe=on|off " + thread switch + level switches.
Text compression_preset(TextView level, int processors, bool encrypt_headers);

// The library method code of "Compress 7Zip Archive"'s method index 0..6, or
// empty for an index outside that range.
std::optional<int32_t> archive_method_code(int64_t index);

// Removes entries that repeat (ignoring case); when any was removed the list
// becomes the distinct lower-case entries, last entry first.
void remove_duplicate_entries(std::vector<Text>& list);

// "#" + the library's error code.
Text archive_error_text(uint32_t code);

// What the wrappers need from the machine.
struct ArchiveEnvironment {
  int processors = 1;
  bool wow64 = false;  // 64-bit Windows: other retry presets
  // Rebuilds a folder path whose characters were lost in an ANSI round trip.
  std::function<Text(const Text& folder)> repair_folder = [](const Text& folder) { return folder; };
  std::function<void()> trim_working_set = [] {};
};

class ArchiveWrappers {
 public:
  ArchiveWrappers(ArchiveLibrary& library, ArchiveEnvironment environment)
      : library_(library), environment_(std::move(environment)) {}

  // Each returns true on success; on failure `error` holds the error text.
  bool create(const Text& archive, int32_t method, std::vector<Text> list_a, std::vector<Text> list_b, int32_t mode,
              const Text& switches, const Text& password, const ArchiveProgress& progress, Text& error);
  // `out_of_process` extracts through a second engine process after two
  // out-of-resources failures; it returns the error text (empty: success), or
  // empty optional when the process could not be started.
  using OutOfProcess = std::function<std::optional<Text>(const Text& archive, const Text& password,
                                                         const Text& destination, const std::vector<Text>& items,
                                                         bool keep_paths, bool overwrite)>;
  bool extract(const Text& archive, const Text& destination, std::vector<Text> items, bool keep_paths, bool overwrite,
               const Text& password, const ArchiveProgress& progress, Text& error,
               const OutOfProcess& out_of_process = {});
  bool test(const Text& archive, const Text& password, const ArchiveProgress& progress, Text& error);
  bool remove(const Text& archive, std::vector<Text> items, const Text& password, const ArchiveProgress& progress,
              Text& error);
  bool list(const Text& archive, const Text& password, std::vector<ArchiveListEntry>& entries, Text& error);

  // The items of list A as the library takes them: the repaired grandparent
  // folder + the last folder name + "\" + the file name; "*.*" becomes "*".
  Text prepare_list_a(const Text& path) const;
  Text prepare_list_b(const Text& path) const;

 private:
  // The path with its folder repaired.
  Text repair_path(const Text& path) const;
  // A password callback that hands out `password` once.
  static ArchivePassword password_once(const Text& password);

  ArchiveLibrary& library_;
  ArchiveEnvironment environment_;
};

}  // namespace kyt
