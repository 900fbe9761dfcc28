// Fetchwell.dll through its import binding, against the loopback server.
#include <gtest/gtest.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "common/handles.h"
#include "common/text.h"
#include "frame/download/file_download.h"
#include "http_server.h"
#include "test_support.h"

namespace {

using zvtest::HttpOptions;
using zvtest::HttpServer;

constexpr DWORD kGenerousMs = 30000;

struct Report {
  int32_t status;
  int32_t fileSize;
  int32_t completed;
  std::string savedPath;
};

// Records every report; an optional hook runs inside the callback.
class RecordingSink : public FileDownloadEvent {
 public:
  std::function<void(const FileDownloadStatus&)> hook;

  int OnDownloadStatusChanged(const FileDownloadStatus* status) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      reports_.push_back({status->status, status->fileSize, status->completedSize,
                          status->savedPath ? status->savedPath : ""});
    }
    if (hook) hook(*status);
    return 0;
  }

  std::vector<Report> reports() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return reports_;
  }
  size_t FinalCount() const {
    size_t count = 0;
    for (const Report& report : reports()) count += report.status != FileDownloadStatus::kProgress;
    return count;
  }
  bool WaitFinal(DWORD timeoutMs = kGenerousMs) const {
    return zvtest::WaitFor([&] { return FinalCount() > 0; }, timeoutMs);
  }
  Report Final() const {
    for (const Report& report : reports()) {
      if (report.status != FileDownloadStatus::kProgress) return report;
    }
    return {0, 0, 0, ""};
  }
  int32_t LastCompleted() const {
    const auto all = reports();
    return all.empty() ? 0 : all.back().completed;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<Report> reports_;
};

std::string RandomBytes(size_t size, unsigned seed) {
  std::mt19937 generator(seed);
  std::string bytes(size, '\0');
  for (auto& byte : bytes) byte = static_cast<char>(generator());
  return bytes;
}

int64_t FileSize(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return -1;
  return (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// A folder name that the current ANSI code page can spell but ASCII cannot.
std::wstring NonAsciiName() { return ::GetACP() == 936 ? L"\x4e0b\x8f7d" : L"caf\x00e9"; }

class FetchwellTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.running()); }
  void TearDown() override { CFileDownloadManager::Uninit(); }

  int Start(RecordingSink& sink, const std::string& path, const std::wstring& savePath, int a = 0, int b = 1,
            int c = 1) {
    const std::string url = server_.Url(path);
    const std::string narrowPath = zv::ToCodePage(savePath, CP_ACP);
    const FileDownloadSetting setting = {url.c_str(), a, b, c, narrowPath.c_str()};
    return CFileDownloadManager::DownloadFile(&sink, &setting);
  }
  void Cancel(const std::string& path) {
    CFileDownloadManager::CancelDownloadFile(server_.Url(path).c_str());
  }
  // Starts a slow download and cancels it once some bytes are there.
  Report StartAndCancel(const std::string& path, const std::wstring& target) {
    RecordingSink sink;
    EXPECT_EQ(0, Start(sink, path, target));
    EXPECT_TRUE(zvtest::WaitFor([&] { return sink.LastCompleted() >= 128 * 1024; }, kGenerousMs));
    Cancel(path);
    EXPECT_TRUE(sink.WaitFinal());
    return sink.Final();
  }

  zvtest::TempFolder folder_{L"fetchwell"};
  HttpServer server_;
};

