// Placeholder substitution in game registry scripts, and the script lookup.
#include <gtest/gtest.h>

#include <string>

#include "setup/registry_script.h"
#include "test_support.h"

namespace {

const zv::ScriptValues kValues = {L"D:\\Store\\Games\\7\\7", L"C:\\users\\me", L"C:"};

TEST(RegistryScript, Utf16HexTextListsLittleEndianBytes) {
  EXPECT_EQ(L"24,00,48,00,4f,00,4d,00,45,00", zv::Utf16HexText(L"$HOME"));
  EXPECT_EQ(L"24,00,4d,00,59,00", zv::Utf16HexText(L"$MY"));
  EXPECT_EQ(L"24,00,43,00", zv::Utf16HexText(L"$C"));
  EXPECT_EQ(L"38,6e", zv::Utf16HexText(L"\u6e38"));
  EXPECT_EQ(L"", zv::Utf16HexText(L""));
}

TEST(RegistryScript, SubstitutesPlainAndHexForms) {
  struct Case {
    const wchar_t* source;
    const wchar_t* expected;
  };
  const Case cases[] = {
      {L"\"P\"=\"$HOME\\\\game.exe\"", L"\"P\"=\"D:\\\\Store\\\\Games\\\\7\\\\7\\\\game.exe\""},
      {L"\"M\"=\"$MY\"", L"\"M\"=\"C:\\\\users\\\\me\""},
      {L"\"C\"=\"$C\\\\Windows\"", L"\"C\"=\"C:\\\\Windows\""},
      {L"\"E\"=hex(2):41,00,24,00,43,00,00,00", L"\"E\"=hex(2):41,00,43,00,3a,00,00,00"},
      {L"\"E\"=hex(2):24,00,4d,00,59,00,5c,00", L"\"E\"=hex(2):43,00,3a,00,5c,00,75,00,73,00,65,00,72,00,73,00,"
                                               L"5c,00,6d,00,65,00,5c,00"},
      {L"no placeholders $X", L"no placeholders $X"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.source)));
    EXPECT_EQ(c.expected, zv::SubstituteScriptPlaceholders(c.source, kValues));
  }
}

// A folder name carrying quotes or placeholder text stays inside its value.
TEST(RegistryScript, ValuesCannotBreakOutOrBeSubstitutedAgain) {
  const zv::ScriptValues hostile = {L"D:\\a\"b\\$C\\$MY", L"P", L"C:"};
  EXPECT_EQ(L"\"P\"=\"D:\\\\a\\\"b\\\\$C\\\\$MY\"", zv::SubstituteScriptPlaceholders(L"\"P\"=\"$HOME\"", hostile));
  const std::wstring longHome(400, L'x');
  const zv::ScriptValues longValues = {longHome, L"P", L"C:"};
  const std::wstring hex = zv::SubstituteScriptPlaceholders(L"hex(2):24,00,48,00,4f,00,4d,00,45,00,00,00", longValues);
  EXPECT_EQ(L"hex(2):" + zv::Utf16HexText(longHome) + L",00,00", hex);
}

TEST(RegistryScript, EmptyHexValueKeepsTheListValid) {
  const zv::ScriptValues noProfile = {L"H", L"", L"C:"};
  EXPECT_EQ(L"hex(2):41,00,00,00", zv::SubstituteScriptPlaceholders(L"hex(2):41,00,24,00,4d,00,59,00,00,00", noProfile));
  EXPECT_EQ(L"hex(2):41,00", zv::SubstituteScriptPlaceholders(L"hex(2):41,00,24,00,4d,00,59,00", noProfile));
}

TEST(RegistryScript, LooksForGameRegThenRavelinGameReg) {
  zvtest::TempFolder folder(L"regpath");
  const std::wstring base = folder.path() + L"\\";
  EXPECT_EQ(base + L"RavelinGameReg/ravelingame.reg.reg",
            zv::RegistryScriptPath(folder.path() + L"\\\\", zv::RegistryScriptKind::kInstall));
  EXPECT_EQ(base + L"RavelinGameReg/ravelingameUninst.reg.reg",
            zv::RegistryScriptPath(folder.path(), zv::RegistryScriptKind::kUninstall));
  ASSERT_TRUE(zvtest::WriteFileBytes(base + L"GameReg\\game.reg.reg", "x"));
  EXPECT_EQ(base + L"GameReg/game.reg.reg", zv::RegistryScriptPath(folder.path(), zv::RegistryScriptKind::kInstall));
}

TEST(RegistryScript, MissingOrEmptyScriptImportsNothing) {
  zvtest::TempFolder folder(L"regnone");
  EXPECT_EQ(S_FALSE, zv::ImportRegistryScript(folder.path(), zv::RegistryScriptKind::kInstall));
  ASSERT_TRUE(zvtest::WriteFileBytes(folder.path() + L"\\GameReg\\game.reg.reg", ""));
  EXPECT_EQ(S_FALSE, zv::ImportRegistryScript(folder.path(), zv::RegistryScriptKind::kInstall));
  EXPECT_FALSE(zvtest::FileExists(folder.path() + L"\\GameReg\\game.reg.reg.reg"));
}

}  // namespace
