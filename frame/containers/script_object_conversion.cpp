// Script-object properties and the conversion of container items into
// CDataX objects for the host's script side.
#include <string>

#include "common/hresult.h"
#include "common/text.h"
#include "containers/container_binding.h"

namespace zv {
namespace {

UniqueVariant TextVariant(IQuiverItem* item) {
  UniqueVariant result;
  UniqueBstr text;
  if (SUCCEEDED(item->GetText(text.put())) && text) {
    result->vt = VT_BSTR;
    result->bstrVal = text.release();
  }
  return result;
}

UniqueVariant ConvertAt(IQuiverItem* item, int depth);

// A CDataX holding the converted children: under their names for a record,
// under "0", "1", ... for a list, skipping children that convert to nothing.
UniqueVariant CollectionVariant(IQuiverItem* item, bool numbered, int depth) {
  UniqueVariant result;
  ComPtr<IDispatchEx> object = NewDataX(kClsidDataX);
  if (!object) return result;
  int nextIndex = 0;
  const LONG count = Count(item);
  for (LONG i = 0; i < count; ++i) {
    std::wstring name;
    const ComPtr<IQuiverItem> child = ChildAt(item, i, &name);
    const UniqueVariant value = ConvertAt(child.get(), depth + 1);
    if (value->vt == VT_EMPTY) continue;
    if (numbered) {
      PutProperty(object.get(), nextIndex++, *value.get());
    } else {
      PutProperty(object.get(), name, *value.get());
    }
  }
  result->vt = VT_DISPATCH;
  result->pdispVal = object.detach();
  return result;
}

UniqueVariant ConvertAt(IQuiverItem* item, int depth) {
  UniqueVariant result;
  if (depth >= kScriptObjectDepthLimit) {
    result->vt = VT_DISPATCH;
    result->pdispVal = nullptr;
    return result;
  }
  switch (Kind(item)) {
    case kItemText:
      return TextVariant(item);
    case kItemInteger:
      result->vt = VT_I4;
      result->lVal = GetInt(item);
      return result;
    case kItemList:
      return CollectionVariant(item, true, depth);
    case kItemRecord:
      return CollectionVariant(item, false, depth);
    default:
      return result;
  }
}

}  // namespace

HRESULT PutProperty(IDispatchEx* object, const std::wstring& name, const VARIANT& value) {
  RETURN_HR_IF(E_POINTER, !object);
  UniqueBstr key(::SysAllocStringLen(name.data(), static_cast<UINT>(name.size())));
  RETURN_IF_NULL_ALLOC(key.get());
  DISPID id = DISPID_UNKNOWN;
  RETURN_IF_FAILED(object->GetDispID(key.get(), fdexNameEnsure | fdexNameCaseSensitive, &id));
  VARIANT argument = value;  // borrowed: InvokeEx copies what it keeps
  DISPID namedArgument = DISPID_PROPERTYPUT;
  DISPPARAMS params = {&argument, &namedArgument, 1, 1};
  return object->InvokeEx(id, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr, nullptr);
}

HRESULT PutProperty(IDispatchEx* object, int index, const VARIANT& value) {
  return PutProperty(object, Format(L"%d", index), value);
}

HRESULT GetProperty(IDispatch* object, const std::wstring& name, VARIANT* value) {
  RETURN_HR_IF(E_POINTER, !object || !value);
  std::wstring key = name;
  LPOLESTR names[] = {&key[0]};
  DISPID id = DISPID_UNKNOWN;
  RETURN_IF_FAILED(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id));
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  UniqueVariant result;
  RETURN_IF_FAILED(
      object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, result.put(), nullptr, nullptr));
  *value = result.release();
  return S_OK;
}

UniqueVariant ToScriptObject(IQuiverItem* item) { return ConvertAt(item, 0); }

}  // namespace zv
