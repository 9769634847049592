// The archive library interface backed by kyt.lib.
#pragma once

#include "media/archive_library.h"

namespace kyt {

class KytLibrary : public ArchiveLibrary {
 public:
  void set_7zip_dll_directory(const Text& folder) override;
  bool create_archive(const Text& archive, int32_t method, const std::vector<Text>& list_a,
                      const std::vector<Text>& list_b, int32_t mode, const Text& switches, const Text& password,
                      const ArchiveProgress& progress) override;
  bool extract_archive(const Text& archive, const Text& destination, const std::vector<Text>& items, bool keep_paths,
                       const Text& password, const ArchivePassword& ask_password, const ArchiveProgress& progress,
                       const ArchiveOverwrite& overwrite) override;
  bool delete_from_archive(const Text& archive, const std::vector<Text>& items, const Text& password,
                           const ArchiveProgress& progress) override;
  bool test_archive(const Text& archive, const Text& password, const ArchivePassword& ask_password,
                    const ArchiveProgress& progress) override;
  bool list_archive(const Text& archive, const Text& password, const ArchivePassword& ask_password,
                    std::vector<ArchiveListEntry>& entries) override;
  uint32_t last_error() override;
};

}  // namespace kyt
