// CPCGameLogic: the PC and emulator game hall object, the one creatable class
// of Ostrelle.dll. The host creates it on its user-interface thread and calls
// it only there. Download engine threads reach it too: they look games up
// (the game table and the store path each have a small lock for that), fire
// events, and post the status and hall-step messages to the hall window.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Ostrelle_h.h"
#include "frame/com/com_object.h"
#include "frame/com/command_map.h"
#include "frame/com/connection_point.h"
#include "frame/com/dispatch.h"
#include "frame/com/message_window.h"
#include "frame/com/module.h"
#include "game_hall.h"
#include "game_item.h"
#include "game_table_item.h"

class COstrelleModule final : public zv::ComModule {
 public:
  static COstrelleModule& Instance();
};

// The Notify connection point of the PC hall.
class CProxy_IPCGameLogicEvents : public zv::NotifyConnectionPoints {
 protected:
  CProxy_IPCGameLogicEvents() noexcept : NotifyConnectionPoints(DIID__IPCGameLogicEvents, nullptr) {}
};

class CPCGameLogic : public zv::ComObjectRoot,
                     public CProxy_IPCGameLogicEvents,
                     public zv::DispatchImpl<CPCGameLogic, IPCGameLogic>,
                     public zv::ProvideClassInfo2Impl<CPCGameLogic>,
                     public zv::MessageWindow,
                     public ostrelle::GameHall {
 public:
  // A game's status changed: wParam = digit count of the game id, lParam =
  // the id's value; or 0 and 0 for every game queued by PostStatusChanged.
  // Posted from any thread; answered on the hall's thread.
  static constexpr UINT kGameStatusMessage = WM_USER + 8;

  using Handler = zv::CommandMap<CPCGameLogic>::Handler;
  // The games the host added; the hall owns them. Shared so that a lookup
  // on an engine thread keeps its game alive while it is used.
  using GameTable = std::map<std::wstring, std::shared_ptr<GameTableItem>>;

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

  // ostrelle::GameHall
  std::wstring ProductFolder() const override { return productFolder_; }
  std::wstring StorePath() const override;
  void PostStatusChanged(const std::wstring& gameId) override;
  void PostHallStep(const std::wstring& gameId) override;
  bool OnHallThread() const override;
  HRESULT FireNotify(const wchar_t* event, const VARIANT& param1, const VARIANT& param2) override;
  void OnGameConfigReady(const std::wstring& gameId, const FileDownloadStatus* report) override;

  // The game id that follows "-gameid" (any case) in a command line split by
  // the Windows rules; empty when there is none.
  static std::wstring GameIdOfCommandLine(const std::wstring& commandLine);

 protected:
  CPCGameLogic() = default;
  ~CPCGameLogic() override = default;

  // Map insertion offered to the hall's parts; the name must be upper case.
  HRESULT AddCommand(const wchar_t* upperName, Handler handler) { return commands_.Add(upperName, handler); }

  bool ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 private:
  HRESULT InitCommandMap();
  HRESULT Dispatch(BSTR method, VARIANT param1, VARIANT param2, VARIANT* result);
  // The status message names one game, or (0 digits, value 0) every game
  // whose report PostStatusChanged queued.
  void OnGameStatusMessage(WPARAM digits, LPARAM value);
  void FireStatusOf(const std::wstring& gameId);
  void FirePendingStatus();
  void OnHallStepMessage(WPARAM digits, LPARAM value);

  std::shared_ptr<ostrelle::CGameItem> FindGame(const std::wstring& gameId) const;
  // Answers VT_I2 -1 when param1 names a known game (after running action on
  // it), else 0; E_INVALIDARG for an id that is not VT_BSTR.
  template <typename Action>
  HRESULT ForGame(const VARIANT& param1, VARIANT* result, Action&& action);
  void PostGameMessage(UINT message, const std::wstring& gameId);
  static void CloseGame(std::shared_ptr<ostrelle::CGameItem> game);

  HRESULT OnInit(VARIANT param1, VARIANT param2, VARIANT* result);
  HRESULT OnAddGame(VARIANT param1, VARIANT param2, VARIANT* result);
  HRESULT OnRaiseToInstalled(VARIANT param1, VARIANT param2, VARIANT* result);
  HRESULT OnPauseDownload(VARIANT param1, VARIANT param2, VARIANT* result);
  HRESULT OnLowerToInfoReady(VARIANT param1, VARIANT param2, VARIANT* result);
  HRESULT OnLowerToDownloaded(VARIANT param1, VARIANT param2, VARIANT* result);
  HRESULT OnGetGameInfo(VARIANT param1, VARIANT param2, VARIANT* result);
  HRESULT OnGetGameStatus(VARIANT param1, VARIANT param2, VARIANT* result);
  HRESULT OnStartGame(VARIANT param1, VARIANT param2, VARIANT* result);
  HRESULT OnSetStorePath(VARIANT param1, VARIANT param2, VARIANT* result);
  HRESULT OnOpenGamePath(VARIANT param1, VARIANT param2, VARIANT* result);
  HRESULT OnDeleteGame(VARIANT param1, VARIANT param2, VARIANT* result);

  zv::CommandMap<CPCGameLogic> commands_;
  mutable std::mutex gamesLock_;  // guards games_
  GameTable games_;
  std::wstring productFolder_;
  std::mutex statusLock_;  // guards pendingStatus_
  std::vector<std::wstring> pendingStatus_;
  mutable std::mutex storePathLock_;  // guards storePath_
  std::wstring storePath_;
};
