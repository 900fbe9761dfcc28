// The demo's game: records that it ran (command line and working folder, one
// UTF-8 line each) in "StarRunner.ran" in the user's temporary folder, which
// outlives the game's own folder, and exits.
#include <windows.h>

#include <string>

#include "common/handles.h"
#include "common/text.h"

int wmain() {
  wchar_t temp[MAX_PATH] = {};
  ::GetTempPathW(MAX_PATH, temp);
  wchar_t folder[MAX_PATH] = {};
  ::GetCurrentDirectoryW(MAX_PATH, folder);
  const std::string record = zv::ToUtf8(::GetCommandLineW()) + "\n" + zv::ToUtf8(folder) + "\n";
  zv::UniqueFile log(::CreateFileW((std::wstring(temp) + L"StarRunner.ran").c_str(), FILE_APPEND_DATA, FILE_SHARE_READ,
                                   nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!log) return 1;
  DWORD written = 0;
  return ::WriteFile(log.get(), record.data(), static_cast<DWORD>(record.size()), &written, nullptr) ? 0 : 1;
}
