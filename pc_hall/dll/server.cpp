// Ostrelle.dll's entry point and the five COM server exports.
#include <windows.h>

#include "common/hresult.h"
#include "frame/com/registration.h"
#include "pc_hall/pc_game_logic.h"
#include "registration_scripts.h"

namespace {

const zv::ServerInfo& Server() {
  static const zv::ServerInfo server = {
      &COstrelleModule::Instance(),
      &CLSID_PCGameLogic,
      [] { return static_cast<IClassFactory*>(&zv::ClassFactory<CPCGameLogic>::Instance()); },
      kOstrelleAppId,
      kOstrelleAppIdScript,
      kOstrelleClassScript,
  };
  return server;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    COstrelleModule::Instance().SetInstance(instance);
    ::DisableThreadLibraryCalls(instance);
  } else if (reason == DLL_PROCESS_DETACH) {
    COstrelleModule::Instance().Terminate(reserved != nullptr);
  }
  return TRUE;
}

extern "C" HRESULT __stdcall DllGetClassObject(REFCLSID classId, REFIID iid, void** out) {
  return zv::GuardBoundary([&] { return zv::ServerGetClassObject(Server(), classId, iid, out); });
}

extern "C" HRESULT __stdcall DllCanUnloadNow() { return COstrelleModule::Instance().CanUnloadNow(); }

extern "C" HRESULT __stdcall DllRegisterServer() {
  return zv::GuardBoundary([] { return zv::ServerRegister(Server(), false); });
}

extern "C" HRESULT __stdcall DllUnregisterServer() {
  return zv::GuardBoundary([] { return zv::ServerUnregister(Server(), false); });
}

extern "C" HRESULT __stdcall DllInstall(BOOL install, LPCWSTR commandLine) {
  return zv::GuardBoundary([&] { return zv::ServerInstall(Server(), install, commandLine); });
}
