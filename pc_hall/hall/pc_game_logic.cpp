#include "pc_hall/pc_game_logic.h"

#include <cwchar>
#include <set>

#include "common/hresult.h"
#include "common/locations.h"
#include "containers/container_binding.h"
#include "emulator/emulator_mgr.h"
#include "game_info_cache.h"

namespace {

constexpr wchar_t kHallWindowClass[] = L"OstrelleHallWindow";

// Longer than any decimal id of a signed 32-bit value with leading zeros the
// host could mean; larger counts are refused instead of formatted.
constexpr WPARAM kMaxGameIdDigits = 32;

}  // namespace

COstrelleModule& COstrelleModule::Instance() {
  static COstrelleModule module;
  return module;
}

std::wstring CPCGameLogic::GameIdFromStatusMessage(WPARAM digits, LPARAM value) {
  if (digits > kMaxGameIdDigits) return {};
  wchar_t format[16];
  std::swprintf(format, sizeof(format) / sizeof(format[0]), L"%%.%dd", static_cast<int>(digits));
  wchar_t id[kMaxGameIdDigits + 16];
  if (std::swprintf(id, sizeof(id) / sizeof(id[0]), format, static_cast<int>(value)) < 0) return {};
  return id;
}

HRESULT CPCGameLogic::InternalQueryInterface(REFIID iid, void** out) {
  static const zv::InterfaceEntry kInterfaces[] = {
      {&IID_IPCGameLogic, &zv::CastTo<CPCGameLogic, IPCGameLogic>},
      {&IID_IDispatch, &zv::CastTo<CPCGameLogic, IPCGameLogic>},
      {&IID_IProvideClassInfo, &zv::CastTo<CPCGameLogic, IProvideClassInfo2>},
      {&IID_IProvideClassInfo2, &zv::CastTo<CPCGameLogic, IProvideClassInfo2>},
      {&IID_IConnectionPointContainer, &zv::CastTo<CPCGameLogic, IConnectionPointContainer>},
  };
  return zv::QueryInterfaceTable(this, kInterfaces, iid, out);
}

HRESULT CPCGameLogic::FinalConstruct() {
  RETURN_IF_FAILED(CreateMessageWindow(Module(), kHallWindowClass, L""));
  ostrelle::CGameInfoCache::Instance().SetOwner(this);
  commands_.Clear();
  RETURN_IF_FAILED(InitCommandMap());
  zv::LoadQuiver();
  productFolder_ = zv::ProductFolder();
  storePath_ = zv::ResolveStorePath();
  zv::CEmulatorMgr::Instance().SetHall(this);
  return S_OK;
}

void CPCGameLogic::FinalRelease() {
  ostrelle::CGameInfoCache::Instance().ReleaseOwner(this);
  GameTable games;
  {
    std::lock_guard<std::mutex> guard(gamesLock_);
    games.swap(games_);
  }
  for (auto& entry : games) {
    if (auto game = std::dynamic_pointer_cast<ostrelle::CGameItem>(entry.second)) CloseGame(std::move(game));
  }
  games.clear();
  zv::CEmulatorMgr::Instance().ReleaseHall(this);
  DestroyMessageWindow();
}

HRESULT CPCGameLogic::InitCommandMap() {
  static const zv::CommandMap<CPCGameLogic>::Entry kCommands[] = {
      {L"INIT", &CPCGameLogic::OnInit},
      {L"ONZORVANADDGAME", &CPCGameLogic::OnAddGame},
      {L"CREATEDOWNLOADGAME", &CPCGameLogic::OnRaiseToInstalled},
      {L"CONTINUEDOWNLOADGAME", &CPCGameLogic::OnRaiseToInstalled},
      {L"SETUPGAME", &CPCGameLogic::OnRaiseToInstalled},
      {L"PAUSEDOWNLOADGAME", &CPCGameLogic::OnPauseDownload},
      {L"DELETEDOWNLOADGAME", &CPCGameLogic::OnLowerToInfoReady},
      {L"CANCELSETUPGAME", &CPCGameLogic::OnLowerToDownloaded},
      {L"UNINSTALLGAME", &CPCGameLogic::OnLowerToDownloaded},
      {L"UNINSTALLGAMETODOWNLOADEDSTATE", &CPCGameLogic::OnLowerToDownloaded},
      {L"GETGAMEINFO", &CPCGameLogic::OnGetGameInfo},
      {L"GETGAMESTATUS", &CPCGameLogic::OnGetGameStatus},
      {L"STARTGAME", &CPCGameLogic::OnStartGame},
      {L"SETSTOREPATH", &CPCGameLogic::OnSetStorePath},
      {L"OPENGAMEPATH", &CPCGameLogic::OnOpenGamePath},
      {L"DELETEGAME", &CPCGameLogic::OnDeleteGame},
  };
  return commands_.AddAll(kCommands);
}

STDMETHODIMP CPCGameLogic::call(BSTR method, VARIANT param1, VARIANT param2, VARIANT* result) {
  return zv::GuardBoundary([&] { return Dispatch(method, param1, param2, result); });
}

STDMETHODIMP CPCGameLogic::callfrom(BSTR method, BSTR, VARIANT param1, VARIANT param2, VARIANT* result) {
  return zv::GuardBoundary([&] { return Dispatch(method, param1, param2, result); });
}

HRESULT CPCGameLogic::Dispatch(BSTR method, VARIANT param1, VARIANT param2, VARIANT* result) {
  RETURN_HR_IF(E_INVALIDARG, method == nullptr);
  zv::UniqueBstr key;
  RETURN_IF_FAILED(zv::UpperCaseCopy(method, &key));
  const Handler* handler = commands_.Find(key.get());
  if (handler == nullptr) return S_FALSE;
  return (this->**handler)(param1, param2, result);
}

bool CPCGameLogic::ProcessWindowMessage(HWND, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  if (message == kGameStatusMessage) {
    OnGameStatusMessage(wParam, lParam);
  } else if (message == ostrelle::kHallStepMessage) {
    OnHallStepMessage(wParam, lParam);
  } else {
    return false;
  }
  result = 0;
  return true;
}

void CPCGameLogic::OnGameStatusMessage(WPARAM digits, LPARAM value) {
  if (digits == 0 && value == 0) {
    FirePendingStatus();
  } else {
    FireStatusOf(GameIdFromStatusMessage(digits, value));
  }
}

void CPCGameLogic::FireStatusOf(const std::wstring& gameId) {
  std::shared_ptr<GameTableItem> game;
  {
    std::lock_guard<std::mutex> guard(gamesLock_);
    const auto found = games_.find(gameId);
    if (found != games_.end()) game = found->second;
  }
  if (game) game->FireStatusChanged();
}

void CPCGameLogic::FirePendingStatus() {
  std::vector<std::wstring> pending;
  {
    std::lock_guard<std::mutex> guard(statusLock_);
    pending.swap(pendingStatus_);
  }
  // Each report tells the game's status as it is now, so one per game says
  // all that several would.
  std::set<std::wstring> told;
  for (const std::wstring& gameId : pending) {
    if (told.insert(gameId).second) FireStatusOf(gameId);
  }
}

void CPCGameLogic::OnHallStepMessage(WPARAM digits, LPARAM value) {
  if (auto game = FindGame(GameIdFromStatusMessage(digits, value))) game->ContinueOnHallThread();
}

HRESULT CPCGameLogic::OnInit(VARIANT, VARIANT, VARIANT*) { return S_OK; }
