#include <string>

#include "common/hresult.h"
#include "dispatch_base.h"
#include "property_names.h"
#include "script_objects.h"

namespace zv::quiverx {
namespace {

// Reading a DISPID's property gives its name; names are never removed.
class PropertyNameTable final : public DispatchExBase {
 public:
  STDMETHODIMP GetDispID(BSTR name, DWORD flags, DISPID* id) override {
    return GuardBoundary([&]() -> HRESULT {
      RETURN_HR_IF(E_POINTER, !id);
      const std::wstring key = name ? name : L"";
      PropertyNames& names = PropertyNames::Instance();
      *id = (flags & fdexNameEnsure) ? names.Ensure(key) : names.Find(key);
      return *id == DISPID_UNKNOWN ? DISP_E_UNKNOWNNAME : S_OK;
    });
  }

  STDMETHODIMP InvokeEx(DISPID id, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                        IServiceProvider*) override {
    return GuardBoundary([&]() -> HRESULT {
      RETURN_HR_IF(DISP_E_MEMBERNOTFOUND, !(flags & DISPATCH_PROPERTYGET));
      RETURN_HR_IF(DISP_E_BADPARAMCOUNT, params && params->cArgs != 0);
      std::wstring name;
      RETURN_HR_IF(DISP_E_MEMBERNOTFOUND, !PropertyNames::Instance().NameOf(id, &name));
      if (!result) return S_OK;
      BSTR text = ::SysAllocStringLen(name.data(), static_cast<UINT>(name.size()));
      RETURN_IF_NULL_ALLOC(text);
      ::VariantInit(result);
      result->vt = VT_BSTR;
      result->bstrVal = text;
      return S_OK;
    });
  }

  STDMETHODIMP DeleteMemberByName(BSTR, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP DeleteMemberByDispID(DISPID) override { return E_NOTIMPL; }

  STDMETHODIMP GetMemberProperties(DISPID id, DWORD fetch, DWORD* traits) override {
    RETURN_HR_IF(E_POINTER, !traits);
    RETURN_HR_IF(DISP_E_UNKNOWNNAME, !PropertyNames::Instance().Contains(id));
    *traits = (fdexPropCanGet | fdexPropCannotPut | fdexPropCannotPutRef | fdexPropCannotCall |
               fdexPropCannotConstruct | fdexPropCannotSourceEvents) &
              fetch;
    return S_OK;
  }

  STDMETHODIMP GetMemberName(DISPID id, BSTR* name) override {
    return GuardBoundary([&]() -> HRESULT {
      RETURN_HR_IF(E_POINTER, !name);
      *name = nullptr;
      std::wstring text;
      RETURN_HR_IF(DISP_E_UNKNOWNNAME, !PropertyNames::Instance().NameOf(id, &text));
      *name = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
      RETURN_IF_NULL_ALLOC(*name);
      return S_OK;
    });
  }

  STDMETHODIMP GetNextDispID(DWORD, DISPID id, DISPID* next) override {
    RETURN_HR_IF(E_POINTER, !next);
    *next = PropertyNames::Instance().Next(id);
    return *next == DISPID_UNKNOWN ? S_FALSE : S_OK;
  }
};

}  // namespace

HRESULT CreatePropertyNameTable(REFIID iid, void** out) {
  return HandOut(new (std::nothrow) PropertyNameTable(), iid, out);
}

}  // namespace zv::quiverx
