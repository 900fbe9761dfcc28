// CEmulatorMgr: the process's one emulator manager. It makes sure that the
// emulator a game's information names is unpacked under the store path,
// downloads its archive once when it is missing, and tells every game waiting
// for it, once, when it is ready.
//
// Threading: EnsureEmulator, the path getters and RemoveListener run on the
// thread that drives a game; OnDownloadStatusChanged runs on the download
// engine's threads and calls the listeners there. One lock guards the table;
// it is never held while a listener runs, so a listener may call back into
// the manager. Listeners are not owned: once RemoveListener has returned, the
// listener is never called again (a call running on another thread is waited
// for).
#pragma once

#include <windows.h>

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "containers/quiver_interfaces.h"
#include "emulator/emulator_event.h"
#include "emulator/emulator_paths.h"
#include "frame/download/file_download.h"

class CPCGameLogic;

namespace zv {

// The emulator entries under "game<id>@" of a game's information; empty
// fields for a null information or missing entries.
EmulatorEntries ReadEmulatorEntries(const std::wstring& gameId, IQuiverItem* information);

class CEmulatorMgr final : public FileDownloadEvent {
 public:
  // EnsureEmulator's answers.
  static constexpr int kNoEmulator = 0;   // the information names no emulator
  static constexpr int kDownloading = 1;  // OnEmulatorReady follows once it is unpacked
  static constexpr int kReady = 3;        // the emulator is present

  // Constructed on first use, destroyed when the module is unloaded.
  static CEmulatorMgr& Instance();

  // The hall whose store path the manager uses; not owned. The hall sets it
  // at start-up and clears it (null) before it goes away.
  void SetHall(CPCGameLogic* hall);
  // The hall is going away: forget it, unless a newer hall took over.
  void ReleaseHall(CPCGameLogic* hall);

  // kNoEmulator also when no hall is set. A listener is stored once however
  // often it asks, and hears of each readiness once: either from the answer
  // kReady or from OnEmulatorReady, never both.
  int EnsureEmulator(const std::wstring& gameId, IQuiverItem* information, EmulatorEvent* listener);
  // "<store>\Emu\<name>\<start file>"; empty when either is missing.
  std::wstring GetEmulatorProgram(const std::wstring& gameId, IQuiverItem* information);
  // "<store>\Emu\<name>\roms"; empty when the name is missing.
  std::wstring GetRomFolder(const std::wstring& gameId, IQuiverItem* information);
  void RemoveListener(const std::wstring& gameId, IQuiverItem* information, EmulatorEvent* listener);

  int OnDownloadStatusChanged(const FileDownloadStatus* status) override;

 private:
  struct Record {
    std::wstring url;
    std::wstring storePath;  // where the archive was asked for and is unpacked
    int32_t state = kDownloading;
    bool downloadRunning = false;
    std::vector<EmulatorEvent*> listeners;  // in the order they asked
    std::vector<EmulatorEvent*> untold;     // still to be told of this readiness
  };
  struct RunningCall {
    EmulatorEvent* listener;
    DWORD threadId;
  };

  CEmulatorMgr() = default;
  ~CEmulatorMgr() override = default;

  std::wstring StorePathLocked() const;
  // Unpacks an archive left by an earlier run; kReady when that worked.
  static int32_t StateFromDisk(const std::wstring& storePath, const EmulatorEntries& entries);
  // Asks the engine for the record's archive; on refusal the record may ask again.
  void RequestArchiveLocked(const std::wstring& name, Record& record);
  void FinishArchive(const std::wstring& name, const std::string& savedPath);
  void TellListeners(Record& record);
  bool WillBeToldLocked(const Record& record, EmulatorEvent* listener) const;
  bool IsRunningElsewhereLocked(EmulatorEvent* listener) const;

  mutable std::mutex mutex_;  // guards everything below
  std::condition_variable callEnded_;
  CPCGameLogic* hall_ = nullptr;
  std::map<std::wstring, Record> records_;
  std::vector<RunningCall> runningCalls_;
};

}  // namespace zv
