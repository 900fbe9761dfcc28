#include "notify_sink.h"

namespace zvtest {

STDMETHODIMP NotifySink::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  const bool wanted = ::IsEqualIID(iid, IID_IUnknown) || ::IsEqualIID(iid, IID_IDispatch) ||
                      (answerEvent_ && ::IsEqualIID(iid, eventIid_));
  if (!wanted) return E_NOINTERFACE;
  *out = static_cast<IDispatch*>(this);
  AddRef();
  return S_OK;
}

STDMETHODIMP NotifySink::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = 0;
  return S_OK;
}

// Only what the halls send is accepted: DISPID 1, IID_NULL, a method call
// with three positional arguments, the event name last.
STDMETHODIMP NotifySink::Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* parameters,
                                VARIANT* result, EXCEPINFO*, UINT*) {
  if (id != 1 || !::IsEqualIID(iid, IID_NULL) || locale != LOCALE_USER_DEFAULT || flags != DISPATCH_METHOD ||
      !parameters || parameters->cArgs != 3 || parameters->cNamedArgs != 0 || !result) {
    return E_INVALIDARG;
  }
  const VARIANT* args = parameters->rgvarg;
  if (args[2].vt != VT_BSTR) return DISP_E_TYPEMISMATCH;
  NotifyRecord record{id_, args[2].bstrVal ? args[2].bstrVal : L"", args[1].vt, 0, args[0].vt, L""};
  if (args[1].vt == VT_I4) record.param1 = args[1].lVal;
  if (args[0].vt == VT_BSTR && args[0].bstrVal) record.param2 = args[0].bstrVal;
  log_->push_back(record);
  return S_OK;
}

}  // namespace zvtest
