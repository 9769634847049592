/* The least work that writes the benchmark product: its files come from one
 * pack file (make_product.py pack) read sequentially in large blocks and are
 * written with plain CreateFileW/WriteFile, folders with CreateDirectoryW.
 * Removal deletes the files the pack lists, then its folders, deepest first.
 *
 *   install_floor.exe install PACK TARGET
 *   install_floor.exe remove PACK TARGET
 *
 * A GUI-subsystem program like the installers it is compared with, so that
 * Wine starts it the same way. Exit code 0 on success; otherwise 100 + the
 * step that failed (a bad pack, a folder, a file, a removal). */
#include <windows.h>
#include <shellapi.h>

#define BLOCK (8u << 20)

typedef struct {
  unsigned long long size;
  WCHAR *name;
} Entry;

static HANDLE pack_file;
static BYTE *block;
static DWORD block_fill, block_at;

/* Copies `size` bytes of the pack into `buffer` (NULL: into the block only). */
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

/* TARGET + "\" + a name of the pack, in a fresh heap string. */
static WCHAR *read_name(const WCHAR *target) {
  WORD length;
  if (!pack_read(&length, sizeof length)) return NULL;
  int prefix = lstrlenW(target);
  WCHAR *path = HeapAlloc(GetProcessHeap(), 0, (prefix + 1 + length + 1) * sizeof(WCHAR));
  if (!path) return NULL;
  CopyMemory(path, target, prefix * sizeof(WCHAR));
  path[prefix] = L'\\';
  if (!pack_read(path + prefix + 1, length * sizeof(WCHAR))) return NULL;
  path[prefix + 1 + length] = 0;
  return path;
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

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR line, int show) {
  (void)instance, (void)previous, (void)line, (void)show;
  int count;
  WCHAR **arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!arguments || count != 4) return 100;
  BOOL install = lstrcmpW(arguments[1], L"install") == 0;
  const WCHAR *target = arguments[3];
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
    if (!(folder_paths[i] = read_name(target))) return 101;
  for (DWORD i = 0; i < files; ++i)
    if (!pack_read(&entries[i].size, 8) || !(entries[i].name = read_name(target))) return 101;

  if (install) {
    if (!CreateDirectoryW(target, NULL) && GetLastError() != ERROR_ALREADY_EXISTS) return 102;
    for (DWORD i = 0; i < folders; ++i)
      if (!CreateDirectoryW(folder_paths[i], NULL) && GetLastError() != ERROR_ALREADY_EXISTS) return 102;
    for (DWORD i = 0; i < files; ++i) {
      HANDLE file = CreateFileW(entries[i].name, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
      if (file == INVALID_HANDLE_VALUE) return 103;
      BOOL ok = pack_copy(file, entries[i].size);
      CloseHandle(file);
      if (!ok) return 103;
    }
    return 0;
  }
  int result = 0;
  for (DWORD i = 0; i < files; ++i)
    if (!DeleteFileW(entries[i].name)) result = 104;
  for (DWORD i = folders; i-- > 0;)
    if (!RemoveDirectoryW(folder_paths[i])) result = 104;
  if (!RemoveDirectoryW(target)) result = 104;
  return result;
}
