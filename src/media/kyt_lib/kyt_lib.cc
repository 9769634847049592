// kyt.lib: the archive library's exported functions, over the portable 7z
// code. Every entry point catches everything: no exception crosses into the
// caller, failures become the thread's last error code.
#define KYT_LIB_BUILD
#include "media/kyt_lib/kyt_lib.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "media/sevenzip/archive.h"

using kyt::sevenzip::Error;

namespace {

thread_local uint32_t last_error = 0;
std::wstring seven_zip_folder;  // recorded only: no 7z.dll is ever loaded from it
std::mutex folder_mutex;

std::u16string text(const wchar_t* value) {
  return value ? std::u16string(reinterpret_cast<const char16_t*>(value)) : std::u16string();
}
const wchar_t* wide(const std::u16string& value) { return reinterpret_cast<const wchar_t*>(value.c_str()); }

int32_t fail(Error error) {
  last_error = static_cast<uint32_t>(error);
  return 0;
}

// Reads or writes `length` bytes at `offset` in chunks; false on a failure
// or a short transfer.
template <typename Transfer, typename Bytes>
bool transfer_at(HANDLE handle, uint64_t offset, Bytes* bytes, size_t length, Transfer transfer) {
  while (length > 0) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(length, 1u << 24)), done = 0;
    if (!transfer(handle, bytes, chunk, &done, &at) || done == 0) return false;
    bytes += done;
    offset += done;
    length -= done;
  }
  return true;
}

// A file read by positioned reads.
class FileIn : public kyt::sevenzip::InStream {
 public:
  explicit FileIn(const std::u16string& path)
      : handle_(CreateFileW(wide(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            FILE_FLAG_SEQUENTIAL_SCAN, nullptr)) {}
  ~FileIn() override {
    if (ok()) CloseHandle(handle_);
  }
  bool ok() const { return handle_ != INVALID_HANDLE_VALUE; }
  uint64_t size() override {
    LARGE_INTEGER size{};
    return ok() && GetFileSizeEx(handle_, &size) ? static_cast<uint64_t>(size.QuadPart) : 0;
  }
  bool read_at(uint64_t offset, void* data, size_t length) override {
    return transfer_at(handle_, offset, static_cast<char*>(data), length, ReadFile);
  }

 private:
  HANDLE handle_;
};

// A new file written by positioned writes.
class FileOut : public kyt::sevenzip::OutStream {
 public:
  FileOut(const std::u16string& path, DWORD disposition)
      : handle_(CreateFileW(wide(path), GENERIC_WRITE, 0, nullptr, disposition,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr)) {}
  ~FileOut() override { close(); }
  bool ok() const { return handle_ != INVALID_HANDLE_VALUE; }
  void close() {
    if (ok()) CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }
  void set_time(uint64_t filetime) {
    FILETIME time{static_cast<DWORD>(filetime), static_cast<DWORD>(filetime >> 32)};
    if (ok()) SetFileTime(handle_, nullptr, nullptr, &time);
  }
  bool write_at(uint64_t offset, const void* data, size_t length) override {
    return transfer_at(handle_, offset, static_cast<const char*>(data), length, WriteFile);
  }

