#include "quiver_item.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <utility>

#include "binary_format.h"
#include "common/com_server.h"
#include "common/handles.h"
#include "common/hresult.h"
#include "common/text.h"
#include "xml_loader.h"

namespace zv::quiver {
namespace {

// The whole text as a signed decimal integer.
bool ParseInteger(const std::wstring& text, int64_t* value) {
  if (text.empty() || iswspace(text.front())) return false;
  wchar_t* end = nullptr;
  errno = 0;
  const long long parsed = wcstoll(text.c_str(), &end, 10);
  if (errno != 0 || end != text.c_str() + text.size()) return false;
  *value = parsed;
  return true;
}

HRESULT IntegerOf(const VARIANT& value, int64_t* integer) {
  switch (value.vt) {
    case VT_I1: *integer = value.cVal; return S_OK;
    case VT_I2: *integer = value.iVal; return S_OK;
    case VT_I4: *integer = value.lVal; return S_OK;
    case VT_I8: *integer = value.llVal; return S_OK;
    case VT_INT: *integer = value.intVal; return S_OK;
    case VT_UI1: *integer = value.bVal; return S_OK;
    case VT_UI2: *integer = value.uiVal; return S_OK;
    case VT_UI4: *integer = value.ulVal; return S_OK;
    case VT_UINT: *integer = value.uintVal; return S_OK;
    case VT_BOOL: *integer = value.boolVal ? -1 : 0; return S_OK;
    default: return DISP_E_TYPEMISMATCH;
  }
}

class ItemObject final : public IQuiverItem,
                         public IQuiverNarrowText,
                         public IQuiverSerializer,
                         public IDispatch {
 public:
  explicit ItemObject(ItemPtr item) : item_(std::move(item)) {}

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == __uuidof(IQuiverItem)) {
      *out = static_cast<IQuiverItem*>(this);
    } else if (iid == __uuidof(IQuiverNarrowText)) {
      *out = static_cast<IQuiverNarrowText*>(this);
    } else if (iid == __uuidof(IQuiverSerializer)) {
      *out = static_cast<IQuiverSerializer*>(this);
    } else if (iid == IID_IDispatch) {
      *out = static_cast<IDispatch*>(this);
    } else {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG refs = --refs_;
    if (refs == 0) delete this;
    return refs;
  }

  // IQuiverItem
  STDMETHODIMP SetValue(const VARIANT* value) override {
    return GuardBoundary([&]() -> HRESULT {
      RETURN_HR_IF(E_POINTER, !value);
      UniqueVariant plain;
      RETURN_IF_FAILED(::VariantCopyInd(plain.get(), const_cast<VARIANT*>(value)));
      if (plain->vt == VT_EMPTY) {
        item_->Clear();
        return S_OK;
      }
      if (plain->vt == VT_BSTR) {
        item_->SetText(std::wstring(plain->bstrVal, ::SysStringLen(plain->bstrVal)));
        return S_OK;
      }
      if (plain->vt == VT_UI8) {
        RETURN_HR_IF(DISP_E_OVERFLOW, plain->ullVal > static_cast<ULONGLONG>(LLONG_MAX));
        item_->SetInteger(static_cast<int64_t>(plain->ullVal));
        return S_OK;
      }
      int64_t integer = 0;
      RETURN_IF_FAILED(IntegerOf(*plain.get(), &integer));
      item_->SetInteger(integer);
      return S_OK;
    });
  }

  STDMETHODIMP GetKind(LONG* kind) override {
    RETURN_HR_IF(E_POINTER, !kind);
    *kind = item_->kind();
    return S_OK;
  }

  STDMETHODIMP GetCount(LONG* count) override {
    RETURN_HR_IF(E_POINTER, !count);
    *count = static_cast<LONG>(item_->children().size());
    return S_OK;
  }

  STDMETHODIMP Clear() override {
    item_->Clear();
    return S_OK;
  }

