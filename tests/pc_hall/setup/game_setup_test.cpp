// CGameSetup with a real setup program (fake_setup.exe), real folders, the
// real registry and regedit, and the test thread as the owning thread.
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <memory>
#include <string>
#include <vector>

#include "common/locations.h"
#include "common/text.h"
#include "setup/game_setup.h"
#include "test_support.h"

namespace {

constexpr wchar_t kGameId[] = L"123";
constexpr DWORD kSetupTimeoutMs = 60000;

struct SetupResult {
  std::wstring gameId;
  int status;
  bool hasFolder;
  std::wstring folder;
};

class RecordingSink : public zv::GameSetupEvent {
 public:
  void OnSetupResult(const wchar_t* gameId, int status, const wchar_t* folder) override {
    EXPECT_EQ(::GetCurrentThreadId(), ownerThread_);
    results.push_back({gameId, status, folder != nullptr, folder ? folder : L""});
  }
  void OnSetupProgress(const wchar_t* gameId, int percent) override {
    EXPECT_EQ(::GetCurrentThreadId(), ownerThread_);
    EXPECT_STREQ(kGameId, gameId);
    progress.push_back(percent);
  }
  std::wstring GetPartFileName(const std::wstring& partName) override {
    if (partName == L"123_0") return L"123_0.exe";
    if (partName == L"123_1") return L"123_1.rar";
    if (partName == L"123_p0") return L"123_p0.rar";
    return std::wstring();
  }

  std::vector<SetupResult> results;
  std::vector<int> progress;

 private:
  DWORD ownerThread_ = ::GetCurrentThreadId();
};

struct FakeSetupOrders {
  int files = 3;
  int size = 4096;
  int pauseMs = 300;
  int holdMs = 0;
  int exitCode = 0;
  std::wstring regKey;
};

class GameSetupTest : public ::testing::Test {
 protected:
  explicit GameSetupTest(const std::wstring& tag = L"setup") : store_(tag) {}

  void SetUp() override { ASSERT_EQ(S_OK, setup_->Create(&sink_)); }
  void TearDown() override {
    if (!setupProgram_.empty()) zvtest::WriteFileBytes(setupProgram_ + L".stop", "");
    if (setup_) setup_->Shutdown();
    if (!regKey_.empty()) ::RegDeleteTreeW(HKEY_CURRENT_USER, regKey_.c_str());
  }

  std::wstring GamesFolder() const { return store_.path() + L"\\Games"; }
  std::wstring InstallFolder() const { return GamesFolder() + L"\\123\\123\\"; }

  // Places the setup program as the game's first download part with its orders.
  void PrepareSetupProgram(const FakeSetupOrders& orders) {
    setupProgram_ = store_.path() + L"\\Download\\123\\123_0.exe";
    zv::CreateFolderTree(store_.path() + L"\\Download\\123");
    ASSERT_TRUE(::CopyFileW((zvtest::ProgramFolder() + L"\\fake_setup.exe").c_str(), setupProgram_.c_str(), FALSE));
    const std::string config = "[setup]\r\nfolder=123\\123\r\nfiles=" + std::to_string(orders.files) +
                               "\r\nsize=" + std::to_string(orders.size) + "\r\npauseMs=" +
                               std::to_string(orders.pauseMs) + "\r\nholdMs=" + std::to_string(orders.holdMs) +
                               "\r\nexit=" + std::to_string(orders.exitCode) + "\r\nregKey=" +
                               zv::ToUtf8(orders.regKey) + "\r\n";
    ASSERT_TRUE(zvtest::WriteFileBytes(setupProgram_ + L".cfg", config));
  }

  HRESULT Start(unsigned long long expectedSize) {
    const zv::SetupRequest request = {kGameId, setupProgram_.c_str(), installFolderText_.c_str(), expectedSize};
    return setup_->StartSetup(request);
  }

  // Waits for the first result, then a little longer to catch a second one.
  void WaitForResult() {
    ASSERT_TRUE(zvtest::WaitFor([this] { return !sink_.results.empty(); }, kSetupTimeoutMs));
    zvtest::WaitFor([] { return false; }, 1500);
  }

  std::wstring UniqueRegKey() {
    regKey_ = zv::Format(L"Software\\ZorvanixTest\\Setup%lu", ::GetCurrentProcessId());
    return regKey_;
  }

