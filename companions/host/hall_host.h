// Loads a hall DLL by path the way the box's core host does: the class object
// comes from the DLL's own DllGetClassObject (no registration), one hall
// object is created on the calling thread, an event sink is connected, and
// commands go through IDispatch "call". Events may arrive on any thread (the
// halls fire some from download threads); they are recorded under a lock and
// handed to the observer at once.
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <ocidl.h>

#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "common/handles.h"

namespace zv {

// One Notify event as the host saw it. fields holds "p1", "p2" and, for
// object parameters, every property of the object by name (nested objects
// flattened as "outer.inner").
struct HostEvent {
  std::wstring name;
  std::map<std::wstring, std::wstring> fields;
  std::wstring text;  // the event as one readable line
  ULONGLONG tick = 0;
};

// Readable text of a VARIANT: strings quoted, objects as {name=value ...}.
std::wstring DescribeVariant(const VARIANT& value, int depth = 0);
// The plain value used for comparisons: strings unquoted.
std::wstring PlainValue(const VARIANT& value);

// A hall's command interface as its vtable lays it out: IDispatch's seven
// methods, then call. Calling through it keeps S_FALSE, which IDispatch::Invoke
// folds into S_OK.
struct HallCommands : public IDispatch {
  virtual HRESULT STDMETHODCALLTYPE call(BSTR method, VARIANT param1, VARIANT param2, VARIANT* result) = 0;
};

class HallHost {
 public:
  using Observer = std::function<void(const HostEvent&)>;

  HallHost();
  ~HallHost();
  HallHost(const HallHost&) = delete;
  HallHost& operator=(const HallHost&) = delete;

  // Loads the DLL, creates the hall object and connects the sink.
  HRESULT Load(const std::wstring& dllPath);
  void SetObserver(Observer observer) { observer_ = std::move(observer); }
  // The hall object (its command interface), for callers that need its
  // vtable rather than late binding.
  IDispatch* Object() const { return object_.get(); }

  // Calls "call"(method, param1, param2); result receives the hall's answer.
  HRESULT Call(const std::wstring& method, const VARIANT& param1, const VARIANT& param2,
               VARIANT* result);

  // Makes a script object (the script-object class of Quiverx.dll beside the
  // host) with the given properties, as the host's script side would.
  HRESULT MakeScriptObject(const std::vector<std::pair<std::wstring, VARIANT>>& properties,
                           IDispatch** object);

  // Waits until an event recorded after the last matched one satisfies match,
  // pumping this thread's messages. Returns the event or false on time-out.
  bool WaitForEvent(const std::function<bool(const HostEvent&)>& match, DWORD timeoutMs,
                    HostEvent* found);

  // Called by the sink, on whatever thread fired the event.
  void Record(HostEvent event);

 private:
  class Sink;

  UniqueModule hall_;
  UniqueModule scriptObjects_;
  ComPtr<IDispatch> object_;
  ComPtr<HallCommands> commands_;  // null when the object answers only IDispatch
  ComPtr<IConnectionPoint> connection_;
  DWORD cookie_ = 0;
  Sink* sink_ = nullptr;
  Observer observer_;

  std::mutex lock_;
  std::vector<HostEvent> events_;
  size_t cursor_ = 0;
  UniqueHandle arrived_;
};

}  // namespace zv
