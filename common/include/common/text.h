// Text helpers: code-page conversion, printf-style formatting and the one
// helper for every Win32 call that must be repeated with a larger buffer.
#pragma once

#include <windows.h>

#include <cstdarg>
#include <string>

namespace zv {

// Converts to the given code page (the thread's ANSI code page by default);
// used only right before calls that are narrow by contract.
std::string ToCodePage(const std::wstring& text, UINT codePage = CP_THREAD_ACP);
std::wstring FromCodePage(const std::string& text, UINT codePage = CP_THREAD_ACP);
inline std::string ToUtf8(const std::wstring& text) { return ToCodePage(text, CP_UTF8); }
inline std::wstring FromUtf8(const std::string& text) { return FromCodePage(text, CP_UTF8); }

std::wstring FormatV(const wchar_t* format, va_list args);
std::wstring Format(const wchar_t* format, ...);

// Calls fill(buffer, capacity, &length) with growing buffers until the text
// fits. fill writes at most capacity characters including the terminator and
// reports the characters it wrote, or the capacity it needs; a result that
// fills the buffer to the last character counts as possibly cut and is retried
// with a larger buffer. Gives ERROR_INSUFFICIENT_BUFFER past maxCapacity.
template <typename Fill>
HRESULT CallWithGrowingBuffer(std::wstring& out, Fill&& fill, DWORD initialCapacity = MAX_PATH,
                              DWORD maxCapacity = 1u << 20) {
  DWORD capacity = initialCapacity;
  while (capacity <= maxCapacity) {
    std::wstring buffer(capacity, L'\0');
    DWORD length = 0;
    const HRESULT hr = fill(&buffer[0], capacity, &length);
    if (FAILED(hr)) return hr;
    if (length + 1 < capacity) {
      buffer.resize(length);
      out.swap(buffer);
      return S_OK;
    }
    capacity = (length + 1 > capacity * 2) ? length + 1 : capacity * 2;
  }
  return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
}

bool EqualsIgnoreCase(const std::wstring& a, const std::wstring& b);

}  // namespace zv
