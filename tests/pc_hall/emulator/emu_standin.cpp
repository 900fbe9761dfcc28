// An emulator stand-in for the launch tests: appends its command line and
// working folder (UTF-8, one line each) to "<own path>.log", then stays alive
// while "<own path>.hold" exists (at most a minute) and exits with 0.
#include <windows.h>

#include <string>

namespace {

std::string Utf8(const wchar_t* text) {
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(size > 0 ? size - 1 : 0), '\0');
  if (size > 1) ::WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], size, nullptr, nullptr);
  return out;
}

}  // namespace

int wmain() {
  wchar_t self[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  wchar_t current[MAX_PATH] = {};
  ::GetCurrentDirectoryW(MAX_PATH, current);
  const std::string record = Utf8(::GetCommandLineW()) + "\n" + Utf8(current) + "\n";
  HANDLE log = ::CreateFileW((std::wstring(self) + L".log").c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (log != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    ::WriteFile(log, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
    ::CloseHandle(log);
  }
  const std::wstring hold = std::wstring(self) + L".hold";
  for (int waited = 0; waited < 60000 && ::GetFileAttributesW(hold.c_str()) != INVALID_FILE_ATTRIBUTES; waited += 50) {
    ::Sleep(50);
  }
  return 0;
}