  zvtest::TempFolder store_;
  RecordingSink sink_;
  std::unique_ptr<zv::CGameSetup> setup_ = std::make_unique<zv::CGameSetup>();
  std::wstring setupProgram_;
  std::wstring installFolderText_ = InstallFolder();
  std::wstring regKey_;
};

std::wstring ReadRegString(const std::wstring& key, const wchar_t* name, DWORD* type) {
  wchar_t value[2048] = {};
  DWORD bytes = sizeof(value);
  const LONG status = ::RegGetValueW(HKEY_CURRENT_USER, key.c_str(), name, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND,
                                     type, value, &bytes);
  return status == ERROR_SUCCESS ? value : L"<missing>";
}

class SetupRunTest : public GameSetupTest, public ::testing::WithParamInterface<const wchar_t*> {
 protected:
  SetupRunTest() : GameSetupTest(GetParam()) {}
};

// A full run: progress ticks while the program writes, then the registry
// import with the game folder filled in, then exactly one success.
TEST_P(SetupRunTest, ReportsProgressImportsRegistryAndSucceedsOnce) {
  FakeSetupOrders orders;
  orders.files = 4;
  orders.pauseMs = 400;
  orders.holdMs = 1500;
  orders.regKey = UniqueRegKey();
  PrepareSetupProgram(orders);
  ASSERT_EQ(S_OK, Start(4u * 4096u));
  WaitForResult();

  ASSERT_EQ(1u, sink_.results.size());
  EXPECT_EQ(kGameId, sink_.results[0].gameId);
  EXPECT_EQ(zv::kSetupSucceeded, sink_.results[0].status);
  EXPECT_TRUE(sink_.results[0].hasFolder);
  EXPECT_EQ(GamesFolder(), sink_.results[0].folder);

  ASSERT_FALSE(sink_.progress.empty());
  for (size_t i = 0; i < sink_.progress.size(); ++i) {
    EXPECT_GE(sink_.progress[i], 0);
    EXPECT_LE(sink_.progress[i], 99);
    if (i > 0) {
      EXPECT_GE(sink_.progress[i], sink_.progress[i - 1]);
    }
  }
  EXPECT_GE(sink_.progress.back(), 50) << "three of four files were written before the hold";

  const std::wstring home = GamesFolder() + L"\\123\\123";
  DWORD type = 0;
  EXPECT_EQ(home + L"\\game.exe", ReadRegString(regKey_, L"Path", &type));
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
  EXPECT_EQ(home + L"\\b", ReadRegString(regKey_, L"Expand", &type));
  EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), type);
  EXPECT_EQ(zv::RemoveTrailingBackslash(zv::GetSpecialFolder(CSIDL_PROFILE)), ReadRegString(regKey_, L"Profile", &type));
  wchar_t windows[MAX_PATH] = {};
  ::GetWindowsDirectoryW(windows, MAX_PATH);
  EXPECT_EQ(std::wstring(windows, 2), ReadRegString(regKey_, L"Drive", &type));
  EXPECT_TRUE(zvtest::FileExists(home + L"\\GameReg\\game.reg.reg.reg")) << "the written script stays";
}

// The second folder name does not fit the ANSI code page of the test run, so
// the written script must carry it in UTF-16.
INSTANTIATE_TEST_SUITE_P(Folders, SetupRunTest, ::testing::Values(L"setup", L"setup_\u6e38\u620f"));

TEST_F(GameSetupTest, FailingSetupReportsFailureOnceWithoutImport) {
  struct Case {
    const char* name;
    bool programExists;
    int exitCode;
  };
  for (const Case& c : {Case{"exit code 7", true, 7}, Case{"program missing", false, 0}}) {
    SCOPED_TRACE(c.name);
    sink_.results.clear();
    FakeSetupOrders orders;
    orders.files = 1;
    orders.exitCode = c.exitCode;
    orders.regKey = UniqueRegKey();
    PrepareSetupProgram(orders);
    if (!c.programExists) ::DeleteFileW(setupProgram_.c_str());
    ASSERT_EQ(S_OK, Start(4096));
    WaitForResult();
    ASSERT_EQ(1u, sink_.results.size());
    EXPECT_EQ(zv::kSetupFailed, sink_.results[0].status);
    EXPECT_EQ(GamesFolder(), sink_.results[0].folder);
    HKEY key = nullptr;
    EXPECT_NE(ERROR_SUCCESS, ::RegOpenKeyExW(HKEY_CURRENT_USER, regKey_.c_str(), 0, KEY_READ, &key));
  }
}

