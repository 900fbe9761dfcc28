#include "setup/game_setup.h"

#include <algorithm>
#include <cstddef>
#include <memory>
#include <thread>

#include "common/hresult.h"
#include "common/locations.h"
#include "common/text.h"
#include "setup/registry_script.h"
#include "setup/shell_run.h"

namespace zv {
namespace {

constexpr wchar_t kWindowClass[] = L"ZvGameSetupWindow";
constexpr UINT kSetupSucceededMessage = WM_USER + 1;
constexpr UINT kSetupFailedMessage = WM_USER + 2;
constexpr UINT kUninstallSucceededMessage = WM_USER + 3;
constexpr UINT kUninstallFailedMessage = WM_USER + 4;
constexpr UINT kTimerOnMessage = WM_USER + 5;
constexpr UINT kTimerOffMessage = WM_USER + 6;

constexpr DWORD kChangeBufferBytes = 10240;
constexpr DWORD kChangeFilter = 0x17F;
constexpr DWORD kChangeRetryMs = 300;
constexpr DWORD kTerminateWaitMs = 5000;
constexpr int kMaxPartNumber = 99;

std::wstring StripTrailingBackslashes(std::wstring path) {
  while (!path.empty() && path.back() == L'\\') path.pop_back();
  return path;
}

// Cuts path at its last backslash; false when there is none.
bool CutLastComponent(std::wstring* path) {
  const size_t slash = path->find_last_of(L'\\');
  if (slash == std::wstring::npos) return false;
  path->resize(slash);
  return true;
}

std::wstring LastComponent(const std::wstring& path) {
  const size_t slash = path.find_last_of(L'\\');
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

// A plain folder name: what the game folder is built from. Separators, drive
// colons and dot-only names could lead the uninstall walk elsewhere.
bool IsPlainFolderName(const std::wstring& name) {
  if (name.empty() || name.find_first_of(L"\\/:") != std::wstring::npos) return false;
  return name.find_first_not_of(L'.') != std::wstring::npos;
}

HRESULT RegisterWindowClass(WNDPROC procedure) {
  static const HRESULT registered = [procedure] {
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = CurrentModule();
    windowClass.lpszClassName = kWindowClass;
    if (::RegisterClassExW(&windowClass) || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS) return S_OK;
    return HResultFromLastError();
  }();
  return registered;
}

unsigned long long FileSize(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (path.empty() || !::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// Waits for handle while answering messages other threads send to this one,
// so a worker inside SendMessageW can finish.
void WaitAnsweringSentMessages(HANDLE handle) {
  for (;;) {
    const DWORD result = ::MsgWaitForMultipleObjects(1, &handle, FALSE, INFINITE, QS_SENDMESSAGE);
    if (result != WAIT_OBJECT_0 + 1) return;
    MSG message;
    ::PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
}

}  // namespace

struct CGameSetup::SetupRun {
  CGameSetup* owner;
  std::wstring gameId;
  std::wstring setupProgram;
  std::wstring installFolder;
};

CGameSetup::~CGameSetup() { Shutdown(); }

HRESULT CGameSetup::Create(GameSetupEvent* sink) {
  RETURN_HR_IF(E_UNEXPECTED, window_.valid());
  RETURN_IF_FAILED(RegisterWindowClass(&CGameSetup::WindowProc));
  // Manual reset: one signal at shutdown releases every run still waiting.
  cancelEvent_.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  RETURN_LAST_ERROR_IF(!cancelEvent_);
  window_.reset(::CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, CurrentModule(), this));
  RETURN_LAST_ERROR_IF(!window_);
  sink_ = sink;
  return S_OK;
}

HRESULT CGameSetup::StartSetup(const SetupRequest& request) {
  RETURN_HR_IF(E_FAIL, !request.gameId || !request.setupProgram || !request.installFolder);
  RETURN_HR_IF(E_FAIL, !window_ || shuttingDown_);
  PruneFinishedWorkers();
  RETURN_HR_IF(E_FAIL, workers_.size() >= kMaxWorkers);
  gameId_ = request.gameId;
  setupProgram_ = request.setupProgram;
  installFolder_ = request.installFolder;
  expectedSize_ = request.expectedSize;

  auto run = std::make_unique<SetupRun>(SetupRun{this, gameId_, setupProgram_, installFolder_});
  UniqueHandle worker(::CreateThread(nullptr, 0, &CGameSetup::WorkerEntry, run.get(), 0, nullptr));
  RETURN_LAST_ERROR_IF(!worker);
  run.release();
  workers_.push_back(std::move(worker));
  return S_OK;
}

DWORD WINAPI CGameSetup::WorkerEntry(void* parameter) {
  std::unique_ptr<SetupRun> run(static_cast<SetupRun*>(parameter));
  GuardBoundary([&run] {
    run->owner->RunSetup(*run);
    return S_OK;
  });
  return 0;
}

void CGameSetup::RunSetup(const SetupRun& run) {
  const std::wstring gamesFolder = GamesFolderOf(run.installFolder);
  const HWND window = window_.get();
  bool succeeded = false;
  if (!gamesFolder.empty() && SUCCEEDED(CreateFolderTree(gamesFolder + L"\\"))) {
    succeeded = RunSetupProgram(run, gamesFolder);
  }
  if (succeeded) {
    ImportRegistryScript(run.installFolder, RegistryScriptKind::kInstall, cancelEvent_.get());
  }
  ::SendMessageW(window, succeeded ? kSetupSucceededMessage : kSetupFailedMessage,
                 reinterpret_cast<WPARAM>(gamesFolder.c_str()), reinterpret_cast<LPARAM>(run.gameId.c_str()));
  ::SendMessageW(window, kTimerOffMessage, 0, 0);
}

bool CGameSetup::RunSetupProgram(const SetupRun& run, const std::wstring& gamesFolder) {
  observedSize_ = 0;
  UniqueFile watched(::CreateFileW((gamesFolder + L"\\").c_str(), FILE_LIST_DIRECTORY,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr));
  UniqueHandle stopWatching(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  std::thread watcher;
  if (watched && stopWatching) {
    watcher = std::thread([this, folder = watched.get(), &gamesFolder, stop = stopWatching.get()] {
      GuardBoundary([&] {
        WatchFolder(folder, gamesFolder, stop);
        return S_OK;
      });
    });
  }

  bool succeeded = false;
  UniqueHandle process;
  if (SUCCEEDED(ShellStartHidden(run.setupProgram, L"/s", gamesFolder + L"\\", &process))) {
    ::SendMessageW(window_.get(), kTimerOnMessage, reinterpret_cast<WPARAM>(run.gameId.c_str()), 0);
    PublishProcess(process.get());
    DWORD exitCode = static_cast<DWORD>(-1);
    succeeded = WaitForProcessOrStop(process.get(), cancelEvent_.get()) == S_OK &&
                ::GetExitCodeProcess(process.get(), &exitCode) && exitCode == 0;
    PublishProcess(nullptr);
  }

  if (watcher.joinable()) {
    ::SetEvent(stopWatching.get());
    watcher.join();
  }
  return succeeded;
}

void CGameSetup::WatchFolder(HANDLE folder, const std::wstring& gamesFolder, HANDLE stopEvent) {
  UniqueHandle changed(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!changed) return;
  std::vector<DWORD> storage(kChangeBufferBytes / sizeof(DWORD));
  BYTE* const buffer = reinterpret_cast<BYTE*>(storage.data());
  std::wstring lastCounted;
  for (;;) {
    std::fill(storage.begin(), storage.end(), 0);
    OVERLAPPED overlapped = {};
    overlapped.hEvent = changed.get();
    ::ResetEvent(changed.get());
    if (!::ReadDirectoryChangesW(folder, buffer, kChangeBufferBytes, TRUE, kChangeFilter, nullptr, &overlapped,
                                 nullptr)) {
      if (::WaitForSingleObject(stopEvent, kChangeRetryMs) == WAIT_OBJECT_0) return;
      continue;
    }
    const HANDLE waits[] = {changed.get(), stopEvent};
    DWORD bytes = 0;
    if (::WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
      ::CancelIoEx(folder, &overlapped);
      ::GetOverlappedResult(folder, &overlapped, &bytes, TRUE);
      return;
    }
    if (!::GetOverlappedResult(folder, &overlapped, &bytes, FALSE)) {
      if (::WaitForSingleObject(stopEvent, kChangeRetryMs) == WAIT_OBJECT_0) return;
      continue;
    }
    // Records chain by their next-entry offset; the names are not terminated.
    for (DWORD offset = 0; offset + sizeof(FILE_NOTIFY_INFORMATION) <= bytes;) {
      const auto* record = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(buffer + offset);
      const DWORD nameBytes = record->FileNameLength;
      if (offset + offsetof(FILE_NOTIFY_INFORMATION, FileName) + nameBytes > bytes) break;
      const std::wstring fullName =
          gamesFolder + L"\\" + std::wstring(record->FileName, nameBytes / sizeof(wchar_t));
      // A file's size is taken once, when writing moves on to another file.
      if (record->Action == FILE_ACTION_MODIFIED && zv::FileExists(fullName) &&
          !EqualsIgnoreCase(fullName, lastCounted)) {
        observedSize_ += FileSize(lastCounted);
        lastCounted = fullName;
      }
      if (record->NextEntryOffset == 0) break;
      offset += record->NextEntryOffset;
    }
  }
}

void CGameSetup::PublishProcess(HANDLE process) {
  std::lock_guard<std::mutex> lock(processLock_);
  setupProcess_ = process;
}

HRESULT CGameSetup::Uninstall(const UninstallRequest& request) {
  RETURN_HR_IF(E_FAIL, !request.gameId || !request.gameFolder || !request.gameName);
  ImportRegistryScript(request.gameFolder, RegistryScriptKind::kUninstall, cancelEvent_.get());
  std::wstring folder = StripTrailingBackslashes(request.gameFolder);
  RETURN_HR_IF(E_FAIL, !CutLastComponent(&folder));
  // Stricter than "the name occurs in the folder": the folder must be named
  // exactly like the game, and the name must be a plain folder name.
  const std::wstring name = request.gameName;
  RETURN_HR_IF(E_FAIL, !IsPlainFolderName(name) || !EqualsIgnoreCase(LastComponent(folder), name));
  const bool cleared = ClearGameFolder(folder, request.gameId, name);
  ::SendMessageW(window_.get(), cleared ? kUninstallSucceededMessage : kUninstallFailedMessage, 0,
                 reinterpret_cast<LPARAM>(request.gameId));
  return S_OK;
}

HRESULT CGameSetup::Terminate(BOOL keepFiles) {
  {
    std::lock_guard<std::mutex> lock(processLock_);
    if (setupProcess_) {
      ::TerminateProcess(setupProcess_, 1);
      // Let the program's files close before they are deleted.
      ::WaitForSingleObject(setupProcess_, kTerminateWaitMs);
    }
  }
  if (!keepFiles && !installFolder_.empty()) DeleteTree(installFolder_, true);
  return S_OK;
}

HRESULT CGameSetup::Shutdown() {
  if (shuttingDown_) return S_OK;
  shuttingDown_ = true;
  if (cancelEvent_) ::SetEvent(cancelEvent_.get());
  if (window_) ::KillTimer(window_.get(), kProgressTimerId);
  for (UniqueHandle& worker : workers_) WaitAnsweringSentMessages(worker.get());
  workers_.clear();
  cancelEvent_.reset();
  window_.reset();
  return S_OK;
}

void CGameSetup::PruneFinishedWorkers() {
  std::vector<UniqueHandle> running;
  for (UniqueHandle& worker : workers_) {
    if (::WaitForSingleObject(worker.get(), 0) != WAIT_OBJECT_0) running.push_back(std::move(worker));
  }
  workers_.swap(running);
}

KeptFileNames CGameSetup::PartFileNames(const std::wstring& gameId) const {
  KeptFileNames names;
  if (!sink_) return names;
  // The game item numbers its parts from 0 ("123_0" is the setup program).
  for (const wchar_t* format : {L"%ls_%d", L"%ls_p%d"}) {
    for (int number = 0; number <= kMaxPartNumber; ++number) {
      names.Add(sink_->GetPartFileName(Format(format, gameId.c_str(), number)));
    }
  }
  return names;
}

bool CGameSetup::DeleteTree(const std::wstring& path, bool keepParts) {
  if (!keepParts) return zv::DeleteTree(path, nullptr);
  const KeptFileNames parts = PartFileNames(gameId_);
  return zv::DeleteTree(path, &parts);
}

bool CGameSetup::ClearGameFolder(const std::wstring& path, const std::wstring& gameId,
                                 const std::wstring& gameName) {
  if (!sink_) return false;
  return zv::ClearGameFolder(path, gameName, PartFileNames(gameId));
}

int CGameSetup::ProgressPercent(unsigned long long observed, unsigned long long expected) {
  if (expected == 0) return 0;
  double ratio = static_cast<double>(observed) / static_cast<double>(expected);
  if (ratio >= 1.0 || ratio < 0.0) ratio = 0.99;
  return static_cast<int>(ratio * 100.0);
}

std::wstring CGameSetup::GamesFolderOf(const std::wstring& installFolder) {
  std::wstring folder = StripTrailingBackslashes(installFolder) + L"\\";
  for (int cut = 0; cut < 3; ++cut) {
    if (!CutLastComponent(&folder)) return std::wstring();
  }
  return folder;
}

LRESULT CALLBACK CGameSetup::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<CGameSetup*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  bool handled = false;
  if (self) {
    GuardBoundary([&] {
      handled = self->HandleMessage(message, wParam, lParam);
      return S_OK;
    });
  }
  return handled ? 0 : ::DefWindowProcW(window, message, wParam, lParam);
}

bool CGameSetup::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  const auto* gameId = reinterpret_cast<const wchar_t*>(lParam);
  const auto* folder = reinterpret_cast<const wchar_t*>(wParam);
  switch (message) {
    case WM_TIMER:
      if (!shuttingDown_ && sink_) {
        sink_->OnSetupProgress(gameId_.c_str(), ProgressPercent(observedSize_, expectedSize_));
      }
      break;
    case kSetupSucceededMessage:
      Report(gameId, kSetupSucceeded, folder);
      break;
    case kSetupFailedMessage:
      Report(gameId, kSetupFailed, folder);
      break;
    case kUninstallSucceededMessage:
      Report(gameId, kUninstallSucceeded, nullptr);
      break;
    case kUninstallFailedMessage:
      Report(gameId, kUninstallFailed, nullptr);
      break;
    case kTimerOnMessage:
      if (!shuttingDown_) ::SetTimer(window_.get(), kProgressTimerId, kProgressPeriodMs, nullptr);
      break;
    case kTimerOffMessage:
      ::KillTimer(window_.get(), kProgressTimerId);
      break;
    default:
      return false;
  }
  return true;
}

void CGameSetup::Report(const wchar_t* gameId, int status, const wchar_t* folder) {
  // The game item is being destroyed once shutdown has begun.
  if (shuttingDown_ || !sink_) return;
  sink_->OnSetupResult(gameId, status, folder);
}

}  // namespace zv
