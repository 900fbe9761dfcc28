// CGameInfoCache: the process-wide store of game information files. Each
// game's game.xml is fetched once from the static content server into
// "<product folder>\<id>\game.xml", loaded into a data container and kept for
// the rest of the process.
//
// Threading: GetGameInfo runs on whichever thread drives a game, and the
// download engine reports on its own threads, so both maps are guarded by
// one lock; the owner is guarded by a second lock that is held while the
// owner is told, so the hall can clear it safely before it goes away.
#pragma once

#include <windows.h>

#include <map>
#include <mutex>
#include <string>

#include "common/handles.h"
#include "containers/quiver_interfaces.h"
#include "frame/download/file_download.h"

namespace ostrelle {

class GameHall;

class CGameInfoCache final : public FileDownloadEvent {
 public:
  // The cache, created on first use and kept until the DLL is unloaded.
  static CGameInfoCache& Instance();

  // The hall told about arriving files; null to stop telling it.
  void SetOwner(GameHall* owner);
  // The hall is going away: stop telling it, unless a newer hall took over.
  void ReleaseOwner(GameHall* owner);

  // True with info set to the game's information when it is loaded or its
  // file on disk loads. False after requesting the file: the owner's
  // OnGameConfigReady follows when it has arrived and loaded.
  bool GetGameInfo(const std::wstring& gameId, int hallId, zv::ComPtr<IQuiverItem>* info);

  int OnDownloadStatusChanged(const FileDownloadStatus* report) override;

  // "<static content>/pcgame/js/<hashed id path>.xml" for hall 1000001,
  // ".../emgame/js/..." for hall 1000006, empty for any other hall.
  static std::wstring InfoUrl(const std::wstring& gameId, int hallId);

  // Loads a game information file into a new container (serialization mode
  // 1, load option 8192); null when the file is missing, empty or does not
  // load.
  static zv::ComPtr<IQuiverItem> LoadInfoFile(const std::wstring& path);

 private:
  CGameInfoCache();

  void RequestInfoFile(const std::wstring& gameId, int hallId);
  // Loads the file for the game unless its information is already known.
  // True only when this call added the game's information.
  bool AddFromFile(const std::wstring& gameId, const std::wstring& path);
  bool Find(const std::wstring& gameId, zv::ComPtr<IQuiverItem>* info);

  // Asking the shell for it costs a few registry reads; it does not change
  // while the process runs.
  const std::wstring productFolder_;

  std::mutex lock_;
  std::map<std::string, std::wstring> pending_;               // URL -> game id
  std::map<std::wstring, zv::ComPtr<IQuiverItem>> info_;      // game id -> information

  std::mutex ownerLock_;
  GameHall* owner_ = nullptr;
};

}  // namespace ostrelle
