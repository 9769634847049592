/* The least work that writes the benchmark product: its files come from one
 * pack file (make_product.py pack) read sequentially in large blocks and are
 * written with plain CreateFileW/WriteFile, folders with CreateDirectoryW.
 * Removal deletes the files the pack lists, then its folders, deepest first.
 *
 *   install_floor.exe install PACK TARGET
 *   install_floor.exe remove PACK TARGET [CALLS]
 *   install_floor.exe copy PACK SOURCE TARGET CALLS
 *
 * `copy` writes the same files from a folder that holds them one by one (an
 * installer's data folder) with the per-file calls CALLS names, so that the
 * cost of each call an installer makes per file can be measured against the
 * floor:
 *   v  twice the source's attributes (GetFileAttributesExW) and version
 *      resource size (GetFileVersionInfoSizeW)
 *   a  the attributes of the target file (twice) and of its folder
 *   x  CopyFileExW with a progress routine     c  CopyFileW
 *   l  CreateHardLinkW (the data folder must be on the target's drive)
 *   r  CreateFileW, ReadFile and WriteFile with a 1 MiB buffer (when
 *      neither x, c nor l is given)
 *   n  SetFileAttributesW(FILE_ATTRIBUTE_NORMAL) on the written file
 * For `remove`, "a" asks the attributes of each file three times and "n"
 * sets them to normal before it is deleted.
 *
 * A GUI-subsystem program like the installers it is compared with, so that
 * Wine starts it the same way. Exit code 0 on success; otherwise 100 + the
 * step that failed (a bad command line or pack, a folder, a file, a removal). */
#include <windows.h>
#include <shellapi.h>

#define BLOCK (8u << 20)
#define COPY_BUFFER (1u << 20)

typedef struct {
  unsigned long long size;
  WCHAR *name;     /* TARGET\relative */
  WCHAR *source;   /* SOURCE\relative, for `copy` */
} Entry;

static HANDLE pack_file;
static BYTE *block;
static DWORD block_fill, block_at;

/* Copies `size` bytes of the pack into `buffer`. */
static BOOL pack_read(void *buffer, DWORD size) {
  DWORD done = 0;
  while (done < size) {
    if (block_at == block_fill) {
      if (!ReadFile(pack_file, block, BLOCK, &block_fill, NULL) || block_fill == 0) return FALSE;
      block_at = 0;
    }
    DWORD step = block_fill - block_at < size - done ? block_fill - block_at : size - done;
    CopyMemory((BYTE *)buffer + done, block + block_at, step);
    block_at += step;
    done += step;
  }
  return TRUE;
}

/* FOLDER + "\" + `name`, in a fresh heap string. */
static WCHAR *joined(const WCHAR *folder, const WCHAR *name, WORD length) {
  int prefix = lstrlenW(folder);
  WCHAR *path = HeapAlloc(GetProcessHeap(), 0, (prefix + 1 + length + 1) * sizeof(WCHAR));
  if (!path) return NULL;
  CopyMemory(path, folder, prefix * sizeof(WCHAR));
  path[prefix] = L'\\';
  CopyMemory(path + prefix + 1, name, length * sizeof(WCHAR));
  path[prefix + 1 + length] = 0;
  return path;
}

/* The next name of the pack below TARGET (and below SOURCE when given). */
static BOOL read_name(const WCHAR *target, const WCHAR *source, WCHAR **path, WCHAR **source_path) {
  WORD length;
  WCHAR name[32768];
  if (!pack_read(&length, sizeof length) || !pack_read(name, length * sizeof(WCHAR))) return FALSE;
  *path = joined(target, name, length);
  if (source_path) *source_path = source ? joined(source, name, length) : NULL;
  return *path != NULL;
}

/* Writes the next `size` bytes of the pack to `file` straight from the block. */
static BOOL pack_copy(HANDLE file, unsigned long long size) {
  while (size > 0) {
    if (block_at == block_fill) {
      if (!ReadFile(pack_file, block, BLOCK, &block_fill, NULL) || block_fill == 0) return FALSE;
      block_at = 0;
    }
    DWORD step = block_fill - block_at;
    if (step > size) step = (DWORD)size;
    DWORD written;
    if (!WriteFile(file, block + block_at, step, &written, NULL) || written != step) return FALSE;
    block_at += step;
    size -= step;
  }
  return TRUE;
}

static DWORD CALLBACK go_on(LARGE_INTEGER total, LARGE_INTEGER done, LARGE_INTEGER stream_total,
                            LARGE_INTEGER stream_done, DWORD stream, DWORD reason, HANDLE from, HANDLE to,
                            LPVOID context) {
  (void)total, (void)done, (void)stream_total, (void)stream_done, (void)stream, (void)reason, (void)from, (void)to;
  ++*(unsigned long *)context;
  return PROGRESS_CONTINUE;
}

static BOOL has(const WCHAR *calls, WCHAR call) {
  for (; *calls; ++calls)
    if (*calls == call) return TRUE;
  return FALSE;
}

typedef DWORD(WINAPI *VersionSize)(LPCWSTR, LPDWORD);

