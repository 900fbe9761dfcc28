#include "transfer.h"

#include <algorithm>

#include "common/hresult.h"

namespace zv::fetchwell {
namespace {

constexpr int kMaxRounds = 3;
constexpr int kMaxRetries = 3;
constexpr DWORD kBackoffBaseMs = 250;
constexpr DWORD kTickMs = 50;
constexpr ULONGLONG kRecordIntervalMs = 1000;

int64_t FileSize(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return -1;
  return (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

UniqueFile OpenTempForWriting(const std::wstring& path, DWORD disposition) {
  return UniqueFile(::CreateFileW(path.c_str(), GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool SetFileLength(HANDLE file, int64_t length) {
  LARGE_INTEGER position;
  position.QuadPart = length;
  return ::SetFilePointerEx(file, position, nullptr, FILE_BEGIN) && ::SetEndOfFile(file);
}

}  // namespace

Transfer::Transfer(TransferRequest request, const std::atomic<bool>& cancelled, HANDLE cancelEvent)
    : request_(std::move(request)),
      cancelled_(cancelled),
      cancelEvent_(cancelEvent),
      stopEvent_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

Transfer::~Transfer() = default;

int64_t Transfer::Completed() const {
  int64_t sum = 0;
  for (const auto& segment : segments_) sum += segment->done.load();
  return sum;
}

int64_t Transfer::Total() const { return size_.load(); }

bool Transfer::ShouldStop() const { return stop_.load() || cancelled_.load(); }

void Transfer::StopAll() {
  stop_ = true;
  ::SetEvent(stopEvent_.get());
}

void Transfer::RemovePartialFiles() {
  ::DeleteFileW(RecordPathFor(request_.tempPath).c_str());
  ::DeleteFileW(request_.tempPath.c_str());
}

TransferResult Transfer::Run(const std::function<void()>& tick) {
  if (!stopEvent_) return TransferResult::kFailed;
  session_ = OpenSession();
  if (!session_) return TransferResult::kFailed;
  if (!request_.resume) RemovePartialFiles();
  OpenedResponse fresh;
  for (int round = 0; round < kMaxRounds; ++round) {
    segments_.clear();
    if (!fresh.request && !(request_.resume && LoadPlan())) {
      RemovePartialFiles();
      const TransferResult opened = OpenFresh(&fresh);
      if (opened != TransferResult::kComplete) return opened;
    }
    if (fresh.request && !StartPlan(std::move(fresh))) return TransferResult::kFailed;
    switch (RunSegments(tick)) {
      case Round::kComplete:
        return TransferResult::kComplete;
      case Round::kCancelled:
        return TransferResult::kCancelled;
      case Round::kFailed:
        return TransferResult::kFailed;
      case Round::kRestart:
        fresh = std::move(restartResponse_);
        RemovePartialFiles();
        break;
    }
  }
  return TransferResult::kFailed;
}

// The plan an earlier attempt recorded, if it still matches the file on disk.
bool Transfer::LoadPlan() {
  PartialRecord record;
  if (!LoadPartialRecord(RecordPathFor(request_.tempPath), &record) || record.url != request_.url) {
    return false;
  }
  const int64_t onDisk = FileSize(request_.tempPath);
  if (onDisk < 0) return false;
  if (record.segments.size() == 1) {
    // One stream appends, so the file itself says how far it got.
    SegmentRecord& only = record.segments.front();
    if (only.end >= 0 && onDisk > only.end) return false;
    only.done = onDisk;
  } else if (onDisk != record.size) {
    return false;
  }
  for (const SegmentRecord& saved : record.segments) {
    auto segment = std::make_unique<Segment>();
    segment->owner = this;
    segment->begin = saved.begin;
    segment->end = saved.end;
    segment->done = saved.done;
    segments_.push_back(std::move(segment));
  }
  size_ = record.size;
  std::lock_guard<std::mutex> lock(validatorMutex_);
  validator_ = record.validator;
  return true;
}

TransferResult Transfer::OpenFresh(OpenedResponse* response) {
  int failures = 0;
  for (;;) {
    if (ShouldStop()) return TransferResult::kCancelled;
    // When splitting is allowed the first request asks for a small first
    // range: its answer tells whether ranges work and how large the file is,
    // and closing it costs nothing (closing an unfinished full answer makes
    // WinINet read the rest of it to keep the connection).
    const int64_t to = request_.allowSplit ? kProbeBytes - 1 : -1;
    switch (OpenRequest(session_.get(), request_.url, 0, to, std::wstring(), response)) {
      case FetchOutcome::kDone:
        return TransferResult::kComplete;
      case FetchOutcome::kTransient:
        switch (WaitBeforeRetry(&failures)) {
          case FetchOutcome::kDone:
            continue;
          case FetchOutcome::kAborted:
            return TransferResult::kCancelled;
          default:
            return TransferResult::kFailed;
        }
      default:
        return TransferResult::kFailed;
    }
  }
}

// Lays out the temporary file and its segments for a fresh full response,
// which becomes the first segment's stream.
bool Transfer::StartPlan(OpenedResponse response) {
  const ResponseInfo& info = response.info;
  const int64_t size = info.totalSize;
  const bool split = request_.allowSplit && size >= kSplitThreshold &&
                     (info.statusCode == 206 || info.acceptsRanges) && !info.validator.empty();
  UniqueFile file = OpenTempForWriting(request_.tempPath, CREATE_ALWAYS);
  if (!file || (split && !SetFileLength(file.get(), size))) return false;
  file.reset();
  size_ = size;
  {
    std::lock_guard<std::mutex> lock(validatorMutex_);
    validator_ = info.validator;
  }
  const size_t count = split ? kMaxConnections : 1;
  for (size_t i = 0; i < count; ++i) {
    auto segment = std::make_unique<Segment>();
    segment->owner = this;
    segment->begin = split ? size / static_cast<int64_t>(count) * static_cast<int64_t>(i) : 0;
    segment->end = (split && i + 1 < count) ? size / static_cast<int64_t>(count) * static_cast<int64_t>(i + 1)
                                            : size;
    segments_.push_back(std::move(segment));
  }
  segments_.front()->carried = std::move(response);
  SaveRecord();
  return true;
}

void Transfer::SaveRecord() {
  PartialRecord record;
  record.url = request_.url;
  {
    std::lock_guard<std::mutex> lock(validatorMutex_);
    record.validator = validator_;
  }
  const std::wstring recordPath = RecordPathFor(request_.tempPath);
  if (record.validator.empty()) {
    // Without a validator a partial file cannot be trusted later.
    ::DeleteFileW(recordPath.c_str());
    return;
  }
  record.size = size_.load();
  for (const auto& segment : segments_) {
    record.segments.push_back({segment->begin, segment->end.load(), segment->done.load()});
  }
  SavePartialRecord(recordPath, record);
}

Transfer::Round Transfer::RunSegments(const std::function<void()>& tick) {
  stop_ = false;
  ::ResetEvent(stopEvent_.get());
  std::vector<UniqueHandle> threads;
  for (const auto& segment : segments_) {
    if (segment->Finished()) continue;
    UniqueHandle thread(::CreateThread(nullptr, 0, &Transfer::SegmentMain, segment.get(), 0, nullptr));
    if (!thread) {
      segment->outcome = FetchOutcome::kTransient;
      StopAll();
      break;
    }
    threads.push_back(std::move(thread));
  }
  std::vector<HANDLE> handles;
  for (const auto& thread : threads) handles.push_back(thread.get());
  ULONGLONG lastRecord = ::GetTickCount64();
  while (!handles.empty()) {
    const DWORD waited =
        ::WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), TRUE, kTickMs);
    tick();
    if (waited != WAIT_TIMEOUT) break;
    if (segments_.size() > 1 && ::GetTickCount64() - lastRecord >= kRecordIntervalMs) {
      SaveRecord();
      lastRecord = ::GetTickCount64();
    }
  }
  bool restart = false, failed = false, complete = true;
  for (const auto& segment : segments_) {
    restart |= segment->restart;
    failed |= segment->outcome == FetchOutcome::kTransient || segment->outcome == FetchOutcome::kPermanent;
    complete &= segment->Finished();
  }
  if (complete && !restart && !failed) {
    ::DeleteFileW(RecordPathFor(request_.tempPath).c_str());
    return Round::kComplete;
  }
  if (restart && !cancelled_.load()) return Round::kRestart;
  SaveRecord();
  if (cancelled_.load()) return Round::kCancelled;
  return Round::kFailed;
}

DWORD WINAPI Transfer::SegmentMain(void* context) {
  auto* segment = static_cast<Segment*>(context);
  GuardBoundary([&] {
    segment->outcome = segment->owner->RunSegment(*segment);
    return S_OK;
  });
  if (segment->outcome == FetchOutcome::kTransient || segment->outcome == FetchOutcome::kPermanent ||
      segment->restart) {
    segment->owner->StopAll();
  }
  return 0;
}

FetchOutcome Transfer::RunSegment(Segment& segment) {
  UniqueFile file = OpenTempForWriting(request_.tempPath, OPEN_EXISTING);
  if (!file) return FetchOutcome::kPermanent;
  OpenedResponse response = std::move(segment.carried);
  int64_t furthest = segment.done.load();
  int failures = 0;
  const bool single = segments_.size() == 1;
  for (;;) {
    if (ShouldStop()) return FetchOutcome::kAborted;
    if (!response.request) {
      std::wstring validator;
      {
        std::lock_guard<std::mutex> lock(validatorMutex_);
        validator = validator_;
      }
      if (validator.empty() && segment.done.load() > 0) {
        // Nothing proves the server still has the same bytes: start over.
        if (!SetFileLength(file.get(), 0)) return FetchOutcome::kPermanent;
        segment.done = 0;
      }
      const int64_t from = segment.begin + segment.done.load();
      const int64_t to = single ? -1 : std::min(segment.end.load(), from + kMaxRangeBytes) - 1;
      const FetchOutcome opened = OpenRequest(session_.get(), request_.url, from, to, validator, &response);
      if (opened == FetchOutcome::kTransient) {
        const FetchOutcome next = WaitBeforeRetry(&failures);
        if (next != FetchOutcome::kDone) return next;
        continue;
      }
      if (opened != FetchOutcome::kDone) return opened;
      if (!AcceptResponse(segment, response, file.get())) {
        if (!segment.restart) return FetchOutcome::kPermanent;
        return FetchOutcome::kDone;
      }
    }
    const int64_t end = segment.end.load();
    const int64_t bodyLength = response.info.contentLength;
    int64_t stopAt = end >= 0 ? end - segment.begin : -1;
    if (bodyLength >= 0) {
      const int64_t bodyEnd = segment.done.load() + bodyLength;
      stopAt = stopAt < 0 ? bodyEnd : std::min(stopAt, bodyEnd);
    }
    FetchOutcome read = ReadBody(response.request.get(), file.get(), segment.begin, stopAt, &segment.done,
                                 [this] { return ShouldStop(); });
    response.request.reset();
    if (read == FetchOutcome::kDone) {
      if (end < 0) {
        segment.end = segment.begin + segment.done.load();
        size_ = segment.end.load();
      }
      if (segment.Finished()) return FetchOutcome::kDone;
      // This answer was one piece of the segment; an empty one is a fault.
      if (bodyLength != 0) continue;
      read = FetchOutcome::kTransient;
    }
    if (read != FetchOutcome::kTransient) return read;
    if (segment.done.load() > furthest) {
      furthest = segment.done.load();
      failures = 0;
    }
    const FetchOutcome next = WaitBeforeRetry(&failures);
    if (next != FetchOutcome::kDone) return next;
  }
}

// Checks that a response continues this segment. A full answer to a range
// request means the server ignores ranges or its copy changed: the single
// stream starts over from it; split segments hand it over for a restart.
bool Transfer::AcceptResponse(Segment& segment, OpenedResponse& response, HANDLE file) {
  const ResponseInfo& info = response.info;
  const int64_t from = segment.begin + segment.done.load();
  const bool single = segments_.size() == 1;
  if (info.statusCode == 206) {
    const int64_t size = size_.load();
    if (info.rangeStart != from || (size >= 0 && info.totalSize >= 0 && info.totalSize != size)) {
      segment.restart = true;
      return false;
    }
    if (single && segment.end.load() < 0 && info.totalSize >= 0) {
      segment.end = info.totalSize;
      size_ = info.totalSize;
    }
    return true;
  }
  if (from == 0 && single) return true;
  if (!single) {
    std::lock_guard<std::mutex> lock(restartMutex_);
    if (!restartResponse_.request) restartResponse_ = std::move(response);
    segment.restart = true;
    return false;
  }
  if (!SetFileLength(file, 0)) return false;
  segment.done = 0;
  segment.end = info.totalSize;
  size_ = info.totalSize;
  {
    std::lock_guard<std::mutex> lock(validatorMutex_);
    validator_ = info.validator;
  }
  return true;
}

// kDone: try again; kAborted: stopped while waiting; kTransient: out of tries.
FetchOutcome Transfer::WaitBeforeRetry(int* failures) {
  if (++*failures > kMaxRetries) return FetchOutcome::kTransient;
  const HANDLE events[] = {cancelEvent_, stopEvent_.get()};
  const DWORD delay = kBackoffBaseMs << (*failures - 1);
  if (::WaitForMultipleObjects(2, events, FALSE, delay) != WAIT_TIMEOUT) return FetchOutcome::kAborted;
  return ShouldStop() ? FetchOutcome::kAborted : FetchOutcome::kDone;
}

}  // namespace zv::fetchwell
