// The emulator manager with the real download engine, a loopback server,
// archives written with minizip's writer and game information loaded into
// real data containers. The manager is one per process and keeps its
// records, so every test names emulators of its own.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "common/handles.h"
#include "common/locations.h"
#include "common/settings.h"
#include "containers/container_binding.h"
#include "emulator/emulator_mgr.h"
#include "http_server.h"
#include "pc_hall/pc_game_logic.h"
#include "test_support.h"
#include "zip_writer.h"

namespace {

using zv::CEmulatorMgr;

constexpr DWORD kDownloadTimeoutMs = 20000;
// Long enough for a download that should not happen to show up at the server.
constexpr DWORD kQuietMs = 300;

class RecordingListener : public zv::EmulatorEvent {
 public:
  void OnEmulatorReady() override { ++told_; }
  int told() const { return told_; }

 private:
  std::atomic<int> told_{0};
};

struct GameEntries {
  std::string name;  // "runFlat"
  std::string url;   // "downloadUrl"
  std::string startFile = "nes.exe";
  std::string package = "hero.nes";
};

// A game information container as the hall loads it from "game.xml"; empty
// values leave their attribute out.
zv::ComPtr<IQuiverItem> Information(const std::string& gameId, const GameEntries& entries) {
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><game" + gameId + " name=\"Hero\"";
  for (const auto& [key, value] : {std::pair<const char*, const std::string&>{"runFlat", entries.name},
                                   {"downloadUrl", entries.url},
                                   {"emuStartFile", entries.startFile},
                                   {"pkgName", entries.package}}) {
    if (!value.empty()) xml += std::string(" ") + key + "=\"" + value + "\"";
  }
  xml += "/>";
  zv::ComPtr<IQuiverItem> information = zv::NewContainer();
  EXPECT_TRUE(information);
  if (!information) return information;
  EXPECT_EQ(S_OK, information->SetSerializeMode(zv::kSerializeXml));
  EXPECT_EQ(S_OK, information->SetLoadOption(zv::kLoadOptionAttributeRecords, TRUE));
  EXPECT_TRUE(zv::Load(information.get(), xml.data(), xml.size())) << xml;
  return information;
}

std::wstring Wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

class EmulatorMgrTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.running());
    ASSERT_EQ(S_OK, zv::Settings().WriteString(L"Setting", L"StorePath", store_.path()));
    ASSERT_EQ(S_OK, zv::ComObject<CPCGameLogic>::Create(IID_IPCGameLogic, hallObject_.put_void()));
    hall_ = static_cast<CPCGameLogic*>(hallObject_.get());
    ASSERT_EQ(store_.path(), hall_->StorePath());
    manager().SetHall(hall_);
    emulator_ = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    archiveUrlPath_ = "/emu/" + emulator_ + ".zip";
  }
  void TearDown() override { manager().SetHall(nullptr); }

  static CEmulatorMgr& manager() { return CEmulatorMgr::Instance(); }

  GameEntries Entries() const { return {emulator_, server_.Url(archiveUrlPath_)}; }
  std::wstring EmulatorFolder() const { return store_.path() + L"\\Emu\\" + Wide(emulator_); }
  std::wstring Program() const { return EmulatorFolder() + L"\\nes.exe"; }
  std::wstring ArchiveOnDisk() const { return store_.path() + L"\\Download\\Emu\\" + Wide(emulator_); }
  size_t ArchiveRequests() const { return server_.RequestCount(archiveUrlPath_); }

  // An emulator archive: "<emulator>\nes.exe" (the stand-in program) and an
  // empty "<emulator>\roms\".
  std::wstring MakeArchive(const std::wstring& name) const {
    const std::wstring path = store_ / name;
    const std::string program = zvtest::ReadFileBytes(zvtest::ProgramFolder() + L"\\emu_standin.exe");
    EXPECT_FALSE(program.empty());
    EXPECT_TRUE(zvtest::WriteZip(path, {{emulator_ + "/nes.exe", program}, {emulator_ + "/roms/", ""}}));
    return path;
  }
  // Serves the archive at a pace that keeps it in flight for about a second.
  void ServeArchiveSlowly() {
    const std::wstring archive = MakeArchive(L"served.zip");
    zvtest::HttpOptions slow;
    slow.bytesPerSecond = static_cast<int64_t>(zvtest::ReadFileBytes(archive).size());
    server_.AddFile(archiveUrlPath_, archive, slow);
  }
  void ServeArchive() { server_.AddFile(archiveUrlPath_, MakeArchive(L"served.zip")); }

  zvtest::TempFolder store_{L"emustore"};
  zvtest::HttpServer server_;
  zv::ComPtr<IPCGameLogic> hallObject_;
  CPCGameLogic* hall_ = nullptr;
  std::string emulator_;
  std::string archiveUrlPath_;
};

