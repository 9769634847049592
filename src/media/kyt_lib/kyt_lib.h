/* kyt.lib: the archive library beside the engine. A Windows DLL with C
 * entry points (stdcall on 32-bit Windows); strings are UTF-16.
 *
 * Method codes (CreateArchive):
 *   0    the switch text decides everything
 *   1    Copy (no compression)
 *   4    LZMA
 *   5    LZMA2
 *   6    LZMA2 at the highest level
 *   +128 with the BCJ x86 filter in front (130 = BCJ + LZMA2, 132 = BCJ + LZMA)
 *   A non-zero code replaces the methods of the switch text; the switch
 *   text's other settings (dictionary, solid, threads, header encryption)
 *   still apply.
 * Modes (CreateArchive): 0 a new archive replaces any existing file;
 *   1 adds the files to an existing archive (items of the same name are
 *   replaced); 2 like 1, but only items already in the archive are replaced.
 * File lists: list A items are stored under their last folder's name
 *   ("C:\a\dir\f.txt" as "dir\f.txt"), list B items by their name alone.
 *   A last element "*" stands for everything in the folder, recursively.
 * Path flag (ExtractArchive): 0 recreates the stored folders, 1 extracts
 *   every file into the destination folder itself.
 * Overwrite callback answers: 1 keep the existing file, 2 overwrite it,
 *   3 keep this and every later existing file, 4 overwrite this and every
 *   later one, 5 cancel.
 * Password callback: receives a buffer of KYT_PASSWORD_CAPACITY characters;
 *   returns non-zero after writing a NUL-terminated password into it.
 * Error codes (GetLastArchiveError, per thread): see archive.h's Error;
 *   1018 means memory or another resource ran out.
 */
#ifndef KYT_LIB_H
#define KYT_LIB_H

#include <stdint.h>
#include <wchar.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define KYT_CALL __stdcall
#else
#define KYT_CALL
#endif

#ifdef KYT_LIB_BUILD
#define KYT_API __declspec(dllexport)
#else
#define KYT_API __declspec(dllimport)
#endif

#define KYT_PASSWORD_CAPACITY 1024

typedef struct TSZW_TARGETFILES {
  wchar_t** items;
  int32_t count;
} TSZW_TARGETFILES;

/* One listed item; 48 bytes on 32- and 64-bit Windows. */
typedef struct KYT_LIST_ENTRY {
  union {
    const wchar_t* name;
    uint64_t name_space;
  };
  int64_t size;
  int64_t packed_size;
  uint64_t reserved;
  uint32_t mtime_low, mtime_high; /* FILETIME */
  uint32_t attributes;
  uint32_t padding;
} KYT_LIST_ENTRY;

typedef int32_t(KYT_CALL* KYT_PROGRESS)(const wchar_t* item, int64_t done, int64_t total);
typedef int32_t(KYT_CALL* KYT_PASSWORD)(wchar_t* buffer);
typedef int32_t(KYT_CALL* KYT_SECOND)(int32_t a, int32_t b);
typedef int32_t(KYT_CALL* KYT_OVERWRITE)(int32_t a, int32_t b, int32_t c, int32_t d, int32_t e, int32_t f, int32_t g,
                                         int32_t h, int32_t i, int32_t j);

KYT_API void KYT_CALL Set7zipDllDirectory(const wchar_t* folder);
KYT_API int32_t KYT_CALL CreateArchive(const wchar_t* archive, int32_t method, const TSZW_TARGETFILES* list_a,
                                       const TSZW_TARGETFILES* list_b, int32_t mode, const wchar_t* switches,
                                       const wchar_t* password, KYT_PROGRESS progress, KYT_SECOND second,
                                       int32_t reserved);
KYT_API int32_t KYT_CALL ExtractArchive(const wchar_t* archive, int32_t one, const wchar_t* destination,
                                        const TSZW_TARGETFILES* items, int32_t path_flag, const wchar_t* password,
                                        KYT_PASSWORD ask_password, KYT_PROGRESS progress, KYT_SECOND second,
                                        KYT_OVERWRITE overwrite);
KYT_API int32_t KYT_CALL DeleteFromArchive(const wchar_t* archive, int32_t one, const TSZW_TARGETFILES* items,
                                           int32_t reserved1, int32_t reserved2, int32_t reserved3,
                                           const wchar_t* password, int32_t reserved4, KYT_PROGRESS progress,
                                           KYT_SECOND second);
KYT_API int32_t KYT_CALL TestArchive(const wchar_t* archive, int32_t reserved1, int32_t reserved2, int32_t reserved3,
                                     int32_t reserved4, const wchar_t* password, KYT_PASSWORD ask_password,
                                     KYT_PROGRESS progress);
KYT_API intptr_t KYT_CALL OpenListArchive(const wchar_t* archive, int32_t reserved1, KYT_PASSWORD ask_password,
                                          int32_t reserved2, int32_t reserved3, int32_t reserved4,
                                          const wchar_t* password, KYT_LIST_ENTRY** entries, int32_t* count);
KYT_API void KYT_CALL CloseListArchive(intptr_t handle);
KYT_API uint32_t KYT_CALL GetLastArchiveError(void);

#ifdef __cplusplus
}
#endif

#endif
