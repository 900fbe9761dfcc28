#include "engine.h"

#include <algorithm>
#include <atomic>
#include <climits>

#include "common/hresult.h"
#include "common/locations.h"
#include "common/text.h"
#include "download_paths.h"
#include "partial_record.h"
#include "transfer.h"

namespace zv::fetchwell {

struct DownloadJob {
  std::string url;  // exactly as requested: the key for joining and cancelling
  UINT codePage = CP_ACP;
  std::wstring wideUrl;
  DownloadPaths paths;
  HRESULT pathResult = E_FAIL;
  bool replace = false;
  bool resume = true;
  bool split = false;
  std::atomic<bool> cancelled{false};
  UniqueHandle cancelEvent;
  // Guarded by the engine's mutex:
  std::vector<FileDownloadEvent*> sinks;
  bool finishing = false;        // the final report is under way: nobody joins
  bool silenced = false;         // Uninit has returned: report nothing more
  bool countsAsTransfer = false;
};

struct Engine::ProgressClock {
  ULONGLONG lastTick = ::GetTickCount64();
  int64_t lastCompleted = -1;
  int64_t startCompleted = -1;
  float speed = 0;
  bool reported = false;
};

namespace {

constexpr int32_t kOptionReplace = 2;

struct WorkerStart {
  Engine* engine;
  unsigned generation;
};

UINT ThreadAnsiCodePage() {
  UINT codePage = 0;
  if (::GetLocaleInfoW(::GetThreadLocale(), LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER,
                       reinterpret_cast<LPWSTR>(&codePage), sizeof(codePage) / sizeof(wchar_t)) &&
      codePage != 0) {
    return codePage;
  }
  return ::GetACP();
}

// The path in the requester's code page; a name that code page cannot spell
// is handed out in its short form when that one can.
std::string NarrowPath(const std::wstring& path, UINT codePage) {
  std::string narrow = ToCodePage(path, codePage);
  if (FromCodePage(narrow, codePage) == path) return narrow;
  wchar_t shortPath[MAX_PATH] = {};
  const DWORD length = ::GetShortPathNameW(path.c_str(), shortPath, MAX_PATH);
  if (length > 0 && length < MAX_PATH) {
    const std::string candidate = ToCodePage(shortPath, codePage);
    if (FromCodePage(candidate, codePage) == shortPath) return candidate;
  }
  return narrow;
}

// The record has 32-bit sizes: larger files are reported in proportion, so
// that the percentage stays right.
void FitInt32(int64_t* size, int64_t* completed) {
  while (*size > INT32_MAX || *completed > INT32_MAX) {
    *size = *size < 0 ? *size : *size / 2;
    *completed /= 2;
  }
}

void WaitPumpingSentMessages(HANDLE thread) {
  while (::MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_SENDMESSAGE) == WAIT_OBJECT_0 + 1) {
    MSG message;
    ::PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
}

}  // namespace

Engine& Engine::Instance() {
  static Engine* const engine = new Engine();
  return *engine;
}

int Engine::Start(FileDownloadEvent* sink, const FileDownloadSetting* setting) {
  if (!sink || !setting || !setting->url) return -1;
  auto job = std::make_shared<DownloadJob>();
  job->url = setting->url;
  job->codePage = ThreadAnsiCodePage();
  job->wideUrl = FromCodePage(job->url, job->codePage);
  const std::wstring savePath = setting->savePath ? FromCodePage(setting->savePath, job->codePage) : L"";
  job->pathResult = ResolveDownloadPaths(job->wideUrl, savePath, &job->paths);
  job->replace = setting->optionA == kOptionReplace && !job->paths.alwaysUnique;
  job->resume = setting->optionB == 1;
  job->split = setting->optionC == 1;
  job->cancelEvent.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!job->cancelEvent) return -1;
  job->sinks.push_back(sink);