TEST_F(EmulatorMgrTest, TwoGamesSharingAnEmulatorCauseOneDownloadAndBothAreToldOnce) {
  ServeArchiveSlowly();
  const auto first = Information("101", Entries());
  const auto second = Information("102", Entries());
  RecordingListener firstGame;
  RecordingListener secondGame;

  EXPECT_EQ(CEmulatorMgr::kDownloading, manager().EnsureEmulator(L"101", first.get(), &firstGame));
  EXPECT_EQ(CEmulatorMgr::kDownloading, manager().EnsureEmulator(L"102", second.get(), &secondGame));
  EXPECT_EQ(CEmulatorMgr::kDownloading, manager().EnsureEmulator(L"101", first.get(), &firstGame));

  ASSERT_TRUE(zvtest::WaitFor([&] { return firstGame.told() > 0 && secondGame.told() > 0; }, kDownloadTimeoutMs));
  EXPECT_EQ(1, firstGame.told());
  EXPECT_EQ(1, secondGame.told());
  EXPECT_EQ(1u, ArchiveRequests());
  EXPECT_TRUE(zvtest::FileExists(ArchiveOnDisk()));
  EXPECT_EQ(Program(), manager().GetEmulatorProgram(L"101", first.get()));
  EXPECT_EQ(zvtest::ReadFileBytes(zvtest::ProgramFolder() + L"\\emu_standin.exe"), zvtest::ReadFileBytes(Program()));

  // Asking again once it is ready answers at once and tells nobody again.
  RecordingListener laterGame;
  EXPECT_EQ(CEmulatorMgr::kReady, manager().EnsureEmulator(L"101", first.get(), &firstGame));
  EXPECT_EQ(CEmulatorMgr::kReady, manager().EnsureEmulator(L"103", Information("103", Entries()).get(), &laterGame));
  EXPECT_EQ(0, laterGame.told());
  EXPECT_EQ(1, firstGame.told());
  EXPECT_EQ(1u, ArchiveRequests());
}

TEST_F(EmulatorMgrTest, PresentProgramAnswersReadyWithoutDownload) {
  ServeArchive();
  ASSERT_EQ(S_OK, zv::CreateFolderTree(EmulatorFolder()));
  ASSERT_TRUE(zvtest::WriteFileBytes(Program(), "MZ"));
  RecordingListener game;

  EXPECT_EQ(CEmulatorMgr::kReady, manager().EnsureEmulator(L"201", Information("201", Entries()).get(), &game));
  ::Sleep(kQuietMs);
  EXPECT_EQ(0u, ArchiveRequests());
  EXPECT_EQ(0, game.told());
  EXPECT_EQ("MZ", zvtest::ReadFileBytes(Program()));
}

TEST_F(EmulatorMgrTest, ArchiveLeftOnDiskIsUnpackedWithoutDownload) {
  ServeArchive();
  ASSERT_EQ(S_OK, zv::CreateFolderTree(store_.path() + L"\\Download\\Emu"));
  ASSERT_TRUE(::MoveFileW(MakeArchive(L"left.zip").c_str(), ArchiveOnDisk().c_str()));
  RecordingListener game;

  EXPECT_EQ(CEmulatorMgr::kReady, manager().EnsureEmulator(L"301", Information("301", Entries()).get(), &game));
  EXPECT_TRUE(zvtest::FileExists(Program()));
  EXPECT_TRUE(::GetFileAttributesW((EmulatorFolder() + L"\\roms").c_str()) & FILE_ATTRIBUTE_DIRECTORY);
  ::Sleep(kQuietMs);
  EXPECT_EQ(0u, ArchiveRequests());
  EXPECT_EQ(0, game.told());
}

