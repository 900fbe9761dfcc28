// CGameSetup installs and removes one PC game for its game item: it runs the
// downloaded setup program silently, estimates progress from the files written
// below the store's Games folder, imports the game's registry script, and
// clears installed files on uninstall or cancel.
//
// Threading: every operation is called on the thread that called Create (the
// owning thread), which must pump messages. Each setup run has a worker thread
// and a folder watcher thread; they reach the owning thread only by
// SendMessageW to the object's message-only window, so every GameSetupEvent
// call arrives on the owning thread. Shutdown cancels the runs and waits for
// their workers while still answering their sent messages; after it no worker
// or watcher touches the object.
#pragma once

#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "common/handles.h"
#include "setup/folder_walk.h"

namespace zv {

// Outcomes reported through GameSetupEvent::OnSetupResult.
enum SetupStatus : int {
  kSetupSucceeded = 0,
  kSetupFailed = 1,
  kUninstallSucceeded = 2,
  kUninstallFailed = 3,
};

// Implemented by the game item; called on the setup object's owning thread.
class GameSetupEvent {
 public:
  // folder: the store's Games folder for kSetupSucceeded and kSetupFailed,
  // null for the uninstall outcomes.
  virtual void OnSetupResult(const wchar_t* gameId, int status, const wchar_t* folder) = 0;
  virtual void OnSetupProgress(const wchar_t* gameId, int percent) = 0;
  // The file name of the download part called partName ("123_1"), or empty.
  virtual std::wstring GetPartFileName(const std::wstring& partName) { return std::wstring(); }

 protected:
  ~GameSetupEvent() = default;
};

struct SetupRequest {
  const wchar_t* gameId;
  const wchar_t* setupProgram;
  const wchar_t* installFolder;  // "<store>\Games\<name>\<name>\": three levels below the store
  unsigned long long expectedSize;
};

struct UninstallRequest {
  const wchar_t* gameId;
  const wchar_t* gameFolder;  // "<store>\Games\<name>\<name>\"
  const wchar_t* gameName;
};

class CGameSetup {
 public:
  // Live setup runs one object keeps at a time.
  static constexpr size_t kMaxWorkers = 256;
  static constexpr UINT kProgressTimerId = 1;
  static constexpr UINT kProgressPeriodMs = 1000;

  CGameSetup() = default;
  ~CGameSetup();
  CGameSetup(const CGameSetup&) = delete;
  CGameSetup& operator=(const CGameSetup&) = delete;

  // Stores the sink (not owned), creates the window on the calling thread
  // and the cancel event. Once, before anything else.
  HRESULT Create(GameSetupEvent* sink);
  // Starts a worker for the request and returns at once; E_FAIL for a
  // missing string or when kMaxWorkers runs are still going.
  HRESULT StartSetup(const SetupRequest& request);
  // Imports the uninstall script and clears the game's folder on the calling
  // thread, reporting kUninstallSucceeded or kUninstallFailed before it
  // returns. E_FAIL without a report when the folder does not belong to the
  // game.
  HRESULT Uninstall(const UninstallRequest& request);
  // Kills the running setup program (its run then reports kSetupFailed) and,
  // unless keepFiles, deletes the files of the install folder's tree except
  // the download parts; the folders stay.
  HRESULT Terminate(BOOL keepFiles);
  // Cancels every run and waits for its worker, answering the workers' sent
  // messages meanwhile; reports still arriving are dropped. Then closes the
  // cancel event. The object may be deleted afterwards.
  HRESULT Shutdown();

  // The walks with this object's game id for the keep-parts test: the files
  // of the parts "<id>_<n>" and "<id>_p<n>" for n from 0 to 99.
  bool DeleteTree(const std::wstring& path, bool keepParts);
  bool ClearGameFolder(const std::wstring& path, const std::wstring& gameId, const std::wstring& gameName);

  HWND window() const { return window_.get(); }

  // Percent of expected reached by observed: 0 to 99, 0 for no expected size.
  static int ProgressPercent(unsigned long long observed, unsigned long long expected);
  // "<store>\Games" from "<store>\Games\<id>\<id>\"; empty when too short.
  static std::wstring GamesFolderOf(const std::wstring& installFolder);

 private:
  struct SetupRun;

  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  static DWORD WINAPI WorkerEntry(void* parameter);
  bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void Report(const wchar_t* gameId, int status, const wchar_t* folder);

  void RunSetup(const SetupRun& run);
  bool RunSetupProgram(const SetupRun& run, const std::wstring& gamesFolder);
  void WatchFolder(HANDLE folder, const std::wstring& gamesFolder, HANDLE stopEvent);
  void PublishProcess(HANDLE process);
  KeptFileNames PartFileNames(const std::wstring& gameId) const;
  void PruneFinishedWorkers();

  std::vector<UniqueHandle> workers_;
  std::wstring gameId_;
  std::wstring setupProgram_;
  std::wstring installFolder_;
  unsigned long long expectedSize_ = 0;
  std::atomic<unsigned long long> observedSize_{0};
  UniqueHandle cancelEvent_;
  std::mutex processLock_;
  HANDLE setupProcess_ = nullptr;  // the last run's program while it runs; guarded by processLock_
  GameSetupEvent* sink_ = nullptr;
  UniqueWindow window_;
  bool shuttingDown_ = false;
};

}  // namespace zv
