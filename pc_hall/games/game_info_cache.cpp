#include "game_info_cache.h"

#include "common/identity.h"
#include "common/locations.h"
#include "common/settings.h"
#include "common/text.h"
#include "containers/container_binding.h"
#include "engine_requests.h"
#include "game_hall.h"
#include "game_paths.h"
#include "game_state.h"

namespace ostrelle {
namespace {

}  // namespace

CGameInfoCache::CGameInfoCache() : productFolder_(zv::ProductFolder()) {}

CGameInfoCache& CGameInfoCache::Instance() {
  static CGameInfoCache* cache = new CGameInfoCache();  // outlives every engine callback
  return *cache;
}

void CGameInfoCache::SetOwner(GameHall* owner) {
  std::lock_guard<std::mutex> guard(ownerLock_);
  owner_ = owner;
}

void CGameInfoCache::ReleaseOwner(GameHall* owner) {
  std::lock_guard<std::mutex> guard(ownerLock_);
  if (owner_ == owner) owner_ = nullptr;
}

bool CGameInfoCache::GetGameInfo(const std::wstring& gameId, int hallId, zv::ComPtr<IQuiverItem>* info) {
  if (Find(gameId, info)) return true;
  AddFromFile(gameId, GameXmlPath(productFolder_, gameId));
  if (Find(gameId, info)) return true;
  RequestInfoFile(gameId, hallId);
  return false;
}

bool CGameInfoCache::Find(const std::wstring& gameId, zv::ComPtr<IQuiverItem>* info) {
  std::lock_guard<std::mutex> guard(lock_);
  const auto found = info_.find(gameId);
  if (found == info_.end()) return false;
  *info = found->second;
  return true;
}

std::wstring CGameInfoCache::InfoUrl(const std::wstring& gameId, int hallId) {
  const wchar_t* folder = hallId == kPcHallId ? L"pcgame" : hallId == kEmulatorHallId ? L"emgame" : nullptr;
  if (!folder) return std::wstring();
  return zv::Format(L"%ls/%ls/js/%ls.xml", zv::LoadServerAddresses().staticContent.c_str(), folder,
                    zv::HashedIdPath(gameId).c_str());
}

void CGameInfoCache::RequestInfoFile(const std::wstring& gameId, int hallId) {
  const std::string url = zv::ToCodePage(InfoUrl(gameId, hallId));
  const std::wstring target = GameXmlPath(productFolder_, gameId);
  const std::string targetAnsi = zv::ToCodePage(target);
  zv::CreateFolderTree(zv::FolderOf(target));
  {
    std::lock_guard<std::mutex> guard(lock_);
    pending_.emplace(url, gameId);
  }
  const FileDownloadSetting setting = {url.c_str(), 2, 1, 0, targetAnsi.c_str()};
  RequestDownload(this, setting);
}

zv::ComPtr<IQuiverItem> CGameInfoCache::LoadInfoFile(const std::wstring& path) {
  zv::ComPtr<IQuiverItem> item = zv::NewContainer();
  if (!item || FAILED(item->SetSerializeMode(zv::kSerializeXml)) ||
      FAILED(item->SetLoadOption(zv::kLoadOptionAttributeRecords, TRUE))) {
    return nullptr;
  }
  FILE* stream = _wfopen(path.c_str(), L"rb");
  if (!stream) return nullptr;
  const DWORD error = zv::LoadFile(item.get(), stream);
  fclose(stream);
  if (error != 0) return nullptr;
  return item;
}

bool CGameInfoCache::AddFromFile(const std::wstring& gameId, const std::wstring& path) {
  zv::ComPtr<IQuiverItem> unused;
  if (Find(gameId, &unused)) return false;
  zv::ComPtr<IQuiverItem> item = LoadInfoFile(path);
  if (!item) return false;
  std::lock_guard<std::mutex> guard(lock_);
  return info_.emplace(gameId, item).second;
}

int CGameInfoCache::OnDownloadStatusChanged(const FileDownloadStatus* report) {
  if (!report || report->status != FileDownloadStatus::kFinished || !report->url) return 0;
  std::wstring gameId;
  {
    std::lock_guard<std::mutex> guard(lock_);
    const auto found = pending_.find(report->url);
    if (found == pending_.end()) return 0;
    gameId = found->second;
  }
  const std::wstring saved = report->savedPath ? zv::FromCodePage(report->savedPath) : std::wstring();
  if (!AddFromFile(gameId, saved)) return 0;
  std::lock_guard<std::mutex> guard(ownerLock_);
  if (owner_) owner_->OnGameConfigReady(gameId, report);
  return 0;
}

}  // namespace ostrelle
