// Lanternis.dll's entry point and the five COM server exports.
#include <windows.h>

#include "common/hresult.h"
#include "frame/com/registration.h"
#include "web_hall/lanternis_core.h"
#include "registration_scripts.h"

namespace {

const zv::ServerInfo& Server() {
  static const zv::ServerInfo server = {
      &CLanternisModule::Instance(),
      &CLSID_LanternisLogic,
      [] { return static_cast<IClassFactory*>(&zv::ClassFactory<CLanternisCore>::Instance()); },
      kLanternisAppId,
      kLanternisAppIdScript,
      kLanternisClassScript,
  };
  return server;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    CLanternisModule::Instance().SetInstance(instance);
    ::DisableThreadLibraryCalls(instance);
  } else if (reason == DLL_PROCESS_DETACH) {
    CLanternisModule::Instance().Terminate(reserved != nullptr);
  }
  return TRUE;
}

extern "C" HRESULT __stdcall DllGetClassObject(REFCLSID classId, REFIID iid, void** out) {
  return zv::GuardBoundary([&] { return zv::ServerGetClassObject(Server(), classId, iid, out); });
}

extern "C" HRESULT __stdcall DllCanUnloadNow() { return CLanternisModule::Instance().CanUnloadNow(); }

extern "C" HRESULT __stdcall DllRegisterServer() {
  return zv::GuardBoundary([] { return zv::ServerRegister(Server(), false); });
}

extern "C" HRESULT __stdcall DllUnregisterServer() {
  return zv::GuardBoundary([] { return zv::ServerUnregister(Server(), false); });
}

extern "C" HRESULT __stdcall DllInstall(BOOL install, LPCWSTR commandLine) {
  return zv::GuardBoundary([&] { return zv::ServerInstall(Server(), install, commandLine); });
}
