// The demo's silent setup program. Run with "/s" in the store's Games folder,
// it installs the game "StarRunner" into ".\StarRunner\StarRunner\": the game
// program (carried as resource 1), a few data files written over about two
// seconds, and a registry script that stores the install folder. Without "/s"
// it refuses (exit code 2), as a setup that needs its user would.
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "common/handles.h"
#include "common/locations.h"

namespace {

constexpr wchar_t kGameFolder[] = L"StarRunner\\StarRunner";
constexpr int kDataFiles = 4;
constexpr DWORD kDataFileBytes = 256 * 1024;

bool HasSilentSwitch() {
  int count = 0;
  zv::UniqueLocal arguments(::CommandLineToArgvW(::GetCommandLineW(), &count));
  LPWSTR* list = static_cast<LPWSTR*>(arguments.get());
  for (int i = 1; list && i < count; ++i) {
    if (::lstrcmpiW(list[i], L"/s") == 0) return true;
  }
  return false;
}

bool WriteBytes(const std::wstring& path, const void* data, DWORD size) {
  zv::UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                    nullptr));
  DWORD written = 0;
  return file && ::WriteFile(file.get(), data, size, &written, nullptr) && written == size;
}

bool InstallGameProgram(const std::wstring& folder) {
  HRSRC resource = ::FindResourceW(nullptr, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(10));  // RT_RCDATA
  HGLOBAL loaded = resource ? ::LoadResource(nullptr, resource) : nullptr;
  const void* bytes = loaded ? ::LockResource(loaded) : nullptr;
  return bytes && WriteBytes(folder + L"\\StarRunner.exe", bytes, ::SizeofResource(nullptr, resource));
}

bool InstallRegistryScript(const std::wstring& folder) {
  const std::string script =
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_CURRENT_USER\\Software\\ZorvanixDemo\\StarRunner]\r\n"
      "\"InstallDir\"=\"$HOME\"\r\n";
  zv::CreateFolderTree(folder + L"\\GameReg");
  return WriteBytes(folder + L"\\GameReg\\game.reg.reg", script.data(), static_cast<DWORD>(script.size()));
}

}  // namespace

int wmain() {
  if (!HasSilentSwitch()) return 2;
  wchar_t workingFolder[MAX_PATH] = {};
  ::GetCurrentDirectoryW(MAX_PATH, workingFolder);
  const std::wstring folder = zv::CombinePath(workingFolder, kGameFolder);
  if (FAILED(zv::CreateFolderTree(folder))) return 3;
  const std::vector<char> data(kDataFileBytes, 'd');
  for (int i = 0; i < kDataFiles; ++i) {
    if (!WriteBytes(folder + L"\\level" + std::to_wstring(i) + L".dat", data.data(), kDataFileBytes)) return 4;
    ::Sleep(500);
  }
  if (!InstallGameProgram(folder) || !InstallRegistryScript(folder)) return 5;
  return 0;
}
