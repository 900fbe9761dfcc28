#include <gtest/gtest.h>
#include <shlobj.h>

#include "common/locations.h"
#include "common/settings.h"
#include "test_support.h"

namespace {

// Each case rewrites MD.cfg in this test program's Program folder and restores
// the original afterwards.
class StorePathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    settingsPath_ = zv::SettingsFilePath();
    original_ = zvtest::ReadFileBytes(settingsPath_);
    hadFile_ = zvtest::FileExists(settingsPath_);
    ::DeleteFileW(settingsPath_.c_str());
  }
  void TearDown() override {
    if (hadFile_) {
      zvtest::WriteFileBytes(settingsPath_, original_);
    } else {
      ::DeleteFileW(settingsPath_.c_str());
    }
  }
  void SetStorePath(const std::wstring& value) {
    ASSERT_HRESULT_SUCCEEDED(zv::Settings().WriteString(L"Setting", L"StorePath", value));
  }

  std::wstring settingsPath_;
  std::string original_;
  bool hadFile_ = false;
  zvtest::TempFolder temp_{L"store"};
};

TEST(Locations, ProgramFileCancelsTheExecutableName) {
  wchar_t exe[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::wstring folder(exe);
  folder.resize(folder.find_last_of(L'\\'));
  EXPECT_EQ(zv::ProgramFilePath(L"..\\MD.cfg"), folder + L"\\MD.cfg");
  EXPECT_EQ(zv::SettingsFilePath(), folder + L"\\MD.cfg");
  EXPECT_EQ(zv::ModuleFilePath(nullptr, L"..\\Quiver.dll"), folder + L"\\Quiver.dll");
  // Two levels up from the executable is the product folder's Config sibling.
  const std::wstring product = folder.substr(0, folder.find_last_of(L'\\'));
  EXPECT_EQ(zv::ProgramFilePath(L"..\\..\\Config\\Hall"), product + L"\\Config\\Hall");
}

TEST(Locations, ProductAndConfigFoldersHangOffApplicationData) {
  const std::wstring appData = zv::GetSpecialFolder(CSIDL_APPDATA);
  ASSERT_FALSE(appData.empty());
  EXPECT_EQ(zv::ProductFolder(), appData + L"\\Zorvanix\\GameManager");
  EXPECT_EQ(zv::ConfigFolder(), appData + L"\\Zorvanix\\GameManager\\Config");
}

TEST(Locations, TrailingBackslashes) {
  struct Case {
    const wchar_t* in;
    const wchar_t* out;
  } cases[] = {{L"D:\\Games\\", L"D:\\Games"}, {L"D:\\Games\\\\", L"D:\\Games"},
               {L"D:\\Games", L"D:\\Games"},   {L"C:\\", L"C:\\"},
               {L"", L""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "input of length " << wcslen(c.in));
    EXPECT_EQ(zv::RemoveTrailingBackslash(c.in), c.out);
  }
}

TEST_F(StorePathTest, TrailingBackslashIsRemoved) {
  SetStorePath(temp_.path() + L"\\");
  EXPECT_EQ(zv::ResolveStorePath(), temp_.path());
  EXPECT_EQ(zv::ResolveWebGamePath(), temp_.path() + L"\\MyWebGame");
}

TEST_F(StorePathTest, MissingKeyGivesEmptyPath) {
  EXPECT_EQ(zv::ResolveStorePath(), L"");
  SetStorePath(L"");
  EXPECT_EQ(zv::ResolveStorePath(), L"");
}

TEST_F(StorePathTest, MissingFoldersAreCreatedDownToTheLast) {
  const std::wstring deep = temp_.path() + L"\\a\\b\\游戏库";
  SetStorePath(deep);
  EXPECT_EQ(zv::ResolveStorePath(), deep);
  const DWORD attributes = ::GetFileAttributesW(deep.c_str());
  ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

TEST(Settings, WholeSectionInOneRead) {
  zvtest::TempFolder temp(L"ini");
  const zv::IniFile ini(temp / L"config.ini");
  ASSERT_HRESULT_SUCCEEDED(ini.WriteInt(L"GameInfo", L"state", 5));
  ASSERT_HRESULT_SUCCEEDED(ini.WriteString(L"GameInfo", L"cmdline", L"-x 游戏"));
  const auto section = ini.ReadSection(L"GameInfo");
  ASSERT_EQ(section.size(), 2u);
  EXPECT_EQ(section.at(L"state"), L"5");
  EXPECT_EQ(section.at(L"cmdline"), L"-x 游戏");
  EXPECT_EQ(ini.ReadInt(L"GameInfo", L"state", 0), 5);
  EXPECT_EQ(ini.ReadString(L"GameInfo", L"missing", L"dflt"), L"dflt");
  EXPECT_TRUE(ini.ReadSection(L"Nothing").empty());
}

TEST(Settings, LongValuesAreReadWhole) {
  zvtest::TempFolder temp(L"ini");
  const zv::IniFile ini(temp / L"long.ini");
  const std::wstring value(2000, L'x');
  ASSERT_HRESULT_SUCCEEDED(ini.WriteString(L"S", L"k", value));
  EXPECT_EQ(ini.ReadString(L"S", L"k"), value);
}

TEST_F(StorePathTest, ServerAddressesComeFromTheServerSection) {
  const zv::ServerAddresses defaults = zv::LoadServerAddresses();
  EXPECT_EQ(defaults.staticContent, zv::DefaultServerAddresses().staticContent);
  ASSERT_HRESULT_SUCCEEDED(zv::Settings().WriteString(L"Server", L"StaticContent", L"http://127.0.0.1:8080/"));
  EXPECT_EQ(zv::LoadServerAddresses().staticContent, L"http://127.0.0.1:8080");
  EXPECT_EQ(zv::LoadServerAddresses().statistics, zv::DefaultServerAddresses().statistics);
}

}  // namespace
