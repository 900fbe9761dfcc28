// Registration of a hall DLL: registry scripts applied under
// HKEY_CLASSES_ROOT (or HKEY_CURRENT_USER\Software\Classes for a per-user
// registration), the embedded type library, and the five server exports built
// from them. Registration runs with the thread locale set to the system
// default and restores the caller's afterwards.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <cstddef>

#include "frame/com/module.h"

namespace zv {

enum class KeyRule {
  kNormal,       // created on register, deleted with its subtree on unregister
  kForceRemove,  // as kNormal, and deleted whole before it is created again
  kNoRemove,     // created if missing, never deleted (shared parents)
};

// One key of a script. Paths and data may name %APPID% and %MODULE%.
struct RegistryKeySpec {
  const wchar_t* path;          // relative to the classes root
  KeyRule rule;
  const wchar_t* defaultValue;  // null: no default value
  const wchar_t* valueName;     // one named string value, or null
  const wchar_t* valueData;
};

struct RegistryScript {
  const RegistryKeySpec* keys;  // parents before children
  std::size_t count;
};

template <std::size_t N>
constexpr RegistryScript MakeScript(const RegistryKeySpec (&keys)[N]) {
  return RegistryScript{keys, N};
}

// Everything the exports need to know about one hall DLL.
struct ServerInfo {
  ComModule* module;
  const CLSID* classId;
  IClassFactory* (*classFactory)();
  const wchar_t* appId;
  RegistryScript appIdScript;
  RegistryScript classScript;
};

HRESULT ApplyScript(const RegistryScript& script, const ServerInfo& server, bool perUser);
HRESULT RemoveScript(const RegistryScript& script, const ServerInfo& server, bool perUser);
HRESULT RegisterEmbeddedTypeLib(ComModule& module, bool perUser);
HRESULT UnregisterEmbeddedTypeLib(ComModule& module, bool perUser);

// The exports. Register: AppID script, class script, type library; stops at
// the first failure. Unregister: class script and type library, then the
// AppID script. Install: "user" (any case) registers per user; a failed
// install is rolled back.
HRESULT ServerGetClassObject(const ServerInfo& server, REFCLSID classId, REFIID iid, void** out);
HRESULT ServerRegister(const ServerInfo& server, bool perUser);
HRESULT ServerUnregister(const ServerInfo& server, bool perUser);
HRESULT ServerInstall(const ServerInfo& server, BOOL install, const wchar_t* commandLine);

// Supplied by each hall DLL; the exports of zv_frame_exports serve it.
const ServerInfo& HallServer();

}  // namespace zv
