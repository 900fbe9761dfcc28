// Emulator locations and the package arguments handed to an emulator.
#include <gtest/gtest.h>

#include <string>

#include "emulator/emulator_paths.h"

namespace {

TEST(EmulatorPaths, ProgramRomFolderArchiveAndUnpackFolder) {
  const zv::EmulatorEntries entries = {L"nesemu", L"http://h/nesemu.zip", L"bin\\nes.exe", L"mario.nes"};
  EXPECT_EQ(L"D:\\S\\Emu\\nesemu\\bin\\nes.exe", zv::GetEmulatorProgram(L"D:\\S", entries));
  EXPECT_EQ(L"D:\\S\\Emu\\nesemu\\roms", zv::GetRomFolder(L"D:\\S", entries));
  EXPECT_EQ(L"D:\\S\\Download\\Emu\\nesemu", zv::EmulatorArchivePath(L"D:\\S", L"nesemu"));
  EXPECT_EQ(L"D:\\S\\Emu\\", zv::EmulatorUnpackFolder(L"D:\\S"));

  EXPECT_EQ(L"", zv::GetEmulatorProgram(L"D:\\S", {L"", L"u", L"nes.exe", L"p"}));
  EXPECT_EQ(L"", zv::GetEmulatorProgram(L"D:\\S", {L"nesemu", L"u", L"", L"p"}));
  EXPECT_EQ(L"", zv::GetRomFolder(L"D:\\S", {L"", L"u", L"nes.exe", L"p"}));
}

TEST(EmulatorPaths, PackageCommandLineByExtension) {
  struct Case {
    const wchar_t* package;
    bool changed;
    const wchar_t* commandLine;
  };
  const Case cases[] = {
      {L"pack.zip", true, L"pack -window"},      {L"my.game.ZIP", true, L"my.game -window"},
      {L"mario.nes", true, L".\\roms\\mario.nes"}, {L"disk.FDS", true, L".\\roms\\disk.FDS"},
      {L"a.sfc", true, L".\\roms\\a.sfc"},        {L"b.Smc", true, L".\\roms\\b.Smc"},
      {L"c.gba", false, L"before"},              {L"noextension", false, L"before"},
      {L"", false, L"before"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.package)));
    std::wstring commandLine = L"before";
    EXPECT_EQ(c.changed, zv::PackageCommandLine(c.package, &commandLine));
    EXPECT_EQ(c.commandLine, commandLine);
  }
  std::wstring commandLine = L"before";
  EXPECT_FALSE(zv::PackageCommandLine(std::wstring(zv::kMaxPackageNameLength, L'a') + L".nes", &commandLine));
  EXPECT_EQ(L"before", commandLine);
}

}  // namespace