TEST_F(EmulatorMgrTest, ArchiveOnDiskThatDoesNotUnpackIsFetchedAfresh) {
  ServeArchive();
  ASSERT_EQ(S_OK, zv::CreateFolderTree(store_.path() + L"\\Download\\Emu"));
  ASSERT_TRUE(zvtest::WriteFileBytes(ArchiveOnDisk(), "PK but no archive"));
  RecordingListener game;

  EXPECT_EQ(CEmulatorMgr::kDownloading,
            manager().EnsureEmulator(L"401", Information("401", Entries()).get(), &game));
  ASSERT_TRUE(zvtest::WaitFor([&] { return game.told() > 0; }, kDownloadTimeoutMs));
  EXPECT_EQ(1, game.told());
  EXPECT_EQ(1u, ArchiveRequests());
  EXPECT_TRUE(zvtest::FileExists(Program()));
}

TEST_F(EmulatorMgrTest, FailedDownloadKeepsGamesWaitingUntilALaterRequestSucceeds) {
  server_.AddStatus(archiveUrlPath_, 404);
  const auto information = Information("501", Entries());
  const auto otherInformation = Information("502", Entries());
  RecordingListener firstGame;
  RecordingListener secondGame;

  EXPECT_EQ(CEmulatorMgr::kDownloading, manager().EnsureEmulator(L"501", information.get(), &firstGame));
  // Each failure ends that download; the next game that asks starts another.
  ASSERT_TRUE(zvtest::WaitFor([&] {
    EXPECT_EQ(CEmulatorMgr::kDownloading, manager().EnsureEmulator(L"502", otherInformation.get(), &secondGame));
    return ArchiveRequests() >= 2;
  }, kDownloadTimeoutMs));
  EXPECT_EQ(0, firstGame.told());
  EXPECT_EQ(0, secondGame.told());
  EXPECT_FALSE(zvtest::FileExists(Program()));

  ServeArchive();
  ASSERT_TRUE(zvtest::WaitFor([&] {
    manager().EnsureEmulator(L"501", information.get(), &firstGame);
    return firstGame.told() > 0 && secondGame.told() > 0;
  }, kDownloadTimeoutMs));
  EXPECT_EQ(1, firstGame.told());
  EXPECT_EQ(1, secondGame.told());
  EXPECT_TRUE(zvtest::FileExists(Program()));
  EXPECT_EQ(CEmulatorMgr::kReady, manager().EnsureEmulator(L"502", otherInformation.get(), &secondGame));
}

TEST_F(EmulatorMgrTest, IncompleteOrUnsafeEntriesNameNoEmulator) {
  ServeArchive();
  struct Case {
    const char* label;
    GameEntries entries;
  };
  const std::string url = server_.Url(archiveUrlPath_);
  const Case cases[] = {
      {"no package", {emulator_, url, "nes.exe", ""}},
      {"no name", {"", url, "nes.exe", "hero.nes"}},
      {"no url", {emulator_, "", "nes.exe", "hero.nes"}},
      {"name climbing out", {"..\\..\\" + emulator_, url, "nes.exe", "hero.nes"}},
      {"name with a drive", {"C:" + emulator_, url, "nes.exe", "hero.nes"}},
      {"name of dots", {"..", url, "nes.exe", "hero.nes"}},
      {"package climbing out", {emulator_, url, "nes.exe", "..\\hero.nes"}},
  };
  RecordingListener game;
  for (const Case& test : cases) {
    SCOPED_TRACE(test.label);
    const auto information = Information("601", test.entries);
    EXPECT_EQ(CEmulatorMgr::kNoEmulator, manager().EnsureEmulator(L"601", information.get(), &game));
    manager().RemoveListener(L"601", information.get(), &game);
  }
  EXPECT_EQ(CEmulatorMgr::kNoEmulator, manager().EnsureEmulator(L"601", nullptr, &game));
  // Information about another game id names nothing for this one.
  EXPECT_EQ(CEmulatorMgr::kNoEmulator, manager().EnsureEmulator(L"602", Information("601", Entries()).get(), &game));
  ::Sleep(kQuietMs);
  EXPECT_EQ(0u, ArchiveRequests());
  EXPECT_FALSE(zvtest::FileExists(store_.path() + L"\\Download"));
  EXPECT_EQ(0, game.told());
}

