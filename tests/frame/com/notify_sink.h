// A real event sink for the halls' `Notify`: an IDispatch that answers the
// event DIID (or refuses it, to test Advise), records every call into a log
// shared by several sinks so the firing order shows, and counts references.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <string>
#include <vector>

namespace zvtest {

struct NotifyRecord {
  int sink;
  std::wstring event;
  VARTYPE param1Type;
  LONG param1;   // lVal when VT_I4
  VARTYPE param2Type;
  std::wstring param2;  // bstrVal when VT_BSTR
};

class NotifySink final : public IDispatch {
 public:
  // answerEvent: whether QueryInterface answers eventIid.
  NotifySink(int id, REFIID eventIid, std::vector<NotifyRecord>* log, bool answerEvent = true)
      : id_(id), eventIid_(eventIid), log_(log), answerEvent_(answerEvent) {}

  LONG References() const { return refCount_; }

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override { return ++refCount_; }
  STDMETHODIMP_(ULONG) Release() override { return --refCount_; }  // lives on the test's stack
  STDMETHODIMP GetTypeInfoCount(UINT* count) override;
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* parameters, VARIANT* result,
                      EXCEPINFO*, UINT*) override;

 private:
  int id_;
  IID eventIid_;
  std::vector<NotifyRecord>* log_;
  bool answerEvent_;
  LONG refCount_ = 1;
};

}  // namespace zvtest
