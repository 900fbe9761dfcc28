// The PC hall's game commands and its services to the game items.
#include <windows.h>
#include <shellapi.h>

#include "common/hresult.h"
#include "common/locations.h"
#include "common/text.h"
#include "containers/container_binding.h"
#include "pc_hall/pc_game_logic.h"

namespace {

bool IsYesNoTrue(const VARIANT& value) { return value.vt == VT_BOOL && value.boolVal == VARIANT_TRUE; }

void AnswerYesNo(VARIANT* result, bool yes) {
  if (!result) return;
  ::VariantClear(result);
  result->vt = VT_I2;
  result->iVal = yes ? -1 : 0;
}

std::wstring TextOf(const VARIANT& value) {
  return value.bstrVal ? std::wstring(value.bstrVal, ::SysStringLen(value.bstrVal)) : std::wstring();
}

// Reads a property of a script object through IDispatch by name.
HRESULT ReadProperty(IDispatch* object, const wchar_t* name, VARTYPE type, VARIANT* value) {
  zv::UniqueVariant raw;
  RETURN_IF_FAILED(zv::GetProperty(object, name, raw.get()));
  return ::VariantChangeType(value, raw.get(), 0, type);
}

// The script object of "ONZORVANADDGAME": VT_DISPATCH, or VT_UNKNOWN that
// answers IDispatch.
HRESULT ScriptObjectOf(const VARIANT& param, zv::ComPtr<IDispatch>* object) {
  if (param.vt == VT_DISPATCH && param.pdispVal) {
    *object = zv::ComPtr<IDispatch>(param.pdispVal);
    return S_OK;
  }
  if (param.vt == VT_UNKNOWN && param.punkVal) {
    return param.punkVal->QueryInterface(IID_IDispatch, object->put_void());
  }
  return E_INVALIDARG;
}

}  // namespace

std::shared_ptr<ostrelle::CGameItem> CPCGameLogic::FindGame(const std::wstring& gameId) const {
  std::lock_guard<std::mutex> guard(gamesLock_);
  const auto found = games_.find(gameId);
  return found == games_.end() ? nullptr : std::dynamic_pointer_cast<ostrelle::CGameItem>(found->second);
}

template <typename Action>
HRESULT CPCGameLogic::ForGame(const VARIANT& param1, VARIANT* result, Action&& action) {
  RETURN_HR_IF(E_INVALIDARG, param1.vt != VT_BSTR);
  const std::shared_ptr<ostrelle::CGameItem> game = FindGame(TextOf(param1));
  if (game) action(*game);
  AnswerYesNo(result, game != nullptr);
  return S_OK;
}

HRESULT CPCGameLogic::OnAddGame(VARIANT param1, VARIANT param2, VARIANT* result) {
  zv::ComPtr<IDispatch> object;
  RETURN_HR_IF(E_INVALIDARG, FAILED(ScriptObjectOf(param1, &object)));
  zv::UniqueVariant id;
  RETURN_HR_IF(E_INVALIDARG, FAILED(ReadProperty(object.get(), L"id", VT_BSTR, id.get())));
  const std::wstring gameId = TextOf(*id.get());
  RETURN_HR_IF(E_INVALIDARG, !ostrelle::IsGameId(gameId));
  zv::UniqueVariant hallIdValue;
  const int hallId = SUCCEEDED(ReadProperty(object.get(), L"hallid", VT_I4, hallIdValue.get())) ? hallIdValue->lVal : 0;
  const bool knownTarget = param2.vt == VT_I4 && param2.lVal >= ostrelle::kNoInfo && param2.lVal <= ostrelle::kRunning;
  const int target = knownTarget ? static_cast<int>(param2.lVal) : static_cast<int>(ostrelle::kInfoReady);

  auto game = std::make_shared<ostrelle::CGameItem>();
  {
    std::lock_guard<std::mutex> guard(gamesLock_);
    if (!games_.emplace(gameId, game).second) game.reset();
  }
  // In the table before it starts, so information arriving at once finds it.
  if (game) game->Init(this, gameId, hallId, target);
  AnswerYesNo(result, game != nullptr);
  return S_OK;
}

HRESULT CPCGameLogic::OnRaiseToInstalled(VARIANT param1, VARIANT, VARIANT* result) {
  return ForGame(param1, result, [](ostrelle::CGameItem& game) { game.RaiseTarget(ostrelle::kInstalled); });
}

HRESULT CPCGameLogic::OnPauseDownload(VARIANT param1, VARIANT, VARIANT* result) {
  return ForGame(param1, result, [](ostrelle::CGameItem& game) { game.PauseDownload(); });
}

HRESULT CPCGameLogic::OnLowerToInfoReady(VARIANT param1, VARIANT, VARIANT* result) {
  return ForGame(param1, result, [](ostrelle::CGameItem& game) { game.LowerTarget(ostrelle::kInfoReady); });
}

HRESULT CPCGameLogic::OnLowerToDownloaded(VARIANT param1, VARIANT, VARIANT* result) {
  return ForGame(param1, result, [](ostrelle::CGameItem& game) { game.LowerTarget(ostrelle::kDownloaded); });
}

HRESULT CPCGameLogic::OnGetGameInfo(VARIANT param1, VARIANT, VARIANT* result) {
  RETURN_HR_IF(E_INVALIDARG, param1.vt != VT_BSTR || result == nullptr);
  ::VariantClear(result);
  const std::shared_ptr<ostrelle::CGameItem> game = FindGame(TextOf(param1));
  if (game) return game->GetInfoObject(result);
  *result = zv::ToScriptObject(zv::NewContainer().get()).release();
  return S_OK;
}

