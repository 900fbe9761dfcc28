// Common ground of the Quiverx objects: reference counting, QueryInterface
// for IUnknown, IDispatch and IDispatchEx, and IDispatch served through the
// IDispatchEx methods (names looked up without regard to case, as IDispatch
// callers expect). No type information. The count alone is thread-safe.
#pragma once

#include <windows.h>
#include <dispex.h>

#include <atomic>

#include "common/com_server.h"

namespace zv::quiverx {

class DispatchExBase : public IDispatchEx {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  STDMETHODIMP GetTypeInfoCount(UINT* count) override;
  STDMETHODIMP GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
  STDMETHODIMP GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) override;
  STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* exception, UINT* argumentError) override;
  STDMETHODIMP GetNameSpaceParent(IUnknown** parent) override;

 protected:
  DispatchExBase() = default;
  virtual ~DispatchExBase() = default;

 private:
  std::atomic<ULONG> refs_{1};
  ModuleObjectToken token_;
};

// Queries a freshly made object for iid and drops the creation reference.
HRESULT HandOut(DispatchExBase* object, REFIID iid, void** out);

}  // namespace zv::quiverx
