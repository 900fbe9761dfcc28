// IDispatch answered from the hall DLL's own embedded type library, so `call`
// works by name without registration, and IProvideClassInfo2.
//
// Hall supplies: static ComModule& Module(); static const IID& CommandTypeIid()
// (the command interface's entry in the type library); static const CLSID&
// ClassId(); static const GUID& LibraryId(); static const IID& EventIid().
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <ocidl.h>

#include "common/handles.h"
#include "common/hresult.h"
#include "frame/com/module.h"

namespace zv {

// The type libraries are built for locale 0x409 and registered under it.
constexpr LCID kTypeLibLocale = 0x409;

// Coclass type information from the registered type library version 1.0, or
// from the module's embedded library when it is not registered.
HRESULT LoadClassTypeInfo(ComModule& module, REFGUID libraryId, REFCLSID classId, ITypeInfo** out);

template <typename Hall, typename Interface>
class DispatchImpl : public Interface {
 public:
  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    RETURN_HR_IF(E_POINTER, count == nullptr);
    *count = 1;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo** out) override {
    RETURN_HR_IF(E_POINTER, out == nullptr);
    *out = nullptr;
    RETURN_HR_IF(DISP_E_BADINDEX, index != 0);
    return GuardBoundary([&] { return Hall::Module().GetTypeInfo(Hall::CommandTypeIid(), out); });
  }
  STDMETHODIMP GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    RETURN_HR_IF(DISP_E_UNKNOWNINTERFACE, !::IsEqualIID(iid, IID_NULL));
    return GuardBoundary([&]() -> HRESULT {
      ComPtr<ITypeInfo> info;
      RETURN_IF_FAILED(Hall::Module().GetTypeInfo(Hall::CommandTypeIid(), info.put()));
      return info->GetIDsOfNames(names, count, ids);
    });
  }
  STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* parameters, VARIANT* result,
                      EXCEPINFO* exception, UINT* argumentError) override {
    RETURN_HR_IF(DISP_E_UNKNOWNINTERFACE, !::IsEqualIID(iid, IID_NULL));
    return GuardBoundary([&]() -> HRESULT {
      ComPtr<ITypeInfo> info;
      RETURN_IF_FAILED(Hall::Module().GetTypeInfo(Hall::CommandTypeIid(), info.put()));
      return info->Invoke(static_cast<Interface*>(this), id, flags, parameters, result, exception, argumentError);
    });
  }
};

template <typename Hall>
class ProvideClassInfo2Impl : public IProvideClassInfo2 {
 public:
  STDMETHODIMP GetClassInfo(ITypeInfo** out) override {
    return GuardBoundary([&] { return LoadClassTypeInfo(Hall::Module(), Hall::LibraryId(), Hall::ClassId(), out); });
  }
  STDMETHODIMP GetGUID(DWORD kind, GUID* guid) override {
    RETURN_HR_IF(E_POINTER, guid == nullptr);
    if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) {
      *guid = GUID_NULL;
      return E_INVALIDARG;
    }
    *guid = Hall::EventIid();
    return S_OK;
  }
};

}  // namespace zv
