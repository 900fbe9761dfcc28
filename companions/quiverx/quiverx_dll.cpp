// Quiverx.dll: CDataX script objects and the property-name table, created
// through DllGetClassObject by callers that load the library by path.
#include <windows.h>

#include "common/com_server.h"
#include "containers/quiver_interfaces.h"
#include "script_objects.h"

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  return zv::GuardBoundary([&] {
    if (clsid == zv::kClsidDataX) {
      return zv::GetClassFactory(clsid, zv::kClsidDataX, &zv::quiverx::CreateDataX, iid, out);
    }
    return zv::GetClassFactory(clsid, zv::kClsidPropertyNameTable, &zv::quiverx::CreatePropertyNameTable, iid, out);
  });
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() { return zv::CanUnloadModule(); }
