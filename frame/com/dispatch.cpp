#include "frame/com/dispatch.h"

#include <oleauto.h>

namespace zv {

HRESULT LoadClassTypeInfo(ComModule& module, REFGUID libraryId, REFCLSID classId, ITypeInfo** out) {
  RETURN_HR_IF(E_POINTER, out == nullptr);
  *out = nullptr;
  ComPtr<ITypeLib> library;
  if (FAILED(::LoadRegTypeLib(libraryId, 1, 0, kTypeLibLocale, library.put()))) {
    RETURN_IF_FAILED(module.GetTypeLib(library.put()));
  }
  return library->GetTypeInfoOfGuid(classId, out);
}

}  // namespace zv
