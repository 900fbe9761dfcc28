// The download engine behind CFileDownloadManager: a process-wide queue of
// download jobs served by a bounded pool of worker threads. The engine's
// mutex guards the queue, the running list and each job's sinks; it is never
// held while a sink is called, so sinks may call back into the engine.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/handles.h"
#include "frame/download/file_download.h"

namespace zv::fetchwell {

constexpr size_t kMaxTransfers = 4;
// One worker more than transfers, so that a cancelled queued job is answered
// while every transfer slot is busy.
constexpr size_t kMaxWorkers = kMaxTransfers + 1;
constexpr ULONGLONG kProgressIntervalMs = 250;

struct DownloadJob;
class Transfer;

class Engine {
 public:
  // Never destroyed: worker threads may still be running at process exit.
  static Engine& Instance();

  int Start(FileDownloadEvent* sink, const FileDownloadSetting* setting);
  int Cancel(const char* url);
  int Shutdown();

 private:
  struct Worker {
    UniqueHandle thread;
    DWORD id = 0;
  };
  struct ProgressClock;

  Engine() = default;
  static DWORD WINAPI WorkerMain(void* context);
  void WorkerLoop(unsigned generation);
  std::shared_ptr<DownloadJob> TakeNextJob();
  bool ConflictsWithRunning(const DownloadJob& job) const;
  void EnsureWorkers();
  void RunJob(DownloadJob& job);
  void ReportProgress(DownloadJob& job, const Transfer& transfer, ProgressClock& clock);
  void Report(DownloadJob& job, int32_t status, int64_t size, int64_t completed, float speed,
              const std::string& savedPath);

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::shared_ptr<DownloadJob>> queue_;
  std::vector<std::shared_ptr<DownloadJob>> running_;
  std::vector<Worker> workers_;
  size_t transfers_ = 0;
  bool stopping_ = false;
  unsigned generation_ = 0;
};

}  // namespace zv::fetchwell
