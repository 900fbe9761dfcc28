// Starting game programs: the emulator stand-in records how it was started.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>

#include "common/locations.h"
#include "common/text.h"
#include "emulator/game_launch.h"
#include "test_support.h"

namespace {

constexpr DWORD kStartTimeoutMs = 20000;

class GameLaunchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    program_ = folder_.path() + L"\\Emu\\nesemu\\nes.exe";
    zv::CreateFolderTree(folder_.path() + L"\\Emu\\nesemu");
    ASSERT_TRUE(::CopyFileW((zvtest::ProgramFolder() + L"\\emu_standin.exe").c_str(), program_.c_str(), FALSE));
  }
  void TearDown() override { ::DeleteFileW(HoldFile().c_str()); }

  std::wstring HoldFile() const { return program_ + L".hold"; }
  std::string Log() const { return zvtest::ReadFileBytes(program_ + L".log"); }
  bool WaitForLogRecords(size_t records) const {
    return zvtest::WaitFor([&] {
      const std::string log = Log();
      return static_cast<size_t>(std::count(log.begin(), log.end(), '\n')) >= records * 2;
    }, kStartTimeoutMs);
  }

  zvtest::TempFolder folder_{L"launch"};
  std::wstring program_;
};

TEST_F(GameLaunchTest, StartsOnceInItsFolderAndAgainAfterItEnded) {
  ASSERT_TRUE(zvtest::WriteFileBytes(HoldFile(), ""));
  zv::GameProcess game;
  EXPECT_FALSE(game.IsRunning());
  ASSERT_EQ(S_OK, game.Start(program_, L".\\roms\\mario.nes"));
  const DWORD first = game.processId();
  EXPECT_NE(0u, first);
  ASSERT_TRUE(WaitForLogRecords(1));
  EXPECT_EQ(zv::ToUtf8(program_ + L" .\\roms\\mario.nes\n" + folder_.path() + L"\\Emu\\nesemu\n"), Log());

  EXPECT_TRUE(game.IsRunning());
  EXPECT_EQ(S_FALSE, game.Start(program_, L".\\roms\\mario.nes")) << "a second start while it runs";
  EXPECT_EQ(first, game.processId());

  ::DeleteFileW(HoldFile().c_str());
  ASSERT_TRUE(zvtest::WaitFor([&] { return !game.IsRunning(); }, kStartTimeoutMs));
  ASSERT_EQ(S_OK, game.Start(program_, L""));
  EXPECT_NE(first, game.processId());
  ASSERT_TRUE(WaitForLogRecords(2));
  EXPECT_NE(std::string::npos, Log().find(zv::ToUtf8(program_ + L" \n"))) << "an empty command line leaves a blank";
}

TEST_F(GameLaunchTest, AProgramPathWithABlankIsQuoted) {
  const std::wstring spaced = folder_.path() + L"\\My Games\\nes.exe";
  zv::CreateFolderTree(folder_.path() + L"\\My Games");
  ASSERT_TRUE(::CopyFileW(program_.c_str(), spaced.c_str(), FALSE));
  program_ = spaced;
  zv::GameProcess game;
  ASSERT_EQ(S_OK, game.Start(program_, L".\\roms\\mario.nes"));
  ASSERT_TRUE(WaitForLogRecords(1));
  EXPECT_EQ(zv::ToUtf8(L"\"" + program_ + L"\" .\\roms\\mario.nes\n" + folder_.path() + L"\\My Games\n"), Log());
}

TEST_F(GameLaunchTest, BatchProgramStartsInItsFolder) {
  const std::wstring batch = folder_.path() + L"\\Game\\START.BAT";
  ASSERT_TRUE(zvtest::WriteFileBytes(batch, "@\"" + zv::ToCodePage(program_) + "\" %*\r\n"));
  zv::GameProcess game;
  ASSERT_EQ(S_OK, game.Start(batch, L"-window pack"));
  EXPECT_NE(0u, game.processId());
  ASSERT_TRUE(WaitForLogRecords(1));
  const std::string log = Log();
  EXPECT_NE(std::string::npos, log.find("-window pack")) << log;
  EXPECT_NE(std::string::npos, log.find("\n" + zv::ToUtf8(folder_.path() + L"\\Game") + "\n")) << log;
}

TEST_F(GameLaunchTest, RefusesWhatDoesNotFitTheBuffersAndReportsFailures) {
  const size_t fits = zv::GameProcess::kMaxCommandLine - program_.size() - 1;
  const std::wstring deepFolder = L"C:\\" + std::wstring(zv::GameProcess::kMaxWorkingFolder - 2, L'd');
  struct Case {
    const char* name;
    std::wstring path;
    std::wstring arguments;
    HRESULT expected;
  };
  const Case cases[] = {
      {"command line of 1024", program_, std::wstring(fits + 1, L'a'), HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE)},
      {"folder of 260", deepFolder + L"\\x.exe", L"", HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE)},
      {"empty path", L"", L"a", E_INVALIDARG},
      {"missing program", folder_.path() + L"\\missing.exe", L"", HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    zv::GameProcess game;
    EXPECT_EQ(c.expected, game.Start(c.path, c.arguments));
    EXPECT_EQ(0u, game.processId());
  }
  EXPECT_FALSE(zvtest::FileExists(program_ + L".log"));

  zv::GameProcess game;
  EXPECT_EQ(S_OK, game.Start(program_, std::wstring(fits, L'a'))) << "a command line of exactly 1023 fits";
  ASSERT_TRUE(WaitForLogRecords(1));
}

}  // namespace
