// A hall DLL loaded by path the way the host loads it: LoadLibrary, then
// DllGetClassObject and DllCanUnloadNow from its exports.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <string>

#include "common/handles.h"

namespace zvtest {

class HallDll {
 public:
  explicit HallDll(const std::wstring& fileName);

  bool Loaded() const { return module_.valid() && getClassObject_ && canUnloadNow_; }
  const std::wstring& Path() const { return path_; }
  HRESULT GetFactory(REFCLSID classId, IClassFactory** out) const;
  HRESULT CanUnloadNow() const { return canUnloadNow_(); }
  // A plain hall object, queried for iid.
  HRESULT Create(REFCLSID classId, REFIID iid, void** out) const;

 private:
  using GetClassObjectFn = HRESULT(__stdcall*)(REFCLSID, REFIID, void**);
  using CanUnloadNowFn = HRESULT(__stdcall*)();

  std::wstring path_;
  zv::UniqueModule module_;
  GetClassObjectFn getClassObject_ = nullptr;
  CanUnloadNowFn canUnloadNow_ = nullptr;
};

}  // namespace zvtest
