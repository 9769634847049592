/* Stands in for the framework's fusion.dll, which Wine lacks: an assembly
   cache that keeps each installed assembly as
   <Windows>\assembly\GAC_MSIL\<name>\<name>.dll, <name> being the file's base
   name. Installing an assembly that is there already fails unless asked to
   refresh; removal deletes the file and its folder. */
#define COBJMACROS
#include <windows.h>
#include <fusion.h>
#include <wchar.h>

static void cache_paths(LPCWSTR name, wchar_t* folder, wchar_t* file) {
  wchar_t windows[MAX_PATH];
  GetWindowsDirectoryW(windows, MAX_PATH);
  swprintf(folder, MAX_PATH, L"%ls\\assembly\\GAC_MSIL\\%ls", windows, name);
  swprintf(file, MAX_PATH, L"%ls\\%ls.dll", folder, name);
}

static void make_folders(const wchar_t* folder) {
  wchar_t path[MAX_PATH];
  for (size_t i = 3; folder[i - 1]; ++i) {
    if (folder[i] == L'\\' || folder[i] == 0) {
      wcsncpy(path, folder, i);
      path[i] = 0;
      CreateDirectoryW(path, NULL);
    }
  }
}

static HRESULT STDMETHODCALLTYPE query_interface(IAssemblyCache* self, REFIID riid, void** out) {
  *out = self;
  return S_OK;
}
static ULONG STDMETHODCALLTYPE add_ref(IAssemblyCache* self) { return 2; }
static ULONG STDMETHODCALLTYPE release(IAssemblyCache* self) { return 1; }

static HRESULT STDMETHODCALLTYPE uninstall(IAssemblyCache* self, DWORD flags, LPCWSTR name,
                                           LPCFUSION_INSTALL_REFERENCE reference, ULONG* disposition) {
  wchar_t folder[MAX_PATH], file[MAX_PATH];
  cache_paths(name, folder, file);
  if (!DeleteFileW(file)) return HRESULT_FROM_WIN32(GetLastError());
  RemoveDirectoryW(folder);
  if (disposition) *disposition = IASSEMBLYCACHE_UNINSTALL_DISPOSITION_UNINSTALLED;
  return S_OK;
}

static HRESULT STDMETHODCALLTYPE query_info(IAssemblyCache* self, DWORD flags, LPCWSTR name, ASSEMBLY_INFO* info) {
  return E_NOTIMPL;
}
static HRESULT STDMETHODCALLTYPE create_item(IAssemblyCache* self, DWORD flags, PVOID reserved,
                                             IAssemblyCacheItem** item, LPCWSTR name) {
  return E_NOTIMPL;
}
static HRESULT STDMETHODCALLTYPE scavenger(IAssemblyCache* self, IUnknown** out) { return E_NOTIMPL; }

static HRESULT STDMETHODCALLTYPE install(IAssemblyCache* self, DWORD flags, LPCWSTR path,
                                         LPCFUSION_INSTALL_REFERENCE reference) {
  const wchar_t* base = wcsrchr(path, L'\\');
  wchar_t name[MAX_PATH], folder[MAX_PATH], file[MAX_PATH];
  wcscpy(name, base ? base + 1 : path);
  wchar_t* dot = wcsrchr(name, L'.');
  if (dot) *dot = 0;
  cache_paths(name, folder, file);
  make_folders(folder);
  BOOL refresh = (flags & (IASSEMBLYCACHE_INSTALL_FLAG_REFRESH | IASSEMBLYCACHE_INSTALL_FLAG_FORCE_REFRESH)) != 0;
  if (!CopyFileW(path, file, !refresh)) return HRESULT_FROM_WIN32(GetLastError());
  return S_OK;
}

static IAssemblyCacheVtbl vtable = {query_interface, add_ref, release, uninstall, query_info,
                                    create_item,     scavenger, install};
static IAssemblyCache cache = {&vtable};

__declspec(dllexport) HRESULT WINAPI CreateAssemblyCache(IAssemblyCache** out, DWORD reserved) {
  *out = &cache;
  return S_OK;
}
