#include "emulator/game_launch.h"

#include <tlhelp32.h>

#include "common/handles.h"
#include "common/hresult.h"
#include "common/text.h"

namespace zv {
namespace {

bool EndsWithIgnoreCase(const std::wstring& text, const std::wstring& tail) {
  return text.size() >= tail.size() && EqualsIgnoreCase(text.substr(text.size() - tail.size()), tail);
}

// The folder of path; a drive root keeps its backslash ("C:\").
std::wstring WorkingFolderOf(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  if (slash == std::wstring::npos) return std::wstring();
  const bool driveRoot = slash == 2 && path[1] == L':';
  return path.substr(0, driveRoot ? slash + 1 : slash);
}

}  // namespace

bool IsProcessRunning(DWORD processId) {
  UniqueFile snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return true;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
    if (entry.th32ProcessID == processId) return true;
  }
  return false;
}

bool GameProcess::IsRunning() const { return processId_ != 0 && IsProcessRunning(processId_); }

HRESULT GameProcess::Start(const std::wstring& startupPath, const std::wstring& arguments) {
  RETURN_HR_IF(E_INVALIDARG, startupPath.empty());
  if (IsRunning()) return S_FALSE;
  const std::wstring workingFolder = WorkingFolderOf(startupPath);
  // A blank in an unquoted program path would let Windows try "C:\Program"
  // and the like first; paths without one keep their plain form.
  const bool needsQuotes = startupPath.find_first_of(L" \t") != std::wstring::npos;
  std::wstring commandLine = (needsQuotes ? L"\"" + startupPath + L"\"" : startupPath) + L" " + arguments;
  RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE),
               commandLine.size() > kMaxCommandLine || workingFolder.size() > kMaxWorkingFolder);

  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  if (EndsWithIgnoreCase(startupPath, L".bat")) {
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
  }
  PROCESS_INFORMATION started = {};
  RETURN_IF_WIN32_BOOL_FALSE(::CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE,
                                              NORMAL_PRIORITY_CLASS, nullptr,
                                              workingFolder.empty() ? nullptr : workingFolder.c_str(), &startup,
                                              &started));
  UniqueHandle process(started.hProcess), thread(started.hThread);
  processId_ = started.dwProcessId;
  return S_OK;
}

}  // namespace zv