  std::lock_guard<std::mutex> lock(mutex_);
  if (stopping_) return -1;
  auto joinable = [&](const std::shared_ptr<DownloadJob>& other) {
    return other->url == job->url && !other->cancelled.load() && !other->finishing;
  };
  std::shared_ptr<DownloadJob> existing;
  for (const auto& other : queue_) {
    if (joinable(other)) existing = other;
  }
  for (const auto& other : running_) {
    if (joinable(other)) existing = other;
  }
  if (existing) {
    if (std::find(existing->sinks.begin(), existing->sinks.end(), sink) == existing->sinks.end()) {
      existing->sinks.push_back(sink);
    }
    return 0;
  }
  queue_.push_back(std::move(job));
  EnsureWorkers();
  wake_.notify_all();
  return 0;
}

int Engine::Cancel(const char* url) {
  if (!url) return -1;
  std::lock_guard<std::mutex> lock(mutex_);
  bool found = false;
  auto cancel = [&](const std::shared_ptr<DownloadJob>& job) {
    if (job->url != url || job->finishing || job->cancelled.load()) return;
    job->cancelled = true;
    ::SetEvent(job->cancelEvent.get());
    found = true;
  };
  std::for_each(queue_.begin(), queue_.end(), cancel);
  std::for_each(running_.begin(), running_.end(), cancel);
  EnsureWorkers();
  wake_.notify_all();
  return found ? 0 : -1;
}

int Engine::Shutdown() {
  std::vector<Worker> workers;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) return -1;
    for (const auto& job : queue_) {
      job->cancelled = true;
      ::SetEvent(job->cancelEvent.get());
    }
    for (const auto& job : running_) {
      job->cancelled = true;
      ::SetEvent(job->cancelEvent.get());
    }
    EnsureWorkers();
    stopping_ = true;
    workers.swap(workers_);
    wake_.notify_all();
  }
  const DWORD self = ::GetCurrentThreadId();
  for (const Worker& worker : workers) {
    if (worker.id != self) WaitPumpingSentMessages(worker.thread.get());
  }
  std::lock_guard<std::mutex> lock(mutex_);
  // Only a job whose own sink called Uninit can still be running here.
  for (const auto& job : running_) job->silenced = true;
  stopping_ = false;
  ++generation_;
  return 0;
}

// Keeps one worker for every job that is running or waiting, up to the limit.
void Engine::EnsureWorkers() {
  if (stopping_) return;
  const size_t wanted = std::min(kMaxWorkers, running_.size() + queue_.size());
  while (workers_.size() < wanted) {
    auto* start = new WorkerStart{this, generation_};
    Worker worker;
    worker.thread.reset(::CreateThread(nullptr, 0, &Engine::WorkerMain, start, 0, &worker.id));
    if (!worker.thread) {
      delete start;
      return;
    }
    workers_.push_back(std::move(worker));
  }
}

DWORD WINAPI Engine::WorkerMain(void* context) {
  std::unique_ptr<WorkerStart> start(static_cast<WorkerStart*>(context));
  GuardBoundary([&] {
    start->engine->WorkerLoop(start->generation);
    return S_OK;
  });
  return 0;
}

void Engine::WorkerLoop(unsigned generation) {
  std::unique_lock<std::mutex> lock(mutex_);
  while (generation == generation_) {
    std::shared_ptr<DownloadJob> job = TakeNextJob();
    if (job) {
      lock.unlock();
      RunJob(*job);
      lock.lock();
      running_.erase(std::find(running_.begin(), running_.end(), job));
      if (job->countsAsTransfer) --transfers_;
      wake_.notify_all();
      continue;
    }
    if (stopping_ && queue_.empty()) return;
    wake_.wait(lock);
  }
}

// The first waiting job that may run now: a cancelled one at once (it only
// reports), others while a transfer slot is free and no running job uses the
// same URL or temporary file.
std::shared_ptr<DownloadJob> Engine::TakeNextJob() {
  for (auto it = queue_.begin(); it != queue_.end(); ++it) {
    const std::shared_ptr<DownloadJob> job = *it;
    const bool reportOnly = job->cancelled.load();
    if (!reportOnly && (transfers_ >= kMaxTransfers || ConflictsWithRunning(*job))) continue;
    queue_.erase(it);
    job->countsAsTransfer = !reportOnly;
    if (job->countsAsTransfer) ++transfers_;
    running_.push_back(job);
    return job;
  }
  return nullptr;
}

