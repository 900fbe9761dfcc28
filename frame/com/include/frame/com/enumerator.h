// A COM enumerator over a snapshot of items (IEnumConnections,
// IEnumConnectionPoints). It keeps its source object alive and owns a
// reference to every item it holds; Copy/Destroy of the Traits say how.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <new>
#include <vector>

#include "common/handles.h"
#include "common/hresult.h"

namespace zv {

template <typename Enum, typename Item, typename Traits>
class SnapshotEnumerator final : public Enum {
 public:
  static HRESULT Create(const std::vector<Item>& items, IUnknown* source, Enum** out) {
    SnapshotEnumerator* enumerator = new (std::nothrow) SnapshotEnumerator(source);
    RETURN_IF_NULL_ALLOC(enumerator);
    ComPtr<Enum> holder;
    holder.attach(enumerator);
    enumerator->items_.reserve(items.size());
    for (const Item& item : items) {
      enumerator->items_.emplace_back();
      Traits::Copy(enumerator->items_.back(), item);
    }
    *out = holder.detach();
    return S_OK;
  }

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    RETURN_HR_IF(E_POINTER, out == nullptr);
    *out = nullptr;
    RETURN_HR_IF(E_NOINTERFACE, !::IsEqualIID(iid, IID_IUnknown) && !::IsEqualIID(iid, __uuidof(Enum)));
    *out = static_cast<Enum*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(::InterlockedIncrement(&refCount_)); }
  STDMETHODIMP_(ULONG) Release() override {
    const LONG count = ::InterlockedDecrement(&refCount_);
    if (count == 0) delete this;
    return static_cast<ULONG>(count);
  }

  STDMETHODIMP Next(ULONG wanted, Item* items, ULONG* fetched) override {
    RETURN_HR_IF(E_POINTER, items == nullptr || (wanted > 1 && fetched == nullptr));
    ULONG count = 0;
    while (count < wanted && position_ < items_.size()) {
      Traits::Copy(items[count++], items_[position_++]);
    }
    if (fetched) *fetched = count;
    return count == wanted ? S_OK : S_FALSE;
  }
  STDMETHODIMP Skip(ULONG count) override {
    const std::size_t left = items_.size() - position_;
    if (count > left) {
      position_ = items_.size();
      return S_FALSE;
    }
    position_ += count;
    return S_OK;
  }
  STDMETHODIMP Reset() override {
    position_ = 0;
    return S_OK;
  }
  STDMETHODIMP Clone(Enum** out) override {
    return GuardBoundary([&]() -> HRESULT {
      RETURN_HR_IF(E_POINTER, out == nullptr);
      *out = nullptr;
      ComPtr<Enum> clone;
      RETURN_IF_FAILED(Create(items_, source_.get(), clone.put()));
      static_cast<SnapshotEnumerator*>(clone.get())->position_ = position_;
      *out = clone.detach();
      return S_OK;
    });
  }

 private:
  explicit SnapshotEnumerator(IUnknown* source) : source_(source) {}
  ~SnapshotEnumerator() {
    for (Item& item : items_) Traits::Destroy(item);
  }

  LONG refCount_ = 1;
  ComPtr<IUnknown> source_;
  std::vector<Item> items_;
  std::size_t position_ = 0;
};

}  // namespace zv
