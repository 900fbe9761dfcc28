#include "game_paths.h"

#include "common/text.h"

namespace ostrelle {

std::wstring ConfigIniPath(const std::wstring& productFolder, const std::wstring& gameId) {
  return zv::Format(L"%ls\\%ls\\config.ini", productFolder.c_str(), gameId.c_str());
}

std::wstring GameXmlPath(const std::wstring& productFolder, const std::wstring& gameId) {
  return zv::Format(L"%ls\\%ls\\game.xml", productFolder.c_str(), gameId.c_str());
}

std::wstring PartFilePath(const std::wstring& storePath, const std::wstring& gameId,
                          const std::wstring& partName, size_t index) {
  return zv::Format(L"%ls\\Download\\%ls\\%ls.%ls", storePath.c_str(), gameId.c_str(), partName.c_str(),
                    index == 0 ? L"exe" : L"rar");
}

std::wstring DefaultSetupPath(const std::wstring& storePath, const std::wstring& gameId) {
  return zv::Format(L"%ls\\Download\\%ls\\%ls_0.exe", storePath.c_str(), gameId.c_str(), gameId.c_str());
}

std::wstring InstallFolder(const std::wstring& storePath, const std::wstring& gameId,
                          const std::wstring& gameName) {
  return GameFolder(storePath, IsSafeFileName(gameName) ? gameName : gameId);
}

std::wstring GameFolder(const std::wstring& storePath, const std::wstring& gameName) {
  return zv::Format(L"%ls\\Games\\%ls\\%ls\\", storePath.c_str(), gameName.c_str(), gameName.c_str());
}

std::wstring StartupPath(const std::wstring& base, const std::wstring& gameName,
                         const std::wstring& startFile) {
  if (!IsSafeFileName(gameName) || !IsSafeRelativePath(startFile)) return std::wstring();
  return zv::Format(L"%ls\\%ls\\%ls\\%ls", base.c_str(), gameName.c_str(), gameName.c_str(),
                    startFile.c_str());
}

bool IsSafeFileName(const std::wstring& name) {
  if (name.empty() || name == L"." || name == L"..") return false;
  for (wchar_t c : name) {
    if (c < 0x20 || wcschr(L"\\/:*?\"<>|", c)) return false;
  }
  return true;
}

bool IsSafeRelativePath(const std::wstring& path) {
  size_t start = 0;
  for (;;) {
    const size_t end = path.find_first_of(L"\\/", start);
    if (!IsSafeFileName(path.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start))) {
      return false;
    }
    if (end == std::wstring::npos) return true;
    start = end + 1;
  }
}

}  // namespace ostrelle