TEST_F(EmulatorMgrTest, WithoutAHallNothingIsPlaced) {
  ServeArchive();
  const auto information = Information("701", Entries());
  manager().SetHall(nullptr);
  RecordingListener game;

  EXPECT_EQ(CEmulatorMgr::kNoEmulator, manager().EnsureEmulator(L"701", information.get(), &game));
  EXPECT_EQ(L"", manager().GetEmulatorProgram(L"701", information.get()));
  EXPECT_EQ(L"", manager().GetRomFolder(L"701", information.get()));
  ::Sleep(kQuietMs);
  EXPECT_EQ(0u, ArchiveRequests());
}

TEST_F(EmulatorMgrTest, PathsComeFromTheInformation) {
  struct Case {
    const char* label;
    GameEntries entries;
    std::wstring program;    // relative to the store path; empty: none
    std::wstring romFolder;  // relative to the store path; empty: none
  };
  const Case cases[] = {
      {"complete", {"fcemu", "http://h/a.zip", "bin\\fce.exe", "hero.nes"}, L"\\Emu\\fcemu\\bin\\fce.exe",
       L"\\Emu\\fcemu\\roms"},
      {"no url or package", {"fcemu", "", "fce.exe", ""}, L"\\Emu\\fcemu\\fce.exe", L"\\Emu\\fcemu\\roms"},
      {"no start file", {"fcemu", "http://h/a.zip", "", "hero.nes"}, L"", L"\\Emu\\fcemu\\roms"},
      {"start file climbing out", {"fcemu", "http://h/a.zip", "..\\..\\fce.exe", "hero.nes"}, L"",
       L"\\Emu\\fcemu\\roms"},
      {"absolute start file", {"fcemu", "http://h/a.zip", "\\fce.exe", "hero.nes"}, L"", L"\\Emu\\fcemu\\roms"},
      {"no name", {"", "http://h/a.zip", "fce.exe", "hero.nes"}, L"", L""},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.label);
    const auto information = Information("801", test.entries);
    EXPECT_EQ(test.program.empty() ? L"" : store_.path() + test.program,
              manager().GetEmulatorProgram(L"801", information.get()));
    EXPECT_EQ(test.romFolder.empty() ? L"" : store_.path() + test.romFolder,
              manager().GetRomFolder(L"801", information.get()));
  }
}

TEST_F(EmulatorMgrTest, RemovedListenerIsNotTold) {
  ServeArchiveSlowly();
  const auto information = Information("901", Entries());
  const auto otherInformation = Information("902", Entries());
  RecordingListener staying;
  RecordingListener leaving;
  EXPECT_EQ(CEmulatorMgr::kDownloading, manager().EnsureEmulator(L"901", information.get(), &staying));
  EXPECT_EQ(CEmulatorMgr::kDownloading, manager().EnsureEmulator(L"902", otherInformation.get(), &leaving));

  manager().RemoveListener(L"902", otherInformation.get(), &leaving);
  manager().RemoveListener(L"902", otherInformation.get(), nullptr);

  ASSERT_TRUE(zvtest::WaitFor([&] { return staying.told() > 0; }, kDownloadTimeoutMs));
  EXPECT_EQ(1, staying.told());
  EXPECT_EQ(0, leaving.told());
}

// Calls back into the manager from its notice, as a game item does, and
// leaves the list from there.
class CallingBackListener : public zv::EmulatorEvent {
 public:
  CallingBackListener(std::wstring gameId, IQuiverItem* information)
      : gameId_(std::move(gameId)), information_(information) {}
  void OnEmulatorReady() override {
    CEmulatorMgr& manager = CEmulatorMgr::Instance();
    program_ = manager.GetEmulatorProgram(gameId_, information_);
    answer_ = manager.EnsureEmulator(gameId_, information_, this);
    manager.RemoveListener(gameId_, information_, this);
    ++told_;
  }
  int told() const { return told_; }
  int answer() const { return answer_; }
  const std::wstring& program() const { return program_; }

