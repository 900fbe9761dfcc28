// Where the product's files live: the program folder (beside the running
// executable), the module folder, the user's application data, the product and
// configuration folders, and the store path from MD.cfg.
#pragma once

#include <windows.h>

#include <string>

namespace zv {

// Combines the running executable's full path with a name that starts with
// "..\", so the ".." cancels the executable's file name: "..\MD.cfg" names
// MD.cfg in the program folder.
std::wstring ProgramFilePath(const std::wstring& relative);
// The same rule applied to the full path of a module (DLL or EXE).
std::wstring ModuleFilePath(HMODULE module, const std::wstring& relative);
// The module that contains the calling code.
HMODULE CurrentModule();

std::wstring SettingsFilePath();                 // MD.cfg in the program folder
std::wstring GetSpecialFolder(int csidl);         // empty when the shell call fails
std::wstring AppDataFolder();                     // CSIDL_APPDATA
std::wstring ProductFolder();                     // <appdata>\Zorvanix\GameManager
std::wstring ConfigFolder();                      // <product folder>\Config

// [Setting] StorePath of MD.cfg without a trailing backslash; its folders are
// created when missing. An empty or missing value gives an empty path.
std::wstring ResolveStorePath();
// The web hall's variant: the store path + "\MyWebGame".
std::wstring ResolveWebGamePath();

// Creates every missing folder of path, the last one included. Works on
// wide paths, so names outside the ANSI code page are created too.
HRESULT CreateFolderTree(const std::wstring& path);

std::wstring RemoveTrailingBackslash(std::wstring path);
std::wstring CombinePath(const std::wstring& folder, const std::wstring& name);
bool PathExists(const std::wstring& path);
// An existing file, not a folder.
bool FileExists(const std::wstring& path);
// The path up to its last backslash; empty when it has none.
std::wstring FolderOf(const std::wstring& path);
// Reads a whole file into bytes; files larger than maxBytes are refused with
// ERROR_FILE_TOO_LARGE.
HRESULT ReadWholeFile(const std::wstring& path, size_t maxBytes, std::string* bytes);

bool IsVistaOrLater();

}  // namespace zv
