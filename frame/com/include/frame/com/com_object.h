// The COM object root of a hall class and the wrappers that give it its
// identity: ComObject<T> for a plain object, AggregatedObject<T> for an object
// whose outer unknown owns it, and ClassFactory<T> that creates either.
//
// T derives from ComObjectRoot and its COM interfaces and provides:
//   static ComModule& Module();
//   HRESULT InternalQueryInterface(REFIID, void**);  // usually QueryInterfaceTable
//   HRESULT FinalConstruct();  void FinalRelease();
// The reference count is a plain integer: a hall object belongs to the thread
// that created it. Only the module lock count is interlocked.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <climits>
#include <cstddef>
#include <memory>
#include <new>

#include "common/hresult.h"
#include "frame/com/module.h"

namespace zv {

// One row of an object's QueryInterface table: the IID and how to reach the
// interface from the object.
struct InterfaceEntry {
  const IID* iid;
  void* (*cast)(void* object);
};

template <typename T, typename Interface>
void* CastTo(void* object) {
  return static_cast<Interface*>(static_cast<T*>(object));
}

// Answers iid from the table in its order; IUnknown is the first entry's
// interface. The answer is AddRef'ed through the object's own IUnknown.
template <std::size_t N>
HRESULT QueryInterfaceTable(void* object, const InterfaceEntry (&table)[N], REFIID iid, void** out) {
  RETURN_HR_IF(E_POINTER, out == nullptr);
  *out = nullptr;
  void* found = nullptr;
  if (::IsEqualIID(iid, IID_IUnknown)) {
    found = table[0].cast(object);
  } else {
    for (const InterfaceEntry& entry : table) {
      if (::IsEqualIID(iid, *entry.iid)) {
        found = entry.cast(object);
        break;
      }
    }
  }
  RETURN_HR_IF(E_NOINTERFACE, found == nullptr);
  static_cast<IUnknown*>(found)->AddRef();
  *out = found;
  return S_OK;
}

class ComObjectRoot {
 public:
  // Held by the reference count while the object is being destroyed, so a
  // stray AddRef/Release pair inside FinalRelease cannot delete it twice.
  static constexpr LONG kDestructionSentinel = -(LONG_MAX / 2);

  ULONG InternalAddRef() noexcept { return static_cast<ULONG>(++refCount_); }
  ULONG InternalRelease() noexcept { return static_cast<ULONG>(--refCount_); }
  void SetOuterUnknown(IUnknown* outer) noexcept { outer_ = outer; }
  IUnknown* OuterUnknown() const noexcept { return outer_; }

  HRESULT FinalConstruct() { return S_OK; }
  void FinalRelease() {}

 protected:
  ComObjectRoot() = default;
  ~ComObjectRoot() = default;

  LONG refCount_ = 0;
  IUnknown* outer_ = nullptr;  // not owned: the outer object owns us
};

// A plain (not aggregated) object: its own identity and reference count.
template <typename T>
class ComObject final : public T {
 public:
  ComObject() { T::Module().Lock(); }
  ~ComObject() {
    this->refCount_ = ComObjectRoot::kDestructionSentinel;
    this->FinalRelease();
    T::Module().Unlock();
  }

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override { return this->InternalQueryInterface(iid, out); }
  STDMETHODIMP_(ULONG) AddRef() override { return this->InternalAddRef(); }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG count = this->InternalRelease();
    if (count == 0) delete this;
    return count;
  }

  // Construct, FinalConstruct under a temporary reference, then query iid;
  // the object is destroyed when either step fails.
  static HRESULT Create(REFIID iid, void** out) {
    std::unique_ptr<ComObject> object(new (std::nothrow) ComObject());
    RETURN_IF_NULL_ALLOC(object);
    object->InternalAddRef();
    const HRESULT constructed = object->FinalConstruct();
    object->InternalRelease();
    RETURN_IF_FAILED(constructed);
    RETURN_IF_FAILED(object->QueryInterface(iid, out));
    object.release();
    return S_OK;
  }
};

// The hall as the inner part of an aggregate: every IUnknown call on its
// interfaces goes to the outer object.
template <typename T>
class ContainedObject final : public T {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override { return this->outer_->QueryInterface(iid, out); }
  STDMETHODIMP_(ULONG) AddRef() override { return this->outer_->AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return this->outer_->Release(); }
};

// The inner (non-delegating) unknown of an aggregated hall; the outer object
// holds it and asks it for the hall's interfaces.
template <typename T>
class AggregatedObject final : public IUnknown {
 public:
  explicit AggregatedObject(IUnknown* outer) {
    contained_.SetOuterUnknown(outer);
    T::Module().Lock();
  }
  ~AggregatedObject() {
    refCount_ = ComObjectRoot::kDestructionSentinel;
    contained_.FinalRelease();
    T::Module().Unlock();
  }

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    RETURN_HR_IF(E_POINTER, out == nullptr);
    if (::IsEqualIID(iid, IID_IUnknown)) {
      *out = static_cast<IUnknown*>(this);
      AddRef();
      return S_OK;
    }
    return contained_.InternalQueryInterface(iid, out);
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++refCount_); }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG count = static_cast<ULONG>(--refCount_);
    if (count == 0) delete this;
    return count;
  }

  static HRESULT Create(IUnknown* outer, REFIID iid, void** out) {
    std::unique_ptr<AggregatedObject> object(new (std::nothrow) AggregatedObject(outer));
    RETURN_IF_NULL_ALLOC(object);
    ++object->refCount_;
    const HRESULT constructed = object->contained_.FinalConstruct();
    --object->refCount_;
    RETURN_IF_FAILED(constructed);
    RETURN_IF_FAILED(object->QueryInterface(iid, out));
    object.release();
    return S_OK;
  }

 private:
  LONG refCount_ = 0;
  ContainedObject<T> contained_;
};

// The module's one class factory for T, kept for the life of the module.
template <typename T>
class ClassFactory final : public IClassFactory {
 public:
  static ClassFactory& Instance() {
    static ClassFactory factory;
    return factory;
  }

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    RETURN_HR_IF(E_POINTER, out == nullptr);
    *out = nullptr;
    RETURN_HR_IF(E_NOINTERFACE, !::IsEqualIID(iid, IID_IUnknown) && !::IsEqualIID(iid, IID_IClassFactory));
    *out = static_cast<IClassFactory*>(this);
    return S_OK;
  }
  // The factory lives as long as the module; references do not count.
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }

  // Aggregation is offered only for IUnknown, as COM requires.
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    return GuardBoundary([&]() -> HRESULT {
      RETURN_HR_IF(E_POINTER, out == nullptr);
      *out = nullptr;
      if (outer) {
        RETURN_HR_IF(CLASS_E_NOAGGREGATION, !::IsEqualIID(iid, IID_IUnknown));
        return AggregatedObject<T>::Create(outer, iid, out);
      }
      return ComObject<T>::Create(iid, out);
    });
  }
  STDMETHODIMP LockServer(BOOL lock) override {
    if (lock) {
      T::Module().Lock();
    } else {
      T::Module().Unlock();
    }
    return S_OK;
  }

 private:
  ClassFactory() = default;
};

}  // namespace zv
