// The container operations the halls use, over the container interfaces.
#include <climits>
#include <memory>
#include <new>
#include <string>

#include "common/hresult.h"
#include "common/text.h"
#include "containers/container_binding.h"

namespace zv {
namespace {

// Largest file LoadFile reads into memory.
constexpr long long kMaxFileBytes = 256ll << 20;

struct SafeArrayDeleter {
  void operator()(SAFEARRAY* array) const { ::SafeArrayDestroy(array); }
};
using UniqueSafeArray = std::unique_ptr<SAFEARRAY, SafeArrayDeleter>;

ComPtr<IQuiverItem> ItemOf(const VARIANT& value) {
  ComPtr<IQuiverItem> item;
  if (value.vt == VT_DISPATCH && value.pdispVal) {
    value.pdispVal->QueryInterface(__uuidof(IQuiverItem), item.put_void());
  }
  return item;
}

HRESULT SetVariant(IQuiverItem* item, VARTYPE type, LONG bits) {
  RETURN_HR_IF(E_POINTER, !item);
  VARIANT value;
  ::VariantInit(&value);
  value.vt = type;
  value.lVal = bits;
  return item->SetValue(&value);
}

}  // namespace

ComPtr<IQuiverItem> Get(IQuiverItem* container, const std::string& name) {
  if (!container) return {};
  UniqueVariant child;
  if (FAILED(container->GetChildByName(name.c_str(), child.put()))) return {};
  if (child->vt == VT_DISPATCH) return ItemOf(*child.get());
  // A plain value travels in a container of its own.
  ComPtr<IQuiverItem> holder = NewContainer();
  if (holder && FAILED(holder->SetValue(child.get()))) holder.reset();
  return holder;
}

LONG Kind(IQuiverItem* item) {
  LONG kind = kItemEmpty;
  if (!item || FAILED(item->GetKind(&kind))) return kItemEmpty;
  return kind;
}

LONG Count(IQuiverItem* item) {
  LONG count = 0;
  if (!item || FAILED(item->GetCount(&count)) || count < 0) return 0;
  return count;
}

ComPtr<IQuiverItem> ChildAt(IQuiverItem* item, LONG index, std::wstring* name) {
  if (!item) return {};
  UniqueBstr childName;
  UniqueVariant child;
  if (FAILED(item->GetChildAt(index, childName.put(), child.put()))) return {};
  if (name) name->assign(childName.get() ? childName.get() : L"", ::SysStringLen(childName.get()));
  return ItemOf(*child.get());
}

HRESULT SetInt(IQuiverItem* item, int32_t value) { return SetVariant(item, VT_I4, value); }

HRESULT SetUInt(IQuiverItem* item, uint32_t value) { return SetVariant(item, VT_UI4, static_cast<LONG>(value)); }

HRESULT SetString(IQuiverItem* item, const std::wstring& value) {
  RETURN_HR_IF(E_POINTER, !item);
  UniqueBstr text(::SysAllocStringLen(value.data(), static_cast<UINT>(value.size())));
  RETURN_IF_NULL_ALLOC(text.get());
  VARIANT variant;
  ::VariantInit(&variant);
  variant.vt = VT_BSTR;
  variant.bstrVal = text.get();
  return item->SetValue(&variant);
}

HRESULT SetString(IQuiverItem* item, const std::string& value) {
  RETURN_HR_IF(E_POINTER, !item);
  RETURN_HR_IF(E_INVALIDARG, value.size() > static_cast<size_t>(LONG_MAX));
  const LONG length = static_cast<LONG>(value.size());
  ComPtr<IQuiverNarrowText> narrow;
  if (SUCCEEDED(item->QueryInterface(__uuidof(IQuiverNarrowText), narrow.put_void())) && narrow) {
    return narrow->SetNarrowText(value.data(), length);
  }
  return item->SetTextA(value.data(), length);
}

int32_t GetInt(IQuiverItem* item) {
  LONGLONG value = 0;
  if (!item || FAILED(item->GetInt64(&value))) return 0;
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<ULONGLONG>(value)));
}

std::wstring GetString(IQuiverItem* item) {
  UniqueBstr text;
  if (!item || FAILED(item->GetText(text.put())) || !text) return {};
  return std::wstring(text.get(), ::SysStringLen(text.get()));
}

std::string GetStringA(IQuiverItem* item) { return ToCodePage(GetString(item)); }

std::string Serialize(IQuiverItem* container) {
  ComPtr<IQuiverSerializer> serializer;
  if (!container || FAILED(container->QueryInterface(__uuidof(IQuiverSerializer), serializer.put_void()))) {
    return {};
  }
  SAFEARRAY* raw = nullptr;
  if (FAILED(serializer->Serialize(&raw)) || !raw) return {};
  const UniqueSafeArray array(raw);
  LONG lower = 0;
  LONG upper = -1;
  if (::SafeArrayGetDim(raw) != 1 || FAILED(::SafeArrayGetLBound(raw, 1, &lower)) ||
      FAILED(::SafeArrayGetUBound(raw, 1, &upper)) || upper < lower) {
    return {};
  }
  void* data = nullptr;
  if (FAILED(::SafeArrayAccessData(raw, &data))) return {};
  std::string bytes(static_cast<const char*>(data), static_cast<size_t>(upper) - static_cast<size_t>(lower) + 1);
  ::SafeArrayUnaccessData(raw);
  return bytes;
}

bool Load(IQuiverItem* container, const void* bytes, size_t size) {
  if (!container || size > ULONG_MAX) return false;
  ::SetLastError(ERROR_SUCCESS);
  container->Load(static_cast<const BYTE*>(bytes), static_cast<ULONG>(size));
  return ::GetLastError() == ERROR_SUCCESS;
}

DWORD LoadFile(IQuiverItem* container, FILE* stream) {
  ComPtr<IQuiverSerializer> serializer;
  if (!container || !stream ||
      FAILED(container->QueryInterface(__uuidof(IQuiverSerializer), serializer.put_void()))) {
    return kContainerNothingToLoad;
  }
  if (_fseeki64(stream, 0, SEEK_END) != 0) return kContainerNothingToLoad;
  const long long length = _ftelli64(stream);
  if (length <= 0 || _fseeki64(stream, 0, SEEK_SET) != 0) return kContainerNothingToLoad;
  if (length > kMaxFileBytes) return kContainerNoMemory;
  std::unique_ptr<BYTE[]> bytes(new (std::nothrow) BYTE[static_cast<size_t>(length)]);
  if (!bytes) return kContainerNoMemory;
  const size_t read = fread(bytes.get(), 1, static_cast<size_t>(length), stream);
  if (read < static_cast<size_t>(length)) return kContainerShortRead;
  ::SetLastError(ERROR_SUCCESS);
  if (SUCCEEDED(serializer->LoadFromMemory(bytes.get(), static_cast<ULONG>(length)))) return ERROR_SUCCESS;
  const DWORD error = ::GetLastError();
  return error != ERROR_SUCCESS ? error : static_cast<DWORD>(ERROR_INVALID_DATA);
}

}  // namespace zv
