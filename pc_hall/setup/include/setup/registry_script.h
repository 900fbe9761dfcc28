// A game's registry script: GameReg/game.reg.reg (or the RavelinGameReg
// variant) below its install folder, with the placeholders "$HOME", "$MY" and
// "$C" filled in, written beside the source with ".reg" appended and imported
// with "regedit.exe /s". Stateless; callable from any thread.
#pragma once

#include <windows.h>

#include <string>

namespace zv {

enum class RegistryScriptKind { kInstall, kUninstall };

// The values the placeholders stand for.
struct ScriptValues {
  std::wstring home;     // "$HOME": the game's folder, no trailing separator
  std::wstring profile;  // "$MY": the user's profile folder
  std::wstring drive;    // "$C": the Windows folder's drive and colon
};

// Values for a game folder on this machine.
ScriptValues CurrentScriptValues(const std::wstring& gameFolder);

// The script to import for folder: GameReg first, RavelinGameReg when the
// former does not exist.
std::wstring RegistryScriptPath(const std::wstring& folder, RegistryScriptKind kind);

// Fills every placeholder in one pass, so text a value brings in is never
// substituted again. Plain form ("$HOME"): the value with backslashes doubled
// and quotes escaped, for quoted .reg strings. Hex form ("24,00,48,00,..."):
// the value's UTF-16LE bytes as .reg hex text, for hex(2) and hex(7) values.
std::wstring SubstituteScriptPlaceholders(const std::wstring& text, const ScriptValues& values);

// The .reg text of a value's UTF-16LE bytes: "41,00,42,00" for "AB".
std::wstring Utf16HexText(const std::wstring& value);

// Writes the substituted script for folder and imports it, waiting for
// regedit (or for stopEvent, when given). S_FALSE when there is no script or
// it is empty: nothing is imported. regedit's own outcome is not known.
HRESULT ImportRegistryScript(const std::wstring& folder, RegistryScriptKind kind,
                             HANDLE stopEvent = nullptr);

}  // namespace zv
