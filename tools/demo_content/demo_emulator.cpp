// The demo's emulator: records its command line, its working folder and
// whether the ROM package it was given exists there, in "<own path>.log"
// (UTF-8, one line each), then exits.
#include <windows.h>
#include <shellapi.h>

#include <string>

#include "common/handles.h"
#include "common/text.h"

namespace {

// The first argument that is not a switch: the package.
std::wstring PackageArgument() {
  int count = 0;
  zv::UniqueLocal arguments(::CommandLineToArgvW(::GetCommandLineW(), &count));
  LPWSTR* list = static_cast<LPWSTR*>(arguments.get());
  for (int i = 1; list && i < count; ++i) {
    if (list[i][0] != L'-') return list[i];
  }
  return {};
}

}  // namespace

int wmain() {
  wchar_t self[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  wchar_t folder[MAX_PATH] = {};
  ::GetCurrentDirectoryW(MAX_PATH, folder);
  const std::wstring package = PackageArgument();
  const bool found = !package.empty() && ::GetFileAttributesW(package.c_str()) != INVALID_FILE_ATTRIBUTES;
  const std::string record = zv::ToUtf8(::GetCommandLineW()) + "\n" + zv::ToUtf8(folder) + "\n" +
                             (found ? "package found\n" : "package missing\n");
  zv::UniqueFile log(::CreateFileW((std::wstring(self) + L".log").c_str(), FILE_APPEND_DATA, FILE_SHARE_READ,
                                   nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!log) return 1;
  DWORD written = 0;
  ::WriteFile(log.get(), record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
  return found ? 0 : 1;
}
