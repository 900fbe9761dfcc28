// Shared fixtures for the test programs: temporary folders, files, child
// processes and the test program's own Program folder.
#pragma once

#include <windows.h>

#include <string>

namespace zvtest {

// A fresh folder under the user's temporary folder, removed with its contents
// when the object goes away. The name may carry a non-ASCII tail.
class TempFolder {
 public:
  explicit TempFolder(const std::wstring& tag = L"t");
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::wstring& path() const { return path_; }
  std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

 private:
  std::wstring path_;
};

void RemoveTree(const std::wstring& path);
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
std::string ReadFileBytes(const std::wstring& path);
bool FileExists(const std::wstring& path);

// The folder holding the test program (its "Program" folder).
std::wstring ProgramFolder();

struct ProcessResult {
  bool started = false;
  bool finished = false;
  DWORD exitCode = 0;
  std::string output;  // standard output and error together
};
// Runs a command line hidden, waits up to timeoutMs, collects its output.
ProcessResult RunProcess(const std::wstring& commandLine, DWORD timeoutMs = 30000);

// Polls condition every 10 ms until it holds or timeoutMs passes, pumping the
// calling thread's messages meanwhile.
template <typename Condition>
bool WaitFor(Condition&& condition, DWORD timeoutMs = 5000) {
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  for (;;) {
    if (condition()) return true;
    if (::GetTickCount64() >= deadline) return false;
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
}

}  // namespace zvtest