TEST_F(GameSetupTest, StartWithMissingStringIsRefusedWithoutReport) {
  const std::wstring program = L"x.exe";
  const std::wstring folder = InstallFolder();
  const zv::SetupRequest requests[] = {{nullptr, program.c_str(), folder.c_str(), 1},
                                       {kGameId, nullptr, folder.c_str(), 1},
                                       {kGameId, program.c_str(), nullptr, 1}};
  for (const zv::SetupRequest& request : requests) EXPECT_EQ(E_FAIL, setup_->StartSetup(request));
  zvtest::WaitFor([] { return false; }, 300);
  EXPECT_TRUE(sink_.results.empty());
}

// Cancelling: the program is killed, its run reports failure, the installed
// files go and the folders and download parts stay.
TEST_F(GameSetupTest, TerminateKillsSetupAndKeepsFoldersAndParts) {
  FakeSetupOrders orders;
  orders.files = 2;
  orders.pauseMs = 0;
  orders.holdMs = 60000;
  PrepareSetupProgram(orders);
  ASSERT_EQ(S_OK, Start(8192));
  const std::wstring game = InstallFolder();
  ASSERT_TRUE(zvtest::WaitFor([&] { return zvtest::FileExists(game + L"data1.bin"); }, kSetupTimeoutMs));
  for (const wchar_t* name : {L"123_0.exe", L"123_1.rar", L"sub\\123_p0.rar", L"sub\\other.txt", L"other.txt"}) {
    ASSERT_TRUE(zvtest::WriteFileBytes(game + name, "part"));
  }

  EXPECT_EQ(S_OK, setup_->Terminate(FALSE));
  ASSERT_TRUE(zvtest::WaitFor([this] { return !sink_.results.empty(); }, 10000)) << "the killed run reports";
  zvtest::WaitFor([] { return false; }, 500);
  ASSERT_EQ(1u, sink_.results.size());
  EXPECT_EQ(zv::kSetupFailed, sink_.results[0].status);

  EXPECT_TRUE(zv::PathExists(game + L"sub"));
  EXPECT_TRUE(zvtest::FileExists(game + L"123_0.exe")) << "parts numbered 0 are kept too";
  EXPECT_TRUE(zvtest::FileExists(game + L"123_1.rar"));
  EXPECT_TRUE(zvtest::FileExists(game + L"sub\\123_p0.rar"));
  EXPECT_FALSE(zvtest::FileExists(game + L"data0.bin"));
  EXPECT_FALSE(zvtest::FileExists(game + L"data1.bin"));
  EXPECT_FALSE(zvtest::FileExists(game + L"other.txt"));
  EXPECT_FALSE(zvtest::FileExists(game + L"sub\\other.txt"));
}

// Shutdown while a run waits on its program: the worker is woken and sends
// its failure report while the owning thread waits for it; that must neither
// deadlock nor reach the sink.
TEST_F(GameSetupTest, ShutdownDuringRunWaitsForWorkerWithoutReporting) {
  FakeSetupOrders orders;
  orders.files = 1;
  orders.holdMs = 60000;
  PrepareSetupProgram(orders);
  ASSERT_EQ(S_OK, Start(4096));
  ASSERT_TRUE(zvtest::WaitFor([&] { return zvtest::FileExists(InstallFolder() + L"data0.bin"); }, kSetupTimeoutMs));
  const ULONGLONG before = ::GetTickCount64();
  EXPECT_EQ(S_OK, setup_->Shutdown());
  EXPECT_LT(::GetTickCount64() - before, 10000u);
  setup_.reset();
  zvtest::WaitFor([] { return false; }, 300);
  EXPECT_TRUE(sink_.results.empty());
}

class UninstallTest : public GameSetupTest {
 protected:
  std::wstring GameFolder(const std::wstring& name) const { return GamesFolder() + L"\\" + name + L"\\" + name + L"\\"; }