  STDMETHODIMP GetChildAt(LONG index, BSTR* name, VARIANT* child) override {
    return GuardBoundary([&]() -> HRESULT {
      RETURN_HR_IF(E_POINTER, !name || !child);
      const auto& children = item_->children();
      RETURN_HR_IF(DISP_E_BADINDEX, index < 0 || static_cast<size_t>(index) >= children.size());
      const Child& found = children[static_cast<size_t>(index)];
      UniqueBstr childName(::SysAllocStringLen(found.name.data(), static_cast<UINT>(found.name.size())));
      RETURN_IF_NULL_ALLOC(childName.get());
      RETURN_IF_FAILED(ChildVariant(found.item, child));
      *name = childName.release();
      return S_OK;
    });
  }

  STDMETHODIMP GetChildVariantAt(LONG index, VARIANT* child) override {
    return GuardBoundary([&]() -> HRESULT {
      RETURN_HR_IF(E_POINTER, !child);
      const auto& children = item_->children();
      RETURN_HR_IF(DISP_E_BADINDEX, index < 0 || static_cast<size_t>(index) >= children.size());
      return ChildVariant(children[static_cast<size_t>(index)].item, child);
    });
  }

  STDMETHODIMP SetSerializeMode(BYTE mode) override {
    RETURN_HR_IF(E_INVALIDARG, mode != kSerializeXml && mode != kSerializeBinary);
    mode_ = mode;
    return S_OK;
  }

  STDMETHODIMP SetLoadOption(LONG option, BOOL enable) override {
    RETURN_HR_IF(E_INVALIDARG, option != kLoadOptionAttributeRecords);
    attributeRecords_ = enable != FALSE;
    return S_OK;
  }

  STDMETHODIMP GetInt64(LONGLONG* value) override {
    RETURN_HR_IF(E_POINTER, !value);
    int64_t result = 0;
    if (item_->kind() == kItemInteger) {
      result = item_->integer();
    } else if (item_->kind() != kItemText || !ParseInteger(item_->text(), &result)) {
      result = 0;
    }
    *value = result;
    return S_OK;
  }

  STDMETHODIMP SetTextA(const char* text, LONG length) override {
    return GuardBoundary([&]() -> HRESULT {
      RETURN_HR_IF(E_POINTER, !text && length != 0);
      const size_t size = length < 0 ? strlen(text) : static_cast<size_t>(length);
      item_->SetText(size == 0 ? std::wstring() : FromCodePage(std::string(text, size)));
      return S_OK;
    });
  }

  STDMETHODIMP GetText(BSTR* text) override {
    return GuardBoundary([&]() -> HRESULT {
      RETURN_HR_IF(E_POINTER, !text);
      std::wstring value;
      if (item_->kind() == kItemText) {
        value = item_->text();
      } else if (item_->kind() == kItemInteger) {
        value = std::to_wstring(item_->integer());
      }
      BSTR result = ::SysAllocStringLen(value.data(), static_cast<UINT>(value.size()));
      RETURN_IF_NULL_ALLOC(result);
      *text = result;
      return S_OK;
    });
  }

  STDMETHODIMP SetTextW(const wchar_t* text) override {
    return GuardBoundary([&]() -> HRESULT {
      item_->SetText(text ? std::wstring(text) : std::wstring());
      return S_OK;
    });
  }

  STDMETHODIMP GetChildByName(const char* name, VARIANT* child) override {
    return GuardBoundary([&]() -> HRESULT {
      RETURN_HR_IF(E_POINTER, !name || !child);
      ItemPtr found;
      RETURN_IF_FAILED(item_->ChildByName(FromCodePage(name), &found));
      return ChildVariant(found, child);
    });
  }

  void STDMETHODCALLTYPE Load(const BYTE* data, ULONG size) override { ::SetLastError(LoadBytes(data, size)); }

  STDMETHODIMP AppendChild(IQuiverItem** child) override {
    return GuardBoundary([&]() -> HRESULT {
      RETURN_HR_IF(E_POINTER, !child);
      ItemPtr added;
      RETURN_IF_FAILED(item_->AppendChild(&added));
      return CreateItemObject(std::move(added), __uuidof(IQuiverItem), reinterpret_cast<void**>(child));
    });
  }

