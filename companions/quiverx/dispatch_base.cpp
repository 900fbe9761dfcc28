#include "dispatch_base.h"

#include "common/hresult.h"

namespace zv::quiverx {

STDMETHODIMP DispatchExBase::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IDispatch || iid == __uuidof(IDispatchEx)) {
    *out = static_cast<IDispatchEx*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) DispatchExBase::AddRef() { return ++refs_; }

STDMETHODIMP_(ULONG) DispatchExBase::Release() {
  const ULONG refs = --refs_;
  if (refs == 0) delete this;
  return refs;
}

STDMETHODIMP DispatchExBase::GetTypeInfoCount(UINT* count) {
  RETURN_HR_IF(E_POINTER, !count);
  *count = 0;
  return S_OK;
}

STDMETHODIMP DispatchExBase::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
  if (info) *info = nullptr;
  return DISP_E_BADINDEX;
}

STDMETHODIMP DispatchExBase::GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  RETURN_HR_IF(DISP_E_UNKNOWNINTERFACE, iid != IID_NULL);
  RETURN_HR_IF(E_POINTER, !names || !ids);
  RETURN_HR_IF(E_INVALIDARG, count == 0);
  for (UINT i = 1; i < count; ++i) ids[i] = DISPID_UNKNOWN;
  // Only a property name: named arguments do not exist here.
  BSTR name = ::SysAllocString(names[0] ? names[0] : L"");
  RETURN_IF_NULL_ALLOC(name);
  const HRESULT hr = GetDispID(name, fdexNameCaseInsensitive, &ids[0]);
  ::SysFreeString(name);
  if (FAILED(hr)) return hr;
  return count > 1 ? DISP_E_UNKNOWNNAME : S_OK;
}

STDMETHODIMP DispatchExBase::Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params,
                                    VARIANT* result, EXCEPINFO* exception, UINT*) {
  RETURN_HR_IF(DISP_E_UNKNOWNINTERFACE, iid != IID_NULL);
  return InvokeEx(id, locale, flags, params, result, exception, nullptr);
}

STDMETHODIMP DispatchExBase::GetNameSpaceParent(IUnknown** parent) {
  RETURN_HR_IF(E_POINTER, !parent);
  *parent = nullptr;
  return E_NOTIMPL;
}

HRESULT HandOut(DispatchExBase* object, REFIID iid, void** out) {
  RETURN_IF_NULL_ALLOC(object);
  const HRESULT hr = object->QueryInterface(iid, out);
  object->Release();
  return hr;
}

}  // namespace zv::quiverx
