#include "emulator/emulator_mgr.h"

#include <algorithm>

#include "common/hresult.h"
#include "common/locations.h"
#include "common/text.h"
#include "common/trace.h"
#include "containers/container_binding.h"
#include "emulator/mini_unzip.h"
#include "pc_hall/pc_game_logic.h"

namespace zv {

namespace {

// One folder or file name: nothing that could climb out of the folder it is
// placed in.
bool IsPlainName(const std::wstring& name) {
  // Windows drops trailing dots and blanks, which also covers "." and "..".
  if (name.empty() || name.back() == L'.' || name.back() == L' ') return false;
  return std::none_of(name.begin(), name.end(), [](wchar_t c) {
    return c < L' ' || c == L'\\' || c == L'/' || c == L':' || c == L'*' || c == L'?' || c == L'"' ||
           c == L'<' || c == L'>' || c == L'|';
  });
}

// A path of plain names joined by backslashes or slashes.
bool IsRelativeBelow(const std::wstring& path) {
  size_t start = 0;
  for (;;) {
    const size_t end = path.find_first_of(L"\\/", start);
    if (!IsPlainName(path.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start))) return false;
    if (end == std::wstring::npos) return true;
    start = end + 1;
  }
}

// The thread's ANSI code page form, false when it does not carry the text
// unchanged (the narrow calls would then reach another file).
bool ToCodePageExact(const std::wstring& text, std::string* narrow) {
  *narrow = ToCodePage(text);
  return FromCodePage(*narrow) == text;
}

std::wstring LastComponent(const std::string& narrowPath) {
  const size_t separator = narrowPath.find_last_of("\\/");
  return FromCodePage(separator == std::string::npos ? narrowPath : narrowPath.substr(separator + 1));
}

// Unpacks an archive (ANSI path) into "<store>\Emu\".
bool UnpackArchive(const std::string& archive, const std::wstring& storePath) {
  const std::wstring folder = EmulatorUnpackFolder(storePath);
  std::string narrowFolder;
  if (!ToCodePageExact(folder, &narrowFolder)) return false;
  CreateFolderTree(folder);
  const int result = mini_unzip_dll(archive.c_str(), narrowFolder.c_str());
  if (result != kUnzipOk) Trace(L"CEmulatorMgr: unpacking %ls failed (%d)", FromCodePage(archive).c_str(), result);
  return result == kUnzipOk;
}

template <typename T>
void EraseValue(std::vector<T>& values, const T& value) {
  values.erase(std::remove(values.begin(), values.end(), value), values.end());
}

}  // namespace

EmulatorEntries ReadEmulatorEntries(const std::wstring& gameId, IQuiverItem* information) {
  EmulatorEntries entries;
  if (information == nullptr) return entries;
  const ComPtr<IQuiverItem> own = Get(information, "game" + ToCodePage(gameId) + "@");
  auto read = [&own](const char* key) { return GetString(Get(own.get(), key).get()); };
  entries.name = read("runFlat");
  entries.downloadUrl = read("downloadUrl");
  entries.startFile = read("emuStartFile");
  entries.packageName = read("pkgName");
  // The names become paths under the store path: one that could leave its
  // folder counts as missing.
  if (!IsPlainName(entries.name)) entries.name.clear();
  if (!IsRelativeBelow(entries.startFile)) entries.startFile.clear();
  if (!IsPlainName(entries.packageName)) entries.packageName.clear();
  return entries;
}

CEmulatorMgr& CEmulatorMgr::Instance() {
  static CEmulatorMgr* manager = new CEmulatorMgr();  // outlives every engine callback
  return *manager;
}

void CEmulatorMgr::SetHall(CPCGameLogic* hall) {
  std::lock_guard<std::mutex> lock(mutex_);
  hall_ = hall;
}

void CEmulatorMgr::ReleaseHall(CPCGameLogic* hall) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (hall_ == hall) hall_ = nullptr;
}

std::wstring CEmulatorMgr::StorePathLocked() const { return hall_ ? hall_->StorePath() : std::wstring(); }

int CEmulatorMgr::EnsureEmulator(const std::wstring& gameId, IQuiverItem* information, EmulatorEvent* listener) {
  const EmulatorEntries entries = ReadEmulatorEntries(gameId, information);
  if (entries.name.empty() || entries.downloadUrl.empty() || entries.packageName.empty()) return kNoEmulator;

  std::lock_guard<std::mutex> lock(mutex_);
  if (hall_ == nullptr) return kNoEmulator;
  auto found = records_.find(entries.name);
  if (found == records_.end()) {
    Record record;
    record.url = entries.downloadUrl;
    record.storePath = StorePathLocked();
    record.state = StateFromDisk(record.storePath, entries);
    found = records_.emplace(entries.name, std::move(record)).first;
  }
  Record& record = found->second;
  if (listener != nullptr && std::find(record.listeners.begin(), record.listeners.end(), listener) ==
                                 record.listeners.end()) {
    record.listeners.push_back(listener);
  }
  // Also asks again when an earlier download of the archive failed.
  if (record.state == kDownloading && !record.downloadRunning) RequestArchiveLocked(found->first, record);
  // A listener the manager is about to tell, or telling on another thread,
  // hears of the readiness from there only.
  if (record.state == kReady && WillBeToldLocked(record, listener)) return kDownloading;
  return record.state;
}

bool CEmulatorMgr::WillBeToldLocked(const Record& record, EmulatorEvent* listener) const {
  return std::find(record.untold.begin(), record.untold.end(), listener) != record.untold.end() ||
         IsRunningElsewhereLocked(listener);
}

