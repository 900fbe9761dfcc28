// Per-DLL state of a COM server: the module handle, the lock count that
// decides DllCanUnloadNow, the DLL's own embedded type library (loaded once,
// under the module's critical section) and the window classes the module
// registered. One instance per server DLL; every member may be called from any
// thread.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <string>
#include <utility>
#include <vector>

#include "common/handles.h"

namespace zv {

class ComModule {
 public:
  ComModule() noexcept;
  ~ComModule();
  ComModule(const ComModule&) = delete;
  ComModule& operator=(const ComModule&) = delete;

  // Recorded by DllMain; until then the module holding this code is used.
  void SetInstance(HMODULE instance) noexcept { instance_ = instance; }
  HMODULE Instance() const noexcept;
  std::wstring FilePath() const;

  // Interlocked: hall objects and LockServer may come and go on any thread.
  LONG Lock() noexcept { return ::InterlockedIncrement(&lockCount_); }
  LONG Unlock() noexcept { return ::InterlockedDecrement(&lockCount_); }
  LONG LockCount() const noexcept { return ::InterlockedCompareExchange(const_cast<LONG*>(&lockCount_), 0, 0); }
  HRESULT CanUnloadNow() const noexcept { return LockCount() == 0 ? S_OK : S_FALSE; }

  // The type library embedded in this module's file as resource 1, loaded on
  // first use without registering it.
  HRESULT GetTypeLib(ITypeLib** out);
  // Type information of guid from that library, cached per guid.
  HRESULT GetTypeInfo(REFGUID guid, ITypeInfo** out);

  // Registers a window class of this module once; later calls with the same
  // name reuse it. Terminate unregisters it.
  HRESULT RegisterWindowClass(const wchar_t* className, WNDPROC procedure);

  // Called when the DLL is unloaded. When the process is ending other DLLs
  // may already be gone, so the cached COM references are left alone then.
  void Terminate(bool processEnding) noexcept;

 private:
  class Guard;

  HMODULE instance_ = nullptr;
  LONG lockCount_ = 0;
  CRITICAL_SECTION lock_;
  ComPtr<ITypeLib> typeLib_;
  std::vector<std::pair<GUID, ComPtr<ITypeInfo>>> typeInfos_;
  std::vector<std::wstring> windowClasses_;
};

}  // namespace zv
