// Quiver.dll: the data container class, created through DllGetClassObject by
// callers that load the library by path; no registration.
#include <windows.h>

#include "common/com_server.h"
#include "containers/quiver_interfaces.h"
#include "quiver_item.h"

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  return zv::GuardBoundary(
      [&] { return zv::GetClassFactory(clsid, zv::kClsidQuiverContainer, &zv::quiver::CreateContainer, iid, out); });
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() { return zv::CanUnloadModule(); }
