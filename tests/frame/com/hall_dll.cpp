#include "hall_dll.h"

#include "test_support.h"

namespace zvtest {

HallDll::HallDll(const std::wstring& fileName) : path_(ProgramFolder() + L"\\" + fileName) {
  module_.reset(::LoadLibraryW(path_.c_str()));
  if (!module_) return;
  getClassObject_ = reinterpret_cast<GetClassObjectFn>(::GetProcAddress(module_.get(), "DllGetClassObject"));
  canUnloadNow_ = reinterpret_cast<CanUnloadNowFn>(::GetProcAddress(module_.get(), "DllCanUnloadNow"));
}

HRESULT HallDll::GetFactory(REFCLSID classId, IClassFactory** out) const {
  return getClassObject_(classId, IID_IClassFactory, reinterpret_cast<void**>(out));
}

HRESULT HallDll::Create(REFCLSID classId, REFIID iid, void** out) const {
  zv::ComPtr<IClassFactory> factory;
  const HRESULT hr = GetFactory(classId, factory.put());
  if (FAILED(hr)) return hr;
  return factory->CreateInstance(nullptr, iid, out);
}

}  // namespace zvtest
