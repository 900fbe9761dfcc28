// Plumbing for our small in-process COM servers loaded by path: a per-module
// count of live objects and server locks (DllCanUnloadNow answers from it) and
// one class factory for classes created without an outer object. Header-only,
// so every DLL that includes it keeps its own count. Thread-safe.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <atomic>
#include <new>

#include "common/hresult.h"

namespace zv {

inline std::atomic<long>& ModuleObjectCount() noexcept {
  static std::atomic<long> count{0};
  return count;
}

// Held as a member by every object the module hands out, so the module
// reports itself busy for as long as the object lives.
class ModuleObjectToken {
 public:
  ModuleObjectToken() noexcept { ++ModuleObjectCount(); }
  ~ModuleObjectToken() { --ModuleObjectCount(); }
  ModuleObjectToken(const ModuleObjectToken&) = delete;
  ModuleObjectToken& operator=(const ModuleObjectToken&) = delete;
};

inline HRESULT CanUnloadModule() noexcept { return ModuleObjectCount() == 0 ? S_OK : S_FALSE; }

// Creates a new instance and queries it for iid; *out is null on entry.
using CreateInstanceFunction = HRESULT (*)(REFIID iid, void** out);

class ClassFactory final : public IClassFactory {
 public:
  explicit ClassFactory(CreateInstanceFunction create) noexcept : create_(create) {}

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IClassFactory) {
      *out = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG refs = --refs_;
    if (refs == 0) delete this;
    return refs;
  }
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    return GuardBoundary([&] { return create_(iid, out); });
  }
  STDMETHODIMP LockServer(BOOL lock) override {
    if (lock) {
      ++ModuleObjectCount();
    } else {
      --ModuleObjectCount();
    }
    return S_OK;
  }

 private:
  std::atomic<ULONG> refs_{1};
  CreateInstanceFunction create_;
  ModuleObjectToken token_;
};

// Answers DllGetClassObject for one class: a fresh factory when clsid is the
// class's own id, CLASS_E_CLASSNOTAVAILABLE otherwise.
inline HRESULT GetClassFactory(REFCLSID requested, REFCLSID own, CreateInstanceFunction create,
                               REFIID iid, void** out) noexcept {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (requested != own) return CLASS_E_CLASSNOTAVAILABLE;
  auto* factory = new (std::nothrow) ClassFactory(create);
  RETURN_IF_NULL_ALLOC(factory);
  const HRESULT hr = factory->QueryInterface(iid, out);
  factory->Release();
  return hr;
}

}  // namespace zv
