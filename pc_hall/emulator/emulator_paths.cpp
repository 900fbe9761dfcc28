#include "emulator/emulator_paths.h"

#include "common/text.h"

namespace zv {

std::wstring GetEmulatorProgram(const std::wstring& storePath, const EmulatorEntries& entries) {
  if (entries.name.empty() || entries.startFile.empty()) return std::wstring();
  return Format(L"%ls\\Emu\\%ls\\%ls", storePath.c_str(), entries.name.c_str(), entries.startFile.c_str());
}

std::wstring GetRomFolder(const std::wstring& storePath, const EmulatorEntries& entries) {
  if (entries.name.empty()) return std::wstring();
  return Format(L"%ls\\Emu\\%ls\\roms", storePath.c_str(), entries.name.c_str());
}

std::wstring EmulatorArchivePath(const std::wstring& storePath, const std::wstring& name) {
  return Format(L"%ls\\Download\\Emu\\%ls", storePath.c_str(), name.c_str());
}

std::wstring EmulatorUnpackFolder(const std::wstring& storePath) {
  return Format(L"%ls\\Emu\\", storePath.c_str());
}

bool PackageCommandLine(const std::wstring& packageName, std::wstring* commandLine) {
  if (packageName.size() > kMaxPackageNameLength) return false;
  const size_t dot = packageName.find_last_of(L'.');
  if (dot == std::wstring::npos) return false;
  const std::wstring extension = packageName.substr(dot);
  if (EqualsIgnoreCase(extension, L".zip")) {
    *commandLine = packageName.substr(0, dot) + L" -window";
    return true;
  }
  for (const wchar_t* image : {L".nes", L".fds", L".sfc", L".smc"}) {
    if (EqualsIgnoreCase(extension, image)) {
      *commandLine = L".\\roms\\" + packageName;
      return true;
    }
  }
  return false;
}

}  // namespace zv
