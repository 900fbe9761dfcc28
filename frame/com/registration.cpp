#include "frame/com/registration.h"

#include <oleauto.h>

#include <string>

#include "common/handles.h"
#include "common/hresult.h"

namespace zv {
namespace {

// Sets the thread locale to the system default for the lifetime of the scope.
class SystemThreadLocale {
 public:
  SystemThreadLocale() noexcept : previous_(::GetThreadLocale()) { ::SetThreadLocale(LOCALE_SYSTEM_DEFAULT); }
  ~SystemThreadLocale() { ::SetThreadLocale(previous_); }
  SystemThreadLocale(const SystemThreadLocale&) = delete;
  SystemThreadLocale& operator=(const SystemThreadLocale&) = delete;

 private:
  LCID previous_;
};

void ReplaceAll(std::wstring& text, const std::wstring& name, const std::wstring& value) {
  for (std::size_t at = text.find(name); at != std::wstring::npos; at = text.find(name, at + value.size())) {
    text.replace(at, name.size(), value);
  }
}

std::wstring Expand(const wchar_t* text, const ServerInfo& server, const std::wstring& modulePath) {
  std::wstring expanded(text);
  ReplaceAll(expanded, L"%APPID%", server.appId);
  ReplaceAll(expanded, L"%MODULE%", modulePath);
  return expanded;
}

HRESULT OpenClassesRoot(bool perUser, UniqueHKey* root) {
  if (!perUser) {
    RETURN_IF_WIN32_ERROR(::RegOpenKeyExW(HKEY_CLASSES_ROOT, nullptr, 0, KEY_ALL_ACCESS, root->put()));
    return S_OK;
  }
  RETURN_IF_WIN32_ERROR(::RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, nullptr, 0,
                                          KEY_ALL_ACCESS, nullptr, root->put(), nullptr));
  return S_OK;
}

HRESULT SetStringValue(HKEY key, const wchar_t* name, const std::wstring& data) {
  const DWORD bytes = static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t));
  RETURN_IF_WIN32_ERROR(::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()), bytes));
  return S_OK;
}

HRESULT DeleteTree(HKEY root, const std::wstring& path) {
  const LONG error = ::RegDeleteTreeW(root, path.c_str());
  if (error == ERROR_FILE_NOT_FOUND) return S_OK;
  RETURN_IF_WIN32_ERROR(error);
  return S_OK;
}

HRESULT ApplyKey(HKEY root, const RegistryKeySpec& spec, const ServerInfo& server, const std::wstring& modulePath) {
  const std::wstring path = Expand(spec.path, server, modulePath);
  if (spec.rule == KeyRule::kForceRemove) RETURN_IF_FAILED(DeleteTree(root, path));
  UniqueHKey key;
  RETURN_IF_WIN32_ERROR(::RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr));
  if (spec.defaultValue) RETURN_IF_FAILED(SetStringValue(key.get(), nullptr, Expand(spec.defaultValue, server, modulePath)));
  if (spec.valueName) RETURN_IF_FAILED(SetStringValue(key.get(), spec.valueName, Expand(spec.valueData, server, modulePath)));
  return S_OK;
}

// HKEY_CLASSES_ROOT stands for the per-user classes while the scope lives, so
// the type library lands beside the scripts.
class ClassesRootOverride {
 public:
  HRESULT Begin(bool perUser) {
    if (!perUser) return S_OK;
    UniqueHKey userClasses;
    RETURN_IF_FAILED(OpenClassesRoot(true, &userClasses));
    RETURN_IF_WIN32_ERROR(::RegOverridePredefKey(HKEY_CLASSES_ROOT, userClasses.get()));
    active_ = true;
    return S_OK;
  }
  ~ClassesRootOverride() {
    if (active_) ::RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
  }

 private:
  bool active_ = false;
};

}  // namespace

