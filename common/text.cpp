#include "common/text.h"

#include <cwchar>
#include <vector>

namespace zv {

std::string ToCodePage(const std::wstring& text, UINT codePage) {
  if (text.empty()) return {};
  const int size = ::WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  std::string out(static_cast<size_t>(size), '\0');
  ::WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), &out[0], size,
                        nullptr, nullptr);
  return out;
}

std::wstring FromCodePage(const std::string& text, UINT codePage) {
  if (text.empty()) return {};
  const int size =
      ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (size <= 0) return {};
  std::wstring out(static_cast<size_t>(size), L'\0');
  ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), &out[0], size);
  return out;
}

std::wstring FormatV(const wchar_t* format, va_list args) {
  std::vector<wchar_t> buffer(256);
  for (;;) {
    va_list copy;
    va_copy(copy, args);
    const int written = std::vswprintf(buffer.data(), buffer.size(), format, copy);
    va_end(copy);
    if (written >= 0 && static_cast<size_t>(written) < buffer.size()) {
      return std::wstring(buffer.data(), static_cast<size_t>(written));
    }
    if (buffer.size() >= (1u << 20)) return std::wstring(buffer.data());
    buffer.resize(buffer.size() * 4);
  }
}

std::wstring Format(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  std::wstring out = FormatV(format, args);
  va_end(args);
  return out;
}

bool EqualsIgnoreCase(const std::wstring& a, const std::wstring& b) {
  return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace zv
