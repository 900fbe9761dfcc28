// CGameItem: one game of the PC hall, carried from a bare id to an installed
// game and back by a small state machine that walks one state at a time
// towards a target state. Commands only move the target; each step is done at
// once or started and finished later by a callback.
//
// Ownership: the hall's game table owns the item (shared, so a lookup on an
// engine thread keeps it alive while it is used); the hall calls Close on its
// own thread before it drops the item.
//
// Threading: commands, Init, FireStatusChanged and ContinueOnHallThread run on
// the hall's thread; OnDownloadStatusChanged and OnGameConfigReady may run on
// a download engine thread. One lock per item serialises them. Notify events
// and download cancellations are queued while the lock is held and run once
// the outermost holder lets it go, so no sink and no engine call ever runs
// under the lock. Steps that create the setup object or start a process are
// handed to the hall's thread through the hall window.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/handles.h"
#include "containers/quiver_interfaces.h"
#include "emulator/emulator_event.h"
#include "emulator/game_launch.h"
#include "frame/download/file_download.h"
#include "setup/game_setup.h"
#include "game_config.h"
#include "game_info.h"
#include "game_state.h"
#include "game_table_item.h"

namespace ostrelle {

class GameHall;

class CGameItem final : public FileDownloadEvent,
                        public zv::GameSetupEvent,
                        public zv::EmulatorEvent,
                        public GameTableItem {
 public:
  CGameItem();
  ~CGameItem() override;
  CGameItem(const CGameItem&) = delete;
  CGameItem& operator=(const CGameItem&) = delete;

  // Stores the hall (not owned), the id, the hall id and the target, then
  // rebuilds the state from config.ini, the information and the files.
  void Init(GameHall* hall, const std::wstring& gameId, int hallId, int target);

  // Target changes requested by commands.
  void RaiseTarget(int target);
  void LowerTarget(int target);
  void PauseDownload();
  // Starts the game, or arranges that it starts once installed. True when it
  // runs, was started or will start.
  bool Launch();
  // Shows the game's start program (an emulator game's package) in Explorer.
  void OpenLocation();
  // Removes the game's download folder, its folder in the product folder and,
  // for an installed PC game, its install folder.
  void DeleteDownloads();

  // The information arrived or was found: apply it, restore the state and
  // fire "GameConfigDownloadOk". Any thread.
  void OnGameConfigReady();

  // Fires "GameStatusChanged"; the hall calls it for its status message.
  void FireStatusChanged() override;
  // Carries on a transition that an engine thread handed over.
  void ContinueOnHallThread();

  // The answers of "GETGAMESTATUS" and "GETGAMEINFO".
  HRESULT GetStatusObject(VARIANT* result);
  HRESULT GetInfoObject(VARIANT* result);

  // Stops everything the item started: cancels its downloads and waits until
  // the engine has finished reporting to it (answering sent messages
  // meanwhile). Nothing is written and no event is fired. Hall thread. False
  // when the engine did not finish in time: the item must then be kept alive.
  bool Close();

  int OnDownloadStatusChanged(const FileDownloadStatus* report) override;

  // The setup object's reports, on the hall's thread.
  void OnSetupResult(const wchar_t* gameId, int status, const wchar_t* folder) override;
  void OnSetupProgress(const wchar_t* gameId, int percent) override;
  std::wstring GetPartFileName(const std::wstring& partName) override;

  // The emulator manager: this game's emulator has been unpacked. Any thread.
  void OnEmulatorReady() override;

  const std::wstring& gameId() const { return gameId_; }

 private:
  class Scope;

  void SetState(int state);
  void Advance();
  void Regress();
  void Restore();
  void ApplyGameInfo(const zv::ComPtr<IQuiverItem>& info);
  void ComputePaths();
  // Hands the first part to the setup object; true when there is nothing
  // to install.
  bool BeginSetup();
  void BeginUninstall();
  // The size a setup's progress is measured against: the bytes downloaded
  // since the item was created, or the part files' sizes after a restart.
  unsigned long long ExpectedSetupSize() const;
  // Emulator games: asks the emulator manager for the game's emulator and
  // carries on at once when it is present.
  void EnsureEmulator();
  // Restore's view of an emulator game whose emulator program exists:
  // Installed when the emulator is ready and the package was copied.
  int RestoreEmulator();
  // Emulator games: the emulator's program and the package's arguments.
  void ApplyEmulator();
  // Emulator games: copies the package into the emulator's ROM folder; false
  // when there is nothing to copy.
  bool CopyPackage();
  std::wstring PackageName() const;
  bool EnsureSetupObject();
  bool StartDownload();
  void CancelDownload();

  void BuildPartsIfEmpty();
  bool AllPartFilesPresent() const;
  bool AllLocalFilesPresent() const;
  bool AnyPartWanted() const;
  bool IdleForClose();
  // Stops wanting every part and queues the cancellation of those running.
  void DropPartRequests();
  DownloadPart* FindPart(const char* url, size_t* index);

  void SetDownloading(bool downloading);
  void PostStatus();
  // True when the caller may run a hall-thread step now; otherwise the step
  // has been handed to the hall's thread.
  bool OnHallThreadOrHandOff();

  void CountFinalReport(const char* url);
  void OnProgress(const FileDownloadStatus& report, DownloadPart* part, size_t index);
  void OnPartFinished(const FileDownloadStatus& report);
  void OnPartStopped(const FileDownloadStatus& report);

  zv::UniqueVariant NewProgressObject(const FileDownloadStatus& report, size_t partIndex,
                                      const std::wstring& file);
  zv::UniqueVariant NewStatusObject();

  // Queued to run once the item's lock is let go.
  void QueueNotify(const wchar_t* event, zv::UniqueVariant param1, zv::UniqueVariant param2);
  void QueueCancel(const std::string& url);

  void WriteConfig(const wchar_t* key, const std::wstring& value);
  void WriteState(const wchar_t* section, const wchar_t* key, int value);

  std::recursive_mutex lock_;
  int lockDepth_ = 0;
  std::vector<std::function<void()>> queued_;

  GameHall* hall_ = nullptr;
  std::wstring gameId_;
  int hallId_ = kPcHallId;
  std::wstring gameName_;
  zv::ComPtr<IQuiverItem> info_;
  int state_ = kNotStarted;
  int target_ = kInfoReady;
  int restoreDepth_ = 0;

  std::vector<DownloadPart> parts_;
  int clientCount_ = 0;
  int patchCount_ = 0;
  unsigned long long downloadedBytes_ = 0;
  int outstandingReports_ = 0;  // accepted downloads still owing their final report
  std::atomic<int> activeCallbacks_{0};

  std::unique_ptr<zv::CGameSetup> setup_;
  zv::GameProcess process_;

  std::wstring configPath_;
  GameConfig config_;
  std::wstring detailPath_;
  std::wstring setupPath_;
  std::wstring startupPath_;
  std::wstring startFile_;
  std::wstring commandLine_;

  bool downloading_ = false;
  bool setupRunning_ = false;
  int downloadProgress_ = 0;
  bool closing_ = false;
  bool emulatorListener_ = false;  // registered with the emulator manager
  bool initializing_ = false;      // Init is restoring the game
};

}  // namespace ostrelle
