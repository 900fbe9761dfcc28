// Removing a game's files from disk.
#pragma once

#include <string>

namespace ostrelle {

// Deletes the folder with everything in it; files that cannot be deleted
// stay, with their folders. False when the folder cannot be listed, and for
// paths of three characters or fewer, so a drive root is never cleared.
bool RemoveTree(const std::wstring& folder);

// The folder that holds an installed PC game's start program
// "<store>\Games\<name>\<name>\<start file>": "<store>\Games\<name>". Empty
// unless the path has that shape, so a start path read from a damaged
// config.ini never names a folder outside a Games folder.
std::wstring InstalledGameFolder(const std::wstring& startupPath);

}  // namespace ostrelle