TEST_F(FetchwellTest, ReportsProgressThenExactlyOneFinalReport) {
  const std::string body = RandomBytes(512 * 1024, 1);
  HttpOptions slow;
  slow.bytesPerSecond = 1024 * 1024;
  server_.AddBody("/games/part.bin", body, slow);
  const std::wstring target = folder_ / (NonAsciiName() + L"\\deeper\\part.bin");
  RecordingSink sink;
  ASSERT_EQ(0, Start(sink, "/games/part.bin", target));
  ASSERT_TRUE(sink.WaitFinal());
  CFileDownloadManager::Uninit();

  const std::vector<Report> reports = sink.reports();
  ASSERT_GE(reports.size(), 2u);
  EXPECT_EQ(1u, sink.FinalCount());
  EXPECT_EQ(FileDownloadStatus::kFinished, reports.back().status);
  int32_t previous = 0;
  for (size_t i = 0; i + 1 < reports.size(); ++i) {
    EXPECT_EQ(FileDownloadStatus::kProgress, reports[i].status);
    EXPECT_EQ(static_cast<int32_t>(body.size()), reports[i].fileSize);
    EXPECT_GE(reports[i].completed, previous);
    previous = reports[i].completed;
  }
  EXPECT_EQ(static_cast<int32_t>(body.size()), reports.back().completed);
  EXPECT_EQ(zv::ToCodePage(target, CP_ACP), reports.back().savedPath);
  EXPECT_EQ(body, zvtest::ReadFileBytes(target));
  EXPECT_FALSE(zvtest::FileExists(target + L".fwpart"));
}

TEST_F(FetchwellTest, EmptySavePathPicksAUniqueFileInTheEngineFolder) {
  const std::string body = RandomBytes(10000, 2);
  server_.AddBody("/files/setup%20pack.exe", body);
  std::vector<std::wstring> saved;
  for (int round = 0; round < 2; ++round) {
    RecordingSink sink;
    ASSERT_EQ(0, Start(sink, "/files/setup%20pack.exe?v=1", L"", 0, 0, 0));
    ASSERT_TRUE(sink.WaitFinal());
    ASSERT_EQ(FileDownloadStatus::kFinished, sink.Final().status);
    saved.push_back(zv::FromCodePage(sink.Final().savedPath, CP_ACP));
  }
  wchar_t temp[MAX_PATH] = {};
  ::GetTempPathW(MAX_PATH, temp);
  const std::wstring folder = std::wstring(temp) + L"Fetchwell\\";
  for (const std::wstring& path : saved) {
    EXPECT_TRUE(zv::EqualsIgnoreCase(folder, path.substr(0, folder.size()))) << zv::ToUtf8(path);
    EXPECT_EQ(body, zvtest::ReadFileBytes(path));
    ::DeleteFileW(path.c_str());
  }
  EXPECT_EQ(L"setup pack.exe", saved[0].substr(folder.size()));
  EXPECT_EQ(L"setup pack (2).exe", saved[1].substr(folder.size()));
}

TEST_F(FetchwellTest, FollowsRedirects) {
  const std::string body = RandomBytes(3000, 3);
  server_.AddBody("/real/file.xml", body);
  server_.AddRedirect("/moved/file.xml", "/real/file.xml");
  RecordingSink sink;
  ASSERT_EQ(0, Start(sink, "/moved/file.xml", folder_ / L"file.xml", 2, 1, 0));
  ASSERT_TRUE(sink.WaitFinal());
  EXPECT_EQ(FileDownloadStatus::kFinished, sink.Final().status);
  EXPECT_EQ(body, zvtest::ReadFileBytes(folder_ / L"file.xml"));
}

struct FailureCase {
  const char* name;
  int status;           // answer of the server, 0 for a body that is cut
  bool retried;         // transient failures are tried again
  int64_t keptBytes;    // bytes in the temporary file afterwards, -1 none
};

class FetchwellFailureTest : public FetchwellTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(FetchwellFailureTest, EndsInFailedWithTheTemporaryFileKept) {
  const FailureCase& failure = GetParam();
  if (failure.status != 0) {
    server_.AddStatus("/x.bin", failure.status);
  } else {
    HttpOptions cut;
    cut.dropAtOffset = failure.keptBytes;
    server_.AddBody("/x.bin", RandomBytes(300000, 4), cut);
  }
  const std::wstring target = folder_ / L"x.bin";
  RecordingSink sink;
  ASSERT_EQ(0, Start(sink, "/x.bin", target));
  ASSERT_TRUE(sink.WaitFinal());
  CFileDownloadManager::Uninit();
  EXPECT_EQ(1u, sink.FinalCount());
  EXPECT_EQ(FileDownloadStatus::kFailed, sink.Final().status);
  EXPECT_FALSE(zvtest::FileExists(target));
  EXPECT_EQ(failure.keptBytes, FileSize(target + L".fwpart"));
  if (failure.retried) {
    EXPECT_GT(server_.RequestCount("/x.bin"), 1u);
  } else {
    EXPECT_EQ(1u, server_.RequestCount("/x.bin"));
  }
}

