// CPCGameLogic: the PC and emulator game hall object, the one creatable class
// of Ostrelle.dll. The host creates it on its user-interface thread and calls
// it only there; the object, its maps and its game table are unguarded.
// Other threads reach it by posting the status message to the hall window.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <map>
#include <memory>
#include <string>

#include "Ostrelle_h.h"
#include "frame/com/com_object.h"
#include "frame/com/command_map.h"
#include "frame/com/connection_point.h"
#include "frame/com/dispatch.h"
#include "frame/com/message_window.h"
#include "frame/com/module.h"

class COstrelleModule final : public zv::ComModule {
 public:
  static COstrelleModule& Instance();
};

// The Notify connection point of the PC hall.
class CProxy_IPCGameLogicEvents : public zv::NotifyConnectionPoints {
 protected:
  CProxy_IPCGameLogicEvents() noexcept : NotifyConnectionPoints(DIID__IPCGameLogicEvents, nullptr) {}
};

// What the hall asks of a game in its table. The hall owns the games it holds.
class GameTableItem {
 public:
  virtual ~GameTableItem() = default;
  // Fires "GameStatusChanged" with the game's current status.
  virtual void FireStatusChanged() = 0;
};

class CPCGameLogic : public zv::ComObjectRoot,
                     public CProxy_IPCGameLogicEvents,
                     public zv::DispatchImpl<CPCGameLogic, IPCGameLogic>,
                     public zv::ProvideClassInfo2Impl<CPCGameLogic>,
                     public zv::MessageWindow {
 public:
  // A game's status changed: wParam = digit count of the game id, lParam =
  // the id's value. Posted from any thread; answered on the hall's thread.
  static constexpr UINT kGameStatusMessage = WM_USER + 8;

  using Handler = zv::CommandMap<CPCGameLogic>::Handler;
  using GameTable = std::map<std::wstring, std::unique_ptr<GameTableItem>>;

  static zv::ComModule& Module() { return COstrelleModule::Instance(); }
  static const IID& CommandTypeIid() { return IID_IPCGameLogic; }
  static const CLSID& ClassId() { return CLSID_PCGameLogic; }
  static const GUID& LibraryId() { return LIBID_OstrelleLib; }
  static const IID& EventIid() { return DIID__IPCGameLogicEvents; }

  // "%%.%dd" with the digit count as precision gives the id back with its
  // leading zeros: (6, 123) -> "000123". Empty for a digit count that no id
  // can have.
  static std::wstring GameIdFromStatusMessage(WPARAM digits, LPARAM value);

  HRESULT InternalQueryInterface(REFIID iid, void** out);
  HRESULT FinalConstruct();
  void FinalRelease();

  STDMETHODIMP call(BSTR method, VARIANT param1, VARIANT param2, VARIANT* result) override;
  STDMETHODIMP callfrom(BSTR method, BSTR froms, VARIANT param1, VARIANT param2, VARIANT* result) override;

  GameTable& Games() noexcept { return games_; }
  const std::wstring& ProductFolder() const noexcept { return productFolder_; }
  const std::wstring& StorePath() const noexcept { return storePath_; }

 protected:
  CPCGameLogic() = default;
  ~CPCGameLogic() override = default;

  // Map insertion offered to the hall's parts; the name must be upper case.
  HRESULT AddCommand(const wchar_t* upperName, Handler handler) { return commands_.Add(upperName, handler); }

  bool ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 private:
  HRESULT InitCommandMap();
  HRESULT Dispatch(BSTR method, VARIANT param1, VARIANT param2, VARIANT* result);
  void OnGameStatusMessage(WPARAM digits, LPARAM value);

  HRESULT OnInit(VARIANT param1, VARIANT param2, VARIANT* result);

  zv::CommandMap<CPCGameLogic> commands_;
  GameTable games_;
  std::wstring productFolder_;
  std::wstring storePath_;
};
