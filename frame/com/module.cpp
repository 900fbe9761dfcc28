#include "frame/com/module.h"

#include "common/hresult.h"
#include "common/locations.h"
#include "common/text.h"

namespace zv {

class ComModule::Guard {
 public:
  explicit Guard(CRITICAL_SECTION& section) noexcept : section_(section) { ::EnterCriticalSection(&section_); }
  ~Guard() { ::LeaveCriticalSection(&section_); }
  Guard(const Guard&) = delete;
  Guard& operator=(const Guard&) = delete;

 private:
  CRITICAL_SECTION& section_;
};

ComModule::ComModule() noexcept { ::InitializeCriticalSection(&lock_); }

ComModule::~ComModule() { ::DeleteCriticalSection(&lock_); }

HMODULE ComModule::Instance() const noexcept { return instance_ ? instance_ : CurrentModule(); }

std::wstring ComModule::FilePath() const {
  std::wstring path;
  const HMODULE module = Instance();
  CallWithGrowingBuffer(path, [module](wchar_t* buffer, DWORD capacity, DWORD* length) {
    *length = ::GetModuleFileNameW(module, buffer, capacity);
    return *length == 0 ? HResultFromLastError() : S_OK;
  });
  return path;
}

HRESULT ComModule::GetTypeLib(ITypeLib** out) {
  RETURN_HR_IF(E_POINTER, out == nullptr);
  *out = nullptr;
  Guard guard(lock_);
  if (!typeLib_) {
    const std::wstring path = FilePath();
    RETURN_HR_IF(E_FAIL, path.empty());
    RETURN_IF_FAILED(::LoadTypeLibEx(path.c_str(), REGKIND_NONE, typeLib_.put()));
  }
  return typeLib_.CopyTo(out);
}

HRESULT ComModule::GetTypeInfo(REFGUID guid, ITypeInfo** out) {
  RETURN_HR_IF(E_POINTER, out == nullptr);
  *out = nullptr;
  ComPtr<ITypeLib> library;
  RETURN_IF_FAILED(GetTypeLib(library.put()));
  Guard guard(lock_);
  for (const auto& entry : typeInfos_) {
    if (::IsEqualGUID(entry.first, guid)) return entry.second.CopyTo(out);
  }
  ComPtr<ITypeInfo> info;
  RETURN_IF_FAILED(library->GetTypeInfoOfGuid(guid, info.put()));
  typeInfos_.emplace_back(guid, info);
  return info.CopyTo(out);
}

HRESULT ComModule::RegisterWindowClass(const wchar_t* className, WNDPROC procedure) {
  Guard guard(lock_);
  for (const auto& name : windowClasses_) {
    if (name == className) return S_OK;
  }
  WNDCLASSEXW windowClass = {sizeof(windowClass)};
  windowClass.lpfnWndProc = procedure;
  windowClass.hInstance = Instance();
  windowClass.lpszClassName = className;
  windowClasses_.emplace_back(className);
  if (!::RegisterClassExW(&windowClass)) {
    windowClasses_.pop_back();
    return HResultFromLastError();
  }
  return S_OK;
}

void ComModule::Terminate(bool processEnding) noexcept {
  if (processEnding) {
    // The other threads are gone, perhaps holding locks (ours too), and other
    // DLLs may be gone: touch nothing, the process takes everything with it.
    for (auto& entry : typeInfos_) entry.second.detach();
    typeLib_.detach();
    return;
  }
  Guard guard(lock_);
  for (const auto& name : windowClasses_) ::UnregisterClassW(name.c_str(), Instance());
  windowClasses_.clear();
  typeInfos_.clear();
  typeLib_.reset();
}

}  // namespace zv
