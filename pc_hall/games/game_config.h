// GameConfig: a game's config.ini held in memory. Load reads the whole file
// in one pass; reads are then answered from memory, and a write reaches the
// file only when its value differs from the one last read or written for its
// key, so a start that changes nothing writes nothing. Values changed in the
// file by someone else after Load are not seen until the next Load.
//
// Threading: none of its own; the game item's lock guards it.
#pragma once

#include <windows.h>

#include <string>

#include "common/settings.h"

namespace ostrelle {

class GameConfig {
 public:
  explicit GameConfig(std::wstring path = std::wstring()) : file_(std::move(path)) {}

  const std::wstring& path() const { return file_.path(); }

  // Forgets every value and reads the file again; a missing or unreadable
  // file reads as empty.
  void Load();

  // Empty when the key is absent.
  std::wstring ReadString(const wchar_t* section, const wchar_t* key) const;
  int ReadInt(const wchar_t* section, const wchar_t* key, int fallback) const;

  // Written through the Windows INI functions (a new file in UTF-16LE with a
  // byte-order mark, the game's folder created if it is missing) unless the
  // value is already the one known for the key.
  HRESULT WriteString(const wchar_t* section, const wchar_t* key, const std::wstring& value);
  HRESULT WriteInt(const wchar_t* section, const wchar_t* key, int value);  // "%d"

 private:
  HRESULT WriteToFile(const wchar_t* section, const wchar_t* key, const std::wstring& value) const;

  zv::IniFile file_;
  zv::IniContent known_;
};

}  // namespace ostrelle
