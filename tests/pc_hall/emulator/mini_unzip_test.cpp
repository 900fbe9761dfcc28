// mini_unzip_dll on archives written here with minizip's writer.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "common/text.h"
#include "emulator/mini_unzip.h"
#include "test_support.h"
#include "zip_writer.h"

namespace {

using zvtest::WriteZip;
using zvtest::ZipEntry;

// Every file below folder, as paths relative to it.
void ListFiles(const std::wstring& folder, const std::wstring& prefix, std::vector<std::wstring>* files) {
  WIN32_FIND_DATAW entry;
  HANDLE find = ::FindFirstFileW((folder + L"\\*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring name = entry.cFileName;
    if (name == L"." || name == L"..") continue;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      ListFiles(folder + L"\\" + name, prefix + name + L"\\", files);
    } else {
      files->push_back(prefix + name);
    }
  } while (::FindNextFileW(find, &entry));
  ::FindClose(find);
}

int Unzip(const std::wstring& archive, const std::wstring& target) {
  return zv::mini_unzip_dll(zv::ToCodePage(archive).c_str(), zv::ToCodePage(target).c_str());
}

TEST(MiniUnzip, ExtractsEntriesWithFoldersAndNames) {
  zvtest::TempFolder folder(L"unzip");
  std::string big(300 * 1024, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 7919) >> 3);
  const std::vector<ZipEntry> entries = {{"nesemu/nes.exe", "MZ program"},
                                         {"nesemu/roms/", ""},
                                         {"nesemu/data/big.bin", big},
                                         {"nesemu/\xe6\xb8\xb8\xe6\x88\x8f.txt", "utf8", true},
                                         {"nesemu/\x81" "ber.txt", "oem"}};
  const std::wstring archive = folder / L"nesemu";
  ASSERT_TRUE(WriteZip(archive, entries));
  const std::wstring target = folder.path() + L"\\Emu\\";

  EXPECT_EQ(zv::kUnzipOk, Unzip(archive, target));
  EXPECT_EQ("MZ program", zvtest::ReadFileBytes(target + L"nesemu\\nes.exe"));
  EXPECT_EQ(big, zvtest::ReadFileBytes(target + L"nesemu\\data\\big.bin"));
  EXPECT_TRUE(::GetFileAttributesW((target + L"nesemu\\roms").c_str()) & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ("utf8", zvtest::ReadFileBytes(target + L"nesemu\\\u6e38\u620f.txt"));
  const std::wstring oemName = zv::FromCodePage("\x81" "ber.txt", CP_OEMCP);
  EXPECT_EQ("oem", zvtest::ReadFileBytes(target + L"nesemu\\" + oemName));
  if (::GetOEMCP() == 437) {
    EXPECT_EQ(L"\u00fc" L"ber.txt", oemName);
  }
}

// Entries that name a drive, a root or climbing segments are refused; the
// rest is extracted and nothing lands outside the target.
TEST(MiniUnzip, HostileEntriesWriteNothingOutsideTarget) {
  zvtest::TempFolder folder(L"hostile");
  const std::wstring target = folder.path() + L"\\target\\";
  std::string outsideDrive = zv::ToCodePage(folder.path()) + "/evil5.txt";
  for (char& ch : outsideDrive) ch = ch == '\\' ? '/' : ch;
  const std::vector<ZipEntry> entries = {
      {"../evil1.txt", "x"},        {"..\\evil2.txt", "x"},          {"/evil3.txt", "x"},
      {"\\evil4.txt", "x"},         {outsideDrive, "x"},             {"ok/../../evil6.txt", "x"},
      {"ok/.. /evil7.txt", "x"},    {"ok/...\\evil8.txt", "x"},      {"C:evil9.txt", "x"},
      {"ok/./evil10.txt", "x"},     {"ok/good.txt", "good"},         {"ok/evil11.txt:stream", "x"},
  };
  const std::wstring archive = folder / L"hostile.zip";
  ASSERT_TRUE(WriteZip(archive, entries));

  EXPECT_EQ(zv::kUnzipRefusedEntry, Unzip(archive, target));
  std::vector<std::wstring> files;
  ListFiles(folder.path(), L"", &files);
  EXPECT_EQ((std::vector<std::wstring>{L"hostile.zip", L"target\\ok\\good.txt"}), files);
  EXPECT_EQ("good", zvtest::ReadFileBytes(target + L"ok\\good.txt"));
  wchar_t windows[MAX_PATH] = {};
  ::GetWindowsDirectoryW(windows, MAX_PATH);
  for (const std::wstring& stray : {std::wstring(windows, 3) + L"evil3.txt", std::wstring(windows, 3) + L"evil4.txt",
                                    zvtest::ProgramFolder() + L"\\evil9.txt"}) {
    EXPECT_FALSE(zvtest::FileExists(stray)) << zv::ToUtf8(stray);
  }
}

TEST(MiniUnzip, MissingOrBrokenArchivesFail) {
  zvtest::TempFolder folder(L"unzipbad");
  const std::wstring target = folder.path() + L"\\out\\";
  EXPECT_EQ(zv::kUnzipCannotOpen, Unzip(folder / L"missing.zip", target));
  ASSERT_TRUE(zvtest::WriteFileBytes(folder / L"broken.zip", "PK\x03\x04 not really a zip"));
  EXPECT_EQ(zv::kUnzipCannotOpen, Unzip(folder / L"broken.zip", target));
  EXPECT_EQ(zv::kUnzipCannotOpen, zv::mini_unzip_dll(nullptr, "C:\\x\\"));
  EXPECT_EQ(zv::kUnzipCannotOpen, zv::mini_unzip_dll("C:\\x.zip", ""));
}

}  // namespace