 private:
  HANDLE handle_;
};

std::vector<std::u16string> list_of(const TSZW_TARGETFILES* list) {
  std::vector<std::u16string> items;
  if (!list || !list->items) return items;
  for (int32_t i = 0; i < list->count; ++i) items.push_back(text(list->items[i]));
  return items;
}

std::u16string lower(std::u16string value) {
  CharLowerBuffW(reinterpret_cast<wchar_t*>(value.data()), static_cast<DWORD>(value.size()));
  return value;
}

// Creates a folder and its missing parents.
bool create_folders(std::u16string folder) {
  while (folder.size() > 3 && (folder.back() == u'\\' || folder.back() == u'/')) folder.pop_back();
  DWORD attributes = GetFileAttributesW(wide(folder));
  if (attributes != INVALID_FILE_ATTRIBUTES) return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  size_t slash = folder.find_last_of(u"\\/");
  if (slash != std::u16string::npos && slash > 2) create_folders(folder.substr(0, slash));
  return CreateDirectoryW(wide(folder), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

std::u16string windows_name(std::u16string name) {
  std::replace(name.begin(), name.end(), u'/', u'\\');
  return name;
}

bool is_link(const std::u16string& path) {
  DWORD attributes = GetFileAttributesW(wide(path));
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

kyt::sevenzip::PasswordProvider password_provider(const wchar_t* password, KYT_PASSWORD ask) {
  std::u16string given = text(password);
  return [given, ask]() -> std::u16string {
    if (!given.empty()) return given;
    if (!ask) return {};
    std::vector<wchar_t> buffer(KYT_PASSWORD_CAPACITY, L'\0');
    if (!ask(buffer.data())) return {};
    buffer.back() = L'\0';
    return text(buffer.data());
  };
}

kyt::sevenzip::Progress progress_of(KYT_PROGRESS progress) {
  return [progress](const std::u16string& item, uint64_t done, uint64_t total) {
    return !progress || progress(wide(item), static_cast<int64_t>(done), static_cast<int64_t>(total)) != 0;
  };
}

// Writes a file through a temporary name beside it and then replaces it, so
// a failed write never leaves a half archive in place.
template <typename Write>
Error replace_file(const std::u16string& path, Write write, const std::function<void()>& before_move = {}) {
  std::u16string temporary = path + u".kyt-new";
  Error result;
  {
    FileOut out(temporary, CREATE_ALWAYS);
    if (!out.ok()) return Error::cannot_write;
    result = write(out);
  }
  if (before_move) before_move();  // the old archive may still be open for reading
  if (result != Error::none) {
    DeleteFileW(wide(temporary));
    return result;
  }
  if (!MoveFileExW(wide(temporary), wide(path), MOVEFILE_REPLACE_EXISTING)) {
    DeleteFileW(wide(temporary));
    return Error::cannot_write;
  }
  return Error::none;
}

// Adds a file or, for a last element "*", everything below a folder.
void collect(const std::u16string& path, const std::u16string& stored_prefix, bool with_folder,
             std::vector<kyt::sevenzip::WriterItem>& items) {
  size_t slash = path.find_last_of(u"\\/");
  std::u16string folder = slash == std::u16string::npos ? u"" : path.substr(0, slash + 1);
  std::u16string name = path.substr(folder.size());
  std::u16string base = stored_prefix;
  if (with_folder) {
    std::u16string parent = folder.empty() ? u"" : folder.substr(0, folder.size() - 1);
    size_t cut = parent.find_last_of(u"\\/");
    std::u16string last = cut == std::u16string::npos ? parent : parent.substr(cut + 1);
    if (!last.empty() && last.back() != u':') base += last + u"\\";
  }
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW(wide(folder + (name == u"*" ? u"*" : name)), &data);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    std::u16string entry = text(data.cFileName);
    if (entry == u"." || entry == u"..") continue;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) continue;  // never follow links
    kyt::sevenzip::WriterItem item;
    item.name = base + entry;
    item.attributes = data.dwFileAttributes;
    item.has_mtime = true;
    item.mtime = uint64_t(data.ftLastWriteTime.dwHighDateTime) << 32 | data.ftLastWriteTime.dwLowDateTime;
    std::u16string full = folder + entry;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      item.is_directory = true;
      items.push_back(item);
      if (name == u"*") collect(full + u"\\*", item.name + u"\\", false, items);
    } else {
      item.open = [full]() -> std::unique_ptr<kyt::sevenzip::InStream> {
        auto in = std::make_unique<FileIn>(full);
        if (!in->ok()) return nullptr;
        return in;
      };
      items.push_back(item);
    }
  } while (FindNextFileW(find, &data));
  FindClose(find);
}

// Memory copy of an existing archive's items, for adding to it.
class MemorySink : public kyt::sevenzip::ExtractSink {
 public:
  struct Buffer : kyt::sevenzip::OutStream {
    std::string bytes;
    bool write_at(uint64_t offset, const void* data, size_t length) override {
      if (bytes.size() < offset + length) bytes.resize(offset + length);
      std::memcpy(bytes.data() + offset, data, length);
      return true;
    }
  };
  kyt::sevenzip::OutStream* open(size_t index, const kyt::sevenzip::Entry&) override { return &buffers[index]; }
  bool close(size_t, const kyt::sevenzip::Entry&, Error result) override { return result == Error::none; }
  std::map<size_t, Buffer> buffers;
};

class MemoryIn : public kyt::sevenzip::InStream {
 public:
  explicit MemoryIn(std::shared_ptr<std::string> bytes) : bytes_(std::move(bytes)) {}
  uint64_t size() override { return bytes_->size(); }
  bool read_at(uint64_t offset, void* data, size_t length) override {
    if (offset > bytes_->size() || bytes_->size() - offset < length) return false;
    std::memcpy(data, bytes_->data() + offset, length);
    return true;
  }

