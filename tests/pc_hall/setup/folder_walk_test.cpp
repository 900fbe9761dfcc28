// The deleting folder walks on real folders.
#include <gtest/gtest.h>

#include <string>

#include "common/locations.h"
#include "setup/folder_walk.h"
#include "test_support.h"

namespace {

TEST(FolderWalk, ShortOrRootPathsAreNeverWalked) {
  wchar_t windows[MAX_PATH] = {};
  ::GetWindowsDirectoryW(windows, MAX_PATH);
  const std::wstring drive(windows, 2);
  for (const std::wstring& root : {drive + L"\\", drive, drive + L"\\\\", drive + L"\\x\\..", std::wstring(L"\\"),
                                   std::wstring(L"")}) {
    SCOPED_TRACE(testing::PrintToString(root));
    // Checked first, so a broken guard fails here instead of clearing a drive.
    ASSERT_FALSE(zv::IsWalkablePath(root));
    zv::KeptFileNames keep;
    EXPECT_FALSE(zv::DeleteTree(root, &keep));
    EXPECT_FALSE(zv::ClearGameFolder(root, L"x", keep));
    EXPECT_FALSE(zv::RemoveTree(root));
  }
}

TEST(FolderWalk, DeleteTreeWithKeepLeavesFoldersAndKeptFiles) {
  zvtest::TempFolder folder(L"walk");
  const std::wstring root = folder.path() + L"\\tree";
  for (const wchar_t* file : {L"a.txt", L"KEEP.RAR", L"sub\\b.txt", L"sub\\keep.rar", L"sub\\deep\\c.txt"}) {
    ASSERT_TRUE(zvtest::WriteFileBytes(root + L"\\" + file, "x"));
  }
  ::SetFileAttributesW((root + L"\\sub\\b.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  zv::KeptFileNames keep;
  keep.Add(L"keep.rar");
  EXPECT_TRUE(zv::DeleteTree(root + L"\\", &keep));
  EXPECT_TRUE(zvtest::FileExists(root + L"\\KEEP.RAR"));
  EXPECT_TRUE(zvtest::FileExists(root + L"\\sub\\keep.rar"));
  EXPECT_TRUE(zv::PathExists(root + L"\\sub\\deep"));
  EXPECT_FALSE(zvtest::FileExists(root + L"\\a.txt"));
  EXPECT_FALSE(zvtest::FileExists(root + L"\\sub\\b.txt")) << "read-only files are deleted too";
  EXPECT_FALSE(zvtest::FileExists(root + L"\\sub\\deep\\c.txt"));
}

TEST(FolderWalk, DeleteTreeAndRemoveTreeWithoutKeepRemoveEverything) {
  zvtest::TempFolder folder(L"walkall");
  for (bool (*walk)(const std::wstring&) : {+[](const std::wstring& p) { return zv::DeleteTree(p, nullptr); },
                                            +[](const std::wstring& p) { return zv::RemoveTree(p); }}) {
    const std::wstring root = folder.path() + L"\\tree";
    ASSERT_TRUE(zvtest::WriteFileBytes(root + L"\\sub\\deep\\c.txt", "x"));
    ASSERT_TRUE(zvtest::WriteFileBytes(root + L"\\\u6e38\u620f.txt", "x"));
    EXPECT_TRUE(walk(root));
    EXPECT_FALSE(zv::PathExists(root));
    EXPECT_TRUE(zv::PathExists(folder.path()));
  }
  EXPECT_FALSE(zv::RemoveTree(folder.path() + L"\\missing"));
}

}  // namespace
