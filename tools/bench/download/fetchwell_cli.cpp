// fetchwell_cli URL SAVEPATH [--options A B C] [--cancel-at-half]
// Downloads one URL through Fetchwell.dll and prints one line per final
// report: "status=<s> size=<bytes> ms=<elapsed> path=<saved path>".
// --cancel-at-half cancels once half the file is there and stops, leaving
// the partial file for a later run to resume. Exit code 0 when the final
// report is the one asked for (2, or 3 with --cancel-at-half).
#include <windows.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#include "common/text.h"
#include "frame/download/file_download.h"

namespace {

class CliSink : public FileDownloadEvent {
 public:
  explicit CliSink(std::string url) : url_(std::move(url)) {}

  int OnDownloadStatusChanged(const FileDownloadStatus* status) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (status->status == FileDownloadStatus::kProgress) {
      if (cancelAtHalf_ && !cancelSent_ && status->fileSize > 0 &&
          status->completedSize >= status->fileSize / 2) {
        cancelSent_ = true;
        CFileDownloadManager::CancelDownloadFile(url_.c_str());
      }
      return 0;
    }
    final_ = status->status;
    size_ = status->completedSize;
    path_ = status->savedPath ? status->savedPath : "";
    done_.notify_all();
    return 0;
  }

  void Arm(bool cancelAtHalf) {
    std::lock_guard<std::mutex> lock(mutex_);
    cancelAtHalf_ = cancelAtHalf;
    final_ = 0;
  }

  int Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this] { return final_ != 0; });
    return final_;
  }

  int32_t size() const { return size_; }
  const std::string& path() const { return path_; }

 private:
  std::string url_;
  std::mutex mutex_;
  std::condition_variable done_;
  bool cancelAtHalf_ = false;
  bool cancelSent_ = false;
  int final_ = 0;
  int32_t size_ = 0;
  std::string path_;
};

int RunOnce(CliSink& sink, const FileDownloadSetting& setting, bool cancelAtHalf) {
  sink.Arm(cancelAtHalf);
  const ULONGLONG start = ::GetTickCount64();
  if (CFileDownloadManager::DownloadFile(&sink, &setting) != 0) {
    std::printf("status=refused\n");
    return -1;
  }
  const int status = sink.Wait();
  std::printf("status=%d size=%ld ms=%llu path=%s\n", status, static_cast<long>(sink.size()),
              static_cast<unsigned long long>(::GetTickCount64() - start), sink.path().c_str());
  std::fflush(stdout);
  return status;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: fetchwell_cli URL SAVEPATH [--options A B C] [--cancel-at-half]\n");
    return 2;
  }
  const std::string url = zv::ToCodePage(argv[1], CP_ACP);
  const std::string savePath = zv::ToCodePage(argv[2], CP_ACP);
  FileDownloadSetting setting = {url.c_str(), 2, 1, 1, savePath.c_str()};
  bool cancelAtHalf = false;
  for (int i = 3; i < argc; ++i) {
    const std::wstring flag = argv[i];
    if (flag == L"--options" && i + 3 < argc) {
      setting.optionA = _wtoi(argv[i + 1]);
      setting.optionB = _wtoi(argv[i + 2]);
      setting.optionC = _wtoi(argv[i + 3]);
      i += 3;
    } else if (flag == L"--cancel-at-half") {
      cancelAtHalf = true;
    }
  }
  CliSink sink(url);
  const int status = RunOnce(sink, setting, cancelAtHalf);
  CFileDownloadManager::Uninit();
  const int wanted = cancelAtHalf ? FileDownloadStatus::kCancelled : FileDownloadStatus::kFinished;
  return status == wanted ? 0 : 1;
}
