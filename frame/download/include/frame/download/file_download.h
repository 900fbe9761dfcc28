// The download engine binding: the request, the callback interface and the
// status record the halls exchange with Fetchwell.dll, and the manager's
// static entry points, imported from that DLL.
//
// Threading: DownloadFile returns at once; every report arrives later on one
// of the engine's threads, never inside DownloadFile or CancelDownloadFile.
// The engine holds no lock while it calls a sink, so a sink may call
// DownloadFile or CancelDownloadFile from inside its callback. A sink must
// stay alive until it has received its final report (status 2, 3 or 6) or
// until Uninit has returned.
#pragma once

#include <stdint.h>

#if defined(FETCHWELL_BUILDING_DLL)
#define FETCHWELL_API __declspec(dllexport)
#else
#define FETCHWELL_API __declspec(dllimport)
#endif

// One download request; it lives only for the DownloadFile call, which copies
// what it needs. Strings are narrow, in the calling thread's ANSI code page.
//
// Option A, the existing target:
//   2   replace a file that already exists at the target when the download
//       completes;
//   any other value: never overwrite; when the target exists at completion
//       the file is saved beside it as "name (2).ext", "name (3).ext", ...
//       and that path is reported.
// Option B, resuming:
//   1   partial data survives: a cancelled, failed or interrupted download
//       keeps its temporary file "<target>.fwpart" (and the validator record
//       "<target>.fwpart.meta" beside it; with an empty save path both live
//       in the engine's folder under a name taken from the URL), and a later
//       request for the same URL and target continues from there, fetching
//       only the missing bytes, or starts over when the server's copy changed;
//   any other value: every request starts from zero and the temporary file
//       is removed when the download ends without success.
// Option C, connections:
//   1   a large file (4 MiB and more) on a server that accepts byte ranges
//       is fetched over up to four connections at once;
//   any other value: one connection.
// The halls' combinations: game parts 0,1,1 (resumable, split, saved where the
// caller said unless a file is already there); information files, scripts and
// emulator packages 2,1,0 (always replaced by the fresh copy); one-off files
// with an empty save path 0,0,0 (the engine picks a new unique file in its own
// download folder under the user's temporary folder and reports it).
struct FileDownloadSetting {
  const char* url;       // names the download for cancelling and in reports
  int32_t optionA;
  int32_t optionB;
  int32_t optionC;
  const char* savePath;  // full file path; null or empty: the engine chooses
};

// One report; valid only during the callback.
struct FileDownloadStatus {
  static constexpr int32_t kProgress = 1;
  static constexpr int32_t kFinished = 2;
  static constexpr int32_t kCancelled = 3;
  static constexpr int32_t kFailed = 6;

  const char* url;        // the URL exactly as requested
  int32_t fileSize;       // bytes; 0 or negative while the size is unknown
  int32_t completedSize;  // bytes on disk so far, resumed bytes included
  float speed;            // kilobytes per second, smoothed
  int32_t status;         // kProgress, kFinished, kCancelled or kFailed
  const char* savedPath;  // the file (ANSI code page); final on kFinished
};

class FileDownloadEvent {
 public:
  virtual int OnDownloadStatusChanged(const FileDownloadStatus* status) = 0;
  virtual ~FileDownloadEvent() = default;
};

class FETCHWELL_API CFileDownloadManager {
 public:
  // Starts (or joins an identical running) download. Returns 0 when it was
  // accepted: exactly one final report (2, 3 or 6) then follows for this
  // sink. Returns -1 without any report for a null sink, setting or URL, or
  // while Uninit is stopping the engine.
  static int DownloadFile(FileDownloadEvent* sink, const FileDownloadSetting* setting);
  // Stops the download requested with exactly this URL; its sinks get status
  // 3 and the temporary file stays (subject to option B). Returns 0 when a
  // download was found, -1 otherwise.
  static int CancelDownloadFile(const char* url);
  // Stops every download and waits for the engine's threads: each sink still
  // waiting gets its final status 3 before Uninit returns and nothing is
  // reported afterwards. A later DownloadFile starts the engine again.
  static int Uninit();
};
