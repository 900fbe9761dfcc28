#include <gtest/gtest.h>

#include "common/identity.h"
#include "common/locations.h"
#include "common/settings.h"
#include "test_support.h"

namespace {

TEST(Md5, KnownVectors) {
  struct Case {
    const char* input;
    const wchar_t* hex;
  } cases[] = {{"", L"d41d8cd98f00b204e9800998ecf8427e"},
               {"abc", L"900150983cd24fb0d6963f7d28e17f72"},
               {"123qatrip|804", L"8f6254c50f7ed0b7240c776c583c951e"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    zv::Md5Digest digest = {};
    ASSERT_HRESULT_SUCCEEDED(zv::Md5(c.input, strlen(c.input), &digest));
    EXPECT_EQ(zv::HexLower(digest.data(), digest.size()), c.hex);
  }
}

TEST(HashedIdPath, LeadingZerosAndBlanksDoNotMatter) {
  // The digits are the first two and the last two of MD5("123qatrip|804").
  EXPECT_EQ(zv::HashedIdPath(L"123"), L"8f/1e/123");
  EXPECT_EQ(zv::HashedIdPath(L"000123"), L"8f/1e/123");
  EXPECT_EQ(zv::HashedIdPath(L"  123abc"), L"8f/1e/123");
}

TEST(PeerId, NewGuidTextHasThePeerIdForm) {
  const std::wstring guid = zv::NewGuidText();
  ASSERT_EQ(guid.size(), 38u);
  EXPECT_EQ(guid.front(), L'{');
  EXPECT_EQ(guid.back(), L'}');
  for (size_t i : {9u, 14u, 19u, 24u}) EXPECT_EQ(guid[i], L'-');
  EXPECT_EQ(guid.find_first_of(L"abcdef"), std::wstring::npos);
  EXPECT_NE(zv::NewGuidText(), guid);
}

std::wstring RunProbe() {
  const zvtest::ProcessResult run =
      zvtest::RunProcess(L"\"" + zvtest::ProgramFolder() + L"\\peer_id_probe.exe\"");
  EXPECT_TRUE(run.finished);
  EXPECT_EQ(run.exitCode, 0u);
  std::wstring text(run.output.begin(), run.output.end());
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r')) text.pop_back();
  return text;
}

// The probe shares this program's folder and so its MD.cfg.
TEST(PeerId, WrittenOnceAndReadBackByAnotherProcess) {
  const zv::IniFile settings = zv::Settings();
  const std::string saved = zvtest::ReadFileBytes(settings.path());
  ::DeleteFileW(settings.path().c_str());

  const std::wstring first = RunProbe();
  ASSERT_EQ(first.size(), 38u);
  EXPECT_EQ(settings.ReadString(L"InstallInfo", L"PeerId"), first);
  FILETIME writtenAt = {};
  {
    WIN32_FILE_ATTRIBUTE_DATA data;
    ASSERT_TRUE(::GetFileAttributesExW(settings.path().c_str(), GetFileExInfoStandard, &data));
    writtenAt = data.ftLastWriteTime;
  }
  ::Sleep(20);
  EXPECT_EQ(RunProbe(), first);
  WIN32_FILE_ATTRIBUTE_DATA data;
  ASSERT_TRUE(::GetFileAttributesExW(settings.path().c_str(), GetFileExInfoStandard, &data));
  EXPECT_EQ(::CompareFileTime(&writtenAt, &data.ftLastWriteTime), 0) << "MD.cfg was written again";

  zvtest::WriteFileBytes(settings.path(), saved);
}

}  // namespace