/* One file of `copy`, with the calls CALLS names. */
static BOOL copy_one(const Entry *entry, const WCHAR *calls, VersionSize version_size, BYTE *buffer) {
  if (has(calls, L'v')) {
    for (int i = 0; i < 2; ++i) {
      WIN32_FILE_ATTRIBUTE_DATA data;
      DWORD ignored;
      if (!GetFileAttributesExW(entry->source, GetFileExInfoStandard, &data)) return FALSE;
      version_size(entry->source, &ignored);
    }
  }
  if (has(calls, L'a')) {
    WCHAR folder[32768];
    lstrcpynW(folder, entry->name, 32768);
    for (WCHAR *at = folder + lstrlenW(folder); at > folder; --at)
      if (*at == L'\\') {
        *at = 0;
        break;
      }
    GetFileAttributesW(entry->name);
    GetFileAttributesW(entry->name);
    GetFileAttributesW(folder);
  }
  if (has(calls, L'x')) {
    unsigned long chunks = 0;
    if (!CopyFileExW(entry->source, entry->name, go_on, &chunks, NULL, COPY_FILE_RESTARTABLE)) return FALSE;
  } else if (has(calls, L'c')) {
    if (!CopyFileW(entry->source, entry->name, FALSE)) return FALSE;
  } else if (has(calls, L'l')) {
    if (!CreateHardLinkW(entry->name, entry->source, NULL)) return FALSE;
  } else {
    HANDLE from = CreateFileW(entry->source, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    if (from == INVALID_HANDLE_VALUE) return FALSE;
    HANDLE to = CreateFileW(entry->name, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    BOOL ok = to != INVALID_HANDLE_VALUE;
    DWORD read, written;
    while (ok && (ok = ReadFile(from, buffer, COPY_BUFFER, &read, NULL)) && read > 0)
      ok = WriteFile(to, buffer, read, &written, NULL) && written == read;
    CloseHandle(from);
    if (to != INVALID_HANDLE_VALUE) CloseHandle(to);
    if (!ok) return FALSE;
  }
  return !has(calls, L'n') || SetFileAttributesW(entry->name, FILE_ATTRIBUTE_NORMAL);
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR line, int show) {
  (void)instance, (void)previous, (void)line, (void)show;
  int count;
  WCHAR **arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!arguments || count < 4) return 100;
  const WCHAR *command = arguments[1], *source = NULL, *target = arguments[3], *calls = L"";
  BOOL install = lstrcmpW(command, L"install") == 0, copy = lstrcmpW(command, L"copy") == 0;
  if (install && count == 4) {
  } else if (lstrcmpW(command, L"remove") == 0 && (count == 4 || count == 5)) {
    if (count == 5) calls = arguments[4];
  } else if (copy && count == 6) {
    source = arguments[3], target = arguments[4], calls = arguments[5];
  } else {
    return 100;
  }

  pack_file = CreateFileW(arguments[2], GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                          FILE_FLAG_SEQUENTIAL_SCAN, NULL);
  block = VirtualAlloc(NULL, BLOCK, MEM_COMMIT, PAGE_READWRITE);
  if (pack_file == INVALID_HANDLE_VALUE || !block) return 101;
  char magic[9] = {0};
  DWORD files, folders;
  if (!pack_read(magic, 8) || lstrcmpA(magic, "KYTPACK1") != 0 || !pack_read(&files, 4) || !pack_read(&folders, 4))
    return 101;
  WCHAR **folder_paths = HeapAlloc(GetProcessHeap(), 0, (folders + 1) * sizeof(WCHAR *));
  Entry *entries = HeapAlloc(GetProcessHeap(), 0, (files + 1) * sizeof(Entry));
  if (!folder_paths || !entries) return 101;
  for (DWORD i = 0; i < folders; ++i)
    if (!read_name(target, NULL, &folder_paths[i], NULL)) return 101;
  for (DWORD i = 0; i < files; ++i)
    if (!pack_read(&entries[i].size, 8) || !read_name(target, source, &entries[i].name, &entries[i].source))
      return 101;

  if (install || copy) {
    if (!CreateDirectoryW(target, NULL) && GetLastError() != ERROR_ALREADY_EXISTS) return 102;
    for (DWORD i = 0; i < folders; ++i)
      if (!CreateDirectoryW(folder_paths[i], NULL) && GetLastError() != ERROR_ALREADY_EXISTS) return 102;
  }
  if (install) {
    for (DWORD i = 0; i < files; ++i) {
      HANDLE file = CreateFileW(entries[i].name, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
      if (file == INVALID_HANDLE_VALUE) return 103;
      BOOL ok = pack_copy(file, entries[i].size);
      CloseHandle(file);
      if (!ok) return 103;
    }
    return 0;
  }
  if (copy) {
    VersionSize version_size = (VersionSize)(void *)GetProcAddress(LoadLibraryW(L"version.dll"),
                                                                     "GetFileVersionInfoSizeW");
    BYTE *buffer = VirtualAlloc(NULL, COPY_BUFFER, MEM_COMMIT, PAGE_READWRITE);
    if (!version_size || !buffer) return 101;
    for (DWORD i = 0; i < files; ++i)
      if (!copy_one(&entries[i], calls, version_size, buffer)) return 103;
    return 0;
  }
  int result = 0;
  for (DWORD i = 0; i < files; ++i) {
    if (has(calls, L'a'))
      for (int k = 0; k < 3; ++k) GetFileAttributesW(entries[i].name);
    if (has(calls, L'n')) SetFileAttributesW(entries[i].name, FILE_ATTRIBUTE_NORMAL);
    if (!DeleteFileW(entries[i].name)) result = 104;
  }
  for (DWORD i = folders; i-- > 0;)
    if (!RemoveDirectoryW(folder_paths[i])) result = 104;
  if (!RemoveDirectoryW(target)) result = 104;
  return result;
}
