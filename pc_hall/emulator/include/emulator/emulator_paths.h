// Where emulators, their archives and their ROM folders live under the store
// path, and how an emulator game's package is passed to its emulator. Pure
// functions.
#pragma once

#include <string>

namespace zv {

// The emulator entries of a game's information ("runFlat", "downloadUrl",
// "emuStartFile", "pkgName").
struct EmulatorEntries {
  std::wstring name;
  std::wstring downloadUrl;
  std::wstring startFile;
  std::wstring packageName;
};

// "<store>\Emu\<name>\<start file>"; empty when the name or start file is empty.
std::wstring GetEmulatorProgram(const std::wstring& storePath, const EmulatorEntries& entries);
// "<store>\Emu\<name>\roms"; empty when the name is empty.
std::wstring GetRomFolder(const std::wstring& storePath, const EmulatorEntries& entries);
// "<store>\Download\Emu\<name>": the downloaded archive, without extension.
std::wstring EmulatorArchivePath(const std::wstring& storePath, const std::wstring& name);
// "<store>\Emu\": where every emulator archive is unpacked.
std::wstring EmulatorUnpackFolder(const std::wstring& storePath);

// Package names longer than this do not fit the package name buffer.
constexpr size_t kMaxPackageNameLength = 259;

// The emulator's arguments for a package: "<name without extension> -window"
// for ".zip", ".\roms\<name>" for ".nes", ".fds", ".sfc" and ".smc" (any
// case). False for any other extension or an over-long name: the command
// line stays as it was.
bool PackageCommandLine(const std::wstring& packageName, std::wstring* commandLine);

}  // namespace zv