 private:
  std::wstring gameId_;
  IQuiverItem* information_;
  std::wstring program_;
  int answer_ = -1;
  std::atomic<int> told_{0};
};

TEST_F(EmulatorMgrTest, ListenerMayCallBackIntoTheManager) {
  ServeArchiveSlowly();
  const auto information = Information("1001", Entries());
  CallingBackListener callingBack(L"1001", information.get());
  RecordingListener after;
  EXPECT_EQ(CEmulatorMgr::kDownloading, manager().EnsureEmulator(L"1001", information.get(), &callingBack));
  EXPECT_EQ(CEmulatorMgr::kDownloading,
            manager().EnsureEmulator(L"1002", Information("1002", Entries()).get(), &after));

  ASSERT_TRUE(zvtest::WaitFor([&] { return callingBack.told() > 0 && after.told() > 0; }, kDownloadTimeoutMs));
  EXPECT_EQ(1, callingBack.told());
  EXPECT_EQ(1, after.told());
  EXPECT_EQ(Program(), callingBack.program());
  EXPECT_EQ(CEmulatorMgr::kReady, callingBack.answer());
}

// Stays inside its notice until released, and notes when it has left.
class BlockingListener : public zv::EmulatorEvent {
 public:
  BlockingListener() : entered_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)),
                       release_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  void OnEmulatorReady() override {
    ::SetEvent(entered_.get());
    ::WaitForSingleObject(release_.get(), kDownloadTimeoutMs);
    left_ = true;
  }
  HANDLE entered() const { return entered_.get(); }
  void Release() { ::SetEvent(release_.get()); }
  bool left() const { return left_; }

 private:
  zv::UniqueHandle entered_;
  zv::UniqueHandle release_;
  std::atomic<bool> left_{false};
};

TEST_F(EmulatorMgrTest, RemoveListenerWaitsForItsRunningNotice) {
  ServeArchive();
  const auto information = Information("1101", Entries());
  BlockingListener blocking;
  ASSERT_TRUE(blocking.entered());
  EXPECT_EQ(CEmulatorMgr::kDownloading, manager().EnsureEmulator(L"1101", information.get(), &blocking));
  ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(blocking.entered(), kDownloadTimeoutMs));

  std::atomic<bool> leftBeforeReturn{false};
  std::thread remover([&] {
    manager().RemoveListener(L"1101", information.get(), &blocking);
    leftBeforeReturn = blocking.left();
  });
  ::Sleep(kQuietMs);
  blocking.Release();
  remover.join();
  EXPECT_TRUE(leftBeforeReturn);
}

TEST_F(EmulatorMgrTest, GameAskingAgainWhileNoticesRunHearsOnce) {
  ServeArchive();
  const auto firstInformation = Information("1201", Entries());
  const auto secondInformation = Information("1202", Entries());
  BlockingListener blocking;
  RecordingListener waiting;
  ASSERT_TRUE(blocking.entered());
  EXPECT_EQ(CEmulatorMgr::kDownloading, manager().EnsureEmulator(L"1201", firstInformation.get(), &blocking));
  EXPECT_EQ(CEmulatorMgr::kDownloading, manager().EnsureEmulator(L"1202", secondInformation.get(), &waiting));
  ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(blocking.entered(), kDownloadTimeoutMs));

  // Ready now, but both still hear of it from the manager alone.
  EXPECT_EQ(CEmulatorMgr::kDownloading, manager().EnsureEmulator(L"1201", firstInformation.get(), &blocking));
  EXPECT_EQ(CEmulatorMgr::kDownloading, manager().EnsureEmulator(L"1202", secondInformation.get(), &waiting));
  blocking.Release();
  ASSERT_TRUE(zvtest::WaitFor([&] { return waiting.told() > 0; }, kDownloadTimeoutMs));
  EXPECT_EQ(1, waiting.told());
  EXPECT_EQ(CEmulatorMgr::kReady, manager().EnsureEmulator(L"1202", secondInformation.get(), &waiting));
  EXPECT_EQ(1, waiting.told());
}

}  // namespace
