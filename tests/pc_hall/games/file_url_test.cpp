#include <gtest/gtest.h>

#include "common/text.h"
#include "file_url.h"
#include "size_text.h"

namespace {

// Vectors made by tools/fileurl.py, an encryptor written apart from the decoder.
TEST(FileUrl, DecodesIndependentlyEncryptedVectors) {
  struct Case {
    const wchar_t* gameId;
    const wchar_t* fileUrl;
    const char* url;
  } cases[] = {
      {L"123", L"ZVURL1xvgOAT8nm1oi5iMuv67XBN+1MUxYHySaPsT7Q2m/rseYg1qeSKUMaQ==",
       "http://127.0.0.1:8080/pc/123_0.exe"},
      // Exactly one block without a terminating zero.
      {L"123", L"ZVURL1EkDu2FEdW8s=", "12345678"},
      {L"42", L"ZVURL1wbFInaFasFtbfiZy9/lluA==", "http://a/b"},
      // Line breaks and stray characters inside the base64 text are skipped.
      {L"42", L"ZVURL1wbFIn\r\naFasF tbfiZy9/ll*uA==", "http://a/b"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    const auto url = ostrelle::DecodeFileUrl(c.fileUrl, c.gameId);
    ASSERT_TRUE(url.has_value());
    EXPECT_EQ(*url, c.url);
  }
}

TEST(FileUrl, NonAsciiAddressComesBackInTheAnsiCodePage) {
  const auto url = ostrelle::DecodeFileUrl(L"ZVURL1oLam9Zx25P5L0YzO3K+gOFv+LS9d3yM9iI+F+D8yQYw=", L"000123");
  ASSERT_TRUE(url.has_value());
  const std::string expected = zv::ToCodePage(L"http://下载.example/游戏.rar");
  EXPECT_EQ(*url, expected);
}

TEST(FileUrl, DamagedValuesGiveNoAddress) {
  const std::wstring tooLong = L"ZVURL1" + std::wstring(1368, L'A');  // 1026 bytes
  struct Case {
    const char* what;
    std::wstring fileUrl;
  } cases[] = {
      {"empty", L""},
      {"prefix only", L"ZVURL1"},
      {"seven bytes", L"ZVURL1EkDu2FEdW8"},
      {"nine bytes", L"ZVURL1EkDu2FEdW8sAA="},
      {"longer than 1023 bytes", tooLong},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_FALSE(ostrelle::DecodeFileUrl(c.fileUrl, L"123").has_value());
  }
  // 1016 bytes (127 blocks) are still accepted.
  EXPECT_TRUE(ostrelle::DecodeFileUrl(L"ZVURL1" + std::wstring(1355, L'A'), L"123").has_value());
}

TEST(SizeText, Thresholds) {
  struct Case {
    float bytes;
    const wchar_t* text;
  } cases[] = {{0, L"0B"},          {1023, L"1023B"},       {1024, L"1K"},
               {1536, L"2K"},       {1048576, L"1.0M"},     {1073741824.0f, L"1.0G"},
               {-1073741824.0f, L"3.0G"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    EXPECT_EQ(ostrelle::FormatSize(c.bytes), c.text);
  }
}

}  // namespace