int32_t CEmulatorMgr::StateFromDisk(const std::wstring& storePath, const EmulatorEntries& entries) {
  const std::wstring program = zv::GetEmulatorProgram(storePath, entries);
  if (!program.empty() && PathExists(program)) return kReady;
  const std::wstring archive = EmulatorArchivePath(storePath, entries.name);
  std::string narrowArchive;
  if (!PathExists(archive) || !ToCodePageExact(archive, &narrowArchive)) return kDownloading;
  // An archive that does not unpack is fetched afresh rather than taken as ready.
  return UnpackArchive(narrowArchive, storePath) ? kReady : kDownloading;
}

void CEmulatorMgr::RequestArchiveLocked(const std::wstring& name, Record& record) {
  const std::wstring archive = EmulatorArchivePath(record.storePath, name);
  std::string url;
  std::string savePath;
  if (!ToCodePageExact(record.url, &url) || !ToCodePageExact(archive, &savePath)) {
    Trace(L"CEmulatorMgr: %ls cannot be fetched to %ls in this code page", record.url.c_str(), archive.c_str());
    return;
  }
  CreateFolderTree(zv::FolderOf(archive));
  const FileDownloadSetting setting = {url.c_str(), 2, 1, 0, savePath.c_str()};
  // The engine never reports from inside DownloadFile, so the lock may stay held.
  record.downloadRunning = CFileDownloadManager::DownloadFile(this, &setting) == 0;
}

int CEmulatorMgr::OnDownloadStatusChanged(const FileDownloadStatus* status) {
  GuardBoundary([&] {
    if (status == nullptr || status->status == FileDownloadStatus::kProgress) return S_OK;
    const std::string savedPath = status->savedPath ? status->savedPath : "";
    const std::wstring name = LastComponent(savedPath);
    if (status->status == FileDownloadStatus::kFinished) {
      FinishArchive(name, savedPath);
      return S_OK;
    }
    // Failed or stopped: the record stays waiting, and the next game that
    // asks for the emulator asks for the archive again.
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = records_.find(name);
    if (found != records_.end()) found->second.downloadRunning = false;
    return S_OK;
  });
  return 0;
}

void CEmulatorMgr::FinishArchive(const std::wstring& name, const std::string& savedPath) {
  Record* record = nullptr;
  std::wstring storePath;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = records_.find(name);
    if (found == records_.end() || found->second.state == kReady) return;
    record = &found->second;  // records are never erased, so the address stays valid
    storePath = record->storePath;
  }
  const bool unpacked = UnpackArchive(savedPath, storePath);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    record->downloadRunning = false;
    if (!unpacked) return;
    record->state = kReady;
    record->untold = record->listeners;
  }
  TellListeners(*record);
}

void CEmulatorMgr::TellListeners(Record& record) {
  const DWORD threadId = ::GetCurrentThreadId();
  for (;;) {
    EmulatorEvent* listener = nullptr;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (record.untold.empty()) return;
      listener = record.untold.front();
      record.untold.erase(record.untold.begin());
      runningCalls_.push_back({listener, threadId});
    }
    GuardBoundary([listener] {
      listener->OnEmulatorReady();
      return S_OK;
    });
    {
      std::lock_guard<std::mutex> lock(mutex_);
      const auto call = std::find_if(runningCalls_.begin(), runningCalls_.end(), [&](const RunningCall& running) {
        return running.listener == listener && running.threadId == threadId;
      });
      if (call != runningCalls_.end()) runningCalls_.erase(call);
    }
    callEnded_.notify_all();
  }
}

bool CEmulatorMgr::IsRunningElsewhereLocked(EmulatorEvent* listener) const {
  const DWORD threadId = ::GetCurrentThreadId();
  return std::any_of(runningCalls_.begin(), runningCalls_.end(), [&](const RunningCall& running) {
    return running.listener == listener && running.threadId != threadId;
  });
}

std::wstring CEmulatorMgr::GetEmulatorProgram(const std::wstring& gameId, IQuiverItem* information) {
  const EmulatorEntries entries = ReadEmulatorEntries(gameId, information);
  std::lock_guard<std::mutex> lock(mutex_);
  if (hall_ == nullptr) return std::wstring();
  return zv::GetEmulatorProgram(StorePathLocked(), entries);
}

std::wstring CEmulatorMgr::GetRomFolder(const std::wstring& gameId, IQuiverItem* information) {
  const EmulatorEntries entries = ReadEmulatorEntries(gameId, information);
  std::lock_guard<std::mutex> lock(mutex_);
  if (hall_ == nullptr) return std::wstring();
  return zv::GetRomFolder(StorePathLocked(), entries);
}

void CEmulatorMgr::RemoveListener(const std::wstring& gameId, IQuiverItem* information, EmulatorEvent* listener) {
  if (listener == nullptr) return;
  const EmulatorEntries entries = ReadEmulatorEntries(gameId, information);
  if (entries.name.empty()) return;
  std::unique_lock<std::mutex> lock(mutex_);
  const auto found = records_.find(entries.name);
  if (found == records_.end()) return;
  EraseValue(found->second.listeners, listener);
  EraseValue(found->second.untold, listener);
  // A call already running on another thread finishes before the caller may
  // destroy the listener; a call on this thread is the caller's own frame.
  callEnded_.wait(lock, [&] { return !IsRunningElsewhereLocked(listener); });
}

}  // namespace zv
