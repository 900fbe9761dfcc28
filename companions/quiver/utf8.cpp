#include "utf8.h"

#include <cstdint>

namespace zv::quiver {
namespace {

void AppendCodePoint(char32_t codePoint, std::wstring* out) {
  if (codePoint < 0x10000) {
    out->push_back(static_cast<wchar_t>(codePoint));
    return;
  }
  codePoint -= 0x10000;
  out->push_back(static_cast<wchar_t>(0xD800 + (codePoint >> 10)));
  out->push_back(static_cast<wchar_t>(0xDC00 + (codePoint & 0x3FF)));
}

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

}  // namespace

bool DecodeUtf8(const char* data, size_t size, std::wstring* out) {
  out->clear();
  out->reserve(size);
  const auto* bytes = reinterpret_cast<const unsigned char*>(data);
  size_t i = 0;
  while (i < size) {
    const unsigned char lead = bytes[i];
    if (lead < 0x80) {
      out->push_back(static_cast<wchar_t>(lead));
      ++i;
      continue;
    }
    size_t length;
    char32_t codePoint;
    char32_t minimum;
    if ((lead & 0xE0) == 0xC0) {
      length = 2, codePoint = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      length = 3, codePoint = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      length = 4, codePoint = lead & 0x07, minimum = 0x10000;
    } else {
      return false;
    }
    if (size - i < length) return false;
    for (size_t k = 1; k < length; ++k) {
      if (!IsContinuation(bytes[i + k])) return false;
      codePoint = (codePoint << 6) | (bytes[i + k] & 0x3F);
    }
    if (codePoint < minimum || codePoint > 0x10FFFF) return false;
    if (codePoint >= 0xD800 && codePoint <= 0xDFFF) return false;
    AppendCodePoint(codePoint, out);
    i += length;
  }
  return true;
}

bool EncodeUtf8(const std::wstring& text, std::string* out) {
  out->clear();
  out->reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t codePoint = static_cast<uint16_t>(text[i]);
    if (codePoint >= 0xDC00 && codePoint <= 0xDFFF) return false;
    if (codePoint >= 0xD800 && codePoint <= 0xDBFF) {
      if (i + 1 >= text.size()) return false;
      const char32_t low = static_cast<uint16_t>(text[i + 1]);
      if (low < 0xDC00 || low > 0xDFFF) return false;
      codePoint = 0x10000 + ((codePoint - 0xD800) << 10) + (low - 0xDC00);
      ++i;
    }
    if (codePoint < 0x80) {
      out->push_back(static_cast<char>(codePoint));
    } else if (codePoint < 0x800) {
      out->push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
      out->push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else if (codePoint < 0x10000) {
      out->push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
      out->push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else {
      out->push_back(static_cast<char>(0xF0 | (codePoint >> 18)));
      out->push_back(static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    }
  }
  return true;
}

}  // namespace zv::quiver
