// RAII owners for every Windows handle kind, BSTRs, VARIANTs and COM pointers.
// One generic template with traits; each alias is one line. reset() keeps the
// thread's last-error value so error paths can close handles before reporting.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <wininet.h>

#include <utility>

namespace zv {

template <typename Traits>
class UniqueResource {
 public:
  using pointer = typename Traits::pointer;

  UniqueResource() noexcept = default;
  explicit UniqueResource(pointer value) noexcept : value_(value) {}
  ~UniqueResource() { reset(); }
  UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;

  pointer get() const noexcept { return value_; }
  bool valid() const noexcept { return value_ != Traits::Invalid(); }
  explicit operator bool() const noexcept { return valid(); }

  pointer release() noexcept { return std::exchange(value_, Traits::Invalid()); }

  void reset(pointer value = Traits::Invalid()) noexcept {
    if (value_ != Traits::Invalid()) {
      const DWORD lastError = ::GetLastError();
      Traits::Close(value_);
      ::SetLastError(lastError);
    }
    value_ = value;
  }

  // Releases the current value and hands out its slot for an out-parameter.
  pointer* put() noexcept {
    reset();
    return &value_;
  }

 private:
  pointer value_ = Traits::Invalid();
};

template <typename T, T kInvalid, typename CloseResult, CloseResult(WINAPI* kClose)(T)>
struct HandleTraits {
  using pointer = T;
  static pointer Invalid() noexcept { return kInvalid; }
  static void Close(pointer value) noexcept { kClose(value); }
};

struct InvalidHandleValueTraits {
  using pointer = HANDLE;
  static pointer Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(pointer value) noexcept { ::CloseHandle(value); }
};

struct FindHandleTraits {
  using pointer = HANDLE;
  static pointer Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(pointer value) noexcept { ::FindClose(value); }
};

struct InternetHandleTraits {
  using pointer = HINTERNET;
  static pointer Invalid() noexcept { return nullptr; }
  static void Close(pointer value) noexcept { ::InternetCloseHandle(value); }
};

struct BstrTraits {
  using pointer = BSTR;
  static pointer Invalid() noexcept { return nullptr; }
  static void Close(pointer value) noexcept { ::SysFreeString(value); }
};

struct GdiObjectTraits {
  using pointer = HGDIOBJ;
  static pointer Invalid() noexcept { return nullptr; }
  static void Close(pointer value) noexcept { ::DeleteObject(value); }
};

using UniqueHandle = UniqueResource<HandleTraits<HANDLE, nullptr, BOOL, &::CloseHandle>>;
using UniqueFile = UniqueResource<InvalidHandleValueTraits>;
using UniqueFindHandle = UniqueResource<FindHandleTraits>;
using UniqueHKey = UniqueResource<HandleTraits<HKEY, nullptr, LONG, &::RegCloseKey>>;
using UniqueModule = UniqueResource<HandleTraits<HMODULE, nullptr, BOOL, &::FreeLibrary>>;
using UniqueWindow = UniqueResource<HandleTraits<HWND, nullptr, BOOL, &::DestroyWindow>>;
using UniqueInternet = UniqueResource<InternetHandleTraits>;
using UniqueBstr = UniqueResource<BstrTraits>;
using UniqueGdiObject = UniqueResource<GdiObjectTraits>;
using UniqueLocal = UniqueResource<HandleTraits<HLOCAL, nullptr, HLOCAL, &::LocalFree>>;

// A VARIANT that is cleared when it goes out of scope.
class UniqueVariant {
 public:
  UniqueVariant() noexcept { ::VariantInit(&value_); }
  ~UniqueVariant() { reset(); }
  UniqueVariant(UniqueVariant&& other) noexcept : value_(other.release()) {}
  UniqueVariant& operator=(UniqueVariant&& other) noexcept {
    if (this != &other) {
      reset();
      value_ = other.release();
    }
    return *this;
  }
  UniqueVariant(const UniqueVariant&) = delete;
  UniqueVariant& operator=(const UniqueVariant&) = delete;

  VARIANT* get() noexcept { return &value_; }
  const VARIANT* get() const noexcept { return &value_; }
  VARIANT* operator->() noexcept { return &value_; }
  const VARIANT* operator->() const noexcept { return &value_; }

  void reset() noexcept {
    ::VariantClear(&value_);
    ::VariantInit(&value_);
  }
  VARIANT* put() noexcept {
    reset();
    return &value_;
  }
  // Hands the value to the caller, who must clear it.
  VARIANT release() noexcept {
    VARIANT out = value_;
    ::VariantInit(&value_);
    return out;
  }

 private:
  VARIANT value_;
};

// A counted COM reference.
template <typename T>
class ComPtr {
 public:
  ComPtr() noexcept = default;
  ComPtr(std::nullptr_t) noexcept {}
  // Takes a new reference to raw.
  explicit ComPtr(T* raw) noexcept : ptr_(raw) {
    if (ptr_) ptr_->AddRef();
  }
  ComPtr(const ComPtr& other) noexcept : ComPtr(other.ptr_) {}
  ComPtr(ComPtr&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
  ~ComPtr() { reset(); }
  ComPtr& operator=(ComPtr other) noexcept {
    std::swap(ptr_, other.ptr_);
    return *this;
  }

  T* get() const noexcept { return ptr_; }
  T* operator->() const noexcept { return ptr_; }
  explicit operator bool() const noexcept { return ptr_ != nullptr; }

  void reset() noexcept {
    if (T* old = std::exchange(ptr_, nullptr)) old->Release();
  }
  T** put() noexcept {
    reset();
    return &ptr_;
  }
  void** put_void() noexcept { return reinterpret_cast<void**>(put()); }
  // Adopts a reference the caller already owns.
  void attach(T* raw) noexcept {
    reset();
    ptr_ = raw;
  }
  T* detach() noexcept { return std::exchange(ptr_, nullptr); }

  template <typename U>
  HRESULT As(ComPtr<U>* out) const noexcept {
    if (!ptr_) return E_POINTER;
    return ptr_->QueryInterface(__uuidof(U), out->put_void());
  }
  HRESULT QueryTo(REFIID iid, void** out) const noexcept {
    if (!out) return E_POINTER;
    *out = nullptr;
    return ptr_ ? ptr_->QueryInterface(iid, out) : E_NOINTERFACE;
  }
  // Hands out a new reference.
  HRESULT CopyTo(T** out) const noexcept {
    if (!out) return E_POINTER;
    *out = ptr_;
    if (ptr_) ptr_->AddRef();
    return S_OK;
  }

 private:
  T* ptr_ = nullptr;
};

}  // namespace zv
