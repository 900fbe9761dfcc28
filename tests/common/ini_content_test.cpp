// IniContent against the private-profile functions themselves: for every file
// and every key, the one-pass reader must answer what GetPrivateProfileString
// and GetPrivateProfileInt answer.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "common/settings.h"
#include "test_support.h"

namespace {

using Query = std::pair<const wchar_t*, const wchar_t*>;  // section, key

const std::vector<Query> kQueries = {
    {L"config", L"state"},     {L"CONFIG", L"State"},     {L"config", L"detail"},  {L"config", L"single"},
    {L"config", L"lonequote"}, {L"config", L"empty"},     {L"config", L"noequals"}, {L"config", L"neg"},
    {L"config", L"junk"},      {L"config", L"plus"},      {L"config", L"name"},     {L"config", L"late"},
    {L"config", L"orphan"},    {L"config", L"missing"},   {L"download", L"progress"}, {L"nosuch", L"state"},
};

std::string Utf16Le(const std::wstring& text) {
  return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

std::string Utf16Be(const std::wstring& text) {
  std::string bytes;
  for (wchar_t c : text) {
    bytes.push_back(static_cast<char>(c >> 8));
    bytes.push_back(static_cast<char>(c & 0xFF));
  }
  return bytes;
}

// Hand-edited content: mixed case, blanks, quotes, repeated sections and keys,
// a key without "=", numbers with signs and trailing text.
const wchar_t kEdited[] =
    L"orphan=1\r\n"
    L"; state=8\r\n"
    L"[Config]\r\n"
    L"  State = 4  \r\n"
    L"detail=\"C:\\a b\\game.xml\"\r\n"
    L"single='x'\r\n"
    L"lonequote=\"abc\r\n"
    L"empty=\r\n"
    L"noequals\r\n"
    L"noequals=7\r\n"
    L"state=9\r\n"
    L"neg=-12\r\n"
    L"junk=40abc\r\n"
    L"plus=+8\r\n"
    L"\r\n"
    L"[download]\r\n"
    L"progress = 55\r\n"
    L"[config]\r\n"
    L"late=1\r\n";

TEST(IniContent, AnswersAsTheProfileFunctionsDo) {
  zvtest::TempFolder temp(L"ini");
  struct Case {
    const wchar_t* name;
    std::string bytes;
  };
  const std::vector<Case> cases = {
      {L"edited_ansi.ini", std::string(kEdited, kEdited + wcslen(kEdited))},  // ASCII only: same in any code page
      {L"ansi_8bit.ini", "[config]\r\nname=caf\xE9\r\nstate=2\r\n"},
      {L"edited_utf16le.ini", "\xFF\xFE" + Utf16Le(kEdited)},
      {L"utf16be.ini", "\xFE\xFF" + Utf16Be(L"[config]\r\nname=\x6E38\x620F\r\nstate=3\r\n")},
      {L"utf8.ini", "\xEF\xBB\xBF[config]\nname=\xE6\xB8\xB8\xE6\x88\x8F\nstate=5\n"},
      {L"cr_only.ini", "[config]\rstate=6\rdetail=d\r[download]\rprogress=12\r"},
      {L"empty.ini", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.name);
    const std::wstring path = temp / c.name;
    ASSERT_TRUE(zvtest::WriteFileBytes(path, c.bytes));
    zv::IniContent content;
    ASSERT_HRESULT_SUCCEEDED(content.Load(path));
    const zv::IniFile file(path);
    for (const Query& query : kQueries) {
      SCOPED_TRACE(testing::Message() << query.first << "/" << query.second);
      EXPECT_EQ(content.ReadString(query.first, query.second, L"<none>"),
                file.ReadString(query.first, query.second, L"<none>"));
      EXPECT_EQ(content.ReadInt(query.first, query.second, -77), file.ReadInt(query.first, query.second, -77));
    }
  }
}

TEST(IniContent, ReadsWhatTheIniFunctionsWrote) {
  zvtest::TempFolder temp(L"ini");
  const zv::IniFile file(temp / L"config.ini");
  ASSERT_HRESULT_SUCCEEDED(file.WriteInt(L"config", L"state", 3));
  ASSERT_HRESULT_SUCCEEDED(file.WriteString(L"config", L"detail", L"C:\\\x6E38\x620F\\game.xml"));
  ASSERT_HRESULT_SUCCEEDED(file.WriteInt(L"download", L"progress", -1));
  zv::IniContent content;
  ASSERT_HRESULT_SUCCEEDED(content.Load(file.path()));
  EXPECT_EQ(content.ReadInt(L"config", L"state", 0), 3);
  EXPECT_EQ(content.ReadString(L"config", L"detail"), L"C:\\\x6E38\x620F\\game.xml");
  EXPECT_EQ(content.ReadInt(L"download", L"progress", 0), -1);
}

TEST(IniContent, MissingFileLoadsEmptyAndFails) {
  zvtest::TempFolder temp(L"ini");
  zv::IniContent content;
  content.Set(L"config", L"state", L"2");
  EXPECT_EQ(content.Load(temp / L"missing.ini"), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(content.Find(L"config", L"state"), nullptr);
  EXPECT_EQ(content.ReadInt(L"config", L"state", 1), 1);
}

}  // namespace