HRESULT ApplyScript(const RegistryScript& script, const ServerInfo& server, bool perUser) {
  UniqueHKey root;
  RETURN_IF_FAILED(OpenClassesRoot(perUser, &root));
  const std::wstring modulePath = server.module->FilePath();
  for (std::size_t i = 0; i < script.count; ++i) {
    RETURN_IF_FAILED(ApplyKey(root.get(), script.keys[i], server, modulePath));
  }
  return S_OK;
}

HRESULT RemoveScript(const RegistryScript& script, const ServerInfo& server, bool perUser) {
  UniqueHKey root;
  RETURN_IF_FAILED(OpenClassesRoot(perUser, &root));
  const std::wstring modulePath = server.module->FilePath();
  for (std::size_t i = script.count; i-- > 0;) {
    const RegistryKeySpec& spec = script.keys[i];
    if (spec.rule == KeyRule::kNoRemove) continue;
    RETURN_IF_FAILED(DeleteTree(root.get(), Expand(spec.path, server, modulePath)));
  }
  return S_OK;
}

HRESULT RegisterEmbeddedTypeLib(ComModule& module, bool perUser) {
  ComPtr<ITypeLib> library;
  RETURN_IF_FAILED(module.GetTypeLib(library.put()));
  std::wstring path = module.FilePath();
  ClassesRootOverride classesRoot;
  RETURN_IF_FAILED(classesRoot.Begin(perUser));
  return ::RegisterTypeLib(library.get(), &path[0], nullptr);
}

HRESULT UnregisterEmbeddedTypeLib(ComModule& module, bool perUser) {
  ComPtr<ITypeLib> library;
  RETURN_IF_FAILED(module.GetTypeLib(library.put()));
  TLIBATTR* attributes = nullptr;
  RETURN_IF_FAILED(library->GetLibAttr(&attributes));
  const TLIBATTR copy = *attributes;
  library->ReleaseTLibAttr(attributes);
  ClassesRootOverride classesRoot;
  RETURN_IF_FAILED(classesRoot.Begin(perUser));
  // A library that is not registered is already in the wanted state.
  UniqueBstr registeredPath;
  if (FAILED(::QueryPathOfRegTypeLib(copy.guid, copy.wMajorVerNum, copy.wMinorVerNum, copy.lcid,
                                     registeredPath.put()))) {
    return S_OK;
  }
  return ::UnRegisterTypeLib(copy.guid, copy.wMajorVerNum, copy.wMinorVerNum, copy.lcid, copy.syskind);
}

HRESULT ServerGetClassObject(const ServerInfo& server, REFCLSID classId, REFIID iid, void** out) {
  RETURN_HR_IF(E_POINTER, out == nullptr);
  *out = nullptr;
  RETURN_HR_IF(CLASS_E_CLASSNOTAVAILABLE, !::IsEqualCLSID(classId, *server.classId));
  return server.classFactory()->QueryInterface(iid, out);
}

HRESULT ServerRegister(const ServerInfo& server, bool perUser) {
  SystemThreadLocale locale;
  RETURN_IF_FAILED(ApplyScript(server.appIdScript, server, perUser));
  RETURN_IF_FAILED(ApplyScript(server.classScript, server, perUser));
  return RegisterEmbeddedTypeLib(*server.module, perUser);
}

HRESULT ServerUnregister(const ServerInfo& server, bool perUser) {
  SystemThreadLocale locale;
  RETURN_IF_FAILED(RemoveScript(server.classScript, server, perUser));
  RETURN_IF_FAILED(UnregisterEmbeddedTypeLib(*server.module, perUser));
  return RemoveScript(server.appIdScript, server, perUser);
}

HRESULT ServerInstall(const ServerInfo& server, BOOL install, const wchar_t* commandLine) {
  const bool perUser = commandLine != nullptr && ::lstrcmpiW(commandLine, L"user") == 0;
  if (!install) return ServerUnregister(server, perUser);
  const HRESULT hr = ServerRegister(server, perUser);
  if (FAILED(hr)) ServerUnregister(server, perUser);
  return hr;
}

}  // namespace zv
