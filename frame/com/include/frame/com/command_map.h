// The command map behind `call`: upper-case BSTR keys ordered by VarBstrCmp,
// each naming a member handler of the hall class. Filled once when the hall
// is built; read on the hall's thread only.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <map>
#include <new>

#include "common/handles.h"
#include "common/hresult.h"

namespace zv {

// A new BSTR holding name upper-cased in place over its full length with the
// system's Unicode rules (CharUpperBuffW). A null name gives a null BSTR.
HRESULT UpperCaseCopy(BSTR name, UniqueBstr* out);

// VarBstrCmp(a, b, LOCALE_USER_DEFAULT, 0) == VARCMP_LT.
bool BstrLess(BSTR a, BSTR b) noexcept;

// Handler contract: (param1, param2) arrive as bitwise copies of the caller's
// arguments, read and never freed; the answer goes into result.
template <typename Hall>
class CommandMap {
 public:
  using Handler = HRESULT (Hall::*)(VARIANT param1, VARIANT param2, VARIANT* result);

  struct Entry {
    const wchar_t* upperName;
    Handler handler;
  };

  // map[name] = handler: an existing key is overwritten.
  HRESULT Add(const wchar_t* upperName, Handler handler) noexcept {
    UniqueBstr key(::SysAllocString(upperName));
    RETURN_IF_NULL_ALLOC(key.get());
    try {
      auto found = map_.find(key.get());
      if (found != map_.end()) {
        found->second = handler;
      } else {
        map_.emplace(std::move(key), handler);
      }
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    return S_OK;
  }

  template <std::size_t N>
  HRESULT AddAll(const Entry (&entries)[N]) noexcept {
    for (const Entry& entry : entries) RETURN_IF_FAILED(Add(entry.upperName, entry.handler));
    return S_OK;
  }

  void Clear() noexcept { map_.clear(); }
  bool Empty() const noexcept { return map_.empty(); }

  // Looks an upper-cased key up; null when absent.
  const Handler* Find(BSTR upperKey) const noexcept {
    const auto found = map_.lower_bound(upperKey);
    if (found == map_.end() || BstrLess(upperKey, found->first.get())) return nullptr;
    return &found->second;
  }

 private:
  struct KeyLess {
    using is_transparent = void;
    bool operator()(const UniqueBstr& a, const UniqueBstr& b) const noexcept { return BstrLess(a.get(), b.get()); }
    bool operator()(const UniqueBstr& a, BSTR b) const noexcept { return BstrLess(a.get(), b); }
    bool operator()(BSTR a, const UniqueBstr& b) const noexcept { return BstrLess(a, b.get()); }
  };

  std::map<UniqueBstr, Handler, KeyLess> map_;
};

}  // namespace zv