bool Engine::ConflictsWithRunning(const DownloadJob& job) const {
  return std::any_of(running_.begin(), running_.end(), [&](const std::shared_ptr<DownloadJob>& other) {
    return other->url == job.url ||
           (!job.paths.temp.empty() && EqualsIgnoreCase(other->paths.temp, job.paths.temp));
  });
}

void Engine::RunJob(DownloadJob& job) {
  const std::string plannedPath = NarrowPath(job.paths.target, job.codePage);
  if (job.cancelled.load()) {
    Report(job, FileDownloadStatus::kCancelled, 0, 0, 0, plannedPath);
    return;
  }
  if (FAILED(job.pathResult) || job.wideUrl.empty() || FAILED(CreateFolderTree(zv::FolderOf(job.paths.temp)))) {
    Report(job, FileDownloadStatus::kFailed, 0, 0, 0, plannedPath);
    return;
  }
  Transfer transfer({job.wideUrl, job.paths.temp, job.resume, job.split}, job.cancelled,
                    job.cancelEvent.get());
  ProgressClock clock;
  const TransferResult result = transfer.Run([&] { ReportProgress(job, transfer, clock); });
  const int64_t completed = transfer.Completed();
  if (result == TransferResult::kComplete) {
    std::wstring finalPath;
    if (SUCCEEDED(PlaceFinishedFile(job.paths.temp, job.paths.target, job.replace, &finalPath))) {
      Report(job, FileDownloadStatus::kFinished, completed, completed, clock.speed,
             NarrowPath(finalPath, job.codePage));
      return;
    }
  } else if (!job.resume) {
    ::DeleteFileW(RecordPathFor(job.paths.temp).c_str());
    ::DeleteFileW(job.paths.temp.c_str());
  }
  Report(job, result == TransferResult::kCancelled ? FileDownloadStatus::kCancelled : FileDownloadStatus::kFailed,
         transfer.Total(), completed, clock.speed, plannedPath);
}

// The first report once bytes arrive, then one every kProgressIntervalMs.
void Engine::ReportProgress(DownloadJob& job, const Transfer& transfer, ProgressClock& clock) {
  const int64_t completed = transfer.Completed();
  const ULONGLONG now = ::GetTickCount64();
  if (clock.startCompleted < 0) {
    clock.startCompleted = completed;
    clock.lastCompleted = completed;
  }
  const bool due = clock.reported ? now - clock.lastTick >= kProgressIntervalMs : completed > clock.startCompleted;
  if (!due) return;
  const double seconds = std::max<ULONGLONG>(now - clock.lastTick, 1) / 1000.0;
  const double instant = std::max<int64_t>(completed - clock.lastCompleted, 0) / 1024.0 / seconds;
  clock.speed = clock.reported ? static_cast<float>(0.7 * clock.speed + 0.3 * instant) : static_cast<float>(instant);
  clock.reported = true;
  clock.lastTick = now;
  clock.lastCompleted = completed;
  Report(job, FileDownloadStatus::kProgress, transfer.Total(), completed, clock.speed,
         NarrowPath(job.paths.target, job.codePage));
}

void Engine::Report(DownloadJob& job, int32_t status, int64_t size, int64_t completed, float speed,
                    const std::string& savedPath) {
  std::vector<FileDownloadEvent*> sinks;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (job.silenced) return;
    if (status != FileDownloadStatus::kProgress) job.finishing = true;
    sinks = job.sinks;
  }
  FitInt32(&size, &completed);
  FileDownloadStatus record = {job.url.c_str(), static_cast<int32_t>(size), static_cast<int32_t>(completed),
                               speed, status, savedPath.c_str()};
  for (FileDownloadEvent* sink : sinks) {
    GuardBoundary([&] {
      sink->OnDownloadStatusChanged(&record);
      return S_OK;
    });
  }
}

}  // namespace zv::fetchwell
