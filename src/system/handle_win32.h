// Move-only owners of Windows handles. Moving into an owner closes what it
// held before.
#pragma once

#include <windows.h>

#include <utility>

namespace kyt {

template <typename T, typename Traits>
class UniqueResource {
 public:
  UniqueResource() = default;
  explicit UniqueResource(T value) : value_(value) {}
  ~UniqueResource() { reset(); }
  UniqueResource(UniqueResource&& other) noexcept : value_(std::exchange(other.value_, Traits::invalid())) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) reset(std::exchange(other.value_, Traits::invalid()));
    return *this;
  }
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;

  T get() const { return value_; }
  explicit operator bool() const { return value_ != Traits::invalid(); }
  T release() { return std::exchange(value_, Traits::invalid()); }
  void reset(T value = Traits::invalid()) {
    if (value_ != Traits::invalid()) Traits::close(value_);
    value_ = value;
  }

 private:
  T value_ = Traits::invalid();
};

struct FileHandleTraits {
  static HANDLE invalid() { return INVALID_HANDLE_VALUE; }
  static void close(HANDLE h) { CloseHandle(h); }
};
struct HandleTraits {
  static HANDLE invalid() { return nullptr; }
  static void close(HANDLE h) { CloseHandle(h); }
};
struct ModuleTraits {
  static HMODULE invalid() { return nullptr; }
  static void close(HMODULE h) { FreeLibrary(h); }
};
struct KeyTraits {
  static HKEY invalid() { return nullptr; }
  static void close(HKEY h) { RegCloseKey(h); }
};

// A file handle from CreateFileW (invalid value INVALID_HANDLE_VALUE).
using UniqueFile = UniqueResource<HANDLE, FileHandleTraits>;
// Process, thread, event and other handles (invalid value NULL).
using UniqueHandle = UniqueResource<HANDLE, HandleTraits>;
using UniqueModule = UniqueResource<HMODULE, ModuleTraits>;
using UniqueKey = UniqueResource<HKEY, KeyTraits>;

// Windows wide strings and the engine's UTF-16 text are the same code units.
inline const wchar_t* wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }
inline std::u16string from_wide(const wchar_t* text) {
  return text ? std::u16string(reinterpret_cast<const char16_t*>(text)) : std::u16string();
}
inline std::u16string from_wide(const wchar_t* text, size_t length) {
  return std::u16string(reinterpret_cast<const char16_t*>(text), length);
}

}  // namespace kyt
