// COM for the engine, through the system function table (the engine does
// not import ole32): an apartment for the current thread while the scope
// lives, objects created in it, and interface pointers that release
// themselves.
#pragma once

#include <windows.h>

#include "system/system_library_win32.h"

namespace kyt {

class ComScope {
 public:
  explicit ComScope(DWORD model) {
    using InitializeFn = HRESULT(WINAPI*)(LPVOID, DWORD);
    create_ = system_function_as<CreateFn>(SystemFunction::CoCreateInstance);
    uninitialize_ = system_function_as<UninitializeFn>(SystemFunction::CoUninitialize);
    auto initialize = system_function_as<InitializeFn>(SystemFunction::CoInitializeEx);
    if (initialize && create_ && uninitialize_) started_ = initialize(nullptr, model);
  }
  ~ComScope() {
    if (SUCCEEDED(started_) && uninitialize_) uninitialize_();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;

  // COM can be used (an apartment of another model counts as usable).
  bool available() const { return create_ && (SUCCEEDED(started_) || started_ == RPC_E_CHANGED_MODE); }
  HRESULT create(REFCLSID object, REFIID kind, void** out) const {
    return create_ ? create_(object, nullptr, CLSCTX_INPROC_SERVER, kind, out) : E_NOINTERFACE;
  }

 private:
  using CreateFn = HRESULT(WINAPI*)(REFCLSID, LPUNKNOWN, DWORD, REFIID, LPVOID*);
  using UninitializeFn = void(WINAPI*)();
  CreateFn create_ = nullptr;
  UninitializeFn uninitialize_ = nullptr;
  HRESULT started_ = E_FAIL;
};

template <class T>
class Com {
 public:
  Com() = default;
  ~Com() {
    if (p_) p_->Release();
  }
  Com(const Com&) = delete;
  Com& operator=(const Com&) = delete;
  T** out() { return &p_; }
  void** out_void() { return reinterpret_cast<void**>(&p_); }
  T* operator->() const { return p_; }
  T* get() const { return p_; }

 private:
  T* p_ = nullptr;
};

}  // namespace kyt