 private:
  std::shared_ptr<std::string> bytes_;
};

Error create(const std::u16string& archive, int32_t method, const std::vector<std::u16string>& list_a,
             const std::vector<std::u16string>& list_b, int32_t mode, const std::u16string& switches,
             const std::u16string& password, KYT_PROGRESS progress) {
  kyt::sevenzip::WriterOptions options;
  if (!switches.empty()) {
    Error parsed = kyt::sevenzip::parse_switches(switches, options);
    if (parsed != Error::none) return parsed;
  }
  switch (method & 0x7F) {
    case 0: break;
    case 1: options.method = kyt::sevenzip::Method::copy; break;
    case 4: options.method = kyt::sevenzip::Method::lzma; break;
    case 5: options.method = kyt::sevenzip::Method::lzma2; break;
    case 6: options.method = kyt::sevenzip::Method::lzma2; options.level = 9; break;
    default: return Error::unsupported;
  }
  if (method != 0) options.filter = (method & 0x80) ? kyt::sevenzip::Filter::bcj : kyt::sevenzip::Filter::none;
  options.password = password;
  if (password.empty()) options.encrypt_headers = false;

  std::vector<kyt::sevenzip::WriterItem> items;
  for (const auto& path : list_a) collect(path, u"", true, items);
  for (const auto& path : list_b) collect(path, u"", false, items);

  // Adding to an existing archive: its items are decoded into memory and
  // written again with the new ones (same names are replaced).
  auto existing = std::make_unique<FileIn>(archive);
  if (mode != 0 && existing->ok()) {
    kyt::sevenzip::Reader reader;
    Error opened = reader.open(*existing, [password] { return password; });
    if (opened != Error::none) return opened;
    std::map<std::u16string, size_t> fresh;
    for (size_t i = 0; i < items.size(); ++i) fresh[lower(items[i].name)] = i;
    MemorySink sink;
    Error read = reader.extract({}, sink);
    if (read != Error::none) return read;
    std::vector<kyt::sevenzip::WriterItem> merged;
    std::map<std::u16string, bool> present;
    for (size_t i = 0; i < reader.entries().size(); ++i) {
      const auto& entry = reader.entries()[i];
      present[lower(entry.name)] = true;
      if (fresh.count(lower(entry.name))) continue;
      kyt::sevenzip::WriterItem item;
      item.name = entry.name;
      item.is_directory = entry.is_directory;
      item.attributes = entry.attributes;
      item.has_mtime = entry.has_mtime;
      item.mtime = entry.mtime;
      if (!entry.is_directory) {
        auto bytes = std::make_shared<std::string>(std::move(sink.buffers[i].bytes));
        item.open = [bytes] { return std::make_unique<MemoryIn>(bytes); };
      }
      merged.push_back(std::move(item));
    }
    for (auto& item : items)
      if (mode == 1 || present.count(lower(item.name))) merged.push_back(std::move(item));
    items = std::move(merged);
  }
  return replace_file(
      archive, [&](FileOut& out) { return kyt::sevenzip::write_archive(out, items, options, progress_of(progress)); },
      [&] { existing.reset(); });
}

// Writes extracted items below the destination, refusing unsafe names before
// anything is written.
class FolderSink : public kyt::sevenzip::ExtractSink {
 public:
  FolderSink(std::u16string destination, bool keep_paths, KYT_OVERWRITE overwrite)
      : destination_(std::move(destination)), keep_paths_(keep_paths), overwrite_(overwrite) {}