HRESULT CPCGameLogic::OnGetGameStatus(VARIANT param1, VARIANT, VARIANT* result) {
  RETURN_HR_IF(E_INVALIDARG, param1.vt != VT_BSTR || result == nullptr);
  ::VariantClear(result);
  const std::shared_ptr<ostrelle::CGameItem> game = FindGame(TextOf(param1));
  if (!game) return S_FALSE;
  return game->GetStatusObject(result);
}

HRESULT CPCGameLogic::OnStartGame(VARIANT param1, VARIANT, VARIANT* result) {
  RETURN_HR_IF(E_INVALIDARG, param1.vt != VT_BSTR);
  const std::shared_ptr<ostrelle::CGameItem> game = FindGame(GameIdOfCommandLine(TextOf(param1)));
  if (game) game->Launch();
  AnswerYesNo(result, game != nullptr);
  return S_OK;
}

HRESULT CPCGameLogic::OnSetStorePath(VARIANT param1, VARIANT, VARIANT*) {
  RETURN_HR_IF(E_INVALIDARG, param1.vt != VT_BSTR);
  const std::wstring folder = TextOf(param1);
  // The folder with the backslash added for its creation, and the
  // terminator, must fit a path buffer.
  const bool endsWithBackslash = !folder.empty() && folder.back() == L'\\';
  RETURN_HR_IF(E_INVALIDARG, folder.size() + (endsWithBackslash ? 0 : 1) >= MAX_PATH);
  {
    std::lock_guard<std::mutex> guard(storePathLock_);
    storePath_ = folder;
  }
  if (!folder.empty()) zv::CreateFolderTree(folder);
  return S_OK;
}

HRESULT CPCGameLogic::OnOpenGamePath(VARIANT param1, VARIANT, VARIANT* result) {
  return ForGame(param1, result, [](ostrelle::CGameItem& game) { game.OpenLocation(); });
}

HRESULT CPCGameLogic::OnDeleteGame(VARIANT param1, VARIANT param2, VARIANT*) {
  RETURN_HR_IF(E_INVALIDARG, param1.vt != VT_BSTR);
  std::shared_ptr<ostrelle::CGameItem> game = FindGame(TextOf(param1));
  if (!game) return S_OK;
  {
    std::lock_guard<std::mutex> guard(gamesLock_);
    games_.erase(game->gameId());
  }
  if (IsYesNoTrue(param2)) game->DeleteDownloads();
  CloseGame(std::move(game));
  return S_OK;
}

void CPCGameLogic::CloseGame(std::shared_ptr<ostrelle::CGameItem> game) {
  // An item the engine still reports to must stay alive, whatever it costs.
  static auto* unfinished = new std::vector<std::shared_ptr<ostrelle::CGameItem>>();
  if (!game->Close()) unfinished->push_back(std::move(game));
}

std::wstring CPCGameLogic::StorePath() const {
  std::lock_guard<std::mutex> guard(storePathLock_);
  return storePath_;
}

void CPCGameLogic::PostStatusChanged(const std::wstring& gameId) {
  // Reports queue up behind one status message: a host adding a thousand
  // games at start-up then costs one posted message, not a thousand.
  bool first = false;
  {
    std::lock_guard<std::mutex> guard(statusLock_);
    first = pendingStatus_.empty();
    pendingStatus_.push_back(gameId);
  }
  if (first && !::PostMessageW(WindowHandle(), kGameStatusMessage, 0, 0)) {
    std::lock_guard<std::mutex> guard(statusLock_);
    pendingStatus_.clear();  // no window to carry them: later reports must post again
  }
}

void CPCGameLogic::PostHallStep(const std::wstring& gameId) { PostGameMessage(ostrelle::kHallStepMessage, gameId); }

void CPCGameLogic::PostGameMessage(UINT message, const std::wstring& gameId) {
  WPARAM digits = 0;
  LPARAM value = 0;
  ostrelle::PackGameId(gameId, &digits, &value);
  ::PostMessageW(WindowHandle(), message, digits, value);
}

bool CPCGameLogic::OnHallThread() const {
  return ::GetWindowThreadProcessId(WindowHandle(), nullptr) == ::GetCurrentThreadId();
}

HRESULT CPCGameLogic::FireNotify(const wchar_t* event, const VARIANT& param1, const VARIANT& param2) {
  return Fire_Notify(event, param1, param2);
}

void CPCGameLogic::OnGameConfigReady(const std::wstring& gameId, const FileDownloadStatus*) {
  const std::shared_ptr<ostrelle::CGameItem> game = FindGame(gameId);
  if (game) game->OnGameConfigReady();
}

std::wstring CPCGameLogic::GameIdOfCommandLine(const std::wstring& commandLine) {
  // An empty command line would stand for this program's own.
  if (commandLine.empty()) return std::wstring();
  int count = 0;
  zv::UniqueLocal arguments(reinterpret_cast<HLOCAL>(::CommandLineToArgvW(commandLine.c_str(), &count)));
  if (!arguments) return std::wstring();
  LPWSTR* argv = static_cast<LPWSTR*>(arguments.get());
  for (int i = 0; i + 1 < count; ++i) {
    if (::CompareStringOrdinal(argv[i], -1, L"-gameid", -1, TRUE) == CSTR_EQUAL) return argv[i + 1];
  }
  return std::wstring();
}
