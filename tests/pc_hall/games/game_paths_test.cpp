#include <gtest/gtest.h>

#include "common/locations.h"
#include "game_paths.h"
#include "housekeeping.h"
#include "test_support.h"
#include "game_state.h"

namespace {

TEST(GamePaths, FixedFormats) {
  EXPECT_EQ(ostrelle::PartFilePath(L"D:\\S", L"123", L"123_0", 0), L"D:\\S\\Download\\123\\123_0.exe");
  EXPECT_EQ(ostrelle::PartFilePath(L"D:\\S", L"123", L"123_p0", 2), L"D:\\S\\Download\\123\\123_p0.rar");
  EXPECT_EQ(ostrelle::DefaultSetupPath(L"D:\\S", L"123"), L"D:\\S\\Download\\123\\123_0.exe");
  EXPECT_EQ(ostrelle::InstallFolder(L"D:\\S", L"123", L"Hero"), L"D:\\S\\Games\\Hero\\Hero\\");
  EXPECT_EQ(ostrelle::InstallFolder(L"D:\\S", L"123", L"..\\x"), L"D:\\S\\Games\\123\\123\\");
  EXPECT_EQ(ostrelle::InstallFolder(L"D:\\S", L"123", L""), L"D:\\S\\Games\\123\\123\\");
  EXPECT_EQ(ostrelle::GameFolder(L"D:\\S", L"Hero"), L"D:\\S\\Games\\Hero\\Hero\\");
  EXPECT_EQ(ostrelle::StartupPath(L"D:\\S\\Games", L"Hero", L"bin\\hero.exe"), L"D:\\S\\Games\\Hero\\Hero\\bin\\hero.exe");
  EXPECT_EQ(ostrelle::ConfigIniPath(L"P", L"123"), L"P\\123\\config.ini");
  EXPECT_EQ(ostrelle::GameXmlPath(L"P", L"123"), L"P\\123\\game.xml");
}

TEST(GamePaths, HostileNamesFromTheInformationGiveNoPath) {
  struct Case {
    const wchar_t* name;
    const wchar_t* startFile;
  } cases[] = {{L"..", L"a.exe"},          {L"a\\b", L"a.exe"}, {L"", L"a.exe"},       {L"C:", L"a.exe"},
               {L"Hero", L"..\\..\\x.exe"}, {L"Hero", L"C:\\x.exe"}, {L"Hero", L"\\x.exe"}, {L"Hero", L""},
               {L"Hero", L"a\\\\b.exe"},    {L"He\x01ro", L"a.exe"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << static_cast<const void*>(c.name));
    EXPECT_EQ(ostrelle::StartupPath(L"D:\\S\\Games", c.name, c.startFile), L"");
  }
  EXPECT_EQ(ostrelle::StartupPath(L"D:\\S\\Games", L"英雄", L"英雄.exe"), L"D:\\S\\Games\\英雄\\英雄\\英雄.exe");
}

TEST(GameState, GameIds) {
  for (const wchar_t* id : {L"0", L"123", L"000123", L"2147483647", L"0000000001"}) {
    EXPECT_TRUE(ostrelle::IsGameId(id)) << static_cast<const void*>(id);
  }
  for (const wchar_t* id : {L"", L"-1", L"12a", L"2147483648", L"00000000001", L"１２３", L" 1"}) {
    EXPECT_FALSE(ostrelle::IsGameId(id)) << static_cast<const void*>(id);
  }
  WPARAM length = 0;
  LPARAM value = 0;
  ostrelle::PackGameId(L"000123", &length, &value);
  EXPECT_EQ(length, 6u);
  EXPECT_EQ(value, 123);
}

}  // namespace

namespace {

TEST(Housekeeping, InstalledGameFolderNeedsTheGamesShape) {
  EXPECT_EQ(ostrelle::InstalledGameFolder(L"D:\\S\\Games\\Hero\\Hero\\hero.exe"), L"D:\\S\\Games\\Hero");
  EXPECT_EQ(ostrelle::InstalledGameFolder(L"D:\\S\\Games\\Hero\\Hero\\bin\\hero.exe"), L"D:\\S\\Games\\Hero");
  for (const wchar_t* path : {L"C:\\hero.exe", L"D:\\S\\Games\\Hero\\hero.exe", L"D:\\Hero\\Hero\\hero.exe",
                              L"hero.exe", L""}) {
    EXPECT_EQ(ostrelle::InstalledGameFolder(path), L"") << static_cast<const void*>(path);
  }
}

TEST(Housekeeping, RemoveTreeClearsAFolderButNeverADriveRoot) {
  zvtest::TempFolder temp(L"tree");
  const std::wstring top = temp / L"top";
  zv::CreateFolderTree(top + L"\\a\\b");
  zvtest::WriteFileBytes(top + L"\\a\\b\\f.txt", "x");
  zvtest::WriteFileBytes(top + L"\\g.txt", "y");
  EXPECT_TRUE(ostrelle::RemoveTree(top + L"\\"));
  EXPECT_EQ(::GetFileAttributesW(top.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_FALSE(ostrelle::RemoveTree(L"C:\\"));
  EXPECT_FALSE(ostrelle::RemoveTree(L"C:"));
  EXPECT_FALSE(ostrelle::RemoveTree(temp / L"missing"));
}

}  // namespace
