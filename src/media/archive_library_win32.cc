#include "media/archive_library_win32.h"

#include <windows.h>

#include <cstring>

#include "media/kyt_lib/kyt_lib.h"
#include "system/handle_win32.h"

namespace kyt {

namespace {

// The library's callbacks carry no context: the functions of the call in
// progress on this thread are kept here. The library calls back on the
// calling thread only.
struct CallbackContext {
  const ArchiveProgress* progress = nullptr;
  const ArchivePassword* password = nullptr;
  const ArchiveOverwrite* overwrite = nullptr;
};
thread_local CallbackContext current;

struct ScopedContext {
  CallbackContext saved = current;
  ScopedContext(const ArchiveProgress* progress, const ArchivePassword* password, const ArchiveOverwrite* overwrite) {
    current = {progress, password, overwrite};
  }
  ~ScopedContext() { current = saved; }
};

int32_t KYT_CALL on_progress(const wchar_t* item, int64_t done, int64_t total) {
  if (!current.progress || !*current.progress) return 1;
  try {
    return (*current.progress)(from_wide(item), done, total) ? 1 : 0;
  } catch (...) {
    return 0;  // nothing may cross back into the library
  }
}

int32_t KYT_CALL on_password(wchar_t* buffer) {
  if (!current.password || !*current.password) return 0;
  try {
    auto password = (*current.password)();
    if (!password) return 0;
    size_t length = std::min<size_t>(password->size(), KYT_PASSWORD_CAPACITY - 1);
    std::memcpy(buffer, password->data(), length * sizeof(wchar_t));
    buffer[length] = L'\0';
    return 1;
  } catch (...) {
    return 0;
  }
}

int32_t KYT_CALL on_second(int32_t, int32_t) { return 1; }

int32_t KYT_CALL on_overwrite(int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t,
                              int32_t) {
  bool yes = false;
  try {
    yes = current.overwrite && *current.overwrite && (*current.overwrite)();
  } catch (...) {
  }
  return yes ? 4 : 1;
}

// The engine allocates the strings and the array and frees them after the call.
class FileList {
 public:
  explicit FileList(const std::vector<Text>& items) : texts_(items) {
    for (auto& text : texts_) pointers_.push_back(const_cast<wchar_t*>(wide(text)));
    list_.items = pointers_.data();
    list_.count = static_cast<int32_t>(pointers_.size());
  }
  const TSZW_TARGETFILES* get() const { return &list_; }

 private:
  std::vector<Text> texts_;
  std::vector<wchar_t*> pointers_;
  TSZW_TARGETFILES list_{};
};

}  // namespace

void KytLibrary::set_7zip_dll_directory(const Text& folder) { Set7zipDllDirectory(wide(folder)); }

bool KytLibrary::create_archive(const Text& archive, int32_t method, const std::vector<Text>& list_a,
                                const std::vector<Text>& list_b, int32_t mode, const Text& switches,
                                const Text& password, const ArchiveProgress& progress) {
  ScopedContext context(&progress, nullptr, nullptr);
  FileList a(list_a), b(list_b);
  return CreateArchive(wide(archive), method, a.get(), b.get(), mode, wide(switches), wide(password), on_progress,
                       on_second, 0) != 0;
}

bool KytLibrary::extract_archive(const Text& archive, const Text& destination, const std::vector<Text>& items,
                                 bool keep_paths, const Text& password, const ArchivePassword& ask_password,
                                 const ArchiveProgress& progress, const ArchiveOverwrite& overwrite) {
  ScopedContext context(&progress, &ask_password, &overwrite);
  FileList list(items);
  return ExtractArchive(wide(archive), 1, wide(destination), list.get(), keep_paths ? 0 : 1, wide(password),
                        on_password, on_progress, on_second, on_overwrite) != 0;
}

bool KytLibrary::delete_from_archive(const Text& archive, const std::vector<Text>& items, const Text& password,
                                     const ArchiveProgress& progress) {
  ScopedContext context(&progress, nullptr, nullptr);
  FileList list(items);
  return DeleteFromArchive(wide(archive), 1, list.get(), 0, 0, 0, wide(password), 0, on_progress, on_second) != 0;
}

bool KytLibrary::test_archive(const Text& archive, const Text& password, const ArchivePassword& ask_password,
                              const ArchiveProgress& progress) {
  ScopedContext context(&progress, &ask_password, nullptr);
  return TestArchive(wide(archive), 0, 0, 0, 0, wide(password), on_password, on_progress) != 0;
}

bool KytLibrary::list_archive(const Text& archive, const Text& password, const ArchivePassword& ask_password,
                              std::vector<ArchiveListEntry>& entries) {
  ScopedContext context(nullptr, &ask_password, nullptr);
  KYT_LIST_ENTRY* list = nullptr;
  int32_t count = 0;
  intptr_t handle = OpenListArchive(wide(archive), 0, on_password, 0, 0, 0, wide(password), &list, &count);
  if (!handle) return false;
  entries.clear();
  for (int32_t i = 0; i < count; ++i) {
    const KYT_LIST_ENTRY& entry = list[i];
    entries.push_back({from_wide(entry.name), entry.size, entry.packed_size,
                       uint64_t(entry.mtime_high) << 32 | entry.mtime_low, entry.attributes});
  }
  CloseListArchive(handle);
  return true;
}

uint32_t KytLibrary::last_error() { return GetLastArchiveError(); }

}  // namespace kyt
