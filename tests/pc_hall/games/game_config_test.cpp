#include <gtest/gtest.h>

#include "common/handles.h"
#include "common/settings.h"
#include "game_config.h"
#include "test_support.h"

namespace {

// Holds the file open without sharing: every attempt to write it fails, so a
// write that succeeds meanwhile never touched the file.
zv::UniqueFile LockFile(const std::wstring& path) {
  return zv::UniqueFile(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
}

class GameConfigTest : public ::testing::Test {
 protected:
  zvtest::TempFolder temp_{L"cfg"};
  std::wstring path_ = temp_ / L"700\\config.ini";  // its folder does not exist yet
};

TEST_F(GameConfigTest, FirstWriteMakesTheFolderAndAUnicodeFile) {
  ostrelle::GameConfig config(path_);
  config.Load();
  EXPECT_EQ(config.ReadInt(L"config", L"state", 1), 1);
  ASSERT_HRESULT_SUCCEEDED(config.WriteString(L"config", L"detail", L"C:\\\x6E38\x620F\\game.xml"));
  EXPECT_EQ(zvtest::ReadFileBytes(path_).substr(0, 2), "\xFF\xFE");
  EXPECT_EQ(zv::IniFile(path_).ReadString(L"config", L"detail"), L"C:\\\x6E38\x620F\\game.xml");
}

TEST_F(GameConfigTest, OnlyChangedValuesReachTheFile) {
  const zv::IniFile file(path_);
  ::CreateDirectoryW((temp_ / L"700").c_str(), nullptr);
  ASSERT_HRESULT_SUCCEEDED(file.WriteInt(L"config", L"state", 3));
  ASSERT_HRESULT_SUCCEEDED(file.WriteString(L"config", L"setup", L"D:\\S\\Download\\700\\700_0.exe"));
  ASSERT_HRESULT_SUCCEEDED(file.WriteInt(L"download", L"progress", 40));

  ostrelle::GameConfig config(path_);
  config.Load();
  EXPECT_EQ(config.ReadInt(L"config", L"state", 1), 3);
  EXPECT_EQ(config.ReadString(L"config", L"setup"), L"D:\\S\\Download\\700\\700_0.exe");
  EXPECT_EQ(config.ReadInt(L"download", L"progress", 0), 40);
  {
    zv::UniqueFile lock = LockFile(path_);
    ASSERT_TRUE(lock.valid());
    // Values as read, names in any case: nothing to write.
    EXPECT_HRESULT_SUCCEEDED(config.WriteInt(L"config", L"state", 3));
    EXPECT_HRESULT_SUCCEEDED(config.WriteString(L"CONFIG", L"Setup", L"D:\\S\\Download\\700\\700_0.exe"));
    EXPECT_HRESULT_SUCCEEDED(config.WriteInt(L"download", L"progress", 40));
    // A changed value, or an absent key even when written empty, is written.
    EXPECT_HRESULT_FAILED(config.WriteInt(L"config", L"state", 4));
    EXPECT_HRESULT_FAILED(config.WriteString(L"config", L"cmdline", L""));
  }
  // The failed write was not taken for written.
  ASSERT_HRESULT_SUCCEEDED(config.WriteInt(L"config", L"state", 4));
  EXPECT_EQ(file.ReadInt(L"config", L"state", 0), 4);
  {
    zv::UniqueFile lock = LockFile(path_);
    EXPECT_HRESULT_SUCCEEDED(config.WriteInt(L"config", L"state", 4));
  }

  // Loading again forgets what was known: a file removed meanwhile is written anew.
  ASSERT_TRUE(::DeleteFileW(path_.c_str()));
  config.Load();
  EXPECT_EQ(config.ReadInt(L"config", L"state", 1), 1);
  ASSERT_HRESULT_SUCCEEDED(config.WriteInt(L"config", L"state", 4));
  EXPECT_EQ(file.ReadInt(L"config", L"state", 0), 4);
}

}  // namespace
