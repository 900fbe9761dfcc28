#include "game_config.h"

#include "common/hresult.h"
#include "common/locations.h"
#include "common/text.h"

namespace ostrelle {

void GameConfig::Load() {
  // A file that cannot be read leaves nothing known, so every write goes through.
  known_.Load(path());
}

std::wstring GameConfig::ReadString(const wchar_t* section, const wchar_t* key) const {
  return known_.ReadString(section, key);
}

int GameConfig::ReadInt(const wchar_t* section, const wchar_t* key, int fallback) const {
  return known_.ReadInt(section, key, fallback);
}

HRESULT GameConfig::WriteString(const wchar_t* section, const wchar_t* key, const std::wstring& value) {
  const std::wstring* known = known_.Find(section, key);
  if (known && *known == value) return S_OK;
  RETURN_IF_FAILED(WriteToFile(section, key, value));
  known_.Set(section, key, value);
  return S_OK;
}

HRESULT GameConfig::WriteInt(const wchar_t* section, const wchar_t* key, int value) {
  return WriteString(section, key, zv::Format(L"%d", value));
}

HRESULT GameConfig::WriteToFile(const wchar_t* section, const wchar_t* key, const std::wstring& value) const {
  const HRESULT hr = file_.WriteString(section, key, value);
  if (SUCCEEDED(hr)) return hr;
  // The game's folder is made on the first write that needs it, so a start
  // that finds it in place does not look for it.
  const size_t slash = path().find_last_of(L'\\');
  if (slash == std::wstring::npos || zv::PathExists(path().substr(0, slash))) return hr;
  RETURN_IF_FAILED(zv::CreateFolderTree(path().substr(0, slash)));
  return file_.WriteString(section, key, value);
}

}  // namespace ostrelle
