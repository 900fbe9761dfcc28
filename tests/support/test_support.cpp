#include "test_support.h"

#include <atomic>
#include <vector>

#include "common/handles.h"
#include "common/locations.h"
#include "common/text.h"

namespace zvtest {

TempFolder::TempFolder(const std::wstring& tag) {
  static std::atomic<unsigned> counter{0};
  wchar_t base[MAX_PATH] = {};
  ::GetTempPathW(MAX_PATH, base);
  path_ = zv::Format(L"%lszv_%ls_%lu_%u", base, tag.c_str(), ::GetCurrentProcessId(), counter++);
  RemoveTree(path_);
  zv::CreateFolderTree(path_);
}

TempFolder::~TempFolder() { RemoveTree(path_); }

void RemoveTree(const std::wstring& path) {
  if (path.size() <= 3) return;
  WIN32_FIND_DATAW data;
  zv::UniqueFindHandle find(::FindFirstFileW((path + L"\\*").c_str(), &data));
  if (find) {
    do {
      const std::wstring name = data.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring child = path + L"\\" + name;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(child);
      } else {
        ::SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileW(child.c_str());
      }
    } while (::FindNextFileW(find.get(), &data));
  }
  ::RemoveDirectoryW(path.c_str());
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
  const size_t slash = path.find_last_of(L'\\');
  if (slash != std::wstring::npos) zv::CreateFolderTree(path.substr(0, slash));
  zv::UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  DWORD written = 0;
  return ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

std::string ReadFileBytes(const std::wstring& path) {
  zv::UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  std::string bytes;
  if (!file) return bytes;
  char chunk[65536];
  DWORD read = 0;
  while (::ReadFile(file.get(), chunk, sizeof(chunk), &read, nullptr) && read > 0) {
    bytes.append(chunk, read);
  }
  return bytes;
}

bool FileExists(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring ProgramFolder() {
  return zv::RemoveTrailingBackslash(zv::ProgramFilePath(L"..\\"));
}

ProcessResult RunProcess(const std::wstring& commandLine, DWORD timeoutMs) {
  ProcessResult result;
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  zv::UniqueHandle readEnd, writeEnd;
  if (!::CreatePipe(readEnd.put(), writeEnd.put(), &inherit, 0)) return result;
  ::SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);

  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  startup.hStdOutput = writeEnd.get();
  startup.hStdError = writeEnd.get();
  startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION info = {};
  std::wstring mutableLine = commandLine;
  if (!::CreateProcessW(nullptr, &mutableLine[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &startup, &info)) {
    return result;
  }
  result.started = true;
  zv::UniqueHandle process(info.hProcess), thread(info.hThread);
  writeEnd.reset();

  // Read only what is there: a Wine service the child starts (rpcss for COM,
  // say) inherits the pipe and keeps it open long after the child is gone, so
  // waiting for the end of the pipe could hang.
  const auto drain = [&result, pipe = readEnd.get()] {
    char chunk[4096];
    DWORD available = 0;
    DWORD read = 0;
    while (::PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) && available > 0 &&
           ::ReadFile(pipe, chunk, available < sizeof(chunk) ? available : sizeof(chunk), &read, nullptr) &&
           read > 0) {
      result.output.append(chunk, read);
    }
  };
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  for (;;) {
    drain();
    if (::WaitForSingleObject(process.get(), 10) == WAIT_OBJECT_0) {
      result.finished = true;
      ::GetExitCodeProcess(process.get(), &result.exitCode);
      break;
    }
    if (::GetTickCount64() >= deadline) {
      ::TerminateProcess(process.get(), 1);
      ::WaitForSingleObject(process.get(), 5000);
      break;
    }
  }
  drain();
  return result;
}

}  // namespace zvtest
