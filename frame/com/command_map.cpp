#include "frame/com/command_map.h"

namespace zv {

HRESULT UpperCaseCopy(BSTR name, UniqueBstr* out) {
  RETURN_HR_IF(E_POINTER, out == nullptr);
  out->reset();
  if (name == nullptr) return S_OK;
  UniqueBstr copy(::SysAllocStringLen(name, ::SysStringLen(name)));
  RETURN_IF_NULL_ALLOC(copy.get());
  const UINT length = ::SysStringLen(copy.get());
  if (length != 0) ::CharUpperBuffW(copy.get(), length);
  *out = std::move(copy);
  return S_OK;
}

bool BstrLess(BSTR a, BSTR b) noexcept {
  return ::VarBstrCmp(a, b, LOCALE_USER_DEFAULT, 0) == static_cast<HRESULT>(VARCMP_LT);
}

}  // namespace zv
