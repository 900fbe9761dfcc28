// Trace viewer: owns a top-level window titled "DbgView" and writes every line
// it receives by WM_SETTEXT (wParam = the sender's process id) as
// "<pid>\t<text>" in UTF-8 to standard output, or to the file named by the
// first argument.
#include <windows.h>

#include <cstdio>
#include <string>

#include "common/handles.h"
#include "common/text.h"

namespace {

FILE* g_out = stdout;

LRESULT CALLBACK ViewerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SETTEXT: {
      // Never hand WM_SETTEXT on: the title must stay "DbgView".
      const wchar_t* text = reinterpret_cast<const wchar_t*>(lParam);
      const std::string line = zv::ToUtf8(text ? text : L"");
      std::fprintf(g_out, "%lu\t%s\n", static_cast<unsigned long>(wParam), line.c_str());
      std::fflush(g_out);
      return TRUE;
    }
    case WM_CLOSE:
      ::DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      ::PostQuitMessage(0);
      return 0;
    default:
      return ::DefWindowProcW(window, message, wParam, lParam);
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc > 1) {
    g_out = _wfopen(argv[1], L"ab");
    if (!g_out) {
      std::fprintf(stderr, "dbgview: cannot open the output file\n");
      return 2;
    }
  }
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = ViewerProc;
  windowClass.hInstance = ::GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"ZorvanixTraceViewer";
  if (!::RegisterClassW(&windowClass)) return 3;
  zv::UniqueWindow window(::CreateWindowExW(0, windowClass.lpszClassName, L"DbgView",
                                            WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 400,
                                            300, nullptr, nullptr, windowClass.hInstance, nullptr));
  if (!window) {
    std::fprintf(stderr, "dbgview: cannot create the window (is there a display?)\n");
    return 4;
  }
  MSG message;
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  window.release();  // destroyed by WM_CLOSE
  if (g_out != stdout) std::fclose(g_out);
  return 0;
}