  void BuildInstalledGame(const std::wstring& name) {
    const std::wstring game = GameFolder(name);
    for (const wchar_t* file : {L"game.exe", L"123_1.rar", L"Saves\\slot1.dat"}) {
      ASSERT_TRUE(zvtest::WriteFileBytes(game + file, "data"));
    }
    ASSERT_TRUE(zvtest::WriteFileBytes(GamesFolder() + L"\\" + name + L"\\Other\\readme.txt", "data"));
    const std::wstring key = UniqueRegKey();
    ASSERT_EQ(ERROR_SUCCESS, ::RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), L"Path", REG_SZ, L"x", 4));
    ASSERT_TRUE(zvtest::WriteFileBytes(game + L"GameReg\\gameUninst.reg.reg",
                                       "Windows Registry Editor Version 5.00\r\n\r\n[-HKEY_CURRENT_USER\\" +
                                           zv::ToUtf8(key) + "]\r\n"));
  }

  bool RegKeyExists() const {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, regKey_.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    ::RegCloseKey(key);
    return true;
  }
};

TEST_F(UninstallTest, RemovesFilesKeepsGameFoldersAndPartsAndImportsScript) {
  BuildInstalledGame(L"Name");
  const std::wstring folder = GameFolder(L"Name");
  const zv::UninstallRequest request = {kGameId, folder.c_str(), L"Name"};
  EXPECT_EQ(S_OK, setup_->Uninstall(request));

  ASSERT_EQ(1u, sink_.results.size()) << "reported before Uninstall returns";
  EXPECT_EQ(zv::kUninstallSucceeded, sink_.results[0].status);
  EXPECT_FALSE(sink_.results[0].hasFolder);
  EXPECT_FALSE(RegKeyExists());
  EXPECT_TRUE(zv::PathExists(folder));
  EXPECT_TRUE(zvtest::FileExists(folder + L"123_1.rar"));
  EXPECT_FALSE(zvtest::FileExists(folder + L"game.exe"));
  EXPECT_FALSE(zv::PathExists(folder + L"Saves"));
  EXPECT_FALSE(zv::PathExists(GamesFolder() + L"\\Name\\Other"));
}

TEST_F(UninstallTest, FolderNotNamedLikeTheGameIsLeftAlone) {
  BuildInstalledGame(L"Name");
  struct Case {
    std::wstring folder;
    const wchar_t* name;
  };
  const Case cases[] = {{GameFolder(L"Name"), L"Else"},
                        {GameFolder(L"Name"), L""},
                        {GameFolder(L"Name"), L"am"},
                        {GamesFolder() + L"\\Name\\..\\..\\", L".."},
                        {GamesFolder() + L"\\Name\\Name\\", L"Name\\Name"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(zv::ToUtf8(c.folder + L" / " + c.name));
    const zv::UninstallRequest request = {kGameId, c.folder.c_str(), c.name};
    EXPECT_EQ(E_FAIL, setup_->Uninstall(request));
  }
  EXPECT_TRUE(sink_.results.empty());
  EXPECT_TRUE(zvtest::FileExists(GameFolder(L"Name") + L"game.exe"));
  EXPECT_TRUE(zvtest::FileExists(GamesFolder() + L"\\Name\\Other\\readme.txt"));
}

TEST(GameSetupProgress, PercentOfExpectedSize) {
  struct Case {
    unsigned long long observed, expected;
    int percent;
  };
  for (const Case& c : {Case{500, 1000, 50}, Case{1500, 1000, 99}, Case{1000, 1000, 99}, Case{0, 1000, 0},
                        Case{0, 0, 0}, Case{5, 0, 0}, Case{999, 1000, 99}, Case{6000000000ull, 12000000000ull, 50}}) {
    SCOPED_TRACE(std::to_string(c.observed) + "/" + std::to_string(c.expected));
    EXPECT_EQ(c.percent, zv::CGameSetup::ProgressPercent(c.observed, c.expected));
  }
}

TEST(GameSetupFolders, GamesFolderIsThreeLevelsAboveInstallFolder) {
  EXPECT_EQ(L"D:\\Store\\Games", zv::CGameSetup::GamesFolderOf(L"D:\\Store\\Games\\7\\7\\"));
  EXPECT_EQ(L"D:\\Store\\Games", zv::CGameSetup::GamesFolderOf(L"D:\\Store\\Games\\7\\7\\\\"));
  EXPECT_EQ(L"D:\\Store\\Games", zv::CGameSetup::GamesFolderOf(L"D:\\Store\\Games\\7\\7"));
  EXPECT_EQ(L"", zv::CGameSetup::GamesFolderOf(L"7\\7\\"));
}

}  // namespace
