#include "frame/com/connection_point.h"

#include <olectl.h>

#include <new>

#include "common/handles.h"
#include "common/hresult.h"
#include "common/trace.h"
#include "frame/com/enumerator.h"

namespace zv {
namespace {

struct ConnectDataCopy {
  static void Copy(CONNECTDATA& target, const CONNECTDATA& source) {
    target = source;
    if (target.pUnk) target.pUnk->AddRef();
  }
  static void Destroy(CONNECTDATA& item) {
    if (item.pUnk) item.pUnk->Release();
  }
};

struct ConnectionPointCopy {
  static void Copy(IConnectionPoint*& target, IConnectionPoint* const& source) {
    target = source;
    if (target) target->AddRef();
  }
  static void Destroy(IConnectionPoint*& item) {
    if (item) item->Release();
  }
};

using ConnectionsEnum = SnapshotEnumerator<IEnumConnections, CONNECTDATA, ConnectDataCopy>;
using ConnectionPointsEnum = SnapshotEnumerator<IEnumConnectionPoints, IConnectionPoint*, ConnectionPointCopy>;

void TraceLine(const wchar_t* line) {
  if (line) Trace(L"%ls", line);
}

// The three positional arguments of one `Notify` call, cleared on exit.
struct NotifyArguments {
  NotifyArguments() {
    for (VARIANT& value : values) ::VariantInit(&value);
  }
  ~NotifyArguments() {
    for (VARIANT& value : values) ::VariantClear(&value);
  }
  NotifyArguments(const NotifyArguments&) = delete;
  NotifyArguments& operator=(const NotifyArguments&) = delete;

  // IDispatch takes positional arguments last to first.
  HRESULT Build(const wchar_t* event, const VARIANT& param1, const VARIANT& param2) {
    RETURN_IF_FAILED(::VariantCopy(&values[0], const_cast<VARIANT*>(&param2)));
    RETURN_IF_FAILED(::VariantCopy(&values[1], const_cast<VARIANT*>(&param1)));
    BSTR name = ::SysAllocString(event ? event : L"");
    RETURN_IF_NULL_ALLOC(name);
    values[2].vt = VT_BSTR;
    values[2].bstrVal = name;
    return S_OK;
  }

  VARIANT values[3];
};

}  // namespace

ConnectionPoint::~ConnectionPoint() {
  for (IUnknown* sink : sinks_) {
    if (sink) sink->Release();
  }
}

STDMETHODIMP ConnectionPoint::QueryInterface(REFIID iid, void** out) {
  RETURN_HR_IF(E_POINTER, out == nullptr);
  *out = nullptr;
  RETURN_HR_IF(E_NOINTERFACE, !::IsEqualIID(iid, IID_IUnknown) && !::IsEqualIID(iid, IID_IConnectionPoint));
  *out = static_cast<IConnectionPoint*>(this);
  AddRef();
  return S_OK;
}

STDMETHODIMP ConnectionPoint::GetConnectionInterface(IID* iid) {
  RETURN_HR_IF(E_POINTER, iid == nullptr);
  *iid = eventIid_;
  return S_OK;
}

STDMETHODIMP ConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** out) {
  RETURN_HR_IF(E_POINTER, out == nullptr);
  *out = container_;
  container_->AddRef();
  return S_OK;
}

STDMETHODIMP ConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
  return GuardBoundary([&]() -> HRESULT {
    RETURN_HR_IF(E_POINTER, sink == nullptr || cookie == nullptr);
    *cookie = 0;
    IUnknown* eventSink = nullptr;
    RETURN_HR_IF(CONNECT_E_CANNOTCONNECT, FAILED(sink->QueryInterface(eventIid_, reinterpret_cast<void**>(&eventSink))) ||
                                              eventSink == nullptr);
    std::size_t slot = 0;
    while (slot < sinks_.size() && sinks_[slot] != nullptr) ++slot;
    if (slot == sinks_.size()) {
      try {
        sinks_.push_back(nullptr);
      } catch (const std::bad_alloc&) {
        eventSink->Release();
        return CONNECT_E_ADVISELIMIT;
      }
    }
    sinks_[slot] = eventSink;
    *cookie = static_cast<DWORD>(slot + 1);
    return S_OK;
  });
}

STDMETHODIMP ConnectionPoint::Unadvise(DWORD cookie) {
  RETURN_HR_IF(CONNECT_E_NOCONNECTION, cookie == 0 || cookie > sinks_.size() || sinks_[cookie - 1] == nullptr);
  IUnknown* sink = sinks_[cookie - 1];
  sinks_[cookie - 1] = nullptr;
  sink->Release();
  return S_OK;
}

STDMETHODIMP ConnectionPoint::EnumConnections(IEnumConnections** out) {
  return GuardBoundary([&]() -> HRESULT {
    RETURN_HR_IF(E_POINTER, out == nullptr);
    *out = nullptr;
    std::vector<CONNECTDATA> connections;
    for (std::size_t slot = 0; slot < sinks_.size(); ++slot) {
      if (sinks_[slot]) connections.push_back(CONNECTDATA{sinks_[slot], static_cast<DWORD>(slot + 1)});
    }
    return ConnectionsEnum::Create(connections, static_cast<IConnectionPoint*>(this), out);
  });
}

IDispatch* ConnectionPoint::SinkAt(std::size_t slot) const noexcept {
  return slot < sinks_.size() ? static_cast<IDispatch*>(static_cast<void*>(sinks_[slot])) : nullptr;
}

STDMETHODIMP NotifyConnectionPoints::EnumConnectionPoints(IEnumConnectionPoints** out) {
  return GuardBoundary([&]() -> HRESULT {
    RETURN_HR_IF(E_POINTER, out == nullptr);
    *out = nullptr;
    const std::vector<IConnectionPoint*> points{&point_};
    return ConnectionPointsEnum::Create(points, static_cast<IConnectionPointContainer*>(this), out);
  });
}

STDMETHODIMP NotifyConnectionPoints::FindConnectionPoint(REFIID iid, IConnectionPoint** out) {
  RETURN_HR_IF(E_POINTER, out == nullptr);
  *out = nullptr;
  RETURN_HR_IF(CONNECT_E_NOCONNECTION, !::IsEqualIID(iid, point_.EventIid()));
  *out = &point_;
  point_.AddRef();
  return S_OK;
}

HRESULT NotifyConnectionPoints::Fire_Notify(const wchar_t* event, const VARIANT& param1, const VARIANT& param2) {
  return GuardBoundary([&]() -> HRESULT {
    if (trace_) TraceLine(trace_->enter);
    HRESULT last = S_OK;
    const std::size_t slots = point_.SlotCount();
    for (std::size_t slot = 0; slot < slots; ++slot) {
      if (trace_ && trace_->slot) Trace(trace_->slot, static_cast<int>(slot));
      ComPtr<IDispatch> sink(point_.SinkAt(slot));
      if (!sink) continue;
      if (trace_) TraceLine(trace_->sink);
      NotifyArguments arguments;
      RETURN_IF_FAILED(arguments.Build(event, param1, param2));
      DISPPARAMS parameters = {arguments.values, nullptr, 3, 0};
      UniqueVariant result;
      last = sink->Invoke(1, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &parameters, result.get(), nullptr,
                          nullptr);
    }
    if (trace_) TraceLine(trace_->leave);
    return last;
  });
}

}  // namespace zv
