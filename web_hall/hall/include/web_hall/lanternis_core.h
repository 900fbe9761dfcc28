// CLanternisCore: the web game hall object, the one creatable class of
// Lanternis.dll. The host creates it on its user-interface thread and calls it
// only there; the object and its maps are unguarded. Work from other threads
// reaches it as messages to the hall window (WM_COPYDATA, 0x401, 2024, 2025).
#pragma once

#include <windows.h>
#include <ocidl.h>

#include "Lanternis_h.h"
#include "frame/com/com_object.h"
#include "frame/com/command_map.h"
#include "frame/com/connection_point.h"
#include "frame/com/dispatch.h"
#include "frame/com/message_window.h"
#include "frame/com/module.h"
#include "frame/com/pipewell_event.h"

class CLanternisModule final : public zv::ComModule {
 public:
  static CLanternisModule& Instance();
};

// The object answers QueryInterface for its command interface under this IID,
// not under the one the type library gives it.
extern const IID kLanternisLogicObjectIid;  // {07958BDF-16C1-4DB5-8D1E-AC97B387ED24}

// The Notify connection point of the web hall; it traces every firing.
class CProxy_ILanternisEvents : public zv::NotifyConnectionPoints {
 protected:
  CProxy_ILanternisEvents() noexcept;
};

class CLanternisCore : public zv::ComObjectRoot,
                       public CProxy_ILanternisEvents,
                       public zv::ProvideClassInfo2Impl<CLanternisCore>,
                       public zv::DispatchImpl<CLanternisCore, ILanternisLogic>,
                       public zv::MessageWindow,
                       public IPipewellEvent {
 public:
  static constexpr wchar_t kHallWindowText[] = L"{AEE38D2B-0EB7-4644-AF71-E3EF7DE55B53}";
  static constexpr UINT_PTR kIdleTimer = 1000;
  static constexpr UINT kIdleTimerPeriodMs = 30000;
  // Messages handed to the hall's thread.
  static constexpr UINT kIconDownloadedMessage = WM_USER + 1;
  static constexpr UINT kMainThreadOperationMessage = 2024;
  static constexpr UINT kLocalGameInfoMessage = 2025;

  using Handler = zv::CommandMap<CLanternisCore>::Handler;

  static zv::ComModule& Module() { return CLanternisModule::Instance(); }
  static const IID& CommandTypeIid() { return IID_ILanternisLogic; }
  static const CLSID& ClassId() { return CLSID_LanternisLogic; }
  static const GUID& LibraryId() { return LIBID_LanternisLib; }
  static const IID& EventIid() { return DIID__ILanternisEvents; }

  HRESULT InternalQueryInterface(REFIID iid, void** out);
  HRESULT FinalConstruct();
  void FinalRelease();

  STDMETHODIMP call(BSTR method, VARIANT param1, VARIANT param2, VARIANT* result) override;

  // Records from the inter-process peer arrive here; the peer binding answers
  // them.
  STDMETHODIMP OnReceiveData(const wchar_t* eventName, IUnknown* eventContainer) override;

 protected:
  CLanternisCore();
  ~CLanternisCore() override = default;

  // Map insertion offered to the hall's parts; the name must be upper case.
  HRESULT AddCommand(const wchar_t* upperName, Handler handler) { return commands_.Add(upperName, handler); }

  bool ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 private:
  HRESULT InitMapCall();

  // Where the hall window's messages go.
  LRESULT OnCopyData(HWND sender, const COPYDATASTRUCT* data);
  LRESULT OnTimer(UINT_PTR timerId);
  LRESULT OnHotKey(WPARAM hotKeyId, LPARAM keys);
  LRESULT OnIconDownloaded(WPARAM wParam, LPARAM lParam);
  LRESULT OnMainThreadGameOperation(WPARAM wParam, LPARAM lParam);
  LRESULT OnLocalGameInfoLoaded(WPARAM wParam, LPARAM lParam);

  zv::CommandMap<CLanternisCore> commands_;
  HRESULT commandMapResult_ = S_OK;  // the constructor cannot fail; creation can
};
