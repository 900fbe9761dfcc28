// The hall's one connection point (for its event dispinterface) with the sink
// array, and the connection-point container that owns it and fires `Notify`.
// Both live inside the hall object and share its reference count and thread:
// the sink array is unguarded. Cookie = slot index + 1; freed slots are reused,
// so the slot order is the order in which sinks receive each event.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <vector>

namespace zv {

class ConnectionPoint final : public IConnectionPoint {
 public:
  ConnectionPoint(IConnectionPointContainer* container, REFIID eventIid) noexcept
      : container_(container), eventIid_(eventIid) {}
  ~ConnectionPoint();
  ConnectionPoint(const ConnectionPoint&) = delete;
  ConnectionPoint& operator=(const ConnectionPoint&) = delete;

  // IUnknown: answers IUnknown and IConnectionPoint; lifetime is the hall's.
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override { return container_->AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return container_->Release(); }

  STDMETHODIMP GetConnectionInterface(IID* iid) override;
  STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** out) override;
  STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override;
  STDMETHODIMP Unadvise(DWORD cookie) override;
  STDMETHODIMP EnumConnections(IEnumConnections** out) override;

  const IID& EventIid() const noexcept { return eventIid_; }
  std::size_t SlotCount() const noexcept { return sinks_.size(); }
  // The sink of a slot, queried for the event interface; null for an empty
  // slot or one past the end.
  IDispatch* SinkAt(std::size_t slot) const noexcept;

 private:
  IConnectionPointContainer* container_;
  IID eventIid_;
  std::vector<IUnknown*> sinks_;  // owned references; null = empty slot
};

// Trace lines a hall writes while firing; any of them may be null.
struct FireTraceLines {
  const wchar_t* enter;
  const wchar_t* slot;  // takes the slot index as %d
  const wchar_t* sink;
  const wchar_t* leave;
};

// IConnectionPointContainer for a hall with one event dispinterface, and
// Fire_Notify. The final class supplies IUnknown.
class NotifyConnectionPoints : public IConnectionPointContainer {
 public:
  STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** out) override;
  STDMETHODIMP FindConnectionPoint(REFIID iid, IConnectionPoint** out) override;

  // Invokes DISPID 1 (`Notify`) on every sink in slot order with the
  // arguments (event, param1, param2). Returns the last Invoke's HRESULT, S_OK
  // without sinks; an argument that cannot be built stops the firing.
  HRESULT Fire_Notify(const wchar_t* event, const VARIANT& param1, const VARIANT& param2);

 protected:
  NotifyConnectionPoints(REFIID eventIid, const FireTraceLines* trace) noexcept
      : point_(this, eventIid), trace_(trace) {}
  ~NotifyConnectionPoints() = default;

 private:
  ConnectionPoint point_;
  const FireTraceLines* trace_;
};

}  // namespace zv
