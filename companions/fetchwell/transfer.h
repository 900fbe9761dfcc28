// The transfer of one URL into one temporary file: resuming from the record
// an earlier attempt left, splitting a large file over several connections,
// retrying transient failures with backoff and restarting from zero when the
// server's copy changed or it ignores ranges. Run blocks the calling thread
// (an engine worker) and owns the segment threads it starts; they are all
// joined before Run returns.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/handles.h"
#include "http_fetch.h"
#include "partial_record.h"

namespace zv::fetchwell {

constexpr int64_t kSplitThreshold = 4 * 1024 * 1024;
constexpr size_t kMaxConnections = 4;
// The first request of a download that may be split asks for this much.
constexpr int64_t kProbeBytes = 1024 * 1024;
// One request of a split segment asks for at most this much, which bounds
// what WinINet still reads when a cancelled request is closed.
constexpr int64_t kMaxRangeBytes = 16 * 1024 * 1024;

enum class TransferResult { kComplete, kCancelled, kFailed };

struct TransferRequest {
  std::wstring url;
  std::wstring tempPath;
  bool resume = true;      // start from an earlier attempt's bytes when valid
  bool allowSplit = true;  // several connections for a large file
};

class Transfer {
 public:
  // cancelled and cancelEvent belong to the caller and outlive Run.
  Transfer(TransferRequest request, const std::atomic<bool>& cancelled, HANDLE cancelEvent);
  ~Transfer();
  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;

  // Calls tick every few tens of milliseconds on the calling thread.
  TransferResult Run(const std::function<void()>& tick);

  int64_t Completed() const;  // bytes in the temporary file, resumed ones too
  int64_t Total() const;      // -1 while unknown

 private:
  enum class Round { kComplete, kCancelled, kFailed, kRestart };
  struct Segment {
    Transfer* owner = nullptr;
    int64_t begin = 0;
    std::atomic<int64_t> end{-1};
    std::atomic<int64_t> done{0};
    OpenedResponse carried;  // a response already open for this segment
    FetchOutcome outcome = FetchOutcome::kDone;
    bool restart = false;
    bool Finished() const { return end.load() >= 0 && done.load() == end.load() - begin; }
  };

  bool LoadPlan();
  TransferResult OpenFresh(OpenedResponse* response);
  bool StartPlan(OpenedResponse response);
  Round RunSegments(const std::function<void()>& tick);
  static DWORD WINAPI SegmentMain(void* segment);
  FetchOutcome RunSegment(Segment& segment);
  bool AcceptResponse(Segment& segment, OpenedResponse& response, HANDLE file);
  FetchOutcome WaitBeforeRetry(int* failures);
  bool ShouldStop() const;
  void StopAll();
  void SaveRecord();
  void RemovePartialFiles();

  const TransferRequest request_;
  const std::atomic<bool>& cancelled_;
  HANDLE cancelEvent_;
  UniqueHandle stopEvent_;
  std::atomic<bool> stop_{false};
  UniqueInternet session_;
  std::vector<std::unique_ptr<Segment>> segments_;
  std::atomic<int64_t> size_{-1};
  mutable std::mutex validatorMutex_;  // the single segment may replace it on a restart
  std::wstring validator_;
  std::mutex restartMutex_;
  OpenedResponse restartResponse_;  // a full answer a segment got instead of its range
};

}  // namespace zv::fetchwell
