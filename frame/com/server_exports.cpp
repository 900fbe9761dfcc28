// The entry point and the five COM server exports of a hall DLL. Each DLL
// links this once and supplies HallServer(), which names its module, class
// and registration scripts.
#include <windows.h>

#include "common/hresult.h"
#include "frame/com/registration.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    zv::HallServer().module->SetInstance(instance);
    ::DisableThreadLibraryCalls(instance);
  } else if (reason == DLL_PROCESS_DETACH) {
    zv::HallServer().module->Terminate(reserved != nullptr);
  }
  return TRUE;
}

extern "C" HRESULT __stdcall DllGetClassObject(REFCLSID classId, REFIID iid, void** out) {
  return zv::GuardBoundary([&] { return zv::ServerGetClassObject(zv::HallServer(), classId, iid, out); });
}

extern "C" HRESULT __stdcall DllCanUnloadNow() { return zv::HallServer().module->CanUnloadNow(); }

extern "C" HRESULT __stdcall DllRegisterServer() {
  return zv::GuardBoundary([] { return zv::ServerRegister(zv::HallServer(), false); });
}

extern "C" HRESULT __stdcall DllUnregisterServer() {
  return zv::GuardBoundary([] { return zv::ServerUnregister(zv::HallServer(), false); });
}

extern "C" HRESULT __stdcall DllInstall(BOOL install, LPCWSTR commandLine) {
  return zv::GuardBoundary([&] { return zv::ServerInstall(zv::HallServer(), install, commandLine); });
}