  kyt::sevenzip::OutStream* open(size_t, const kyt::sevenzip::Entry& entry) override {
    std::u16string relative = entry.name;
    std::replace(relative.begin(), relative.end(), u'/', u'\\');
    if (!keep_paths_) {
      if (entry.is_directory) return nullptr;
      relative = relative.substr(relative.find_last_of(u'\\') + 1);
    }
    std::u16string path = destination_ + relative;
    if (!make_parents(path)) return failed(Error::cannot_write);
    if (entry.is_directory) {
      if (is_link(path)) return failed(Error::unsafe_name);
      if (!CreateDirectoryW(wide(path), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        return failed(Error::cannot_write);
      return nullptr;
    }
    if (GetFileAttributesW(wide(path)) != INVALID_FILE_ATTRIBUTES) {
      if (is_link(path)) return failed(Error::unsafe_name);
      if (!overwrite_all_ && !keep_all_) {
        int32_t answer = overwrite_ ? overwrite_(0, 0, 0, 0, 0, 0, 0, 0, 0, 0) : 4;
        if (answer == 5) return failed(Error::cancelled);
        keep_all_ = answer == 3;
        overwrite_all_ = answer == 4;
        if (answer == 1 || answer == 3) return nullptr;
      } else if (keep_all_) {
        return nullptr;
      }
      SetFileAttributesW(wide(path), FILE_ATTRIBUTE_NORMAL);
    }
    file_ = std::make_unique<FileOut>(path, CREATE_ALWAYS);
    if (!file_->ok()) return failed(Error::cannot_write);
    path_ = path;
    return file_.get();
  }

  bool close(size_t, const kyt::sevenzip::Entry& entry, Error result) override {
    if (file_) {
      if (entry.has_mtime) file_->set_time(entry.mtime);
      file_->close();
      file_.reset();
      if (result != Error::none) DeleteFileW(wide(path_));
      else if (entry.has_attributes) SetFileAttributesW(wide(path_), entry.attributes & 0x27);
    }
    if (error_ != Error::none) return false;
    return result == Error::none;
  }

  Error error() const { return error_; }

 private:
  kyt::sevenzip::OutStream* failed(Error error) {
    if (error_ == Error::none) error_ = error;
    return nullptr;
  }
  // Creates the folders above an item; none of them may be a link.
  bool make_parents(const std::u16string& path) {
    for (size_t at = destination_.size(); (at = path.find(u'\\', at)) != std::u16string::npos; ++at) {
      std::u16string folder = path.substr(0, at);
      if (is_link(folder)) return false;
      if (!CreateDirectoryW(wide(folder), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return false;
    }
    return true;
  }

  std::u16string destination_;
  bool keep_paths_;
  KYT_OVERWRITE overwrite_;
  bool overwrite_all_ = false, keep_all_ = false;
  std::unique_ptr<FileOut> file_;
  std::u16string path_;
  Error error_ = Error::none;
};

template <typename Body>
int32_t guarded(Body body) {
  try {
    Error result = body();
    last_error = static_cast<uint32_t>(result);
    return result == Error::none ? 1 : 0;
  } catch (const std::bad_alloc&) {
    return fail(Error::out_of_resources);
  } catch (...) {
    return fail(Error::damaged);
  }
}

struct ListHandle {
  std::vector<std::u16string> names;
  std::vector<KYT_LIST_ENTRY> entries;
};

}  // namespace

extern "C" {

KYT_API void KYT_CALL Set7zipDllDirectory(const wchar_t* folder) {
  std::lock_guard lock(folder_mutex);
  seven_zip_folder = folder ? folder : L"";
}

KYT_API int32_t KYT_CALL CreateArchive(const wchar_t* archive, int32_t method, const TSZW_TARGETFILES* list_a,
                                       const TSZW_TARGETFILES* list_b, int32_t mode, const wchar_t* switches,
                                       const wchar_t* password, KYT_PROGRESS progress, KYT_SECOND, int32_t) {
  return guarded([&] {
    return create(text(archive), method, list_of(list_a), list_of(list_b), mode, text(switches), text(password),
                  progress);
  });
}

KYT_API int32_t KYT_CALL ExtractArchive(const wchar_t* archive, int32_t, const wchar_t* destination,
                                        const TSZW_TARGETFILES* items, int32_t path_flag, const wchar_t* password,
                                        KYT_PASSWORD ask_password, KYT_PROGRESS progress, KYT_SECOND,
                                        KYT_OVERWRITE overwrite) {
  return guarded([&] {
    FileIn in(text(archive));
    if (!in.ok()) return Error::cannot_open;
    kyt::sevenzip::Reader reader;
    Error opened = reader.open(in, password_provider(password, ask_password));
    if (opened != Error::none) return opened;
    std::vector<std::u16string> wanted = list_of(items);
    std::map<std::u16string, bool> wanted_names;
    for (const auto& name : wanted) wanted_names[lower(windows_name(name))] = true;
    std::vector<size_t> indexes;
    const auto& entries = reader.entries();
    for (size_t i = 0; i < entries.size(); ++i) {
      if (!wanted.empty() && !wanted_names.count(lower(windows_name(entries[i].name)))) continue;
      if (!kyt::sevenzip::safe_item_name(entries[i].name)) return Error::unsafe_name;
      indexes.push_back(i);
    }
    if (!wanted.empty() && indexes.empty()) return Error::no_such_item;
    std::u16string target = text(destination);
    if (!target.empty() && target.back() != u'\\') target.push_back(u'\\');
    if (!create_folders(target)) return Error::cannot_write;
    FolderSink sink(target, path_flag == 0, overwrite);
    Error result = reader.extract(indexes, sink, progress_of(progress));
    return sink.error() != Error::none ? sink.error() : result;
  });
}

KYT_API int32_t KYT_CALL DeleteFromArchive(const wchar_t* archive, int32_t, const TSZW_TARGETFILES* items, int32_t,
                                           int32_t, int32_t, const wchar_t* password, int32_t, KYT_PROGRESS progress,
                                           KYT_SECOND) {
  return guarded([&] {
    std::u16string path = text(archive);
    auto in = std::make_unique<FileIn>(path);
    if (!in->ok()) return Error::cannot_open;
    std::u16string secret = text(password);
    kyt::sevenzip::WriterOptions options;
    options.password = secret;
    return replace_file(
        path,
        [&](FileOut& out) {
          return kyt::sevenzip::delete_items(*in, out, list_of(items), options, [secret] { return secret; },
                                             progress_of(progress));
        },
        [&] { in.reset(); });
  });
}

KYT_API int32_t KYT_CALL TestArchive(const wchar_t* archive, int32_t, int32_t, int32_t, int32_t,
                                     const wchar_t* password, KYT_PASSWORD ask_password, KYT_PROGRESS progress) {
  return guarded([&] {
    FileIn in(text(archive));
    if (!in.ok()) return Error::cannot_open;
    kyt::sevenzip::Reader reader;
    Error opened = reader.open(in, password_provider(password, ask_password));
    if (opened != Error::none) return opened;
    return reader.test(progress_of(progress));
  });
}

KYT_API intptr_t KYT_CALL OpenListArchive(const wchar_t* archive, int32_t, KYT_PASSWORD ask_password, int32_t,
                                          int32_t, int32_t, const wchar_t* password, KYT_LIST_ENTRY** entries,
                                          int32_t* count) {
  ListHandle* handle = nullptr;
  int32_t ok = guarded([&] {
    FileIn in(text(archive));
    if (!in.ok()) return Error::cannot_open;
    kyt::sevenzip::Reader reader;
    Error opened = reader.open(in, password_provider(password, ask_password));
    if (opened != Error::none) return opened;
    auto list = std::make_unique<ListHandle>();
    // Names are given in the Windows form, whichever separator the archive
    // was written with.
    for (const auto& entry : reader.entries()) list->names.push_back(windows_name(entry.name));
    for (size_t i = 0; i < reader.entries().size(); ++i) {
      const auto& entry = reader.entries()[i];
      KYT_LIST_ENTRY item{};
      item.name = wide(list->names[i]);
      item.size = static_cast<int64_t>(entry.size);
      item.packed_size = static_cast<int64_t>(entry.packed_size);
      item.mtime_low = static_cast<uint32_t>(entry.mtime);
      item.mtime_high = static_cast<uint32_t>(entry.mtime >> 32);
      item.attributes = entry.attributes | (entry.is_directory ? FILE_ATTRIBUTE_DIRECTORY : 0);
      list->entries.push_back(item);
    }
    handle = list.release();
    return Error::none;
  });
  if (!ok || !handle) return 0;
  if (entries) *entries = handle->entries.data();
  if (count) *count = static_cast<int32_t>(handle->entries.size());
  return reinterpret_cast<intptr_t>(handle);
}

KYT_API void KYT_CALL CloseListArchive(intptr_t handle) { delete reinterpret_cast<ListHandle*>(handle); }

KYT_API uint32_t KYT_CALL GetLastArchiveError(void) { return last_error; }

}  // extern "C"

static_assert(sizeof(KYT_LIST_ENTRY) == 48, "list entries are 48 bytes apart");
