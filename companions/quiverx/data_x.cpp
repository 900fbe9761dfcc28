#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "common/handles.h"
#include "common/hresult.h"
#include "dispatch_base.h"
#include "property_names.h"
#include "script_objects.h"

namespace zv::quiverx {
namespace {

constexpr DWORD kPropertyTraits = fdexPropCanGet | fdexPropCanPut | fdexPropCannotPutRef | fdexPropCannotCall |
                                  fdexPropCannotConstruct | fdexPropCannotSourceEvents;

class DataX final : public DispatchExBase {
 public:
  STDMETHODIMP GetDispID(BSTR name, DWORD flags, DISPID* id) override {
    return GuardBoundary([&]() -> HRESULT {
      RETURN_HR_IF(E_POINTER, !id);
      *id = DISPID_UNKNOWN;
      const std::wstring key = name ? name : L"";
      DISPID found = FindByName(key, (flags & fdexNameCaseInsensitive) != 0);
      if (found == DISPID_UNKNOWN && (flags & fdexNameEnsure)) {
        found = PropertyNames::Instance().Ensure(key);
        RETURN_HR_IF(E_OUTOFMEMORY, found == DISPID_UNKNOWN);
        AddProperty(found);
      }
      RETURN_HR_IF(DISP_E_UNKNOWNNAME, found == DISPID_UNKNOWN);
      *id = found;
      return S_OK;
    });
  }

  STDMETHODIMP InvokeEx(DISPID id, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                        IServiceProvider*) override {
    return GuardBoundary([&]() -> HRESULT {
      if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) return Put(id, params);
      if (flags & (DISPATCH_PROPERTYGET | DISPATCH_METHOD)) return Get(id, flags, params, result);
      return E_INVALIDARG;
    });
  }

  STDMETHODIMP DeleteMemberByName(BSTR name, DWORD flags) override {
    return GuardBoundary([&]() -> HRESULT {
      const DISPID id = FindByName(name ? name : L"", (flags & fdexNameCaseInsensitive) != 0);
      return RemoveProperty(id) ? S_OK : S_FALSE;
    });
  }

  STDMETHODIMP DeleteMemberByDispID(DISPID id) override {
    return GuardBoundary([&]() -> HRESULT { return RemoveProperty(id) ? S_OK : S_FALSE; });
  }

  STDMETHODIMP GetMemberProperties(DISPID id, DWORD fetch, DWORD* traits) override {
    RETURN_HR_IF(E_POINTER, !traits);
    RETURN_HR_IF(DISP_E_UNKNOWNNAME, positions_.count(id) == 0);
    *traits = kPropertyTraits & fetch;
    return S_OK;
  }

  STDMETHODIMP GetMemberName(DISPID id, BSTR* name) override {
    return GuardBoundary([&]() -> HRESULT {
      RETURN_HR_IF(E_POINTER, !name);
      *name = nullptr;
      std::wstring text;
      RETURN_HR_IF(DISP_E_UNKNOWNNAME, positions_.count(id) == 0 || !PropertyNames::Instance().NameOf(id, &text));
      *name = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
      RETURN_IF_NULL_ALLOC(*name);
      return S_OK;
    });
  }

  // Properties in the order they were first written.
  STDMETHODIMP GetNextDispID(DWORD, DISPID id, DISPID* next) override {
    RETURN_HR_IF(E_POINTER, !next);
    *next = DISPID_UNKNOWN;
    size_t index = 0;
    if (id != DISPID_STARTENUM) {
      const auto found = positions_.find(id);
      RETURN_HR_IF(E_INVALIDARG, found == positions_.end());
      index = found->second + 1;
    }
    if (index >= properties_.size()) return S_FALSE;
    *next = properties_[index].id;
    return S_OK;
  }

 private:
  struct Property {
    DISPID id;
    UniqueVariant value;
  };

  DISPID FindByName(const std::wstring& name, bool ignoreCase) const {
    const DISPID exact = PropertyNames::Instance().Find(name);
    if (exact != DISPID_UNKNOWN && positions_.count(exact) != 0) return exact;
    if (!ignoreCase) return DISPID_UNKNOWN;
    std::wstring candidate;
    for (const Property& property : properties_) {
      if (!PropertyNames::Instance().NameOf(property.id, &candidate)) continue;
      if (::CompareStringOrdinal(candidate.c_str(), static_cast<int>(candidate.size()), name.c_str(),
                                 static_cast<int>(name.size()), TRUE) == CSTR_EQUAL) {
        return property.id;
      }
    }
    return DISPID_UNKNOWN;
  }

  Property& AddProperty(DISPID id) {
    const auto found = positions_.find(id);
    if (found != positions_.end()) return properties_[found->second];
    properties_.push_back({id, UniqueVariant()});
    positions_.emplace(id, properties_.size() - 1);
    return properties_.back();
  }

  bool RemoveProperty(DISPID id) {
    const auto found = positions_.find(id);
    if (found == positions_.end()) return false;
    properties_.erase(properties_.begin() + static_cast<std::ptrdiff_t>(found->second));
    positions_.clear();
    for (size_t i = 0; i < properties_.size(); ++i) positions_.emplace(properties_[i].id, i);
    return true;
  }

  HRESULT Put(DISPID id, const DISPPARAMS* params) {
    RETURN_HR_IF(DISP_E_BADPARAMCOUNT, !params || params->cArgs != 1 || !params->rgvarg);
    RETURN_HR_IF(DISP_E_BADPARAMCOUNT, params->cNamedArgs > 1);
    RETURN_HR_IF(DISP_E_PARAMNOTFOUND,
                 params->cNamedArgs == 1 && (!params->rgdispidNamedArgs || params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT));
    RETURN_HR_IF(DISP_E_MEMBERNOTFOUND, !PropertyNames::Instance().Contains(id));
    UniqueVariant value;
    RETURN_IF_FAILED(::VariantCopyInd(value.get(), &params->rgvarg[0]));
    AddProperty(id).value = std::move(value);
    return S_OK;
  }

  HRESULT Get(DISPID id, WORD flags, const DISPPARAMS* params, VARIANT* result) {
    const auto found = positions_.find(id);
    RETURN_HR_IF(DISP_E_MEMBERNOTFOUND, found == positions_.end() || !(flags & DISPATCH_PROPERTYGET));
    RETURN_HR_IF(DISP_E_BADPARAMCOUNT, params && params->cArgs != 0);
    if (!result) return S_OK;
    UniqueVariant copy;
    RETURN_IF_FAILED(::VariantCopy(copy.get(), properties_[found->second].value.get()));
    *result = copy.release();
    return S_OK;
  }

  std::vector<Property> properties_;
  std::unordered_map<DISPID, size_t> positions_;
};

}  // namespace

HRESULT CreateDataX(REFIID iid, void** out) { return HandOut(new (std::nothrow) DataX(), iid, out); }

}  // namespace zv::quiverx