  // IQuiverNarrowText
  STDMETHODIMP SetNarrowText(const char* text, LONG length) override { return SetTextA(text, length); }

  // IQuiverSerializer
  STDMETHODIMP Serialize(SAFEARRAY** bytes) override {
    return GuardBoundary([&]() -> HRESULT {
      RETURN_HR_IF(E_POINTER, !bytes);
      RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED), mode_ != kSerializeBinary);
      std::string data;
      RETURN_IF_FAILED(WriteBinary(*item_, &data));
      SAFEARRAY* array = ::SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(data.size()));
      RETURN_IF_NULL_ALLOC(array);
      void* target = nullptr;
      const HRESULT hr = ::SafeArrayAccessData(array, &target);
      if (FAILED(hr)) {
        ::SafeArrayDestroy(array);
        return hr;
      }
      memcpy(target, data.data(), data.size());
      ::SafeArrayUnaccessData(array);
      *bytes = array;
      return S_OK;
    });
  }

  STDMETHODIMP LoadFromMemory(const BYTE* data, ULONG size) override {
    const DWORD error = LoadBytes(data, size);
    ::SetLastError(error);
    return error == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(error);
  }

  // IDispatch: only the carrier of children in VARIANTs; no members.
  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    RETURN_HR_IF(E_POINTER, !count);
    *count = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
    if (info) *info = nullptr;
    return DISP_E_BADINDEX;
  }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT count, LCID, DISPID* ids) override {
    for (UINT i = 0; ids && i < count; ++i) ids[i] = DISPID_UNKNOWN;
    return DISP_E_UNKNOWNNAME;
  }
  STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return DISP_E_MEMBERNOTFOUND;
  }

 private:
  static HRESULT ChildVariant(const ItemPtr& item, VARIANT* out) {
    IDispatch* dispatch = nullptr;
    RETURN_IF_FAILED(CreateItemObject(item, IID_IDispatch, reinterpret_cast<void**>(&dispatch)));
    ::VariantInit(out);
    out->vt = VT_DISPATCH;
    out->pdispVal = dispatch;
    return S_OK;
  }

  // Parses into a fresh item and takes its content only when the whole input
  // loaded, so a failed load leaves the item as it was.
  DWORD LoadBytes(const BYTE* data, ULONG size) noexcept {
    try {
      if (!data && size != 0) return ERROR_INVALID_PARAMETER;
      if (size == 0) return ERROR_INVALID_DATA;
      Item loaded(item_->depth());
      const DWORD error = mode_ == kSerializeBinary ? ReadBinary(data, size, &loaded)
                                                    : ReadXml(data, size, attributeRecords_, &loaded);
      if (error == ERROR_SUCCESS) item_->TakeContent(std::move(loaded));
      return error;
    } catch (const std::bad_alloc&) {
      return ERROR_NOT_ENOUGH_MEMORY;
    } catch (...) {
      return ERROR_INVALID_DATA;
    }
  }

  std::atomic<ULONG> refs_{1};
  ItemPtr item_;
  BYTE mode_ = kSerializeBinary;
  bool attributeRecords_ = false;
  ModuleObjectToken token_;
};

}  // namespace

HRESULT CreateItemObject(ItemPtr item, REFIID iid, void** out) {
  RETURN_HR_IF(E_POINTER, !out);
  *out = nullptr;
  RETURN_HR_IF(E_INVALIDARG, !item);
  auto* object = new (std::nothrow) ItemObject(std::move(item));
  RETURN_IF_NULL_ALLOC(object);
  const HRESULT hr = object->QueryInterface(iid, out);
  object->Release();
  return hr;
}

HRESULT CreateContainer(REFIID iid, void** out) {
  return GuardBoundary([&] { return CreateItemObject(std::make_shared<Item>(), iid, out); });
}

}  // namespace zv::quiver