INSTANTIATE_TEST_SUITE_P(Failures, FetchwellFailureTest,
                         ::testing::Values(FailureCase{"NotFound", 404, false, -1},
                                           FailureCase{"ServerError", 500, true, -1},
                                           FailureCase{"DroppedConnection", 0, true, 100000}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FetchwellTest, CancelEndsInCancelledAndResumeFetchesOnlyTheMissingBytes) {
  const std::string body = RandomBytes(2 * 1024 * 1024, 5);
  HttpOptions slow;
  slow.bytesPerSecond = 512 * 1024;
  server_.AddBody("/game_0.exe", body, slow);
  const std::wstring target = folder_ / L"game_0.exe";
  const Report cancelled = StartAndCancel("/game_0.exe", target);
  EXPECT_EQ(FileDownloadStatus::kCancelled, cancelled.status);
  EXPECT_FALSE(zvtest::FileExists(target));
  const int64_t kept = FileSize(target + L".fwpart");
  ASSERT_GT(kept, 0);
  ASSERT_LT(kept, static_cast<int64_t>(body.size()));

  server_.ResetCounters();
  server_.SetOptions("/game_0.exe", HttpOptions{});
  RecordingSink sink;
  ASSERT_EQ(0, Start(sink, "/game_0.exe", target));
  ASSERT_TRUE(sink.WaitFinal());
  EXPECT_EQ(FileDownloadStatus::kFinished, sink.Final().status);
  EXPECT_EQ(static_cast<int64_t>(body.size()) - kept, server_.BytesServed("/game_0.exe"));
  const auto requests = server_.Requests("/game_0.exe");
  ASSERT_EQ(1u, requests.size());
  EXPECT_EQ("bytes=" + std::to_string(kept) + "-", requests[0].range);
  EXPECT_FALSE(requests[0].ifRange.empty());
  EXPECT_EQ(body, zvtest::ReadFileBytes(target));
}

TEST_F(FetchwellTest, ResumesWhatAKilledProcessLeftBehind) {
  const std::string body = RandomBytes(2 * 1024 * 1024, 6);
  HttpOptions slow;
  slow.bytesPerSecond = 256 * 1024;
  server_.AddBody("/crash/game_1.rar", body, slow);
  const std::wstring target = folder_ / L"game_1.rar";
  const std::wstring command = zv::Format(L"\"%ls\\fetchwell_cli.exe\" %hs \"%ls\" --options 0 1 1",
                                          zvtest::ProgramFolder().c_str(),
                                          server_.Url("/crash/game_1.rar").c_str(), target.c_str());
  STARTUPINFOW startup = {sizeof(startup)};
  PROCESS_INFORMATION process = {};
  std::wstring mutableCommand = command;
  ASSERT_TRUE(::CreateProcessW(nullptr, &mutableCommand[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                               nullptr, &startup, &process));
  zv::UniqueHandle processHandle(process.hProcess), threadHandle(process.hThread);
  EXPECT_TRUE(zvtest::WaitFor([&] { return FileSize(target + L".fwpart") >= 256 * 1024; }, kGenerousMs));
  ::TerminateProcess(processHandle.get(), 9);
  ::WaitForSingleObject(processHandle.get(), kGenerousMs);
  const int64_t kept = FileSize(target + L".fwpart");
  ASSERT_GT(kept, 0);

  server_.ResetCounters();
  server_.SetOptions("/crash/game_1.rar", HttpOptions{});
  RecordingSink sink;
  ASSERT_EQ(0, Start(sink, "/crash/game_1.rar", target));
  ASSERT_TRUE(sink.WaitFinal());
  EXPECT_EQ(FileDownloadStatus::kFinished, sink.Final().status);
  EXPECT_EQ(static_cast<int64_t>(body.size()) - kept, server_.BytesServed("/crash/game_1.rar"));
  EXPECT_EQ(body, zvtest::ReadFileBytes(target));
}

struct RestartCase {
  const char* name;
  bool dropRanges;     // the server stops honouring ranges
  bool changeContent;  // the server's copy changes (new ETag)
};

class FetchwellRestartTest : public FetchwellTest, public ::testing::WithParamInterface<RestartCase> {};

TEST_P(FetchwellRestartTest, RestartsFromZeroAndEndsWithTheServersCopy) {
  const RestartCase& restart = GetParam();
  std::string body = RandomBytes(1024 * 1024, 7);
  HttpOptions slow;
  slow.bytesPerSecond = 512 * 1024;
  server_.AddBody("/r.bin", body, slow);
  const std::wstring target = folder_ / L"r.bin";
  EXPECT_EQ(FileDownloadStatus::kCancelled, StartAndCancel("/r.bin", target).status);

  server_.ResetCounters();
  HttpOptions now;
  now.ranges = !restart.dropRanges;
  if (restart.changeContent) {
    body = RandomBytes(body.size() + 4321, 8);
    server_.AddBody("/r.bin", body, now);
  } else {
    server_.SetOptions("/r.bin", now);
  }
  RecordingSink sink;
  ASSERT_EQ(0, Start(sink, "/r.bin", target));
  ASSERT_TRUE(sink.WaitFinal());
  EXPECT_EQ(FileDownloadStatus::kFinished, sink.Final().status);
  EXPECT_EQ(body, zvtest::ReadFileBytes(target));
  EXPECT_EQ(static_cast<int64_t>(body.size()), server_.BytesServed("/r.bin"));
  EXPECT_EQ(1u, server_.RequestCount("/r.bin"));
}

INSTANTIATE_TEST_SUITE_P(Restarts, FetchwellRestartTest,
                         ::testing::Values(RestartCase{"ServerIgnoresRanges", true, false},
                                           RestartCase{"ContentChanged", false, true}),
                         [](const auto& info) { return std::string(info.param.name); });

class FetchwellSplitTest : public FetchwellTest, public ::testing::WithParamInterface<bool> {};

TEST_P(FetchwellSplitTest, LargeFileOverSeveralConnectionsIsByteIdentical) {
  const bool dropOneSegment = GetParam();
  const std::string body = RandomBytes(8 * 1024 * 1024 + 123, 9);
  HttpOptions options;
  options.bytesPerSecond = 8 * 1024 * 1024;
  if (dropOneSegment) {
    options.dropAtOffset = 7 * 1024 * 1024;
    options.dropTimes = 1;
  }
  server_.AddBody("/big/game_2.rar", body, options);
  const std::wstring target = folder_ / L"game_2.rar";
  RecordingSink sink;
  ASSERT_EQ(0, Start(sink, "/big/game_2.rar", target));
  ASSERT_TRUE(sink.WaitFinal(120000));
  EXPECT_EQ(FileDownloadStatus::kFinished, sink.Final().status);
  EXPECT_EQ(body, zvtest::ReadFileBytes(target));
  size_t ranged = 0;
  for (const auto& request : server_.Requests("/big/game_2.rar")) ranged += !request.range.empty();
  EXPECT_GE(ranged, dropOneSegment ? 4u : 3u);
  for (const Report& report : sink.reports()) {
    if (report.status == FileDownloadStatus::kProgress) {
      EXPECT_EQ(static_cast<int32_t>(body.size()), report.fileSize);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Split, FetchwellSplitTest, ::testing::Values(false, true),
                         [](const auto& info) { return std::string(info.param ? "DroppedSegment" : "Clean"); });

TEST_F(FetchwellTest, SplitDownloadResumesEachSegment) {
  const std::string body = RandomBytes(6 * 1024 * 1024, 10);
  HttpOptions slow;
  slow.bytesPerSecond = 512 * 1024;
  server_.AddBody("/big/game_3.rar", body, slow);
  const std::wstring target = folder_ / L"game_3.rar";
  const Report cancelled = StartAndCancel("/big/game_3.rar", target);
  ASSERT_EQ(FileDownloadStatus::kCancelled, cancelled.status);
  ASSERT_GT(cancelled.completed, 0);

  server_.ResetCounters();
  server_.SetOptions("/big/game_3.rar", HttpOptions{});
  RecordingSink sink;
  ASSERT_EQ(0, Start(sink, "/big/game_3.rar", target));
  ASSERT_TRUE(sink.WaitFinal());
  EXPECT_EQ(FileDownloadStatus::kFinished, sink.Final().status);
  EXPECT_EQ(static_cast<int64_t>(body.size()) - cancelled.completed, server_.BytesServed("/big/game_3.rar"));
  EXPECT_EQ(body, zvtest::ReadFileBytes(target));
}

TEST_F(FetchwellTest, DuplicateRequestsMakeOneTransfer) {
  const std::string body = RandomBytes(512 * 1024, 11);
  HttpOptions slow;
  slow.bytesPerSecond = 1024 * 1024;
  server_.AddBody("/dup.xml", body, slow);
  const std::wstring target = folder_ / L"dup.xml";
  RecordingSink first, second;
  ASSERT_EQ(0, Start(first, "/dup.xml", target, 2, 1, 0));
  ASSERT_EQ(0, Start(second, "/dup.xml", target, 2, 1, 0));
  ASSERT_EQ(0, Start(first, "/dup.xml", target, 2, 1, 0));
  ASSERT_TRUE(first.WaitFinal());
  ASSERT_TRUE(second.WaitFinal());
  CFileDownloadManager::Uninit();
  EXPECT_EQ(1u, server_.RequestCount("/dup.xml"));
  for (const RecordingSink* sink : {&first, &second}) {
    EXPECT_EQ(1u, sink->FinalCount());
    EXPECT_EQ(FileDownloadStatus::kFinished, sink->Final().status);
  }
  EXPECT_EQ(body, zvtest::ReadFileBytes(target));
}

TEST_F(FetchwellTest, ASinkMayStartAndCancelDownloadsFromItsCallback) {
  server_.AddBody("/part0.exe", RandomBytes(200000, 12));
  const std::string next = RandomBytes(150000, 13);
  server_.AddBody("/part1.rar", next);
  const std::string nextUrl = server_.Url("/part1.rar");
  const std::string nextPath = zv::ToCodePage(folder_ / L"part1.rar", CP_ACP);
  RecordingSink nextSink, sink;
  sink.hook = [&](const FileDownloadStatus& status) {
    CFileDownloadManager::CancelDownloadFile("http://127.0.0.1:1/not-running");
    if (status.status == FileDownloadStatus::kFinished) {
      const FileDownloadSetting setting = {nextUrl.c_str(), 0, 1, 1, nextPath.c_str()};
      CFileDownloadManager::DownloadFile(&nextSink, &setting);
    }
  };
  ASSERT_EQ(0, Start(sink, "/part0.exe", folder_ / L"part0.exe"));
  ASSERT_TRUE(nextSink.WaitFinal());
  EXPECT_EQ(FileDownloadStatus::kFinished, nextSink.Final().status);
  EXPECT_EQ(next, zvtest::ReadFileBytes(folder_ / L"part1.rar"));
}

TEST_F(FetchwellTest, UninitStopsRunningDownloadsAndNothingIsReportedAfterwards) {
  HttpOptions slow;
  slow.bytesPerSecond = 64 * 1024;
  std::vector<std::unique_ptr<RecordingSink>> sinks;
  for (int i = 0; i < 6; ++i) {
    const std::string path = "/slow" + std::to_string(i) + ".bin";
    server_.AddBody(path, RandomBytes(4 * 1024 * 1024, 20 + i), slow);
    sinks.push_back(std::make_unique<RecordingSink>());
    ASSERT_EQ(0, Start(*sinks.back(), path, folder_ / zv::FromUtf8(path.substr(1))));
  }
  ASSERT_TRUE(zvtest::WaitFor([&] { return sinks[0]->LastCompleted() > 0; }, kGenerousMs));
  EXPECT_EQ(0, CFileDownloadManager::Uninit());
  std::vector<size_t> counts;
  for (const auto& sink : sinks) {
    EXPECT_EQ(1u, sink->FinalCount());
    EXPECT_EQ(FileDownloadStatus::kCancelled, sink->Final().status);
    counts.push_back(sink->reports().size());
  }
  ::Sleep(500);
  for (size_t i = 0; i < sinks.size(); ++i) EXPECT_EQ(counts[i], sinks[i]->reports().size());
}

}  // namespace
