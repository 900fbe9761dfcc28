// The fixed path formats of a game's files under the product folder and the
// store path. Names that come from a game's information file are checked
// before they become part of a path, so a hostile name cannot leave the
// folders below.
#pragma once

#include <string>

namespace ostrelle {

std::wstring ConfigIniPath(const std::wstring& productFolder, const std::wstring& gameId);
std::wstring GameXmlPath(const std::wstring& productFolder, const std::wstring& gameId);

// "<store>\Download\<id>\<part name>.exe" for the first part, ".rar" after it.
std::wstring PartFilePath(const std::wstring& storePath, const std::wstring& gameId,
                          const std::wstring& partName, size_t index);
// "<store>\Download\<id>\<id>_0.exe": where the setup program is expected.
std::wstring DefaultSetupPath(const std::wstring& storePath, const std::wstring& gameId);
// The folder handed to a setup run: where the setup installs the game,
// "<store>\Games\<name>\<name>\", so that the game's registry script is found
// there and "$HOME" names it. "<store>\Games\<id>\<id>\" when the name is not a
// plain folder name.
std::wstring InstallFolder(const std::wstring& storePath, const std::wstring& gameId,
                           const std::wstring& gameName);
// "<store>\Games\<name>\<name>\": the folder an uninstall clears.
std::wstring GameFolder(const std::wstring& storePath, const std::wstring& gameName);
// "<base>\<name>\<name>\<start file>"; base is "<store>\Games" or the folder a
// setup reported. Empty when the name or the start file is not safe.
std::wstring StartupPath(const std::wstring& base, const std::wstring& gameName,
                         const std::wstring& startFile);

// One path component: not empty, no separator, drive colon, wildcard or
// control character, and not "." or "..".
bool IsSafeFileName(const std::wstring& name);
// A relative path of safe components separated by backslashes or slashes.
bool IsSafeRelativePath(const std::wstring& path);

}  // namespace ostrelle
