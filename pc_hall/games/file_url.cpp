#include "file_url.h"

#include <windows.h>

#include <cstring>

#include "common/text.h"

namespace ostrelle {
namespace {

int Base64Value(wchar_t c) {
  if (c >= L'A' && c <= L'Z') return c - L'A';
  if (c >= L'a' && c <= L'z') return c - L'a' + 26;
  if (c >= L'0' && c <= L'9') return c - L'0' + 52;
  if (c == L'+') return 62;
  if (c == L'/') return 63;
  return -1;
}

uint32_t ReadLittleEndian(const unsigned char* bytes) {
  return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
         (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}

void WriteLittleEndian(uint32_t value, unsigned char* bytes) {
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<unsigned char>(value >> (8 * i));
}

}  // namespace

std::optional<std::string> DecodeBase64Lenient(const std::wstring& text, size_t maxBytes) {
  std::string out;
  uint32_t accumulator = 0;
  int bits = 0;
  for (wchar_t c : text) {
    const int value = Base64Value(c);
    if (value < 0) continue;
    accumulator = (accumulator << 6) | static_cast<uint32_t>(value);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      if (out.size() == maxBytes) return std::nullopt;
      out.push_back(static_cast<char>((accumulator >> bits) & 0xFF));
    }
  }
  return out;
}

void TeaDecryptBlocks(std::string& data, const unsigned char key[16]) {
  constexpr uint32_t kDelta = 0x9E3779B9;
  const uint32_t k[4] = {ReadLittleEndian(key), ReadLittleEndian(key + 4),
                         ReadLittleEndian(key + 8), ReadLittleEndian(key + 12)};
  unsigned char* bytes = reinterpret_cast<unsigned char*>(&data[0]);
  for (size_t offset = 0; offset + 8 <= data.size(); offset += 8) {
    uint32_t v0 = ReadLittleEndian(bytes + offset);
    uint32_t v1 = ReadLittleEndian(bytes + offset + 4);
    uint32_t sum = kDelta * 32;
    for (int cycle = 0; cycle < 32; ++cycle) {
      v1 -= ((v0 << 4) + k[2]) ^ (v0 + sum) ^ ((v0 >> 5) + k[3]);
      v0 -= ((v1 << 4) + k[0]) ^ (v1 + sum) ^ ((v1 >> 5) + k[1]);
      sum -= kDelta;
    }
    WriteLittleEndian(v0, bytes + offset);
    WriteLittleEndian(v1, bytes + offset + 4);
  }
}

std::optional<std::string> DecodeFileUrl(const std::wstring& fileUrl, const std::wstring& gameId) {
  if (fileUrl.size() <= 6) return std::nullopt;
  std::optional<std::string> decoded = DecodeBase64Lenient(fileUrl.substr(6), kMaxDecodedUrlBytes);
  if (!decoded || decoded->empty() || decoded->size() % 8 != 0) return std::nullopt;

  const std::string keyText = zv::ToCodePage(gameId) + kFileUrlKeyTail;
  unsigned char key[16];
  std::memcpy(key, keyText.data(), sizeof(key));
  TeaDecryptBlocks(*decoded, key);

  const std::string utf8 = decoded->substr(0, std::strlen(decoded->c_str()));
  return zv::ToCodePage(zv::FromUtf8(utf8));
}

}  // namespace ostrelle
