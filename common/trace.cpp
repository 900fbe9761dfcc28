#include "common/trace.h"

#include <windows.h>

#include <cstdarg>
#include <cwchar>

namespace zv {
namespace {

HWND g_viewer = nullptr;
wchar_t g_line[kTraceBufferUnits];

}  // namespace

int Trace(const wchar_t* format, ...) {
  if (!g_viewer || !::IsWindow(g_viewer)) g_viewer = ::FindWindowA(nullptr, "DbgView");
  if (!g_viewer) return 1;
  va_list args;
  va_start(args, format);
  const int written = std::vswprintf(g_line, kTraceBufferUnits, format, args);
  va_end(args);
  // vswprintf gives -1 when the line does not fit; the buffer then holds a
  // cut (terminated) prefix on this C runtime only sometimes, so terminate it.
  if (written < 0) g_line[kTraceBufferUnits - 1] = L'\0';
  ::SendMessageW(g_viewer, WM_SETTEXT, ::GetCurrentProcessId(), reinterpret_cast<LPARAM>(g_line));
  return 1;
}

}  // namespace zv
